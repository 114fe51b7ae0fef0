// The account editor and the mailbox list dialog on the offscreen platform: what they show, the enabling
// rules, what "OK" refuses and what it hands back, and through "Speichern" what the settings store holds.
#include "AccountDialogsFixture.h"
#include "CheckBoxGrid.h"
#include "MainUnit.h"
#include "ModalDriver.h"
#include "POP3AccountsCfgUnit.h"
#include "POP3CfgUnit.h"
#include "POP3Check.h"
#include "Paths.h"
#include "QtPrinters.h"
#include "QuietMainOptions.h"
#include "RegistrySettingsUnit.h"
#include "TestProfile.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

// A full record with separate SMTP credentials, the SMS notice and the security choices set.
TPOP3AccountSettings fullAccount()
{
    TPOP3AccountSettings a = account(QStringLiteral("anna"), QStringLiteral("pop.example.test"), false);
    a.Port = 2110;
    a.ServerRetries = 4;
    a.UseAPOP = true;
    a.UseProviderSMTP = true;
    a.SMTPServer = QStringLiteral("smtp.example.test");
    a.SMTPPort = 587;
    a.SMTPEMailAddress = QStringLiteral("anna@example.test");
    a.SMTPAuth = true;
    a.SMTPUsePOP3Data = false;
    a.SMTPAccountName = QStringLiteral("anna-out");
    a.SMTPPassword = QStringLiteral("pw-out");
    a.SendSMS = true;
    a.SMSCellNum = QStringLiteral("00491711234567");
    a.POP3Security = csStartTLS;
    a.SMTPSecurity = csSSLTLS;
    return a;
}

void leaveField(QWidget *w)
{
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(w, &out);
}

// --- the editor ---

TEST_F(AccountDialogsTest, TheEditorOpensOnItsFirstPageWithTheDefaultsOfABlankAccount)
{
    start();
    auto dlg = editor();
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Neues Postfach"));
    ASSERT_EQ(dlg->Pages->count(), 3);
    EXPECT_EQ(dlg->Pages->tabText(0), QStringLiteral("Posteingang"));
    EXPECT_EQ(dlg->Pages->tabText(1), QStringLiteral("Postausgang"));
    EXPECT_EQ(dlg->Pages->tabText(2), QStringLiteral("SMS"));
    EXPECT_EQ(comboItems(dlg->AccountTypeCB), (QStringList{QStringLiteral("POP3"), QStringLiteral("IMAP")}));
    EXPECT_EQ(dlg->AccountTypeCB->currentText(), QStringLiteral("POP3"));
    EXPECT_EQ(dlg->POP3ServerLabel->text(), QStringLiteral("Posteingangsserver (POP3):"));
    EXPECT_EQ(dlg->IMAPFolderEdit->text(), QStringLiteral("INBOX"));
    EXPECT_EQ(comboItems(dlg->IMAPSpamActionCB),
              (QStringList{QStringLiteral("in den Spam-Ordner verschieben"), QStringLiteral("löschen")}));
    EXPECT_EQ(dlg->IMAPSpamActionCB->currentIndex(), int(isaMoveToJunk));
    EXPECT_EQ(dlg->POP3PortEdit->text(), QStringLiteral("110"));
    EXPECT_EQ(dlg->POP3PortEdit->maxLength(), 5);
    EXPECT_EQ(dlg->SMTPPortEdit->text(), QStringLiteral("25"));
    EXPECT_EQ(dlg->ServerRetriesSlider->minimum(), 1);
    EXPECT_EQ(dlg->ServerRetriesSlider->maximum(), 10);
    EXPECT_EQ(dlg->ServerRetriesLabel->text(), QStringLiteral("1 Versuch(e)"));
    dlg->ServerRetriesSlider->setValue(7);
    EXPECT_EQ(dlg->ServerRetriesLabel->text(), QStringLiteral("7 Versuch(e)"));
    EXPECT_EQ(dlg->PasswordEdit->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dlg->SMTPPasswordEdit->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dlg->APOPChkBox->text(), QStringLiteral(" APOP verwenden, falls der Server es erlaubt"));
    EXPECT_EQ(dlg->UseProviderSMTPChkBox->text(), QStringLiteral(" SMTP-Server des Providers verwenden: "));
    EXPECT_EQ(dlg->SMTPAuthChkBox->text(), QStringLiteral(" SMTP Authentifizierung (SMTP Auth) notwendig"));
    EXPECT_EQ(dlg->UsePOP3ChkBox->text(), QStringLiteral(" Gleiche Daten wie beim Posteingangsserver"));
    EXPECT_EQ(dlg->SMSChkBox->text(), QStringLiteral("SMS beim Eingang neuer E-Mails auf diesem E-Mail-Konto versenden"));
    for (QComboBox *security : {dlg->POP3SecurityCB, dlg->SMTPSecurityCB}) {
        ASSERT_EQ(security->count(), 3);
        EXPECT_EQ(security->itemText(0), QStringLiteral("Keine"));
        EXPECT_EQ(security->itemText(1), QStringLiteral("STARTTLS"));
        EXPECT_EQ(security->itemText(2), QStringLiteral("SSL/TLS"));
        EXPECT_EQ(security->currentIndex(), 0);
    }
    EXPECT_EQ(dlg->TestBtn->text(), QStringLiteral("Einstellungen testen"));
    EXPECT_EQ(dlg->CancelBtn->text(), QStringLiteral("Abbrechen"));

    // The test button belongs to the first page only.
    dlg->show();
    EXPECT_EQ(dlg->Pages->currentIndex(), 0);
    EXPECT_TRUE(dlg->TestBtn->isVisible());
    dlg->Pages->setCurrentIndex(1);
    EXPECT_FALSE(dlg->TestBtn->isVisible());
    dlg->Pages->setCurrentIndex(0);
    EXPECT_TRUE(dlg->TestBtn->isVisible());
}

