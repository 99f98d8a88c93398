// The data connection against scripted servers: the end-of-transfer rule in both orders, failing
// replies, PORT texts, early and foreign data connections, restart offsets, local file failures,
// progress abort and the display of received lines.
#include "FtpTestUtil.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>

using namespace ftptest;

namespace {

void Sleep(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool Contains(const std::vector<std::string>& v, const std::string& prefix)
{
    for (const auto& s : v)
        if (s.rfind(prefix, 0) == 0) return true;
    return false;
}

struct Fixture {
    QTemporaryDir dir;
    TFtpClient ftp;
    EngineLog log;

    explicit Fixture(std::uint16_t port)
    {
        log.Attach(ftp);
        Aim(ftp, port);
    }
    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    bool ConnectAndClear()
    {
        const bool ok = ftp.Connect();
        ProcessEventsFor(20);
        log.done.clear();
        log.display.clear();
        log.events.clear();
        return ok;
    }
};

// ---- End of a download ----------------------------------------------------------------------

class FtpDownloadEnd : public ::testing::TestWithParam<bool> {};

TEST_P(FtpDownloadEnd, CompletesOnlyWhenReplyAndCloseHaveBothArrived)
{
    const bool replyFirst = GetParam();
    const std::string data = Pattern(300000, 1);
    std::atomic<bool> closing{false};
    std::atomic<bool> replied{false};
    ScriptServer server([&](ScriptSession& s) {
        Login(s);
        const std::uint16_t port = s.ExpectPort();
        s.Expect("RETR remote.bin");
        s.Send("150 Opening BINARY connection\r\n");
        RawFd d = s.ConnectData(port);
        testsupport::SendAll(d, data);
        if (replyFirst) {
            replied = true;
            s.Send("226 Transfer complete\r\n");
            Sleep(400);
            closing = true;
            d.Reset();
        } else {
            closing = true;
            ::shutdown(d.Get(), SHUT_WR);
            Sleep(400);
            replied = true;
            s.Send("226 Transfer complete\r\n");
        }
        s.ClientClosed(3000);
    });
    Fixture f(server.Port());
    ASSERT_TRUE(f.ConnectAndClear());
    f.ftp.SetHostFileName("remote.bin");
    f.ftp.SetLocalFileName(Local(f.Path("local.bin")));
    bool sawBoth = false;
    f.ftp.OnRequestDone = [&](QObject*, TFtpRequest rq, std::uint16_t e) {
        sawBoth = closing && replied;
        f.log.done.emplace_back(rq, e);
    };
    f.ftp.GetAsync();
    ASSERT_TRUE(f.log.WaitDone(1, 10000));
    ProcessEventsFor(100);
    EXPECT_TRUE(sawBoth);
    EXPECT_EQ(f.log.done, (std::vector<std::pair<int, int>>{{ftpGetAsync, 0}}));
    EXPECT_EQ(ReadFile(f.Path("local.bin")), data);
    EXPECT_EQ(f.ftp.ByteCount(), static_cast<std::int64_t>(data.size()));
    EXPECT_EQ(std::count_if(f.log.display.begin(), f.log.display.end(),
                            [](const std::string& l) {
                                return l.rfind("! 300000 bytes received/sent in ", 0) == 0;
                            }),
              1);
    EXPECT_EQ(f.ftp.DataSocket()->State(), wsClosed);
    EXPECT_TRUE(server.Failures().empty());
}

INSTANTIATE_TEST_SUITE_P(BothOrders, FtpDownloadEnd, ::testing::Values(true, false));

// ---- Failing replies ------------------------------------------------------------------------

TEST(FtpTransfers, ListAnswered550ClosesTheListeningSocket)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.ExpectPort();
        s.Expect("LIST");
        s.Send("550 No such directory\r\n");
        s.ClientClosed(3000);
    });
    Fixture f(server.Port());
    ASSERT_TRUE(f.ConnectAndClear());
    f.ftp.SetLocalFileName(Local(f.Path("ftpdir.txt")));
    EXPECT_FALSE(f.ftp.Dir());
    ProcessEventsFor(50);
    EXPECT_EQ(f.log.done, (std::vector<std::pair<int, int>>{{ftpDirAsync, 550}}));
    EXPECT_EQ(f.ftp.DataSocket()->State(), wsClosed);
    EXPECT_EQ(f.ftp.ErrorMessage(), "550 No such directory");
    EXPECT_FALSE(Contains(f.log.display, "! 0 bytes"));
    EXPECT_TRUE(f.log.Shows("> LIST"));
    EXPECT_EQ(ReadFile(f.Path("ftpdir.txt")), "");  // created empty, kept
}

