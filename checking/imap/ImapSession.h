#pragma once
// The IMAP engine of the mailbox session. It reads the account's folder ("IMAPFolder", INBOX by default)
// read-only (EXAMINE) and with BODY.PEEK, so that nothing it does marks a message as read; it lists the
// messages not read yet (neither \Seen nor \Deleted) with their header blocks in one FETCH. A message is
// identified by UIDVALIDITY and UID: a removal or a text fetch refuses when the folder's UIDVALIDITY is no
// longer the one of the scan. Spam goes to the Junk folder (action 0, the default: the folder with the
// special-use flag \Junk, else one named "Junk", "Spam" or "Spam-Mails", else a new "Junk") by UID MOVE,
// or by UID COPY, \Deleted and UID EXPUNGE; action 1 deletes (\Deleted and UID EXPUNGE). A plain EXPUNGE,
// which would also remove whatever else the user marked as deleted, is never sent: without UIDPLUS the
// messages stay marked and the outcome says so.
#include "ImapClient.h"
#include "MailboxSession.h"

#include <QMutex>

#include <optional>

#include <atomic>
#include <memory>

class TPop3Thread;

class TImapSession final : public IMailboxSession {
public:
    explicit TImapSession(TPop3Thread &worker);
    ~TImapSession() override;

    bool Connect(const TPOP3AccountSettings &account, bool &fatal, int &code, QString &errorText) override;
    // Connect, EXAMINE and the search for the messages not read yet.
    bool CountMessages(const TPOP3AccountSettings &account, int &count, bool &fatal, int &code,
                       QString &errorText, TScanBudget *budget) override;
    bool FetchHeaders(const TPOP3AccountSettings &account, QList<TMailEntry *> &target, bool &fatal, int &code,
                      QString &errorText, TScanBudget *budget) override;
    bool FetchText(const TPOP3AccountSettings &account, TMailEntry &entry, bool keepSession, bool &fatal,
                   int &code, QString &errorText) override;
    QList<TRemoval> RemoveMessages(const TPOP3AccountSettings &account, const QList<TMailEntry *> &entries,
                                   IRemovalCopies *copies = nullptr) override;
    // LOGOUT; an IMAP server carries out each removal when it completes the command, so this never fails.
    bool EndSession(QString &errorText, bool *unconfirmed = nullptr) override;
    bool TestAccount(const TPOP3AccountSettings &account, int &code, QString &errorText) override;
    void Disconnect() override;
    void ForceClose() override;
    void FreeClient() override;
    void Abort() override;
    CertificateProblem RefusedCertificate() const override;

    // The identifier of a message for the new-mail test, kept in "uids.dat": an IMAP URL (RFC 5092), which
    // no identifier of a POP3 message (a Message-ID in angle brackets, or a size followed by a header
    // block) can equal.
    static QString MessageIdentity(const TPOP3AccountSettings &account, uint32_t uidValidity, uint32_t uid);
    // The folder an account reads.
    static QString FolderOf(const TPOP3AccountSettings &account);
    // The client's security for the account's stored one; a value this version does not know is Unknown.
    static ImapClient::Security SecurityOf(const TPOP3AccountSettings &account);

    ImapClient *Client() const { return m_client.get(); }

private:
    // UID FETCH of the whole message (BODY.PEEK[], nothing marked read); *raw stays empty when the folder
    // no longer has it. False when the command failed.
    bool FetchWhole(uint32_t uid, qint64 size, std::optional<QByteArray> *raw);
    void EnsureClient();
    void LoadAccountIntoClient(const TPOP3AccountSettings &account);
    void TakeClientError(bool &fatal, int &code, QString &errorText) const;
    // Connects, EXAMINEs the account's folder and lists the UIDs of the messages not read yet, ascending,
    // every wait within the budget's deadline.
    bool ListUnread(const TPOP3AccountSettings &account, QList<uint32_t> *uids, bool &fatal, int &code,
                    QString &errorText, TScanBudget &budget);
    // Opens the account's folder (read-only: EXAMINE); false with the error text.
    bool OpenFolder(const TPOP3AccountSettings &account, bool readOnly, QString &errorText);
    // The UIDs of the selected folder's messages that match criteria, ascending; false on failure.
    bool SearchUids(const QByteArray &criteria, QList<uint32_t> *uids);
    // The folder that takes spam, made when there is none; false with the error text.
    bool JunkFolder(QString *folder, QString &errorText);
    // Runs one command per UID set; *done gets the UIDs of the sets the server completed.
    bool PerSet(const QList<uint32_t> &uids, const QByteArray &verb, const QByteArray &after,
                QList<uint32_t> *done = nullptr);
    void CountTimeout(TScanBudget &budget) const;
    void ApplyBudget(TScanBudget &budget, int count) const;
    bool AccountCancelled() const;

    TPop3Thread &m_worker;
    std::unique_ptr<ImapClient> m_client;
    mutable QMutex m_clientMutex;                    // guards m_client against Abort from another thread
    std::atomic<QThread *> m_sessionThread{nullptr}; // the thread that created the client
    int m_port = 0;                                  // of the open session
};
