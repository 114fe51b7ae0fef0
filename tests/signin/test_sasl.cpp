// The token mechanisms as bytes: what the client sends first, which mechanism it takes, and what it reads
// from a server's error challenge.
#include "Sasl.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

namespace {

using sasl::TMechanism;

struct ResponseCase {
    const char *name;
    TMechanism mechanism;
    QString user;
    QString token;
    QByteArray expected;
};

void PrintTo(const ResponseCase &c, std::ostream *os)
{
    *os << c.name;
}

class InitialResponseTest : public ::testing::TestWithParam<ResponseCase> {};

TEST_P(InitialResponseTest, HasTheMechanismsFormat)
{
    const ResponseCase &c = GetParam();
    EXPECT_EQ(sasl::InitialResponse(c.mechanism, c.user, c.token, QStringLiteral("imap.example.test"), 993), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sasl, InitialResponseTest,
    ::testing::Values(
        ResponseCase{"XOAuth2", TMechanism::XOAuth2, "anna@example.test", "ya29.tok",
                     "user=anna@example.test\x01" "auth=Bearer ya29.tok\x01\x01"},
        ResponseCase{"OAuthBearer", TMechanism::OAuthBearer, "anna@example.test", "ya29.tok",
                     "n,a=anna@example.test,\x01" "host=imap.example.test\x01" "port=993\x01"
                     "auth=Bearer ya29.tok\x01\x01"},
        // RFC 7628's saslname: a comma or an equals sign in the name must not end the GS2 header.
        ResponseCase{"OAuthBearerEscapesTheName", TMechanism::OAuthBearer, "a,b=c", "t",
                     "n,a=a=2Cb=3Dc,\x01" "host=imap.example.test\x01" "port=993\x01" "auth=Bearer t\x01\x01"},
        ResponseCase{"NonAsciiNameAsUtf8", TMechanism::XOAuth2, QStringLiteral("jürgen@example.test"), "t",
                     "user=j\xc3\xbcrgen@example.test\x01" "auth=Bearer t\x01\x01"},
        // A separator inside a value would let it forge another field.
        ResponseCase{"ControlCharacterInTheToken", TMechanism::XOAuth2, "anna", QStringLiteral("t\x01user=evil"), {}},
        ResponseCase{"LineBreakInTheName", TMechanism::OAuthBearer, "anna\r\nA2 LOGOUT", "t", {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Sasl, ChoosesTheStandardMechanismWhereOfferedAndXOAuth2Otherwise)
{
    using List = QByteArrayList;
    EXPECT_EQ(sasl::ChooseMechanism(List{"PLAIN", "XOAUTH2", "OAUTHBEARER"}), TMechanism::OAuthBearer);
    EXPECT_EQ(sasl::ChooseMechanism(List{"PLAIN", "XOAUTH2"}), TMechanism::XOAuth2);
    EXPECT_EQ(sasl::ChooseMechanism(List{"OAUTHBEARER"}), TMechanism::OAuthBearer);
    // A server that names no mechanisms is asked with the one every provider takes.
    EXPECT_EQ(sasl::ChooseMechanism(List{}), TMechanism::XOAuth2);
    EXPECT_EQ(sasl::ChooseMechanism(List{"PLAIN", "LOGIN"}), std::nullopt);
    EXPECT_EQ(sasl::ErrorAnswer(TMechanism::XOAuth2), QByteArray());
    EXPECT_EQ(sasl::ErrorAnswer(TMechanism::OAuthBearer), QByteArray("\x01"));
}

struct ChallengeCase {
    const char *name;
    QByteArray challenge;
    bool valid;
    QString status;
    QString text;
};

void PrintTo(const ChallengeCase &c, std::ostream *os)
{
    *os << c.name;
}

class ErrorChallengeTest : public ::testing::TestWithParam<ChallengeCase> {};

TEST_P(ErrorChallengeTest, ReadsTheStatus)
{
    const ChallengeCase &c = GetParam();
    const sasl::TBearerError error = sasl::DecodeErrorChallenge(c.challenge);
    EXPECT_EQ(error.Valid, c.valid);
    EXPECT_EQ(error.Status, c.status);
    EXPECT_EQ(sasl::ErrorChallengeText(error), c.text);
}

const QString kRefused = QStringLiteral("Der Server hat das Zugangszeichen nicht angenommen.");

INSTANTIATE_TEST_SUITE_P(
    Sasl, ErrorChallengeTest,
    ::testing::Values(
        // Google's example of a refused XOAUTH2 login.
        ChallengeCase{"Google", QByteArray(R"({"status":"401","schemes":"bearer","scope":"https://mail.google.com/"})").toBase64(),
                      true, "401", QStringLiteral("Der Server hat das Zugangszeichen nicht angenommen (Status 401).")},
        ChallengeCase{"Rfc7628", QByteArray(R"({"status":"invalid_token","scope":"example_scope"})").toBase64() + "\r\n",
                      true, "invalid_token",
                      QStringLiteral("Der Server hat das Zugangszeichen nicht angenommen (Status invalid_token).")},
        ChallengeCase{"NumericStatus", QByteArray(R"({"status":400})").toBase64(), true, "400",
                      QStringLiteral("Der Server hat das Zugangszeichen nicht angenommen (Status 400).")},
        ChallengeCase{"NotBase64", "not base64 at all!", false, "", kRefused},
        ChallengeCase{"NotJson", QByteArray("status=401").toBase64(), false, "", kRefused},
        ChallengeCase{"JsonArray", QByteArray("[1,2]").toBase64(), false, "", kRefused},
        ChallengeCase{"Empty", "", false, "", kRefused}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
