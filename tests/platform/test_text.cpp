#include "TextCodec.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(TextCodec, Utf8IsReadAsUtf8AnythingElseAsWindows1252)
{
    struct Case {
        const char *name;
        QByteArray bytes;
        QString text;
    } cases[] = {
        {"ascii", "Hallo", QStringLiteral("Hallo")},
        {"utf8 umlaut", "M\xC3\xBCller", QStringLiteral("Müller")},
        {"cp1252 umlaut", "M\xFCller", QStringLiteral("Müller")},
        {"cp1252 euro and quotes", "\x80 \x84x\x93", QStringLiteral("€ „x“")},
        {"broken utf8 sequence", "\xC3(", QStringLiteral("Ã(")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(decode8bit(c.bytes), c.text) << c.name;
}

TEST(TextCodec, Cp1252EncodingMarksUnmappableCharacters)
{
    EXPECT_EQ(encodeCp1252(QStringLiteral("Müller: 10€")), QByteArray("M\xFCller: 10\x80"));
    EXPECT_EQ(encodeCp1252(QStringLiteral("a\u4E2Db")), QByteArray("a?b"));
}

TEST(TextCodec, TerminalSafeTextHoldsNoControlCharacter)
{
    struct Case {
        const char *name;
        QString text;
        bool keepLineBreaks;
        QString safe;
    } cases[] = {
        {"plain text with umlauts", QStringLiteral("Grüße, € „x“"), false, QStringLiteral("Grüße, € „x“")},
        {"title sequence", QStringLiteral("a\x1B]0;pwned\x07z"), false, QStringLiteral("a?]0;pwned?z")},
        {"C1 CSI and DEL", QStringLiteral("a\u009B31m\u007Fz"), false, QStringLiteral("a?31m?z")},
        {"tab and line breaks", QStringLiteral("a\tb\r\nc\nd\re"), false, QStringLiteral("a?b??c?d?e")},
        {"line breaks kept", QStringLiteral("a\tb\r\nc\nd\re"), true, QStringLiteral("a?b\nc\nd?e")},
        {"NUL", QString(QStringLiteral("a")) + QChar(0) + QStringLiteral("b"), false, QStringLiteral("a?b")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(terminalSafe(c.text, c.keepLineBreaks), c.safe) << c.name;
    // Protocol bytes: read by the 8-bit rule (0x9B is a Windows-1252 character, "›"), given back as UTF-8.
    EXPECT_EQ(terminalSafe(QByteArray("S\x1B[2K\x9B\xC3")), QByteArray("S?[2K\xE2\x80\xBA\xC3\x83"));
    EXPECT_EQ(terminalSafe(QByteArray("S\xC2\x9B\x7F")), QByteArray("S??"));
}
