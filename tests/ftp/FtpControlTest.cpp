// The control connection and the chains against scripted servers: reply reading and judging,
// completion rules, abort, time-out, the command-line guard and the engine's exception handling.
#include "FtpTestUtil.h"
#include "net/WaitControl.h"
#include "platform/Ticks.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>

using namespace ftptest;

namespace {

int CountPrefix(const std::vector<std::string>& lines, const std::string& prefix)
{
    int n = 0;
    for (const auto& l : lines)
        if (l.rfind(prefix, 0) == 0) ++n;
    return n;
}

TEST(FtpReplies, ThreeLine230ToUserCompletesOnceWithoutPass)
{
    ScriptServer server([](ScriptSession& s) {
        s.Send("220 ready\r\n");
        s.Expect("USER ");
        s.Send("230-Welcome\r\n230-line two\r\n230 logged in\r\n");
        s.ClientClosed(3000);
    });
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, server.Port());
    ftp.ConnectAsync();
    ASSERT_TRUE(log.WaitDone());
    ProcessEventsFor(100);
    EXPECT_EQ(log.done, (std::vector<std::pair<int, int>>{{ftpConnectAsync, 0}}));
    EXPECT_TRUE(log.Shows("< 230-Welcome"));
    EXPECT_TRUE(log.Shows("< 230-line two"));
    EXPECT_TRUE(log.Shows("< 230 logged in"));
    EXPECT_EQ(CountPrefix(log.display, "> PASS"), 0);
    EXPECT_EQ(ftp.State(), fsReady);
    EXPECT_TRUE(ftp.SessionOpen());
    const auto cmds = server.Commands();
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0], "USER user");
}

// What the server answers to the greeting and to USER, and what the login must come to: the
// result reported by OnRequestDone, RequestResult and the synchronous Connect agree, and a line
// that is not a reply never lets the login through.
struct LoginCase {
    const char* name;
    std::string greeting;
    std::string userReply;
    int error;
    bool passSent;
    bool open;
    const char* message;  // how ErrorMessage begins
};

TEST(FtpReplies, LoginRepliesAreJudgedByTheirExactCode)
{
    const std::string protocol = "426 Protocol error: a reply line must begin with a three-digit";
    const LoginCase cases[] = {
        {"middle lines of any form",
         "220-Hello\r\n  indented\r\nno code\r\n221 other\r\n220 ready\r\n",
         "331-a\r\n230 not the end\r\n331 password\r\n", 0, true, true, ""},
        {"230 with features", "220 ready\r\n", "230-Features:\r\n MDTM\r\n SIZE\r\n230 in\r\n", 0,
         false, true, ""},
        {"refused", "220 ready\r\n", "530 no\r\n", 530, false, true, "530 no"},
        {"garbage to USER", "220 ready\r\n", "garbage\r\n", 426, false, false, protocol.c_str()},
        {"indented code", "220 ready\r\n", " 230 in\r\n", 426, false, false, protocol.c_str()},
        {"code 000", "220 ready\r\n", "000 in\r\n", 426, false, false, protocol.c_str()},
        {"code 4294967553", "220 ready\r\n", "4294967553 in\r\n", 426, false, false,
         protocol.c_str()},
        {"code without a blank", "220 ready\r\n", "230\r\n", 426, false, false, protocol.c_str()},
        {"greeting 65536", "65536 refused\r\n", "", 426, false, false, protocol.c_str()},
        {"greeting 22", "22 ready\r\n", "", 426, false, false, protocol.c_str()},
    };
    for (const LoginCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptServer server([&](ScriptSession& s) {
            s.Send(c.greeting);
            if (s.Read(3000).rfind("USER ", 0) != 0) return;
            s.Send(c.userReply);
            if (s.Read(500).rfind("PASS ", 0) == 0) s.Send("230 in\r\n");
            s.ClientClosed(3000);
        });
        TFtpClient ftp;
        EngineLog log;
        log.Attach(ftp);
        Aim(ftp, server.Port());
        EXPECT_EQ(ftp.Connect(), c.error == 0);
        ProcessEventsFor(50);
        EXPECT_EQ(log.done, (std::vector<std::pair<int, int>>{{ftpConnectAsync, c.error}}));
        EXPECT_EQ(ftp.RequestResult(), c.error);
        EXPECT_EQ(ftp.SessionOpen(), c.open);
        EXPECT_EQ(ftp.State(), fsReady);
        EXPECT_EQ(ftp.ErrorMessage().rfind(c.message, 0), 0u) << ftp.ErrorMessage();
        const auto cmds = server.Commands();
        EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "PASS pass"), c.passSent ? 1 : 0);
        EXPECT_EQ(log.ShowsPrefix("! Protocol error"), !c.open);
    }
}

