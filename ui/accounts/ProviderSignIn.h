#pragma once
// The sign-in at a mail provider started by the user (the editor's "Anmelden…", the assistant, the offer
// after a check that needs it): the provider's page in the browser, and a wait window with "Abbrechen"
// until the browser has brought the answer back. Never started by a timed check.
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

class QWidget;
class TRegistrySettings;

// The wait window's text; %1 the provider.
inline const QString kSignInWaitText =
    QStringLiteral("Bitte melden Sie sich im Browser bei %1 an. Dieses Fenster schließt sich, sobald die Anmeldung "
                   "abgeschlossen ist.");

// How the sign-in page is opened: the desktop's browser. Tests put a request of their own here.
std::function<bool(const QUrl &url)> &SignInUrlOpener();

// ok with the refresh token to keep; otherwise errorText says why (empty when the user cancelled).
using TSignInDone = std::function<void(bool ok, const QString &refreshToken, const QString &errorText)>;

// Starts the sign-in at provider for the mailbox loginHint, window-modal over parent; done runs once on
// the window's thread when it has ended (not at all when parent is gone first).
void StartProviderSignIn(QWidget *parent, const QString &provider, const QString &loginHint, TSignInDone done);

// %1 the failure ("Die Anmeldung bei Google muss erneuert werden"), %2 the mailbox, %3 the provider.
inline const QString kSignInAgainQuestion = QStringLiteral("%1 (Postfach %2).\n\nJetzt bei %3 anmelden?");

// The offer to sign in again after a check whose provider refused the refresh: each mailbox is offered
// once per run, after a check the user started.
class TSignInRenewals {
public:
    // A check's progress line: remembers the mailbox ("user@host") when its sign-in must be renewed.
    void Note(const QString &account, int status, int code, const QString &errorText);
    // Asks about the first remembered mailbox; a new sign-in's token replaces the old one in the stored
    // settings, and renewed then runs (to reload them and check again).
    void OfferPending(QWidget *parent, TRegistrySettings &settings, std::function<void()> renewed);

private:
    QStringList m_pending;
    QHash<QString, QString> m_reasons;
    QSet<QString> m_offered;
};
