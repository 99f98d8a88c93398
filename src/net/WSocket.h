// TWSocket: the event-driven, non-blocking IPv4 TCP/UDP socket component every client of the
// program is built on.
//
// Everything happens on the thread that created the component (the GUI thread), inside its event
// loop. The component owns a raw non-blocking POSIX socket and an event source (SocketEvents.h)
// that turns readiness of that socket, notifications the component posts to itself and host-lookup
// completions into the Winsock-style network events below; each becomes one call of an On...
// event. Errors are Winsock numbers (SocketErrors.h) whatever the layer underneath reported.
//
// Event contract (owners such as the FTP engine rely on it):
//  - Connect (stream): OnChangeState(wsClosed->wsOpened), OnChangeState(wsOpened->wsConnecting);
//    later, from the event loop, OnChangeState(wsConnecting->wsConnected) and
//    OnSessionConnected(Error). On success one OnDataSent(0) follows, even if nothing was sent.
//    On failure (for example 10061 refused): OnChangeState(wsConnected->wsClosed) and
//    OnSessionClosed(0) follow at once.
//  - Data from the peer: OnDataAvailable(0), called again and again while the platform holds
//    unread bytes; each call must Receive at least once. No new OnDataAvailable arrives until
//    the handler has called Receive (the Winsock re-enabling rule).
//  - Send never fires OnDataSent from inside itself: OnDataSent fires from the event loop each
//    time the send queue has been handed to the network completely.
//  - Peer close: the remaining data is delivered through OnDataAvailable first, then
//    OnSessionClosed(Error) fires once (0 orderly, 10054 reset), then the component closes
//    itself (wsClosed, ResetToDefaults). OnSessionClosed fires at most once per connection: at
//    the peer's close, Close, Abort or a failed connect. It does not fire when an operation
//    finds error 10054 or 10057 (the handle is closed and the state set to wsClosed, without a
//    reset), when Dup or Listen replaces an open handle, or when the component is destroyed.
//  - A Shutdown of the component's own (receive side or both) is never taken for the peer's
//    close: OnSessionClosed still fires only when the peer ends the connection (or for Close,
//    Abort and a failed connect).
//  - Listen: OnSessionAvailable(0) for each waiting connection; the handler calls Accept and
//    hands the handle to another component with Dup. Dup does not fire OnSessionConnected; it
//    is followed by one OnDataSent(0).
//  - A datagram socket (Proto "udp") is wsConnected inside Connect or Listen, with
//    OnSessionConnected(0) fired there; it too gets one OnDataSent(0) from the event loop. Each
//    queued chunk of at most 1514 bytes goes out as one datagram to the address record.
//  - Resume on a connected socket is followed by one OnDataSent(0), so a sender paced by
//    OnDataSent goes on after a Pause.
//  - No event of a component is delivered inside a handler of the same event of that component,
//    even when the handler pumps the event loop.
//  - Exceptions: caller errors and failed operations go through ReportError: with an OnError
//    handler the handler fires and the operation just stops; without one ESocketException is
//    raised. An exception raised while a network event is handled leaves the event loop through
//    QCoreApplication::notify, where the application catches it (exceptions from OnDataAvailable
//    are swallowed by the receive loop).
//  - Do not delete a component from inside one of its own event handlers (use deleteLater).
//
// After every close the component is reset: Addr and Port (and Proto, back to "tcp") must be
// assigned again before the next Connect or Listen.
#pragma once

#include "net/SocketErrors.h"
#include "net/SocketEvents.h"
#include "net/WaitControl.h"

#include <QObject>

#include <netinet/in.h>

class QTimer;

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// A platform socket handle; INVALID_SOCKET (all ones) when none.
using TSocket = int;
constexpr TSocket INVALID_SOCKET = -1;

// The address record: an IPv4 socket address in the wire layout (family 2, port and address in
// network order, 8 zero bytes; 16 bytes).
using TSockAddrIn = sockaddr_in;

