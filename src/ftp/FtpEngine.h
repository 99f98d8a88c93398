// TCustomFtpCli / TFtpClient: the non-visual FTP client engine (client side of RFC 959, with
// active and passive data connections, and explicit FTPS of RFC 4217). GUI-free: Qt Core and the
// socket component (net) only, so it is tested and benchmarked headless.
//
// Model
//  - Two TWSocket components: the control connection (commands out, numbered replies in) and the
//    data connection. Active mode (Passive false, the default): a listening socket announced by
//    PORT, the server connects to it. Passive mode (Passive true): the engine asks with EPSV
//    (reply 229), or with PASV (reply 227) when the server refuses EPSV with 500, 501 or 502,
//    and connects to the port named in the reply, always at the address of the server's end of
//    the control connection ("! Passive: connecting to A port P"), whatever address a 227 reply
//    names. Both modes are the same Port step of a chain, with the same request codes, events,
//    progress, restart, abort and Timeout; passive mode connects before the transfer command
//    goes out, so a port where nothing listens ends the step with the connect's Winsock error
//    (ErrorMessage "425 Passive: cannot connect to A port P: ...") and no RETR or STOR is sent.
//    A 229 or 227 reply without a usable port (malformed, 0, above 65535) ends the step with 425
//    ("425 Passive: the reply names no usable port"); EPSV and PASV both refused end it with the
//    PASV reply's code ("! Passive: the server refused EPSV and PASV").
//  - Every operation ending in Async only STARTS a request and returns. Exactly one request runs
//    at a time; its end is announced by OnRequestDone(Sender, RqType, Error), Error 0 for success,
//    else the failing reply code or a Winsock error number. OnRequestDone is always fired from a
//    notification the engine posts to itself, so it runs from the event loop after the code that
//    completed the request has returned, never inside an operation; a request completes at most
//    once.
//  - Single-command requests (UserAsync, CwdAsync, ...) send one command and judge its reply
//    against the accepted reply codes. Chained requests (ConnectAsync, GetAsync, ReceiveAsync,
//    ...) run a fixed sequence of steps and fire one OnRequestDone at the end; a failing step
//    drops the rest except a pending QUIT, and the chain reports the first failure.
//  - TFtpClient adds the synchronous forms (Connect, Cwd, Pwd, CDup, TypeSet, Get, Put, Quit, Dir,
//    Mkd, Dele, Rmd): each starts its request and keeps the event loop running until the engine
//    is ready again or Timeout seconds pass without progress (data moved on the data connection,
//    or bytes received on the control connection: see Timeout). They return true when the request
//    ended with result 0. When one returns, OnRequestDone of its request has already run (it is
//    delivered inside the wait), except after a time-out, whose completion arrives later from the
//    event loop. They may be called from inside OnRequestDone; the waits then nest.
//
// Replies: a reply begins with a line that starts with exactly three digits (the first of them 1
// to 9) followed by a space (a one-line reply) or a hyphen (a multi-line reply). A multi-line reply
// ends only at the line that starts with its own code and a space; every line in between belongs
// to it whatever its form (indented lines, FEAT's features, lines with other numbers): each is
// shown, fires OnResponse and is judged with the reply, never as a reply of its own. A line that
// must begin a reply and does not (a line without a code, "65536 refused", "4294967553 ok",
// " 230 x", "000 x") is a protocol error: the engine shows it, displays "! Protocol error: ...",
// and closes the session, because it can no longer tell which reply belongs to which command; the
// running request ends with 426 and ErrorMessage "426 Protocol error: ...".
//
// Result codes: the Error of OnRequestDone is RequestResult, unchanged, and the synchronous
// operations return RequestResult == 0. Every result fits its 16 bits: reply codes have three
// digits (100 to 999), platform errors are Winsock numbers (10000 to 11004), and the engine's own
// failures use 426 and 550. Should a result outside 1 to 65535 ever arise, the request fails with
// 65535 (kUnreportableResult) in both Error and RequestResult: a failure is never reported as
// success or as another code.
//
// Display stream: OnDisplay receives "> " + every command sent, "< " + every reply line and
// "! " + engine notices (transfer statistics, "! Abort requested", "! Data: ..." lines, errors,
// "! Passive: ..." lines). The PASS command is displayed as sent; the window masks it.
//
// Data path: downloads are read in blocks of kDataBlockSize bytes, 256 KiB (each receive event
// reads as long as the platform holds data; of 64 KiB, 256 KiB and 1 MiB blocks, 256 KiB read
// fastest in bench_ftp, by 15 to 25 percent); uploads go from the file straight to the connection
// with the socket's SendFile (sendfile: one call fills the platform's send buffer, one event-loop
// round per buffer), or, for files that cannot be sent that way, in blocks of kDataBlockSize
// through Send. At the end of an upload's file the engine shuts the sending direction down (the
// server reads the end of the stream) and the upload ends with the server's final reply and its
// close of the data connection; after the final reply the engine closes its end itself. OnProgress
// reports the bytes so far before the first block, then at most every kProgressIntervalMs ms while
// data flows, and once more with the final count when the data has ended; every block still
// refreshes Timeout.
//
// TLS (explicit FTPS, RFC 4217), TlsMode ftpTlsExplicit; with ftpTlsNone (the default) nothing
// below happens and the engine is plain FTP. Both sockets are TTlsWSocket (net/TlsWSocket.h).
//  - Open step: after the 220 greeting "AUTH TLS"; 234 starts the handshake on the control
//    connection (TlsHostName := HostName, the pin := TlsFingerprint), and the step ends when it
//    is done ("! TLS: TLSv1.3 TLS_AES_256_GCM_SHA384"). Bytes behind the 234 reply (sent in the
//    clear) are dropped. Any other reply ends the step, and the chain, with that reply's code
//    ("! The server refused AUTH TLS: ..."; ErrorMessage the reply) and the control connection
//    is closed: USER and PASS never go out. A failed handshake ends it with the layer's number
//    (13001 to 13007, or a Winsock number) and ErrorMessage "500 TLS ...: ... (TLS error #N)";
//    a refused certificate (13002) names its fingerprint and the reason, a pin that differs
//    (13003) names both fingerprints ("expected A, presented B"), and OnTlsCertificate fires
//    with the certificate before the request completes. Without a pin a certificate is
//    accepted only when the system's authorities verify it and its name.
//  - While TlsMode is ftpTlsExplicit, no command but QUIT starts on a connection that is not
//    secured (FtpException "TLS was asked for and the control connection is not secured").
//  - PBSZ 0 and PROT P go out once per session, as the first commands of the session's first
//    Port step (before PORT or EPSV; a 2xx reply is accepted). A refusal ends that step with the
//    server's reply, and no data connection is made in the clear.
//  - Every data connection is TLS after PROT P: in active mode the accepted connection (this side
//    is the TLS client), in passive mode the connection made to the server. It offers the
//    control connection's TLS session for resumption and is pinned to the certificate the control
//    connection accepted. The transfer command goes out without waiting for the data
//    handshake (some servers begin it only after the command).
//  - A download ends successfully only when the server closes the data connection with
//    close_notify, or, when it closes without close_notify, after exactly the bytes its 150 reply
//    announced ("(N bytes)", not after REST). Any other cut, a failed data handshake (also a
//    server that opens a plain data connection after PROT P) or a TLS error on it ends the
//    transfer with 426 (ErrorMessage "426 ..."), whatever the server replies; the engine does not
//    report the partial file complete. An upload goes through Send (SendFile cannot encrypt) in
//    kSendBlocksPerRound blocks of kDataBlockSize per event-loop round; at the end of its file the
//    engine's Shutdown(1) sends close_notify before the TCP shutdown, then the server's reply is
//    awaited as in plain FTP (a server that then closes without close_notify changes nothing).
//  - A handshake that stalls ends, in the synchronous operations, by Timeout (nothing moves, so
//    nothing refreshes it); asynchronous requests have no time limit of their own, as in plain
//    FTP. Chains, events, progress, restart, abort, 64-bit counts and the result codes are those of
//    plain FTP.
//
// Results readable after a request: ErrorMessage (first failing reply line of the request; a
// chained request clears it at its start), StatusCode and LastResponse (the last reply line read;
// after a chain ending in QUIT, the line before the QUIT), SizeResult (SIZE), DirResult (quoted
// name of the last CWD, MKD, PWD or CDUP reply).
//
// Wiring the synchronous wait (TFtpClient)
//  - SetWaitCtrl(TWaitControl*) with a TWait widget (target net_wait) placed in the window: the
//    wait shows the control, runs its modal RunWait (which swallows mouse clicks and key presses
//    with a beep, so the user cannot start a second operation while one runs) and hides it again.
//    The engine does not own the control; when the control is destroyed the reference is
//    cleared. The control's count shows the seconds of Timeout left; progress resets it.
//  - Without a control (and MultiThreaded false) the wait pumps the calling thread's event loop,
//    sleeping in the dispatcher until the next event or a 100 ms wake-up; user input is then
//    processed during the wait, so the window must tolerate clicks that arrive meanwhile (a
//    second start simply fails with "FTP component not ready").
//  - MultiThreaded true: the control socket's PumpMessages with a yield between rounds, for an
//    engine that lives on a thread without a running event loop.
//
// Exceptions (what the windows must expect)
//  - Caller errors raise FtpException at once, before anything is sent; the request does not start
//    and no OnRequestDone follows: "FTP component not ready", "FTP component already connected",
//    "FTP component not connected", "UserName emtpy", "Password emtpy", "HostDirName emtpy",
//    "LocalFileName empty", "RETR: not connected" (LIST, NLST), "STOR/APPE: not connected",
//    "Command refused: it contains a CR character" (LF, NUL) for a command text holding one of
//    them (chains check all their texts before the first step), and a host name the socket
//    refuses ("DNS lookup: invalid host name."). PortAsync called directly may also raise the
//    socket's ESocketException when no listening socket can be made.
//  - The synchronous operations never raise: every exception from their start or from anything
//    run while they wait becomes the result false.
//  - The engine never lets an exception of its own leave one of its event handlers: socket
//    failures and steps of a chain that cannot start (for example after the server closed the
//    control connection) end the request through OnRequestDone with an error code.
//  - An exception thrown by one of the owner's handlers (OnDisplay, OnRequestDone, OnProgress, ...)
//    never unwinds through the engine: the engine finishes its own work as if the handler had
//    returned, then hands the exception on. While a synchronous operation of this engine waits,
//    that operation receives it and returns false. Otherwise the engine rethrows it from a
//    notification of its own, so it leaves the event loop through QCoreApplication::notify: the
//    application object must catch it there (the frame shows its error box and goes on).
//
// Deliberate differences from the classic design of this component, all for soundness:
//  - Byte counts, restart offsets and sizes are 64-bit (ByteCount, ResumePos, SizeResult, the
//    OnProgress count).
//  - Each request starts with an empty ErrorMessage (a chain clears it once, at its start), so
//    ErrorMessage always tells why the request that failed did.
//  - A data connection that arrives between PORT and the transfer start (some servers connect as
//    soon as they get PORT) is accepted and kept, and the transfer takes it over when it starts;
//    an upload starts sending only after STOR or APPE has gone out.
//  - The data connection is accepted only from the address of the server's end of the control
//    connection; a connection from elsewhere is closed at once ("! Data connection from A
//    refused") and the listening socket keeps waiting. The transfer then ends as usual when the
//    server connects, or by the server's error reply (425/426), or by Timeout or AbortAsync.
//  - The data connection ends with an orderly close (no reset), so an upload's last bytes arrive.
//  - Download replies honour the hyphen of multi-line replies as every other reply does.
//  - A multi-line reply ends only at the line with its own code and a space, whatever the lines in
//    between look like, and a line without a three-digit code where a reply must begin is a
//    protocol error that closes the session, instead of a reply with code 0 (see Replies above);
//    a reply code is never narrowed into another one (see Result codes above).
//  - Once a transfer has its final reply and waits only for the end of the data connection, a
//    further reply line is shown and nothing else: it answers no command, and judging it used to
//    close the data connection early and report the cut-short file as a success.
//  - Bytes received on the control connection reset Timeout as data moved does, so a reply that
//    trickles in slowly is not cut off while the server keeps sending (see TFtpClient::Timeout).
//  - A transfer that the engine itself cut short (local write or read failure, abort through
//    OnProgress) ends with 426 even when the server reports success; a request that the server or
//    AbortAsync interrupts (control connection closed before the reply) ends with 426 instead of 0;
//    a lookup or connect failure sets RequestResult (the synchronous Connect returns false) and
//    ErrorMessage.
//  - An upload whose data connection the server closes before the end of the local file ends
//    with 426 ("426 Data connection closed before the end of the file").
//  - A reply line that fills the 4096-byte buffer closes the session at once with 426 and
//    "426 Reply line too long", instead of waiting for more data that can never fit.
//  - A chain whose step cannot start once the event loop runs it (the session is gone) ends with
//    an error through OnRequestDone instead of raising where nobody can catch it; a pending QUIT
//    is skipped when the server has already closed the session.
//  - OnRequestDone reports the request code of the request that completed.
//  - An upload's data connection is not closed after a fixed delay with sleeps: the sending
//    direction is shut down at the end of the file and the connection closes in order (above).
//  - Starting a request while another runs raises without touching the running one (RestAsync
//    and the transfer starts check readiness too; LastStep changes only once a step starts); the
//    engine releases the local file whenever a request ends.
//  - The synchronous waits sleep in the event dispatcher instead of spinning (except with
//    MultiThreaded).
#pragma once

