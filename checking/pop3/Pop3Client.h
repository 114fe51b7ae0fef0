#pragma once
// A POP3 client (RFC 1939) over a LineSocket: plain, upgraded with STLS (RFC 2595), or TLS from the first
// byte. With either kind of TLS the user name and password go out only over the encrypted connection: a
// server that does not offer STLS, or a handshake that fails, ends the session before the login.
//
// One object holds one session at a time. Every operation blocks until the server's reply is complete or
// a time-out passes; with the default transport the caller's thread keeps handling its events meanwhile
// (see TcpLineSocket.h). Operations return true on success. On failure lastError() tells the kind and
// lastErrorText() the text to show: the server's own words when it refused (-ERR), otherwise the
// network layer's text or ours; both are None and empty after a success.
//
// When the input can no longer be trusted to be in step with the commands (time-out, lost or aborted
// connection, an over-long line, a reply that is neither +OK nor -ERR, a reply larger than allowed), the
// client drops the connection, so a late reply can never be taken for the answer to a later command.
// A -ERR reply leaves the session open.
//
// Commands of a batch (batch()) go out ahead of their replies when the server offers PIPELINING (RFC 2449),
// within a window bounded by count and by bytes, so that the server's receive buffer is never overrun;
// the replies are read in order, each one under its own command's limits and deadline.
//
// Nothing a server sends can make the client wait or collect without end: every line has the read
// time-out, every whole reply (status line and listing) the reply deadline, and every multi-line reply a
// size that fits it (the capability listing a few KiB, a header block 4 MiB, a UIDL or LIST listing in
// proportion to the session's STAT count, other replies maxReplySize()). setDeadline() caps all waits at
// once.
//
// Thread use: all calls come from one thread at a time (the one that connected, for the default
// transport), except abort(), which any thread may call. A call made while another operation of the same
// client is still waiting (from an event handler that runs during the wait) fails with Error::Busy;
// disconnect() and forceClose() then abort the connection instead.
//
// Set the environment variable QUARVEL_POP3_TRACE to print the dialogue to stderr (password and APOP
// digest masked).
#include "LineSocket.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QDeadlineTimer>
#include <QMap>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class Pop3Client {
public:
    // Bearer: password() holds an access token of the account's provider, sent with AUTH (RFC 5034) as
    // OAUTHBEARER where the server lists it under SASL, else as XOAUTH2.
    enum class AuthKind { UserPass, Apop, Bearer };
    // None: plain TCP. StartTls: plain until the capabilities are read, then STLS. Tls: TLS from the
    // first byte (the pop3s port). Unknown: a stored choice this version does not know; connect() refuses
    // it before anything goes out, as it cannot tell whether the password may travel in clear.
    enum class Security { None, StartTls, Tls, Unknown };

    enum class Error {
        None,
        ServerError,     // the server answered -ERR; lastErrorText() is its text
        ProtocolError,   // a reply that is neither +OK nor -ERR, or one that cannot be read as specified
        LineTooLong,     // a reply line longer than maxLineLength()
        ReplyTooLarge,   // a multi-line reply larger than its limit
        TimedOut,        // no (complete) reply within the time-out, the reply deadline or the deadline
        ConnectionLost,  // could not connect, or the connection was closed or failed
        Aborted,         // abort() was called
        NotConnected,    // a command without a session
        NoApopTimestamp, // APOP asked for, but the greeting carries no timestamp
        InvalidArgument, // a message number below 1, a line break in the user name or password, or an
                         // unknown security
        Busy,            // another operation of this client is still waiting
        TlsUnavailable,  // STLS asked for, but the server does not offer it or refused it
        TlsFailed,       // the TLS handshake failed or the server's certificate was refused
    };

    static constexpr int kDefaultTimeoutMs = 60000;
    static constexpr int kDefaultReplyDeadlineMs = 75000;
    // How long a command sent ahead may wait for its status line until the server has shown that it
    // takes commands ahead: one that loses them is found out in seconds, not after the read time-out.
    static constexpr int kDefaultAheadProbeMs = 5000;
    static constexpr int kDefaultMaxLineLength = 65536;
    static constexpr qint64 kDefaultMaxReplySize = qint64(256) * 1024 * 1024;
    // A header block larger than this is not a header block; it would only fill the memory.
    static constexpr qint64 kDefaultMaxHeaderSize = qint64(4) * 1024 * 1024;
    // Real capability listings are a few hundred octets.
    static constexpr qint64 kMaxCapabilityListing = 8 * 1024;
    // RFC 1939: a unique-id is 1 to 70 characters.
    static constexpr int kMaxUidLength = 70;
    // A UIDL or LIST listing is never read for more messages than this, whatever STAT said.
    static constexpr int kMaxListedMessages = 1000000;
    // At most this many commands of a batch, and this many octets of them, wait for their replies at any
    // time; a window refills once a quarter of it is free, so that commands leave in few writes.
    static constexpr int kPipelineWindow = 100;
    static constexpr qint64 kPipelineWindowBytes = 2048;

    // One command of a batch: its line without the line end, and whether a +OK reply carries a listing up
    // to the terminating "." line.
    struct BatchCommand {
        QByteArray line;
        bool multiLine = false;
    };
    // One reply of a batch. status: the whole status line; text: what follows the status word; data: the
    // listing of a multi-line +OK, dot-unstuffed, each line ending in CR LF; errorText: the server's text
    // of a -ERR (the whole line when it gave none).
    struct BatchReply {
        bool ok = false;
        QByteArray status;
        QByteArray text;
        QByteArray data;
        QString errorText;
    };
    // Gives the next command of a batch; false when there is none.
    using BatchSource = std::function<bool(BatchCommand *command)>;
    // Takes each reply, in the order of the commands; false stops the batch.
    using BatchSink = std::function<bool(const BatchCommand &command, BatchReply &reply)>;

    // The socket comes from factory (the real TCP transport when it is empty) and is kept for the client's
    // whole life, so abort() always reaches the connection in use.
    explicit Pop3Client(const LineSocketFactory &factory = {});
    // Drops a session without QUIT.
    ~Pop3Client();
    Pop3Client(const Pop3Client &) = delete;
    Pop3Client &operator=(const Pop3Client &) = delete;

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
    // The one certificate accepted although its chain does not verify (LineSocket::setTrustedCertificate).
    void setTrustedCertificate(const QString &sha256Fingerprint) { m_trustedCertificate = sha256Fingerprint; }
    QString trustedCertificate() const { return m_trustedCertificate; }
    void setConnectTimeout(int ms) { m_connectTimeoutMs = ms; }
    int connectTimeout() const { return m_connectTimeoutMs; }
    void setReadTimeout(int ms) { m_readTimeoutMs = ms; }
    int readTimeout() const { return m_readTimeoutMs; }
    // The longest time a whole reply may take from the wait for its status line to its last line, so that
    // a reply dripped in one line at a time still ends.
    void setReplyDeadline(int ms) { m_replyDeadlineMs = ms; }
    int replyDeadline() const { return m_replyDeadlineMs; }
    void setAheadProbe(int ms) { m_aheadProbeMs = ms; }
    int aheadProbe() const { return m_aheadProbeMs; }
    // A point in time after which no wait of this client goes on (Forever: none). Waits that would reach
    // beyond it are cut short and fail with Error::TimedOut.
    void setDeadline(QDeadlineTimer deadline) { m_deadline = deadline; }
    QDeadlineTimer deadline() const { return m_deadline; }
    // Longest reply line accepted, in octets without the line end.
    void setMaxLineLength(int octets) { m_maxLineLength = octets; }
    int maxLineLength() const { return m_maxLineLength; }
    // Largest RETR reply, or TOP with body lines, accepted, in octets after unstuffing.
    void setMaxReplySize(qint64 octets) { m_maxReplySize = octets; }
    qint64 maxReplySize() const { return m_maxReplySize; }
    // Largest header block (TOP n 0) accepted.
    void setMaxHeaderSize(qint64 octets) { m_maxHeaderSize = octets; }
    qint64 maxHeaderSize() const { return m_maxHeaderSize; }

    // Opens a session: any old one is dropped without QUIT; TCP connect (with the TLS handshake for
    // Security::Tls); the greeting, which must be +OK (a "<...>" in it is kept as the APOP timestamp);
    // CAPA, where +OK and -ERR both do (the listing of a +OK is remembered); for Security::StartTls then
    // STLS, the handshake and CAPA again; then login with USER/PASS, or APOP with the lowercase hexadecimal
    // MD5 of timestamp + password. User name and password are sent as UTF-8. On failure the connection is
    // closed and the error tells why (a refused login carries the server's text; a refused certificate
    // the reasons and its fingerprint, with the details in certificateProblem()).
    bool connect();
    // True when the last connect() failed at an APOP login made over an encrypted connection: only then may
    // the caller try USER/PASS instead. On a plain connection anyone on the way could have removed the
    // greeting's timestamp, or answered the APOP command, to have the password sent in clear.
    bool apopFallbackAllowed() const { return m_apopFallbackAllowed; }
    // Opens the connection as connect() does, up to the TLS the security asks for, and ends it with QUIT
    // without logging in: true when the server greeted with +OK (and, for StartTls, the handshake
    // succeeded). What the server offers can be told without sending it any credentials.
    bool probe();
    // True while a logged-in session is open.
    bool isConnected() const;
    // True while the connection is encrypted.
    bool isEncrypted() const { return m_socket->isEncrypted(); }
    // Why the last connect refused the server's certificate; null when it did not.
    CertificateProblem certificateProblem() const { return m_socket->certificateProblem(); }

    // STAT: the number of messages (the reply's first word) and, when given, their total size (its
    // second word, -1 when missing).
    bool stat(int *count, qint64 *octets = nullptr);
    // The highest message count STAT gave in this session (message numbers stay valid until QUIT, so it
    // bounds them); -1 before the first STAT.
    int sessionMessageCount() const { return m_sessionCount; }
    // TOP n lines: the header block and the first lines of the body, dot-unstuffed, each line ending in
    // CR LF (the empty line after the header block included). lines = 0 gives the header block only.
    bool top(int n, int lines, QByteArray *text);
    // LIST n: the message's size, the reply's second word; -1 when it is missing or not a number.
    bool list(int n, qint64 *size);
    // LIST: every message's size, by message number; lines that do not read as "number size" with a
    // number up to sessionMessageCount() are left out. The listing is bounded as UIDL's is.
    bool list(QMap<int, qint64> *sizes);
    // RETR n: the whole message, dot-unstuffed, each line ending in CR LF, otherwise as transmitted.
    bool retr(int n, QByteArray *message);
    bool dele(int n);
    bool noop();
    // UIDL: every message's unique-id listing, by message number; lines that do not read as
    // "number uid" with a number up to sessionMessageCount() and an id of at most kMaxUidLength octets are
    // left out. The listing may have one line per message of the session's STAT count (kMaxListedMessages
    // without a STAT); a longer one fails with Error::ReplyTooLarge.
    bool uidl(QMap<int, QByteArray> *uids);
    // UIDL n: that message's unique-id listing.
    bool uidl(int n, QByteArray *uid);
    // Any single-line command, true on +OK. The command is one line without its line end.
    bool command(const QByteArray &line);

    // Sends the commands source gives and hands their replies to sink in order: ahead of the replies when
    // the server offers PIPELINING and setPipelining() allows it (see kPipelineWindow), otherwise one
    // command at a time. A -ERR reply is handed on and the batch goes on. True when every command got
    // its reply, or sink stopped the batch; until a command sent ahead has been answered on the connection,
    // its status line is awaited for aheadProbe() at most. When sink stops it while replies are still outstanding, the
    // connection is dropped, as they would otherwise be taken for the answers of later commands. False
    // on a failure of the session (the error says why; the connection is gone), e.g. a reply that is
    // neither +OK nor -ERR, a time-out, or a reply beyond its command's limit.
    bool batch(const BatchSource &source, const BatchSink &sink);
    // Whether batches may go out ahead of their replies when the server offers it (the default).
    void setPipelining(bool allowed) { m_pipeliningAllowed = allowed; }
    // True when the next batch goes out ahead of its replies: allowed, and offered by the session's server.
    bool pipelining() const { return m_pipeliningAllowed && hasCapability("PIPELINING"); }

    // QUIT expecting +OK (the server commits deletions only then), then closes. True when QUIT got +OK;
    // the connection is closed in every case.
    bool quit();
    // Closes the session, sending QUIT first when asked; true when a QUIT was answered +OK. Errors are
    // otherwise ignored, and the last reply and error stay as they were, so a caller can still read why
    // the operation before failed.
    bool disconnect(bool sendQuit = true);
    // Throws away unread input and drops the connection at once; last reply and error stay as well.
    void forceClose();
    // Thread-safe: makes the operation waiting now (or the next one, until a new connect) fail with
    // Error::Aborted and drops the connection.
    void abort();

    // The last reply: its whole status line, its text after the status word, and its code read as a
    // decimal number (0 for +OK and -ERR, and whenever it is not a number). Empty and 0 after a command
    // that got no reply.
    QByteArray lastReply() const { return m_lastReply; }
    QString lastReplyText() const { return m_lastReplyText; }
    int lastReplyCode() const { return m_lastReplyCode; }
    Error lastError() const { return m_lastError; }
    QString lastErrorText() const { return m_lastErrorText; }
    // What the last failure means for the user (ConnectionFailure.h): the server refused the login
    // (-ERR after PASS or APOP), the connection was refused, the host is unknown, a time-out, or TLS met a
    // port that speaks plain text; Other for anything else and after a success.
    TFailureKind failureKind() const;

    // What the last connect() learnt: the greeting line, the APOP timestamp with its angle brackets (empty
    // when there is none), and the capability names of a +OK CAPA listing, in upper case (empty when the
    // server refused CAPA).
    QByteArray greeting() const { return m_greeting; }
    QByteArray apopTimestamp() const { return m_apopTimestamp; }
    QByteArrayList capabilities() const { return m_capabilities; }
    bool hasCapability(const QByteArray &name) const;
    // The mechanisms of the SASL capability, in upper case.
    QByteArrayList saslMechanisms() const { return m_saslMechanisms; }
    // The mechanism the last Bearer login used ("XOAUTH2", "OAUTHBEARER"); empty before one.
    QByteArray bearerMechanismUsed() const { return m_bearerUsed; }

    // The size a LIST n reply gives (its text after "+OK": the second word); -1 when it is missing or not
    // a number.
    static qint64 listedSize(const QByteArray &replyText);

    // The lowercase hexadecimal MD5 digest that APOP sends for this timestamp and password.
    static QByteArray apopDigest(const QByteArray &timestamp, const QByteArray &secret);

