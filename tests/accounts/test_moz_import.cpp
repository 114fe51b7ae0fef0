#include "ImportTestUtil.h"
#include "MozImportUnit.h"

#include <QTemporaryDir>

TEST(PrefsJs, ReadsPreferencesByExactName)
{
    TPrefsJs prefs;
    prefs.Parse("// Mozilla User Preferences\n"
                "/* a comment\n   over lines */\n"
                "# and another\n"
                "user_pref(\"mail.a\", \"Text mit \\\"Anf\\u00fchrung\\\" und \\\\ Strich\");\n"
                "user_pref(\"mail.b\", 110);\n"
                "user_pref( \"mail.c\" ,  true ) ;\n"
                "pref('mail.d', 'einfach');\n"
                "user_pref(\"mail.e\", \"ohne Semikolon\")\n"
                "user_pref(\"mail.f\", \"kaputt);\n"                  // no closing quote: the line is lost
                "user_pref(\"mail.g\", \"danach\");\n"                // ... but not the next one
                "user_pref(\"mail.a\", \"zweites Mal\");\n"           // the first setting counts
                "user_pref(\"browser.x\", \"nicht gebraucht\");\n"
                "garbage user_pref(\"mail.h\", \"mitten in der Zeile\");\n"
                "sticky_pref(\"mail.i\", \"\\x41\\ud83d\\ude00\", locked);\n"
                "user_pref(\"mail.j\", \"Gr\xFC\xDF" "e\");\n"        // Windows-1252 bytes
                "user_pref(\"mail.k\", \"a, b)\");\n"
                "user_pref(\"mail.l\", -25);");                        // no end of line
    struct Case {
        const char *name;
        bool present;
        QString value;
    } cases[] = {
        {"mail.a", true, QStringLiteral("Text mit \"Anführung\" und \\ Strich")},
        {"mail.b", true, QStringLiteral("110")},
        {"mail.c", true, QStringLiteral("true")},
        {"mail.d", true, QStringLiteral("einfach")},
        {"mail.e", true, QStringLiteral("ohne Semikolon")},
        {"mail.f", false, {}},
        {"mail.g", true, QStringLiteral("danach")},
        {"browser.x", false, {}},
        {"mail.h", false, {}},
        {"mail.i", true, QStringLiteral("A") + QString::fromUcs4(U"\U0001F600")},
        {"mail.j", true, QStringLiteral("Grüße")},
        {"mail.k", true, QStringLiteral("a, b)")},
        {"mail.l", true, QStringLiteral("-25")},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(prefs.Has(QLatin1String(c.name)), c.present) << c.name;
        EXPECT_EQ(prefs.Value(QLatin1String(c.name)), c.value) << c.name;
    }
}

namespace {

// A Thunderbird profile: the local folders take server2 without an identity, so the second POP3
// account (server3) has identity id2.
const QByteArray kThunderbird =
    "user_pref(\"mail.accountmanager.accounts\", \"account1,account2,account3,account4\");\n"
    "user_pref(\"mail.account.account1.identities\", \"id1\");\n"
    "user_pref(\"mail.account.account1.server\", \"server1\");\n"
    "user_pref(\"mail.account.account2.server\", \"server2\");\n"
    "user_pref(\"mail.account.account3.identities\", \"id2,id3\");\n"
    "user_pref(\"mail.account.account3.server\", \"server3\");\n"
    "user_pref(\"mail.account.account4.identities\", \"id4\");\n"
    "user_pref(\"mail.account.account4.server\", \"server5\");\n"
    "user_pref(\"mail.identity.id1.smtpServer\", \"smtp1\");\n"
    "user_pref(\"mail.identity.id1.useremail\", \"anna@example.de\");\n"
    "user_pref(\"mail.identity.id2.useremail\", \"bernd@tls.de\");\n"
    "user_pref(\"mail.identity.id2.smtpServer\", \"smtp2\");\n"
    "user_pref(\"mail.identity.id4.useremail\", \"imap@x.de\");\n"
    "user_pref(\"mail.server.server1.hostname\", \"pop.example.de\");\n"
    "user_pref(\"mail.server.server1.name\", \"Privat\");\n"
    "user_pref(\"mail.server.server1.type\", \"pop3\");\n"
    "user_pref(\"mail.server.server1.userName\", \"anna\");\n"
    "user_pref(\"mail.server.server2.hostname\", \"Local Folders\");\n"
    "user_pref(\"mail.server.server2.name\", \"Lokale Ordner\");\n"
    "user_pref(\"mail.server.server2.type\", \"none\");\n"
    "user_pref(\"mail.server.server3.hostname\", \"pop.alt.de\");\n"
    "user_pref(\"mail.server.server3.realhostname\", \"pop.tls.de\");\n"
    "user_pref(\"mail.server.server3.name\", \"Bernd\");\n"
    "user_pref(\"mail.server.server3.port\", 1995);\n"
    "user_pref(\"mail.server.server3.socketType\", 3);\n"
    "user_pref(\"mail.server.server3.type\", \"pop3\");\n"
    "user_pref(\"mail.server.server3.userName\", \"bernd\");\n"
    "user_pref(\"mail.server.server4.hostname\", \"pop.geloescht.de\");\n" // left over from a deleted account
    "user_pref(\"mail.server.server4.type\", \"pop3\");\n"
    "user_pref(\"mail.server.server5.hostname\", \"imap.x.de\");\n"
    "user_pref(\"mail.server.server5.type\", \"imap\");\n"
    "user_pref(\"mail.smtp.defaultserver\", \"smtp1\");\n"
    "user_pref(\"mail.smtpserver.smtp1.hostname\", \"smtp.example.de\");\n"
    "user_pref(\"mail.smtpserver.smtp1.port\", 587);\n"
    "user_pref(\"mail.smtpserver.smtp1.try_ssl\", 2);\n"
    "user_pref(\"mail.smtpserver.smtp2.hostname\", \"smtp.tls.de\");\n"
    "user_pref(\"mail.smtpserver.smtp2.try_ssl\", 3);\n"
    "user_pref(\"mail.smtpserver.smtp2.authMethod\", 1);\n";

TOEAccountList accountsOf(const QByteArray &text)
{
    TPrefsJs prefs;
    prefs.Parse(text);
    return MozillaAccounts(prefs);
}

} // namespace

