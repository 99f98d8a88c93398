// Explicit FTPS in the FTP engine: AUTH TLS after the greeting and the control connection's
// handshake (part of the Open step), PBSZ 0 and PROT P before the session's first data connection
// (part of the Port step), the data connections' TLS set-up, and how the end of a secured data
// connection is judged (close_notify, a cut, a failed handshake).
#include "ftp/FtpEngine.h"

#include <utility>

namespace {

std::string ErrorNumber(std::uint16_t error)
{
    return " (TLS error #" + std::to_string(error) + ")";
}

}  // namespace

// ---- AUTH TLS and the control connection's handshake ------------------------------------------

void TCustomFtpCli::StartAuthTls()
{
    SetFtpState(fsWaitingReply);
    FNextHandler = &TCustomFtpCli::AuthTlsReply;
    try {
        SendCommand("AUTH TLS");
    } catch (const FtpException& e) {
        // An OnCommand handler made the line unsendable: the session cannot be secured.
        CloseControlBecause(FirstLine(e.what()));
    }
}

void TCustomFtpCli::AuthTlsReply()
{
    ShowLastReply();
    std::string_view rest;
    FStatusCode = static_cast<std::int32_t>(ReadInteger(FLastResponse, &rest));
    if (HasHyphen(rest)) return;
    // Whatever follows the reply in the buffer came in the clear: it is dropped, so that nothing
    // sent before the handshake can pass for a reply on the secured connection.
    FReceiveLen = 0;
    TTlsWSocket& c = *FControlSocket;
    if (FStatusCode != 234) {
        // Refused: the connect ends with the server's reply, USER and PASS never go out.
        KeepErrorMessage();
        TriggerDisplay("! The server refused AUTH TLS: " + FLastResponse);
        FRequestResult = FStatusCode;
        FNextHandler = &TCustomFtpCli::TlsWaitReply;
        if (c.State() != wsClosed) c.Close();
        return;
    }
    FNextHandler = &TCustomFtpCli::TlsWaitReply;
    c.SetTlsHostName(FHostName);
    c.SetTlsFingerprint(FTlsFingerprint);
    c.SetTlsResumeSession(nullptr);
    try {
        c.StartTls();
    } catch (const ESocketException& e) {
        CloseControlBecause("TLS: " + FirstLine(e.what()));
    }
}

void TCustomFtpCli::TlsWaitReply()
{
    // No reply is due while the handshake runs (the layer delivers nothing before it is done);
    // a line that still arrives answers nothing and is only shown.
    ShowLastReply();
}

void TCustomFtpCli::ControlTlsVerify(const TTlsCertificateInfo& Info)
{
    FPeerCertificate = Info;
}

void TCustomFtpCli::ControlTlsHandshakeDone(std::uint16_t Error)
{
    TTlsWSocket& c = *FControlSocket;
    if (Error == 0) {
        TriggerDisplay("! TLS: " + c.TlsDescription());
        if (!FPeerCertificate.Verified)
            TriggerDisplay("! TLS: certificate " + FPeerCertificate.Sha256Fingerprint +
                           " trusted by its fingerprint (not verified: " + FPeerCertificate.Reason +
                           ")");
        if (FState != fsWaitingReply || FNextHandler != &TCustomFtpCli::TlsWaitReply) return;
        FNextHandler = nullptr;
        FRequestResult = 0;
        TriggerRequestDone(0);
        return;
    }
    // The layer closes the connection after this event; its close completes the request with
    // the result kept here.
    std::string why;
    if (Error == TlsErrFingerprintMismatch) {
        why = "TLS: the server's certificate is not the trusted one: expected " +
              FControlSocket->TlsFingerprint() + ", presented " +
              FPeerCertificate.Sha256Fingerprint;
    } else if (Error == TlsErrCertificate) {
        why = "TLS: the server's certificate " + FPeerCertificate.Sha256Fingerprint +
              " was refused: " +
              (FPeerCertificate.Reason.empty() ? TlsErrorText(Error) : FPeerCertificate.Reason);
    } else {
        const std::string& detail = c.TlsErrorDetail();
        why = "TLS handshake failed: " + (detail.empty() ? SocketErrorText(Error) : detail);
    }
    TriggerDisplay("! " + why);
    if (!FRequestDoneFlag && FRequestResult == 0) {
        FRequestResult = Error;
        FStatusCode = 500;
        if (FErrorMessage.empty()) FErrorMessage = "500 " + why + ErrorNumber(Error);
    }
    if ((Error == TlsErrCertificate || Error == TlsErrFingerprintMismatch) &&
        !FPeerCertificate.Sha256Fingerprint.empty())
        Fire(OnTlsCertificate, this, FPeerCertificate);
}

