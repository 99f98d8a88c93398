// Throughput of the FTP engine next to curl, in active and in passive mode, downloads and uploads,
// against servers fast enough not to be what is measured:
//  - "thread": the benchmark's own FTP server thread (BenchFtpServer: sendfile and splice);
//  - "vsftpd": started by the benchmark with a configuration of its own on a free port (anonymous
//    access to a writable directory), only where /usr/sbin/vsftpd is installed;
//  - "pyftpdlib": Debian's, as the tests use it (it caps curl near 300 MB/s here).
// Each server that can is measured again with explicit FTPS (mode "active/TLS", "passive/TLS"):
// the server thread with AUTH TLS, PBSZ, PROT P and TLS data connections of its own (OpenSSL,
// blocking, 1 MiB reads and writes), and a second pyftpdlib with its TLS handler; both with a
// self-signed certificate made by openssl at start, which the engine trusts by its fingerprint
// and curl with --ssl-reqd -k. Where curl cannot complete the session (CurlCompletes) the row
// has no curl figure ("n/a").
// Every figure is one whole session (connect, login, TYPE I, the transfer; curl does not send QUIT
// and the engine's QUIT is not timed), for the engine as for curl (curl -P 127.0.0.1 --disable-eprt
// for active mode, its default EPSV for passive), on the same server and file; the best of N runs
// is printed in MB/s (10^6 bytes per second) with the ratio engine / curl and the least CPU time
// (user and system) a session took: the engine's thread, curl's process. Every copy is compared
// byte for byte after its timing. Then the engine downloads 4 GiB + 1 byte from the server
// thread in passive mode into a pipe whose reader checks every byte, and the growth of the
// process's resident memory (peak during the download minus before it) is printed.
//
// bench_ftp [MiB=1024] [runs=3] [all|thread|vsftpd|pyftpdlib|tls] [memory|nomemory]
// ("tls": only the TLS rows; a server's name: its plain and TLS rows)
#include "BenchFtpServer.h"
#include "ftp/FtpEngine.h"
#include "peers/FtpServerFixture.h"
#include "support/PeerProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Server {
    std::string name;
    std::uint16_t port = 0;
    QString user;
    QString password;
    QString directory;
    bool tls = false;         // explicit FTPS
    std::string fingerprint;  // of the server's certificate (TLS)
};

bool MakeFile(const QString& path, qint64 size)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    std::vector<char> block(1 << 20);
    std::uint32_t x = 2463534242u;
    for (qint64 done = 0; done < size;) {
        for (char& c : block) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = static_cast<char>(x);
        }
        const qint64 n = std::min<qint64>(static_cast<qint64>(block.size()), size - done);
        if (f.write(block.data(), n) != n) return false;
        done += n;
    }
    return true;
}

bool SameFiles(const QString& a, const QString& b)
{
    QFile fa(a);
    QFile fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly)) return false;
    if (fa.size() != fb.size()) return false;
    std::vector<char> ba(1 << 20);
    std::vector<char> bb(1 << 20);
    for (;;) {
        const qint64 na = fa.read(ba.data(), static_cast<qint64>(ba.size()));
        const qint64 nb = fb.read(bb.data(), static_cast<qint64>(bb.size()));
        if (na != nb || na < 0) return false;
        if (na == 0) return true;
        if (std::memcmp(ba.data(), bb.data(), static_cast<std::size_t>(na)) != 0) return false;
    }
}

