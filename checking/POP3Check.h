#pragma once
// Mailbox checking: the POP3 session worker TPop3Thread and the check coordinator TPOP3Checker.
//
// The worker is at the same time a background thread that runs the timed checks and an object whose
// session operations the main thread calls directly (manual checks, deletions, text fetches, account
// tests). It reaches the rest of the program only through the coordinator's handlers, which it runs
// synchronously on the main thread while it waits. The coordinator runs on the main thread and reaches
// the user only through ICheckerUI (CheckerUI.h) and ShowMsgBox.
#include "CheckerUI.h"
#include "LineSocket.h"
#include "Pop3Client.h"
#include "TypeDef.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class TPOP3Checker;
class TRegistrySettings;
class TSpamDetector;

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
    // The wait before a deletion is tried again after a "too frequently" refusal; empty: a wait that keeps
    // the calling thread's events going and ends early when the program is shutting down.
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

// What one account's scan may still spend: its deadline and the time-outs it has had.
struct TScanBudget {
    QDeadlineTimer Deadline;
    int Timeouts = 0;
    bool Extended = false; // the deadline has grown by the messages STAT announced
};

class TPop3Thread : public QThread {
    Q_OBJECT
public:
    // Created paused: the thread starts with the first Resume().
    explicit TPop3Thread(TPOP3Checker *checker, TPop3Options options = {});
    // Ends the thread (processing the caller's events meanwhile, so that a handler the worker waits for
    // can run), closes the session, frees the client and the entries.
    ~TPop3Thread() override;

    // --- state (see the coordinator for who sets what) ---
    std::atomic<bool> Cancel{false};          // stop the run before its next account; the idle loop pauses
    std::atomic<int32_t> LastCheckTime{0};    // seconds since midnight at the end of the last check
    std::atomic<int32_t> CheckInterval{60};   // seconds between two timed checks
    std::atomic<bool> CountOnly{false};       // timed checks only count (STAT)
    int32_t Retries = 1;
    bool ReportProgress = false;
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
    int32_t WaitSeconds = -99;                // -99: no count-down window was shown
    bool CheckSucceeded = false;
    // The certificates refused during the last run that trusting would let through, one per account.
    QList<TRefusedCertificate> RefusedCertificates;

    // The result list of the last check: owned entries, account order, message-number order within.
    const QList<TMailEntry *> &Entries() const { return m_entries; }
    // Removes the entry from the result list; true when it was there (the caller then owns it).
    bool TakeEntry(TMailEntry *entry);
    // The client of the session, or null. Only for the thread that uses it.
    Pop3Client *Client() const { return m_client.get(); }

    // --- idle loop control (main thread) ---
    // Lets the idle loop run again (starting the thread the first time).
    void Resume();
    // Pauses the idle loop; when a timed check is under way, waits (handling the caller's events) until
    // it has ended.
    void Pause();
    // Pauses the idle loop unless a timed check is under way (then false and nothing changes). Decided
    // under the same lock as the wake-up, so no check can slip in between.
    bool TryPause();
    bool IsPaused() const;
    // True while the thread is inside a timed check.
    bool InCheck() const;
    // Waits, handling the caller's events, until no timed check is under way.
    void WaitUntilIdle();
    // Sets Cancel and wakes the idle loop, so that it pauses at once.
    void SetCancel(bool on);
    // Milliseconds from the last wake-up (or resume) to the next one.
    void SetWakeInterval(int ms);

    // --- session operations (any thread, one at a time) ---
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
    bool TestAccount(const TPOP3AccountSettings &account, int &code, QString &errorText);
    // One check over the coordinator's accounts (accountIndex -1 = all).
    bool RunCheck(bool manual, bool countOnly, int accountIndex, bool &allFailed);

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

Q_SIGNALS:
    // Emitted from the thread when a timed check has ended (WaitUntilIdle listens for it).
    void BecameIdle();

protected:
    void run() override;

private:
    enum class Identity { Same, Gone, Changed, Failed };
    // A message to delete: its number now, and what the check saw of it.
    using TDeletion = std::pair<int, const TMailEntry *>;

