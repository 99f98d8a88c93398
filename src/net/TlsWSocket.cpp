// TTlsWSocket: OpenSSL 3 between the component's raw bytes and its user (see TlsWSocket.h).
//
// Plumbing: the SSL object reads and writes through a small BIO of our own. Its read calls the
// base component's Receive, so records go from the platform straight into OpenSSL's
// (read-ahead) buffer and are decrypted from there into the user's Receive buffer. Its write
// appends the records to the base component's send queue (64 KiB chunks while TLS runs), and
// after each batch (up to kSendBatch plaintext bytes) the base Send hands the queue to the
// platform, so the queue's pacing, OnDataSent and error handling stay the base component's.
// The base component's events are taken over through its virtual triggers: its data-available
// event drives the handshake and the delivery of decrypted data, its data-sent event is passed
// on only while the connection is secured, and the close events get the TLS numbers.
#include "net/TlsWSocket.h"

#include "platform/DebugOutput.h"

#include <QTimer>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <utility>

// An owned reference to an OpenSSL session.
class TTlsSession {
public:
    explicit TTlsSession(SSL_SESSION* Session) : session_(Session) {}
    ~TTlsSession() { SSL_SESSION_free(session_); }
    TTlsSession(const TTlsSession&) = delete;
    TTlsSession& operator=(const TTlsSession&) = delete;
    SSL_SESSION* Get() const { return session_; }

private:
    SSL_SESSION* session_;
};

namespace {

constexpr std::size_t kSendBatch = 64 * 1024;   // plaintext encrypted per raw Send
constexpr std::size_t kReadBuffer = 256 * 1024; // OpenSSL's read-ahead buffer
constexpr int kQueueChunk = 64 * 1024;          // send queue chunks while TLS runs

SSL_CTX* g_context = nullptr;
bool g_contextFailed = false;
BIO_METHOD* g_bioMethod = nullptr;
std::string g_testTrustFile;

void Debug(const std::string& text)
{
    platform::DebugOutput("TLS: " + text + "\r\n");
}

std::string Hex(const unsigned char* p, unsigned n)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(n * 3);
    for (unsigned i = 0; i < n; ++i) {
        if (i) s.push_back(':');
        s.push_back(digits[p[i] >> 4]);
        s.push_back(digits[p[i] & 15]);
    }
    return s;
}

// Only the hex digits, upper case (a pin may be written with other separators or none).
std::string NormalizedFingerprint(const std::string& s)
{
    std::string r;
    for (const char c : s)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            r.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    return r;
}

std::string NameText(const X509_NAME* name)
{
    if (!name) return {};
    BIO* b = BIO_new(BIO_s_mem());
    if (!b) return {};
    const unsigned long flags = (ASN1_STRFLGS_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) |
                                XN_FLAG_SEP_CPLUS_SPC | XN_FLAG_FN_SN | XN_FLAG_DN_REV;
    X509_NAME_print_ex(b, name, 0, flags);
    char* p = nullptr;
    const long n = BIO_get_mem_data(b, &p);
    std::string s = n > 0 ? std::string(p, static_cast<std::size_t>(n)) : std::string();
    BIO_free(b);
    return s;
}

std::string TimeText(const ASN1_TIME* t)
{
    std::tm tm{};
    if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return {};
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return buf;
}

}  // namespace

