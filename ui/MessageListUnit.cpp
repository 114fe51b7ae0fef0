#include "MessageListUnit.h"

#include "CheckBoxGrid.h"
#include "DateFormat.h"

#include <QScrollBar>
#include "ListGrid.h"
#include "QuarvelIcons.h"

#include <QItemSelectionModel>
#include <QMetaObject>

#include <algorithm>

namespace {

constexpr int kSizeCol = 4;
const char *const kTitles[TMessageListView::kColumns] = {"Von", "An", "Betreff", "Erhalten", "Größe", "Postfach"};

} // namespace

QString SizeText(qint64 size)
{
    if (size < 100)
        return QString::number(size) + QStringLiteral(" Byte");
    if (size <= 1048576)
        return QString::number(size / 1024) + QStringLiteral(" KB");
    if (size <= 1073741824)
        return QString::number(size / 1048576) + QStringLiteral(" MB");
    return QString::number(size / 1073741824) + QStringLiteral(" GB");
}

QString AddressText(const TMailAddress &a)
{
    if (a.Name.isEmpty())
        return a.Address;
    return a.Name + QStringLiteral(" <") + a.Address + QLatin1Char('>');
}

TMessageListView::TMessageListView(QWidget *parent) : QObject(parent), m_grid(new TCheckBoxGrid(parent))
{
    QStringList titles;
    for (const char *title : kTitles)
        titles << QString::fromUtf8(title);
    SetUpListGrid(m_grid, titles, {180, 140, 240, 130, 60, 160});
    m_grid->SetColumnClick(true);
    m_grid->SetShowCellHints(true);

    m_grid->OnSetChecked = [this](TCheckBoxGrid *, int, int, bool) {
        if (OnCheckChanged)
            OnCheckChanged();
    };
    m_grid->OnCellDblClick = [this](TCheckBoxGrid *, int, int row) {
        if (IsEmpty() || row < 1)
            return;
        m_grid->SetChecked(0, row, !m_grid->GetChecked(0, row));
    };
    m_grid->OnGetColDataType = [](TCheckBoxGrid *, int col, TColDataTypes &type, QString &) {
        type = col == kSizeCol ? cdtUser : cdtString;
    };
    // The size column compares the sizes, not the texts ("10 KB" would sort before "2 KB").
    m_grid->OnGetColSortResult = [](TCheckBoxGrid *g, int, int row1, int, int row2, int &result) {
        const auto *a = g->CellObject<TMailEntry>(0, row1);
        const auto *b = g->CellObject<TMailEntry>(0, row2);
        const qint64 sa = a ? a->Size : 0, sb = b ? b->Size : 0;
        result = sa < sb ? -1 : (sa > sb ? 1 : 0);
    };
    m_grid->OnShowHintCell = [this](TCheckBoxGrid *g, int col, int row, QString &hint, bool &canShow,
                                    TCheckBoxGrid::THintInfo &) {
        canShow = !IsEmpty() && row >= 1 && g->IsCellTextCut(col, row);
        hint = canShow ? g->Cell(col, row) : QString();
    };
    m_grid->OnColWidthsChanged = [this](TCheckBoxGrid *) {
        if (!m_applyingWidths && OnColumnWidthsChanged)
            OnColumnWidthsChanged(ColumnWidths());
    };
    QObject::connect(m_grid, &QAbstractItemView::clicked, this, [this](const QModelIndex &) {
        if (OnCurrentRowClicked)
            OnCurrentRowClicked();
    });
    // The header pane must show the row the single-message commands act on.
    QObject::connect(m_grid->selectionModel(), &QItemSelectionModel::currentChanged, this,
                     [this] { CurrentRowMayHaveChanged(); });
    QAbstractItemModel *model = m_grid->model();
    QObject::connect(model, &QAbstractItemModel::modelReset, this, [this] { CurrentRowMayHaveChanged(); });
    QObject::connect(model, &QAbstractItemModel::layoutChanged, this, [this] { CurrentRowMayHaveChanged(); });
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, this, [this] { CurrentRowMayHaveChanged(); });
    QObject::connect(model, &QAbstractItemModel::rowsInserted, this, [this] { CurrentRowMayHaveChanged(); });
    QObject::connect(model, &QAbstractItemModel::dataChanged, this, [this] { CurrentRowMayHaveChanged(); });
    m_grid->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(m_grid, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        int col = -1, row = -1;
        if (!m_grid->MouseToCell(m_grid->viewport()->mapTo(m_grid, pos), col, row) || col < 0 || row < 1 || IsEmpty())
            return;
        if (OnContextMenu)
            OnContextMenu(row, m_grid->viewport()->mapToGlobal(pos));
    });
}

void TMessageListView::CurrentRowMayHaveChanged()
{
    if (m_currentChangePending)
        return;
    m_currentChangePending = true;
    QMetaObject::invokeMethod(this, [this] {
        m_currentChangePending = false;
        if (OnCurrentRowChanged)
            OnCurrentRowChanged();
    }, Qt::QueuedConnection);
}

void TMessageListView::FillList(const TMailList &list)
{
    ++m_generation;
    const bool updating = m_grid->BeginUpdate();
    m_grid->SetRowCount(2);
    m_grid->ClearGrid();
    int r = 0;
    for (TMailEntry *e : list) {
        ++r;
        m_grid->SetRowCount(r + 1);
        m_grid->SetCellObject(0, r, e);
        e->Row = r;
        const MailMessage &m = e->Message;
        m_grid->SetCell(0, r, AddressText(m.From));
        m_grid->SetCell(1, r, m.Recipients.isEmpty() ? QStringLiteral("Unbekannt") : AddressText(m.Recipients.first()));
        // A message whose header the server would not give is still shown, so that it can be looked at.
        m_grid->SetCell(2, r, e->HeaderUnreadable ? QStringLiteral("(Kopfzeilen nicht lesbar)") : m.Subject);
        m_grid->SetCell(3, r, ShortDateLongTime(m.Date));
        m_grid->SetCell(4, r, SizeText(e->Size) + QLatin1Char(' '));
        m_grid->SetCell(5, r, e->UserName + QLatin1Char('@') + e->Host);
        m_grid->SetImageIndex(0, r, e->State);
        m_grid->SetChecked(0, r, e->Checked);
    }
    if (updating)
        m_grid->EndUpdate();
    CurrentRowMayHaveChanged();
}

