#include "SmtpTestServer.h"

#include "ServerProcess.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

// Debian's own interpreter: python3-aiosmtpd is installed for it, whatever else PATH offers.
const char *const kPython = "/usr/bin/python3";

} // namespace

SmtpTestServer::SmtpTestServer(const Options &options) : m_options(options)
{
    endWithTestProcess(m_process);
}

SmtpTestServer::~SmtpTestServer()
{
    stop();
}

bool SmtpTestServer::start(QString *error)
{
    QStringList args{QStringLiteral(QUARVEL_SMTP_RECEIVER), QStringLiteral("--record"),
                     m_dir.filePath(QStringLiteral("record.jsonl")), QStringLiteral("--auth"), m_options.auth,
                     QStringLiteral("--user"), m_options.user, QStringLiteral("--password"), m_options.password};
    if (m_options.refuseEhlo)
        args << QStringLiteral("--refuse-ehlo");
    for (const QString &address : m_options.rejectRecipients)
        args << QStringLiteral("--reject-rcpt") << address;
    args << QStringLiteral("--tls-mode") << m_options.tls;
    if (m_options.tls != QStringLiteral("none"))
        args << QStringLiteral("--tls-cert") << m_options.certificateFile << QStringLiteral("--tls-key")
             << m_options.keyFile;
    if (!m_options.oauthIntrospection.isEmpty())
        args << QStringLiteral("--oauth-introspect") << m_options.oauthIntrospection;
    QString why;
    if (!m_dir.isValid()) {
        why = QStringLiteral("no temporary folder");
    } else {
        m_port = startAndReadPort(m_process, QString::fromLatin1(kPython), args, &why);
        if (m_port != 0)
            return true;
        why = QStringLiteral("the SMTP receiver did not start (Debian package python3-aiosmtpd): ") + why;
    }
    stop();
    if (error)
        *error = why;
    return false;
}

void SmtpTestServer::stop()
{
    stopServerProcess(m_process);
}

QList<QJsonObject> SmtpTestServer::records() const
{
    QList<QJsonObject> result;
    QFile file(m_dir.filePath(QStringLiteral("record.jsonl")));
    if (!file.open(QIODevice::ReadOnly))
        return result;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (!line.trimmed().isEmpty())
            result.append(QJsonDocument::fromJson(line).object());
    return result;
}

QStringList SmtpTestServer::commands() const
{
    QStringList result;
    for (const QJsonObject &r : records())
        if (r.contains(QStringLiteral("command"))) {
            const QString arg = r.value(QStringLiteral("arg")).toString();
            result.append(r.value(QStringLiteral("command")).toString() + (arg.isEmpty() ? QString() : QLatin1Char(' ') + arg));
        }
    return result;
}

QList<SmtpTestServer::Message> SmtpTestServer::messages() const
{
    QList<Message> result;
    for (const QJsonObject &r : records()) {
        if (!r.contains(QStringLiteral("mail_from")))
            continue;
        Message m;
        m.from = r.value(QStringLiteral("mail_from")).toString();
        for (const QJsonValue &to : r.value(QStringLiteral("rcpt_tos")).toArray())
            m.recipients.append(to.toString());
        m.data = QByteArray::fromBase64(r.value(QStringLiteral("data")).toString().toLatin1());
        m.encrypted = r.value(QStringLiteral("tls")).toBool();
        result.append(m);
    }
    return result;
}

QList<QJsonObject> SmtpTestServer::logins() const
{
    QList<QJsonObject> result;
    for (const QJsonObject &r : records())
        if (r.contains(QStringLiteral("auth")))
            result.append(r);
    return result;
}
