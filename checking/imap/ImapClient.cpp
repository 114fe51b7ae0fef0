#include "ImapClient.h"

#include "Sasl.h"
#include "TextCodec.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

bool hasLineBreak(const QByteArray &bytes)
{
    return bytes.contains('\r') || bytes.contains('\n') || bytes.contains('\0');
}

const QString kNotSentText = QStringLiteral(" Benutzername und Passwort wurden nicht gesendet.");

// What a wait ended by: the line's own time-out, the response deadline, or the deadline of everything.
enum Bound { LineBound = 0, ResponseBound = 1, OverallBound = 2 };

} // namespace

// Marks the client as waiting for the duration of one public operation; a second one that starts from an
// event handler during that wait is refused.
class ImapClient::BusyGuard {
public:
    explicit BusyGuard(ImapClient *client) : m_client(client), m_acquired(!client->m_busy)
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
        if (m_acquired)
            m_client->m_busy = false;
    }
    BusyGuard(const BusyGuard &) = delete;
    BusyGuard &operator=(const BusyGuard &) = delete;
    explicit operator bool() const { return m_acquired; }

private:
    ImapClient *m_client;
    bool m_acquired;
};

ImapClient::ImapClient(const LineSocketFactory &factory)
    : m_socket(factory ? factory() : tcpLineSocketFactory()()), m_trace(qEnvironmentVariableIsSet("QUARVEL_IMAP_TRACE"))
{
}

ImapClient::~ImapClient()
{
    m_socket->abort();
}

bool ImapClient::isConnected() const
{
    return m_loggedIn && m_socket->isConnected();
}

bool ImapClient::hasCapability(const QByteArray &name) const
{
    return m_capabilities.contains(name.toUpper());
}

void ImapClient::trace(const char *who, const QByteArray &line) const
{
    if (!m_trace)
        return;
    std::fprintf(stderr, "IMAP %s: %s\n", who, platform::terminalSafe(line).constData());
    std::fflush(stderr);
}

bool ImapClient::setError(Error error, const QString &text)
{
    m_lastError = error;
    m_lastErrorText = text;
    m_failureKind = TFailureKind::Other;
    return false;
}

TFailureKind ImapClient::failureKind() const
{
    if (m_lastError == Error::None)
        return TFailureKind::Other;
    if (m_lastError == Error::TimedOut)
        return TFailureKind::TimedOut;
    return m_failureKind;
}

void ImapClient::dropConnection()
{
    m_loggedIn = false;
    m_preauth = false;
    m_idleTag.clear();
    m_selected = Mailbox();
    m_socket->discardInput();
    m_socket->close();
}

bool ImapClient::socketFailure(LineSocket::Status status, int bound)
{
    QString text = socketErrorText(*m_socket);
    const TFailureKind kind = m_socket->failureKind();
    if (status == LineSocket::Status::TimedOut && bound == ResponseBound)
        text = replyTooSlowText();
    else if (status == LineSocket::Status::TimedOut && bound == OverallBound)
        text = QStringLiteral("Zeitüberschreitung: Die für diesen Server vorgesehene Zeit ist abgelaufen.");
    dropConnection();
    setError(socketErrorKind<Error>(status), text);
    m_failureKind = kind;
    return false;
}

bool ImapClient::protocolError(const QString &what)
{
    dropConnection();
    return setError(Error::ProtocolError, QStringLiteral("Unerwartete Antwort des Servers: %1").arg(what));
}

bool ImapClient::serverRefused(const ImapResponse &response)
{
    QString text = platform::decode8bit(response.fullText).trimmed();
    if (text.isEmpty())
        text = QString::fromLatin1(response.name);
    return setError(response.name == "BAD" ? Error::BadCommand : Error::ServerError, text);
}

bool ImapClient::requireSession()
{
    if (isConnected())
        return true;
    return setError(Error::NotConnected, QStringLiteral("Keine Verbindung zum Server."));
}

QByteArray ImapClient::nextTag()
{
    return "A" + QByteArray::number(++m_tagCounter);
}

