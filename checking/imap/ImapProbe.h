#pragma once
// One attempt of the server search (SecurityProbe.h) on an IMAP server: greeting, capabilities and, for
// an upgrade, STARTTLS and the handshake, then LOGOUT; never a login.
#include "LineSocket.h"
#include "SecurityProbe.h"

#include <functional>

// Every wait of the attempt ends within limitMs. setAbort, when given, receives a way to end the attempt
// from another thread while it runs, and an empty function once it is over.
TProbeAttempt ProbeImap(const QString &host, const TProbeCandidate &where, int limitMs,
                        const LineSocketFactory &factory = {},
                        const std::function<void(std::function<void()>)> &setAbort = {});
