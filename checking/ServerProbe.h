#pragma once
// One attempt of the server search (SecurityProbe.h) with a mail protocol's client (Pop3Client,
// ImapClient): its probe() opens the connection up to the TLS the candidate asks for and ends it again,
// never logging in.
#include "LineSocket.h"
#include "SecurityProbe.h"

#include <QDeadlineTimer>

#include <functional>
#include <memory>

// Every wait of the attempt ends within limitMs. setAbort, when given, receives a way to end the attempt
// from another thread while it runs, and an empty function once it is over.
template <typename Client>
TProbeAttempt ProbeWithClient(const QString &host, const TProbeCandidate &where, int limitMs,
                              const LineSocketFactory &factory,
                              const std::function<void(std::function<void()>)> &setAbort)
{
    // Shared with the abort, which another thread may still be calling as the attempt ends.
    auto client = std::make_shared<Client>(factory);
    client->setHost(host);
    client->setPort(where.Port);
    client->setSecurity(where.ImplicitTls ? Client::Security::Tls : Client::Security::StartTls);
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
    // A server that greets but has no STLS/STARTTLS, or refuses it, speaks plain text only.
    attempt.PlainText = !attempt.Encrypted && client->lastError() == Client::Error::TlsUnavailable;
    if (!attempt.Encrypted) {
        attempt.Failure = client->failureKind();
        attempt.ErrorText = client->lastErrorText();
    }
    return attempt;
}
