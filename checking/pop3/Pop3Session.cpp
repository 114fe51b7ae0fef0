#include "Pop3Session.h"

#include "CheckCoordinator.h"
#include "KeyringPasswords.h"
#include "OAuthTokens.h"
#include "Pop3Worker.h"
#include "TextCodec.h"

#include <QScopeGuard>

#include <algorithm>
#include <climits>

namespace {

// A scan gives up on an account when this many messages in a row cannot be read: the server's count is
// then not to be trusted, and it must not keep the scan going.
constexpr int kMaxFailuresInRow = 20;

Pop3Client::Security pop3Security(const TPOP3AccountSettings &account)
{
    switch (account.POP3Security) {
    case csStartTLS:
        return Pop3Client::Security::StartTls;
    case csSSLTLS:
        return Pop3Client::Security::Tls;
    case csNone:
        return Pop3Client::Security::None;
    default:
        return Pop3Client::Security::Unknown;
    }
}

} // namespace

// --- client and session ---

TPop3Session::TPop3Session(TPop3Thread &worker) : m_worker(worker) {}

TPop3Session::~TPop3Session()
{
    FreeClient();
}

bool TPop3Session::AccountCancelled() const
{
    return m_worker.Checker && m_worker.Checker->AccountCancelled;
}

CertificateProblem TPop3Session::RefusedCertificate() const
{
    return m_client && m_client->certificateProblem().CanBeTrusted() ? m_client->certificateProblem()
                                                                      : CertificateProblem();
}

void TPop3Session::EnsureClient()
{
    m_sessionThread = QThread::currentThread();
    if (m_client)
        return;
    auto client = std::make_unique<Pop3Client>(m_worker.Options().SocketFactory);
    client->setConnectTimeout(m_worker.Options().TimeoutMs);
    client->setReadTimeout(m_worker.Options().TimeoutMs);
    client->setReplyDeadline(m_worker.Options().ReplyDeadlineMs);
    client->setPipelining(m_worker.Options().Pipelining);
    QMutexLocker lock(&m_clientMutex);
    m_client = std::move(client);
}

void TPop3Session::ClearSession()
{
    m_sessionUidl.clear();
    m_sessionUidlCount.clear();
    m_sessionUidlLoaded = false;
    m_sessionUidlRefused = false;
    m_sessionSizes.clear();
    m_sessionSizesLoaded = false;
    m_sessionDeleted.clear();
}

void TPop3Session::Abort()
{
    QMutexLocker lock(&m_clientMutex);
    if (m_client)
        m_client->abort();
}

void TPop3Session::Disconnect()
{
    if (QThread::currentThread() != m_sessionThread.load()) {
        // The session belongs to another thread: only make its waiting command fail.
        Abort();
        return;
    }
    const bool quitSent = m_client && m_client->isConnected();
    const bool committed = m_client && m_client->disconnect(true);
    // The server carries out the DELE commands of a session only on a QUIT it confirms; one that went out
    // unanswered may still have reached it.
    if (!m_sessionDeleted.isEmpty() && !committed) {
        m_deletionsLost = true;
        m_deletionsUnconfirmed = m_deletionsUnconfirmed || quitSent;
    }
    ClearSession();
}

void TPop3Session::ForceClose()
{
    if (QThread::currentThread() != m_sessionThread.load()) {
        Abort();
        return;
    }
    if (m_client)
        m_client->forceClose();
    if (!m_sessionDeleted.isEmpty())
        m_deletionsLost = true;
    ClearSession();
}

void TPop3Session::FreeClient()
{
    if (QThread::currentThread() != m_sessionThread.load() && m_worker.InJob()) {
        // The thread is using the client: it frees it itself at the end of its job.
        Abort();
        return;
    }
    Disconnect();
    std::unique_ptr<Pop3Client> client;
    {
        QMutexLocker lock(&m_clientMutex);
        client = std::move(m_client);
    }
    ClearSession();
}

void TPop3Session::LoadAccountIntoClient(const TPOP3AccountSettings &account)
{
    m_client->setHost(account.ServerName);
    m_client->setUserName(account.AccountName);
    m_client->setPassword(account.Password);
    m_client->setPort(quint16(account.Port & 0xFFFF));
    m_client->setAuthKind(account.UseAPOP ? Pop3Client::AuthKind::Apop : Pop3Client::AuthKind::UserPass);
    m_client->setSecurity(pop3Security(account));
    m_client->setTrustedCertificate(account.POP3CertSHA256);
    m_client->setConnectTimeout(m_worker.SessionTimeoutMs());
    m_client->setReadTimeout(m_worker.SessionTimeoutMs());
    m_client->setReplyDeadline(m_worker.Options().ReplyDeadlineMs);
}

