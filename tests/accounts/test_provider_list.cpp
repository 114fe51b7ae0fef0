#include "ImportTestUtil.h"
#include "ProviderListUnit.h"

#include <QMap>
#include <QSet>
#include <QTemporaryDir>

namespace {

QStringList names(const QList<TProvider> &list)
{
    QStringList out;
    for (const TProvider &p : list)
        out.append(p.Name);
    return out;
}

} // namespace

TEST(ProviderList, ReadsTheIndexedSectionsInIndexOrder)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("EProv.ini"));
    writeFile(file, "; Anbieter\r\n"
                    "[ProviderIndex]\r\n"
                    "b=zeta mail\r\n"
                    "a=Alpha\r\n"
                    "x=Fehlt\r\n"
                    "c=  Beta  \r\n"
                    "d=IMAP-Dienst\r\n"
                    "e=Sicher\r\n"
                    "f=Nur IMAP\r\n"
                    "g=IMAP sicher\r\n"
                    "h=Ohne IMAP-Server\r\n"
                    "\r\n"
                    "[Alpha]\r\n"
                    "AccountName= E-Mail-Adresse \r\n"
                    "AccountPasswort=Passwort\r\n"
                    "AccountType=0\r\n"
                    "POP3Server= pop.alpha.de \r\n"
                    "SMTPServer=smtp.alpha.de\r\n"
                    "SMTPAuth=1\r\n"
                    "InboxSSL=0\r\n"
                    "OutboxSSL=1\r\n"
                    "SMTPPort=587\r\n"
                    "[beta]\r\n"
                    "POP3Server=pop.beta.de\r\n"
                    "SMTPAuth=ja\r\n"
                    "POP3Port=70000\r\n"
                    "[Zeta Mail]\r\n"
                    "POP3Server=pop.zeta.de\r\n"
                    "[IMAP-Dienst]\r\n"
                    "AccountType=2\r\n"
                    "POP3Server=imap.x.de\r\n"
                    "[Sicher]\r\n"
                    "POP3Server=pop.sicher.de\r\n"
                    "InboxSSL=1\r\n"
                    "POP3Port=995\r\n"
                    "[Nur IMAP]\r\n"
                    "AccountType=3\r\n"
                    "IMAPServer= imap.nur.de \r\n"
                    "IMAPPort=70000\r\n"
                    "[IMAP sicher]\r\n"
                    "AccountType=3\r\n"
                    "POP3Server=pop.s.de\r\n"
                    "InboxSSL=0\r\n"
                    "IMAPServer=imap.s.de\r\n"
                    "IMAPSSL=1\r\n"
                    "IMAPPort=143\r\n"
                    "[Ohne IMAP-Server]\r\n"
                    "AccountType=3\r\n"
                    "POP3Server=imap.o.de\r\n");
    const QList<TProvider> all = ReadProviderFile(file);
    ASSERT_EQ(names(all), (QStringList{QStringLiteral("zeta mail"), QStringLiteral("Alpha"), QStringLiteral("Beta"),
                                       QStringLiteral("IMAP-Dienst"), QStringLiteral("Sicher"), QStringLiteral("Nur IMAP"),
                                       QStringLiteral("IMAP sicher"), QStringLiteral("Ohne IMAP-Server")}));
    TProviderEntry alpha;
    alpha.AccountNameLabel = QStringLiteral("E-Mail-Adresse");
    alpha.PasswordLabel = QStringLiteral("Passwort");
    alpha.POP3Server = QStringLiteral("pop.alpha.de");
    alpha.SMTPServer = QStringLiteral("smtp.alpha.de");
    alpha.SMTPAuth = true;
    alpha.OutboxSSL = true;
    alpha.SMTPPort = 587;
    EXPECT_EQ(all.at(1).Entry, alpha);
    // A word where a number belongs counts as 0; a port out of range as none.
    EXPECT_FALSE(all.at(2).Entry.SMTPAuth);
    EXPECT_EQ(all.at(2).Entry.POP3Port, 0);
    EXPECT_EQ(all.at(3).Entry.AccountType, 2);
    EXPECT_TRUE(all.at(4).Entry.InboxSSL);
    EXPECT_EQ(all.at(5).Entry.AccountType, pmkIMAP);
    EXPECT_EQ(all.at(5).Entry.IMAPServer, QStringLiteral("imap.nur.de"));
    EXPECT_EQ(all.at(5).Entry.IMAPPort, 0);
    EXPECT_FALSE(all.at(5).Entry.IMAPSSL);
    EXPECT_EQ(all.at(6).Entry.IMAPPort, 143);
    EXPECT_TRUE(all.at(6).Entry.IMAPSSL);
    EXPECT_EQ(ProviderIncoming(all.at(6).Entry, atIMAP).Server, QStringLiteral("imap.s.de"));
    EXPECT_EQ(ProviderIncoming(all.at(6).Entry, atPOP3).Server, QStringLiteral("pop.s.de"));

    // Offered: POP3 and IMAP servers, secured ones only once TLS can be set up; an IMAP entry without its
    // server and other mailbox kinds never; sorted without case.
    EXPECT_EQ(names(OfferedProviders(all)),
              (QStringList{QStringLiteral("Alpha"), QStringLiteral("Beta"), QStringLiteral("Nur IMAP"), QStringLiteral("zeta mail")}));
    EXPECT_EQ(names(OfferedProviders(all, true)),
              (QStringList{QStringLiteral("Alpha"), QStringLiteral("Beta"), QStringLiteral("IMAP sicher"), QStringLiteral("Nur IMAP"),
                           QStringLiteral("Sicher"), QStringLiteral("zeta mail")}));
}

