// Helpers shared by the socket tests: an event recorder and a connected client/raw-peer pair.
#pragma once

#include "net/WSocket.h"
#include "support/EventLoopWait.h"
#include "support/PeerProcess.h"
#include "support/RawSocket.h"

#include <sys/socket.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace nettest {

using testsupport::ProcessEventsFor;
using testsupport::ProcessEventsUntil;

// Records the events of one socket as short texts ("state 3->4", "connected 10061", ...).
struct EventLog {
    std::vector<std::string> events;

    void Attach(TCustomWSocket& s)
    {
        s.OnChangeState = [this](QObject*, TSocketState o, TSocketState n) {
            events.push_back("state " + std::to_string(o) + "->" + std::to_string(n));
        };
        s.OnSessionConnected = [this](QObject*, std::uint16_t e) {
            events.push_back("connected " + std::to_string(e));
        };
        s.OnSessionClosed = [this](QObject*, std::uint16_t e) {
            events.push_back("closed " + std::to_string(e));
        };
        s.OnDataSent = [this](QObject*, std::uint16_t e) {
            events.push_back("sent " + std::to_string(e));
        };
    }
    int Count(const std::string& text) const
    {
        return static_cast<int>(std::count(events.begin(), events.end(), text));
    }
    bool Has(const std::string& text) const { return Count(text) > 0; }
};

// Assigns 127.0.0.1:port (and proto) to a closed socket.
inline void Address(TCustomWSocket& s, std::uint16_t port, const std::string& proto = "tcp")
{
    s.SetProto(proto);
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(port));
}

// A TWSocket connected to a raw peer accepted from a raw listener.
struct ConnectedPair {
    testsupport::RawFd listener;
    testsupport::RawFd peer;
    std::uint16_t port = 0;

    // Connects client; false when the connection did not come up within 5 s.
    bool Connect(TCustomWSocket& client, int peerRcvBuf = 0)
    {
        listener = testsupport::ListenLoopback(port, peerRcvBuf);
        if (!listener.Valid()) return false;
        Address(client, port);
        client.Connect();
        peer = testsupport::AcceptWithin(listener, 5000);
        return peer.Valid() &&
               ProcessEventsUntil([&] { return client.State() == wsConnected; }, 5000);
    }
};

// Appends whatever arrives on s to got (reading up to 64 bytes per call).
inline void CollectInto(TCustomWSocket& s, std::string& got)
{
    s.OnDataAvailable = [&s, &got](QObject*, std::uint16_t) {
        char buf[64];
        const int n = s.Receive(buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    };
}

// Makes the platform's send buffer of a connected socket small, so that Send has to queue.
inline void ShrinkSendBuffer(TCustomWSocket& s)
{
    int small = 4096;
    ::setsockopt(s.HSocket(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
}

// Reads n bytes from a raw peer on a thread of its own while the test runs the event loop.
class BackgroundReader {
public:
    BackgroundReader(const testsupport::RawFd& peer, std::size_t n)
        : thread_([this, &peer, n] { received_ = testsupport::ReadUpTo(peer, n, 20000); })
    {
    }
    ~BackgroundReader()
    {
        if (thread_.joinable()) thread_.join();
    }
    // Waits for the thread and returns what it read.
    const std::string& Received()
    {
        if (thread_.joinable()) thread_.join();
        return received_;
    }

private:
    std::string received_;
    std::thread thread_;
};

// A deterministic byte pattern (position-dependent, so reordering or loss shows).
inline std::string Pattern(std::size_t n, std::size_t offset = 0)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(((i + offset) * 131 + ((i + offset) >> 9)) & 0xFF);
    return s;
}

}  // namespace nettest
