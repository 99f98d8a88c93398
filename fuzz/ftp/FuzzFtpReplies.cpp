// Plays the server's side of the FTP control connection from the fuzz input against the real
// engine on loopback: a connect and login, then a row of requests (single commands, chains with
// a data connection for LIST, NLST and RETR, a restart, QUIT), and checks what must hold for any
// server:
//  - every request that starts ends exactly once, with OnRequestDone's Error equal to
//    RequestResult, and the engine is ready again;
//  - a request reported as success was answered by a reply line with one of its accepted codes
//    and a blank (a login only by "230 "), so no line of garbage or out-of-range code passes;
//  - StatusCode is 0 or a three-digit code; nothing is written in the local directory but the
//    transfers' own files; no descriptor is left open after the engine has gone.
//
// Input: byte 0 chooses how the server cuts what it sends (bits 0-5: pieces of that many bytes,
// 0 for whole segments) and where the row of requests begins (bits 6-7). The rest is a list of
// segments separated by 0xFF: the greeting, then one segment per command the engine sends (its
// reply), and after the reply to LIST, NLST or RETR one more segment, sent on the data
// connection. A server that has nothing left to say closes the control connection; when the
// engine waits and no command comes, the next segment is sent anyway. With FUZZ_FTP_TRACE set in
// the environment the conversation and each request's result are printed, to read a finding.
#include "ftp/FtpEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace {

void Check(bool ok, const char* what)
{
    if (ok) return;
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
}

int OpenDescriptors()
{
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d))
            ++n;
        ::closedir(d);
    }
    return n;
}

int Listener(std::uint16_t& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        std::fprintf(stderr, "cannot listen on loopback\n");
        std::abort();
    }
    port = ntohs(a.sin_port);
    return fd;
}

struct Globals {
    int listener = -1;
    std::uint16_t port = 0;
    QTemporaryDir* dir = nullptr;
};
Globals g;

