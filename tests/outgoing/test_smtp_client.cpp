// The SMTP engine against scripted conversations: what it sends, how it reads each reply, and how it
// fails.
#include "FakeLineSocket.h"
#include "QtPrinters.h"
#include "SmtpClient.h"

#include <gtest/gtest.h>

namespace {

using Error = SmtpClient::Error;

class SmtpClientTest : public ::testing::Test {
protected:
    SmtpClientTest()
        : client([this] {
              auto socket = std::make_unique<FakeLineSocket>();
              fake = socket.get();
              return socket;
          })
    {
        client.setHeloName("pc-7");
    }

    // The whole script must have been played, exactly as written.
    void TearDown() override
    {
        EXPECT_EQ(fake->mismatches(), QStringList()) << transcript();
        EXPECT_EQ(fake->unplayed(), QStringList()) << transcript();
    }

    std::string transcript() const { return "transcript:\n" + fake->transcript().join(u'\n').toStdString(); }

    static QList<FakeLineSocket::Step> greeting(const QByteArrayList &capabilities)
    {
        QList<FakeLineSocket::Step> steps{S("220 mx.example.test ESMTP"), C("EHLO pc-7")};
        if (capabilities.isEmpty())
            return steps << S("250 mx.example.test");
        steps << S("250-mx.example.test greets pc-7");
        for (qsizetype i = 0; i < capabilities.size(); ++i)
            steps << S((i + 1 == capabilities.size() ? "250 " : "250-") + capabilities.at(i));
        return steps;
    }

    void open(const QByteArrayList &capabilities = {})
    {
        fake->play(greeting(capabilities));
        ASSERT_TRUE(client.open(QStringLiteral("mx.example.test"), 25)) << client.lastErrorText().toStdString();
    }

    bool closedLast() const
    {
        const QString last = fake->transcript().last();
        return last == QStringLiteral("-- close") || last == QStringLiteral("-- dropped");
    }