void TPop3Session::CapConnectTimeout()
{
    const qint64 left = m_client->deadline().remainingTime();
    const int timeout = m_worker.SessionTimeoutMs();
    m_client->setConnectTimeout(left < 0 ? timeout : int(std::min<qint64>(timeout, left)));
}

void TPop3Session::CountTimeout(TScanBudget &budget) const
{
    if (m_client && m_client->lastError() == Pop3Client::Error::TimedOut)
        ++budget.Timeouts;
}

void TPop3Session::ApplyBudget(TScanBudget &budget, int count) const
{
    m_worker.ExtendBudget(budget, count);
    if (m_client)
        m_client->setDeadline(m_worker.BudgetDeadline(budget));
}

void TPop3Session::TakeClientError(bool &fatal, int &code, QString &errorText) const
{
    fatal = true;
    code = m_client ? m_client->lastReplyCode() : 0;
    errorText = OrNoConnection(m_client ? m_client->lastErrorText() : QString());
    // What the user can do about it comes first; the server's or the network's own words follow.
    if (m_client)
        errorText = ExplainedFailureText(m_client->failureKind(), errorText);
}

bool TPop3Session::Connect(const TPOP3AccountSettings &account, bool &fatal, int &code, QString &errorText)
{
    fatal = false;
    code = 0;
    errorText.clear();
    EnsureClient();
    Pop3Client &client = *m_client;
    TLoginSecret login;
    // A token renewal under way ends with the job.
    if (!ResolveLogin(account, TPasswordKind::Incoming, &login, &errorText, &code,
                      [this] { return m_worker.ShuttingDown(); })) {
        fatal = !m_worker.ShuttingDown();
        if (!fatal) {
            code = 0;
            errorText.clear();
        }
        return false;
    }
    const QString &password = login.Secret;
    if (client.isConnected() && client.host() == account.ServerName && client.userName() == account.AccountName
        && client.password() == password && client.security() == pop3Security(account)) {
        if (client.noop())
            return true;
    }
    if (m_worker.ShuttingDown())
        return false;
    ForceClose();
    LoadAccountIntoClient(account);
    client.setPassword(password);
    if (login.OAuth)
        client.setAuthKind(Pop3Client::AuthKind::Bearer);
    CapConnectTimeout();
    bool ok = client.connect();
    if (!ok && client.failureKind() == TFailureKind::LoginRefused)
        LoginRefused(account, login);
    if (!ok && account.UseAPOP && client.apopFallbackAllowed()) {
        // Servers without an APOP timestamp, or that refuse APOP, still take USER/PASS inside TLS.
        ForceClose();
        client.setAuthKind(Pop3Client::AuthKind::UserPass);
        CapConnectTimeout();
        ok = client.connect();
    }
    if (!ok) {
        TakeClientError(fatal, code, errorText);
        return false;
    }
    return true;
}

bool TPop3Session::EnsureSessionCount()
{
    int count = 0;
    return m_client->sessionMessageCount() >= 0 || m_client->stat(&count);
}

bool TPop3Session::LoadSessionUidl()
{
    if (m_sessionUidlLoaded)
        return true;
    if (!m_client || !m_client->hasCapability("UIDL") || m_sessionUidlRefused)
        return false;
    // The listing may be as long as the session's message count, so that count comes first.
    QMap<int, QByteArray> listing;
    if (!EnsureSessionCount() || !m_client->uidl(&listing)) {
        // A server that refused it once in this session is not asked again.
        m_sessionUidlRefused = m_client->lastError() == Pop3Client::Error::ServerError;
        return false;
    }
    m_sessionUidl = std::move(listing);
    m_sessionUidlCount.clear();
    for (const QByteArray &uid : std::as_const(m_sessionUidl))
        ++m_sessionUidlCount[uid];
    m_sessionUidlLoaded = true;
    return true;
}

bool TPop3Session::LoadSessionSizes()
{
    if (m_sessionSizesLoaded)
        return true;
    QMap<int, qint64> listing;
    if (!m_client || !EnsureSessionCount() || !m_client->list(&listing))
        return false;
    m_sessionSizes = std::move(listing);
    m_sessionSizesLoaded = true;
    return true;
}

bool TPop3Session::CountMessages(const TPOP3AccountSettings &account, int &count, bool &fatal, int &code,
                                QString &errorText, TScanBudget *budget)
{
    count = 0;
    TScanBudget own = m_worker.NewScanBudget();
    TScanBudget &spend = budget ? *budget : own;
    EnsureClient();
    // Every wait, connecting included, ends with the budget's deadline.
    m_client->setDeadline(m_worker.BudgetDeadline(spend));
    const auto noDeadline = qScopeGuard([this] {
        if (m_client)
            m_client->setDeadline(QDeadlineTimer(QDeadlineTimer::Forever));
    });
    if (!Connect(account, fatal, code, errorText)) {
        CountTimeout(spend);
        return false;
    }
    if (!m_client->stat(&count)) {
        CountTimeout(spend);
        TakeClientError(fatal, code, errorText);
        count = 0;
        return false;
    }
    return true;
}

