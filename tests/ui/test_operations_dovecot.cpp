// One server operation at a time, through the real main window on a private Dovecot. A relay in front of
// the server makes every job long enough for a timer to fire a second command in the middle of it, as a
// click would: the window's thread goes on handling events while the job runs on the worker.
#include "CheckBoxGrid.h"
#include "ModalDriver.h"
#include "POP3AccountsCfgUnit.h"
#include "POP3CfgUnit.h"
#include "DelayProxy.h"
#include "MainDovecotFixture.h"
#include "Notices.h"
#include "ProgressWindows.h"
#include "TrayIcon.h"
#include "UIDStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
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

    // Runs what while the operation that begins next waits on the server: right after its start, in the
    // next turn of the event loop, as a click would come. Its job cannot have ended by then: its result
    // is queued behind this call. Fails the test when what never ran.
    void during(TMain &main, std::function<void()> what)
    {
        fired = std::make_shared<bool>(false);
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = QObject::connect(
            &main.Checker(), &TPOP3Checker::OperationChanged, &main,
            [&main, what = std::move(what), fired = fired, connection](bool running) {
                if (!running)
                    return;
                QObject::disconnect(*connection);
                QMetaObject::invokeMethod(
                    &main,
                    [&main, what, fired] {
                        EXPECT_TRUE(main.Checker().OperationRunning()) << "the operation was over";
                        *fired = true;
                        what();
                    },
                    Qt::QueuedConnection);
            });
    }

    // Clicks the spam notice's "Spam-Mails löschen" once nothing else runs: a timed check may come between
    // the notice and the click. True once the deletion has begun.
    static bool clickDeleteSpam(TMain &main)
    {
        return processEventsUntil([&] {
            if (TSpamNotice *notice = main.SpamNotice(); notice && notice->DeleteSpamButton()->isEnabled())
                notice->DeleteSpamButton()->click();
            return main.Checker().CurrentOperation() == TServerOperationKind::DeletionRun;
        }, 60000);
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
    settle(main);
    ASSERT_EQ(main.MessageList().MessageRows(), 4);
    main.MessageList().Grid()->SetChecked(0, 1, true);
    main.MessageList().Grid()->SetChecked(0, 3, true);
    main.MessageList().Grid()->SetRow(4);

    CommandStates during_{};
    during(main, [&] {
        during_ = states(main);
        // Each of these, started here, would work on what the run works on.
        main.ManualCheck();
        main.ShowMessageText();
        main.DeleteSelected();
    });
    main.DeleteChecked(true);
    settle(main);

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
    settle(main);
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
    settle(main);

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
        // Only while the deletion runs: timed checking goes on once it is over.
        if (main.Checker().CurrentOperation() != TServerOperationKind::DeletionRun)
            return;
        ++samples;
        checkStarted = checkStarted || !main.Checker().Worker()->IsPaused();
    });
    ASSERT_TRUE(clickDeleteSpam(main));
    sampler.start(20);
    settle(main);
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
    settle(main);

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
            settle(*main);
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
    settle(main);
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

    settle(main);
    QStringList left;
    for (const QString &line : listed(main))
        left << line.section(u':', 1);
    EXPECT_FALSE(left.contains(current));
    EXPECT_EQ(left.size(), 2);
    EXPECT_EQ(server->messageIds(QStringLiteral("keys")).size(), 2);
}

// Clicks a column title of the list, as the user sorts it.
void clickTitle(TCheckBoxGrid *grid, int col)
{
    QHeaderView *titles = grid->horizontalHeader();
    const int x = titles->sectionViewportPosition(col) + titles->sectionSize(col) / 2;
    QTest::mouseClick(titles->viewport(), Qt::LeftButton, {}, QPoint(x, titles->height() / 2));
}

QStringList subjects(const QStringList &listedLines)
{
    QStringList out;
    for (const QString &line : listedLines)
        out << line.section(u':', 1);
    return out;
}

// Every row's header in the pane names that row's message.
void expectPaneFollowsEveryRow(TMain &main)
{
    for (int row = 1; row <= main.MessageList().MessageRows(); ++row) {
        main.MessageList().Grid()->SetRow(row);
        main.ShowHeader();
        const TMailEntry *e = main.MessageList().CurrentEntry();
        ASSERT_NE(e, nullptr);
        EXPECT_TRUE(main.TextPane().toPlainText().contains(QStringLiteral("Subject: ") + e->Message.Subject)) << row;
    }
}

