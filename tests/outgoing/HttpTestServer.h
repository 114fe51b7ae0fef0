#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the tests: it records every request head and answers from a
// script (a reply, a dropped connection, or silence), optionally over TLS with a given certificate.
// It also serves as an HTTP proxy, since a proxy sees plain requests with absolute URLs.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>

class QSslSocket;

class HttpTestServer : public QTcpServer {
    Q_OBJECT
public:
    struct Request {
        QByteArray requestLine;
        QList<QPair<QByteArray, QByteArray>> headers;
        bool encrypted = false;
        QByteArray header(const QByteArray &name) const;
        bool hasHeader(const QByteArray &name) const;
    };
    enum Kind { Answer, Drop, Silent };
    struct Response {
        Kind kind = Answer;
        int status = 200;
        QByteArray reason = "OK";
        QByteArray body;
        QList<QByteArray> extraHeaders;
    };
    static Response reply(int status, const QByteArray &reason, const QByteArray &body = QByteArray(),
                          const QList<QByteArray> &headers = {})
    {
        return Response{Answer, status, reason, body, headers};
    }
    static Response drop() { return Response{Drop, 0, {}, {}, {}}; }
    static Response silent() { return Response{Silent, 0, {}, {}, {}}; }

    // Listens on 127.0.0.1 at a free port.
    bool listenLoopback();
    // From now on connections are TLS with this certificate and key (PEM files).
    bool useTls(const QString &certFile, const QString &keyFile);

    QList<Response> script; // one per request, in order; then `fallback`
    Response fallback;
    QList<Request> requests;
    int connections = 0;

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void readFrom(QSslSocket *socket);

    bool m_tls = false;
    QSslCertificate m_cert;
    QSslKey m_key;
    QHash<QSslSocket *, QByteArray> m_buffers;
};

// A free TCP port on 127.0.0.1 with nothing listening (for "connection refused").
quint16 closedLoopbackPort();
