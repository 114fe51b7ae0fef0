// quarvel-demo-server: a private Dovecot POP3 server on 127.0.0.1 for the demo, with one user whose
// mailbox holds the given messages. Prints "PORT <number>" when it is ready and runs until it gets
// SIGINT or SIGTERM; then it stops Dovecot and removes its folder.
//   quarvel-demo-server USER PASSWORD MESSAGE-FILE...
#include "DovecotServer.h"

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
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 2) {
        std::fprintf(stderr, "Aufruf: quarvel-demo-server BENUTZER KENNWORT NACHRICHT...\n");
        return 2;
    }
    DovecotServer server;
    server.addUser(args.at(0), args.at(1));
    QString error;
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
