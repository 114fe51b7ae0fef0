// The main window with a mailbox on a private Dovecot over TLS whose certificate nothing vouches for: the
// manual check shows the certificate, asks, and checks once the user trusts it; a reply goes out through
// an outgoing server that demands STARTTLS.
#include "AddToFilterDlgUnit.h"
#include "AnswerMailDlgUnit.h"
#include "CertificateTrustDialog.h"
#include "CheckBoxGrid.h"
#include "DovecotSuite.h"
#include "FilterRuleDlgUnit.h"
#include "MainDovecotFixture.h"
#include "MainUnit.h"
#include "MessageListUnit.h"
#include "MsgBox.h"
#include "NewPOP3AccountAssistentDlgUnit.h"
#include "ModalDriver.h"
#include "POP3Check.h"
#include "POP3AccountsCfgUnit.h"
#include "POP3CfgUnit.h"
#include "ProgressWindows.h"
#include "RegistrySettingsUnit.h"
#include "SmtpTestServer.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <iostream>

namespace {

class MainTlsDovecotTest : public WithTlsDovecot<> {
protected:
    // Answers the certificate question as soon as it is asked, remembering what it showed.
    void answerTrustQuestion(QObject *owner, bool trust)
    {
        auto *poll = new QTimer(owner);
        QObject::connect(poll, &QTimer::timeout, poll, [this, poll, trust] {
            auto *dialog = qobject_cast<TCertificateTrustDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            questions << dialog->Text();
            (trust ? dialog->TrustButton() : dialog->CancelButton())->click();
            poll->deleteLater();
        });
        poll->start(20);
    }

    // Short time-outs, and timed checks an hour away: only the manual check talks to the server.
    static TMainOptions options()
    {
        TMainOptions o;
        o.TrayAvailable = [] { return true; };
        o.AdjustPop3 = [](TPop3Options &p) {
            p.TimeoutMs = 10000;
            p.FirstWakeMs = p.WakeMs = 3600 * 1000;
        };
        return o;
    }

    TestProfile profile;
    RecordingMessageBox box{IDOK};
    QStringList questions;
};

TEST_F(MainTlsDovecotTest, ManualCheckAsksAboutTheRefusedCertificateAndChecksOnceItIsTrusted)
{
    ASSERT_TRUE(server->addUser(QStringLiteral("anna"), QStringLiteral("pw-anna")));
    for (const QByteArray subject : {"t1", "t2"})
        server->deliver(QStringLiteral("anna"), "Subject: " + subject + "\r\n\r\nHallo.\r\n");
    {
        TRegistrySettings s;
        s.Load();
        s.Settings.FirstStart = false;
        TPOP3AccountSettings a;
        a.ServerName = server->host();
        a.Port = server->tlsPort();
        a.POP3Security = csSSLTLS;
        a.AccountName = QStringLiteral("anna");
        a.Password = QStringLiteral("pw-anna");
        s.Settings.Accounts.append(a);
        s.Save();
    }
    TMain main(options());
    QString failureLine;
    onNextDialog<TCertificateTrustDialog>([&](TCertificateTrustDialog *d) {
        questions << d->Text();
        if (TProgressWindow *w = main.ProgressWindow())
            failureLine = w->LineText(0);
        d->TrustButton()->click();
    });
    main.ManualCheck();
    // Trusted, the mailbox is checked again at once.
    EXPECT_TRUE(processEventsUntil([&] { return main.MessageList().MessageRows() == 2; }, 60000));
    settle(main);
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions.at(0).contains(QStringLiteral("anna@127.0.0.1"))) << questions.at(0).toStdString();
    EXPECT_TRUE(questions.at(0).contains(QStringLiteral("Es ist selbst signiert.")));
    EXPECT_TRUE(questions.at(0).contains(QStringLiteral("SHA-256-Fingerabdruck: ") + certificate.Fingerprint));
    EXPECT_TRUE(failureLine.contains(certificate.Fingerprint)) << failureLine.toStdString();
    // The question says what went wrong; no box about being offline comes first.
    EXPECT_TRUE(box.shown.isEmpty()) << box.shown.first().text.toStdString();
    EXPECT_EQ(main.Settings().Settings.Accounts.at(0).POP3CertSHA256, certificate.Fingerprint);
    EXPECT_EQ(main.Checker().Accounts.at(0).POP3CertSHA256, certificate.Fingerprint);