TEST(FtpTransfers, RetrAnswered550InsideReceiveStillQuits)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.Expect("CWD pub");
        s.Send("250 ok\r\n");
        s.Expect("TYPE I");
        s.Send("200 Type set\r\n");
        s.ExpectPort();
        s.Expect("RETR missing.txt");
        s.Send("550 missing.txt: No such file\r\n");
        s.Expect("QUIT");
        s.Send("221 Bye\r\n");
        s.ClientClosed(3000);
    });
    Fixture f(server.Port());
    f.ftp.SetHostDirName("pub");
    f.ftp.SetHostFileName("missing.txt");
    f.ftp.SetLocalFileName(Local(f.Path("missing.txt")));
    f.ftp.ReceiveAsync();
    ASSERT_TRUE(f.log.WaitDone());
    ProcessEventsFor(100);
    EXPECT_EQ(f.log.done, (std::vector<std::pair<int, int>>{{ftpReceiveAsync, 550}}));
    EXPECT_EQ(f.ftp.LastResponse(), "550 missing.txt: No such file");
    EXPECT_EQ(f.ftp.StatusCode(), 550);
    EXPECT_EQ(f.ftp.ErrorMessage(), "550 missing.txt: No such file");
    EXPECT_TRUE(server.Failures().empty());
    EXPECT_EQ(server.Commands().back(), "QUIT");
}

TEST(FtpTransfers, PortAnswered500EndsWithoutRetr)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.ExpectPort("500 PORT not understood\r\n");
        s.ClientClosed(3000);
    });
    Fixture f(server.Port());
    ASSERT_TRUE(f.ConnectAndClear());
    f.ftp.SetHostFileName("x");
    f.ftp.SetLocalFileName(Local(f.Path("x")));
    EXPECT_FALSE(f.ftp.Get());
    ProcessEventsFor(50);
    EXPECT_EQ(f.log.done, (std::vector<std::pair<int, int>>{{ftpGetAsync, 500}}));
    EXPECT_FALSE(Contains(f.log.display, "> RETR"));
    EXPECT_EQ(f.ftp.DataSocket()->State(), wsClosed);
    EXPECT_FALSE(QFile::exists(f.Path("x")));  // no local file for a transfer that never began
}

TEST(FtpTransfers, MultiLineTransferRepliesKeepTheNextCommandInStep)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        const std::uint16_t port = s.ExpectPort();
        s.Expect("RETR f");
        s.Send("150-Opening\r\n150 data connection\r\n");
        RawFd d = s.ConnectData(port);
        testsupport::SendAll(d, "hello");
        d.Reset();
        s.Send("226-Transfer complete\r\n226 Quota: plenty\r\n");
        s.Expect("PWD");
        s.Send("257 \"/right\"\r\n");
        s.ClientClosed(3000);
    });
    Fixture f(server.Port());
    ASSERT_TRUE(f.ConnectAndClear());
    f.ftp.SetHostFileName("f");
    f.ftp.SetLocalFileName(Local(f.Path("f")));
    EXPECT_TRUE(f.ftp.Get());
    EXPECT_EQ(ReadFile(f.Path("f")), "hello");
    EXPECT_TRUE(f.ftp.Pwd());
    EXPECT_EQ(f.ftp.DirResult(), "/right");
}

// ---- PORT and the data connection's origin --------------------------------------------------

TEST(FtpTransfers, PortAnnouncesLoopbackOrTheControlConnectionsLocalAddress)
{
    std::uint16_t announced = 0;
    ScriptServer server([&](ScriptSession& s) {
        Login(s);
        announced = s.ExpectPort("500 no\r\n");
        s.ClientClosed(300);
    });
    Fixture f(server.Port());
    ASSERT_TRUE(f.ConnectAndClear());
    std::string listening;
    f.ftp.OnCommand = [&](QObject*, std::string& cmd) {
        if (cmd.rfind("PORT", 0) == 0) listening = f.ftp.DataSocket()->LocalPortText();
    };
    f.ftp.PortAsync();
    EXPECT_EQ(f.ftp.DataSocket()->State(), wsListening);
    ASSERT_TRUE(f.log.WaitDone());
    ASSERT_TRUE(server.WaitFinished());
    EXPECT_EQ(std::to_string(announced), listening);
    EXPECT_TRUE(Contains(f.log.display, "> PORT 127,0,0,1,"));

    // A server at another address is told the local address of the control connection.
    ScriptServer other(
        [&](ScriptSession& s) {
            Login(s);
            s.ExpectPort("500 no\r\n");
            s.ClientClosed(300);
        },
        "127.0.0.2");
    TFtpClient ftp2;
    ftp2.SetHostName("127.0.0.2");
    ftp2.SetPort(std::to_string(other.Port()));
    ftp2.SetUserName("u");
    ftp2.SetPassWord("p");
    ASSERT_TRUE(ftp2.Connect());
    ftp2.SetHostFileName("f");
    ftp2.SetLocalFileName(Local(f.Path("f2")));
    EXPECT_FALSE(ftp2.Get());
    ASSERT_TRUE(other.WaitFinished());
    const auto cmds = other.Commands();
    ASSERT_GE(cmds.size(), 3u);
    const std::string client = other.ClientAddress();
    std::string expect = "PORT " + client;
    std::replace(expect.begin(), expect.end(), '.', ',');
    EXPECT_EQ(cmds[2].rfind(expect + ",", 0), 0u) << cmds[2];
}

