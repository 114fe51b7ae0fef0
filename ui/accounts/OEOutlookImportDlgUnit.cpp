#include "OEOutlookImportDlgUnit.h"

#include "DialogKeys.h"
#include "DialogWidgets.h"
#include "LinuxImportUnit.h"
#include "MozImportUnit.h"
#include "MsgBox.h"
#include "Paths.h"
#include "OEImportUnit.h"
#include "WMImportUnit.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QString chooseRegFileDialog(QWidget *parent, const QString &current)
{
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({QStringLiteral("Registrierungsdateien (*.reg)"), QStringLiteral("Alle Dateien (*)")});
    if (!current.isEmpty())
        dialog.selectFile(current);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

QString chooseFolderDialog(QWidget *parent, const QString &current)
{
    return QFileDialog::getExistingDirectory(parent, QString(), current);
}

QLabel *hint(const QString &text, QWidget *parent)
{
    QLabel *label = WrappedLabel(text, parent);
    label->setEnabled(false);
    return label;
}

// An edit field with its "Durchsuchen..." button on one line.
QHBoxLayout *pathRow(QLineEdit *edit, QPushButton *button)
{
    auto *row = new QHBoxLayout;
    row->addWidget(edit, 1);
    row->addWidget(button);
    return row;
}

// A folder the program may list and enter.
bool readableFolder(const QString &path)
{
    const QFileInfo info(path);
    return info.isDir() && info.isReadable() && info.isExecutable();
}

} // namespace

// --- the password box ---

TImportPasswordDlg::TImportPasswordDlg(const QString &caption, const QString &userName, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(caption);
    setModal(true);
    Prompt = WrappedLabel(QStringLiteral("Kennwort für das Konto %1:").arg(userName), this);
    PasswordEdit = new QLineEdit(this);
    PasswordEdit->setMaxLength(255);
    MaskWithStars(PasswordEdit);
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("Abbrechen"), this);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    // Laid out in dialog units: a quarter of the letters' average width across, an eighth of the line
    // height down, so the box grows with the font.
    const QFontMetrics fm(font());
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const double avg = fm.horizontalAdvance(letters) / double(letters.size());
    const auto x = [avg](int units) { return int(units * avg / 4 + 0.5); };
    const auto y = [&fm](int units) { return int(units * fm.height() / 8.0 + 0.5); };
    const int promptHeight = Prompt->heightForWidth(x(164));
    Prompt->setGeometry(x(8), y(8), x(164), promptHeight);
    const int fieldTop = y(8) + promptHeight + y(4);
    const int fieldHeight = PasswordEdit->sizeHint().height();
    PasswordEdit->setGeometry(x(8), fieldTop, x(164), fieldHeight);
    const int buttonTop = fieldTop + fieldHeight + 15;
    OKBtn->setGeometry(x(38), buttonTop, x(50), qMax(y(14), OKBtn->sizeHint().height()));
    CancelBtn->setGeometry(x(92), buttonTop, x(50), qMax(y(14), CancelBtn->sizeHint().height()));
    setFixedSize(x(180), OKBtn->geometry().bottom() + y(8));
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    PasswordEdit->setFocus();
}

QString TImportPasswordDlg::Password() const
{
    return PasswordEdit->text();
}

// --- the wizard ---

