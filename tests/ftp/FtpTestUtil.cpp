#include "FtpTestUtil.h"

#include <QDeadlineTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace ftptest {

// ---- ScriptSession --------------------------------------------------------------------------

std::string ScriptSession::Read(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const std::size_t eol = pending_.find("\r\n");
        if (eol != std::string::npos) {
            std::string line = pending_.substr(0, eol);
            pending_.erase(0, eol + 2);
            std::lock_guard<std::mutex> lock(mutex_);
            commands_.push_back(line);
            return line;
        }
        if (stop_ || deadline.hasExpired()) return {};
        pollfd p{control_.Get(), POLLIN, 0};
        const int r = ::poll(&p, 1, 50);
        if (r < 0 && errno != EINTR) return {};
        if (r <= 0) continue;
        char buf[4096];
        const ssize_t n = ::recv(control_.Get(), buf, sizeof buf, 0);
        if (n <= 0) return {};
        pending_.append(buf, static_cast<std::size_t>(n));
    }
}

std::string ScriptSession::Expect(const std::string& prefix, int timeoutMs)
{
    std::string line = Read(timeoutMs);
    if (line.rfind(prefix, 0) != 0) Fail("expected " + prefix + ", got '" + line + "'");
    return line;
}

std::uint16_t ScriptSession::ExpectPort(const std::string& reply)
{
    const std::string line = Expect("PORT ");
    unsigned a[6] = {};
    if (std::sscanf(line.c_str(), "PORT %u,%u,%u,%u,%u,%u", &a[0], &a[1], &a[2], &a[3], &a[4],
                    &a[5]) != 6) {
        Fail("bad PORT line '" + line + "'");
        return 0;
    }
    portAddress_ = std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) +
                   "." + std::to_string(a[3]);
    if (!reply.empty()) Send(reply);
    return static_cast<std::uint16_t>(a[4] * 256 + a[5]);
}

RawFd ScriptSession::ConnectData(std::uint16_t port, const char* from, int rcvBuf)
{
    RawFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) return fd;
    if (rcvBuf > 0) ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &rcvBuf, sizeof rcvBuf);
    if (from) {
        sockaddr_in src{};
        src.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &src.sin_addr);
        if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&src), sizeof src) != 0) {
            Fail(std::string("cannot bind to ") + from);
            return RawFd();
        }
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        Fail("data connect failed");
        return RawFd();
    }
    return fd;
}

bool ScriptSession::ClientClosed(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!stop_ && !deadline.hasExpired()) {
        pollfd p{control_.Get(), POLLIN, 0};
        const int r = ::poll(&p, 1, 50);
        if (r <= 0) continue;
        char buf[4096];
        const ssize_t n = ::recv(control_.Get(), buf, sizeof buf, 0);
        if (n <= 0) return true;
        pending_.append(buf, static_cast<std::size_t>(n));
    }
    return false;
}

void ScriptSession::Fail(const std::string& what)
{
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.push_back(what);
}

// ---- ScriptServer ---------------------------------------------------------------------------

ScriptServer::ScriptServer(Script script, const char* address)
{
    listener_ = RawFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    ::setsockopt(listener_.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, address, &a.sin_addr);
    socklen_t len = sizeof a;
    if (::bind(listener_.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener_.Get(), 5) != 0 ||
        ::getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        failures_.push_back("cannot listen");
        finished_ = true;
        return;
    }
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this, script = std::move(script)] {
        RawFd client;
        const QDeadlineTimer deadline(15000);
        while (!stop_ && !deadline.hasExpired()) {
            pollfd p{listener_.Get(), POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                sockaddr_in peer{};
                socklen_t plen = sizeof peer;
                client = RawFd(::accept4(listener_.Get(), reinterpret_cast<sockaddr*>(&peer), &plen,
                                         SOCK_CLOEXEC));
                char text[INET_ADDRSTRLEN] = {};
                ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
                std::lock_guard<std::mutex> lock(mutex_);
                clientAddress_ = text;
                break;
            }
        }
        if (client.Valid()) {
            ScriptSession session(std::move(client), stop_, mutex_, commands_, failures_);
            script(session);
        }
        finished_ = true;
    });
}

