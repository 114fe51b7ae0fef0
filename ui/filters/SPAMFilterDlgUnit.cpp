#include "SPAMFilterDlgUnit.h"

#include "CheckBoxGrid.h"
#include "FilterRuleDlgUnit.h"
#include "FilterRules.h"
#include "ListGrid.h"
#include "MsgBox.h"
#include "QuarvelIcons.h"

#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString kDuplicateFilter = QStringLiteral("Der Spam-Filter existiert bereits.");
const QString kDeleteQuestion = QStringLiteral("Möchten Sie den Filter \"%1\" wirklich entfernen?");

} // namespace

TFilterPage::TFilterPage(TPageKind kind, QWidget *parent)
    : QWidget(parent), m_kind(kind), m_grid(new TCheckBoxGrid(this)),
      m_addBtn(new QPushButton(QStringLiteral("Hinzufügen"), this)),
      m_changeBtn(new QPushButton(QStringLiteral("Ändern"), this)),
      m_deleteBtn(new QPushButton(QStringLiteral("Löschen"), this)), m_count(new QLabel(this))
{
    const bool subjects = kind == SubjectRules;
    const QStringList titles = subjects ? QStringList{QStringLiteral("Vergleichsoperation"),
                                                      QStringLiteral("Betreff der E-Mail/Teil des Betreffs")}
                                        : QStringList{QStringLiteral("Mailheader-Feld"),
                                                      QStringLiteral("Vergleichsoperation"), QStringLiteral("Inhalt")};
    SetUpListGrid(m_grid, titles, subjects ? QList<int>{210, 300} : QList<int>{170, 190, 200});

    m_addBtn->setToolTip(subjects ? QStringLiteral("Betreff hinzufügen.") : QStringLiteral("Eintrag hinzufügen."));
    m_changeBtn->setToolTip(subjects ? QStringLiteral("Betreff bearbeiten.") : QStringLiteral("Eintrag bearbeiten."));
    m_deleteBtn->setToolTip(subjects ? QStringLiteral("Löscht den Betreff.") : QStringLiteral("Löscht den Eintrag."));
    for (QPushButton *b : {m_addBtn, m_changeBtn, m_deleteBtn})
        b->setAutoDefault(false);
    connect(m_addBtn, &QPushButton::clicked, this, &TFilterPage::AddBtnClick);
    connect(m_changeBtn, &QPushButton::clicked, this, &TFilterPage::ChangeBtnClick);
    connect(m_deleteBtn, &QPushButton::clicked, this, &TFilterPage::DeleteBtnClick);

    m_grid->OnSetChecked = [this](TCheckBoxGrid *, int, int row, bool state) {
        if (TSimpleFilter *rule = RuleAt(row))
            rule->Active = state;
    };
    m_grid->OnCellDblClick = [this](TCheckBoxGrid *, int, int) {
        if (m_changeBtn->isEnabled())
            ChangeBtnClick();
    };
    connect(m_grid->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { updateButtons(); });
    connect(m_grid->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { updateButtons(); });
    if (!subjects)
        m_grid->installEventFilter(this);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_grid, 1);
    auto *row = new QHBoxLayout;
    row->addWidget(m_addBtn);
    row->addWidget(m_changeBtn);
    row->addWidget(m_deleteBtn);
    row->addStretch(1);
    row->addWidget(m_count);
    layout->addLayout(row);
    ruleListChanged();
}

TFilterPage::~TFilterPage()
{
    // The grid refers to the rules; it goes first.
    delete m_grid;
}

TSimpleFilter *TFilterPage::RuleAt(int row) const
{
    if (row < 1 || row >= m_grid->RowCount())
        return nullptr;
    return m_grid->CellObject<TSimpleFilter>(0, row);
}

int TFilterPage::AppendRule(const TSimpleFilter &rule)
{
    int row = 1;
    if (!m_rules.empty()) {
        row = m_grid->RowCount();
        m_grid->SetRowCount(row + 1);
    }
    m_rules.push_back(std::make_unique<TSimpleFilter>(rule));
    m_grid->SetCellObject(0, row, m_rules.back().get());
    m_grid->SetImageIndex(0, row, liFilter);
    showRule(row);
    m_grid->SetChecked(0, row, rule.Active);
    ruleListChanged();
    return row;
}

QList<TSimpleFilter> TFilterPage::Rules() const
{
    QList<TSimpleFilter> out;
    for (int row = 1; row < m_grid->RowCount(); ++row)
        if (const TSimpleFilter *rule = RuleAt(row))
            out.append(*rule);
    return out;
}

void TFilterPage::showRule(int row)
{
    const TSimpleFilter *rule = RuleAt(row);
    if (!rule)
        return;
    if (m_kind == SubjectRules) {
        m_grid->SetCell(0, row, SubjectOperationText(rule->Operation));
        m_grid->SetCell(1, row, rule->Text);
    } else {
        m_grid->SetCell(0, row, rule->HeaderField);
        m_grid->SetCell(1, row, HeaderOperationText(rule->Operation));
        m_grid->SetCell(2, row, rule->Text);
    }
}

void TFilterPage::ruleListChanged()
{
    m_count->setText(QStringLiteral("%1 Filter festgelegt.").arg(RuleCount()));
    updateButtons();
}

int TFilterPage::selectedRuleRow() const
{
    const int row = m_grid->Row();
    return m_grid->SelCount() > 0 && RuleAt(row) ? row : -1;
}

void TFilterPage::updateButtons()
{
    const bool selected = selectedRuleRow() > 0;
    m_changeBtn->setEnabled(selected);
    m_deleteBtn->setEnabled(selected);
}

