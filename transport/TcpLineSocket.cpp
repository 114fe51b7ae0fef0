#include "TcpLineSocket.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMetaObject>
#include <QMutexLocker>
#include <QNetworkProxy>
#include <QPointer>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>

// One connection: lives in the thread that opened it, together with its QTcpSocket. Socket signals wake
// the wait loop of that thread.
class TcpLineSocketCore : public QObject {
public:
    TcpLineSocketCore() : socket(new QTcpSocket(this))
    {
        const auto wake = [this] {
            if (loop)
                loop->quit();
        };
        connect(socket, &QTcpSocket::connected, this, wake);
        connect(socket, &QTcpSocket::disconnected, this, wake);
        connect(socket, &QTcpSocket::readyRead, this, wake);
        connect(socket, &QTcpSocket::errorOccurred, this, wake);
    }

    // Runs in this object's thread only.
    void abortNow()
    {
        socket->abort();
        if (loop)
            loop->quit();
    }

    QTcpSocket *socket;
    QEventLoop *loop = nullptr; // the wait in progress, if any
};

LineSocketFactory tcpLineSocketFactory()
{
    return [] { return std::make_unique<TcpLineSocket>(); };
}

TcpLineSocket::TcpLineSocket() = default;

TcpLineSocket::~TcpLineSocket()
{
    dropCore();
}

void TcpLineSocket::dropCore()
{
    TcpLineSocketCore *core = nullptr;
    {
        QMutexLocker lock(&m_coreMutex);
        std::swap(core, m_core);
    }
    if (!core)
        return;
    QThread *owner = core->thread();
    if (owner == QThread::currentThread() || !owner || owner->isFinished()) {
        core->socket->abort();
        delete core;
    } else {
        // Its thread deletes it (and so closes its socket) the next time it handles events, or when it ends.
        core->deleteLater();
    }
}

LineSocket::Status TcpLineSocket::fail(Status status, const QString &text)
{
    m_error = text;
    return status;
}

TcpLineSocketCore *TcpLineSocket::usableCore()
{
    QMutexLocker lock(&m_coreMutex);
    if (!m_core) {
        m_error = QStringLiteral("Keine Verbindung zum Server.");
        return nullptr;
    }
    if (m_core->thread() != QThread::currentThread()) {
        m_error = QStringLiteral("Interner Fehler: Die Verbindung wurde von einem anderen Thread benutzt.");
        return nullptr;
    }
    return m_core;
}

LineSocket::Status TcpLineSocket::waitUntil(const std::function<std::optional<Status>()> &check,
                                            int timeoutMs)
{
    // Most reads find their line already buffered: no event loop for those.
    if (m_abortRequested.load())
        return fail(Status::Aborted, QStringLiteral("Die Verbindung wurde abgebrochen."));
    if (const std::optional<Status> result = check())
        return *result;

    const QDeadlineTimer deadline(std::max(timeoutMs, 0));
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    // A window handler that runs during the wait must not drop this connection, but if it does, the wait
    // ends instead of touching a deleted socket.
    const QPointer<TcpLineSocketCore> core(m_core);
    core->loop = &loop;
    const auto unhook = qScopeGuard([&core] {
        if (core)
            core->loop = nullptr;
    });
    for (;;) {
        if (m_abortRequested.load())
            return fail(Status::Aborted, QStringLiteral("Die Verbindung wurde abgebrochen."));
        if (!core)
            return fail(Status::Closed, QStringLiteral("Keine Verbindung zum Server."));
        if (const std::optional<Status> result = check())
            return *result;
        if (deadline.hasExpired())
            return Status::TimedOut;
        timer.start(std::max<qint64>(deadline.remainingTime(), 1));
        loop.exec();
    }
}

LineSocket::Status TcpLineSocket::connectToHost(const QString &host, quint16 port, int timeoutMs)
{
    dropCore();
    m_abortRequested.store(false);
    m_error.clear();
    auto *core = new TcpLineSocketCore;
    {
        QMutexLocker lock(&m_coreMutex);
        m_core = core;
    }
    QTcpSocket *s = core->socket;
    s->setProxy(QNetworkProxy::NoProxy); // POP3 goes straight to the server, never through a proxy
    s->connectToHost(host, port);
    const Status status = waitUntil(
        [s]() -> std::optional<Status> {
            if (s->state() == QAbstractSocket::ConnectedState)
                return Status::Ok;
            if (s->state() == QAbstractSocket::UnconnectedState)
                return Status::Failed;
            return std::nullopt;
        },
        timeoutMs);
    if (status == Status::Ok)
        return status;
    if (status == Status::Failed && core == m_core)
        m_error = s->errorString();
    else if (status == Status::TimedOut)
        m_error = QStringLiteral("Zeitüberschreitung beim Verbindungsaufbau zu %1:%2.").arg(host).arg(port);
    const QString error = m_error;
    dropCore();
    m_error = error;
    return status;
}

