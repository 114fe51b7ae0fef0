// The POP3 client against scripted conversations: what it sends, how it reads each reply, and how it
// fails.
#include "FakeLineSocket.h"
#include "Pop3Client.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <QtGlobal>

namespace {

using Step = FakeLineSocket::Step;
using Error = Pop3Client::Error;

class Pop3ClientTest : public ::testing::Test {
protected:
    Pop3ClientTest()
        : client([this] {
              auto socket = std::make_unique<FakeLineSocket>();
              fake = socket.get();
              return socket;
          })
    {
        client.setHost(QStringLiteral("pop.example.test"));
        client.setPort(110);
        client.setUserName(QStringLiteral("bob"));
        client.setPassword(QStringLiteral("s3cret"));
    }

    // The whole script must have been played, exactly as written.
    void TearDown() override
    {
        EXPECT_EQ(fake->mismatches(), QStringList()) << "transcript:\n"
                                                    << fake->transcript().join(u'\n').toStdString();
        EXPECT_EQ(fake->unplayed(), QStringList()) << "transcript:\n"
                                                  << fake->transcript().join(u'\n').toStdString();
    }

    static QList<Step> loginSteps()
    {
        return {S("+OK POP3 ready"), C("CAPA"), S("-ERR unknown command"), C("USER bob"), S("+OK"),
                C("PASS s3cret"), S("+OK logged in")};
    }

    void login()
    {
        fake->play(loginSteps());
        ASSERT_TRUE(client.connect()) << client.lastErrorText().toStdString();
    }

    bool closedLast() const { return fake->transcript().last() == QStringLiteral("-- close"); }