// The OpenSSL callbacks and the shared context (friends of the component).
struct TTlsGlue {
    static int BioRead(BIO* b, char* out, int len)
    {
        BIO_clear_retry_flags(b);
        auto* self = static_cast<TTlsWSocket*>(BIO_get_data(b));
        if (!self || len <= 0 || self->peerEof_) return 0;
        if (self->netError_ != 0) return -1;
        const int r = self->TCustomWSocket::Receive(out, len);
        self->readDry_ = false;
        if (r > 0) return r;
        if (r == 0) {
            self->peerEof_ = true;
            return 0;
        }
        const int e = self->LastError();
        if (e == WSAEWOULDBLOCK || e == WSAEINTR) {
            self->readDry_ = e == WSAEWOULDBLOCK;
            BIO_set_retry_read(b);
            return -1;
        }
        self->netError_ = e;
        return -1;
    }
    // Encrypted bytes go straight into the base component's send queue (FlushOut sends them).
    static int BioWrite(BIO* b, const char* data, int len)
    {
        BIO_clear_retry_flags(b);
        auto* self = static_cast<TTlsWSocket*>(BIO_get_data(b));
        if (!self || len < 0) return -1;
        if (self->captureOut_)
            self->captured_.append(data, static_cast<std::size_t>(len));
        else
            self->QueueRaw(data, len);
        self->outPending_ = true;
        return len;
    }
    static long BioCtrl(BIO*, int cmd, long, void*) { return cmd == BIO_CTRL_FLUSH ? 1 : 0; }
    static int BioCreate(BIO* b)
    {
        BIO_set_init(b, 1);
        return 1;
    }
    // The newest resumable session of a connection (TLS 1.3 tickets come after the handshake).
    static int NewSession(SSL* ssl, SSL_SESSION* session)
    {
        auto* self = static_cast<TTlsWSocket*>(SSL_get_app_data(ssl));
        if (!self || !SSL_SESSION_is_resumable(session)) return 0;
        self->session_ = std::make_shared<TTlsSession>(session);
        return 1;  // the reference is ours
    }

    static BIO_METHOD* SocketBio()
    {
        if (g_bioMethod) return g_bioMethod;
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "zarvos TWSocket");
        if (!m) return nullptr;
        BIO_meth_set_read(m, &BioRead);
        BIO_meth_set_write(m, &BioWrite);
        BIO_meth_set_ctrl(m, &BioCtrl);
        BIO_meth_set_create(m, &BioCreate);
        g_bioMethod = m;
        return m;
    }

    // One client context per process, made on first use.
    static SSL_CTX* Context()
    {
        if (g_context || g_contextFailed) return g_context;
        SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
        if (!ctx) {
            g_contextFailed = true;
            return nullptr;
        }
        SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
        if (SSL_CTX_set_default_verify_paths(ctx) != 1) Debug("no default trust store");
        SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
        SSL_CTX_sess_set_new_cb(ctx, &NewSession);
        SSL_CTX_set_default_read_buffer_len(ctx, kReadBuffer);
        if (!g_testTrustFile.empty())
            SSL_CTX_load_verify_locations(ctx, g_testTrustFile.c_str(), nullptr);
        ERR_clear_error();
        g_context = ctx;
        return ctx;
    }
};

// ---- Construction and properties ------------------------------------------------------------

TTlsWSocket::TTlsWSocket(QObject* AOwner) : TWSocket(AOwner) {}

TTlsWSocket::~TTlsWSocket()
{
    FreeSsl();
}

void TTlsWSocket::SetTlsTrustStoreForTests(const std::string& CaPemFile)
{
    g_testTrustFile = CaPemFile;
    if (g_context) {
        SSL_CTX_load_verify_locations(g_context, CaPemFile.c_str(), nullptr);
        ERR_clear_error();
    }
}

bool TTlsWSocket::Tls() const { return tls_; }
void TTlsWSocket::SetTls(bool On) { tls_ = On; }
bool TTlsWSocket::TlsActive() const { return ssl_ && connActive_; }
bool TTlsWSocket::TlsHandshaking() const { return ssl_ && handshaking_; }
const std::string& TTlsWSocket::TlsHostName() const { return hostName_; }
void TTlsWSocket::SetTlsHostName(const std::string& Name) { hostName_ = Name; }
const std::string& TTlsWSocket::TlsFingerprint() const { return fingerprint_; }
void TTlsWSocket::SetTlsFingerprint(const std::string& Fingerprint) { fingerprint_ = Fingerprint; }
int TTlsWSocket::TlsHandshakeTimeout() const { return handshakeTimeout_; }
void TTlsWSocket::SetTlsHandshakeTimeout(int Seconds) { handshakeTimeout_ = std::max(0, Seconds); }
void TTlsWSocket::SetTlsResumeSession(TTlsSessionPtr Session) { resumeSession_ = std::move(Session); }
bool TTlsWSocket::TlsSessionReused() const { return sessionReused_; }
const TTlsCertificateInfo& TTlsWSocket::PeerCertificate() const { return peerCert_; }
const std::string& TTlsWSocket::TlsErrorDetail() const { return errorDetail_; }

