#pragma once
// The provider list of the new-account assistant: "EProv.ini" beside the program. Section
// "ProviderIndex" names the providers' sections; each provider section gives its servers and what the
// provider calls the login name and the password.
#include "TypeDef.h"

#include <QList>
#include <QString>

#include <cstdint>

// The assistant's mailbox kinds (its AccountTypeCB), as the provider file's "AccountType" gives them.
enum TProviderMailboxKind : int32_t {
    pmkPOP3 = 0,
    pmkAOL = 1,
    pmkHTTPMail = 2,
    pmkIMAP = 3,
};

// One provider as the file gives it.
struct TProviderEntry {
    int32_t AccountType = pmkPOP3; // the kind of mailbox the provider is set up as first
    QString POP3Server;
    QString SMTPServer;
    QString AccountNameLabel;  // what the provider calls the login name
    QString PasswordLabel;     // what the provider calls the password
    bool SMTPAuth = false;     // the outgoing server needs a login
    bool InboxSSL = false;     // the incoming server needs a secured connection
    bool OutboxSSL = false;    // the outgoing server needs a secured connection
    // Beyond the assistant's keys: the ports of the secured connections ("POP3Port", "SMTPPort"),
    // 0 when the file gives none. 995 and 465 are TLS from the first byte, 587 an upgrade.
    int32_t POP3Port = 0;
    int32_t SMTPPort = 0;
    // The provider's IMAP server ("IMAPServer"), its port ("IMAPPort", 0 when the file gives none) and
    // whether it needs a secured connection ("IMAPSSL"); 993 is TLS from the first byte, 143 an upgrade.
    QString IMAPServer;
    int32_t IMAPPort = 0;
    bool IMAPSSL = false;
    // The sign-in at the provider ("OAuth2": the name of its preset, e.g. "Google"; empty: none), and
    // whether the provider takes nothing else ("OAuth2Only" 1: no password login at all).
    QString OAuthProvider;
    bool OAuthOnly = false;

    bool operator==(const TProviderEntry &) const = default;
};

// A provider's incoming server for one type of mailbox (TAccountType): its name, its port (0: none given)
// and whether it needs a secured connection.
struct TProviderIncoming {
    QString Server;
    int32_t Port = 0;
    bool SSL = false;
};
TProviderIncoming ProviderIncoming(const TProviderEntry &entry, int32_t accountType);

struct TProvider {
    QString Name; // the section name, shown in the list
    TProviderEntry Entry;
};

// The default provider file: beside the program or in the install's data folder; empty when missing.
QString ProviderFilePath();

// Every provider the index names, in index order. Text values are trimmed; a missing or non-numeric
// number counts as 0. An index line naming no section of the file is passed over. A missing or
// unreadable file gives no providers.
QList<TProvider> ReadProviderFile(const QString &path);

// The providers the assistant offers: POP3 ones and those that name an IMAP server, as far as that
// incoming server needs no secured connection (with secureIncoming, the caller sets up TLS accounts, and
// those are offered too), sorted by name without regard to letter case.
QList<TProvider> OfferedProviders(const QList<TProvider> &all, bool secureIncoming = false);

// What the user typed into the new-account assistant.
struct TAssistantEntries {
    int32_t AccountType = atPOP3; // TAccountType
    QString EMailAddress;
    QString POP3Server;
    QString SMTPServer;
    QString AccountName;
    QString Password;
    bool SMTPAuth = false;
    // A sign-in at the provider made in the assistant: its preset and refresh token (empty: none).
    QString OAuthProvider;
    QString RefreshToken;
};

// The mailbox the assistant makes, of the type chosen: port 110 (IMAP: 143), one connection attempt, no
// APOP, the outgoing server only when one was given, the SMTP login the same as the incoming one. Where the
// chosen provider (may be null) secures a connection of that type, that connection is secured with the
// provider's port (else 995, 993 and 465), also when the user typed another server name over the
// provider's: a name edited to "pop3." or a server of the same provider must not send the password in
// clear. With a sign-in the mailbox logs in at its provider with the refresh token in place of a password.
TPOP3AccountSettings AccountFromAssistant(const TAssistantEntries &entries, const TProviderEntry *provider);
