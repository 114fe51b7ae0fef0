#pragma once
// The mailbox session: what the worker asks of a mail server, whichever protocol the account speaks. One
// engine per protocol implements it (pop3/Pop3Session.h, imap/ImapSession.h); the worker keeps one session
// of each kind and hands every account to the session of its type.
//
// Every call blocks on the thread that makes it (the worker's) until the server has answered or a time-out
// passed; Abort() is the one call another thread may make. The account is passed to every call: a session
// that is open for the same account and still answers is used again, any other one is replaced.
#include "ServerCertificate.h"
#include "TypeDef.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QString>

#include <algorithm>
#include <climits>
#include <cstdint>

// The texts every engine shows alike.
// A removal or a text refused because the message is no longer the one the list shows.
inline const QString kMailboxChangedText =
    QStringLiteral("Das Postfach hat sich seit der letzten Prüfung verändert. Bitte prüfen Sie es erneut.");
// Deletions the server may not have carried out: their session ended without a QUIT that the server
// answered with +OK, and a POP3 server deletes only then.
inline const QString kDeletionNotCommittedText =
    QStringLiteral("Der Server hat das Ende der Sitzung nicht bestätigt, daher wurden die E-Mails möglicherweise "
                   "nicht gelöscht. Bitte prüfen Sie das Postfach erneut.");
inline const QString kShuttingDownText =
    QStringLiteral("Die Verbindung wurde nicht aufgebaut, weil das Programm beendet wird.");
inline const QString kAccountCancelledText = QStringLiteral("Die Prüfung des Kontos wurde abgebrochen.");
inline const QString kMessageGoneText = QStringLiteral("Die E-Mail befindet sich nicht mehr auf dem Server.");
inline const QString kNoConnectionText = QStringLiteral("Keine Verbindung zum Server.");
inline const QString kCopyNotKeptText =
    QStringLiteral("Die Sicherungskopie der E-Mail konnte nicht gespeichert werden.");
// A failure's text, or the text of a lost connection when there is none.
inline QString OrNoConnection(const QString &text)
{
    return text.isEmpty() ? kNoConnectionText : text;
}
QString NothingReadText(const QString &lastError);

// However many messages a server announces, one account's scan ends within this.
inline constexpr qint64 kMaxScanMs = qint64(3600) * 1000;

inline int32_t ClampToInt32(qint64 value)
{
    return int32_t(std::clamp<qint64>(value, INT32_MIN, INT32_MAX));
}

// Parses raw, a whole message as the server sent it, into a fresh message that replaces entry.Message;
// the identifier for the new-mail test stays the one the check computed. False (fatal, with the text to
// show) when nothing of it can be read; entry then stays as it was.
bool TakeMessageText(const QByteArray &raw, TMailEntry &entry, bool &fatal, int &code, QString &errorText);

// What one account's scan may still spend: its deadline and the time-outs it has had.
struct TScanBudget {
    qint64 DeadlineMs = 0; // on the worker's steady clock (TPop3Options::ElapsedMs)
    int Timeouts = 0;
    bool Extended = false; // the deadline has grown by the number of messages the server announced
};

// What became of one message a removal was asked for.
struct TRemoval {
    enum Outcome {
        NotTried, // the removal stopped before this message
        Removed,  // the server accepted it (a POP3 server carries it out when its session ends well)
        Gone,     // the message was no longer there: what the user wanted
        Failed,   // refused or not proven to be the message the check saw; ErrorText tells why
    };
    Outcome Result = NotTried;
    QString ErrorText;
};

// The copies taken before a removal (the rescue copies): before a message is removed, the session asks
// whether it is wanted whole and hands it over. Indices are those of the entries of the removal.
class IRemovalCopies {
public:
    virtual ~IRemovalCopies() = default;
    // Whether the message is to be copied before its removal (false once it has been).
    virtual bool Wanted(int index) const = 0;
    // The whole message as the server sent it. False with *error when it cannot be kept: the message is
    // then not removed.
    virtual bool Keep(int index, const QByteArray &raw, QString *error) = 0;
};

class IMailboxSession {
public:
    virtual ~IMailboxSession() = default;

    // Connects and logs in. False with fatal, the server's reply code and the text to show; false without
    // fatal (and without a text) when the program is ending or the job was aborted.
    virtual bool Connect(const TPOP3AccountSettings &account, bool &fatal, int &code, QString &errorText) = 0;
    // Connects and counts the messages waiting (those a scan would list). With a budget, its time-outs
    // count there and its deadline caps every wait.
    virtual bool CountMessages(const TPOP3AccountSettings &account, int &count, bool &fatal, int &code,
                               QString &errorText, TScanBudget *budget) = 0;
    // Lists the waiting messages with their sizes and the identity a removal will be checked against, and
    // reads their header blocks: one new entry per message read, appended to target (owned by the caller)
    // in the mailbox's order. An empty mailbox returns false without fatal. Gives up on the account (false,
    // fatal, and this call's entries removed again) when the budget is spent or the server fails; when the
    // user cancels the account, the entries read so far stay: false without fatal, with the cancel text.
    virtual bool FetchHeaders(const TPOP3AccountSettings &account, QList<TMailEntry *> &target, bool &fatal,
                              int &code, QString &errorText, TScanBudget *budget) = 0;
    // Reads the whole text of entry's message into a fresh message that replaces entry.Message only when it
    // could be read, after making sure it is still the message the check saw. Nothing is marked as read.
    virtual bool FetchText(const TPOP3AccountSettings &account, TMailEntry &entry, bool keepSession, bool &fatal,
                           int &code, QString &errorText) = 0;
    // Removes the messages of entries (all of account), each only when it is still the message the check
    // saw: one outcome per entry, in order. A removal stops at the first failure; the rest are NotTried.
    // With copies, an engine that removes for good hands every message copies wants over whole before
    // it goes (one that cannot be had or kept is a failure, and it is not removed); an engine that moves
    // messages to a folder of the server keeps them there and takes no copies.
    virtual QList<TRemoval> RemoveMessages(const TPOP3AccountSettings &account, const QList<TMailEntry *> &entries,
                                           IRemovalCopies *copies = nullptr) = 0;
    // Ends the session. True when every removal accepted since the last call was carried out; otherwise
    // false with the text to show, and *unconfirmed tells whether the server may have carried them out
    // after all (its end went out without an answer) or surely did not.
    virtual bool EndSession(QString &errorText, bool *unconfirmed = nullptr) = 0;
    // Logs in and looks at the mailbox once, for the account editor's test.
    virtual bool TestAccount(const TPOP3AccountSettings &account, int &code, QString &errorText) = 0;

    // Closes the session politely, errors ignored. From another thread than the session's it only aborts.
    virtual void Disconnect() = 0;
    // Drops the connection at once.
    virtual void ForceClose() = 0;
    // Closes the session and frees its client.
    virtual void FreeClient() = 0;
    // Thread-safe: the command waiting now (or the next one) fails and the connection goes.
    virtual void Abort() = 0;
    // The server certificate the last connect refused and the user could choose to trust; null otherwise.
    virtual CertificateProblem RefusedCertificate() const = 0;
};