TTlsSessionPtr TTlsWSocket::TlsSession() const
{
    if (session_) return session_;
    if (!ssl_ || !connActive_) return nullptr;
    SSL_SESSION* s = SSL_get1_session(ssl_);
    if (!s) return nullptr;
    if (!SSL_SESSION_is_resumable(s)) {
        SSL_SESSION_free(s);
        return nullptr;
    }
    return std::make_shared<TTlsSession>(s);
}

std::string TTlsWSocket::TlsDescription() const
{
    if (!TlsActive()) return {};
    const SSL_CIPHER* c = SSL_get_current_cipher(ssl_);
    return std::string(SSL_get_version(ssl_)) + " " + (c ? SSL_CIPHER_get_name(c) : "");
}

// ---- Connection start ---------------------------------------------------------------------

bool TTlsWSocket::Alive(std::uint64_t Gen) const
{
    return ssl_ && Gen == gen_ && HSocket() != INVALID_SOCKET;
}

void TTlsWSocket::ResetConnectionFlags()
{
    connTls_ = false;
    connActive_ = false;
    closeNotifySent_ = false;
    closeNotifyReceived_ = false;
    peerEof_ = false;
    netError_ = 0;
    ownClose_ = false;
    closeError_ = 0;
    sessionReused_ = false;
    handshakeReported_ = false;
    pendingShutdown_ = 0;
    shutdownAfterHandshake_ = 0;
    held_.clear();
}

void TTlsWSocket::Connect()
{
    if (!(HSocket() != INVALID_SOCKET && State() != wsClosed)) {
        FreeSsl();
        ResetConnectionFlags();
    }
    TWSocket::Connect();
}

void TTlsWSocket::Dup(TSocket NewHSocket)
{
    FreeSsl();
    ResetConnectionFlags();
    TWSocket::Dup(NewHSocket);
    if (tls_ && State() == wsConnected && HSocket() != INVALID_SOCKET && SocketType() == SOCK_STREAM)
        StartHandshake();
}

void TTlsWSocket::StartTls()
{
    if (State() != wsConnected || HSocket() == INVALID_SOCKET) {
        ReportError("StartTls: not connected");
        return;
    }
    if (ssl_) {
        ReportError("StartTls: TLS already active");
        return;
    }
    tls_ = true;
    ResetConnectionFlags();
    StartHandshake();
}

void TTlsWSocket::TriggerSessionConnected(std::uint16_t Error)
{
    // The TLS connection is set up before the user hears of the TCP connection, so that what
    // the handler sends is held for the handshake; the first flight leaves from the event loop
    // after the handler.
    if (Error == 0 && tls_ && !ssl_ && HSocket() != INVALID_SOCKET && State() == wsConnected &&
        SocketType() == SOCK_STREAM)
        StartHandshake();
    TWSocket::TriggerSessionConnected(Error);
}