#include "net/TlsWSocket.h"

#include <QFile>
#include <QObject>
#include <QTimer>

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

// The exception of the FTP engine; its text is a fixed English message.
class FtpException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The kind of request reported by OnRequestDone (one byte). The engine never reports ftpNone,
// ftpFileSizeAsyncUnused (19) or ftpRqAbort (20).
enum TFtpRequest : std::uint8_t {
    ftpNone = 0,
    ftpOpenAsync = 1,
    ftpUserAsync = 2,
    ftpPassAsync = 3,
    ftpCwdAsync = 4,
    ftpConnectAsync = 5,
    ftpReceiveAsync = 6,
    ftpDirAsync = 7,
    ftpLsAsync = 8,
    ftpPortAsync = 9,
    ftpGetAsync = 10,
    ftpDirectoryAsync = 11,
    ftpListAsync = 12,
    ftpSystemAsync = 13,
    ftpSystAsync = 14,
    ftpQuitAsync = 15,
    ftpSizeAsync = 16,
    ftpPutAsync = 17,
    ftpAppendAsync = 18,
    ftpFileSizeAsyncUnused = 19,
    ftpRqAbort = 20,
    ftpMkdAsync = 21,
    ftpRmdAsync = 22,
    ftpRenameAsync = 23,
    ftpDeleAsync = 24,
    ftpRenAsync = 25,
    ftpRenToAsync = 26,
    ftpRenFromAsync = 27,
    ftpDeleteAsync = 28,
    ftpMkdirAsync = 29,
    ftpRmdirAsync = 30,
    ftpPwdAsync = 31,
    ftpQuoteAsync = 32,
    ftpCDupAsync = 33,
    ftpDoQuoteAsync = 34,
    ftpTransmitAsync = 35,
    ftpTypeSetAsync = 36,
    ftpRestAsync = 37,
    ftpRestGetAsync = 38,
    ftpRestartGetAsync = 39,
};

