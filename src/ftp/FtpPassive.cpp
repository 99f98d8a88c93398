// Passive data connections of the FTP engine: EPSV (reply 229), PASV (reply 227) when the server
// refuses EPSV, the readers of both replies, and the connection to the server's data port, which
// is always made to the address of the server's end of the control connection.
#include "ftp/FtpEngine.h"

#include "platform/Ticks.h"

#include <arpa/inet.h>

#include <cctype>

namespace {

bool Digit(char c)
{
    return c >= '0' && c <= '9';
}

// Reads decimal digits at text[i] into value (at most max); false when there is no digit or the
// number is larger than max.
bool ReadNumber(std::string_view text, std::size_t& i, std::int64_t max, std::int64_t& value)
{
    if (i >= text.size() || !Digit(text[i])) return false;
    value = 0;
    while (i < text.size() && Digit(text[i])) {
        value = value * 10 + (text[i] - '0');
        if (value > max) return false;
        ++i;
    }
    return true;
}

// The text after the reply code (and the blank or hyphen behind it).
std::string_view AfterCode(std::string_view reply)
{
    std::size_t i = 0;
    while (i < reply.size() && Digit(reply[i]))
        ++i;
    return reply.substr(i);
}

}  // namespace

// ---- Reading the replies ----------------------------------------------------------------------

bool TCustomFtpCli::ParseEpsvReply(std::string_view Reply, int& Port)
{
    const std::string_view text = AfterCode(Reply);
    const std::size_t open = text.find('(');
    if (open == std::string_view::npos) return false;
    std::size_t i = open + 1;
    if (i + 3 > text.size()) return false;
    const char d = text[i];
    if (d < 33 || d > 126 || Digit(d) || text[i + 1] != d || text[i + 2] != d) return false;
    i += 3;
    std::int64_t port = 0;
    if (!ReadNumber(text, i, 65535, port) || port == 0) return false;
    if (i + 2 > text.size() || text[i] != d || text[i + 1] != ')') return false;
    Port = static_cast<int>(port);
    return true;
}

bool TCustomFtpCli::ParsePasvReply(std::string_view Reply, std::uint32_t& Address, int& Port)
{
    // The numbers begin at the first digit after the code; servers differ in what stands
    // before them (parentheses or not).
    const std::string_view text = AfterCode(Reply);
    std::size_t i = 0;
    while (i < text.size() && !Digit(text[i]))
        ++i;
    std::int64_t n[6] = {};
    for (int k = 0; k < 6; ++k) {
        if (k > 0) {
            if (i >= text.size() || text[i] != ',') return false;
            ++i;
        }
        if (!ReadNumber(text, i, 255, n[k])) return false;
    }
    // A seventh number would mean the six were not the address and port.
    if (i < text.size() && (text[i] == ',' || Digit(text[i]))) return false;
    const std::int64_t port = n[4] * 256 + n[5];
    if (port == 0) return false;
    const std::uint32_t host =
        static_cast<std::uint32_t>((n[0] << 24) | (n[1] << 16) | (n[2] << 8) | n[3]);
    Address = htonl(host);
    Port = static_cast<int>(port);
    return true;
}

// ---- The Port step in passive mode ------------------------------------------------------------

void TCustomFtpCli::StartPassive(bool First)
{
    FDataBound = TDataUse::None;
    if (First) {
        StartCommand(ftpPortAsync, stPort, "EPSV", {229});
        FNextHandler = &TCustomFtpCli::EpsvReply;
        return;
    }
    // A further command of the step that PBSZ began.
    FNextHandler = &TCustomFtpCli::EpsvReply;
    try {
        SendCommand("EPSV");
    } catch (const FtpException& e) {
        PassiveFailed(425, FirstLine(e.what()));
    }
}

void TCustomFtpCli::EpsvReply()
{
    ShowLastReply();
    std::string_view rest;
    FStatusCode = static_cast<std::int32_t>(ReadInteger(FLastResponse, &rest));
    if (HasHyphen(rest)) return;
    if (FStatusCode == 229) {
        int port = 0;
        if (!ParseEpsvReply(FLastResponse, port)) {
            PassiveFailed(425, "Passive: the reply names no usable port");
            return;
        }
        ConnectPassive(port);
        return;
    }
    if (FStatusCode == 500 || FStatusCode == 501 || FStatusCode == 502) {
        // A server without EPSV: the older PASV.
        FNextHandler = &TCustomFtpCli::PasvReply;
        try {
            SendCommand("PASV");
        } catch (const FtpException& e) {
            PassiveFailed(425, FirstLine(e.what()));
        }
        return;
    }
    KeepErrorMessage();
    FNextHandler = nullptr;
    FRequestResult = FStatusCode;
    TriggerRequestDone(static_cast<std::uint16_t>(FStatusCode));
}

