// Accounts that sign in at their provider, end to end on loopback: the sign-in against the tests'
// authorization server (no browser), then Dovecot's oauth2 passdb and the SMTP receiver taking the access
// token, which both check at that server. Its tokens end when a test says so; the program's clock is the
// test's, so no test waits for a token to age.
#include "CheckerTestSupport.h"
#include "DovecotServer.h"
#include "OAuthTokens.h"
#include "QtPrinters.h"
#include "SMTPUnit.h"
#include "SignInSupport.h"
#include "SmtpTestServer.h"

#include <QHostAddress>
#include <QTcpServer>

#include <atomic>
#include <string>

namespace {

QByteArray mail(const QByteArray &subject)
{
    return "From: Anna <anna@example.test>\r\nTo: bob@example.test\r\nSubject: " + subject
           + "\r\nMessage-ID: <" + subject.toHex() + "@example.test>\r\n\r\nHallo.\r\n";
}

enum class Mechanism { XOAuth2, OAuthBearer };

class SignInServersTest : public CheckerFixture {
protected:
    // One authorization server, and a Dovecot for each mechanism, offering only that one.
    static void SetUpTestSuite()
    {
        auth = new OAuthTestServer(OAuthTestServer::Options{});
        QString error;
        started = auth->start(&error);
        for (int i = 0; started && i < 2; ++i) {
            dovecot[i] = new DovecotServer;
            dovecot[i]->setOAuth2(auth->introspectionUrl().toString(), i == 0 ? QStringLiteral("xoauth2")
                                                                              : QStringLiteral("oauthbearer"));
            started = dovecot[i]->start(&error);
        }
        startError = error.toStdString();
    }
    static void TearDownTestSuite()
    {
        for (DovecotServer *&server : dovecot) {
            delete server;
            server = nullptr;
        }
        delete auth;
        auth = nullptr;
    }

    void SetUp() override
    {
        CheckerFixture::SetUp();
        ASSERT_TRUE(started) << startError;
        oauth::ForgetAll();
        oauth::SetClock([this] { return now.load(); });
        provider = UseTestProvider(*auth);
        user = QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name())
                   .toLower()
                   .replace(QLatin1Char('/'), QLatin1Char('-'))
               + QStringLiteral("@example.test");
    }
    void TearDown() override
    {
        oauth::SetClock({});
        oauth::ForgetAll();
        CheckerFixture::TearDown();
    }

    DovecotServer &server(Mechanism m) const { return *dovecot[m == Mechanism::XOAuth2 ? 0 : 1]; }

    QString signIn() { return RefreshTokenOfSignIn(provider, user, browser); }

    TPOP3AccountSettings account(const DovecotServer &s, int type, const QString &refreshToken) const
    {
        TPOP3AccountSettings a;
        a.ServerName = s.host();
        a.AccountType = type;
        a.Port = type == atIMAP ? s.imapPort() : s.port();
        a.AccountName = user;
        a.Password = refreshToken;
        a.AuthMethod = amOAuth2;
        a.OAuthProvider = kGoogleProvider;
        return a;
    }

    // Stores the accounts and makes a coordinator on the real transport.
    void makeRealChecker(const TPOP3Accounts &accounts)
    {
        checker.reset();
        settings.Settings.Accounts = accounts;
        ASSERT_TRUE(settings.SavePOP3Settings({}, accounts));
        TPop3Options o;
        o.TimeoutMs = 10000;
        checker = std::make_unique<TPOP3Checker>(settings, detector, ui, o);
    }

    std::string said() const { return ui.progress.join(u'\n').toStdString(); }

    static inline OAuthTestServer *auth = nullptr;
    static inline DovecotServer *dovecot[2] = {nullptr, nullptr};
    static inline bool started = false;
    static inline std::string startError;

    TOAuthProvider provider;
    HeadlessBrowser browser;
    QString user;
    std::atomic<qint64> now{qint64(1700000000) * 1000};
};

struct MailboxCase {
    const char *name;
    int type;
    Mechanism mechanism;
    const char *logged; // Dovecot's word for the mechanism in its login line
};

void PrintTo(const MailboxCase &c, std::ostream *os)
{
    *os << c.name;
}

class SignedInMailboxTest : public SignInServersTest, public ::testing::WithParamInterface<MailboxCase> {};

