// Reading RTF: text, formatting, code pages, Unicode, skipped destinations, lists, bad input.
#include <QTextDocument>
#include <QTextList>

#include <gtest/gtest.h>

#include "RtfTestUtil.h"
#include "editor/Rtf.h"

using namespace rtftest;
using editor::IsRtf;
using editor::ReadRtf;

namespace {

using Texts = std::vector<QString>;

TEST(RtfRead, NonRtfIsRefusedAndTheDocumentIsKept)
{
    for (const QByteArray& data : {QByteArray(), QByteArray("hello"), QByteArray("{\\rt"),
                                   QByteArray(" {\\rtf1 x}"), QByteArray("\xEF\xBB\xBF{\\rtf1 x}"),
                                   QByteArray("{\\RTF1 x}"), QByteArray("\0{\\rtf", 6)}) {
        QTextDocument doc;
        doc.setPlainText(QStringLiteral("keep me"));
        QString error;
        EXPECT_FALSE(IsRtf(data));
        EXPECT_FALSE(ReadRtf(data, doc, &error)) << data.toStdString();
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(doc.toPlainText(), QStringLiteral("keep me"));
        EXPECT_FALSE(ReadRtf(data, doc));  // without an error string
    }
    EXPECT_TRUE(IsRtf("{\\rtf"));
    EXPECT_TRUE(IsRtf("{\\rtf1\\ansi}"));
}

TEST(RtfRead, ParagraphsAndTheFinalParagraphMark)
{
    QTextDocument doc;
    Load("{\\rtf1\\ansi Hello\\par World\\par}", doc);
    EXPECT_EQ(Blocks(doc), (Texts{"Hello", "World"}));  // the last \par ends the last paragraph

    Load("{\\rtf1 a\\par\\par\\par b}", doc);
    EXPECT_EQ(Blocks(doc), (Texts{"a", "", "", "b"}));

    Load("{\\rtf1 \\par}", doc);
    EXPECT_EQ(Blocks(doc), (Texts{""}));

    Load("{\\rtf1}", doc);
    EXPECT_EQ(Blocks(doc), (Texts{""}));

    // Line breaks in the file are not text; "\" before a line break is a paragraph mark.
    Load("{\\rtf1 one\r\ntwo\\\nthree}", doc);
    EXPECT_EQ(Blocks(doc), (Texts{"onetwo", "three"}));

    // \line and \tab stay inside the paragraph; literal tabs too.
    Load("{\\rtf1 a\\line b\\tab c\td}", doc);
    EXPECT_EQ(Blocks(doc), (Texts{QStringLiteral("a\u2028b\tc\td")}));

    // Text after the document's group is not part of it.
    Load("{\\rtf1 in}out{more}", doc);
    EXPECT_EQ(Blocks(doc), (Texts{"in"}));
}

TEST(RtfRead, ControlWordDelimitersAndEscapes)
{
    QTextDocument doc;
    // One space after a control word belongs to it; the next one is text.
    Load("{\\rtf1 \\b  x\\b0\\i\\i0 y\\\\z\\{w\\}-\\~\\-\\_\\emdash\\endash\\bullet}", doc);
    EXPECT_EQ(Blocks(doc),
              (Texts{QStringLiteral(" xy\\z{w}-\u00A0\u00AD\u2011\u2014\u2013\u2022")}));
    // Parameters end at the first non-digit; a '-' without digits is text.
    Load("{\\rtf1 \\fs20x\\f-y}", doc);
    EXPECT_EQ(Blocks(doc), (Texts{"x-y"}));
}

TEST(RtfRead, CharacterFormatting)
{
    QTextDocument doc;
    Load(
        "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\froman\\fcharset0 Times New Roman;}"
        "{\\f1\\fswiss\\fcharset0 Arial;}}"
        "{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green128\\blue255;}"
        "\\pard plain {\\b bold}{\\i italic}{\\ul under}\\ul on\\ulnone off "
        "{\\uldb double}\\f1\\fs36 big{\\cf1 red}{\\cf2 blue}\\cf9 none\\plain reset"
        "{\\strike gone}{\\super up}{\\b1 strong}{\\cb2 shade}}",
        doc);
    const QTextCharFormat plain = FormatOf(doc, "plain");
    EXPECT_EQ(Family(plain), "Times New Roman");  // \deff0
    EXPECT_EQ(plain.fontPointSize(), 12.0);       // RTF's default size
    EXPECT_FALSE(plain.font().bold());
    EXPECT_TRUE(FormatOf(doc, "bold").font().bold());
    EXPECT_FALSE(FormatOf(doc, "italic").font().bold());  // the group ended
    EXPECT_TRUE(FormatOf(doc, "italic").fontItalic());
    EXPECT_TRUE(FormatOf(doc, "under").fontUnderline());
    EXPECT_TRUE(FormatOf(doc, "on").fontUnderline());
    EXPECT_FALSE(FormatOf(doc, "off").fontUnderline());
    EXPECT_TRUE(FormatOf(doc, "double").fontUnderline());
    const QTextCharFormat big = FormatOf(doc, "big");
    EXPECT_EQ(Family(big), "Arial");
    EXPECT_EQ(big.fontPointSize(), 18.0);
    EXPECT_EQ(FormatOf(doc, "red").foreground().color(), QColor(255, 0, 0));
    EXPECT_EQ(FormatOf(doc, "blue").foreground().color(), QColor(0, 128, 255));
    EXPECT_EQ(FormatOf(doc, "none").foreground().style(), Qt::NoBrush);  // no colour 9
    const QTextCharFormat reset = FormatOf(doc, "reset");
    EXPECT_EQ(Family(reset), "Times New Roman");
    EXPECT_EQ(reset.fontPointSize(), 12.0);
    EXPECT_TRUE(FormatOf(doc, "gone").fontStrikeOut());
    EXPECT_EQ(FormatOf(doc, "up").verticalAlignment(), QTextCharFormat::AlignSuperScript);
    EXPECT_TRUE(FormatOf(doc, "strong").font().bold());
    EXPECT_EQ(FormatOf(doc, "shade").background().color(), QColor(0, 128, 255));
}

TEST(RtfRead, HiddenTextIsNotShown)
{
    QTextDocument doc;
    Load("{\\rtf1 shown{\\v hidden}again}", doc);
    EXPECT_EQ(doc.toPlainText(), "shownagain");
}

TEST(RtfRead, ParagraphFormatting)
{
    QTextDocument doc;
    Load(
        "{\\rtf1 \\pard\\qc centre\\par \\qr right\\par \\qj just\\par \\pard left\\par"
        "\\li1440\\ri720\\fi-360\\sb150\\sa300 indented\\par \\pard\\fi720 first\\par"
        "{\\pard\\qc inner\\par}after\\par}",
        doc);
    EXPECT_EQ(BlockAt(doc, 0).blockFormat().alignment(), Qt::AlignHCenter);
    EXPECT_EQ(BlockAt(doc, 1).blockFormat().alignment(), Qt::AlignRight);  // kept without \pard
    EXPECT_EQ(BlockAt(doc, 2).blockFormat().alignment(), Qt::AlignJustify);
    EXPECT_EQ(BlockAt(doc, 3).blockFormat().alignment(), Qt::AlignLeft);
    const QTextBlockFormat ind = BlockAt(doc, 4).blockFormat();
    EXPECT_DOUBLE_EQ(ind.leftMargin(), 96.0);  // 1440 twips, one inch
    EXPECT_DOUBLE_EQ(ind.rightMargin(), 48.0);
    EXPECT_DOUBLE_EQ(ind.textIndent(), -24.0);
    EXPECT_DOUBLE_EQ(ind.topMargin(), 10.0);
    EXPECT_DOUBLE_EQ(ind.bottomMargin(), 20.0);
    EXPECT_DOUBLE_EQ(BlockAt(doc, 5).blockFormat().textIndent(), 48.0);
    EXPECT_DOUBLE_EQ(BlockAt(doc, 5).blockFormat().leftMargin(), 0.0);
    EXPECT_EQ(BlockAt(doc, 6).blockFormat().alignment(), Qt::AlignHCenter);
    // Paragraph properties are group state: after the group the outer ones apply again.
    EXPECT_EQ(BlockAt(doc, 7).text(), "after");
    EXPECT_EQ(BlockAt(doc, 7).blockFormat().alignment(), Qt::AlignLeft);
    EXPECT_DOUBLE_EQ(BlockAt(doc, 7).blockFormat().textIndent(), 48.0);

    // A hanging indent never reaches left of the page; huge indents are clamped.
    Load("{\\rtf1 \\fi-2000 x\\par\\li99999999 y\\par}", doc);
    EXPECT_DOUBLE_EQ(BlockAt(doc, 0).blockFormat().textIndent(), 0.0);
    EXPECT_LE(BlockAt(doc, 1).blockFormat().leftMargin(), 22 * 96.0);
}

TEST(RtfRead, CodePages)
{
    QTextDocument doc;
    Load("{\\rtf1\\ansi\\ansicpg1252 caf\\'e9 \\'80\\'93\\'9f \\'E9}", doc);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("caf\u00E9 \u20AC\u201C\u0178 \u00E9"));

