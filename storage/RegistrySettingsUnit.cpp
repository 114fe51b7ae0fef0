#include "RegistrySettingsUnit.h"

#include "BlowfishCryptUnit.h"
#include "KeyringPasswords.h"
#include "Paths.h"

#include <QFile>

#include <algorithm>

namespace {

const QString &kPOP3Settings = kPOP3SettingsKey;

// Any constant of 128 characters serves; stored passwords are bound to it.
constexpr char kFixedPassPhrase[] =
    "q7Vt2LxR9mWc4PzK8sNb3HjF6dYg1TeU5aQo0ZiX"
    "wC7rB2nM9vL4kJ8hG3fD6sA1pO5iU0yT7rE2wQ9z"
    "X4cV8bN3mK6jH1gF5dS0aP7oI2uY9tR4eW8qZ3xC"
    "6vB1nM5k";
static_assert(sizeof(kFixedPassPhrase) - 1 == 128, "the fixed pass phrase has 128 characters");

// The password of a value, or none and *inKeyring when the value holds the keyring's marker.
QString passwordFrom(TTheRegIniFile &reg, const QString &name, const QByteArray &passPhrase, bool *inKeyring)
{
    *inKeyring = false;
    TMemoryStream s;
    reg.ReadBinary(name, s);
    if (reg.ErrorCode() != 0)
        return QString();
    if (s.Data == kKeyringMarker) {
        *inKeyring = true;
        return QString();
    }
    QString pw;
    DecryptPassword(s.Data, passPhrase, &pw);
    return pw;
}

// A password typed anew is stored enciphered (the next move takes it into the keyring); one that stays
// in the keyring keeps the marker.
void writePassword(TTheRegIniFile &reg, const QString &name, const QString &password, bool inKeyring,
                   const QByteArray &passPhrase)
{
    TMemoryStream s{password.isEmpty() && inKeyring ? kKeyringMarker : EncryptPassword(password, passPhrase), 0};
    reg.WriteBinary(name, s);
}

// A connection security value; a missing one is "Keine". Any other value is kept as it stands, also one
// this version does not know: read as "Keine" it would send the password in clear.
int32_t securityFrom(TTheRegIniFile &reg, const QString &name)
{
    const int32_t value = reg.ReadInteger(name, csNone);
    if (reg.ErrorCode() == TTheRegIniFile::ErrNotInteger)
        return csUnknown;
    return reg.ErrorCode() == TTheRegIniFile::ErrOK ? value : csNone;
}

// An account type, and an IMAP spam action, the program does not know read as the default, as missing
// ones do.
int32_t choiceFrom(TTheRegIniFile &reg, const QString &name, int32_t highest)
{
    const int32_t value = reg.ReadInteger(name, 0);
    if (reg.ErrorCode() != 0 || value < 0 || value > highest)
        return 0;
    return value;
}

const QString kPOP3CertValue = QStringLiteral("POP3CertSHA256");
const QString kAuthMethodValue = QStringLiteral("AuthMethod");
const QString kOAuthProviderValue = QStringLiteral("OAuthProvider");
const QString kSMTPCertValue = QStringLiteral("SMTPCertSHA256");

} // namespace

QByteArray FixedPassPhrase()
{
    return QByteArray(kFixedPassPhrase, sizeof(kFixedPassPhrase) - 1);
}

QByteArray SMSPassPhrase(const QString &smsUserName)
{
    return FixedPassPhrase() + smsUserName.toUtf8() + QByteArray(platform::kProductName);
}

TRegistrySettings::TRegistrySettings(QString programFolder)
    : ProgramFolder(programFolder.isEmpty() ? platform::programFolder() : platform::withTrailingSlash(programFolder))
{
}

void TRegistrySettings::use(HKEY root, const QString &section)
{
    RegFile.RegKey = root;
    RegFile.Area = kProgramKey;
    RegFile.Section = section;
}

