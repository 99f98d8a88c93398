// The FTP engine's data connection: PORT and the listening data socket, REST, downloads (RETR,
// LIST, NLST) into a local file, uploads (STOR, APPE) from one, progress, the end-of-transfer
// rule (final reply and close of the data connection, in either order) and the statistics.
// Passive mode's EPSV and PASV and its connecting are in FtpPassive.cpp.
#include "ftp/FtpEngine.h"

#include "platform/Ticks.h"

#include <QFileInfo>

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>

namespace {

std::string Dotted(in_addr a)
{
    char buf[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, buf, sizeof buf);
    return buf;
}

QString LocalName(const std::string& name)
{
    return QFile::decodeName(QByteArray(name.data(), static_cast<qsizetype>(name.size())));
}

}  // namespace

// ---- Statistics and progress ----------------------------------------------------------------

std::string TCustomFtpCli::TransferStatsText(std::int64_t Bytes, std::uint32_t ElapsedMs)
{
    std::string text = std::to_string(Bytes) + " bytes received/sent in " +
                       std::to_string(ElapsedMs / 1000) + " seconds";
    if (ElapsedMs != 0) {
        const std::int64_t elapsed = ElapsedMs;
        // The second form avoids overflow for large counts and loses precision.
        const std::int64_t rate =
            Bytes <= 32767 ? Bytes * 1000 / elapsed : (Bytes / elapsed) * 1000;
        text += " (" + std::to_string(rate) + " Bytes/sec)";
    }
    return text;
}

void TCustomFtpCli::ShowTransferStats()
{
    FStopTime = platform::GetTickCount();
    TriggerDisplay("! " + TransferStatsText(FByteCount, FStopTime - FStartTime));
}

bool TCustomFtpCli::Progress()
{
    // The first block of a transfer is reported at once, later ones at most every
    // kProgressIntervalMs: a transfer of thousands of blocks a second does not flood the owner.
    if (FProgressReported && platform::GetTickCount() - FProgressTick < kProgressIntervalMs)
        return true;
    return FireProgress();
}

bool TCustomFtpCli::FireProgress()
{
    FProgressReported = true;
    FProgressTick = platform::GetTickCount();
    FProgressCount = FByteCount + FResumePos;
    bool abort = false;
    Fire(OnProgress, this, FProgressCount, abort);
    if (!abort) return true;
    TriggerDisplay("! Abort requested");
    CutTransferShort("Abort requested");
    if (FDataSocket->State() != wsClosed) FDataSocket->Close();
    return false;
}

bool TCustomFtpCli::ReportFinalProgress()
{
    if (FProgressReported && FProgressCount == FByteCount + FResumePos) return true;
    return FireProgress();
}

bool TCustomFtpCli::TriggerReadyToTransmit()
{
    bool cancel = false;
    Fire(OnReadyToTransmit, this, cancel);
    return cancel;
}

void TCustomFtpCli::CutTransferShort(const std::string& Notice)
{
    FTransferFailCode = 426;
    if (FErrorMessage.empty()) FErrorMessage = "426 " + Notice;
}

std::uint16_t TCustomFtpCli::TransferResult() const
{
    return FDataError != 0 ? FDataError : FTransferFailCode;
}

// ---- The data socket ------------------------------------------------------------------------

void TCustomFtpCli::CloseDataSocket()
{
    if (FHeldDataHandle != INVALID_SOCKET) {
        ::close(FHeldDataHandle);
        FHeldDataHandle = INVALID_SOCKET;
    }
    if (FDataSocket->State() != wsClosed) FDataSocket->Close();
}

bool TCustomFtpCli::ReleaseLocalStream()
{
    if (!FLocalStream) return true;
    bool ok = true;
    if (FLocalStream->openMode() & QIODevice::WriteOnly) ok = FLocalStream->flush();
    FLocalStream->close();
    FLocalStream.reset();
    return ok;
}

