#pragma once
// Stored 8-bit text from outside (files, registry strings, header bytes) is read as UTF-8 when it is
// valid UTF-8 and as Windows-1252 otherwise, so files written by Windows installations read correctly.
#include <QByteArray>
#include <QString>

namespace platform {

QString decode8bit(const QByteArray &bytes);
// The value of a hexadecimal digit (0-9, a-f, A-F); -1 for any other character.
constexpr int hexDigitValue(char32_t c)
{
    if (c >= '0' && c <= '9')
        return int(c - '0');
    if (c >= 'a' && c <= 'f')
        return int(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return int(c - 'A' + 10);
    return -1;
}
bool isValidUtf8(const QByteArray &bytes);
// Characters without a Windows-1252 form become '?'.
QByteArray encodeCp1252(const QString &text);
// Text from outside (a subject, a server's reply) made safe to print on a terminal: every C0 and C1
// control character and DEL becomes '?', so that it cannot move the cursor, retitle the terminal, write
// the clipboard or hide lines. Line breaks ("\n", and "\r\n" as "\n") stay when keepLineBreaks is set.
QString terminalSafe(const QString &text, bool keepLineBreaks = false);
// The same for protocol bytes, read with the 8-bit text rule and given back as UTF-8.
QByteArray terminalSafe(const QByteArray &bytes);

} // namespace platform
