#include "Pop3Worker.h"

#include "CheckCoordinator.h"
#include "ImapSession.h"
#include "Pop3Session.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QMutexLocker>
#include <QScopeGuard>
#include <QTime>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace {

// A message text is allowed to come in at this rate at least before its reply deadline runs out.
constexpr qint64 kSlowestTextOctetsPerSecond = 16 * 1024;
constexpr qint64 kMaxTextDeadlineMs = qint64(30) * 60 * 1000;

QString scanTooLongText()
{
    return QStringLiteral("Die Prüfung des Kontos hat zu lange gedauert und wurde abgebrochen.");
}

QString tooManyTimeoutsText()
{
    return QStringLiteral("Der Server hat wiederholt nicht rechtzeitig geantwortet. Die Prüfung des Kontos wurde "
                          "abgebrochen.");
}

} // namespace

TPop3Thread::TPop3Thread(TPOP3Checker *checker, TPop3Options options)
    : Checker(checker), m_options(std::move(options)), m_pop3(std::make_unique<TPop3Session>(*this)),
      m_imap(std::make_unique<TImapSession>(*this))
{
    m_wakeIntervalMs = m_options.FirstWakeMs;
}

TPop3Thread::~TPop3Thread()
{
    Cancel = true;
    {
        QMutexLocker lock(&m_stateMutex);
        m_terminate = true;
        m_jobs.clear();
        m_wake.wakeAll();
    }
    AbortJob();
    // The thread never waits for this one, so it ends as soon as its job has given up.
    wait();
    FreeClient();
    FreeEntries();
}

QList<TMailEntry *> TPop3Thread::TakeEntries()
{
    return std::exchange(m_entries, {});
}

void TPop3Thread::FreeEntries()
{
    qDeleteAll(m_entries);
    m_entries.clear();
}

// --- sessions ---

IMailboxSession &TPop3Thread::Session(const TPOP3AccountSettings &account)
{
    if (account.AccountType == atIMAP)
        return *m_imap;
    return *m_pop3;
}

Pop3Client *TPop3Thread::Client() const
{
    return m_pop3->Client();
}

bool TPop3Thread::Connect(const TPOP3AccountSettings &account, bool &fatal, int &code, QString &errorText)
{
    return Session(account).Connect(account, fatal, code, errorText);
}

bool TPop3Thread::CountMessages(const TPOP3AccountSettings &account, int &count, bool &fatal, int &code,
                                QString &errorText, TScanBudget *budget)
{
    return Session(account).CountMessages(account, count, fatal, code, errorText, budget);
}

bool TPop3Thread::FetchHeaders(const TPOP3AccountSettings &account, QList<TMailEntry *> &target, bool &fatal,
                               int &code, QString &errorText, TScanBudget *budget)
{
    return Session(account).FetchHeaders(account, target, fatal, code, errorText, budget);
}

bool TPop3Thread::FetchText(const TPOP3AccountSettings &account, TMailEntry &entry, bool keepSession, bool &fatal,
                            int &code, QString &errorText)
{
    return Session(account).FetchText(account, entry, keepSession, fatal, code, errorText);
}

bool TPop3Thread::TestAccount(const TPOP3AccountSettings &account, int &code, QString &errorText)
{
    // The user waits for the answer: a silent server is given up sooner than in a check.
    m_testTimeoutMs = kLoginTestTimeoutMs;
    const auto restore = qScopeGuard([this] { m_testTimeoutMs = 0; });
    return Session(account).TestAccount(account, code, errorText);
}

int TPop3Thread::SessionTimeoutMs() const
{
    return m_testTimeoutMs > 0 ? std::min(m_options.TimeoutMs, m_testTimeoutMs) : m_options.TimeoutMs;
}

void TPop3Thread::Disconnect()
{
    m_pop3->Disconnect();
    m_imap->Disconnect();
}

void TPop3Thread::FreeClient()
{
    m_pop3->FreeClient();
    m_imap->FreeClient();
}

void TPop3Thread::AbortSession()
{
    m_pop3->Abort();
    m_imap->Abort();
}

