// TTnCnx: the telnet session. It owns one socket component (TWSocket), connects it to Host:Port,
// strips telnet commands out of the received stream, answers option negotiation by itself and
// hands the remaining bytes to its owner in blocks (OnDataAvailable). It never starts a
// negotiation on its own: it only answers what the server asks, plus the echo requests its owner
// sends with DoOption / DontOption.
//
// Receiving. Each OnDataAvailable of the socket reads up to 2048 bytes. 0 bytes (the peer has
// closed) gives OnDisplay("\r\n**** Remote has closed ****\r\n"); a failure other than 10035
// (would block) gives OnDisplay("\r\n**** ERROR: <n> ****\r\n"). Otherwise every byte goes through
// the parser, in order, and the data buffer is delivered after the block:
//  - IAC IAC is one data byte 255; IAC EOR fires OnEndOfRecord; IAC SB starts a sub-negotiation
//    that ends at the next byte SE; IAC WILL/WONT/DO/DONT option is answered from the option
//    table (TnCnx.cpp); IAC followed by anything else (NOP, GA, DM, ...) is dropped with a trace.
//  - The parser state (IAC seen, pending verb, inside a sub-negotiation and its buffer) lives
//    across received blocks, so a command cut by a read boundary is handled as one. Connect
//    starts the new connection with a fresh parser: a command the old connection left unfinished
//    must not swallow the first bytes of the next one.
//  - A sub-negotiation is collected up to 1024 bytes; a longer one is ignored as a whole (its
//    further bytes are dropped up to its SE), so a server that never ends one cannot make the
//    buffer grow.
//  - Only IAC SB TERMINAL-TYPE SEND is answered: OnTermType fires first (the handler may still
//    change TermType), then IAC SB TERMINAL-TYPE IS <TermType> IAC SE is sent.
//  - DO SEND-LOCATION is answered with WILL SEND-LOCATION, then OnSendLoc fires (the handler may
//    still change Location), then IAC SB SEND-LOCATION <Location> IAC SE is sent.
//  - WILL/WONT/DO/DONT ECHO update LocalEcho (WILL: false, WONT: true) and fire OnLocalEcho.
//  - A byte 255 inside the Location or TermType text is sent doubled (IAC IAC), as sub-negotiation
//    parameters require.
//  - Answers are sent only while the socket is connected; an answer due after the owner has
//    closed (or restarted) the connection from inside one of the events is dropped with a trace.
//
// Data delivery. Data bytes collect in a 2049-byte buffer; it is delivered when it is full and
// after every received block: OnDataAvailable(Sender, Buffer, Len) gets a copy of the Len bytes
// followed by a NUL byte, valid only during the call (the handler may change the copy). Without
// a handler the bytes are dropped. An exception raised by a handler of OnDataAvailable,
// OnEndOfRecord, OnSendLoc, OnTermType or OnLocalEcho does not cut the block short: the rest of
// the block is parsed and delivered first, then the first exception is raised again (and ends
// the socket's receive loop).
//
// Sending. Send and SendStr double every data byte 255 (IAC IAC) and translate nothing else; they
// return the caller's byte count (the bytes on the wire may be more), or -1 when there is no
// socket. SendNegotiation, DoOption and DontOption send their three bytes unchanged. All of them
// go through the socket's Send, which raises ESocketException when the socket is not connected
// (the session installs no OnError).
//
// Connections. Connect closes an open connection first (OnSessionClosed(0) fires before the new
// connection is started), then assigns Proto "tcp", Port and Addr := Host (a host name is
// resolved on the spot; an unknown one raises ESocketException) and connects. The outcome
// arrives as OnSessionConnected(Error). When the connection ends (peer close, Close, or a failed
// connect) OnSessionClosed(Error) fires; a refused connect thus gives OnSessionConnected(10061)
// followed by OnSessionClosed(0). No telnet bytes are sent on connect. LocalEcho keeps its value
// across connections.
//
// Traces (unknown commands, IP/AO/AYT/EC/EL data bytes, EOR, dropped answers, over-long
// sub-negotiations) go to platform::DebugOutput, each preceded by a program-wide running number
// as four upper-case hexadecimal digits and a blank.
//
// Threading: the GUI thread only, like the socket. Do not delete a session from inside one of
// its own event handlers (use deleteLater).
#pragma once

