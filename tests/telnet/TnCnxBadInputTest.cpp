// The telnet session against hostile or careless servers: random bytes, endless negotiation, a
// 10 MB burst, an IAC at the end of every read. No crash, no hang, bounded memory, and the data
// arrives complete and in order.
#include "TelnetTestUtil.h"

#include <QTimer>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <random>
#include <thread>

using namespace telnettest;

namespace {

constexpr int IAC = 255, DO = 253, WILL = 251, SB = 250, SE = 240;

// A server-side helper thread that writes a stream in chunks of random size while the test runs
// the event loop, and another that drains what the session sends back.
class StreamWriter {
public:
    StreamWriter(const testsupport::RawFd& peer, const std::string& stream, unsigned seed)
        : thread_([this, &peer, &stream, seed] {
              std::mt19937 rng(seed);
              std::size_t pos = 0;
              while (pos < stream.size()) {
                  const std::size_t n =
                      std::min<std::size_t>(stream.size() - pos, 1 + rng() % 6000);
                  if (!testsupport::SendAll(peer, stream.substr(pos, n))) break;
                  pos += n;
              }
              done_ = true;
          })
    {
    }
    // Joins the thread: the test runs the event loop until Done() first, or the writer could
    // wait for a session that no longer reads.
    ~StreamWriter() { thread_.join(); }
    bool Done() const { return done_; }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

class Drain {
public:
    explicit Drain(const testsupport::RawFd& peer)
        : thread_([this, &peer] {
              while (!stop_) {
                  const std::string got = testsupport::ReadUpTo(peer, 65536, 50);
                  std::lock_guard<std::mutex> lock(mutex_);
                  bytes_ += got;
              }
          })
    {
    }
    ~Drain()
    {
        stop_ = true;
        thread_.join();
    }
    std::string Bytes()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return bytes_;
    }

private:
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::string bytes_;
    std::thread thread_;
};

// True when bytes is a sequence of whole answers: IAC verb option, or IAC SB ... IAC SE.
bool WellFormedAnswers(const std::string& bytes)
{
    std::size_t i = 0;
    while (i < bytes.size()) {
        if (static_cast<std::uint8_t>(bytes[i]) != IAC || i + 2 >= bytes.size()) return false;
        const auto verb = static_cast<std::uint8_t>(bytes[i + 1]);
        if (verb >= WILL) {
            i += 3;
        } else if (verb == SB) {
            const std::size_t end = bytes.find(Bytes({IAC, SE}), i + 2);
            if (end == std::string::npos) return false;
            i = end + 2;
        } else {
            return false;
        }
    }
    return true;
}

class TnCnxBadInput : public ::testing::Test {
protected:
    void SetUp() override
    {
        log.Attach(tn);
        // Checks that hold after every block, without keeping all the data.
        tn.OnDataAvailable = [this](TTnCnx*, char* buffer, std::int32_t len) {
            maxBlock = std::max(maxBlock, len);
            if (buffer[len] != '\0') log.nulAfterEveryBlock = false;
            maxSubNeg = std::max(maxSubNeg, tn.SubNegotiationSize());
            if (keepData) log.data.append(buffer, static_cast<std::size_t>(len));
            received += len;
            if (check) check(buffer, len);
        };
        ASSERT_TRUE(server.Connect(tn));
    }