void TCustomFtpCli::PortAsync()
{
    CheckReady();
    if (!FSessionOpen) throw FtpException("FTP component not connected");
    CheckCommandLine(FPassive ? "EPSV" : "PORT");
    CloseDataSocket();
    ++FTransferSerial;
    FDataUse = TDataUse::None;
    FTransferFailCode = 0;
    FTimedOutAwaitingData = false;
    FPassiveLost = false;
    PrepareDataTls();
    if (FControlSocket->TlsActive() && !FDataProtected) {
        // The session's first data connection: PBSZ 0 and PROT P first, then PORT or EPSV.
        FDataBound = TDataUse::None;
        StartCommand(ftpPortAsync, stPort, "PBSZ 0", {200});
        FNextHandler = &TCustomFtpCli::PbszReply;
        return;
    }
    SendDataPortCommand(true);
}

void TCustomFtpCli::SendDataPortCommand(bool First)
{
    if (!First) PrepareDataTls();
    if (FPassive) {
        StartPassive(First);
        return;
    }

    TTlsWSocket& d = *FDataSocket;
    FDataBound = TDataUse::None;
    std::string cmd;
    try {
        // The listening socket is plain; the accepted connection gets TLS when it is taken over.
        d.SetTls(false);
        cmd = ActivePortCommand();
    } catch (const std::exception& e) {
        if (First) throw;
        PassiveFailed(425, "Data: " + FirstLine(e.what()));
        return;
    }
    if (!First) {
        // A further command of the step that PBSZ began: same reply judge as a PORT of its own.
        FOkResponses[0] = 200;
        FOkResponses[1] = 227;
        FOkResponses[2] = 0;
        FNextHandler = &TCustomFtpCli::HandleReply;
        FDoneAction = nullptr;
        try {
            SendCommand(cmd);
        } catch (const FtpException& e) {
            PassiveFailed(425, FirstLine(e.what()));
        }
        return;
    }
    try {
        StartCommand(ftpPortAsync, stPort, cmd, {200, 227});
    } catch (...) {
        CloseDataSocket();
        throw;
    }
}

std::string TCustomFtpCli::ActivePortCommand()
{
    TTlsWSocket& d = *FDataSocket;
    d.SetProto("tcp");
    d.SetAddr("0.0.0.0");
    d.SetPort("0");
    d.SetLingerOnOff(wsLingerOff);
    d.SetLingerTimeout(0);
    d.Listen();
    FDataBound = TDataUse::Listening;

    TSockAddrIn local{};
    int len = sizeof local;
    d.LocalSocketAddress(local, len);
    const unsigned port = ntohs(local.sin_port);

    char cmd[64];
    if (FControlSocket->AddrRecord().sin_addr.s_addr == htonl(INADDR_LOOPBACK)) {
        std::snprintf(cmd, sizeof cmd, "PORT 127,0,0,1,%u,%u", port >> 8, port & 0xFF);
    } else {
        TSockAddrIn control{};
        int clen = sizeof control;
        FControlSocket->LocalSocketAddress(control, clen);
        const auto* b = reinterpret_cast<const unsigned char*>(&control.sin_addr.s_addr);
        std::snprintf(cmd, sizeof cmd, "PORT %u,%u,%u,%u,%u,%u", b[0], b[1], b[2], b[3], port >> 8,
                      port & 0xFF);
    }
    return cmd;
}

void TCustomFtpCli::RestAsync()
{
    CheckReady();
    FLastStep = stRest;
    const QFileInfo info(LocalName(FLocalFileName));
    FResumePos = (!FLocalFileName.empty() && info.exists() && info.isFile()) ? info.size() : -1;
    if (FResumePos <= 0) {
        // Nothing to resume: no command, the step completes at once.
        if (!FHighLevelFlag) {
            FRequestType = ftpRestAsync;
            FErrorMessage.clear();
        }
        FRequestDoneFlag = false;
        FNextHandler = &TCustomFtpCli::HandleReply;
        FDoneAction = nullptr;
        FRequestResult = 0;
        TriggerRequestDone(0);
        return;
    }
    StartCommand(ftpRestAsync, stRest, "REST " + std::to_string(FResumePos), {});
}

