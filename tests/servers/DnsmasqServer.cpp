#include "DnsmasqServer.h"

#include "ServerProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QUdpSocket>

#include <unistd.h>

namespace {

const char *const kDnsmasq = "/usr/sbin/dnsmasq";

} // namespace

quint16 closedUdpPort()
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress::LocalHost, 0))
        return 0;
    return probe.localPort();
}

DnsmasqServer::DnsmasqServer()
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    endWithTestProcess(m_process);
}

DnsmasqServer::~DnsmasqServer()
{
    stop();
}

bool DnsmasqServer::start(QString *error)
{
    QString why;
    QString output;
    if (!m_dir.isValid())
        why = QStringLiteral("no temporary folder");
    else if (!QFile::exists(QString::fromLatin1(kDnsmasq)))
        why = QStringLiteral("%1 is missing (Debian package dnsmasq)").arg(kDnsmasq);
    // The free port may be taken before dnsmasq binds it: then try another one.
    for (int attempt = 0; why.isEmpty() && attempt < 3; ++attempt) {
        stop();
        m_port = closedUdpPort();
        QFile conf(m_dir.filePath(QStringLiteral("dnsmasq.conf")));
        if (m_port == 0 || !conf.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            why = QStringLiteral("no free port or no configuration file");
            break;
        }
        QStringList lines{
            QStringLiteral("port=%1").arg(m_port), QStringLiteral("listen-address=127.0.0.1"),
            QStringLiteral("bind-interfaces"), QStringLiteral("no-resolv"), QStringLiteral("no-hosts"),
            QStringLiteral("no-poll"), QStringLiteral("pid-file=") + m_dir.filePath(QStringLiteral("dnsmasq.pid")),
            QStringLiteral("log-facility=-"), QStringLiteral("log-queries")};
        // As root it would switch to an unprivileged user that cannot read the temporary folder.
        if (geteuid() == 0)
            lines.append(QStringLiteral("user=root"));
        for (const QString &line : lines + m_config)
            conf.write(line.toUtf8() + '\n');
        conf.close();
        m_process.start(QString::fromLatin1(kDnsmasq),
                        {QStringLiteral("--keep-in-foreground"), QStringLiteral("--conf-file=") + conf.fileName()});
        if (!m_process.waitForStarted(10000)) {
            why = QStringLiteral("dnsmasq does not start: ") + m_process.errorString();
            break;
        }
        // It reports "started" once its sockets are bound.
        const QDeadlineTimer deadline(10000);
        while (!output.contains(QLatin1String("started")) && m_process.state() == QProcess::Running
               && !deadline.hasExpired()) {
            m_process.waitForReadyRead(int(deadline.remainingTime()));
            output += QString::fromLocal8Bit(m_process.readAll());
        }
        if (m_process.state() == QProcess::Running && output.contains(QLatin1String("started")))
            return true;
        why = QStringLiteral("dnsmasq did not start: ") + output;
        if (!output.contains(QLatin1String("in use")))
            break;
        why.clear();
        output.clear();
    }
    stop();
    if (error)
        *error = why.isEmpty() ? QStringLiteral("dnsmasq found no free port") : why;
    return false;
}

void DnsmasqServer::stop()
{
    stopServerProcess(m_process);
}