private:
    enum class Reply { Ok, Err, Invalid };
    class BusyGuard;
    // What the multi-line reply now being read may hold.
    struct ReplyLimit {
        qint64 octets;
        qint64 lines;
    };

    // connect() up to the login: TCP (and TLS), greeting, capabilities, STLS when asked.
    bool openConnection();
    bool login();
    // AUTH with the access token; a refused token's error challenge is answered and its status reported.
    bool bearerLogin();
    // CAPA: any answer will do; the listing of a +OK is remembered.
    bool queryCapabilities();
    // STLS and the handshake; on any failure the connection is gone and nothing was sent in its clear.
    bool startTls();
    // Sends one command line; the limit of its multi-line reply follows from the command (see limitFor).
    bool sendLine(const QByteArray &line);
    ReplyLimit limitFor(const QByteArray &line) const;
    // Reads one line of a reply within the read time-out, the reply deadline and the deadline.
    bool readReplyLine(QByteArray *line);
    // Reads one status line into the last-reply fields; it starts the reply deadline. A statusWaitMs of 0
    // or more bounds the wait for the status line alone.
    bool readStatus(Reply *reply, int statusWaitMs = -1);
    // Sends a command and reads its status line; true on +OK. On -ERR or an invalid reply the error is set.
    bool simpleCommand(const QByteArray &line);
    // Reads the lines of a multi-line reply up to the terminating "." line and hands each one, unstuffed
    // and without its line end, to sink; a reply beyond the current limit fails.
    bool readMultiLine(const std::function<void(const QByteArray &line)> &sink);
    // A command with a multi-line reply, collected into *data with CR LF after every line.
    bool multiLineCommand(const QByteArray &line, QByteArray *data);
    // Reads the rest of a multi-line reply into *data with CR LF after every line.
    bool collectMultiLine(QByteArray *data);
    // A listing command (UIDL, LIST) into *out: each line that reads as "number word", with a number from
    // 1 up to the session's count and a word that parse takes.
    template <typename T>
    bool listingCommand(const QByteArray &line, QMap<int, T> *out,
                        const std::function<std::optional<T>(const QByteArray &word)> &parse);
    bool checkNumber(int n);
    bool requireSession();
    bool setError(Error error, const QString &text);
    QString unexpectedReplyText() const;
    // The text of a -ERR reply, or the whole reply when the server gave no text.
    QString serverErrorText() const;
    // The last reply is not one the command allows: the input is out of step, so the connection goes.
    bool protocolError();
    // Sets the error from a failed socket read or write and drops the connection.
    bool socketFailure(LineSocket::Status status);
    void dropConnection();
    void resetReply();
    void trace(const char *who, const QByteArray &line) const;

    std::unique_ptr<LineSocket> m_socket;
    QString m_host;
    quint16 m_port = 110;
    QString m_userName;
    QString m_password;
    AuthKind m_authKind = AuthKind::UserPass;
    Security m_security = Security::None;
    QString m_trustedCertificate;
    int m_connectTimeoutMs = kDefaultTimeoutMs;
    int m_readTimeoutMs = kDefaultTimeoutMs;
    int m_replyDeadlineMs = kDefaultReplyDeadlineMs;
    int m_aheadProbeMs = kDefaultAheadProbeMs;
    bool m_aheadConfirmed = false; // a reply to a command sent ahead came on this connection
    QDeadlineTimer m_deadline{QDeadlineTimer::Forever};
    int m_maxLineLength = kDefaultMaxLineLength;
    qint64 m_maxReplySize = kDefaultMaxReplySize;
    qint64 m_maxHeaderSize = kDefaultMaxHeaderSize;

    bool m_loggedIn = false;
    bool m_apopFallbackAllowed = false;
    bool m_busy = false;
    int m_sessionCount = -1;
    QDeadlineTimer m_replyDeadline; // of the reply being read
    ReplyLimit m_replyLimit{0, 0};  // of the multi-line reply being read
    bool m_trace = false;
    bool m_pipeliningAllowed = true;
    QByteArray m_greeting;
    QByteArray m_apopTimestamp;
    QByteArrayList m_capabilities;
    QByteArrayList m_saslMechanisms;
    QByteArray m_bearerUsed;
    bool m_secretOut = false; // the line being sent is a credential: the trace masks it
    bool m_capabilitiesListed = false; // the server answered CAPA with +OK
    QByteArray m_lastReply;
    QByteArray m_lastReplyRawText; // the text after the status word, as sent
    QString m_lastReplyText;
    int m_lastReplyCode = 0;
    Error m_lastError = Error::None;
    QString m_lastErrorText;
    TFailureKind m_failureKind = TFailureKind::Other;
};