TEST(MozillaAccounts, AccountListTiesServersToTheirIdentities)
{
    EXPECT_EQ(describe(accountsOf(kThunderbird)),
              (QStringList{
                  QStringLiteral("Privat: anna@pop.example.de:110 smtp=smtp.example.de:587 auth starttls from=anna@example.de"),
                  QStringLiteral("Bernd: bernd@pop.tls.de:1995 ssl smtp=smtp.tls.de:465 ssl from=bernd@tls.de"),
                  QStringLiteral(": imap @imap.x.de:143 smtp=smtp.example.de:587 auth starttls from=imap@x.de"),
              }));
}

TEST(MozillaAccounts, WithoutAnAccountListServerAndIdentityNumbersPair)
{
    // Servers 1, 2 and 4 (3 was deleted): every one is read; the gap ends nothing.
    const QByteArray prefs =
        "user_pref(\"mail.server.server1.hostname\", \"pop.eins.de\");\n"
        "user_pref(\"mail.server.server1.type\", \"pop3\");\n"
        "user_pref(\"mail.server.server1.name\", \"Eins\");\n"
        "user_pref(\"mail.identity.id1.useremail\", \"eins@eins.de\");\n"
        "user_pref(\"mail.identity.id1.smtpServer\", \"smtp1\");\n"
        "user_pref(\"mail.smtpserver.smtp1.hostname\", \"smtp.eins.de\");\n"
        "user_pref(\"mail.smtpserver.smtp1.auth_method\", 1);\n"
        "user_pref(\"mail.server.server2.hostname\", \"LOCAL FOLDERS\");\n"
        "user_pref(\"mail.server.server2.type\", \"pop3\");\n"
        "user_pref(\"mail.server.server4.hostname\", \"pop.vier.de\");\n"
        "user_pref(\"mail.server.server4.type\", \"pop3\");\n"
        "user_pref(\"mail.server.server4.name\", \"Vier\");\n"
        "user_pref(\"mail.server.server4.port\", \"keine Zahl\");\n"
        "user_pref(\"mail.server.server4.socketType\", 2);\n"
        "user_pref(\"mail.server.server04.hostname\", \"pop.null.de\");\n"
        "user_pref(\"mail.server.server04.type\", \"pop3\");\n"
        "user_pref(\"mail.server.server6.hostname\", \"localhost\");\n"
        "user_pref(\"mail.server.server6.type\", \"pop3\");\n"
        "user_pref(\"mail.server.server7.hostname\", \"\");\n"
        "user_pref(\"mail.server.server7.type\", \"pop3\");\n";
    EXPECT_EQ(describe(accountsOf(prefs)),
              (QStringList{
                  QStringLiteral("Eins: @pop.eins.de:110 smtp=smtp.eins.de:25 auth from=eins@eins.de"),
                  QStringLiteral("Vier: @pop.vier.de:110 starttls smtp=:25 from="),
              }));
}

