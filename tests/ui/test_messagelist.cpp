#include "CheckBoxGrid.h"
#include "MessageListUnit.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QWidget>

#include <memory>

TEST(MessageList, SizeTexts)
{
    struct Case {
        qint64 size;
        const char *text;
    } cases[] = {
        {0, "0 Byte"},          {99, "99 Byte"},         {100, "0 KB"},
        {1023, "0 KB"},         {1024, "1 KB"},          {1048576, "1024 KB"},
        {1048577, "1 MB"},      {1073741824, "1024 MB"}, {1073741825, "1 GB"},
        {5368709120LL, "5 GB"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(SizeText(c.size), QString::fromLatin1(c.text)) << c.size;
}

namespace {

struct ListFixture : ::testing::Test {
    QWidget parent;
    TMessageListView view{&parent};
    std::vector<std::unique_ptr<TMailEntry>> entries;
    TMailList list;

    TMailEntry *add(const QByteArray &header, int size, int state = msNormal)
    {
        auto e = std::make_unique<TMailEntry>();
        e->Message.FillFromHeader(header);
        e->Size = size;
        e->State = state;
        e->Checked = state == msSpam;
        e->Host = QStringLiteral("pop.example");
        e->UserName = QStringLiteral("anna");
        list.Add(e.get());
        entries.push_back(std::move(e));
        return entries.back().get();
    }
};

} // namespace

TEST_F(ListFixture, RowsShowTheSixColumnsAndTheEmptyListKeepsItsTitles)
{
    EXPECT_TRUE(view.IsEmpty());
    EXPECT_EQ(view.Grid()->Cell(4, 0), QStringLiteral("Größe"));
    add("From: Anna Muster <anna@example.org>\r\nTo: bert@example.org\r\nSubject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\r\n", 2048);
    add("From: x@example.org\r\nSubject: ohne Empfänger\r\n", 99, msSpam);
    view.FillList(list);
    TCheckBoxGrid &g = *view.Grid();
    ASSERT_EQ(view.MessageRows(), 2);
    EXPECT_EQ(g.Cell(0, 1), QStringLiteral("Anna Muster <anna@example.org>"));
    EXPECT_EQ(g.Cell(1, 1), QStringLiteral("bert@example.org"));
    EXPECT_EQ(g.Cell(2, 1), QStringLiteral("Grüße"));
    EXPECT_EQ(g.Cell(4, 1), QStringLiteral("2 KB "));
    EXPECT_EQ(g.Cell(5, 1), QStringLiteral("anna@pop.example"));
    EXPECT_EQ(g.Cell(1, 2), QStringLiteral("Unbekannt"));
    EXPECT_EQ(g.GetImageIndex(0, 2), int(msSpam));
    EXPECT_TRUE(g.GetChecked(0, 2));
    EXPECT_EQ(entries[1]->Row, 2);
    EXPECT_EQ(view.CheckedCount(), 1);

    view.DeleteRows({1, 2});
    EXPECT_TRUE(view.IsEmpty());
    EXPECT_EQ(g.Cell(0, 0), QStringLiteral("Von"));
}

TEST_F(ListFixture, SortingBySizeComparesTheSizesNotTheTexts)
{
    add("Subject: ten\r\n", 10 * 1024);
    add("Subject: two\r\n", 2 * 1024);
    add("Subject: huge\r\n", 3 * 1048576);
    view.FillList(list);
    view.Grid()->SortByColumn(4, true);
    EXPECT_EQ(view.Grid()->Cell(2, 1), QStringLiteral("two"));
    EXPECT_EQ(view.Grid()->Cell(2, 2), QStringLiteral("ten"));
    EXPECT_EQ(view.Grid()->Cell(2, 3), QStringLiteral("huge"));
    EXPECT_EQ(view.EntryAt(1)->Size, 2 * 1024); // the entries moved with their rows
    view.Grid()->SortByColumn(4, false);
    EXPECT_EQ(view.Grid()->Cell(2, 1), QStringLiteral("huge"));
}

TEST_F(ListFixture, StoredWidthsApplyWithoutBeingSavedAgainAndUserChangesAreReported)
{
    int reports = 0;
    QList<int32_t> last;
    view.OnColumnWidthsChanged = [&](const QList<int32_t> &w) {
        ++reports;
        last = w;
    };
    view.ApplyColumnWidths({111, 122, 133});
    EXPECT_EQ(reports, 0);
    EXPECT_EQ(view.ColumnWidths().mid(0, 3), (QList<int32_t>{111, 122, 133}));
    view.Grid()->SetColWidth(2, 77); // as a drag of the column border does
    EXPECT_GE(reports, 1);
    EXPECT_EQ(last.size(), TMessageListView::kColumns);
    EXPECT_EQ(last.at(2), 77);
}