    TTnCnx tn;
    SessionLog log;
    ScriptedServer server;
    bool keepData = true;
    std::int32_t maxBlock = 0;
    std::size_t maxSubNeg = 0;
    long long received = 0;
    std::function<void(const char*, std::int32_t)> check;
};

TEST_F(TnCnxBadInput, RandomCommandsAmongDataLeaveTheDataIntactAndInOrder)
{
    // Data bytes (255 escaped) mixed with every kind of command, sub-negotiations of random
    // content included; the expected data is known from the construction.
    std::mt19937 rng(4711);
    std::string stream, expected;
    while (stream.size() < 2'000'000) {
        const unsigned kind = rng() % 10;
        if (kind < 6) {
            const std::size_t n = 1 + rng() % 40;
            for (std::size_t i = 0; i < n; ++i) {
                const char b = static_cast<char>(rng() % 256);
                expected.push_back(b);
                stream.push_back(b);
                if (static_cast<std::uint8_t>(b) == IAC) stream.push_back(b);
            }
        } else if (kind < 8) {
            stream +=
                Bytes({IAC, static_cast<int>(251 + rng() % 4), static_cast<int>(rng() % 256)});
        } else if (kind < 9) {
            static const int others[] = {239, 241, 242, 243, 244, 245, 246, 247, 248, 249};
            stream += Bytes({IAC, others[rng() % 10]});
        } else {
            stream += Bytes({IAC, SB});
            const std::size_t n = rng() % 60;
            for (std::size_t i = 0; i < n; ++i) {
                int b = static_cast<int>(rng() % 256);
                if (b == SE) b = 'x';
                stream.push_back(static_cast<char>(b));
            }
            stream += Bytes({IAC, SE});
        }
    }
    Drain drain(server.peer);
    {
        StreamWriter writer(server.peer, stream, 1);
        ASSERT_TRUE(ProcessEventsUntil([&] { return log.data.size() >= expected.size(); }, 60000));
    }
    EXPECT_TRUE(log.data == expected) << "data differs";
    EXPECT_LE(maxBlock, TTnCnx::DataBufferSize);
    EXPECT_TRUE(log.nulAfterEveryBlock);
    EXPECT_EQ(tn.State(), wsConnected);
    ProcessEventsFor(200);
    EXPECT_TRUE(WellFormedAnswers(drain.Bytes()));
}

TEST_F(TnCnxBadInput, RandomBytesNeitherCrashNorHangAndTheSessionRecovers)
{
    std::mt19937 rng(815);
    std::string junk(1'000'000, '\0');
    for (char& c : junk)
        c = static_cast<char>(rng() % 256);
    Drain drain(server.peer);
    {
        StreamWriter writer(server.peer, junk, 2);
        ASSERT_TRUE(ProcessEventsUntil([&] { return writer.Done(); }, 60000));
    }
    // A byte SE ends a sub-negotiation, completes a pending verb or an IAC, or is data: after it
    // the parser reads plain data again.
    server.Write(Bytes({SE}) + "MARKER");
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return log.data.size() >= 6 && log.data.substr(log.data.size() - 6) == "MARKER"; },
        60000));
    EXPECT_LE(maxBlock, TTnCnx::DataBufferSize);
    EXPECT_LE(maxSubNeg, TTnCnx::SubNegotiationLimit);
    EXPECT_LT(log.data.size(), junk.size() + 8);
    EXPECT_EQ(tn.State(), wsConnected);
}

TEST_F(TnCnxBadInput, EndlessNegotiationKeepsTheEventLoopRunning)
{
    // The server answers every reply with a new request, 5000 times; the session answers each
    // one, and timers and other events go on meanwhile.
    constexpr int kRounds = 5000;
    std::atomic<int> rounds{0};
    std::atomic<bool> wrong{false};
    std::thread server_thread([&] {
        int option = 30;
        if (!testsupport::SendAll(server.peer, Bytes({IAC, DO, option}))) return;
        while (rounds < kRounds) {
            const std::string reply = testsupport::ReadUpTo(server.peer, 3, 10000);
            if (reply != Bytes({IAC, 252, option})) {
                wrong = true;
                return;
            }
            ++rounds;
            option = 30 + rounds % 200;
            if (!testsupport::SendAll(server.peer, Bytes({IAC, DO, option}))) return;
        }
    });
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(5);
    const bool done = ProcessEventsUntil([&] { return rounds == kRounds || wrong; }, 90000);
    server_thread.join();
    ASSERT_TRUE(done);
    EXPECT_FALSE(wrong);
    EXPECT_GT(ticks, 1);
    // The last request's answer has gone out; nothing is left queued, and data still flows.
    server.ReadFor(100);
    server.Write("END");
    EXPECT_TRUE(ProcessEventsUntil([&] { return log.data == "END"; }, 5000));
    EXPECT_TRUE(tn.Socket()->AllSent());
}

