#include "Pop3Probe.h"

#include "Pop3Client.h"

#include <memory>

TProbeAttempt ProbePop3(const QString &host, const TProbeCandidate &where, int limitMs,
                        const LineSocketFactory &factory,
                        const std::function<void(std::function<void()>)> &setAbort)
{
    // Shared with the abort, which another thread may still be calling as the attempt ends.
    auto client = std::make_shared<Pop3Client>(factory);
    client->setHost(host);
    client->setPort(where.Port);
    client->setSecurity(where.ImplicitTls ? Pop3Client::Security::Tls : Pop3Client::Security::StartTls);
    client->setConnectTimeout(limitMs);
    client->setReadTimeout(limitMs);
    client->setReplyDeadline(limitMs);
    client->setDeadline(QDeadlineTimer(limitMs));
    if (setAbort)
        setAbort([client] { client->abort(); });
    TProbeAttempt attempt;
    const bool greeted = client->probe();
    if (setAbort)
        setAbort({});
    const bool certificateSeen = !client->certificateProblem().IsNull();
    attempt.Encrypted = greeted || certificateSeen;
    // A server that greets but has no STLS, or refuses it, speaks plain text only.
    attempt.PlainText = !attempt.Encrypted && client->lastError() == Pop3Client::Error::TlsUnavailable;
    if (!attempt.Encrypted) {
        attempt.Failure = client->failureKind();
        attempt.ErrorText = client->lastErrorText();
    }
    return attempt;
}
