#include "CheckBoxGrid.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QDate>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyledItemDelegate>
#include <QTime>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <utility>

// ---------------------------------------------------------------------------------------------------
// Cell store

TGridCells::TGridCells(int colCount) : m_colCount(std::max(1, colCount))
{
    m_rows.resize(2, TRow(size_t(m_colCount)));
}

void TGridCells::SetRowCount(int count)
{
    count = std::max(2, count);
    m_rows.resize(size_t(count), TRow(size_t(m_colCount)));
}

void TGridCells::SetColCount(int count)
{
    m_colCount = std::max(1, count);
    for (TRow &row : m_rows)
        row.resize(size_t(m_colCount));
}

QString TGridCells::Text(int col, int row) const
{
    return IsCell(col, row) ? m_rows[size_t(row)][size_t(col)].Text : QString();
}

void TGridCells::SetText(int col, int row, const QString &text)
{
    if (IsCell(col, row))
        m_rows[size_t(row)][size_t(col)].Text = text;
}

const TCellPropertiesMyProperties *TGridCells::Properties(int col, int row) const
{
    if (!IsCell(col, row))
        return nullptr;
    const auto &props = m_rows[size_t(row)][size_t(col)].Props;
    return props ? &*props : nullptr;
}

TCellPropertiesMyProperties *TGridCells::EnsureProperties(int col, int row)
{
    if (!IsCell(col, row))
        return nullptr;
    auto &props = m_rows[size_t(row)][size_t(col)].Props;
    if (!props)
        props.emplace();
    return &*props;
}

TCellPropertiesMyProperties TGridCells::PropertiesOrDefault(int col, int row) const
{
    const TCellPropertiesMyProperties *props = Properties(col, row);
    return props ? *props : TCellPropertiesMyProperties{};
}

void TGridCells::ExchangeRows(int row1, int row2)
{
    if (row1 != row2 && IsCell(0, row1) && IsCell(0, row2))
        std::swap(m_rows[size_t(row1)], m_rows[size_t(row2)]);
}

bool TGridCells::DeleteRow(int row)
{
    if (row < 1 || row >= RowCount() || RowCount() <= 2)
        return false;
    m_rows.erase(m_rows.begin() + row);
    return true;
}

void TGridCells::Clear()
{
    TRow titles(static_cast<size_t>(m_colCount));
    for (int c = 0; c < m_colCount; ++c)
        titles[size_t(c)].Text = m_rows[0][size_t(c)].Text;
    m_rows.clear();
    m_rows.push_back(std::move(titles));
    m_rows.emplace_back(size_t(m_colCount));
}

bool TGridCells::IsEmpty() const
{
    if (RowCount() != 2)
        return false;
    return std::all_of(m_rows[1].begin(), m_rows[1].end(), [](const TCell &cell) { return cell.Text.isEmpty(); });
}

int TGridCells::CheckedCount(int col) const
{
    if (IsEmpty() || col < 0 || col >= m_colCount)
        return 0;
    int count = 0;
    for (int r = 1; r < RowCount(); ++r) {
        const auto &props = m_rows[size_t(r)][size_t(col)].Props;
        if (props && props->Checked)
            ++count;
    }
    return count;
}

int TGridCells::FindRow(int col, const QString &text, bool caseSensitive) const
{
    if (col < 0 || col >= m_colCount)
        return -1;
    const QString wanted = caseSensitive ? text : text.toLower();
    for (int r = 1; r < RowCount(); ++r) {
        const QString &cell = m_rows[size_t(r)][size_t(col)].Text;
        if (caseSensitive ? cell == wanted : cell.toLower() == wanted)
            return r;
    }
    return -1;
}

// ---------------------------------------------------------------------------------------------------
// Typed comparison

QString CellValueText(const QString &text, const QString &sep)
{
    if (sep.isEmpty())
        return text.trimmed();
    const qsizetype at = text.indexOf(sep);
    return (at < 0 ? text : text.left(at)).trimmed();
}

int64_t CellIntegerValue(const QString &valueText)
{
    bool ok = false;
    const qlonglong value = valueText.trimmed().toLongLong(&ok, 10);
    return ok ? value : 0;
}

double CellFloatValue(const QString &valueText, const QLocale &locale)
{
    bool ok = false;
    const double value = locale.toDouble(valueText.trimmed(), &ok);
    return ok && !std::isnan(value) ? value : 0.0;
}

