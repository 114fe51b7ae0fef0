#include "ImportTestUtil.h"
#include "OEImportUnit.h"
#include "RegFileFormat.h"
#include "RegistryHive.h"
#include "TestProfile.h"

#include <QTemporaryDir>

#include <memory>

namespace {

const QString kBase = QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Account Manager\\Accounts\\");

// The keys of a Windows user with two Outlook Express identities and Outlook, as regedit exports them.
QString exportText()
{
    QString t = QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n"
                               "[HKEY_CURRENT_USER\\Identities]\r\n"
                               "\"Default User ID\"=\"{AAAA}\"\r\n\r\n"
                               "[HKEY_CURRENT_USER\\Identities\\{AAAA}]\r\n"
                               "\"User ID\"=\"{AAAA}\"\r\n"
                               "\"Username\"=\"Hauptidentität\"\r\n\r\n"
                               "[HKEY_CURRENT_USER\\Identities\\{BBBB}]\r\n"
                               "\"User ID\"=\"{BBBB}\"\r\n"
                               "\"Username\"=\"Zweite\"\r\n\r\n");
    const auto key = [&](const QString &path, const QString &values) { t += QLatin1Char('[') + path + QStringLiteral("]\r\n") + values + QStringLiteral("\r\n"); };
    key(kBase + QStringLiteral("00000001"),
        QStringLiteral("\"Account Name\"=\"Privat\"\r\n\"POP3 Server\"=\"pop.example.de\"\r\n\"POP3 User Name\"=\"anna\"\r\n"
                       "\"SMTP Server\"=\"smtp.example.de\"\r\n\"SMTP Email Address\"=\"anna@example.de\"\r\n"
                       "\"SMTP Use Sicily\"=dword:00000002\r\n\"SMTP Port\"=dword:0000024b\r\n"));
    key(kBase + QStringLiteral("00000002"), QStringLiteral("\"Account Name\"=\"News\"\r\n\"NNTP Server\"=\"news.example.de\"\r\n"));
    key(kBase + QStringLiteral("00000003"),
        QStringLiteral("\"Account Name\"=\"Ausgelassen\"\r\n\"POP3 Server\"=\"pop.skip.de\"\r\n\"POP3 Skip Account\"=dword:00000001\r\n"));
    key(kBase + QStringLiteral("00000004"), QStringLiteral("\"Account Name\"=\"IMAP\"\r\n\"IMAP Server\"=\"imap.example.de\"\r\n"));
    key(kBase + QStringLiteral("00000005"),
        QStringLiteral("\"Account Name\"=\"Sicher als Text\"\r\n\"POP3 Server\"=\"pop.text.de\"\r\n\"POP3 User Name\"=\"t\"\r\n"
                       "\"POP3 Secure Connection\"=\"1\"\r\n"));
    key(kBase + QStringLiteral("00000006"),
        QStringLiteral("\"Account Name\"=\"Sicher als Zahl\"\r\n\"POP3 Server\"=\"pop.dword.de\"\r\n\"POP3 User Name\"=\"d\"\r\n"
                       "\"POP3 Secure Connection\"=dword:00000001\r\n\"POP3 Port\"=dword:000003e3\r\n"
                       "\"SMTP Server\"=\"smtp.dword.de\"\r\n\"SMTP Secure Connection\"=dword:00000001\r\n\"SMTP Port\"=dword:000001d1\r\n"));
    key(kBase + QStringLiteral("00000007"),
        QStringLiteral("\"Account Name\"=\"Web\"\r\n\"POP3 Server\"=\"pop.http.de\"\r\n\"HTTPMail Server\"=\"http://mail.http.de\"\r\n"
                       "\"HTTPMail User Name\"=\"h\"\r\n"));
    // No account name; a local virus scanner between program and server.
    key(kBase + QStringLiteral("00000008"),
        QStringLiteral("\"POP3 Server\"=\"LocalHost\"\r\n\"POP3 User Name\"=\"bob@pop.proxy.de\"\r\n\"SMTP Use Sicily\"=dword:00000003\r\n"));
    key(kBase + QStringLiteral("00000009"),
        QStringLiteral("\"Account Name\"=\"Zwei At\"\r\n\"POP3 Server\"=\"localhost\"\r\n\"POP3 User Name\"=\"x@y@pop.zwei.de\"\r\n"
                       "\"SMTP Use Sicily\"=dword:00000001\r\n\"POP3 Secure Connection\"=\"0\"\r\n"));
    // The default identity keeps the same account once more, and one differing in case only.
    const QString identity = QStringLiteral("HKEY_CURRENT_USER\\Identities\\{AAAA}\\Software\\Microsoft\\Internet Account Manager\\Accounts\\");
    key(identity + QStringLiteral("00000001"),
        QStringLiteral("\"Account Name\"=\"Doppelt\"\r\n\"POP3 Server\"=\"pop.example.de\"\r\n\"POP3 User Name\"=\"anna\"\r\n"));
    key(identity + QStringLiteral("00000002"),
        QStringLiteral("\"Account Name\"=\"Gross\"\r\n\"POP3 Server\"=\"pop.example.de\"\r\n\"POP3 User Name\"=\"Anna\"\r\n"));
    const QString second = QStringLiteral("HKEY_CURRENT_USER\\Identities\\{BBBB}\\Software\\Microsoft\\Internet Account Manager\\Accounts\\");
    key(second + QStringLiteral("00000001"),
        QStringLiteral("\"Account Name\"=\"Zweites Konto\"\r\n\"POP3 Server\"=\"pop.example.de\"\r\n\"POP3 User Name\"=\"anna\"\r\n"));

