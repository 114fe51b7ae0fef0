#include "CfgDlgUnit.h"

#include "AutoStart.h"
#include "ConnectionMonitorUnit.h"
#include "DialogKeys.h"
#include "DialogWidgets.h"
#include "MailClientLaunch.h"
#include "MsgBox.h"
#include "OAuthProviders.h"
#include "POP3Check.h"
#include "Paths.h"
#include "RadioGroup.h"
#include "RegistrySettingsUnit.h"
#include "SpamFilterClassUnit.h"
#include "UIDStore.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

const QString kProduct = QString::fromLatin1(platform::kProductName);

// Lets the mail program chooser list only what IsProgramChoice accepts.
class TProgramFilterModel : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
    bool filterAcceptsRow(int row, const QModelIndex &parent) const override
    {
        const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel());
        return !files || IsProgramChoice(files->fileInfo(files->index(row, 0, parent)));
    }
};

// A line with an edit field and its "..." chooser button.
QWidget *fieldWithButton(QLineEdit *edit, QPushButton *button, QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(edit, 1);
    button->setMaximumWidth(button->fontMetrics().horizontalAdvance(button->text()) + 24);
    layout->addWidget(button);
    return row;
}

QString startFolder(const QString &current)
{
    const QFileInfo info(current);
    if (!current.isEmpty() && info.isDir())
        return info.absoluteFilePath();
    if (!current.isEmpty() && info.absoluteDir().exists())
        return info.absolutePath();
    return QDir::homePath();
}

QString chooseFolderDialog(QWidget *parent, const QString &current)
{
    return QFileDialog::getExistingDirectory(
        parent, QStringLiteral("Bitte wählen Sie den Ordner, in dem %1 seine Datendateien ablegen soll.").arg(kProduct),
        startFolder(current));
}

QString chooseProgramDialog(QWidget *parent, const QString &current)
{
    QFileDialog dialog(parent, QStringLiteral("E-Mail-Programm auswählen"));
    // Only Qt's own dialog takes the filter model that picks out programs and desktop entries.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("Programme (*)"));
    dialog.setProxyModel(new TProgramFilterModel(&dialog));
    QString start = startFolder(current);
    if (current.isEmpty() && QFileInfo(QStringLiteral("/usr/share/applications")).isDir())
        start = QStringLiteral("/usr/share/applications");
    dialog.setDirectory(start);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

} // namespace

bool IsProgramChoice(const QFileInfo &file)
{
    if (file.isDir())
        return true;
    return file.isFile() && (file.isExecutable() || file.suffix() == QLatin1String("desktop"));
}

QString MailProgramFromChoice(const QString &chosenFile)
{
    if (!chosenFile.endsWith(QLatin1String(".desktop")))
        return chosenFile;
    const QString command = DesktopExecCommand(ReadDesktopExec(chosenFile));
    return command.isEmpty() ? chosenFile : command;
}

void FollowDataFolder(TPOP3Checker &checker, TRegistrySettings &settings)
{
    const QString folder = settings.GetDataFolder();
    checker.UseDeletionLogOf(folder);
    const QString file = folder + kUIDFileName;
    if (file == checker.UIDFile)
        return;
    checker.UIDFile = file;
    checker.SaveKnownUIDs();
}

TCfgDlg::TCfgDlg(TRegistrySettings &settings, TSpamFilterClass &filters, TConnectionMonitor &monitor,
                 QWidget *parent)
    : QDialog(parent), m_settings(settings), m_filters(filters), m_monitor(monitor)
{
    setWindowTitle(kCfgDlgCaption);
    setModal(true);
    ChooseFolder = [this](const QString &current) { return chooseFolderDialog(this, current); };
    ChooseProgram = [this](const QString &current) { return chooseProgramDialog(this, current); };

    Pages = new QTabWidget(this);
    Pages->addTab(createGeneralPage(), QStringLiteral("Allgemein"));
    Pages->addTab(createMorePage(), QStringLiteral("Weitere Einstellungen"));
    Pages->addTab(createSmsPage(), QStringLiteral("SMS-Versand"));
    Pages->addTab(createSignInPage(), QStringLiteral("Anmeldung"));

    auto *buttons = new QDialogButtonBox(this);
    OKBtn = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    CancelBtn = buttons->addButton(QStringLiteral("Abbrechen"), QDialogButtonBox::RejectRole);
    connect(OKBtn, &QPushButton::clicked, this, &TCfgDlg::OKBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Pages);
    layout->addWidget(buttons);

    EnterMovesToNextControl(this);
    showSettings();
    Pages->setCurrentIndex(0);
}

