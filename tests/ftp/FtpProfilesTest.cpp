// The settings file of the FTP site profiles: the password scrambler and its Base64 form against
// values computed independently, the file's name, its permissions, profiles written and read back,
// a port that is not a number, and the renumbering of the list.
#include "ftp/FtpProfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

using namespace ftp;

namespace {

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

QString ReadAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QString();
    return QString::fromUtf8(f.readAll());
}

}  // namespace

// Expected values computed with a separate implementation of the cipher and Python's base64.
TEST(PasswordStore, ScramblerAndBase64MatchTheStoredFormat)
{
    EXPECT_EQ(Hex(StrEncrypt("abc")), "76dafd");
    EXPECT_EQ(Hex(StrEncrypt("pass")), "67bbe279");
    EXPECT_EQ(Hex(StrEncrypt("secret!")), "6484c56f3ef03d");
    EXPECT_EQ(Base64Encode(StrEncrypt("abc")), "dtr9");
    EXPECT_EQ(Base64Encode(StrEncrypt("pass")), "Z7vieQ==");
    EXPECT_EQ(Base64Encode(StrEncrypt("ab")), "dto=");
    EXPECT_EQ(Base64Encode(StrEncrypt("a")), "dg==");
    EXPECT_EQ(Base64Encode(StrEncrypt("\xe9t\xe9")), "/kaO");
    EXPECT_EQ(Base64Encode(""), "");

    for (const std::string& clear :
         {std::string("abc"), std::string("pass"), std::string("secret!"), std::string(1, '\0'),
          std::string("\xff\x00\x80", 3), std::string(300, 'x')}) {
        SCOPED_TRACE(Hex(clear));
        const std::string stored = Base64Encode(StrEncrypt(clear));
        EXPECT_EQ(StrDecrypt(Base64Decode(stored)), clear);
        EXPECT_EQ(StrEncrypt(clear).size(), clear.size());
    }
}

TEST(PasswordStore, Base64DecoderTakesGroupsOfFour)
{
    EXPECT_EQ(Base64Decode("TWFu"), "Man");
    EXPECT_EQ(Base64Decode("TWE="), "Ma");
    EXPECT_EQ(Base64Decode("TQ=="), "M");
    EXPECT_EQ(Base64Decode("TWFuTWE="), "ManMa");
    EXPECT_EQ(Base64Decode("+/+/"), "\xfb\xff\xbf");
    // Damaged values read without running past their end: a short last group counts as padded,
    // characters outside the alphabet as 0.
    EXPECT_EQ(Base64Decode("TW"), "M");
    EXPECT_EQ(Base64Decode("TWF"), "Ma");
    EXPECT_EQ(Base64Decode("T"), std::string(1, 'L'));
    EXPECT_EQ(Base64Decode("!!!!"), std::string(3, '\0'));
}

TEST(PasswordStore, PasswordsAsTheWindowsStoreThem)
{
    EXPECT_EQ(EncodePassword("abc"), "dtr9");
    EXPECT_EQ(EncodePassword("abc").size(), 4) << "three characters give four Base64 characters";
    EXPECT_EQ(EncodePassword(QString()), QString());
    EXPECT_EQ(DecodePassword(QString()), QString());
    EXPECT_EQ(DecodePassword("dtr9"), "abc");
    // Non-ASCII: stored as scrambled UTF-8 and read back; a value stored elsewhere from
    // single-byte text (not valid UTF-8 once unscrambled) reads back as Latin-1.
    const QString accented = QStringLiteral("p\u00e4ss\u20ac");
    EXPECT_EQ(DecodePassword(EncodePassword(accented)), accented);
    // Every character comes back, an initial U+FEFF included.
    for (const QString& p : {QStringLiteral("\ufeffpw"), QStringLiteral("\ufeff"),
                             QStringLiteral("\ufeff\ufeffx"), QStringLiteral("a\ufeff")})
        EXPECT_EQ(DecodePassword(EncodePassword(p)), p);
    EXPECT_EQ(DecodePassword("/kaO"), QStringLiteral("\u00e9t\u00e9"));
}

TEST(SettingsFile, NameFollowsTheExecutable)
{
    EXPECT_EQ(SettingsFileNameFor("/usr/bin/zarvos"), "zarvos.ini");
    EXPECT_EQ(SettingsFileNameFor("C:/Programs/FTPCLI.EXE"), "ftpcli.ini");
    EXPECT_EQ(SettingsFileNameFor("/opt/Zarvos.bin"), "zarvos.ini");
    EXPECT_EQ(SettingsFileNameFor("/opt/zarvos.x"), "zarvos.x.ini");
    EXPECT_EQ(SettingsFileNameFor("/opt/zarvos.tools"), "zarvos.tools.ini");
    EXPECT_EQ(SettingsFileNameFor("ftp"), "ftp.ini") << "three letters but no extension";
    EXPECT_EQ(SettingsFileNameFor("/opt/"), "zarvos.ini");
    EXPECT_EQ(SettingsFileNameFor(""), "zarvos.ini");
}