void TTlsWSocket::StartHandshake()
{
    FreeSsl();
    ++gen_;
    connTls_ = true;
    handshaking_ = true;
    handshakeReported_ = false;
    awaitingReceive_ = false;
    errorDetail_.clear();
    peerCert_ = TTlsCertificateInfo{};
    session_.reset();
    const std::uint64_t g = gen_;

    ERR_clear_error();
    SSL_CTX* ctx = TTlsGlue::Context();
    BIO_METHOD* method = TTlsGlue::SocketBio();
    SSL* ssl = ctx && method ? SSL_new(ctx) : nullptr;
    BIO* bio = ssl ? BIO_new(method) : nullptr;
    if (!bio) {
        NoteSslError("setup");
        if (errorDetail_.empty()) errorDetail_ = "the TLS library could not be set up";
        SSL_free(ssl);
        // The end is reported from the event loop, as every handshake's.
        QTimer::singleShot(0, this, [this, g] {
            if (g == gen_ && handshaking_ && !ssl_) HandshakeFailed(TlsErrUnavailable);
        });
        return;
    }
    BIO_set_data(bio, this);
    SSL_set_bio(ssl, bio, bio);
    SSL_set_app_data(ssl, this);
    SSL_set_connect_state(ssl);
    SSL_set_read_ahead(ssl, 1);
    // The handshake completes whatever the certificate; the component decides afterwards from
    // the verification result OpenSSL records.
    SSL_set_verify(ssl, SSL_VERIFY_NONE, nullptr);
    const std::string host = hostName_.empty() ? Addr() : hostName_;
    if (!host.empty()) {
        in_addr a{};
        if (inet_pton(AF_INET, host.c_str(), &a) == 1) {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
        } else {
            SSL_set_tlsext_host_name(ssl, host.c_str());
            SSL_set1_host(ssl, host.c_str());
        }
    }
    if (resumeSession_) {
        // A copy is offered: OpenSSL takes a TLS 1.3 session it has resumed for used up, and
        // every data connection of an FTP session offers the control connection's.
        SSL_SESSION* copy = SSL_SESSION_dup(resumeSession_->Get());
        if (copy) {
            SSL_set_session(ssl, copy);
            SSL_SESSION_free(copy);  // the SSL object holds its own reference
        }
    }
    ERR_clear_error();
    ssl_ = ssl;
    outPending_ = false;
    captureOut_ = false;
    SetChunkSize(kQueueChunk);
    if (handshakeTimeout_ > 0) {
        if (!handshakeTimer_) {
            handshakeTimer_ = std::make_unique<QTimer>();
            handshakeTimer_->setSingleShot(true);
            QObject::connect(handshakeTimer_.get(), &QTimer::timeout, this, [this] {
                if (ssl_ && handshaking_) {
                    errorDetail_ = "the handshake took longer than " +
                                   std::to_string(handshakeTimeout_) + " s";
                    HandshakeFailed(TlsErrHandshakeTimeout);
                }
            });
        }
        handshakeTimer_->start(handshakeTimeout_ * 1000);
    }
    // The first flight goes out from the event loop (a failure is never reported inside
    // Connect, Dup or StartTls).
    PostProcessIncoming();
}

void TTlsWSocket::DoHandshake()
{
    const std::uint64_t g = gen_;
    ERR_clear_error();
    const int r = SSL_do_handshake(ssl_);
    const int e = r == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl_, r);
    if (e == SSL_ERROR_SSL || e == SSL_ERROR_SYSCALL) NoteSslError("handshake");
    FlushOut();  // the next flight, or the alert of a failure
    if (!Alive(g)) return;
    if (r == 1) {
        HandshakeFinished();
        return;
    }
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) return;
    int code = TlsErrHandshake;
    if (netError_ != 0 && !peerEof_) {
        code = netError_;
        errorDetail_ = SocketErrorText(code);
    } else if (peerEof_) {
        errorDetail_ = "the peer closed the connection during the handshake";
    }
    HandshakeFailed(code);
}

void TTlsWSocket::HandshakeFinished()
{
    const std::uint64_t g = gen_;
    handshaking_ = false;
    if (handshakeTimer_) handshakeTimer_->stop();

    TTlsCertificateInfo info;
    X509* cert = SSL_get0_peer_certificate(ssl_);
    const long result = SSL_get_verify_result(ssl_);
    if (cert) {
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned n = 0;
        if (X509_digest(cert, EVP_sha256(), md, &n) == 1) info.Sha256Fingerprint = Hex(md, n);
        info.Subject = NameText(X509_get_subject_name(cert));
        info.Issuer = NameText(X509_get_issuer_name(cert));
        info.NotBefore = TimeText(X509_get0_notBefore(cert));
        info.NotAfter = TimeText(X509_get0_notAfter(cert));
    }
    info.Verified = cert && result == X509_V_OK;
    if (!info.Verified) {
        if (!cert)
            info.Reason = "no certificate";
        else if (result == X509_V_ERR_HOSTNAME_MISMATCH || result == X509_V_ERR_IP_ADDRESS_MISMATCH)
            info.Reason = "host name mismatch";
        else
            info.Reason = X509_verify_cert_error_string(result);
    }
    peerCert_ = info;

    bool accept = false;
    int refusal = TlsErrCertificate;
    if (!fingerprint_.empty()) {
        refusal = TlsErrFingerprintMismatch;
        accept = !info.Sha256Fingerprint.empty() &&
                 NormalizedFingerprint(info.Sha256Fingerprint) ==
                     NormalizedFingerprint(fingerprint_);
    } else {
        accept = info.Verified;
    }
    if (OnTlsVerify) {
        OnTlsVerify(this, peerCert_, accept);
        if (!Alive(g)) return;
    }
    if (!accept) {
        if (refusal == TlsErrFingerprintMismatch)
            errorDetail_ = "the certificate's fingerprint " + info.Sha256Fingerprint +
                           " is not the trusted one " + fingerprint_;
        else
            errorDetail_ = "certificate verification failed: " + info.Reason;
        HandshakeFailed(refusal);
        return;
    }
    connActive_ = true;
    sessionReused_ = SSL_session_reused(ssl_) == 1;
    Debug("secured: " + TlsDescription() + (sessionReused_ ? " (resumed)" : ""));
    // The bytes held during the handshake go first (before anything the handler below sends);
    // either way one OnDataSent(0) follows the handshake, from the event loop.
    if (!held_.empty()) {
        std::string held;
        held.swap(held_);
        if (!EncryptAndSend(held.data(), held.size())) return;
    } else {
        TCustomWSocket::Send(nullptr, 0);
    }
    if (!Alive(g)) return;
    if (const int how = std::exchange(shutdownAfterHandshake_, 0); how != 0) {
        Shutdown(how);
        if (!Alive(g)) return;
    }
    ReportHandshakeEnd(0);
}

