#include "net/WSocket.h"

#include "net/WSocketPrivate.h"

#include <QCoreApplication>
#include <QTimer>
#include <QtGlobal>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>

// ---- The socket library ---------------------------------------------------------------------

namespace net::detail {

namespace {
bool g_libraryStarted = false;
TWSAData g_wsaData;
}  // namespace

// POSIX sockets need no start-up call, so starting cannot fail here: it fills the description
// record that SocketLibraryInfo returns.
void StartLibrary()
{
    if (g_libraryStarted) return;
    g_wsaData.wVersion = 0x0101;
    g_wsaData.wHighVersion = 0x0101;
    g_wsaData.szDescription = std::string("WinSock 1.1 over POSIX sockets (Qt ") + qVersion() + ")";
    g_wsaData.szSystemStatus = "Running";
    rlimit lim{};
    const rlim_t maxFiles = getrlimit(RLIMIT_NOFILE, &lim) == 0 ? lim.rlim_cur : 1024;
    g_wsaData.iMaxSockets = static_cast<std::uint16_t>(std::min<rlim_t>(maxFiles, 0xFFFF));
    g_wsaData.iMaxUdpDg = 65507;
    g_libraryStarted = true;
}

void StopLibrary()
{
    g_libraryStarted = false;
}

bool LibraryStarted()
{
    return g_libraryStarted;
}

int StoreError(int err)
{
    const int code = WinsockErrorFromErrno(err);
    WSASetLastError(code);
    return code;
}

std::string DottedText(in_addr a)
{
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, buf, sizeof buf);
    return buf;
}

}  // namespace net::detail

using net::detail::StoreError;

namespace {

int g_componentCount = 0;

// How often a connection whose receive side this end has shut down is looked at for the
// peer's close.
constexpr int kPeerCloseWatchMs = 20;

// The bit index of a single network event bit (for the deferred-error table).
int EventIndex(std::uint16_t bit)
{
    int i = 0;
    while (i < 6 && bit != (1u << i))
        ++i;
    return i;
}

}  // namespace

// ---- Construction ---------------------------------------------------------------------------

TCustomWSocket::TCustomWSocket(QObject* AOwner) : QObject(AOwner)
{
    source_ = std::make_unique<net::TSocketEventSource>(static_cast<net::TSocketEventSink&>(*this));
    chunkSize_ = 1514;
    ResetToDefaults();
    ++g_componentCount;
    net::detail::StartLibrary();
}

TCustomWSocket::~TCustomWSocket()
{
    destroying_ = true;
    try {
        CancelDnsLookup();
        if (state_ != wsClosed) Close();
    } catch (...) {
        // A destructor cannot report; the handle is closed below in any case.
    }
    CloseHandle();
    SetWaitCtrl(nullptr);
    if (--g_componentCount == 0 && net::detail::LibraryStarted()) net::detail::StopLibrary();
    bufferList_.clear();
    source_.reset();
}

int TCustomWSocket::ComponentCount()
{
    return g_componentCount;
}

const TWSAData& TCustomWSocket::SocketLibraryInfo()
{
    net::detail::StartLibrary();
    return net::detail::g_wsaData;
}

void TCustomWSocket::PumpMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TCustomWSocket::SetWaitCtrl(TWaitControl* Ctrl)
{
    if (Ctrl == waitCtrl_) return;
    if (waitCtrl_) {
        auto& users = waitCtrl_->users_;
        users.erase(std::remove(users.begin(), users.end(), this), users.end());
    }
    waitCtrl_ = Ctrl;
    if (waitCtrl_) waitCtrl_->users_.push_back(this);
}

TWaitControl::~TWaitControl()
{
    for (TCustomWSocket* s : users_)
        s->waitCtrl_ = nullptr;
}

// ---- Error reporting ------------------------------------------------------------------------

