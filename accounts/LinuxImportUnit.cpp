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
            if (KeyFileValue(account, QStringLiteral("Mail Account"), QStringLiteral("BackendName")).trimmed()
                != QLatin1String("pop"))
                continue;
            TOEMailBox box;
            box.AccountKind = 0;
            box.DisplayName = KeyFileValue(account, kSource, QStringLiteral("DisplayName"));
            box.POP3Server = KeyFileValue(account, kAuth, QStringLiteral("Host")).trimmed();
            box.POP3UserName = KeyFileValue(account, kAuth, QStringLiteral("User"));
            evolutionSecurity(account, &box.POP3Secure, &box.POP3StartTLS);
            box.POP3Port = PortOrDefault(KeyFileValue(account, kAuth, QStringLiteral("Port")), box.POP3Secure ? 995 : 110);
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

void TKMailImport::GetAccounts(TOEAccountList &list)
{
    list.clear();
    static const QLatin1String prefix("akonadi_pop3_resource_");
    for (const QString &folder : ConfigFolders()) {
        QStringList files = QDir(folder).entryList({prefix + QStringLiteral("*rc")}, QDir::Files);
        // Resources are numbered; list them in the order they were made.
        const auto number = [](const QString &file) {
            return file.mid(prefix.size(), file.size() - prefix.size() - 2).toLongLong();
        };
        std::stable_sort(files.begin(), files.end(), [&](const QString &a, const QString &b) { return number(a) < number(b); });
        for (const KeyFile &f : loadKeyFiles(folder, files, kMaxResources)) {
            const platform::IniFile &ini = f.ini;
            const QString general = QStringLiteral("General");
            TOEMailBox box;
            box.AccountKind = 0;
            box.POP3Server = KeyFileValue(ini, general, QStringLiteral("host")).trimmed();
            box.POP3UserName = KeyFileValue(ini, general, QStringLiteral("login"));
            box.POP3Secure = truthValue(KeyFileValue(ini, general, QStringLiteral("useSSL")));
            box.POP3StartTLS = !box.POP3Secure && truthValue(KeyFileValue(ini, general, QStringLiteral("useTLS")));
            box.POP3Port = PortOrDefault(KeyFileValue(ini, general, QStringLiteral("port")), box.POP3Secure ? 995 : 110);
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