TEST(MozillaAccounts, OutgoingAuthenticationFollowsTheVersionOfThePreference)
{
    struct Case {
        const char *prefs; // lines about mail.smtpserver.s
        bool auth;
    } cases[] = {
        {"", true},                                                       // the default: a password
        {"user_pref(\"mail.smtpserver.s.authMethod\", 1);", false},       // none
        {"user_pref(\"mail.smtpserver.s.authMethod\", 3);", true},        // password
        {"user_pref(\"mail.smtpserver.s.authMethod\", 10);", true},       // OAuth2 still logs in
        {"user_pref(\"mail.smtpserver.s.auth_method\", 1);", true},       // the old suite: with a password
        {"user_pref(\"mail.smtpserver.s.auth_method\", 0);", false},
        {"user_pref(\"mail.smtpserver.s.auth_method\", 2);", false},
        // A migrated profile keeps both; the current one counts.
        {"user_pref(\"mail.smtpserver.s.auth_method\", 1);\nuser_pref(\"mail.smtpserver.s.authMethod\", 1);", false},
    };
    for (const Case &c : cases) {
        const QByteArray prefs = QByteArray("user_pref(\"mail.server.server1.hostname\", \"pop.x.de\");\n"
                                            "user_pref(\"mail.server.server1.type\", \"pop3\");\n"
                                            "user_pref(\"mail.identity.id1.smtpServer\", \"s\");\n"
                                            "user_pref(\"mail.smtpserver.s.hostname\", \"smtp.x.de\");\n")
                                 + c.prefs;
        const TOEAccountList list = accountsOf(prefs);
        ASSERT_EQ(list.size(), 1) << c.prefs;
        EXPECT_EQ(list.first().MailBox.SMTPAuth, c.auth) << c.prefs;
    }
}

