// libFuzzer target: any bytes as a raw message and as a header block. Parsing, the field conversion,
// writing back and composing after a change must never crash, hang or leak.
#include "MailMessage.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    MailMessage message;
    message.NoDecode = size % 2 == 1;
    if (message.FillFromRaw(bytes)) {
        MailMessage again;
        again.NoDecode = message.NoDecode;
        again.FillFromRaw(message.WriteRaw());
        (void)message.HeaderValues(QStringLiteral("Received"));
        (void)message.HeaderText();
        message.Subject += QStringLiteral("ä");
        (void)message.WriteRaw();
        message.Body.append(QStringLiteral("x"));
        (void)message.WriteRaw();
    }

    MailMessage header;
    if (header.FillFromHeader(bytes))
        (void)header.WriteRaw();
    return 0;
}
