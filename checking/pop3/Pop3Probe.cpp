#include "Pop3Probe.h"

#include "Pop3Client.h"
#include "ServerProbe.h"

TProbeAttempt ProbePop3(const QString &host, const TProbeCandidate &where, int limitMs,
                        const LineSocketFactory &factory,
                        const std::function<void(std::function<void()>)> &setAbort)
{
    return ProbeWithClient<Pop3Client>(host, where, limitMs, factory, setAbort);
}
