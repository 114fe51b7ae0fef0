#include "POP3AccountsCfgUnit.h"

#include "JobWaitDialog.h"

#include "CertificateTrustDialog.h"

#include "DialogKeys.h"
#include "DialogWidgets.h"
#include "MsgBox.h"
#include "OAuthProviders.h"
#include "POP3Check.h"
#include "ProviderSignIn.h"
#include "ZirpelSendClassUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString kRetriesSuffix = QStringLiteral(" Versuch(e)");
const QString kSmsHint = QStringLiteral(
    "Hinweis: Unter Menü Konfiguration - Programmkonfiguration Registerkarte SMS-Versand müssen die Zirpel "
    "Zugangsdaten für den SMS-Versand eingetragen werden.");

QLineEdit *portField(QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setMaxLength(5);
    // Digits only as typed; a stored value that is no port is still caught on "OK".
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 12);
    return edit;
}

// A stored security value the program does not know shows as "Keine".
int securityIndex(int32_t security)
{
    return security >= csNone && security <= csSSLTLS ? security : csNone;
}

bool hasBlank(const QString &text)
{
    for (const QChar c : text)
        if (c.isSpace())
            return true;
    return false;
}

// The login commands are lines: a break in a name or password would end one early.
bool hasLineBreak(const QString &text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) || text.contains(QChar(0));
}

} // namespace

TPOP3AccountsCfg::TPOP3AccountsCfg(TPOP3Checker &checker, QWidget *parent) : QDialog(parent), m_checker(checker)
{
    setWindowTitle(kNewAccountCaption);
    setModal(true);

    Pages = new QTabWidget(this);
    IncomingPage = createIncomingPage();
    OutgoingPage = createOutgoingPage();
    SmsPage = createSmsPage();
    Pages->addTab(IncomingPage, QStringLiteral("Posteingang"));
    Pages->addTab(OutgoingPage, QStringLiteral("Postausgang"));
    Pages->addTab(SmsPage, QStringLiteral("SMS"));

    TestBtn = new QPushButton(QStringLiteral("Einstellungen testen"), this);
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    CancelBtn = new QPushButton(QStringLiteral("Abbrechen"), this);
    // Enter never presses a button here: in the fields it moves on, elsewhere it does nothing.
    for (QPushButton *b : {TestBtn, OKBtn, CancelBtn})
        b->setAutoDefault(false);
    connect(TestBtn, &QPushButton::clicked, this, &TPOP3AccountsCfg::TestBtnClick);
    connect(OKBtn, &QPushButton::clicked, this, &TPOP3AccountsCfg::OKBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(Pages, &QTabWidget::currentChanged, this,
            [this](int index) { TestBtn->setVisible(index == Pages->indexOf(IncomingPage)); });

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(TestBtn);
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Pages, 1);
    layout->addLayout(buttons);

    EnterMovesToNextControl({POP3ServerAddressEdit, POP3PortEdit, ServerRetriesSlider, KontoNameEdit, PasswordEdit,
                             SMTPEMailAddressEdit, SMTPServerAddressEdit, SMTPPortEdit, SMTPAuthChkBox,
                             SMTPKontoNameEdit, SMTPPasswordEdit});
    CellPhoneNoEdit->installEventFilter(this);

    connect(&m_checker, &TPOP3Checker::OperationChanged, this, [this] { updateTestButton(); });
    LoadAccount(TPOP3AccountSettings{});
    Pages->setCurrentWidget(IncomingPage);
    updateTestButton();
}

QComboBox *TPOP3AccountsCfg::securityChoice(QWidget *parent, QLineEdit *port,
                                            std::function<int32_t(int32_t, int32_t)> portRule)
{
    auto *combo = new QComboBox(parent);
    combo->addItems(kSecurityItems);
    // The user's choice moves a port that still holds a default along; a loaded record keeps its own.
    connect(combo, &QComboBox::currentIndexChanged, this, [this, port, portRule](int security) {
        bool ok = false;
        const int value = port->text().trimmed().toInt(&ok);
        if (ok && !m_loading)
            port->setText(QString::number(portRule(value, security)));
    });
    return combo;
}

