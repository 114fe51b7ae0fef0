// The message list with 10,000 messages: filling it, sorting it by size (the column compared through
// the grid's sort event by TMailEntry::Size), and both with the repaint they cause.
//
//   bench_messagelist [Google Benchmark options, e.g. --benchmark_repetitions=5]
//
// The messages are parsed from realistic header blocks once, before any timing. The list lives in a
// shown window on the offscreen platform (unless QT_QPA_PLATFORM says otherwise).
#include "BenchSupport.h"
#include "CheckBoxGrid.h"
#include "MessageListUnit.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <deque>

namespace {

constexpr int kMessages = 10000;
constexpr int kSizeColumn = 4;

struct Mailbox {
    std::deque<TMailEntry> entries; // stable addresses: the list and the grid keep pointers
    TMailList list;
};

// Made once in main, before any timing, and gone before the application.
Mailbox *g_box = nullptr;
struct ListWindow;
ListWindow *g_window = nullptr;

const Mailbox &mailbox()
{
    return *g_box;
}

void fillMailbox(Mailbox &b)
{
    QElapsedTimer t;
    t.start();
    bench::FillSampleEntries(b.entries, kMessages);
    for (TMailEntry &e : b.entries) {
        e.State = e.MsgNumber % 7 == 0 ? msSpam : msNormal;
        e.Checked = e.State == msSpam;
        b.list.Add(&e);
    }
    std::fprintf(stderr, "%d Nachrichten aus Kopfzeilen gelesen in %lld ms (nicht gemessen)\n", kMessages,
                 (long long)t.elapsed());
}

// The main window's list in a shown window, as the user would see it.
struct ListWindow {
    QWidget window;
    TMessageListView *view;
    ListWindow() : view(new TMessageListView(&window))
    {
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(view->Grid());
        window.resize(1000, 700);
        window.show();
        QCoreApplication::processEvents();
    }
};

ListWindow &listWindow()
{
    return *g_window;
}

bool sortedBySize(const TMessageListView &view)
{
    for (int r = 2; r <= view.MessageRows(); ++r)
        if (view.EntryAt(r - 1)->Size > view.EntryAt(r)->Size)
            return false;
    return true;
}

// Each fill starts from an empty list, as the program's refill after a check does.
void BM_FillList(benchmark::State &state)
{
    const Mailbox &box = mailbox();
    TMessageListView &view = *listWindow().view;
    for (auto _ : state) {
        state.PauseTiming();
        view.ClearList();
        QCoreApplication::processEvents();
        state.ResumeTiming();
        view.FillList(box.list);
    }
    if (view.MessageRows() != kMessages)
        state.SkipWithError("the list does not hold every message");
    state.SetItemsProcessed(state.iterations() * kMessages);
}

// The sort alone, each time from the order the server delivered.
void BM_SortBySize(benchmark::State &state)
{
    const Mailbox &box = mailbox();
    TMessageListView &view = *listWindow().view;
    for (auto _ : state) {
        state.PauseTiming();
        view.FillList(box.list);
        QCoreApplication::processEvents();
        state.ResumeTiming();
        view.Grid()->SortByColumn(kSizeColumn, true);
    }
    if (!sortedBySize(view))
        state.SkipWithError("the list is not sorted by size");
    state.SetItemsProcessed(state.iterations() * kMessages);
}

// Fill, sort by size and the repaint and layout work both leave in the event queue.
void BM_FillListSortAndPaint(benchmark::State &state)
{
    const Mailbox &box = mailbox();
    TMessageListView &view = *listWindow().view;
    for (auto _ : state) {
        state.PauseTiming();
        view.ClearList();
        QCoreApplication::processEvents();
        state.ResumeTiming();
        view.FillList(box.list);
        view.Grid()->SortByColumn(kSizeColumn, true);
        QCoreApplication::processEvents();
    }
    if (view.MessageRows() != kMessages || !sortedBySize(view))
        state.SkipWithError("the list is not filled and sorted by size");
    state.SetItemsProcessed(state.iterations() * kMessages);
}

} // namespace

BENCHMARK(BM_FillList)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", bench::Min);
BENCHMARK(BM_SortBySize)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", bench::Min);
BENCHMARK(BM_FillListSortAndPaint)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", bench::Min);

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Mailbox box;
    fillMailbox(box);
    g_box = &box;
    ListWindow window;
    g_window = &window;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
