#pragma once
// Readable Qt values in GoogleTest messages.
#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <QStringList>

#include <ostream>

inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QByteArray &b, std::ostream *os)
{
    *os << '"' << b.toStdString() << '"';
}
inline void PrintTo(const QStringList &list, std::ostream *os)
{
    *os << "{\n";
    for (const QString &s : list)
        *os << "  " << s.toStdString() << '\n';
    *os << '}';
}
inline void PrintTo(const QByteArrayList &list, std::ostream *os)
{
    *os << "{\n";
    for (const QByteArray &b : list)
        *os << "  " << b.toStdString() << '\n';
    *os << '}';
}
