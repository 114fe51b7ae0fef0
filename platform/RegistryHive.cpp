#include "RegistryHive.h"
#include "SqlStatement.h"
#include "TextCodec.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace platform {

namespace {

QString fold(const QString &name)
{
    return name.toUpper();
}

using Stmt = SqlStatement;

const char *kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    " id INTEGER PRIMARY KEY, parent INTEGER NOT NULL, name TEXT NOT NULL, fold TEXT NOT NULL,"
    " UNIQUE(parent, fold));"
    "CREATE TABLE IF NOT EXISTS vals("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, key INTEGER NOT NULL, name TEXT NOT NULL, fold TEXT NOT NULL,"
    " type INTEGER NOT NULL, data BLOB NOT NULL, UNIQUE(key, fold));";

} // namespace

QByteArray regSzBytes(const QString &text)
{
    QByteArray b = text.toUtf8();
    b.append('\0');
    return b;
}

QString regSzText(const QByteArray &data)
{
    const qsizetype nul = data.indexOf('\0');
    return decode8bit(nul < 0 ? data : data.left(nul));
}

QByteArray regDwordBytes(quint32 v)
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((v >> (8 * i)) & 0xFF);
    return b;
}

RegistryHive::RegistryHive(QString file) : m_file(std::move(file)) {}
RegistryHive::RegistryHive(RegRoot root) : m_file(registryFile(root)) {}

RegistryHive::~RegistryHive()
{
    if (m_db) {
        if (m_txDepth > 0)
            exec("ROLLBACK");
        sqlite3_close(m_db);
    }
}

QStringList RegistryHive::splitPath(const QString &path)
{
    return path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
}

bool RegistryHive::exec(const char *sql)
{
    return sqlExec(m_db, sql, &m_error);
}

bool RegistryHive::open(bool forWrite)
{
    if (m_db && (m_writable || !forWrite))
        return true;
    if (openFile(forWrite))
        return true;
    if (!m_damaged || !m_recoverDamaged)
        return false;
    // Keep the damaged store beside, renamed, and start afresh: settings fall back to their defaults,
    // and nothing of the old file is lost.
    const QString suffix = QStringLiteral(".beschaedigt-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (const char *part : {"", "-wal", "-shm"}) {
        const QString from = m_file + QLatin1String(part);
        if (QFileInfo::exists(from))
            QFile::rename(from, m_file + suffix + QLatin1String(part));
    }
    m_setAsideTo = m_file + suffix;
    m_damaged = false;
    return openFile(forWrite);
}

bool RegistryHive::openFile(bool forWrite)
{
    if (m_db) {
        if (m_txDepth > 0)
            return false;
        sqlite3_close(m_db);
        m_db = nullptr;
    }
    if (!QFileInfo::exists(m_file)) {
        if (!forWrite) {
            m_error = QStringLiteral("no such hive");
            return false;
        }
        // Settings hold enciphered passwords: folder 0700, file 0600 from the start.
        if (!createPrivateFile(m_file, &m_error))
            return false;
    }
    // A hive we may write is always opened for writing: WAL readers need to create the shared-memory file.
    if (QFileInfo(m_file).isWritable())
        forWrite = true;
    const int flags = forWrite ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;
    const auto fail = [this] {
        const int code = sqlite3_errcode(m_db) & 0xFF;
        m_damaged = code == SQLITE_NOTADB || code == SQLITE_CORRUPT;
        m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_close(m_db);
        m_db = nullptr;
        return false;
    };
    if (sqlite3_open_v2(QFile::encodeName(m_file).constData(), &m_db, flags | SQLITE_OPEN_FULLMUTEX, nullptr)
        != SQLITE_OK)
        return fail();
    sqlite3_busy_timeout(m_db, kStoreBusyTimeoutMs);
    m_writable = forWrite;
    if (forWrite) {
        // WAL lets a second process read while this one writes.
        if (!exec("PRAGMA journal_mode=WAL") || !exec(kSchema))
            return fail();
    } else {
        Stmt st(m_db, "SELECT 1 FROM keys LIMIT 1");
        if (!st.ok()) { // a file that is no hive (or an empty new one) reads as empty
            fail();
            if (!m_damaged)
                m_error = QStringLiteral("not a registry hive");
            return false;
        }
    }
    return true;
}

std::optional<qint64> RegistryHive::findKey(const QStringList &parts)
{
    qint64 id = 0; // 0 is the hive's root
    Stmt st(m_db, "SELECT id FROM keys WHERE parent=? AND fold=?");
    if (!st.ok())
        return std::nullopt;
    for (const QString &p : parts) {
        sqlite3_reset(st.s);
        st.bind(1, id);
        st.bind(2, fold(p));
        if (st.step() != SQLITE_ROW)
            return std::nullopt;
        id = st.integer(0);
    }
    return id;
}

bool RegistryHive::keyExists(const QString &path)
{
    return open(false) && findKey(splitPath(path)).has_value();
}

bool RegistryHive::createKey(const QString &path)
{
    if (!open(true))
        return false;
    const QStringList parts = splitPath(path);
    if (findKey(parts))
        return true;
    RegTransaction tx(*this);
    qint64 id = 0;
    for (const QString &p : parts) {
        {
            Stmt ins(m_db, "INSERT OR IGNORE INTO keys(parent, name, fold) VALUES(?,?,?)");
            ins.bind(1, id);
            ins.bind(2, p);
            ins.bind(3, fold(p));
            if (ins.step() != SQLITE_DONE) {
                m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
                return false;
            }
        }
        Stmt sel(m_db, "SELECT id FROM keys WHERE parent=? AND fold=?");
        sel.bind(1, id);
        sel.bind(2, fold(p));
        if (sel.step() != SQLITE_ROW)
            return false;
        id = sel.integer(0);
    }
    return tx.commit();
}

