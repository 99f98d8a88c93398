// The engine against a real FTP server (pyftpdlib on loopback): session commands, directory
// commands, listings, byte-exact transfers in both directions, restart, rename, size, ASCII type.
#include "FtpTestUtil.h"
#include "peers/FtpServerFixture.h"

#include <QElapsedTimer>

using namespace ftptest;

namespace {

class FtpRealServer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server_ = new testsupport::PyFtpServer();
        if (!testsupport::PyFtpServer::Available() || !server_->Start()) startError_ = true;
    }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override
    {
        if (startError_) GTEST_SKIP() << "pyftpdlib not available (python3-pyftpdlib)";
        log.Attach(ftp);
        Aim(ftp, server_->Port(), server_->User().toStdString(), server_->Password().toStdString());
        ftp.SetTimeout(30);
        ASSERT_TRUE(local.isValid());
        ASSERT_TRUE(ftp.Connect()) << ftp.ErrorMessage();
    }
    void TearDown() override
    {
        if (ftp.Connected()) ftp.Quit();
    }
    static QString ServerPath(const QString& name) { return server_->PathOf(name); }
    QString LocalPath(const QString& name) const { return local.filePath(name); }

    // Uploads `data` as `name`, downloads it again, and compares both copies by SHA-256.
    void RoundTrip(const QString& name, const std::string& data)
    {
        SCOPED_TRACE(name.toStdString());
        const QString up = LocalPath(name + QStringLiteral(".up"));
        const QString down = LocalPath(name + QStringLiteral(".down"));
        ASSERT_TRUE(WriteFile(up, data));
        ftp.SetBinary(true);  // the server starts in ASCII type, which rewrites line ends
        ASSERT_TRUE(ftp.TypeSet());
        const QByteArray sha = Sha256OfFile(up);
        ftp.SetHostFileName(name.toStdString());
        ftp.SetLocalFileName(Local(up));
        ASSERT_TRUE(ftp.Put()) << ftp.ErrorMessage();
        EXPECT_EQ(ftp.ByteCount(), static_cast<std::int64_t>(data.size()));
        EXPECT_EQ(Sha256OfFile(ServerPath(name)), sha);
        ftp.SetLocalFileName(Local(down));
        ASSERT_TRUE(ftp.Get()) << ftp.ErrorMessage();
        EXPECT_EQ(ftp.ByteCount(), static_cast<std::int64_t>(data.size()));
        EXPECT_EQ(Sha256OfFile(down), sha);
    }

    static testsupport::PyFtpServer* server_;
    static bool startError_;
    QTemporaryDir local;
    TFtpClient ftp;
    EngineLog log;
};

testsupport::PyFtpServer* FtpRealServer::server_ = nullptr;
bool FtpRealServer::startError_ = false;

TEST_F(FtpRealServer, DirectoryCommands)
{
    ASSERT_TRUE(ftp.Pwd());
    EXPECT_EQ(ftp.DirResult(), "/");
    ftp.SetHostFileName("sub dir");
    ASSERT_TRUE(ftp.Mkd()) << ftp.ErrorMessage();
    EXPECT_EQ(ftp.DirResult(), "/sub dir");
    EXPECT_TRUE(QFileInfo(ServerPath(QStringLiteral("sub dir"))).isDir());
    ftp.SetHostDirName("sub dir");
    ASSERT_TRUE(ftp.Cwd());
    ASSERT_TRUE(ftp.Pwd());
    EXPECT_EQ(ftp.DirResult(), "/sub dir");
    ASSERT_TRUE(ftp.CDup());
    ASSERT_TRUE(ftp.Pwd());
    EXPECT_EQ(ftp.DirResult(), "/");
    ASSERT_TRUE(ftp.Rmd());
    EXPECT_FALSE(QFileInfo::exists(ServerPath(QStringLiteral("sub dir"))));
    ftp.SetHostDirName("no-such-dir");
    EXPECT_FALSE(ftp.Cwd());
    EXPECT_EQ(ftp.ErrorMessage().substr(0, 3), "550");
    ProcessEventsFor(50);
    EXPECT_EQ(log.done.back(), std::make_pair(static_cast<int>(ftpCwdAsync), 550));
}

TEST_F(FtpRealServer, SmallFilesRoundTripByteExact)
{
    ftp.SetBinary(true);
    ASSERT_TRUE(ftp.TypeSet());
    RoundTrip(QStringLiteral("zero.bin"), "");
    RoundTrip(QStringLiteral("one.bin"), "\x7f");
    RoundTrip(QStringLiteral("mib.bin"), Pattern(1 << 20, 7));
    // The server connects as soon as it gets PORT; the transfer takes that connection over.
    EXPECT_TRUE(log.ShowsPrefix("< 200 Active data connection established"));
    EXPECT_TRUE(log.ShowsPrefix("! 1048576 bytes received/sent in "));
}