QWidget *TCfgDlg::createGeneralPage()
{
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    AutoStartChkBox = new QCheckBox(QStringLiteral("%1 bei jeder Anmeldung öffnen.").arg(kProduct), page);
    // clicked, not toggled: only the user's click changes the entry, not showing the current state.
    connect(AutoStartChkBox, &QCheckBox::clicked, this, &TCfgDlg::AutoStartChkBoxClick);
    layout->addWidget(AutoStartChkBox);
    layout->addSpacing(8);

    layout->addWidget(new QLabel(QStringLiteral("Internetverbindung:"), page));
    RB1 = new QRadioButton(QStringLiteral(" Verbindung über LAN/Standleitung/DSL über Router"), page);
    RB2 = new QRadioButton(QStringLiteral(" Verbindungsaufbau über DFÜ-Netzwerk (inkl. T-Online, AOL Software)"), page);
    RB3 = new QRadioButton(QStringLiteral(" Verbindungsaufbau über AVM FRITZ!web"), page);
    auto *group = new QButtonGroup(page);
    group->addButton(RB1, ctLAN);
    group->addButton(RB2, ctDialUp);
    group->addButton(RB3, ctISDN);
    for (QRadioButton *rb : {RB1, RB2, RB3})
        layout->addWidget(rb);
    layout->addSpacing(8);

    layout->addWidget(WrappedLabel(
        QStringLiteral("Damit die Verbindungsaufbau über AVM FRITZ!web erkannt wird, muss entweder:"), page));
    // The call-charge recorder that writes the FRITZ!web call state the monitor watches; named only,
    // as it has no web address to link to.
    layout->addWidget(new QLabel(QStringLiteral(" Kalvo "), page));
    layout->addWidget(WrappedLabel(
        QStringLiteral("auf dem PC installiert und und im jeweiligen Überwachungsmodus ausgeführt werden."), page));
    layout->addStretch(1);
    return page;
}

QWidget *TCfgDlg::createMorePage()
{
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    DataFolderLabel = WrappedLabel(
        QStringLiteral("%1 muss einige Datendateien auf der Festplatte ablegen. Damit diese Dateien korrekt "
                       "gespeichert werden können, muss ein Ordner für die Ablage der Daten angegeben werden, in "
                       "dem %2 lesen, schreiben und löschen kann (Vollzugriff).")
            .arg(kProduct, kProduct),
        page);
    layout->addWidget(DataFolderLabel);
    MailDataPathEdit = new QLineEdit(page);
    MailDataPathBtn = new QPushButton(QStringLiteral("..."), page);
    connect(MailDataPathBtn, &QPushButton::clicked, this, &TCfgDlg::MailDataPathBtnClick);
    layout->addWidget(fieldWithButton(MailDataPathEdit, MailDataPathBtn, page));
    layout->addSpacing(8);

    // A rule that is too broad deletes real mail: a copy of what went is kept in the data folder.
    KeepCopiesChkBox = new QCheckBox(QStringLiteral("Kopie gelöschter E-Mails 14 Tage aufbewahren"), page);
    layout->addWidget(KeepCopiesChkBox);
    auto *limitRow = new QWidget(page);
    auto *limitLayout = new QHBoxLayout(limitRow);
    limitLayout->setContentsMargins(20, 0, 0, 0);
    auto *limitLabel = new QLabel(QStringLiteral("nur für E-Mails bis zu einer Größe von"), limitRow);
    CopyLimitEdit = new QSpinBox(limitRow);
    CopyLimitEdit->setRange(1, 1024 * 1024);
    CopyLimitEdit->setSuffix(QStringLiteral(" KB"));
    limitLabel->setBuddy(CopyLimitEdit);
    limitLayout->addWidget(limitLabel);
    limitLayout->addWidget(CopyLimitEdit);
    limitLayout->addStretch(1);
    layout->addWidget(limitRow);
    connect(KeepCopiesChkBox, &QCheckBox::toggled, limitRow, &QWidget::setEnabled);
    layout->addSpacing(8);

    EMailClientLabel = WrappedLabel(
        QStringLiteral("%1 öffnet normalerweise immer das im System festgelegte Standard E-Mail-Programm, damit %2 "
                       "ein anderes öffnet, können Sie dies hier festlegen.")
            .arg(kProduct, kProduct),
        page);
    layout->addWidget(EMailClientLabel);
    EMailClientEdit = new QLineEdit(page);
    EMailClientBtn = new QPushButton(QStringLiteral("..."), page);
    connect(EMailClientBtn, &QPushButton::clicked, this, &TCfgDlg::EMailClientBtnClick);
    layout->addWidget(fieldWithButton(EMailClientEdit, EMailClientBtn, page));
    layout->addStretch(1);
    return page;
}

