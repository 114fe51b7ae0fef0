#include "TrayIcon.h"

#include <QMenu>

#include <algorithm>

QString CutTrayTooltip(const QString &text)
{
    return text.left(kTrayTooltipMax);
}

int NextAnimationFrame(int current, const std::array<bool, 4> &present)
{
    for (int frame = std::max(current, 0) + 1; frame <= 4; ++frame)
        if (present[size_t(frame - 1)])
            return frame;
    return 0;
}

TTrayIcon::TTrayIcon(QObject *parent) : QObject(parent), m_tray(makeTray())
{
    m_timer.setInterval(800);
    connect(&m_timer, &QTimer::timeout, this, &TTrayIcon::AnimationTick);
}

QSystemTrayIcon *TTrayIcon::makeTray()
{
    auto *tray = new QSystemTrayIcon(this);
    connect(tray, &QSystemTrayIcon::activated, this, &TTrayIcon::TrayActivated);
    return tray;
}

void TTrayIcon::Reinstall()
{
    m_tray->hide();
    delete m_tray;
    m_tray = makeTray();
    m_tray->setIcon(CurrentImage());
    m_tray->setToolTip(m_tooltip);
    m_tray->setContextMenu(m_menu);
    if (m_active)
        m_tray->show();
}

TTrayIcon::~TTrayIcon()
{
    m_timer.stop();
    m_tray->hide();
}

void TTrayIcon::SetNormalImage(const QIcon &icon)
{
    m_normal = icon;
    if (m_frame == 0)
        m_tray->setIcon(m_normal);
}

void TTrayIcon::SetAnimationImage(int index, const QIcon &icon)
{
    if (index < 1 || index > 4)
        return;
    m_images[size_t(index - 1)] = icon;
    if (m_frame == index)
        ShowFrame(icon.isNull() ? 0 : index);
}

QIcon TTrayIcon::AnimationImage(int index) const
{
    if (index < 1 || index > 4)
        return QIcon();
    return m_images[size_t(index - 1)];
}

void TTrayIcon::SetAnimationStep(int ms)
{
    m_timer.setInterval(std::max(ms, 1));
}

void TTrayIcon::SetTooltip(const QString &text)
{
    m_tooltip = CutTrayTooltip(text);
    m_tray->setToolTip(m_tooltip);
}

void TTrayIcon::SetMenu(QMenu *menu)
{
    m_menu = menu;
    m_tray->setContextMenu(menu);
}

void TTrayIcon::SetActive(bool active)
{
    if (!active)
        StopAnimation();
    if (active == m_active)
        return;
    m_active = active;
    if (active) {
        m_tray->setIcon(CurrentImage());
        m_tray->show();
    } else {
        m_tray->hide();
    }
}

void TTrayIcon::StartAnimation()
{
    if (!m_timer.isActive())
        m_timer.start();
}

void TTrayIcon::StopAnimation()
{
    m_timer.stop();
    ShowFrame(0);
}

QIcon TTrayIcon::CurrentImage() const
{
    return m_frame == 0 ? m_normal : m_images[size_t(m_frame - 1)];
}

void TTrayIcon::AnimationTick()
{
    std::array<bool, 4> present{};
    for (size_t i = 0; i < present.size(); ++i)
        present[i] = !m_images[i].isNull();
    ShowFrame(NextAnimationFrame(m_frame, present));
}

void TTrayIcon::ShowFrame(int frame)
{
    m_frame = frame;
    m_tray->setIcon(CurrentImage());
}

void TTrayIcon::TrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    // The right button opens the context menu by itself; only the left click is ours.
    if (reason == QSystemTrayIcon::Trigger && OnClick)
        OnClick();
}
