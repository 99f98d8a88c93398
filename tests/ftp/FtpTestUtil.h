// Helpers shared by the FTP engine tests: a recorder of the engine's events, a scripted FTP server
// on a thread of its own (plain blocking sockets, every read bounded), and file helpers.
#pragma once

#include "ftp/FtpEngine.h"
#include "support/EventLoopWait.h"
#include "support/PeerProcess.h"
#include "support/RawSocket.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace ftptest {

using testsupport::ProcessEventsFor;
using testsupport::ProcessEventsUntil;
using testsupport::RawFd;

// Records what the engine reports.
struct EngineLog {
    std::vector<std::string> display;
    std::vector<std::pair<int, int>> done;  // (request code, error)
    std::vector<std::string> events;        // "connected E", "closed E", "done R E"
    std::vector<std::int64_t> progress;

    void Attach(TCustomFtpCli& ftp)
    {
        ftp.OnDisplay = [this](QObject*, std::string& msg) { display.push_back(msg); };
        ftp.OnRequestDone = [this](QObject*, TFtpRequest rq, std::uint16_t error) {
            done.emplace_back(rq, error);
            events.push_back("done " + std::to_string(rq) + " " + std::to_string(error));
        };
        ftp.OnSessionConnected = [this](QObject*, std::uint16_t e) {
            events.push_back("connected " + std::to_string(e));
        };
        ftp.OnSessionClosed = [this](QObject*, std::uint16_t e) {
            events.push_back("closed " + std::to_string(e));
        };
        ftp.OnProgress = [this](QObject*, std::int64_t count, bool&) { progress.push_back(count); };
    }
    // Waits (bounded) until n completions have been reported.
    bool WaitDone(std::size_t n = 1, int timeoutMs = 10000)
    {
        return ProcessEventsUntil([&] { return done.size() >= n; }, timeoutMs);
    }
    bool Shows(const std::string& line) const
    {
        for (const auto& d : display)
            if (d == line) return true;
        return false;
    }
    bool ShowsPrefix(const std::string& prefix) const
    {
        for (const auto& d : display)
            if (d.rfind(prefix, 0) == 0) return true;
        return false;
    }
};

// One client session of the scripted server, used from the server's thread.
class ScriptSession {
public:
    ScriptSession(RawFd control, const std::atomic<bool>& stop, std::mutex& mutex,
                  std::vector<std::string>& commands, std::vector<std::string>& failures)
        : control_(std::move(control)),
          stop_(stop),
          mutex_(mutex),
          commands_(commands),
          failures_(failures)
    {
    }

    bool Send(const std::string& text) { return testsupport::SendAll(control_, text); }
    // Next command line (without CR LF), "" when nothing came within timeoutMs or the client
    // closed. Every command is recorded.
    std::string Read(int timeoutMs = 5000);
    // Reads a command and records a failure unless it begins with prefix.
    std::string Expect(const std::string& prefix, int timeoutMs = 5000);
    // Reads a PORT command and answers it with reply; returns the port it announced (0 on error).
    std::uint16_t ExpectPort(const std::string& reply = "200 PORT ok\r\n");
    // Connects to 127.0.0.1:port, from source address `from` when given (e.g. "127.0.0.2"), with
    // a receive buffer of rcvBuf bytes when given (a small window keeps data with the client).
    RawFd ConnectData(std::uint16_t port, const char* from = nullptr, int rcvBuf = 0);
    // True when the client closed the control connection within timeoutMs.
    bool ClientClosed(int timeoutMs = 5000);
    void Fail(const std::string& what);
    bool Stopping() const { return stop_; }
    RawFd& Control() { return control_; }
    // The announced address of the last PORT command ("a.b.c.d").
    const std::string& PortAddress() const { return portAddress_; }

private:
    RawFd control_;
    const std::atomic<bool>& stop_;
    std::mutex& mutex_;
    std::vector<std::string>& commands_;
    std::vector<std::string>& failures_;
    std::string pending_;
    std::string portAddress_;
};

// A scripted FTP server: listens on 127.0.0.1 (or `address`), accepts one client and runs the
// script on a thread of its own. The destructor stops it within a few seconds.
class ScriptServer {
public:
    using Script = std::function<void(ScriptSession&)>;
    explicit ScriptServer(Script script, const char* address = "127.0.0.1");
    ~ScriptServer();
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    std::uint16_t Port() const { return port_; }
    std::vector<std::string> Commands() const;
    std::vector<std::string> Failures() const;
    bool Finished() const { return finished_; }
    // Waits (pumping events) until the script has ended.
    bool WaitFinished(int timeoutMs = 10000);
    // The client's address as the server saw it on the control connection.
    std::string ClientAddress() const;

private:
    RawFd listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> commands_;
    std::vector<std::string> failures_;
    std::string clientAddress_;
    std::thread thread_;
};

// The usual greeting and login of a scripted session.
void Login(ScriptSession& s);

// A deterministic byte pattern.
std::string Pattern(std::size_t n, std::size_t seed = 0);
bool WriteFile(const QString& path, const std::string& data);
std::string ReadFile(const QString& path);
QByteArray Sha256OfFile(const QString& path);
std::string Local(const QString& path);

// Points a TFtpClient at a server on 127.0.0.1:port with user/pass.
void Aim(TCustomFtpCli& ftp, std::uint16_t port, const std::string& user = "user",
         const std::string& pass = "pass");

// Against a real server holding nothing but what the test puts there, with `ftp` logged in:
// a restarted download completes a partial local file byte-exact, then a download aborted from
// OnProgress fails with 426 and the session goes on to a whole download. serverDir and localDir
// are the server's root and a local scratch directory.
void ExpectRestartAndAbort(TFtpClient& ftp, EngineLog& log, const QDir& serverDir,
                           const QDir& localDir);

}  // namespace ftptest
