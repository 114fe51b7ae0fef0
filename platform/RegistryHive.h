#pragma once
// A registry hive kept in one SQLite file: a tree of keys, each with typed values. Value enumeration
// keeps creation order (an overwritten value keeps its place); subkeys enumerate sorted without regard
// to case. Key and value names compare without regard to case, as on Windows. Several processes may
// read and write the same file at once; a multi-value save runs in one transaction.
#include "Paths.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

struct sqlite3;

namespace platform {

enum RegType : quint32 { RegNone = 0, RegSz = 1, RegBinary = 3, RegDword = 4 };

struct RegValue {
    QString name;
    quint32 type = RegNone;
    QByteArray data;
};

// Bytes of a REG_SZ value: UTF-8 with the terminating NUL, as Windows stores strings.
QByteArray regSzBytes(const QString &text);
// Text of a REG_SZ value: up to the first NUL, read with the 8-bit text rule.
QString regSzText(const QByteArray &data);
QByteArray regDwordBytes(quint32 v);

class RegistryHive {
public:
    explicit RegistryHive(QString file);
    explicit RegistryHive(RegRoot root);
    ~RegistryHive();
    RegistryHive(const RegistryHive &) = delete;
    RegistryHive &operator=(const RegistryHive &) = delete;

    const QString &fileName() const { return m_file; }

    bool keyExists(const QString &path);
    // Creates the key with all keys above it; false when the hive cannot be written.
    bool createKey(const QString &path);
    bool readValue(const QString &path, const QString &name, RegValue *out);
    // The key must exist, as an open key handle must on Windows.
    bool setValue(const QString &path, const QString &name, quint32 type, const QByteArray &data);
    bool deleteValue(const QString &path, const QString &name);
    // Fails when the key has subkeys, like RegDeleteKey.
    bool deleteKey(const QString &path);
    // The key and everything below it.
    bool deleteTree(const QString &path);
    std::optional<QList<RegValue>> values(const QString &path);
    std::optional<QStringList> subKeyNames(const QString &path);

    // One transaction at a time per hive object; nested begin() calls only count.
    bool begin();
    bool commit();
    void rollback();

    QString lastError() const { return m_error; }
    // The file is there but is no readable store (not a database, or a damaged one).
    bool isDamaged() const { return m_damaged; }
    // When set, a damaged file is renamed aside (".beschaedigt-<time>") and a fresh store begins.
    void setRecoverDamaged(bool on) { m_recoverDamaged = on; }
    // Where a damaged file was put, or empty.
    QString setAsideTo() const { return m_setAsideTo; }

    static QStringList splitPath(const QString &path);

private:
    bool open(bool forWrite);
    bool openFile(bool forWrite);
    std::optional<qint64> findKey(const QStringList &parts);
    // The key to delete at path, opened for writing; none for the root or a missing key.
    std::optional<qint64> deletableKey(const QString &path);
    bool exec(const char *sql);

    QString m_file;
    sqlite3 *m_db = nullptr;
    bool m_writable = false;
    int m_txDepth = 0;
    QString m_error;
    bool m_damaged = false;
    bool m_recoverDamaged = false;
    QString m_setAsideTo;
};

// Rolls back unless committed.
class RegTransaction {
public:
    explicit RegTransaction(RegistryHive &hive) : m_hive(hive), m_ok(hive.begin()) {}
    ~RegTransaction()
    {
        if (m_ok && !m_done)
            m_hive.rollback();
    }
    bool commit()
    {
        m_done = true;
        return m_ok && m_hive.commit();
    }

private:
    RegistryHive &m_hive;
    bool m_ok;
    bool m_done = false;
};

} // namespace platform