QWidget *TPOP3AccountsCfg::createIncomingPage()
{
    auto *page = new QWidget(this);
    auto *server = new QGroupBox(QStringLiteral(" Servereinstellungen "), page);
    auto *serverForm = new QFormLayout(server);
    AccountTypeCB = new QComboBox(server);
    AccountTypeCB->addItems(kAccountTypeItems);
    connect(AccountTypeCB, &QComboBox::currentIndexChanged, this, &TPOP3AccountsCfg::AccountTypeCBChange);
    serverForm->addRow(QStringLiteral("Postfach-Typ:"), AccountTypeCB);
    POP3ServerLabel = new QLabel(server);
    POP3ServerAddressEdit = new QLineEdit(server);
    serverForm->addRow(POP3ServerLabel, POP3ServerAddressEdit);
    POP3PortEdit = portField(server);
    serverForm->addRow(QStringLiteral("Anschluss:"), POP3PortEdit);
    POP3SecurityCB = securityChoice(server, POP3PortEdit, [this](int32_t port, int32_t security) {
        return IncomingPortForSecurity(accountType(), port, security);
    });
    serverForm->addRow(QStringLiteral("Sicherheit:"), POP3SecurityCB);
    ServerRetriesSlider = new QSlider(Qt::Horizontal, server);
    ServerRetriesSlider->setRange(1, 10);
    ServerRetriesSlider->setPageStep(1);
    ServerRetriesSlider->setTickPosition(QSlider::TicksBelow);
    ServerRetriesLabel = new QLabel(server);
    connect(ServerRetriesSlider, &QSlider::valueChanged, this, &TPOP3AccountsCfg::ServerRetriesSliderChange);
    auto *retries = new QHBoxLayout;
    retries->addWidget(ServerRetriesSlider, 1);
    retries->addWidget(ServerRetriesLabel);
    serverForm->addRow(QStringLiteral("Anzahl Verbindungsversuche"), retries);

    auto *login = new QGroupBox(QStringLiteral(" Zugangsdaten "), page);
    auto *loginForm = new QFormLayout(login);
    KontoNameEdit = new QLineEdit(login);
    loginForm->addRow(QStringLiteral("Kontoname:"), KontoNameEdit);
    PasswordEdit = new QLineEdit(login);
    MaskWithStars(PasswordEdit);
    loginForm->addRow(QStringLiteral("Kennwort:"), PasswordEdit);
    APOPChkBox = new QCheckBox(QStringLiteral(" APOP verwenden, falls der Server es erlaubt"), login);
    loginForm->addRow(APOPChkBox);
    AuthMethodCB = new QComboBox(login);
    AuthMethodCB->addItems(kAuthMethodItems);
    loginForm->addRow(QStringLiteral("Anmeldung:"), AuthMethodCB);
    OAuthProviderLabel = new QLabel(QStringLiteral("Anbieter:"), login);
    OAuthProviderCB = new QComboBox(login);
    OAuthProviderCB->addItems(OAuthProviderNames());
    SignInBtn = new QPushButton(kSignInButtonText, login);
    auto *provider = new QHBoxLayout;
    provider->addWidget(OAuthProviderCB, 1);
    provider->addWidget(SignInBtn);
    loginForm->addRow(OAuthProviderLabel, provider);
    SignInStateLabel = WrappedLabel(QString(), login);
    loginForm->addRow(SignInStateLabel);
    connect(AuthMethodCB, &QComboBox::currentIndexChanged, this, &TPOP3AccountsCfg::AuthMethodCBChange);
    connect(OAuthProviderCB, &QComboBox::currentIndexChanged, this, &TPOP3AccountsCfg::AuthMethodCBChange);
    connect(SignInBtn, &QPushButton::clicked, this, &TPOP3AccountsCfg::SignInBtnClick);

    auto *imap = new QGroupBox(QStringLiteral(" IMAP "), page);
    auto *imapForm = new QFormLayout(imap);
    IMAPFolderLabel = new QLabel(QStringLiteral("Geprüfter Ordner:"), imap);
    IMAPFolderEdit = new QLineEdit(imap);
    imapForm->addRow(IMAPFolderLabel, IMAPFolderEdit);
    IMAPSpamActionLabel = new QLabel(QStringLiteral("Spam-Mails:"), imap);
    IMAPSpamActionCB = new QComboBox(imap);
    IMAPSpamActionCB->addItems(kSpamActionItems);
    imapForm->addRow(IMAPSpamActionLabel, IMAPSpamActionCB);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(server);
    layout->addWidget(login);
    layout->addWidget(imap);
    layout->addStretch(1);
    return page;
}

