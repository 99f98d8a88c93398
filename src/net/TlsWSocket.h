// TTlsWSocket: the socket component with TLS (client side, OpenSSL 3) between its network bytes
// and its user.
//
// With TLS off (the default) it is a plain TWSocket: every event, operation and error is the
// base component's, byte for byte.
//
// With TLS on, the component keeps the base component's event contract (WSocket.h) above TLS:
// OnDataAvailable means decrypted application bytes can be read with Receive, Send queues
// application bytes, OnDataSent fires from the event loop when everything queued (encrypted) has
// been handed to the network, OnSessionClosed fires once when the connection ends. The TLS
// handshake, the records and close_notify happen inside; the user only sees the events below.
//
//  - TLS on before Connect (SetTls(true)): after the TCP connection is up OnSessionConnected(0)
//    fires as for a plain socket, then the handshake starts at once. Before Dup: the handshake
//    starts at once after the handle is taken over (this side is the TLS client even though it
//    accepted the TCP connection, as FTP data connections in active mode need). StartTls on a
//    connected plain socket (after a server's "234" reply to AUTH TLS) starts it there.
//  - OnTlsHandshakeDone(Error) fires once per handshake, from the event loop: 0 when the
//    connection is secured and the certificate accepted (see below), else one of the Tls*
//    numbers of TlsErrors.h (or a Winsock number when the network failed). After a failure the
//    component closes the connection itself: OnSessionClosed(Error) follows with the same number.
//  - Send before the handshake has completed is accepted: the bytes are held and encrypted when
//    the handshake is done. No OnDataAvailable fires before OnTlsHandshakeDone(0).
//  - The peer's close_notify followed by its TCP close is an orderly end: OnSessionClosed(0). A
//    TCP close or reset without close_notify ends the connection with OnSessionClosed(13004,
//    TlsErrTruncated) after every application byte received before it has been delivered; a
//    record the layer cannot decrypt or a TLS alert ends it with 13005 (TlsErrProtocol).
//  - Close, and Shutdown(1) or Shutdown(2), send this side's close_notify (after the held and
//    queued bytes) before the TCP shutdown. Abort does not.
//  - SendFile always returns -1 with LastError 10045 while TLS is on (the file's bytes must be
//    encrypted: use Send).
//
// Certificates: the peer's chain is verified against the system's trusted authorities
// (OpenSSL's default paths) and its name against TlsHostName (a DNS name or a dotted IPv4
// address; empty: Addr). When TlsFingerprint is set, the certificate whose SHA-256 fingerprint
// equals it is accepted whatever the verification found, and any other certificate is refused
// (13003, TlsErrFingerprintMismatch) even when the authorities would accept it. Without a pin a
// certificate that fails verification is refused (13002, TlsErrCertificate). Before the
// component decides, OnTlsVerify fires with the certificate's details (PeerCertificate) and
// may set Accept; Accept starts as the decision above. The engine above never opens a dialog: it
// passes the details on to its owner.
//
// Sessions: once the handshake is done TlsSession returns the connection's session (resumable
// by later connections to the same server, as FTP data connections must reuse the control
// connection's session). SetTlsResumeSession before Connect, Dup or StartTls offers it;
// TlsSessionReused tells, after the handshake, whether the server took it.
#pragma once

#include "net/TlsErrors.h"
#include "net/WSocket.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// What the peer's certificate says, for the user to judge.
struct TTlsCertificateInfo {
    std::string Sha256Fingerprint;  // 64 upper-case hex digits in pairs split by ':' (95 chars)
    std::string Subject;            // one-line distinguished names ("CN=host, O=Org, C=DE")
    std::string Issuer;
    std::string NotBefore;          // "2026-12-08 16:48:22 UTC"
    std::string NotAfter;
    bool Verified = false;          // the chain and the name checked out against the authorities
    std::string Reason;             // why not ("self-signed certificate", "host name mismatch",
                                    // "certificate has expired", ...); empty when Verified
};

// An opaque resumable TLS session (shared between the control and data connections).
class TTlsSession;
using TTlsSessionPtr = std::shared_ptr<TTlsSession>;

using TTlsHandshakeDone = std::function<void(QObject* Sender, std::uint16_t Error)>;
using TTlsVerify =
    std::function<void(QObject* Sender, const TTlsCertificateInfo& Info, bool& Accept)>;

class TTlsWSocket : public TWSocket {
    Q_OBJECT
public:
    explicit TTlsWSocket(QObject* AOwner = nullptr);
    ~TTlsWSocket() override;

    // ---- TLS properties ---------------------------------------------------------------------
    // TLS for the next Connect or Dup (or the current connection after StartTls). Kept across
    // closes (ResetToDefaults does not clear it, nor TlsHostName, TlsFingerprint, the resume
    // session or the time-out).
    bool Tls() const;
    void SetTls(bool On);
    // Starts the handshake on a connected plain connection (OnTlsHandshakeDone reports the end).
    // Reports "StartTls: not connected" / "StartTls: TLS already active" through ReportError.
    void StartTls();
    // True between OnTlsHandshakeDone(0) and the end of the connection.
    bool TlsActive() const;
    // True while a handshake runs.
    bool TlsHandshaking() const;
    const std::string& TlsHostName() const;
    void SetTlsHostName(const std::string& Name);
    // The pinned certificate fingerprint (format of TTlsCertificateInfo::Sha256Fingerprint; case
    // and separators are ignored when compared); empty: no pin.
    const std::string& TlsFingerprint() const;
    void SetTlsFingerprint(const std::string& Fingerprint);
    // Seconds a handshake may take before it fails with 13006 (TlsErrHandshakeTimeout); 0: no
    // limit (the default; the FTP engine bounds its requests by its own Timeout).
    int TlsHandshakeTimeout() const;
    void SetTlsHandshakeTimeout(int Seconds);
    TTlsSessionPtr TlsSession() const;
    void SetTlsResumeSession(TTlsSessionPtr Session);
    bool TlsSessionReused() const;
    // The peer's certificate of the last handshake (empty fields before one).
    const TTlsCertificateInfo& PeerCertificate() const;
    // "TLSv1.3 TLS_AES_256_GCM_SHA384" of the active connection, empty without one.
    std::string TlsDescription() const;

