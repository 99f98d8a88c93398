#include "ftp/FtpProfiles.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <array>
#include <cstdint>
#include <limits>
#include <utility>

namespace ftp {

namespace {

constexpr std::uint16_t kKeyStart = 5903;
constexpr std::uint32_t kKeyMul = 43117;
constexpr std::uint32_t kKeyAdd = 27961;

std::uint16_t NextKey(unsigned char scrambled, std::uint16_t key)
{
    return static_cast<std::uint16_t>((scrambled + std::uint32_t(key)) * kKeyMul + kKeyAdd);
}

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return 0;
}

const QString kProfiles = QStringLiteral("Profiles");
const QString kLastUsed = QStringLiteral("LastUsed");
const QString kProfile = QStringLiteral("Profile");

QString NameKey(int n)
{
    return QStringLiteral("Name") + QString::number(n);
}

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

}  // namespace

std::string StrEncrypt(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::uint16_t key = kKeyStart;
    for (const char ch : text) {
        const auto scrambled =
            static_cast<unsigned char>(static_cast<unsigned char>(ch) ^ (key >> 8));
        out.push_back(static_cast<char>(scrambled));
        key = NextKey(scrambled, key);
    }
    return out;
}

std::string StrDecrypt(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::uint16_t key = kKeyStart;
    for (const char ch : text) {
        const auto scrambled = static_cast<unsigned char>(ch);
        out.push_back(static_cast<char>(scrambled ^ (key >> 8)));
        key = NextKey(scrambled, key);
    }
    return out;
}

std::string Base64Encode(std::string_view data)
{
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < data.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, data.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k)
            group = (group << 8) | (k < n ? static_cast<unsigned char>(data[i + k]) : 0u);
        std::array<char, 4> chars{};
        for (int k = 3; k >= 0; --k) {
            chars[std::size_t(k)] = kAlphabet[group & 63u];
            group >>= 6;
        }
        // One input byte leaves two characters of the last group, two leave three.
        if (n < 3) chars[3] = '=';
        if (n < 2) chars[2] = '=';
        out.append(chars.data(), chars.size());
    }
    return out;
}

std::string Base64Decode(std::string_view text)
{
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        std::array<char, 4> chars{'=', '=', '=', '='};
        for (std::size_t k = 0; k < 4 && i + k < text.size(); ++k)
            chars[k] = text[i + k];
        std::uint32_t group = 0;
        for (const char c : chars)
            group = (group << 6) | std::uint32_t(Base64Value(c));
        int bytes = 3;
        if (chars[3] == '=') bytes = chars[2] == '=' ? 1 : 2;
        out.push_back(static_cast<char>((group >> 16) & 0xFF));
        if (bytes > 1) out.push_back(static_cast<char>((group >> 8) & 0xFF));
        if (bytes > 2) out.push_back(static_cast<char>(group & 0xFF));
    }
    return out;
}

QString EncodePassword(const QString& password)
{
    const QByteArray utf8 = password.toUtf8();
    const std::string stored = Base64Encode(StrEncrypt(std::string_view(utf8.data(), utf8.size())));
    return QString::fromLatin1(stored.data(), qsizetype(stored.size()));
}

QString DecodePassword(const QString& stored)
{
    const QByteArray text = stored.toLatin1();
    const std::string bytes = StrDecrypt(Base64Decode(std::string_view(text.data(), text.size())));
    // An initial U+FEFF is a character of the password, not a byte-order mark to drop.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString decoded = utf8(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    if (!utf8.hasError()) return decoded;
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

QString SettingsFileNameFor(const QString& executablePath)
{
    QString name = executablePath.mid(executablePath.lastIndexOf(u'/') + 1).toLower();
    if (name.isEmpty()) return QStringLiteral("zarvos.ini");
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot >= 0 && name.size() - dot - 1 == 3) {
        name.chop(3);
        return name + QStringLiteral("ini");
    }
    return name + QStringLiteral(".ini");
}

