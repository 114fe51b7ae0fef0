#pragma once
// The mailbox session worker TPop3Thread: a thread of its own on which every conversation with a mail
// server runs, one job at a time, and an idle loop that tells the coordinator when a timed check is due.
//
// The window's thread never waits for a server: the coordinator posts a job (a check, a deletion run, a
// text fetch, a login test, a delivery) and gets its result back as a queued call when the job has
// ended. The worker never waits for the window's thread either: what it has to say meanwhile (progress
// lines, the start and end of a run, a count-down) is posted to the coordinator in order and without
// waiting. The session operations below are plain blocking calls on the thread that makes them; tests
// call them directly with a scripted server.
#include "LineSocket.h"
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

class TPOP3Checker;

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
};

// A server certificate a check refused that the user could choose to trust: the account's index in the
// coordinator's accounts, and why it was refused.
struct TRefusedCertificate {
    int AccountIndex = -1;
    CertificateProblem Problem;
};

// The text of a deletion refused because the message at that number is no longer the one the list shows.
inline const QString kMailboxChangedText =
    QStringLiteral("Das Postfach hat sich seit der letzten Prüfung verändert. Bitte prüfen Sie es erneut.");
// The text of deletions the server may not have carried out: their session ended without a QUIT that the
// server answered with +OK, and a POP3 server deletes only then.
inline const QString kDeletionNotCommittedText =
    QStringLiteral("Der Server hat das Ende der Sitzung nicht bestätigt, daher wurden die E-Mails möglicherweise "
                   "nicht gelöscht. Bitte prüfen Sie das Postfach erneut.");

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

// What one account's scan may still spend: its deadline and the time-outs it has had.
struct TScanBudget {
    qint64 DeadlineMs = 0; // on TPop3Options::ElapsedMs's clock
    int Timeouts = 0;
    bool Extended = false; // the deadline has grown by the messages STAT announced
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
    // The client of the session, or null. Only for the thread that uses it.
    Pop3Client *Client() const { return m_client.get(); }

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

    // --- session operations (the thread that calls them; one at a time) ---
    bool Connect(const TPOP3AccountSettings &account, bool &fatal, int &code, QString &errorText);
    // Connect and STAT. With a budget, its time-outs count there and its deadline caps every wait.
    bool CountMessages(const TPOP3AccountSettings &account, int &count, bool &fatal, int &code,
                       QString &errorText, TScanBudget *budget = nullptr);
    // Appends one entry per message read to target, in message-number order: the sizes and ids come from
    // one LIST and one UIDL listing per session (LIST n for a message the listing leaves out), the
    // header blocks from TOP n 0, sent ahead of their replies where the server allows it. A message
    // that cannot be read is left out; after a lost connection the scan goes on in a new session with
    // the next message. An empty mailbox returns false without fatal. Gives up
    // on the account (false, fatal, and the entries of this call removed again) when a lost connection
    // cannot be made again, when the budget is spent (its own one without a budget), when the whole run
    // is stopped, when the server keeps failing message after message, or when not one of the messages
    // STAT announced could be read. When the user cancels the account, the entries read so far stay:
    // false without fatal, with the cancel text.
    bool FetchHeaders(const TPOP3AccountSettings &account, QList<TMailEntry *> &target, bool &fatal, int &code,
                      QString &errorText, TScanBudget *budget = nullptr);
    // Deletes message n after making sure it is still the message the check saw (expected's ServerUIDL,
    // else its Size and ScanDigest). False with an empty LastErrorText: the message is gone already. False
    // with kMailboxChangedText: that cannot be proven, nothing was deleted. With keepSession the deletion
    // is only accepted so far: the server carries it out when CommitDeletions succeeds. Without it, the
    // session is ended here and a QUIT the server does not confirm makes the result false
    // (kDeletionNotCommittedText).
    bool DeleteMessage(const TPOP3AccountSettings &account, int n, const TMailEntry &expected,
                       bool keepSession);
    // Deletes the messages of one account, each by its MsgNumber and checked as DeleteMessage does, in
    // order in one session; stops at the first failure (LastErrorText). Returns how many from the first
    // on were deleted or found gone. Where the session's UIDL listing proves them, the DELE commands go
    // out ahead of their replies when the server allows it; should the server refuse one of them and
    // accept a later one, RSET takes the later ones back, so nothing after a failure is deleted.
    int DeleteMessages(const TPOP3AccountSettings &account, const QList<TMailEntry *> &entries, bool keepSession);
    // Ends the session; true when every deletion accepted since the last call was carried out (each
    // session that had one ended with a QUIT the server answered +OK). Otherwise false with
    // kDeletionNotCommittedText.
    bool CommitDeletions(QString &errorText);
    // RETR n into a fresh message that replaces entry.Message only when it could be read, after making
    // sure the number still names the message the check saw (as for a deletion); entry's scan fields stay.
    bool FetchText(const TPOP3AccountSettings &account, int n, TMailEntry &entry, bool keepSession, bool &fatal,
                   int &code, QString &errorText);
    // The editor's login test: connect (with the time-outs cut to kLoginTestTimeoutMs), STAT, QUIT. A
    // failure's text starts with what it means for the user (ConnectionFailure.h).
    bool TestAccount(const TPOP3AccountSettings &account, int &code, QString &errorText);
    static constexpr int kLoginTestTimeoutMs = 15000;
    // One check over accounts (accountIndex -1 = all): the coordinator's copy, whose CheckFailed flags it
    // sets. A timed run (not manual) checks only when CheckInterval has passed since LastCheckTime.
    bool RunCheck(bool manual, bool countOnly, int accountIndex, TPOP3Accounts &accounts, bool &allFailed);

