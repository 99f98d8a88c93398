#include "peers/TelnetdPeer.h"

#include "support/PeerProcess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>
#include <csignal>

namespace testsupport {

namespace {

// Whether 127.0.0.1:port is in the listening state (read from /proc/net/tcp, so that no probe
// connection makes socat start a telnetd).
bool Listening(std::uint16_t port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly)) return false;
    const QByteArray wanted = QByteArray("0100007F:") +
                              QByteArray::number(port, 16).toUpper().rightJustified(4, '0') +
                              " 00000000:0000 0A";
    return table.readAll().contains(wanted);
}

// The command line of a process, NULs turned into blanks (empty when it is gone).
QByteArray CommandLine(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return {};
    QByteArray text = f.readAll();
    text.replace('\0', ' ');
    return text;
}

}  // namespace

TelnetdPeer::TelnetdPeer() = default;

TelnetdPeer::~TelnetdPeer()
{
    Stop();
}

bool TelnetdPeer::Start(int timeoutMs)
{
    Stop();
    error_.clear();
    log_.clear();
    for (const char* program : {TelnetdPath, SocatPath}) {
        if (!QFileInfo(QString::fromLatin1(program)).isExecutable()) {
            error_ = QStringLiteral("%1 is missing (scripts/install-deps installs it)")
                         .arg(QString::fromLatin1(program));
            return false;
        }
    }
    dir_ = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                           QStringLiteral("/zarvos-telnetd-XXXXXX"));
    if (!dir_->isValid()) {
        error_ = QStringLiteral("no temporary directory: ") + dir_->errorString();
        return false;
    }
    // The login program: records the shell's process id (the shell replaces the script) and
    // starts an interactive shell with a fixed prompt. The directory on the shell's command line
    // tells Stop that a recorded process is still this shell.
    const QString dir = dir_->path();
    const QString script = dir + QStringLiteral("/login.sh");
    QFile f(script);
    if (!f.open(QIODevice::WriteOnly)) {
        error_ = QStringLiteral("cannot write ") + script;
        return false;
    }
    f.write(QStringLiteral("#!/bin/sh\n"
                           "# Stands in for login: a shell with a fixed prompt.\n"
                           "echo $$ >> '%1/shells'\n"
                           "cd '%1' || exit 1\n"
                           "unset ENV\n"
                           "PS1='%2'\n"
                           "export PS1\n"
                           "exec /bin/sh -i -s '%1'\n")
                .arg(dir, QString::fromLatin1(Prompt))
                .toLocal8Bit());
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    // Another program may take the free port before socat binds it: try a few.
    for (int attempt = 0; attempt < 3; ++attempt)
        if (StartOnce(timeoutMs)) return true;
    return false;
}

bool TelnetdPeer::StartOnce(int timeoutMs)
{
    port_ = FreeTcpPort();
    if (port_ == 0) {
        error_ = QStringLiteral("no free port");
        return false;
    }
    socat_ = std::make_unique<QProcess>();
    socat_->setProcessChannelMode(QProcess::MergedChannels);
    socat_->setWorkingDirectory(dir_->path());
    // A process group of its own: Stop ends socat and every telnetd it forked at once.
    socat_->setChildProcessModifier([] { ::setsid(); });
    socat_->start(QString::fromLatin1(SocatPath),
                  {QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,fork").arg(port_),
                   QStringLiteral("EXEC:%1 -h -E %2/login.sh,nofork")
                       .arg(QString::fromLatin1(TelnetdPath), dir_->path())});
    if (!socat_->waitForStarted(5000)) {
        error_ = QStringLiteral("socat did not start: ") + socat_->errorString();
        socat_.reset();
        return false;
    }
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (Listening(port_)) return true;
        if (socat_->state() == QProcess::NotRunning) break;
        QThread::msleep(20);
    }
    error_ = QStringLiteral("socat is not listening on port %1: %2").arg(port_).arg(Log());
    EndServer();
    return false;
}

void TelnetdPeer::Stop()
{
    EndServer();
    EndShells();
    dir_.reset();
}

void TelnetdPeer::EndServer()
{
    if (socat_) {
        const qint64 group = socat_->processId();
        if (group > 0) ::kill(static_cast<pid_t>(-group), SIGTERM);
        if (socat_->state() != QProcess::NotRunning && !socat_->waitForFinished(3000)) {
            if (group > 0) ::kill(static_cast<pid_t>(-group), SIGKILL);
            socat_->waitForFinished(3000);
        } else if (group > 0) {
            // telnetd processes of the group that outlived socat.
            ::kill(static_cast<pid_t>(-group), SIGKILL);
        }
        log_ += QString::fromLocal8Bit(socat_->readAll());
        socat_.reset();
    }
}

void TelnetdPeer::EndShells()
{
    if (!dir_) return;
    QFile list(dir_->path() + QStringLiteral("/shells"));
    if (!list.open(QIODevice::ReadOnly)) return;
    const QByteArray marker = dir_->path().toLocal8Bit();
    QList<qint64> alive;
    for (const QByteArray& line : list.readAll().split('\n')) {
        bool ok = false;
        const qint64 pid = line.trimmed().toLongLong(&ok);
        if (ok && pid > 1 && CommandLine(pid).contains(marker)) alive.append(pid);
    }
    // A shell whose terminal went away normally ends by itself; one that did not gets SIGHUP,
    // then SIGKILL after a second.
    for (qint64 pid : alive)
        ::kill(static_cast<pid_t>(pid), SIGHUP);
    const QDeadlineTimer deadline(1000);
    while (!alive.isEmpty() && !deadline.hasExpired()) {
        alive.removeIf([&](qint64 pid) { return !CommandLine(pid).contains(marker); });
        QThread::msleep(20);
    }
    for (qint64 pid : alive)
        ::kill(static_cast<pid_t>(pid), SIGKILL);
}

bool TelnetdPeer::Running() const
{
    return socat_ && socat_->state() != QProcess::NotRunning;
}

QString TelnetdPeer::Log() const
{
    if (socat_) log_ += QString::fromLocal8Bit(socat_->readAll());
    return log_;
}

int TelnetdPeer::ShellsStarted() const
{
    if (!dir_) return 0;
    QFile list(dir_->path() + QStringLiteral("/shells"));
    if (!list.open(QIODevice::ReadOnly)) return 0;
    return static_cast<int>(list.readAll().count('\n'));
}

}  // namespace testsupport
