#pragma once
// The POP3 engine of the mailbox session: connecting and logging in (APOP falling back to USER/PASS), the
// header scan from one LIST and one UIDL listing per session with the TOP commands sent ahead of their
// replies, deletions proven against what the check saw, the text of one message and the login test.
// Deletions are only accepted by the server until the session ends with a QUIT it confirms.
#include "MailboxSession.h"
#include "Pop3Client.h"

#include <QHash>
#include <QMap>
#include <QMutex>

#include <atomic>
#include <memory>
#include <optional>
#include <utility>

class TPop3Thread;

class TPop3Session final : public IMailboxSession {
public:
    // The worker whose options, waits and cancel flags the session follows; it outlives the session.
    explicit TPop3Session(TPop3Thread &worker);
    ~TPop3Session() override;

    bool Connect(const TPOP3AccountSettings &account, bool &fatal, int &code, QString &errorText) override;
    // Connect and STAT.
    bool CountMessages(const TPOP3AccountSettings &account, int &count, bool &fatal, int &code,
                       QString &errorText, TScanBudget *budget) override;
    // Appends one entry per message read, in message-number order: the sizes and ids come from one LIST
    // and one UIDL listing per session (LIST n for a message the listing leaves out), the header blocks
    // from TOP n 0, sent ahead of their replies where the server allows it. A message that cannot be read
    // is left out; after a lost connection the scan goes on in a new session with the next message. Gives
    // up on the account also when a lost connection cannot be made again, when the whole run is stopped,
    // when the server keeps failing message after message, or when not one of the messages STAT announced
    // could be read.
    bool FetchHeaders(const TPOP3AccountSettings &account, QList<TMailEntry *> &target, bool &fatal, int &code,
                      QString &errorText, TScanBudget *budget) override;
    // RETR of entry.MsgNumber, after making sure the number still names the message the check saw (as for
    // a deletion); entry's scan fields stay.
    bool FetchText(const TPOP3AccountSettings &account, TMailEntry &entry, bool keepSession, bool &fatal,
                   int &code, QString &errorText) override;
    // Deletes the messages by their MsgNumber, each checked as DeleteMessage does, in order in one session.
    // Where the session's UIDL listing proves them, the DELE commands go out ahead of their replies when
    // the server allows it; should the server refuse one of them and accept a later one, RSET takes the
    // later ones back, so nothing after a failure is deleted. The server carries them out at EndSession.
    // The copies are fetched (RETR) in the same session before their DELE commands.
    QList<TRemoval> RemoveMessages(const TPOP3AccountSettings &account, const QList<TMailEntry *> &entries,
                                   IRemovalCopies *copies = nullptr) override;
    // QUIT: true when every deletion accepted since the last call was carried out (each session that had
    // one ended with a QUIT the server answered +OK). Otherwise false with kDeletionNotCommittedText.
    bool EndSession(QString &errorText, bool *unconfirmed = nullptr) override;
    bool TestAccount(const TPOP3AccountSettings &account, int &code, QString &errorText) override;
    void Disconnect() override;
    void ForceClose() override;
    void FreeClient() override;
    void Abort() override;
    CertificateProblem RefusedCertificate() const override;

    // Deletes message n after making sure it is still the message the check saw (expected's ServerUIDL,
    // else its Size and ScanDigest). False with an empty LastErrorText: the message is gone already. False
    // with kMailboxChangedText: that cannot be proven, nothing was deleted. With keepSession the deletion
    // is only accepted so far: the server carries it out when EndSession succeeds. Without it, the session
    // is ended here and a QUIT the server does not confirm makes the result false
    // (kDeletionNotCommittedText).
    bool DeleteMessage(const TPOP3AccountSettings &account, int n, const TMailEntry &expected, bool keepSession);
    // The text and reply code of the last deletion's failure; empty when there was none.
    QString LastErrorText;
    int32_t LastErrorCode = 0;

    // The client of the session, or null. Only for the thread that uses it.
    Pop3Client *Client() const { return m_client.get(); }
    void EnsureClient();

private:
    enum class Identity { Same, Gone, Changed, Failed };
    // A message to delete: its number now, and what the check saw of it.
    using TDeletion = std::pair<int, const TMailEntry *>;

