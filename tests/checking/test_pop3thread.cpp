// The POP3 session worker against scripted servers: connecting, scanning, counting, deleting, and its
// idle loop.
#include "CheckerTestSupport.h"
#include "EventWait.h"
#include "Pop3Session.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QThread>

namespace {

using Step = FakeLineSocket::Step;

// Runs the events of this thread until cond holds.
bool waitFor(const std::function<bool()> &cond, int guardMs = 20000)
{
    return processEventsUntil(cond, guardMs);
}

class WorkerTest : public CheckerFixture {
protected:
    struct Result {
        bool ok;
        bool fatal;
        int code;
        QString error;
    };

    Result connect(TPop3Thread &worker, const TPOP3AccountSettings &account)
    {
        Result r{};
        r.ok = worker.Connect(account, r.fatal, r.code, r.error);
        return r;
    }

    static TMailEntry entryFor(int n, const QByteArray &subject, const QByteArray &id, int size, const QByteArray &uidl)
    {
        TMailEntry e;
        e.Message.FillFromHeader(HeaderBlock(subject, id));
        e.ScanDigest = TPop3Thread::HeaderDigest(HeaderBlock(subject, id));
        e.Host = QStringLiteral("pop.example.test");
        e.UserName = QStringLiteral("bob");
        e.MsgNumber = n;
        e.Size = size;
        e.ServerUIDL = QString::fromLatin1(uidl);
        return e;
    }
};

// --- Connect --------------------------------------------------------------------------------------------

// An APOP login that fails (no timestamp in the greeting, or APOP refused) is tried again with USER/PASS
// only inside TLS: on a plain connection whoever strips the timestamp, or answers the APOP command, would
// get the password in clear.
struct ApopCase {
    const char *name;
    bool tls;
    Script firstAttempt;
    QString error; // empty: the fallback logs in
};

void PrintTo(const ApopCase &c, std::ostream *os)
{
    *os << c.name;
}

class ApopFallbackTest : public WorkerTest, public ::testing::WithParamInterface<ApopCase> {};

TEST_P(ApopFallbackTest, FallsBackToUserPassOnlyInsideTls)
{
    const ApopCase &c = GetParam();
    TPop3Thread worker(nullptr, options());
    TPOP3AccountSettings account = Account();
    account.UseAPOP = true;
    account.POP3Security = c.tls ? csSSLTLS : csNone;
    play(c.firstAttempt);
    const bool fallback = c.error.isEmpty();
    if (fallback)
        play(Login());

    const Result r = connect(worker, account);
    EXPECT_EQ(r.ok, fallback) << r.error.toStdString();
    EXPECT_EQ(fake->connectCount(), fallback ? 2 : 1);
    if (fallback) {
        EXPECT_EQ(worker.Client()->authKind(), Pop3Client::AuthKind::UserPass);
    } else {
        EXPECT_TRUE(r.fatal);
        EXPECT_EQ(r.error, c.error);
        EXPECT_TRUE(written("USER").isEmpty());
        EXPECT_TRUE(written("PASS").isEmpty());
    }
    expectScriptDone();
}

const Script kNoTimestamp{Accept(), S("+OK POP3 ready"), C("CAPA"), S("-ERR")};
const Script kApopRefused{Accept(), S("+OK POP3 ready <1.2@pop.example.test>"), C("CAPA"), S("-ERR"),
                          C("APOP bob " + Pop3Client::apopDigest("<1.2@pop.example.test>", "pw")),
                          S("-ERR [AUTH] Authentication failed.")};
const QString kNoApopText = QStringLiteral(
    "Der Server bietet kein APOP mehr an (seine Begrüßung enthält keinen Zeitstempel). Das Passwort wurde nicht "
    "gesendet: Auf einer unverschlüsselten Verbindung kann jemand auf dem Weg den Zeitstempel entfernt haben, um "
    "es mitzulesen. Wählen Sie eine verschlüsselte Verbindung, oder schalten Sie APOP ab.");

INSTANTIATE_TEST_SUITE_P(
    Worker, ApopFallbackTest,
    ::testing::Values(ApopCase{"GreetingWithoutTimestampInsideTls", true, kNoTimestamp, {}},
                      ApopCase{"ApopRefusedInsideTls", true, kApopRefused, {}},
                      ApopCase{"GreetingWithoutTimestampOnAPlainConnection", false, kNoTimestamp, kNoApopText},
                      ApopCase{"ApopRefusedOnAPlainConnection", false, kApopRefused,
                               QStringLiteral("Kontoname oder Kennwort falsch. Meldung: [AUTH] Authentication failed.")}),
    [](const ::testing::TestParamInfo<ApopCase> &info) { return std::string(info.param.name); });

// A stored security this version does not know (a later version's, a typing error) is no reason to send
// the password in clear: no connection is made at all.
TEST_F(WorkerTest, UnknownSecurityRefusesToConnect)
{
    for (const int32_t security : {3, -1}) {
        SCOPED_TRACE(security);
        TPop3Thread worker(nullptr, options());
        TPOP3AccountSettings account = Account();
        account.POP3Security = security;
        const Result r = connect(worker, account);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.fatal);
        EXPECT_EQ(r.error, unknownSecurityText(QStringLiteral("pop.example.test")));
        EXPECT_EQ(fake->connectCount(), 0);
        EXPECT_TRUE(fake->written().isEmpty());
    }
}

TEST_F(WorkerTest, SecondConnectForTheSameAccountReusesTheSessionAfterNoop)
{
    TPop3Thread worker(nullptr, options());
    play(Login());
    play({C("NOOP"), S("+OK")});
    EXPECT_TRUE(connect(worker, Account()).ok);
    EXPECT_TRUE(connect(worker, Account()).ok);
    EXPECT_EQ(fake->connectCount(), 1);

    // A refused NOOP, or another password, means a new session.
    play({C("NOOP"), S("-ERR session expired")});
    play(Login());
    EXPECT_TRUE(connect(worker, Account()).ok);
    play(Login("bob", "other"));
    EXPECT_TRUE(connect(worker, Account(QStringLiteral("pop.example.test"), QStringLiteral("bob"),
                                        QStringLiteral("other")))
                    .ok);
    EXPECT_EQ(fake->connectCount(), 3);
    EXPECT_TRUE(written("QUIT").isEmpty()) << "an old session is dropped, not ended with QUIT";
    expectScriptDone();
}

TEST_F(WorkerTest, WrongPasswordGivesTheServersText)
{
    TPop3Thread worker(nullptr, options());
    play({Accept(), S("+OK ready"), C("CAPA"), S("-ERR"), C("USER bob"), S("+OK"), C("PASS pw"),
          S("-ERR [AUTH] Authentication failed.")});
    const Result r = connect(worker, Account());
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.fatal);
    // What it means comes first; the server's words follow.
    EXPECT_EQ(r.error, QStringLiteral("Kontoname oder Kennwort falsch. Meldung: [AUTH] Authentication failed."));
    expectScriptDone();
}