QByteArray TPop3Thread::HeaderDigest(const QByteArray &headerBlock)
{
    return QCryptographicHash::hash(headerBlock, QCryptographicHash::Sha256);
}

qint64 TPop3Thread::ElapsedMs() const
{
    return m_options.ElapsedMs ? m_options.ElapsedMs() : QDeadlineTimer::current().deadline();
}

qint64 TPop3Thread::BudgetLeftMs(const TScanBudget &budget) const
{
    return std::max<qint64>(budget.DeadlineMs - ElapsedMs(), 0);
}

QDeadlineTimer TPop3Thread::BudgetDeadline(const TScanBudget &budget) const
{
    return QDeadlineTimer(BudgetLeftMs(budget));
}

TScanBudget TPop3Thread::NewScanBudget() const
{
    TScanBudget budget;
    budget.DeadlineMs = ElapsedMs() + std::clamp<qint64>(m_options.ScanDeadlineMs, 0, kMaxScanMs);
    return budget;
}

bool TPop3Thread::BudgetSpent(const TScanBudget &budget) const
{
    return budget.Timeouts >= m_options.MaxTimeouts || BudgetLeftMs(budget) == 0;
}

QString TPop3Thread::BudgetText(const TScanBudget &budget) const
{
    return BudgetLeftMs(budget) == 0 ? scanTooLongText() : tooManyTimeoutsText();
}

void TPop3Thread::ExtendBudget(TScanBudget &budget, int count) const
{
    if (budget.Extended)
        return;
    budget.Extended = true;
    const qint64 grown = BudgetLeftMs(budget) + qint64(std::max(count, 0)) * m_options.ScanMsPerMessage;
    budget.DeadlineMs = ElapsedMs() + std::clamp<qint64>(grown, 0, kMaxScanMs);
}

int TPop3Thread::TextDeadlineMs(int32_t size) const
{
    const qint64 sizeMs = qint64(std::max(size, 0)) * 1000 / kSlowestTextOctetsPerSecond;
    return int(std::min(std::max<qint64>(m_options.ReplyDeadlineMs, sizeMs), kMaxTextDeadlineMs));
}

// --- jobs ---

void TPop3Thread::StartThread()
{
    // Under m_stateMutex.
    if (!m_started && !m_terminate) {
        m_started = true;
        start(QThread::LowPriority);
    }
}

void TPop3Thread::Post(JobWork work, std::function<void()> done)
{
    QMutexLocker lock(&m_stateMutex);
    if (m_terminate)
        return;
    m_jobs.enqueue({std::move(work), std::move(done)});
    ++m_jobsPending;
    StartThread();
    m_wake.wakeAll();
}

bool TPop3Thread::JobPending() const
{
    QMutexLocker lock(&m_stateMutex);
    return m_jobsPending > 0;
}

bool TPop3Thread::InJob() const
{
    QMutexLocker lock(&m_stateMutex);
    return m_inJob;
}

void TPop3Thread::AbortJob()
{
    std::function<void()> abort;
    {
        QMutexLocker lock(&m_stateMutex);
        if (m_inJob || !m_jobs.isEmpty())
            m_jobAborted = true;
        abort = m_jobAbort;
        m_wake.wakeAll();
    }
    AbortSession();
    if (abort)
        abort();
}

void TPop3Thread::SetJobAbort(std::function<void()> abort)
{
    QMutexLocker lock(&m_stateMutex);
    m_jobAbort = std::move(abort);
    // An abort that came before the job could register its own way still reaches it.
    if (m_jobAborted && m_jobAbort)
        m_jobAbort();
}

void TPop3Thread::Report(std::function<void(TPOP3Checker &)> what)
{
    TPOP3Checker *checker = Checker;
    if (!checker)
        return;
    if (QThread::currentThread() == checker->thread()) {
        what(*checker);
        return;
    }
    // Queued calls to one receiver keep their order, and a receiver that is gone drops them.
    QMetaObject::invokeMethod(
        checker, [checker, what = std::move(what)] { what(*checker); }, Qt::QueuedConnection);
}

