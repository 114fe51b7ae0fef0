#pragma once
// TCheckBoxGrid: the list control of every list in the program (messages, accounts, rules). A text grid
// with one title row, a check box per data row in the check column, an optional image and an attached
// object per cell, and sorting by a click on a column title.
//
// Coordinates are grid coordinates throughout: row 0 is the title row, data rows are 1 to RowCount() - 1.
// An empty grid still has one data row (row 1) whose cells are all empty.
//
// Built on QTableView with a model of our own rather than on QTableWidget: the grid keeps its own cell
// store (texts plus a property record per cell, the title row as row 0, the one blank row of an empty
// grid) and sorts by exchanging whole rows of that store. QTableWidget would hold a second copy of every
// text in its items, its own sorting would have to be switched off, and one item object per cell makes
// refilling ten thousand rows slow. The store and the sort below need no widget and are tested alone.
#include <QCollator>
#include <QIcon>
#include <QList>
#include <QLocale>
#include <QSize>
#include <QString>
#include <QTableView>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QHelpEvent;

enum TColDataTypes { cdtString, cdtInteger, cdtFloat, cdtDate, cdtTime, cdtCheckMark, cdtUser };

// The record every cell gets on the first write of one of its properties; the grid owns it.
struct TCellPropertiesMyProperties {
    bool ShowCheckBox = true; // shows a check box (only in the check column)
    bool Checked = false;
    int32_t ImageIndex = -1; // -1: no image
    uint8_t SortState = 0;   // title cells only: 0 unsorted, 1 ascending, 2 descending
    void *Data = nullptr;    // the owner's object; never owned or freed by the grid
};

// The cell store: texts and records of all rows including the title row. At least one column and at
// least the title row plus one data row always exist. Out-of-range reads give empty values, out-of-range
// writes do nothing.
class TGridCells {
public:
    explicit TGridCells(int colCount = 1);

    int RowCount() const { return int(m_rows.size()); }
    int ColCount() const { return m_colCount; }
    // New rows are empty; removed rows take their records with them. Never fewer than 2 rows.
    void SetRowCount(int count);
    // New columns are empty; never fewer than 1.
    void SetColCount(int count);

    bool IsCell(int col, int row) const { return row >= 0 && row < RowCount() && col >= 0 && col < m_colCount; }
    QString Text(int col, int row) const;
    void SetText(int col, int row, const QString &text);

    // The cell's record, or null when none was created yet (the defaults apply then).
    const TCellPropertiesMyProperties *Properties(int col, int row) const;
    // The cell's record, created with the defaults when missing; null out of range.
    TCellPropertiesMyProperties *EnsureProperties(int col, int row);
    // The record's values, the defaults for a cell without one.
    TCellPropertiesMyProperties PropertiesOrDefault(int col, int row) const;

    // Exchanges two rows with everything they hold.
    void ExchangeRows(int row1, int row2);
    // Removes a data row; refuses the title row, rows out of range and the last data row. True if removed.
    bool DeleteRow(int row);
    // The title texts stay; every record goes; one empty data row is left.
    void Clear();

    // Exactly two rows and every cell of row 1 empty.
    bool IsEmpty() const;
    // Data rows with the check mark in col; 0 for an empty grid.
    int CheckedCount(int col) const;
    // First data row whose cell in col equals text (without case, both sides lowered), or -1.
    int FindRow(int col, const QString &text, bool caseSensitive) const;

private:
    struct TCell {
        QString Text;
        std::optional<TCellPropertiesMyProperties> Props;
    };
    using TRow = std::vector<TCell>;

    int m_colCount;
    std::vector<TRow> m_rows;
};

// Typed comparison of cell texts. A typed column compares the value in the text before the first
// occurrence of sep (the whole text when sep is empty); a text that does not convert counts as 0.
// Dates count in days from 30.12.1899, so an unreadable date sorts before every real one since then.
QString CellValueText(const QString &text, const QString &sep);
int64_t CellIntegerValue(const QString &valueText);
double CellFloatValue(const QString &valueText, const QLocale &locale);
int64_t CellDateValue(const QString &valueText, const QLocale &locale);
int64_t CellTimeValue(const QString &valueText);
// Negative when a belongs before b in ascending order, 0 when equal, positive otherwise. cdtString
// compares with the collator (locale order, case matters); cdtCheckMark and cdtUser are not text
// comparisons and give 0 here.
int CompareCellTexts(TColDataTypes type, const QString &a, const QString &b, const QString &sep,
                     const QCollator &collator, const QLocale &locale);

// The locale that text order and number and date reading follow by default: the user's, or German
// (the program's language) when the system names none.
QLocale DefaultSortLocale();