int ImapClient::waitFor(const QDeadlineTimer &responseDeadline, int lineWaitMs, int *bound) const
{
    qint64 wait = std::max(lineWaitMs, 0);
    *bound = LineBound;
    const qint64 responseLeft = responseDeadline.remainingTime();
    if (responseLeft >= 0 && responseLeft < wait) {
        wait = responseLeft;
        *bound = ResponseBound;
    }
    const qint64 left = m_deadline.remainingTime();
    if (left >= 0 && left < wait) {
        wait = left;
        *bound = OverallBound;
    }
    return int(wait);
}

bool ImapClient::writeLine(const QByteArray &line, bool secret)
{
    trace("C", secret ? line.left(line.lastIndexOf(' ') + 1) + "********" : line);
    const LineSocket::Status status = m_socket->write(line + "\r\n");
    return status == LineSocket::Status::Ok || socketFailure(status);
}

bool ImapClient::readPiece(QByteArray *line, const QDeadlineTimer &responseDeadline, int firstWaitMs)
{
    int bound = LineBound;
    const int wait = waitFor(responseDeadline, firstWaitMs >= 0 ? firstWaitMs : m_readTimeoutMs, &bound);
    const LineSocket::Status status = m_socket->readLine(line, wait, m_maxLineLength);
    if (status != LineSocket::Status::Ok)
        return socketFailure(status, bound);
    trace("S", *line);
    return true;
}

bool ImapClient::readLiteral(qint64 length, QByteArray *data, const QDeadlineTimer &responseDeadline)
{
    data->clear();
    data->reserve(qsizetype(std::min<qint64>(length, 1024 * 1024)));
    while (data->size() < length) {
        int bound = LineBound;
        const int wait = waitFor(responseDeadline, m_readTimeoutMs, &bound);
        QByteArray chunk;
        const LineSocket::Status status = m_socket->readSome(&chunk, length - data->size(), wait);
        if (status != LineSocket::Status::Ok)
            return socketFailure(status, bound);
        data->append(chunk);
    }
    if (m_trace)
        std::fprintf(stderr, "IMAP S: <%lld octets>\n", (long long)length);
    return true;
}

bool ImapClient::readResponse(ImapResponse *response, int waitMs, bool *quiet)
{
    QByteArrayList pieces;
    QByteArray line;
    if (quiet) {
        // A quiet server is what an idle session expects: only a line that began and did not end fails.
        *quiet = false;
        int bound = LineBound;
        const int wait = waitFor(QDeadlineTimer(QDeadlineTimer::Forever), waitMs, &bound);
        const LineSocket::Status status = m_socket->readLine(&line, wait, m_maxLineLength);
        if (status == LineSocket::Status::TimedOut && bound == LineBound) {
            *quiet = true;
            return true;
        }
        if (status != LineSocket::Status::Ok)
            return socketFailure(status, bound);
        trace("S", line);
    }
    const QDeadlineTimer responseDeadline(std::max(m_replyDeadlineMs, 0));
    if (!quiet && !readPiece(&line, responseDeadline, waitMs))
        return false;
    qint64 literals = 0;
    for (;;) {
        pieces.append(line);
        const std::optional<qint64> length = AnnouncedLiteral(line);
        if (!length)
            break;
        if (*length < 0 || *length > m_literalLimit - literals) {
            dropConnection();
            return setError(Error::ReplyTooLarge,
                            QStringLiteral("Die Antwort des Servers ist zu groß (mehr als %1 Bytes).").arg(m_literalLimit));
        }
        literals += *length;
        QByteArray data;
        if (!readLiteral(*length, &data, responseDeadline))
            return false;
        pieces.append(data);
        if (!readPiece(&line, responseDeadline, -1))
            return false;
    }
    QString why;
    if (!ParseImapResponse(pieces, response, &why))
        return protocolError(platform::decode8bit(pieces.first().left(200)));
    return true;
}

void ImapClient::takeCapabilities(const QList<ImapValue> &values)
{
    m_capabilities.clear();
    for (const ImapValue &v : values)
        if (v.kind == ImapValue::Atom)
            m_capabilities.append(v.text.toUpper());
}