TEST_F(FtpRealServer, HundredMebibytesRoundTripByteExact)
{
    RoundTrip(QStringLiteral("big.bin"), Pattern(100u << 20, 9));
}

TEST_F(FtpRealServer, ConsecutiveUploadsDoNotDisturbEachOther)
{
    for (int i = 0; i < 4; ++i) {
        const QString name = QStringLiteral("seq%1.bin").arg(i);
        const std::string data = Pattern(3000 + static_cast<std::size_t>(i), 20 + i);
        ASSERT_TRUE(WriteFile(LocalPath(name), data));
        ftp.SetHostFileName(name.toStdString());
        ftp.SetLocalFileName(Local(LocalPath(name)));
        ASSERT_TRUE(ftp.Put()) << i << " " << ftp.ErrorMessage();
        EXPECT_EQ(ReadFile(ServerPath(name)), data);
    }
}

TEST_F(FtpRealServer, ListingIntoAFileAndDelete)
{
    ASSERT_TRUE(WriteFile(ServerPath(QStringLiteral("listed.txt")), "abc"));
    ftp.SetBinary(false);
    ASSERT_TRUE(ftp.TypeSet());
    ftp.SetHostFileName("");
    ftp.SetLocalFileName(Local(LocalPath(QStringLiteral("ftpdir.txt"))));
    ASSERT_TRUE(ftp.Dir());
    const std::string listing = ReadFile(LocalPath(QStringLiteral("ftpdir.txt")));
    EXPECT_NE(listing.find("listed.txt\r\n"), std::string::npos) << listing;
    ProcessEventsFor(50);
    EXPECT_EQ(log.done.back(), std::make_pair(static_cast<int>(ftpDirAsync), 0));

    ftp.SetHostFileName("listed.txt");
    ASSERT_TRUE(ftp.Dele());
    EXPECT_FALSE(QFileInfo::exists(ServerPath(QStringLiteral("listed.txt"))));
    EXPECT_FALSE(ftp.Dele());
}

TEST_F(FtpRealServer, AsciiTypeAgainstBinaryOnLineFeedText)
{
    ASSERT_TRUE(WriteFile(ServerPath(QStringLiteral("unix.txt")), "one\ntwo\n"));
    ftp.SetHostFileName("unix.txt");
    ftp.SetLocalFileName(Local(LocalPath(QStringLiteral("ascii.txt"))));
    ftp.SetBinary(false);
    ASSERT_TRUE(ftp.TypeSet());
    ASSERT_TRUE(ftp.Get());
    EXPECT_EQ(ReadFile(LocalPath(QStringLiteral("ascii.txt"))), "one\r\ntwo\r\n");
    ftp.SetLocalFileName(Local(LocalPath(QStringLiteral("binary.txt"))));
    ftp.SetBinary(true);
    ASSERT_TRUE(ftp.TypeSet());
    ASSERT_TRUE(ftp.Get());
    EXPECT_EQ(ReadFile(LocalPath(QStringLiteral("binary.txt"))), "one\ntwo\n");
}

TEST_F(FtpRealServer, ChainedRenameSizeAndRestart)
{
    ASSERT_TRUE(ftp.Quit());
    const std::string data = Pattern(200000, 11);
    ASSERT_TRUE(WriteFile(ServerPath(QStringLiteral("old.bin")), data));

    ftp.SetHostDirName("");
    ftp.SetHostFileName("old.bin");
    ftp.SetLocalFileName("new.bin");  // the new name for RNTO
    ProcessEventsFor(20);
    log.done.clear();
    ftp.RenameAsync();
    ASSERT_TRUE(log.WaitDone());
    EXPECT_EQ(log.done[0], std::make_pair(static_cast<int>(ftpRenameAsync), 0));
    EXPECT_TRUE(QFileInfo::exists(ServerPath(QStringLiteral("new.bin"))));
    EXPECT_FALSE(ftp.Connected());

    // The chain has no TYPE step and the server refuses SIZE in its initial ASCII type; the
    // caller still sees the SIZE reply, not QUIT's.
    ftp.SetHostFileName("new.bin");
    ftp.FileSizeAsync();
    ASSERT_TRUE(log.WaitDone(2));
    EXPECT_EQ(log.done[1].first, ftpSizeAsync);
    EXPECT_EQ(ftp.StatusCode(), log.done[1].second == 0 ? 213 : log.done[1].second);
    EXPECT_EQ(ftp.LastResponse().substr(0, 3), std::to_string(ftp.StatusCode()));
    EXPECT_FALSE(ftp.Connected());
    ASSERT_TRUE(ftp.Connect());
    ftp.SetBinary(true);
    ASSERT_TRUE(ftp.TypeSet());
    log.done.clear();
    ftp.SizeAsync();
    ASSERT_TRUE(log.WaitDone(1));
    EXPECT_EQ(log.done[0], std::make_pair(static_cast<int>(ftpSizeAsync), 0));
    EXPECT_EQ(ftp.SizeResult(), static_cast<std::int64_t>(data.size()));
    ASSERT_TRUE(ftp.Quit());
    log.done.clear();

    // A half-downloaded file is completed from where it stopped.
    const QString part = LocalPath(QStringLiteral("new.bin"));
    ASSERT_TRUE(WriteFile(part, data.substr(0, 123457)));
    ftp.SetLocalFileName(Local(part));
    ftp.RestartGetAsync();
    ASSERT_TRUE(log.WaitDone(1, 30000));
    EXPECT_EQ(log.done[0], std::make_pair(static_cast<int>(ftpRestartGetAsync), 0));
    EXPECT_EQ(ReadFile(part), data);
    EXPECT_TRUE(log.Shows("> REST 123457"));
    EXPECT_EQ(ftp.ByteCount(), static_cast<std::int64_t>(data.size() - 123457));
    EXPECT_FALSE(ftp.Connected());
}