// The name of a request code as the windows print it: "none", "OpenAsync", ... "RestartGetAsync"
// (code 19 is "FileSizeAsync", 20 "RqAbort"); "unknown" for any other value.
const char* FtpRequestName(int Code);

enum TFtpShareMode : std::uint8_t {
    ftpShareCompat,
    ftpShareExclusive,
    ftpShareDenyWrite,
    ftpShareDenyRead,
    ftpShareDenyNone,
};

// The engine's own state (value 6 is not used). Ready means fsReady or fsInternalReady.
enum TFtpState : std::uint8_t {
    fsNotConnected = 0,   // the control connection has just closed (on the way to fsReady)
    fsReady = 1,          // idle; a new request may start (initial state)
    fsInternalReady = 2,  // between two steps of a chained request
    fsLookingUp = 3,      // host-name lookup for the control connection
    fsConnected = 4,      // the greeting has been accepted
    fsAborting = 5,       // AbortAsync is tearing the session down
    fsWaitingBanner = 7,  // connect started; waiting for the greeting
    fsWaitingReply = 8,   // a command has been sent; replies go to the current reply handler
};

// Steps of chained requests; a step set is a 32-bit word in which step n is bit n.
enum TFtpStep : std::uint8_t {
    stNone = 0,
    stOpen = 1,
    stUser = 2,
    stPass = 3,
    stCwd = 4,
    stSize = 5,
    stMkd = 6,
    stRmd = 7,
    stRenFrom = 8,
    stRenTo = 9,
    stGet = 10,
    stDir = 11,
    stQuit = 12,
    stSyst = 13,
    stDele = 14,
    stPwd = 15,
    stQuote = 16,
    stPut = 17,
    stTypeSet = 18,
    stRest = 19,
    stCDup = 20,
    stLs = 21,
    stAppend = 22,
    stPort = 23,
};
using TFtpStepSet = std::uint32_t;
constexpr TFtpStepSet FtpStepBit(TFtpStep Step)
{
    return TFtpStepSet{1} << Step;
}

