// quarvel-demo-server: a private Dovecot POP3 and IMAP server on 127.0.0.1 for the demo, with one user
// whose mailbox holds the given messages. Prints "IMAPPORT <number>" and then "PORT <number>" (POP3) when
// it is ready and runs until it gets SIGINT or SIGTERM; then it stops Dovecot and removes its folder. With
// --tls the server also speaks TLS with a self-signed certificate made by openssl; it then prints
// "TLSPORT <number>" and "FINGERPRINT <SHA-256 of the certificate>" before "PORT".
//   quarvel-demo-server [--tls] USER PASSWORD MESSAGE-FILE...
#include "DovecotServer.h"
#include "TestCertificates.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <csignal>
#include <cstdio>

namespace {
volatile std::sig_atomic_t g_stop = 0;
void onSignal(int)
{
    g_stop = 1;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool tls = !args.isEmpty() && args.first() == QLatin1String("--tls");
    if (tls)
        args.removeFirst();
    if (args.size() < 2) {
        std::fprintf(stderr, "Aufruf: quarvel-demo-server [--tls] BENUTZER KENNWORT NACHRICHT...\n");
        return 2;
    }
    DovecotServer server;
    server.addUser(args.at(0), args.at(1));
    QString error;
    TestCertificates certificates;
    TestCertificate certificate;
    if (tls && !server.setSelfSignedTls(certificates, QStringLiteral("Quarvel Demo"), &certificate, &error)) {
        std::fprintf(stderr, "Kein Zertifikat für TLS: %s\n", qPrintable(error));
        return 1;
    }
    if (!server.start(&error)) {
        std::fprintf(stderr, "Dovecot startet nicht: %s\n", qPrintable(error));
        return 1;
    }
    for (const QString &file : args.mid(2)) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly) || server.deliver(args.at(0), f.readAll()).isEmpty())
            std::fprintf(stderr, "Nicht zugestellt: %s\n", qPrintable(file));
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    if (tls)
        std::printf("TLSPORT %u\nFINGERPRINT %s\n", unsigned(server.tlsPort()), qPrintable(certificate.Fingerprint));
    std::printf("IMAPPORT %u\n", unsigned(server.imapPort()));
    std::printf("PORT %u\n", unsigned(server.port()));
    std::fflush(stdout);

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if (g_stop || !server.isRunning())
            app.quit();
    });
    poll.start(200);
    app.exec();
    server.stop();
    return 0;
}
