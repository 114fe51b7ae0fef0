#include "POP3CfgUnit.h"

#include "CheckBoxGrid.h"
#include "DialogKeys.h"
#include "DialogWidgets.h"
#include "ImportRecords.h"
#include "KeyringPasswords.h"
#include "ListGrid.h"
#include "MsgBox.h"
#include "NewPOP3AccountAssistentDlgUnit.h"
#include "OEOutlookImportDlgUnit.h"
#include "POP3AccountsCfgUnit.h"
#include "ProviderListUnit.h"
#include "RegistrySettingsUnit.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString chooseSoundDialog(QWidget *parent, const QString &current)
{
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("WAV-Dateien (*.wav)"));
    dialog.setDefaultSuffix(QStringLiteral("wav"));
    if (!current.isEmpty())
        dialog.selectFile(current);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

} // namespace

QString AccountRowText(const TPOP3AccountSettings &account)
{
    return account.AccountName + QLatin1Char('@') + account.ServerName;
}

QString AccountTypeText(const TPOP3AccountSettings &account)
{
    return account.AccountType == atIMAP ? QStringLiteral("IMAP") : QStringLiteral("POP3");
}

TPOP3Cfg::TPOP3Cfg(TRegistrySettings &settings, TPOP3Checker &checker, std::function<void(const QString &)> playSound,
                   QWidget *parent)
    : QDialog(parent), ProviderFile(ProviderFilePath()), m_settings(settings), m_checker(checker),
      m_playSound(std::move(playSound))
{
    setWindowTitle(kAccountsDialogCaption);
    setModal(true);
    ChooseSoundFile = [this](const QString &current) { return chooseSoundDialog(this, current); };

    Pages = new QTabWidget(this);
    AccountsPage = createAccountsPage();
    CheckPage = createCheckPage();
    Pages->addTab(AccountsPage, QStringLiteral("POP3-Konten"));
    Pages->addTab(CheckPage, QStringLiteral("Überprüfung"));

    OEImportBtn = new QPushButton(QStringLiteral("Import von E-Mail-Konten..."), this);
    SaveBtn = new QPushButton(QStringLiteral("Speichern"), this);
    CancelBtn = new QPushButton(QStringLiteral("Abbrechen"), this);
    for (QPushButton *b : {OEImportBtn, SaveBtn, CancelBtn})
        b->setAutoDefault(false);
    connect(OEImportBtn, &QPushButton::clicked, this, &TPOP3Cfg::OEImportBtnClick);
    connect(SaveBtn, &QPushButton::clicked, this, &TPOP3Cfg::SaveBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(OEImportBtn);
    buttons->addStretch(1);
    buttons->addWidget(SaveBtn);
    buttons->addWidget(CancelBtn);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Pages, 1);
    layout->addLayout(buttons);
    EnterMovesToNextControl({EmailCheck, EmailCheckSlider});

    // What showing the dialog does: the first page, the stored options and accounts.
    Pages->setCurrentWidget(AccountsPage);
    TPOP3Accounts stored;
    m_settings.LoadPOP3Settings(m_check, stored);
    showCheckOptions();
    for (const TPOP3AccountSettings &account : stored)
        addRow(account);
    AccountsGrid->SetRow(1);
    UpdateButtons();
    resize(460, 420);
}

TPOP3Cfg::~TPOP3Cfg()
{
    // The grid refers to the records; it goes first.
    delete AccountsGrid;
}