TEST_F(WorkerTest, AccountSecurityAndTrustedCertificateReachTheClient)
{
    TPop3Thread worker(nullptr, options());
    TPOP3AccountSettings account = Account();
    account.POP3Security = csSSLTLS;
    account.Port = 995;
    account.POP3CertSHA256 = QStringLiteral("12:34");
    play(Login());
    ASSERT_TRUE(connect(worker, account).ok);
    EXPECT_TRUE(fake->transcript().contains(QStringLiteral("-- connect tls pop.example.test:995")));
    EXPECT_EQ(fake->trustedCertificate(), QStringLiteral("12:34"));

    // The open session is encrypted from the first byte, not upgraded: the same account with STARTTLS
    // gets a session of its own.
    account.POP3Security = csStartTLS;
    play({Accept(), S("+OK ready"), C("CAPA"), S("+OK"), S("STLS"), S("."), C("STLS"), S("+OK"), C("CAPA"),
          S("-ERR"), C("USER bob"), S("+OK"), C("PASS pw"), S("+OK")});
    ASSERT_TRUE(connect(worker, account).ok);
    EXPECT_EQ(fake->connectCount(), 2);
    expectScriptDone();
}

// An APOP login that fails falls back to USER/PASS; a TLS failure must not make it try again.
TEST_F(WorkerTest, StartTlsNotOfferedFailsWithoutAnyLoginOrFallback)
{
    TPop3Thread worker(nullptr, options());
    TPOP3AccountSettings account = Account();
    account.POP3Security = csStartTLS;
    account.UseAPOP = true;
    play({Accept(), S("+OK ready <1.2@pop.example.test>"), C("CAPA"), S("+OK"), S("TOP"), S("UIDL"), S(".")});
    const Result r = connect(worker, account);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.fatal);
    EXPECT_EQ(r.error, QStringLiteral("Der Server pop.example.test bietet keine verschlüsselte Verbindung (STLS) an. "
                                      "Benutzername und Passwort wurden nicht gesendet."));
    EXPECT_EQ(fake->connectCount(), 1);
    EXPECT_TRUE(written("USER").isEmpty());
    EXPECT_TRUE(written("APOP").isEmpty());
    EXPECT_TRUE(written("STLS").isEmpty());
    expectScriptDone();
}

// --- RunCheck: retries, empty mailboxes, counting -------------------------------------------------------

TEST_F(WorkerTest, UnreachableServerIsTriedServerRetriesTimesAndMarkedFailed)
{
    TPOP3AccountSettings account = Account();
    account.ServerRetries = 3;
    makeChecker({account});
    play({Refuse("Connection refused"), Refuse("Connection refused"), Refuse("Connection refused")});
    TPop3Thread *worker = checker->EnsureWorker();
    worker->ReportProgress = true;

    bool allFailed = false;
    EXPECT_FALSE(worker->RunCheck(true, false, -1, checker->Accounts, allFailed));
    EXPECT_TRUE(allFailed);
    EXPECT_TRUE(checker->Accounts.at(0).CheckFailed);
    EXPECT_EQ(fake->transcript().count(QStringLiteral("-- refused")), 3);
    EXPECT_EQ(ui.progress, QStringList({QStringLiteral("bob@pop.example.test 0 0"),
                                        QStringLiteral("bob@pop.example.test 2 0 Connection refused")}));
    expectScriptDone();
}

struct EmptyCase {
    const char *name;
    bool countOnly;
    int connects;      // sessions the check opens
    bool runSucceeds;  // some account worked
};

void PrintTo(const EmptyCase &c, std::ostream *os)
{
    *os << c.name;
}

class EmptyMailboxTest : public WorkerTest, public ::testing::WithParamInterface<EmptyCase> {};

TEST_P(EmptyMailboxTest, GivesStatusOneWithoutFailing)
{
    const EmptyCase &c = GetParam();
    TPOP3AccountSettings account = Account();
    account.ServerRetries = 2;
    makeChecker({account});
    for (int i = 0; i < c.connects; ++i)
        play(Login() << C("STAT") << S("+OK 0 0") << Quit());
    TPop3Thread *worker = checker->EnsureWorker();
    worker->ReportProgress = true;

    bool allFailed = true;
    EXPECT_EQ(worker->RunCheck(true, c.countOnly, -1, checker->Accounts, allFailed), c.runSucceeds);
    EXPECT_FALSE(allFailed);
    EXPECT_FALSE(checker->Accounts.at(0).CheckFailed);
    EXPECT_EQ(fake->connectCount(), c.connects);
    EXPECT_EQ(ui.progress.last(), QStringLiteral("bob@pop.example.test 1 0"));
    EXPECT_EQ(worker->TotalCount, 0);
    expectScriptDone();
}

INSTANTIATE_TEST_SUITE_P(Worker, EmptyMailboxTest,
                         ::testing::Values(EmptyCase{"HeaderModeTriesEveryAttempt", false, 2, false},
                                           EmptyCase{"CountModeIsOneGoodAttempt", true, 1, true}),
                         [](const ::testing::TestParamInfo<EmptyCase> &info) { return std::string(info.param.name); });

TEST_F(WorkerTest, CountModeAddsTheStatCountsOfAllAccounts)
{
    makeChecker({Account(), Account(QStringLiteral("pop.other.test"), QStringLiteral("eve"))});
    play(Login() << C("STAT") << S("+OK 3 3000") << Quit());
    play(Login("eve") << C("STAT") << S("+OK 4 100") << Quit());
    bool allFailed = false;
    TPop3Thread *worker = checker->EnsureWorker();
    EXPECT_TRUE(worker->RunCheck(true, true, -1, checker->Accounts, allFailed));
    EXPECT_EQ(worker->TotalCount, 7);
    EXPECT_TRUE(worker->Entries().isEmpty());
    expectScriptDone();
}

TEST_F(WorkerTest, TimedRunWaitsForTheCheckInterval)
{
    TPOP3Check check;
    check.EMailCheckTime = 300;
    makeChecker({Account()}, check);
    TPop3Thread *worker = checker->EnsureWorker();
    worker->CheckInterval = 300;
    worker->LastCheckTime = clock - 299;
    bool allFailed = false;
    EXPECT_FALSE(worker->RunCheck(false, true, -1, checker->Accounts, allFailed));
    EXPECT_EQ(fake->connectCount(), 0);

    // The time of day wraps at midnight: the distance counts either way.
    worker->LastCheckTime = clock + 300;
    play(Login() << C("STAT") << S("+OK 1 10") << Quit());
    EXPECT_TRUE(worker->RunCheck(false, true, -1, checker->Accounts, allFailed));
    EXPECT_EQ(worker->LastCheckTime, clock.load());
    expectScriptDone();
}

// --- Header scan ----------------------------------------------------------------------------------------

TEST_F(WorkerTest, HeaderScanRecordsNumbersSizesAndUidls)
{
    TPop3Thread worker(nullptr, options());
    play(Scan({{"first", "a1", 1200, "u-1"}, {"=?ISO-8859-1?Q?Gr=FC=DFe?=", "a2", 345, "u-2"}}));
    QList<TMailEntry *> target;
    bool fatal = true;
    int code = -1;
    QString error;
    ASSERT_TRUE(worker.FetchHeaders(Account(), target, fatal, code, error)) << error.toStdString();
    ASSERT_EQ(target.size(), 2);
    EXPECT_EQ(target[0]->MsgNumber, 1);
    EXPECT_EQ(target[0]->Size, 1200);
    EXPECT_EQ(target[0]->ServerUIDL, QStringLiteral("u-1"));
    EXPECT_EQ(target[0]->Message.MsgId, QStringLiteral("<a1@example.test>"));
    EXPECT_EQ(target[1]->MsgNumber, 2);
    EXPECT_EQ(target[1]->Size, 345);
    EXPECT_EQ(target[1]->Message.Subject, QStringLiteral("Grüße"));
    EXPECT_EQ(target[1]->Host, QStringLiteral("pop.example.test"));
    EXPECT_EQ(target[1]->UserName, QStringLiteral("bob"));
    EXPECT_EQ(written("UIDL").size(), 1) << "one listing per session";
    qDeleteAll(target);
    expectScriptDone();
}