void TTlsWSocket::HandshakeFailed(int Code)
{
    const std::uint64_t g = gen_;
    handshaking_ = false;
    if (handshakeTimer_) handshakeTimer_->stop();
    if (errorDetail_.empty()) errorDetail_ = SocketErrorText(Code);
    Debug("handshake failed (" + std::to_string(Code) + "): " + errorDetail_);
    ReportHandshakeEnd(Code);
    if (g != gen_ || HSocket() == INVALID_SOCKET || State() == wsClosed) return;
    CloseWithError(Code);
}

void TTlsWSocket::ReportHandshakeEnd(int Code)
{
    if (handshakeReported_) return;
    handshakeReported_ = true;
    if (OnTlsHandshakeDone) OnTlsHandshakeDone(this, static_cast<std::uint16_t>(Code));
}

void TTlsWSocket::NoteSslError(const char* Where)
{
    const unsigned long e = ERR_peek_error();
    if (e == 0) return;
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    const char* reason = ERR_reason_error_string(e);
    errorDetail_ = reason ? reason : buf;
    Debug(std::string(Where) + ": " + buf);
    ERR_clear_error();
}

// ---- Receiving ------------------------------------------------------------------------------

bool TTlsWSocket::SetupFailing() const
{
    // TLS was asked for on this connection and could not be set up: its end is on its way, and
    // not one plain byte may pass meanwhile.
    return !ssl_ && connTls_ && handshaking_;
}

bool TTlsWSocket::TriggerDataAvailable(std::uint16_t Error)
{
    if (SetupFailing()) return false;
    if (!ssl_) return TWSocket::TriggerDataAvailable(Error);
    processPosted_ = false;
    readDry_ = false;
    return ProcessIncoming();
}

void TTlsWSocket::PostProcessIncoming()
{
    // Through the base component's own read event, so that the delivery runs where every
    // delivery runs (its rules against re-entry, its handling of the handlers' exceptions).
    if (processPosted_) return;
    processPosted_ = true;
    PostReadEvent();
}

bool TTlsWSocket::ProcessIncoming()
{
    // Returning false ends the base component's receive loop without a further read.
    if (!ssl_ || inDelivery_ || Paused()) return false;
    inDelivery_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{inDelivery_};
    const std::uint64_t g = gen_;
    if (handshaking_) {
        DoHandshake();
        if (!Alive(g) || handshaking_) return true;
    }
    if (!connActive_ || awaitingReceive_) return false;
    for (;;) {
        if (!Alive(g)) return true;
        if (Paused()) return false;
        if (SSL_pending(ssl_) == 0) {
            // The handler's Receive found the platform empty (and this event's receive loop
            // has its would-block): nothing to look for until the next read event.
            if (readDry_ && !SSL_has_pending(ssl_)) return true;
            char c = 0;
            std::size_t n = 0;
            ERR_clear_error();
            const int r = SSL_peek_ex(ssl_, &c, 1, &n);
            const int e = r == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl_, r);
            if (e == SSL_ERROR_SSL || e == SSL_ERROR_SYSCALL) NoteSslError("read");
            FlushOut();
            if (!Alive(g)) return true;
            if (r != 1) {
                if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) return true;
                EndOfStream(e);
                return true;
            }
        }
        if (!OnDataAvailable) return false;  // the data waits for a handler's Receive
        const std::uint64_t before = receiveCalls_;
        TCustomWSocket::TriggerDataAvailable(0);
        if (!Alive(g)) return true;
        if (receiveCalls_ == before) {
            // No new OnDataAvailable before a Receive (the data, and the platform's, wait).
            awaitingReceive_ = true;
            return false;
        }
    }
}

