#include "TcpLineSocket.h"

#include "WindowThread.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMetaObject>
#include <QMutexLocker>
#include <QNetworkProxy>
#include <QPointer>
#include <QScopeGuard>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>

// One connection: lives in the thread that opened it, together with its socket. Socket signals wake the
// wait loop of that thread.
class TcpLineSocketCore : public QObject {
public:
    TcpLineSocketCore() : socket(new QSslSocket(this))
    {
        const auto wake = [this] {
            if (loop)
                loop->quit();
        };
        connect(socket, &QSslSocket::connected, this, wake);
        connect(socket, &QSslSocket::disconnected, this, wake);
        connect(socket, &QSslSocket::readyRead, this, wake);
        connect(socket, &QSslSocket::errorOccurred, this, wake);
        connect(socket, &QSslSocket::encrypted, this, wake);
        connect(socket, &QSslSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
            const QSslCertificate certificate = socket->peerCertificate();
            if (trustCoversErrors(trusted, certificate, errors)) {
                socket->ignoreSslErrors();
                return;
            }
            // Not ignored: the socket ends the handshake and the connection.
            refusedCertificate = certificate;
            refusedErrors = errors;
        });
    }

    // Sets up the TLS side for a handshake with host (the name the certificate must carry).
    void prepareTls(const QString &host, const QString &trustedFingerprint)
    {
        QSslConfiguration configuration = socket->sslConfiguration();
        configuration.setProtocol(QSsl::TlsV1_2OrLater);
        configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
        socket->setSslConfiguration(configuration);
        socket->setPeerVerifyName(host);
        trusted = trustedFingerprint;
        refusedCertificate.clear();
        refusedErrors.clear();
    }

    // Runs in this object's thread only.
    void abortNow()
    {
        socket->abort();
        if (loop)
            loop->quit();
    }

    QSslSocket *socket;
    QEventLoop *loop = nullptr; // the wait in progress, if any
    QString trusted;
    QSslCertificate refusedCertificate;
    QList<QSslError> refusedErrors;
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

LineSocket::Status TcpLineSocket::fail(Status status, const QString &text, TFailureKind kind)
{
    m_error = text;
    m_failure = status == Status::TimedOut ? TFailureKind::TimedOut : kind;
    return status;
}

TcpLineSocketCore *TcpLineSocket::usableCore()
{
    QMutexLocker lock(&m_coreMutex);
    if (!m_core) {
        fail(Status::Closed, QStringLiteral("Keine Verbindung zum Server."));
        return nullptr;
    }
    if (m_core->thread() != QThread::currentThread()) {
        fail(Status::Failed, QStringLiteral("Interner Fehler: Die Verbindung wurde von einem anderen Thread benutzt."));
        return nullptr;
    }
    return m_core;
}

TcpLineSocketCore *TcpLineSocket::openCore(Status *failure)
{
    TcpLineSocketCore *core = usableCore();
    if (!core)
        *failure = Status::Closed;
    else if (m_abortRequested.load())
        *failure = fail(Status::Aborted, QStringLiteral("Die Verbindung wurde abgebrochen."));
    else if (core->socket->state() != QAbstractSocket::ConnectedState)
        *failure = fail(Status::Closed, QStringLiteral("Der Server hat die Verbindung beendet."));
    else
        return core;
    return nullptr;
}

LineSocket::Status TcpLineSocket::waitUntil(const std::function<std::optional<Status>()> &check,
                                            int timeoutMs)
{
    // Most reads find their line already buffered: no event loop for those.
    if (m_abortRequested.load())
        return fail(Status::Aborted, QStringLiteral("Die Verbindung wurde abgebrochen."));
    if (const std::optional<Status> result = check())
        return *result;
    // The loop below runs on the socket's own thread; on the window's it would let everything in.
    if (platform::OnWindowThread())
        return fail(Status::Failed, platform::WindowThreadWaitText());

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
    return open(host, port, timeoutMs, false);
}

LineSocket::Status TcpLineSocket::connectToHostEncrypted(const QString &host, quint16 port, int timeoutMs)
{
    return open(host, port, timeoutMs, true);
}

LineSocket::Status TcpLineSocket::open(const QString &host, quint16 port, int timeoutMs, bool encrypted)
{
    dropCore();
    m_abortRequested.store(false);
    m_error.clear();
    m_failure = TFailureKind::Other;
    m_problem = CertificateProblem();
    m_host = host;
    m_port = port;
    auto *core = new TcpLineSocketCore;
    {
        QMutexLocker lock(&m_coreMutex);
        m_core = core;
    }
    QSslSocket *s = core->socket;
    s->setProxy(QNetworkProxy::NoProxy); // mail goes straight to the server, never through a proxy
    if (encrypted) {
        core->prepareTls(host, m_trusted);
        s->connectToHostEncrypted(host, port);
        return finishHandshake(core, timeoutMs);
    }
    s->connectToHost(host, port);
    const Status status = waitConnected(s, false, timeoutMs);
    if (status == Status::Ok)
        return status;
    if (status == Status::Failed && core == m_core)
        fail(status, s->errorString(), FailureKindOfSocketError(s->error()));
    else if (status == Status::TimedOut)
        fail(status, QStringLiteral("Zeitüberschreitung beim Verbindungsaufbau zu %1:%2.").arg(host).arg(port));
    return dropKeepingError(status);
}