TOEOutlookImportDlg::TOEOutlookImportDlg(const QString &home, QWidget *parent)
    : QDialog(parent), m_storeReader(std::make_unique<TOutlookExpress>()),
      m_moz(std::make_unique<TMozillaImport>(home)), m_evolution(std::make_unique<TEvolutionImport>(home)),
      m_kmail(std::make_unique<TKMailImport>(home))
{
    setWindowTitle(kImportCaption);
    setModal(true);
    // Secured accounts are set up as TLS accounts rather than passed over.
    m_storeReader->AcceptSecure = true;
    ChooseRegFile = [this](const QString &current) { return chooseRegFileDialog(this, current); };
    ChooseStoreFolder = [this](const QString &current) { return chooseFolderDialog(this, current); };

    NB = new QStackedWidget(this);
    NB->addWidget(createStartPage());
    NB->addWidget(createIdentityPage());
    NB->addWidget(createAccountsPage());
    NB->addWidget(createPasswordsPage());
    NB->addWidget(createFinishPage());
    NB->addWidget(createMozProfilePage());

    const TWizardButtons buttons = LayOutWizard(
        this,
        WizardHeader(QStringLiteral("Import aus Microsoft Outlook(Express), Windows Mail und Mozilla-Produkten"),
                     QStringLiteral("Dies ermöglicht den Import der E-Mail-Konten aus MS Outlook (Express), Windows Mail "
                                    "oder Mozilla-Produkten in %1.")
                         .arg(QLatin1String(platform::kProductName)),
                     QIcon(), this),
        NB);
    PrevBtn = buttons.Prev;
    NextBtn = buttons.Next;
    CancelBtn = buttons.Cancel;
    connect(NextBtn, &QPushButton::clicked, this, &TOEOutlookImportDlg::NextBtnClick);
    connect(PrevBtn, &QPushButton::clicked, this, &TOEOutlookImportDlg::PrevBtnClick);
    EnterMovesToNextControl(this);

    showPage(pgStart);
    resize(560, 440);
}

TOEOutlookImportDlg::~TOEOutlookImportDlg() = default;

QWidget *TOEOutlookImportDlg::createStartPage()
{
    QVBoxLayout *layout = nullptr;
    QWidget *w = WizardPage(this, &layout);
    layout->addWidget(WrappedLabel(QStringLiteral("Aus welcher Anwendung möchten Sie die E-Mail-Konten importieren?"), w));
    auto *group = new QButtonGroup(w);
    const auto radio = [&](const QString &text) {
        auto *rb = new QRadioButton(text, w);
        group->addButton(rb);
        layout->addWidget(rb);
        connect(rb, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                SourceChange();
        });
        return rb;
    };
    oeRB = radio(QStringLiteral("aus Microsoft Outlook Express"));
    oRB = radio(QStringLiteral("aus Microsoft Outlook"));
    wRB = radio(QStringLiteral("aus Windows Mail (Windows Vista)"));
    mozRB = radio(QStringLiteral("aus der Mozilla-Suite, Netscape 6/7 oder Mozilla Thunderbird"));
    evoRB = radio(QStringLiteral("aus Evolution"));
    kmailRB = radio(QStringLiteral("aus KMail"));

    // The Windows programs' settings come along from a Windows installation: a .reg export of their keys,
    // or a copy of the Windows Mail folder.
    layout->addSpacing(8);
    RegFileChkBox = new QCheckBox(QStringLiteral(" aus einer exportierten Registrierungsdatei (*.reg) lesen:"), w);
    connect(RegFileChkBox, &QCheckBox::toggled, this, &TOEOutlookImportDlg::SourceChange);
    layout->addWidget(RegFileChkBox);
    RegFileEdit = new QLineEdit(w);
    RegFileBtn = new QPushButton(QStringLiteral("Durchsuchen..."), w);
    RegFileBtn->setAutoDefault(false);
    connect(RegFileBtn, &QPushButton::clicked, this, &TOEOutlookImportDlg::RegFileBtnClick);
    layout->addLayout(pathRow(RegFileEdit, RegFileBtn));
    StoreFolderLabel = new QLabel(QStringLiteral("Ordner von Windows Mail:"), w);
    layout->addWidget(StoreFolderLabel);
    StoreFolderEdit = new QLineEdit(TWindowsMail().StoreRoot, w);
    StoreFolderBtn = new QPushButton(QStringLiteral("Durchsuchen..."), w);
    StoreFolderBtn->setAutoDefault(false);
    connect(StoreFolderBtn, &QPushButton::clicked, this, &TOEOutlookImportDlg::StoreFolderBtnClick);
    layout->addLayout(pathRow(StoreFolderEdit, StoreFolderBtn));

    layout->addStretch(1);
    layout->addWidget(hint(QStringLiteral("Wählen Sie eine Anwendung und klicken Sie auf \"Weiter\"."), w));
    oeRB->setChecked(true);
    return w;
}

