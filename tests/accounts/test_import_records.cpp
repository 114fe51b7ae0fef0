#include "ImportTestUtil.h"

TEST(ImportRecords, AnImportedAccountBecomesAMailbox)
{
    TOEMailBox box;
    box.DisplayName = QStringLiteral("Privat");
    box.POP3Server = QStringLiteral("pop.x.de");
    box.POP3UserName = QStringLiteral("anna");
    box.POP3Password = QStringLiteral("getippt");
    box.POP3Port = 995;
    box.POP3Secure = true;
    box.SMTPServer = QStringLiteral("smtp.x.de");
    box.SMTPPort = 587;
    box.SMTPEMailAddress = QStringLiteral("anna@x.de");
    box.SMTPAuth = true;

    TPOP3AccountSettings want;
    want.Active = true;
    want.ServerName = QStringLiteral("pop.x.de");
    want.Port = 995;
    want.ServerRetries = 1;
    want.AccountName = QStringLiteral("anna");
    want.Password = QStringLiteral("getippt");
    want.UseAPOP = false;
    want.UseProviderSMTP = true;
    want.SMTPServer = QStringLiteral("smtp.x.de");
    want.SMTPPort = 587;
    want.SMTPEMailAddress = QStringLiteral("anna@x.de");
    want.SMTPAuth = true;
    want.SMTPUsePOP3Data = true;
    // The secured incoming connection stays secured; the outgoing one was plain.
    want.POP3Security = csSSLTLS;
    want.SMTPSecurity = csNone;
    EXPECT_EQ(AccountFromMailBox(box), want);

    box.SMTPServer.clear(); // no outgoing server: replies go straight to the recipient's exchanger
    EXPECT_FALSE(AccountFromMailBox(box).UseProviderSMTP);
}

TEST(ImportRecords, SecuredConnectionsBecomeSecuritySettings)
{
    struct Case {
        bool secure, startTls;
        int32_t port;
        TConnectionSecurity incoming, outgoing;
    } cases[] = {
        {false, false, 25, csNone, csNone},
        {true, false, 995, csSSLTLS, csSSLTLS},
        {true, false, 465, csSSLTLS, csSSLTLS},
        // "Secured" on a plain port: incoming it stays TLS from the first byte on that port; outgoing
        // on the submission ports it is an upgrade.
        {true, false, 25, csSSLTLS, csStartTLS},
        {true, false, 587, csSSLTLS, csStartTLS},
        {false, true, 110, csStartTLS, csStartTLS},
    };
    for (const Case &c : cases) {
        TOEMailBox box;
        box.POP3Secure = box.SMTPSecure = c.secure;
        box.POP3StartTLS = box.SMTPStartTLS = c.startTls;
        box.POP3Port = box.SMTPPort = c.port;
        EXPECT_EQ(IncomingSecurity(box), c.incoming) << c.secure << c.startTls << c.port;
        EXPECT_EQ(OutgoingSecurity(box), c.outgoing) << c.secure << c.startTls << c.port;
    }
}

TEST(ImportRecords, DuplicatesCompareServerAndLoginExactly)
{
    TOEAccountList list;
    TOEMailBox box;
    box.POP3Server = QStringLiteral("pop.x.de");
    box.POP3UserName = QStringLiteral("anna");
    list.append(TOEAccountItem{QStringLiteral("a"), box});
    EXPECT_TRUE(ContainsAccount(list, QStringLiteral("pop.x.de"), QStringLiteral("anna")));
    EXPECT_FALSE(ContainsAccount(list, QStringLiteral("pop.x.de"), QStringLiteral("Anna")));
    EXPECT_FALSE(ContainsAccount(list, QStringLiteral("POP.x.de"), QStringLiteral("anna")));
}
