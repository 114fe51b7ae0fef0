// A deletion run of 100 spam messages of 20 KB on a private Dovecot, reached through a relay that holds
// every chunk 10 ms in each direction (a server some way off): with rescue copies (each message fetched
// whole in its session before its DELE and kept as a file) and without, in turns. What the copies cost.
//
//   bench_deletion [--messages N] [--size-kb N] [--runs N] [--delay-ms N] [--pipelining 0|1] [--proxy 0|1]
//
// --proxy 0 talks to Dovecot straight, without the relay.
//
// Before each run the mailbox is filled again and checked (neither is timed); the time is that of the
// deletion run alone (TPOP3Checker::DeleteEntries), from its start to its result on the window's thread:
// the log records, the session, the copies, the QUIT.
#include "BenchSupport.h"
#include "CheckerUI.h"
#include "DelayProxy.h"
#include "MailDeletion.h"
#include "POP3Check.h"
#include "RegistrySettingsUnit.h"
#include "SampleDovecot.h"
#include "SpamDetectorUnit.h"
#include "SpamFilterClassUnit.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>

#include <cstdio>
#include <vector>

namespace {

struct Series {
    const char *Label;
    bool Copies;
    std::vector<double> Seconds;
};

// A spam message of about size bytes: a sample header block with a subject the rule catches, and lines
// of text.
QByteArray spamMessage(bench::SampleMail &sample, int n, int size)
{
    QByteArray m = sample.Message(n);
    m.replace("Subject: ", "Subject: GEWONNEN ");
    const QByteArray line = "Dies ist eine Zeile Text, wie sie in einer Werbung steht, Nummer 0000000.\r\n";
    while (m.size() + line.size() <= size)
        m += line;
    return m;
}

// Fills the mailbox, checks it and deletes the spam: the deletion's seconds, or a negative number when
// the run did not do what it should (its figure would describe another path).
double deletionRun(bench::SampleDovecot &dovecot, bool copies, int messages, int size, const TPop3Options &options)
{
    bench::SampleMail sample;
    for (int n = 1; n <= messages; ++n)
        if (dovecot.Server().deliver(QStringLiteral("anna"), spamMessage(sample, n, size)).isEmpty())
            return -1;
    bench::CountingMessageBox boxes;
    TRegistrySettings settings;
    settings.Load();
    settings.Settings.KeepDeletedCopies = copies;
    settings.Settings.DeletedCopyLimitKB = 512;
    TSpamFilterClass filters(settings);
    filters.LoadFilters();
    TSpamDetector detector(settings.Settings);
    THeadlessCheckerUI ui;
    TPOP3Checker checker(settings, detector, ui, options);
    QDir(checker.RescueCopyFolder()).removeRecursively();
    const int before = int(checker.DeletionLog().Records().size());

    QEventLoop loop;
    if (!checker.CheckNow(0, [&loop](int) { loop.quit(); }))
        return -1;
    loop.exec();
    QList<TMailEntry *> rows, spam;
    for (TMailEntry *e : checker.MailList) {
        rows.append(e);
        if (e->Checked)
            spam.append(e);
    }
    if (spam.size() != messages || !checker.BeginOperation(TServerOperationKind::DeletionRun)) {
        std::fprintf(stderr, "Die Prüfung fand %d von %d Spam-Nachrichten\n", int(spam.size()), messages);
        return -1;
    }
    TDeletionResult result;
    QElapsedTimer t;
    t.start();
    checker.DeleteEntries(rows, spam, TDeletionHow::Automatic, nullptr, [&](const TDeletionResult &r) {
        result = r;
        loop.quit();
    });
    loop.exec();
    const double s = t.nsecsElapsed() / 1e9;
    checker.EndOperation();

    const int logged = int(checker.DeletionLog().Records().size()) - before;
    const int kept = int(QDir(checker.RescueCopyFolder()).entryList(QDir::Files).size());
    if (result.Failed || result.Deleted != messages || logged != messages || kept != (copies ? messages : 0) ||
        !dovecot.Server().messageIds(QStringLiteral("anna")).isEmpty() || boxes.Count > 0) {
        std::fprintf(stderr, "Der Lauf hat nicht alles gelöscht: %d gelöscht, %d im Protokoll, %d Kopien (%s%s)\n",
                     result.Deleted, logged, kept, qPrintable(result.ErrorText), qPrintable(boxes.First));
        return -1;
    }
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int messages = std::max(1, bench::ArgValue(argc, argv, "--messages", 100));
    const int size = std::max(1, bench::ArgValue(argc, argv, "--size-kb", 20)) * 1024;
    const int runs = std::max(1, bench::ArgValue(argc, argv, "--runs", 5));
    const int delayMs = std::max(0, bench::ArgValue(argc, argv, "--delay-ms", 10));
    const bool relayed = bench::ArgValue(argc, argv, "--proxy", 1) != 0;
    TPop3Options options;
    options.Pipelining = bench::ArgValue(argc, argv, "--pipelining", 1) != 0;

    bench::SampleDovecot dovecot;
    if (!dovecot.Start(0))
        return 1;
    testservers::DelayProxy proxy(dovecot.Port(), delayMs);
    QString error;
    if (!proxy.Start(&error)) {
        std::fprintf(stderr, "Der Proxy startet nicht: %s\n", qPrintable(error));
        return 1;
    }
    bench::TempProfile profile;
    TSimpleFilter rule;
    rule.Active = true;
    rule.Kind = fkSubject;
    rule.Operation = foContains;
    rule.Text = QStringLiteral("GEWONNEN");
    if (!profile.IsValid() || !bench::WriteProfile({dovecot.Account(relayed ? proxy.Port() : dovecot.Port())}, {rule}))
        return 1;

    std::printf("Löschlauf: %d Spam-Nachrichten zu %d KB auf Dovecot %s, Befehle %s, %d Läufe nach einem ersten, "
                "mit und ohne Kopien im Wechsel\n",
                messages, size / 1024,
                relayed ? qPrintable(QStringLiteral("über einen Proxy (+%1 ms je Richtung)").arg(delayMs)) : "direkt",
                options.Pipelining ? "im Voraus (PIPELINING)" : "einzeln", runs);
    Series with{"mit Kopien", true, {}};
    Series without{"ohne Kopien", false, {}};
    for (int run = 0; run <= runs; ++run) {
        for (Series *series : {&without, &with}) {
            const double s = deletionRun(dovecot, series->Copies, messages, size, options);
            if (s < 0)
                return 1;
            std::printf("  %s, %s: %.3f s\n", series->Label,
                        run == 0 ? "erster Lauf" : qPrintable(QStringLiteral("Lauf %1").arg(run)), s);
            std::fflush(stdout);
            // Dovecot builds its index on the first access: the first run is shown apart.
            if (run > 0)
                series->Seconds.push_back(s);
        }
    }
    const double a = bench::Median(without.Seconds), b = bench::Median(with.Seconds);
    std::printf("Ergebnis: ohne Kopien Median %.3f s (%.1f ms je Nachricht), mit Kopien Median %.3f s (%.1f ms je "
                "Nachricht); die Kopien kosten %.3f s, %.0f %% mehr\n",
                a, a * 1000 / messages, b, b * 1000 / messages, b - a, (b / a - 1) * 100);
    const testservers::DelayProxy::Figures f = proxy.Measured();
    std::printf("  Proxy: %lld Verbindungen, %lld Stücke, %.1f MB; Verzögerung je Stück im Mittel %.2f ms\n",
                (long long)f.Connections, (long long)f.Chunks, f.Bytes / 1e6, f.MeanDelayMs);
    return 0;
}
