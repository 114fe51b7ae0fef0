#pragma once
// A provider on the tests' authorization server, and the sign-in run without a browser: the test fetches
// the sign-in page itself and follows its redirect back to the loopback answer.
#include "EventWait.h"
#include "OAuthProviders.h"
#include "OAuthSignIn.h"
#include "OAuthTestServer.h"

#include <gtest/gtest.h>

#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <optional>

// Makes the preset "Google" use the test server and its client, in the current profile.
inline TOAuthProvider UseTestProvider(const OAuthTestServer &server, const QString &name = kGoogleProvider)
{
    SaveOAuthClient(name, TOAuthClient{server.options().clientId, server.options().clientSecret});
    SaveOAuthEndpoints(name, server.authorizationUrl(), server.tokenUrl());
    return *OAuthProviderByName(name);
}

// What a browser does with the sign-in page here: it follows the redirects, the last one to the loopback
// port of the sign-in.
class HeadlessBrowser {
public:
    bool open(const QUrl &url)
    {
        opened.append(url);
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
        QNetworkReply *reply = m_nam.get(request);
        QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
        return true;
    }
    QList<QUrl> opened;

private:
    QNetworkAccessManager m_nam;
};

// Runs a sign-in to its end with the event loop running; none when it never ended.
inline std::optional<TSignInResult> RunSignIn(const TOAuthProvider &provider, const QString &loginHint,
                                              HeadlessBrowser &browser)
{
    TOAuthSignIn signIn(provider, loginHint);
    signIn.OpenUrl = [&browser](const QUrl &url) { return browser.open(url); };
    std::optional<TSignInResult> result;
    QObject::connect(&signIn, &TOAuthSignIn::Finished, [&result](const TSignInResult &r) { result = r; });
    signIn.Start();
    if (!processEventsUntil([&] { return result.has_value(); }, 30000))
        return std::nullopt;
    return result;
}

// The refresh token of a sign-in that has to succeed; empty, with the test failed, when it does not.
inline QString RefreshTokenOfSignIn(const TOAuthProvider &provider, const QString &loginHint, HeadlessBrowser &browser)
{
    const std::optional<TSignInResult> r = RunSignIn(provider, loginHint, browser);
    EXPECT_TRUE(r.has_value()) << "the sign-in never ended";
    if (!r)
        return {};
    EXPECT_TRUE(r->Ok) << r->ErrorText.toStdString();
    return r->RefreshToken;
}