QString TRegistrySettings::DefaultDataPath() const
{
    // Here the program always behaves as a non-administrator on a current system would.
    return platform::appDataFolder() + QLatin1Char('/') + QLatin1String(platform::kProductName);
}

void TRegistrySettings::Load()
{
    // One transaction for all reads: a consistent picture and one lock instead of one per value.
    RegFile.RegKey = HKEY::CURRENT_USER;
    platform::RegTransaction tx(RegFile.Hive());

    // 1. Version value in the maker key.
    RegFile.Area = QStringLiteral("Software");
    RegFile.Section = QStringLiteral("Tessmar Software");
    RegFile.WriteString(QString::fromLatin1(platform::kProductName), kProgramVersion);

    // 2. Install path, machine-wide; an ordinary user may not write it, which is fine.
    RegFile.RegKey = HKEY::LOCAL_MACHINE;
    RegFile.Area = QStringLiteral("Software");
    RegFile.Section = QString::fromLatin1(platform::kProductName);
    const QString install = RegFile.ReadString(QStringLiteral("InstallPath"), QString());
    if (RegFile.ErrorCode() != 0 || install != ProgramFolder)
        RegFile.WriteString(QStringLiteral("InstallPath"), ProgramFolder);

    // 3. Main.
    use(HKEY::CURRENT_USER, QStringLiteral("Main"));
    Settings.ConnectionType = uint8_t(RegFile.ReadInteger(QStringLiteral("ConnectionType"), 0));
    Settings.DataPath = RegFile.ReadString(QStringLiteral("DataPath"), DefaultDataPath());
    Settings.KeepDeletedCopies = RegFile.ReadBool(QStringLiteral("KeepDeletedCopies"), true);
    Settings.DeletedCopyLimitKB = RegFile.ReadInteger(QStringLiteral("DeletedCopyLimitKB"), kDefaultDeletedCopyLimitKB);
    if (RegFile.ErrorCode() != 0 || Settings.DeletedCopyLimitKB < 1)
        Settings.DeletedCopyLimitKB = kDefaultDeletedCopyLimitKB;

    // 4. Column widths, in the order the names enumerate.
    use(HKEY::CURRENT_USER, QStringLiteral("ColWidths"));
    QStringList names;
    RegFile.ReadValueNames(names);
    Settings.ColWidths.clear();
    for (const QString &n : names)
        Settings.ColWidths.append(RegFile.ReadInteger(n, 64));

    // 5. View.
    use(HKEY::CURRENT_USER, QStringLiteral("View"));
    Settings.SplitterPosition = RegFile.ReadInteger(QStringLiteral("SplitterPosition"), 205);
    Settings.FirstStart = RegFile.ReadBool(QStringLiteral("FirstStart_Free"), true);

    // 6. Seed the data folder with the installed filter file, never overwriting one.
    if (!Settings.DataPath.isEmpty()) {
        const QString data = platform::withTrailingSlash(Settings.DataPath);
        platform::makePrivateFolder(data);
        const QString installed = ProgramFolder + kFilterFileName;
        if (data != ProgramFolder && QFile::exists(installed) && !QFile::exists(data + kFilterFileName))
            QFile::copy(installed, data + kFilterFileName);
    }

    // 7. SMS gateway.
    use(HKEY::CURRENT_USER, kSMSSettingsKey);
    TZirpelSettings &z = Settings.SMSGateway;
    z.Username = RegFile.ReadString(kSMSUserValue, QString());
    z.HTTPS = RegFile.ReadBool(QStringLiteral("HTTPS"), false);
    z.WithSenderAddress = RegFile.ReadBool(QStringLiteral("WithSenderAddress"), false);
    z.EMail2SMSOnlySubject = RegFile.ReadBool(QStringLiteral("EMail2SMSOnlySubject"), true);
    z.Password = passwordFrom(RegFile, kSMSPasswordValue, SMSPassPhrase(z.Username), &z.PasswordInKeyring);

    // 8. Mailboxes.
    LoadPOP3Settings(Settings.POP3Check, Settings.Accounts);
    tx.commit();
}

