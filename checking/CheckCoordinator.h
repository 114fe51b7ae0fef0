#pragma once
// The check coordinator TPOP3Checker, on the window's thread: it owns the worker, its own copies of the
// accounts and check options, the identifiers of messages already seen, the entries of the last check
// and the visible MailList. It runs timed and manual checks, turns their results into the list with spam
// marks, finds new mail and announces it, and deletes spam. It reaches the user only through ICheckerUI
// (CheckerUI.h) and ShowMsgBox.
//
// Every conversation with a server runs as a job on the worker (Pop3Worker.h) inside the one server
// operation of the moment (ServerOperations.h). A job gets copies of what it needs, messages by their
// identity (account, number, UIDL and header digest), never rows or pointers the window may touch; its
// result comes back as a queued call and is applied here. Entries are created by the worker, owned here
// from the end of their check on, and freed only here, after the window has let go of them.
#include "CheckerUI.h"
#include "DeletionLog.h"
#include "Pop3Worker.h"
#include "ServerOperations.h"
#include "TypeDef.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class IDeletionObserver;
class TImapIdleWatch;
class TRegistrySettings;
class TSpamDetector;
struct TDeletionResult;

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
    // The entries of the last check that ran, owned here; MailList shows them.
    const QList<TMailEntry *> &Entries() const { return m_entries; }

    void SetActive(bool on);
    void ReloadConfig();
    void LoadKnownUIDs();
    void SaveKnownUIDs();

    // The manual check (accountIndex -1 = all), as an operation of its own: opens the progress window,
    // checks on the worker, and applies the result when it comes; done then gets the number of entries
    // shown. False when it does not start: no account (after the error box), another operation, or the
    // program's end.
    bool CheckNow(int accountIndex = -1, std::function<void(int shown)> done = {});
    int BuildMailList();
    static QString UIDOf(TMailEntry &entry);
    int NewMailDetect();

    // The account editor's login test, as an operation of its own; CancelOperation ends it. False (with
    // nothing done) when another operation runs. done gets the outcome and, when the test refused a server
    // certificate the user could choose to trust, that certificate's problem (null otherwise).
    using TestDone =
        std::function<void(bool ok, int code, const QString &errorText, const CertificateProblem &refused)>;
    bool TestAccount(const TPOP3AccountSettings &account, TestDone done);

    // --- within an operation the caller began ---
    // Runs work on the worker; done follows on this thread once it has returned.
    void RunJob(TPop3Thread::JobWork work, std::function<void()> done);
    // Deletes the entries of marked from their servers, in deletion order, one session per account,
    // stopping at the first failure. rows is the list in its row order: each entry gets Row := its row and
    // DeleteMark := whether it is marked, and the renumbering follows it. Every marked entry is recorded
    // in the deletion log as deleted `how`, with the spam rule that caught it (for a deletion by hand
    // only when the entry is marked as spam), and rescue copies are kept as the program settings say.
    // The observer, when set, hears of the run's steps as they happen. done gets the result while the
    // deleted entries still exist (so the window can drop their rows); right after it, they leave
    // MailList and the entries and are freed.
    void DeleteEntries(const QList<TMailEntry *> &rows, const QList<TMailEntry *> &marked, TDeletionHow how,
                       std::shared_ptr<IDeletionObserver> observer,
                       std::function<void(const TDeletionResult &)> done);
    // Fetches the entry's text unless it has it already; done(ok, error text) follows. A failed fetch
    // leaves the entry's header block as it was.
    void FetchEntryText(TMailEntry *entry, std::function<void(bool ok, const QString &errorText)> done);
    // Deletes every checked entry of MailList without asking (the automatic spam removal), refills the
    // message list, then calls then.
    void DeleteCheckedAutomatic(std::function<void()> then = {});
    // Removes the entry from MailList and the entries and frees it when it is one of them; clears the
    // caller's pointer.
    void RemoveEntry(TMailEntry *&entry);
    // After a manual check: shows each certificate the check refused and the user could trust, and for
    // each one the user trusts stores its fingerprint with the account; then reloads the accounts.
    // Returns how many the user trusted.
    int OfferCertificateTrust();
    // How many certificates the user came to trust at the end of the last manual check: its mailboxes
    // can be checked again at once.
    int TrustedInLastCheck = 0;
    // Stores certificate as the one the user trusts for the account's incoming server (or, with
    // outgoing, its outgoing server), and reloads the coordinator's accounts with it (at the end of the
    // operation under way). False when the account is no longer set up or the settings cannot be
    // written; CertificateNotStoredText() then tells the user.
    bool StoreTrustedCertificate(const TPOP3AccountSettings &account, bool outgoing,
                                 const QSslCertificate &certificate);
    static QString CertificateNotStoredText(const TPOP3AccountSettings &account);

    // --- the one server operation (ServerOperations.cpp) ---
    // True while an operation, a timed check included, runs.
    bool OperationRunning() const;
    bool TimedCheckRunning() const;
    TServerOperationKind CurrentOperation() const { return m_operation; }
    // Begins an operation: false (nothing changes) while another one runs or the program is ending. The
    // idle loop stays paused until EndOperation, which lets it go on when timed checking is on.
    bool BeginOperation(TServerOperationKind kind);
    void EndOperation();
    // The user's "Abbrechen": the job under way gives up at once and the operation unwinds.
    void CancelOperation();
    // The program is ending: the operation under way gives up at once, and no connection is made any more.
    // The operation still unwinds normally; OnOperationChanged(false) follows.
    void AbortForQuit();
    bool QuitRequested() const { return m_quitRequested; }
    // Fired on the main thread whenever OperationRunning() changes (before OperationChanged).
    std::function<void(TPOP3Checker *, bool running)> OnOperationChanged;
    // The text of a refused operation: another one or a timed check runs.
    static QString BusyText();

    // Index of the entry's account in Accounts, by (Host, UserName); -1 when there is none.
    int AccountIndexOf(const TMailEntry &entry) const;

    // --- handlers ---
    void CheckBegin();
    void RunStart();
    void Progress(const TProgressReport &report);
    void RunEnd();
    // Automatic spam removal after a timed check in header mode; then follows when it is over.
    void AutoKill(std::function<void()> then = {});
    void TimedNotify();
    void CheckEnd();
    void CheckDone();
    void CancelAccount();
    // A deletion waits seconds before it tries again: a count-down while the window is visible.
    void DeleteWait(int seconds);
    // The idle loop's wake-up: starts a timed check unless another operation runs.
    void TimedCheckDue();
    // An idle connection saw new mail: a timed check starts at once, or as soon as the operation under way
    // has ended.
    void IdleNewMail();
    // The idle connections of the moment, one per watched IMAP account (for tests and the window's status).
    QList<const TImapIdleWatch *> IdleWatches() const;

    // The tooltip of the mail icon for n messages.
    static QString MailIconTooltip(int n);

    // --- the deletion log and the rescue copies ---
    TDeletionLog &DeletionLog() const { return *m_log; }
    // The log (and the rescue copies) of another data folder from now on, as after a change in the
    // options; the records of the old one stay where they are.
    void UseDeletionLogOf(const QString &dataFolder);
    // Where the copies the log's records name are kept.
    QString RescueCopyFolder() const;
    // What the start does and a timer repeats daily: records of ended processes resolved, old records and
    // copies removed.
    void Housekeeping();
