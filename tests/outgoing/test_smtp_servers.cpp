// Delivery against real servers started on loopback by the test: Debian's aiosmtpd as the receiver and
// dnsmasq as the DNS server that serves MX records.
#include "DNSServerDiscovery.h"
#include "DnsmasqServer.h"
#include "QtPrinters.h"
#include "SMTPUnit.h"
#include "SmtpProbe.h"
#include "SmtpTestServer.h"
#include "TestCertificates.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QRegularExpression>
#include <QUdpSocket>

namespace {

MailMessage reply(const QString &to, const QStringList &body = {QStringLiteral("Hallo")})
{
    MailMessage m;
    m.From.Address = QStringLiteral("ich@example.org");
    m.Recipients.append(TMailAddress{QString(), to});
    m.Subject = QStringLiteral("Re: Grüße aus Köln – 5 €");
    m.Body = body;
    return m;
}

SmtpTestServer::Options withAuth(const QString &mechanisms)
{
    SmtpTestServer::Options options;
    options.auth = mechanisms;
    options.user = QStringLiteral("jörg");
    options.password = QStringLiteral("geheim äß");
    return options;
}

TPOP3AccountSettings providerAccount(const SmtpTestServer &server)
{
    TPOP3AccountSettings a;
    a.ServerName = QStringLiteral("pop.example.org");
    a.AccountName = QStringLiteral("jörg");
    a.Password = QStringLiteral("geheim äß");
    a.SMTPServer = server.host();
    a.SMTPPort = server.port();
    a.SMTPEMailAddress = QStringLiteral("ich@example.org");
    return a;
}

#define START(server)                                                                                          \
    do {                                                                                                       \
        QString why;                                                                                           \
        ASSERT_TRUE((server).start(&why)) << why.toStdString();                                                \
    } while (false)

QStringList commandVerbs(const SmtpTestServer &server)
{
    QStringList verbs;
    for (const QString &c : server.commands())
        verbs.append(c.section(QLatin1Char(' '), 0, 0));
    return verbs;
}

// --- Provider mode against aiosmtpd ----------------------------------------------------------------

TEST(SmtpReceiver, GermanTextArrivesIntactAndDecodable)
{
    SmtpTestServer server;
    START(server);
    TSMTPSendClass sender;
    sender.Account = providerAccount(server);
    const QStringList body{QStringLiteral(".Punkt am Zeilenanfang"), QStringLiteral("."),
                           QStringLiteral("Größe: 5 € – „Anführung“"), QString(), QStringLiteral("ÄÖÜäöüß")};
    QString error;
    ASSERT_TRUE(sender.SendMail(reply(QStringLiteral("Anna <anna@example.net>"), body), error))
        << error.toStdString();

    const QList<SmtpTestServer::Message> messages = server.messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].from, "ich@example.org");
    EXPECT_EQ(messages[0].recipients, QStringList({"anna@example.net"}));
    const QByteArray data = messages[0].data;
    for (const char c : data)
        ASSERT_LT(static_cast<unsigned char>(c), 128) << "8-bit text travels transfer-encoded";

    MailMessage got;
    ASSERT_TRUE(got.FillFromRaw(data));
    EXPECT_EQ(got.Subject, "Re: Grüße aus Köln – 5 €");
    EXPECT_EQ(got.Body, body);
    EXPECT_EQ(got.From.Address, "ich@example.org");
    EXPECT_EQ(got.Recipients, QList<TMailAddress>({{"Anna", "anna@example.net"}}));
    EXPECT_EQ(got.HeaderValue("X-Mailer"), "Quarvel 2.20");
    EXPECT_TRUE(got.Date.isValid());
    EXPECT_TRUE(got.MsgId.endsWith("@example.org>")) << got.MsgId.toStdString();
    EXPECT_TRUE(got.ContentType.contains("charset=")) << got.ContentType.toStdString();
    const QStringList subject = got.Headers.filter(QRegularExpression(QStringLiteral("^Subject:")));
    ASSERT_EQ(subject.size(), 1);
    EXPECT_TRUE(subject[0].contains("=?utf-8?", Qt::CaseInsensitive)) << "RFC 2047: " << subject[0].toStdString();

    EXPECT_EQ(server.commands().first(), "EHLO " + QString::fromLatin1(sender.HeloName()));
    EXPECT_EQ(commandVerbs(server), QStringList({"EHLO", "RSET", "MAIL", "RCPT", "DATA", "QUIT"}));
}