bool ImapClient::follow(const ImapResponse &response)
{
    if (response.kind != ImapResponse::Untagged)
        return true;
    if (response.name == "BYE") {
        const QString text = platform::decode8bit(response.fullText).trimmed();
        dropConnection();
        setError(Error::ServerClosing, text.isEmpty() ? QStringLiteral("Der Server hat die Verbindung beendet.")
                                                      : QStringLiteral("Der Server hat die Verbindung beendet: %1").arg(text));
        return false;
    }
    if (response.name == "EXISTS" && response.number >= 0) {
        m_selected.Exists = response.number;
    } else if (response.name == "EXPUNGE" && response.number > 0) {
        m_selected.Exists = std::max<qint64>(m_selected.Exists - 1, 0);
    } else if (response.name == "CAPABILITY") {
        takeCapabilities(response.values);
    } else if (response.name == "OK" && !response.codeArgs.isEmpty()) {
        const std::optional<qint64> n = response.codeArgs.first().number();
        if (response.code == "UIDVALIDITY" && n && *n > 0 && *n <= 0xffffffffLL)
            m_selected.UidValidity = uint32_t(*n);
        else if (response.code == "UIDNEXT" && n && *n <= 0xffffffffLL)
            m_selected.UidNext = uint32_t(*n);
        else if (response.code == "CAPABILITY")
            takeCapabilities(response.codeArgs);
    }
    return true;
}

bool ImapClient::completeAll(QList<Pending> &pending, const Untagged &untagged,
                             const std::function<bool(const ImapResponse &)> &continuation)
{
    bool allOk = true;
    const auto open = [&pending] {
        return std::any_of(pending.cbegin(), pending.cend(), [](const Pending &p) { return !p.done; });
    };
    while (open()) {
        ImapResponse r;
        if (!readResponse(&r))
            return false;
        if (r.kind == ImapResponse::Continuation) {
            if (!continuation)
                return protocolError(QStringLiteral("Fortsetzungsanfrage ohne Literal"));
            if (!continuation(r))
                return false;
            continue;
        }
        if (r.kind == ImapResponse::Untagged) {
            if (!follow(r))
                return false;
            if (untagged)
                untagged(r);
            continue;
        }
        const auto it = std::find_if(pending.begin(), pending.end(),
                                     [&r](const Pending &p) { return !p.done && p.tag == r.tag; });
        if (it == pending.end())
            return protocolError(platform::decode8bit(r.line));
        it->done = true;
        it->ok = r.name == "OK";
        m_lastCode = r.code;
        if (it->ok && r.code == "CAPABILITY")
            takeCapabilities(r.codeArgs);
        if (!it->ok && allOk) {
            allOk = false;
            serverRefused(r);
        }
    }
    return allOk;
}

bool ImapClient::sendCommand(const QByteArray &tag, const QList<std::pair<QByteArray, bool>> &parts,
                             const Untagged &untagged)
{
    QByteArray line = tag;
    for (const auto &[text, literal] : parts) {
        if (!literal) {
            line += ' ' + text;
            continue;
        }
        const bool nonSync = hasCapability("LITERAL+") || (hasCapability("LITERAL-") && text.size() <= 4096);
        line += " {" + QByteArray::number(text.size()) + (nonSync ? "+}" : "}");
        if (!writeLine(line))
            return false;
        line.clear();
        while (!nonSync) {
            // The server says whether it takes the literal.
            ImapResponse r;
            if (!readResponse(&r))
                return false;
            if (r.kind == ImapResponse::Continuation)
                break;
            if (r.kind == ImapResponse::Tagged) {
                if (r.tag != tag)
                    return protocolError(platform::decode8bit(r.line));
                m_lastCode = r.code;
                return serverRefused(r);
            }
            if (!follow(r))
                return false;
            if (untagged)
                untagged(r);
        }
        if (m_trace)
            std::fprintf(stderr, "IMAP C: <%lld octets>\n", (long long)text.size());
        const LineSocket::Status status = m_socket->write(text);
        if (status != LineSocket::Status::Ok)
            return socketFailure(status);
    }
    return writeLine(line);
}

bool ImapClient::command(const QByteArray &line, const Untagged &untagged)
{
    BusyGuard busy(this);
    if (!busy || !requireSession())
        return false;
    const QByteArray tag = nextTag();
    QList<Pending> pending{{tag}};
    return sendCommand(tag, {{line, false}}, untagged) && completeAll(pending, untagged);
}

