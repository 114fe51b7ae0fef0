#pragma once
// The look every list of the program shares.
#include <QList>
#include <QStringList>

class TCheckBoxGrid;

// Makes grid one of the program's lists: these column titles and design widths, check boxes in the first
// column, the shared images with the sort arrows in the titles, and the row height scaled to the screen.
void SetUpListGrid(TCheckBoxGrid *grid, const QStringList &titles, const QList<int> &widths);
