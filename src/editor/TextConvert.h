// Conversions between the editor's document and the three text-file forms (GUI-free).
//
// - Unix import: every byte 32..126 is kept, LF ends a line, every other byte (CR, tab, form
//   feed, NUL, 127..255) is dropped. The file's line count is its LF count plus one.
// - The document's line model: a line break is a paragraph end or, with word wrap on, a wrap
//   point of the laid-out document; the empty line after a final break is not counted, so an
//   empty document has no lines.
// - Plain-text saves join the lines with CR LF (DOS) or LF (Unix), nothing after the last one,
//   and write them as UTF-8.
// - Plain-text loads decode UTF-8 and turn CR LF, LF and lone CR into paragraph ends.
// - File access through POSIX calls, so a failure carries its errno for the error texts of
//   platform::FileErrorText; only regular files are read, and only up to kMaxEditBytes.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

class QTextDocument;

namespace editor {

// Default extensions of the saves.
inline constexpr char kDosExtension[] = ".txt";
inline constexpr char kUnixExtension[] = ".unx";
inline constexpr char kRtfExtension[] = ".rtf";

// Appends ext to a name whose last component (after the last '/', '\\' or drive colon) has no
// full stop; a name with a full stop anywhere in its last component, even at its very end,
// is returned unchanged.
QString AddDefaultExtension(const QString& name, const QString& ext);

// Incremental Unix-text cleaning. Feed the file's bytes in any pieces; TakeText() then gives
// the document text in which every line is followed by one '\n', as the editor control is
// filled from a list of lines.
class UnixTextFilter {
public:
    // Room for about `bytes` input bytes, so a whole file is filtered without reallocation.
    void Reserve(std::int64_t bytes);
    void Feed(const char* data, std::int64_t size);
    // Lines so far, counting the current (unfinished) one: LF count + 1.
    std::int64_t Lines() const { return breaks_ + 1; }
    // The lines, each followed by '\n' (an empty file gives "\n": one empty line).
    // The filter is empty afterwards.
    QString TakeText();

private:
    QString text_;
    std::int64_t used_ = 0;
    std::int64_t breaks_ = 0;
};

// Whole-buffer form of the cleaning: the document text (each line followed by '\n') and the
// line count.
struct UnixImport {
    QString text;
    std::int64_t lines = 0;
};
UnixImport CleanUnixText(const QByteArray& bytes);

// The document's lines. With wrapped set, every paragraph counts as its laid-out lines (the
// document must have been laid out at the control's width; paragraphs without a layout count
// as one line each). Line separators (U+2028) inside a paragraph also end a line; object
// replacement characters are dropped.
QStringList DocumentLines(const QTextDocument& doc, bool wrapped);
std::int64_t DocumentLineCount(const QTextDocument& doc, bool wrapped);

enum class LineEnd { Dos, Unix };
// Lines joined by CR LF or LF, none after the last, as UTF-8.
QByteArray JoinLines(const QStringList& lines, LineEnd end);

// Decodes UTF-8 plain text for the document: CR LF and lone CR become '\n'; NUL and the
// characters the document uses internally as structure marks (U+FDD0, U+FDD1, U+FFFC) are
// replaced by U+FFFD, so a binary file cannot corrupt the document's structure.
QString PlainTextFromBytes(const QByteArray& bytes);

// ---- Files -------------------------------------------------------------------------------

// Largest file the editor loads (the Unix import and the DOS-or-RTF open). A document of this
// size already needs several GB of memory in the text control.
inline constexpr std::int64_t kMaxEditBytes = std::int64_t(256) << 20;
// Pseudo errno for a file above kMaxEditBytes.
inline constexpr int kFileTooLarge = -200;

// Error text for a failed load or save: kFileTooLarge gets its own text, everything else
// goes through platform::FileErrorText.
QString FileErrorMessage(int err);

// A file opened for reading: a regular file only (a directory gives EISDIR, a device or pipe
// EINVAL, without blocking on it), larger than maxBytes gives kFileTooLarge.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // 0 or the errno of the failure.
    int Open(const QString& path, std::int64_t maxBytes = kMaxEditBytes);
    std::int64_t Size() const { return size_; }
    // Reads up to size bytes: the count (0 at end of file), or -1 with Error() set. A file
    // that grows past maxBytes while it is read fails with kFileTooLarge.
    std::int64_t Read(char* buffer, std::int64_t size);
    int Error() const { return error_; }
    void Close();

private:
    int fd_ = -1;
    std::int64_t size_ = 0;
    std::int64_t read_ = 0;
    std::int64_t max_ = 0;
    int error_ = 0;
};

// Reads a whole file; 0 or the errno (or kFileTooLarge). *opened tells whether the file could
// be opened (the error texts differ for "cannot open" and "cannot read").
int ReadWholeFile(const QString& path, QByteArray* out, std::int64_t maxBytes = kMaxEditBytes,
                  bool* opened = nullptr);

// Creates (or truncates) the file and writes data; 0 only when every byte was written and the
// file closed without error, else the errno. *created tells whether the create step worked
// (the error texts differ for "cannot create" and "cannot write").
int WriteWholeFile(const QString& path, const QByteArray& data, bool* created = nullptr);

}  // namespace editor
