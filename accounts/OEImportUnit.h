#pragma once
// Accounts of Outlook Express (per identity) and of Microsoft Outlook, read from registry keys: the
// settings store's own current-user keys (a .reg export imported with quarvel-reg), or the keys of a
// .reg export read straight into a private store.
#include "ImportRecords.h"

#include <QList>
#include <QString>

#include <memory>

class QTemporaryDir;
class TTheRegIniFile;
namespace platform {
class RegistryHive;
}

// One Outlook Express identity.
struct TOEIdentities {
    QString UserID;   // "User ID": the identity's accounts lie below "Identities\<UserID>"
    QString UserName; // "Username", shown to the user
};

struct TOEIdentityItem {
    QString KeyName; // the identity's key below "Identities"
    TOEIdentities Identity;
};

class TOutlookExpress {
public:
    // Reads the current user's keys of the settings store, and the identities at once.
    TOutlookExpress();
    // Reads the given hive instead.
    explicit TOutlookExpress(std::unique_ptr<platform::RegistryHive> hive);
    ~TOutlookExpress();
    TOutlookExpress(const TOutlookExpress &) = delete;
    TOutlookExpress &operator=(const TOutlookExpress &) = delete;

    // The mail-account keys of a .reg export (as regedit writes it), read into a private store that
    // lives as long as the reader. Null, with a German *error, when the file cannot be read.
    static std::unique_ptr<TOutlookExpress> FromRegFile(const QString &path, QString *error);
    // Larger .reg files are refused: they are exports of far more than the mail accounts.
    static constexpr qint64 kMaxRegFileBytes = 128 * 1024 * 1024;

    // When set, the caller can set up TLS accounts: accounts whose incoming connection is secured are
    // returned with POP3Secure set (and their stored port) instead of being passed over.
    bool AcceptSecure = false;

    QList<TOEIdentityItem> Identities;
    QString DefaultUserID;

    void ReadIdentities();
    // The Outlook Express accounts of the identity with this UserID, in the order found.
    void GetOEAccounts(const QString &userID, TOEAccountList &list);
    // Outlook's own account list, then its messaging profiles.
    void GetOutlookAccounts(TOEAccountList &list);

private:
    TOutlookExpress(std::unique_ptr<QTemporaryDir> dir, std::unique_ptr<platform::RegistryHive> hive);
    enum class KeyList { OutlookExpress, Outlook };
    void readAccountKeys(const QString &path, KeyList kind, bool dupTest, TOEAccountList &list);
    void readProfileAccounts(const QString &profileKey, TOEAccountList &list);
    // The secure-connection rule shared by every account key: false when the account is passed over.
    bool applySecurity(TOEMailBox &box, int32_t secureIncoming, uint32_t secureOutgoing);

    std::unique_ptr<QTemporaryDir> m_dir; // before m_reg: the private store is closed before it goes
    std::unique_ptr<TTheRegIniFile> m_reg;
};
