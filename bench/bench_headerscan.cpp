// A manual check of one mailbox of 1000 messages on a private Dovecot (127.0.0.1, a free port): the
// whole header scan (log-in, listing, a header block per message, parsing, 500 spam rules, the list)
// in messages per second, straight to the server, over TLS from the first byte to the same server and
// over IMAP to the same mailbox (in turns), then through a relay that holds every chunk 10 ms in each
// direction, as a server some way off would answer; the relay's chunks show the round trips each takes.
//
//   bench_headerscan [--messages N] [--rules N] [--runs N] [--tls 0|1] [--imap 0|1] [--proxy-runs N]
//                    [--delay-ms N] [--pipelining 0|1]
//
// --pipelining 0 sends one command at a time although the server offers PIPELINING (the sizes and ids
// still come from one listing each), to compare.
//
// Every run is a fresh coordinator without known identifiers, so every message is fetched and judged.
#include "BenchSupport.h"
#include "CheckerUI.h"
#include "DelayProxy.h"
#include "POP3Check.h"
#include "RegistrySettingsUnit.h"
#include "SampleDovecot.h"
#include "SpamDetectorUnit.h"
#include "SpamFilterClassUnit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// CPU seconds (user and system) this process has used so far: what the scan costs on our side, apart from
// the server and from waiting.
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The figures of one way of reaching the mailbox, over its runs after the first.
struct Series {
    const char *Label;
    int AccountIndex; // in the profile
    std::vector<double> Seconds;
    std::vector<double> CpuSeconds;
};

// One manual check of the series' mailbox with a fresh coordinator, printed. Run 0 is shown apart and not
// counted: Dovecot builds its index of the maildir on the first access. False when the run did not read
// every message: its figure would describe another path.
bool scanRun(Series &series, int messages, int run, const TPop3Options &options)
{
    bench::CountingMessageBox boxes;
    TRegistrySettings settings;
    settings.Load();
    TSpamFilterClass filters(settings);
    filters.LoadFilters();
    TSpamDetector detector(settings.Settings);
    THeadlessCheckerUI ui;
    ui.OnFailure = [](const QString &account, int, const QString &errorText) {
        std::fprintf(stderr, "Postfach %s: %s\n", qPrintable(account), qPrintable(errorText));
    };
    TPOP3Checker checker(settings, detector, ui, options);
    QElapsedTimer t;
    const double cpuBefore = cpuSeconds();
    t.start();
    // The check runs on the worker; the benchmark waits for its end here.
    QEventLoop loop;
    if (checker.CheckNow(series.AccountIndex, [&loop](int) { loop.quit(); }))
        loop.exec();
    const double s = t.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds() - cpuBefore;
    const int listed = checker.MailList.Count();
    if (ui.Failures > 0 || boxes.Count > 0 || listed != messages) {
        std::fprintf(stderr, "%s, Lauf %d hat nicht alle Nachrichten gelesen (%d von %d; %s)\n", series.Label, run,
                     listed, messages, qPrintable(boxes.First));
        return false;
    }
    const QString name = run == 0 ? QStringLiteral("erster Lauf") : QStringLiteral("Lauf %1").arg(run);
    std::printf("  %s, %s: %.3f s, %.0f Nachrichten/s, CPU des Programms %.3f s, %d als Spam erkannt\n",
                series.Label, qPrintable(name), s, messages / s, cpu, checker.MailList.CountByState(msSpam));
    std::fflush(stdout);
    if (run > 0) {
        series.Seconds.push_back(s);
        series.CpuSeconds.push_back(cpu);
    }
    return true;
}

// Runs 0..runs of each series taking turns, so that a machine that other work slows down for a while
// slows each of them alike.
bool scanInTurns(const std::vector<Series *> &all, int messages, int runs, const TPop3Options &options)
{
    for (int run = 0; run <= runs; ++run)
        for (Series *series : all)
            if (!scanRun(*series, messages, run, options))
                return false;
    return true;
}

void printSummary(const Series &series, int messages)
{
    const double median = bench::Median(series.Seconds);
    std::printf("  %s: Median %.0f Nachrichten/s (%.3f s), bester Lauf %.0f Nachrichten/s, CPU des Programms im "
                "Median %.3f s\n",
                series.Label, messages / median, median, messages / bench::Min(series.Seconds),
                bench::Median(series.CpuSeconds));
}

