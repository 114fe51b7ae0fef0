// The keyring on a private session bus with GNOME Keyring: secrets by key, the two forms of a call, the
// move of a profile's passwords into it, and a keyring that does not answer or is locked.
#include "BlowfishCryptUnit.h"
#include "EventWait.h"
#include "KeyringPasswords.h"
#include "KeyringSession.h"
#include "QtPrinters.h"
#include "RegistrySettingsUnit.h"
#include "SecretStore.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QThread>

#include <memory>
#include <optional>

namespace {

QByteArray rawValue(const QString &section, const QString &name)
{
    platform::RegistryHive h(platform::RegRoot::CurrentUser);
    platform::RegValue v;
    return h.readValue(kProgramKey + QLatin1Char('\\') + section, name, &v) ? v.data : QByteArray("(missing)");
}

TPOP3AccountSettings mailbox(const QString &name, const QString &password = QString())
{
    TPOP3AccountSettings a;
    a.ServerName = QStringLiteral("pop.example.test");
    a.AccountName = name;
    a.Password = password;
    return a;
}

// A mailbox whose settings say that its password is in the keyring.
TPOP3AccountSettings inKeyring(const QString &name)
{
    TPOP3AccountSettings a = mailbox(name);
    a.PasswordInKeyring = true;
    return a;
}

class KeyringTest : public WithKeyring<::testing::Test> {
protected:
    void SetUp() override
    {
        WithKeyring::SetUp();
        QDir().mkpath(progDir);
    }

    // Waits for the answer of an asynchronous call, running this thread's events meanwhile.
    static std::optional<TSecretResult> answerOf(const std::function<void(QObject *, secrets::Continuation)> &call)
    {
        QObject context;
        std::optional<TSecretResult> answer;
        call(&context, [&answer](const TSecretResult &r) { answer = r; });
        processEventsUntil([&] { return answer.has_value(); });
        return answer;
    }