bool TRegistrySettings::Save()
{
    RegFile.ResetWriteFailures();
    use(HKEY::CURRENT_USER, QStringLiteral("Main"));
    RegFile.WriteInteger(QStringLiteral("ConnectionType"), Settings.ConnectionType);
    RegFile.WriteString(QStringLiteral("DataPath"), Settings.DataPath);
    RegFile.WriteBool(QStringLiteral("KeepDeletedCopies"), Settings.KeepDeletedCopies);
    RegFile.WriteInteger(QStringLiteral("DeletedCopyLimitKB"), Settings.DeletedCopyLimitKB);

    use(HKEY::CURRENT_USER, QStringLiteral("View"));
    RegFile.WriteInteger(QStringLiteral("SplitterPosition"), Settings.SplitterPosition);
    RegFile.WriteBool(QStringLiteral("FirstStart_Free"), Settings.FirstStart);

    use(HKEY::CURRENT_USER, kSMSSettingsKey);
    const TZirpelSettings &z = Settings.SMSGateway;
    RegFile.WriteString(kSMSUserValue, z.Username);
    RegFile.WriteBool(QStringLiteral("HTTPS"), z.HTTPS);
    RegFile.WriteBool(QStringLiteral("WithSenderAddress"), z.WithSenderAddress);
    RegFile.WriteBool(QStringLiteral("EMail2SMSOnlySubject"), z.EMail2SMSOnlySubject);
    writePassword(RegFile, kSMSPasswordValue, z.Password, z.PasswordInKeyring, SMSPassPhrase(z.Username));

    const bool written = RegFile.WriteFailures() == 0;
    return SavePOP3Settings(Settings.POP3Check, Settings.Accounts) && written;
}

void TRegistrySettings::SaveSplitterPosition()
{
    use(HKEY::CURRENT_USER, QStringLiteral("View"));
    RegFile.WriteInteger(QStringLiteral("SplitterPosition"), Settings.SplitterPosition);
}

void TRegistrySettings::SaveColWidths()
{
    use(HKEY::CURRENT_USER, QStringLiteral("ColWidths"));
    platform::RegTransaction tx(RegFile.Hive());
    RegFile.EraseSection(true);
    for (int i = 0; i < Settings.ColWidths.size(); ++i)
        RegFile.WriteInteger(QString::number(i), Settings.ColWidths.at(i));
    tx.commit();
}

