#include "SingleInstance.h"

#include "Paths.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace {
constexpr int kWaitMs = 2000;
const QByteArray kRestore = "RESTORE\n";
}

TSingleInstance::TSingleInstance(QObject *parent) : QObject(parent) {}

TSingleInstance::~TSingleInstance() = default;

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

bool TSingleInstance::Claim()
{
    const QString name = ServerName();
    {
        QLocalSocket probe;
        probe.connectToServer(name);
        if (probe.waitForConnected(kWaitMs))
            return false;
    }
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(name)) {
        // A socket left by a crashed instance: nobody answered above, so it is stale.
        QLocalServer::removeServer(name);
        if (!m_server->listen(name))
            return true; // run without the guard rather than not at all
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