TMailEntry *TPop3Session::NewEntry(int n, const QByteArray &header, qint64 size) const
{
    auto *entry = new TMailEntry;
    // A header block that cannot be parsed still names a message the user must be able to delete.
    entry->Message.FillFromHeader(header);
    entry->ScanDigest = TPop3Thread::HeaderDigest(header);
    entry->Size = ClampToInt32(size);
    entry->Host = m_client->host();
    entry->UserName = m_client->userName();
    entry->MsgNumber = n;
    entry->Checked = false;
    entry->State = msNormal;
    entry->DeleteMark = false;
    // An id that several messages share proves nothing about any of them.
    const QByteArray uid = m_sessionUidlLoaded ? m_sessionUidl.value(n) : QByteArray();
    if (!uid.isEmpty() && m_sessionUidlCount.value(uid) == 1)
        entry->ServerUIDL = QString::fromLatin1(uid);
    return entry;
}

bool TPop3Session::FetchHeaders(const TPOP3AccountSettings &account, QList<TMailEntry *> &target, bool &fatal,
                               int &code, QString &errorText, TScanBudget *budget)
{
    TScanBudget own = m_worker.NewScanBudget();
    TScanBudget &spend = budget ? *budget : own;
    int count = 0;
    if (!CountMessages(account, count, fatal, code, errorText, &spend) || count < 1) {
        Disconnect();
        return false;
    }
    // Every later wait of the scan, reconnecting included, ends with its deadline.
    ApplyBudget(spend, count);
    const auto restore = qScopeGuard([this] {
        if (m_client) {
            m_client->setDeadline(QDeadlineTimer(QDeadlineTimer::Forever));
            m_client->setPipelining(m_worker.Options().Pipelining);
        }
    });

    const qsizetype firstOwn = target.size();
    // Gives up on the account: what this call added goes again, so that a retry does not list a message
    // twice.
    const auto giveUp = [&](const QString &text, int replyCode) {
        for (qsizetype i = firstOwn; i < target.size(); ++i)
            delete target.at(i);
        target.resize(firstOwn);
        Disconnect();
        fatal = true;
        code = replyCode;
        errorText = text;
        return false;
    };
    // The user gave the account up: what was read of it stays.
    const auto cancelled = [&] {
        Disconnect();
        fatal = false;
        code = 0;
        errorText = kAccountCancelledText;
        return false;
    };
    const auto accountCancelled = [this] { return AccountCancelled(); };
    // The listings are a help, not a must: one that the server refuses or that breaks the session is
    // not asked for again; the sizes then come from LIST n, and the ids are left out.
    bool useSizes = true;
    bool useUidl = true;
    const auto loadListings = [&] {
        if (useSizes && !LoadSessionSizes()) {
            CountTimeout(spend);
            useSizes = false;
        }
        if (useUidl && m_client->isConnected() && m_client->hasCapability("UIDL") && !LoadSessionUidl()) {
            CountTimeout(spend);
            useUidl = false;
        }
    };
    // A server that offers PIPELINING and then stays silent may not take commands ahead after all: the
    // message it did not answer is read again, and the rest of the scan waits for each reply.
    bool ahead = m_worker.Options().Pipelining;

    loadListings();
    int failuresInRow = 0;
    int next = 1; // the first message not read yet
    // Header blocks refused in a pipelined batch, read once more alone; and the sizes their LIST n brought.
    QList<int> refusedAhead;
    QMap<int, qint64> refusedSizes;
    // Entries stay in the order of their numbers, whenever a message was read.
    const auto listEntry = [&](TMailEntry *entry) {
        qsizetype at = target.size();
        while (at > firstOwn && target.at(at - 1)->MsgNumber > entry->MsgNumber)
            --at;
        target.insert(at, entry);
    };
    const auto sizeOf = [&](int n) {
        return m_sessionSizes.value(n, refusedSizes.value(n, 0));
    };
    const auto listUnreadable = [&](int n) {
        TMailEntry *entry = NewEntry(n, QByteArray(), sizeOf(n));
        // No header block to prove the message by later: only its unique id can.
        entry->ScanDigest.clear();
        entry->HeaderUnreadable = true;
        listEntry(entry);
    };
    const auto readRefusedAlone = [&] {
        while (!refusedAhead.isEmpty() && !accountCancelled() && !m_worker.Cancel && !m_worker.BudgetSpent(spend)) {
            const int n = refusedAhead.takeFirst();
            QByteArray header;
            if (!m_client->isConnected() || !m_client->top(n, 0, &header)) {
                CountTimeout(spend);
                listUnreadable(n);
                continue;
            }
            qint64 size = sizeOf(n);
            if (!m_sessionSizes.contains(n) && !refusedSizes.contains(n) && !m_client->list(n, &size))
                size = 0;
            listEntry(NewEntry(n, header, size));
        }
    };
    // Entries exist only for messages actually read: the count drives no allocation.
    while (next <= count) {
        if (accountCancelled())
            return cancelled();
        if (m_worker.Cancel)
            return giveUp(kAccountCancelledText, 0);
        if (m_worker.BudgetSpent(spend))
            return giveUp(m_worker.BudgetText(spend), 0);
        // A listing that breaks a session gets no second chance, so this ends.
        for (int session = 0; !m_client->isConnected(); ++session) {
            if (session == 3) {
                bool ignored = false;
                TakeClientError(ignored, code, errorText);
                return giveUp(errorText, code);
            }
            bool connectFatal = false;
            int connectCode = 0;
            QString connectError;
            if (!Connect(account, connectFatal, connectCode, connectError)) {
                if (accountCancelled())
                    return cancelled();
                CountTimeout(spend);
                if (m_worker.BudgetSpent(spend))
                    return giveUp(m_worker.BudgetText(spend), 0);
                return giveUp(connectError.isEmpty() ? kShuttingDownText : connectError, connectCode);
            }
            loadListings();
            if (m_worker.BudgetSpent(spend))
                return giveUp(m_worker.BudgetText(spend), 0);
        }

        // TOP n 0 for every message from `next` on, each followed by LIST n when the listing has no size
        // for it; the replies come back in that order.
        int issued = next;
        bool sizePending = false;
        const auto source = [&](Pop3Client::BatchCommand *command) {
            if (sizePending) {
                sizePending = false;
                *command = {"LIST " + QByteArray::number(issued++), false};
                return true;
            }
            if (issued > count)
                return false;
            sizePending = !m_sessionSizes.contains(issued);
            *command = {"TOP " + QByteArray::number(issued) + " 0", true};
            if (!sizePending)
                ++issued;
            return true;
        };
        // The header block of message `next` while its LIST n reply is still to come.
        std::optional<QByteArray> header;
        bool readFailed = false;
        enum class Stop { None, Cancelled, GaveUp, Budget } stop = Stop::None;
        const auto failed = [&](const QString &text) {
            errorText = text;
            code = 0;
            ++next;
            if (++failuresInRow >= kMaxFailuresInRow)
                stop = Stop::GaveUp;
        };
        const auto read = [&](qint64 size) {
            failuresInRow = 0;
            listEntry(NewEntry(next, *header, size));
            header.reset();
            ++next;
        };
        const bool batchAhead = m_client->pipelining();
        const auto sink = [&](const Pop3Client::BatchCommand &command, Pop3Client::BatchReply &reply) {
            if (command.line.startsWith("TOP ")) {
                if (!reply.ok) {
                    if (batchAhead)
                        refusedAhead.append(next);
                    else
                        listUnreadable(next);
                    // This message is left out. Its LIST n is not sent when it is still to go, and passed
                    // over when it is on its way.
                    if (!m_sessionSizes.contains(next)) {
                        if (sizePending && issued == next) {
                            sizePending = false;
                            ++issued;
                        } else {
                            readFailed = true;
                        }
                    }
                    failed(reply.errorText);
                } else if (m_sessionSizes.contains(next)) {
                    header = std::move(reply.data);
                    read(m_sessionSizes.value(next));
                } else {
                    header = std::move(reply.data);
                }
            } else if (readFailed) {
                readFailed = false;
                if (reply.ok)
                    refusedSizes.insert(next - 1, Pop3Client::listedSize(reply.text));
            } else if (!reply.ok) {
                header.reset();
                failed(reply.errorText);
            } else {
                read(Pop3Client::listedSize(reply.text));
            }
            if (accountCancelled() || m_worker.Cancel)
                stop = Stop::Cancelled;
            else if (stop == Stop::None && m_worker.BudgetSpent(spend))
                stop = Stop::Budget;
            return stop == Stop::None;
        };
        m_client->setPipelining(ahead);
        const bool inStep = m_client->batch(source, sink);
        if (stop == Stop::Cancelled || (!inStep && (accountCancelled() || m_worker.Cancel)))
            return accountCancelled() ? cancelled() : giveUp(kAccountCancelledText, 0);
        if (stop == Stop::Budget)
            return giveUp(m_worker.BudgetText(spend), 0);
        if (stop == Stop::GaveUp)
            return giveUp(errorText, code);
        if (inStep) {
            readRefusedAlone();
            continue;
        }
        // The session failed while message `next` was being read: that message is left out, as when it
        // is read alone, and the scan goes on with the following one in a new session.
        bool ignored = false;
        TakeClientError(ignored, code, errorText);
        CountTimeout(spend);
        const bool readAgain = m_client->lastError() == Pop3Client::Error::TimedOut && m_client->pipelining();
        if (readAgain)
            ahead = false;
        Disconnect();
        header.reset();
        if (!readAgain)
            ++next;
        if (m_worker.BudgetSpent(spend))
            return giveUp(m_worker.BudgetText(spend), 0);
        if (++failuresInRow >= kMaxFailuresInRow)
            return giveUp(errorText, code);
    }
    // Left when the session broke after them: listed without a second try.
    for (const int n : std::as_const(refusedAhead))
        listUnreadable(n);
    refusedAhead.clear();
    // STAT said there was mail: a mailbox of which nothing could be read is no empty mailbox.
    if (std::none_of(target.cbegin() + firstOwn, target.cend(), [](const TMailEntry *e) { return !e->HeaderUnreadable; }))
        return giveUp(NothingReadText(errorText), code);
    fatal = false;
    code = 0;
    errorText.clear();
    Disconnect();
    return true;
}