// Quicksort of the rows first..last. The middle row of each range is the pivot (followed when it is
// exchanged); from the left, rows that belong before the pivot are passed over, from the right rows that
// belong after it; the two rows found are exchanged, then both parts are sorted. Not stable. compare(a, b)
// is negative when row a belongs before row b in ascending order. The pass stays inside the range even
// when compare contradicts itself; the smaller part is sorted by recursion, so the depth stays small.
template <typename Compare, typename Exchange>
void QuickSortRows(int first, int last, bool ascending, Compare &&compare, Exchange &&exchange)
{
    const auto before = [&](int a, int b) {
        const int c = compare(a, b);
        return ascending ? c < 0 : c > 0;
    };
    const auto after = [&](int a, int b) {
        const int c = compare(a, b);
        return ascending ? c > 0 : c < 0;
    };
    while (first < last) {
        int i = first;
        int j = last;
        int pivot = first + (last - first) / 2;
        do {
            while (i < last && before(i, pivot))
                ++i;
            while (j > first && after(j, pivot))
                --j;
            if (i <= j) {
                if (i != j) {
                    exchange(i, j);
                    if (pivot == i)
                        pivot = j;
                    else if (pivot == j)
                        pivot = i;
                }
                ++i;
                --j;
            }
        } while (i <= j);
        if (j - first < last - i) {
            QuickSortRows(first, j, ascending, compare, exchange);
            first = i;
        } else {
            QuickSortRows(i, last, ascending, compare, exchange);
            last = j;
        }
    }
}

class TCheckBoxGridModel;

class TCheckBoxGrid : public QTableView {
    Q_OBJECT
public:
    // Where a hint appears (global coordinates) and the cell rectangle (grid coordinates) it belongs to.
    struct THintInfo {
        QPoint HintPos;
        QRect CellRect;
    };

    // Events. They run on the grid's thread; a handler must not change the rows while a sort asks it.
    using TSetChecked = std::function<void(TCheckBoxGrid *sender, int col, int row, bool state)>;
    using TCellClick = std::function<void(TCheckBoxGrid *sender, int col, int row)>;
    using TOnGetColDataType =
        std::function<void(TCheckBoxGrid *sender, int col, TColDataTypes &dataType, QString &stringValueSep)>;
    using TOnGetColSortResult =
        std::function<void(TCheckBoxGrid *sender, int col1, int row1, int col2, int row2, int &sortResult)>;
    using TShowHintCellProc = std::function<void(TCheckBoxGrid *sender, int col, int row, QString &hintStr,
                                                 bool &canShow, THintInfo &hintInfo)>;
    using TNotifyEvent = std::function<void(TCheckBoxGrid *sender)>;

    TSetChecked OnSetChecked;             // a data row's check mark changed, outside an update
    TCellClick OnCellDblClick;            // double click on a data cell outside its check box
    TOnGetColDataType OnGetColDataType;   // before sorting: how the column compares
    TOnGetColSortResult OnGetColSortResult; // while sorting a cdtUser column
    TShowHintCellProc OnShowHintCell;     // the mouse rests on a cell
    TNotifyEvent OnColWidthsChanged;      // a column width changed (by the user or by the program)
    // The ordinary events of the view stay available: clicked(), doubleClicked() (after
    // OnCellDblClick), customContextMenuRequested() and so on.

    explicit TCheckBoxGrid(QWidget *parent = nullptr);
    ~TCheckBoxGrid() override;

    // Layout.
    int ColCount() const { return m_cells.ColCount(); }
    void SetColCount(int count);
    int RowCount() const { return m_cells.RowCount(); }
    void SetRowCount(int count);
    QString Cell(int col, int row) const { return m_cells.Text(col, row); }
    void SetCell(int col, int row, const QString &text);
    int ColWidth(int col) const;
    void SetColWidth(int col, int width);
    int DefaultRowHeight() const;
    void SetDefaultRowHeight(int height);
    // The current (selected) data row; setting it selects that row.
    int Row() const;
    void SetRow(int row);
    int SelCount() const;

    // Properties.
    bool CheckBoxes() const { return m_checkBoxes; }
    void SetCheckBoxes(bool on);
    int CheckedCol() const { return m_checkedCol; }
    void SetCheckedCol(int col);
    bool ColumnClick() const { return m_columnClick; }
    void SetColumnClick(bool on);
    bool RightClickSelecteds() const { return m_rightClickSelecteds; }
    void SetRightClickSelecteds(bool on) { m_rightClickSelecteds = on; }
    bool ShowCellHints() const { return m_showCellHints; }
    void SetShowCellHints(bool on) { m_showCellHints = on; }
    bool OptimizedUpdate() const { return m_optimizedUpdate; }
    void SetOptimizedUpdate(bool on) { m_optimizedUpdate = on; }
    bool ChangeCursorOnBeginUpdate() const { return m_changeCursorOnBeginUpdate; }
    void SetChangeCursorOnBeginUpdate(bool on) { m_changeCursorOnBeginUpdate = on; }
    // Images for cells and titles, by index; a null icon draws nothing.
    const QList<QIcon> &ImageList() const { return m_images; }
    void SetImageList(const QList<QIcon> &images);
    QSize ImageSize() const { return m_imageSize; }
    void SetImageSize(const QSize &size);
    int AscendingImageIndex() const { return m_ascendingImageIndex; }
    void SetAscendingImageIndex(int index);
    int DescendingImageIndex() const { return m_descendingImageIndex; }
    void SetDescendingImageIndex(int index);
    // Text order and the reading of numbers and dates for sorting.
    QLocale SortLocale() const { return m_sortLocale; }
    void SetSortLocale(const QLocale &locale) { m_sortLocale = locale; }

