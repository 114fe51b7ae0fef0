// The main window with a mailbox on a private Dovecot over TLS whose certificate nothing vouches for: the
// manual check shows the certificate, asks, and checks once the user trusts it.
#include "CertificateTrustDialog.h"
#include "DovecotSuite.h"
#include "MainUnit.h"
#include "MessageListUnit.h"
#include "POP3Check.h"
#include "POP3AccountsCfgUnit.h"
#include "ProgressWindows.h"
#include "RegistrySettingsUnit.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

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
    answerTrustQuestion(&main, true);
    main.ManualCheck();
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions.at(0).contains(QStringLiteral("anna@127.0.0.1"))) << questions.at(0).toStdString();
    EXPECT_TRUE(questions.at(0).contains(QStringLiteral("Es ist selbst signiert.")));
    EXPECT_TRUE(questions.at(0).contains(QStringLiteral("SHA-256-Fingerabdruck: ") + certificate.Fingerprint));
    TProgressWindow *w = main.ProgressWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->LineText(0).contains(certificate.Fingerprint)) << w->LineText(0).toStdString();
    EXPECT_EQ(main.Settings().Settings.Accounts.at(0).POP3CertSHA256, certificate.Fingerprint);
    EXPECT_EQ(main.Checker().Accounts.at(0).POP3CertSHA256, certificate.Fingerprint);

    main.ManualCheck();
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

} // namespace
