#include "NewPOP3AccountAssistentDlgUnit.h"

#include "DialogKeys.h"
#include "DialogWidgets.h"
#include "JobWaitDialog.h"
#include "MsgBox.h"
#include "OAuthProviders.h"
#include "POP3AccountsCfgUnit.h"
#include "POP3Check.h"
#include "Paths.h"
#include "ProviderSignIn.h"
#include "QuarvelIcons.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

// "Kontoname (E-Mail-Adresse):"; without the provider's own word only "Kontoname:".
QString loginLabel(const QString &word, const QString &providersWord)
{
    if (providersWord.isEmpty())
        return word + QLatin1Char(':');
    return QStringLiteral("%1 (%2):").arg(word, providersWord);
}

} // namespace

TNewPOP3AccountAssistentDlg::TNewPOP3AccountAssistentDlg(const QString &providerFile, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(kAssistantCaption);
    setModal(true);

    Notebook = new QStackedWidget(this);
    Notebook->addWidget(createStartPage());
    Notebook->addWidget(createProviderPage());
    Notebook->addWidget(createServersPage());
    Notebook->addWidget(createLoginPage());
    Notebook->addWidget(createFinishPage());

    const TWizardButtons buttons = LayOutWizard(
        this,
        WizardHeader(QStringLiteral("Ein neues Postfach einrichten"),
                     QStringLiteral("Zur einfachen Einrichtung von E-Mail-Konten sollten Sie diesen Assistenten verwenden."),
                     ProgramIcon(), this),
        Notebook);
    PrevBtn = buttons.Prev;
    NextBtn = buttons.Next;
    CancelBtn = buttons.Cancel;
    connect(NextBtn, &QPushButton::clicked, this, &TNewPOP3AccountAssistentDlg::NextBtnClick);
    connect(PrevBtn, &QPushButton::clicked, this, &TNewPOP3AccountAssistentDlg::PrevBtnClick);
    EnterMovesToNextControl(this);

    // Providers whose incoming server wants a secured connection become TLS accounts.
    m_providers = OfferedProviders(ReadProviderFile(providerFile), true);
    {
        const QSignalBlocker quiet(ProvidersCB);
        for (const TProvider &p : m_providers)
            ProvidersCB->addItem(p.Name);
        ProvidersCB->addItem(kOtherProvider);
        ProvidersCB->setCurrentIndex(0);
    }
    connect(ProvidersCB, &QComboBox::currentIndexChanged, this, &TNewPOP3AccountAssistentDlg::ProvidersCBChange);
    ProvidersCBChange();
    Notebook->setCurrentIndex(pgStart);
    NotebookPageChanged();
    resize(500, 400);
}

QWidget *TNewPOP3AccountAssistentDlg::createStartPage()
{
    QVBoxLayout *layout = nullptr;
    QWidget *w = WizardPage(this, &layout);
    layout->addWidget(WrappedLabel(QStringLiteral("Dieser Assistent wird Ihnen helfen ein neues E-Mail-Konto einzurichten."), w));
    layout->addSpacing(12);
    layout->addWidget(WrappedLabel(QStringLiteral("Klicken Sie auf \"Weiter\", um die Einrichtung des Kontos zu beginnen "
                                                  "oder auf \"Abbrechen\", um diesen Assistenten zu beenden."),
                                   w));
    layout->addStretch(1);
    CheckBox2 = new QCheckBox(QStringLiteral(" Ich möchte diesen Assistenten nicht verwenden."), w);
    connect(CheckBox2, &QCheckBox::toggled, this, &TNewPOP3AccountAssistentDlg::CheckBox2Click);
    layout->addWidget(CheckBox2);
    return w;
}

QWidget *TNewPOP3AccountAssistentDlg::createProviderPage()
{
    QVBoxLayout *layout = nullptr;
    QWidget *w = WizardPage(this, &layout);
    layout->addWidget(WrappedLabel(QStringLiteral("Bitte wählen Sie Ihren E-Mail-Provider aus untenstehender Liste."), w));
    layout->addSpacing(8);
    layout->addWidget(new QLabel(QStringLiteral("E-Mail-Provider:"), w));
    ProvidersCB = new QComboBox(w);
    layout->addWidget(ProvidersCB);
    layout->addSpacing(8);
    layout->addWidget(new QLabel(QStringLiteral("Ihre E-Mail-Adresse:"), w));
    EMailAddressEdit = new QLineEdit(w);
    layout->addWidget(EMailAddressEdit);
    auto *example = new QLabel(QStringLiteral("(z. B. name@anbieter.de)"), w);
    example->setEnabled(false);
    layout->addWidget(example);
    layout->addStretch(1);
    return w;
}