// The cost of TLS: how much lower its median rate is than the plain one, in per cent.
double tlsCostPercent(const Series &plain, const Series &tls)
{
    return (1.0 - bench::Median(plain.Seconds) / bench::Median(tls.Seconds)) * 100.0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int messages = std::max(1, bench::ArgValue(argc, argv, "--messages", 1000));
    const int ruleCount = bench::ArgValue(argc, argv, "--rules", 500);
    const int runs = std::max(1, bench::ArgValue(argc, argv, "--runs", 5));
    const bool tls = bench::ArgValue(argc, argv, "--tls", 1) != 0;
    const bool imap = bench::ArgValue(argc, argv, "--imap", 1) != 0;
    const int proxyRuns = std::max(0, bench::ArgValue(argc, argv, "--proxy-runs", 1));
    const int delayMs = std::max(0, bench::ArgValue(argc, argv, "--delay-ms", 10));
    TPop3Options options;
    options.Pipelining = bench::ArgValue(argc, argv, "--pipelining", 1) != 0;

    bench::SampleDovecot dovecot;
    if (!dovecot.Start(messages, tls))
        return 1;
    bench::TempProfile profile;
    // One profile with the mailbox up to three times: straight, over TLS from the first byte to the same
    // server, and over IMAP; accounts() makes it for the ports given.
    const auto accounts = [&](quint16 pop3Port, quint16 tlsPort, quint16 imapPort) {
        TPOP3Accounts out{dovecot.Account(pop3Port)};
        if (tls) {
            out.append(dovecot.TlsAccount());
            out.last().Port = tlsPort;
        }
        if (imap)
            out.append(dovecot.ImapAccount(imapPort));
        return out;
    };
    if (!profile.IsValid()
        || !bench::WriteProfile(accounts(dovecot.Port(), dovecot.TlsPort(), dovecot.ImapPort()), bench::SampleRules(ruleCount)))
        return 1;
    const int tlsIndex = tls ? 1 : -1;
    const int imapIndex = tls ? 2 : 1;

    Series direct{"direkt", 0, {}, {}};
    Series encrypted{"TLS", tlsIndex, {}, {}};
    Series overImap{"IMAP", imapIndex, {}, {}};
    std::vector<Series *> near{&direct};
    if (tls)
        near.push_back(&encrypted);
    if (imap)
        near.push_back(&overImap);
    std::printf("Kopfzeilen-Durchlauf: %d Nachrichten auf Dovecot 127.0.0.1:%u, %d Regeln, %d Läufe nach einem "
                "ersten\n",
                messages, unsigned(dovecot.Port()), ruleCount, runs);
    std::printf("Befehle %s\n", options.Pipelining ? "im Voraus (PIPELINING)" : "einzeln, je nach Antwort");
    if (tls)
        std::printf("Abwechselnd mit demselben Durchlauf über TLS (127.0.0.1:%u)\n", unsigned(dovecot.TlsPort()));
    if (imap)
        std::printf("Abwechselnd mit demselben Postfach über IMAP (127.0.0.1:%u)\n", unsigned(dovecot.ImapPort()));
    if (!scanInTurns(near, messages, runs, options))
        return 1;

    Series proxied{"über Proxy", 0, {}, {}};
    Series proxiedTls{"TLS über Proxy", tlsIndex, {}, {}};
    Series proxiedImap{"IMAP über Proxy", imapIndex, {}, {}};
    // One relay in front of each port: a server some way off (where TLS adds bytes and work but no round
    // trips), and the chunks each relay passed on per run tell the round trips of that way.
    testservers::DelayProxy proxy(dovecot.Port(), delayMs);
    testservers::DelayProxy tlsProxy(dovecot.TlsPort(), delayMs);
    testservers::DelayProxy imapProxy(dovecot.ImapPort(), delayMs);
    const struct Relay {
        const char *Label;
        const testservers::DelayProxy *Proxy;
        bool Used;
    } relays[] = {{"POP3", &proxy, true}, {"POP3 über TLS", &tlsProxy, tls}, {"IMAP", &imapProxy, imap}};
    if (proxyRuns > 0) {
        QString error;
        if (!proxy.Start(&error) || (tls && !tlsProxy.Start(&error)) || (imap && !imapProxy.Start(&error))) {
            std::fprintf(stderr, "Der Proxy startet nicht: %s\n", qPrintable(error));
            return 1;
        }
        if (!bench::WriteProfile(accounts(proxy.Port(), tlsProxy.Port(), imapProxy.Port()), bench::SampleRules(ruleCount)))
            return 1;
        std::printf("Derselbe Durchlauf über einen Proxy je Port, der jedes Stück %d ms je Richtung zurückhält, %d "
                    "Läufe%s%s\n",
                    delayMs, proxyRuns, tls ? ", abwechselnd mit TLS" : "", imap ? " und IMAP" : "");
        std::vector<Series *> far{&proxied};
        if (tls)
            far.push_back(&proxiedTls);
        if (imap)
            far.push_back(&proxiedImap);
        for (int run = 1; run <= proxyRuns; ++run)
            for (Series *series : far)
                if (!scanRun(*series, messages, run, options))
                    return 1;
    }

    std::printf("Ergebnis (%d Nachrichten):\n", messages);
    printSummary(direct, messages);
    if (!encrypted.Seconds.empty()) {
        printSummary(encrypted, messages);
        std::printf("  TLS kostet %.1f %% der Nachrichten/s (Median gegen Median)\n", tlsCostPercent(direct, encrypted));
    }
    if (!overImap.Seconds.empty())
        printSummary(overImap, messages);
    if (!proxied.Seconds.empty()) {
        const std::string label = "über Proxy +" + std::to_string(delayMs) + " ms je Richtung";
        const std::string tlsLabel = "TLS " + label;
        const std::string imapLabel = "IMAP " + label;
        proxied.Label = label.c_str();
        proxiedTls.Label = tlsLabel.c_str();
        proxiedImap.Label = imapLabel.c_str();
        printSummary(proxied, messages);
        if (!proxiedTls.Seconds.empty()) {
            printSummary(proxiedTls, messages);
            std::printf("  TLS kostet über den Proxy %.1f %% der Nachrichten/s\n", tlsCostPercent(proxied, proxiedTls));
        }
        if (!proxiedImap.Seconds.empty())
            printSummary(proxiedImap, messages);
        for (const Relay &relay : relays) {
            if (!relay.Used)
                continue;
            const testservers::DelayProxy::Figures f = relay.Proxy->Measured();
            std::printf("  Proxy %s: %lld Verbindungen, %lld Stücke (%.0f je Lauf), %.1f MB; Verzögerung je Stück im "
                        "Mittel %.2f ms, höchstens %.2f ms\n",
                        relay.Label, (long long)f.Connections, (long long)f.Chunks, double(f.Chunks) / proxyRuns,
                        f.Bytes / 1e6, f.MeanDelayMs, f.MaxDelayMs);
        }
    }
    return 0;
}
