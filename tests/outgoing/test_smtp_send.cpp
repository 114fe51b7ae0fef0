// The delivery of a composed message through scripted servers: which account data it uses, what it
// refuses before sending, and the error texts it gives. The real receiver and DNS server are in
// test_smtp_servers.cpp.
#include "FakeLineSocket.h"
#include "QtPrinters.h"
#include "SMTPUnit.h"

#include <gtest/gtest.h>

namespace {

// A message as the reply dialog composes it.
MailMessage reply(const QString &to, const QString &cc = QString())
{
    MailMessage m;
    m.From.Address = QStringLiteral("me@example.org");
    m.Recipients.append(TMailAddress{QString(), to});
    if (!cc.isEmpty())
        m.Cc.append(TMailAddress{QString(), cc});
    m.Subject = QStringLiteral("Re: Grüße");
    m.Body = {QStringLiteral("> Hallo"), QString(), QStringLiteral("Tschüss")};
    return m;
}

class SmtpSendTest : public ::testing::Test {
protected:
    SmtpSendTest()
        : sender([this] {
              auto socket = std::make_unique<FakeLineSocket>();
              fake = socket.get();
              return socket;
          })
    {
        sender.Account.SMTPServer = QStringLiteral("smtp.example.org");
        sender.Account.SMTPPort = 587;
        sender.Account.AccountName = QStringLiteral("pop-user");
        sender.Account.Password = QStringLiteral("pop-pass");
        sender.Account.SMTPAccountName = QStringLiteral("smtp-user");
        sender.Account.SMTPPassword = QStringLiteral("smtp-pass");
    }

    void TearDown() override
    {
        EXPECT_EQ(fake->mismatches(), QStringList()) << transcript();
        EXPECT_EQ(fake->unplayed(), QStringList()) << transcript();
    }

    std::string transcript() const { return "transcript:\n" + fake->transcript().join(u'\n').toStdString(); }

    // Up to the envelope sender, with the EHLO name the sender object uses.
    QList<FakeLineSocket::Step> opening(const QByteArrayList &capabilities) const
    {
        QList<FakeLineSocket::Step> steps{S("220 smtp.example.org"), C("EHLO " + sender.HeloName()),
                                          S("250-smtp.example.org")};
        for (const QByteArray &c : capabilities)
            steps << S("250-" + c);
        steps << S("250 HELP");
        return steps;
    }