enum TSocketState : std::uint8_t {
    wsInvalidState = 0,  // never a socket state; as an awaited state: no wait running
    wsOpened = 1,
    wsBound = 2,
    wsConnecting = 3,
    wsConnected = 4,
    wsAccepting = 5,  // never entered
    wsListening = 6,
    wsClosed = 7,
};

enum TSocketSendFlags { wsSendNormal = 0, wsSendUrgent = 1 };
enum TSocketLingerOnOff { wsLingerOff = 0, wsLingerOn = 1, wsLingerNoSet = 2 };

// Event types. Sender is the component that fires the event (any QObject, so that owners such as
// the FTP engine can fire the same types with themselves as Sender). Error is a 16-bit Winsock
// number, 0 for success.
using TNotifyEvent = std::function<void(QObject* Sender)>;
using TDataAvailable = std::function<void(QObject* Sender, std::uint16_t Error)>;
using TDataSent = std::function<void(QObject* Sender, std::uint16_t Error)>;
using TSessionClosed = std::function<void(QObject* Sender, std::uint16_t Error)>;
using TSessionAvailable = std::function<void(QObject* Sender, std::uint16_t Error)>;
using TSessionConnected = std::function<void(QObject* Sender, std::uint16_t Error)>;
using TDnsLookupDone = std::function<void(QObject* Sender, std::uint16_t Error)>;
using TChangeState =
    std::function<void(QObject* Sender, TSocketState OldState, TSocketState NewState)>;

// The exception of the socket component; its text is a fixed English message.
class ESocketException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The socket library's description record (what WSAStartup returns).
struct TWSAData {
    std::uint16_t wVersion = 0;
    std::uint16_t wHighVersion = 0;
    std::string szDescription;
    std::string szSystemStatus;
    std::uint16_t iMaxSockets = 0;
    std::uint16_t iMaxUdpDg = 0;
};

// {seconds, microseconds} pair of the time helpers.
struct TTimeVal {
    std::int32_t tv_sec = 0;
    std::int32_t tv_usec = 0;
};

// One chunk of the send queue: a block of Capacity bytes, filled from position 0 (WriteCount) and
// sent from position 0 (ReadCount); the unsent bytes are [ReadCount, WriteCount). When everything
// stored has been sent both counts go back to 0, so the chunk is refilled from the start. Bytes are
// never moved inside a chunk.
class TBuffer {
public:
    explicit TBuffer(int Capacity);
    TBuffer(const TBuffer&) = delete;
    TBuffer& operator=(const TBuffer&) = delete;

    // n <= 0 means 1514. An empty chunk gets a fresh block; a chunk holding data keeps its first
    // WriteCount bytes (a capacity below WriteCount is raised to WriteCount, so no data is lost).
    void SetCapacity(int n);
    // Copies as much of Data as fits behind the stored bytes; returns the count taken (0 when
    // full).
    int AppendData(const void* Data, int Len);
    // The unsent range, or (nullptr, 0) when there is none.
    std::pair<const char*, int> PeekData() const;
    // Marks min(Len, unsent) bytes as sent and returns that count.
    int ConsumeData(int Len);

    int Capacity() const { return capacity_; }
    int WriteCount() const { return writeCount_; }
    int ReadCount() const { return readCount_; }

private:
    std::unique_ptr<char[]> data_;
    int capacity_ = 0;
    int writeCount_ = 0;
    int readCount_ = 0;
};

using TBufferList = std::deque<std::unique_ptr<TBuffer>>;

class TCustomWSocket : public QObject, private net::TSocketEventSink {
    Q_OBJECT
public:
    // Creates the event source and the send queue, resets to defaults, counts the component and
    // starts the socket library on first use.
    explicit TCustomWSocket(QObject* AOwner = nullptr);
    // Cancels a pending lookup (without OnDnsLookupDone), closes an open connection (without
    // firing any event) and frees everything.
    ~TCustomWSocket() override;

    // ---- Operations -------------------------------------------------------------------------

