#include "SecretStore.h"

#include "WindowThread.h"

#include <qt6keychain/keychain.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <QTimer>
#include <QWaitCondition>

#include <algorithm>
#include <atomic>
#include <memory>

namespace {

enum class Op { Probe, Read, Write, Remove };

// Read by the probe: it need not exist, the answer alone tells that the keyring is there.
const QString kProbeKey = QStringLiteral("Quarvel keyring probe");

std::atomic<int> g_timeoutMs{kSecretTimeoutMs};

TSecretResult failed(TSecretStatus status, const QString &text)
{
    TSecretResult r;
    r.Status = status;
    r.ErrorText = text;
    return r;
}

TSecretResult unavailable(const QString &detail)
{
    return failed(TSecretStatus::Unavailable,
                  QStringLiteral("Der Schlüsselbund der Arbeitsumgebung ist nicht erreichbar: %1").arg(detail));
}

TSecretResult noAnswer()
{
    return unavailable(QStringLiteral("Er hat nicht innerhalb von %1 Sekunden geantwortet.")
                           .arg((g_timeoutMs.load() + 999) / 1000));
}

TSecretResult resultOf(Op op, QKeychain::Job *job)
{
    const QKeychain::Error error = job->error();
    if (error == QKeychain::NoError) {
        TSecretResult r;
        r.Status = TSecretStatus::Ok;
        if (op == Op::Read)
            r.Secret = static_cast<QKeychain::ReadPasswordJob *>(job)->textData();
        return r;
    }
    if (error == QKeychain::EntryNotFound) {
        // A probe only wants an answer; removing what is not there leaves the wished state.
        if (op == Op::Probe || op == Op::Remove)
            return TSecretResult{TSecretStatus::Ok, QString(), QString()};
        // A locked keyring whose unlocking was refused or could not be asked for looks the same.
        return failed(TSecretStatus::NotFound,
                      QStringLiteral("Der Schlüsselbund hat keinen Eintrag dafür, oder er ist gesperrt und wurde "
                                     "nicht entsperrt."));
    }
    if (error == QKeychain::AccessDenied || error == QKeychain::AccessDeniedByUser)
        return unavailable(QStringLiteral("Der Zugriff wurde verweigert, oder er ist gesperrt."));
    if (error == QKeychain::NoBackendAvailable)
        return unavailable(QStringLiteral("Es läuft kein Dienst dafür (Secret Service)."));
    QString why = job->errorString().trimmed();
    if (why.isEmpty())
        why = QStringLiteral("Unbekannter Fehler");
    if (!why.endsWith(QLatin1Char('.')))
        why += QLatin1Char('.');
    return unavailable(why);
}

// Carries the answer of an asynchronous call to its context: a queued connection, which Qt drops when the
// context is destroyed first, whichever thread that happens on.
class Answer : public QObject {
    Q_OBJECT
public:
    std::shared_ptr<TSecretResult> Result = std::make_shared<TSecretResult>();
Q_SIGNALS:
    void Ready();
};

// One call: answered exactly once, to a blocking caller that waits or to an asynchronous one.
struct Request {
    Op op = Op::Probe;
    QString key;
    QString secret;
    struct Wait {
        QMutex mutex;
        QWaitCondition answered;
        bool done = false;
        TSecretResult result;
    };
    std::shared_ptr<Wait> wait;
    Answer *answer = nullptr; // moved to the keyring thread with the call
};

void deliver(const Request &request, const TSecretResult &result)
{
    if (request.wait) {
        QMutexLocker lock(&request.wait->mutex);
        request.wait->result = result;
        request.wait->done = true;
        request.wait->answered.wakeAll();
    }
    if (request.answer) {
        *request.answer->Result = result;
        Q_EMIT request.answer->Ready();
        request.answer->deleteLater();
    }
}

// Lives on the keyring thread: starts QtKeychain's jobs there and answers each request once.
class KeyringWorker : public QObject {
public:
    void run(const Request &request)
    {
        // A job that did not answer in time still blocks QtKeychain's queue: whatever comes now would
        // only wait behind it.
        if (m_overdue > 0) {
            deliver(request, noAnswer());
            return;
        }
        const Op op = request.op;
        QKeychain::Job *job = nullptr;
        switch (op) {
        case Op::Probe:
        case Op::Read:
            job = new QKeychain::ReadPasswordJob(kSecretService);
            break;
        case Op::Write: {
            auto *write = new QKeychain::WritePasswordJob(kSecretService);
            write->setTextData(request.secret);
            job = write;
            break;
        }
        case Op::Remove:
            job = new QKeychain::DeletePasswordJob(kSecretService);
            break;
        }
        // Never the plain-text file QtKeychain could fall back to: without a keyring the settings keep
        // their enciphered value.
        job->setInsecureFallback(false);
        job->setAutoDelete(true);
        job->setKey(op == Op::Probe ? kProbeKey : request.key);

        auto answered = std::make_shared<bool>(false);
        auto overdue = std::make_shared<bool>(false);
        ++m_pending;
        QTimer::singleShot(g_timeoutMs.load(), this, [this, request, answered, overdue] {
            if (*answered)
                return;
            *answered = true;
            *overdue = true;
            ++m_overdue;
            deliver(request, noAnswer());
            requestDone();
        });
        connect(job, &QKeychain::Job::finished, this, [this, request, answered, overdue](QKeychain::Job *j) {
            if (*overdue) {
                --m_overdue;
                return;
            }
            if (*answered)
                return;
            *answered = true;
            deliver(request, resultOf(request.op, j));
            requestDone();
        });
        job->start();
    }

