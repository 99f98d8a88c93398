// Every path that ends a connection closes its descriptor exactly once: counted on /proc/self/fd.
#include "NetTestUtil.h"

#include <fcntl.h>
#include <unistd.h>

#include <memory>

using namespace nettest;
using testsupport::OpenDescriptorCount;
using testsupport::RawFd;

namespace {

// One connect/close cycle through the ending given by round % 8.
void Cycle(int round, const RawFd& listener, std::uint16_t port, std::uint16_t deadPort)
{
    auto s = std::make_unique<TWSocket>();
    s->OnSessionClosed = [](QObject*, std::uint16_t) {};
    s->OnError = [](QObject*) {};
    const int ending = round % 8;
    if (ending == 1) {  // refused connect
        Address(*s, deadPort);
        s->Connect();
        ASSERT_TRUE(ProcessEventsUntil([&] { return s->State() == wsClosed; }, 5000));
        return;
    }
    if (ending == 2) {  // listen, accept and Dup over the open listening handle
        s->SetAddr("127.0.0.1");
        s->SetPort("0");
        ASSERT_EQ(s->Listen(), 0);
        s->OnSessionAvailable = [&](QObject*, std::uint16_t) { s->Dup(s->Accept()); };
        const int listenPort = std::stoi(s->LocalPortText());
        RawFd peer = testsupport::ConnectLoopback(static_cast<std::uint16_t>(listenPort));
        ASSERT_TRUE(ProcessEventsUntil([&] { return s->State() == wsConnected; }, 5000));
        s->Close();
        return;
    }
    if (ending == 3) {  // bind failure (the port is taken), then Listen twice
        Address(*s, port);
        EXPECT_EQ(s->Listen(), -1);
        s->SetPort("0");
        ASSERT_EQ(s->Listen(), 0);
        ASSERT_EQ(s->Listen(), 0);
        return;  // destroyed while listening
    }
    if (ending == 4) {  // Dup of something that is not a socket
        int fds[2];
        ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        ::close(fds[1]);
        s->Dup(fds[0]);
        EXPECT_EQ(s->HSocket(), INVALID_SOCKET);
        return;
    }
    Address(*s, port);
    s->Connect();
    RawFd peer = testsupport::AcceptWithin(listener, 5000);
    ASSERT_TRUE(peer.Valid());
    ASSERT_TRUE(ProcessEventsUntil([&] { return s->State() == wsConnected; }, 5000));
    switch (ending) {
    case 0:
        s->Close();
        break;
    case 5:
        s->Abort();
        break;
    case 6:  // the peer goes away
        peer.Reset();
        ASSERT_TRUE(ProcessEventsUntil([&] { return s->State() == wsClosed; }, 5000));
        break;
    case 7:
        s->ResetToDefaults();
        break;
    }
}

TEST(WSocketDescriptors, NoneLeftOpenAfter200Cycles)
{
    std::uint16_t port = 0;
    RawFd listener = testsupport::ListenLoopback(port);
    ASSERT_TRUE(listener.Valid());
    const std::uint16_t deadPort = testsupport::FreeTcpPort();
    {
        // The first cycles may open descriptors that stay for the life of the process (event
        // dispatcher, resolver files); count from after them.
        for (int round = 0; round < 8; ++round)
            Cycle(round, listener, port, deadPort);
        ProcessEventsFor(50);
    }
    const int before = OpenDescriptorCount();
    for (int round = 0; round < 200; ++round) {
        Cycle(round, listener, port, deadPort);
        if (HasFatalFailure()) return;
    }
    ProcessEventsFor(50);
    EXPECT_EQ(OpenDescriptorCount(), before);
}

}  // namespace
