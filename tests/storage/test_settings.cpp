#include "BlowfishCryptUnit.h"
#include "RegistrySettingsUnit.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <csignal>

namespace {

const QString kSettings = kProgramKey + QStringLiteral("\\POP3\\Settings");

struct SettingsTest : ::testing::Test {
    TestProfile profile;
    QString progDir;
    void SetUp() override
    {
        progDir = profile.file(QStringLiteral("prog/"));
        QDir().mkpath(progDir);
    }
    void put(const QString &key, const QString &name, const QString &text)
    {
        platform::RegistryHive h(platform::RegRoot::CurrentUser);
        ASSERT_TRUE(h.createKey(key));
        ASSERT_TRUE(h.setValue(key, name, platform::RegSz, platform::regSzBytes(text)));
    }
};

TEST_F(SettingsTest, AnEmptyStoreLoadsTheDefaults)
{
    TRegistrySettings s(progDir);
    s.Load();
    const TProgramSettings &p = s.Settings;
    EXPECT_EQ(p.ConnectionType, 0);
    EXPECT_EQ(p.DataPath, platform::appDataFolder() + QStringLiteral("/Quarvel"));
    EXPECT_TRUE(p.ColWidths.isEmpty());
    EXPECT_EQ(p.SplitterPosition, 205);
    EXPECT_TRUE(p.FirstStart);
    EXPECT_TRUE(p.SMSGateway.EMail2SMSOnlySubject);
    EXPECT_FALSE(p.SMSGateway.HTTPS);
    EXPECT_TRUE(p.POP3Check.AutoKillSpam);
    EXPECT_TRUE(p.POP3Check.ShowUserInfoBeforeKillSpam);
    EXPECT_FALSE(p.POP3Check.EMailCheck);
    EXPECT_EQ(p.POP3Check.EMailCheckTime, 60);
    EXPECT_FALSE(p.POP3Check.NewMailMsg);
    EXPECT_TRUE(p.POP3Check.ShowOnlyNewMsgs);
    EXPECT_TRUE(p.Accounts.isEmpty());
    EXPECT_TRUE(p.KeepDeletedCopies);
    EXPECT_EQ(p.DeletedCopyLimitKB, 512);

    // The version and the install path are recorded; the program keys now exist.
    TTheRegIniFile reg;
    reg.Area = QStringLiteral("Software");
    reg.Section = QStringLiteral("Tessmar Software");
    EXPECT_EQ(reg.ReadString(QStringLiteral("Quarvel"), QString()), QStringLiteral("2.20"));
    reg.RegKey = HKEY::LOCAL_MACHINE;
    reg.Section = QStringLiteral("Quarvel");
    EXPECT_EQ(reg.ReadString(QStringLiteral("InstallPath"), QString()), progDir);
    platform::RegistryHive h(platform::RegRoot::CurrentUser);
    for (const char *k : {"Main", "ColWidths", "View", "ZirpelSettings", "POP3\\Settings"})
        EXPECT_TRUE(h.keyExists(kProgramKey + QLatin1Char('\\') + QLatin1String(k))) << k;
}

TEST_F(SettingsTest, StoredTextIsClampedOrDefaulted)
{
    struct Case {
        const char *value, *stored;
        int checkTime, retries, port;
        bool emailCheck, active;
    } cases[] = {
        {"POP3EMAILCHECKTIME", "30", 60, 1, 110, false, true},
        {"POP3EMAILCHECKTIME", "5000", 1800, 1, 110, false, true},
        {"POP3EMAILCHECKTIME", "zehn", 60, 1, 110, false, true},
        {"POP3EMAILCHECKTIME", "600", 600, 1, 110, false, true},
        {"POP3EMAILCHECK", "yes", 60, 1, 110, false, true},
        {"POP3EMAILCHECK", "YES", 60, 1, 110, true, true},
        {"POP3SERVERRETRIES", "0", 60, 1, 110, false, true},
        {"POP3SERVERRETRIES", "50", 60, 10, 110, false, true},
        {"POP3SERVERRETRIES", "x", 60, 1, 110, false, true},
        {"POP3PORT", "abc", 60, 1, 110, false, true},
        {"POP3PORT", "995", 60, 1, 995, false, true},
        {"Active", "2", 60, 1, 110, false, false},
        {"Active", "ja", 60, 1, 110, false, true},
        {"Active", "", 60, 1, 110, false, true},
    };
    for (const Case &c : cases) {
        platform::RegistryHive(platform::RegRoot::CurrentUser).deleteTree(kProgramKey);
        const bool perAccount = QByteArray(c.value).startsWith("POP3SERV") || QByteArray(c.value) == "POP3PORT"
                                || QByteArray(c.value) == "Active";
        put(kSettings + QStringLiteral("\\0"), QStringLiteral("POP3SERVERNAME"), QStringLiteral("pop.example"));
        put(perAccount ? kSettings + QStringLiteral("\\0") : kSettings, QString::fromLatin1(c.value), QString::fromLatin1(c.stored));
        TRegistrySettings s(progDir);
        s.Load();
        ASSERT_EQ(s.Settings.Accounts.size(), 1) << c.value << "=" << c.stored;
        EXPECT_EQ(s.Settings.POP3Check.EMailCheckTime, c.checkTime) << c.value << "=" << c.stored;
        EXPECT_EQ(s.Settings.POP3Check.EMailCheck, c.emailCheck) << c.value << "=" << c.stored;
        EXPECT_EQ(s.Settings.Accounts[0].ServerRetries, c.retries) << c.value << "=" << c.stored;
        EXPECT_EQ(s.Settings.Accounts[0].Port, c.port) << c.value << "=" << c.stored;
        EXPECT_EQ(s.Settings.Accounts[0].Active, c.active) << c.value << "=" << c.stored;
    }
}

TEST_F(SettingsTest, SaveAndLoadRoundTripWithTwelveAccountsInOrder)
{
    TRegistrySettings s(progDir);
    s.Load();
    s.Settings.ConnectionType = 2;
    s.Settings.SplitterPosition = 333;
    s.Settings.FirstStart = false;
    s.Settings.SMSGateway = TZirpelSettings{QStringLiteral("anna"), QStringLiteral("smspw"), true, true, false};
    s.Settings.POP3Check.EMailCheck = true;
    s.Settings.POP3Check.EMailCheckTime = 900;
    s.Settings.POP3Check.EMailClient = QStringLiteral("/usr/bin/mail client");
    s.Settings.KeepDeletedCopies = false;
    s.Settings.DeletedCopyLimitKB = 2048;
    for (int i = 0; i < 12; ++i) {
        TPOP3AccountSettings a;
        a.ServerName = QStringLiteral("pop%1.example").arg(i);
        a.AccountName = QStringLiteral("user%1").arg(i);
        a.Password = QStringLiteral("geheim%1ü").arg(i);
        a.SMTPPassword = i % 2 ? QString() : QStringLiteral("smtp");
        a.Port = 1100 + i;
        a.UseAPOP = i % 3 == 0;
        a.Active = i != 4;
        a.SMSCellNum = QStringLiteral("0170123456%1").arg(i);
        a.POP3Security = i % 3;
        a.SMTPSecurity = (i + 1) % 3;
        if (i % 4 == 1)
            a.POP3CertSHA256 = QStringLiteral("AB:%1").arg(i);
        if (i % 4 == 2)
            a.SMTPCertSHA256 = QStringLiteral("cd%1").arg(i);
        s.Settings.Accounts.append(a);
    }
    s.Save();
    TRegistrySettings t(progDir);
    t.Load();
    EXPECT_EQ(t.Settings.ConnectionType, 2);
    EXPECT_EQ(t.Settings.SplitterPosition, 333);
    EXPECT_FALSE(t.Settings.FirstStart);
    EXPECT_EQ(t.Settings.SMSGateway.Password, QStringLiteral("smspw"));
    EXPECT_TRUE(t.Settings.SMSGateway.HTTPS);
    EXPECT_FALSE(t.Settings.SMSGateway.EMail2SMSOnlySubject);
    EXPECT_TRUE(t.Settings.POP3Check.EMailCheck);
    EXPECT_EQ(t.Settings.POP3Check.EMailCheckTime, 900);
    EXPECT_EQ(t.Settings.POP3Check.EMailClient, QStringLiteral("/usr/bin/mail client"));
    EXPECT_FALSE(t.Settings.KeepDeletedCopies);
    EXPECT_EQ(t.Settings.DeletedCopyLimitKB, 2048);
    EXPECT_EQ(t.Settings.Accounts, s.Settings.Accounts); // subkey 10 and 11 after 9

    // Passwords are stored enciphered as binary values, never as text.
    TTheRegIniFile reg;
    reg.Area = kSettings;
    reg.Section = QStringLiteral("3");
    TMemoryStream stored;
    reg.ReadBinary(QStringLiteral("POP3PASSWORD"), stored);
    EXPECT_FALSE(stored.Data.contains("geheim"));
    EXPECT_EQ(stored.Data.size(), 32 + QStringLiteral("geheim3ü").toUtf8().size());
    reg.Section.clear();
    reg.Area = kSettings;
    reg.Section = QStringLiteral("POP3EMAILCHECK");
}

// Profiles from before encrypted connections, and accounts that use none, keep exactly their values.
TEST_F(SettingsTest, SecurityValuesAreWrittenOnlyWhenSetAndUnknownOnesAreKept)
{
    TRegistrySettings s(progDir);
    TPOP3AccountSettings plain;
    plain.ServerName = QStringLiteral("pop.example");
    TPOP3AccountSettings secure = plain;
    secure.POP3Security = csSSLTLS;
    secure.SMTPSecurity = csStartTLS;
    secure.POP3CertSHA256 = QStringLiteral("AB:CD");
    secure.SMTPCertSHA256 = QStringLiteral("ef01");
    ASSERT_TRUE(s.SavePOP3Settings(TPOP3Check{}, {plain, secure}));
    platform::RegistryHive h(platform::RegRoot::CurrentUser);
    const auto names = [&h](const QString &sub) {
        QStringList out;
        const auto values = h.values(kSettings + QLatin1Char('\\') + sub);
        for (const platform::RegValue &v : values.value())
            out << v.name;
        return out;
    };
    const QStringList original{"Active",          "POP3SERVERNAME",   "POP3PORT",         "POP3SERVERRETRIES",
                               "POP3KONTONAME",   "POP3PASSWORD",     "POP3APop",         "UseProviderSMTP",
                               "SMTPServer",      "SMTPPort",         "SMTPEMailAddress", "SMTPAuth",
                               "SMTPUsePOP3Data", "SMTPKontoName",    "SMTPPassword",     "SendSMS",
                               "SMSCellNum"};
    EXPECT_EQ(names(QStringLiteral("0")), original);
    const QStringList added{"POP3Security", "SMTPSecurity", "POP3CertSHA256", "SMTPCertSHA256"};
    EXPECT_EQ(names(QStringLiteral("1")), original + added);
    TTheRegIniFile reg;
    reg.Area = kSettings;
    reg.Section = QStringLiteral("1");
    EXPECT_EQ(reg.ReadString(QStringLiteral("POP3Security"), QString()), QStringLiteral("2"));

    // A value this version does not know must not turn into "Keine" (the password in clear): it is kept,
    // and written back as it was read.
    const struct {
        const char *stored;
        int32_t security;
        const char *writtenBack;
    } cases[] = {{"0", csNone, nullptr},        {"1", csStartTLS, "1"},  {"2", csSSLTLS, "2"}, {"3", 3, "3"},
                 {"-1", csUnknown, "-1"},       {"TLS", csUnknown, "-1"}, {"", csNone, nullptr}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.stored);
        put(kSettings + QStringLiteral("\\0"), QStringLiteral("POP3Security"), QString::fromLatin1(c.stored));
        put(kSettings + QStringLiteral("\\0"), QStringLiteral("SMTPSecurity"), QString::fromLatin1(c.stored));
        TPOP3Check check;
        TPOP3Accounts back;
        s.LoadPOP3Settings(check, back);
        ASSERT_EQ(back.size(), 2);
        EXPECT_EQ(back[0].POP3Security, c.security);
        EXPECT_EQ(back[0].SMTPSecurity, c.security);
        EXPECT_EQ(back[1], secure);

        ASSERT_TRUE(s.SavePOP3Settings(check, back));
        TTheRegIniFile first;
        first.Area = kSettings;
        first.Section = QStringLiteral("0");
        for (const char *name : {"POP3Security", "SMTPSecurity"})
            EXPECT_EQ(first.ReadString(QLatin1String(name), QStringLiteral("<none>")),
                      c.writtenBack ? QLatin1String(c.writtenBack) : QLatin1String("<none>"));
    }
}