    TestProfile profile;
    QString progDir = profile.file(QStringLiteral("prog/"));
};

TEST_F(KeyringTest, SecretsAreWrittenReadReplacedAndRemovedByKey)
{
    const QString key = QStringLiteral("test key ") + profile.path();
    EXPECT_TRUE(secrets::Probe().ok());
    const TSecretResult missing = secrets::Read(key);
    EXPECT_EQ(missing.Status, TSecretStatus::NotFound);
    EXPECT_FALSE(missing.ErrorText.isEmpty());

    ASSERT_TRUE(secrets::Write(key, QStringLiteral("Grüße € 1")).ok());
    EXPECT_EQ(keyring->lookup(key), QStringLiteral("Grüße € 1"));
    EXPECT_EQ(secrets::Read(key).Secret, QStringLiteral("Grüße € 1"));
    ASSERT_TRUE(secrets::Write(key, QStringLiteral("zwei")).ok());
    EXPECT_EQ(secrets::Read(key).Secret, QStringLiteral("zwei"));

    EXPECT_TRUE(secrets::Remove(key).ok());
    EXPECT_EQ(keyring->lookup(key), std::nullopt);
    EXPECT_EQ(secrets::Read(key).Status, TSecretStatus::NotFound);
    // Removing what is not there leaves what was wished.
    EXPECT_TRUE(secrets::Remove(key).ok());
}

TEST_F(KeyringTest, AsynchronousAnswersComeOnTheContextsThreadAndNeverAfterItIsGone)
{
    const QString key = QStringLiteral("async ") + profile.path();
    auto written = answerOf([&](QObject *c, secrets::Continuation done) { secrets::WriteAsync(key, QStringLiteral("s"), c, done); });
    ASSERT_TRUE(written && written->ok());

    QThread *answeredOn = nullptr;
    QString read;
    QObject context;
    secrets::ReadAsync(key, &context, [&](const TSecretResult &r) {
        answeredOn = QThread::currentThread();
        read = r.Secret;
    });
    // Its context goes before the answer can arrive: nobody is called.
    bool goneCalled = false;
    {
        auto gone = std::make_unique<QObject>();
        secrets::ReadAsync(key, gone.get(), [&goneCalled](const TSecretResult &) { goneCalled = true; });
    }
    // Answers come in order, so the last one arriving means the others have too.
    auto last = answerOf([&](QObject *c, secrets::Continuation done) { secrets::ProbeAsync(c, done); });
    ASSERT_TRUE(last && last->ok());
    EXPECT_EQ(answeredOn, QThread::currentThread());
    EXPECT_EQ(read, QStringLiteral("s"));
    EXPECT_FALSE(goneCalled);
    secrets::Remove(key);
}

TEST_F(KeyringTest, AProfilesPasswordsMoveIntoTheKeyringAndTheSettingsKeepOnlyTheMarker)
{
    TRegistrySettings s(progDir);
    s.Load();
    TPOP3AccountSettings anna = mailbox(QStringLiteral("anna"), QStringLiteral("pop3-geheim"));
    anna.SMTPUsePOP3Data = false;
    anna.SMTPPassword = QStringLiteral("smtp-geheim");
    s.Settings.Accounts = {anna, mailbox(QStringLiteral("ohne"))};
    s.Settings.SMSGateway.Username = QStringLiteral("sms-user");
    s.Settings.SMSGateway.Password = QStringLiteral("sms-geheim");
    s.Save();
    const QByteArray emptyStored = rawValue(QStringLiteral("POP3\\Settings\\1"), kPOP3PasswordValue);

    const TPasswordMove moved = MovePasswordsToKeyring();
    EXPECT_TRUE(moved.KeyringAvailable);
    EXPECT_EQ(moved.Moved, 3) << moved.ErrorText.toStdString();
    EXPECT_EQ(moved.Failed, 0);
    EXPECT_EQ(rawValue(QStringLiteral("POP3\\Settings\\0"), kPOP3PasswordValue), kKeyringMarker);
    EXPECT_EQ(rawValue(QStringLiteral("POP3\\Settings\\0"), kSMTPPasswordValue), kKeyringMarker);
    EXPECT_EQ(rawValue(QStringLiteral("ZirpelSettings"), kSMSPasswordValue), kKeyringMarker);
    // An empty password has nothing to keep safe and stays as it was.
    EXPECT_EQ(rawValue(QStringLiteral("POP3\\Settings\\1"), kPOP3PasswordValue), emptyStored);
    EXPECT_EQ(keyring->lookup(SecretKey(anna, TPasswordKind::Incoming)), QStringLiteral("pop3-geheim"));
    EXPECT_EQ(keyring->lookup(SecretKey(anna, TPasswordKind::Outgoing)), QStringLiteral("smtp-geheim"));
    EXPECT_EQ(keyring->lookup(SMSSecretKey()), QStringLiteral("sms-geheim"));
    // Not one password is left in the settings file, in clear text or enciphered.
    QFile file(platform::registryFile(platform::RegRoot::CurrentUser));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    for (const QString &pw : {QStringLiteral("pop3-geheim"), QStringLiteral("smtp-geheim")}) {
        EXPECT_FALSE(bytes.contains(pw.toUtf8()));
        EXPECT_FALSE(bytes.contains(EncryptPassword(pw, FixedPassPhrase())));
    }
    EXPECT_FALSE(bytes.contains(EncryptPassword(QStringLiteral("sms-geheim"), SMSPassPhrase(QStringLiteral("sms-user")))));

    // Loaded, the records know where their passwords are; the logins get them from there.
    TRegistrySettings loaded(progDir);
    loaded.Load();
    const TPOP3AccountSettings a = loaded.Settings.Accounts.at(0);
    EXPECT_TRUE(a.PasswordInKeyring && a.SMTPPasswordInKeyring && a.Password.isEmpty() && a.SMTPPassword.isEmpty());
    QString password, error;
    EXPECT_TRUE(ResolvePassword(a, TPasswordKind::Incoming, &password, &error)) << error.toStdString();
    EXPECT_EQ(password, QStringLiteral("pop3-geheim"));
    EXPECT_TRUE(ResolvePassword(a, TPasswordKind::Outgoing, &password, &error)) << error.toStdString();
    EXPECT_EQ(password, QStringLiteral("smtp-geheim"));
    EXPECT_TRUE(ResolvePassword(loaded.Settings.SMSGateway, &password, &error)) << error.toStdString();
    EXPECT_EQ(password, QStringLiteral("sms-geheim"));

    // Once moved, nothing is left to move.
    const TPasswordMove again = MovePasswordsToKeyring();
    EXPECT_EQ(again.Moved + again.Failed, 0);
    for (const QString &key : {SecretKey(anna, TPasswordKind::Incoming), SecretKey(anna, TPasswordKind::Outgoing), SMSSecretKey()})
        secrets::Remove(key);
}

TEST_F(KeyringTest, TheWindowsMoveRunsInTheBackgroundAndReportsWhenDone)
{
    TRegistrySettings s(progDir);
    const TPOP3AccountSettings bob = mailbox(QStringLiteral("bob"), QStringLiteral("bob-geheim"));
    ASSERT_TRUE(s.SavePOP3Settings(TPOP3Check{}, {bob}));

    TPasswordMigration migration;
    std::optional<TPasswordMove> result;
    QObject::connect(&migration, &TPasswordMigration::Finished, [&result](const TPasswordMove &m) { result = m; });
    migration.Start();
    EXPECT_TRUE(migration.Running());
    ASSERT_TRUE(processEventsUntil([&] { return result.has_value(); }));
    EXPECT_EQ(result->Moved, 1);
    EXPECT_FALSE(migration.Running());
    EXPECT_EQ(rawValue(QStringLiteral("POP3\\Settings\\0"), kPOP3PasswordValue), kKeyringMarker);
    secrets::Remove(SecretKey(bob, TPasswordKind::Incoming));
}

TEST_F(KeyringTest, EntriesTheSavedMailboxesNoLongerNeedAreRemoved)
{
    TRegistrySettings s(progDir);
    const TPOP3AccountSettings anna = mailbox(QStringLiteral("anna"), QStringLiteral("a"));
    const TPOP3AccountSettings bob = mailbox(QStringLiteral("bob"), QStringLiteral("b"));
    ASSERT_TRUE(s.SavePOP3Settings(TPOP3Check{}, {anna, bob}));
    ASSERT_EQ(MovePasswordsToKeyring().Moved, 2);
    TPOP3Check check;
    TPOP3Accounts stored;
    s.LoadPOP3Settings(check, stored);

    QStringList unused;
    ASSERT_TRUE(s.SavePOP3Settings(check, {stored.at(1)}, &unused));
    RemoveSecretsLater(unused);
    const QString annaKey = SecretKey(anna, TPasswordKind::Incoming);
    EXPECT_TRUE(processEventsUntil([&] { return !keyring->lookup(annaKey).has_value(); }));
    EXPECT_EQ(keyring->lookup(SecretKey(bob, TPasswordKind::Incoming)), QStringLiteral("b"));
    secrets::Remove(SecretKey(bob, TPasswordKind::Incoming));
}

TEST_F(KeyringTest, AKeyringThatDoesNotAnswerCountsAsUnavailableAndIsNotWaitedForAgain)
{
    const QString key = QStringLiteral("paused ") + profile.path();
    ASSERT_TRUE(secrets::Write(key, QStringLiteral("x")).ok());
    const int normal = secrets::TimeoutMs();
    secrets::SetTimeoutMs(1000);
    ASSERT_TRUE(keyring->pause());
    const TSecretResult stuck = secrets::Read(key);
    EXPECT_EQ(stuck.Status, TSecretStatus::Unavailable);
    EXPECT_TRUE(stuck.ErrorText.contains(QStringLiteral("nicht innerhalb von 1 Sekunden"))) << stuck.ErrorText.toStdString();
    // While that call is still open, the next is answered at once, without queueing behind it.
    const TSecretResult next = secrets::Read(key);
    EXPECT_EQ(next.Status, TSecretStatus::Unavailable);
    QString password, error;
    EXPECT_FALSE(ResolvePassword(inKeyring(QStringLiteral("paused")), TPasswordKind::Incoming, &password, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("paused@pop.example.test"))) << error.toStdString();

    secrets::SetTimeoutMs(normal);
    ASSERT_TRUE(keyring->resume());
    // Once the keyring has answered the open call, calls are answered again.
    EXPECT_TRUE(processEventsUntil([] { return secrets::Probe().ok(); }, 30000));
    EXPECT_EQ(secrets::Read(key).Secret, QStringLiteral("x"));
    secrets::Remove(key);
}

// Locks the keyring for good: last in this file, for a run of all of them in one process.
TEST_F(KeyringTest, ALockedKeyringGivesNoPasswordAndTakesNoneAndTheSettingsKeepTheirs)
{
    const QString key = SecretKey(inKeyring(QStringLiteral("locked")), TPasswordKind::Incoming);
    ASSERT_TRUE(secrets::Write(key, QStringLiteral("x")).ok());
    TRegistrySettings s(progDir);
    ASSERT_TRUE(s.SavePOP3Settings(TPOP3Check{}, {mailbox(QStringLiteral("waiting"), QStringLiteral("w"))}));
    const QByteArray stored = rawValue(QStringLiteral("POP3\\Settings\\0"), kPOP3PasswordValue);
    ASSERT_TRUE(keyring->lock());

    EXPECT_EQ(secrets::Read(key).Status, TSecretStatus::NotFound);
    QString password, error;
    EXPECT_FALSE(ResolvePassword(inKeyring(QStringLiteral("locked")), TPasswordKind::Incoming, &password, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("gesperrt"))) << error.toStdString();
    // The write is refused, so the enciphered password stays where it is.
    const TPasswordMove move = MovePasswordsToKeyring();
    EXPECT_EQ(move.Moved, 0);
    EXPECT_EQ(move.Failed, 1);
    EXPECT_EQ(rawValue(QStringLiteral("POP3\\Settings\\0"), kPOP3PasswordValue), stored);
}

} // namespace