QWidget *TPOP3Cfg::createAccountsPage()
{
    auto *page = new QWidget(this);
    auto *intro = WrappedLabel(
        QStringLiteral("Geben Sie alle E-Mail-Konten an, die auf SPAM überprüft werden sollen."), page);

    AccountsGrid = new TCheckBoxGrid(page);
    SetUpListGrid(AccountsGrid, {QStringLiteral("Konto"), QStringLiteral("Typ")}, {330, 70});
    AccountsGrid->SetColumnClick(true);
    AccountsGrid->OnSetChecked = [this](TCheckBoxGrid *, int, int row, bool state) {
        if (TPOP3AccountSettings *account = AccountAt(row))
            account->Active = state;
    };
    AccountsGrid->OnCellDblClick = [this](TCheckBoxGrid *, int, int) {
        if (!AccountsGrid->IsEmpty() && selectedAccountRow() > 0 && EditAccountBtn->isEnabled())
            EditAccountBtnClick();
    };
    connect(AccountsGrid->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { UpdateButtons(); });
    connect(AccountsGrid->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { UpdateButtons(); });

    AddAccountBtn = new QPushButton(QStringLiteral("Hinzufügen"), page);
    AddAccountBtn->setToolTip(QStringLiteral("E-Mail Konto hinzufügen."));
    EditAccountBtn = new QPushButton(QStringLiteral("Ändern"), page);
    EditAccountBtn->setToolTip(QStringLiteral("E-Mail Konto bearbeiten."));
    EditAccountBtn->setEnabled(false);
    RemoveAccountBtn = new QPushButton(QStringLiteral("Löschen"), page);
    RemoveAccountBtn->setToolTip(QStringLiteral("Löscht das E-Mail Konto."));
    RemoveAccountBtn->setEnabled(false);
    for (QPushButton *b : {AddAccountBtn, EditAccountBtn, RemoveAccountBtn})
        b->setAutoDefault(false);
    connect(AddAccountBtn, &QPushButton::clicked, this, &TPOP3Cfg::AddAccountBtnClick);
    connect(EditAccountBtn, &QPushButton::clicked, this, &TPOP3Cfg::EditAccountBtnClick);
    connect(RemoveAccountBtn, &QPushButton::clicked, this, &TPOP3Cfg::RemoveAccountBtnClick);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(intro);
    layout->addWidget(AccountsGrid, 1);
    auto *row = new QHBoxLayout;
    row->addWidget(AddAccountBtn);
    row->addWidget(EditAccountBtn);
    row->addWidget(RemoveAccountBtn);
    row->addStretch(1);
    layout->addLayout(row);
    return page;
}

QWidget *TPOP3Cfg::createCheckPage()
{
    auto *page = new QWidget(this);
    EmailCheck = new QCheckBox(QStringLiteral(" Quarvel soll den E-Mail Eingang überwachen."), page);
    connect(EmailCheck, &QCheckBox::toggled, this, &TPOP3Cfg::EmailCheckClick);

    EmailCheckTitle = new QLabel(QStringLiteral("Überprüfungsintervall:"), page);
    EmailCheckSlider = new QSlider(Qt::Horizontal, page);
    EmailCheckSlider->setRange(1, 30);
    EmailCheckSlider->setPageStep(5);
    EmailCheckSlider->setTickPosition(QSlider::TicksBelow);
    EmailCheckSlider->setTickInterval(5);
    EmailCheckLabel = new QLabel(page);
    connect(EmailCheckSlider, &QSlider::valueChanged, this, &TPOP3Cfg::EmailCheckSliderChange);

    EMailSoundLabel = new QLabel(QStringLiteral("Sound bei Eintreffen neuer Nachrichten abspielen:"), page);
    EMailSoundEdit = new QLineEdit(page);
    EMailSoundEdit->setReadOnly(true);
    SndBtn = new QToolButton(page);
    SndBtn->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    SndBtn->setToolTip(QStringLiteral("Datei suchen"));
    connect(SndBtn, &QToolButton::clicked, this, &TPOP3Cfg::SndBtnClick);
    HearBtn = new QToolButton(page);
    HearBtn->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    HearBtn->setToolTip(QStringLiteral("Sound anhören"));
    connect(HearBtn, &QToolButton::clicked, this, &TPOP3Cfg::HearBtnClick);

    NewMailMsgChkBox = new QCheckBox(QStringLiteral(" Meldungfenster anzeigen, wenn neue Nachrichten eintreffen."), page);
    AutoKillSpamMails = new QCheckBox(QStringLiteral(" Spam-Mails automatisch löschen!"), page);
    QFont bold = AutoKillSpamMails->font();
    bold.setBold(true);
    AutoKillSpamMails->setFont(bold);
    connect(AutoKillSpamMails, &QCheckBox::toggled, this, &TPOP3Cfg::EmailCheckClick);
    AutoKillSpamMailsConfirmChkBox = new QCheckBox(QStringLiteral(" Bestätigung vor dem Löschen zeigen."), page);
    ShowOnlyNewMsgsChkBox = new QCheckBox(QStringLiteral(" Nur auf neue Nachrichten hinweisen"), page);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(EmailCheck);
    layout->addSpacing(8);
    layout->addWidget(EmailCheckTitle);
    auto *interval = new QHBoxLayout;
    interval->addWidget(EmailCheckSlider, 1);
    interval->addWidget(EmailCheckLabel);
    layout->addLayout(interval);
    layout->addSpacing(8);
    layout->addWidget(EMailSoundLabel);
    auto *sound = new QHBoxLayout;
    sound->addWidget(EMailSoundEdit, 1);
    sound->addWidget(SndBtn);
    sound->addWidget(HearBtn);
    layout->addLayout(sound);
    layout->addSpacing(8);
    layout->addWidget(NewMailMsgChkBox);
    layout->addWidget(AutoKillSpamMails);
    auto *indented = new QHBoxLayout;
    indented->addSpacing(20);
    indented->addWidget(AutoKillSpamMailsConfirmChkBox);
    layout->addLayout(indented);
    layout->addWidget(ShowOnlyNewMsgsChkBox);
    layout->addStretch(1);
    return page;
}

