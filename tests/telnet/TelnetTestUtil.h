// Helpers of the telnet tests: a scripted server (a raw loopback peer the test writes bytes to and
// reads the session's answers from while the event loop runs) and a recorder of session events.
#pragma once

#include "support/EventLoopWait.h"
#include "support/RawSocket.h"
#include "telnet/TnCnx.h"

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QFile>

#include <string>
#include <vector>

namespace telnettest {

using testsupport::ProcessEventsFor;
using testsupport::ProcessEventsUntil;

// Bytes from a list of values, for readable expectations: Bytes({255, 251, 24}).
inline std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s.push_back(static_cast<char>(v));
    return s;
}

// Everything the session reports, in order, as short texts ("connected 0", "data 5",
// "display ...", "termtype", ...), and the data bytes delivered.
struct SessionLog {
    std::vector<std::string> events;
    std::string data;
    std::vector<std::int32_t> blocks;
    bool nulAfterEveryBlock = true;

    void Attach(TTnCnx& tn)
    {
        tn.OnSessionConnected = [this](TTnCnx*, std::uint16_t e) {
            events.push_back("connected " + std::to_string(e));
        };
        tn.OnSessionClosed = [this](TTnCnx*, std::uint16_t e) {
            events.push_back("closed " + std::to_string(e));
        };
        tn.OnDataAvailable = [this](TTnCnx*, char* buffer, std::int32_t len) {
            if (buffer[len] != '\0') nulAfterEveryBlock = false;
            data.append(buffer, static_cast<std::size_t>(len));
            blocks.push_back(len);
        };
        tn.OnDisplay = [this](TTnCnx*, const std::string& s) { events.push_back("display " + s); };
        tn.OnEndOfRecord = [this](QObject*) { events.push_back("eor"); };
        tn.OnSendLoc = [this](QObject*) { events.push_back("sendloc"); };
        tn.OnTermType = [this](QObject*) { events.push_back("termtype"); };
        tn.OnLocalEcho = [this, &tn](QObject*) {
            events.push_back(std::string("localecho ") + (tn.LocalEcho() ? "true" : "false"));
        };
    }
    int Count(const std::string& text) const
    {
        int n = 0;
        for (const auto& e : events)
            n += e == text;
        return n;
    }
};

// A loopback server under the test's control, connected to one session.
struct ScriptedServer {
    testsupport::RawFd listener;
    testsupport::RawFd peer;
    std::uint16_t port = 0;

    // Connects tn to a new listener; true when the session is connected within 5 s.
    bool Connect(TTnCnx& tn)
    {
        listener = testsupport::ListenLoopback(port);
        if (!listener.Valid()) return false;
        tn.SetHost("127.0.0.1");
        tn.SetPort(std::to_string(port));
        tn.Connect();
        peer = testsupport::AcceptWithin(listener, 5000);
        return peer.Valid() && ProcessEventsUntil([&] { return tn.State() == wsConnected; }, 5000);
    }
    void Write(const std::string& bytes) { ASSERT_TRUE(testsupport::SendAll(peer, bytes)); }

    // Reads what the session sends while the event loop runs: n bytes, or what came within
    // timeoutMs.
    std::string Read(std::size_t n, int timeoutMs = 5000)
    {
        std::string got;
        ProcessEventsUntil(
            [&] {
                char buf[4096];
                while (got.size() < n) {
                    const std::size_t want = std::min(sizeof buf, n - got.size());
                    const ssize_t r = ::recv(peer.Get(), buf, want, MSG_DONTWAIT);
                    if (r <= 0) break;
                    got.append(buf, static_cast<std::size_t>(r));
                }
                return got.size() >= n;
            },
            timeoutMs);
        return got;
    }
    // Whatever the session sends within ms (for checks that it sends nothing).
    std::string ReadFor(int ms) { return Read(static_cast<std::size_t>(-1), ms); }
};

// Waits until the session's socket holds n unread bytes, without running the event loop, so that
// they are read in one receive.
inline bool WaitUntilWaiting(TTnCnx& tn, int n, int timeoutMs = 5000)
{
    for (int waited = 0; waited < timeoutMs; waited += 2) {
        if (tn.Socket() && tn.Socket()->RcvdCount() >= n) return true;
        ::usleep(2000);
    }
    return false;
}

// The resident memory of this process in bytes (from /proc/self/statm).
inline long ResidentBytes()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * ::sysconf(_SC_PAGESIZE) : 0;
}

}  // namespace telnettest
