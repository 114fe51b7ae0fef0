#include "ZirpelSendClassUnit.h"

#include <gtest/gtest.h>

namespace {

TEST(URLEncodeSMS, EncodesTheWindows1252Bytes)
{
    const struct {
        const char *text; // UTF-8
        const char *encoded;
    } cases[] = {
        {"Müller: Treffen 10:30?", "M%FCller%3A+Treffen+10%3A30%3F"},
        {"AZaz09", "AZaz09"},
        {"a b  c", "a+b++c"},
        {"&/:;<=>?\\", "%26%2F%3A%3B%3C%3D%3E%3F%5C"},
        {"!\"$'()*,-._@[]^`{|}~", "!\"$'()*,-._@[]^`{|}~"},
        // These would change the query's meaning: an escape, a blank, the end of the query.
        {"50% C++ #1", "50%25+C%2B%2B+%231"},
        {"ÄÖÜäöüß€", "%C4%D6%DC%E4%F6%FC%DF%80"},
        {"Zeile\r\nzwei\t", "Zeile%0D%0Azwei%09"},
        {"\x7f", "%7F"},
        {"→", "%3F"}, // no Windows-1252 form
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(URLEncodeSMS(QString::fromUtf8(c.text)), QString::fromLatin1(c.encoded)) << c.text;
}

TEST(NormalizeCellNumber, CompletesAndChecksNumbers)
{
    const QString digits1415 = QStringLiteral(
        "Prüfen Sie die komplette Mobilfunknummer, diese darf nur Zahlen enthalten und muss 14/15stellig sein. {1}");
    const QString digits13 = QStringLiteral(
        "Prüfen Sie die komplette Mobilfunknummer, diese darf nur Zahlen enthalten und muss 13stellig sein. {1}");
    const QString zeroTooMany = QStringLiteral("Prüfen Sie die komplette Mobilfunknummer, eine 0 ist zu viel. {2}");
    const QString unknownProvider =
        QStringLiteral("Prüfen Sie die komplette Mobilfunknummer, die Vorwahl des Mobilfunkanbieters ist unbekannt.");
    const QString noCountry =
        QStringLiteral("Prüfen Sie die komplette Mobilfunknummer, diese enthält keine Landesvorwahl.");
    const QString tooShort = QStringLiteral("Prüfen Sie die komplette Mobilfunknummer, diese ist zu kurz.");
    const QString ok;

    const struct {
        const char *typed;
        const char *normalized;
        const QString &error;
    } cases[] = {
        // Germany
        {"0171 1234567", "00491711234567", ok},
        {"1711234567", "00491711234567", ok},
        {"+49 171 1234567", "00491711234567", ok},
        {"+49 (0)171/123-4567", "004901711234567", zeroTooMany},
        {"0049 0171 1234567", "004901711234567", zeroTooMany},
        {"049 171 1234567", "00491711234567", ok},
        {"01511234567", "00491511234567", ok},
        {"015112345678", "004915112345678", ok},
        {"0049 140 1234567", "00491401234567", unknownProvider},
        {"0123", "0049123", digits1415},
        {"0049171123456789", "0049171123456789", digits1415},
        // Austria
        {"0664 1234567", "00436641234567", ok},
        {"6641234567", "00436641234567", ok},
        {"+43 664 1234567", "00436641234567", ok},
        {"0043 0664 1234567", "004306641234567", zeroTooMany},
        {"0043 664 123", "0043664123", digits1415},
        // Switzerland
        {"079 1234567", "0041791234567", ok},
        {"791234567", "0041791234567", ok},
        {"+41 79 123 45 67", "0041791234567", ok},
        {"0041 079 123456", "0041079123456", zeroTooMany},
        {"0041 79 12345678", "00417912345678", digits13},
        // Elsewhere
        {"0030 1234", "00301234", ok},
        {"+1 555 1234567", "0015551234567", ok},
        {"00301", "00301", tooShort},
        {"030 1234567", "0301234567", noCountry},
        {"", "", noCountry},
        {"abc", "", noCountry},
    };
    for (const auto &c : cases) {
        const QString typed = QString::fromUtf8(c.typed);
        QString normalized = QStringLiteral("stale"), error = QStringLiteral("stale");
        const bool accepted = NormalizeCellNumber(typed, normalized, error);
        EXPECT_EQ(normalized, QString::fromLatin1(c.normalized)) << c.typed;
        EXPECT_EQ(error, c.error) << c.typed;
        EXPECT_EQ(accepted, c.error.isEmpty()) << c.typed;
    }
}

TEST(NormalizeCellNumber, ShortAndMalformedGermanNumbers)
{
    const struct {
        const char *typed;
        const char *normalized;
        bool accepted;
    } cases[] = {
        {"0171 12", "004917112", false},
        // A "+" inside the number is kept and fails the digit check.
        {"0171+1234567", "0049171+1234567", false},
        {"0175 1234567 8", "004917512345678", true},
    };
    for (const auto &c : cases) {
        QString normalized, error;
        EXPECT_EQ(NormalizeCellNumber(QString::fromLatin1(c.typed), normalized, error), c.accepted) << c.typed;
        EXPECT_EQ(normalized, QString::fromLatin1(c.normalized)) << c.typed;
    }
}

} // namespace
