#pragma once
// Desktop entries (".desktop" files): the group "[Desktop Entry]" read into key/value pairs, the Exec
// value split into arguments and written back with its quoting rules.
#include <QHash>
#include <QString>
#include <QStringList>

namespace platform {

// The keys of the group "[Desktop Entry]" with their string values unescaped (\s, \n, \t, \r, \\);
// the first occurrence of a key wins, localized keys ("Name[de]") keep their suffix. Empty when the
// path is not a regular file or cannot be read.
QHash<QString, QString> ReadDesktopEntry(const QString &desktopFile);

// The Exec value of the group "[Desktop Entry]" of a desktop file; empty if none.
QString ReadDesktopExec(const QString &desktopFile);

// The arguments of a desktop entry's Exec value (its quoting rules), without the field codes
// (%u, %U, %f, ...); "%%" stands for "%".
QStringList DesktopExecArguments(const QString &exec);

// One argument as Exec text (quoted when it holds a reserved character, "%" doubled), escaped as a
// string value, so that reading the file and DesktopExecArguments give the argument back.
QString DesktopExecValue(const QString &argument);

} // namespace platform
