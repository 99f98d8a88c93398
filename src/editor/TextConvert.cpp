#include "editor/TextConvert.h"

#include "platform/FileErrors.h"

#include <QFile>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace editor {

QString AddDefaultExtension(const QString& name, const QString& ext)
{
    qsizetype start = 0;
    for (qsizetype i = name.size() - 1; i >= 0; --i) {
        const QChar c = name.at(i);
        if (c == u'/' || c == u'\\' || c == u':') {
            start = i + 1;
            break;
        }
    }
    if (name.indexOf(u'.', start) >= 0) return name;
    return name + ext;
}

// ---- Unix import ---------------------------------------------------------------------------

void UnixTextFilter::Reserve(std::int64_t bytes)
{
    // One extra character for the line break that follows the last line.
    const qsizetype want = qsizetype(bytes) + 1;
    if (text_.size() < want) text_.resize(want);
}

void UnixTextFilter::Feed(const char* data, std::int64_t size)
{
    if (size <= 0) return;
    // At most every byte is kept; keep room for the closing break of TakeText() too.
    if (text_.size() < used_ + size + 1)
        text_.resize(std::max<qsizetype>(used_ + size + 1, text_.size() * 2));
    char16_t* out = reinterpret_cast<char16_t*>(text_.data()) + used_;
    char16_t* const begin = out;
    const auto* in = reinterpret_cast<const unsigned char*>(data);
    const auto* const end = in + size;
    std::int64_t breaks = 0;
    for (; in != end; ++in) {
        const unsigned char c = *in;
        if (c >= 32 && c <= 126) {
            *out++ = c;
        } else if (c == 10) {
            *out++ = u'\n';
            ++breaks;
        }
    }
    used_ += out - begin;
    breaks_ += breaks;
}

QString UnixTextFilter::TakeText()
{
    if (text_.size() < used_ + 1) text_.resize(used_ + 1);
    text_[used_] = u'\n';
    text_.truncate(used_ + 1);
    QString result = std::move(text_);
    text_ = QString();
    used_ = 0;
    breaks_ = 0;
    return result;
}

UnixImport CleanUnixText(const QByteArray& bytes)
{
    UnixTextFilter filter;
    filter.Reserve(bytes.size());
    filter.Feed(bytes.constData(), bytes.size());
    UnixImport result;
    result.lines = filter.Lines();
    result.text = filter.TakeText();
    return result;
}

// ---- Line model ----------------------------------------------------------------------------

namespace {

// Splits one piece of paragraph text at line separators, dropping them and object
// replacement characters, and hands each resulting line to add.
template <typename Add>
void SplitPiece(const QString& piece, Add&& add)
{
    QString line;
    line.reserve(piece.size());
    for (const QChar c : piece) {
        if (c == QChar::LineSeparator) {
            add(line);
            line.clear();
        } else if (c != QChar::ObjectReplacementCharacter) {
            line.append(c);
        }
    }
    add(line);
}

// Walks the lines of the line model; add(QString) receives each line.
template <typename Add>
void WalkLines(const QTextDocument& doc, bool wrapped, Add&& add)
{
    QTextBlock last = doc.lastBlock();
    // The empty paragraph after a final break (or of an empty document) is not a line.
    const bool dropLast = last.isValid() && last.length() <= 1;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        if (dropLast && block == last) break;
        const QString text = block.text();
        const QTextLayout* layout = block.layout();
        if (!wrapped || !layout || layout->lineCount() <= 1) {
            SplitPiece(text, add);
            continue;
        }
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            QString piece = text.mid(line.textStart(), line.textLength());
            // A line ended by a separator carries it at its end; the next line starts after it.
            if (piece.endsWith(QChar::LineSeparator)) piece.chop(1);
            piece.remove(QChar::ObjectReplacementCharacter);
            add(piece);
        }
    }
}

}  // namespace

QStringList DocumentLines(const QTextDocument& doc, bool wrapped)
{
    QStringList lines;
    WalkLines(doc, wrapped, [&lines](const QString& l) { lines.append(l); });
    return lines;
}