    // Outlook's own list (its skip values are not consulted) and its messaging profiles.
    key(QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\Outlook\\OMI Account Manager\\Accounts\\00000001"),
        QStringLiteral("\"Account Name\"=\"Outlook alt\"\r\n\"POP3 Server\"=\"pop.omi.de\"\r\n\"POP3 User Name\"=\"o\"\r\n"
                       "\"POP3 Skip Account\"=dword:00000001\r\n"));
    const QString profile = QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging "
                                           "Subsystem\\Profiles\\Outlook\\9375CFF0413111d3B88A00104B2A6676\\");
    key(profile + QStringLiteral("00000002"),
        QStringLiteral("\"Account Name\"=%1\r\n\"POP3 Server\"=%2\r\n\"POP3 User\"=%3\r\n\"Email\"=%4\r\n\"SMTP Server\"=%5\r\n"
                       "\"SMTP Use Auth\"=dword:00000001\r\n\"SMTP Port\"=dword:0000024b\r\n\"SMTP Secure Connection\"=dword:00000002\r\n")
            .arg(regHexUtf16(QStringLiteral("Büro")), regHexUtf16(QStringLiteral("pop.buero.de")), regHexUtf16(QStringLiteral("chef")),
                 regHexUtf16(QStringLiteral("chef@buero.de")), regHexUtf16(QStringLiteral("smtp.buero.de"))));
    key(profile + QStringLiteral("00000003"),
        QStringLiteral("\"Account Name\"=%1\r\n\"IMAP Server\"=%2\r\n\"IMAP User\"=%3\r\n")
            .arg(regHexUtf16(QStringLiteral("IMAP")), regHexUtf16(QStringLiteral("imap.buero.de")), regHexUtf16(QStringLiteral("chef"))));
    key(QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\16.0\\Outlook\\Profiles\\Outlook\\"
                       "9375CFF0413111d3B88A00104B2A6676\\00000004"),
        QStringLiteral("\"Account Name\"=%1\r\n\"POP3 Server\"=%2\r\n\"POP3 User\"=%3\r\n\"POP3 Port\"=dword:000003e3\r\n"
                       "\"POP3 Secure Connection\"=dword:00000001\r\n")
            .arg(regHexUtf16(QStringLiteral("Neu")), regHexUtf16(QStringLiteral("pop.neu.de")), regHexUtf16(QStringLiteral("n"))));
    return t;
}

// The same keys reach the reader two ways: imported into the settings store, or read from the file.
enum class Source { Store, RegFile };
void PrintTo(Source s, std::ostream *os)
{
    *os << (s == Source::Store ? "Store" : "RegFile");
}

struct OEImport : ::testing::TestWithParam<Source> {
    TestProfile profile;
    RecordingMessageBox box;
    std::unique_ptr<TOutlookExpress> oe;

