// The IMAP client against scripted conversations: the login in its forms and with STARTTLS, responses
// whose literals and untagged parts come however the server cuts them, and how it fails.
#include "FakeLineSocket.h"
#include "ImapClient.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

namespace {

using Step = FakeLineSocket::Step;
using Error = ImapClient::Error;

QByteArray plain(const QByteArray &user, const QByteArray &password)
{
    return (QByteArray(1, '\0') + user + QByteArray(1, '\0') + password).toBase64();
}

class ImapClientTest : public ::testing::Test {
protected:
    ImapClientTest()
        : client([this] {
              auto socket = std::make_unique<FakeLineSocket>();
              fake = socket.get();
              return socket;
          })
    {
        client.setHost(QStringLiteral("imap.example.test"));
        client.setPort(143);
        client.setUserName(QStringLiteral("bob"));
        client.setPassword(QStringLiteral("s3cret"));
    }

    void TearDown() override
    {
        EXPECT_EQ(fake->mismatches(), QStringList()) << transcript();
        EXPECT_EQ(fake->unplayed(), QStringList()) << transcript();
    }

    std::string transcript() const { return fake->transcript().join(u'\n').toStdString(); }

    void login()
    {
        fake->play({S("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN IDLE] ready"),
                    C("A1 AUTHENTICATE PLAIN " + plain("bob", "s3cret")), S("A1 OK [CAPABILITY IMAP4rev1 IDLE] in")});
        ASSERT_TRUE(client.connect()) << client.lastErrorText().toStdString();
    }

    // Runs command and collects its untagged responses.
    bool run(const QByteArray &command, QList<ImapResponse> *untagged = nullptr)
    {
        return client.command(command, [untagged](const ImapResponse &r) {
            if (untagged)
                untagged->append(r);
        });
    }

    bool closedLast() const
    {
        const QString last = fake->transcript().last();
        return last == QStringLiteral("-- close") || last == QStringLiteral("-- dropped");
    }