// Replies to PWD whose middle lines take any form: the reply ends at the line with its own code
// and a space, every line is shown, and the next command gets the next reply (in step).
TEST(FtpReplies, MultiLineReplyEndsOnlyAtItsOwnCodeAndABlank)
{
    const std::pair<std::string, std::string> cases[] = {
        {"257-first\r\nmiddle line\r\n  indented\r\n250 other code\r\n257-again\r\n257 "
         "\"/late\"\r\n",
         "/late"},
        {"257-\r\n257\r\n257x\r\n 257 \"/no\"\r\n2570 \"/no\"\r\n257 \"/yes\"\r\n", "/yes"},
    };
    for (const auto& [reply, dir] : cases) {
        SCOPED_TRACE(reply);
        ScriptServer server([&, reply = reply](ScriptSession& s) {
            Login(s);
            s.Expect("PWD");
            s.Send(reply);
            s.Expect("NOOP");
            s.Send("200 NOOP ok\r\n");
            s.ClientClosed(3000);
        });
        TFtpClient ftp;
        EngineLog log;
        log.Attach(ftp);
        Aim(ftp, server.Port());
        ASSERT_TRUE(ftp.Connect());
        log.done.clear();
        ASSERT_TRUE(ftp.Pwd());
        EXPECT_EQ(ftp.DirResult(), dir);
        EXPECT_EQ(ftp.StatusCode(), 257);
        EXPECT_TRUE(log.Shows("< 257 \"" + dir + "\""));
        ftp.SetLocalFileName("NOOP");
        ftp.QuoteAsync();
        ASSERT_TRUE(log.WaitDone(2));
        EXPECT_EQ(log.done,
                  (std::vector<std::pair<int, int>>{{ftpPwdAsync, 0}, {ftpQuoteAsync, 0}}));
        EXPECT_EQ(ftp.LastResponse(), "200 NOOP ok");
        EXPECT_TRUE(ftp.SessionOpen());
    }
}

// A result that OnRequestDone's 16 bits cannot carry fails the request as 65535, never as 0.
TEST(FtpReplies, ResultBeyondSixteenBitsIsReportedAsAFailure)
{
    struct Probe : TFtpClient {
        using TCustomFtpCli::TriggerRequestDone;
    };
    Probe ftp;
    EngineLog log;
    log.Attach(ftp);
    ftp.TriggerRequestDone(65536);
    ASSERT_TRUE(log.WaitDone());
    EXPECT_EQ(log.done[0].second, TCustomFtpCli::kUnreportableResult);
    EXPECT_EQ(ftp.RequestResult(), TCustomFtpCli::kUnreportableResult);
}

TEST(FtpReplies, CommandCutOffAfterAFailureReportsItsOwnResult)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.Expect("CWD ");
        s.Send("550 No such directory\r\n");
        s.Expect("PWD");
        // closes without a reply
    });
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, server.Port());
    ASSERT_TRUE(ftp.Connect());
    ftp.SetHostDirName("missing");
    EXPECT_FALSE(ftp.Cwd());
    EXPECT_EQ(ftp.RequestResult(), 550);
    EXPECT_FALSE(ftp.Pwd());
    ProcessEventsFor(50);
    EXPECT_EQ(log.done.back(), std::make_pair(static_cast<int>(ftpPwdAsync), 426));
    EXPECT_EQ(ftp.RequestResult(), 426);
}

TEST(FtpReplies, Greeting421ClosesAndCompletesWith421)
{
    ScriptServer server([](ScriptSession& s) {
        s.Send("421 Too many users\r\n");
        s.ClientClosed(3000);
    });
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, server.Port());
    ftp.ConnectAsync();
    ASSERT_TRUE(log.WaitDone());
    ProcessEventsFor(100);
    EXPECT_EQ(log.events, (std::vector<std::string>{"closed 0", "done 5 421"}));
    EXPECT_EQ(ftp.ErrorMessage(), "421 Too many users");
    EXPECT_FALSE(ftp.Connected());
    EXPECT_EQ(ftp.State(), fsReady);
}

TEST(FtpReplies, Greeting421InsideAChainWithQuitEndsWithoutRaising)
{
    ScriptServer server([](ScriptSession& s) {
        s.Send("421 Service not available\r\n");
        s.ClientClosed(3000);
    });
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, server.Port());
    ftp.SetHostFileName("f");
    ftp.SetLocalFileName("unused");
    ftp.ReceiveAsync();
    ASSERT_TRUE(log.WaitDone());
    ProcessEventsFor(100);
    EXPECT_EQ(log.done, (std::vector<std::pair<int, int>>{{ftpReceiveAsync, 421}}));
    EXPECT_EQ(ftp.State(), fsReady);
    EXPECT_EQ(CountPrefix(log.display, "> QUIT"), 0);  // nothing left to close
}

