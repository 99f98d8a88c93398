// Winsock error numbers and texts, and the mapping of POSIX errno values and resolver failures onto
// them. Every error the rest of the program sees (event Error parameters, LastError) is one of
// these numbers, whatever the socket layer underneath reported.
#pragma once

#include <QHostInfo>

#include <string>

// The Winsock error numbers the program refers to by name.
enum : int {
    WSABASEERR = 10000,
    WSAEINTR = 10004,
    WSAEBADF = 10009,
    WSAEACCES = 10013,
    WSAEFAULT = 10014,
    WSAEINVAL = 10022,
    WSAEMFILE = 10024,
    WSAEWOULDBLOCK = 10035,
    WSAEINPROGRESS = 10036,
    WSAEALREADY = 10037,
    WSAENOTSOCK = 10038,
    WSAEDESTADDRREQ = 10039,
    WSAEMSGSIZE = 10040,
    WSAEPROTOTYPE = 10041,
    WSAENOPROTOOPT = 10042,
    WSAEPROTONOSUPPORT = 10043,
    WSAESOCKTNOSUPPORT = 10044,
    WSAEOPNOTSUPP = 10045,
    WSAEPFNOSUPPORT = 10046,
    WSAEAFNOSUPPORT = 10047,
    WSAEADDRINUSE = 10048,
    WSAEADDRNOTAVAIL = 10049,
    WSAENETDOWN = 10050,
    WSAENETUNREACH = 10051,
    WSAENETRESET = 10052,
    WSAECONNABORTED = 10053,
    WSAECONNRESET = 10054,
    WSAENOBUFS = 10055,
    WSAEISCONN = 10056,
    WSAENOTCONN = 10057,
    WSAESHUTDOWN = 10058,
    WSAETOOMANYREFS = 10059,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSAELOOP = 10062,
    WSAENAMETOOLONG = 10063,
    WSAEHOSTDOWN = 10064,
    WSAEHOSTUNREACH = 10065,
    WSAENOTEMPTY = 10066,
    WSAEPROCLIM = 10067,
    WSAEUSERS = 10068,
    WSAEDQUOT = 10069,
    WSAESTALE = 10070,
    WSAEREMOTE = 10071,
    WSASYSNOTREADY = 10091,
    WSAVERNOTSUPPORTED = 10092,
    WSANOTINITIALISED = 10093,
    WSAHOST_NOT_FOUND = 11001,
    WSATRY_AGAIN = 11002,
    WSANO_RECOVERY = 11003,
    WSANO_DATA = 11004,
};

// English description of a Winsock error number; "Not a WinSock error" for any other number.
std::string SocketErrorText(int ErrCode);

namespace net {

// The Winsock number for a POSIX errno value (EAGAIN -> 10035, ECONNREFUSED -> 10061, ...).
// An errno without a Winsock counterpart becomes 10000 + errno, which SocketErrorText reports
// as "Not a WinSock error".
int WinsockErrorFromErrno(int err);

// The Winsock number for a getaddrinfo() result code (EAI_NONAME -> 11001, EAI_AGAIN -> 11002,
// ...); EAI_SYSTEM takes errno into account.
int WinsockErrorFromGai(int gaiCode, int err);

// The Winsock number for the outcome of a QHostInfo lookup; hasIPv4 tells whether the answer held
// at least one IPv4 address (a name that only has other addresses gives 11004, "No Data").
int WinsockErrorFromHostInfo(QHostInfo::HostInfoError error, bool hasIPv4);

// The thread's last socket error, as WSAGetLastError/WSASetLastError keep it: every failing call
// of the socket layer stores its Winsock number here, and error reports read it back.
int WSAGetLastError();
void WSASetLastError(int ErrCode);

// Stores the Winsock number for errno as the last error and returns it.
int SetLastErrorFromErrno();

}  // namespace net
