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
    return portForSecurity(port, security, IncomingDefaultPort(atPOP3, false), IncomingDefaultPort(atPOP3, true));
}

int32_t SMTPPortForSecurity(int32_t port, int32_t security)
{
    return portForSecurity(port, security, 25, 465);
}

int32_t IMAPPortForSecurity(int32_t port, int32_t security)
{
    return portForSecurity(port, security, IncomingDefaultPort(atIMAP, false), IncomingDefaultPort(atIMAP, true));
}

int32_t IncomingDefaultPort(int32_t type, bool implicitTls)
{
    if (type == atIMAP)
        return implicitTls ? 993 : 143;
    return implicitTls ? 995 : 110;
}

int32_t IncomingPortForType(int32_t port, int32_t type, int32_t security)
{
    const int32_t other = type == atIMAP ? atPOP3 : atIMAP;
    for (const bool tls : {false, true})
        if (port == IncomingDefaultPort(other, tls)) {
            port = IncomingDefaultPort(type, tls);
            break;
        }
    return IncomingPortForSecurity(type, port, security);
}

int32_t IncomingPortForSecurity(int32_t type, int32_t port, int32_t security)
{
    return type == atIMAP ? IMAPPortForSecurity(port, security) : POP3PortForSecurity(port, security);
}
