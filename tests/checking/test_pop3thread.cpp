// The POP3 session worker against scripted servers: connecting, scanning, counting, deleting, and its
// idle loop.
#include "CheckerTestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace {

using Step = FakeLineSocket::Step;

// Runs the events of this thread until cond holds; false when it does not within the guard time.
bool waitFor(const std::function<bool()> &cond, int guardMs = 20000)
{
    const QDeadlineTimer deadline(guardMs);
    while (!cond()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
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
        e.Message.FillFromHeader(HeaderLines(subject, id).join("\r\n") + "\r\n");
        e.Host = QStringLiteral("pop.example.test");
        e.UserName = QStringLiteral("bob");
        e.MsgNumber = n;
        e.Size = size;
        e.ServerUIDL = QString::fromLatin1(uidl);
        return e;
    }
};

// --- Connect --------------------------------------------------------------------------------------------

struct ApopCase {
    const char *name;
    Script firstAttempt;
};

void PrintTo(const ApopCase &c, std::ostream *os)
{
    *os << c.name;
}

class ApopFallbackTest : public WorkerTest, public ::testing::WithParamInterface<ApopCase> {};

TEST_P(ApopFallbackTest, FallsBackToUserPassInTheSameConnect)
{
    TPop3Thread worker(nullptr, options());
    TPOP3AccountSettings account = Account();
    account.UseAPOP = true;
    play(GetParam().firstAttempt);
    play(Login());

    const Result r = connect(worker, account);
    EXPECT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(fake->connectCount(), 2);
    EXPECT_EQ(worker.Client()->authKind(), Pop3Client::AuthKind::UserPass);
    expectScriptDone();
}

INSTANTIATE_TEST_SUITE_P(
    Worker, ApopFallbackTest,
    ::testing::Values(ApopCase{"GreetingWithoutTimestamp", {Accept(), S("+OK POP3 ready"), C("CAPA"), S("-ERR")}},
                      ApopCase{"ApopRefused",
                               {Accept(), S("+OK POP3 ready <1.2@pop.example.test>"), C("CAPA"), S("-ERR"),
                                C("APOP bob " + Pop3Client::apopDigest("<1.2@pop.example.test>", "pw")),
                                S("-ERR [AUTH] Authentication failed.")}}),
    [](const ::testing::TestParamInfo<ApopCase> &info) { return std::string(info.param.name); });

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
    EXPECT_EQ(r.error, QStringLiteral("[AUTH] Authentication failed."));
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
    EXPECT_FALSE(worker->RunCheck(true, false, -1, allFailed));
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
    EXPECT_EQ(worker->RunCheck(true, c.countOnly, -1, allFailed), c.runSucceeds);
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
    EXPECT_TRUE(worker->RunCheck(true, true, -1, allFailed));
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
    EXPECT_FALSE(worker->RunCheck(false, true, -1, allFailed));
    EXPECT_EQ(fake->connectCount(), 0);

    // The time of day wraps at midnight: the distance counts either way.
    worker->LastCheckTime = clock + 300;
    play(Login() << C("STAT") << S("+OK 1 10") << Quit());
    EXPECT_TRUE(worker->RunCheck(false, true, -1, allFailed));
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
    play(Login() << C("STAT") << S("+OK 3 3000") << Uidl({"u1", "u2", "u3"}) << Header(1, "one", "a1"));
    play(GetParam().brokenTop2);
    play(Login() << Uidl({"u1", "u2", "u3"}) << Header(3, "three", "a3") << Quit());
    QList<TMailEntry *> target;
    bool fatal = false;
    int code = 0;
    QString error;
    EXPECT_TRUE(worker.FetchHeaders(Account(), target, fatal, code, error));
    ASSERT_EQ(target.size(), 2);
    EXPECT_EQ(target[0]->MsgNumber, 1);
    EXPECT_EQ(target[1]->MsgNumber, 3);
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
    play(Login() << C("STAT") << S("+OK 2147483647 99999") << Uidl({"u1"}) << Header(1, "one", "a1"));
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
    EXPECT_EQ(worker.DeleteMessage(Account(), 2, entry, false), c.result);
    EXPECT_EQ(worker.LastErrorText, c.errorText);
    const bool scriptDeletes = std::any_of(c.check.cbegin(), c.check.cend(), [](const Step &s) {
        return s.kind == Step::Client && s.text == "DELE 2";
    });
    if (!scriptDeletes) {
        EXPECT_TRUE(written("DELE").isEmpty()) << "nothing may be deleted";
    }
    expectScriptDone();
}