TEST(FtpReplies, ReplyLineOf4096BytesWithoutLineEndClosesTheSession)
{
    ScriptServer server([](ScriptSession& s) {
        s.Send("220 ready\r\n");
        s.Expect("USER ");
        s.Send(std::string(4096, 'x'));
        s.ClientClosed(5000);
    });
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, server.Port());
    ftp.ConnectAsync();
    ASSERT_TRUE(log.WaitDone());
    EXPECT_EQ(log.done[0].first, ftpConnectAsync);
    EXPECT_EQ(log.done[0].second, 426);
    EXPECT_EQ(ftp.ErrorMessage(), "426 Reply line too long");
    EXPECT_FALSE(ftp.Connected());
    EXPECT_TRUE(server.WaitFinished());
}

TEST(FtpReplies, PwdWithDoubledQuotesAndOnCommandRewrite)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.Expect("XPWD");
        s.Send("257 \"/a \"\"quoted\"\" dir\" is current\r\n");
        s.Expect("CWD ");
        s.Send("250 CWD ok\r\n");
        s.ClientClosed(3000);
    });
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, server.Port());
    ASSERT_TRUE(ftp.Connect());
    ftp.OnCommand = [](QObject*, std::string& cmd) {
        if (cmd == "PWD") cmd = "XPWD";
    };
    ASSERT_TRUE(ftp.Pwd());
    EXPECT_TRUE(log.Shows("> XPWD"));
    EXPECT_FALSE(log.Shows("> PWD"));
    EXPECT_EQ(ftp.DirResult(), "/a \"quoted\" dir");
    ftp.SetHostDirName("sub");
    ASSERT_TRUE(ftp.Cwd());
    EXPECT_EQ(ftp.DirResult(), "");  // a CWD reply without a quoted name
}

TEST(FtpReplies, QuitClosesAndReportsQuitWithZero)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.Expect("QUIT");
        s.Send("221 Goodbye\r\n");
        s.ClientClosed(3000);
    });
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, server.Port());
    ASSERT_TRUE(ftp.Connect());
    ProcessEventsFor(50);
    log.events.clear();
    ASSERT_TRUE(ftp.Quit());
    ProcessEventsFor(100);
    EXPECT_EQ(log.events, (std::vector<std::string>{"closed 0", "done 15 0"}));
    EXPECT_FALSE(ftp.Connected());
    EXPECT_FALSE(ftp.SessionOpen());
}

TEST(FtpReplies, RefusedConnectCompletesOnceWithTheSocketError)
{
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, testsupport::FreeTcpPort());
    EXPECT_FALSE(ftp.Connect());
    ProcessEventsFor(200);
    ASSERT_EQ(log.done.size(), 1u);
    EXPECT_EQ(log.done[0], std::make_pair(static_cast<int>(ftpConnectAsync), 10061));
    EXPECT_EQ(ftp.StatusCode(), 500);
    EXPECT_EQ(ftp.LastResponse(), "500 Connection refused (Winsock error #10061)");
    EXPECT_EQ(ftp.ErrorMessage(), ftp.LastResponse());
    EXPECT_EQ(ftp.State(), fsReady);
}

TEST(FtpReplies, UnknownServiceNameEndsTheOpenWithAnError)
{
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    ftp.SetHostName("127.0.0.1");
    ftp.SetPort("no-such-service-name");
    ftp.OpenAsync();
    ASSERT_TRUE(log.WaitDone());
    EXPECT_EQ(log.done[0].first, ftpOpenAsync);
    EXPECT_NE(log.done[0].second, 0);
    EXPECT_EQ(ftp.State(), fsReady);
    EXPECT_FALSE(ftp.Connected());
}

TEST(FtpReplies, EmptyHostNameRaisesAndLeavesTheEngineReady)
{
    TFtpClient ftp;
    EXPECT_THROW(ftp.OpenAsync(), FtpException);
    EXPECT_EQ(ftp.State(), fsReady);
    EXPECT_THROW(ftp.ConnectAsync(), FtpException);
    EXPECT_EQ(ftp.State(), fsReady);
    EXPECT_FALSE(ftp.Connect());
}