struct BrokenMessageCase {
    const char *name;
    Script brokenTop2; // what happens to "TOP 2 0"
};

void PrintTo(const BrokenMessageCase &c, std::ostream *os)
{
    *os << c.name;
}

class BrokenMessageTest : public WorkerTest, public ::testing::WithParamInterface<BrokenMessageCase> {};

TEST_P(BrokenMessageTest, IsLeftOutAndTheScanGoesOnAfterReconnecting)
{
    TPop3Thread worker(nullptr, options());
    play(Login() << C("STAT") << S("+OK 3 3000") << Sizes({100, 200, 300}) << Uidl({"u1", "u2", "u3"})
                 << Top(1, "one", "a1"));
    play(GetParam().brokenTop2);
    // The new session reads its own listings, and the scan goes on with the message after the broken one.
    play(Login() << C("STAT") << S("+OK 3 3000") << Sizes({100, 200, 300}) << Uidl({"u1", "u2", "u3"})
                 << Top(3, "three", "a3") << Quit());
    QList<TMailEntry *> target;
    bool fatal = false;
    int code = 0;
    QString error;
    EXPECT_TRUE(worker.FetchHeaders(Account(), target, fatal, code, error));
    ASSERT_EQ(target.size(), 2);
    EXPECT_EQ(target[0]->MsgNumber, 1);
    EXPECT_EQ(target[1]->MsgNumber, 3);
    EXPECT_EQ(target[1]->Size, 300);
    EXPECT_EQ(target[1]->ServerUIDL, QStringLiteral("u3"));
    qDeleteAll(target);
    expectScriptDone();
}

INSTANTIATE_TEST_SUITE_P(
    Worker, BrokenMessageTest,
    ::testing::Values(BrokenMessageCase{"ConnectionDroppedInTheMiddleOfTop",
                                        {C("TOP 2 0"), S("+OK"), S("Subject: half"), Drop()}},
                      BrokenMessageCase{"LineLongerThan65536Octets", {C("TOP 2 0"), S("+OK"), LongLine(70000)}}),
    [](const ::testing::TestParamInfo<BrokenMessageCase> &info) { return std::string(info.param.name); });

struct GiveUpCase {
    const char *name;
    Script afterFirstMessage;
    QString error;
};

void PrintTo(const GiveUpCase &c, std::ostream *os)
{
    *os << c.name;
}

class ScanGivesUpTest : public WorkerTest, public ::testing::WithParamInterface<GiveUpCase> {};

// A STAT count far above what the server serves must not keep the scan going.
TEST_P(ScanGivesUpTest, WhenTheServerStopsServingMessages)
{
    TPop3Thread worker(nullptr, options());
    play(Login() << C("STAT") << S("+OK 2147483647 99999") << Sizes({100}) << Uidl({"u1"}) << Top(1, "one", "a1"));
    play(GetParam().afterFirstMessage);
    QList<TMailEntry *> target;
    bool fatal = false;
    int code = 0;
    QString error;
    EXPECT_FALSE(worker.FetchHeaders(Account(), target, fatal, code, error));
    EXPECT_TRUE(fatal);
    EXPECT_EQ(error, GetParam().error);
    EXPECT_TRUE(target.isEmpty()) << "a retry must not list the first message twice";
    EXPECT_LE(written("TOP").size(), 21);
    expectScriptDone();
}

Script refusedTops()
{
    Script s;
    for (int n = 2; n <= 21; ++n)
        s << C("TOP " + QByteArray::number(n) + " 0") << S("-ERR There's no message " + QByteArray::number(n) + ".");
    return s << Quit();
}

INSTANTIATE_TEST_SUITE_P(
    Worker, ScanGivesUpTest,
    ::testing::Values(GiveUpCase{"EveryFurtherTopRefused", refusedTops(), QStringLiteral("There's no message 21.")},
                      GiveUpCase{"ConnectionLostAndRefusedAgain",
                                 {C("TOP 2 0"), Drop(), Refuse("Connection refused")},
                                 QStringLiteral("Connection refused")}),
    [](const ::testing::TestParamInfo<GiveUpCase> &info) { return std::string(info.param.name); });

TEST_F(WorkerTest, IdsSharedByTwoMessagesAreNotRecorded)
{
    TPop3Thread worker(nullptr, options());
    play(Scan({{"one", "a1", 100, "dup"}, {"two", "a2", 100, "dup"}, {"three", "a3", 100, "u3"}}));
    QList<TMailEntry *> target;
    bool fatal = false;
    int code = 0;
    QString error;
    ASSERT_TRUE(worker.FetchHeaders(Account(), target, fatal, code, error));
    ASSERT_EQ(target.size(), 3);
    EXPECT_EQ(target[0]->ServerUIDL, QString());
    EXPECT_EQ(target[1]->ServerUIDL, QString());
    EXPECT_EQ(target[2]->ServerUIDL, QStringLiteral("u3"));
    EXPECT_EQ(target[1]->ScanDigest, TPop3Thread::HeaderDigest(HeaderBlock("two", "a2")));
    qDeleteAll(target);
    expectScriptDone();
}

TEST_F(WorkerTest, ListingOfIdsThatBreaksTheSessionIsLeftOutNotTheMessages)
{
    TPop3Thread worker(nullptr, options());
    play(Login() << C("STAT") << S("+OK 2 2000") << Sizes({100, 200}) << C("UIDL") << S("hello?"));
    play(Login() << C("STAT") << S("+OK 2 2000") << Sizes({100, 200}) << Top(1, "one", "a1") << Top(2, "two", "a2")
                 << Quit());
    QList<TMailEntry *> target;
    bool fatal = false;
    int code = 0;
    QString error;
    ASSERT_TRUE(worker.FetchHeaders(Account(), target, fatal, code, error)) << error.toStdString();
    ASSERT_EQ(target.size(), 2);
    EXPECT_EQ(target[0]->ServerUIDL, QString());
    EXPECT_EQ(target[1]->Message.Subject, QStringLiteral("two"));
    EXPECT_EQ(written("UIDL").size(), 1) << "not asked again in the new session";
    qDeleteAll(target);
    expectScriptDone();
}

// --- Header scan with PIPELINING -------------------------------------------------------------------------

// "number:subject:size" of each entry.
QStringList described(const QList<TMailEntry *> &entries)
{
    QStringList out;
    for (const TMailEntry *e : entries)
        out << QStringLiteral("%1:%2:%3").arg(e->MsgNumber).arg(e->HeaderUnreadable ? QStringLiteral("?") : e->Message.Subject).arg(e->Size);
    return out;
}

