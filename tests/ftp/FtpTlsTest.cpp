// The engine with explicit FTPS: against pyftpdlib's TLS handler (login, listing, byte-exact
// transfers in active and passive mode, restart, abort, a pinned and a refused certificate) and
// against scripted TLS servers (Python's ssl) for what a real server does not do: AUTH TLS
// refused, garbage or silence instead of a handshake, a data connection cut without close_notify,
// a plain data connection after PROT P. The password never reaches a server in the clear.
#include "FtpTestUtil.h"
#include "peers/FtpServerFixture.h"

#include <QTemporaryDir>

#include <algorithm>

using namespace ftptest;

namespace {

// A one-client FTPS server: PORT SCENARIO CERT KEY. Every command line it reads is printed as
// "PLAIN <line>" or "TLS <line>". Scenarios: "500", "534" (AUTH TLS refused), "garbage" (bytes
// that are no handshake after 234), "stall" (no handshake reply), and over a secured session
// with one passive download of 102400 bytes: "cut" (60000 bytes, then TCP closed without
// close_notify), "sized" (all bytes announced in the 150 reply, then cut the same way), "plain"
// (a plain data connection after PROT P), "prot" (PROT P refused with 534).
const char* const kScriptedTlsServer = R"PY(import os, socket, ssl, sys, time
port, scenario, cert, key = sys.argv[1:5]
ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
ctx.load_cert_chain(cert, key)
def log(text):
    print(text, flush=True)
class Control:
    def __init__(self, sock, secure):
        self.sock, self.secure, self.buf = sock, secure, b""
    def send(self, text):
        self.sock.sendall(text.encode() + b"\r\n")
    def read(self):
        while b"\r\n" not in self.buf:
            try:
                data = self.sock.recv(4096)
            except (OSError, ssl.SSLError):
                return None
            if not data:
                return None
            self.buf += data
        line, self.buf = self.buf.split(b"\r\n", 1)
        text = line.decode("latin-1")
        log(("TLS " if self.secure else "PLAIN ") + text)
        return text
def drain(sock):
    try:
        while sock.recv(4096):
            pass
    except (OSError, ssl.SSLError):
        pass
def cut(sock):
    raw = socket.socket(fileno=os.dup(sock.fileno()))
    raw.shutdown(socket.SHUT_RDWR)
    raw.close()
    sock.close()
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", int(port)))
listener.listen(4)
listener.settimeout(30)
while True:
    # The test's probe of the port connects and closes at once: wait for the real client.
    conn, _ = listener.accept()
    conn.settimeout(10)
    c = Control(conn, False)
    try:
        c.send("220 scripted TLS server")
    except OSError:
        continue
    if c.read() is not None:
        break
if scenario in ("500", "534"):
    c.send(scenario + " AUTH TLS not available here")
    while c.read() is not None:
        pass
    sys.exit(0)
c.send("234 AUTH TLS ok")
if scenario == "garbage":
    conn.sendall(b"HTTP/1.1 400 this is not a TLS handshake\r\n\r\n" * 4)
    drain(conn)
    sys.exit(0)
if scenario == "stall":
    drain(conn)
    sys.exit(0)
c = Control(ctx.wrap_socket(conn, server_side=True), True)
data_listener = None
payload = bytes(range(256)) * 400
while True:
    line = c.read()
    if line is None:
        break
    verb = line.split(" ")[0].upper()
    if verb == "USER":
        c.send("331 password please")
    elif verb == "PASS":
        c.send("230 logged in")
    elif verb == "PROT" and scenario == "prot":
        c.send("534 PROT P refused")
    elif verb in ("PBSZ", "PROT", "TYPE"):
        c.send("200 ok")
    elif verb == "EPSV":
        data_listener = socket.socket()
        data_listener.bind(("127.0.0.1", 0))
        data_listener.listen(1)
        data_listener.settimeout(10)
        c.send("229 Entering Extended Passive Mode (|||%d|)" % data_listener.getsockname()[1])
    elif verb == "RETR":
        sized = scenario == "sized"
        c.send("150 Opening BINARY mode data connection" +
               (" for f (%d bytes)." % len(payload) if sized else "."))
        data, _ = data_listener.accept()
        data.settimeout(10)
        if scenario == "plain":
            data.sendall(b"plain bytes where TLS records belong\r\n" * 50)
            time.sleep(0.5)
            data.close()
        else:
            secured = ctx.wrap_socket(data, server_side=True)
            secured.sendall(payload if sized else payload[:60000])
            time.sleep(0.2)
            cut(secured)
        c.send("226 Transfer complete")
    elif verb == "QUIT":
        c.send("221 bye")
        break
    else:
        c.send("502 not here")
)PY";