    FakeLineSocket *fake = nullptr; // owned by the client
    Pop3Client client;
};

// --- Greeting, CAPA and login ---------------------------------------------------------------------------

struct LoginCase {
    const char *name;
    Pop3Client::AuthKind kind;
    QString user;
    QString password;
    QList<Step> script;
    bool ok;
    Error error;
    QString errorText;
    QByteArray timestamp;
};

void PrintTo(const LoginCase &c, std::ostream *os)
{
    *os << c.name;
}

class LoginTest : public Pop3ClientTest, public ::testing::WithParamInterface<LoginCase> {};

TEST_P(LoginTest, FollowsTheDialogue)
{
    const LoginCase &c = GetParam();
    client.setAuthKind(c.kind);
    client.setUserName(c.user);
    client.setPassword(c.password);
    fake->play(c.script);

    EXPECT_EQ(client.connect(), c.ok);
    EXPECT_EQ(client.isConnected(), c.ok);
    EXPECT_EQ(client.lastError(), c.error);
    EXPECT_EQ(client.lastErrorText(), c.errorText);
    EXPECT_EQ(client.apopTimestamp(), c.timestamp);
    if (!c.ok) {
        EXPECT_FALSE(fake->isConnected()) << "a failed login leaves no connection open";
    }
    EXPECT_FALSE(client.apopFallbackAllowed()) << "never on a plain connection";
}

const QByteArray kRfcGreeting = "+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>";
const QByteArray kRfcTimestamp = "<1896.697170952@dbc.mtview.ca.us>";
const auto UserPass = Pop3Client::AuthKind::UserPass;
const auto Apop = Pop3Client::AuthKind::Apop;
const QString kNoApopOnAPlainConnection = QStringLiteral(
    "Der Server bietet kein APOP mehr an (seine Begrüßung enthält keinen Zeitstempel). Das Passwort wurde nicht "
    "gesendet: Auf einer unverschlüsselten Verbindung kann jemand auf dem Weg den Zeitstempel entfernt haben, um "
    "es mitzulesen. Wählen Sie eine verschlüsselte Verbindung, oder schalten Sie APOP ab.");

INSTANTIATE_TEST_SUITE_P(
    Pop3Client, LoginTest,
    ::testing::Values(
        LoginCase{"UserPassWithoutTimestamp", UserPass, "bob", "s3cret",
                  {S("+OK POP3 ready"), C("CAPA"), S("-ERR unknown command"), C("USER bob"), S("+OK"),
                   C("PASS s3cret"), S("+OK 2 messages")},
                  true, Error::None, "", ""},
        LoginCase{"ApopRfc1939Example", Apop, "mrose", "tanstaaf",
                  {S(kRfcGreeting), C("CAPA"), S("+OK"), S("TOP"), S("UIDL"), S("."),
                   C("APOP mrose c4c9334bac560ecc979e58001b3e22fb"), S("+OK maildrop has 1 message (369 octets)")},
                  true, Error::None, "", kRfcTimestamp},
        LoginCase{"ApopWithoutTimestamp", Apop, "bob", "s3cret",
                  {S("+OK POP3 ready"), C("CAPA"), S("-ERR")},
                  false, Error::NoApopTimestamp, kNoApopOnAPlainConnection, ""},
        LoginCase{"UnclosedBracketIsNoTimestamp", Apop, "bob", "s3cret",
                  {S("+OK POP3 ready <1896.697170952"), C("CAPA"), S("-ERR")},
                  false, Error::NoApopTimestamp, kNoApopOnAPlainConnection, ""},
        LoginCase{"ApopRefused", Apop, "mrose", "wrong",
                  {S(kRfcGreeting), C("CAPA"), S("-ERR"), C("APOP mrose e578a46980172682bdd742405bfe7df7"),
                   S("-ERR [AUTH] Authentication failed.")},
                  false, Error::ServerError, "[AUTH] Authentication failed.", kRfcTimestamp},
        LoginCase{"WrongPassword", UserPass, "bob", "wrong",
                  {S("+OK POP3 ready"), C("CAPA"), S("-ERR"), C("USER bob"), S("+OK"), C("PASS wrong"),
                   S("-ERR [AUTH] Authentication failed.")},
                  false, Error::ServerError, "[AUTH] Authentication failed.", ""},
        LoginCase{"UnknownUserStopsBeforePass", UserPass, "bob", "s3cret",
                  {S("+OK POP3 ready"), C("CAPA"), S("-ERR"), C("USER bob"), S("-ERR no such mailbox")},
                  false, Error::ServerError, "no such mailbox", ""},
        LoginCase{"BareErrStillGivesAText", UserPass, "bob", "s3cret",
                  {S("+OK POP3 ready"), C("CAPA"), S("-ERR"), C("USER bob"), S("+OK"), C("PASS s3cret"),
                   S("-ERR")},
                  false, Error::ServerError, "-ERR", ""},
        LoginCase{"GreetingRefuses", UserPass, "bob", "s3cret",
                  {S("-ERR too many connections")},
                  false, Error::ServerError, "too many connections", ""},
        LoginCase{"GreetingOfAnotherProtocol", UserPass, "bob", "s3cret",
                  {S("* OK IMAP4rev1 ready")},
                  false, Error::ProtocolError, "Unerwartete Antwort des Servers: * OK IMAP4rev1 ready", ""},
        LoginCase{"CapaAnsweredWithNonsense", UserPass, "bob", "s3cret",
                  {S("+OK POP3 ready"), C("CAPA"), S("220 smtp.example.test ESMTP")},
                  false, Error::ProtocolError, "Unerwartete Antwort des Servers: 220 smtp.example.test ESMTP", ""},
        LoginCase{"LineBreakInPasswordIsNeverSent", UserPass, "bob", "x\r\nDELE 1",
                  {S("+OK POP3 ready"), C("CAPA"), S("-ERR")},
                  false, Error::InvalidArgument, "Benutzername oder Passwort enthält einen Zeilenumbruch.", ""},
        LoginCase{"ConnectionDroppedAfterUser", UserPass, "bob", "s3cret",
                  {S("+OK POP3 ready"), C("CAPA"), S("-ERR"), C("USER bob"), Drop()},
                  false, Error::ConnectionLost, "fake: connection closed by the server", ""}),
    [](const ::testing::TestParamInfo<LoginCase> &info) { return std::string(info.param.name); });

// --- Encrypted sessions ---------------------------------------------------------------------------------

struct TlsCase {
    const char *name;
    Pop3Client::Security security;
    Pop3Client::AuthKind kind;
    QList<Step> script;
    bool ok;
    Error error;
    QString errorText;
};

void PrintTo(const TlsCase &c, std::ostream *os)
{
    *os << c.name;
}

class TlsLoginTest : public Pop3ClientTest, public ::testing::WithParamInterface<TlsCase> {};

// Whatever happens, the credentials go out only after the connection is encrypted.
TEST_P(TlsLoginTest, CredentialsOnlyOverTls)
{
    const TlsCase &c = GetParam();
    client.setSecurity(c.security);
    client.setAuthKind(c.kind);
    client.setTrustedCertificate(QStringLiteral("AB:CD"));
    fake->play(c.script);

    EXPECT_EQ(client.connect(), c.ok);
    EXPECT_EQ(client.isConnected(), c.ok);
    EXPECT_EQ(client.isEncrypted(), c.ok);
    EXPECT_EQ(client.lastError(), c.error);
    EXPECT_EQ(client.lastErrorText(), c.errorText);
    EXPECT_EQ(fake->trustedCertificate(), QStringLiteral("AB:CD"));
    const QStringList transcript = fake->transcript();
    qsizetype encryptedAt = transcript.indexOf(QStringLiteral("-- starttls"));
    if (c.security == Pop3Client::Security::Tls)
        encryptedAt = transcript.indexOf(QStringLiteral("-- connect tls pop.example.test:110"));
    for (qsizetype i = 0; i < transcript.size(); ++i) {
        const QString &line = transcript.at(i);
        if (line.startsWith(QStringLiteral("C: USER")) || line.startsWith(QStringLiteral("C: PASS"))
            || line.startsWith(QStringLiteral("C: APOP"))) {
            EXPECT_TRUE(c.ok) << "credentials sent in a failed session: " << transcript.join(u'\n').toStdString();
            EXPECT_TRUE(encryptedAt >= 0 && encryptedAt < i) << transcript.join(u'\n').toStdString();
        }
    }
    if (!c.ok) {
        EXPECT_FALSE(fake->isConnected());
    }
    // Inside TLS, and only after an APOP login that failed, may the caller try USER/PASS.
    EXPECT_EQ(client.apopFallbackAllowed(), c.error == Error::NoApopTimestamp);
}

const auto StartTls = Pop3Client::Security::StartTls;
const auto ImplicitTls = Pop3Client::Security::Tls;
const QString kNotSent = QStringLiteral(" Benutzername und Passwort wurden nicht gesendet.");

INSTANTIATE_TEST_SUITE_P(
    Pop3Client, TlsLoginTest,
    ::testing::Values(
        TlsCase{"StlsThenCapaAgainThenUserPass", StartTls, Pop3Client::AuthKind::UserPass,
                {S("+OK ready"), C("CAPA"), S("+OK"), S("TOP"), S("STLS"), S("."), C("STLS"), S("+OK Begin TLS"),
                 C("CAPA"), S("+OK"), S("TOP"), S("UIDL"), S("."), C("USER bob"), S("+OK"), C("PASS s3cret"),
                 S("+OK")},
                true, Error::None, ""},
        TlsCase{"ApopTakesTheTimestampOfThePlainGreeting", StartTls, Pop3Client::AuthKind::Apop,
                {S("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>"), C("CAPA"), S("+OK"), S("STLS"), S("."),
                 C("STLS"), S("+OK"), C("CAPA"), S("-ERR"),
                 C("APOP bob " + Pop3Client::apopDigest("<1896.697170952@dbc.mtview.ca.us>", "s3cret")), S("+OK")},
                true, Error::None, ""},
        TlsCase{"ServerWithoutCapaIsAskedForStls", StartTls, Pop3Client::AuthKind::UserPass,
                {S("+OK ready"), C("CAPA"), S("-ERR unknown"), C("STLS"), S("+OK"), C("CAPA"), S("-ERR unknown"),
                 C("USER bob"), S("+OK"), C("PASS s3cret"), S("+OK")},
                true, Error::None, ""},
        TlsCase{"ApopWithoutTimestampInsideTlsMayFallBack", ImplicitTls, Pop3Client::AuthKind::Apop,
                {S("+OK ready"), C("CAPA"), S("-ERR")},
                false, Error::NoApopTimestamp, "Server do not support APOP (no timestamp)"},
        TlsCase{"ImplicitTlsLogsInAsUsual", ImplicitTls, Pop3Client::AuthKind::UserPass,
                {S("+OK ready"), C("CAPA"), S("-ERR"), C("USER bob"), S("+OK"), C("PASS s3cret"), S("+OK")},
                true, Error::None, ""},
        TlsCase{"StlsNotOfferedStopsBeforeTheLogin", StartTls, Pop3Client::AuthKind::UserPass,
                {S("+OK ready"), C("CAPA"), S("+OK"), S("TOP"), S("UIDL"), S(".")},
                false, Error::TlsUnavailable,
                QStringLiteral("Der Server pop.example.test bietet keine verschlüsselte Verbindung (STLS) an.")
                    + kNotSent},
        TlsCase{"StlsRefused", StartTls, Pop3Client::AuthKind::Apop,
                {S("+OK ready <1.2@x>"), C("CAPA"), S("-ERR"), C("STLS"), S("-ERR TLS support not configured")},
                false, Error::TlsUnavailable,
                QStringLiteral("Der Server pop.example.test lehnt die verschlüsselte Verbindung (STLS) ab "
                               "(\"TLS support not configured\").")
                    + kNotSent},
        TlsCase{"HandshakeFails", StartTls, Pop3Client::AuthKind::UserPass,
                {S("+OK ready"), C("CAPA"), S("+OK"), S("STLS"), S("."), C("STLS"), S("+OK"),
                 Refuse("Das Zertifikat des Servers pop.example.test wurde abgelehnt: es ist selbst signiert.")},
                false, Error::TlsFailed,
                "Das Zertifikat des Servers pop.example.test wurde abgelehnt: es ist selbst signiert."},
        TlsCase{"ConnectionDroppedInsteadOfTheGoAhead", StartTls, Pop3Client::AuthKind::UserPass,
                {S("+OK ready"), C("CAPA"), S("+OK"), S("STLS"), S("."), C("STLS"), Drop()},
                false, Error::ConnectionLost, "fake: connection closed by the server"}),
    [](const ::testing::TestParamInfo<TlsCase> &info) { return std::string(info.param.name); });

TEST_F(Pop3ClientTest, CapabilitiesFromBeforeTheHandshakeAreForgotten)
{
    client.setSecurity(Pop3Client::Security::StartTls);
    fake->play({S("+OK ready"), C("CAPA"), S("+OK"), S("STLS"), S("SASL PLAIN"), S("."), C("STLS"), S("+OK"),
                C("CAPA"), S("+OK"), S("UIDL"), S("."), C("USER bob"), S("+OK"), C("PASS s3cret"), S("+OK")});
    ASSERT_TRUE(client.connect()) << client.lastErrorText().toStdString();
    EXPECT_EQ(client.capabilities(), QByteArrayList({"UIDL"}));
}

TEST(Pop3ClientApop, DigestOfTheRfc1939Example)
{
    EXPECT_EQ(Pop3Client::apopDigest(kRfcTimestamp, "tanstaaf"), QByteArray("c4c9334bac560ecc979e58001b3e22fb"));
}

TEST_F(Pop3ClientTest, RemembersTheCapabilityListing)
{
    fake->play({S("+OK ready"), C("CAPA"), S("+OK Capability list follows"), S("TOP"), S("uidl"),
                S("SASL PLAIN LOGIN"), S("PIPELINING"), S("."), C("USER bob"), S("+OK"), C("PASS s3cret"),
                S("+OK")});
    ASSERT_TRUE(client.connect());
    EXPECT_EQ(client.capabilities(), QByteArrayList({"TOP", "UIDL", "SASL", "PIPELINING"}));
    EXPECT_TRUE(client.hasCapability("uidl"));
    EXPECT_FALSE(client.hasCapability("STLS"));
}

TEST_F(Pop3ClientTest, RefusedConnectionCarriesTheNetworkText)
{
    fake->play({Refuse("Connection refused")});
    EXPECT_FALSE(client.connect());
    EXPECT_EQ(client.lastError(), Error::ConnectionLost);
    EXPECT_EQ(client.lastErrorText(), QStringLiteral("Connection refused"));
}

TEST_F(Pop3ClientTest, ConnectAgainDropsTheOldSessionWithoutQuit)
{
    login();
    fake->play({Accept(), S("+OK again"), C("CAPA"), S("-ERR"), C("USER bob"), S("+OK"), C("PASS s3cret"), S("+OK")});
    ASSERT_TRUE(client.connect());
    EXPECT_EQ(fake->connectCount(), 2);
    EXPECT_FALSE(fake->written().contains("QUIT"));
}

// --- Commands and their replies -------------------------------------------------------------------------

struct StatCase {
    const char *name;
    QByteArray reply;
    bool ok;
    int count;
    qint64 octets;
    Error error;
};

void PrintTo(const StatCase &c, std::ostream *os)
{
    *os << c.name;
}

class StatTest : public Pop3ClientTest, public ::testing::WithParamInterface<StatCase> {};

TEST_P(StatTest, ReadsCountAndSize)
{
    const StatCase &c = GetParam();
    login();
    fake->play({C("STAT"), S(c.reply)});
    int count = -7;
    qint64 octets = -7;
    EXPECT_EQ(client.stat(&count, &octets), c.ok);
    EXPECT_EQ(client.lastError(), c.error);
    if (c.ok) {
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(octets, c.octets);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pop3Client, StatTest,
    ::testing::Values(StatCase{"CountAndSize", "+OK 2 320", true, 2, 320, Error::None},
                      StatCase{"EmptyMailbox", "+OK 0 0", true, 0, 0, Error::None},
                      StatCase{"SizeMissing", "+OK 5", true, 5, -1, Error::None},
                      StatCase{"ExtraBlanks", "+OK  12   4096 messages", true, 12, 4096, Error::None},
                      StatCase{"CountNotANumber", "+OK many", false, 0, 0, Error::ProtocolError},
                      StatCase{"NegativeCount", "+OK -3 0", false, 0, 0, Error::ProtocolError},
                      StatCase{"NothingAfterOk", "+OK", false, 0, 0, Error::ProtocolError},
                      StatCase{"Refused", "-ERR mailbox locked", false, 0, 0, Error::ServerError}),
    [](const ::testing::TestParamInfo<StatCase> &info) { return std::string(info.param.name); });

struct ListCase {
    const char *name;
    QByteArray reply;
    qint64 size;
};

void PrintTo(const ListCase &c, std::ostream *os)
{
    *os << c.name;
}

class ListTest : public Pop3ClientTest, public ::testing::WithParamInterface<ListCase> {};

TEST_P(ListTest, SizeIsTheSecondWord)
{
    login();
    fake->play({C("LIST 3"), S(GetParam().reply)});
    qint64 size = -7;
    ASSERT_TRUE(client.list(3, &size));
    EXPECT_EQ(size, GetParam().size);
}

INSTANTIATE_TEST_SUITE_P(Pop3Client, ListTest,
                         ::testing::Values(ListCase{"NumberAndSize", "+OK 3 1200", 1200},
                                           ListCase{"SizeMissing", "+OK 3", -1},
                                           ListCase{"NoText", "+OK", -1},
                                           ListCase{"SizeNotANumber", "+OK 3 large", -1}),
                         [](const ::testing::TestParamInfo<ListCase> &info) { return std::string(info.param.name); });

TEST_F(Pop3ClientTest, TopReturnsTheUnstuffedHeaderBlock)
{
    login();
    fake->play({C("TOP 1 0"), S("+OK"), S("Subject: =?ISO-8859-1?Q?Gr=FC=DFe?="), S("X-Odd: .."),
                S("From: a@example.test"), S(""), S(".")});
    QByteArray header;
    ASSERT_TRUE(client.top(1, 0, &header));
    EXPECT_EQ(header, QByteArray("Subject: =?ISO-8859-1?Q?Gr=FC=DFe?=\r\nX-Odd: ..\r\nFrom: a@example.test\r\n\r\n"));
    EXPECT_TRUE(client.isConnected());
}

struct StuffingCase {
    const char *name;
    QList<Step> lines; // after +OK, before the terminating "."
    QByteArray message;
};

void PrintTo(const StuffingCase &c, std::ostream *os)
{
    *os << c.name;
}

class StuffingTest : public Pop3ClientTest, public ::testing::WithParamInterface<StuffingCase> {};

TEST_P(StuffingTest, RetrUnstuffsEveryLine)
{
    login();
    fake->play({C("RETR 2"), S("+OK 99 octets")});
    fake->play(GetParam().lines);
    fake->play({S(".")});
    QByteArray message;
    ASSERT_TRUE(client.retr(2, &message)) << client.lastErrorText().toStdString();
    EXPECT_EQ(message, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Pop3Client, StuffingTest,
    ::testing::Values(
        StuffingCase{"StuffedFirstLine", {S("..x")}, ".x\r\n"},
        StuffingCase{"StuffedFirstBodyLine", {S("Subject: s"), S(""), S("..hidden"), S("shown")},
                     "Subject: s\r\n\r\n.hidden\r\nshown\r\n"},
        StuffingCase{"LoneDotInTheBody", {S("a"), S(".."), S("b")}, "a\r\n.\r\nb\r\n"},
        StuffingCase{"ManyDots", {S("...")}, "..\r\n"},
        StuffingCase{"DotsElsewhereStay", {S(" ."), S("x."), S("a.b")}, " .\r\nx.\r\na.b\r\n"},
        StuffingCase{"EmptyLinesStay", {S(""), S(""), S("end")}, "\r\n\r\nend\r\n"},
        StuffingCase{"EmptyMessage", {}, ""}),
    [](const ::testing::TestParamInfo<StuffingCase> &info) { return std::string(info.param.name); });

TEST_F(Pop3ClientTest, UidlListingAndSingleUidl)
{
    login();
    fake->play({C("UIDL"), S("+OK"), S("1 whqtswO00WBw418f9t5JxYwZ"), S("2  QhdPYR:00WBw1Ph7x7"), S("garbage"),
                S("x 17"), S("."), C("UIDL 2"), S("+OK 2 QhdPYR:00WBw1Ph7x7"), C("UIDL 9"),
                S("-ERR no such message")});
    QMap<int, QByteArray> uids;
    ASSERT_TRUE(client.uidl(&uids));
    EXPECT_EQ(uids, (QMap<int, QByteArray>{{1, "whqtswO00WBw418f9t5JxYwZ"}, {2, "QhdPYR:00WBw1Ph7x7"}}));
    QByteArray uid;
    ASSERT_TRUE(client.uidl(2, &uid));
    EXPECT_EQ(uid, QByteArray("QhdPYR:00WBw1Ph7x7"));
    EXPECT_FALSE(client.uidl(9, &uid));
    EXPECT_EQ(client.lastErrorText(), QStringLiteral("no such message"));
    EXPECT_TRUE(client.isConnected()) << "-ERR leaves the session open";
}

TEST_F(Pop3ClientTest, DeleNoopAndQuit)
{
    login();
    fake->play({C("DELE 1"), S("+OK message 1 deleted"), C("DELE 1"), S("-ERR message 1 already deleted"),
                C("NOOP"), S("+OK"), C("QUIT"), S("+OK bye")});
    EXPECT_TRUE(client.dele(1));
    EXPECT_EQ(client.lastReplyText(), QStringLiteral("message 1 deleted"));
    EXPECT_FALSE(client.dele(1));
    EXPECT_EQ(client.lastError(), Error::ServerError);
    EXPECT_EQ(client.lastErrorText(), QStringLiteral("message 1 already deleted"));
    EXPECT_TRUE(client.noop());
    EXPECT_TRUE(client.quit());
    EXPECT_FALSE(client.isConnected());
    EXPECT_TRUE(closedLast());
}

TEST_F(Pop3ClientTest, QuitRefusedIsReportedAndClosesAnyway)
{
    login();
    fake->play({C("QUIT"), S("-ERR some deleted messages not removed")});
    EXPECT_FALSE(client.quit());
    EXPECT_EQ(client.lastErrorText(), QStringLiteral("some deleted messages not removed"));
    EXPECT_FALSE(client.isConnected());
}

TEST_F(Pop3ClientTest, DisconnectKeepsTheErrorOfTheFailedCommand)
{
    login();
    fake->play({C("DELE 4"), S("-ERR no such message"), C("QUIT"), S("+OK")});
    EXPECT_FALSE(client.dele(4));
    client.disconnect(true);
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(client.lastErrorText(), QStringLiteral("no such message"));
    EXPECT_EQ(client.lastReply(), QByteArray("-ERR no such message"));
}

TEST_F(Pop3ClientTest, DisconnectWithoutQuitSendsNothing)
{
    login();
    client.disconnect(false);
    EXPECT_FALSE(client.isConnected());
    EXPECT_TRUE(closedLast());
}

TEST_F(Pop3ClientTest, CommandsNeedASessionAndAValidNumber)
{
    int count = 0;
    EXPECT_FALSE(client.stat(&count));
    EXPECT_EQ(client.lastError(), Error::NotConnected);
    login();
    EXPECT_FALSE(client.dele(0));
    EXPECT_EQ(client.lastError(), Error::InvalidArgument);
    QByteArray text;
    EXPECT_FALSE(client.top(-1, 0, &text));
    EXPECT_FALSE(client.command("NOOP\r\nDELE 1"));
    EXPECT_EQ(client.lastError(), Error::InvalidArgument);
    EXPECT_EQ(fake->written().size(), 3) << "nothing was sent after the login";
}

// --- Replies that break the session ---------------------------------------------------------------------

struct BadReplyCase {
    const char *name;
    QByteArray reply;
    int code;
};

void PrintTo(const BadReplyCase &c, std::ostream *os)
{
    *os << c.name;
}

class BadReplyTest : public Pop3ClientTest, public ::testing::WithParamInterface<BadReplyCase> {};

TEST_P(BadReplyTest, IsAProtocolErrorNotSuccess)
{
    login();
    fake->play({C("DELE 1"), S(GetParam().reply)});
    EXPECT_FALSE(client.dele(1));
    EXPECT_EQ(client.lastError(), Error::ProtocolError);
    EXPECT_EQ(client.lastReplyCode(), GetParam().code);
    EXPECT_EQ(client.lastErrorText(),
              QStringLiteral("Unerwartete Antwort des Servers: ") + QString::fromLatin1(GetParam().reply));
    EXPECT_FALSE(client.isConnected()) << "the stream is out of step: the connection must go";
}

INSTANTIATE_TEST_SUITE_P(Pop3Client, BadReplyTest,
                         ::testing::Values(BadReplyCase{"WithoutSign", "OK deleted", 0},
                                           BadReplyCase{"Numeric", "421 service not available", 421},
                                           BadReplyCase{"OkGluedToText", "+OKAY", 0},
                                           BadReplyCase{"Empty", "", 0}),
                         [](const ::testing::TestParamInfo<BadReplyCase> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(Pop3ClientTest, ReplyCodeIsZeroForOkAndErr)
{
    login();
    fake->play({C("NOOP"), S("+OK"), C("NOOP"), S("-ERR no")});
    EXPECT_TRUE(client.noop());
    EXPECT_EQ(client.lastReplyCode(), 0);
    EXPECT_FALSE(client.noop());
    EXPECT_EQ(client.lastReplyCode(), 0);
}

struct LongLineCase {
    const char *name;
    bool inStatusLine;
    int length;
    bool ok;
};

void PrintTo(const LongLineCase &c, std::ostream *os)
{
    *os << c.name;
}

class LongLineTest : public Pop3ClientTest, public ::testing::WithParamInterface<LongLineCase> {};

TEST_P(LongLineTest, LinesUpTo65536OctetsPass)
{
    const LongLineCase &c = GetParam();
    login();
    fake->play({C("TOP 1 0")});
    if (c.inStatusLine)
        fake->play({LongLine(c.length)});
    else
        fake->play({S("+OK"), S("Subject: x"), LongLine(c.length), S("")});
    fake->play({S(".")});
    QByteArray header;
    EXPECT_EQ(client.top(1, 0, &header), c.ok);
    if (!c.ok) {
        EXPECT_EQ(client.lastError(), Error::LineTooLong);
        EXPECT_FALSE(client.isConnected());
        EXPECT_TRUE(header.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Pop3Client, LongLineTest,
                         ::testing::Values(LongLineCase{"BodyLineAtTheLimit", false, 65536, true},
                                           LongLineCase{"BodyLineOneOctetOver", false, 65537, false},
                                           LongLineCase{"EndlessBodyLine", false, 50 * 1024 * 1024, false},
                                           LongLineCase{"StatusLineOver", true, 65537, false}),
                         [](const ::testing::TestParamInfo<LongLineCase> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(Pop3ClientTest, StatusLineOverTheLimitAlsoFailsDuringLogin)
{
    fake->play({LongLine(65537)});
    EXPECT_FALSE(client.connect());
    EXPECT_EQ(client.lastError(), Error::LineTooLong);
}

TEST_F(Pop3ClientTest, ReplyLargerThanAllowedFails)
{
    login();
    client.setMaxReplySize(10);
    fake->play({C("RETR 1"), S("+OK"), S("0123456789"), S("more"), S(".")});
    QByteArray message;
    EXPECT_FALSE(client.retr(1, &message));
    EXPECT_EQ(client.lastError(), Error::ReplyTooLarge);
    EXPECT_TRUE(message.isEmpty());
    EXPECT_FALSE(client.isConnected());
}

// Every multi-line reply has a limit that fits it, so that no server can make the client collect without
// end: the capability listing before the login too, and a UIDL listing by the session's STAT count.
struct LimitCase {
    const char *name;
    QList<Step> script;                               // after the login
    std::function<bool(Pop3Client &)> command;
    bool ok;
};

void PrintTo(const LimitCase &c, std::ostream *os)
{
    *os << c.name;
}

class ReplyLimitTest : public Pop3ClientTest, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(ReplyLimitTest, RefusesWhatDoesNotFit)
{
    const LimitCase &c = GetParam();
    login();
    client.setMaxHeaderSize(100);
    client.setMaxReplySize(1000);
    fake->play(c.script);
    EXPECT_EQ(c.command(client), c.ok) << client.lastErrorText().toStdString();
    if (!c.ok) {
        EXPECT_EQ(client.lastError(), Error::ReplyTooLarge);
        EXPECT_FALSE(client.isConnected()) << "the rest of the reply must never be read as the next answer";
    }
}

QList<Step> linesOf(int count, const QByteArray &line)
{
    QList<Step> steps;
    for (int i = 0; i < count; ++i)
        steps << S(line);
    return steps;
}

bool topHeader(Pop3Client &client)
{
    QByteArray text;
    return client.top(1, 0, &text);
}

bool topWithBody(Pop3Client &client)
{
    QByteArray text;
    return client.top(1, 5, &text);
}

bool listing(Pop3Client &client)
{
    QMap<int, QByteArray> uids;
    return client.uidl(&uids);
}

bool statThenListing(Pop3Client &client)
{
    int count = 0;
    return client.stat(&count) && listing(client);
}

bool statThenSizes(Pop3Client &client)
{
    int count = 0;
    QMap<int, qint64> sizes;
    return client.stat(&count) && client.list(&sizes);
}

INSTANTIATE_TEST_SUITE_P(
    Pop3Client, ReplyLimitTest,
    ::testing::Values(
        LimitCase{"HeaderBlockWithinItsCap",
                  QList<Step>{C("TOP 1 0"), S("+OK")} << linesOf(8, "Subject: 1") << S("."), topHeader, true},
        LimitCase{"HeaderBlockOverItsCap",
                  QList<Step>{C("TOP 1 0"), S("+OK")} << linesOf(9, "Subject: 1") << S("."), topHeader, false},
        LimitCase{"TopWithBodyLinesHasTheReplyCap",
                  QList<Step>{C("TOP 1 5"), S("+OK")} << linesOf(9, "Subject: 1") << S("."), topWithBody,
                  true},
        LimitCase{"ListingAsLongAsTheCount",
                  QList<Step>{C("STAT"), S("+OK 2 20"), C("UIDL"), S("+OK"), S("1 a"), S("2 b"), S(".")},
                  statThenListing, true},
        LimitCase{"ListingLongerThanTheCount",
                  QList<Step>{C("STAT"), S("+OK 2 20"), C("UIDL"), S("+OK"), S("1 a"), S("2 b"), S("2 c"),
                              S(".")},
                  statThenListing, false},
        LimitCase{"EndlessListingOfAnEmptyMailbox",
                  QList<Step>{C("STAT"), S("+OK 0 0"), C("UIDL"), S("+OK")} << linesOf(5, "1 a"),
                  statThenListing, false},
        LimitCase{"SizeListingLongerThanTheCount",
                  QList<Step>{C("STAT"), S("+OK 1 20"), C("LIST"), S("+OK"), S("1 20"), S("1 20"), S(".")},
                  statThenSizes, false}),
    [](const ::testing::TestParamInfo<LimitCase> &info) { return std::string(info.param.name); });

TEST_F(Pop3ClientTest, EndlessCapabilityListingFailsTheConnectEarly)
{
    // Far below the general reply limit: the listing comes before any login.
    QList<Step> script{S("+OK ready"), C("CAPA"), S("+OK")};
    script << linesOf(1000, "X-CAPABILITY-FILLER");
    fake->play(script);
    EXPECT_FALSE(client.connect());
    EXPECT_EQ(client.lastError(), Error::ReplyTooLarge);
    EXPECT_LE(fake->transcript().count(QStringLiteral("S: X-CAPABILITY-FILLER")),
              int(Pop3Client::kMaxCapabilityListing / 20) + 1);
    EXPECT_FALSE(fake->isConnected());
    fake->play({Accept()});
    fake->play(loginSteps());
    EXPECT_TRUE(client.connect());
}

TEST_F(Pop3ClientTest, ListingLeavesOutNumbersBeyondTheCountAndOverlongIds)
{
    login();
    const QByteArray longId(Pop3Client::kMaxUidLength + 1, 'u');
    fake->play({C("STAT"), S("+OK 3 30"), C("UIDL"), S("+OK"), S("1 a"), S("7 b"), S("3 " + longId), S(".")});
    int count = 0;
    ASSERT_TRUE(client.stat(&count));
    EXPECT_EQ(client.sessionMessageCount(), 3);
    QMap<int, QByteArray> uids;
    ASSERT_TRUE(client.uidl(&uids));
    EXPECT_EQ(uids, (QMap<int, QByteArray>{{1, "a"}}));
}

TEST_F(Pop3ClientTest, SizeListingKeepsOnlyNumberedSizesWithinTheCount)
{
    login();
    fake->play({C("STAT"), S("+OK 6 3000"), C("LIST"), S("+OK 6 messages"), S("1 100"), S("2 large"), S("3"),
                S("9 50"), S("4  400"), S(".")});
    int count = 0;
    ASSERT_TRUE(client.stat(&count));
    QMap<int, qint64> sizes;
    ASSERT_TRUE(client.list(&sizes));
    EXPECT_EQ(sizes, (QMap<int, qint64>{{1, 100}, {4, 400}}));
}

// --- Batches --------------------------------------------------------------------------------------------

// A batch of commands and the replies it handed on, one line each: "+OK text", "+OK <n lines>" for a
// listing, "-ERR text".
struct BatchRun {
    bool ok = false;
    QStringList replies;
};

BatchRun runBatch(Pop3Client &client, const QList<Pop3Client::BatchCommand> &commands, int stopAfter = -1)
{
    BatchRun run;
    qsizetype next = 0;
    run.ok = client.batch(
        [&](Pop3Client::BatchCommand *command) {
            if (next == commands.size())
                return false;
            *command = commands.at(next++);
            return true;
        },
        [&](const Pop3Client::BatchCommand &command, Pop3Client::BatchReply &reply) {
            QString line = QString::fromLatin1(command.line) + QStringLiteral(": ");
            if (!reply.ok)
                line += QStringLiteral("-ERR ") + reply.errorText;
            else if (command.multiLine)
                line += QStringLiteral("+OK <%1 lines>").arg(reply.data.count("\r\n"));
            else
                line += QStringLiteral("+OK ") + QString::fromLatin1(reply.text);
            run.replies << line;
            return stopAfter < 0 || run.replies.size() < stopAfter;
        });
    return run;
}

QList<Pop3Client::BatchCommand> deletions(int count, int padding = 0)
{
    QList<Pop3Client::BatchCommand> commands;
    for (int n = 1; n <= count; ++n)
        commands.append({"DELE " + QByteArray::number(n) + QByteArray(padding, ' ') + 'x', false});
    return commands;
}

// The most commands the transcript shows written and not yet answered by a status line.
int mostInFlight(const QStringList &transcript)
{
    int inFlight = 0;
    int most = 0;
    for (const QString &line : transcript) {
        if (line.startsWith(QLatin1String("C: ")))
            most = std::max(most, ++inFlight);
        else if (line.startsWith(QLatin1String("S: +OK")) || line.startsWith(QLatin1String("S: -ERR")))
            --inFlight;
    }
    return most;
}

QList<Step> pipeliningLoginSteps()
{
    return {S("+OK POP3 ready"), C("CAPA"), S("+OK"), S("TOP"), S("UIDL"), S("PIPELINING"), S("."), C("USER bob"),
            S("+OK"), C("PASS s3cret"), S("+OK logged in")};
}

struct WindowCase {
    const char *name;
    bool offered;        // CAPA lists PIPELINING
    bool allowed;        // setPipelining()
    int commands;
    int padding;         // octets added to each command line
    int mostInFlight;
};

void PrintTo(const WindowCase &c, std::ostream *os)
{
    *os << c.name;
}

class BatchWindowTest : public Pop3ClientTest, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(BatchWindowTest, CommandsRunAheadOnlyWithinTheWindow)
{
    const WindowCase &c = GetParam();
    fake->play(c.offered ? pipeliningLoginSteps() : loginSteps());
    ASSERT_TRUE(client.connect());
    client.setPipelining(c.allowed);
    // A strict server for one command at a time: a command before the last reply was read is a mismatch.
    fake->readsAhead = c.mostInFlight > 1;
    QList<Step> script;
    QStringList expected;
    const QList<Pop3Client::BatchCommand> commands = deletions(c.commands, c.padding);
    for (int n = 1; n <= c.commands; ++n) {
        script << C(commands.at(n - 1).line) << S("+OK " + QByteArray::number(n) + " deleted");
        expected << QStringLiteral("%1: +OK %2 deleted").arg(QString::fromLatin1(commands.at(n - 1).line)).arg(n);
    }
    fake->play(script);
    const qsizetype loginLines = fake->transcript().size();

    const BatchRun run = runBatch(client, commands);
    EXPECT_TRUE(run.ok) << client.lastErrorText().toStdString();
    EXPECT_EQ(run.replies, expected) << "every reply, in the order of the commands";
    EXPECT_EQ(mostInFlight(fake->transcript().mid(loginLines)), c.mostInFlight);
    EXPECT_TRUE(client.isConnected());
}

INSTANTIATE_TEST_SUITE_P(
    Pop3Client, BatchWindowTest,
    ::testing::Values(WindowCase{"OneAtATimeWithoutPipelining", false, true, 5, 0, 1},
                      WindowCase{"OneAtATimeWhenNotAllowed", true, false, 5, 0, 1},
                      WindowCase{"AheadUpToTheCountOfTheWindow", true, true, 250, 0, Pop3Client::kPipelineWindow},
                      // Lines of 200 octets with their CR LF: ten fit into the window's octets.
                      WindowCase{"AheadUpToTheOctetsOfTheWindow", true, true, 30, 191, 10}),
    [](const ::testing::TestParamInfo<WindowCase> &info) { return std::string(info.param.name); });

TEST_F(Pop3ClientTest, BatchSendsItsCommandsBeforeTheFirstReplyArrives)
{
    fake->play(pipeliningLoginSteps());
    ASSERT_TRUE(client.connect());
    fake->readsAhead = true;
    fake->play({C("TOP 1 0"), S("+OK"), S("Subject: one"), S(""), S("."), C("TOP 2 0"), S("-ERR no such message"),
                C("TOP 3 0"), S("+OK"), S("Subject: three"), S(".")});
    const qsizetype loginLines = fake->transcript().size();
    const BatchRun run = runBatch(client, {{"TOP 1 0", true}, {"TOP 2 0", true}, {"TOP 3 0", true}});
    EXPECT_TRUE(run.ok);
    // A -ERR in the middle of the window is that command's answer; the batch goes on.
    EXPECT_EQ(run.replies, QStringList({QStringLiteral("TOP 1 0: +OK <2 lines>"),
                                        QStringLiteral("TOP 2 0: -ERR no such message"),
                                        QStringLiteral("TOP 3 0: +OK <1 lines>")}));
    EXPECT_EQ(fake->transcript().mid(loginLines, 4),
              QStringList({QStringLiteral("C: TOP 1 0"), QStringLiteral("C: TOP 2 0"), QStringLiteral("C: TOP 3 0"),
                           QStringLiteral("S: +OK")}));
    fake->play({C("NOOP"), S("+OK")});
    EXPECT_TRUE(client.noop()) << "the session is still in step";
}

// However the session fails with replies outstanding, it goes, so that no late reply is read as the
// answer to a later command.
struct BatchFailureCase {
    const char *name;
    QList<Step> afterFirstReply; // the rest of the server's side
    int handedOn;                // replies the batch handed on before it failed
    Error error;
    QString errorText;
};

void PrintTo(const BatchFailureCase &c, std::ostream *os)
{
    *os << c.name;
}

class BatchFailureTest : public Pop3ClientTest, public ::testing::WithParamInterface<BatchFailureCase> {};

TEST_P(BatchFailureTest, EndsTheSession)
{
    const BatchFailureCase &c = GetParam();
    fake->play(pipeliningLoginSteps());
    ASSERT_TRUE(client.connect());
    client.setMaxHeaderSize(100);
    client.setReadTimeout(200);
    client.setReplyDeadline(250);
    fake->readsAhead = true;
    fake->play(QList<Step>{C("TOP 1 0"), C("RETR 2"), C("TOP 3 0"), S("+OK"), S("Subject: one"), S(".")}
               << c.afterFirstReply);
    const BatchRun run = runBatch(client, {{"TOP 1 0", true}, {"RETR 2", true}, {"TOP 3 0", true}});
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.replies.size(), c.handedOn);
    EXPECT_EQ(run.replies.first(), QStringLiteral("TOP 1 0: +OK <1 lines>"));
    EXPECT_EQ(client.lastError(), c.error);
    EXPECT_EQ(client.lastErrorText(), c.errorText);
    EXPECT_FALSE(client.isConnected());
    EXPECT_FALSE(client.noop());
    EXPECT_EQ(client.lastError(), Error::NotConnected);
}

QList<Step> longHeader()
{
    QList<Step> steps{S("+OK")};
    for (int i = 0; i < 9; ++i)
        steps << S("Subject: 1");
    return steps << S(".");
}

INSTANTIATE_TEST_SUITE_P(
    Pop3Client, BatchFailureTest,
    ::testing::Values(
        BatchFailureCase{"DroppedWithRepliesOutstanding", {S("+OK"), S("Subject: two"), Drop()}, 1,
                         Error::ConnectionLost, "fake: connection closed by the server"},
        BatchFailureCase{"AnswerOutOfStep", {S("Subject: two"), S(".")}, 1, Error::ProtocolError,
                         "Unerwartete Antwort des Servers: Subject: two"},
        BatchFailureCase{"SilentAfterTheFirstReply", {}, 1, Error::TimedOut, "fake: read timed out"},
        // Each reply has its deadline from the wait for its status line on.
        BatchFailureCase{"ReplyDrippedPastItsDeadline",
                         {S("+OK"), Pause(100), S("a"), Pause(100), S("b"), Pause(100), S("c"), S(".")}, 1,
                         Error::TimedOut,
                         "Zeitüberschreitung: Der Server hat seine Antwort nicht in der vorgesehenen Zeit "
                         "vollständig gesendet."},
        // RETR 2 was sent after TOP 1 0, yet TOP 3 0 keeps the header block's own limit.
        BatchFailureCase{"ReplyBeyondItsOwnCommandsLimit",
                         QList<Step>{S("+OK"), S("Subject: two"), S(".")} << longHeader(), 2, Error::ReplyTooLarge,
                         "Die Antwort des Servers ist zu groß (mehr als 100 Bytes)."}),
    [](const ::testing::TestParamInfo<BatchFailureCase> &info) { return std::string(info.param.name); });

// A server that offers PIPELINING but loses what was sent ahead is found out within the probe, not after the
// read time-out; once a command sent ahead has been answered, a slow reply is waited for as usual.
TEST_F(Pop3ClientTest, ACommandSentAheadIsAwaitedWithinTheProbeUntilTheServerHasAnsweredOne)
{
    struct Case {
        const char *name;
        QList<Step> replies; // after TOP 1 0, TOP 2 0 and TOP 3 0 were written
        bool ok;
        qsizetype handedOn;
    };
    const QList<Step> one{S("+OK"), S("Subject: one"), S(".")};
    const QList<Step> two{S("+OK"), S("Subject: two"), S(".")};
    const QList<Step> three{S("+OK"), S("Subject: three"), S(".")};
    for (const Case &c : {Case{"LostAhead", one + QList<Step>{Pause(30000)} + two + three, false, 1},
                          Case{"SlowAfterTheFirstAnswerAhead", one + two + QList<Step>{Pause(300)} + three, true, 3}}) {
        SCOPED_TRACE(c.name);
        fake->play({Accept()});
        fake->play(pipeliningLoginSteps());
        ASSERT_TRUE(client.connect());
        client.setReadTimeout(60000);
        client.setAheadProbe(100);
        fake->readsAhead = true;
        fake->play(QList<Step>{C("TOP 1 0"), C("TOP 2 0"), C("TOP 3 0")} << c.replies);
        const BatchRun run = runBatch(client, {{"TOP 1 0", true}, {"TOP 2 0", true}, {"TOP 3 0", true}});
        EXPECT_EQ(run.ok, c.ok);
        EXPECT_EQ(run.replies.size(), c.handedOn);
        if (!c.ok) {
            EXPECT_EQ(client.lastError(), Error::TimedOut);
        }
        client.disconnect(false);
    }
}

TEST_F(Pop3ClientTest, StoppingABatchDropsTheSessionOnlyWithRepliesOutstanding)
{
    for (const bool ahead : {true, false}) {
        SCOPED_TRACE(ahead);
        fake->play({Accept()});
        fake->play(pipeliningLoginSteps());
        ASSERT_TRUE(client.connect());
        client.setPipelining(ahead);
        fake->readsAhead = ahead;
        fake->play({C("DELE 1"), S("+OK")});
        // Waiting for each reply, the batch sends nothing after the one it stops at.
        if (ahead)
            fake->play({C("DELE 2"), S("+OK"), C("DELE 3"), S("+OK")});
        const BatchRun run = runBatch(client, {{"DELE 1", false}, {"DELE 2", false}, {"DELE 3", false}}, 1);
        EXPECT_TRUE(run.ok);
        EXPECT_EQ(run.replies.size(), 1);
        EXPECT_EQ(client.isConnected(), !ahead);
        if (!ahead) {
            fake->play({C("QUIT"), S("+OK")});
            EXPECT_TRUE(client.quit());
        }
    }
}

// A reply that comes in a line at a time, each line within the read time-out, still has to end.
struct DeadlineCase {
    const char *name;
    int replyDeadlineMs;
    int deadlineMs;        // overall deadline from the command on; -1: none
    QList<Step> reply;     // after "TOP 1 0"
    bool ok;
    QString errorText;
};

void PrintTo(const DeadlineCase &c, std::ostream *os)
{
    *os << c.name;
}

class DeadlineTest : public Pop3ClientTest, public ::testing::WithParamInterface<DeadlineCase> {};

TEST_P(DeadlineTest, EndsTheWaitForAReply)
{
    const DeadlineCase &c = GetParam();
    login();
    client.setReadTimeout(1000);
    client.setReplyDeadline(c.replyDeadlineMs);
    if (c.deadlineMs >= 0)
        client.setDeadline(QDeadlineTimer(c.deadlineMs));
    fake->play(QList<Step>{C("TOP 1 0")} << c.reply);
    QByteArray text;
    EXPECT_EQ(client.top(1, 0, &text), c.ok);
    EXPECT_EQ(client.lastErrorText(), c.errorText);
    if (!c.ok) {
        EXPECT_EQ(client.lastError(), Error::TimedOut);
        EXPECT_FALSE(client.isConnected());
    }
}

QList<Step> dripped(int lines, int pauseMs)
{
    QList<Step> steps{S("+OK")};
    for (int i = 0; i < lines; ++i)
        steps << Pause(pauseMs) << S("X-Drip: " + QByteArray::number(i));
    return steps << S(".");
}

const QString kReplyTooSlow =
    QStringLiteral("Zeitüberschreitung: Der Server hat seine Antwort nicht in der vorgesehenen Zeit vollständig gesendet.");

INSTANTIATE_TEST_SUITE_P(
    Pop3Client, DeadlineTest,
    ::testing::Values(DeadlineCase{"DrippedWithinTheReplyDeadline", 2000, -1, dripped(3, 10), true, ""},
                      DeadlineCase{"DrippedBeyondTheReplyDeadline", 60, -1, dripped(50, 10), false, kReplyTooSlow},
                      DeadlineCase{"SilentLongerThanTheReadTimeOut", 5000, -1, {Pause(1500), S("+OK")}, false,
                                   QStringLiteral("fake: read timed out")},
                      DeadlineCase{"OverallDeadlineCutsTheWait", 5000, 50, {Pause(500), S("+OK")}, false,
                                   QStringLiteral("Zeitüberschreitung: Die für diesen Server vorgesehene Zeit ist "
                                                  "abgelaufen.")}),
    [](const ::testing::TestParamInfo<DeadlineCase> &info) { return std::string(info.param.name); });

TEST_F(Pop3ClientTest, DisconnectTellsWhetherQuitWasConfirmed)
{
    struct Case {
        QList<Step> quit;
        bool confirmed;
    };
    for (const Case &c : {Case{{C("QUIT"), S("+OK bye")}, true}, Case{{C("QUIT"), S("-ERR not removed")}, false},
                          Case{{C("QUIT"), Drop()}, false}}) {
        fake->play({Accept()});
        login();
        fake->play(c.quit);
        EXPECT_EQ(client.disconnect(true), c.confirmed);
        EXPECT_FALSE(client.isConnected());
    }
    fake->play({Accept()});
    login();
    EXPECT_FALSE(client.disconnect(false)) << "no QUIT, nothing confirmed";
}

TEST_F(Pop3ClientTest, SilentServerTimesOutAndTheLateReplyIsNeverRead)
{
    login();
    fake->play({C("STAT")});
    int count = 0;
    EXPECT_FALSE(client.stat(&count));
    EXPECT_EQ(client.lastError(), Error::TimedOut);
    EXPECT_FALSE(client.isConnected());
    EXPECT_TRUE(closedLast());
    EXPECT_FALSE(client.noop());
    EXPECT_EQ(client.lastError(), Error::NotConnected);
}

TEST_F(Pop3ClientTest, ConnectionDroppedInTheMiddleOfTop)
{
    login();
    fake->play({C("TOP 1 0"), S("+OK"), S("Subject: half"), Drop()});
    QByteArray header;
    EXPECT_FALSE(client.top(1, 0, &header));
    EXPECT_EQ(client.lastError(), Error::ConnectionLost);
    EXPECT_TRUE(header.isEmpty());
    EXPECT_FALSE(client.isConnected());
}

// --- Calls from event handlers during a wait, and abort -------------------------------------------------

TEST_F(Pop3ClientTest, SecondCommandDuringAWaitIsRefused)
{
    login();
    fake->play({C("STAT"), S("+OK 1 10")});
    bool nested = true;
    fake->duringRead = [&] {
        fake->duringRead = nullptr;
        int n = 0;
        nested = client.stat(&n);
    };
    int count = 0;
    EXPECT_TRUE(client.stat(&count));
    EXPECT_FALSE(nested);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(client.lastError(), Error::None);
}

TEST_F(Pop3ClientTest, ForceCloseDuringAWaitAbortsTheCommand)
{
    login();
    fake->play({C("TOP 1 0"), S("+OK"), S("Subject: x"), S(".")});
    fake->duringRead = [&] {
        fake->duringRead = nullptr;
        client.forceClose();
    };
    QByteArray header;
    EXPECT_FALSE(client.top(1, 0, &header));
    EXPECT_EQ(client.lastError(), Error::Aborted);
    EXPECT_FALSE(client.isConnected());
}

TEST_F(Pop3ClientTest, AbortMakesTheNextCommandFailUntilReconnect)
{
    login();
    client.abort();
    EXPECT_FALSE(client.noop());
    EXPECT_EQ(client.lastError(), Error::NotConnected);
    fake->play({Accept()});
    fake->play(loginSteps());
    EXPECT_TRUE(client.connect());
}

// --- Trace ----------------------------------------------------------------------------------------------

TEST_F(Pop3ClientTest, TraceMasksPasswordAndDigest)
{
    qputenv("QUARVEL_POP3_TRACE", "1");
    FakeLineSocket *traced = nullptr;
    Pop3Client tracing([&traced] {
        auto socket = std::make_unique<FakeLineSocket>();
        traced = socket.get();
        return socket;
    });
    qunsetenv("QUARVEL_POP3_TRACE");
    tracing.setUserName(QStringLiteral("mrose"));
    tracing.setPassword(QStringLiteral("tanstaaf"));
    tracing.setAuthKind(Pop3Client::AuthKind::Apop);
    traced->play({S(kRfcGreeting), C("CAPA"), S("-ERR"), C("APOP mrose c4c9334bac560ecc979e58001b3e22fb"), S("+OK"),
                  Accept(), S("+OK ready"), C("CAPA"), S("-ERR"), C("USER mrose"), S("+OK"), C("PASS tanstaaf"),
                  S("+OK")});
    ::testing::internal::CaptureStderr();
    const bool apop = tracing.connect();
    tracing.setAuthKind(Pop3Client::AuthKind::UserPass);
    const bool userPass = tracing.connect();
    const std::string trace = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(apop && userPass);
    EXPECT_NE(trace.find("POP3 C: APOP mrose ********"), std::string::npos) << trace;
    EXPECT_NE(trace.find("POP3 C: PASS ********"), std::string::npos) << trace;
    EXPECT_NE(trace.find("POP3 S: +OK ready"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("tanstaaf"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("c4c9334bac560ecc979e58001b3e22fb"), std::string::npos) << trace;
    EXPECT_TRUE(traced->mismatches().isEmpty());
}

// --- Login with an access token ------------------------------------------------------------------------

QByteArray xoauth2(const QByteArray &user, const QByteArray &token)
{
    return ("user=" + user + "\x01" "auth=Bearer " + token + "\x01\x01").toBase64();
}

QByteArray oauthBearer(const QByteArray &user, const QByteArray &token)
{
    return ("n,a=" + user + ",\x01" "host=pop.example.test\x01" "port=995\x01" "auth=Bearer " + token + "\x01\x01")
        .toBase64();
}

const QByteArray kRefusalChallenge = QByteArray(R"({"status":"401","schemes":"bearer"})").toBase64();

struct BearerCase {
    const char *name;
    QList<Step> script;
    bool ok;
    QByteArray mechanism;
    Error error;
    QString errorText;
};

void PrintTo(const BearerCase &c, std::ostream *os)
{
    *os << c.name;
}

class BearerLoginTest : public Pop3ClientTest, public ::testing::WithParamInterface<BearerCase> {};

TEST_P(BearerLoginTest, SendsTheTokenAndAnswersARefusal)
{
    const BearerCase &c = GetParam();
    client.setPort(995);
    client.setUserName(QStringLiteral("bob@example.test"));
    client.setPassword(QStringLiteral("ya29.token"));
    client.setAuthKind(Pop3Client::AuthKind::Bearer);
    fake->play(c.script);
    EXPECT_EQ(client.connect(), c.ok);
    EXPECT_EQ(client.bearerMechanismUsed(), c.mechanism);
    EXPECT_EQ(client.lastError(), c.error);
    EXPECT_EQ(client.lastErrorText(), c.errorText);
    EXPECT_EQ(client.failureKind(), c.error == Error::ServerError ? TFailureKind::LoginRefused : TFailureKind::Other);
}

const auto capaWith = [](const QByteArray &sasl) {
    return QList<Step>{S("+OK ready"), C("CAPA"), S("+OK"), S("UIDL"), S("SASL " + sasl), S(".")};
};

INSTANTIATE_TEST_SUITE_P(
    Pop3Client, BearerLoginTest,
    ::testing::Values(
        BearerCase{"XOAuth2", capaWith("PLAIN XOAUTH2") + QList<Step>{C("AUTH XOAUTH2"), S("+ "),
                   C(xoauth2("bob@example.test", "ya29.token")), S("+OK Welcome.")},
                   true, "XOAUTH2", Error::None, ""},
        BearerCase{"OAuthBearerWhereOffered", capaWith("XOAUTH2 OAUTHBEARER") + QList<Step>{C("AUTH OAUTHBEARER"), S("+"),
                   C(oauthBearer("bob@example.test", "ya29.token")), S("+OK")},
                   true, "OAUTHBEARER", Error::None, ""},
        BearerCase{"WithoutCapabilitiesXOAuth2",
                   {S("+OK ready"), C("CAPA"), S("-ERR no"), C("AUTH XOAUTH2"), S("+ "),
                    C(xoauth2("bob@example.test", "ya29.token")), S("+OK")},
                   true, "XOAUTH2", Error::None, ""},
        // The error challenge is answered with an empty line; then the server's -ERR ends the login.
        BearerCase{"RefusedXOAuth2", capaWith("XOAUTH2") + QList<Step>{C("AUTH XOAUTH2"), S("+ "),
                   C(xoauth2("bob@example.test", "ya29.token")), S("+ " + kRefusalChallenge), C(""),
                   S("-ERR [AUTH] Authentication failed.")},
                   false, "", Error::ServerError,
                   "[AUTH] Authentication failed. Der Server hat das Zugangszeichen nicht angenommen (Status 401)."},
        // RFC 7628: OAUTHBEARER's answer is a single 0x01.
        BearerCase{"RefusedOAuthBearer", capaWith("OAUTHBEARER") + QList<Step>{C("AUTH OAUTHBEARER"), S("+ "),
                   C(oauthBearer("bob@example.test", "ya29.token")), S("+ " + kRefusalChallenge), C("AQ=="),
                   S("-ERR nope")},
                   false, "", Error::ServerError, "nope Der Server hat das Zugangszeichen nicht angenommen (Status 401)."},
        BearerCase{"MechanismRefused", capaWith("XOAUTH2") + QList<Step>{C("AUTH XOAUTH2"), S("-ERR not now")},
                   false, "", Error::ServerError, "not now"},
        // Nothing goes out to a server that takes passwords only.
        BearerCase{"NotOffered", capaWith("PLAIN"), false, "", Error::InvalidArgument,
                   "Der Server pop.example.test bietet keine Anmeldung beim Anbieter (XOAUTH2, OAUTHBEARER) an."}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Pop3ClientTest, TheTraceMasksTheToken)
{
    FakeLineSocket *traced = nullptr;
    qputenv("QUARVEL_POP3_TRACE", "1");
    Pop3Client tracing([&traced] {
        auto socket = std::make_unique<FakeLineSocket>();
        traced = socket.get();
        return socket;
    });
    qunsetenv("QUARVEL_POP3_TRACE");
    tracing.setHost(QStringLiteral("pop.example.test"));
    tracing.setUserName(QStringLiteral("bob"));
    tracing.setPassword(QStringLiteral("ya29.secret-token"));
    tracing.setAuthKind(Pop3Client::AuthKind::Bearer);
    traced->play({S("+OK"), C("CAPA"), S("-ERR"), C("AUTH XOAUTH2"), S("+ "), C(xoauth2("bob", "ya29.secret-token")),
                  S("+OK")});
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(tracing.connect());
    const std::string trace = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(trace.find(xoauth2("bob", "ya29.secret-token").constData()), std::string::npos) << trace;
    EXPECT_NE(trace.find("POP3 C: ********"), std::string::npos) << trace;
    EXPECT_TRUE(traced->mismatches().isEmpty());
}

} // namespace