QWidget *TOEOutlookImportDlg::createIdentityPage()
{
    QVBoxLayout *layout = nullptr;
    QWidget *w = WizardPage(this, &layout);
    layout->addWidget(WrappedLabel(QStringLiteral("Für den Import aus Outlook Express müssen Sie die gewünschte Identität "
                                                  "wählen, aus der Sie die E-Mail-Konten importieren möchten."),
                                   w));
    layout->addSpacing(8);
    layout->addWidget(new QLabel(QStringLiteral("Gewünschte Identität:"), w));
    IdentitesCB = new QComboBox(w);
    layout->addWidget(IdentitesCB);
    layout->addStretch(1);
    layout->addWidget(hint(QStringLiteral("Wählen Sie eine Identität und klicken Sie auf \"Weiter\"."), w));
    return w;
}

QWidget *TOEOutlookImportDlg::createAccountsPage()
{
    QVBoxLayout *layout = nullptr;
    QWidget *w = WizardPage(this, &layout);
    layout->addWidget(new QLabel(QStringLiteral("Gefundene E-Mail-Konten:"), w));
    AccountSelectLB = new QListWidget(w);
    auto *row = new QHBoxLayout;
    row->addWidget(AccountSelectLB, 1);
    auto *buttons = new QVBoxLayout;
    SelectAllBtn = new QPushButton(QStringLiteral("Alle wählen"), w);
    DeselectAllBtn = new QPushButton(QStringLiteral("Alle abwählen"), w);
    for (QPushButton *b : {SelectAllBtn, DeselectAllBtn}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->addStretch(1);
    connect(SelectAllBtn, &QPushButton::clicked, this, &TOEOutlookImportDlg::SelectAllBtnClick);
    connect(DeselectAllBtn, &QPushButton::clicked, this, &TOEOutlookImportDlg::DeselectAllBtnClick);
    row->addLayout(buttons);
    layout->addLayout(row, 1);
    layout->addWidget(hint(QStringLiteral("Bitte wählen Sie alle E-Mail-Konten, die importiert werden sollen."), w));
    return w;
}

QWidget *TOEOutlookImportDlg::createPasswordsPage()
{
    QVBoxLayout *layout = nullptr;
    QWidget *w = WizardPage(this, &layout);
    layout->addWidget(WrappedLabel(QStringLiteral("Die Kennworte für die E-Mail-Konten können nicht importiert werden. "
                                                  "Bitte geben Sie die Kennworte jetzt ein."),
                                   w));
    AccountsLV = new QTreeWidget(w);
    AccountsLV->setColumnCount(2);
    AccountsLV->setHeaderLabels({QStringLiteral("E-Mail-Konto"), QStringLiteral("Kennwort")});
    AccountsLV->setRootIsDecorated(false);
    AccountsLV->setItemsExpandable(false);
    AccountsLV->header()->setStretchLastSection(true);
    AccountsLV->setColumnWidth(0, 280);
    connect(AccountsLV, &QTreeWidget::itemDoubleClicked, this, [this] { AccountsLVDblClick(); });
    layout->addWidget(AccountsLV, 1);
    layout->addWidget(hint(QStringLiteral("Klicken Sie doppelt auf den E-Mail-Konto-Bezeichner, um das Kennwort einzugeben."), w));
    return w;
}

QWidget *TOEOutlookImportDlg::createFinishPage()
{
    QVBoxLayout *layout = nullptr;
    QWidget *w = WizardPage(this, &layout);
    layout->addWidget(WrappedLabel(QStringLiteral("Der Import der E-Mail-Konten kann jetzt durchgeführt werden."), w));
    layout->addSpacing(12);
    layout->addWidget(WrappedLabel(QStringLiteral("Klicken Sie auf \"Fertig stellen\", um den Import zu beginnen und "
                                                  "anschließend den Assistenten zu schließen.\n\nSollten Sie auf "
                                                  "\"Abbrechen\" klicken, dann wird der Import nicht durchgeführt."),
                                   w));
    layout->addStretch(1);
    return w;
}

QWidget *TOEOutlookImportDlg::createMozProfilePage()
{
    QVBoxLayout *layout = nullptr;
    QWidget *w = WizardPage(this, &layout);
    layout->addWidget(new QLabel(QStringLiteral("Folgende passende Ordner wurden gefunden:"), w));
    MozFoldersCB = new QComboBox(w);
    layout->addWidget(MozFoldersCB);
    layout->addSpacing(8);
    layout->addWidget(new QLabel(QStringLiteral("Enthaltene Profile:"), w));
    MozProfilesCB = new QComboBox(w);
    layout->addWidget(MozProfilesCB);
    connect(MozFoldersCB, &QComboBox::currentIndexChanged, this, &TOEOutlookImportDlg::MozFoldersCBChange);
    connect(MozProfilesCB, &QComboBox::currentIndexChanged, this, &TOEOutlookImportDlg::MozProfilesCBChange);
    layout->addStretch(1);
    layout->addWidget(hint(QStringLiteral("Wählen Sie zuerst den korrekten Ordner, danach das Profil aus dem die "
                                          "E-Mail-Konten importiert werden sollen."),
                           w));
    return w;
}

int TOEOutlookImportDlg::CurrentPage() const
{
    return NB->currentIndex();
}

TOEOutlookImportDlg::TSource TOEOutlookImportDlg::Source() const
{
    if (oRB->isChecked())
        return srcOutlook;
    if (wRB->isChecked())
        return srcWindowsMail;
    if (mozRB->isChecked())
        return srcMozilla;
    if (evoRB->isChecked())
        return srcEvolution;
    if (kmailRB->isChecked())
        return srcKMail;
    return srcOutlookExpress;
}

TOutlookExpress &TOEOutlookImportDlg::registryReader()
{
    return RegFileChkBox->isChecked() && m_fileReader ? *m_fileReader : *m_storeReader;
}

QList<TOEMailBox> TOEOutlookImportDlg::ChosenAccounts() const
{
    QList<TOEMailBox> out;
    for (int i = 0; i < AccountsLV->topLevelItemCount(); ++i) {
        const int line = AccountsLV->topLevelItem(i)->data(0, Qt::UserRole).toInt();
        if (line >= 0 && line < m_found.size())
            out.append(m_found.at(line).MailBox);
    }
    return out;
}

void TOEOutlookImportDlg::SourceChange()
{
    if (!RegFileChkBox || !StoreFolderEdit)
        return; // still being built
    const bool registry = Source() == srcOutlookExpress || Source() == srcOutlook;
    RegFileChkBox->setEnabled(registry);
    SetEnabled({RegFileEdit, RegFileBtn}, registry && RegFileChkBox->isChecked());
    SetEnabled({StoreFolderLabel, StoreFolderEdit, StoreFolderBtn}, Source() == srcWindowsMail);
}

void TOEOutlookImportDlg::RegFileBtnClick()
{
    const QString chosen = ChooseRegFile(RegFileEdit->text());
    if (!chosen.isEmpty())
        RegFileEdit->setText(chosen);
}

void TOEOutlookImportDlg::StoreFolderBtnClick()
{
    const QString chosen = ChooseStoreFolder(StoreFolderEdit->text());
    if (!chosen.isEmpty())
        StoreFolderEdit->setText(chosen);
}

// --- moving through the pages ---

void TOEOutlookImportDlg::showPage(int page)
{
    NB->setCurrentIndex(page);
    NBPageChanged();
}

bool TOEOutlookImportDlg::checkSourceFiles()
{
    const TSource source = Source();
    if ((source == srcOutlookExpress || source == srcOutlook) && RegFileChkBox->isChecked()) {
        const QString path = RegFileEdit->text().trimmed();
        if (path.isEmpty()) {
            ErrorBox(kNoRegFileText);
            RegFileEdit->setFocus();
            return false;
        }
        QString error;
        std::unique_ptr<TOutlookExpress> reader;
        {
            const TBusyCursor busy;
            reader = TOutlookExpress::FromRegFile(path, &error);
        }
        if (!reader) {
            ErrorBox(error);
            RegFileEdit->setFocus();
            return false;
        }
        reader->AcceptSecure = true;
        m_fileReader = std::move(reader);
    }
    if (source == srcWindowsMail) {
        const QString folder = StoreFolderEdit->text().trimmed();
        if (folder.isEmpty() || !readableFolder(folder)) {
            ErrorBox(folder.isEmpty() ? kNoStoreFolderText : kUnreadableFolderText.arg(folder));
            StoreFolderEdit->setFocus();
            return false;
        }
    }
    return true;
}

bool TOEOutlookImportDlg::checkPage(int page)
{
    switch (page) {
    case pgStart:
        return checkSourceFiles();
    case pgAccounts:
        for (int i = 0; i < AccountSelectLB->count(); ++i)
            if (AccountSelectLB->item(i)->checkState() == Qt::Checked)
                return true;
        ErrorBox(kChooseAccountText);
        return false;
    case pgPasswords:
        for (int i = 0; i < AccountsLV->topLevelItemCount(); ++i)
            if (AccountsLV->topLevelItem(i)->text(1).isEmpty()) {
                ErrorBox(kMissingPasswordText);
                return false;
            }
        return true;
    default:
        return true;
    }
}

void TOEOutlookImportDlg::NextBtnClick()
{
    int current = CurrentPage();
    if (current == pgMozProfile) {
        if (MozFoldersCB->currentIndex() < 0 || MozProfilesCB->currentIndex() < 0) {
            ErrorBox(kChooseProfileText);
            return;
        }
        // The profile's accounts are read on the account page, which is then checked as if left.
        showPage(pgAccounts);
        current = pgAccounts;
    }
    if (current == pgFinish) {
        accept();
        return;
    }
    if (checkPage(current))
        showPage(current + 1);
}

void TOEOutlookImportDlg::PrevBtnClick()
{
    const int current = CurrentPage();
    if (current == pgStart)
        return;
    // The pages that sources pass on to lead back to the start; so does the first page after it.
    showPage(current == pgAccounts || current == pgMozProfile ? pgStart : current - 1);
}

void TOEOutlookImportDlg::NBPageChanged()
{
    const int current = CurrentPage();
    if (current == pgIdentity && Source() != srcOutlookExpress) {
        showPage(Source() == srcMozilla ? pgMozProfile : pgAccounts);
        return;
    }
    NextBtn->setText(current == pgFinish ? kWizardFinishCaption : kWizardNextCaption);
    switch (current) {
    case pgStart:
        PrevBtn->setEnabled(false);
        NextBtn->setEnabled(true);
        break;
    case pgIdentity: {
        PrevBtn->setEnabled(true);
        NextBtn->setEnabled(true);
        IdentitesCB->clear();
        for (const TOEIdentityItem &item : registryReader().Identities)
            IdentitesCB->addItem(item.Identity.UserName, item.Identity.UserID);
        if (IdentitesCB->count() == 0) {
            NextBtn->setEnabled(false);
            ErrorBox(kNoIdentitiesText);
        } else {
            IdentitesCB->setCurrentIndex(0);
        }
        break;
    }
    case pgAccounts:
        readAccounts();
        PrevBtn->setEnabled(true);
        NextBtn->setEnabled(!m_found.isEmpty());
        if (m_found.isEmpty())
            ErrorBox(kNoAccountsFoundText);
        break;
    case pgPasswords:
        fillPasswordList();
        PrevBtn->setEnabled(true);
        break;
    case pgFinish:
        PrevBtn->setEnabled(false);
        break;
    case pgMozProfile: {
        m_found.clear();
        AccountSelectLB->clear();
        m_moz->FindProfileFolders();
        PrevBtn->setEnabled(true);
        NextBtn->setEnabled(true);
        {
            const QSignalBlocker quietFolders(MozFoldersCB);
            const QSignalBlocker quietProfiles(MozProfilesCB);
            MozFoldersCB->clear();
            MozFoldersCB->addItems(m_moz->ProfileFolders);
            MozProfilesCB->clear();
        }
        if (MozFoldersCB->count() > 0)
            MozFoldersCBChange();
        break;
    }
    default:
        break;
    }
}

void TOEOutlookImportDlg::readAccounts()
{
    m_found.clear();
    AccountSelectLB->clear();
    switch (Source()) {
    case srcOutlookExpress:
        registryReader().GetOEAccounts(IdentitesCB->currentData().toString(), m_found);
        break;
    case srcOutlook:
        registryReader().GetOutlookAccounts(m_found);
        break;
    case srcWindowsMail:
        TWindowsMail(StoreFolderEdit->text().trimmed()).GetAccounts(m_found);
        break;
    case srcMozilla: {
        const int profile = MozProfilesCB->currentIndex();
        if (MozFoldersCB->currentIndex() >= 0 && profile >= 0 && profile < m_moz->Profiles.size())
            m_moz->GetAccounts(m_moz->ProfileFolder(MozFoldersCB->currentText(), m_moz->Profiles.at(profile)), m_found);
        break;
    }
    case srcEvolution:
        m_evolution->GetAccounts(m_found);
        break;
    case srcKMail:
        m_kmail->GetAccounts(m_found);
        break;
    }
    for (const TOEAccountItem &item : m_found) {
        auto *line = new QListWidgetItem(item.Text, AccountSelectLB);
        line->setFlags(line->flags() | Qt::ItemIsUserCheckable);
        line->setCheckState(Qt::Checked);
    }
}

void TOEOutlookImportDlg::fillPasswordList()
{
    AccountsLV->clear();
    for (int i = 0; i < AccountSelectLB->count() && i < m_found.size(); ++i) {
        if (AccountSelectLB->item(i)->checkState() != Qt::Checked)
            continue;
        // A password typed before counts no more: the list asks for all of them anew.
        m_found[i].MailBox.POP3Password.clear();
        auto *row = new QTreeWidgetItem(AccountsLV, {m_found.at(i).MailBox.DisplayName, QString()});
        row->setData(0, Qt::UserRole, i);
    }
    if (AccountsLV->topLevelItemCount() > 0)
        AccountsLV->setCurrentItem(AccountsLV->topLevelItem(0));
}

void TOEOutlookImportDlg::MozFoldersCBChange()
{
    {
        const QSignalBlocker quiet(MozProfilesCB);
        MozProfilesCB->clear();
    }
    if (MozFoldersCB->count() == 0) {
        NextBtn->setEnabled(false);
        return;
    }
    if (MozFoldersCB->currentIndex() < 0) {
        const QSignalBlocker quiet(MozFoldersCB);
        MozFoldersCB->setCurrentIndex(0);
    }
    NextBtn->setEnabled(MozFoldersCB->currentIndex() >= 0);
    MozProfilesCBChange();
}

void TOEOutlookImportDlg::MozProfilesCBChange()
{
    NextBtn->setEnabled(false);
    if (MozFoldersCB->currentIndex() < 0)
        return;
    if (MozProfilesCB->count() == 0) {
        m_moz->ReadProfiles(MozFoldersCB->currentText());
        const QSignalBlocker quiet(MozProfilesCB);
        for (const TMozProfile &p : m_moz->Profiles)
            MozProfilesCB->addItem(p.Name);
        if (MozProfilesCB->count() == 0)
            return;
        MozProfilesCB->setCurrentIndex(0);
    }
    NextBtn->setEnabled(MozProfilesCB->currentIndex() >= 0);
}

void TOEOutlookImportDlg::SelectAllBtnClick()
{
    for (int i = 0; i < AccountSelectLB->count(); ++i)
        AccountSelectLB->item(i)->setCheckState(Qt::Checked);
}

void TOEOutlookImportDlg::DeselectAllBtnClick()
{
    for (int i = 0; i < AccountSelectLB->count(); ++i)
        AccountSelectLB->item(i)->setCheckState(Qt::Unchecked);
}

void TOEOutlookImportDlg::AccountsLVDblClick()
{
    QTreeWidgetItem *row = AccountsLV->currentItem();
    if (!row)
        return;
    const int line = row->data(0, Qt::UserRole).toInt();
    if (line < 0 || line >= m_found.size())
        return;
    TOEMailBox &box = m_found[line].MailBox;
    TImportPasswordDlg ask(box.DisplayName, box.POP3UserName, this);
    if (ask.exec() != QDialog::Accepted || ask.Password().isEmpty())
        return;
    box.POP3Password = ask.Password();
    // One star per character the user typed, however many code units it takes.
    row->setText(1, QString(box.POP3Password.toUcs4().size(), QLatin1Char('*')));
}