QWidget *TPOP3AccountsCfg::createOutgoingPage()
{
    auto *page = new QWidget(this);
    auto *server = new QGroupBox(QStringLiteral(" Servereinstellungen "), page);
    auto *serverForm = new QFormLayout(server);
    SMTPEMailAddressEdit = new QLineEdit(server);
    serverForm->addRow(QStringLiteral("E-Mail-Adresse:"), SMTPEMailAddressEdit);
    UseProviderSMTPChkBox = new QCheckBox(QStringLiteral(" SMTP-Server des Providers verwenden: "), server);
    connect(UseProviderSMTPChkBox, &QCheckBox::toggled, this, &TPOP3AccountsCfg::UseProviderSMTPChkBoxClick);
    serverForm->addRow(UseProviderSMTPChkBox);
    SMTPServerLabel = new QLabel(QStringLiteral("Postausgangsserver (SMTP):"), server);
    SMTPServerAddressEdit = new QLineEdit(server);
    serverForm->addRow(SMTPServerLabel, SMTPServerAddressEdit);
    SMTPPortLabel = new QLabel(QStringLiteral("Anschluss:"), server);
    SMTPPortEdit = portField(server);
    serverForm->addRow(SMTPPortLabel, SMTPPortEdit);
    SMTPSecurityLabel = new QLabel(QStringLiteral("Sicherheit:"), server);
    SMTPSecurityCB = securityChoice(server, SMTPPortEdit, &SMTPPortForSecurity);
    serverForm->addRow(SMTPSecurityLabel, SMTPSecurityCB);

    SMTPLoginGroup = new QGroupBox(QStringLiteral(" Zugangsdaten des Postausgangsservers "), page);
    auto *loginForm = new QFormLayout(SMTPLoginGroup);
    SMTPAuthChkBox = new QCheckBox(QStringLiteral(" SMTP Authentifizierung (SMTP Auth) notwendig"), SMTPLoginGroup);
    connect(SMTPAuthChkBox, &QCheckBox::toggled, this, &TPOP3AccountsCfg::SMTPAuthChkBoxClick);
    loginForm->addRow(SMTPAuthChkBox);
    UsePOP3ChkBox = new QCheckBox(QStringLiteral(" Gleiche Daten wie beim Posteingangsserver"), SMTPLoginGroup);
    connect(UsePOP3ChkBox, &QCheckBox::toggled, this, &TPOP3AccountsCfg::UsePOP3ChkBoxClick);
    loginForm->addRow(UsePOP3ChkBox);
    SMTPKontoNameLabel = new QLabel(QStringLiteral("Kontoname:"), SMTPLoginGroup);
    SMTPKontoNameEdit = new QLineEdit(SMTPLoginGroup);
    loginForm->addRow(SMTPKontoNameLabel, SMTPKontoNameEdit);
    SMTPPasswordLabel = new QLabel(QStringLiteral("Kennwort:"), SMTPLoginGroup);
    SMTPPasswordEdit = new QLineEdit(SMTPLoginGroup);
    MaskWithStars(SMTPPasswordEdit);
    loginForm->addRow(SMTPPasswordLabel, SMTPPasswordEdit);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(server);
    layout->addWidget(SMTPLoginGroup);
    layout->addStretch(1);
    return page;
}

QWidget *TPOP3AccountsCfg::createSmsPage()
{
    auto *page = new QWidget(this);
    SMSChkBox = new QCheckBox(QStringLiteral("SMS beim Eingang neuer E-Mails auf diesem E-Mail-Konto versenden"), page);
    connect(SMSChkBox, &QCheckBox::toggled, this, &TPOP3AccountsCfg::SMSChkBoxClick);
    CellPhoneNoEdit = new QLineEdit(page);
    SmsHintLabel = WrappedLabel(kSmsHint, page);
    SmsLinkLabel = LinkLabel(QStringLiteral(" Zirpel Webseite "), SmsGatewayHomePage(), page);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Mobilfunknummer:"), CellPhoneNoEdit);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(SMSChkBox);
    layout->addLayout(form);
    layout->addWidget(SmsHintLabel);
    layout->addWidget(SmsLinkLabel);
    layout->addStretch(1);
    return page;
}