TEST(SmtpReceiver, DotStuffedLinesArriveExactly)
{
    SmtpTestServer server;
    START(server);
    SmtpClient client;
    ASSERT_TRUE(client.open(server.host(), server.port())) << client.lastErrorText().toStdString();
    const QByteArray message = ".first line\r\n..two dots\r\n.\r\nmiddle\r\n.\r\n";
    ASSERT_TRUE(client.sendMail("a@example.org", {"b@example.net"}, message)) << client.lastErrorText().toStdString();
    client.quit();
    ASSERT_EQ(server.messages().size(), 1);
    EXPECT_EQ(server.messages()[0].data, message);
}

struct LoginCase {
    const char *name;
    const char *serverOffers; // "none", "plain", "login", "both"
    bool smtpAuth;
    bool usePop3Data;
    const char *mechanism; // the one used, "" for none
};

void PrintTo(const LoginCase &c, std::ostream *os)
{
    *os << c.name;
}

class SmtpReceiverLogin : public ::testing::TestWithParam<LoginCase> {};

TEST_P(SmtpReceiverLogin, LogsInWithWhatTheServerOffers)
{
    const LoginCase &c = GetParam();
    SmtpTestServer server(withAuth(QString::fromLatin1(c.serverOffers)));
    START(server);
    TSMTPSendClass sender;
    sender.Account = providerAccount(server);
    sender.Account.SMTPAuth = c.smtpAuth;
    sender.Account.SMTPUsePOP3Data = c.usePop3Data;
    if (!c.usePop3Data) {
        // The POP3 login would be wrong here: the SMTP login must be the one sent.
        sender.Account.AccountName = QStringLiteral("pop-only");
        sender.Account.SMTPAccountName = QStringLiteral("jörg");
        sender.Account.SMTPPassword = QStringLiteral("geheim äß");
    }
    QString error;
    ASSERT_TRUE(sender.SendMail(reply(QStringLiteral("anna@example.net")), error)) << error.toStdString();
    ASSERT_EQ(server.messages().size(), 1);

    const QList<QJsonObject> logins = server.logins();
    const bool authSent = commandVerbs(server).contains(QStringLiteral("AUTH"));
    if (QByteArray(c.mechanism).isEmpty()) {
        EXPECT_FALSE(authSent);
        EXPECT_TRUE(logins.isEmpty());
        return;
    }
    ASSERT_EQ(logins.size(), 1);
    EXPECT_EQ(logins[0].value("auth").toString(), c.mechanism);
    EXPECT_EQ(logins[0].value("login").toString(), "jörg");
    EXPECT_EQ(logins[0].value("password").toString(), "geheim äß");
}

INSTANTIATE_TEST_SUITE_P(
    SmtpReceiver, SmtpReceiverLogin,
    ::testing::Values(LoginCase{"plain_preferred", "both", true, true, "PLAIN"},
                      LoginCase{"plain_only_server", "plain", true, true, "PLAIN"},
                      LoginCase{"login_only_server", "login", true, true, "LOGIN"},
                      LoginCase{"own_smtp_login", "login", true, false, "LOGIN"},
                      LoginCase{"auth_off_sends_none", "both", false, true, ""},
                      LoginCase{"server_without_auth_gets_none", "none", true, true, ""}),
    [](const ::testing::TestParamInfo<LoginCase> &info) { return std::string(info.param.name); });

