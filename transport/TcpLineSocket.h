#pragma once
// The real LineSocket: TCP through QSslSocket, plain or encrypted (TLS from the first byte, or an upgrade
// of an open connection).
//
// Waiting runs a local event loop with a time-out timer instead of a blocking call, so a caller on the main
// thread keeps its windows alive (repaint, a cancel button), and the same code works inside a worker
// QThread. The socket of a connection belongs to the thread that opened it; every call except abort()
// must come from that thread (a call from another one fails). A later connectToHost() from another thread
// is fine: each connection gets a socket of its own.
#include "LineSocket.h"

#include <QMutex>

#include <atomic>
#include <functional>
#include <optional>

class QSslSocket;
class TcpLineSocketCore;

class TcpLineSocket final : public LineSocket {
public:
    TcpLineSocket();
    ~TcpLineSocket() override;
    TcpLineSocket(const TcpLineSocket &) = delete;
    TcpLineSocket &operator=(const TcpLineSocket &) = delete;

    Status connectToHost(const QString &host, quint16 port, int timeoutMs) override;
    bool isConnected() const override;
    bool canReadLine() const override;
    Status readLine(QByteArray *line, int timeoutMs, int maxLength) override;
    Status readSome(QByteArray *data, qint64 maxCount, int timeoutMs) override;
    Status write(const QByteArray &data) override;
    void discardInput() override;
    void close() override;
    void abort() override;
    QString errorString() const override { return m_error; }
    TFailureKind failureKind() const override { return m_failure; }

    void setTrustedCertificate(const QString &sha256Fingerprint) override { m_trusted = sha256Fingerprint; }
    Status connectToHostEncrypted(const QString &host, quint16 port, int timeoutMs) override;
    Status startTls(int timeoutMs) override;
    bool isEncrypted() const override;
    CertificateProblem certificateProblem() const override { return m_problem; }

private:
    // Opens the TCP connection, encrypted from the first byte when asked.
    Status open(const QString &host, quint16 port, int timeoutMs, bool encrypted);
    // Waits for the handshake under way on core; on failure sets the error and drops the connection.
    Status finishHandshake(TcpLineSocketCore *core, int timeoutMs);
    // Waits until the connection is up (and encrypted, when asked) or has failed.
    Status waitConnected(QSslSocket *socket, bool encrypted, int timeoutMs);
    // Drops the connection; the error text of the failure stays.
    Status dropKeepingError(Status status);
    // Runs the local event loop until check() gives a result, the time-out passes or an abort is requested.
    Status waitUntil(const std::function<std::optional<Status>()> &check, int timeoutMs);
    // The current connection's core when the calling thread may use it; otherwise sets the error text.
    TcpLineSocketCore *usableCore();
    // The same when the connection is also open and not aborted; otherwise null, with *failure (and the
    // error text) telling why.
    TcpLineSocketCore *openCore(Status *failure);
    void dropCore();
    // Sets the error text and its kind (a time-out's by the status).
    Status fail(Status status, const QString &text, TFailureKind kind = TFailureKind::Other);

    mutable QMutex m_coreMutex; // guards m_core against abort() from another thread
    TcpLineSocketCore *m_core = nullptr;
    std::atomic<bool> m_abortRequested{false};
    QString m_error;
    TFailureKind m_failure = TFailureKind::Other;
    QString m_host; // the name the connection was opened with: the certificate must name it
    quint16 m_port = 0;
    QString m_trusted;
    CertificateProblem m_problem;
};