TEST_F(AccountDialogsTest, TheEnablingRulesFollowTheOutgoingServerAndLoginChoices)
{
    start();
    auto dlg = editor();
    struct Step {
        const char *name;
        std::function<void(TPOP3AccountsCfg &)> act;
        bool smtpServer, auth, authChecked, usePop3, ownLogin;
    };
    // "Gleiche Daten" and the SMTP login fields follow the authentication box: without a login there is
    // nothing to enter.
    const Step steps[] = {
        {"a blank account", [](TPOP3AccountsCfg &) {}, false, false, false, false, false},
        {"provider ticked", [](TPOP3AccountsCfg &d) { d.UseProviderSMTPChkBox->setChecked(true); },
         true, true, false, false, false},
        {"same data cleared", [](TPOP3AccountsCfg &d) { d.UsePOP3ChkBox->setChecked(false); },
         true, true, false, false, false},
        {"authentication ticked", [](TPOP3AccountsCfg &d) { d.SMTPAuthChkBox->setChecked(true); },
         true, true, true, true, true},
        {"authentication cleared", [](TPOP3AccountsCfg &d) { d.SMTPAuthChkBox->setChecked(false); },
         true, true, false, false, false},
        {"the account type rule", [](TPOP3AccountsCfg &d) { d.AccountTypeCBChange(); }, true, true, false, false, false},
        {"provider cleared and ticked again",
         [](TPOP3AccountsCfg &d) {
             d.UseProviderSMTPChkBox->setChecked(false);
             d.UseProviderSMTPChkBox->setChecked(true);
         },
         true, true, false, false, false},
        {"authentication and same data ticked",
         [](TPOP3AccountsCfg &d) {
             d.SMTPAuthChkBox->setChecked(true);
             d.UsePOP3ChkBox->setChecked(true);
         },
         true, true, true, true, false},
        {"provider cleared", [](TPOP3AccountsCfg &d) { d.UseProviderSMTPChkBox->setChecked(false); },
         false, false, false, false, false},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.name);
        s.act(*dlg);
        for (QWidget *w : {static_cast<QWidget *>(dlg->SMTPServerLabel), static_cast<QWidget *>(dlg->SMTPServerAddressEdit),
                           static_cast<QWidget *>(dlg->SMTPPortLabel), static_cast<QWidget *>(dlg->SMTPPortEdit),
                           static_cast<QWidget *>(dlg->SMTPSecurityCB)})
            EXPECT_EQ(w->isEnabled(), s.smtpServer);
        EXPECT_EQ(dlg->SMTPAuthChkBox->isEnabled(), s.auth);
        EXPECT_EQ(dlg->SMTPAuthChkBox->isChecked(), s.authChecked);
        EXPECT_EQ(dlg->UsePOP3ChkBox->isEnabled(), s.usePop3);
        for (QWidget *w : {static_cast<QWidget *>(dlg->SMTPKontoNameLabel), static_cast<QWidget *>(dlg->SMTPKontoNameEdit),
                           static_cast<QWidget *>(dlg->SMTPPasswordLabel), static_cast<QWidget *>(dlg->SMTPPasswordEdit)})
            EXPECT_EQ(w->isEnabled(), s.ownLogin);
    }

    // The SMS box switches the number and the hint.
    EXPECT_FALSE(dlg->CellPhoneNoEdit->isEnabled());
    EXPECT_FALSE(dlg->SmsHintLabel->isEnabled());
    dlg->SMSChkBox->setChecked(true);
    EXPECT_TRUE(dlg->CellPhoneNoEdit->isEnabled());
    EXPECT_TRUE(dlg->SmsHintLabel->isEnabled());
}

TEST_F(AccountDialogsTest, LoadingARecordShowsItWithTheShowRulesApplied)
{
    start();
    {
        auto dlg = editor();
        dlg->LoadAccount(fullAccount());
        dlg->show();
        EXPECT_EQ(dlg->POP3ServerAddressEdit->text(), QStringLiteral("pop.example.test"));
        EXPECT_EQ(dlg->POP3PortEdit->text(), QStringLiteral("2110"));
        EXPECT_EQ(dlg->ServerRetriesSlider->value(), 4);
        EXPECT_EQ(dlg->ServerRetriesLabel->text(), QStringLiteral("4 Versuch(e)"));
        EXPECT_EQ(dlg->KontoNameEdit->text(), QStringLiteral("anna"));
        EXPECT_EQ(dlg->PasswordEdit->text(), QStringLiteral("pw-anna"));
        EXPECT_TRUE(dlg->APOPChkBox->isChecked());
        EXPECT_EQ(dlg->SMTPServerAddressEdit->text(), QStringLiteral("smtp.example.test"));
        EXPECT_EQ(dlg->SMTPPortEdit->text(), QStringLiteral("587"));
        EXPECT_EQ(dlg->SMTPEMailAddressEdit->text(), QStringLiteral("anna@example.test"));
        EXPECT_TRUE(dlg->SMTPAuthChkBox->isChecked());
        EXPECT_FALSE(dlg->UsePOP3ChkBox->isChecked());
        EXPECT_EQ(dlg->SMTPKontoNameEdit->text(), QStringLiteral("anna-out"));
        EXPECT_EQ(dlg->SMTPPasswordEdit->text(), QStringLiteral("pw-out"));
        EXPECT_TRUE(dlg->SMTPKontoNameEdit->isEnabled());
        EXPECT_TRUE(dlg->CellPhoneNoEdit->isEnabled());
        EXPECT_EQ(dlg->CellPhoneNoEdit->text(), QStringLiteral("00491711234567"));
        // The stored ports stay as they are: only the user's choice moves them.
        EXPECT_EQ(dlg->POP3SecurityCB->currentIndex(), int(csStartTLS));
        EXPECT_EQ(dlg->SMTPSecurityCB->currentIndex(), int(csSSLTLS));
    }
    {
        // With "Gleiche Daten" the SMTP login fields stay blank whatever the record holds.
        TPOP3AccountSettings a = fullAccount();
        a.SMTPUsePOP3Data = true;
        auto dlg = editor();
        dlg->LoadAccount(a);
        dlg->show();
        EXPECT_EQ(dlg->SMTPKontoNameEdit->text(), QString());
        EXPECT_EQ(dlg->SMTPPasswordEdit->text(), QString());
        EXPECT_FALSE(dlg->SMTPKontoNameEdit->isEnabled());
    }
    {
        // Authentication without the provider's server does not survive the provider rule; a security
        // value the program does not know shows as "Keine".
        TPOP3AccountSettings a = fullAccount();
        a.UseProviderSMTP = false;
        a.POP3Security = 7;
        auto dlg = editor();
        dlg->LoadAccount(a);
        dlg->show();
        EXPECT_FALSE(dlg->SMTPAuthChkBox->isChecked());
        EXPECT_FALSE(dlg->SMTPAuthChkBox->isEnabled());
        EXPECT_EQ(dlg->POP3SecurityCB->currentIndex(), int(csNone));
    }
}

