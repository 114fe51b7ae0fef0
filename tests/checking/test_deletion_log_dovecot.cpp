// The deletion log and the rescue copies against a private Dovecot: what each kind of deletion run
// records, copies equal to the messages the server kept, the size limit, connections lost before the
// end of the session, and quarvel-check killed between its DELE commands and their QUIT.
#include "CheckerTestSupport.h"
#include "CuttingRelay.h"
#include "DovecotCheckerSupport.h"
#include "DovecotSuite.h"
#include "Paths.h"
#include "ToolSupport.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>

#include <csignal>

namespace {

QByteArray mail(const QByteArray &subject, const QByteArray &extraHeaders = {}, const QByteArray &body = "Hallo.\r\n")
{
    return extraHeaders + "From: Anna Absender <anna@example.test>\r\nTo: bob@example.test\r\nSubject: " + subject
           + "\r\nMessage-ID: <" + subject.toHex() + "@example.test>\r\n\r\n" + body;
}

const QByteArray kEvilReceived = "Received: from unknown (HELO friendly)\r\n"
                                 "\t(evil-relay.test [192.0.2.7])\r\n"
                                 "\tby mx.example.test; Mon, 1 Jan 2024 09:59:00 +0100\r\n";

class DeletionLogDovecotTest : public MailboxOnDovecot<WithDovecot<CheckerFixture>> {
protected:
    TPOP3AccountSettings account(quint16 port = 0) const
    {
        TPOP3AccountSettings a = Account(server->host(), user, password());
        a.Port = port ? port : server->port();
        return a;
    }

    // The log's records by subject.
    QMap<QString, TDeletionRecord> records() const
    {
        QMap<QString, TDeletionRecord> out;
        for (const TDeletionRecord &r : checker->DeletionLog().Records())
            out.insert(r.Subject, r);
        return out;
    }

    void check(const QStringList &subjects)
    {
        for (TMailEntry *e : checker->MailList)
            if (subjects.contains(e->Message.Subject))
                e->Checked = true;
    }

