// Small files in the style that common word processors write load with the right text and
// formatting.
#include <QTextDocument>
#include <QTextList>

#include <gtest/gtest.h>

#include "RtfTestUtil.h"
#include "editor/Rtf.h"

using namespace rtftest;

namespace {

using Texts = std::vector<QString>;

TEST(RtfSamples, WordPadStyle)
{
    // RichEdit: \pntext/\pn bullets with a Symbol font, \uN? escapes, CR LF lines, a NUL at the
    // end.
    QTextDocument doc;
    Load(SampleFile("wordpad.rtf"), doc);
    EXPECT_EQ(Blocks(doc),
              (Texts{QStringLiteral("Shopping list"),
                     QStringLiteral("Caf\u00E9 na\u00EFve red and blue italic text."),
                     QStringLiteral("Apples"), QStringLiteral("Pears"), QStringLiteral("Plums"),
                     QStringLiteral("\u0416\u0435\u043B\u0442\u044B\u0439 yellow "
                                    "\u20AC 5"),
                     QStringLiteral("Tabs\tand\u2028breaks")}));
    const QTextCharFormat title = FormatOf(doc, "Shopping");
    EXPECT_EQ(Family(title), "Calibri");
    EXPECT_EQ(title.fontPointSize(), 16.0);
    EXPECT_TRUE(title.font().bold());
    EXPECT_EQ(BlockAt(doc, 0).blockFormat().alignment(), Qt::AlignHCenter);
    EXPECT_NEAR(BlockAt(doc, 0).blockFormat().bottomMargin(), 200 / 15.0, 1e-9);

    EXPECT_FALSE(FormatOf(doc, "Caf").font().bold());
    EXPECT_EQ(FormatOf(doc, "Caf").fontPointSize(), 11.0);
    EXPECT_EQ(FormatOf(doc, "red").foreground().color(), QColor(255, 0, 0));
    EXPECT_EQ(FormatOf(doc, "and").foreground().style(), Qt::NoBrush);
    EXPECT_EQ(FormatOf(doc, "blue").foreground().color(), QColor(0, 77, 187));
    EXPECT_TRUE(FormatOf(doc, "blue").fontItalic());
    EXPECT_FALSE(FormatOf(doc, "text.").fontItalic());

    QTextList* list = BlockAt(doc, 2).textList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->format().style(), QTextListFormat::ListDisc);
    EXPECT_EQ(BlockAt(doc, 3).textList(), list);
    EXPECT_EQ(BlockAt(doc, 4).textList(), list);
    EXPECT_TRUE(FormatOf(doc, "Pears").fontUnderline());
    EXPECT_EQ(Family(FormatOf(doc, "Plums")), "Arial");
    EXPECT_EQ(FormatOf(doc, "Plums").fontPointSize(), 14.0);
    EXPECT_EQ(BlockAt(doc, 5).textList(), nullptr);
    EXPECT_EQ(BlockAt(doc, 5).blockFormat().alignment(), Qt::AlignRight);
    EXPECT_EQ(BlockAt(doc, 6).blockFormat().alignment(), Qt::AlignLeft);
}

TEST(RtfSamples, WordStyle)
{
    // Word: a long header (panose, falt, style sheet, list tables, rsid and info groups, theme
    // data), a page header, a hyperlink field, \listtext bullets, \'hh fallbacks after \uN,
    // pictures as hex data.
    QTextDocument doc;
    Load(SampleFile("word.rtf"), doc);
    EXPECT_EQ(Blocks(doc),
              (Texts{QStringLiteral("Quarterly report"),
                     QStringLiteral("Sales rose by 5\u00A0% in the r\u00E9sum\u00E9 period (see "
                                    "below)."),
                     QStringLiteral("Example link"), QStringLiteral("North region"),
                     QStringLiteral("Sub-region \u2013 coastal"), QStringLiteral("First step"),
                     QStringLiteral("Chart: end.")}));
    const QTextCharFormat title = FormatOf(doc, "Quarterly");
    EXPECT_EQ(Family(title), "Calibri");
    EXPECT_EQ(title.fontPointSize(), 18.0);
    EXPECT_TRUE(title.font().bold());
    EXPECT_EQ(BlockAt(doc, 0).blockFormat().alignment(), Qt::AlignHCenter);
    EXPECT_EQ(BlockAt(doc, 1).blockFormat().alignment(), Qt::AlignLeft);
    EXPECT_FALSE(FormatOf(doc, "Sales").font().bold());
    EXPECT_EQ(FormatOf(doc, "Sales").fontPointSize(), 11.0);
    EXPECT_TRUE(FormatOf(doc, "(see").fontItalic());
    EXPECT_EQ(FormatOf(doc, "(see").foreground().color(), QColor(255, 0, 0));
    EXPECT_TRUE(FormatOf(doc, "Example").fontUnderline());
    EXPECT_EQ(FormatOf(doc, "Example").foreground().color(), QColor(0, 0, 255));

    QTextList* bullets = BlockAt(doc, 3).textList();
    ASSERT_NE(bullets, nullptr);
    EXPECT_EQ(bullets->format().style(), QTextListFormat::ListDisc);
    EXPECT_EQ(bullets->format().indent(), 1);
    QTextList* sub = BlockAt(doc, 4).textList();
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->format().style(), QTextListFormat::ListDisc);
    EXPECT_EQ(sub->format().indent(), 2);
    QTextList* numbered = BlockAt(doc, 5).textList();
    ASSERT_NE(numbered, nullptr);
    EXPECT_EQ(numbered->format().style(), QTextListFormat::ListDecimal);
    EXPECT_EQ(BlockAt(doc, 6).textList(), nullptr);
    EXPECT_EQ(Family(FormatOf(doc, "Chart")), "Courier New");
}