QWidget *TNewPOP3AccountAssistentDlg::createServersPage()
{
    QVBoxLayout *layout = nullptr;
    QWidget *w = WizardPage(this, &layout);
    auto *type = new QHBoxLayout;
    type->addWidget(new QLabel(QStringLiteral("Der Posteingangsserver ist ein "), w));
    AccountTypeCB = new QComboBox(w);
    AccountTypeCB->addItems({QStringLiteral("POP3"), QStringLiteral("AOL"), QStringLiteral("HTTP-Mail"), QStringLiteral("IMAP")});
    connect(AccountTypeCB, &QComboBox::currentIndexChanged, this, &TNewPOP3AccountAssistentDlg::AccountTypeCBChange);
    type->addWidget(AccountTypeCB);
    type->addWidget(new QLabel(QStringLiteral("Server."), w));
    type->addStretch(1);
    layout->addLayout(type);
    layout->addSpacing(8);
    layout->addWidget(WrappedLabel(QStringLiteral("Posteingangsserver (POP3-Server, IMAP-Server, AOL, URL für HTTP-Mail):"), w));
    POP3ServerEdit = new QLineEdit(w);
    layout->addWidget(POP3ServerEdit);
    layout->addSpacing(12);
    SMTPServerText = WrappedLabel(QStringLiteral("Ein SMTP-Server wird für den Postausgang benötigt. Lassen Sie die Angabe "
                                                 "leer damit %1 den eingebauten SMTP-Server verwendet.")
                                      .arg(QLatin1String(platform::kProductName)),
                                  w);
    layout->addWidget(SMTPServerText);
    layout->addWidget(new QLabel(QStringLiteral("Postausgangsserver (SMTP):"), w));
    SMTPServerEdit = new QLineEdit(w);
    layout->addWidget(SMTPServerEdit);
    layout->addStretch(1);
    return w;
}

QWidget *TNewPOP3AccountAssistentDlg::createLoginPage()
{
    QVBoxLayout *layout = nullptr;
    QWidget *w = WizardPage(this, &layout);
    layout->addWidget(WrappedLabel(QStringLiteral("Geben Sie den Kontonamen und das Kennwort ein, die Sie von Ihrem "
                                                  "Internetdienstanbieter erhalten haben."),
                                   w));
    layout->addSpacing(8);
    AccountNameLabel = new QLabel(w);
    layout->addWidget(AccountNameLabel);
    AccountNameEdit = new QLineEdit(w);
    layout->addWidget(AccountNameEdit);
    PasswordLabel = new QLabel(w);
    layout->addWidget(PasswordLabel);
    PasswordEdit = new QLineEdit(w);
    MaskWithStars(PasswordEdit);
    layout->addWidget(PasswordEdit);
    layout->addSpacing(8);
    SMTPAuthChkBox = new QCheckBox(QStringLiteral("SMTP-Authentifizierung notwendig."), w);
    layout->addWidget(SMTPAuthChkBox);
    SignInChkBox = new QCheckBox(kAuthMethodItems.at(amOAuth2), w);
    layout->addWidget(SignInChkBox);
    SignInStateLabel = WrappedLabel(QString(), w);
    layout->addWidget(SignInStateLabel);
    connect(SignInChkBox, &QCheckBox::clicked, this, &TNewPOP3AccountAssistentDlg::SignInChkBoxClick);
    layout->addStretch(1);
    return w;
}

QWidget *TNewPOP3AccountAssistentDlg::createFinishPage()
{
    QVBoxLayout *layout = nullptr;
    QWidget *w = WizardPage(this, &layout);
    layout->addWidget(WrappedLabel(
        QStringLiteral("Alle Informationen zur Einrichtung des gewünschten Kontos wurden vollständig eingegeben.\n\n\n"
                       "Klicken Sie auf \"Fertig stellen\", um die Einstellungen zu speichern.\n\n\n"
                       "Weitere Einstellungen zum Konto können Sie vornehmen, in dem Sie das angelegte Konto ändern."),
        w));
    layout->addStretch(1);
    return w;
}

void TNewPOP3AccountAssistentDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        ProvidersCBChange();
}

bool TNewPOP3AccountAssistentDlg::Declined() const
{
    return CheckBox2->isChecked();
}

int TNewPOP3AccountAssistentDlg::CurrentPage() const
{
    return Notebook->currentIndex();
}

const TProviderEntry *TNewPOP3AccountAssistentDlg::SelectedProvider() const
{
    const int index = ProvidersCB->currentIndex();
    return index >= 0 && index < m_providers.size() ? &m_providers.at(index).Entry : nullptr;
}

