#pragma once
// The editor of one mailbox ("Neues Postfach", "Postfach %s bearbeiten"): incoming server and login,
// outgoing server and its login, the SMS notice, and a button that tries the login at once. It works on a
// copy that the caller takes back only when Accepted() is set.
#include "ServerCertificate.h"
#include "TypeDef.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTabWidget;
class TPOP3Checker;

inline const QString kNewAccountCaption = QStringLiteral("Neues Postfach");
inline const QString kEditAccountCaption = QStringLiteral("Postfach %1 bearbeiten"); // %1 the server name

// Texts of the editor's boxes.
inline const QString kNoServerText = QStringLiteral("Die Adresse für den Posteingangsserver (POP3) ist notwendig.");
inline const QString kNoPortText = QStringLiteral("Bitte geben Sie den Serveranschluss ein!");
inline const QString kBadPortText = QStringLiteral("Der Serveranschluss muss eine Zahl von 1 bis 65535 sein!");
inline const QString kNoAccountNameText = QStringLiteral("Die Angabe des Inhabers des POP3-Kontos ist notwendig!");
inline const QString kNoPasswordText =
    QStringLiteral("Sie müssen Ihr Paßwort eingeben, ansonsten kann keine Überprüfung erfolgen!");
inline const QString kNoSmtpNameText =
    QStringLiteral("Sie müssen den Namen des Kontos eingeben, ansonsten kann kein Mailversand erfolgen!");
inline const QString kNoSmtpPasswordText =
    QStringLiteral("Sie müssen das Passwort des Kontos eingeben, ansonsten kann kein Mailversand erfolgen!");
inline const QString kServerBlanksText =
    QStringLiteral("Der Name des Posteingangsservers darf keine Leerzeichen enthalten.");
inline const QString kSmtpServerBlanksText =
    QStringLiteral("Der Name des Postausgangsservers darf keine Leerzeichen enthalten.");
inline const QString kBadSmtpPortText =
    QStringLiteral("Der Anschluss des Postausgangsservers muss eine Zahl von 1 bis 65535 sein!");
inline const QString kLineBreakText =
    QStringLiteral("Kontoname und Kennwort dürfen keinen Zeilenumbruch enthalten.");
inline const QString kBadCellNumberText = QStringLiteral("Fehlerhafte Mobilfunknummer: ");
inline const QString kTestPassedText = QStringLiteral("Die Angaben zum E-Mail-Konto sind korrekt.");
// The wait window of the login test.
inline const QString kTestWaitText = QStringLiteral("Die Einstellungen werden getestet. Bitte warten...");
inline const QString kTestFailedText =
    QStringLiteral("Die Angaben zum E-Mail-Konto sind NICHT korrekt. Fehler %1 Fehlercode %2");

// The items of the mailbox type, in the order of TAccountType, and of the IMAP spam action, in the order of
// TImapSpamAction.
inline const QStringList kAccountTypeItems = {QStringLiteral("POP3"), QStringLiteral("IMAP")};
inline const QStringList kSpamActionItems = {QStringLiteral("in den Spam-Ordner verschieben"),
                                             QStringLiteral("löschen")};

// The log-in choice, in the order of TAuthMethod, and what it says about the sign-in.
inline const QStringList kAuthMethodItems = {QStringLiteral("Kennwort"),
                                             QStringLiteral("Anmeldung beim Anbieter (OAuth2)")};
inline const QString kSignInButtonText = QStringLiteral("Anmelden…");
inline const QString kSignedInText = QStringLiteral("Angemeldet bei %1.");
inline const QString kNotSignedInText = QStringLiteral("Noch nicht angemeldet.");
inline const QString kSignInFirstText =
    QStringLiteral("Bitte melden Sie sich zuerst mit \"Anmelden…\" beim Anbieter an.");

// The items of the two security choices, in the order of TConnectionSecurity.
inline const QStringList kSecurityItems = {QStringLiteral("Keine"), QStringLiteral("STARTTLS"),
                                           QStringLiteral("SSL/TLS")};

class TPOP3AccountsCfg : public QDialog {
    Q_OBJECT
public:
    // Tests the login through the coordinator, which must outlive the editor. The controls start at the
    // values of a blank account.
    explicit TPOP3AccountsCfg(TPOP3Checker &checker, QWidget *parent = nullptr);

    // Takes a copy of the record as the working copy and shows it in the controls.
    void LoadAccount(const TPOP3AccountSettings &account);
    // Set only by a successful "OK".
    bool Accepted() const { return m_accepted; }
    // The working copy: what was loaded, and after a successful "OK" what the controls held.
    const TPOP3AccountSettings &Account() const { return m_account; }

    // Handlers, named by their controls.
    void OKBtnClick();
    void TestBtnClick();
    void CellPhoneNoEditExit();
    void UseProviderSMTPChkBoxClick();
    void SMTPAuthChkBoxClick();
    void UsePOP3ChkBoxClick();
    void AccountTypeCBChange();
    void SMSChkBoxClick();
    void ServerRetriesSliderChange();
    // The log-in method and provider: the password or the sign-in controls, and what the sign-in says.
    void AuthMethodCBChange();
    // "Anmelden…": the sign-in at the chosen provider.
    void SignInBtnClick();
    // The rules a showing of the editor applies, in their order.
    void ApplyShowRules();

