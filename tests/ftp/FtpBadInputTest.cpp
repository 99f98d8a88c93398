// Hostile or broken servers: endless replies, NUL bytes, huge lines, resets, closes in mid-reply,
// dribbled replies. The engine must end every request with a clear error, within Timeout, and
// write nothing but LocalFileName.
#include "FtpTestUtil.h"

#include <QDirIterator>

#include <sys/socket.h>

#include <chrono>

using namespace ftptest;

namespace {

QStringList FilesIn(const QString& dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}

TEST(FtpBadInput, EndlessMultiLineReplyTimesOut)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.Expect("PWD");
        for (int i = 0; !s.Stopping() && i < 100000; ++i) {
            if (!s.Send("257-still going " + std::to_string(i) + "\r\n")) break;
            if (i % 100 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    TFtpClient ftp;
    Aim(ftp, server.Port());
    ftp.SetTimeout(2);
    ASSERT_TRUE(ftp.Connect());
    EXPECT_FALSE(ftp.Pwd());
    EXPECT_EQ(ftp.ErrorMessage(), "426 Timeout");
    EXPECT_EQ(ftp.State(), fsReady);
    EXPECT_FALSE(ftp.Connected());
}

TEST(FtpBadInput, ReplyWithNulByteEndsInAClosedSession)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.Expect("PWD");
        s.Send(std::string("257 \"/\0hidden\"\r\n", 16));
        // Whatever follows stays hidden behind the zero byte until the buffer is full.
        s.Send(std::string(5000, 'y') + "\r\n");
        s.ClientClosed(5000);
    });
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, server.Port());
    ftp.SetTimeout(5);
    ASSERT_TRUE(ftp.Connect());
    EXPECT_FALSE(ftp.Pwd());
    EXPECT_EQ(ftp.ErrorMessage(), "426 Reply line too long");
    EXPECT_FALSE(ftp.Connected());
    EXPECT_TRUE(log.Shows("! Reply line too long"));
}

TEST(FtpBadInput, GiganticReplyLineIsCutOffAfterTheBuffer)
{
    std::atomic<long long> sent{0};
    ScriptServer server([&](ScriptSession& s) {
        s.Send("220 ready\r\n");
        s.Expect("USER ");
        const std::string chunk(65536, 'z');
        // Up to 1 GB without a line end; stops as soon as the client has closed.
        for (int i = 0; i < 16384 && !s.Stopping(); ++i) {
            if (!s.Send(chunk)) break;
            sent += static_cast<long long>(chunk.size());
        }
    });
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, server.Port());
    ftp.SetTimeout(10);
    EXPECT_FALSE(ftp.Connect());
    EXPECT_EQ(ftp.ErrorMessage(), "426 Reply line too long");
    EXPECT_TRUE(server.WaitFinished(15000));
    EXPECT_LT(sent.load(), 1LL << 30);
    ASSERT_TRUE(log.WaitDone());
    EXPECT_EQ(log.done[0], std::make_pair(static_cast<int>(ftpConnectAsync), 426));
}

TEST(FtpBadInput, ServerClosingInMidReplyEndsWithAnError)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.Expect("PWD");
        s.Send("257-first part\r\n257-sec");
        // closes here
    });
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, server.Port());
    ASSERT_TRUE(ftp.Connect());
    EXPECT_FALSE(ftp.Pwd());
    EXPECT_EQ(ftp.ErrorMessage(), "426 Connection closed");
    EXPECT_FALSE(ftp.Connected());
    ProcessEventsFor(50);
    EXPECT_EQ(log.done.back(), std::make_pair(static_cast<int>(ftpPwdAsync), 426));
}

