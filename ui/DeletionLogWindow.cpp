#include "DeletionLogWindow.h"

#include "DateFormat.h"
#include "MailClientLaunch.h"
#include "MessageListUnit.h"
#include "MsgBox.h"
#include "RegistrySettingsUnit.h"
#include "RescueCopies.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QAbstractTableModel>
#include <QTableView>
#include <QVBoxLayout>

namespace {

constexpr int kSearchRole = Qt::UserRole + 1; // what the search looks at: sender and subject

const char *const kTitles[TDeletionLogWindow::kColumns] = {"Zeit",  "Postfach", "Absender", "Betreff",  "Datum",
                                                           "Größe", "Art",      "Regel",    "Ergebnis", "Kopie"};
const int kWidths[TDeletionLogWindow::kColumns] = {130, 150, 200, 240, 130, 60, 90, 220, 220, 140};

QString senderText(const TDeletionRecord &r)
{
    return AddressText({r.SenderName, r.SenderAddress});
}

QString outcomeText(const TDeletionRecord &r)
{
    const QString outcome = DeletionOutcomeText(r.Outcome);
    return r.Reason.isEmpty() ? outcome : outcome + QStringLiteral(": ") + r.Reason;
}

// A file name made of the subject: the characters a file name cannot hold, and line breaks, go.
QString proposedFileName(const TDeletionRecord &r)
{
    QString name = r.Subject.simplified();
    static const QString kForbidden = QStringLiteral("/\\:*?\"<>|");
    for (QChar &c : name)
        if (kForbidden.contains(c) || c.unicode() < 0x20)
            c = QLatin1Char('_');
    if (name.isEmpty())
        name = QStringLiteral("E-Mail");
    return name.left(80) + QStringLiteral(".eml");
}

QString chooseSaveFileDialog(QWidget *parent, const QString &proposed)
{
    return QFileDialog::getSaveFileName(parent, QStringLiteral("E-Mail speichern unter"),
                                        QDir::home().filePath(proposed), QStringLiteral("E-Mails (*.eml)"));
}

} // namespace

// The records as the list shows them; a cell's text is made when the view asks for it, so a log of
// twenty thousand records costs no item objects.
class TDeletionLogModel : public QAbstractTableModel {
public:
    TDeletionLogModel(std::function<QString(const TDeletionRecord &)> copyText, QObject *parent)
        : QAbstractTableModel(parent), m_copyText(std::move(copyText))
    {
    }

    void SetRecords(QList<TDeletionRecord> records)
    {
        beginResetModel();
        m_records = std::move(records);
        endResetModel();
    }
    const QList<TDeletionRecord> &Records() const { return m_records; }

    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(m_records.size()); }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : TDeletionLogWindow::kColumns;
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < columnCount())
            return QString::fromUtf8(kTitles[section]);
        return QVariant();
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= m_records.size())
            return QVariant();
        const TDeletionRecord &r = m_records.at(index.row());
        if (role == kSearchRole)
            return senderText(r) + QLatin1Char('\n') + r.Subject;
        if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
            return QVariant();
        switch (index.column()) {
        case TDeletionLogWindow::colTime:
            return ShortDateLongTime(r.Time);
        case TDeletionLogWindow::colAccount:
            return r.Account;
        case TDeletionLogWindow::colSender:
            return senderText(r);
        case TDeletionLogWindow::colSubject:
            return r.Subject;
        case TDeletionLogWindow::colDate:
            return r.Date.isValid() ? ShortDateLongTime(r.Date) : QString();
        case TDeletionLogWindow::colSize:
            return SizeText(r.Size);
        case TDeletionLogWindow::colHow:
            return DeletionHowText(r.How);
        case TDeletionLogWindow::colRule:
            return r.RuleShown.isEmpty() ? QStringLiteral("von Hand") : r.RuleShown;
        case TDeletionLogWindow::colOutcome:
            return outcomeText(r);
        case TDeletionLogWindow::colCopy:
            return m_copyText(r);
        default:
            return QVariant();
        }
    }

private:
    std::function<QString(const TDeletionRecord &)> m_copyText;
    QList<TDeletionRecord> m_records;
};

// --- the restore choice ---