    main.ManualCheck();
    settle(main);
    EXPECT_EQ(main.MessageList().MessageRows(), 2);
    EXPECT_EQ(questions.size(), 1) << "a trusted certificate is not asked about again";
}

TEST_F(MainTlsDovecotTest, TheEditorsLoginTestAsksAboutTheCertificateAndKeepsTheTrustWithTheAccount)
{
    ASSERT_TRUE(server->addUser(QStringLiteral("bert"), QStringLiteral("pw-bert")));
    TMain main(options());
    for (bool trust : {false, true}) {
        SCOPED_TRACE(trust ? "trusted" : "not trusted");
        box.shown.clear();
        questions.clear();
        TPOP3AccountsCfg dlg(main.Checker());
        dlg.show();
        dlg.POP3ServerAddressEdit->setText(server->host());
        dlg.POP3SecurityCB->setCurrentIndex(csSSLTLS);
        dlg.POP3PortEdit->setText(QString::number(server->tlsPort()));
        dlg.KontoNameEdit->setText(QStringLiteral("bert"));
        dlg.PasswordEdit->setText(QStringLiteral("pw-bert"));
        answerTrustQuestion(&dlg, trust);
        dlg.TestBtnClick();
        settle(main);

        ASSERT_EQ(questions.size(), 1);
        EXPECT_TRUE(questions.at(0).contains(certificate.Fingerprint));
        ASSERT_EQ(box.shown.size(), 1);
        if (trust) {
            // Tested again with the trusted certificate, which the account keeps when it is saved.
            EXPECT_EQ(box.shown.at(0).text, QStringLiteral("Die Angaben zum E-Mail-Konto sind korrekt."));
            EXPECT_EQ(dlg.Account().POP3CertSHA256, certificate.Fingerprint);
        } else {
            EXPECT_EQ(box.shown.at(0).kind, MsgError);
            EXPECT_TRUE(dlg.Account().POP3CertSHA256.isEmpty());
        }
    }
}