TEST(RtfSamples, LibreOfficeStyle)
{
    QTextDocument doc;
    Load(SampleFile("libreoffice.rtf"), doc);
    EXPECT_EQ(Blocks(doc),
              (Texts{QStringLiteral("Notes from the meeting"),
                     QStringLiteral("We agreed on the plan and the budget."),
                     QStringLiteral("Blue justified text, highlighted, struck and H2O."),
                     QStringLiteral(""), QStringLiteral("\u4E2D\u6587 \u2014 signed")}));
    const QTextCharFormat heading = FormatOf(doc, "Notes");
    EXPECT_EQ(Family(heading), "Liberation Sans");
    EXPECT_EQ(heading.fontPointSize(), 14.0);
    EXPECT_DOUBLE_EQ(BlockAt(doc, 0).blockFormat().topMargin(), 16.0);
    EXPECT_DOUBLE_EQ(BlockAt(doc, 0).blockFormat().bottomMargin(), 8.0);
    EXPECT_EQ(Family(FormatOf(doc, "We")), "Liberation Serif");
    EXPECT_TRUE(FormatOf(doc, "plan").font().bold());
    EXPECT_FALSE(FormatOf(doc, "and the").font().bold());
    EXPECT_TRUE(FormatOf(doc, "budget").fontItalic());
    EXPECT_TRUE(FormatOf(doc, "budget").fontUnderline());
    EXPECT_EQ(BlockAt(doc, 2).blockFormat().alignment(), Qt::AlignJustify);
    EXPECT_EQ(FormatOf(doc, "Blue").foreground().color(), QColor(0, 0, 255));
    EXPECT_EQ(FormatOf(doc, "highlighted").background().color(), QColor(197, 224, 180));
    EXPECT_TRUE(FormatOf(doc, "struck").fontStrikeOut());
    EXPECT_EQ(FormatOf(doc, "2O").verticalAlignment(), QTextCharFormat::AlignSubScript);
    EXPECT_EQ(BlockAt(doc, 4).blockFormat().alignment(), Qt::AlignRight);
    EXPECT_EQ(Family(FormatOf(doc, QStringLiteral("\u4E2D"))), "Noto Sans CJK SC");
}

TEST(RtfSamples, FontCharsets)
{
    // \ansicpg1251 with fonts of several \fcharset values, single- and double-byte.
    QTextDocument doc;
    Load(SampleFile("charsets.rtf"), doc);
    EXPECT_EQ(Blocks(doc),
              (Texts{QStringLiteral("\u041F\u0440\u0438\u0432\u0435\u0442, \u043C\u0438\u0440!"),
                     QStringLiteral("\u0393\u03B5\u03B9\u03B1 \u03C3\u03BF\u03C5"),
                     QStringLiteral("\u65E5\u672C\u8A9E"), QStringLiteral("\u0160r\u0105\u0107"),
                     QStringLiteral("Fran\u00E7ais"), QStringLiteral("\u05E9\u05DC\u05D5\u05DD"),
                     QStringLiteral("\u0430\u0431\u0432")}));
    EXPECT_EQ(Family(FormatOf(doc, QStringLiteral("\u041F"))), "Arial CYR");
    EXPECT_EQ(FormatOf(doc, QStringLiteral("\u041F")).fontPointSize(), 10.0);
    EXPECT_EQ(Family(FormatOf(doc, QStringLiteral("\u65E5"))), "MS Mincho");
}

TEST(RtfSamples, SurviveARoundTrip)
{
    // What the reader makes of each sample, written and read again, is the same document.
    for (const char* name : {"wordpad.rtf", "word.rtf", "libreoffice.rtf", "charsets.rtf"}) {
        SCOPED_TRACE(name);
        QTextDocument doc;
        Load(SampleFile(name), doc);
        const QByteArray rtf = editor::WriteRtf(doc);
        QTextDocument back;
        back.setDefaultFont(doc.defaultFont());
        Load(rtf, back);
        EXPECT_EQ(Blocks(back), Blocks(doc));
        EXPECT_EQ(editor::WriteRtf(back), rtf);
    }
}

}  // namespace