// Event types. Msg and Cmd are byte strings; a handler may change Cmd (the changed line is what
// is displayed and sent) but a change to Msg has no effect on the engine.
using TFtpDisplay = std::function<void(QObject* Sender, std::string& Msg)>;
using TFtpProgress = std::function<void(QObject* Sender, std::int64_t Count, bool& Abort)>;
using TFtpCommand = std::function<void(QObject* Sender, std::string& Cmd)>;
using TFtpRequestDone =
    std::function<void(QObject* Sender, TFtpRequest RqType, std::uint16_t Error)>;
using TFtpReadyToTransmit = std::function<void(QObject* Sender, bool& bCancel)>;
using TFtpTlsCertificate =
    std::function<void(QObject* Sender, const TTlsCertificateInfo& Info)>;

// TLS use of the engine (TlsMode): none (plain FTP), or explicit TLS required (AUTH TLS).
enum TFtpTlsMode : std::uint8_t {
    ftpTlsNone = 0,
    ftpTlsExplicit = 1,
};

namespace ftp::detail {
class TFtpNotifier;
}

class TCustomFtpCli : public QObject {
    Q_OBJECT
public:
    // Creates the notification target and the two sockets (the control socket with its events
    // bound, the data socket with none). TransferType "I", Port "ftp", State fsReady, sharing
    // word 16 (exclusive).
    explicit TCustomFtpCli(QObject* AOwner = nullptr);
    ~TCustomFtpCli() override;
    TCustomFtpCli(const TCustomFtpCli&) = delete;
    TCustomFtpCli& operator=(const TCustomFtpCli&) = delete;

    // ---- Text readers (shared by the reply judges) ------------------------------------------

    // The code of a line that may begin a reply: three digits, the first 1 to 9, then a space or
    // a hyphen ("230 x", "230-x"); -1 for any other line.
    static int ReplyCode(std::string_view Line);
    // A failing result that cannot be carried by OnRequestDone's 16-bit Error (see the header).
    static constexpr std::int32_t kUnreportableResult = 65535;
    // A reply line shown in a message is cut to this many bytes.
    static constexpr std::size_t kReplyExcerpt = 60;

    // Skips spaces, tabs, CR and LF, an optional sign, then decimal digits (no overflow check:
    // the value wraps modulo 2^64). No digits gives 0. Rest: the text after the digits.
    static std::int64_t ReadInteger(std::string_view Text, std::string_view* Rest = nullptr);
    // Skips blanks; a double-quoted value in which "" stands for one quote (the end of the text
    // also ends it); empty when the next character is not a quote.
    static std::string ReadQuotedString(std::string_view Text, std::string_view* Rest = nullptr);
    // The port of a 229 reply to EPSV: "(" d d d port d ")" after the code, d one delimiter
    // character (33 to 126, the same four times), port 1 to 65535. False when there is none.
    static bool ParseEpsvReply(std::string_view Reply, int& Port);
    // The address and port of a 227 reply to PASV: six decimal numbers h1,h2,h3,h4,p1,p2 (each 0
    // to 255, in parentheses or not) after the code; Address is h1.h2.h3.h4 in network order,
    // Port p1 * 256 + p2 (1 to 65535). False when there are no such numbers.
    static bool ParsePasvReply(std::string_view Reply, std::uint32_t& Address, int& Port);
    // The statistics line without its "! ": "N bytes received/sent in S seconds" plus
    // " (R Bytes/sec)" when ElapsedMs is not 0 (integer arithmetic on 64-bit values).
    static std::string TransferStatsText(std::int64_t Bytes, std::uint32_t ElapsedMs);

    // ---- Virtual operations, in slot order ----------------------------------------------------

