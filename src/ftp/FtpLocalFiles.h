// Remote names on the local side. A name that comes from a server's listing (or is typed for a
// download) is never trusted as a local path: it must be one plain file name. A download goes
// first into a fresh file of its own in the target directory and replaces the file of its name
// only when it has succeeded, so a failed download leaves an existing local file as it was, and a
// symbolic link that stands under the remote file's name is never followed. GUI-free.
//
// Remote names are the server's bytes; the windows show them decoded as UTF-8 when they are valid
// UTF-8, else as Latin-1, and send the bytes back unchanged.
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace ftp {

// The bytes shown as text: UTF-8 when valid, else Latin-1.
QString RemoteText(std::string_view bytes);
// Text typed by the user as the bytes to send: UTF-8.
std::string RemoteBytes(const QString& text);

// Names longer than this cannot be a local file name.
inline constexpr std::size_t kMaxLocalName = 255;

// Why name cannot be used as a local file name, or empty when it can: empty, ".", "..", holding
// "/" or "\", holding a control byte (0 to 31 or 127), or longer than 255 bytes.
std::string LocalNameProblem(std::string_view name);

// A command argument the FTP engine refuses (CR, LF or NUL): why, or empty.
std::string CommandTextProblem(std::string_view text);

// The name lower-cased: as Unicode text when it is valid UTF-8, else its ASCII letters only.
std::string LowerFileName(std::string_view name);

// A download in progress: the file the user gets and the fresh file the transfer writes.
struct TLocalTarget {
    std::string Final;  // directory + "/" + name
    std::string Part;   // a new file in the same directory, created for this download only
};

// Checks the place for name in directory (a local path as bytes) and creates the part file.
// Returns the problem (and leaves target empty) when the name is not a plain file name, when a
// symbolic link or a directory stands under the name, when an existing file of that name cannot
// be written, or when no file can be created in the directory.
std::string PrepareDownload(const std::string& directory, std::string_view name,
                            TLocalTarget& target);
// Moves the finished part file over the final name (one rename, which replaces the name itself
// and never follows a link put there meanwhile). Returns the problem, or empty on success; the
// part file is removed when the rename fails.
std::string CommitDownload(const TLocalTarget& target);
// Removes the part file of a failed download.
void DiscardDownload(const TLocalTarget& target);

}  // namespace ftp