    // Back to the state of a new component: handle closed and invalid, state wsClosed (without an
    // event), Addr and Port no longer assigned (their texts are kept), Proto "tcp", linger on with
    // 0 s, FlushTimeout 60, counters and line reader cleared.
    virtual void ResetToDefaults();
    // Binds the handle to address 0, port 0 and stores the port the platform chose.
    virtual void BindToAnyPort();
    // ReportError with a printf-style message that is only formatted when it is raised.
    virtual void ReportErrorFmt(const char* Format, ...) __attribute__((format(printf, 2, 3)));
    // With an OnError handler: fires it (the message is not passed on). Without: raises
    // ESocketException(Msg).
    virtual void ReportError(const std::string& Msg);

    // Trigger steps: each fires its event when a handler is assigned. TriggerDataAvailable also
    // tells whether a handler was assigned.
    virtual bool TriggerDataAvailable(std::uint16_t Error);
    virtual void TriggerSessionAvailable(std::uint16_t Error);
    virtual void TriggerSessionConnected(std::uint16_t Error);
    virtual void TriggerSessionClosed(std::uint16_t Error);
    virtual void TriggerDataSent(std::uint16_t Error);
    virtual void TriggerChangeState(TSocketState OldState, TSocketState NewState);
    virtual void TriggerDnsLookupDone(std::uint16_t Error);
    virtual void TriggerError();

    // Starts connecting to Addr:Port. Reports "Connect: Socket already in use", "Connect: No Port
    // Specified", "Connect: No IP Address Specified", "Connect: No Protocol Specified", and
    // platform failures through ReportSocketError. A datagram socket is wsConnected at once
    // (OnSessionConnected(0) fires inside Connect); a stream socket is wsConnecting and the
    // outcome arrives as OnSessionConnected(Error).
    virtual void Connect();
    // Shuts both directions down, closes the handle, wsClosed, OnSessionClosed(0) unless already
    // fired for this connection, ResetToDefaults. Unsent queued data is discarded.
    virtual void Close();
    // Like Close without the shutdown.
    virtual void Abort();
    // Hands the whole send queue to the network, waiting for it (WaitCtrl or, with MultiThreaded,
    // PumpMessages) at most FlushTimeout seconds.
    virtual void Flush();
    // Processes events, delivering waiting data, until the connection is closed or a probe of
    // the connection fails.
    virtual void WaitUntilClosed();
    // Binds to Addr:Port (port "0": any free port, see LocalSocketAddress) and listens (stream,
    // backlog 5, wsListening) or, for a datagram socket, becomes wsConnected with
    // OnSessionConnected(0). Returns 0, or -1 after a reported failure. A component that is still
    // open closes its handle first (wsClosed, no OnSessionClosed).
    virtual int Listen();
    // Accepts a waiting connection (only while wsListening): the peer's address overwrites the
    // address record; returns the new handle (for Dup on another component) or INVALID_SOCKET.
    virtual TSocket Accept();
    // recv into Buffer; a negative result stores the error in LastError, a non-negative one is
    // added to ReadCount. 0 means the peer has closed.
    virtual int Receive(void* Buffer, int BufferSize);
    virtual int ReceiveFrom(void* Buffer, int BufferSize, TSockAddrIn& From, int& FromLen);
    // Queues Len bytes (all of them are always accepted) and starts sending; returns Len, 0 for
    // Len <= 0, or -1 when not wsConnected (which reports error 10057 "Send" and closes).
    virtual int Send(const void* Data, int Len);
    virtual int SendStr(const std::string& Str);
    // Looks HostName up without blocking; OnDnsLookupDone(Error) reports the end, with DnsResult
    // and DnsResultList filled (IPv4 addresses as dotted text). A dotted address completes before
    // DnsLookup returns. A new lookup abandons a pending one.
    virtual void DnsLookup(const std::string& HostName);
    // Ends a pending lookup with OnDnsLookupDone(10004); nothing when none is pending.
    virtual void CancelDnsLookup();
    // The peer's dotted address, or "error" unless wsConnected.
    virtual std::string PeerAddressText();
    // getpeername when wsConnected (0 or -1), else -1.
    virtual int GetPeerName(TSockAddrIn& Name, int& NameLen);
    // The local port as decimal text while wsBound, wsConnected or wsListening, else "error".
    virtual std::string LocalPortText();
    virtual bool IsTimeSet(const TTimeVal& T);
    virtual void ClearTime(TTimeVal& T);
    virtual bool CompareTimes(const TTimeVal& A, const TTimeVal& B, bool Equal);
    // Waits until State is AState or Timeout seconds have passed; true when it was reached.
    // Uses WaitCtrl unless MultiThreaded (without one: error 11004 in "TWSocket.Wait").
    virtual bool Wait(int Timeout, TSocketState AState);
    // Reads one line (CR dropped, LF ends it, at most 254 characters; a longer line is cut and
    // announced by OnLineTooLong), waiting at most Timeout seconds. A timed-out line is continued
    // by the next ReadLine. Needs WaitCtrl unless MultiThreaded ("No wait object assigned").
    virtual void ReadLine(int Timeout, std::string& Line);
    // getsockname of the handle, result unchanged (0 or -1).
    virtual int LocalSocketAddress(TSockAddrIn& Name, int& NameLen);
    // Takes over a connected handle (from Accept): closes an own open handle first, then
    // wsConnected without OnSessionConnected. The component owns the handle from then on (it is
    // closed by the component even when Dup itself fails).
    virtual void Dup(TSocket NewHSocket);
    // Platform shutdown (0 receive, 1 send, 2 both) when the handle is valid. After a shutdown
    // of the receive side the component goes on watching for the peer's close, which alone
    // fires OnSessionClosed.
    virtual void Shutdown(int How);
    // Hands Count bytes of the open file FileHandle, from Offset on, straight to a connected
    // stream (sendfile: no copy through the send queue); Offset advances by what was taken. Only
    // with an empty send queue and normal send flags. Returns the bytes taken (> 0), 0 at the end
    // of the file, or -1 with LastError: 10035 when the platform's buffer is full (nothing was
    // taken), 10045 when the file or this socket cannot be sent from this way (send the bytes
    // with Send instead), 10057 when not connected, any other Winsock number of a failed send.
    // Like Send it never fires OnDataSent inside itself: OnDataSent fires from the event loop
    // when the platform can take more (after a full buffer) or at once (after everything offered
    // or the end of the file was reached). A layer that changes the bytes on their way (TLS)
    // overrides it to return -1 with 10045.
    virtual std::int64_t SendFile(int FileHandle, std::int64_t& Offset, std::int64_t Count);
    // Switches all network events off / on again.
    virtual void Pause();
    virtual void Resume();