TEST(FtpTransfers, DataConnectionFromAnotherAddressIsRefused)
{
    std::atomic<bool> intruderClosed{false};
    ScriptServer server([&](ScriptSession& s) {
        Login(s);
        const std::uint16_t port = s.ExpectPort();
        s.Expect("RETR f");
        RawFd intruder = s.ConnectData(port, "127.0.0.2");
        pollfd p{intruder.Get(), POLLIN, 0};
        if (::poll(&p, 1, 3000) > 0) {
            char c;
            intruderClosed = ::recv(intruder.Get(), &c, 1, 0) <= 0;
        }
        s.Send("150 Opening\r\n");
        RawFd d = s.ConnectData(port);
        testsupport::SendAll(d, "genuine");
        d.Reset();
        s.Send("226 done\r\n");
        s.ClientClosed(3000);
    });
    Fixture f(server.Port());
    ASSERT_TRUE(f.ConnectAndClear());
    f.ftp.SetHostFileName("f");
    f.ftp.SetLocalFileName(Local(f.Path("f")));
    EXPECT_TRUE(f.ftp.Get());
    EXPECT_TRUE(intruderClosed);
    EXPECT_TRUE(f.log.Shows("! Data connection from 127.0.0.2 refused"));
    EXPECT_EQ(ReadFile(f.Path("f")), "genuine");
    EXPECT_TRUE(server.Failures().empty());
}

TEST(FtpTransfers, EarlyDataConnectionIsUsedOnlyAfterStor)
{
    const std::string data = Pattern(50000, 2);
    std::string received;
    std::atomic<bool> quietBeforeStor{false};
    ScriptServer server([&](ScriptSession& s) {
        Login(s);
        const std::uint16_t port = s.ExpectPort("");
        RawFd d = s.ConnectData(port);  // connects as soon as PORT arrives
        Sleep(300);
        pollfd p{d.Get(), POLLIN, 0};
        quietBeforeStor = ::poll(&p, 1, 0) == 0;
        s.Send("200 Active data connection established\r\n");
        s.Expect("STOR up.bin");
        s.Send("125 Data connection already open\r\n");
        received = testsupport::ReadUntilClosed(d, 10000);
        s.Send("226 Transfer complete\r\n");
        s.ClientClosed(300);
    });
    Fixture f(server.Port());
    ASSERT_TRUE(f.ConnectAndClear());
    ASSERT_TRUE(WriteFile(f.Path("up.bin"), data));
    f.ftp.SetHostFileName("up.bin");
    f.ftp.SetLocalFileName(Local(f.Path("up.bin")));
    EXPECT_TRUE(f.ftp.Put());
    ASSERT_TRUE(server.WaitFinished());
    EXPECT_TRUE(quietBeforeStor);
    EXPECT_EQ(received, data);
    EXPECT_EQ(f.log.done, (std::vector<std::pair<int, int>>{{ftpPutAsync, 0}}));
}

// ---- Restart, display, progress -------------------------------------------------------------

TEST(FtpTransfers, RestartedDownloadAppendsAtTheLocalSizeAndCountsFromIt)
{
    const std::string whole = Pattern(1500, 3);
    ScriptServer server([&](ScriptSession& s) {
        Login(s);
        const std::uint16_t port = s.ExpectPort();
        s.Expect("REST 1000");
        s.Send("350 Restarting at 1000\r\n");
        s.Expect("RETR f");
        s.Send("150 Opening\r\n");
        RawFd d = s.ConnectData(port);
        testsupport::SendAll(d, whole.substr(1000));
        d.Reset();
        s.Send("226 done\r\n");
        s.ClientClosed(3000);
    });
    Fixture f(server.Port());
    ASSERT_TRUE(f.ConnectAndClear());
    ASSERT_TRUE(WriteFile(f.Path("f"), whole.substr(0, 1000)));
    f.ftp.SetHostFileName("f");
    f.ftp.SetLocalFileName(Local(f.Path("f")));
    f.ftp.RestGetAsync();
    ASSERT_TRUE(f.log.WaitDone());
    EXPECT_EQ(f.log.done, (std::vector<std::pair<int, int>>{{ftpRestGetAsync, 0}}));
    EXPECT_EQ(ReadFile(f.Path("f")), whole);
    ASSERT_FALSE(f.log.progress.empty());
    EXPECT_EQ(f.log.progress.front(), 1000);
    EXPECT_EQ(f.ftp.ResumePos(), 0);
}

