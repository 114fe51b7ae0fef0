#include "MailDeletion.h"

#include "POP3Check.h"

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

TDeletionResult DeleteMarkedEntries(TPOP3Checker &checker, const QList<TMailEntry *> &rows,
                                    IDeletionObserver *observer)
{
    TDeletionResult result;
    QList<TMailEntry *> order;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        TMailEntry *e = rows.at(i);
        if (!e)
            continue;
        e->Row = int(i) + 1;
        e->DeleteMark = e->Checked;
        order.append(e);
    }
    SortByDeletionOrder(order);

    // All DELE commands of an account go to one session, with the numbers of the list: the server keeps
    // them until QUIT, so the renumbering waits until every session is closed.
    QList<bool> deleted(order.size(), false);
    QList<qsizetype> accepted; // DELE accepted in the open session, not carried out yet
    QString previous;
    bool sessionOpen = false;
    const auto endSession = [&] {
        QString error;
        const bool committed = checker.EndDeleteSession(&error);
        if (committed) {
            for (const qsizetype i : std::as_const(accepted)) {
                deleted[i] = true;
                if (observer)
                    observer->EntryDeleted(*order.at(i));
            }
        } else if (!accepted.isEmpty() && !result.Failed) {
            const TMailEntry &first = *order.at(accepted.first());
            result.Failed = true;
            result.FailedMsgNumber = first.MsgNumber;
            result.ErrorText = error;
            if (observer)
                observer->EntryFailed(first, error);
        }
        accepted.clear();
        if (sessionOpen && observer)
            observer->AccountFinished(previous);
        sessionOpen = false;
    };
    for (qsizetype i = 0; i < order.size() && !result.Failed;) {
        if (!order.at(i)->DeleteMark) {
            ++i;
            continue;
        }
        // The marked entries of this account up to the next account: one call, so that their DELE
        // commands can go out together.
        const QString account = accountText(*order.at(i));
        QList<qsizetype> group;
        QList<TMailEntry *> entries;
        for (; i < order.size(); ++i) {
            TMailEntry *e = order.at(i);
            if (!e->DeleteMark)
                continue;
            if (accountText(*e) != account)
                break;
            group.append(i);
            entries.append(e);
        }
        endSession();
        if (result.Failed)
            break;
        if (observer)
            observer->AccountStarted(account);
        previous = account;
        sessionOpen = true;
        QString error;
        const int done = checker.DeleteEntries(entries, true, error);
        for (int k = 0; k < done; ++k) {
            accepted.append(group.at(k));
            if (observer)
                observer->EntrySent(*entries.at(k));
        }
        if (done < entries.size()) {
            TMailEntry *e = entries.at(done);
            result.Failed = true;
            result.FailedMsgNumber = e->MsgNumber;
            result.ErrorText = error;
            if (observer)
                observer->EntryFailed(*e, error);
        }
    }
    endSession();

    for (qsizetype i = 0; i < order.size(); ++i) {
        if (!deleted.at(i))
            continue;
        result.DeletedRows.append(order.at(i)->Row);
        ++result.Deleted;
        RenumberAfterDeletion(order, int(i));
        TMailEntry *gone = order.at(i);
        checker.RemoveEntry(gone);
        order[i] = nullptr;
    }
    return result;
}
