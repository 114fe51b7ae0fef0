#include "RegIni.h"
#include "ReposApp.h"
#include "TestProfile.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

TStoredPlacement stored(int left, int top, int width, int height, int monitor = 0, int showCmd = 0)
{
    TStoredPlacement s;
    s.Left = left;
    s.Top = top;
    s.Width = width;
    s.Height = height;
    s.Monitor = monitor;
    s.ShowCmd = showCmd;
    return s;
}

const QList<TScreenInfo> kOne = {{QRect(0, 0, 1280, 1024), true}};
// The primary at the origin, a smaller secondary to its right.
const QList<TScreenInfo> kTwo = {{QRect(0, 0, 1280, 1024), true}, {QRect(1280, 0, 1024, 768), false}};
// Listed first but not primary: the primary is the second one listed.
const QList<TScreenInfo> kTwoSecondFirst = {{QRect(0, 0, 1024, 768), false}, {QRect(1024, 0, 1920, 1080), true}};
// A layout where the primary is listed first but lies right of the other monitor.
const QList<TScreenInfo> kPrimaryOnTheRight = {{QRect(1920, 0, 1920, 1080), true}, {QRect(0, 0, 1920, 1080), false}};

TEST(Placement, Cases)
{
    const QRect designed(100, 50, 600, 400);
    const struct Case {
        const char *name;
        TStoredPlacement values;
        QList<TScreenInfo> screens;
        bool sizable;
        bool allowMaximized;
        QRect geometry;
        bool applyState;
        bool maximized;
        TReposMonitor monitor;
    } cases[] = {
        {"nothing stored: centred on the primary", TStoredPlacement{}, kOne, true, true, QRect(340, 312, 600, 400),
         false, false, rposPrimary},
        {"one value missing counts as nothing stored", stored(10, 10, -1, 300), kOne, true, true,
         QRect(340, 312, 600, 400), false, false, rposPrimary},
        {"nothing stored, primary listed second", TStoredPlacement{}, kTwoSecondFirst, true, true,
         QRect(1024 + 660, 340, 600, 400), false, false, rposPrimary},
        {"stored bounds apply", stored(20, 30, 800, 500), kOne, true, true, QRect(20, 30, 800, 500), true, false,
         rposPrimary},
        {"too far right is pulled back", stored(5000, 30, 600, 500), kOne, true, true, QRect(680, 30, 600, 500), true,
         false, rposPrimary},
        {"too far down is pulled up", stored(20, 900, 600, 400), kOne, true, true, QRect(20, 624, 600, 400), true,
         false, rposPrimary},
        {"wider than the monitor sticks to its left edge", stored(300, 0, 2000, 400), kOne, true, true,
         QRect(0, 0, 2000, 400), true, false, rposPrimary},
        {"negative position on the primary is ignored", stored(-300, -20, 640, 480), kOne, true, true,
         QRect(100, 50, 640, 480), true, false, rposPrimary},
        {"secondary monitor gone: primary, negatives ignored", stored(-900, -20, 640, 480, 1), kOne, true, true,
         QRect(100, 50, 640, 480), true, false, rposPrimary},
        {"on the secondary", stored(1400, 100, 600, 400, 1), kTwo, true, true, QRect(1400, 100, 600, 400), true, false,
         rposSecondary},
        {"beyond the secondary's right edge", stored(2000, 100, 600, 400, 1), kTwo, true, true,
         QRect(1704, 100, 600, 400), true, false, rposSecondary},
        {"secondary's height bounds the top", stored(1400, 600, 600, 400, 1), kTwo, true, true,
         QRect(1400, 368, 600, 400), true, false, rposSecondary},
        {"secondary listed first", stored(50, 60, 500, 300, 1), kTwoSecondFirst, true, true, QRect(50, 60, 500, 300),
         true, false, rposSecondary},
        {"primary right of the other monitor keeps its window", stored(2000, 100, 600, 400), kPrimaryOnTheRight, true,
         true, QRect(2000, 100, 600, 400), true, false, rposPrimary},
        {"maximized", stored(20, 30, 800, 500, 0, 1), kOne, true, true, QRect(20, 30, 800, 500), true, true,
         rposPrimary},
        {"maximizing not allowed", stored(20, 30, 800, 500, 0, 1), kOne, true, false, QRect(20, 30, 800, 500), true,
         false, rposPrimary},
        {"fixed size, one monitor: position only, no correction", stored(5000, 30, 800, 500), kOne, false, true,
         QRect(5000, 30, 600, 400), true, false, rposPrimary},
        {"fixed size, two monitors: corrected with its own size", stored(2100, 700, 800, 500, 1), kTwo, false, true,
         QRect(1704, 368, 600, 400), true, false, rposSecondary},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const TPlacement p = ComputePlacement(c.values, c.screens, TWindowFacts{designed, true, c.sizable},
                                              c.allowMaximized);
        EXPECT_EQ(p.Geometry, c.geometry);
        EXPECT_EQ(p.ApplyState, c.applyState);
        EXPECT_EQ(p.Maximized, c.maximized);
        EXPECT_EQ(p.Monitor, c.monitor);
    }
}

TEST(Placement, WindowNotInNormalStateKeepsItsPosition)
{
    const TPlacement p = ComputePlacement(stored(20, 30, 800, 500, 0, 1), kOne,
                                          TWindowFacts{QRect(100, 50, 600, 400), false, true}, true);
    EXPECT_EQ(p.Geometry, QRect(100, 50, 600, 400));
    EXPECT_TRUE(p.Maximized);
}

