#include "CheckBoxGrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QPixmap>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>
#include <vector>

namespace {

struct TCheckEvent {
    int Col;
    int Row;
    bool State;
    bool operator==(const TCheckEvent &o) const { return Col == o.Col && Row == o.Row && State == o.State; }
};

std::ostream &operator<<(std::ostream &os, const TCheckEvent &e)
{
    return os << "(" << e.Col << ", " << e.Row << ", " << e.State << ")";
}

QIcon ColourIcon(Qt::GlobalColor colour)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

// A shown grid of three columns whose rows each carry an object (an int in m_values) in column 0.
class GridTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        grid = std::make_unique<TCheckBoxGrid>();
        grid->SetColCount(3);
        grid->SetCell(0, 0, QStringLiteral("Name"));
        grid->SetCell(1, 0, QStringLiteral("Größe"));
        grid->SetCell(2, 0, QStringLiteral("Datum"));
        grid->SetSortLocale(QLocale(QLocale::German, QLocale::Germany));
        grid->SetImageList({ColourIcon(Qt::blue), ColourIcon(Qt::green), ColourIcon(Qt::red)});
        grid->SetAscendingImageIndex(1);
        grid->SetDescendingImageIndex(2);
        grid->resize(480, 320);
        for (int c = 0; c < 3; ++c)
            grid->SetColWidth(c, 140);
        grid->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(grid.get()));
        grid->OnSetChecked = [this](TCheckBoxGrid *, int col, int row, bool state) {
            checks.push_back({col, row, state});
        };
    }

    // Fills the grid with one row per name; column 1 and 2 get the given texts when present.
    void Fill(const QStringList &names, const QStringList &second = {}, const QStringList &third = {})
    {
        values.assign(size_t(names.size()), 0);
        ASSERT_TRUE(grid->BeginUpdate());
        grid->ClearGrid();
        for (int i = 0; i < names.size(); ++i) {
            const int row = i + 1;
            grid->SetRowCount(row + 1);
            grid->SetCell(0, row, names[i]);
            grid->SetCell(1, row, i < second.size() ? second[i] : QString());
            grid->SetCell(2, row, i < third.size() ? third[i] : QString());
            values[size_t(i)] = i;
            grid->SetCellObject(0, row, &values[size_t(i)]);
        }
        grid->EndUpdate();
    }

    QStringList Column(int col) const
    {
        QStringList texts;
        for (int r = 1; r < grid->RowCount(); ++r)
            texts << grid->Cell(col, r);
        return texts;
    }

    QPoint InViewport(const QPoint &gridPoint) const { return grid->viewport()->mapFrom(grid.get(), gridPoint); }
    QPoint CheckBoxCentre(int row) const { return InViewport(grid->CheckBoxRect(0, row).center()); }
    // A point on the cell's text, well right of any check box or image.
    QPoint CellText(int col, int row) const
    {
        const QRect cell = grid->CellRect(col, row);
        return InViewport(QPoint(cell.right() - 10, cell.center().y()));
    }
    QPoint TitleCentre(int col) const
    {
        QHeaderView *titles = grid->horizontalHeader();
        return QPoint(titles->sectionViewportPosition(col) + titles->sectionSize(col) / 2,
                      titles->viewport()->height() / 2);
    }

    // A real double click: press, release, double-click press, release.
    static void DoubleClick(QWidget *widget, const QPoint &pos)
    {
        QTest::mousePress(widget, Qt::LeftButton, {}, pos);
        QTest::mouseRelease(widget, Qt::LeftButton, {}, pos);
        QTest::mouseDClick(widget, Qt::LeftButton, {}, pos);
        QTest::mouseRelease(widget, Qt::LeftButton, {}, pos);
    }

    std::unique_ptr<TCheckBoxGrid> grid;
    std::vector<int> values;
    std::vector<TCheckEvent> checks;
};