    // The one way a command leaves the engine: OnCommand may replace the line; then "> " + line
    // is displayed and, when the control socket is connected, line + CR LF is sent. A line with
    // CR, LF or NUL raises FtpException before anything is displayed or sent.
    virtual void SendCommand(const std::string& Cmd);
    // Hands one line to OnDisplay (as a copy).
    virtual void TriggerDisplay(const std::string& Msg);
    // Fires OnReadyToTransmit; true when the handler cancels the upload.
    virtual bool TriggerReadyToTransmit();
    // Fires OnProgress(ByteCount + ResumePos). When the handler sets Abort: "! Abort requested",
    // the data connection is closed, false is returned.
    virtual bool Progress();
    // Prepares the data connection (request 9). Active: makes the data socket listen on a free
    // port and sends PORT; a server at 127.0.0.1 is told "PORT 127,0,0,1,p1,p2", any other the
    // local address of the control connection. Passive: EPSV (PASV after 500, 501, 502), then
    // connects to the server's port; the step ends when the connection is made.
    virtual void PortAsync();
    // Displays "! " + TransferStatsText of the transfer that just ended.
    virtual void ShowTransferStats();
    // Opens the control connection (request 1): lookup, connect, greeting 220.
    virtual void OpenAsync();
    virtual void UserAsync();     // "USER " + UserName; 331, 230
    virtual void PassAsync();     // "PASS " + PassWord; 230
    virtual void ConnectAsync();  // Open, User, Pass (5)
    virtual void QuitAsync();     // "QUIT"; 221; the control connection is closed then
    // Tears everything down at once: lookup cancelled, both connections closed, local file
    // released, State fsReady. The running request completes (a chain with 426 and ErrorMessage
    // "426 Operation aborted.", a single command with 426). Never raises.
    virtual void AbortAsync();
    virtual void GetAsync();  // Port, Get (10)
    // "RETR" [+ " " + HostFileName] into LocalFileName (request 10 outside a chain).
    virtual void StartRetr();
    virtual void ReceiveAsync();  // Open, User, Pass, Cwd, TypeSet, Port, Get, Quit (6)
    virtual void PutAsync();      // Port, Put (17)
    // "STOR " + HostFileName from LocalFileName (request 17, also inside a chain).
    virtual void StartStor();
    virtual void TransmitAsync();  // Open, User, Pass, Cwd, TypeSet, Port, Put, Quit (35 -> 17)
    virtual void AppendAsync();    // Port, Append (18)
    // "APPE " + HostFileName from LocalFileName (request 18, also inside a chain).
    virtual void StartAppe();
    virtual void TransmitAppendAsync();  // ... Port, Append, Quit (35 -> 18)
    // "LIST" [+ " " + HostFileName] into LocalFileName (request 7 outside a chain).
    virtual void StartList();
    virtual void DirAsync();  // Port, Dir (7)
    // "NLST" [+ " " + HostFileName] into LocalFileName (request 8 outside a chain).
    virtual void StartNlst();
    virtual void LsAsync();          // Port, Ls (8)
    virtual void TypeSetAsync();     // "TYPE " + TransferType; 200 (36)
    virtual void TypeBinaryAsync();  // Binary := true, then TypeSetAsync
    virtual void TypeAsciiAsync();   // Binary := false, then TypeSetAsync
    virtual void PwdAsync();         // "PWD"; 250, 257 (31)
    virtual void CwdAsync();         // "CWD " + HostDirName; 250, 257 (4)
    virtual void CDupAsync();        // "CDUP"; 250 (33)
    virtual void DirectoryAsync();   // Open, User, Pass, Cwd, Port, Dir, Quit (11)
    virtual void ListAsync();        // Open, User, Pass, Cwd, Port, Ls, Quit (12)
    virtual void SystAsync();        // "SYST"; 215 (14)
    virtual void SystemAsync();      // Open, User, Pass, Syst, Quit (13)
    virtual void SizeAsync();        // "SIZE " + HostFileName; 213 (16); clears SizeResult first
    virtual void FileSizeAsync();    // Open, User, Pass, Cwd, Size, Quit (16)
    virtual void MkdAsync();         // "MKD " + HostFileName; 257 (21)
    virtual void MkdirAsync();       // Open, User, Pass, Cwd, Mkd, Quit (29)
    virtual void RmdAsync();         // "RMD " + HostFileName; 250, 257 (22)
    virtual void RmdirAsync();       // Open, User, Pass, Cwd, Rmd, Quit (30)
    virtual void DeleAsync();        // "DELE " + HostFileName; 250, 257 (24)
    virtual void DeleteAsync();      // Open, User, Pass, Cwd, Dele, Quit (28)
    virtual void RenFromAsync();     // "RNFR " + HostFileName; 350 (27)
    virtual void RenToAsync();       // "RNTO " + LocalFileName; 250, 257 (26)
    virtual void RenAsync();         // RenFrom, RenTo (25)
    virtual void RenameAsync();      // Open, User, Pass, Cwd, RenFrom, RenTo, Quit (23)
    virtual void QuoteAsync();       // LocalFileName as it stands; any code below 500 (32)
    virtual void DoQuoteAsync();     // Open, User, Pass, Cwd, Quote, Quit (34)
    // ResumePos := size of LocalFileName (-1 when there is none); "REST " + ResumePos, any code
    // below 500 (37); completes at once with 0, sending nothing, when ResumePos <= 0.
    virtual void RestAsync();
    virtual void RestGetAsync();     // Port, Rest, Get (38)
    virtual void RestartGetAsync();  // Open, User, Pass, Cwd, TypeSet, Port, Rest, Get, Quit (39)

    // True while the control socket is anything but wsClosed.
    bool Connected() const;

    // ---- Published properties ----------------------------------------------------------------

    const std::string& HostName() const { return FHostName; }
    void SetHostName(const std::string& Value) { FHostName = Value; }
    const std::string& Port() const { return FPort; }
    void SetPort(const std::string& Value) { FPort = Value; }
    const std::string& UserName() const { return FUserName; }
    void SetUserName(const std::string& Value) { FUserName = Value; }
    const std::string& PassWord() const { return FPassWord; }
    void SetPassWord(const std::string& Value) { FPassWord = Value; }
    const std::string& HostDirName() const { return FHostDirName; }
    void SetHostDirName(const std::string& Value) { FHostDirName = Value; }
    const std::string& HostFileName() const { return FHostFileName; }
    void SetHostFileName(const std::string& Value) { FHostFileName = Value; }
    // The local file of transfers; also the new name for RNTO and the raw line of QuoteAsync.
    const std::string& LocalFileName() const { return FLocalFileName; }
    void SetLocalFileName(const std::string& Value) { FLocalFileName = Value; }
    // Passive mode (default false): the engine connects to the server for every data connection
    // (EPSV, or PASV) instead of listening for it (PORT). Read when a Port step starts.
    bool Passive() const { return FPassive; }
    void SetPassive(bool Value) { FPassive = Value; }
    // TLS (default ftpTlsNone, plain FTP). ftpTlsExplicit: AUTH TLS after the greeting, then every
    // command, reply and data connection is secured (see the header comment). Read by the Open
    // step (when the greeting arrives).
    TFtpTlsMode TlsMode() const { return FTlsMode; }
    void SetTlsMode(TFtpTlsMode Value) { FTlsMode = Value; }
    // The SHA-256 fingerprint of a certificate the user trusts for this server (format of
    // TTlsCertificateInfo::Sha256Fingerprint; empty: none). With it, exactly that certificate is
    // accepted on the control connection and any other refused. Read by the Open step (when
    // the server has answered AUTH TLS).
    const std::string& TlsFingerprint() const { return FTlsFingerprint; }
    void SetTlsFingerprint(const std::string& Value) { FTlsFingerprint = Value; }
    // Show received data lines as "! Data: " lines.
    bool DisplayFlag() const { return FDisplayFlag; }
    void SetDisplayFlag(bool Value) { FDisplayFlag = Value; }
    // Transfer type: true "I" (image), false "A" (ASCII); sent by TypeSetAsync.
    bool Binary() const { return FTransferType == 'I'; }
    void SetBinary(bool Value) { FTransferType = Value ? 'I' : 'A'; }
    const std::string& ErrorMessage() const { return FErrorMessage; }
    // Sharing mode for local files. Linux has no mandatory sharing modes: the word is recorded
    // (compat 0, exclusive 16, deny-write 32, deny-read 48, deny-none 64) but not enforced.
    TFtpShareMode ShareMode() const;
    void SetShareMode(TFtpShareMode Value);