TEST(Placement, NoMonitorLeavesTheWindowAlone)
{
    const TPlacement p = ComputePlacement(stored(20, 30, 800, 500), {}, TWindowFacts{QRect(1, 2, 3, 4), true, true}, true);
    EXPECT_EQ(p.Geometry, QRect(1, 2, 3, 4));
    EXPECT_FALSE(p.ApplyState);
}

struct ReposWidgetTest : ::testing::Test {
    TestProfile profile;
    RecordingMessageBox box;
    QWidget window;
    TRePosApp repos{&window};
    TTheRegIniFile reg;
    QRect screen;

    void SetUp() override
    {
        repos.InifileName = QStringLiteral("Software\\Tessmar Software\\Quarvel");
        reg.Area = repos.InifileName;
        reg.Section = QStringLiteral("WindowPosition");
        screen = QGuiApplication::primaryScreen()->geometry();
        window.resize(300, 200);
        window.move(40, 30);
    }
    QString value(const char *name) { return reg.ReadString(QString::fromLatin1(name), QStringLiteral("<none>")); }
};

TEST_F(ReposWidgetTest, SavedPlacementComesBack)
{
    window.move(60, 70);
    window.resize(320, 240);
    repos.SavePlacement();
    EXPECT_EQ(value("ShowCmd"), QStringLiteral("0"));
    EXPECT_EQ(value("Left"), QStringLiteral("60"));
    EXPECT_EQ(value("Top"), QStringLiteral("70"));
    EXPECT_EQ(value("Width"), QStringLiteral("320"));
    EXPECT_EQ(value("Height"), QStringLiteral("240"));
    EXPECT_EQ(value("Monitor"), QStringLiteral("0"));

    QWidget again;
    again.resize(300, 200);
    TRePosApp restore(&again);
    restore.InifileName = repos.InifileName;
    restore.RestorePlacement();
    EXPECT_EQ(again.pos(), QPoint(60, 70));
    EXPECT_EQ(again.size(), QSize(320, 240));
    EXPECT_EQ(restore.Monitor, rposPrimary);
    EXPECT_FALSE(again.isMaximized());
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST_F(ReposWidgetTest, FirstStartAndUnreadableValuesCentreTheWindow)
{
    repos.RestorePlacement();
    const QPoint centred(screen.left() + (screen.width() - 300) / 2, screen.top() + (screen.height() - 200) / 2);
    EXPECT_EQ(window.pos(), centred);
    EXPECT_EQ(window.size(), QSize(300, 200));

    reg.WriteString(QStringLiteral("Left"), QStringLiteral("links"));
    reg.WriteString(QStringLiteral("Top"), QStringLiteral("5"));
    reg.WriteString(QStringLiteral("Width"), QStringLiteral("400"));
    reg.WriteString(QStringLiteral("Height"), QStringLiteral("300"));
    window.move(0, 0);
    repos.RestorePlacement();
    EXPECT_EQ(window.pos(), centred);
}

TEST_F(ReposWidgetTest, MaximizedWindowKeepsItsEarlierNormalBounds)
{
    window.move(60, 70);
    window.resize(320, 240);
    repos.SavePlacement();
    window.setWindowState(Qt::WindowMaximized);
    repos.SavePlacement();
    EXPECT_EQ(value("ShowCmd"), QStringLiteral("1"));
    EXPECT_EQ(value("Left"), QStringLiteral("60"));
    EXPECT_EQ(value("Width"), QStringLiteral("320"));

    QWidget again;
    again.resize(300, 200);
    TRePosApp restore(&again);
    restore.InifileName = repos.InifileName;
    restore.RestorePlacement();
    EXPECT_TRUE(again.isMaximized());
    again.setWindowState(Qt::WindowNoState); // the user restores it
    EXPECT_EQ(again.geometry(), QRect(60, 70, 320, 240));
}

TEST_F(ReposWidgetTest, MaximizedWithoutEarlierBoundsComesBackCentredAndNormal)
{
    window.setWindowState(Qt::WindowMaximized);
    repos.SavePlacement();
    EXPECT_EQ(value("ShowCmd"), QStringLiteral("1"));
    EXPECT_EQ(value("Left"), QStringLiteral("<none>"));

    QWidget again;
    again.resize(300, 200);
    TRePosApp restore(&again);
    restore.InifileName = repos.InifileName;
    restore.RestorePlacement();
    EXPECT_FALSE(again.isMaximized());
    EXPECT_EQ(again.pos(),
              QPoint(screen.left() + (screen.width() - 300) / 2, screen.top() + (screen.height() - 200) / 2));
}

TEST_F(ReposWidgetTest, MinimizedOrDisallowedMaximizedWindowSavesNothing)
{
    repos.SavePlacement();
    window.move(90, 90);
    window.setWindowState(Qt::WindowMinimized);
    repos.SavePlacement();
    EXPECT_EQ(value("Left"), QStringLiteral("40"));

    window.setWindowState(Qt::WindowMaximized);
    repos.AllowMaximized = false;
    repos.SavePlacement();
    EXPECT_EQ(value("ShowCmd"), QStringLiteral("0"));
    EXPECT_EQ(value("Left"), QStringLiteral("40"));
}

} // namespace
