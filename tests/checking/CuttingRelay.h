#pragma once
// A TCP relay on 127.0.0.1 that joins every client to a server on 127.0.0.1 and passes everything on,
// until the client sends a line that begins with a given command: then it drops both connections without
// passing that line on, as a connection lost at the worst moment; or, holding, it passes nothing of that
// client on any more and keeps both connections open, as a server that never answers. With `after`, it
// acts only in a connection whose client sent a line beginning with that command before. It runs in a
// thread of its own, so a client in another process (or one that blocks its thread) is served as well.
#include <QByteArray>
#include <QString>
#include <QThread>

#include <atomic>

class CuttingRelay {
public:
    enum class Act { Cut, Hold };
    CuttingRelay(quint16 serverPort, QByteArray command, Act act = Act::Cut, QByteArray after = {});
    ~CuttingRelay();
    CuttingRelay(const CuttingRelay &) = delete;
    CuttingRelay &operator=(const CuttingRelay &) = delete;

    // Starts the thread and listens at a free port. False (and *error) when it cannot.
    bool Start(QString *error = nullptr);
    quint16 Port() const { return m_port; }
    // How many connections were cut (or held) so far.
    int Cuts() const { return m_cuts.load(); }

private:
    const quint16 m_serverPort;
    const QByteArray m_command;
    const Act m_act;
    const QByteArray m_after;
    quint16 m_port = 0;
    QThread m_thread;
    std::atomic<int> m_cuts{0};
};
