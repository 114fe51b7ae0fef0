// One server operation at a time, through the real main window on a private Dovecot. A relay in front of
// the server makes every wait long enough for a timer to fire a second command in the middle of it, as a
// click would: the program's own waits process events, which is exactly what lets such a command in.
#include "CheckBoxGrid.h"
#include "DelayProxy.h"
#include "MainDovecotFixture.h"
#include "Notices.h"
#include "ProgressWindows.h"
#include "UIDStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

namespace {

class OperationsTest : public MainDovecotTest {
protected:
    // Every account of the profile goes through a relay that holds each chunk for delayMs.
    void relay(int delayMs)
    {
        proxy = std::make_unique<testservers::DelayProxy>(server->port(), delayMs);
        QString error;
        ASSERT_TRUE(proxy->Start(&error)) << error.toStdString();
        accountPort = proxy->Port();
    }

    // Runs what, while the operation started next is waiting on the server (a timer fires it from the
    // operation's own wait). Fails the test when the operation never waited that long.
    void during(TMain &main, std::function<void()> what, int afterMs = 150)
    {
        fired = std::make_shared<bool>(false);
        QTimer::singleShot(afterMs, &main, [&main, what = std::move(what), fired = fired] {
            EXPECT_TRUE(main.Checker().OperationRunning()) << "the timer came after the operation";
            *fired = true;
            what();
        });
    }

    void TearDown() override
    {
        if (fired) {
            EXPECT_TRUE(*fired) << "the second command never ran";
        }
        MainDovecotTest::TearDown();
    }

    void hideDuringCheck(bool showAgain);
    void quitDuringOperation(bool deletion);

    std::unique_ptr<testservers::DelayProxy> proxy;
    std::shared_ptr<bool> fired;
};

struct CommandStates {
    bool check, trayCheck, mailTrayShow, deleteOne, listDelete, fetch, deleteChecked;
};

CommandStates states(TMain &main)
{
    return {main.actCheck->isEnabled(),  main.actTrayCheck->isEnabled(),  main.actMailTrayShow->isEnabled(),
            main.actDelete->isEnabled(), main.actListDelete->isEnabled(), main.actFetchText->isEnabled(),
            main.actDeleteChecked->isEnabled()};
}

bool anyEnabled(const CommandStates &s)
{
    return s.check || s.trayCheck || s.mailTrayShow || s.deleteOne || s.listDelete || s.fetch || s.deleteChecked;
}

TEST_F(OperationsTest, DuringADeletionRunEveryServerCommandIsDisabledAndAClickThatSlipsThroughDoesNothing)
{
    mailbox(QStringLiteral("busy"), {"b1", "b2", "b3", "b4"});
    relay(40);
    writeProfile({QStringLiteral("busy")});
    TMain main(options(false));
    main.ManualCheck();
    ASSERT_EQ(main.MessageList().MessageRows(), 4);
    main.MessageList().Grid()->SetChecked(0, 1, true);
    main.MessageList().Grid()->SetChecked(0, 3, true);
    main.MessageList().Grid()->SetRow(4);

    CommandStates during_{};
    during(main, [&] {
        during_ = states(main);
        // Each of these, started here, freed what the run resumes with.
        main.ManualCheck();
        main.ShowMessageText();
        main.DeleteSelected();
    });
    main.DeleteChecked(true);

    EXPECT_FALSE(anyEnabled(during_));
    EXPECT_EQ(listed(main), (QStringList{QStringLiteral("1:b2"), QStringLiteral("2:b4")}));
    EXPECT_EQ(server->messageIds(QStringLiteral("busy")).size(), 2);
    // Only the run's own question and result: the refused commands asked nothing.
    ASSERT_EQ(box.shown.size(), 2);
    EXPECT_EQ(box.shown.at(1).text, QStringLiteral("Es wurden alle gewählten E-Mails gelöscht!"));
    EXPECT_TRUE(main.actCheck->isEnabled());
    EXPECT_TRUE(main.actDelete->isEnabled());
}

TEST_F(OperationsTest, ACheckOrDeletionAskedForDuringATextFetchDoesNotRun)
{
    mailbox(QStringLiteral("reading"), {"r1", "r2"});
    relay(40);
    writeProfile({QStringLiteral("reading")});
    TMain main(options(false));
    main.ManualCheck();
    ASSERT_EQ(main.MessageList().MessageRows(), 2);
    main.MessageList().Grid()->SetRow(1);
    main.CheckAll(true);
    box.shown.clear();

    during(main, [&] {
        main.ManualCheck();
        main.DeleteChecked(true);
        main.DeleteChecked(false);
    });
    main.ShowMessageText();

    EXPECT_TRUE(main.TextPane().toPlainText().contains(QStringLiteral("Text von r1")));
    EXPECT_TRUE(box.shown.isEmpty());
    EXPECT_EQ(server->messageIds(QStringLiteral("reading")).size(), 2);
    EXPECT_EQ(listed(main), (QStringList{QStringLiteral("1:r1"), QStringLiteral("2:r2")}));
}

TEST_F(OperationsTest, SpamDeletedFromTheNoticeKeepsTheTimedCheckWaitingUntilItHasEnded)
{
    mailbox(QStringLiteral("noticed"), {"Hallo", "GEWONNEN 1", "Rechnung", "GEWONNEN 2"});
    relay(30);
    writeProfile({QStringLiteral("noticed")}, true, QStringLiteral("gewonnen"));
    TMain main(options(true));
    ASSERT_TRUE(main.Checker().Enabled);
    ASSERT_TRUE(processEventsUntil([&] { return main.SpamNotice() != nullptr; }));
    // The notice opens while its timed check still ends: deleting waits for that.
    ASSERT_TRUE(processEventsUntil([&] {
        return main.SpamNotice() && main.SpamNotice()->DeleteSpamButton()->isEnabled();
    }));
    ASSERT_TRUE(main.Checker().Enabled);

    // The check interval passes many times over while the deletion waits on the server (the worker's
    // clock runs fast and it wakes every 100 ms): no timed check may start.
    int samples = 0;
    bool checkStarted = false;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &main, [&] {
        ++samples;
        checkStarted = checkStarted || main.Checker().TimedCheckRunning() || !main.Checker().Worker()->IsPaused();
    });
    during(main, [&] { sampler.start(20); }, 1);
    main.SpamNotice()->DeleteSpamButton()->click();
    sampler.stop();

