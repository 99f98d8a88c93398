#include "BenchFtpServer.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace benchftp {

std::uint8_t PatternByte(std::uint64_t offset)
{
    const std::uint64_t word = offset / 8;
    return static_cast<std::uint8_t>(word >> (8 * (offset % 8)));
}

namespace {

constexpr std::size_t kBlock = 1 << 20;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Fd& operator=(Fd&& o) noexcept
    {
        if (this != &o) {
            Reset();
            fd_ = o.fd_;
            o.fd_ = -1;
        }
        return *this;
    }
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    void Reset()
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

int ListenLoopback(std::uint16_t& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

}  // namespace

// Waits (bounded, looking at stop) for fd to become readable.
bool Readable(int fd, int timeoutMs, const std::atomic<bool>& stop)
{
    for (int waited = 0; waited < timeoutMs && !stop; waited += 200) {
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, 200);
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return false;
    }
    return false;
}

namespace {

bool SendAll(int fd, const char* data, std::size_t n)
{
    while (n > 0) {
        const ssize_t r = ::send(fd, data, n, MSG_NOSIGNAL);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        data += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

bool SslWriteAll(SSL* ssl, const char* data, std::size_t n)
{
    while (n > 0) {
        const int chunk = static_cast<int>(std::min<std::size_t>(n, kBlock));
        const int w = SSL_write(ssl, data, chunk);
        if (w <= 0) return false;
        data += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// A connection, with TLS (blocking OpenSSL) once Secure has succeeded.
class Channel {
public:
    explicit Channel(Fd fd) : fd_(std::move(fd)) {}
    ~Channel()
    {
        if (ssl_) SSL_free(ssl_);
    }
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    int Get() const { return fd_.Get(); }
    bool Valid() const { return fd_.Valid(); }
    bool Secured() const { return ssl_ != nullptr; }
    // The TLS handshake, this side the server.
    bool Secure(SSL_CTX* ctx)
    {
        ssl_ = SSL_new(ctx);
        if (!ssl_ || SSL_set_fd(ssl_, fd_.Get()) != 1 || SSL_accept(ssl_) != 1) {
            ERR_clear_error();
            return false;
        }
        return true;
    }
    bool Write(const char* data, std::size_t n)
    {
        return ssl_ ? SslWriteAll(ssl_, data, n) : SendAll(fd_.Get(), data, n);
    }
    // Bytes read (0 at the end of the stream, -1 on error); orderly is false when a TLS stream
    // ended without close_notify.
    ssize_t Read(char* buffer, std::size_t n, bool& orderly)
    {
        orderly = true;
        if (!ssl_) {
            ssize_t r;
            do
                r = ::recv(fd_.Get(), buffer, n, 0);
            while (r < 0 && errno == EINTR);
            return r;
        }
        const int r = SSL_read(ssl_, buffer, static_cast<int>(std::min<std::size_t>(n, kBlock)));
        if (r > 0) return r;
        const int e = SSL_get_error(ssl_, r);
        ERR_clear_error();
        if (e == SSL_ERROR_ZERO_RETURN) return 0;
        orderly = false;
        return e == SSL_ERROR_SYSCALL || e == SSL_ERROR_SSL ? 0 : -1;
    }
    // Something to read within timeoutMs (data buffered by TLS counts).
    bool Readable(int timeoutMs, const std::atomic<bool>& stop)
    {
        return (ssl_ && SSL_has_pending(ssl_)) || benchftp::Readable(fd_.Get(), timeoutMs, stop);
    }
    // The end of the stream in order: close_notify (TLS) and the sending direction shut down.
    void Finish()
    {
        if (ssl_) {
            SSL_shutdown(ssl_);
            ERR_clear_error();
        }
        ::shutdown(fd_.Get(), SHUT_WR);
    }
    // After Finish (and the final reply, which some clients wait for before they close): what
    // the peer still sends is read to its end (bounded), so that the close resets nothing.
    void Drain(const std::atomic<bool>& stop)
    {
        char sink[4096];
        while (benchftp::Readable(fd_.Get(), 5000, stop) &&
               ::recv(fd_.Get(), sink, sizeof sink, 0) > 0) {
        }
    }

private:
    Fd fd_;
    SSL* ssl_ = nullptr;
};

class SessionRunner {
public:
    SessionRunner(int control, const std::string& directory, SSL_CTX* tls,
                  const std::atomic<bool>& stop)
        : control_(Fd(control)), directory_(directory), tls_(tls), stop_(stop),
          block_(new char[kBlock])
    {
    }

    void Run()
    {
        if (!Reply("220 bench server ready")) return;
        std::string line;
        while (ReadLine(line)) {
            const std::size_t blank = line.find(' ');
            std::string verb = line.substr(0, blank);
            for (char& c : verb)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            const std::string arg = blank == std::string::npos ? "" : line.substr(blank + 1);
            bool ok = true;
            if (verb == "USER")
                ok = Reply("331 password please");
            else if (verb == "PASS")
                ok = Reply("230 logged in");
            else if (verb == "TYPE")
                ok = Reply("200 type set");
            else if (verb == "AUTH" && tls_ && !control_.Secured())
                ok = AuthTls();
            else if (verb == "PBSZ" && control_.Secured())
                ok = Reply("200 PBSZ=0");
            else if (verb == "PROT" && control_.Secured()) {
                prot_ = arg == "P" || arg == "p";
                ok = Reply(prot_ ? "200 protection private" : "200 protection clear");
            }
            else if (verb == "PORT")
                ok = Port(arg);
            else if (verb == "EPSV" || verb == "PASV")
                ok = Passive(verb == "EPSV");
            else if (verb == "RETR")
                ok = Retr(arg);
            else if (verb == "STOR")
                ok = Stor(arg);
            else if (verb == "QUIT") {
                Reply("221 bye");
                return;
            } else
                ok = Reply("502 command not implemented");
            if (!ok) return;
        }
    }

private:
    bool Reply(const std::string& text)
    {
        const std::string line = text + "\r\n";
        return control_.Write(line.data(), line.size());
    }

    bool AuthTls()
    {
        if (!Reply("234 AUTH TLS ok")) return false;
        pending_.clear();
        return control_.Secure(tls_);
    }

    bool ReadLine(std::string& line)
    {
        for (;;) {
            const std::size_t eol = pending_.find("\r\n");
            if (eol != std::string::npos) {
                line = pending_.substr(0, eol);
                pending_.erase(0, eol + 2);
                return true;
            }
            if (!control_.Readable(600000, stop_)) return false;
            char buf[1024];
            bool orderly = true;
            const ssize_t n = control_.Read(buf, sizeof buf, orderly);
            if (n <= 0) return false;
            pending_.append(buf, static_cast<std::size_t>(n));
        }
    }

    // The data connection, secured when PROT P is in force.
    std::unique_ptr<Channel> OpenChannel()
    {
        auto channel = std::make_unique<Channel>(OpenData());
        if (!channel->Valid()) return nullptr;
        if (prot_ && !channel->Secure(tls_)) return nullptr;
        return channel;
    }

    bool Port(const std::string& arg)
    {
        unsigned a[6] = {};
        if (std::sscanf(arg.c_str(), "%u,%u,%u,%u,%u,%u", &a[0], &a[1], &a[2], &a[3], &a[4],
                        &a[5]) != 6)
            return Reply("501 bad PORT");
        passive_.Reset();
        active_ = sockaddr_in{};
        active_.sin_family = AF_INET;
        active_.sin_addr.s_addr = htonl((a[0] << 24) | (a[1] << 16) | (a[2] << 8) | a[3]);
        active_.sin_port = htons(static_cast<std::uint16_t>(a[4] * 256 + a[5]));
        haveActive_ = true;
        return Reply("200 PORT ok");
    }

    bool Passive(bool extended)
    {
        haveActive_ = false;
        std::uint16_t port = 0;
        passive_ = Fd(ListenLoopback(port));
        if (!passive_.Valid()) return Reply("425 cannot listen");
        char text[96];
        if (extended)
            std::snprintf(text, sizeof text, "229 Entering Extended Passive Mode (|||%u|)", port);
        else
            std::snprintf(text, sizeof text, "227 Entering Passive Mode (127,0,0,1,%u,%u)",
                          port >> 8, port & 0xFF);
        return Reply(text);
    }

    Fd OpenData()
    {
        if (passive_.Valid()) {
            Fd listener = std::move(passive_);
            if (!Readable(listener.Get(), 10000, stop_)) return Fd();
            return Fd(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        }
        if (!haveActive_) return Fd();
        haveActive_ = false;
        Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (fd.Valid() &&
            ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&active_), sizeof active_) != 0)
            fd.Reset();
        return fd;
    }

    bool Retr(const std::string& name)
    {
        std::uint64_t patternSize = 0;
        const bool pattern = name.rfind("pattern-", 0) == 0;
        Fd file;
        if (pattern) {
            patternSize = std::strtoull(name.c_str() + 8, nullptr, 10);
        } else {
            file = Fd(::open((directory_ + "/" + name).c_str(), O_RDONLY | O_CLOEXEC));
            if (!file.Valid()) return Reply("550 no such file");
        }
        if (!Reply("150 opening data connection")) return false;
        std::unique_ptr<Channel> data = OpenChannel();
        if (!data) return Reply("425 no data connection");
        bool sent = true;
        if (pattern) {
            for (std::uint64_t at = 0; at < patternSize && sent;) {
                const std::size_t n =
                    static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, patternSize - at));
                // Whole words: the block starts at a multiple of 8 (kBlock is one).
                auto* words = reinterpret_cast<std::uint64_t*>(block_.get());
                for (std::size_t w = 0; w < (n + 7) / 8; ++w)
                    words[w] = at / 8 + w;
                sent = data->Write(block_.get(), n);
                at += n;
            }
        } else if (data->Secured()) {
            // The file's bytes must be encrypted: read and written in blocks.
            for (off_t at = 0;;) {
                const ssize_t r = ::pread(file.Get(), block_.get(), kBlock, at);
                if (r < 0 && errno == EINTR) continue;
                if (r <= 0) {
                    sent = r == 0;
                    break;
                }
                if (!data->Write(block_.get(), static_cast<std::size_t>(r))) {
                    sent = false;
                    break;
                }
                at += r;
            }
        } else {
            struct stat st {};
            ::fstat(file.Get(), &st);
            off_t at = 0;
            while (at < st.st_size) {
                const ssize_t r = ::sendfile(data->Get(), file.Get(), &at,
                                             static_cast<std::size_t>(st.st_size - at));
                if (r < 0 && errno == EINTR) continue;
                if (r <= 0) {
                    sent = false;
                    break;
                }
            }
        }
        data->Finish();
        const bool replied = Reply(sent ? "226 transfer complete" : "426 transfer aborted");
        data->Drain(stop_);
        return replied;
    }

    bool Stor(const std::string& name)
    {
        Fd file(::open((directory_ + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                       0644));
        if (!file.Valid()) return Reply("553 cannot create file");
        if (!Reply("150 opening data connection")) return false;
        std::unique_ptr<Channel> data = OpenChannel();
        if (!data) return Reply("425 no data connection");
        if (data->Secured()) {
            bool stored = true;
            bool orderly = true;
            for (;;) {
                const ssize_t n = data->Read(block_.get(), kBlock, orderly);
                if (n <= 0) {
                    // The client's close_notify ends the file; a cut does not.
                    stored = n == 0 && orderly;
                    break;
                }
                for (ssize_t done = 0; done < n && stored;) {
                    const ssize_t w = ::write(file.Get(), block_.get() + done,
                                              static_cast<std::size_t>(n - done));
                    if (w < 0 && errno == EINTR) continue;
                    if (w <= 0) stored = false;
                    done += w > 0 ? w : 0;
                }
                if (!stored) break;
            }
            data->Finish();
            file.Reset();
            const bool replied = Reply(stored ? "226 transfer complete" : "451 upload cut short");
            data->Drain(stop_);
            return replied;
        }
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) return Reply("451 no pipe");
        Fd in(pipeFds[0]);
        Fd out(pipeFds[1]);
        ::fcntl(out.Get(), F_SETPIPE_SZ, static_cast<int>(kBlock));
        bool stored = true;
        for (;;) {
            const ssize_t n = ::splice(data->Get(), nullptr, out.Get(), nullptr, kBlock,
                                       SPLICE_F_MOVE | SPLICE_F_MORE);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                stored = n == 0;
                break;
            }
            for (ssize_t left = n; left > 0;) {
                const ssize_t w = ::splice(in.Get(), nullptr, file.Get(), nullptr,
                                           static_cast<std::size_t>(left), SPLICE_F_MOVE);
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) {
                    stored = false;
                    break;
                }
                left -= w;
            }
            if (!stored) break;
        }
        data.reset();
        file.Reset();
        return Reply(stored ? "226 transfer complete" : "451 write failed");
    }

