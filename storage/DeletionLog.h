#pragma once
// The deletion log in the data folder: one record for every message the program removed, or tried to
// remove, from a server - when, from which mailbox, what the message was, how the removal came about,
// the rule that caught it, and what came of it. A removal is recorded before the server commits it (a
// POP3 server does at the end of the session) and completed after, so a program that dies in between
// leaves a record that says so. Records are kept for 90 days, and at most the newest 20,000.
//
// Thread-safe: one connection guarded by a mutex, so the deletion job writes from the worker's thread
// while the window reads. Other processes (quarvel-check) write the same file at the same time.
#include <QDateTime>
#include <QList>
#include <QMutex>
#include <QString>

#include <cstdint>
#include <functional>

struct sqlite3;
namespace platform {
class SqlStatement;
}

inline const QString kDeletionLogFileName = QStringLiteral("Loeschprotokoll.db");
inline constexpr int kDeletionLogDays = 90;
inline constexpr int kDeletionLogMaxRecords = 20000;

// How a removal came about.
enum class TDeletionHow : int32_t {
    Automatic = 0,   // right after a timed check, or by quarvel-check: "automatisch"
    AfterNotice = 1, // "Spam-Mails löschen" of the spam notice: "nach Hinweis"
    ByHand = 2,      // the user's command in the list: "von Hand"
};

enum class TDeletionOutcome : int32_t {
    Pending = 0, // written, the server's answer not yet known
    Deleted = 1,
    Moved = 2,   // moved to a folder of the server (a junk folder) instead of deleted
    Failed = 3,  // Reason says why; the message is still on the server, or not known to be gone
};

// The texts of the log's window.
QString DeletionHowText(TDeletionHow how);   // "automatisch", "nach Hinweis", "von Hand"
QString DeletionOutcomeText(TDeletionOutcome outcome); // "gelöscht", "verschoben", "fehlgeschlagen", …

// The reason of a record whose writer ended before the server's answer came.
inline const QString kDeletionAbandonedText = QStringLiteral(
    "Das Programm endete, bevor der Server das Löschen bestätigt hat. Ob die E-Mail gelöscht wurde, ist nicht "
    "bekannt; prüfen Sie das Postfach erneut.");

struct TDeletionRecord {
    qint64 Id = 0;
    QDateTime Time;        // when the removal began
    QString Account;       // "UserName@Host"
    QString SenderName;
    QString SenderAddress;
    QString Subject;
    QDateTime Date;        // the message's date; invalid when it had none
    qint64 Size = 0;
    TDeletionHow How = TDeletionHow::ByHand;
    // The spam rule that caught the message: its kind, operation, field and text, and how the filter
    // editor shows it. RuleKind -1 (and RuleShown empty) when no rule did.
    int32_t RuleKind = -1;
    int32_t RuleOperation = 0;
    QString RuleField;
    QString RuleText;
    QString RuleShown;
    TDeletionOutcome Outcome = TDeletionOutcome::Pending;
    QString Reason;        // why it failed, or a remark to a success
    QString CopyFile;      // the rescue copy's file name in the rescue folder, or empty
    QString CopyNote;      // why no copy was kept, or empty

    bool operator==(const TDeletionRecord &) const = default;
};

class TDeletionLog {
public:
    // The log in that file; the file is made (for its owner alone) at the first write.
    explicit TDeletionLog(QString file);
    ~TDeletionLog();
    TDeletionLog(const TDeletionLog &) = delete;
    TDeletionLog &operator=(const TDeletionLog &) = delete;

    QString FileName() const { return m_file; }

    // Writes the records as pending, in one transaction, with this process as their writer, and sets
    // their Id (and Time, when not set). False (with LastError) when the log cannot be written.
    bool Begin(QList<TDeletionRecord> &records);
    // Completes records written by Begin: outcome, reason and copy. False when it could not be written.
    bool Finish(const QList<TDeletionRecord> &records);
    // Every record, the newest first.
    QList<TDeletionRecord> Records();
    // Pending records whose writer (another process) has ended: they become failures with
    // kDeletionAbandonedText. Returns how many.
    int ResolveAbandoned();
    // Removes the records older than kDeletionLogDays before now, and all but the newest
    // kDeletionLogMaxRecords. Returns how many went.
    int Prune(const QDateTime &now = QDateTime::currentDateTimeUtc());
    // Records written since the user last looked (MarkSeen).
    int UnseenCount();
    void MarkSeen();

    QString LastError() const;

private:
    // Opens the store, under m_mutex; false with m_error.
    bool open();
    // The same when the file exists already; false without making one.
    bool openExisting();
    // Prepares the statement and has write bind and run it once for each of count items, in one
    // transaction: everything or nothing is written. Under m_mutex.
    bool writeAll(const char *sql, int count, const std::function<bool(platform::SqlStatement &, int)> &write);
    bool fail(const QString &what);

    const QString m_file;
    mutable QMutex m_mutex;
    sqlite3 *m_db = nullptr;
    QString m_error;
};
