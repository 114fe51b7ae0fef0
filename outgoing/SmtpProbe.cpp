#include "SmtpProbe.h"

#include "SmtpClient.h"

#include <memory>

TProbeAttempt ProbeSmtp(const QString &host, const TProbeCandidate &where, int limitMs, const QByteArray &heloName,
                        const LineSocketFactory &factory,
                        const std::function<void(std::function<void()>)> &setAbort)
{
    // Shared with the abort, which another thread may still be calling as the attempt ends.
    auto client = std::make_shared<SmtpClient>(factory);
    client->setHeloName(heloName);
    client->setSecurity(where.ImplicitTls ? SmtpClient::Security::Tls : SmtpClient::Security::StartTls);
    client->setConnectTimeout(limitMs);
    client->setReadTimeout(limitMs);
    client->setDeadline(QDeadlineTimer(limitMs));
    if (setAbort)
        setAbort([client] { client->abort(); });
    TProbeAttempt attempt;
    const bool opened = client->open(host, where.Port);
    if (opened)
        client->quit();
    if (setAbort)
        setAbort({});
    attempt.Encrypted = opened || !client->certificateProblem().IsNull();
    attempt.PlainText = !attempt.Encrypted && client->lastError() == SmtpClient::Error::TlsUnavailable;
    if (!attempt.Encrypted) {
        attempt.Failure = client->failureKind();
        attempt.ErrorText = client->lastErrorText();
    }
    return attempt;
}