TEST(SmtpReceiver, WrongPasswordIsTheServersRefusal)
{
    SmtpTestServer server(withAuth(QStringLiteral("plain")));
    START(server);
    TSMTPSendClass sender;
    sender.Account = providerAccount(server);
    sender.Account.SMTPAuth = true;
    sender.Account.Password = QStringLiteral("falsch");
    QString error;
    EXPECT_FALSE(sender.SendMail(reply(QStringLiteral("anna@example.net")), error));
    EXPECT_TRUE(error.startsWith("535 ")) << error.toStdString();
    EXPECT_TRUE(server.messages().isEmpty());
}

TEST(SmtpReceiver, EhloRefusedThenHeloAndDelivered)
{
    SmtpTestServer::Options options;
    options.refuseEhlo = true;
    SmtpTestServer server(options);
    START(server);
    TSMTPSendClass sender;
    sender.Account = providerAccount(server);
    QString error;
    ASSERT_TRUE(sender.SendMail(reply(QStringLiteral("anna@example.net")), error)) << error.toStdString();
    EXPECT_EQ(commandVerbs(server).mid(0, 2), QStringList({"EHLO", "HELO"}));
    EXPECT_EQ(server.messages().size(), 1);
}

TEST(SmtpReceiver, RefusedRecipientGivesCodeAndTextAndResets)
{
    SmtpTestServer::Options options;
    options.rejectRecipients = {QStringLiteral("nobody@example.net")};
    SmtpTestServer server(options);
    START(server);
    TSMTPSendClass sender;
    sender.Account = providerAccount(server);
    QString error;
    EXPECT_FALSE(sender.SendMail(reply(QStringLiteral("nobody@example.net")), error));
    EXPECT_EQ(error, "550 5.1.1 <nobody@example.net>: Recipient address rejected");
    EXPECT_EQ(commandVerbs(server), QStringList({"EHLO", "RSET", "MAIL", "RCPT", "RSET", "QUIT"}));
    EXPECT_TRUE(server.messages().isEmpty());
}

// --- Encrypted provider servers ---------------------------------------------------------------------

// aiosmtpd with STARTTLS required or TLS from the first byte, with certificates made by openssl now and
// vouched for by nothing but the account's trust.
class SmtpTls : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(certificates.selfSigned(QStringLiteral("Receiver"), {QStringLiteral("IP:127.0.0.1")}, &first, &error)
                    && certificates.selfSigned(QStringLiteral("Replaced"), {QStringLiteral("IP:127.0.0.1")}, &second,
                                               &error))
            << error.toStdString();
    }

    static SmtpTestServer::Options tls(const QString &mode, const TestCertificate &certificate,
                                       const QString &auth = QStringLiteral("both"))
    {
        SmtpTestServer::Options options = withAuth(auth);
        options.tls = mode;
        options.certificateFile = certificate.CertificateFile;
        options.keyFile = certificate.KeyFile;
        return options;
    }

    // An account that logs in to server with the security of mode, trusting certificate when given.
    static TPOP3AccountSettings account(const SmtpTestServer &server, const QString &mode, const QString &trusted)
    {
        TPOP3AccountSettings a = providerAccount(server);
        a.SMTPSecurity = mode == QStringLiteral("implicit") ? csSSLTLS : csStartTLS;
        a.SMTPAuth = true;
        a.SMTPCertSHA256 = trusted;
        return a;
    }

    TestCertificates certificates;
    TestCertificate first, second;
};

