#pragma once
// Reading files that other programs own (their settings, a file the user picked): only regular
// files, never blocking on a named pipe or a device, and never more than the caller allows.
#include <QByteArray>
#include <QString>

namespace platform {

// The first maxBytes bytes of a regular file (all of a smaller one). False for a missing or unreadable
// file and for anything that is not a regular file (a folder, a pipe, a device, a dangling link).
bool readForeignFile(const QString &path, qint64 maxBytes, QByteArray *out);

} // namespace platform
