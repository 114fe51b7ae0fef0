#include "OAuthSignIn.h"

#include "OAuthTokens.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QOAuth2AuthorizationCodeFlow>
#include <QOAuthHttpServerReplyHandler>
#include <QRandomGenerator>

TOAuthSignIn::TOAuthSignIn(const TOAuthProvider &provider, const QString &loginHint, QObject *parent)
    : QObject(parent), m_provider(provider), m_loginHint(loginHint.trimmed())
{
}

TOAuthSignIn::~TOAuthSignIn()
{
    if (m_handler)
        m_handler->close();
}

QByteArray TOAuthSignIn::NewVerifier()
{
    static const char kUnreserved[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
    QByteArray verifier;
    for (int i = 0; i < 64; ++i)
        verifier += kUnreserved[QRandomGenerator::system()->bounded(int(sizeof(kUnreserved) - 1))];
    return verifier;
}

QByteArray TOAuthSignIn::ChallengeOf(const QByteArray &verifier)
{
    return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

void TOAuthSignIn::Start()
{
    if (m_provider.Client.ClientId.isEmpty()) {
        finish(TSignInResult{false, false, {}, NoClientIdText(m_provider.Name)});
        return;
    }
    m_handler = new QOAuthHttpServerReplyHandler(QHostAddress(QHostAddress::LocalHost), 0, this);
    if (!m_handler->isListening()) {
        finish(TSignInResult{false, false, {},
                             QStringLiteral("Für die Antwort von %1 ist kein Anschluss auf diesem Rechner frei.")
                                 .arg(m_provider.Name)});
        return;
    }
    m_handler->setCallbackText(QStringLiteral("Die Anmeldung bei %1 ist abgeschlossen. Sie können dieses Fenster "
                                              "schließen und zu Quarvel zurückkehren.")
                                   .arg(m_provider.Name));
    m_flow = new QOAuth2AuthorizationCodeFlow(this);
    m_flow->setNetworkAccessManager(new QNetworkAccessManager(m_flow));
    m_flow->setAuthorizationUrl(m_provider.AuthorizationUrl);
    m_flow->setAccessTokenUrl(m_provider.TokenUrl);
    m_flow->setClientIdentifier(m_provider.Client.ClientId);
    m_flow->setClientIdentifierSharedKey(m_provider.Client.ClientSecret);
    m_flow->setScope(m_provider.Scope);
    m_flow->setReplyHandler(m_handler);
    m_verifier = NewVerifier();
    const QByteArray challenge = ChallengeOf(m_verifier);
    const QByteArray verifier = m_verifier;
    const QString hint = m_loginHint;
    // This Qt's flow knows no PKCE: the challenge goes with the sign-in page, the verifier with the code.
    m_flow->setModifyParametersFunction([challenge, verifier, hint](QAbstractOAuth::Stage stage,
                                                                    QMultiMap<QString, QVariant> *parameters) {
        if (stage == QAbstractOAuth::Stage::RequestingAuthorization) {
            parameters->insert(QStringLiteral("code_challenge"), QString::fromLatin1(challenge));
            parameters->insert(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
            if (!hint.isEmpty())
                parameters->insert(QStringLiteral("login_hint"), hint);
        } else if (stage == QAbstractOAuth::Stage::RequestingAccessToken) {
            parameters->insert(QStringLiteral("code_verifier"), QString::fromLatin1(verifier));
        }
    });
    connect(m_flow, &QAbstractOAuth::authorizeWithBrowser, this, [this](const QUrl &url) {
        if (!OpenUrl || !OpenUrl(url))
            finish(TSignInResult{false, false, {},
                                 QStringLiteral("Die Anmeldeseite von %1 konnte nicht geöffnet werden.").arg(m_provider.Name)});
    });
    connect(m_flow, &QAbstractOAuth::granted, this, &TOAuthSignIn::granted);
    connect(m_flow, &QAbstractOAuth2::error, this,
            [this](const QString &error, const QString &description, const QUrl &) {
                QString words = error;
                if (!description.isEmpty())
                    words += QStringLiteral(": ") + description;
                finish(TSignInResult{false, false, {},
                                     QStringLiteral("%1 hat die Anmeldung abgelehnt (%2).").arg(m_provider.Name, words)});
            });
    // The flow passes over a refused token request in silence; its answer is read here.
    connect(m_flow->networkAccessManager(), &QNetworkAccessManager::finished, this,
            &TOAuthSignIn::tokenReplyFinished);
    m_flow->grant();
}

void TOAuthSignIn::tokenReplyFinished(QNetworkReply *reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() == QNetworkReply::NoError && status >= 200 && status < 300)
        return;
    if (status == 0) {
        finish(TSignInResult{false, false, {},
                             QStringLiteral("Der Anbieter %1 ist nicht erreichbar: %2").arg(m_provider.Name, reply->errorString())});
        return;
    }
    const oauth::TTokenResult parsed = oauth::ParseTokenResponse(status, reply->peek(reply->bytesAvailable()),
                                                                 QString(), m_provider.Name);
    finish(TSignInResult{false, false, {}, parsed.ErrorText});
}

void TOAuthSignIn::granted()
{
    const QString refreshToken = m_flow->refreshToken();
    if (refreshToken.isEmpty()) {
        finish(TSignInResult{false, false, {},
                             QStringLiteral("%1 hat kein Zeichen für die weitere Anmeldung ausgegeben.").arg(m_provider.Name)});
        return;
    }
    // The flow measures the life on the system clock; the token store on its own.
    const QDateTime expires = m_flow->expirationAt();
    const qint64 lifeMs = expires.isValid() ? QDateTime::currentDateTimeUtc().msecsTo(expires) : qint64(3600) * 1000;
    oauth::RememberAccessToken(refreshToken, m_flow->token(), oauth::NowMs() + lifeMs);
    finish(TSignInResult{true, false, refreshToken, {}});
}

void TOAuthSignIn::Cancel()
{
    finish(TSignInResult{false, true, {}, QStringLiteral("Die Anmeldung wurde abgebrochen.")});
}

void TOAuthSignIn::finish(TSignInResult result)
{
    if (m_finished)
        return;
    m_finished = true;
    // Nothing may arrive on the port any more.
    if (m_handler)
        m_handler->close();
    Q_EMIT Finished(result);
}
