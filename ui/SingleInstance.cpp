#include "SingleInstance.h"

#include "Paths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace {
constexpr int kWaitMs = 2000;
const QByteArray kRestore = "RESTORE\n";
}

TSingleInstance::TSingleInstance(QObject *parent) : QObject(parent) {}

QString TSingleInstance::ServerName()
{
    QString name = QStringLiteral("Quarvel32Free-%1").arg(::getuid());
    const QString profile = platform::profileOverride();
    if (!profile.isEmpty())
        name += QLatin1Char('-')
                + QString::fromLatin1(
                    QCryptographicHash::hash(profile.toUtf8(), QCryptographicHash::Sha1).toHex().left(12));
    return name;
}

bool TSingleInstance::RequestRestore()
{
    QLocalSocket s;
    s.connectToServer(ServerName());
    if (!s.waitForConnected(kWaitMs))
        return false;
    s.write(kRestore);
    s.waitForBytesWritten(kWaitMs);
    s.disconnectFromServer();
    return true;
}

QString TSingleInstance::LockPath()
{
    QString folder = platform::profileOverride();
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return QDir(folder).filePath(ServerName() + QStringLiteral(".lock"));
}

TSingleInstance::~TSingleInstance() = default;

bool TSingleInstance::Claim()
{
    const QString name = ServerName();
    QDir().mkpath(QFileInfo(LockPath()).absolutePath());
    auto lock = std::make_unique<QLockFile>(LockPath());
    // Held for the whole run; a lock left by a crashed instance names a dead process and is taken over.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        if (lock->error() == QLockFile::LockFailedError)
            return false;
        // The folder cannot hold a lock: the socket alone decides, as well as it can.
        QLocalSocket probe;
        probe.connectToServer(name);
        if (probe.waitForConnected(kWaitMs))
            return false;
    } else {
        m_lock = std::move(lock);
    }
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(name)) {
        // We hold the lock, so a socket of that name was left by a crashed instance.
        QLocalServer::removeServer(name);
        if (!m_server->listen(name))
            return true; // run without the restore request rather than not at all
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *s = m_server->nextPendingConnection()) {
            connect(s, &QLocalSocket::readyRead, this, [this, s] {
                if (s->readAll().contains("RESTORE") && OnRestoreRequest)
                    OnRestoreRequest();
            });
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
        }
    });
    return true;
}