TEST_F(GridTest, AClickOnTheCheckBoxTogglesTheMarkAndReportsIt)
{
    Fill({"a", "b", "c"});
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, CheckBoxCentre(2));
    EXPECT_TRUE(grid->GetChecked(0, 2));
    EXPECT_EQ(grid->Row(), 2);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, CheckBoxCentre(3));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, CheckBoxCentre(2));
    EXPECT_FALSE(grid->GetChecked(0, 2));
    EXPECT_EQ(checks, (std::vector<TCheckEvent>{{0, 2, true}, {0, 3, true}, {0, 2, false}}));
    EXPECT_EQ(grid->CheckedCount(), 1);
    EXPECT_TRUE(grid->AnyChecked());

    // Beside the box, or in another column, a click only selects the row.
    checks.clear();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, CellText(0, 1));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, CellText(1, 3));
    EXPECT_FALSE(grid->GetChecked(0, 1));
    EXPECT_TRUE(grid->GetChecked(0, 3));
    EXPECT_TRUE(checks.empty());
    EXPECT_EQ(grid->Row(), 3);

    // The space key toggles the mark of the selected row.
    QTest::keyClick(grid.get(), Qt::Key_Space);
    EXPECT_FALSE(grid->GetChecked(0, 3));
    EXPECT_EQ(checks, (std::vector<TCheckEvent>{{0, 3, false}}));
}

TEST_F(GridTest, SetCheckedFiresOnlyForRealChangesOutsideAnUpdate)
{
    Fill({"a", "b"});
    grid->SetChecked(0, 1, false); // unchanged
    grid->SetChecked(1, 1, true);  // not the check column
    EXPECT_FALSE(grid->GetChecked(1, 1));
    grid->SetChecked(0, 0, true); // the title row keeps the mark silently
    EXPECT_TRUE(checks.empty());

    ASSERT_TRUE(grid->BeginUpdate());
    EXPECT_FALSE(grid->BeginUpdate()) << "an update runs already";
    grid->SetChecked(0, 2, true);
    grid->EndUpdate();
    EXPECT_TRUE(grid->GetChecked(0, 2));
    EXPECT_TRUE(checks.empty());
    EXPECT_TRUE(grid->isEnabled()) << "the update gives the enabled state back";

    grid->SetChecked(0, 1, true);
    EXPECT_EQ(checks, (std::vector<TCheckEvent>{{0, 1, true}}));
}

TEST_F(GridTest, ADoubleClickOutsideTheCheckBoxFiresTheCellEventThenTheViewsOwn)
{
    Fill({"a", "b", "c"});
    std::vector<QString> order;
    std::vector<std::pair<int, int>> cells;
    grid->OnCellDblClick = [&](TCheckBoxGrid *sender, int col, int row) {
        EXPECT_EQ(sender->Row(), row) << "the clicked row is current when the event fires";
        cells.emplace_back(col, row);
        order.push_back(QStringLiteral("cell"));
    };
    QObject::connect(grid.get(), &QAbstractItemView::doubleClicked, grid.get(),
                     [&] { order.push_back(QStringLiteral("view")); });

    DoubleClick(grid->viewport(), CellText(1, 2));
    EXPECT_EQ(cells, (std::vector<std::pair<int, int>>{{1, 2}}));
    EXPECT_EQ(order, (std::vector<QString>{"cell", "view"}));
    DoubleClick(grid->viewport(), CellText(0, 3)); // column 0 beside the box
    EXPECT_EQ(cells.back(), std::make_pair(0, 3));
    EXPECT_TRUE(checks.empty());

    // On the box each of the two presses toggles; the double click itself is not reported.
    cells.clear();
    DoubleClick(grid->viewport(), CheckBoxCentre(1));
    EXPECT_TRUE(cells.empty());
    EXPECT_FALSE(grid->GetChecked(0, 1));
    EXPECT_EQ(checks, (std::vector<TCheckEvent>{{0, 1, true}, {0, 1, false}}));

    // An empty grid ignores double clicks.
    grid->ClearGrid();
    DoubleClick(grid->viewport(), CellText(1, 1));
    EXPECT_TRUE(cells.empty());
}

