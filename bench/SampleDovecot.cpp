#include "SampleDovecot.h"

#include "BenchSupport.h"

#include <cstdio>

namespace bench {

bool SampleDovecot::Start(int count)
{
    m_server.addUser(m_user, m_password);
    QString error;
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

} // namespace bench