    // The document's code page, and a font's \fcharset overriding it.
    Load(
        "{\\rtf1\\ansi\\ansicpg1251{\\fonttbl{\\f0 Arial;}{\\f1\\fcharset0 Arial;}"
        "{\\f2\\fcharset161 Greek;}{\\f3\\cpg1250\\fcharset0 CE;}}\\f0 \\'e0\\'e1 \\f1 \\'e0 "
        "\\f2 \\'e1 \\f3 \\'b9}",
        doc);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("\u0430\u0431 \u00E0 \u03B1 \u0105"));

    // Double-byte pages: a lead and a trail byte make one character.
    Load("{\\rtf1\\ansi{\\fonttbl{\\f0\\fcharset128 MS Mincho;}}\\f0 \\'82\\'a0\\'93\\'fa}", doc);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("\u3042\u65E5"));

    // DOS, KOI8 and ISO pages; \pc selects 437.
    Load(
        "{\\rtf1\\ansi\\ansicpg866 \\'a0{\\fonttbl{\\f1\\cpg20866 K;}{\\f2\\cpg28592 I;}}\\f1 \\'c1"
        "\\f2 \\'b1}",
        doc);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("\u0430\u0430\u0105"));
    Load("{\\rtf1\\pc \\'82}", doc);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("\u00E9"));

    // An unknown code page reads as cp1252.
    Load("{\\rtf1\\ansi\\ansicpg9999 \\'e9\\'80}", doc);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("\u00E9\u20AC"));

    // Raw bytes above 127 are read in the code page too; control bytes are dropped.
    Load(
        "{\\rtf1\\ansi\\ansicpg1252 a\xe9\x01\x7f"
        "b}",
        doc);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("a\u00E9\u007Fb"));
}

