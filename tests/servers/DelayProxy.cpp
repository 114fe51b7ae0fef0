#include "DelayProxy.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <time.h>

#include <deque>
#include <utility>

namespace testservers {

namespace {

qint64 MonotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// One direction of a connection: what `from` sent, held until it is due, then written to `to`.
struct Leg {
    QTcpSocket *from = nullptr;
    QTcpSocket *to = nullptr;
    std::deque<std::pair<qint64, QByteArray>> held; // due time (MonotonicNs) and data, in arrival order
    QTimer timer;
    bool fromClosed = false;
    bool done = false; // `to` has been told to close
};

// A client's connection and the one it got to the server. Deletes itself when both sides are closed.
class Pipe : public QObject {
public:
    Pipe(QTcpSocket *client, quint16 serverPort, qint64 delayNs, DelayProxy::Counters &counters, QObject *parent)
        : QObject(parent), m_delayNs(delayNs), m_counters(counters)
    {
        client->setParent(this);
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto *server = new QTcpSocket(this);
        m_up.from = client;
        m_up.to = server;
        m_down.from = server;
        m_down.to = client;
        for (Leg *leg : {&m_up, &m_down}) {
            leg->timer.setSingleShot(true);
            leg->timer.setTimerType(Qt::PreciseTimer);
            connect(&leg->timer, &QTimer::timeout, this, [this, leg] { pass(*leg); });
            connect(leg->from, &QIODevice::readyRead, this, [this, leg] { take(*leg); });
            connect(leg->from, &QAbstractSocket::disconnected, this, [this, leg] { closed(*leg); });
        }
        // Without it, Nagle's rule would hold a small reply back for the peer's delayed ACK.
        connect(server, &QAbstractSocket::connected, this,
                [server] { server->setSocketOption(QAbstractSocket::LowDelayOption, 1); });
        // A server that cannot be reached closes the client's side (disconnected is not sent then).
        connect(server, &QAbstractSocket::errorOccurred, this, [this, server] {
            if (server->state() == QAbstractSocket::UnconnectedState)
                closed(m_down);
        });
        server->connectToHost(QHostAddress(QHostAddress::LocalHost), serverPort);
    }

private:
    void take(Leg &leg)
    {
        const QByteArray data = leg.from->readAll();
        if (data.isEmpty())
            return;
        leg.held.emplace_back(MonotonicNs() + m_delayNs, data);
        if (!leg.timer.isActive())
            arm(leg);
    }

    void arm(Leg &leg)
    {
        if (leg.held.empty())
            return;
        const qint64 waitNs = leg.held.front().first - MonotonicNs();
        leg.timer.start(waitNs <= 0 ? 0 : int((waitNs + 999999) / 1000000));
    }

    void pass(Leg &leg)
    {
        const qint64 now = MonotonicNs();
        while (!leg.held.empty() && leg.held.front().first <= now) {
            const auto &[due, data] = leg.held.front();
            const qint64 delay = now - (due - m_delayNs);
            m_counters.Chunks += 1;
            m_counters.Bytes += data.size();
            m_counters.DelayNs += delay;
            qint64 max = m_counters.MaxDelayNs.load();
            while (delay > max && !m_counters.MaxDelayNs.compare_exchange_weak(max, delay)) {
            }
            if (leg.to->state() != QAbstractSocket::UnconnectedState)
                leg.to->write(data);
            leg.held.pop_front();
        }
        if (leg.held.empty() && leg.fromClosed)
            finish(leg);
        else
            arm(leg);
    }

    void closed(Leg &leg)
    {
        if (leg.fromClosed)
            return;
        take(leg); // what arrived with the close
        leg.fromClosed = true;
        if (leg.held.empty())
            finish(leg);
    }

    void finish(Leg &leg)
    {
        if (!leg.done) {
            leg.done = true;
            leg.to->disconnectFromHost(); // after what is still to be written
        }
        if (m_up.done && m_down.done)
            deleteLater();
    }

    const qint64 m_delayNs;
    DelayProxy::Counters &m_counters;
    Leg m_up;   // client to server
    Leg m_down; // server to client
};

class Relay : public QObject {
public:
    Relay(quint16 serverPort, qint64 delayNs, DelayProxy::Counters &counters)
        : m_serverPort(serverPort), m_delayNs(delayNs), m_counters(counters)
    {
    }

    // Runs in the relay's thread.
    bool Listen(quint16 *port, QString *error)
    {
        auto *listener = new QTcpServer(this);
        connect(listener, &QTcpServer::newConnection, this, [this, listener] {
            while (QTcpSocket *client = listener->nextPendingConnection()) {
                m_counters.Connections += 1;
                new Pipe(client, m_serverPort, m_delayNs, m_counters, this);
            }
        });
        if (!listener->listen(QHostAddress(QHostAddress::LocalHost), 0)) {
            *error = listener->errorString();
            return false;
        }
        *port = listener->serverPort();
        return true;
    }

private:
    const quint16 m_serverPort;
    const qint64 m_delayNs;
    DelayProxy::Counters &m_counters;
};

} // namespace

DelayProxy::DelayProxy(quint16 serverPort, int delayMs) : m_serverPort(serverPort), m_delayMs(delayMs) {}

DelayProxy::~DelayProxy()
{
    m_thread.quit();
    m_thread.wait();
}

bool DelayProxy::Start(QString *error)
{
    auto *relay = new Relay(m_serverPort, qint64(m_delayMs) * 1000000, m_counters);
    relay->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, relay, &QObject::deleteLater);
    m_thread.start();
    bool ok = false;
    QString text;
    QMetaObject::invokeMethod(
        relay, [&] { ok = relay->Listen(&m_port, &text); }, Qt::BlockingQueuedConnection);
    if (!ok && error)
        *error = text;
    return ok;
}

DelayProxy::Figures DelayProxy::Measured() const
{
    Figures f;
    f.Connections = m_counters.Connections.load();
    f.Chunks = m_counters.Chunks.load();
    f.Bytes = m_counters.Bytes.load();
    f.MeanDelayMs = f.Chunks ? m_counters.DelayNs.load() / 1e6 / double(f.Chunks) : 0;
    f.MaxDelayMs = m_counters.MaxDelayNs.load() / 1e6;
    return f;
}

} // namespace testservers
