#include "BlowfishCryptUnit.h"
#include "RegistrySettingsUnit.h"

#include <gtest/gtest.h>

TEST(Blowfish, PublishedTestVectors)
{
    // From Schneier's published vectors (key, plain text, cipher text).
    struct Case {
        const char *key, *plain, *cipher;
    } cases[] = {
        {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
        {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
        {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
        {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
        {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
        {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
        {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(BlowfishEncryptBlock(QByteArray::fromHex(c.key), QByteArray::fromHex(c.plain)).toHex().toUpper(),
                  QByteArray(c.cipher))
            << c.key;
    // Variable key length: the 24-byte key of the set-key vectors.
    EXPECT_EQ(BlowfishEncryptBlock(QByteArray::fromHex("F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677"),
                                   QByteArray::fromHex("FEDCBA9876543210"))
                  .toHex()
                  .toUpper(),
              QByteArray("05044B62FA52D080"));
}

TEST(PasswordCipher, StoredLengthIsPasswordPlusCheckBlockAndReadsBack)
{
    const QByteArray phrase = FixedPassPhrase();
    for (int n : {0, 1, 7, 8, 9, 16, 23}) {
        const QByteArray pw = QByteArray("geheimes Passwort 1234567890").left(n);
        TMemoryStream src{pw, 0}, dst;
        ASSERT_TRUE(EncryptStream(src, dst, phrase));
        ASSERT_EQ(dst.Data.size(), n + 32) << n;
        TMemoryStream back{dst.Data, 0};
        ASSERT_TRUE(DecryptStream(back, phrase)) << n;
        EXPECT_EQ(back.Position, 32);
        EXPECT_EQ(back.Data.mid(back.Position), pw) << n;
    }
}

TEST(PasswordCipher, SharedPrefixGivesSharedStoredPrefixAndNoSalt)
{
    const QByteArray phrase = FixedPassPhrase();
    const QByteArray a = EncryptPassword(QStringLiteral("abcdefghXYZ"), phrase);
    const QByteArray b = EncryptPassword(QStringLiteral("abcdefgh123"), phrase);
    EXPECT_EQ(a.left(40), b.left(40));
    EXPECT_NE(a.mid(40), b.mid(40));
    EXPECT_EQ(a, EncryptPassword(QStringLiteral("abcdefghXYZ"), phrase));
    // The check block depends only on the pass phrase.
    EXPECT_EQ(EncryptPassword(QString(), phrase), a.left(32));
}

TEST(PasswordCipher, WrongPhraseShortOrDamagedValuesAreRefusedUntouched)
{
    const QByteArray sms = EncryptPassword(QStringLiteral("gatewaypw"), SMSPassPhrase(QStringLiteral("anna")));
    struct Case {
        const char *name;
        QByteArray stored;
        QByteArray phrase;
    } cases[] = {
        {"sms value under the fixed phrase", sms, FixedPassPhrase()},
        {"sms value under another user name", sms, SMSPassPhrase(QStringLiteral("bert"))},
        {"31 bytes", sms.left(31), SMSPassPhrase(QStringLiteral("anna"))},
        {"damaged check block", QByteArray(sms).replace(3, 1, "\x00"), SMSPassPhrase(QStringLiteral("anna"))},
    };
    for (const Case &c : cases) {
        TMemoryStream s{c.stored, 0};
        EXPECT_FALSE(DecryptStream(s, c.phrase)) << c.name;
        EXPECT_EQ(s.Data, c.stored) << c.name;
    }
    QString pw = QStringLiteral("stale");
    EXPECT_FALSE(DecryptPassword(sms, FixedPassPhrase(), &pw));
    EXPECT_TRUE(pw.isEmpty());
    EXPECT_TRUE(DecryptPassword(sms, SMSPassPhrase(QStringLiteral("anna")), &pw));
    EXPECT_EQ(pw, QStringLiteral("gatewaypw"));
}

TEST(PasswordCipher, NonAsciiPasswordsSurvive)
{
    QString pw;
    ASSERT_TRUE(DecryptPassword(EncryptPassword(QStringLiteral("Grüße€"), FixedPassPhrase()), FixedPassPhrase(), &pw));
    EXPECT_EQ(pw, QStringLiteral("Grüße€"));
}
