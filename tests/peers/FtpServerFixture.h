// A real FTP server for tests and benchmarks: Debian's pyftpdlib, started as
// /usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p PORT -u USER -P PASS -d DIR -w
// on a free loopback port, with one user and a writable directory. Start() returns once the
// server accepts connections; Stop() (and the destructor) end it within a few seconds. With a rate
// limit set, the same server is started through a short script that makes its data connections
// move at most that many bytes per second (pyftpdlib's ThrottledDTPHandler), so that a transfer
// lasts long enough to be watched or cancelled. With TLS set, the server is pyftpdlib's
// TLS_FTPHandler (Debian's python3-openssl) requiring TLS on the control and data connections,
// with a self-signed certificate (CN=localhost) that openssl makes afresh at every Start.
#pragma once

#include "support/PeerProcess.h"

#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>

namespace testsupport {

// Makes a self-signed certificate (CN=localhost, P-256 key, valid for 2 days) with openssl into
// dir as cert.pem and key.pem; fingerprint receives its SHA-256 fingerprint ("AB:CD:..."). False
// when openssl cannot.
bool MakeSelfSignedCertificate(const QString& dir, QString& cert, QString& key,
                               QString& fingerprint);

class PyFtpServer {
public:
    PyFtpServer(QString user = QStringLiteral("user"), QString password = QStringLiteral("pass"));
    ~PyFtpServer();
    PyFtpServer(const PyFtpServer&) = delete;
    PyFtpServer& operator=(const PyFtpServer&) = delete;

    // Starts the server on a free port of 127.0.0.1, serving directory (a fresh temporary
    // directory, removed with the fixture, when empty). Waits at most 15 s for the port. False,
    // with Error() saying why, when python3, pyftpdlib or the port is not available.
    bool Start(const QString& directory = QString());
    // Bytes per second each data connection may move in either direction (0: no limit, the
    // default). Takes effect at the next Start.
    void SetRateLimit(int bytesPerSecond) { rateLimit_ = bytesPerSecond; }
    // Explicit FTPS required (AUTH TLS, PROT P). Takes effect at the next Start; not combined
    // with a rate limit.
    void SetTls(bool on) { tls_ = on; }
    bool Tls() const { return tls_; }
    // The SHA-256 fingerprint of the certificate of the last Start with TLS, as the TLS layer
    // shows fingerprints ("AB:CD:...", 95 characters); empty without one.
    const QString& CertificateFingerprint() const { return fingerprint_; }
    // Terminates the server (killed after 3 s); harmless when it does not run.
    void Stop();
    bool Running() const { return process_.Running(); }

    std::uint16_t Port() const { return port_; }
    // The served directory (absolute, without a trailing slash).
    const QString& Directory() const { return directory_; }
    // Absolute path of a file inside the served directory.
    QString PathOf(const QString& name) const { return directory_ + QLatin1Char('/') + name; }
    const QString& User() const { return user_; }
    const QString& Password() const { return password_; }
    const QString& Error() const { return error_; }
    // The server's log so far (its standard error and output).
    QString Output() const { return process_.Output(); }

    // True when Debian's python3 has pyftpdlib (tests skip otherwise, naming the package).
    static bool Available();
    // True when it also has pyOpenSSL and the openssl program is there (python3-openssl,
    // openssl).
    static bool TlsAvailable();

private:
    QString user_;
    QString password_;
    QString directory_;
    QString error_;
    std::uint16_t port_ = 0;
    int rateLimit_ = 0;
    bool tls_ = false;
    QString fingerprint_;
    std::unique_ptr<QTemporaryDir> ownDir_;
    std::unique_ptr<QTemporaryDir> certDir_;
    PeerProcess process_;
};

}  // namespace testsupport
