#pragma once
// The mailbox session worker TPop3Thread: a thread of its own on which every conversation with a mail
// server runs, one job at a time, and an idle loop that tells the coordinator when a timed check is due.
//
// The window's thread never waits for a server: the coordinator posts a job (a check, a deletion run, a
// text fetch, a login test, a delivery) and gets its result back as a queued call when the job has
// ended. The worker never waits for the window's thread either: what it has to say meanwhile (progress
// lines, the start and end of a run, a count-down) is posted to the coordinator in order and without
// waiting. The conversations themselves are the mailbox sessions' (MailboxSession.h): the worker keeps
// one session of each protocol and hands each account to the session of its type. The session operations
// below are plain blocking calls on the thread that makes them; tests call them directly with a scripted
// server.
#include "LineSocket.h"
#include "MailboxSession.h"
#include "Pop3Client.h"
#include "TypeDef.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QQueue>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class TImapSession;
class TPOP3Checker;
class TPop3Session;

// How the worker talks to the network and to the clock. The defaults are the product's; tests replace
// them to drive the worker with a scripted server, short time-outs and a clock of their own.
struct TPop3Options {
    LineSocketFactory SocketFactory;          // empty: plain TCP
    int TimeoutMs = Pop3Client::kDefaultTimeoutMs; // connect and read time-outs
    int ReplyDeadlineMs = Pop3Client::kDefaultReplyDeadlineMs; // one command's whole reply
    // One account's scan gives up after MaxTimeouts time-outs (connecting, a line, a whole reply), and at
    // the latest after ScanDeadlineMs plus ScanMsPerMessage for each message STAT announces (an hour at
    // most), so that a silent or dripping server cannot hold a check for long.
    int MaxTimeouts = 2;
    int ScanDeadlineMs = 180000;
    int ScanMsPerMessage = 1000;
    // Send header reads and deletions ahead of their replies where the server offers PIPELINING.
    bool Pipelining = true;
    int FirstWakeMs = 10000;                  // first wake-up of the idle loop after the thread starts
    int WakeMs = 60000;                       // every later wake-up
    std::function<int32_t()> Clock;           // seconds since midnight; empty: the local time of day
    // Milliseconds of a steady clock for the scan's deadline; empty: the system's monotonic clock. Tests
    // replace it so that how long the scan took is what the script says, not how busy the machine is.
    std::function<qint64()> ElapsedMs;
    // The wait before a deletion is tried again after a "too frequently" refusal; empty: a wait on the
    // worker's thread that ends early when the job is aborted or the program is ending.
    std::function<void(int ms)> Wait;
    // While timed checking is on, an IMAP account whose server offers IDLE is watched on a connection of
    // its own (ImapIdle.h), renewed after IdleRenewMs.
    bool ImapIdle = true;
    int IdleRenewMs = 25 * 60 * 1000;
};

// A server certificate a check refused that the user could choose to trust: the account's index in the
// coordinator's accounts, and why it was refused.
struct TRefusedCertificate {
    int AccountIndex = -1;
    CertificateProblem Problem;
};

// TPop3Thread::AccountStatus, and the status of a progress line (ICheckerUI::ProgressLine).
enum TAccountStatus : int32_t {
    asBegun = 0,
    asDone = 1,
    asFailed = 2,
    asCancelled = 3, // the user gave the account up; what was read of it stays
};

// One account's line in the progress window, as the worker reports it.
struct TProgressReport {
    QString Account; // "UserName@Host"
    int32_t Status = asBegun;
    int32_t Code = 0;
    QString ErrorText;
};

class TPop3Thread : public QThread {
    Q_OBJECT
public:
    // Created paused: the thread starts with the first Resume() or the first job.
    explicit TPop3Thread(TPOP3Checker *checker, TPop3Options options = {});
    // Aborts the job under way, ends the thread and waits for it (it never waits for this thread), then
    // closes the session and frees the client and the entries.
    ~TPop3Thread() override;

