#include "DesktopEntry.h"

#include <QFile>
#include <QFileInfo>

namespace platform {

namespace {

// A desktop entry is a small text file; anything larger is not one, and a line has a sane length.
constexpr qint64 kMaxEntrySize = 1024 * 1024;
constexpr qint64 kMaxLineLength = 64 * 1024;

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

// The reverse of unescapeValue for the characters a value cannot hold as they are.
QString escapeValue(const QString &v)
{
    QString out;
    for (const QChar c : v) {
        if (c == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            out += QLatin1String("\\t");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else
            out += c;
    }
    return out;
}

} // namespace

QHash<QString, QString> ReadDesktopEntry(const QString &desktopFile)
{
    QHash<QString, QString> entry;
    // Only a regular file: opening a pipe or a device here could block for ever.
    const QFileInfo info(desktopFile);
    if (!info.isFile() || info.size() > kMaxEntrySize)
        return entry;
    QFile f(desktopFile);
    if (!f.open(QIODevice::ReadOnly))
        return entry;
    bool inEntry = false;
    while (!f.atEnd() && f.pos() <= kMaxEntrySize) {
        const QString line = QString::fromUtf8(f.readLine(kMaxLineLength)).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inEntry || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        if (!entry.contains(key))
            entry.insert(key, unescapeValue(line.mid(eq + 1).trimmed()));
    }
    return entry;
}

QString ReadDesktopExec(const QString &desktopFile)
{
    return ReadDesktopEntry(desktopFile).value(QStringLiteral("Exec"));
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

QString DesktopExecValue(const QString &argument)
{
    // The reserved characters of the Exec key: an argument holding one of them must be quoted.
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = argument.isEmpty();
    for (const QChar c : argument)
        needsQuotes = needsQuotes || reserved.contains(c);
    QString exec;
    if (needsQuotes)
        exec += QLatin1Char('"');
    for (const QChar c : argument) {
        if (c == QLatin1Char('%'))
            exec += QLatin1String("%%");
        else if (needsQuotes && (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                                 c == QLatin1Char('\\')))
            exec += QLatin1Char('\\') + QString(c);
        else
            exec += c;
    }
    if (needsQuotes)
        exec += QLatin1Char('"');
    return escapeValue(exec);
}

} // namespace platform