    // ---- Results and state (read only) -------------------------------------------------------

    TFtpState State() const { return FState; }
    int StatusCode() const { return FStatusCode; }
    const std::string& LastResponse() const { return FLastResponse; }
    std::int64_t SizeResult() const { return FSizeResult; }
    const std::string& DirResult() const { return FDirResult; }
    TFtpRequest RequestType() const { return FRequestType; }
    int RequestResult() const { return FRequestResult; }
    std::int64_t ByteCount() const { return FByteCount; }
    std::int64_t ResumePos() const { return FResumePos; }
    char TransferType() const { return FTransferType; }
    std::uint16_t ShareModeWord() const { return FShareModeWord; }
    TFtpStep LastStep() const { return FLastStep; }
    TFtpStepSet StepSet() const { return FStepSet; }
    bool SessionOpen() const { return FSessionOpen; }
    TTlsWSocket* ControlSocket() const { return FControlSocket.get(); }
    TTlsWSocket* DataSocket() const { return FDataSocket.get(); }
    // The control connection's certificate of the last TLS handshake (empty fields before one).
    const TTlsCertificateInfo& PeerCertificate() const { return FPeerCertificate; }
    // The control connection is secured (AUTH TLS and its handshake done) and still open.
    bool TlsActive() const { return FControlSocket->TlsActive(); }
    // An active-mode transfer command has gone out and the server has not connected yet.
    bool AwaitingDataConnection() const;
    // The last synchronous wait timed out while AwaitingDataConnection (cleared when the next
    // Port step starts).
    bool TimedOutAwaitingData() const { return FTimedOutAwaitingData; }

    // Blocks of the data path and the pace of OnProgress (see the header comment).
    static constexpr int kDataBlockSize = 256 * 1024;
    // Blocks an upload queues per round of the event loop when it goes through Send (TLS).
    static constexpr int kSendBlocksPerRound = 4;
    static constexpr std::uint32_t kProgressIntervalMs = 50;

    // ---- Events ------------------------------------------------------------------------------

    TFtpDisplay OnDisplay;
    TFtpCommand OnCommand;
    TNotifyEvent OnResponse;  // every complete reply line (LastResponse)
    TFtpProgress OnProgress;
    TSessionConnected OnSessionConnected;  // greeting accepted
    TSessionClosed OnSessionClosed;        // control connection closed
    TFtpRequestDone OnRequestDone;
    TNotifyEvent OnStateChange;
    TFtpReadyToTransmit OnReadyToTransmit;
    // The control connection's certificate was refused (not verified by the system's
    // authorities and not the one of TlsFingerprint, or another than TlsFingerprint names); fired
    // before the connect request completes (with 13002 or 13003). The engine never asks the user:
    // its owner may, and connect again with the fingerprint set.
    TFtpTlsCertificate OnTlsCertificate;

protected:
    using TReplyHandler = void (TCustomFtpCli::*)();

    // The first line of a socket exception's message (its second line is the error's description).
    static std::string FirstLine(const char* text);
    // Whether the text after a reply's code starts with '-' (a multi-line reply goes on).
    static bool HasHyphen(std::string_view rest);

    // Raises "FTP component not ready" unless State is fsReady or fsInternalReady.
    void CheckReady() const;
    // Stores a new state and fires OnStateChange when it differs.
    void SetFtpState(TFtpState NewState);
    void ShowLastReply();
    void KeepErrorMessage();
    // Starts a single command: checks, LastStep, accepted codes (at most 15), reply handler
    // HandleReply, State fsWaitingReply, SendCommand.
    void StartCommand(TFtpRequest Request, TFtpStep Step, const std::string& Cmd,
                      std::initializer_list<int> OkCodes, TReplyHandler Done = nullptr);
    // Raises FtpException when a command line holds CR, LF or NUL.
    static void CheckCommandLine(const std::string& Line);
    void HandleReply();
    void InterpretReply();
    // Completes the current request (at most once): the next step of a chain, or State fsReady,
    // data socket closed and OnRequestDone posted. Error is the request's result (RequestResult);
    // one outside 0..65535 becomes kUnreportableResult in both. A later call for a request that
    // has completed changes nothing, RequestResult included.
    void TriggerRequestDone(std::int32_t Error);

    // Starts a chain of steps reported as Request (StartChain) and runs its next step.
    void StartChain(TFtpRequest Request, TFtpStepSet Steps);
    void NextStep();

    // Fires one of the owner's handlers; an exception it throws is kept and handed on later
    // (see the header comment) instead of unwinding through the engine.
    template <class Handler, class... Args>
    void Fire(const Handler& H, Args&&... A)
    {
        if (!H) return;
        try {
            H(std::forward<Args>(A)...);
        } catch (...) {
            KeepHandlerException(std::current_exception());
        }
    }
    void KeepHandlerException(std::exception_ptr E);
    // Delivers a request completion that is still waiting in the event queue.
    void DeliverPostedCompletion();
    // Runs the body of an event handler of the engine: nothing it throws leaves the engine.
    template <class Body>
    void Guarded(Body&& B)
    {
        try {
            B();
        } catch (...) {
            KeepHandlerException(std::current_exception());
        }
    }
    // Hook for TFtpClient: the running synchronous waits take handler exceptions and are told when
    // the engine becomes ready.
    virtual bool HandOverToWait(std::exception_ptr /*E*/) { return false; }
    virtual void ReadyForWait() {}
    // Hook for TFtpClient: Count bytes have arrived on the control connection.
    virtual void ControlBytesReceived(int /*Count*/) {}

