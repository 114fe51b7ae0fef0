// quarvel-check: one manual check of the active mailboxes of the profile, without a window.
//
//   quarvel-check [--delete-spam]
//
// Prints one line per waiting message, fields separated by tabs:
//   mailbox (user@host), message number, size in octets, sender, subject, "Spam" or "-"
// Failed mailboxes and message boxes go to stderr. Control characters from mail or servers are printed as
// "?", so that no escape sequence reaches the terminal. --delete-spam then deletes the messages marked as
// spam, one session per mailbox, and prints a line "Gelöscht" per deleted message: one whose session the
// server ended with its consent (a POP3 server deletes nothing before that).
// Exit code: 0 all went well, 1 a mailbox (or a deletion) failed, 2 wrong usage.
// QUARVEL_PROFILE selects another profile; QUARVEL_POP3_TRACE prints the POP3 dialogue. A refused server
// certificate is reported with its fingerprint and never trusted here. Passwords that live in the
// desktop's keyring are read from there; where it cannot be reached, such a mailbox fails with error 990.
#include "CheckerUI.h"
#include "MailDeletion.h"
#include "POP3Check.h"
#include "RegistrySettingsUnit.h"
#include "SpamDetectorUnit.h"
#include "SpamFilterClassUnit.h"
#include "TextCodec.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

QTextStream out(stdout);
QTextStream err(stderr);

const char *const kUsage =
    "Aufruf: quarvel-check [--delete-spam]\n"
    "Prüft alle aktiven Postfächer des Profils einmal und gibt je Nachricht eine Zeile aus (durch\n"
    "Tabulatoren getrennt): Postfach, Nummer, Größe, Absender, Betreff, \"Spam\" oder \"-\".\n"
    "  --delete-spam  löscht danach die als Spam erkannten Nachrichten auf den Servern.\n"
    "Rückgabewert: 0 alles in Ordnung, 1 ein Postfach war nicht erreichbar oder eine Löschung\n"
    "schlug fehl, 2 falscher Aufruf. QUARVEL_PROFILE wählt ein anderes Profil.\n"
    "Ein abgelehntes Server-Zertifikat nimmt quarvel-check nicht an: Vertrauen Sie ihm im Fenster, oder\n"
    "tragen Sie seinen SHA-256-Fingerabdruck mit quarvel-reg als POP3CertSHA256 des Postfachs ein.\n";

// One field of an output line: tabs and line breaks would break the line apart, and any other control
// character of a mail or a server (an escape sequence) would act on the terminal.
QString field(QString text)
{
    for (QChar &c : text)
        if (c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            c = QLatin1Char(' ');
    return platform::terminalSafe(text);
}

QString mailbox(const TMailEntry &e)
{
    return e.UserName + QLatin1Char('@') + e.Host;
}

QString sender(const MailMessage &m)
{
    if (m.From.Name.isEmpty())
        return m.From.Address;
    if (m.From.Address.isEmpty())
        return m.From.Name;
    return m.From.Name + QStringLiteral(" <") + m.From.Address + QLatin1Char('>');
}

class ConsoleDeletionObserver final : public IDeletionObserver {
public:
    void EntryDeleted(const TMailEntry &e) override
    {
        out << "Gelöscht\t" << field(mailbox(e)) << '\t' << e.MsgNumber << '\t' << field(e.Message.Subject)
            << '\n';
        out.flush();
    }
    void EntryFailed(const TMailEntry &e, const QString &errorText) override
    {
        err << "Fehler beim Löschen der E-Mail " << e.MsgNumber << " in " << field(mailbox(e)) << ": "
            << field(errorText.trimmed()) << '\n';
        err.flush();
    }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    bool deleteSpam = false;
    const QStringList args = app.arguments().mid(1);
    for (const QString &a : args) {
        if (a == QLatin1String("--delete-spam")) {
            deleteSpam = true;
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            out << kUsage;
            return 0;
        } else {
            err << "Unbekannte Angabe: " << field(a) << '\n' << kUsage;
            return 2;
        }
    }

    TRegistrySettings settings;
    settings.Load();
    TSpamFilterClass filters(settings);
    filters.LoadFilters();
    TSpamDetector detector(settings.Settings);
    // The console shows of a check only its failures.
    THeadlessCheckerUI ui;
    ui.OnFailure = [](const QString &account, int code, const QString &errorText) {
        err << "Fehler: " << field(account) << ": " << field(errorText);
        if (code != 0)
            err << " (Fehlernummer " << code << ')';
        err << '\n';
        err.flush();
    };
    TPOP3Checker checker(settings, detector, ui);
    if (checker.Accounts.isEmpty()) {
        checker.CheckNow(-1); // tells why on stderr
        return 1;
    }

    // The check, and the deletion after it, run on the worker; this thread waits in its own event loop.
    bool deletionFailed = false;
    checker.CheckNow(-1, [&](int) {
        for (const TMailEntry *e : checker.MailList) {
            out << field(mailbox(*e)) << '\t' << e->MsgNumber << '\t' << e->Size << '\t'
                << field(sender(e->Message)) << '\t' << field(e->Message.Subject) << '\t'
                << (e->State == msSpam ? "Spam" : "-") << '\n';
        }
        out.flush();
        if (!deleteSpam || checker.MailList.CountByState(msSpam) == 0
            || !checker.BeginOperation(TServerOperationKind::DeletionRun)) {
            QCoreApplication::exit(0);
            return;
        }
        QList<TMailEntry *> rows;
        QList<TMailEntry *> spam;
        for (TMailEntry *e : checker.MailList) {
            rows.append(e);
            if (e->Checked)
                spam.append(e);
        }
        checker.DeleteEntries(rows, spam, std::make_shared<ConsoleDeletionObserver>(),
                              [&](const TDeletionResult &result) {
                                  deletionFailed = result.Failed;
                                  checker.EndOperation();
                                  QCoreApplication::exit(0);
                              });
    });
    app.exec();
    return (ui.Failures > 0 || deletionFailed) ? 1 : 0;
}
