#include "OAuthProviders.h"

#include "RegIni.h"
#include "RegistrySettingsUnit.h"

namespace {

struct Preset {
    QString name;
    const char *authorization;
    const char *token;
    const char *scope;
};

// Google's one scope covers IMAP, POP3 and SMTP. Microsoft wants each protocol's, and offline_access
// for a refresh token.
const QList<Preset> &presets()
{
    static const QList<Preset> list{
        {kGoogleProvider, "https://accounts.google.com/o/oauth2/v2/auth", "https://oauth2.googleapis.com/token",
         "https://mail.google.com/"},
        {kMicrosoftProvider, "https://login.microsoftonline.com/common/oauth2/v2.0/authorize",
         "https://login.microsoftonline.com/common/oauth2/v2.0/token",
         "https://outlook.office.com/IMAP.AccessAsUser.All https://outlook.office.com/POP.AccessAsUser.All "
         "https://outlook.office.com/SMTP.Send offline_access"},
    };
    return list;
}

const Preset *presetNamed(const QString &name)
{
    for (const Preset &p : presets()) {
        if (p.name.compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return &p;
    }
    return nullptr;
}

void useProviderKey(TTheRegIniFile &reg, const QString &provider)
{
    reg.RegKey = HKEY::CURRENT_USER;
    reg.Area = kProgramKey;
    reg.Section = QStringLiteral("OAuth\\") + provider;
}

QString readText(TTheRegIniFile &reg, const QString &name)
{
    const QString value = reg.ReadString(name, QString()).trimmed();
    return reg.ErrorCode() == 0 ? value : QString();
}

// An endpoint of the settings, when it is a whole http(s) address.
QUrl endpoint(TTheRegIniFile &reg, const QString &name, const char *preset)
{
    const QUrl own(readText(reg, name), QUrl::StrictMode);
    if (own.isValid() && !own.host().isEmpty()
        && (own.scheme() == QLatin1String("https") || own.scheme() == QLatin1String("http")))
        return own;
    return QUrl(QString::fromLatin1(preset));
}

} // namespace

QStringList OAuthProviderNames()
{
    QStringList names;
    for (const Preset &p : presets())
        names << p.name;
    return names;
}

std::optional<TOAuthProvider> OAuthProviderByName(const QString &name)
{
    const Preset *preset = presetNamed(name);
    if (!preset)
        return std::nullopt;
    TTheRegIniFile reg;
    useProviderKey(reg, preset->name);
    TOAuthProvider provider;
    provider.Name = preset->name;
    provider.AuthorizationUrl = endpoint(reg, QStringLiteral("AuthorizationUrl"), preset->authorization);
    provider.TokenUrl = endpoint(reg, QStringLiteral("TokenUrl"), preset->token);
    provider.Scope = QString::fromLatin1(preset->scope);
    provider.Client = LoadOAuthClient(preset->name);
    return provider;
}

TOAuthClient LoadOAuthClient(const QString &provider)
{
    TTheRegIniFile reg;
    useProviderKey(reg, provider);
    return TOAuthClient{readText(reg, QStringLiteral("ClientId")), readText(reg, QStringLiteral("ClientSecret"))};
}

void SaveOAuthClient(const QString &provider, const TOAuthClient &client)
{
    TTheRegIniFile reg;
    useProviderKey(reg, provider);
    reg.WriteString(QStringLiteral("ClientId"), client.ClientId.trimmed());
    reg.WriteString(QStringLiteral("ClientSecret"), client.ClientSecret.trimmed());
}

void SaveOAuthEndpoints(const QString &provider, const QUrl &authorizationUrl, const QUrl &tokenUrl)
{
    TTheRegIniFile reg;
    useProviderKey(reg, provider);
    reg.WriteString(QStringLiteral("AuthorizationUrl"), authorizationUrl.toString());
    reg.WriteString(QStringLiteral("TokenUrl"), tokenUrl.toString());
}

QString NoClientIdText(const QString &provider)
{
    return QStringLiteral("Für %1 ist keine Client-ID eingetragen. Tragen Sie sie unter Konfiguration - "
                          "Programmkonfiguration, Registerkarte \"Anmeldung\" ein (wie Sie eine bekommen, "
                          "steht in der Hilfe).")
        .arg(provider);
}

QString UnknownProviderText(const QString &provider)
{
    return QStringLiteral("Der Anbieter \"%1\" für die Anmeldung ist unbekannt.").arg(provider);
}
