// Writing RTF: the exact bytes where the format matters, and write-then-read round trips.
#include <QFont>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

#include <gtest/gtest.h>

#include "RtfTestUtil.h"
#include "editor/Rtf.h"

using namespace rtftest;
using editor::ReadRtf;
using editor::WriteRtf;

namespace {

const QByteArray kHeader =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fnil\\fcharset0 Arial;}}\n"
    "\\viewkind4\\uc1\n";

void UseArial12(QTextDocument& doc)
{
    doc.setDefaultFont(QFont(QStringLiteral("Arial"), 12));
}

QTextCharFormat Bold()
{
    QTextCharFormat f;
    f.setFontWeight(QFont::Bold);
    return f;
}

TEST(RtfWrite, PlainDocumentExactly)
{
    QTextDocument doc;
    UseArial12(doc);
    doc.setPlainText(QStringLiteral("Hello"));
    EXPECT_EQ(WriteRtf(doc), kHeader + "\\pard\\f0\\fs24 Hello\\par\n}\n");

    QTextDocument empty;
    UseArial12(empty);
    EXPECT_EQ(WriteRtf(empty), kHeader + "\\pard\\f0\\fs24\\par\n}\n");

    doc.setPlainText(QStringLiteral("one\n\ntwo"));
    EXPECT_EQ(WriteRtf(doc),
              kHeader + "\\pard\\f0\\fs24 one\\par\n\\pard\\par\n\\pard two\\par\n}\n");
}

TEST(RtfWrite, EscapesExactly)
{
    QTextDocument doc;
    UseArial12(doc);
    QTextCursor(&doc).insertText(
        QStringLiteral("a\\b{c}\u00E9\u20AC\u0436\U0001F600\tx\u2028y\u00A0;\u00FF\uFFFF"));
    EXPECT_EQ(WriteRtf(doc), kHeader +
                                 "\\pard\\f0\\fs24 a\\\\b\\{c\\}\\'e9\\'80\\u1078?"
                                 "\\u-10179?\\u-8704?\\tab x\\line y\\~;\\'ff\\u-1?\\par\n}\n");
}

TEST(RtfWrite, FormattingExactly)
{
    QTextDocument doc;
    UseArial12(doc);
    QTextCursor c(&doc);
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    c.setBlockFormat(centred);
    c.insertText(QStringLiteral("plain "));
    c.insertText(QStringLiteral("bold"), Bold());
    QTextCharFormat red;
    red.setForeground(QColor(255, 0, 0));
    c.insertText(QStringLiteral(" red"), red);
    QTextBlockFormat indented;
    indented.setLeftMargin(20);
    indented.setRightMargin(10);
    indented.setTextIndent(-4);
    indented.setAlignment(Qt::AlignRight);
    QTextCharFormat big;
    big.setFontFamilies({QStringLiteral("Courier New")});
    big.setFontPointSize(20);
    big.setFontItalic(true);
    big.setFontUnderline(true);
    c.insertBlock(indented);
    c.insertText(QStringLiteral("big"), big);
    EXPECT_EQ(WriteRtf(doc),
              "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fnil\\fcharset0 Arial;}"
              "{\\f1\\fnil\\fcharset0 Courier New;}}\n"
              "{\\colortbl ;\\red255\\green0\\blue0;}\n"
              "\\viewkind4\\uc1\n"
              "\\pard\\qc\\f0\\fs24 plain \\b bold\\b0\\cf1  red\\par\n"
              "\\pard\\qr\\fi-60\\li300\\ri150\\f1\\fs40\\i\\ul\\cf0 big\\par\n"
              "}\n");
}

TEST(RtfWrite, FontNamesAreEscaped)
{
    QTextDocument doc;
    UseArial12(doc);
    QTextCharFormat f;
    const QString odd = QStringLiteral("Odd;{Font}\\\u00E9\u0436");
    f.setFontFamilies({odd});
    QTextCursor(&doc).insertText(QStringLiteral("x"), f);
    const QByteArray rtf = WriteRtf(doc);
    EXPECT_TRUE(rtf.contains("{\\f1\\fnil\\fcharset0 Odd\\'3b\\{Font\\}\\\\\\'e9\\u1078?;}"))
        << rtf.toStdString();
    QTextDocument back;
    Load(rtf, back);
    EXPECT_EQ(Family(FormatOf(back, "x")), odd);
}