void TRegistrySettings::LoadPOP3Settings(TPOP3Check &check, TPOP3Accounts &accounts)
{
    accounts.clear();
    use(HKEY::CURRENT_USER, kPOP3Settings);
    check.AutoKillSpam = RegFile.ReadBool(QStringLiteral("AutoKillSPAM"), true);
    check.ShowUserInfoBeforeKillSpam = RegFile.ReadBool(QStringLiteral("ShowUserInfoBeforeKillSPAM"), true);
    const QString emailCheck = RegFile.ReadString(QStringLiteral("POP3EMAILCHECK"), QStringLiteral("NO"));
    check.EMailCheck = RegFile.ErrorCode() == 0 && emailCheck == QLatin1String("YES");
    int32_t t = RegFile.ReadInteger(QStringLiteral("POP3EMAILCHECKTIME"), 60);
    if (RegFile.ErrorCode() != 0)
        t = 60;
    check.EMailCheckTime = std::clamp(t, 60, 1800);
    check.EMailClient = RegFile.ReadString(QStringLiteral("EMailClient"), QString());
    check.EMailSoundFile = RegFile.ReadString(QStringLiteral("EMailSoundFile"), QString());
    check.NewMailMsg = RegFile.ReadBool(QStringLiteral("NewMailMsg"), false);
    check.ShowOnlyNewMsgs = RegFile.ReadBool(QStringLiteral("ShowOnlyNewMsgs"), true);

    const QByteArray phrase = FixedPassPhrase();
    for (const QString &sub : accountKeys()) {
        use(HKEY::CURRENT_USER, kPOP3Settings + QLatin1Char('\\') + sub);
        TPOP3AccountSettings a;
        a.Active = RegFile.ReadBool(QStringLiteral("Active"), true);
        a.ServerName = RegFile.ReadString(kServerNameValue, QString());
        a.Port = RegFile.ReadInteger(QStringLiteral("POP3PORT"), 110);
        if (RegFile.ErrorCode() != 0)
            a.Port = 110;
        a.ServerRetries = RegFile.ReadInteger(QStringLiteral("POP3SERVERRETRIES"), 1);
        if (RegFile.ErrorCode() != 0)
            a.ServerRetries = 1;
        a.ServerRetries = std::clamp(a.ServerRetries, 1, 10);
        a.AccountName = RegFile.ReadString(kAccountNameValue, QString());
        a.Password = passwordFrom(RegFile, kPOP3PasswordValue, phrase, &a.PasswordInKeyring);
        a.UseAPOP = RegFile.ReadBool(QStringLiteral("POP3APop"), false);
        a.UseProviderSMTP = RegFile.ReadBool(QStringLiteral("UseProviderSMTP"), false);
        a.SMTPServer = RegFile.ReadString(QStringLiteral("SMTPServer"), QString());
        a.SMTPPort = RegFile.ReadInteger(QStringLiteral("SMTPPort"), 25);
        a.SMTPEMailAddress = RegFile.ReadString(QStringLiteral("SMTPEMailAddress"), QString());
        a.SMTPAuth = RegFile.ReadBool(QStringLiteral("SMTPAuth"), false);
        a.SMTPUsePOP3Data = RegFile.ReadBool(QStringLiteral("SMTPUsePOP3Data"), true);
        a.SMTPAccountName = RegFile.ReadString(QStringLiteral("SMTPKontoName"), QString());
        a.SMTPPassword = passwordFrom(RegFile, kSMTPPasswordValue, phrase, &a.SMTPPasswordInKeyring);
        a.SendSMS = RegFile.ReadBool(QStringLiteral("SendSMS"), false);
        a.SMSCellNum = RegFile.ReadString(QStringLiteral("SMSCellNum"), QString());
        a.POP3Security = securityFrom(RegFile, QStringLiteral("POP3Security"));
        a.SMTPSecurity = securityFrom(RegFile, QStringLiteral("SMTPSecurity"));
        a.POP3CertSHA256 = RegFile.ReadString(kPOP3CertValue, QString());
        a.SMTPCertSHA256 = RegFile.ReadString(kSMTPCertValue, QString());
        a.AccountType = choiceFrom(RegFile, QStringLiteral("AccountType"), atIMAP);
        a.IMAPFolder = RegFile.ReadString(QStringLiteral("IMAPFolder"), kDefaultIMAPFolder).trimmed();
        if (RegFile.ErrorCode() != 0 || a.IMAPFolder.isEmpty())
            a.IMAPFolder = kDefaultIMAPFolder;
        a.IMAPSpamAction = choiceFrom(RegFile, QStringLiteral("IMAPSpamAction"), isaDelete);
        a.AuthMethod = choiceFrom(RegFile, kAuthMethodValue, amOAuth2);
        a.OAuthProvider = RegFile.ReadString(kOAuthProviderValue, QString()).trimmed();
        if (RegFile.ErrorCode() != 0)
            a.OAuthProvider.clear();
        accounts.append(a);
    }
}

