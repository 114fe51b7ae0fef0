#pragma once
// The mailbox dialogs' tests share this: a main window on a private profile for the coordinator the
// dialogs work with, a box that records and answers, and small helpers.
#include "ImportTestUtil.h"
#include "MainUnit.h"
#include "ModalDriver.h"
#include "NewPOP3AccountAssistentDlgUnit.h"
#include "OEOutlookImportDlgUnit.h"
#include "POP3AccountsCfgUnit.h"
#include "POP3CfgUnit.h"
#include "QuietMainOptions.h"
#include "RegistrySettingsUnit.h"
#include "TestProfile.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>

inline TPOP3AccountSettings account(const QString &name, const QString &server, bool active = true)
{
    TPOP3AccountSettings a;
    a.Active = active;
    a.ServerName = server;
    a.AccountName = name;
    a.Password = QStringLiteral("pw-") + name;
    return a;
}

inline void showActive(QWidget *w)
{
    w->show();
    QApplication::setActiveWindow(w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
}

inline QStringList texts(const RecordingMessageBox &box)
{
    QStringList out;
    for (const auto &s : box.shown)
        out << s.text;
    return out;
}

// The lines of a drop-down list.
inline QStringList comboItems(const QComboBox *combo)
{
    QStringList out;
    for (int i = 0; i < combo->count(); ++i)
        out << combo->itemText(i);
    return out;
}

// "Hinzufügen" starts with the new-account assistant: this declines it, so that the editor opens.
inline void declineNextAssistant()
{
    onNextDialog<TNewPOP3AccountAssistentDlg>([](TNewPOP3AccountAssistentDlg *a) {
        a->CheckBox2->setChecked(true);
        a->NextBtn->click();
    });
}

// A Thunderbird of a home folder: its profiles.ini listing these profiles, each in its own folder with
// this prefs.js (none when the text is empty).
struct TThunderbirdProfile {
    QString Name;
    QString Folder;
    QByteArray Prefs;
};
inline void writeThunderbird(const QString &home, const QList<TThunderbirdProfile> &profiles)
{
    const QString app = home + QStringLiteral("/.thunderbird/");
    QByteArray ini = "[General]\nStartWithLastProfile=1\n\n";
    for (qsizetype i = 0; i < profiles.size(); ++i) {
        const TThunderbirdProfile &p = profiles.at(i);
        ini += "[Profile" + QByteArray::number(i) + "]\nName=" + p.Name.toUtf8() + "\nIsRelative=1\nPath="
               + p.Folder.toUtf8() + "\n\n";
        ASSERT_TRUE(QDir().mkpath(app + p.Folder));
        if (!p.Prefs.isEmpty())
            writeFile(app + p.Folder + QStringLiteral("/prefs.js"), p.Prefs);
    }
    writeFile(app + QStringLiteral("profiles.ini"), ini);
}

// A POP3 account of a prefs.js, with server and identity number n.
inline QByteArray pop3Prefs(int n, const QString &name, const QString &host, int port, const QString &user)
{
    const QByteArray s = "user_pref(\"mail.server.server" + QByteArray::number(n);
    return s + ".hostname\", \"" + host.toUtf8() + "\");\n" + s + ".name\", \"" + name.toUtf8() + "\");\n" + s
           + ".type\", \"pop3\");\n" + s + ".port\", " + QByteArray::number(port) + ");\n" + s + ".userName\", \""
           + user.toUtf8() + "\");\n";
}

// Types a password into each row of the wizard's password list through its password box.
inline void typePasswords(TOEOutlookImportDlg &wizard, const QStringList &passwords)
{
    ASSERT_EQ(wizard.AccountsLV->topLevelItemCount(), passwords.size());
    for (int i = 0; i < passwords.size(); ++i) {
        wizard.AccountsLV->setCurrentItem(wizard.AccountsLV->topLevelItem(i));
        const QString password = passwords.at(i);
        onNextDialog<TImportPasswordDlg>([password](TImportPasswordDlg *d) {
            d->PasswordEdit->setText(password);
            d->OKBtn->click();
        });
        wizard.AccountsLVDblClick();
    }
}

// A main window on a private profile, for the coordinator the dialogs work with.
class AccountDialogsTest : public ::testing::Test {
protected:
    void start(const TPOP3Accounts &accounts = {}, const TPOP3Check &check = {})
    {
        TRegistrySettings s;
        s.Load();
        s.Settings.FirstStart = false;
        s.Settings.POP3Check = check;
        s.Settings.Accounts = accounts;
        s.Save();
        main = std::make_unique<TMain>(quietOptions());
    }
    std::unique_ptr<TPOP3AccountsCfg> editor()
    {
        return std::make_unique<TPOP3AccountsCfg>(main->Checker());
    }
    std::unique_ptr<TPOP3Cfg> listDialog()
    {
        return std::make_unique<TPOP3Cfg>(main->Settings(), main->Checker(),
                                          [this](const QString &file) { played << file; });
    }
    // What the store holds now, read by a fresh store object.
    static TPOP3Accounts storedAccounts(TPOP3Check *check = nullptr)
    {
        TRegistrySettings s;
        TPOP3Check c;
        TPOP3Accounts a;
        s.LoadPOP3Settings(c, a);
        if (check)
            *check = c;
        return a;
    }

    // The store holds exactly these accounts, compared one by one so that a failure names the account.
    static void expectStored(const TPOP3Accounts &expected)
    {
        const TPOP3Accounts stored = storedAccounts();
        ASSERT_EQ(stored.size(), expected.size());
        for (int i = 0; i < stored.size(); ++i)
            EXPECT_EQ(stored.at(i), expected.at(i)) << i;
    }

    TestProfile profile;
    RecordingMessageBox box{IDYES};
    std::unique_ptr<TMain> main;
    QStringList played;
};