// An account without "AccountType" is a POP3 account, and a POP3 account is stored without the IMAP values.
TEST_F(SettingsTest, ImapValuesAreStoredForImapAccountsOnlyAndUnknownOnesReadAsTheDefaults)
{
    TRegistrySettings s(progDir);
    TPOP3AccountSettings pop3;
    pop3.ServerName = QStringLiteral("pop.example");
    TPOP3AccountSettings imap = pop3;
    imap.ServerName = QStringLiteral("imap.example");
    imap.AccountType = atIMAP;
    imap.Port = 993;
    imap.POP3Security = csSSLTLS;
    imap.IMAPFolder = QStringLiteral("Eingang/Privat");
    imap.IMAPSpamAction = isaDelete;
    ASSERT_TRUE(s.SavePOP3Settings(TPOP3Check{}, {pop3, imap}));
    platform::RegistryHive h(platform::RegRoot::CurrentUser);
    const auto names = [&h](const QString &sub) {
        QStringList out;
        const auto values = h.values(kSettings + QLatin1Char('\\') + sub);
        for (const platform::RegValue &v : values.value())
            out << v.name;
        return out;
    };
    EXPECT_FALSE(names(QStringLiteral("0")).contains(QStringLiteral("AccountType")));
    EXPECT_FALSE(names(QStringLiteral("0")).contains(QStringLiteral("IMAPFolder")));
    EXPECT_TRUE(names(QStringLiteral("1")).endsWith(QStringLiteral("IMAPSpamAction")));
    TPOP3Check check;
    TPOP3Accounts back;
    s.LoadPOP3Settings(check, back);
    ASSERT_EQ(back.size(), 2);
    EXPECT_EQ(back[0], pop3);
    EXPECT_EQ(back[0].AccountType, atPOP3);
    EXPECT_EQ(back[0].IMAPFolder, QStringLiteral("INBOX"));
    EXPECT_EQ(back[1], imap);

    const struct {
        const char *type, *folder, *action;
        int32_t wantType;
        const char *wantFolder;
        int32_t wantAction;
    } cases[] = {{"1", "Posteingang", "1", atIMAP, "Posteingang", isaDelete},
                 {"2", "  ", "2", atPOP3, "INBOX", isaMoveToJunk},
                 {"-1", "", "-3", atPOP3, "INBOX", isaMoveToJunk},
                 {"IMAP", " Spam ", "x", atPOP3, "Spam", isaMoveToJunk}};
    for (const auto &c : cases) {
        const QString key = kSettings + QStringLiteral("\\0");
        put(key, QStringLiteral("AccountType"), QString::fromLatin1(c.type));
        put(key, QStringLiteral("IMAPFolder"), QString::fromLatin1(c.folder));
        put(key, QStringLiteral("IMAPSpamAction"), QString::fromLatin1(c.action));
        s.LoadPOP3Settings(check, back);
        ASSERT_EQ(back.size(), 2);
        EXPECT_EQ(back[0].AccountType, c.wantType) << c.type;
        EXPECT_EQ(back[0].IMAPFolder, QString::fromLatin1(c.wantFolder)) << c.folder;
        EXPECT_EQ(back[0].IMAPSpamAction, c.wantAction) << c.action;
    }
}