#include "net/WSocket.h"

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class TTnCnx;

// Telnet command codes.
constexpr std::uint8_t TNCH_EOR = 239;
constexpr std::uint8_t TNCH_SE = 240;
constexpr std::uint8_t TNCH_NOP = 241;
constexpr std::uint8_t TNCH_DATA_MARK = 242;
constexpr std::uint8_t TNCH_BREAK = 243;
constexpr std::uint8_t TNCH_IP = 244;
constexpr std::uint8_t TNCH_AO = 245;
constexpr std::uint8_t TNCH_AYT = 246;
constexpr std::uint8_t TNCH_EC = 247;
constexpr std::uint8_t TNCH_EL = 248;
constexpr std::uint8_t TNCH_GA = 249;
constexpr std::uint8_t TNCH_SB = 250;
constexpr std::uint8_t TNCH_WILL = 251;
constexpr std::uint8_t TNCH_WONT = 252;
constexpr std::uint8_t TNCH_DO = 253;
constexpr std::uint8_t TNCH_DONT = 254;
constexpr std::uint8_t TNCH_IAC = 255;

// Telnet options the session knows.
constexpr std::uint8_t TN_TRANSMIT_BINARY = 0;
constexpr std::uint8_t TN_ECHO = 1;
constexpr std::uint8_t TN_SUPPRESS_GA = 3;
constexpr std::uint8_t TN_SEND_LOC = 23;
constexpr std::uint8_t TN_TERMTYPE = 24;
constexpr std::uint8_t TN_EOR = 25;

// Sub-negotiation qualifiers.
constexpr std::uint8_t TN_TTYPE_IS = 0;
constexpr std::uint8_t TN_TTYPE_SEND = 1;

// Event types of the session. Error is a 16-bit Winsock number (0: success). Buffer points to a
// copy of Len bytes plus a NUL byte, valid during the call only.
using TTnSessionConnected = std::function<void(TTnCnx* Sender, std::uint16_t Error)>;
using TTnSessionClosed = std::function<void(TTnCnx* Sender, std::uint16_t Error)>;
using TTnDataAvailable = std::function<void(TTnCnx* Sender, char* Buffer, std::int32_t Len)>;
using TTnDisplay = std::function<void(TTnCnx* Sender, const std::string& Str)>;
// OnEndOfRecord, OnSendLoc, OnTermType and OnLocalEcho are plain notifications (TNotifyEvent of
// the socket layer) whose Sender is the session.

class TTnCnx : public QObject {
    Q_OBJECT
public:
    // Size of the data buffer (the largest block OnDataAvailable delivers).
    static constexpr std::int32_t DataBufferSize = 2049;
    // Bytes read from the socket per received block.
    static constexpr int ReceiveBlockSize = 2048;
    // Longest sub-negotiation that is collected; a longer one is ignored.
    static constexpr std::size_t SubNegotiationLimit = 1024;

    // Creates the socket and binds its OnSessionConnected, OnDataAvailable and OnSessionClosed
    // to the session. Defaults: Port "23", Host "", Location "TNCNX", TermType "VT100",
    // LocalEcho false.
    explicit TTnCnx(QObject* AOwner = nullptr);
    // Frees the socket (an open connection is closed without events).
    ~TTnCnx() override;

    // ---- Operations -------------------------------------------------------------------------

    void Connect();
    // The socket's Close: OnSessionClosed(0) follows unless the connection is already closed.
    void Close();
    // Sends Len bytes of Data, each byte 255 doubled. Returns Len (0 for Len <= 0), or -1 when
    // there is no socket.
    std::int32_t Send(const void* Data, std::int32_t Len);
    std::int32_t SendStr(const std::string& Str);
    // IAC DO option / IAC DONT option.
    void DoOption(std::uint8_t AOption);
    void DontOption(std::uint8_t AOption);
    // The three bytes IAC, Verb, AOption, unchanged.
    void SendNegotiation(std::uint8_t Verb, std::uint8_t AOption);

