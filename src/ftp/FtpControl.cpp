// The FTP engine's control connection: opening it, reading and judging replies, sending commands,
// completing requests, abort, the chains of steps and the engine's notifications to itself.
// The data connection and the transfers are in FtpTransfer.cpp, the synchronous operations of
// TFtpClient in FtpSyncClient.cpp.
#include "ftp/FtpEngine.h"

#include "ftp/FtpNotifier.h"

#include <QCoreApplication>
#include <QEvent>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

// ---- Notifications to self ----------------------------------------------------------------

namespace ftp::detail {

QEvent::Type RequestDoneType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

namespace {

QEvent::Type RethrowType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

class RequestDoneEvent : public QEvent {
public:
    RequestDoneEvent(TFtpRequest request, std::uint16_t error)
        : QEvent(RequestDoneType()), Request(request), Error(error)
    {
    }
    TFtpRequest Request;
    std::uint16_t Error;
};

class RethrowEvent : public QEvent {
public:
    explicit RethrowEvent(std::exception_ptr e) : QEvent(RethrowType()), Exception(std::move(e)) {}
    std::exception_ptr Exception;
};

}  // namespace

TFtpNotifier::TFtpNotifier(TCustomFtpCli& owner) : owner_(owner)
{
}

void TFtpNotifier::PostRequestDone(TFtpRequest request, std::uint16_t error)
{
    QCoreApplication::postEvent(this, new RequestDoneEvent(request, error));
}

void TFtpNotifier::PostRethrow(std::exception_ptr e)
{
    QCoreApplication::postEvent(this, new RethrowEvent(std::move(e)));
}

bool TFtpNotifier::event(QEvent* e)
{
    if (e->type() == RequestDoneType()) {
        const auto* done = static_cast<RequestDoneEvent*>(e);
        owner_.DeliverRequestDone(done->Request, done->Error);
        return true;
    }
    if (e->type() == RethrowType()) {
        // An exception of one of the owner's handlers, thrown again from a clean top-level event so
        // that the application's notify() sees it with the engine in a consistent state.
        std::rethrow_exception(static_cast<RethrowEvent*>(e)->Exception);
    }
    return QObject::event(e);
}

}  // namespace ftp::detail

// ---- Names ----------------------------------------------------------------------------------

const char* FtpRequestName(int Code)
{
    static const char* const kNames[] = {
        "none",          "OpenAsync",      "UserAsync",    "PassAsync",    "CwdAsync",
        "ConnectAsync",  "ReceiveAsync",   "DirAsync",     "LsAsync",      "PortAsync",
        "GetAsync",      "DirectoryAsync", "ListAsync",    "SystemAsync",  "SystAsync",
        "QuitAsync",     "SizeAsync",      "PutAsync",     "AppendAsync",  "FileSizeAsync",
        "RqAbort",       "MkdAsync",       "RmdAsync",     "RenameAsync",  "DeleAsync",
        "RenAsync",      "RenToAsync",     "RenFromAsync", "DeleteAsync",  "MkdirAsync",
        "RmdirAsync",    "PwdAsync",       "QuoteAsync",   "CDupAsync",    "DoQuoteAsync",
        "TransmitAsync", "TypeSetAsync",   "RestAsync",    "RestGetAsync", "RestartGetAsync",
    };
    if (Code < 0 || Code >= static_cast<int>(std::size(kNames))) return "unknown";
    return kNames[Code];
}

namespace {

constexpr TFtpStepSet Steps(std::initializer_list<TFtpStep> list)
{
    TFtpStepSet set = 0;
    for (TFtpStep s : list)
        set |= FtpStepBit(s);
    return set;
}

std::string SocketFailureText(std::uint16_t error)
{
    return "500 " + SocketErrorText(error) + " (Winsock error #" + std::to_string(error) + ")";
}

}  // namespace

bool TCustomFtpCli::HasHyphen(std::string_view rest)
{
    return !rest.empty() && rest.front() == '-';
}

std::string TCustomFtpCli::FirstLine(const char* text)
{
    std::string s(text);
    const std::size_t eol = s.find_first_of("\r\n");
    if (eol != std::string::npos) s.resize(eol);
    return s;
}

// ---- Construction ---------------------------------------------------------------------------

TCustomFtpCli::TCustomFtpCli(QObject* AOwner) : QObject(AOwner)
{
    FNotifier = std::make_unique<ftp::detail::TFtpNotifier>(*this);
    FDataBlock = std::make_unique<char[]>(kDataBlockSize);
    FControlSocket = std::make_unique<TTlsWSocket>();
    FDataSocket = std::make_unique<TTlsWSocket>();
    TTlsWSocket& c = *FControlSocket;
    c.OnDnsLookupDone = [this](QObject*, std::uint16_t e) {
        Guarded([&] { ControlDnsLookupDone(e); });
    };
    c.OnSessionConnected = [this](QObject*, std::uint16_t e) {
        Guarded([&] { ControlSessionConnected(e); });
    };
    c.OnDataAvailable = [this](QObject*, std::uint16_t e) {
        Guarded([&] { ControlDataAvailable(e); });
    };
    c.OnSessionClosed = [this](QObject*, std::uint16_t e) {
        Guarded([&] { ControlSessionClosed(e); });
    };
    c.OnTlsVerify = [this](QObject*, const TTlsCertificateInfo& info, bool&) {
        Guarded([&] { ControlTlsVerify(info); });
    };
    c.OnTlsHandshakeDone = [this](QObject*, std::uint16_t e) {
        Guarded([&] { ControlTlsHandshakeDone(e); });
    };
    BindDataSocketEvents();
}