// The sign-in at the provider: its two values are stored for such an account only, its refresh token where
// the password is (enciphered like one), and a method the program does not know reads as the password.
TEST_F(SettingsTest, SignInValuesAreStoredForSuchAccountsOnlyAndTheTokenIsEnciphered)
{
    TRegistrySettings s(progDir);
    TPOP3AccountSettings password;
    password.ServerName = QStringLiteral("pop.example");
    password.AccountName = QStringLiteral("anna");
    password.Password = QStringLiteral("geheim");
    TPOP3AccountSettings oauth = password;
    oauth.ServerName = QStringLiteral("outlook.office365.com");
    oauth.AuthMethod = amOAuth2;
    oauth.OAuthProvider = QStringLiteral("Microsoft");
    oauth.Password = QStringLiteral("M.C5_BAY.refresh-token");
    ASSERT_TRUE(s.SavePOP3Settings(TPOP3Check{}, {password, oauth}));
    platform::RegistryHive h(platform::RegRoot::CurrentUser);
    const auto value = [&h](const QString &sub, const QString &name) {
        platform::RegValue v;
        return h.readValue(kSettings + QLatin1Char('\\') + sub, name, &v) ? v.data : QByteArray("<none>");
    };
    EXPECT_EQ(value(QStringLiteral("0"), QStringLiteral("AuthMethod")), QByteArray("<none>"));
    EXPECT_EQ(value(QStringLiteral("0"), QStringLiteral("OAuthProvider")), QByteArray("<none>"));
    EXPECT_NE(value(QStringLiteral("1"), QStringLiteral("AuthMethod")), QByteArray("<none>"));
    EXPECT_FALSE(value(QStringLiteral("1"), QStringLiteral("POP3PASSWORD")).contains("refresh-token"));
    TPOP3Check check;
    TPOP3Accounts back;
    s.LoadPOP3Settings(check, back);
    ASSERT_EQ(back.size(), 2);
    EXPECT_EQ(back[0], password);
    EXPECT_EQ(back[1], oauth);

    for (const char *stored : {"2", "-1", "OAuth2"}) {
        put(kSettings + QStringLiteral("\\1"), QStringLiteral("AuthMethod"), QString::fromLatin1(stored));
        s.LoadPOP3Settings(check, back);
        ASSERT_EQ(back.size(), 2);
        EXPECT_EQ(back[1].AuthMethod, amPassword) << stored;
    }
}

