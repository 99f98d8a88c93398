// Feeds arbitrary bytes to the settings-file layer and the FTP site profiles, and checks what must
// hold for any file:
//  - the input, taken as a settings file, is read by section and key, by the profile store (names,
//    last used, every profile) and by the password decoder without a fault;
//  - every profile read from it that the store accepts is written to a fresh file and reads back
//    exactly (name, texts, password, ports, switches), and the list of names with it; a profile
//    the store refuses is one that ProfileProblem names, and nothing is written for it;
//  - every line of the input, taken as a value, a section name and a password, reads back as it
//    was written (a value is one line: lines are cut at CR and LF first), and writing a section
//    again never adds a second header for it.
#include "ftp/FtpProfiles.h"
#include "platform/IniFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Check(bool ok, const char* what)
{
    if (ok) return;
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
}

QTemporaryDir* g_dir = nullptr;

QString PathOf(const char* name)
{
    return g_dir->filePath(QLatin1String(name));
}

void WriteFile(const QString& path, const std::uint8_t* data, std::size_t size)
{
    QFile f(path);
    Check(f.open(QIODevice::WriteOnly | QIODevice::Truncate), "the scratch file opens");
    f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
}

bool SameProfile(const ftp::TFtpProfile& a, const ftp::TFtpProfile& b)
{
    return a.HostName == b.HostName && a.InitialLocalDir == b.InitialLocalDir &&
           a.InitialDir == b.InitialDir && a.UserName == b.UserName && a.Password == b.Password &&
           a.Port == b.Port && a.ForceLower == b.ForceLower && a.AutoDir == b.AutoDir &&
           a.ChkProxy == b.ChkProxy && a.TxtProxyName == b.TxtProxyName &&
           a.TxtProxyPort == b.TxtProxyPort;
}

// Reads the input as a settings file the way the program does, and everything else there is.
void ReadEverything(const QString& path, QStringList& names, QList<ftp::TFtpProfile>& profiles)
{
    const platform::IniFile ini(path);
    const QStringList sections = ini.ReadSections();
    for (qsizetype s = 0; s < sections.size() && s < 8; ++s) {
        const QStringList keys = ini.ReadSection(sections[s]);
        for (qsizetype k = 0; k < keys.size() && k < 16; ++k) {
            const QString value = ini.ReadString(sections[s], keys[k], QString());
            ini.ReadInteger(sections[s], keys[k], 7);
            ftp::DecodePassword(value);
            Check(ini.ValueExists(sections[s], keys[k]), "a listed key exists");
        }
    }
    const ftp::TProfileStore store(path);
    names = store.ReadNames();
    store.ReadLastUsed();
    for (qsizetype i = 0; i < names.size() && i < 8; ++i) {
        Check(!names[i].isEmpty(), "no empty name is listed");
        profiles.append(store.ReadProfile(names[i], QStringLiteral("/default")));
        bool number = false;
        profiles.back().Port.toInt(&number);
        Check(number, "the port reads as a number");
    }
}

// Writes the profiles the store accepts into a fresh file and reads them back.
void RoundTripProfiles(const QStringList& names, const QList<ftp::TFtpProfile>& profiles)
{
    const QString path = PathOf("profiles.ini");
    QFile::remove(path);
    ftp::TProfileStore store(path);
    QStringList kept;
    QList<ftp::TFtpProfile> keptProfiles;
    for (qsizetype i = 0; i < profiles.size(); ++i) {
        bool twice = false;
        for (const QString& k : kept)
            twice = twice || k.compare(names[i], Qt::CaseInsensitive) == 0;
        if (twice) continue;  // the same section: the later one wins
        const QString problem = ftp::ProfileProblem(names[i], profiles[i]);
        const bool written = store.WriteProfile(int(kept.size()), names[i], profiles[i]);
        Check(written == problem.isEmpty(), "refused exactly when ProfileProblem says why");
        if (!written) {
            Check(store.Error() == problem, "the refusal says why");
            continue;
        }
        kept.append(names[i]);
        keptProfiles.append(profiles[i]);
    }
    if (kept.isEmpty()) return;
    Check(store.WriteNames(kept, 0), "the list is written");
    Check(store.ReadNames() == kept, "the names read back");
    for (qsizetype i = 0; i < kept.size(); ++i)
        Check(SameProfile(store.ReadProfile(kept[i], QString()), keptProfiles[i]),
              "a profile reads back as written");
}

// Every line of the input as a value, a section name and a password.
void RoundTripLines(const std::uint8_t* data, std::size_t size)
{
    const QString path = PathOf("lines.ini");
    QFile::remove(path);
    platform::IniFile ini(path);
    const QStringList lines =
        QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size))
            .split(QRegularExpression(QStringLiteral("[\r\n]")));
    for (qsizetype i = 0; i < lines.size() && i < 8; ++i) {
        const QString& line = lines[i];
        const QString key = QStringLiteral("k") + QString::number(i);
        Check(ini.WriteString(QStringLiteral("Values"), key, line), "a value is written");
        Check(ini.ReadString(QStringLiteral("Values"), key, QStringLiteral("*")) == line,
              "a value reads back as written");
        Check(ftp::DecodePassword(ftp::EncodePassword(line)) == line,
              "a password reads back as written");

        const int headers = int(ini.ReadSections().size());
        Check(ini.WriteString(line, QStringLiteral("a"), QStringLiteral("1")), "a section");
        const bool existed = int(ini.ReadSections().size()) == headers;
        Check(ini.WriteString(line, QStringLiteral("a"), QStringLiteral("2")), "again");
        Check(ini.ReadSections().size() == headers + (existed ? 0 : 1), "one header a section");
        Check(ini.ReadString(line, QStringLiteral("a"), QString()) == QStringLiteral("2"),
              "the section is found again");
        Check(ini.ReadSections().contains(line.trimmed(), Qt::CaseInsensitive),
              "the section is listed under its name");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    // Memory-backed when it can be: every call of the settings layer reads or writes the file.
    static QTemporaryDir dir(QFile::exists(QStringLiteral("/dev/shm"))
                                 ? QStringLiteral("/dev/shm/zarvos-fuzz-XXXXXX")
                                 : QString());
    g_dir = &dir;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString path = PathOf("input.ini");
    WriteFile(path, data, size);
    QStringList names;
    QList<ftp::TFtpProfile> profiles;
    ReadEverything(path, names, profiles);
    RoundTripProfiles(names, profiles);
    RoundTripLines(data, size);

    const std::string raw(reinterpret_cast<const char*>(data), size);
    const std::string decoded = ftp::Base64Decode(raw);
    Check(decoded.size() <= (raw.size() + 3) / 4 * 3, "Base64 yields at most 3 bytes per 4");
    Check(ftp::StrDecrypt(ftp::StrEncrypt(raw)) == raw, "the scrambler is undone");
    return 0;
}