// ---- Accepting the data connection ----------------------------------------------------------

void TCustomFtpCli::BindDataSocketEvents()
{
    // Bound once; what each event does follows FDataBound, so no handler is ever replaced while
    // it runs.
    TTlsWSocket& d = *FDataSocket;
    d.OnSessionAvailable = [this](QObject*, std::uint16_t) {
        Guarded([this] {
            if (FDataBound == TDataUse::Listening) DataSessionAvailable();
        });
    };
    d.OnSessionConnected = [this](QObject*, std::uint16_t e) {
        Guarded([&] {
            if (FDataBound == TDataUse::Connecting) DataSessionConnected(e);
        });
    };
    d.OnSessionClosed = [this](QObject*, std::uint16_t e) {
        Guarded([&] {
            if (FDataBound == TDataUse::Download)
                DownloadSessionClosed(e);
            else if (FDataBound == TDataUse::Upload)
                UploadSessionClosed(e);
            else if (FDataBound == TDataUse::Ready)
                FPassiveLost = true;
        });
    };
    d.OnDataAvailable = [this](QObject*, std::uint16_t) {
        Guarded([this] {
            if (FDataBound == TDataUse::Download) {
                DownloadDataAvailable();
                return;
            }
            // Uploads (and a connection between transfers) drop what the server sends.
            FDataSocket->Receive(FDataBlock.get(), kDataBlockSize);
        });
    };
    d.OnDataSent = [this](QObject*, std::uint16_t) {
        Guarded([this] {
            if (FDataBound == TDataUse::Upload) SendNextBlock();
        });
    };
    d.OnTlsHandshakeDone = [this](QObject*, std::uint16_t e) {
        Guarded([&] { DataTlsHandshakeDone(e); });
    };
}

void TCustomFtpCli::DataSessionAvailable()
{
    const TSocket h = AcceptDataConnection();
    if (h == INVALID_SOCKET) return;
    if (FDataUse == TDataUse::None || FRequestDoneFlag) {
        // The server connected before the transfer started (right after PORT): keep the
        // connection for the transfer to take over.
        if (FHeldDataHandle != INVALID_SOCKET) ::close(FHeldDataHandle);
        FHeldDataHandle = h;
        return;
    }
    TakeOverDataConnection(h);
}

TSocket TCustomFtpCli::AcceptDataConnection()
{
    TWSocket& d = *FDataSocket;
    TSocket h = INVALID_SOCKET;
    try {
        h = d.Accept();
    } catch (const ESocketException& e) {
        // The listening socket is given up; the server then reports that it could not open the
        // data connection (425/426), which ends the transfer.
        TriggerDisplay("! Data: " + FirstLine(e.what()));
        if (d.State() != wsClosed) d.Close();
        return INVALID_SOCKET;
    }
    if (h == INVALID_SOCKET) return INVALID_SOCKET;
    // Only the server may connect: a connection from any other address is closed at once and the
    // listening socket keeps waiting.
    const in_addr from = d.AddrRecord().sin_addr;
    TSockAddrIn server{};
    int len = sizeof server;
    const bool known = FControlSocket->GetPeerName(server, len) == 0;
    if (!known || server.sin_addr.s_addr != from.s_addr) {
        ::close(h);
        TriggerDisplay("! Data connection from " + Dotted(from) + " refused");
        return INVALID_SOCKET;
    }
    FDataBound = TDataUse::None;
    d.Close();  // the listening socket
    return h;
}