TEST(FtpTransfers, RestNotAnswered350DownloadsTheWholeFileAfresh)
{
    const std::string whole = Pattern(3000, 4);
    ScriptServer server([&](ScriptSession& s) {
        Login(s);
        const std::uint16_t port = s.ExpectPort();
        s.Expect("REST 700");
        s.Send("200 whatever\r\n");
        s.Expect("RETR f");
        s.Send("150 Opening\r\n");
        RawFd d = s.ConnectData(port);
        testsupport::SendAll(d, whole);
        d.Reset();
        s.Send("226 done\r\n");
        s.ClientClosed(3000);
    });
    Fixture f(server.Port());
    ASSERT_TRUE(f.ConnectAndClear());
    ASSERT_TRUE(WriteFile(f.Path("f"), std::string(700, 'z')));
    f.ftp.SetHostFileName("f");
    f.ftp.SetLocalFileName(Local(f.Path("f")));
    f.ftp.RestGetAsync();
    ASSERT_TRUE(f.log.WaitDone());
    EXPECT_EQ(f.log.done[0].second, 0);
    EXPECT_EQ(ReadFile(f.Path("f")), whole);
    EXPECT_EQ(f.log.progress.front(), 0);
}

TEST(FtpTransfers, DisplayFlagShowsReceivedLines)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        const std::uint16_t port = s.ExpectPort();
        s.Expect("NLST");
        s.Send("150 Opening\r\n");
        RawFd d = s.ConnectData(port);
        testsupport::SendAll(d, "ab\r\ncd");
        d.Reset();
        s.Send("226 done\r\n");
        s.ClientClosed(3000);
    });
    Fixture f(server.Port());
    ASSERT_TRUE(f.ConnectAndClear());
    f.ftp.SetDisplayFlag(true);
    f.ftp.SetLocalFileName(Local(f.Path("ls.txt")));
    f.ftp.LsAsync();
    ASSERT_TRUE(f.log.WaitDone());
    std::vector<std::string> data;
    for (const auto& l : f.log.display)
        if (l.rfind("! Data: ", 0) == 0) data.push_back(l);
    EXPECT_EQ(data, (std::vector<std::string>{"! Data: ab", "! Data: cd"}));
    EXPECT_EQ(f.log.done, (std::vector<std::pair<int, int>>{{ftpLsAsync, 0}}));
}

TEST(FtpTransfers, AbortThroughProgressFailsEvenWhenTheServerReportsSuccess)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        const std::uint16_t port = s.ExpectPort();
        s.Expect("RETR f");
        s.Send("150 Opening\r\n");
        RawFd d = s.ConnectData(port);
        testsupport::SendAll(d, Pattern(10000));
        Sleep(200);
        s.Send("226 done\r\n");
        s.ClientClosed(3000);
    });
    Fixture f(server.Port());
    ASSERT_TRUE(f.ConnectAndClear());
    f.ftp.OnProgress = [](QObject*, std::int64_t count, bool& abort) { abort = count > 0; };
    f.ftp.SetHostFileName("f");
    f.ftp.SetLocalFileName(Local(f.Path("f")));
    EXPECT_FALSE(f.ftp.Get());
    EXPECT_TRUE(f.log.Shows("! Abort requested"));
    EXPECT_EQ(f.log.done, (std::vector<std::pair<int, int>>{{ftpGetAsync, 426}}));
    EXPECT_EQ(f.ftp.ErrorMessage(), "426 Abort requested");
}

// ---- Local files ----------------------------------------------------------------------------

TEST(FtpTransfers, DownloadThatCannotCreateItsFileClosesTheDataSocket)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.ExpectPort();
        s.ClientClosed(3000);
    });
    Fixture f(server.Port());
    ASSERT_TRUE(f.ConnectAndClear());
    f.ftp.SetHostFileName("f");
    const std::string bad = Local(f.Path("no/such/dir/f"));
    f.ftp.SetLocalFileName(bad);
    EXPECT_FALSE(f.ftp.Get());
    EXPECT_EQ(f.log.done, (std::vector<std::pair<int, int>>{{ftpGetAsync, 550}}));
    EXPECT_EQ(f.ftp.LastResponse(), "Unable to open local file " + bad);
    EXPECT_EQ(f.ftp.StatusCode(), 550);
    EXPECT_EQ(f.ftp.DataSocket()->State(), wsClosed);
    EXPECT_FALSE(Contains(f.log.display, "> RETR"));
}

