// The real program on a virtual display of its own (Xvfb on a free display number, stopped at the end),
// with a private session bus, never the user's:
// - without a tray host, under a window manager that keeps a task bar list (openbox): the window is in the
//   task bar from the start, a second start raises it, and closing it leaves it there, minimized;
// - with a minimal StatusNotifierWatcher on the bus (sni_watcher.py): the program registers its tray icon
//   there with its picture, tool tip and menu, and a click on the icon shows the window.
#include "QuarvelIcons.h"
#include "RegistrySettingsUnit.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <memory>

namespace {

const QString kCaption = QStringLiteral("Quarvel Standard - Freeware");

bool waitFor(const std::function<bool()> &cond, int ms = 20000)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms)
            return false;
        QThread::msleep(100);
    }
    return true;
}

void stopProcess(QProcess &p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(5000);
    }
}

// Xvfb, a private session bus and, when asked, a window manager; the programs the test starts there.
class VirtualDesktop {
public:
    bool start(bool windowManager, QString *error)
    {
        // Xvfb picks a free display number itself and writes it to our pipe: no race with a test
        // starting another display at the same moment.
        m_xvfb.setProcessChannelMode(QProcess::SeparateChannels);
        m_xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                              QStringLiteral("0"), QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                                              QStringLiteral("tcp")});
        QByteArray number;
        if (m_xvfb.waitForStarted(10000))
            waitFor([&] {
                m_xvfb.waitForReadyRead(100);
                number += m_xvfb.readAllStandardOutput();
                return number.contains('\n') || m_xvfb.state() == QProcess::NotRunning;
            }, 30000);
        if (!number.contains('\n')) {
            *error = QStringLiteral("Xvfb did not start: ") + QString::fromUtf8(m_xvfb.readAllStandardError());
            return false;
        }
        m_display = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
        m_bus.setProcessChannelMode(QProcess::SeparateChannels);
        m_bus.start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                     QStringLiteral("--print-address=1"),
                     QStringLiteral("--address=unix:path=") + m_dir.filePath(QStringLiteral("bus"))});
        if (!m_bus.waitForReadyRead(10000)) {
            *error = QStringLiteral("dbus-daemon did not start");
            return false;
        }
        m_busAddress = QString::fromUtf8(m_bus.readLine()).trimmed();
        if (windowManager) {
            m_wm.setProcessEnvironment(environment());
            m_wm.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
            if (!waitFor([&] { return run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")}).contains("window id"); })) {
                *error = QStringLiteral("openbox did not start");
                return false;
            }
        }
        return true;
    }

    ~VirtualDesktop()
    {
        for (QProcess *p : m_started)
            stopProcess(*p);
        stopProcess(m_wm);
        stopProcess(m_bus);
        stopProcess(m_xvfb);
    }

    // The environment of a program on this display and bus only.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return env;
    }

    QString run(const QString &program, const QStringList &args) const
    {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(program, args);
        p.waitForFinished(10000);
        return QString::fromUtf8(p.readAllStandardOutput());
    }

    // Starts a program that runs until the desktop goes (or the test stops it).
    QProcess *launch(const QString &program, const QStringList &args, const QProcessEnvironment &extra = {})
    {
        auto *p = new QProcess;
        m_owned.emplace_back(p);
        m_started.append(p);
        QProcessEnvironment env = environment();
        for (const QString &key : extra.keys())
            env.insert(key, extra.value(key));
        p->setProcessEnvironment(env);
        p->start(program, args);
        return p;
    }

    // The program's main window, 0 while there is none.
    qulonglong mainWindow() const
    {
        const QString out = run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--name"),
                                                            QStringLiteral("^") + kCaption + QStringLiteral("$")});
        const QStringList ids = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return ids.isEmpty() ? 0 : ids.last().toULongLong();
    }

    QString windowProperties(qulonglong id) const
    {
        return run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(id), QStringLiteral("WM_STATE"),
                                             QStringLiteral("_NET_WM_STATE")});
    }
    // In the window manager's list of clients, which a task bar shows (unless it asks to be skipped).
    bool inTaskBar(qulonglong id) const
    {
        const QString list = run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST")});
        return list.contains(QStringLiteral("0x") + QString::number(id, 16))
            && !windowProperties(id).contains(QStringLiteral("_NET_WM_STATE_SKIP_TASKBAR"));
    }
    bool minimized(qulonglong id) const
    {
        const QString p = windowProperties(id);
        return p.contains(QStringLiteral("window state: Iconic"));
    }
    // Mapped and not minimized (without a window manager nobody sets WM_STATE).
    bool shownNormally(qulonglong id) const
    {
        return !minimized(id)
            && run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(id)}).contains(QStringLiteral("IsViewable"));
    }

private:
    QTemporaryDir m_dir;
    QProcess m_xvfb, m_bus, m_wm;
    QString m_display, m_busAddress;
    std::vector<std::unique_ptr<QProcess>> m_owned;
    QList<QProcess *> m_started;
};