    // Controls, by their names.
    QTabWidget *Pages = nullptr;
    QWidget *IncomingPage = nullptr, *OutgoingPage = nullptr, *SmsPage = nullptr;
    QComboBox *AccountTypeCB = nullptr;
    QLabel *POP3ServerLabel = nullptr;
    QLineEdit *POP3ServerAddressEdit = nullptr;
    QLineEdit *POP3PortEdit = nullptr;
    QComboBox *POP3SecurityCB = nullptr;
    QSlider *ServerRetriesSlider = nullptr;
    QLabel *ServerRetriesLabel = nullptr;
    QLineEdit *KontoNameEdit = nullptr;
    QLineEdit *PasswordEdit = nullptr;
    QCheckBox *APOPChkBox = nullptr;
    QComboBox *AuthMethodCB = nullptr;
    QLabel *OAuthProviderLabel = nullptr, *SignInStateLabel = nullptr;
    QComboBox *OAuthProviderCB = nullptr;
    QPushButton *SignInBtn = nullptr;
    // IMAP only: the folder read and what becomes of spam.
    QLabel *IMAPFolderLabel = nullptr, *IMAPSpamActionLabel = nullptr;
    QLineEdit *IMAPFolderEdit = nullptr;
    QComboBox *IMAPSpamActionCB = nullptr;
    QLineEdit *SMTPEMailAddressEdit = nullptr;
    QCheckBox *UseProviderSMTPChkBox = nullptr;
    QLabel *SMTPServerLabel = nullptr, *SMTPPortLabel = nullptr, *SMTPSecurityLabel = nullptr;
    QLineEdit *SMTPServerAddressEdit = nullptr;
    QLineEdit *SMTPPortEdit = nullptr;
    QComboBox *SMTPSecurityCB = nullptr;
    QGroupBox *SMTPLoginGroup = nullptr;
    QCheckBox *SMTPAuthChkBox = nullptr;
    QCheckBox *UsePOP3ChkBox = nullptr;
    QLabel *SMTPKontoNameLabel = nullptr, *SMTPPasswordLabel = nullptr;
    QLineEdit *SMTPKontoNameEdit = nullptr;
    QLineEdit *SMTPPasswordEdit = nullptr;
    QCheckBox *SMSChkBox = nullptr;
    QLineEdit *CellPhoneNoEdit = nullptr;
    QLabel *SmsHintLabel = nullptr;
    QLabel *SmsLinkLabel = nullptr;
    QPushButton *TestBtn = nullptr, *OKBtn = nullptr, *CancelBtn = nullptr;

protected:
    void done(int result) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *createIncomingPage();
    QWidget *createOutgoingPage();
    QWidget *createSmsPage();
    // A security choice that moves the port field along by portRule when the user changes it.
    QComboBox *securityChoice(QWidget *parent, QLineEdit *port, std::function<int32_t(int32_t, int32_t)> portRule);
    // The account type chosen (TAccountType).
    int32_t accountType() const;
    // The incoming server's settings as the controls hold them, for the login test and "OK".
    void collectIncoming(TPOP3AccountSettings &account) const;
    // Error box, then the field's page and the focus to the field.
    void fieldError(const QString &text, QWidget *field);
    // The first fault of the data that would otherwise be saved as typed; false when there is none.
    bool inputFault();
    // "Gleiche Daten" can be switched off and is: the SMTP login has fields of its own.
    bool separateSmtpLogin() const;
    void collect();
    // While the login test runs, the editor waits for it behind its wait window.
    void setTesting(bool on);
    // The login test's outcome: the trust question for a refused certificate, or its box.
    void testFinished(const TPOP3AccountSettings &account, bool passed, int code, const QString &errorText,
                      const CertificateProblem &refused);
    void updateTestButton();
    // The (SMTP) password field is left empty for a password that stays in the keyring: the loaded
    // account had it there, and the mailbox (server and login name) is still the same.
    bool keepsKeyringPassword(bool smtp) const;
    // The port field's number when it holds one from 1 to 65535, otherwise fallback.
    static int32_t portOf(const QLineEdit *field, int32_t fallback);

    TPOP3Checker &m_checker;
    TPOP3AccountSettings m_account;
    bool m_accepted = false;
    bool m_loading = false;
    bool m_testing = false;
    bool m_checkingNumber = false;
    int32_t m_shownType = atPOP3; // the type the port field was last set for
    // The refresh token of the sign-in made in this editor (empty: none yet); the loaded account's own
    // stays where it is kept while the mailbox and its provider stay the same.
    QString m_refreshToken;
    bool m_signingIn = false;
    // The loaded account signs in at this provider with a token kept in the settings or the keyring.
    bool keepsSignIn() const;
};
