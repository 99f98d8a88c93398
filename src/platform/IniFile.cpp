#include "platform/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <climits>
#include <optional>

namespace platform {

namespace {

// "[name]" (with blanks around) gives name; anything else is not a header. The name runs to the
// last "]" of the line, so a name that holds "]" reads back as it was written.
std::optional<QString> SectionOf(const QString& line)
{
    const QString t = line.trimmed();
    if (t.size() >= 2 && t.front() == u'[') {
        const qsizetype close = t.lastIndexOf(u']');
        if (close > 0) return t.mid(1, close - 1).trimmed();
    }
    return std::nullopt;
}

bool IsComment(const QString& line)
{
    const QString t = line.trimmed();
    return t.startsWith(u';') || t.startsWith(u'#');
}

// Splits "key = value" into trimmed key and value; false for lines without '='.
bool SplitKeyValue(const QString& line, QString& key, QString& value)
{
    if (IsComment(line)) return false;
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0) return false;
    key = line.left(eq).trimmed();
    value = line.mid(eq + 1).trimmed();
    // A value enclosed in one pair of double quotes is read without them.
    if (value.size() >= 2 && value.front() == u'"' && value.back() == u'"')
        value = value.mid(1, value.size() - 2);
    return !key.isEmpty();
}

bool SameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Index range [begin, end) of the section's body lines, or begin = -1 when absent.
struct Range {
    qsizetype header = -1;
    qsizetype begin = -1;
    qsizetype end = -1;
};

Range FindSection(const QStringList& lines, const QString& wanted)
{
    // Headers are written and read trimmed, so the name is compared trimmed too.
    const QString section = wanted.trimmed();
    Range r;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto name = SectionOf(lines[i]);
        if (!name) continue;
        if (r.begin >= 0) {
            r.end = i;
            return r;
        }
        if (SameName(*name, section)) {
            r.header = i;
            r.begin = i + 1;
        }
    }
    if (r.begin >= 0) r.end = lines.size();
    return r;
}

qsizetype FindKey(const QStringList& lines, const Range& r, const QString& key)
{
    for (qsizetype i = r.begin; i >= 0 && i < r.end; ++i) {
        QString k, v;
        if (SplitKeyValue(lines[i], k, v) && SameName(k, key)) return i;
    }
    return -1;
}

// The text that stands for value after "key=": one line; enclosed in double quotes when reading
// would otherwise change it (blanks at either end are trimmed, one enclosing pair of quotes is
// removed), so that every one-line value reads back exactly as it was written.
QString StoredValue(QString value)
{
    value.replace(u'\r', u' ');
    value.replace(u'\n', u' ');
    const bool quoted = value.size() >= 2 && value.front() == u'"' && value.back() == u'"';
    if (quoted || value.trimmed() != value) value = u'"' + value + u'"';
    return value;
}

bool HasLineBreak(const QString& name)
{
    return name.contains(u'\r') || name.contains(u'\n');
}

}  // namespace

IniFile::IniFile(const QString& fileName)
    : path_(ResolvePath(fileName)),
      createPerms_(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                   QFileDevice::ReadOther)
{
}

QString IniFile::ResolvePath(const QString& fileName)
{
    if (fileName.contains(u'/')) return fileName;
    QString dir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    if (dir.isEmpty()) dir = QDir::homePath() + QStringLiteral("/.config/zarvos");
    return dir + u'/' + fileName;
}

QStringList IniFile::Load() const
{
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QString text = QString::fromUtf8(f.readAll());
    // A byte-order mark that an editor put at the start is not part of the first line.
    if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList lines = text.split(u'\n');
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
    return lines;
}

bool IniFile::Store(const QStringList& lines)
{
    const QFileInfo info(path_);
    if (!QDir().mkpath(info.absolutePath())) {
        error_ = QStringLiteral("Cannot create directory %1").arg(info.absolutePath());
        return false;
    }
    const bool existed = info.exists();
    const QFileDevice::Permissions perms = existed ? QFile(path_).permissions() : createPerms_;

    QSaveFile out(path_);
    if (!out.open(QIODevice::WriteOnly)) {
        error_ = out.errorString();
        return false;
    }
    // Give the temporary file its final permissions before any byte is written, so a file that
    // holds secrets is never readable by others, not even for a moment.
    out.setPermissions(perms);
    QByteArray data;
    for (const QString& l : lines) {
        data += l.toUtf8();
        data += '\n';
    }
    if (out.write(data) != data.size() || !out.commit()) {
        error_ = out.errorString();
        return false;
    }
    error_.clear();
    return true;
}