std::optional<TPop3Session::Identity> TPop3Session::ListedIdentity(int n, const TMailEntry &expected) const
{
    // An IMAP scan's entry names no POP3 message (its account was changed to POP3 since).
    if (expected.Uid != 0)
        return Identity::Changed;
    if (!m_sessionUidlLoaded || expected.ServerUIDL.isEmpty())
        return std::nullopt;
    const QByteArray want = expected.ServerUIDL.toLatin1();
    const int carriers = m_sessionUidlCount.value(want);
    if (carriers == 0)
        return Identity::Gone;
    if (m_sessionUidl.value(n) != want)
        return Identity::Changed;
    if (carriers == 1)
        return Identity::Same;
    // Another message now carries the same id: only size and header block can tell them apart.
    return std::nullopt;
}

TPop3Session::Identity TPop3Session::CheckIdentity(int n, const TMailEntry &expected)
{
    if (expected.Uid != 0)
        return Identity::Changed;
    if (!expected.ServerUIDL.isEmpty() && m_client->hasCapability("UIDL")) {
        if (LoadSessionUidl()) {
            if (const std::optional<Identity> listed = ListedIdentity(n, expected))
                return *listed;
        } else if (!m_client->isConnected()) {
            return Identity::Failed;
        }
        // The server refused its listing: compare size and header block instead.
    }
    // STAT leaves out what this session has deleted already; those keep their numbers until QUIT.
    int count = 0;
    if (!m_client->stat(&count))
        return Identity::Failed;
    // Without a unique id, a shorter mailbox does not show that this message went: it may only have
    // moved down, and the number may now name another one.
    if (qint64(count) + m_sessionDeleted.size() < n || expected.ScanDigest.isEmpty())
        return Identity::Changed;
    qint64 size = -1;
    if (!m_client->list(n, &size))
        return Identity::Failed;
    if (size != qint64(expected.Size))
        return Identity::Changed;
    QByteArray header;
    if (!m_client->top(n, 0, &header))
        return Identity::Failed;
    return TPop3Thread::HeaderDigest(header) == expected.ScanDigest ? Identity::Same : Identity::Changed;
}

