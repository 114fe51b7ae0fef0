// The main window on a desktop without a tray area, and one whose tray area comes and goes; its first
// size and its dates. (test_desktop.cpp runs the real program on a virtual display.)
#include "CheckBoxGrid.h"
#include "DateFormat.h"
#include "MainUnit.h"
#include "MessageListUnit.h"
#include "QuietMainOptions.h"
#include "RegistrySettingsUnit.h"
#include "TestProfile.h"
#include "TrayIcon.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>
#include <QToolBar>
#include <QToolButton>

#include <memory>

namespace {

void notFirstStart()
{
    TRegistrySettings s;
    s.Load();
    s.Settings.FirstStart = false;
    s.Save();
}

TMainOptions trayComesAndGoes(const std::shared_ptr<bool> &tray)
{
    TMainOptions o = quietOptions();
    o.TrayAvailable = [tray] { return *tray; };
    return o;
}

} // namespace

TEST(NoTrayArea, TheWindowIsShownAtStartAndClosingLeavesItInTheTaskBarUntilATrayAreaAppears)
{
    TestProfile profile;
    RecordingMessageBox box;
    notFirstStart();
    auto tray = std::make_shared<bool>(false);
    TMain main(trayComesAndGoes(tray));
    EXPECT_FALSE(main.TrayAreaAvailable());

    // A later start without a tray area: in the task bar, never hidden.
    main.ShowAtStart();
    QApplication::processEvents();
    EXPECT_TRUE(main.isVisible());
    EXPECT_TRUE(main.isMinimized());
    // Minimized counts as away: notices appear, as they do while the program sits in the tray.
    EXPECT_FALSE(main.MainWindowVisible());

    // Shown, then closed: minimized to the task bar again, not hidden.
    main.ShowMainWindow();
    QApplication::processEvents();
    EXPECT_TRUE(main.isVisible());
    EXPECT_FALSE(main.isMinimized());
    EXPECT_TRUE(main.MainWindowVisible());
    main.close();
    QApplication::processEvents();
    EXPECT_TRUE(main.isVisible());
    EXPECT_TRUE(main.isMinimized());
    // Minimizing by the window manager stays a minimized window too.
    main.ShowMainWindow();
    main.setWindowState(Qt::WindowMinimized);
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_TRUE(main.isVisible());
    main.HideTaskbarButtonIfHidden();
    EXPECT_TRUE(main.isVisible());

    // A panel starts: the tray icon is there, and closing hides the window into it from now on.
    *tray = true;
    main.CheckTrayArea();
    EXPECT_TRUE(main.TrayAreaAvailable());
    EXPECT_TRUE(main.ProgramIcon().Active());
    main.ShowMainWindow();
    QApplication::processEvents();
    main.close();
    QApplication::processEvents();
    EXPECT_FALSE(main.isVisible());

    // The panel goes away with the program in it: back in the task bar.
    *tray = false;
    main.CheckTrayArea();
    QApplication::processEvents();
    EXPECT_TRUE(main.isVisible());
    EXPECT_TRUE(main.isMinimized());
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST(NoTrayArea, WithATrayAreaALaterStartStaysInTheTray)
{
    TestProfile profile;
    RecordingMessageBox box;
    notFirstStart();
    TMain main(quietOptions());
    main.ShowAtStart();
    QApplication::processEvents();
    EXPECT_FALSE(main.isVisible());
    EXPECT_TRUE(main.ProgramIcon().Active());
}

TEST(FirstSize, EveryColumnAndEveryToolbarCommandFitOnA1280By800Screen)
{
    TestProfile profile;
    RecordingMessageBox box;
    notFirstStart();
    TMain main(quietOptions());
    const QRect screen(0, 0, 1280, 800);
    const QSize size = main.FirstSize(screen);
    EXPECT_LE(size.width(), 1280);
    EXPECT_LE(size.height(), 800);
    main.resize(size);
    main.show();
    QApplication::processEvents();
    QApplication::processEvents();

    TCheckBoxGrid *grid = main.MessageList().Grid();
    EXPECT_FALSE(grid->horizontalScrollBar()->isVisible());
    int columns = 0;
    for (int c = 0; c < 6; ++c)
        columns += grid->ColWidth(c);
    EXPECT_LE(columns, grid->viewport()->width());
    for (QToolBar *bar : main.findChildren<QToolBar *>()) {
        // The overflow button ("»") shows only when commands do not fit.
        if (auto *more = bar->findChild<QToolButton *>(QStringLiteral("qt_toolbar_ext_button"))) {
            EXPECT_FALSE(more->isVisible()) << bar->windowTitle().toStdString();
        }
        for (QAction *a : bar->actions()) {
            if (!a->isSeparator()) {
                EXPECT_TRUE(bar->widgetForAction(a) && bar->widgetForAction(a)->isVisible())
                    << a->text().toStdString();
            }
        }
    }
    // Each toolbar command has a picture, from the desktop's theme or the program's own.
    for (QAction *a : {main.actExit, main.actCheck, main.actMailClient, main.actHelp, main.actDeleteChecked,
                       main.actSelectAll, main.actSelectNone, main.actFetchText, main.actDelete, main.actToFilter,
                       main.actReply})
        EXPECT_FALSE(a->icon().isNull()) << a->text().toStdString();
}

TEST(FirstSize, DatesAreGermanWhateverTheSystemLocale)
{
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QDateTime when(QDate(2026, 12, 9), QTime(14, 5, 9));
    EXPECT_EQ(ShortDateLongTime(when), QStringLiteral("09.12.2026 14:05:09"));
    EXPECT_EQ(LongTimeText(QTime(8, 7, 6)), QStringLiteral("08:07:06"));
    QLocale::setDefault(before);
}