QWidget *TCfgDlg::createSmsPage()
{
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(WrappedLabel(
        QStringLiteral("Für den SMS-Versand ist eine Anmeldung beim Dienst Zirpel notwendig für den weitere Kosten "
                       "entstehen."),
        page));
    // The gateway is the one the user's SMS service names; its start page is where one signs up.
    const QString home = SmsGatewayHomePage();
    auto *links = new QHBoxLayout();
    SignUpLink = LinkLabel(QStringLiteral(" Anmeldung bei Zirpel "), home, page);
    HomePageLink = LinkLabel(QStringLiteral(" Zirpel Webseite "), home, page);
    links->addWidget(SignUpLink);
    links->addWidget(HomePageLink);
    links->addStretch(1);
    layout->addLayout(links);

    auto *form = new QFormLayout();
    UsernameEdit = new QLineEdit(page);
    PasswordEdit = new QLineEdit(page);
    MaskWithStars(PasswordEdit);
    form->addRow(QStringLiteral("Zirpel Benutzername:"), UsernameEdit);
    form->addRow(QStringLiteral("Zirpel Passwort:"), PasswordEdit);
    layout->addLayout(form);
    HTTPSChkBox = new QCheckBox(QStringLiteral("HTTPS-Verbindung verwenden"), page);
    layout->addWidget(HTTPSChkBox);

    SMSSendOptionsRG = new TRadioGroup(QStringLiteral(" SMS-Versandart "),
                                       {QStringLiteral("ohne eigenem Absender"), QStringLiteral("mit eigenem Absender")},
                                       page);
    layout->addWidget(SMSSendOptionsRG);
    EMail2SMSRG = new TRadioGroup(
        QStringLiteral(" Inhalte der E-Mail, die als SMS versendet werden sollen "),
        {QStringLiteral("Absender und Betreff der E-Mail (maximal 160 Zeichen)"),
         QStringLiteral("Absender, Betreff und Beginn der E-Mail (maximal 160 Zeichen, nur bei Vorliegen des Texts)")},
        page);
    layout->addWidget(EMail2SMSRG);
    layout->addStretch(1);
    return page;
}

QWidget *TCfgDlg::createSignInPage()
{
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(WrappedLabel(
        QStringLiteral("Postfächer bei Google und Microsoft melden sich beim Anbieter an (OAuth2) statt mit "
                       "einem Kennwort. Dafür braucht %1 eine Client-ID, die Sie selbst beim Anbieter "
                       "registrieren (als Desktop-Anwendung; wie das geht, steht in der Hilfe). Google gibt dazu "
                       "einen geheimen Clientschlüssel aus, der hier mit eingetragen wird.")
            .arg(QLatin1String(platform::kProductName)),
        page));
    for (const QString &provider : OAuthProviderNames()) {
        auto *group = new QGroupBox(QStringLiteral(" %1 ").arg(provider), page);
        auto *form = new QFormLayout(group);
        auto *id = new QLineEdit(group);
        auto *secret = new QLineEdit(group);
        MaskWithStars(secret);
        form->addRow(QStringLiteral("Client-ID:"), id);
        form->addRow(QStringLiteral("Clientschlüssel:"), secret);
        ClientIdEdits.append(id);
        ClientSecretEdits.append(secret);
        layout->addWidget(group);
    }
    layout->addStretch(1);
    return page;
}

