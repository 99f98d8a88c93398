// Settings files of sections and Key=Value lines, with the semantics of the desktop profile API:
// section and key names compare case-insensitively, values are whitespace-trimmed, a value
// enclosed in one pair of double quotes is read without them, integer reads take the leading
// digits, a write keeps the rest of the file and its order. Every call reads the file afresh
// (nothing is cached), so several objects on the same file always agree. The file is UTF-8; a
// byte-order mark at its start is skipped.
//
// Round trip: a value written is read back exactly as it was, except for line breaks (a value is
// one line: CR and LF become blanks). The writer encloses in double quotes a value that begins
// or ends with a blank, or that begins and ends with a double quote, so trimming and the removal
// of the enclosing pair give back the value itself; files written before read as they always
// did. Section names are compared and written trimmed; a name runs to the last "]" of its header
// line.
#pragma once

#include <QFileDevice>
#include <QString>
#include <QStringList>

namespace platform {

class IniFile {
public:
    // A bare file name (no directory part) lives in the per-user configuration directory
    // (QStandardPaths::AppConfigLocation); a name with a directory is used as it stands.
    explicit IniFile(const QString& fileName);

    static QString ResolvePath(const QString& fileName);

    const QString& FileName() const { return path_; }

    // Permissions given to the file when a write creates it (default: owner read/write and
    // group/other read). A file that already exists keeps its own permissions.
    void SetCreatePermissions(QFileDevice::Permissions perms) { createPerms_ = perms; }

    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    // Missing key or a value without leading digits gives def; otherwise the optional sign and
    // the leading decimal digits ("30x" is 30). Values past the int range saturate.
    int ReadInteger(const QString& section, const QString& key, int def) const;
    // Non-zero integer is true.
    bool ReadBool(const QString& section, const QString& key, bool def) const;

    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;
    QStringList ReadSections() const;                       // in file order
    QStringList ReadSection(const QString& section) const;  // key names in file order

    // Writes return false when the file cannot be written, or when a section or key name holds a
    // line break; ErrorString() then says why. Line breaks in a value are replaced by blanks, as
    // a value is one line.
    bool WriteString(const QString& section, const QString& key, const QString& value);
    bool WriteInteger(const QString& section, const QString& key, int value);
    bool WriteBool(const QString& section, const QString& key, bool value);
    bool DeleteKey(const QString& section, const QString& key);
    bool EraseSection(const QString& section);

    const QString& ErrorString() const { return error_; }

private:
    QStringList Load() const;
    bool Store(const QStringList& lines);

    QString path_;
    QFileDevice::Permissions createPerms_;
    mutable QString error_;
};

}  // namespace platform