TEST(FtpRequests, CallerErrorsRaiseBeforeAnythingIsSent)
{
    TFtpClient ftp;
    EXPECT_THROW(ftp.PwdAsync(), FtpException);  // not connected
    try {
        ftp.CwdAsync();
        FAIL();
    } catch (const FtpException& e) {
        EXPECT_STREQ(e.what(), "HostDirName emtpy");
    }
    try {
        ftp.UserAsync();
        FAIL();
    } catch (const FtpException& e) {
        EXPECT_STREQ(e.what(), "UserName emtpy");
    }
    try {
        ftp.PassAsync();
        FAIL();
    } catch (const FtpException& e) {
        EXPECT_STREQ(e.what(), "Password emtpy");
    }
    try {
        ftp.StartRetr();
        FAIL();
    } catch (const FtpException& e) {
        EXPECT_STREQ(e.what(), "RETR: not connected");
    }
    try {
        ftp.StartStor();
        FAIL();
    } catch (const FtpException& e) {
        EXPECT_STREQ(e.what(), "STOR/APPE: not connected");
    }
    EXPECT_EQ(ftp.State(), fsReady);
    EXPECT_FALSE(ftp.Pwd());
}

TEST(FtpRequests, CommandTextsWithLineBreaksOrNulAreRefusedBeforeSending)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.Expect("NOOP");
        s.Send("200 ok\r\n");
        s.ClientClosed(3000);
    });
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, server.Port());
    ASSERT_TRUE(ftp.Connect());
    const std::size_t shown = log.display.size();

    ftp.SetHostDirName("dir\r\nDELE precious");
    EXPECT_THROW(ftp.CwdAsync(), FtpException);
    EXPECT_FALSE(ftp.Cwd());
    ftp.SetHostFileName("name\nRMD x");
    EXPECT_THROW(ftp.DeleAsync(), FtpException);
    EXPECT_THROW(ftp.GetAsync(), FtpException);  // refused before PORT goes out
    ftp.SetHostFileName(std::string("nul\0byte", 8));
    EXPECT_THROW(ftp.MkdAsync(), FtpException);
    try {
        ftp.SendCommand("NOOP\r\nQUIT");
        FAIL();
    } catch (const FtpException& e) {
        EXPECT_NE(std::string(e.what()).find("CR"), std::string::npos);
    }
    EXPECT_EQ(log.display.size(), shown);  // nothing displayed, nothing sent
    EXPECT_EQ(ftp.State(), fsReady);
    EXPECT_EQ(ftp.DataSocket()->State(), wsClosed);

    // A handler that makes the line unsendable leaves the engine ready too.
    ftp.OnCommand = [](QObject*, std::string& cmd) { cmd += "\r\nQUIT"; };
    EXPECT_THROW(ftp.PwdAsync(), FtpException);
    EXPECT_EQ(ftp.State(), fsReady);
    ftp.OnCommand = nullptr;
    ftp.SetLocalFileName("NOOP");
    log.done.clear();
    ftp.QuoteAsync();
    ASSERT_TRUE(log.WaitDone());
    EXPECT_EQ(log.done[0], std::make_pair(static_cast<int>(ftpQuoteAsync), 0));
    const auto cmds = server.Commands();
    ASSERT_EQ(cmds.size(), 3u);
    EXPECT_EQ(cmds[2], "NOOP");
}

TEST(FtpRequests, StartingWhileBusyOrConnectedRaises)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.Expect("PWD");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the engine stays busy
        s.Send("257 \"/\"\r\n");
        s.ClientClosed(3000);
    });
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, server.Port());
    ASSERT_TRUE(ftp.Connect());
    try {
        ftp.ConnectAsync();
        FAIL();
    } catch (const FtpException& e) {
        EXPECT_STREQ(e.what(), "FTP component already connected");
    }
    log.done.clear();
    ftp.PwdAsync();
    try {
        ftp.GetAsync();
        FAIL();
    } catch (const FtpException& e) {
        EXPECT_STREQ(e.what(), "FTP component not ready");
    }
    EXPECT_THROW(ftp.RestAsync(), FtpException);
    EXPECT_EQ(ftp.LastStep(), stPwd);  // the running request is left alone
    ASSERT_TRUE(log.WaitDone());
    EXPECT_EQ(log.done, (std::vector<std::pair<int, int>>{{ftpPwdAsync, 0}}));
    EXPECT_EQ(ftp.DirResult(), "/");
}

TEST(FtpRequests, SendCommandWithoutConnectionOnlyDisplays)
{
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    ftp.SendCommand("NOOP");
    EXPECT_EQ(log.display, (std::vector<std::string>{"> NOOP"}));
}