TEST_F(TnCnxBadInput, TenMegabyteBurstArrivesInOrderWithBoundedMemory)
{
    constexpr std::size_t kSize = 10u << 20;
    const auto byteAt = [](std::size_t i) {
        return static_cast<char>((i * 131 + (i >> 11)) & 0xFF);
    };
    std::string stream;
    stream.reserve(kSize + kSize / 128);
    for (std::size_t i = 0; i < kSize; ++i) {
        stream.push_back(byteAt(i));
        if (static_cast<std::uint8_t>(byteAt(i)) == IAC) stream.push_back(byteAt(i));
    }
    keepData = false;
    std::size_t position = 0;
    std::size_t mismatches = 0;
    long peakResident = 0;
    int blocks = 0;
    check = [&](const char* buffer, std::int32_t len) {
        for (std::int32_t i = 0; i < len; ++i, ++position)
            if (buffer[i] != byteAt(position)) ++mismatches;
        if (++blocks % 256 == 0) peakResident = std::max(peakResident, ResidentBytes());
    };
    const long before = ResidentBytes();
    {
        StreamWriter writer(server.peer, stream, 3);
        ASSERT_TRUE(ProcessEventsUntil([&] { return position >= kSize; }, 120000))
            << position << " bytes arrived";
    }
    EXPECT_EQ(position, kSize);
    EXPECT_EQ(mismatches, 0u);
    EXPECT_LE(maxBlock, TTnCnx::DataBufferSize);
    // The session holds one block at a time; a session that kept the burst would grow by 10 MB.
    EXPECT_LT(peakResident - before, 4L << 20);
}

TEST_F(TnCnxBadInput, IacAtTheEndOfEveryReadIsCompletedByTheNext)
{
    // Every piece ends with IAC; the next one starts with the rest of the command.
    const std::vector<std::pair<std::string, std::string>> completions = {
        {Bytes({IAC}), Bytes({255})},  // data byte 255
        {Bytes({WILL, 1}), ""},
        {Bytes({241}), ""},  // NOP
        {Bytes({SB, 24, 1, IAC, SE}), ""},
        {Bytes({239}), ""},  // EOR
        {Bytes({DO, 99}), ""}};
    std::string expected;
    std::string expectedAnswers;
    for (int round = 0; round < 120; ++round) {
        const auto& [completion, data] = completions[static_cast<std::size_t>(round) % 6];
        const std::string text = "r" + std::to_string(round);
        const std::string piece = (round == 0 ? "" : completion) + text + Bytes({IAC});
        if (round > 0) {
            expected += data;
            if (completion[0] == static_cast<char>(WILL)) expectedAnswers += Bytes({IAC, DO, 1});
            if (completion[0] == static_cast<char>(SB))
                expectedAnswers += Bytes({IAC, SB, 24, 0}) + "VT100" + Bytes({IAC, SE});
            if (completion[0] == static_cast<char>(DO)) expectedAnswers += Bytes({IAC, 252, 99});
        }
        expected += text;
        server.Write(piece);
        ASSERT_TRUE(WaitUntilWaiting(tn, static_cast<int>(piece.size())));
        ASSERT_TRUE(ProcessEventsUntil([&] { return tn.Socket()->RcvdCount() == 0; }, 5000));
    }
    server.Write(Bytes({IAC}) + "!");
    expected += Bytes({255}) + "!";
    ASSERT_TRUE(ProcessEventsUntil([&] { return log.data.size() >= expected.size(); }, 5000));
    EXPECT_EQ(log.data, expected);
    EXPECT_EQ(server.Read(expectedAnswers.size()), expectedAnswers);
    EXPECT_EQ(log.Count("eor"), 20);
}

}  // namespace