    FakeLineSocket *fake = nullptr; // owned by the client
    ImapClient client;
};

// --- Greeting and login ---------------------------------------------------------------------------------

struct LoginCase {
    const char *name;
    QString password;
    QList<Step> script;
    bool ok;
    Error error;
    QString errorText;
};

void PrintTo(const LoginCase &c, std::ostream *os)
{
    *os << c.name;
}

class ImapLoginTest : public ImapClientTest, public ::testing::WithParamInterface<LoginCase> {};

TEST_P(ImapLoginTest, FollowsTheDialogue)
{
    const LoginCase &c = GetParam();
    client.setPassword(c.password);
    fake->play(c.script);
    EXPECT_EQ(client.connect(), c.ok) << client.lastErrorText().toStdString();
    EXPECT_EQ(client.lastError(), c.error);
    EXPECT_EQ(client.lastErrorText(), c.errorText);
    EXPECT_EQ(client.isConnected(), c.ok);
}

INSTANTIATE_TEST_SUITE_P(
    Imap, ImapLoginTest,
    ::testing::Values(
        LoginCase{"PlainWithTheFirstResponse",
                  QStringLiteral("s3cret"),
                  {S("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] ready"),
                   C("A1 AUTHENTICATE PLAIN " + plain("bob", "s3cret")), S("A1 OK [CAPABILITY IMAP4rev1 MOVE] in")},
                  true, Error::None, {}},
        LoginCase{"PlainAfterTheGoAhead",
                  QStringLiteral("s3cret"),
                  {S("* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] ready"), C("A1 AUTHENTICATE PLAIN"), S("+ "),
                   C(plain("bob", "s3cret")), S("A1 OK in"), C("A2 CAPABILITY"), S("* CAPABILITY IMAP4rev1 MOVE"),
                   S("A2 OK")},
                  true, Error::None, {}},
        LoginCase{"LoginQuotesAPasswordWithBlanks",
                  QStringLiteral("mein \"pw\""),
                  {S("* OK ready"), C("A1 CAPABILITY"), S("* CAPABILITY IMAP4rev1"), S("A1 OK"),
                   C("A2 LOGIN bob \"mein \\\"pw\\\"\""), S("A2 OK in"), C("A3 CAPABILITY"),
                   S("* CAPABILITY IMAP4rev1"), S("A3 OK")},
                  true, Error::None, {}},
        // Octets beyond seven bits go as a literal, after the server's go-ahead.
        LoginCase{"LoginSendsAnUmlautPasswordAsALiteral",
                  QStringLiteral("grüß"),
                  {S("* OK [CAPABILITY IMAP4rev1] ready"), C("A1 LOGIN bob {6}"), S("+ go ahead"),
                   C("gr\xc3\xbc\xc3\x9f"), S("A1 OK [CAPABILITY IMAP4rev1] in")},
                  true, Error::None, {}},
        LoginCase{"LiteralPlusWithoutWaiting",
                  QStringLiteral("grüß"),
                  {S("* OK [CAPABILITY IMAP4rev1 LITERAL+] ready"), C("A1 LOGIN bob {6+}"), C("gr\xc3\xbc\xc3\x9f"),
                   S("A1 OK [CAPABILITY IMAP4rev1] in")},
                  true, Error::None, {}},
        LoginCase{"RefusedWithTheServersWords",
                  QStringLiteral("s3cret"),
                  {S("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] ready"),
                   C("A1 AUTHENTICATE PLAIN " + plain("bob", "s3cret")),
                   S("A1 NO [AUTHENTICATIONFAILED] Authentication failed.")},
                  false, Error::ServerError, QStringLiteral("[AUTHENTICATIONFAILED] Authentication failed.")},
        LoginCase{"ByeInsteadOfAGreeting",
                  QStringLiteral("s3cret"),
                  {S("* BYE too many connections")},
                  false, Error::ServerClosing, QStringLiteral("Der Server hat die Verbindung beendet: too many connections")},
        LoginCase{"LoginDisabledWithoutAnotherWay",
                  QStringLiteral("s3cret"),
                  {S("* OK [CAPABILITY IMAP4rev1 LOGINDISABLED] ready")},
                  false, Error::InvalidArgument,
                  QStringLiteral("Der Server imap.example.test nimmt die Anmeldung mit Kennwort auf diesem Weg nicht an "
                                 "(LOGINDISABLED).")},
        LoginCase{"GreetingThatIsNoGreeting",
                  QStringLiteral("s3cret"),
                  {S("+OK POP3 ready")},
                  false, Error::ProtocolError, QStringLiteral("Unerwartete Antwort des Servers: +OK POP3 ready")}),
    [](const ::testing::TestParamInfo<LoginCase> &info) { return std::string(info.param.name); });

// --- STARTTLS -------------------------------------------------------------------------------------------

struct TlsCase {
    const char *name;
    QList<Step> script;
    bool ok;
    Error error;
};

void PrintTo(const TlsCase &c, std::ostream *os)
{
    *os << c.name;
}

class ImapStartTlsTest : public ImapClientTest, public ::testing::WithParamInterface<TlsCase> {};

TEST_P(ImapStartTlsTest, LogsInOnlyOverTheUpgradedConnection)
{
    const TlsCase &c = GetParam();
    client.setSecurity(ImapClient::Security::StartTls);
    fake->play(c.script);
    EXPECT_EQ(client.connect(), c.ok) << client.lastErrorText().toStdString();
    EXPECT_EQ(client.lastError(), c.error);
    const QByteArrayList written = fake->written();
    const bool loginSent = std::any_of(written.cbegin(), written.cend(), [](const QByteArray &line) {
        return line.contains("LOGIN") || line.contains("AUTHENTICATE");
    });
    EXPECT_EQ(loginSent, c.ok);
    if (!c.ok) {
        EXPECT_TRUE(client.lastErrorText().endsWith(QStringLiteral("Benutzername und Passwort wurden nicht gesendet.")))
            << client.lastErrorText().toStdString();
        EXPECT_FALSE(fake->isConnected());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Imap, ImapStartTlsTest,
    ::testing::Values(
        // What the server said before the handshake is asked again: here it no longer offers AUTH=PLAIN.
        TlsCase{"UpgradedThenAskedAgain",
                {S("* OK [CAPABILITY IMAP4rev1 STARTTLS AUTH=PLAIN LOGINDISABLED] ready"), C("A1 STARTTLS"),
                 S("A1 OK Begin TLS"), C("A2 CAPABILITY"), S("* CAPABILITY IMAP4rev1"), S("A2 OK"),
                 C("A3 LOGIN bob s3cret"), S("A3 OK [CAPABILITY IMAP4rev1] in")},
                true, Error::None},
        TlsCase{"NotOffered", {S("* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] ready")}, false, Error::TlsUnavailable},
        TlsCase{"Refused",
                {S("* OK [CAPABILITY IMAP4rev1 STARTTLS] ready"), C("A1 STARTTLS"), S("A1 NO not now")},
                false, Error::TlsUnavailable},
        // Logged in before STARTTLS could come: someone on the way may have made it so.
        TlsCase{"PreauthGreeting", {S("* PREAUTH [CAPABILITY IMAP4rev1 STARTTLS] welcome")}, false,
                Error::TlsUnavailable}),
    [](const ::testing::TestParamInfo<TlsCase> &info) { return std::string(info.param.name); });

TEST_F(ImapClientTest, TlsHandshakeMarkedInTheTranscript)
{
    client.setSecurity(ImapClient::Security::StartTls);
    fake->play({S("* OK [CAPABILITY IMAP4rev1 STARTTLS] ready"), C("A1 STARTTLS"), S("A1 OK go"), C("A2 CAPABILITY"),
                S("* CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR"), S("A2 OK"),
                C("A3 AUTHENTICATE PLAIN " + plain("bob", "s3cret")), S("A3 OK [CAPABILITY IMAP4rev1] in")});
    ASSERT_TRUE(client.connect()) << client.lastErrorText().toStdString();
    const QStringList t = fake->transcript();
    EXPECT_LT(t.indexOf(QStringLiteral("-- starttls")), t.indexOf(QStringLiteral("C: A2 CAPABILITY")));
    EXPECT_TRUE(client.isEncrypted());
}

// A stored security this version does not know is no reason to send the password in clear: no connection
// is made at all.
TEST_F(ImapClientTest, AnUnknownSecurityConnectsNowhere)
{
    client.setSecurity(ImapClient::Security::Unknown);
    EXPECT_FALSE(client.connect());
    EXPECT_EQ(client.lastError(), Error::InvalidArgument);
    EXPECT_EQ(client.lastErrorText(), unknownSecurityText(QStringLiteral("imap.example.test")));
    EXPECT_EQ(fake->connectCount(), 0);
    EXPECT_FALSE(client.probe());
    EXPECT_EQ(fake->connectCount(), 0);
}

// The probe opens the connection up to the TLS asked for and logs out without logging in.
TEST_F(ImapClientTest, AProbeUpgradesAndLogsOutWithoutTheLogin)
{
    client.setSecurity(ImapClient::Security::StartTls);
    fake->play({S("* OK [CAPABILITY IMAP4rev1 STARTTLS AUTH=PLAIN] ready"), C("A1 STARTTLS"), S("A1 OK go"),
                C("A2 CAPABILITY"), S("* CAPABILITY IMAP4rev1 AUTH=PLAIN"), S("A2 OK"), C("A3 LOGOUT"),
                S("* BYE bis bald"), S("A3 OK")});
    EXPECT_TRUE(client.probe()) << client.lastErrorText().toStdString();
    EXPECT_EQ(client.lastError(), Error::None);
    EXPECT_FALSE(client.isConnected());
    EXPECT_TRUE(closedLast()) << transcript();

    // Without STARTTLS on offer the server speaks plain text only.
    fake->play({Accept(), S("* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] ready")});
    EXPECT_FALSE(client.probe());
    EXPECT_EQ(client.lastError(), Error::TlsUnavailable);
    const QByteArrayList written = fake->written();
    EXPECT_FALSE(std::any_of(written.cbegin(), written.cend(), [](const QByteArray &line) {
        return line.contains("LOGIN") || line.contains("AUTHENTICATE");
    })) << transcript();
}

// A refused login is told apart from other failures, so that the user is told what to check.
TEST_F(ImapClientTest, ARefusedLoginIsToldApartFromOtherFailures)
{
    fake->play({S("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] ready"),
                C("A1 AUTHENTICATE PLAIN " + plain("bob", "s3cret")), S("A1 NO [AUTHENTICATIONFAILED] Authentication failed.")});
    EXPECT_FALSE(client.connect());
    EXPECT_EQ(client.failureKind(), TFailureKind::LoginRefused);
    fake->play({Accept(), S("+OK POP3 ready")});
    EXPECT_FALSE(client.connect());
    EXPECT_EQ(client.failureKind(), TFailureKind::Other);
    login();
    EXPECT_EQ(client.failureKind(), TFailureKind::Other);
}

// --- Responses ------------------------------------------------------------------------------------------

TEST_F(ImapClientTest, LiteralsCutAcrossLinesAndReadsArriveWhole)
{
    login();
    const QByteArray header = "Subject: Hallo\r\nFrom: a\r\n\r\n";
    fake->play({C("A2 UID FETCH 7:8 (BODY.PEEK[HEADER])"),
                S("* 1 FETCH (UID 7 BODY[HEADER] {" + QByteArray::number(header.size()) + "}"), S("Subject: Hallo"),
                S("From: a"), S(""), S(")"),
                // A literal that ends within a line: the rest of the line follows it.
                S("* 2 FETCH (BODY[HEADER] {3}"), S("abc UID 8)"), S("A2 OK done")});
    QList<ImapResponse> untagged;
    ASSERT_TRUE(run("UID FETCH 7:8 (BODY.PEEK[HEADER])", &untagged)) << client.lastErrorText().toStdString();
    ASSERT_EQ(untagged.size(), 2);
    EXPECT_EQ(untagged[0].number, 1);
    EXPECT_EQ(FetchItem(untagged[0].values.first().items, "BODY[HEADER]")->text, header);
    EXPECT_EQ(FetchItem(untagged[1].values.first().items, "BODY[HEADER]")->text, "abc");
    EXPECT_EQ(FetchItem(untagged[1].values.first().items, "UID")->number(), 8);
}

TEST_F(ImapClientTest, UntaggedResponsesInAnyOrderReachTheCommandAndTheFolderState)
{
    login();
    fake->play({C("A2 EXAMINE INBOX"), S("* FLAGS (\\Seen \\Deleted)"), S("* 4 EXISTS"), S("* OK [UIDVALIDITY 77] ok"),
                S("* OK [UIDNEXT 9] next"), S("A2 OK [READ-ONLY] done"), C("A3 UID SEARCH UNSEEN"), S("* 5 EXISTS"),
                S("* SEARCH 3 8"), S("* 1 EXPUNGE"), S("* 2 FETCH (FLAGS (\\Seen))"), S("A3 OK")});
    ASSERT_TRUE(client.select(QStringLiteral("INBOX"), true));
    EXPECT_EQ(client.selected().Exists, 4);
    EXPECT_EQ(client.selected().UidValidity, 77u);
    EXPECT_EQ(client.selected().UidNext, 9u);
    EXPECT_TRUE(client.selected().ReadOnly);
    QList<ImapResponse> untagged;
    ASSERT_TRUE(run("UID SEARCH UNSEEN", &untagged));
    QByteArrayList names;
    for (const ImapResponse &r : untagged)
        names << r.name;
    EXPECT_EQ(names, QByteArrayList({"EXISTS", "SEARCH", "EXPUNGE", "FETCH"}));
    EXPECT_EQ(client.selected().Exists, 4) << "5 EXISTS, then one expunged";
}

TEST_F(ImapClientTest, NoAndBadFailTheCommandButKeepTheSession)
{
    login();
    fake->play({C("A2 SELECT Fehlt"), S("A2 NO [NONEXISTENT] Mailbox doesn't exist: Fehlt"), C("A3 FROB"),
                S("A3 BAD Error in IMAP command FROB"), C("A4 NOOP"), S("A4 OK")});
    EXPECT_FALSE(client.select(QStringLiteral("Fehlt"), false));
    EXPECT_EQ(client.lastError(), Error::ServerError);
    EXPECT_EQ(client.lastErrorText(), QStringLiteral("[NONEXISTENT] Mailbox doesn't exist: Fehlt"));
    EXPECT_EQ(client.lastCode(), "NONEXISTENT");
    EXPECT_FALSE(run("FROB"));
    EXPECT_EQ(client.lastError(), Error::BadCommand);
    EXPECT_TRUE(client.isConnected());
    EXPECT_TRUE(run("NOOP"));
}

struct BrokenCase {
    const char *name;
    QList<Step> replies; // to "A2 UID FETCH 1 (BODY.PEEK[])"
    Error error;
};

void PrintTo(const BrokenCase &c, std::ostream *os)
{
    *os << c.name;
}

class ImapBrokenResponseTest : public ImapClientTest, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(ImapBrokenResponseTest, DropsTheConnectionWithTheReason)
{
    login();
    client.setLiteralLimit(1024 * 1024);
    fake->play(QList<Step>{C("A2 UID FETCH 1 (BODY.PEEK[])")} + GetParam().replies);
    EXPECT_FALSE(run("UID FETCH 1 (BODY.PEEK[])"));
    EXPECT_EQ(client.lastError(), GetParam().error) << client.lastErrorText().toStdString();
    EXPECT_FALSE(client.lastErrorText().isEmpty());
    EXPECT_FALSE(client.isConnected());
    EXPECT_TRUE(closedLast()) << transcript();
}

INSTANTIATE_TEST_SUITE_P(
    Imap, ImapBrokenResponseTest,
    ::testing::Values(
        BrokenCase{"ByeInTheMiddle", {S("* 1 FETCH (UID 1 FLAGS ())"), S("* BYE Server shutting down.")}, Error::ServerClosing},
        BrokenCase{"LiteralFarBeyondTheLimit", {S("* 1 FETCH (UID 1 BODY[] {99999999999}")}, Error::ReplyTooLarge},
        BrokenCase{"LiteralThatNeverEnds", {S("* 1 FETCH (UID 1 BODY[] {4096}"), S("only this")}, Error::TimedOut},
        BrokenCase{"TenMegabyteLine", {LongLine(10 * 1024 * 1024)}, Error::LineTooLong},
        BrokenCase{"CompletionOfAnotherCommand", {S("A7 OK done")}, Error::ProtocolError},
        BrokenCase{"ListThatNeverCloses", {S("* 1 FETCH (UID 1 FLAGS (\\Seen"), S("A2 OK")}, Error::ProtocolError},
        BrokenCase{"Garbage", {S("hello?")}, Error::ProtocolError},
        BrokenCase{"DroppedMidResponse", {S("* 1 FETCH (UID 1 BODY[] {10}"), Drop()}, Error::ConnectionLost}),
    [](const ::testing::TestParamInfo<BrokenCase> &info) { return std::string(info.param.name); });

TEST_F(ImapClientTest, CommandsSentTogetherAreCompletedInAnyOrder)
{
    login();
    fake->readsAhead = true;
    fake->play({C("A2 UID FETCH 1:3 (FLAGS)"), C("A3 UID FETCH 9 (FLAGS)"), S("* 4 FETCH (UID 9 FLAGS ())"),
                S("A3 OK second"), S("* 1 FETCH (UID 1 FLAGS ())"), S("A2 NO [LIMIT] first refused")});
    QList<ImapResponse> untagged;
    EXPECT_FALSE(client.commands({"UID FETCH 1:3 (FLAGS)", "UID FETCH 9 (FLAGS)"},
                                 [&untagged](const ImapResponse &r) { untagged.append(r); }));
    EXPECT_EQ(client.lastErrorText(), QStringLiteral("[LIMIT] first refused"));
    EXPECT_EQ(untagged.size(), 2);
    EXPECT_TRUE(client.isConnected());
}

TEST_F(ImapClientTest, IdleWaitsQuietlyHearsNewMailAndEnds)
{
    login();
    fake->play({C("A2 IDLE"), S("+ idling"), S("* 5 EXISTS"), C("DONE"), S("A2 OK Idle completed")});
    ASSERT_TRUE(client.idle());
    EXPECT_TRUE(client.idling());
    QList<QByteArray> heard;
    const auto hear = [&heard](const ImapResponse &r) { heard << QByteArray::number(r.number) + ' ' + r.name; };
    ASSERT_TRUE(client.idleWait(1000, hear));
    EXPECT_EQ(heard, QList<QByteArray>{"5 EXISTS"});
    // Nothing more comes: a quiet wait is no failure.
    ASSERT_TRUE(client.idleWait(1000, hear));
    EXPECT_TRUE(client.isConnected());
    ASSERT_TRUE(client.idleDone(hear));
    EXPECT_FALSE(client.idling());
}

// --- Login with an access token ------------------------------------------------------------------------

QByteArray xoauth2(const QByteArray &user, const QByteArray &token)
{
    return ("user=" + user + "\x01" "auth=Bearer " + token + "\x01\x01").toBase64();
}

QByteArray oauthBearer(const QByteArray &user, const QByteArray &token)
{
    return ("n,a=" + user + ",\x01" "host=imap.example.test\x01" "port=143\x01" "auth=Bearer " + token + "\x01\x01")
        .toBase64();
}

const QByteArray kRefusalChallenge = QByteArray(R"({"status":"invalid_token"})").toBase64();

class ImapBearerLoginTest : public ImapLoginTest {};

TEST_P(ImapBearerLoginTest, SendsTheTokenAndAnswersARefusal)
{
    const LoginCase &c = GetParam();
    client.setAuthKind(ImapClient::AuthKind::Bearer);
    client.setPassword(c.password);
    fake->play(c.script);
    EXPECT_EQ(client.connect(), c.ok) << client.lastErrorText().toStdString();
    EXPECT_EQ(client.lastError(), c.error);
    EXPECT_EQ(client.lastErrorText(), c.errorText);
    EXPECT_EQ(client.failureKind(), c.error == Error::ServerError ? TFailureKind::LoginRefused : TFailureKind::Other);
}

INSTANTIATE_TEST_SUITE_P(
    Imap, ImapBearerLoginTest,
    ::testing::Values(
        LoginCase{"XOAuth2WithTheFirstResponse",
                  QStringLiteral("ya29.t"),
                  {S("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN AUTH=XOAUTH2] ready"),
                   C("A1 AUTHENTICATE XOAUTH2 " + xoauth2("bob", "ya29.t")), S("A1 OK [CAPABILITY IMAP4rev1] in")},
                  true, Error::None, {}},
        LoginCase{"OAuthBearerAfterTheGoAhead",
                  QStringLiteral("ya29.t"),
                  {S("* OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2 AUTH=OAUTHBEARER] ready"), C("A1 AUTHENTICATE OAUTHBEARER"),
                   S("+ "), C(oauthBearer("bob", "ya29.t")), S("A1 OK [CAPABILITY IMAP4rev1] in")},
                  true, Error::None, {}},
        // The error challenge is answered with an empty line; the tagged NO ends the login.
        LoginCase{"RefusedXOAuth2",
                  QStringLiteral("ya29.t"),
                  {S("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2] ready"),
                   C("A1 AUTHENTICATE XOAUTH2 " + xoauth2("bob", "ya29.t")), S("+ " + kRefusalChallenge), C(""),
                   S("A1 NO [AUTHENTICATIONFAILED] Invalid credentials (Failure)")},
                  false, Error::ServerError,
                  "[AUTHENTICATIONFAILED] Invalid credentials (Failure) Der Server hat das Zugangszeichen nicht "
                  "angenommen (Status invalid_token)."},
        LoginCase{"RefusedOAuthBearer",
                  QStringLiteral("ya29.t"),
                  {S("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=OAUTHBEARER] ready"),
                   C("A1 AUTHENTICATE OAUTHBEARER " + oauthBearer("bob", "ya29.t")), S("+ " + kRefusalChallenge),
                   C("AQ=="), S("A1 NO failed")},
                  false, Error::ServerError,
                  "failed Der Server hat das Zugangszeichen nicht angenommen (Status invalid_token)."},
        LoginCase{"NotOffered",
                  QStringLiteral("ya29.t"),
                  {S("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] ready")},
                  false, Error::InvalidArgument,
                  "Der Server imap.example.test bietet keine Anmeldung beim Anbieter (XOAUTH2, OAUTHBEARER) an."}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
