#include "ProviderSignIn.h"

#include "JobWaitDialog.h"
#include "MsgBox.h"
#include "OAuthProviders.h"
#include "OAuthSignIn.h"
#include "OAuthTokens.h"
#include "POP3Check.h"
#include "RegistrySettingsUnit.h"

#include <QDesktopServices>
#include <QHash>
#include <QPointer>
#include <QWidget>

#include <algorithm>

std::function<bool(const QUrl &url)> &SignInUrlOpener()
{
    static std::function<bool(const QUrl &)> opener = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
    return opener;
}

void StartProviderSignIn(QWidget *parent, const QString &provider, const QString &loginHint, TSignInDone done)
{
    const std::optional<TOAuthProvider> preset = OAuthProviderByName(provider);
    if (!preset) {
        done(false, QString(), UnknownProviderText(provider));
        return;
    }
    auto *signIn = new TOAuthSignIn(*preset, loginHint, parent);
    signIn->OpenUrl = SignInUrlOpener();
    QPointer<TJobWaitDialog> wait = new TJobWaitDialog(kSignInWaitText.arg(preset->Name), parent);
    wait->OnCancel = [signIn] { signIn->Cancel(); };
    QObject::connect(signIn, &TOAuthSignIn::Finished, parent, [signIn, wait, done](const TSignInResult &r) {
        if (wait)
            wait->Finish();
        signIn->deleteLater();
        done(r.Ok, r.RefreshToken, r.Cancelled ? QString() : r.ErrorText);
    }, Qt::QueuedConnection);
    signIn->Start();
}

void TSignInRenewals::Note(const QString &account, int status, int code, const QString &errorText)
{
    if (status != asFailed || code != kSignInRenewalCode || m_offered.contains(account) || m_pending.contains(account))
        return;
    m_pending.append(account);
    m_reasons.insert(account, errorText.trimmed());
}

void TSignInRenewals::OfferPending(QWidget *parent, TRegistrySettings &settings, std::function<void()> renewed)
{
    while (!m_pending.isEmpty()) {
        const QString name = m_pending.takeFirst();
        const QString reason = m_reasons.take(name);
        m_offered.insert(name);
        const auto matches = [&name](const TPOP3AccountSettings &a) {
            return a.AuthMethod == amOAuth2 && a.AccountName + QLatin1Char('@') + a.ServerName == name;
        };
        const TPOP3Accounts &accounts = settings.Settings.Accounts;
        const auto account = std::find_if(accounts.cbegin(), accounts.cend(), matches);
        if (account == accounts.cend())
            continue;
        if (!YesNoQuestion(kSignInAgainQuestion.arg(reason, name, account->OAuthProvider)))
            continue;
        const QString hint = account->SMTPEMailAddress.isEmpty() ? account->AccountName : account->SMTPEMailAddress;
        StartProviderSignIn(parent, account->OAuthProvider, hint,
                            [&settings, matches, renewed](bool ok, const QString &refreshToken, const QString &errorText) {
                                if (!ok) {
                                    if (!errorText.isEmpty())
                                        ErrorBox(errorText);
                                    return;
                                }
                                // The stored list, not the one in memory: the token goes in as a new
                                // password does (enciphered; the next move takes it into the keyring).
                                TPOP3Check check;
                                TPOP3Accounts stored;
                                settings.LoadPOP3Settings(check, stored);
                                for (TPOP3AccountSettings &a : stored) {
                                    if (matches(a)) {
                                        a.Password = refreshToken;
                                        a.PasswordInKeyring = false;
                                    }
                                }
                                if (!settings.SavePOP3Settings(check, stored)) {
                                    ErrorBox(QStringLiteral("Die neue Anmeldung konnte nicht gespeichert werden."));
                                    return;
                                }
                                renewed();
                            });
        return; // one sign-in at a time
    }
}