bool ImapClient::commands(const QByteArrayList &lines, const Untagged &untagged)
{
    BusyGuard busy(this);
    if (!busy || !requireSession())
        return false;
    QList<Pending> pending;
    for (const QByteArray &line : lines) {
        pending.append({nextTag()});
        if (!writeLine(pending.last().tag + ' ' + line))
            return false;
    }
    return completeAll(pending, untagged);
}

bool ImapClient::select(const QString &mailbox, bool readOnly)
{
    BusyGuard busy(this);
    if (!busy || !requireSession())
        return false;
    m_selected = Mailbox();
    const QByteArray wire = EncodeMailboxName(mailbox);
    const std::optional<QByteArray> quoted = ImapQuoted(wire);
    const QByteArray tag = nextTag();
    QList<Pending> pending{{tag}};
    const QByteArray verb = readOnly ? "EXAMINE" : "SELECT";
    const bool ok = sendCommand(tag, {{verb, false}, {quoted.value_or(wire), !quoted}}, {})
        && completeAll(pending, {});
    if (!ok) {
        m_selected = Mailbox();
        return false;
    }
    m_selected.Name = mailbox;
    m_selected.ReadOnly = readOnly || m_lastCode == "READ-ONLY";
    return true;
}

bool ImapClient::connect()
{
    BusyGuard busy(this);
    if (!busy || !openConnection())
        return false;
    // A session that began logged in (PREAUTH) needs no login.
    if (!m_preauth && !login()) {
        if (m_lastError == Error::ServerError)
            m_failureKind = TFailureKind::LoginRefused;
        if (m_socket->isConnected())
            dropConnection();
        return false;
    }
    m_loggedIn = true;
    return true;
}

bool ImapClient::probe()
{
    BusyGuard busy(this);
    if (!busy || !openConnection())
        return false;
    // The session ends here: nothing of the login goes out.
    logoutAndClose();
    m_lastError = Error::None;
    m_lastErrorText.clear();
    return true;
}

bool ImapClient::openConnection()
{
    dropConnection();
    m_capabilities.clear();
    m_tagCounter = 0;
    m_lastCode.clear();
    if (m_security == Security::Unknown)
        return setError(Error::InvalidArgument, unknownSecurityText(m_host));
    const bool implicitTls = m_security == Security::Tls;
    if (m_trace)
        std::fprintf(stderr, "IMAP connecting to %s:%u%s\n", qPrintable(platform::terminalSafe(m_host)),
                     unsigned(m_port), implicitTls ? " (TLS)" : m_security == Security::StartTls ? " (STARTTLS)" : "");
    m_socket->setTrustedCertificate(m_trustedCertificate);
    const LineSocket::Status status = implicitTls ? m_socket->connectToHostEncrypted(m_host, m_port, m_connectTimeoutMs)
                                                  : m_socket->connectToHost(m_host, m_port, m_connectTimeoutMs);
    if (status != LineSocket::Status::Ok) {
        socketFailure(status);
        if (implicitTls && !m_socket->certificateProblem().IsNull())
            m_lastError = Error::TlsFailed;
        return false;
    }
    ImapResponse greeting;
    const bool opened = readResponse(&greeting) && greet(greeting);
    if (!opened && m_socket->isConnected())
        dropConnection();
    return opened;
}

bool ImapClient::greet(const ImapResponse &greeting)
{
    if (greeting.kind != ImapResponse::Untagged
        || (greeting.name != "OK" && greeting.name != "PREAUTH" && greeting.name != "BYE"))
        return protocolError(platform::decode8bit(greeting.line));
    if (!follow(greeting))
        return false;
    if (greeting.code == "CAPABILITY")
        takeCapabilities(greeting.codeArgs);
    else if (!queryCapabilities())
        return false;
    if (greeting.name == "PREAUTH") {
        // Logged in before any STARTTLS could come: whoever sits on the way may have made it so.
        if (m_security == Security::StartTls) {
            dropConnection();
            return setError(Error::TlsUnavailable,
                            QStringLiteral("Der Server %1 hat die Sitzung ohne Anmeldung und unverschlüsselt begonnen "
                                           "(PREAUTH); eine verschlüsselte Verbindung (STARTTLS) ist so nicht möglich.")
                                    .arg(m_host)
                                + kNotSentText);
        }
        m_preauth = true;
        return true;
    }
    return m_security != Security::StartTls || startTls();
}

