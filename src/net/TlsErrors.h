// Error numbers of the TLS layer (TlsWSocket.h). They travel where Winsock numbers travel (event
// Error parameters, LastError) and SocketErrorText describes them as well.
#pragma once

#include <string>

enum : int {
    TlsErrHandshake = 13001,            // the handshake failed (no common protocol, bad reply, ...)
    TlsErrCertificate = 13002,          // the certificate failed verification and was not trusted
    TlsErrFingerprintMismatch = 13003,  // a pinned fingerprint was set and the peer showed another
    TlsErrTruncated = 13004,            // the connection ended without close_notify
    TlsErrProtocol = 13005,             // a bad record or an alert on a secured connection
    TlsErrHandshakeTimeout = 13006,     // the handshake took longer than TlsHandshakeTimeout
    TlsErrUnavailable = 13007,          // TLS could not be set up here (library or context failure)
};

// English text of a TLS error number (empty for any other number).
std::string TlsErrorText(int ErrCode);