    // --- state of the run under way; read by the coordinator only once the job has ended ---
    std::atomic<bool> Cancel{false};          // stop the run before its next account; the idle loop pauses
    std::atomic<int32_t> LastCheckTime{0};    // seconds since midnight at the end of the last check
    std::atomic<int32_t> CheckInterval{60};   // seconds between two timed checks
    std::atomic<bool> CountOnly{false};       // timed checks only count (STAT)
    int32_t Retries = 1;
    std::atomic<bool> ReportProgress{false};
    TPOP3Checker *Checker;
    int32_t AccountStatus = asBegun;
    QString ProgressAccount;                  // "UserName@Host" of the account being checked
    QString LastErrorText;
    int32_t LastErrorCode = 0;
    int32_t TotalCount = 0;
    bool AnyCancelled = false;                // the user cancelled an account of the last run
    // The last run read every active account to the end: only then does what it found tell which known
    // messages are gone from the servers.
    bool RunComplete = false;
    // The last RunCheck got past its interval test and read the accounts (its results replace the last ones).
    bool RunStarted = false;
    // The last run only counted (STAT): it saw no message's identity.
    bool RunCountOnly = false;
    int32_t WaitSeconds = -99;                // the count-down of a "too frequently" refusal; -99: none
    bool CheckSucceeded = false;
    // The certificates refused during the last run that trusting would let through, one per account.
    QList<TRefusedCertificate> RefusedCertificates;

    // The result list of the last run: owned entries, account order, message-number order within.
    const QList<TMailEntry *> &Entries() const { return m_entries; }
    // Hands the result list over to the caller, who owns its entries from now on.
    QList<TMailEntry *> TakeEntries();
    // The session that speaks the account's protocol (created with the worker, alive as long as it is).
    IMailboxSession &Session(const TPOP3AccountSettings &account);
    TPop3Session &Pop3() { return *m_pop3; }
    TImapSession &Imap() { return *m_imap; }
    // The client of the POP3 session, or null. Only for the thread that uses it.
    Pop3Client *Client() const;

    // --- jobs (posted from the coordinator's thread) ---
    using JobWork = std::function<void(TPop3Thread &worker)>;
    // Runs work on this thread after the jobs posted before it, then done as a queued call on the
    // coordinator's thread, after everything the job reported on its way. Starts the thread when needed.
    void Post(JobWork work, std::function<void()> done);
    // True from Post until the job's work has returned.
    bool JobPending() const;
    // Makes the job under way give up at once (thread-safe): its session's waits fail, its own waits end,
    // and the abort the job registered is called. The next job starts unaborted.
    void AbortJob();
    // True once the job under way was aborted.
    bool JobAborted() const { return m_jobAborted.load(); }
    // For the job under way: a way to end a wait that is not the session's (a delivery, a name lookup);
    // AbortJob calls it from any thread. Cleared when the job ends.
    void SetJobAbort(std::function<void()> abort);
    // Posts what to the coordinator's thread, after what was posted before and before the job's end
    // (called directly when this already is that thread).
    void Report(std::function<void(TPOP3Checker &)> what);

    // --- idle loop control (coordinator's thread) ---
    // Lets the idle loop run again (starting the thread the first time).
    void Resume();
    // Pauses the idle loop: no wake-up comes until Resume. Jobs still run.
    void Pause();
    bool IsPaused() const;
    // True while a job's work runs on the thread.
    bool InJob() const;
    // Sets Cancel and wakes the idle loop, so that it pauses at once.
    void SetCancel(bool on);
    // Milliseconds from the last wake-up (or resume) to the next one.
    void SetWakeInterval(int ms);

