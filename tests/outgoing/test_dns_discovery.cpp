// Finding the DNS server to ask: the address rule, the tool-output rule kept from the Windows version,
// and the resolver configuration of Linux.
#include "DNSServerDiscovery.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {

TEST(IsIPv4Address, FourDecimalNumbersFirstFrom1AllUpTo254)
{
    const struct {
        const char *text;
        bool ok;
    } cases[] = {
        {"192.168.1.1", true},   {"1.0.0.0", true},         {"254.254.254.254", true}, {"10.0.0.01", true},
        {"0.1.2.3", false},      {"192.168.1.255", false},  {"255.1.1.1", false},      {"1.2.3", false},
        {"1.2.3.4.5", false},    {"1.2.3.", false},         {"1..2.3", false},         {"a.b.c.d", false},
        {"1.2.3.4 ", false},     {"-1.2.3.4", false},       {"1.-2.3.4", false},       {"", false},
        {"192.168.1.1 10.0.0.1", false}, {"99999999999.1.1.1", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(IsIPv4Address(QString::fromLatin1(c.text)), c.ok) << c.text;
}

TEST(DNSServerFromToolOutput, LastDnsServerLineWinsWhenItIsAnAddress)
{
    const struct {
        const char *name;
        QStringList lines;
        QString server;
    } cases[] = {
        {"two adapters: the second one's",
         {"Ethernet-Adapter LAN:", "   DNS-Server . . . . . . . . . . . : 192.168.1.1",
          "WLAN-Adapter:", "   DNS-Server . . . . . . . . . . . : 10.0.0.1  "},
         "10.0.0.1"},
        {"broadcast address fails the rule", {"   DNS-Server . . . : 192.168.1.255"}, ""},
        {"last line wins even when it is bad",
         {"DNS-Server : 192.168.1.1", "DNS-Server : fe80::1"}, ""},
        {"no such line", {"IP-Adresse. . . : 192.168.1.20"}, ""},
        {"text after the first colon", {"DNS-Server: 10.1.2.3"}, "10.1.2.3"},
        {"nothing", {}, ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(DNSServerFromToolOutput(c.lines), c.server) << c.name;
}

TEST(ParseResolvConf, NameserverAddressesInOrder)
{
    const QByteArray text = "# generated\n"
                            "nameserver 192.168.1.1\n"
                            "  nameserver\t10.0.0.1   # second\n"
                            "; nameserver 1.1.1.1\n"
                            "nameserver not-an-address\n"
                            "nameserver 2001:db8::53\n"
                            "nameserver 192.168.1.1\n"
                            "search example.org\n"
                            "options edns0\n"
                            "nameserver\n";
    EXPECT_EQ(ParseResolvConf(text), QStringList({"192.168.1.1", "10.0.0.1", "2001:db8::53"}));
    EXPECT_EQ(ParseResolvConf(QByteArray()), QStringList());
}

class ConfiguredServers : public ::testing::Test {
protected:
    void write(const QString &name, const QByteArray &text)
    {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    TResolverFiles files() const
    {
        return {dir.filePath(QStringLiteral("resolv.conf")), dir.filePath(QStringLiteral("upstream.conf"))};
    }
    QTemporaryDir dir;
};

TEST_F(ConfiguredServers, StubOfSystemdResolvedIsReplacedByItsUpstreamServers)
{
    write(QStringLiteral("resolv.conf"), "nameserver 127.0.0.53\noptions edns0 trust-ad\n");
    write(QStringLiteral("upstream.conf"), "nameserver 192.168.178.1\nnameserver 9.9.9.9\n");
    EXPECT_EQ(ConfiguredDNSServers(files()), QStringList({"192.168.178.1", "9.9.9.9"}));
}

TEST_F(ConfiguredServers, StubStaysWhenTheUpstreamListIsMissing)
{
    write(QStringLiteral("resolv.conf"), "nameserver 127.0.0.53\n");
    EXPECT_EQ(ConfiguredDNSServers(files()), QStringList({"127.0.0.53"}));
}

TEST_F(ConfiguredServers, PlainResolvConfIsTakenAsItIs)
{
    write(QStringLiteral("resolv.conf"), "nameserver 10.0.0.1\nnameserver 10.0.0.2\n");
    write(QStringLiteral("upstream.conf"), "nameserver 192.168.178.1\n");
    EXPECT_EQ(ConfiguredDNSServers(files()), QStringList({"10.0.0.1", "10.0.0.2"}));
}

TEST_F(ConfiguredServers, NoConfigurationNoServer)
{
    EXPECT_EQ(ConfiguredDNSServers(files()), QStringList());
    DnsResolver resolver;
    QStringList list{QStringLiteral("stale")};
    QString first = QStringLiteral("stale");
    DiscoverDNSServers(list, first, resolver, files());
    EXPECT_TRUE(list.isEmpty());
    EXPECT_TRUE(first.isEmpty());
}

TEST_F(ConfiguredServers, OneServerIsTakenWithoutAQuestion)
{
    // A single server is not asked at all: an aborted resolver would fail any question.
    write(QStringLiteral("resolv.conf"), "nameserver 192.0.2.1\n");
    DnsResolver resolver;
    resolver.abort(); // any query would fail at once
    QStringList list;
    QString first;
    DiscoverDNSServers(list, first, resolver, files());
    EXPECT_EQ(first, "192.0.2.1");
    EXPECT_EQ(list, QStringList({"192.0.2.1"}));
}

} // namespace
