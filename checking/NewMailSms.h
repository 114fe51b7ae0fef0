#pragma once
// What the new-mail handler sends by SMS: which new messages are announced, to which mobile number, with
// which text. The sending itself is the SMS sender's (TZirpelSendClass::SendShortMessage).
#include "TypeDef.h"

#include <QList>
#include <QString>

#include <functional>

class TRegistrySettings;

// The longest SMS text.
inline constexpr int kMaxSmsLength = 160;

// The text for one message: the sender (display name, else address) and a blank, the subject and a
// blank, then, unless onlySubject, the message's plain text. A text longer than 160 characters once its
// surrounding blanks are trimmed becomes its first 160 characters after trimming; a shorter one is left
// as it is.
QString NewMailSmsText(const MailMessage &message, bool onlySubject, const QString &plainText);

struct TSmsNotice {
    QString CellNumber;
    QString Text;
    const TMailEntry *Entry = nullptr;
};

// The SMS notices for these new entries, in order. None while the main window is visible or while the
// gateway user name or password is empty (a password in the keyring counts as given); spam entries are
// skipped; an entry is announced only when its account (looked up in the settings store by Host and
// UserName) exists, is active, has a server name, sends SMS and has a mobile number. plainText gives an
// entry's readable text; it is asked only when the whole text is wanted.
QList<TSmsNotice> NewMailSmsNotices(const QList<TMailEntry *> &newEntries, const TRegistrySettings &settings,
                                    const TZirpelSettings &gateway, bool mainWindowVisible,
                                    const std::function<QString(const TMailEntry &)> &plainText);
