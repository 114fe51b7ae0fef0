#pragma once
// Which DNS server the MX lookup asks: the one the machine itself uses, found anew on every call.
//
// On Windows the discovery reads the IP Helper's server list, then the output of the IP configuration
// tool ("DNS-Server" lines), then the registry. Linux has neither the tool nor those registry values; the
// system's own list is the resolver configuration: /etc/resolv.conf, and when that names only the local
// stub of systemd-resolved (127.0.0.53), the upstream servers that systemd-resolved itself asks.
#include "DnsResolver.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// True for four decimal numbers separated by ".", the first 1..254 and the other three 0..254.
bool IsIPv4Address(const QString &text);

// The server named by the output of the Windows IP configuration tool: every line holding "DNS-Server"
// gives the text after its first ":", trimmed; the last such line wins, and only when it passes
// IsIPv4Address. Empty otherwise.
QString DNSServerFromToolOutput(const QStringList &lines);

// The "nameserver" addresses of a resolv.conf text, in order (comments, options and entries that are no
// IP address left out).
QStringList ParseResolvConf(const QByteArray &text);

// Where the resolver configuration is read; tests point these at files of their own.
struct TResolverFiles {
    QString ResolvConf = QStringLiteral("/etc/resolv.conf");
    QString ResolvedUpstream = QStringLiteral("/run/systemd/resolve/resolv.conf");
};

// The servers the system is configured with, in order: resolv.conf's, with the systemd-resolved stub
// replaced by the upstream list when that file exists and names any.
QStringList ConfiguredDNSServers(const TResolverFiles &files = {});

// The name whose address record tells whether a server answers.
inline const QString kDNSProbeName = QStringLiteral("example.com");
inline constexpr int kDNSProbeTimeoutMs = 5000;

// The first of the servers that answers: one server alone is taken without a question; of several,
// each in turn is asked for the address of probeName and the first that gives one is the result. An
// empty Host when none does.
TDNSServerAddress FirstAnsweringServer(const QList<TDNSServerAddress> &servers, DnsResolver &resolver,
                             const QString &probeName = kDNSProbeName, int timeoutMs = kDNSProbeTimeoutMs);

// The DNS server to ask: list is cleared and then holds the one server found, first is that server; both
// are empty when none is found.
void DiscoverDNSServers(QStringList &list, QString &first, DnsResolver &resolver,
                        const TResolverFiles &files = {});
