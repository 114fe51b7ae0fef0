// libFuzzer target: any bytes as a raw message and as a header block. Parsing, the field conversion,
// writing back and composing after a change must never crash, hang or leak, and decoded header text holds
// no NUL.
#include "MailMessage.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    MailMessage message;
    message.NoDecode = size % 2 == 1;
    if (message.FillFromRaw(bytes)) {
        // A NUL would have ended the decoded text where it stood: none may be left.
        if (message.Subject.contains(QChar(0)) || message.From.Name.contains(QChar(0)))
            __builtin_trap();
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