    // Dispatches every event waiting for the calling thread, then returns.
    void PumpMessages();
    // Builds "Error N in function Name" CR LF + SocketErrorText(N) from the last socket error N
    // (net::WSAGetLastError), closes the handle first for 10054 and 10057 (wsClosed, no reset, no
    // OnSessionClosed), then ReportError.
    void ReportSocketError(const std::string& FunctionName);
    // The socket library's description record (starts the library when needed).
    static const TWSAData& SocketLibraryInfo();

    // ---- Properties -------------------------------------------------------------------------

    const std::string& Addr() const { return addrText_; }
    void SetAddr(const std::string& Text);
    const std::string& Port() const { return portText_; }
    void SetPort(const std::string& Text);
    const std::string& Proto() const { return protoText_; }
    void SetProto(const std::string& Text);

    const std::string& DnsResult() const { return dnsResult_; }
    const std::vector<std::string>& DnsResultList() const { return dnsResultList_; }
    TSocketState State() const { return state_; }
    int ReadCount() const { return readCount_; }
    // Bytes waiting in the platform's receive buffer; -1 after a reported failure.
    int RcvdCount();
    int LastError() const { return lastError_; }

    bool MultiThreaded() const { return multiThreaded_; }
    void SetMultiThreaded(bool On) { multiThreaded_ = On; }
    // The wait control used by Wait, ReadLine and Flush (not owned; cleared when it is destroyed).
    TWaitControl* WaitCtrl() const { return waitCtrl_; }
    void SetWaitCtrl(TWaitControl* Ctrl);
    int FlushTimeout() const { return flushTimeout_; }
    void SetFlushTimeout(int Seconds) { flushTimeout_ = Seconds; }
    TSocketSendFlags SendFlags();
    void SetSendFlags(TSocketSendFlags Flags);
    TSocketLingerOnOff LingerOnOff() const { return lingerOnOff_; }
    void SetLingerOnOff(TSocketLingerOnOff Value) { lingerOnOff_ = Value; }
    int LingerTimeout() const { return lingerTimeout_; }
    void SetLingerTimeout(int Seconds) { lingerTimeout_ = Seconds; }

