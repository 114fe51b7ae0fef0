#include "HttpTestServer.h"

#include <QFile>
#include <QSslConfiguration>
#include <QSslSocket>

QByteArray HttpTestServer::Request::header(const QByteArray &name) const
{
    for (const auto &h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    return QByteArray();
}

bool HttpTestServer::Request::hasHeader(const QByteArray &name) const
{
    for (const auto &h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool HttpTestServer::listenLoopback()
{
    return listen(QHostAddress(QHostAddress::LocalHost), 0);
}

bool HttpTestServer::useTls(const QString &certFile, const QString &keyFile)
{
    QFile c(certFile), k(keyFile);
    if (!c.open(QIODevice::ReadOnly) || !k.open(QIODevice::ReadOnly))
        return false;
    m_cert = QSslCertificate(&c, QSsl::Pem);
    m_key = QSslKey(&k, QSsl::Rsa, QSsl::Pem);
    m_tls = !m_cert.isNull() && !m_key.isNull();
    return m_tls;
}

void HttpTestServer::incomingConnection(qintptr socketDescriptor)
{
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    ++connections;
    connect(socket, &QSslSocket::readyRead, this, [this, socket] { readFrom(socket); });
    connect(socket, &QSslSocket::disconnected, this, [this, socket] {
        m_buffers.remove(socket);
        socket->deleteLater();
    });
    if (m_tls) {
        socket->setLocalCertificate(m_cert);
        socket->setPrivateKey(m_key);
        socket->setPeerVerifyMode(QSslSocket::VerifyNone);
        socket->startServerEncryption();
    }
}

void HttpTestServer::readFrom(QSslSocket *socket)
{
    QByteArray &buf = m_buffers[socket];
    buf += socket->readAll();
    for (;;) {
        const qsizetype end = buf.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> lines = buf.left(end).split('\n');
        buf.remove(0, end + 4);
        Request r;
        r.encrypted = socket->isEncrypted();
        r.requestLine = lines.value(0).trimmed();
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                r.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
        requests.append(r);

        const Response resp = script.isEmpty() ? fallback : script.takeFirst();
        if (resp.kind == Silent)
            continue;
        if (resp.kind == Drop) {
            socket->abort();
            return;
        }
        QByteArray out = "HTTP/1.1 " + QByteArray::number(resp.status) + ' ' + resp.reason + "\r\n";
        out += "Content-Type: text/plain; charset=windows-1252\r\n";
        out += "Content-Length: " + QByteArray::number(resp.body.size()) + "\r\n";
        for (const QByteArray &h : resp.extraHeaders)
            out += h + "\r\n";
        out += "\r\n" + resp.body;
        socket->write(out);
    }
}

quint16 closedLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress(QHostAddress::LocalHost), 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}
