#pragma once
// One running instance per user and profile. A second start finds the first through a local socket,
// asks it to restore its window and ends.
#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;

class TSingleInstance : public QObject {
    Q_OBJECT
public:
    explicit TSingleInstance(QObject *parent = nullptr);
    ~TSingleInstance() override;

    // The socket name: "Quarvel32Free", the user id and, for a separate profile, a hash of its folder.
    static QString ServerName();

    // True when this is the first instance (it now listens); false when another one runs.
    bool Claim();
    // Asks the running instance to restore its window; false when none answered.
    static bool RequestRestore();

    // Called in the first instance when a later start asks it to restore its window.
    std::function<void()> OnRestoreRequest;

private:
    QLocalServer *m_server = nullptr;
};
