#pragma once
// The command-line tools on a test's profile: a mailbox set up with quarvel-reg as a user would, and
// quarvel-check run on it.
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QStringList>

// Runs quarvel-reg; a refusal fails the test with the tool's words.
inline void Reg(const QStringList &args)
{
    QByteArray out, err;
    ASSERT_EQ(runProcess(toolPath(QStringLiteral("quarvel-reg")), args, &out, &err), 0)
        << args.join(u' ').toStdString() << "\n" << err.toStdString();
}

// The registry key of the mailbox with this index, as quarvel-reg names it.
inline QString MailboxKey(int index)
{
    return QStringLiteral("HKCU\\Software\\Tessmar Software\\Quarvel\\POP3\\Settings\\%1").arg(index);
}

// Sets one value of that mailbox (a password enciphered as the program stores it).
inline void SetMailboxValue(int index, const QString &name, const QString &data, bool password = false)
{
    QStringList args{QStringLiteral("add"), MailboxKey(index), QStringLiteral("/v"), name};
    if (password)
        args << QStringLiteral("/password");
    Reg(args << QStringLiteral("/d") << data << QStringLiteral("/f"));
}

// The mailbox with this index: server, port, user name and password.
inline void AddMailbox(int index, const QString &host, quint16 port, const QString &name, const QString &secret)
{
    SetMailboxValue(index, QStringLiteral("POP3SERVERNAME"), host);
    SetMailboxValue(index, QStringLiteral("POP3PORT"), QString::number(port));
    SetMailboxValue(index, QStringLiteral("POP3KONTONAME"), name);
    SetMailboxValue(index, QStringLiteral("POP3PASSWORD"), secret, true);
}

inline int RunQuarvelCheck(const QStringList &args, QByteArray *out, QByteArray *err)
{
    return runProcess(toolPath(QStringLiteral("quarvel-check")), args, out, err);
}
