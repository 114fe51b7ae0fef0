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
        e.POP3Port = (pop3Port > 0 && pop3Port <= 65535) ? pop3Port : 0;
        e.SMTPPort = (smtpPort > 0 && smtpPort <= 65535) ? smtpPort : 0;
        out.append(p);
    }
    return out;
}

QList<TProvider> OfferedProviders(const QList<TProvider> &all, bool secureIncoming)
{
    QList<TProvider> out;
    for (const TProvider &p : all)
        if (p.Entry.AccountType == 0 && (!p.Entry.InboxSSL || secureIncoming))
            out.append(p);
    std::stable_sort(out.begin(), out.end(), [](const TProvider &a, const TProvider &b) {
        return a.Name.compare(b.Name, Qt::CaseInsensitive) < 0;
    });
    return out;
}

TPOP3AccountSettings AccountFromAssistant(const TAssistantEntries &entries, const TProviderEntry *provider)
{
    // The security rules of imported accounts serve here too: the provider file is one more source.
    TOEMailBox box;
    box.POP3Server = entries.POP3Server.trimmed();
    box.POP3UserName = entries.AccountName;
    box.POP3Password = entries.Password;
    box.SMTPServer = entries.SMTPServer.trimmed();
    box.SMTPEMailAddress = entries.EMailAddress.trimmed();
    box.SMTPAuth = entries.SMTPAuth;
    if (provider && provider->InboxSSL && !box.POP3Server.isEmpty()) {
        box.POP3Port = provider->POP3Port > 0 ? provider->POP3Port : 995;
        // On the plain port a secured connection can only be an upgrade.
        (box.POP3Port == 110 ? box.POP3StartTLS : box.POP3Secure) = true;
    }
    if (provider && provider->OutboxSSL && !box.SMTPServer.isEmpty()) {
        box.SMTPPort = provider->SMTPPort > 0 ? provider->SMTPPort : 465;
        box.SMTPSecure = true;
    }
    TPOP3AccountSettings account = AccountFromMailBox(box);
    account.SMTPAccountName = account.AccountName;
    account.SMTPPassword = account.Password;
    return account;
}
