#pragma once
// Starting the user's mail program: the configured one, or the system's default mail client as
// registered for "mailto" links; starting a program by path; opening documents and links.
#include "DesktopEntry.h"

#include <QString>
#include <QStringList>

inline const QString kMailClientErrorText = QStringLiteral("Konnte E-Mail-Programm nicht öffnen!");
inline const QString kMailClientErrorCaption = QStringLiteral("Fehler");

// Cuts a registered "mailto" open command of the Windows registry form down to the program path:
// a quoted path is taken from between the quotes; otherwise the text before the first "/"; then the
// text before " -" and before "%1"; trailing blanks go.
QString CutMailClientCommand(const QString &commandLine);

using platform::DesktopExecArguments;
using platform::ReadDesktopExec;

// The program of a desktop entry's Exec value: a lone program as its full path (searched in PATH),
// several arguments as a command line that RunProcess's second attempt can split again.
QString DesktopExecCommand(const QString &exec);

// The desktop file of a desktop file ID in the applications folders of XDG_DATA_HOME and
// XDG_DATA_DIRS (a "vendor-name.desktop" ID may also live in "vendor/name.desktop"); empty if none.
QString FindDesktopFile(const QString &desktopId);

// The default mail client: on Linux the desktop's "mailto" handler (xdg-mime), on Windows the
// registered "mailto" command. Empty path and false when there is none.
bool GetDefaultMailClient(QString &path);

class TMyTools {
public:
    // Starts a program without waiting for it. First as the program named by path with the parameters
    // as its arguments (a path with blanks needs no quotes); failing that, as the command line
    // "path parameters". True when one attempt started it.
    bool RunProcess(const QString &path, const QString &parameters);
};

// Opens a document or URL with the desktop's handler; an empty target does nothing.
bool OpenWithShell(const QString &target);

// The launch of the mail program: the configured path when set, else the default mail client; an
// error box when it cannot be started.
bool LaunchEMailClient(TMyTools &tools, const QString &configuredClient);

// Hands a message file (.eml) to the user's mail program: the configured one with the file as its
// argument, else the desktop's handler for messages. False when neither starts.
bool OpenMessageFile(TMyTools &tools, const QString &configuredClient, const QString &file);