Script topOf(int n, const QByteArray &subject, const QByteArray &id)
{
    Script s{C("TOP " + QByteArray::number(n) + " 0"), S("+OK")};
    for (const QByteArray &line : HeaderLines(subject, id))
        s << S(line);
    return s << S(".");
}

INSTANTIATE_TEST_SUITE_P(
    Worker, DeleteIdentityTest,
    ::testing::Values(
        IdentityCase{"UidlStillAtItsNumber", true, "u2", Uidl({"u1", "u2", "u3"}) << C("DELE 2") << S("+OK"), true,
                     ""},
        IdentityCase{"UidlMovedToAnotherNumber", true, "u2", Uidl({"u2", "u3"}), false, kMailboxChangedText},
        IdentityCase{"UidlNoLongerListed", true, "u2", Uidl({"u1", "u3"}), false, ""},
        IdentityCase{"SizeAndHeaderStillTheSame", false, "",
                     Script{C("STAT"), S("+OK 3 3000"), C("LIST 2"), S("+OK 2 1000")} << topOf(2, "two", "a2")
                                                                                      << C("DELE 2") << S("+OK"),
                     true, ""},
        IdentityCase{"SizeDiffers", false, "", {C("STAT"), S("+OK 3 3000"), C("LIST 2"), S("+OK 2 999")}, false,
                     kMailboxChangedText},
        IdentityCase{"HeaderDiffers", false, "",
                     Script{C("STAT"), S("+OK 3 3000"), C("LIST 2"), S("+OK 2 1000")} << topOf(2, "three", "a3"),
                     false, kMailboxChangedText},
        IdentityCase{"FewerMessagesThanTheNumber", false, "", {C("STAT"), S("+OK 1 100")}, false, ""},
        IdentityCase{"UidlRecordedButNotOffered", false, "u2",
                     Script{C("STAT"), S("+OK 3 3000"), C("LIST 2"), S("+OK 2 1000")} << topOf(2, "two", "a2")
                                                                                      << C("DELE 2") << S("+OK"),
                     true, ""},
        IdentityCase{"NoSuchMessage", true, "u2",
                     Uidl({"u1", "u2"}) << C("DELE 2") << S("-ERR no such message"), false, ""}),
    [](const ::testing::TestParamInfo<IdentityCase> &info) { return std::string(info.param.name); });

TEST_F(WorkerTest, WithoutUidlALaterNumberIsStillFoundAfterAnEarlierDeletionOfTheSession)
{
    TPop3Thread worker(nullptr, options());
    // STAT leaves out the message this session deleted already; the numbers stay until QUIT.
    play(Login("bob", "pw", false) << C("STAT") << S("+OK 6 6000") << C("LIST 2") << S("+OK 2 1000")
                                   << topOf(2, "two", "a2") << C("DELE 2") << S("+OK") << C("NOOP") << S("+OK")
                                   << C("STAT") << S("+OK 5 5000") << C("LIST 6") << S("+OK 6 600")
                                   << topOf(6, "six", "a6") << C("DELE 6") << S("+OK") << Quit());
    EXPECT_TRUE(worker.DeleteMessage(Account(), 2, entryFor(2, "two", "a2", 1000, ""), true));
    EXPECT_TRUE(worker.DeleteMessage(Account(), 6, entryFor(6, "six", "a6", 600, ""), true));
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
    play(Login() << Uidl({"u1"}) << C("DELE 1") << S(kRefusal30) << c.afterFirstRefusal << Quit());
    TPop3Thread *worker = checker->EnsureWorker();
    EXPECT_EQ(worker->DeleteMessage(Account(), 1, entryFor(1, "one", "a1", 1000, "u1"), false), c.result);
    EXPECT_EQ(waits, c.waits);
    EXPECT_EQ(ui.calls, c.uiCalls);
    expectScriptDone();
}

