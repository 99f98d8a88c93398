#include "telnet/TnCnx.h"

#include "platform/DebugOutput.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

namespace {

// The program-wide number of the session traces.
std::uint32_t g_traceNumber = 0;

void TraceByte(const char* prefix, std::uint8_t b)
{
    // The byte itself is written as it is, a NUL included (the length comes from snprintf).
    char text[48];
    const int n =
        std::snprintf(text, sizeof text, "%s%02X '%c'\r\n", prefix, b, static_cast<char>(b));
    TnCnxTrace(std::string_view(text, static_cast<std::size_t>(n)));
}

// Copies text, doubling every byte 255 (IAC IAC).
void AppendEscaped(std::string& out, const char* data, std::size_t len)
{
    for (std::size_t i = 0; i < len; ++i) {
        out.push_back(data[i]);
        if (static_cast<std::uint8_t>(data[i]) == TNCH_IAC) out.push_back(data[i]);
    }
}

}  // namespace

void TnCnxTrace(std::string_view Text)
{
    char number[16];
    const int n = std::snprintf(number, sizeof number, "%04X ", ++g_traceNumber);
    platform::DebugOutput(std::string_view(number, static_cast<std::size_t>(n)));
    platform::DebugOutput(Text);
}

// ---- Life cycle -----------------------------------------------------------------------------

TTnCnx::TTnCnx(QObject* AOwner) : QObject(AOwner), socket_(new TWSocket(this))
{
    socket_->OnSessionConnected = [this](QObject* s, std::uint16_t e) {
        SocketSessionConnected(s, e);
    };
    socket_->OnDataAvailable = [this](QObject* s, std::uint16_t e) { SocketDataAvailable(s, e); };
    socket_->OnSessionClosed = [this](QObject* s, std::uint16_t e) { SocketSessionClosed(s, e); };
}

TTnCnx::~TTnCnx()
{
    delete socket_.data();
}

// ---- Operations -----------------------------------------------------------------------------

void TTnCnx::Connect()
{
    if (!socket_) return;
    if (socket_->State() != wsClosed) socket_->Close();
    ResetParser();
    socket_->SetProto("tcp");
    socket_->SetPort(port_);
    socket_->SetAddr(host_);
    socket_->Connect();
}

void TTnCnx::Close()
{
    if (socket_) socket_->Close();
}

std::int32_t TTnCnx::Send(const void* Data, std::int32_t Len)
{
    if (!socket_) return -1;
    if (Len <= 0) return socket_->Send(Data, 0);
    const char* bytes = static_cast<const char*>(Data);
    const std::string_view view(bytes, static_cast<std::size_t>(Len));
    if (view.find(static_cast<char>(TNCH_IAC)) == std::string_view::npos)
        return socket_->Send(bytes, Len) < 0 ? -1 : Len;
    // A data byte 255 would read as a command to the server: it goes out as IAC IAC.
    std::string escaped;
    escaped.reserve(view.size() + 16);
    AppendEscaped(escaped, bytes, view.size());
    return socket_->Send(escaped.data(), static_cast<int>(escaped.size())) < 0 ? -1 : Len;
}

std::int32_t TTnCnx::SendStr(const std::string& Str)
{
    return Send(Str.data(), static_cast<std::int32_t>(Str.size()));
}

void TTnCnx::DoOption(std::uint8_t AOption)
{
    SendNegotiation(TNCH_DO, AOption);
}

void TTnCnx::DontOption(std::uint8_t AOption)
{
    SendNegotiation(TNCH_DONT, AOption);
}

void TTnCnx::SendNegotiation(std::uint8_t Verb, std::uint8_t AOption)
{
    const char bytes[3] = {static_cast<char>(TNCH_IAC), static_cast<char>(Verb),
                           static_cast<char>(AOption)};
    if (socket_) socket_->Send(bytes, 3);
}

// ---- Triggers -------------------------------------------------------------------------------

void TTnCnx::TriggerSessionConnected(std::uint16_t Error)
{
    if (OnSessionConnected) OnSessionConnected(this, Error);
}

void TTnCnx::TriggerSessionClosed(std::uint16_t Error)
{
    if (OnSessionClosed) OnSessionClosed(this, Error);
}

void TTnCnx::TriggerDataAvailable(char* Buffer, std::int32_t Len)
{
    if (OnDataAvailable) OnDataAvailable(this, Buffer, Len);
}

void TTnCnx::TriggerDisplay(const std::string& Str)
{
    if (OnDisplay) OnDisplay(this, Str);
}

