#include "peers/FtpServerFixture.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace testsupport {

namespace {

// pyftpdlib's command-line server with throttled data connections: PORT USER PASS DIR RATE.
const char* const kThrottledServer = R"(import sys, time
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer
port, user, password, root, rate = sys.argv[1:6]
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
class Throttled(ThrottledDTPHandler):
    read_limit = int(rate)
    write_limit = int(rate)
    ac_in_buffer_size = 8192
    ac_out_buffer_size = 8192
    _next = 0.0
    # pyftpdlib's rule over tenths of a second instead of whole seconds: a steady flow rather
    # than one burst a second.
    def _throttle_bandwidth(self, len_chunk, max_speed):
        self._datacount += len_chunk
        if self._datacount < max_speed / 10:
            return
        self._datacount = 0
        now = time.monotonic()
        self._next = max(self._next + 0.1, now)
        if self._next > now:
            def unsleep():
                self.add_channel(events=self.ioloop.READ if self.receive else self.ioloop.WRITE)
            self.del_channel()
            self._cancel_throttler()
            self._throttler = self.ioloop.call_later(self._next - now, unsleep,
                                                     _errback=self.handle_error)
class Handler(FTPHandler):
    pass
Handler.authorizer = authorizer
Handler.dtp_handler = Throttled
FTPServer(("127.0.0.1", int(port)), Handler).serve_forever()
)";

// pyftpdlib with explicit FTPS required: PORT USER PASS DIR CERT KEY.
const char* const kTlsServer = R"(import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import TLS_FTPHandler
from pyftpdlib.servers import FTPServer
port, user, password, root, cert, key = sys.argv[1:7]
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
class Handler(TLS_FTPHandler):
    pass
Handler.authorizer = authorizer
Handler.certfile = cert
Handler.keyfile = key
Handler.tls_control_required = True
Handler.tls_data_required = True
FTPServer(("127.0.0.1", int(port)), Handler).serve_forever()
)";

bool RunToEnd(const QString& program, const QStringList& args, int timeoutMs)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(3000);
        return false;
    }
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// SHA-256 over the DER form of the first certificate of a PEM file, "AB:CD:..." (empty when
// there is none).
QString PemFingerprint(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QString();
    const QByteArray pem = f.readAll();
    const QByteArray begin = "-----BEGIN CERTIFICATE-----";
    const qsizetype from = pem.indexOf(begin);
    const qsizetype to = pem.indexOf("-----END CERTIFICATE-----");
    if (from < 0 || to < from) return QString();
    const QByteArray der =
        QByteArray::fromBase64(pem.mid(from + begin.size(), to - from - begin.size()));
    const QByteArray hex = QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex(':');
    return QString::fromLatin1(hex).toUpper();
}

}  // namespace

bool MakeSelfSignedCertificate(const QString& dir, QString& cert, QString& key,
                               QString& fingerprint)
{
    cert = dir + QStringLiteral("/cert.pem");
    key = dir + QStringLiteral("/key.pem");
    fingerprint.clear();
    if (!RunToEnd(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=localhost"), QStringLiteral("-keyout"), key,
                   QStringLiteral("-out"), cert},
                  30000))
        return false;
    fingerprint = PemFingerprint(cert);
    return !fingerprint.isEmpty();
}

bool PyFtpServer::TlsAvailable()
{
    const QString python = SystemPython();
    if (python.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        return false;
    return RunToEnd(python,
                    {QStringLiteral("-c"), QStringLiteral("import pyftpdlib.handlers, OpenSSL")},
                    15000);
}

PyFtpServer::PyFtpServer(QString user, QString password)
    : user_(std::move(user)), password_(std::move(password))
{
}

PyFtpServer::~PyFtpServer()
{
    Stop();
}

bool PyFtpServer::Available()
{
    const QString python = SystemPython();
    if (python.isEmpty()) return false;
    QProcess probe;
    probe.start(python, {QStringLiteral("-c"), QStringLiteral("import pyftpdlib")});
    if (!probe.waitForFinished(15000)) {
        probe.kill();
        probe.waitForFinished(3000);
        return false;
    }
    return probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

bool PyFtpServer::Start(const QString& directory)
{
    Stop();
    error_.clear();
    const QString python = SystemPython();
    if (python.isEmpty()) {
        error_ = QStringLiteral("/usr/bin/python3 not found (install python3-pyftpdlib)");
        return false;
    }
    if (directory.isEmpty()) {
        ownDir_ = std::make_unique<QTemporaryDir>();
        if (!ownDir_->isValid()) {
            error_ = QStringLiteral("cannot create a temporary directory");
            return false;
        }
        directory_ = QDir(ownDir_->path()).canonicalPath();
    } else {
        directory_ = QFileInfo(directory).canonicalFilePath();
    }
    fingerprint_.clear();
    QString cert;
    QString key;
    if (tls_) {
        certDir_ = std::make_unique<QTemporaryDir>();
        if (!certDir_->isValid() ||
            !MakeSelfSignedCertificate(certDir_->path(), cert, key, fingerprint_)) {
            error_ = QStringLiteral("openssl could not make a certificate (install openssl)");
            return false;
        }
    }
    // A port that was free a moment ago may be taken meanwhile: try a few.
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = FreeTcpPort();
        if (port_ == 0) continue;
        const QStringList args =
            tls_ ? QStringList{QStringLiteral("-c"), QString::fromLatin1(kTlsServer),
                               QString::number(port_), user_, password_, directory_, cert, key}
            : rateLimit_ > 0 ? QStringList{QStringLiteral("-c"),
                                         QString::fromLatin1(kThrottledServer),
                                         QString::number(port_),
                                         user_,
                                         password_,
                                         directory_,
                                         QString::number(rateLimit_)}
                           : QStringList{QStringLiteral("-m"), QStringLiteral("pyftpdlib"),
                                         QStringLiteral("-i"), QStringLiteral("127.0.0.1"),
                                         QStringLiteral("-p"), QString::number(port_),
                                         QStringLiteral("-u"), user_,
                                         QStringLiteral("-P"), password_,
                                         QStringLiteral("-d"), directory_,
                                         QStringLiteral("-w")};
        if (!process_.Start(python, args)) {
            error_ =
                QStringLiteral("cannot start ") + python + QStringLiteral(": ") + process_.Error();
            return false;
        }
        if (WaitForPort(port_, 15000) && process_.Running()) return true;
        error_ = QStringLiteral("pyftpdlib did not listen on port ") + QString::number(port_) +
                 QStringLiteral(": ") + process_.Output();
        process_.Stop();
    }
    port_ = 0;
    return false;
}

void PyFtpServer::Stop()
{
    process_.Stop();
}

}  // namespace testsupport
