#include "CheckCoordinator.h"

#include "ImapIdle.h"
#include "MailDeletion.h"
#include "MsgBox.h"
#include "Paths.h"
#include "RegistrySettingsUnit.h"
#include "RescueCopies.h"
#include "SpamDetectorUnit.h"
#include "UIDStore.h"

#include <algorithm>
#include <QSet>

namespace {

const QString kProductName = QStringLiteral("Quarvel");
constexpr int kHousekeepingMs = 24 * 3600 * 1000;

QString accountGoneText(const TMailEntry &entry)
{
    return QStringLiteral("Das E-Mail-Konto %1@%2 ist nicht mehr eingerichtet.").arg(entry.UserName, entry.Host);
}

} // namespace

// What a check run on the worker hands back.
struct TPOP3Checker::TRunResult {
    bool Ran = false;          // the run got past its interval test and read the accounts
    bool Succeeded = false;    // some account worked
    bool AllFailed = false;
    bool CountOnly = false;
    TPOP3Accounts Accounts;    // the run's copy, with its CheckFailed flags
    QList<TMailEntry *> Entries;

    ~TRunResult() { qDeleteAll(Entries); }
};

TPOP3Checker::TPOP3Checker(TRegistrySettings &settings, const TSpamDetector &detector, ICheckerUI &ui,
                           TPop3Options options, QObject *parent)
    : QObject(parent), m_settings(settings), m_detector(detector), m_ui(ui), m_options(std::move(options))
{
    UIDFile = m_settings.GetDataFolder() + QStringLiteral("uids.dat");
    UseDeletionLogOf(m_settings.GetDataFolder());
    ReloadConfig();
    m_housekeeping.setInterval(kHousekeepingMs);
    connect(&m_housekeeping, &QTimer::timeout, this, &TPOP3Checker::Housekeeping);
    m_housekeeping.start();
}

void TPOP3Checker::UseDeletionLogOf(const QString &dataFolder)
{
    const QString folder = platform::withTrailingSlash(dataFolder);
    if (m_log && m_logFolder == folder)
        return;
    m_logFolder = folder;
    m_log = std::make_shared<TDeletionLog>(folder + kDeletionLogFileName);
    Housekeeping();
}

QString TPOP3Checker::RescueCopyFolder() const
{
    return RescueFolder(m_logFolder);
}

void TPOP3Checker::Housekeeping()
{
    m_log->ResolveAbandoned();
    m_log->Prune();
    ExpireRescueCopies(RescueCopyFolder());
}

TPOP3Checker::~TPOP3Checker()
{
    // An idle connection may still post new mail here: they end first.
    StopIdleWatches(true);
    // The worker's job may still use its session: end it before the entries go.
    m_worker.reset();
    MailList.Clear();
    qDeleteAll(m_entries);
}

TPop3Thread *TPOP3Checker::EnsureWorker()
{
    if (!m_worker) {
        m_worker = std::make_unique<TPop3Thread>(this, m_options);
        m_worker->CheckInterval = POP3Check.EMailCheckTime;
        m_worker->CountOnly = !POP3Check.AutoKillSpam;
    }
    return m_worker.get();
}

void TPOP3Checker::SetActive(bool on)
{
    if (on == Enabled)
        return;
    if (m_worker && !m_worker->IsPaused()) {
        m_worker->SetCancel(true);
        // A timed check under way gives up at its next step and ends as usual, CheckEnd included.
        if (TimedCheckRunning())
            m_worker->AbortSession();
        else
            CheckEnd();
    }
    if (!on)
        StopIdleWatches(true);
    if (on == Enabled || (on && !POP3Check.EMailCheck))
        return;
    Enabled = on;
    if (Accounts.isEmpty()) {
        Enabled = false;
        CheckEnd();
        return;
    }
    if (!Enabled)
        return;
    if (m_operation != TServerOperationKind::None) {
        // The idle loop stays paused while an operation runs; its end switches it on.
        m_startTimedAfterOperation = true;
        return;
    }
    StartTimedChecking();
}

