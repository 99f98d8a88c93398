// Plain POSIX TCP/UDP sockets on 127.0.0.1 for tests that need a peer under their own control
// (a peer that does not read, that resets, that sends a script of bytes). Every call is bounded
// in time; descriptors are owned by RawFd and closed when it goes away.
#pragma once

#include <cstdint>
#include <string>

namespace testsupport {

// An owned file descriptor (-1 when none).
class RawFd {
public:
    RawFd() = default;
    explicit RawFd(int fd) : fd_(fd) {}
    ~RawFd() { Reset(); }
    RawFd(RawFd&& o) noexcept : fd_(o.Release()) {}
    RawFd& operator=(RawFd&& o) noexcept;
    RawFd(const RawFd&) = delete;
    RawFd& operator=(const RawFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release();
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

// A TCP socket listening on 127.0.0.1 (port 0: any free port); port receives the bound port.
// rcvBuf > 0 sets SO_RCVBUF before listening (inherited by accepted connections).
RawFd ListenLoopback(std::uint16_t& port, int rcvBuf = 0);

// Accepts one connection within timeoutMs (invalid on timeout).
RawFd AcceptWithin(const RawFd& listener, int timeoutMs);

// A blocking TCP connection to 127.0.0.1:port (invalid on failure).
RawFd ConnectLoopback(std::uint16_t port);

// A UDP socket bound to 127.0.0.1 (port 0: any free port); port receives the bound port.
RawFd BindUdpLoopback(std::uint16_t& port);

// Sends all of data (blocking, MSG_NOSIGNAL); false on error.
bool SendAll(const RawFd& fd, const std::string& data);

// Reads until n bytes have arrived, the peer closed, or timeoutMs passed.
std::string ReadUpTo(const RawFd& fd, std::size_t n, int timeoutMs);

// Reads until the peer closes (or resets) or timeoutMs passes; closed tells which ended it.
std::string ReadUntilClosed(const RawFd& fd, int timeoutMs, bool* closed = nullptr);

// Receives one datagram within timeoutMs (empty on timeout).
std::string ReceiveDatagram(const RawFd& fd, int timeoutMs);

// Closes with SO_LINGER {1, 0}, so that the peer sees a reset.
void ResetConnection(RawFd& fd);

// Number of open descriptors of this process (entries of /proc/self/fd).
int OpenDescriptorCount();

}  // namespace testsupport
