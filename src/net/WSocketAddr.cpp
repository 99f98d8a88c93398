// Addressing of the socket component: the Addr, Port and Proto texts, address queries and the
// asynchronous host lookup.
#include "net/WSocket.h"

#include "net/WSocketPrivate.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>

using net::detail::DottedText;
using net::detail::StartLibrary;
using net::detail::StoreError;

namespace {

// Removes leading and trailing blanks and control characters (everything up to the space).
std::string TrimBlanks(const std::string& s)
{
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}

bool StartsWithDigit(const std::string& s)
{
    return !s.empty() && s[0] >= '0' && s[0] <= '9';
}

// The value of the leading decimal digits, modulo 2^32.
std::uint32_t LeadingDigits(const std::string& s)
{
    std::uint32_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') break;
        v = v * 10u + static_cast<std::uint32_t>(c - '0');
    }
    return v;
}

}  // namespace

// ---- Addresses ------------------------------------------------------------------------------

std::string TCustomWSocket::PeerAddressText()
{
    if (state_ != wsConnected) return "error";
    TSockAddrIn peer{};
    socklen_t len = sizeof peer;
    if (::getpeername(hSocket_, reinterpret_cast<sockaddr*>(&peer), &len) != 0) {
        StoreError(errno);
        ReportSocketError("GetPeerName");
        return "error";
    }
    return DottedText(peer.sin_addr);
}

int TCustomWSocket::GetPeerName(TSockAddrIn& Name, int& NameLen)
{
    if (state_ != wsConnected) return -1;
    socklen_t len = static_cast<socklen_t>(std::max(NameLen, 0));
    const int r = ::getpeername(hSocket_, reinterpret_cast<sockaddr*>(&Name), &len);
    if (r != 0) {
        StoreError(errno);
        return -1;
    }
    NameLen = static_cast<int>(len);
    return 0;
}