TEST_F(SmtpTls, MessageArrivesByteExactOverEitherKindOfTls)
{
    // Longer than one TLS record, with lines that need dot-stuffing and 8-bit text.
    const QByteArray message = "Subject: =?utf-8?q?Gr=C3=BC=C3=9Fe?=\r\n\r\n.Punkt\r\n..\r\n.\r\n"
                               "Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac\r\n"
                               + (QByteArray(900, 'x') + "\r\n").repeated(40);
    for (const char *mode : {"starttls", "implicit"}) {
        SCOPED_TRACE(mode);
        SmtpTestServer server(tls(QString::fromLatin1(mode), first));
        START(server);
        SmtpClient client;
        client.setSecurity(QByteArray(mode) == "implicit" ? SmtpClient::Security::Tls : SmtpClient::Security::StartTls);
        client.setTrustedCertificate(first.Fingerprint);
        ASSERT_TRUE(client.open(server.host(), server.port())) << client.lastErrorText().toStdString();
        EXPECT_TRUE(client.isEncrypted());
        EXPECT_EQ(client.authMechanisms(), QByteArrayList({"LOGIN", "PLAIN"})) << "read again over TLS";
        ASSERT_TRUE(client.authenticate(QStringLiteral("jörg"), QStringLiteral("geheim äß")))
            << client.lastErrorText().toStdString();
        ASSERT_TRUE(client.sendMail("ich@example.org", {"anna@example.net"}, message))
            << client.lastErrorText().toStdString();
        client.quit();
        const QList<SmtpTestServer::Message> got = server.messages();
        ASSERT_EQ(got.size(), 1);
        EXPECT_EQ(got[0].data, message);
        EXPECT_TRUE(got[0].encrypted);
    }
}

struct TlsLoginCase {
    const char *name;
    const char *mode;         // the receiver's TLS
    const char *serverOffers; // its AUTH mechanisms
    const char *mechanism;    // the one used
};

void PrintTo(const TlsLoginCase &c, std::ostream *os)
{
    *os << c.name;
}

class SmtpTlsLogin : public SmtpTls, public ::testing::WithParamInterface<TlsLoginCase> {};

TEST_P(SmtpTlsLogin, AccountLogsInOverTlsAndDelivers)
{
    const TlsLoginCase &c = GetParam();
    SmtpTestServer server(tls(QString::fromLatin1(c.mode), first, QString::fromLatin1(c.serverOffers)));
    START(server);
    TSMTPSendClass sender;
    sender.Account = account(server, QString::fromLatin1(c.mode), first.Fingerprint);
    QString error;
    ASSERT_TRUE(sender.SendMail(reply(QStringLiteral("anna@example.net")), error)) << error.toStdString();
    const QList<QJsonObject> logins = server.logins();
    ASSERT_EQ(logins.size(), 1);
    EXPECT_EQ(logins[0].value("auth").toString(), c.mechanism);
    EXPECT_EQ(logins[0].value("login").toString(), "jörg");
    EXPECT_TRUE(logins[0].value("tls").toBool());
    ASSERT_EQ(server.messages().size(), 1);
    EXPECT_TRUE(server.messages()[0].encrypted);
    MailMessage got;
    ASSERT_TRUE(got.FillFromRaw(server.messages()[0].data));
    EXPECT_EQ(got.Subject, "Re: Grüße aus Köln – 5 €");
}

INSTANTIATE_TEST_SUITE_P(SmtpReceiver, SmtpTlsLogin,
                         ::testing::Values(TlsLoginCase{"starttls_plain", "starttls", "both", "PLAIN"},
                                           TlsLoginCase{"starttls_login", "starttls", "login", "LOGIN"},
                                           TlsLoginCase{"implicit_plain", "implicit", "plain", "PLAIN"},
                                           TlsLoginCase{"implicit_login", "implicit", "login", "LOGIN"}),
                         [](const ::testing::TestParamInfo<TlsLoginCase> &info) { return std::string(info.param.name); });