    FakeLineSocket *fake = nullptr; // owned by the client
    SmtpClient client;
};

// --- Greeting, EHLO and HELO ------------------------------------------------------------------------

TEST_F(SmtpClientTest, EhloListsCapabilitiesAndAWholeSessionDelivers)
{
    open({"SIZE 1000000", "AUTH PLAIN LOGIN", "8BITMIME"});
    EXPECT_TRUE(client.extendedHello());
    EXPECT_EQ(client.capabilities(), QByteArrayList({"SIZE 1000000", "AUTH PLAIN LOGIN", "8BITMIME"}));
    EXPECT_EQ(client.authMechanisms(), QByteArrayList({"PLAIN", "LOGIN"}));

    fake->play({C("RSET"), S("250 flushed"), C("MAIL FROM: <me@example.org>"), S("250 ok"),
                C("RCPT TO:<you@example.net>"), S("250 ok"), C("RCPT TO:<cc@example.com>"), S("251 forwarding"),
                C("DATA"), S("354 go ahead"), C("Subject: x"), C(""), C("body"), C("."), S("250 queued as 42"),
                C("QUIT"), S("221 bye")});
    ASSERT_TRUE(client.sendMail("me@example.org", {"you@example.net", "cc@example.com"},
                                "Subject: x\r\n\r\nbody\r\n"))
        << client.lastErrorText().toStdString();
    EXPECT_EQ(client.lastReplyCode(), 250);
    EXPECT_EQ(client.lastReplyText(), "queued as 42");
    client.quit();
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(client.lastReplyCode(), 250) << "QUIT's reply does not replace the result";
}

struct HelloCase {
    const char *name;
    QList<FakeLineSocket::Step> script;
    bool opens;
    bool extended;
    int code;
    Error error;
};

void PrintTo(const HelloCase &c, std::ostream *os)
{
    *os << c.name;
}

class SmtpHello : public SmtpClientTest, public ::testing::WithParamInterface<HelloCase> {};

TEST_P(SmtpHello, GreetingAndHello)
{
    const HelloCase &c = GetParam();
    fake->play(c.script);
    EXPECT_EQ(client.open(QStringLiteral("mx.example.test"), 25), c.opens) << transcript();
    EXPECT_EQ(client.isConnected(), c.opens);
    EXPECT_EQ(client.extendedHello(), c.extended);
    EXPECT_EQ(client.lastReplyCode(), c.code);
    EXPECT_EQ(client.lastError(), c.error);
    if (!c.opens) {
        EXPECT_TRUE(closedLast()) << transcript();
    }
}

INSTANTIATE_TEST_SUITE_P(
    SmtpClient, SmtpHello,
    ::testing::Values(
        HelloCase{"ehlo_refused_falls_back_to_helo",
                  {S("220 old"), C("EHLO pc-7"), S("502 what?"), C("HELO pc-7"), S("250 hi")}, true, false, 250,
                  Error::None},
        HelloCase{"ehlo_and_helo_refused",
                  {S("220 old"), C("EHLO pc-7"), S("500 no"), C("HELO pc-7"), S("550 go away")}, false, false, 550,
                  Error::ServerError},
        HelloCase{"greeting_refuses_service", {S("554 no service for you")}, false, false, 554, Error::ServerError},
        HelloCase{"multi_line_greeting", {S("220-first"), S("220 second"), C("EHLO pc-7"), S("250 ok")}, true, true,
                  250, Error::None},
        HelloCase{"non_numeric_greeting_is_no_reply", {S("hello there")}, false, false, 0, Error::ProtocolError},
        HelloCase{"bare_code_is_a_reply", {S("220"), C("EHLO pc-7"), S("250")}, true, true, 250, Error::None},
        HelloCase{"continuation_with_another_code", {S("220 x"), C("EHLO pc-7"), S("250-a"), S("251 b")}, false,
                  false, 0, Error::ProtocolError},
        HelloCase{"code_glued_to_text", {S("220x")}, false, false, 0, Error::ProtocolError},
        HelloCase{"silent_server", {}, false, false, 0, Error::TimedOut},
        HelloCase{"dropped_after_ehlo", {S("220 x"), C("EHLO pc-7"), Drop()}, false, false, 0,
                  Error::ConnectionLost},
        HelloCase{"over_long_line", {S("220 x"), C("EHLO pc-7"), LongLine(SmtpClient::kMaxLineLength + 1)}, false,
                  false, 0, Error::LineTooLong}),
    [](const ::testing::TestParamInfo<HelloCase> &info) { return std::string(info.param.name); });

TEST_F(SmtpClientTest, RefusedConnectIsAConnectionError)
{
    fake->play({Refuse("Connection refused")});
    EXPECT_FALSE(client.open(QStringLiteral("mx.example.test"), 25));
    EXPECT_EQ(client.lastError(), Error::ConnectionLost);
    EXPECT_EQ(client.lastErrorText(), "Connection refused");
    EXPECT_EQ(client.lastReplyCode(), 0);
}

TEST_F(SmtpClientTest, EndlessContinuationIsCutOff)
{
    QList<FakeLineSocket::Step> script{S("220 x"), C("EHLO pc-7")};
    for (int i = 0; i < SmtpClient::kMaxReplyLines; ++i)
        script << S("250-more");
    fake->play(script);
    EXPECT_FALSE(client.open(QStringLiteral("mx.example.test"), 25));
    EXPECT_EQ(client.lastError(), Error::ProtocolError);
}

// A reply dripped in a line at a time, each line well within the read time-out, still has to end: 1000
// lines at the read time-out each would hold the send for hours.
TEST_F(SmtpClientTest, ADrippedReplyEndsAtTheWholeReplyDeadline)
{
    const auto dripped = [](int lines) {
        QList<FakeLineSocket::Step> steps{S("220 x"), C("EHLO pc-7")};
        for (int i = 1; i < lines; ++i)
            steps << Pause(5) << S("250-line " + QByteArray::number(i));
        return steps << Pause(5) << S("250 end");
    };
    const struct {
        const char *name;
        int lines;
        int replyDeadlineMs;
        bool opens;
    } cases[] = {
        {"within the deadline", 3, 10000, true},
        {"1000 lines past the deadline", SmtpClient::kMaxReplyLines, 300, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        client.setReadTimeout(2000);
        client.setReplyDeadline(c.replyDeadlineMs);
        fake->play(dripped(c.lines));
        EXPECT_EQ(client.open(QStringLiteral("mx.example.test"), 25), c.opens) << transcript();
        if (c.opens) {
            EXPECT_EQ(client.capabilities().size(), c.lines - 1);
            fake->play({C("QUIT"), S("221 bye")});
            client.quit();
            continue;
        }
        EXPECT_EQ(client.lastError(), Error::TimedOut);
        EXPECT_EQ(client.lastErrorText(), replyTooSlowText());
        EXPECT_TRUE(closedLast()) << transcript();
        EXPECT_LT(fake->transcript().filter(QStringLiteral("S: 250-")).size(), c.lines - 1) << "it did not wait for all";
    }
}

// --- Authentication ---------------------------------------------------------------------------------

struct AuthCase {
    const char *name;
    QByteArrayList capabilities;
    QList<FakeLineSocket::Step> script;
    bool ok;
    QByteArray used;
    int code;
};

void PrintTo(const AuthCase &c, std::ostream *os)
{
    *os << c.name;
}

class SmtpAuth : public SmtpClientTest, public ::testing::WithParamInterface<AuthCase> {};

// "bob" / "pässwort" in Base64: Ym9i / cMOkc3N3b3J0; "\0bob\0pässwort": AGJvYgBww6Rzc3dvcnQ=
TEST_P(SmtpAuth, ChoosesTheMechanismTheServerOffers)
{
    const AuthCase &c = GetParam();
    open(c.capabilities);
    fake->play(c.script);
    EXPECT_EQ(client.authenticate(QStringLiteral("bob"), QStringLiteral("pässwort")), c.ok) << transcript();
    EXPECT_EQ(client.authMechanismUsed(), c.used);
    EXPECT_EQ(client.lastReplyCode(), c.code);
    EXPECT_TRUE(client.isConnected()) << "a refused login leaves the session open for QUIT";
}

INSTANTIATE_TEST_SUITE_P(
    SmtpClient, SmtpAuth,
    ::testing::Values(
        AuthCase{"plain_preferred", {"AUTH LOGIN PLAIN"}, {C("AUTH PLAIN AGJvYgBww6Rzc3dvcnQ="), S("235 ok")}, true,
                 "PLAIN", 235},
        AuthCase{"plain_only", {"AUTH PLAIN"}, {C("AUTH PLAIN AGJvYgBww6Rzc3dvcnQ="), S("235 ok")}, true, "PLAIN", 235},
        AuthCase{"login_only_old_form", {"AUTH=LOGIN"},
                 {C("AUTH LOGIN"), S("334 VXNlcm5hbWU6"), C("Ym9i"), S("334 UGFzc3dvcmQ6"), C("cMOkc3N3b3J0"),
                  S("235 welcome")},
                 true, "LOGIN", 235},
        AuthCase{"login_lower_case", {"auth cram-md5 login"},
                 {C("AUTH LOGIN"), S("334 x"), C("Ym9i"), S("334 y"), C("cMOkc3N3b3J0"), S("235 welcome")}, true,
                 "LOGIN", 235},
        AuthCase{"password_refused", {"AUTH PLAIN"},
                 {C("AUTH PLAIN AGJvYgBww6Rzc3dvcnQ="), S("535 5.7.8 credentials invalid")}, false, "", 535},
        AuthCase{"login_refused_at_user", {"AUTH LOGIN"}, {C("AUTH LOGIN"), S("334 x"), C("Ym9i"), S("535 no")},
                 false, "", 535},
        AuthCase{"only_other_mechanisms", {"AUTH CRAM-MD5 XOAUTH2"}, {}, true, "", 250},
        AuthCase{"no_auth_offered", {"SIZE 100"}, {}, true, "", 250}),
    [](const ::testing::TestParamInfo<AuthCase> &info) { return std::string(info.param.name); });

struct BearerCase {
    const char *name;
    QByteArrayList capabilities;
    QList<FakeLineSocket::Step> script;
    bool ok;
    QByteArray used;
    QString errorText;
};

void PrintTo(const BearerCase &c, std::ostream *os)
{
    *os << c.name;
}

class SmtpBearerAuth : public SmtpClientTest, public ::testing::WithParamInterface<BearerCase> {};

QByteArray xoauth2(const QByteArray &user, const QByteArray &token)
{
    return ("user=" + user + "\x01" "auth=Bearer " + token + "\x01\x01").toBase64();
}

TEST_P(SmtpBearerAuth, SendsTheTokenAndAnswersARefusal)
{
    const BearerCase &c = GetParam();
    open(c.capabilities);
    fake->play(c.script);
    EXPECT_EQ(client.authenticateBearer(QStringLiteral("bob@example.test"), QStringLiteral("ya29.t"),
                                        QStringLiteral("smtp.example.test"), 587),
              c.ok)
        << transcript();
    EXPECT_EQ(client.authMechanismUsed(), c.used);
    EXPECT_EQ(client.lastErrorText(), c.errorText);
}

const QByteArray kRefusalChallenge = QByteArray(R"({"status":"400","schemes":"Bearer"})").toBase64();

INSTANTIATE_TEST_SUITE_P(
    SmtpClient, SmtpBearerAuth,
    ::testing::Values(
        BearerCase{"xoauth2", {"AUTH LOGIN PLAIN XOAUTH2"},
                   {C("AUTH XOAUTH2 " + xoauth2("bob@example.test", "ya29.t")), S("235 2.7.0 Accepted")}, true,
                   "XOAUTH2", ""},
        BearerCase{"oauthbearer_where_offered", {"AUTH XOAUTH2 OAUTHBEARER"},
                   {C("AUTH OAUTHBEARER "
                      + QByteArray("n,a=bob@example.test,\x01host=smtp.example.test\x01port=587\x01"
                                   "auth=Bearer ya29.t\x01\x01")
                            .toBase64()),
                    S("235 ok")},
                   true, "OAUTHBEARER", ""},
        // The error challenge (334) is answered with an empty line; the 535 that follows is the refusal.
        BearerCase{"refused", {"AUTH XOAUTH2"},
                   {C("AUTH XOAUTH2 " + xoauth2("bob@example.test", "ya29.t")), S("334 " + kRefusalChallenge), C(""),
                    S("535-5.7.8 Username and Password not accepted."), S("535 5.7.8 Learn more")},
                   false, "",
                   "5.7.8 Username and Password not accepted. 5.7.8 Learn more Der Server hat das Zugangszeichen nicht "
                   "angenommen (Status 400)."},
        BearerCase{"not_offered", {"AUTH PLAIN LOGIN"}, {}, false, "",
                   "Der Server smtp.example.test bietet keine Anmeldung beim Anbieter (XOAUTH2, OAUTHBEARER) an."}),
    [](const ::testing::TestParamInfo<BearerCase> &info) { return std::string(info.param.name); });

TEST_F(SmtpClientTest, NoAuthenticationAfterHelo)
{
    fake->play({S("220 old"), C("EHLO pc-7"), S("502 no"), C("HELO pc-7"), S("250 hi")});
    ASSERT_TRUE(client.open(QStringLiteral("mx.example.test"), 25));
    EXPECT_TRUE(client.authenticate(QStringLiteral("bob"), QStringLiteral("x")));
    EXPECT_TRUE(client.authMechanismUsed().isEmpty());
}

TEST_F(SmtpClientTest, CredentialsStayHomeOverPlainTextWhenEncryptionWasAskedFor)
{
    client.setRequireEncryptedAuth(true);
    open({"AUTH PLAIN LOGIN"});
    EXPECT_FALSE(client.isEncrypted());
    EXPECT_FALSE(client.authenticate(QStringLiteral("bob"), QStringLiteral("x")));
    EXPECT_EQ(client.lastError(), Error::AuthNeedsTls);
    EXPECT_EQ(client.lastReplyCode(), 0) << "never the code of the EHLO reply";
    EXPECT_FALSE(client.lastErrorText().isEmpty());
}

// --- Encryption -------------------------------------------------------------------------------------

TEST_F(SmtpClientTest, StartTlsUpgradesAndReadsTheCapabilitiesAgainBeforeTheLogin)
{
    client.setSecurity(SmtpClient::Security::StartTls);
    client.setTrustedCertificate(QStringLiteral("AB:CD"));
    // Before the handshake the server offers no AUTH; what it said then counts no more.
    fake->play(greeting({"SIZE 10", "STARTTLS"}));
    fake->play({C("STARTTLS"), S("220 go ahead"), C("EHLO pc-7"), S("250-mx.example.test"),
                S("250 AUTH PLAIN LOGIN"), C("AUTH PLAIN AGJvYgB4"), S("235 ok")});
    ASSERT_TRUE(client.open(QStringLiteral("mx.example.test"), 587)) << client.lastErrorText().toStdString();
    EXPECT_TRUE(client.isEncrypted());
    EXPECT_EQ(client.capabilities(), QByteArrayList({"AUTH PLAIN LOGIN"}));
    EXPECT_EQ(fake->trustedCertificate(), "AB:CD");
    EXPECT_TRUE(client.authenticate(QStringLiteral("bob"), QStringLiteral("x")));
    EXPECT_EQ(fake->transcript().at(fake->transcript().indexOf("C: STARTTLS") + 2), "-- starttls") << transcript();
}

TEST_F(SmtpClientTest, ImplicitTlsConnectsEncryptedAndMayLogIn)
{
    client.setSecurity(SmtpClient::Security::Tls);
    client.setRequireEncryptedAuth(true);
    fake->play(greeting({"AUTH LOGIN"}));
    fake->play({C("AUTH LOGIN"), S("334 VXNlcm5hbWU6"), C("Ym9i"), S("334 UGFzc3dvcmQ6"), C("eA=="), S("235 ok")});
    ASSERT_TRUE(client.open(QStringLiteral("mx.example.test"), 465)) << client.lastErrorText().toStdString();
    EXPECT_EQ(fake->transcript().first(), "-- connect tls mx.example.test:465");
    EXPECT_TRUE(client.isEncrypted());
    EXPECT_TRUE(client.authenticate(QStringLiteral("bob"), QStringLiteral("x")));
    EXPECT_EQ(client.authMechanismUsed(), "LOGIN");
}

struct NoTlsCase {
    const char *name;
    QList<FakeLineSocket::Step> script; // after the greeting
    Error error;
    const char *text; // part of the error text
};

void PrintTo(const NoTlsCase &c, std::ostream *os)
{
    *os << c.name;
}

class SmtpNoTls : public SmtpClientTest, public ::testing::WithParamInterface<NoTlsCase> {};

// STARTTLS chosen: a session that cannot be encrypted ends before anything else is said.
TEST_P(SmtpNoTls, StartTlsThatCannotHappenEndsTheSession)
{
    const NoTlsCase &c = GetParam();
    client.setSecurity(SmtpClient::Security::StartTls);
    fake->play({S("220 mx.example.test ESMTP")});
    fake->play(c.script);
    EXPECT_FALSE(client.open(QStringLiteral("mx.example.test"), 25));
    EXPECT_EQ(client.lastError(), c.error);
    EXPECT_TRUE(client.lastErrorText().contains(QString::fromUtf8(c.text))) << client.lastErrorText().toStdString();
    EXPECT_FALSE(client.isConnected());
    EXPECT_FALSE(client.authenticate(QStringLiteral("bob"), QStringLiteral("x")));
    for (const QByteArray &line : fake->written())
        EXPECT_FALSE(line.startsWith("AUTH") || line.startsWith("MAIL")) << transcript();
    EXPECT_TRUE(closedLast() || fake->transcript().last() == "-- starttls refused") << transcript();
}

INSTANTIATE_TEST_SUITE_P(
    SmtpClient, SmtpNoTls,
    ::testing::Values(
        NoTlsCase{"not_offered",
                  {C("EHLO pc-7"), S("250-mx.example.test"), S("250 AUTH PLAIN LOGIN"), C("QUIT"), S("221 bye")},
                  Error::TlsUnavailable,
                  "Der SMTP-Server mx.example.test bietet keine verschlüsselte Verbindung (STARTTLS) an."},
        NoTlsCase{"helo_only_server",
                  {C("EHLO pc-7"), S("500 unknown"), C("HELO pc-7"), S("250 hi"), C("QUIT"), S("221 bye")},
                  Error::TlsUnavailable, "bietet keine verschlüsselte Verbindung"},
        NoTlsCase{"refused",
                  {C("EHLO pc-7"), S("250-mx.example.test"), S("250 STARTTLS"), C("STARTTLS"),
                   S("454 4.7.0 TLS not available"), C("QUIT"), S("221 bye")},
                  Error::TlsUnavailable,
                  "lehnt die verschlüsselte Verbindung (STARTTLS) ab (\"454 4.7.0 TLS not available\")"},
        NoTlsCase{"handshake_fails",
                  {C("EHLO pc-7"), S("250-mx.example.test"), S("250 STARTTLS"), C("STARTTLS"), S("220 go ahead"),
                   Refuse("Das Zertifikat des Servers mx.example.test wurde abgelehnt")},
                  Error::TlsFailed, "Das Zertifikat des Servers mx.example.test wurde abgelehnt"}),
    [](const ::testing::TestParamInfo<NoTlsCase> &info) { return std::string(info.param.name); });

TEST_F(SmtpClientTest, OpportunisticTlsIsUsedWhereOfferedAndNeverStopsTheMessage)
{
    client.setSecurity(SmtpClient::Security::Opportunistic);
    const QList<FakeLineSocket::Step> delivery{C("RSET"), S("250 ok"), C("MAIL FROM: <a@b.de>"), S("250 ok"),
                                               C("RCPT TO:<c@d.de>"), S("250 ok"), C("DATA"), S("354 go"),
                                               C("x"), C("."), S("250 queued"), C("QUIT"), S("221 bye")};
    const struct {
        const char *name;
        QList<FakeLineSocket::Step> opening; // up to the session that delivers
        bool encrypted;
        int connects;
    } cases[] = {
        {"offered",
         {S("220 mx"), C("EHLO pc-7"), S("250-mx"), S("250 STARTTLS"), C("STARTTLS"), S("220 go"), C("EHLO pc-7"),
          S("250 mx")},
         true, 1},
        {"not offered", {S("220 mx"), C("EHLO pc-7"), S("250 mx")}, false, 1},
        {"refused: goes on in plain text",
         {S("220 mx"), C("EHLO pc-7"), S("250-mx"), S("250 STARTTLS"), C("STARTTLS"), S("454 not now")}, false, 1},
        {"handshake fails: once more without it",
         {S("220 mx"), C("EHLO pc-7"), S("250-mx"), S("250 STARTTLS"), C("STARTTLS"), S("220 go"),
          Refuse("certificate refused"), Accept(), S("220 mx"), C("EHLO pc-7"), S("250-mx"), S("250 STARTTLS")},
         false, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const int connectsBefore = fake->connectCount();
        fake->play(c.opening);
        fake->play(delivery);
        ASSERT_TRUE(client.open(QStringLiteral("mx.example.test"), 25)) << transcript();
        EXPECT_EQ(client.isEncrypted(), c.encrypted);
        EXPECT_TRUE(client.sendMail("a@b.de", {"c@d.de"}, "x")) << transcript();
        EXPECT_EQ(fake->connectCount() - connectsBefore, c.connects);
        client.quit();
    }
}

// --- The mail transaction ---------------------------------------------------------------------------

struct RefusalCase {
    const char *name;
    QList<FakeLineSocket::Step> script; // after RSET
    int code;
    const char *text;
};

void PrintTo(const RefusalCase &c, std::ostream *os)
{
    *os << c.name;
}

class SmtpRefusal : public SmtpClientTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(SmtpRefusal, SendsRsetAndKeepsTheRefusal)
{
    const RefusalCase &c = GetParam();
    open({"8BITMIME"});
    fake->play({C("RSET"), S("250 ok")});
    fake->play(c.script);
    fake->play({C("RSET"), S("250 reset done")});
    EXPECT_FALSE(client.sendMail("me@example.org", {"a@example.net", "b@example.net"}, "x\r\n"));
    EXPECT_EQ(client.lastError(), Error::ServerError);
    EXPECT_EQ(client.lastReplyCode(), c.code);
    EXPECT_EQ(client.lastErrorText(), c.text);
    EXPECT_TRUE(client.isConnected());
}

INSTANTIATE_TEST_SUITE_P(
    SmtpClient, SmtpRefusal,
    ::testing::Values(
        RefusalCase{"sender", {C("MAIL FROM: <me@example.org>"), S("553 5.1.8 sender rejected")}, 553,
                    "5.1.8 sender rejected"},
        RefusalCase{"second_recipient",
                    {C("MAIL FROM: <me@example.org>"), S("250 ok"), C("RCPT TO:<a@example.net>"), S("250 ok"),
                     C("RCPT TO:<b@example.net>"), S("550-5.1.1 no such user"), S("550 5.1.1 see you")},
                    550, "5.1.1 no such user 5.1.1 see you"},
        RefusalCase{"data",
                    {C("MAIL FROM: <me@example.org>"), S("250 ok"), C("RCPT TO:<a@example.net>"), S("250 ok"),
                     C("RCPT TO:<b@example.net>"), S("250 ok"), C("DATA"), S("451 try later")},
                    451, "try later"},
        RefusalCase{"message",
                    {C("MAIL FROM: <me@example.org>"), S("250 ok"), C("RCPT TO:<a@example.net>"), S("250 ok"),
                     C("RCPT TO:<b@example.net>"), S("250 ok"), C("DATA"), S("354 go"), C("x"), C("."),
                     S("554 5.7.1 spam")},
                    554, "5.7.1 spam"},
        RefusalCase{"bare_code", {C("MAIL FROM: <me@example.org>"), S("550")}, 550, "Der Server hat abgelehnt."}),
    [](const ::testing::TestParamInfo<RefusalCase> &info) { return std::string(info.param.name); });

TEST_F(SmtpClientTest, LostConnectionInTheTransactionSendsNothingMore)
{
    open();
    fake->play({C("RSET"), S("250 ok"), C("MAIL FROM: <me@example.org>"), Drop()});
    EXPECT_FALSE(client.sendMail("me@example.org", {"a@example.net"}, "x\r\n"));
    EXPECT_EQ(client.lastError(), Error::ConnectionLost);
    EXPECT_EQ(client.lastReplyCode(), 0);
    EXPECT_FALSE(client.isConnected());
}

TEST_F(SmtpClientTest, LineBreakInAnAddressIsRefusedBeforeSending)
{
    open();
    for (const QByteArray &bad : {QByteArray("a@example.net\r\nRCPT TO:<x@evil.test>"), QByteArray("a@b\n")}) {
        EXPECT_FALSE(client.sendMail("me@example.org", {bad}, "x\r\n"));
        EXPECT_EQ(client.lastError(), Error::InvalidArgument);
        EXPECT_FALSE(client.sendMail(bad, {"a@example.net"}, "x\r\n"));
        EXPECT_EQ(client.lastError(), Error::InvalidArgument);
    }
}

TEST_F(SmtpClientTest, CommandsWithoutSessionFail)
{
    EXPECT_FALSE(client.sendMail("a@b", {"c@d"}, "x"));
    EXPECT_EQ(client.lastError(), Error::NotConnected);
    EXPECT_FALSE(client.authenticate(QStringLiteral("u"), QStringLiteral("p")));
    EXPECT_EQ(client.lastError(), Error::NotConnected);
}

// --- Dot-stuffing -----------------------------------------------------------------------------------

TEST(SmtpDotStuffing, EveryLeadingDotDoubledAndTheEndMarked)
{
    const struct {
        QByteArray in, out;
    } cases[] = {
        {"", ".\r\n"},
        {".first\r\nsecond\r\n", "..first\r\nsecond\r\n.\r\n"},
        {"a\r\n.\r\nb\r\n", "a\r\n..\r\nb\r\n.\r\n"},
        {"a\n..b\n", "a\r\n...b\r\n.\r\n"},
        {"no line end", "no line end\r\n.\r\n"},
        {"x\r\n\r\n", "x\r\n\r\n.\r\n"},
        {" .not at start\r\n", " .not at start\r\n.\r\n"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SmtpClient::dotStuffed(c.in), c.out) << c.in.toStdString();
}

} // namespace