// Login, STAT and both listings for count messages with sizes 100, 200, ...
Script pipelinedSession(int count)
{
    QList<int> sizes;
    QByteArrayList uids;
    for (int n = 1; n <= count; ++n) {
        sizes << 100 * n;
        uids << "u" + QByteArray::number(n);
    }
    return Login("bob", "pw", true, true) << C("STAT") << S("+OK " + QByteArray::number(count) + " 5000")
                                         << Sizes(sizes) << Uidl(uids);
}

Script tops(int from, int to)
{
    Script s;
    for (int n = from; n <= to; ++n)
        s << Top(n, "m" + QByteArray::number(n), "a" + QByteArray::number(n));
    return s;
}

class PipelinedScanTest : public WorkerTest {
protected:
    PipelinedScanTest() { fake->readsAhead = true; }

    QStringList scan(bool expectOk = true)
    {
        TPop3Thread worker(nullptr, options());
        bool fatal = false;
        int code = 0;
        EXPECT_EQ(worker.FetchHeaders(Account(), target, fatal, code, error), expectOk) << error.toStdString();
        return described(target);
    }

    ~PipelinedScanTest() override { qDeleteAll(target); }

    QList<TMailEntry *> target;
    QString error;
};

TEST_F(PipelinedScanTest, HeaderReadsLeaveBeforeTheirRepliesWithSizesAndIdsFromTheListings)
{
    play(pipelinedSession(3) << tops(1, 3) << Quit());
    EXPECT_EQ(scan(), QStringList({"1:m1:100", "2:m2:200", "3:m3:300"}));
    EXPECT_EQ(target.at(2)->ServerUIDL, QStringLiteral("u3"));
    const QStringList t = fake->transcript();
    const qsizetype first = t.indexOf(QStringLiteral("C: TOP 1 0"));
    ASSERT_GE(first, 0);
    EXPECT_EQ(t.mid(first, 4), QStringList({QStringLiteral("C: TOP 1 0"), QStringLiteral("C: TOP 2 0"),
                                             QStringLiteral("C: TOP 3 0"), QStringLiteral("S: +OK")}));
    EXPECT_TRUE(written("LIST ").isEmpty()) << "no LIST n when the listing has every size";
    EXPECT_EQ(fake->connectCount(), 1);
    expectScriptDone();
}

// A message the size listing leaves out is sized as before, by its own LIST n after its header block.
struct MissingSizeCase {
    const char *name;
    bool pipelining;
    Script sizes;       // the answer to LIST
    Script messages;    // TOP n 0 and LIST n as the server answers them
    QStringList entries;
};

void PrintTo(const MissingSizeCase &c, std::ostream *os)
{
    *os << c.name;
}

class MissingSizeTest : public WorkerTest, public ::testing::WithParamInterface<MissingSizeCase> {};

TEST_P(MissingSizeTest, IsAskedForAlone)
{
    const MissingSizeCase &c = GetParam();
    fake->readsAhead = c.pipelining;
    play(Login("bob", "pw", false, c.pipelining) << C("STAT") << S("+OK 3 600") << C("LIST") << c.sizes << c.messages
                                                << Quit());
    TPop3Thread worker(nullptr, options());
    QList<TMailEntry *> target;
    bool fatal = false;
    int code = 0;
    QString error;
    EXPECT_TRUE(worker.FetchHeaders(Account(), target, fatal, code, error)) << error.toStdString();
    EXPECT_EQ(described(target), c.entries);
    qDeleteAll(target);
    expectScriptDone();
}

Script listSize(int n, const QByteArray &reply)
{
    return {C("LIST " + QByteArray::number(n)), S(reply)};
}

INSTANTIATE_TEST_SUITE_P(
    Worker, MissingSizeTest,
    ::testing::Values(
        MissingSizeCase{"LeftOutOfTheListing", true, {S("+OK"), S("1 100"), S("3 300"), S(".")},
                        tops(1, 2) << listSize(2, "+OK 2 222") << tops(3, 3), {"1:m1:100", "2:m2:222", "3:m3:300"}},
        MissingSizeCase{"ListingRefused", false, {S("-ERR not now")},
                        tops(1, 1) << listSize(1, "+OK 1 111") << tops(2, 2) << listSize(2, "+OK 2 222") << tops(3, 3)
                                   << listSize(3, "+OK 3 333"),
                        {"1:m1:111", "2:m2:222", "3:m3:333"}},
        // The header block is read, but without a size it is left out, as before.
        MissingSizeCase{"SizeRefusedToo", true, {S("+OK"), S("1 100"), S(".")},
                        tops(1, 2) << listSize(2, "-ERR no such message") << tops(3, 3) << listSize(3, "+OK 3 333"),
                        {"1:m1:100", "3:m3:333"}},
        // A refused header block leaves its LIST n unsent, or takes its answer when it is on its way; the
        // message is listed as unreadable (ahead of the replies only after a second refusal alone).
        MissingSizeCase{"HeaderRefusedOneAtATime", false, {S("-ERR not now")},
                        tops(1, 1) << listSize(1, "+OK 1 111") << C("TOP 2 0") << S("-ERR locked") << tops(3, 3)
                                   << listSize(3, "+OK 3 333"),
                        {"1:m1:111", "2:?:0", "3:m3:333"}},
        MissingSizeCase{"HeaderRefusedAhead", true, {S("-ERR not now")},
                        tops(1, 1) << listSize(1, "+OK 1 111") << C("TOP 2 0") << S("-ERR locked")
                                   << listSize(2, "+OK 2 222") << tops(3, 3) << listSize(3, "+OK 3 333")
                                   << C("TOP 2 0") << S("-ERR still locked"),
                        {"1:m1:111", "2:?:222", "3:m3:333"}}),
    [](const ::testing::TestParamInfo<MissingSizeCase> &info) { return std::string(info.param.name); });

// A header block refused in the middle of the window is asked for once more alone, in the same session; a
// second refusal lists the message as unreadable rather than passing over what may be a spam.
TEST_F(PipelinedScanTest, RefusedHeaderInTheMiddleOfTheWindowIsReadAgainAloneOrListedAsUnreadable)
{
    struct Case {
        const char *name;
        Script secondTry;
        QStringList entries;
    };
    for (const Case &c : {Case{"AnsweredAlone", tops(2, 2), {"1:m1:100", "2:m2:200", "3:m3:300"}},
                          Case{"RefusedAgain", {C("TOP 2 0"), S("-ERR message locked")}, {"1:m1:100", "2:?:200", "3:m3:300"}}}) {
        SCOPED_TRACE(c.name);
        play(pipelinedSession(3) << tops(1, 1) << C("TOP 2 0") << S("-ERR message locked") << tops(3, 3) << c.secondTry
                                 << Quit());
        EXPECT_EQ(scan(), c.entries);
        EXPECT_EQ(fake->connectCount(), 1);
        expectScriptDone();
        qDeleteAll(target);
        target.clear();
        fake = std::make_shared<FakeLineSocket>();
        fake->readsAhead = true;
    }
}

// The session ends with replies outstanding: the message whose reply was awaited is left out, as when it
// is read alone, and a new session goes on from the one after it, so that no message is listed twice and
// none whose reply never came is lost.
struct DropCase {
    const char *name;
    Script firstSession; // after the listings
    int goOnFrom;
    QStringList entries;
};

void PrintTo(const DropCase &c, std::ostream *os)
{
    *os << c.name;
}