    EXPECT_GT(samples, 3);
    EXPECT_FALSE(checkStarted);
    EXPECT_EQ(server->messageIds(QStringLiteral("noticed")).size(), 2);
    // Afterwards timed checking goes on.
    EXPECT_TRUE(main.Checker().Enabled);
    EXPECT_FALSE(main.Checker().Worker()->IsPaused());
}

// Quits the program while run is in the middle of its operation; returns the event loop's exit code and
// how long the quit took.
std::pair<int, qint64> quitDuring(TMain &main, const std::function<void()> &run, int quitAfterMs)
{
    QElapsedTimer quitTook;
    QTimer::singleShot(0, &main, run);
    QTimer::singleShot(quitAfterMs, &main, [&] {
        EXPECT_TRUE(main.Checker().OperationRunning());
        quitTook.start();
        main.QuitProgram();
    });
    // A guard only: the test fails long before a hung quit would end by itself.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(60000);
    const int rc = QApplication::exec();
    return {rc, quitTook.isValid() ? quitTook.elapsed() : -1};
}

// Hides the window to the tray during a manual check, and shows it again when asked.
void OperationsTest::hideDuringCheck(bool showAgain)
{
    const QString first = testUser() + QStringLiteral("a"), second = testUser() + QStringLiteral("b");
    mailbox(first, {"t1", "t2"});
    mailbox(second, {"t3"});
    relay(40);
    writeProfile({first, second}, true);
    TMain main(options(false));
    main.Online = true;

    bool pausedWhileRunning = true;
    during(main, [&] {
        main.MinimizeToTray();
        pausedWhileRunning = main.Checker().Worker()->IsPaused();
        if (showAgain)
            main.ShowMainWindow();
        pausedWhileRunning = pausedWhileRunning && main.Checker().Worker()->IsPaused();
    });
    main.ManualCheck();

    EXPECT_TRUE(pausedWhileRunning);
    // Both mailboxes were checked to the end: the second was not skipped by an aborted connection.
    EXPECT_EQ(listed(main).size(), 3) << listed(main).join(u' ').toStdString();
    if (TProgressWindow *w = main.ProgressWindow()) {
        for (int i = 0; i < w->LineCount(); ++i) {
            EXPECT_NE(w->LineImage(i), piFailed) << w->LineText(i).toStdString();
        }
    }
    EXPECT_TRUE(box.shown.isEmpty());
    // Timed checking follows where the window ended up, once the check is over.
    EXPECT_EQ(main.Checker().Enabled, !showAgain);
    EXPECT_EQ(main.Checker().Worker()->IsPaused(), showAgain);
    main.Checker().SetActive(false);
}

