// Texts for failed file operations, as the editor and the FTP windows show them.
#pragma once

#include <QString>

namespace platform {

// Pseudo error number for a read that ran past the end of a file.
inline constexpr int kReadBeyondEnd = -100;

// errno (or kReadBeyondEnd) to "File not found", "Invalid filename", "Too many open files",
// "File access denied", "Read beyond end of file", "Disk full" or "I/O error N".
QString FileErrorText(int err);

}  // namespace platform