void TCfgDlg::showSettings()
{
    const TProgramSettings &s = m_settings.Settings;
    AutoStartChkBox->setChecked(platform::IsAutoStartEnabled());
    // A stored type outside 0..2 selects no button.
    for (QRadioButton *rb : {RB1, RB2, RB3})
        rb->setChecked(rb->group()->id(rb) == s.ConnectionType);

    QString folder = s.DataPath;
    if (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    MailDataPathEdit->setText(folder);
    EMailClientEdit->setText(s.POP3Check.EMailClient);
    KeepCopiesChkBox->setChecked(s.KeepDeletedCopies);
    CopyLimitEdit->setValue(s.DeletedCopyLimitKB);
    CopyLimitEdit->parentWidget()->setEnabled(s.KeepDeletedCopies);

    UsernameEdit->setText(s.SMSGateway.Username);
    PasswordEdit->setText(s.SMSGateway.Password);
    PasswordEdit->setPlaceholderText(s.SMSGateway.PasswordInKeyring ? kKeyringPlaceholder : QString());
    HTTPSChkBox->setChecked(s.SMSGateway.HTTPS);
    SMSSendOptionsRG->SetItemIndex(s.SMSGateway.WithSenderAddress ? 1 : 0);
    EMail2SMSRG->SetItemIndex(s.SMSGateway.EMail2SMSOnlySubject ? 0 : 1);

    const QStringList providers = OAuthProviderNames();
    for (qsizetype i = 0; i < providers.size(); ++i) {
        const TOAuthClient client = LoadOAuthClient(providers.at(i));
        ClientIdEdits.at(i)->setText(client.ClientId);
        ClientSecretEdits.at(i)->setText(client.ClientSecret);
    }
}

QString TCfgDlg::dataFolderFromField() const
{
    QString folder = MailDataPathEdit->text();
    if (folder.isEmpty())
        return folder;
    // A relative folder would move with the working folder of each start, and the rules with it.
    if (folder == QLatin1String("~") || folder.startsWith(QLatin1String("~/")))
        folder = QDir::homePath() + folder.mid(1);
    else if (QDir::isRelativePath(folder))
        folder = QDir::current().absoluteFilePath(folder);
    return platform::withTrailingSlash(folder);
}

void TCfgDlg::OKBtnClick()
{
    TProgramSettings &s = m_settings.Settings;
    if (const int type = RB1->group()->checkedId(); type >= 0)
        s.ConnectionType = uint8_t(type);

    // An empty field keeps the folder: it would otherwise put the data into the program's folder.
    // The comparison is exact, so a change of letter case alone counts as a change.
    const QString folder = dataFolderFromField();
    if (!folder.isEmpty() && folder != platform::withTrailingSlash(s.DataPath)) {
        const QString previous = s.DataPath;
        s.DataPath = folder;
        // Rules that cannot be written there would be missing at the next start: keep the old folder.
        if (!m_filters.SaveFilters())
            s.DataPath = previous;
    }

    s.POP3Check.EMailClient = EMailClientEdit->text();
    s.KeepDeletedCopies = KeepCopiesChkBox->isChecked();
    s.DeletedCopyLimitKB = CopyLimitEdit->value();
    s.SMSGateway.Username = UsernameEdit->text();
    s.SMSGateway.Password = PasswordEdit->text();
    // An empty field leaves the password in the keyring; a new one is stored and moved there anew.
    s.SMSGateway.PasswordInKeyring = s.SMSGateway.PasswordInKeyring && PasswordEdit->text().isEmpty();
    s.SMSGateway.HTTPS = HTTPSChkBox->isChecked();
    s.SMSGateway.EMail2SMSOnlySubject = EMail2SMSRG->ItemIndex() == 0;
    s.SMSGateway.WithSenderAddress = SMSSendOptionsRG->ItemIndex() == 1;

    // A store that cannot be written keeps the dialog open, with everything as chosen, to try again.
    if (!m_settings.Save()) {
        ErrorBox(kSettingsNotSavedText.arg(m_settings.RegFile.Hive().fileName()));
        return;
    }
    const QStringList providers = OAuthProviderNames();
    for (qsizetype i = 0; i < providers.size(); ++i)
        SaveOAuthClient(providers.at(i), TOAuthClient{ClientIdEdits.at(i)->text(), ClientSecretEdits.at(i)->text()});
    m_monitor.SetConnectionType(s.ConnectionType);
    accept();
}

void TCfgDlg::AutoStartChkBoxClick()
{
    const bool enable = AutoStartChkBox->isChecked();
    const int code = platform::SetAutoStart(enable);
    // The box keeps the state the user gave it, also when the change failed.
    if (code != 0)
        ShowMsgBox((enable ? kAutoStartWriteError : kAutoStartRemoveError).arg(code).arg(platform::UserAutoStartFolder()),
                   kProduct, MsgError, BtnOK);
}

void TCfgDlg::MailDataPathBtnClick()
{
    const QString chosen = ChooseFolder(MailDataPathEdit->text());
    if (!chosen.isEmpty())
        MailDataPathEdit->setText(chosen);
}

void TCfgDlg::EMailClientBtnClick()
{
    const QString chosen = ChooseProgram(EMailClientEdit->text());
    if (!chosen.isEmpty())
        EMailClientEdit->setText(MailProgramFromChoice(chosen));
}
