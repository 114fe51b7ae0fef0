// Passwords in the keyring against a private Dovecot and a private keyring: a mailbox set up with
// quarvel-reg keeps its password in the keyring alone and is checked; outside the keyring's session the
// same profile cannot log in and says why; an existing profile moves in; a .reg export and import keeps
// the file format; the outgoing server logs in with the keyring's password.
#include "BlowfishCryptUnit.h"
#include "CheckerTestSupport.h"
#include "DovecotCheckerSupport.h"
#include "DovecotSuite.h"
#include "KeyringPasswords.h"
#include "KeyringSession.h"
#include "QtPrinters.h"
#include "ScopedEnv.h"
#include "SecretStore.h"
#include "SMTPUnit.h"
#include "SmtpTestServer.h"
#include "ToolSupport.h"

#include <QFile>

#include <optional>

namespace {

QByteArray mail(const QByteArray &subject)
{
    return "From: Anna <anna@example.test>\r\nTo: bob@example.test\r\nSubject: " + subject
           + "\r\nMessage-ID: <" + subject.toHex() + "@example.test>\r\n\r\nHallo.\r\n";
}

class KeyringCheckerTest : public MailboxOnDovecot<WithDovecot<WithKeyring<CheckerFixture>>> {
protected:
    QString key() const { return SecretKey(TPasswordKind::Incoming, server->host(), user); }

    static QByteArray rawPassword(int index, const QString &name = kPOP3PasswordValue)
    {
        platform::RegistryHive h(platform::RegRoot::CurrentUser);
        platform::RegValue v;
        return h.readValue(kProgramKey + QStringLiteral("\\POP3\\Settings\\%1").arg(index), name, &v) ? v.data
                                                                                                   : QByteArray();
    }

    // The settings file's bytes hold the password neither in clear text nor enciphered.
    void expectNoPasswordInTheProfile(const QString &secret)
    {
        QFile file(platform::registryFile(platform::RegRoot::CurrentUser));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        EXPECT_FALSE(bytes.contains(secret.toUtf8()));
        EXPECT_FALSE(bytes.contains(EncryptPassword(secret, FixedPassPhrase())));
    }

    // quarvel-check's lines (stdout) or its failures (stderr); its exit code.
    int check(QByteArray *out, QByteArray *err) { return RunQuarvelCheck({}, out, err); }
};

TEST_F(KeyringCheckerTest, AMailboxSetUpWithTheToolKeepsItsPasswordInTheKeyringAloneAndIsChecked)
{
    ASSERT_FALSE(server->deliver(user, mail("Hallo aus dem Schlüsselbund")).isEmpty());
    AddMailbox(0, server->host(), server->port(), user, password());

    EXPECT_EQ(rawPassword(0), kKeyringMarker);
    EXPECT_EQ(keyring->lookup(key()), password());
    expectNoPasswordInTheProfile(password());

    QByteArray out, err;
    ASSERT_EQ(check(&out, &err), 0) << err.toStdString();
    EXPECT_TRUE(out.contains("Hallo aus dem Schl")) << out.toStdString();

    // The coordinator of the window too: the loaded record has no password, the worker asks the keyring.
    settings.Load();
    ASSERT_EQ(settings.Settings.Accounts.size(), 1);
    EXPECT_TRUE(settings.Settings.Accounts.at(0).PasswordInKeyring);
    EXPECT_TRUE(settings.Settings.Accounts.at(0).Password.isEmpty());
    checker = std::make_unique<TPOP3Checker>(settings, detector, ui);
    EXPECT_EQ(checkNow(), 1) << ui.progress.join(u'\n').toStdString();
}

TEST_F(KeyringCheckerTest, OutsideTheKeyringsSessionTheSameProfileCannotLogInAndSaysWhy)
{
    ASSERT_FALSE(server->deliver(user, mail("Hallo")).isEmpty());
    AddMailbox(0, server->host(), server->port(), user, password());
    ASSERT_EQ(rawPassword(0), kKeyringMarker);

    QByteArray out, err;
    {
        ScopedEnv outside;
        outside.set("DBUS_SESSION_BUS_ADDRESS", NoSessionBusAddress().toUtf8());
        EXPECT_EQ(check(&out, &err), 1);
    }
    const QString said = QString::fromUtf8(err);
    EXPECT_TRUE(said.contains(QStringLiteral("Das Kennwort für %1@%2 konnte nicht aus dem Schlüsselbund gelesen werden")
                                  .arg(user, server->host())))
        << err.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("(Fehlernummer %1)").arg(kPasswordUnavailableCode))) << err.toStdString();
    EXPECT_FALSE(out.contains("Hallo"));
    // No login was tried with an empty password.
    EXPECT_FALSE(server->log().contains(QStringLiteral("user=<%1>").arg(user))) << server->log().toStdString();
}