Q_SIGNALS:
    // The program is ending: operations give up.
    void QuitRequestedSignal();
    // OperationRunning() changed (main thread); dialogs with server commands follow it.
    void OperationChanged(bool running);
    // A deletion run has completed its records in the deletion log.
    void DeletionLogged();

private:
    struct TRunResult;

    void PlaySoundIfSet();
    // Switches the worker on for timed checks (the first one a minute from now at the earliest).
    void StartTimedChecking();
    // A timed check; dueNow: whatever the interval says.
    void StartTimedCheck(bool dueNow);
    // Watches every active IMAP account that has no watch yet, or whose watch lost its connection; a
    // server that offers no IDLE is not asked again until the settings change.
    void StartIdleWatches();
    // Ends every idle connection at once; with wait, also waits for their threads.
    void StopIdleWatches(bool wait);
    // Reports a change of OperationRunning() and runs what waited for the operations to end.
    void OperationStateMayHaveChanged();
    // Posts a run to the worker: a copy of the accounts, and the result handed back to then.
    void PostRun(bool manual, bool countOnly, int accountIndex, std::function<void(TRunResult &)> then,
                 bool dueNow = false);
    // Takes a run's entries (freeing the previous ones) and its accounts' CheckFailed flags.
    void TakeRun(TRunResult &run);
    void FinishManualCheck(TRunResult &run, const std::function<void(int)> &done);
    void FinishTimedCheck(TRunResult &run);

    TRegistrySettings &m_settings;
    const TSpamDetector &m_detector;
    ICheckerUI &m_ui;
    TPop3Options m_options;
    std::unique_ptr<TPop3Thread> m_worker;
    std::vector<std::unique_ptr<TImapIdleWatch>> m_idleWatches;
    bool m_idleCheckPending = false; // new mail was seen while an operation ran
    QList<TMailEntry *> m_entries; // the last check's entries, owned
    std::shared_ptr<TDeletionLog> m_log; // shared with the deletion jobs
    QString m_logFolder;                 // the data folder of the log and its copies
    QTimer m_housekeeping;

    TServerOperationKind m_operation = TServerOperationKind::None;
    bool m_startTimedAfterOperation = false; // timed checking was switched on during the operation
    bool m_reloadAfterOperation = false;     // ReloadConfig was asked for during an operation
    bool m_reportedRunning = false;
    std::atomic<bool> m_quitRequested{false};
};
