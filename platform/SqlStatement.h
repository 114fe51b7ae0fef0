#pragma once
// The stores kept in SQLite files (the registry hives, the deletion log) use the C API through these
// small helpers: a prepared statement that finalizes itself, and the opening of a store file that holds
// private data.
#include <QByteArray>
#include <QString>

#include <sqlite3.h>

namespace platform {

class SqlStatement {
public:
    SqlStatement(sqlite3 *db, const char *sql) { sqlite3_prepare_v2(db, sql, -1, &s, nullptr); }
    ~SqlStatement() { sqlite3_finalize(s); }
    SqlStatement(const SqlStatement &) = delete;
    SqlStatement &operator=(const SqlStatement &) = delete;

    bool ok() const { return s != nullptr; }
    void bind(int i, const QString &v)
    {
        const QByteArray b = v.toUtf8();
        sqlite3_bind_text(s, i, b.constData(), int(b.size()), SQLITE_TRANSIENT);
    }
    void bind(int i, qint64 v) { sqlite3_bind_int64(s, i, v); }
    void bindBlob(int i, const QByteArray &b)
    {
        // A zero-length blob must still be a blob, not NULL.
        sqlite3_bind_blob(s, i, b.isEmpty() ? "" : b.constData(), int(b.size()), SQLITE_TRANSIENT);
    }
    int step() { return sqlite3_step(s); }
    void reset() { sqlite3_reset(s); }
    QString text(int col) const
    {
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(s, col)),
                                 sqlite3_column_bytes(s, col));
    }
    QByteArray blob(int col) const
    {
        const void *p = sqlite3_column_blob(s, col);
        return QByteArray(static_cast<const char *>(p), sqlite3_column_bytes(s, col));
    }
    qint64 integer(int col) const { return sqlite3_column_int64(s, col); }

    sqlite3_stmt *s = nullptr;
};

// How long a store waits for another process's write to end.
inline constexpr int kStoreBusyTimeoutMs = 10000;

// Runs statements without results; false with *error (when given) on failure.
bool sqlExec(sqlite3 *db, const char *sql, QString *error = nullptr);

// Opens (and first creates, for its owner alone: folder 0700, file 0600) a store file for reading and
// writing, with a busy time-out for other processes and write-ahead logging, so that a second process
// reads while this one writes. False with *error; *db is then null.
bool openPrivateStore(const QString &file, sqlite3 **db, QString *error);

// Creates an empty file for its owner alone (0600) when there is none, and the folder above it (0700)
// when that is missing. True when the file exists afterwards.
bool createPrivateFile(const QString &file, QString *error = nullptr);

} // namespace platform
