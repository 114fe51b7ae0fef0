#pragma once
// The SASL mechanisms that log in with a bearer token instead of a password: XOAUTH2 (the providers' own)
// and OAUTHBEARER (RFC 7628). Pure functions over bytes: the protocol clients put the messages on the
// wire in their own framing (POP3 AUTH, IMAP AUTHENTICATE, SMTP AUTH) and Base64.
//
// A refused token is answered by the server with a challenge that holds a JSON error ({"status":
// "invalid_token", ...}); the client must answer it (ErrorAnswer) before the server ends the exchange
// with its failure reply.
#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include <optional>

namespace sasl {

enum class TMechanism { XOAuth2, OAuthBearer };

// "XOAUTH2", "OAUTHBEARER".
QByteArray MechanismName(TMechanism mechanism);

// The mechanism for a server that offers these (upper case names): OAUTHBEARER, the standard, where it
// is offered, else XOAUTH2; none when neither is. An empty list (a server that did not say) gives XOAUTH2,
// which every provider takes.
std::optional<TMechanism> ChooseMechanism(const QByteArrayList &offered);

// The client's first message, not yet in Base64. host and port are the server's (OAUTHBEARER names them).
// Empty when user or token hold a byte the format cannot carry (a control character).
QByteArray InitialResponse(TMechanism mechanism, const QString &user, const QString &token, const QString &host,
                           quint16 port);

// The start of a token login at server host:port that offers these mechanisms: the mechanism and its first
// message (not in Base64), or, with no mechanism, the German text of why nothing can be sent (the server
// offers neither mechanism, or the name or token holds a control character).
struct TBearerStart {
    std::optional<TMechanism> Mechanism;
    QByteArray Response;
    QString ErrorText;
};
TBearerStart StartBearer(const QByteArrayList &offered, const QString &user, const QString &token, const QString &host,
                         quint16 port);

// The answer to an error challenge, not in Base64: nothing for XOAUTH2, a single 0x01 for OAUTHBEARER.
QByteArray ErrorAnswer(TMechanism mechanism);

// What an error challenge says. Valid is false when it is no Base64 JSON object.
struct TBearerError {
    bool Valid = false;
    QString Status; // "invalid_token", "401", ...
    QString Scope;  // the scope the server wants, when it names one
};
TBearerError DecodeErrorChallenge(const QByteArray &base64);

// The German text of a refused token, the server's status in it: "Der Server hat das Zugangszeichen
// nicht angenommen (Status invalid_token)."
QString ErrorChallengeText(const TBearerError &error);

} // namespace sasl
