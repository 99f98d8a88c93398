// Throughput of the TLS layer (TTlsWSocket) on loopback, next to a blocking OpenSSL client
// doing the same against the same server with the same cipher:
//  - download: the server (OpenSSL, blocking, on a thread) writes N MiB, the client reads;
//  - upload: the client writes N MiB (the component one block per OnDataSent, as the FTP
//    upload is paced), the server reads them and answers one byte.
// The time runs from the end of the handshake to the last byte (download) or the server's
// answer (upload). Receivers compare every 4096th byte with the pattern sent, so a figure never
// comes from lost or corrupted data.
// Usage: bench_tls [MiB] [runs] [block bytes]   (defaults: 256 MiB, 3 runs, 262144 bytes)
#include "net/TlsWSocket.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t kPatternSize = 1 << 20;
constexpr std::uint64_t kStride = 4096;

std::vector<char> Pattern()
{
    std::vector<char> b(kPatternSize);
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<char>(i * 7 + 3 + (i >> 12));
    return b;
}

struct Counter {
    const std::vector<char>* pattern = nullptr;
    std::uint64_t bytes = 0;
    std::uint64_t mismatches = 0;
    void Take(const char* p, std::size_t n)
    {
        std::uint64_t pos = (bytes + kStride - 1) / kStride * kStride;
        for (; pos < bytes + n; pos += kStride)
            if (p[pos - bytes] != (*pattern)[pos % kPatternSize]) ++mismatches;
        bytes += n;
    }
};

// Writes total bytes of the pattern (as a stream) through write(p, n).
template <class Write>
bool WritePattern(const std::vector<char>& pattern, std::uint64_t total, std::size_t block,
                  Write write)
{
    std::uint64_t pos = 0;
    while (pos < total) {
        const std::size_t off = static_cast<std::size_t>(pos % kPatternSize);
        const std::size_t n = static_cast<std::size_t>(
            std::min<std::uint64_t>({total - pos, block, kPatternSize - off}));
        if (!write(pattern.data() + off, n)) return false;
        pos += n;
    }
    return true;
}

// A self-signed EC certificate made at start.
struct Identity {
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    Identity()
    {
        key = EVP_EC_gen("P-256");
        cert = X509_new();
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("bench"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        X509_set_pubkey(cert, key);
        X509_sign(cert, key, EVP_sha256());
    }
    ~Identity()
    {
        X509_free(cert);
        EVP_PKEY_free(key);
    }
    std::string Fingerprint() const
    {
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned n = 0;
        X509_digest(cert, EVP_sha256(), md, &n);
        std::string s;
        char b[4];
        for (unsigned i = 0; i < n; ++i) {
            std::snprintf(b, sizeof b, i ? ":%02X" : "%02X", md[i]);
            s += b;
        }
        return s;
    }
};

enum class Mode { Download, Upload };

// The server: one connection per Run, on a thread.
class Server {
public:
    explicit Server(const Identity& id)
    {
        ctx_ = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate(ctx_, id.cert);
        SSL_CTX_use_PrivateKey(ctx_, id.key);
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 4);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~Server()
    {
        Join();
        ::close(listener_);
        SSL_CTX_free(ctx_);
    }
    std::uint16_t Port() const { return port_; }

    void Run(Mode mode, std::uint64_t total, std::size_t block, const std::vector<char>& pattern)
    {
        Join();
        mismatches_ = 0;
        received_ = 0;
        thread_ = std::thread([this, mode, total, block, &pattern] {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;
            SSL* ssl = SSL_new(ctx_);
            SSL_set_fd(ssl, fd);
            if (SSL_accept(ssl) == 1) {
                if (mode == Mode::Download) {
                    WritePattern(pattern, total, block, [ssl](const char* p, std::size_t n) {
                        std::size_t w = 0;
                        return SSL_write_ex(ssl, p, n, &w) == 1;
                    });
                    SSL_shutdown(ssl);
                } else {
                    Counter c{&pattern};
                    std::vector<char> buf(block);
                    while (c.bytes < total) {
                        std::size_t n = 0;
                        if (SSL_read_ex(ssl, buf.data(), buf.size(), &n) != 1) break;
                        c.Take(buf.data(), n);
                    }
                    received_ = c.bytes;
                    mismatches_ = c.mismatches;
                    std::size_t w = 0;
                    SSL_write_ex(ssl, "k", 1, &w);
                }
                char b[256];
                std::size_t n = 0;
                while (SSL_read_ex(ssl, b, sizeof b, &n) == 1) {
                }
            }
            SSL_free(ssl);
            ::close(fd);
            ERR_clear_error();
        });
    }
    void Join()
    {
        if (thread_.joinable()) thread_.join();
    }
    std::uint64_t Received() const { return received_; }
    std::uint64_t Mismatches() const { return mismatches_; }

private:
    SSL_CTX* ctx_ = nullptr;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<std::uint64_t> received_{0};
    std::atomic<std::uint64_t> mismatches_{0};
};

struct Result {
    double seconds = 0;
    bool ok = false;
    std::string cipher;
};

void PumpUntil(const bool& done)
{
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
}

Result ComponentRun(Server& server, Mode mode, std::uint64_t total, std::size_t block,
                    const std::vector<char>& pattern, const std::string& fingerprint)
{
    server.Run(mode, total, block, pattern);
    TTlsWSocket s;
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(server.Port()));
    s.SetTls(true);
    s.SetTlsFingerprint(fingerprint);
    Result r;
    bool done = false;
    bool secured = false;
    QElapsedTimer timer;
    Counter c{&pattern};
    std::uint64_t sent = 0;
    std::vector<char> buf(std::max<std::size_t>(block, 65536));
    s.OnTlsHandshakeDone = [&](QObject*, std::uint16_t e) {
        if (e != 0) {
            std::fprintf(stderr, "handshake failed: %d %s\n", e, s.TlsErrorDetail().c_str());
            done = true;
            return;
        }
        secured = true;
        r.cipher = s.TlsDescription();
        timer.start();
    };
    s.OnDataSent = [&](QObject*, std::uint16_t) {
        if (mode != Mode::Upload || !secured || sent >= total) return;
        const std::size_t off = static_cast<std::size_t>(sent % kPatternSize);
        const std::size_t n = static_cast<std::size_t>(
            std::min<std::uint64_t>({total - sent, block, kPatternSize - off}));
        s.Send(pattern.data() + off, static_cast<int>(n));
        sent += n;
    };
    s.OnDataAvailable = [&](QObject*, std::uint16_t) {
        const int n = s.Receive(buf.data(), static_cast<int>(buf.size()));
        if (n <= 0) return;
        if (mode == Mode::Download) {
            c.Take(buf.data(), static_cast<std::size_t>(n));
            if (c.bytes == total) {
                r.seconds = timer.nsecsElapsed() / 1e9;
                r.ok = c.mismatches == 0;
            }
        } else if (buf[0] == 'k') {
            r.seconds = timer.nsecsElapsed() / 1e9;
            r.ok = server.Received() == total && server.Mismatches() == 0;
            s.Close();
        }
    };
    s.OnSessionClosed = [&](QObject*, std::uint16_t e) {
        if (e != 0) std::fprintf(stderr, "closed with %d %s\n", e, s.TlsErrorDetail().c_str());
        done = true;
    };
    s.Connect();
    PumpUntil(done);
    server.Join();
    return r;
}

