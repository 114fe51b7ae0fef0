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

// Unescapes a desktop-file string value (\s, \n, \t, \r, \\).
QString unescapeValue(const QString &v)
{
    QString out;
    for (qsizetype i = 0; i < v.size(); ++i) {
        if (v[i] != QLatin1Char('\\') || i + 1 == v.size()) {
            out += v[i];
            continue;
        }
        const QChar c = v[++i];
        if (c == QLatin1Char('s'))
            out += QLatin1Char(' ');
        else if (c == QLatin1Char('n'))
            out += QLatin1Char('\n');
        else if (c == QLatin1Char('t'))
            out += QLatin1Char('\t');
        else if (c == QLatin1Char('r'))
            out += QLatin1Char('\r');
        else if (c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        else
            out += QLatin1Char('\\') + QString(c);
    }
    return out;
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

QStringList DesktopExecArguments(const QString &exec)
{
    // Split by the Exec quoting rules: blanks separate, double quotes group, and inside quotes a
    // backslash takes the next character literally.
    QStringList raw;
    QString current;
    bool inArg = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < exec.size())
                current += exec[++i];
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                current += c;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
            inArg = true;
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inArg)
                raw << current;
            current.clear();
            inArg = false;
        } else {
            current += c;
            inArg = true;
        }
    }
    if (inArg)
        raw << current;

    QStringList args;
    for (const QString &a : raw) {
        QString out;
        bool hadFieldCode = false;
        for (qsizetype i = 0; i < a.size(); ++i) {
            if (a[i] == QLatin1Char('%') && i + 1 < a.size()) {
                if (a[i + 1] == QLatin1Char('%'))
                    out += QLatin1Char('%');
                else
                    hadFieldCode = true;
                ++i;
            } else {
                out += a[i];
            }
        }
        // An argument that was only field codes (the link, the files) goes with them.
        if (!(hadFieldCode && out.isEmpty()))
            args << out;
    }
    return args;
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

QString ReadDesktopExec(const QString &desktopFile)
{
    QFile f(desktopFile);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    bool inEntry = false;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine(64 * 1024)).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inEntry || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && line.left(eq).trimmed() == QLatin1String("Exec"))
            return unescapeValue(line.mid(eq + 1).trimmed());
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
