// Text conversion: Unix import cleaning, line model, joins, extension rule, plain-text decoding
// and the file helpers' error reporting.
#include "editor/TextConvert.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace editor;

namespace {

QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

// The document as the editor control holds it after an import.
QStringList ImportedLines(const QByteArray& file)
{
    QTextDocument doc;
    doc.setPlainText(CleanUnixText(file).text);
    return DocumentLines(doc, false);
}

}  // namespace

TEST(UnixImport, LinesAndCountFollowTheLineFeeds)
{
    UnixImport r = CleanUnixText("a\nb");
    EXPECT_EQ(r.text, QStringLiteral("a\nb\n"));
    EXPECT_EQ(r.lines, 2);

    r = CleanUnixText("a\nb\n");
    EXPECT_EQ(r.text, QStringLiteral("a\nb\n\n"));
    EXPECT_EQ(r.lines, 3);

    r = CleanUnixText(QByteArray());
    EXPECT_EQ(r.text, QStringLiteral("\n"));
    EXPECT_EQ(r.lines, 1);

    r = CleanUnixText("\n\n");
    EXPECT_EQ(r.lines, 3);
    EXPECT_EQ(r.text, QStringLiteral("\n\n\n"));
}

TEST(UnixImport, KeepsExactlyPrintableAsciiAndDropsEverythingElse)
{
    QByteArray all;
    for (int c = 0; c < 256; ++c)
        all.append(char(c));
    const UnixImport r = CleanUnixText(all);
    QString expected;
    expected.append(u'\n');  // byte 10
    for (int c = 32; c <= 126; ++c)
        expected.append(QChar(c));
    expected.append(u'\n');  // every line is followed by a break
    EXPECT_EQ(r.text, expected);
    EXPECT_EQ(r.lines, 2);

    // CR of DOS files, tab, form feed, NUL and accented letters disappear; spaces stay.
    EXPECT_EQ(CleanUnixText("a\r\nb").text, QStringLiteral("a\nb\n"));
    EXPECT_EQ(CleanUnixText(Bytes({'x', 9, ' ', 12, 'y', 0, 0xC3, 0xA9, 0xE9, 127, ' '})).text,
              QStringLiteral("x y \n"));
}

TEST(UnixImport, FeedingInPiecesGivesTheSameResult)
{
    QByteArray file;
    for (int i = 0; i < 5000; ++i)
        file += "line " + QByteArray::number(i) + "\r\t\xff\n";
    const UnixImport whole = CleanUnixText(file);
    UnixTextFilter filter;  // no Reserve: the buffer has to grow
    for (qsizetype pos = 0; pos < file.size(); pos += 7) {
        filter.Feed(file.constData() + pos, std::min<qsizetype>(7, file.size() - pos));
    }
    EXPECT_EQ(filter.Lines(), 5001);
    EXPECT_EQ(filter.TakeText(), whole.text);
    EXPECT_EQ(filter.Lines(), 1) << "the filter starts afresh after TakeText";
}

TEST(UnixImport, SavingAsUnixGivesTheFileBack)
{
    EXPECT_EQ(JoinLines(ImportedLines("a\nb\n"), LineEnd::Unix), QByteArray("a\nb\n"));
    EXPECT_EQ(JoinLines(ImportedLines("a\nb"), LineEnd::Unix), QByteArray("a\nb"));
    EXPECT_EQ(JoinLines(ImportedLines(""), LineEnd::Unix), QByteArray(""));
    EXPECT_EQ(JoinLines(ImportedLines("\n\nx\n\n"), LineEnd::Unix), QByteArray("\n\nx\n\n"));
    EXPECT_EQ(ImportedLines("a\nb"), (QStringList{"a", "b"}));
    EXPECT_EQ(ImportedLines(""), (QStringList{""}));
}

TEST(Joins, SeparatorsGoBetweenLinesOnly)
{
    EXPECT_EQ(JoinLines({"a", "b"}, LineEnd::Dos), QByteArray("a\r\nb"));
    EXPECT_EQ(JoinLines({"a", "b"}, LineEnd::Unix), QByteArray("a\nb"));
    EXPECT_EQ(JoinLines({}, LineEnd::Dos), QByteArray());
    EXPECT_EQ(JoinLines({""}, LineEnd::Dos), QByteArray());
    EXPECT_EQ(JoinLines({"", ""}, LineEnd::Dos), QByteArray("\r\n"));
    // Plain text is written as UTF-8.
    EXPECT_EQ(JoinLines({QStringLiteral("caf\u00e9"), QStringLiteral("\u20ac")}, LineEnd::Unix),
              QByteArray("caf\xc3\xa9\n\xe2\x82\xac"));
}