void TMessageListView::ClearList()
{
    ++m_generation;
    m_grid->ClearGrid();
    CurrentRowMayHaveChanged();
}

bool TMessageListView::IsEmpty() const
{
    return m_grid->IsEmpty();
}

int TMessageListView::MessageRows() const
{
    return IsEmpty() ? 0 : m_grid->RowCount() - 1;
}

TMailEntry *TMessageListView::EntryAt(int row) const
{
    if (IsEmpty() || row < 1 || row >= m_grid->RowCount())
        return nullptr;
    return m_grid->CellObject<TMailEntry>(0, row);
}

int TMessageListView::CurrentRow() const
{
    return m_grid->Row();
}

TMailEntry *TMessageListView::CurrentEntry() const
{
    const int row = CurrentRow();
    if (IsEmpty() || row < 1 || m_grid->Cell(0, row).isEmpty())
        return nullptr;
    return EntryAt(row);
}

bool TMessageListView::AnyChecked() const
{
    return !IsEmpty() && m_grid->AnyChecked();
}

int TMessageListView::CheckedCount() const
{
    return IsEmpty() ? 0 : m_grid->CheckedCount();
}

void TMessageListView::SetAllChecked(bool on)
{
    if (IsEmpty())
        return;
    for (int r = 1; r < m_grid->RowCount(); ++r)
        m_grid->SetChecked(0, r, on);
}

QList<TMailEntry *> TMessageListView::RowEntries() const
{
    QList<TMailEntry *> out;
    if (IsEmpty())
        return out;
    for (int r = 1; r < m_grid->RowCount(); ++r) {
        // A row without entry keeps its place, so list index + 1 stays the row number.
        TMailEntry *e = EntryAt(r);
        if (e) {
            e->Row = r;
            e->Checked = m_grid->GetChecked(0, r);
        }
        out.append(e);
    }
    return out;
}

void TMessageListView::DeleteRows(QList<int> rows)
{
    ++m_generation;
    std::sort(rows.begin(), rows.end());
    // From the bottom, so that the numbers of the rows still to go stay valid.
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        if (m_grid->RowCount() <= 2) {
            m_grid->ClearGrid();
            break;
        }
        m_grid->DeleteRow(*it);
    }
    CurrentRowMayHaveChanged();
}

void TMessageListView::DeleteEntryRows(const QList<TMailEntry *> &entries)
{
    QList<int> rows;
    for (int r = 1; r < m_grid->RowCount(); ++r)
        if (TMailEntry *e = EntryAt(r); e && entries.contains(e))
            rows.append(r);
    if (!rows.isEmpty())
        DeleteRows(rows);
}

void TMessageListView::SetReadOnly(bool on)
{
    m_readOnly = on;
    m_grid->SetColumnClick(!on);
}

void TMessageListView::MarkAsSpam(int row)
{
    TMailEntry *e = EntryAt(row);
    if (!e)
        return;
    e->State = msSpam;
    e->Checked = true;
    m_grid->SetImageIndex(0, row, msSpam);
    m_grid->SetChecked(0, row, true);
}

void TMessageListView::MarkSpamRows(const std::function<bool(const TMailEntry &)> &isSpam)
{
    for (int r = 1; r < m_grid->RowCount(); ++r) {
        const TMailEntry *e = EntryAt(r);
        if (e && isSpam(*e))
            MarkAsSpam(r);
    }
}

int TMessageListView::UnmarkSpamRows(const std::function<bool(const TMailEntry &)> &allowed)
{
    int unmarked = 0;
    for (int r = 1; r < m_grid->RowCount(); ++r) {
        TMailEntry *e = EntryAt(r);
        if (!e || e->State != msSpam || !allowed(*e))
            continue;
        e->State = msNormal;
        e->Checked = false;
        m_grid->SetImageIndex(0, r, msNormal);
        m_grid->SetChecked(0, r, false);
        ++unmarked;
    }
    return unmarked;
}

int TMessageListView::RowOf(const TMailEntry *entry) const
{
    if (!entry)
        return -1;
    for (int r = 1; r < m_grid->RowCount(); ++r)
        if (EntryAt(r) == entry)
            return r;
    return -1;
}

int TMessageListView::FullWidth() const
{
    int width = 0;
    for (int c = 0; c < kColumns; ++c)
        width += m_grid->ColWidth(c);
    // The frame, the lines between the columns, and room for the vertical scroll bar of a long list.
    return width + 2 * m_grid->frameWidth() + kColumns + m_grid->verticalScrollBar()->sizeHint().width();
}

QList<int32_t> TMessageListView::ColumnWidths() const
{
    QList<int32_t> w;
    for (int c = 0; c < kColumns; ++c)
        w.append(m_grid->ColWidth(c));
    return w;
}

void TMessageListView::ApplyColumnWidths(const QList<int32_t> &widths)
{
    m_applyingWidths = true;
    for (int c = 0; c < qMin(int(widths.size()), int(kColumns)); ++c)
        m_grid->SetColWidth(c, widths.at(c));
    m_applyingWidths = false;
}
