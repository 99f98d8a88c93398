// TFtpTransferOperations: what the transfer window (copyform) asks of the window that runs the FTP
// session (the login window, Form1, implements it). The transfer window turns the user's
// selections into names and calls these; it never reaches the engine or the login window itself.
//
// Names are bytes: local paths as the engine takes them, remote names as the server sent them.
// Every operation runs to its end before it returns (the engine's synchronous operations keep the
// event loop running meanwhile) and reports in the session's log. While a transfer runs, the
// session's window reports its progress to the transfer window (Tcopyform::BeginProgress and the
// calls after it), and the transfer window's Cancel reaches it through CancelTransfer.
#pragma once

#include <QString>

#include <string>
#include <vector>

class TFtpTransferOperations {
public:
    // "Directory Listings" is on: remote names come from the grid's selection instead of being
    // asked for.
    virtual bool DirectoryListings() const = 0;

    // Transfers and deletes of several files; the files are worked from the last to the first.
    virtual void UploadFiles(std::vector<std::string> localPaths) = 0;
    virtual void DownloadFiles(std::vector<std::string> remoteNames) = 0;
    virtual void DeleteRemoteFiles(std::vector<std::string> remoteNames) = 0;
    virtual void DeleteLocalFiles(std::vector<std::string> localPaths) = 0;
    // Opens a remote file as Unix text in a new editor window.
    virtual void ViewRemoteFile(std::string remoteName) = 0;

    // Remote directories.
    virtual void ChangeDirectory(const std::string& remoteName) = 0;
    virtual void ChangeToParentDirectory() = 0;
    virtual void MakeDirectory(const std::string& remoteName) = 0;
    virtual void RemoveDirectory(const std::string& remoteName) = 0;

    // Adds a line to the session's log (the login window's and the transfer window's).
    virtual void Log(const QString& line) = 0;
    // Logs out and hides the login window.
    virtual void CloseSession() = 0;

    // Stops the download, upload or listing under way at once (the engine's AbortAsync, which
    // closes the session with it) and drops the files of the queue not transferred yet; the log
    // says so. Nothing when no transfer runs.
    virtual void CancelTransfer() = 0;

protected:
    ~TFtpTransferOperations() = default;
};
