#pragma once
// Stored 8-bit text from outside (files, registry strings, header bytes) is read as UTF-8 when it is
// valid UTF-8 and as Windows-1252 otherwise, so files written by Windows installations read correctly.
#include <QByteArray>
#include <QString>

namespace platform {

QString decode8bit(const QByteArray &bytes);
bool isValidUtf8(const QByteArray &bytes);
// Characters without a Windows-1252 form become '?'.
QByteArray encodeCp1252(const QString &text);

} // namespace platform