    void LoadAccountIntoClient(const TPOP3AccountSettings &account);
    // Fills fatal, code and the error text from the client's last failure.
    void TakeClientError(bool &fatal, int &code, QString &errorText) const;
    // Reads the session's UIDL listing once per session when the server offers it.
    bool LoadSessionUidl();
    // Reads the session's LIST listing (every message's size) once per session.
    bool LoadSessionSizes();
    // STAT unless the session had one: the listings are bounded by its count.
    bool EnsureSessionCount();
    Identity CheckIdentity(int n, const TMailEntry &expected);
    // What the session's UIDL listing alone tells about message n (no round trip); nothing when it cannot
    // tell (no listing, no id recorded, or an id that several messages carry).
    std::optional<Identity> ListedIdentity(int n, const TMailEntry &expected) const;
    // A new entry for message n of the session.
    TMailEntry *NewEntry(int n, const QByteArray &header, qint64 size) const;
    // Deletes items in order in the session, one outcome each appended to outcomes; returns how many were
    // deleted or found gone.
    int DeleteInSession(const TPOP3AccountSettings &account, const QList<TDeletion> &items,
                        QList<TRemoval> &outcomes);
    // items[from, to), every one proven by the listing: their DELE commands in one batch. Returns the index
    // of the first one not deleted (to when all were), with an outcome for each one before it; when the
    // server refused it, *refusal is its reply, otherwise LastErrorText says why.
    qsizetype DeleteProven(const QList<TDeletion> &items, qsizetype from, qsizetype to, QList<TRemoval> &outcomes,
                           std::optional<Pop3Client::BatchReply> *refusal);
    // The copies m_copies wants of items[from, to) but those listed gone, in one batch of RETR commands.
    // Returns the index of the first item whose copy failed (to when none did), with LastErrorText.
    qsizetype CopyProven(const QList<TDeletion> &items, qsizetype from, qsizetype to, const QList<bool> &listedGone);
    // The copy m_copies wants of message n (item index) before its deletion; false with LastErrorText when
    // it cannot be had.
    bool CopyOne(int index, int n, const TMailEntry &expected);
    // One deletion (item index) with the checks that need round trips, and the wait after a "too
    // frequently" refusal; with refusal, its DELE was just refused so. True when deleted; false with an
    // empty LastErrorText when the message is gone already.
    bool DeleteOne(const TPOP3AccountSettings &account, int index, int n, const TMailEntry &expected,
                   const std::optional<Pop3Client::BatchReply> &refusal);
    // DELE n was accepted: the session's listing and count of deletions follow.
    void NoteDeleted(int n);
    // Takes back every deletion of this session (RSET) and deletes the numbers in keep again; false, with
    // the session dropped and nothing of it carried out, when that fails.
    bool KeepOnlyDeletions(const QList<int> &keep);
    void ClearSession();
    // The connect time-out, cut short by the client's deadline.
    void CapConnectTimeout();
    // Counts the client's last failure in the budget when it was a time-out.
    void CountTimeout(TScanBudget &budget) const;
    // Lets the scan's deadline grow by the messages STAT announced (once per budget), and caps the
    // client's waits by it.
    void ApplyBudget(TScanBudget &budget, int count) const;
    bool AccountCancelled() const;

    TPop3Thread &m_worker;
    std::unique_ptr<Pop3Client> m_client;
    mutable QMutex m_clientMutex;                 // guards m_client against Abort from another thread
    std::atomic<QThread *> m_sessionThread{nullptr}; // the thread that created the client

    // The session's UIDL listing (message number -> unique id), read at most once per session, and how
    // many messages of it carry each id.
    QMap<int, QByteArray> m_sessionUidl;
    QHash<QByteArray, int> m_sessionUidlCount;
    bool m_sessionUidlLoaded = false;
    bool m_sessionUidlRefused = false;
    // The session's LIST listing (message number -> size), read at most once per session.
    QMap<int, qint64> m_sessionSizes;
    bool m_sessionSizesLoaded = false;
    QList<int> m_sessionDeleted;  // the numbers of the DELE commands this session's server accepted
    bool m_deletionsLost = false; // since the last EndSession, a session with DELEs ended unconfirmed
    bool m_deletionsUnconfirmed = false; // ... and its QUIT went out: the server may have carried them out
    IRemovalCopies *m_copies = nullptr;  // of the RemoveMessages call under way
};