void TCustomFtpCli::TakeOverDataConnection(TSocket Handle)
{
    TTlsWSocket& d = *FDataSocket;
    FDataBound = TDataUse::None;
    if (d.State() != wsClosed) d.Close();
    FDataBound = FDataUse;
    // Close resets the socket to linger on with 0 s, which would end the connection with a reset
    // and could lose an upload's last bytes: the data connection closes in order.
    d.SetLingerOnOff(wsLingerOff);
    d.SetLingerTimeout(0);
    // Under PROT P this side is the TLS client of the connection the server opened.
    d.SetTls(FDataProtected && FControlSocket->TlsActive());
    try {
        d.Dup(Handle);
    } catch (const ESocketException& e) {
        TriggerDisplay("! Data: " + FirstLine(e.what()));
        int code = net::WSAGetLastError();
        if (code == 0) code = WSAEINVAL;
        if (FDataUse == TDataUse::Download)
            DownloadSessionClosed(static_cast<std::uint16_t>(code));
        else
            UploadSessionClosed(static_cast<std::uint16_t>(code));
        return;
    }
    FStartTime = platform::GetTickCount();
    if (FDataUse == TDataUse::Upload) SendNextBlock();
}

bool TCustomFtpCli::AwaitingDataConnection() const
{
    return !FPassive && FDataBound == TDataUse::Listening && FDataUse != TDataUse::None &&
           !FRequestDoneFlag;
}

void TCustomFtpCli::TakeOverHeldConnection()
{
    if (FHeldDataHandle == INVALID_SOCKET || FRequestDoneFlag) return;
    const TSocket h = FHeldDataHandle;
    FHeldDataHandle = INVALID_SOCKET;
    TakeOverDataConnection(h);
}

// ---- Downloads ------------------------------------------------------------------------------

void TCustomFtpCli::StartRetr()
{
    StartDownload(ftpGetAsync, "RETR");
}

void TCustomFtpCli::StartList()
{
    StartDownload(ftpDirAsync, "LIST");
}

void TCustomFtpCli::StartNlst()
{
    StartDownload(ftpLsAsync, "NLST");
}

void TCustomFtpCli::StartDownload(TFtpRequest Request, const char* Command)
{
    if (!FSessionOpen) throw FtpException(std::string(Command) + ": not connected");
    if (FLocalFileName.empty()) throw FtpException("LocalFileName empty");
    CheckReady();
    std::string cmd = Command;
    if (!FHostFileName.empty()) cmd += " " + FHostFileName;
    CheckCommandLine(cmd);  // before the local file is touched

    if (!FHighLevelFlag) {
        FRequestType = Request;
        FErrorMessage.clear();
    }
    FDataCommand = Command;
    FFinalReplySeen = false;
    FGetDataClosed = false;
    FRequestDoneFlag = false;
    FByteCount = 0;
    FDataError = 0;
    FTransferFailCode = 0;
    FDoneAction = nullptr;
    FProgressReported = false;
    FAnnouncedSize = -1;
    FDataUse = TDataUse::Download;

    ReleaseLocalStream();
    auto file = std::make_unique<QFile>(LocalName(FLocalFileName));
    bool opened;
    if (FResumePos > 0)
        opened =
            file->open(QIODevice::ReadWrite | QIODevice::ExistingOnly) && file->seek(FResumePos);
    else
        opened = file->open(QIODevice::WriteOnly | QIODevice::Truncate);
    if (!opened) {
        FLastResponse = "Unable to open local file " + FLocalFileName;
        FStatusCode = 550;
        KeepErrorMessage();
        CloseDataSocket();
        FRequestResult = 550;
        TriggerRequestDone(550);
        return;
    }
    FLocalStream = std::move(file);

    SetFtpState(fsWaitingReply);
    FNextHandler = &TCustomFtpCli::DownloadFirstReply;
    SendCommand(cmd);
    TakeOverHeldConnection();
    TakeOverPassiveConnection();
}