void TTnCnx::TriggerEndOfRecord()
{
    if (OnEndOfRecord) OnEndOfRecord(this);
}

void TTnCnx::TriggerSendLoc()
{
    if (OnSendLoc) OnSendLoc(this);
}

void TTnCnx::TriggerTermType()
{
    if (OnTermType) OnTermType(this);
}

void TTnCnx::TriggerLocalEcho()
{
    if (OnLocalEcho) OnLocalEcho(this);
}

// ---- Socket events --------------------------------------------------------------------------

void TTnCnx::SocketSessionConnected(QObject*, std::uint16_t Error)
{
    TriggerSessionConnected(Error);
}

void TTnCnx::SocketSessionClosed(QObject*, std::uint16_t Error)
{
    if (socket_ && socket_->State() != wsClosed) socket_->Close();
    TriggerSessionClosed(Error);
}

void TTnCnx::SocketDataAvailable(QObject*, std::uint16_t)
{
    if (!socket_) return;
    char block[ReceiveBlockSize];
    const int len = socket_->Receive(block, sizeof block);
    if (len == 0) {
        TriggerDisplay("\r\n**** Remote has closed ****\r\n");
        return;
    }
    if (len < 0) {
        const int error = socket_->LastError();
        if (error != WSAEWOULDBLOCK)
            TriggerDisplay("\r\n**** ERROR: " + std::to_string(error) + " ****\r\n");
        return;
    }
    ProcessReceived(block, len);
}

// ---- Receive parser -------------------------------------------------------------------------