// Small pieces go out at once, not held back until the last one is acknowledged.
void NoDelay(int fd)
{
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void Pump(int rounds = 3)
{
    for (int i = 0; i < rounds; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// One request of the row: how to start it and which reply codes may end it with success.
struct Request {
    const char* name;
    std::function<void(TFtpClient&)> start;
    std::vector<int> ok;    // empty: any code below 500
    bool transfer = false;  // a data transfer: the last line read may come after its reply
};

class Session {
public:
    Session(const std::uint8_t* data, std::size_t size)
    {
        piece_ = data[0] & 63;
        first_ = static_cast<std::size_t>(data[0] >> 6) * 4;
        std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
        for (;;) {
            const std::size_t cut = rest.find('\xff');
            segments_.emplace_back(rest.substr(0, cut));
            if (cut == std::string_view::npos) break;
            rest.remove_prefix(cut + 1);
        }
    }
    ~Session()
    {
        if (control_ >= 0) ::close(control_);
    }

    void Run();

private:
    bool Send(int fd, std::string_view text)
    {
        const std::size_t step = piece_ ? piece_ : std::max<std::size_t>(text.size(), 1);
        for (std::size_t at = 0; at < text.size(); at += step) {
            const std::string_view part = text.substr(at, step);
            if (::send(fd, part.data(), part.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) return false;
            if (piece_) Pump(1);
        }
        return true;
    }
    bool NextSegment(std::string& out)
    {
        if (next_ >= segments_.size()) return false;
        out = segments_[next_++];
        return true;
    }
    void Reply()
    {
        std::string text;
        if (NextSegment(text))
            Send(control_, text);
        else
            CloseControl();
    }
    void CloseControl()
    {
        if (control_ < 0) return;
        ::close(control_);
        control_ = -1;
    }
    void ServeData()
    {
        std::string text;
        const bool have = NextSegment(text);
        if (dataPort_ == 0) return;
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(dataPort_);
        dataPort_ = 0;
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && have) {
            NoDelay(fd);
            Send(fd, text);
        }
        if (fd >= 0) ::close(fd);
    }
    // Answers the commands the engine has sent; true when there was one.
    bool Serve();
    bool Accept()
    {
        for (int i = 0; i < 200 && control_ < 0; ++i) {
            Pump(1);
            control_ = ::accept4(g.listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        }
        if (control_ >= 0) NoDelay(control_);
        return control_ >= 0;
    }
    void Finished(const Request& r);

    std::vector<std::string> segments_;
    std::size_t next_ = 0;
    std::size_t piece_ = 0;
    std::size_t first_ = 0;
    int control_ = -1;
    std::string received_;
    std::uint16_t dataPort_ = 0;
    TFtpClient ftp_;
    std::vector<std::pair<int, int>> done_;
    std::string judged_;  // LastResponse when the engine became ready (later lines only show)
    bool capture_ = false;
    std::vector<std::string> lines_;  // the lines read during the request
    std::string local_;
};

bool Session::Serve()
{
    if (control_ < 0) return false;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::recv(control_, buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0) {
            CloseControl();
            break;
        }
        if (n < 0) break;
        received_.append(buf, static_cast<std::size_t>(n));
    }
    bool any = false;
    for (;;) {
        const std::size_t eol = received_.find("\r\n");
        if (eol == std::string::npos) break;
        const std::string cmd = received_.substr(0, eol);
        received_.erase(0, eol + 2);
        if (std::getenv("FUZZ_FTP_TRACE")) std::fprintf(stderr, "> %s\n", cmd.c_str());
        any = true;
        Check(cmd.find_first_of(std::string("\r\n\0", 3)) == std::string::npos,
              "one command per line");
        unsigned p[6] = {};
        if (std::sscanf(cmd.c_str(), "PORT %u,%u,%u,%u,%u,%u", &p[0], &p[1], &p[2], &p[3], &p[4],
                        &p[5]) == 6)
            dataPort_ = static_cast<std::uint16_t>(p[4] * 256 + p[5]);
        Reply();
        if (cmd.rfind("RETR", 0) == 0 || cmd.rfind("LIST", 0) == 0 || cmd.rfind("NLST", 0) == 0)
            ServeData();
        if (control_ < 0) break;
    }
    return any;
}

void Session::Finished(const Request& r)
{
    if (std::getenv("FUZZ_FTP_TRACE"))
        std::fprintf(stderr, "%s: Error %d, \"%s\"\n", r.name, done_.empty() ? -1 : done_[0].second,
                     judged_.c_str());
    Check(ftp_.State() == fsReady, "ready after the request");
    Check(done_.size() == 1, "one OnRequestDone per request");
    const int error = done_[0].second;
    Check(error == ftp_.RequestResult(), "Error is RequestResult");
    const int status = ftp_.StatusCode();
    Check(status == 0 || (status >= 100 && status <= 999), "StatusCode is a reply code");
    if (error != 0) {
        Check(!ftp_.ErrorMessage().empty(), "a failure says why");
        return;
    }
    // QUIT succeeds also when the server just closes the session (that is what it asked for).
    if (std::string_view(r.name) == "Quit" && !ftp_.SessionOpen() && judged_.rfind("221 ", 0) != 0)
        return;
    if (r.transfer) {
        // Its final reply may be followed by lines that answer nothing before the data ends.
        bool final = false;
        for (const std::string& line : lines_) {
            const int code = TCustomFtpCli::ReplyCode(line);
            final = final || (code > 0 && line[3] == ' ' &&
                              std::find(r.ok.begin(), r.ok.end(), code) != r.ok.end());
        }
        Check(final, "a transfer succeeds after an accepted final reply");
        return;
    }
    const std::string& last = judged_;
    const int code = TCustomFtpCli::ReplyCode(last);
    Check(code > 0 && last[3] == ' ', "success comes from the last line of a reply");
    if (r.ok.empty()) {
        Check(code < 500, "success below 500");
        return;
    }
    Check(std::find(r.ok.begin(), r.ok.end(), code) != r.ok.end(), "success by an accepted code");
}

void Session::Run()
{
    ftp_.SetHostName("127.0.0.1");
    ftp_.SetPort(std::to_string(g.port));
    ftp_.SetUserName("u");
    ftp_.SetPassWord("p");
    if (std::getenv("FUZZ_FTP_TRACE"))
        ftp_.OnDisplay = [](QObject*, std::string& msg) {
            std::fprintf(stderr, "%s\n", msg.c_str());
        };
    ftp_.OnStateChange = [this](QObject*) {
        if (ftp_.State() != fsReady || !capture_) return;
        judged_ = ftp_.LastResponse();
        capture_ = false;
    };
    ftp_.OnResponse = [this](QObject*) { lines_.push_back(ftp_.LastResponse()); };
    ftp_.OnRequestDone = [this](QObject*, TFtpRequest rq, std::uint16_t error) {
        done_.emplace_back(rq, error);
    };
    local_ = QDir(g.dir->path()).filePath(QStringLiteral("f")).toStdString();
    const auto download = [this](TFtpClient& f, const char* name, void (TCustomFtpCli::*op)()) {
        f.SetHostFileName("remote");
        f.SetLocalFileName(local_ + name);
        (f.*op)();
    };
    const Request login{"Connect", [](TFtpClient& f) { f.ConnectAsync(); }, {230}};
    const Request row[] = {
        {"Pwd", [](TFtpClient& f) { f.PwdAsync(); }, {250, 257}},
        {"Cwd",
         [](TFtpClient& f) {
             f.SetHostDirName("dir");
             f.CwdAsync();
         },
         {250, 257}},
        {"CDup", [](TFtpClient& f) { f.CDupAsync(); }, {250}},
        {"Syst", [](TFtpClient& f) { f.SystAsync(); }, {215}},
        {"TypeAscii", [](TFtpClient& f) { f.TypeAsciiAsync(); }, {200}},
        {"Dir",
         [&](TFtpClient& f) { download(f, "list", &TCustomFtpCli::DirAsync); },
         {125, 226, 250},
         true},
        {"Size", [](TFtpClient& f) { f.SizeAsync(); }, {213}},
        {"Get",
         [&](TFtpClient& f) { download(f, "get", &TCustomFtpCli::GetAsync); },
         {125, 226, 250},
         true},
        {"Ls",
         [&](TFtpClient& f) { download(f, "nlst", &TCustomFtpCli::LsAsync); },
         {125, 226, 250},
         true},
        {"Mkd", [](TFtpClient& f) { f.MkdAsync(); }, {257}},
        {"Rmd", [](TFtpClient& f) { f.RmdAsync(); }, {250, 257}},
        {"Dele", [](TFtpClient& f) { f.DeleAsync(); }, {250, 257}},
        {"Ren",
         [](TFtpClient& f) {
             f.SetLocalFileName("new");
             f.RenAsync();
         },
         {250, 257}},
        {"Quote",
         [](TFtpClient& f) {
             f.SetLocalFileName("FEAT");
             f.QuoteAsync();
         },
         {}},
        {"RestGet",
         [&](TFtpClient& f) { download(f, "get", &TCustomFtpCli::RestGetAsync); },
         {125, 226, 250},
         true},
        {"Quit", [](TFtpClient& f) { f.QuitAsync(); }, {221}},
    };
    std::vector<const Request*> plan{&login};
    for (std::size_t i = first_; i < std::size(row); ++i)
        plan.push_back(&row[i]);

    std::string greeting;
    bool greeted = false;
    for (const Request* r : plan) {
        done_.clear();
        judged_.clear();
        lines_.clear();
        capture_ = true;
        try {
            r->start(ftp_);
        } catch (const FtpException&) {
            Check(done_.empty() && ftp_.State() == fsReady, "a refused start leaves no request");
            continue;
        }
        if (!greeted) {
            greeted = true;
            if (!Accept()) Check(false, "the engine connects");
            if (NextSegment(greeting)) Send(control_, greeting);
        }
        int quiet = 0;
        for (int round = 0; round < 2000; ++round) {
            Pump();
            const bool served = Serve();
            if (ftp_.State() == fsReady && !done_.empty()) break;
            quiet = served ? 0 : quiet + 1;
            if (quiet < 3) continue;
            quiet = 0;
            // The engine waits and nothing was asked: the server talks on, or hangs up, or at
            // last the engine gives up.
            std::string text;
            if (std::getenv("FUZZ_FTP_TRACE")) std::fprintf(stderr, "quiet in round %d\n", round);
            if (control_ >= 0 && NextSegment(text))
                Send(control_, text);
            else if (control_ >= 0)
                CloseControl();
            else if (round > 100)
                ftp_.AbortAsync();
        }
        if (!(ftp_.State() == fsReady && !done_.empty())) {
            ftp_.AbortAsync();
            for (int i = 0; i < 50 && done_.empty(); ++i)
                Pump(1);
        }
        Finished(*r);
    }
    ftp_.AbortAsync();
    Pump();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    static QTemporaryDir dir;
    g.dir = &dir;
    g.listener = Listener(g.port);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    static int baseline = -1;
    {
        Session session(data, size);
        session.Run();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Pump();
    // A connection the engine never accepted may still wait in the listener's queue.
    for (int fd; (fd = ::accept4(g.listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;)
        ::close(fd);
    const int open = OpenDescriptors();
    if (baseline < 0) baseline = open;  // after the first run, which opens what Qt keeps
    Check(open <= baseline, "no descriptor left open");
    // Only the transfers' own files in the local directory.
    const QStringList files =
        QDir(g.dir->path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& f : files) {
        Check(f == "flist" || f == "fget" || f == "fnlst", "only the local files are written");
        QFile::remove(QDir(g.dir->path()).filePath(f));
    }
    return 0;
}
