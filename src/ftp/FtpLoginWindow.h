// TForm1: the FTP login window (Form1, caption "FTP Login"): site profiles kept in the settings
// file, the connection settings, and the log of the session. It owns the program's one FTP engine,
// FtpClient1, and drives it for the transfer window (copyform): the engine's events land here, and
// FtpClient1RequestDone decides after every finished request what comes next (the directory and
// its listing after a connect or a directory change, the next file of a queue, the viewer).
//
// Every request is started with one of the engine's synchronous operations. Their waits keep the
// event loop running (the wait control tWait swallows clicks and keys meanwhile), and the
// completion of a request is handled inside the wait of the operation that started it, so the
// chain of one connect (ConnectAsync, CWD or PWD, PWD, TYPE A, LIST) runs as nested calls, each
// announced by its own "Done (request=...  error code=...)" line.
//
// Behaviour beyond the classic design of this window, all for soundness:
// - The connection goes to the port in "FTP Port" (with "Use Proxy": to "Proxy Name" on the port
//   in "Proxy Port"); an empty port field, or 0, means the FTP service port (21).
// - A remote name is never taken for a local path: a name that is empty, ".", "..", holds "/" or
//   "\", holds a control byte or is longer than 255 bytes is refused for download and view with a
//   "! ..." line in both logs, and the queue goes on with the next name. A download is written
//   into a new file of its own in the local directory and renamed over the file of its name only
//   when it has succeeded: a failed download leaves an existing local file untouched, and a
//   symbolic link (or a directory, or a file that cannot be written) that stands under the name
//   makes the download refused instead of followed. Nothing is written outside the transfer
//   window's local directory and the program's private temporary directory.
// - The listing file "ftpdir.txt" and viewed files live in the private temporary directory
//   (platform::PrivateTempDir); the default initial local directory is the home directory.
// - A queue of many files does not nest one wait per file: the next file starts after the
//   previous operation has returned, so the depth of the call stack stays the same for any
//   number of files. A name that cannot be sent (CR, LF or NUL) or an operation the engine does
//   not start is reported with a "! ..." line and the queue goes on.
// - A name typed into "Select an FTP Site Profile" and saved is added to the list, so it is kept
//   when the list is written back at the end; a name that cannot be a section of the settings
//   file ("[", "]", "=", control characters, blanks at either end, "Profiles", "LastUsed") is
//   refused with a message.
// - "Passive Mode" (stored per profile as "Passive") makes the engine open every data connection
//   itself (EPSV/PASV). When a transfer in active mode fails because the server could not open
//   the data connection (425, or no connection before the time-out), the log says so and
//   suggests "Passive Mode".
// - "Use TLS (explicit FTPS)" (stored per profile as "Tls") makes the engine secure the session
//   with AUTH TLS and every data connection with TLS. The engine reports a certificate it
//   refuses (not verified by the system's authorities, or not the one trusted for the profile);
//   when the connect has ended, this window asks the user whether to trust that certificate for
//   the profile, showing its SHA-256 fingerprint, subject, issuer, validity and the reason (or,
//   for a certificate that differs from the trusted one, both fingerprints). Yes stores the
//   fingerprint in the profile ("TlsFingerprint"; only that key is written) and connects again;
//   No logs that the certificate was not trusted and stores nothing. Later connects of the
//   profile accept exactly the trusted certificate.
// - The busy cursor of a connect is taken back when the connect ends, also when it fails; a
//   connect that the engine refuses to start (an empty host name, user name or password) says
//   so in the log.
// - Every download, upload and listing reports its progress to the transfer window (its size
//   from the listing, the server's 150 reply "(N bytes)" or the local file). The transfer
//   window's Cancel (let through the wait control) aborts the transfer with AbortAsync, which
//   closes the session, and drops the rest of the queue; the log says "! Cancelled: ..." and no
//   error box follows for the aborted request; a cancelled download leaves no file and a
//   cancelled listing is not read.
#pragma once

#include "ftp/FtpEngine.h"
#include "ftp/FtpLocalFiles.h"
#include "ftp/FtpProfiles.h"
#include "ftp/FtpTransferOperations.h"
#include "ftp/FtpWindowHelpers.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TWait;
class Tcopyform;

class TForm1 : public QWidget, public TFtpTransferOperations {
    Q_OBJECT
public:
    explicit TForm1(QWidget* owner = nullptr);
    ~TForm1() override;

    // Makes transfer the window whose operations this window carries out.
    void AttachTransferWindow(Tcopyform* transfer);

    // ---- Controls ----
    QWidget* Panel1 = nullptr;
    QComboBox* SiteCB = nullptr;
    QPushButton* NewSiteBut = nullptr;
    QWidget* Panel2 = nullptr;
    QLineEdit* HostNameEdit = nullptr;
    QLineEdit* PortEdit = nullptr;
    QLineEdit* InitialLocalDirEdit = nullptr;
    QLineEdit* InitialDirEdit = nullptr;
    QLineEdit* UserNameEdit = nullptr;
    QLineEdit* PasswordEdit = nullptr;
    QCheckBox* SaveProfileCB = nullptr;
    QCheckBox* AutoDirCB = nullptr;
    QCheckBox* ForceLowerCB = nullptr;
    // "Passive Mode": every listing and transfer opens its data connection to the server (for a
    // client behind a router, NAT or firewall). Stored with the profile; a change applies to the
    // next listing or transfer of the session.
    QCheckBox* PassiveCB = nullptr;
    // "Use TLS (explicit FTPS)": the session and its data connections are secured with TLS.
    // Stored with the profile; takes effect at the next connect.
    QCheckBox* TlsCB = nullptr;
    QCheckBox* ChkProxy = nullptr;
    QLineEdit* TxtProxyName = nullptr;
    QLineEdit* TxtProxyPort = nullptr;
    QPushButton* ConnectBut = nullptr;
    QPushButton* ExitBut = nullptr;
    TWait* tWait = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    std::unique_ptr<TFtpClient> FtpClient1;

