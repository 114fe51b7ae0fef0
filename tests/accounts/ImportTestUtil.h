#pragma once
// Helpers for the importer tests: fixture files made in the test, and accounts written as one line each
// so that a whole result compares as a list of readable strings.
#include "ImportRecords.h"
#include "QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>
#include <QStringList>

#include <gtest/gtest.h>

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath())) << path.toStdString();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// Text as Windows writes it: UTF-16 little-endian with a byte-order mark.
inline QByteArray utf16WithBom(const QString &text)
{
    QStringEncoder enc(QStringEncoder::Utf16LE);
    return QByteArray("\xFF\xFE", 2) + QByteArray(enc.encode(text));
}

// A .reg binary value holding UTF-16 text with its terminating zero, as Outlook's profiles store it.
inline QString regHexUtf16(const QString &text)
{
    QStringEncoder enc(QStringEncoder::Utf16LE);
    const QByteArray bytes = QByteArray(enc.encode(text)) + QByteArray(2, '\0');
    QStringList parts;
    for (char c : bytes)
        parts.append(QStringLiteral("%1").arg(quint8(c), 2, 16, QLatin1Char('0')));
    return QStringLiteral("hex:") + parts.join(QLatin1Char(','));
}

// "Text: user@pop:port smtp=host:port auth from=address" plus the security the source asks for; an IMAP
// account starts with "imap ".
inline QString describe(const TOEAccountItem &item)
{
    const TOEMailBox &b = item.MailBox;
    QString s = item.Text + QStringLiteral(": ") + (b.AccountKind == atIMAP ? QStringLiteral("imap ") : QString())
                + b.POP3UserName + QLatin1Char('@') + b.POP3Server + QLatin1Char(':') + QString::number(b.POP3Port);
    if (b.POP3Secure)
        s += QStringLiteral(" ssl");
    if (b.POP3StartTLS)
        s += QStringLiteral(" starttls");
    s += QStringLiteral(" smtp=") + b.SMTPServer + QLatin1Char(':') + QString::number(b.SMTPPort);
    if (b.SMTPAuth)
        s += QStringLiteral(" auth");
    if (b.SMTPSecure)
        s += QStringLiteral(" ssl");
    if (b.SMTPStartTLS)
        s += QStringLiteral(" starttls");
    s += QStringLiteral(" from=") + b.SMTPEMailAddress;
    if (b.DisplayName != item.Text)
        s += QStringLiteral(" name=") + b.DisplayName;
    // A reader never hands out a password, nor a kind of mailbox that cannot be read.
    if (!b.POP3Password.isEmpty() || !b.SMTPPassword.isEmpty() || (b.AccountKind != atPOP3 && b.AccountKind != atIMAP))
        s += QStringLiteral(" UNEXPECTED");
    return s;
}

inline QStringList describe(const TOEAccountList &list)
{
    QStringList out;
    for (const TOEAccountItem &item : list)
        out.append(describe(item));
    return out;
}