    // Runs a coordinator handler on the main thread and waits for it.
    void Notify(void (TPOP3Checker::*handler)());
    // Waits until the next wake-up is due; false when the thread is to end.
    bool WaitForWakeUp();
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
    void WaitMs(int ms);
    // The connect time-out, cut short by the client's deadline.
    void CapConnectTimeout();
    bool BudgetSpent(const TScanBudget &budget) const;
    QString BudgetText(const TScanBudget &budget) const;
    // Counts the client's last failure in the budget when it was a time-out.
    void CountTimeout(TScanBudget &budget) const;
    // Lets the scan's deadline grow by the messages STAT announced (once per budget), and caps the
    // client's waits by it.
    void ApplyBudget(TScanBudget &budget, int count) const;

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

    mutable QMutex m_stateMutex;
    QWaitCondition m_wake;
    bool m_paused = true;
    std::atomic<bool> m_terminate{false};
    bool m_inCheck = false;
    int m_wakeIntervalMs = 0;
    qint64 m_elapsedMs = 0;
};

// What the one server operation of the moment is doing.
enum class TServerOperationKind { None, ManualCheck, DeletionRun, SingleDeletion, TextFetch, AccountTest, SendMail };

class TPOP3Checker : public QObject {
    Q_OBJECT
public:
    // Takes the accounts and options from the settings store (ReloadConfig). The detector judges spam; ui
    // is the user's side. All three must outlive the coordinator.
    TPOP3Checker(TRegistrySettings &settings, const TSpamDetector &detector, ICheckerUI &ui,
                 TPop3Options options = {}, QObject *parent = nullptr);
    ~TPOP3Checker() override;
    TPOP3Checker(const TPOP3Checker &) = delete;
    TPOP3Checker &operator=(const TPOP3Checker &) = delete;

    TPOP3Accounts Accounts;
    TPOP3Check POP3Check;
    bool Enabled = false;
    std::atomic<bool> AccountCancelled{false};
    QStringList KnownUIDs;
    TMailList MailList;
    QString UIDFile;

    // Events, each called only when set (on the main thread).
    std::function<void(TPOP3Checker *)> OnRunStart;
    std::function<void(TPOP3Checker *)> OnRunEnd;
    std::function<void(TPOP3Checker *, bool succeeded)> OnCheckDone;
    std::function<void(TPOP3Checker *, const QList<TMailEntry *> &newEntries)> OnNewMails;

    // The worker, or null before it is first needed.
    TPop3Thread *Worker() const { return m_worker.get(); }
    // Creates the worker (paused) when there is none.
    TPop3Thread *EnsureWorker();
    // The worker's result list (empty without a worker).
    QList<TMailEntry *> Entries() const;

    void SetActive(bool on);
    void ReloadConfig();
    void LoadKnownUIDs();
    void SaveKnownUIDs();
    int CheckNow(int accountIndex = -1);
    int BuildMailList();
    static QString UIDOf(TMailEntry &entry);
    int NewMailDetect();
    // The account editor's test. With refused, a server certificate the test refused and the user could
    // choose to trust (TrustCertificate, then StoreTrustedCertificate) is handed back; null otherwise.
    bool TestAccount(const TPOP3AccountSettings &account, QString &errorText, int &code,
                     CertificateProblem *refused = nullptr);
    // With keepSession the deletion is only accepted so far; EndDeleteSession tells whether it was
    // carried out.
    bool DeleteEntry(TMailEntry *entry, bool keepSession, QString &errorText);
    // Deletes entries of one account (in deletion order) in one session as DeleteEntry does each, their
    // DELE commands sent together where the server allows it; stops at the first failure. Returns how
    // many from the first on are deleted (or gone already); entries[returned] failed with errorText.
    int DeleteEntries(const QList<TMailEntry *> &entries, bool keepSession, QString &errorText);
    // Closes a session kept open by DeleteEntry; true when the server carried out every deletion accepted
    // since the previous call, otherwise false with the reason in errorText.
    bool EndDeleteSession(QString *errorText = nullptr);
    // Removes the entry from the result list and MailList, frees it when the worker owned it, and
    // clears the caller's pointer.
    void RemoveEntry(TMailEntry *&entry);
    bool FetchEntryText(TMailEntry *entry, bool keepSession, QString *errorText = nullptr);
    // Deletes every checked entry of MailList without asking (the automatic spam removal and the spam
    // notice's "Spam-Mails löschen"), then refills the message list.
    void DeleteCheckedAutomatic();
    // After a manual check: shows each certificate the check refused and the user could trust, and for
    // each one the user trusts stores its fingerprint with the account; then reloads the accounts.
    void OfferCertificateTrust();
    // Stores certificate as the one the user trusts for the account's incoming server (or, with
    // outgoing, its outgoing server), and reloads the coordinator's accounts with it (at the end of the
    // operation under way). False when the account is no longer set up or the settings cannot be
    // written; CertificateNotStoredText() then tells the user.
    bool StoreTrustedCertificate(const TPOP3AccountSettings &account, bool outgoing,
                                 const QSslCertificate &certificate);
    static QString CertificateNotStoredText(const TPOP3AccountSettings &account);