TCustomFtpCli::~TCustomFtpCli()
{
    // The sockets close without firing events when they go; their handlers are dropped first so
    // that nothing can reach a half-destroyed engine.
    for (TTlsWSocket* s : {FControlSocket.get(), FDataSocket.get()}) {
        s->OnTlsVerify = nullptr;
        s->OnTlsHandshakeDone = nullptr;
        s->OnDnsLookupDone = nullptr;
        s->OnSessionConnected = nullptr;
        s->OnDataAvailable = nullptr;
        s->OnSessionClosed = nullptr;
        s->OnSessionAvailable = nullptr;
        s->OnDataSent = nullptr;
    }
    if (FHeldDataHandle != INVALID_SOCKET) ::close(FHeldDataHandle);
    FLocalStream.reset();
}

bool TCustomFtpCli::Connected() const
{
    return FControlSocket->State() != wsClosed;
}

TFtpShareMode TCustomFtpCli::ShareMode() const
{
    switch (FShareModeWord) {
    case 0:
        return ftpShareCompat;
    case 32:
        return ftpShareDenyWrite;
    case 48:
        return ftpShareDenyRead;
    case 64:
        return ftpShareDenyNone;
    default:
        return ftpShareExclusive;
    }
}

void TCustomFtpCli::SetShareMode(TFtpShareMode Value)
{
    switch (Value) {
    case ftpShareCompat:
        FShareModeWord = 0;
        break;
    case ftpShareDenyWrite:
        FShareModeWord = 32;
        break;
    case ftpShareDenyRead:
        FShareModeWord = 48;
        break;
    case ftpShareDenyNone:
        FShareModeWord = 64;
        break;
    default:
        FShareModeWord = 16;
        break;
    }
}

// ---- Text readers ---------------------------------------------------------------------------

int TCustomFtpCli::ReplyCode(std::string_view Line)
{
    if (Line.size() < 4 || (Line[3] != ' ' && Line[3] != '-')) return -1;
    if (Line[0] < '1' || Line[0] > '9') return -1;
    for (std::size_t i = 1; i < 3; ++i)
        if (Line[i] < '0' || Line[i] > '9') return -1;
    return (Line[0] - '0') * 100 + (Line[1] - '0') * 10 + (Line[2] - '0');
}

std::int64_t TCustomFtpCli::ReadInteger(std::string_view Text, std::string_view* Rest)
{
    std::size_t i = 0;
    while (i < Text.size() &&
           (Text[i] == ' ' || Text[i] == '\t' || Text[i] == '\r' || Text[i] == '\n'))
        ++i;
    bool negative = false;
    if (i < Text.size() && (Text[i] == '+' || Text[i] == '-')) {
        negative = Text[i] == '-';
        ++i;
    }
    std::uint64_t value = 0;
    while (i < Text.size() && Text[i] >= '0' && Text[i] <= '9') {
        value = value * 10u + static_cast<std::uint64_t>(Text[i] - '0');
        ++i;
    }
    if (negative) value = 0u - value;
    if (Rest) *Rest = Text.substr(i);
    return static_cast<std::int64_t>(value);
}

std::string TCustomFtpCli::ReadQuotedString(std::string_view Text, std::string_view* Rest)
{
    std::string value;
    std::size_t i = 0;
    while (i < Text.size() &&
           (Text[i] == ' ' || Text[i] == '\t' || Text[i] == '\r' || Text[i] == '\n'))
        ++i;
    if (i < Text.size() && Text[i] == '"') {
        ++i;
        while (i < Text.size()) {
            if (Text[i] == '"') {
                if (i + 1 < Text.size() && Text[i + 1] == '"') {
                    value.push_back('"');
                    i += 2;
                    continue;
                }
                ++i;
                break;
            }
            value.push_back(Text[i++]);
        }
    }
    if (Rest) *Rest = Text.substr(i);
    return value;
}

void TCustomFtpCli::CheckCommandLine(const std::string& Line)
{
    for (char ch : Line) {
        if (ch == '\r') throw FtpException("Command refused: it contains a CR character");
        if (ch == '\n') throw FtpException("Command refused: it contains an LF character");
        if (ch == '\0') throw FtpException("Command refused: it contains a NUL character");
    }
}

