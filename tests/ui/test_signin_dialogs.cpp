// Signing in at the provider from the dialogs: the editor's log-in choice and "Anmelden…", the
// assistant for a provider that takes nothing else, and the offer to sign in again after a check. The
// sign-in page is fetched by the test (no browser) from the tests' authorization server on loopback.
#include "AccountDialogsFixture.h"
#include "OAuthTokens.h"
#include "POP3Check.h"
#include "ProviderSignIn.h"
#include "SignInSupport.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QUrlQuery>

namespace {

class SignInDialogsTest : public AccountDialogsTest {
protected:
    SignInDialogsTest() : server(OAuthTestServer::Options{}) {}

    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(server.start(&error)) << error.toStdString();
        UseTestProvider(server);
        oauth::ForgetAll();
        previousOpener = SignInUrlOpener();
        SignInUrlOpener() = [this](const QUrl &url) { return browser.open(url); };
    }
    void TearDown() override
    {
        SignInUrlOpener() = previousOpener;
        oauth::ForgetAll();
    }

    static TPOP3AccountSettings signedIn(const QString &refreshToken)
    {
        TPOP3AccountSettings a = account(QStringLiteral("anna@gmail.test"), QStringLiteral("pop.gmail.test"));
        a.AuthMethod = amOAuth2;
        a.OAuthProvider = kGoogleProvider;
        a.Password = refreshToken;
        return a;
    }

    OAuthTestServer server;
    HeadlessBrowser browser;
    std::function<bool(const QUrl &)> previousOpener;
};

TEST_F(SignInDialogsTest, TheEditorSignsInAndKeepsTheTokenWhereThePasswordWouldBe)
{
    start();
    auto e = editor();
    e->POP3ServerAddressEdit->setText(QStringLiteral("pop.gmail.test"));
    e->KontoNameEdit->setText(QStringLiteral("anna@gmail.test"));
    EXPECT_EQ(comboItems(e->AuthMethodCB),
              (QStringList{QStringLiteral("Kennwort"), QStringLiteral("Anmeldung beim Anbieter (OAuth2)")}));
    EXPECT_FALSE(e->SignInBtn->isEnabled()) << "only for the sign-in at the provider";
    e->AuthMethodCB->setCurrentIndex(amOAuth2);
    EXPECT_FALSE(e->PasswordEdit->isEnabled());
    EXPECT_FALSE(e->APOPChkBox->isEnabled());
    EXPECT_EQ(e->SignInBtn->text(), QStringLiteral("Anmelden…"));
    EXPECT_EQ(e->SignInStateLabel->text(), kNotSignedInText);

    // Without a sign-in there is nothing to log in with.
    e->OKBtn->click();
    EXPECT_FALSE(e->Accepted());
    EXPECT_EQ(texts(box), QStringList{kSignInFirstText});

    e->SignInBtn->click();
    ASSERT_TRUE(processEventsUntil([&] { return e->SignInStateLabel->text() == kSignedInText.arg(kGoogleProvider); }));
    ASSERT_EQ(browser.opened.size(), 1);
    EXPECT_EQ(QUrlQuery(browser.opened.first()).queryItemValue(QStringLiteral("login_hint"), QUrl::FullyDecoded),
              QStringLiteral("anna@gmail.test"));
    e->OKBtn->click();
    ASSERT_TRUE(e->Accepted()) << texts(box).join(u'\n').toStdString();
    const TPOP3AccountSettings &a = e->Account();
    EXPECT_EQ(a.AuthMethod, amOAuth2);
    EXPECT_EQ(a.OAuthProvider, kGoogleProvider);
    EXPECT_TRUE(a.Password.startsWith(QStringLiteral("rt-"))) << a.Password.toStdString();
    EXPECT_FALSE(a.PasswordInKeyring);
    EXPECT_FALSE(a.UseAPOP);
}

TEST_F(SignInDialogsTest, AProviderWithoutClientIdSaysSoAtTheChoice)
{
    start();
    auto e = editor();
    e->AuthMethodCB->setCurrentIndex(amOAuth2);
    e->OAuthProviderCB->setCurrentIndex(int(OAuthProviderNames().indexOf(kMicrosoftProvider)));
    EXPECT_EQ(e->SignInStateLabel->text(), NoClientIdText(kMicrosoftProvider));
    EXPECT_FALSE(e->SignInBtn->isEnabled());
}

TEST_F(SignInDialogsTest, ALoadedSignInStaysWhileTheMailboxStaysTheSame)
{
    start();
    auto e = editor();
    e->LoadAccount(signedIn(QStringLiteral("rt-kept")));
    EXPECT_TRUE(e->PasswordEdit->text().isEmpty()) << "the token is never shown as a password";
    EXPECT_EQ(e->SignInStateLabel->text(), kSignedInText.arg(kGoogleProvider));
    e->OKBtn->click();
    ASSERT_TRUE(e->Accepted());
    EXPECT_EQ(e->Account().Password, QStringLiteral("rt-kept"));

    // Another mailbox needs a sign-in of its own; the password login needs a password again.
    auto other = editor();
    other->LoadAccount(signedIn(QStringLiteral("rt-kept")));
    other->KontoNameEdit->setText(QStringLiteral("bert@gmail.test"));
    other->OKBtn->click();
    EXPECT_FALSE(other->Accepted());
    auto password = editor();
    password->LoadAccount(signedIn(QStringLiteral("rt-kept")));
    password->AuthMethodCB->setCurrentIndex(amPassword);
    password->OKBtn->click();
    EXPECT_FALSE(password->Accepted());
    EXPECT_EQ(texts(box), (QStringList{kSignInFirstText, kNoPasswordText}));
}

