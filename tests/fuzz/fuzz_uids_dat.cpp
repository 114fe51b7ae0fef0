// libFuzzer target for "uids.dat": any bytes parse without a crash, and what was read writes and reads
// back to the same identifiers.
#include "UIDStore.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QStringList ids = ParseUIDFile(bytes);
    if (ParseUIDFile(FormatUIDFile(ids)) != ids)
        __builtin_trap();
    return 0;
}
