#pragma once
// Reads strings, integers and key lists from one section of an INI file in one of four locations.
// Opening never changes the file; failures set ErrorCode and give the caller's default.
#include "IniFile.h"

#include <QString>
#include <QStringList>

enum TIniLocation { loWinDir = 0, loProgDir = 1, loUser = 2, loDefUser = 3 };

class TTheIniFile {
public:
    TTheIniFile();

    QString IniFileName() const { return m_fileName; }
    void SetIniFileName(const QString &name);
    QString Section;
    TIniLocation IniLocation = loProgDir;
    int ErrorCode() const { return m_error; }
    QString DefFilePath() const { return m_defFilePath; }
    void SetDefFilePath(const QString &path);
    bool Open() const { return m_open; }
    void SetOpen(bool open);

    QString ReadString(const QString &key, const QString &def);
    int32_t ReadInteger(const QString &key, int32_t def);
    void ReadSection(QStringList &list);

    // The path the file is opened from.
    QString FilePath() const;
    // The system-wide folder that stands for the Windows folder ("/etc/" here).
    static QString WinDir();

private:
    bool ready();

    QString m_fileName;
    QString m_defFilePath;
    QString m_progDir;
    bool m_open = false;
    int m_error = 0;
    platform::IniFile m_ini;
};

inline constexpr const char *kIniErrorSentinel = "INIERROR";