void TPOP3Checker::StartTimedChecking()
{
    TPop3Thread *worker = EnsureWorker();
    worker->SetCancel(false);
    worker->SetWakeInterval(m_options.WakeMs);
    worker->LastCheckTime = worker->NowSeconds() + 60;
    worker->CountOnly = !POP3Check.AutoKillSpam;
    worker->Resume();
    StartIdleWatches();
}

void TPOP3Checker::StartIdleWatches()
{
    if (!m_options.ImapIdle || !Enabled || m_quitRequested)
        return;
    std::vector<std::unique_ptr<TImapIdleWatch>> watches;
    for (const TPOP3AccountSettings &account : std::as_const(Accounts)) {
        if (!account.Active || account.AccountType != atIMAP)
            continue;
        // The same settings; what the last check found of it does not count.
        const auto it = std::find_if(m_idleWatches.begin(), m_idleWatches.end(), [&account](const auto &w) {
            if (!w)
                return false;
            TPOP3AccountSettings watched = w->Account();
            watched.CheckFailed = account.CheckFailed;
            return watched == account;
        });
        if (it != m_idleWatches.end()
            && ((*it)->Ended() == TImapIdleWatch::End::Running || (*it)->Ended() == TImapIdleWatch::End::NoIdle)) {
            watches.push_back(std::move(*it));
            continue;
        }
        TImapIdleOptions options;
        options.SocketFactory = m_options.SocketFactory;
        options.TimeoutMs = m_options.TimeoutMs;
        options.RenewMs = m_options.IdleRenewMs;
        // Posted only: the watch's thread never waits for this one. The watches end before this object.
        auto watch = std::make_unique<TImapIdleWatch>(account, options, [this] {
            QMetaObject::invokeMethod(this, [this] { IdleNewMail(); }, Qt::QueuedConnection);
        });
        watch->start(QThread::LowPriority);
        watches.push_back(std::move(watch));
    }
    // What is left over watched accounts no longer set up, or lost its connection.
    for (const auto &old : m_idleWatches)
        if (old)
            old->Stop();
    m_idleWatches = std::move(watches);
}

void TPOP3Checker::StopIdleWatches(bool wait)
{
    for (const auto &watch : m_idleWatches)
        watch->Stop();
    if (wait)
        m_idleWatches.clear();
}

QList<const TImapIdleWatch *> TPOP3Checker::IdleWatches() const
{
    QList<const TImapIdleWatch *> out;
    for (const auto &watch : m_idleWatches)
        out.append(watch.get());
    return out;
}

void TPOP3Checker::IdleNewMail()
{
    if (!Enabled || m_quitRequested)
        return;
    if (OperationRunning()) {
        m_idleCheckPending = true;
        return;
    }
    StartTimedCheck(true);
}

void TPOP3Checker::ReloadConfig()
{
    if (OperationRunning()) {
        // The operation under way still walks the accounts it started with.
        m_reloadAfterOperation = true;
        return;
    }
    m_reloadAfterOperation = false;
    const bool wasEnabled = Enabled;
    SetActive(false);
    // Watches follow the accounts as they are now.
    StopIdleWatches(true);
    m_settings.LoadPOP3Settings(POP3Check, Accounts);
    if (m_worker) {
        m_worker->CheckInterval = POP3Check.EMailCheckTime;
        m_worker->CountOnly = !POP3Check.AutoKillSpam;
    }
    SetActive(wasEnabled);
}

void TPOP3Checker::LoadKnownUIDs()
{
    KnownUIDs = ReadUIDFile(UIDFile);
}

void TPOP3Checker::SaveKnownUIDs()
{
    WriteUIDFile(UIDFile, KnownUIDs);
}

// --- runs ---