void TPop3Session::NoteDeleted(int n)
{
    const QByteArray uid = m_sessionUidl.take(n);
    if (!uid.isEmpty() && --m_sessionUidlCount[uid] <= 0)
        m_sessionUidlCount.remove(uid);
    m_sessionDeleted.append(n);
}

bool TPop3Session::DeleteMessage(const TPOP3AccountSettings &account, int n, const TMailEntry &expected,
                                 bool keepSession)
{
    QList<TRemoval> outcomes;
    const bool deleted = DeleteInSession(account, {{n, &expected}}, outcomes) == 1
        && outcomes.first().Result == TRemoval::Removed;
    if (!keepSession) {
        QString notCommitted;
        if (!EndSession(notCommitted) && deleted) {
            LastErrorText = notCommitted;
            return false;
        }
    }
    return deleted;
}

QList<TRemoval> TPop3Session::RemoveMessages(const TPOP3AccountSettings &account, const QList<TMailEntry *> &entries,
                                             IRemovalCopies *copies)
{
    QList<TDeletion> items;
    items.reserve(entries.size());
    for (const TMailEntry *e : entries)
        items.append({e->MsgNumber, e});
    QList<TRemoval> outcomes;
    m_copies = copies;
    DeleteInSession(account, items, outcomes);
    m_copies = nullptr;
    if (outcomes.size() < entries.size()) {
        // The message the deletion stopped at.
        outcomes.append(TRemoval{TRemoval::Failed, LastErrorText});
        outcomes.resize(entries.size());
    }
    return outcomes;
}

