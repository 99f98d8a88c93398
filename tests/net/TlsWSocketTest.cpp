// The TLS layer (TTlsWSocket) on loopback against an OpenSSL server on a thread of the test:
// byte-exact transfers (large writes both ways, records split across reads), the ends of a
// connection (close_notify either side, a cut without it), certificate checks and pins, bad
// peers (garbage, a stalled handshake), session resumption, StartTls, Dup, and TLS off.
#include "NetTestUtil.h"
#include "TlsTestPeer.h"

#include "net/TlsWSocket.h"

#include <QTemporaryDir>

#include <fcntl.h>
#include <netinet/tcp.h>
#include <unistd.h>


using namespace nettest;
using namespace tlstest;
using testsupport::RawFd;

namespace {

// A TLS client with an event log ("connected 0", "handshake 0", "data", "sent 0", "closed N").
struct Client {
    TTlsWSocket s;
    EventLog log;
    std::string got;
    int readSize = 65536;
    TTlsCertificateInfo seen;
    int verifyCalls = 0;
    std::function<void()> onData;  // runs after each receive

    Client()
    {
        log.Attach(s);
        s.OnChangeState = nullptr;
        s.OnTlsHandshakeDone = [this](QObject*, std::uint16_t e) {
            log.events.push_back("handshake " + std::to_string(e));
        };
        s.OnTlsVerify = [this](QObject*, const TTlsCertificateInfo& info, bool&) {
            seen = info;
            ++verifyCalls;
        };
        s.OnDataAvailable = [this](QObject*, std::uint16_t) {
            std::string buf(static_cast<std::size_t>(readSize), '\0');
            const int n = s.Receive(buf.data(), readSize);
            if (n > 0) {
                if (log.events.empty() || log.events.back() != "data") log.events.push_back("data");
                got.append(buf.data(), static_cast<std::size_t>(n));
            }
            if (onData) onData();
        };
    }
    void Connect(std::uint16_t port)
    {
        Address(s, port);
        s.SetTls(true);
        s.Connect();
    }
    // The number of OnSessionClosed, or -1 before it.
    int ClosedWith() const
    {
        for (const auto& e : log.events)
            if (e.rfind("closed ", 0) == 0) return std::stoi(e.substr(7));
        return -1;
    }
    bool WaitClosed(int ms = 20000)
    {
        return ProcessEventsUntil([this] { return ClosedWith() >= 0; }, ms);
    }
    int Index(const std::string& e) const
    {
        const auto it = std::find(log.events.begin(), log.events.end(), e);
        return it == log.events.end() ? -1 : static_cast<int>(it - log.events.begin());
    }
};

// "YYYY-MM-DD HH:MM:SS UTC"
bool IsUtcTime(const std::string& s)
{
    const std::string shape = "dddd-dd-dd dd:dd:dd UTC";
    if (s.size() != shape.size()) return false;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(s[i])) : s[i] != shape[i])
            return false;
    return true;
}

std::string Joined(const std::vector<std::string>& v)
{
    std::string s;
    for (const auto& e : v)
        s += e + "; ";
    return s;
}

const Identity& SelfSigned()
{
    static const Identity id =
        Identity::Make("zarvos test", "Zarvos", nullptr, false, "IP:127.0.0.1,DNS:localhost");
    return id;
}

// A small authority and a leaf for 127.0.0.1 and localhost signed by it, trusted by the
// component through the test hook.
struct Authority {
    Identity ca = Identity::Make("Zarvos Test CA", "Zarvos", nullptr, true, nullptr);
    Identity leaf =
        Identity::Make("localhost", "Zarvos", &ca, false, "IP:127.0.0.1,DNS:localhost");
    QTemporaryDir dir;
    Authority()
    {
        const std::string path = dir.filePath("ca.pem").toStdString();
        if (ca.WritePem(path)) TTlsWSocket::SetTlsTrustStoreForTests(path);
    }
};

const Authority& TrustedAuthority()
{
    static const Authority a;
    return a;
}