TEST(FtpBadInput, RepliesDribbledOneByteAtATime)
{
    ScriptServer server([](ScriptSession& s) {
        const auto dribble = [&](const std::string& text) {
            for (char c : text) {
                s.Send(std::string(1, c));
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        };
        dribble("220-multi\r\n220 ready\r\n");
        s.Expect("USER ");
        dribble("331 pass\r\n");
        s.Expect("PASS ");
        dribble("230 in\r\n");
        s.Expect("PWD");
        dribble("257 \"/dribble\"\r\n");
        s.ClientClosed(3000);
    });
    TFtpClient ftp;
    Aim(ftp, server.Port());
    ASSERT_TRUE(ftp.Connect());
    ASSERT_TRUE(ftp.Pwd());
    EXPECT_EQ(ftp.DirResult(), "/dribble");
}

// The final reply has come, the data connection is still open, and a line of garbage follows:
// the session closes and the download fails; the data connection's close, which comes later,
// does not turn the result back into success.
TEST(FtpBadInput, GarbageAfterTheFinalReplyOfADownloadFailsIt)
{
    QTemporaryDir dir;
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        const std::uint16_t port = s.ExpectPort();
        s.Expect("RETR f");
        s.Send("150 Opening\r\n");
        RawFd d = s.ConnectData(port);
        testsupport::SendAll(d, "some data");
        s.Send("226 Done\r\ngarbage\r\n");
        s.ClientClosed(3000);
    });
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, server.Port());
    ASSERT_TRUE(ftp.Connect());
    ftp.SetHostFileName("f");
    ftp.SetLocalFileName(Local(dir.filePath(QStringLiteral("f"))));
    EXPECT_FALSE(ftp.Get());
    ProcessEventsFor(50);
    EXPECT_EQ(log.done.back(), std::make_pair(static_cast<int>(ftpGetAsync), 426));
    EXPECT_EQ(ftp.RequestResult(), 426);
    EXPECT_EQ(ftp.ErrorMessage().rfind("426 Protocol error", 0), 0u) << ftp.ErrorMessage();
    EXPECT_FALSE(ftp.Connected());
}

// A reply after the final reply of a download answers no command: the data that is still on its
// way arrives whole.
TEST(FtpBadInput, StrayReplyAfterTheFinalReplyDoesNotCutTheDataShort)
{
    QTemporaryDir dir;
    const std::string data = Pattern(300000);
    ScriptServer server([&](ScriptSession& s) {
        Login(s);
        const std::uint16_t port = s.ExpectPort();
        s.Expect("RETR f");
        s.Send("150 Opening\r\n");
        RawFd d = s.ConnectData(port);
        testsupport::SendAll(d, data.substr(0, 1000));
        s.Send("226 Done\r\n550 stray\r\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        testsupport::SendAll(d, data.substr(1000));
        d.Reset();
        s.ClientClosed(3000);
    });
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, server.Port());
    ASSERT_TRUE(ftp.Connect());
    ftp.SetHostFileName("f");
    ftp.SetLocalFileName(Local(dir.filePath(QStringLiteral("f"))));
    EXPECT_TRUE(ftp.Get()) << ftp.ErrorMessage();
    EXPECT_TRUE(ReadFile(dir.filePath(QStringLiteral("f"))) == data);
    EXPECT_TRUE(log.Shows("< 550 stray"));
    EXPECT_TRUE(ftp.SessionOpen());
}

TEST(FtpBadInput, DataConnectionResetInMidTransfer)
{
    QTemporaryDir dir;
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        const std::uint16_t port = s.ExpectPort();
        s.Expect("RETR f");
        s.Send("150 Opening\r\n");
        RawFd d = s.ConnectData(port);
        testsupport::SendAll(d, Pattern(200000));
        testsupport::ResetConnection(d);
        s.Send("426 Connection reset\r\n");
        s.ClientClosed(3000);
    });
    TFtpClient ftp;
    EngineLog log;
    log.Attach(ftp);
    Aim(ftp, server.Port());
    ASSERT_TRUE(ftp.Connect());
    ftp.SetHostFileName("../../etc/f");
    ftp.SetLocalFileName(Local(dir.filePath(QStringLiteral("f"))));
    EXPECT_FALSE(ftp.Get());
    ProcessEventsFor(50);
    ASSERT_FALSE(log.done.empty());
    EXPECT_NE(log.done.back().second, 0);
    EXPECT_EQ(FilesIn(dir.path()), QStringList{dir.filePath(QStringLiteral("f"))});
    EXPECT_EQ(ftp.State(), fsReady);
    EXPECT_EQ(ftp.DataSocket()->State(), wsClosed);
}

}  // namespace