TEST_F(AccountDialogsTest, OkRefusesIncompleteOrUnusableDataWithTheFirstFaultAndItsField)
{
    start();
    using Field = QLineEdit *TPOP3AccountsCfg::*;
    struct Case {
        const char *name;
        std::function<void(TPOP3AccountsCfg &)> change;
        QStringList boxes;
        Field focus; // nullptr: accepted
        int page;
    };
    const auto separateLogin = [](TPOP3AccountsCfg &d) {
        d.UseProviderSMTPChkBox->setChecked(true);
        d.SMTPAuthChkBox->setChecked(true);
        d.UsePOP3ChkBox->setChecked(false);
    };
    const Case cases[] = {
        {"complete", [](TPOP3AccountsCfg &) {}, {}, nullptr, 0},
        {"no server", [](TPOP3AccountsCfg &d) { d.POP3ServerAddressEdit->clear(); }, {kNoServerText},
         &TPOP3AccountsCfg::POP3ServerAddressEdit, 0},
        {"no port", [](TPOP3AccountsCfg &d) { d.POP3PortEdit->clear(); }, {kNoPortText}, &TPOP3AccountsCfg::POP3PortEdit, 0},
        {"port 0", [](TPOP3AccountsCfg &d) { d.POP3PortEdit->setText(QStringLiteral("0")); }, {kNoPortText},
         &TPOP3AccountsCfg::POP3PortEdit, 0},
        {"port with letters", [](TPOP3AccountsCfg &d) { d.POP3PortEdit->setText(QStringLiteral("11O")); }, {kBadPortText},
         &TPOP3AccountsCfg::POP3PortEdit, 0},
        {"port out of range", [](TPOP3AccountsCfg &d) { d.POP3PortEdit->setText(QStringLiteral("70000")); },
         {kBadPortText}, &TPOP3AccountsCfg::POP3PortEdit, 0},
        {"no account name", [](TPOP3AccountsCfg &d) { d.KontoNameEdit->clear(); }, {kNoAccountNameText},
         &TPOP3AccountsCfg::KontoNameEdit, 0},
        {"no password", [](TPOP3AccountsCfg &d) { d.PasswordEdit->clear(); }, {kNoPasswordText},
         &TPOP3AccountsCfg::PasswordEdit, 0},
        {"no password, separate SMTP login without name",
         [&](TPOP3AccountsCfg &d) {
             d.PasswordEdit->clear();
             separateLogin(d);
             d.SMTPPasswordEdit->setText(QStringLiteral("x"));
         },
         {kNoPasswordText, kNoSmtpNameText}, &TPOP3AccountsCfg::SMTPKontoNameEdit, 1},
        {"no server, separate SMTP login empty",
         [&](TPOP3AccountsCfg &d) {
             d.POP3ServerAddressEdit->clear();
             separateLogin(d);
         },
         {kNoServerText, kNoSmtpNameText, kNoSmtpPasswordText}, &TPOP3AccountsCfg::SMTPPasswordEdit, 1},
        // With authentication on, an empty separate SMTP login keeps the editor open as well.
        {"complete, separate SMTP login empty", separateLogin, {kNoSmtpNameText}, &TPOP3AccountsCfg::SMTPKontoNameEdit,
         1},
        {"complete, separate SMTP login without password",
         [&](TPOP3AccountsCfg &d) {
             separateLogin(d);
             d.SMTPKontoNameEdit->setText(QStringLiteral("out"));
         },
         {kNoSmtpPasswordText}, &TPOP3AccountsCfg::SMTPPasswordEdit, 1},
        {"complete, separate SMTP login given", [&](TPOP3AccountsCfg &d) {
             separateLogin(d);
             d.SMTPKontoNameEdit->setText(QStringLiteral("out"));
             d.SMTPPasswordEdit->setText(QStringLiteral("pw"));
         },
         {}, nullptr, 0},
        // Without authentication there is no SMTP login to check.
        {"complete, no authentication, same data cleared",
         [](TPOP3AccountsCfg &d) {
             d.UseProviderSMTPChkBox->setChecked(true);
             d.UsePOP3ChkBox->setChecked(false);
         },
         {}, nullptr, 0},
        {"server name with a blank", [](TPOP3AccountsCfg &d) { d.POP3ServerAddressEdit->setText(QStringLiteral("pop .example.test")); },
         {kServerBlanksText}, &TPOP3AccountsCfg::POP3ServerAddressEdit, 0},
        {"password with a line break", [](TPOP3AccountsCfg &d) { d.PasswordEdit->setText(QStringLiteral("pw\r\nDELE 1")); },
         {kLineBreakText}, &TPOP3AccountsCfg::PasswordEdit, 0},
        {"SMTP server with a blank",
         [](TPOP3AccountsCfg &d) {
             d.UseProviderSMTPChkBox->setChecked(true);
             d.SMTPServerAddressEdit->setText(QStringLiteral("smtp.example.test "));
         },
         {kSmtpServerBlanksText}, &TPOP3AccountsCfg::SMTPServerAddressEdit, 1},
        {"SMTP port with letters",
         [](TPOP3AccountsCfg &d) {
             d.UseProviderSMTPChkBox->setChecked(true);
             d.SMTPPortEdit->setText(QStringLiteral("25a"));
         },
         {kBadSmtpPortText}, &TPOP3AccountsCfg::SMTPPortEdit, 1},
        {"SMTP password with a line break",
         [&](TPOP3AccountsCfg &d) {
             separateLogin(d);
             d.SMTPKontoNameEdit->setText(QStringLiteral("out"));
             d.SMTPPasswordEdit->setText(QStringLiteral("a\nb"));
         },
         {kLineBreakText}, &TPOP3AccountsCfg::SMTPPasswordEdit, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        box.shown.clear();
        auto dlg = editor();
        dlg->POP3ServerAddressEdit->setText(QStringLiteral("pop.example.test"));
        dlg->KontoNameEdit->setText(QStringLiteral("anna"));
        dlg->PasswordEdit->setText(QStringLiteral("geheim"));
        showActive(dlg.get());
        c.change(*dlg);
        const QString typedServer = dlg->POP3ServerAddressEdit->text();
        dlg->Pages->setCurrentIndex(2);
        dlg->OKBtnClick();

        EXPECT_EQ(texts(box), c.boxes);
        for (const auto &shown : box.shown) {
            EXPECT_EQ(shown.kind, MsgError);
            EXPECT_EQ(shown.buttons, int(BtnOK));
        }
        EXPECT_EQ(dlg->Accepted(), c.focus == nullptr);
        EXPECT_EQ(dlg->isVisible(), c.focus != nullptr);
        if (c.focus) {
            EXPECT_EQ(dlg->Pages->currentIndex(), c.page);
            EXPECT_EQ(QApplication::focusWidget(), (*dlg).*c.focus);
            // Everything stays as typed.
            EXPECT_EQ(dlg->POP3ServerAddressEdit->text(), typedServer);
        } else {
            EXPECT_EQ(dlg->result(), QDialog::Accepted);
        }
    }
}

TEST_F(AccountDialogsTest, OkCollectsTheWorkingCopyFromTheControls)
{
    start();
    struct Case {
        const char *name;
        std::function<void(TPOP3AccountsCfg &)> change;
        std::function<void(TPOP3AccountSettings &)> expect; // applied to the loaded record
    };
    const Case cases[] = {
        {"unchanged", [](TPOP3AccountsCfg &) {}, [](TPOP3AccountSettings &) {}},
        {"provider cleared",
         [](TPOP3AccountsCfg &d) { d.UseProviderSMTPChkBox->setChecked(false); },
         [](TPOP3AccountSettings &a) {
             a.UseProviderSMTP = false;
             a.SMTPServer.clear();
             a.SMTPAuth = false;
         }},
        {"provider ticked without a server",
         [](TPOP3AccountsCfg &d) { d.SMTPServerAddressEdit->clear(); },
         [](TPOP3AccountSettings &a) {
             a.UseProviderSMTP = false;
             a.SMTPServer.clear();
         }},
        {"same data ticked",
         [](TPOP3AccountsCfg &d) { d.UsePOP3ChkBox->setChecked(true); },
         [](TPOP3AccountSettings &a) {
             a.SMTPUsePOP3Data = true;
             a.SMTPAccountName.clear();
             a.SMTPPassword.clear();
         }},
        {"SMS without a number", [](TPOP3AccountsCfg &d) { d.CellPhoneNoEdit->clear(); },
         [](TPOP3AccountSettings &a) {
             a.SendSMS = false;
             a.SMSCellNum.clear();
         }},
        {"ports trimmed, an empty SMTP port",
         [](TPOP3AccountsCfg &d) {
             d.POP3PortEdit->setText(QStringLiteral(" 995 "));
             d.SMTPPortEdit->clear();
         },
         [](TPOP3AccountSettings &a) {
             a.Port = 995;
             a.SMTPPort = 25;
         }},
        {"slider, APOP and the securities",
         [](TPOP3AccountsCfg &d) {
             d.ServerRetriesSlider->setValue(10);
             d.APOPChkBox->setChecked(false);
             d.POP3SecurityCB->setCurrentIndex(csNone);
             d.SMTPSecurityCB->setCurrentIndex(csStartTLS);
         },
         [](TPOP3AccountSettings &a) {
             a.ServerRetries = 10;
             a.UseAPOP = false;
             a.POP3Security = csNone;
             a.SMTPSecurity = csStartTLS;
         }},
        {"IMAP with its folder and spam action",
         [](TPOP3AccountsCfg &d) {
             d.AccountTypeCB->setCurrentIndex(atIMAP);
             d.IMAPFolderEdit->setText(QStringLiteral(" Archiv "));
             d.IMAPSpamActionCB->setCurrentIndex(isaDelete);
         },
         [](TPOP3AccountSettings &a) {
             a.AccountType = atIMAP;
             a.UseAPOP = false; // no APOP on IMAP, whatever the box held
             a.IMAPFolder = QStringLiteral("Archiv");
             a.IMAPSpamAction = isaDelete;
         }},
        {"IMAP without a folder reads the inbox",
         [](TPOP3AccountsCfg &d) {
             d.AccountTypeCB->setCurrentIndex(atIMAP);
             d.IMAPFolderEdit->setText(QStringLiteral("  "));
         },
         [](TPOP3AccountSettings &a) {
             a.AccountType = atIMAP;
             a.UseAPOP = false;
         }},
        {"the address taken without a test",
         [](TPOP3AccountsCfg &d) { d.SMTPEMailAddressEdit->setText(QStringLiteral("keine Adresse")); },
         [](TPOP3AccountSettings &a) { a.SMTPEMailAddress = QStringLiteral("keine Adresse"); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        box.shown.clear();
        TPOP3AccountSettings loaded = fullAccount(); // inactive, which the editor leaves alone
        loaded.CheckFailed = true;
        auto dlg = editor();
        dlg->LoadAccount(loaded);
        dlg->show();
        c.change(*dlg);
        dlg->OKBtnClick();
        ASSERT_TRUE(dlg->Accepted()) << texts(box).join(QLatin1Char('|')).toStdString();
        TPOP3AccountSettings expected = fullAccount();
        c.expect(expected);
        EXPECT_EQ(dlg->Account(), expected);
    }
}

TEST_F(AccountDialogsTest, CancelAndClosingGiveBackNothingButAClosedAcceptedEditorCountsAsOk)
{
    start();
    auto dlg = editor();
    dlg->LoadAccount(fullAccount());
    dlg->show();
    dlg->KontoNameEdit->setText(QStringLiteral("bert"));
    dlg->CancelBtn->click();
    EXPECT_FALSE(dlg->Accepted());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    EXPECT_EQ(dlg->Account(), fullAccount());

    auto accepted = editor();
    accepted->LoadAccount(fullAccount());
    accepted->show();
    accepted->OKBtnClick();
    accepted->show();
    accepted->close();
    EXPECT_EQ(accepted->result(), QDialog::Accepted);
}

TEST_F(AccountDialogsTest, LeavingTheMobileNumberNormalisesItAndAFaultyOneBringsTheFocusBack)
{
    start();
    auto dlg = editor();
    dlg->SMSChkBox->setChecked(true);
    dlg->Pages->setCurrentIndex(2);
    showActive(dlg.get());

    dlg->CellPhoneNoEdit->setText(QStringLiteral("0171 1234567"));
    leaveField(dlg->CellPhoneNoEdit);
    EXPECT_EQ(dlg->CellPhoneNoEdit->text(), QStringLiteral("00491711234567"));
    EXPECT_TRUE(box.shown.isEmpty());

    dlg->CellPhoneNoEdit->setText(QStringLiteral("0049 0171 1234567"));
    dlg->CellPhoneNoEdit->setFocus();
    // Leaving it for another control, as a click would.
    dlg->SMSChkBox->setFocus(Qt::MouseFocusReason);
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown.at(0).text,
              QStringLiteral("Fehlerhafte Mobilfunknummer: Prüfen Sie die komplette Mobilfunknummer, eine 0 ist zu viel. {2}"));
    EXPECT_EQ(box.shown.at(0).kind, MsgError);
    EXPECT_EQ(dlg->CellPhoneNoEdit->text(), QStringLiteral("004901711234567"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == dlg->CellPhoneNoEdit; }));
    EXPECT_EQ(dlg->Pages->currentIndex(), 2);

    // An empty field is not checked; the window losing the focus checks nothing.
    box.shown.clear();
    dlg->CellPhoneNoEdit->clear();
    leaveField(dlg->CellPhoneNoEdit);
    dlg->CellPhoneNoEdit->setText(QStringLiteral("12"));
    QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(dlg->CellPhoneNoEdit, &away);
    EXPECT_TRUE(box.shown.isEmpty());
    EXPECT_EQ(dlg->CellPhoneNoEdit->text(), QStringLiteral("12"));
}

TEST_F(AccountDialogsTest, EnterMovesOnInsteadOfClosingTheEditor)
{
    start();
    auto dlg = editor();
    showActive(dlg.get());
    struct Hop {
        QWidget *from, *to;
    };
    dlg->UseProviderSMTPChkBox->setChecked(true);
    const Hop hops[] = {{dlg->POP3ServerAddressEdit, dlg->POP3PortEdit},
                        {dlg->KontoNameEdit, dlg->PasswordEdit},
                        {dlg->ServerRetriesSlider, nullptr},
                        {dlg->SMTPAuthChkBox, nullptr}};
    for (const Hop &h : hops) {
        for (int i = 0; i < dlg->Pages->count(); ++i)
            if (dlg->Pages->widget(i)->isAncestorOf(h.from))
                dlg->Pages->setCurrentIndex(i);
        h.from->setFocus();
        ASSERT_EQ(QApplication::focusWidget(), h.from);
        QTest::keyClick(h.from, Qt::Key_Return);
        EXPECT_TRUE(dlg->isVisible());
        EXPECT_NE(QApplication::focusWidget(), h.from);
        if (h.to) {
            EXPECT_EQ(QApplication::focusWidget(), h.to);
        }
    }
    // No button is pressed by Enter in the mobile number either.
    dlg->SMSChkBox->setChecked(true);
    dlg->Pages->setCurrentIndex(2);
    dlg->CellPhoneNoEdit->setFocus();
    QTest::keyClick(dlg->CellPhoneNoEdit, Qt::Key_Return);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(box.shown.isEmpty());
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
}

TEST_F(AccountDialogsTest, ChoosingSslTlsMovesAPortStillAtItsPlainDefaultAndBack)
{
    start();
    auto dlg = editor();
    dlg->POP3SecurityCB->setCurrentIndex(csSSLTLS);
    EXPECT_EQ(dlg->POP3PortEdit->text(), QStringLiteral("995"));
    dlg->POP3SecurityCB->setCurrentIndex(csStartTLS);
    EXPECT_EQ(dlg->POP3PortEdit->text(), QStringLiteral("110"));
    dlg->SMTPSecurityCB->setCurrentIndex(csSSLTLS);
    EXPECT_EQ(dlg->SMTPPortEdit->text(), QStringLiteral("465"));
    dlg->SMTPSecurityCB->setCurrentIndex(csNone);
    EXPECT_EQ(dlg->SMTPPortEdit->text(), QStringLiteral("25"));
    // A port of the user's own stays, so does one that is no number.
    dlg->POP3PortEdit->setText(QStringLiteral("2110"));
    dlg->POP3SecurityCB->setCurrentIndex(csSSLTLS);
    EXPECT_EQ(dlg->POP3PortEdit->text(), QStringLiteral("2110"));
    dlg->SMTPPortEdit->clear();
    dlg->SMTPSecurityCB->setCurrentIndex(csSSLTLS);
    EXPECT_EQ(dlg->SMTPPortEdit->text(), QString());
}

TEST_F(AccountDialogsTest, TheMailboxTypeCarriesADefaultPortOverAndEnablesItsOwnControls)
{
    start();
    auto dlg = editor();
    dlg->show();
    const struct Step {
        const char *name;
        std::function<void(TPOP3AccountsCfg &)> act;
        const char *port, *serverLabel;
        bool imapControls;
    } steps[] = {
        {"a blank account", [](TPOP3AccountsCfg &) {}, "110", "Posteingangsserver (POP3):", false},
        {"IMAP", [](TPOP3AccountsCfg &d) { d.AccountTypeCB->setCurrentIndex(atIMAP); }, "143", "Posteingangsserver (IMAP):", true},
        {"IMAP over TLS", [](TPOP3AccountsCfg &d) { d.POP3SecurityCB->setCurrentIndex(csSSLTLS); }, "993",
         "Posteingangsserver (IMAP):", true},
        {"back to POP3 keeps TLS", [](TPOP3AccountsCfg &d) { d.AccountTypeCB->setCurrentIndex(atPOP3); }, "995",
         "Posteingangsserver (POP3):", false},
        {"a port of the user's own",
         [](TPOP3AccountsCfg &d) {
             d.POP3PortEdit->setText(QStringLiteral("2110"));
             d.AccountTypeCB->setCurrentIndex(atIMAP);
         },
         "2110", "Posteingangsserver (IMAP):", true},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.name);
        s.act(*dlg);
        EXPECT_EQ(dlg->POP3PortEdit->text(), QLatin1String(s.port));
        EXPECT_EQ(dlg->POP3ServerLabel->text(), QLatin1String(s.serverLabel));
        for (QWidget *w : std::initializer_list<QWidget *>{dlg->IMAPFolderLabel, dlg->IMAPFolderEdit, dlg->IMAPSpamActionLabel,
                                                           dlg->IMAPSpamActionCB})
            EXPECT_EQ(w->isEnabled(), s.imapControls);
        // APOP is a POP3 login.
        EXPECT_EQ(dlg->APOPChkBox->isEnabled(), !s.imapControls);
    }

    // A loaded IMAP record shows its own values; loading moves no port.
    TPOP3AccountSettings imap = fullAccount();
    imap.AccountType = atIMAP;
    imap.Port = 995;
    imap.POP3Security = csSSLTLS;
    imap.UseAPOP = false;
    imap.IMAPFolder = QStringLiteral("Privat/Eingang");
    imap.IMAPSpamAction = isaDelete;
    auto loaded = editor();
    loaded->LoadAccount(imap);
    loaded->show();
    EXPECT_EQ(loaded->AccountTypeCB->currentText(), QStringLiteral("IMAP"));
    EXPECT_EQ(loaded->POP3PortEdit->text(), QStringLiteral("995"));
    EXPECT_EQ(loaded->IMAPFolderEdit->text(), QStringLiteral("Privat/Eingang"));
    EXPECT_EQ(loaded->IMAPSpamActionCB->currentText(), QStringLiteral("löschen"));
    EXPECT_TRUE(loaded->IMAPFolderEdit->isEnabled());
    EXPECT_FALSE(loaded->APOPChkBox->isEnabled());
    loaded->OKBtnClick();
    ASSERT_TRUE(loaded->Accepted());
    EXPECT_EQ(loaded->Account(), imap);
}