int StrToInt(const QString& text)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) negative = t[i++] == u'-';
    const qsizetype digitsFrom = i;
    long long value = 0;
    for (; i < t.size() && t[i] >= u'0' && t[i] <= u'9'; ++i) {
        value = value * 10 + (t[i].unicode() - u'0');
        if (value > 1LL + std::numeric_limits<int>::max()) break;
    }
    const long long signedValue = negative ? -value : value;
    if (i == digitsFrom || i != t.size() || signedValue > std::numeric_limits<int>::max() ||
        signedValue < std::numeric_limits<int>::min())
        throw EConvertError("'" + text.toStdString() + "' is not a valid integer value");
    return static_cast<int>(signedValue);
}

QString ProfileNameProblem(const QString& name)
{
    if (name.trimmed().isEmpty()) return QStringLiteral("a profile name can not be empty");
    if (name.trimmed() != name)
        return QStringLiteral("a profile name can not begin or end with blanks");
    for (const QChar c : name) {
        if (c == u'[' || c == u']' || c == u'=')
            return QStringLiteral("a profile name can not hold \"[\", \"]\" or \"=\"");
        if (c.unicode() < 32 || c.unicode() == 127)
            return QStringLiteral("a profile name can not hold control characters");
    }
    if (name.compare(kProfiles, Qt::CaseInsensitive) == 0 ||
        name.compare(kLastUsed, Qt::CaseInsensitive) == 0)
        return QStringLiteral("\"%1\" is a section of the settings file itself").arg(name);
    return QString();
}

// ---- The store ----------------------------------------------------------------------------------

TProfileStore::TProfileStore(const QString& fileName) : ini_(fileName)
{
    ini_.SetCreatePermissions(kOwnerOnly);
}

QStringList TProfileStore::ReadNames() const
{
    QStringList names;
    for (int n = 0;; ++n) {
        const QString name = ini_.ReadString(kProfiles, NameKey(n), QString());
        if (name.isEmpty()) break;
        names.append(name);
    }
    return names;
}

int TProfileStore::ReadLastUsed() const
{
    return ini_.ReadInteger(kLastUsed, kProfile, 0);
}

TFtpProfile TProfileStore::ReadProfile(const QString& name, const QString& defaultLocalDir) const
{
    TFtpProfile p;
    p.HostName = ini_.ReadString(name, QStringLiteral("HostName"), QString());
    p.InitialLocalDir = ini_.ReadString(name, QStringLiteral("InitialLocalDir"), defaultLocalDir);
    p.InitialDir = ini_.ReadString(name, QStringLiteral("InitialDir"), QString());
    p.UserName = ini_.ReadString(name, QStringLiteral("UserName"), QString());
    p.Password = DecodePassword(ini_.ReadString(name, QStringLiteral("Password"), QString()));
    p.Port = QString::number(ini_.ReadInteger(name, QStringLiteral("Port"), 21));
    p.ForceLower = ini_.ReadBool(name, QStringLiteral("ForceLower"), true);
    p.AutoDir = ini_.ReadBool(name, QStringLiteral("AutoDir"), true);
    p.Passive = ini_.ReadBool(name, QStringLiteral("Passive"), false);
    p.Tls = ini_.ReadBool(name, QStringLiteral("Tls"), false);
    p.TlsFingerprint = ini_.ReadString(name, QStringLiteral("TlsFingerprint"), QString());
    p.ChkProxy = ini_.ReadBool(name, QStringLiteral("ChkProxy"), false);
    p.TxtProxyName = ini_.ReadString(name, QStringLiteral("TxtProxyName"), QString());
    p.TxtProxyPort = QString::number(ini_.ReadInteger(name, QStringLiteral("TxtProxyport"), 0));
    return p;
}

bool TProfileStore::Narrow()
{
    // A settings file that others may read is narrowed to its owner before a password goes in.
    QFile file(ini_.FileName());
    if (!file.exists()) return true;
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                            QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                            QFileDevice::WriteOther | QFileDevice::ExeOther;
    if (!(file.permissions() & others)) return true;
    return file.setPermissions(kOwnerOnly);
}

