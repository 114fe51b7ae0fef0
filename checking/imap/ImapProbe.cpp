#include "ImapProbe.h"

#include "ImapClient.h"
#include "ServerProbe.h"

TProbeAttempt ProbeImap(const QString &host, const TProbeCandidate &where, int limitMs,
                        const LineSocketFactory &factory,
                        const std::function<void(std::function<void()>)> &setAbort)
{
    return ProbeWithClient<ImapClient>(host, where, limitMs, factory, setAbort);
}