TEST_F(FtpRealServer, WrongPasswordFailsTheLogin)
{
    ftp.Quit();
    ftp.SetPassWord("wrong");
    EXPECT_FALSE(ftp.Connect());
    EXPECT_EQ(ftp.ErrorMessage().substr(0, 3), "530");
    ProcessEventsFor(50);
    EXPECT_EQ(log.done.back(), std::make_pair(static_cast<int>(ftpConnectAsync), 530));
}

TEST_F(FtpRealServer, ErrorMessageIsTheFailingRequestsOwn)
{
    ftp.SetHostFileName("twice");
    ASSERT_TRUE(ftp.Mkd());
    EXPECT_FALSE(ftp.Mkd());  // exists already
    const std::string mkdError = ftp.ErrorMessage();
    EXPECT_EQ(mkdError.substr(0, 3), "550");
    ftp.SetHostFileName("never-made");
    EXPECT_FALSE(ftp.Rmd());
    EXPECT_EQ(ftp.ErrorMessage(), ftp.LastResponse()) << "RMD's own reply, not " << mkdError;
    EXPECT_NE(ftp.ErrorMessage(), mkdError);
    ASSERT_TRUE(ftp.Pwd());
    EXPECT_EQ(ftp.ErrorMessage(), "");
}

// The same server in passive mode (pyftpdlib's default way of working).
class FtpRealServerPassive : public FtpRealServer {
protected:
    void SetUp() override
    {
        FtpRealServer::SetUp();
        ftp.SetPassive(true);
    }
};

TEST_F(FtpRealServerPassive, ListingAndFilesOfEverySizeRoundTrip)
{
    ASSERT_TRUE(WriteFile(ServerPath(QStringLiteral("listed.txt")), "abc"));
    ftp.SetHostFileName("");
    ftp.SetLocalFileName(Local(LocalPath(QStringLiteral("ftpdir.txt"))));
    ASSERT_TRUE(ftp.Dir()) << ftp.ErrorMessage();
    EXPECT_NE(ReadFile(LocalPath(QStringLiteral("ftpdir.txt"))).find("listed.txt"),
              std::string::npos);
    EXPECT_TRUE(log.Shows("> EPSV"));
    EXPECT_TRUE(log.ShowsPrefix("! Passive: connecting to 127.0.0.1 port "));
    EXPECT_FALSE(log.ShowsPrefix("> PORT"));

    RoundTrip(QStringLiteral("zero.bin"), "");
    RoundTrip(QStringLiteral("one.bin"), "\x7f");
    RoundTrip(QStringLiteral("mib.bin"), Pattern(1 << 20, 7));
    log.progress.clear();
    QElapsedTimer timer;
    timer.start();
    RoundTrip(QStringLiteral("big.bin"), Pattern(100u << 20, 9));
    // Two transfers: each reports its start and its end, and at most every 50 ms in between.
    const auto allowed = 2 * 2 + static_cast<std::size_t>(timer.elapsed() / 50);
    EXPECT_LE(log.progress.size(), allowed);
    EXPECT_EQ(log.progress.back(), static_cast<std::int64_t>(100u << 20));
    EXPECT_EQ(ftp.DataSocket()->State(), wsClosed);
}

TEST_F(FtpRealServerPassive, RestartAndAbort)
{
    ExpectRestartAndAbort(ftp, log, QDir(server_->Directory()), QDir(local.path()));
}

}  // namespace
