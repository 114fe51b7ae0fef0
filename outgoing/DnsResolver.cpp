#include "DnsResolver.h"

#include "WindowThread.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#include <ares.h>
#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <poll.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// The longest wait between two looks at an abort request.
constexpr int kAbortPollMs = 100;

bool initLibrary()
{
    static int result = ARES_ENOTINITIALIZED;
    static std::once_flag once;
    std::call_once(once, [] { result = ares_library_init(ARES_LIB_INIT_ALL); });
    return result == ARES_SUCCESS;
}

struct ChannelDeleter {
    void operator()(ares_channel channel) const { ares_destroy(channel); }
};
using ChannelPtr = std::unique_ptr<std::remove_pointer_t<ares_channel>, ChannelDeleter>;

// Points the channel at exactly this server.
bool useServer(ares_channel channel, const TDNSServerAddress &server)
{
    QHostAddress address;
    if (!address.setAddress(server.Host) || !address.scopeId().isEmpty())
        return false;
    ares_addr_port_node node{};
    node.udp_port = server.Port;
    node.tcp_port = server.Port;
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        node.family = AF_INET;
        node.addr.addr4.s_addr = htonl(address.toIPv4Address());
    } else {
        node.family = AF_INET6;
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(node.addr.addr6._S6_un._S6_u8, bytes.c, sizeof bytes.c);
    }
    return ares_set_servers_ports(channel, &node) == ARES_SUCCESS;
}

// Waits in a local event loop until one of the channel's sockets can be used, its next time-out is
// due, or the longest wait passes.
void waitForChannel(ares_channel channel, int maxWaitMs)
{
    ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
    const int bits = ares_getsock(channel, sockets, ARES_GETSOCK_MAXNUM);
    timeval longest{maxWaitMs / 1000, (maxWaitMs % 1000) * 1000};
    timeval next{};
    const timeval *due = ares_timeout(channel, &longest, &next);
    const int waitMs = due ? int(due->tv_sec * 1000 + due->tv_usec / 1000) : maxWaitMs;

    QEventLoop loop;
    std::vector<std::unique_ptr<QSocketNotifier>> notifiers;
    for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
        for (const bool write : {false, true}) {
            const bool wanted = write ? ARES_GETSOCK_WRITABLE(bits, i) : ARES_GETSOCK_READABLE(bits, i);
            if (!wanted)
                continue;
            auto notifier = std::make_unique<QSocketNotifier>(
                sockets[i], write ? QSocketNotifier::Write : QSocketNotifier::Read);
            QObject::connect(notifier.get(), &QSocketNotifier::activated, &loop, &QEventLoop::quit);
            notifiers.push_back(std::move(notifier));
        }
    }
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(std::clamp(waitMs, 0, maxWaitMs));
    loop.exec();
}

// Lets c-ares read and write what its sockets allow now, and handle its time-outs.
void processChannel(ares_channel channel)
{
    ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
    const int bits = ares_getsock(channel, sockets, ARES_GETSOCK_MAXNUM);
    std::vector<pollfd> fds;
    for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
        short events = 0;
        if (ARES_GETSOCK_READABLE(bits, i))
            events |= POLLIN;
        if (ARES_GETSOCK_WRITABLE(bits, i))
            events |= POLLOUT;
        if (events)
            fds.push_back(pollfd{sockets[i], events, 0});
    }
    if (!fds.empty() && ::poll(fds.data(), fds.size(), 0) > 0) {
        for (const pollfd &fd : fds) {
            const bool readable = fd.revents & (POLLIN | POLLERR | POLLHUP);
            const bool writable = fd.revents & POLLOUT;
            if (readable || writable)
                ares_process_fd(channel, readable ? fd.fd : ARES_SOCKET_BAD, writable ? fd.fd : ARES_SOCKET_BAD);
        }
    }
    ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
}

QByteArray queryName(const QString &name)
{
    // A domain in national characters is asked for in its ASCII form.
    const QByteArray ace = QUrl::toAce(name);
    return ace.isEmpty() ? name.toUtf8() : ace;
}

} // namespace

struct DnsResolver::Query {
    bool done = false;
    int status = ARES_SUCCESS;
    QByteArray answer;

    static void callback(void *arg, int status, int, unsigned char *answer, int length)
    {
        auto *query = static_cast<Query *>(arg);
        query->done = true;
        query->status = status;
        if (answer && length > 0)
            query->answer = QByteArray(reinterpret_cast<const char *>(answer), length);
    }
};

DnsResolver::DnsResolver() = default;