TEST_F(OperationsTest, SortingAndShowingTheWindowDuringADeletionRunDeleteExactlyTheCheckedMessages)
{
    const QString user = testUser();
    mailbox(user, {"s1 A", "s2 Z", "s3 B", "s4 Y", "s5 C", "s6 X"});
    relay(40);
    writeProfile({user});
    TMain main(options(false));
    main.ManualCheck();
    settle(main);
    ASSERT_EQ(main.MessageList().MessageRows(), 6);
    for (int row : {2, 4, 6})
        main.MessageList().Grid()->SetChecked(0, row, true);

    during(main, [&] {
        // A click on the subject's title would put other messages in the rows the run started from.
        clickTitle(main.MessageList().Grid(), 2);
        main.ShowMainWindow();
    });
    main.DeleteChecked(true);
    settle(main);

    EXPECT_EQ(listed(main), (QStringList{QStringLiteral("1:s1 A"), QStringLiteral("2:s3 B"), QStringLiteral("3:s5 C")}));
    ASSERT_EQ(box.shown.size(), 2);
    EXPECT_EQ(box.shown.at(1).text, QStringLiteral("Es wurden alle gewählten E-Mails gelöscht!"));
    expectPaneFollowsEveryRow(main);
    // What is left on the server is what the list shows; sorting works again.
    main.ManualCheck();
    settle(main);
    EXPECT_EQ(subjects(listed(main)), (QStringList{QStringLiteral("s1 A"), QStringLiteral("s3 B"), QStringLiteral("s5 C")}));
    clickTitle(main.MessageList().Grid(), 2);
    EXPECT_EQ(main.MessageList().Grid()->GetSortState(2), 1);
}

TEST_F(OperationsTest, SpamDeletedFromTheNoticeWhileTheWindowIsShownAndSortedIsExactlyTheSpam)
{
    const QString user = testUser();
    mailbox(user, {"Hallo", "GEWONNEN 1", "Rechnung", "GEWONNEN 2", "Termin"});
    relay(40);
    writeProfile({user}, true, QStringLiteral("gewonnen"));
    TMain main(options(true));
    ASSERT_TRUE(processEventsUntil([&] {
        return main.SpamNotice() && main.SpamNotice()->DeleteSpamButton()->isEnabled();
    }, 60000));

    ASSERT_TRUE(clickDeleteSpam(main));
    // The run waits on the server now.
    main.ShowMainWindow();
    clickTitle(main.MessageList().Grid(), 2);
    settle(main);

    EXPECT_EQ(server->messageIds(user).size(), 3);
    QStringList left = subjects(listed(main));
    left.sort();
    EXPECT_EQ(left, (QStringList{QStringLiteral("Hallo"), QStringLiteral("Rechnung"), QStringLiteral("Termin")}));
    expectPaneFollowsEveryRow(main);
}

TEST_F(OperationsTest, TheDialogsThatChangeWhatACheckUsesDoNotOpenWhileItRunsAndTheCheckGoesOn)
{
    const QString user = testUser();
    mailbox(user, {"o1", "o2", "o3"});
    relay(40);
    writeProfile({user});
    TMain main(options(false));
    // Any dialog that opens is recorded and closed again, so that nothing waits on it.
    QStringList opened;
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            opened << QString::fromLatin1(dialog->metaObject()->className());
            dialog->reject();
        }
    });
    watchdog.start(10);
    QStringList enabled;
    during(main, [&] {
        for (QAction *a : {main.actConfig, main.actTrayConfig, main.actFilters, main.actTrayFilters, main.actAccounts,
                           main.actTrayAccounts})
            if (a->isEnabled())
                enabled << a->text();
        // Even asked for directly, as a shortcut that slipped through would.
        main.OpenConfigDialog();
        main.OpenFilterDialog();
        main.OpenAccountsDialog();
    });
    main.ManualCheck();
    settle(main);
    watchdog.stop();

    EXPECT_TRUE(enabled.isEmpty()) << enabled.join(u' ').toStdString();
    EXPECT_TRUE(opened.isEmpty()) << opened.join(u' ').toStdString();
    EXPECT_EQ(listed(main).size(), 3);
    EXPECT_TRUE(main.actConfig->isEnabled());
    EXPECT_TRUE(main.actFilters->isEnabled());
}

