// Start-up up to the program's tray icon, on a profile with 10 mailboxes and 500 spam rules: wall time
// and resident memory of a fresh process each run.
//
//   bench_startup [--runs N] [--accounts N] [--rules N]
//
// Each run starts this program again as a child that does what the program's main does (application,
// single instance, main window) and reports when the main window's construction (which ends with the
// program's tray icon shown) is complete. The first run is shown apart: it pays for cold caches.
// Figures:
//   exec->tray    from the parent's start of the child process to the tray icon (loading included)
//   main->tray    from the child's main() to the tray icon
//   TMain         the main window's construction alone (settings, rules, windows, tray, worker)
//   shutdown      the main window's destruction (saving placement, known identifiers, ending the worker)
//   VmRSS, VmHWM  resident memory at the tray icon, and its peak
#include "BenchSupport.h"
#include "MainUnit.h"
#include "POP3Check.h"
#include "Paths.h"
#include "RegistrySettingsUnit.h"
#include "SingleInstance.h"
#include "TrayIcon.h"

#include <QApplication>
#include <QCoreApplication>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

const char kChildFlag[] = "--child";

int child(int argc, char **argv)
{
    const qint64 tMain = bench::MonotonicNs();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(platform::kProductName));
    QApplication::setQuitOnLastWindowClosed(false);
    bench::CountingMessageBox boxes;

    TSingleInstance instance;
    if (!instance.Claim()) {
        std::fprintf(stderr, "Eine andere Instanz läuft schon auf diesem Profil.\n");
        return 1;
    }

    TMainOptions options;
    // Nothing may wake the worker while the figures are taken.
    options.AdjustPop3 = [](TPop3Options &p) {
        p.FirstWakeMs = 3600 * 1000;
        p.WakeMs = 3600 * 1000;
    };
    qint64 tCtor = 0, tReady = 0, tEnd = 0, rss = 0, hwm = 0;
    int accounts = 0;
    bool trayShown = false;
    {
        tCtor = bench::MonotonicNs();
        TMain main(options);
        tReady = bench::MonotonicNs();
        rss = bench::SelfStatusKb("VmRSS");
        hwm = bench::SelfStatusKb("VmHWM");
        trayShown = main.ProgramIcon().Active() && !main.isVisible();
        accounts = int(main.Settings().Settings.Accounts.size());
        tEnd = bench::MonotonicNs();
    }
    const qint64 tGone = bench::MonotonicNs();
    std::printf("RESULT ready=%lld main=%lld ctor=%lld shutdown=%lld rss=%lld hwm=%lld tray=%d accounts=%d boxes=%d\n",
                (long long)tReady, (long long)(tReady - tMain), (long long)(tReady - tCtor),
                (long long)(tGone - tEnd), (long long)rss, (long long)hwm, trayShown ? 1 : 0, accounts, boxes.Count);
    if (boxes.Count > 0)
        std::fprintf(stderr, "Meldung während des Starts: %s\n", qPrintable(boxes.First));
    std::fflush(stdout);
    return 0;
}

std::map<std::string, long long> parseResult(const QByteArray &out)
{
    std::map<std::string, long long> r;
    for (const QByteArray &line : out.split('\n')) {
        if (!line.startsWith("RESULT "))
            continue;
        for (const QByteArray &field : line.mid(7).split(' ')) {
            const int eq = field.indexOf('=');
            if (eq > 0)
                r[field.left(eq).toStdString()] = field.mid(eq + 1).toLongLong();
        }
    }
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 1 && std::strcmp(argv[1], kChildFlag) == 0)
        return child(argc, argv);

    const int runs = std::max(1, bench::ArgValue(argc, argv, "--runs", 11));
    const int accountCount = bench::ArgValue(argc, argv, "--accounts", 10);
    const int ruleCount = bench::ArgValue(argc, argv, "--rules", 500);

    QCoreApplication app(argc, argv);
    bench::TempProfile profile;
    if (!profile.IsValid())
        return 1;
    if (!bench::WriteProfile(bench::SampleAccounts(accountCount), bench::SampleRules(ruleCount)))
        return 1;

    std::printf("Start bis zum Tray-Symbol: %d Postfächer, %d Regeln, %d Läufe nach einem ersten (QPA %s)\n",
                accountCount, ruleCount, runs, qgetenv("QT_QPA_PLATFORM").constData());
    std::vector<double> exec, mainToTray, ctor, shutdown, rss, hwm;
    for (int i = 0; i <= runs; ++i) {
        QProcess p;
        p.setProcessChannelMode(QProcess::SeparateChannels);
        const qint64 t0 = bench::MonotonicNs();
        p.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kChildFlag)});
        if (!p.waitForFinished(60000) || p.exitCode() != 0) {
            std::fprintf(stderr, "Lauf %d misslang: %s\n", i, p.readAllStandardError().constData());
            return 1;
        }
        const QByteArray err = p.readAllStandardError();
        auto r = parseResult(p.readAllStandardOutput());
        if (r.empty() || r["tray"] != 1 || r["accounts"] != accountCount || r["boxes"] != 0) {
            std::fprintf(stderr, "Lauf %d zeigt nicht den gemeinten Start (Tray %lld, Postfächer %lld, Meldungen %lld): %s\n",
                         i, r["tray"], r["accounts"], r["boxes"], err.constData());
            return 1;
        }
        const double e = (r["ready"] - t0) / 1e6;
        if (i == 0) {
            std::printf("  erster Lauf:  exec->tray %.1f ms, main->tray %.1f ms, TMain %.1f ms, VmRSS %.1f MiB\n", e,
                        r["main"] / 1e6, r["ctor"] / 1e6, r["rss"] / 1024.0);
            continue;
        }
        exec.push_back(e);
        mainToTray.push_back(r["main"] / 1e6);
        ctor.push_back(r["ctor"] / 1e6);
        shutdown.push_back(r["shutdown"] / 1e6);
        rss.push_back(r["rss"] / 1024.0);
        hwm.push_back(r["hwm"] / 1024.0);
    }
    auto row = [](const char *name, const std::vector<double> &v, const char *unit) {
        std::printf("  %-12s Median %8.1f %s   Minimum %8.1f %s\n", name, bench::Median(v), unit, bench::Min(v), unit);
    };
    row("exec->tray", exec, "ms ");
    row("main->tray", mainToTray, "ms ");
    row("TMain", ctor, "ms ");
    row("shutdown", shutdown, "ms ");
    row("VmRSS", rss, "MiB");
    row("VmHWM", hwm, "MiB");
    return 0;
}
