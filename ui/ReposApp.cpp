#include "ReposApp.h"

#include "RegIni.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

const QString TRePosApp::kMonitorName = QStringLiteral("Monitor");

int PrimaryScreenIndex(const QList<TScreenInfo> &screens)
{
    if (screens.isEmpty())
        return -1;
    if (screens.size() == 1)
        return 0;
    return screens[0].Primary ? 0 : 1;
}

TPlacement ComputePlacement(const TStoredPlacement &stored, const QList<TScreenInfo> &screens,
                            const TWindowFacts &window, bool allowMaximized)
{
    TPlacement p;
    p.Geometry = window.Geometry;
    const int primary = PrimaryScreenIndex(screens);
    if (primary < 0)
        return p; // no monitor to place on

    const QRect primaryRect = screens[primary].Geometry;
    if (stored.Top == -1 || stored.Left == -1 || stored.Width == -1 || stored.Height == -1) {
        // Nothing usable stored: centred on the primary monitor in the designed size, state untouched.
        const QSize size = window.Geometry.size();
        p.Geometry.moveTo(primaryRect.left() + (primaryRect.width() - size.width()) / 2,
                          primaryRect.top() + (primaryRect.height() - size.height()) / 2);
        return p;
    }

    int target = primary;
    p.Monitor = rposPrimary;
    if (stored.Monitor == 1 && screens.size() > 1) {
        target = primary == 0 ? 1 : 0;
        p.Monitor = rposSecondary;
    }

    int left = window.Geometry.left();
    int top = window.Geometry.top();
    int width = window.Geometry.width();
    int height = window.Geometry.height();
    if (window.NormalState) {
        if (p.Monitor == rposSecondary) {
            left = stored.Left;
            top = stored.Top;
        } else {
            // On the primary monitor a negative position is a leftover of another monitor layout.
            if (stored.Left >= 0)
                left = stored.Left;
            if (stored.Top >= 0)
                top = stored.Top;
        }
    }

    // The usable area: the target monitor, reaching across the first one listed when the target is the
    // second (a window may span both).
    QRect area = screens[target].Geometry;
    if (target == 1) {
        const QRect first = screens[0].Geometry;
        area.setLeft(std::min(area.left(), first.left()));
        area.setRight(std::max(area.right(), first.right()));
    }
    const int areaRight = area.left() + area.width();
    const int areaBottom = area.top() + area.height();
    const auto fitLeft = [&](int w) {
        if (left + w > areaRight)
            left = std::max(area.left(), areaRight - w);
    };
    const auto fitTop = [&](int h) {
        if (top + h > areaBottom)
            top = std::max(area.top(), areaBottom - h);
    };

    if (window.NormalState && window.Sizable) {
        if (stored.Width > 0) {
            fitLeft(stored.Width);
            width = stored.Width;
        }
        if (stored.Height > 0) {
            fitTop(stored.Height);
            height = stored.Height;
        }
    } else if (screens.size() > 1 && !window.Sizable) {
        fitLeft(width);
        fitTop(height);
    }

    p.Geometry = QRect(left, top, width, height);
    p.ApplyState = true;
    p.Maximized = stored.ShowCmd == 1 && allowMaximized;
    return p;
}

QList<TScreenInfo> SystemScreens()
{
    QList<TScreenInfo> list;
    const QScreen *primary = QGuiApplication::primaryScreen();
    for (QScreen *s : QGuiApplication::screens())
        list.append(TScreenInfo{s->geometry(), s == primary});
    return list;
}

TStoredPlacement TRePosApp::ReadStored()
{
    TStoredPlacement s;
    if (InifileName.isEmpty() || SectionName.isEmpty())
        return s;
    TTheRegIniFile reg;
    reg.RegKey = HKEY::CURRENT_USER;
    reg.Area = InifileName;
    reg.Section = SectionName;
    s.ShowCmd = reg.ReadInteger(WindowStateName, 0);
    s.Top = reg.ReadInteger(TopName, -1);
    s.Left = reg.ReadInteger(LeftName, -1);
    s.Width = reg.ReadInteger(WidthName, -1);
    s.Height = reg.ReadInteger(HeightName, -1);
    s.Monitor = reg.ReadInteger(kMonitorName, 0);
    return s;
}

void TRePosApp::RestorePlacement()
{
    if (!m_owner)
        return;
    const TStoredPlacement stored = ReadStored();
    TWindowFacts facts;
    facts.Geometry = QRect(m_owner->pos(), m_owner->size());
    facts.NormalState = !(m_owner->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
    facts.Sizable = m_owner->minimumSize() != m_owner->maximumSize();

    const TPlacement p = ComputePlacement(stored, SystemScreens(), facts, AllowMaximized);
    // move() also tells the window manager that the position is ours, not its choice.
    m_owner->move(p.Geometry.topLeft());
    if (p.Geometry.size() != m_owner->size())
        m_owner->resize(p.Geometry.size());
    if (p.ApplyState)
        m_owner->setWindowState(p.Maximized ? Qt::WindowMaximized : Qt::WindowNoState);
    Monitor = p.Monitor;
}

void TRePosApp::SavePlacement()
{
    if (!m_owner || InifileName.isEmpty() || SectionName.isEmpty())
        return;
    const bool maximized = m_owner->isMaximized();
    if (m_owner->isMinimized() || (maximized && !AllowMaximized))
        return;
    TTheRegIniFile reg;
    reg.RegKey = HKEY::CURRENT_USER;
    reg.Area = InifileName;
    reg.Section = SectionName;
    reg.WriteInteger(WindowStateName, maximized ? 1 : 0);
    if (maximized)
        return; // the last normal bounds stay stored
    reg.WriteInteger(TopName, m_owner->y());
    reg.WriteInteger(LeftName, m_owner->x());
    reg.WriteInteger(WidthName, m_owner->width());
    reg.WriteInteger(HeightName, m_owner->height());

    const QList<QScreen *> screens = QGuiApplication::screens();
    QScreen *on = QGuiApplication::screenAt(m_owner->frameGeometry().center());
    if (!on)
        on = m_owner->screen();
    const int index = on ? int(screens.indexOf(on)) : -1;
    const int primary = PrimaryScreenIndex(SystemScreens());
    reg.WriteInteger(kMonitorName, (index >= 0 && index != primary) ? 1 : 0);
}