void TCustomFtpCli::DownloadDataAvailable()
{
    if (!Progress()) return;  // the data socket is being closed
    TWSocket& d = *FDataSocket;
    char* const buffer = FDataBlock.get();
    const int n = d.Receive(buffer, kDataBlockSize);
    if (n == 0) return;
    if (n < 0) {
        if (d.State() == wsConnected && d.LastError() != WSAEWOULDBLOCK) {
            const std::string notice = "Data: Receive error " + std::to_string(d.LastError());
            TriggerDisplay("! " + notice);
            CutTransferShort(notice);
            // Closed, not only shut down: the transfer ends through this close, whatever the
            // server does with its end.
            d.Close();
        }
        return;
    }
    FByteCount += n;
    if (FLocalStream && FLocalStream->write(buffer, n) != n) {
        TriggerDisplay("! Error writing local file");
        CutTransferShort("Error writing local file");
        ReleaseLocalStream();
        d.Close();
        return;
    }
    if (!FDisplayFlag) return;
    int start = 0;
    for (int i = 0; i <= n; ++i) {
        if (i == n || buffer[i] == '\r' || buffer[i] == '\n') {
            if (i > start)
                TriggerDisplay("! Data: " +
                               std::string(buffer + start, static_cast<std::size_t>(i - start)));
            start = i + 1;
        }
    }
}

// The first reply to RETR/LIST/NLST or STOR/APPE: 125 or 150 announces the transfer and the
// final reply goes to Next; anything else ends the request with that code, closing the data
// socket and the local file.
void TCustomFtpCli::TransferFirstReply(TReplyHandler Next)
{
    ShowLastReply();
    std::string_view rest;
    FStatusCode = static_cast<std::int32_t>(ReadInteger(FLastResponse, &rest));
    if (HasHyphen(rest)) return;
    if (FStatusCode == 125 || FStatusCode == 150) {
        FNextHandler = Next;
        return;
    }
    KeepErrorMessage();
    FNextHandler = nullptr;
    CloseDataSocket();
    ReleaseLocalStream();
    FResumePos = 0;
    FRequestResult = FStatusCode;
    TriggerRequestDone(static_cast<std::uint16_t>(FStatusCode));
}

void TCustomFtpCli::DownloadFirstReply()
{
    // "150 Opening BINARY mode data connection for name (1234 bytes)." names the size, which
    // ends a secured download that the server closes without close_notify.
    const std::size_t open = FLastResponse.rfind('(');
    const std::size_t bytes = FLastResponse.find(" bytes)", open == std::string::npos ? 0 : open);
    if (open != std::string::npos && bytes != std::string::npos && bytes > open + 1 &&
        bytes - open <= 19 &&
        FLastResponse.find_first_not_of("0123456789", open + 1) == bytes)
        FAnnouncedSize = ReadInteger(std::string_view(FLastResponse).substr(open + 1));
    TransferFirstReply(&TCustomFtpCli::DownloadSecondReply);
}

void TCustomFtpCli::DownloadSecondReply()
{
    ShowLastReply();
    std::string_view rest;
    FStatusCode = static_cast<std::int32_t>(ReadInteger(FLastResponse, &rest));
    if (HasHyphen(rest)) return;
    if (FStatusCode == 125 || FStatusCode == 226 || FStatusCode == 250) {
        FFinalReplySeen = true;
        DownloadEndTest();
        return;
    }
    const int code = FStatusCode;
    KeepErrorMessage();
    ReleaseLocalStream();
    CloseDataSocket();
    TriggerDisplay("! RETR/LIST/NLST Failed");
    FRequestResult = code;
    TriggerRequestDone(static_cast<std::uint16_t>(code));
}

void TCustomFtpCli::DownloadSessionClosed(std::uint16_t Error)
{
    Error = JudgeDataClose(Error, false);
    if (FTransferFailCode == 0) ReportFinalProgress();
    if (!ReleaseLocalStream()) {
        TriggerDisplay("! Error writing local file");
        CutTransferShort("Error writing local file");
    }
    FGetDataClosed = true;
    FDataError = Error;
    DownloadEndTest();
}

