#include "ListGrid.h"

#include "CheckBoxGrid.h"
#include "QuarvelIcons.h"

void SetUpListGrid(TCheckBoxGrid *grid, const QStringList &titles, const QList<int> &widths)
{
    grid->SetColCount(int(titles.size()));
    grid->SetRowCount(2);
    for (int c = 0; c < titles.size(); ++c)
        grid->SetCell(c, 0, titles.at(c));
    grid->SetCheckBoxes(true);
    grid->SetCheckedCol(0);
    grid->SetImageList(ListImages());
    grid->SetAscendingImageIndex(liSortAscending);
    grid->SetDescendingImageIndex(liSortDescending);
    const qreal dpi = grid->logicalDpiY() > 0 ? grid->logicalDpiY() : 96;
    grid->SetDefaultRowHeight(qRound(18 * dpi / 96.0));
    for (int c = 0; c < widths.size(); ++c)
        grid->SetColWidth(c, widths.at(c));
}