// ---- PBSZ and PROT ----------------------------------------------------------------------------

// No data connection in the clear: a refused PBSZ or PROT P ends the step with the server's
// reply.
void TCustomFtpCli::DataProtectionRefused(const char* Command)
{
    KeepErrorMessage();
    TriggerDisplay(std::string("! TLS: the server refused ") + Command + ": " + FLastResponse);
    FNextHandler = nullptr;
    CloseDataSocket();
    FRequestResult = FStatusCode;
    TriggerRequestDone(static_cast<std::uint16_t>(FStatusCode));
}

void TCustomFtpCli::PbszReply()
{
    ShowLastReply();
    std::string_view rest;
    FStatusCode = static_cast<std::int32_t>(ReadInteger(FLastResponse, &rest));
    if (HasHyphen(rest)) return;
    if (FStatusCode / 100 != 2) {
        DataProtectionRefused("PBSZ");
        return;
    }
    FNextHandler = &TCustomFtpCli::ProtReply;
    try {
        SendCommand("PROT P");
    } catch (const FtpException& e) {
        PassiveFailed(425, FirstLine(e.what()));
    }
}

void TCustomFtpCli::ProtReply()
{
    ShowLastReply();
    std::string_view rest;
    FStatusCode = static_cast<std::int32_t>(ReadInteger(FLastResponse, &rest));
    if (HasHyphen(rest)) return;
    if (FStatusCode / 100 != 2) {
        DataProtectionRefused("PROT P");
        return;
    }
    FDataProtected = true;
    SendDataPortCommand(false);
}

// ---- Data connections -------------------------------------------------------------------------

void TCustomFtpCli::PrepareDataTls()
{
    TTlsWSocket& d = *FDataSocket;
    const bool on = FDataProtected && FControlSocket->TlsActive();
    d.SetTls(on);
    FTlsDataFailed = false;
    FShutdownAfterHandshake = false;
    if (!on) return;
    // The data connection must show the very certificate the control connection accepted, and
    // offers the control connection's session for resumption.
    d.SetTlsHostName(FControlSocket->TlsHostName());
    d.SetTlsFingerprint(FPeerCertificate.Sha256Fingerprint);
    d.SetTlsResumeSession(FControlSocket->TlsSession());
}

void TCustomFtpCli::DataTlsHandshakeDone(std::uint16_t Error)
{
    if (Error == 0) {
        // An upload whose file ended while the handshake ran ends its stream only now, so that
        // its close_notify follows a completed handshake.
        if (std::exchange(FShutdownAfterHandshake, false) && FDataBound == TDataUse::Upload &&
            FDataSocket->State() == wsConnected)
            FDataSocket->Shutdown(1);
        return;
    }
    // The layer closes the connection after this event; the close handler ends the transfer.
    FTlsDataFailed = true;
    const std::string& detail = FDataSocket->TlsErrorDetail();
    const std::string why =
        "Data: TLS handshake failed: " + (detail.empty() ? SocketErrorText(Error) : detail);
    TriggerDisplay("! " + why);
    CutTransferShort(why + ErrorNumber(Error));
}

std::uint16_t TCustomFtpCli::JudgeDataClose(std::uint16_t Error, bool Upload)
{
    if (!FDataSocket->Tls()) return Error;
    if (FTlsDataFailed) return 0;  // already cut short (426) by the handshake's failure
    if (Error == TlsErrTruncated) {
        // The peer closed without close_notify: a cut that an attacker on the path can make
        // as easily as the server. Complete only when the end is known otherwise.
        if (Upload && FUploadEof) return 0;  // every byte and this side's close_notify went out
        if (!Upload && FResumePos <= 0 && FAnnouncedSize >= 0 && FByteCount == FAnnouncedSize)
            return 0;
        const std::string why =
            "Data connection closed without TLS close_notify after " +
            std::to_string(FByteCount) + " bytes: the transfer is incomplete";
        TriggerDisplay("! " + why);
        CutTransferShort(why);
        return 0;
    }
    if (Error == TlsErrProtocol || (Error >= TlsErrHandshake && Error <= TlsErrUnavailable)) {
        const std::string why = "Data: " + SocketErrorText(Error);
        TriggerDisplay("! " + why);
        CutTransferShort(why + ErrorNumber(Error));
        return 0;
    }
    return Error;
}