class PipelinedDropTest : public PipelinedScanTest, public ::testing::WithParamInterface<DropCase> {};

TEST_P(PipelinedDropTest, GoesOnInANewSessionAfterTheMessageBeingRead)
{
    const DropCase &c = GetParam();
    play(pipelinedSession(5) << c.firstSession);
    play(pipelinedSession(5) << tops(c.goOnFrom, 5) << Quit());
    EXPECT_EQ(scan(), c.entries);
    EXPECT_EQ(fake->connectCount(), 2);
    expectScriptDone();
}

INSTANTIATE_TEST_SUITE_P(
    Worker, PipelinedDropTest,
    ::testing::Values(DropCase{"InTheMiddleOfAReply",
                               tops(1, 1) << C("TOP 2 0") << C("TOP 3 0") << S("+OK") << S("Subject: m2") << Drop(), 3,
                               {"1:m1:100", "3:m3:300", "4:m4:400", "5:m5:500"}},
                    DropCase{"BetweenTwoReplies", tops(1, 2) << C("TOP 3 0") << Drop(), 4,
                             {"1:m1:100", "2:m2:200", "4:m4:400", "5:m5:500"}},
                    DropCase{"WithAHeaderBlockBeyondItsCap",
                             tops(1, 1) << C("TOP 2 0") << C("TOP 3 0") << C("TOP 4 0") << C("TOP 5 0") << S("+OK")
                                        << Script(Pop3Client::kDefaultMaxHeaderSize / 65000 + 1, LongLine(65000)),
                             3, {"1:m1:100", "3:m3:300", "4:m4:400", "5:m5:500"}},
                    DropCase{"WithAReplyThatIsNoAnswer",
                             tops(1, 1) << C("TOP 2 0") << C("TOP 3 0") << C("TOP 4 0") << C("TOP 5 0")
                                        << S("Subject: m2"),
                             3,
                             {"1:m1:100", "3:m3:300", "4:m4:400", "5:m5:500"}}),
    [](const ::testing::TestParamInfo<DropCase> &info) { return std::string(info.param.name); });

TEST_F(PipelinedScanTest, ServerThatIgnoresCommandsAheadIsReadOneAtATimeAfterItsSilence)
{
    // It answers the first TOP and never the ones that came with it.
    play(pipelinedSession(3) << tops(1, 1) << C("TOP 2 0") << C("TOP 3 0"));
    play(pipelinedSession(3) << tops(2, 3) << Quit());
    EXPECT_EQ(scan(), QStringList({"1:m1:100", "2:m2:200", "3:m3:300"}));
    const QStringList t = fake->transcript();
    const qsizetype second = t.lastIndexOf(QStringLiteral("C: TOP 2 0"));
    EXPECT_EQ(t.at(second + 1), QStringLiteral("S: +OK")) << "the next one waits for this reply";
    expectScriptDone();
}

TEST_F(PipelinedScanTest, TwentyRefusalsInARowEndTheScanAndTheRepliesStillOnTheirWayAreNotRead)
{
    QList<int> sizes(200, 100);
    Script session = Login("bob", "pw", false, true) << C("STAT") << S("+OK 2147483647 99999") << Sizes(sizes)
                                                     << tops(1, 1);
    // A full window with the first one.
    for (int n = 2; n <= Pop3Client::kPipelineWindow; ++n)
        session << C("TOP " + QByteArray::number(n) + " 0");
    for (int n = 2; n <= 21; ++n)
        session << S("-ERR There's no message " + QByteArray::number(n) + ".");
    play(session);
    EXPECT_TRUE(scan(false).isEmpty()) << "a retry must not list the first message twice";
    EXPECT_EQ(error, QStringLiteral("There's no message 21."));
    EXPECT_TRUE(written("QUIT").isEmpty()) << "replies were still on their way: the session is dropped";
    EXPECT_EQ(fake->transcript().last(), QStringLiteral("-- close"));
    expectScriptDone();
}

// The user cancels the account while a reply is awaited: what was read stays, nothing more is read.
class CancelScanTest : public WorkerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CancelScanTest, KeepsWhatWasReadAndIsNoFailure)
{
    const bool pipelining = GetParam();
    fake->readsAhead = pipelining;
    makeChecker({Account(), Account(QStringLiteral("pop.other.test"), QStringLiteral("eve"))});
    Script bob = Login("bob", "pw", true, pipelining) << C("STAT") << S("+OK 3 3000") << Sizes({100, 200, 300})
                                                      << Uidl({"u1", "u2", "u3"}) << Top(1, "one", "a1")
                                                      << C("TOP 2 0");
    if (pipelining)
        bob << C("TOP 3 0");
    play(bob << S("+OK") << S("Subject: two") << S("."));
    play(Scan({{"eve's", "e1", 10, "e-1"}}, "eve", "pw", true, pipelining));
    // The user presses the cancel button while the reply to TOP 2 is awaited, after the first header
    // block (the fourth listing to end, after CAPA, LIST and UIDL).
    bool pressed = false;
    fake->duringRead = [this, &pressed] {
        if (!pressed && fake->transcript().count(QStringLiteral("S: .")) == 4 && ui.cancelButton) {
            pressed = true;
            ui.cancelButton();
        }
    };
    EXPECT_EQ(checkNow(), 2);
    QStringList listed;
    for (const TMailEntry *e : checker->MailList)
        listed << QStringLiteral("%1:%2").arg(e->UserName).arg(e->MsgNumber);
    EXPECT_EQ(listed, QStringList({QStringLiteral("bob:1"), QStringLiteral("eve:1")}));
    EXPECT_EQ(ui.progress, QStringList({QStringLiteral("bob@pop.example.test 0 0"),
                                        QStringLiteral("bob@pop.example.test 3 0"),
                                        QStringLiteral("eve@pop.other.test 0 0"),
                                        QStringLiteral("eve@pop.other.test 1 0")}));
    EXPECT_FALSE(checker->Accounts.at(0).CheckFailed);
    EXPECT_TRUE(ui.calls.contains(QStringLiteral("CloseProgressWindow"))) << "no failed line keeps it open";
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_EQ(fake->connectCount(), 2) << "the cancelled account is not connected again";
    expectScriptDone();
}

INSTANTIATE_TEST_SUITE_P(Worker, CancelScanTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return std::string(info.param ? "Pipelined" : "OneAtATime");
                         });

// A server that answers badly, slowly or not at all: the account's check ends soon, as a failure with a
// German text, and lists nothing it could not read.
struct HostileCase {
    const char *name;
    Script script;
    int retries;
    std::function<void(TPop3Options &)> adjust;
    QString error;   // the account's progress line error
    int connects;
    bool pipelining = false; // the server offers PIPELINING and takes commands ahead
    qint64 msPerHeaderRead = 0; // the scan's time each TOP costs, on the scan's clock
};

void PrintTo(const HostileCase &c, std::ostream *os)
{
    *os << c.name;
}

class HostileScanTest : public WorkerTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileScanTest, EndsAsAFailureOfTheAccount)
{
    const HostileCase &c = GetParam();
    adjustOptions = c.adjust;
    TPOP3AccountSettings account = Account();
    account.ServerRetries = c.retries;
    makeChecker({account});
    fake->readsAhead = c.pipelining;
    scanElapsed = [this, ms = c.msPerHeaderRead] {
        return ms * fake->transcript().filter(QRegularExpression(QStringLiteral("^C: TOP "))).size();
    };
    play(c.script);
    TPop3Thread *worker = checker->EnsureWorker();
    worker->ReportProgress = true;

