#include "AutoStart.h"

#include "DesktopEntry.h"
#include "Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QString entryIn(const QString &folder)
{
    return QDir(folder).filePath(QLatin1String(kAutoStartEntryName));
}

bool present(const QString &file)
{
    const QFileInfo info(file);
    return info.exists() || info.isSymLink();
}

// The entry the desktop starts from: the user's one overrides a system-wide one of the same name.
QString effectiveEntry()
{
    const QString user = entryIn(UserAutoStartFolder());
    if (present(user))
        return user;
    for (const QString &folder : SystemAutoStartFolders())
        if (present(entryIn(folder)))
            return entryIn(folder);
    return QString();
}

// The file a program name leads to. On a case-sensitive file system two names that differ only in
// letter case are two different files, so a case-blind comparison could take another program for this
// one. What upper-casing achieves on Windows - several spellings of one path comparing equal - is done
// here by resolving links, "." and ".." and a bare name looked up in PATH, and then comparing exactly.
QString resolvedProgram(const QString &program)
{
    const QString path = program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
    return path.isEmpty() ? QString() : QFileInfo(path).canonicalFilePath();
}

bool entryStarts(const QString &entryFile, const QString &program)
{
    if (entryFile.isEmpty())
        return false;
    const QHash<QString, QString> entry = ReadDesktopEntry(entryFile);
    if (entry.value(QStringLiteral("Hidden")) == QLatin1String("true") ||
        entry.value(QStringLiteral("X-GNOME-Autostart-enabled")) == QLatin1String("false"))
        return false;
    // Only the program itself, as this program writes it; anything more is someone else's command.
    const QStringList args = DesktopExecArguments(entry.value(QStringLiteral("Exec")));
    if (args.size() != 1)
        return false;
    const QString ours = resolvedProgram(program);
    return !ours.isEmpty() && resolvedProgram(args.first()) == ours;
}

QString programOrRunning(const QString &program)
{
    return program.isEmpty() ? programFile() : program;
}

QByteArray entryText(const QString &program, bool hidden)
{
    QString text = QStringLiteral("[Desktop Entry]\n"
                                  "Type=Application\n"
                                  "Name=Quarvel\n"
                                  "Comment=Prüft die POP3-Postfächer und entfernt Spam auf dem Server\n"
                                  "Exec=%1\n"
                                  "Icon=quarvel\n"
                                  "Terminal=false\n")
                       .arg(DesktopExecValue(program));
    text += hidden ? QStringLiteral("Hidden=true\n") : QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

// Writes the entry beside its final name and renames it over the old one, so that a failed write
// never leaves half an entry behind.
int writeEntry(const QByteArray &text)
{
    const QString folder = UserAutoStartFolder();
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir() || ::access(QFile::encodeName(folder).constData(), W_OK) != 0)
        return kAutoStartAccessDenied;
    QByteArray temp = QFile::encodeName(folder + QStringLiteral("/.") + QLatin1String(kAutoStartEntryName) +
                                        QStringLiteral(".XXXXXX"));
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return errno;
    int error = 0;
    for (qsizetype done = 0; done < text.size() && error == 0;) {
        const ssize_t n = ::write(fd, text.constData() + done, size_t(text.size() - done));
        if (n < 0 && errno != EINTR)
            error = errno;
        else if (n > 0)
            done += n;
    }
    if (error == 0 && ::fchmod(fd, 0644) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.constData(), QFile::encodeName(entryIn(folder)).constData()) != 0)
        error = errno;
    if (error != 0)
        ::unlink(temp.constData());
    return error;
}

QString profileFolder(const char *name)
{
    const QString profile = profileOverride();
    return profile.isEmpty() ? QString() : QDir(profile).filePath(QLatin1String(name));
}

} // namespace

QString UserAutoStartFolder()
{
    const QString profiled = profileFolder("autostart");
    if (!profiled.isEmpty())
        return profiled;
    QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return QDir(config).filePath(QStringLiteral("autostart"));
}

QStringList SystemAutoStartFolders()
{
    const QString profiled = profileFolder("autostart-system");
    if (!profiled.isEmpty())
        return {profiled};
    QStringList folders;
    const QStringList dirs = qEnvironmentVariable("XDG_CONFIG_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &dir : dirs)
        if (QDir::isAbsolutePath(dir)) // relative entries are invalid and ignored
            folders << QDir(dir).filePath(QStringLiteral("autostart"));
    if (folders.isEmpty())
        folders << QStringLiteral("/etc/xdg/autostart");
    return folders;
}

bool IsAutoStartEnabled(const QString &program)
{
    return entryStarts(effectiveEntry(), programOrRunning(program));
}

int SetAutoStart(bool enable, const QString &program)
{
    const QString prog = programOrRunning(program);
    if (enable)
        return writeEntry(entryText(prog, false));

    if (!IsAutoStartEnabled(prog))
        return kAutoStartAccessDenied;
    const QString user = entryIn(UserAutoStartFolder());
    if (present(user) && ::unlink(QFile::encodeName(user).constData()) != 0)
        return errno;
    // A system-wide entry is not this user's to delete (that would switch it off for every user); the
    // user's own entry of the same name marked Hidden switches it off for this user alone.
    if (IsAutoStartEnabled(prog))
        return writeEntry(entryText(prog, true));
    return 0;
}

} // namespace platform