TEST_F(SettingsTest, TrustedCertificateIsStoredWithItsAccountAlone)
{
    TRegistrySettings s(progDir);
    TPOP3Accounts accounts;
    for (const char *user : {"anna", "xaver", "bert"}) {
        TPOP3AccountSettings a;
        a.ServerName = QStringLiteral("pop.example");
        a.AccountName = QString::fromLatin1(user);
        a.Password = QStringLiteral("pw");
        a.POP3Security = csSSLTLS;
        accounts << a;
    }
    ASSERT_TRUE(s.SavePOP3Settings(TPOP3Check{}, accounts));
    // A gap in the numbering, as an edited store may have: the account is found by its place in the list.
    platform::RegistryHive h(platform::RegRoot::CurrentUser);
    ASSERT_TRUE(h.deleteTree(kSettings + QStringLiteral("\\1")));
    accounts.removeAt(1);

    EXPECT_TRUE(s.StoreTrustedCertificate(QStringLiteral("pop.example"), QStringLiteral("bert"), false,
                                          QStringLiteral("AA:BB")));
    EXPECT_TRUE(s.StoreTrustedCertificate(QStringLiteral("pop.example"), QStringLiteral("bert"), true,
                                          QStringLiteral("CC:DD")));
    EXPECT_FALSE(s.StoreTrustedCertificate(QStringLiteral("pop.example"), QStringLiteral("Bert"), false,
                                           QStringLiteral("EE")))
        << "accounts are named case-sensitively";
    accounts[1].POP3CertSHA256 = QStringLiteral("AA:BB");
    accounts[1].SMTPCertSHA256 = QStringLiteral("CC:DD");
    EXPECT_EQ(s.Settings.Accounts, accounts) << "the program's copy is reloaded";
    TPOP3Check check;
    TPOP3Accounts back;
    s.LoadPOP3Settings(check, back);
    EXPECT_EQ(back, accounts);
    EXPECT_EQ(h.subKeyNames(kSettings).value(), (QStringList{QStringLiteral("0"), QStringLiteral("2")}))
        << "nothing else was rewritten";
}