void TFilterPage::AddBtnClick()
{
    if (m_kind == SubjectRules) {
        TSubjectFilterDlg dlg(true, this);
        dlg.SetValues(foEquals, QString());
        if (dlg.exec() == QDialog::Accepted)
            AddSubjectRule(dlg.Operation(), dlg.Text());
    } else {
        THeaderFieldFilterDlg dlg(this);
        dlg.SetValues(QStringLiteral("From"), foEquals, QString());
        if (dlg.exec() == QDialog::Accepted)
            AddHeaderFieldRule(dlg.FieldName(), dlg.Operation(), dlg.Text());
    }
}

QList<const TSimpleFilter *> TFilterPage::listedRules() const
{
    QList<const TSimpleFilter *> listed;
    for (const auto &r : m_rules)
        listed.append(r.get());
    return listed;
}

bool TFilterPage::AddSubjectRule(int operation, const QString &text)
{
    if (IsDuplicateSubjectFilter(listedRules(), operation, text)) {
        ErrorBox(kDuplicateFilter);
        return false;
    }
    AppendRule(NewSubjectFilter(operation, text));
    m_grid->ClearSortMarkers();
    return true;
}

bool TFilterPage::AddHeaderFieldRule(const QString &field, int operation, const QString &text)
{
    if (IsDuplicateHeaderFilter(listedRules(), field, operation, text)) {
        ErrorBox(kDuplicateFilter);
        return false;
    }
    m_grid->SetRow(AppendRule(NewHeaderFieldFilter(field, operation, text)));
    m_grid->ClearSortMarkers();
    return true;
}

void TFilterPage::ChangeBtnClick()
{
    const int row = selectedRuleRow();
    const TSimpleFilter *rule = RuleAt(row);
    if (!rule)
        return;
    if (m_kind == SubjectRules) {
        TSubjectFilterDlg dlg(true, this);
        dlg.SetValues(rule->Operation, rule->Text);
        if (dlg.exec() == QDialog::Accepted)
            ChangeRule(row, QString(), dlg.Operation(), dlg.Text());
    } else {
        THeaderFieldFilterDlg dlg(this);
        dlg.SetValues(rule->HeaderField, rule->Operation, rule->Text);
        if (dlg.exec() == QDialog::Accepted)
            ChangeRule(row, dlg.FieldName(), dlg.Operation(), dlg.Text());
    }
}

void TFilterPage::ChangeRule(int row, const QString &field, int operation, const QString &text)
{
    TSimpleFilter *rule = RuleAt(row);
    if (!rule)
        return;
    if (m_kind == HeaderFieldRules)
        rule->HeaderField = field;
    if (operation >= 0)
        rule->Operation = uint8_t(operation);
    rule->Text = text;
    showRule(row);
    m_grid->ClearSortMarkers();
}

void TFilterPage::DeleteBtnClick()
{
    const int row = selectedRuleRow();
    if (row > 0)
        DeleteRule(row);
}

bool TFilterPage::DeleteRule(int row)
{
    const TSimpleFilter *rule = RuleAt(row);
    if (!rule)
        return false;
    const QString name = m_kind == SubjectRules ? rule->Text : rule->HeaderField;
    if (!YesNoQuestion(kDeleteQuestion.arg(name)))
        return false;
    if (m_rules.size() == 1)
        m_grid->ClearGrid();
    else
        m_grid->DeleteRow(row);
    std::erase_if(m_rules, [rule](const std::unique_ptr<TSimpleFilter> &r) { return r.get() == rule; });
    ruleListChanged();
    return true;
}

bool TFilterPage::eventFilter(QObject *watched, QEvent *event)
{
    // The header page's keys: Insert adds, Delete deletes, Enter changes.
    if (watched == m_grid && event->type() == QEvent::KeyPress) {
        QPushButton *button = nullptr;
        switch (static_cast<QKeyEvent *>(event)->key()) {
        case Qt::Key_Insert:
            button = m_addBtn;
            break;
        case Qt::Key_Delete:
            button = m_deleteBtn;
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            button = m_changeBtn;
            break;
        default:
            break;
        }
        if (button) {
            if (button->isEnabled())
                button->click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// --- the dialog ---

TSPAMFilterDlg::TSPAMFilterDlg(const TFilterList &rules, QWidget *parent)
    : QDialog(parent), m_pages(new QTabWidget(this)), m_subjects(new TFilterPage(TFilterPage::SubjectRules, this)),
      m_headers(new TFilterPage(TFilterPage::HeaderFieldRules, this)),
      m_okBtn(new QPushButton(QStringLiteral("OK"), this)),
      m_cancelBtn(new QPushButton(QStringLiteral("Abbrechen"), this))
{
    setWindowTitle(QStringLiteral("Konfiguration des Spam-Filters"));
    setModal(true);
    m_pages->addTab(m_subjects, QStringLiteral("Anhand des Betreffs einer E-Mail"));
    m_pages->addTab(m_headers, QStringLiteral("Anhand von Header-Feldern einer E-Mail"));
    for (const TSimpleFilter *rule : rules) {
        if (!rule)
            continue;
        if (rule->Kind == fkSubject)
            m_subjects->AppendRule(*rule);
        else if (rule->Kind == fkHeaderField)
            m_headers->AppendRule(*rule);
        else
            m_otherRules.append(*rule);
    }
    // Filling selected nothing: the pages start without a chosen rule.
    for (TFilterPage *page : {m_subjects, m_headers})
        page->Grid()->clearSelection();
    m_pages->setCurrentWidget(m_subjects);

    m_okBtn->setDefault(true);
    connect(m_okBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_pages, 1);
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(m_okBtn);
    row->addWidget(m_cancelBtn);
    layout->addLayout(row);
    resize(620, 420);
}

QList<TSimpleFilter> TSPAMFilterDlg::Rules() const
{
    return m_subjects->Rules() + m_headers->Rules() + m_otherRules;
}