    bool allFailed = false;
    EXPECT_FALSE(worker->RunCheck(true, false, -1, checker->Accounts, allFailed));
    EXPECT_TRUE(allFailed);
    EXPECT_TRUE(worker->Entries().isEmpty());
    EXPECT_EQ(ui.progress.last(), QStringLiteral("bob@pop.example.test 2 0 ") + c.error);
    EXPECT_EQ(fake->connectCount(), c.connects);
    expectScriptDone();
}

Script noUidlLogin(bool pipelining = false)
{
    return Login("bob", "pw", false, pipelining);
}

// Every session reads STAT and the sizes before the header blocks.
Script everyTop(int count, const std::function<Script(int n)> &answer, bool reconnects, bool pipelining = false)
{
    const Script listing = Script{C("STAT"), S("+OK " + QByteArray::number(count) + " 3000")}
        << Sizes(QList<int>(count, 1000));
    Script s = noUidlLogin(pipelining) << listing;
    for (int n = 1; n <= count; ++n) {
        if (n > 1 && reconnects)
            s << noUidlLogin(pipelining) << listing;
        s << C("TOP " + QByteArray::number(n) + " 0") << answer(n);
    }
    return s;
}

// A server that offers PIPELINING and answers nothing after the login: the first session sends both
// header reads, the second only the first one again.
Script silentPipeliningServer()
{
    const Script listing = Script{C("STAT"), S("+OK 2 3000")} << Sizes({1000, 1000});
    return noUidlLogin(true) << listing << C("TOP 1 0") << C("TOP 2 0") << noUidlLogin(true) << listing
                             << C("TOP 1 0");
}

Script drippedHeader(int)
{
    Script s{S("+OK")};
    for (int i = 0; i < 30; ++i)
        s << Pause(10) << S("X-Drip: " + QByteArray::number(i));
    return s << S("") << S(".");
}

void scanOfAMinute(TPop3Options &o)
{
    o.ScanDeadlineMs = 60000;
    o.ScanMsPerMessage = 0;
}

Script slowHeader(int n)
{
    Script s{S("+OK")};
    for (const QByteArray &line : HeaderLines("slow", "s" + QByteArray::number(n)))
        s << S(line);
    return s << S(".");
}

Script endlessCapabilities()
{
    Script s{Accept(), S("+OK ready"), C("CAPA"), S("+OK")};
    for (int i = 0; i < 1000; ++i)
        s << S("X-CAPABILITY-FILLER");
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Worker, HostileScanTest,
    ::testing::Values(
        HostileCase{"EveryTopAnsweredWithGarbage",
                    everyTop(3, [](int) { return Script{S("hello?")}; }, true), 1, {},
                    QStringLiteral("Keine der Nachrichten konnte gelesen werden: Unerwartete Antwort des Servers: "
                                   "hello?"),
                    3},
        HostileCase{"EveryTopRefused",
                    everyTop(3, [](int) { return Script{S("-ERR message locked")}; }, false) << Quit(), 1, {},
                    QStringLiteral("Keine der Nachrichten konnte gelesen werden: message locked"), 1},
        HostileCase{"SilentAfterTheLogin", everyTop(2, [](int) { return Script{}; }, true), 3, {},
                    QStringLiteral("Der Server hat wiederholt nicht rechtzeitig geantwortet. Die Prüfung des "
                                   "Kontos wurde abgebrochen."),
                    2},
        HostileCase{"SilentGreetingIsNotTriedAgainAndAgain", {Accept(), Accept()}, 5, {},
                    FailureExplanation(TFailureKind::TimedOut) + QStringLiteral(" Meldung: fake: read timed out"), 2},
        HostileCase{"HeaderBlocksDrippedInLineByLine", everyTop(2, drippedHeader, true), 1,
                    [](TPop3Options &o) { o.ReplyDeadlineMs = 50; },
                    QStringLiteral("Der Server hat wiederholt nicht rechtzeitig geantwortet. Die Prüfung des "
                                   "Kontos wurde abgebrochen."),
                    2},
        // Each header block costs the scan 25 s of its minute.
        HostileCase{"SlowServerPastTheScanDeadline", everyTop(3, slowHeader, false) << Quit(), 1, scanOfAMinute,
                    QStringLiteral("Die Prüfung des Kontos hat zu lange gedauert und wurde abgebrochen."), 1, false,
                    25000},
        HostileCase{"EndlessCapabilityListing", endlessCapabilities(), 1, {},
                    QStringLiteral("Die Antwort des Servers ist zu groß (mehr als 8192 Bytes)."), 1},
        HostileCase{"PipelinedTopsAnsweredWithGarbage",
                    everyTop(3, [](int) { return Script{S("hello?")}; }, true, true), 1, {},
                    QStringLiteral("Keine der Nachrichten konnte gelesen werden: Unerwartete Antwort des Servers: "
                                   "hello?"),
                    3, true},
        HostileCase{"PipelinedServerSilentAfterTheLogin", silentPipeliningServer(), 3, {},
                    QStringLiteral("Der Server hat wiederholt nicht rechtzeitig geantwortet. Die Prüfung des "
                                   "Kontos wurde abgebrochen."),
                    2, true},
        HostileCase{"PipelinedHeaderBlocksPastTheScanDeadline", everyTop(3, slowHeader, false, true), 1,
                    scanOfAMinute, QStringLiteral("Die Prüfung des Kontos hat zu lange gedauert und wurde abgebrochen."),
                    1, true, 25000}),
    [](const ::testing::TestParamInfo<HostileCase> &info) { return std::string(info.param.name); });

// --- DeleteMessage --------------------------------------------------------------------------------------

struct IdentityCase {
    const char *name;
    bool serverHasUidl;
    QByteArray entryUidl;
    Script check;       // after the login, up to and including DELE when it comes to that
    bool result;
    QString errorText;  // LastErrorText
};

void PrintTo(const IdentityCase &c, std::ostream *os)
{
    *os << c.name;
}

class DeleteIdentityTest : public WorkerTest, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(DeleteIdentityTest, DeletesOnlyTheMessageTheListShows)
{
    const IdentityCase &c = GetParam();
    TPop3Thread worker(nullptr, options());
    play(Login("bob", "pw", c.serverHasUidl) << c.check << Quit());
    const TMailEntry entry = entryFor(2, "two", "a2", 1000, c.entryUidl);
    EXPECT_EQ(worker.Pop3().DeleteMessage(Account(), 2, entry, false), c.result);
    EXPECT_EQ(worker.Pop3().LastErrorText, c.errorText);
    const bool scriptDeletes = std::any_of(c.check.cbegin(), c.check.cend(), [](const Step &s) {
        return s.kind == Step::Client && s.text == "DELE 2";
    });
    if (!scriptDeletes) {
        EXPECT_TRUE(written("DELE").isEmpty()) << "nothing may be deleted";
    }
    expectScriptDone();
}