// CPU time (user and system) in milliseconds: of the calling thread, or of the waited-for
// children.
double CpuMs(int who)
{
    rusage u{};
    ::getrusage(who, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

double MBps(qint64 bytes, qint64 ns)
{
    return ns > 0 ? static_cast<double>(bytes) * 1000.0 / static_cast<double>(ns) : 0.0;
}

std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

// One engine session; the elapsed nanoseconds, or -1 on failure (why says what failed).
qint64 EngineRun(const Server& s, bool passive, bool upload, const QString& local,
                 const QString& remote, std::string& why, double& cpuMs)
{
    TFtpClient ftp;
    ftp.SetHostName("127.0.0.1");
    ftp.SetPort(std::to_string(s.port));
    ftp.SetUserName(s.user.toStdString());
    ftp.SetPassWord(s.password.toStdString());
    ftp.SetTimeout(60);
    ftp.SetPassive(passive);
    ftp.SetBinary(true);
    if (s.tls) {
        ftp.SetTlsMode(ftpTlsExplicit);
        ftp.SetTlsFingerprint(s.fingerprint);
    }
    ftp.SetHostFileName(remote.toStdString());
    ftp.SetLocalFileName(QFile::encodeName(local).toStdString());
    // BENCH_FTP_TRACE=1 prints the engine's display stream (to see where a run stops).
    if (std::getenv("BENCH_FTP_TRACE"))
        ftp.OnDisplay = [](QObject*, std::string& line) { std::printf("    %s\n", line.c_str()); };
    QElapsedTimer t;
    const double cpu = CpuMs(RUSAGE_THREAD);
    t.start();
    const bool ok = ftp.Connect() && ftp.TypeSet() && (upload ? ftp.Put() : ftp.Get());
    const qint64 ns = t.nsecsElapsed();
    cpuMs = CpuMs(RUSAGE_THREAD) - cpu;
    if (!ok) why = ftp.ErrorMessage();
    // curl ends its session by closing the connection without QUIT, so the engine's QUIT is not
    // timed either (vsftpd takes most of a second to answer QUIT after a large upload).
    ftp.Quit();
    return ok ? ns : -1;
}

// Whether curl (7.88, Debian 12) completes a session of this kind here: not active-mode FTPS
// (it accepts the data connection and never begins its handshake), and not FTPS with
// pyftpdlib's TLS handler (the data connection is reset: "curl: (35) Recv failure").
bool CurlCompletes(const Server& s, bool passive)
{
    return !s.tls || (passive && s.name != "pyftpdlib");
}

// One curl session; the elapsed nanoseconds, or -1 on failure.
qint64 CurlRun(const Server& s, bool passive, bool upload, const QString& local,
               const QString& remote, double& cpuMs)
{
    const QString url = QStringLiteral("ftp://%1:%2@127.0.0.1:%3/%4")
                            .arg(s.user, s.password)
                            .arg(s.port)
                            .arg(remote);
    QStringList args = {QStringLiteral("-s"), QStringLiteral("-S")};
    // A TLS session that goes wrong must not hold the benchmark for ever.
    if (s.tls)
        args << QStringLiteral("--ssl-reqd") << QStringLiteral("-k") << QStringLiteral("--max-time")
             << QStringLiteral("300");
    if (!passive)
        args << QStringLiteral("-P") << QStringLiteral("127.0.0.1")
             << QStringLiteral("--disable-eprt");
    if (upload)
        args << QStringLiteral("-T") << local << url;
    else
        args << url << QStringLiteral("-o") << local;
    QProcess curl;
    QElapsedTimer t;
    const double cpu = CpuMs(RUSAGE_CHILDREN);
    t.start();
    curl.start(QStringLiteral("curl"), args);
    if (!curl.waitForFinished(600000)) {
        curl.kill();
        curl.waitForFinished(3000);
        return -1;
    }
    const qint64 ns = t.nsecsElapsed();
    cpuMs = CpuMs(RUSAGE_CHILDREN) - cpu;
    if (curl.exitStatus() != QProcess::NormalExit || curl.exitCode() != 0) {
        std::printf("  curl: %s\n", curl.readAllStandardError().trimmed().constData());
        return -1;
    }
    return ns;
}

// vsftpd with a configuration of the benchmark's own, in the foreground, as the user running the
// benchmark, anonymous users reading and writing directory.
class Vsftpd {
public:
    static QString Program() { return QStringLiteral("/usr/sbin/vsftpd"); }
    static bool Installed() { return QFileInfo(Program()).isExecutable(); }

    bool Start(const QString& directory)
    {
        if (!config_.isValid()) return false;
        QDir(config_.path()).mkpath(QStringLiteral("empty"));
        for (int attempt = 0; attempt < 3; ++attempt) {
            port_ = testsupport::FreeTcpPort();
            const QString conf = config_.filePath(QStringLiteral("vsftpd.conf"));
            QFile f(conf);
            if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
            const QString text =
                QStringLiteral(
                    "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=%1\n"
                    "background=NO\nrun_as_launching_user=YES\nanonymous_enable=YES\n"
                    "local_enable=NO\nno_anon_password=YES\nanon_root=%2\nwrite_enable=YES\n"
                    "anon_upload_enable=YES\nanon_other_write_enable=YES\n"
                    "anon_world_readable_only=NO\nanon_umask=022\nconnect_from_port_20=NO\n"
                    "pasv_enable=YES\nport_enable=YES\nseccomp_sandbox=NO\nisolate=NO\n"
                    "isolate_network=NO\nsecure_chroot_dir=%3\nxferlog_enable=NO\n"
                    "dirmessage_enable=NO\nuse_sendfile=YES\n")
                    .arg(port_)
                    .arg(directory, config_.filePath(QStringLiteral("empty")));
            f.write(text.toUtf8());
            f.close();
            if (!process_.Start(Program(), {conf})) return false;
            if (testsupport::WaitForPort(port_, 10000) && process_.Running()) return true;
            std::printf("vsftpd did not start: %s\n", qPrintable(process_.Output()));
            process_.Stop();
        }
        return false;
    }
    std::uint16_t Port() const { return port_; }

private:
    QTemporaryDir config_;
    testsupport::PeerProcess process_;
    std::uint16_t port_ = 0;
};

long ProcStatusKb(const char* key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t keyLen = std::strlen(key);
    while (std::getline(in, line))
        if (line.compare(0, keyLen, key) == 0) return std::atol(line.c_str() + keyLen + 1);
    return -1;
}

// The engine downloads 4 GiB + 1 byte into a pipe whose reader checks every byte; prints the
// growth of the resident memory.
bool MemoryRun(const Server& s)
{
    constexpr std::uint64_t kSize = (std::uint64_t{4} << 30) + 1;
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("download.fifo"));
    if (::mkfifo(QFile::encodeName(fifo).constData(), 0600) != 0) return false;

    TFtpClient ftp;
    ftp.SetHostName("127.0.0.1");
    ftp.SetPort(std::to_string(s.port));
    ftp.SetUserName("bench");
    ftp.SetPassWord("bench");
    ftp.SetTimeout(60);
    ftp.SetPassive(true);
    if (!ftp.Connect() || !ftp.TypeSet()) return false;
    ftp.SetHostFileName("pattern-" + std::to_string(kSize));
    ftp.SetLocalFileName(QFile::encodeName(fifo).toStdString());

    std::atomic<std::uint64_t> checked{0};
    std::atomic<bool> good{true};
    std::vector<unsigned char> buffer(1 << 20);
    std::thread reader([&] {
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            good = false;
            return;
        }
        ::fcntl(fd, F_SETPIPE_SZ, 1 << 20);
        std::uint64_t at = 0;
        for (;;) {
            const ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            std::size_t i = 0;
            const auto len = static_cast<std::size_t>(n);
            for (; i < len && (at + i) % 8 != 0; ++i)
                if (buffer[i] != benchftp::PatternByte(at + i)) good = false;
            for (; i + 8 <= len; i += 8) {
                std::uint64_t word;
                std::memcpy(&word, buffer.data() + i, 8);
                if (word != (at + i) / 8) good = false;
            }
            for (; i < len; ++i)
                if (buffer[i] != benchftp::PatternByte(at + i)) good = false;
            at += len;
        }
        checked = at;
        ::close(fd);
    });

    // The peak of the resident set is measured from here.
    {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5";
    }
    const long before = ProcStatusKb("VmRSS:");
    QElapsedTimer t;
    t.start();
    const bool ok = ftp.Get();
    const qint64 ns = t.nsecsElapsed();
    reader.join();
    const long peak = ProcStatusKb("VmHWM:");
    ftp.Quit();
    const bool exact = ok && good && checked == kSize;
    std::printf(
        "memory   4 GiB + 1 byte download (passive, thread server): %s, %.1f MB/s; "
        "resident %.1f MB before, peak %.1f MB, growth %.1f MB (goal < 20 MB)\n",
        exact ? "byte-exact" : "NOT EXACT", MBps(static_cast<qint64>(kSize), ns), before / 1024.0,
        peak / 1024.0, (peak - before) / 1024.0);
    if (!ok) std::printf("  engine: %s\n", ftp.ErrorMessage().c_str());
    return exact;
}

}  // namespace

