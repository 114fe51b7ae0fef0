#include "CheckBoxGrid.h"
#include "ConnectionMonitorUnit.h"
#include "DateFormat.h"
#include "MainUnit.h"
#include "MessageListUnit.h"
#include "POP3Check.h"
#include "QuietMainOptions.h"
#include "RegistrySettingsUnit.h"
#include "SingleInstance.h"
#include "TestProfile.h"
#include "TrayIcon.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSysInfo>
#include <QToolButton>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLocalSocket>
#include <QProcess>
#include <QTextBrowser>
#include <QThread>

namespace {

// A profile with one mailbox (nobody listens there) and timed checking allowed.
void prepareProfile(bool firstStart = false)
{
    TRegistrySettings s;
    s.Load();
    s.Settings.FirstStart = firstStart;
    s.Settings.POP3Check.EMailCheck = true;
    TPOP3AccountSettings a;
    a.ServerName = QStringLiteral("127.0.0.1");
    a.Port = 1;
    a.AccountName = QStringLiteral("anna");
    s.Settings.Accounts = {a};
    s.Save();
}

// Starts the program on the test's profile; its message boxes go to a file.
void startProgram(QProcess &p, const TestProfile &profile)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QUARVEL_TEST_MSGBOX_LOG"), profile.file(QStringLiteral("boxes.txt")));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(QUARVEL_TEST_BINARY_DIR "/app/quarvel"), {});
}

// Waits until the running instance answers a restore request.
bool waitUntilListening()
{
    for (int i = 0; i < 200; ++i) {
        if (TSingleInstance::RequestRestore())
            return true;
        QThread::msleep(50);
    }
    return false;
}

void endProgram(QProcess &p)
{
    p.terminate();
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(5000);
    }
}

} // namespace

TEST(MainWindow, StartsHiddenInTheTrayAndSwitchesTimedCheckingWithVisibilityAndConnection)
{
    TestProfile profile;
    RecordingMessageBox box;
    prepareProfile();
    {
        TMain main(quietOptions());
        EXPECT_FALSE(main.Creating);
        EXPECT_FALSE(main.isVisible());
        EXPECT_EQ(main.Settings().Settings.Accounts.size(), 1);
        EXPECT_TRUE(main.ProgramIcon().Active());
        EXPECT_FALSE(main.MailIcon().Active());
        EXPECT_EQ(main.ProgramIcon().Tooltip(), QStringLiteral("Quarvel aktiv"));
        EXPECT_EQ(main.windowTitle(), QStringLiteral("Quarvel Standard - Freeware"));
        EXPECT_EQ(main.StatusField(1).text(), QStringLiteral("Bereit."));
        EXPECT_EQ(main.TextPane().toPlainText(), kHeaderHint);
        EXPECT_FALSE(main.actMinimize->isEnabled());

        // A LAN connection is online at once; hidden and online means timed checking.
        EXPECT_TRUE(main.Online);
        EXPECT_TRUE(main.Checker().Enabled);
        EXPECT_TRUE(main.StatusField(4).text().endsWith(QStringLiteral("Internetverbindung besteht.")));

        main.ShowMainWindow();
        EXPECT_TRUE(main.isVisible());
        EXPECT_FALSE(main.Checker().Enabled);
        EXPECT_TRUE(main.actMinimize->isEnabled());

        main.close(); // the close button only sends it to the tray
        EXPECT_FALSE(main.isVisible());
        EXPECT_TRUE(main.Checker().Enabled);

        main.Monitor().SetActive(false); // the LAN monitor reports offline when stopped
        EXPECT_FALSE(main.Online);
        EXPECT_FALSE(main.Checker().Enabled);
        EXPECT_TRUE(main.StatusField(4).text().endsWith(QStringLiteral("Internetverbindung besteht nicht.")));
        main.Checker().KnownUIDs = {QStringLiteral("<known@example.org>")};
        main.move(40, 50);
    }
    EXPECT_TRUE(box.shown.isEmpty());
    // Shutting down saved the known identifiers and the placement.
    TRegistrySettings after;
    after.Load();
    QFile uids(after.GetDataFolder() + QStringLiteral("uids.dat"));
    ASSERT_TRUE(uids.open(QIODevice::ReadOnly));
    EXPECT_EQ(uids.readAll(), QByteArray("<known@example.org>\r\n"));
    TTheRegIniFile reg;
    reg.Area = kProgramKey;
    reg.Section = QStringLiteral("WindowPosition");
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("Left"), -1), 40);
}