std::int64_t DocumentLineCount(const QTextDocument& doc, bool wrapped)
{
    // Counting without building the strings: the control counts on every change.
    QTextBlock last = doc.lastBlock();
    const bool dropLast = last.isValid() && last.length() <= 1;
    std::int64_t count = 0;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        if (dropLast && block == last) break;
        const QTextLayout* layout = block.layout();
        if (wrapped && layout && layout->lineCount() > 1) {
            count += layout->lineCount();
            continue;
        }
        count += 1 + block.text().count(QChar::LineSeparator);
    }
    return count;
}

QByteArray JoinLines(const QStringList& lines, LineEnd end)
{
    const QByteArray sep =
        end == LineEnd::Dos ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
    QByteArray out;
    qsizetype size = 0;
    for (const QString& l : lines)
        size += l.size() + sep.size();
    out.reserve(size);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0) out.append(sep);
        out.append(lines.at(i).toUtf8());
    }
    return out;
}

QString PlainTextFromBytes(const QByteArray& bytes)
{
    QString text = QString::fromUtf8(bytes);
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        switch (c.unicode()) {
        case u'\r':
            out.append(u'\n');
            if (i + 1 < n && text.at(i + 1) == u'\n') ++i;
            break;
        case 0:
        case 0xFDD0:  // start and end of a frame inside the document
        case 0xFDD1:
        case 0xFFFC:  // object replacement (images)
            out.append(QChar::ReplacementCharacter);
            break;
        default:
            out.append(c);
        }
    }
    return out;
}

// ---- Files ---------------------------------------------------------------------------------

QString FileErrorMessage(int err)
{
    if (err == kFileTooLarge)
        return QStringLiteral("File too large (the editor loads files of up to %1 MB)")
            .arg(kMaxEditBytes >> 20);
    return platform::FileErrorText(err);
}

InputFile::~InputFile()
{
    Close();
}

int InputFile::Open(const QString& path, std::int64_t maxBytes)
{
    Close();
    error_ = 0;
    read_ = 0;
    max_ = maxBytes;
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty() || native.contains('\0')) return error_ = ENOENT;
    // Non-blocking, so opening a pipe without a writer does not hang.
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return error_ = errno;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error_ = errno;
        ::close(fd);
        return error_;
    }
    if (S_ISDIR(st.st_mode))
        error_ = EISDIR;
    else if (!S_ISREG(st.st_mode))
        error_ = EINVAL;
    else if (st.st_size > maxBytes)
        error_ = kFileTooLarge;
    if (error_ != 0) {
        ::close(fd);
        return error_;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    fd_ = fd;
    size_ = st.st_size;
    return 0;
}

std::int64_t InputFile::Read(char* buffer, std::int64_t size)
{
    if (fd_ < 0) {
        error_ = EBADF;
        return -1;
    }
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, size_t(size));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error_ = errno;
            return -1;
        }
        read_ += n;
        if (read_ > max_) {
            error_ = kFileTooLarge;
            return -1;
        }
        return n;
    }
}

void InputFile::Close()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = 0;
}

int ReadWholeFile(const QString& path, QByteArray* out, std::int64_t maxBytes, bool* opened)
{
    if (opened) *opened = false;
    InputFile file;
    if (const int err = file.Open(path, maxBytes)) return err;
    if (opened) *opened = true;
    QByteArray data;
    // One byte more than the size, so the read that finds the end needs no reallocation.
    data.resize(qsizetype(file.Size()) + 1);
    qsizetype used = 0;
    for (;;) {
        if (used == data.size()) data.resize(std::max<qsizetype>(data.size() * 2, 64 * 1024));
        const std::int64_t n = file.Read(data.data() + used, data.size() - used);
        if (n < 0) return file.Error();
        if (n == 0) break;
        used += qsizetype(n);
    }
    data.truncate(used);
    *out = std::move(data);
    return 0;
}

int WriteWholeFile(const QString& path, const QByteArray& data, bool* created)
{
    if (created) *created = false;
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty() || native.contains('\0')) return ENOENT;
    const int fd =
        ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) return errno;
    if (created) *created = true;
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : EIO;
            ::close(fd);
            return err;
        }
        p += n;
        left -= n;
    }
    if (::close(fd) != 0 && errno != EINTR) return errno;
    return 0;
}

}  // namespace editor
