#include "Pop3Client.h"

#include "Sasl.h"
#include "TextCodec.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>
#include <utility>

namespace {

QString notConnectedText()
{
    return QStringLiteral("Keine Verbindung zum Server.");
}

bool hasLineBreak(const QByteArray &bytes)
{
    return bytes.contains('\r') || bytes.contains('\n') || bytes.contains('\0');
}

QString noApopOnPlainConnectionText()
{
    return QStringLiteral("Der Server bietet kein APOP mehr an (seine Begrüßung enthält keinen Zeitstempel). Das "
                          "Passwort wurde nicht gesendet: Auf einer unverschlüsselten Verbindung kann jemand auf dem "
                          "Weg den Zeitstempel entfernt haben, um es mitzulesen. Wählen Sie eine verschlüsselte "
                          "Verbindung, oder schalten Sie APOP ab.");
}

constexpr qint64 kNoLimit = std::numeric_limits<qint64>::max();
// "number uid" and its line end, at their longest.
constexpr qint64 kMaxListingLine = 10 + 1 + Pop3Client::kMaxUidLength + 2;

// Blank-separated words of a reply text (runs of blanks count as one separator).
QByteArrayList words(const QByteArray &text)
{
    QByteArrayList result;
    for (const QByteArray &w : text.split(' '))
        if (!w.isEmpty())
            result.append(w);
    return result;
}

} // namespace

// Marks the client as waiting for the duration of one public operation; a second operation that starts
// from an event handler during that wait is refused.
class Pop3Client::BusyGuard {
public:
    explicit BusyGuard(Pop3Client *client) : m_client(client), m_acquired(!client->m_busy)
    {
        if (m_acquired) {
            client->m_busy = true;
            client->m_lastError = Error::None;
            client->m_lastErrorText.clear();
            client->m_failureKind = TFailureKind::Other;
        } else {
            client->m_lastError = Error::Busy;
            client->m_lastErrorText = QStringLiteral("Eine andere Anfrage an diesen Server läuft noch.");
        }
    }
    ~BusyGuard()
    {
        if (!m_acquired)
            return;
        m_client->m_busy = false;
        // A refused nested call must not leave its error on this operation.
        if (m_client->m_lastError == Error::Busy) {
            m_client->m_lastError = Error::None;
            m_client->m_lastErrorText.clear();
        }
    }
    BusyGuard(const BusyGuard &) = delete;
    BusyGuard &operator=(const BusyGuard &) = delete;
    explicit operator bool() const { return m_acquired; }

private:
    Pop3Client *m_client;
    bool m_acquired;
};

Pop3Client::Pop3Client(const LineSocketFactory &factory)
    : m_socket(factory ? factory() : tcpLineSocketFactory()()),
      m_trace(qEnvironmentVariableIsSet("QUARVEL_POP3_TRACE"))
{
}

Pop3Client::~Pop3Client()
{
    m_socket->abort();
}

QByteArray Pop3Client::apopDigest(const QByteArray &timestamp, const QByteArray &secret)
{
    const QByteArray input = timestamp + secret;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(input.constData(), size_t(input.size()), digest, &length, EVP_md5(), nullptr) != 1)
        return {};
    return QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex();
}

bool Pop3Client::hasCapability(const QByteArray &name) const
{
    return m_capabilities.contains(name.toUpper());
}

bool Pop3Client::isConnected() const
{
    return m_loggedIn && m_socket->isConnected();
}

void Pop3Client::trace(const char *who, const QByteArray &line) const
{
    if (!m_trace)
        return;
    QByteArray shown = line;
    if (m_secretOut) {
        shown = "********";
    } else if (shown.startsWith("PASS ")) {
        shown = "PASS ********";
    } else if (shown.startsWith("APOP ")) {
        const qsizetype lastBlank = shown.lastIndexOf(' ');
        shown = shown.left(lastBlank + 1) + "********";
    }
    std::fprintf(stderr, "POP3 %s: %s\n", who, platform::terminalSafe(shown).constData());
    std::fflush(stderr);
}