void TPOP3Cfg::showCheckOptions()
{
    EmailCheck->setChecked(m_check.EMailCheck);
    EmailCheckSlider->setValue(std::clamp(m_check.EMailCheckTime / 60, 1, 30));
    EmailCheckClick();
    EmailCheckSliderChange();
    EMailSoundEdit->setText(m_check.EMailSoundFile);
    NewMailMsgChkBox->setChecked(m_check.NewMailMsg);
    AutoKillSpamMails->setChecked(m_check.AutoKillSpam);
    AutoKillSpamMailsConfirmChkBox->setChecked(m_check.ShowUserInfoBeforeKillSpam);
    ShowOnlyNewMsgsChkBox->setChecked(m_check.ShowOnlyNewMsgs);
}

void TPOP3Cfg::EmailCheckClick()
{
    const bool on = EmailCheck->isChecked();
    SetEnabled({EmailCheckTitle, EmailCheckSlider, EmailCheckLabel, EMailSoundLabel, EMailSoundEdit, SndBtn,
                NewMailMsgChkBox, AutoKillSpamMails, ShowOnlyNewMsgsChkBox},
               on);
    HearBtn->setEnabled(true);
    AutoKillSpamMailsConfirmChkBox->setEnabled(AutoKillSpamMails->isEnabled() && AutoKillSpamMails->isChecked());
}

void TPOP3Cfg::EmailCheckSliderChange()
{
    EmailCheckLabel->setText(QStringLiteral("%1 Minute(n)").arg(EmailCheckSlider->value()));
}

void TPOP3Cfg::SndBtnClick()
{
    const QString chosen = ChooseSoundFile(EMailSoundEdit->text());
    if (!chosen.isEmpty())
        EMailSoundEdit->setText(chosen);
}

void TPOP3Cfg::HearBtnClick()
{
    if (!EMailSoundEdit->text().isEmpty() && m_playSound)
        m_playSound(EMailSoundEdit->text());
}

// --- the account rows ---

TPOP3AccountSettings *TPOP3Cfg::AccountAt(int row) const
{
    if (row < 1 || row >= AccountsGrid->RowCount())
        return nullptr;
    return AccountsGrid->CellObject<TPOP3AccountSettings>(0, row);
}

int TPOP3Cfg::selectedAccountRow() const
{
    const int row = AccountsGrid->Row();
    return AccountsGrid->Cell(0, row).isEmpty() || !AccountAt(row) ? -1 : row;
}

void TPOP3Cfg::UpdateButtons()
{
    const bool selected = !AccountsGrid->SelectedCellText(0).isEmpty();
    EditAccountBtn->setEnabled(selected);
    RemoveAccountBtn->setEnabled(selected);
}

void TPOP3Cfg::showAccount(int row, const TPOP3AccountSettings &account)
{
    AccountsGrid->SetCell(0, row, AccountRowText(account));
    AccountsGrid->SetCell(1, row, AccountTypeText(account));
    AccountsGrid->SetShowCheckBox(0, row, true);
    AccountsGrid->SetChecked(0, row, account.Active);
}

void TPOP3Cfg::addRow(const TPOP3AccountSettings &account)
{
    int row = 1;
    if (!m_accounts.empty()) {
        row = AccountsGrid->RowCount();
        AccountsGrid->SetRowCount(row + 1);
    }
    m_accounts.push_back(std::make_unique<TPOP3AccountSettings>(account));
    AccountsGrid->SetCellObject(0, row, m_accounts.back().get());
    showAccount(row, account);
}