void TPOP3AccountsCfg::LoadAccount(const TPOP3AccountSettings &account)
{
    m_account = account;
    // The security choices show the stored port; only the user's choice moves it.
    m_loading = true;
    m_shownType = account.AccountType == atIMAP ? atIMAP : atPOP3;
    AccountTypeCB->setCurrentIndex(m_shownType);
    IMAPFolderEdit->setText(account.IMAPFolder);
    IMAPSpamActionCB->setCurrentIndex(account.IMAPSpamAction == isaDelete ? isaDelete : isaMoveToJunk);
    POP3ServerAddressEdit->setText(account.ServerName);
    POP3PortEdit->setText(QString::number(account.Port));
    POP3SecurityCB->setCurrentIndex(securityIndex(account.POP3Security));
    ServerRetriesSlider->setValue(account.ServerRetries);
    ServerRetriesSliderChange();
    KontoNameEdit->setText(account.AccountName);
    PasswordEdit->setText(account.Password);
    PasswordEdit->setPlaceholderText(account.PasswordInKeyring ? kKeyringPlaceholder : QString());
    APOPChkBox->setChecked(account.UseAPOP);
    m_refreshToken.clear();
    const qsizetype provider = OAuthProviderNames().indexOf(account.OAuthProvider);
    OAuthProviderCB->setCurrentIndex(provider < 0 ? 0 : int(provider));
    AuthMethodCB->setCurrentIndex(account.AuthMethod == amOAuth2 ? amOAuth2 : amPassword);
    if (account.AuthMethod == amOAuth2)
        PasswordEdit->clear();
    // The provider box before the authentication box: clearing the provider box clears that one too.
    UseProviderSMTPChkBox->setChecked(account.UseProviderSMTP);
    SMTPServerAddressEdit->setText(account.SMTPServer);
    SMTPPortEdit->setText(QString::number(account.SMTPPort));
    SMTPSecurityCB->setCurrentIndex(securityIndex(account.SMTPSecurity));
    SMTPEMailAddressEdit->setText(account.SMTPEMailAddress);
    SMTPAuthChkBox->setChecked(account.SMTPAuth);
    UsePOP3ChkBox->setChecked(account.SMTPUsePOP3Data);
    SMTPKontoNameEdit->setText(account.SMTPUsePOP3Data ? QString() : account.SMTPAccountName);
    SMTPPasswordEdit->setText(account.SMTPUsePOP3Data ? QString() : account.SMTPPassword);
    SMTPPasswordEdit->setPlaceholderText(account.SMTPPasswordInKeyring ? kKeyringPlaceholder : QString());
    UsePOP3ChkBoxClick();
    SMSChkBox->setChecked(account.SendSMS);
    CellPhoneNoEdit->setText(account.SMSCellNum);
    m_loading = false;
    ApplyShowRules();
}

void TPOP3AccountsCfg::ApplyShowRules()
{
    ServerRetriesSliderChange();
    SMTPAuthChkBoxClick();
    AccountTypeCBChange();
    UseProviderSMTPChkBoxClick();
    UsePOP3ChkBoxClick();
    SMSChkBoxClick();
    AuthMethodCBChange();
}

bool TPOP3AccountsCfg::keepsSignIn() const
{
    return m_account.AuthMethod == amOAuth2 && (!m_account.Password.isEmpty() || m_account.PasswordInKeyring)
           && m_account.OAuthProvider == OAuthProviderCB->currentText()
           && POP3ServerAddressEdit->text() == m_account.ServerName && KontoNameEdit->text() == m_account.AccountName;
}

void TPOP3AccountsCfg::AuthMethodCBChange()
{
    const bool oauth = AuthMethodCB->currentIndex() == amOAuth2;
    SetEnabled({PasswordEdit}, !oauth);
    SetEnabled({OAuthProviderLabel, OAuthProviderCB, SignInStateLabel}, oauth);
    APOPChkBox->setEnabled(!oauth && accountType() == atPOP3);
    UsePOP3ChkBoxClick();
    const QString provider = OAuthProviderCB->currentText();
    const bool clientKnown = !LoadOAuthClient(provider).ClientId.isEmpty();
    SignInBtn->setEnabled(oauth && clientKnown && !m_signingIn);
    // Without a client id the choice says so now, not the first check.
    if (!clientKnown)
        SignInStateLabel->setText(NoClientIdText(provider));
    else if (!m_refreshToken.isEmpty() || keepsSignIn())
        SignInStateLabel->setText(kSignedInText.arg(provider));
    else
        SignInStateLabel->setText(kNotSignedInText);
}