QString Pop3Client::unexpectedReplyText() const
{
    return QStringLiteral("Unerwartete Antwort des Servers: %1").arg(platform::decode8bit(m_lastReply));
}

QString Pop3Client::serverErrorText() const
{
    // A bare "-ERR" still gives a text: an empty error text would read as "no error" further up.
    return m_lastReplyText.isEmpty() ? platform::decode8bit(m_lastReply) : m_lastReplyText;
}

bool Pop3Client::protocolError()
{
    dropConnection();
    return setError(Error::ProtocolError, unexpectedReplyText());
}

bool Pop3Client::setError(Error error, const QString &text)
{
    m_lastError = error;
    m_lastErrorText = text;
    m_failureKind = TFailureKind::Other;
    return false;
}

void Pop3Client::resetReply()
{
    m_lastReply.clear();
    m_lastReplyRawText.clear();
    m_lastReplyText.clear();
    m_lastReplyCode = 0;
}

void Pop3Client::dropConnection()
{
    m_loggedIn = false;
    m_sessionCount = -1;
    m_socket->discardInput();
    m_socket->close();
}

bool Pop3Client::socketFailure(LineSocket::Status status)
{
    const QString text = socketErrorText(*m_socket);
    const TFailureKind kind = m_socket->failureKind();
    dropConnection();
    setError(socketErrorKind<Error>(status), text);
    m_failureKind = kind;
    return false;
}

TFailureKind Pop3Client::failureKind() const
{
    if (m_lastError == Error::None)
        return TFailureKind::Other;
    if (m_lastError == Error::TimedOut)
        return TFailureKind::TimedOut;
    return m_failureKind;
}

Pop3Client::ReplyLimit Pop3Client::limitFor(const QByteArray &line) const
{
    const QByteArrayList w = words(line);
    const QByteArray command = w.isEmpty() ? QByteArray() : w.first().toUpper();
    if (command == "CAPA")
        return {kMaxCapabilityListing, kNoLimit};
    if (command == "TOP" && w.size() > 2 && w.at(2) == "0")
        return {m_maxHeaderSize, kNoLimit};
    if ((command == "UIDL" || command == "LIST") && w.size() == 1) {
        // One line per message: the server's own count bounds what it may list.
        const qint64 messages = m_sessionCount >= 0 ? std::min(m_sessionCount, kMaxListedMessages)
                                                    : kMaxListedMessages;
        return {messages * kMaxListingLine, messages};
    }
    return {m_maxReplySize, kNoLimit};
}

bool Pop3Client::sendLine(const QByteArray &line)
{
    resetReply();
    m_replyLimit = limitFor(line);
    trace("C", line);
    const LineSocket::Status status = m_socket->write(line + "\r\n");
    if (status != LineSocket::Status::Ok)
        return socketFailure(status);
    return true;
}

bool Pop3Client::readReplyLine(QByteArray *line)
{
    enum class Bound { Line, Reply, Overall } bound = Bound::Line;
    qint64 wait = std::max(m_readTimeoutMs, 0);
    const qint64 replyLeft = m_replyDeadline.remainingTime();
    if (replyLeft >= 0 && replyLeft < wait) {
        wait = replyLeft;
        bound = Bound::Reply;
    }
    const qint64 left = m_deadline.remainingTime();
    if (left >= 0 && left < wait) {
        wait = left;
        bound = Bound::Overall;
    }
    const LineSocket::Status status = m_socket->readLine(line, int(wait), m_maxLineLength);
    if (status == LineSocket::Status::Ok) {
        trace("S", *line);
        return true;
    }
    socketFailure(status);
    if (status == LineSocket::Status::TimedOut && bound == Bound::Reply)
        m_lastErrorText = replyTooSlowText();
    else if (status == LineSocket::Status::TimedOut && bound == Bound::Overall)
        m_lastErrorText = QStringLiteral("Zeitüberschreitung: Die für diesen Server vorgesehene Zeit ist abgelaufen.");
    return false;
}