void TTlsWSocket::EndOfStream(int SslError)
{
    if (SslError == SSL_ERROR_ZERO_RETURN) {
        // The peer's close_notify: nothing can follow it. This side answers with its own and
        // ends the connection in order.
        closeNotifyReceived_ = true;
        Debug("close_notify received");
        Close();
        return;
    }
    if (peerEof_ || netError_ != 0) {
        errorDetail_ = "the connection ended without close_notify";
        Debug(errorDetail_);
        CloseWithError(TlsErrTruncated);
        return;
    }
    if (errorDetail_.empty()) errorDetail_ = "bad record";
    CloseWithError(TlsErrProtocol);
}

int TTlsWSocket::Receive(void* Buffer, int BufferSize)
{
    if (SetupFailing()) {
        SetLastErrorCode(WSAEWOULDBLOCK);
        return -1;
    }
    if (!ssl_) return TWSocket::Receive(Buffer, BufferSize);
    ++receiveCalls_;
    if (BufferSize < 0 || (!Buffer && BufferSize > 0)) {
        SetLastErrorCode(WSAEINVAL);
        return -1;
    }
    if (handshaking_ || !connActive_) {
        SetLastErrorCode(WSAEWOULDBLOCK);
        return -1;
    }
    if (awaitingReceive_) {
        // The Receive the delivery waited for: it goes on from the event loop.
        awaitingReceive_ = false;
        if (!inDelivery_) PostProcessIncoming();
    }
    if (BufferSize == 0) return 0;
    const std::uint64_t g = gen_;
    char* p = static_cast<char*>(Buffer);
    const auto size = static_cast<std::size_t>(BufferSize);
    std::size_t got = 0;
    int end = SSL_ERROR_NONE;
    // Fills the buffer from as many records as are there (each SSL_read gives one record).
    while (got < size) {
        std::size_t n = 0;
        ERR_clear_error();
        const int r = SSL_read_ex(ssl_, p + got, size - got, &n);
        if (r == 1) {
            got += n;
            continue;
        }
        end = SSL_get_error(ssl_, r);
        if (end == SSL_ERROR_SSL || end == SSL_ERROR_SYSCALL) NoteSslError("read");
        break;
    }
    FlushOut();
    if (Alive(g) && !inDelivery_ &&
        (SSL_has_pending(ssl_) ||
         (end != SSL_ERROR_NONE && end != SSL_ERROR_WANT_READ && end != SSL_ERROR_WANT_WRITE)))
        PostProcessIncoming();  // more to deliver, or the end to handle
    if (got > 0) return static_cast<int>(got);
    if (end == SSL_ERROR_ZERO_RETURN) return 0;
    // Nothing now; an unclean end is reported by OnSessionClosed.
    SetLastErrorCode(WSAEWOULDBLOCK);
    return -1;
}

// ---- Sending --------------------------------------------------------------------------------

int TTlsWSocket::Send(const void* Data, int Len)
{
    if (SetupFailing() && State() == wsConnected) return Len > 0 ? Len : 0;  // never sent
    if (!ssl_ || State() != wsConnected) return TWSocket::Send(Data, Len);
    if (Len <= 0) {
        if (connActive_) TCustomWSocket::Send(nullptr, 0);
        return 0;
    }
    if (!Data) {
        SetLastErrorCode(WSAEFAULT);
        return -1;
    }
    if (handshaking_) {
        held_.append(static_cast<const char*>(Data), static_cast<std::size_t>(Len));
        return Len;
    }
    if (!connActive_ || closeNotifySent_) {
        SetLastErrorCode(WSAESHUTDOWN);
        return -1;
    }
    if (!EncryptAndSend(static_cast<const char*>(Data), static_cast<std::size_t>(Len))) {
        SetLastErrorCode(closeError_ ? closeError_ : WSAENOTCONN);
        return -1;
    }
    return Len;
}