TEST_F(MainTlsDovecotTest, AccountMadeInTheEditorChecksOverTlsAndAnswersOverStartTls)
{
    ASSERT_TRUE(server->addUser(QStringLiteral("carla"), QStringLiteral("pw-carla")));
    server->deliver(QStringLiteral("carla"), "From: Dora <dora@example.com>\r\nSubject: Frage\r\n\r\nGeht es?\r\n");
    SmtpTestServer::Options outgoing;
    outgoing.auth = QStringLiteral("plain");
    outgoing.user = QStringLiteral("carla");
    outgoing.password = QStringLiteral("pw-carla");
    outgoing.tls = QStringLiteral("starttls");
    outgoing.certificateFile = certificate.CertificateFile;
    outgoing.keyFile = certificate.KeyFile;
    SmtpTestServer receiver(outgoing);
    QString why;
    ASSERT_TRUE(receiver.start(&why)) << why.toStdString();

    TMain main(options());
    {
        // Made as the user makes it; stored as the mailbox list dialog stores it.
        TPOP3AccountsCfg dlg(main.Checker());
        dlg.show();
        dlg.POP3ServerAddressEdit->setText(server->host());
        dlg.POP3SecurityCB->setCurrentIndex(csSSLTLS);
        dlg.POP3PortEdit->setText(QString::number(server->tlsPort()));
        dlg.KontoNameEdit->setText(QStringLiteral("carla"));
        dlg.PasswordEdit->setText(QStringLiteral("pw-carla"));
        dlg.SMTPEMailAddressEdit->setText(QStringLiteral("carla@example.org"));
        dlg.UseProviderSMTPChkBox->click();
        dlg.SMTPServerAddressEdit->setText(receiver.host());
        dlg.SMTPSecurityCB->setCurrentIndex(csStartTLS);
        dlg.SMTPPortEdit->setText(QString::number(receiver.port()));
        dlg.SMTPAuthChkBox->click();
        dlg.OKBtnClick();
        ASSERT_EQ(dlg.result(), QDialog::Accepted) << (box.shown.isEmpty() ? "" : box.shown.last().text.toStdString());
        ASSERT_EQ(dlg.Account().SMTPSecurity, csStartTLS);
        ASSERT_TRUE(main.Settings().SavePOP3Settings(main.Settings().Settings.POP3Check, {dlg.Account()}));
        main.Settings().LoadPOP3Settings(main.Settings().Settings.POP3Check, main.Settings().Settings.Accounts);
        main.Checker().ReloadConfig();
    }

    // The mailbox's certificate is asked about after a check, the outgoing server's when sending.
    onNextDialog<TCertificateTrustDialog>([](TCertificateTrustDialog *d) { d->TrustButton()->click(); });
    main.ManualCheck();
    settle(main);
    main.ManualCheck();
    settle(main);
    ASSERT_EQ(main.MessageList().MessageRows(), 1);
    main.MessageList().Grid()->SetRow(1);
    main.RefreshCommands();
    box.shown.clear();
    QString smtpQuestion;
    onNextDialog<TAnswerMailDlg>([&smtpQuestion](TAnswerMailDlg *dlg) {
        dlg->MailBodyMemo->appendPlainText(QStringLiteral("Ja."));
        onNextDialog<TCertificateTrustDialog>([&smtpQuestion](TCertificateTrustDialog *d) {
            smtpQuestion = d->Text();
            d->TrustButton()->click();
        });
        dlg->SendBtn->trigger();
    });
    main.actReply->trigger();
    EXPECT_TRUE(processEventsUntil([&] { return !box.shown.isEmpty() && !QApplication::activeModalWidget(); }, 60000));
    settle(main);

    EXPECT_TRUE(smtpQuestion.contains(QStringLiteral("Der Server 127.0.0.1 (Port %1)").arg(receiver.port())))
        << smtpQuestion.toStdString();
    ASSERT_FALSE(box.shown.isEmpty());
    EXPECT_EQ(box.shown.last().text, "Die Nachricht wurde erfolgreich versendet.");
    ASSERT_EQ(receiver.messages().size(), 1);
    EXPECT_TRUE(receiver.messages()[0].encrypted);
    EXPECT_EQ(receiver.messages()[0].recipients, QStringList({"dora@example.com"}));
    ASSERT_EQ(receiver.logins().size(), 1);
    EXPECT_TRUE(receiver.logins()[0].value("tls").toBool());
    TRegistrySettings reread;
    reread.Load();
    ASSERT_EQ(reread.Settings.Accounts.size(), 1);
    EXPECT_EQ(reread.Settings.Accounts[0].POP3CertSHA256, certificate.Fingerprint);
    EXPECT_EQ(reread.Settings.Accounts[0].SMTPCertSHA256, certificate.Fingerprint);
    EXPECT_EQ(reread.Settings.Accounts[0].SMTPSecurity, csStartTLS);
}

