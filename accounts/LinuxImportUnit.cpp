#include "LinuxImportUnit.h"

#include "ImportFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace {

const QString kSource = QStringLiteral("Data Source");
const QString kAuth = QStringLiteral("Authentication");
const QString kSecurity = QStringLiteral("Security");

QStringList existingFolders(const QStringList &candidates)
{
    QStringList out;
    for (const QString &c : candidates)
        if (QFileInfo(c).isDir())
            out.append(c);
    return out;
}

// Evolution's network security: TLS from the first byte, or an upgrade of the plain connection.
void evolutionSecurity(const platform::IniFile &ini, bool *secure, bool *startTls)
{
    const QString method = KeyFileValue(ini, kSecurity, QStringLiteral("Method")).trimmed();
    *secure = method == QLatin1String("ssl-on-alternate-port");
    *startTls = method == QLatin1String("starttls-on-standard-port");
}

struct KeyFile {
    QString name;
    platform::IniFile ini;
};

// The readable key files among the names given, at most max of them, in that order.
QList<KeyFile> loadKeyFiles(const QString &folder, const QStringList &names, int max)
{
    QList<KeyFile> out;
    for (const QString &name : names.mid(0, max)) {
        KeyFile f{name, {}};
        if (LoadKeyFile(folder + QLatin1Char('/') + name, &f.ini))
            out.append(f);
    }
    return out;
}

bool truthValue(const QString &text)
{
    const QString t = text.trimmed();
    return t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || t == QLatin1String("1");
}

} // namespace

TEvolutionImport::TEvolutionImport(const QString &home) : m_home(home) {}

QStringList TEvolutionImport::SourceFolders() const
{
    const TUserHome h = TUserHome::Of(m_home);
    return existingFolders({h.Config + QStringLiteral("/evolution/sources"),
                            h.Home + QStringLiteral("/.var/app/org.gnome.Evolution/config/evolution/sources")});
}

void TEvolutionImport::GetAccounts(TOEAccountList &list)
{
    list.clear();
    for (const QString &folder : SourceFolders()) {
        // Sources name each other by their file name without ".source".
        QHash<QString, platform::IniFile> sources;
        QStringList order;
        const QStringList files = QDir(folder).entryList({QStringLiteral("*.source")}, QDir::Files, QDir::Name);
        for (const KeyFile &f : loadKeyFiles(folder, files, kMaxSources)) {
            const QString uid = f.name.chopped(int(qstrlen(".source")));
            sources.insert(uid, f.ini);
            order.append(uid);
        }
        const auto source = [&](const QString &uid) { return sources.value(uid.trimmed()); };
        for (const QString &uid : order) {
            const platform::IniFile &account = sources[uid];
            const QString backend =
                KeyFileValue(account, QStringLiteral("Mail Account"), QStringLiteral("BackendName")).trimmed();
            // "imapx" is the IMAP of current versions, "imap" that of old ones.
            const bool imap = backend == QLatin1String("imapx") || backend == QLatin1String("imap");
            if (backend != QLatin1String("pop") && !imap)
                continue;
            TOEMailBox box;
            box.AccountKind = imap ? atIMAP : atPOP3;
            box.DisplayName = KeyFileValue(account, kSource, QStringLiteral("DisplayName"));
            box.POP3Server = KeyFileValue(account, kAuth, QStringLiteral("Host")).trimmed();
            box.POP3UserName = KeyFileValue(account, kAuth, QStringLiteral("User"));
            evolutionSecurity(account, &box.POP3Secure, &box.POP3StartTLS);
            box.POP3Port = PortOrDefault(KeyFileValue(account, kAuth, QStringLiteral("Port")),
                                         IncomingDefaultPort(box.AccountKind, box.POP3Secure));
            if (box.POP3Server.isEmpty() || ContainsAccount(list, box.POP3Server, box.POP3UserName))
                continue;

            const platform::IniFile identity =
                source(KeyFileValue(account, QStringLiteral("Mail Account"), QStringLiteral("IdentityUid")));
            box.SMTPEMailAddress = KeyFileValue(identity, QStringLiteral("Mail Identity"), QStringLiteral("Address")).trimmed();
            const platform::IniFile transport =
                source(KeyFileValue(identity, QStringLiteral("Mail Submission"), QStringLiteral("TransportUid")));
            if (KeyFileValue(transport, QStringLiteral("Mail Transport"), QStringLiteral("BackendName")).trimmed()
                == QLatin1String("smtp")) {
                box.SMTPServer = KeyFileValue(transport, kAuth, QStringLiteral("Host")).trimmed();
                evolutionSecurity(transport, &box.SMTPSecure, &box.SMTPStartTLS);
                box.SMTPPort = PortOrDefault(KeyFileValue(transport, kAuth, QStringLiteral("Port")), box.SMTPSecure ? 465 : 25);
                // No method means the server is used without a login.
                const QString method = KeyFileValue(transport, kAuth, QStringLiteral("Method")).trimmed();
                box.SMTPAuth = !method.isEmpty() && method.compare(QLatin1String("none"), Qt::CaseInsensitive) != 0;
            }
            list.append(TOEAccountItem{box.DisplayName, box});
        }
    }
}

