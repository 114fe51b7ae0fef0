#pragma once
// One attempt of the server search (SecurityProbe.h) on an SMTP server: greeting, EHLO and, for an
// upgrade, STARTTLS and the handshake, then QUIT; never a login or a message.
#include "LineSocket.h"
#include "SecurityProbe.h"

#include <QByteArray>

#include <functional>

// Every wait of the attempt ends within limitMs. setAbort, when given, receives a way to end the attempt
// from another thread while it runs, and an empty function once it is over.
TProbeAttempt ProbeSmtp(const QString &host, const TProbeCandidate &where, int limitMs, const QByteArray &heloName,
                        const LineSocketFactory &factory = {},
                        const std::function<void(std::function<void()>)> &setAbort = {});