bool TcpLineSocket::isConnected() const
{
    QMutexLocker lock(&m_coreMutex);
    return m_core && m_core->thread() == QThread::currentThread()
        && m_core->socket->state() == QAbstractSocket::ConnectedState && !m_abortRequested.load();
}

bool TcpLineSocket::canReadLine() const
{
    QMutexLocker lock(&m_coreMutex);
    return m_core && m_core->thread() == QThread::currentThread() && m_core->socket->canReadLine();
}

LineSocket::Status TcpLineSocket::readLine(QByteArray *line, int timeoutMs, int maxLength)
{
    line->clear();
    TcpLineSocketCore *core = usableCore();
    if (!core)
        return Status::Closed;
    QTcpSocket *s = core->socket;
    const qint64 limit = std::max(maxLength, 0);
    // Room for the longest allowed line with its CR LF, so that either a line end or an over-long line can
    // always be seen; Qt stops reading from the network while the buffer is full.
    s->setReadBufferSize(std::max<qint64>(2 * (limit + 2), 64 * 1024));
    const Status status = waitUntil(
        [s, limit]() -> std::optional<Status> {
            if (s->canReadLine())
                return Status::Ok;
            if (s->bytesAvailable() > limit + 2)
                return Status::TooLong;
            if (s->state() != QAbstractSocket::ConnectedState)
                return Status::Closed;
            return std::nullopt;
        },
        timeoutMs);
    const QString tooLong = QStringLiteral("Der Server hat eine zu lange Zeile gesendet (mehr als %1 Bytes).")
                                .arg(limit);
    switch (status) {
    case Status::Ok:
        break;
    case Status::TooLong:
        return fail(status, tooLong);
    case Status::Closed:
        return fail(status, QStringLiteral("Der Server hat die Verbindung beendet."));
    case Status::TimedOut:
        return fail(status,
                    QStringLiteral("Zeitüberschreitung: Der Server hat nicht rechtzeitig geantwortet."));
    default:
        return status;
    }
    // A whole line is buffered (and the buffer is bounded): read just it, without reserving the longest
    // possible line for every short one.
    QByteArray got = s->readLine();
    if (!got.endsWith('\n'))
        return fail(Status::TooLong, tooLong);
    got.chop(1);
    if (got.endsWith('\r'))
        got.chop(1);
    if (got.size() > limit)
        return fail(Status::TooLong, tooLong);
    *line = std::move(got);
    return Status::Ok;
}

LineSocket::Status TcpLineSocket::write(const QByteArray &data)
{
    TcpLineSocketCore *core = usableCore();
    if (!core)
        return Status::Closed;
    if (m_abortRequested.load())
        return fail(Status::Aborted, QStringLiteral("Die Verbindung wurde abgebrochen."));
    QTcpSocket *s = core->socket;
    if (s->state() != QAbstractSocket::ConnectedState)
        return fail(Status::Closed, QStringLiteral("Der Server hat die Verbindung beendet."));
    if (s->write(data) != data.size())
        return fail(Status::Failed, s->errorString());
    s->flush();
    return Status::Ok;
}

void TcpLineSocket::discardInput()
{
    if (TcpLineSocketCore *core = usableCore())
        core->socket->skip(core->socket->bytesAvailable());
}

void TcpLineSocket::close()
{
    {
        QMutexLocker lock(&m_coreMutex);
        if (m_core && m_core->thread() == QThread::currentThread())
            m_core->socket->disconnectFromHost();
    }
    dropCore();
}

void TcpLineSocket::abort()
{
    m_abortRequested.store(true);
    QMutexLocker lock(&m_coreMutex);
    TcpLineSocketCore *core = m_core;
    if (!core)
        return;
    if (core->thread() == QThread::currentThread()) {
        core->abortNow();
        return;
    }
    // The socket may be touched only in its own thread: ask that thread. Should the core be deleted before
    // it gets there, Qt drops the request with it.
    QMetaObject::invokeMethod(core, [core] { core->abortNow(); }, Qt::QueuedConnection);
}
