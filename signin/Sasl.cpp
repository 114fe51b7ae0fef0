#include "Sasl.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace sasl {

namespace {

bool hasControl(const QByteArray &bytes)
{
    return std::any_of(bytes.cbegin(), bytes.cend(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// RFC 7628's saslname: "," and "=" escaped, as in the GS2 header of RFC 5801.
QByteArray saslName(const QByteArray &name)
{
    QByteArray out;
    for (char c : name) {
        if (c == ',')
            out += "=2C";
        else if (c == '=')
            out += "=3D";
        else
            out += c;
    }
    return out;
}

} // namespace

QByteArray MechanismName(TMechanism mechanism)
{
    return mechanism == TMechanism::OAuthBearer ? QByteArrayLiteral("OAUTHBEARER") : QByteArrayLiteral("XOAUTH2");
}

std::optional<TMechanism> ChooseMechanism(const QByteArrayList &offered)
{
    if (offered.contains("OAUTHBEARER"))
        return TMechanism::OAuthBearer;
    if (offered.isEmpty() || offered.contains("XOAUTH2"))
        return TMechanism::XOAuth2;
    return std::nullopt;
}

QByteArray InitialResponse(TMechanism mechanism, const QString &user, const QString &token, const QString &host,
                           quint16 port)
{
    const QByteArray name = user.toUtf8();
    const QByteArray bearer = token.toUtf8();
    const QByteArray server = host.toUtf8();
    if (hasControl(name) || hasControl(bearer) || hasControl(server))
        return {};
    if (mechanism == TMechanism::XOAuth2)
        return "user=" + name + "\x01" "auth=Bearer " + bearer + "\x01\x01";
    return "n,a=" + saslName(name) + ",\x01" "host=" + server + "\x01" "port=" + QByteArray::number(port)
           + "\x01" "auth=Bearer " + bearer + "\x01\x01";
}

TBearerStart StartBearer(const QByteArrayList &offered, const QString &user, const QString &token, const QString &host,
                         quint16 port)
{
    TBearerStart start;
    const std::optional<TMechanism> mechanism = ChooseMechanism(offered);
    if (!mechanism) {
        start.ErrorText =
            QStringLiteral("Der Server %1 bietet keine Anmeldung beim Anbieter (XOAUTH2, OAUTHBEARER) an.").arg(host);
        return start;
    }
    start.Response = InitialResponse(*mechanism, user, token, host, port);
    if (start.Response.isEmpty()) {
        start.ErrorText = QStringLiteral("Benutzername oder Zugangszeichen enthält ein ungültiges Zeichen.");
        return start;
    }
    start.Mechanism = mechanism;
    return start;
}

QByteArray ErrorAnswer(TMechanism mechanism)
{
    return mechanism == TMechanism::OAuthBearer ? QByteArray(1, '\x01') : QByteArray();
}

TBearerError DecodeErrorChallenge(const QByteArray &base64)
{
    TBearerError error;
    const auto decoded = QByteArray::fromBase64Encoding(base64.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return error;
    QJsonParseError parse;
    const QJsonDocument json = QJsonDocument::fromJson(*decoded, &parse);
    if (parse.error != QJsonParseError::NoError || !json.isObject())
        return error;
    const QJsonObject object = json.object();
    error.Valid = true;
    const QJsonValue status = object.value(QStringLiteral("status"));
    // Some servers give the status as a number.
    error.Status = status.isDouble() ? QString::number(status.toInt()) : status.toString();
    error.Scope = object.value(QStringLiteral("scope")).toString();
    return error;
}

QString ErrorChallengeText(const TBearerError &error)
{
    if (!error.Valid || error.Status.isEmpty())
        return QStringLiteral("Der Server hat das Zugangszeichen nicht angenommen.");
    return QStringLiteral("Der Server hat das Zugangszeichen nicht angenommen (Status %1).").arg(error.Status);
}

} // namespace sasl