TEST_F(OperationsTest, HidingTheWindowDuringAManualCheckSwitchesTimedCheckingOnOnlyAfterIt)
{
    hideDuringCheck(false);
}

TEST_F(OperationsTest, HidingAndShowingTheWindowDuringAManualCheckLeavesTheCheckWhole)
{
    hideDuringCheck(true);
}

void OperationsTest::quitDuringOperation(bool deletion)
{
    const QString user = testUser();
    mailbox(user, {"q1", "q2", "q3"});
    writeProfile({user});
    QString uidFile;
    {
        auto main = std::make_unique<TMain>(options(false));
        if (deletion) {
            main->ManualCheck();
            ASSERT_EQ(main->MessageList().MessageRows(), 3);
            main->CheckAll(true);
        }
        // From now on the server is far away: a reply takes seconds, a whole run much longer.
        relay(3000);
        TRegistrySettings s;
        s.Load();
        s.Settings.Accounts[0].Port = accountPort;
        ASSERT_TRUE(s.SavePOP3Settings(s.Settings.POP3Check, s.Settings.Accounts));
        main->Checker().ReloadConfig();
        main->Checker().KnownUIDs = QStringList{QStringLiteral("<kept@example.test>")};
        uidFile = main->Checker().UIDFile;

        const auto [rc, took] =
            quitDuring(*main, [&] { deletion ? main->DeleteChecked(true) : main->ManualCheck(); }, 300);
        EXPECT_EQ(rc, 0);
        // Without waiting for the far server: well within one of its replies.
        EXPECT_GE(took, 0);
        EXPECT_LT(took, 2500);
    }
    EXPECT_EQ(ReadUIDFile(uidFile), QStringList{QStringLiteral("<kept@example.test>")});
    // A deletion whose session never ended with QUIT deleted nothing.
    EXPECT_EQ(server->messageIds(user).size(), 3);
}

TEST_F(OperationsTest, QuittingDuringAManualCheckEndsTheProgramAtOnceAndSavesItsFiles)
{
    quitDuringOperation(false);
}

TEST_F(OperationsTest, QuittingDuringADeletionRunEndsTheProgramAtOnceAndDeletesNothing)
{
    quitDuringOperation(true);
}

TEST_F(OperationsTest, TheHeaderPaneFollowsTheCurrentRowAndTheDeletionTakesThatRow)
{
    mailbox(QStringLiteral("keys"), {"k-alpha", "k-beta", "k-gamma"});
    writeProfile({QStringLiteral("keys")});
    TMain main(options(false));
    main.ManualCheck();
    ASSERT_EQ(main.MessageList().MessageRows(), 3);
    TCheckBoxGrid *grid = main.MessageList().Grid();
    const auto paneShows = [&main](const QString &subject) {
        return processEventsUntil([&] { return main.TextPane().toPlainText().contains(QStringLiteral("Subject: ") + subject); }, 5000);
    };

    grid->SetRow(1);
    EXPECT_TRUE(paneShows(QStringLiteral("k-alpha")));
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_TRUE(paneShows(QStringLiteral("k-beta")));
    // Sorting moves other messages under the highlighted row.
    grid->SortByColumn(2, false);
    const QString current = main.MessageList().CurrentEntry()->Message.Subject;
    EXPECT_TRUE(paneShows(current)) << current.toStdString();

    main.DeleteSelected();
    QStringList left;
    for (const QString &line : listed(main))
        left << line.section(u':', 1);
    EXPECT_FALSE(left.contains(current));
    EXPECT_EQ(left.size(), 2);
    EXPECT_EQ(server->messageIds(QStringLiteral("keys")).size(), 2);
}

} // namespace
