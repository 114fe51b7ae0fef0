// What a failed login test and a failed check tell the user, and the search for a server's security,
// against private Dovecot instances: one with TLS (STLS on its POP3 port, TLS from the first byte on a
// second one, a self-signed certificate) and one that speaks plain text only.
#include "DovecotCheckerSupport.h"
#include "ImapProbe.h"
#include "Pop3Probe.h"

#include <QTcpServer>
#include <QThread>

#include <atomic>

namespace {

// A port that takes connections and never says a word.
class SilentPort {
public:
    SilentPort() { EXPECT_TRUE(m_server.listen(QHostAddress::LocalHost)); }
    quint16 port() const { return m_server.serverPort(); }

private:
    QTcpServer m_server;
};

template <typename Suite>
class SearchFixture : public MailboxOnDovecot<Suite> {
protected:
    using Probe = TProbeAttempt (*)(const QString &, const TProbeCandidate &, int, const LineSocketFactory &,
                                    const std::function<void(std::function<void()>)> &);

    // Runs one search on a thread of its own, as the worker would, with the event loop of this one going.
    TProbeResult search(const QList<TProbeCandidate> &order, int limitMs = 10000,
                        const std::function<bool()> &cancelled = {}, Probe probe = &ProbePop3)
    {
        TProbeResult result;
        std::atomic<bool> done{false};
        QThread *thread = QThread::create([&] {
            result = ProbeInOrder(
                order, [&](const TProbeCandidate &c) { return probe(this->server->host(), c, limitMs, {}, {}); },
                cancelled, TServerRole::Incoming);
            done = true;
        });
        thread->start();
        EXPECT_TRUE(processEventsUntil([&] { return done.load(); }, 120000));
        thread->wait();
        delete thread;
        return result;
    }
};

class TlsSearchTest : public SearchFixture<WithTlsDovecot<CheckerFixture>> {};
class PlainSearchTest : public SearchFixture<WithDovecot<CheckerFixture>> {};

TEST_F(TlsSearchTest, TheLoginTestAndTheCheckExplainCommonFailuresAheadOfTheServersWords)
{
    SilentPort silent;
    const quint16 refused = freeLoopbackPort();
    const struct {
        const char *name;
        quint16 port;
        int32_t security;
        const char *password;
        const char *explanation;
        const char *said; // what stays after the explanation
    } cases[] = {
        {"wrong password", server->port(), csStartTLS, "falsch", "Kontoname oder Kennwort falsch.", "[AUTH]"},
        {"refused port", refused, csNone, nullptr, "Der Server nimmt an diesem Port keine Verbindung an.",
         "Meldung: "},
        {"plain port with TLS chosen", server->port(), csSSLTLS, nullptr,
         "An diesem Port spricht der Server kein SSL/TLS. Üblich sind 995 (SSL/TLS) und 110 (STARTTLS).",
         "wrong version number"},
        {"silent port", silent.port(), csNone, nullptr, "Der Server hat nicht rechtzeitig geantwortet.",
         "Zeitüberschreitung"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TPOP3AccountSettings a = Account(server->host(), user, c.password ? QString::fromUtf8(c.password) : password());
        a.Port = c.port;
        a.POP3Security = c.security;
        a.POP3CertSHA256 = certificate.Fingerprint;
        makeRealChecker({a});
        // A shorter time-out than makeRealChecker's, for the silent port.
        TPop3Options options;
        options.TimeoutMs = 1500;
        checker.reset();
        checker = std::make_unique<TPOP3Checker>(settings, detector, ui, options);

        QString error;
        int code = -1;
        EXPECT_FALSE(testAccount(a, error, code));
        EXPECT_TRUE(error.startsWith(QString::fromUtf8(c.explanation))) << error.toStdString();
        EXPECT_TRUE(error.contains(QString::fromUtf8(c.said))) << error.toStdString();

        // A manual check's failure line says the same.
        ui.progress.clear();
        checkNow();
        const QString lines = ui.progress.join(u'\n');
        EXPECT_TRUE(lines.contains(QString::fromUtf8(c.explanation))) << lines.toStdString();
    }
    // A login that works has nothing to explain.
    TPOP3AccountSettings good = Account(server->host(), user, password());
    good.Port = server->tlsPort();
    good.POP3Security = csSSLTLS;
    good.POP3CertSHA256 = certificate.Fingerprint;
    QString error;
    int code = -1;
    EXPECT_TRUE(testAccount(good, error, code)) << error.toStdString();
}

TEST_F(TlsSearchTest, TheSearchFindsTlsFromTheFirstByteThenStlsAndCountsAnUntrustedCertificateAsFound)
{
    const quint16 refused = freeLoopbackPort();
    // TLS on the TLS port answers first; the certificate is self-signed and not trusted: still found.
    TProbeResult r = search({{server->tlsPort(), true}, {server->port(), false}});
    EXPECT_TRUE(r.Found);
    EXPECT_EQ(r.Where, (TProbeCandidate{server->tlsPort(), true}));

    // Nothing on the usual TLS port, plain text on the other: its STLS is found.
    r = search({{refused, true}, {server->port(), true}, {server->port(), false}});
    EXPECT_TRUE(r.Found);
    EXPECT_EQ(r.Where, (TProbeCandidate{server->port(), false}));

    // No login went out in any of it.
    EXPECT_FALSE(server->log().contains(QStringLiteral("Login: user=<%1>").arg(user))) << server->log().toStdString();
}

TEST_F(TlsSearchTest, AnImapServerIsFoundOnItsTlsPortThenByStartTlsAndItsFailuresNameItsPorts)
{
    const quint16 refused = freeLoopbackPort();
    TProbeResult r = search({{server->imapsPort(), true}, {server->imapPort(), false}}, 10000, {}, &ProbeImap);
    EXPECT_TRUE(r.Found);
    EXPECT_EQ(r.Where, (TProbeCandidate{server->imapsPort(), true}));
    r = search({{refused, true}, {server->imapPort(), true}, {server->imapPort(), false}}, 10000, {}, &ProbeImap);
    EXPECT_TRUE(r.Found);
    EXPECT_EQ(r.Where, (TProbeCandidate{server->imapPort(), false}));
    EXPECT_FALSE(server->log().contains(QStringLiteral("Login: user=<%1>").arg(user))) << server->log().toStdString();

    // TLS chosen for the plain IMAP port: the explanation names IMAP's ports.
    TPOP3AccountSettings a = Account(server->host(), user, password());
    a.AccountType = atIMAP;
    a.Port = server->imapPort();
    a.POP3Security = csSSLTLS;
    a.POP3CertSHA256 = certificate.Fingerprint;
    makeRealChecker({a});
    QString error;
    int code = -1;
    EXPECT_FALSE(testAccount(a, error, code));
    EXPECT_TRUE(error.startsWith(FailureExplanation(TFailureKind::NoTlsOnPort, TServerRole::IncomingImap)))
        << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("993 (SSL/TLS) und 143 (STARTTLS)"))) << error.toStdString();
}

