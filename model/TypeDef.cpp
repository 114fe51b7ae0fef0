#include "TypeDef.h"

int TMailList::CountByState(int32_t state) const
{
    int n = 0;
    for (const TMailEntry *e : m_items)
        if (e->State == state)
            ++n;
    return n;
}

namespace {

int32_t portForSecurity(int32_t port, int32_t security, int32_t plainDefault, int32_t tlsDefault)
{
    if (security == csSSLTLS && port == plainDefault)
        return tlsDefault;
    if (security != csSSLTLS && port == tlsDefault)
        return plainDefault;
    return port;
}

} // namespace

int32_t POP3PortForSecurity(int32_t port, int32_t security)
{
    return portForSecurity(port, security, 110, 995);
}

int32_t SMTPPortForSecurity(int32_t port, int32_t security)
{
    return portForSecurity(port, security, 25, 465);
}