void TPOP3Checker::PostRun(bool manual, bool countOnly, int accountIndex, std::function<void(TRunResult &)> then,
                           bool dueNow)
{
    auto run = std::make_shared<TRunResult>();
    run->Accounts = Accounts;
    run->CountOnly = countOnly;
    RunJob(
        [run, manual, countOnly, accountIndex, dueNow](TPop3Thread &worker) {
            worker.CheckSucceeded = false;
            if (worker.Cancel)
                return;
            bool allFailed = false;
            run->Succeeded = worker.RunCheck(manual, countOnly, accountIndex, run->Accounts, allFailed, dueNow);
            // A run that did not get past its interval test leaves the last check's list alone.
            run->Ran = worker.RunStarted;
            run->AllFailed = allFailed;
            worker.CheckSucceeded = run->Succeeded;
            run->Entries = worker.TakeEntries();
        },
        [run, then = std::move(then)] { then(*run); });
}

void TPOP3Checker::TakeRun(TRunResult &run)
{
    if (!run.Ran)
        return;
    // The run checked a copy of the accounts; the list cannot have changed meanwhile (a reload waits).
    if (run.Accounts.size() == Accounts.size())
        for (qsizetype i = 0; i < Accounts.size(); ++i)
            Accounts[i].CheckFailed = run.Accounts.at(i).CheckFailed;
    // The window emptied its list when the run started (OnRunStart), so nothing shows these any more.
    MailList.Clear();
    qDeleteAll(m_entries);
    m_entries = std::exchange(run.Entries, {});
}

bool TPOP3Checker::CheckNow(int accountIndex, std::function<void(int shown)> done)
{
    AccountCancelled = false;
    if (Accounts.isEmpty()) {
        m_ui.BringToForeground();
        ErrorBox(QStringLiteral("%1 kann die Posteingangsüberprüfung nicht starten, da kein E-Mail-Konto "
                                "eingerichtet wurde!\r\rÖffnen Sie den Dialog \"POP3-Postfächer\" und erstellen "
                                "Sie mindestens ein E-Mail-Konto.")
                     .arg(kProductName));
        return false;
    }
    // Its commands are disabled meanwhile; a request that slips through (a queued click) is dropped.
    if (!BeginOperation(TServerOperationKind::ManualCheck))
        return false;
    TPop3Thread *worker = EnsureWorker();

    if (m_ui.ProgressWindowOpen())
        m_ui.CloseProgressWindow();
    m_ui.OpenProgressWindow([this] { CancelAccount(); });
    m_ui.SetBusyCursor(true);
    m_ui.HideTaskbarButtonIfHidden();
    m_ui.HideMailIcon();

    CheckBegin();
    worker->SetCancel(false);
    worker->ReportProgress = true;
    PostRun(true, false, accountIndex, [this, done = std::move(done)](TRunResult &run) {
        FinishManualCheck(run, done);
    });
    return true;
}

void TPOP3Checker::FinishManualCheck(TRunResult &run, const std::function<void(int)> &done)
{
    m_worker->ReportProgress = false;
    TakeRun(run);
    if (m_ui.ProgressHasFailures())
        m_ui.ProgressFinishedWithErrors();
    else
        m_ui.CloseProgressWindow();
    m_ui.SetBusyCursor(false);

    int shown = 0;
    // Mailboxes that failed only over a certificate the user is asked about next need no box of their own.
    const auto failedOverCertificate = [this](int i) {
        return std::any_of(m_worker->RefusedCertificates.cbegin(), m_worker->RefusedCertificates.cend(),
                           [i](const TRefusedCertificate &r) { return r.AccountIndex == i; });
    };
    bool onlyCertificates = !m_worker->RefusedCertificates.isEmpty();
    for (int i = 0; i < Accounts.size() && onlyCertificates; ++i)
        onlyCertificates = !Accounts.at(i).CheckFailed || failedOverCertificate(i);
    if (run.AllFailed && !onlyCertificates) {
        m_ui.BringToForeground();
        ErrorBox(QStringLiteral("%1 konnte auf Ihre E-Mail-Server nicht zugreifen.\rSind Sie überhaupt online?\r"
                                "Greift gerade ein anderes Programm darauf zu?")
                     .arg(kProductName));
    } else if (!run.AllFailed && !m_quitRequested) {
        NewMailDetect();
        if (m_entries.isEmpty() && !m_worker->AnyCancelled) {
            m_ui.HideMailIcon();
            m_ui.BringToForeground();
            InfoBox(QStringLiteral("Auf Ihren E-Mail-Server(n) befinden sich keine Nachrichten!"));
        } else {
            shown = BuildMailList();
        }
    }
    // Still inside the check: its commands stay disabled while the user decides.
    TrustedInLastCheck = OfferCertificateTrust();
    CheckEnd();
    CheckDone();
    if (m_ui.ProgressWindowOpen())
        m_ui.BringProgressToFront();
    // The end of the operation lets the worker go on when timed checking is on.
    EndOperation();
    if (done)
        done(shown);
}