TEST_F(OperationsTest, QuitWithTwoDialogsOverARunningCheckEndsTheProgram)
{
    const QString user = testUser();
    mailbox(user, {"d1"});
    // The server is far away: no reply comes while the test runs.
    relay(30000);
    writeProfile({user});
    auto main = std::make_unique<TMain>(options(false));
    bool editorShown = false;
    QElapsedTimer took;
    // The mailbox list is open, a check starts from the tray, and the account editor opens over the list.
    onNextDialog<TPOP3Cfg>([&](TPOP3Cfg *list) {
        main->actTrayCheck->trigger();
        EXPECT_TRUE(main->Checker().OperationRunning());
        onNextDialog<TPOP3AccountsCfg>([&](TPOP3AccountsCfg *) {
            editorShown = true;
            took.start();
            main->QuitProgram();
        });
        list->AccountsGrid->SetRow(1);
        list->EditAccountBtnClick();
    });
    QTimer::singleShot(0, main.get(), [&] { main->OpenAccountsDialog(); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(60000);
    const int rc = QApplication::exec();

    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(editorShown);
    // Far less than one reply of the server would take.
    EXPECT_LT(took.elapsed(), 10000);
    main.reset();
    EXPECT_EQ(server->messageIds(user).size(), 1);
}

TEST_F(OperationsTest, ACountOnlyTimedCheckKeepsEveryKnownIdentity)
{
    const QString user = testUser();
    mailbox(user, {"k1", "k2", "k3"});
    writeProfile({user}, true);
    {
        TRegistrySettings s;
        s.Load();
        s.Settings.POP3Check.AutoKillSpam = false; // timed checks only count
        ASSERT_TRUE(s.SavePOP3Settings(s.Settings.POP3Check, s.Settings.Accounts));
    }
    // What a check by hand had found.
    QStringList known;
    for (const QByteArray subject : {"k1", "k2", "k3"})
        known << QStringLiteral("<%1@example.test>").arg(QString::fromLatin1(subject.toHex()));
    QString uidFile;
    {
        TMain main(options(true));
        ASSERT_TRUE(main.Checker().Enabled);
        main.Checker().KnownUIDs = known;
        uidFile = main.Checker().UIDFile;
        ASSERT_TRUE(processEventsUntil([&] {
            return main.MailIcon().Tooltip() == TPOP3Checker::MailIconTooltip(3) && !main.Checker().OperationRunning();
        }, 60000)) << main.MailIcon().Tooltip().toStdString();
        main.Checker().SetActive(false);
        EXPECT_EQ(main.Checker().KnownUIDs, known);
    }
    EXPECT_EQ(ReadUIDFile(uidFile), known);
}

TEST_F(OperationsTest, ShowingTheWindowDuringATimedCheckLetsItFinishAndShowsItsList)
{
    const QString user = testUser();
    mailbox(user, {"v1", "v2", "v3", "v4"});
    relay(60);
    writeProfile({user}, true);
    TMain main(options(true));
    ASSERT_TRUE(processEventsUntil([&] { return main.Checker().TimedCheckRunning(); }, 60000));
    main.ShowMainWindow();
    // The user waits for the check instead of cutting it short.
    EXPECT_TRUE(main.Checker().TimedCheckRunning());
    EXPECT_FALSE(main.isVisible());
    bool waitShown = false;
    for (QWidget *w : QApplication::topLevelWidgets())
        waitShown = waitShown || (qobject_cast<TWaitWindow *>(w) && w->isVisible());
    EXPECT_TRUE(waitShown);

    ASSERT_TRUE(processEventsUntil([&] { return main.isVisible(); }, 60000));
    settle(main);
    EXPECT_EQ(main.MessageList().MessageRows(), 4);
    EXPECT_EQ(main.StatusField(2).text(), QStringLiteral("4 Nachricht(en) auf den E-Mail-Server(n)"));
    EXPECT_EQ(main.Checker().KnownUIDs.size(), 4);
    // Shown, the window keeps timed checking off, and the tray menu says what it is.
    EXPECT_FALSE(main.Checker().Enabled);
    EXPECT_TRUE(main.actMinimize->isEnabled());
    EXPECT_FALSE(main.actShow->isEnabled());
}

} // namespace