void TPOP3AccountsCfg::SignInBtnClick()
{
    if (m_signingIn || m_testing)
        return;
    m_signingIn = true;
    SetEnabled({OKBtn, TestBtn}, false);
    AuthMethodCBChange();
    const QString address = SMTPEMailAddressEdit->text().trimmed();
    QPointer<TPOP3AccountsCfg> self(this);
    StartProviderSignIn(this, OAuthProviderCB->currentText(), address.isEmpty() ? KontoNameEdit->text() : address,
                        [self](bool ok, const QString &refreshToken, const QString &errorText) {
                            if (!self)
                                return;
                            self->m_signingIn = false;
                            SetEnabled({self->OKBtn}, true);
                            self->updateTestButton();
                            if (ok)
                                self->m_refreshToken = refreshToken;
                            self->AuthMethodCBChange();
                            if (!ok && !errorText.isEmpty())
                                ErrorBox(errorText);
                        });
}

void TPOP3AccountsCfg::showEvent(QShowEvent *event)
{
    if (!event->spontaneous()) {
        Pages->setCurrentWidget(IncomingPage);
        ApplyShowRules();
        updateTestButton();
    }
    QDialog::showEvent(event);
}

// --- enabling rules ---

void TPOP3AccountsCfg::UseProviderSMTPChkBoxClick()
{
    const bool on = UseProviderSMTPChkBox->isChecked();
    if (!on)
        SMTPAuthChkBox->setChecked(false);
    SetEnabled({SMTPServerLabel, SMTPServerAddressEdit, SMTPPortLabel, SMTPPortEdit, SMTPSecurityLabel, SMTPSecurityCB},
               on);
    for (QWidget *w : SMTPLoginGroup->findChildren<QWidget *>())
        w->setEnabled(on);
    if (on) {
        SMTPAuthChkBoxClick();
        UsePOP3ChkBoxClick();
    }
}

void TPOP3AccountsCfg::SMTPAuthChkBoxClick()
{
    UsePOP3ChkBox->setEnabled(SMTPAuthChkBox->isChecked());
    UsePOP3ChkBoxClick();
}

void TPOP3AccountsCfg::UsePOP3ChkBoxClick()
{
    if (UsePOP3ChkBox->isChecked()) {
        SMTPKontoNameEdit->clear();
        SMTPPasswordEdit->clear();
    }
    SetEnabled({SMTPKontoNameLabel, SMTPKontoNameEdit, SMTPPasswordLabel, SMTPPasswordEdit}, separateSmtpLogin());
}

int32_t TPOP3AccountsCfg::accountType() const
{
    return AccountTypeCB->currentIndex() == atIMAP ? atIMAP : atPOP3;
}

void TPOP3AccountsCfg::AccountTypeCBChange()
{
    const int32_t type = accountType();
    const bool imap = type == atIMAP;
    // The user's choice moves a port that still holds the other protocol's default along.
    if (!m_loading && type != m_shownType) {
        bool ok = false;
        const int port = POP3PortEdit->text().trimmed().toInt(&ok);
        if (ok)
            POP3PortEdit->setText(QString::number(IncomingPortForType(port, type, POP3SecurityCB->currentIndex())));
    }
    m_shownType = type;
    POP3ServerLabel->setText(imap ? QStringLiteral("Posteingangsserver (IMAP):")
                                  : QStringLiteral("Posteingangsserver (POP3):"));
    SetEnabled({IMAPFolderLabel, IMAPFolderEdit, IMAPSpamActionLabel, IMAPSpamActionCB}, imap);
    // "Gleiche Daten" follows the authentication box: without a login there are no data to share.
    UsePOP3ChkBox->setEnabled(SMTPAuthChkBox->isChecked());
    APOPChkBox->setEnabled(!imap && !(AuthMethodCB && AuthMethodCB->currentIndex() == amOAuth2));
    UsePOP3ChkBoxClick();
}

