#pragma once
// A TCP relay that makes a loopback server look distant: it listens on 127.0.0.1 at a free port, joins
// every client to a server on 127.0.0.1, and holds each chunk it reads for a fixed delay before passing
// it on, in both directions. That is latency without a bandwidth limit; every round trip of a protocol
// costs twice the delay. A thread of its own runs it, so a client that blocks its thread on the socket
// still meets the delays. It never connects anywhere but 127.0.0.1.
#include <QString>
#include <QThread>

#include <atomic>

namespace testservers {

class DelayProxy {
public:
    DelayProxy(quint16 serverPort, int delayMs);
    ~DelayProxy();
    DelayProxy(const DelayProxy &) = delete;
    DelayProxy &operator=(const DelayProxy &) = delete;

    // Starts the thread and listens. False (and *error) when no port could be had.
    bool Start(QString *error = nullptr);
    quint16 Port() const { return m_port; }

    // What went through so far, and the delays the chunks really had (the timer adds a little).
    struct Figures {
        qint64 Connections = 0;
        qint64 Chunks = 0;
        qint64 Bytes = 0;
        double MeanDelayMs = 0;
        double MaxDelayMs = 0;
    };
    Figures Measured() const;

    // Counters shared with the relay thread.
    struct Counters {
        std::atomic<qint64> Connections{0};
        std::atomic<qint64> Chunks{0};
        std::atomic<qint64> Bytes{0};
        std::atomic<qint64> DelayNs{0};
        std::atomic<qint64> MaxDelayNs{0};
    };

private:
    const quint16 m_serverPort;
    const int m_delayMs;
    quint16 m_port = 0;
    QThread m_thread;
    Counters m_counters;
};

} // namespace testservers