void TPOP3Checker::TimedCheckDue()
{
    StartTimedCheck(false);
}

void TPOP3Checker::StartTimedCheck(bool dueNow)
{
    if (!Enabled || m_quitRequested || !BeginOperation(TServerOperationKind::TimedCheck))
        return;
    m_idleCheckPending = false;
    CheckBegin();
    PostRun(false, EnsureWorker()->CountOnly, -1, [this](TRunResult &run) { FinishTimedCheck(run); }, dueNow);
}

void TPOP3Checker::FinishTimedCheck(TRunResult &run)
{
    TakeRun(run);
    const bool succeeded = run.Succeeded;
    auto finish = [this, succeeded] {
        if (succeeded && !m_worker->Cancel)
            TimedNotify();
        CheckEnd();
        CheckDone();
        EndOperation();
        // A watch that lost its connection tries again after each timed check.
        StartIdleWatches();
    };
    if (succeeded && !m_worker->Cancel && !run.CountOnly)
        AutoKill(std::move(finish));
    else
        finish();
}

int TPOP3Checker::OfferCertificateTrust()
{
    if (!m_worker)
        return 0;
    int trusted = 0;
    const QList<TRefusedCertificate> refused = m_worker->RefusedCertificates;
    m_worker->RefusedCertificates.clear();
    for (const TRefusedCertificate &r : refused) {
        if (r.AccountIndex < 0 || r.AccountIndex >= Accounts.size())
            continue;
        const TPOP3AccountSettings account = Accounts.at(r.AccountIndex);
        if (!m_ui.TrustCertificate(account.AccountName + QLatin1Char('@') + account.ServerName, r.Problem))
            continue;
        if (!StoreTrustedCertificate(account, false, r.Problem.Certificate)) {
            m_ui.BringToForeground();
            ErrorBox(CertificateNotStoredText(account));
        } else {
            ++trusted;
        }
    }
    return trusted;
}

bool TPOP3Checker::StoreTrustedCertificate(const TPOP3AccountSettings &account, bool outgoing,
                                           const QSslCertificate &certificate)
{
    if (!m_settings.StoreTrustedCertificate(account.ServerName, account.AccountName, outgoing,
                                            certificateFingerprint(certificate)))
        return false;
    ReloadConfig();
    return true;
}

QString TPOP3Checker::CertificateNotStoredText(const TPOP3AccountSettings &account)
{
    return QStringLiteral("Das Zertifikat konnte nicht als vertrauenswürdig gespeichert werden: Das E-Mail-Konto "
                          "%1@%2 ist nicht mehr eingerichtet, oder die Einstellungen können nicht geschrieben werden.")
        .arg(account.AccountName, account.ServerName);
}

