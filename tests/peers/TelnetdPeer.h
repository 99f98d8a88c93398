// A real telnet server on loopback for tests: socat listens on a free high port of 127.0.0.1 and
// runs inetutils telnetd for each connection (telnetd takes the connection as its standard
// input). Instead of login, telnetd starts a small login program that runs /bin/sh -i with the
// prompt Prompt, in a private directory.
//
// What the server does on a connection: WILL AUTHENTICATION, WILL ENCRYPT, DO TERMINAL-TYPE,
// DO TSPEED, DO XDISPLOC, DO NEW-ENVIRON, DO OLD-ENVIRON; after the answers SB TERMINAL-TYPE
// SEND; after the terminal type WILL SUPPRESS-GO-AHEAD, DO ECHO, DO LINEMODE, DO NAWS,
// WILL STATUS, DO LFLOW; then WILL ECHO, DO TRANSMIT-BINARY and the shell's prompt. The shell's
// TERM is the answered terminal type in lower case.
//
// Usage:
//   testsupport::TelnetdPeer server;
//   ASSERT_TRUE(server.Start()) << server.Error().toStdString();
//   session.SetHost("127.0.0.1"); session.SetPort(std::to_string(server.Port()));
//   ...
//   server.Stop();  // also done by the destructor
//
// Stop ends socat, every telnetd it started and every shell those started, within a few seconds:
// socat runs in a process group of its own (telnetd stays in it), and each shell records its
// process id in the private directory.
#pragma once

#include <QString>

#include <cstdint>
#include <memory>

class QProcess;
class QTemporaryDir;

namespace testsupport {

class TelnetdPeer {
public:
    static constexpr const char* TelnetdPath = "/usr/sbin/telnetd";
    static constexpr const char* SocatPath = "/usr/bin/socat";
    // The shell's prompt.
    static constexpr const char* Prompt = "zarvos$ ";

    TelnetdPeer();
    ~TelnetdPeer();
    TelnetdPeer(const TelnetdPeer&) = delete;
    TelnetdPeer& operator=(const TelnetdPeer&) = delete;

    // Starts the server and waits (at most timeoutMs) until it accepts connections. False, with
    // Error() telling why, when a program is missing or the server did not come up.
    bool Start(int timeoutMs = 10000);
    // Ends the server and everything it started (bounded: about 7 s at the very worst).
    void Stop();

    bool Running() const;
    std::uint16_t Port() const { return port_; }
    const QString& Error() const { return error_; }
    // What socat has written so far (its errors).
    QString Log() const;
    // Number of shells the server has started so far.
    int ShellsStarted() const;

private:
    bool StartOnce(int timeoutMs);
    void EndServer();
    void EndShells();

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QProcess> socat_;
    std::uint16_t port_ = 0;
    QString error_;
    mutable QString log_;
};

}  // namespace testsupport