void TPOP3AccountsCfg::SMSChkBoxClick()
{
    const bool on = SMSChkBox->isChecked();
    SetEnabled({CellPhoneNoEdit, SmsHintLabel}, on);
}

void TPOP3AccountsCfg::ServerRetriesSliderChange()
{
    ServerRetriesLabel->setText(QString::number(ServerRetriesSlider->value()) + kRetriesSuffix);
}

// --- the mobile number ---

bool TPOP3AccountsCfg::eventFilter(QObject *watched, QEvent *event)
{
    // Leaving the field for another control checks it; the window losing the focus (a message box, another
    // program) does not.
    if (watched == CellPhoneNoEdit && event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            CellPhoneNoEditExit();
    }
    return QDialog::eventFilter(watched, event);
}

void TPOP3AccountsCfg::CellPhoneNoEditExit()
{
    if (m_checkingNumber || CellPhoneNoEdit->text().isEmpty())
        return;
    m_checkingNumber = true;
    QString normalized, error;
    NormalizeCellNumber(CellPhoneNoEdit->text(), normalized, error);
    CellPhoneNoEdit->setText(normalized);
    if (!error.isEmpty()) {
        ErrorBox(kBadCellNumberText + error);
        // Back once the focus change that led here has ended.
        QTimer::singleShot(0, this, [this] {
            Pages->setCurrentWidget(SmsPage);
            CellPhoneNoEdit->setFocus(Qt::OtherFocusReason);
        });
    }
    m_checkingNumber = false;
}

// --- "OK" ---

void TPOP3AccountsCfg::fieldError(const QString &text, QWidget *field)
{
    ErrorBox(text);
    for (QWidget *page : {IncomingPage, OutgoingPage, SmsPage})
        if (page->isAncestorOf(field))
            Pages->setCurrentWidget(page);
    field->setFocus(Qt::OtherFocusReason);
}

bool TPOP3AccountsCfg::separateSmtpLogin() const
{
    // A mailbox signed in at its provider sends with its own token: no other SMTP login is used.
    const bool signsIn = AuthMethodCB && AuthMethodCB->currentIndex() == amOAuth2;
    return UsePOP3ChkBox->isEnabled() && !UsePOP3ChkBox->isChecked() && !signsIn;
}

int32_t TPOP3AccountsCfg::portOf(const QLineEdit *field, int32_t fallback)
{
    bool ok = false;
    const int port = field->text().trimmed().toInt(&ok);
    return ok && port >= 1 && port <= 65535 ? port : fallback;
}

bool TPOP3AccountsCfg::inputFault()
{
    // What the completeness checks of "OK" let through but the servers would refuse or misread.
    if (hasBlank(POP3ServerAddressEdit->text())) {
        fieldError(kServerBlanksText, POP3ServerAddressEdit);
        return true;
    }
    for (QLineEdit *field : {KontoNameEdit, PasswordEdit})
        if (hasLineBreak(field->text())) {
            fieldError(kLineBreakText, field);
            return true;
        }
    if (UseProviderSMTPChkBox->isChecked()) {
        if (hasBlank(SMTPServerAddressEdit->text())) {
            fieldError(kSmtpServerBlanksText, SMTPServerAddressEdit);
            return true;
        }
        const QString port = SMTPPortEdit->text().trimmed();
        if (!port.isEmpty() && portOf(SMTPPortEdit, 0) == 0) {
            fieldError(kBadSmtpPortText, SMTPPortEdit);
            return true;
        }
    }
    // With complete incoming data too: a separate SMTP login without name or password cannot send.
    for (const auto &[field, text] :
         {std::pair{SMTPKontoNameEdit, kNoSmtpNameText}, std::pair{SMTPPasswordEdit, kNoSmtpPasswordText}})
        if (separateSmtpLogin() && field->text().isEmpty()) {
            fieldError(text, field);
            return true;
        }
    if (separateSmtpLogin())
        for (QLineEdit *field : {SMTPKontoNameEdit, SMTPPasswordEdit})
            if (hasLineBreak(field->text())) {
                fieldError(kLineBreakText, field);
                return true;
            }
    return false;
}