TEST_F(SettingsTest, RemovingAnAccountLeavesExactlyTheRestRenumbered)
{
    TRegistrySettings s(progDir);
    TPOP3Accounts list;
    for (int i = 0; i < 3; ++i) {
        TPOP3AccountSettings a;
        a.ServerName = QStringLiteral("s%1").arg(i);
        list.append(a);
    }
    ASSERT_TRUE(s.SavePOP3Settings(TPOP3Check{}, list));
    list.removeAt(1);
    ASSERT_TRUE(s.SavePOP3Settings(TPOP3Check{}, list));
    platform::RegistryHive h(platform::RegRoot::CurrentUser);
    EXPECT_EQ(h.subKeyNames(kSettings).value(), (QStringList{QStringLiteral("0"), QStringLiteral("1")}));
    TPOP3Check c;
    TPOP3Accounts back;
    s.LoadPOP3Settings(c, back);
    ASSERT_EQ(back.size(), 2);
    EXPECT_EQ(back[1].ServerName, QStringLiteral("s2"));
}

TEST_F(SettingsTest, ChangingTheSmsUserNameInTheStoreLosesTheSmsPassword)
{
    TRegistrySettings s(progDir);
    s.Settings.SMSGateway.Username = QStringLiteral("anna");
    s.Settings.SMSGateway.Password = QStringLiteral("pw");
    s.Save();
    put(kProgramKey + QStringLiteral("\\ZirpelSettings"), QStringLiteral("Username"), QStringLiteral("bert"));
    TRegistrySettings t(progDir);
    t.Load();
    EXPECT_EQ(t.Settings.SMSGateway.Username, QStringLiteral("bert"));
    EXPECT_TRUE(t.Settings.SMSGateway.Password.isEmpty());
}