bool RegistryHive::readValue(const QString &path, const QString &name, RegValue *out)
{
    if (!open(false))
        return false;
    const auto key = findKey(splitPath(path));
    if (!key)
        return false;
    Stmt st(m_db, "SELECT name, type, data FROM vals WHERE key=? AND fold=?");
    st.bind(1, *key);
    st.bind(2, fold(name));
    if (st.step() != SQLITE_ROW)
        return false;
    if (out) {
        out->name = st.text(0);
        out->type = quint32(st.integer(1));
        out->data = st.blob(2);
    }
    return true;
}

bool RegistryHive::setValue(const QString &path, const QString &name, quint32 type, const QByteArray &data)
{
    if (!open(true))
        return false;
    const auto key = findKey(splitPath(path));
    if (!key) {
        m_error = QStringLiteral("no such key");
        return false;
    }
    // Upsert keeps the row id, so an overwritten value keeps its place in the enumeration.
    Stmt st(m_db, "INSERT INTO vals(key, name, fold, type, data) VALUES(?,?,?,?,?) "
                  "ON CONFLICT(key, fold) DO UPDATE SET type=excluded.type, data=excluded.data");
    st.bind(1, *key);
    st.bind(2, name);
    st.bind(3, fold(name));
    st.bind(4, qint64(type));
    st.bindBlob(5, data);
    if (st.step() != SQLITE_DONE) {
        m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
        return false;
    }
    return true;
}

bool RegistryHive::deleteValue(const QString &path, const QString &name)
{
    if (!open(true))
        return false;
    const auto key = findKey(splitPath(path));
    if (!key)
        return false;
    Stmt st(m_db, "DELETE FROM vals WHERE key=? AND fold=?");
    st.bind(1, *key);
    st.bind(2, fold(name));
    return st.step() == SQLITE_DONE && sqlite3_changes(m_db) > 0;
}

std::optional<qint64> RegistryHive::deletableKey(const QString &path)
{
    // The hive's root itself is never deleted.
    const QStringList parts = splitPath(path);
    if (parts.isEmpty() || !open(true))
        return std::nullopt;
    return findKey(parts);
}

bool RegistryHive::deleteKey(const QString &path)
{
    const auto key = deletableKey(path);
    if (!key)
        return false;
    {
        Stmt sub(m_db, "SELECT 1 FROM keys WHERE parent=? LIMIT 1");
        sub.bind(1, *key);
        if (sub.step() == SQLITE_ROW) {
            m_error = QStringLiteral("key has subkeys");
            return false;
        }
    }
    RegTransaction tx(*this);
    Stmt dv(m_db, "DELETE FROM vals WHERE key=?");
    dv.bind(1, *key);
    Stmt dk(m_db, "DELETE FROM keys WHERE id=?");
    dk.bind(1, *key);
    if (dv.step() != SQLITE_DONE || dk.step() != SQLITE_DONE)
        return false;
    return tx.commit();
}

bool RegistryHive::deleteTree(const QString &path)
{
    const auto key = deletableKey(path);
    if (!key)
        return false;
    RegTransaction tx(*this);
    const char *tree = "WITH RECURSIVE t(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN t ON k.parent=t.id) ";
    Stmt dv(m_db, (QByteArray(tree) + "DELETE FROM vals WHERE key IN (SELECT id FROM t)").constData());
    dv.bind(1, *key);
    if (dv.step() != SQLITE_DONE)
        return false;
    Stmt dk(m_db, (QByteArray(tree) + "DELETE FROM keys WHERE id IN (SELECT id FROM t)").constData());
    dk.bind(1, *key);
    if (dk.step() != SQLITE_DONE)
        return false;
    return tx.commit();
}

std::optional<QList<RegValue>> RegistryHive::values(const QString &path)
{
    if (!open(false))
        return std::nullopt;
    const auto key = findKey(splitPath(path));
    if (!key)
        return std::nullopt;
    Stmt st(m_db, "SELECT name, type, data FROM vals WHERE key=? ORDER BY id");
    st.bind(1, *key);
    QList<RegValue> out;
    while (st.step() == SQLITE_ROW)
        out.append(RegValue{st.text(0), quint32(st.integer(1)), st.blob(2)});
    return out;
}

std::optional<QStringList> RegistryHive::subKeyNames(const QString &path)
{
    if (!open(false))
        return std::nullopt;
    const auto key = findKey(splitPath(path));
    if (!key)
        return std::nullopt;
    Stmt st(m_db, "SELECT name FROM keys WHERE parent=? ORDER BY fold");
    st.bind(1, *key);
    QStringList out;
    while (st.step() == SQLITE_ROW)
        out.append(st.text(0));
    return out;
}

bool RegistryHive::begin()
{
    if (!open(true))
        return false;
    if (m_txDepth++ > 0)
        return true;
    // IMMEDIATE takes the write lock now, so a concurrent writer waits instead of failing midway.
    if (!exec("BEGIN IMMEDIATE")) {
        m_txDepth = 0;
        return false;
    }
    return true;
}

bool RegistryHive::commit()
{
    if (m_txDepth == 0)
        return false;
    if (--m_txDepth > 0)
        return true;
    if (!exec("COMMIT")) {
        exec("ROLLBACK");
        return false;
    }
    return true;
}

void RegistryHive::rollback()
{
    if (m_txDepth == 0)
        return;
    m_txDepth = 0;
    exec("ROLLBACK");
}

} // namespace platform
