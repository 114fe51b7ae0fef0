// libFuzzer target for the Windows Mail account files: any bytes read without a crash or a hang, and an
// accepted file gives an account with a server and valid ports.
#include "WMImportUnit.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    TOEMailBox box;
    if (ReadOEAccountFile(bytes, &box)
        && (box.POP3Server.isEmpty() || box.POP3Port < 1 || box.POP3Port > 65535 || box.SMTPPort < 1 || box.SMTPPort > 65535))
        __builtin_trap();
    return 0;
}
