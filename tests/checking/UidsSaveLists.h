#pragma once
// The two identifier lists that uids_save_child writes in turn; the test that kills it reads them too.
#include <QString>
#include <QStringList>

inline QStringList UidsSaveListA()
{
    QStringList ids;
    for (int i = 0; i < 3000; ++i)
        ids << QStringLiteral("<a%1@example.test>").arg(i)
            << QStringLiteral("%1From: x@y\r\nSubject: Nachricht %1 ohne Kennung\r\n").arg(i);
    return ids;
}

inline QStringList UidsSaveListB()
{
    QStringList ids;
    for (int i = 0; i < 40; ++i)
        ids << QStringLiteral("<b%1@example.test>").arg(i);
    return ids;
}