QString ProfileProblem(const QString& name, const TFtpProfile& p)
{
    if (QString problem = ProfileNameProblem(name); !problem.isEmpty()) return problem;
    // A settings value is one line: a line break could not be read back.
    const std::pair<const char*, const QString*> texts[] = {
        {"the host name", &p.HostName},
        {"the initial local directory", &p.InitialLocalDir},
        {"the initial remote directory", &p.InitialDir},
        {"the user name", &p.UserName},
        {"the proxy name", &p.TxtProxyName},
        {"the trusted certificate fingerprint", &p.TlsFingerprint},
    };
    for (const auto& [what, text] : texts)
        if (text->contains(u'\r') || text->contains(u'\n'))
            return QLatin1String(what) + QStringLiteral(" can not hold a line break");
    return QString();
}

bool TProfileStore::WriteProfile(int index, const QString& name, const TFtpProfile& p)
{
    if (const QString problem = ProfileProblem(name, p); !problem.isEmpty()) {
        error_ = problem;
        return false;
    }
    Narrow();
    bool ok = ini_.WriteString(kProfiles, NameKey(index), name);
    ok = ini_.WriteString(name, QStringLiteral("HostName"), p.HostName) && ok;
    ok = ini_.WriteString(name, QStringLiteral("InitialLocalDir"), p.InitialLocalDir) && ok;
    ok = ini_.WriteString(name, QStringLiteral("InitialDir"), p.InitialDir) && ok;
    ok = ini_.WriteString(name, QStringLiteral("UserName"), p.UserName) && ok;
    ok = ini_.WriteString(name, QStringLiteral("Password"), EncodePassword(p.Password)) && ok;
    ok = ini_.WriteInteger(name, QStringLiteral("Port"), StrToInt(p.Port)) && ok;
    ok = ini_.WriteBool(name, QStringLiteral("ForceLower"), p.ForceLower) && ok;
    ok = ini_.WriteBool(name, QStringLiteral("AutoDir"), p.AutoDir) && ok;
    ok = ini_.WriteBool(name, QStringLiteral("Passive"), p.Passive) && ok;
    ok = ini_.WriteBool(name, QStringLiteral("Tls"), p.Tls) && ok;
    ok = ini_.WriteString(name, QStringLiteral("TlsFingerprint"), p.TlsFingerprint) && ok;
    ok = ini_.WriteInteger(kLastUsed, kProfile, index) && ok;
    ok = ini_.WriteBool(name, QStringLiteral("ChkProxy"), p.ChkProxy) && ok;
    ok = ini_.WriteString(name, QStringLiteral("TxtProxyName"), p.TxtProxyName) && ok;
    ok = ini_.WriteInteger(name, QStringLiteral("TxtProxyport"), StrToInt(p.TxtProxyPort)) && ok;
    error_ = ok ? QString() : ini_.ErrorString();
    return ok;
}

bool TProfileStore::WriteTlsFingerprint(const QString& name, const QString& fingerprint)
{
    TFtpProfile p;
    p.TlsFingerprint = fingerprint;
    if (const QString problem = ProfileProblem(name, p); !problem.isEmpty()) {
        error_ = problem;
        return false;
    }
    Narrow();
    const bool ok = ini_.WriteString(name, QStringLiteral("TlsFingerprint"), fingerprint);
    error_ = ok ? QString() : ini_.ErrorString();
    return ok;
}

bool TProfileStore::WriteNames(const QStringList& names, int lastUsed)
{
    bool ok = ini_.EraseSection(kProfiles);
    for (int n = 0; n < names.size(); ++n)
        ok = ini_.WriteString(kProfiles, NameKey(n), names[n]) && ok;
    ok = ini_.WriteInteger(kLastUsed, kProfile, lastUsed) && ok;
    error_ = ok ? QString() : ini_.ErrorString();
    return ok;
}

}  // namespace ftp
