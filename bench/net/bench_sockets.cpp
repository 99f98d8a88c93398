// Moves 1 GiB over loopback twice and prints the throughput of each:
//  1. two TWSockets: the sender sends one block from each OnDataSent (the way the FTP upload is
//     paced), the receiver takes the data in OnDataAvailable;
//  2. plain blocking POSIX sockets: a writer thread and a reading main thread.
// The receivers count the bytes and compare every 4096th byte of the stream with what was sent,
// so a figure never comes from lost, shifted or corrupted data.
// Usage: bench_sockets [MiB] [send block bytes]   (defaults: 1024 MiB, 65536 bytes)
#include "net/WSocket.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kReceiveBlock = 65536;

struct Result {
    double seconds = 0;
    std::uint64_t bytes = 0;
    std::uint64_t mismatches = 0;
    bool ok = false;
};

std::vector<char> Block(int size)
{
    std::vector<char> b(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i)
        b[static_cast<std::size_t>(i)] = static_cast<char>(i * 7 + 3);
    return b;
}

// Checks the sampled bytes of n bytes received at stream position r.bytes, then counts them.
void Take(Result& r, const std::vector<char>& block, const char* p, std::size_t n)
{
    constexpr std::uint64_t kStride = 4096;
    std::uint64_t pos = (r.bytes + kStride - 1) / kStride * kStride;
    for (; pos < r.bytes + n; pos += kStride)
        if (p[pos - r.bytes] != block[pos % block.size()]) ++r.mismatches;
    r.bytes += n;
}

Result ThroughWSockets(std::uint64_t total, const std::vector<char>& block)
{
    TWSocket server;
    TWSocket receiver;
    TWSocket sender;
    Result r;
    std::vector<char> in(kReceiveBlock);
    server.OnSessionAvailable = [&](QObject*, std::uint16_t) {
        receiver.Dup(server.Accept());
        server.Close();
    };
    receiver.OnDataAvailable = [&](QObject*, std::uint16_t) {
        const int n = receiver.Receive(in.data(), kReceiveBlock);
        if (n > 0) Take(r, block, in.data(), static_cast<std::size_t>(n));
        if (r.bytes >= total) QCoreApplication::exit(0);
    };
    std::uint64_t sent = 0;
    QElapsedTimer clock;
    sender.OnSessionConnected = [&](QObject*, std::uint16_t error) {
        if (error != 0) QCoreApplication::exit(1);
        clock.start();
    };
    sender.OnDataSent = [&](QObject*, std::uint16_t) {
        if (sent >= total) return;
        const int n = static_cast<int>(std::min<std::uint64_t>(block.size(), total - sent));
        sender.Send(block.data(), n);
        sent += static_cast<std::uint64_t>(n);
    };
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.Listen();
    sender.SetAddr("127.0.0.1");
    sender.SetPort(server.LocalPortText());
    sender.Connect();
    QTimer watchdog;  // a benchmark that stalls ends instead of hanging
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(2); });
    watchdog.start(600000);
    const int rc = QCoreApplication::exec();
    r.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    r.ok = rc == 0 && r.bytes == total && r.mismatches == 0;
    return r;
}

Result ThroughPlainSockets(std::uint64_t total, const std::vector<char>& block)
{
    Result r;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(listener);
        return r;
    }
    const int out = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(out, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(out);
        ::close(listener);
        return r;
    }
    const int in = ::accept(listener, nullptr, nullptr);
    ::close(listener);
    QElapsedTimer clock;
    clock.start();
    std::thread writer([&] {
        std::uint64_t sent = 0;
        while (sent < total) {
            const std::size_t n = std::min<std::uint64_t>(block.size(), total - sent);
            std::size_t done = 0;
            while (done < n) {
                const ssize_t w = ::send(out, block.data() + done, n - done, MSG_NOSIGNAL);
                if (w <= 0) return;
                done += static_cast<std::size_t>(w);
            }
            sent += n;
        }
    });
    std::vector<char> buf(kReceiveBlock);
    while (r.bytes < total) {
        const ssize_t n = ::recv(in, buf.data(), buf.size(), 0);
        if (n <= 0) break;
        Take(r, block, buf.data(), static_cast<std::size_t>(n));
    }
    r.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    writer.join();
    ::close(out);
    ::close(in);
    r.ok = r.bytes == total && r.mismatches == 0;
    return r;
}

void Print(const char* what, const Result& r)
{
    const bool good = r.ok;
    std::printf("%-44s %10.1f MB/s  (%llu bytes in %.3f s)%s\n", what,
                r.seconds > 0 ? static_cast<double>(r.bytes) / 1e6 / r.seconds : 0.0,
                static_cast<unsigned long long>(r.bytes), r.seconds,
                good ? "" : "  FAILED: data lost or corrupted");
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const int blockSize = argc > 2 ? std::atoi(argv[2]) : 65536;
    if (mib == 0 || blockSize <= 0) {
        std::fprintf(stderr, "usage: bench_sockets [MiB] [send block bytes]\n");
        return 2;
    }
    const std::uint64_t total = mib << 20;
    const std::vector<char> block = Block(blockSize);

    std::printf("Moving %llu MiB over loopback, sends of %d bytes, receives of %d bytes\n",
                static_cast<unsigned long long>(mib), blockSize, kReceiveBlock);
    const Result ws = ThroughWSockets(total, block);
    Print("TWSocket -> TWSocket (OnDataSent paced)", ws);
    const Result plain = ThroughPlainSockets(total, block);
    Print("blocking POSIX sockets (writer thread)", plain);
    return ws.ok && plain.ok ? 0 : 1;
}
