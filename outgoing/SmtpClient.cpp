#include "SmtpClient.h"

#include "Sasl.h"
#include "TextCodec.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <cstdio>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

SmtpClient::SmtpClient(const LineSocketFactory &factory)
    : m_socket(factory ? factory() : tcpLineSocketFactory()()),
      m_trace(qEnvironmentVariableIsSet("QUARVEL_SMTP_TRACE"))
{
}

SmtpClient::~SmtpClient()
{
    m_socket->abort();
}

bool SmtpClient::isConnected() const
{
    return m_open && m_socket->isConnected();
}

bool SmtpClient::isEncrypted() const
{
    return isConnected() && m_socket->isEncrypted();
}

QByteArrayList SmtpClient::authMechanisms() const
{
    QByteArrayList mechanisms;
    for (const QByteArray &line : m_capabilities) {
        const QByteArray upper = line.trimmed().toUpper();
        if (!upper.startsWith("AUTH") || upper.size() < 5 || (upper.at(4) != ' ' && upper.at(4) != '='))
            continue;
        for (const QByteArray &word : upper.mid(5).simplified().split(' '))
            if (!word.isEmpty() && !mechanisms.contains(word))
                mechanisms.append(word);
    }
    return mechanisms;
}

QByteArray SmtpClient::dotStuffed(const QByteArray &message)
{
    QByteArray out;
    out.reserve(message.size() + message.size() / 64 + 8);
    qsizetype start = 0;
    while (start < message.size()) {
        qsizetype end = message.indexOf('\n', start);
        const qsizetype next = end < 0 ? message.size() : end + 1;
        if (end < 0)
            end = message.size();
        qsizetype stop = end;
        if (stop > start && message.at(stop - 1) == '\r')
            --stop;
        if (message.at(start) == '.')
            out.append('.');
        out.append(message.constData() + start, stop - start);
        out.append("\r\n");
        start = next;
    }
    out.append(".\r\n");
    return out;
}

void SmtpClient::trace(const char *who, const QByteArray &line) const
{
    if (!m_trace)
        return;
    std::fprintf(stderr, "SMTP %s: %s\n", who, platform::terminalSafe(line).constData());
    std::fflush(stderr);
}

bool SmtpClient::setError(Error error, const QString &text)
{
    m_lastError = error;
    m_lastErrorText = text;
    m_socketFailure = TFailureKind::Other;
    return false;
}

void SmtpClient::resetReply()
{
    m_lastReplyCode = 0;
    m_lastReplyText.clear();
    m_replyLines.clear();
}

void SmtpClient::dropConnection()
{
    m_open = false;
    if (m_socket->isConnected())
        m_socket->discardInput();
    m_socket->close();
}

bool SmtpClient::protocolError(const QString &text)
{
    dropConnection();
    resetReply();
    return setError(Error::ProtocolError, text);
}

bool SmtpClient::socketFailure(LineSocket::Status status)
{
    const QString text = socketErrorText(*m_socket);
    const TFailureKind kind = m_socket->failureKind();
    dropConnection();
    resetReply();
    setError(socketErrorKind<Error>(status), text);
    m_socketFailure = kind;
    return false;
}

TFailureKind SmtpClient::failureKind() const
{
    switch (m_lastError) {
    case Error::None:
        return TFailureKind::Other;
    case Error::TimedOut:
        return TFailureKind::TimedOut;
    case Error::ServerError:
        return m_lastReplyCode == 535 ? TFailureKind::LoginRefused : TFailureKind::Other;
    default:
        return m_socketFailure;
    }
}

int SmtpClient::waitMs(int timeoutMs) const
{
    const qint64 left = m_deadline.remainingTime();
    return left < 0 ? timeoutMs : int(std::clamp<qint64>(left, 0, timeoutMs));
}

bool SmtpClient::requireSession()
{
    if (isConnected())
        return true;
    resetReply();
    return setError(Error::NotConnected, QStringLiteral("Keine Verbindung zum Server."));
}

bool SmtpClient::sendLine(const QByteArray &line, bool secret)
{
    trace("C", secret ? QByteArray("********") : line);
    const LineSocket::Status status = m_socket->write(line + "\r\n");
    return status == LineSocket::Status::Ok || socketFailure(status);
}

