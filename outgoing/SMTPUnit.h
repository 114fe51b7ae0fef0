#pragma once
// Delivery of one composed message by SMTP: through the account's own outgoing server (provider mode,
// when SMTPServer is set) or straight to the mail exchangers of the recipients' domains (direct mode,
// port 25, found by an MX query to the DNS server the machine uses).
//
// Provider mode secures the connection as the account's SMTPSecurity says (plain, STARTTLS, TLS from the
// first byte), accepts the account's SMTPCertSHA256 as the one trusted certificate, and logs in only
// over TLS unless the account is plain. Direct mode never logs in and uses STARTTLS where an exchanger
// offers it, going on in plain text when that fails, as mail servers do among themselves: it keeps the
// reply from passive listeners wherever it can, and a reply is never lost for an exchanger's certificate.
#include "DnsResolver.h"
#include "LineSocket.h"
#include "MailMessage.h"
#include "SmtpClient.h"
#include "TypeDef.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// The mailer named in every message sent ("X-Mailer").
inline const QString kMailerName = QStringLiteral("Quarvel 2.20");
// The error text of direct mode when a domain has no mail exchanger (the code, a blank, then this).
inline const QString kNoMXText = QStringLiteral(" No MX-entry found.");
inline constexpr int kNoMXCode = 600;

// The EHLO/HELO name made from a computer name: its first 15 characters, of those only the letters A-Z
// and a-z, digits and "-"; "Quarvel-User" when nothing is left.
QByteArray EhloName(const QString &computerName);

// The exchanger hosts in the order they are tried: each record as its preference padded with "0" to at
// least four digits, a tab and the host, sorted as text without regard to case, then cut after the tab.
// So "10000" comes before "9999", as it always has. Records without a host (a "null MX") are left out.
QStringList SortMXHosts(const QList<TMXRecord> &records);

class TSMTPSendClass {
public:
    // The connections come from factory (the real TCP transport when it is empty).
    explicit TSMTPSendClass(const LineSocketFactory &factory = {});
    ~TSMTPSendClass();
    TSMTPSendClass(const TSMTPSendClass &) = delete;
    TSMTPSendClass &operator=(const TSMTPSendClass &) = delete;

    // The sending account, copied in by the caller before SendMail.
    TPOP3AccountSettings Account;
    // The DNS server the last MX query went to.
    QString DNSServer;

    // Waits and the direct-mode port; tests shorten and move them.
    int ConnectTimeoutMs = 60000;
    int ReadTimeoutMs = 60000;
    int ReplyDeadlineMs = SmtpClient::kDefaultReplyDeadlineMs;
    int DNSTimeoutMs = 15000;
    quint16 DirectPort = 25;
    // The DNS servers LookupMX asks, in order. Unset: the one server DiscoverDNSServers finds.
    std::function<QList<TDNSServerAddress>()> DNSServers;

    // Delivers the message: its From address is the envelope sender, its To and Cc entries the envelope
    // recipients. An entry's address may be typed as "Name <a@b.de>" or hold several addresses separated
    // by commas; each address found in it is a recipient of its own. The message goes out composed by
    // MailMessage::WriteRaw with "X-Mailer: Quarvel 2.20". Addresses or a subject with a line break are
    // refused before anything is sent.
    // On failure error is the reason: for a refused or failed delivery the reply code (0 when no reply
    // came), a blank and the error text ("550 5.1.1 unknown user"); in direct mode "600  No MX-entry
    // found." when a domain has no exchanger; a text without a code when the message itself is unusable.
    // When in direct mode a later domain fails, the text ends by naming the recipients who already got
    // the message.
    bool SendMail(const MailMessage &message, QString &error);

    // The exchanger hosts of the address's domain (the text after its last "@", the whole text without
    // one), most preferred first; empty when none is found. Each DNS server is asked in turn, up to
    // DNSTimeoutMs each, until one gives hosts.
    void LookupMX(const QString &address, QStringList &hosts);

    // Thread-safe: ends the wait in progress and the delivery with it.
    void Abort();

    // The outgoing server's certificate that the last SendMail refused (provider mode); null when none
    // was. The user may choose to trust it (CanBeTrusted()) and send again.
    CertificateProblem RefusedCertificate() const { return m_refused; }

    QByteArray HeloName() const { return m_client.heloName(); }

private:
    // Tries the hosts in order until one accepts the message; error is the last host's failure. Logs in
    // when authenticate is set and there is a user name.
    bool deliver(const QStringList &hosts, quint16 port, bool authenticate, const QByteArray &from,
                 const QByteArrayList &recipients, const QByteArray &data, QString &error);
    // Sets the client up for provider mode (the account's security) or direct mode.
    void secureFor(bool provider);
    // Direct mode: each recipient domain's exchangers, found by LookupMX, get that domain's recipients.
    bool deliverDirect(const QByteArray &from, const QList<TMailAddress> &recipients, const QByteArray &data,
                       QString &error);
    QString clientError() const;

    SmtpClient m_client;
    DnsResolver m_resolver;
    bool m_busy = false;
    std::atomic<bool> m_aborted{false};
    CertificateProblem m_refused;
};