// The server side of a short exchange: writes "ok", then waits for the client's end.
void SayOkAndWait(SSL* ssl, int)
{
    SslWriteAll(ssl, "ok");
    char b[16];
    std::size_t n = 0;
    while (SSL_read_ex(ssl, b, sizeof b, &n) == 1) {
    }
}

TEST(TTlsWSocket, LargeWritesBothWaysSplitRecordsAndTheServersCloseNotify)
{
    ServerContext ctx(SelfSigned());
    TlsPeer peer(ctx.Get());
    const std::string up = Pattern(5u << 20);
    const std::string down = Pattern(6u << 20, 7);
    const std::string tail = Pattern(3000, 99);
    std::string serverGot;
    int serverEnd = -1;
    peer.Serve([&](SSL* ssl, int fd) {
        serverGot = SslReadN(ssl, up.size());
        if (!SslWriteAll(ssl, down)) return;
        // The rest goes out in 7-byte TCP segments, so records arrive in many pieces.
        BIO* mem = BIO_new(BIO_s_mem());
        SSL_set0_wbio(ssl, mem);
        SslWriteAll(ssl, tail);
        SSL_shutdown(ssl);
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        char* p = nullptr;
        const long n = BIO_get_mem_data(mem, &p);
        for (long i = 0; i < n; i += 7) {
            ::send(fd, p + i, static_cast<std::size_t>(std::min<long>(7, n - i)), MSG_NOSIGNAL);
            usleep(200);
        }
        char b;
        std::size_t got = 0;
        const int r = SSL_read_ex(ssl, &b, 1, &got);
        serverEnd = SSL_get_error(ssl, r);
    });

    Client c;
    c.readSize = 1000;  // the user reads less than a record at a time
    c.s.SetTlsFingerprint(SelfSigned().Fingerprint());
    bool heldOk = false;
    c.s.OnSessionConnected = [&](QObject*, std::uint16_t e) {
        c.log.events.push_back("connected " + std::to_string(e));
        // Sent before the handshake: held, then encrypted.
        heldOk = c.s.Send(up.data(), static_cast<int>(up.size())) == static_cast<int>(up.size());
        EXPECT_TRUE(c.s.TlsHandshaking());
    };
    std::string description;
    c.onData = [&] {
        if (description.empty()) description = c.s.TlsDescription();
    };
    c.Connect(peer.Port());
    ASSERT_TRUE(c.WaitClosed(60000)) << Joined(c.log.events);
    peer.Join();

    EXPECT_TRUE(heldOk);
    EXPECT_EQ(serverGot.size(), up.size());
    EXPECT_TRUE(serverGot == up);
    EXPECT_EQ(c.got.size(), down.size() + tail.size());
    EXPECT_TRUE(c.got == down + tail);
    EXPECT_EQ(c.ClosedWith(), 0) << c.s.TlsErrorDetail();
    EXPECT_EQ(serverEnd, SSL_ERROR_ZERO_RETURN);  // our close_notify answered the server's
    // Order: the TCP connection, the handshake, OnDataSent and data only after it, the close.
    EXPECT_EQ(c.Index("connected 0"), 0) << Joined(c.log.events);
    EXPECT_EQ(c.Index("handshake 0"), 1) << Joined(c.log.events);
    EXPECT_GT(c.Index("data"), 1);
    EXPECT_GT(c.Index("sent 0"), 1);
    EXPECT_EQ(c.log.events.back(), "closed 0");
    EXPECT_EQ(c.log.Count("closed 0"), 1);
    EXPECT_NE(description.find("TLSv1.3"), std::string::npos) << description;
    EXPECT_FALSE(c.s.TlsActive());
    EXPECT_EQ(c.s.State(), wsClosed);
}

