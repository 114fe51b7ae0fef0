#include "MailDeletion.h"

#include "FilterRules.h"
#include "Pop3Worker.h"

#include <QFile>

#include <algorithm>

namespace {

char16_t upperAscii(char16_t c)
{
    return (c >= u'a' && c <= u'z') ? char16_t(c - (u'a' - u'A')) : c;
}

QString accountText(const TMailEntry &entry)
{
    return entry.UserName + QLatin1Char('@') + entry.Host;
}

// The rescue copies of one account's session: named after their log records, kept in the rescue folder.
class TSessionCopies : public IRemovalCopies {
public:
    TSessionCopies(const TRescuePolicy &policy, QList<TDeletionRecord> &records, const QList<TMailEntry *> &entries)
        : m_policy(policy), m_records(records), m_entries(entries)
    {
    }
    bool Wanted(int index) const override
    {
        return m_policy.Enabled && m_records.at(index).CopyFile.isEmpty()
               && m_entries.at(index)->Size <= m_policy.MaxBytes;
    }
    bool Keep(int index, const QByteArray &raw, QString *error) override
    {
        TDeletionRecord &record = m_records[index];
        const QString name = RescueCopyName(record.Id, record.Time);
        if (!WriteRescueCopy(m_policy.Folder, name, raw, error))
            return false;
        record.CopyFile = name;
        return true;
    }
    // A copy of a message that surely is still on the server would claim a deletion that did not happen.
    void Drop(int index)
    {
        TDeletionRecord &record = m_records[index];
        if (!record.CopyFile.isEmpty())
            QFile::remove(m_policy.Folder + record.CopyFile);
        record.CopyFile.clear();
    }

private:
    const TRescuePolicy &m_policy;
    QList<TDeletionRecord> &m_records;
    const QList<TMailEntry *> &m_entries;
};

void failRecord(TDeletionRecord &record, const QString &reason)
{
    record.Outcome = TDeletionOutcome::Failed;
    record.Reason = reason;
}

// Why a record of the account has no copy, before anything is tried; empty when one will be taken.
QString copyNote(const TDeletionPlan::Group &group, const TRescuePolicy &rescue, qint64 size)
{
    if (group.AccountKnown && group.Settings.AccountType == atIMAP && group.Settings.IMAPSpamAction == isaMoveToJunk)
        return kMovedNeedsNoCopyText;
    if (!rescue.Enabled)
        return kCopiesOffText;
    if (size > rescue.MaxBytes)
        return RescueTooLargeNote(rescue.MaxBytes);
    return {};
}

} // namespace

TDeletionRecord DeletionRecordOf(const TMailEntry &entry, TDeletionHow how, const TSimpleFilter *rule)
{
    TDeletionRecord r;
    r.Account = accountText(entry);
    r.SenderName = entry.Message.From.Name;
    r.SenderAddress = entry.Message.From.Address;
    r.Subject = entry.Message.Subject;
    r.Date = entry.Message.Date;
    r.Size = entry.Size;
    r.How = how;
    if (rule) {
        r.RuleKind = rule->Kind;
        r.RuleOperation = rule->Operation;
        r.RuleField = rule->HeaderField;
        r.RuleText = rule->Text;
        r.RuleShown = FilterRuleText(*rule);
    }
    return r;
}

QString DeletionOrderKey(const TMailEntry &entry)
{
    QString number = QString::number(entry.MsgNumber);
    if (number.size() < 6)
        number = QString(6 - number.size(), QLatin1Char('0')) + number;
    return accountText(entry) + QLatin1Char('\t') + number;
}

int CompareDeletionKeys(const QString &a, const QString &b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t ca = upperAscii(a.at(i).unicode()), cb = upperAscii(b.at(i).unicode());
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

void SortByDeletionOrder(QList<TMailEntry *> &list)
{
    QList<std::pair<QString, TMailEntry *>> keyed;
    keyed.reserve(list.size());
    for (TMailEntry *e : list)
        keyed.append({DeletionOrderKey(*e), e});
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto &x, const auto &y) {
        return CompareDeletionKeys(x.first, y.first) < 0;
    });
    for (qsizetype i = 0; i < keyed.size(); ++i)
        list[i] = keyed.at(i).second;
}

