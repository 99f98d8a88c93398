// FTP site profiles: the password scrambling of the settings file, its Base64 form, the settings
// file's name, and the store that reads and writes profiles in it. GUI-free (Qt Core and the
// platform's settings-file service), so it is tested headless.
//
// The settings file holds one section per profile and two of its own:
//   [Profiles]  Name0=..., Name1=...  profile names in list order (reading stops at the first
//                                     empty or missing entry)
//   [LastUsed]  Profile=n             index of the last profile used
//   [<name>]    HostName, InitialLocalDir, InitialDir, UserName, Password (scrambled, Base64),
//               Port, ForceLower, AutoDir, Passive (1 for passive data connections; a profile
//               without it is 0, active), Tls (1 for explicit FTPS; absent 0), TlsFingerprint
//               (SHA-256 fingerprint of the server certificate the user trusts; absent: empty),
//               ChkProxy, TxtProxyName, TxtProxyport
// It holds a password, so it is created readable and writable by its owner only, and a file
// found with wider permissions is narrowed when a profile is written.
//
// Passwords and other texts are Unicode in the windows. The scrambler works on bytes: a password
// is scrambled as its UTF-8 bytes, and scrambled bytes read back are taken as UTF-8 when they are
// valid UTF-8, else as Latin-1 (so a password of single-byte characters stored elsewhere in this
// format reads back as the characters it was). An ASCII password gives the same bytes either way.
#pragma once

#include "platform/IniFile.h"

#include <QString>
#include <QStringList>

#include <stdexcept>
#include <string>
#include <string_view>

namespace ftp {

// The error of a text that is not a decimal integer where one is required; its message is
// "'<text>' is not a valid integer value".
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A byte-wise stream cipher with a 16-bit key register: key := 5903; for every byte,
// out := byte XOR (key >> 8), then key := (out + key) * 43117 + 27961 modulo 65536. The output is
// as long as the input. StrDecrypt runs the same key over the scrambled bytes.
std::string StrEncrypt(std::string_view text);
std::string StrDecrypt(std::string_view text);

// Standard Base64 (RFC 4648 alphabet, "=" padding). The decoder takes four characters at a time
// and yields three bytes, or two when the fourth is "=", or one when the third and fourth are;
// a character outside the alphabet counts as 0 and a last group of fewer than four characters is
// read as if padded with "=".
std::string Base64Encode(std::string_view data);
std::string Base64Decode(std::string_view text);

// Stored form of a password: Base64Encode(StrEncrypt(UTF-8 bytes)); empty for an empty password.
QString EncodePassword(const QString& password);
// The password a stored value stands for (see the header comment for the character set).
QString DecodePassword(const QString& stored);

// The settings file's name for the program at executablePath: the file name without directory,
// lower-cased, with the last three characters replaced by "ini" when it ends in a three-letter
// extension ("ftpcli.exe" gives "ftpcli.ini"), else the name + ".ini" ("zarvos" gives
// "zarvos.ini"). An empty name gives "zarvos.ini".
QString SettingsFileNameFor(const QString& executablePath);

// A decimal integer as the settings file's integer fields take it from an edit field: optional
// blanks, an optional sign, decimal digits, optional blanks, within the 32-bit range. Anything
// else raises EConvertError.
int StrToInt(const QString& text);

// Why name cannot be a profile name (a section of the settings file), or empty when it can: it
// must not be empty or blank at either end, must not hold "[", "]", "=" or control characters,
// and must not be one of the file's own sections "Profiles" and "LastUsed".
QString ProfileNameProblem(const QString& name);

struct TFtpProfile;
// Why a profile cannot be stored so that it reads back as it is, or empty when it can: its name
// (ProfileNameProblem), or a text field that holds a line break (a settings value is one line).
// Every other text, blanks at either end and enclosing double quotes included, reads back exactly.
QString ProfileProblem(const QString& name, const TFtpProfile& profile);

// One profile as the login window shows it; ports are the texts of their edit fields.
struct TFtpProfile {
    QString HostName;
    QString InitialLocalDir;
    QString InitialDir;
    QString UserName;
    QString Password;  // clear text
    QString Port = QStringLiteral("21");
    bool ForceLower = true;
    bool AutoDir = true;
    bool Passive = false;
    bool Tls = false;
    QString TlsFingerprint;
    bool ChkProxy = false;
    QString TxtProxyName;
    QString TxtProxyPort = QStringLiteral("0");
};

class TProfileStore {
public:
    // fileName as platform::IniFile takes it (a bare name lives in the per-user configuration
    // directory).
    explicit TProfileStore(const QString& fileName);

    QString FileName() const { return ini_.FileName(); }

    // "Profiles"/"Name0", "Name1", ... up to the first empty or missing entry.
    QStringList ReadNames() const;
    // "LastUsed"/"Profile", default 0.
    int ReadLastUsed() const;
    // The section name with the defaults of missing keys (InitialLocalDir: defaultLocalDir).
    TFtpProfile ReadProfile(const QString& name, const QString& defaultLocalDir) const;

    // A profile in which ProfileProblem finds a problem is refused: false, nothing written, and
    // Error() says why. Otherwise:
    // Writes "Profiles"/"Name<index>" := name, then the profile's keys in their order
    // (HostName, InitialLocalDir, InitialDir, UserName, Password, Port, ForceLower, AutoDir,
    // Passive, Tls, TlsFingerprint, "LastUsed"/"Profile" := index, ChkProxy, TxtProxyName, TxtProxyport). A port text
    // that is not an integer raises EConvertError when its key is reached; the keys before it stay
    // written. False when the file cannot be written (Error() says why).
    bool WriteProfile(int index, const QString& name, const TFtpProfile& profile);

    // Writes only the profile's "TlsFingerprint" (the certificate the user trusted). False when
    // the name or the value cannot be stored, or the file cannot be written (Error() says why).
    bool WriteTlsFingerprint(const QString& name, const QString& fingerprint);

    // Erases "Profiles", writes names as Name0, Name1, ... and "LastUsed"/"Profile" := lastUsed.
    bool WriteNames(const QStringList& names, int lastUsed);

    const QString& Error() const { return error_; }

private:
    bool Narrow();

    platform::IniFile ini_;
    QString error_;
};

}  // namespace ftp
