// A manual check of one mailbox of 1000 messages on a private Dovecot (127.0.0.1, a free port): the
// whole header scan (log-in, listing, a header block per message, parsing, 500 spam rules, the list)
// in messages per second, first straight to the server, then over TLS from the first byte to the same
// server, then through a relay that holds every chunk 10 ms in each direction, as a server some way off
// would answer.
//
//   bench_headerscan [--messages N] [--rules N] [--runs N] [--tls-runs N] [--proxy-runs N] [--delay-ms N]
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

// Runs manual checks of the profile's mailbox and prints each. With warmUp, one more run comes first
// and is shown apart: Dovecot builds its index of the maildir on the first access. The seconds of the
// other runs go to seconds. False when a run did not read every message: its figure would describe
// another path.
bool scanRuns(const char *label, int messages, int runs, bool warmUp, std::vector<double> &seconds)
{
    bench::CountingMessageBox boxes;
    for (int i = warmUp ? 0 : 1; i <= runs; ++i) {
        TRegistrySettings settings;
        settings.Load();
        TSpamFilterClass filters(settings);
        filters.LoadFilters();
        TSpamDetector detector(settings.Settings);
        THeadlessCheckerUI ui;
        ui.OnFailure = [](const QString &account, int, const QString &errorText) {
            std::fprintf(stderr, "Postfach %s: %s\n", qPrintable(account), qPrintable(errorText));
        };
        TPOP3Checker checker(settings, detector, ui);
        QElapsedTimer t;
        const double cpuBefore = cpuSeconds();
        t.start();
        checker.CheckNow(-1);
        const double s = t.nsecsElapsed() / 1e9;
        const double cpu = cpuSeconds() - cpuBefore;
        const int listed = checker.MailList.Count();
        if (ui.Failures > 0 || boxes.Count > 0 || listed != messages) {
            std::fprintf(stderr, "%s, Lauf %d hat nicht alle Nachrichten gelesen (%d von %d; %s)\n", label, i, listed,
                         messages, qPrintable(boxes.First));
            return false;
        }
        const QString name = i == 0 ? QStringLiteral("erster Lauf") : QStringLiteral("Lauf %1").arg(i);
        std::printf("  %s, %s: %.3f s, %.0f Nachrichten/s, CPU des Programms %.3f s, %d als Spam erkannt\n", label,
                    qPrintable(name), s, messages / s, cpu, checker.MailList.CountByState(msSpam));
        std::fflush(stdout);
        if (i > 0)
            seconds.push_back(s);
    }
    return true;
}

void printSummary(const char *label, int messages, const std::vector<double> &seconds)
{
    const double median = bench::Median(seconds);
    std::printf("  %s: Median %.0f Nachrichten/s (%.3f s), bester Lauf %.0f Nachrichten/s\n", label,
                messages / median, median, messages / bench::Min(seconds));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int messages = std::max(1, bench::ArgValue(argc, argv, "--messages", 1000));
    const int ruleCount = bench::ArgValue(argc, argv, "--rules", 500);
    const int runs = std::max(1, bench::ArgValue(argc, argv, "--runs", 5));
    const int tlsRuns = std::max(0, bench::ArgValue(argc, argv, "--tls-runs", runs));
    const int proxyRuns = std::max(0, bench::ArgValue(argc, argv, "--proxy-runs", 1));
    const int delayMs = std::max(0, bench::ArgValue(argc, argv, "--delay-ms", 10));

    bench::SampleDovecot dovecot;
    if (!dovecot.Start(messages, tlsRuns > 0))
        return 1;
    bench::TempProfile profile;
    if (!profile.IsValid() || !bench::WriteProfile({dovecot.Account(dovecot.Port())}, bench::SampleRules(ruleCount)))
        return 1;

    std::printf("Kopfzeilen-Durchlauf: %d Nachrichten auf Dovecot 127.0.0.1:%u, %d Regeln, %d Läufe nach einem "
                "ersten\n",
                messages, unsigned(dovecot.Port()), ruleCount, runs);
    std::vector<double> direct;
    if (!scanRuns("direkt", messages, runs, true, direct))
        return 1;

    std::vector<double> encrypted;
    if (tlsRuns > 0) {
        // The same mailbox on the same server, over TLS from the first byte.
        if (!bench::WriteProfile({dovecot.TlsAccount()}, bench::SampleRules(ruleCount)))
            return 1;
        std::printf("Derselbe Durchlauf über TLS (127.0.0.1:%u), %d Läufe nach einem ersten\n",
                    unsigned(dovecot.TlsPort()), tlsRuns);
        if (!scanRuns("TLS", messages, tlsRuns, true, encrypted))
            return 1;
    }

    std::vector<double> proxied;
    bench::DelayProxy::Figures relayed;
    if (proxyRuns > 0) {
        bench::DelayProxy proxy(dovecot.Port(), delayMs);
        QString error;
        if (!proxy.Start(&error)) {
            std::fprintf(stderr, "Der Proxy startet nicht: %s\n", qPrintable(error));
            return 1;
        }
        // The same mailbox, now reached through the relay.
        if (!bench::WriteProfile({dovecot.Account(proxy.Port())}, bench::SampleRules(ruleCount)))
            return 1;
        std::printf("Derselbe Durchlauf über einen Proxy auf 127.0.0.1:%u, der jedes Stück %d ms je Richtung "
                    "zurückhält, %d Läufe\n",
                    unsigned(proxy.Port()), delayMs, proxyRuns);
        if (!scanRuns("über Proxy", messages, proxyRuns, false, proxied))
            return 1;
        relayed = proxy.Measured();
    }

    std::printf("Ergebnis (%d Nachrichten):\n", messages);
    printSummary("direkt", messages, direct);
    if (!encrypted.empty()) {
        printSummary("TLS", messages, encrypted);
        // The cost of TLS: how much lower its median rate is than the plain one.
        const double cost = 1.0 - bench::Median(direct) / bench::Median(encrypted);
        std::printf("  TLS kostet %.1f %% der Nachrichten/s (Median gegen Median)\n", cost * 100.0);
    }
    if (!proxied.empty()) {
        const std::string label = "über Proxy +" + std::to_string(delayMs) + " ms je Richtung";
        printSummary(label.c_str(), messages, proxied);
        std::printf("  Proxy: %lld Verbindungen, %lld Stücke, %.1f MB; Verzögerung je Stück im Mittel %.2f ms, "
                    "höchstens %.2f ms\n",
                    (long long)relayed.Connections, (long long)relayed.Chunks, relayed.Bytes / 1e6,
                    relayed.MeanDelayMs, relayed.MaxDelayMs);
    }
    return 0;
}