    void SetUp() override
    {
        const QByteArray file = utf16WithBom(exportText());
        if (GetParam() == Source::Store) {
            platform::RegistryHive user(platform::RegRoot::CurrentUser);
            platform::RegistryHive machine(platform::RegRoot::LocalMachine);
            QString why;
            ASSERT_TRUE(platform::importRegText(
                file, [&](platform::RegRoot r) -> platform::RegistryHive & { return r == platform::RegRoot::CurrentUser ? user : machine; },
                &why))
                << why.toStdString();
            oe = std::make_unique<TOutlookExpress>();
        } else {
            const QString path = profile.file(QStringLiteral("konten.reg"));
            writeFile(path, file);
            QString why;
            oe = TOutlookExpress::FromRegFile(path, &why);
            ASSERT_TRUE(oe) << why.toStdString();
        }
    }
    void TearDown() override { EXPECT_TRUE(box.shown.isEmpty()); }
};

} // namespace

TEST_P(OEImport, IdentitiesAreReadAtOnce)
{
    EXPECT_EQ(oe->DefaultUserID, QStringLiteral("{AAAA}"));
    ASSERT_EQ(oe->Identities.size(), 2);
    EXPECT_EQ(oe->Identities.at(0).KeyName, QStringLiteral("{AAAA}"));
    EXPECT_EQ(oe->Identities.at(0).Identity.UserName, QStringLiteral("Hauptidentität"));
    EXPECT_EQ(oe->Identities.at(1).Identity.UserID, QStringLiteral("{BBBB}"));
}

TEST_P(OEImport, DefaultIdentityReadsTheSharedListFirstAndDropsExactDuplicates)
{
    TOEAccountList list;
    list.append(TOEAccountItem{QStringLiteral("alt"), {}}); // the list is cleared first
    oe->GetOEAccounts(QStringLiteral("{AAAA}"), list);
    EXPECT_EQ(describe(list),
              (QStringList{
                  QStringLiteral("Privat: anna@pop.example.de:110 smtp=smtp.example.de:587 auth from=anna@example.de"),
                  // no account name: the key's position; the local proxy gives way to the real server
                  QStringLiteral("7: bob@pop.proxy.de:110 smtp=:25 auth from= name="),
                  QStringLiteral("Zwei At: x@y@pop.zwei.de:110 smtp=:25 from="),
                  QStringLiteral("Gross: Anna@pop.example.de:110 smtp=:25 from="),
              }));
}

TEST_P(OEImport, AnotherIdentityReadsItsOwnListFirst)
{
    TOEAccountList list;
    oe->GetOEAccounts(QStringLiteral("{BBBB}"), list);
    ASSERT_FALSE(list.isEmpty());
    EXPECT_EQ(list.first().Text, QStringLiteral("Zweites Konto"));
    // The shared list's copy of the same account is passed over.
    EXPECT_EQ(list.size(), 3);
}

TEST_P(OEImport, SecuredAccountsAreReturnedOnlyWhenTlsCanBeSetUp)
{
    oe->AcceptSecure = true;
    TOEAccountList list;
    oe->GetOEAccounts(QStringLiteral("{AAAA}"), list);
    const QStringList got = describe(list);
    // As text or as a 32-bit value the flag means the same; the port is the one stored, else 995.
    EXPECT_TRUE(got.contains(QStringLiteral("Sicher als Text: t@pop.text.de:995 ssl smtp=:25 from=")));
    EXPECT_TRUE(got.contains(QStringLiteral("Sicher als Zahl: d@pop.dword.de:995 ssl smtp=smtp.dword.de:465 ssl from=")));
    EXPECT_EQ(got.size(), 6);
}

TEST_P(OEImport, OutlookAccountsComeFromItsListAndEveryProfile)
{
    TOEAccountList list;
    oe->GetOutlookAccounts(list);
    EXPECT_EQ(describe(list), (QStringList{
                                  QStringLiteral("Outlook alt: o@pop.omi.de:110 smtp=:25 from="),
                                  QStringLiteral("Büro: chef@pop.buero.de:110 smtp=smtp.buero.de:587 auth starttls from=chef@buero.de"),
                              }));
    oe->AcceptSecure = true;
    oe->GetOutlookAccounts(list);
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(describe(list.last()), QStringLiteral("Neu: n@pop.neu.de:995 ssl smtp=:25 from="));
}