void TPOP3Cfg::AppendAccount(const TPOP3AccountSettings &account)
{
    TPOP3AccountSettings active = account;
    active.Active = true;
    addRow(active);
    AccountsGrid->ClearSortMarkers();
    UpdateButtons();
}

TPOP3Accounts TPOP3Cfg::ListedAccounts() const
{
    TPOP3Accounts out;
    if (AccountsGrid->IsEmpty())
        return out;
    for (int row = 1; row < AccountsGrid->RowCount(); ++row)
        if (const TPOP3AccountSettings *account = AccountAt(row))
            out.append(*account);
    return out;
}

void TPOP3Cfg::AddAccountBtnClick()
{
    TNewPOP3AccountAssistentDlg assistant(ProviderFile, this);
    assistant.SetServerSearch(&m_checker, SearchPlan);
    if (assistant.exec() != QDialog::Accepted)
        return;
    if (!assistant.Declined()) {
        AppendAccount(assistant.Account());
        return;
    }
    // Declined: a blank account in the editor instead.
    TPOP3AccountsCfg editor(m_checker, this);
    editor.setWindowTitle(kNewAccountCaption);
    editor.exec();
    if (!editor.Accepted())
        return;
    AppendAccount(editor.Account());
}

void TPOP3Cfg::OEImportBtnClick()
{
    TOEOutlookImportDlg wizard(ImportHome, this);
    if (wizard.exec() == QDialog::Accepted) {
        for (const TOEMailBox &box : wizard.ChosenAccounts()) {
            const TPOP3AccountSettings account = AccountFromMailBox(box);
            const QString text = AccountRowText(account);
            if (AccountsGrid->FindRow(0, text, false) > 0) {
                ErrorBox(kAccountExistsText.arg(text));
                continue;
            }
            addRow(account);
        }
    }
    AccountsGrid->ClearSortMarkers();
    UpdateButtons();
}

void TPOP3Cfg::EditAccountBtnClick()
{
    if (AccountsGrid->IsEmpty())
        return;
    const int row = selectedAccountRow();
    TPOP3AccountSettings *account = AccountAt(row);
    if (!account)
        return;
    TPOP3AccountsCfg editor(m_checker, this);
    editor.setWindowTitle(kEditAccountCaption.arg(account->ServerName));
    editor.LoadAccount(*account);
    editor.exec();
    if (!editor.Accepted())
        return;
    *account = editor.Account();
    showAccount(row, *account);
    AccountsGrid->ClearSortMarkers();
    UpdateButtons();
}

void TPOP3Cfg::RemoveAccountBtnClick()
{
    if (AccountsGrid->IsEmpty())
        return;
    const int row = selectedAccountRow();
    const TPOP3AccountSettings *account = AccountAt(row);
    if (!account || !YesNoQuestion(kDeleteAccountQuestion.arg(AccountsGrid->Cell(0, row))))
        return;
    if (m_accounts.size() == 1)
        AccountsGrid->ClearGrid();
    else
        AccountsGrid->DeleteRow(row);
    std::erase_if(m_accounts, [account](const std::unique_ptr<TPOP3AccountSettings> &a) { return a.get() == account; });
    UpdateButtons();
}

TPOP3Check TPOP3Cfg::CheckOptions() const
{
    TPOP3Check check = m_check;
    check.EMailCheck = EmailCheck->isChecked() && !m_accounts.empty();
    check.EMailCheckTime = EmailCheckSlider->value() * 60;
    check.EMailSoundFile = EMailSoundEdit->text();
    check.NewMailMsg = NewMailMsgChkBox->isChecked();
    check.AutoKillSpam = AutoKillSpamMails->isChecked();
    check.ShowUserInfoBeforeKillSpam = AutoKillSpamMailsConfirmChkBox->isChecked();
    check.ShowOnlyNewMsgs = ShowOnlyNewMsgsChkBox->isChecked();
    return check;
}

void TPOP3Cfg::SaveBtnClick()
{
    // One transaction: when the store cannot be written, the stored list stays as it was and so does
    // everything typed here.
    QStringList unusedSecrets;
    if (!m_settings.SavePOP3Settings(CheckOptions(), ListedAccounts(), &unusedSecrets)) {
        ErrorBox(kAccountsNotSavedText.arg(m_settings.RegFile.Hive().fileName()));
        return;
    }
    // The keyring entries of deleted (or renamed) mailboxes go with them.
    RemoveSecretsLater(unusedSecrets);
    Saved = true;
    ClosedBySave = true;
    accept();
}