    // True while a handler runs on behalf of the worker thread (which waits for it to return).
    bool InWorkerHandler() const { return m_workerHandlerDepth > 0; }

    // --- one server operation at a time ---
    // Every wait for a server on the main thread runs a local event loop, so clicks, timers and the
    // worker's wake-ups would otherwise run in the middle of an operation and free what it works on.
    // Every command that talks to a server therefore begins an operation here first (TServerOperation).

    // True while an operation runs on the main thread, or a timed check runs in the worker.
    bool OperationRunning() const;
    // True while the worker is inside a timed check.
    bool TimedCheckRunning() const;
    TServerOperationKind CurrentOperation() const { return m_operation; }
    // Begins an operation on the main thread: false (nothing changes) while another one or a timed check
    // runs. The worker stays paused until EndOperation, which lets it go on when timed checking is on.
    bool BeginOperation(TServerOperationKind kind);
    void EndOperation();
    // The program is ending: the operation under way, or the timed check, gives up at once; no connection
    // is made any more. The operation still unwinds normally; OnOperationChanged(false) follows.
    void AbortForQuit();
    bool QuitRequested() const { return m_quitRequested; }
    // Fired on the main thread whenever OperationRunning() changes (before OperationChanged).
    std::function<void(TPOP3Checker *, bool running)> OnOperationChanged;
    // The text of a refused operation: another one or a timed check runs.
    static QString BusyText();

    // Index of the entry's account in Accounts, by (Host, UserName); -1 when there is none.
    int AccountIndexOf(const TMailEntry &entry) const;

    // --- handlers (main thread; the worker calls them through Notify) ---
    void CheckBegin();
    void RunStart();
    void Progress();
    void RunEnd();
    void AutoKill();
    void TimedNotify();
    void CheckEnd();
    void CheckDone();
    void CancelAccount();
    void DeleteWait();

    // The tooltip of the mail icon for n messages.
    static QString MailIconTooltip(int n);

Q_SIGNALS:
    // The program is ending: waits in the middle of an operation return at once.
    void QuitRequestedSignal();
    // OperationRunning() changed (main thread); dialogs with server commands follow it.
    void OperationChanged(bool running);

private:
    friend class TPop3Thread;
    void PlaySoundIfSet();
    // Switches the worker on for timed checks (the first one a minute from now at the earliest).
    void StartTimedChecking();
    // Reports a change of OperationRunning() and runs what waited for the operations to end.
    void OperationStateMayHaveChanged();
    // The worker's thread is inside a timed check and does not wait for us: its client is in use there.
    bool WorkerBusy() const;

    TRegistrySettings &m_settings;
    const TSpamDetector &m_detector;
    ICheckerUI &m_ui;
    TPop3Options m_options;
    std::unique_ptr<TPop3Thread> m_worker;
    int m_workerHandlerDepth = 0; // > 0 while a handler runs for the worker, which waits for it

    TServerOperationKind m_operation = TServerOperationKind::None; // the operation on the main thread
    bool m_startTimedAfterOperation = false; // timed checking was switched on during the operation
    bool m_reloadAfterOperation = false;     // ReloadConfig was asked for during an operation
    bool m_reportedRunning = false;
    std::atomic<bool> m_quitRequested{false};
};

// Holds the one server operation for a scope. Test it before talking to a server:
//     TServerOperation op(checker, TServerOperationKind::TextFetch);
//     if (!op) return;   // another operation or a timed check runs
class TServerOperation {
public:
    TServerOperation(TPOP3Checker &checker, TServerOperationKind kind)
        : m_checker(checker), m_started(checker.BeginOperation(kind))
    {
    }
    ~TServerOperation()
    {
        if (m_started)
            m_checker.EndOperation();
    }
    TServerOperation(const TServerOperation &) = delete;
    TServerOperation &operator=(const TServerOperation &) = delete;
    explicit operator bool() const { return m_started; }

private:
    TPOP3Checker &m_checker;
    bool m_started;
};
