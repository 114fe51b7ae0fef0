#include "SMTPUnit.h"

#include "DNSServerDiscovery.h"
#include "KeyringPasswords.h"
#include "OAuthTokens.h"

#include <QScopeGuard>
#include <QSysInfo>

#include <algorithm>
#include <utility>

namespace {

bool hasLineBreak(const QString &text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) || text.contains(QChar(0));
}

bool hasLineBreak(const TMailAddress &address)
{
    return hasLineBreak(address.Name) || hasLineBreak(address.Address);
}

// The text after the last "@" (the whole text without one).
QString domainOf(const QString &address)
{
    return address.mid(address.lastIndexOf(QLatin1Char('@')) + 1).trimmed();
}

// The addresses typed into one To or Cc entry. An entry that already is one bare address stays as it is;
// otherwise the text is read as an address list, so "Name <a@b.de>" and "a@b.de, c@d.de" work.
bool expandEntry(const TMailAddress &entry, QList<TMailAddress> *out)
{
    const QString typed = entry.Address.trimmed();
    const QList<TMailAddress> parsed = ParseAddressList(typed);
    if (parsed.size() == 1 && parsed.first().Address == typed) {
        out->append(TMailAddress{entry.Name, typed});
        return true;
    }
    bool any = false;
    for (const TMailAddress &a : parsed) {
        if (a.Address.isEmpty())
            continue;
        out->append(a);
        any = true;
    }
    return any;
}

const QString kAbortedText = QStringLiteral("0 Der Versand wurde abgebrochen.");
// After the failure of a later domain in direct mode: %1 the recipients who already have the message.
const QString kDeliveredBeforeText = QStringLiteral(
    "\r\n\r\nDie Nachricht wurde bereits zugestellt an: %1. Senden Sie sie diesen Empfängern nicht noch einmal.");

SmtpClient::Security smtpSecurity(const TPOP3AccountSettings &account)
{
    switch (account.SMTPSecurity) {
    case csStartTLS:
        return SmtpClient::Security::StartTls;
    case csSSLTLS:
        return SmtpClient::Security::Tls;
    case csNone:
        return SmtpClient::Security::None;
    default:
        return SmtpClient::Security::Unknown;
    }
}

bool isMailerLine(const QString &line)
{
    return line.section(QLatin1Char(':'), 0, 0).trimmed().compare(QLatin1String("X-Mailer"), Qt::CaseInsensitive) == 0;
}

// The message as it goes out: every To and Cc entry expanded to the addresses typed into it, the sender
// as a bare address, our mailer named. False, with the reason, for a message that must not go out.
bool composeForSending(const MailMessage &message, MailMessage *composed, QString &error)
{
    // A line break would end a header or a command early and let the rest pass for one of its own.
    const auto broken = [](const TMailAddress &a) { return hasLineBreak(a); };
    if (hasLineBreak(message.From) || hasLineBreak(message.Subject)
        || std::any_of(message.Recipients.begin(), message.Recipients.end(), broken)
        || std::any_of(message.Cc.begin(), message.Cc.end(), broken)) {
        error = QStringLiteral("Absender, Empfänger oder Betreff enthalten einen Zeilenumbruch.");
        return false;
    }
    QList<TMailAddress> senders;
    if (!expandEntry(message.From, &senders)) {
        error = QStringLiteral("Die Absenderadresse \"%1\" ist ungültig.").arg(message.From.Address);
        return false;
    }
    QList<TMailAddress> to, cc;
    for (const auto &[entries, out] : {std::pair{&message.Recipients, &to}, std::pair{&message.Cc, &cc}}) {
        for (const TMailAddress &entry : *entries) {
            if (entry.Address.trimmed().isEmpty())
                continue;
            if (!expandEntry(entry, out)) {
                error = QStringLiteral("Die Empfängeradresse \"%1\" ist ungültig.").arg(entry.Address);
                return false;
            }
        }
    }
    if (to.isEmpty() && cc.isEmpty()) {
        error = QStringLiteral("Es ist keine Empfängeradresse angegeben.");
        return false;
    }
    *composed = message;
    composed->From = senders.first();
    composed->Recipients = to;
    composed->Cc = cc;
    composed->Headers.removeIf(isMailerLine);
    composed->Headers.append(QStringLiteral("X-Mailer: ") + kMailerName);
    return true;
}

} // namespace