TEST(LineModel, FinalEmptyParagraphIsNotALine)
{
    QTextDocument doc;
    EXPECT_TRUE(DocumentLines(doc, false).isEmpty()) << "an empty document has no lines";
    EXPECT_EQ(DocumentLineCount(doc, true), 0);
    doc.setPlainText("a\n");
    EXPECT_EQ(DocumentLines(doc, false), QStringList{"a"});
    doc.setPlainText("\n");
    EXPECT_EQ(DocumentLines(doc, false), QStringList{""});
    doc.setPlainText("a\n\nb");
    EXPECT_EQ(DocumentLines(doc, false), (QStringList{"a", "", "b"}));
    EXPECT_EQ(DocumentLineCount(doc, false), 3);
}

TEST(LineModel, LineSeparatorsEndLinesAndObjectsAreDropped)
{
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("one\u2028two\nthree\ufffcfour"));
    EXPECT_EQ(DocumentLines(doc, false), (QStringList{"one", "two", "threefour"}));
    EXPECT_EQ(DocumentLineCount(doc, false), 3);
}

TEST(LineModel, WrappedParagraphCountsAsItsScreenLines)
{
    QTextDocument doc;
    doc.setDocumentMargin(0);
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(10);
    doc.setDefaultFont(font);
    const QString para = QStringLiteral("alpha beta gamma delta epsilon zeta eta theta iota");
    doc.setPlainText(para + "\nshort");
    // About a third of the paragraph's width.
    const qreal width = QFontMetricsF(font).horizontalAdvance(para) / 3 + 5;
    doc.setTextWidth(width);
    doc.documentLayout()->documentSize();  // lays the document out

    const QStringList wrapped = DocumentLines(doc, true);
    ASSERT_GE(wrapped.size(), 4);
    EXPECT_EQ(wrapped.last(), QStringLiteral("short"));
    EXPECT_EQ(DocumentLineCount(doc, true), wrapped.size());
    // The screen lines hold the paragraph's characters in order, nothing lost or added.
    EXPECT_EQ(QStringList(wrapped.mid(0, wrapped.size() - 1)).join(QString()), para);
    for (const QString& l : wrapped)
        EXPECT_FALSE(l.isEmpty());

    // Without wrap every paragraph is one line.
    EXPECT_EQ(DocumentLines(doc, false), (QStringList{para, "short"}));
    EXPECT_EQ(DocumentLineCount(doc, false), 2);
}

TEST(Extension, AddedOnlyWhenTheNameHasNone)
{
    EXPECT_EQ(AddDefaultExtension("notes", kUnixExtension), QStringLiteral("notes.unx"));
    EXPECT_EQ(AddDefaultExtension("notes.txt", kUnixExtension), QStringLiteral("notes.txt"));
    EXPECT_EQ(AddDefaultExtension("notes.", kDosExtension), QStringLiteral("notes."));
    EXPECT_EQ(AddDefaultExtension("/home/a.b/notes", kRtfExtension),
              QStringLiteral("/home/a.b/notes.rtf"));
    EXPECT_EQ(AddDefaultExtension("C:\\dir.x\\notes", kDosExtension),
              QStringLiteral("C:\\dir.x\\notes.txt"));
    EXPECT_EQ(AddDefaultExtension("c:notes", kDosExtension), QStringLiteral("c:notes.txt"));
    EXPECT_EQ(AddDefaultExtension("/tmp/.profile", kDosExtension), QStringLiteral("/tmp/.profile"));
    EXPECT_EQ(AddDefaultExtension("/tmp/dir/", kDosExtension), QStringLiteral("/tmp/dir/.txt"));
}

TEST(PlainText, LineBreaksAndUnsafeCharacters)
{
    EXPECT_EQ(PlainTextFromBytes("a\r\nb\rc\nd"), QStringLiteral("a\nb\nc\nd"));
    EXPECT_EQ(PlainTextFromBytes("\r\r\n"), QStringLiteral("\n\n"));
    EXPECT_EQ(PlainTextFromBytes("caf\xc3\xa9\t!"), QStringLiteral("caf\u00e9\t!"));
    EXPECT_EQ(PlainTextFromBytes(Bytes({'a', 0, 'b'})), QStringLiteral("a\ufffdb"));
    // U+FDD0 and U+FFFC are structure marks of the document; invalid UTF-8 becomes U+FFFD too.
    EXPECT_EQ(PlainTextFromBytes("\xef\xb7\x90x\xef\xbf\xbc\xff"),
              QStringLiteral("\ufffdx\ufffd\ufffd"));

    // Such text goes into a document without changing its paragraph structure.
    QTextDocument doc;
    doc.setPlainText(PlainTextFromBytes("one\xef\xb7\x90\xef\xb7\x91two\nthree"));
    EXPECT_EQ(doc.blockCount(), 2);
}