std::string TCustomWSocket::LocalPortText()
{
    if (state_ != wsBound && state_ != wsConnected && state_ != wsListening) return "error";
    TSockAddrIn local{};
    socklen_t len = sizeof local;
    if (::getsockname(hSocket_, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
        StoreError(errno);
        return "error";
    }
    return std::to_string(ntohs(local.sin_port));
}

int TCustomWSocket::LocalSocketAddress(TSockAddrIn& Name, int& NameLen)
{
    socklen_t len = static_cast<socklen_t>(std::max(NameLen, 0));
    const int r = ::getsockname(hSocket_, reinterpret_cast<sockaddr*>(&Name), &len);
    if (r != 0) {
        StoreError(errno);
        return -1;
    }
    NameLen = static_cast<int>(len);
    return 0;
}

void TCustomWSocket::SetAddr(const std::string& Text)
{
    if (addrAssigned_ && Text == addrText_) return;
    addrText_ = Text;
    if (state_ != wsClosed) {
        ReportError("Cannot change Addr if not closed");
        return;
    }
    addrAssigned_ = false;
    const std::string host = TrimBlanks(Text);
    const bool clean = host.find('\0') == std::string::npos;
    in_addr_t a = clean ? ::inet_addr(host.c_str()) : INADDR_NONE;
    if (a == INADDR_NONE) {
        if (host == "255.255.255.255") {
            a = INADDR_BROADCAST;
        } else {
            StartLibrary();
            addrinfo hints{};
            hints.ai_family = AF_INET;
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* res = nullptr;
            const int rc = clean && !host.empty()
                               ? ::getaddrinfo(host.c_str(), nullptr, &hints, &res)
                               : EAI_NONAME;
            if (rc != 0 || !res) {
                net::WSASetLastError(net::WinsockErrorFromGai(rc, errno));
                if (res) ::freeaddrinfo(res);
                throw ESocketException("SetAddr: Cannot convert host address '" + Text + "'");
            }
            a = reinterpret_cast<const sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
            ::freeaddrinfo(res);
        }
    }
    sin_.sin_addr.s_addr = a;
    addrAssigned_ = true;
}

void TCustomWSocket::SetPort(const std::string& Text)
{
    if (portAssigned_ && Text == portText_) return;
    portText_ = Text;
    if (state_ != wsClosed) {
        ReportError("Cannot change Port if not closed");
        return;
    }
    portAssigned_ = true;
    const std::string t = TrimBlanks(Text);
    if (StartsWithDigit(t)) {
        portNum_ = static_cast<int>(LeadingDigits(t) % 65536u);
        sin_.sin_port = htons(static_cast<std::uint16_t>(portNum_));
        return;
    }
    // A service name; an empty name is no service either.
    StartLibrary();
    servent entry{};
    servent* found = nullptr;
    char buf[1024];
    if (!t.empty() && t.find('\0') == std::string::npos)
        ::getservbyname_r(t.c_str(), protoText_.empty() ? nullptr : protoText_.c_str(), &entry, buf,
                          sizeof buf, &found);
    if (!found) {
        portAssigned_ = false;
        net::WSASetLastError(WSANO_DATA);
        ReportSocketError("SetPort: Cannot convert port '" + Text + "'");
        return;
    }
    sin_.sin_port = static_cast<in_port_t>(found->s_port);
    portNum_ = ntohs(static_cast<std::uint16_t>(found->s_port));
}

void TCustomWSocket::SetProto(const std::string& Text)
{
    if (protoAssigned_ && Text == protoText_) return;
    protoText_ = Text;
    if (state_ != wsClosed) {
        ReportError("Cannot change Proto if not closed");
        return;
    }
    const std::string t = TrimBlanks(Text);
    if (t == "not found") return;
    protoAssigned_ = true;
    if (StartsWithDigit(t)) {
        proto_ = static_cast<int>(LeadingDigits(t));
    } else {
        StartLibrary();
        protoent entry{};
        protoent* found = nullptr;
        char buf[1024];
        if (!t.empty() && t.find('\0') == std::string::npos)
            ::getprotobyname_r(t.c_str(), &entry, buf, sizeof buf, &found);
        if (!found) {
            protoAssigned_ = false;
            net::WSASetLastError(WSANO_DATA);
            ReportSocketError("SetProto: Cannot convert protocol '" + Text + "'");
            return;
        }
        proto_ = found->p_proto;
    }
    type_ = proto_ == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
}

// ---- Host lookup ----------------------------------------------------------------------------

void TCustomWSocket::DnsLookup(const std::string& HostName)
{
    if (HostName.empty()) {
        ReportError("DNS lookup: invalid host name.");
        TriggerDnsLookupDone(WSAEINVAL);
        return;
    }
    if (lookupPending_) {
        // The previous lookup is abandoned; its outcome is ignored.
        lookupPending_ = false;
        net::TSocketEventSource::AbortLookup(lookupId_);
        lookupId_ = 0;
    }
    dnsResult_.clear();
    dnsResultList_.clear();
    const in_addr_t a =
        HostName.find('\0') == std::string::npos ? ::inet_addr(HostName.c_str()) : INADDR_NONE;
    if (a != INADDR_NONE) {
        in_addr ia{};
        ia.s_addr = a;
        dnsResult_ = DottedText(ia);
        TriggerDnsLookupDone(0);
        return;
    }
    StartLibrary();
    lookupId_ = source_->LookupHost(
        QString::fromUtf8(HostName.data(), static_cast<qsizetype>(HostName.size())));
    lookupPending_ = true;
}

void TCustomWSocket::LookupDoneMessage(const QHostInfo& info)
{
    if (!lookupPending_ || info.lookupId() != lookupId_) return;
    lookupPending_ = false;
    lookupId_ = 0;
    std::vector<std::string> list;
    for (const QHostAddress& address : info.addresses()) {
        bool ok = false;
        const quint32 v4 = address.toIPv4Address(&ok);
        if (!ok) continue;
        in_addr ia{};
        ia.s_addr = htonl(v4);
        list.push_back(DottedText(ia));
    }
    const int error = net::WinsockErrorFromHostInfo(info.error(), !list.empty());
    if (error == 0) {
        dnsResultList_ = std::move(list);
        dnsResult_ = dnsResultList_.front();
    }
    TriggerDnsLookupDone(static_cast<std::uint16_t>(error));
}

void TCustomWSocket::CancelDnsLookup()
{
    if (!lookupPending_) return;
    net::TSocketEventSource::AbortLookup(lookupId_);
    lookupPending_ = false;
    lookupId_ = 0;
    if (!destroying_) TriggerDnsLookupDone(WSAEINTR);
}

// ---- Time helpers ---------------------------------------------------------------------------

bool TCustomWSocket::IsTimeSet(const TTimeVal& T)
{
    return T.tv_sec != 0 || T.tv_usec != 0;
}

void TCustomWSocket::ClearTime(TTimeVal& T)
{
    T.tv_sec = 0;
    T.tv_usec = 0;
}

bool TCustomWSocket::CompareTimes(const TTimeVal& A, const TTimeVal& B, bool Equal)
{
    const bool same = A.tv_sec == B.tv_sec && A.tv_usec == B.tv_usec;
    return Equal ? same : !same;
}