void RenumberAfterDeletion(const QList<TMailEntry *> &list, int index)
{
    const TMailEntry *deleted = list.value(index);
    if (!deleted)
        return;
    for (qsizetype i = index + 1; i < list.size(); ++i) {
        TMailEntry *e = list.at(i);
        if (e && e->UserName == deleted->UserName && e->Host == deleted->Host)
            --e->MsgNumber;
    }
}

TDeletionPlan PlanDeletion(const QList<TMailEntry *> &rows, const QList<TMailEntry *> &marked,
                           const std::function<const TPOP3AccountSettings *(const TMailEntry &)> &accountOf)
{
    TDeletionPlan plan;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        TMailEntry *e = rows.at(i);
        if (!e)
            continue;
        e->Row = int(i) + 1;
        e->DeleteMark = marked.contains(e);
        plan.Order.append(e);
    }
    SortByDeletionOrder(plan.Order);
    plan.Deleted.fill(false, plan.Order.size());
    plan.Records.resize(plan.Order.size());
    for (qsizetype i = 0; i < plan.Order.size(); ++i) {
        const TMailEntry &e = *plan.Order.at(i);
        plan.Copies.append(e.DeleteMark ? e : TMailEntry());
        if (!e.DeleteMark)
            continue;
        // All DELE commands of an account go to one session, with the numbers of the list: the server keeps
        // them until QUIT, so the renumbering waits until every session is closed.
        const QString account = accountText(e);
        if (plan.Groups.isEmpty() || plan.Groups.last().Account != account) {
            TDeletionPlan::Group group;
            group.Account = account;
            if (const TPOP3AccountSettings *settings = accountOf(e)) {
                group.AccountKnown = true;
                group.Settings = *settings;
            }
            plan.Groups.append(group);
        }
        plan.Groups.last().Items.append(int(i));
    }
    return plan;
}