    QStringList copies() const { return QDir(checker->RescueCopyFolder()).entryList(QDir::Files); }
};

TEST_F(DeletionLogDovecotTest, EachKindOfRunRecordsHowTheRuleAndTheOutcome)
{
    filters.AddFilter(SubjectRule(QStringLiteral("gewinnspiel")));
    filters.AddFilter(HeaderRule(QStringLiteral("Received"), QStringLiteral("evil-relay.test")));
    for (const QByteArray &m : {mail("Ihr Gewinnspiel"), mail("Hallo"), mail("Rechnung", kEvilReceived),
                                mail("Privat"), mail("Noch ein Gewinnspiel")})
        ASSERT_FALSE(server->deliver(user, m).isEmpty());
    TPOP3Check options;
    options.AutoKillSpam = true;
    options.ShowUserInfoBeforeKillSpam = false;
    makeRealChecker({account()}, options);
    ASSERT_EQ(checkNow(), 5);

    // By hand: a message no rule caught, and one marked as spam.
    for (TMailEntry *e : checker->MailList)
        e->Checked = false;
    check({QStringLiteral("Privat"), QStringLiteral("Noch ein Gewinnspiel")});
    EXPECT_FALSE(deleteMarked(rows()).Failed);
    // After the spam notice.
    for (TMailEntry *e : checker->MailList)
        e->Checked = e->Message.Subject == QLatin1String("Ihr Gewinnspiel");
    EXPECT_FALSE(deleteMarked(rows(), nullptr, TDeletionHow::AfterNotice).Failed);
    // Automatically, right after a check: what is left of the spam.
    autoKill();
    EXPECT_EQ(server->messageIds(user).size(), 1);

    const QString subjectRule = QStringLiteral("enthält den Betreff \"gewinnspiel\"");
    const struct {
        const char *subject;
        TDeletionHow how;
        QString rule;
    } expected[] = {
        {"Privat", TDeletionHow::ByHand, QString()},
        {"Noch ein Gewinnspiel", TDeletionHow::ByHand, subjectRule},
        {"Ihr Gewinnspiel", TDeletionHow::AfterNotice, subjectRule},
        {"Rechnung", TDeletionHow::Automatic, QStringLiteral("Received enthält den Text \"evil-relay.test\"")},
    };
    const QMap<QString, TDeletionRecord> logged = records();
    ASSERT_EQ(logged.size(), 4);
    for (const auto &e : expected) {
        const TDeletionRecord r = logged.value(QString::fromUtf8(e.subject));
        EXPECT_EQ(r.How, e.how) << e.subject;
        EXPECT_EQ(r.RuleShown, e.rule) << e.subject;
        EXPECT_EQ(r.Outcome, TDeletionOutcome::Deleted) << e.subject;
        EXPECT_TRUE(r.Reason.isEmpty()) << e.subject;
        EXPECT_EQ(r.Account, user + QStringLiteral("@127.0.0.1"));
        EXPECT_EQ(r.SenderAddress, QStringLiteral("anna@example.test"));
        EXPECT_EQ(r.SenderName, QStringLiteral("Anna Absender"));
        EXPECT_GT(r.Size, 0);
        EXPECT_EQ(r.CopyNote, kCopiesOffText);
    }
    // The rule's fields, so that the editor can be opened on it.
    const TDeletionRecord rechnung = logged.value(QStringLiteral("Rechnung"));
    EXPECT_EQ(rechnung.RuleKind, fkHeaderField);
    EXPECT_EQ(rechnung.RuleField, QStringLiteral("Received"));
    EXPECT_EQ(rechnung.RuleText, QStringLiteral("evil-relay.test"));
    EXPECT_EQ(logged.value(QStringLiteral("Privat")).RuleKind, -1);
}

TEST_F(DeletionLogDovecotTest, ACopyEqualsTheMessageTheServerKeptAndLargeOnesGoWithout)
{
    settings.Settings.KeepDeletedCopies = true;
    settings.Settings.DeletedCopyLimitKB = 2;
    // Lines that begin with dots, stuffed on the way and unstuffed again.
    const QString small = server->deliver(user, mail("Klein", {}, ".versteckt\r\n..zwei Punkte\r\nEnde\r\n"));
    const QString large = server->deliver(user, mail("Gross", {}, QByteArray(3000, 'x') + "\r\n"));
    makeRealChecker({account()});
    ASSERT_EQ(checkNow(), 2);
    const QByteArray kept = server->messageFile(user, small);
    ASSERT_FALSE(kept.isEmpty());
    check({QStringLiteral("Klein"), QStringLiteral("Gross")});
    EXPECT_FALSE(deleteMarked(rows()).Failed);
    EXPECT_TRUE(server->messageIds(user).isEmpty());

    const QMap<QString, TDeletionRecord> logged = records();
    const TDeletionRecord klein = logged.value(QStringLiteral("Klein"));
    ASSERT_FALSE(klein.CopyFile.isEmpty());
    QFile copy(checker->RescueCopyFolder() + klein.CopyFile);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), kept);
    const TDeletionRecord gross = logged.value(QStringLiteral("Gross"));
    EXPECT_TRUE(gross.CopyFile.isEmpty());
    EXPECT_EQ(gross.CopyNote, QStringLiteral("keine Kopie: größer als 2 KB"));
    EXPECT_EQ(gross.Outcome, TDeletionOutcome::Deleted);
    EXPECT_EQ(copies(), QStringList{klein.CopyFile});
    Q_UNUSED(large);
}

