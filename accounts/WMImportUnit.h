#pragma once
// Accounts of Windows Mail: its "*.oeaccount" XML files below the mail store folder.
#include "ImportRecords.h"

#include <QByteArray>
#include <QString>

class TWindowsMail {
public:
    // The store folder named by the settings store's "Software\Microsoft\Windows Mail" "Store Root".
    TWindowsMail();
    // A store folder the user points to (a copy of the Windows Mail folder).
    explicit TWindowsMail(const QString &storeRoot);

    // The store folder with a trailing '/', or empty.
    QString StoreRoot;

    // Account files larger than this are no account files.
    static constexpr qint64 kMaxAccountFileBytes = 1024 * 1024;
    // A store folder tree larger than this is not walked further.
    static constexpr int kMaxFolders = 10000;

    // The accounts of all account files below StoreRoot, in the order of their folders (sorted without
    // regard to case) and file names.
    void GetAccounts(TOEAccountList &list);
};

// Reads the text of one account file. False when it holds no POP3 account to import: not readable as
// XML, marked to be skipped, an IMAP account, or without an incoming server.
bool ReadOEAccountFile(const QByteArray &bytes, TOEMailBox *box);
