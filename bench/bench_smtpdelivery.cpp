// The time of one delivery on loopback: TSMTPSendClass::SendMail of a short German reply to Debian's
// aiosmtpd on 127.0.0.1 (connect, EHLO, AUTH PLAIN, RSET, MAIL, RCPT, DATA, QUIT), and the same in direct
// mode with the MX lookup on a private dnsmasq first.
//
//   bench_smtpdelivery [--runs N]
#include "BenchSupport.h"
#include "DnsmasqServer.h"
#include "SMTPUnit.h"
#include "SmtpTestServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <vector>

namespace {

MailMessage sampleReply()
{
    MailMessage m;
    m.From.Address = QStringLiteral("ich@example.org");
    m.Recipients.append(TMailAddress{QString(), QStringLiteral("anna@direct.test")});
    m.Subject = QStringLiteral("Re: Grüße aus Köln");
    for (int i = 0; i < 40; ++i)
        m.Body.append(QStringLiteral("> Zeile %1 des zitierten Textes mit Umlauten: äöü ß €").arg(i));
    m.Body.append(QString());
    m.Body.append(QStringLiteral("**** Versendet mit Quarvel"));
    return m;
}

// Sends runs + 1 messages (the first printed apart: the receiver's first connection) and prints the
// milliseconds of each, then median and best. False when a delivery fails.
bool timeDeliveries(const char *label, TSMTPSendClass &sender, int runs)
{
    const MailMessage message = sampleReply();
    std::vector<double> ms;
    for (int i = 0; i <= runs; ++i) {
        QElapsedTimer t;
        t.start();
        QString error;
        if (!sender.SendMail(message, error)) {
            std::fprintf(stderr, "%s: Versand fehlgeschlagen: %s\n", label, qPrintable(error));
            return false;
        }
        const double elapsed = t.nsecsElapsed() / 1e6;
        if (i == 0)
            std::printf("  %s, erster Versand: %.2f ms\n", label, elapsed);
        else
            ms.push_back(elapsed);
    }
    std::printf("  %s: Median %.2f ms, bester %.2f ms (%d Versände)\n", label, bench::Median(ms), bench::Min(ms), runs);
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = bench::ArgValue(argc, argv, "--runs", 50);

    SmtpTestServer::Options options;
    options.auth = QStringLiteral("plain");
    options.user = QStringLiteral("ich");
    options.password = QStringLiteral("geheim");
    SmtpTestServer receiver(options);
    DnsmasqServer dns;
    dns.addConfig(QStringLiteral("mx-host=direct.test,127.0.0.1,10"));
    QString why;
    if (!receiver.start(&why) || !dns.start(&why)) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }

    TSMTPSendClass provider;
    provider.Account.SMTPServer = receiver.host();
    provider.Account.SMTPPort = receiver.port();
    provider.Account.SMTPAuth = true;
    provider.Account.AccountName = options.user;
    provider.Account.Password = options.password;

    TSMTPSendClass direct;
    direct.DirectPort = receiver.port();
    direct.DNSServers = [&dns] { return QList<TDNSServerAddress>{{dns.host(), dns.port()}}; };

    std::printf("Eine Nachricht von %lld Bytes an aiosmtpd auf 127.0.0.1:\n",
                static_cast<long long>(sampleReply().WriteRaw().size()));
    if (!timeDeliveries("Provider-Modus mit AUTH PLAIN", provider, runs)
        || !timeDeliveries("Direkt-Modus mit MX-Abfrage", direct, runs))
        return 1;
    return 0;
}