bool SmtpClient::readReply()
{
    resetReply();
    const QDeadlineTimer replyDeadline(std::max(m_replyDeadlineMs, 0));
    QByteArrayList lines;
    int code = 0;
    for (;;) {
        if (lines.size() == kMaxReplyLines)
            return protocolError(
                QStringLiteral("Die Antwort des Servers ist zu lang (mehr als %1 Zeilen).").arg(kMaxReplyLines));
        // The line's own time-out, cut short by the client's deadline and by the whole reply's.
        const int lineWaitMs = waitMs(m_readTimeoutMs);
        const qint64 replyLeft = replyDeadline.remainingTime();
        const bool replyBound = replyLeft < lineWaitMs;
        QByteArray line;
        const LineSocket::Status status =
            m_socket->readLine(&line, int(replyBound ? replyLeft : lineWaitMs), kMaxLineLength);
        if (status != LineSocket::Status::Ok) {
            socketFailure(status);
            if (status == LineSocket::Status::TimedOut && replyBound)
                m_lastErrorText = replyTooSlowText();
            return false;
        }
        trace("S", line);
        const bool valid = line.size() >= 3 && line.at(0) >= '1' && line.at(0) <= '5' && isDigit(line.at(1))
                           && isDigit(line.at(2)) && (line.size() == 3 || line.at(3) == ' ' || line.at(3) == '-');
        const int lineCode = valid ? line.left(3).toInt() : 0;
        if (!valid || (!lines.isEmpty() && lineCode != code))
            return protocolError(
                QStringLiteral("Unerwartete Antwort des Servers: %1").arg(platform::decode8bit(line)));
        code = lineCode;
        lines.append(line.mid(4));
        if (line.size() == 3 || line.at(3) == ' ')
            break;
    }
    m_lastReplyCode = code;
    m_replyLines = lines;
    QStringList texts;
    for (const QByteArray &line : lines)
        if (const QString text = platform::decode8bit(line).trimmed(); !text.isEmpty())
            texts.append(text);
    m_lastReplyText = texts.join(QLatin1Char(' '));
    return true;
}

bool SmtpClient::expect(std::initializer_list<int> expected)
{
    if (std::find(expected.begin(), expected.end(), m_lastReplyCode) != expected.end())
        return true;
    // A server that gives no words still gives a text: an empty error text would read as "no error".
    const QString text =
        m_lastReplyText.isEmpty() ? QStringLiteral("Der Server hat abgelehnt.") : m_lastReplyText;
    return setError(Error::ServerError, text);
}

bool SmtpClient::command(const QByteArray &line, std::initializer_list<int> expected, bool secret)
{
    resetReply();
    return sendLine(line, secret) && readReply() && expect(expected);
}

bool SmtpClient::open(const QString &host, quint16 port)
{
    m_abortRequested.store(false);
    if (openWith(host, port, m_security))
        return true;
    if (m_security != Security::Opportunistic || !m_handshakeFailed || m_abortRequested.load())
        return false;
    if (m_trace)
        std::fprintf(stderr, "SMTP TLS handshake failed, connecting again without it\n");
    return openWith(host, port, Security::None);
}

bool SmtpClient::openWith(const QString &host, quint16 port, Security security)
{
    dropConnection();
    resetReply();
    m_lastError = Error::None;
    m_lastErrorText.clear();
    m_extended = false;
    m_capabilities.clear();
    m_authUsed.clear();
    m_handshakeFailed = false;
    if (security == Security::Unknown)
        return setError(Error::InvalidArgument, unknownSecurityText(host));

    const bool implicitTls = security == Security::Tls;
    if (m_trace)
        std::fprintf(stderr, "SMTP connecting to %s:%u%s\n", qPrintable(platform::terminalSafe(host)),
                     unsigned(port),
                     implicitTls                          ? " (TLS)"
                     : security == Security::StartTls      ? " (STARTTLS)"
                     : security == Security::Opportunistic ? " (STARTTLS if offered)"
                                                           : "");
    m_socket->setTrustedCertificate(m_trustedCertificate);
    const int connectMs = waitMs(m_connectTimeoutMs);
    const LineSocket::Status status = implicitTls ? m_socket->connectToHostEncrypted(host, port, connectMs)
                                                  : m_socket->connectToHost(host, port, connectMs);
    if (status != LineSocket::Status::Ok) {
        socketFailure(status);
        if (implicitTls && !m_socket->certificateProblem().IsNull())
            m_lastError = Error::TlsFailed;
        return false;
    }
    m_open = true;
    if (!readReply())
        return false;
    if (!expect({220}) || !hello()) {
        dropConnection();
        return false;
    }
    if (security == Security::StartTls || security == Security::Opportunistic)
        return startTls(host, security);
    return true;
}