int TPop3Session::DeleteInSession(const TPOP3AccountSettings &account, const QList<TDeletion> &items,
                                  QList<TRemoval> &outcomes)
{
    LastErrorText.clear();
    LastErrorCode = 0;
    bool fatal = false;
    int code = 0;
    QString error;
    if (!Connect(account, fatal, code, error)) {
        LastErrorText = error.isEmpty() ? kShuttingDownText : error;
        LastErrorCode = code;
        return 0;
    }
    qsizetype done = 0;
    while (done < items.size()) {
        // The messages the session's listing proves, from here on, need no round trip of their own: their
        // DELE commands go out together.
        if (m_client->isConnected() && !m_deletionsLost && !items.at(done).second->ServerUIDL.isEmpty())
            LoadSessionUidl();
        qsizetype proven = done;
        while (proven < items.size() && items.at(proven).first > 0 && m_client->isConnected() && !m_deletionsLost) {
            const std::optional<Identity> listed = ListedIdentity(items.at(proven).first, *items.at(proven).second);
            if (listed != Identity::Same && listed != Identity::Gone)
                break;
            ++proven;
        }
        std::optional<Pop3Client::BatchReply> refusal;
        if (proven > done) {
            done = DeleteProven(items, done, proven, outcomes, &refusal);
            if (done == items.size() || (!refusal && !LastErrorText.isEmpty()))
                break;
        }
        // One message with the checks that take round trips, or the one the server just refused.
        if (DeleteOne(account, int(done), items.at(done).first, *items.at(done).second, refusal)) {
            outcomes.append(TRemoval{TRemoval::Removed, {}});
        } else {
            if (!LastErrorText.isEmpty())
                break;
            outcomes.append(TRemoval{TRemoval::Gone, {}});
        }
        ++done;
    }
    return int(done);
}

qsizetype TPop3Session::DeleteProven(const QList<TDeletion> &items, qsizetype from, qsizetype to,
                                     QList<TRemoval> &outcomes, std::optional<Pop3Client::BatchReply> *refusal)
{
    // What the listing says, before the deletions change it.
    QList<bool> listedGone;
    for (qsizetype i = from; i < to; ++i)
        listedGone.append(ListedIdentity(items.at(i).first, *items.at(i).second) == Identity::Gone);
    // A message whose copy failed is not deleted, nor is any after it.
    const qsizetype copied = CopyProven(items, from, to, listedGone);
    const QString copyFailure = copied < to ? LastErrorText : QString();
    const int copyFailureCode = LastErrorCode;
    to = copied;
    QList<int> numbers;
    for (qsizetype i = from; i < to; ++i)
        if (!listedGone.at(i - from))
            numbers.append(items.at(i).first);
    QList<Pop3Client::BatchReply> replies;
    qsizetype sent = 0;
    // The replies tell how far the batch got.
    if (!numbers.isEmpty())
        m_client->batch(
            [&](Pop3Client::BatchCommand *command) {
                if (sent == numbers.size())
                    return false;
                *command = {"DELE " + QByteArray::number(numbers.at(sent++)), false};
                return true;
            },
            [&](const Pop3Client::BatchCommand &, Pop3Client::BatchReply &reply) {
                replies.append(std::move(reply));
                return true;
            });
    const auto failedAt = [&](qsizetype i, const QString &text) {
        LastErrorText = OrNoConnection(text);
        LastErrorCode = m_client->lastReplyCode();
        return i;
    };
    qsizetype answered = 0;
    for (qsizetype i = from; i < to; ++i) {
        if (listedGone.at(i - from)) {
            outcomes.append(TRemoval{TRemoval::Gone, {}});
            continue;
        }
        const int n = items.at(i).first;
        if (answered == replies.size()) {
            // The session failed before this reply: what it accepted is not carried out without a QUIT.
            return failedAt(i, m_sessionDeleted.isEmpty() ? m_client->lastErrorText() : kDeletionNotCommittedText);
        }
        const Pop3Client::BatchReply &reply = replies.at(answered++);
        if (reply.ok) {
            NoteDeleted(n);
            outcomes.append(TRemoval{TRemoval::Removed, {}});
            continue;
        }
        if (reply.errorText.contains(QLatin1String("no such message"), Qt::CaseInsensitive)) {
            outcomes.append(TRemoval{TRemoval::Gone, {}});
            continue;
        }
        // Refused: the deletion stops here, so a later DELE the server accepted must be taken back.
        const bool laterAccepted = std::any_of(replies.cbegin() + answered, replies.cend(),
                                               [](const Pop3Client::BatchReply &r) { return r.ok; });
        if (laterAccepted) {
            const bool hadDeletions = !m_sessionDeleted.isEmpty();
            if (!KeepOnlyDeletions(m_sessionDeleted))
                return failedAt(i, hadDeletions ? kDeletionNotCommittedText : reply.errorText);
        }
        *refusal = reply;
        return i;
    }
    if (!copyFailure.isEmpty()) {
        LastErrorText = copyFailure;
        LastErrorCode = copyFailureCode;
    }
    return to;
}