bool TTlsWSocket::EncryptAndSend(const char* Data, std::size_t Len)
{
    const std::uint64_t g = gen_;
    while (Len > 0) {
        const std::size_t n = std::min(Len, kSendBatch);
        std::size_t written = 0;
        ERR_clear_error();
        if (SSL_write_ex(ssl_, Data, n, &written) != 1) {
            NoteSslError("write");
            FlushOut();
            if (Alive(g)) CloseWithError(TlsErrProtocol);
            return false;
        }
        Data += written;
        Len -= written;
        // One Send of the user's brings one OnDataSent, as on a plain socket: the batches
        // before the last go out without a write event of their own.
        FlushOut(Len == 0);
        if (!Alive(g)) return false;
    }
    return true;
}

void TTlsWSocket::QueueRaw(const char* Data, int Len)
{
    QueueData(Data, Len);
}

void TTlsWSocket::FlushOut(bool UserData)
{
    if (!outPending_) return;
    outPending_ = false;
    if (State() != wsConnected || HSocket() == INVALID_SOCKET) return;
    // The user's records go out as the base component's Send sends them (OnDataSent follows
    // from the event loop); the layer's own (handshake, close_notify, answers to the peer)
    // without an OnDataSent of their own. A failed send may close the connection from inside:
    // that is the network's end, not a Close of the user's.
    const bool was = inFlush_;
    inFlush_ = true;
    if (UserData)
        TCustomWSocket::Send(nullptr, 0);
    else
        SendQueuedSilently();
    inFlush_ = was;
}

void TTlsWSocket::TriggerDataSent(std::uint16_t Error)
{
    if (SetupFailing()) return;
    if (ssl_ && pendingShutdown_ != 0) {
        // close_notify has gone out behind everything queued: now the platform's shutdown.
        const int how = pendingShutdown_;
        pendingShutdown_ = 0;
        TWSocket::Shutdown(how);
        return;
    }
    // The handshake's own flights are not the user's: OnDataSent is passed on only on a
    // secured connection (its first one follows OnTlsHandshakeDone(0)), and not after this
    // side's close_notify (nothing can be sent after it).
    if (ssl_ && (handshaking_ || !connActive_ || closeNotifySent_)) return;
    TWSocket::TriggerDataSent(Error);
}

std::int64_t TTlsWSocket::SendFile(int FileHandle, std::int64_t& Offset, std::int64_t Count)
{
    if (ssl_ || tls_) {
        SetLastErrorCode(WSAEOPNOTSUPP);
        return -1;
    }
    return TWSocket::SendFile(FileHandle, Offset, Count);
}

void TTlsWSocket::ReadLine(int Timeout, std::string& Line)
{
    if (ssl_ || SetupFailing()) {
        ReportError("ReadLine: not available with TLS");
        return;
    }
    TWSocket::ReadLine(Timeout, Line);
}

void TTlsWSocket::Resume()
{
    processPosted_ = false;  // a read event posted while paused was dropped
    TWSocket::Resume();
    if (ssl_ && connActive_ && SSL_has_pending(ssl_)) PostProcessIncoming();
}

// ---- Closing --------------------------------------------------------------------------------

void TTlsWSocket::Close()
{
    if (!inFlush_) ownClose_ = true;
    if (ssl_ && connActive_ && !peerEof_ && netError_ == 0 && State() == wsConnected &&
        HSocket() != INVALID_SOCKET) {
        // Records that have arrived and nobody will read (TLS 1.3 session tickets, say) would
        // turn the close into a reset, which can cost the peer the data it has not read yet:
        // they are taken off the platform first (a bounded amount; they are dropped).
        char scratch[16384];
        for (int i = 0; i < 64 && TCustomWSocket::Receive(scratch, sizeof scratch) > 0; ++i) {
        }
    }
    const bool was = inClose_;
    inClose_ = true;
    TWSocket::Close();
    inClose_ = was;
}