int32_t TNewPOP3AccountAssistentDlg::accountType() const
{
    return AccountTypeCB->currentIndex() == pmkIMAP ? atIMAP : atPOP3;
}

TPOP3AccountSettings TNewPOP3AccountAssistentDlg::Account() const
{
    TAssistantEntries e;
    e.AccountType = accountType();
    e.EMailAddress = EMailAddressEdit->text();
    e.POP3Server = POP3ServerEdit->text();
    e.SMTPServer = SMTPServerEdit->text();
    e.AccountName = AccountNameEdit->text();
    e.Password = PasswordEdit->text();
    e.SMTPAuth = SMTPAuthChkBox->isChecked();
    if (signInChosen()) {
        e.OAuthProvider = SelectedProvider()->OAuthProvider;
        e.RefreshToken = m_refreshToken;
    }
    TPOP3AccountSettings account = AccountFromAssistant(e, SelectedProvider());
    if (m_incoming && m_incoming->Host == account.ServerName && m_incoming->Type == account.AccountType) {
        account.Port = m_incoming->Port;
        account.POP3Security = m_incoming->Security;
    }
    if (m_outgoing && m_outgoing->Host == account.SMTPServer) {
        account.SMTPPort = m_outgoing->Port;
        account.SMTPSecurity = m_outgoing->Security;
    }
    return account;
}

void TNewPOP3AccountAssistentDlg::SetServerSearch(TPOP3Checker *operations, TServerSearchPlan plan)
{
    m_operations = operations;
    m_plan = std::move(plan);
}

bool TNewPOP3AccountAssistentDlg::searchWanted(QString *pop3, QString *smtp) const
{
    if (!m_operations)
        return false;
    const TProviderEntry *p = SelectedProvider();
    // A listed provider's servers keep what its file says; a server name the user changed is searched.
    const auto wanted = [](const QString &typed, const QString *providers) {
        const QString name = typed.trimmed();
        return !name.isEmpty() && (!providers || name.compare(*providers, Qt::CaseInsensitive) != 0) ? name
                                                                                                     : QString();
    };
    const QString providersIncoming = p ? ProviderIncoming(*p, accountType()).Server : QString();
    *pop3 = wanted(POP3ServerEdit->text(), p ? &providersIncoming : nullptr);
    *smtp = wanted(SMTPServerEdit->text(), p ? &p->SMTPServer : nullptr);
    return !pop3->isEmpty() || !smtp->isEmpty();
}

quint16 TNewPOP3AccountAssistentDlg::plainPort(const QList<TProbeCandidate> &order, quint16 fallback)
{
    for (const TProbeCandidate &c : order)
        if (!c.ImplicitTls)
            return c.Port;
    return fallback;
}

void TNewPOP3AccountAssistentDlg::startSearch(const QString &pop3, const QString &smtp)
{
    if (!m_operations->BeginOperation(TServerOperationKind::ServerSearch)) {
        ErrorBox(TPOP3Checker::BusyText());
        return;
    }
    m_searching = true;
    TPOP3Checker *operations = m_operations;
    auto result = std::make_shared<TServerSearchResult>();
    // The search runs on the worker; its window only offers to give it up.
    const QPointer<TJobWaitDialog> wait = new TJobWaitDialog(kSearchWaitText, this);
    wait->OnCancel = [operations] { operations->CancelOperation(); };
    operations->RunJob(
        [result, type = accountType(), pop3, smtp, plan = m_plan](TPop3Thread &worker) {
            *result = SearchServers(worker, type, pop3, smtp, plan);
        },
        [self = QPointer<TNewPOP3AccountAssistentDlg>(this), operations, result, wait] {
            operations->EndOperation();
            if (wait)
                wait->Finish();
            if (!self)
                return;
            self->m_searching = false;
            if (!operations->QuitRequested())
                self->searchFinished(*result);
        });
}