namespace {

// Order of day, month and year in the locale's short date format, as indices into the three numbers.
struct TDateOrder {
    int Day = 0;
    int Month = 1;
    int Year = 2;
};

TDateOrder DateOrder(const QLocale &locale)
{
    const QString format = locale.dateFormat(QLocale::ShortFormat);
    const qsizetype d = format.indexOf(QLatin1Char('d'));
    const qsizetype m = format.indexOf(QLatin1Char('M'));
    const qsizetype y = format.indexOf(QLatin1Char('y'));
    if (d < 0 || m < 0 || y < 0)
        return {};
    std::vector<std::pair<qsizetype, int>> parts = {{d, 0}, {m, 1}, {y, 2}};
    std::sort(parts.begin(), parts.end());
    TDateOrder order;
    for (int i = 0; i < 3; ++i) {
        if (parts[size_t(i)].second == 0)
            order.Day = i;
        else if (parts[size_t(i)].second == 1)
            order.Month = i;
        else
            order.Year = i;
    }
    return order;
}

// Two-digit years fall into the hundred years that begin fifty years before the current one.
int ExpandYear(int year)
{
    if (year > 99)
        return year;
    const int windowStart = QDate::currentDate().year() - 50;
    year += windowStart / 100 * 100;
    if (year < windowStart)
        year += 100;
    return year;
}

const QDate kDayZero(1899, 12, 30);

} // namespace

int64_t CellDateValue(const QString &valueText, const QLocale &locale)
{
    // Two or three numbers separated by ".", "/" or "-"; their order follows the locale's short date
    // format, except that a leading four-digit number is the year (ISO form). Two numbers mean the
    // current year.
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,4})[./-](\\d{1,2})(?:[./-](\\d{1,4}))?\\.?$"));
    const QRegularExpressionMatch match = pattern.match(valueText.trimmed());
    if (!match.hasMatch())
        return 0;
    int numbers[3] = {match.captured(1).toInt(), match.captured(2).toInt(), 0};
    const bool withYear = match.hasCaptured(3);
    QDate date;
    if (match.capturedLength(1) == 4) {
        if (!withYear)
            return 0;
        date = QDate(numbers[0], numbers[1], match.captured(3).toInt());
    } else {
        const TDateOrder order = DateOrder(locale);
        if (withYear) {
            numbers[2] = match.captured(3).toInt();
            date = QDate(ExpandYear(numbers[order.Year]), numbers[order.Month], numbers[order.Day]);
        } else {
            // Without a year only day and month remain, in the order they have in the format.
            const bool dayFirst = order.Day < order.Month;
            date = QDate(QDate::currentDate().year(), dayFirst ? numbers[1] : numbers[0],
                         dayFirst ? numbers[0] : numbers[1]);
        }
    }
    return date.isValid() ? kDayZero.daysTo(date) : 0;
}

int64_t CellTimeValue(const QString &valueText)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,2}):(\\d{1,2})(?::(\\d{1,2}))?$"));
    const QRegularExpressionMatch match = pattern.match(valueText.trimmed());
    if (!match.hasMatch())
        return 0;
    const QTime time(match.captured(1).toInt(), match.captured(2).toInt(),
                     match.hasCaptured(3) ? match.captured(3).toInt() : 0);
    return time.isValid() ? time.msecsSinceStartOfDay() : 0;
}

