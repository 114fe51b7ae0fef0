// The spam detector on 10,000 messages against 200 rules of every kind (subject and header-field rules,
// every operation, the joined Received lines among them): time per message; and the same with 50
// exceptions ("never spam") besides, which are asked first.
//
//   bench_spamdetector [--entries N] [--rules N] [--allow N] [Google Benchmark options, e.g.
//                      --benchmark_repetitions=5]
//
// The messages are parsed from realistic header blocks once, before any timing; most of them are no
// spam and are compared with every rule. Besides the whole list, the rules are timed in three groups
// (subject rules, header-field rules on "Received", the other header-field rules) to show where the
// time goes. BM_PrepareRules is what a change of the rule list costs once: the detector prepares the
// rules again at its next call.
#include "BenchSupport.h"
#include "PreparedRules.h"
#include "SpamDetectorUnit.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Data {
    std::deque<TMailEntry> entries;
    QList<TSimpleFilter> rules;
    QList<TSimpleFilter> allow; // the exceptions
};

// One detector over a selection of the rules.
struct RuleSet {
    std::string name;
    TFilterList list; // points into Data::rules
    TProgramSettings settings;
};

int countSpam(const TSpamDetector &detector, const std::deque<TMailEntry> &entries)
{
    int spam = 0;
    for (const TMailEntry &e : entries)
        spam += detector.IsSpam(e) ? 1 : 0;
    return spam;
}

void BM_IsSpam(benchmark::State &state, const Data *data, const RuleSet *set)
{
    const TSpamDetector detector(set->settings);
    int spam = 0;
    for (auto _ : state) {
        spam = countSpam(detector, data->entries);
        benchmark::DoNotOptimize(spam);
    }
    const double n = double(data->entries.size());
    state.SetItemsProcessed(state.iterations() * int64_t(n));
    // Seconds per entry, shown with a fitting unit.
    state.counters["per_entry"] =
        benchmark::Counter(n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["rules"] = double(set->list.size());
    state.counters["spam"] = spam;
}

void BM_PrepareRules(benchmark::State &state, const RuleSet *set)
{
    for (auto _ : state) {
        const TPreparedRules prepared(set->list);
        benchmark::DoNotOptimize(&prepared);
    }
    state.counters["rules"] = double(set->list.size());
}

bool isReceivedRule(const TSimpleFilter &r)
{
    return r.Kind == fkHeaderField && r.HeaderField == QLatin1String("Received");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int entryCount = std::max(1, bench::ArgValue(argc, argv, "--entries", 10000));
    const int ruleCount = std::max(3, bench::ArgValue(argc, argv, "--rules", 200));
    const int allowCount = std::max(0, bench::ArgValue(argc, argv, "--allow", 50));
    // Our own options go before Google Benchmark sees the rest.
    std::vector<char *> rest;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && i + 1 < argc &&
            (std::strcmp(argv[i], "--entries") == 0 || std::strcmp(argv[i], "--rules") == 0 ||
             std::strcmp(argv[i], "--allow") == 0))
            ++i;
        else
            rest.push_back(argv[i]);
    }
    int restCount = int(rest.size());
    benchmark::Initialize(&restCount, rest.data());

    Data data;
    QElapsedTimer t;
    t.start();
    bench::FillSampleEntries(data.entries, entryCount);
    data.rules = bench::MixedRules(ruleCount);
    data.allow = bench::AllowRules(allowCount);
    std::fprintf(stderr, "%d Nachrichten aus Kopfzeilen gelesen in %lld ms (nicht gemessen)\n", entryCount,
                 (long long)t.elapsed());

    // The whole list, then the groups; each keeps the list order.
    const std::vector<std::pair<std::string, std::function<bool(const TSimpleFilter &)>>> selections = {
        {"all", [](const TSimpleFilter &) { return true; }},
        {"subject", [](const TSimpleFilter &r) { return r.Kind == fkSubject; }},
        {"received", [](const TSimpleFilter &r) { return isReceivedRule(r); }},
        {"other_fields", [](const TSimpleFilter &r) { return r.Kind == fkHeaderField && !isReceivedRule(r); }},
    };
    std::deque<RuleSet> sets;
    for (const auto &[name, wanted] : selections) {
        RuleSet &set = sets.emplace_back();
        set.name = name;
        for (TSimpleFilter &r : data.rules)
            if (wanted(r))
                set.list.append(&r);
        set.settings.Filters = &set.list;
    }
    // Every spam rule and the exceptions after them: the exceptions are asked first all the same.
    RuleSet &withAllow = sets.emplace_back();
    withAllow.name = "all_with_allow";
    withAllow.list = sets.front().list;
    for (TSimpleFilter &r : data.allow)
        withAllow.list.append(&r);
    withAllow.settings.Filters = &withAllow.list;

    int active = 0, received = 0, subject = 0;
    int perOperation[5] = {};
    for (const TSimpleFilter &r : data.rules) {
        active += r.Active ? 1 : 0;
        received += isReceivedRule(r) ? 1 : 0;
        subject += r.Kind == fkSubject ? 1 : 0;
        if (r.Operation < 5)
            ++perOperation[r.Operation];
    }
    std::fprintf(stderr,
                 "%d Regeln, %d aktiv: %d auf den Betreff, %d auf Received, %d auf andere Felder; je Operation "
                 "%d/%d/%d/%d/%d\n",
                 int(data.rules.size()), active, subject, received, int(data.rules.size()) - subject - received,
                 perOperation[0], perOperation[1], perOperation[2], perOperation[3], perOperation[4]);

    for (RuleSet &set : sets)
        benchmark::RegisterBenchmark(("BM_IsSpam/" + set.name).c_str(), BM_IsSpam, &data, &set)
            ->Unit(benchmark::kMillisecond)
            ->ComputeStatistics("min", bench::Min);
    benchmark::RegisterBenchmark("BM_PrepareRules/all", BM_PrepareRules, &sets.front())
        ->Unit(benchmark::kMicrosecond)
        ->ComputeStatistics("min", bench::Min);
    benchmark::RegisterBenchmark("BM_PrepareRules/all_with_allow", BM_PrepareRules, &withAllow)
        ->Unit(benchmark::kMicrosecond)
        ->ComputeStatistics("min", bench::Min);
    if (benchmark::ReportUnrecognizedArguments(restCount, rest.data()))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
