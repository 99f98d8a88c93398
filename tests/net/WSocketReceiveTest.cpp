// Receiving: the receive loop, the line reader and the synchronous waits in their MultiThreaded
// form (the wait-control form is tested with the control itself).
#include "NetTestUtil.h"

#include <QTimer>

#include <stdexcept>

using namespace nettest;

namespace {

TEST(WSocketReceive, HandlerThatRaisesIsSwallowedAndCalledAgain)
{
    TWSocket s;
    std::string got;
    int calls = 0;
    s.OnDataAvailable = [&](QObject*, std::uint16_t) {
        ++calls;
        char buf[64];
        const int n = s.Receive(buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<std::size_t>(n));
        throw std::runtime_error("handler failure");
    };
    ConnectedPair pair;
    ASSERT_TRUE(pair.Connect(s));
    ASSERT_TRUE(testsupport::SendAll(pair.peer, "one"));
    ASSERT_TRUE(ProcessEventsUntil([&] { return got == "one"; }, 5000));
    ASSERT_TRUE(testsupport::SendAll(pair.peer, "two"));
    ASSERT_TRUE(ProcessEventsUntil([&] { return got == "onetwo"; }, 5000));
    EXPECT_GE(calls, 2);
    EXPECT_EQ(s.State(), wsConnected);
}

TEST(WSocketReceive, ReceiveLoopCallsTheHandlerWhileDataIsWaiting)
{
    // A handler that takes one byte per call still gets everything from one read event.
    TWSocket s;
    std::string got;
    s.OnDataAvailable = [&](QObject*, std::uint16_t) {
        char c = 0;
        if (s.Receive(&c, 1) == 1) got.push_back(c);
    };
    ConnectedPair pair;
    ASSERT_TRUE(pair.Connect(s));
    ASSERT_TRUE(testsupport::SendAll(pair.peer, "abcdefghij"));
    ASSERT_TRUE(ProcessEventsUntil([&] { return got == "abcdefghij"; }, 5000));
    EXPECT_EQ(s.RcvdCount(), 0);
    EXPECT_EQ(s.ReadCount(), 10);
}

class ReadLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        s.SetMultiThreaded(true);
        s.OnLineTooLong = [this](QObject*) { ++tooLong; };
        ASSERT_TRUE(pair.Connect(s));
    }
    std::string Line(int timeout = 5)
    {
        std::string line = "untouched";
        s.ReadLine(timeout, line);
        return line;
    }
    void Peer(const std::string& bytes) { ASSERT_TRUE(testsupport::SendAll(pair.peer, bytes)); }

    TWSocket s;
    ConnectedPair pair;
    int tooLong = 0;
};

TEST_F(ReadLineTest, CarriageReturnsAreDroppedAndLineFeedEndsTheLine)
{
    Peer("abc\r\nx\na\rb\n");
    EXPECT_EQ(Line(), "abc");
    EXPECT_EQ(Line(), "x");
    EXPECT_EQ(Line(), "ab");
    EXPECT_FALSE(s.LineActive());
    EXPECT_EQ(s.ReadCount(), 11);
}

TEST_F(ReadLineTest, LineArrivingDuringTheWaitEndsIt)
{
    QTimer::singleShot(50, [this] { Peer("later\r\n"); });
    EXPECT_EQ(Line(), "later");
}

TEST_F(ReadLineTest, LongLineIsCutAt254WithOneNotice)
{
    const std::string data = Pattern(300);
    std::string clean = data;
    for (char& c : clean)
        if (c == '\n' || c == '\r') c = '.';
    Peer(clean + "\n");
    EXPECT_EQ(Line(), clean.substr(0, 254));
    EXPECT_EQ(tooLong, 1);
    EXPECT_EQ(Line(), clean.substr(254));
    EXPECT_EQ(tooLong, 1);
}

TEST_F(ReadLineTest, TimedOutLineIsContinuedByTheNextReadLine)
{
    Peer("par");
    EXPECT_EQ(Line(1), "par");
    EXPECT_TRUE(s.LineActive());
    Peer("tial\n");
    EXPECT_EQ(Line(), "partial");
}

TEST_F(ReadLineTest, PeerCloseEndsTheLine)
{
    Peer("last");
    QTimer::singleShot(50, [this] { pair.peer.Reset(); });
    EXPECT_EQ(Line(), "last");
    EXPECT_FALSE(s.LineActive());
    ASSERT_TRUE(ProcessEventsUntil([&] { return s.State() == wsClosed; }, 5000));
}

TEST(WSocketReceive, SynchronousHelpersNeedAWaitObject)
{
    TWSocket s;
    std::string line = "untouched";
    try {
        s.ReadLine(1, line);
        FAIL() << "no exception";
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "No wait object assigned");
    }
    EXPECT_EQ(line, "untouched");
    EXPECT_THROW(s.Flush(), ESocketException);
    try {
        s.Wait(1, wsConnected);
        FAIL() << "no exception";
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Error 11004 in function TWSocket.Wait\r\nNo Data");
    }
    EXPECT_EQ(s.AwaitedState(), wsInvalidState);
}

TEST(WSocketReceive, WaitWithMultiThreadedPumpsUntilTheState)
{
    TWSocket s;
    s.SetMultiThreaded(true);
    std::uint16_t port = 0;
    testsupport::RawFd listener = testsupport::ListenLoopback(port);
    Address(s, port);
    s.Connect();
    EXPECT_TRUE(s.Wait(5, wsConnected));
    EXPECT_TRUE(s.Wait(5, wsConnected));  // already there
    EXPECT_FALSE(s.Wait(1, wsListening));
    EXPECT_EQ(s.AwaitedState(), wsInvalidState);
}

TEST(WSocketReceive, WaitUntilClosedDeliversRemainingData)
{
    TWSocket s;
    std::string got;
    CollectInto(s, got);
    ConnectedPair pair;
    ASSERT_TRUE(pair.Connect(s));
    QTimer::singleShot(50, [&] {
        testsupport::SendAll(pair.peer, "goodbye");
        pair.peer.Reset();
    });
    s.WaitUntilClosed();
    EXPECT_EQ(got, "goodbye");
    ASSERT_TRUE(ProcessEventsUntil([&] { return s.State() == wsClosed; }, 5000));
}

}  // namespace
