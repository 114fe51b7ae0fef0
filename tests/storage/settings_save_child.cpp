// Saves two different mailbox lists in turn, forever; the parent kills it at an arbitrary moment.
#include "RegistrySettingsUnit.h"

#include <QCoreApplication>

#include <cstdio>

static TPOP3Accounts makeList(int n, const QString &tag)
{
    TPOP3Accounts list;
    for (int i = 0; i < n; ++i) {
        TPOP3AccountSettings a;
        a.ServerName = QStringLiteral("pop%1.%2.example").arg(i).arg(tag);
        a.AccountName = tag;
        a.Password = QStringLiteral("pw-%1").arg(tag);
        list.append(a);
    }
    return list;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    TRegistrySettings s;
    const TPOP3Accounts a = makeList(12, QStringLiteral("a")), b = makeList(5, QStringLiteral("b"));
    TPOP3Check check;
    bool announced = false;
    for (unsigned i = 0;; ++i) {
        s.SavePOP3Settings(check, (i & 1) ? b : a);
        if (!announced) {
            std::puts("saving");
            std::fflush(stdout);
            announced = true;
        }
    }
}
