#pragma once
// Deleting checked messages on the servers: the order of a deletion run (grouped by account, ascending
// message numbers), one POP3 session per account, a stop at the first failure, and the renumbering of the
// remaining entries once all sessions are closed. A deletion counts only once its session has ended with a
// QUIT the server confirmed: until then the server has deleted nothing. The automatic spam removal runs it without a window;
// the interactive command of the main window runs the same core with its progress window as observer.
#include "TypeDef.h"

#include <QList>
#include <QString>

class TPOP3Checker;

// UserName + "@" + Host + a tab + MsgNumber padded with "0" to at least 6 digits.
QString DeletionOrderKey(const TMailEntry &entry);
// Compares two keys character by character by code, with the ASCII letters a to z taken as capitals.
int CompareDeletionKeys(const QString &a, const QString &b);
// Sorts by the deletion order key (stable).
void SortByDeletionOrder(QList<TMailEntry *> &list);
// After entry list[index] was deleted: every later entry of list with the same UserName and Host (exact
// comparison; empty places skipped) gets its MsgNumber lowered by one.
void RenumberAfterDeletion(const QList<TMailEntry *> &list, int index);

// Follows a deletion run (the interactive progress window); every call is optional.
class IDeletionObserver {
public:
    virtual ~IDeletionObserver() = default;
    // A new account's session is about to begin ("UserName@Host").
    virtual void AccountStarted(const QString &account) { Q_UNUSED(account); }
    // The session of the account started last is closed.
    virtual void AccountFinished(const QString &account) { Q_UNUSED(account); }
    // The server accepted the entry's DELE; it is carried out when the session ends well.
    virtual void EntrySent(const TMailEntry &entry) { Q_UNUSED(entry); }
    // The entry is gone from its server: its session ended with the server's consent (its number as
    // sent; the entry is still valid here).
    virtual void EntryDeleted(const TMailEntry &entry) { Q_UNUSED(entry); }
    // Deleting the entry failed; the run stops. Also called for the first entry of a session whose end
    // the server did not confirm: none of that session's entries counts as deleted then.
    virtual void EntryFailed(const TMailEntry &entry, const QString &errorText)
    {
        Q_UNUSED(entry);
        Q_UNUSED(errorText);
    }
};

struct TDeletionResult {
    QList<int> DeletedRows;   // Row of every entry deleted (the entries themselves are freed)
    int Deleted = 0;
    bool Failed = false;
    int FailedMsgNumber = 0;  // MsgNumber of the entry that failed, as it was sent
    QString ErrorText;
};

// Deletes the entries of rows (the list's rows in order, row 1 first) that carry a check mark: each
// gets Row := its row and DeleteMark := Checked, then the marked ones are deleted in deletion order,
// one session per account, stopping at the first failure (a session whose end the server does not
// confirm is a failure of all its entries). Afterwards every deleted entry has lowered the numbers of the
// later entries of its account and left the coordinator's lists, and is freed.
TDeletionResult DeleteMarkedEntries(TPOP3Checker &checker, const QList<TMailEntry *> &rows,
                                    IDeletionObserver *observer = nullptr);
