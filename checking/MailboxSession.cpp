#include "MailboxSession.h"

QString NothingReadText(const QString &lastError)
{
    return QStringLiteral("Keine der Nachrichten konnte gelesen werden: %1").arg(lastError);
}

bool TakeMessageText(const QByteArray &raw, TMailEntry &entry, bool &fatal, int &code, QString &errorText)
{
    MailMessage message;
    if (!message.FillFromRaw(raw) && !message.HasText()) {
        fatal = true;
        code = 0;
        errorText = QStringLiteral("Die E-Mail konnte nicht gelesen werden.");
        return false;
    }
    message.UID = entry.Message.UID;
    entry.Message = std::move(message);
    return true;
}
