#include "MailDeletion.h"

#include "Pop3Worker.h"

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

} // namespace

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
        if (plan.Failed)
            break;
        tell([account = group.Account](IDeletionObserver &o) { o.AccountStarted(account); });
        QList<TMailEntry *> copies;
        for (const int i : group.Items)
            copies.append(&plan.Copies[i]);
        // A message found gone already counts: that is what the user wanted.
        QList<int> accepted;
        if (!group.AccountKnown) {
            fail(*copies.first(), QStringLiteral("Das E-Mail-Konto %1 ist nicht mehr eingerichtet.").arg(group.Account));
            tell([account = group.Account](IDeletionObserver &o) { o.AccountFinished(account); });
            continue;
        }
        IMailboxSession &session = worker.Session(group.Settings);
        const QList<TRemoval> outcomes = session.RemoveMessages(group.Settings, copies);
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
        const bool committed = session.EndSession(notCommitted);
        session.FreeClient();
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
