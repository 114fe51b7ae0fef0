// Access tokens: the token endpoint's answers, the sign-in without a browser against the tests'
// authorization server, and renewals on an injected clock.
#include "OAuthTokens.h"
#include "QtPrinters.h"
#include "SignInSupport.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QHostAddress>
#include <QTcpSocket>
#include <QUrlQuery>

#include <atomic>

namespace {

using oauth::TTokenStatus;

struct ResponseCase {
    const char *name;
    int status;
    QByteArray body;
    TTokenStatus expected;
    QString accessToken;
    QString refreshToken; // what is to be kept afterwards
    qint64 lifeMs;
    QString errorText;
};

void PrintTo(const ResponseCase &c, std::ostream *os)
{
    *os << c.name;
}

class TokenResponseTest : public ::testing::TestWithParam<ResponseCase> {
protected:
    void SetUp() override { oauth::SetClock([] { return qint64(1000000); }); }
    void TearDown() override { oauth::SetClock({}); }
};

TEST_P(TokenResponseTest, TellsTokenRefusalAndFailure)
{
    const ResponseCase &c = GetParam();
    const oauth::TTokenResult r = oauth::ParseTokenResponse(c.status, c.body, QStringLiteral("rt-old"), kGoogleProvider);
    EXPECT_EQ(r.Status, c.expected);
    EXPECT_EQ(r.AccessToken, c.accessToken);
    EXPECT_EQ(r.RefreshToken, c.refreshToken);
    EXPECT_EQ(r.ErrorText, c.errorText);
    if (r.ok()) {
        EXPECT_EQ(r.ExpiresAtMs - 1000000, c.lifeMs);
    }
}

INSTANTIATE_TEST_SUITE_P(
    OAuth, TokenResponseTest,
    ::testing::Values(
        ResponseCase{"Granted", 200, R"({"access_token":"at-1","token_type":"Bearer","expires_in":599})",
                     TTokenStatus::Ok, "at-1", "rt-old", 599000, ""},
        ResponseCase{"WithoutLifetimeAnHour", 200, R"({"access_token":"at-1","token_type":"bearer"})",
                     TTokenStatus::Ok, "at-1", "rt-old", 3600000, ""},
        ResponseCase{"LifetimeAsText", 200, R"({"access_token":"at-1","expires_in":"120"})", TTokenStatus::Ok,
                     "at-1", "rt-old", 120000, ""},
        ResponseCase{"LifetimeBeyondAnyNumberADay", 200, R"({"access_token":"at-1","expires_in":9223372036854775807})",
                     TTokenStatus::Ok, "at-1", "rt-old", 86400000, ""},
        ResponseCase{"NegativeLifetimeAnHour", 200, R"({"access_token":"at-1","expires_in":"-5"})", TTokenStatus::Ok,
                     "at-1", "rt-old", 3600000, ""},
        ResponseCase{"NewRefreshToken", 200, R"({"access_token":"at-2","expires_in":60,"refresh_token":"rt-new"})",
                     TTokenStatus::Ok, "at-2", "rt-new", 60000, ""},
        ResponseCase{"RefusedGrant", 400, R"({"error":"invalid_grant","error_description":"Token has been expired or revoked."})",
                     TTokenStatus::Refused, "", "rt-old", 0, "Die Anmeldung bei Google muss erneuert werden"},
        ResponseCase{"WrongClient", 401, R"({"error":"invalid_client","error_description":"The OAuth client was not found."})",
                     TTokenStatus::Failed, "", "rt-old", 0,
                     "Google hat kein Zugangszeichen ausgegeben (invalid_client: The OAuth client was not found.)."},
        ResponseCase{"ServerErrorPage", 502, "<html>Bad Gateway</html>", TTokenStatus::Failed, "", "rt-old", 0,
                     "Google hat kein Zugangszeichen ausgegeben (HTTP 502)."},
        ResponseCase{"SuccessWithoutToken", 200, R"({"token_type":"Bearer"})", TTokenStatus::Failed, "", "rt-old", 0,
                     "Die Antwort von Google enthält kein Zugangszeichen."},
        ResponseCase{"OtherTokenType", 200, R"({"access_token":"at-1","token_type":"mac"})", TTokenStatus::Failed, "",
                     "rt-old", 0, "Die Antwort von Google enthält kein Zugangszeichen."},
        ResponseCase{"ErrorDespite200", 200, R"({"error":"invalid_grant"})", TTokenStatus::Refused, "", "rt-old", 0,
                     "Die Anmeldung bei Google muss erneuert werden"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(OAuth, PkceChallengeOfRfc7636AppendixB)
{
    EXPECT_EQ(TOAuthSignIn::ChallengeOf("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
              QByteArray("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"));
    const QByteArray a = TOAuthSignIn::NewVerifier(), b = TOAuthSignIn::NewVerifier();
    EXPECT_EQ(a.size(), 64);
    EXPECT_NE(a, b);
    EXPECT_TRUE(QByteArray::fromPercentEncoding(QUrl::toPercentEncoding(QString::fromLatin1(a))) == a);
    EXPECT_EQ(QUrl::toPercentEncoding(QString::fromLatin1(a)), a) << "only unreserved characters";
}

// The provider "Google" on the test server, the clock at the test's hand.
class TokenServerTest : public ::testing::Test {
protected:
    explicit TokenServerTest(bool rotate = false) : server(options(rotate)) {}

    static OAuthTestServer::Options options(bool rotate)
    {
        OAuthTestServer::Options o;
        o.clientSecret = QStringLiteral("installed-app-secret");
        o.rotate = rotate;
        return o;
    }

    void SetUp() override
    {
        oauth::ForgetAll();
        oauth::SetClock([this] { return now.load(); });
        QString error;
        ASSERT_TRUE(server.start(&error)) << error.toStdString();
        provider = UseTestProvider(server);
    }
    void TearDown() override
    {
        oauth::SetClock({});
        oauth::ForgetAll();
    }

    QString signIn() { return RefreshTokenOfSignIn(provider, QStringLiteral("anna@example.test"), browser); }

    TestProfile profile;
    OAuthTestServer server;
    TOAuthProvider provider;
    HeadlessBrowser browser;
    std::atomic<qint64> now{qint64(1700000000) * 1000};
};

TEST_F(TokenServerTest, SignInTradesTheCodeWithItsVerifierAndKeepsTheAccessTokenInMemory)
{
    const QString refreshToken = signIn();
    ASSERT_FALSE(refreshToken.isEmpty());
    ASSERT_EQ(browser.opened.size(), 1);
    const QUrlQuery query(browser.opened.first());
    EXPECT_EQ(query.queryItemValue(QStringLiteral("code_challenge_method")), QStringLiteral("S256"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("login_hint"), QUrl::FullyDecoded), QStringLiteral("anna@example.test"));
    EXPECT_TRUE(query.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded).startsWith(QStringLiteral("http://127.0.0.1:")));
    EXPECT_FALSE(query.hasQueryItem(QStringLiteral("code_verifier"))) << "the verifier never goes to the browser";
    EXPECT_EQ(server.stat("code_grants"), 1);
    EXPECT_EQ(server.stat("bad_verifier"), 0);

    // The access token of the sign-in serves until shortly before its end, without a request.
    const oauth::TTokenResult first = oauth::AccessToken(provider, refreshToken);
    ASSERT_TRUE(first.ok()) << first.ErrorText.toStdString();
    EXPECT_EQ(server.stat("refresh_grants"), 0);
}

TEST_F(TokenServerTest, RenewsAMinuteBeforeTheEndAndKeepsTheRenewedToken)
{
    const QString refreshToken = signIn();
    const oauth::TTokenResult first = oauth::AccessToken(provider, refreshToken);
    ASSERT_TRUE(first.ok()) << first.ErrorText.toStdString();

    now = first.ExpiresAtMs - oauth::kRenewAheadMs - 1;
    EXPECT_EQ(oauth::AccessToken(provider, refreshToken).AccessToken, first.AccessToken);
    EXPECT_EQ(server.stat("refresh_grants"), 0);

    now = first.ExpiresAtMs - oauth::kRenewAheadMs;
    const oauth::TTokenResult renewed = oauth::AccessToken(provider, refreshToken);
    ASSERT_TRUE(renewed.ok()) << renewed.ErrorText.toStdString();
    EXPECT_NE(renewed.AccessToken, first.AccessToken);
    EXPECT_EQ(renewed.RefreshToken, refreshToken);
    EXPECT_EQ(renewed.ExpiresAtMs, now + qint64(3600) * 1000);
    EXPECT_EQ(server.stat("refresh_grants"), 1);

    // Until the renewed one nears its end, it is the answer.
    EXPECT_EQ(oauth::AccessToken(provider, refreshToken).AccessToken, renewed.AccessToken);
    EXPECT_EQ(server.stat("refresh_grants"), 1);

    // A token the server turned down is renewed at the next request, whatever its time.
    oauth::ForgetAccessToken(refreshToken);
    EXPECT_NE(oauth::AccessToken(provider, refreshToken).AccessToken, renewed.AccessToken);
    EXPECT_EQ(server.stat("refresh_grants"), 2);
}

TEST_F(TokenServerTest, ARefusedRefreshAsksForANewSignIn)
{
    const QString refreshToken = signIn();
    ASSERT_TRUE(server.refuseRefresh());
    now += qint64(7200) * 1000;
    const oauth::TTokenResult r = oauth::AccessToken(provider, refreshToken);
    EXPECT_EQ(r.Status, TTokenStatus::Refused);
    EXPECT_EQ(r.ErrorText, QStringLiteral("Die Anmeldung bei Google muss erneuert werden"));
    EXPECT_EQ(server.stat("refused"), 1);

    // The same without any refresh token (none was ever kept).
    EXPECT_EQ(oauth::AccessToken(provider, QString()).Status, TTokenStatus::Refused);
}

TEST_F(TokenServerTest, WithoutAClientIdNothingIsAskedAndTheSignInSaysWhereToEnterIt)
{
    SaveOAuthClient(kGoogleProvider, TOAuthClient{});
    const TOAuthProvider bare = *OAuthProviderByName(kGoogleProvider);
    const std::optional<TSignInResult> r = RunSignIn(bare, QString(), browser);
    ASSERT_TRUE(r.has_value());
    EXPECT_FALSE(r->Ok);
    EXPECT_EQ(r->ErrorText, NoClientIdText(kGoogleProvider));
    EXPECT_TRUE(r->ErrorText.contains(QStringLiteral("\"Anmeldung\"")));
    EXPECT_TRUE(browser.opened.isEmpty());
    EXPECT_EQ(oauth::AccessToken(bare, QStringLiteral("rt-any")).ErrorText, NoClientIdText(kGoogleProvider));
}

TEST_F(TokenServerTest, AClientTheServerDoesNotKnowIsToldAtTheSignIn)
{
    SaveOAuthClient(kGoogleProvider, TOAuthClient{QStringLiteral("someone-else"), QString()});
    const std::optional<TSignInResult> r = RunSignIn(*OAuthProviderByName(kGoogleProvider), QString(), browser);
    ASSERT_TRUE(r.has_value()) << "a refused sign-in must end";
    EXPECT_FALSE(r->Ok);
    EXPECT_EQ(r->ErrorText, QStringLiteral("Google hat die Anmeldung abgelehnt (unauthorized_client)."));
}

TEST_F(TokenServerTest, ASecretTheTokenEndpointRefusesEndsTheSignIn)
{
    SaveOAuthClient(kGoogleProvider, TOAuthClient{server.options().clientId, QStringLiteral("wrong-secret")});
    const std::optional<TSignInResult> r = RunSignIn(*OAuthProviderByName(kGoogleProvider), QString(), browser);
    ASSERT_TRUE(r.has_value()) << "a refused token request must end the sign-in";
    EXPECT_FALSE(r->Ok);
    EXPECT_EQ(r->ErrorText, QStringLiteral("Google hat kein Zugangszeichen ausgegeben (invalid_client)."));
}

TEST_F(TokenServerTest, CancelEndsTheSignInAndClosesItsPort)
{
    TOAuthSignIn signIn(provider, QString());
    QUrl page;
    signIn.OpenUrl = [&page](const QUrl &url) {
        page = url;
        return true;
    };
    std::optional<TSignInResult> result;
    QObject::connect(&signIn, &TOAuthSignIn::Finished, [&result](const TSignInResult &r) { result = r; });
    signIn.Start();
    ASSERT_TRUE(processEventsUntil([&] { return page.isValid(); }));
    signIn.Cancel();
    ASSERT_TRUE(result.has_value());
    EXPECT_TRUE(result->Cancelled);
    signIn.Cancel();

    // The browser coming back late finds nobody listening.
    const QUrl redirect(QUrlQuery(page).queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded));
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, quint16(redirect.port()));
    EXPECT_FALSE(late.waitForConnected(5000));
}

class RotatingTokenServerTest : public TokenServerTest {
protected:
    RotatingTokenServerTest() : TokenServerTest(true) {}
};

TEST_F(RotatingTokenServerTest, ANewRefreshTokenTakesTheOldOnesPlace)
{
    const QString original = signIn();
    now += qint64(7200) * 1000;
    const oauth::TTokenResult renewed = oauth::AccessToken(provider, original);
    ASSERT_TRUE(renewed.ok()) << renewed.ErrorText.toStdString();
    EXPECT_NE(renewed.RefreshToken, original);

    // The server no longer takes the original: asked with it, the store uses the one that replaced it.
    now += qint64(7200) * 1000;
    const oauth::TTokenResult again = oauth::AccessToken(provider, original);
    ASSERT_TRUE(again.ok()) << again.ErrorText.toStdString();
    EXPECT_EQ(server.stat("refused"), 0);
    EXPECT_EQ(server.stat("refresh_grants"), 2);
}

} // namespace
