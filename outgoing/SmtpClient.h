#pragma once
// An SMTP client (RFC 5321) over a LineSocket: one session at a time, one step per call, so the caller
// decides the order and a test drives every step through a transcript.
//
// A session runs open() (connect, greeting, EHLO or HELO, and the TLS the security asks for),
// authenticate() when wanted, sendMail() and quit(). With STARTTLS or implicit TLS chosen, a session is
// either encrypted before anything but EHLO and STARTTLS is said, or it does not open at all: there is
// no silent fall-back to plain text, and credentials go out only over TLS.
//
// Every reply is read whole (continuation lines "250-..." up to the last "250 ...") within the read time-out
// per line and the reply deadline for all of its lines. A reply line that
// does not start with a three-digit code is a protocol error: it never counts as a reply, and the
// connection is dropped, as after a time-out or an over-long line, so a late reply can never be taken
// for the answer to a later command. A reply with another code than expected is a server error and
// leaves the session open.
//
// Set the environment variable QUARVEL_SMTP_TRACE to print the dialogue to stderr (credentials masked).
#include "LineSocket.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QDeadlineTimer>
#include <QString>

#include <atomic>
#include <initializer_list>
#include <memory>

class SmtpClient {
public:
    enum class Error {
        None,
        ServerError,     // the server answered with an unexpected code; lastReplyCode() and its text say it
        ProtocolError,   // a reply line without a valid code, or a reply too long to be one
        LineTooLong,     // a reply line longer than kMaxLineLength
        TimedOut,        // no (complete) reply within the read time-out
        ConnectionLost,  // could not connect, or the connection was closed or failed
        Aborted,         // abort() was called
        NotConnected,    // a command without a session
        InvalidArgument, // a line break in an address, a NUL in the credentials, an unknown security
        AuthNeedsTls,    // authentication asked for over a connection that is not encrypted
        TlsUnavailable,  // STARTTLS asked for, but the server does not offer it or refused it
        TlsFailed,       // the TLS handshake failed or the server's certificate was refused
    };

    // None: plain TCP. StartTls: plain up to the first EHLO, then STARTTLS (RFC 3207), the handshake and
    // EHLO again; a server that does not offer it, or refuses it, ends the session. Tls: TLS from the
    // first byte. Opportunistic: STARTTLS when the server offers it, plain otherwise; when the handshake
    // fails, open() connects once more without it, so a server whose certificate cannot be checked still
    // gets the message (what mail servers do among themselves). Unknown: a stored choice this version does
    // not know; open() refuses it before anything goes out.
    enum class Security { None, StartTls, Tls, Opportunistic, Unknown };

    static constexpr int kDefaultTimeoutMs = 60000;
    static constexpr int kDefaultReplyDeadlineMs = 75000;
    static constexpr int kMaxLineLength = 8192;
    static constexpr int kMaxReplyLines = 1000;

    // The socket comes from factory (the real TCP transport when it is empty).
    explicit SmtpClient(const LineSocketFactory &factory = {});
    // Drops a session without QUIT.
    ~SmtpClient();
    SmtpClient(const SmtpClient &) = delete;
    SmtpClient &operator=(const SmtpClient &) = delete;

    // The name sent with EHLO and HELO.
    void setHeloName(const QByteArray &name) { m_heloName = name; }
    QByteArray heloName() const { return m_heloName; }
    void setConnectTimeout(int ms) { m_connectTimeoutMs = ms; }
    void setReadTimeout(int ms) { m_readTimeoutMs = ms; }
    // The longest time a whole reply may take, so that one dripped in a line at a time (up to
    // kMaxReplyLines, each within the read time-out) still ends.
    void setReplyDeadline(int ms) { m_replyDeadlineMs = ms; }
    // A point in time after which no wait of this client goes on (Forever: none): waits that would reach
    // beyond it are cut short and fail with Error::TimedOut.
    void setDeadline(QDeadlineTimer deadline) { m_deadline = deadline; }
    // Credentials only over an encrypted connection: authenticate() then fails without sending them.
    // StartTls and Tls ask for that by themselves.
    void setRequireEncryptedAuth(bool on) { m_requireEncryptedAuth = on; }
    void setSecurity(Security security) { m_security = security; }
    Security security() const { return m_security; }
    // The one certificate accepted although its chain does not verify (LineSocket::setTrustedCertificate).
    void setTrustedCertificate(const QString &sha256Fingerprint) { m_trustedCertificate = sha256Fingerprint; }

    // Connects (with the TLS handshake for Security::Tls), expects the greeting 220, then "EHLO name"
    // expecting 250; any other reply to EHLO gets "HELO name", expecting 250. The lines of an EHLO reply
    // after its first are the capabilities. For StartTls and Opportunistic then "STARTTLS" expecting 220,
    // the handshake, and EHLO (or HELO) again, whose capabilities replace the first ones.
    // On failure the connection is closed; a refused certificate is in certificateProblem().
    bool open(const QString &host, quint16 port);
    bool isConnected() const;
    // True while the session runs over TLS.
    bool isEncrypted() const;
    // Why the last connect refused the server's certificate; null when it did not.
    CertificateProblem certificateProblem() const { return m_socket->certificateProblem(); }

