// Passwords that live in the keyring as the settings store and the logins see them, without a keyring
// being asked: the registry's marker, the keys, which entries a saved list no longer needs, and where a
// login's password comes from.
#include "BlowfishCryptUnit.h"
#include "KeyringPasswords.h"
#include "QtPrinters.h"
#include "RegistrySettingsUnit.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QDir>

namespace {

const QString kAccount0 = kProgramKey + QStringLiteral("\\POP3\\Settings\\0");

QByteArray rawValue(const QString &key, const QString &name)
{
    platform::RegistryHive h(platform::RegRoot::CurrentUser);
    platform::RegValue v;
    return h.readValue(key, name, &v) ? v.data : QByteArray("(missing)");
}

TPOP3AccountSettings account(const QString &user, const QString &host = QStringLiteral("pop.example.test"))
{
    TPOP3AccountSettings a;
    a.ServerName = host;
    a.AccountName = user;
    return a;
}

struct KeyringMarkerTest : ::testing::Test {
    TestProfile profile;
    QString progDir = profile.file(QStringLiteral("prog/"));
    void SetUp() override { QDir().mkpath(progDir); }
};

TEST_F(KeyringMarkerTest, APasswordInTheKeyringIsStoredAsTheMarkerAndLoadsAsItsFlag)
{
    TRegistrySettings s(progDir);
    s.Load();
    TPOP3AccountSettings kept = account(QStringLiteral("kept"));
    kept.PasswordInKeyring = true;
    kept.SMTPUsePOP3Data = false;
    kept.SMTPPasswordInKeyring = true;
    // A new password typed over one in the keyring is stored enciphered until the next move.
    TPOP3AccountSettings retyped = account(QStringLiteral("retyped"));
    retyped.Password = QStringLiteral("neu");
    retyped.PasswordInKeyring = true;
    s.Settings.Accounts = {kept, retyped};
    s.Settings.SMSGateway.Username = QStringLiteral("sms");
    s.Settings.SMSGateway.PasswordInKeyring = true;
    s.Save();

    EXPECT_EQ(rawValue(kAccount0, kPOP3PasswordValue), kKeyringMarker);
    EXPECT_EQ(rawValue(kAccount0, kSMTPPasswordValue), kKeyringMarker);
    EXPECT_EQ(rawValue(kProgramKey + QStringLiteral("\\ZirpelSettings"), kSMSPasswordValue), kKeyringMarker);
    QString deciphered;
    EXPECT_TRUE(DecryptPassword(rawValue(kProgramKey + QStringLiteral("\\POP3\\Settings\\1"), kPOP3PasswordValue),
                                FixedPassPhrase(), &deciphered));
    EXPECT_EQ(deciphered, QStringLiteral("neu"));
    // A reader that does not know the marker takes it for a password it cannot decipher: an empty one.
    EXPECT_LT(kKeyringMarker.size(), 32);
    EXPECT_FALSE(DecryptPassword(kKeyringMarker, FixedPassPhrase(), &deciphered));

    TRegistrySettings again(progDir);
    again.Load();
    ASSERT_EQ(again.Settings.Accounts.size(), 2);
    const TPOP3AccountSettings &a = again.Settings.Accounts.at(0);
    EXPECT_TRUE(a.PasswordInKeyring);
    EXPECT_TRUE(a.SMTPPasswordInKeyring);
    EXPECT_TRUE(a.Password.isEmpty());
    EXPECT_TRUE(a.SMTPPassword.isEmpty());
    const TPOP3AccountSettings &b = again.Settings.Accounts.at(1);
    EXPECT_FALSE(b.PasswordInKeyring);
    EXPECT_EQ(b.Password, QStringLiteral("neu"));
    EXPECT_TRUE(again.Settings.SMSGateway.PasswordInKeyring);
    EXPECT_TRUE(again.Settings.SMSGateway.Password.isEmpty());
}

TEST_F(KeyringMarkerTest, KeysNameTheKindTheMailboxAndTheProfile)
{
    const QString pop3 = SecretKey(TPasswordKind::Incoming, QStringLiteral("pop.example.test"), QStringLiteral("anna"));
    EXPECT_EQ(pop3, QStringLiteral("POP3 anna@pop.example.test (%1)").arg(ProfileName()));
    EXPECT_TRUE(ProfileName().startsWith(profile.path()));
    EXPECT_NE(SecretKey(TPasswordKind::Outgoing, QStringLiteral("pop.example.test"), QStringLiteral("anna")), pop3);
    EXPECT_NE(SecretKey(TPasswordKind::Incoming, QStringLiteral("pop.example.test"), QStringLiteral("bob")), pop3);
    EXPECT_EQ(SMSSecretKey(), QStringLiteral("SMS-Gateway (%1)").arg(ProfileName()));
    // A "%" in a name is no placeholder.
    EXPECT_EQ(SecretKey(TPasswordKind::Incoming, QStringLiteral("h"), QStringLiteral("100%1")),
              QStringLiteral("POP3 100%1@h (") + ProfileName() + QLatin1Char(')'));
    {
        TestProfile other;
        EXPECT_NE(SecretKey(TPasswordKind::Incoming, QStringLiteral("pop.example.test"), QStringLiteral("anna")), pop3);
    }
}

TEST(UnusedSecretKeys, OnlyEntriesNoMailboxNeedsAnyMore)
{
    TPOP3AccountSettings anna = account(QStringLiteral("anna"));
    anna.PasswordInKeyring = true;
    anna.SMTPUsePOP3Data = false;
    anna.SMTPPasswordInKeyring = true;
    TPOP3AccountSettings bob = account(QStringLiteral("bob"));
    bob.PasswordInKeyring = true;
    const QString annaPop3 = SecretKey(anna, TPasswordKind::Incoming);
    const QString annaSmtp = SecretKey(anna, TPasswordKind::Outgoing);
    const QString bobPop3 = SecretKey(bob, TPasswordKind::Incoming);

    TPOP3AccountSettings annaRenamed = anna;
    annaRenamed.ServerName = QStringLiteral("pop.example.org");
    TPOP3AccountSettings annaSameSmtp = anna;
    annaSameSmtp.SMTPUsePOP3Data = true;
    annaSameSmtp.SMTPPasswordInKeyring = false;
    TPOP3AccountSettings annaRetyped = anna;
    annaRetyped.PasswordInKeyring = false;
    annaRetyped.Password = QStringLiteral("neu");
    TPOP3AccountSettings annaNoPassword = anna;
    annaNoPassword.PasswordInKeyring = false;

    struct Case {
        const char *name;
        TPOP3Accounts before;
        TPOP3Accounts after;
        QStringList unused;
    };
    const TPOP3Accounts both{anna, bob};
    const QList<Case> cases{
        {"nothing changed", both, {anna, bob}, {}},
        {"a mailbox deleted", both, {bob}, {annaPop3, annaSmtp}},
        {"every mailbox deleted", both, {}, {annaPop3, annaSmtp, bobPop3}},
        {"a mailbox renamed", both, {annaRenamed, bob}, {annaPop3, annaSmtp}},
        {"its own SMTP login given up", both, {annaSameSmtp, bob}, {annaSmtp}},
        // The next move puts the new password under the same key.
        {"a new password typed", both, {annaRetyped, bob}, {}},
        {"the password removed", both, {annaNoPassword, bob}, {annaPop3}},
        // Two records of one mailbox are one account: the entry stays while one of them is left.
        {"one of two records of a mailbox deleted", {anna, anna, bob}, {anna, bob}, {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(UnusedSecretKeys(c.before, c.after), c.unused) << c.name;
}

TEST_F(KeyringMarkerTest, SavingTheMailboxesNamesTheEntriesTheReplacedListUsed)
{
    TRegistrySettings s(progDir);
    TPOP3AccountSettings anna = account(QStringLiteral("anna"));
    anna.PasswordInKeyring = true;
    TPOP3AccountSettings bob = account(QStringLiteral("bob"));
    bob.PasswordInKeyring = true;
    ASSERT_TRUE(s.SavePOP3Settings(TPOP3Check{}, {anna, bob}));
    QStringList unused;
    ASSERT_TRUE(s.SavePOP3Settings(TPOP3Check{}, {bob}, &unused));
    EXPECT_EQ(unused, QStringList{SecretKey(anna, TPasswordKind::Incoming)});
}

TEST(ResolvePassword, ARecordNotInTheKeyringGivesItsOwnPassword)
{
    TPOP3AccountSettings a = account(QStringLiteral("anna"));
    a.Password = QStringLiteral("pop3-pw");
    a.SMTPPassword = QStringLiteral("smtp-pw");
    struct Case {
        const char *name;
        bool sameData;
        TPasswordKind kind;
        QString expected;
    };
    const QList<Case> cases{
        {"incoming", true, TPasswordKind::Incoming, QStringLiteral("pop3-pw")},
        {"outgoing with its own login", false, TPasswordKind::Outgoing, QStringLiteral("smtp-pw")},
        {"outgoing with the mailbox's login", true, TPasswordKind::Outgoing, QStringLiteral("pop3-pw")},
    };
    for (const Case &c : cases) {
        a.SMTPUsePOP3Data = c.sameData;
        QString password, error;
        EXPECT_TRUE(ResolvePassword(a, c.kind, &password, &error)) << c.name;
        EXPECT_EQ(password, c.expected) << c.name;
    }
    TZirpelSettings gateway;
    gateway.Password = QStringLiteral("sms-pw");
    QString password, error;
    EXPECT_TRUE(ResolvePassword(gateway, &password, &error));
    EXPECT_EQ(password, QStringLiteral("sms-pw"));
}

TEST_F(KeyringMarkerTest, APasswordGivenForTheRunIsTakenWithoutAskingTheKeyring)
{
    // There is no application object here: a keyring call would fail.
    TPOP3AccountSettings a = account(QStringLiteral("given"));
    a.PasswordInKeyring = true;
    a.SMTPUsePOP3Data = true;
    RememberSessionPassword(SecretKey(a, TPasswordKind::Incoming), QStringLiteral("for-this-run"));
    for (TPasswordKind kind : {TPasswordKind::Incoming, TPasswordKind::Outgoing}) {
        QString password, error;
        EXPECT_TRUE(ResolvePassword(a, kind, &password, &error)) << error.toStdString();
        EXPECT_EQ(password, QStringLiteral("for-this-run"));
    }
    TPOP3AccountSettings other = account(QStringLiteral("not-given"));
    other.PasswordInKeyring = true;
    QString password, error;
    EXPECT_FALSE(ResolvePassword(other, TPasswordKind::Incoming, &password, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("not-given@pop.example.test"))) << error.toStdString();
}

} // namespace
