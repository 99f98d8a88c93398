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
//    fires as for a plain socket, then the handshake starts at once (its first flight leaves
//    from the event loop after the handler; what the handler sends is held, see below). Before
//    Dup: the handshake starts at once after the handle is taken over (this side is the TLS
//    client even though it accepted the TCP connection, as FTP data connections in active mode
//    need). StartTls on a connected plain socket (after a server's "234" reply to AUTH TLS)
//    starts it there and turns Tls on. A datagram socket never uses TLS.
//  - OnTlsHandshakeDone(Error) fires once per handshake, from the event loop: 0 when the
//    connection is secured and the certificate accepted (see below), else one of the Tls*
//    numbers of TlsErrors.h (or a Winsock number when the network failed, e.g. 10054). After a
//    failure the component closes the connection itself: OnSessionClosed(Error) follows with
//    the same number. TlsErrorDetail tells why in words (OpenSSL's reason, such as "wrong
//    version number", or the certificate's). A Close or Abort of the user's during the
//    handshake ends it without OnTlsHandshakeDone.
//  - Send before the handshake has completed (once the TCP connection is up; before that it
//    fails as on a plain socket) is accepted: the bytes are held and encrypted when the
//    handshake is done, before anything sent from OnTlsHandshakeDone. No OnDataAvailable fires
//    before OnTlsHandshakeDone(0). The handshake's own records bring no OnDataSent; one
//    OnDataSent(0) follows OnTlsHandshakeDone(0) (as one follows Connect or Dup on a plain
//    socket). Each Send encrypts at once (records of up to 16 KiB, handed to the network in
//    batches of up to 64 KiB of application bytes).
//  - Receive gives decrypted bytes (as many records as fit in the buffer), -1 with LastError
//    10035 when none are there, 0 after the peer's close_notify. As on a plain socket, no new
//    OnDataAvailable fires until the handler has called Receive. ReadCount counts network
//    bytes. ReadLine (the line mode) is refused while TLS is on.
//  - The peer's close_notify is an orderly end: once the bytes before it have been delivered
//    the component answers with its own close_notify and closes: OnSessionClosed(0), without
//    waiting for the peer's TCP close. A TCP close or reset without close_notify ends the
//    connection with OnSessionClosed(13004, TlsErrTruncated) after every application byte
//    received before it has been delivered (unless this side had already sent its
//    close_notify: then the peer's plain close is an orderly end too); a record the layer
//    cannot decrypt or a TLS alert ends it with 13005 (TlsErrProtocol).
//  - Shutdown(1) or Shutdown(2) send this side's close_notify behind the queued bytes before
//    the TCP shutdown (when the platform's buffer is full, the TCP shutdown follows once
//    close_notify has been handed over); asked for during the handshake, they take effect when
//    it has completed, behind the bytes held during it. No OnDataSent follows close_notify,
//    and Send fails after it (10058). Close sends close_notify when everything queued has gone (Close drops
//    unsent bytes as on a plain socket; then the peer is left to see the stream cut), after
//    taking records that arrived and were not read off the platform (a close with unread
//    bytes would be a reset). Abort sends none.
//  - SendFile always returns -1 with LastError 10045 while TLS is on (the file's bytes must be
//    encrypted: use Send).
//
// Certificates: the peer's chain is verified against the system's trusted authorities
// (OpenSSL's default paths) and its name against TlsHostName (a DNS name, also sent as SNI, or
// a dotted IPv4 address; empty: Addr; set it for a connection taken over with Dup, whose Addr
// is whatever the component held; with neither only the chain is checked). When
// TlsFingerprint is set, the certificate whose SHA-256 fingerprint equals it is accepted
// whatever the verification found, and any other certificate is refused (13003,
// TlsErrFingerprintMismatch) even when the authorities would accept it. Without a pin a
// certificate that fails verification is refused (13002, TlsErrCertificate). Before the
// component decides, OnTlsVerify fires with the certificate's details (PeerCertificate) and
// may set Accept; Accept starts as the decision above. The engine above never opens a dialog: it
// passes the details on to its owner.
//
// Sessions: once the handshake is done TlsSession returns the connection's session (resumable
// by later connections to the same server, as FTP data connections must reuse the control
// connection's session); with TLS 1.3 that is the newest session ticket the server has sent,
// which arrives after the handshake (read by the first reply; null before). It stays
// available after the connection has closed, until the next one starts. SetTlsResumeSession
// before Connect, Dup or StartTls offers it; TlsSessionReused tells, after the handshake,
// whether the server took it. One client context (TLS 1.2 at least) serves the whole process.
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
    // Reports "ReadLine: not available with TLS" while TLS is on (the line mode reads network
    // bytes); the base component's otherwise.
    void ReadLine(int Timeout, std::string& Line) override;
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
    bool SetupFailing() const;
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
    int shutdownAfterHandshake_ = 0; // a Shutdown of the sending side asked for mid-handshake
    bool readDry_ = false;           // the last raw read of this read event would block
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
