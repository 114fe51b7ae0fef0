// The window's side of passwords in the keyring, with a private keyring: the move at start, the mailbox
// list removing the entries of a deleted mailbox, the editor leaving a password in the keyring, and the
// question for a password the keyring could not give a check.
#include "AccountDialogsFixture.h"
#include "CheckBoxGrid.h"
#include "DialogWidgets.h"
#include "EventWait.h"
#include "KeyringPasswords.h"
#include "KeyringSession.h"
#include "QtPrinters.h"
#include "MainDovecotFixture.h"
#include "ModalDriver.h"
#include "PasswordPromptDialog.h"
#include "SecretStore.h"

#include <QCheckBox>
#include <QLabel>

#include <gtest/gtest.h>

namespace {

QByteArray rawPassword(int index)
{
    platform::RegistryHive h(platform::RegRoot::CurrentUser);
    platform::RegValue v;
    return h.readValue(kProgramKey + QStringLiteral("\\POP3\\Settings\\%1").arg(index), kPOP3PasswordValue, &v)
               ? v.data
               : QByteArray();
}

using KeyringDialogsTest = WithKeyring<AccountDialogsTest>;

TEST_F(KeyringDialogsTest, TheWindowMovesThePasswordsAndTheListRemovesTheEntriesOfADeletedMailbox)
{
    TPOP3AccountSettings anna = account(QStringLiteral("anna"), QStringLiteral("a.example.test"));
    anna.SMTPUsePOP3Data = false;
    anna.SMTPPassword = QStringLiteral("smtp-anna");
    const TPOP3AccountSettings bert = account(QStringLiteral("bert"), QStringLiteral("b.example.test"));
    start({anna, bert});
    const QString annaPop3 = SecretKey(anna, TPasswordKind::Incoming);
    const QString annaSmtp = SecretKey(anna, TPasswordKind::Outgoing);
    const QString bertPop3 = SecretKey(bert, TPasswordKind::Incoming);
    // The window's start moves them in the background; then it reads the mailboxes anew.
    ASSERT_TRUE(processEventsUntil([&] { return rawPassword(0) == kKeyringMarker && rawPassword(1) == kKeyringMarker; }));
    EXPECT_EQ(keyring->lookup(annaPop3), QStringLiteral("pw-anna"));
    EXPECT_EQ(keyring->lookup(annaSmtp), QStringLiteral("smtp-anna"));
    EXPECT_TRUE(processEventsUntil([&] { return main->Settings().Settings.Accounts.at(0).PasswordInKeyring; }));

    auto dlg = listDialog();
    dlg->AccountsGrid->SetRow(1);
    dlg->RemoveAccountBtnClick();
    dlg->SaveBtnClick();
    ASSERT_TRUE(dlg->Saved);
    EXPECT_TRUE(processEventsUntil([&] { return !keyring->lookup(annaPop3) && !keyring->lookup(annaSmtp); }));
    EXPECT_EQ(keyring->lookup(bertPop3), QStringLiteral("pw-bert"));
    ASSERT_EQ(storedAccounts().size(), 1);
    EXPECT_TRUE(storedAccounts().at(0).PasswordInKeyring);
    secrets::Remove(bertPop3);
}

TEST_F(KeyringDialogsTest, TheEditorLeavesAPasswordInTheKeyringUntilTheMailboxIsRenamed)
{
    start();
    TPOP3AccountSettings a = account(QStringLiteral("anna"), QStringLiteral("a.example.test"));
    a.Password.clear();
    a.PasswordInKeyring = true;

    auto kept = editor();
    kept->LoadAccount(a);
    EXPECT_TRUE(kept->PasswordEdit->text().isEmpty());
    EXPECT_EQ(kept->PasswordEdit->placeholderText(), kKeyringPlaceholder);
    kept->OKBtnClick();
    EXPECT_TRUE(kept->Accepted());
    EXPECT_TRUE(kept->Account().PasswordInKeyring);
    EXPECT_TRUE(kept->Account().Password.isEmpty());
    EXPECT_TRUE(box.shown.isEmpty());

    // Another mailbox is another entry: its password must be typed.
    auto renamed = editor();
    renamed->LoadAccount(a);
    renamed->POP3ServerAddressEdit->setText(QStringLiteral("b.example.test"));
    renamed->OKBtnClick();
    EXPECT_FALSE(renamed->Accepted());
    EXPECT_EQ(texts(box), QStringList{kNoPasswordText});

    auto retyped = editor();
    retyped->LoadAccount(a);
    retyped->PasswordEdit->setText(QStringLiteral("neu"));
    retyped->OKBtnClick();
    EXPECT_TRUE(retyped->Accepted());
    EXPECT_FALSE(retyped->Account().PasswordInKeyring);
    EXPECT_EQ(retyped->Account().Password, QStringLiteral("neu"));
}

TEST_F(KeyringDialogsTest, ThePromptAsksOnceForEachMailboxAndItsAnswerCountsAtOnceAndInTheKeyring)
{
    TPOP3Accounts accounts;
    for (const char *name : {"anna", "bert", "carl", "dora"}) {
        TPOP3AccountSettings a = account(QString::fromLatin1(name), QStringLiteral("x.example.test"));
        a.Password.clear();
        a.PasswordInKeyring = true;
        accounts << a;
    }
    TMissingPasswords missing;
    QStringList captions;
    QMap<QString, std::function<bool(TPasswordPromptDlg &)>> answers;
    missing.RunDialog = [&](TPasswordPromptDlg &d) {
        captions << d.windowTitle();
        EXPECT_EQ(d.StoreChkBox->text(), kStoreInKeyringText);
        EXPECT_TRUE(d.StoreChkBox->isChecked());
        EXPECT_FALSE(d.OKBtn->isEnabled()) << "an empty password is no answer";
        const QString name = d.windowTitle().section(QLatin1Char(' '), 2, 2);
        return answers.value(name)(d);
    };
    answers[QStringLiteral("anna@x.example.test")] = [](TPasswordPromptDlg &d) {
        EXPECT_EQ(d.ReasonLabel->text(), QStringLiteral("Grund"));
        d.PasswordEdit->setText(QStringLiteral("anna-neu"));
        EXPECT_TRUE(d.OKBtn->isEnabled());
        return true;
    };
    answers[QStringLiteral("carl@x.example.test")] = [](TPasswordPromptDlg &) { return false; };
    answers[QStringLiteral("dora@x.example.test")] = [](TPasswordPromptDlg &d) {
        d.PasswordEdit->setText(QStringLiteral("dora-nur-heute"));
        d.StoreChkBox->setChecked(false);
        return true;
    };

    missing.Note(QStringLiteral("anna@x.example.test"), asFailed, kPasswordUnavailableCode, QStringLiteral(" Grund "));
    missing.Note(QStringLiteral("anna@x.example.test"), asFailed, kPasswordUnavailableCode, QStringLiteral("Grund"));
    // A wrong password the server refused, or an account that worked, is no question for the keyring.
    missing.Note(QStringLiteral("bert@x.example.test"), asFailed, 0, QStringLiteral("-ERR Authentication failed"));
    missing.Note(QStringLiteral("bert@x.example.test"), asDone, kPasswordUnavailableCode, QString());
    missing.Note(QStringLiteral("carl@x.example.test"), asFailed, kPasswordUnavailableCode, QString());
    missing.Note(QStringLiteral("dora@x.example.test"), asFailed, kPasswordUnavailableCode, QString());
    EXPECT_EQ(missing.AskPending(accounts, nullptr), 2);
    EXPECT_EQ(captions, (QStringList{QStringLiteral("Kennwort für anna@x.example.test eingeben"),
                                     QStringLiteral("Kennwort für carl@x.example.test eingeben"),
                                     QStringLiteral("Kennwort für dora@x.example.test eingeben")}));

    QString password, error;
    EXPECT_TRUE(ResolvePassword(accounts.at(0), TPasswordKind::Incoming, &password, &error));
    EXPECT_EQ(password, QStringLiteral("anna-neu"));
    EXPECT_TRUE(processEventsUntil([&] { return keyring->lookup(SecretKey(accounts.at(0), TPasswordKind::Incoming)).has_value(); }));
    EXPECT_EQ(keyring->lookup(SecretKey(accounts.at(0), TPasswordKind::Incoming)), QStringLiteral("anna-neu"));
    EXPECT_FALSE(ResolvePassword(accounts.at(2), TPasswordKind::Incoming, &password, &error));
    EXPECT_TRUE(ResolvePassword(accounts.at(3), TPasswordKind::Incoming, &password, &error));
    EXPECT_EQ(password, QStringLiteral("dora-nur-heute"));
    EXPECT_EQ(keyring->lookup(SecretKey(accounts.at(3), TPasswordKind::Incoming)), std::nullopt);

    // Once per run: a mailbox asked for (answered or not) is not asked again.
    missing.Note(QStringLiteral("carl@x.example.test"), asFailed, kPasswordUnavailableCode, QString());
    EXPECT_EQ(missing.AskPending(accounts, nullptr), 0);
    EXPECT_EQ(captions.size(), 3);
    secrets::Remove(SecretKey(accounts.at(0), TPasswordKind::Incoming));
}

class KeyringMainTest : public WithKeyring<MainDovecotTest> {};

TEST_F(KeyringMainTest, TheWindowAsksForAPasswordTheKeyringLacksStoresItAndChecksAgain)
{
    mailbox(QStringLiteral("fehlt"), {"m1"});
    writeProfile({QStringLiteral("fehlt")});
    {
        // The settings say the keyring has it; it does not.
        TRegistrySettings s;
        s.Load();
        s.Settings.Accounts[0].Password.clear();
        s.Settings.Accounts[0].PasswordInKeyring = true;
        ASSERT_TRUE(s.SavePOP3Settings(s.Settings.POP3Check, s.Settings.Accounts));
    }
    const QString key = SecretKey(TPasswordKind::Incoming, server->host(), QStringLiteral("fehlt"));
    TMain main(options(false));
    int asked = 0;
    onNextDialog<TPasswordPromptDlg>([&asked](TPasswordPromptDlg *d) {
        ++asked;
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Kennwort für fehlt@127.0.0.1 eingeben"));
        d->PasswordEdit->setText(QStringLiteral("pw-fehlt"));
        d->OKBtn->click();
    });
    main.ManualCheck();
    // The check runs as a job; the mailbox the keyring lacked is asked for when it has ended.
    EXPECT_TRUE(processEventsUntil([&] { return asked == 1; })) << asked;
    EXPECT_TRUE(processEventsUntil([&] { return listed(main) == QStringList{QStringLiteral("1:m1")}; }))
        << listed(main).join(u' ').toStdString();
    EXPECT_TRUE(processEventsUntil([&] { return keyring->lookup(key).has_value(); }));
    EXPECT_EQ(keyring->lookup(key), QStringLiteral("pw-fehlt"));
    // The settings still hold no password.
    EXPECT_EQ(rawPassword(0), kKeyringMarker);
    secrets::Remove(key);
}

} // namespace