TEST_F(GridTest, ThreeTitleClicksSortAscendingDescendingAscending)
{
    Fill({"Berta", "anton", "Cäsar", "Dora"});
    grid->SetChecked(0, 1, true);      // Berta
    grid->SetImageIndex(0, 3, 2);      // Cäsar
    grid->SetRow(4);
    const auto objectOf = [this](const QString &name) {
        const int row = grid->FindRow(0, name, true);
        return row < 0 ? -1 : *grid->CellObject<int>(0, row);
    };

    QTest::mouseClick(grid->horizontalHeader()->viewport(), Qt::LeftButton, {}, TitleCentre(0));
    EXPECT_EQ(Column(0), (QStringList{"anton", "Berta", "Cäsar", "Dora"}));
    EXPECT_EQ(grid->GetSortState(0), 1);
    EXPECT_EQ(grid->Row(), 1);
    EXPECT_FALSE(grid->model()->headerData(0, Qt::Horizontal, Qt::DecorationRole).isNull());
    EXPECT_TRUE(grid->model()->headerData(1, Qt::Horizontal, Qt::DecorationRole).isNull());

    QTest::mouseClick(grid->horizontalHeader()->viewport(), Qt::LeftButton, {}, TitleCentre(0));
    EXPECT_EQ(Column(0), (QStringList{"Dora", "Cäsar", "Berta", "anton"}));
    EXPECT_EQ(grid->GetSortState(0), 2);

    QTest::mouseClick(grid->horizontalHeader()->viewport(), Qt::LeftButton, {}, TitleCentre(0));
    EXPECT_EQ(Column(0), (QStringList{"anton", "Berta", "Cäsar", "Dora"}));
    EXPECT_EQ(grid->GetSortState(0), 1);

    // Whole rows moved: objects, check marks and images went with their texts.
    EXPECT_EQ(objectOf("Berta"), 0);
    EXPECT_EQ(objectOf("anton"), 1);
    EXPECT_EQ(objectOf("Cäsar"), 2);
    EXPECT_EQ(objectOf("Dora"), 3);
    EXPECT_TRUE(grid->GetChecked(0, 2));
    EXPECT_EQ(grid->GetImageIndex(0, 3), 2);
    EXPECT_EQ(grid->CheckedCount(), 1);

    // Another title takes the marker over.
    QTest::mouseClick(grid->horizontalHeader()->viewport(), Qt::LeftButton, {}, TitleCentre(1));
    EXPECT_EQ(grid->GetSortState(0), 0);
    EXPECT_EQ(grid->GetSortState(1), 1);
    grid->ClearSortMarkers();
    EXPECT_EQ(grid->GetSortState(1), 0);
    EXPECT_TRUE(grid->model()->headerData(1, Qt::Horizontal, Qt::DecorationRole).isNull());
}

TEST_F(GridTest, DraggingAColumnBorderResizesWithoutSorting)
{
    Fill({"b", "a", "c"});
    int widthEvents = 0;
    grid->OnColWidthsChanged = [&](TCheckBoxGrid *) { ++widthEvents; };
    QHeaderView *titles = grid->horizontalHeader();
    const QPoint border(titles->sectionViewportPosition(1) - 1, titles->viewport()->height() / 2);
    const int before = grid->ColWidth(0);

    QTest::mousePress(titles->viewport(), Qt::LeftButton, {}, border);
    QTest::mouseMove(titles->viewport(), border + QPoint(40, 0));
    QTest::mouseRelease(titles->viewport(), Qt::LeftButton, {}, border + QPoint(40, 0));

    EXPECT_EQ(grid->ColWidth(0), before + 40);
    EXPECT_GT(widthEvents, 0);
    EXPECT_EQ(Column(0), (QStringList{"b", "a", "c"}));
    EXPECT_EQ(grid->GetSortState(0), 0);
    EXPECT_EQ(grid->GetSortState(1), 0);
}

TEST_F(GridTest, TitleClicksDoNotSortAnEmptyGridOrWhenSwitchedOff)
{
    QTest::mouseClick(grid->horizontalHeader()->viewport(), Qt::LeftButton, {}, TitleCentre(0));
    EXPECT_EQ(grid->GetSortState(0), 0);

    Fill({"b", "a"});
    grid->SetColumnClick(false);
    QTest::mouseClick(grid->horizontalHeader()->viewport(), Qt::LeftButton, {}, TitleCentre(0));
    EXPECT_EQ(Column(0), (QStringList{"b", "a"}));
    EXPECT_EQ(grid->GetSortState(0), 0);
}

