// The data paths of the socket component: the send queue, receiving, the line reader and the
// synchronous waits.
#include "net/WSocket.h"

#include "net/WSocketPrivate.h"
#include "platform/Ticks.h"

#include <QCoreApplication>

#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>

using net::detail::StoreError;

// ---- TBuffer --------------------------------------------------------------------------------

TBuffer::TBuffer(int Capacity)
{
    SetCapacity(Capacity);
}

void TBuffer::SetCapacity(int n)
{
    if (n <= 0) n = 1514;
    if (n == capacity_ && data_) return;
    if (readCount_ == writeCount_) {
        data_ = std::make_unique<char[]>(static_cast<std::size_t>(n));
        readCount_ = writeCount_ = 0;
        capacity_ = n;
        return;
    }
    n = std::max(n, writeCount_);
    auto fresh = std::make_unique<char[]>(static_cast<std::size_t>(n));
    std::memcpy(fresh.get(), data_.get(), static_cast<std::size_t>(writeCount_));
    data_ = std::move(fresh);
    capacity_ = n;
}

int TBuffer::AppendData(const void* Data, int Len)
{
    const int room = capacity_ - writeCount_;
    if (room <= 0 || Len <= 0) return 0;
    const int n = std::min(room, Len);
    std::memcpy(data_.get() + writeCount_, Data, static_cast<std::size_t>(n));
    writeCount_ += n;
    return n;
}

std::pair<const char*, int> TBuffer::PeekData() const
{
    if (readCount_ >= writeCount_) return {nullptr, 0};
    return {data_.get() + readCount_, writeCount_ - readCount_};
}

int TBuffer::ConsumeData(int Len)
{
    if (Len <= 0) return 0;
    const int n = std::min(Len, writeCount_ - readCount_);
    readCount_ += n;
    if (readCount_ == writeCount_) readCount_ = writeCount_ = 0;
    return n;
}

// ---- Sending --------------------------------------------------------------------------------

void TCustomWSocket::QueueData(const void* Data, int Len)
{
    if (Len < 1) return;
    const char* p = static_cast<const char*>(Data);
    if (bufferList_.empty()) bufferList_.push_back(std::make_unique<TBuffer>(chunkSize_));
    for (;;) {
        const int taken = bufferList_.back()->AppendData(p, Len);
        if (taken == Len) return;
        p += taken;
        Len -= taken;
        bufferList_.push_back(std::make_unique<TBuffer>(chunkSize_));
    }
}

int TCustomWSocket::SendErrorCode(int err) const
{
    // EPIPE is a send after the own shutdown, or on a connection the peer has reset.
    if (err == EPIPE) return shutdownWrite_ ? WSAESHUTDOWN : WSAECONNRESET;
    return net::WinsockErrorFromErrno(err);
}

void TCustomWSocket::TryToSend()
{
    if (hSocket_ == INVALID_SOCKET) return;
    if (bufferList_.empty()) {
        // Nothing was ever queued: everything is sent.
        allSent_ = true;
        return;
    }
    for (;;) {
        const auto [data, len] = bufferList_.front()->PeekData();
        if (len == 0) {
            if (bufferList_.size() > 1) {
                bufferList_.pop_front();
                continue;
            }
            allSent_ = true;
            return;
        }
        ssize_t r;
        std::size_t offered = static_cast<std::size_t>(len);
        if (type_ == SOCK_DGRAM) {
            // One chunk is one datagram.
            r = ::sendto(hSocket_, data, offered, sendFlags_ | MSG_NOSIGNAL,
                         reinterpret_cast<const sockaddr*>(&sin_), sizeof sin_);
        } else if (sendFlags_ != 0) {
            r = ::send(hSocket_, data, offered, sendFlags_ | MSG_NOSIGNAL);
        } else {
            // A stream takes the unsent ranges of several chunks in one call: the bytes on the
            // wire are the same as chunk by chunk, with far fewer calls.
            constexpr std::size_t kGather = 64;
            iovec iov[kGather];
            std::size_t count = 0;
            offered = 0;
            for (const auto& chunk : bufferList_) {
                const auto [p, n] = chunk->PeekData();
                if (n == 0) break;
                iov[count].iov_base = const_cast<char*>(p);
                iov[count].iov_len = static_cast<std::size_t>(n);
                offered += static_cast<std::size_t>(n);
                if (++count == kGather) break;
            }
            msghdr msg{};
            msg.msg_iov = iov;
            msg.msg_iovlen = count;
            r = ::sendmsg(hSocket_, &msg, MSG_NOSIGNAL);
        }
        if (r == 0) return;
        if (r < 0) {
            const int code = SendErrorCode(errno);
            net::WSASetLastError(code);
            switch (code) {
            case WSAEINVAL:
            case WSAENOTSOCK:
            case WSAECONNRESET:
            case WSAENOTCONN:
                Close();
                return;
            case WSAEWOULDBLOCK:
                writeWanted_ = true;
                UpdateNotifiers();
                return;
            default:
                ReportSocketError("TryToSend failed");
                return;
            }
        }
        // Marks what the platform took as sent, freeing emptied chunks except the last.
        std::size_t taken = static_cast<std::size_t>(r);
        while (taken > 0) {
            taken -= static_cast<std::size_t>(bufferList_.front()->ConsumeData(
                static_cast<int>(std::min<std::size_t>(taken, INT_MAX))));
            if (taken > 0 && bufferList_.size() > 1) bufferList_.pop_front();
        }
        if (static_cast<std::size_t>(r) < offered) {
            // The platform's buffer is full; its next writable report resumes sending.
            writeWanted_ = true;
            UpdateNotifiers();
            return;
        }
    }
}

