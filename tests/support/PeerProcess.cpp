#include "support/PeerProcess.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <csignal>

namespace testsupport {

std::uint16_t FreeTcpPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    std::uint16_t port = 0;
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

bool WaitForPort(std::uint16_t port, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (ok) return true;
        QThread::msleep(50);
    }
    return false;
}

PeerProcess::~PeerProcess()
{
    Stop();
}

bool PeerProcess::Start(const QString& program, const QStringList& args, const QString& workingDir)
{
    Stop();
    proc_ = std::make_unique<QProcess>();
    proc_->setProcessChannelMode(QProcess::MergedChannels);
    if (!workingDir.isEmpty()) proc_->setWorkingDirectory(workingDir);
    // A peer must not outlive a test program that dies before it could stop it (a crash, a kill
    // at the test time-out): the child gets SIGKILL when its parent goes.
    proc_->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    proc_->start(program, args);
    if (!proc_->waitForStarted(10000)) {
        error_ = proc_->errorString();
        proc_.reset();
        return false;
    }
    return true;
}

void PeerProcess::Stop()
{
    if (!proc_) return;
    if (proc_->state() != QProcess::NotRunning) {
        proc_->terminate();
        if (!proc_->waitForFinished(3000)) {
            proc_->kill();
            proc_->waitForFinished(3000);
        }
    }
    proc_.reset();
}

bool PeerProcess::Running() const
{
    return proc_ && proc_->state() != QProcess::NotRunning;
}

QString PeerProcess::Output() const
{
    return proc_ ? QString::fromLocal8Bit(proc_->readAll()) : QString();
}

QString SystemPython()
{
    for (const char* p : {"/usr/bin/python3"})
        if (QFileInfo(QString::fromLatin1(p)).isExecutable()) return QString::fromLatin1(p);
    return QString();
}

}  // namespace testsupport
