#include "OAuthTokens.h"

#include "ReplyWait.h"
#include "SecretStore.h"
#include "WindowThread.h"

#include <QCoreApplication>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrlQuery>

#include <algorithm>
#include <memory>

namespace oauth {

namespace {

struct Cached {
    QString accessToken;
    qint64 expiresAtMs = 0;
};

QMutex g_mutex;
TClock g_clock;
QHash<QString, Cached> g_tokens;    // by refresh token
QHash<QString, QString> g_renewed;  // refresh token -> the one the provider gave in its place

// The newest refresh token of a chain of renewals. Called with g_mutex held.
QString latest(QString refreshToken)
{
    for (int hops = 0; g_renewed.contains(refreshToken) && hops < 100; ++hops)
        refreshToken = g_renewed.value(refreshToken);
    return refreshToken;
}

struct HttpAnswer {
    int status = 0;
    QByteArray body;
    QString error;
};

HttpAnswer post(const QUrl &url, const QUrlQuery &form, int timeoutMs, const std::function<bool()> &cancelled)
{
    HttpAnswer answer;
    if (platform::OnWindowThread()) {
        answer.error = platform::WindowThreadWaitText();
        return answer;
    }
    if (!QCoreApplication::instance()) {
        answer.error = QStringLiteral("Keine Ereignisschleife für die Anfrage.");
        return answer;
    }
    QNetworkAccessManager nam;
    nam.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Accept", "application/json");
    std::unique_ptr<QNetworkReply> reply(nam.post(request, form.toString(QUrl::FullyEncoded).toLatin1()));
    const bool givenUp = !WaitForReply(reply.get(), timeoutMs, cancelled);
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = reply->readAll();
    if (givenUp && cancelled && cancelled())
        answer.error = QStringLiteral("Die Anfrage wurde abgebrochen.");
    else if (givenUp)
        answer.error = QStringLiteral("Zeitüberschreitung: Der Anbieter hat nicht rechtzeitig geantwortet.");
    else if (answer.status == 0)
        answer.error = reply->errorString();
    return answer;
}

} // namespace

void SetClock(TClock clock)
{
    QMutexLocker lock(&g_mutex);
    g_clock = std::move(clock);
}

qint64 NowMs()
{
    QMutexLocker lock(&g_mutex);
    return g_clock ? g_clock() : QDateTime::currentMSecsSinceEpoch();
}

QString RenewalText(const QString &providerName)
{
    return QStringLiteral("Die Anmeldung bei %1 muss erneuert werden").arg(providerName);
}

TTokenResult ParseTokenResponse(int httpStatus, const QByteArray &body, const QString &refreshToken,
                                const QString &providerName)
{
    TTokenResult result;
    result.RefreshToken = refreshToken;
    QJsonParseError parse;
    const QJsonObject json = QJsonDocument::fromJson(body, &parse).object();
    const QString error = json.value(QStringLiteral("error")).toString();
    if (httpStatus >= 200 && httpStatus < 300 && error.isEmpty()) {
        const QString access = json.value(QStringLiteral("access_token")).toString();
        const QString type = json.value(QStringLiteral("token_type")).toString();
        if (access.isEmpty() || (!type.isEmpty() && type.compare(QLatin1String("bearer"), Qt::CaseInsensitive) != 0)) {
            result.ErrorText = QStringLiteral("Die Antwort von %1 enthält kein Zugangszeichen.").arg(providerName);
            return result;
        }
        // A number or a text; a lifetime beyond a day (or beyond any number) is taken as a day, so the
        // expiry stays a sane time.
        const QJsonValue given = json.value(QStringLiteral("expires_in"));
        const double seconds = given.isString() ? given.toString().toDouble() : given.toDouble();
        const qint64 lifetime = seconds >= 1 ? qint64(std::min(seconds, double(kMaxTokenLifetimeSeconds))) : 3600;
        result.Status = TTokenStatus::Ok;
        result.AccessToken = access;
        result.ExpiresAtMs = NowMs() + lifetime * 1000;
        const QString renewed = json.value(QStringLiteral("refresh_token")).toString();
        if (!renewed.isEmpty())
            result.RefreshToken = renewed;
        return result;
    }
    // RFC 6749 5.2: a refresh token that is expired, revoked or otherwise no longer good.
    if (error == QLatin1String("invalid_grant")) {
        result.Status = TTokenStatus::Refused;
        result.ErrorText = RenewalText(providerName);
        return result;
    }
    const QString description = json.value(QStringLiteral("error_description")).toString().trimmed();
    QString words = error.isEmpty() ? QStringLiteral("HTTP %1").arg(httpStatus) : error;
    if (!description.isEmpty())
        words += QStringLiteral(": ") + description;
    result.ErrorText = QStringLiteral("%1 hat kein Zugangszeichen ausgegeben (%2).").arg(providerName, words);
    return result;
}

void RememberAccessToken(const QString &refreshToken, const QString &accessToken, qint64 expiresAtMs)
{
    QMutexLocker lock(&g_mutex);
    g_tokens.insert(refreshToken, Cached{accessToken, expiresAtMs});
}

void ForgetAccessToken(const QString &refreshToken)
{
    QMutexLocker lock(&g_mutex);
    g_tokens.remove(latest(refreshToken));
}

void ForgetAll()
{
    QMutexLocker lock(&g_mutex);
    g_tokens.clear();
    g_renewed.clear();
}

TTokenResult AccessToken(const TOAuthProvider &provider, const QString &refreshToken, int timeoutMs,
                         const std::function<bool()> &cancelled)
{
    TTokenResult result;
    if (refreshToken.isEmpty()) {
        result.Status = TTokenStatus::Refused;
        result.ErrorText = RenewalText(provider.Name);
        return result;
    }
    QString current;
    {
        QMutexLocker lock(&g_mutex);
        current = latest(refreshToken);
        const auto it = g_tokens.constFind(current);
        const qint64 now = g_clock ? g_clock() : QDateTime::currentMSecsSinceEpoch();
        if (it != g_tokens.constEnd() && it->expiresAtMs - now > kRenewAheadMs) {
            result.Status = TTokenStatus::Ok;
            result.AccessToken = it->accessToken;
            result.RefreshToken = current;
            result.ExpiresAtMs = it->expiresAtMs;
            return result;
        }
    }
    if (provider.Client.ClientId.isEmpty()) {
        result.RefreshToken = current;
        result.ErrorText = NoClientIdText(provider.Name);
        return result;
    }
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("grant_type"), QStringLiteral("refresh_token"));
    form.addQueryItem(QStringLiteral("refresh_token"), QString::fromLatin1(QUrl::toPercentEncoding(current)));
    form.addQueryItem(QStringLiteral("client_id"), QString::fromLatin1(QUrl::toPercentEncoding(provider.Client.ClientId)));
    if (!provider.Client.ClientSecret.isEmpty())
        form.addQueryItem(QStringLiteral("client_secret"),
                          QString::fromLatin1(QUrl::toPercentEncoding(provider.Client.ClientSecret)));
    const HttpAnswer answer = post(provider.TokenUrl, form, timeoutMs, cancelled);
    if (!answer.error.isEmpty()) {
        result.RefreshToken = current;
        result.ErrorText = QStringLiteral("Der Anbieter %1 ist nicht erreichbar: %2").arg(provider.Name, answer.error);
        return result;
    }
    result = ParseTokenResponse(answer.status, answer.body, current, provider.Name);
    if (result.ok()) {
        QMutexLocker lock(&g_mutex);
        if (result.RefreshToken != current) {
            g_renewed.insert(current, result.RefreshToken);
            g_tokens.remove(current);
        }
        g_tokens.insert(result.RefreshToken, Cached{result.AccessToken, result.ExpiresAtMs});
    }
    return result;
}

} // namespace oauth