void TRegistrySettings::writePOP3Values(const TPOP3Check &check, const TPOP3Accounts &accounts)
{
    use(HKEY::CURRENT_USER, kPOP3Settings);
    RegFile.EraseSection(true);
    RegFile.WriteBool(QStringLiteral("AutoKillSPAM"), check.AutoKillSpam);
    RegFile.WriteBool(QStringLiteral("ShowUserInfoBeforeKillSPAM"), check.ShowUserInfoBeforeKillSpam);
    RegFile.WriteString(QStringLiteral("POP3EMAILCHECK"), BoolToYesNo(check.EMailCheck));
    RegFile.WriteInteger(QStringLiteral("POP3EMAILCHECKTIME"), check.EMailCheckTime);
    RegFile.WriteString(QStringLiteral("EMailClient"), check.EMailClient);
    RegFile.WriteString(QStringLiteral("EMailSoundFile"), check.EMailSoundFile);
    RegFile.WriteBool(QStringLiteral("NewMailMsg"), check.NewMailMsg);
    RegFile.WriteBool(QStringLiteral("ShowOnlyNewMsgs"), check.ShowOnlyNewMsgs);

    const QByteArray phrase = FixedPassPhrase();
    for (int i = 0; i < accounts.size(); ++i) {
        const TPOP3AccountSettings &a = accounts.at(i);
        use(HKEY::CURRENT_USER, kPOP3Settings + QLatin1Char('\\') + QString::number(i));
        RegFile.WriteBool(QStringLiteral("Active"), a.Active);
        RegFile.WriteString(kServerNameValue, a.ServerName);
        RegFile.WriteInteger(QStringLiteral("POP3PORT"), a.Port);
        RegFile.WriteInteger(QStringLiteral("POP3SERVERRETRIES"), a.ServerRetries);
        RegFile.WriteString(kAccountNameValue, a.AccountName);
        writePassword(RegFile, kPOP3PasswordValue, a.Password, a.PasswordInKeyring, phrase);
        RegFile.WriteBool(QStringLiteral("POP3APop"), a.UseAPOP);
        RegFile.WriteBool(QStringLiteral("UseProviderSMTP"), a.UseProviderSMTP);
        RegFile.WriteString(QStringLiteral("SMTPServer"), a.SMTPServer);
        RegFile.WriteInteger(QStringLiteral("SMTPPort"), a.SMTPPort);
        RegFile.WriteString(QStringLiteral("SMTPEMailAddress"), a.SMTPEMailAddress);
        RegFile.WriteBool(QStringLiteral("SMTPAuth"), a.SMTPAuth);
        RegFile.WriteBool(QStringLiteral("SMTPUsePOP3Data"), a.SMTPUsePOP3Data);
        RegFile.WriteString(QStringLiteral("SMTPKontoName"), a.SMTPAccountName);
        writePassword(RegFile, kSMTPPasswordValue, a.SMTPPassword, a.SMTPPasswordInKeyring, phrase);
        RegFile.WriteBool(QStringLiteral("SendSMS"), a.SendSMS);
        RegFile.WriteString(QStringLiteral("SMSCellNum"), a.SMSCellNum);
        // Written only when set: an account without encryption is stored exactly as it always was.
        if (a.POP3Security != csNone)
            RegFile.WriteInteger(QStringLiteral("POP3Security"), a.POP3Security);
        if (a.SMTPSecurity != csNone)
            RegFile.WriteInteger(QStringLiteral("SMTPSecurity"), a.SMTPSecurity);
        if (!a.POP3CertSHA256.isEmpty())
            RegFile.WriteString(kPOP3CertValue, a.POP3CertSHA256);
        if (!a.SMTPCertSHA256.isEmpty())
            RegFile.WriteString(kSMTPCertValue, a.SMTPCertSHA256);
        // Only an IMAP account has these: a POP3 account is stored exactly as it always was.
        if (a.AccountType == atIMAP) {
            RegFile.WriteInteger(QStringLiteral("AccountType"), a.AccountType);
            RegFile.WriteString(QStringLiteral("IMAPFolder"), a.IMAPFolder);
            RegFile.WriteInteger(QStringLiteral("IMAPSpamAction"), a.IMAPSpamAction);
        }
        // Only an account that signs in at its provider has these.
        if (a.AuthMethod == amOAuth2) {
            RegFile.WriteInteger(kAuthMethodValue, a.AuthMethod);
            RegFile.WriteString(kOAuthProviderValue, a.OAuthProvider);
        }
    }
}