LineSocket::Status TcpLineSocket::waitConnected(QSslSocket *s, bool encrypted, int timeoutMs)
{
    return waitUntil(
        [s, encrypted]() -> std::optional<Status> {
            if (encrypted ? s->isEncrypted() : s->state() == QAbstractSocket::ConnectedState)
                return Status::Ok;
            if (s->state() == QAbstractSocket::UnconnectedState)
                return Status::Failed;
            return std::nullopt;
        },
        timeoutMs);
}

LineSocket::Status TcpLineSocket::dropKeepingError(Status status)
{
    const QString error = m_error;
    dropCore();
    m_error = error;
    return status;
}

LineSocket::Status TcpLineSocket::finishHandshake(TcpLineSocketCore *core, int timeoutMs)
{
    QSslSocket *s = core->socket;
    const Status status = waitConnected(s, true, timeoutMs);
    if (status == Status::Ok)
        return status;
    if (status == Status::Failed && core == m_core) {
        if (!core->refusedErrors.isEmpty()) {
            m_problem = CertificateProblem{m_host, m_port, core->refusedCertificate, core->refusedErrors};
            fail(status, m_problem.Text());
        } else if (s->error() == QAbstractSocket::SslHandshakeFailedError
                   || s->error() == QAbstractSocket::SslInternalError
                   || s->error() == QAbstractSocket::SslInvalidUserDataError) {
            fail(status,
                 QStringLiteral("Die verschlüsselte Verbindung zu %1 kam nicht zustande: %2").arg(m_host, s->errorString()),
                 HandshakeMetPlainText(s->errorString()) ? TFailureKind::NoTlsOnPort : TFailureKind::Other);
        } else {
            fail(status, s->errorString(), FailureKindOfSocketError(s->error()));
        }
    } else if (status == Status::TimedOut) {
        fail(status, QStringLiteral("Zeitüberschreitung beim Aufbau der verschlüsselten Verbindung zu %1:%2.")
                         .arg(m_host)
                         .arg(m_port));
    }
    return dropKeepingError(status);
}

LineSocket::Status TcpLineSocket::startTls(int timeoutMs)
{
    Status failure = Status::Closed;
    TcpLineSocketCore *core = openCore(&failure);
    if (!core)
        return failure;
    QSslSocket *s = core->socket;
    if (s->isEncrypted())
        return Status::Ok;
    m_problem = CertificateProblem();
    if (s->bytesAvailable() > 0) {
        dropCore();
        return fail(Status::Failed, QStringLiteral("Der Server hat vor Beginn der Verschlüsselung weitere Daten "
                                                   "gesendet. Die Verbindung wurde zur Sicherheit beendet."));
    }
    core->prepareTls(m_host, m_trusted);
    s->startClientEncryption();
    return finishHandshake(core, timeoutMs);
}

bool TcpLineSocket::isEncrypted() const
{
    QMutexLocker lock(&m_coreMutex);
    return m_core && m_core->thread() == QThread::currentThread() && m_core->socket->isEncrypted()
        && !m_abortRequested.load();
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
    QSslSocket *s = core->socket;
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

LineSocket::Status TcpLineSocket::readSome(QByteArray *data, qint64 maxCount, int timeoutMs)
{
    data->clear();
    TcpLineSocketCore *core = usableCore();
    if (!core)
        return Status::Closed;
    QSslSocket *s = core->socket;
    const Status status = waitUntil(
        [s]() -> std::optional<Status> {
            if (s->bytesAvailable() > 0)
                return Status::Ok;
            if (s->state() != QAbstractSocket::ConnectedState)
                return Status::Closed;
            return std::nullopt;
        },
        timeoutMs);
    switch (status) {
    case Status::Ok:
        break;
    case Status::Closed:
        return fail(status, QStringLiteral("Der Server hat die Verbindung beendet."));
    case Status::TimedOut:
        return fail(status, QStringLiteral("Zeitüberschreitung: Der Server hat nicht rechtzeitig geantwortet."));
    default:
        return status;
    }
    *data = s->read(std::max<qint64>(std::min(maxCount, s->bytesAvailable()), 0));
    return Status::Ok;
}

LineSocket::Status TcpLineSocket::write(const QByteArray &data)
{
    Status failure = Status::Closed;
    TcpLineSocketCore *core = openCore(&failure);
    if (!core)
        return failure;
    QSslSocket *s = core->socket;
    if (s->write(data) != data.size())
        return fail(Status::Failed, s->errorString());
    s->flush();
    return Status::Ok;
}

void TcpLineSocket::discardInput()
{
    TcpLineSocketCore *core = usableCore();
    if (core && core->socket->isOpen())
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