bool Pop3Client::readStatus(Reply *reply, int statusWaitMs)
{
    resetReply();
    // A status line begins every reply, the greeting included: the whole reply is measured from here.
    const QDeadlineTimer whole(std::max(m_replyDeadlineMs, 0));
    m_replyDeadline = statusWaitMs >= 0 && statusWaitMs < m_replyDeadlineMs ? QDeadlineTimer(statusWaitMs) : whole;
    QByteArray line;
    if (!readReplyLine(&line))
        return false;
    m_replyDeadline = whole;
    const qsizetype blank = line.indexOf(' ');
    const QByteArray word = blank < 0 ? line : line.left(blank);
    m_lastReply = line;
    m_lastReplyRawText = blank < 0 ? QByteArray() : line.mid(blank + 1);
    m_lastReplyText = platform::decode8bit(m_lastReplyRawText);
    bool numeric = false;
    const int code = word.toInt(&numeric);
    m_lastReplyCode = numeric ? code : 0;
    if (word.compare("+OK", Qt::CaseInsensitive) == 0)
        *reply = Reply::Ok;
    else if (word.compare("-ERR", Qt::CaseInsensitive) == 0)
        *reply = Reply::Err;
    else
        *reply = Reply::Invalid;
    return true;
}

bool Pop3Client::simpleCommand(const QByteArray &line)
{
    Reply reply = Reply::Invalid;
    if (!sendLine(line) || !readStatus(&reply))
        return false;
    switch (reply) {
    case Reply::Ok:
        return true;
    case Reply::Err:
        return setError(Error::ServerError, serverErrorText());
    case Reply::Invalid:
        break;
    }
    return protocolError();
}

bool Pop3Client::readMultiLine(const std::function<void(const QByteArray &line)> &sink)
{
    const ReplyLimit limit = m_replyLimit;
    qint64 total = 0;
    qint64 lines = 0;
    QByteArray line;
    for (;;) {
        if (!readReplyLine(&line))
            return false;
        if (line == ".")
            return true;
        if (line.startsWith('.'))
            line.remove(0, 1);
        total += line.size() + 2;
        if (total > limit.octets) {
            dropConnection();
            return setError(Error::ReplyTooLarge,
                            QStringLiteral("Die Antwort des Servers ist zu groß (mehr als %1 Bytes).")
                                .arg(limit.octets));
        }
        if (++lines > limit.lines) {
            dropConnection();
            return setError(Error::ReplyTooLarge,
                            QStringLiteral("Die Antwort des Servers ist zu lang (mehr als %1 Zeilen).")
                                .arg(limit.lines));
        }
        sink(line);
    }
}

bool Pop3Client::collectMultiLine(QByteArray *data)
{
    QByteArray collected;
    const bool ok = readMultiLine([&collected](const QByteArray &l) {
        collected.append(l);
        collected.append("\r\n");
    });
    if (ok)
        *data = std::move(collected);
    return ok;
}

bool Pop3Client::multiLineCommand(const QByteArray &line, QByteArray *data)
{
    data->clear();
    return simpleCommand(line) && collectMultiLine(data);
}

template <typename T>
bool Pop3Client::listingCommand(const QByteArray &line, QMap<int, T> *out,
                                const std::function<std::optional<T>(const QByteArray &word)> &parse)
{
    out->clear();
    BusyGuard busy(this);
    if (!busy || !requireSession() || !simpleCommand(line))
        return false;
    const int highest = m_sessionCount >= 0 ? m_sessionCount : kMaxListedMessages;
    QMap<int, T> listing;
    const bool ok = readMultiLine([&](const QByteArray &l) {
        const QByteArrayList w = words(l);
        bool numeric = false;
        const int n = w.size() >= 2 ? w.first().toInt(&numeric) : 0;
        if (!numeric || n < 1 || n > highest)
            return;
        if (std::optional<T> value = parse(w.at(1)))
            listing.insert(n, std::move(*value));
    });
    if (ok)
        *out = std::move(listing);
    return ok;
}

bool Pop3Client::requireSession()
{
    if (isConnected())
        return true;
    return setError(Error::NotConnected, notConnectedText());
}

bool Pop3Client::checkNumber(int n)
{
    if (n >= 1)
        return true;
    return setError(Error::InvalidArgument, QStringLiteral("Ungültige Nachrichtennummer %1.").arg(n));
}