namespace {

template <typename T>
int Order(T a, T b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

} // namespace

int CompareCellTexts(TColDataTypes type, const QString &a, const QString &b, const QString &sep,
                     const QCollator &collator, const QLocale &locale)
{
    switch (type) {
    case cdtString:
        return collator.compare(a, b);
    case cdtInteger:
        return Order(CellIntegerValue(CellValueText(a, sep)), CellIntegerValue(CellValueText(b, sep)));
    case cdtFloat:
        return Order(CellFloatValue(CellValueText(a, sep), locale), CellFloatValue(CellValueText(b, sep), locale));
    case cdtDate:
        return Order(CellDateValue(CellValueText(a, sep), locale), CellDateValue(CellValueText(b, sep), locale));
    case cdtTime:
        return Order(CellTimeValue(CellValueText(a, sep)), CellTimeValue(CellValueText(b, sep)));
    case cdtCheckMark:
    case cdtUser:
        break;
    }
    return 0;
}

QLocale DefaultSortLocale()
{
    const QLocale system;
    if (system.language() == QLocale::C || system.language() == QLocale::AnyLanguage)
        return QLocale(QLocale::German, QLocale::Germany);
    return system;
}

// ---------------------------------------------------------------------------------------------------
// Model and delegate

// The view's window on the cell store: grid row r is model row r - 1, the title row is the header.
// While an update runs the store changes silently inside one model reset.
class TCheckBoxGridModel final : public QAbstractTableModel {
public:
    explicit TCheckBoxGridModel(TCheckBoxGrid *grid) : QAbstractTableModel(grid), m_grid(grid) {}

    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : m_grid->m_cells.RowCount() - 1;
    }
    int columnCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : m_grid->m_cells.ColCount();
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole))
            return {};
        // A row that vanished inside an update reads as empty.
        return m_grid->m_cells.Text(index.column(), index.row() + 1);
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal)
            return QAbstractTableModel::headerData(section, orientation, role);
        if (!m_grid->m_cells.IsCell(section, 0))
            return {};
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
            return m_grid->m_cells.Text(section, 0);
        if (role == Qt::DecorationRole) {
            const int state = m_grid->GetSortState(section);
            const QIcon icon = m_grid->Image(state == 1   ? m_grid->m_ascendingImageIndex
                                             : state == 2 ? m_grid->m_descendingImageIndex
                                                          : -1);
            if (!icon.isNull())
                return icon;
        }
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    void CellChanged(int col, int row)
    {
        if (m_grid->m_updating)
            return;
        if (row == 0) {
            Q_EMIT headerDataChanged(Qt::Horizontal, col, col);
        } else {
            const QModelIndex i = index(row - 1, col);
            Q_EMIT dataChanged(i, i);
        }
    }
    void TitlesChanged()
    {
        if (!m_grid->m_updating)
            Q_EMIT headerDataChanged(Qt::Horizontal, 0, m_grid->m_cells.ColCount() - 1);
    }

    void BeginReset() { beginResetModel(); }
    void EndReset() { endResetModel(); }
    void BeginInsertGridRows(int first, int last) { beginInsertRows({}, first - 1, last - 1); }
    void EndInsertGridRows() { endInsertRows(); }
    void BeginRemoveGridRows(int first, int last) { beginRemoveRows({}, first - 1, last - 1); }
    void EndRemoveGridRows() { endRemoveRows(); }
    void BeginInsertCols(int first, int last) { beginInsertColumns({}, first, last); }
    void EndInsertCols() { endInsertColumns(); }
    void BeginRemoveCols(int first, int last) { beginRemoveColumns({}, first, last); }
    void EndRemoveCols() { endRemoveColumns(); }

private:
    TCheckBoxGrid *m_grid;
};

// Draws a data cell: the row's background and selection over the whole cell, then the check box at
// its left, the cell's image after it, and the text (with an ellipsis when cut) in the room left.
class TCheckBoxGridDelegate final : public QStyledItemDelegate {
public:
    explicit TCheckBoxGridDelegate(TCheckBoxGrid *grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        if (m_grid->m_updating)
            return;
        const int col = index.column();
        const int row = index.row() + 1;
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        // Whole rows are selected: the current cell gets no look of its own.
        opt.state &= ~QStyle::State_HasFocus;
        const QWidget *widget = opt.widget;
        QStyle *style = widget ? widget->style() : QApplication::style();

        const int lead = m_grid->LeadWidth(col, row);
        if (lead <= 0) {
            style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
            return;
        }

        QStyleOptionViewItem back = opt;
        back.text.clear();
        back.features &= ~QStyleOptionViewItem::HasDisplay;
        style->drawControl(QStyle::CE_ItemViewItem, &back, painter, widget);

        painter->save();
        if (m_grid->ShowsCheckBox(col, row)) {
            QStyleOptionButton box;
            box.rect = m_grid->CheckBoxSquare(opt.rect);
            box.palette = opt.palette;
            box.direction = opt.direction;
            box.state = (opt.state & QStyle::State_Enabled) |
                        (m_grid->GetChecked(col, row) ? QStyle::State_On : QStyle::State_Off);
            style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, widget);
        }
        const QRect imageRect = m_grid->ImageRect(opt.rect, col, row);
        if (imageRect.isValid())
            m_grid->Image(m_grid->GetImageIndex(col, row)).paint(painter, imageRect, Qt::AlignCenter, QIcon::Normal);
        painter->restore();

        QStyleOptionViewItem text = opt;
        text.rect.setLeft(opt.rect.left() + lead);
        text.backgroundBrush = QBrush();
        style->drawControl(QStyle::CE_ItemViewItem, &text, painter, widget);
    }