TEST_F(AccountDialogsTest, TheLoginTestIsRefusedWhileAnotherServerOperationRuns)
{
    start();
    auto dlg = editor();
    dlg->POP3ServerAddressEdit->setText(QStringLiteral("127.0.0.1"));
    dlg->POP3PortEdit->setText(QStringLiteral("1"));
    EXPECT_TRUE(dlg->TestBtn->isEnabled());
    ASSERT_TRUE(main->Checker().BeginOperation(TServerOperationKind::ManualCheck));
    EXPECT_FALSE(dlg->TestBtn->isEnabled());
    // A click that slipped through is refused by the coordinator and says why.
    dlg->TestBtnClick();
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown.at(0).text, TPOP3Checker::BusyText());
    EXPECT_EQ(box.shown.at(0).kind, MsgError);
    main->Checker().EndOperation();
    EXPECT_TRUE(dlg->TestBtn->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// --- the list dialog ---

TEST_F(AccountDialogsTest, TheListShowsTheStoredAccountsAndCheckOptions)
{
    TPOP3Check check;
    check.EMailCheck = true;
    check.EMailCheckTime = 90;
    check.EMailSoundFile = QStringLiteral("/usr/share/sounds/neu.wav");
    check.NewMailMsg = true;
    check.AutoKillSpam = true;
    check.ShowUserInfoBeforeKillSpam = false;
    check.ShowOnlyNewMsgs = false;
    start({account(QStringLiteral("anna@firma.test"), QStringLiteral("pop.example.test")),
           account(QStringLiteral("bert"), QStringLiteral("mail.example.test"), false)},
          check);
    auto dlg = listDialog();
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("POP3-Postfächer"));
    EXPECT_EQ(dlg->Pages->currentIndex(), 0);
    EXPECT_EQ(dlg->Pages->tabText(0), QStringLiteral("POP3-Konten"));
    EXPECT_EQ(dlg->Pages->tabText(1), QStringLiteral("Überprüfung"));
    EXPECT_FALSE(dlg->Saved);
    EXPECT_FALSE(dlg->ClosedBySave);
    TCheckBoxGrid *grid = dlg->AccountsGrid;
    EXPECT_EQ(grid->Cell(0, 0), QStringLiteral("Konto"));
    ASSERT_EQ(grid->RowCount(), 3);
    EXPECT_EQ(grid->Cell(0, 1), QStringLiteral("anna@firma.test@pop.example.test"));
    EXPECT_EQ(grid->Cell(0, 2), QStringLiteral("bert@mail.example.test"));
    EXPECT_TRUE(grid->GetChecked(0, 1));
    EXPECT_FALSE(grid->GetChecked(0, 2));
    EXPECT_TRUE(dlg->EditAccountBtn->isEnabled());
    EXPECT_TRUE(dlg->RemoveAccountBtn->isEnabled());
    EXPECT_TRUE(dlg->OEImportBtn->isEnabled());
    EXPECT_EQ(dlg->OEImportBtn->text(), QStringLiteral("Import von E-Mail-Konten..."));
    EXPECT_EQ(dlg->AddAccountBtn->toolTip(), QStringLiteral("E-Mail Konto hinzufügen."));

    EXPECT_TRUE(dlg->EmailCheck->isChecked());
    EXPECT_EQ(dlg->EmailCheckSlider->value(), 1);
    EXPECT_EQ(dlg->EmailCheckLabel->text(), QStringLiteral("1 Minute(n)"));
    EXPECT_EQ(dlg->EMailSoundEdit->text(), QStringLiteral("/usr/share/sounds/neu.wav"));
    EXPECT_TRUE(dlg->EMailSoundEdit->isReadOnly());
    EXPECT_TRUE(dlg->NewMailMsgChkBox->isChecked());
    EXPECT_TRUE(dlg->AutoKillSpamMails->isChecked());
    EXPECT_TRUE(dlg->AutoKillSpamMails->font().bold());
    EXPECT_FALSE(dlg->AutoKillSpamMailsConfirmChkBox->isChecked());
    EXPECT_FALSE(dlg->ShowOnlyNewMsgsChkBox->isChecked());
    EXPECT_EQ(dlg->SndBtn->toolTip(), QStringLiteral("Datei suchen"));
    EXPECT_EQ(dlg->HearBtn->toolTip(), QStringLiteral("Sound anhören"));

    // The longest interval puts the slider at its end.
    check.EMailCheckTime = 1800;
    TRegistrySettings s;
    ASSERT_TRUE(s.SavePOP3Settings(check, {}));
    auto empty = listDialog();
    EXPECT_EQ(empty->EmailCheckSlider->value(), 30);
    EXPECT_EQ(empty->EmailCheckLabel->text(), QStringLiteral("30 Minute(n)"));
    // No account: one blank row without a check box; nothing to change or delete.
    EXPECT_TRUE(empty->AccountsGrid->IsEmpty());
    EXPECT_EQ(empty->AccountsGrid->RowCount(), 2);
    EXPECT_EQ(empty->AccountsGrid->CheckBoxRect(0, 1), QRect());
    EXPECT_FALSE(empty->EditAccountBtn->isEnabled());
    EXPECT_FALSE(empty->RemoveAccountBtn->isEnabled());
}