TEST_F(SettingsTest, DataFolderIsSeededWithTheInstalledFilterFileOnce)
{
    QFile installed(progDir + QStringLiteral("Filters.dat"));
    ASSERT_TRUE(installed.open(QIODevice::WriteOnly));
    installed.write("installed");
    installed.close();

    TRegistrySettings s(progDir);
    s.Load();
    const QString data = s.GetDataFolder();
    EXPECT_EQ(data, platform::appDataFolder() + QStringLiteral("/Quarvel/"));
    QFile copy(data + QStringLiteral("Filters.dat"));
    ASSERT_TRUE(copy.open(QIODevice::ReadWrite));
    EXPECT_EQ(copy.readAll(), QByteArray("installed"));
    copy.resize(0);
    copy.write("user's own rules");
    copy.close();

    TRegistrySettings again(progDir);
    again.Load();
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), QByteArray("user's own rules"));
}

TEST_F(SettingsTest, EmptyStoredDataPathMeansTheProgramFolderAndNoCopy)
{
    put(kProgramKey + QStringLiteral("\\Main"), QStringLiteral("DataPath"), QString());
    QFile installed(progDir + QStringLiteral("Filters.dat"));
    ASSERT_TRUE(installed.open(QIODevice::WriteOnly));
    installed.close();
    TRegistrySettings s(progDir);
    s.Load();
    EXPECT_EQ(s.GetDataFolder(), progDir);
    EXPECT_FALSE(QFile::exists(platform::appDataFolder() + QStringLiteral("/Quarvel/Filters.dat")));

    s.Settings.DataPath = profile.file(QStringLiteral("new/deep/folder"));
    EXPECT_EQ(s.GetDataFolder(), profile.file(QStringLiteral("new/deep/folder/")));
    EXPECT_TRUE(QDir(profile.file(QStringLiteral("new/deep/folder"))).exists());
}

// The data folder holds mail data (headers of known messages, rescue copies): one the program creates is
// its owner's alone. One that exists (the user may have chosen a shared one) keeps its mode.
TEST_F(SettingsTest, ADataFolderThatIsCreatedIsTheOwnersAlone)
{
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser
                                         | QFile::WriteUser | QFile::ExeUser;
    TRegistrySettings s(progDir);
    s.Load();
    const QString byLoad = s.GetDataFolder();
    EXPECT_EQ(QFileInfo(byLoad).permissions(), ownerOnly) << byLoad.toStdString();

    s.Settings.DataPath = profile.file(QStringLiteral("neu/tief/daten"));
    EXPECT_EQ(QFileInfo(s.GetDataFolder()).permissions(), ownerOnly);

    const QString shared = profile.file(QStringLiteral("geteilt"));
    ASSERT_TRUE(QDir().mkpath(shared));
    const QFile::Permissions open = ownerOnly | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(shared, open));
    s.Settings.DataPath = shared;
    EXPECT_EQ(s.GetDataFolder(), shared + QLatin1Char('/'));
    EXPECT_EQ(QFileInfo(shared).permissions(), open);
}

TEST_F(SettingsTest, ColumnWidthsAreRewrittenInColumnOrder)
{
    TRegistrySettings s(progDir);
    s.Settings.ColWidths = {10, 200, 30, 40, 50, 60, 70, 80, 90, 100, 110};
    s.SaveColWidths();
    s.Settings.ColWidths = {5, 6, 7};
    s.SaveColWidths();
    put(kProgramKey + QStringLiteral("\\ColWidths"), QStringLiteral("3"), QStringLiteral("breit"));
    TRegistrySettings t(progDir);
    t.Load();
    EXPECT_EQ(t.Settings.ColWidths, (TIntegerArray{5, 6, 7, 64}));
}

TEST_F(SettingsTest, LookupOfAccountsIsExactAndCaseSensitive)
{
    TRegistrySettings s(progDir);
    TPOP3AccountSettings a;
    a.ServerName = QStringLiteral("pop.example");
    a.AccountName = QStringLiteral("Anna");
    s.Settings.Accounts = {a, a};
    s.Settings.Accounts[1].AccountName = QStringLiteral("anna");
    EXPECT_EQ(s.FindAccount(QStringLiteral("pop.example"), QStringLiteral("anna")), 1);
    EXPECT_EQ(s.FindAccount(QStringLiteral("POP.example"), QStringLiteral("Anna")), -1);
    EXPECT_EQ(s.GetAccount(QStringLiteral("pop.example"), QStringLiteral("Anna")).AccountName, QStringLiteral("Anna"));
    EXPECT_TRUE(s.GetAccount(QStringLiteral("x"), QStringLiteral("y")).AccountName.isEmpty());
}