class TlsScript {
public:
    bool Start(const QString& scenario)
    {
        if (!dir_.isValid() ||
            !testsupport::MakeSelfSignedCertificate(dir_.path(), cert_, key_, fingerprint_))
            return false;
        for (int attempt = 0; attempt < 3; ++attempt) {
            port_ = testsupport::FreeTcpPort();
            if (!process_.Start(testsupport::SystemPython(),
                                {QStringLiteral("-c"), QString::fromLatin1(kScriptedTlsServer),
                                 QString::number(port_), scenario, cert_, key_}))
                return false;
            if (testsupport::WaitForPort(port_, 15000) && process_.Running()) return true;
            process_.Stop();
        }
        return false;
    }
    // Everything the script printed, once it has ended (bounded).
    QString Transcript()
    {
        ProcessEventsUntil([&] { return !process_.Running(); }, 15000);
        output_ += process_.Output();
        return output_;
    }
    std::uint16_t Port() const { return port_; }
    std::string Fingerprint() const { return fingerprint_.toStdString(); }

private:
    QTemporaryDir dir_;
    QString cert_, key_, fingerprint_, output_;
    std::uint16_t port_ = 0;
    testsupport::PeerProcess process_;
};

bool TlsPeersAvailable()
{
    static const bool available = testsupport::PyFtpServer::TlsAvailable();
    return available;
}

void ExpectNoCredentialsInTheClear(const QString& transcript)
{
    EXPECT_FALSE(transcript.contains(QLatin1String("PLAIN USER"))) << transcript.toStdString();
    EXPECT_FALSE(transcript.contains(QLatin1String("PLAIN PASS"))) << transcript.toStdString();
}

// ---- Scripted servers -------------------------------------------------------------------------

// Connects that must fail before anything of the login leaves the client.
TEST(FtpTlsScripted, ConnectEndsBeforeTheLoginWhenTheSessionCannotBeSecured)
{
    if (!TlsPeersAvailable()) GTEST_SKIP() << "python3-openssl or openssl not available";
    struct Row {
        const char* scenario;
        int result;            // 0: a TLS error number (13001 to 13007)
        const char* message;   // start of ErrorMessage
        const char* notice;    // a display line that must be there
    } const rows[] = {
        {"500", 500, "500 AUTH TLS not available here",
         "! The server refused AUTH TLS: 500 AUTH TLS not available here"},
        {"534", 534, "534 AUTH TLS not available here",
         "! The server refused AUTH TLS: 534 AUTH TLS not available here"},
        {"garbage", 0, "500 TLS handshake failed: ", "! TLS handshake failed: "},
        {"stall", 426, "426 Timeout", "< 234 AUTH TLS ok"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scenario);
        TlsScript script;
        ASSERT_TRUE(script.Start(QString::fromLatin1(row.scenario)));
        TFtpClient ftp;
        EngineLog log;
        log.Attach(ftp);
        Aim(ftp, script.Port());
        ftp.SetTlsMode(ftpTlsExplicit);
        ftp.SetTimeout(2);  // the stalled handshake ends by it
        EXPECT_FALSE(ftp.Connect());
        ProcessEventsFor(50);
        EXPECT_FALSE(ftp.Connected());
        ASSERT_EQ(log.done.size(), 1u);
        EXPECT_EQ(log.done[0].first, ftpConnectAsync);
        if (row.result != 0) {
            EXPECT_EQ(log.done[0].second, row.result);
        } else {
            EXPECT_GE(log.done[0].second, TlsErrHandshake);
            EXPECT_LE(log.done[0].second, TlsErrUnavailable);
            EXPECT_NE(ftp.ErrorMessage().find("(TLS error #"), std::string::npos);
        }
        EXPECT_EQ(ftp.ErrorMessage().rfind(row.message, 0), 0u) << ftp.ErrorMessage();
        EXPECT_TRUE(log.ShowsPrefix(row.notice));
        EXPECT_FALSE(log.ShowsPrefix("> USER"));
        EXPECT_FALSE(log.ShowsPrefix("> PASS"));
        const QString transcript = script.Transcript();
        EXPECT_TRUE(transcript.startsWith(QLatin1String("PLAIN AUTH TLS")))
            << transcript.toStdString();
        EXPECT_FALSE(transcript.contains(QLatin1String("USER"))) << transcript.toStdString();
        EXPECT_FALSE(transcript.contains(QLatin1String("PASS"))) << transcript.toStdString();
    }
}

