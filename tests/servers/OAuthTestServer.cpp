#include "OAuthTestServer.h"

#include "ServerProcess.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QTcpSocket>

namespace {

const char *const kPython = "/usr/bin/python3";

} // namespace

OAuthTestServer::OAuthTestServer(const Options &options) : m_options(options)
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    endWithTestProcess(m_process);
}

OAuthTestServer::~OAuthTestServer()
{
    stop();
}

bool OAuthTestServer::start(QString *error)
{
    QStringList args{QStringLiteral(QUARVEL_OAUTH_SERVER), QStringLiteral("--client-id"), m_options.clientId,
                     QStringLiteral("--user"), m_options.user, QStringLiteral("--lifetime"),
                     QString::number(m_options.lifetime)};
    if (!m_options.clientSecret.isEmpty())
        args << QStringLiteral("--client-secret") << m_options.clientSecret;
    if (m_options.rotate)
        args << QStringLiteral("--rotate");
    QString why;
    m_port = startAndReadPort(m_process, QString::fromLatin1(kPython), args, &why);
    if (m_port != 0)
        return true;
    why = QStringLiteral("the authorization server did not start: ") + why;
    stop();
    if (error)
        *error = why;
    return false;
}

void OAuthTestServer::stop()
{
    stopServerProcess(m_process);
}

QUrl OAuthTestServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path));
}

int OAuthTestServer::request(const QByteArray &method, const QString &path, const QByteArray &body, QByteArray *answer)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_port);
    if (!socket.waitForConnected(10000))
        return 0;
    socket.write(method + ' ' + path.toUtf8() + " HTTP/1.0\r\nHost: 127.0.0.1\r\n"
                 "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: "
                 + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray all;
    // HTTP/1.0: the server closes when it has answered.
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(10000))
        all += socket.readAll();
    all += socket.readAll();
    const qsizetype split = all.indexOf("\r\n\r\n");
    if (answer)
        *answer = split < 0 ? QByteArray() : all.mid(split + 4);
    const QList<QByteArray> status = all.left(all.indexOf("\r\n")).split(' ');
    return status.size() > 1 ? status.at(1).toInt() : 0;
}

namespace {

QByteArray userForm(const QString &user)
{
    return user.isEmpty() ? QByteArray() : "user=" + QUrl::toPercentEncoding(user);
}

} // namespace

bool OAuthTestServer::refuseRefresh(const QString &user)
{
    return request("POST", QStringLiteral("/control/refuse-refresh"), userForm(user), nullptr) == 200;
}

bool OAuthTestServer::expireAccessTokens(const QString &user)
{
    return request("POST", QStringLiteral("/control/expire"), userForm(user), nullptr) == 200;
}

QJsonObject OAuthTestServer::stats()
{
    QByteArray body;
    if (request("GET", QStringLiteral("/control/stats"), {}, &body) != 200)
        return {};
    return QJsonDocument::fromJson(body).object();
}
