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
