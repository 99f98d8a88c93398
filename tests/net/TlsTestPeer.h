// An in-test TLS server for the TLS layer's tests and benchmark: OpenSSL on a thread with a
// blocking socket, with certificates made at run time in memory (a self-signed one, or a small
// authority and a leaf for 127.0.0.1 / localhost signed by it).
#pragma once

#include "support/RawSocket.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fcntl.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace tlstest {

struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CertFree {
    void operator()(X509* c) const { X509_free(c); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using CertPtr = std::unique_ptr<X509, CertFree>;

inline void AddExt(X509* cert, X509* issuer, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (ext) {
        X509_add_ext(cert, ext, -1);
        X509_EXTENSION_free(ext);
    }
}

// A key and a certificate; signed by issuer (nullptr: self-signed).
struct Identity {
    KeyPtr key;
    CertPtr cert;

    static Identity Make(const std::string& cn, const std::string& org, const Identity* issuer,
                         bool ca, const char* san)
    {
        Identity id;
        id.key.reset(EVP_EC_gen("P-256"));
        id.cert.reset(X509_new());
        X509* c = id.cert.get();
        X509_set_version(c, 2);
        static std::atomic<long> serial{1000};
        ASN1_INTEGER_set(X509_get_serialNumber(c), ++serial);
        X509_gmtime_adj(X509_getm_notBefore(c), -3600);
        X509_gmtime_adj(X509_getm_notAfter(c), 3600L * 24 * 30);
        X509_NAME* name = X509_get_subject_name(c);
        X509_NAME_add_entry_by_txt(name, "C", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("DE"), -1, -1, 0);
        X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>(org.c_str()), -1, -1, 0);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
        X509_set_issuer_name(c, issuer ? X509_get_subject_name(issuer->cert.get()) : name);
        X509_set_pubkey(c, id.key.get());
        X509* issuerCert = issuer ? issuer->cert.get() : c;
        if (ca) {
            AddExt(c, issuerCert, NID_basic_constraints, "critical,CA:TRUE");
            AddExt(c, issuerCert, NID_key_usage, "critical,keyCertSign,cRLSign");
        } else {
            AddExt(c, issuerCert, NID_basic_constraints, "CA:FALSE");
        }
        if (san) AddExt(c, issuerCert, NID_subject_alt_name, san);
        X509_sign(c, issuer ? issuer->key.get() : id.key.get(), EVP_sha256());
        return id;
    }

    std::string Fingerprint() const
    {
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned n = 0;
        X509_digest(cert.get(), EVP_sha256(), md, &n);
        std::string s;
        char b[4];
        for (unsigned i = 0; i < n; ++i) {
            std::snprintf(b, sizeof b, i ? ":%02X" : "%02X", md[i]);
            s += b;
        }
        return s;
    }

    bool WritePem(const std::string& path) const
    {
        FILE* f = std::fopen(path.c_str(), "w");
        if (!f) return false;
        const bool ok = PEM_write_X509(f, cert.get()) == 1;
        std::fclose(f);
        return ok;
    }
};

// A server context for one identity (shared by its connections, so sessions resume).
class ServerContext {
public:
    explicit ServerContext(const Identity& id, const char* cipherSuites = nullptr)
    {
        ctx_ = SSL_CTX_new(TLS_server_method());
        SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
        SSL_CTX_use_certificate(ctx_, id.cert.get());
        SSL_CTX_use_PrivateKey(ctx_, id.key.get());
        SSL_CTX_set_session_id_context(ctx_, reinterpret_cast<const unsigned char*>("zt"), 2);
        if (cipherSuites) SSL_CTX_set_ciphersuites(ctx_, cipherSuites);
    }
    ~ServerContext() { SSL_CTX_free(ctx_); }
    ServerContext(const ServerContext&) = delete;
    ServerContext& operator=(const ServerContext&) = delete;
    SSL_CTX* Get() const { return ctx_; }

private:
    SSL_CTX* ctx_ = nullptr;
};

// Blocking mode with time limits on both directions, so a failing test cannot hang a thread.
inline void MakeBlocking(int fd, int seconds = 20)
{
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    timeval tv{seconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// Reads exactly n bytes (less when the stream ends or fails).
inline std::string SslReadN(SSL* ssl, std::size_t n)
{
    std::string got;
    got.reserve(n);
    char buf[65536];
    while (got.size() < n) {
        std::size_t r = 0;
        if (SSL_read_ex(ssl, buf, std::min(sizeof buf, n - got.size()), &r) != 1) break;
        got.append(buf, r);
    }
    return got;
}

inline bool SslWriteAll(SSL* ssl, const std::string& data)
{
    std::size_t off = 0;
    while (off < data.size()) {
        std::size_t w = 0;
        if (SSL_write_ex(ssl, data.data() + off, std::min<std::size_t>(data.size() - off, 1 << 20),
                         &w) != 1)
            return false;
        off += w;
    }
    return true;
}

// Listens on loopback; Serve runs one accepted connection on a thread: the TLS server
// handshake (unless plainFirst asks for a plain phase first) and then the script.
class TlsPeer {
public:
    using Script = std::function<void(SSL* ssl, int fd)>;

    explicit TlsPeer(SSL_CTX* ctx) : ctx_(ctx)
    {
        std::signal(SIGPIPE, SIG_IGN);  // OpenSSL writes to the socket with write()
        listener_ = testsupport::ListenLoopback(port_);
    }
    ~TlsPeer() { Join(); }

    std::uint16_t Port() const { return port_; }

    // plain (optional) runs on the raw socket before the handshake.
    void Serve(Script script, std::function<void(int fd)> plain = nullptr)
    {
        Join();
        accepted_ = false;
        handshakeOk_ = false;
        thread_ = std::thread([this, script = std::move(script), plain = std::move(plain)] {
            testsupport::RawFd c = testsupport::AcceptWithin(listener_, 10000);
            if (!c.Valid()) return;
            accepted_ = true;
            RunOn(c.Get(), script, plain);
        });
    }

    // Runs the server side on an already connected socket (for a client that accepted).
    void ServeOn(testsupport::RawFd fd, Script script)
    {
        Join();
        handshakeOk_ = false;
        thread_ = std::thread([this, fd = std::make_shared<testsupport::RawFd>(std::move(fd)),
                               script = std::move(script)] { RunOn(fd->Get(), script, nullptr); });
    }

    void Join()
    {
        if (thread_.joinable()) thread_.join();
    }
    bool Accepted() const { return accepted_; }
    bool HandshakeOk() const { return handshakeOk_; }

private:
    void RunOn(int fd, const Script& script, const std::function<void(int)>& plain)
    {
        MakeBlocking(fd);
        if (plain) plain(fd);
        SSL* ssl = SSL_new(ctx_);
        SSL_set_fd(ssl, fd);
        handshakeOk_ = SSL_accept(ssl) == 1;
        if (handshakeOk_ && script) script(ssl, fd);
        SSL_free(ssl);
        ERR_clear_error();
    }

    SSL_CTX* ctx_;
    testsupport::RawFd listener_;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> accepted_{false};
    std::atomic<bool> handshakeOk_{false};
};

}  // namespace tlstest
