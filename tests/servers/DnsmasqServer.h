#pragma once
// A private DNS server for integration tests: dnsmasq with a configuration of the test's own, on
// 127.0.0.1 at a free port (UDP and TCP), answering only from that configuration (no upstream servers, no
// hosts file), stopped when the object goes.
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class DnsmasqServer {
public:
    DnsmasqServer();
    ~DnsmasqServer();
    DnsmasqServer(const DnsmasqServer &) = delete;
    DnsmasqServer &operator=(const DnsmasqServer &) = delete;

    // Configuration lines in dnsmasq's own syntax, e.g. "mx-host=example.test,mx.example.test,10" or
    // "host-record=probe.test,127.0.0.1". Take effect at start().
    void addConfig(const QString &line) { m_config.append(line); }

    // Starts dnsmasq and waits until it serves. On failure *error says why (with its output).
    bool start(QString *error = nullptr);
    void stop();

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QStringList m_config;
    quint16 m_port = 0;
};

// A UDP port on 127.0.0.1 where nothing listens: a DNS query there is refused at once.
quint16 closedUdpPort();