TEST(FtpTransfers, UploadThatCannotOpenItsFileOrIsCancelledEndsWith426)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.ExpectPort();
        s.ExpectPort();
        s.ClientClosed(3000);
    });
    Fixture f(server.Port());
    ASSERT_TRUE(f.ConnectAndClear());
    f.ftp.SetHostFileName("f");
    const std::string missing = Local(f.Path("missing.bin"));
    f.ftp.SetLocalFileName(missing);
    EXPECT_FALSE(f.ftp.Put());
    EXPECT_TRUE(f.log.Shows("! 426 Unable to open local file " + missing));
    EXPECT_EQ(f.ftp.ErrorMessage(), "426 Unable to open local file " + missing);
    EXPECT_EQ(f.ftp.DataSocket()->State(), wsClosed);

    ASSERT_TRUE(WriteFile(f.Path("there.bin"), "x"));
    f.ftp.SetLocalFileName(Local(f.Path("there.bin")));
    f.ftp.OnReadyToTransmit = [](QObject*, bool& cancel) { cancel = true; };
    EXPECT_FALSE(f.ftp.Put());
    EXPECT_TRUE(f.log.Shows("! 426 Transmit cancelled by application"));
    EXPECT_EQ(f.ftp.ErrorMessage(), "426 Transmit cancelled by application");
    ProcessEventsFor(50);
    EXPECT_EQ(f.log.done,
              (std::vector<std::pair<int, int>>{{ftpPutAsync, 426}, {ftpPutAsync, 426}}));
    EXPECT_FALSE(Contains(f.log.display, "> STOR"));
}

TEST(FtpTransfers, LocalWriteFailureIsAFailureEvenWhenTheServerSucceeds)
{
    if (!QFile::exists(QStringLiteral("/dev/full"))) GTEST_SKIP() << "no /dev/full";
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        const std::uint16_t port = s.ExpectPort();
        s.Expect("RETR f");
        s.Send("150 Opening\r\n");
        RawFd d = s.ConnectData(port);
        testsupport::SendAll(d, Pattern(100000));
        d.Reset();
        s.Send("226 done\r\n");
        s.ClientClosed(3000);
    });
    Fixture f(server.Port());
    ASSERT_TRUE(f.ConnectAndClear());
    f.ftp.SetHostFileName("f");
    f.ftp.SetLocalFileName("/dev/full");
    EXPECT_FALSE(f.ftp.Get());
    EXPECT_TRUE(f.log.Shows("! Error writing local file"));
    ASSERT_EQ(f.log.done.size(), 1u);
    EXPECT_NE(f.log.done[0].second, 0);
}

TEST(FtpTransfers, UploadCutShortByTheServerIsAFailure)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        const std::uint16_t port = s.ExpectPort();
        s.Expect("STOR f");
        s.Send("150 Opening\r\n");
        RawFd d = s.ConnectData(port);
        testsupport::ReadUpTo(d, 1000, 3000);
        d.Reset();  // an orderly close long before the end of the file
        s.Send("226 done\r\n");
        s.ClientClosed(3000);
    });
    Fixture f(server.Port());
    ASSERT_TRUE(f.ConnectAndClear());
    ASSERT_TRUE(WriteFile(f.Path("big"), Pattern(20 * 1024 * 1024)));
    f.ftp.SetHostFileName("f");
    f.ftp.SetLocalFileName(Local(f.Path("big")));
    EXPECT_FALSE(f.ftp.Put());
    ASSERT_EQ(f.log.done.size(), 1u);
    EXPECT_NE(f.log.done[0].second, 0);
}

TEST(FtpTransfers, UploadEndsInOrderWhenTheServerReadsLate)
{
    // With a tiny receive window on the server the engine reaches the end of the file and closes
    // while most of it still waits in its own send buffer: a close that resets the connection
    // would lose that part.
    const std::string data = Pattern(400 * 1024, 5);
    std::string received;
    ScriptServer server([&](ScriptSession& s) {
        Login(s);
        const std::uint16_t port = s.ExpectPort();
        s.Expect("STOR late");
        s.Send("150 Opening\r\n");
        RawFd d = s.ConnectData(port, nullptr, 4096);
        Sleep(1000);
        received = testsupport::ReadUntilClosed(d, 15000);
        s.Send("226 done\r\n");
        s.ClientClosed(300);
    });
    Fixture f(server.Port());
    ASSERT_TRUE(f.ConnectAndClear());
    ASSERT_TRUE(WriteFile(f.Path("late"), data));
    f.ftp.SetHostFileName("late");
    f.ftp.SetLocalFileName(Local(f.Path("late")));
    EXPECT_TRUE(f.ftp.Put());
    ASSERT_TRUE(server.WaitFinished(20000));
    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data);
}

