// The main window against a private Dovecot: checking by hand, deleting from the list, the progress
// window, and the spam notice after a timed check.
#include "CheckBoxGrid.h"
#include "DovecotSuite.h"
#include "MainUnit.h"
#include "MessageListUnit.h"
#include "Notices.h"
#include "POP3Check.h"
#include "ProgressWindows.h"
#include "RegistrySettingsUnit.h"
#include "SpamFilterClassUnit.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTextBrowser>

#include <atomic>

namespace {

QByteArray mail(const QByteArray &subject, const QByteArray &body = "Hallo.\r\n")
{
    return "From: Absender <absender@example.test>\r\nTo: anna@example.test\r\nSubject: " + subject
           + "\r\nMessage-ID: <" + subject.toHex() + "@example.test>\r\n\r\n" + body;
}

class MainDovecotTest : public WithDovecot<> {
protected:
    // A fresh mailbox for this test, holding these messages; returns their maildir names.
    QStringList mailbox(const QString &user, const QList<QByteArray> &subjects)
    {
        EXPECT_TRUE(server->addUser(user, QStringLiteral("pw-") + user));
        QStringList ids;
        for (const QByteArray &s : subjects)
            ids << server->deliver(user, mail(s, "Text von " + s + "\r\n"));
        return ids;
    }

    void writeProfile(const QStringList &users, bool timed = false, const QString &spamSubject = QString())
    {
        TRegistrySettings s;
        s.Load();
        s.Settings.FirstStart = false;
        s.Settings.POP3Check.EMailCheck = timed;
        s.Settings.POP3Check.AutoKillSpam = true;
        s.Settings.POP3Check.ShowUserInfoBeforeKillSpam = true;
        for (const QString &u : users) {
            TPOP3AccountSettings a;
            a.ServerName = server->host();
            a.Port = server->port();
            a.AccountName = u;
            a.Password = u == QLatin1String("wrongpw") ? QStringLiteral("falsch") : QStringLiteral("pw-") + u;
            s.Settings.Accounts.append(a);
        }
        s.Save();
        if (!spamSubject.isEmpty()) {
            TSpamFilterClass rules(s);
            TSimpleFilter r;
            r.Active = true;
            r.Kind = fkSubject;
            r.Operation = foContains;
            r.Text = spamSubject;
            rules.AddFilter(r);
            ASSERT_TRUE(rules.SaveFilters());
        }
    }

    static TMainOptions options(bool timed)
    {
        TMainOptions o;
        o.AdjustPop3 = [timed](TPop3Options &p) {
            p.TimeoutMs = 10000;
            p.FirstWakeMs = timed ? 100 : 3600 * 1000;
            p.WakeMs = timed ? 100 : 3600 * 1000;
            if (timed) {
                // Time runs fast for the worker, so the first wake-up already finds a check due.
                auto t = std::make_shared<std::atomic<int32_t>>(0);
                p.Clock = [t] { return t->fetch_add(1000) % 86400; };
            }
        };
        return o;
    }

    QStringList listed(TMain &main)
    {
        QStringList out;
        for (TMailEntry *e : main.MessageList().RowEntries())
            out << QStringLiteral("%1:%2").arg(e->MsgNumber).arg(e->Message.Subject);
        return out;
    }