private:
    TCheckBoxGrid *m_grid;
};

// ---------------------------------------------------------------------------------------------------
// The grid

namespace {

class TWaitCursor {
public:
    TWaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor &) = delete;
    TWaitCursor &operator=(const TWaitCursor &) = delete;
};

} // namespace

TCheckBoxGrid::TCheckBoxGrid(QWidget *parent)
    : QTableView(parent), m_cells(1), m_model(new TCheckBoxGridModel(this)), m_sortLocale(DefaultSortLocale())
{
    setModel(m_model);
    setItemDelegate(new TCheckBoxGridDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setShowGrid(true);
    setCornerButtonEnabled(false);
    setSortingEnabled(false);

    QHeaderView *rows = verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(18);

    QHeaderView *titles = horizontalHeader();
    titles->setSectionResizeMode(QHeaderView::Interactive);
    titles->setStretchLastSection(false);
    titles->setHighlightSections(false);
    titles->setSectionsMovable(false);
    titles->setSectionsClickable(true);
    titles->setSortIndicatorShown(false);
    titles->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    titles->viewport()->installEventFilter(this);
    // The header reports a click only when the button went down and up on the same title and not on a
    // column border: dragging a border resizes and never sorts.
    connect(titles, &QHeaderView::sectionClicked, this, &TCheckBoxGrid::TitleClick);
    connect(titles, &QHeaderView::sectionResized, this, [this] {
        if (m_widthsEventDetached == 0 && OnColWidthsChanged)
            OnColWidthsChanged(this);
    });

    ApplyRow(1);
}

TCheckBoxGrid::~TCheckBoxGrid()
{
    horizontalHeader()->disconnect(this);
    horizontalHeader()->viewport()->removeEventFilter(this);
    // The model reads the cell store, which goes before the view's own teardown.
    setModel(nullptr);
    if (m_updating && m_updateCursor)
        QGuiApplication::restoreOverrideCursor();
}

void TCheckBoxGrid::SetColCount(int count)
{
    count = std::max(1, count);
    const int old = ColCount();
    if (count == old)
        return;
    if (m_updating) {
        m_cells.SetColCount(count);
        return;
    }
    if (count > old) {
        m_model->BeginInsertCols(old, count - 1);
        m_cells.SetColCount(count);
        m_model->EndInsertCols();
    } else {
        m_model->BeginRemoveCols(count, old - 1);
        m_cells.SetColCount(count);
        m_model->EndRemoveCols();
    }
}

void TCheckBoxGrid::SetRowCount(int count)
{
    count = std::max(2, count);
    const int old = RowCount();
    if (count == old)
        return;
    if (m_updating) {
        m_cells.SetRowCount(count);
        m_updateRow = std::min(m_updateRow, count - 1);
        return;
    }
    const int current = Row();
    if (count > old) {
        m_model->BeginInsertGridRows(old, count - 1);
        m_cells.SetRowCount(count);
        m_model->EndInsertGridRows();
    } else {
        m_model->BeginRemoveGridRows(count, old - 1);
        m_cells.SetRowCount(count);
        m_model->EndRemoveGridRows();
        ApplyRow(std::min(current, count - 1));
    }
}

void TCheckBoxGrid::SetCell(int col, int row, const QString &text)
{
    if (!m_cells.IsCell(col, row))
        return;
    m_cells.SetText(col, row, text);
    m_model->CellChanged(col, row);
}

int TCheckBoxGrid::ColWidth(int col) const
{
    return horizontalHeader()->sectionSize(col);
}

void TCheckBoxGrid::SetColWidth(int col, int width)
{
    if (col >= 0 && col < ColCount())
        horizontalHeader()->resizeSection(col, std::max(0, width));
}

int TCheckBoxGrid::DefaultRowHeight() const
{
    return verticalHeader()->defaultSectionSize();
}

void TCheckBoxGrid::SetDefaultRowHeight(int height)
{
    verticalHeader()->setDefaultSectionSize(std::max(1, height));
}

int TCheckBoxGrid::Row() const
{
    if (m_updating)
        return m_updateRow;
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() + 1 : 1;
}

void TCheckBoxGrid::SetRow(int row)
{
    if (row < 1 || row >= RowCount())
        return;
    if (m_updating)
        m_updateRow = row;
    else
        ApplyRow(row);
}

void TCheckBoxGrid::ApplyRow(int row)
{
    row = std::clamp(row, 1, RowCount() - 1);
    const QModelIndex current = currentIndex();
    const int col = current.isValid() ? current.column() : 0;
    selectionModel()->setCurrentIndex(m_model->index(row - 1, col),
                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

int TCheckBoxGrid::SelCount() const
{
    if (m_updating)
        return 1;
    return int(selectionModel()->selectedRows().size());
}

void TCheckBoxGrid::SetCheckBoxes(bool on)
{
    m_checkBoxes = on;
    viewport()->update();
}

void TCheckBoxGrid::SetCheckedCol(int col)
{
    m_checkedCol = col;
    viewport()->update();
}

void TCheckBoxGrid::SetColumnClick(bool on)
{
    m_columnClick = on;
    horizontalHeader()->setSectionsClickable(on);
}

void TCheckBoxGrid::SetImageList(const QList<QIcon> &images)
{
    m_images = images;
    TitlesChanged();
    viewport()->update();
}

void TCheckBoxGrid::SetImageSize(const QSize &size)
{
    m_imageSize = size;
    viewport()->update();
}

void TCheckBoxGrid::SetAscendingImageIndex(int index)
{
    m_ascendingImageIndex = index;
    TitlesChanged();
}

void TCheckBoxGrid::SetDescendingImageIndex(int index)
{
    m_descendingImageIndex = index;
    TitlesChanged();
}

bool TCheckBoxGrid::GetChecked(int col, int row) const
{
    if (m_checkedCol >= 0 && col != m_checkedCol)
        return false;
    return m_cells.PropertiesOrDefault(col, row).Checked;
}

void TCheckBoxGrid::SetChecked(int col, int row, bool state)
{
    if (m_checkedCol >= 0 && col != m_checkedCol)
        return;
    if (!m_cells.IsCell(col, row) || m_cells.PropertiesOrDefault(col, row).Checked == state)
        return;
    m_cells.EnsureProperties(col, row)->Checked = state;
    if (m_updating)
        return;
    m_model->CellChanged(col, row);
    if (row >= 1 && OnSetChecked)
        OnSetChecked(this, col, row, state);
}

bool TCheckBoxGrid::GetShowCheckBox(int col, int row) const
{
    return m_cells.PropertiesOrDefault(col, row).ShowCheckBox;
}

void TCheckBoxGrid::SetShowCheckBox(int col, int row, bool show)
{
    if (TCellPropertiesMyProperties *props = m_cells.EnsureProperties(col, row)) {
        props->ShowCheckBox = show;
        m_model->CellChanged(col, row);
    }
}

int TCheckBoxGrid::GetImageIndex(int col, int row) const
{
    return m_cells.PropertiesOrDefault(col, row).ImageIndex;
}

void TCheckBoxGrid::SetImageIndex(int col, int row, int index)
{
    if (TCellPropertiesMyProperties *props = m_cells.EnsureProperties(col, row)) {
        props->ImageIndex = index;
        m_model->CellChanged(col, row);
    }
}

void *TCheckBoxGrid::GetCellObject(int col, int row) const
{
    return m_cells.PropertiesOrDefault(col, row).Data;
}

void TCheckBoxGrid::SetCellObject(int col, int row, void *object)
{
    if (TCellPropertiesMyProperties *props = m_cells.EnsureProperties(col, row))
        props->Data = object;
}

int TCheckBoxGrid::GetSortState(int col) const
{
    return m_cells.PropertiesOrDefault(col, 0).SortState;
}

int TCheckBoxGrid::CheckedCount() const
{
    return m_cells.CheckedCount(CheckBoxCol());
}

void TCheckBoxGrid::ClearGrid()
{
    ++m_widthsEventDetached;
    {
        TWaitCursor wait;
        // The grid's own state, not the one it inherits: restoring an inherited "disabled" would keep the
        // grid disabled after its parent is enabled again.
        const bool wasEnabled = !testAttribute(Qt::WA_ForceDisabled);
        const bool hadFocus = hasFocus();
        setEnabled(false);
        SetRow(1);
        const bool began = BeginUpdate();

        QList<int> widths;
        for (int c = 0; c < ColCount(); ++c)
            widths.append(ColWidth(c));
        m_cells.Clear();
        m_updateRow = 1;
        for (int c = 0; c < widths.size(); ++c)
            if (ColWidth(c) != widths[c])
                SetColWidth(c, widths[c]);

        if (began)
            EndUpdate();
        SetRow(1);
        setEnabled(wasEnabled);
        if (hadFocus && isEnabled() && isVisible())
            setFocus(Qt::OtherFocusReason);
    }
    --m_widthsEventDetached;
}

void TCheckBoxGrid::DeleteRow(int row)
{
    if (row < 1 || row >= RowCount() || RowCount() <= 2)
        return;
    if (m_updating) {
        m_cells.DeleteRow(row);
        if (m_updateRow > row)
            --m_updateRow;
        m_updateRow = std::min(m_updateRow, RowCount() - 1);
        return;
    }
    const int current = Row();
    m_model->BeginRemoveGridRows(row, row);
    m_cells.DeleteRow(row);
    m_model->EndRemoveGridRows();
    ApplyRow(std::min(current > row ? current - 1 : current, RowCount() - 1));
}

int TCheckBoxGrid::FindRow(int col, const QString &text, bool caseSensitive) const
{
    return m_cells.FindRow(col, text, caseSensitive);
}

bool TCheckBoxGrid::BeginUpdate()
{
    if (m_updating)
        return false;
    m_updateRow = Row();
    m_focusBeforeUpdate = hasFocus();
    m_updatesOffBeforeUpdate = testAttribute(Qt::WA_ForceUpdatesDisabled);
    setUpdatesEnabled(false);
    m_optimizedApplied = m_optimizedUpdate;
    if (m_optimizedApplied) {
        m_enabledBeforeUpdate = !testAttribute(Qt::WA_ForceDisabled);
        m_hPolicyBeforeUpdate = horizontalScrollBarPolicy();
        m_vPolicyBeforeUpdate = verticalScrollBarPolicy();
        setEnabled(false);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    m_updateCursor = m_changeCursorOnBeginUpdate;
    if (m_updateCursor)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    m_updating = true;
    m_model->BeginReset();
    return true;
}

void TCheckBoxGrid::EndUpdate()
{
    if (!m_updating)
        return;
    m_updating = false;
    m_model->EndReset();
    if (m_optimizedApplied) {
        setHorizontalScrollBarPolicy(m_hPolicyBeforeUpdate);
        setVerticalScrollBarPolicy(m_vPolicyBeforeUpdate);
        setEnabled(m_enabledBeforeUpdate);
    }
    if (!m_updatesOffBeforeUpdate)
        setUpdatesEnabled(true);
    ApplyRow(m_updateRow);
    // Disabling the grid moved the keyboard focus away; it had it before, so it gets it back.
    if (m_focusBeforeUpdate && isEnabled() && isVisible())
        setFocus(Qt::OtherFocusReason);
    viewport()->update();
    if (m_updateCursor) {
        m_updateCursor = false;
        QGuiApplication::restoreOverrideCursor();
    }
}

int TCheckBoxGrid::CompareRows(TColDataTypes type, const QString &sep, const QCollator &collator, int col, int row1,
                               int row2)
{
    switch (type) {
    case cdtCheckMark:
        return int(GetChecked(col, row1)) - int(GetChecked(col, row2));
    case cdtUser: {
        int result = 0;
        if (OnGetColSortResult)
            OnGetColSortResult(this, col, row1, col, row2, result);
        return result;
    }
    default:
        return CompareCellTexts(type, m_cells.Text(col, row1), m_cells.Text(col, row2), sep, collator, m_sortLocale);
    }
}

void TCheckBoxGrid::SortByColumn(int col, bool ascending)
{
    if (col < 0 || col >= ColCount())
        return;
    TWaitCursor wait;
    TColDataTypes type = cdtString;
    QString sep = QStringLiteral(" ");
    if (OnGetColDataType)
        OnGetColDataType(this, col, type, sep);

    const bool began = BeginUpdate();
    SetRow(1);
    // A user-typed column without its compare event keeps its order (every pair would compare equal,
    // and the exchange of equal rows would still shuffle them).
    if (type != cdtUser || OnGetColSortResult) {
        QCollator collator(m_sortLocale);
        collator.setCaseSensitivity(Qt::CaseSensitive);
        QuickSortRows(
            1, RowCount() - 1, ascending,
            [&](int row1, int row2) { return CompareRows(type, sep, collator, col, row1, row2); },
            [&](int row1, int row2) { m_cells.ExchangeRows(row1, row2); });
    }
    for (int c = 0; c < ColCount(); ++c) {
        if (c == col)
            m_cells.EnsureProperties(c, 0)->SortState = ascending ? 1 : 2;
        else if (m_cells.Properties(c, 0))
            m_cells.EnsureProperties(c, 0)->SortState = 0;
    }
    TitlesChanged();
    if (began)
        EndUpdate();
    SetRow(1);
}

void TCheckBoxGrid::ClearSortMarkers()
{
    for (int c = 0; c < ColCount(); ++c)
        if (m_cells.Properties(c, 0))
            m_cells.EnsureProperties(c, 0)->SortState = 0;
    TitlesChanged();
}

void TCheckBoxGrid::TitlesChanged()
{
    m_model->TitlesChanged();
}

QString TCheckBoxGrid::SelectedCellText(int col) const
{
    if (col < 0)
        col = 0; // whole rows are selected, so the first selected column is the first column
    int row = Row();
    if (!m_updating) {
        const QModelIndexList selected = selectionModel()->selectedRows();
        if (!selected.isEmpty()) {
            row = selected.first().row() + 1;
            for (const QModelIndex &index : selected)
                row = std::min(row, index.row() + 1);
        }
    }
    return m_cells.Text(col, row);
}

void TCheckBoxGrid::TitleClick(int col)
{
    if (!m_columnClick || m_updating || IsEmpty() || !m_cells.IsCell(col, 0))
        return;
    // 0 -> 1 -> 2 -> 1 -> 2 ...
    const int state = GetSortState(col) == 1 ? 2 : 1;
    SortByColumn(col, state == 1);
}

QRect TCheckBoxGrid::CellRect(int col, int row) const
{
    if (!m_cells.IsCell(col, row))
        return {};
    if (row == 0) {
        const QHeaderView *titles = horizontalHeader();
        const QRect inHeader(titles->sectionViewportPosition(col), 0, titles->sectionSize(col),
                             titles->viewport()->height());
        return inHeader.translated(titles->viewport()->mapTo(this, QPoint(0, 0)));
    }
    return visualRect(m_model->index(row - 1, col)).translated(viewport()->mapTo(this, QPoint(0, 0)));
}

QRect TCheckBoxGrid::CheckBoxRect(int col, int row) const
{
    return ShowsCheckBox(col, row) ? CheckBoxSquare(CellRect(col, row)) : QRect();
}

bool TCheckBoxGrid::MouseToCell(const QPoint &pos, int &col, int &row) const
{
    col = -1;
    row = -1;
    const QHeaderView *titles = horizontalHeader();
    if (titles->isVisible() && titles->geometry().contains(pos)) {
        const QPoint at = titles->viewport()->mapFrom(this, pos);
        col = titles->logicalIndexAt(at.x());
        row = col >= 0 ? 0 : -1;
        return col >= 0;
    }
    const QModelIndex index = indexAt(viewport()->mapFrom(this, pos));
    if (!index.isValid())
        return false;
    col = index.column();
    row = index.row() + 1;
    return true;
}

bool TCheckBoxGrid::IsCellTextCut(int col, int row) const
{
    const QString text = m_cells.Text(col, row);
    if (text.isEmpty())
        return false;
    if (row == 0) {
        const QHeaderView *titles = horizontalHeader();
        const int margin = titles->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, titles);
        int room = ColWidth(col) - 2 * margin;
        if (GetSortState(col) != 0)
            room -= m_imageSize.width() + margin;
        return titles->fontMetrics().horizontalAdvance(text) > room;
    }
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const int room = ColWidth(col) - LeadWidth(col, row) - 2 * margin;
    return fontMetrics().horizontalAdvance(text) > room;
}

bool TCheckBoxGrid::ShowsCheckBox(int col, int row) const
{
    return m_checkBoxes && row >= 1 && col == CheckBoxCol() && m_cells.IsCell(col, row) &&
           m_cells.PropertiesOrDefault(col, row).ShowCheckBox && !m_cells.IsEmpty();
}

QRect TCheckBoxGrid::CheckBoxSquare(const QRect &cell) const
{
    const int width = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this);
    const int height = style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, this);
    return QRect(cell.left() + 2, cell.top() + (cell.height() - height) / 2, width, height);
}

QRect TCheckBoxGrid::ImageRect(const QRect &cell, int col, int row) const
{
    if (row < 1 || Image(GetImageIndex(col, row)).isNull())
        return {};
    const int left = ShowsCheckBox(col, row) ? CheckBoxSquare(cell).right() + 1 + 2 : cell.left() + 2;
    const int height = std::min(m_imageSize.height(), cell.height());
    return QRect(left, cell.top() + (cell.height() - height) / 2, m_imageSize.width(), height);
}

int TCheckBoxGrid::LeadWidth(int col, int row) const
{
    const QRect cell(0, 0, std::max(0, ColWidth(col)), DefaultRowHeight());
    int right = -1;
    if (ShowsCheckBox(col, row))
        right = CheckBoxSquare(cell).right();
    const QRect image = ImageRect(cell, col, row);
    if (image.isValid())
        right = image.right();
    return right < 0 ? 0 : right + 1 + 2;
}

QIcon TCheckBoxGrid::Image(int index) const
{
    return index >= 0 && index < m_images.size() ? m_images[index] : QIcon();
}

void TCheckBoxGrid::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton && !m_rightClickSelecteds) {
        event->accept();
        return;
    }
    // Where the press lands is decided before the view's own handling, which may scroll the row.
    const QPoint pos = event->position().toPoint();
    const QModelIndex index = indexAt(pos);
    const bool onCheckBox = index.isValid() && ShowsCheckBox(index.column(), index.row() + 1) &&
                            CheckBoxSquare(visualRect(index)).contains(pos);
    QTableView::mousePressEvent(event);
    if (!index.isValid())
        return;
    const int col = index.column();
    const int row = index.row() + 1;
    if (event->button() == Qt::LeftButton && onCheckBox)
        SetChecked(col, row, !GetChecked(col, row));
    else if (event->button() == Qt::RightButton)
        SetRow(row);
}