    // Fields, in the order of the classic component.
    std::string FHostName;
    std::string FPort = "ftp";
    std::string FUserName;
    std::string FPassWord;
    std::string FLocalFileName;
    std::string FHostFileName;
    std::string FHostDirName;
    char FTransferType = 'I';
    std::uint16_t FShareModeWord = 16;
    bool FAppendFlag = false;
    bool FDisplayFlag = false;
    std::unique_ptr<TTlsWSocket> FControlSocket;
    std::unique_ptr<TTlsWSocket> FDataSocket;
    std::uint32_t FStartTime = 0;
    std::uint32_t FStopTime = 0;
    TFtpState FState = fsReady;
    std::int32_t FStatusCode = 0;
    std::int32_t FRequestResult = 0;
    TFtpStepSet FStepSet = 0;
    TFtpStep FLastStep = stNone;
    std::int32_t FHighLevelResult = 0;
    bool FHighLevelFlag = false;
    std::unique_ptr<QFile> FLocalStream;
    TFtpRequest FRequestType = ftpNone;
    bool FRequestDoneFlag = false;
    static constexpr int kReceiveBufferSize = 4096;
    std::array<char, kReceiveBufferSize + 1> FReceiveBuffer{};
    int FReceiveLen = 0;
    std::string FLastResponse;
    std::string FLastResponseSave;
    std::int32_t FStatusCodeSave = -1;
    std::string FErrorMessage;
    std::uint16_t FDataError = 0;
    std::string FDataCommand;
    bool FSessionOpen = false;
    std::unique_ptr<char[]> FDataBlock;  // receive block, and send block without SendFile
    std::int64_t FByteCount = 0;
    std::int64_t FSizeResult = 0;
    std::string FDirResult;
    std::int64_t FResumePos = 0;
    TReplyHandler FNextHandler = nullptr;
    TReplyHandler FDoneAction = nullptr;
    std::array<std::int32_t, 16> FOkResponses{};
    TReplyHandler FNextRequest = nullptr;
    bool FFinalReplySeen = false;
    bool FGetDataClosed = false;
    bool FPutDataClosed = false;
    bool FPassive = false;
    bool FTimedOutAwaitingData = false;
    TFtpTlsMode FTlsMode = ftpTlsNone;
    std::string FTlsFingerprint;
    TTlsCertificateInfo FPeerCertificate;

private:
    friend class ftp::detail::TFtpNotifier;
    // What the data socket is doing: nothing, listening (active), connecting to the server
    // (passive), connected and waiting for its transfer (passive), or carrying a transfer.
    enum class TDataUse : std::uint8_t { None, Listening, Connecting, Ready, Download, Upload };

    // Control connection events.
    void ControlDnsLookupDone(std::uint16_t Error);
    void ControlSessionConnected(std::uint16_t Error);
    void ControlDataAvailable(std::uint16_t Error);
    void ControlSessionClosed(std::uint16_t Error);
    void OpenFailed(std::uint16_t Error);
    bool ProcessReplyLine(std::uint16_t Error);
    void CloseControlBecause(const std::string& Why);
    void CloseControlAction();
    // A line that must begin a reply does not: the session closes (see the header comment).
    void ProtocolError();

    // Data connection.
    void BindDataSocketEvents();
    void DataSessionAvailable();
    TSocket AcceptDataConnection();
    void TakeOverDataConnection(TSocket Handle);
    void StartDownload(TFtpRequest Request, const char* Command);
    void StartUpload(bool Append);
    void DownloadDataAvailable();
    void TransferFirstReply(TReplyHandler Next);
    void DownloadFirstReply();
    void DownloadSecondReply();
    void DownloadSessionClosed(std::uint16_t Error);
    void DownloadEndTest();
    void UploadFirstReply();
    void UploadSecondReply();
    void UploadSessionClosed(std::uint16_t Error);
    void UploadEndTest();
    void SendNextBlock();
    bool SendFileBlock(TWSocket& d);  // false when the upload has stopped (or must stop)
    void UploadEndOfFile();
    void CloseDataSocket();
    bool ReleaseLocalStream();  // false when buffered data could not be written
    void TakeOverHeldConnection();
    void CutTransferShort(const std::string& Notice);
    // OnProgress with the count now (the throttle of Progress left out); false after an abort.
    bool FireProgress();
    // The final count of a transfer, when OnProgress has not reported it yet.
    bool ReportFinalProgress();

    // TLS: AUTH TLS and the control connection's handshake, PBSZ and PROT before the first data
    // connection, the data connections' handshakes.
    void StartAuthTls();
    void AuthTlsReply();
    void TlsWaitReply();
    void ControlTlsVerify(const TTlsCertificateInfo& Info);
    void ControlTlsHandshakeDone(std::uint16_t Error);
    void DataTlsHandshakeDone(std::uint16_t Error);
    void PbszReply();
    void ProtReply();
    void DataProtectionRefused(const char* Command);
    // Prepares the data socket for its next connection: TLS when the session is secured.
    void PrepareDataTls();
    // The data connection ended with Error; what that means for the transfer under TLS (a cut
    // without close_notify before the end, a failed handshake) is decided here.
    std::uint16_t JudgeDataClose(std::uint16_t Error, bool Upload);
    // The command that opens the data connection (PORT or EPSV), after PBSZ and PROT when needed.
    // First: the step's first command (StartCommand), else one that follows in the same step.
    void SendDataPortCommand(bool First);
    // Listens on the data socket's free port: "PORT h1,h2,h3,h4,p1,p2" for it.
    std::string ActivePortCommand();