TEST_F(AccountDialogsTest, TheListShowsEachAccountsTypeAndAChangedOneAnew)
{
    TPOP3AccountSettings imap = account(QStringLiteral("ida"), QStringLiteral("imap.example.test"));
    imap.AccountType = atIMAP;
    imap.Port = 993;
    imap.POP3Security = csSSLTLS;
    start({account(QStringLiteral("paul"), QStringLiteral("pop.example.test")), imap});
    auto dlg = listDialog();
    TCheckBoxGrid *grid = dlg->AccountsGrid;
    EXPECT_EQ(grid->Cell(1, 0), QStringLiteral("Typ"));
    ASSERT_EQ(grid->RowCount(), 3);
    EXPECT_EQ(grid->Cell(1, 1), QStringLiteral("POP3"));
    EXPECT_EQ(grid->Cell(1, 2), QStringLiteral("IMAP"));

    grid->SetRow(1);
    onNextDialog<TPOP3AccountsCfg>([](TPOP3AccountsCfg *ed) {
        ed->AccountTypeCB->setCurrentIndex(atIMAP);
        ed->OKBtnClick();
    });
    dlg->EditAccountBtn->click();
    EXPECT_EQ(grid->Cell(1, 1), QStringLiteral("IMAP"));
    dlg->SaveBtn->click();
    const TPOP3Accounts stored = storedAccounts();
    ASSERT_EQ(stored.size(), 2);
    EXPECT_EQ(stored.at(0).AccountType, atIMAP);
    EXPECT_EQ(stored.at(0).Port, 143);
    EXPECT_EQ(stored.at(1), imap);
}