void TCheckBoxGrid::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        mousePressEvent(event);
        return;
    }
    const QPoint pos = event->position().toPoint();
    const QModelIndex index = indexAt(pos);
    if (IsEmpty() || !index.isValid()) {
        event->accept();
        return;
    }
    const int col = index.column();
    const int row = index.row() + 1;
    if (ShowsCheckBox(col, row) && CheckBoxSquare(visualRect(index)).contains(pos)) {
        // The second press of a quick double click on the box toggles it like any press there.
        SetChecked(col, row, !GetChecked(col, row));
        event->accept();
        return;
    }
    SetRow(row);
    if (OnCellDblClick)
        OnCellDblClick(this, col, row);
    QTableView::mouseDoubleClickEvent(event);
}

void TCheckBoxGrid::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Space && !IsEmpty() && m_checkedCol >= 0) {
        const int row = Row();
        if (ShowsCheckBox(CheckBoxCol(), row))
            SetChecked(CheckBoxCol(), row, !GetChecked(CheckBoxCol(), row));
    }
    QTableView::keyPressEvent(event);
}

void TCheckBoxGrid::ShowCellHint(QHelpEvent *event, int col, int row, const QRect &cellRect, QWidget *source)
{
    if (!m_showCellHints || m_updating) {
        QToolTip::hideText();
        event->ignore();
        return;
    }
    QString hint = m_cells.Text(col, row);
    bool canShow = true;
    THintInfo info;
    info.HintPos = source->mapToGlobal(QPoint(cellRect.left(), cellRect.bottom() + 1 + 6));
    info.CellRect = cellRect.translated(source->mapTo(this, QPoint(0, 0)));
    if (OnShowHintCell)
        OnShowHintCell(this, col, row, hint, canShow, info);
    if (canShow && !hint.isEmpty()) {
        QToolTip::showText(info.HintPos, hint, source, cellRect);
    } else {
        QToolTip::hideText();
        event->ignore();
    }
}

bool TCheckBoxGrid::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        const QModelIndex index = indexAt(help->pos());
        if (index.isValid() && m_cells.IsCell(index.column(), index.row() + 1)) {
            ShowCellHint(help, index.column(), index.row() + 1, visualRect(index), viewport());
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QTableView::viewportEvent(event);
}

bool TCheckBoxGrid::eventFilter(QObject *watched, QEvent *event)
{
    QHeaderView *titles = horizontalHeader();
    if (watched == titles->viewport() && event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        const int col = titles->logicalIndexAt(help->pos().x());
        if (col >= 0 && m_cells.IsCell(col, 0)) {
            const QRect cell(titles->sectionViewportPosition(col), 0, titles->sectionSize(col),
                             titles->viewport()->height());
            ShowCellHint(help, col, 0, cell, titles->viewport());
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QTableView::eventFilter(watched, event);
}