    // Passive mode.
    void StartPassive(bool First);
    void EpsvReply();
    void PasvReply();
    void PassiveConnectingReply();
    void ConnectPassive(int Port);
    void DataSessionConnected(std::uint16_t Error);
    void PassiveFailed(int Code, const std::string& Notice);
    void TakeOverPassiveConnection();
    std::uint16_t TransferResult() const;

    // Step starts of chains; a step that raises ends the chain.
    void RunStep(TFtpStep Step);
    void StartStep(TFtpStep Step);
    void EndChainAfterFailedStart(const std::string& Why);
    void CheckChainTexts(TFtpStepSet Steps) const;

    // Notifications to self.
    void PostRequestDone(std::uint16_t Error);
    void DeliverRequestDone(TFtpRequest Request, std::uint16_t Error);

    std::unique_ptr<ftp::detail::TFtpNotifier> FNotifier;

    // The reply being read: the code of a multi-line reply whose last line has not come yet (0
    // between replies), and whether a request was waiting when it began.
    std::int32_t FReplyCode = 0;
    bool FReplyAwaited = false;
    // The result that the last completion reported.
    std::int32_t FCompletedResult = 0;

    TSocket FHeldDataHandle = INVALID_SOCKET;  // a data connection accepted before its transfer
    TDataUse FDataUse = TDataUse::None;        // direction of the transfer that has started
    TDataUse FDataBound = TDataUse::None;      // what the data socket's events do
    std::uint64_t FTransferSerial = 0;         // names the current data connection
    std::uint16_t FTransferFailCode = 0;       // the engine cut the transfer short (426)
    bool FUploadEof = false;
    bool FUseSendFile = true;         // the upload goes through SendFile
    std::int64_t FFileOffset = 0;     // next byte of the upload's file
    bool FPassiveLost = false;        // the passive connection closed before its transfer began
    std::string FPassiveTarget;       // "A port P" of the passive connection
    bool FProgressReported = false;   // OnProgress has fired in this transfer
    std::uint32_t FProgressTick = 0;  // when it fired last
    std::int64_t FProgressCount = 0;  // with which count
    bool FAbortClosing = false;       // AbortAsync is closing the control connection
    bool FChainStarting = false;      // StartChain runs the first step for its caller
    bool FDataProtected = false;      // PBSZ 0 and PROT P accepted in this session
    bool FTlsDataFailed = false;      // the data connection's TLS handshake failed
    bool FShutdownAfterHandshake = false;  // an upload's end waits for its data handshake
    std::int64_t FAnnouncedSize = -1; // bytes the 150 reply of a download announced (-1: none)
};

// The component as the program places it: the published properties plus Timeout, MultiThreaded,
// the wait control and the synchronous operations.
class TFtpClient : public TCustomFtpCli {
    Q_OBJECT
public:
    explicit TFtpClient(QObject* AOwner = nullptr);
    ~TFtpClient() override;

    // Limit of the synchronous waits in seconds (default 15); 0 or less: no limit. Every block of
    // data moved resets the limit, and so do the bytes that arrive on the control connection, so
    // it bounds silence, not the length of a transfer or of a reply that trickles in. The control
    // connection resets it for the first kControlRefreshBytes of each wait only: a server that
    // floods the control connection with an endless reply cannot hold the wait open.
    int Timeout() const { return FTimeout; }
    void SetTimeout(int Seconds) { FTimeout = Seconds; }
    bool MultiThreaded() const { return FMultiThreaded; }
    void SetMultiThreaded(bool Value) { FMultiThreaded = Value; }
    // The wait control shown during synchronous waits. It is kept as the control socket's
    // WaitCtrl (not owned; cleared when the control is destroyed).
    TWaitControl* WaitCtrl() const { return FControlSocket->WaitCtrl(); }
    void SetWaitCtrl(TWaitControl* Ctrl) { FControlSocket->SetWaitCtrl(Ctrl); }

    // Synchronous operations: start the request and wait for its end. True when the request ended
    // with result 0; false on failure, time-out ("426 Timeout" in ErrorMessage, StatusCode 426,
    // the session aborted) or any exception.
    bool Connect();  // ConnectAsync
    bool Cwd();      // CwdAsync
    bool Pwd();      // PwdAsync
    bool CDup();     // CDupAsync
    bool TypeSet();  // TypeSetAsync
    bool Get();      // GetAsync
    bool Put();      // PutAsync
    bool Quit();     // QuitAsync
    bool Dir();      // DirAsync
    bool Mkd();      // MkdAsync
    bool Dele();     // DeleAsync
    bool Rmd();      // RmdAsync

    // Also refreshes the time-out of a synchronous wait.
    bool Progress() override;

    static constexpr std::int64_t kControlRefreshBytes = 64 * 1024;

protected:
    bool HandOverToWait(std::exception_ptr E) override;
    void ReadyForWait() override;
    void ControlBytesReceived(int Count) override;

private:
    bool WaitUntilReady();
    bool RunSync(void (TCustomFtpCli::*Operation)());
    void PumpOnce();
    bool TimedOut() const;
    // Starts the count of Timeout again (progress was made).
    void RestartTimeLimit();

    int FTimeout = 15;
    std::uint32_t FTimeStop = 0;
    bool FMultiThreaded = false;
    std::unique_ptr<QTimer> FWakeTimer;  // wakes a plain wait to look at the clock
    int FWaits = 0;                      // synchronous waits running (nested)
    std::exception_ptr FWaitException;   // handed to the innermost wait
    std::uint32_t FCaptionRefresh = 0;   // tick of the last count refresh on the wait control
    std::int64_t FWaitControlBytes = 0;  // control-connection bytes received in the current wait
};
