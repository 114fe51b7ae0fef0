#pragma once
// An IMAP4rev1 client (RFC 3501) over a LineSocket: plain, upgraded with STARTTLS, or TLS from the first
// byte. With either kind of TLS the login goes out only over the encrypted connection: a server that does
// not offer STARTTLS, a handshake that fails, or a greeting that claims the session is logged in already
// (PREAUTH, where STARTTLS can no longer come) ends the session before anything is sent.
//
// One object holds one session at a time. Every operation blocks until the server has completed the
// command or a time-out passes, as Pop3Client does. A command's untagged responses, in whatever order the
// server sends them, go to the handler the caller gives; the client also follows the selected mailbox's
// EXISTS, UIDVALIDITY and UIDNEXT itself. Literals are read as data arrives, in both directions: a
// response's literals however its octets are cut into reads, a command's literal after the server's go
// ahead (or at once where LITERAL+ is offered).
//
// On failure lastError() tells the kind and lastErrorText() the text to show: the server's own words when
// it refused (NO, BAD), otherwise the network layer's text or ours. When the input can no longer be
// trusted to be in step with the commands (time-out, lost or aborted connection, an over-long line, a
// literal larger than allowed, a response that cannot be read, BYE), the client drops the connection. NO
// and BAD leave the session open.
//
// Nothing a server sends can make the client wait or collect without end: every line has the read
// time-out and the length limit, every response the response deadline, every literal the limit the
// command sets (setLiteralLimit), and setDeadline() caps all waits at once.
//
// Thread use: all calls come from one thread at a time, except abort(), which any thread may call.
// Set the environment variable QUARVEL_IMAP_TRACE to print the dialogue to stderr (password masked,
// literals shown by their length).
#include "ImapParser.h"
#include "LineSocket.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QDeadlineTimer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class ImapClient {
public:
    // None: plain TCP. StartTls: plain until the capabilities are read, then STARTTLS. Tls: TLS from the
    // first byte (the imaps port). Unknown: a stored choice this version does not know; connect() refuses
    // it before anything goes out, as it cannot tell whether the password may travel in clear.
    enum class Security { None, StartTls, Tls, Unknown };
    // Password: AUTHENTICATE PLAIN or LOGIN. Bearer: password() holds an access token of the account's
    // provider, sent with AUTHENTICATE OAUTHBEARER where the server offers it, else XOAUTH2.
    enum class AuthKind { Password, Bearer };

    enum class Error {
        None,
        ServerError,     // the server answered NO; lastErrorText() is its text
        BadCommand,      // the server answered BAD
        ProtocolError,   // a response that cannot be read, or one that does not belong where it came
        LineTooLong,     // a response line longer than maxLineLength()
        ReplyTooLarge,   // a literal beyond the command's limit
        TimedOut,        // no (complete) response within the time-out, the response deadline or the deadline
        ConnectionLost,  // could not connect, or the connection was closed or failed
        ServerClosing,   // the server said BYE
        Aborted,         // abort() was called
        NotConnected,    // a command without a session
        InvalidArgument, // a line break in the user name or password, no way to log in, or an unknown
                         // security
        Busy,            // another operation of this client is still waiting
        TlsUnavailable,  // STARTTLS asked for, but the server does not offer it or refused it
        TlsFailed,       // the TLS handshake failed or the server's certificate was refused
    };

    static constexpr int kDefaultTimeoutMs = 60000;
    static constexpr int kDefaultReplyDeadlineMs = 75000;
    // A listing of many UIDs fits on one line of this length (SEARCH without ESEARCH).
    static constexpr int kDefaultMaxLineLength = 1024 * 1024;
    // The largest literal a command's responses may hold unless it says otherwise.
    static constexpr qint64 kDefaultLiteralLimit = 64 * 1024;

    // What the client knows of the selected mailbox.
    struct Mailbox {
        QString Name;
        bool ReadOnly = true;
        qint64 Exists = 0;
        uint32_t UidValidity = 0; // 0: the server gave none
        uint32_t UidNext = 0;
    };

    using Untagged = std::function<void(const ImapResponse &response)>;

    // The socket comes from factory (the real TCP transport when it is empty) and is kept for the client's
    // whole life, so abort() always reaches the connection in use.
    explicit ImapClient(const LineSocketFactory &factory = {});
    // Drops a session without LOGOUT.
    ~ImapClient();
    ImapClient(const ImapClient &) = delete;
    ImapClient &operator=(const ImapClient &) = delete;

    // Account and limits; they take effect at the next connect() (time-outs and limits at once).
    void setHost(const QString &host) { m_host = host; }
    QString host() const { return m_host; }
    void setPort(quint16 port) { m_port = port; }
    quint16 port() const { return m_port; }
    void setUserName(const QString &name) { m_userName = name; }
    QString userName() const { return m_userName; }
    void setPassword(const QString &password) { m_password = password; }
    QString password() const { return m_password; }
    void setAuthKind(AuthKind kind) { m_authKind = kind; }
    AuthKind authKind() const { return m_authKind; }
    void setSecurity(Security security) { m_security = security; }
    Security security() const { return m_security; }
    void setTrustedCertificate(const QString &sha256Fingerprint) { m_trustedCertificate = sha256Fingerprint; }
    void setConnectTimeout(int ms) { m_connectTimeoutMs = ms; }
    int connectTimeout() const { return m_connectTimeoutMs; }
    void setReadTimeout(int ms) { m_readTimeoutMs = ms; }
    // The longest time one response may take from its first line to its end.
    void setReplyDeadline(int ms) { m_replyDeadlineMs = ms; }
    int replyDeadline() const { return m_replyDeadlineMs; }
    // A point in time after which no wait goes on (Forever: none).
    void setDeadline(QDeadlineTimer deadline) { m_deadline = deadline; }
    QDeadlineTimer deadline() const { return m_deadline; }
    void setMaxLineLength(int octets) { m_maxLineLength = octets; }
    int maxLineLength() const { return m_maxLineLength; }
    // The largest literal the responses of the following commands may hold (each literal, and all of one
    // response's together).
    void setLiteralLimit(qint64 octets) { m_literalLimit = octets; }
    qint64 literalLimit() const { return m_literalLimit; }

    // Opens a session: any old one is dropped without LOGOUT; TCP connect (with the TLS handshake for
    // Security::Tls); the greeting, which must be OK (or PREAUTH without StartTls); the capabilities; for
    // Security::StartTls then STARTTLS, the handshake and the capabilities again; then AUTHENTICATE PLAIN
    // where the server offers it, else LOGIN; then the capabilities of the logged-in session.
    bool connect();
    // Opens the connection as connect() does, up to the TLS the security asks for, and ends it with LOGOUT
    // without logging in: true when the server greeted (and, for StartTls, the handshake succeeded). What
    // the server offers can be told without sending it any credentials.
    bool probe();
    bool isConnected() const;
    bool isEncrypted() const { return m_socket->isEncrypted(); }
    CertificateProblem certificateProblem() const { return m_socket->certificateProblem(); }
    QByteArrayList capabilities() const { return m_capabilities; }
    bool hasCapability(const QByteArray &name) const;

    // Runs one command (the line without its tag; its quoted arguments already quoted) and hands each
    // untagged response to untagged; true on OK.
    bool command(const QByteArray &line, const Untagged &untagged = {});
    // Sends the commands together and reads until each one is completed; true when all were OK (the
    // error is the first failure's).
    bool commands(const QByteArrayList &lines, const Untagged &untagged = {});
    // SELECT (readOnly: EXAMINE) of a mailbox; what the server says of it is in selected().
    bool select(const QString &mailbox, bool readOnly);
    const Mailbox &selected() const { return m_selected; }
    // The response code of the last completion (TRYCREATE, ALREADYEXISTS, ...), empty when it had none.
    QByteArray lastCode() const { return m_lastCode; }

    // IDLE (RFC 2177): starts it and waits for the server's go-ahead.
    bool idle(const Untagged &untagged = {});
    // Waits up to ms for what the server says while idling; true while the session is fine, also when
    // nothing came.
    bool idleWait(int ms, const Untagged &untagged = {});
    // True from idle() until the idle was ended (by idleDone, or by the server).
    bool idling() const { return !m_idleTag.isEmpty(); }
    // Ends the idle (DONE) and waits for its completion.
    bool idleDone(const Untagged &untagged = {});

    // LOGOUT, then closes; true when the server completed it.
    bool logout();
    // Closes the session, with LOGOUT first when asked; errors ignored, the last error stays.
    void disconnect(bool sendLogout = true);
    // Throws away unread input and drops the connection at once.
    void forceClose();
    // Thread-safe: makes the operation waiting now (or the next one, until a new connect) fail with
    // Error::Aborted and drops the connection.
    void abort();

    Error lastError() const { return m_lastError; }
    QString lastErrorText() const { return m_lastErrorText; }
    // What the last failure means for the user (ConnectionFailure.h): the server refused the login, the
    // connection was refused, the host is unknown, a time-out, or TLS met a port that speaks plain text;
    // Other for anything else and after a success.
    TFailureKind failureKind() const;