    // --- session operations (the thread that calls them; one at a time), each by the account's session ---
    bool Connect(const TPOP3AccountSettings &account, bool &fatal, int &code, QString &errorText);
    bool CountMessages(const TPOP3AccountSettings &account, int &count, bool &fatal, int &code,
                       QString &errorText, TScanBudget *budget = nullptr);
    bool FetchHeaders(const TPOP3AccountSettings &account, QList<TMailEntry *> &target, bool &fatal, int &code,
                      QString &errorText, TScanBudget *budget = nullptr);
    bool FetchText(const TPOP3AccountSettings &account, TMailEntry &entry, bool keepSession, bool &fatal,
                   int &code, QString &errorText);
    // The editor's login test: connect (with the time-outs cut to kLoginTestTimeoutMs), STAT, QUIT. A
    // failure's text starts with what it means for the user (ConnectionFailure.h).
    bool TestAccount(const TPOP3AccountSettings &account, int &code, QString &errorText);
    static constexpr int kLoginTestTimeoutMs = 15000;
    // One check over accounts (accountIndex -1 = all): the coordinator's copy, whose CheckFailed flags it
    // sets. A timed run (not manual) checks only when CheckInterval has passed since LastCheckTime, unless
    // it is due at once (new mail announced by an idle connection).
    bool RunCheck(bool manual, bool countOnly, int accountIndex, TPOP3Accounts &accounts, bool &allFailed,
                  bool dueNow = false);

    // Closes every session (politely), errors ignored. From another thread than the sessions', it only
    // aborts their connections, so that a command waiting there fails.
    void Disconnect();
    // Closes every session and frees its client.
    void FreeClient();
    void FreeEntries();
    // Thread-safe: makes the command under way (or the next one) fail and drops the connections.
    void AbortSession();

    // --- what the sessions follow ---
    const TPop3Options &Options() const { return m_options; }
    // The program is ending or the job was aborted: no connection is made any more.
    bool ShuttingDown() const;
    // Waits ms on this thread; ends early when the job is aborted or the program is ending.
    void WaitMs(int ms);
    // Seconds since midnight of the current local time (or the test clock).
    int32_t NowSeconds() const;
    // What ScanDigest holds for a header block as the server delivered it.
    static QByteArray HeaderDigest(const QByteArray &headerBlock);
    // A fresh budget for one account's scan.
    TScanBudget NewScanBudget() const;
    qint64 ElapsedMs() const;
    qint64 BudgetLeftMs(const TScanBudget &budget) const;
    // The budget's end as a bound for the client's waits.
    QDeadlineTimer BudgetDeadline(const TScanBudget &budget) const;
    bool BudgetSpent(const TScanBudget &budget) const;
    QString BudgetText(const TScanBudget &budget) const;
    // Lets the scan's deadline grow by the messages the server announced (once per budget).
    void ExtendBudget(TScanBudget &budget, int count) const;
    // The reply deadline for the text of a message of that size: a large message may take its time on a
    // slow line, but a server that drips it must not hold the window for ever.
    int TextDeadlineMs(int32_t size) const;
    // The connect and read time-out of the session now opened: shorter while a login test runs.
    int SessionTimeoutMs() const;

protected:
    void run() override;

private:
    struct TJob {
        JobWork Work;
        std::function<void()> Done;
    };
    enum class Wake { Job, TimedCheckDue, Terminate };

    // Waits for the next job or the next wake-up of the idle loop; job is set for Wake::Job.
    Wake WaitForWork(TJob &job);
    void RunJob(TJob &job);
    void StartThread();
    // Reports one account's progress line when the run reports progress.
    void ReportAccount();

    TPop3Options m_options;
    QList<TMailEntry *> m_entries;
    // One session per protocol, made with the worker and kept for its life, so that an abort from another
    // thread always finds them.
    std::unique_ptr<TPop3Session> m_pop3;
    std::unique_ptr<TImapSession> m_imap;
    int m_testTimeoutMs = 0; // while a login test runs: its shorter time-out

    mutable QMutex m_stateMutex;  // guards everything below, and the waits on m_wake
    QWaitCondition m_wake;
    QQueue<TJob> m_jobs;
    int m_jobsPending = 0;        // posted and not yet finished
    bool m_inJob = false;
    std::function<void()> m_jobAbort;
    std::atomic<bool> m_jobAborted{false};
    bool m_paused = true;
    std::atomic<bool> m_terminate{false};
    bool m_started = false;
    int m_wakeIntervalMs = 0;
    qint64 m_elapsedMs = 0;
};