    // Operations.
    bool GetChecked(int col, int row) const;
    void SetChecked(int col, int row, bool state);
    bool GetShowCheckBox(int col, int row) const;
    void SetShowCheckBox(int col, int row, bool show);
    int GetImageIndex(int col, int row) const;
    void SetImageIndex(int col, int row, int index);
    void *GetCellObject(int col, int row) const;
    void SetCellObject(int col, int row, void *object);
    template <typename T>
    T *CellObject(int col, int row) const
    {
        return static_cast<T *>(GetCellObject(col, row));
    }
    int GetSortState(int col) const;
    bool IsEmpty() const { return m_cells.IsEmpty(); }
    bool AnyChecked() const { return CheckedCount() > 0; }
    int CheckedCount() const;
    // Leaves the titles and one empty data row; keeps the column widths without firing
    // OnColWidthsChanged; no sort arrow afterwards.
    void ClearGrid();
    // Removes a data row and moves the rows below up; the current row follows. Nothing happens for the
    // title row, a row out of range, or the only data row (empty that one instead).
    void DeleteRow(int row);
    int FindRow(int col, const QString &text, bool caseSensitive) const;
    // False, doing nothing, when an update runs already; only a caller that got true calls EndUpdate.
    // While an update runs nothing is painted and OnSetChecked does not fire.
    bool BeginUpdate();
    void EndUpdate();
    bool Updating() const { return m_updating; }
    void SortByColumn(int col, bool ascending);
    void ClearSortMarkers();
    // Text of column col of the first selected row; col -1 means the first selected column.
    QString SelectedCellText(int col) const;

    // Geometry in the grid widget's own coordinates (the title row lies in the header).
    QRect CellRect(int col, int row) const;
    // The check box square of a cell (empty when the cell shows none).
    QRect CheckBoxRect(int col, int row) const;
    // The cell under a point; false when there is none.
    bool MouseToCell(const QPoint &pos, int &col, int &row) const;
    // True when the cell's text is wider than the room its column leaves it (drawn with an ellipsis).
    bool IsCellTextCut(int col, int row) const;

    // The work behind a click on a column title (also what the header's click runs).
    void TitleClick(int col);

private:
    friend class TCheckBoxGridModel;
    friend class TCheckBoxGridDelegate;

    int CheckBoxCol() const { return m_checkedCol >= 0 ? m_checkedCol : 0; }
    bool ShowsCheckBox(int col, int row) const;
    // Width at the cell's left taken by its check box and image; 0 when it has neither.
    int LeadWidth(int col, int row) const;
    // The check box square and the image rectangle within a cell rectangle.
    QRect CheckBoxSquare(const QRect &cell) const;
    QRect ImageRect(const QRect &cell, int col, int row) const;
    QIcon Image(int index) const;
    int CompareRows(TColDataTypes type, const QString &sep, const QCollator &collator, int col, int row1,
                    int row2);
    void ShowCellHint(QHelpEvent *event, int col, int row, const QRect &cellRect, QWidget *source);
    void TitlesChanged();
    void ApplyRow(int row);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    TGridCells m_cells;
    TCheckBoxGridModel *m_model;

    bool m_checkBoxes = true;
    int m_checkedCol = 0;
    bool m_columnClick = true;
    bool m_rightClickSelecteds = true;
    bool m_showCellHints = false;
    bool m_optimizedUpdate = true;
    bool m_changeCursorOnBeginUpdate = true;
    QList<QIcon> m_images;
    QSize m_imageSize{16, 16};
    int m_ascendingImageIndex = -1;
    int m_descendingImageIndex = -1;
    QLocale m_sortLocale;

    // Update state.
    bool m_updating = false;
    int m_updateRow = 1; // the current row while an update runs
    bool m_optimizedApplied = false;
    bool m_enabledBeforeUpdate = true;  // the grid's own enabled state, not the inherited one
    bool m_updatesOffBeforeUpdate = false;
    bool m_focusBeforeUpdate = false;
    bool m_updateCursor = false;
    Qt::ScrollBarPolicy m_hPolicyBeforeUpdate = Qt::ScrollBarAsNeeded;
    Qt::ScrollBarPolicy m_vPolicyBeforeUpdate = Qt::ScrollBarAsNeeded;

    int m_widthsEventDetached = 0;
};