TEST_F(SmtpTls, UntrustedCertificateFailsWithItsFingerprintUntilTrustedAndAgainWhenReplaced)
{
    for (const char *mode : {"starttls", "implicit"}) {
        SCOPED_TRACE(mode);
        const QString m = QString::fromLatin1(mode);
        TSMTPSendClass sender;
        QString error;

        SmtpTestServer server(tls(m, first));
        START(server);
        sender.Account = account(server, m, QString());
        EXPECT_FALSE(sender.SendMail(reply(QStringLiteral("anna@example.net")), error));
        EXPECT_TRUE(error.startsWith(QStringLiteral("0 Das Zertifikat des Servers 127.0.0.1 wurde abgelehnt: es ist "
                                                    "selbst signiert.")))
            << error.toStdString();
        EXPECT_TRUE(error.endsWith(QStringLiteral("SHA-256-Fingerabdruck: ") + first.Fingerprint)) << error.toStdString();
        EXPECT_TRUE(sender.RefusedCertificate().CanBeTrusted());
        EXPECT_EQ(sender.RefusedCertificate().Certificate, first.Certificate);
        EXPECT_TRUE(server.logins().isEmpty());
        EXPECT_TRUE(server.messages().isEmpty());

        sender.Account.SMTPCertSHA256 = first.Fingerprint;
        EXPECT_TRUE(sender.SendMail(reply(QStringLiteral("anna@example.net")), error)) << error.toStdString();
        EXPECT_TRUE(sender.RefusedCertificate().IsNull());
        EXPECT_EQ(server.messages().size(), 1);

        SmtpTestServer replaced(tls(m, second));
        START(replaced);
        sender.Account.SMTPPort = replaced.port();
        EXPECT_FALSE(sender.SendMail(reply(QStringLiteral("anna@example.net")), error));
        EXPECT_TRUE(error.endsWith(QStringLiteral("SHA-256-Fingerabdruck: ") + second.Fingerprint)) << error.toStdString();
        EXPECT_TRUE(replaced.logins().isEmpty());
        EXPECT_TRUE(replaced.messages().isEmpty());
    }
}

TEST_F(SmtpTls, CertificateForAnotherNameCannotBeTrusted)
{
    SmtpTestServer server(tls(QStringLiteral("starttls"), first));
    START(server);
    TSMTPSendClass sender;
    sender.Account = account(server, QStringLiteral("starttls"), first.Fingerprint);
    sender.Account.SMTPServer = QStringLiteral("localhost"); // the certificate names 127.0.0.1 only
    QString error;
    EXPECT_FALSE(sender.SendMail(reply(QStringLiteral("anna@example.net")), error));
    EXPECT_TRUE(error.contains(QStringLiteral("es gilt nicht für den Servernamen \"localhost\""))) << error.toStdString();
    EXPECT_FALSE(sender.RefusedCertificate().CanBeTrusted());
    EXPECT_TRUE(server.logins().isEmpty());
}

TEST(SmtpReceiver, StartTlsAccountAgainstAPlainServerSendsNeitherLoginNorMessage)
{
    SmtpTestServer server(withAuth(QStringLiteral("both")));
    START(server);
    TSMTPSendClass sender;
    sender.Account = providerAccount(server);
    sender.Account.SMTPSecurity = csStartTLS;
    sender.Account.SMTPAuth = true;
    QString error;
    EXPECT_FALSE(sender.SendMail(reply(QStringLiteral("anna@example.net")), error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("0 Der SMTP-Server 127.0.0.1 bietet keine verschlüsselte Verbindung"))) << error.toStdString();
    EXPECT_EQ(commandVerbs(server), QStringList({"EHLO", "QUIT"}));
    EXPECT_TRUE(server.logins().isEmpty());
}

// --- MX lookup against dnsmasq ---------------------------------------------------------------------