void RunDeletionPlan(TPop3Thread &worker, TDeletionPlan &plan, const std::shared_ptr<IDeletionObserver> &observer)
{
    const auto tell = [&worker, &observer](auto call) {
        if (observer)
            worker.Report([observer, call](TPOP3Checker &) { call(*observer); });
    };
    const auto fail = [&](const TMailEntry &entry, const QString &error) {
        plan.Failed = true;
        plan.FailedMsgNumber = entry.MsgNumber;
        plan.ErrorText = error;
        tell([entry, error](IDeletionObserver &o) { o.EntryFailed(entry, error); });
    };
    for (const TDeletionPlan::Group &group : std::as_const(plan.Groups)) {
        QList<TDeletionRecord> records;
        QList<TMailEntry *> copies;
        for (const int i : group.Items) {
            TDeletionRecord record = plan.Records.at(i);
            record.CopyNote = copyNote(group, plan.Rescue, plan.Copies.at(i).Size);
            records.append(record);
            copies.append(&plan.Copies[i]);
        }
        // Written before anything is removed: a program that dies during the session leaves them pending.
        const bool logged = !plan.Log || plan.Log->Begin(records);
        const auto finish = [&] {
            if (plan.Log && logged)
                plan.Log->Finish(records);
        };
        if (plan.Failed) {
            for (TDeletionRecord &r : records)
                failRecord(r, kDeletionNotTriedText);
            finish();
            continue;
        }
        tell([account = group.Account](IDeletionObserver &o) { o.AccountStarted(account); });
        // Nothing of the account is tried: the first record says why, the rest that they were not tried.
        const auto refuseAll = [&](const QString &error) {
            for (TDeletionRecord &r : records)
                failRecord(r, kDeletionNotTriedText);
            failRecord(records.first(), error);
            finish();
            fail(*copies.first(), error);
            tell([account = group.Account](IDeletionObserver &o) { o.AccountFinished(account); });
        };
        if (!logged) {
            refuseAll(kDeletionLogUnwritableText.arg(plan.Log->LastError()));
            continue;
        }
        if (!group.AccountKnown) {
            refuseAll(QStringLiteral("Das E-Mail-Konto %1 ist nicht mehr eingerichtet.").arg(group.Account));
            continue;
        }
        IMailboxSession &session = worker.Session(group.Settings);
        TSessionCopies keeper(plan.Rescue, records, copies);
        const QList<TRemoval> outcomes = session.RemoveMessages(group.Settings, copies, &keeper);
        // A message found gone already counts: that is what the user wanted.
        QList<int> accepted;
        qsizetype failedAt = -1;
        for (qsizetype k = 0; k < outcomes.size() && k < copies.size(); ++k) {
            if (outcomes.at(k).Result == TRemoval::Removed || outcomes.at(k).Result == TRemoval::Gone)
                accepted.append(int(k));
            else if (outcomes.at(k).Result == TRemoval::Failed && failedAt < 0)
                failedAt = k;
        }
        for (const int k : std::as_const(accepted))
            tell([entry = *copies.at(k)](IDeletionObserver &o) { o.EntrySent(entry); });
        if (failedAt >= 0)
            fail(*copies.at(failedAt), outcomes.at(failedAt).ErrorText);
        // A POP3 server carries the accepted deletions out only now.
        QString notCommitted;
        bool unconfirmed = false;
        const bool committed = session.EndSession(notCommitted, &unconfirmed);
        session.FreeClient();
        const bool moved = group.Settings.AccountType == atIMAP && group.Settings.IMAPSpamAction == isaMoveToJunk;
        for (qsizetype k = 0; k < copies.size(); ++k) {
            TDeletionRecord &record = records[k];
            const TRemoval outcome = k < outcomes.size() ? outcomes.at(k) : TRemoval();
            switch (outcome.Result) {
            case TRemoval::Gone:
                // Gone whatever became of the session.
                record.Outcome = TDeletionOutcome::Deleted;
                record.Reason = kAlreadyGoneText;
                break;
            case TRemoval::Removed:
                if (committed) {
                    record.Outcome = moved ? TDeletionOutcome::Moved : TDeletionOutcome::Deleted;
                } else if (unconfirmed) {
                    // The server may have deleted it after all: its copy stays, the record says it is not sure.
                    failRecord(record, notCommitted);
                } else {
                    failRecord(record, kDeletionSessionLostText);
                    keeper.Drop(int(k));
                }
                break;
            case TRemoval::Failed:
                // A session that surely ended without its QUIT deleted nothing.
                failRecord(record, !unconfirmed && outcome.ErrorText == kDeletionNotCommittedText
                                       ? kDeletionSessionLostText
                                       : outcome.ErrorText);
                keeper.Drop(int(k));
                break;
            case TRemoval::NotTried:
                failRecord(record, kDeletionNotTriedText);
                keeper.Drop(int(k));
                break;
            }
        }
        finish();
        if (committed) {
            for (const int k : std::as_const(accepted)) {
                plan.Deleted[group.Items.at(k)] = true;
                tell([entry = *copies.at(k)](IDeletionObserver &o) { o.EntryDeleted(entry); });
            }
        } else if (!accepted.isEmpty() && !plan.Failed) {
            fail(*copies.at(accepted.first()), notCommitted);
        }
        tell([account = group.Account](IDeletionObserver &o) { o.AccountFinished(account); });
    }
}

TDeletionResult ApplyDeletionPlan(const TDeletionPlan &plan)
{
    TDeletionResult result;
    result.Failed = plan.Failed;
    result.FailedMsgNumber = plan.FailedMsgNumber;
    result.ErrorText = plan.ErrorText;
    for (qsizetype i = 0; i < plan.Order.size(); ++i) {
        if (!plan.Deleted.at(i))
            continue;
        RenumberAfterDeletion(plan.Order, int(i));
        result.DeletedEntries.append(plan.Order.at(i));
        ++result.Deleted;
    }
    return result;
}
