// Starting real peer servers (FTP, telnet, scripted helpers) for tests on loopback high ports.
// Every process a test starts is stopped by the test's end, within a bounded time.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

namespace testsupport {

// A TCP port on 127.0.0.1 that was free a moment ago (bound to port 0, then released).
std::uint16_t FreeTcpPort();

// Polls until a connect to 127.0.0.1:port succeeds or timeoutMs passes.
bool WaitForPort(std::uint16_t port, int timeoutMs);

// A child process that is terminated (then killed after 3 s) when the object goes away, and
// killed by the system if the test program itself dies first.
class PeerProcess {
public:
    PeerProcess() = default;
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    // Starts program with args; false (and Error() set) when it cannot be started.
    bool Start(const QString& program, const QStringList& args,
               const QString& workingDir = QString());
    void Stop();
    bool Running() const;
    QString Output() const;  // stdout and stderr collected so far
    const QString& Error() const { return error_; }

private:
    std::unique_ptr<QProcess> proc_;
    QString error_;
};

// Path of Debian's own python3 (which has the distribution's modules such as pyftpdlib), or
// an empty string when missing.
QString SystemPython();

}  // namespace testsupport
