#pragma once
// A line-oriented client connection, as text protocols (POP3, SMTP, IMAP) see it. Protocol code talks only to
// this interface, so tests drive it with a fake that plays a transcript, and the real TCP transport can be
// swapped without touching the protocol.
#include "ConnectionFailure.h"
#include "ServerCertificate.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class LineSocket {
public:
    // Outcome of a connect, a read or a write.
    enum class Status {
        Ok,
        TimedOut,  // nothing (or no complete line) arrived within the time-out
        Closed,    // the peer closed the connection, or there is none
        TooLong,   // the next line is longer than the limit; the stream cannot be trusted any more
        Aborted,   // abort() was requested
        Failed,    // any other network error (refused, unreachable, host not found, ...)
    };

    virtual ~LineSocket() = default;

    // Opens a connection; any previous one is dropped first. Waits up to timeoutMs. Clears an abort request
    // that was made before this call.
    virtual Status connectToHost(const QString &host, quint16 port, int timeoutMs) = 0;
    virtual bool isConnected() const = 0;
    // True when a complete line is waiting in the input (never waits).
    virtual bool canReadLine() const = 0;
    // Reads the next line into *line without its line end (CR LF, or a bare LF). Waits up to timeoutMs for
    // it. A line of more than maxLength octets fails with TooLong, and the socket never buffers much more
    // than that while waiting. Complete lines that arrived before the peer closed are still returned.
    virtual Status readLine(QByteArray *line, int timeoutMs, int maxLength) = 0;
    // Reads what has arrived of the next octets, at most maxCount of them and line ends included as they
    // come, into *data; waits up to timeoutMs for the first one. For data counted in octets rather than
    // lines (an IMAP literal); lines and counted data may follow each other in any order.
    virtual Status readSome(QByteArray *data, qint64 maxCount, int timeoutMs) = 0;
    // Queues data for sending and starts sending it without waiting.
    virtual Status write(const QByteArray &data) = 0;
    // Throws away whatever input has arrived and not been read.
    virtual void discardInput() = 0;
    // Closes the connection (data already queued is still sent where possible).
    virtual void close() = 0;
    // Drops the connection at once. The one call that is safe from any thread: it makes a connect or read
    // that is waiting in the socket's own thread fail with Aborted, and so does the next one that starts
    // before a new connectToHost. The caller keeps the socket alive until the call returns.
    virtual void abort() = 0;
    // Human-readable text of the last failure (the network layer's own words for network errors).
    virtual QString errorString() const = 0;
    // What the last failure was, as far as it can be told (a refused connection, an unknown host, a
    // time-out, a TLS handshake that met plain text); Other when it cannot.
    virtual TFailureKind failureKind() const { return TFailureKind::Other; }

    // --- encryption (TLS 1.2 or newer; the chain is checked against the system's store, and the name the
    // connection was opened with against the certificate) ---
    // The one certificate to accept although its chain does not verify, by its SHA-256 fingerprint (see
    // ServerCertificate.h); empty: none. Holds for the connects and upgrades that follow.
    virtual void setTrustedCertificate(const QString &sha256Fingerprint) = 0;
    // As connectToHost, with a TLS handshake from the first byte. A refused certificate fails with Failed,
    // errorString() giving the reasons and the fingerprint, and certificateProblem() the details.
    virtual Status connectToHostEncrypted(const QString &host, quint16 port, int timeoutMs) = 0;
    // Turns the open plain connection into a TLS one (after the protocol's STLS or STARTTLS was accepted),
    // checked as connectToHostEncrypted does. Fails when unread input is waiting: the server cannot have
    // sent it after its go-ahead, so it may have been slipped in by someone on the way. A failure drops
    // the connection.
    virtual Status startTls(int timeoutMs) = 0;
    // True while the connection is encrypted.
    virtual bool isEncrypted() const = 0;
    // Why the last handshake refused the server's certificate; null when it did not. Kept until the next
    // connect, so the caller can show it after the connection is gone.
    virtual CertificateProblem certificateProblem() const = 0;
};

using LineSocketFactory = std::function<std::unique_ptr<LineSocket>()>;

// What a protocol engine reports for a failed read, write or connect: its own error kind of that name
// (every engine's Error has TimedOut, LineTooLong, Aborted and ConnectionLost), and the socket's text.
template <class Error>
Error socketErrorKind(LineSocket::Status status)
{
    switch (status) {
    case LineSocket::Status::TimedOut:
        return Error::TimedOut;
    case LineSocket::Status::TooLong:
        return Error::LineTooLong;
    case LineSocket::Status::Aborted:
        return Error::Aborted;
    default:
        return Error::ConnectionLost;
    }
}
inline QString socketErrorText(const LineSocket &socket)
{
    const QString text = socket.errorString();
    return text.isEmpty() ? QStringLiteral("Keine Verbindung zum Server.") : text;
}

// A reply that kept coming a line at a time, each within the read time-out, but did not end within the
// time a whole reply may take.
inline QString replyTooSlowText()
{
    return QStringLiteral(
        "Zeitüberschreitung: Der Server hat seine Antwort nicht in der vorgesehenen Zeit vollständig gesendet.");
}

// Why a connection with a stored security choice that this version does not know (a later version's
// value, a typing error) is not even attempted: it cannot tell whether the password would go in clear.
inline QString unknownSecurityText(const QString &host)
{
    return QStringLiteral("Die für den Server %1 gespeicherte Verbindungssicherheit ist unbekannt (ein Wert einer "
                          "neueren Version oder ein Tippfehler). Damit das Passwort nicht unverschlüsselt gesendet "
                          "wird, wird keine Verbindung aufgebaut. Bitte wählen Sie die Sicherheit in den "
                          "Einstellungen des Postfachs neu.")
        .arg(host);
}

// The factory of the real transport: a TcpLineSocket (TcpLineSocket.h).
LineSocketFactory tcpLineSocketFactory();
