// The listing parser (one line and whole listings, including lines that lack fields) and the
// checks that keep remote names from being taken for local paths, headless.
#include "ftp/FtpListing.h"
#include "ftp/FtpLocalFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

#include <sys/stat.h>
#include <unistd.h>

using namespace ftp;

namespace {

TDirEntry Parse(std::string_view line)
{
    TDirEntry e;
    EXPECT_TRUE(ParseDirEntry(line, e)) << line;
    return e;
}

std::string Local(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

std::string Read(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return "<missing>";
    return f.readAll().toStdString();
}

bool Write(const QString& path, const std::string& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) &&
           f.write(data.data(), qint64(data.size())) == qint64(data.size());
}

}  // namespace

TEST(ParseDirEntry, DirectoriesFilesAndLinks)
{
    TDirEntry d = Parse("drwxr-xr-x   2 user  group     4096 Mar  1 10:00 src");
    EXPECT_TRUE(d.Directory);
    EXPECT_EQ(d.Name, "src");

    TDirEntry f = Parse("-rw-r--r--   1 user  group     1234 Jan  5 12:30 my file.txt");
    EXPECT_FALSE(f.Directory);
    EXPECT_EQ(f.Name, "my file.txt");
    EXPECT_EQ(f.Size, "1234");
    EXPECT_EQ(f.Date, "Jan 5 12:30");

    TDirEntry year = Parse("-rw-r--r-- 1 u g 7 Dec 31  2019  two  spaces ");
    EXPECT_EQ(year.Date, "Dec 31 2019");
    EXPECT_EQ(year.Name, "two  spaces ") << "the name keeps its spaces";

    // A link without "." is taken for a directory and loses its arrow and target.
    TDirEntry bin = Parse("lrwxrwxrwx   1 root  root        7 Jan  1  2020 bin -> usr/bin");
    EXPECT_TRUE(bin.Directory);
    EXPECT_EQ(bin.Name, "bin");
    // A link with "." is a file and keeps them.
    TDirEntry lib = Parse("lrwxrwxrwx 1 root root 9 Jan 1 2020 libc.so -> libc.so.6");
    EXPECT_FALSE(lib.Directory);
    EXPECT_EQ(lib.Name, "libc.so -> libc.so.6");
    // Upper-case kinds count too.
    EXPECT_TRUE(Parse("Drwxr-xr-x 2 u g 0 Jan 1 2020 UP").Directory);
    EXPECT_TRUE(Parse("Lrwxrwxrwx 1 u g 0 Jan 1 2020 up -> x").Directory);
}

TEST(ParseDirEntry, ArrowRulesAtTheEdges)
{
    // Names of four characters or fewer keep everything.
    EXPECT_EQ(Parse("drwxr-xr-x 2 u g 0 Jan 1 2020 a ->").Name, "a ->");
    // The arrow must begin at the second character or later.
    EXPECT_EQ(Parse("lrwxrwxrwx 1 u g 0 Jan 1 2020  -> target").Name, "-> target")
        << "leading spaces belong to the separator";
    EXPECT_EQ(Parse("drwxr-xr-x 2 u g 0 Jan 1 2020 x -> y -> z").Name, "x");
    EXPECT_EQ(Parse("drwxr-xr-x 2 u g 0 Jan 1 2020 a->b -> c").Name, "a->b");
    // A directory whose name merely contains a hyphen keeps it.
    EXPECT_EQ(Parse("drwxr-xr-x 2 u g 0 Jan 1 2020 my-dir").Name, "my-dir");
}

TEST(ParseDirEntry, LinesWithoutNineFieldsAreRejected)
{
    TDirEntry e;
    e.Name = "untouched";
    for (const std::string_view line :
         {std::string_view(""), std::string_view("total 12"),
          std::string_view("drwxr-xr-x 2 user group 4096 Mar 1 10:00"),
          std::string_view("drwxr-xr-x 2 user group 4096 Mar 1 10:00   "),
          std::string_view("no fields at all in this long line"),
          std::string_view("                              ")}) {
        EXPECT_FALSE(ParseDirEntry(line, e)) << line;
        EXPECT_EQ(e.Name, "untouched");
    }
    // A line cut short in a buffer of its own: nothing past its end is read.
    const std::string buffer = "-rw-r--r-- 1 u g 5 Jan 1 2020 nameXYZ";
    TDirEntry cut;
    ASSERT_TRUE(ParseDirEntry(std::string_view(buffer).substr(0, buffer.size() - 3), cut));
    EXPECT_EQ(cut.Name, "name");
    EXPECT_FALSE(ParseDirEntry(std::string_view(buffer).substr(0, 29), cut));
}

