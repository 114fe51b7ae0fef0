#include "DeletionLog.h"

#include "ProcessState.h"
#include "SqlStatement.h"

#include <QFileInfo>
#include <QMutexLocker>
#include <QSet>

#include <functional>

#include <iterator>

using platform::SqlStatement;

namespace {

const char *kSchema =
    "CREATE TABLE IF NOT EXISTS deletions("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, time INTEGER NOT NULL, account TEXT NOT NULL,"
    " sender_name TEXT NOT NULL, sender_address TEXT NOT NULL, subject TEXT NOT NULL, date INTEGER,"
    " size INTEGER NOT NULL, how INTEGER NOT NULL, rule_kind INTEGER NOT NULL, rule_operation INTEGER NOT NULL,"
    " rule_field TEXT NOT NULL, rule_text TEXT NOT NULL, rule_shown TEXT NOT NULL, outcome INTEGER NOT NULL,"
    " reason TEXT NOT NULL, copy_file TEXT NOT NULL, copy_note TEXT NOT NULL, writer INTEGER NOT NULL);"
    "CREATE INDEX IF NOT EXISTS deletions_time ON deletions(time);"
    "CREATE TABLE IF NOT EXISTS meta(name TEXT PRIMARY KEY, value INTEGER NOT NULL);";

qint64 msecs(const QDateTime &t)
{
    return t.toMSecsSinceEpoch();
}

QDateTime fromMsecs(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms);
}

// Rolls back unless committed; one at a time per connection, under the log's mutex.
class Transaction {
public:
    explicit Transaction(sqlite3 *db) : m_db(db), m_ok(platform::sqlExec(db, "BEGIN IMMEDIATE")) {}
    ~Transaction()
    {
        if (m_ok && !m_done)
            platform::sqlExec(m_db, "ROLLBACK");
    }
    explicit operator bool() const { return m_ok; }
    bool commit()
    {
        m_done = true;
        return m_ok && platform::sqlExec(m_db, "COMMIT");
    }

private:
    sqlite3 *m_db;
    bool m_ok;
    bool m_done = false;
};

} // namespace

QString DeletionHowText(TDeletionHow how)
{
    static const char *const kTexts[] = {"automatisch", "nach Hinweis", "von Hand"};
    const auto i = size_t(how);
    return i < std::size(kTexts) ? QString::fromUtf8(kTexts[i]) : QString();
}

QString DeletionOutcomeText(TDeletionOutcome outcome)
{
    static const char *const kTexts[] = {"nicht bestätigt", "gelöscht", "verschoben", "fehlgeschlagen"};
    const auto i = size_t(outcome);
    return i < std::size(kTexts) ? QString::fromUtf8(kTexts[i]) : QString();
}

TDeletionLog::TDeletionLog(QString file) : m_file(std::move(file)) {}

TDeletionLog::~TDeletionLog()
{
    sqlite3_close(m_db);
}

QString TDeletionLog::LastError() const
{
    QMutexLocker lock(&m_mutex);
    return m_error;
}

bool TDeletionLog::fail(const QString &what)
{
    m_error = what + QStringLiteral(": ") + (m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : m_error);
    return false;
}

bool TDeletionLog::open()
{
    if (m_db)
        return true;
    QString error;
    if (!platform::openPrivateStore(m_file, &m_db, &error) || !platform::sqlExec(m_db, kSchema, &error)) {
        sqlite3_close(m_db);
        m_db = nullptr;
        m_error = error;
        return false;
    }
    return true;
}

bool TDeletionLog::openExisting()
{
    // A log never written is empty, and reading it makes no file.
    return (m_db || QFileInfo::exists(m_file)) && open();
}

bool TDeletionLog::writeAll(const char *sql, int count, const std::function<bool(SqlStatement &, int)> &write)
{
    if (!open())
        return false;
    Transaction tx(m_db);
    if (!tx)
        return fail(QStringLiteral("BEGIN"));
    SqlStatement statement(m_db, sql);
    if (!statement.ok())
        return fail(QString::fromLatin1(sql).section(QLatin1Char(' '), 0, 0));
    for (int i = 0; i < count; ++i) {
        statement.reset();
        if (!write(statement, i))
            return fail(QString::fromLatin1(sql).section(QLatin1Char(' '), 0, 0));
    }
    return tx.commit() || fail(QStringLiteral("COMMIT"));
}

bool TDeletionLog::Begin(QList<TDeletionRecord> &records)
{
    QMutexLocker lock(&m_mutex);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const qint64 writer = platform::currentProcessId();
    QList<qint64> ids;
    const bool written = writeAll(
        "INSERT INTO deletions(time, account, sender_name, sender_address, subject, date, size, how, rule_kind,"
        " rule_operation, rule_field, rule_text, rule_shown, outcome, reason, copy_file, copy_note, writer)"
        " VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
        int(records.size()), [&](SqlStatement &insert, int i) {
            const TDeletionRecord &r = records.at(i);
            insert.bind(1, msecs(r.Time.isValid() ? r.Time : now));
            insert.bind(2, r.Account);
            insert.bind(3, r.SenderName);
            insert.bind(4, r.SenderAddress);
            insert.bind(5, r.Subject);
            if (r.Date.isValid())
                insert.bind(6, msecs(r.Date));
            else
                sqlite3_bind_null(insert.s, 6);
            insert.bind(7, r.Size);
            insert.bind(8, qint64(r.How));
            insert.bind(9, qint64(r.RuleKind));
            insert.bind(10, qint64(r.RuleOperation));
            insert.bind(11, r.RuleField);
            insert.bind(12, r.RuleText);
            insert.bind(13, r.RuleShown);
            insert.bind(14, qint64(TDeletionOutcome::Pending));
            insert.bind(15, r.Reason);
            insert.bind(16, r.CopyFile);
            insert.bind(17, r.CopyNote);
            insert.bind(18, writer);
            if (insert.step() != SQLITE_DONE)
                return false;
            ids.append(sqlite3_last_insert_rowid(m_db));
            return true;
        });
    if (!written)
        return false;
    for (qsizetype i = 0; i < records.size(); ++i) {
        records[i].Id = ids.at(i);
        if (!records[i].Time.isValid())
            records[i].Time = now.toLocalTime();
        records[i].Outcome = TDeletionOutcome::Pending;
    }
    return true;
}