bool Pop3Client::connect()
{
    BusyGuard busy(this);
    if (!busy || !openConnection())
        return false;
    if (!login()) {
        if (m_lastError == Error::ServerError)
            m_failureKind = TFailureKind::LoginRefused;
        dropConnection();
        return false;
    }
    m_loggedIn = true;
    return true;
}

bool Pop3Client::probe()
{
    BusyGuard busy(this);
    if (!busy || !openConnection())
        return false;
    // The session ends here: nothing of the login goes out.
    simpleCommand("QUIT");
    dropConnection();
    return true;
}

bool Pop3Client::openConnection()
{
    dropConnection();
    resetReply();
    m_greeting.clear();
    m_apopTimestamp.clear();
    m_capabilities.clear();
    m_capabilitiesListed = false;
    m_apopFallbackAllowed = false;
    m_aheadConfirmed = false;
    if (m_security == Security::Unknown)
        return setError(Error::InvalidArgument, unknownSecurityText(m_host));

    const bool implicitTls = m_security == Security::Tls;
    if (m_trace)
        std::fprintf(stderr, "POP3 connecting to %s:%u%s\n", qPrintable(platform::terminalSafe(m_host)),
                     unsigned(m_port), implicitTls ? " (TLS)" : m_security == Security::StartTls ? " (STLS)" : "");
    m_socket->setTrustedCertificate(m_trustedCertificate);
    const LineSocket::Status status = implicitTls
        ? m_socket->connectToHostEncrypted(m_host, m_port, m_connectTimeoutMs)
        : m_socket->connectToHost(m_host, m_port, m_connectTimeoutMs);
    if (status != LineSocket::Status::Ok) {
        socketFailure(status);
        if (implicitTls && !m_socket->certificateProblem().IsNull())
            m_lastError = Error::TlsFailed;
        return false;
    }

    Reply reply = Reply::Invalid;
    if (!readStatus(&reply))
        return false;
    m_greeting = m_lastReply;
    if (reply == Reply::Invalid)
        return protocolError();
    if (reply == Reply::Err) {
        dropConnection();
        return setError(Error::ServerError, serverErrorText());
    }
    const qsizetype open = m_greeting.indexOf('<');
    if (open >= 0) {
        const qsizetype close = m_greeting.indexOf('>', open);
        if (close >= 0)
            m_apopTimestamp = m_greeting.mid(open, close - open + 1);
    }

    if (!queryCapabilities())
        return false;
    return m_security != Security::StartTls || startTls();
}

bool Pop3Client::queryCapabilities()
{
    m_capabilities.clear();
    m_saslMechanisms.clear();
    m_capabilitiesListed = false;
    Reply reply = Reply::Invalid;
    if (!sendLine("CAPA") || !readStatus(&reply))
        return false;
    if (reply == Reply::Invalid)
        return protocolError();
    if (reply == Reply::Ok) {
        QByteArrayList capabilities;
        QByteArrayList mechanisms;
        const bool listed = readMultiLine([&capabilities, &mechanisms](const QByteArray &line) {
            const QByteArrayList w = words(line);
            if (w.isEmpty())
                return;
            capabilities.append(w.first().toUpper());
            if (capabilities.last() == "SASL") {
                for (qsizetype i = 1; i < w.size(); ++i)
                    mechanisms.append(w.at(i).toUpper());
            }
        });
        if (!listed)
            return false;
        m_capabilities = capabilities;
        m_saslMechanisms = mechanisms;
        m_capabilitiesListed = true;
    }
    return true;
}