DnsResolver::Status DnsResolver::run(const TDNSServerAddress &server, const QString &name, int type,
                                     int timeoutMs, Query *query)
{
    m_error.clear();
    if (m_abort.load()) {
        m_error = QStringLiteral("Die DNS-Abfrage wurde abgebrochen.");
        return Status::Aborted;
    }
    if (platform::OnWindowThread()) {
        m_error = platform::WindowThreadWaitText();
        return Status::Failed;
    }
    if (!initLibrary()) {
        m_error = QStringLiteral("Die DNS-Bibliothek ließ sich nicht starten.");
        return Status::Failed;
    }
    ares_options options{};
    options.flags = ARES_FLAG_NOSEARCH;
    // A lost packet is sent again within the time-out; the deadline below ends the whole query.
    options.timeout = std::max(timeoutMs / 3, 1);
    options.tries = 3;
    ares_channel raw = nullptr;
    if (ares_init_options(&raw, &options, ARES_OPT_FLAGS | ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES) != ARES_SUCCESS) {
        m_error = QStringLiteral("Die DNS-Bibliothek ließ sich nicht starten.");
        return Status::Failed;
    }
    ChannelPtr channel(raw);
    // An empty server entry leaves the system's own resolver configuration in place.
    if (!server.Host.isEmpty() && !useServer(channel.get(), server)) {
        m_error = QStringLiteral("Ungültige DNS-Server-Adresse \"%1\".").arg(server.Host);
        return Status::Failed;
    }

    ares_query(channel.get(), queryName(name).constData(), ns_c_in, type, &Query::callback, query);
    const QDeadlineTimer deadline(std::max(timeoutMs, 0));
    while (!query->done) {
        if (m_abort.load()) {
            channel.reset(); // ends the query; its callback still runs, into *query
            m_error = QStringLiteral("Die DNS-Abfrage wurde abgebrochen.");
            return Status::Aborted;
        }
        if (deadline.hasExpired()) {
            channel.reset();
            m_error = QStringLiteral("Zeitüberschreitung: Der DNS-Server %1 hat nicht geantwortet.").arg(server.Host);
            return Status::TimedOut;
        }
        waitForChannel(channel.get(), int(std::min<qint64>(deadline.remainingTime(), kAbortPollMs)));
        processChannel(channel.get());
    }

    switch (query->status) {
    case ARES_SUCCESS:
    case ARES_ENODATA:
        return Status::Ok;
    case ARES_ENOTFOUND:
        m_error = QStringLiteral("Der Name \"%1\" ist dem DNS-Server unbekannt.").arg(name);
        return Status::NotFound;
    case ARES_ETIMEOUT:
        m_error = QStringLiteral("Zeitüberschreitung: Der DNS-Server %1 hat nicht geantwortet.").arg(server.Host);
        return Status::TimedOut;
    default:
        m_error = QStringLiteral("DNS-Fehler: %1").arg(QString::fromUtf8(ares_strerror(query->status)));
        return Status::Failed;
    }
}

DnsResolver::Status DnsResolver::queryMX(const TDNSServerAddress &server, const QString &domain, int timeoutMs,
                                         QList<TMXRecord> *records)
{
    records->clear();
    Query query;
    const Status status = run(server, domain, ns_t_mx, timeoutMs, &query);
    if (status != Status::Ok || query.status == ARES_ENODATA)
        return status;
    ares_mx_reply *first = nullptr;
    const int parsed = ares_parse_mx_reply(reinterpret_cast<const unsigned char *>(query.answer.constData()),
                                           int(query.answer.size()), &first);
    if (parsed == ARES_ENODATA)
        return Status::Ok;
    if (parsed != ARES_SUCCESS) {
        m_error = QStringLiteral("DNS-Fehler: %1").arg(QString::fromUtf8(ares_strerror(parsed)));
        return Status::Failed;
    }
    for (const ares_mx_reply *mx = first; mx; mx = mx->next)
        records->append(TMXRecord{mx->priority, QString::fromUtf8(mx->host)});
    ares_free_data(first);
    return Status::Ok;
}

DnsResolver::Status DnsResolver::queryA(const TDNSServerAddress &server, const QString &name, int timeoutMs,
                                        int *addressCount)
{
    *addressCount = 0;
    Query query;
    const Status status = run(server, name, ns_t_a, timeoutMs, &query);
    if (status != Status::Ok || query.status == ARES_ENODATA)
        return status;
    ares_addrttl addresses[32];
    int count = 32;
    hostent *host = nullptr;
    const int parsed = ares_parse_a_reply(reinterpret_cast<const unsigned char *>(query.answer.constData()),
                                          int(query.answer.size()), &host, addresses, &count);
    if (host)
        ares_free_hostent(host);
    if (parsed == ARES_ENODATA)
        return Status::Ok;
    if (parsed != ARES_SUCCESS) {
        m_error = QStringLiteral("DNS-Fehler: %1").arg(QString::fromUtf8(ares_strerror(parsed)));
        return Status::Failed;
    }
    *addressCount = count;
    return Status::Ok;
}
