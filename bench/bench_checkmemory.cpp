// Peak resident memory of quarvel-check scanning 10,000 messages on a private Dovecot (127.0.0.1, a
// free port), with 200 rules of every kind in the profile: VmHWM and wall time of the whole process.
//
//   bench_checkmemory [--messages N] [--rules N] [--runs N] [--check PATH]
//
// quarvel-check runs as a child on a profile written through the settings and rule stores; its output
// goes to a file and is counted (one line per message, or the run is void). While it runs, VmHWM is
// read from /proc/<pid>/status every 5 ms; when it ends, wait4 gives the kernel's final figure of the
// same peak (ru_maxrss), which the last reading may have missed, and the CPU time. The larger of the
// two is printed as the peak. The wall time counts
// from the spawn to the reaping, so it may be up to one polling interval late. The first run is shown
// apart: Dovecot builds its index of the maildir on the first access.
#include "BenchSupport.h"
#include "SampleDovecot.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

extern char **environ;

#ifndef QUARVEL_CHECK_PATH
#define QUARVEL_CHECK_PATH ""
#endif

namespace {

struct Reading {
    double Seconds = 0;
    qint64 PolledHwmKb = -1; // the last VmHWM read while the process ran
    qint64 MaxRssKb = -1;    // the peak the kernel kept at its end
    double UserSeconds = 0;
    double SystemSeconds = 0;
    int Polls = 0;
    int ExitCode = -1;
};

double seconds(const timeval &tv)
{
    return double(tv.tv_sec) + tv.tv_usec / 1e6;
}

// Starts program with stdout and stderr into the files, watches its VmHWM until it ends. False when it
// could not be started or waited for.
bool runWatched(const QByteArray &program, const QByteArray &outFile, const QByteArray &errFile, Reading &r)
{
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, outFile.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&files, 2, errFile.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    char *args[] = {const_cast<char *>(program.constData()), nullptr};
    const qint64 t0 = bench::MonotonicNs();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.constData(), &files, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&files);
    if (spawned != 0) {
        std::fprintf(stderr, "%s startet nicht: %s\n", program.constData(), std::strerror(spawned));
        return false;
    }
    const timespec pause{0, 5 * 1000 * 1000};
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR) {
            std::fprintf(stderr, "wait4: %s\n", std::strerror(errno));
            return false;
        }
        const qint64 hwm = bench::ProcessStatusKb(pid, "VmHWM");
        r.PolledHwmKb = std::max(r.PolledHwmKb, hwm);
        ++r.Polls;
        nanosleep(&pause, nullptr);
    }
    r.Seconds = (bench::MonotonicNs() - t0) / 1e9;
    r.MaxRssKb = usage.ru_maxrss; // kB on Linux
    r.UserSeconds = seconds(usage.ru_utime);
    r.SystemSeconds = seconds(usage.ru_stime);
    r.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

double mib(qint64 kb)
{
    return kb / 1024.0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int messages = std::max(1, bench::ArgValue(argc, argv, "--messages", 10000));
    const int ruleCount = std::max(3, bench::ArgValue(argc, argv, "--rules", 200));
    const int runs = std::max(1, bench::ArgValue(argc, argv, "--runs", 1));
    const QString check = bench::ArgText(argc, argv, "--check", QStringLiteral(QUARVEL_CHECK_PATH));
    if (check.isEmpty() || !QFileInfo(check).isExecutable()) {
        std::fprintf(stderr, "quarvel-check nicht gefunden (%s); --check PFAD nennt es\n", qPrintable(check));
        return 2;
    }

    QElapsedTimer t;
    t.start();
    bench::SampleDovecot dovecot;
    if (!dovecot.Start(messages))
        return 1;
    std::fprintf(stderr, "%d Nachrichten zugestellt in %.1f s (nicht gemessen)\n", messages, t.elapsed() / 1e3);
    bench::TempProfile profile;
    if (!profile.IsValid() || !bench::WriteProfile({dovecot.Account(dovecot.Port())}, bench::MixedRules(ruleCount)))
        return 1;
    QTemporaryDir output;
    if (!output.isValid())
        return 1;
    const QString outFile = output.filePath(QStringLiteral("stdout.txt"));
    const QString errFile = output.filePath(QStringLiteral("stderr.txt"));

    std::printf("quarvel-check: %d Nachrichten auf Dovecot 127.0.0.1:%u, %d Regeln, %d Läufe nach einem ersten\n",
                messages, unsigned(dovecot.Port()), ruleCount, runs);
    std::printf("  (%s)\n", qPrintable(check));
    std::vector<double> hwm, wall;
    for (int i = 0; i <= runs; ++i) {
        Reading r;
        if (!runWatched(QFile::encodeName(check), QFile::encodeName(outFile), QFile::encodeName(errFile), r))
            return 1;
        QFile out(outFile);
        QFile err(errFile);
        if (!out.open(QIODevice::ReadOnly) || !err.open(QIODevice::ReadOnly))
            return 1;
        const QByteArray lines = out.readAll();
        const int listed = int(lines.count('\n'));
        const int spam = int(lines.count("\tSpam\n"));
        if (r.ExitCode != 0 || listed != messages) {
            std::fprintf(stderr, "Lauf %d ungültig: Rückgabewert %d, %d von %d Nachrichten aufgeführt\n%s\n", i,
                         r.ExitCode, listed, messages, err.read(4000).constData());
            return 1;
        }
        const QString name = i == 0 ? QStringLiteral("erster Lauf") : QStringLiteral("Lauf %1").arg(i);
        // Both readings come from the same counters, which the kernel updates in batches: they may
        // differ by a few hundred kB. The larger is the peak.
        const qint64 peakKb = std::max(r.MaxRssKb, r.PolledHwmKb);
        std::printf("  %s: VmHWM %.1f MiB (/proc/<pid>/status %.1f MiB in %d Ablesungen, ru_maxrss %.1f MiB), "
                    "%.2f s (%.0f Nachrichten/s), CPU %.2f s Benutzer + %.2f s System, %d als Spam erkannt\n",
                    qPrintable(name), mib(peakKb), mib(r.PolledHwmKb), r.Polls, mib(r.MaxRssKb), r.Seconds,
                    messages / r.Seconds, r.UserSeconds, r.SystemSeconds, spam);
        std::fflush(stdout);
        if (i == 0)
            continue;
        hwm.push_back(mib(peakKb));
        wall.push_back(r.Seconds);
    }
    std::printf("  Median: VmHWM %.1f MiB, %.2f s\n", bench::Median(hwm), bench::Median(wall));
    return 0;
}