    void quitWhenIdle()
    {
        m_quitting = true;
        if (m_pending == 0)
            QThread::currentThread()->quit();
    }

private:
    void requestDone()
    {
        --m_pending;
        if (m_quitting && m_pending == 0)
            QThread::currentThread()->quit();
    }

    int m_pending = 0; // requests not yet answered
    int m_overdue = 0; // jobs answered by the time-out that have not finished
    bool m_quitting = false;
};

struct Keyring {
    QThread *thread = nullptr;
    KeyringWorker *worker = nullptr;
};

QMutex g_mutex;
Keyring *g_keyring = nullptr;

void shutDownKeyring()
{
    Keyring *k = nullptr;
    {
        QMutexLocker lock(&g_mutex);
        k = g_keyring;
        g_keyring = nullptr;
    }
    if (!k)
        return;
    QMetaObject::invokeMethod(k->worker, [w = k->worker] { w->quitWhenIdle(); }, Qt::QueuedConnection);
    // Every request is answered within the time-out, so the thread ends by then.
    if (k->thread->wait(g_timeoutMs.load() + 5000)) {
        delete k->thread;
        delete k;
    }
}

// Hands the request to the keyring thread, which starts on first use.
void submit(Request request)
{
    QMutexLocker lock(&g_mutex);
    if (!QCoreApplication::instance()) {
        deliver(request, unavailable(QStringLiteral("Das Programm hat kein Anwendungsobjekt.")));
        return;
    }
    if (!g_keyring) {
        g_keyring = new Keyring;
        g_keyring->thread = new QThread;
        g_keyring->thread->setObjectName(QStringLiteral("Keyring"));
        g_keyring->worker = new KeyringWorker;
        g_keyring->worker->moveToThread(g_keyring->thread);
        QObject::connect(g_keyring->thread, &QThread::finished, g_keyring->worker, &QObject::deleteLater);
        g_keyring->thread->start();
        qAddPostRoutine(shutDownKeyring);
    }
    if (request.answer)
        request.answer->moveToThread(g_keyring->thread);
    KeyringWorker *worker = g_keyring->worker;
    QMetaObject::invokeMethod(worker, [worker, request] { worker->run(request); }, Qt::QueuedConnection);
}

TSecretResult call(Op op, const QString &key, const QString &secret)
{
    // The window's thread takes the asynchronous forms: a keyring may take seconds to answer.
    if (platform::OnWindowThread())
        return TSecretResult{TSecretStatus::Unavailable, QString(), platform::WindowThreadWaitText()};
    Request request{op, key, secret, std::make_shared<Request::Wait>(), nullptr};
    const std::shared_ptr<Request::Wait> wait = request.wait;
    submit(std::move(request));
    QMutexLocker lock(&wait->mutex);
    // The keyring thread answers within the time-out; the margin is for a thread that is slow to run.
    const QDeadlineTimer deadline(g_timeoutMs.load() + 5000);
    while (!wait->done)
        if (!wait->answered.wait(&wait->mutex, deadline))
            return noAnswer();
    return wait->result;
}

void callAsync(Op op, const QString &key, const QString &secret, QObject *context, secrets::Continuation done)
{
    Request request{op, key, secret, nullptr, nullptr};
    if (context && done) {
        request.answer = new Answer;
        QObject::connect(request.answer, &Answer::Ready, context,
                         [result = request.answer->Result, done = std::move(done)] { done(*result); },
                         Qt::QueuedConnection);
    }
    submit(std::move(request));
}

} // namespace

namespace secrets {

TSecretResult Probe()
{
    return call(Op::Probe, QString(), QString());
}

TSecretResult Read(const QString &key)
{
    return call(Op::Read, key, QString());
}

TSecretResult Write(const QString &key, const QString &secret)
{
    return call(Op::Write, key, secret);
}

TSecretResult Remove(const QString &key)
{
    return call(Op::Remove, key, QString());
}

void ProbeAsync(QObject *context, Continuation done)
{
    callAsync(Op::Probe, QString(), QString(), context, std::move(done));
}

void ReadAsync(const QString &key, QObject *context, Continuation done)
{
    callAsync(Op::Read, key, QString(), context, std::move(done));
}

void WriteAsync(const QString &key, const QString &secret, QObject *context, Continuation done)
{
    callAsync(Op::Write, key, secret, context, std::move(done));
}

void RemoveAsync(const QString &key, QObject *context, Continuation done)
{
    callAsync(Op::Remove, key, QString(), context, std::move(done));
}

int TimeoutMs()
{
    return g_timeoutMs.load();
}

void SetTimeoutMs(int ms)
{
    g_timeoutMs.store(std::max(ms, 1));
}

} // namespace secrets

#include "SecretStore.moc"