bool ImapClient::queryCapabilities()
{
    const QByteArray tag = nextTag();
    QList<Pending> pending{{tag}};
    return sendCommand(tag, {{"CAPABILITY", false}}, {}) && completeAll(pending, {});
}

bool ImapClient::startTls()
{
    if (!hasCapability("STARTTLS")) {
        dropConnection();
        return setError(Error::TlsUnavailable,
                        QStringLiteral("Der Server %1 bietet keine verschlüsselte Verbindung (STARTTLS) an.").arg(m_host)
                            + kNotSentText);
    }
    const QByteArray tag = nextTag();
    QList<Pending> pending{{tag}};
    if (!sendCommand(tag, {{"STARTTLS", false}}, {}))
        return false;
    if (!completeAll(pending, {})) {
        if (m_lastError != Error::ServerError && m_lastError != Error::BadCommand)
            return false;
        const QString why = m_lastErrorText;
        dropConnection();
        return setError(Error::TlsUnavailable,
                        QStringLiteral("Der Server %1 lehnt die verschlüsselte Verbindung (STARTTLS) ab (\"%2\").")
                                .arg(m_host, why)
                            + kNotSentText);
    }
    const LineSocket::Status status = m_socket->startTls(m_connectTimeoutMs);
    if (status != LineSocket::Status::Ok) {
        socketFailure(status);
        if (status == LineSocket::Status::Failed)
            m_lastError = Error::TlsFailed;
        return false;
    }
    if (m_trace)
        std::fprintf(stderr, "IMAP TLS started\n");
    // What was said before the handshake may have been changed on the way: ask again.
    m_capabilities.clear();
    return queryCapabilities();
}

bool ImapClient::login()
{
    const QByteArray name = m_userName.toUtf8();
    const QByteArray secret = m_password.toUtf8();
    if (hasLineBreak(name) || hasLineBreak(secret))
        return setError(Error::InvalidArgument, QStringLiteral("Benutzername oder Passwort enthält einen Zeilenumbruch."));
    // The last guard: whatever went before, credentials meant for TLS never go out in the clear.
    if (m_security != Security::None && !m_socket->isEncrypted())
        return setError(Error::TlsFailed, QStringLiteral("Die Verbindung ist nicht verschlüsselt. Benutzername "
                                                         "und Passwort wurden nicht gesendet."));
    const QByteArray tag = nextTag();
    QList<Pending> pending{{tag}};
    bool sent = false;
    std::function<bool(const ImapResponse &)> challenge;
    QString refusal;
    if (m_authKind == AuthKind::Bearer) {
        QByteArrayList offered;
        for (const QByteArray &capability : std::as_const(m_capabilities)) {
            if (capability.startsWith("AUTH="))
                offered.append(capability.mid(5));
        }
        const sasl::TBearerStart start = sasl::StartBearer(offered, m_userName, m_password, m_host, m_port);
        if (!start.Mechanism)
            return setError(Error::InvalidArgument, start.ErrorText);
        const sasl::TMechanism *mechanism = &*start.Mechanism;
        sent = sendAuthenticate(tag, sasl::MechanismName(*mechanism), start.Response.toBase64());
        // A challenge now is the server's error report: answered, so that it completes the command.
        challenge = [this, &refusal, answer = sasl::ErrorAnswer(*mechanism).toBase64()](const ImapResponse &r) {
            refusal = sasl::ErrorChallengeText(sasl::DecodeErrorChallenge(r.line.mid(1)));
            return writeLine(answer);
        };
    } else if (hasCapability("AUTH=PLAIN")) {
        const QByteArray response = (QByteArray(1, '\0') + name + QByteArray(1, '\0') + secret).toBase64();
        sent = sendAuthenticate(tag, "PLAIN", response);
    } else if (hasCapability("LOGINDISABLED")) {
        return setError(Error::InvalidArgument,
                        QStringLiteral("Der Server %1 nimmt die Anmeldung mit Kennwort auf diesem Weg nicht an "
                                       "(LOGINDISABLED).")
                            .arg(m_host));
    } else {
        const std::optional<QByteArray> user = ImapQuoted(name);
        const std::optional<QByteArray> pass = ImapQuoted(secret);
        const bool wasTracing = m_trace;
        if (m_trace && pass)
            trace("C", tag + " LOGIN " + user.value_or("{...}") + " ********");
        m_trace = m_trace && !pass;
        sent = sendCommand(tag, {{"LOGIN", false}, {user.value_or(name), !user}, {pass.value_or(secret), !pass}}, {});
        m_trace = wasTracing;
    }
    if (!sent || !completeAll(pending, {}, challenge)) {
        if (m_lastError == Error::ServerError && !refusal.isEmpty())
            m_lastErrorText += QStringLiteral(" ") + refusal;
        return false;
    }
    // The logged-in session may offer more than the greeting did.
    if (m_lastCode != "CAPABILITY")
        return queryCapabilities();
    return true;
}