private:
    class BusyGuard;
    struct Pending {
        QByteArray tag;
        bool done = false;
        bool ok = false;
    };

    // connect() up to the login: TCP (and TLS), greeting, capabilities, STARTTLS when asked.
    bool openConnection();
    // What follows a greeting read: its checks, the capabilities, PREAUTH, and STARTTLS when asked.
    bool greet(const ImapResponse &greeting);
    bool queryCapabilities();
    bool startTls();
    bool login();
    // AUTHENTICATE with the first response: on the command line where the server offers SASL-IR,
    // otherwise after its go-ahead.
    bool sendAuthenticate(const QByteArray &tag, const QByteArray &mechanism, const QByteArray &response);
    // LOGOUT, its responses read up to its completion, then closes; true when the server completed it.
    bool logoutAndClose();
    // Sends the line parts, each literal part after the server's go-ahead; one tagged command.
    bool sendCommand(const QByteArray &tag, const QList<std::pair<QByteArray, bool>> &parts,
                     const Untagged &untagged);
    bool writeLine(const QByteArray &line, bool secret = false);
    // Reads one whole response, literals included. With quietTimeout, a time-out before its first line is
    // no failure: *quiet is set and the session stays.
    bool readResponse(ImapResponse *response, int waitMs = -1, bool *quiet = nullptr);
    bool readPiece(QByteArray *line, const QDeadlineTimer &responseDeadline, int firstWaitMs);
    bool readLiteral(qint64 length, QByteArray *data, const QDeadlineTimer &responseDeadline);
    // Reads until every pending command is completed; untagged responses go to untagged. A continuation
    // request goes to continuation (false from it ends the reading); without one it is a protocol error.
    bool completeAll(QList<Pending> &pending, const Untagged &untagged,
                     const std::function<bool(const ImapResponse &)> &continuation = {});
    // Untagged responses the client follows itself; false for BYE.
    bool follow(const ImapResponse &response);
    void takeCapabilities(const QList<ImapValue> &values);
    QByteArray nextTag();
    int waitFor(const QDeadlineTimer &responseDeadline, int lineWaitMs, int *bound) const;
    bool requireSession();
    bool setError(Error error, const QString &text);
    bool serverRefused(const ImapResponse &response);
    bool socketFailure(LineSocket::Status status, int bound = 0);
    bool protocolError(const QString &what);
    void dropConnection();
    void trace(const char *who, const QByteArray &line) const;

    std::unique_ptr<LineSocket> m_socket;
    QString m_host;
    quint16 m_port = 143;
    QString m_userName;
    QString m_password;
    AuthKind m_authKind = AuthKind::Password;
    Security m_security = Security::None;
    QString m_trustedCertificate;
    int m_connectTimeoutMs = kDefaultTimeoutMs;
    int m_readTimeoutMs = kDefaultTimeoutMs;
    int m_replyDeadlineMs = kDefaultReplyDeadlineMs;
    QDeadlineTimer m_deadline{QDeadlineTimer::Forever};
    int m_maxLineLength = kDefaultMaxLineLength;
    qint64 m_literalLimit = kDefaultLiteralLimit;

    bool m_loggedIn = false;
    bool m_busy = false;
    bool m_preauth = false;
    TFailureKind m_failureKind = TFailureKind::Other;
    int m_tagCounter = 0;
    QByteArray m_idleTag;
    QByteArrayList m_capabilities;
    Mailbox m_selected;
    QByteArray m_lastCode;
    Error m_lastError = Error::None;
    QString m_lastErrorText;
    bool m_trace = false;
};