// "STARTTLS if offered" must not end in plain text: whoever strips the offer would get the password.
TEST(MozillaAccounts, EverySocketTypeWithStartTlsBecomesStartTls)
{
    const struct {
        const char *value;
        const char *described; // security words of the incoming and outgoing server
    } cases[] = {
        {"0", "@pop.x.de:110 smtp=smtp.x.de:25 auth"},
        {"1", "@pop.x.de:110 starttls smtp=smtp.x.de:25 auth starttls"},
        {"2", "@pop.x.de:110 starttls smtp=smtp.x.de:25 auth starttls"},
        {"3", "@pop.x.de:995 ssl smtp=smtp.x.de:465 auth ssl"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        const QByteArray value(c.value);
        const QByteArray prefs = "user_pref(\"mail.server.server1.hostname\", \"pop.x.de\");\n"
                                 "user_pref(\"mail.server.server1.type\", \"pop3\");\n"
                                 "user_pref(\"mail.server.server1.socketType\", " + value + ");\n"
                                 "user_pref(\"mail.identity.id1.smtpServer\", \"s\");\n"
                                 "user_pref(\"mail.smtpserver.s.hostname\", \"smtp.x.de\");\n"
                                 "user_pref(\"mail.smtpserver.s.try_ssl\", " + value + ");\n";
        EXPECT_EQ(describe(accountsOf(prefs)), QStringList{QStringLiteral(": ") + QLatin1String(c.described)
                                                           + QStringLiteral(" from=")});
    }
}

TEST(MozillaAccounts, AnIdentityWithoutItsOwnServerUsesTheDefaultOne)
{
    const QByteArray base = "user_pref(\"mail.server.server1.hostname\", \"pop.x.de\");\n"
                            "user_pref(\"mail.server.server1.type\", \"pop3\");\n"
                            "user_pref(\"mail.identity.id1.useremail\", \"x@x.de\");\n"
                            "user_pref(\"mail.smtpserver.smtp9.hostname\", \"smtp.x.de\");\n";
    EXPECT_EQ(describe(accountsOf(base)), QStringList{QStringLiteral(": @pop.x.de:110 smtp=:25 from=x@x.de")});
    EXPECT_EQ(describe(accountsOf(base + "user_pref(\"mail.smtp.defaultserver\", \"smtp9\");\n")),
              QStringList{QStringLiteral(": @pop.x.de:110 smtp=smtp.x.de:25 auth from=x@x.de")});
}

namespace {

struct MozHome : ::testing::Test {
    QTemporaryDir home;
    QString path(const QString &rel) const { return home.filePath(rel); }
    void profile(const QString &folder, const QByteArray &prefs) { writeFile(folder + QStringLiteral("/prefs.js"), prefs); }
};

const QByteArray kOneAccount = "user_pref(\"mail.server.server1.hostname\", \"pop.x.de\");\n"
                               "user_pref(\"mail.server.server1.type\", \"pop3\");\n"
                               "user_pref(\"mail.server.server1.name\", \"X\");\n";

} // namespace

TEST_F(MozHome, FindsTheProfileFoldersOfLinuxMailPrograms)
{
    for (const char *rel : {".mozilla/seamonkey", "snap/thunderbird/common/.thunderbird", ".thunderbird",
                            ".var/app/org.mozilla.Thunderbird/.thunderbird"})
        writeFile(path(QLatin1String(rel)) + QStringLiteral("/profiles.ini"), "[General]\nStartWithLastProfile=1\n");
    QDir().mkpath(path(QStringLiteral(".icedove"))); // no profiles.ini: not an application folder
    TMozillaImport moz(home.path());
    moz.FindProfileFolders();
    EXPECT_EQ(moz.ProfileFolders,
              (QStringList{path(QStringLiteral(".thunderbird")), path(QStringLiteral(".var/app/org.mozilla.Thunderbird/.thunderbird")),
                           path(QStringLiteral("snap/thunderbird/common/.thunderbird")), path(QStringLiteral(".mozilla/seamonkey"))}));
    TMozillaImport nobody(path(QStringLiteral("leer")));
    nobody.FindProfileFolders();
    EXPECT_TRUE(nobody.ProfileFolders.isEmpty());
}

TEST_F(MozHome, ProfilesIniListsExistingProfilesOnly)
{
    const QString app = path(QStringLiteral(".thunderbird"));
    QTemporaryDir elsewhere; // a profile on another disk
    profile(app + QStringLiteral("/abcd.default"), kOneAccount);
    profile(app + QStringLiteral("/Profiles/win.default"), kOneAccount);
    profile(elsewhere.path(), kOneAccount);
    // A locked profile (the program runs): a dangling link and a lock file beside prefs.js.
    ASSERT_TRUE(QFile::link(QStringLiteral("127.0.1.1:+4242"), app + QStringLiteral("/abcd.default/lock")));
    writeFile(app + QStringLiteral("/abcd.default/.parentlock"), QByteArray());
    ASSERT_TRUE(QFile::link(app + QStringLiteral("/loop2"), app + QStringLiteral("/loop1")));
    ASSERT_TRUE(QFile::link(app + QStringLiteral("/loop1"), app + QStringLiteral("/loop2")));
    QDir().mkpath(path(QStringLiteral("geheim")));
    writeFile(app + QStringLiteral("/profiles.ini"),
              QStringLiteral("[General]\nStartWithLastProfile=1\n\n"
                             "[Profile0]\nName=default\nIsRelative=1\nPath=abcd.default\nDefault=1\n\n"
                             "[Profile1]\nName=Windows\nIsRelative=1\nPath=Profiles\\win.default\n\n"
                             "[Profile2]\nName=Anderswo\nIsRelative=0\nPath=%1\n\n"
                             "[Profile3]\nName=Fehlt\nIsRelative=1\nPath=gibtsnicht\n\n"
                             "[Profile4]\nName=Schleife\nIsRelative=1\nPath=loop1\n\n"
                             "[Profile5]\nName=Hinaus\nIsRelative=1\nPath=../geheim\n\n"
                             "[Profile6]\nName=Absolut trotz Flag\nIsRelative=1\nPath=%1\n\n"
                             "[Profile7]\nName=\nPath=abcd.default\n\n"
                             "[Profile8]\nName=Nach dem Ende\nIsRelative=1\nPath=abcd.default\n")
                  .arg(elsewhere.path())
                  .toUtf8());
    TMozillaImport moz(home.path());
    moz.ReadProfiles(app);
    QStringList names;
    for (const TMozProfile &p : moz.Profiles)
        names.append(p.Name + QLatin1Char('=') + p.Path);
    EXPECT_EQ(names, (QStringList{QStringLiteral("default=abcd.default"), QStringLiteral("Windows=Profiles/win.default"),
                                  QStringLiteral("Anderswo=") + elsewhere.path(), QStringLiteral("Absolut trotz Flag=") + elsewhere.path()}));

    for (const TMozProfile &p : moz.Profiles) {
        TOEAccountList list;
        moz.GetAccounts(moz.ProfileFolder(app, p), list);
        EXPECT_EQ(describe(list), QStringList{QStringLiteral("X: @pop.x.de:110 smtp=:25 from=")}) << p.Name.toStdString();
    }
    // The same folder again keeps the list; another folder reads anew.
    moz.Profiles.removeLast();
    moz.ReadProfiles(app + QLatin1Char('/'));
    EXPECT_EQ(moz.Profiles.size(), 3);
    moz.ReadProfiles(path(QStringLiteral("leer")));
    EXPECT_TRUE(moz.Profiles.isEmpty());
}

TEST_F(MozHome, AProfileWithoutReadablePrefsHasNoAccounts)
{
    TMozillaImport moz(home.path());
    TOEAccountList list{TOEAccountItem{QStringLiteral("alt"), {}}};
    moz.GetAccounts(path(QStringLiteral("nichts")), list);
    EXPECT_TRUE(list.isEmpty());
    QDir().mkpath(path(QStringLiteral("ordner/prefs.js"))); // a folder named prefs.js
    moz.GetAccounts(path(QStringLiteral("ordner")), list);
    EXPECT_TRUE(list.isEmpty());
}