void TPop3Thread::RunJob(TJob &job)
{
    job.Work(*this);
    std::function<void()> done = std::move(job.Done);
    {
        QMutexLocker lock(&m_stateMutex);
        m_inJob = false;
        m_jobAbort = nullptr;
        // An abort that came while the job was still waiting in the queue holds for it; the next one
        // starts unaborted.
        m_jobAborted = false;
        --m_jobsPending;
    }
    // Posted after everything the job reported, so the coordinator sees its end last.
    if (done && Checker)
        QMetaObject::invokeMethod(Checker, std::move(done), Qt::QueuedConnection);
}

// --- idle loop ---

void TPop3Thread::Resume()
{
    QMutexLocker lock(&m_stateMutex);
    m_paused = false;
    StartThread();
    m_wake.wakeAll();
}

void TPop3Thread::Pause()
{
    QMutexLocker lock(&m_stateMutex);
    m_paused = true;
    m_wake.wakeAll();
}

bool TPop3Thread::IsPaused() const
{
    QMutexLocker lock(&m_stateMutex);
    return m_paused || !m_started;
}

void TPop3Thread::SetCancel(bool on)
{
    Cancel = on;
    QMutexLocker lock(&m_stateMutex);
    m_wake.wakeAll();
}

void TPop3Thread::SetWakeInterval(int ms)
{
    QMutexLocker lock(&m_stateMutex);
    m_wakeIntervalMs = ms;
    m_wake.wakeAll();
}

TPop3Thread::Wake TPop3Thread::WaitForWork(TJob &job)
{
    QMutexLocker lock(&m_stateMutex);
    for (;;) {
        if (m_terminate)
            return Wake::Terminate;
        if (!m_jobs.isEmpty()) {
            job = m_jobs.dequeue();
            m_inJob = true;
            return Wake::Job;
        }
        if (Cancel && !m_paused) {
            // A cancelled worker pauses itself; it starts counting afresh when resumed.
            m_elapsedMs = 0;
            m_wakeIntervalMs = m_options.WakeMs;
            m_paused = true;
        }
        if (m_paused) {
            // Time does not pass for a paused worker.
            m_wake.wait(&m_stateMutex);
            continue;
        }
        const qint64 remaining = qint64(m_wakeIntervalMs) - m_elapsedMs;
        if (remaining <= 0) {
            // The next wake-up counts from here; the check itself is the coordinator's to start.
            m_elapsedMs = 0;
            m_wakeIntervalMs = m_options.WakeMs;
            return Wake::TimedCheckDue;
        }
        QElapsedTimer slept;
        slept.start();
        m_wake.wait(&m_stateMutex, QDeadlineTimer(remaining));
        m_elapsedMs += slept.elapsed();
    }
}

void TPop3Thread::run()
{
    for (;;) {
        TJob job;
        const Wake wake = WaitForWork(job);
        if (wake == Wake::Terminate)
            break;
        if (wake == Wake::Job)
            RunJob(job);
        else
            Report([](TPOP3Checker &checker) { checker.TimedCheckDue(); });
    }
    Disconnect();
}

bool TPop3Thread::ShuttingDown() const
{
    return m_terminate || m_jobAborted || QCoreApplication::closingDown() || (Checker && Checker->QuitRequested());
}

int32_t TPop3Thread::NowSeconds() const
{
    if (m_options.Clock)
        return m_options.Clock();
    const QTime now = QTime::currentTime();
    if (!now.isValid())
        return 0;
    return now.hour() * 3600 + now.minute() * 60 + now.second();
}

void TPop3Thread::WaitMs(int ms)
{
    if (m_options.Wait) {
        m_options.Wait(ms);
        return;
    }
    const QDeadlineTimer deadline(std::max(ms, 0));
    QMutexLocker lock(&m_stateMutex);
    while (!ShuttingDown() && !deadline.hasExpired())
        m_wake.wait(&m_stateMutex, deadline);
}

void TPop3Thread::ReportAccount()
{
    if (!ReportProgress)
        return;
    TProgressReport report{ProgressAccount, AccountStatus, LastErrorCode, LastErrorText};
    Report([report](TPOP3Checker &checker) { checker.Progress(report); });
}