void TCustomFtpCli::PasvReply()
{
    ShowLastReply();
    std::string_view rest;
    FStatusCode = static_cast<std::int32_t>(ReadInteger(FLastResponse, &rest));
    if (HasHyphen(rest)) return;
    if (FStatusCode == 227) {
        std::uint32_t named = 0;
        int port = 0;
        if (!ParsePasvReply(FLastResponse, named, port)) {
            PassiveFailed(425, "Passive: the reply names no usable port");
            return;
        }
        // The address the reply names is not used: the data connection goes to the server of
        // the control connection, so a reply cannot send the client to another host.
        ConnectPassive(port);
        return;
    }
    KeepErrorMessage();
    TriggerDisplay("! Passive: the server refused EPSV and PASV");
    FNextHandler = nullptr;
    FRequestResult = FStatusCode;
    TriggerRequestDone(static_cast<std::uint16_t>(FStatusCode));
}

void TCustomFtpCli::PassiveConnectingReply()
{
    // A reply while the data connection is being made answers nothing that was asked: it is
    // only shown (a server that ends the session closes the control connection, which ends the
    // step).
    ShowLastReply();
}

void TCustomFtpCli::ConnectPassive(int Port)
{
    TSockAddrIn server{};
    int len = sizeof server;
    if (FControlSocket->GetPeerName(server, len) != 0) {
        PassiveFailed(425, "Passive: the server's address is not known");
        return;
    }
    char dotted[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &server.sin_addr, dotted, sizeof dotted);
    FPassiveTarget = std::string(dotted) + " port " + std::to_string(Port);
    TriggerDisplay("! Passive: connecting to " + FPassiveTarget);
    FNextHandler = &TCustomFtpCli::PassiveConnectingReply;
    TWSocket& d = *FDataSocket;
    FDataBound = TDataUse::Connecting;
    try {
        d.SetProto("tcp");
        d.SetAddr(dotted);
        d.SetPort(std::to_string(Port));
        // An orderly close, so that an upload's last bytes arrive.
        d.SetLingerOnOff(wsLingerOff);
        d.SetLingerTimeout(0);
        net::WSASetLastError(0);
        d.Connect();
    } catch (const ESocketException& e) {
        int code = net::WSAGetLastError();
        if (code == 0) code = WSAEINVAL;
        PassiveFailed(code,
                      "Passive: cannot connect to " + FPassiveTarget + ": " + FirstLine(e.what()));
    }
}

void TCustomFtpCli::DataSessionConnected(std::uint16_t Error)
{
    if (Error != 0) {
        // The socket closes itself after this event; nothing is left connecting.
        FDataBound = TDataUse::None;
        PassiveFailed(Error, "Passive: cannot connect to " + FPassiveTarget + ": " +
                                 SocketErrorText(Error) + " (Winsock error #" +
                                 std::to_string(Error) + ")");
        return;
    }
    FDataBound = TDataUse::Ready;
    FNextHandler = nullptr;
    FRequestResult = 0;
    TriggerRequestDone(0);
}

void TCustomFtpCli::PassiveFailed(int Code, const std::string& Notice)
{
    // Reported like a server's 425 (cannot open data connection); the request's result is Code
    // (425, or the Winsock error of the connect).
    TriggerDisplay("! " + Notice);
    if (FErrorMessage.empty()) FErrorMessage = "425 " + Notice;
    FNextHandler = nullptr;
    FDataBound = TDataUse::None;
    CloseDataSocket();
    FRequestResult = Code;
    TriggerRequestDone(static_cast<std::uint16_t>(Code));
}

void TCustomFtpCli::TakeOverPassiveConnection()
{
    if (FDataBound != TDataUse::Ready || FRequestDoneFlag) return;
    FDataBound = FDataUse;
    FStartTime = platform::GetTickCount();
    if (FPassiveLost || FDataSocket->State() != wsConnected) {
        // The server closed the connection before the transfer began: nothing can have
        // travelled on it.
        CutTransferShort("Data connection closed before the transfer");
        if (FDataUse == TDataUse::Download)
            DownloadSessionClosed(0);
        else
            UploadSessionClosed(0);
        return;
    }
    if (FDataUse == TDataUse::Upload) SendNextBlock();
}