bool Pop3Client::startTls()
{
    const QString notSent = QStringLiteral(" Benutzername und Passwort wurden nicht gesendet.");
    // A server that lists its capabilities names STLS when it offers it; one that refused CAPA is asked.
    if (m_capabilitiesListed && !hasCapability("STLS")) {
        dropConnection();
        return setError(Error::TlsUnavailable,
                        QStringLiteral("Der Server %1 bietet keine verschlüsselte Verbindung (STLS) an.").arg(m_host)
                            + notSent);
    }
    Reply reply = Reply::Invalid;
    if (!sendLine("STLS") || !readStatus(&reply))
        return false;
    if (reply == Reply::Invalid)
        return protocolError();
    if (reply == Reply::Err) {
        const QString why = serverErrorText();
        dropConnection();
        return setError(Error::TlsUnavailable,
                        QStringLiteral("Der Server %1 lehnt die verschlüsselte Verbindung (STLS) ab (\"%2\").")
                                .arg(m_host, why)
                            + notSent);
    }
    const LineSocket::Status status = m_socket->startTls(m_connectTimeoutMs);
    if (status != LineSocket::Status::Ok) {
        socketFailure(status);
        if (status == LineSocket::Status::Failed)
            m_lastError = Error::TlsFailed;
        return false;
    }
    if (m_trace)
        std::fprintf(stderr, "POP3 TLS started\n");
    // What was said before the handshake may have been changed on the way: ask again (RFC 2595).
    return queryCapabilities();
}

bool Pop3Client::login()
{
    const QByteArray name = m_userName.toUtf8();
    const QByteArray secret = m_password.toUtf8();
    // A line break would let the stored account data smuggle in commands of its own.
    if (hasLineBreak(name) || hasLineBreak(secret))
        return setError(Error::InvalidArgument,
                        QStringLiteral("Benutzername oder Passwort enthält einen Zeilenumbruch."));
    // The last guard: whatever went before, credentials meant for TLS never go out in the clear.
    if (m_security != Security::None && !m_socket->isEncrypted())
        return setError(Error::TlsFailed, QStringLiteral("Die Verbindung ist nicht verschlüsselt. Benutzername "
                                                         "und Passwort wurden nicht gesendet."));
    if (m_authKind == AuthKind::Bearer)
        return bearerLogin();
    if (m_authKind == AuthKind::Apop) {
        const bool encrypted = m_socket->isEncrypted();
        const bool ok = m_apopTimestamp.isEmpty()
            ? setError(Error::NoApopTimestamp, encrypted ? QStringLiteral("Server do not support APOP (no timestamp)")
                                                         : noApopOnPlainConnectionText())
            : simpleCommand("APOP " + name + ' ' + apopDigest(m_apopTimestamp, secret));
        m_apopFallbackAllowed = !ok && encrypted;
        return ok;
    }
    return simpleCommand("USER " + name) && simpleCommand("PASS " + secret);
}

bool Pop3Client::bearerLogin()
{
    m_bearerUsed.clear();
    // A server that listed its capabilities without SASL may still take AUTH: it is asked all the same.
    const sasl::TBearerStart start = sasl::StartBearer(hasCapability("SASL") ? m_saslMechanisms : QByteArrayList(),
                                                       m_userName, m_password, m_host, m_port);
    if (!start.Mechanism)
        return setError(Error::InvalidArgument, start.ErrorText);
    const sasl::TMechanism *mechanism = &*start.Mechanism;
    const QByteArray &response = start.Response;
    // Without an initial response: a token does not fit into the 255 octets of an AUTH command line.
    Reply reply = Reply::Invalid;
    const auto continuation = [this] { return m_lastReply == "+" || m_lastReply.startsWith("+ "); };
    if (!sendLine("AUTH " + sasl::MechanismName(*mechanism)) || !readStatus(&reply))
        return false;
    if (reply == Reply::Err)
        return setError(Error::ServerError, serverErrorText());
    if (!continuation())
        return protocolError();
    m_secretOut = true;
    const bool sent = sendLine(response.toBase64());
    m_secretOut = false;
    if (!sent || !readStatus(&reply))
        return false;
    QString refusal;
    if (reply == Reply::Invalid && continuation()) {
        // The error challenge: answered, so that the server ends the exchange with its -ERR.
        refusal = sasl::ErrorChallengeText(sasl::DecodeErrorChallenge(m_lastReply.mid(1)));
        if (!sendLine(sasl::ErrorAnswer(*mechanism).toBase64()) || !readStatus(&reply))
            return false;
    }
    switch (reply) {
    case Reply::Ok:
        m_bearerUsed = sasl::MechanismName(*mechanism);
        return true;
    case Reply::Err:
        return setError(Error::ServerError,
                        refusal.isEmpty() ? serverErrorText() : serverErrorText() + QStringLiteral(" ") + refusal);
    case Reply::Invalid:
        break;
    }
    return protocolError();
}

