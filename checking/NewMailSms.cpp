#include "NewMailSms.h"

#include "RegistrySettingsUnit.h"

namespace {

// Blanks in the sense of the SMS rule: every character up to the space, control characters included.
bool isBlank(QChar c)
{
    return c.unicode() <= 0x20;
}

QString trimBlanks(const QString &text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

QString NewMailSmsText(const MailMessage &message, bool onlySubject, const QString &plainText)
{
    QString text;
    const QString sender = message.From.Name.isEmpty() ? message.From.Address : message.From.Name;
    if (!sender.isEmpty())
        text += sender + QLatin1Char(' ');
    if (!message.Subject.isEmpty())
        text += message.Subject + QLatin1Char(' ');
    if (!onlySubject)
        text += plainText;

    const QString trimmed = trimBlanks(text);
    if (trimmed.size() <= kMaxSmsLength)
        return text;
    QString cut = trimmed.left(kMaxSmsLength);
    // Never end on half of a character that needs two UTF-16 units.
    if (cut.back().isHighSurrogate())
        cut.chop(1);
    return cut;
}

QList<TSmsNotice> NewMailSmsNotices(const QList<TMailEntry *> &newEntries, const TRegistrySettings &settings,
                                    const TZirpelSettings &gateway, bool mainWindowVisible,
                                    const std::function<QString(const TMailEntry &)> &plainText)
{
    QList<TSmsNotice> notices;
    if (mainWindowVisible || gateway.Username.isEmpty() || (gateway.Password.isEmpty() && !gateway.PasswordInKeyring))
        return notices;
    for (const TMailEntry *entry : newEntries) {
        if (!entry || entry->State == msSpam)
            continue;
        if (settings.FindAccount(entry->Host, entry->UserName) < 0)
            continue;
        const TPOP3AccountSettings account = settings.GetAccount(entry->Host, entry->UserName);
        if (!account.Active || account.ServerName.isEmpty() || !account.SendSMS || account.SMSCellNum.isEmpty())
            continue;
        const QString body =
            (gateway.EMail2SMSOnlySubject || !plainText) ? QString() : plainText(*entry);
        notices.append({account.SMSCellNum, NewMailSmsText(entry->Message, gateway.EMail2SMSOnlySubject, body),
                        entry});
    }
    return notices;
}
