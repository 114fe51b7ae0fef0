#include "SecurityProbe.h"

TProbeResult ProbeInOrder(const QList<TProbeCandidate> &order,
                          const std::function<TProbeAttempt(const TProbeCandidate &)> &attempt,
                          const std::function<bool()> &cancelled, TServerRole role)
{
    TProbeResult result;
    for (const TProbeCandidate &candidate : order) {
        if (cancelled && cancelled()) {
            result.Cancelled = true;
            return result;
        }
        const TProbeAttempt tried = attempt(candidate);
        if (cancelled && cancelled()) {
            result.Cancelled = true;
            return result;
        }
        if (tried.Encrypted) {
            result.Found = true;
            result.Where = candidate;
            result.PlainText = false;
            result.ErrorText.clear();
            return result;
        }
        // A TLS handshake that met plain text is a server that answers there, only not with TLS.
        result.PlainText = result.PlainText || tried.PlainText || tried.Failure == TFailureKind::NoTlsOnPort;
        result.ErrorText = ExplainedFailureText(tried.Failure, tried.ErrorText, role);
    }
    return result;
}
