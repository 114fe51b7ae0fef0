#include "ImportTestUtil.h"
#include "LinuxImportUnit.h"

#include <QTemporaryDir>

namespace {

struct LinuxHome : ::testing::Test {
    QTemporaryDir home;
    QString path(const QString &rel) const { return home.filePath(rel); }
    void source(const QString &folder, const char *uid, const QByteArray &text)
    {
        writeFile(path(folder) + QLatin1Char('/') + QLatin1String(uid) + QStringLiteral(".source"), text);
    }
};

const QString kSources = QStringLiteral(".config/evolution/sources");
const QString kFlatpakSources = QStringLiteral(".var/app/org.gnome.Evolution/config/evolution/sources");

} // namespace

TEST_F(LinuxHome, EvolutionAccountsWithTheirIdentityAndTransport)
{
    source(kSources, "1700000000.1234.1@host",
           "[Data Source]\nDisplayName=Privat\\sKonto\nEnabled=true\nParent=\n\n"
           "[Mail Account]\nBackendName=pop\nIdentityUid=1700000000.1234.2@host\n\n"
           "[Authentication]\nHost=pop.example.de\nMethod=\nPort=995\nUser=anna\n\n"
           "[Security]\nMethod=ssl-on-alternate-port\n");
    source(kSources, "1700000000.1234.2@host",
           "[Data Source]\nDisplayName=anna@example.de\nParent=1700000000.1234.1@host\n\n"
           "[Mail Identity]\nAddress=anna@example.de\nName=Anna\n\n"
           "[Mail Submission]\nTransportUid=1700000000.1234.3@host\n");
    source(kSources, "1700000000.1234.3@host",
           "[Data Source]\nDisplayName=anna@example.de\nParent=1700000000.1234.1@host\n\n"
           "[Mail Transport]\nBackendName=smtp\n\n"
           "[Authentication]\nHost=smtp.example.de\nMethod=PLAIN\nPort=587\nUser=anna\n\n"
           "[Security]\nMethod=starttls-on-standard-port\n");
    // No port, no security, no identity; an IMAP account (it comes over too); the built-in local folders.
    source(kSources, "2-plain",
           "[Data Source]\nDisplayName=Alt\n[Mail Account]\nBackendName=pop\n[Authentication]\nHost=pop.alt.de\nUser=alt\n");
    source(kSources, "3-imap",
           "[Data Source]\nDisplayName=IMAP\n[Mail Account]\nBackendName=imapx\n[Authentication]\nHost=imap.x.de\nUser=x\n");
    source(kSources, "local", "[Data Source]\nDisplayName=Auf diesem Computer\n[Mail Account]\nBackendName=maildir\n");
    source(kSources, "4-nohost", "[Data Source]\nDisplayName=Leer\n[Mail Account]\nBackendName=pop\n");
    writeFile(path(kSources) + QStringLiteral("/notes.txt"), "[Mail Account]\nBackendName=pop\n");
    // The Flatpak copy repeats one account and adds one.
    source(kFlatpakSources, "a", "[Data Source]\nDisplayName=Alt\n[Mail Account]\nBackendName=pop\n[Authentication]\nHost=pop.alt.de\nUser=alt\n");
    source(kFlatpakSources, "b",
           "[Data Source]\nDisplayName=Flatpak\n[Mail Account]\nBackendName=pop\n[Authentication]\nHost=pop.fp.de\nUser=f\nPort=110\n"
           "[Security]\nMethod=starttls-on-standard-port\n");

    TEvolutionImport evo(home.path());
    EXPECT_EQ(evo.SourceFolders(), (QStringList{path(kSources), path(kFlatpakSources)}));
    TOEAccountList list;
    evo.GetAccounts(list);
    EXPECT_EQ(describe(list), (QStringList{
                                  QStringLiteral("Privat Konto: anna@pop.example.de:995 ssl smtp=smtp.example.de:587 auth starttls from=anna@example.de"),
                                  QStringLiteral("Alt: alt@pop.alt.de:110 smtp=:25 from="),
                                  QStringLiteral("IMAP: imap x@imap.x.de:143 smtp=:25 from="),
                                  QStringLiteral("Flatpak: f@pop.fp.de:110 starttls smtp=:25 from="),
                              }));

    TEvolutionImport nobody(path(QStringLiteral("leer")));
    EXPECT_TRUE(nobody.SourceFolders().isEmpty());
    nobody.GetAccounts(list);
    EXPECT_TRUE(list.isEmpty());
}

TEST_F(LinuxHome, KMailResourcesInTheOrderTheyWereMade)
{
    writeFile(path(QStringLiteral(".config/akonadi_pop3_resource_10rc")),
              "[General]\nhost=pop.zehn.de\nlogin=zehn\nport=995\nuseSSL=true\nauthenticationMethod=7\n");
    writeFile(path(QStringLiteral(".config/akonadi_pop3_resource_2rc")),
              "[General]\nhost=pop.zwei.de\nlogin=zwei@zwei.de\nuseTLS=true\n\n[LeaveOnServer]\nseenUidList=a,b\n");
    writeFile(path(QStringLiteral(".config/akonadi/agent_config_akonadi_pop3_resource_2")), "[Agent]\nName=Zweites\\sPostfach\n");
    writeFile(path(QStringLiteral(".config/akonadi_pop3_resource_3rc")), "[General]\nlogin=ohne Server\n");
    writeFile(path(QStringLiteral(".config/akonadi_imap_resource_0rc")), "[network]\nImapServer=imap.x.de\nUserName=x\n");
    writeFile(path(QStringLiteral(".var/app/org.kde.kmail2/config/akonadi_pop3_resource_0rc")),
              "[General]\nhost=pop.flat.de\nlogin=f\nport=0\nuseSSL=true\n");

    TKMailImport kmail(home.path());
    TOEAccountList list;
    kmail.GetAccounts(list);
    EXPECT_EQ(describe(list), (QStringList{
                                  QStringLiteral("Zweites Postfach: zwei@zwei.de@pop.zwei.de:110 starttls smtp=:25 from="),
                                  QStringLiteral("zehn@pop.zehn.de: zehn@pop.zehn.de:995 ssl smtp=:25 from="),
                                  // The IMAP resources follow the POP3 ones of their folder.
                                  QStringLiteral("x@imap.x.de: imap x@imap.x.de:993 ssl smtp=:25 from="),
                                  QStringLiteral("f@pop.flat.de: f@pop.flat.de:995 ssl smtp=:25 from="),
                              }));
}
