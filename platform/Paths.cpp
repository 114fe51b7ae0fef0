#include "Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace platform {

QString withTrailingSlash(const QString &path)
{
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')))
        return path;
    return path + QLatin1Char('/');
}

QString profileOverride()
{
    return qEnvironmentVariable(kProfileEnv);
}

QString registryFile(RegRoot root)
{
    const QString profile = profileOverride();
    const char *file = root == RegRoot::CurrentUser ? "user.db" : "machine.db";
    if (!profile.isEmpty())
        return QDir(profile).filePath(QStringLiteral("registry/") + QLatin1String(file));
    if (root == RegRoot::CurrentUser) {
        const QString cfg = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        return QDir(cfg).filePath(QLatin1String(kProductName) + QStringLiteral("/") + QLatin1String(file));
    }
    // Machine-wide values: like HKEY_LOCAL_MACHINE, only an administrator may write here.
    return QStringLiteral("/var/lib/quarvel/") + QLatin1String(file);
}

QString programFile()
{
    QString file;
    if (QCoreApplication::instance())
        file = QCoreApplication::applicationFilePath();
    if (file.isEmpty())
        file = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return file;
}

QString programFolder()
{
    const QString file = programFile();
    return file.isEmpty() ? QString() : withTrailingSlash(QFileInfo(file).absolutePath());
}

QString appDataFolder()
{
    const QString profile = profileOverride();
    QString dir = profile.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                                    : QDir(profile).filePath(QStringLiteral("data"));
    if (dir.isEmpty())
        dir = QDir::homePath() + QStringLiteral("/.local/share");
    QDir().mkpath(dir);
    return dir;
}

bool makePrivateFolder(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo folder(QDir::cleanPath(path));
    if (folder.isDir())
        return true;
    // The folders above it are made as any other; only the data folder itself is private.
    const QString above = folder.absolutePath();
    if (!QDir().mkpath(above))
        return false;
    const QString own = folder.absoluteFilePath();
    return QDir().mkdir(own, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) || QFileInfo(own).isDir();
}

namespace {

// True when the folder lies inside the other (both as they really are, links resolved).
bool isInside(const QString &folder, const QString &outer)
{
    const QString inner = QFileInfo(folder).canonicalFilePath();
    const QString root = QFileInfo(outer).canonicalFilePath();
    return !inner.isEmpty() && !root.isEmpty() && (inner == root || inner.startsWith(withTrailingSlash(root)));
}

} // namespace

QString findDataFile(const QString &name, const QString &programDir)
{
    const QString prog = programDir.isEmpty() ? programFolder() : withTrailingSlash(programDir);
    QStringList candidates = {
        prog + name,
        prog + QStringLiteral("../share/quarvel/") + name,
    };
#if defined(QUARVEL_SOURCE_RESOURCES) && defined(QUARVEL_BUILD_TREE)
    // The source tree serves a program run where it was built, never an installed copy: that one must
    // find its own files, or nothing.
    if (isInside(prog, QStringLiteral(QUARVEL_BUILD_TREE)))
        candidates.append(QStringLiteral(QUARVEL_SOURCE_RESOURCES "/") + name);
#endif
    for (const QString &c : candidates)
        if (QFileInfo::exists(c))
            return QFileInfo(c).absoluteFilePath();
    return QString();
}

} // namespace platform
