#pragma once
// Typed access to a registry key addressed as an area plus a section, in the manner of an INI file.
// Integers and booleans are stored as text. Failures never throw: ErrorCode tells, the default returns.
#include "RegistryHive.h"

#include <QString>
#include <QStringList>

#include <memory>

struct TMemoryStream;

enum class HKEY { CURRENT_USER, LOCAL_MACHINE };

class TTheRegIniFile {
public:
    enum Error { ErrOK = 0, ErrRead = 1, ErrNotInteger = 2, ErrErase = 4, ErrWrite = 5 };

    TTheRegIniFile();
    // Works on the given hive in place of the current user's (a private one, such as the keys of a
    // .reg file read for an import).
    explicit TTheRegIniFile(std::unique_ptr<platform::RegistryHive> currentUser);
    ~TTheRegIniFile();

    HKEY RegKey = HKEY::CURRENT_USER;
    QString Area;
    QString Section;
    int ErrorCode() const { return m_error; }
    // Writes that failed since the last reset; lets a caller judge a whole series of writes.
    int WriteFailures() const { return m_writeFailures; }
    void ResetWriteFailures() { m_writeFailures = 0; }

    QString ReadString(const QString &name, const QString &def);
    void WriteString(const QString &name, const QString &text);
    int32_t ReadInteger(const QString &name, int32_t def);
    void WriteInteger(const QString &name, int32_t value);
    bool ReadBool(const QString &name, bool def);
    void WriteBool(const QString &name, bool value);
    void ReadBinary(const QString &name, TMemoryStream &stream);
    void WriteBinary(const QString &name, const TMemoryStream &stream);
    uint32_t ReadDWord(const QString &name, uint32_t def);
    void ReadValueNames(QStringList &list);
    void ReadSubKeyNames(QStringList &list);
    void EraseSection(bool deleteSelf);

    // The full key path of the operations: Area (trimmed of a leading backslash, with a trailing one)
    // followed by Section.
    QString KeyPath() const;
    // The hive of the current root key, for transactions spanning several operations.
    platform::RegistryHive &Hive();

private:
    bool needBoth();
    bool needArea();
    // Opens (creating when missing, as a read does on Windows) the key of the current path.
    bool ensureKey(const QString &path);
    bool readRaw(const QString &name, platform::RegValue *v);

    std::unique_ptr<platform::RegistryHive> m_user;
    std::unique_ptr<platform::RegistryHive> m_machine;
    int m_error = ErrOK;
    int m_writeFailures = 0;
};

QString BoolToYesNo(bool b);