int TCustomWSocket::Send(const void* Data, int Len)
{
    if (state_ != wsConnected) {
        net::WSASetLastError(WSAENOTCONN);
        ReportSocketError("Send");
        return -1;
    }
    allSent_ = false;
    int result = 0;
    if (Len > 0) {
        QueueData(Data, Len);
        result = Len;
    }
    const std::uint64_t serial = serial_;
    TryToSend();
    // OnDataSent never fires inside Send: a queue that went out at once is reported through a
    // write event from the event loop.
    if (allSent_ && Live(serial)) PostSocketEvent(net::FD_WRITE, 0);
    return result;
}

namespace {

// sendfile has no MSG_NOSIGNAL: while it runs SIGPIPE is blocked for this thread, and one that
// it raised (the peer has gone) is taken back before the mask is restored, so the process is
// never ended by it and a SIGPIPE of someone else's stays pending.
class NoPipeSignal {
public:
    NoPipeSignal()
    {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~NoPipeSignal()
    {
        if (raised_ && !wasPending_) {
            const timespec zero{};
            while (sigtimedwait(&pipe_, nullptr, &zero) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    NoPipeSignal(const NoPipeSignal&) = delete;
    NoPipeSignal& operator=(const NoPipeSignal&) = delete;
    void Raised() { raised_ = true; }

private:
    sigset_t pipe_{};
    sigset_t old_{};
    bool wasPending_ = false;
    bool raised_ = false;
};

}  // namespace

std::int64_t TCustomWSocket::SendFile(int FileHandle, std::int64_t& Offset, std::int64_t Count)
{
    const auto fail = [this](int code) -> std::int64_t {
        lastError_ = code;
        net::WSASetLastError(code);
        return -1;
    };
    if (state_ != wsConnected || hSocket_ == INVALID_SOCKET) return fail(WSAENOTCONN);
    if (type_ != SOCK_STREAM || sendFlags_ != 0 || FileHandle < 0 || Offset < 0)
        return fail(WSAEOPNOTSUPP);
    // Bytes queued by Send go first.
    TryToSend();
    if (!allSent_ || hSocket_ == INVALID_SOCKET) return fail(WSAEWOULDBLOCK);
    if (Count <= 0) return 0;

    const std::uint64_t serial = serial_;
    std::int64_t taken = 0;
    bool full = false;
    int err = 0;
    {
        NoPipeSignal guard;
        while (taken < Count) {
            off_t at = static_cast<off_t>(Offset);
            const std::size_t ask =
                static_cast<std::size_t>(std::min<std::int64_t>(Count - taken, 1 << 30));
            const ssize_t r = ::sendfile(hSocket_, FileHandle, &at, ask);
            if (r > 0) {
                taken += r;
                Offset = at;
                continue;
            }
            if (r == 0) break;  // end of the file
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                full = true;
                break;
            }
            err = errno;
            if (err == EPIPE) guard.Raised();
            break;
        }
    }
    if (taken == 0 && err != 0) {
        // Files that cannot be mapped for sending (pipes, some special files) are sent the
        // ordinary way by the caller.
        if (err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == ESPIPE ||
            err == EOVERFLOW)
            return fail(WSAEOPNOTSUPP);
        return fail(SendErrorCode(err));
    }
    if (full) {
        // The platform's next writable report brings OnDataSent.
        writeWanted_ = true;
        UpdateNotifiers();
        if (taken == 0) return fail(WSAEWOULDBLOCK);
    } else if (Live(serial)) {
        PostSocketEvent(net::FD_WRITE, 0);
    }
    return taken;
}

int TCustomWSocket::SendStr(const std::string& Str)
{
    return Send(Str.data(), static_cast<int>(Str.size()));
}

// ---- Receiving ------------------------------------------------------------------------------

int TCustomWSocket::Receive(void* Buffer, int BufferSize)
{
    return ReceiveInto(Buffer, BufferSize, nullptr, nullptr);
}

int TCustomWSocket::ReceiveFrom(void* Buffer, int BufferSize, TSockAddrIn& From, int& FromLen)
{
    return ReceiveInto(Buffer, BufferSize, &From, &FromLen);
}

int TCustomWSocket::ReceiveInto(void* Buffer, int BufferSize, TSockAddrIn* From, int* FromLen)
{
    if (hSocket_ == INVALID_SOCKET || BufferSize < 0 || (FromLen && *FromLen < 0)) {
        lastError_ = hSocket_ == INVALID_SOCKET ? WSAENOTSOCK : WSAEINVAL;
        net::WSASetLastError(lastError_);
        return -1;
    }
    if (peerError_ != 0) {
        lastError_ = StoreError(peerError_);
        return -1;
    }
    socklen_t len = FromLen ? static_cast<socklen_t>(std::min<int>(*FromLen, sizeof *From)) : 0;
    const ssize_t r = ::recvfrom(hSocket_, Buffer, static_cast<std::size_t>(BufferSize), 0,
                                 reinterpret_cast<sockaddr*>(From), From ? &len : nullptr);
    const int err = errno;
    ArmRead();  // a receive is the re-enabling call of the read event
    if (r < 0) {
        lastError_ = StoreError(err);
        return -1;
    }
    if (FromLen) *FromLen = static_cast<int>(len);
    // A 32-bit count that wraps (a connection may carry more than 2 GiB).
    readCount_ = static_cast<int>(static_cast<unsigned>(readCount_) + static_cast<unsigned>(r));
    return static_cast<int>(r);
}

int TCustomWSocket::RcvdCount()
{
    int waiting = 0;
    if (hSocket_ == INVALID_SOCKET) {
        net::WSASetLastError(WSAENOTSOCK);
        ReportSocketError("ioctlSocket");
        return -1;
    }
    if (::ioctl(hSocket_, FIONREAD, &waiting) < 0) {
        StoreError(errno);
        ReportSocketError("ioctlSocket");
        return -1;
    }
    return waiting;
}

void TCustomWSocket::ReadLineStep()
{
    for (;;) {
        if (hSocket_ == INVALID_SOCKET) {
            lineActive_ = false;
            StopWaitCtrl();
            return;
        }
        if (state_ != wsConnected) return;
        int waiting = 0;
        if (::ioctl(hSocket_, FIONREAD, &waiting) < 0) {
            lineActive_ = false;
            StoreError(errno);
            ReportSocketError("ioctlSocket");
            return;
        }
        if (waiting <= 0) return;  // the line stays open
        char c = 0;
        const ssize_t r = ::recv(hSocket_, &c, 1, 0);
        const int err = errno;
        ArmRead();
        if (r == 1) {
            ++readCount_;
            bool endOfLine = c == '\n';
            if (c != '\n' && c != '\r') {
                line_.push_back(c);
                if (line_.size() >= 254) {
                    endOfLine = true;
                    if (OnLineTooLong && !destroying_) OnLineTooLong(this);
                }
            }
            if (endOfLine) {
                lineActive_ = false;
                StopWaitCtrl();
                return;
            }
            continue;
        }
        const int code = r == 0 ? 0 : net::WinsockErrorFromErrno(err);
        if (r == 0 || code == WSAECONNRESET) {
            lineActive_ = false;
            StopWaitCtrl();
            Close();
            return;
        }
        if (code == WSAEWOULDBLOCK) continue;
        net::WSASetLastError(code);
        ReportSocketError("ReadLine");
        return;
    }
}

// ---- Synchronous helpers --------------------------------------------------------------------

namespace {

// Shows a wait control for the length of a wait and hides it again, also when an exception
// passes; a control that the socket no longer refers to (it was destroyed) is left alone.
class ShownWait {
public:
    ShownWait(const TCustomWSocket& socket, int seconds) : socket_(socket), ctrl_(socket.WaitCtrl())
    {
        ctrl_->SetCaption(QString::number(seconds));
        ctrl_->SetWaitVisible(true);
    }
    ~ShownWait()
    {
        if (socket_.WaitCtrl() == ctrl_) ctrl_->SetWaitVisible(false);
    }

private:
    const TCustomWSocket& socket_;
    TWaitControl* ctrl_;
};

bool TimeLeft(std::uint32_t start, int seconds)
{
    const std::uint32_t limit = seconds > 0 ? static_cast<std::uint32_t>(seconds) * 1000u : 0u;
    return platform::GetTickCount() - start < limit;
}

}  // namespace

bool TCustomWSocket::Wait(int Timeout, TSocketState AState)
{
    if (state_ == AState) return true;
    awaitedState_ = AState;
    if (multiThreaded_) {
        const std::uint32_t start = platform::GetTickCount();
        while (state_ != AState && TimeLeft(start, Timeout))
            PumpMessages();
    } else if (!waitCtrl_) {
        awaitedState_ = wsInvalidState;
        net::WSASetLastError(WSANO_DATA);
        ReportSocketError("TWSocket.Wait");
        return false;
    } else {
        ShownWait shown(*this, Timeout);
        waitCtrl_->RunWait();
    }
    const bool reached = state_ == AState;
    awaitedState_ = wsInvalidState;
    return reached;
}

void TCustomWSocket::ReadLine(int Timeout, std::string& Line)
{
    if (!multiThreaded_ && !waitCtrl_) {
        ReportError("No wait object assigned");
        return;
    }
    if (!lineActive_) {
        line_.clear();
        lineActive_ = true;
    }
    ReadLineStep();
    if (lineActive_) {
        if (multiThreaded_) {
            const std::uint32_t start = platform::GetTickCount();
            while (lineActive_ && TimeLeft(start, Timeout))
                PumpMessages();
        } else if (waitCtrl_) {
            ShownWait shown(*this, Timeout);
            waitCtrl_->RunWait();
        }
    }
    Line = line_;
}

void TCustomWSocket::Flush()
{
    if (multiThreaded_) {
        // Bounded by FlushTimeout like the wait-control form, so a peer that never reads cannot
        // hold the caller for ever.
        const std::uint32_t start = platform::GetTickCount();
        while (hSocket_ != INVALID_SOCKET && !allSent_ && TimeLeft(start, flushTimeout_)) {
            TryToSend();
            PumpMessages();
        }
        return;
    }
    if (!waitCtrl_) {
        ReportError("No wait object assigned");
        return;
    }
    TWaitControl* ctrl = waitCtrl_;
    ShownWait shown(*this, flushTimeout_);
    struct Stopper {
        TCustomWSocket* s;
        TWaitControl* ctrl;
        ~Stopper()
        {
            if (s->waitCtrl_ == ctrl) ctrl->Stop();
        }
    } stopper{this, ctrl};
    ctrl->Start();
    while (waitCtrl_ == ctrl && ctrl->Running() && hSocket_ != INVALID_SOCKET && !allSent_) {
        TryToSend();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

void TCustomWSocket::WaitUntilClosed()
{
    while (hSocket_ != INVALID_SOCKET && state_ != wsClosed) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (hSocket_ == INVALID_SOCKET) break;
        int waiting = 0;
        if (::ioctl(hSocket_, FIONREAD, &waiting) < 0) break;
        if (waiting > 0) {
            if (lineActive_)
                ReadLineStep();
            else
                TriggerDataAvailable(0);
        }
        if (hSocket_ == INVALID_SOCKET) break;
        // The probe of the connection: would-block means open and idle, waiting data means open,
        // an end of stream or an error ends the wait.
        char c = 0;
        const ssize_t r = ::recv(hSocket_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
        if (r <= 0) {
            const int code = r == 0 ? 0 : net::WinsockErrorFromErrno(errno);
            lastError_ = code;
            if (code != WSAEWOULDBLOCK) break;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}