TEST(FtpRequests, RestForAMissingFileCompletesAtOnceWithoutSending)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.ClientClosed(3000);
    });
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, server.Port());
    ASSERT_TRUE(ftp.Connect());
    log.done.clear();
    const std::size_t shown = log.display.size();
    ftp.SetLocalFileName("/nonexistent/dir/file");
    ftp.RestAsync();
    EXPECT_EQ(ftp.ResumePos(), -1);
    ASSERT_TRUE(log.WaitDone());
    EXPECT_EQ(log.done, (std::vector<std::pair<int, int>>{{ftpRestAsync, 0}}));
    EXPECT_EQ(log.display.size(), shown);
}

// ---- Time-out, abort and closing ------------------------------------------------------------

TEST(FtpWaits, ServerThatNeverGreetsTimesOut)
{
    ScriptServer server([](ScriptSession& s) { s.ClientClosed(8000); });
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, server.Port());
    ftp.SetTimeout(2);
    const auto start = platform::GetTickCount();
    EXPECT_FALSE(ftp.Connect());
    const auto elapsed = platform::GetTickCount() - start;
    EXPECT_GE(elapsed, 1900u);
    EXPECT_LT(elapsed, 6000u);
    EXPECT_EQ(ftp.ErrorMessage(), "426 Timeout");
    EXPECT_EQ(ftp.StatusCode(), 426);
    EXPECT_EQ(ftp.State(), fsReady);
    ASSERT_TRUE(log.WaitDone());  // the aborted request's completion arrives afterwards
    EXPECT_EQ(log.done[0], std::make_pair(static_cast<int>(ftpConnectAsync), 426));
    EXPECT_TRUE(server.WaitFinished());
}

TEST(FtpWaits, LoginAcceptedThenSilenceTimesOutTheNextCommand)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.Expect("PWD");
        s.ClientClosed(8000);
    });
    TFtpClient ftp;
    Aim(ftp, server.Port());
    ftp.SetTimeout(1);
    ASSERT_TRUE(ftp.Connect());
    EXPECT_FALSE(ftp.Pwd());
    EXPECT_EQ(ftp.ErrorMessage(), "426 Timeout");
    EXPECT_FALSE(ftp.Connected());
    EXPECT_TRUE(server.WaitFinished());
}

TEST(FtpWaits, ReplyThatTricklesForLongerThanTimeoutSucceeds)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.Expect("PWD");
        // Never silent for more than 150 ms, but 2.5 s in all against a Timeout of 1 s.
        for (char c : std::string("257-x\r\n257 \"/slow\"\r\n")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(130));
            s.Send(std::string(1, c));
        }
        s.ClientClosed(3000);
    });
    TFtpClient ftp;
    Aim(ftp, server.Port());
    ftp.SetTimeout(1);
    ASSERT_TRUE(ftp.Connect());
    const auto start = platform::GetTickCount();
    EXPECT_TRUE(ftp.Pwd()) << ftp.ErrorMessage();
    EXPECT_GT(platform::GetTickCount() - start, 1000u);
    EXPECT_EQ(ftp.DirResult(), "/slow");
}

TEST(FtpWaits, AbortDuringReceiveCompletesTheChainWith426)
{
    std::atomic<bool> retrSeen{false};
    ScriptServer server([&](ScriptSession& s) {
        Login(s);
        s.Expect("TYPE I");
        s.Send("200 Type set\r\n");
        s.ExpectPort();
        s.Expect("RETR ");
        retrSeen = true;
        s.Send("150 Opening\r\n");
        s.ClientClosed(5000);
    });
    QTemporaryDir dir;
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, server.Port());
    ftp.SetHostFileName("remote.bin");
    ftp.SetLocalFileName(Local(dir.filePath("local.bin")));
    ftp.ReceiveAsync();
    ASSERT_TRUE(ProcessEventsUntil([&] { return retrSeen.load(); }, 5000));
    ProcessEventsFor(100);
    ftp.AbortAsync();
    EXPECT_EQ(ftp.State(), fsReady);
    ASSERT_TRUE(log.WaitDone());
    ProcessEventsFor(100);
    EXPECT_EQ(log.done, (std::vector<std::pair<int, int>>{{ftpReceiveAsync, 426}}));
    EXPECT_EQ(ftp.ErrorMessage(), "426 Operation aborted.");
    EXPECT_FALSE(ftp.Connected());
    EXPECT_EQ(ftp.DataSocket()->State(), wsClosed);
    EXPECT_TRUE(server.WaitFinished());
}