void TNewPOP3AccountAssistentDlg::searchFinished(const TServerSearchResult &result)
{
    // Given up: the user stays on the server page with nothing changed.
    if (result.Cancelled())
        return;
    struct Server {
        const QString &Host;
        const TProbeResult &Found;
        quint16 Plain;
        std::optional<TSettled> *Settled;
        QLineEdit *Field;
    };
    const Server servers[] = {
        {result.POP3Server, result.Incoming,
         plainPort(m_plan.IncomingOrder(result.IncomingType), quint16(IncomingDefaultPort(result.IncomingType, false))),
         &m_incoming, POP3ServerEdit},
        {result.SMTPServer, result.Outgoing, plainPort(m_plan.Outgoing, 25), &m_outgoing, SMTPServerEdit},
    };
    bool plainOnly = false;
    for (const Server &s : servers) {
        if (s.Host.isEmpty() || s.Found.Found || s.Found.PlainText)
            continue;
        // Nobody answered: most often the name is mistyped.
        ErrorBox(kServerNotReachedText.arg(s.Host, s.Found.ErrorText));
        s.Field->setFocus();
        return;
    }
    for (const Server &s : servers)
        plainOnly = plainOnly || (!s.Host.isEmpty() && !s.Found.Found);
    if (plainOnly
        && ShowMsgBox(kPlainOnlyQuestion, QString(), MsgConfirmation, BtnYesNo | BtnDefaultSecond) != IDYES)
        return;
    for (const Server &s : servers) {
        if (s.Host.isEmpty())
            continue;
        *s.Settled = s.Found.Found
            ? TSettled{s.Host, s.Found.Where.Port, SecurityOfCandidate(s.Found.Where), result.IncomingType}
            : TSettled{s.Host, s.Plain, csNone, result.IncomingType};
    }
    Notebook->setCurrentIndex(pgServers + 1);
    NotebookPageChanged();
}

void TNewPOP3AccountAssistentDlg::ProvidersCBChange()
{
    const TProviderEntry *p = SelectedProvider();
    {
        const QSignalBlocker quiet(AccountTypeCB);
        const int type = p ? p->AccountType : pmkPOP3;
        AccountTypeCB->setCurrentIndex(type == pmkIMAP ? pmkIMAP : pmkPOP3);
    }
    POP3ServerEdit->setText(p ? ProviderIncoming(*p, accountType()).Server : QString());
    SMTPServerEdit->setText(p ? p->SMTPServer : QString());
    AccountNameLabel->setText(loginLabel(QStringLiteral("Kontoname"), p ? p->AccountNameLabel : QString()));
    PasswordLabel->setText(loginLabel(QStringLiteral("Kennwort"), p ? p->PasswordLabel : QString()));
    AccountNameEdit->clear();
    PasswordEdit->clear();
    SMTPAuthChkBox->setChecked(p && p->SMTPAuth);
    m_refreshToken.clear();
    SignInChkBox->setVisible(p && !p->OAuthProvider.isEmpty());
    SignInChkBox->setChecked(p && p->OAuthOnly);
    SignInChkBox->setEnabled(p && !p->OAuthOnly);
    SignInChkBoxClick();
    AccountTypeCBChange();
    if (CurrentPage() == pgProvider && EMailAddressEdit->text().trimmed().isEmpty())
        EMailAddressEdit->setFocus();
}

void TNewPOP3AccountAssistentDlg::AccountTypeCBChange()
{
    const int kind = AccountTypeCB->currentIndex();
    if (kind == pmkPOP3 || kind == pmkIMAP) {
        // A known provider's server of that kind, unless the user typed another one.
        const TProviderEntry *p = SelectedProvider();
        const QString typed = POP3ServerEdit->text().trimmed();
        if (p && (typed.isEmpty() || typed == p->POP3Server || typed == p->IMAPServer))
            POP3ServerEdit->setText(ProviderIncoming(*p, accountType()).Server);
        return;
    }
    {
        const QSignalBlocker quiet(AccountTypeCB);
        AccountTypeCB->setCurrentIndex(pmkPOP3);
    }
    ErrorBox(kOnlyPop3Text);
    AccountTypeCBChange();
}

bool TNewPOP3AccountAssistentDlg::fieldFault(const QString &text, QWidget *field)
{
    ErrorBox(text);
    field->setFocus();
    return false;
}

bool TNewPOP3AccountAssistentDlg::checkPage(int page)
{
    switch (page) {
    case pgProvider:
        if (EMailAddressEdit->text().trimmed().isEmpty())
            return fieldFault(kNoAddressText, EMailAddressEdit);
        break;
    case pgServers:
        if (POP3ServerEdit->text().trimmed().isEmpty())
            return fieldFault(kNoIncomingServerText, POP3ServerEdit);
        break;
    case pgLogin:
        if (AccountNameEdit->text().trimmed().isEmpty())
            return fieldFault(kNoLoginNameText, AccountNameEdit);
        if (signInChosen()) {
            // The sign-in goes in place of the password; the page is left once it is done.
            if (!m_refreshToken.isEmpty())
                break;
            startSignIn();
            return false;
        }
        if (PasswordEdit->text().isEmpty())
            return fieldFault(kNoLoginPasswordText, PasswordEdit);
        break;
    default:
        break;
    }
    return true;
}

