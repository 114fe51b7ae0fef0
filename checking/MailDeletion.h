#pragma once
// Deleting checked messages on the servers: the order of a deletion run (grouped by account, ascending
// message numbers), one POP3 session per account, a stop at the first failure, and the renumbering of the
// remaining entries once all sessions are closed. A deletion counts only once its session has ended with a
// QUIT the server confirmed: until then the server has deleted nothing. The coordinator runs it as a job
// (TPOP3Checker::DeleteEntries); the automatic spam removal without a window, the interactive command of
// the main window with its progress window as observer.
//
// Every message of a run is recorded in the deletion log before its session is committed, and its record
// completed after; with rescue copies on, a message is fetched whole in its session before its DELE and
// kept in the rescue folder (RescueCopies.h). Nothing is deleted that the log cannot record.
#include "DeletionLog.h"
#include "RescueCopies.h"
#include "TypeDef.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

class TPop3Thread;
struct TSimpleFilter;

// UserName + "@" + Host + a tab + MsgNumber padded with "0" to at least 6 digits.
QString DeletionOrderKey(const TMailEntry &entry);
// Compares two keys character by character by code, with the ASCII letters a to z taken as capitals.
int CompareDeletionKeys(const QString &a, const QString &b);
// Sorts by the deletion order key (stable).
void SortByDeletionOrder(QList<TMailEntry *> &list);
// After entry list[index] was deleted: every later entry of list with the same UserName and Host (exact
// comparison; empty places skipped) gets its MsgNumber lowered by one.
void RenumberAfterDeletion(const QList<TMailEntry *> &list, int index);

// Follows a deletion run (the interactive progress window); every call is optional. The calls come on
// the window's thread, in order, while the run goes on; the entries they name are the run's copies.
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
    // sent).
    virtual void EntryDeleted(const TMailEntry &entry) { Q_UNUSED(entry); }
    // Deleting the entry failed; the run stops. Also called for the first entry of a session whose end
    // the server did not confirm: none of that session's entries counts as deleted then.
    virtual void EntryFailed(const TMailEntry &entry, const QString &errorText)
    {
        Q_UNUSED(entry);
        Q_UNUSED(errorText);
    }
};

// The record of an entry about to be deleted: its mailbox and message, how the deletion came about, and
// the spam rule that caught it (none: null).
TDeletionRecord DeletionRecordOf(const TMailEntry &entry, TDeletionHow how, const TSimpleFilter *rule);

// The reasons the log gives for messages that were not deleted.
inline const QString kDeletionNotTriedText =
    QStringLiteral("Nicht versucht: Der Löschvorgang wurde nach einem Fehler abgebrochen.");
inline const QString kDeletionSessionLostText = QStringLiteral(
    "Die Verbindung zum Server endete vor dem Ende der Sitzung; der Server hat die E-Mail daher nicht gelöscht.");
inline const QString kDeletionLogUnwritableText =
    QStringLiteral("Das Löschprotokoll kann nicht geschrieben werden, daher wurde nichts gelöscht: %1");
inline const QString kAlreadyGoneText = QStringLiteral("Die E-Mail war bereits nicht mehr auf dem Server.");
inline const QString kCopiesOffText = QStringLiteral("keine Kopie: in den Optionen abgeschaltet");
inline const QString kMovedNeedsNoCopyText = QStringLiteral("keine Kopie nötig: im Spam-Ordner des Servers");

struct TDeletionResult {
    // The entries deleted, in deletion order. They exist only until the run's done handler has returned.
    QList<TMailEntry *> DeletedEntries;
    int Deleted = 0;
    bool Failed = false;
    int FailedMsgNumber = 0;  // MsgNumber of the entry that failed, as it was sent
    QString ErrorText;
};

// A deletion run as the worker carries it out: copies of the marked entries (what the check saw of each
// message), grouped by account with that account's settings. Made and applied on the window's thread;
// only its copies travel to the worker.
struct TDeletionPlan {
    struct Group {
        QString Account;              // "UserName@Host"
        bool AccountKnown = false;    // false: the account is no longer set up
        TPOP3AccountSettings Settings;
        QList<int> Items;             // indices into Copies, in deletion order
    };
    QList<TMailEntry *> Order;        // every row's entry, sorted by the deletion order key (window's thread)
    QList<TMailEntry> Copies;         // the copy of Order[i] for a marked entry, parallel to Order
    QList<Group> Groups;
    // The log record of Order[i] for a marked entry, parallel to Order; the log that keeps them (none:
    // nothing is recorded), and what to do about copies.
    QList<TDeletionRecord> Records;
    std::shared_ptr<TDeletionLog> Log;
    TRescuePolicy Rescue;
    // What the run did: Deleted[i] for Order[i]; the first failure.
    QList<bool> Deleted;
    bool Failed = false;
    int FailedMsgNumber = 0;
    QString ErrorText;
};

// Plans the deletion of marked among rows (the list in its row order): every entry gets Row := its row
// and DeleteMark := whether it is marked; the marked ones are grouped by account in deletion order.
// accountOf gives an entry's account settings, or nothing when it is not set up any more.
TDeletionPlan PlanDeletion(const QList<TMailEntry *> &rows, const QList<TMailEntry *> &marked,
                           const std::function<const TPOP3AccountSettings *(const TMailEntry &)> &accountOf);
// Carries the plan out on the worker: one session per account, stopping at the first failure (a session
// whose end the server does not confirm is a failure of all its entries). Each account's records are
// written before its session and completed after it; those of accounts after a failure say that they
// were not tried. The observer's calls are reported to the coordinator's thread as they happen.
void RunDeletionPlan(TPop3Thread &worker, TDeletionPlan &plan, const std::shared_ptr<IDeletionObserver> &observer);
// After the run, on the window's thread: every deleted entry, in deletion order, lowers the numbers of
// the later entries of its account. Returns the result with the deleted entries.
TDeletionResult ApplyDeletionPlan(const TDeletionPlan &plan);
