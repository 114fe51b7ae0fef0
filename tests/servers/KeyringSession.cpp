#include "KeyringSession.h"

#include "ServerProcess.h"
#include "TestProfile.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QThread>

#include <gio/gio.h>

#include <functional>

#include <signal.h>

namespace {

const QByteArray kKeyringPassword = QByteArrayLiteral("quarvel-test-login");

// The bus of its own: a session bus on one socket, everybody may talk to everybody, and no service is
// started on demand (the system's service files would start a keyring of the real user's).
QByteArray busConfig(const QString &socket)
{
    return QStringLiteral(
               "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig>\n"
               "  <type>session</type>\n"
               "  <listen>unix:path=%1</listen>\n"
               "  <auth>EXTERNAL</auth>\n"
               "  <policy context=\"default\">\n"
               "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
               "    <allow eavesdrop=\"true\"/>\n"
               "    <allow own=\"*\"/>\n"
               "  </policy>\n"
               "</busconfig>\n")
        .arg(socket)
        .toUtf8();
}

bool waitUntil(const std::function<bool()> &ready, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!ready()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}

} // namespace

QString NoSessionBusAddress()
{
    return QStringLiteral("unix:path=/nonexistent/quarvel-no-session-bus");
}

KeyringSession::KeyringSession() = default;

namespace {
KeyringSession *g_processKeyring = nullptr;
QString g_processKeyringError;
bool g_processKeyringTried = false;

void stopProcessKeyring()
{
    delete g_processKeyring;
    g_processKeyring = nullptr;
    g_processKeyringTried = false;
}
} // namespace

KeyringSession *KeyringSession::forThisProcess(QString *error)
{
    if (!g_processKeyringTried) {
        g_processKeyringTried = true;
        auto *session = new KeyringSession;
        if (session->start(&g_processKeyringError)) {
            session->useInThisProcess();
            g_processKeyring = session;
            if (QCoreApplication::instance())
                qAddPostRoutine(stopProcessKeyring);
        } else {
            delete session;
        }
    }
    if (!g_processKeyring && error)
        *error = g_processKeyringError;
    return g_processKeyring;
}

KeyringSession::~KeyringSession()
{
    stop();
}

QString KeyringSession::address() const
{
    return QStringLiteral("unix:path=") + m_dir.filePath(QStringLiteral("bus"));
}

int KeyringSession::runOnBus(const QString &program, const QStringList &args, const QByteArray &input,
                             QByteArray *out, QByteArray *err) const
{
    return runProcess(program, args, out, err, input, m_keyring.processEnvironment());
}

bool KeyringSession::start(QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!m_dir.isValid())
        return fail(QStringLiteral("no temporary folder"));
    QDir home(m_dir.path());
    for (const char *sub : {"run", "data", "config", "cache"})
        home.mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(home.filePath(QStringLiteral("run")), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                                    | QFileDevice::ExeOwner);
    QFile config(home.filePath(QStringLiteral("bus.conf")));
    if (!config.open(QIODevice::WriteOnly) || config.write(busConfig(home.filePath(QStringLiteral("bus")))) < 0)
        return fail(QStringLiteral("cannot write the bus configuration"));
    config.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address());
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    m_bus.setProcessEnvironment(env);
    m_keyring.setProcessEnvironment(env);

    m_bus.setProcessChannelMode(QProcess::MergedChannels);
    endWithTestProcess(m_bus);
    m_bus.start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                 QStringLiteral("--nopidfile")});
    if (!m_bus.waitForStarted(10000))
        return fail(QStringLiteral("dbus-daemon does not start (Debian package dbus-daemon): ") + m_bus.errorString());
    const QStringList ping{QStringLiteral("--session"), QStringLiteral("--print-reply"),
                           QStringLiteral("--dest=org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                           QStringLiteral("org.freedesktop.DBus.GetId")};
    if (!waitUntil([&] { return runOnBus(QStringLiteral("dbus-send"), ping) == 0; }, 20000))
        return fail(QStringLiteral("the private bus does not answer: ") + QString::fromLocal8Bit(m_bus.readAll()));

    m_keyring.setProcessChannelMode(QProcess::MergedChannels);
    endWithTestProcess(m_keyring);
    m_keyring.start(QStringLiteral("gnome-keyring-daemon"),
                    {QStringLiteral("--foreground"), QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
    if (!m_keyring.waitForStarted(10000))
        return fail(QStringLiteral("gnome-keyring-daemon does not start (Debian package gnome-keyring): ")
                    + m_keyring.errorString());
    // The password of the login keyring, which it creates on its first start.
    m_keyring.write(kKeyringPassword);
    m_keyring.waitForBytesWritten(10000);
    m_keyring.closeWriteChannel();
    const QStringList ready{QStringLiteral("store"), QStringLiteral("--label=ready"), QStringLiteral("quarvel-test"),
                            QStringLiteral("ready")};
    QByteArray said;
    if (!waitUntil([&] { return runOnBus(QStringLiteral("secret-tool"), ready, "x", nullptr, &said) == 0; }, 20000))
        return fail(QStringLiteral("the keyring takes no secret (Debian packages gnome-keyring, libsecret-tools): ")
                    + QString::fromLocal8Bit(said + m_keyring.readAll()));
    runOnBus(QStringLiteral("secret-tool"), {QStringLiteral("clear"), QStringLiteral("quarvel-test"), QStringLiteral("ready")});
    return true;
}

void KeyringSession::stop()
{
    if (m_keyring.state() != QProcess::NotRunning)
        resume();
    stopServerProcess(m_keyring);
    stopServerProcess(m_bus);
}

void KeyringSession::useInThisProcess()
{
    qputenv("DBUS_SESSION_BUS_ADDRESS", address().toUtf8());
    // GLib keeps one session bus connection per process and ends the process when it closes. Held here
    // for good, it is the one libsecret gets, and its closing at the end of the test ends nothing.
    GError *error = nullptr;
    if (GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error))
        g_dbus_connection_set_exit_on_close(bus, FALSE);
    else
        g_error_free(error);
}

std::optional<QString> KeyringSession::lookup(const QString &key) const
{
    QByteArray out;
    // QtKeychain's attributes: the key as "user", the service as "server".
    if (runOnBus(QStringLiteral("secret-tool"),
                 {QStringLiteral("lookup"), QStringLiteral("server"), QStringLiteral("Quarvel"), QStringLiteral("user"), key},
                 {}, &out)
        != 0)
        return std::nullopt;
    return QString::fromUtf8(out);
}

bool KeyringSession::lock()
{
    return runOnBus(QStringLiteral("dbus-send"),
                    {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                     QStringLiteral("--dest=org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
                     QStringLiteral("org.freedesktop.Secret.Service.Lock"),
                     QStringLiteral("array:objpath:/org/freedesktop/secrets/collection/login")})
           == 0;
}

bool KeyringSession::pause()
{
    return m_keyring.state() == QProcess::Running && ::kill(pid_t(m_keyring.processId()), SIGSTOP) == 0;
}

bool KeyringSession::resume()
{
    return m_keyring.state() == QProcess::Running && ::kill(pid_t(m_keyring.processId()), SIGCONT) == 0;
}
