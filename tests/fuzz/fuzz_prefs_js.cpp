// libFuzzer target for prefs.js: any bytes parse without a crash or a hang, and every account found
// has a server and valid ports.
#include "MozImportUnit.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    TPrefsJs prefs;
    prefs.Parse(bytes);
    for (const TOEAccountItem &item : MozillaAccounts(prefs)) {
        const TOEMailBox &b = item.MailBox;
        if (b.POP3Server.isEmpty() || b.POP3Port < 1 || b.POP3Port > 65535 || b.SMTPPort < 1 || b.SMTPPort > 65535
            || !b.POP3Password.isEmpty())
            __builtin_trap();
    }
    return 0;
}