TEST(RtfRead, UnicodeEscapes)
{
    QTextDocument doc;
    // \uc1 (the default): one fallback character, which may be a \'hh, is skipped.
    Load("{\\rtf1 \\u8364?\\u1078\\'3f x\\u-3913 ?}", doc);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("\u20AC\u0436 x\uF0B7"));
    // \ucN is group state; \uc0 has no fallback.
    Load("{\\rtf1 {\\uc2\\u1078 ab}c{\\uc0\\u1078 d}\\u1078 ef}", doc);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("\u0436c\u0436d\u0436f"));
    // A brace ends the fallback early.
    Load("{\\rtf1\\uc3 {\\u1078 a}b}", doc);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("\u0436b"));
    // Surrogate pairs join; a lone half becomes U+FFFD.
    Load("{\\rtf1 \\u-10179?\\u-8704? \\u-10179?x\\u-8704?}", doc);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("\U0001F600 \uFFFDx\uFFFD"));
    // Numbers beyond any character become U+FFFD and still skip their fallback.
    Load("{\\rtf1 \\u99999999999999999999?\\u-99999?a}", doc);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("\uFFFD\uFFFDa"));
}

TEST(RtfRead, CharactersThatWouldBreakTheDocumentStructure)
{
    QTextDocument doc;
    // Control characters, paragraph separators, frame markers and object anchors must not turn
    // into blocks, frames or objects.
    Load("{\\rtf1 a\\u0?\\u10?\\u13?b\\u8233?c\\u64976?\\u64977?\\u65532?d\\'0a\\'0de}", doc);
    EXPECT_EQ(doc.blockCount(), 1);
    EXPECT_EQ(Blocks(doc), (Texts{QStringLiteral("ab\u2028c\uFFFD\uFFFD\uFFFDde")}));
}

