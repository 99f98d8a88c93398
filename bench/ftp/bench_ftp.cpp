// Throughput of the FTP engine against a loopback pyftpdlib, next to curl in active mode on the
// same server and file: a download and an upload of one file (1 GiB unless a size in MiB is
// given: bench_ftp [MiB] [engine|curl|both|up|down]; up and down run the engine's upload or
// download alone, for profiling). Prints MB/s (10^6 bytes per second) for each and
// the ratio engine / curl. Every copy is checked by size and SHA-256 after its timing.
#include "ftp/FtpEngine.h"
#include "peers/FtpServerFixture.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

QByteArray Sha256(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&f);
    return hash.result().toHex();
}

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

double MBps(qint64 bytes, qint64 ns)
{
    return ns > 0 ? static_cast<double>(bytes) * 1000.0 / static_cast<double>(ns) : 0.0;
}

struct Result {
    double download = 0;
    double upload = 0;
    bool ok = true;
};

Result RunEngine(const testsupport::PyFtpServer& server, const QString& source,
                 const QString& target, qint64 size, const QByteArray& sha, bool doUp, bool doDown)
{
    Result r;
    TFtpClient ftp;
    ftp.SetHostName("127.0.0.1");
    ftp.SetPort(std::to_string(server.Port()));
    ftp.SetUserName(server.User().toStdString());
    ftp.SetPassWord(server.Password().toStdString());
    ftp.SetTimeout(60);
    std::string lastError;
    ftp.OnDisplay = [&](QObject*, std::string& msg) {
        if (msg.rfind("! ", 0) == 0) lastError = msg;
    };
    if (!ftp.Connect() || !ftp.TypeSet()) {
        std::printf("engine: login failed: %s\n", ftp.ErrorMessage().c_str());
        r.ok = false;
        return r;
    }
    QElapsedTimer t;
    ftp.SetHostFileName("engine-up.bin");
    ftp.SetLocalFileName(QFile::encodeName(source).toStdString());
    t.start();
    const bool put = !doUp || ftp.Put();
    r.upload = doUp ? MBps(size, t.nsecsElapsed()) : 0;
    ftp.SetHostFileName("source.bin");
    ftp.SetLocalFileName(QFile::encodeName(target).toStdString());
    t.start();
    const bool get = !doDown || ftp.Get();
    r.download = doDown ? MBps(size, t.nsecsElapsed()) : 0;
    ftp.Quit();
    const bool upOk =
        put && (!doUp || Sha256(server.PathOf(QStringLiteral("engine-up.bin"))) == sha);
    const bool downOk = get && (!doDown || Sha256(target) == sha);
    if (!upOk || !downOk) {
        std::printf("engine: copy check failed (upload %d, download %d) %s %s\n", upOk, downOk,
                    ftp.ErrorMessage().c_str(), lastError.c_str());
        r.ok = false;
    }
    return r;
}

bool RunCurl(const QStringList& args, qint64& ns)
{
    QProcess curl;
    QElapsedTimer t;
    t.start();
    curl.start(QStringLiteral("curl"), args);
    if (!curl.waitForFinished(600000)) {
        curl.kill();
        curl.waitForFinished(3000);
        return false;
    }
    ns = t.nsecsElapsed();
    return curl.exitStatus() == QProcess::NormalExit && curl.exitCode() == 0;
}

Result RunCurlBoth(const testsupport::PyFtpServer& server, const QString& source,
                   const QString& target, qint64 size, const QByteArray& sha)
{
    Result r;
    const QString base = QStringLiteral("ftp://%1:%2@127.0.0.1:%3/")
                             .arg(server.User(), server.Password())
                             .arg(server.Port());
    const QStringList common = {QStringLiteral("-s"), QStringLiteral("-S"), QStringLiteral("-P"),
                                QStringLiteral("127.0.0.1"), QStringLiteral("--disable-eprt")};
    qint64 ns = 0;
    const bool put = RunCurl(
        common + QStringList{QStringLiteral("-T"), source, base + QStringLiteral("curl-up.bin")},
        ns);
    r.upload = MBps(size, ns);
    const bool get = RunCurl(
        common + QStringList{base + QStringLiteral("source.bin"), QStringLiteral("-o"), target},
        ns);
    r.download = MBps(size, ns);
    const bool upOk = put && Sha256(server.PathOf(QStringLiteral("curl-up.bin"))) == sha;
    const bool downOk = get && Sha256(target) == sha;
    if (!upOk || !downOk) {
        std::printf("curl: copy check failed (upload %d, download %d)\n", upOk, downOk);
        r.ok = false;
    }
    return r;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 mib = argc > 1 ? std::atoll(argv[1]) : 1024;
    const std::string which = argc > 2 ? argv[2] : "both";
    const qint64 size = mib << 20;

    if (!testsupport::PyFtpServer::Available()) {
        std::printf("bench_ftp: skipped, /usr/bin/python3 has no pyftpdlib (python3-pyftpdlib)\n");
        return 0;
    }
    testsupport::PyFtpServer server;
    if (!server.Start()) {
        std::printf("bench_ftp: cannot start pyftpdlib: %s\n", qPrintable(server.Error()));
        return 1;
    }
    QTemporaryDir local;
    const QString source = server.PathOf(QStringLiteral("source.bin"));
    if (!MakeFile(source, size)) {
        std::printf("bench_ftp: cannot write the %lld MiB test file\n", mib);
        return 1;
    }
    const QByteArray sha = Sha256(source);
    std::printf("bench_ftp: %lld MiB file, pyftpdlib on 127.0.0.1:%u, active mode\n", mib,
                server.Port());

    Result engine;
    Result curl;
    const bool haveCurl = !QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty();
    if (which != "curl") {
        engine = RunEngine(server, source, local.filePath(QStringLiteral("engine-down.bin")), size,
                           sha, which != "down", which != "up");
        QFile::remove(local.filePath(QStringLiteral("engine-down.bin")));
        QFile::remove(server.PathOf(QStringLiteral("engine-up.bin")));
        std::printf("engine   download %8.1f MB/s   upload %8.1f MB/s\n", engine.download,
                    engine.upload);
    }
    if (which == "curl" || which == "both") {
        if (!haveCurl) {
            std::printf("curl not found: no reference figures\n");
        } else {
            curl = RunCurlBoth(server, source, local.filePath(QStringLiteral("curl-down.bin")),
                               size, sha);
            QFile::remove(local.filePath(QStringLiteral("curl-down.bin")));
            QFile::remove(server.PathOf(QStringLiteral("curl-up.bin")));
            std::printf("curl     download %8.1f MB/s   upload %8.1f MB/s\n", curl.download,
                        curl.upload);
        }
    }
    if (which == "both" && haveCurl && curl.download > 0 && curl.upload > 0)
        std::printf("ratio    download %8.2f          upload %8.2f   (engine / curl)\n",
                    engine.download / curl.download, engine.upload / curl.upload);
    QFile::remove(source);
    return engine.ok && curl.ok ? 0 : 1;
}
