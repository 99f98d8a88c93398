#include "platform/IniFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <gtest/gtest.h>

using platform::IniFile;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    QString Path() const { return dir_.path() + QStringLiteral("/test.ini"); }
    void WriteRaw(const QByteArray& bytes)
    {
        QFile f(Path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray ReadRaw() const
    {
        QFile f(Path());
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return f.readAll();
    }
    QTemporaryDir dir_;
};

TEST_F(IniFileTest, ReadsCaseInsensitiveTrimmedValues)
{
    WriteRaw(
        "; comment\n[Host One]\n  FontName =  Courier  \nRows=30x\nneg=-12\nempty=\n"
        "[other]\nRows=5\n");
    IniFile ini(Path());
    EXPECT_EQ(ini.ReadString("host one", "FONTNAME", "*"), "Courier");
    EXPECT_EQ(ini.ReadInteger("HOST ONE", "rows", 25), 30);
    EXPECT_EQ(ini.ReadInteger("Host One", "neg", 0), -12);
    EXPECT_EQ(ini.ReadInteger("Host One", "empty", 7), 7);
    EXPECT_EQ(ini.ReadInteger("Host One", "missing", 9), 9);
    EXPECT_EQ(ini.ReadInteger("Other", "Rows", 0), 5);
    EXPECT_EQ(ini.ReadString("nowhere", "x", "def"), "def");
    EXPECT_TRUE(ini.SectionExists("OTHER"));
    EXPECT_FALSE(ini.ValueExists("other", "FontName"));
    EXPECT_EQ(ini.ReadSections(), QStringList({"Host One", "other"}));
    EXPECT_EQ(ini.ReadSection("host one"), QStringList({"FontName", "Rows", "neg", "empty"}));
}

TEST_F(IniFileTest, IntegerReadsSaturateAndBooleansAreNonZero)
{
    WriteRaw("[s]\nbig=99999999999999\nsmall=-99999999999999\nb0=0\nb2=2\nword=yes\n");
    IniFile ini(Path());
    EXPECT_EQ(ini.ReadInteger("s", "big", 0), INT_MAX);
    EXPECT_EQ(ini.ReadInteger("s", "small", 0), INT_MIN);
    EXPECT_FALSE(ini.ReadBool("s", "b0", true));
    EXPECT_TRUE(ini.ReadBool("s", "b2", false));
    EXPECT_TRUE(ini.ReadBool("s", "word", true));  // no digits: the default
    EXPECT_TRUE(ini.ReadBool("s", "missing", true));
}

TEST_F(IniFileTest, WritesKeepTheRestOfTheFileInOrder)
{
    WriteRaw("; keep me\n[A]\nx=1\n\n[B]\ny=2\n");
    IniFile ini(Path());
    ASSERT_TRUE(ini.WriteString("a", "X", "10"));
    ASSERT_TRUE(ini.WriteInteger("A", "z", 3));
    ASSERT_TRUE(ini.WriteBool("C", "flag", true));
    ASSERT_TRUE(ini.WriteString("B", "multi", "line1\nline2"));
    EXPECT_EQ(ReadRaw(), QByteArray("; keep me\n[A]\nX=10\nz=3\n\n[B]\ny=2\nmulti=line1 line2\n\n"
                                    "[C]\nflag=1\n"));
    ASSERT_TRUE(ini.EraseSection("b"));
    ASSERT_TRUE(ini.DeleteKey("A", "x"));
    EXPECT_EQ(ReadRaw(), QByteArray("; keep me\n[A]\nz=3\n\n[C]\nflag=1\n"));
}

// Whatever one line of text is written is read back as it was: the writer quotes what trimming
// or the removal of enclosing quotes would change. Files of earlier versions read as before.
TEST_F(IniFileTest, ValuesReadBackExactlyAndOldFilesAsBefore)
{
    IniFile ini(Path());
    const QString values[] = {"\"Work\"",
                              "  lead",
                              "trail  ",
                              " both ",
                              "\"\"",
                              "\"",
                              "a\"b",
                              "\"a",
                              " \"q\" ",
                              "\"\"x\"\"",
                              QStringLiteral("\u00a0nbsp\u3000"),
                              QStringLiteral("\ufeffbom"),
                              "=eq=",
                              ";semi",
                              "[x]",
                              "",
                              "   ",
                              "tab\tin",
                              "\tedge\t",
                              "plain"};
    int n = 0;
    for (const QString& v : values)
        ASSERT_TRUE(ini.WriteString("S", "k" + QString::number(n++), v));
    n = 0;
    for (const QString& v : values)
        EXPECT_EQ(ini.ReadString("s", "K" + QString::number(n++), "*"), v) << v.toStdString();
    EXPECT_TRUE(ReadRaw().contains("k0=\"\"Work\"\"\n")) << ReadRaw().toStdString();
    EXPECT_TRUE(ReadRaw().contains("k19=plain\n"));

    WriteRaw("[A]\nq=\"quoted\"\nsp=  spaced  \nhalf=\"x\n");
    EXPECT_EQ(ini.ReadString("A", "q", "*"), "quoted");
    EXPECT_EQ(ini.ReadString("A", "sp", "*"), "spaced");
    EXPECT_EQ(ini.ReadString("A", "half", "*"), "\"x");
}

TEST_F(IniFileTest, SectionNamesAndAByteOrderMark)
{
    // An editor's byte-order mark does not hide the first section.
    WriteRaw("\xEF\xBB\xBF[A]\nx=1\n");
    IniFile ini(Path());
    EXPECT_EQ(ini.ReadString("A", "x", "*"), "1");
    ASSERT_TRUE(ini.WriteString("A", "x", "2"));
    EXPECT_EQ(ReadRaw(), QByteArray("[A]\nx=2\n"));
    // Names with "]" or blanks at the ends are found again, not written a second time.
    for (const QString& section : {QStringLiteral("a]b"), QStringLiteral(" pad "),
                                   QStringLiteral("\"Work\""), QStringLiteral("[::1]")}) {
        ASSERT_TRUE(ini.WriteString(section, "k", "1"));
        ASSERT_TRUE(ini.WriteString(section, "k", "2"));
        EXPECT_EQ(ini.ReadString(section, "k", "*"), "2") << section.toStdString();
    }
    EXPECT_EQ(ini.ReadSections(), QStringList({"A", "a]b", "pad", "\"Work\"", "[::1]"}));
    // A line break in a name would put the key into another section: refused.
    const QByteArray before = ReadRaw();
    EXPECT_FALSE(ini.WriteString("x\n[A]", "k", "v"));
    EXPECT_FALSE(ini.WriteString("A", "k\ny", "v"));
    EXPECT_FALSE(ini.ErrorString().isEmpty());
    EXPECT_EQ(ReadRaw(), before);
}

TEST_F(IniFileTest, NewFileGetsCreatePermissionsAndExistingKeepsItsOwn)
{
    IniFile ini(Path());
    ini.SetCreatePermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    ASSERT_TRUE(ini.WriteString("s", "Password", "secret"));
    struct stat st {};
    ASSERT_EQ(::stat(Path().toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    ASSERT_EQ(::chmod(Path().toLocal8Bit().constData(), 0640), 0);
    ASSERT_TRUE(ini.WriteString("s", "Other", "v"));
    ASSERT_EQ(::stat(Path().toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(IniFileTest, WriteIntoMissingDirectoryCreatesItAndUnwritablePathFails)
{
    IniFile nested(dir_.path() + QStringLiteral("/sub/dir/x.ini"));
    EXPECT_TRUE(nested.WriteString("s", "k", "v"));
    EXPECT_EQ(nested.ReadString("s", "k", ""), "v");

    WriteRaw("not a directory");
    IniFile blocked(Path() + QStringLiteral("/x.ini"));
    EXPECT_FALSE(blocked.WriteString("s", "k", "v"));
    EXPECT_FALSE(blocked.ErrorString().isEmpty());
}

TEST(IniFilePath, BareNameLivesInConfigDirectory)
{
    const QString p = IniFile::ResolvePath("TNEMULVT.INI");
    EXPECT_TRUE(p.endsWith("/TNEMULVT.INI"));
    EXPECT_TRUE(p.startsWith('/'));
    EXPECT_EQ(IniFile::ResolvePath("/tmp/x.ini"), "/tmp/x.ini");
}

}  // namespace
