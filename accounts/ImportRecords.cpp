#include "ImportRecords.h"

bool ContainsAccount(const TOEAccountList &list, const QString &server, const QString &userName)
{
    for (const TOEAccountItem &item : list)
        if (item.MailBox.POP3Server == server && item.MailBox.POP3UserName == userName)
            return true;
    return false;
}

TConnectionSecurity IncomingSecurity(const TOEMailBox &box)
{
    if (box.POP3Secure)
        return csSSLTLS;
    return box.POP3StartTLS ? csStartTLS : csNone;
}

TConnectionSecurity OutgoingSecurity(const TOEMailBox &box)
{
    if (box.SMTPSecure)
        return (box.SMTPPort == 25 || box.SMTPPort == 587) ? csStartTLS : csSSLTLS;
    return box.SMTPStartTLS ? csStartTLS : csNone;
}

TPOP3AccountSettings AccountFromMailBox(const TOEMailBox &box)
{
    TPOP3AccountSettings a;
    a.AccountType = box.AccountKind == atIMAP ? atIMAP : atPOP3;
    a.Active = true;
    a.ServerName = box.POP3Server;
    a.Port = box.POP3Port;
    a.ServerRetries = 1;
    a.AccountName = box.POP3UserName;
    a.Password = box.POP3Password;
    a.UseAPOP = false;
    a.UseProviderSMTP = !box.SMTPServer.isEmpty();
    a.SMTPServer = box.SMTPServer;
    a.SMTPPort = box.SMTPPort;
    a.SMTPEMailAddress = box.SMTPEMailAddress;
    a.SMTPAuth = box.SMTPAuth;
    a.SMTPUsePOP3Data = true;
    a.SMTPAccountName.clear();
    a.SMTPPassword.clear();
    a.SendSMS = false;
    a.SMSCellNum.clear();
    // A secured source connection stays secured: never a password in clear where it was not before.
    a.POP3Security = IncomingSecurity(box);
    a.SMTPSecurity = OutgoingSecurity(box);
    return a;
}
