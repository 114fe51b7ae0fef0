#include "ServerProcess.h"

#include <QDeadlineTimer>

#include <signal.h>
#include <sys/prctl.h>

void endWithTestProcess(QProcess &process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

void stopServerProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

quint16 startAndReadPort(QProcess &process, const QString &program, const QStringList &args, QString *why)
{
    process.start(program, args);
    if (!process.waitForStarted(10000)) {
        *why = program + QStringLiteral(" does not start: ") + process.errorString();
        return 0;
    }
    const QDeadlineTimer deadline(20000);
    while (!process.canReadLine() && process.state() == QProcess::Running && !deadline.hasExpired())
        process.waitForReadyRead(int(deadline.remainingTime()));
    bool ok = false;
    const quint16 port = quint16(process.readLine().trimmed().toUInt(&ok));
    if (ok && port != 0)
        return port;
    *why = QString::fromLocal8Bit(process.readAllStandardError());
    return 0;
}