INSTANTIATE_TEST_SUITE_P(Sources, OEImport, ::testing::Values(Source::Store, Source::RegFile),
                         [](const auto &info) { return info.param == Source::Store ? "Store" : "RegFile"; });

TEST(OEImportFile, UnreadableFilesGiveAClearError)
{
    TestProfile profile;
    QTemporaryDir dir;
    struct Case {
        const char *name;
        QByteArray content; // empty: no file
        const char *errorPart;
    } cases[] = {
        {"fehlt.reg", QByteArray(), "kann nicht gelesen werden"},
        {"text.reg", "Hallo Welt\r\n", "keine lesbare Registrierungsdatei"},
        {"kaputt.reg", "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\Identities]\r\n\"x\"=hex:zz\r\n",
         "Zeile 3"},
    };
    for (const Case &c : cases) {
        const QString path = dir.filePath(QLatin1String(c.name));
        if (!c.content.isEmpty())
            writeFile(path, c.content);
        QString why;
        EXPECT_FALSE(TOutlookExpress::FromRegFile(path, &why)) << c.name;
        EXPECT_TRUE(why.contains(QLatin1String(c.errorPart))) << why.toStdString();
        EXPECT_TRUE(why.contains(path)) << why.toStdString();
    }
    QString why;
    EXPECT_FALSE(TOutlookExpress::FromRegFile(dir.path(), &why)); // a folder
}

// "Export all" in regedit writes every root, the roots themselves, and keys of other programs in forms
// this reader need not know: the mail keys in it are read, the rest is passed over unread.
TEST(OEImportFile, AWholeExportedRegistryGivesItsMailAccounts)
{
    TestProfile profile;
    RecordingMessageBox box;
    QString other = QStringLiteral("[HKEY_CLASSES_ROOT\\.eml]\r\n@=\"Outlook.File.eml\"\r\n\r\n"
                                   "[HKEY_CURRENT_USER]\r\n\r\n"
                                   "[HKEY_CURRENT_USER\\Software\\Anders]\r\n\"Neu\"=qword:0000000000000001\r\n"
                                   "\"Lang\"=hex:");
    for (int i = 0; i < 2000; ++i)
        other += QStringLiteral("00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,\\\r\n  ");
    other += QStringLiteral("ff\r\n\r\n[HKEY_LOCAL_MACHINE]\r\n\r\n[HKEY_USERS\\S-1-5-18\\Software]\r\n\"x\"=\"y\"\r\n\r\n"
                            "[HKEY_CURRENT_CONFIG\\System]\r\n\r\n");
    const QString text = exportText();
    const qsizetype firstKey = text.indexOf(QLatin1Char('['));
    const QString whole = text.left(firstKey) + other + text.mid(firstKey);
    const QString path = profile.file(QStringLiteral("alles.reg"));
    writeFile(path, utf16WithBom(whole));

    QString why;
    const std::unique_ptr<TOutlookExpress> oe = TOutlookExpress::FromRegFile(path, &why);
    ASSERT_TRUE(oe) << why.toStdString();
    EXPECT_EQ(oe->Identities.size(), 2);
    TOEAccountList list;
    oe->GetOEAccounts(QStringLiteral("{AAAA}"), list);
    EXPECT_EQ(list.size(), 4);
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST(OEImportFile, AnEmptyStoreHasNoIdentitiesAndNoAccounts)
{
    TestProfile profile;
    RecordingMessageBox box;
    TOutlookExpress oe;
    EXPECT_TRUE(oe.Identities.isEmpty());
    TOEAccountList list;
    oe.GetOEAccounts(QStringLiteral("{AAAA}"), list);
    oe.GetOutlookAccounts(list);
    EXPECT_TRUE(list.isEmpty());
    EXPECT_TRUE(box.shown.isEmpty());
    // Looking leaves the store as it was: no empty keys of another program appear in it.
    platform::RegistryHive user(platform::RegRoot::CurrentUser);
    EXPECT_FALSE(user.keyExists(QStringLiteral("Software\\Microsoft")));
}
