#include "SampleDovecot.h"

#include "BenchSupport.h"

#include <cstdio>

namespace bench {

bool SampleDovecot::Start(int count, bool tls)
{
    m_server.addUser(m_user, m_password);
    QString error;
    if (tls && !m_server.setSelfSignedTls(m_certificates, QStringLiteral("Quarvel Bench"), &m_certificate, &error)) {
        std::fprintf(stderr, "Kein Zertifikat für TLS: %s\n", qPrintable(error));
        return false;
    }
    if (!m_server.start(&error)) {
        std::fprintf(stderr, "Dovecot startet nicht: %s\n", qPrintable(error));
        return false;
    }
    SampleMail sample;
    for (int n = 1; n <= count; ++n) {
        if (m_server.deliver(m_user, sample.Message(n)).isEmpty()) {
            std::fprintf(stderr, "Nachricht %d nicht zugestellt\n", n);
            return false;
        }
    }
    return true;
}

TPOP3AccountSettings SampleDovecot::Account(quint16 port) const
{
    TPOP3AccountSettings a = SampleAccounts(1, port).first();
    a.AccountName = m_user;
    a.Password = m_password;
    return a;
}

TPOP3AccountSettings SampleDovecot::TlsAccount() const
{
    TPOP3AccountSettings a = Account(TlsPort());
    a.POP3Security = csSSLTLS;
    a.POP3CertSHA256 = m_certificate.Fingerprint;
    return a;
}

TPOP3AccountSettings SampleDovecot::ImapAccount(quint16 port) const
{
    TPOP3AccountSettings a = Account(port);
    a.AccountType = atIMAP;
    return a;
}

} // namespace bench