TEST(FtpWaits, AbortOfASingleCommandReportsAFailure)
{
    std::atomic<bool> cwdSeen{false};
    ScriptServer server([&](ScriptSession& s) {
        Login(s);
        s.Expect("CWD ");
        cwdSeen = true;
        s.ClientClosed(5000);
    });
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, server.Port());
    ASSERT_TRUE(ftp.Connect());
    log.done.clear();
    ftp.SetHostDirName("x");
    ftp.CwdAsync();
    ASSERT_TRUE(ProcessEventsUntil([&] { return cwdSeen.load(); }, 5000));
    ftp.AbortAsync();
    ASSERT_TRUE(log.WaitDone());
    EXPECT_EQ(log.done[0], std::make_pair(static_cast<int>(ftpCwdAsync), 426));
    // Abort when nothing is connected completes nothing.
    ftp.AbortAsync();
    ProcessEventsFor(100);
    EXPECT_EQ(log.done.size(), 1u);
}

TEST(FtpWaits, ServerClosingAfterLoginEndsTheChainWithAnError)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.Expect("CWD ");
        // closes without a reply
    });
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, server.Port());
    ftp.SetHostDirName("dir");
    ftp.SetHostFileName("f");
    ftp.SetLocalFileName("unused");
    ftp.ReceiveAsync();
    ASSERT_TRUE(log.WaitDone());
    ProcessEventsFor(100);
    EXPECT_EQ(log.done, (std::vector<std::pair<int, int>>{{ftpReceiveAsync, 426}}));
    EXPECT_EQ(ftp.ErrorMessage(), "426 Connection closed");
    EXPECT_EQ(ftp.State(), fsReady);
    EXPECT_TRUE(std::find(log.events.begin(), log.events.end(), "closed 0") != log.events.end());
}

// A wait control without widgets: counts down Caption seconds, records how the engine uses it.
class RecordingWait : public TWaitControl {
public:
    void Start() override
    {
        ++starts;
        running = true;
        deadline = platform::GetTickCount() + 1000u * static_cast<std::uint32_t>(caption.toInt());
    }
    void Stop() override
    {
        ++stops;
        running = false;
    }
    void RunWait() override
    {
        Start();
        QTimer wake;
        wake.start(10);
        while (running && static_cast<std::int32_t>(platform::GetTickCount() - deadline) < 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        running = false;
    }
    void RestoreCaption() override {}
    bool Running() const override { return running; }
    QString Caption() const override { return caption; }
    void SetCaption(const QString& text) override { caption = text; }
    void SetWaitVisible(bool visible) override
    {
        shown = visible;
        if (visible) everShown = true;
    }

    QString caption;
    bool running = false;
    bool shown = false;
    bool everShown = false;
    int starts = 0;
    int stops = 0;
    std::uint32_t deadline = 0;
};

TEST(FtpWaits, WaitControlIsShownStoppedWhenReadyAndHidden)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.Expect("PWD");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        s.Send("257 \"/w\"\r\n");
        s.ClientClosed(3000);
    });
    TFtpClient ftp;
    Aim(ftp, server.Port());
    auto wait = std::make_unique<RecordingWait>();
    ftp.SetWaitCtrl(wait.get());
    ftp.SetTimeout(20);
    const auto start = platform::GetTickCount();
    ASSERT_TRUE(ftp.Connect());
    ASSERT_TRUE(ftp.Pwd());
    EXPECT_LT(platform::GetTickCount() - start, 5000u);  // ended by Stop, not by the count
    EXPECT_EQ(ftp.DirResult(), "/w");
    EXPECT_TRUE(wait->everShown);
    EXPECT_FALSE(wait->shown);
    EXPECT_GE(wait->starts, 2);
    EXPECT_GE(wait->stops, 2);
    EXPECT_EQ(wait->caption.toInt(), 20);
    wait.reset();
    EXPECT_EQ(ftp.WaitCtrl(), nullptr);  // the engine forgets a destroyed control
}

TEST(FtpWaits, WaitControlRunsOutAtTheTimeout)
{
    ScriptServer server([](ScriptSession& s) { s.ClientClosed(6000); });
    TFtpClient ftp;
    Aim(ftp, server.Port());
    RecordingWait wait;
    ftp.SetWaitCtrl(&wait);
    ftp.SetTimeout(1);
    EXPECT_FALSE(ftp.Connect());
    EXPECT_EQ(ftp.ErrorMessage(), "426 Timeout");
    EXPECT_FALSE(wait.shown);
}