ScriptServer::~ScriptServer()
{
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

std::vector<std::string> ScriptServer::Commands() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

std::vector<std::string> ScriptServer::Failures() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return failures_;
}

std::string ScriptServer::ClientAddress() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return clientAddress_;
}

bool ScriptServer::WaitFinished(int timeoutMs)
{
    return ProcessEventsUntil([this] { return finished_.load(); }, timeoutMs);
}

// ---- Helpers --------------------------------------------------------------------------------

void Login(ScriptSession& s)
{
    s.Send("220 scripted server ready\r\n");
    s.Expect("USER ");
    s.Send("331 password please\r\n");
    s.Expect("PASS ");
    s.Send("230 logged in\r\n");
}

std::string Pattern(std::size_t n, std::size_t seed)
{
    std::string s(n, '\0');
    std::uint32_t x = static_cast<std::uint32_t>(seed * 2654435761u + 12345u);
    for (std::size_t i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;
        s[i] = static_cast<char>(x >> 24);
    }
    return s;
}

bool WriteFile(const QString& path, const std::string& data)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(data.data(), static_cast<qint64>(data.size())) ==
           static_cast<qint64>(data.size());
}

std::string ReadFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return "<missing>";
    const QByteArray all = f.readAll();
    return std::string(all.constData(), static_cast<std::size_t>(all.size()));
}

QByteArray Sha256OfFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&f);
    return hash.result().toHex();
}

std::string Local(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

void Aim(TCustomFtpCli& ftp, std::uint16_t port, const std::string& user, const std::string& pass)
{
    ftp.SetHostName("127.0.0.1");
    ftp.SetPort(std::to_string(port));
    ftp.SetUserName(user);
    ftp.SetPassWord(pass);
}

void ExpectRestartAndAbort(TFtpClient& ftp, EngineLog& log, const QDir& serverDir,
                           const QDir& localDir)
{
    const std::string data = Pattern(20u << 20, 13);
    ASSERT_TRUE(WriteFile(serverDir.filePath(QStringLiteral("long.bin")), data));
    ftp.SetBinary(true);
    ASSERT_TRUE(ftp.TypeSet());
    const QString part = localDir.filePath(QStringLiteral("long.bin"));
    ASSERT_TRUE(WriteFile(part, data.substr(0, 123457)));
    ftp.SetHostFileName("long.bin");
    ftp.SetLocalFileName(Local(part));
    ProcessEventsFor(20);
    log.done.clear();
    ftp.RestGetAsync();
    ASSERT_TRUE(log.WaitDone(1, 30000));
    EXPECT_EQ(log.done[0], std::make_pair(static_cast<int>(ftpRestGetAsync), 0));
    EXPECT_TRUE(log.Shows("> REST 123457"));
    EXPECT_TRUE(ReadFile(part) == data);
    EXPECT_EQ(log.progress.front(), 123457);

    // Abort through OnProgress once data flows; the session goes on.
    ftp.OnProgress = [](QObject*, std::int64_t count, bool& abort) { abort = count > 0; };
    ftp.SetLocalFileName(Local(localDir.filePath(QStringLiteral("aborted.bin"))));
    EXPECT_FALSE(ftp.Get());
    EXPECT_TRUE(log.Shows("! Abort requested"));
    EXPECT_EQ(ftp.ErrorMessage(), "426 Abort requested");
    EXPECT_EQ(ftp.DataSocket()->State(), wsClosed);
    ftp.OnProgress = nullptr;
    const QString whole = localDir.filePath(QStringLiteral("whole.bin"));
    ftp.SetLocalFileName(Local(whole));
    ASSERT_TRUE(ftp.Get()) << ftp.ErrorMessage();
    EXPECT_TRUE(ReadFile(whole) == data);
}

}  // namespace ftptest