    // Read-only views of internal fields, for owners and tests.
    TSocket HSocket() const { return hSocket_; }
    TSocket AcceptedHSocket() const { return acceptedHSocket_; }
    const TSockAddrIn& AddrRecord() const { return sin_; }
    int PortNum() const { return portNum_; }
    int LocalPortNum() const { return localPortNum_; }
    int ProtocolNum() const { return proto_; }
    int SocketType() const { return type_; }  // 1 stream, 2 datagram
    bool PortAssigned() const { return portAssigned_; }
    bool AddrAssigned() const { return addrAssigned_; }
    bool ProtoAssigned() const { return protoAssigned_; }
    bool AllSent() const { return allSent_; }
    bool Paused() const { return paused_; }
    bool LineActive() const { return lineActive_; }
    TSocketState AwaitedState() const { return awaitedState_; }
    int ChunkSize() const { return chunkSize_; }
    const TBufferList& SendQueue() const { return bufferList_; }
    // Number of live socket components in the process.
    static int ComponentCount();

    // ---- Events -----------------------------------------------------------------------------

    TSessionAvailable OnSessionAvailable;
    TSessionConnected OnSessionConnected;
    TSessionClosed OnSessionClosed;
    TChangeState OnChangeState;
    TDataAvailable OnDataAvailable;
    TDataSent OnDataSent;
    TNotifyEvent OnLineTooLong;
    TDnsLookupDone OnDnsLookupDone;
    TNotifyEvent OnError;

protected:
    // Changes State, fires OnChangeState, and stops WaitCtrl (unless MultiThreaded) when the
    // awaited state is reached or wsClosed is reached while wsConnected was awaited.
    void ChangeState(TSocketState NewState);
    // Appends Data behind the last chunk of the queue, adding ChunkSize chunks as needed.
    void QueueData(const void* Data, int Len);
    // Hands queued bytes to the platform until the queue is empty or the platform is full.
    void TryToSend();
    // Byte-wise line collection for ReadLine.
    void ReadLineStep();
    // Sets SO_LINGER from LingerOnOff/LingerTimeout; false after a reported failure.
    bool ApplyLinger();
    // Stores Code as LastError and as the thread's last socket error (for a layer above the
    // platform calls, such as TLS, whose operations fail with numbers of their own).
    void SetLastErrorCode(int Code)
    {
        lastError_ = Code;
        net::WSASetLastError(Code);
    }
    // The capacity of the send queue's new chunks (n <= 0: 1514, the default); a layer that
    // queues large blocks (TLS records) avoids a chunk per 1514 bytes.
    void SetChunkSize(int n) { chunkSize_ = n > 0 ? n : 1514; }
    // Hands the queue to the platform as Send does, without a write event of its own when it
    // drains at once (for bytes a layer queues by itself, such as TLS handshake records).
    void SendQueuedSilently()
    {
        if (state_ != wsConnected) return;
        allSent_ = false;
        TryToSend();
    }
    // Posts a read event, as the platform's readiness would: the receive loop runs from the
    // event loop (for a layer that holds received bytes the platform no longer reports).
    void PostReadEvent() { PostSocketEvent(net::FD_READ, 0); }

private:
    friend class TWaitControl;

