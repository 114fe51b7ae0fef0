#pragma once
// The logon autostart entry: a desktop entry "quarvel.desktop" in the user's XDG autostart folder,
// which the desktop reads at logon to start programs for the user. The system-wide autostart folders
// play the part of the machine-wide list: an entry there starts the program unless the user's entry
// of the same name overrides it, exactly as the desktop itself decides.
#include <QString>
#include <QStringList>

namespace platform {

inline constexpr const char *kAutoStartEntryName = "quarvel.desktop";
// The code reported when the autostart folder cannot be written, or when there is no entry of this
// program to remove (the access-denied code of the Windows original).
inline constexpr int kAutoStartAccessDenied = 5;

// $XDG_CONFIG_HOME/autostart (~/.config/autostart by default); <profile>/autostart when
// QUARVEL_PROFILE names a profile folder.
QString UserAutoStartFolder();
// The autostart folders below $XDG_CONFIG_DIRS (/etc/xdg by default), most important first;
// <profile>/autostart-system with QUARVEL_PROFILE.
QStringList SystemAutoStartFolders();

// True when the entry the desktop uses at logon starts this program (by default the running one).
// An entry that starts another copy, is switched off, or cannot be read counts as absent.
bool IsAutoStartEnabled(const QString &program = QString());

// Writes (true) or removes (false) the entry that starts this program. 0 on success; otherwise the
// code to report: kAutoStartAccessDenied when the user's autostart folder cannot be created or
// written, or when removing finds no entry of this program; the system's error number (errno) when
// writing or deleting the file itself fails.
int SetAutoStart(bool enable, const QString &program = QString());

} // namespace platform