TEST_F(KeyringCheckerTest, AMissingEntryFailsTheAccountWithItsOwnCodeAndTheOthersAreChecked)
{
    ASSERT_FALSE(server->deliver(user, mail("Hallo")).isEmpty());
    TPOP3AccountSettings missing = Account(server->host(), QStringLiteral("nicht-im-schluesselbund"), QString());
    missing.Port = server->port();
    missing.PasswordInKeyring = true;
    TPOP3AccountSettings good = Account(server->host(), user, password());
    good.Port = server->port();
    makeRealChecker({missing, good});

    EXPECT_EQ(checkNow(), 1);
    ASSERT_EQ(ui.progress.size(), 4) << ui.progress.join(u'\n').toStdString();
    EXPECT_TRUE(ui.progress.at(1).startsWith(
        QStringLiteral("nicht-im-schluesselbund@%1 2 %2 Das Kennwort für").arg(server->host()).arg(kPasswordUnavailableCode)))
        << ui.progress.at(1).toStdString();
    EXPECT_TRUE(ui.progress.at(1).contains(QStringLiteral("keinen Eintrag"))) << ui.progress.at(1).toStdString();
    EXPECT_EQ(ui.progress.at(3), QStringLiteral("%1@%2 1 0").arg(user, server->host()));
}

TEST_F(KeyringCheckerTest, AnImapMailboxLogsInWithThePasswordFromTheKeyringOrFailsWithItsOwnCode)
{
    ASSERT_FALSE(server->deliver(user, mail("Hallo per IMAP")).isEmpty());
    ASSERT_TRUE(secrets::Write(key(), password()).ok());
    TPOP3AccountSettings imap = Account(server->host(), user, QString());
    imap.AccountType = atIMAP;
    imap.Port = server->imapPort();
    imap.PasswordInKeyring = true;
    TPOP3AccountSettings missing = imap;
    missing.AccountName = QStringLiteral("nicht-im-schluesselbund");
    makeRealChecker({missing, imap});

    EXPECT_EQ(checkNow(), 1);
    ASSERT_EQ(ui.progress.size(), 4) << ui.progress.join(u'\n').toStdString();
    EXPECT_TRUE(ui.progress.at(1).startsWith(
        QStringLiteral("nicht-im-schluesselbund@%1 2 %2 Das Kennwort für").arg(server->host()).arg(kPasswordUnavailableCode)))
        << ui.progress.at(1).toStdString();
    EXPECT_EQ(ui.progress.at(3), QStringLiteral("%1@%2 1 0").arg(user, server->host()));
    ASSERT_EQ(checker->MailList.Count(), 1);
    EXPECT_EQ(checker->MailList[0]->Message.Subject, QStringLiteral("Hallo per IMAP"));
    // No login was tried with an empty password.
    EXPECT_FALSE(server->log().contains(QStringLiteral("user=<nicht-im-schluesselbund>"))) << server->log().toStdString();
}

TEST_F(KeyringCheckerTest, AnExistingProfileMovesIntoTheKeyringAndIsCheckedFromThere)
{
    ASSERT_FALSE(server->deliver(user, mail("Hallo")).isEmpty());
    {
        // Set up where no keyring is: the passwords are enciphered in the settings, as always.
        ScopedEnv outside;
        outside.set("DBUS_SESSION_BUS_ADDRESS", NoSessionBusAddress().toUtf8());
        AddMailbox(0, server->host(), server->port(), user, password());
        SetMailboxValue(0, QStringLiteral("SMTPUsePOP3Data"), QStringLiteral("0"));
        SetMailboxValue(0, kSMTPPasswordValue, QStringLiteral("smtp-") + password(), true);
    }
    ASSERT_EQ(rawPassword(0), EncryptPassword(password(), FixedPassPhrase()));

    const TPasswordMove moved = MovePasswordsToKeyring();
    EXPECT_EQ(moved.Moved, 2) << moved.ErrorText.toStdString();
    EXPECT_EQ(rawPassword(0), kKeyringMarker);
    EXPECT_EQ(rawPassword(0, kSMTPPasswordValue), kKeyringMarker);
    EXPECT_EQ(keyring->lookup(key()), password());
    EXPECT_EQ(keyring->lookup(SecretKey(TPasswordKind::Outgoing, server->host(), user)), QStringLiteral("smtp-") + password());
    expectNoPasswordInTheProfile(password());

    QByteArray out, err;
    ASSERT_EQ(check(&out, &err), 0) << err.toStdString();
    EXPECT_TRUE(out.contains("Hallo")) << out.toStdString();
}

