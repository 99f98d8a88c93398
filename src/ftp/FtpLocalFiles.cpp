#include "ftp/FtpLocalFiles.h"

#include "ftp/FtpListing.h"

#include <QRandomGenerator>
#include <QStringDecoder>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ftp {

namespace {

std::string ErrnoText(int err)
{
    return std::strerror(err);
}

bool ValidUtf8(std::string_view bytes, QString* text)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    if (utf8.hasError()) return false;
    if (text) *text = std::move(decoded);
    return true;
}

// Creates a new, empty file with a random name in directory; returns its path, or empty with
// err set.
std::string CreatePartFile(const std::string& directory, int& err)
{
    for (int attempt = 0; attempt < 64; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".zarvos-%08x.part",
                      QRandomGenerator::global()->generate());
        const std::string path = AppendSlash(directory) + suffix;
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        err = errno;
        if (err != EEXIST) return std::string();
    }
    return std::string();
}

}  // namespace

QString RemoteText(std::string_view bytes)
{
    QString text;
    if (ValidUtf8(bytes, &text)) return text;
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

std::string RemoteBytes(const QString& text)
{
    return text.toStdString();
}

std::string LocalNameProblem(std::string_view name)
{
    if (name.empty()) return "the name is empty";
    if (name == "." || name == "..") return "\"" + std::string(name) + "\" is not a file name";
    if (name.size() > kMaxLocalName) return "the name is longer than 255 bytes";
    for (const char c : name) {
        if (c == '/' || c == '\\') return "the name holds a path separator";
        const auto b = static_cast<unsigned char>(c);
        if (b < 32 || b == 127) return "the name holds a control character";
    }
    return std::string();
}

std::string CommandTextProblem(std::string_view text)
{
    for (const char c : text)
        if (c == '\r' || c == '\n' || c == '\0')
            return "the name holds a line break or a NUL character";
    return std::string();
}

std::string LowerFileName(std::string_view name)
{
    QString text;
    if (ValidUtf8(name, &text)) return text.toLower().toStdString();
    std::string lower(name);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

std::string PrepareDownload(const std::string& directory, std::string_view name,
                            TLocalTarget& target)
{
    target = TLocalTarget{};
    if (std::string problem = LocalNameProblem(name); !problem.empty()) return problem;
    if (directory.empty()) return "no local directory";
    const std::string final = AppendSlash(directory) + std::string(name);

    struct stat st {};
    if (::lstat(final.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) return final + " is a symbolic link";
        if (S_ISDIR(st.st_mode)) return final + " is a directory";
        if (!S_ISREG(st.st_mode)) return final + " is not a regular file";
        if (::access(final.c_str(), W_OK) != 0) return final + " can not be written";
    } else if (errno != ENOENT) {
        return final + ": " + ErrnoText(errno);
    }

    int err = 0;
    std::string part = CreatePartFile(directory, err);
    if (part.empty()) return "can not create a file in " + directory + ": " + ErrnoText(err);
    target.Final = final;
    target.Part = std::move(part);
    return std::string();
}

std::string CommitDownload(const TLocalTarget& target)
{
    if (target.Part.empty()) return "no download";
    if (::rename(target.Part.c_str(), target.Final.c_str()) == 0) return std::string();
    const int err = errno;
    ::unlink(target.Part.c_str());
    return "can not write " + target.Final + ": " + ErrnoText(err);
}

void DiscardDownload(const TLocalTarget& target)
{
    if (!target.Part.empty()) ::unlink(target.Part.c_str());
}

}  // namespace ftp