bool SmtpClient::endSession()
{
    quit();
    return false;
}

bool SmtpClient::startTls(const QString &host, Security security)
{
    const bool opportunistic = security == Security::Opportunistic;
    const QString notSent = QStringLiteral(" Es wurden weder Anmeldedaten noch die Nachricht gesendet.");
    const bool offered = std::any_of(m_capabilities.cbegin(), m_capabilities.cend(), [](const QByteArray &line) {
        return line.trimmed().toUpper() == "STARTTLS";
    });
    if (!offered) {
        if (opportunistic)
            return true;
        resetReply();
        setError(Error::TlsUnavailable,
                 QStringLiteral("Der SMTP-Server %1 bietet keine verschlüsselte Verbindung (STARTTLS) an.").arg(host)
                     + notSent);
        return endSession();
    }
    resetReply();
    if (!sendLine("STARTTLS") || !readReply())
        return false;
    if (m_lastReplyCode != 220) {
        // The session may go on as it was (RFC 3207), but only where plain text was acceptable.
        if (opportunistic)
            return true;
        const QString said = QStringLiteral("%1 %2").arg(m_lastReplyCode).arg(m_lastReplyText).trimmed();
        setError(Error::TlsUnavailable,
                 QStringLiteral("Der SMTP-Server %1 lehnt die verschlüsselte Verbindung (STARTTLS) ab (\"%2\").")
                         .arg(host, said)
                     + notSent);
        return endSession();
    }
    const LineSocket::Status status = m_socket->startTls(waitMs(m_connectTimeoutMs));
    if (status != LineSocket::Status::Ok) {
        m_handshakeFailed = status != LineSocket::Status::Aborted;
        socketFailure(status);
        if (status == LineSocket::Status::Failed)
            m_lastError = Error::TlsFailed;
        return false;
    }
    if (m_trace)
        std::fprintf(stderr, "SMTP TLS started\n");
    // What was said before the handshake may have been changed on the way: ask again.
    if (!hello()) {
        dropConnection();
        return false;
    }
    return true;
}

bool SmtpClient::hello()
{
    m_extended = false;
    m_capabilities.clear();
    resetReply();
    if (!sendLine("EHLO " + m_heloName) || !readReply())
        return false;
    if (m_lastReplyCode == 250) {
        m_extended = true;
        m_capabilities = m_replyLines.mid(1);
        return true;
    }
    return command("HELO " + m_heloName, {250});
}

bool SmtpClient::authenticate(const QString &user, const QString &password)
{
    m_authUsed.clear();
    if (!requireSession())
        return false;
    const QByteArrayList offered = authMechanisms();
    const bool plain = offered.contains("PLAIN");
    if (!plain && !offered.contains("LOGIN"))
        return true;
    if (!credentialsMaySend())
        return false;
    const QByteArray name = user.toUtf8();
    const QByteArray secret = password.toUtf8();
    const bool ok = plain ? authPlain(name, secret) : authLogin(name, secret);
    if (ok)
        m_authUsed = plain ? "PLAIN" : "LOGIN";
    return ok;
}

bool SmtpClient::authPlain(const QByteArray &user, const QByteArray &password)
{
    // NUL separates the fields of the PLAIN response.
    if (user.contains('\0') || password.contains('\0')) {
        resetReply();
        return setError(Error::InvalidArgument,
                        QStringLiteral("Benutzername oder Passwort enthält ein ungültiges Zeichen."));
    }
    return sendInitialResponse("PLAIN", QByteArray('\0' + user + '\0' + password)) && expect({235});
}

bool SmtpClient::credentialsMaySend()
{
    // The last guard: whatever went before, credentials meant for TLS never go out in the clear.
    const bool tlsChosen = m_security == Security::StartTls || m_security == Security::Tls;
    if ((m_requireEncryptedAuth || tlsChosen) && !isEncrypted()) {
        resetReply();
        return setError(Error::AuthNeedsTls,
                        QStringLiteral("Die Verbindung zum SMTP-Server ist nicht verschlüsselt; Benutzername "
                                       "und Passwort werden so nicht gesendet."));
    }
    return true;
}