    // Closes the session (QUIT, then close), errors ignored. From another thread than the session's, it
    // only aborts the connection, so that a command waiting there fails.
    void Disconnect();
    void ForceClose();
    void EnsureClient();
    void FreeClient();
    void FreeEntries();
    // Thread-safe: makes the command under way (or the next one) fail and drops the connection.
    void AbortSession();
    // Seconds since midnight of the current local time (or the test clock).
    int32_t NowSeconds() const;
    // What ScanDigest holds for a header block as TOP n 0 delivers it.
    static QByteArray HeaderDigest(const QByteArray &headerBlock);
    // A fresh budget for one account's scan.
    TScanBudget NewScanBudget() const;
    qint64 ElapsedMs() const;
    qint64 BudgetLeftMs(const TScanBudget &budget) const;
    // The budget's end as a bound for the client's waits.
    QDeadlineTimer BudgetDeadline(const TScanBudget &budget) const;

protected:
    void run() override;

private:
    enum class Identity { Same, Gone, Changed, Failed };
    // A message to delete: its number now, and what the check saw of it.
    using TDeletion = std::pair<int, const TMailEntry *>;
    struct TJob {
        JobWork Work;
        std::function<void()> Done;
    };
    enum class Wake { Job, TimedCheckDue, Terminate };

    // Waits for the next job or the next wake-up of the idle loop; job is set for Wake::Job.
    Wake WaitForWork(TJob &job);
    void RunJob(TJob &job);
    void StartThread();
    bool ShuttingDown() const;
    void LoadAccountIntoClient(const TPOP3AccountSettings &account);
    // Fills fatal, code and the error text from the client's last failure.
    void TakeClientError(bool &fatal, int &code, QString &errorText) const;
    // Reads the session's UIDL listing once per session when the server offers it.
    bool LoadSessionUidl();
    // Reads the session's LIST listing (every message's size) once per session.
    bool LoadSessionSizes();
    // STAT unless the session had one: the listings are bounded by its count.
    bool EnsureSessionCount();
    Identity CheckIdentity(int n, const TMailEntry &expected);
    // What the session's UIDL listing alone tells about message n (no round trip); nothing when it cannot
    // tell (no listing, no id recorded, or an id that several messages carry).
    std::optional<Identity> ListedIdentity(int n, const TMailEntry &expected) const;
    // A new entry for message n of the session.
    TMailEntry *NewEntry(int n, const QByteArray &header, qint64 size) const;
    // Deletes items in order in the session; returns how many were deleted or found gone (*gone of them).
    int DeleteInSession(const TPOP3AccountSettings &account, const QList<TDeletion> &items, int *gone);
    // items[from, to), every one proven by the listing: their DELE commands in one batch. Returns the index
    // of the first one not deleted (to when all were), counting those gone in *gone; when the server
    // refused it, *refusal is its reply, otherwise LastErrorText says why.
    qsizetype DeleteProven(const QList<TDeletion> &items, qsizetype from, qsizetype to, int *gone,
                           std::optional<Pop3Client::BatchReply> *refusal);
    // One deletion with the checks that need round trips, and the wait after a "too frequently" refusal;
    // with refusal, its DELE was just refused so. True when deleted; false with an empty LastErrorText
    // when the message is gone already.
    bool DeleteOne(const TPOP3AccountSettings &account, int n, const TMailEntry &expected,
                   const std::optional<Pop3Client::BatchReply> &refusal);
    // DELE n was accepted: the session's listing and count of deletions follow.
    void NoteDeleted(int n);
    // Takes back every deletion of this session (RSET) and deletes the numbers in keep again; false, with
    // the session dropped and nothing of it carried out, when that fails.
    bool KeepOnlyDeletions(const QList<int> &keep);
    void ClearSession();
    // Waits ms on this thread; ends early when the job is aborted or the program is ending.
    void WaitMs(int ms);
    // The connect time-out, cut short by the client's deadline.
    void CapConnectTimeout();
    // The connect and read time-out of the session now opened.
    int sessionTimeoutMs() const;
    bool BudgetSpent(const TScanBudget &budget) const;
    QString BudgetText(const TScanBudget &budget) const;
    // Counts the client's last failure in the budget when it was a time-out.
    void CountTimeout(TScanBudget &budget) const;
    // Lets the scan's deadline grow by the messages STAT announced (once per budget), and caps the
    // client's waits by it.
    void ApplyBudget(TScanBudget &budget, int count) const;
    // Reports one account's progress line when the run reports progress.
    void ReportAccount();

    TPop3Options m_options;
    QList<TMailEntry *> m_entries;
    std::unique_ptr<Pop3Client> m_client;
    mutable QMutex m_clientMutex;                 // guards m_client against AbortSession from another thread
    std::atomic<QThread *> m_sessionThread{nullptr}; // the thread that created the client

    // The session's UIDL listing (message number -> unique id), read at most once per session, and how
    // many messages of it carry each id.
    QMap<int, QByteArray> m_sessionUidl;
    QHash<QByteArray, int> m_sessionUidlCount;
    bool m_sessionUidlLoaded = false;
    bool m_sessionUidlRefused = false;
    // The session's LIST listing (message number -> size), read at most once per session.
    QMap<int, qint64> m_sessionSizes;
    bool m_sessionSizesLoaded = false;
    QList<int> m_sessionDeleted;  // the numbers of the DELE commands this session's server accepted
    bool m_deletionsLost = false; // since the last CommitDeletions, a session with DELEs ended unconfirmed
    int m_testTimeoutMs = 0;      // while a login test runs: its shorter time-out

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
