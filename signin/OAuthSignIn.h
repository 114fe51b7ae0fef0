#pragma once
// The sign-in at a provider: the authorization-code flow with PKCE (RFC 7636) and the answer on a
// loopback port (RFC 8252). It listens on 127.0.0.1 at a free port, has the provider's sign-in page
// opened (OpenUrl: the browser, or a test's own request), takes the code the browser brings back and
// trades it, with the PKCE verifier, for the tokens. Asynchronous, on the thread that owns it; Finished
// comes once, also after Cancel.
#include "OAuthProviders.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class QNetworkReply;
class QOAuth2AuthorizationCodeFlow;
class QOAuthHttpServerReplyHandler;

struct TSignInResult {
    bool Ok = false;
    bool Cancelled = false;
    QString RefreshToken;
    QString ErrorText; // German
};

class TOAuthSignIn : public QObject {
    Q_OBJECT
public:
    // loginHint: the mailbox's address, so that the provider offers the right account.
    TOAuthSignIn(const TOAuthProvider &provider, const QString &loginHint, QObject *parent = nullptr);
    ~TOAuthSignIn() override;

    // Opens the sign-in page; false when it could not be opened.
    std::function<bool(const QUrl &url)> OpenUrl;

    // Starts the sign-in; a failure to start (no client id, no free port) comes as Finished at once.
    void Start();
    // Gives up: the port closes, Finished tells Cancelled.
    void Cancel();

    // The PKCE pair (RFC 7636 4.1, 4.2): a verifier of 64 unreserved characters, and its S256 challenge.
    static QByteArray NewVerifier();
    static QByteArray ChallengeOf(const QByteArray &verifier);

Q_SIGNALS:
    void Finished(const TSignInResult &result);

private:
    void finish(TSignInResult result);
    void tokenReplyFinished(QNetworkReply *reply);
    void granted();

    TOAuthProvider m_provider;
    QString m_loginHint;
    QByteArray m_verifier;
    QOAuth2AuthorizationCodeFlow *m_flow = nullptr;
    QOAuthHttpServerReplyHandler *m_handler = nullptr;
    bool m_finished = false;
};