// A secured download whose data connection does not end in order is never a success, unless
// the bytes announced in the 150 reply have all arrived; without PROT P no data connection is
// made at all.
TEST(FtpTlsScripted, DownloadEndsWellOnlyWithCloseNotifyOrTheAnnouncedSize)
{
    if (!TlsPeersAvailable()) GTEST_SKIP() << "python3-openssl or openssl not available";
    struct Row {
        const char* scenario;
        int result;
        const char* message;
    } const rows[] = {
        {"cut", 426, "426 Data connection closed without TLS close_notify after "},
        {"sized", 0, ""},
        {"plain", 426, "426 Data: TLS handshake failed: "},
        {"prot", 534, "534 PROT P refused"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scenario);
        TlsScript script;
        ASSERT_TRUE(script.Start(QString::fromLatin1(row.scenario)));
        QTemporaryDir local;
        const QString file = local.filePath(QStringLiteral("f"));
        TFtpClient ftp;
        EngineLog log;
        log.Attach(ftp);
        Aim(ftp, script.Port());
        ftp.SetTlsMode(ftpTlsExplicit);
        ftp.SetTlsFingerprint(script.Fingerprint());
        ftp.SetPassive(true);
        ftp.SetTimeout(10);
        ASSERT_TRUE(ftp.Connect()) << ftp.ErrorMessage();
        ftp.SetHostFileName("f");
        ftp.SetLocalFileName(Local(file));
        EXPECT_EQ(ftp.Get(), row.result == 0) << ftp.ErrorMessage();
        ProcessEventsFor(50);
        ASSERT_FALSE(log.done.empty());
        EXPECT_EQ(log.done.back(), std::make_pair(static_cast<int>(ftpGetAsync), row.result));
        EXPECT_EQ(ftp.ErrorMessage().rfind(row.message, 0), 0u) << ftp.ErrorMessage();
        if (row.result == 0) {
            EXPECT_EQ(ReadFile(file).size(), 102400u);
        }
        EXPECT_TRUE(log.Shows("> PROT P"));
        ftp.Quit();
        const QString transcript = script.Transcript();
        EXPECT_EQ(transcript.contains(QLatin1String("TLS EPSV")), row.result != 534)
            << transcript.toStdString();
        EXPECT_TRUE(transcript.contains(QLatin1String("TLS PASS pass")))
            << transcript.toStdString();
        ExpectNoCredentialsInTheClear(transcript);
    }
}

// ---- pyftpdlib's TLS handler ------------------------------------------------------------------

class FtpTlsServer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server_ = new testsupport::PyFtpServer();
        server_->SetTls(true);
        available_ = TlsPeersAvailable() && server_->Start();
    }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override
    {
        if (!available_) GTEST_SKIP() << "pyftpdlib with TLS not available (python3-openssl)";
        ASSERT_TRUE(local.isValid());
        log.Attach(ftp);
        Aim(ftp, server_->Port(), server_->User().toStdString(),
            server_->Password().toStdString());
        ftp.SetTlsMode(ftpTlsExplicit);
        ftp.SetTlsFingerprint(server_->CertificateFingerprint().toStdString());
        ftp.SetTimeout(30);
    }
    void TearDown() override
    {
        if (ftp.Connected()) ftp.Quit();
    }
    static QString ServerPath(const QString& name) { return server_->PathOf(name); }
    QString LocalPath(const QString& name) const { return local.filePath(name); }

    void RoundTrip(const QString& name, const std::string& data)
    {
        SCOPED_TRACE(name.toStdString());
        const QString up = LocalPath(name + QStringLiteral(".up"));
        const QString down = LocalPath(name + QStringLiteral(".down"));
        ASSERT_TRUE(WriteFile(up, data));
        const QByteArray sha = Sha256OfFile(up);
        ftp.SetHostFileName(name.toStdString());
        ftp.SetLocalFileName(Local(up));
        ASSERT_TRUE(ftp.Put()) << ftp.ErrorMessage();
        EXPECT_EQ(ftp.ByteCount(), static_cast<std::int64_t>(data.size()));
        EXPECT_EQ(Sha256OfFile(ServerPath(name)), sha);
        ftp.SetLocalFileName(Local(down));
        ASSERT_TRUE(ftp.Get()) << ftp.ErrorMessage();
        EXPECT_EQ(ftp.ByteCount(), static_cast<std::int64_t>(data.size()));
        EXPECT_EQ(Sha256OfFile(down), sha);
    }
    std::size_t IndexOf(const std::string& prefix) const
    {
        for (std::size_t i = 0; i < log.display.size(); ++i)
            if (log.display[i].rfind(prefix, 0) == 0) return i;
        return log.display.size();
    }

    static testsupport::PyFtpServer* server_;
    static bool available_;
    QTemporaryDir local;
    TFtpClient ftp;
    EngineLog log;
};

testsupport::PyFtpServer* FtpTlsServer::server_ = nullptr;
bool FtpTlsServer::available_ = false;

