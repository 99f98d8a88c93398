#include "ftp/FtpListing.h"

#include <QFile>

#include <cctype>

namespace ftp {

namespace {

char Lower(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// Reads the field that starts at pos (characters up to the next space or the end) and moves pos
// past it and the spaces after it.
std::string_view NextField(std::string_view line, std::size_t& pos)
{
    const std::size_t start = pos;
    while (pos < line.size() && line[pos] != ' ')
        ++pos;
    const std::string_view field = line.substr(start, pos - start);
    while (pos < line.size() && line[pos] == ' ')
        ++pos;
    return field;
}

}  // namespace

bool ParseDirEntry(std::string_view line, TDirEntry& entry)
{
    if (line.empty()) return false;
    const char kind = Lower(line[0]);
    std::size_t pos = 0;
    for (int field = 1; field <= 4; ++field)
        NextField(line, pos);
    const std::string_view size = NextField(line, pos);
    const std::string_view month = NextField(line, pos);
    const std::string_view day = NextField(line, pos);
    const std::string_view timeOrYear = NextField(line, pos);
    if (pos >= line.size()) return false;  // no ninth field

    TDirEntry e;
    e.Directory = kind == 'd';
    e.Size.assign(size);
    e.Date.reserve(month.size() + day.size() + timeOrYear.size() + 2);
    e.Date.append(month).append(" ").append(day).append(" ").append(timeOrYear);
    e.Name.assign(line.substr(pos));

    if (kind == 'l' && e.Name.find('.') == std::string::npos) e.Directory = true;
    if (e.Directory && e.Name.size() > 4) {
        // The first " ->" whose space stands at the second character or later.
        const std::size_t arrow = e.Name.find(" ->", 1);
        if (arrow != std::string::npos) e.Name.resize(arrow);
    }
    entry = std::move(e);
    return true;
}

void ParseListing(std::string_view text, TListing& out)
{
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        const bool last = end == std::string_view::npos;
        if (last) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.size() >= kShortestListingLine) {
            TDirEntry entry;
            if (ParseDirEntry(line, entry)) {
                if (entry.Directory)
                    out.Directories.push_back(std::move(entry.Name));
                else
                    out.Files.push_back(std::move(entry));
            }
        }
        if (last) break;
        start = end + 1;
    }
}

bool ReadListingFile(const QString& path, TListing& out)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) return false;
    ParseListing(std::string_view(data.constData(), std::size_t(data.size())), out);
    return true;
}

QString AppendSlash(const QString& path)
{
    if (path.isEmpty() || path.endsWith(u'/')) return path;
    return path + u'/';
}

std::string AppendSlash(std::string path)
{
    if (!path.empty() && path.back() != '/') path.push_back('/');
    return path;
}

}  // namespace ftp