bool TDeletionLog::Finish(const QList<TDeletionRecord> &records)
{
    QMutexLocker lock(&m_mutex);
    return writeAll("UPDATE deletions SET outcome=?, reason=?, copy_file=?, copy_note=?, writer=0 WHERE id=?",
                    int(records.size()), [&records](SqlStatement &update, int i) {
                        const TDeletionRecord &r = records.at(i);
                        update.bind(1, qint64(r.Outcome));
                        update.bind(2, r.Reason);
                        update.bind(3, r.CopyFile);
                        update.bind(4, r.CopyNote);
                        update.bind(5, r.Id);
                        return update.step() == SQLITE_DONE;
                    });
}

QList<TDeletionRecord> TDeletionLog::Records()
{
    QMutexLocker lock(&m_mutex);
    QList<TDeletionRecord> out;
    if (!openExisting())
        return out;
    SqlStatement select(m_db, "SELECT id, time, account, sender_name, sender_address, subject, date, size, how,"
                              " rule_kind, rule_operation, rule_field, rule_text, rule_shown, outcome, reason,"
                              " copy_file, copy_note FROM deletions ORDER BY id DESC");
    if (!select.ok()) {
        fail(QStringLiteral("SELECT"));
        return out;
    }
    while (select.step() == SQLITE_ROW) {
        TDeletionRecord r;
        r.Id = select.integer(0);
        r.Time = fromMsecs(select.integer(1));
        r.Account = select.text(2);
        r.SenderName = select.text(3);
        r.SenderAddress = select.text(4);
        r.Subject = select.text(5);
        if (sqlite3_column_type(select.s, 6) != SQLITE_NULL)
            r.Date = fromMsecs(select.integer(6));
        r.Size = select.integer(7);
        // Values a later version may write are shown as the nearest this one knows.
        const qint64 how = select.integer(8);
        r.How = how >= 0 && how <= 2 ? TDeletionHow(how) : TDeletionHow::ByHand;
        r.RuleKind = int32_t(select.integer(9));
        r.RuleOperation = int32_t(select.integer(10));
        r.RuleField = select.text(11);
        r.RuleText = select.text(12);
        r.RuleShown = select.text(13);
        const qint64 outcome = select.integer(14);
        r.Outcome = outcome >= 0 && outcome <= 3 ? TDeletionOutcome(outcome) : TDeletionOutcome::Failed;
        r.Reason = select.text(15);
        r.CopyFile = select.text(16);
        r.CopyNote = select.text(17);
        out.append(r);
    }
    return out;
}

int TDeletionLog::ResolveAbandoned()
{
    QMutexLocker lock(&m_mutex);
    if (!openExisting())
        return 0;
    QSet<qint64> ended;
    {
        SqlStatement writers(m_db, "SELECT DISTINCT writer FROM deletions WHERE outcome=0");
        while (writers.ok() && writers.step() == SQLITE_ROW) {
            const qint64 pid = writers.integer(0);
            if (pid != platform::currentProcessId() && !platform::processRunning(pid))
                ended.insert(pid);
        }
    }
    int resolved = 0;
    SqlStatement update(m_db, "UPDATE deletions SET outcome=3, reason=?, writer=0 WHERE outcome=0 AND writer=?");
    for (const qint64 pid : std::as_const(ended)) {
        update.reset();
        update.bind(1, kDeletionAbandonedText);
        update.bind(2, pid);
        if (update.step() == SQLITE_DONE)
            resolved += sqlite3_changes(m_db);
    }
    return resolved;
}

int TDeletionLog::Prune(const QDateTime &now)
{
    QMutexLocker lock(&m_mutex);
    if (!openExisting())
        return 0;
    int removed = 0;
    {
        SqlStatement old(m_db, "DELETE FROM deletions WHERE time < ?");
        old.bind(1, msecs(now.addDays(-kDeletionLogDays)));
        if (old.ok() && old.step() == SQLITE_DONE)
            removed += sqlite3_changes(m_db);
    }
    SqlStatement surplus(m_db, "DELETE FROM deletions WHERE id <= (SELECT id FROM deletions ORDER BY id DESC"
                               " LIMIT 1 OFFSET ?)");
    surplus.bind(1, qint64(kDeletionLogMaxRecords));
    if (surplus.ok() && surplus.step() == SQLITE_DONE)
        removed += sqlite3_changes(m_db);
    return removed;
}

int TDeletionLog::UnseenCount()
{
    QMutexLocker lock(&m_mutex);
    if (!openExisting())
        return 0;
    SqlStatement count(m_db, "SELECT COUNT(*) FROM deletions WHERE id > "
                             "COALESCE((SELECT value FROM meta WHERE name='seen'), 0)");
    return count.ok() && count.step() == SQLITE_ROW ? int(count.integer(0)) : 0;
}

void TDeletionLog::MarkSeen()
{
    QMutexLocker lock(&m_mutex);
    if (!openExisting())
        return;
    platform::sqlExec(m_db, "INSERT OR REPLACE INTO meta(name, value) "
                            "SELECT 'seen', COALESCE(MAX(id), 0) FROM deletions");
}