    // ---- Overridden operations (TLS-aware when TLS is on) -----------------------------------
    void Connect() override;
    void Dup(TSocket NewHSocket) override;
    int Receive(void* Buffer, int BufferSize) override;
    int Send(const void* Data, int Len) override;
    void Close() override;
    void Abort() override;
    void Shutdown(int How) override;
    std::int64_t SendFile(int FileHandle, std::int64_t& Offset, std::int64_t Count) override;
    void Resume() override;
    // Also ends the TLS connection (the TLS properties are kept).
    void ResetToDefaults() override;

    // A human-readable detail of the last TLS failure of this component (OpenSSL's reason,
    // e.g. "wrong version number", or the certificate's verification result); empty when none.
    // Cleared when a handshake starts.
    const std::string& TlsErrorDetail() const;

    // Test-only: adds the certificates of a PEM file to the authorities every TLS component of
    // the process trusts (the shared context). Never called by the program itself.
    static void SetTlsTrustStoreForTests(const std::string& CaPemFile);

    // ---- Overridden triggers: the base events, carried above TLS ---------------------------
    bool TriggerDataAvailable(std::uint16_t Error) override;
    void TriggerSessionConnected(std::uint16_t Error) override;
    void TriggerSessionClosed(std::uint16_t Error) override;
    void TriggerDataSent(std::uint16_t Error) override;
    void TriggerChangeState(TSocketState OldState, TSocketState NewState) override;

    // ---- Events -----------------------------------------------------------------------------
    TTlsHandshakeDone OnTlsHandshakeDone;
    TTlsVerify OnTlsVerify;

private:
    friend struct TTlsGlue;  // the OpenSSL callbacks (TlsWSocket.cpp)

    bool Alive(std::uint64_t Gen) const;
    void StartHandshake();
    void DoHandshake();
    void HandshakeFinished();
    void HandshakeFailed(int Code);
    void ReportHandshakeEnd(int Code);
    // A connection that ends while its handshake runs (not by the user's Close): the handshake's
    // end is reported with the close's number.
    void EndHandshakeOnClose(std::uint16_t Error);
    // Reads and delivers: the handshake's progress, then decrypted data to OnDataAvailable
    // while the user receives it; handles close_notify, truncation and bad records. Returns
    // false when decrypted data waits for a Receive (or there is no handler).
    bool ProcessIncoming();
    void PostProcessIncoming();
    void EndOfStream(int SslError);
    bool EncryptAndSend(const char* Data, std::size_t Len);
    void QueueRaw(const char* Data, int Len);
    void FlushOut(bool UserData = false);
    void SendCloseNotify();
    void CloseWithError(int Code);
    void FreeSsl();
    void ResetConnectionFlags();
    void NoteSslError(const char* Where);

    // Properties.
    bool tls_ = false;
    std::string hostName_;
    std::string fingerprint_;
    int handshakeTimeout_ = 0;
    TTlsSessionPtr resumeSession_;

    // The TLS connection (null without one).
    struct ssl_st* ssl_ = nullptr;
    bool outPending_ = false;        // encrypted bytes were queued and not yet sent
    bool captureOut_ = false;        // encrypted bytes go to captured_ instead of the queue
    std::string captured_;
    std::unique_ptr<QTimer> handshakeTimer_;
    std::uint64_t gen_ = 0;          // counts TLS connections and their ends
    bool handshaking_ = false;
    bool handshakeReported_ = false;
    std::string held_;               // application bytes sent before the handshake was done
    bool inDelivery_ = false;
    bool processPosted_ = false;
    int pendingShutdown_ = 0;        // a Shutdown waiting for close_notify to leave the queue
    bool awaitingReceive_ = false;   // a handler left decrypted data unread: wait for Receive
    std::uint64_t receiveCalls_ = 0;
    bool inClose_ = false;           // inside Close (the send queue is about to be dropped)
    bool inFlush_ = false;           // inside the raw Send of encrypted bytes

    // Facts of the current (or last) connection, kept until the next one starts.
    bool connTls_ = false;            // TLS was started on it
    bool connActive_ = false;         // its handshake was completed and accepted
    bool closeNotifySent_ = false;
    bool closeNotifyReceived_ = false;
    bool peerEof_ = false;            // the raw stream ended (TCP close)
    int netError_ = 0;                // a Winsock error of a raw receive (reset)
    bool ownClose_ = false;           // Close, Abort or Shutdown by the user
    int closeError_ = 0;              // the number OnSessionClosed reports
    bool sessionReused_ = false;
    TTlsSessionPtr session_;          // the newest session (ticket) of the connection
    TTlsCertificateInfo peerCert_;
    std::string errorDetail_;
};
