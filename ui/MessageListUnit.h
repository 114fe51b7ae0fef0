#pragma once
// The message list of the main window: one row per waiting message on the check-box grid, with the
// six columns, the size text rule, sorting by size, hints and column widths.
#include "TypeDef.h"

#include <QObject>
#include <QString>

#include <functional>

class TCheckBoxGrid;
class QWidget;

// "99 Byte", "0 KB" ... "1 MB", "2 GB": the size of a message as the list shows it (without the blank
// the cell adds).
QString SizeText(qint64 size);
// Name + " <" + address + ">", or the address alone when there is no name.
QString AddressText(const TMailAddress &a);

class TMessageListView : public QObject {
    Q_OBJECT
public:
    static constexpr int kColumns = 6;

    explicit TMessageListView(QWidget *parent);
    TCheckBoxGrid *Grid() const { return m_grid; }

    // Refills the grid from the list, in order; every entry's Row is set.
    void FillList(const TMailList &list);
    // Empties the grid, keeping its columns (the title row and one blank row remain).
    void ClearList();
    // Exactly one data row and all its cells empty.
    bool IsEmpty() const;
    // Data rows (0 for an empty list).
    int MessageRows() const;
    // The entry of a data row (row 1 is the first), or null.
    TMailEntry *EntryAt(int row) const;
    // The current row's entry when its first cell has text, else null.
    TMailEntry *CurrentEntry() const;
    int CurrentRow() const;
    bool AnyChecked() const;
    int CheckedCount() const;
    void SetAllChecked(bool on);
    // The entries of all data rows in row order (null for a row without one), each with Row := its row
    // and its check mark as Checked: what a deletion run starts from.
    QList<TMailEntry *> RowEntries() const;
    // Removes the rows of these numbers (top to bottom); the last data row leaves the empty list.
    void DeleteRows(QList<int> rows);
    // Removes the rows that show these entries, wherever they are now.
    void DeleteEntryRows(const QList<TMailEntry *> &entries);
    // While a job works on the listed messages: no sorting by a click on a column title.
    void SetReadOnly(bool on);
    bool ReadOnly() const { return m_readOnly; }

    // Marks a data row as spam: spam image and check mark, and its entry's State and Checked alike.
    void MarkAsSpam(int row);
    // Marks every row whose entry isSpam finds; no mark is removed.
    void MarkSpamRows(const std::function<bool(const TMailEntry &)> &isSpam);
    // The data row of an entry, or -1.
    int RowOf(const TMailEntry *entry) const;
    // Counts the refills, clears and row removals: while it stays the same, every entry the list held
    // before is still alive and listed.
    quint64 Generation() const { return m_generation; }

    // The width that shows every column whole: the columns, the frame and a vertical scroll bar.
    int FullWidth() const;
    QList<int32_t> ColumnWidths() const;
    // Applies stored widths (up to the column count) without reporting them as a change.
    void ApplyColumnWidths(const QList<int32_t> &widths);

    std::function<void()> OnCurrentRowClicked;   // a click on a row: show its header
    // The current row or what it holds changed, however it happened (keys, mouse, sort, deletion,
    // refill). Reported once per turn of the event loop, after the change is complete.
    std::function<void()> OnCurrentRowChanged;
    std::function<void()> OnCheckChanged;        // a check mark changed
    std::function<void(int row, const QPoint &globalPos)> OnContextMenu; // right click on a data row
    std::function<void(const QList<int32_t> &)> OnColumnWidthsChanged;   // the user resized a column

private:
    void CurrentRowMayHaveChanged();

    TCheckBoxGrid *m_grid;
    bool m_currentChangePending = false;
    bool m_applyingWidths = false;
    bool m_readOnly = false;
    quint64 m_generation = 0;
};