TEST_F(PlainSearchTest, APlainTextServerIsFoundToBePlainAndASilentPortIsGivenUp)
{
    TProbeResult r = search({{server->port(), true}, {server->port(), false}});
    EXPECT_FALSE(r.Found);
    EXPECT_TRUE(r.PlainText);
    EXPECT_FALSE(r.Cancelled);
    r = search({{server->imapPort(), true}, {server->imapPort(), false}}, 10000, {}, &ProbeImap);
    EXPECT_FALSE(r.Found);
    EXPECT_TRUE(r.PlainText);

    // A silent port is given up within its limit, and counts as no answer at all.
    SilentPort silent;
    r = search({{silent.port(), true}, {silent.port(), false}}, 800);
    EXPECT_FALSE(r.Found);
    EXPECT_FALSE(r.PlainText);
    EXPECT_TRUE(r.ErrorText.startsWith(FailureExplanation(TFailureKind::TimedOut))) << r.ErrorText.toStdString();

    // Cancelled while waiting on a silent port with a long limit: the attempt ends through its abort.
    std::atomic<bool> cancel{false};
    std::function<void()> abort;
    QMutex abortMutex;
    TProbeResult cancelled;
    std::atomic<bool> done{false};
    QThread *thread = QThread::create([&] {
        cancelled = ProbeInOrder(
            {{silent.port(), false}, {server->port(), false}},
            [&](const TProbeCandidate &c) {
                return ProbePop3(server->host(), c, 600000, {}, [&](std::function<void()> a) {
                    QMutexLocker lock(&abortMutex);
                    abort = std::move(a);
                });
            },
            [&] { return cancel.load(); }, TServerRole::Incoming);
        done = true;
    });
    thread->start();
    ASSERT_TRUE(processEventsUntil([&] {
        QMutexLocker lock(&abortMutex);
        return bool(abort);
    }));
    cancel = true;
    {
        QMutexLocker lock(&abortMutex);
        abort();
    }
    EXPECT_TRUE(processEventsUntil([&] { return done.load(); }, 60000));
    thread->wait();
    delete thread;
    EXPECT_TRUE(cancelled.Cancelled);
    EXPECT_FALSE(cancelled.Found);
}

TEST(FailureExplanations, EachKindHasItsTextAndTheTextOfTheServerFollows)
{
    EXPECT_EQ(FailureKindOfSocketError(QAbstractSocket::ConnectionRefusedError), TFailureKind::ConnectionRefused);
    EXPECT_EQ(FailureKindOfSocketError(QAbstractSocket::HostNotFoundError), TFailureKind::HostNotFound);
    EXPECT_EQ(FailureKindOfSocketError(QAbstractSocket::SocketTimeoutError), TFailureKind::TimedOut);
    EXPECT_EQ(FailureKindOfSocketError(QAbstractSocket::RemoteHostClosedError), TFailureKind::Other);
    EXPECT_TRUE(HandshakeMetPlainText(QStringLiteral("error:0A00010B:SSL routines::wrong version number")));
    EXPECT_FALSE(HandshakeMetPlainText(QStringLiteral("The host name did not match")));

    EXPECT_EQ(ExplainedFailureText(TFailureKind::HostNotFound, QStringLiteral("Host not found")),
              QStringLiteral("Einen Server mit diesem Namen gibt es nicht. Prüfen Sie die Schreibweise des "
                             "Servernamens. Meldung: Host not found"));
    EXPECT_EQ(ExplainedFailureText(TFailureKind::Other, QStringLiteral("-ERR kaputt")), QStringLiteral("-ERR kaputt"));
    // Explained once only, however often a text passes through.
    const QString once = ExplainedFailureText(TFailureKind::LoginRefused, QStringLiteral("[AUTH] Authentication failed."));
    EXPECT_EQ(ExplainedFailureText(TFailureKind::LoginRefused, once), once);
    EXPECT_TRUE(FailureExplanation(TFailureKind::NoTlsOnPort, TServerRole::Outgoing).contains(QStringLiteral("465")));
}

} // namespace