qsizetype TPop3Session::CopyProven(const QList<TDeletion> &items, qsizetype from, qsizetype to,
                                   const QList<bool> &listedGone)
{
    if (!m_copies)
        return to;
    QList<qsizetype> wanted;
    qint64 largest = 0;
    for (qsizetype i = from; i < to; ++i) {
        if (!listedGone.at(i - from) && m_copies->Wanted(int(i))) {
            wanted.append(i);
            largest = std::max<qint64>(largest, items.at(i).second->Size);
        }
    }
    if (wanted.isEmpty())
        return to;
    m_client->setReplyDeadline(m_worker.TextDeadlineMs(largest));
    const auto restore = qScopeGuard([this] { m_client->setReplyDeadline(m_worker.Options().ReplyDeadlineMs); });
    qsizetype failed = to;
    qsizetype sent = 0;
    qsizetype answered = 0;
    // Every reply is read, so the session stays in step; after a failure nothing more is kept.
    const bool inStep = m_client->batch(
        [&](Pop3Client::BatchCommand *command) {
            if (sent == wanted.size())
                return false;
            *command = {"RETR " + QByteArray::number(items.at(wanted.at(sent++)).first), true};
            return true;
        },
        [&](const Pop3Client::BatchCommand &, Pop3Client::BatchReply &reply) {
            const qsizetype i = wanted.at(answered++);
            if (failed < to)
                return true;
            QString error;
            if (!reply.ok)
                error = reply.errorText;
            else if (!m_copies->Keep(int(i), reply.data, &error) && error.isEmpty())
                error = kCopyNotKeptText;
            if (!error.isEmpty()) {
                failed = i;
                LastErrorText = error;
                LastErrorCode = m_client->lastReplyCode();
            }
            return true;
        });
    if (!inStep && failed == to && answered < wanted.size()) {
        failed = wanted.at(answered);
        LastErrorText = OrNoConnection(m_client->lastErrorText());
        LastErrorCode = m_client->lastReplyCode();
    }
    return failed;
}

bool TPop3Session::CopyOne(int index, int n, const TMailEntry &expected)
{
    if (!m_copies || !m_copies->Wanted(index))
        return true;
    m_client->setReplyDeadline(m_worker.TextDeadlineMs(expected.Size));
    const auto restore = qScopeGuard([this] { m_client->setReplyDeadline(m_worker.Options().ReplyDeadlineMs); });
    QByteArray raw;
    if (!m_client->retr(n, &raw)) {
        LastErrorText = OrNoConnection(m_client->lastErrorText());
        LastErrorCode = m_client->lastReplyCode();
        return false;
    }
    QString error;
    if (m_copies->Keep(index, raw, &error))
        return true;
    LastErrorText = error.isEmpty() ? kCopyNotKeptText : error;
    LastErrorCode = 0;
    return false;
}

bool TPop3Session::KeepOnlyDeletions(const QList<int> &numbers)
{
    const QList<int> keep = numbers;
    qsizetype sent = 0;
    bool allAccepted = true;
    const bool ok = m_client->command("RSET")
        && m_client->batch(
            [&](Pop3Client::BatchCommand *command) {
                if (sent == keep.size())
                    return false;
                *command = {"DELE " + QByteArray::number(keep.at(sent++)), false};
                return true;
            },
            [&](const Pop3Client::BatchCommand &, Pop3Client::BatchReply &reply) {
                allAccepted = allAccepted && reply.ok;
                return allAccepted;
            });
    if (ok && allAccepted)
        return true;
    // Without a QUIT the server carries out none of this session's deletions.
    ForceClose();
    return false;
}