class FileHelpers : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return dir_.filePath(name); }
    void Write(const QString& name, const QByteArray& data) const
    {
        QFile f(Path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    QTemporaryDir dir_;
};

TEST_F(FileHelpers, ReadErrorsNameTheFault)
{
    QByteArray out = "kept";
    EXPECT_EQ(ReadWholeFile(Path("missing.txt"), &out), ENOENT);
    EXPECT_EQ(FileErrorMessage(ENOENT), QStringLiteral("File not found"));
    EXPECT_EQ(ReadWholeFile(Path("no/such/dir/x.txt"), &out), ENOENT);
    EXPECT_EQ(ReadWholeFile(dir_.path(), &out), EISDIR);
    EXPECT_EQ(FileErrorMessage(EISDIR), QStringLiteral("File access denied"));
    EXPECT_EQ(out, QByteArray("kept")) << "a failed read leaves the output alone";

    // A pipe without a writer is refused at once instead of blocking.
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path("fifo")).constData(), 0600), 0);
    bool opened = true;
    EXPECT_EQ(ReadWholeFile(Path("fifo"), &out, kMaxEditBytes, &opened), EINVAL);
    EXPECT_FALSE(opened);
}

TEST_F(FileHelpers, FilesAboveTheLimitAreRefused)
{
    // A sparse file of 1 GB costs no disk space.
    const QByteArray big = QFile::encodeName(Path("big.bin"));
    const int fd = ::open(big.constData(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t(1) << 30), 0);
    ::close(fd);
    QByteArray out;
    EXPECT_EQ(ReadWholeFile(Path("big.bin"), &out), kFileTooLarge);
    EXPECT_TRUE(FileErrorMessage(kFileTooLarge).startsWith("File too large"));
    InputFile in;
    EXPECT_EQ(in.Open(Path("big.bin")), kFileTooLarge);

    // A small limit applies to what is read, too.
    Write("ten", "0123456789");
    EXPECT_EQ(ReadWholeFile(Path("ten"), &out, 9), kFileTooLarge);
    EXPECT_EQ(ReadWholeFile(Path("ten"), &out, 10), 0);
    EXPECT_EQ(out, QByteArray("0123456789"));
}

TEST_F(FileHelpers, ReadsEmptyAndBinaryFilesWhole)
{
    Write("empty", QByteArray());
    QByteArray out = "x";
    bool opened = false;
    EXPECT_EQ(ReadWholeFile(Path("empty"), &out, kMaxEditBytes, &opened), 0);
    EXPECT_TRUE(opened);
    EXPECT_TRUE(out.isEmpty());

    QByteArray binary;
    for (int i = 0; i < 300000; ++i)
        binary.append(char(i * 7));
    Write("binary", binary);
    EXPECT_EQ(ReadWholeFile(Path("binary"), &out), 0);
    EXPECT_EQ(out, binary);
}

TEST_F(FileHelpers, WriteReportsCreateAndWriteFailures)
{
    bool created = true;
    EXPECT_EQ(WriteWholeFile(Path("no/dir/x.txt"), "abc", &created), ENOENT);
    EXPECT_FALSE(created);

    EXPECT_EQ(WriteWholeFile(Path("x.txt"), "abc", &created), 0);
    EXPECT_TRUE(created);
    EXPECT_EQ(WriteWholeFile(Path("x.txt"), "de", &created), 0);
    QFile f(Path("x.txt"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("de")) << "an existing file is replaced, not appended to";

    if (QFile::exists("/dev/full")) {
        EXPECT_EQ(WriteWholeFile("/dev/full", QByteArray(100000, 'x'), &created), ENOSPC);
        EXPECT_TRUE(created);
        EXPECT_EQ(FileErrorMessage(ENOSPC), QStringLiteral("Disk full"));
    }
}

TEST_F(FileHelpers, UnreadableFileIsAccessDenied)
{
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    Write("secret", "x");
    ASSERT_TRUE(QFile::setPermissions(Path("secret"), QFileDevice::WriteOwner));
    QByteArray out;
    EXPECT_EQ(ReadWholeFile(Path("secret"), &out), EACCES);
}
