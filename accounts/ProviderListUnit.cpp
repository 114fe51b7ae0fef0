#include "ProviderListUnit.h"

#include "ForeignFile.h"
#include "ImportRecords.h"
#include "IniFile.h"
#include "Paths.h"

#include <algorithm>

namespace {

// The provider list is a small file; a larger one is read as far as this.
constexpr qint64 kMaxProviderFileBytes = 8 * 1024 * 1024;

int32_t number(const platform::IniFile &ini, const QString &section, const char *key)
{
    bool ok = false;
    const int v = ini.value(section, QLatin1String(key)).toInt(&ok);
    return ok ? v : 0;
}

QString text(const platform::IniFile &ini, const QString &section, const char *key)
{
    return ini.value(section, QLatin1String(key)).trimmed();
}

} // namespace

QString ProviderFilePath()
{
    return platform::findDataFile(QStringLiteral("EProv.ini"));
}

QList<TProvider> ReadProviderFile(const QString &path)
{
    QList<TProvider> out;
    QByteArray bytes;
    if (path.isEmpty() || !platform::readForeignFile(path, kMaxProviderFileBytes, &bytes))
        return out;
    platform::IniFile ini;
    ini.loadFromBytes(bytes);
    const QString index = QStringLiteral("ProviderIndex");
    for (const QString &key : ini.keys(index)) {
        const QString name = ini.value(index, key).trimmed();
        if (name.isEmpty() || !ini.hasSection(name))
            continue;
        TProvider p;
        p.Name = name;
        TProviderEntry &e = p.Entry;
        e.AccountType = number(ini, name, "AccountType");
        e.POP3Server = text(ini, name, "POP3Server");
        e.SMTPServer = text(ini, name, "SMTPServer");
        e.AccountNameLabel = text(ini, name, "AccountName");
        e.PasswordLabel = text(ini, name, "AccountPasswort");
        e.SMTPAuth = number(ini, name, "SMTPAuth") == 1;
        e.InboxSSL = number(ini, name, "InboxSSL") == 1;
        e.OutboxSSL = number(ini, name, "OutboxSSL") == 1;
        const int32_t pop3Port = number(ini, name, "POP3Port");
        const int32_t smtpPort = number(ini, name, "SMTPPort");
        const int32_t imapPort = number(ini, name, "IMAPPort");
        e.POP3Port = (pop3Port > 0 && pop3Port <= 65535) ? pop3Port : 0;
        e.SMTPPort = (smtpPort > 0 && smtpPort <= 65535) ? smtpPort : 0;
        e.IMAPServer = text(ini, name, "IMAPServer");
        e.IMAPPort = (imapPort > 0 && imapPort <= 65535) ? imapPort : 0;
        e.IMAPSSL = number(ini, name, "IMAPSSL") == 1;
        e.OAuthProvider = text(ini, name, "OAuth2");
        e.OAuthOnly = !e.OAuthProvider.isEmpty() && number(ini, name, "OAuth2Only") == 1;
        out.append(p);
    }
    return out;
}

TProviderIncoming ProviderIncoming(const TProviderEntry &entry, int32_t accountType)
{
    if (accountType == atIMAP)
        return {entry.IMAPServer, entry.IMAPPort, entry.IMAPSSL};
    return {entry.POP3Server, entry.POP3Port, entry.InboxSSL};
}

QList<TProvider> OfferedProviders(const QList<TProvider> &all, bool secureIncoming)
{
    QList<TProvider> out;
    for (const TProvider &p : all) {
        const TProviderEntry &e = p.Entry;
        const bool pop3 = e.AccountType == pmkPOP3 && (!e.InboxSSL || secureIncoming);
        const bool imap = (e.AccountType == pmkPOP3 || e.AccountType == pmkIMAP) && !e.IMAPServer.isEmpty()
                          && (!e.IMAPSSL || secureIncoming);
        if (pop3 || imap)
            out.append(p);
    }
    std::stable_sort(out.begin(), out.end(), [](const TProvider &a, const TProvider &b) {
        return a.Name.compare(b.Name, Qt::CaseInsensitive) < 0;
    });
    return out;
}

TPOP3AccountSettings AccountFromAssistant(const TAssistantEntries &entries, const TProviderEntry *provider)
{
    // The security rules of imported accounts serve here too: the provider file is one more source.
    TOEMailBox box;
    box.AccountKind = entries.AccountType == atIMAP ? atIMAP : atPOP3;
    box.POP3Port = IncomingDefaultPort(box.AccountKind, false);
    box.POP3Server = entries.POP3Server.trimmed();
    box.POP3UserName = entries.AccountName;
    box.POP3Password = entries.Password;
    box.SMTPServer = entries.SMTPServer.trimmed();
    box.SMTPEMailAddress = entries.EMailAddress.trimmed();
    box.SMTPAuth = entries.SMTPAuth;
    const TProviderIncoming incoming = provider ? ProviderIncoming(*provider, box.AccountKind) : TProviderIncoming{};
    if (incoming.SSL && !box.POP3Server.isEmpty()) {
        box.POP3Port = incoming.Port > 0 ? incoming.Port : IncomingDefaultPort(box.AccountKind, true);
        // On the plain port a secured connection can only be an upgrade.
        (box.POP3Port == IncomingDefaultPort(box.AccountKind, false) ? box.POP3StartTLS : box.POP3Secure) = true;
    }
    if (provider && provider->OutboxSSL && !box.SMTPServer.isEmpty()) {
        box.SMTPPort = provider->SMTPPort > 0 ? provider->SMTPPort : 465;
        box.SMTPSecure = true;
    }
    TPOP3AccountSettings account = AccountFromMailBox(box);
    account.SMTPAccountName = account.AccountName;
    account.SMTPPassword = account.Password;
    if (!entries.OAuthProvider.isEmpty() && !entries.RefreshToken.isEmpty()) {
        account.AuthMethod = amOAuth2;
        account.OAuthProvider = entries.OAuthProvider;
        account.Password = entries.RefreshToken;
        account.SMTPPassword.clear();
    }
    return account;
}