bool toolsPresent()
{
    for (const char *tool : {"Xvfb", "dbus-daemon", "openbox", "xdotool", "wmctrl", "xprop", "xwininfo"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return false;
    return QFile::exists(QStringLiteral("/usr/bin/python3"));
}

void prepareProfile()
{
    TRegistrySettings s;
    s.Load();
    s.Settings.FirstStart = false;
    s.Save();
}

const QString kProgram = QStringLiteral(QUARVEL_TEST_BINARY_DIR "/app/quarvel");

} // namespace

TEST(Desktop, WithoutATrayHostTheWindowStaysInTheTaskBarAndASecondStartRaisesIt)
{
    ASSERT_TRUE(toolsPresent()) << "run scripts/install-deps.sh";
    TestProfile profile;
    prepareProfile();
    VirtualDesktop desktop;
    QString error;
    ASSERT_TRUE(desktop.start(true, &error)) << error.toStdString();
    QProcessEnvironment boxes;
    boxes.insert(QStringLiteral("QUARVEL_TEST_MSGBOX_LOG"), profile.file(QStringLiteral("boxes.txt")));

    QProcess *first = desktop.launch(kProgram, {}, boxes);
    qulonglong window = 0;
    ASSERT_TRUE(waitFor([&] { return (window = desktop.mainWindow()) != 0 && desktop.inTaskBar(window); }))
        << "no window in the task bar";
    // A later start without a tray host: minimized to the task bar, never hidden.
    EXPECT_TRUE(waitFor([&] { return desktop.minimized(window); })) << desktop.windowProperties(window).toStdString();

    // The second start keeps its box and its exit code, and the first copy's window comes up.
    QProcess second;
    QProcessEnvironment env = desktop.environment();
    env.insert(QStringLiteral("QUARVEL_TEST_MSGBOX_LOG"), profile.file(QStringLiteral("boxes.txt")));
    second.setProcessEnvironment(env);
    second.start(kProgram, {});
    ASSERT_TRUE(second.waitForFinished(60000)) << second.readAllStandardError().toStdString();
    EXPECT_EQ(second.exitCode(), 1);
    QFile log(profile.file(QStringLiteral("boxes.txt")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(log.readAll()).contains(QStringLiteral("Quarvel läuft bereits! Nutzen Sie die vorhandene Instanz.")));
    EXPECT_TRUE(waitFor([&] { return desktop.shownNormally(window); })) << desktop.windowProperties(window).toStdString();

    // Closed as a user closes it: still running, minimized in the task bar.
    desktop.run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), QString::number(window)});
    EXPECT_TRUE(waitFor([&] { return desktop.minimized(window); })) << desktop.windowProperties(window).toStdString();
    EXPECT_TRUE(desktop.inTaskBar(window));
    EXPECT_FALSE(first->waitForFinished(500)) << "the program ended";
}

TEST(Desktop, TheTrayIconReachesAStatusNotifierWatcherWithItsPictureToolTipAndMenu)
{
    ASSERT_TRUE(toolsPresent()) << "run scripts/install-deps.sh";
    TestProfile profile;
    prepareProfile();
    VirtualDesktop desktop;
    QString error;
    ASSERT_TRUE(desktop.start(false, &error)) << error.toStdString();
    const QString report = profile.file(QStringLiteral("item.json"));
    QProcess *watcher = desktop.launch(QStringLiteral("/usr/bin/python3"),
                                       {QStringLiteral(QUARVEL_TEST_SOURCE_DIR "/tests/ui/sni_watcher.py"), report});
    ASSERT_TRUE(watcher->waitForReadyRead(20000)) << watcher->readAllStandardError().toStdString();

    desktop.launch(kProgram, {});
    ASSERT_TRUE(waitFor([&] { return QFile::exists(report) && QFile(report).size() > 0; }, 30000))
        << watcher->readAllStandardError().toStdString();
    QFile file(report);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject item = QJsonDocument::fromJson(file.readAll()).object();
    EXPECT_EQ(item.value(QStringLiteral("id")).toString(), QStringLiteral("Quarvel"));
    EXPECT_EQ(item.value(QStringLiteral("tooltip")).toString(), QStringLiteral("Quarvel aktiv"));
    EXPECT_EQ(item.value(QStringLiteral("menuPath")).toString(), QStringLiteral("/MenuBar"));
    QStringList menu;
    for (const QJsonValue &v : item.value(QStringLiteral("menu")).toArray())
        menu << v.toString();
    for (const char *entry : {"Anzeigen", "Minimieren", "Konfiguration öffnen...", "POP3-Postfächer öffnen...",
                              "Spam-Filter...", "Prüfe auf neue E-Mail...", "Quarvel beenden"})
        EXPECT_TRUE(menu.contains(QString::fromUtf8(entry))) << entry << " in " << menu.join(u'|').toStdString();

    // The picture is the program's own, as ARGB in network order, at every size it is sent in.
    const QJsonArray pixmaps = item.value(QStringLiteral("pixmaps")).toArray();
    ASSERT_FALSE(pixmaps.isEmpty());
    int matching = 0;
    for (const QJsonValue &v : pixmaps) {
        const QJsonObject p = v.toObject();
        const QSize size(p.value(QStringLiteral("width")).toInt(), p.value(QStringLiteral("height")).toInt());
        const QImage own = ProgramIcon().pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
        QByteArray expected;
        for (int y = 0; y < own.height(); ++y)
            for (int x = 0; x < own.width(); ++x) {
                const QRgb c = own.pixel(x, y);
                expected.append(char(qAlpha(c))).append(char(qRed(c))).append(char(qGreen(c))).append(char(qBlue(c)));
            }
        matching += expected.toHex() == p.value(QStringLiteral("argb")).toString().toLatin1() ? 1 : 0;
    }
    EXPECT_GT(matching, 0);

    // The watcher clicked the icon: the window that sat in the tray is shown.
    qulonglong window = 0;
    EXPECT_TRUE(waitFor([&] { return (window = desktop.mainWindow()) != 0 && desktop.shownNormally(window); }));
}