    FakeLineSocket *fake = nullptr; // owned by the sender
    TSMTPSendClass sender;
};

struct AccountCase {
    const char *name;
    bool smtpAuth;
    bool usePop3Data;
    QList<FakeLineSocket::Step> auth;
};

void PrintTo(const AccountCase &c, std::ostream *os)
{
    *os << c.name;
}

class SmtpSendAccount : public SmtpSendTest, public ::testing::WithParamInterface<AccountCase> {};

// "\0pop-user\0pop-pass" and "\0smtp-user\0smtp-pass" in Base64.
TEST_P(SmtpSendAccount, LogsInOnlyWhenAskedWithTheRightData)
{
    const AccountCase &c = GetParam();
    sender.Account.SMTPAuth = c.smtpAuth;
    sender.Account.SMTPUsePOP3Data = c.usePop3Data;
    fake->play(opening({"AUTH PLAIN LOGIN"}));
    fake->play(c.auth);
    fake->play({C("RSET"), S("250 ok"), C("MAIL FROM: <me@example.org>"), S("550 5.7.1 relaying denied"),
                C("RSET"), S("250 ok"), C("QUIT"), S("221 bye")});
    QString error;
    EXPECT_FALSE(sender.SendMail(reply(QStringLiteral("you@example.net")), error));
    EXPECT_EQ(error, "550 5.7.1 relaying denied");
    EXPECT_EQ(fake->transcript().first(), "-- connect smtp.example.org:587");
}

INSTANTIATE_TEST_SUITE_P(
    TSMTPSendClass, SmtpSendAccount,
    ::testing::Values(
        AccountCase{"no_auth_even_when_offered", false, true, {}},
        AccountCase{"pop3_login", true, true, {C("AUTH PLAIN AHBvcC11c2VyAHBvcC1wYXNz"), S("235 ok")}},
        AccountCase{"own_smtp_login", true, false, {C("AUTH PLAIN AHNtdHAtdXNlcgBzbXRwLXBhc3M="), S("235 ok")}}),
    [](const ::testing::TestParamInfo<AccountCase> &info) { return std::string(info.param.name); });

TEST_F(SmtpSendTest, SecuredAccountsEncryptFirstAndPassTheTrustedCertificate)
{
    sender.Account.SMTPAuth = true;
    sender.Account.SMTPCertSHA256 = QStringLiteral("00:11");
    const QList<FakeLineSocket::Step> login{C("AUTH PLAIN AHBvcC11c2VyAHBvcC1wYXNz"), S("235 ok"), C("RSET"),
                                            S("250 ok"), C("MAIL FROM: <me@example.org>"), S("550 no relay"),
                                            C("RSET"), S("250 ok"), C("QUIT"), S("221 bye")};
    const struct {
        const char *name;
        int security;
        QList<FakeLineSocket::Step> opening;
        const char *connect;
    } cases[] = {
        {"SSL/TLS", csSSLTLS, opening({"AUTH PLAIN"}), "-- connect tls smtp.example.org:587"},
        {"STARTTLS", csStartTLS,
         opening({"STARTTLS"}) + QList<FakeLineSocket::Step>{C("STARTTLS"), S("220 go ahead")}
             + opening({"AUTH PLAIN"}).mid(1),
         "-- connect smtp.example.org:587"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        sender.Account.SMTPSecurity = c.security;
        fake->play(c.opening);
        fake->play(login);
        QString error;
        EXPECT_FALSE(sender.SendMail(reply(QStringLiteral("you@example.net")), error));
        EXPECT_EQ(error, "550 no relay");
        EXPECT_TRUE(fake->transcript().contains(QString::fromLatin1(c.connect))) << transcript();
        EXPECT_EQ(fake->trustedCertificate(), "00:11");
        EXPECT_TRUE(sender.RefusedCertificate().IsNull());
    }
}

// A stored security this version does not know (a later version's, a typing error) is no reason to send
// the login in clear: no connection is made at all.
TEST_F(SmtpSendTest, UnknownSecurityRefusesToConnect)
{
    sender.Account.SMTPAuth = true;
    for (const int32_t security : {3, -1}) {
        SCOPED_TRACE(security);
        sender.Account.SMTPSecurity = security;
        QString error;
        EXPECT_FALSE(sender.SendMail(reply(QStringLiteral("you@example.net")), error));
        EXPECT_EQ(error, QStringLiteral("0 ") + unknownSecurityText(QStringLiteral("smtp.example.org")));
        EXPECT_EQ(fake->connectCount(), 0);
        EXPECT_TRUE(fake->written().isEmpty());
    }
}

// The sender's waits are the client's: a silent server ends at the read time-out, a dripping one at the
// whole-reply deadline.
TEST_F(SmtpSendTest, TheSendersTimeOutsBoundTheWaitForAReply)
{
    const struct {
        const char *name;
        int readTimeoutMs, replyDeadlineMs;
        QList<FakeLineSocket::Step> greeting;
        QString error;
    } cases[] = {
        {"silent past the read time-out", 50, 60000, {Pause(1000), S("220 late")},
         QStringLiteral("0 fake: read timed out")},
        {"dripping past the reply deadline", 5000, 100,
         {S("220-a"), Pause(80), S("220-b"), Pause(80), S("220-c"), Pause(80), S("220 d")},
         QStringLiteral("0 ") + replyTooSlowText()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        sender.ReadTimeoutMs = c.readTimeoutMs;
        sender.ReplyDeadlineMs = c.replyDeadlineMs;
        fake->play(c.greeting);
        QString error;
        EXPECT_FALSE(sender.SendMail(reply(QStringLiteral("you@example.net")), error));
        EXPECT_EQ(error, c.error);
        EXPECT_TRUE(fake->written().isEmpty());
    }
}

TEST_F(SmtpSendTest, StartTlsAccountFailsBeforeAnyLoginWhereTheServerDoesNotOfferIt)
{
    sender.Account.SMTPSecurity = csStartTLS;
    sender.Account.SMTPAuth = true;
    fake->play(opening({"AUTH PLAIN LOGIN"}));
    fake->play({C("QUIT"), S("221 bye")});
    QString error;
    EXPECT_FALSE(sender.SendMail(reply(QStringLiteral("you@example.net")), error));
    EXPECT_EQ(error, QStringLiteral("0 Der SMTP-Server smtp.example.org bietet keine verschlüsselte Verbindung "
                                    "(STARTTLS) an. Es wurden weder Anmeldedaten noch die Nachricht gesendet."));
    EXPECT_EQ(fake->written(), QByteArrayList({"EHLO " + sender.HeloName(), "QUIT"}));
}

TEST_F(SmtpSendTest, NamedAndListedRecipientsBecomeOneEnvelopeAddressEach)
{
    // The dialog fills Cc with "Name <address>" itself; several typed addresses are several recipients.
    fake->play(opening({}));
    fake->play({C("RSET"), S("250 ok"), C("MAIL FROM: <me@example.org>"), S("250 ok"),
                C("RCPT TO:<a@b.de>"), S("250 ok"), C("RCPT TO:<c@d.de>"), S("250 ok"),
                C("RCPT TO:<e@f.de>"), S("250 ok"), C("DATA"), S("452 4.3.1 insufficient storage"), C("RSET"),
                S("250 ok"), C("QUIT"), S("221 bye")});
    QString error;
    EXPECT_FALSE(sender.SendMail(reply(QStringLiteral("Anna Beispiel <a@b.de>"),
                                       QStringLiteral("\"Doe, C.\" <c@d.de>, e@f.de")),
                                 error));
    EXPECT_EQ(error, "452 4.3.1 insufficient storage");
}

TEST_F(SmtpSendTest, UnusableMessagesAreRefusedBeforeConnecting)
{
    const struct {
        const char *name;
        MailMessage message;
    } cases[] = {
        {"line break in To", reply(QStringLiteral("a@b.de\r\nBcc: x@evil.test"))},
        {"line break in Cc", reply(QStringLiteral("a@b.de"), QStringLiteral("c@d.de\nX: y"))},
        {"line break in subject", [] { MailMessage m = reply(QStringLiteral("a@b.de")); m.Subject = "a\nBcc: x@y"; return m; }()},
        {"line break in sender", [] { MailMessage m = reply(QStringLiteral("a@b.de")); m.From.Address = "me@x\r\n"; return m; }()},
        {"no recipient", reply(QStringLiteral("  "))},
        {"recipient that is no address", reply(QStringLiteral("<>"))},
    };
    for (const auto &c : cases) {
        QString error;
        EXPECT_FALSE(sender.SendMail(c.message, error)) << c.name;
        EXPECT_FALSE(error.isEmpty()) << c.name;
        EXPECT_FALSE(error.at(0).isDigit()) << c.name << ": not a server's reply: " << error.toStdString();
    }
    EXPECT_EQ(fake->connectCount(), 0);
}

TEST_F(SmtpSendTest, FailuresWithoutReplyHaveCodeZero)
{
    sender.Account.SMTPAuth = true;
    // A time-out after EHLO's 250 must not report 250 ("Mail versendet.").
    fake->play({S("220 x"), C("EHLO " + sender.HeloName()), S("250 ok"), C("RSET")});
    QString error;
    EXPECT_FALSE(sender.SendMail(reply(QStringLiteral("you@example.net")), error));
    EXPECT_TRUE(error.startsWith("0 ")) << error.toStdString();

    fake->play({Refuse("Connection refused")});
    EXPECT_FALSE(sender.SendMail(reply(QStringLiteral("you@example.net")), error));
    EXPECT_EQ(error, "0 Connection refused");
}

TEST_F(SmtpSendTest, PortOutOfRangeIsRefused)
{
    sender.Account.SMTPPort = 70000;
    QString error;
    EXPECT_FALSE(sender.SendMail(reply(QStringLiteral("you@example.net")), error));
    EXPECT_TRUE(error.startsWith("0 ")) << error.toStdString();
    EXPECT_EQ(fake->connectCount(), 0);
}

TEST_F(SmtpSendTest, DirectModeWithoutDnsServerIsNoMxEntry)
{
    sender.Account.SMTPServer.clear();
    sender.DNSServers = [] { return QList<TDNSServerAddress>(); };
    QString error;
    EXPECT_FALSE(sender.SendMail(reply(QStringLiteral("you@example.net")), error));
    EXPECT_EQ(error, "600  No MX-entry found.");
    EXPECT_EQ(fake->connectCount(), 0);
    EXPECT_TRUE(sender.DNSServer.isEmpty());
}

// --- Pure pieces ------------------------------------------------------------------------------------

TEST(SmtpEhloName, KeepsLettersDigitsAndDashOfTheFirst15Characters)
{
    const struct {
        QString computer;
        QByteArray name;
    } cases[] = {
        {"office-pc", "office-pc"},
        {"Büro PC_2", "BroPC2"},
        {"a-very-long-computer-name", "a-very-long-com"},
        {"host.example.org", "hostexampleor"}, // cut to 15 characters before the dots go
        {"", "Quarvel-User"},
        {"äöü ß", "Quarvel-User"},
        {"...............x", "Quarvel-User"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(EhloName(c.computer), c.name) << c.computer.toStdString();
}

TEST(SmtpMxSort, PreferenceAsPaddedTextThenHostName)
{
    const struct {
        const char *name;
        QList<TMXRecord> records;
        QStringList hosts;
    } cases[] = {
        {"lower preference first", {{20, "b.example"}, {10, "a.example"}}, {"a.example", "b.example"}},
        {"text sort puts 10000 before 9999", {{9999, "low.example"}, {10000, "high.example"}},
         {"high.example", "low.example"}},
        {"equal preference by host, case-blind", {{5, "Zeta.example"}, {5, "alpha.example"}, {5, "beta.example"}},
         {"alpha.example", "beta.example", "Zeta.example"}},
        {"padding to four digits", {{100, "c"}, {7, "b"}, {65535, "a"}}, {"b", "c", "a"}},
        {"null MX left out", {{0, ""}, {10, "mx.example"}}, {"mx.example"}},
        {"none", {}, {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SortMXHosts(c.records), c.hosts) << c.name;
}

} // namespace