TEST(RtfRead, SkippedDestinations)
{
    QTextDocument doc;
    Load(
        "{\\rtf1\\ansi{\\info{\\title T}{\\author A}}{\\stylesheet{\\s0 Normal;}}"
        "{\\*\\generator Gen 1.0;}{\\*\\unknowndest junk{\\nested junk}}"
        "{\\header head}{\\footer foot}"
        "a{\\pict\\wmetafile8\\picw10 0123456789abcdef}b"
        "{\\field{\\*\\fldinst HYPERLINK \"x\"}{\\fldrslt link}}"
        "{\\fldinst plain inst}c{\\*\\ulnone skipped}{\\*}d"
        "{\\*\\listlevel out of place}{\\*\\list out of place}{\\*\\pn{\\*\\pn x}}}",
        doc);
    EXPECT_EQ(doc.toPlainText(), "ablinkcd");
}

TEST(RtfRead, BinaryData)
{
    QTextDocument doc;
    // \binN skips N raw bytes, braces and backslashes included.
    Load(QByteArray("{\\rtf1 a{\\pict\\bin6 ") + QByteArray("}{\\\0\xff}", 6) + "}b\\bin3 xyzc}",
         doc);
    EXPECT_EQ(doc.toPlainText(), "abc");
    // Past the end: everything left is skipped.
    Load("{\\rtf1 a\\bin1000000 b}", doc);
    EXPECT_EQ(doc.toPlainText(), "a");
    Load("{\\rtf1 a\\bin-5 b\\bin c}", doc);
    EXPECT_EQ(doc.toPlainText(), "abc");
}

TEST(RtfRead, OldStyleBullets)
{
    QTextDocument doc;
    Load(
        "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}{\\f1\\fcharset2 Symbol;}}"
        "\\pard{\\pntext\\f1\\'B7\\tab}{\\*\\pn\\pnlvlblt\\pnf1\\pnindent0{\\pntxtb\\'B7}}"
        "\\fi-360\\li720 one\\par{\\pntext\\f1\\'B7\\tab}two\\par"
        "\\pard plain\\par"
        "{\\pntext 1.\\tab}{\\*\\pn\\pnlvlbody\\pndec\\pnstart1{\\pntxta.}}first\\par"
        "{\\pntext 2.\\tab}second\\par\\pard{\\*\\pn\\pnlvlcont}cont\\par}",
        doc);
    EXPECT_EQ(Blocks(doc), (Texts{"one", "two", "plain", "first", "second", "cont"}));
    QTextList* bullets = BlockAt(doc, 0).textList();
    ASSERT_NE(bullets, nullptr);
    EXPECT_EQ(bullets->format().style(), QTextListFormat::ListDisc);
    EXPECT_EQ(bullets->format().indent(), 1);
    EXPECT_EQ(BlockAt(doc, 1).textList(), bullets);
    // The list's own indent replaces \li; the hanging \fi is the bullet's.
    EXPECT_DOUBLE_EQ(BlockAt(doc, 0).blockFormat().leftMargin(), 720 / 15.0 - doc.indentWidth());
    EXPECT_DOUBLE_EQ(BlockAt(doc, 0).blockFormat().textIndent(), 0.0);
    EXPECT_EQ(BlockAt(doc, 2).textList(), nullptr);
    QTextList* numbers = BlockAt(doc, 3).textList();
    ASSERT_NE(numbers, nullptr);
    EXPECT_EQ(numbers->format().style(), QTextListFormat::ListDecimal);
    EXPECT_EQ(BlockAt(doc, 4).textList(), numbers);
    EXPECT_EQ(BlockAt(doc, 5).textList(), nullptr);
}