class MxLookup : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dns = new DnsmasqServer;
        for (const char *line : {"mx-host=pref.test,b.pref.test,20", "mx-host=pref.test,a.pref.test,10",
                                 "mx-host=text.test,low.text.test,9999", "mx-host=text.test,high.text.test,10000",
                                 "host-record=nomx.test,192.0.2.7", "host-record=probe.test,192.0.2.8",
                                 "mx-host=direct.test,127.0.0.1,10"})
            dns->addConfig(QString::fromLatin1(line));
        started = dns->start(&startError);
    }
    static void TearDownTestSuite()
    {
        delete dns;
        dns = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(started) << startError.toStdString();
        sender.DNSServers = [] { return QList<TDNSServerAddress>{{dns->host(), dns->port()}}; };
    }

    // The sender asks only server, started with these records.
    void useOwnDns(DnsmasqServer &server, const QStringList &records)
    {
        for (const QString &record : records)
            server.addConfig(record);
        QString why;
        ASSERT_TRUE(server.start(&why)) << why.toStdString();
        sender.DNSServers = [&server] { return QList<TDNSServerAddress>{{server.host(), server.port()}}; };
    }

    static inline DnsmasqServer *dns = nullptr;
    static inline bool started = false;
    static inline QString startError;
    TSMTPSendClass sender;
};

TEST_F(MxLookup, HostsInTheOrderOfTheirTextSort)
{
    const struct {
        const char *address;
        QStringList hosts;
    } cases[] = {
        {"anna@pref.test", {"a.pref.test", "b.pref.test"}},
        {"x@y@TEXT.test", {"high.text.test", "low.text.test"}},
        {"pref.test", {"a.pref.test", "b.pref.test"}},
        {"anna@nomx.test", {}},
        {"anna@unknown.test", {}},
        {"Anna <anna@pref.test>", {}}, // the domain ends in ">"
    };
    for (const auto &c : cases) {
        QStringList hosts{QStringLiteral("stale")};
        sender.LookupMX(QString::fromLatin1(c.address), hosts);
        EXPECT_EQ(hosts, c.hosts) << c.address;
        EXPECT_EQ(sender.DNSServer, dns->host());
    }
}

TEST_F(MxLookup, NextServerIsAskedWhenOneFailsOrKnowsNothing)
{
    DnsmasqServer empty; // answers, but has no MX records
    QString why;
    ASSERT_TRUE(empty.start(&why)) << why.toStdString();
    QUdpSocket silent; // takes the query and never answers
    ASSERT_TRUE(silent.bind(QHostAddress::LocalHost, 0));

    sender.DNSTimeoutMs = 500;
    sender.DNSServers = [&] {
        return QList<TDNSServerAddress>{{QStringLiteral("127.0.0.1"), closedUdpPort()},
                                        {QStringLiteral("127.0.0.1"), silent.localPort()},
                                        {empty.host(), empty.port()},
                                        {dns->host(), dns->port()}};
    };
    QElapsedTimer clock;
    clock.start();
    QStringList hosts;
    sender.LookupMX(QStringLiteral("anna@pref.test"), hosts);
    EXPECT_EQ(hosts, QStringList({"a.pref.test", "b.pref.test"}));
    EXPECT_LT(clock.elapsed(), 5000) << "the silent server is given up after its time-out";
}

TEST_F(MxLookup, DomainWithoutExchangerIsError600WithoutConnecting)
{
    SmtpTestServer receiver;
    START(receiver);
    sender.DirectPort = receiver.port();
    for (const char *to : {"anna@nomx.test", "Anna <anna@unknown.test>"}) {
        QString error;
        EXPECT_FALSE(sender.SendMail(reply(QString::fromLatin1(to)), error)) << to;
        EXPECT_EQ(error, "600  No MX-entry found.") << to;
    }
    EXPECT_TRUE(receiver.commands().isEmpty());
}

TEST_F(MxLookup, DirectModeDeliversToTheExchanger)
{
    SmtpTestServer receiver(withAuth(QStringLiteral("both")));
    START(receiver);
    sender.DirectPort = receiver.port();
    sender.Account.SMTPAuth = true; // never used in direct mode
    sender.Account.AccountName = QStringLiteral("jörg");
    sender.Account.Password = QStringLiteral("geheim äß");
    QString error;
    // The named form is looked up by its address.
    ASSERT_TRUE(sender.SendMail(reply(QStringLiteral("Bert <bert@direct.test>")), error)) << error.toStdString();
    ASSERT_EQ(receiver.messages().size(), 1);
    EXPECT_EQ(receiver.messages()[0].recipients, QStringList({"bert@direct.test"}));
    EXPECT_FALSE(commandVerbs(receiver).contains(QStringLiteral("AUTH")));
}

