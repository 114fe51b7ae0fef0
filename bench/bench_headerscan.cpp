// A manual check of one mailbox of 1000 messages on a private Dovecot (127.0.0.1, a free port): the
// whole header scan (log-in, listing, a header block per message, parsing, 500 spam rules, the list)
// in messages per second.
//
//   bench_headerscan [--messages N] [--rules N] [--runs N]
//
// Every run is a fresh coordinator without known identifiers, so every message is fetched and judged.
#include "BenchSupport.h"
#include "CheckerUI.h"
#include "DovecotServer.h"
#include "POP3Check.h"
#include "RegistrySettingsUnit.h"
#include "SpamDetectorUnit.h"
#include "SpamFilterClassUnit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

int argValue(int argc, char **argv, const char *name, int def)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return std::atoi(argv[i + 1]);
    return def;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int messages = std::max(1, argValue(argc, argv, "--messages", 1000));
    const int ruleCount = argValue(argc, argv, "--rules", 500);
    const int runs = std::max(1, argValue(argc, argv, "--runs", 5));
    const QString user = QStringLiteral("anna");
    const QString password = QStringLiteral("bench-kennwort");

    DovecotServer server;
    server.addUser(user, password);
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "Dovecot startet nicht: %s\n", qPrintable(error));
        return 1;
    }
    bench::SampleMail sample;
    for (int n = 1; n <= messages; ++n) {
        if (server.deliver(user, sample.Message(n)).isEmpty()) {
            std::fprintf(stderr, "Nachricht %d nicht zugestellt\n", n);
            return 1;
        }
    }

    QTemporaryDir profile;
    if (!profile.isValid())
        return 1;
    qputenv("QUARVEL_PROFILE", QFile::encodeName(profile.path()));
    TPOP3Accounts accounts = bench::SampleAccounts(1, server.port());
    accounts[0].AccountName = user;
    accounts[0].Password = password;
    if (!bench::WriteProfile(accounts, bench::SampleRules(ruleCount)))
        return 1;

    bench::CountingMessageBox boxes;
    std::printf("Kopfzeilen-Durchlauf: %d Nachrichten auf Dovecot 127.0.0.1:%u, %d Regeln, %d Läufe nach einem "
                "ersten\n",
                messages, unsigned(server.port()), ruleCount, runs);
    std::vector<double> rates, seconds;
    // Run 0 is shown apart: Dovecot builds its index of the maildir on the first access.
    for (int i = 0; i <= runs; ++i) {
        TRegistrySettings settings;
        settings.Load();
        TSpamFilterClass filters(settings);
        filters.LoadFilters();
        TSpamDetector detector(settings.Settings);
        // Failed mailboxes make a run's figure meaningless: they are reported and counted.
        THeadlessCheckerUI ui;
        ui.OnFailure = [](const QString &account, int, const QString &errorText) {
            std::fprintf(stderr, "Postfach %s: %s\n", qPrintable(account), qPrintable(errorText));
        };
        TPOP3Checker checker(settings, detector, ui);
        QElapsedTimer t;
        t.start();
        checker.CheckNow(-1);
        const double s = t.nsecsElapsed() / 1e9;
        const int listed = checker.MailList.Count();
        if (ui.Failures > 0 || boxes.Count > 0 || listed != messages) {
            std::fprintf(stderr, "Lauf %d hat nicht alle Nachrichten gelesen (%d von %d; %s)\n", i, listed, messages,
                         qPrintable(boxes.First));
            return 1;
        }
        const QString name = i == 0 ? QStringLiteral("erster Lauf") : QStringLiteral("Lauf %1").arg(i);
        std::printf("  %s: %.3f s, %.0f Nachrichten/s, %d als Spam erkannt\n", qPrintable(name), s, messages / s,
                    checker.MailList.CountByState(msSpam));
        if (i == 0)
            continue;
        rates.push_back(messages / s);
        seconds.push_back(s);
    }
    std::printf("  Median %.0f Nachrichten/s (%.3f s), bester Lauf %.0f Nachrichten/s\n", bench::Median(rates),
                bench::Median(seconds), messages / bench::Min(seconds));
    server.stop();
    return 0;
}
