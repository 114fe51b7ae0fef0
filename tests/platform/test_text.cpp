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
