#pragma once
// Remembers where a window was: its normal bounds, whether it was maximized, and whether it lay on the
// secondary monitor, in a registry section of decimal text values. Restoring keeps the window on a
// visible monitor and centres it on the primary monitor when nothing usable is stored.
#include <QList>
#include <QRect>
#include <QString>

class QWidget;

enum TReposMonitor { rposPrimary = 0, rposSecondary = 1 };

// The values as read; -1 in Top, Left, Width or Height means "not stored".
struct TStoredPlacement {
    int ShowCmd = 0;
    int Top = -1;
    int Left = -1;
    int Width = -1;
    int Height = -1;
    int Monitor = 0;
};

// One monitor in the system's list order, in desktop coordinates.
struct TScreenInfo {
    QRect Geometry;
    bool Primary = false;
};

// The window before placing: its position and size (as designed), its state and border.
struct TWindowFacts {
    QRect Geometry;
    bool NormalState = true;
    bool Sizable = true;
};

struct TPlacement {
    QRect Geometry;
    bool ApplyState = false; // false: leave the window state as it is
    bool Maximized = false;
    TReposMonitor Monitor = rposPrimary;
};

// The placement arithmetic. With one monitor that one is primary; with more, the first listed is primary
// when the system marks it so, the second otherwise, and the secondary is the other of the two.
// Out-of-range windows are pulled back into the target monitor; when the target is the second monitor
// listed, the first one counts as part of the usable width (a window may reach across both).
TPlacement ComputePlacement(const TStoredPlacement &stored, const QList<TScreenInfo> &screens,
                            const TWindowFacts &window, bool allowMaximized);

// Index of the primary monitor in the list by the rule above; -1 for an empty list.
int PrimaryScreenIndex(const QList<TScreenInfo> &screens);

// The system's monitors as the windowing system lists them.
QList<TScreenInfo> SystemScreens();

class TRePosApp {
public:
    explicit TRePosApp(QWidget *owner) : m_owner(owner) {}

    QString InifileName; // key below HKEY_CURRENT_USER
    QString SectionName = QStringLiteral("WindowPosition");
    QString LeftName = QStringLiteral("Left");
    QString TopName = QStringLiteral("Top");
    QString WidthName = QStringLiteral("Width");
    QString HeightName = QStringLiteral("Height");
    QString WindowStateName = QStringLiteral("ShowCmd");
    bool AllowMaximized = true;
    TReposMonitor Monitor = rposPrimary; // set by the last restore

    static const QString kMonitorName;

    // Reads the stored values and places the owner window. Nothing is reported on failure.
    void RestorePlacement();
    // Stores the owner window's placement; nothing for a minimized window. Failures are ignored.
    void SavePlacement();

    TStoredPlacement ReadStored();

private:
    QWidget *m_owner;
};