// A process killed in the middle of saving the mailbox list never leaves a partial list behind.
TEST_F(SettingsTest, KilledDuringSaveLeavesOneWholeList)
{
    for (int round = 0; round < 8; ++round) {
        QProcess child;
        child.start(QStringLiteral(SAVE_CHILD), {});
        ASSERT_TRUE(child.waitForStarted(10000));
        ASSERT_TRUE(child.waitForReadyRead(30000));
        // Let it run a varying while so the kill lands at different points of a save.
        QThread::msleep(20 + 37 * round);
        ::kill(pid_t(child.processId()), SIGKILL);
        child.waitForFinished(10000);

        TRegistrySettings s(progDir);
        TPOP3Check c;
        TPOP3Accounts list;
        s.LoadPOP3Settings(c, list);
        ASSERT_TRUE(list.size() == 12 || list.size() == 5) << "round " << round << ": " << list.size() << " accounts";
        const QString tag = list.size() == 12 ? QStringLiteral("a") : QStringLiteral("b");
        for (int i = 0; i < list.size(); ++i) {
            EXPECT_EQ(list[i].AccountName, tag);
            EXPECT_EQ(list[i].ServerName, QStringLiteral("pop%1.%2.example").arg(i).arg(tag));
            EXPECT_EQ(list[i].Password, QStringLiteral("pw-") + tag);
        }
    }
}

} // namespace