void TPOP3AccountsCfg::OKBtnClick()
{
    if (m_testing)
        return;
    Pages->setCurrentWidget(IncomingPage);
    m_accepted = true;

    const QString port = POP3PortEdit->text().trimmed();
    bool portNumber = false;
    const int portValue = port.toInt(&portNumber);
    QString incompleteText;
    QWidget *incompleteField = nullptr;
    if (POP3ServerAddressEdit->text().isEmpty()) {
        incompleteText = kNoServerText;
        incompleteField = POP3ServerAddressEdit;
    } else if (port.isEmpty() || (portNumber && portValue == 0)) {
        incompleteText = kNoPortText;
        incompleteField = POP3PortEdit;
    } else if (!portNumber || portValue < 1 || portValue > 65535) {
        incompleteText = kBadPortText;
        incompleteField = POP3PortEdit;
    } else if (KontoNameEdit->text().isEmpty()) {
        incompleteText = kNoAccountNameText;
        incompleteField = KontoNameEdit;
    } else if (AuthMethodCB->currentIndex() == amOAuth2) {
        if (m_refreshToken.isEmpty() && !keepsSignIn()) {
            incompleteText = kSignInFirstText;
            incompleteField = SignInBtn;
        }
    } else if (PasswordEdit->text().isEmpty() && !keepsKeyringPassword(false)) {
        incompleteText = kNoPasswordText;
        incompleteField = PasswordEdit;
    }
    if (incompleteField) {
        m_accepted = false;
        fieldError(incompleteText, incompleteField);
        // With it, an empty separate SMTP login; inputFault() finds one alone.
        if (separateSmtpLogin() && SMTPKontoNameEdit->text().isEmpty())
            fieldError(kNoSmtpNameText, SMTPKontoNameEdit);
        if (separateSmtpLogin() && SMTPPasswordEdit->text().isEmpty() && !keepsKeyringPassword(true))
            fieldError(kNoSmtpPasswordText, SMTPPasswordEdit);
        return;
    }
    if (inputFault()) {
        m_accepted = false;
        return;
    }
    collect();
    done(QDialog::Accepted);
}

bool TPOP3AccountsCfg::keepsKeyringPassword(bool smtp) const
{
    return (smtp ? SMTPPasswordEdit : PasswordEdit)->text().isEmpty()
           && (smtp ? m_account.SMTPPasswordInKeyring : m_account.PasswordInKeyring)
           && POP3ServerAddressEdit->text() == m_account.ServerName && KontoNameEdit->text() == m_account.AccountName;
}

void TPOP3AccountsCfg::collectIncoming(TPOP3AccountSettings &a) const
{
    // First: a may be the loaded record that keepsKeyringPassword and keepsSignIn compare with.
    const bool keepSignIn = keepsSignIn();
    const QString keptToken = m_account.Password;
    const bool keptTokenInKeyring = m_account.PasswordInKeyring;
    a.PasswordInKeyring = keepsKeyringPassword(false);
    a.AccountType = accountType();
    a.ServerName = POP3ServerAddressEdit->text();
    a.Port = portOf(POP3PortEdit, IncomingDefaultPort(a.AccountType, false));
    a.POP3Security = POP3SecurityCB->currentIndex();
    a.ServerRetries = ServerRetriesSlider->value();
    a.AccountName = KontoNameEdit->text();
    a.Password = PasswordEdit->text();
    a.UseAPOP = a.AccountType == atPOP3 && APOPChkBox->isChecked();
    a.IMAPFolder = IMAPFolderEdit->text().trimmed().isEmpty() ? kDefaultIMAPFolder : IMAPFolderEdit->text().trimmed();
    a.IMAPSpamAction = IMAPSpamActionCB->currentIndex() == isaDelete ? isaDelete : isaMoveToJunk;
    a.AuthMethod = AuthMethodCB->currentIndex() == amOAuth2 ? amOAuth2 : amPassword;
    a.OAuthProvider = a.AuthMethod == amOAuth2 ? OAuthProviderCB->currentText() : QString();
    if (a.AuthMethod == amOAuth2) {
        // The refresh token is kept where the password would be: a new sign-in's, or the loaded one's.
        a.UseAPOP = false;
        if (!m_refreshToken.isEmpty()) {
            a.Password = m_refreshToken;
            a.PasswordInKeyring = false;
        } else if (keepSignIn) {
            a.Password = keptToken;
            a.PasswordInKeyring = keptTokenInKeyring;
        } else {
            a.Password.clear();
            a.PasswordInKeyring = false;
        }
    }
}