TEST(FtpTransfers, EmptyFileUploadsAsZeroBytes)
{
    std::string received = "unset";
    ScriptServer server([&](ScriptSession& s) {
        Login(s);
        const std::uint16_t port = s.ExpectPort();
        s.Expect("STOR empty");
        s.Send("150 Opening\r\n");
        RawFd d = s.ConnectData(port);
        bool closed = false;
        received = testsupport::ReadUntilClosed(d, 5000, &closed);
        if (!closed) s.Fail("data connection not closed");
        s.Send("226 done\r\n");
        s.ClientClosed(300);
    });
    Fixture f(server.Port());
    ASSERT_TRUE(f.ConnectAndClear());
    ASSERT_TRUE(WriteFile(f.Path("empty"), ""));
    f.ftp.SetHostFileName("empty");
    f.ftp.SetLocalFileName(Local(f.Path("empty")));
    EXPECT_TRUE(f.ftp.Put());
    ASSERT_TRUE(server.WaitFinished());
    EXPECT_EQ(received, "");
    EXPECT_TRUE(Contains(f.log.display, "! 0 bytes received/sent in 0 seconds"));
    EXPECT_TRUE(server.Failures().empty());
}

}  // namespace

// ---- Passive mode -----------------------------------------------------------------------------

namespace {

TEST(FtpPassive, ReplyReaders)
{
    struct Epsv {
        const char* reply;
        int port;  // 0: no usable port
    };
    for (const Epsv& row :
         {Epsv{"229 Entering Extended Passive Mode (|||6446|)", 6446},
          Epsv{"229 ok (!!!65535!)", 65535}, Epsv{"229 (|||1|) trailing", 1},
          Epsv{"229 Entering Extended Passive Mode (|||0|)", 0}, Epsv{"229 (|||65536|)", 0},
          Epsv{"229 (|||99999999999999999999|)", 0}, Epsv{"229 (|||abc|)", 0},
          Epsv{"229 (||6446|)", 0}, Epsv{"229 (|||6446)", 0}, Epsv{"229 (1116441)", 0},
          Epsv{"229 |||6446|", 0}, Epsv{"229 (|||6446|", 0}, Epsv{"229", 0}}) {
        int port = -1;
        const bool ok = TCustomFtpCli::ParseEpsvReply(row.reply, port);
        EXPECT_EQ(ok, row.port != 0) << row.reply;
        if (ok) {
            EXPECT_EQ(port, row.port) << row.reply;
        }
    }
    struct Pasv {
        const char* reply;
        const char* address;
        int port;  // 0: no usable port
    };
    for (const Pasv& row :
         {Pasv{"227 Entering Passive Mode (127,0,0,1,19,137)", "127.0.0.1", 5001},
          Pasv{"227 Entering Passive Mode 10,1,2,3,255,255", "10.1.2.3", 65535},
          Pasv{"227 =192,0,2,7,0,1", "192.0.2.7", 1},
          Pasv{"227 Entering Passive Mode (127,0,0,1,0,0)", "", 0},
          Pasv{"227 Entering Passive Mode (127,0,0,1,300,1)", "", 0},
          Pasv{"227 Entering Passive Mode (127,0,0,1,4)", "", 0},
          Pasv{"227 Entering Passive Mode (127,0,0,1,4,5,6)", "", 0},
          Pasv{"227 Entering Passive Mode (256,0,0,1,4,5)", "", 0},
          Pasv{"227 Entering Passive Mode (127,0,0,1,,5)", "", 0}, Pasv{"227 no numbers", "", 0}}) {
        std::uint32_t address = 0;
        int port = -1;
        const bool ok = TCustomFtpCli::ParsePasvReply(row.reply, address, port);
        EXPECT_EQ(ok, row.port != 0) << row.reply;
        if (!ok) continue;
        EXPECT_EQ(port, row.port) << row.reply;
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &address, text, sizeof text);
        EXPECT_STREQ(text, row.address) << row.reply;
    }
}

// One scripted passive exchange: the replies to EPSV and (when not empty) to PASV, where {port}
// stands for the port of a listening data socket of the server, {p1},{p2} for its two bytes.
struct PassiveRow {
    const char* name;
    const char* epsvReply;
    const char* pasvReply;  // empty: no PASV expected
    int result;             // 0: the download succeeds
    const char* errorStart;
};

void PrintTo(const PassiveRow& row, std::ostream* os)
{
    *os << row.name;
}