bool TNewPOP3AccountAssistentDlg::signInChosen() const
{
    const TProviderEntry *p = SelectedProvider();
    return p && !p->OAuthProvider.isEmpty() && SignInChkBox->isChecked();
}

void TNewPOP3AccountAssistentDlg::SignInChkBoxClick()
{
    const bool on = signInChosen();
    PasswordEdit->setEnabled(!on);
    PasswordLabel->setEnabled(!on);
    const TProviderEntry *p = SelectedProvider();
    if (!on || !p)
        SignInStateLabel->clear();
    else if (LoadOAuthClient(p->OAuthProvider).ClientId.isEmpty())
        SignInStateLabel->setText(NoClientIdText(p->OAuthProvider));
    else if (!m_refreshToken.isEmpty())
        SignInStateLabel->setText(kSignedInText.arg(p->OAuthProvider));
    else
        SignInStateLabel->setText(QStringLiteral("\"Weiter >\" öffnet die Anmeldeseite von %1 im Browser.")
                                      .arg(p->OAuthProvider));
}

void TNewPOP3AccountAssistentDlg::startSignIn()
{
    const TProviderEntry *p = SelectedProvider();
    if (m_signingIn || !p)
        return;
    m_signingIn = true;
    SetEnabled({NextBtn, PrevBtn}, false);
    const QString hint = EMailAddressEdit->text().trimmed().isEmpty() ? AccountNameEdit->text().trimmed()
                                                                       : EMailAddressEdit->text().trimmed();
    QPointer<TNewPOP3AccountAssistentDlg> self(this);
    StartProviderSignIn(this, p->OAuthProvider, hint, [self](bool ok, const QString &refreshToken, const QString &errorText) {
        if (!self)
            return;
        self->m_signingIn = false;
        SetEnabled({self->NextBtn, self->PrevBtn}, true);
        if (ok)
            self->m_refreshToken = refreshToken;
        self->SignInChkBoxClick();
        if (!ok) {
            if (!errorText.isEmpty())
                ErrorBox(errorText);
            return;
        }
        if (self->CurrentPage() == pgLogin)
            self->NextBtnClick();
    });
}

void TNewPOP3AccountAssistentDlg::NextBtnClick()
{
    const int current = CurrentPage();
    if (Declined() || current == pgFinish) {
        accept();
        return;
    }
    if (m_searching || m_signingIn || !checkPage(current))
        return;
    QString pop3, smtp;
    if (current == pgServers && searchWanted(&pop3, &smtp)) {
        // The next page follows once the search has settled the servers' security.
        startSearch(pop3, smtp);
        return;
    }
    Notebook->setCurrentIndex(current + 1);
    NotebookPageChanged();
}

void TNewPOP3AccountAssistentDlg::PrevBtnClick()
{
    if (CurrentPage() > pgStart)
        Notebook->setCurrentIndex(CurrentPage() - 1);
    NotebookPageChanged();
}

void TNewPOP3AccountAssistentDlg::NotebookPageChanged()
{
    PrevBtn->setEnabled(CurrentPage() > pgStart);
    NextBtn->setText(CurrentPage() == pgFinish || Declined() ? kWizardFinishCaption : kWizardNextCaption);
    const TProviderEntry *p = SelectedProvider();
    // A provider whose log-in is the e-mail address ("E-Mail-Adresse", "Gmail-Adresse", ...) gets it filled in.
    if (CurrentPage() == pgLogin && p && p->AccountNameLabel.contains(QStringLiteral("Adresse"), Qt::CaseInsensitive)
        && AccountNameEdit->text().trimmed().isEmpty())
        AccountNameEdit->setText(EMailAddressEdit->text().trimmed());
    focusFirstEmptyField();
}

void TNewPOP3AccountAssistentDlg::focusFirstEmptyField()
{
    // The typing goes where the page still needs it; a complete page waits for "Weiter".
    QList<QLineEdit *> fields;
    switch (CurrentPage()) {
    case pgProvider:
        fields = {EMailAddressEdit};
        break;
    case pgServers:
        fields = {POP3ServerEdit};
        break;
    case pgLogin:
        fields = {AccountNameEdit, PasswordEdit};
        break;
    default:
        break;
    }
    for (QLineEdit *field : fields)
        if (field->text().trimmed().isEmpty()) {
            field->setFocus();
            return;
        }
    NextBtn->setFocus();
}

void TNewPOP3AccountAssistentDlg::CheckBox2Click()
{
    NotebookPageChanged();
    CancelBtn->setEnabled(!Declined());
}
