// libFuzzer target for the reader of "Filters.dat": any bytes must load without a crash, a hang or a
// large allocation, and what was read must write and read back to the same rules.
#include "SpamFilterClassUnit.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    QBuffer in(&bytes);
    if (!in.open(QIODevice::ReadOnly))
        return 0;
    TFilterList rules;
    TSpamFilterClass::ReadFilterRecords(in, rules);

    QByteArray written;
    if (!TSpamFilterClass::WriteFilterRecords(rules, written))
        __builtin_trap();
    QBuffer again(&written);
    again.open(QIODevice::ReadOnly);
    TFilterList reread;
    TSpamFilterClass::ReadFilterRecords(again, reread);
    if (reread.size() != rules.size())
        __builtin_trap();
    for (qsizetype i = 0; i < rules.size(); ++i)
        if (!(*reread.at(i) == *rules.at(i)))
            __builtin_trap();

    FreeFilterList(rules);
    FreeFilterList(reread);
    return 0;
}