class FtpPassiveReplies : public ::testing::TestWithParam<PassiveRow> {};

TEST_P(FtpPassiveReplies, ConnectToTheControlPeerOrFailCleanly)
{
    const PassiveRow& row = GetParam();
    const std::string data = Pattern(70000, 9);
    std::uint16_t dataPort = 0;
    RawFd listener = testsupport::ListenLoopback(dataPort);
    ASSERT_TRUE(listener.Valid());
    if (row.result != 0) listener.Reset();  // failing rows: nothing listens there
    const auto fill = [&](std::string text) {
        const auto put = [&text](const std::string& key, const std::string& value) {
            for (std::size_t at; (at = text.find(key)) != std::string::npos;)
                text.replace(at, key.size(), value);
        };
        put("{port}", std::to_string(dataPort));
        put("{p1}", std::to_string(dataPort >> 8));
        put("{p2}", std::to_string(dataPort & 0xFF));
        return text + "\r\n";
    };
    ScriptServer server([&](ScriptSession& s) {
        Login(s);
        s.Expect("EPSV");
        s.Send(fill(row.epsvReply));
        if (*row.pasvReply) {
            s.Expect("PASV");
            s.Send(fill(row.pasvReply));
        }
        if (row.result != 0) {
            s.ClientClosed(1000);
            return;
        }
        RawFd d = testsupport::AcceptWithin(listener, 5000);
        if (!d.Valid()) s.Fail("no data connection");
        s.Expect("RETR f");
        s.Send("150 Opening\r\n");
        testsupport::SendAll(d, data);
        d.Reset();
        s.Send("226 done\r\n");
        s.ClientClosed(3000);
    });
    Fixture f(server.Port());
    ASSERT_TRUE(f.ConnectAndClear());
    f.ftp.SetPassive(true);
    f.ftp.SetHostFileName("f");
    f.ftp.SetLocalFileName(Local(f.Path("f")));
    EXPECT_EQ(f.ftp.Get(), row.result == 0);
    ProcessEventsFor(50);
    ASSERT_EQ(f.log.done.size(), 1u);
    EXPECT_EQ(f.log.done[0], std::make_pair(static_cast<int>(ftpGetAsync), row.result));
    EXPECT_EQ(f.ftp.DataSocket()->State(), wsClosed);  // nothing left listening or connecting
    EXPECT_EQ(f.ftp.State(), fsReady);
    if (row.result == 0) {
        EXPECT_EQ(ReadFile(f.Path("f")), data);
        EXPECT_TRUE(
            f.log.Shows("! Passive: connecting to 127.0.0.1 port " + std::to_string(dataPort)));
    } else {
        EXPECT_FALSE(Contains(f.log.display, "> RETR"));
        EXPECT_EQ(f.ftp.ErrorMessage().rfind(row.errorStart, 0), 0u) << f.ftp.ErrorMessage();
        EXPECT_TRUE(f.ftp.Connected());
    }
    ASSERT_TRUE(server.WaitFinished());
    EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FtpPassiveReplies,
    ::testing::Values(
        PassiveRow{"Epsv", "229 Entering Extended Passive Mode (|||{port}|)", "", 0, ""},
        PassiveRow{"EpsvRefusedThenPasv", "500 EPSV not understood",
                   "227 Entering Passive Mode (127,0,0,1,{p1},{p2})", 0, ""},
        // The named address is another one: the client connects to the control peer instead.
        PassiveRow{"PasvNamingAnotherAddress", "502 no",
                   "227 Entering Passive Mode (127,0,0,2,{p1},{p2})", 0, ""},
        PassiveRow{"BothRefused", "502 no EPSV", "502 no PASV either", 502, "502 no PASV"},
        PassiveRow{"EpsvFailsOtherwise", "421 Too many connections", "", 421, "421 Too many"},
        PassiveRow{"EpsvMalformed", "229 Entering Extended Passive Mode (|||x|)", "", 425,
                   "425 Passive: the reply names no usable port"},
        PassiveRow{"EpsvPortZero", "229 Entering Extended Passive Mode (|||0|)", "", 425,
                   "425 Passive: the reply names no usable port"},
        PassiveRow{"EpsvPortTooLarge", "229 Entering Extended Passive Mode (|||65536|)", "", 425,
                   "425 Passive: the reply names no usable port"},
        PassiveRow{"PasvMalformed", "501 no", "227 Entering Passive Mode (127,0,0,1,{p1})", 425,
                   "425 Passive: the reply names no usable port"},
        PassiveRow{"PasvPortZero", "501 no", "227 Entering Passive Mode (127,0,0,1,0,0)", 425,
                   "425 Passive: the reply names no usable port"},
        PassiveRow{"PasvPortTooLarge", "501 no", "227 Entering Passive Mode (127,0,0,1,256,0)", 425,
                   "425 Passive: the reply names no usable port"},
        PassiveRow{"NothingListening", "229 Entering Extended Passive Mode (|||{port}|)", "", 10061,
                   "425 Passive: cannot connect to 127.0.0.1 port "}),
    [](const ::testing::TestParamInfo<PassiveRow>& info) { return info.param.name; });

