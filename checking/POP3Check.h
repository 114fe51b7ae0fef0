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

class TPOP3Checker;
class TRegistrySettings;
class TSpamDetector;

// How the worker talks to the network and to the clock. The defaults are the product's; tests replace
// them to drive the worker with a scripted server, short time-outs and a clock of their own.
struct TPop3Options {
    LineSocketFactory SocketFactory;          // empty: plain TCP
    int TimeoutMs = Pop3Client::kDefaultTimeoutMs; // connect and read time-outs
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
    int32_t AccountStatus = 0;                // 0 begun, 1 finished well, 2 failed
    QString ProgressAccount;                  // "UserName@Host" of the account being checked
    QString LastErrorText;
    int32_t LastErrorCode = 0;
    int32_t TotalCount = 0;
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
    bool CountMessages(const TPOP3AccountSettings &account, int &count, bool &fatal, int &code,
                       QString &errorText);
    // Appends one entry per message read to target. An empty mailbox returns false without fatal. Gives up
    // on the account (false, fatal, and the entries of this call removed again) when a lost connection
    // cannot be made again, on cancel, or when the server keeps failing message after message.
    bool FetchHeaders(const TPOP3AccountSettings &account, QList<TMailEntry *> &target, bool &fatal, int &code,
                      QString &errorText);
    // Deletes message n after making sure it is still the message of expected (by its UIDL, else by size
    // and header block). False with an empty LastErrorText: the message is gone already. False with
    // kMailboxChangedText: another message now has that number, nothing was deleted.
    bool DeleteMessage(const TPOP3AccountSettings &account, int n, const TMailEntry &expected,
                       bool keepSession);
    // RETR n, parsed into entry.Message (which the caller has cleared). With expected, the message at n
    // must still be that one (as for a deletion); otherwise nothing is fetched and the error says why.
    bool FetchText(const TPOP3AccountSettings &account, int n, TMailEntry &entry, bool keepSession, bool &fatal,
                   int &code, QString &errorText, const TMailEntry *expected = nullptr);
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

Q_SIGNALS:
    // Emitted from the thread when a timed check has ended (WaitUntilIdle listens for it).
    void BecameIdle();

protected:
    void run() override;

private:
    enum class Identity { Same, Gone, Changed, Failed };

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
    Identity CheckIdentity(int n, const TMailEntry &expected);
    void ClearSession();
    void WaitMs(int ms);

    TPop3Options m_options;
    QList<TMailEntry *> m_entries;
    std::unique_ptr<Pop3Client> m_client;
    mutable QMutex m_clientMutex;                 // guards m_client against AbortSession from another thread
    std::atomic<QThread *> m_sessionThread{nullptr}; // the thread that created the client

    // The session's UIDL listing (message number -> unique id), read at most once per session.
    QMap<int, QByteArray> m_sessionUidl;
    bool m_sessionUidlLoaded = false;
    int m_sessionDeleted = 0; // DELE commands this session has sent successfully

    mutable QMutex m_stateMutex;
    QWaitCondition m_wake;
    bool m_paused = true;
    std::atomic<bool> m_terminate{false};
    bool m_inCheck = false;
    int m_wakeIntervalMs = 0;
    qint64 m_elapsedMs = 0;
};

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
    bool DeleteEntry(TMailEntry *entry, bool keepSession, QString &errorText);
    void EndDeleteSession();
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

    // True while a handler runs on behalf of the worker thread (which waits for it to return).
    bool InWorkerHandler() const { return m_workerHandlerDepth > 0; }

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

private:
    friend class TPop3Thread;
    void PlaySoundIfSet();
    // The worker's thread is inside a timed check and does not wait for us: its client is in use there.
    bool WorkerBusy() const;

    TRegistrySettings &m_settings;
    const TSpamDetector &m_detector;
    ICheckerUI &m_ui;
    TPop3Options m_options;
    std::unique_ptr<TPop3Thread> m_worker;
    int m_workerHandlerDepth = 0; // > 0 while a handler runs for the worker, which waits for it
};
