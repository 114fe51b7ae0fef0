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

int32_t IMAPPortForSecurity(int32_t port, int32_t security)
{
    return portForSecurity(port, security, 143, 993);
}

int32_t IncomingPortForType(int32_t port, int32_t type, int32_t security)
{
    const bool imap = type == atIMAP;
    const int32_t plainFrom = imap ? 110 : 143, tlsFrom = imap ? 995 : 993;
    const int32_t plainTo = imap ? 143 : 110, tlsTo = imap ? 993 : 995;
    if (port == plainFrom || port == tlsFrom)
        port = port == plainFrom ? plainTo : tlsTo;
    return IncomingPortForSecurity(type, port, security);
}

int32_t IncomingPortForSecurity(int32_t type, int32_t port, int32_t security)
{
    return type == atIMAP ? IMAPPortForSecurity(port, security) : POP3PortForSecurity(port, security);
}