TEST(SettingsFile, IntegerFields)
{
    EXPECT_EQ(StrToInt("21"), 21);
    EXPECT_EQ(StrToInt(" 2121 "), 2121);
    EXPECT_EQ(StrToInt("-5"), -5);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    for (const char* bad :
         {"", " ", "21a", "a21", "2147483648", "1 2", "+", "99999999999999999999"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(StrToInt(bad), EConvertError);
    }
    try {
        StrToInt("x1");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'x1' is not a valid integer value");
    }
}

TEST(SettingsFile, ProfileNamesThatCannotBeSections)
{
    EXPECT_TRUE(ProfileNameProblem("MY SITE").isEmpty());
    EXPECT_TRUE(ProfileNameProblem("ftp.example.com").isEmpty());
    for (const char* bad :
         {"", " ", " A", "A ", "A]B", "[A", "A=B", "PROFILES", "lastused", "a\tb"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ProfileNameProblem(QString::fromLatin1(bad)).isEmpty());
    }
}

class ProfileFile : public ::testing::Test {
protected:
    QString Path() const { return dir.filePath("zarvos.ini"); }
    QTemporaryDir dir;
};

TEST_F(ProfileFile, WrittenWithOwnerOnlyPermissionsAndReadBack)
{
    TProfileStore store(Path());
    TFtpProfile p;
    p.HostName = "ftp.example.com";
    p.InitialLocalDir = "/home/me/dl";
    p.InitialDir = "/pub";
    p.UserName = "me";
    p.Password = "abc";
    p.Port = "2121";
    p.ForceLower = false;
    p.AutoDir = true;
    p.ChkProxy = true;
    p.TxtProxyName = "proxy.example.com";
    p.TxtProxyPort = "8021";
    p.Tls = true;
    p.TlsFingerprint = "AB:CD:EF";
    ASSERT_TRUE(store.WriteProfile(0, "EXAMPLE", p)) << store.Error().toStdString();

    EXPECT_EQ(QFile::permissions(Path()) & ~(QFile::ReadUser | QFile::WriteUser),
              QFile::ReadOwner | QFile::WriteOwner);
    const QString text = ReadAll(Path());
    EXPECT_TRUE(text.contains("Password=dtr9\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("TxtProxyport=8021")) << "the key is spelled so";
    EXPECT_TRUE(text.contains("[LastUsed]\nProfile=0"));
    EXPECT_TRUE(text.contains("Tls=1\nTlsFingerprint=AB:CD:EF\n")) << text.toStdString();
    EXPECT_FALSE(text.contains("abc"));

    const TFtpProfile back = store.ReadProfile("example", "/home/me");
    EXPECT_EQ(back.HostName, p.HostName);
    EXPECT_EQ(back.InitialLocalDir, p.InitialLocalDir);
    EXPECT_EQ(back.InitialDir, p.InitialDir);
    EXPECT_EQ(back.UserName, p.UserName);
    EXPECT_EQ(back.Password, "abc");
    EXPECT_EQ(back.Port, "2121");
    EXPECT_FALSE(back.ForceLower);
    EXPECT_TRUE(back.AutoDir);
    EXPECT_TRUE(back.ChkProxy);
    EXPECT_TRUE(back.Tls);
    EXPECT_EQ(back.TlsFingerprint, "AB:CD:EF");
    EXPECT_EQ(back.TxtProxyName, p.TxtProxyName);
    EXPECT_EQ(back.TxtProxyPort, "8021");
    EXPECT_EQ(store.ReadNames(), QStringList{"EXAMPLE"});
}

TEST_F(ProfileFile, DefaultsOfAMissingProfileAndAnEmptyPassword)
{
    TProfileStore store(Path());
    const TFtpProfile none = store.ReadProfile("NOWHERE", "/home/me");
    EXPECT_EQ(none.InitialLocalDir, "/home/me");
    EXPECT_EQ(none.Port, "21");
    EXPECT_EQ(none.TxtProxyPort, "0");
    EXPECT_TRUE(none.ForceLower);
    EXPECT_TRUE(none.AutoDir);
    EXPECT_FALSE(none.ChkProxy);
    EXPECT_FALSE(none.Tls) << "absent: plain FTP";
    EXPECT_TRUE(none.TlsFingerprint.isEmpty());
    EXPECT_TRUE(none.Password.isEmpty());
    EXPECT_EQ(store.ReadLastUsed(), 0);
    EXPECT_TRUE(store.ReadNames().isEmpty());

    TFtpProfile p;
    ASSERT_TRUE(store.WriteProfile(0, "EMPTY", p));
    EXPECT_TRUE(ReadAll(Path()).contains("Password=\n"));
    EXPECT_TRUE(store.ReadProfile("EMPTY", "/x").Password.isEmpty());
}

TEST_F(ProfileFile, NarrowsAFileOthersCouldRead)
{
    QFile f(Path());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Profiles]\nName0=OLD\n");
    f.close();
    ASSERT_TRUE(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                 QFile::ReadOther));
    TProfileStore store(Path());
    ASSERT_TRUE(store.WriteProfile(1, "NEW", TFtpProfile{}));
    EXPECT_FALSE(QFile::permissions(Path()) & (QFile::ReadGroup | QFile::ReadOther));
    EXPECT_EQ(store.ReadNames(), (QStringList{"OLD", "NEW"}));
}

TEST_F(ProfileFile, PortThatIsNotANumberStopsTheWriteAtItsKey)
{
    TProfileStore store(Path());
    TFtpProfile p;
    p.HostName = "h";
    p.Password = "pw";
    p.Port = "21x";
    EXPECT_THROW(store.WriteProfile(0, "BAD", p), EConvertError);
    const QString text = ReadAll(Path());
    EXPECT_TRUE(text.contains("HostName=h"));
    EXPECT_TRUE(text.contains("Password="));
    EXPECT_FALSE(text.contains("Port=")) << text.toStdString();
    EXPECT_FALSE(text.contains("ForceLower"));

    p.Port = "21";
    p.TxtProxyPort = "proxy";
    EXPECT_THROW(store.WriteProfile(0, "BAD", p), EConvertError);
    const QString again = ReadAll(Path());
    EXPECT_TRUE(again.contains("Port=21"));
    EXPECT_TRUE(again.contains("TxtProxyName="));
    EXPECT_FALSE(again.contains("TxtProxyport"));
}

TEST_F(ProfileFile, NamesRenumberedAndReadUpToTheFirstGap)
{
    {
        QFile f(Path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Profiles]\nName0=ZED\nName1=ALPHA\nName2=\nName3=LOST\n[ZED]\nHostName=z\n");
    }
    TProfileStore store(Path());
    EXPECT_EQ(store.ReadNames(), (QStringList{"ZED", "ALPHA"}));
    ASSERT_TRUE(store.WriteNames({"ALPHA", "MID", "ZED"}, 2));
    EXPECT_EQ(store.ReadNames(), (QStringList{"ALPHA", "MID", "ZED"}));
    EXPECT_EQ(store.ReadLastUsed(), 2);
    const QString text = ReadAll(Path());
    EXPECT_FALSE(text.contains("LOST")) << "the whole section is written anew";
    EXPECT_TRUE(text.contains("[ZED]\nHostName=z")) << "profile sections stay";
}

// A profile named "Work" whose texts have blanks and quotes at their ends reads back as it was
// written; what a settings line cannot hold is refused before anything is written.
TEST_F(ProfileFile, QuotedNameAndBlankEdgedTextsRoundTrip)
{
    TProfileStore store(Path());
    TFtpProfile p;
    p.HostName = " host ";
    p.InitialLocalDir = "/home/me/dir ";
    p.InitialDir = "\"/pub\"";
    p.UserName = "me  ";
    p.Password = QStringLiteral("\ufeff secret ");
    p.TxtProxyName = "\"";
    const QString name = "\"Work\"";
    ASSERT_TRUE(store.WriteProfile(0, name, p)) << store.Error().toStdString();
    ASSERT_TRUE(store.WriteNames({name, "OTHER"}, 0));
    ASSERT_EQ(store.ReadNames(), (QStringList{name, "OTHER"}));
    const TFtpProfile back = store.ReadProfile(store.ReadNames()[0], "/default");
    EXPECT_EQ(back.HostName, p.HostName);
    EXPECT_EQ(back.InitialLocalDir, p.InitialLocalDir);
    EXPECT_EQ(back.InitialDir, p.InitialDir);
    EXPECT_EQ(back.UserName, p.UserName);
    EXPECT_EQ(back.Password, p.Password);
    EXPECT_EQ(back.TxtProxyName, p.TxtProxyName);

    const QString before = ReadAll(Path());
    TFtpProfile broken = p;
    broken.InitialDir = "/a\n[Profiles]";
    EXPECT_FALSE(store.WriteProfile(1, "NEW", broken));
    EXPECT_EQ(store.Error(), "the initial remote directory can not hold a line break");
    EXPECT_FALSE(store.WriteProfile(1, "[NEW]", p));
    EXPECT_EQ(ReadAll(Path()), before) << "nothing written";
}
