#pragma once
// A notification-area icon that can animate: a normal image, up to four animation images shown one
// after the other at a fixed step, a tooltip, a menu for the right button and a handler for the left.
// The frame order is a pure function so it can be followed without a tray.
#include <QIcon>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

#include <array>
#include <functional>

class QMenu;

// Longest tooltip the tray is given; longer texts are cut.
inline constexpr int kTrayTooltipMax = 126;

QString CutTrayTooltip(const QString &text);

// The image the animation shows after current (0 = the normal image, 1 to 4 = the animation images):
// the next animation image that is present, or the normal image after the last one. present[i] tells
// whether animation image i + 1 is set.
int NextAnimationFrame(int current, const std::array<bool, 4> &present);

class TTrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TTrayIcon(QObject *parent = nullptr);
    ~TTrayIcon() override;

    void SetNormalImage(const QIcon &icon);
    QIcon NormalImage() const { return m_normal; }
    // index 1 to 4; a null icon leaves that step out of the animation.
    void SetAnimationImage(int index, const QIcon &icon);
    QIcon AnimationImage(int index) const;
    // Milliseconds per animation step.
    void SetAnimationStep(int ms);
    int AnimationStep() const { return m_timer.interval(); }

    // Stored and shown cut to kTrayTooltipMax characters.
    void SetTooltip(const QString &text);
    QString Tooltip() const { return m_tooltip; }

    // Opened by the right button; not owned.
    void SetMenu(QMenu *menu);
    QMenu *Menu() const { return m_menu; }
    // Called on a left click.
    std::function<void()> OnClick;

    // Shows the icon in the tray (true) or stops the animation and removes it (false).
    void SetActive(bool active);
    // Hands the icon to the tray area anew, with its image, tooltip, menu and state: Qt binds an icon to
    // the kind of tray area there was when it was made (StatusNotifier over D-Bus, or the X11 one), so one
    // that appeared later gets the icon only this way.
    void Reinstall();
    bool Active() const { return m_active; }

    void StartAnimation();
    // Stops and shows the normal image.
    void StopAnimation();
    bool Animating() const { return m_timer.isActive(); }

    // The image shown now: 0 the normal image, 1 to 4 an animation image.
    int CurrentFrame() const { return m_frame; }
    QIcon CurrentImage() const;

    // One animation step; the timer's handler.
    void AnimationTick();

private:
    void TrayActivated(QSystemTrayIcon::ActivationReason reason);
    void ShowFrame(int frame);
    QSystemTrayIcon *makeTray();

    QSystemTrayIcon *m_tray;
    QTimer m_timer;
    QIcon m_normal;
    std::array<QIcon, 4> m_images;
    QString m_tooltip;
    QMenu *m_menu = nullptr;
    bool m_active = false;
    int m_frame = 0;
};
