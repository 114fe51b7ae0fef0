#include "ImapSession.h"

#include "CheckCoordinator.h"
#include "KeyringPasswords.h"
#include "OAuthTokens.h"
#include "Pop3Worker.h"
#include "TextCodec.h"

#include <QScopeGuard>
#include <QSet>
#include <QUrl>

#include <algorithm>

namespace {

// A header block larger than this is not a header block; it would only fill the memory.
constexpr qint64 kMaxHeaderSize = qint64(4) * 1024 * 1024;
// The largest message text read, as for POP3's RETR.
constexpr qint64 kMaxTextSize = qint64(256) * 1024 * 1024;
// No folder is searched for more UIDs than this, whatever the server says it holds.
constexpr qsizetype kMaxListedMessages = 1000000;
// The folders looked at for the Junk folder; a server with more lists the rest in vain.
constexpr int kMaxListedFolders = 20000;

const QStringList kJunkNames = {QStringLiteral("Junk"), QStringLiteral("Spam"), QStringLiteral("Spam-Mails")};


QByteArray mailboxArgument(const QString &name)
{
    const QByteArray wire = EncodeMailboxName(name);
    // Folder names longer than a quoted string may be are not made by any mail program.
    return ImapQuoted(wire).value_or("\"" + wire.left(1000) + "\"");
}

QString folderErrorText(const QString &folder, const QString &why)
{
    return QStringLiteral("Der Ordner \"%1\" kann nicht geöffnet werden: %2").arg(folder, why);
}

QString notExpungedText(const QString &done)
{
    return QStringLiteral("%1 Der Server bietet kein UID EXPUNGE (UIDPLUS) an; ein einfaches EXPUNGE würde auch alle "
                          "anderen zum Löschen markierten E-Mails des Ordners entfernen. Die E-Mails bleiben daher "
                          "markiert, bis Ihr E-Mail-Programm den Ordner bereinigt.")
        .arg(done);
}

bool hasFlag(const ImapValue *flags, const char *flag)
{
    if (!flags || flags->kind != ImapValue::List)
        return false;
    return std::any_of(flags->items.cbegin(), flags->items.cend(), [flag](const ImapValue &v) { return v.isAtom(flag); });
}

// The UID of a FETCH response's item list; 0 when it has none.
uint32_t fetchedUid(const QList<ImapValue> &items)
{
    const ImapValue *uid = FetchItem(items, "UID");
    const std::optional<qint64> n = uid ? uid->number() : std::nullopt;
    return n && *n > 0 && *n <= 0xffffffffLL ? uint32_t(*n) : 0;
}

} // namespace

TImapSession::TImapSession(TPop3Thread &worker) : m_worker(worker) {}

ImapClient::Security TImapSession::SecurityOf(const TPOP3AccountSettings &account)
{
    switch (account.POP3Security) {
    case csNone:
        return ImapClient::Security::None;
    case csStartTLS:
        return ImapClient::Security::StartTls;
    case csSSLTLS:
        return ImapClient::Security::Tls;
    default:
        return ImapClient::Security::Unknown;
    }
}

TImapSession::~TImapSession()
{
    FreeClient();
}

QString TImapSession::FolderOf(const TPOP3AccountSettings &account)
{
    const QString folder = account.IMAPFolder.trimmed();
    return folder.isEmpty() ? QStringLiteral("INBOX") : folder;
}

QString TImapSession::MessageIdentity(const TPOP3AccountSettings &account, uint32_t uidValidity, uint32_t uid)
{
    const QString user = QString::fromLatin1(QUrl::toPercentEncoding(account.AccountName));
    const QString folder = QString::fromLatin1(QUrl::toPercentEncoding(FolderOf(account), "/"));
    return QStringLiteral("imap://%1@%2/%3;UIDVALIDITY=%4/;UID=%5")
        .arg(user, account.ServerName.toLower(), folder)
        .arg(uidValidity)
        .arg(uid);
}

bool TImapSession::AccountCancelled() const
{
    return m_worker.Checker && m_worker.Checker->AccountCancelled;
}

// --- client and session ---

void TImapSession::EnsureClient()
{
    m_sessionThread = QThread::currentThread();
    if (m_client)
        return;
    auto client = std::make_unique<ImapClient>(m_worker.Options().SocketFactory);
    QMutexLocker lock(&m_clientMutex);
    m_client = std::move(client);
}