TEST(TTlsWSocket, CloseSendsCloseNotifyAfterTheDataAndSendFileIsRefused)
{
    ServerContext ctx(SelfSigned());
    TlsPeer peer(ctx.Get());
    std::string serverGot;
    int serverEnd = -1;
    int serverShutdown = 0;
    peer.Serve([&](SSL* ssl, int) {
        SslWriteAll(ssl, "hello");
        serverGot = SslReadN(ssl, 3);
        char b;
        std::size_t n = 0;
        const int r = SSL_read_ex(ssl, &b, 1, &n);
        serverEnd = SSL_get_error(ssl, r);
        serverShutdown = SSL_get_shutdown(ssl);
    });
    Client c;
    c.s.SetTlsFingerprint(SelfSigned().Fingerprint());
    std::int64_t sendFile = 0;
    int sendFileError = 0;
    c.onData = [&] {
        if (c.got != "hello") return;
        const int fd = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
        std::int64_t offset = 0;
        sendFile = c.s.SendFile(fd, offset, 100);
        sendFileError = c.s.LastError();
        ::close(fd);
        c.s.Send("bye", 3);
        c.s.Close();
    };
    c.Connect(peer.Port());
    ASSERT_TRUE(c.WaitClosed()) << Joined(c.log.events);
    peer.Join();
    EXPECT_EQ(c.ClosedWith(), 0);
    EXPECT_EQ(serverGot, "bye");
    EXPECT_EQ(serverEnd, SSL_ERROR_ZERO_RETURN);
    EXPECT_TRUE(serverShutdown & SSL_RECEIVED_SHUTDOWN);
    EXPECT_EQ(sendFile, -1);
    EXPECT_EQ(sendFileError, WSAEOPNOTSUPP);
}

// An upload that ends before its handshake does (an empty or tiny file): the shutdown of the
// sending side waits for the handshake, so the server reads the bytes and then close_notify.
TEST(TTlsWSocket, ShutdownDuringTheHandshakeFollowsIt)
{
    ServerContext ctx(SelfSigned());
    TlsPeer peer(ctx.Get());
    std::string serverGot;
    int serverEnd = -1;
    peer.Serve([&](SSL* ssl, int) {
        serverGot = SslReadN(ssl, 3);
        char b;
        std::size_t n = 0;
        const int r = SSL_read_ex(ssl, &b, 1, &n);
        serverEnd = SSL_get_error(ssl, r);
        SSL_shutdown(ssl);
    });
    Client c;
    c.s.SetTlsFingerprint(SelfSigned().Fingerprint());
    c.s.OnSessionConnected = [&](QObject*, std::uint16_t) {
        c.s.Send("abc", 3);
        c.s.Shutdown(1);
    };
    c.Connect(peer.Port());
    ASSERT_TRUE(c.WaitClosed()) << Joined(c.log.events);
    peer.Join();
    EXPECT_EQ(serverGot, "abc");
    EXPECT_EQ(serverEnd, SSL_ERROR_ZERO_RETURN);
    EXPECT_EQ(c.ClosedWith(), 0) << c.s.TlsErrorDetail();
}

TEST(TTlsWSocket, ReadLineIsRefusedWhileTlsIsOn)
{
    ServerContext ctx(SelfSigned());
    TlsPeer peer(ctx.Get());
    peer.Serve(SayOkAndWait);
    Client c;
    c.s.SetTlsFingerprint(SelfSigned().Fingerprint());
    c.s.SetMultiThreaded(true);
    std::string error;
    c.onData = [&] {
        std::string line;
        try {
            c.s.ReadLine(1, line);
        } catch (const ESocketException& e) {
            error = e.what();
        }
        c.s.Close();
    };
    c.Connect(peer.Port());
    ASSERT_TRUE(c.WaitClosed());
    peer.Join();
    EXPECT_EQ(error, "ReadLine: not available with TLS");
    EXPECT_EQ(c.got, "ok");
}