// ---- Helpers --------------------------------------------------------------------------------

void TCustomFtpCli::CheckReady() const
{
    if (FState != fsReady && FState != fsInternalReady)
        throw FtpException("FTP component not ready");
}

void TCustomFtpCli::SetFtpState(TFtpState NewState)
{
    if (NewState == FState) return;
    FState = NewState;
    Fire(OnStateChange, this);
    if (NewState == fsReady) ReadyForWait();
}

void TCustomFtpCli::ShowLastReply()
{
    TriggerDisplay("< " + FLastResponse);
}

void TCustomFtpCli::KeepErrorMessage()
{
    if (FErrorMessage.empty()) FErrorMessage = FLastResponse;
}

void TCustomFtpCli::TriggerDisplay(const std::string& Msg)
{
    if (!OnDisplay) return;
    std::string copy = Msg;
    Fire(OnDisplay, this, copy);
}

void TCustomFtpCli::KeepHandlerException(std::exception_ptr E)
{
    if (HandOverToWait(E)) return;
    FNotifier->PostRethrow(std::move(E));
}

void TCustomFtpCli::PostRequestDone(std::uint16_t Error)
{
    FNotifier->PostRequestDone(FRequestType, Error);
}

void TCustomFtpCli::DeliverPostedCompletion()
{
    QCoreApplication::sendPostedEvents(FNotifier.get(), ftp::detail::RequestDoneType());
}

void TCustomFtpCli::DeliverRequestDone(TFtpRequest Request, std::uint16_t Error)
{
    Fire(OnRequestDone, this, Request, Error);
}

// ---- Sending commands -----------------------------------------------------------------------

void TCustomFtpCli::SendCommand(const std::string& Cmd)
{
    CheckCommandLine(Cmd);
    std::string line = Cmd;
    Fire(OnCommand, this, line);
    CheckCommandLine(line);
    TriggerDisplay("> " + line);
    if (FControlSocket->State() != wsConnected) return;
    try {
        FControlSocket->SendStr(line + "\r\n");
    } catch (const ESocketException& e) {
        // A send failure the socket could not handle itself ends the session: the request then
        // completes from the closed-connection handler.
        CloseControlBecause(FirstLine(e.what()));
    }
}

void TCustomFtpCli::StartCommand(TFtpRequest Request, TFtpStep Step, const std::string& Cmd,
                                 std::initializer_list<int> OkCodes, TReplyHandler Done)
{
    CheckReady();
    if (!FSessionOpen) throw FtpException("FTP component not connected");
    CheckCommandLine(Cmd);
    // With TLS asked for nothing but QUIT goes out on a connection that is not secured (the
    // mode was changed after the connect): the password in particular never does.
    if (FTlsMode == ftpTlsExplicit && !FControlSocket->TlsActive() && Step != stQuit)
        throw FtpException("TLS was asked for and the control connection is not secured");
    const TFtpState stateBefore = FState;
    const TFtpRequest requestBefore = FRequestType;
    std::string messageBefore;
    FLastStep = Step;
    if (!FHighLevelFlag) {
        FRequestType = Request;
        // A request of its own starts without the reason of an earlier failure.
        messageBefore = std::exchange(FErrorMessage, std::string());
    }
    std::size_t n = 0;
    for (int code : OkCodes) {
        if (n >= FOkResponses.size() - 1) break;
        FOkResponses[n++] = code;
    }
    FOkResponses[n] = 0;
    // The step starts without the result of the one before: a connection lost before its reply
    // must not report an earlier failure as its own.
    const std::int32_t resultBefore = std::exchange(FRequestResult, 0);
    FRequestDoneFlag = false;
    FNextHandler = &TCustomFtpCli::HandleReply;
    FDoneAction = Done;
    SetFtpState(fsWaitingReply);
    try {
        SendCommand(Cmd);
    } catch (const FtpException&) {
        // An OnCommand handler made the line unsendable: the request has not started.
        FRequestType = requestBefore;
        if (!FHighLevelFlag) FErrorMessage = std::move(messageBefore);
        FNextHandler = nullptr;
        FDoneAction = nullptr;
        FRequestDoneFlag = true;
        SetFtpState(stateBefore);
        FRequestResult = resultBefore;
        throw;
    }
}

// ---- Single commands ------------------------------------------------------------------------

void TCustomFtpCli::UserAsync()
{
    if (FUserName.size() < 1) throw FtpException("UserName emtpy");
    StartCommand(ftpUserAsync, stUser, "USER " + FUserName, {331, 230});
}

void TCustomFtpCli::PassAsync()
{
    if (FPassWord.size() < 1) throw FtpException("Password emtpy");
    StartCommand(ftpPassAsync, stPass, "PASS " + FPassWord, {230});
}

void TCustomFtpCli::CwdAsync()
{
    if (FHostDirName.size() < 1) throw FtpException("HostDirName emtpy");
    StartCommand(ftpCwdAsync, stCwd, "CWD " + FHostDirName, {250, 257});
}

