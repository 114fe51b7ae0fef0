#pragma once
// One running instance per user and profile. A second start finds the first through a local socket,
// asks it to restore its window and ends.
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;
class QLockFile;

class TSingleInstance : public QObject {
    Q_OBJECT
public:
    explicit TSingleInstance(QObject *parent = nullptr);
    ~TSingleInstance() override;

    // The socket name: "Quarvel32Free", the user id and, for a separate profile, a hash of its folder.
    static QString ServerName();

    // True when this is the first instance (it now holds the lock and listens); false when another one
    // runs. Two starts at the same moment cannot both win: the lock file decides.
    bool Claim();
    // Where the lock file lives: the runtime folder of the user (a separate profile's own folder).
    static QString LockPath();
    // Asks the running instance to restore its window; false when none answered.
    static bool RequestRestore();

    // Called in the first instance when a later start asks it to restore its window.
    std::function<void()> OnRestoreRequest;

private:
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};