// A connection that ends before the session does: every record says the deletion failed, the messages
// stay on the server, and a copy stays only where the QUIT went out unanswered (the server may have
// deleted them after all).
TEST_F(DeletionLogDovecotTest, AConnectionLostBeforeTheEndOfTheSessionLeavesFailedRecords)
{
    settings.Settings.KeepDeletedCopies = true;
    for (const QByteArray &m : {mail("eins"), mail("zwei")})
        ASSERT_FALSE(server->deliver(user, m).isEmpty());
    const struct {
        const char *name;
        QByteArray command;
        QByteArray after;
        QString reason;
        int copiesLeft;
    } cases[] = {
        {"at the first DELE", "DELE", {}, QString(), 0},
        {"at the QUIT after them", "QUIT", "DELE", kDeletionNotCommittedText, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        CuttingRelay relay(server->port(), c.command, CuttingRelay::Act::Cut, c.after);
        QString error;
        ASSERT_TRUE(relay.Start(&error)) << error.toStdString();
        makeRealChecker({account(relay.Port())});
        QDir(checker->RescueCopyFolder()).removeRecursively();
        ASSERT_EQ(checkNow(), 2);
        check({QStringLiteral("eins"), QStringLiteral("zwei")});
        const TDeletionResult result = deleteMarked(rows());
        EXPECT_TRUE(result.Failed);
        EXPECT_EQ(relay.Cuts(), 1);
        EXPECT_EQ(server->messageIds(user).size(), 2);

        const QList<TDeletionRecord> logged = checker->DeletionLog().Records().mid(0, 2);
        ASSERT_EQ(logged.size(), 2);
        for (const TDeletionRecord &r : logged) {
            EXPECT_EQ(r.Outcome, TDeletionOutcome::Failed) << r.Subject.toStdString();
            EXPECT_FALSE(r.Reason.isEmpty());
            if (!c.reason.isEmpty()) {
                EXPECT_EQ(r.Reason, c.reason);
            }
            EXPECT_EQ(r.CopyFile.isEmpty(), c.copiesLeft == 0);
        }
        EXPECT_EQ(copies().size(), c.copiesLeft);
        checker.reset();
    }
}

// quarvel-check killed while its QUIT waits for the server: the records it wrote are readable, and the
// next start says honestly that nobody knows whether the messages went. The server never saw the QUIT
// and kept them.
TEST_F(DeletionLogDovecotTest, AProgramKilledBetweenItsDeletesAndItsQuitLeavesAnHonestLog)
{
    for (const QByteArray &m : {mail("Ihr Gewinnspiel"), mail("Hallo"), mail("Gewinnspiel zwei")})
        ASSERT_FALSE(server->deliver(user, m).isEmpty());
    CuttingRelay relay(server->port(), "QUIT", CuttingRelay::Act::Hold, "DELE");
    QString error;
    ASSERT_TRUE(relay.Start(&error)) << error.toStdString();
    AddMailbox(0, server->host(), relay.Port(), user, password());
    const QString data = profile.file(QStringLiteral("data"));
    Reg({QStringLiteral("add"), QStringLiteral("HKCU\\Software\\Tessmar Software\\Quarvel\\Main"),
         QStringLiteral("/v"), QStringLiteral("DataPath"), QStringLiteral("/d"), data, QStringLiteral("/f")});
    filters.ReplaceFilters({SubjectRule(QStringLiteral("gewinnspiel"))});
    ASSERT_TRUE(filters.SaveFilters());

    QProcess child;
    child.start(toolPath(QStringLiteral("quarvel-check")), {QStringLiteral("--delete-spam")});
    ASSERT_TRUE(child.waitForStarted(30000));
    const bool held = processEventsUntil([&] { return relay.Cuts() == 1 || child.state() == QProcess::NotRunning; },
                                         kGuardMs);
    ASSERT_TRUE(held && relay.Cuts() == 1) << child.readAllStandardError().toStdString();
    ::kill(pid_t(child.processId()), SIGKILL);
    ASSERT_TRUE(child.waitForFinished(30000));

    TDeletionLog log(platform::withTrailingSlash(data) + kDeletionLogFileName);
    QList<TDeletionRecord> logged = log.Records();
    ASSERT_EQ(logged.size(), 2);
    for (const TDeletionRecord &r : logged) {
        EXPECT_EQ(r.Outcome, TDeletionOutcome::Pending);
        EXPECT_EQ(r.How, TDeletionHow::Automatic);
        EXPECT_EQ(r.RuleShown, QStringLiteral("enthält den Betreff \"gewinnspiel\""));
    }
    EXPECT_EQ(server->messageIds(user).size(), 3);

    // The next start of a program resolves them (quarvel-check again, listing only).
    QByteArray out, err;
    EXPECT_EQ(RunQuarvelCheck({}, &out, &err), 0) << err.toStdString();
    logged = log.Records();
    ASSERT_EQ(logged.size(), 2);
    for (const TDeletionRecord &r : logged) {
        EXPECT_EQ(r.Outcome, TDeletionOutcome::Failed);
        EXPECT_EQ(r.Reason, kDeletionAbandonedText);
    }
}

} // namespace