void TCustomFtpCli::SizeAsync()
{
    CheckReady();
    if (!FSessionOpen) throw FtpException("FTP component not connected");
    FSizeResult = 0;
    StartCommand(ftpSizeAsync, stSize, "SIZE " + FHostFileName, {213});
}

void TCustomFtpCli::MkdAsync()
{
    StartCommand(ftpMkdAsync, stMkd, "MKD " + FHostFileName, {257});
}

void TCustomFtpCli::RmdAsync()
{
    StartCommand(ftpRmdAsync, stRmd, "RMD " + FHostFileName, {250, 257});
}

void TCustomFtpCli::DeleAsync()
{
    StartCommand(ftpDeleAsync, stDele, "DELE " + FHostFileName, {250, 257});
}

void TCustomFtpCli::RenFromAsync()
{
    StartCommand(ftpRenFromAsync, stRenFrom, "RNFR " + FHostFileName, {350});
}

void TCustomFtpCli::RenToAsync()
{
    StartCommand(ftpRenToAsync, stRenTo, "RNTO " + FLocalFileName, {250, 257});
}

void TCustomFtpCli::PwdAsync()
{
    StartCommand(ftpPwdAsync, stPwd, "PWD", {250, 257});
}

void TCustomFtpCli::CDupAsync()
{
    StartCommand(ftpCDupAsync, stCDup, "CDUP", {250});
}

void TCustomFtpCli::SystAsync()
{
    StartCommand(ftpSystAsync, stSyst, "SYST", {215});
}

void TCustomFtpCli::TypeSetAsync()
{
    StartCommand(ftpTypeSetAsync, stTypeSet, std::string("TYPE ") + FTransferType, {200});
}

void TCustomFtpCli::TypeBinaryAsync()
{
    SetBinary(true);
    TypeSetAsync();
}

void TCustomFtpCli::TypeAsciiAsync()
{
    SetBinary(false);
    TypeSetAsync();
}

void TCustomFtpCli::QuoteAsync()
{
    StartCommand(ftpQuoteAsync, stQuote, FLocalFileName, {});
}

void TCustomFtpCli::QuitAsync()
{
    StartCommand(ftpQuitAsync, stQuit, "QUIT", {221}, &TCustomFtpCli::CloseControlAction);
}

void TCustomFtpCli::CloseControlAction()
{
    FControlSocket->Close();
}

// ---- Judging replies ------------------------------------------------------------------------

void TCustomFtpCli::HandleReply()
{
    ShowLastReply();
    std::string_view rest;
    FStatusCode = static_cast<std::int32_t>(ReadInteger(FLastResponse, &rest));
    if (HasHyphen(rest)) return;  // a continuation line; the handler stays in place
    if (FOkResponses[0] == 0) {
        if (FStatusCode < 500) {
            FRequestResult = 0;
        } else {
            FRequestResult = FStatusCode;
            KeepErrorMessage();
        }
    } else {
        // The 0 that ends the list is never taken for an accepted code.
        const auto end = std::find(FOkResponses.begin(), FOkResponses.end(), 0);
        if (std::find(FOkResponses.begin(), end, FStatusCode) != end) {
            FRequestResult = 0;
        } else {
            FRequestResult = FStatusCode;
            KeepErrorMessage();
        }
    }
    InterpretReply();
    if (FDoneAction)
        (this->*FDoneAction)();
    else
        TriggerRequestDone(FRequestResult);
}

void TCustomFtpCli::InterpretReply()
{
    if (FRequestResult != 0) return;
    std::string_view rest;
    switch (FLastStep) {
    case stSize:
        ReadInteger(FLastResponse, &rest);
        FSizeResult = ReadInteger(rest);
        break;
    case stCwd:
    case stMkd:
    case stPwd:
    case stCDup:
        ReadInteger(FLastResponse, &rest);
        FDirResult = ReadQuotedString(rest);
        break;
    default:
        break;
    }
}

// ---- Completing a request -------------------------------------------------------------------

void TCustomFtpCli::TriggerRequestDone(std::int32_t Error)
{
    if (FRequestDoneFlag) {
        // A path that ends after the one that completed the request (the data connection closing
        // after the control connection did) leaves the request's result as it was reported.
        FRequestResult = FCompletedResult;
        return;
    }
    FRequestDoneFlag = true;
    // The result is reported in 16 bits: one that does not fit fails the request with a code
    // that does, and RequestResult says the same, so nobody reads a failure as success.
    if (Error < 0 || Error > 65535) Error = kUnreportableResult;
    FRequestResult = Error;
    FCompletedResult = Error;
    if (FNextRequest) {
        if (FState != fsAborting) SetFtpState(fsInternalReady);
        (this->*FNextRequest)();
        return;
    }
    SetFtpState(fsReady);
    CloseDataSocket();
    ReleaseLocalStream();
    if (FHighLevelFlag && FStatusCodeSave >= 0) {
        FLastResponse = FLastResponseSave;
        FStatusCode = FStatusCodeSave;
    }
    FHighLevelFlag = false;
    PostRequestDone(static_cast<std::uint16_t>(Error));
}

