#include "CheckBoxGrid.h"
#include "ConnectionMonitorUnit.h"
#include "MainUnit.h"
#include "MessageListUnit.h"
#include "POP3Check.h"
#include "RegistrySettingsUnit.h"
#include "SingleInstance.h"
#include "TestProfile.h"
#include "TrayIcon.h"

#include <gtest/gtest.h>

#include <QAction>
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

TMainOptions quietOptions()
{
    TMainOptions o;
    // The worker must not wake during the test: no check is wanted here.
    o.AdjustPop3 = [](TPop3Options &p) {
        p.FirstWakeMs = 3600 * 1000;
        p.WakeMs = 3600 * 1000;
    };
    return o;
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
        ASSERT_EQ(box.shown.size(), 1);
        EXPECT_TRUE(box.shown.at(0).text.startsWith(QStringLiteral("Quarvel wurde das erste Mail gestartet.")));
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
    for (QAction *a : {main.actConfig, main.actAccounts, main.actFilters})
        EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    EXPECT_FALSE(main.actReply->isEnabled()) << "an empty list has no message to answer";
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
    const QString program = QStringLiteral(QUARVEL_TEST_BINARY_DIR "/app/quarvel");
    QProcess first;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QUARVEL_TEST_MSGBOX_LOG"), profile.file(QStringLiteral("boxes.txt")));
    first.setProcessEnvironment(env);
    first.start(program, {});
    ASSERT_TRUE(first.waitForStarted(10000));
    // Wait until the first instance listens.
    bool up = false;
    for (int i = 0; i < 200 && !up; ++i) {
        QThread::msleep(50);
        up = TSingleInstance::RequestRestore();
    }
    ASSERT_TRUE(up) << first.readAllStandardError().constData();

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(program, {});
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 1);
    QFile boxes(profile.file(QStringLiteral("boxes.txt")));
    ASSERT_TRUE(boxes.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(boxes.readAll()).contains(QStringLiteral("Quarvel läuft bereits! Nutzen Sie die vorhandene Instanz.")));

    first.terminate();
    if (!first.waitForFinished(10000)) {
        first.kill();
        first.waitForFinished(5000);
    }
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
