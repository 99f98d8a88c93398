// The telnet session against a real telnet server (inetutils telnetd behind socat on loopback).
#include "TelnetTestUtil.h"

#include "peers/TelnetdPeer.h"

using namespace telnettest;
using testsupport::TelnetdPeer;

namespace {

class TnCnxTelnetd : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Start()) << server.Error().toStdString(); }
    void TearDown() override { server.Stop(); }

    // Connects tn (log attached first, then setup run) and waits for the shell's prompt.
    void ConnectAndLogIn(TTnCnx& tn, SessionLog& log, const std::function<void()>& setup = {})
    {
        log.Attach(tn);
        if (setup) setup();
        tn.SetHost("127.0.0.1");
        tn.SetPort(std::to_string(server.Port()));
        tn.Connect();
        ASSERT_TRUE(ProcessEventsUntil(
            [&] { return log.data.find(TelnetdPeer::Prompt) != std::string::npos; }, 15000))
            << "no prompt; received: " << ::testing::PrintToString(log.data)
            << "; server: " << server.Log().toStdString();
    }

    TelnetdPeer server;
};

TEST_F(TnCnxTelnetd, NegotiatesGetsThePromptAndRunsACommand)
{
    TTnCnx tn;
    SessionLog log;
    ConnectAndLogIn(tn, log);
    EXPECT_EQ(log.events.front(), "connected 0");
    // telnetd asks for the terminal type once and says it will echo.
    EXPECT_EQ(log.Count("termtype"), 1);
    EXPECT_GE(log.Count("localecho false"), 1);
    EXPECT_FALSE(tn.LocalEcho());
    // No telnet command reaches the data.
    EXPECT_EQ(log.data.find('\xFF'), std::string::npos);

    log.data.clear();
    tn.SendStr("echo hello\r");
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return log.data.find("\r\nhello\r\n") != std::string::npos; }, 10000))
        << ::testing::PrintToString(log.data);
    // The server echoes what was typed.
    EXPECT_EQ(log.data.rfind("echo hello", 0), 0u) << ::testing::PrintToString(log.data);

    // The shell's TERM is the terminal type the session answered.
    log.data.clear();
    tn.SendStr("echo \"<$TERM>\"\r");
    EXPECT_TRUE(ProcessEventsUntil(
        [&] { return log.data.find("\r\n<vt100>\r\n") != std::string::npos; }, 10000))
        << ::testing::PrintToString(log.data);
}

TEST_F(TnCnxTelnetd, TerminalTypeFromOnTermTypeReachesTheShell)
{
    TTnCnx tn;
    SessionLog log;
    ConnectAndLogIn(tn, log, [&] { tn.OnTermType = [&](QObject*) { tn.SetTermType("XTERM"); }; });
    log.data.clear();
    tn.SendStr("echo \"<$TERM>\"\r");
    EXPECT_TRUE(ProcessEventsUntil(
        [&] { return log.data.find("\r\n<xterm>\r\n") != std::string::npos; }, 10000))
        << ::testing::PrintToString(log.data);
}

TEST_F(TnCnxTelnetd, TwoSessionsHaveTheirOwnShells)
{
    TTnCnx a, b;
    SessionLog la, lb;
    ConnectAndLogIn(a, la);
    ConnectAndLogIn(b, lb);
    la.data.clear();
    lb.data.clear();
    a.SendStr("echo \"<$$-a>\"\r");
    b.SendStr("echo \"<$$-b>\"\r");
    ASSERT_TRUE(ProcessEventsUntil(
        [&] {
            return la.data.find("-a>\r\n") != std::string::npos &&
                   lb.data.find("-b>\r\n") != std::string::npos;
        },
        10000));
    EXPECT_EQ(la.data.find("-b>"), std::string::npos);
    EXPECT_EQ(lb.data.find("-a>"), std::string::npos);
    EXPECT_EQ(server.ShellsStarted(), 2);
}

TEST_F(TnCnxTelnetd, ExitingTheShellClosesTheSession)
{
    TTnCnx tn;
    SessionLog log;
    ConnectAndLogIn(tn, log);
    tn.SendStr("exit\r");
    ASSERT_TRUE(ProcessEventsUntil([&] { return log.Count("closed 0") == 1; }, 10000))
        << ::testing::PrintToString(log.events);
    EXPECT_EQ(log.Count("display \r\n**** Remote has closed ****\r\n"), 1);
    EXPECT_EQ(tn.State(), wsClosed);
}

}  // namespace
