#pragma once
// Small helpers for the MailMessage tests.
#include "QtPrinters.h"

#include <QByteArray>

// Test messages are written with "\n"; POP3 delivers "\r\n".
inline QByteArray crlf(const QByteArray &lf)
{
    QByteArray out;
    for (const char c : lf) {
        if (c == '\n')
            out.append('\r');
        out.append(c);
    }
    return out;
}

// True when every line feed in the text is preceded by a carriage return.
inline bool onlyCrlf(const QByteArray &text)
{
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text.at(i) == '\n' && (i == 0 || text.at(i - 1) != '\r'))
            return false;
    return true;
}

#include <QString>
#include <QStringList>

#include <ostream>

// Readable failure output for Qt strings.