    // net::TSocketEventSink
    void SocketReadReady() override;
    void SocketWriteReady() override;
    void SocketEventMessage(std::uint64_t serial, std::uint16_t events,
                            std::uint16_t error) override;
    void LookupDoneMessage(const QHostInfo& info) override;

    void HandleSocketEvent(std::uint16_t events, std::uint16_t error);
    int ReceiveInto(void* Buffer, int BufferSize, TSockAddrIn* From, int* FromLen);
    void ReceiveLoop(std::uint16_t error);
    void CloseEvent(std::uint16_t error);
    void ConnectEvent(std::uint16_t error);
    void InternalClose(bool shut);
    void AdoptHandle(TSocket h);
    int CloseHandle();
    bool SelectEvents(std::uint16_t mask);
    void ArmRead();
    void UpdateNotifiers();
    void PostSocketEvent(std::uint16_t events, std::uint16_t error);
    void StopWaitCtrl();
    void DiscardSendQueue();
    // After the own shutdown of the receive side an end of stream is no longer the peer's close:
    // true (with the close error) when the connection shows that the peer has ended it.
    bool PeerHasClosed(std::uint16_t& error) const;
    // Looks for the peer's close (or new data) while reading is shut down on this side.
    void WatchForPeerClose();
    void PeerCloseTick();
    int SendErrorCode(int err) const;
    bool Live(std::uint64_t serial) const
    {
        return serial == serial_ && hSocket_ != INVALID_SOCKET;
    }

    // Handle and addressing.
    TSocket hSocket_ = INVALID_SOCKET;
    bool portAssigned_ = false;
    bool addrAssigned_ = false;
    bool protoAssigned_ = true;
    std::string protoText_ = "tcp";
    std::string addrText_;
    std::string portText_;
    int portNum_ = 0;
    int localPortNum_ = 0;
    int proto_ = 6;
    int type_ = 1;
    std::string dnsResult_;
    std::vector<std::string> dnsResultList_;
    TSocket acceptedHSocket_ = INVALID_SOCKET;
    TSocketState state_ = wsClosed;
    int flushTimeout_ = 60;
    TBufferList bufferList_;
    int chunkSize_ = 1514;
    int sendFlags_ = 0;
    bool multiThreaded_ = false;
    TWaitControl* waitCtrl_ = nullptr;
    TSocketState awaitedState_ = wsInvalidState;
    int lastError_ = 0;
    bool paused_ = false;
    TSocketLingerOnOff lingerOnOff_ = wsLingerOn;
    int lingerTimeout_ = 0;
    bool allSent_ = true;
    std::string line_;  // the line buffer (at most 255 characters)
    bool lineActive_ = false;
    int readCount_ = 0;
    bool closeInvoked_ = false;
    TSockAddrIn sin_{};

    // Event source and its bookkeeping.
    std::unique_ptr<net::TSocketEventSource> source_;
    bool lookupPending_ = false;
    int lookupId_ = 0;
    std::uint64_t serial_ = 0;       // counts the handles adopted; names the current connection
    std::uint64_t closeSerial_ = 0;  // counts the completed close procedures
    std::uint16_t mask_ = 0;         // network events asked for (0: none, as while Paused)
    bool readArmed_ = false;         // the next readable report is wanted (re-armed by recv/accept)
    bool writeWanted_ = false;       // a writable report is wanted (connecting, or send was full)
    bool shutdownWrite_ = false;     // Shutdown(1 or 2) succeeded on this handle
    bool shutdownRead_ = false;      // Shutdown(0 or 2) succeeded on this handle
    std::unique_ptr<QTimer> peerCloseWatch_;  // polls for the peer's close after shutdownRead_
    int peerError_ = 0;                       // errno of a reset found by the read peek
    std::uint16_t dispatching_ = 0;           // events being handled right now
    std::uint16_t deferred_ = 0;  // events that arrived while the same event was being handled
    std::uint16_t deferredError_[6] = {};
    bool destroying_ = false;
};

// The component as the program places it.
class TWSocket : public TCustomWSocket {
    Q_OBJECT
public:
    using TCustomWSocket::TCustomWSocket;
};