INSTANTIATE_TEST_SUITE_P(
    Worker, DeleteIdentityTest,
    ::testing::Values(
        IdentityCase{"UidlStillAtItsNumber", true, "u2", Listing({"u1", "u2", "u3"}) << C("DELE 2") << S("+OK"), true,
                     ""},
        IdentityCase{"UidlMovedToAnotherNumber", true, "u2", Listing({"u2", "u3"}), false, kMailboxChangedText},
        IdentityCase{"UidlNoLongerListed", true, "u2", Listing({"u1", "u3"}), false, ""},
        IdentityCase{"SizeAndHeaderStillTheSame", false, "",
                     Script{C("STAT"), S("+OK 3 3000"), C("LIST 2"), S("+OK 2 1000")} << Top(2, "two", "a2")
                                                                                      << C("DELE 2") << S("+OK"),
                     true, ""},
        IdentityCase{"SizeDiffers", false, "", {C("STAT"), S("+OK 3 3000"), C("LIST 2"), S("+OK 2 999")}, false,
                     kMailboxChangedText},
        IdentityCase{"HeaderDiffers", false, "",
                     Script{C("STAT"), S("+OK 3 3000"), C("LIST 2"), S("+OK 2 1000")} << Top(2, "three", "a3"),
                     false, kMailboxChangedText},
        // Without a unique id a shorter mailbox may only mean that the message moved down.
        IdentityCase{"FewerMessagesThanTheNumber", false, "", {C("STAT"), S("+OK 1 100")}, false,
                     kMailboxChangedText},
        IdentityCase{"UidlRecordedButNotOffered", false, "u2",
                     Script{C("STAT"), S("+OK 3 3000"), C("LIST 2"), S("+OK 2 1000")} << Top(2, "two", "a2")
                                                                                      << C("DELE 2") << S("+OK"),
                     true, ""},
        // An id two messages share proves nothing: size and header block decide.
        IdentityCase{"SharedUidlButAnotherHeader", true, "dup",
                     Listing({"dup", "dup", "u3"}) << C("STAT") << S("+OK 3 3000") << C("LIST 2") << S("+OK 2 1000")
                                                   << Top(2, "one", "a1"),
                     false, kMailboxChangedText},
        IdentityCase{"SharedUidlAndTheSameHeader", true, "dup",
                     Listing({"dup", "dup"}) << C("STAT") << S("+OK 2 2000") << C("LIST 2") << S("+OK 2 1000")
                                             << Top(2, "two", "a2") << C("DELE 2") << S("+OK"),
                     true, ""},
        IdentityCase{"NoSuchMessage", true, "u2",
                     Listing({"u1", "u2"}) << C("DELE 2") << S("-ERR no such message"), false, ""}),
    [](const ::testing::TestParamInfo<IdentityCase> &info) { return std::string(info.param.name); });

TEST_F(WorkerTest, WithoutUidlALaterNumberIsStillFoundAfterAnEarlierDeletionOfTheSession)
{
    TPop3Thread worker(nullptr, options());
    // STAT leaves out the message this session deleted already; the numbers stay until QUIT.
    play(Login("bob", "pw", false) << C("STAT") << S("+OK 6 6000") << C("LIST 2") << S("+OK 2 1000")
                                   << Top(2, "two", "a2") << C("DELE 2") << S("+OK") << C("NOOP") << S("+OK")
                                   << C("STAT") << S("+OK 5 5000") << C("LIST 6") << S("+OK 6 600")
                                   << Top(6, "six", "a6") << C("DELE 6") << S("+OK") << Quit());
    EXPECT_TRUE(worker.Pop3().DeleteMessage(Account(), 2, entryFor(2, "two", "a2", 1000, ""), true));
    EXPECT_TRUE(worker.Pop3().DeleteMessage(Account(), 6, entryFor(6, "six", "a6", 600, ""), true));
    worker.FreeClient();
    expectScriptDone();
}

struct FrequentCase {
    const char *name;
    bool mainVisible;
    Script afterFirstRefusal;
    bool result;
    QList<int> waits;
    QStringList uiCalls;
};

void PrintTo(const FrequentCase &c, std::ostream *os)
{
    *os << c.name;
}

class TooFrequentTest : public WorkerTest, public ::testing::WithParamInterface<FrequentCase> {};

const QByteArray kRefusal30 = "-ERR [IN-USE] logged in too frequently, try again in 30s";

TEST_P(TooFrequentTest, WaitsOnceAndTriesAgain)
{
    const FrequentCase &c = GetParam();
    makeChecker({Account()});
    ui.mainVisible = c.mainVisible;
    play(Login() << Listing({"u1"}) << C("DELE 1") << S(kRefusal30) << c.afterFirstRefusal << Quit());
    TPop3Thread *worker = checker->EnsureWorker();
    EXPECT_EQ(worker->Pop3().DeleteMessage(Account(), 1, entryFor(1, "one", "a1", 1000, "u1"), false), c.result);
    EXPECT_EQ(waits, c.waits);
    EXPECT_EQ(ui.calls, c.uiCalls);
    expectScriptDone();
}

INSTANTIATE_TEST_SUITE_P(
    Worker, TooFrequentTest,
    ::testing::Values(
        FrequentCase{"WaitsThirtyOneSeconds", false, {C("DELE 1"), S("+OK")}, true, {31000}, {}},
        // The window only shows the count-down: the wait is the worker's own, on its thread.
        FrequentCase{"CountDownWindowBesideTheWait", true, {C("DELE 1"), S("+OK")}, true, {31000},
                     {QStringLiteral("ShowDeleteCountdown(30)")}},
        FrequentCase{"SecondRefusalFails", false, {C("DELE 1"), S(kRefusal30)}, false, {31000}, {}}),
    [](const ::testing::TestParamInfo<FrequentCase> &info) { return std::string(info.param.name); });

TEST_F(WorkerTest, TooFrequentWithAnUnusableWaitFailsAtOnce)
{
    for (const QByteArray &reply : {QByteArray("-ERR logged in too frequently, try again in 200s"),
                                    QByteArray("-ERR logged in too frequently, try again in a moment")}) {
        TPop3Thread worker(nullptr, options());
        play(Login() << Listing({"u1"}) << C("DELE 1") << S(reply) << Quit());
        EXPECT_FALSE(worker.Pop3().DeleteMessage(Account(), 1, entryFor(1, "one", "a1", 1000, "u1"), false));
        EXPECT_EQ(worker.Pop3().LastErrorText, QString::fromLatin1(reply.mid(5)));
    }
    EXPECT_TRUE(waits.isEmpty());
    expectScriptDone();
}

// --- Idle loop ------------------------------------------------------------------------------------------

class IdleLoopTest : public WorkerTest {
protected:
    TPop3Options loopOptions(int firstWakeMs, int wakeMs)
    {
        TPop3Options o = options();
        o.FirstWakeMs = firstWakeMs;
        o.WakeMs = wakeMs;
        return o;
    }

    void makeLoopChecker(int firstWakeMs, int wakeMs)
    {
        TPOP3Check check;
        check.EMailCheck = true;
        check.EMailCheckTime = 120;
        check.AutoKillSpam = false;
        settings.Settings.Accounts = {Account()};
        ASSERT_TRUE(settings.SavePOP3Settings(check, settings.Settings.Accounts));
        checker = std::make_unique<TPOP3Checker>(settings, detector, ui, loopOptions(firstWakeMs, wakeMs));
        checker->OnRunStart = [this](TPOP3Checker *) { ui.calls << QStringLiteral("OnRunStart"); };
        checker->OnRunEnd = [this](TPOP3Checker *) { ui.calls << QStringLiteral("OnRunEnd"); };
        checker->OnCheckDone = [this](TPOP3Checker *, bool ok) {
            ui.calls << QStringLiteral("OnCheckDone(%1)").arg(ok);
            ++checksDone;
        };
    }

