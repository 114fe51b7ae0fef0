#pragma once
// Access tokens of the accounts that sign in at their provider. An access token lives in memory only,
// under the refresh token it was got with, and is renewed at the provider's token endpoint when less than
// kRenewAheadMs of its life is left. The refresh token is kept where a password is kept (the account's
// password value, or the keyring; KeyringPasswords.h).
//
// A provider may hand out a new refresh token with a renewal: from then on, in this run, the old one
// leads to the new one, and an account whose token lives in the keyring gets the new one there.
#include "KeyringPasswords.h"
#include "OAuthProviders.h"
#include "TypeDef.h"

#include <QByteArray>
#include <QString>

#include <functional>

// The error code of a check whose sign-in must be renewed (the provider refused the refresh token): the
// window then offers to sign in again.
inline constexpr int kSignInRenewalCode = 991;

namespace oauth {

inline constexpr qint64 kRenewAheadMs = 60000;
inline constexpr int kTokenRequestTimeoutMs = 30000;
// The longest an access token is taken to live, whatever the provider says.
inline constexpr qint64 kMaxTokenLifetimeSeconds = 24 * 3600;

// The clock of the expiry times, in milliseconds since the epoch. An empty clock is the system's; tests
// set their own.
using TClock = std::function<qint64()>;
void SetClock(TClock clock);
qint64 NowMs();

enum class TTokenStatus {
    Ok,
    Refused, // the provider refused the refresh token: the user must sign in again
    Failed,  // no answer, or one that could not be used (the text says why)
};

struct TTokenResult {
    TTokenStatus Status = TTokenStatus::Failed;
    QString AccessToken;
    QString RefreshToken; // the one to keep from now on: the given one, or the provider's new one
    qint64 ExpiresAtMs = 0;
    QString ErrorText; // German
    bool ok() const { return Status == TTokenStatus::Ok; }
};

// The answer of a token endpoint (RFC 6749 5.1 and 5.2), read as JSON. expires_in missing gives an hour;
// refreshToken the given one when the answer carries none.
TTokenResult ParseTokenResponse(int httpStatus, const QByteArray &body, const QString &refreshToken,
                                const QString &providerName);

// A token got by the sign-in.
void RememberAccessToken(const QString &refreshToken, const QString &accessToken, qint64 expiresAtMs);
// The server refused the access token of this refresh token: the next request renews it.
void ForgetAccessToken(const QString &refreshToken);
// Every token of this run (the renewals included).
void ForgetAll();

// The access token for the refresh token: the one in memory while it lives long enough, otherwise a
// renewal at the provider. Blocking (up to timeoutMs, or until cancelled says so): not for the window's
// thread.
TTokenResult AccessToken(const TOAuthProvider &provider, const QString &refreshToken,
                         int timeoutMs = kTokenRequestTimeoutMs, const std::function<bool()> &cancelled = {});

// "Die Anmeldung bei Google muss erneuert werden".
QString RenewalText(const QString &providerName);

} // namespace oauth

// What an account's login sends: its password, or for an account that signs in at its provider an access
// token (OAuth is then true).
struct TLoginSecret {
    bool OAuth = false;
    QString Secret;
};

// The login of this kind (Incoming or Outgoing; one that signs in at its provider uses its one token for
// both). False with a German text in *error and the error code of a check in *code: the keyring did not
// give the password (kPasswordUnavailableCode), the provider refused the refresh (kSignInRenewalCode), or
// another failure (0). Blocking: not for the window's thread; a renewal under way ends as soon as cancelled
// says so.
bool ResolveLogin(const TPOP3AccountSettings &account, TPasswordKind kind, TLoginSecret *secret, QString *error,
                  int *code, const std::function<bool()> &cancelled = {});

// A check whose login used secret was refused by the server: a token is renewed before the next login.
void LoginRefused(const TPOP3AccountSettings &account, const TLoginSecret &secret);