TEST(RtfRead, ListTableBullets)
{
    QTextDocument doc;
    Load(
        "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}"
        "{\\*\\listtable"
        "{\\list\\listtemplateid5\\listhybrid{\\listlevel\\levelnfc23\\levelnfcn23\\leveljc0"
        "{\\leveltext\\'01\\u-3913 ?;}{\\levelnumbers;}\\f3\\fi-360\\li720}"
        "{\\listlevel\\levelnfc4\\levelnfcn4{\\leveltext\\'02\\'01.;}{\\levelnumbers\\'01;}}"
        "{\\listname ;}\\listid100}"
        "{\\list\\listtemplateid6{\\listlevel\\levelnfc0{\\leveltext\\'02\\'00.;}}\\listid200}}"
        "{\\*\\listoverridetable{\\listoverride\\listid100\\listoverridecount0\\ls1}"
        "{\\listoverride\\listid200\\listoverridecount0\\ls2}}"
        "\\pard{\\listtext\\pard\\plain\\f3 \\'b7\\tab}\\ls1\\fi-360\\li720 a\\par"
        "{\\listtext b.\\tab}\\ls1\\ilvl1\\li1440 b\\par"
        "\\pard\\ls2 c\\par\\pard\\ls7 d\\par\\pard e\\par\\ls1 f\\par}",
        doc);
    EXPECT_EQ(Blocks(doc), (Texts{"a", "b", "c", "d", "e", "f"}));
    QTextList* a = BlockAt(doc, 0).textList();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->format().style(), QTextListFormat::ListDisc);
    QTextList* b = BlockAt(doc, 1).textList();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->format().style(), QTextListFormat::ListLowerAlpha);
    EXPECT_EQ(b->format().indent(), 2);
    EXPECT_DOUBLE_EQ(BlockAt(doc, 1).blockFormat().leftMargin(), 96.0 - 2 * doc.indentWidth());
    ASSERT_NE(BlockAt(doc, 2).textList(), nullptr);
    EXPECT_EQ(BlockAt(doc, 2).textList()->format().style(), QTextListFormat::ListDecimal);
    // An \ls the tables do not define still shows as a bulleted paragraph.
    ASSERT_NE(BlockAt(doc, 3).textList(), nullptr);
    EXPECT_EQ(BlockAt(doc, 3).textList()->format().style(), QTextListFormat::ListDisc);
    EXPECT_EQ(BlockAt(doc, 4).textList(), nullptr);
    // The same \ls later in the document continues the same list.
    EXPECT_EQ(BlockAt(doc, 5).textList(), a);
}

TEST(RtfRead, LongBulletedRunsAreAllBullets)
{
    QByteArray rtf = "{\\rtf1{\\*\\pn\\pnlvlblt{\\pntxtb\\'B7}}";
    const int n = 3000;
    for (int i = 0; i < n; ++i)
        rtf += "{\\pntext\\'B7\\tab}item\\par";
    rtf += "}";
    QTextDocument doc;
    Load(rtf, doc);
    ASSERT_EQ(doc.blockCount(), n);
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        ASSERT_NE(b.textList(), nullptr) << b.blockNumber();
        EXPECT_EQ(b.textList()->format().style(), QTextListFormat::ListDisc);
        EXPECT_EQ(b.text(), "item");
    }
}

TEST(RtfRead, LongRunsOfText)
{
    // Long runs are inserted in pieces; multi-byte characters are never cut in two.
    QTextDocument doc;
    const int n = 700000;
    Load("{\\rtf1 " + QByteArray(3 * n, 'a') + "\\b x}", doc);
    EXPECT_EQ(doc.toPlainText(), QString(3 * n, QChar('a')) + "x");
    EXPECT_TRUE(FormatOf(doc, "x").font().bold());

    QByteArray sjis = "{\\rtf1{\\fonttbl{\\f0\\fcharset128 M;}}\\f0 ";
    for (int i = 0; i < n; ++i)
        sjis += "\\'82\\'a0";
    Load(sjis + "}", doc);
    EXPECT_EQ(doc.toPlainText(), QString(n, QChar(0x3042)));

    QByteArray utf8 = "{\\rtf1\\ansi\\ansicpg65001 ";
    for (int i = 0; i < n; ++i)
        utf8 += "\xC3\xA9";
    Load(utf8 + "}", doc);
    EXPECT_EQ(doc.toPlainText(), QString(n, QChar(0xE9)));
}

