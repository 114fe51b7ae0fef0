// The one owner of "a server operation is running": the coordinator's side of ServerOperations.h.
#include "ServerOperations.h"

#include "CheckCoordinator.h"

TServerOperation::TServerOperation(TPOP3Checker &checker, TServerOperationKind kind)
    : m_checker(checker), m_started(checker.BeginOperation(kind))
{
}

TServerOperation::~TServerOperation()
{
    if (m_started)
        m_checker.EndOperation();
}

bool TPOP3Checker::OperationRunning() const
{
    return m_operation != TServerOperationKind::None;
}

bool TPOP3Checker::TimedCheckRunning() const
{
    return m_operation == TServerOperationKind::TimedCheck;
}

bool TPOP3Checker::BeginOperation(TServerOperationKind kind)
{
    if (kind == TServerOperationKind::None || m_operation != TServerOperationKind::None || m_quitRequested)
        return false;
    m_operation = kind;
    AccountCancelled = false;
    // No wake-up comes while an operation runs: the worker is the operation's.
    if (m_worker)
        m_worker->Pause();
    OperationStateMayHaveChanged();
    return true;
}

void TPOP3Checker::EndOperation()
{
    if (m_operation == TServerOperationKind::None)
        return;
    m_operation = TServerOperationKind::None;
    // New mail an idle connection saw meanwhile is checked for now, after the end has been reported.
    if (m_idleCheckPending && Enabled && !m_quitRequested)
        QMetaObject::invokeMethod(this, [this] {
            if (m_idleCheckPending)
                IdleNewMail();
        }, Qt::QueuedConnection);
    if (Enabled && !m_quitRequested) {
        if (m_startTimedAfterOperation) {
            StartTimedChecking();
        } else if (m_worker) {
            m_worker->SetCancel(false);
            m_worker->Resume();
        }
    }
    m_startTimedAfterOperation = false;
    OperationStateMayHaveChanged();
}

void TPOP3Checker::RunJob(TPop3Thread::JobWork work, std::function<void()> done)
{
    Q_ASSERT(m_operation != TServerOperationKind::None);
    EnsureWorker()->Post(std::move(work), std::move(done));
}

void TPOP3Checker::CancelOperation()
{
    if (m_operation == TServerOperationKind::None)
        return;
    AccountCancelled = true;
    if (m_worker)
        m_worker->AbortJob();
}

void TPOP3Checker::AbortForQuit()
{
    m_quitRequested = true;
    AccountCancelled = true;
    // The idle connections end at once; their threads are waited for when the coordinator goes.
    StopIdleWatches(false);
    if (m_worker) {
        m_worker->SetCancel(true);
        m_worker->AbortJob();
    }
    Q_EMIT QuitRequestedSignal();
    OperationStateMayHaveChanged();
}

void TPOP3Checker::OperationStateMayHaveChanged()
{
    const bool running = OperationRunning();
    if (!running && m_reloadAfterOperation && !m_quitRequested)
        ReloadConfig();
    if (running == m_reportedRunning)
        return;
    m_reportedRunning = running;
    if (OnOperationChanged)
        OnOperationChanged(this, running);
    Q_EMIT OperationChanged(running);
}

QString TPOP3Checker::BusyText()
{
    return QStringLiteral("Quarvel überprüft gerade Ihre Postfächer. Bitte versuchen Sie es gleich noch einmal.");
}