void TTnCnx::ProcessReceived(const char* Data, int Len)
{
    // A handler that raises must not cut the block short (the bytes after it would be lost and
    // the parser left inside a command): the first exception waits for the end of the block.
    std::exception_ptr failure;
    for (int i = 0; i < Len; ++i) {
        try {
            ParseByte(static_cast<std::uint8_t>(Data[i]));
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    try {
        DeliverData();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    if (failure) std::rethrow_exception(failure);
}

void TTnCnx::ResetParser()
{
    iacSeen_ = false;
    verb_ = 0;
    inSubNeg_ = false;
    subNegTooLong_ = false;
    subNegBuffer_.clear();
}

void TTnCnx::ParseByte(std::uint8_t b)
{
    if (verb_ != 0) {
        const std::uint8_t verb = verb_;
        verb_ = 0;
        subNegBuffer_.clear();
        HandleOption(verb, b);
        return;
    }
    if (inSubNeg_) {
        if (b == TNCH_SE) {
            inSubNeg_ = false;
            if (subNegTooLong_)
                TnCnxTrace("Sub-negotiation too long, ignored\r\n");
            else
                HandleSubNegotiation();
            subNegBuffer_.clear();
            subNegTooLong_ = false;
        } else if (subNegBuffer_.size() < SubNegotiationLimit) {
            subNegBuffer_.push_back(static_cast<char>(b));
        } else {
            subNegTooLong_ = true;
        }
        return;
    }
    if (iacSeen_) {
        iacSeen_ = false;
        switch (b) {
        case TNCH_EOR:
            TnCnxTrace("TNCH_EOR\r\n");
            TriggerEndOfRecord();
            break;
        case TNCH_SB:
            inSubNeg_ = true;
            subNegTooLong_ = false;
            subNegBuffer_.clear();
            break;
        case TNCH_WILL:
        case TNCH_WONT:
        case TNCH_DO:
        case TNCH_DONT:
            verb_ = b;
            break;
        case TNCH_IAC:
            StoreDataByte(static_cast<char>(b));
            break;
        default:
            TraceByte("Unknown ", b);
            break;
        }
        return;
    }
    switch (b) {
    case TNCH_IAC:
        iacSeen_ = true;
        return;
    case TNCH_IP:
        TnCnxTrace("TNCH_IP\r\n");
        break;
    case TNCH_AO:
        TnCnxTrace("TNCH_AO\r\n");
        break;
    case TNCH_AYT:
        TnCnxTrace("TNCH_AYT\r\n");
        break;
    case TNCH_EC:
        TnCnxTrace("TNCH_EC\r\n");
        break;
    case TNCH_EL:
        TnCnxTrace("TNCH_EL\r\n");
        break;
    default:
        break;
    }
    StoreDataByte(static_cast<char>(b));
}

// What the session answers to each verb the server sends:
//   option              WILL                 WONT              DO                   DONT
//   TRANSMIT-BINARY 0   DO                   -                 -                    -
//   ECHO 1              DO, LocalEcho false  LocalEcho true    -                    -
//   SUPPRESS-GA 3       DO                   -                 -                    -
//   SEND-LOCATION 23    -                    -                 WILL, OnSendLoc, SB  -
//   TERMINAL-TYPE 24    -                    -                 WILL                 -
//   END-OF-RECORD 25    -                    -                 WILL                 -
//   any other           DONT                 WONT              WONT                 WONT
// Every verb about ECHO fires OnLocalEcho (after LocalEcho has changed). The answer is sent each
// time the verb arrives, whatever the option's state.
void TTnCnx::HandleOption(std::uint8_t verb, std::uint8_t option)
{
    switch (option) {
    case TN_TRANSMIT_BINARY:
    case TN_SUPPRESS_GA:
        if (verb == TNCH_WILL) Answer(TNCH_DO, option);
        return;
    case TN_ECHO:
        if (verb == TNCH_WILL) {
            Answer(TNCH_DO, option);
            localEcho_ = false;
        } else if (verb == TNCH_WONT) {
            localEcho_ = true;
        }
        TriggerLocalEcho();
        return;
    case TN_SEND_LOC:
        if (verb == TNCH_DO) {
            Answer(TNCH_WILL, option);
            TriggerSendLoc();
            const char head[1] = {static_cast<char>(TN_SEND_LOC)};
            AnswerSubNegotiation(std::string_view(head, 1), location_);
        }
        return;
    case TN_TERMTYPE:
    case TN_EOR:
        if (verb == TNCH_DO) Answer(TNCH_WILL, option);
        return;
    default:
        Answer(verb == TNCH_WILL ? TNCH_DONT : TNCH_WONT, option);
        return;
    }
}

void TTnCnx::HandleSubNegotiation()
{
    if (subNegBuffer_.size() < 2) return;
    if (static_cast<std::uint8_t>(subNegBuffer_[0]) != TN_TERMTYPE ||
        static_cast<std::uint8_t>(subNegBuffer_[1]) != TN_TTYPE_SEND)
        return;
    TriggerTermType();
    const char head[2] = {static_cast<char>(TN_TERMTYPE), static_cast<char>(TN_TTYPE_IS)};
    AnswerSubNegotiation(std::string_view(head, 2), termType_);
}

void TTnCnx::Answer(std::uint8_t verb, std::uint8_t option)
{
    const char bytes[3] = {static_cast<char>(TNCH_IAC), static_cast<char>(verb),
                           static_cast<char>(option)};
    SendRaw(bytes, 3);
}

// IAC SB head text IAC SE, where head is the option (and qualifier) and text has its bytes 255
// doubled.
void TTnCnx::AnswerSubNegotiation(std::string_view head, const std::string& text)
{
    std::string out;
    out.reserve(head.size() + text.size() + 8);
    out.push_back(static_cast<char>(TNCH_IAC));
    out.push_back(static_cast<char>(TNCH_SB));
    out.append(head);
    AppendEscaped(out, text.data(), text.size());
    out.push_back(static_cast<char>(TNCH_IAC));
    out.push_back(static_cast<char>(TNCH_SE));
    SendRaw(out.data(), static_cast<int>(out.size()));
}

bool TTnCnx::SendRaw(const char* data, int len)
{
    if (!socket_ || socket_->State() != wsConnected) {
        // The owner closed or restarted the connection from inside an event of this block: the
        // answer belongs to a connection that is gone.
        TnCnxTrace("Not connected, answer dropped\r\n");
        return false;
    }
    return socket_->Send(data, len) >= 0;
}

// ---- Data buffer ----------------------------------------------------------------------------

void TTnCnx::StoreDataByte(char b)
{
    if (dataCount_ >= DataBufferSize) {
        // Only when a delivery could not get memory: there is no room for the byte.
        TnCnxTrace("Data buffer full, byte dropped\r\n");
        return;
    }
    dataBuffer_[dataCount_++] = b;
    if (dataCount_ == DataBufferSize) DeliverData();
}

void TTnCnx::DeliverData()
{
    if (dataCount_ <= 0) return;
    if (!OnDataAvailable) {
        dataCount_ = 0;
        return;
    }
    const std::int32_t len = dataCount_;
    std::unique_ptr<char[]> block(new (std::nothrow) char[static_cast<std::size_t>(len) + 1]);
    if (!block) return;  // the bytes stay buffered for the next delivery
    std::memcpy(block.get(), dataBuffer_, static_cast<std::size_t>(len));
    block[static_cast<std::size_t>(len)] = '\0';
    dataCount_ = 0;
    TriggerDataAvailable(block.get(), len);
}
