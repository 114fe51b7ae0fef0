#pragma once
// A private Dovecot (tests/servers) on 127.0.0.1 at a free port with one mailbox of SampleMail messages,
// for the benchmarks that scan a real server.
#include "DovecotServer.h"
#include "TestCertificates.h"
#include "TypeDef.h"

#include <QString>

namespace bench {

class SampleDovecot {
public:
    // Starts the server and puts messages 1..count of SampleMail into the mailbox, in order. With tls,
    // the server also speaks TLS (a self-signed certificate made with openssl) on TlsPort(). False (with a
    // line on stderr) when the server does not start or a message is not delivered.
    bool Start(int count, bool tls = false);
    quint16 Port() const { return m_server.port(); }
    quint16 TlsPort() const { return m_server.tlsPort(); }
    // The mailbox as a profile names it, reached at port: the server's own, or a relay's in front of it.
    TPOP3AccountSettings Account(quint16 port) const;
    // The mailbox over TLS from the first byte, with the server's certificate trusted.
    TPOP3AccountSettings TlsAccount() const;
    // The same mailbox read over IMAP at port: the server's IMAP port, or a relay's in front of it.
    TPOP3AccountSettings ImapAccount(quint16 port) const;
    quint16 ImapPort() const { return m_server.imapPort(); }
    DovecotServer &Server() { return m_server; }

private:
    DovecotServer m_server;
    TestCertificates m_certificates;
    TestCertificate m_certificate;
    const QString m_user = QStringLiteral("anna");
    const QString m_password = QStringLiteral("bench-kennwort");
};

} // namespace bench