TEST_P(SignedInMailboxTest, IsCheckedWithTheAccessTokenOfTheSignIn)
{
    const MailboxCase &c = GetParam();
    DovecotServer &s = server(c.mechanism);
    ASSERT_FALSE(s.deliver(user, mail("Angemeldet beim Anbieter")).isEmpty());
    const QString refreshToken = signIn();
    ASSERT_FALSE(refreshToken.isEmpty());
    const int renewals = auth->stat("refresh_grants");

    makeRealChecker({account(s, c.type, refreshToken)});
    EXPECT_EQ(checkNow(), 1) << said() << s.log().toStdString();
    EXPECT_TRUE(s.log().contains(QStringLiteral("user=<%1>, method=%2").arg(user, QLatin1String(c.logged))))
        << s.log().toStdString();
    // The token of the sign-in served: nothing was renewed.
    EXPECT_EQ(auth->stat("refresh_grants"), renewals);
}

INSTANTIATE_TEST_SUITE_P(
    SignIn, SignedInMailboxTest,
    ::testing::Values(MailboxCase{"Pop3XOAuth2", atPOP3, Mechanism::XOAuth2, "XOAUTH2"},
                      MailboxCase{"Pop3OAuthBearer", atPOP3, Mechanism::OAuthBearer, "OAUTHBEARER"},
                      MailboxCase{"ImapXOAuth2", atIMAP, Mechanism::XOAuth2, "XOAUTH2"},
                      MailboxCase{"ImapOAuthBearer", atIMAP, Mechanism::OAuthBearer, "OAUTHBEARER"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SignInServersTest, AnExpiredTokenIsRenewedBeforeTheNextCheck)
{
    DovecotServer &s = server(Mechanism::XOAuth2);
    ASSERT_FALSE(s.deliver(user, mail("Erste")).isEmpty());
    makeRealChecker({account(s, atPOP3, signIn())});
    ASSERT_EQ(checkNow(), 1) << said();

    // Two hours later the sign-in's token has ended, at the server too.
    now += qint64(2) * 3600 * 1000;
    ASSERT_TRUE(auth->expireAccessTokens(user));
    ASSERT_FALSE(s.deliver(user, mail("Zweite")).isEmpty());
    const int renewals = auth->stat("refresh_grants");
    EXPECT_EQ(checkNow(), 2) << said();
    EXPECT_EQ(auth->stat("refresh_grants"), renewals + 1);
}

TEST_F(SignInServersTest, ATokenTheServerTurnsDownIsRenewedForTheNextCheck)
{
    DovecotServer &s = server(Mechanism::XOAuth2);
    ASSERT_FALSE(s.deliver(user, mail("Hallo")).isEmpty());
    makeRealChecker({account(s, atIMAP, signIn())});
    // Revoked at the provider while the program still counts it good.
    ASSERT_TRUE(auth->expireAccessTokens(user));
    EXPECT_EQ(checkNow(), 0);
    ASSERT_FALSE(ui.progress.isEmpty());
    EXPECT_TRUE(ui.progress.last().contains(QStringLiteral("Der Server hat das Zugangszeichen nicht angenommen (Status 401).")))
        << said();

    ui.progress.clear();
    const int renewals = auth->stat("refresh_grants");
    EXPECT_EQ(checkNow(), 1) << said();
    EXPECT_EQ(auth->stat("refresh_grants"), renewals + 1);
}

TEST_F(SignInServersTest, ARefusedRefreshFailsTheCheckAndAsksForANewSignIn)
{
    DovecotServer &s = server(Mechanism::OAuthBearer);
    ASSERT_FALSE(s.deliver(user, mail("Hallo")).isEmpty());
    makeRealChecker({account(s, atPOP3, signIn())});
    ASSERT_TRUE(auth->refuseRefresh(user));
    now += qint64(2) * 3600 * 1000;

    EXPECT_EQ(checkNow(), 0);
    ASSERT_FALSE(ui.progress.isEmpty());
    EXPECT_EQ(ui.progress.last(), QStringLiteral("%1@%2 2 %3 Die Anmeldung bei Google muss erneuert werden")
                                      .arg(user, s.host())
                                      .arg(kSignInRenewalCode))
        << said();
    // Nothing went to the mail server.
    EXPECT_FALSE(s.log().contains(QStringLiteral("user=<%1>").arg(user))) << s.log().toStdString();
}

// "Abbrechen" during a check ends a token renewal the provider never answers, not its time-out.
TEST_F(SignInServersTest, ACancelledCheckEndsARenewalTheProviderNeverAnswers)
{
    DovecotServer &s = server(Mechanism::XOAuth2);
    ASSERT_FALSE(s.deliver(user, mail("Hallo")).isEmpty());
    makeRealChecker({account(s, atPOP3, signIn())});
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    SaveOAuthEndpoints(kGoogleProvider, auth->authorizationUrl(),
                       QUrl(QStringLiteral("http://127.0.0.1:%1/token").arg(silent.serverPort())));
    now += qint64(2) * 3600 * 1000;

    ASSERT_TRUE(checker->CheckNow(-1));
    ASSERT_TRUE(processEventsUntil([&] { return silent.hasPendingConnections(); }, kGuardMs))
        << "the renewal never asked";
    // Without the cancel reaching it, the renewal would end only at its time-out; half of it is still
    // far more than an abort needs on any machine.
    checker->CancelOperation();
    ASSERT_TRUE(processEventsUntil([&] { return !checker->OperationRunning(); }, oauth::kTokenRequestTimeoutMs / 2))
        << "the renewal went on after the cancel " << said();
    const QString progress = ui.progress.join(u'\n');
    EXPECT_FALSE(progress.contains(QStringLiteral("Zeitüberschreitung"))) << said();
    EXPECT_FALSE(progress.contains(QStringLiteral("nicht erreichbar"))) << said();
    EXPECT_FALSE(s.log().contains(QStringLiteral("user=<%1>").arg(user))) << s.log().toStdString();
}

MailMessage outgoing()
{
    MailMessage m;
    m.From.Address = QStringLiteral("ich@example.test");
    m.Recipients.append(TMailAddress{QString(), QStringLiteral("anna@example.net")});
    m.Subject = QStringLiteral("Gesendet mit Zugangszeichen");
    m.Body = {QStringLiteral("Hallo")};
    return m;
}

TEST_F(SignInServersTest, SendsThroughTheProvidersSmtpServerWithTheToken)
{
    SmtpTestServer::Options options;
    options.auth = QStringLiteral("plain");
    options.user = QStringLiteral("nobody");
    options.password = QStringLiteral("never");
    options.oauthIntrospection = auth->introspectionUrl().toString();
    SmtpTestServer smtp(options);
    QString error;
    ASSERT_TRUE(smtp.start(&error)) << error.toStdString();

    TSMTPSendClass sender;
    sender.Account = account(server(Mechanism::XOAuth2), atPOP3, signIn());
    sender.Account.SMTPServer = smtp.host();
    sender.Account.SMTPPort = smtp.port();
    sender.Account.UseProviderSMTP = true;
    sender.Account.SMTPAuth = true;
    // The mailbox's token is the SMTP login, whatever a separate SMTP login says.
    sender.Account.SMTPUsePOP3Data = false;
    sender.Account.SMTPAccountName = QStringLiteral("someone-else");
    ASSERT_TRUE(sender.SendMail(outgoing(), error)) << error.toStdString();
    ASSERT_EQ(smtp.messages().size(), 1);
    const QList<QJsonObject> logins = smtp.logins();
    ASSERT_EQ(logins.size(), 1);
    EXPECT_EQ(logins.first().value(QStringLiteral("auth")).toString(), QStringLiteral("XOAUTH2"));
    EXPECT_EQ(logins.first().value(QStringLiteral("login")).toString(), user);

    // A token the receiver no longer takes: refused, with the challenge answered.
    ASSERT_TRUE(auth->expireAccessTokens(user));
    EXPECT_FALSE(sender.SendMail(outgoing(), error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("535 "))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("Der Server hat das Zugangszeichen nicht angenommen (Status 401)")))
        << error.toStdString();
    // ... and renewed for the next message.
    ASSERT_TRUE(sender.SendMail(outgoing(), error)) << error.toStdString();
    EXPECT_EQ(smtp.messages().size(), 2);

    ASSERT_TRUE(auth->refuseRefresh(user));
    now += qint64(2) * 3600 * 1000;
    EXPECT_FALSE(sender.SendMail(outgoing(), error));
    EXPECT_EQ(error, QStringLiteral("0 Die Anmeldung bei Google muss erneuert werden"));
    EXPECT_EQ(smtp.messages().size(), 2);
}

} // namespace