// A newcomer's way from the first start to the first spam deleted, on a TLS mailbox of a provider in the
// list: every click counted as the user makes it (a box's answer too), every entry typed where the focus
// already is. The way must stay within 20 clicks.
TEST_F(MainTlsDovecotTest, ANewcomerDeletesTheFirstSpamOfATlsMailboxWithinTwentyClicks)
{
    const QString address = QStringLiteral("neu@example.test");
    ASSERT_TRUE(server->addUser(address, QStringLiteral("pw-neu")));
    const QString spam = server->deliver(address, "From: Gewinn <gewinn@spam.example>\r\nSubject: Sie haben gewonnen\r\n\r\nJetzt!\r\n");
    const QString ham = server->deliver(address, "From: Dora <dora@example.com>\r\nSubject: Treffen morgen\r\n\r\nUm 10?\r\n");
    QTemporaryDir files;
    const QString providers = files.filePath(QStringLiteral("EProv.ini"));
    {
        QFile f(providers);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[ProviderIndex]\r\n1=Testpost\r\n[Testpost]\r\nAccountName=E-Mail-Adresse\r\n"
                               "AccountPasswort=Passwort\r\nPOP3Server=%1\r\nPOP3Port=%2\r\nInboxSSL=1\r\n")
                    .arg(server->host())
                    .arg(server->tlsPort())
                    .toUtf8());
    }
    {
        TRegistrySettings s;
        s.Load();
        ASSERT_TRUE(s.Settings.FirstStart);
        ASSERT_TRUE(s.Settings.Accounts.isEmpty());
    }

    int clicks = 0;
    QStringList typed;
    const auto click = [&clicks](QAbstractButton *b) {
        ++clicks;
        b->click();
    };
    const auto pick = [&clicks](QComboBox *box, const QString &item) {
        clicks += 2; // open the list, choose the item
        box->setCurrentIndex(box->findText(item));
    };
    const auto type = [&typed](QWidget *window, QLineEdit *field, const QString &text) {
        EXPECT_EQ(window->focusWidget(), field) << "a click into the field would be needed";
        field->setText(text);
        typed << text;
    };
    int untilDeleted = 0; // clicks up to the "Ja" that deletes; the box saying it is done comes after
    box.answerer = [&clicks, &untilDeleted](const RecordingMessageBox::Shown &shown) {
        ++clicks;
        if (shown.buttons != BtnYesNo)
            return IDOK;
        if (shown.text.contains(QStringLiteral("löschen möchten")))
            untilDeleted = clicks;
        return shown.text.startsWith(QStringLiteral("Möchten Sie jetzt ein POP3-Konto")) || untilDeleted == clicks
            ? IDYES
            : IDNO;
    };

    TMain main(options());
    // The mailbox list dialog from the first start's question, the assistant from its "Hinzufügen".
    onNextDialog<TPOP3Cfg>([&](TPOP3Cfg *list) {
        list->ProviderFile = providers;
        onNextDialog<TNewPOP3AccountAssistentDlg>([&](TNewPOP3AccountAssistentDlg *a) {
            click(a->NextBtn);
            pick(a->ProvidersCB, QStringLiteral("Testpost"));
            type(a, a->EMailAddressEdit, address);
            click(a->NextBtn);
            click(a->NextBtn);
            EXPECT_EQ(a->AccountNameEdit->text(), address) << "the provider's log-in is the address";
            type(a, a->PasswordEdit, QStringLiteral("pw-neu"));
            click(a->NextBtn);
            click(a->NextBtn);
        });
        click(list->AddAccountBtn);
        click(list->SaveBtn);
    });
    onNextDialog<TCertificateTrustDialog>([&](TCertificateTrustDialog *d) { click(d->TrustButton()); });
    main.ShowMainWindow();
    ASSERT_TRUE(processEventsUntil([&] { return main.MessageList().MessageRows() == 2; }, 120000))
        << clicks << " clicks so far";
    settle(main);

    // The spam's row, "In Spam-Filter…", its dialog and the subject rule's dialog.
    TMailEntry *entry = nullptr;
    for (TMailEntry *e : main.MessageList().RowEntries())
        if (e->Message.Subject == QLatin1String("Sie haben gewonnen"))
            entry = e;
    ASSERT_NE(entry, nullptr);
    ++clicks;
    main.MessageList().Grid()->SetRow(entry->Row);
    main.RefreshCommands();
    onNextDialog<TAddToFilterDlg>([&](TAddToFilterDlg *d) {
        onNextDialog<TSubjectFilterDlg>([&](TSubjectFilterDlg *rule) { click(rule->OKButton()); });
        click(d->OKButton());
    });
    ++clicks;
    main.actToFilter->trigger();
    ASSERT_TRUE(entry->Checked) << "the rule marks the message at once";
    ++clicks;
    main.actDeleteChecked->trigger();
    settle(main);

    const QStringList left = server->messageIds(address);
    const auto present = [&left](const QString &id) {
        return std::any_of(left.cbegin(), left.cend(), [&id](const QString &name) { return name.startsWith(id); });
    };
    EXPECT_FALSE(present(spam)) << "the spam is gone from the server";
    EXPECT_TRUE(present(ham));
    EXPECT_EQ(typed.size(), 2);
    EXPECT_LE(untilDeleted, 20);
    std::cout << "[          ] first spam deleted after " << untilDeleted << " clicks and " << typed.size()
              << " typed entries; boxes answered:\n";
    for (const RecordingMessageBox::Shown &shown : box.shown)
        std::cout << "[          ]   " << shown.text.toStdString() << "\n";
}

} // namespace
