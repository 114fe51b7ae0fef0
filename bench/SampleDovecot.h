#pragma once
// A private Dovecot (tests/servers) on 127.0.0.1 at a free port with one mailbox of SampleMail messages,
// for the benchmarks that scan a real server.
#include "DovecotServer.h"
#include "TypeDef.h"

#include <QString>

namespace bench {

class SampleDovecot {
public:
    // Starts the server and puts messages 1..count of SampleMail into the mailbox, in order. False (with
    // a line on stderr) when the server does not start or a message is not delivered.
    bool Start(int count);
    quint16 Port() const { return m_server.port(); }
    // The mailbox as a profile names it, reached at port: the server's own, or a relay's in front of it.
    TPOP3AccountSettings Account(quint16 port) const;
    DovecotServer &Server() { return m_server; }

private:
    DovecotServer m_server;
    const QString m_user = QStringLiteral("anna");
    const QString m_password = QStringLiteral("bench-kennwort");
};

} // namespace bench
