#pragma once
// DNS queries to one chosen server (address and port) through c-ares, with a time-out.
//
// A query waits in a local event loop, so a caller on the main thread keeps its windows alive, as the line
// sockets do. One query at a time per object; abort() may come from any thread.
#include <QList>
#include <QString>

#include <atomic>

struct TDNSServerAddress {
    QString Host; // a numeric IPv4 or IPv6 address
    quint16 Port = 53;
    bool operator==(const TDNSServerAddress &) const = default;
};

struct TMXRecord {
    int Preference = 0;
    QString Host;
    bool operator==(const TMXRecord &) const = default;
};

class DnsResolver {
public:
    enum class Status {
        Ok,       // an answer came; it may hold no record of the type asked for
        NotFound, // the server says the name does not exist
        TimedOut,
        Failed,   // an error reply, an unusable server address, a refused or broken connection
        Aborted,
    };

    DnsResolver();
    DnsResolver(const DnsResolver &) = delete;
    DnsResolver &operator=(const DnsResolver &) = delete;

    // The MX records of the domain (class IN) in the order of the answer; other record types in the
    // answer are left out.
    Status queryMX(const TDNSServerAddress &server, const QString &domain, int timeoutMs,
                   QList<TMXRecord> *records);
    // The number of address records (type A, class IN) the server gives for the name.
    Status queryA(const TDNSServerAddress &server, const QString &name, int timeoutMs, int *addressCount);

    // The reason of the last failure, for a trace or an error text.
    QString errorString() const { return m_error; }

    // Ends the query in progress, and every later one until resetAbort(), with Aborted.
    void abort() { m_abort.store(true); }
    void resetAbort() { m_abort.store(false); }

private:
    struct Query;
    Status run(const TDNSServerAddress &server, const QString &name, int type, int timeoutMs, Query *query);

    std::atomic<bool> m_abort{false};
    QString m_error;
};
