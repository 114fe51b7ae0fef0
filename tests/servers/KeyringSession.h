#pragma once
// A private desktop keyring for tests: a D-Bus session bus of its own (dbus-daemon on a socket in a
// temporary folder, no service activation) with GNOME Keyring's Secret Service on it, its login keyring
// created and unlocked with a password fed on standard input, and every file it keeps in that folder. Both
// processes end when the object goes (or with the test process).
//
// libsecret, which QtKeychain uses, takes the session bus of the process once, and GLib ends a process
// whose session bus goes away; so a test process joins the bus (useInThisProcess) before its first keyring
// call, and that joining keeps a closing bus from ending the process.
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

class KeyringSession {
public:
    KeyringSession();
    ~KeyringSession();
    KeyringSession(const KeyringSession &) = delete;
    KeyringSession &operator=(const KeyringSession &) = delete;

    // The one keyring of the test process: started and joined (useInThisProcess) on first use, stopped
    // when the application object goes. Null, with *error, when it does not start.
    static KeyringSession *forThisProcess(QString *error = nullptr);

    // Starts the bus and the keyring and waits until the keyring takes a secret. On failure *error says why.
    bool start(QString *error = nullptr);
    void stop();

    // The value of DBUS_SESSION_BUS_ADDRESS for this bus.
    QString address() const;
    // Points this process (and the processes it starts from now on) at the bus.
    void useInThisProcess();

    // What the keyring holds for a key of the service "Quarvel" (read with secret-tool, not through the
    // program); none when there is no such entry.
    std::optional<QString> lookup(const QString &key) const;
    // Locks the login keyring, as the desktop does when the screen locks; nobody is there to unlock it.
    bool lock();
    // Stops the keyring process (SIGSTOP): the bus still takes calls, nobody answers them. resume() lets
    // it go on.
    bool pause();
    bool resume();

private:
    // Runs a tool against the bus (60 s at most); its exit code, -1 when it did not run.
    int runOnBus(const QString &program, const QStringList &args, const QByteArray &input = {},
                 QByteArray *out = nullptr, QByteArray *err = nullptr) const;

    QTemporaryDir m_dir;
    QProcess m_bus;
    QProcess m_keyring;
};

// An address where no bus listens: a process pointed there has no Secret Service.
QString NoSessionBusAddress();

// A fixture whose tests use the process's keyring.
template <typename Base>
class WithKeyring : public Base {
protected:
    void SetUp() override
    {
        Base::SetUp();
        if (this->HasFatalFailure())
            return;
        QString error;
        keyring = KeyringSession::forThisProcess(&error);
        ASSERT_NE(keyring, nullptr) << error.toStdString();
    }

    KeyringSession *keyring = nullptr;
};