int TPOP3Checker::BuildMailList()
{
    MailList.Clear();
    for (TMailEntry *e : std::as_const(m_entries)) {
        MailList.Add(e);
        e->Checked = false;
        e->State = msNormal;
        e->Row = -1;
        // A message whose header nobody saw is judged by no rule: only the user may delete it.
        if (!e->HeaderUnreadable && m_detector.IsSpam(*e)) {
            e->Checked = true;
            e->State = msSpam;
        }
    }
    m_ui.SetMessageCount(int(m_entries.size()));
    m_ui.RefillMessageList(MailList);
    return int(m_entries.size());
}

QString TPOP3Checker::UIDOf(TMailEntry &entry)
{
    if (entry.Message.UID.isEmpty())
        entry.Message.UID = entry.Message.MsgId.isEmpty()
            ? QString::number(entry.Size) + entry.Message.HeaderText()
            : entry.Message.MsgId;
    return entry.Message.UID;
}

int TPOP3Checker::NewMailDetect()
{
    QSet<QString> known;
    known.reserve(KnownUIDs.size() + m_entries.size());
    for (const QString &id : std::as_const(KnownUIDs))
        known.insert(id.toCaseFolded());

    QList<TMailEntry *> fresh;
    QSet<QString> carried; // the identifiers of the entries, case folded
    for (TMailEntry *e : std::as_const(m_entries)) {
        const QString folded = UIDOf(*e).toCaseFolded();
        carried.insert(folded);
        if (!known.contains(folded)) {
            known.insert(folded);
            KnownUIDs.append(e->Message.UID);
            fresh.append(e);
        }
    }
    // Forget what the servers no longer hold. Letter case is ignored here as in the test above, so that
    // a message found known is not dropped from the list and announced again by the next check. Only a run
    // that listed the messages of every account can tell: one that missed an account (failed, cancelled,
    // stopped) or only counted them would make known messages come back as new.
    if (!m_worker || (m_worker->RunComplete && !m_worker->RunCountOnly))
        KnownUIDs.removeIf([&carried](const QString &id) { return !carried.contains(id.toCaseFolded()); });

    if (!fresh.isEmpty() && OnNewMails)
        OnNewMails(this, fresh);

    if (!POP3Check.AutoKillSpam)
        return m_worker ? m_worker->TotalCount : 0;
    if (!POP3Check.ShowOnlyNewMsgs)
        return int(m_entries.size());
    return int(fresh.size());
}

bool TPOP3Checker::TestAccount(const TPOP3AccountSettings &account, TestDone done)
{
    if (!BeginOperation(TServerOperationKind::AccountTest))
        return false;
    struct Outcome {
        bool Ok = false;
        int Code = 0;
        QString Error;
        CertificateProblem Refused;
    };
    auto outcome = std::make_shared<Outcome>();
    RunJob(
        [account, outcome](TPop3Thread &worker) {
            outcome->Ok = worker.TestAccount(account, outcome->Code, outcome->Error);
            // The socket keeps what it refused after the session is closed.
            if (!outcome->Ok)
                outcome->Refused = worker.Session(account).RefusedCertificate();
        },
        [this, outcome, done = std::move(done)] {
            EndOperation();
            if (done)
                done(outcome->Ok, outcome->Code, outcome->Error, outcome->Refused);
        });
    return true;
}

int TPOP3Checker::AccountIndexOf(const TMailEntry &entry) const
{
    for (int i = 0; i < Accounts.size(); ++i)
        if (Accounts.at(i).ServerName == entry.Host && Accounts.at(i).AccountName == entry.UserName)
            return i;
    return -1;
}