QStringList TRegistrySettings::accountKeys()
{
    use(HKEY::CURRENT_USER, kPOP3Settings);
    QStringList subkeys;
    RegFile.ReadSubKeyNames(subkeys);
    // Numeric order, so that "10" follows "9".
    std::stable_sort(subkeys.begin(), subkeys.end(), [](const QString &a, const QString &b) {
        bool oka = false, okb = false;
        const qlonglong na = a.toLongLong(&oka), nb = b.toLongLong(&okb);
        if (oka != okb)
            return oka;
        return oka ? na < nb : a < b;
    });
    return subkeys;
}

bool TRegistrySettings::StoreTrustedCertificate(const QString &serverName, const QString &accountName,
                                                bool outgoing, const QString &fingerprint)
{
    TPOP3Check check;
    TPOP3Accounts accounts;
    LoadPOP3Settings(check, accounts);
    const QStringList keys = accountKeys();
    for (int i = 0; i < accounts.size() && i < keys.size(); ++i) {
        if (accounts.at(i).ServerName != serverName || accounts.at(i).AccountName != accountName)
            continue;
        // Only this one value: the rest of the account stays exactly as stored.
        use(HKEY::CURRENT_USER, kPOP3Settings + QLatin1Char('\\') + keys.at(i));
        RegFile.ResetWriteFailures();
        RegFile.WriteString(outgoing ? kSMTPCertValue : kPOP3CertValue, fingerprint);
        if (RegFile.WriteFailures() != 0)
            return false;
        LoadPOP3Settings(Settings.POP3Check, Settings.Accounts);
        return true;
    }
    return false;
}

bool TRegistrySettings::SavePOP3Settings(const TPOP3Check &check, const TPOP3Accounts &accounts,
                                         QStringList *unusedSecretKeys)
{
    // One transaction: a crash or a failed write halfway leaves the previous mailbox list whole.
    RegFile.RegKey = HKEY::CURRENT_USER;
    platform::RegTransaction tx(RegFile.Hive());
    // What is replaced is read in the same transaction, so no other save slips in between.
    QStringList unused;
    if (unusedSecretKeys) {
        TPOP3Check oldCheck;
        TPOP3Accounts old;
        LoadPOP3Settings(oldCheck, old);
        unused = UnusedSecretKeys(old, accounts);
    }
    RegFile.ResetWriteFailures();
    writePOP3Values(check, accounts);
    // Any failed write rolls the whole replacement back.
    if (RegFile.WriteFailures() != 0 || !tx.commit())
        return false;
    if (unusedSecretKeys)
        *unusedSecretKeys += unused;
    return true;
}

int TRegistrySettings::FindAccount(const QString &serverName, const QString &accountName) const
{
    for (int i = 0; i < Settings.Accounts.size(); ++i) {
        const auto &a = Settings.Accounts.at(i);
        if (a.ServerName == serverName && a.AccountName == accountName)
            return i;
    }
    return -1;
}

TPOP3AccountSettings TRegistrySettings::GetAccount(const QString &serverName, const QString &accountName) const
{
    const int i = FindAccount(serverName, accountName);
    if (i < 0) {
        TPOP3AccountSettings none;
        none.AccountName.clear();
        return none;
    }
    return Settings.Accounts.at(i);
}

QString TRegistrySettings::GetDataFolder()
{
    const QString dir = Settings.DataPath.isEmpty() ? ProgramFolder : platform::withTrailingSlash(Settings.DataPath);
    platform::makePrivateFolder(dir);
    return dir;
}