TEST_F(KeyringCheckerTest, AnExportHoldsTheEncipheredPasswordAndItsImportGoesIntoTheKeyringAgain)
{
    ASSERT_FALSE(server->deliver(user, mail("Hallo")).isEmpty());
    AddMailbox(0, server->host(), server->port(), user, password());
    ASSERT_EQ(rawPassword(0), kKeyringMarker);

    const QString file = profile.file(QStringLiteral("export.reg"));
    QByteArray out, err;
    ASSERT_EQ(runProcess(toolPath(QStringLiteral("quarvel-reg")),
                         {QStringLiteral("export"), QStringLiteral("HKCU\\Software\\Tessmar Software\\Quarvel"), file},
                         &out, &err),
              0)
        << err.toStdString();
    EXPECT_TRUE(QString::fromUtf8(err).contains(QStringLiteral("enthält 1 Kennwort"))) << err.toStdString();
    QFile exported(file);
    ASSERT_TRUE(exported.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(exported.readAll());
    // The value as the settings file of a program without keyring holds it.
    QString hex;
    for (const char c : EncryptPassword(password(), FixedPassPhrase()))
        hex += QStringLiteral("%1,").arg(quint8(c), 2, 16, QLatin1Char('0'));
    hex.chop(1);
    EXPECT_TRUE(text.contains(QStringLiteral("\"POP3PASSWORD\"=hex:") + hex)) << text.toStdString();

    // Another profile takes the file in: its own keyring entry, the marker in its settings, a check.
    const QString firstKey = key();
    TestProfile other;
    ASSERT_EQ(runProcess(toolPath(QStringLiteral("quarvel-reg")), {QStringLiteral("import"), file}, &out, &err), 0)
        << err.toStdString();
    EXPECT_EQ(rawPassword(0), kKeyringMarker);
    const QString otherKey = SecretKey(TPasswordKind::Incoming, server->host(), user);
    EXPECT_NE(otherKey, firstKey);
    EXPECT_EQ(keyring->lookup(otherKey), password());
    ASSERT_EQ(check(&out, &err), 0) << err.toStdString();
    EXPECT_TRUE(out.contains("Hallo")) << out.toStdString();
}

TEST_F(KeyringCheckerTest, TheOutgoingServerLogsInWithThePasswordFromTheKeyring)
{
    SmtpTestServer::Options options;
    options.auth = QStringLiteral("plain");
    options.user = QStringLiteral("smtp-anna");
    options.password = QStringLiteral("smtp-geheim");
    SmtpTestServer smtp(options);
    QString error;
    ASSERT_TRUE(smtp.start(&error)) << error.toStdString();

    TSMTPSendClass sender;
    sender.Account.ServerName = QStringLiteral("pop.example.test");
    sender.Account.AccountName = QStringLiteral("anna");
    sender.Account.SMTPServer = smtp.host();
    sender.Account.SMTPPort = smtp.port();
    sender.Account.SMTPAuth = true;
    sender.Account.SMTPUsePOP3Data = false;
    sender.Account.SMTPAccountName = QStringLiteral("smtp-anna");
    sender.Account.SMTPPasswordInKeyring = true;
    sender.ConnectTimeoutMs = sender.ReadTimeoutMs = 10000;
    MailMessage message;
    message.From = {QStringLiteral("Anna"), QStringLiteral("anna@example.test")};
    message.Recipients = {{QString(), QStringLiteral("bob@example.test")}};
    message.Subject = QStringLiteral("Antwort");
    message.Body = {QStringLiteral("Hallo.")};

    // No entry yet: no login is tried, and the reason names the server's mailbox.
    QString sendError;
    EXPECT_FALSE(sender.SendMail(message, sendError));
    EXPECT_TRUE(sendError.startsWith(QStringLiteral("0 Das Kennwort für den Postausgangsserver von anna@pop.example.test")))
        << sendError.toStdString();
    EXPECT_TRUE(smtp.logins().isEmpty());

    ASSERT_TRUE(secrets::Write(SecretKey(sender.Account, TPasswordKind::Outgoing), QStringLiteral("smtp-geheim")).ok());
    ASSERT_TRUE(sender.SendMail(message, sendError)) << sendError.toStdString();
    ASSERT_EQ(smtp.logins().size(), 1);
    EXPECT_EQ(smtp.logins().at(0).value(QStringLiteral("password")).toString(), QStringLiteral("smtp-geheim"));
    EXPECT_EQ(smtp.messages().size(), 1);
}

} // namespace
