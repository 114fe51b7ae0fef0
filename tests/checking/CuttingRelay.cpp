#include "CuttingRelay.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

// One client and its connection to the server. Deletes itself when either side is gone.
class Pipe : public QObject {
public:
    Pipe(QTcpSocket *client, quint16 serverPort, const QByteArray &command, CuttingRelay::Act act,
         const QByteArray &after, std::atomic<int> &cuts, QObject *parent)
        : QObject(parent), m_client(client), m_server(new QTcpSocket(this)), m_command(command.toUpper()),
          m_act(act), m_after(after.toUpper()), m_seenAfter(after.isEmpty()), m_cuts(cuts)
    {
        client->setParent(this);
        connect(client, &QTcpSocket::readyRead, this, [this] { fromClient(); });
        connect(m_server, &QTcpSocket::readyRead, this, [this] { m_client->write(m_server->readAll()); });
        connect(client, &QTcpSocket::disconnected, this, [this] { finish(); });
        connect(m_server, &QTcpSocket::disconnected, this, [this] { finish(); });
        connect(m_server, &QTcpSocket::errorOccurred, this, [this] {
            if (m_server->state() == QAbstractSocket::UnconnectedState)
                finish();
        });
        m_server->connectToHost(QHostAddress(QHostAddress::LocalHost), serverPort);
    }

private:
    void fromClient()
    {
        m_pending += m_client->readAll();
        if (m_holding) {
            m_pending.clear();
            return;
        }
        for (qsizetype end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
            const QByteArray line = m_pending.left(end + 1);
            m_pending.remove(0, end + 1);
            const QByteArray upper = line.trimmed().toUpper();
            if (m_seenAfter && upper.startsWith(m_command)) {
                ++m_cuts;
                if (m_act == CuttingRelay::Act::Hold) {
                    m_holding = true;
                    m_pending.clear();
                    return;
                }
                m_server->abort();
                m_client->abort();
                finish();
                return;
            }
            if (!m_seenAfter && upper.startsWith(m_after))
                m_seenAfter = true;
            m_server->write(line);
        }
    }

    void finish()
    {
        if (m_done)
            return;
        m_done = true;
        m_client->disconnectFromHost();
        m_server->disconnectFromHost();
        deleteLater();
    }

    QTcpSocket *m_client;
    QTcpSocket *m_server;
    const QByteArray m_command;
    const CuttingRelay::Act m_act;
    const QByteArray m_after;
    bool m_seenAfter;
    bool m_holding = false;
    std::atomic<int> &m_cuts;
    QByteArray m_pending;
    bool m_done = false;
};

class Listener : public QTcpServer {
public:
    Listener(quint16 serverPort, QByteArray command, CuttingRelay::Act act, QByteArray after, std::atomic<int> &cuts)
        : m_serverPort(serverPort), m_command(std::move(command)), m_act(act), m_after(std::move(after)),
          m_cuts(cuts)
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *client = nextPendingConnection())
                new Pipe(client, m_serverPort, m_command, m_act, m_after, m_cuts, this);
        });
    }

private:
    const quint16 m_serverPort;
    const QByteArray m_command;
    const CuttingRelay::Act m_act;
    const QByteArray m_after;
    std::atomic<int> &m_cuts;
};

} // namespace

CuttingRelay::CuttingRelay(quint16 serverPort, QByteArray command, Act act, QByteArray after)
    : m_serverPort(serverPort), m_command(std::move(command)), m_act(act), m_after(std::move(after))
{
}

CuttingRelay::~CuttingRelay()
{
    m_thread.quit();
    m_thread.wait();
}

bool CuttingRelay::Start(QString *error)
{
    auto *listener = new Listener(m_serverPort, m_command, m_act, m_after, m_cuts);
    listener->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, listener, &QObject::deleteLater);
    m_thread.start();
    bool ok = false;
    QString text;
    QMetaObject::invokeMethod(
        listener,
        [&] {
            ok = listener->listen(QHostAddress(QHostAddress::LocalHost), 0);
            text = listener->errorString();
            m_port = listener->serverPort();
        },
        Qt::BlockingQueuedConnection);
    if (!ok && error)
        *error = text;
    return ok;
}
