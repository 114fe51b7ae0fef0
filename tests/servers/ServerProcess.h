#pragma once
// What every test server's process shares: it ends with the test process, and stops politely first.
#include <QProcess>

// Set before start(): the server gets SIGTERM when the test process dies, so none outlives a crash.
void endWithTestProcess(QProcess &process);
// SIGTERM, up to 10 s for the server to end, then SIGKILL. Nothing when it is not running.
void stopServerProcess(QProcess &process);
// Starts a server that prints the port it listens on as its first line, and reads that line (20 s at
// most). The port, or 0 with *why telling what went wrong (its standard error included).
quint16 startAndReadPort(QProcess &process, const QString &program, const QStringList &args, QString *why);
