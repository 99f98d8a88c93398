// Addressing (Addr, Port, Proto texts), host lookup, error texts and small properties.
#include "NetTestUtil.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cerrno>

using namespace nettest;

namespace {

std::string Raised(const std::function<void()>& f)
{
    try {
        f();
    } catch (const ESocketException& e) {
        return e.what();
    }
    return "(nothing raised)";
}

TEST(SocketErrors, TextsAndMappings)
{
    EXPECT_EQ(SocketErrorText(0), "No Error");
    EXPECT_EQ(SocketErrorText(10035), "Operation would block");
    EXPECT_EQ(SocketErrorText(10047), "Address family not supported by protocol family");
    EXPECT_EQ(SocketErrorText(10054), "Connection reset by peer");
    EXPECT_EQ(SocketErrorText(10061), "Connection refused");
    EXPECT_EQ(SocketErrorText(10092), "WinSock DLL cannot support this application");
    EXPECT_EQ(SocketErrorText(11001), "Host not found");
    EXPECT_EQ(SocketErrorText(11004), "No Data");
    for (int notInTable : {-1, 1, 10000, 10001, 10072, 10090, 10094, 11000, 11005})
        EXPECT_EQ(SocketErrorText(notInTable), "Not a WinSock error") << notInTable;
    // Every number from 10035 to 10071 has its own text.
    for (int code = 10035; code <= 10071; ++code)
        EXPECT_NE(SocketErrorText(code), "Not a WinSock error") << code;

    EXPECT_EQ(net::WinsockErrorFromErrno(EAGAIN), 10035);
    EXPECT_EQ(net::WinsockErrorFromErrno(EINPROGRESS), 10036);
    EXPECT_EQ(net::WinsockErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(net::WinsockErrorFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(net::WinsockErrorFromErrno(ENOTCONN), 10057);
    EXPECT_EQ(net::WinsockErrorFromErrno(EADDRINUSE), 10048);
    EXPECT_EQ(net::WinsockErrorFromErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(SocketErrorText(net::WinsockErrorFromErrno(EIO)), "Not a WinSock error");
    EXPECT_EQ(net::WinsockErrorFromGai(EAI_NONAME, 0), 11001);
    EXPECT_EQ(net::WinsockErrorFromGai(EAI_AGAIN, 0), 11002);
    EXPECT_EQ(net::WinsockErrorFromGai(EAI_FAIL, 0), 11003);
    EXPECT_EQ(net::WinsockErrorFromGai(EAI_SYSTEM, ECONNREFUSED), 10061);
    EXPECT_EQ(net::WinsockErrorFromHostInfo(QHostInfo::HostNotFound, false), 11001);
    EXPECT_EQ(net::WinsockErrorFromHostInfo(QHostInfo::NoError, false), 11004);
    EXPECT_EQ(net::WinsockErrorFromHostInfo(QHostInfo::NoError, true), 0);
}

TEST(WSocketAddressing, PortTexts)
{
    TWSocket s;
    s.SetPort("21abc");
    EXPECT_TRUE(s.PortAssigned());
    EXPECT_EQ(s.PortNum(), 21);
    EXPECT_EQ(ntohs(s.AddrRecord().sin_port), 21);
    s.SetPort("70000");
    EXPECT_EQ(s.PortNum(), 4464);
    EXPECT_EQ(ntohs(s.AddrRecord().sin_port), 4464);
    s.SetPort("  23 ");
    EXPECT_EQ(s.PortNum(), 23);
    EXPECT_EQ(s.Port(), "  23 ");  // the text as assigned
    s.SetPort("ftp");
    EXPECT_EQ(s.PortNum(), 21);
    s.SetPort("telnet");
    EXPECT_EQ(s.PortNum(), 23);

    EXPECT_EQ(Raised([&] { s.SetPort("no-such-service"); }),
              "Error 11004 in function SetPort: Cannot convert port 'no-such-service'\r\nNo Data");
    EXPECT_FALSE(s.PortAssigned());
    // An empty or blank text is no service name either.
    for (const char* blank : {"", "   "}) {
        EXPECT_EQ(Raised([&] { s.SetPort(blank); }),
                  std::string("Error 11004 in function SetPort: Cannot convert port '") + blank +
                      "'\r\nNo Data");
        EXPECT_FALSE(s.PortAssigned());
    }
    int errors = 0;
    s.OnError = [&](QObject*) { ++errors; };
    s.SetPort("");
    EXPECT_EQ(errors, 1);
    EXPECT_FALSE(s.PortAssigned());
}

TEST(WSocketAddressing, ProtoTexts)
{
    TWSocket s;
    EXPECT_EQ(s.Proto(), "tcp");
    EXPECT_TRUE(s.ProtoAssigned());
    s.SetProto("udp");
    EXPECT_EQ(s.ProtocolNum(), 17);
    EXPECT_EQ(s.SocketType(), SOCK_DGRAM);
    s.SetProto("6");
    EXPECT_EQ(s.ProtocolNum(), 6);
    EXPECT_EQ(s.SocketType(), SOCK_STREAM);
    s.SetProto("17x");
    EXPECT_EQ(s.SocketType(), SOCK_DGRAM);
    s.SetProto(" tcp ");
    EXPECT_EQ(s.ProtocolNum(), 6);
    s.SetProto("not found");  // left as it was
    EXPECT_EQ(s.ProtocolNum(), 6);
    EXPECT_TRUE(s.ProtoAssigned());
    EXPECT_EQ(Raised([&] { s.SetProto("bogus"); }),
              "Error 11004 in function SetProto: Cannot convert protocol 'bogus'\r\nNo Data");
    EXPECT_FALSE(s.ProtoAssigned());
    EXPECT_NE(Raised([&] { s.SetProto(" "); }), "(nothing raised)");
    EXPECT_FALSE(s.ProtoAssigned());
    s.SetPort("21");
    s.SetAddr("127.0.0.1");
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Connect: No Protocol Specified");
}

TEST(WSocketAddressing, AddrTexts)
{
    TWSocket s;
    s.SetAddr("10.1.2.3");
    EXPECT_EQ(s.AddrRecord().sin_addr.s_addr, inet_addr("10.1.2.3"));
    s.SetAddr("255.255.255.255");
    EXPECT_TRUE(s.AddrAssigned());
    EXPECT_EQ(s.AddrRecord().sin_addr.s_addr, INADDR_BROADCAST);
    s.SetAddr(" 127.0.0.1 ");
    EXPECT_EQ(s.AddrRecord().sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    s.SetAddr("localhost");
    EXPECT_EQ(s.AddrRecord().sin_addr.s_addr, htonl(INADDR_LOOPBACK));

    // An unknown name raises even with an OnError handler.
    int errors = 0;
    s.OnError = [&](QObject*) { ++errors; };
    EXPECT_EQ(Raised([&] { s.SetAddr("no-such-host.invalid"); }),
              "SetAddr: Cannot convert host address 'no-such-host.invalid'");
    EXPECT_EQ(errors, 0);
    EXPECT_FALSE(s.AddrAssigned());
    EXPECT_EQ(Raised([&] { s.SetAddr(""); }), "SetAddr: Cannot convert host address ''");
}

TEST(WSocketAddressing, TextsChangeOnlyWhileClosed)
{
    TWSocket s;
    ConnectedPair pair;
    ASSERT_TRUE(pair.Connect(s));
    const std::string port = std::to_string(pair.port);
    s.SetPort(port);  // the same text: nothing to do
    s.SetAddr("127.0.0.1");
    EXPECT_EQ(Raised([&] { s.SetPort("99"); }), "Cannot change Port if not closed");
    EXPECT_EQ(s.Port(), "99");  // stored all the same
    EXPECT_EQ(s.PortNum(), pair.port);
    EXPECT_EQ(Raised([&] { s.SetAddr("10.0.0.1"); }), "Cannot change Addr if not closed");
    EXPECT_EQ(Raised([&] { s.SetProto("udp"); }), "Cannot change Proto if not closed");
    EXPECT_EQ(s.AddrRecord().sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    s.Close();
    EXPECT_FALSE(s.PortAssigned());
    s.SetPort("99");  // the same text resolves again after the close
    EXPECT_TRUE(s.PortAssigned());
    EXPECT_EQ(s.PortNum(), 99);
}

TEST(WSocketAddressing, SmallPropertiesAndQueries)
{
    TWSocket s;
    EXPECT_EQ(s.SendFlags(), wsSendNormal);
    s.SetSendFlags(wsSendUrgent);
    EXPECT_EQ(s.SendFlags(), wsSendUrgent);
    EXPECT_EQ(Raised([&] { s.SetSendFlags(static_cast<TSocketSendFlags>(7)); }),
              "Invalid SendFlags");
    EXPECT_EQ(s.PeerAddressText(), "error");
    EXPECT_EQ(s.LocalPortText(), "error");
    TSockAddrIn a{};
    int len = sizeof a;
    EXPECT_EQ(s.GetPeerName(a, len), -1);
    EXPECT_EQ(Raised([&] { s.Accept(); }),
              "Error 10022 in function not a listening socket\r\nInvalid argument");
    EXPECT_EQ(Raised([&] { s.Dup(INVALID_SOCKET); }),
              "Error 10022 in function Dup\r\nInvalid argument");
    EXPECT_EQ(Raised([&] { s.Listen(); }),
              "Error 10022 in function listen: port not assigned\r\nInvalid argument");
    EXPECT_EQ(TCustomWSocket::SocketLibraryInfo().wVersion, 0x0101);
    EXPECT_FALSE(TCustomWSocket::SocketLibraryInfo().szDescription.empty());
    TTimeVal t{3, 0};
    EXPECT_TRUE(s.IsTimeSet(t));
    EXPECT_TRUE(s.CompareTimes(t, TTimeVal{3, 0}, true));
    EXPECT_TRUE(s.CompareTimes(t, TTimeVal{3, 1}, false));
    s.ClearTime(t);
    EXPECT_FALSE(s.IsTimeSet(t));
}

TEST(WSocketDnsLookup, DottedNameCompletesBeforeReturning)
{
    TWSocket s;
    std::vector<int> done;
    s.OnDnsLookupDone = [&](QObject*, std::uint16_t e) { done.push_back(e); };
    s.DnsLookup("10.1.2.3");
    EXPECT_EQ(done, std::vector<int>{0});
    EXPECT_EQ(s.DnsResult(), "10.1.2.3");
    EXPECT_TRUE(s.DnsResultList().empty());
}

TEST(WSocketDnsLookup, NameCompletesFromTheEventLoopWithIPv4Answers)
{
    TWSocket s;
    std::vector<int> done;
    s.OnDnsLookupDone = [&](QObject*, std::uint16_t e) { done.push_back(e); };
    s.DnsLookup("localhost");
    EXPECT_TRUE(done.empty());
    ASSERT_TRUE(ProcessEventsUntil([&] { return !done.empty(); }, 10000));
    EXPECT_EQ(done, std::vector<int>{0});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    ASSERT_FALSE(s.DnsResultList().empty());
    EXPECT_EQ(s.DnsResultList().front(), "127.0.0.1");
    for (const std::string& a : s.DnsResultList())
        EXPECT_EQ(a.find(':'), std::string::npos);
}

TEST(WSocketDnsLookup, UnknownNameCompletesWithAResolverError)
{
    TWSocket s;
    std::vector<int> done;
    s.OnDnsLookupDone = [&](QObject*, std::uint16_t e) { done.push_back(e); };
    s.DnsLookup("no-such-host.invalid");
    ASSERT_TRUE(ProcessEventsUntil([&] { return !done.empty(); }, 30000));
    ASSERT_EQ(done.size(), 1u);
    EXPECT_GE(done[0], 11001);
    EXPECT_LE(done[0], 11004);
    EXPECT_TRUE(s.DnsResult().empty());
    EXPECT_TRUE(s.DnsResultList().empty());
}

TEST(WSocketDnsLookup, CancelFires10004AndTheLateAnswerIsIgnored)
{
    TWSocket s;
    std::vector<int> done;
    s.OnDnsLookupDone = [&](QObject*, std::uint16_t e) { done.push_back(e); };
    s.DnsLookup("localhost");
    s.CancelDnsLookup();
    EXPECT_EQ(done, std::vector<int>{10004});
    s.CancelDnsLookup();  // nothing pending
    ProcessEventsFor(500);
    EXPECT_EQ(done, std::vector<int>{10004});
    EXPECT_TRUE(s.DnsResult().empty());

    // A new lookup abandons the pending one silently.
    done.clear();
    s.DnsLookup("localhost");
    s.DnsLookup("127.0.0.2");
    EXPECT_EQ(done, std::vector<int>{0});
    ProcessEventsFor(500);
    EXPECT_EQ(done, std::vector<int>{0});
    EXPECT_EQ(s.DnsResult(), "127.0.0.2");
}

TEST(WSocketDnsLookup, EmptyNameIsReported)
{
    TWSocket s;
    std::vector<int> done;
    s.OnDnsLookupDone = [&](QObject*, std::uint16_t e) { done.push_back(e); };
    EXPECT_EQ(Raised([&] { s.DnsLookup(""); }), "DNS lookup: invalid host name.");
    s.OnError = [](QObject*) {};
    s.DnsLookup("");
    EXPECT_EQ(done, std::vector<int>{10022});
}

}  // namespace