TEST(MainWindow, FirstStartShowsTheWindowOnceAndRemembersIt)
{
    TestProfile profile;
    RecordingMessageBox box;
    prepareProfile(true);
    {
        TMain main(quietOptions());
        main.ShowMainWindow();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        ASSERT_EQ(box.shown.size(), 4);
        EXPECT_TRUE(box.shown.at(0).text.startsWith(QStringLiteral("Quarvel wurde das erste Mail gestartet.")));
        // Each set-up question opens its dialog on Yes; the box here answers No.
        EXPECT_EQ(box.shown.at(1).text,
                  QStringLiteral("Möchten Sie jetzt die Einstellungen für Ihre Internetverbindung einrichten?"));
        EXPECT_EQ(box.shown.at(2).text,
                  QStringLiteral("Möchten Sie jetzt ein POP3-Konto und den Überprüfungsinterval für das POP3 Konto "
                                 "einrichten?"));
        EXPECT_EQ(box.shown.at(3).text, QStringLiteral("Möchten Sie jetzt die eingerichteten Spam-Filter anschauen?"));
        EXPECT_EQ(box.shown.at(3).buttons, BtnYesNo);
        EXPECT_FALSE(main.Settings().Settings.FirstStart);
    }
    TRegistrySettings after;
    after.Load();
    EXPECT_FALSE(after.Settings.FirstStart);
}

TEST(MainWindow, CommandsWithoutTheirDialogsStayDisabledAndSpamRowsCannotBecomeRules)
{
    TestProfile profile;
    prepareProfile();
    TMain main(quietOptions());
    main.ShowMainWindow();
    EXPECT_FALSE(main.actReply->isEnabled());
    EXPECT_TRUE(main.actConfig->isEnabled());
    EXPECT_TRUE(main.actAccounts->isEnabled());
    EXPECT_TRUE(main.actCheck->isEnabled());
    EXPECT_TRUE(main.actMailClient->isEnabled());
    EXPECT_EQ(main.actCheck->text(), QStringLiteral("  Auf neue E-Mails jetzt prüfen  "));
    EXPECT_EQ(main.actCheck->toolTip(), QStringLiteral("Überprüfung der POP3-Postfächer auf neue Mail jetzt durchführen."));
    EXPECT_EQ(main.actConfig->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
}

TEST(MainWindow, ASecondInstanceOfTheProgramEndsWithOne)
{
    TestProfile profile;
    prepareProfile();
    QProcess first;
    startProgram(first, profile);
    ASSERT_TRUE(first.waitForStarted(10000));
    ASSERT_TRUE(waitUntilListening()) << first.readAllStandardError().constData();

    QProcess second;
    startProgram(second, profile);
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 1);
    QFile boxes(profile.file(QStringLiteral("boxes.txt")));
    ASSERT_TRUE(boxes.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(boxes.readAll()).contains(QStringLiteral("Quarvel läuft bereits! Nutzen Sie die vorhandene Instanz.")));
    endProgram(first);
}

TEST(MainWindow, ColumnWidthsAreSavedOnEveryResizeAndRestoredAtStart)
{
    TestProfile profile;
    prepareProfile();
    {
        TMain main(quietOptions());
        main.MessageList().Grid()->SetColWidth(2, 333); // as a drag of the column border does
    }
    TRegistrySettings stored;
    stored.Load();
    ASSERT_EQ(stored.Settings.ColWidths.size(), TMessageListView::kColumns);
    EXPECT_EQ(stored.Settings.ColWidths.at(2), 333);
    TMain again(quietOptions());
    EXPECT_EQ(again.MessageList().Grid()->ColWidth(2), 333);
}