void TImapSession::Abort()
{
    QMutexLocker lock(&m_clientMutex);
    if (m_client)
        m_client->abort();
}

void TImapSession::Disconnect()
{
    if (QThread::currentThread() != m_sessionThread.load()) {
        Abort();
        return;
    }
    if (m_client)
        m_client->disconnect(true);
}

void TImapSession::ForceClose()
{
    if (QThread::currentThread() != m_sessionThread.load()) {
        Abort();
        return;
    }
    if (m_client)
        m_client->forceClose();
}

void TImapSession::FreeClient()
{
    if (QThread::currentThread() != m_sessionThread.load() && m_worker.InJob()) {
        Abort();
        return;
    }
    Disconnect();
    std::unique_ptr<ImapClient> client;
    QMutexLocker lock(&m_clientMutex);
    client = std::move(m_client);
}

CertificateProblem TImapSession::RefusedCertificate() const
{
    return m_client && m_client->certificateProblem().CanBeTrusted() ? m_client->certificateProblem()
                                                                      : CertificateProblem();
}

void TImapSession::LoadAccountIntoClient(const TPOP3AccountSettings &account)
{
    m_client->setHost(account.ServerName);
    m_client->setUserName(account.AccountName);
    m_client->setPort(quint16(account.Port & 0xFFFF));
    m_client->setSecurity(SecurityOf(account));
    m_client->setTrustedCertificate(account.POP3CertSHA256);
    m_client->setConnectTimeout(m_worker.SessionTimeoutMs());
    m_client->setReadTimeout(m_worker.SessionTimeoutMs());
    m_client->setReplyDeadline(m_worker.Options().ReplyDeadlineMs);
    m_client->setLiteralLimit(ImapClient::kDefaultLiteralLimit);
    m_port = account.Port;
}

void TImapSession::TakeClientError(bool &fatal, int &code, QString &errorText) const
{
    fatal = true;
    code = 0;
    errorText = OrNoConnection(m_client ? m_client->lastErrorText() : QString());
    // What the user can do about it comes first; the server's or the network's own words follow.
    if (m_client)
        errorText = ExplainedFailureText(m_client->failureKind(), errorText, TServerRole::IncomingImap);
}

void TImapSession::CountTimeout(TScanBudget &budget) const
{
    if (m_client && m_client->lastError() == ImapClient::Error::TimedOut)
        ++budget.Timeouts;
}

void TImapSession::ApplyBudget(TScanBudget &budget, int count) const
{
    m_worker.ExtendBudget(budget, count);
    if (m_client)
        m_client->setDeadline(m_worker.BudgetDeadline(budget));
}

bool TImapSession::Connect(const TPOP3AccountSettings &account, bool &fatal, int &code, QString &errorText)
{
    fatal = false;
    code = 0;
    errorText.clear();
    EnsureClient();
    ImapClient &client = *m_client;
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
        && client.password() == password && client.security() == SecurityOf(account) && m_port == account.Port) {
        if (client.command("NOOP"))
            return true;
    }
    if (m_worker.ShuttingDown())
        return false;
    client.forceClose();
    LoadAccountIntoClient(account);
    client.setPassword(password);
    client.setAuthKind(login.OAuth ? ImapClient::AuthKind::Bearer : ImapClient::AuthKind::Password);
    const qint64 left = client.deadline().remainingTime();
    const int timeout = m_worker.SessionTimeoutMs();
    client.setConnectTimeout(left < 0 ? timeout : int(std::min<qint64>(timeout, left)));
    if (!client.connect()) {
        if (client.failureKind() == TFailureKind::LoginRefused)
            LoginRefused(account, login);
        TakeClientError(fatal, code, errorText);
        return false;
    }
    return true;
}

bool TImapSession::OpenFolder(const TPOP3AccountSettings &account, bool readOnly, QString &errorText)
{
    const QString folder = FolderOf(account);
    if (m_client->select(folder, readOnly))
        return true;
    errorText = m_client->lastError() == ImapClient::Error::ServerError
            || m_client->lastError() == ImapClient::Error::BadCommand
        ? folderErrorText(folder, m_client->lastErrorText())
        : m_client->lastErrorText();
    return false;
}