bool Pop3Client::stat(int *count, qint64 *octets)
{
    BusyGuard busy(this);
    if (!busy || !requireSession() || !simpleCommand("STAT"))
        return false;
    const QByteArrayList w = words(m_lastReplyRawText);
    bool ok = false;
    const int n = w.isEmpty() ? -1 : w.first().toInt(&ok);
    if (!ok || n < 0)
        return protocolError();
    *count = n;
    m_sessionCount = std::max(m_sessionCount, n);
    if (octets) {
        const qint64 size = w.size() > 1 ? w.at(1).toLongLong(&ok) : -1;
        *octets = (w.size() > 1 && ok && size >= 0) ? size : -1;
    }
    return true;
}

bool Pop3Client::top(int n, int lines, QByteArray *text)
{
    text->clear();
    BusyGuard busy(this);
    if (!busy || !checkNumber(n) || !requireSession())
        return false;
    if (lines < 0)
        return setError(Error::InvalidArgument, QStringLiteral("Ungültige Zeilenzahl %1.").arg(lines));
    return multiLineCommand("TOP " + QByteArray::number(n) + ' ' + QByteArray::number(lines), text);
}

bool Pop3Client::list(int n, qint64 *size)
{
    BusyGuard busy(this);
    if (!busy || !checkNumber(n) || !requireSession() || !simpleCommand("LIST " + QByteArray::number(n)))
        return false;
    *size = listedSize(m_lastReplyRawText);
    return true;
}

qint64 Pop3Client::listedSize(const QByteArray &replyText)
{
    const QByteArrayList w = words(replyText);
    bool ok = false;
    const qint64 value = w.size() > 1 ? w.at(1).toLongLong(&ok) : -1;
    return (ok && value >= 0) ? value : -1;
}

bool Pop3Client::retr(int n, QByteArray *message)
{
    message->clear();
    BusyGuard busy(this);
    if (!busy || !checkNumber(n) || !requireSession())
        return false;
    return multiLineCommand("RETR " + QByteArray::number(n), message);
}

bool Pop3Client::dele(int n)
{
    BusyGuard busy(this);
    return busy && checkNumber(n) && requireSession() && simpleCommand("DELE " + QByteArray::number(n));
}

bool Pop3Client::noop()
{
    BusyGuard busy(this);
    return busy && requireSession() && simpleCommand("NOOP");
}

bool Pop3Client::uidl(QMap<int, QByteArray> *uids)
{
    return listingCommand<QByteArray>("UIDL", uids, [](const QByteArray &uid) -> std::optional<QByteArray> {
        if (uid.size() > kMaxUidLength)
            return std::nullopt;
        return uid;
    });
}

bool Pop3Client::list(QMap<int, qint64> *sizes)
{
    return listingCommand<qint64>("LIST", sizes, [](const QByteArray &word) -> std::optional<qint64> {
        bool numeric = false;
        const qint64 size = word.toLongLong(&numeric);
        if (!numeric || size < 0)
            return std::nullopt;
        return size;
    });
}

bool Pop3Client::uidl(int n, QByteArray *uid)
{
    uid->clear();
    BusyGuard busy(this);
    if (!busy || !checkNumber(n) || !requireSession() || !simpleCommand("UIDL " + QByteArray::number(n)))
        return false;
    const QByteArrayList w = words(m_lastReplyRawText);
    if (w.size() < 2)
        return protocolError();
    *uid = w.at(1);
    return true;
}

bool Pop3Client::command(const QByteArray &line)
{
    BusyGuard busy(this);
    if (!busy)
        return false;
    if (hasLineBreak(line))
        return setError(Error::InvalidArgument, QStringLiteral("Ungültiger Befehl."));
    return requireSession() && simpleCommand(line);
}

