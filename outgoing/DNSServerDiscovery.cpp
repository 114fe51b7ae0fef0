#include "DNSServerDiscovery.h"

#include <QFile>
#include <QHostAddress>

#include <algorithm>

namespace {

// A decimal number made of ASCII digits only, within 0..max.
bool decimalAtMost(QStringView part, int max, int *value)
{
    if (part.isEmpty())
        return false;
    int n = 0;
    for (const QChar c : part) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        n = std::min(n * 10 + (c.unicode() - '0'), 100000); // leading zeros are fine, overflow is not
    }
    *value = n;
    return n <= max;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    // A resolver configuration is a few lines; anything far larger is not one.
    return file.read(64 * 1024);
}

bool isResolvedStub(const QString &server)
{
    return server == QLatin1String("127.0.0.53") || server == QLatin1String("127.0.0.54");
}

} // namespace

bool IsIPv4Address(const QString &text)
{
    // Split at the first three dots only: a fifth part stays in the fourth and makes it no number.
    QList<QStringView> parts;
    qsizetype start = 0;
    for (int i = 0; i < 3; ++i) {
        const qsizetype dot = text.indexOf(QLatin1Char('.'), start);
        if (dot < 0)
            return false;
        parts.append(QStringView(text).mid(start, dot - start));
        start = dot + 1;
    }
    parts.append(QStringView(text).mid(start));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        int value = 0;
        if (!decimalAtMost(parts.at(i), 254, &value) || (i == 0 && value < 1))
            return false;
    }
    return true;
}

QString DNSServerFromToolOutput(const QStringList &lines)
{
    QString candidate;
    for (const QString &line : lines) {
        if (!line.contains(QLatin1String("DNS-Server")))
            continue;
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        candidate = line.mid(colon + 1).trimmed();
    }
    return IsIPv4Address(candidate) ? candidate : QString();
}

QStringList ParseResolvConf(const QByteArray &text)
{
    QStringList servers;
    for (const QByteArray &rawLine : text.split('\n')) {
        const QByteArray line = rawLine.simplified();
        if (!line.startsWith("nameserver "))
            continue;
        const QString address = QString::fromLatin1(line.mid(11).split(' ').first());
        if (!QHostAddress(address).isNull() && !servers.contains(address))
            servers.append(address);
    }
    return servers;
}

QStringList ConfiguredDNSServers(const TResolverFiles &files)
{
    QStringList result;
    for (const QString &server : ParseResolvConf(readFile(files.ResolvConf))) {
        if (!isResolvedStub(server)) {
            if (!result.contains(server))
                result.append(server);
            continue;
        }
        // The stub forwards to servers of its own; those are what the machine really uses.
        const QStringList upstream = ParseResolvConf(readFile(files.ResolvedUpstream));
        const QStringList &replacement = upstream.isEmpty() ? QStringList{server} : upstream;
        for (const QString &u : replacement)
            if (!result.contains(u))
                result.append(u);
    }
    return result;
}

TDNSServerAddress FirstAnsweringServer(const QList<TDNSServerAddress> &servers, DnsResolver &resolver,
                                       const QString &probeName, int timeoutMs)
{
    QList<TDNSServerAddress> candidates;
    for (const TDNSServerAddress &server : servers)
        if (!server.Host.trimmed().isEmpty())
            candidates.append(TDNSServerAddress{server.Host.trimmed(), server.Port});
    if (candidates.size() == 1)
        return candidates.first();
    for (const TDNSServerAddress &server : candidates) {
        int addresses = 0;
        if (resolver.queryA(server, probeName, timeoutMs, &addresses) == DnsResolver::Status::Ok && addresses > 0)
            return server;
    }
    return TDNSServerAddress{QString(), 53};
}

void DiscoverDNSServers(QStringList &list, QString &first, DnsResolver &resolver, const TResolverFiles &files)
{
    list.clear();
    QList<TDNSServerAddress> servers;
    for (const QString &host : ConfiguredDNSServers(files))
        servers.append(TDNSServerAddress{host, 53});
    first = FirstAnsweringServer(servers, resolver).Host;
    if (!first.isEmpty())
        list.append(first);
}