QByteArray EhloName(const QString &computerName)
{
    QByteArray name;
    for (const QChar c : computerName.left(15)) {
        const char16_t u = c.unicode();
        if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-')
            name.append(char(u));
    }
    return name.isEmpty() ? QByteArray("Quarvel-User") : name;
}

QStringList SortMXHosts(const QList<TMXRecord> &records)
{
    QStringList lines;
    for (const TMXRecord &record : records) {
        const QString host = record.Host.trimmed();
        if (host.isEmpty() || host == QLatin1String("."))
            continue;
        lines.append(QStringLiteral("%1\t%2").arg(record.Preference, 4, 10, QLatin1Char('0')).arg(host));
    }
    std::stable_sort(lines.begin(), lines.end(), [](const QString &a, const QString &b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    for (QString &line : lines)
        line = line.mid(line.indexOf(QLatin1Char('\t')) + 1);
    return lines;
}

TSMTPSendClass::TSMTPSendClass(const LineSocketFactory &factory) : m_client(factory)
{
    m_client.setHeloName(EhloName(QSysInfo::machineHostName()));
}

TSMTPSendClass::~TSMTPSendClass() = default;

void TSMTPSendClass::Abort()
{
    m_aborted.store(true);
    m_resolver.abort();
    m_client.abort();
}

void TSMTPSendClass::LookupMX(const QString &address, QStringList &hosts)
{
    hosts.clear();
    QList<TDNSServerAddress> servers;
    if (DNSServers) {
        servers = DNSServers();
    } else {
        QStringList list;
        QString first;
        DiscoverDNSServers(list, first, m_resolver);
        for (const QString &server : list)
            servers.append(TDNSServerAddress{server, 53});
    }
    DNSServer = servers.isEmpty() ? QString() : servers.first().Host;
    const QString domain = domainOf(address);
    if (domain.isEmpty())
        return;
    for (const TDNSServerAddress &server : servers) {
        if (m_aborted.load())
            return;
        DNSServer = server.Host;
        QList<TMXRecord> records;
        if (m_resolver.queryMX(server, domain, DNSTimeoutMs, &records) == DnsResolver::Status::Ok)
            hosts = SortMXHosts(records);
        if (!hosts.isEmpty())
            return;
    }
}

QString TSMTPSendClass::clientError() const
{
    // Only a reply the server actually sent gives the code; our own errors (a time-out, a lost
    // connection, a reply that was none) have 0, and never the code of an earlier, successful reply.
    const int code = m_client.lastError() == SmtpClient::Error::ServerError ? m_client.lastReplyCode() : 0;
    QString text = m_client.lastErrorText().trimmed();
    if (text.isEmpty())
        text = m_client.lastReplyText().trimmed();
    return QStringLiteral("%1 %2").arg(code).arg(text);
}

void TSMTPSendClass::secureFor(bool provider)
{
    if (provider) {
        m_client.setSecurity(smtpSecurity(Account));
        m_client.setTrustedCertificate(Account.SMTPCertSHA256);
        m_client.setRequireEncryptedAuth(Account.SMTPSecurity != csNone);
    } else {
        // The account's trust is for its own server, never for an exchanger.
        m_client.setSecurity(SmtpClient::Security::Opportunistic);
        m_client.setTrustedCertificate(QString());
        m_client.setRequireEncryptedAuth(true);
    }
}

bool TSMTPSendClass::deliver(const QStringList &hosts, quint16 port, bool authenticate, const QByteArray &from,
                             const QByteArrayList &recipients, const QByteArray &data, QString &error)
{
    // An account that signs in at its provider uses the mailbox's login and token for its SMTP server too.
    const bool oauth = Account.AuthMethod == amOAuth2;
    const QString user = Account.SMTPUsePOP3Data || oauth ? Account.AccountName : Account.SMTPAccountName;
    TLoginSecret login;
    int code = 0;
    if (authenticate && !user.isEmpty() && !ResolveLogin(Account, TPasswordKind::Outgoing, &login, &error, &code,
                                                              [this] { return m_aborted.load(); })) {
        error = QStringLiteral("0 ") + error;
        return false;
    }
    const QString &password = login.Secret;
    for (const QString &host : hosts) {
        if (m_aborted.load())
            break;
        const bool opened = m_client.open(host, port);
        // Only the account's own server can be trusted; an exchanger's refusal has been got round.
        if (!opened && m_client.lastError() == SmtpClient::Error::TlsFailed
            && m_client.security() != SmtpClient::Security::Opportunistic)
            m_refused = m_client.certificateProblem();
        const auto loggedIn = [&] {
            if (!authenticate || user.isEmpty())
                return true;
            if (!login.OAuth)
                return m_client.authenticate(user, password);
            if (m_client.authenticateBearer(user, password, host, port))
                return true;
            if (m_client.lastError() == SmtpClient::Error::ServerError)
                LoginRefused(Account, login);
            return false;
        };
        const bool sent = opened && loggedIn() && m_client.sendMail(from, recipients, data);
        m_client.quit();
        if (sent)
            return true;
        error = clientError();
    }
    if (m_aborted.load())
        error = kAbortedText;
    return false;
}

bool TSMTPSendClass::SendMail(const MailMessage &message, QString &error)
{
    error.clear();
    if (m_busy) {
        error = QStringLiteral("Es wird bereits eine E-Mail versendet.");
        return false;
    }
    m_busy = true;
    const auto done = qScopeGuard([this] { m_busy = false; });
    m_aborted.store(false);
    m_resolver.resetAbort();
    m_refused = CertificateProblem();

    MailMessage composed;
    if (!composeForSending(message, &composed, error))
        return false;
    const QByteArray data = composed.WriteRaw();
    const QByteArray from = composed.From.Address.toUtf8();
    const QList<TMailAddress> everyone = composed.Recipients + composed.Cc;

    m_client.setConnectTimeout(ConnectTimeoutMs);
    m_client.setReadTimeout(ReadTimeoutMs);
    m_client.setReplyDeadline(ReplyDeadlineMs);
    const QString server = Account.SMTPServer.trimmed();
    secureFor(!server.isEmpty());
    if (server.isEmpty())
        return deliverDirect(from, everyone, data, error);
    if (Account.SMTPPort < 1 || Account.SMTPPort > 65535) {
        error = QStringLiteral("0 Ungültiger Port %1 des SMTP-Servers.").arg(Account.SMTPPort);
        return false;
    }
    QByteArrayList recipients;
    for (const TMailAddress &a : everyone)
        recipients.append(a.Address.toUtf8());
    return deliver({server}, quint16(Account.SMTPPort), Account.SMTPAuth, from, recipients, data, error);
}

bool TSMTPSendClass::deliverDirect(const QByteArray &from, const QList<TMailAddress> &recipients,
                                   const QByteArray &data, QString &error)
{
    // Every domain's own exchangers get that domain's recipients. All lookups come first, so a domain
    // without an exchanger stops the send before anyone gets the message.
    QStringList domains;
    QList<QByteArrayList> recipientsByDomain;
    QList<QStringList> hostsByDomain;
    for (const TMailAddress &a : recipients) {
        const QString domain = domainOf(a.Address).toLower();
        qsizetype i = domains.indexOf(domain);
        if (i < 0) {
            QStringList hosts;
            LookupMX(a.Address, hosts);
            if (m_aborted.load()) {
                error = kAbortedText;
                return false;
            }
            if (hosts.isEmpty()) {
                error = QString::number(kNoMXCode) + QLatin1Char(' ') + kNoMXText;
                return false;
            }
            domains.append(domain);
            hostsByDomain.append(hosts);
            recipientsByDomain.append(QByteArrayList());
            i = domains.size() - 1;
        }
        recipientsByDomain[i].append(a.Address.toUtf8());
    }
    QByteArrayList delivered;
    for (qsizetype i = 0; i < domains.size(); ++i) {
        if (!deliver(hostsByDomain.at(i), DirectPort, false, from, recipientsByDomain.at(i), data, error)) {
            // A resend to everyone would give these recipients the message twice.
            if (!delivered.isEmpty())
                error += kDeliveredBeforeText.arg(QString::fromUtf8(delivered.join(", ")));
            return false;
        }
        delivered += recipientsByDomain.at(i);
    }
    return true;
}