    // ---- Properties (plain fields, no side effects) ------------------------------------------

    const std::string& Port() const { return port_; }
    void SetPort(const std::string& Value) { port_ = Value; }
    const std::string& Host() const { return host_; }
    void SetHost(const std::string& Value) { host_ = Value; }
    const std::string& Location() const { return location_; }
    void SetLocation(const std::string& Value) { location_ = Value; }
    const std::string& TermType() const { return termType_; }
    void SetTermType(const std::string& Value) { termType_ = Value; }
    // True when the server has said it will not echo (WONT ECHO): the owner echoes typed
    // characters itself.
    bool LocalEcho() const { return localEcho_; }
    void SetLocalEcho(bool Value) { localEcho_ = Value; }

    // The owned socket (null only if it was destroyed before the session).
    TWSocket* Socket() const { return socket_; }
    // The socket's state; the session is connected while it is wsConnected.
    TSocketState State() const { return socket_ ? socket_->State() : wsClosed; }

    // Read-only views of the receive state, for tests: data bytes not yet delivered (0 outside
    // the parser, unless a delivery failed) and bytes of the sub-negotiation being collected.
    std::int32_t DataCount() const { return dataCount_; }
    std::size_t SubNegotiationSize() const { return subNegBuffer_.size(); }

    // ---- Events -----------------------------------------------------------------------------

    TTnSessionConnected OnSessionConnected;
    TTnSessionClosed OnSessionClosed;
    TTnDataAvailable OnDataAvailable;
    TTnDisplay OnDisplay;
    TNotifyEvent OnEndOfRecord;
    TNotifyEvent OnSendLoc;
    TNotifyEvent OnTermType;
    TNotifyEvent OnLocalEcho;

protected:
    // Trigger steps: each fires its event when a handler is assigned.
    virtual void TriggerSessionConnected(std::uint16_t Error);
    virtual void TriggerSessionClosed(std::uint16_t Error);
    virtual void TriggerDataAvailable(char* Buffer, std::int32_t Len);
    virtual void TriggerDisplay(const std::string& Str);
    virtual void TriggerEndOfRecord();
    virtual void TriggerSendLoc();
    virtual void TriggerTermType();
    virtual void TriggerLocalEcho();

    // Handlers bound to the socket's events.
    void SocketSessionConnected(QObject* Sender, std::uint16_t Error);
    void SocketDataAvailable(QObject* Sender, std::uint16_t Error);
    void SocketSessionClosed(QObject* Sender, std::uint16_t Error);

    // Feeds one received block to the parser byte by byte, then delivers the data buffer (the
    // receive path after its Receive; also the entry point of the fuzz target and benchmark).
    void ProcessReceived(const char* Data, int Len);

private:
    void ResetParser();
    void ParseByte(std::uint8_t b);
    void HandleOption(std::uint8_t verb, std::uint8_t option);
    void HandleSubNegotiation();
    void StoreDataByte(char b);
    void DeliverData();
    // An answer to the server: sent only while the socket is connected.
    void Answer(std::uint8_t verb, std::uint8_t option);
    void AnswerSubNegotiation(std::string_view head, const std::string& text);
    bool SendRaw(const char* data, int len);

    QPointer<TWSocket> socket_;
    std::string port_ = "23";
    std::string host_;
    std::string location_ = "TNCNX";
    std::string termType_ = "VT100";
    bool localEcho_ = false;
    char dataBuffer_[DataBufferSize] = {};
    std::int32_t dataCount_ = 0;

    // Receive-parser state, kept from one block (and connection) to the next.
    bool iacSeen_ = false;
    std::uint8_t verb_ = 0;  // pending WILL/WONT/DO/DONT, 0 when none
    bool inSubNeg_ = false;
    bool subNegTooLong_ = false;
    std::string subNegBuffer_;
};

// Writes one trace of the telnet session to the debug output channel: the next program-wide
// number as four upper-case hexadecimal digits and a blank, then Text.
void TnCnxTrace(std::string_view Text);