void TCustomWSocket::ReportError(const std::string& Msg)
{
    if (OnError) {
        TriggerError();
        return;
    }
    throw ESocketException(Msg);
}

void TCustomWSocket::ReportErrorFmt(const char* Format, ...)
{
    if (OnError) {
        TriggerError();
        return;
    }
    va_list args;
    va_start(args, Format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, Format, copy);
    va_end(copy);
    std::string msg(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(msg.data(), msg.size() + 1, Format, args);
    va_end(args);
    throw ESocketException(msg);
}

void TCustomWSocket::ReportSocketError(const std::string& FunctionName)
{
    const int n = net::WSAGetLastError();
    const std::string msg =
        "Error " + std::to_string(n) + " in function " + FunctionName + "\r\n" + SocketErrorText(n);
    if (n == WSAECONNRESET || n == WSAENOTCONN) {
        CloseHandle();
        if (state_ != wsClosed) ChangeState(wsClosed);
    }
    ReportError(msg);
}

// ---- Triggers -------------------------------------------------------------------------------

bool TCustomWSocket::TriggerDataAvailable(std::uint16_t Error)
{
    if (!OnDataAvailable || destroying_) return false;
    OnDataAvailable(this, Error);
    return true;
}

void TCustomWSocket::TriggerSessionAvailable(std::uint16_t Error)
{
    if (OnSessionAvailable && !destroying_) OnSessionAvailable(this, Error);
}

void TCustomWSocket::TriggerSessionConnected(std::uint16_t Error)
{
    if (OnSessionConnected && !destroying_) OnSessionConnected(this, Error);
}

void TCustomWSocket::TriggerSessionClosed(std::uint16_t Error)
{
    if (OnSessionClosed && !destroying_) OnSessionClosed(this, Error);
}

void TCustomWSocket::TriggerDataSent(std::uint16_t Error)
{
    if (OnDataSent && !destroying_) OnDataSent(this, Error);
}

void TCustomWSocket::TriggerChangeState(TSocketState OldState, TSocketState NewState)
{
    if (OnChangeState && !destroying_) OnChangeState(this, OldState, NewState);
}

void TCustomWSocket::TriggerDnsLookupDone(std::uint16_t Error)
{
    if (OnDnsLookupDone && !destroying_) OnDnsLookupDone(this, Error);
}

void TCustomWSocket::TriggerError()
{
    if (OnError && !destroying_) OnError(this);
}

// ---- State ----------------------------------------------------------------------------------

void TCustomWSocket::ChangeState(TSocketState NewState)
{
    const TSocketState old = state_;
    state_ = NewState;
    TriggerChangeState(old, NewState);
    if (!multiThreaded_ && waitCtrl_ &&
        (NewState == awaitedState_ || (awaitedState_ == wsConnected && NewState == wsClosed)))
        waitCtrl_->Stop();
}

void TCustomWSocket::ResetToDefaults()
{
    // A reset never leaves a handle open behind it.
    CloseHandle();
    sin_ = TSockAddrIn{};
    sin_.sin_family = AF_INET;
    portAssigned_ = false;
    addrAssigned_ = false;
    protoAssigned_ = true;
    proto_ = IPPROTO_TCP;
    protoText_ = "tcp";
    type_ = SOCK_STREAM;
    lingerOnOff_ = wsLingerOn;
    lingerTimeout_ = 0;
    state_ = wsClosed;
    awaitedState_ = wsInvalidState;
    allSent_ = true;
    // The line buffer itself is kept: a ReadLine whose connection ends while it waits returns
    // the part collected so far, and the next ReadLine starts a fresh line (LineActive is off).
    lineActive_ = false;
    paused_ = false;
    readCount_ = 0;
    closeInvoked_ = false;
    flushTimeout_ = 60;
}

TSocketSendFlags TCustomWSocket::SendFlags()
{
    switch (sendFlags_) {
    case 0:
        return wsSendNormal;
    case MSG_OOB:
        return wsSendUrgent;
    default:
        ReportError("Invalid internal SendFlags");
        return wsSendNormal;
    }
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags Flags)
{
    switch (Flags) {
    case wsSendNormal:
        sendFlags_ = 0;
        break;
    case wsSendUrgent:
        sendFlags_ = MSG_OOB;
        break;
    default:
        ReportError("Invalid SendFlags");
        break;
    }
}

// ---- Handle bookkeeping ---------------------------------------------------------------------

void TCustomWSocket::AdoptHandle(TSocket h)
{
    hSocket_ = h;
    ++serial_;
    mask_ = 0;
    readArmed_ = false;
    writeWanted_ = false;
    shutdownWrite_ = false;
    shutdownRead_ = false;
    if (peerCloseWatch_) peerCloseWatch_->stop();
    peerError_ = 0;
    closeInvoked_ = false;
    deferred_ = 0;
    source_->Watch(h);
}

// The one place a handle is closed. The handle is invalid afterwards whatever close() answered
// (Linux releases the descriptor even when it reports an error), so it is never closed twice.
// The send queue belongs to the connection: unsent bytes are dropped with it.
int TCustomWSocket::CloseHandle()
{
    if (hSocket_ == INVALID_SOCKET) return 0;
    source_->Watch(-1);
    if (peerCloseWatch_) peerCloseWatch_->stop();
    const int r = ::close(hSocket_);
    const int err = (r < 0 && errno != EINTR) ? errno : 0;
    hSocket_ = INVALID_SOCKET;
    mask_ = 0;
    readArmed_ = false;
    writeWanted_ = false;
    deferred_ = 0;
    DiscardSendQueue();
    return err;
}

void TCustomWSocket::DiscardSendQueue()
{
    bufferList_.clear();
    allSent_ = true;
}

// WSAAsyncSelect: makes the handle non-blocking and asks for the events of mask.
bool TCustomWSocket::SelectEvents(std::uint16_t mask)
{
    int type = 0;
    socklen_t len = sizeof type;
    if (hSocket_ == INVALID_SOCKET || getsockopt(hSocket_, SOL_SOCKET, SO_TYPE, &type, &len) != 0) {
        net::WSASetLastError(WSAENOTSOCK);
        return false;
    }
    const int flags = fcntl(hSocket_, F_GETFL);
    if (flags < 0 || fcntl(hSocket_, F_SETFL, flags | O_NONBLOCK) < 0) {
        StoreError(errno);
        return false;
    }
    mask_ = mask;
    UpdateNotifiers();
    return true;
}

void TCustomWSocket::ArmRead()
{
    readArmed_ = true;
    UpdateNotifiers();
}

void TCustomWSocket::UpdateNotifiers()
{
    const bool live = hSocket_ != INVALID_SOCKET && !paused_ && source_->Watched() == hSocket_;
    constexpr std::uint16_t readSide = net::FD_READ | net::FD_ACCEPT | net::FD_CLOSE;
    constexpr std::uint16_t writeSide = net::FD_WRITE | net::FD_CONNECT;
    source_->SetReadEnabled(live && (mask_ & readSide) && readArmed_ && !(dispatching_ & readSide));
    source_->SetWriteEnabled(live && (mask_ & writeSide) && writeWanted_ &&
                             !(dispatching_ & writeSide));
}

void TCustomWSocket::PostSocketEvent(std::uint16_t events, std::uint16_t error)
{
    source_->PostSocketEvent(serial_, events, error);
}

void TCustomWSocket::StopWaitCtrl()
{
    if (!multiThreaded_ && waitCtrl_) waitCtrl_->Stop();
}

// ---- Network events -------------------------------------------------------------------------

void TCustomWSocket::SocketReadReady()
{
    readArmed_ = false;
    if (hSocket_ == INVALID_SOCKET || paused_) return;
    if (type_ == SOCK_STREAM && state_ == wsListening) {
        HandleSocketEvent(net::FD_ACCEPT, 0);
        return;
    }
    if (state_ == wsConnecting || state_ == wsOpened) return;  // the connect outcome comes first
    if (type_ != SOCK_STREAM) {
        HandleSocketEvent(net::FD_READ, 0);
        return;
    }
    // A one-byte peek tells data from an orderly close and from a reset.
    char c = 0;
    const ssize_t r = ::recv(hSocket_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (r > 0) {
        HandleSocketEvent(net::FD_READ, 0);
    } else if (r == 0) {
        std::uint16_t error = 0;
        if (shutdownRead_ && !PeerHasClosed(error)) {
            // The end of stream is the own shutdown's, not the peer's: keep watching.
            WatchForPeerClose();
            return;
        }
        HandleSocketEvent(net::FD_CLOSE, error);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        ArmRead();
    } else {
        // The peek took the error from the socket; later receives report it (as the platform
        // does after a reset) instead of an end of stream.
        peerError_ = errno;
        HandleSocketEvent(net::FD_CLOSE,
                          static_cast<std::uint16_t>(net::WinsockErrorFromErrno(peerError_)));
    }
}

void TCustomWSocket::SocketWriteReady()
{
    writeWanted_ = false;
    if (hSocket_ == INVALID_SOCKET || paused_) return;
    if (state_ == wsConnecting) {
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(hSocket_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
        const auto code = static_cast<std::uint16_t>(net::WinsockErrorFromErrno(err));
        // An established connection is writable: its first write event is queued behind the
        // connect event, as the platform reports both when the connection is set up.
        if (code == 0) PostSocketEvent(net::FD_WRITE, 0);
        HandleSocketEvent(net::FD_CONNECT, code);
        return;
    }
    HandleSocketEvent(net::FD_WRITE, 0);
}

void TCustomWSocket::SocketEventMessage(std::uint64_t serial, std::uint16_t events,
                                        std::uint16_t error)
{
    if (!Live(serial) || paused_) return;
    HandleSocketEvent(events, error);
}

void TCustomWSocket::HandleSocketEvent(std::uint16_t events, std::uint16_t error)
{
    events &= mask_;
    // An event that arrives while the same event is being handled (the handler pumps the event
    // loop) waits until that handler has returned.
    const std::uint16_t busy = events & dispatching_;
    if (busy) {
        deferred_ |= busy;
        for (std::uint16_t bit = 1; bit <= net::FD_CLOSE; bit <<= 1)
            if (busy & bit) deferredError_[EventIndex(bit)] = error;
        events &= static_cast<std::uint16_t>(~busy);
    }
    if (!events) return;

    const std::uint64_t serial = serial_;
    dispatching_ |= events;
    struct Done {
        TCustomWSocket* s;
        std::uint16_t events;
        std::uint64_t serial;
        ~Done()
        {
            s->dispatching_ &= static_cast<std::uint16_t>(~events);
            s->UpdateNotifiers();
            const std::uint16_t again = s->deferred_ & events;
            if (!again) return;
            s->deferred_ &= static_cast<std::uint16_t>(~again);
            if (!s->Live(serial)) return;
            for (std::uint16_t bit = 1; bit <= net::FD_CLOSE; bit <<= 1)
                if (again & bit) s->PostSocketEvent(bit, s->deferredError_[EventIndex(bit)]);
        }
    } done{this, events, serial};

    if (events & net::FD_CONNECT) ConnectEvent(error);
    if ((events & net::FD_READ) && Live(serial)) ReceiveLoop(error);
    if ((events & net::FD_WRITE) && Live(serial)) {
        TryToSend();
        // A connection that TryToSend had to close has nothing left to pace.
        if (allSent_ && Live(serial)) TriggerDataSent(error);
    }
    if ((events & net::FD_ACCEPT) && Live(serial)) TriggerSessionAvailable(error);
    if ((events & net::FD_CLOSE) && Live(serial)) CloseEvent(error);
}

void TCustomWSocket::ConnectEvent(std::uint16_t error)
{
    const std::uint64_t serial = serial_;
    if (error == 0) ArmRead();
    ChangeState(wsConnected);
    TriggerSessionConnected(error);
    // Only the connection that failed is closed, not one a handler has started meanwhile.
    if (error != 0 && serial == serial_ && state_ != wsClosed) Close();
}

void TCustomWSocket::ReceiveLoop(std::uint16_t error)
{
    const std::uint64_t serial = serial_;
    try {
        for (;;) {
            lastError_ = 0;
            if (lineActive_)
                ReadLineStep();
            else if (!TriggerDataAvailable(error))
                return;  // no handler: the data stays with the platform
            if (lastError_ != 0) return;
            if (!Live(serial)) {
                lastError_ = WSAENOTSOCK;
                return;
            }
            int waiting = 0;
            if (::ioctl(hSocket_, FIONREAD, &waiting) < 0) {
                lastError_ = StoreError(errno);
                return;
            }
            if (waiting <= 0) return;
        }
    } catch (...) {
        // An exception from the application's handler ends the loop without a report; the next
        // read event calls the handler again.
    }
}

void TCustomWSocket::CloseEvent(std::uint16_t error)
{
    if (state_ == wsConnecting) return;
    const std::uint64_t serial = serial_;
    const std::uint64_t closes = closeSerial_;
    ReceiveLoop(error);
    lineActive_ = false;
    StopWaitCtrl();
    // A handler that closed the connection inside the receive loop has already had its
    // OnSessionClosed from that Close; the connection must not report its end twice.
    if (closes != closeSerial_ || serial != serial_) return;
    if (OnSessionClosed && !closeInvoked_) {
        closeInvoked_ = true;
        TriggerSessionClosed(error);
    }
    if (serial == serial_ && state_ != wsClosed) Close();
}

// ---- Connect, Listen, Accept, Dup -----------------------------------------------------------

void TCustomWSocket::Connect()
{
    if (hSocket_ != INVALID_SOCKET && state_ != wsClosed) {
        ReportError("Connect: Socket already in use");
        return;
    }
    if (!portAssigned_) {
        ReportError("Connect: No Port Specified");
        return;
    }
    if (!addrAssigned_) {
        ReportError("Connect: No IP Address Specified");
        return;
    }
    if (!protoAssigned_) {
        ReportError("Connect: No Protocol Specified");
        return;
    }
    CloseHandle();  // a stale handle of a closed component (none in practice)
    const int fd = ::socket(AF_INET, type_ | SOCK_NONBLOCK | SOCK_CLOEXEC, proto_);
    if (fd < 0) {
        StoreError(errno);
        ReportSocketError("Connect (socket)");
        return;
    }
    AdoptHandle(fd);
    const std::uint64_t serial = serial_;
    ChangeState(wsOpened);
    if (!Live(serial)) return;

    if (type_ == SOCK_DGRAM) {
        BindToAnyPort();
        if (sin_.sin_addr.s_addr == INADDR_BROADCAST) {
            const int on = 1;
            if (setsockopt(hSocket_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
                StoreError(errno);
                ReportSocketError("setsockopt(SO_BROADCAST)");
                return;
            }
        }
    } else {
        ApplyLinger();
        const int on = -1;
        if (setsockopt(hSocket_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) {
            StoreError(errno);
            ReportSocketError("setsockopt(SO_KEEPALIVE)");
            return;
        }
        if (setsockopt(hSocket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
            StoreError(errno);
            ReportSocketError("setsockopt(SO_REUSEADDR)");
            return;
        }
    }
    if (!Live(serial)) return;
    if (!SelectEvents(net::FD_READ | net::FD_WRITE | net::FD_ACCEPT | net::FD_CONNECT |
                      net::FD_CLOSE)) {
        ReportSocketError("WSAAsyncSelect");
        return;
    }

    if (type_ == SOCK_DGRAM) {
        // A datagram socket is writable at once, as the platform reports after selecting.
        PostSocketEvent(net::FD_WRITE, 0);
        ArmRead();
        ChangeState(wsConnected);
        TriggerSessionConnected(0);
        return;
    }

    const int r = ::connect(hSocket_, reinterpret_cast<const sockaddr*>(&sin_), sizeof sin_);
    const int err = r == 0 ? 0 : errno;
    if (r == 0 || err == EINPROGRESS) {
        ChangeState(wsConnecting);
        if (!Live(serial)) return;
        writeWanted_ = true;
        UpdateNotifiers();
        return;
    }
    const int code = net::WinsockErrorFromErrno(err);
    if (code == WSAECONNREFUSED || code == WSAETIMEDOUT || code == WSAEHOSTUNREACH ||
        code == WSAENETUNREACH || code == WSAECONNRESET) {
        // A non-blocking connect reports these as its outcome, never from the call itself:
        // deliver them as the connect event, from the event loop.
        ChangeState(wsConnecting);
        if (Live(serial)) PostSocketEvent(net::FD_CONNECT, static_cast<std::uint16_t>(code));
        return;
    }
    lastError_ = code;
    net::WSASetLastError(code);
    ReportSocketError("Connect");
}

void TCustomWSocket::BindToAnyPort()
{
    TSockAddrIn any{};
    any.sin_family = AF_INET;
    if (::bind(hSocket_, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        const int code = StoreError(errno);
        ReportErrorFmt("winsock.bind failed, error #%d", code);
        return;
    }
    socklen_t len = sizeof any;
    if (::getsockname(hSocket_, reinterpret_cast<sockaddr*>(&any), &len) != 0) {
        const int code = StoreError(errno);
        ReportErrorFmt("winsock.getsockname failed, error #%d", code);
        return;
    }
    localPortNum_ = ntohs(any.sin_port);
}

bool TCustomWSocket::ApplyLinger()
{
    if (lingerOnOff_ == wsLingerNoSet) return true;
    if (hSocket_ == INVALID_SOCKET) {
        ReportError("Cannot set linger option at this time");
        return false;
    }
    linger l{};
    l.l_onoff = lingerOnOff_ == wsLingerOn ? 1 : 0;
    l.l_linger = static_cast<std::uint16_t>(lingerTimeout_);
    if (setsockopt(hSocket_, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0) {
        StoreError(errno);
        ReportSocketError("setsockopt(SO_LINGER)");
        return false;
    }
    return true;
}

int TCustomWSocket::Listen()
{
    if (!portAssigned_) {
        net::WSASetLastError(WSAEINVAL);
        ReportSocketError("listen: port not assigned");
        return -1;
    }
    if (!protoAssigned_) {
        net::WSASetLastError(WSAEINVAL);
        ReportSocketError("listen: protocol not assigned");
        return -1;
    }
    if (!addrAssigned_) {
        net::WSASetLastError(WSAEINVAL);
        ReportSocketError("listen: address not assigned");
        return -1;
    }
    // A component that is still open gives up its old handle first (as Dup does), so the old
    // descriptor is not lost behind the new one.
    if (hSocket_ != INVALID_SOCKET) {
        CloseHandle();
        if (state_ != wsClosed) ChangeState(wsClosed);
    }
    const int fd = ::socket(AF_INET, type_ | SOCK_NONBLOCK | SOCK_CLOEXEC, proto_);
    if (fd < 0) {
        StoreError(errno);
        ReportSocketError("socket");
        return -1;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&sin_), sizeof sin_) != 0) {
        StoreError(errno);
        ::close(fd);  // the failed socket never becomes the component's handle
        ReportSocketError("Bind");
        return -1;
    }
    AdoptHandle(fd);
    const std::uint64_t serial = serial_;
    ChangeState(wsBound);
    if (!Live(serial)) return -1;
    if (type_ == SOCK_DGRAM) {
        ChangeState(wsListening);
        if (!Live(serial)) return -1;
        ChangeState(wsConnected);
        if (!Live(serial)) return -1;
        TriggerSessionConnected(0);
    } else {
        if (::listen(hSocket_, 5) != 0) {
            StoreError(errno);
            ReportSocketError("Listen");
            return -1;
        }
        ChangeState(wsListening);
    }
    if (!Live(serial)) return -1;
    if (!SelectEvents(net::FD_READ | net::FD_WRITE | net::FD_ACCEPT | net::FD_CLOSE)) {
        ReportSocketError("WSAASyncSelect");
        return -1;
    }
    if (type_ == SOCK_DGRAM) PostSocketEvent(net::FD_WRITE, 0);
    ArmRead();
    return 0;
}

TSocket TCustomWSocket::Accept()
{
    if (state_ != wsListening) {
        net::WSASetLastError(WSAEINVAL);
        ReportSocketError("not a listening socket");
        return INVALID_SOCKET;
    }
    TSockAddrIn peer{};
    socklen_t len = sizeof peer;
    const int h =
        ::accept4(hSocket_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    const int err = errno;
    ArmRead();  // accept is the re-enabling call of the accept event
    if (h < 0) {
        StoreError(err);
        ReportSocketError("Accept");
        return INVALID_SOCKET;
    }
    sin_ = peer;
    acceptedHSocket_ = h;
    return h;
}

void TCustomWSocket::Dup(TSocket NewHSocket)
{
    if (NewHSocket == 0 || NewHSocket == INVALID_SOCKET) {
        net::WSASetLastError(WSAEINVAL);
        ReportSocketError("Dup");
        return;
    }
    if (state_ != wsClosed || hSocket_ != INVALID_SOCKET) {
        const int err = CloseHandle();
        if (err != 0) {
            // The old descriptor is gone all the same; the new one is not taken over, so it is
            // closed here rather than lost.
            ::close(NewHSocket);
            StoreError(err);
            ReportSocketError("Dup (closesocket)");
            return;
        }
        if (state_ != wsClosed) ChangeState(wsClosed);
    }
    AdoptHandle(NewHSocket);
    const std::uint64_t serial = serial_;
    // From here the component owns the handle: a failure closes it instead of leaving an open
    // descriptor behind a closed component.
    try {
        if (!ApplyLinger()) {
            if (serial == serial_) CloseHandle();
            return;
        }
    } catch (...) {
        if (serial == serial_) CloseHandle();
        throw;
    }
    if (!SelectEvents(net::FD_READ | net::FD_WRITE | net::FD_CONNECT | net::FD_CLOSE)) {
        const int code = net::WSAGetLastError();
        CloseHandle();
        net::WSASetLastError(code);
        ReportSocketError("WSAAsyncSelect");
        return;
    }
    // An accepted connection is writable at once: one write event follows Dup.
    PostSocketEvent(net::FD_WRITE, 0);
    ArmRead();
    ChangeState(wsConnected);
}

// ---- Close ----------------------------------------------------------------------------------

void TCustomWSocket::Close()
{
    InternalClose(true);
}

void TCustomWSocket::Abort()
{
    InternalClose(false);
}

void TCustomWSocket::InternalClose(bool shut)
{
    if (hSocket_ == INVALID_SOCKET) {
        if (state_ != wsClosed) {
            ++closeSerial_;
            ChangeState(wsClosed);
            if (hSocket_ == INVALID_SOCKET) ResetToDefaults();
        }
        return;
    }
    if (state_ == wsClosed) {
        CloseHandle();  // a stale handle of a closed component (none in practice)
        return;
    }
    if (shut) Shutdown(2);
    const int err = CloseHandle();
    ++closeSerial_;
    if (err != 0) {
        lastError_ = StoreError(err);
        ReportSocketError("Disconnect (closesocket)");
        return;
    }
    ChangeState(wsClosed);
    if (!destroying_ && !closeInvoked_ && OnSessionClosed) {
        closeInvoked_ = true;
        TriggerSessionClosed(0);
    }
    // A handler that already started a new connection keeps it.
    if (hSocket_ == INVALID_SOCKET) ResetToDefaults();
}

void TCustomWSocket::Shutdown(int How)
{
    if (hSocket_ == INVALID_SOCKET) return;
    if (::shutdown(hSocket_, How) == 0) {
        if (How == SHUT_WR || How == SHUT_RDWR) shutdownWrite_ = true;
        if (How == SHUT_RD || How == SHUT_RDWR) shutdownRead_ = true;
    } else {
        StoreError(errno);
    }
}

bool TCustomWSocket::PeerHasClosed(std::uint16_t& error) const
{
    error = 0;
    if (type_ != SOCK_STREAM) return true;
    int err = 0;
    socklen_t errLen = sizeof err;
    if (getsockopt(hSocket_, SOL_SOCKET, SO_ERROR, &err, &errLen) == 0 && err != 0) {
        error = static_cast<std::uint16_t>(net::WinsockErrorFromErrno(err));
        return true;
    }
    tcp_info info{};
    socklen_t len = sizeof info;
    if (getsockopt(hSocket_, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) return true;
    // Without the peer's FIN the connection is still established on its side, or waits in one
    // of the states of an own close that the peer has not answered yet.
    switch (info.tcpi_state) {
    case TCP_ESTABLISHED:
    case TCP_FIN_WAIT1:
    case TCP_FIN_WAIT2:
        return false;
    default:
        return true;
    }
}

void TCustomWSocket::WatchForPeerClose()
{
    // The handle stays readable for ever once its receive side is shut down, so its read
    // notifier cannot tell anything more: a short timer looks at the connection instead.
    if (!peerCloseWatch_) {
        peerCloseWatch_ = std::make_unique<QTimer>();
        peerCloseWatch_->setInterval(kPeerCloseWatchMs);
        QObject::connect(peerCloseWatch_.get(), &QTimer::timeout, this,
                         [this] { PeerCloseTick(); });
    }
    if (!peerCloseWatch_->isActive()) peerCloseWatch_->start();
}

void TCustomWSocket::PeerCloseTick()
{
    if (hSocket_ == INVALID_SOCKET || type_ != SOCK_STREAM) {
        peerCloseWatch_->stop();
        return;
    }
    if (paused_) return;
    int waiting = 0;
    if (::ioctl(hSocket_, FIONREAD, &waiting) == 0 && waiting > 0) {
        // Data that still arrives is delivered as usual.
        peerCloseWatch_->stop();
        ArmRead();
        return;
    }
    std::uint16_t error = 0;
    if (!PeerHasClosed(error)) return;
    peerCloseWatch_->stop();
    HandleSocketEvent(net::FD_CLOSE, error);
}

void TCustomWSocket::Pause()
{
    paused_ = true;
    mask_ = 0;
    UpdateNotifiers();
}

void TCustomWSocket::Resume()
{
    paused_ = false;
    if (hSocket_ == INVALID_SOCKET) return;
    if (!SelectEvents(net::FD_READ | net::FD_WRITE | net::FD_CONNECT | net::FD_CLOSE)) return;
    if (state_ == wsConnecting) {
        writeWanted_ = true;
        UpdateNotifiers();
        return;
    }
    ArmRead();
    // Selecting again on a connected socket reports it writable, so a sender paced by
    // OnDataSent that lost a write event while paused goes on.
    if (state_ == wsConnected) PostSocketEvent(net::FD_WRITE, 0);
}