TEST_F(FtpTlsServer, LoginListingAndFilesByteExactInBothModes)
{
    for (const bool passive : {false, true}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        log.display.clear();
        ftp.SetPassive(passive);
        ASSERT_TRUE(ftp.Connect()) << ftp.ErrorMessage();
        // AUTH TLS, the handshake, then the login; PBSZ and PROT before the first data connection.
        const std::size_t auth = IndexOf("> AUTH TLS");
        const std::size_t secured = IndexOf("! TLS: TLSv1.");
        const std::size_t user = IndexOf("> USER ");
        EXPECT_LT(auth, secured);
        EXPECT_LT(secured, user);
        EXPECT_LT(user, log.display.size());
        EXPECT_TRUE(ftp.TlsActive());
        EXPECT_EQ(ftp.PeerCertificate().Sha256Fingerprint,
                  server_->CertificateFingerprint().toStdString());

        ASSERT_TRUE(WriteFile(ServerPath(QStringLiteral("listed.txt")), "abc"));
        ftp.SetHostFileName("");
        ftp.SetLocalFileName(Local(LocalPath(QStringLiteral("ftpdir.txt"))));
        ASSERT_TRUE(ftp.Dir()) << ftp.ErrorMessage();
        EXPECT_NE(ReadFile(LocalPath(QStringLiteral("ftpdir.txt"))).find("listed.txt"),
                  std::string::npos);
        EXPECT_LT(IndexOf("> PBSZ 0"), IndexOf("> PROT P"));
        EXPECT_LT(IndexOf("> PROT P"), IndexOf(passive ? "> EPSV" : "> PORT "));

        ftp.SetBinary(true);
        ASSERT_TRUE(ftp.TypeSet());
        RoundTrip(QStringLiteral("zero.bin"), "");
        RoundTrip(QStringLiteral("mib.bin"), Pattern(1 << 20, passive ? 3 : 4));
        EXPECT_EQ(std::count(log.display.begin(), log.display.end(), "> PROT P"), 1)
            << "once per session";
        ASSERT_TRUE(ftp.Quit());
    }
}

TEST_F(FtpTlsServer, HundredMebibytesByteExactInBothModes)
{
    for (const bool passive : {false, true}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        ftp.SetPassive(passive);
        ASSERT_TRUE(ftp.Connect()) << ftp.ErrorMessage();
        ftp.SetBinary(true);
        ASSERT_TRUE(ftp.TypeSet());
        RoundTrip(QStringLiteral("big.bin"), Pattern(100u << 20, passive ? 9 : 10));
        ASSERT_TRUE(ftp.Quit());
    }
}

TEST_F(FtpTlsServer, RestartAndAbort)
{
    ASSERT_TRUE(ftp.Connect()) << ftp.ErrorMessage();
    ExpectRestartAndAbort(ftp, log, QDir(server_->Directory()), QDir(local.path()));
}

// Without a pin the self-signed certificate is refused; with another pin too, naming both.
TEST_F(FtpTlsServer, CertificateRefusedWithoutItsPinAndWithAnother)
{
    const std::string presented = server_->CertificateFingerprint().toStdString();
    const std::string other(95, 'A');
    struct Row {
        std::string pin;
        int result;
        std::string message;
    } const rows[] = {
        {"", TlsErrCertificate, "500 TLS: the server's certificate " + presented + " was refused: "},
        {other, TlsErrFingerprintMismatch,
         "500 TLS: the server's certificate is not the trusted one: expected " + other +
             ", presented " + presented},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pin);
        std::vector<TTlsCertificateInfo> refused;
        ftp.OnTlsCertificate = [&](QObject*, const TTlsCertificateInfo& info) {
            refused.push_back(info);
            EXPECT_TRUE(log.done.empty()) << "before the connect completes";
        };
        log.done.clear();
        log.display.clear();
        ftp.SetTlsFingerprint(row.pin);
        EXPECT_FALSE(ftp.Connect());
        ProcessEventsFor(50);
        EXPECT_FALSE(ftp.Connected());
        ASSERT_EQ(log.done.size(), 1u);
        EXPECT_EQ(log.done[0].second, row.result);
        EXPECT_EQ(ftp.ErrorMessage().rfind(row.message, 0), 0u) << ftp.ErrorMessage();
        EXPECT_FALSE(log.ShowsPrefix("> USER"));
        ASSERT_EQ(refused.size(), 1u);
        const TTlsCertificateInfo& info = refused[0];
        EXPECT_EQ(info.Sha256Fingerprint, presented);
        EXPECT_NE(info.Subject.find("CN=localhost"), std::string::npos) << info.Subject;
        EXPECT_EQ(info.Issuer, info.Subject) << "self-signed";
        EXPECT_NE(info.NotBefore.find("UTC"), std::string::npos) << info.NotBefore;
        EXPECT_NE(info.NotAfter.find("UTC"), std::string::npos) << info.NotAfter;
        EXPECT_FALSE(info.Verified);
        EXPECT_FALSE(info.Reason.empty());
        ftp.OnTlsCertificate = nullptr;
    }
}

}  // namespace
