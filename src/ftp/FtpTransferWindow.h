// Tcopyform: the FTP transfer window (copyform, caption "Transfer Files", after a connect
// "Transfer Files to/from:  " + host): the local computer on the left, the command buttons in the
// middle, the remote computer on the right and the transfer log at the bottom. It turns the user's
// selections into names and hands them to the window that runs the session through
// TFtpTransferOperations (the login window); it reads the listing file that the engine has written
// into the remote directory list and the remote file grid (ParseDir).
//
// The local side is a place box, a directory list and a file list (FileControls.h): the directory
// list's directory is the local directory of all transfers. Remote names are kept as the server's
// bytes behind the shown texts and sent back unchanged.
//
// Progress: above the log a row shows the transfer under way (download, upload or listing): a bar
// with the percentage when the size is known (from the listing, the server's 150 reply or the
// local file), the bytes so far, the rate and the time left (without a size: bytes and rate
// only), and a "Cancel" button that stops the transfer and the rest of its queue
// (TFtpTransferOperations::CancelTransfer). The row and Label4 ("N bytes sent") are brought up to
// date at most every kProgressMs. The session's window passes Cancel to its wait control, which
// swallows other input while a transfer runs.
#pragma once

#include "ftp/FileControls.h"
#include "ftp/FtpTransferOperations.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <QElapsedTimer>

#include <cstdint>
#include <string>
#include <vector>

class QCheckBox;
class QGroupBox;
class QProgressBar;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

class Tcopyform : public QWidget {
    Q_OBJECT
public:
    // The window's size when it is made. Wider than the classic 600 pixels, so that the remote
    // grid shows its three columns (a 13-digit size and a date whole, and room for the name) with
    // the middle column kept in the middle.
    static constexpr int kDefaultWidth = 760;
    static constexpr int kDefaultHeight = 505;

    explicit Tcopyform(QWidget* owner = nullptr);

    // The window that carries out this window's operations (not owned; null: the buttons that
    // need a session do nothing). The login window sets itself and clears itself when it goes.
    void SetOperations(TFtpTransferOperations* operations) { operations_ = operations; }
    TFtpTransferOperations* Operations() const { return operations_; }

    // ---- Controls ----
    QWidget* Panel2 = nullptr;
    TDriveComboBox* DriveComboBox1 = nullptr;
    TDirectoryListBox* DirectoryListBox1 = nullptr;
    TFileListBox* FileListBox1 = nullptr;
    QPushButton* SelectAllBut = nullptr;
    QWidget* Panel5 = nullptr;
    QPushButton* UploadBut = nullptr;
    QPushButton* DownloadBut = nullptr;
    QPushButton* CancelBut = nullptr;
    QGroupBox* RadioGroup1 = nullptr;
    QRadioButton* BinaryItem = nullptr;  // item 0, "Binary"
    QRadioButton* TextItem = nullptr;    // item 1, "Text"
    QPushButton* ChgDirBut = nullptr;
    QPushButton* RmDirBut = nullptr;
    QPushButton* MkDirBut = nullptr;
    QPushButton* DelRemFileBut = nullptr;
    QPushButton* DelLocFileBut = nullptr;
    QCheckBox* AdvMenuCB = nullptr;
    QPushButton* ViewBut = nullptr;
    QLabel* Label4 = nullptr;
    QWidget* Panel6 = nullptr;
    QLineEdit* RemoteDirEdit = nullptr;
    QListWidget* RemoteDirList = nullptr;
    TRemoteGrid* StringGrid1 = nullptr;
    QWidget* Panel12 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* ProgressLabel = nullptr;
    QPushButton* CancelTransferBut = nullptr;  // "Cancel"
    QPlainTextEdit* Memo1 = nullptr;

    // RadioGroup1's selected item: 0 "Binary", 1 "Text".
    int RadioGroup1Index() const;
    void SetRadioGroup1Index(int index);

    // The remote directory: the bytes the server named it with, or the text typed over them.
    std::string RemoteDirBytes() const;
    void SetRemoteDir(const std::string& bytes);
    // The remote name an entry of RemoteDirList stands for; IsUpOneDir for "<up one dir>".
    static std::string RemoteNameOf(const QListWidgetItem* item);
    static bool IsUpOneDir(const QListWidgetItem* item);

    // ---- Handlers ----
    void SelectAllButClick();
    void UploadButClick();
    void DownloadButClick();
    void CancelButClick();
    void ChgDirButClick();
    void RemoteDirListClick();
    void RmDirButClick();
    void MkDirButClick();
    void DelRemFileButClick();
    void DelLocFileButClick();
    void AdvMenuCBClick();
    void ViewButClick();
    void CancelTransferButClick();

    // ---- Operations ----
    // Fills RemoteDirList and StringGrid1 from the listing file and deletes the file.
    void ParseDir();
    // The size the listing gives for a remote file (-1: not listed, or not a number).
    std::int64_t ListedSize(const std::string& remoteName) const;

    // ---- Progress of the transfer under way (reported by the session's window) ----
    static constexpr int kProgressMs = 100;
    // A transfer starts: what it is ("get NAME", "put NAME", "listing") and its size in bytes
    // (-1: not known).
    void BeginProgress(const QString& what, std::int64_t size);
    // The size learnt once the transfer runs (the 150 reply); nothing when one is known.
    void SetProgressSize(std::int64_t size);
    // The bytes moved so far.
    void ShowProgress(std::int64_t bytes);
    // The transfer has ended (completed: it succeeded).
    void EndProgress(bool completed);
    bool ProgressRunning() const { return progressRunning_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void FormCreate();
    void FormResize();
    void BuildControls();
    // The remote names to work on: the selected grid rows (only the top one when topOnly) with
    // "Directory Listings" on, else one name asked for with an input box titled title. False when
    // the input box was answered with nothing.
    bool TakeRemoteNames(const QString& title, bool topOnly, std::vector<std::string>& names);
    // The full path of every selected local file, deselecting it.
    std::vector<std::string> TakeLocalFiles();
    // Asks for a directory name (cut to 255 characters), logs verb + " " + name and runs
    // operation on it; an empty answer does nothing.
    void AskForDirectory(const QString& title, const QString& verb,
                         void (TFtpTransferOperations::*operation)(const std::string&));

    void PaintProgress();

    std::string remoteDirBytes_;  // what the server named the directory shown in RemoteDirEdit
    TFtpTransferOperations* operations_ = nullptr;
    // The transfer under way.
    bool progressRunning_ = false;
    QString progressWhat_;
    std::int64_t progressSize_ = -1;
    std::int64_t progressBytes_ = 0;
    QElapsedTimer progressClock_;  // since the transfer began
    qint64 progressShownAt_ = -1;  // clock time of the last update shown (-1: none yet)
};

// The program's transfer window, created at start-up (hidden).
inline QPointer<Tcopyform> copyform;
// The private temporary directory with its trailing "/" (set when the transfer window is
// created); the listing file and viewed files go there.
inline QString TempDir;