Result BlockingRun(Server& server, Mode mode, std::uint64_t total, std::size_t block,
                   const std::vector<char>& pattern)
{
    server.Run(mode, total, block, pattern);
    Result r;
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(server.Port());
    SSL* ssl = SSL_new(ctx);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        SSL_set_fd(ssl, fd);
        if (SSL_connect(ssl) == 1) {
            r.cipher = std::string(SSL_get_version(ssl)) + " " +
                       SSL_CIPHER_get_name(SSL_get_current_cipher(ssl));
            QElapsedTimer timer;
            timer.start();
            std::vector<char> buf(std::max<std::size_t>(block, 65536));
            if (mode == Mode::Download) {
                Counter c{&pattern};
                while (c.bytes < total) {
                    std::size_t n = 0;
                    if (SSL_read_ex(ssl, buf.data(), buf.size(), &n) != 1) break;
                    c.Take(buf.data(), n);
                }
                r.seconds = timer.nsecsElapsed() / 1e9;
                r.ok = c.bytes == total && c.mismatches == 0;
            } else {
                WritePattern(pattern, total, block, [ssl](const char* p, std::size_t n) {
                    std::size_t w = 0;
                    return SSL_write_ex(ssl, p, n, &w) == 1;
                });
                std::size_t n = 0;
                const bool acked = SSL_read_ex(ssl, buf.data(), 1, &n) == 1 && buf[0] == 'k';
                r.seconds = timer.nsecsElapsed() / 1e9;
                r.ok = acked && server.Received() == total && server.Mismatches() == 0;
            }
            SSL_shutdown(ssl);
        }
    }
    SSL_free(ssl);
    ::close(fd);
    SSL_CTX_free(ctx);
    server.Join();
    return r;
}

double MBps(std::uint64_t bytes, double seconds)
{
    return seconds > 0 ? bytes / seconds / 1e6 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 256;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    const std::size_t block = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 262144;
    const std::uint64_t total = mib << 20;
    const std::vector<char> pattern = Pattern();
    const Identity id;
    Server server(id);

    std::printf("bench_tls: %llu MiB over loopback, %d runs, blocks of %zu bytes (best run)\n",
                static_cast<unsigned long long>(mib), runs, block);
    bool allOk = true;
    for (const Mode mode : {Mode::Download, Mode::Upload}) {
        double best[2] = {0, 0};
        std::string cipher[2];
        for (int i = 0; i < runs; ++i) {
            const Result a = ComponentRun(server, mode, total, block, pattern, id.Fingerprint());
            const Result b = BlockingRun(server, mode, total, block, pattern);
            allOk = allOk && a.ok && b.ok;
            if (!a.ok || !b.ok) std::fprintf(stderr, "run %d: failed (%d %d)\n", i, a.ok, b.ok);
            best[0] = std::max(best[0], MBps(total, a.seconds));
            best[1] = std::max(best[1], MBps(total, b.seconds));
            cipher[0] = a.cipher;
            cipher[1] = b.cipher;
        }
        const char* what = mode == Mode::Download ? "download" : "upload  ";
        std::printf("%s  TTlsWSocket %8.1f MB/s   blocking OpenSSL %8.1f MB/s   ratio %.2f   (%s | %s)\n",
                    what, best[0], best[1], best[1] > 0 ? best[0] / best[1] : 0.0,
                    cipher[0].c_str(), cipher[1].c_str());
    }
    return allOk ? 0 : 1;
}