TKMailImport::TKMailImport(const QString &home) : m_home(home) {}

QStringList TKMailImport::ConfigFolders() const
{
    const TUserHome h = TUserHome::Of(m_home);
    return existingFolders({h.Config, h.Home + QStringLiteral("/.var/app/org.kde.kmail2/config")});
}

namespace {

// A POP3 resource's configuration: [General] host, port, login, useSSL, useTLS.
TOEMailBox kmailPop3(const platform::IniFile &ini)
{
    const QString general = QStringLiteral("General");
    TOEMailBox box;
    box.AccountKind = atPOP3;
    box.POP3Server = KeyFileValue(ini, general, QStringLiteral("host")).trimmed();
    box.POP3UserName = KeyFileValue(ini, general, QStringLiteral("login"));
    box.POP3Secure = truthValue(KeyFileValue(ini, general, QStringLiteral("useSSL")));
    box.POP3StartTLS = !box.POP3Secure && truthValue(KeyFileValue(ini, general, QStringLiteral("useTLS")));
    box.POP3Port = PortOrDefault(KeyFileValue(ini, general, QStringLiteral("port")), IncomingDefaultPort(atPOP3, box.POP3Secure));
    return box;
}

// An IMAP resource's configuration: [network] ImapServer (older versions put ":port" after the name),
// ImapPort, UserName, Safety ("SSL" TLS from the first byte, the default; "STARTTLS"; "NONE").
TOEMailBox kmailImap(const platform::IniFile &ini)
{
    const QString network = QStringLiteral("network");
    TOEMailBox box;
    box.AccountKind = atIMAP;
    QString server = KeyFileValue(ini, network, QStringLiteral("ImapServer")).trimmed();
    QString port = KeyFileValue(ini, network, QStringLiteral("ImapPort"));
    const qsizetype colon = server.lastIndexOf(QLatin1Char(':'));
    if (colon > 0 && server.count(QLatin1Char(':')) == 1) {
        if (port.trimmed().isEmpty())
            port = server.mid(colon + 1);
        server = server.left(colon);
    }
    box.POP3Server = server;
    box.POP3UserName = KeyFileValue(ini, network, QStringLiteral("UserName"));
    const QString safety = KeyFileValue(ini, network, QStringLiteral("Safety")).trimmed().toUpper();
    box.POP3Secure = safety.isEmpty() || safety == QLatin1String("SSL");
    box.POP3StartTLS = safety == QLatin1String("STARTTLS");
    box.POP3Port = PortOrDefault(port, IncomingDefaultPort(atIMAP, box.POP3Secure));
    return box;
}

} // namespace

void TKMailImport::GetAccounts(TOEAccountList &list)
{
    list.clear();
    static const QLatin1String pop3Prefix("akonadi_pop3_resource_"), imapPrefix("akonadi_imap_resource_");
    for (const QString &folder : ConfigFolders()) {
        QStringList files;
        for (const QLatin1String prefix : {pop3Prefix, imapPrefix})
            files += QDir(folder).entryList({prefix + QStringLiteral("*rc")}, QDir::Files);
        // Resources are numbered per kind; list them kind by kind, in the order they were made.
        const auto key = [](const QString &file) {
            const bool imap = file.startsWith(imapPrefix);
            const qsizetype head = imap ? imapPrefix.size() : pop3Prefix.size();
            return std::make_pair(imap, file.mid(head, file.size() - head - 2).toLongLong());
        };
        std::stable_sort(files.begin(), files.end(), [&](const QString &a, const QString &b) { return key(a) < key(b); });
        for (const KeyFile &f : loadKeyFiles(folder, files, kMaxResources)) {
            TOEMailBox box = f.name.startsWith(imapPrefix) ? kmailImap(f.ini) : kmailPop3(f.ini);
            if (box.POP3Server.isEmpty() || ContainsAccount(list, box.POP3Server, box.POP3UserName))
                continue;
            // The name the user gave the resource is kept by the agent framework beside it.
            platform::IniFile agent;
            const QString resource = f.name.chopped(2);
            if (LoadKeyFile(folder + QStringLiteral("/akonadi/agent_config_") + resource, &agent))
                box.DisplayName = KeyFileValue(agent, QStringLiteral("Agent"), QStringLiteral("Name")).trimmed();
            if (box.DisplayName.isEmpty())
                box.DisplayName = box.POP3UserName + QLatin1Char('@') + box.POP3Server;
            list.append(TOEAccountItem{box.DisplayName, box});
        }
    }
}
