// The main window against a private Dovecot: checking by hand, deleting from the list, the progress
// window, the spam notice after a timed check, and a rule made from a checked message.
#include "AddToFilterDlgUnit.h"
#include "CheckBoxGrid.h"
#include "DeletionLogWindow.h"
#include "FilterRuleDlgUnit.h"
#include "MainDovecotFixture.h"
#include "MainUnit.h"
#include "MessageListUnit.h"
#include "ModalDriver.h"
#include "Notices.h"
#include "POP3Check.h"
#include "ProgressWindows.h"
#include "RegistrySettingsUnit.h"
#include "SpamFilterClassUnit.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QTextBrowser>

#include <atomic>

namespace {

TEST_F(MainDovecotTest, CheckedRowsAreDeletedInOneSessionAndTheRestRenumbered)
{
    mailbox(QStringLiteral("six"), {"m1", "m2", "m3", "m4", "m5", "m6"});
    writeProfile({QStringLiteral("six")});
    TMain main(options(false));
    main.ManualCheck();
    settle(main);
    ASSERT_EQ(main.MessageList().MessageRows(), 6);
    main.MessageList().Grid()->SetChecked(0, 2, true);
    main.MessageList().Grid()->SetChecked(0, 5, true);
    EXPECT_TRUE(main.actDeleteChecked->isEnabled());
    main.DeleteChecked(true);
    settle(main);

    EXPECT_EQ(listed(main), (QStringList{QStringLiteral("1:m1"), QStringLiteral("2:m3"), QStringLiteral("3:m4"),
                                         QStringLiteral("4:m6")}));
    EXPECT_EQ(server->messageIds(QStringLiteral("six")).size(), 4);
    ASSERT_EQ(box.shown.size(), 2);
    EXPECT_EQ(box.shown.at(0).text, QStringLiteral("Sind Sie sicher, dass Sie 2 Nachrichten von Ihren E-Mail-Server(n) löschen möchten?"));
    EXPECT_EQ(box.shown.at(1).text, QStringLiteral("Es wurden alle gewählten E-Mails gelöscht!"));
    // Deleted by hand, no rule involved.
    const QList<TDeletionRecord> logged = main.Checker().DeletionLog().Records();
    ASSERT_EQ(logged.size(), 2);
    EXPECT_EQ(logged[0].Subject, QStringLiteral("m5"));
    for (const TDeletionRecord &r : logged) {
        EXPECT_EQ(r.How, TDeletionHow::ByHand);
        EXPECT_TRUE(r.RuleShown.isEmpty());
        EXPECT_EQ(r.Outcome, TDeletionOutcome::Deleted);
    }

    // A fresh check sees the same four.
    main.ManualCheck();
    settle(main);
    EXPECT_EQ(listed(main), (QStringList{QStringLiteral("1:m1"), QStringLiteral("2:m3"), QStringLiteral("3:m4"),
                                         QStringLiteral("4:m6")}));
}

TEST_F(MainDovecotTest, ARunStopsAtAMessageAnotherClientMovedAndDeletesNothingInItsPlace)
{
    const QStringList ids = mailbox(QStringLiteral("moved"), {"a1", "a2", "a3", "a4", "a5"});
    writeProfile({QStringLiteral("moved")});
    TMain main(options(false));
    main.ManualCheck();
    settle(main);
    ASSERT_EQ(main.MessageList().MessageRows(), 5);
    for (int row : {1, 3, 5})
        main.MessageList().Grid()->SetChecked(0, row, true);
    // Another mail program takes message 2: message 3 of the list is number 2 on the server now.
    ASSERT_TRUE(server->remove(QStringLiteral("moved"), ids.at(1)));
    main.DeleteChecked(true);
    settle(main);

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
    settle(main);
    ASSERT_EQ(main.MessageList().MessageRows(), 3);
    main.CheckAll(true);
    main.MessageList().Grid()->SetChecked(0, 1, false);
    main.DeleteChecked(true);
    settle(main);
    EXPECT_EQ(listed(main), QStringList{QStringLiteral("1:f1")});
    EXPECT_EQ(server->messageIds(QStringLiteral("first")).size(), 1);
    EXPECT_TRUE(server->messageIds(QStringLiteral("second")).isEmpty());

    // The last row, deleted on its own, leaves the empty list with its titles.
    main.MessageList().Grid()->SetRow(1);
    main.DeleteSelected();
    settle(main);
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
    settle(main);
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
    settle(main);
    main.MessageList().Grid()->SetRow(1);
    main.ShowMessageText();
    settle(main);
    EXPECT_TRUE(main.TextPane().toPlainText().contains(QStringLiteral("Text von r1")));
    // Gone from the server now: a second request must not need it.
    ASSERT_TRUE(server->remove(QStringLiteral("reader"), ids.at(0)));
    main.ShowMessageText();
    settle(main);
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
    // The log's window, open meanwhile, follows the deletion.
    main.OpenDeletionLog();
    ASSERT_EQ(main.DeletionLogWindow()->RowCount(), 0);
    main.SpamNotice()->DeleteSpamButton()->click();
    t.restart();
    while (server->messageIds(QStringLiteral("timed")).size() != 2 && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(server->messageIds(QStringLiteral("timed")).size(), 2);
    settle(main);
    EXPECT_EQ(listed(main), (QStringList{QStringLiteral("1:Hallo"), QStringLiteral("2:Rechnung")}));

    // Both went into the log as deleted after the notice, each with its rule and its copy.
    const QList<TDeletionRecord> logged = main.Checker().DeletionLog().Records();
    ASSERT_EQ(logged.size(), 2);
    for (const TDeletionRecord &r : logged) {
        EXPECT_EQ(r.How, TDeletionHow::AfterNotice);
        EXPECT_EQ(r.RuleShown, QStringLiteral("enthält den Betreff \"gewonnen\""));
        EXPECT_EQ(r.Outcome, TDeletionOutcome::Deleted);
        EXPECT_TRUE(QFile::exists(main.Checker().RescueCopyFolder() + r.CopyFile)) << r.CopyFile.toStdString();
    }
    EXPECT_EQ(main.DeletionLogWindow()->RowCount(), 2);
}

TEST_F(MainDovecotTest, ARuleMadeFromAHamMessageMarksTheListAndTheRulesToolSeesIt)
{
    mailbox(QStringLiteral("rulemaker"), {"Wochenbericht", "Newsletter Juni", "Newsletter Juli"});
    writeProfile({QStringLiteral("rulemaker")});
    TMain main(options(false));
    main.ManualCheck();
    settle(main);
    ASSERT_EQ(main.MessageList().MessageRows(), 3);
    TCheckBoxGrid &grid = *main.MessageList().Grid();
    for (int row = 1; row <= 3; ++row)
        ASSERT_EQ(grid.GetImageIndex(0, row), int(msNormal)) << row;

    grid.SetRow(2);
    main.ShowHeader();
    ASSERT_TRUE(main.actToFilter->isEnabled());
    onNextDialog<TAddToFilterDlg>([](TAddToFilterDlg *choice) {
        onNextDialog<TSubjectFilterDlg>([](TSubjectFilterDlg *d) {
            EXPECT_EQ(d->Text(), QStringLiteral("Newsletter Juni"));
            d->TextEdit()->setText(QStringLiteral("Newsletter"));
            d->OKButton()->click();
        });
        choice->OKButton()->click();
    });
    main.MakeFilterFromMessage();

    QList<int> marked;
    for (int row = 1; row <= 3; ++row)
        if (grid.GetImageIndex(0, row) == msSpam && grid.GetChecked(0, row))
            marked << row;
    EXPECT_EQ(marked, (QList<int>{2, 3}));
    EXPECT_FALSE(main.actToFilter->isEnabled());

    QByteArray out, err;
    ASSERT_EQ(runProcess(toolPath(QStringLiteral("quarvel-rules")), {QStringLiteral("list")}, &out, &err), 0) << err.constData();
    EXPECT_EQ(out, QByteArray("1\taktiv\tsubject\tcontains\tNewsletter\n"));

    // The next check finds the same two by the rule.
    main.ManualCheck();
    settle(main);
    QStringList spam;
    for (TMailEntry *e : main.MessageList().RowEntries())
        if (e->State == msSpam)
            spam << e->Message.Subject;
    EXPECT_EQ(spam, (QStringList{QStringLiteral("Newsletter Juni"), QStringLiteral("Newsletter Juli")}));
    EXPECT_TRUE(box.shown.isEmpty());
}

} // namespace
