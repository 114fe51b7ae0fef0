#pragma once
// Readable failure messages for the types the filter tests compare.
#include "QtPrinters.h"
#include "SpamFilterClassUnit.h"

#include <QByteArray>
#include <QString>

#include <ostream>


inline void PrintTo(const TSimpleFilter &r, std::ostream *os)
{
    *os << "{Active " << r.Active << ", Kind " << int(r.Kind) << ", Operation " << int(r.Operation) << ", Text ";
    PrintTo(r.Text, os);
    *os << ", Reserved " << r.Reserved << ", Reserved2 " << int(r.Reserved2) << ", HeaderField ";
    PrintTo(r.HeaderField, os);
    *os << ", CaseSensitive " << r.CaseSensitive << '}';
}
