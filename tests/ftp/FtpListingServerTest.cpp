// The listing parser on real LIST output: a directory served by pyftpdlib on loopback, listed by
// the FTP engine into a file (as the login window does) and read by the listing reader.
#include "FtpTestUtil.h"
#include "ftp/FtpListing.h"
#include "peers/FtpServerFixture.h"

#include <QDir>

#include <algorithm>

#include <unistd.h>

using namespace ftptest;

namespace {

bool Has(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

const ftp::TDirEntry* FileNamed(const ftp::TListing& listing, const std::string& name)
{
    for (const ftp::TDirEntry& e : listing.Files)
        if (e.Name == name) return &e;
    return nullptr;
}

}  // namespace

TEST(ListingFromServer, RealLongListingParses)
{
    if (!testsupport::PyFtpServer::Available()) GTEST_SKIP() << "python3-pyftpdlib not installed";
    QTemporaryDir served;
    ASSERT_TRUE(served.isValid());
    const QDir d(served.path());
    ASSERT_TRUE(d.mkdir("src"));
    ASSERT_TRUE(d.mkdir("dir with spaces"));
    ASSERT_TRUE(WriteFile(d.filePath("my file.txt"), Pattern(1234)));
    ASSERT_TRUE(WriteFile(d.filePath("libc.so.6"), Pattern(10)));
    ASSERT_EQ(::symlink("libc.so.6", Local(d.filePath("libc.so")).c_str()), 0);
    ASSERT_EQ(::symlink("src", Local(d.filePath("bin")).c_str()), 0);

    testsupport::PyFtpServer server;
    ASSERT_TRUE(server.Start(served.path())) << server.Error().toStdString();
    TFtpClient ftp;
    Aim(ftp, server.Port());
    ftp.SetTimeout(30);
    ASSERT_TRUE(ftp.Connect()) << ftp.ErrorMessage();
    QTemporaryDir local;
    const QString listingPath = local.filePath("ftpdir.txt");
    ftp.SetBinary(false);
    ASSERT_TRUE(ftp.TypeSet());
    ftp.SetHostFileName("");
    ftp.SetLocalFileName(Local(listingPath));
    ASSERT_TRUE(ftp.Dir()) << ftp.ErrorMessage();
    ftp.Quit();
    server.Stop();

    const std::string raw = ReadFile(listingPath);
    SCOPED_TRACE("LIST output:\n" + raw);
    ftp::TListing listing;
    ASSERT_TRUE(ftp::ReadListingFile(listingPath, listing));

    EXPECT_TRUE(Has(listing.Directories, "src"));
    EXPECT_TRUE(Has(listing.Directories, "dir with spaces"));
    const ftp::TDirEntry* file = FileNamed(listing, "my file.txt");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Size, "1234");
    EXPECT_EQ(std::count(file->Date.begin(), file->Date.end(), ' '), 2) << file->Date;
    EXPECT_NE(FileNamed(listing, "libc.so.6"), nullptr);

    // Links come as "l" lines with an arrow and the target: one without "." is listed as a
    // directory under its own name, one with "." stays a file row with its arrow and target.
    EXPECT_NE(raw.find("bin -> src"), std::string::npos);
    EXPECT_TRUE(Has(listing.Directories, "bin"));
    EXPECT_NE(FileNamed(listing, "libc.so -> libc.so.6"), nullptr);

    // Every line the server sent is accounted for: six entries, and nothing else but a "total"
    // line, if any.
    EXPECT_EQ(listing.Directories.size() + listing.Files.size(), 6u);
}