// ---- Opening the control connection ---------------------------------------------------------

void TCustomFtpCli::OpenAsync()
{
    CheckReady();
    if (FSessionOpen) throw FtpException("FTP component already connected");
    std::string messageBefore;
    if (!FHighLevelFlag) {
        FRequestType = ftpOpenAsync;
        messageBefore = std::exchange(FErrorMessage, std::string());
    }
    FRequestDoneFlag = false;
    FReceiveLen = 0;
    FReplyCode = 0;
    FReplyAwaited = false;
    FRequestResult = 0;
    FDoneAction = nullptr;
    // A new session: plain until AUTH TLS, nothing protected, no certificate yet.
    FControlSocket->SetTls(false);
    FDataProtected = false;
    FPeerCertificate = TTlsCertificateInfo{};
    const TFtpState stateBefore = FState;
    SetFtpState(fsLookingUp);
    try {
        FControlSocket->DnsLookup(FHostName);
    } catch (const ESocketException& e) {
        // The socket refused the name before any lookup started ("DNS lookup: invalid host
        // name."): the request has not started.
        FRequestDoneFlag = true;
        if (!FHighLevelFlag) FErrorMessage = std::move(messageBefore);
        SetFtpState(stateBefore);
        throw FtpException(e.what());
    }
}

void TCustomFtpCli::OpenFailed(std::uint16_t Error)
{
    FLastResponse = SocketFailureText(Error);
    FStatusCode = 500;
    KeepErrorMessage();
    FNextRequest = nullptr;  // a chain stops here
    FStepSet = 0;
    FRequestResult = Error;
    TriggerRequestDone(Error);
}

void TCustomFtpCli::ControlDnsLookupDone(std::uint16_t Error)
{
    if (FState == fsAborting) {
        // AbortAsync cancelled the lookup: the request ends as aborted.
        if (!FRequestDoneFlag) {
            FRequestResult = 426;
            if (FErrorMessage.empty()) FErrorMessage = "426 Operation aborted.";
            TriggerRequestDone(426);
        }
        return;
    }
    if (FState != fsLookingUp) return;
    if (Error != 0) {
        OpenFailed(Error);
        return;
    }
    TWSocket& c = *FControlSocket;
    net::WSASetLastError(0);
    try {
        c.SetAddr(c.DnsResult());
        c.SetProto("tcp");
        c.SetPort(FPort);
        SetFtpState(fsWaitingBanner);
        c.Connect();
    } catch (const ESocketException&) {
        // For example a service name that does not exist: the request ends with the socket
        // error, and a half-opened socket is closed after that.
        int code = net::WSAGetLastError();
        if (code == 0) code = WSAEINVAL;
        OpenFailed(static_cast<std::uint16_t>(code));
        if (c.State() != wsClosed) c.Close();
    }
}

void TCustomFtpCli::ControlSessionConnected(std::uint16_t Error)
{
    if (Error != 0) {
        OpenFailed(Error);
        if (FControlSocket->State() != wsClosed) FControlSocket->Close();
        SetFtpState(fsReady);
        return;
    }
    FSessionOpen = true;
}

// ---- Reading replies ------------------------------------------------------------------------

void TCustomFtpCli::ControlDataAvailable(std::uint16_t Error)
{
    TWSocket& c = *FControlSocket;
    if (FReceiveLen >= kReceiveBufferSize) {
        CloseControlBecause("Reply line too long");
        return;
    }
    const int n = c.Receive(FReceiveBuffer.data() + FReceiveLen, kReceiveBufferSize - FReceiveLen);
    if (n == 0) {
        c.Close();  // the server has closed
        return;
    }
    if (n < 0) return;
    FReceiveLen += n;
    FReceiveBuffer[static_cast<std::size_t>(FReceiveLen)] = '\0';
    ControlBytesReceived(n);

    while (FReceiveLen > 0) {
        // A zero byte ends the text that is searched for a line end.
        const char* buf = FReceiveBuffer.data();
        const std::size_t textLen = ::strnlen(buf, static_cast<std::size_t>(FReceiveLen));
        const char* eol = nullptr;
        for (std::size_t i = 0; i + 1 < textLen; ++i) {
            if (buf[i] == '\r' && buf[i + 1] == '\n') {
                eol = buf + i;
                break;
            }
        }
        if (!eol) break;
        const auto lineLen = static_cast<int>(eol - buf);
        FLastResponse.assign(buf, static_cast<std::size_t>(lineLen));
        FReceiveLen -= lineLen + 2;
        std::memmove(FReceiveBuffer.data(), buf + lineLen + 2,
                     static_cast<std::size_t>(FReceiveLen));
        FReceiveBuffer[static_cast<std::size_t>(FReceiveLen)] = '\0';
        Fire(OnResponse, this);
        if (!ProcessReplyLine(Error)) return;
    }
    // A full buffer without a line end can never complete a line.
    if (FReceiveLen >= kReceiveBufferSize) CloseControlBecause("Reply line too long");
}