void TPOP3Checker::DeleteEntries(const QList<TMailEntry *> &rows, const QList<TMailEntry *> &marked,
                                 TDeletionHow how, std::shared_ptr<IDeletionObserver> observer,
                                 std::function<void(const TDeletionResult &)> done)
{
    auto plan = std::make_shared<TDeletionPlan>(PlanDeletion(rows, marked, [this](const TMailEntry &e) {
        const int index = AccountIndexOf(e);
        return index < 0 ? nullptr : &Accounts.at(index);
    }));
    // What caught each message is known here, where the rules are judged.
    for (qsizetype i = 0; i < plan->Order.size(); ++i) {
        const TMailEntry &e = *plan->Order.at(i);
        if (!e.DeleteMark)
            continue;
        const bool byRule = how != TDeletionHow::ByHand || e.State == msSpam;
        plan->Records[i] = DeletionRecordOf(e, how, byRule ? m_detector.SpamRule(e) : nullptr);
    }
    plan->Log = m_log;
    plan->Rescue = RescuePolicyFor(m_settings.Settings, m_logFolder);
    RunJob([plan, observer](TPop3Thread &worker) { RunDeletionPlan(worker, *plan, observer); },
           [this, plan, done = std::move(done)] {
               const TDeletionResult result = ApplyDeletionPlan(*plan);
               Q_EMIT DeletionLogged();
               if (done)
                   done(result);
               for (TMailEntry *e : result.DeletedEntries)
                   RemoveEntry(e);
           });
}

void TPOP3Checker::RemoveEntry(TMailEntry *&entry)
{
    if (!entry)
        return;
    const int i = MailList.IndexOf(entry);
    if (i >= 0)
        MailList.Delete(i);
    // Only one of the entries is ours to free; anything else was freed already or belongs to someone else.
    if (m_entries.removeOne(entry))
        delete entry;
    entry = nullptr;
}

void TPOP3Checker::FetchEntryText(TMailEntry *entry, std::function<void(bool ok, const QString &errorText)> done)
{
    const auto finish = [&done](bool ok, const QString &error) {
        if (done)
            done(ok, error);
    };
    if (!entry || !m_entries.contains(entry))
        return finish(false, QString());
    if (entry->Message.HasText())
        return finish(true, QString());
    const int index = AccountIndexOf(*entry);
    if (index < 0)
        return finish(false, accountGoneText(*entry));
    struct Fetch {
        TPOP3AccountSettings Account;
        TMailEntry Copy; // what the check saw; the text replaces its message
        bool Ok = false;
        QString Error;
    };
    auto fetch = std::make_shared<Fetch>();
    fetch->Account = Accounts.at(index);
    fetch->Copy = *entry;
    RunJob(
        [fetch](TPop3Thread &worker) {
            bool fatal = false;
            int code = 0;
            fetch->Ok = worker.FetchText(fetch->Account, fetch->Copy, false, fatal, code, fetch->Error);
        },
        [this, entry, fetch, done = std::move(done)] {
            // The entry keeps its header block until a text replaces it: a failed fetch loses nothing.
            if (fetch->Ok && m_entries.contains(entry))
                entry->Message = std::move(fetch->Copy.Message);
            if (done)
                done(fetch->Ok, fetch->Error);
        });
}

void TPOP3Checker::DeleteCheckedAutomatic(std::function<void()> then)
{
    m_ui.HideMailIcon();
    QList<TMailEntry *> rows;
    QList<TMailEntry *> marked;
    for (TMailEntry *e : MailList) {
        rows.append(e);
        if (e->Checked)
            marked.append(e);
    }
    if (marked.isEmpty()) {
        if (then)
            then();
        return;
    }
    DeleteEntries(rows, marked, TDeletionHow::Automatic, nullptr, [this, then = std::move(then)](const TDeletionResult &) {
        // Refilled once the deleted entries are gone, which follows this handler at once.
        QMetaObject::invokeMethod(
            this,
            [this, then] {
                m_ui.RefillMessageList(MailList);
                m_ui.SetMessageCount(MailList.Count());
                if (then)
                    then();
            },
            Qt::QueuedConnection);
    });
}

QString TPOP3Checker::MailIconTooltip(int n)
{
    return QStringLiteral("%1 Nachricht(en) befinden sich auf Ihren E-Mail-Server(n).").arg(n);
}

void TPOP3Checker::PlaySoundIfSet()
{
    if (!POP3Check.EMailSoundFile.isEmpty())
        m_ui.PlaySound(POP3Check.EMailSoundFile);
}

// --- handlers ---