bool TPop3Thread::RunCheck(bool manual, bool countOnly, int accountIndex, TPOP3Accounts &accounts, bool &allFailed,
                           bool dueNow)
{
    allFailed = false;
    RunStarted = false;
    TPOP3Checker *checker = Checker;
    if (!checker)
        return false;
    if (!manual && !dueNow && std::abs(qint64(NowSeconds()) - LastCheckTime) < CheckInterval)
        return false;
    if (accounts.isEmpty())
        return false;

    RunStarted = true;
    Report([](TPOP3Checker &c) { c.RunStart(); });
    TotalCount = 0;
    AnyCancelled = false;
    RunComplete = false;
    RunCountOnly = countOnly;
    bool incomplete = accountIndex != -1;
    checker->AccountCancelled = false;
    FreeEntries();
    RefusedCertificates.clear();

    bool someWorked = false;
    bool lastResult = false;
    qint64 counted = 0;
    for (int i = 0; i < accounts.size(); ++i) {
        checker->AccountCancelled = false;
        if (Cancel) {
            incomplete = true;
            break;
        }
        TPOP3AccountSettings &account = accounts[i];
        if (!account.Active || (accountIndex != -1 && accountIndex != i))
            continue;
        IMailboxSession &session = Session(account);
        account.CheckFailed = false;
        ProgressAccount = account.AccountName + QLatin1Char('@') + account.ServerName;
        Retries = std::max(1, account.ServerRetries);
        int failed = 0;
        AccountStatus = asBegun;
        LastErrorText.clear();
        LastErrorCode = 0;
        if (manual)
            ReportAccount();

        bool result = false;
        bool stopped = false;
        bool cancelled = false;
        // Shared by the attempts: a silent server costs its time-outs once, not once per attempt.
        TScanBudget budget = NewScanBudget();
        CertificateProblem refused;
        for (int attempt = 0; attempt < Retries; ++attempt) {
            if (Cancel) {
                stopped = true;
                break;
            }
            if (attempt > 0 && BudgetSpent(budget)) {
                failed = Retries;
                break;
            }
            bool fatal = false;
            int code = 0;
            QString error;
            bool ok = false;
            if (countOnly) {
                int count = 0;
                ok = session.CountMessages(account, count, fatal, code, error, &budget);
                if (ok)
                    counted += count;
            } else {
                ok = session.FetchHeaders(account, m_entries, fatal, code, error, &budget);
            }
            session.Disconnect();
            if (ok) {
                result = true;
                someWorked = true;
                break;
            }
            // The user's choice, not a failure: what was read stays, and the account is not tried again.
            if (checker->AccountCancelled) {
                cancelled = true;
                break;
            }
            if (fatal) {
                ++failed;
                LastErrorText = error;
                LastErrorCode = code;
                if (const CertificateProblem problem = session.RefusedCertificate(); !problem.IsNull())
                    refused = problem;
            }
            // An empty mailbox is no failure, yet it gives no reason to stop trying either.
            if (!countOnly)
                result = !fatal;
        }
        if (stopped) {
            incomplete = true;
            break;
        }
        if (cancelled) {
            AnyCancelled = true;
            lastResult = true;
            account.CheckFailed = false;
            AccountStatus = asCancelled;
            LastErrorText.clear();
            LastErrorCode = 0;
        } else {
            lastResult = result;
            account.CheckFailed = failed >= Retries;
            if (!refused.IsNull() && (!result || account.CheckFailed))
                RefusedCertificates.append({i, refused});
            AccountStatus = (!result || account.CheckFailed) ? asFailed : asDone;
        }
        if (AccountStatus != asDone)
            incomplete = true;
        if (manual)
            ReportAccount();
    }
    RunComplete = !incomplete;

    allFailed = !lastResult && std::all_of(accounts.cbegin(), accounts.cend(),
                                           [](const TPOP3AccountSettings &a) { return a.CheckFailed; });
    LastCheckTime = NowSeconds();
    TotalCount = countOnly ? ClampToInt32(counted) : int32_t(m_entries.size());
    Report([](TPOP3Checker &c) { c.RunEnd(); });
    FreeClient();
    return someWorked;
}