TEST(RtfRead, UndoHistoryIsClearedAndTheSettingKept)
{
    QTextDocument doc;
    doc.setPlainText("before");
    QTextCursor(&doc).insertText("x");
    ASSERT_TRUE(doc.isUndoAvailable());
    Load("{\\rtf1 new}", doc);
    EXPECT_FALSE(doc.isUndoAvailable());
    EXPECT_TRUE(doc.isUndoRedoEnabled());
    EXPECT_EQ(doc.toPlainText(), "new");
}

// Malformed input loads best-effort and never crashes or hangs.
TEST(RtfRead, MalformedInput)
{
    QTextDocument doc;
    Load("{\\rtf1 {\\b open groups {\\i never close", doc);
    EXPECT_EQ(doc.toPlainText(), "open groups never close");
    EXPECT_TRUE(FormatOf(doc, "never").fontItalic());

    Load("{\\rtf1 a}}}}b", doc);
    EXPECT_EQ(doc.toPlainText(), "a");

    for (const char* tail : {"\\'", "\\'4", "\\", "\\u", "\\u-", "\\b-", "\\*", "\\bin", "\\bin9",
                             "{", "}", "\\uc", "\\u65"}) {
        Load(QByteArray("{\\rtf1 text") + tail, doc);
        EXPECT_TRUE(doc.toPlainText().startsWith("text")) << tail;
    }
    Load("{\\rtf1 a\\'zzb\\'4z}", doc);
    EXPECT_EQ(doc.toPlainText(), "azzbz");  // no hex digits: nothing; byte 4: dropped

    // Very long control words and parameters.
    Load("{\\rtf1 " + QByteArray(100000, 'x').prepend('\\') + " a\\fs" + QByteArray(100000, '9') +
             " b}",
         doc);
    EXPECT_EQ(doc.toPlainText(), "ab");
    EXPECT_GT(FormatOf(doc, "b").fontPointSize(), 12.0);
}

TEST(RtfRead, DeepNesting)
{
    QTextDocument doc;
    for (int depth : {10000, 200000}) {
        QByteArray rtf = "{\\rtf1 \\b ";
        rtf += QByteArray(depth, '{');
        rtf += "\\i deep";
        rtf += QByteArray(depth, '}');
        rtf += " after\\b0  plain}";
        Load(rtf, doc);
        EXPECT_EQ(doc.toPlainText(), "deep after plain");
        EXPECT_TRUE(FormatOf(doc, "deep").fontItalic());
        // Past the nesting cap the groups are still counted, so the state comes back right.
        EXPECT_FALSE(FormatOf(doc, "after").fontItalic());
        EXPECT_TRUE(FormatOf(doc, "after").font().bold());
        EXPECT_FALSE(FormatOf(doc, "plain").font().bold());
    }
    // Only opening braces: nothing to show.
    Load("{\\rtf1" + QByteArray(1000000, '{'), doc);
    EXPECT_EQ(doc.toPlainText(), "");
}

TEST(RtfRead, FontTableWithoutGroupsAndOddEntries)
{
    QTextDocument doc;
    Load(
        "{\\rtf1{\\fonttbl\\f0\\fnil Courier;\\f1\\fswiss{\\*\\panose 020b0604020202020204}"
        "Helvetica{\\*\\falt Arial};{\\f2 Caf\\'e9 \\u1078?;}{\\f3 Unterminated}}"
        "\\f0 a\\f1 b\\f2 c\\f3 d\\f8 e}",
        doc);
    EXPECT_EQ(Family(FormatOf(doc, "a")), "Courier");
    EXPECT_EQ(Family(FormatOf(doc, "b")), "Helvetica");
    EXPECT_EQ(Family(FormatOf(doc, "c")), QStringLiteral("Caf\u00E9 \u0436"));
    EXPECT_EQ(Family(FormatOf(doc, "d")), "Unterminated");
    EXPECT_EQ(Family(FormatOf(doc, "e")), "");  // an unknown font keeps the document's default
}

}  // namespace