bool TImapSession::SearchUids(const QByteArray &criteria, QList<uint32_t> *uids)
{
    uids->clear();
    const qsizetype most = std::clamp<qsizetype>(m_client->selected().Exists, 0, kMaxListedMessages);
    QList<uint32_t> found;
    bool unreadable = false;
    const bool extended = m_client->hasCapability("ESEARCH");
    const bool ok = m_client->command(
        extended ? "UID SEARCH RETURN (ALL) " + criteria : "UID SEARCH " + criteria,
        [&](const ImapResponse &r) {
            if (extended && r.name == "ESEARCH") {
                // "(TAG ...) UID ALL set": no ALL when nothing matched.
                for (qsizetype i = 0; i + 1 < r.values.size(); ++i) {
                    if (!r.values.at(i).isAtom("ALL"))
                        continue;
                    const std::optional<QList<uint32_t>> set = ParseUidSet(r.values.at(i + 1).text, most);
                    unreadable = unreadable || !set;
                    if (set)
                        found = *set;
                }
            } else if (!extended && r.name == "SEARCH") {
                for (const ImapValue &v : r.values) {
                    const std::optional<qint64> n = v.number();
                    if (n && *n > 0 && *n <= 0xffffffffLL && found.size() < most)
                        found.append(uint32_t(*n));
                }
            }
        });
    if (!ok)
        return false;
    if (unreadable) {
        m_client->forceClose();
        return false;
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    *uids = std::move(found);
    return true;
}

bool TImapSession::ListUnread(const TPOP3AccountSettings &account, QList<uint32_t> *uids, bool &fatal, int &code,
                              QString &errorText, TScanBudget &budget)
{
    uids->clear();
    EnsureClient();
    // Every wait, connecting included, ends with the budget's deadline.
    m_client->setDeadline(m_worker.BudgetDeadline(budget));
    if (!Connect(account, fatal, code, errorText)) {
        CountTimeout(budget);
        return false;
    }
    if (!OpenFolder(account, true, errorText) || !SearchUids("UNSEEN UNDELETED", uids)) {
        CountTimeout(budget);
        const QString folderError = errorText;
        TakeClientError(fatal, code, errorText);
        if (!folderError.isEmpty())
            errorText = folderError;
        return false;
    }
    return true;
}

bool TImapSession::CountMessages(const TPOP3AccountSettings &account, int &count, bool &fatal, int &code,
                                 QString &errorText, TScanBudget *budget)
{
    TScanBudget own = m_worker.NewScanBudget();
    const auto noDeadline = qScopeGuard([this] {
        if (m_client)
            m_client->setDeadline(QDeadlineTimer(QDeadlineTimer::Forever));
    });
    QList<uint32_t> unread;
    const bool ok = ListUnread(account, &unread, fatal, code, errorText, budget ? *budget : own);
    count = int(unread.size());
    return ok;
}

bool TImapSession::FetchHeaders(const TPOP3AccountSettings &account, QList<TMailEntry *> &target, bool &fatal,
                                int &code, QString &errorText, TScanBudget *budget)
{
    TScanBudget own = m_worker.NewScanBudget();
    TScanBudget &spend = budget ? *budget : own;
    const auto restore = qScopeGuard([this] {
        if (m_client) {
            m_client->setDeadline(QDeadlineTimer(QDeadlineTimer::Forever));
            m_client->setLiteralLimit(ImapClient::kDefaultLiteralLimit);
        }
    });
    QList<uint32_t> unread;
    if (!ListUnread(account, &unread, fatal, code, errorText, spend) || unread.isEmpty()) {
        Disconnect();
        return false;
    }
    ApplyBudget(spend, int(unread.size()));
    const QSet<uint32_t> wanted(unread.cbegin(), unread.cend());
    const uint32_t uidValidity = m_client->selected().UidValidity;
    QList<TMailEntry *> read;
    QSet<uint32_t> seen;
    enum class Stop { None, Cancelled, Budget } stop = Stop::None;
    const auto sink = [&](const ImapResponse &r) {
        if (stop != Stop::None || r.name != "FETCH" || r.values.isEmpty() || r.values.first().kind != ImapValue::List)
            return;
        const QList<ImapValue> &items = r.values.first().items;
        const uint32_t uid = fetchedUid(items);
        const ImapValue *header = FetchItem(items, "BODY[HEADER]");
        // Unasked-for FETCH responses (flag changes by another client) and repeats are passed over.
        if (!wanted.contains(uid) || seen.contains(uid) || !header || header->kind != ImapValue::String)
            return;
        seen.insert(uid);
        const ImapValue *flags = FetchItem(items, "FLAGS");
        if (hasFlag(flags, "\\Seen") || hasFlag(flags, "\\Deleted"))
            return;
        const ImapValue *size = FetchItem(items, "RFC822.SIZE");
        auto *entry = new TMailEntry;
        entry->Message.FillFromHeader(header->text);
        entry->Message.UID = MessageIdentity(account, uidValidity, uid);
        entry->ScanDigest = TPop3Thread::HeaderDigest(header->text);
        entry->Size = ClampToInt32(size && size->number() ? *size->number() : 0);
        entry->Host = account.ServerName;
        entry->UserName = account.AccountName;
        entry->MsgNumber = ClampToInt32(r.number);
        entry->UidValidity = uidValidity;
        entry->Uid = uid;
        read.append(entry);
        if (AccountCancelled() || m_worker.Cancel)
            stop = Stop::Cancelled;
        else if (m_worker.BudgetSpent(spend))
            stop = Stop::Budget;
        // The rest of the answer is not read: the connection goes.
        if (stop != Stop::None)
            m_client->abort();
    };
    QByteArrayList commands;
    for (const QByteArray &set : UidSets(unread))
        commands.append("UID FETCH " + set + " (UID RFC822.SIZE FLAGS BODY.PEEK[HEADER])");
    m_client->setLiteralLimit(kMaxHeaderSize);
    const bool ok = m_client->commands(commands, sink);
    std::sort(read.begin(), read.end(), [](const TMailEntry *a, const TMailEntry *b) { return a->MsgNumber < b->MsgNumber; });
    if (stop == Stop::Cancelled && AccountCancelled()) {
        // The user gave the account up: what was read of it stays.
        target.append(read);
        ForceClose();
        fatal = false;
        code = 0;
        errorText = kAccountCancelledText;
        return false;
    }
    const auto giveUp = [&](const QString &text) {
        qDeleteAll(read);
        ForceClose();
        fatal = true;
        code = 0;
        errorText = text;
        return false;
    };
    if (stop == Stop::Cancelled || (!ok && m_worker.Cancel))
        return giveUp(kAccountCancelledText);
    if (stop == Stop::Budget)
        return giveUp(m_worker.BudgetText(spend));
    if (!ok) {
        CountTimeout(spend);
        if (m_worker.BudgetSpent(spend))
            return giveUp(m_worker.BudgetText(spend));
        return giveUp(OrNoConnection(m_client->lastErrorText()));
    }
    target.append(read);
    fatal = false;
    code = 0;
    errorText.clear();
    Disconnect();
    // What was unread a moment ago may have been read meanwhile: then there is nothing to list.
    return !read.isEmpty();
}

bool TImapSession::FetchWhole(uint32_t uid, qint64 size, std::optional<QByteArray> *raw)
{
    m_client->setReplyDeadline(m_worker.TextDeadlineMs(size));
    m_client->setLiteralLimit(kMaxTextSize);
    const auto restore = qScopeGuard([this] {
        m_client->setReplyDeadline(m_worker.Options().ReplyDeadlineMs);
        m_client->setLiteralLimit(ImapClient::kDefaultLiteralLimit);
    });
    raw->reset();
    return m_client->command("UID FETCH " + QByteArray::number(uid) + " (UID BODY.PEEK[])", [&](const ImapResponse &r) {
        if (r.name != "FETCH" || r.values.isEmpty() || r.values.first().kind != ImapValue::List)
            return;
        const QList<ImapValue> &items = r.values.first().items;
        const ImapValue *body = FetchItem(items, "BODY[]");
        if (fetchedUid(items) == uid && body && body->kind == ImapValue::String)
            *raw = body->text;
    });
}

bool TImapSession::FetchText(const TPOP3AccountSettings &account, TMailEntry &entry, bool keepSession, bool &fatal,
                             int &code, QString &errorText)
{
    if (!Connect(account, fatal, code, errorText))
        return false;
    const auto end = qScopeGuard([this, keepSession] {
        if (!keepSession)
            Disconnect();
    });
    fatal = true;
    code = 0;
    if (!OpenFolder(account, true, errorText))
        return false;
    // The text must be the text of this message: its UID names it only while UIDVALIDITY stays.
    if (entry.Uid == 0 || entry.UidValidity == 0 || entry.UidValidity != m_client->selected().UidValidity) {
        errorText = kMailboxChangedText;
        return false;
    }
    std::optional<QByteArray> raw;
    if (!FetchWhole(entry.Uid, entry.Size, &raw)) {
        TakeClientError(fatal, code, errorText);
        return false;
    }
    if (!raw) {
        errorText = kMessageGoneText;
        return false;
    }
    return TakeMessageText(*raw, entry, fatal, code, errorText);
}

bool TImapSession::JunkFolder(QString *folder, QString &errorText)
{
    // RETURN (SPECIAL-USE) where the server knows it; many servers show the flags in a plain LIST too.
    const bool specialUse = m_client->hasCapability("SPECIAL-USE");
    QString flagged;
    QStringList names;
    const bool listed = m_client->command(specialUse ? "LIST \"\" \"*\" RETURN (SPECIAL-USE)" : "LIST \"\" \"*\"",
                                          [&](const ImapResponse &r) {
                                              if (r.name != "LIST" || r.values.size() < 3 || names.size() >= kMaxListedFolders)
                                                  return;
                                              const ImapValue &flags = r.values.at(0);
                                              const ImapValue &name = r.values.at(2);
                                              if (name.kind == ImapValue::Nil || hasFlag(&flags, "\\Noselect")
                                                  || hasFlag(&flags, "\\NonExistent"))
                                                  return;
                                              const QString decoded = DecodeMailboxName(name.text);
                                              names.append(decoded);
                                              if (flagged.isEmpty() && hasFlag(&flags, "\\Junk"))
                                                  flagged = decoded;
                                          });
    if (!listed) {
        errorText = m_client->lastErrorText();
        return false;
    }
    if (!flagged.isEmpty()) {
        *folder = flagged;
        return true;
    }
    for (const QString &wanted : kJunkNames) {
        for (const QString &name : std::as_const(names)) {
            if (name.compare(wanted, Qt::CaseInsensitive) == 0) {
                *folder = name;
                return true;
            }
        }
    }
    if (!m_client->command("CREATE " + mailboxArgument(kJunkNames.first()))
        && m_client->lastCode() != "ALREADYEXISTS") {
        errorText = QStringLiteral("Der Ordner \"%1\" für Spam kann nicht angelegt werden: %2")
                        .arg(kJunkNames.first(), m_client->lastErrorText());
        return false;
    }
    // So that mail programs that show subscribed folders only show it too; a refusal changes nothing.
    m_client->command("SUBSCRIBE " + mailboxArgument(kJunkNames.first()));
    *folder = kJunkNames.first();
    return m_client->isConnected();
}

bool TImapSession::PerSet(const QList<uint32_t> &uids, const QByteArray &verb, const QByteArray &after,
                          QList<uint32_t> *done)
{
    // One command per set: each one the server completes is done, whatever becomes of a later one.
    for (const QByteArray &set : UidSets(uids)) {
        if (!m_client->command(verb + ' ' + set + (after.isEmpty() ? QByteArray() : ' ' + after)))
            return false;
        if (done)
            done->append(ParseUidSet(set, uids.size()).value_or(QList<uint32_t>()));
    }
    return true;
}

QList<TRemoval> TImapSession::RemoveMessages(const TPOP3AccountSettings &account, const QList<TMailEntry *> &entries,
                                             IRemovalCopies *copies)
{
    QList<TRemoval> outcomes(entries.size());
    const auto failFrom = [&](qsizetype from, const QString &text) {
        for (qsizetype i = from; i < outcomes.size(); ++i)
            if (outcomes.at(i).Result == TRemoval::NotTried)
                outcomes[i] = {TRemoval::Failed, OrNoConnection(text)};
        return outcomes;
    };
    if (entries.isEmpty())
        return outcomes;
    bool fatal = false;
    int code = 0;
    QString error;
    if (!Connect(account, fatal, code, error))
        return failFrom(0, error.isEmpty() ? kShuttingDownText : error);
    if (!OpenFolder(account, false, error))
        return failFrom(0, error);
    const ImapClient::Mailbox folder = m_client->selected();
    if (folder.ReadOnly)
        return failFrom(0, QStringLiteral("Der Ordner \"%1\" kann nur gelesen werden.").arg(folder.Name));
    // Nothing is removed unless every message is still the one the list shows.
    for (const TMailEntry *e : entries)
        if (e->Uid == 0 || e->UidValidity == 0 || e->UidValidity != folder.UidValidity)
            return failFrom(0, kMailboxChangedText);
    QList<uint32_t> asked;
    for (const TMailEntry *e : entries)
        asked.append(e->Uid);
    std::sort(asked.begin(), asked.end());
    asked.erase(std::unique(asked.begin(), asked.end()), asked.end());
    QList<uint32_t> present;
    bool searched = true;
    for (const QByteArray &set : UidSets(asked)) {
        QList<uint32_t> found;
        searched = searched && SearchUids("UID " + set, &found);
        present += found;
    }
    if (!searched)
        return failFrom(0, m_client->lastErrorText());
    const QSet<uint32_t> there(present.cbegin(), present.cend());
    for (qsizetype i = 0; i < entries.size(); ++i)
        if (!there.contains(entries.at(i)->Uid))
            outcomes[i] = {TRemoval::Gone, {}};
    if (present.isEmpty())
        return outcomes;

    const auto settle = [&](const QList<uint32_t> &done, const QString &failure) {
        const QSet<uint32_t> removed(done.cbegin(), done.cend());
        for (qsizetype i = 0; i < entries.size(); ++i)
            if (outcomes.at(i).Result == TRemoval::NotTried && removed.contains(entries.at(i)->Uid))
                outcomes[i] = {TRemoval::Removed, {}};
        return failure.isEmpty() ? outcomes : failFrom(0, failure);
    };
    const bool uidExpunge = m_client->hasCapability("UIDPLUS");
    QList<uint32_t> done;
    if (account.IMAPSpamAction == isaDelete) {
        // A message removed for good is copied first; one that cannot be kept stops the removal.
        for (qsizetype i = 0; copies && i < entries.size(); ++i) {
            if (!there.contains(entries.at(i)->Uid) || !copies->Wanted(int(i)))
                continue;
            std::optional<QByteArray> raw;
            if (!FetchWhole(entries.at(i)->Uid, entries.at(i)->Size, &raw))
                return failFrom(0, m_client->lastErrorText());
            QString kept;
            if (!raw)
                return failFrom(0, kMailboxChangedText);
            if (!copies->Keep(int(i), *raw, &kept))
                return failFrom(0, kept.isEmpty() ? kCopyNotKeptText : kept);
        }
        if (!PerSet(present, "UID STORE", "+FLAGS.SILENT (\\Deleted)"))
            return failFrom(0, m_client->lastErrorText());
        if (!uidExpunge)
            return failFrom(0, notExpungedText(QStringLiteral("Die E-Mails wurden zum Löschen markiert.")));
        const bool ok = PerSet(present, "UID EXPUNGE", {}, &done);
        return settle(done, ok ? QString() : m_client->lastErrorText());
    }
    QString junk;
    if (!JunkFolder(&junk, error))
        return failFrom(0, error);
    if (junk.compare(folder.Name, Qt::CaseInsensitive) == 0)
        return failFrom(0, QStringLiteral("Der Ordner \"%1\" ist selbst der Spam-Ordner.").arg(junk));
    const QByteArray target = mailboxArgument(junk);
    if (m_client->hasCapability("MOVE")) {
        const bool ok = PerSet(present, "UID MOVE", target, &done);
        return settle(done, ok ? QString() : m_client->lastErrorText());
    }
    if (!PerSet(present, "UID COPY", target) || !PerSet(present, "UID STORE", "+FLAGS.SILENT (\\Deleted)"))
        return failFrom(0, m_client->lastErrorText());
    if (!uidExpunge)
        return failFrom(0, notExpungedText(
                               QStringLiteral("Die E-Mails wurden in den Ordner \"%1\" kopiert und im Posteingang zum "
                                              "Löschen markiert.")
                                   .arg(junk)));
    const bool ok = PerSet(present, "UID EXPUNGE", {}, &done);
    return settle(done, ok ? QString() : m_client->lastErrorText());
}

bool TImapSession::EndSession(QString &errorText, bool *unconfirmed)
{
    errorText.clear();
    if (unconfirmed)
        *unconfirmed = false;
    Disconnect();
    return true;
}

bool TImapSession::TestAccount(const TPOP3AccountSettings &account, int &code, QString &errorText)
{
    EnsureClient();
    Disconnect();
    bool fatal = false;
    bool ok = Connect(account, fatal, code, errorText);
    if (ok)
        ok = OpenFolder(account, true, errorText);
    else if (errorText.isEmpty())
        errorText = kShuttingDownText;
    Disconnect();
    return ok;
}
