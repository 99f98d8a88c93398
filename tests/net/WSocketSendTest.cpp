// The send queue: chunks, draining against a peer that reads slowly or not at all, OnDataSent
// pacing, byte order.
#include "NetTestUtil.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

using namespace nettest;
using testsupport::RawFd;

namespace {

// Exposes the queue step to the tests.
class QueueProbe : public TWSocket {
public:
    using TCustomWSocket::QueueData;
};

std::vector<int> ChunkSizes(const TCustomWSocket& s)
{
    std::vector<int> sizes;
    for (const auto& b : s.SendQueue())
        sizes.push_back(b->WriteCount() - b->ReadCount());
    return sizes;
}

TEST(TBuffer, AppendPeekConsumeAndCapacity)
{
    TBuffer b(10);
    EXPECT_EQ(b.Capacity(), 10);
    EXPECT_EQ(b.PeekData().first, nullptr);
    EXPECT_EQ(b.AppendData("abcdefgh", 8), 8);
    EXPECT_EQ(b.AppendData("ijklmn", 6), 2);  // only the room left
    EXPECT_EQ(b.AppendData("x", 1), 0);
    EXPECT_EQ(b.ConsumeData(3), 3);
    auto [p, n] = b.PeekData();
    EXPECT_EQ(std::string(p, static_cast<std::size_t>(n)), "defghij");
    b.SetCapacity(20);  // keeps the stored bytes and the counts
    EXPECT_EQ(std::string(b.PeekData().first, 7), "defghij");
    EXPECT_EQ(b.ConsumeData(100), 7);
    EXPECT_EQ(b.WriteCount(), 0);  // an emptied chunk starts again at 0
    EXPECT_EQ(b.ReadCount(), 0);
    EXPECT_EQ(b.AppendData("12345678901234567890", 20), 20);
    b.SetCapacity(5);  // never below the stored bytes
    EXPECT_EQ(b.Capacity(), 20);
    TBuffer d(0);
    EXPECT_EQ(d.Capacity(), 1514);
}

TEST(WSocketSend, QueueCutsDataIntoChunksOf1514)
{
    QueueProbe s;
    EXPECT_EQ(s.ChunkSize(), 1514);
    const std::string data = Pattern(4000);
    s.QueueData(data.data(), 4000);
    EXPECT_EQ(ChunkSizes(s), (std::vector<int>{1514, 1514, 972}));
    s.QueueData(data.data(), 600);  // new data fills the last chunk first
    EXPECT_EQ(ChunkSizes(s), (std::vector<int>{1514, 1514, 1514, 58}));
    s.QueueData(data.data(), 0);
    EXPECT_EQ(s.SendQueue().size(), 4u);
}

TEST(WSocketSend, SendOnIdleConnectionGoesOutAndReportsOnceAfterReturning)
{
    TWSocket s;
    ConnectedPair pair;
    ASSERT_TRUE(pair.Connect(s));
    int sent = 0;
    s.OnDataSent = [&](QObject*, std::uint16_t) { ++sent; };
    ASSERT_TRUE(ProcessEventsUntil([&] { return sent == 1; }, 5000));  // after the connect
    sent = 0;
    const std::string data = Pattern(4000);
    EXPECT_EQ(s.Send(data.data(), 4000), 4000);
    EXPECT_EQ(sent, 0);  // never inside Send
    EXPECT_TRUE(s.AllSent());
    EXPECT_EQ(ChunkSizes(s), std::vector<int>{0});  // one empty chunk kept for reuse
    ASSERT_TRUE(ProcessEventsUntil([&] { return sent == 1; }, 5000));
    ProcessEventsFor(50);
    EXPECT_EQ(sent, 1);
    EXPECT_EQ(testsupport::ReadUpTo(pair.peer, 4000, 5000), data);
}

TEST(WSocketSend, SendOfNothingQueuesNothingAndStillReports)
{
    TWSocket s;
    ConnectedPair pair;
    ASSERT_TRUE(pair.Connect(s));
    int sent = 0;
    s.OnDataSent = [&](QObject*, std::uint16_t) { ++sent; };
    ASSERT_TRUE(ProcessEventsUntil([&] { return sent == 1; }, 5000));
    EXPECT_EQ(s.Send("", 0), 0);
    EXPECT_TRUE(s.SendQueue().empty());
    EXPECT_TRUE(s.AllSent());
    ASSERT_TRUE(ProcessEventsUntil([&] { return sent == 2; }, 5000));
    s.SetMultiThreaded(true);
    s.Flush();  // returns at once: nothing is waiting
    EXPECT_TRUE(s.AllSent());
}

TEST(WSocketSend, PeerThatDoesNotReadMakesSendQueueAndDrainLater)
{
    TWSocket s;
    ConnectedPair pair;
    ASSERT_TRUE(pair.Connect(s, 4096));
    ShrinkSendBuffer(s);
    int sent = 0;
    s.OnDataSent = [&](QObject*, std::uint16_t) { ++sent; };
    ASSERT_TRUE(ProcessEventsUntil([&] { return sent == 1; }, 5000));
    sent = 0;
    const std::string data = Pattern(1 << 20);
    EXPECT_EQ(s.Send(data.data(), static_cast<int>(data.size())), 1 << 20);
    EXPECT_FALSE(s.AllSent());
    EXPECT_GT(s.SendQueue().size(), 100u);
    ProcessEventsFor(100);
    EXPECT_EQ(sent, 0);  // the queue is not empty: no OnDataSent

    BackgroundReader reader(pair.peer, data.size());
    ASSERT_TRUE(ProcessEventsUntil([&] { return sent > 0; }, 20000));
    ProcessEventsFor(50);
    EXPECT_EQ(sent, 1);  // once, when the queue became empty
    EXPECT_TRUE(reader.Received() == data);
    EXPECT_EQ(ChunkSizes(s), std::vector<int>{0});
}

TEST(WSocketSend, SeveralMegabytesThroughASlowReaderArriveInOrder)
{
    TWSocket s;
    ConnectedPair pair;
    ASSERT_TRUE(pair.Connect(s, 8192));
    ShrinkSendBuffer(s);
    const std::size_t total = 6u << 20;
    const std::string data = Pattern(total);
    std::size_t offset = 0;
    std::size_t step = 1;
    // Sends of changing sizes, from OnDataSent and directly, several per event.
    auto sendMore = [&] {
        for (int i = 0; i < 3 && offset < total; ++i) {
            const std::size_t n = std::min(total - offset, (step * 7919) % 70000 + 1);
            ++step;
            ASSERT_EQ(s.Send(data.data() + offset, static_cast<int>(n)), static_cast<int>(n));
            offset += n;
        }
    };
    s.OnDataSent = [&](QObject*, std::uint16_t) { sendMore(); };
    sendMore();

    std::string received;
    std::thread reader([&] {
        while (received.size() < total) {
            const std::size_t want = std::min<std::size_t>(3001, total - received.size());
            const std::string part = testsupport::ReadUpTo(pair.peer, want, 10000);
            if (part.empty()) break;
            received += part;
            if (received.size() % 7 == 0) ::usleep(200);
        }
    });
    const bool done = ProcessEventsUntil([&] { return offset == total && s.AllSent(); }, 60000);
    reader.join();
    ASSERT_TRUE(done);
    ASSERT_EQ(received.size(), total);
    EXPECT_TRUE(received == data);
}

TEST(WSocketSend, DatagramSendCutsChunksIntoDatagrams)
{
    std::uint16_t port = 0;
    RawFd peer = testsupport::BindUdpLoopback(port);
    TWSocket s;
    Address(s, port, "udp");
    s.Connect();
    const std::string data = Pattern(4000);
    EXPECT_EQ(s.Send(data.data(), 4000), 4000);
    EXPECT_EQ(testsupport::ReceiveDatagram(peer, 5000), data.substr(0, 1514));
    EXPECT_EQ(testsupport::ReceiveDatagram(peer, 5000), data.substr(1514, 1514));
    EXPECT_EQ(testsupport::ReceiveDatagram(peer, 5000), data.substr(3028));
}

TEST(WSocketSend, FlushWithMultiThreadedWaitsForTheQueue)
{
    TWSocket s;
    ConnectedPair pair;
    ASSERT_TRUE(pair.Connect(s, 4096));
    ShrinkSendBuffer(s);
    s.SetMultiThreaded(true);
    const std::string data = Pattern(512 * 1024);
    s.Send(data.data(), static_cast<int>(data.size()));
    ASSERT_FALSE(s.AllSent());
    BackgroundReader reader(pair.peer, data.size());
    s.Flush();
    EXPECT_TRUE(s.AllSent());
    EXPECT_TRUE(reader.Received() == data);
}

TEST(WSocketSend, FlushGivesUpAfterFlushTimeoutWhenThePeerNeverReads)
{
    TWSocket s;
    ConnectedPair pair;
    ASSERT_TRUE(pair.Connect(s, 4096));
    ShrinkSendBuffer(s);
    s.SetMultiThreaded(true);
    s.SetFlushTimeout(1);
    const std::string data = Pattern(1 << 20);
    s.Send(data.data(), static_cast<int>(data.size()));
    s.Flush();  // returns after about a second
    EXPECT_FALSE(s.AllSent());
}

}  // namespace