bool TCustomFtpCli::ProcessReplyLine(std::uint16_t Error)
{
    // Only the line that completes a reply goes on to the judges below; the lines before it are
    // shown here and belong to the reply.
    if (FReplyCode != 0) {
        const bool last = ReplyCode(FLastResponse) == FReplyCode && FLastResponse[3] == ' ';
        if (!last) {
            ShowLastReply();
            return true;
        }
        FReplyCode = 0;
        if (!FReplyAwaited) {
            // The end of a reply that began while nothing waited for one.
            ShowLastReply();
            return true;
        }
    } else {
        const int code = ReplyCode(FLastResponse);
        if (code < 0) {
            ShowLastReply();
            ProtocolError();
            return false;
        }
        if (FLastResponse[3] == '-') {
            FReplyCode = code;
            FReplyAwaited = FState == fsWaitingBanner || FState == fsWaitingReply;
            FStatusCode = code;
            ShowLastReply();
            return true;
        }
    }
    switch (FState) {
    case fsWaitingBanner: {
        ShowLastReply();
        std::string_view rest;
        FStatusCode = static_cast<std::int32_t>(ReadInteger(FLastResponse, &rest));
        if (HasHyphen(rest)) return true;
        if (FStatusCode != 220) {
            KeepErrorMessage();
            FRequestResult = FStatusCode;
            FControlSocket->Close();
            return false;
        }
        SetFtpState(fsConnected);
        Fire(OnSessionConnected, this, Error);
        if (FTlsMode == ftpTlsExplicit && FSessionOpen) {
            // The Open step goes on with AUTH TLS and ends when the connection is secured.
            StartAuthTls();
            return true;
        }
        TriggerRequestDone(0);
        return true;
    }
    case fsWaitingReply:
        if (!FNextHandler) throw FtpException("Program error: FNext is nil");
        if (FFinalReplySeen && (FNextHandler == &TCustomFtpCli::DownloadSecondReply ||
                                FNextHandler == &TCustomFtpCli::UploadSecondReply)) {
            // A transfer whose final reply has come waits only for its data connection: a reply
            // after that answers no command, and must not cut the data short.
            ShowLastReply();
            return true;
        }
        (this->*FNextHandler)();
        return true;
    default:
        ShowLastReply();
        return true;
    }
}

void TCustomFtpCli::ProtocolError()
{
    std::string excerpt = FLastResponse.substr(0, kReplyExcerpt);
    if (FLastResponse.size() > kReplyExcerpt) excerpt += "...";
    CloseControlBecause("Protocol error: a reply line must begin with a three-digit code, not \"" +
                        excerpt + "\"");
}

void TCustomFtpCli::CloseControlBecause(const std::string& Why)
{
    if (!FRequestDoneFlag && FRequestResult == 0) {
        FRequestResult = 426;
        if (FErrorMessage.empty()) FErrorMessage = "426 " + Why;
    }
    TriggerDisplay("! " + Why);
    if (FControlSocket->State() != wsClosed) FControlSocket->Close();
}

// ---- The control connection closes ----------------------------------------------------------

void TCustomFtpCli::ControlSessionClosed(std::uint16_t Error)
{
    if (FSessionOpen) {
        FSessionOpen = false;
        if (FState != fsAborting) SetFtpState(fsNotConnected);
        Fire(OnSessionClosed, this, Error);
    }
    if (FRequestDoneFlag) {
        // Nothing in flight (the server closed an idle session): back to ready.
        if (FState != fsAborting) SetFtpState(fsReady);
        return;
    }
    if (FState != fsAborting) SetFtpState(fsInternalReady);
    // A request other than QUIT that loses its connection before its reply has failed.
    if (FRequestResult == 0 && !FDoneAction) {
        FRequestResult = 426;
        if (FErrorMessage.empty())
            FErrorMessage = FAbortClosing ? "426 Operation aborted." : "426 Connection closed";
    }
    TriggerRequestDone(FRequestResult);
}

// ---- Abort ----------------------------------------------------------------------------------

void TCustomFtpCli::AbortAsync()
{
    const bool lookingUp = FState == fsLookingUp;
    SetFtpState(fsAborting);
    FAbortClosing = true;
    try {
        if (lookingUp) FControlSocket->CancelDnsLookup();
        if (FControlSocket->State() != wsClosed) FControlSocket->Close();
    } catch (...) {
        // Abort never raises; the handle is gone whatever the socket reported.
    }
    FAbortClosing = false;
    try {
        CloseDataSocket();
    } catch (...) {
    }
    ReleaseLocalStream();
    FSessionOpen = false;
    SetFtpState(fsReady);
}