INSTANTIATE_TEST_SUITE_P(
    Worker, TooFrequentTest,
    ::testing::Values(
        FrequentCase{"WaitsThirtyOneSeconds", false, {C("DELE 1"), S("+OK")}, true, {31000}, {}},
        FrequentCase{"CountDownWindowInsteadOfTheWait", true, {C("DELE 1"), S("+OK")}, true, {},
                     {QStringLiteral("ShowDeleteCountdown(30)")}},
        FrequentCase{"SecondRefusalFails", false, {C("DELE 1"), S(kRefusal30)}, false, {31000}, {}}),
    [](const ::testing::TestParamInfo<FrequentCase> &info) { return std::string(info.param.name); });

TEST_F(WorkerTest, TooFrequentWithAnUnusableWaitFailsAtOnce)
{
    for (const QByteArray &reply : {QByteArray("-ERR logged in too frequently, try again in 200s"),
                                    QByteArray("-ERR logged in too frequently, try again in a moment")}) {
        TPop3Thread worker(nullptr, options());
        play(Login() << Uidl({"u1"}) << C("DELE 1") << S(reply) << Quit());
        EXPECT_FALSE(worker.DeleteMessage(Account(), 1, entryFor(1, "one", "a1", 1000, "u1"), false));
        EXPECT_EQ(worker.LastErrorText, QString::fromLatin1(reply.mid(5)));
    }
    EXPECT_TRUE(waits.isEmpty());
    expectScriptDone();
}

// --- Cancel ---------------------------------------------------------------------------------------------

TEST_F(WorkerTest, CancellingTheAccountDuringTheScanEndsItsScanOnly)
{
    makeChecker({Account(), Account(QStringLiteral("pop.other.test"), QStringLiteral("eve"))});
    play(Login() << C("STAT") << S("+OK 3 3000") << Uidl({"u1", "u2", "u3"}) << Header(1, "one", "a1")
                 << C("TOP 2 0") << S("+OK") << S("Subject: two") << S("."));
    play(Scan({{"eve's", "e1", 10, "e-1"}}, "eve"));
    // The user presses the cancel button while TOP 2 waits for its reply.
    bool pressed = false;
    fake->duringRead = [this, &pressed] {
        if (!pressed && !fake->written().isEmpty() && fake->written().last() == "TOP 2 0" && ui.cancelButton) {
            pressed = true;
            ui.cancelButton();
        }
    };
    EXPECT_EQ(checker->CheckNow(), 1);
    ASSERT_EQ(checker->Entries().size(), 1);
    EXPECT_EQ(checker->Entries().at(0)->UserName, QStringLiteral("eve"));
    EXPECT_TRUE(ui.progress.contains(
        QStringLiteral("bob@pop.example.test 2 0 Die Prüfung des Kontos wurde abgebrochen.")))
        << ui.progress.join(u'\n').toStdString();
    EXPECT_TRUE(ui.progress.contains(QStringLiteral("eve@pop.other.test 1 0")));
    EXPECT_EQ(fake->connectCount(), 2) << "the cancelled account is not connected again";
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

TEST_F(IdleLoopTest, ManualCheckAskedForInsideATimedCheckRunsAfterIt)
{
    makeLoopChecker(10, 10);
    bool asked = false;
    // As when a window's button is handled while a handler of the timed check waits.
    checker->OnRunEnd = [this, &asked](TPOP3Checker *) {
        if (!asked) {
            asked = true;
            EXPECT_EQ(checker->CheckNow(), 0);
        }
    };
    play(Login() << C("STAT") << S("+OK 2 2000") << Quit());
    play(Scan({{"one", "a1", 100, "u1"}}));
    checker->SetActive(true);
    clock += 180;
    ASSERT_TRUE(waitFor([this] { return checker->MailList.Count() == 1; }))
        << transcript().toStdString();
    EXPECT_TRUE(ui.calls.contains(QStringLiteral("OpenProgressWindow")));
    EXPECT_EQ(ui.progress.last(), QStringLiteral("bob@pop.example.test 1 0"));
    EXPECT_TRUE(checker->Enabled);
    checker->SetActive(false);
    ASSERT_TRUE(waitFor([this] { return checker->Worker()->IsPaused(); }));
    expectScriptDone();
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