TEST_F(AccountDialogsTest, TheCheckPageFollowsItsTwoBoxes)
{
    start();
    auto dlg = listDialog();
    const QList<QWidget *> followers = {dlg->EmailCheckTitle, dlg->EmailCheckSlider, dlg->EmailCheckLabel,
                                        dlg->EMailSoundLabel, dlg->EMailSoundEdit,   dlg->SndBtn,
                                        dlg->NewMailMsgChkBox, dlg->AutoKillSpamMails, dlg->ShowOnlyNewMsgsChkBox};
    const struct {
        bool check, kill, confirmEnabled;
    } cases[] = {{false, true, false}, {true, true, true}, {true, false, false}, {false, false, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.check << c.kill);
        dlg->EmailCheck->setChecked(c.check);
        dlg->AutoKillSpamMails->setChecked(c.kill);
        for (QWidget *w : followers)
            EXPECT_EQ(w->isEnabled(), c.check) << w->metaObject()->className();
        EXPECT_TRUE(dlg->HearBtn->isEnabled());
        EXPECT_EQ(dlg->AutoKillSpamMailsConfirmChkBox->isEnabled(), c.confirmEnabled);
    }
    dlg->EmailCheckSlider->setValue(12);
    EXPECT_EQ(dlg->EmailCheckLabel->text(), QStringLiteral("12 Minute(n)"));
}