TEST(MainWindow, TheBottomPanelKeepsItsHeightFromStartToStart)
{
    TestProfile profile;
    prepareProfile();
    const auto stored = [] {
        TRegistrySettings s;
        s.Load();
        return s.Settings.SplitterPosition;
    };
    {
        TRegistrySettings s;
        s.Load();
        s.Settings.SplitterPosition = 180;
        s.SaveSplitterPosition();
    }
    // A window never shown has no panel height of its own to keep.
    {
        TMain main(quietOptions());
    }
    EXPECT_EQ(stored(), 180);
    for (int start = 1; start <= 3; ++start) {
        {
            TMain main(quietOptions());
            main.resize(700, 600);
            main.ShowMainWindow();
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(stored(), 180) << "start " << start;
    }
}

TEST(MainWindow, MinimizedWithTheWindowButtonItGoesToTheTrayAndItsPlacementIsSaved)
{
    TestProfile profile;
    prepareProfile();
    {
        TMain main(quietOptions());
        main.ShowMainWindow();
        main.resize(640, 480);
        main.setWindowState(main.windowState() | Qt::WindowMinimized);
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        EXPECT_FALSE(main.isVisible());
        EXPECT_TRUE(main.actShow->isEnabled());
    }
    TTheRegIniFile reg;
    reg.Area = kProgramKey;
    reg.Section = QStringLiteral("WindowPosition");
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("Width"), -1), 640);
}

TEST(MainWindow, ClockTimesShowNoTimeZoneAndToolbarCaptionsKeepTheirDots)
{
    const struct {
        const char *format, *expected;
    } cases[] = {
        {"HH:mm:ss t", "HH:mm:ss"},
        {"h:mm:ss AP tttt", "h:mm:ss AP"},
        {"t HH:mm", "HH:mm"},
        {"HH 'Uhr' mm t", "HH 'Uhr' mm"},
        {"HH:mm:ss", "HH:mm:ss"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(WithoutTimeZone(QString::fromUtf8(c.format)), QString::fromUtf8(c.expected)) << c.format;
    EXPECT_FALSE(LongTimeText(QTime(14, 5, 9)).contains(QRegularExpression(QStringLiteral("[A-Za-z]{3}$"))));

    TestProfile profile;
    prepareProfile();
    TMain main(quietOptions());
    QStringList captions;
    for (QToolButton *b : main.findChildren<QToolButton *>())
        if (b->defaultAction() == main.actReply || b->defaultAction() == main.actToFilter)
            captions << b->text();
    captions.sort();
    EXPECT_EQ(captions, (QStringList{QStringLiteral(" In Spam-Filter...   "), QStringLiteral("Antworten...")}));
}

TEST(SingleInstance, OnlyOneClaimWinsAndALockLeftByACrashIsTakenOver)
{
    TestProfile profile;
    prepareProfile();
    {
        TSingleInstance first, second;
        EXPECT_TRUE(first.Claim());
        EXPECT_FALSE(second.Claim());
    }
    // An instance that crashes leaves its lock file and its socket behind.
    QProcess crashed;
    startProgram(crashed, profile);
    ASSERT_TRUE(crashed.waitForStarted(10000));
    ASSERT_TRUE(waitUntilListening());
    crashed.kill();
    ASSERT_TRUE(crashed.waitForFinished(10000));
    ASSERT_TRUE(QFile::exists(TSingleInstance::LockPath()));
    TSingleInstance next;
    EXPECT_TRUE(next.Claim());
}

TEST(SingleInstance, TwoStartsAtTheSameMomentLeaveExactlyOneRunning)
{
    TestProfile profile;
    prepareProfile();
    QProcess a, b;
    startProgram(a, profile);
    startProgram(b, profile);
    ASSERT_TRUE(a.waitForStarted(10000));
    ASSERT_TRUE(b.waitForStarted(10000));
    // The loser ends with 1; the winner keeps running.
    QProcess *loser = nullptr;
    for (int i = 0; i < 300 && !loser; ++i) {
        if (a.waitForFinished(50))
            loser = &a;
        else if (b.waitForFinished(50))
            loser = &b;
    }
    ASSERT_NE(loser, nullptr) << "both starts kept running";
    QProcess &winner = loser == &a ? b : a;
    EXPECT_EQ(loser->exitCode(), 1);
    EXPECT_FALSE(winner.waitForFinished(1000)) << "both starts ended";
    endProgram(a);
    endProgram(b);
}
