#include "SqlStatement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool sqlExec(sqlite3 *db, const char *sql, QString *error)
{
    char *err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) == SQLITE_OK)
        return true;
    if (error)
        *error = QString::fromUtf8(err ? err : "sqlite error");
    sqlite3_free(err);
    return false;
}

bool createPrivateFile(const QString &file, QString *error)
{
    const QFileInfo fi(file);
    if (fi.exists())
        return true;
    const QString dir = fi.absolutePath();
    if (!QDir(dir).exists()) {
        if (!QDir().mkpath(dir)) {
            if (error)
                *error = QStringLiteral("cannot create ") + dir;
            return false;
        }
        ::chmod(QFile::encodeName(dir).constData(), 0700);
    }
    const int fd = ::open(QFile::encodeName(file).constData(), O_CREAT | O_WRONLY, 0600);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("cannot create ") + file;
        return false;
    }
    ::close(fd);
    return true;
}

bool openPrivateStore(const QString &file, sqlite3 **db, QString *error)
{
    *db = nullptr;
    if (!createPrivateFile(file, error))
        return false;
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        if (error)
            *error = QString::fromUtf8(*db ? sqlite3_errmsg(*db) : "sqlite error");
        sqlite3_close(*db);
        *db = nullptr;
        return false;
    }
    sqlite3_busy_timeout(*db, kStoreBusyTimeoutMs);
    if (!sqlExec(*db, "PRAGMA journal_mode=WAL", error)) {
        sqlite3_close(*db);
        *db = nullptr;
        return false;
    }
    return true;
}

} // namespace platform