namespace {

// A profile set up from the command line, as scripts and the demo do it, loads like one the program saved.
TEST_F(SettingsTest, RegistryToolWritesAMailboxTheStoreReads)
{
    const QString key = QStringLiteral("HKCU\\") + kSettings + QStringLiteral("\\0");
    const QList<QStringList> calls = {
        {QStringLiteral("add"), key, QStringLiteral("/v"), QStringLiteral("POP3SERVERNAME"), QStringLiteral("/d"), QStringLiteral("127.0.0.1"), QStringLiteral("/f")},
        {QStringLiteral("add"), key, QStringLiteral("/v"), QStringLiteral("POP3PORT"), QStringLiteral("/d"), QStringLiteral("11110"), QStringLiteral("/f")},
        {QStringLiteral("add"), key, QStringLiteral("/v"), QStringLiteral("POP3PASSWORD"), QStringLiteral("/password"), QStringLiteral("/d"), QStringLiteral("Geheim ü"), QStringLiteral("/f")},
        {QStringLiteral("add"), QStringLiteral("HKCU\\") + kProgramKey + QStringLiteral("\\ZirpelSettings"), QStringLiteral("/v"), QStringLiteral("Username"), QStringLiteral("/d"), QStringLiteral("anna"), QStringLiteral("/f")},
        {QStringLiteral("add"), QStringLiteral("HKCU\\") + kProgramKey + QStringLiteral("\\ZirpelSettings"), QStringLiteral("/v"), QStringLiteral("Password"), QStringLiteral("/password"), QStringLiteral("/smsuser"), QStringLiteral("anna"), QStringLiteral("/d"), QStringLiteral("sms"), QStringLiteral("/f")},
    };
    for (const QStringList &args : calls) {
        QByteArray err;
        ASSERT_EQ(runProcess(toolPath(QStringLiteral("quarvel-reg")), args, nullptr, &err), 0) << err.constData();
    }
    TRegistrySettings s(progDir);
    s.Load();
    ASSERT_EQ(s.Settings.Accounts.size(), 1);
    EXPECT_EQ(s.Settings.Accounts[0].ServerName, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(s.Settings.Accounts[0].Port, 11110);
    EXPECT_EQ(s.Settings.Accounts[0].Password, QStringLiteral("Geheim ü"));
    EXPECT_EQ(s.Settings.SMSGateway.Password, QStringLiteral("sms"));

    // Wrong use is told apart from a failure.
    EXPECT_EQ(runProcess(toolPath(QStringLiteral("quarvel-reg")), {QStringLiteral("frobnicate")}), 2);
    EXPECT_EQ(runProcess(toolPath(QStringLiteral("quarvel-reg")), {QStringLiteral("query"), QStringLiteral("HKCU\\No\\Such")}), 1);
}

// Without /d a password need not stand on the command line, where every user of the machine can read
// it: the tool takes one line of standard input (at a terminal, typed without echo).
TEST_F(SettingsTest, RegistryToolTakesAPasswordFromStandardInput)
{
    const QString key = QStringLiteral("HKCU\\") + kSettings + QStringLiteral("\\0");
    const QString sms = QStringLiteral("HKCU\\") + kProgramKey + QStringLiteral("\\ZirpelSettings");
    const auto reg = [](const QStringList &args, const QByteArray &input, QByteArray *err) {
        QProcess p;
        p.start(toolPath(QStringLiteral("quarvel-reg")), args);
        if (!p.waitForStarted(10000))
            return -1;
        p.write(input);
        p.closeWriteChannel();
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished(5000);
            return -1;
        }
        *err = p.readAllStandardError();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    };
    QByteArray err;
    ASSERT_EQ(reg({QStringLiteral("add"), key, QStringLiteral("/v"), QStringLiteral("POP3SERVERNAME"),
                   QStringLiteral("/d"), QStringLiteral("pop.example"), QStringLiteral("/f")},
                  {}, &err),
              0)
        << err.constData();
    const struct {
        const char *name;
        QStringList args;
        QByteArray input;
    } calls[] = {
        {"a line ended by LF",
         {QStringLiteral("add"), key, QStringLiteral("/v"), QStringLiteral("POP3PASSWORD"), QStringLiteral("/password"),
          QStringLiteral("/f")},
         "Geheim \xC3\xBC mit Blank\nnicht mehr\n"},
        {"a line ended by CR LF, for the SMS user",
         {QStringLiteral("add"), sms, QStringLiteral("/v"), QStringLiteral("Password"), QStringLiteral("/password"),
          QStringLiteral("/smsuser"), QStringLiteral("anna"), QStringLiteral("/f")},
         "sms-pw\r\n"},
        {"the last line without its end",
         {QStringLiteral("add"), key, QStringLiteral("/v"), QStringLiteral("SMTPPassword"), QStringLiteral("/password"),
          QStringLiteral("/f")},
         "smtp-pw"},
    };
    for (const auto &c : calls) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(reg(c.args, c.input, &err), 0) << err.constData();
    }
    ASSERT_EQ(reg({QStringLiteral("add"), sms, QStringLiteral("/v"), QStringLiteral("Username"), QStringLiteral("/d"),
                   QStringLiteral("anna"), QStringLiteral("/f")},
                  {}, &err),
              0);
    TRegistrySettings s(progDir);
    s.Load();
    ASSERT_EQ(s.Settings.Accounts.size(), 1);
    EXPECT_EQ(s.Settings.Accounts[0].Password, QStringLiteral("Geheim ü mit Blank"));
    EXPECT_EQ(s.Settings.Accounts[0].SMTPPassword, QStringLiteral("smtp-pw"));
    EXPECT_EQ(s.Settings.SMSGateway.Password, QStringLiteral("sms-pw"));

    // Nothing at all to read: nothing is written.
    EXPECT_EQ(reg({QStringLiteral("add"), key, QStringLiteral("/v"), QStringLiteral("POP3PASSWORD"),
                   QStringLiteral("/password"), QStringLiteral("/f")},
                  {}, &err),
              1);
    EXPECT_TRUE(err.contains("Kein Kennwort")) << err.constData();
    s.Load();
    EXPECT_EQ(s.Settings.Accounts[0].Password, QStringLiteral("Geheim ü mit Blank"));
}

} // namespace

namespace {

TEST_F(SettingsTest, ADamagedStoreStartsWithDefaultsAndIsKeptBeside)
{
    const QString file = platform::registryFile(platform::RegRoot::CurrentUser);
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile junk(file);
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(3000, 'x'));
    junk.close();

    TRegistrySettings s(progDir);
    s.Load();
    EXPECT_EQ(s.Settings.SplitterPosition, 205);
    EXPECT_TRUE(s.Settings.Accounts.isEmpty());
    s.Settings.SplitterPosition = 300;
    s.Save();
    TRegistrySettings t(progDir);
    t.Load();
    EXPECT_EQ(t.Settings.SplitterPosition, 300);

    const QStringList kept = QDir(QFileInfo(file).absolutePath()).entryList({QStringLiteral("user.db.beschaedigt-*")});
    ASSERT_EQ(kept.size(), 1);
    QFile old(QFileInfo(file).absolutePath() + QLatin1Char('/') + kept.first());
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray(3000, 'x'));
}

} // namespace