void TCustomFtpCli::DownloadEndTest()
{
    if (!FFinalReplySeen || !FGetDataClosed) return;
    ShowTransferStats();
    FResumePos = 0;
    FRequestResult = TransferResult();
    TriggerRequestDone(static_cast<std::uint16_t>(FRequestResult));
}

// ---- Uploads --------------------------------------------------------------------------------

void TCustomFtpCli::StartStor()
{
    StartUpload(false);
}

void TCustomFtpCli::StartAppe()
{
    StartUpload(true);
}

void TCustomFtpCli::StartUpload(bool Append)
{
    if (!FSessionOpen) throw FtpException("STOR/APPE: not connected");
    if (FLocalFileName.empty()) throw FtpException("LocalFileName empty");
    CheckReady();
    const std::string cmd = (Append ? "APPE " : "STOR ") + FHostFileName;
    CheckCommandLine(cmd);

    FAppendFlag = Append;
    FRequestType = Append ? ftpAppendAsync : ftpPutAsync;
    if (!FHighLevelFlag) FErrorMessage.clear();
    FFinalReplySeen = false;
    FPutDataClosed = false;
    FRequestDoneFlag = false;
    FByteCount = 0;
    FDataError = 0;
    FTransferFailCode = 0;
    FUploadEof = false;
    FDoneAction = nullptr;
    FProgressReported = false;

    if (TriggerReadyToTransmit()) {
        FErrorMessage = "426 Transmit cancelled by application";
        FStatusCode = 426;
        TriggerDisplay("! " + FErrorMessage);
        FRequestResult = 426;
        TriggerRequestDone(426);
        return;
    }
    FDataUse = TDataUse::Upload;

    ReleaseLocalStream();
    auto file = std::make_unique<QFile>(LocalName(FLocalFileName));
    bool opened = file->open(QIODevice::ReadOnly);
    if (opened && FResumePos > 0) opened = file->seek(FResumePos);
    if (!opened) {
        FErrorMessage = "426 Unable to open local file " + FLocalFileName;
        FStatusCode = 426;
        TriggerDisplay("! " + FErrorMessage);
        CloseDataSocket();
        FRequestResult = 426;
        TriggerRequestDone(426);
        return;
    }
    FLocalStream = std::move(file);
    FFileOffset = FResumePos > 0 ? FResumePos : 0;
    // A secured data connection encrypts the file's bytes: they go through Send.
    FUseSendFile = FLocalStream->handle() >= 0 && !(FDataProtected && FControlSocket->TlsActive());

    SetFtpState(fsWaitingReply);
    FNextHandler = &TCustomFtpCli::UploadFirstReply;
    SendCommand(cmd);
    // A connection that arrived (or was made) early is used only now that STOR or APPE has gone
    // out.
    TakeOverHeldConnection();
    TakeOverPassiveConnection();
}

void TCustomFtpCli::SendNextBlock()
{
    if (!FLocalStream || FUploadEof) return;
    if (!Progress() || !FLocalStream) return;
    TWSocket& d = *FDataSocket;
    if (d.State() != wsConnected) return;
    if (FUseSendFile && !SendFileBlock(d)) return;
    if (FUseSendFile || FUploadEof) return;

    // Files that cannot be sent straight from the file (and every file on a secured connection)
    // go block by block through the queue, kSendBlocksPerRound blocks per round of the event
    // loop. The end of the file is handled in a round that has queued nothing, so that the
    // sending direction is shut down only after every queued byte has gone out.
    for (int block = 0; block < kSendBlocksPerRound; ++block) {
        const qint64 n = FLocalStream->read(FDataBlock.get(), kDataBlockSize);
        if (n < 0) {
            TriggerDisplay("! Error reading file");
            CutTransferShort("Error reading file");
            if (d.State() != wsClosed) d.Close();
            return;
        }
        if (n == 0) {
            if (block == 0) UploadEndOfFile();
            return;
        }
        FByteCount += n;
        FFileOffset += n;
        try {
            d.Send(FDataBlock.get(), static_cast<int>(n));
        } catch (const ESocketException& e) {
            TriggerDisplay("! Data: " + FirstLine(e.what()));
            CutTransferShort("Data connection failed");
            if (d.State() != wsClosed) d.Close();
            return;
        }
        if (n < kDataBlockSize || d.State() != wsConnected) return;
    }
}