TEST(FtpWaits, MultiThreadedPumpAndNoLimit)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.Expect("SYST");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        s.Send("215 UNIX Type: L8\r\n");
        s.Expect("TYPE A");
        s.Send("200 ok\r\n");
        s.ClientClosed(3000);
    });
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, server.Port());
    ftp.SetMultiThreaded(true);
    ftp.SetTimeout(0);
    ASSERT_TRUE(ftp.Connect());
    ftp.SystAsync();
    ASSERT_TRUE(log.WaitDone(2));
    EXPECT_EQ(log.done[1], std::make_pair(static_cast<int>(ftpSystAsync), 0));
    ftp.SetBinary(false);
    EXPECT_TRUE(ftp.TypeSet());
    EXPECT_TRUE(log.Shows("> TYPE A"));
}

TEST(FtpReplies, HostThatDoesNotResolveEndsTheChainAfterTheLookup)
{
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    ftp.SetHostName("no-such-host.invalid");
    ftp.SetUserName("u");
    ftp.SetPassWord("p");
    ftp.ConnectAsync();
    EXPECT_EQ(ftp.State(), fsLookingUp);
    ASSERT_TRUE(log.WaitDone(1, 30000));
    ProcessEventsFor(50);
    ASSERT_EQ(log.done.size(), 1u);
    EXPECT_EQ(log.done[0].first, ftpConnectAsync);
    EXPECT_GE(log.done[0].second, 11001);  // host not found (or the resolver's try-again)
    EXPECT_LE(log.done[0].second, 11004);
    EXPECT_EQ(ftp.LastResponse().rfind("500 ", 0), 0u);
    EXPECT_EQ(ftp.StatusCode(), 500);
    EXPECT_TRUE(log.display.empty());  // nothing was sent
    EXPECT_EQ(ftp.State(), fsReady);
}

TEST(FtpWaits, AbortDuringTheLookupEndsTheChainWith426)
{
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    ftp.SetHostName("no-such-host.invalid");
    ftp.SetUserName("u");
    ftp.SetPassWord("p");
    ftp.ConnectAsync();
    ASSERT_EQ(ftp.State(), fsLookingUp);
    ftp.AbortAsync();
    EXPECT_EQ(ftp.State(), fsReady);
    ASSERT_TRUE(log.WaitDone());
    ProcessEventsFor(100);
    EXPECT_EQ(log.done, (std::vector<std::pair<int, int>>{{ftpConnectAsync, 426}}));
    EXPECT_EQ(ftp.ErrorMessage(), "426 Operation aborted.");
}

// ---- Handlers that throw ----------------------------------------------------------------------

TEST(FtpExceptions, HandlerExceptionDuringASynchronousWaitMakesItReturnFalse)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.Expect("PWD");
        s.Send("257 \"/\"\r\n");
        s.Expect("PWD");
        s.Send("257 \"/\"\r\n");
        s.ClientClosed(3000);
    });
    TFtpClient ftp;
    Aim(ftp, server.Port());
    ASSERT_TRUE(ftp.Connect());
    bool throwOnce = true;
    ftp.OnResponse = [&](QObject*) {
        if (throwOnce) {
            throwOnce = false;
            throw std::runtime_error("handler failed");
        }
    };
    EXPECT_FALSE(ftp.Pwd());
    // The engine finished the request all the same and works on.
    EXPECT_EQ(ftp.State(), fsReady);
    EXPECT_EQ(ftp.DirResult(), "/");
    EXPECT_TRUE(ftp.Pwd());
}

TEST(FtpExceptions, HandlerExceptionOutsideAWaitLeavesThroughTheEventLoop)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.ClientClosed(3000);
    });
    TFtpClient ftp;
    Aim(ftp, server.Port());
    int done = 0;
    ftp.OnRequestDone = [&](QObject*, TFtpRequest, std::uint16_t) {
        ++done;
        throw std::runtime_error("from OnRequestDone");
    };
    ftp.OnDisplay = [](QObject*, std::string& msg) {
        if (msg.rfind("> USER", 0) == 0) throw std::logic_error("from OnDisplay");
    };
    ftp.ConnectAsync();
    // The application's notify() would catch these; here they come out of processEvents.
    std::vector<std::string> caught;
    QTimer wake;
    wake.start(10);
    const QDeadlineTimer deadline(10000);
    while (!(done == 1 && caught.size() == 2) && !deadline.hasExpired()) {
        try {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        } catch (const std::exception& e) {
            caught.push_back(e.what());
        }
    }
    const bool finished = done == 1 && caught.size() == 2;
    ASSERT_TRUE(finished);
    EXPECT_EQ(caught, (std::vector<std::string>{"from OnDisplay", "from OnRequestDone"}));
    EXPECT_EQ(ftp.State(), fsReady);
    EXPECT_TRUE(ftp.SessionOpen());  // the login went on in spite of the display handler
}

// ---- Reply texts and helpers ----------------------------------------------------------------