    // Logs in with the first mechanism of PLAIN and LOGIN that the server lists under AUTH: "AUTH PLAIN"
    // with the initial response, or "AUTH LOGIN", user name and password in Base64 each after a 334.
    // Expects 235 at the end. When the server lists neither (or no AUTH at all), nothing is sent and the
    // result is true: the message then goes without authentication.
    bool authenticate(const QString &user, const QString &password);
    // Logs in with an access token of the account's provider: "AUTH OAUTHBEARER" where the server lists
    // it, else "AUTH XOAUTH2", with the initial response; host and port are the server's, as OAUTHBEARER
    // names them. A refused token's error challenge (334) is answered and its status goes into the error
    // text. Expects 235.
    bool authenticateBearer(const QString &user, const QString &token, const QString &host, quint16 port);
    // The mechanism the last successful authenticate() used ("PLAIN", "LOGIN", "XOAUTH2", ...), empty when none.
    QByteArray authMechanismUsed() const { return m_authUsed; }

    // "RSET" (any reply), "MAIL FROM: <from>" expecting 250, "RCPT TO:<address>" for every recipient
    // expecting 250 or 251, "DATA" expecting 354, the message dot-stuffed, "." expecting 250. When the
    // server refuses one of them, "RSET" goes out before the call returns, and the refusal stays the last
    // reply and error.
    bool sendMail(const QByteArray &from, const QByteArrayList &recipients, const QByteArray &message);

    // "QUIT" when connected (its reply is awaited but not judged), then closes. The last reply and error
    // stay as they were, so the caller can still read why the step before failed.
    void quit();
    // Thread-safe: makes the wait in progress (or the next one, until a new open) fail with
    // Error::Aborted and drops the connection.
    void abort();

    // The last complete reply: its code, and its text after the code (lines joined with a blank). 0 and
    // empty after a command that got no valid reply.
    int lastReplyCode() const { return m_lastReplyCode; }
    QString lastReplyText() const { return m_lastReplyText; }
    Error lastError() const { return m_lastError; }
    QString lastErrorText() const { return m_lastErrorText; }
    // What the last failure means for the user (ConnectionFailure.h): 535 is a refused login; a refused
    // connection, an unknown host, a time-out or TLS on a plain-text port come from the connection.
    TFailureKind failureKind() const;

    // What the last open() learnt: whether EHLO was accepted, and the capability lines it listed.
    bool extendedHello() const { return m_extended; }
    QByteArrayList capabilities() const { return m_capabilities; }
    // The mechanisms of the AUTH capability ("AUTH LOGIN PLAIN", or the old form "AUTH=LOGIN"), upper case.
    QByteArrayList authMechanisms() const;

    // The message as DATA sends it: every line end CR LF, a "." before every line that starts with one
    // (the first included), a line end after the last line, then the closing ".".
    static QByteArray dotStuffed(const QByteArray &message);

private:
    // The last reply and error, kept across a command whose own reply must not replace them.
    struct Outcome {
        int code;
        QString text;
        QByteArrayList lines;
        Error error;
        QString errorText;
    };
    Outcome outcome() const;
    void restore(const Outcome &saved);
    // One attempt of open() with this security.
    bool openWith(const QString &host, quint16 port, Security security);
    // STARTTLS, the handshake and EHLO again (for Opportunistic only when offered). False when the session
    // cannot go on: it is then closed.
    bool startTls(const QString &host, Security security);
    // Ends a session that must not go on, politely (QUIT), keeping the error that ended it.
    bool endSession();
    bool hello();
    bool authPlain(const QByteArray &user, const QByteArray &password);
    // "AUTH mechanism response", the response's Base64 masked in the trace; reads the reply.
    bool sendInitialResponse(const QByteArray &mechanism, const QByteArray &response);
    // The guard before any credential goes out: false (with the error) when TLS was asked for and the
    // session is not encrypted.
    bool credentialsMaySend();
    bool authLogin(const QByteArray &user, const QByteArray &password);
    bool sendLine(const QByteArray &line, bool secret = false);
    // Reads one whole reply into the last-reply fields.
    bool readReply();
    // Sends a line, reads the reply and checks its code; an unexpected code is a server error.
    bool command(const QByteArray &line, std::initializer_list<int> expected, bool secret = false);
    bool expect(std::initializer_list<int> expected);
    // A refusal inside a mail transaction: RSET, then the refusal is the result again.
    bool resetAfterRefusal();
    bool requireSession();
    bool setError(Error error, const QString &text);
    bool protocolError(const QString &text);
    bool socketFailure(LineSocket::Status status);
    // A wait of timeoutMs, cut short by the deadline.
    int waitMs(int timeoutMs) const;
    void dropConnection();
    void resetReply();
    void trace(const char *who, const QByteArray &line) const;

    std::unique_ptr<LineSocket> m_socket;
    QByteArray m_heloName = "localhost";
    int m_connectTimeoutMs = kDefaultTimeoutMs;
    int m_readTimeoutMs = kDefaultTimeoutMs;
    int m_replyDeadlineMs = kDefaultReplyDeadlineMs;
    bool m_requireEncryptedAuth = false;
    Security m_security = Security::None;
    QString m_trustedCertificate;
    bool m_trace = false;
    std::atomic<bool> m_abortRequested{false}; // holds across the second connect of Opportunistic

    bool m_open = false;
    bool m_handshakeFailed = false; // the server agreed to STARTTLS and the handshake itself failed
    bool m_extended = false;
    QByteArrayList m_capabilities;
    QByteArray m_authUsed;
    int m_lastReplyCode = 0;
    QString m_lastReplyText;
    QByteArrayList m_replyLines; // the last reply's lines after their codes, as sent
    Error m_lastError = Error::None;
    QString m_lastErrorText;
    TFailureKind m_socketFailure = TFailureKind::Other; // of the connection's last failure
    QDeadlineTimer m_deadline{QDeadlineTimer::Forever};
};
