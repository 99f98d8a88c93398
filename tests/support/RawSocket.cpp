#include "support/RawSocket.h"

#include <QDeadlineTimer>
#include <QDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace testsupport {

RawFd& RawFd::operator=(RawFd&& o) noexcept
{
    if (this != &o) Reset(o.Release());
    return *this;
}

int RawFd::Release()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void RawFd::Reset(int fd)
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

namespace {

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// Waits until fd is ready for events or the deadline passes.
bool WaitReady(int fd, short events, const QDeadlineTimer& deadline)
{
    for (;;) {
        const qint64 left = deadline.remainingTime();
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, left < 0 ? 1000 : static_cast<int>(left));
        if (r > 0) return true;
        if (r == 0 || errno != EINTR) return false;
    }
}

}  // namespace

RawFd ListenLoopback(std::uint16_t& port, int rcvBuf)
{
    RawFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) return fd;
    if (rcvBuf > 0) ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &rcvBuf, sizeof rcvBuf);
    sockaddr_in a = Loopback(port);
    socklen_t len = sizeof a;
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(fd.Get(), 16) != 0 ||
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return RawFd();
    port = ntohs(a.sin_port);
    return fd;
}

RawFd AcceptWithin(const RawFd& listener, int timeoutMs)
{
    if (!WaitReady(listener.Get(), POLLIN, QDeadlineTimer(timeoutMs))) return RawFd();
    return RawFd(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
}

RawFd ConnectLoopback(std::uint16_t port)
{
    RawFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in a = Loopback(port);
    if (!fd.Valid() || ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
        return RawFd();
    return fd;
}

RawFd BindUdpLoopback(std::uint16_t& port)
{
    RawFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in a = Loopback(port);
    socklen_t len = sizeof a;
    if (!fd.Valid() || ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return RawFd();
    port = ntohs(a.sin_port);
    return fd;
}

bool SendAll(const RawFd& fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t r = ::send(fd.Get(), data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        done += static_cast<std::size_t>(r);
    }
    return true;
}

std::string ReadUpTo(const RawFd& fd, std::size_t n, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    std::string out;
    char buf[65536];
    while (out.size() < n && WaitReady(fd.Get(), POLLIN, deadline)) {
        const ssize_t r = ::recv(fd.Get(), buf, std::min(sizeof buf, n - out.size()), 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        out.append(buf, static_cast<std::size_t>(r));
    }
    return out;
}

std::string ReadUntilClosed(const RawFd& fd, int timeoutMs, bool* closed)
{
    const QDeadlineTimer deadline(timeoutMs);
    std::string out;
    char buf[65536];
    if (closed) *closed = false;
    while (WaitReady(fd.Get(), POLLIN, deadline)) {
        const ssize_t r = ::recv(fd.Get(), buf, sizeof buf, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            if (closed) *closed = true;
            break;
        }
        out.append(buf, static_cast<std::size_t>(r));
    }
    return out;
}

std::string ReceiveDatagram(const RawFd& fd, int timeoutMs)
{
    if (!WaitReady(fd.Get(), POLLIN, QDeadlineTimer(timeoutMs))) return std::string();
    char buf[65536];
    const ssize_t r = ::recv(fd.Get(), buf, sizeof buf, 0);
    return r > 0 ? std::string(buf, static_cast<std::size_t>(r)) : std::string();
}

void ResetConnection(RawFd& fd)
{
    linger l{1, 0};
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    fd.Reset();
}

int OpenDescriptorCount()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                                .size());
}

}  // namespace testsupport