TEST(RtfWrite, BulletsInBothForms)
{
    QTextDocument doc;
    UseArial12(doc);
    QTextCursor c(&doc);
    c.insertText(QStringLiteral("one"));
    QTextListFormat lf;
    lf.setStyle(QTextListFormat::ListDisc);
    c.createList(lf);
    c.insertBlock();
    c.insertText(QStringLiteral("two"));
    const QByteArray rtf = WriteRtf(doc);
    const QByteArray item =
        "\\pard{\\pntext\\plain\\f0\\fs24\\'95\\tab}{\\*\\pn\\pnlvlblt\\pnf0\\pnindent360"
        "{\\pntxtb\\'95}}\\ls1\\ilvl0\\fi-360\\li600";
    EXPECT_TRUE(rtf.contains(item + "\\f0\\fs24 one\\par\n" + item + " two\\par\n"))
        << rtf.toStdString();
    EXPECT_TRUE(
        rtf.contains("{\\*\\listtable\n{\\list\\listtemplateid1\\listhybrid{\\listlevel"
                     "\\levelnfc23\\levelnfcn23\\leveljc0\\leveljcn0\\levelfollow0"
                     "\\levelstartat1{\\leveltext\\'01\\'95;}{\\levelnumbers;}\\fi-360"
                     "\\li720\\lin720}"));
    EXPECT_TRUE(
        rtf.contains("\\listid1}\n}\n{\\*\\listoverridetable{\\listoverride\\listid1"
                     "\\listoverridecount0\\ls1}}\n"));
    EXPECT_EQ(rtf.count("{\\listlevel"), 9);
    // No colour table without colours.
    EXPECT_FALSE(rtf.contains("colortbl"));
}

TEST(RtfWrite, NumberedListLabels)
{
    QTextDocument doc;
    UseArial12(doc);
    QTextCursor c(&doc);
    QTextListFormat lf;
    lf.setStyle(QTextListFormat::ListLowerRoman);
    c.createList(lf);
    for (int i = 0; i < 4; ++i) {
        if (i) c.insertBlock();
        c.insertText(QStringLiteral("item"));
    }
    c.insertBlock(QTextBlockFormat());  // leaves the list
    c.insertText(QStringLiteral("after"));
    lf.setStyle(QTextListFormat::ListUpperAlpha);
    c.insertBlock(QTextBlockFormat());
    c.createList(lf);
    c.insertText(QStringLiteral("alpha"));
    const QByteArray rtf = WriteRtf(doc);
    for (const char* label : {" i.", " ii.", " iii.", " iv.", " A."}) {
        EXPECT_TRUE(rtf.contains(QByteArray("{\\pntext\\plain\\f0\\fs24") + label + "\\tab}"))
            << label;
    }
    EXPECT_TRUE(
        rtf.contains("{\\*\\pn\\pnlvlbody\\pnf0\\pnindent360\\pnstart1\\pnlcrm{\\pntxta.}}"
                     "\\ls1\\ilvl0"));
    EXPECT_TRUE(rtf.contains("\\pnucltr{\\pntxta.}}\\ls2\\ilvl0"));
    EXPECT_TRUE(rtf.contains("{\\leveltext\\'02\\'00.;}{\\levelnumbers\\'01;}"));
    EXPECT_TRUE(rtf.contains("\\par\n\\pard after\\par"));
}

// Effective character properties at a position, resolved against the document's default font.
struct Look {
    QString family;
    double points;
    bool bold, italic, underline;
    QColor color;
    bool operator==(const Look&) const = default;
};

Look LookAt(const QTextDocument& doc, const QTextCharFormat& f)
{
    const QFont font = f.font().resolve(doc.defaultFont());
    return {font.family(),
            font.pointSizeF(),
            font.bold(),
            font.italic(),
            f.fontUnderline(),
            f.foreground().style() == Qt::NoBrush ? QColor() : f.foreground().color()};
}

std::ostream& operator<<(std::ostream& os, const Look& l)
{
    return os << l.family.toStdString() << " " << l.points << "pt b" << l.bold << " i" << l.italic
              << " u" << l.underline << " " << l.color.name().toStdString();
}