    Channel control_;
    const std::string& directory_;
    SSL_CTX* tls_;
    bool prot_ = false;
    const std::atomic<bool>& stop_;
    std::unique_ptr<char[]> block_;
    std::string pending_;
    Fd passive_;
    sockaddr_in active_{};
    bool haveActive_ = false;
};

}  // namespace

BenchFtpServer::BenchFtpServer(std::string directory) : directory_(std::move(directory))
{
}

BenchFtpServer::~BenchFtpServer()
{
    Stop();
    if (tlsContext_) SSL_CTX_free(tlsContext_);
}

bool BenchFtpServer::SetTls(const std::string& certFile, const std::string& keyFile)
{
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx) return false;
    if (SSL_CTX_use_certificate_chain_file(ctx, certFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
        ERR_clear_error();
        SSL_CTX_free(ctx);
        return false;
    }
    // Data connections resume the control connection's session; records are read ahead in
    // large reads.
    static const unsigned char kContext[] = "bench_ftp";
    SSL_CTX_set_session_id_context(ctx, kContext, sizeof kContext - 1);
    SSL_CTX_set_read_ahead(ctx, 1);
    SSL_CTX_set_default_read_buffer_len(ctx, 256 * 1024);
    if (tlsContext_) SSL_CTX_free(tlsContext_);
    tlsContext_ = ctx;
    return true;
}

bool BenchFtpServer::Start()
{
    listener_ = ListenLoopback(port_);
    if (listener_ < 0) return false;
    acceptor_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void BenchFtpServer::Stop()
{
    stop_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::thread> sessions;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sessions.swap(sessions_);
    }
    for (std::thread& t : sessions)
        if (t.joinable()) t.join();
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
}

void BenchFtpServer::AcceptLoop()
{
    while (!stop_) {
        if (!Readable(listener_, 200, stop_)) continue;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        sessions_.emplace_back(
            [this, fd] { SessionRunner(fd, directory_, tlsContext_, stop_).Run(); });
    }
}

}  // namespace benchftp