TEST_F(AccountDialogsTest, TheSoundIsChosenAndPlayedThroughTheWindow)
{
    start();
    auto dlg = listDialog();
    QStringList asked;
    QString answer = QStringLiteral("/tmp/ding.wav");
    dlg->ChooseSoundFile = [&](const QString &current) {
        asked << current;
        return answer;
    };
    dlg->HearBtn->click();
    EXPECT_TRUE(played.isEmpty()) << "no file, no sound";
    dlg->EmailCheck->setChecked(true);
    dlg->SndBtn->click();
    EXPECT_EQ(dlg->EMailSoundEdit->text(), answer);
    answer.clear();
    dlg->SndBtn->click();
    EXPECT_EQ(dlg->EMailSoundEdit->text(), QStringLiteral("/tmp/ding.wav")) << "cancelled";
    EXPECT_EQ(asked, (QStringList{QString(), QStringLiteral("/tmp/ding.wav")}));
    dlg->HearBtn->click();
    EXPECT_EQ(played, QStringList{QStringLiteral("/tmp/ding.wav")});
}

TEST_F(AccountDialogsTest, AddChangeDeleteAndActivateReachTheStoreOnlyWithSpeichern)
{
    TPOP3Check check;
    check.EMailCheck = true;
    check.EMailCheckTime = 600;
    check.EMailClient = QStringLiteral("/usr/bin/mailer");
    start({account(QStringLiteral("anna"), QStringLiteral("a.example.test")),
           account(QStringLiteral("bert"), QStringLiteral("b.example.test")),
           account(QStringLiteral("carl"), QStringLiteral("c.example.test"))},
          check);
    const TPOP3Accounts before = storedAccounts();
    auto dlg = listDialog();
    TCheckBoxGrid *grid = dlg->AccountsGrid;

    // Add, declining the assistant: the editor opens blank as "Neues Postfach".
    QString addCaption;
    declineNextAssistant();
    onNextDialog<TPOP3AccountsCfg>([&](TPOP3AccountsCfg *ed) {
        addCaption = ed->windowTitle();
        ed->POP3ServerAddressEdit->setText(QStringLiteral("d.example.test"));
        ed->KontoNameEdit->setText(QStringLiteral("dora"));
        ed->PasswordEdit->setText(QStringLiteral("pw-dora"));
        ed->OKBtnClick();
    });
    dlg->AddAccountBtn->click();
    EXPECT_EQ(addCaption, QStringLiteral("Neues Postfach"));
    ASSERT_EQ(grid->RowCount(), 5);
    EXPECT_EQ(grid->Cell(0, 4), QStringLiteral("dora@d.example.test"));
    EXPECT_TRUE(grid->GetChecked(0, 4));

    // Change the second: caption with its server, record loaded, row text anew.
    grid->SetRow(2);
    QString editCaption, loadedName;
    onNextDialog<TPOP3AccountsCfg>([&](TPOP3AccountsCfg *ed) {
        editCaption = ed->windowTitle();
        loadedName = ed->KontoNameEdit->text();
        ed->KontoNameEdit->setText(QStringLiteral("berta"));
        ed->OKBtnClick();
    });
    dlg->EditAccountBtn->click();
    EXPECT_EQ(editCaption, QStringLiteral("Postfach b.example.test bearbeiten"));
    EXPECT_EQ(loadedName, QStringLiteral("bert"));
    EXPECT_EQ(grid->Cell(0, 2), QStringLiteral("berta@b.example.test"));

    // A double click changes too; a cancelled change leaves the row alone.
    dlg->show();
    bool doubleClickOpened = false;
    onNextDialog<TPOP3AccountsCfg>([&](TPOP3AccountsCfg *ed) {
        doubleClickOpened = ed->KontoNameEdit->text() == QLatin1String("berta");
        ed->KontoNameEdit->setText(QStringLiteral("niemand"));
        ed->reject();
    });
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(1, 0)).center());
    EXPECT_TRUE(doubleClickOpened);
    EXPECT_EQ(grid->Cell(0, 2), QStringLiteral("berta@b.example.test"));

    // Delete the third after the question; "No" keeps it.
    grid->SetRow(3);
    box.answer = IDNO;
    dlg->RemoveAccountBtn->click();
    EXPECT_EQ(grid->RowCount(), 5);
    box.answer = IDYES;
    dlg->RemoveAccountBtn->click();
    ASSERT_EQ(box.shown.size(), 2);
    EXPECT_EQ(box.shown.at(1).text, QStringLiteral("Möchten Sie das E-Mail-Konto \"carl@c.example.test\" wirklich löschen?"));
    EXPECT_EQ(box.shown.at(1).kind, MsgConfirmation);
    EXPECT_EQ(grid->RowCount(), 4);

    // Deactivate the first by its check box.
    grid->SetChecked(0, 1, false);
    EXPECT_EQ(storedAccounts(), before) << "nothing is written before \"Speichern\"";

    dlg->EmailCheckSlider->setValue(3);
    dlg->SaveBtn->click();
    EXPECT_TRUE(dlg->Saved);
    EXPECT_TRUE(dlg->ClosedBySave);
    EXPECT_EQ(dlg->result(), QDialog::Accepted);

    TPOP3Check savedCheck;
    const TPOP3Accounts saved = storedAccounts(&savedCheck);
    TPOP3Accounts expected = before;
    expected[0].Active = false;
    expected[1].AccountName = QStringLiteral("berta");
    expected.removeAt(2);
    TPOP3AccountSettings dora = account(QStringLiteral("dora"), QStringLiteral("d.example.test"));
    expected.append(dora);
    ASSERT_EQ(saved.size(), expected.size());
    for (int i = 0; i < saved.size(); ++i)
        EXPECT_EQ(saved.at(i), expected.at(i)) << i;
    EXPECT_TRUE(savedCheck.EMailCheck);
    EXPECT_EQ(savedCheck.EMailCheckTime, 180);
    EXPECT_EQ(savedCheck.EMailClient, QStringLiteral("/usr/bin/mailer"));
}

TEST_F(AccountDialogsTest, SpeichernKeepsTheSortedRowOrderAndTheIntervalInWholeMinutes)
{
    TPOP3Check check;
    check.EMailCheck = true;
    check.EMailCheckTime = 90;
    start({account(QStringLiteral("zora"), QStringLiteral("z.example.test")),
           account(QStringLiteral("anna"), QStringLiteral("a.example.test"))},
          check);
    auto dlg = listDialog();
    dlg->AccountsGrid->TitleClick(0);
    EXPECT_EQ(dlg->AccountsGrid->Cell(0, 1), QStringLiteral("anna@a.example.test"));
    dlg->SaveBtnClick();
    TPOP3Check saved;
    const TPOP3Accounts accounts = storedAccounts(&saved);
    ASSERT_EQ(accounts.size(), 2);
    EXPECT_EQ(accounts.at(0).AccountName, QStringLiteral("anna"));
    EXPECT_EQ(accounts.at(1).AccountName, QStringLiteral("zora"));
    EXPECT_EQ(saved.EMailCheckTime, 60);
}

