#include "MailClientLaunch.h"

#include "MsgBox.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#ifdef Q_OS_WIN
#include <QSettings>
#endif

namespace {

QString registryMailCommand()
{
#ifdef Q_OS_WIN
    const QSettings s(QStringLiteral("HKEY_CLASSES_ROOT\\mailto\\shell\\open\\command"), QSettings::NativeFormat);
    return s.value(QStringLiteral("Default")).toString();
#else
    return QString();
#endif
}

// The desktop's handler of mailto links, as a desktop file ID.
QString xdgMailtoHandler()
{
    QProcess p;
    p.start(QStringLiteral("xdg-mime"),
            {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("x-scheme-handler/mailto")});
    if (!p.waitForStarted(5000))
        return QString();
    p.closeWriteChannel();
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(2000);
        return QString();
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QString();
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    return out.section(QLatin1Char('\n'), 0, 0).section(QLatin1Char(';'), 0, 0).trimmed();
}

QStringList applicationFolders()
{
    QStringList dirs;
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty())
        home = QDir::homePath() + QStringLiteral("/.local/share");
    dirs << home;
    QString system = qEnvironmentVariable("XDG_DATA_DIRS");
    if (system.isEmpty())
        system = QStringLiteral("/usr/local/share:/usr/share");
    dirs << system.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    QStringList result;
    for (const QString &d : dirs)
        result << QDir(d).filePath(QStringLiteral("applications"));
    return result;
}

// An argument as QProcess::splitCommand reads it back.
QString quoteArgument(const QString &arg)
{
    if (!arg.isEmpty() && !arg.contains(QLatin1Char(' ')) && !arg.contains(QLatin1Char('\t')) &&
        !arg.contains(QLatin1Char('"')))
        return arg;
    QString q = arg;
    q.replace(QLatin1String("\""), QLatin1String("\"\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

} // namespace

QString CutMailClientCommand(const QString &commandLine)
{
    QString s = commandLine;
    const qsizetype quote = s.indexOf(QLatin1Char('"'));
    if (quote >= 0) {
        s.remove(quote, 1);
        const qsizetype next = s.indexOf(QLatin1Char('"'), quote);
        if (next >= 0)
            s.truncate(next);
    } else if (const qsizetype slash = s.indexOf(QLatin1Char('/')); slash >= 0) {
        s.truncate(slash);
    }
    if (const qsizetype dash = s.indexOf(QLatin1String(" -")); dash >= 0)
        s.truncate(dash);
    if (const qsizetype placeholder = s.indexOf(QLatin1String("%1")); placeholder >= 0)
        s.truncate(placeholder);
    while (s.endsWith(QLatin1Char(' ')))
        s.chop(1);
    return s;
}

QString DesktopExecCommand(const QString &exec)
{
    QStringList args = DesktopExecArguments(exec);
    if (args.isEmpty())
        return QString();
    if (!args[0].contains(QLatin1Char('/'))) {
        const QString found = QStandardPaths::findExecutable(args[0]);
        if (!found.isEmpty())
            args[0] = found;
    }
    if (args.size() == 1)
        return args[0];
    QStringList quoted;
    for (const QString &a : args)
        quoted << quoteArgument(a);
    return quoted.join(QLatin1Char(' '));
}

QString FindDesktopFile(const QString &desktopId)
{
    if (desktopId.isEmpty() || desktopId.contains(QLatin1Char('/')) || !desktopId.endsWith(QLatin1String(".desktop")))
        return QString();
    for (const QString &dir : applicationFolders()) {
        const QString direct = QDir(dir).filePath(desktopId);
        if (QFileInfo(direct).isFile())
            return direct;
        // "vendor-name.desktop" may be kept as "vendor/name.desktop", at any dash.
        for (qsizetype dash = desktopId.indexOf(QLatin1Char('-')); dash > 0;
             dash = desktopId.indexOf(QLatin1Char('-'), dash + 1)) {
            QString rel = desktopId;
            rel[dash] = QLatin1Char('/');
            const QString nested = QDir(dir).filePath(rel);
            if (QFileInfo(nested).isFile())
                return nested;
        }
    }
    return QString();
}

bool GetDefaultMailClient(QString &path)
{
    path.clear();
    const QString registered = registryMailCommand();
    if (!registered.isEmpty()) {
        path = CutMailClientCommand(registered);
    } else {
        const QString file = FindDesktopFile(xdgMailtoHandler());
        if (!file.isEmpty())
            path = DesktopExecCommand(ReadDesktopExec(file));
    }
    return !path.isEmpty();
}

bool TMyTools::RunProcess(const QString &path, const QString &parameters)
{
    if (!path.isEmpty() && QProcess::startDetached(path, QProcess::splitCommand(parameters)))
        return true;
    QStringList command = QProcess::splitCommand(path + QLatin1Char(' ') + parameters);
    if (command.isEmpty())
        return false;
    const QString program = command.takeFirst();
    return QProcess::startDetached(program, command);
}

bool OpenWithShell(const QString &target)
{
    if (target.isEmpty())
        return false;
    const QFileInfo file(target);
    const QUrl url = file.exists() ? QUrl::fromLocalFile(file.absoluteFilePath()) : QUrl::fromUserInput(target);
    return url.isValid() && QDesktopServices::openUrl(url);
}

bool OpenMessageFile(TMyTools &tools, const QString &configuredClient, const QString &file)
{
    if (!configuredClient.isEmpty())
        return tools.RunProcess(configuredClient, QLatin1Char('"') + file + QLatin1Char('"'));
    return OpenWithShell(file);
}

bool LaunchEMailClient(TMyTools &tools, const QString &configuredClient)
{
    QString path = configuredClient;
    if (path.isEmpty())
        GetDefaultMailClient(path);
    if (tools.RunProcess(path, QString()))
        return true;
    ShowMsgBox(kMailClientErrorText, kMailClientErrorCaption, MsgError, BtnOK);
    return false;
}
