#pragma once
// The tests' OAuth2 authorization server (tests/servers/oauth_server.py, Python's standard library) on
// 127.0.0.1 at a free port, stopped when the object goes: a sign-in page that redirects back with a code
// at once, a token endpoint that checks the PKCE verifier, refreshes that can be refused, and an
// introspection endpoint for Dovecot and the SMTP receiver. Its tokens end only when a test says so.
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QUrl>

class OAuthTestServer {
public:
    struct Options {
        QString clientId = QStringLiteral("quarvel-test-client");
        QString clientSecret;
        QString user;     // the login its tokens are for
        int lifetime = 3600; // expires_in of an access token, in seconds
        bool rotate = false; // a refresh hands out a new refresh token
    };

    explicit OAuthTestServer(const Options &options);
    ~OAuthTestServer();
    OAuthTestServer(const OAuthTestServer &) = delete;
    OAuthTestServer &operator=(const OAuthTestServer &) = delete;

    bool start(QString *error = nullptr);
    void stop();

    quint16 port() const { return m_port; }
    QUrl url(const QString &path) const;
    QUrl authorizationUrl() const { return url(QStringLiteral("/authorize")); }
    QUrl tokenUrl() const { return url(QStringLiteral("/token")); }
    QUrl introspectionUrl() const { return url(QStringLiteral("/introspect")); }
    const Options &options() const { return m_options; }

    // From now on every refresh (of the user's tokens, when one is named) is refused (invalid_grant).
    bool refuseRefresh(const QString &user = QString());
    // Every access token issued so far (to the user, when one is named) ends.
    bool expireAccessTokens(const QString &user = QString());
    // Counts: authorizations, code_grants, refresh_grants, refused, bad_verifier, introspections,
    // active_introspections.
    QJsonObject stats();
    int stat(const char *name) { return stats().value(QLatin1String(name)).toInt(-1); }

    // A blocking HTTP/1.0 request to the server (no event loop needed): the status and the body.
    int request(const QByteArray &method, const QString &path, const QByteArray &body, QByteArray *answer);

private:
    Options m_options;
    QProcess m_process;
    quint16 m_port = 0;
};