void ExpectSameDocument(const QTextDocument& a, const QTextDocument& b)
{
    ASSERT_EQ(a.blockCount(), b.blockCount());
    for (QTextBlock x = a.begin(), y = b.begin(); x.isValid(); x = x.next(), y = y.next()) {
        SCOPED_TRACE("block " + std::to_string(x.blockNumber()));
        EXPECT_EQ(x.text(), y.text());
        const Qt::Alignment ax = x.blockFormat().alignment() & Qt::AlignHorizontal_Mask;
        EXPECT_EQ(ax ? ax : Qt::AlignLeft, y.blockFormat().alignment());
        EXPECT_DOUBLE_EQ(x.blockFormat().leftMargin(), y.blockFormat().leftMargin());
        EXPECT_DOUBLE_EQ(x.blockFormat().rightMargin(), y.blockFormat().rightMargin());
        EXPECT_DOUBLE_EQ(x.blockFormat().topMargin(), y.blockFormat().topMargin());
        EXPECT_DOUBLE_EQ(x.blockFormat().bottomMargin(), y.blockFormat().bottomMargin());
        ASSERT_EQ(x.textList() != nullptr, y.textList() != nullptr);
        if (x.textList()) {
            EXPECT_EQ(x.textList()->format().style(), y.textList()->format().style());
            EXPECT_EQ(x.textList()->format().indent(), y.textList()->format().indent());
        } else {
            EXPECT_DOUBLE_EQ(x.blockFormat().textIndent(), y.blockFormat().textIndent());
        }
        if (x.text().isEmpty()) {
            EXPECT_EQ(LookAt(a, x.charFormat()), LookAt(b, y.charFormat()));
        }
        // Every character, through the fragments of the first document.
        for (auto it = x.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            for (int i = 0; i < f.length(); ++i) {
                QTextCursor cb(const_cast<QTextDocument*>(&b));
                cb.setPosition(f.position() + i + 1);
                EXPECT_EQ(LookAt(a, f.charFormat()), LookAt(b, cb.charFormat()))
                    << "at " << f.position() + i;
            }
        }
    }
}

// A document with every kind of formatting the editor offers.
void BuildRichDocument(QTextDocument& doc)
{
    UseArial12(doc);
    QTextCursor c(&doc);
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    c.setBlockFormat(centred);
    QTextCharFormat title;
    title.setFontFamilies({QStringLiteral("DejaVu Serif")});
    title.setFontPointSize(20);
    title.setFontWeight(QFont::Bold);
    c.insertText(QStringLiteral("Title"), title);

    c.insertBlock(QTextBlockFormat(), QTextCharFormat());
    c.insertText(QStringLiteral("normal "));
    c.insertText(QStringLiteral("bold"), Bold());
    c.insertText(QStringLiteral(" "));
    QTextCharFormat italic;
    italic.setFontItalic(true);
    c.insertText(QStringLiteral("italic"), italic);
    QTextCharFormat under;
    under.setFontUnderline(true);
    c.insertText(QStringLiteral(" under"), under);
    QTextCharFormat colour;
    colour.setForeground(QColor(0x12, 0x34, 0x56));
    c.insertText(QStringLiteral(" colour"), colour);
    QTextCharFormat small;
    small.setFontPointSize(8.5);
    c.insertText(QStringLiteral(" small"), small);
    QTextCharFormat mono;
    mono.setFontFamilies({QStringLiteral("Courier New")});
    mono.setFontWeight(QFont::Bold);
    mono.setFontItalic(true);
    c.insertText(QStringLiteral(" mono"), mono);

    QTextCharFormat bigEmpty;
    bigEmpty.setFontPointSize(18);
    c.insertBlock(QTextBlockFormat(), bigEmpty);  // an empty paragraph keeps its size

    QTextListFormat bullets;
    bullets.setStyle(QTextListFormat::ListDisc);
    c.insertBlock(QTextBlockFormat(), QTextCharFormat());
    c.createList(bullets);
    c.insertText(QStringLiteral("first bullet"));
    c.insertBlock();
    c.insertText(QStringLiteral("second bullet"));
    QTextBlockFormat nested;
    nested.setLeftMargin(6);
    c.insertBlock(nested);
    bullets.setIndent(2);
    c.createList(bullets);
    c.insertText(QStringLiteral("nested bullet"));

    QTextListFormat numbers;
    numbers.setStyle(QTextListFormat::ListDecimal);
    c.insertBlock(QTextBlockFormat());
    c.createList(numbers);
    c.insertText(QStringLiteral("numbered"));

    QTextBlockFormat right;
    right.setAlignment(Qt::AlignRight);
    c.insertBlock(right);
    c.insertText(
        QStringLiteral("\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC "
                       "\u0440\u0443\u0441\u0441\u043A\u0438\u0439 \u65E5\u672C\u8A9E "
                       "\u05E2\u05D1\u05E8\u05D9\u05EA \U0001F600 \u20AC\u00E9"));

    QTextBlockFormat justified;
    justified.setAlignment(Qt::AlignJustify);
    justified.setLeftMargin(48);
    justified.setRightMargin(24);
    justified.setTextIndent(-12);
    justified.setTopMargin(4);
    justified.setBottomMargin(8);
    c.insertBlock(justified);
    c.insertText(QStringLiteral("tab\there\u2028next line {braces} \\ back"));

    c.insertBlock(QTextBlockFormat());  // an empty last paragraph
}