TEST_F(MxLookup, DirectModeTriesTheNextExchangerAfterADeadOne)
{
    DnsmasqServer two;
    ASSERT_NO_FATAL_FAILURE(useOwnDns(two, {QStringLiteral("mx-host=two.test,127.0.0.2,10"),
                                            QStringLiteral("mx-host=two.test,127.0.0.1,20")}));
    SmtpTestServer receiver; // listens on 127.0.0.1 only: 127.0.0.2 refuses the connection
    START(receiver);
    sender.DirectPort = receiver.port();
    QString error;
    ASSERT_TRUE(sender.SendMail(reply(QStringLiteral("carl@two.test")), error)) << error.toStdString();
    EXPECT_EQ(receiver.messages().size(), 1);
}

// Each domain's exchanger is a delivery of its own: when a later one fails, the error names who already
// has the message, so that a resend does not give it to them twice.
TEST_F(MxLookup, DirectModeNamesTheRecipientsReachedBeforeALaterDomainFailed)
{
    DnsmasqServer both;
    ASSERT_NO_FATAL_FAILURE(useOwnDns(both, {QStringLiteral("mx-host=direct.test,127.0.0.1,10"),
                                             QStringLiteral("mx-host=dead.test,127.0.0.2,10")}));
    SmtpTestServer receiver; // listens on 127.0.0.1 only: 127.0.0.2 refuses the connection
    START(receiver);
    sender.DirectPort = receiver.port();
    const struct {
        const char *name;
        QString to, cc;
        bool reached; // the first domain got it
    } cases[] = {
        {"the later domain fails", QStringLiteral("bert@direct.test, anna@direct.test"), QStringLiteral("carl@dead.test"),
         true},
        {"the first domain fails", QStringLiteral("carl@dead.test"), QStringLiteral("bert@direct.test"), false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const qsizetype before = receiver.messages().size();
        QString error;
        MailMessage m = reply(c.to);
        m.Cc.append(TMailAddress{QString(), c.cc});
        EXPECT_FALSE(sender.SendMail(m, error));
        EXPECT_TRUE(error.startsWith(QStringLiteral("0 "))) << error.toStdString();
        EXPECT_EQ(receiver.messages().size(), before + (c.reached ? 1 : 0));
        const QString note = QStringLiteral("\r\n\r\nDie Nachricht wurde bereits zugestellt an: bert@direct.test, "
                                            "anna@direct.test. Senden Sie sie diesen Empfängern nicht noch einmal.");
        EXPECT_EQ(error.endsWith(note), c.reached) << error.toStdString();
        EXPECT_FALSE(error.contains(QStringLiteral("zugestellt")) && !c.reached) << error.toStdString();
    }
}

TEST_F(MxLookup, DirectModeFallsBackToPlainTextWhenTheExchangersHandshakeFails)
{
    TestCertificates certificates;
    TestCertificate certificate;
    QString why;
    ASSERT_TRUE(certificates.selfSigned(QStringLiteral("Exchanger"), {QStringLiteral("IP:127.0.0.1")}, &certificate, &why))
        << why.toStdString();
    SmtpTestServer::Options options = withAuth(QStringLiteral("both"));
    options.tls = QStringLiteral("starttls-optional");
    options.certificateFile = certificate.CertificateFile;
    options.keyFile = certificate.KeyFile;
    SmtpTestServer receiver(options);
    START(receiver);
    sender.DirectPort = receiver.port();
    sender.Account.SMTPAuth = true;
    // Trust given to the account's own server is not trust in an exchanger.
    sender.Account.SMTPCertSHA256 = certificate.Fingerprint;
    QString error;
    ASSERT_TRUE(sender.SendMail(reply(QStringLiteral("bert@direct.test")), error)) << error.toStdString();
    EXPECT_EQ(commandVerbs(receiver), QStringList({"EHLO", "STARTTLS", "EHLO", "RSET", "MAIL", "RCPT", "DATA", "QUIT"}));
    ASSERT_EQ(receiver.messages().size(), 1);
    EXPECT_FALSE(receiver.messages()[0].encrypted);
    EXPECT_TRUE(receiver.logins().isEmpty());
    EXPECT_TRUE(sender.RefusedCertificate().IsNull());
}

TEST_F(MxLookup, FirstAnsweringServerSkipsDeadOnes)
{
    DnsResolver resolver;
    const QList<TDNSServerAddress> servers{{QStringLiteral("127.0.0.1"), closedUdpPort()},
                                           {dns->host(), dns->port()}};
    EXPECT_EQ(FirstAnsweringServer(servers, resolver, QStringLiteral("probe.test"), 2000),
              (TDNSServerAddress{dns->host(), dns->port()}));
    // A server that answers without an address record is dropped as well.
    EXPECT_TRUE(FirstAnsweringServer(servers, resolver, QStringLiteral("nothing.test"), 2000).Host.isEmpty());
}

TEST(SmtpSearch, TlsFromTheFirstByteThenStarttlsAndAPlainServerIsFoundPlain)
{
    TestCertificates certificates;
    TestCertificate certificate;
    QString why;
    ASSERT_TRUE(certificates.selfSigned(QStringLiteral("Ausgang"), {QStringLiteral("IP:127.0.0.1")}, &certificate, &why))
        << why.toStdString();
    const struct {
        const char *tls;
        bool found;
        bool implicitTls;
        bool plain;
    } cases[] = {
        // The self-signed certificate is not trusted, and still counts as found.
        {"implicit", true, true, false},
        // TLS from the first byte meets the plain greeting; the upgrade is found.
        {"starttls", true, false, false},
        {"none", false, false, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tls);
        SmtpTestServer::Options options;
        options.tls = QString::fromLatin1(c.tls);
        options.certificateFile = certificate.CertificateFile;
        options.keyFile = certificate.KeyFile;
        SmtpTestServer receiver(options);
        START(receiver);
        const TProbeResult r = ProbeInOrder(
            {{receiver.port(), true}, {receiver.port(), false}},
            [&](const TProbeCandidate &where) { return ProbeSmtp(receiver.host(), where, 10000, "probe"); }, {},
            TServerRole::Outgoing);
        EXPECT_EQ(r.Found, c.found);
        EXPECT_EQ(r.PlainText, c.plain);
        if (c.found) {
            EXPECT_EQ(r.Where, (TProbeCandidate{receiver.port(), c.implicitTls}));
        }
        // Nothing was sent: no login, no message.
        EXPECT_TRUE(receiver.logins().isEmpty());
        EXPECT_TRUE(receiver.messages().isEmpty());
    }
}

TEST(SmtpSearch, ARefusedLoginIsExplained)
{
    SmtpTestServer receiver(withAuth(QStringLiteral("plain")));
    START(receiver);
    SmtpClient client;
    ASSERT_TRUE(client.open(receiver.host(), receiver.port()));
    EXPECT_FALSE(client.authenticate(QStringLiteral("jörg"), QStringLiteral("falsch")));
    EXPECT_EQ(client.lastReplyCode(), 535);
    EXPECT_EQ(client.failureKind(), TFailureKind::LoginRefused);
    EXPECT_TRUE(ExplainedFailureText(client.failureKind(), client.lastErrorText(), TServerRole::Outgoing)
                    .startsWith(QStringLiteral("Kontoname oder Kennwort falsch. Meldung: ")));
}

} // namespace