    int checksDone = 0;
};

TEST_F(IdleLoopTest, WakeUpsPollAndTheIntervalDecidesWhenToCheck)
{
    makeLoopChecker(10, 10);
    play(Login() << C("STAT") << S("+OK 2 2000") << Quit());
    checker->SetActive(true);
    ASSERT_TRUE(checker->Enabled);

    // The wake-ups come, but 60 s after switching on is not yet 120 s after "the last check".
    ASSERT_TRUE(waitFor([this] { return checksDone >= 2; }));
    EXPECT_EQ(fake->connectCount(), 0);
    EXPECT_EQ(ui.calls.mid(0, 3), QStringList({QStringLiteral("SetCheckCommandsEnabled(0)"),
                                                QStringLiteral("SetCheckCommandsEnabled(1)"),
                                                QStringLiteral("OnCheckDone(0)")}));

    ui.calls.clear();
    clock += 180;
    ASSERT_TRUE(waitFor([this] { return ui.calls.contains(QStringLiteral("OnCheckDone(1)")); }));
    checker->SetActive(false);
    ASSERT_TRUE(waitFor([this] { return checker->Worker()->IsPaused(); }));
    const qsizetype done = ui.calls.indexOf(QStringLiteral("OnCheckDone(1)"));
    EXPECT_EQ(ui.calls.mid(done - 8, 9),
              QStringList({QStringLiteral("SetCheckCommandsEnabled(0)"), QStringLiteral("OnRunStart"),
                           QStringLiteral("OnRunEnd"), QStringLiteral("ShowMailIcon(animated)"),
                           QStringLiteral("Tooltip: 2 Nachricht(en) befinden sich auf Ihren E-Mail-Server(n)."),
                           QStringLiteral("SetMessageCount(0)"), QStringLiteral("RefillMessageList(0)"),
                           QStringLiteral("SetCheckCommandsEnabled(1)"),
                           QStringLiteral("OnCheckDone(1)")}))
        << ui.calls.join(u'\n').toStdString();
    EXPECT_EQ(checker->Worker()->TotalCount, 2);
    expectScriptDone();
}

TEST_F(IdleLoopTest, NoServerOperationStartsInsideATimedCheck)
{
    makeLoopChecker(10, 10);
    QList<bool> reported;
    checker->OnOperationChanged = [&reported](TPOP3Checker *, bool running) { reported << running; };
    bool asked = false;
    // As when a window's button is handled while a handler of the timed check waits.
    checker->OnRunEnd = [this, &asked](TPOP3Checker *) {
        if (asked)
            return;
        asked = true;
        EXPECT_TRUE(checker->OperationRunning());
        EXPECT_EQ(checkNow(), 0);
        EXPECT_FALSE(checker->BeginOperation(TServerOperationKind::TextFetch));
        QString error;
        int code = -1;
        EXPECT_FALSE(testAccount(Account(), error, code));
        EXPECT_FALSE(error.isEmpty());
    };
    play(Login() << C("STAT") << S("+OK 2 2000") << Quit());
    checker->SetActive(true);
    clock += 180;
    ASSERT_TRUE(waitFor([&] { return asked && reported == QList<bool>{true, false}; })) << reported.size();
    // Nothing of the refused requests reached the server or the window.
    EXPECT_FALSE(ui.calls.contains(QStringLiteral("OpenProgressWindow")));
    EXPECT_FALSE(checker->OperationRunning());
    expectScriptDone();
}

TEST_F(IdleLoopTest, TheWorkerWaitsForAnOperationAndTimedCheckingSwitchedMeanwhileTakesEffectAfterIt)
{
    makeLoopChecker(10, 10);
    checker->EnsureWorker();
    {
        TServerOperation operation(*checker, TServerOperationKind::TextFetch);
        ASSERT_TRUE(operation);
        EXPECT_TRUE(checker->OperationRunning());
        // A second operation, and closing the window to the tray, meanwhile.
        EXPECT_FALSE(TServerOperation(*checker, TServerOperationKind::SingleDeletion));
        checker->SetActive(true);
        EXPECT_TRUE(checker->Enabled);
        // The wake-ups would find a check due: the worker must not run it while the operation runs.
        clock += 600;
        QThread::msleep(50);
        QCoreApplication::processEvents();
        EXPECT_TRUE(checker->Worker()->IsPaused());
        EXPECT_EQ(checksDone, 0);
    }
    EXPECT_FALSE(checker->OperationRunning());
    EXPECT_FALSE(checker->Worker()->IsPaused());
    checker->SetActive(false);
    ASSERT_TRUE(waitFor([this] { return checker->Worker()->IsPaused(); }));
}

TEST_F(IdleLoopTest, AccountsReloadedDuringAnOperationAreTakenOverWhenItEnds)
{
    makeLoopChecker(3600000, 3600000);
    TPOP3AccountSettings second = Account();
    second.AccountName = QStringLiteral("carol");
    {
        TServerOperation operation(*checker, TServerOperationKind::ManualCheck);
        ASSERT_TRUE(operation);
        settings.Settings.Accounts.append(second);
        ASSERT_TRUE(settings.SavePOP3Settings(settings.Settings.POP3Check, settings.Settings.Accounts));
        checker->ReloadConfig();
        // The operation still walks the old list.
        EXPECT_EQ(checker->Accounts.size(), 1);
    }
    ASSERT_EQ(checker->Accounts.size(), 2);
    EXPECT_EQ(checker->Accounts.at(1).AccountName, QStringLiteral("carol"));
}

TEST_F(IdleLoopTest, SwitchingOffPausesAtOnceAndSwitchingOnResumes)
{
    // Wake-ups an hour apart: only a pause that does not wait for them can pass.
    makeLoopChecker(3600000, 3600000);
    checker->SetActive(true);
    ASSERT_TRUE(waitFor([this] { return !checker->Worker()->IsPaused(); }));
    checker->SetActive(false);
    EXPECT_FALSE(checker->Enabled);
    ASSERT_TRUE(waitFor([this] { return checker->Worker()->IsPaused(); }));
    checker->SetActive(true);
    EXPECT_TRUE(checker->Enabled);
    EXPECT_FALSE(checker->Worker()->IsPaused());
    EXPECT_EQ(checksDone, 0);
    // Ending the coordinator ends the waiting thread without waiting out its hour.
    checker.reset();
}

TEST_F(IdleLoopTest, TimedCheckingStaysOffWithoutTimedChecksOrAccounts)
{
    TPOP3Check check; // EMailCheck off
    makeChecker({Account()}, check);
    checker->SetActive(true);
    EXPECT_FALSE(checker->Enabled);
    EXPECT_EQ(checker->Worker(), nullptr);

    check.EMailCheck = true;
    makeChecker({}, check);
    checker->SetActive(true);
    EXPECT_FALSE(checker->Enabled);
    EXPECT_EQ(ui.calls.last(), QStringLiteral("SetCheckCommandsEnabled(1)"));
}

} // namespace