bool TPop3Session::DeleteOne(const TPOP3AccountSettings &account, int index, int n, const TMailEntry &expected,
                            const std::optional<Pop3Client::BatchReply> &refusal)
{
    bool fatal = false;
    int code = 0;
    QString error;
    int refusals = 0;
    bool refused = refusal.has_value();
    for (;;) {
        QString failure;
        QByteArray reply; // the server's status line of the failure
        if (refused) {
            refused = false;
            failure = refusal->errorText;
            reply = refusal->status;
        } else {
            bool failed = false;
            if (!m_client->isConnected() && !Connect(account, fatal, code, error)) {
                failed = true;
                failure = error.isEmpty() ? kShuttingDownText : error;
            }
            if (!failed && m_deletionsLost) {
                // Deletions accepted before were lost with their session: going on in a new one would
                // report only part of the run as done.
                LastErrorText = kDeletionNotCommittedText;
                return false;
            }
            if (!failed) {
                if (n <= 0)
                    return false;
                // The list may be older than the mailbox: delete only when the number still names this
                // message.
                const Identity identity = CheckIdentity(n, expected);
                if (identity == Identity::Gone)
                    return false;
                if (identity == Identity::Changed) {
                    LastErrorText = kMailboxChangedText;
                    return false;
                }
                if (identity == Identity::Failed) {
                    failed = true;
                    failure = m_client->lastErrorText();
                }
            }
            // The copy comes first: a message that cannot be kept is not deleted.
            if (!failed && !CopyOne(index, n, expected))
                return false;
            if (!failed) {
                if (m_client->dele(n)) {
                    NoteDeleted(n);
                    return true;
                }
                failure = m_client->lastErrorText();
                if (failure.contains(QLatin1String("no such message"), Qt::CaseInsensitive))
                    return false;
            }
            reply = m_client->lastReply();
        }

        LastErrorText = OrNoConnection(failure);
        LastErrorCode = m_client->lastReplyCode();
        const QString text = platform::decode8bit(reply);
        const qsizetype phrase = text.indexOf(QLatin1String("logged in too frequently, try again"));
        if (phrase < 0 || ++refusals >= 2)
            return false;
        const qsizetype again = text.indexOf(QLatin1String("again in"), phrase);
        if (again < 0)
            return false;
        QString waitText = text.mid(again + 8).trimmed();
        waitText.chop(1); // the unit letter
        bool numeric = false;
        const int seconds = waitText.toInt(&numeric);
        if (!numeric || seconds < 0 || seconds > 120)
            return false;
        // The window may show a count-down meanwhile; the wait itself is this thread's.
        m_worker.WaitSeconds = seconds;
        m_worker.Report([seconds](TPOP3Checker &checker) { checker.DeleteWait(seconds); });
        m_worker.WaitMs((seconds + 1) * 1000);
        m_worker.WaitSeconds = -99;
        if (m_worker.ShuttingDown())
            return false;
    }
}

bool TPop3Session::EndSession(QString &errorText, bool *unconfirmed)
{
    errorText.clear();
    Disconnect();
    const bool committed = !m_deletionsLost;
    if (unconfirmed)
        *unconfirmed = !committed && m_deletionsUnconfirmed;
    m_deletionsLost = false;
    m_deletionsUnconfirmed = false;
    if (!committed)
        errorText = kDeletionNotCommittedText;
    return committed;
}

bool TPop3Session::FetchText(const TPOP3AccountSettings &account, TMailEntry &entry, bool keepSession, bool &fatal,
                             int &code, QString &errorText)
{
    const int n = entry.MsgNumber;
    if (!Connect(account, fatal, code, errorText))
        return false;
    const auto end = qScopeGuard([this, keepSession] {
        if (m_client)
            m_client->setReplyDeadline(m_worker.Options().ReplyDeadlineMs);
        if (!keepSession)
            Disconnect();
    });
    // The text must be the text of this message, not of whatever has its number now.
    switch (CheckIdentity(n, entry)) {
    case Identity::Same:
        break;
    case Identity::Gone:
        fatal = true;
        errorText = kMessageGoneText;
        return false;
    case Identity::Changed:
        fatal = true;
        errorText = kMailboxChangedText;
        return false;
    case Identity::Failed:
        TakeClientError(fatal, code, errorText);
        return false;
    }
    // A large message may take its time on a slow line, but a server that drips it must not hold the
    // window for ever.
    m_client->setReplyDeadline(m_worker.TextDeadlineMs(entry.Size));
    QByteArray raw;
    if (!m_client->retr(n, &raw)) {
        TakeClientError(fatal, code, errorText);
        return false;
    }
    return TakeMessageText(raw, entry, fatal, code, errorText);
}

bool TPop3Session::TestAccount(const TPOP3AccountSettings &account, int &code, QString &errorText)
{
    EnsureClient();
    Disconnect();
    bool fatal = false;
    const bool ok = Connect(account, fatal, code, errorText);
    if (ok) {
        int count = 0;
        if (!m_client->stat(&count))
            TakeClientError(fatal, code, errorText);
    } else if (errorText.isEmpty()) {
        errorText = kShuttingDownText;
    }
    Disconnect();
    return ok;
}