TRestoreDlg::TRestoreDlg(const QString &subject, QWidget *parent)
    : QDialog(parent), m_open(new QPushButton(QStringLiteral("Mit dem E-Mail-Programm öffnen"), this)),
      m_save(new QPushButton(QStringLiteral("Speichern unter..."), this))
{
    setWindowTitle(QStringLiteral("Wiederherstellen"));
    setModal(true);
    auto *text = new QLabel(QStringLiteral("Die aufbewahrte Kopie der E-Mail \"%1\" können Sie mit Ihrem "
                                           "E-Mail-Programm öffnen oder als Datei speichern.")
                                .arg(subject),
                            this);
    text->setWordWrap(true);
    auto *cancel = new QPushButton(QStringLiteral("Abbrechen"), this);
    m_open->setDefault(true);
    connect(m_open, &QPushButton::clicked, this, [this] {
        Choice = OpenWithMailProgram;
        accept();
    });
    connect(m_save, &QPushButton::clicked, this, [this] {
        Choice = SaveAs;
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_open);
    buttons->addWidget(m_save);
    buttons->addWidget(cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addLayout(buttons);
    setMinimumWidth(420);
}

// --- the window ---

TDeletionLogWindow::TDeletionLogWindow(TDeletionLog &log, QString rescueFolder, QWidget *parent)
    : QWidget(parent, Qt::Window), m_log(&log), m_rescueFolder(std::move(rescueFolder)),
      m_search(new QLineEdit(this)), m_table(new QTableView(this)),
      m_filter(new QSortFilterProxyModel(this)), m_count(new QLabel(this)),
      m_editRule(new QPushButton(QStringLiteral("Regel bearbeiten…"), this)),
      m_restore(new QPushButton(QStringLiteral("Wiederherstellen…"), this)),
      m_neverSpam(new QPushButton(QStringLiteral("Absender nie als Spam"), this)),
      m_close(new QPushButton(QStringLiteral("Schließen"), this)), m_placement(this)
{
    setWindowTitle(kDeletionLogCaption);
    ChooseSaveFile = [this](const QString &proposed) { return chooseSaveFileDialog(this, proposed); };

    m_search->setPlaceholderText(QStringLiteral("Absender oder Betreff suchen"));
    m_search->setClearButtonEnabled(true);
    m_model = new TDeletionLogModel(
        [this](const TDeletionRecord &r) {
            if (!r.CopyFile.isEmpty())
                return CopyPath(r).isEmpty() ? QStringLiteral("nicht mehr vorhanden") : QStringLiteral("vorhanden");
            return r.CopyNote;
        },
        this);
    m_filter->setSourceModel(m_model);
    m_filter->setFilterKeyColumn(colTime);
    m_filter->setFilterRole(kSearchRole);
    m_filter->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_table->setModel(m_filter);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->horizontalHeader()->setHighlightSections(false);
    for (int c = 0; c < kColumns; ++c)
        m_table->setColumnWidth(c, kWidths[c]);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);

    connect(m_search, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_filter->setFilterFixedString(text);
        updateCount();
        updateButtons();
    });
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { updateButtons(); });
    // A double click is the way back of a copy: the row, then the choice.
    connect(m_table, &QAbstractItemView::doubleClicked, this, [this] {
        if (m_restore->isEnabled())
            RestoreBtnClick();
    });
    connect(m_table, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        const QModelIndex at = m_table->indexAt(pos);
        if (!at.isValid())
            return;
        SetCurrentRow(at.row());
        QMenu menu(this);
        for (QPushButton *b : {m_editRule, m_restore, m_neverSpam})
            menu.addAction(b->text(), b, &QPushButton::click)->setEnabled(b->isEnabled());
        menu.exec(m_table->viewport()->mapToGlobal(pos));
    });
    connect(m_editRule, &QPushButton::clicked, this, &TDeletionLogWindow::EditRuleBtnClick);
    connect(m_restore, &QPushButton::clicked, this, &TDeletionLogWindow::RestoreBtnClick);
    connect(m_neverSpam, &QPushButton::clicked, this, &TDeletionLogWindow::NeverSpamBtnClick);
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);

    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Suchen:"), this));
    top->addWidget(m_search, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_editRule);
    buttons->addWidget(m_restore);
    buttons->addWidget(m_neverSpam);
    buttons->addStretch(1);
    buttons->addWidget(m_count);
    buttons->addWidget(m_close);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_table, 1);
    layout->addLayout(buttons);
    resize(980, 480);
    m_placement.InifileName = kProgramKey;
    m_placement.SectionName = QStringLiteral("DeletionLogWindowPosition");
    m_placement.AllowMaximized = true;
    m_placement.RestorePlacement();
    Reload();
}

void TDeletionLogWindow::SetLog(TDeletionLog &log, const QString &rescueFolder)
{
    m_log = &log;
    m_rescueFolder = rescueFolder;
    Reload();
}

