#pragma once
// Small helpers shared by the readers of Linux mail programs' files.
#include "IniFile.h"

#include <QString>

// Where a user's files lie. Readers take a home folder so that tests can point them elsewhere.
struct TUserHome {
    QString Home;   // no trailing '/'
    QString Config; // the user's configuration folder (XDG), no trailing '/'

    // An empty home means the real one, with XDG_CONFIG_HOME honoured; a given home keeps everything
    // below it.
    static TUserHome Of(const QString &home);
};

// Settings files of Linux mail programs are small; anything larger than this is not one of them, and
// only its beginning is read.
inline constexpr qint64 kMaxSettingsFileBytes = 4 * 1024 * 1024;

// A key file (GLib's or KDE's INI dialect), at most kMaxSettingsFileBytes of it. False when the file
// cannot be read.
bool LoadKeyFile(const QString &path, platform::IniFile *ini);
// A value of such a file with its escapes (\s \n \t \r \\) resolved.
QString KeyFileValue(const platform::IniFile &ini, const QString &section, const QString &key);
// A port text of such a file: 1..65535, otherwise the default.
int32_t PortOrDefault(const QString &text, int32_t def);