    TestProfile profile;
    RecordingMessageBox box{IDYES};
};

TEST_F(MainDovecotTest, CheckedRowsAreDeletedInOneSessionAndTheRestRenumbered)
{
    mailbox(QStringLiteral("six"), {"m1", "m2", "m3", "m4", "m5", "m6"});
    writeProfile({QStringLiteral("six")});
    TMain main(options(false));
    main.ManualCheck();
    ASSERT_EQ(main.MessageList().MessageRows(), 6);
    main.MessageList().Grid()->SetChecked(0, 2, true);
    main.MessageList().Grid()->SetChecked(0, 5, true);
    EXPECT_TRUE(main.actDeleteChecked->isEnabled());
    main.DeleteChecked(true);

    EXPECT_EQ(listed(main), (QStringList{QStringLiteral("1:m1"), QStringLiteral("2:m3"), QStringLiteral("3:m4"),
                                         QStringLiteral("4:m6")}));
    EXPECT_EQ(server->messageIds(QStringLiteral("six")).size(), 4);
    ASSERT_EQ(box.shown.size(), 2);
    EXPECT_EQ(box.shown.at(0).text, QStringLiteral("Sind Sie sicher, dass Sie 2 Nachrichten von Ihren E-Mail-Server(n) löschen möchten?"));
    EXPECT_EQ(box.shown.at(1).text, QStringLiteral("Es wurden alle gewählten E-Mails gelöscht!"));

    // A fresh check sees the same four.
    main.ManualCheck();
    EXPECT_EQ(listed(main), (QStringList{QStringLiteral("1:m1"), QStringLiteral("2:m3"), QStringLiteral("3:m4"),
                                         QStringLiteral("4:m6")}));
}

TEST_F(MainDovecotTest, ARunStopsAtAMessageAnotherClientMovedAndDeletesNothingInItsPlace)
{
    const QStringList ids = mailbox(QStringLiteral("moved"), {"a1", "a2", "a3", "a4", "a5"});
    writeProfile({QStringLiteral("moved")});
    TMain main(options(false));
    main.ManualCheck();
    ASSERT_EQ(main.MessageList().MessageRows(), 5);
    for (int row : {1, 3, 5})
        main.MessageList().Grid()->SetChecked(0, row, true);
    // Another mail program takes message 2: message 3 of the list is number 2 on the server now.
    ASSERT_TRUE(server->remove(QStringLiteral("moved"), ids.at(1)));
    main.DeleteChecked(true);

    ASSERT_EQ(box.shown.size(), 2);
    EXPECT_TRUE(box.shown.at(1).text.startsWith(QStringLiteral("Fehler beim Löschen der E-Mail 3.")));
    EXPECT_TRUE(box.shown.at(1).text.contains(QStringLiteral("Das Postfach hat sich seit der letzten Prüfung verändert")));
    // The first went; the second and third stay checked, lowered only by the first deletion.
    EXPECT_EQ(listed(main), (QStringList{QStringLiteral("1:a2"), QStringLiteral("2:a3"), QStringLiteral("3:a4"),
                                         QStringLiteral("4:a5")}));
    EXPECT_TRUE(main.MessageList().Grid()->GetChecked(0, 2));
    EXPECT_TRUE(main.MessageList().Grid()->GetChecked(0, 4));
    // On the server: a1 deleted by us, a2 taken by the other client, a3 a4 a5 untouched.
    EXPECT_EQ(server->messageIds(QStringLiteral("moved")).size(), 3);
}

TEST_F(MainDovecotTest, CheckedMessagesOfTwoMailboxesAndTheLastRowDeletedAlone)
{
    mailbox(QStringLiteral("first"), {"f1", "f2"});
    mailbox(QStringLiteral("second"), {"s1"});
    writeProfile({QStringLiteral("first"), QStringLiteral("second")});
    TMain main(options(false));
    main.ManualCheck();
    ASSERT_EQ(main.MessageList().MessageRows(), 3);
    main.CheckAll(true);
    main.MessageList().Grid()->SetChecked(0, 1, false);
    main.DeleteChecked(true);
    EXPECT_EQ(listed(main), QStringList{QStringLiteral("1:f1")});
    EXPECT_EQ(server->messageIds(QStringLiteral("first")).size(), 1);
    EXPECT_TRUE(server->messageIds(QStringLiteral("second")).isEmpty());

    // The last row, deleted on its own, leaves the empty list with its titles.
    main.MessageList().Grid()->SetRow(1);
    main.DeleteSelected();
    EXPECT_TRUE(main.MessageList().IsEmpty());
    EXPECT_EQ(main.MessageList().Grid()->Cell(0, 0), QStringLiteral("Von"));
    EXPECT_EQ(box.shown.last().text, QStringLiteral("Die E-Mail wurde gelöscht!"));
    EXPECT_TRUE(server->messageIds(QStringLiteral("first")).isEmpty());
    EXPECT_FALSE(main.actDeleteChecked->isEnabled());
}

TEST_F(MainDovecotTest, AFailingMailboxLeavesTheProgressWindowOpenWithItsError)
{
    mailbox(QStringLiteral("good"), {"g1"});
    mailbox(QStringLiteral("wrongpw"), {"w1"});
    writeProfile({QStringLiteral("good"), QStringLiteral("wrongpw")});
    TMain main(options(false));
    main.ManualCheck();
    TProgressWindow *w = main.ProgressWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->FinishedWithErrors());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Überprüfung der E-Mail-Server mit Fehlern beendet."));
    ASSERT_EQ(w->LineCount(), 2);
    EXPECT_EQ(w->LineImage(0), 2);
    EXPECT_EQ(w->LineText(0), QStringLiteral("Prüfung Konto good@127.0.0.1 abgeschlossen."));
    EXPECT_EQ(w->LineImage(1), 3);
    EXPECT_TRUE(w->LineText(1).startsWith(QStringLiteral("Prüfung Konto wrongpw@127.0.0.1 fehlerhaft. Fehler ")));
    EXPECT_TRUE(w->LineText(1).contains(QStringLiteral("Authentication failed"))) << w->LineText(1).toStdString();
    EXPECT_EQ(main.MessageList().MessageRows(), 1);
}

TEST_F(MainDovecotTest, FetchingTheTextTwiceAsksTheServerOnce)
{
    const QStringList ids = mailbox(QStringLiteral("reader"), {"r1"});
    writeProfile({QStringLiteral("reader")});
    TMain main(options(false));
    main.ManualCheck();
    main.MessageList().Grid()->SetRow(1);
    main.ShowMessageText();
    EXPECT_TRUE(main.TextPane().toPlainText().contains(QStringLiteral("Text von r1")));
    // Gone from the server now: a second request must not need it.
    ASSERT_TRUE(server->remove(QStringLiteral("reader"), ids.at(0)));
    main.ShowMessageText();
    EXPECT_TRUE(main.TextPane().toPlainText().contains(QStringLiteral("Text von r1")));
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST_F(MainDovecotTest, ATimedCheckOffersToDeleteTheSpamAndDeletesExactlyThat)
{
    mailbox(QStringLiteral("timed"), {"Hallo", "GEWONNEN 1", "Rechnung", "GEWONNEN 2"});
    writeProfile({QStringLiteral("timed")}, true, QStringLiteral("gewonnen"));
    TMain main(options(true));
    ASSERT_TRUE(main.Checker().Enabled);
    QElapsedTimer t;
    t.start();
    while (!main.SpamNotice() && t.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_NE(main.SpamNotice(), nullptr);
    EXPECT_EQ(main.SpamNotice()->Heading(), QStringLiteral("Sie haben 4 neue Nachrichten."));
    // The notice opens while the timed check is still ending; the user clicks once it is over.
    main.Checker().SetActive(false);
    t.restart();
    while (!main.actCheck->isEnabled() && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_NE(main.SpamNotice(), nullptr);
    main.SpamNotice()->DeleteSpamButton()->click();
    t.restart();
    while (server->messageIds(QStringLiteral("timed")).size() != 2 && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(server->messageIds(QStringLiteral("timed")).size(), 2);
    EXPECT_EQ(listed(main), (QStringList{QStringLiteral("1:Hallo"), QStringLiteral("2:Rechnung")}));
}

} // namespace