void TDeletionLogWindow::Reload()
{
    const TDeletionRecord *current = CurrentRecord();
    const qint64 currentId = current ? current->Id : 0;
    m_model->SetRecords(m_log->Records());
    updateCount();
    updateButtons();
    for (int row = 0; currentId != 0 && row < RowCount(); ++row)
        if (RecordAt(row)->Id == currentId)
            SetCurrentRow(row);
    if (isVisible())
        m_log->MarkSeen();
}

void TDeletionLogWindow::updateCount()
{
    m_count->setText(QStringLiteral("%1 von %2 Einträgen").arg(RowCount()).arg(m_model->rowCount()));
}

int TDeletionLogWindow::RowCount() const
{
    return m_filter->rowCount();
}

const TDeletionRecord *TDeletionLogWindow::RecordAt(int row) const
{
    const QModelIndex index = m_filter->mapToSource(m_filter->index(row, colTime));
    return index.isValid() ? &m_model->Records().at(index.row()) : nullptr;
}

QString TDeletionLogWindow::CellText(int row, int column) const
{
    return m_filter->index(row, column).data().toString();
}

const TDeletionRecord *TDeletionLogWindow::CurrentRecord() const
{
    const QModelIndex current = m_table->selectionModel()->currentIndex();
    return current.isValid() && m_table->selectionModel()->isRowSelected(current.row(), QModelIndex())
               ? RecordAt(current.row())
               : nullptr;
}

void TDeletionLogWindow::SetCurrentRow(int row)
{
    const QModelIndex index = m_filter->index(row, colTime);
    if (!index.isValid())
        return;
    m_table->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                          QItemSelectionModel::Rows);
    m_table->scrollTo(index);
}

QString TDeletionLogWindow::CopyPath(const TDeletionRecord &record) const
{
    if (record.CopyFile.isEmpty())
        return QString();
    const QString path = m_rescueFolder + record.CopyFile;
    return QFileInfo(path).isFile() ? path : QString();
}

void TDeletionLogWindow::SetRuleCommandsEnabled(bool on)
{
    m_ruleCommands = on;
    updateButtons();
}

void TDeletionLogWindow::updateButtons()
{
    const TDeletionRecord *r = CurrentRecord();
    m_editRule->setEnabled(m_ruleCommands && r && !r->RuleShown.isEmpty());
    m_restore->setEnabled(r && !CopyPath(*r).isEmpty());
    m_neverSpam->setEnabled(m_ruleCommands && r && !r->SenderAddress.isEmpty());
}

void TDeletionLogWindow::EditRuleBtnClick()
{
    const TDeletionRecord *r = CurrentRecord();
    if (r && m_editRule->isEnabled() && OnEditRule)
        OnEditRule(TDeletionRecord(*r));
}

void TDeletionLogWindow::NeverSpamBtnClick()
{
    const TDeletionRecord *r = CurrentRecord();
    if (r && m_neverSpam->isEnabled() && OnNeverSpam)
        OnNeverSpam(TDeletionRecord(*r));
}

void TDeletionLogWindow::RestoreBtnClick()
{
    const TDeletionRecord *current = CurrentRecord();
    if (!current)
        return;
    // A copy of the record: the log may be read again while the dialogs are open.
    const TDeletionRecord r = *current;
    const QString path = CopyPath(r);
    if (path.isEmpty()) {
        ErrorBox(QStringLiteral("Von dieser E-Mail gibt es keine Kopie mehr. Kopien werden %1 Tage aufbewahrt.")
                     .arg(kRescueDays));
        updateButtons();
        return;
    }
    TRestoreDlg choice(r.Subject, this);
    if (choice.exec() != QDialog::Accepted)
        return;
    if (choice.Choice == TRestoreDlg::OpenWithMailProgram) {
        if (!OpenInMailProgram || !OpenInMailProgram(path))
            ErrorBox(kMailClientErrorText);
        return;
    }
    const QString target = ChooseSaveFile ? ChooseSaveFile(proposedFileName(r)) : QString();
    if (target.isEmpty())
        return;
    // The file dialog has asked before an existing file is replaced.
    if (QFileInfo::exists(target) && QFileInfo(target).canonicalFilePath() != QFileInfo(path).canonicalFilePath())
        QFile::remove(target);
    QFile copy(path);
    if (!copy.copy(target))
        ErrorBox(QStringLiteral("Die E-Mail konnte nicht gespeichert werden: %1").arg(copy.errorString()));
}

void TDeletionLogWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_log->MarkSeen();
}

void TDeletionLogWindow::closeEvent(QCloseEvent *event)
{
    m_placement.SavePlacement();
    QWidget::closeEvent(event);
}