// Sending uses the mailbox's own sign-in, so a separate SMTP login is neither asked for nor offered.
TEST_F(SignInDialogsTest, ASignedInMailboxAsksForNoSeparateSmtpLogin)
{
    start();
    TPOP3AccountSettings a = signedIn(QStringLiteral("rt-kept"));
    a.UseProviderSMTP = true;
    a.SMTPServer = QStringLiteral("smtp.gmail.test");
    a.SMTPAuth = true;
    a.SMTPUsePOP3Data = false;
    auto e = editor();
    e->LoadAccount(a);
    EXPECT_FALSE(e->SMTPKontoNameEdit->isEnabled());
    EXPECT_FALSE(e->SMTPPasswordEdit->isEnabled());
    e->OKBtn->click();
    ASSERT_TRUE(e->Accepted()) << texts(box).join(u'\n').toStdString();
    // With a password the separate login is asked for again.
    auto password = editor();
    password->LoadAccount(a);
    password->AuthMethodCB->setCurrentIndex(amPassword);
    password->PasswordEdit->setText(QStringLiteral("geheim"));
    EXPECT_TRUE(password->SMTPKontoNameEdit->isEnabled());
    password->OKBtn->click();
    EXPECT_FALSE(password->Accepted());
    EXPECT_EQ(texts(box), QStringList{kNoSmtpNameText});
}

TEST_F(SignInDialogsTest, AfterARefusedRenewalTheUserIsOfferedANewSignInOnce)
{
    start({signedIn(QStringLiteral("rt-old"))});
    const QString mailbox = QStringLiteral("anna@gmail.test@pop.gmail.test");
    const QString reason = oauth::RenewalText(kGoogleProvider);
    TSignInRenewals renewals;
    renewals.Note(mailbox, asFailed, kPasswordUnavailableCode, reason); // another failure: nothing to offer
    renewals.Note(mailbox, asFailed, kSignInRenewalCode, reason);
    renewals.Note(mailbox, asFailed, kSignInRenewalCode, reason);
    int renewed = 0;
    QWidget parent;
    renewals.OfferPending(&parent, main->Settings(), [&renewed] { ++renewed; });
    ASSERT_TRUE(processEventsUntil([&] { return renewed > 0; }));
    EXPECT_EQ(texts(box), QStringList{kSignInAgainQuestion.arg(reason, mailbox, kGoogleProvider)});
    const TPOP3Accounts stored = storedAccounts();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored.first().AuthMethod, amOAuth2);
    EXPECT_TRUE(stored.first().Password.startsWith(QStringLiteral("rt-"))) << stored.first().Password.toStdString();

    // Offered once per run.
    renewals.Note(mailbox, asFailed, kSignInRenewalCode, reason);
    renewals.OfferPending(&parent, main->Settings(), [&renewed] { ++renewed; });
    EXPECT_EQ(box.shown.size(), 1);
    EXPECT_EQ(renewed, 1);
}

TEST_F(SignInDialogsTest, TheAssistantSignsInForAProviderThatTakesNothingElse)
{
    UseTestProvider(server, kMicrosoftProvider);
    QTemporaryDir files;
    const QString providers = files.filePath(QStringLiteral("EProv.ini"));
    writeFile(providers, "[ProviderIndex]\n1=Outlook.com (Microsoft)\n\n[Outlook.com (Microsoft)]\n"
                         "AccountName=Microsoft-Konto\nAccountPasswort=Anmeldung beim Anbieter\nOAuth2=Microsoft\n"
                         "OAuth2Only=1\nPOP3Server=pop.outlook.test\nSMTPServer=smtp.outlook.test\nSMTPAuth=1\n");
    start();
    TNewPOP3AccountAssistentDlg a(providers);
    a.NextBtn->click();
    a.EMailAddressEdit->setText(QStringLiteral("anna@outlook.test"));
    a.NextBtn->click();
    a.NextBtn->click();
    ASSERT_EQ(a.CurrentPage(), TNewPOP3AccountAssistentDlg::pgLogin);
    EXPECT_TRUE(a.SignInChkBox->isChecked());
    EXPECT_FALSE(a.SignInChkBox->isEnabled());
    EXPECT_FALSE(a.PasswordEdit->isEnabled());
    a.AccountNameEdit->setText(QStringLiteral("anna@outlook.test"));

    // "Weiter" starts the sign-in and goes on when it is done.
    a.NextBtn->click();
    ASSERT_TRUE(processEventsUntil([&] { return a.CurrentPage() == TNewPOP3AccountAssistentDlg::pgFinish; }))
        << texts(box).join(u'\n').toStdString();
    const TPOP3AccountSettings made = a.Account();
    EXPECT_EQ(made.AuthMethod, amOAuth2);
    EXPECT_EQ(made.OAuthProvider, kMicrosoftProvider);
    EXPECT_TRUE(made.Password.startsWith(QStringLiteral("rt-")));
    EXPECT_TRUE(box.shown.isEmpty()) << texts(box).join(u'\n').toStdString();
}

} // namespace
