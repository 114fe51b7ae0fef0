#pragma once
// The plain records that carry the settings and the view of the mailboxes, and the mail list.
#include "MailMessage.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

struct TSimpleFilter; // one filter rule; defined by the filter store

using TStringArray = QStringList;
using TIntegerArray = QList<int32_t>;

struct TPOP3Check {
    bool NewMailMsg = false;
    bool EMailCheck = false;
    int32_t EMailCheckTime = 60;
    QString EMailClient;
    QString EMailSoundFile;
    bool AutoKillSpam = true;
    bool ShowUserInfoBeforeKillSpam = true;
    bool ShowOnlyNewMsgs = true;
};

// How an account's connection to a server is secured; stored as these numbers.
enum TConnectionSecurity : int32_t {
    csNone = 0,     // "Keine": plain TCP
    csStartTLS = 1, // "STARTTLS": plain, then upgraded (POP3 STLS, SMTP STARTTLS) before the login
    csSSLTLS = 2,   // "SSL/TLS": TLS from the first byte
    // Stored text that is no number. It and every other value not listed here (a later version's, a typing
    // error) is kept as it is, and no connection is made with it.
    csUnknown = -1,
};

// The protocol an account's mailbox is read with ("AccountType"); a stored value the program does not know
// reads as POP3, as a missing one does.
enum TAccountType : int32_t {
    atPOP3 = 0,
    atIMAP = 1,
};

// How an account logs in ("AuthMethod"); a stored value the program does not know reads as the password,
// as a missing one does.
enum TAuthMethod : int32_t {
    amPassword = 0,
    amOAuth2 = 1, // signed in at the provider ("OAuthProvider"); Password holds the refresh token
};

// What becomes of spam on an IMAP account ("IMAPSpamAction").
enum TImapSpamAction : int32_t {
    isaMoveToJunk = 0, // moved to the folder for spam
    isaDelete = 1,     // marked \Deleted and removed, only these messages
};

inline const QString kDefaultIMAPFolder = QStringLiteral("INBOX");

struct TPOP3AccountSettings {
    bool Active = true;
    QString ServerName;
    int32_t Port = 110;
    int32_t ServerRetries = 1;
    QString AccountName;
    QString Password;
    bool UseAPOP = false;
    bool UseProviderSMTP = false;
    QString SMTPServer;
    int32_t SMTPPort = 25;
    QString SMTPEMailAddress;
    bool SMTPAuth = false;
    bool SMTPUsePOP3Data = true;
    QString SMTPAccountName;
    QString SMTPPassword;
    bool SendSMS = false;
    QString SMSCellNum;
    // Connection security of the incoming and outgoing server (TConnectionSecurity), and the one
    // certificate of each the user chose to trust although it does not verify: its SHA-256 fingerprint.
    int32_t POP3Security = csNone;
    int32_t SMTPSecurity = csNone;
    QString POP3CertSHA256;
    QString SMTPCertSHA256;
    // How the incoming server is read (TAccountType); the server, port, login, security and trusted
    // certificate above serve either protocol. For IMAP: the folder read, and what becomes of spam.
    int32_t AccountType = atPOP3;
    QString IMAPFolder = kDefaultIMAPFolder;
    int32_t IMAPSpamAction = isaMoveToJunk;
    // The password (or the SMTP password) lives in the desktop's keyring: the field above is empty and
    // the login asks the keyring for it (KeyringPasswords.h). Stored as the registry value's marker.
    bool PasswordInKeyring = false;
    bool SMTPPasswordInKeyring = false;
    // The log-in (TAuthMethod). With OAuth2 the mailbox and its SMTP server take an access token of the
    // provider named by OAuthProvider; the refresh token that renews it is kept where the password is
    // (Password, or the keyring), and the SMTP login fields are not used.
    int32_t AuthMethod = amPassword;
    QString OAuthProvider;
    bool CheckFailed = false; // run-time only, never stored

    bool operator==(const TPOP3AccountSettings &) const = default;
};

using TPOP3Accounts = QList<TPOP3AccountSettings>;

