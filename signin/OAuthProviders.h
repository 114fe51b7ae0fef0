#pragma once
// The providers an account can sign in at with OAuth2, in one place: their endpoints and mail scopes,
// and the client registration the user made with each (no client id can ship with the program).
//
// The settings of a provider lie in the program key under "OAuth\<name>": "ClientId", "ClientSecret"
// (Google issues one to installed applications; it is no secret there), and, for a provider's other
// endpoints (a Microsoft tenant of its own, a test server), "AuthorizationUrl" and "TokenUrl".
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

struct TOAuthClient {
    QString ClientId;
    QString ClientSecret;
    bool operator==(const TOAuthClient &) const = default;
};

struct TOAuthProvider {
    QString Name; // the value of "OAuthProvider", and what the user reads ("Google")
    QUrl AuthorizationUrl;
    QUrl TokenUrl;
    QString Scope; // space-separated
    TOAuthClient Client;
};

inline const QString kGoogleProvider = QStringLiteral("Google");
inline const QString kMicrosoftProvider = QStringLiteral("Microsoft");

// The names of the presets, in the order they are offered.
QStringList OAuthProviderNames();

// The preset of that name (case-blind) with the user's settings applied; none for a name the program
// does not know.
std::optional<TOAuthProvider> OAuthProviderByName(const QString &name);

// The user's client registration of a provider, and its endpoints where they differ from the preset's
// (empty: the preset's).
TOAuthClient LoadOAuthClient(const QString &provider);
void SaveOAuthClient(const QString &provider, const TOAuthClient &client);
void SaveOAuthEndpoints(const QString &provider, const QUrl &authorizationUrl, const QUrl &tokenUrl);

// "Für Google ist keine Client-ID eingetragen …": what a sign-in without a client id says.
QString NoClientIdText(const QString &provider);
// "Anmeldung beim Anbieter … ist unbekannt": an account whose provider name the program does not know.
QString UnknownProviderText(const QString &provider);