bool TCustomFtpCli::SendFileBlock(TWSocket& d)
{
    // One call hands over as much as the platform's send buffer takes; OnDataSent brings the
    // next call when it has room again.
    constexpr std::int64_t kSlice = std::int64_t{16} << 20;
    const std::int64_t n = d.SendFile(FLocalStream->handle(), FFileOffset, kSlice);
    if (n > 0) {
        FByteCount += n;
        return true;
    }
    if (n == 0) {
        UploadEndOfFile();
        return true;
    }
    const int code = d.LastError();
    if (code == WSAEWOULDBLOCK) return true;
    if (code == WSAEOPNOTSUPP) {
        // Not a file the platform sends from: read it instead, from where sending stopped.
        FUseSendFile = false;
        if (FLocalStream->seek(FFileOffset)) return true;
    }
    TriggerDisplay("! Data: Send error " + std::to_string(code));
    CutTransferShort("Data connection failed");
    if (d.State() != wsClosed) d.Close();
    return false;
}

void TCustomFtpCli::UploadEndOfFile()
{
    // Everything queued has been handed to the network (this runs from OnDataSent or at the
    // start), so shutting the sending direction down sends the end of the stream behind it. The
    // receiving side stays open: the server's close of its end is what the upload waits for.
    FUploadEof = true;
    if (!ReportFinalProgress()) return;
    if (FDataSocket->TlsHandshaking()) {
        // close_notify belongs behind a completed handshake (an empty file ends at once).
        FShutdownAfterHandshake = true;
        return;
    }
    FDataSocket->Shutdown(1);
}

void TCustomFtpCli::UploadFirstReply()
{
    TransferFirstReply(&TCustomFtpCli::UploadSecondReply);
}

void TCustomFtpCli::UploadSecondReply()
{
    ShowLastReply();
    std::string_view rest;
    FStatusCode = static_cast<std::int32_t>(ReadInteger(FLastResponse, &rest));
    if (HasHyphen(rest)) return;
    if (FStatusCode == 226 || FStatusCode == 250) {
        FFinalReplySeen = true;
        // The server has the whole file: a data connection it keeps open is closed here, which
        // ends the upload through the close handler.
        if (FUploadEof && !FPutDataClosed && FDataBound == TDataUse::Upload &&
            FDataSocket->State() != wsClosed) {
            FDataSocket->Close();
            if (!FPutDataClosed) UploadSessionClosed(0);
            return;
        }
        UploadEndTest();
        return;
    }
    const int code = FStatusCode;
    KeepErrorMessage();
    ReleaseLocalStream();
    CloseDataSocket();
    TriggerDisplay("! STOR Failed");
    FRequestResult = code;
    TriggerRequestDone(static_cast<std::uint16_t>(code));
}

void TCustomFtpCli::UploadSessionClosed(std::uint16_t Error)
{
    Error = JudgeDataClose(Error, true);
    ReleaseLocalStream();
    FPutDataClosed = true;
    FDataError = Error;
    // A connection the server closed before the end of the local file carried a short copy.
    if (!FUploadEof && Error == 0 && FTransferFailCode == 0)
        CutTransferShort("Data connection closed before the end of the file");
    UploadEndTest();
}

void TCustomFtpCli::UploadEndTest()
{
    if (!FFinalReplySeen || !FPutDataClosed) return;
    ShowTransferStats();
    FResumePos = 0;
    FRequestResult = TransferResult();
    TriggerRequestDone(static_cast<std::uint16_t>(FRequestResult));
}
