// IMAP accounts as the Linux mail programs keep them, one table for the three readers: each case writes
// the program's files into a fresh home folder and reads them back.
#include "ImportTestUtil.h"
#include "LinuxImportUnit.h"
#include "MozImportUnit.h"

#include <QTemporaryDir>

#include <utility>

namespace {

enum class Program { Thunderbird, Evolution, KMail };

TOEAccountList readAccounts(Program program, const QString &home)
{
    TOEAccountList list;
    switch (program) {
    case Program::Thunderbird:
        TMozillaImport(home).GetAccounts(home + QStringLiteral("/.thunderbird/p.default"), list);
        break;
    case Program::Evolution:
        TEvolutionImport(home).GetAccounts(list);
        break;
    case Program::KMail:
        TKMailImport(home).GetAccounts(list);
        break;
    }
    return list;
}

const char *const kPrefs = ".thunderbird/p.default/prefs.js";
const char *const kEvolution = ".config/evolution/sources/";
const char *const kKMail = ".config/";

} // namespace

TEST(ImapImport, EachProgramsImapAccountsComeOverWithTheirPortAndSecurity)
{
    const struct Case {
        const char *name;
        Program program;
        QList<std::pair<const char *, QByteArray>> files; // below the home folder
        QStringList want;
    } cases[] = {
        {"Thunderbird: TLS without a port, with its identity's outgoing server",
         Program::Thunderbird,
         {{kPrefs, "user_pref(\"mail.server.server1.hostname\", \"imap.x.de\");\n"
                   "user_pref(\"mail.server.server1.type\", \"imap\");\n"
                   "user_pref(\"mail.server.server1.name\", \"Arbeit\");\n"
                   "user_pref(\"mail.server.server1.userName\", \"anna\");\n"
                   "user_pref(\"mail.server.server1.socketType\", 3);\n"
                   "user_pref(\"mail.identity.id1.useremail\", \"anna@x.de\");\n"
                   "user_pref(\"mail.identity.id1.smtpServer\", \"smtp1\");\n"
                   "user_pref(\"mail.smtpserver.smtp1.hostname\", \"smtp.x.de\");\n"
                   "user_pref(\"mail.smtpserver.smtp1.port\", 465);\n"
                   "user_pref(\"mail.smtpserver.smtp1.try_ssl\", 3);\n"}},
         {QStringLiteral("Arbeit: imap anna@imap.x.de:993 ssl smtp=smtp.x.de:465 auth ssl from=anna@x.de")}},
        {"Thunderbird: STARTTLS, the changed host and login, beside a POP3 account in server order",
         Program::Thunderbird,
         {{kPrefs, "user_pref(\"mail.server.server2.hostname\", \"imap.alt.de\");\n"
                   "user_pref(\"mail.server.server2.realhostname\", \"imap.neu.de\");\n"
                   "user_pref(\"mail.server.server2.userName\", \"alt\");\n"
                   "user_pref(\"mail.server.server2.realuserName\", \"neu\");\n"
                   "user_pref(\"mail.server.server2.type\", \"imap\");\n"
                   "user_pref(\"mail.server.server2.socketType\", 2);\n"
                   "user_pref(\"mail.server.server2.name\", \"Neu\");\n"
                   "user_pref(\"mail.server.server1.hostname\", \"pop.x.de\");\n"
                   "user_pref(\"mail.server.server1.type\", \"pop3\");\n"
                   "user_pref(\"mail.server.server1.name\", \"Pop\");\n"
                   "user_pref(\"mail.server.server3.hostname\", \"imap.eigen.de\");\n"
                   "user_pref(\"mail.server.server3.type\", \"imap\");\n"
                   "user_pref(\"mail.server.server3.port\", 1143);\n"
                   "user_pref(\"mail.server.server3.name\", \"Eigen\");\n"
                   "user_pref(\"mail.server.server4.hostname\", \"news.x.de\");\n"
                   "user_pref(\"mail.server.server4.type\", \"nntp\");\n"}},
         {QStringLiteral("Pop: @pop.x.de:110 smtp=:25 from="), QStringLiteral("Neu: imap neu@imap.neu.de:143 starttls smtp=:25 from="),
          QStringLiteral("Eigen: imap @imap.eigen.de:1143 smtp=:25 from=")}},
        {"Evolution: the current IMAP with its identity and transport, the old one with STARTTLS",
         Program::Evolution,
         {{"a.source", "[Data Source]\nDisplayName=Firma\n[Mail Account]\nBackendName=imapx\nIdentityUid=b\n"
                       "[Authentication]\nHost=imap.firma.de\nUser=chef\n[Security]\nMethod=ssl-on-alternate-port\n"},
          {"b.source", "[Data Source]\nParent=a\n[Mail Identity]\nAddress=chef@firma.de\n[Mail Submission]\nTransportUid=c\n"},
          {"c.source", "[Data Source]\nParent=a\n[Mail Transport]\nBackendName=smtp\n"
                       "[Authentication]\nHost=smtp.firma.de\nPort=587\nUser=chef\nMethod=PLAIN\n"
                       "[Security]\nMethod=starttls-on-standard-port\n"},
          {"d.source", "[Data Source]\nDisplayName=Alt\n[Mail Account]\nBackendName=imap\n"
                       "[Authentication]\nHost=imap.alt.de\nUser=alt\nPort=143\n[Security]\nMethod=starttls-on-standard-port\n"},
          {"e.source", "[Data Source]\nDisplayName=Ohne\n[Mail Account]\nBackendName=imapx\n[Authentication]\nUser=x\n"},
          {"f.source", "[Data Source]\nDisplayName=Nachrichten\n[Mail Account]\nBackendName=nntp\n"
                       "[Authentication]\nHost=news.x.de\n"}},
         {QStringLiteral("Firma: imap chef@imap.firma.de:993 ssl smtp=smtp.firma.de:587 auth starttls from=chef@firma.de"),
          QStringLiteral("Alt: imap alt@imap.alt.de:143 starttls smtp=:25 from=")}},
        {"KMail: every Safety, a port after the server name, the resource's own name, POP3 first",
         Program::KMail,
         {{"akonadi_imap_resource_2rc", "[network]\nImapServer=imap.tls.de\nImapPort=993\nUserName=t\nSafety=SSL\n"},
          {"akonadi_imap_resource_10rc", "[network]\nImapServer=imap.upgrade.de\nUserName=u\nSafety=STARTTLS\n"},
          {"akonadi_imap_resource_11rc", "[network]\nImapServer=imap.plain.de:1143\nUserName=p\nSafety=NONE\n"},
          {"akonadi_imap_resource_12rc", "[network]\nImapServer=imap.vorgabe.de\nUserName=v\n"},
          {"akonadi_imap_resource_13rc", "[network]\nImapServer=imap.beides.de:1993\nImapPort=2993\nUserName=b\n"},
          {"akonadi_imap_resource_14rc", "[network]\nUserName=ohne Server\n"},
          {"akonadi/agent_config_akonadi_imap_resource_2", "[Agent]\nName=Mein\\sIMAP\n"},
          {"akonadi_pop3_resource_7rc", "[General]\nhost=pop.x.de\nlogin=p\n"}},
         {QStringLiteral("p@pop.x.de: p@pop.x.de:110 smtp=:25 from="),
          QStringLiteral("Mein IMAP: imap t@imap.tls.de:993 ssl smtp=:25 from="),
          QStringLiteral("u@imap.upgrade.de: imap u@imap.upgrade.de:143 starttls smtp=:25 from="),
          QStringLiteral("p@imap.plain.de: imap p@imap.plain.de:1143 smtp=:25 from="),
          QStringLiteral("v@imap.vorgabe.de: imap v@imap.vorgabe.de:993 ssl smtp=:25 from="),
          QStringLiteral("b@imap.beides.de: imap b@imap.beides.de:2993 ssl smtp=:25 from=")}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir home;
        const char *folder = c.program == Program::Evolution ? kEvolution : c.program == Program::KMail ? kKMail : "";
        for (const auto &[path, content] : c.files)
            writeFile(home.filePath(QLatin1String(folder) + QLatin1String(path)), content);
        EXPECT_EQ(describe(readAccounts(c.program, home.path())), c.want);
    }
}

TEST(ImapImport, AnImportedImapAccountReadsTheInboxAndMovesSpamToTheJunkFolder)
{
    TOEMailBox box;
    box.AccountKind = atIMAP;
    box.POP3Server = QStringLiteral("imap.x.de");
    box.POP3UserName = QStringLiteral("anna");
    box.POP3Port = 993;
    box.POP3Secure = true;
    const TPOP3AccountSettings a = AccountFromMailBox(box);
    EXPECT_EQ(a.AccountType, atIMAP);
    EXPECT_EQ(a.Port, 993);
    EXPECT_EQ(a.POP3Security, csSSLTLS);
    EXPECT_EQ(a.IMAPFolder, QStringLiteral("INBOX"));
    EXPECT_EQ(a.IMAPSpamAction, isaMoveToJunk);
    EXPECT_FALSE(a.UseAPOP);
    // A kind the program does not know becomes POP3, as a stored one does.
    box.AccountKind = 7;
    EXPECT_EQ(AccountFromMailBox(box).AccountType, atPOP3);
}