int main(int argc, char** argv)
{
    // A TLS peer that goes away must not end the benchmark through SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    const qint64 mib = argc > 1 ? std::max(1LL, std::atoll(argv[1])) : 1024;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::string which = argc > 3 ? argv[3] : "all";
    const bool memory = argc > 4 ? std::string(argv[4]) != "nomemory" : true;
    const qint64 size = mib << 20;
    const bool haveCurl = !QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty();
    std::printf("bench_ftp: %lld MiB file, best of %d runs, load average %s\n", mib, runs,
                LoadAverage().c_str());

    QTemporaryDir served;
    QTemporaryDir local;
    const QString root = QDir(served.path()).canonicalPath();
    const QString source = root + QStringLiteral("/source.bin");
    if (!served.isValid() || !local.isValid() || !MakeFile(source, size)) {
        std::printf("bench_ftp: cannot write the %lld MiB test file\n", mib);
        return 1;
    }
    // vsftpd refuses a writable anonymous root: the files live in a directory below it.
    ::chmod(QFile::encodeName(root).constData(), 0755);

    // The certificate of the TLS rows.
    QTemporaryDir certDir;
    QString cert, key, fingerprint;
    const bool tlsReady =
        certDir.isValid() && testsupport::MakeSelfSignedCertificate(certDir.path(), cert, key,
                                                                    fingerprint);
    if (!tlsReady) std::printf("openssl could not make a certificate: no TLS rows\n");

    std::vector<Server> servers;
    benchftp::BenchFtpServer thread(root.toStdString());
    const bool threadTls =
        tlsReady && thread.SetTls(QFile::encodeName(cert).toStdString(),
                                  QFile::encodeName(key).toStdString());
    if ((which == "all" || which == "thread" || which == "tls" || memory) && thread.Start()) {
        servers.push_back(
            {"thread", thread.Port(), QStringLiteral("bench"), QStringLiteral("bench"), root,
             false, {}});
        if (threadTls)
            servers.push_back({"thread", thread.Port(), QStringLiteral("bench"),
                               QStringLiteral("bench"), root, true, fingerprint.toStdString()});
    }
    Vsftpd vsftpd;
    if (which == "all" || which == "vsftpd") {
        if (!Vsftpd::Installed())
            std::printf("vsftpd: not installed, no column\n");
        else if (vsftpd.Start(root))
            servers.push_back({"vsftpd", vsftpd.Port(), QStringLiteral("anonymous"),
                               QStringLiteral("bench"), root, false, {}});
    }
    testsupport::PyFtpServer pyftpdlib;
    if (which == "all" || which == "pyftpdlib") {
        if (!testsupport::PyFtpServer::Available())
            std::printf("pyftpdlib: not available (python3-pyftpdlib), no column\n");
        else if (pyftpdlib.Start(root))
            servers.push_back(
                {"pyftpdlib", pyftpdlib.Port(), pyftpdlib.User(), pyftpdlib.Password(), root,
                 false, {}});
    }
    testsupport::PyFtpServer pyftpdlibTls;
    pyftpdlibTls.SetTls(true);
    if (which == "all" || which == "pyftpdlib" || which == "tls") {
        if (!testsupport::PyFtpServer::TlsAvailable())
            std::printf("pyftpdlib TLS: not available (python3-openssl, openssl), no rows\n");
        else if (pyftpdlibTls.Start(root))
            servers.push_back({"pyftpdlib", pyftpdlibTls.Port(), pyftpdlibTls.User(),
                               pyftpdlibTls.Password(), root, true,
                               pyftpdlibTls.CertificateFingerprint().toStdString()});
    }
    if (!haveCurl) std::printf("curl not found: no reference figures\n");

    bool allOk = true;
    std::printf("%-10s %-11s %-9s %10s %10s %7s %11s %11s\n", "server", "mode", "direction",
                "engine", "curl", "ratio", "engine CPU", "curl CPU");
    for (const Server& s : servers) {
        if (which != "all" && which != s.name && !(which == "tls" && s.tls)) continue;
        const char* const modeNames[2][2] = {{"active", "passive"}, {"active/TLS", "passive/TLS"}};
        for (const bool passive : {false, true}) {
            const char* const mode = modeNames[s.tls ? 1 : 0][passive ? 1 : 0];
            for (const bool upload : {false, true}) {
                qint64 bestEngine = -1;
                qint64 bestCurl = -1;
                double engineCpu = -1;
                double curlCpu = -1;
                const QString down = local.filePath(QStringLiteral("down.bin"));
                const QString upName =
                    QStringLiteral("up-%1.bin").arg(QString::fromStdString(s.name));
                const QString upPath = root + u'/' + upName;
                for (int run = 0; run < runs; ++run) {
                    std::string why;
                    double cpu = 0;
                    const qint64 e =
                        EngineRun(s, passive, upload, upload ? source : down,
                                  upload ? upName : QStringLiteral("source.bin"), why, cpu);
                    const bool eOk = e > 0 && SameFiles(source, upload ? upPath : down);
                    if (!eOk) {
                        std::printf("  engine %s %s %s failed: %s\n", s.name.c_str(), mode,
                                    upload ? "upload" : "download", why.c_str());
                        allOk = false;
                    } else {
                        if (bestEngine < 0 || e < bestEngine) bestEngine = e;
                        if (engineCpu < 0 || cpu < engineCpu) engineCpu = cpu;
                    }
                    QFile::remove(upload ? upPath : down);
                    if (!haveCurl || !CurlCompletes(s, passive)) continue;
                    const qint64 c = CurlRun(s, passive, upload, upload ? source : down,
                                             upload ? upName : QStringLiteral("source.bin"), cpu);
                    const bool cOk = c > 0 && SameFiles(source, upload ? upPath : down);
                    if (!cOk) {
                        std::printf("  curl %s %s %s failed\n", s.name.c_str(), mode,
                                    upload ? "upload" : "download");
                        allOk = false;
                    } else {
                        if (bestCurl < 0 || c < bestCurl) bestCurl = c;
                        if (curlCpu < 0 || cpu < curlCpu) curlCpu = cpu;
                    }
                    QFile::remove(upload ? upPath : down);
                }
                const double em = bestEngine > 0 ? MBps(size, bestEngine) : 0;
                const double cm = bestCurl > 0 ? MBps(size, bestCurl) : 0;
                if (!haveCurl || CurlCompletes(s, passive))
                    std::printf("%-10s %-11s %-9s %10.1f %10.1f %7.2f %8.0f ms %8.0f ms\n",
                                s.name.c_str(), mode, upload ? "upload" : "download", em, cm,
                                cm > 0 ? em / cm : 0.0, engineCpu, curlCpu);
                else
                    std::printf("%-10s %-11s %-9s %10.1f %10s %7s %8.0f ms %11s\n",
                                s.name.c_str(), mode, upload ? "upload" : "download", em, "n/a",
                                "", engineCpu, "");
                std::fflush(stdout);
            }
        }
    }
    if (memory && !servers.empty() && servers.front().name == "thread")
        allOk = MemoryRun(servers.front()) && allOk;
    std::printf("bench_ftp: load average at the end %s\n", LoadAverage().c_str());
    QFile::remove(source);
    return allOk ? 0 : 1;
}