QString IniFile::ReadString(const QString& section, const QString& key, const QString& def) const
{
    const QStringList lines = Load();
    const Range r = FindSection(lines, section);
    const qsizetype i = FindKey(lines, r, key);
    if (i < 0) return def;
    QString k, v;
    SplitKeyValue(lines[i], k, v);
    return v;
}

int IniFile::ReadInteger(const QString& section, const QString& key, int def) const
{
    if (!ValueExists(section, key)) return def;
    const QString v = ReadString(section, key, QString());
    qsizetype i = 0;
    bool negative = false;
    if (i < v.size() && (v[i] == u'-' || v[i] == u'+')) {
        negative = v[i] == u'-';
        ++i;
    }
    const qsizetype firstDigit = i;
    long long n = 0;
    for (; i < v.size() && v[i] >= u'0' && v[i] <= u'9'; ++i) {
        n = n * 10 + (v[i].unicode() - u'0');
        if (n > static_cast<long long>(INT_MAX) + 1) n = static_cast<long long>(INT_MAX) + 1;
    }
    if (i == firstDigit) return def;
    if (negative) return static_cast<int>(-n < INT_MIN ? INT_MIN : -n);
    return static_cast<int>(n > INT_MAX ? INT_MAX : n);
}

bool IniFile::ReadBool(const QString& section, const QString& key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool IniFile::SectionExists(const QString& section) const
{
    return FindSection(Load(), section).begin >= 0;
}

bool IniFile::ValueExists(const QString& section, const QString& key) const
{
    const QStringList lines = Load();
    return FindKey(lines, FindSection(lines, section), key) >= 0;
}

QStringList IniFile::ReadSections() const
{
    QStringList out;
    for (const QString& l : Load())
        if (const auto name = SectionOf(l)) out << *name;
    return out;
}

QStringList IniFile::ReadSection(const QString& section) const
{
    const QStringList lines = Load();
    const Range r = FindSection(lines, section);
    QStringList keys;
    for (qsizetype i = r.begin; i >= 0 && i < r.end; ++i) {
        QString k, v;
        if (SplitKeyValue(lines[i], k, v)) keys << k;
    }
    return keys;
}

bool IniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    if (HasLineBreak(section) || HasLineBreak(key)) {
        // It would break the file into lines that belong elsewhere.
        error_ = QStringLiteral("A section or key name can not hold a line break");
        return false;
    }
    QStringList lines = Load();
    const QString line = key.trimmed() + u'=' + StoredValue(value);
    const Range r = FindSection(lines, section);
    if (r.begin < 0) {
        if (!lines.isEmpty() && !lines.back().trimmed().isEmpty()) lines << QString();
        lines << u'[' + section.trimmed() + u']' << line;
        return Store(lines);
    }
    const qsizetype i = FindKey(lines, r, key);
    if (i >= 0) {
        lines[i] = line;
    } else {
        // New keys go after the section's last non-blank line, keeping a blank separator.
        qsizetype at = r.end;
        while (at > r.begin && lines[at - 1].trimmed().isEmpty())
            --at;
        lines.insert(at, line);
    }
    return Store(lines);
}

bool IniFile::WriteInteger(const QString& section, const QString& key, int value)
{
    return WriteString(section, key, QString::number(value));
}

bool IniFile::WriteBool(const QString& section, const QString& key, bool value)
{
    return WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool IniFile::DeleteKey(const QString& section, const QString& key)
{
    QStringList lines = Load();
    const qsizetype i = FindKey(lines, FindSection(lines, section), key);
    if (i < 0) return true;
    lines.removeAt(i);
    return Store(lines);
}

bool IniFile::EraseSection(const QString& section)
{
    QStringList lines = Load();
    const Range r = FindSection(lines, section);
    if (r.begin < 0) return true;
    qsizetype end = r.end;
    lines.erase(lines.begin() + r.header, lines.begin() + end);
    return Store(lines);
}

}  // namespace platform