void TPOP3Checker::CheckBegin()
{
    m_ui.SetCheckCommandsEnabled(false);
    OperationStateMayHaveChanged();
}

void TPOP3Checker::RunStart()
{
    if (OnRunStart)
        OnRunStart(this);
}

void TPOP3Checker::Progress(const TProgressReport &report)
{
    m_ui.ProgressLine(report.Account, report.Status, report.Code, report.ErrorText);
}

void TPOP3Checker::RunEnd()
{
    if (OnRunEnd)
        OnRunEnd(this);
}

void TPOP3Checker::AutoKill(std::function<void()> then)
{
    const auto finish = [&then] {
        if (then)
            then();
    };
    if (m_entries.isEmpty() || BuildMailList() == 0)
        return finish();
    const int total = int(m_entries.size());
    const int spam = MailList.CountByState(msSpam);
    if (total > 0 && spam > 0) {
        if (POP3Check.ShowUserInfoBeforeKillSpam) {
            m_ui.CloseNewMailNotice();
            m_ui.HideMailIcon();
            m_ui.CloseSpamNotice();
            m_ui.OpenSpamNotice(total, spam);
            PlaySoundIfSet();
            m_ui.HideTaskbarButtonIfHidden();
            return finish();
        }
        const bool iconShown = m_ui.MailIconShown();
        m_ui.HideMailIcon();
        DeleteCheckedAutomatic([this, iconShown, then = std::move(then)] {
            if (iconShown && MailList.Count() > 0) {
                const int n = NewMailDetect();
                m_ui.SetMailIconTooltip(MailIconTooltip(n));
                if (n > 0) {
                    m_ui.ShowMailIcon(false);
                    PlaySoundIfSet();
                }
            }
            if (then)
                then();
        });
        return;
    }
    const int n = NewMailDetect();
    if (n <= 0) {
        m_ui.HideMailIcon();
    } else {
        m_ui.ShowMailIcon(true);
        m_ui.SetMailIconTooltip(MailIconTooltip(n));
    }
    if (POP3Check.NewMailMsg && !m_ui.SpamNoticeOpen()) {
        m_ui.CloseNewMailNotice();
        if (!m_ui.MainWindowVisible() && n > 0)
            m_ui.OpenNewMailNotice(n, false);
    }
    if (n > 0)
        PlaySoundIfSet();
    finish();
}

void TPOP3Checker::TimedNotify()
{
    const int n = NewMailDetect();
    if (POP3Check.AutoKillSpam)
        return;
    const int total = m_worker ? m_worker->TotalCount : 0;
    if (total <= 0 || n <= 0) {
        if (total == 0) {
            m_ui.ClearMessageList();
            MailList.Clear();
        }
        m_ui.HideMailIcon();
        return;
    }
    m_ui.ShowMailIcon(true);
    m_ui.SetMailIconTooltip(MailIconTooltip(n));
    if (POP3Check.NewMailMsg && !m_ui.SpamNoticeOpen()) {
        m_ui.CloseNewMailNotice();
        // A count-only check fetched no headers: "Anzeigen..." has to check first.
        if (!m_ui.MainWindowVisible())
            m_ui.OpenNewMailNotice(n, true);
    }
    PlaySoundIfSet();
}

void TPOP3Checker::CheckEnd()
{
    if (m_worker && m_worker->TotalCount > 0 && m_worker->TotalCount != MailList.Count())
        BuildMailList();
    m_ui.SetCheckCommandsEnabled(true);
}

void TPOP3Checker::CheckDone()
{
    if (OnCheckDone)
        OnCheckDone(this, m_worker && m_worker->CheckSucceeded);
}

void TPOP3Checker::CancelAccount()
{
    AccountCancelled = true;
    if (m_worker)
        m_worker->AbortSession();
}

void TPOP3Checker::DeleteWait(int seconds)
{
    if (m_ui.MainWindowVisible())
        m_ui.ShowDeleteCountdown(seconds);
}