bool Pop3Client::batch(const BatchSource &source, const BatchSink &sink)
{
    BusyGuard busy(this);
    if (!busy || !requireSession())
        return false;
    struct Sent {
        BatchCommand command;
        qint64 octets;
        bool ahead; // written before the reply to an earlier command came
    };
    const int window = pipelining() ? kPipelineWindow : 1;
    const int refillAt = std::max(1, window / 4);
    QList<Sent> outstanding;
    qint64 octetsOut = 0;
    std::optional<BatchCommand> next; // taken from source, not sent yet
    bool more = true;
    for (;;) {
        // Refill the window once a quarter of it is free, in one write.
        if (more
            && (outstanding.isEmpty()
                || (outstanding.size() + refillAt <= window
                    && octetsOut + kPipelineWindowBytes / 4 <= kPipelineWindowBytes))) {
            QByteArray out;
            while (outstanding.size() < window) {
                if (!next) {
                    BatchCommand command;
                    if (!source(&command)) {
                        more = false;
                        break;
                    }
                    next = std::move(command);
                }
                const qint64 octets = next->line.size() + 2;
                if (!outstanding.isEmpty() && octetsOut + octets > kPipelineWindowBytes)
                    break;
                if (hasLineBreak(next->line)) {
                    if (!outstanding.isEmpty())
                        dropConnection();
                    return setError(Error::InvalidArgument, QStringLiteral("Ungültiger Befehl."));
                }
                trace("C", next->line);
                out += next->line + "\r\n";
                octetsOut += octets;
                const bool ahead = !outstanding.isEmpty();
                outstanding.append({std::move(*next), octets, ahead});
                next.reset();
            }
            if (!out.isEmpty()) {
                const LineSocket::Status status = m_socket->write(out);
                if (status != LineSocket::Status::Ok)
                    return socketFailure(status);
            }
        }
        if (outstanding.isEmpty())
            return true;

        const Sent sent = outstanding.takeFirst();
        octetsOut -= sent.octets;
        // Each reply is read under the limit of its own command, not of the last one sent.
        m_replyLimit = limitFor(sent.command.line);
        Reply status = Reply::Invalid;
        const bool probing = sent.ahead && !m_aheadConfirmed;
        if (!readStatus(&status, probing ? m_aheadProbeMs : -1))
            return false;
        if (status == Reply::Invalid)
            return protocolError();
        if (sent.ahead)
            m_aheadConfirmed = true;
        BatchReply reply;
        reply.ok = status == Reply::Ok;
        reply.status = m_lastReply;
        reply.text = m_lastReplyRawText;
        if (!reply.ok)
            reply.errorText = serverErrorText();
        else if (sent.command.multiLine && !collectMultiLine(&reply.data))
            return false;
        if (!sink(sent.command, reply)) {
            if (!outstanding.isEmpty())
                dropConnection();
            return true;
        }
    }
}

bool Pop3Client::quit()
{
    BusyGuard busy(this);
    if (!busy)
        return false;
    if (!m_socket->isConnected()) {
        m_loggedIn = false;
        return setError(Error::NotConnected, notConnectedText());
    }
    const bool ok = simpleCommand("QUIT");
    dropConnection();
    return ok;
}

bool Pop3Client::disconnect(bool sendQuit)
{
    if (m_busy) {
        abort();
        return false;
    }
    const QByteArray reply = m_lastReply;
    const QByteArray rawText = m_lastReplyRawText;
    const QString replyText = m_lastReplyText;
    const int code = m_lastReplyCode;
    const Error error = m_lastError;
    const QString errorText = m_lastErrorText;
    const bool committed = sendQuit && m_socket->isConnected() && quit();
    dropConnection();
    m_lastReply = reply;
    m_lastReplyRawText = rawText;
    m_lastReplyText = replyText;
    m_lastReplyCode = code;
    m_lastError = error;
    m_lastErrorText = errorText;
    return committed;
}

void Pop3Client::forceClose()
{
    if (m_busy) {
        abort();
        return;
    }
    dropConnection();
}

void Pop3Client::abort()
{
    m_socket->abort();
}