TEST(ParseListing, SkipsShortLinesAndSortsDirectoriesFromFiles)
{
    const std::string text =
        "total 16\r\n"
        "drwxr-xr-x   2 user  group     4096 Mar  1 10:00 src\r\n"
        "-rw-r--r--   1 user  group     1234 Jan  5 12:30 my file.txt\r\n"
        "\r\n"
        "-rw-r--r-- 1 u g 1 Jan 1 2020 x\r\n"  // 31 characters
        "-rw 1 u g 1 J 1 1 x\r\n"              // nine fields in 19 characters: skipped
        "lrwxrwxrwx 1 root root 7 Jan 1 2020 bin -> usr/bin\n"
        "this line has only six words\n"
        "lrwxrwxrwx 1 root root 9 Jan 1 2020 libc.so -> libc.so.6";  // no final line end
    TListing listing;
    ParseListing(text, listing);
    EXPECT_EQ(listing.Directories, (std::vector<std::string>{"src", "bin"}));
    ASSERT_EQ(listing.Files.size(), 3u);
    EXPECT_EQ(listing.Files[0].Name, "my file.txt");
    EXPECT_EQ(listing.Files[1].Name, "x");
    EXPECT_EQ(listing.Files[2].Name, "libc.so -> libc.so.6");

    TListing empty;
    ParseListing("", empty);
    EXPECT_TRUE(empty.Directories.empty() && empty.Files.empty());
}

TEST(ParseListing, ReadsTheListingFile)
{
    QTemporaryDir dir;
    TListing listing;
    EXPECT_FALSE(ReadListingFile(dir.filePath("none.txt"), listing));
    ASSERT_TRUE(Write(dir.filePath("ftpdir.txt"),
                      "-rw-r--r-- 1 u g 10 Jan 1 2020 a.txt\n"
                      "-rw-r--r-- 1 u g 20 Jan 1 2020 \xc3\xa9t\xc3\xa9.txt\n"));
    EXPECT_TRUE(ReadListingFile(dir.filePath("ftpdir.txt"), listing));
    ASSERT_EQ(listing.Files.size(), 2u);
    EXPECT_EQ(listing.Files[1].Name, "\xc3\xa9t\xc3\xa9.txt") << "bytes as they stand";
    EXPECT_EQ(RemoteText(listing.Files[1].Name), QStringLiteral("\u00e9t\u00e9.txt"));
    EXPECT_EQ(RemoteText("\xe9t\xe9"), QStringLiteral("\u00e9t\u00e9")) << "Latin-1 otherwise";
}

TEST(AppendSlash, OnlyWhenMissing)
{
    EXPECT_EQ(AppendSlash(QString()), QString());
    EXPECT_EQ(AppendSlash(QStringLiteral("/home")), QStringLiteral("/home/"));
    EXPECT_EQ(AppendSlash(QStringLiteral("/")), QStringLiteral("/"));
    EXPECT_EQ(AppendSlash(std::string("a/")), "a/");
    EXPECT_EQ(AppendSlash(std::string("a")), "a/");
}

TEST(RemoteNames, OnlyPlainFileNamesPass)
{
    for (const std::string& ok :
         {std::string("a.txt"), std::string("my file.txt"), std::string("..."),
          std::string(".hidden"), std::string("\xc3\xa9t\xc3\xa9"), std::string(255, 'n')}) {
        EXPECT_EQ(LocalNameProblem(ok), "") << ok;
    }
    for (const std::string& bad :
         {std::string(), std::string("."), std::string(".."), std::string("../x"),
          std::string("/etc/passwd"), std::string("a/b"), std::string("..\\x"), std::string("a\nb"),
          std::string("a\rb"), std::string("tab\t"), std::string("del\x7f"),
          std::string("nul\0x", 5), std::string(256, 'n')}) {
        EXPECT_NE(LocalNameProblem(bad), "") << bad;
    }
    EXPECT_EQ(CommandTextProblem("a b"), "");
    EXPECT_NE(CommandTextProblem("a\r\nDELE x"), "");
    EXPECT_NE(CommandTextProblem(std::string("a\0b", 3)), "");
}

TEST(RemoteNames, LowerCase)
{
    EXPECT_EQ(LowerFileName("README.TXT"), "readme.txt");
    EXPECT_EQ(LowerFileName("\xc3\x89T\xc3\x89"), "\xc3\xa9t\xc3\xa9") << "UTF-8 as text";
    EXPECT_EQ(LowerFileName("\xc9T\xc9"), "\xc9t\xc9") << "other bytes: ASCII letters only";
}

