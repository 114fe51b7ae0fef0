#pragma once
// Accounts found in other mail programs' settings, as the import readers hand them out, and the
// mailbox each of them becomes.
#include "TypeDef.h"

#include <QList>
#include <QString>

#include <cstdint>

// One account found in another mail program. The readers never take over a stored password: both
// password fields are empty when handed out; the import wizard fills POP3Password with what the user
// types.
struct TOEMailBox {
    uint8_t AccountKind = 0; // 0 = POP3, 1 = IMAP (TAccountType); the POP3... fields serve either
    QString DisplayName;
    QString POP3Server;
    QString POP3UserName;
    QString POP3Password;
    int32_t POP3Port = 110;
    QString SMTPServer;
    QString SMTPEMailAddress;
    QString SMTPPassword;
    bool SMTPAuth = false;
    int32_t SMTPPort = 25;
    // The source marks the connection as secured (for incoming mail: TLS from the first byte).
    bool POP3Secure = false;
    bool SMTPSecure = false;
    // The source asks for a plain connection upgraded with STLS/STARTTLS (only where it says so).
    bool POP3StartTLS = false;
    bool SMTPStartTLS = false;

    bool operator==(const TOEMailBox &) const = default;
};

// One line of a reader's result: the text the wizard lists, and the account.
struct TOEAccountItem {
    QString Text;
    TOEMailBox MailBox;
};
using TOEAccountList = QList<TOEAccountItem>;

// True when the list holds an account with exactly this server and login name (case-sensitive).
bool ContainsAccount(const TOEAccountList &list, const QString &server, const QString &userName);

// The connection security (TConnectionSecurity, TypeDef.h) of an imported account.
// A secured incoming connection is TLS from the first byte, on the port the source gave.
TConnectionSecurity IncomingSecurity(const TOEMailBox &box);
// A secured outgoing connection on the plain submission ports (25, 587) is an upgrade, as the mail
// programs that only know "secured" do it there; on any other port it is TLS from the first byte.
TConnectionSecurity OutgoingSecurity(const TOEMailBox &box);

// The mailbox an imported account becomes: of its kind (IMAP reading INBOX and moving spam to the Junk
// folder), one connection attempt, no APOP, the provider's SMTP server exactly when the source gave one,
// SMTP login with the POP3 data.
TPOP3AccountSettings AccountFromMailBox(const TOEMailBox &box);
