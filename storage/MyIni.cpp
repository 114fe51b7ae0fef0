#include "MyIni.h"

#include "MsgBox.h"
#include "Paths.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

TTheIniFile::TTheIniFile() : m_progDir(platform::programFolder()) {}

QString TTheIniFile::WinDir()
{
    return QStringLiteral("/etc/");
}

void TTheIniFile::SetIniFileName(const QString &name)
{
    m_fileName = name;
    SetOpen(false);
}

void TTheIniFile::SetDefFilePath(const QString &path)
{
    m_defFilePath = platform::withTrailingSlash(path);
}

QString TTheIniFile::FilePath() const
{
    switch (IniLocation) {
    case loWinDir: return WinDir() + m_fileName;
    case loProgDir: return m_progDir + m_fileName;
    case loUser: return m_fileName;
    case loDefUser: return m_defFilePath + m_fileName;
    }
    return m_fileName;
}

void TTheIniFile::SetOpen(bool open)
{
    m_open = false;
    m_ini = platform::IniFile();
    if (!open)
        return;
    m_error = 0;
    const QString path = FilePath();
    const QByteArray native = QFile::encodeName(path);
    if (!QFileInfo::exists(path)) {
        m_error = 2;
        // Make sure the file could be created, then leave no trace of the test.
        const int fd = ::open(native.constData(), O_CREAT | O_EXCL | O_WRONLY, 0644);
        if (fd < 0) {
            // A missing folder must not read as code 2, which means "file not there, folder fine".
            m_error = (errno == ENOENT || errno == ENOTDIR) ? 3 : errno;
            return;
        }
        ::close(fd);
        ::unlink(native.constData());
        m_open = true;
        return;
    }
    // There is no read-only attribute to clear here: reading a read-only file is fine, and opening
    // never changes another program's file.
    if (!m_ini.load(path)) {
        m_error = 5;
        ShowMsgBox(QStringLiteral("Kann Schreibschutz von ") + path
                       + QStringLiteral(" nicht entfernen! / Can't remove R/W flag."),
                   QString::fromLatin1(platform::kProductName), MsgError, BtnOK);
        return;
    }
    m_open = true;
}

bool TTheIniFile::ready()
{
    if (Section.isEmpty() || m_fileName.isEmpty() || !m_open) {
        m_error = -1;
        return false;
    }
    return true;
}

QString TTheIniFile::ReadString(const QString &key, const QString &def)
{
    if (!ready())
        return def;
    bool found = false;
    const QString v = m_ini.value(Section, key, &found);
    if (!found || v == QLatin1String(kIniErrorSentinel)) {
        m_error = -1;
        return def;
    }
    m_error = 0;
    return v;
}

int32_t TTheIniFile::ReadInteger(const QString &key, int32_t def)
{
    const QString s = ReadString(key, QString());
    if (m_error != 0)
        return def;
    bool ok = false;
    const int v = s.toInt(&ok);
    if (!ok) {
        m_error = -2;
        return def;
    }
    return v;
}

void TTheIniFile::ReadSection(QStringList &list)
{
    list.clear();
    if (!ready())
        return;
    list = m_ini.keys(Section);
    m_error = list.isEmpty() ? -1 : 0;
}