TEST(TTlsWSocket, ACutWithoutCloseNotifyIsTruncationAfterAllData)
{
    ServerContext ctx(SelfSigned());
    TlsPeer peer(ctx.Get());
    const std::string data = Pattern(300000, 3);
    peer.Serve([&](SSL* ssl, int fd) {
        SslWriteAll(ssl, data);
        ::shutdown(fd, SHUT_WR);  // TCP close, no close_notify
        char b[64];
        std::size_t n = 0;
        while (SSL_read_ex(ssl, b, sizeof b, &n) == 1) {
        }
    });
    Client c;
    c.s.SetTlsFingerprint(SelfSigned().Fingerprint());
    c.Connect(peer.Port());
    ASSERT_TRUE(c.WaitClosed()) << Joined(c.log.events);
    peer.Join();
    EXPECT_TRUE(c.got == data) << c.got.size();
    EXPECT_EQ(c.ClosedWith(), TlsErrTruncated);
    EXPECT_EQ(c.log.events.back(), "closed 13004");
    EXPECT_NE(c.s.TlsErrorDetail().find("close_notify"), std::string::npos);
}

TEST(TTlsWSocket, AResetIsTruncationAndABadRecordIsAProtocolError)
{
    ServerContext ctx(SelfSigned());
    {
        TlsPeer peer(ctx.Get());
        peer.Serve([&](SSL* ssl, int fd) {
            SslWriteAll(ssl, "partial");
            usleep(100000);
            const linger hard{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            ::shutdown(fd, SHUT_RDWR);
        });
        Client c;
        c.s.SetTlsFingerprint(SelfSigned().Fingerprint());
        c.Connect(peer.Port());
        ASSERT_TRUE(c.WaitClosed()) << Joined(c.log.events);
        peer.Join();
        EXPECT_EQ(c.got, "partial");
        EXPECT_EQ(c.ClosedWith(), TlsErrTruncated);
    }
    {
        TlsPeer peer(ctx.Get());
        peer.Serve([&](SSL* ssl, int fd) {
            SslWriteAll(ssl, "good");
            usleep(100000);
            // An application-data record that does not decrypt.
            std::string bad = std::string("\x17\x03\x03\x00\x20", 5) + std::string(32, 'x');
            ::send(fd, bad.data(), bad.size(), MSG_NOSIGNAL);
            char b[16];
            std::size_t n = 0;
            while (SSL_read_ex(ssl, b, sizeof b, &n) == 1) {
            }
        });
        Client c;
        c.s.SetTlsFingerprint(SelfSigned().Fingerprint());
        c.Connect(peer.Port());
        ASSERT_TRUE(c.WaitClosed()) << Joined(c.log.events);
        peer.Join();
        EXPECT_EQ(c.got, "good");
        EXPECT_EQ(c.ClosedWith(), TlsErrProtocol);
        EXPECT_FALSE(c.s.TlsErrorDetail().empty());
    }
}

TEST(TTlsWSocket, NoNewDataEventBeforeAReceiveAndAnUploadPacedByDataSent)
{
    ServerContext ctx(SelfSigned());
    // A handler that does not receive gets no second OnDataAvailable until Receive is called.
    {
        TlsPeer peer(ctx.Get());
        peer.Serve([&](SSL* ssl, int) {
            SslWriteAll(ssl, "abc");
            usleep(100000);
            SslWriteAll(ssl, "def");
            SSL_shutdown(ssl);
            char b;
            std::size_t n = 0;
            SSL_read_ex(ssl, &b, 1, &n);
        });
        Client c;
        c.s.SetTlsFingerprint(SelfSigned().Fingerprint());
        int calls = 0;
        bool reading = false;
        c.s.OnDataAvailable = [&](QObject*, std::uint16_t) {
            ++calls;
            if (!reading) return;
            char buf[64];
            const int n = c.s.Receive(buf, sizeof buf);
            if (n > 0) c.got.append(buf, static_cast<std::size_t>(n));
        };
        c.Connect(peer.Port());
        ASSERT_TRUE(ProcessEventsUntil([&] { return calls > 0; }, 5000));
        ProcessEventsFor(400);
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(c.ClosedWith(), -1);
        reading = true;
        char buf[64];
        const int n = c.s.Receive(buf, sizeof buf);
        ASSERT_GT(n, 0);
        c.got.append(buf, static_cast<std::size_t>(n));
        ASSERT_TRUE(c.WaitClosed()) << Joined(c.log.events);
        peer.Join();
        EXPECT_EQ(c.got, "abcdef");
        EXPECT_EQ(c.ClosedWith(), 0);
    }
    // An upload the way the FTP engine sends a file: one block per OnDataSent, then Close.
    {
        const std::string data = Pattern(3u << 20, 5);
        TlsPeer peer(ctx.Get());
        std::string serverGot;
        int serverEnd = -1;
        peer.Serve([&](SSL* ssl, int) {
            serverGot = SslReadN(ssl, data.size());
            SslWriteAll(ssl, "k");
            char b;
            std::size_t n = 0;
            serverEnd = SSL_get_error(ssl, SSL_read_ex(ssl, &b, 1, &n));
        });
        Client c;
        c.s.SetTlsFingerprint(SelfSigned().Fingerprint());
        std::size_t sent = 0;
        int dataSent = 0;
        bool allAccepted = true;
        c.s.OnDataSent = [&](QObject*, std::uint16_t) {
            ++dataSent;
            if (sent == data.size()) return;
            const std::size_t n = std::min<std::size_t>(100000, data.size() - sent);
            allAccepted =
                allAccepted && c.s.Send(data.data() + sent, static_cast<int>(n)) == static_cast<int>(n);
            sent += n;
        };
        c.onData = [&] {
            if (c.got == "k") c.s.Close();  // the server has everything
        };
        c.s.SetLingerOnOff(wsLingerOff);  // as the FTP engine's data connections
        c.Connect(peer.Port());
        ASSERT_TRUE(c.WaitClosed()) << Joined(c.log.events);
        peer.Join();
        EXPECT_EQ(serverGot.size(), data.size());
        EXPECT_TRUE(serverGot == data);
        EXPECT_EQ(serverEnd, SSL_ERROR_ZERO_RETURN);
        EXPECT_EQ(c.ClosedWith(), 0);
        EXPECT_GT(dataSent, 30);
        EXPECT_TRUE(allAccepted);
    }
}

TEST(TTlsWSocket, CertificatesVerificationPinsAndTheVerifyEvent)
{
    const Authority& authority = TrustedAuthority();

    struct Row {
        const char* what;
        const Identity* id;
        std::string hostName;
        std::string pin;
        bool acceptInEvent;
        int handshake;
        bool verified;
        std::string reason;
    };
    std::string lowerPin;
    for (const char ch : SelfSigned().Fingerprint())
        if (ch != ':') lowerPin.push_back(static_cast<char>(std::tolower(ch)));
    const std::vector<Row> rows = {
        {"self-signed refused", &SelfSigned(), "", "", false, TlsErrCertificate, false,
         "self-signed certificate"},
        {"self-signed trusted by the event", &SelfSigned(), "", "", true, 0, false,
         "self-signed certificate"},
        {"self-signed pinned (case and separators ignored)", &SelfSigned(), "", lowerPin, false,
         0, false, "self-signed certificate"},
        {"authority-signed for 127.0.0.1", &authority.leaf, "", "", false, 0, true, ""},
        {"authority-signed for localhost", &authority.leaf, "localhost", "", false, 0, true, ""},
        {"authority-signed, other host name", &authority.leaf, "ftp.example.org", "", false,
         TlsErrCertificate, false, "host name mismatch"},
        {"authority-signed, another pin", &authority.leaf, "", SelfSigned().Fingerprint(), false,
         TlsErrFingerprintMismatch, true, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ServerContext ctx(*row.id);
        TlsPeer peer(ctx.Get());
        peer.Serve(SayOkAndWait);
        Client c;
        c.s.SetTlsHostName(row.hostName);
        c.s.SetTlsFingerprint(row.pin);
        bool preset = false;
        c.s.OnTlsVerify = [&](QObject*, const TTlsCertificateInfo& info, bool& accept) {
            c.seen = info;
            ++c.verifyCalls;
            preset = accept;
            if (row.acceptInEvent) accept = true;
        };
        c.onData = [&] {
            if (c.got == "ok") c.s.Close();
        };
        c.Connect(peer.Port());
        ASSERT_TRUE(c.WaitClosed()) << Joined(c.log.events);
        peer.Join();
        EXPECT_EQ(c.verifyCalls, 1);
        EXPECT_EQ(c.seen.Sha256Fingerprint, row.id->Fingerprint());
        EXPECT_EQ(c.seen.Sha256Fingerprint.size(), 95u);
        EXPECT_EQ(c.seen.Verified, row.verified);
        EXPECT_EQ(c.seen.Reason, row.reason);
        EXPECT_TRUE(IsUtcTime(c.seen.NotBefore)) << c.seen.NotBefore;
        EXPECT_TRUE(IsUtcTime(c.seen.NotAfter)) << c.seen.NotAfter;
        EXPECT_EQ(c.s.PeerCertificate().Sha256Fingerprint, c.seen.Sha256Fingerprint);
        EXPECT_EQ(preset, row.handshake == 0 && !row.acceptInEvent);
        EXPECT_TRUE(c.log.Has("handshake " + std::to_string(row.handshake)))
            << Joined(c.log.events);
        EXPECT_EQ(c.ClosedWith(), row.handshake);
        if (row.handshake == 0) {
            EXPECT_EQ(c.got, "ok");
        } else {
            EXPECT_EQ(c.got, "");
            EXPECT_FALSE(c.log.Has("sent 0"));
            EXPECT_LT(c.Index("handshake " + std::to_string(row.handshake)),
                      c.Index("closed " + std::to_string(row.handshake)));
            EXPECT_FALSE(c.s.TlsErrorDetail().empty());
        }
    }
    // The names, as one line each.
    ServerContext ctx(authority.leaf);
    TlsPeer peer(ctx.Get());
    peer.Serve(SayOkAndWait);
    Client c;
    c.onData = [&] { c.s.Close(); };
    c.Connect(peer.Port());
    ASSERT_TRUE(c.WaitClosed());
    EXPECT_EQ(c.seen.Subject, "CN=localhost, O=Zarvos, C=DE");
    EXPECT_EQ(c.seen.Issuer, "CN=Zarvos Test CA, O=Zarvos, C=DE");
}

TEST(TTlsWSocket, GarbageInsteadOfAHandshakeAndAStalledHandshake)
{
    // Garbage: a plain FTP greeting where the server's hello should be.
    {
        std::uint16_t port = 0;
        RawFd listener = testsupport::ListenLoopback(port);
        std::thread server([&] {
            RawFd peer = testsupport::AcceptWithin(listener, 10000);
            if (!peer.Valid()) return;
            testsupport::SendAll(peer, "220 Welcome, this is not a TLS server\r\n");
            testsupport::ReadUntilClosed(peer, 10000);
        });
        Client c;
        c.Connect(port);
        ASSERT_TRUE(c.WaitClosed(10000)) << Joined(c.log.events);
        server.join();
        EXPECT_EQ(c.log.events, (std::vector<std::string>{"connected 0", "handshake 13001",
                                                          "closed 13001"}));
        EXPECT_FALSE(c.s.TlsErrorDetail().empty());
        EXPECT_EQ(c.verifyCalls, 0);
    }
    // Stalled: the server takes the connection and says nothing.
    {
        std::uint16_t port = 0;
        RawFd listener = testsupport::ListenLoopback(port);
        std::thread server([&] {
            RawFd peer = testsupport::AcceptWithin(listener, 10000);
            if (peer.Valid()) testsupport::ReadUntilClosed(peer, 10000);
        });
        Client c;
        c.s.SetTlsHandshakeTimeout(1);
        c.Connect(port);
        ASSERT_TRUE(c.WaitClosed(5000)) << Joined(c.log.events);
        server.join();
        EXPECT_EQ(c.log.events, (std::vector<std::string>{"connected 0", "handshake 13006",
                                                          "closed 13006"}));
        EXPECT_EQ(SocketErrorText(TlsErrHandshakeTimeout), TlsErrorText(TlsErrHandshakeTimeout));
    }
}

TEST(TTlsWSocket, ASecondConnectionResumesTheSessionWithTls13And12)
{
    for (const int version : {TLS1_3_VERSION, TLS1_2_VERSION}) {
        const std::string name = version == TLS1_3_VERSION ? "TLSv1.3" : "TLSv1.2";
        SCOPED_TRACE(name);
        ServerContext ctx(SelfSigned());
        SSL_CTX_set_max_proto_version(ctx.Get(), version);
        TlsPeer peer(ctx.Get());
        bool serverReused = true;
        peer.Serve([&](SSL* ssl, int fd) {
            serverReused = SSL_session_reused(ssl) == 1;
            SayOkAndWait(ssl, fd);
        });
        Client first;
        first.s.SetTlsFingerprint(SelfSigned().Fingerprint());
        TTlsSessionPtr session;
        std::string description;
        first.onData = [&] {
            session = first.s.TlsSession();
            description = first.s.TlsDescription();
            first.s.Close();
        };
        first.Connect(peer.Port());
        ASSERT_TRUE(first.WaitClosed());
        peer.Join();
        ASSERT_TRUE(session);
        EXPECT_EQ(description.rfind(name + " ", 0), 0u) << description;
        EXPECT_FALSE(first.s.TlsSessionReused());
        EXPECT_FALSE(serverReused);
        EXPECT_EQ(first.s.TlsSession(), session);  // kept after the close

        // Two connections offer the same session (as data connections offer the control
        // connection's): both resume.
        for (int i = 0; i < 2; ++i) {
            peer.Serve([&](SSL* ssl, int fd) {
                serverReused = SSL_session_reused(ssl) == 1;
                SayOkAndWait(ssl, fd);
            });
            Client next;
            next.s.SetTlsFingerprint(SelfSigned().Fingerprint());
            next.s.SetTlsResumeSession(session);
            bool reused = false;
            next.onData = [&] {
                reused = next.s.TlsSessionReused();
                next.s.Close();
            };
            next.Connect(peer.Port());
            ASSERT_TRUE(next.WaitClosed());
            peer.Join();
            EXPECT_TRUE(reused);
            EXPECT_TRUE(serverReused);
            EXPECT_EQ(next.got, "ok");
            EXPECT_EQ(next.ClosedWith(), 0);
            // A resumed handshake still shows the certificate (the session keeps it).
            EXPECT_EQ(next.s.PeerCertificate().Sha256Fingerprint, SelfSigned().Fingerprint());
        }
    }
}

TEST(TTlsWSocket, StartTlsAfterAPlainExchange)
{
    ServerContext ctx(SelfSigned());
    TlsPeer peer(ctx.Get());
    std::string serverGot;
    peer.Serve(
        [&](SSL* ssl, int) {
            serverGot = SslReadN(ssl, 4);
            SslWriteAll(ssl, "pong");
            SSL_shutdown(ssl);
            char b;
            std::size_t n = 0;
            SSL_read_ex(ssl, &b, 1, &n);
        },
        [](int fd) {
            const std::string reply = "234 AUTH TLS successful\r\n";
            ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        });
    Client c;
    c.s.SetTlsFingerprint(SelfSigned().Fingerprint());
    bool handshakeAlready = false;
    c.onData = [&] {
        if (c.got == "234 AUTH TLS successful\r\n" && !c.s.TlsHandshaking() && !c.s.TlsActive()) {
            c.got.clear();
            c.s.StartTls();
        }
    };
    c.s.OnTlsHandshakeDone = [&](QObject*, std::uint16_t e) {
        c.log.events.push_back("handshake " + std::to_string(e));
        handshakeAlready = c.s.TlsActive();
        c.s.Send("ping", 4);
    };
    Address(c.s, peer.Port());
    c.s.Connect();  // plain
    ASSERT_TRUE(c.WaitClosed()) << Joined(c.log.events);
    peer.Join();
    EXPECT_TRUE(handshakeAlready);
    EXPECT_TRUE(c.s.Tls());
    EXPECT_EQ(serverGot, "ping");
    EXPECT_EQ(c.got, "pong");
    EXPECT_EQ(c.ClosedWith(), 0);
}

TEST(TTlsWSocket, DupTakesAnAcceptedConnectionAndIsTheTlsClient)
{
    ServerContext ctx(SelfSigned());
    TlsPeer peer(ctx.Get());
    std::uint16_t port = 0;
    RawFd listener = testsupport::ListenLoopback(port);
    RawFd remote = testsupport::ConnectLoopback(port);
    RawFd local = testsupport::AcceptWithin(listener, 5000);
    ASSERT_TRUE(local.Valid());
    std::string serverGot;
    peer.ServeOn(std::move(remote), [&](SSL* ssl, int) {
        serverGot = SslReadN(ssl, 2);
        SslWriteAll(ssl, "ho");
        SSL_shutdown(ssl);
        char b;
        std::size_t n = 0;
        SSL_read_ex(ssl, &b, 1, &n);
    });
    Client c;
    c.s.SetTls(true);
    c.s.SetTlsHostName("127.0.0.1");
    c.s.SetTlsFingerprint(SelfSigned().Fingerprint());
    c.s.Dup(local.Release());
    EXPECT_TRUE(c.s.TlsHandshaking());
    c.s.Send("hi", 2);  // held until the handshake is done
    ASSERT_TRUE(c.WaitClosed()) << Joined(c.log.events);
    peer.Join();
    EXPECT_TRUE(peer.HandshakeOk());
    EXPECT_EQ(serverGot, "hi");
    EXPECT_EQ(c.got, "ho");
    EXPECT_EQ(c.ClosedWith(), 0);
    EXPECT_EQ(c.Index("handshake 0"), 0) << Joined(c.log.events);
    EXPECT_GT(c.Index("sent 0"), 0) << Joined(c.log.events);
}

// Runs the same plain script on a component and records its events.
template <class Socket>
std::vector<std::string> PlainScript(std::string& got)
{
    Socket s;
    EventLog log;
    log.Attach(s);
    CollectInto(s, got);
    ConnectedPair pair;
    if (!pair.Connect(s)) return {"no connection"};
    testsupport::SendAll(pair.peer, "abc");
    ProcessEventsUntil([&] { return got == "abc"; }, 5000);
    s.Send("xyz", 3);
    const std::string peerGot = testsupport::ReadUpTo(pair.peer, 3, 5000);
    pair.peer.Reset();
    ProcessEventsUntil([&] { return log.Has("closed 0"); }, 5000);
    log.events.push_back("peer got " + peerGot);
    return log.events;
}

TEST(TTlsWSocket, TlsOffIsThePlainComponentAndTheErrorTexts)
{
    std::string plainGot;
    std::string tlsGot;
    const auto plain = PlainScript<TWSocket>(plainGot);
    const auto tls = PlainScript<TTlsWSocket>(tlsGot);
    EXPECT_EQ(tls, plain);
    EXPECT_EQ(plain.back(), "peer got xyz") << Joined(plain);
    EXPECT_EQ(std::count(plain.begin(), plain.end(), "closed 0"), 1) << Joined(plain);
    EXPECT_EQ(tlsGot, "abc");
    EXPECT_EQ(plainGot, "abc");

    // SendFile is refused as soon as TLS is asked for.
    TTlsWSocket s;
    s.SetTls(true);
    std::int64_t offset = 0;
    EXPECT_EQ(s.SendFile(0, offset, 1), -1);
    EXPECT_EQ(s.LastError(), WSAEOPNOTSUPP);

    for (int e = TlsErrHandshake; e <= TlsErrUnavailable; ++e) {
        EXPECT_FALSE(TlsErrorText(e).empty()) << e;
        EXPECT_EQ(SocketErrorText(e), TlsErrorText(e));
    }
    EXPECT_EQ(TlsErrorText(10054), "");
    EXPECT_EQ(SocketErrorText(13000), "Not a WinSock error");
}

}  // namespace