void TTlsWSocket::Abort()
{
    if (!inFlush_) ownClose_ = true;
    closeNotifySent_ = true;  // an abort sends no close_notify
    TWSocket::Abort();
}

void TTlsWSocket::CloseWithError(int Code)
{
    closeError_ = Code;
    closeNotifySent_ = true;  // a failed connection ends without close_notify
    const bool was = inClose_;
    inClose_ = true;
    TWSocket::Close();
    inClose_ = was;
}

void TTlsWSocket::Shutdown(int How)
{
    if ((How == SHUT_WR || How == SHUT_RDWR) && ssl_ && handshaking_ &&
        HSocket() != INVALID_SOCKET) {
        // A TCP end in the middle of the handshake would fail it (and the held bytes would
        // never go): the shutdown follows the handshake, behind the held bytes, with
        // close_notify.
        shutdownAfterHandshake_ = How;
        return;
    }
    if ((How == SHUT_WR || How == SHUT_RDWR) && ssl_ && connActive_ && !closeNotifySent_ &&
        HSocket() != INVALID_SOCKET) {
        SendCloseNotify();
        if (!inClose_ && ssl_ && !AllSent()) {
            // The platform's buffer is full: the shutdown follows when close_notify has gone.
            pendingShutdown_ = How;
            return;
        }
    }
    TWSocket::Shutdown(How);
}

void TTlsWSocket::SendCloseNotify()
{
    closeNotifySent_ = true;
    if (!inClose_) {
        // Behind the queued bytes, through the send queue.
        ERR_clear_error();
        SSL_shutdown(ssl_);
        ERR_clear_error();
        FlushOut();
        return;
    }
    // Inside Close the send queue is about to be dropped: close_notify goes out only when
    // everything before it has gone (a peer must not take a cut stream for a complete one),
    // and straight to the platform, so that a failed send cannot start a second close.
    const bool everythingSent = !outPending_ && AllSent();
    captured_.clear();
    captureOut_ = true;
    ERR_clear_error();
    SSL_shutdown(ssl_);
    ERR_clear_error();
    captureOut_ = false;
    outPending_ = false;
    if (everythingSent && !captured_.empty())
        (void)::send(HSocket(), captured_.data(), captured_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    captured_.clear();
}

void TTlsWSocket::EndHandshakeOnClose(std::uint16_t Error)
{
    if (!handshaking_ || handshakeReported_ || ownClose_) return;
    handshaking_ = false;
    if (handshakeTimer_) handshakeTimer_->stop();
    const int code = closeError_ ? closeError_
                     : Error     ? Error
                     : netError_ ? netError_
                                 : TlsErrHandshake;
    if (!closeError_) closeError_ = code;
    if (errorDetail_.empty()) errorDetail_ = "the connection ended during the handshake";
    ReportHandshakeEnd(code);
}

void TTlsWSocket::TriggerChangeState(TSocketState OldState, TSocketState NewState)
{
    TWSocket::TriggerChangeState(OldState, NewState);
    if (NewState == wsClosed && connTls_) {
        EndHandshakeOnClose(0);
        FreeSsl();
    }
}

void TTlsWSocket::TriggerSessionClosed(std::uint16_t Error)
{
    if (connTls_) {
        EndHandshakeOnClose(Error);
        if (closeError_ != 0)
            Error = static_cast<std::uint16_t>(closeError_);
        else if (connActive_ && !ownClose_ && !closeNotifyReceived_ && !closeNotifySent_ &&
                 (Error == 0 || Error == WSAECONNRESET))
            Error = TlsErrTruncated;
    }
    TWSocket::TriggerSessionClosed(Error);
}

void TTlsWSocket::ResetToDefaults()
{
    TWSocket::ResetToDefaults();
    FreeSsl();
}

void TTlsWSocket::FreeSsl()
{
    if (handshakeTimer_) handshakeTimer_->stop();
    handshaking_ = false;
    held_.clear();
    if (!ssl_) return;
    SSL_set_app_data(ssl_, nullptr);
    SSL_free(ssl_);  // frees the BIO
    ssl_ = nullptr;
    outPending_ = false;
    processPosted_ = false;
    pendingShutdown_ = 0;
    shutdownAfterHandshake_ = 0;
    SetChunkSize(0);
    ++gen_;
}