TEST(ProviderList, MissingEmptyAndOddFilesGiveNoProviders)
{
    QTemporaryDir dir;
    EXPECT_TRUE(ReadProviderFile(dir.filePath(QStringLiteral("fehlt.ini"))).isEmpty());
    EXPECT_TRUE(ReadProviderFile(QString()).isEmpty());
    EXPECT_TRUE(ReadProviderFile(dir.path()).isEmpty()); // a folder
    for (const QByteArray &content : {QByteArray(), QByteArray("[ProviderIndex]\r\n"), QByteArray("[Alpha]\r\nPOP3Server=p\r\n"),
                                      QByteArray("\x00\x01\x02[[[", 6)}) {
        const QString file = dir.filePath(QStringLiteral("EProv.ini"));
        writeFile(file, content);
        EXPECT_TRUE(ReadProviderFile(file).isEmpty()) << content.toStdString();
    }
}

TEST(ProviderList, TheShippedFileOffersEveryProviderOnceTlsCanBeSetUp)
{
    const QString file = QStringLiteral(QUARVEL_TEST_SOURCE_DIR "/resources/EProv.ini");
    const QList<TProvider> all = ReadProviderFile(file);
    ASSERT_GE(all.size(), 10);
    QSet<QString> seen;
    for (const TProvider &p : all) {
        const TProviderEntry &e = p.Entry;
        EXPECT_FALSE(seen.contains(p.Name.toLower())) << p.Name.toStdString();
        seen.insert(p.Name.toLower());
        EXPECT_EQ(e.AccountType, 0) << p.Name.toStdString();
        EXPECT_FALSE(e.POP3Server.isEmpty()) << p.Name.toStdString();
        EXPECT_FALSE(e.SMTPServer.isEmpty()) << p.Name.toStdString();
        EXPECT_FALSE(e.AccountNameLabel.isEmpty()) << p.Name.toStdString();
        EXPECT_FALSE(e.PasswordLabel.isEmpty()) << p.Name.toStdString();
        EXPECT_TRUE(e.SMTPAuth) << p.Name.toStdString();
        // Every entry says how it is secured, and with which ports.
        EXPECT_TRUE(e.InboxSSL && e.OutboxSSL) << p.Name.toStdString();
        EXPECT_EQ(e.POP3Port, 995) << p.Name.toStdString();
        EXPECT_TRUE(e.SMTPPort == 465 || e.SMTPPort == 587) << p.Name.toStdString();
        // ... and names its IMAP server, over TLS.
        EXPECT_FALSE(e.IMAPServer.isEmpty()) << p.Name.toStdString();
        EXPECT_TRUE(e.IMAPSSL) << p.Name.toStdString();
        EXPECT_EQ(e.IMAPPort, 993) << p.Name.toStdString();
    }
    // The free-mail services, the telecom providers, the privacy-minded and the international ones.
    for (const char *name : {"GMX", "WEB.DE", "Telekom (T-Online)", "Vodafone (Arcor, Kabel)", "Posteo", "mailbox.org", "Gmail (Google)"})
        EXPECT_TRUE(seen.contains(QString::fromUtf8(name).toLower())) << name;
    EXPECT_EQ(OfferedProviders(all, true).size(), all.size());
}