    // ---- Window state ----
    QString MaskedPassword;
    QString SettingsFileName;
    // Names of the current multi-file operation: local paths (bytes) for uploads and local
    // deletes, remote names (the server's bytes) for downloads, remote deletes and the viewer.
    std::vector<std::string> FileQueue;
    // Entries still to be processed; the queue is worked from its last entry to its first.
    std::int32_t QueueCount = 0;
    // The next completed download is a view download.
    bool ViewPending = false;
    // The SHA-256 fingerprint of the server certificate trusted for the current profile (empty:
    // none; the system's authorities decide).
    QString TlsFingerprint;

    // ---- Handlers ----
    void SiteCBChange();
    void NewSiteButClick();
    void ConnectButClick();
    void ExitButClick();
    void FtpClient1Display(QObject* Sender, std::string& Msg);
    void FtpClient1RequestDone(QObject* Sender, TFtpRequest RqType, std::uint16_t Error);
    void FtpClient1SessionConnected(QObject* Sender, std::uint16_t Error);
    void FtpClient1SessionClosed(QObject* Sender, std::uint16_t Error);
    void FtpClient1Progress(QObject* Sender, std::int64_t Count, bool& Abort);
    void FtpClient1TlsCertificate(QObject* Sender, const TTlsCertificateInfo& Info);

    // ---- Operations ----
    void ReadProfile(const QString& name);
    void UpdateProfile();
    static QString LookupRequest(int code);
    void UploadAll();
    void UploadNext();
    void DownloadAll();
    void DownloadNext();
    void RemoteDelete();
    void LocalDelete();
    void View();
    void ViewTheFile();
    void RefreshListing();

    // ---- The transfer window's operations ----
    bool DirectoryListings() const override;
    void UploadFiles(std::vector<std::string> localPaths) override;
    void DownloadFiles(std::vector<std::string> remoteNames) override;
    void DeleteRemoteFiles(std::vector<std::string> remoteNames) override;
    void DeleteLocalFiles(std::vector<std::string> localPaths) override;
    void ViewRemoteFile(std::string remoteName) override;
    void ChangeDirectory(const std::string& remoteName) override;
    void ChangeToParentDirectory() override;
    void MakeDirectory(const std::string& remoteName) override;
    void RemoveDirectory(const std::string& remoteName) override;
    // Adds a line to this window's log and to the transfer window's.
    void Log(const QString& line) override;
    void CloseSession() override;
    void CancelTransfer() override;

private:
    using QueueStep = void (TForm1::*)();

    void FormCreate();
    void FormDestroy();
    void BuildControls();
    void BindEngine();
    // Hands the connection settings to the engine and runs its Connect.
    void ConnectEngine();
    // Asks whether to trust the certificate the engine refused; true when the user has trusted
    // it (the fingerprint is then stored).
    bool AskTrustCertificate(const TTlsCertificateInfo& info);
    // Runs step now, or, while a queue step is under way further up the stack, right after it.
    void RunQueue(QueueStep step);
    // The transfer type from the transfer window's choice (sent with TYPE) and the queue's count.
    void StartTransferQueue();
    void UploadStep();
    void DownloadStep();
    void RemoteDeleteStep();
    // Runs one synchronous operation of a queue. True when its completion has run (or, after a
    // time-out, will run from the event loop); false when the engine did not start it.
    bool RunRequest(bool (TFtpClient::*operation)());
    // Settles the file of the download that has just ended.
    void FinishDownload(std::uint16_t error);
    ftp::TFtpProfile CurrentProfile() const;
    // The list position of name, ignoring case; -1 when it is not listed.
    int FindProfile(const QString& name) const;
    void SetBusy(bool busy);
    // Progress of the transfer that is about to start (what: "get NAME", "put NAME", "listing")
    // and of the one that has ended.
    void BeginTransfer(const QString& what, std::int64_t size);
    void EndTransfer(bool completed);
    std::string LocalDirectory() const;
    std::string RemoteDirectory() const;

    std::unique_ptr<ftp::TProfileStore> store_;
    QPointer<Tcopyform> transfer_;  // the window attached by AttachTransferWindow
    ftp::TLocalTarget download_;    // the download under way
    std::uint64_t requestsDone_ = 0;
    QueueStep queueNext_ = nullptr;
    bool queueRunning_ = false;
    bool busy_ = false;
    bool transferRunning_ = false;  // a download, upload or listing runs
    bool cancelled_ = false;        // and the user has cancelled it
    // The certificate the engine refused during the connect under way (asked about after it).
    std::unique_ptr<TTlsCertificateInfo> refusedCertificate_;
};

// The program's login window, created at start-up (hidden).
inline QPointer<TForm1> Form1;
// The remote name of the file being viewed (program-wide, shared with the transfer window).
inline std::string ViewFileName;