// ---- Chains ---------------------------------------------------------------------------------

void TCustomFtpCli::CheckChainTexts(TFtpStepSet Set) const
{
    const auto has = [Set](TFtpStep s) { return (Set & FtpStepBit(s)) != 0; };
    if (has(stUser)) CheckCommandLine(FUserName);
    if (has(stPass)) CheckCommandLine(FPassWord);
    if (has(stCwd)) CheckCommandLine(FHostDirName);
    for (TFtpStep s :
         {stSize, stMkd, stRmd, stRenFrom, stGet, stDir, stLs, stPut, stAppend, stDele})
        if (has(s)) CheckCommandLine(FHostFileName);
    if (has(stRenTo) || has(stQuote)) CheckCommandLine(FLocalFileName);
}

void TCustomFtpCli::StartChain(TFtpRequest Request, TFtpStepSet Set)
{
    if (FSessionOpen && (Set & FtpStepBit(stOpen)))
        throw FtpException("FTP component already connected");
    CheckReady();
    CheckChainTexts(Set);
    FLastResponseSave = FLastResponse;
    FStatusCodeSave = -1;
    FRequestType = Request;
    FRequestResult = 0;
    FStepSet = Set;
    FLastStep = stNone;
    FHighLevelResult = 0;
    FHighLevelFlag = true;
    FLastResponse.clear();
    FErrorMessage.clear();
    FChainStarting = true;
    try {
        NextStep();
    } catch (...) {
        // The first step could not start: the caller gets the exception and no request runs.
        FChainStarting = false;
        FStepSet = 0;
        FNextRequest = nullptr;
        FHighLevelFlag = false;
        FRequestDoneFlag = true;
        SetFtpState(fsReady);
        throw;
    }
    FChainStarting = false;
}

void TCustomFtpCli::NextStep()
{
    if (FState == fsAborting) {
        FStepSet = 0;
        FHighLevelResult = 426;
        FErrorMessage = "426 Operation aborted.";
    }
    FNextRequest = &TCustomFtpCli::NextStep;
    if (FRequestResult != 0) {
        FHighLevelResult = FRequestResult;
        if (FLastStep != stQuit && (FStepSet & FtpStepBit(stQuit)))
            FStepSet = FtpStepBit(stQuit);
        else
            FStepSet = 0;
    }
    InterpretReply();

    static constexpr TFtpStep kRuleOrder[] = {
        stOpen,    stUser,  stPass,   stCwd,  stCDup, stTypeSet, stPort, stRest,
        stGet,     stPut,   stAppend, stDir,  stLs,   stSyst,    stMkd,  stRmd,
        stRenFrom, stRenTo, stSize,   stDele, stPwd,  stQuote,   stQuit,
    };
    for (TFtpStep step : kRuleOrder) {
        if (!(FStepSet & FtpStepBit(step))) continue;
        FStepSet &= ~FtpStepBit(step);
        // Rules that drop their step and try the next one.
        if (step == stPass && FLastStep == stUser && FStatusCode != 331) continue;
        if (step == stCwd && FHostDirName.empty()) continue;
        // A QUIT after the server has closed the session has nothing left to close.
        if (step == stQuit && !FSessionOpen) continue;
        if (step == stGet && !(FLastStep == stRest && FResumePos >= 0 && FStatusCode == 350))
            FResumePos = 0;
        if (step == stQuit) {
            FLastResponseSave = FLastResponse;
            FStatusCodeSave = FStatusCode;
        }
        FLastStep = step;
        RunStep(step);
        return;
    }
    FStepSet = 0;
    FNextRequest = nullptr;
    FRequestDoneFlag = false;
    FRequestResult = FHighLevelResult;
    TriggerRequestDone(FHighLevelResult);
}

void TCustomFtpCli::StartStep(TFtpStep Step)
{
    switch (Step) {
    case stOpen:
        OpenAsync();
        break;
    case stUser:
        UserAsync();
        break;
    case stPass:
        PassAsync();
        break;
    case stCwd:
        CwdAsync();
        break;
    case stCDup:
        CDupAsync();
        break;
    case stTypeSet:
        TypeSetAsync();
        break;
    case stPort:
        PortAsync();
        break;
    case stRest:
        RestAsync();
        break;
    case stGet:
        StartRetr();
        break;
    case stPut:
        StartStor();
        break;
    case stAppend:
        StartAppe();
        break;
    case stDir:
        StartList();
        break;
    case stLs:
        StartNlst();
        break;
    case stSyst:
        SystAsync();
        break;
    case stMkd:
        MkdAsync();
        break;
    case stRmd:
        RmdAsync();
        break;
    case stRenFrom:
        RenFromAsync();
        break;
    case stRenTo:
        RenToAsync();
        break;
    case stSize:
        SizeAsync();
        break;
    case stDele:
        DeleAsync();
        break;
    case stPwd:
        PwdAsync();
        break;
    case stQuote:
        QuoteAsync();
        break;
    case stQuit:
        QuitAsync();
        break;
    default:
        break;
    }
}