TEST_F(GridTest, DeleteRowKeepsTheLastDataRowAndMovesTheCurrentRowAlong)
{
    Fill({"only"});
    grid->SetChecked(0, 1, true);
    for (const int row : {1, 0, 2, -1})
        grid->DeleteRow(row);
    EXPECT_EQ(grid->RowCount(), 2);
    EXPECT_EQ(grid->Cell(0, 1), "only");
    EXPECT_TRUE(grid->GetChecked(0, 1));
    EXPECT_EQ(*grid->CellObject<int>(0, 1), 0);

    Fill({"a", "b", "c", "d"});
    grid->SetChecked(0, 3, true);
    grid->SetRow(3);
    grid->DeleteRow(2);
    EXPECT_EQ(Column(0), (QStringList{"a", "c", "d"}));
    EXPECT_EQ(grid->Row(), 2) << "the current row follows its row up";
    EXPECT_EQ(grid->SelectedCellText(0), "c");
    EXPECT_TRUE(grid->GetChecked(0, 2));
    EXPECT_FALSE(grid->GetChecked(0, 3));
    EXPECT_EQ(*grid->CellObject<int>(0, 2), 2);
    grid->DeleteRow(3);
    EXPECT_EQ(grid->Row(), 2);
    grid->DeleteRow(2);
    EXPECT_EQ(grid->Row(), 1);
    EXPECT_EQ(grid->model()->rowCount(), 1);
}

TEST_F(GridTest, ClearGridKeepsTheWidthsWithoutFiringTheWidthEvent)
{
    Fill({"b", "a"}, {"1", "2"});
    grid->SetChecked(0, 2, true);
    grid->SortByColumn(0, true);
    grid->SetColWidth(0, 90);
    grid->SetColWidth(1, 210);
    int widthEvents = 0;
    grid->OnColWidthsChanged = [&](TCheckBoxGrid *) { ++widthEvents; };

    grid->ClearGrid();
    EXPECT_EQ(widthEvents, 0);
    EXPECT_EQ(grid->ColWidth(0), 90);
    EXPECT_EQ(grid->ColWidth(1), 210);
    EXPECT_TRUE(grid->IsEmpty());
    EXPECT_EQ(grid->RowCount(), 2);
    EXPECT_EQ(grid->Cell(1, 0), "Größe") << "titles stay";
    EXPECT_EQ(grid->GetSortState(0), 0);
    EXPECT_FALSE(grid->AnyChecked());
    EXPECT_EQ(grid->GetCellObject(0, 1), nullptr);
    EXPECT_EQ(grid->CheckBoxRect(0, 1), QRect()) << "an empty grid shows no check box";
    EXPECT_TRUE(grid->isEnabled());

    // Refilling inside an update keeps the widths too, and the view sees the new rows.
    Fill({"x", "y", "z"});
    EXPECT_EQ(widthEvents, 0);
    EXPECT_EQ(grid->ColWidth(1), 210);
    EXPECT_EQ(grid->model()->rowCount(), 3);
    EXPECT_EQ(grid->Row(), 1);
    EXPECT_EQ(grid->SelCount(), 1);

    grid->SetColWidth(1, 100);
    EXPECT_EQ(widthEvents, 1) << "the event is attached again";
}

// The main window disables its panel while it deletes mail and refills the list meanwhile.
TEST(CheckBoxGrid, ARefillWhileTheParentIsDisabledLeavesTheGridUsableAfterwards)
{
    QWidget panel;
    auto *grid = new TCheckBoxGrid(&panel);
    grid->SetColCount(2);
    panel.setEnabled(false);
    ASSERT_TRUE(grid->BeginUpdate());
    grid->ClearGrid();
    grid->SetCell(0, 1, QStringLiteral("a"));
    grid->EndUpdate();
    grid->SortByColumn(0, true);
    panel.setEnabled(true);
    EXPECT_TRUE(grid->isEnabled());

    // A grid the owner disabled itself stays disabled.
    grid->setEnabled(false);
    grid->ClearGrid();
    ASSERT_TRUE(grid->BeginUpdate());
    grid->EndUpdate();
    EXPECT_FALSE(grid->isEnabled());
}