bool ImapClient::sendAuthenticate(const QByteArray &tag, const QByteArray &mechanism, const QByteArray &response)
{
    if (hasCapability("SASL-IR"))
        return writeLine(tag + " AUTHENTICATE " + mechanism + ' ' + response, true);
    if (!writeLine(tag + " AUTHENTICATE " + mechanism))
        return false;
    for (;;) {
        ImapResponse r;
        if (!readResponse(&r))
            return false;
        if (r.kind == ImapResponse::Continuation)
            break;
        if (r.kind == ImapResponse::Tagged && r.tag == tag)
            return serverRefused(r);
        if (r.kind == ImapResponse::Tagged)
            return protocolError(platform::decode8bit(r.line));
        if (!follow(r))
            return false;
    }
    return writeLine(response, true);
}

bool ImapClient::idle(const Untagged &untagged)
{
    BusyGuard busy(this);
    if (!busy || !requireSession())
        return false;
    const QByteArray tag = nextTag();
    if (!writeLine(tag + " IDLE"))
        return false;
    for (;;) {
        ImapResponse r;
        if (!readResponse(&r))
            return false;
        if (r.kind == ImapResponse::Continuation) {
            m_idleTag = tag;
            return true;
        }
        if (r.kind == ImapResponse::Tagged) {
            if (r.tag != tag)
                return protocolError(platform::decode8bit(r.line));
            return serverRefused(r);
        }
        if (!follow(r))
            return false;
        if (untagged)
            untagged(r);
    }
}

bool ImapClient::idleWait(int ms, const Untagged &untagged)
{
    BusyGuard busy(this);
    if (!busy || !requireSession())
        return false;
    ImapResponse r;
    bool quiet = false;
    if (!readResponse(&r, ms, &quiet))
        return false;
    if (quiet)
        return true;
    if (r.kind == ImapResponse::Tagged) {
        if (r.tag != m_idleTag)
            return protocolError(platform::decode8bit(r.line));
        // The server ended the idle itself.
        m_idleTag.clear();
        return r.name == "OK" || serverRefused(r);
    }
    if (r.kind == ImapResponse::Continuation)
        return true;
    if (!follow(r))
        return false;
    if (untagged)
        untagged(r);
    return true;
}

bool ImapClient::idleDone(const Untagged &untagged)
{
    BusyGuard busy(this);
    if (!busy || !requireSession())
        return false;
    if (m_idleTag.isEmpty())
        return true;
    QList<Pending> pending{{m_idleTag}};
    m_idleTag.clear();
    return writeLine("DONE") && completeAll(pending, untagged);
}

bool ImapClient::logout()
{
    BusyGuard busy(this);
    if (!busy || !m_socket->isConnected())
        return false;
    return logoutAndClose();
}

bool ImapClient::logoutAndClose()
{
    const QByteArray tag = nextTag();
    bool ok = writeLine(tag + " LOGOUT");
    while (ok) {
        ImapResponse r;
        if (!readResponse(&r))
            return false;
        if (r.kind == ImapResponse::Tagged && r.tag == tag) {
            ok = r.name == "OK";
            break;
        }
    }
    dropConnection();
    return ok;
}

void ImapClient::disconnect(bool sendLogout)
{
    const Error error = m_lastError;
    const QString text = m_lastErrorText;
    if (sendLogout && isConnected() && !m_busy)
        logout();
    if (!m_busy)
        dropConnection();
    else
        abort();
    m_lastError = error;
    m_lastErrorText = text;
}

void ImapClient::forceClose()
{
    if (m_busy) {
        abort();
        return;
    }
    dropConnection();
}

void ImapClient::abort()
{
    m_socket->abort();
}