void TPOP3AccountsCfg::collect()
{
    const bool smtpInKeyring = !UsePOP3ChkBox->isChecked() && keepsKeyringPassword(true);
    TPOP3AccountSettings &a = m_account;
    collectIncoming(a);
    a.SMTPPasswordInKeyring = smtpInKeyring;
    a.SMTPServer = UseProviderSMTPChkBox->isChecked() ? SMTPServerAddressEdit->text() : QString();
    a.UseProviderSMTP = UseProviderSMTPChkBox->isChecked() && !a.SMTPServer.isEmpty();
    a.SMTPPort = portOf(SMTPPortEdit, 25);
    a.SMTPSecurity = SMTPSecurityCB->currentIndex();
    a.SMTPEMailAddress = SMTPEMailAddressEdit->text();
    a.SMTPAuth = SMTPAuthChkBox->isChecked();
    a.SMTPUsePOP3Data = UsePOP3ChkBox->isChecked();
    a.SMTPAccountName = a.SMTPUsePOP3Data ? QString() : SMTPKontoNameEdit->text();
    a.SMTPPassword = a.SMTPUsePOP3Data ? QString() : SMTPPasswordEdit->text();
    a.SendSMS = SMSChkBox->isChecked() && !CellPhoneNoEdit->text().isEmpty();
    a.SMSCellNum = CellPhoneNoEdit->text();
    a.CheckFailed = false;
}

void TPOP3AccountsCfg::done(int result)
{
    // The login test under way ends first; then a close while accepted still counts as OK.
    if (m_testing)
        return;
    QDialog::done(m_accepted ? QDialog::Accepted : result);
}

// --- "Einstellungen testen" ---

void TPOP3AccountsCfg::setTesting(bool on)
{
    m_testing = on;
    SetEnabled({Pages, OKBtn, CancelBtn}, !on);
    updateTestButton();
}

void TPOP3AccountsCfg::updateTestButton()
{
    // One server operation at a time: the coordinator says when one (or a timed check) runs.
    TestBtn->setEnabled(!m_testing && !m_signingIn && !m_checker.OperationRunning());
}

void TPOP3AccountsCfg::TestBtnClick()
{
    if (m_testing)
        return;
    TPOP3AccountSettings account;
    collectIncoming(account);
    account.POP3CertSHA256 = m_account.POP3CertSHA256;

    const QPointer<TPOP3AccountsCfg> self(this);
    const QPointer<QWidget> focus = focusWidget();
    // Filled once the test has started; the outcome always comes later.
    auto wait = std::make_shared<QPointer<TJobWaitDialog>>();
    const bool started = m_checker.TestAccount(
        account, [self, focus, account, wait](bool passed, int code, const QString &errorText,
                                              const CertificateProblem &refused) {
            // A test the user gave up tells nothing about the settings: no box then.
            const bool cancelled = *wait && (*wait)->Cancelled();
            if (*wait)
                (*wait)->Finish();
            if (!self)
                return;
            self->setTesting(false);
            if (focus && focus->isEnabled())
                focus->setFocus(Qt::OtherFocusReason);
            if (!cancelled)
                self->testFinished(account, passed, code, errorText, refused);
        });
    if (!started) {
        // Refused, not tried: nothing is known about the settings.
        ErrorBox(TPOP3Checker::BusyText());
        return;
    }
    setTesting(true);
    // The test runs on the worker; its window only offers to give it up.
    *wait = new TJobWaitDialog(kTestWaitText, this);
    (*wait)->OnCancel = [this] { m_checker.CancelOperation(); };
}

void TPOP3AccountsCfg::testFinished(const TPOP3AccountSettings &account, bool passed, int code,
                                    const QString &errorText, const CertificateProblem &refused)
{
    if (m_checker.QuitRequested())
        return;
    if (!passed && refused.CanBeTrusted()
        && AskTrustCertificate(this, account.AccountName + QLatin1Char('@') + account.ServerName, refused)) {
        // Kept with the account when it is saved; the test runs again with it.
        m_account.POP3CertSHA256 = certificateFingerprint(refused.Certificate);
        TestBtnClick();
        return;
    }
    if (passed)
        InfoBox(kTestPassedText);
    else
        ErrorBox(kTestFailedText.arg(errorText.trimmed()).arg(code));
}