TEST(FtpPassive, SilentDataConnectionEndsByTimeoutAndActiveTimeoutIsRecognised)
{
    // Passive: the server accepts the data connection, answers 150 and never sends.
    std::uint16_t dataPort = 0;
    RawFd listener = testsupport::ListenLoopback(dataPort);
    ASSERT_TRUE(listener.Valid());
    ScriptServer server([&](ScriptSession& s) {
        Login(s);
        s.Expect("EPSV");
        s.Send("229 Entering Extended Passive Mode (|||" + std::to_string(dataPort) + "|)\r\n");
        RawFd d = testsupport::AcceptWithin(listener, 5000);
        s.Expect("RETR f");
        s.Send("150 Opening\r\n");
        s.ClientClosed(10000);
    });
    Fixture f(server.Port());
    ASSERT_TRUE(f.ConnectAndClear());
    f.ftp.SetPassive(true);
    f.ftp.SetTimeout(1);
    f.ftp.SetHostFileName("f");
    f.ftp.SetLocalFileName(Local(f.Path("f")));
    EXPECT_FALSE(f.ftp.Get());
    EXPECT_EQ(f.ftp.ErrorMessage(), "426 Timeout");
    EXPECT_FALSE(f.ftp.TimedOutAwaitingData()) << "the connection was there";
    EXPECT_EQ(f.ftp.DataSocket()->State(), wsClosed);
    ASSERT_TRUE(server.WaitFinished());

    // Active: the server takes PORT and RETR and never connects.
    ScriptServer active([](ScriptSession& s) {
        Login(s);
        s.ExpectPort();
        s.Expect("RETR f");
        s.ClientClosed(10000);
    });
    TFtpClient ftp;
    Aim(ftp, active.Port());
    ftp.SetTimeout(1);
    ASSERT_TRUE(ftp.Connect());
    ftp.SetHostFileName("f");
    ftp.SetLocalFileName(Local(f.Path("g")));
    EXPECT_FALSE(ftp.Get());
    EXPECT_TRUE(ftp.TimedOutAwaitingData());
    EXPECT_EQ(ftp.DataSocket()->State(), wsClosed);
}

TEST(FtpPassive, UploadEndsWhenTheServerKeepsItsEndOpenAfterTheReply)
{
    // The end of the file reaches the server as the end of the stream; the server answers 226
    // but never closes its end: the engine closes its own and the upload is complete.
    const std::string data = Pattern(3 << 20, 12);
    std::string received;
    std::atomic<bool> clientClosedData{false};
    std::uint16_t dataPort = 0;
    RawFd listener = testsupport::ListenLoopback(dataPort);
    ASSERT_TRUE(listener.Valid());
    ScriptServer server([&](ScriptSession& s) {
        Login(s);
        s.Expect("EPSV");
        s.Send("229 (|||" + std::to_string(dataPort) + "|)\r\n");
        RawFd d = testsupport::AcceptWithin(listener, 5000);
        s.Expect("STOR up");
        s.Send("150 Opening\r\n");
        bool closed = false;
        received = testsupport::ReadUntilClosed(d, 10000, &closed);
        if (!closed) s.Fail("no end of stream");
        s.Send("226 done\r\n");
        // Writing to a connection the client has closed fails, sooner or later.
        for (int i = 0; i < 100 && !clientClosedData; ++i) {
            Sleep(20);
            clientClosedData = ::send(d.Get(), "x", 1, MSG_NOSIGNAL) < 0;
        }
        s.ClientClosed(3000);
    });
    Fixture f(server.Port());
    ASSERT_TRUE(f.ConnectAndClear());
    ASSERT_TRUE(WriteFile(f.Path("up"), data));
    f.ftp.SetPassive(true);
    f.ftp.SetHostFileName("up");
    f.ftp.SetLocalFileName(Local(f.Path("up")));
    EXPECT_TRUE(f.ftp.Put());
    ASSERT_TRUE(server.WaitFinished());
    EXPECT_TRUE(received == data);
    EXPECT_TRUE(clientClosedData);
    ASSERT_FALSE(f.log.progress.empty());
    EXPECT_EQ(f.log.progress.front(), 0);
    EXPECT_EQ(f.log.progress.back(), static_cast<std::int64_t>(data.size()));
}

}  // namespace
