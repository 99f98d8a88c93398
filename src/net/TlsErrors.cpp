#include "net/TlsErrors.h"

std::string TlsErrorText(int ErrCode)
{
    switch (ErrCode) {
    case TlsErrHandshake:
        return "TLS handshake failed";
    case TlsErrCertificate:
        return "TLS certificate not trusted";
    case TlsErrFingerprintMismatch:
        return "TLS certificate differs from the trusted one";
    case TlsErrTruncated:
        return "TLS connection ended without close_notify";
    case TlsErrProtocol:
        return "TLS protocol error";
    case TlsErrHandshakeTimeout:
        return "TLS handshake timed out";
    case TlsErrUnavailable:
        return "TLS not available";
    default:
        return {};
    }
}