TEST(ProviderList, TheAssistantsAccountKeepsTheProvidersSecurityWhateverServerNameIsTyped)
{
    TAssistantEntries typed;
    typed.EMailAddress = QStringLiteral(" anna@alpha.de ");
    typed.POP3Server = QStringLiteral("pop.alpha.de ");
    typed.SMTPServer = QStringLiteral("smtp.alpha.de");
    typed.AccountName = QStringLiteral("anna");
    typed.Password = QStringLiteral(" geheim ");
    typed.SMTPAuth = true;

    // Without a provider: the plain account every entry of the assistant makes.
    TPOP3AccountSettings plain;
    plain.Active = true;
    plain.ServerName = QStringLiteral("pop.alpha.de");
    plain.Port = 110;
    plain.ServerRetries = 1;
    plain.AccountName = QStringLiteral("anna");
    plain.Password = QStringLiteral(" geheim "); // a password is taken as typed
    plain.UseAPOP = false;
    plain.UseProviderSMTP = true;
    plain.SMTPServer = QStringLiteral("smtp.alpha.de");
    plain.SMTPPort = 25;
    plain.SMTPEMailAddress = QStringLiteral("anna@alpha.de");
    plain.SMTPAuth = true;
    plain.SMTPUsePOP3Data = true;
    plain.SMTPAccountName = QStringLiteral("anna");
    plain.SMTPPassword = QStringLiteral(" geheim ");
    EXPECT_EQ(AccountFromAssistant(typed, nullptr), plain);

    TProviderEntry provider;
    provider.POP3Server = QStringLiteral("POP.alpha.de");
    provider.SMTPServer = QStringLiteral("smtp.alpha.de");
    struct Case {
        const char *name;
        bool inboxSSL, outboxSSL;
        int32_t pop3Port, smtpPort; // in the file; 0: none given
        const char *pop3Server;     // as typed
        int32_t wantPort, wantSecurity, wantSmtpPort, wantSmtpSecurity;
    } cases[] = {
        {"no secured connection", false, false, 995, 465, "pop.alpha.de", 110, csNone, 25, csNone},
        {"secured without ports", true, true, 0, 0, "pop.alpha.de", 995, csSSLTLS, 465, csSSLTLS},
        {"submission port", true, true, 995, 587, "pop.alpha.de", 995, csSSLTLS, 587, csStartTLS},
        {"secured on the plain port", true, false, 110, 0, "pop.alpha.de", 110, csStartTLS, 25, csNone},
        // An edited server name keeps the provider's security: the password never goes in clear.
        {"another incoming server typed", true, true, 995, 465, "pop3.alpha.de", 995, csSSLTLS, 465, csSSLTLS},
        {"another server, secured on the plain port", true, false, 110, 0, "pop.anders.de", 110, csStartTLS, 25,
         csNone},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        provider.InboxSSL = c.inboxSSL;
        provider.OutboxSSL = c.outboxSSL;
        provider.POP3Port = c.pop3Port;
        provider.SMTPPort = c.smtpPort;
        TAssistantEntries entries = typed;
        entries.POP3Server = QLatin1String(c.pop3Server);
        const TPOP3AccountSettings a = AccountFromAssistant(entries, &provider);
        EXPECT_EQ(a.ServerName, QLatin1String(c.pop3Server));
        EXPECT_EQ(a.Port, c.wantPort);
        EXPECT_EQ(a.POP3Security, c.wantSecurity);
        EXPECT_EQ(a.SMTPPort, c.wantSmtpPort);
        EXPECT_EQ(a.SMTPSecurity, c.wantSmtpSecurity);
        EXPECT_EQ(a.ServerRetries, 1);
        EXPECT_FALSE(a.UseAPOP);
    }

    // An IMAP account: the provider's IMAP security; the POP3 server's is not its.
    provider.IMAPServer = QStringLiteral("IMAP.alpha.de");
    provider.InboxSSL = true;
    provider.POP3Port = 995;
    struct ImapCase {
        const char *name;
        bool imapSSL;
        int32_t imapPort;
        const char *server; // as typed
        int32_t wantPort, wantSecurity;
    } imapCases[] = {
        {"no secured connection", false, 993, "imap.alpha.de", 143, csNone},
        {"secured without a port", true, 0, "imap.alpha.de", 993, csSSLTLS},
        {"secured on the plain port", true, 143, "imap.alpha.de", 143, csStartTLS},
        // A server name typed over the provider's keeps the provider's security.
        {"another server typed", true, 993, "imap.anders.de", 993, csSSLTLS},
        {"the POP3 server typed", true, 0, "pop.alpha.de", 993, csSSLTLS},
        {"another server, secured on the plain port", true, 143, "imap2.alpha.de", 143, csStartTLS},
    };
    for (const ImapCase &c : imapCases) {
        SCOPED_TRACE(c.name);
        provider.IMAPSSL = c.imapSSL;
        provider.IMAPPort = c.imapPort;
        TAssistantEntries entries = typed;
        entries.AccountType = atIMAP;
        entries.POP3Server = QLatin1String(c.server);
        const TPOP3AccountSettings a = AccountFromAssistant(entries, &provider);
        EXPECT_EQ(a.AccountType, atIMAP);
        EXPECT_EQ(a.ServerName, QLatin1String(c.server));
        EXPECT_EQ(a.Port, c.wantPort);
        EXPECT_EQ(a.POP3Security, c.wantSecurity);
        EXPECT_EQ(a.IMAPFolder, QStringLiteral("INBOX"));
        EXPECT_EQ(a.IMAPSpamAction, isaMoveToJunk);
        EXPECT_FALSE(a.UseAPOP);
    }

    // No outgoing server: none is used, and a provider's secured one does not apply.
    provider.OutboxSSL = true;
    typed.SMTPServer.clear();
    const TPOP3AccountSettings noSmtp = AccountFromAssistant(typed, &provider);
    EXPECT_FALSE(noSmtp.UseProviderSMTP);
    EXPECT_EQ(noSmtp.SMTPPort, 25);
    EXPECT_EQ(noSmtp.SMTPSecurity, csNone);
}