TEST_F(AccountDialogsTest, DeletingTheLastAccountLeavesTheBlankRowAndTimedCheckingOffInTheStore)
{
    TPOP3Check check;
    check.EMailCheck = true;
    start({account(QStringLiteral("anna"), QStringLiteral("a.example.test"))}, check);
    auto dlg = listDialog();
    dlg->RemoveAccountBtnClick();
    EXPECT_TRUE(dlg->AccountsGrid->IsEmpty());
    EXPECT_EQ(dlg->AccountsGrid->RowCount(), 2);
    EXPECT_FALSE(dlg->EditAccountBtn->isEnabled());
    EXPECT_FALSE(dlg->RemoveAccountBtn->isEnabled());
    // A double click on the blank row opens nothing.
    dlg->show();
    QTest::mouseDClick(dlg->AccountsGrid->viewport(), Qt::LeftButton, {},
                       dlg->AccountsGrid->visualRect(dlg->AccountsGrid->model()->index(0, 0)).center());
    EXPECT_EQ(QApplication::activeModalWidget(), dlg.get());

    // The box stays ticked, but with no account it is stored as off.
    EXPECT_TRUE(dlg->EmailCheck->isChecked());
    dlg->SaveBtnClick();
    TPOP3Check saved;
    EXPECT_TRUE(storedAccounts(&saved).isEmpty());
    EXPECT_FALSE(saved.EMailCheck);
}

TEST_F(AccountDialogsTest, CancelLeavesTheStoreExactlyAsItWas)
{
    start({account(QStringLiteral("anna"), QStringLiteral("a.example.test")),
           account(QStringLiteral("bert"), QStringLiteral("b.example.test"))});
    TPOP3Check checkBefore;
    const TPOP3Accounts before = storedAccounts(&checkBefore);
    auto dlg = listDialog();
    dlg->AppendAccount(account(QStringLiteral("carl"), QStringLiteral("c.example.test")));
    dlg->AccountsGrid->SetRow(1);
    dlg->RemoveAccountBtnClick();
    dlg->AccountsGrid->SetChecked(0, 1, false);
    dlg->EmailCheck->setChecked(true);
    dlg->EmailCheckSlider->setValue(20);
    dlg->CancelBtn->click();
    EXPECT_FALSE(dlg->Saved);
    TPOP3Check checkAfter;
    EXPECT_EQ(storedAccounts(&checkAfter), before);
    EXPECT_EQ(checkAfter.EMailCheck, checkBefore.EMailCheck);
    EXPECT_EQ(checkAfter.EMailCheckTime, checkBefore.EMailCheckTime);
}

TEST_F(AccountDialogsTest, AStoreThatCannotBeWrittenKeepsTheDialogOpenWithEverythingAsTyped)
{
    RUN_UNPRIVILEGED_WHEN_ROOT();
    start({account(QStringLiteral("anna"), QStringLiteral("a.example.test"))});
    const TPOP3Accounts before = storedAccounts();
    const QString hive = platform::registryFile(platform::RegRoot::CurrentUser);
    // The store object opened from now on finds the file read-only.
    main.reset();
    ASSERT_TRUE(QFile::setPermissions(hive, QFile::ReadOwner));
    main = std::make_unique<TMain>(quietOptions());

    bool stayedOpen = false;
    QStringList rows;
    onNextDialog<TPOP3Cfg>([&](TPOP3Cfg *dlg) {
        dlg->AppendAccount(account(QStringLiteral("bert"), QStringLiteral("b.example.test")));
        dlg->EmailCheckSlider->setValue(9);
        dlg->SaveBtn->click();
        stayedOpen = dlg->isVisible() && !dlg->Saved;
        for (int r = 1; r < dlg->AccountsGrid->RowCount(); ++r)
            rows << dlg->AccountsGrid->Cell(0, r);
        rows << dlg->EmailCheckLabel->text();
        dlg->CancelBtn->click();
    });
    main->actAccounts->trigger();
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(rows, (QStringList{QStringLiteral("anna@a.example.test"), QStringLiteral("bert@b.example.test"),
                                 QStringLiteral("9 Minute(n)")}));
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown.at(0).text, kAccountsNotSavedText.arg(hive));
    EXPECT_EQ(box.shown.at(0).kind, MsgError);
    QFile::setPermissions(hive, QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(storedAccounts(), before);
    EXPECT_EQ(main->Settings().Settings.Accounts, before);
}

// --- through the main window ---

TEST_F(AccountDialogsTest, TheMainWindowOpensTheListAndTakesASavedListOver)
{
    start();
    EXPECT_TRUE(main->actAccounts->isEnabled());
    EXPECT_TRUE(main->actTrayAccounts->isEnabled());
    EXPECT_EQ(main->actAccounts->text(), QStringLiteral("POP&3-Postfächer..."));
    EXPECT_EQ(main->actAccounts->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_3));
    EXPECT_EQ(main->actTrayAccounts->text(), QStringLiteral("POP3-Postfächer öffnen..."));
    ASSERT_TRUE(main->Online);
    EXPECT_FALSE(main->Checker().Enabled) << "nothing to check yet";

    // Cancelled: nothing changes.
    onNextDialog<TPOP3Cfg>([](TPOP3Cfg *dlg) {
        dlg->AppendAccount(account(QStringLiteral("anna"), QStringLiteral("a.example.test")));
        dlg->reject();
    });
    main->actTrayAccounts->trigger();
    EXPECT_TRUE(main->Settings().Settings.Accounts.isEmpty());
    EXPECT_TRUE(main->Checker().Accounts.isEmpty());

    // Saved while hidden and online: both lists follow, and timed checking starts.
    onNextDialog<TPOP3Cfg>([](TPOP3Cfg *dlg) {
        dlg->AppendAccount(account(QStringLiteral("anna"), QStringLiteral("a.example.test")));
        dlg->EmailCheck->setChecked(true);
        dlg->SaveBtnClick();
    });
    main->actAccounts->trigger();
    ASSERT_EQ(main->Settings().Settings.Accounts.size(), 1);
    EXPECT_EQ(main->Checker().Accounts, main->Settings().Settings.Accounts);
    EXPECT_TRUE(main->Settings().Settings.POP3Check.EMailCheck);
    EXPECT_TRUE(main->Checker().Enabled);

    // Saved while the window is shown: timed checking stays off.
    main->ShowMainWindow();
    onNextDialog<TPOP3Cfg>([](TPOP3Cfg *dlg) {
        dlg->AppendAccount(account(QStringLiteral("bert"), QStringLiteral("b.example.test")));
        dlg->SaveBtnClick();
    });
    main->OpenAccountsDialog();
    EXPECT_EQ(main->Checker().Accounts.size(), 2);
    EXPECT_FALSE(main->Checker().Enabled);

    // A second command while the dialog is open only raises it.
    int opened = 0;
    onNextDialog<TPOP3Cfg>([&](TPOP3Cfg *dlg) {
        ++opened;
        main->actTrayAccounts->trigger();
        main->actConfig->trigger();
        EXPECT_EQ(QApplication::activeModalWidget(), dlg);
        dlg->reject();
    });
    main->actAccounts->trigger();
    EXPECT_EQ(opened, 1);
}

} // namespace