// The port after the security was changed to security: a port that still holds the plain default becomes
// the TLS default when "SSL/TLS" is chosen, and the other way round for "Keine" and "STARTTLS"; any
// other port is the user's own and stays. POP3: 110 and 995; SMTP: 25 and 465; IMAP: 143 and 993.
int32_t POP3PortForSecurity(int32_t port, int32_t security);
int32_t SMTPPortForSecurity(int32_t port, int32_t security);
int32_t IMAPPortForSecurity(int32_t port, int32_t security);
// The usual incoming port of an account of type (TAccountType): POP3 110, or 995 with TLS from the first
// byte; IMAP 143 and 993.
int32_t IncomingDefaultPort(int32_t type, bool implicitTls);
// The incoming port of an account of type that holds port with that security: the other protocol's default
// ports become this one's, any other port stays.
int32_t IncomingPortForType(int32_t port, int32_t type, int32_t security);
// The incoming port rule of the account's type.
int32_t IncomingPortForSecurity(int32_t type, int32_t port, int32_t security);

struct TProxySettings {
    QString ProxyServer;
    int32_t ProxyPort = 80;
    QString ProxyUsername;
    QString ProxyPassword;
};

struct TZirpelSettings {
    QString Username;
    QString Password;
    bool HTTPS = false;
    bool WithSenderAddress = false;
    bool EMail2SMSOnlySubject = true;
    bool PasswordInKeyring = false; // as for an account's password
};

using TFilterList = QList<TSimpleFilter *>;

inline constexpr int32_t kDefaultDeletedCopyLimitKB = 512;

struct TProgramSettings {
    uint8_t ConnectionType = 0;
    QString DataPath;
    TIntegerArray ColWidths;
    int32_t SplitterPosition = 205;
    TPOP3Check POP3Check;
    TPOP3Accounts Accounts;
    TFilterList *Filters = nullptr; // owned by the filter store
    bool FirstStart = true;
    TZirpelSettings SMSGateway;
    // A copy of each message deleted from a POP3 server is kept for 14 days, up to this size.
    bool KeepDeletedCopies = true;
    int32_t DeletedCopyLimitKB = kDefaultDeletedCopyLimitKB;
};

enum TMailState : int32_t { msNormal = 0, msSpam = 8 };

struct TMailEntry {
    MailMessage Message;
    QString Host;
    QString UserName;
    int32_t MsgNumber = 0;
    int32_t Size = 0;
    bool Checked = false;
    int32_t State = msNormal;
    int32_t Row = -1;
    bool DeleteMark = false;
    // What the check saw of the message on the server, kept apart from Message (which a text fetch
    // replaces): a deletion or a text fetch compares it to make sure the number still names the same
    // message. ServerUIDL is the message's unique-id listing when the server offers UIDL and no other
    // message of the listing shares it (empty otherwise); ScanDigest is the SHA-256 of the header block
    // exactly as TOP n 0 delivered it (empty for an entry no check filled); Size is from the same check.
    QString ServerUIDL;
    QByteArray ScanDigest;
    // An IMAP message's identity: the folder's UIDVALIDITY and the message's UID at the scan (0 for a POP3
    // message).
    uint32_t UidValidity = 0;
    uint32_t Uid = 0;
    // The server refused the header block (twice, where the first refusal came in a pipelined batch): the
    // message is listed all the same, so that a spam is not passed over unseen.
    bool HeaderUnreadable = false;
};

// Non-owning list of the entries the user sees.
class TMailList {
public:
    int Count() const { return int(m_items.size()); }
    TMailEntry *Item(int i) const { return m_items.at(i); }
    TMailEntry *operator[](int i) const { return m_items.at(i); }
    int Add(TMailEntry *e)
    {
        m_items.append(e);
        return int(m_items.size()) - 1;
    }
    int IndexOf(const TMailEntry *e) const { return int(m_items.indexOf(const_cast<TMailEntry *>(e))); }
    void Delete(int i) { m_items.removeAt(i); }
    void Clear() { m_items.clear(); }
    int CountByState(int32_t state) const;

    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }

private:
    QList<TMailEntry *> m_items;
};