class Downloads : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        ASSERT_TRUE(QDir(root.path()).mkpath("local"));
        local = root.filePath("local");
    }
    QStringList Entries() const
    {
        return QDir(local).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                     QDir::NoDotAndDotDot);
    }
    QTemporaryDir root;
    QString local;
};

TEST_F(Downloads, SuccessReplacesTheFileOnlyAtTheEnd)
{
    ASSERT_TRUE(Write(local + "/a.txt", "old"));
    TLocalTarget t;
    ASSERT_EQ(PrepareDownload(Local(local), "a.txt", t), "");
    EXPECT_EQ(t.Final, Local(local + "/a.txt"));
    EXPECT_NE(t.Part, t.Final);
    EXPECT_EQ(QFileInfo(QFile::decodeName(t.Part.c_str())).absolutePath(), local);
    EXPECT_EQ(Read(local + "/a.txt"), "old") << "untouched while the download runs";
    ASSERT_TRUE(Write(QFile::decodeName(t.Part.c_str()), "new"));
    EXPECT_EQ(CommitDownload(t), "");
    EXPECT_EQ(Read(local + "/a.txt"), "new");
    EXPECT_EQ(Entries(), QStringList{"a.txt"});
}

TEST_F(Downloads, FailureLeavesTheOldFile)
{
    ASSERT_TRUE(Write(local + "/keep.txt", "precious"));
    TLocalTarget t;
    ASSERT_EQ(PrepareDownload(Local(local), "keep.txt", t), "");
    DiscardDownload(t);
    EXPECT_EQ(Read(local + "/keep.txt"), "precious");
    EXPECT_EQ(Entries(), QStringList{"keep.txt"});
}

TEST_F(Downloads, NeverFollowsALinkNorLeavesTheDirectory)
{
    const QString outside = root.filePath("outside.txt");
    ASSERT_TRUE(Write(outside, "outside"));
    ASSERT_EQ(::symlink(Local(outside).c_str(), Local(local + "/link.txt").c_str()), 0);
    ASSERT_EQ(
        ::symlink(Local(root.filePath("nowhere")).c_str(), Local(local + "/dangling").c_str()), 0);
    ASSERT_TRUE(QDir(local).mkdir("sub"));

    TLocalTarget t;
    EXPECT_NE(PrepareDownload(Local(local), "link.txt", t), "");
    EXPECT_NE(PrepareDownload(Local(local), "dangling", t), "");
    EXPECT_NE(PrepareDownload(Local(local), "sub", t), "");
    EXPECT_NE(PrepareDownload(Local(local), "../outside.txt", t), "");
    EXPECT_NE(PrepareDownload(Local(local), "..", t), "");
    EXPECT_TRUE(t.Part.empty() && t.Final.empty());
    EXPECT_EQ(Read(outside), "outside");
    EXPECT_FALSE(QFileInfo::exists(root.filePath("nowhere")));
    EXPECT_EQ(Entries(), (QStringList{"dangling", "link.txt", "sub"}));

    // A link put in the way after the check is replaced, not followed.
    ASSERT_EQ(PrepareDownload(Local(local), "late.txt", t), "");
    ASSERT_EQ(::symlink(Local(outside).c_str(), Local(local + "/late.txt").c_str()), 0);
    ASSERT_TRUE(Write(QFile::decodeName(t.Part.c_str()), "data"));
    EXPECT_EQ(CommitDownload(t), "");
    EXPECT_EQ(Read(outside), "outside");
    EXPECT_FALSE(QFileInfo(local + "/late.txt").isSymLink());
}

TEST_F(Downloads, UnwritableFileOrDirectoryIsReported)
{
    if (::geteuid() == 0) GTEST_SKIP() << "root writes regardless of permissions";
    ASSERT_TRUE(Write(local + "/ro.txt", "ro"));
    ASSERT_TRUE(QFile::setPermissions(local + "/ro.txt", QFile::ReadOwner));
    TLocalTarget t;
    EXPECT_NE(PrepareDownload(Local(local), "ro.txt", t), "");
    ASSERT_TRUE(QFile::setPermissions(local, QFile::ReadOwner | QFile::ExeOwner));
    EXPECT_NE(PrepareDownload(Local(local), "new.txt", t), "");
    QFile::setPermissions(local, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(Entries(), QStringList{"ro.txt"});
}