void TCustomFtpCli::RunStep(TFtpStep Step)
{
    if (FChainStarting) {
        StartStep(Step);  // the caller's own call: exceptions go back to the caller
        return;
    }
    try {
        StartStep(Step);
    } catch (const std::exception& e) {
        EndChainAfterFailedStart(FirstLine(e.what()));
    } catch (...) {
        EndChainAfterFailedStart("Unknown error");
    }
}

void TCustomFtpCli::EndChainAfterFailedStart(const std::string& Why)
{
    // Raised while the event loop runs the chain: nobody could catch it, so the chain ends here
    // with an error instead of staying half-way for ever.
    TriggerDisplay("! " + Why);
    if (FErrorMessage.empty()) FErrorMessage = "426 " + Why;
    if (FHighLevelResult == 0) FHighLevelResult = 426;
    FStepSet = 0;
    FNextRequest = nullptr;
    FRequestDoneFlag = false;
    FRequestResult = FHighLevelResult;
    if (FState != fsAborting) SetFtpState(fsInternalReady);
    TriggerRequestDone(FHighLevelResult);
}

// ---- Chained operations ---------------------------------------------------------------------

void TCustomFtpCli::ConnectAsync()
{
    StartChain(ftpConnectAsync, Steps({stOpen, stUser, stPass}));
}

void TCustomFtpCli::GetAsync()
{
    StartChain(ftpGetAsync, Steps({stPort, stGet}));
}

void TCustomFtpCli::RestGetAsync()
{
    StartChain(ftpRestGetAsync, Steps({stPort, stRest, stGet}));
}

void TCustomFtpCli::ReceiveAsync()
{
    StartChain(ftpReceiveAsync,
               Steps({stOpen, stUser, stPass, stCwd, stTypeSet, stPort, stGet, stQuit}));
}

void TCustomFtpCli::RestartGetAsync()
{
    StartChain(ftpRestartGetAsync,
               Steps({stOpen, stUser, stPass, stCwd, stTypeSet, stPort, stRest, stGet, stQuit}));
}

void TCustomFtpCli::PutAsync()
{
    StartChain(ftpPutAsync, Steps({stPort, stPut}));
}

void TCustomFtpCli::AppendAsync()
{
    StartChain(ftpAppendAsync, Steps({stPort, stAppend}));
}

void TCustomFtpCli::TransmitAsync()
{
    StartChain(ftpTransmitAsync,
               Steps({stOpen, stUser, stPass, stCwd, stTypeSet, stPort, stPut, stQuit}));
}

void TCustomFtpCli::TransmitAppendAsync()
{
    StartChain(ftpTransmitAsync,
               Steps({stOpen, stUser, stPass, stCwd, stTypeSet, stPort, stAppend, stQuit}));
}

void TCustomFtpCli::DirAsync()
{
    StartChain(ftpDirAsync, Steps({stPort, stDir}));
}

void TCustomFtpCli::LsAsync()
{
    StartChain(ftpLsAsync, Steps({stPort, stLs}));
}

void TCustomFtpCli::DirectoryAsync()
{
    StartChain(ftpDirectoryAsync, Steps({stOpen, stUser, stPass, stCwd, stPort, stDir, stQuit}));
}

void TCustomFtpCli::ListAsync()
{
    StartChain(ftpListAsync, Steps({stOpen, stUser, stPass, stCwd, stPort, stLs, stQuit}));
}

void TCustomFtpCli::SystemAsync()
{
    StartChain(ftpSystemAsync, Steps({stOpen, stUser, stPass, stSyst, stQuit}));
}

void TCustomFtpCli::FileSizeAsync()
{
    StartChain(ftpSizeAsync, Steps({stOpen, stUser, stPass, stCwd, stSize, stQuit}));
}

void TCustomFtpCli::MkdirAsync()
{
    StartChain(ftpMkdirAsync, Steps({stOpen, stUser, stPass, stCwd, stMkd, stQuit}));
}

void TCustomFtpCli::RmdirAsync()
{
    StartChain(ftpRmdirAsync, Steps({stOpen, stUser, stPass, stCwd, stRmd, stQuit}));
}

void TCustomFtpCli::DeleteAsync()
{
    StartChain(ftpDeleteAsync, Steps({stOpen, stUser, stPass, stCwd, stDele, stQuit}));
}

void TCustomFtpCli::RenAsync()
{
    StartChain(ftpRenAsync, Steps({stRenFrom, stRenTo}));
}

void TCustomFtpCli::RenameAsync()
{
    StartChain(ftpRenameAsync, Steps({stOpen, stUser, stPass, stCwd, stRenFrom, stRenTo, stQuit}));
}

void TCustomFtpCli::DoQuoteAsync()
{
    StartChain(ftpDoQuoteAsync, Steps({stOpen, stUser, stPass, stCwd, stQuote, stQuit}));
}