TEST(FtpText, ReadIntegerAndReadQuotedString)
{
    std::string_view rest;
    EXPECT_EQ(TCustomFtpCli::ReadInteger(" \t\r\n257-x", &rest), 257);
    EXPECT_EQ(rest, "-x");
    EXPECT_EQ(TCustomFtpCli::ReadInteger("-12ab", &rest), -12);
    EXPECT_EQ(rest, "ab");
    EXPECT_EQ(TCustomFtpCli::ReadInteger("+7"), 7);
    EXPECT_EQ(TCustomFtpCli::ReadInteger("none", &rest), 0);
    EXPECT_EQ(rest, "none");
    EXPECT_EQ(TCustomFtpCli::ReadInteger("213 5368709120"), 213);
    TCustomFtpCli::ReadInteger("213 5368709120", &rest);
    EXPECT_EQ(TCustomFtpCli::ReadInteger(rest), 5368709120LL);  // sizes beyond 4 GiB

    EXPECT_EQ(TCustomFtpCli::ReadQuotedString(" \"/a \"\"b\"\"\" rest", &rest), "/a \"b\"");
    EXPECT_EQ(rest, " rest");
    EXPECT_EQ(TCustomFtpCli::ReadQuotedString("no quote"), "");
    EXPECT_EQ(TCustomFtpCli::ReadQuotedString("\"unterminated"), "unterminated");
}

TEST(FtpText, ReplyCodeOfALine)
{
    const std::pair<const char*, int> lines[] = {
        {"230 in", 230}, {"230-more", 230}, {"999 x", 999}, {"100 ", 100},  {"230", -1},
        {"230x", -1},    {" 230 x", -1},    {"000 x", -1},  {"099 x", -1},  {"23 x", -1},
        {"2300 x", -1},  {"65536 x", -1},   {"", -1},       {"x230 y", -1}, {"2a0 x", -1},
    };
    for (const auto& [line, code] : lines)
        EXPECT_EQ(TCustomFtpCli::ReplyCode(line), code) << line;
}

TEST(FtpText, TransferStatisticsUseIntegerArithmetic)
{
    EXPECT_EQ(TCustomFtpCli::TransferStatsText(40000, 3000),
              "40000 bytes received/sent in 3 seconds (13000 Bytes/sec)");
    EXPECT_EQ(TCustomFtpCli::TransferStatsText(1000, 3000),
              "1000 bytes received/sent in 3 seconds (333 Bytes/sec)");
    EXPECT_EQ(TCustomFtpCli::TransferStatsText(0, 0), "0 bytes received/sent in 0 seconds");
    // Counts beyond 32 bits stay positive and exact in their integer parts.
    EXPECT_EQ(TCustomFtpCli::TransferStatsText(5368709120LL, 10000),
              "5368709120 bytes received/sent in 10 seconds (536870000 Bytes/sec)");
}

TEST(FtpText, RequestNamesAndShareModes)
{
    EXPECT_STREQ(FtpRequestName(0), "none");
    EXPECT_STREQ(FtpRequestName(ftpConnectAsync), "ConnectAsync");
    EXPECT_STREQ(FtpRequestName(19), "FileSizeAsync");
    EXPECT_STREQ(FtpRequestName(20), "RqAbort");
    EXPECT_STREQ(FtpRequestName(39), "RestartGetAsync");
    EXPECT_STREQ(FtpRequestName(40), "unknown");
    EXPECT_STREQ(FtpRequestName(-1), "unknown");

    TFtpClient ftp;
    EXPECT_EQ(ftp.ShareMode(), ftpShareExclusive);
    EXPECT_EQ(ftp.ShareModeWord(), 16);
    const std::pair<TFtpShareMode, int> modes[] = {{ftpShareCompat, 0},
                                                   {ftpShareExclusive, 16},
                                                   {ftpShareDenyWrite, 32},
                                                   {ftpShareDenyRead, 48},
                                                   {ftpShareDenyNone, 64}};
    for (const auto& [mode, word] : modes) {
        ftp.SetShareMode(mode);
        EXPECT_EQ(ftp.ShareModeWord(), word);
        EXPECT_EQ(ftp.ShareMode(), mode);
    }
    ftp.SetShareMode(static_cast<TFtpShareMode>(9));
    EXPECT_EQ(ftp.ShareModeWord(), 16);
    EXPECT_EQ(ftp.Timeout(), 15);
    EXPECT_FALSE(ftp.MultiThreaded());
    EXPECT_EQ(ftp.Port(), "ftp");
    EXPECT_TRUE(ftp.Binary());
    ftp.SetBinary(false);
    EXPECT_EQ(ftp.TransferType(), 'A');
}

}  // namespace
