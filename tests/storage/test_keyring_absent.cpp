// Without a Secret Service (the test environment's bus address leads nowhere): the keyring says so at
// once, passwords stay enciphered in the settings as they always were, and a password that lives in a
// keyring cannot be had and says why.
#include "BlowfishCryptUnit.h"
#include "KeyringPasswords.h"
#include "KeyringSession.h"
#include "QtPrinters.h"
#include "RegistrySettingsUnit.h"
#include "SecretStore.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

namespace {

struct NoKeyringTest : ::testing::Test {
    void SetUp() override
    {
        ASSERT_EQ(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), NoSessionBusAddress())
            << "the test environment must point the bus nowhere";
        QDir().mkpath(progDir);
    }
    TestProfile profile;
    QString progDir = profile.file(QStringLiteral("prog/"));
};

TEST_F(NoKeyringTest, EveryCallSaysTheKeyringIsNotReachable)
{
    for (const TSecretResult &r : {secrets::Probe(), secrets::Read(QStringLiteral("k")),
                                   secrets::Write(QStringLiteral("k"), QStringLiteral("v"))}) {
        EXPECT_EQ(r.Status, TSecretStatus::Unavailable);
        EXPECT_TRUE(r.ErrorText.startsWith(QStringLiteral("Der Schlüsselbund der Arbeitsumgebung ist nicht erreichbar")))
            << r.ErrorText.toStdString();
    }
}

TEST_F(NoKeyringTest, PasswordsStayEncipheredInTheSettings)
{
    TRegistrySettings s(progDir);
    s.Load();
    TPOP3AccountSettings a;
    a.ServerName = QStringLiteral("pop.example.test");
    a.AccountName = QStringLiteral("anna");
    a.Password = QStringLiteral("geheim");
    s.Settings.Accounts = {a};
    s.Settings.SMSGateway.Username = QStringLiteral("sms");
    s.Settings.SMSGateway.Password = QStringLiteral("sms-geheim");
    s.Save();

    const TPasswordMove move = MovePasswordsToKeyring();
    EXPECT_FALSE(move.KeyringAvailable);
    EXPECT_EQ(move.Moved, 0);
    EXPECT_FALSE(move.ErrorText.isEmpty());
    platform::RegistryHive h(platform::RegRoot::CurrentUser);
    platform::RegValue v;
    ASSERT_TRUE(h.readValue(kProgramKey + QStringLiteral("\\POP3\\Settings\\0"), kPOP3PasswordValue, &v));
    EXPECT_EQ(v.data, EncryptPassword(QStringLiteral("geheim"), FixedPassPhrase()));

    TRegistrySettings loaded(progDir);
    loaded.Load();
    EXPECT_EQ(loaded.Settings.Accounts.at(0).Password, QStringLiteral("geheim"));
    EXPECT_FALSE(loaded.Settings.Accounts.at(0).PasswordInKeyring);
    EXPECT_EQ(loaded.Settings.SMSGateway.Password, QStringLiteral("sms-geheim"));
    QString password, error;
    EXPECT_TRUE(ResolvePassword(loaded.Settings.Accounts.at(0), TPasswordKind::Incoming, &password, &error));
    EXPECT_EQ(password, QStringLiteral("geheim"));
}

TEST_F(NoKeyringTest, APasswordInAKeyringCannotBeHadAndTheTextSaysForWhichMailbox)
{
    TPOP3AccountSettings a;
    a.ServerName = QStringLiteral("pop.example.test");
    a.AccountName = QStringLiteral("anna");
    a.PasswordInKeyring = true;
    a.SMTPUsePOP3Data = false;
    a.SMTPPasswordInKeyring = true;
    QString password = QStringLiteral("stale"), error;
    EXPECT_FALSE(ResolvePassword(a, TPasswordKind::Incoming, &password, &error));
    EXPECT_TRUE(password.isEmpty());
    EXPECT_TRUE(error.startsWith(QStringLiteral("Das Kennwort für anna@pop.example.test konnte nicht aus dem "
                                                "Schlüsselbund gelesen werden. Der Schlüsselbund der Arbeitsumgebung ist nicht erreichbar")))
        << error.toStdString();
    EXPECT_FALSE(ResolvePassword(a, TPasswordKind::Outgoing, &password, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("den Postausgangsserver von anna@pop.example.test"))) << error.toStdString();
    TZirpelSettings gateway;
    gateway.PasswordInKeyring = true;
    EXPECT_FALSE(ResolvePassword(gateway, &password, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("das SMS-Gateway"))) << error.toStdString();
}

TEST_F(NoKeyringTest, TheRegistryToolStoresEncipheredAndCannotExportWhatOnlyAKeyringHolds)
{
    const QString key = QStringLiteral("HKCU\\Software\\Tessmar Software\\Quarvel\\POP3\\Settings\\0");
    auto reg = [](const QStringList &args, QByteArray *err = nullptr) {
        return runProcess(toolPath(QStringLiteral("quarvel-reg")), args, nullptr, err);
    };
    ASSERT_EQ(reg({QStringLiteral("add"), key, QStringLiteral("/v"), kAccountNameValue, QStringLiteral("/d"), QStringLiteral("anna")}), 0);
    QByteArray err;
    ASSERT_EQ(reg({QStringLiteral("add"), key, QStringLiteral("/v"), kPOP3PasswordValue, QStringLiteral("/password"),
                   QStringLiteral("/d"), QStringLiteral("geheim")},
                  &err),
              0);
    EXPECT_TRUE(QString::fromUtf8(err).contains(QStringLiteral("Kennwörter bleiben verschlüsselt in der Einstellungsdatei")))
        << err.toStdString();
    platform::RegistryHive h(platform::RegRoot::CurrentUser);
    platform::RegValue v;
    ASSERT_TRUE(h.readValue(kProgramKey + QStringLiteral("\\POP3\\Settings\\0"), kPOP3PasswordValue, &v));
    EXPECT_EQ(v.data, EncryptPassword(QStringLiteral("geheim"), FixedPassPhrase()));

    // A value that holds the marker has its password only in a keyring, which is not there: no export.
    ASSERT_TRUE(h.setValue(kProgramKey + QStringLiteral("\\POP3\\Settings\\0"), kSMTPPasswordValue, platform::RegBinary,
                           kKeyringMarker));
    const QString file = profile.file(QStringLiteral("out.reg"));
    EXPECT_EQ(reg({QStringLiteral("export"), QStringLiteral("HKCU\\Software\\Tessmar Software\\Quarvel"), file}, &err), 1);
    EXPECT_TRUE(QString::fromUtf8(err).contains(QStringLiteral("Es wurde nichts exportiert"))) << err.toStdString();
    EXPECT_FALSE(QFile::exists(file));
}

} // namespace
