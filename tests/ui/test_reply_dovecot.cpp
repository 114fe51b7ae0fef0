// Answering from the main window: a message waiting on a private Dovecot, its text fetched, the reply
// dialog opened and sent to aiosmtpd, both on loopback.
#include "AnswerMailDlgUnit.h"
#include "CheckBoxGrid.h"
#include "DovecotSuite.h"
#include "MainDovecotFixture.h"
#include "MainUnit.h"
#include "MessageListUnit.h"
#include "ModalDriver.h"
#include "POP3CfgUnit.h"
#include "POP3Check.h"
#include "QtPrinters.h"
#include "RegistrySettingsUnit.h"
#include "SmtpTestServer.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextBrowser>
#include <QTimer>

namespace {

class ReplyDovecotTest : public WithDovecot<> {
protected:
    // One mailbox with one HTML-only message; the account sends through receiver when there is one.
    void prepare(const QString &user, const QString &senderAddress, const SmtpTestServer *receiver)
    {
        ASSERT_TRUE(server->addUser(user, QStringLiteral("pw")));
        server->deliver(user, "From: Carla Beispiel <carla@example.com>\r\nTo: " + user.toUtf8()
                                  + "@example.org\r\nSubject: Termin\r\nMessage-ID: <termin@example.com>\r\n"
                                    "Content-Type: multipart/alternative; boundary=b\r\n\r\n"
                                    "--b\r\nContent-Type: text/html; charset=utf-8\r\n\r\n"
                                    "<p>Passt Dienstag?</p>\r\n<p>Gr\xc3\xbc\xc3\x9f" "e</p>\r\n--b--\r\n");
        TRegistrySettings s;
        s.Load();
        s.Settings.FirstStart = false;
        TPOP3AccountSettings a;
        a.ServerName = server->host();
        a.Port = server->port();
        a.AccountName = user;
        a.Password = QStringLiteral("pw");
        a.SMTPEMailAddress = senderAddress;
        if (receiver) {
            a.SMTPServer = receiver->host();
            a.SMTPPort = receiver->port();
        }
        s.Settings.Accounts = {a};
        s.Save();
    }

    static TMainOptions options()
    {
        TMainOptions o;
        o.TrayAvailable = [] { return true; };
        o.AdjustPop3 = [](TPop3Options &p) {
            p.TimeoutMs = 10000;
            p.FirstWakeMs = 3600 * 1000;
            p.WakeMs = 3600 * 1000;
        };
        return o;
    }

    TestProfile profile;
    RecordingMessageBox box{IDYES};
};

TEST_F(ReplyDovecotTest, AnsweredMessageArrivesWithTheQuotedText)
{
    SmtpTestServer receiver;
    QString why;
    ASSERT_TRUE(receiver.start(&why)) << why.toStdString();
    prepare(QStringLiteral("answer"), QStringLiteral("answer@example.org"), &receiver);
    TMain main(options());
    main.ManualCheck();
    settle(main);
    ASSERT_EQ(main.MessageList().MessageRows(), 1);
    main.MessageList().Grid()->SetRow(1);
    main.RefreshCommands();
    ASSERT_TRUE(main.actReply->isEnabled());

    bool dialogSeen = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *dlg = qobject_cast<TAnswerMailDlg *>(QApplication::activeModalWidget());
        if (!dlg || dialogSeen)
            return;
        dialogSeen = true;
        EXPECT_EQ(dlg->SubjectEdit->text(), "Re: Termin");
        EXPECT_EQ(dlg->ToEdit->text(), "carla@example.com");
        EXPECT_EQ(dlg->MailBodyMemo->toPlainText(), "> <p>Passt Dienstag?</p>\n> <p>Grüße</p>");
        dlg->MailBodyMemo->appendPlainText(QStringLiteral("Ja, gern."));
        dlg->SendBtn->trigger();
    });
    poll.start();
    // Should the dialog never close by itself, the test still ends.
    QTimer::singleShot(30000, [] {
        if (QWidget *w = QApplication::activeModalWidget())
            w->close();
    });
    main.actReply->trigger();
    // The text is fetched first; the dialog follows, and its delivery runs on the worker.
    EXPECT_TRUE(processEventsUntil([&] {
        return dialogSeen && !QApplication::activeModalWidget() && !main.Checker().OperationRunning();
    }, 60000));
    poll.stop();

    ASSERT_TRUE(dialogSeen);
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown[0].text, "Die Nachricht wurde erfolgreich versendet.");
    const QList<SmtpTestServer::Message> got = receiver.messages();
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0].from, "answer@example.org");
    EXPECT_EQ(got[0].recipients, QStringList({"carla@example.com"}));
    MailMessage sent;
    ASSERT_TRUE(sent.FillFromRaw(got[0].data));
    EXPECT_EQ(sent.Body, QStringList({"> <p>Passt Dienstag?</p>", "> <p>Grüße</p>", "Ja, gern.", "", kSignatureLine}));
    EXPECT_FALSE(sent.HeaderText().contains("termin@example.com")) << "nothing of the received header travels";
}

TEST_F(ReplyDovecotTest, AccountWithoutSenderAddressAsksAndOpensTheMailboxListInsteadOfTheReply)
{
    prepare(QStringLiteral("nosender"), QString(), nullptr);
    TMain main(options());
    main.ManualCheck();
    settle(main);
    ASSERT_EQ(main.MessageList().MessageRows(), 1);
    main.MessageList().Grid()->SetRow(1);
    bool listOpened = false;
    onNextDialog<TPOP3Cfg>([&listOpened](TPOP3Cfg *dlg) {
        listOpened = true;
        dlg->reject();
    });
    main.actReply->trigger();
    EXPECT_TRUE(listOpened);

    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown[0].caption, "Bestätigung");
    EXPECT_EQ(box.shown[0].buttons, BtnYesNo);
    EXPECT_EQ(box.shown[0].text,
              QStringLiteral("Sie haben keine Absender-E-Mail-Adresse und SMTP-Server für das Konto "
                             "\"nosender@%1\" eingegeben. Möchten Sie jetzt die Angaben vervollständigen?")
                  .arg(server->host()));
    EXPECT_TRUE(main.findChildren<TAnswerMailDlg *>().isEmpty());
    EXPECT_FALSE(main.TextPane().toPlainText().contains("Passt Dienstag")) << "no text was fetched";
}

} // namespace