bool ResolveLogin(const TPOP3AccountSettings &account, TPasswordKind kind, TLoginSecret *secret, QString *error,
                  int *code, const std::function<bool()> &cancelled)
{
    *code = 0;
    secret->OAuth = account.AuthMethod == amOAuth2;
    if (!secret->OAuth) {
        if (ResolvePassword(account, kind, &secret->Secret, error))
            return true;
        *code = kPasswordUnavailableCode;
        return false;
    }
    const std::optional<TOAuthProvider> provider = OAuthProviderByName(account.OAuthProvider);
    if (!provider) {
        *error = UnknownProviderText(account.OAuthProvider);
        return false;
    }
    // The refresh token is kept as the mailbox's own password is.
    QString refreshToken;
    if (!ResolvePassword(account, TPasswordKind::Incoming, &refreshToken, error)) {
        *code = kPasswordUnavailableCode;
        return false;
    }
    const oauth::TTokenResult token = oauth::AccessToken(*provider, refreshToken, oauth::kTokenRequestTimeoutMs, cancelled);
    if (!token.ok()) {
        *error = token.ErrorText;
        *code = token.Status == oauth::TTokenStatus::Refused ? kSignInRenewalCode : 0;
        return false;
    }
    if (token.RefreshToken != refreshToken && account.PasswordInKeyring) {
        // The provider's new refresh token replaces the old one where the old one was kept; should the
        // keyring refuse it, this run goes on with the new one in memory.
        const QString key = SecretKey(account, TPasswordKind::Incoming);
        secrets::Write(key, token.RefreshToken);
        RememberSessionPassword(key, token.RefreshToken);
    }
    secret->Secret = token.AccessToken;
    return true;
}

void LoginRefused(const TPOP3AccountSettings &account, const TLoginSecret &secret)
{
    if (!secret.OAuth)
        return;
    QString refreshToken, error;
    if (ResolvePassword(account, TPasswordKind::Incoming, &refreshToken, &error))
        oauth::ForgetAccessToken(refreshToken);
}