bool SmtpClient::sendInitialResponse(const QByteArray &mechanism, const QByteArray &response)
{
    trace("C", "AUTH " + mechanism + " ********");
    resetReply();
    const LineSocket::Status status = m_socket->write("AUTH " + mechanism + ' ' + response.toBase64() + "\r\n");
    if (status != LineSocket::Status::Ok)
        return socketFailure(status);
    return readReply();
}

bool SmtpClient::authenticateBearer(const QString &user, const QString &token, const QString &host, quint16 port)
{
    m_authUsed.clear();
    if (!requireSession())
        return false;
    const sasl::TBearerStart start = sasl::StartBearer(authMechanisms(), user, token, host, port);
    if (!start.Mechanism) {
        resetReply();
        return setError(Error::InvalidArgument, start.ErrorText);
    }
    if (!credentialsMaySend())
        return false;
    const sasl::TMechanism *mechanism = &*start.Mechanism;
    if (!sendInitialResponse(sasl::MechanismName(*mechanism), start.Response))
        return false;
    QString refusal;
    if (m_lastReplyCode == 334) {
        // The error challenge: answered, so that the server ends the exchange with its refusal.
        refusal = sasl::ErrorChallengeText(sasl::DecodeErrorChallenge(m_replyLines.value(0)));
        resetReply();
        if (!sendLine(sasl::ErrorAnswer(*mechanism).toBase64()) || !readReply())
            return false;
    }
    if (!expect({235})) {
        if (!refusal.isEmpty())
            m_lastErrorText += QLatin1Char(' ') + refusal;
        return false;
    }
    m_authUsed = sasl::MechanismName(*mechanism);
    return true;
}

bool SmtpClient::authLogin(const QByteArray &user, const QByteArray &password)
{
    return command("AUTH LOGIN", {334}) && command(user.toBase64(), {334}, true)
           && command(password.toBase64(), {235}, true);
}

SmtpClient::Outcome SmtpClient::outcome() const
{
    return Outcome{m_lastReplyCode, m_lastReplyText, m_replyLines, m_lastError, m_lastErrorText};
}

void SmtpClient::restore(const Outcome &saved)
{
    m_lastReplyCode = saved.code;
    m_lastReplyText = saved.text;
    m_replyLines = saved.lines;
    m_lastError = saved.error;
    m_lastErrorText = saved.errorText;
}

bool SmtpClient::resetAfterRefusal()
{
    const Outcome refusal = outcome();
    if (sendLine("RSET"))
        readReply();
    restore(refusal);
    return false;
}

bool SmtpClient::sendMail(const QByteArray &from, const QByteArrayList &recipients, const QByteArray &message)
{
    m_lastError = Error::None;
    m_lastErrorText.clear();
    if (!requireSession())
        return false;
    // A line break would end the command early and let the rest pass for a command of its own.
    auto hasBreak = [](const QByteArray &text) {
        return text.contains('\r') || text.contains('\n') || text.contains('\0');
    };
    if (hasBreak(from) || std::any_of(recipients.begin(), recipients.end(), hasBreak)) {
        resetReply();
        return setError(Error::InvalidArgument, QStringLiteral("Eine E-Mail-Adresse enthält einen Zeilenumbruch."));
    }

    resetReply();
    if (!sendLine("RSET") || !readReply())
        return false;
    if (!command("MAIL FROM: <" + from + ">", {250}))
        return m_lastError == Error::ServerError ? resetAfterRefusal() : false;
    for (const QByteArray &to : recipients)
        if (!command("RCPT TO:<" + to + ">", {250, 251}))
            return m_lastError == Error::ServerError ? resetAfterRefusal() : false;
    if (!command("DATA", {354}))
        return m_lastError == Error::ServerError ? resetAfterRefusal() : false;

    trace("C", QByteArray("<message of ") + QByteArray::number(message.size()) + " octets>");
    resetReply();
    const LineSocket::Status status = m_socket->write(dotStuffed(message));
    if (status != LineSocket::Status::Ok)
        return socketFailure(status);
    if (!readReply())
        return false;
    if (!expect({250}))
        return resetAfterRefusal();
    return true;
}

void SmtpClient::quit()
{
    const Outcome before = outcome();
    if (isConnected() && sendLine("QUIT"))
        readReply();
    dropConnection();
    restore(before);
}

void SmtpClient::abort()
{
    m_abortRequested.store(true);
    m_socket->abort();
}