namespace {

TEST(WSocketSend, SendFileGoesAfterQueuedBytesPacedByDataSent)
{
    // A file far larger than the platform's buffers towards a peer with a small window: the
    // bytes queued by Send come first, then the file in order, each call after an OnDataSent.
    const std::string head = "queued first|";
    const std::string body = Pattern(8 << 20, 3);
    char name[] = "/tmp/zarvos-sendfile-XXXXXX";
    const int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    ::unlink(name);
    ASSERT_EQ(::write(fd, body.data(), body.size()), static_cast<ssize_t>(body.size()));

    TWSocket s;
    ConnectedPair pair;
    ASSERT_TRUE(pair.Connect(s, 8192));
    ShrinkSendBuffer(s);
    BackgroundReader reader(pair.peer, head.size() + body.size());
    std::int64_t offset = 0;
    bool atEnd = false;
    int calls = 0;
    int full = 0;
    s.OnDataSent = [&](QObject*, std::uint16_t) {
        if (atEnd) return;
        ++calls;
        const std::int64_t n = s.SendFile(fd, offset, 1 << 20);
        if (n == 0) atEnd = true;
        if (n < 0) {
            EXPECT_EQ(s.LastError(), WSAEWOULDBLOCK);
            ++full;
        }
    };
    ASSERT_EQ(s.SendStr(head), static_cast<int>(head.size()));
    ASSERT_TRUE(ProcessEventsUntil([&] { return atEnd; }, 20000));
    EXPECT_EQ(offset, static_cast<std::int64_t>(body.size()));
    EXPECT_TRUE(reader.Received() == head + body);
    EXPECT_GE(calls, 9) << "never more than the 1 MiB asked for per call";
    EXPECT_LT(full, calls);

    // A pipe cannot be sent from this way: the caller is told to use Send.
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ASSERT_EQ(::write(pipeFds[1], "abc", 3), 3);
    std::int64_t pipeOffset = 0;
    EXPECT_EQ(s.SendFile(pipeFds[0], pipeOffset, 3), -1);
    EXPECT_EQ(s.LastError(), WSAEOPNOTSUPP);
    EXPECT_EQ(pipeOffset, 0);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    ::close(fd);

    TWSocket closed;
    std::int64_t none = 0;
    EXPECT_EQ(closed.SendFile(0, none, 1), -1);
    EXPECT_EQ(closed.LastError(), WSAENOTCONN);
}

}  // namespace