TEST_F(GridTest, IsEmptyMeansOneDataRowWithoutText)
{
    EXPECT_TRUE(grid->IsEmpty());
    EXPECT_EQ(grid->CheckedCount(), 0);
    grid->SetCell(2, 1, QStringLiteral("x"));
    EXPECT_FALSE(grid->IsEmpty());
    grid->SetCell(2, 1, QString());
    grid->SetRowCount(3);
    EXPECT_FALSE(grid->IsEmpty());
    grid->SetRowCount(0);
    EXPECT_EQ(grid->RowCount(), 2);
    EXPECT_TRUE(grid->IsEmpty());
    // A check mark in an empty grid does not count.
    grid->SetChecked(0, 1, true);
    EXPECT_FALSE(grid->AnyChecked());
}

TEST_F(GridTest, TypedColumnsSortByTheirValues)
{
    const struct Case {
        const char *name;
        TColDataTypes type;
        QString sep;
        QStringList texts;
        QStringList ascending;
    } cases[] = {
        {"text in German order, case matters",
         cdtString,
         " ",
         {"Zebra", "Äpfel", "apfel", "Öl", "Banane", "Apfel", "Ofen"},
         {"apfel", "Apfel", "Äpfel", "Banane", "Ofen", "Öl", "Zebra"}},
        {"integers; what does not convert counts as 0",
         cdtInteger,
         " ",
         {"10", "9", "100", "-3", "abc"},
         {"-3", "abc", "9", "10", "100"}},
        {"integers before the separator", cdtInteger, " ", {"10 KB", "9 KB", "100 KB"}, {"9 KB", "10 KB", "100 KB"}},
        {"German decimal comma", cdtFloat, " ", {"1,5", "10,25", "2", "-0,5"}, {"-0,5", "1,5", "2", "10,25"}},
        {"dates, then the time after the blank is not read",
         cdtDate,
         " ",
         {"24.12.2025 10:00", "3.1.2026 08:00", "01.02.2025 23:59", "kein Datum"},
         {"kein Datum", "01.02.2025 23:59", "24.12.2025 10:00", "3.1.2026 08:00"}},
        {"times", cdtTime, "", {"9:05", "14:30:10", "08:59:59", "25:00"}, {"25:00", "08:59:59", "9:05", "14:30:10"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Fill(c.texts, c.texts);
        int asked = 0;
        grid->OnGetColDataType = [&](TCheckBoxGrid *, int col, TColDataTypes &type, QString &sep) {
            ++asked;
            EXPECT_EQ(col, 1);
            EXPECT_EQ(type, cdtString);
            EXPECT_EQ(sep, " ");
            type = c.type;
            sep = c.sep;
        };
        grid->SortByColumn(1, true);
        EXPECT_EQ(Column(1), c.ascending);
        EXPECT_EQ(Column(0), c.ascending) << "whole rows move";
        grid->SortByColumn(1, false);
        QStringList descending = c.ascending;
        std::reverse(descending.begin(), descending.end());
        EXPECT_EQ(Column(1), descending);
        EXPECT_EQ(asked, 2);
    }
}

TEST_F(GridTest, CheckMarkColumnsSortUncheckedFirst)
{
    Fill({"a", "b", "c", "d"});
    grid->SetChecked(0, 1, true);
    grid->SetChecked(0, 3, true);
    grid->OnGetColDataType = [](TCheckBoxGrid *, int, TColDataTypes &type, QString &) { type = cdtCheckMark; };
    grid->SortByColumn(0, true);
    QStringList checkedLast = Column(0).mid(2);
    checkedLast.sort();
    EXPECT_EQ(checkedLast, (QStringList{"a", "c"}));
    EXPECT_FALSE(grid->GetChecked(0, 1));
    EXPECT_FALSE(grid->GetChecked(0, 2));
    EXPECT_TRUE(grid->GetChecked(0, 3));
    EXPECT_TRUE(grid->GetChecked(0, 4));
}

TEST_F(GridTest, UserColumnsCompareThroughTheEvent)
{
    // The texts sort the wrong way round; the objects carry the real sizes.
    Fill({"a", "b", "c", "d"}, {"2 KB", "10 KB", "1 KB", "200 Byte"});
    std::vector<int> sizes = {2048, 10240, 1024, 200};
    for (int r = 1; r <= 4; ++r)
        grid->SetCellObject(0, r, &sizes[size_t(r - 1)]);
    grid->OnGetColDataType = [](TCheckBoxGrid *, int col, TColDataTypes &type, QString &) {
        if (col == 1)
            type = cdtUser;
    };

    // Without the compare event the rows keep their order, but the title shows the sort.
    grid->SortByColumn(1, true);
    EXPECT_EQ(Column(1), (QStringList{"2 KB", "10 KB", "1 KB", "200 Byte"}));
    EXPECT_EQ(grid->GetSortState(1), 1);

    int calls = 0;
    grid->OnGetColSortResult = [&](TCheckBoxGrid *sender, int col1, int row1, int col2, int row2, int &result) {
        ++calls;
        EXPECT_EQ(col1, 1);
        EXPECT_EQ(col2, 1);
        const int a = *sender->CellObject<int>(0, row1);
        const int b = *sender->CellObject<int>(0, row2);
        result = a < b ? -1 : (a > b ? 1 : 0);
    };
    QTest::mouseClick(grid->horizontalHeader()->viewport(), Qt::LeftButton, {}, TitleCentre(1));
    EXPECT_EQ(Column(1), (QStringList{"10 KB", "2 KB", "1 KB", "200 Byte"})) << "second click: descending";
    QTest::mouseClick(grid->horizontalHeader()->viewport(), Qt::LeftButton, {}, TitleCentre(1));
    EXPECT_EQ(Column(1), (QStringList{"200 Byte", "1 KB", "2 KB", "10 KB"}));
    EXPECT_GT(calls, 0);
}

TEST_F(GridTest, RightClickSelectsTheRowUnlessSwitchedOff)
{
    Fill({"a", "b", "c"});
    grid->SetRow(1);
    QTest::mouseClick(grid->viewport(), Qt::RightButton, {}, CellText(2, 3));
    EXPECT_EQ(grid->Row(), 3);
    EXPECT_EQ(grid->SelectedCellText(-1), "c");
    EXPECT_EQ(grid->SelCount(), 1);

    grid->SetRightClickSelecteds(false);
    QTest::mouseClick(grid->viewport(), Qt::RightButton, {}, CellText(2, 2));
    EXPECT_EQ(grid->Row(), 3);
    EXPECT_TRUE(checks.empty());
}

TEST_F(GridTest, CellHintsOfferTheTextAndLetTheOwnerDecide)
{
    Fill({"a", "ein langer Betreff"}, {"x", "y"});
    grid->SetShowCellHints(true);
    std::vector<std::tuple<int, int, QString>> asked;
    grid->OnShowHintCell = [&](TCheckBoxGrid *, int col, int row, QString &hint, bool &canShow, TCheckBoxGrid::THintInfo &info) {
        asked.emplace_back(col, row, hint);
        EXPECT_EQ(info.CellRect, grid->CellRect(col, row));
        canShow = false;
    };
    const QPoint pos = CellText(0, 2);
    QHelpEvent help(QEvent::ToolTip, pos, grid->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(grid->viewport(), &help);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], std::make_tuple(0, 2, QString("ein langer Betreff")));

    grid->SetShowCellHints(false);
    QApplication::sendEvent(grid->viewport(), &help);
    EXPECT_EQ(asked.size(), 1u);
}

TEST_F(GridTest, FindRowWithAndWithoutCase)
{
    Fill({"Ärger", "Post", "post"});
    EXPECT_EQ(grid->FindRow(0, "post", true), 3);
    EXPECT_EQ(grid->FindRow(0, "POST", false), 2);
    EXPECT_EQ(grid->FindRow(0, "ärger", false), 1);
    EXPECT_EQ(grid->FindRow(0, "ärger", true), -1);
    EXPECT_EQ(grid->FindRow(0, "Name", true), -1) << "the title row is not searched";
    EXPECT_EQ(grid->FindRow(7, "Post", true), -1);
}

TEST_F(GridTest, LongTextsAreReportedAsCut)
{
    Fill({"kurz", QString(60, QLatin1Char('W'))});
    EXPECT_FALSE(grid->IsCellTextCut(0, 1));
    EXPECT_TRUE(grid->IsCellTextCut(0, 2));
    EXPECT_FALSE(grid->IsCellTextCut(1, 2)) << "an empty cell is never cut";
}

// The quicksort alone, against std::sort, on data full of duplicates.
TEST(QuickSortRows, SortsLikeStdSortAndStaysInRange)
{
    QRandomGenerator random(4711);
    for (const int size : {0, 1, 2, 3, 5, 8, 17, 64, 300}) {
        for (const bool ascending : {true, false}) {
            std::vector<int> values(static_cast<size_t>(size));
            for (int &v : values)
                v = int(random.bounded(size / 3 + 1));
            std::vector<int> expected = values;
            std::sort(expected.begin(), expected.end());
            if (!ascending)
                std::reverse(expected.begin(), expected.end());
            // Index 0 plays the title row and must not move.
            std::vector<int> rows = {-1};
            rows.insert(rows.end(), values.begin(), values.end());
            QuickSortRows(
                1, size, ascending,
                [&](int a, int b) { return rows.at(size_t(a)) < rows.at(size_t(b)) ? -1 : (rows.at(size_t(a)) > rows.at(size_t(b)) ? 1 : 0); },
                [&](int a, int b) {
                    EXPECT_GE(std::min(a, b), 1);
                    EXPECT_LE(std::max(a, b), size);
                    std::swap(rows.at(size_t(a)), rows.at(size_t(b)));
                });
            EXPECT_EQ(rows.front(), -1);
            EXPECT_EQ(std::vector<int>(rows.begin() + 1, rows.end()), expected) << size << " " << ascending;
        }
    }
}

TEST(QuickSortRows, AContradictoryCompareNeitherLeavesTheRangeNorHangs)
{
    for (const int answer : {-1, 1}) {
        std::vector<int> rows(20);
        int exchanges = 0;
        QuickSortRows(
            1, 19, true,
            [&](int a, int b) {
                EXPECT_GE(std::min(a, b), 1);
                EXPECT_LE(std::max(a, b), 19);
                return answer;
            },
            [&](int a, int b) {
                EXPECT_GE(std::min(a, b), 1);
                EXPECT_LE(std::max(a, b), 19);
                ++exchanges;
            });
        EXPECT_LT(exchanges, 1000);
    }
}

TEST(CellValues, ConvertTheTextBeforeTheSeparator)
{
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(CellValueText("12 KB ", " "), "12");
    EXPECT_EQ(CellValueText(" 12 KB", ""), "12 KB");
    EXPECT_EQ(CellValueText("3;4", ";"), "3");
    EXPECT_EQ(CellIntegerValue("+42"), 42);
    EXPECT_EQ(CellIntegerValue("4x"), 0);
    EXPECT_EQ(CellIntegerValue("9223372036854775807"), INT64_C(9223372036854775807));
    EXPECT_DOUBLE_EQ(CellFloatValue("1.234,5", german), 1234.5);
    EXPECT_DOUBLE_EQ(CellFloatValue("nan", german), 0.0);
    EXPECT_EQ(CellDateValue("31.12.1899", german), 1);
    EXPECT_EQ(CellDateValue("2025-12-24", german), CellDateValue("24.12.2025", german)) << "ISO form";
    EXPECT_EQ(CellDateValue("31.02.2025", german), 0);
    EXPECT_EQ(CellDateValue("12/24/2025", QLocale(QLocale::English, QLocale::UnitedStates)),
              CellDateValue("24.12.2025", german));
    EXPECT_EQ(CellTimeValue("00:00:01"), 1000);
    EXPECT_EQ(CellTimeValue("12:60"), 0);
}

} // namespace