TEST(RtfRoundTrip, KeepsTextAndFormatting)
{
    QTextDocument doc;
    BuildRichDocument(doc);
    const QByteArray rtf = WriteRtf(doc);
    QTextDocument back;
    back.setDefaultFont(doc.defaultFont());
    Load(rtf, back);
    ExpectSameDocument(doc, back);
    // Writing what was read gives the same bytes again.
    EXPECT_EQ(WriteRtf(back), rtf);
}

TEST(RtfRoundTrip, KeepsFormattingUnderAnotherDefaultFont)
{
    // The reader gives every character its font explicitly, so the text looks the same in an
    // editor whose default font differs.
    QTextDocument doc;
    BuildRichDocument(doc);
    QTextDocument back;
    back.setDefaultFont(QFont(QStringLiteral("Courier New"), 7));
    Load(WriteRtf(doc), back);
    for (QTextBlock x = doc.begin(), y = back.begin(); x.isValid(); x = x.next(), y = y.next()) {
        for (auto it = x.begin(); !it.atEnd(); ++it) {
            QTextCursor cb(&back);
            cb.setPosition(it.fragment().position() + 1);
            EXPECT_EQ(LookAt(doc, it.fragment().charFormat()), LookAt(back, cb.charFormat()));
        }
    }
}

TEST(RtfRoundTrip, EveryCharacter)
{
    QString text;
    for (char32_t c = 0x20; c < 0x30000; c += (c < 0x3000 ? 1 : 97)) {
        if ((c >= 0xD800 && c <= 0xDFFF) || c == 0xFDD0 || c == 0xFDD1 ||
            c == QChar::ObjectReplacementCharacter || c == QChar::ParagraphSeparator) {
            continue;
        }
        text += QString::fromUcs4(&c, 1);
    }
    QTextDocument doc;
    UseArial12(doc);
    QTextCursor(&doc).insertText(text);
    ASSERT_EQ(doc.blockCount(), 1);
    QTextDocument back;
    Load(WriteRtf(doc), back);
    ASSERT_EQ(back.blockCount(), 1);
    EXPECT_EQ(back.begin().text(), doc.begin().text());
}

TEST(RtfRoundTrip, ListStyles)
{
    // Numbering styles survive; circles and squares come back as discs.
    const QTextListFormat::Style in[] = {
        QTextListFormat::ListDisc,       QTextListFormat::ListCircle,
        QTextListFormat::ListSquare,     QTextListFormat::ListDecimal,
        QTextListFormat::ListLowerAlpha, QTextListFormat::ListUpperAlpha,
        QTextListFormat::ListLowerRoman, QTextListFormat::ListUpperRoman};
    const QTextListFormat::Style out[] = {
        QTextListFormat::ListDisc,       QTextListFormat::ListDisc,
        QTextListFormat::ListDisc,       QTextListFormat::ListDecimal,
        QTextListFormat::ListLowerAlpha, QTextListFormat::ListUpperAlpha,
        QTextListFormat::ListLowerRoman, QTextListFormat::ListUpperRoman};
    QTextDocument doc;
    UseArial12(doc);
    QTextCursor c(&doc);
    for (size_t i = 0; i < std::size(in); ++i) {
        if (i) c.insertBlock(QTextBlockFormat());
        QTextListFormat lf;
        lf.setStyle(in[i]);
        lf.setIndent(1 + int(i % 3));
        c.createList(lf);
        c.insertText(QStringLiteral("item"));
    }
    QTextDocument back;
    Load(WriteRtf(doc), back);
    ASSERT_EQ(back.blockCount(), int(std::size(in)));
    for (size_t i = 0; i < std::size(in); ++i) {
        const QTextList* list = BlockAt(back, int(i)).textList();
        ASSERT_NE(list, nullptr) << i;
        EXPECT_EQ(list->format().style(), out[i]) << i;
        EXPECT_EQ(list->format().indent(), 1 + int(i % 3)) << i;
    }
}

}  // namespace
