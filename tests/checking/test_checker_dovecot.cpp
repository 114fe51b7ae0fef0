// The check coordinator and quarvel-check against a private Dovecot on loopback: scans, logins, spam
// marks, deletions, and a deletion refused because the mailbox changed after the check.
#include "CheckerTestSupport.h"
#include "CuttingRelay.h"
#include "DelayProxy.h"
#include "DovecotCheckerSupport.h"
#include "DovecotSuite.h"
#include "ScopedEnv.h"
#include "ToolSupport.h"

#include <QFile>
#include "MailDeletion.h"

#include <QDir>

namespace {

QByteArray mail(const QByteArray &subject, const QByteArray &extraHeaders = {}, const QByteArray &body = "Hallo.\r\n")
{
    return extraHeaders + "From: Anna Absender <anna@example.test>\r\nTo: bob@example.test\r\nSubject: " + subject
        + "\r\nMessage-ID: <" + QByteArray::number(qHash(subject + extraHeaders)) + "@example.test>\r\n\r\n" + body;
}

const QByteArray kEvilReceived = "Received: from mx.example.test by pop.example.test;\r\n"
                                 "\tMon, 1 Jan 2024 10:00:00 +0100\r\n"
                                 "Received: from unknown (HELO friendly)\r\n"
                                 "\t(evil-relay.test [192.0.2.7])\r\n"
                                 "\tby mx.example.test; Mon, 1 Jan 2024 09:59:00 +0100\r\n";

class DovecotCheckerTest : public MailboxOnDovecot<WithDovecot<CheckerFixture>> {
protected:
    TPOP3AccountSettings account() const
    {
        TPOP3AccountSettings a = Account(server->host(), user, password());
        a.Port = server->port();
        return a;
    }

    QStringList subjects() const
    {
        QStringList out;
        for (const TMailEntry *e : checker->MailList)
            out << QStringLiteral("%1:%2").arg(e->MsgNumber).arg(e->Message.Subject);
        return out;
    }
};

TEST_F(DovecotCheckerTest, HeaderScanListsNumbersSizesAndDecodedSubjectsAndMarksSpam)
{
    filters.AddFilter(SubjectRule(QStringLiteral("gewinnspiel")));
    filters.AddFilter(HeaderRule(QStringLiteral("Received"), QStringLiteral("evil-relay.test")));
    const QList<QByteArray> messages{mail("Hallo Bob"), mail("=?UTF-8?B?R3LDvMOfZSBhdXMgS8O2bG4=?="),
                                     mail("Ihr GEWINNSPIEL wartet"), mail("Rechnung", kEvilReceived)};
    for (const QByteArray &m : messages)
        ASSERT_FALSE(server->deliver(user, m).isEmpty());
    makeRealChecker({account()});

    EXPECT_EQ(checkNow(), 4) << ui.progress.join(u'\n').toStdString() << server->log().toStdString();
    ASSERT_EQ(checker->MailList.Count(), 4);
    EXPECT_EQ(subjects(), QStringList({QStringLiteral("1:Hallo Bob"), QStringLiteral("2:Grüße aus Köln"),
                                       QStringLiteral("3:Ihr GEWINNSPIEL wartet"), QStringLiteral("4:Rechnung")}));
    QList<int> sizes, states;
    QSet<QString> uidls;
    for (const TMailEntry *e : checker->MailList) {
        sizes << e->Size;
        states << e->State;
        uidls << e->ServerUIDL;
    }
    EXPECT_EQ(sizes, QList<int>({int(messages[0].size()), int(messages[1].size()), int(messages[2].size()),
                                 int(messages[3].size())}));
    EXPECT_EQ(states, QList<int>({msNormal, msNormal, msSpam, msSpam}));
    EXPECT_EQ(uidls.size(), 4);
    EXPECT_FALSE(uidls.contains(QString()));
    EXPECT_EQ(ui.progress.last(), QStringLiteral("%1@127.0.0.1 1 0").arg(user));
}

// Real-world mail from Debian's spamassassin package goes through the scan and the detector.
TEST_F(DovecotCheckerTest, SampleSpamAndNonSpamAreScannedAndJudged)
{
    const QString dir = QStringLiteral("/usr/share/doc/spamassassin/examples/");
    filters.AddFilter(SubjectRule(QStringLiteral("GTUBE")));
    filters.AddFilter(HeaderRule(QStringLiteral("Received"), QStringLiteral("example.net")));
    for (const char *name : {"sample-nonspam.txt", "sample-spam.txt"}) {
        QFile f(dir + QLatin1String(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << "install spamassassin: " << name;
        ASSERT_FALSE(server->deliver(user, f.readAll()).isEmpty());
    }
    makeRealChecker({account()});
    ASSERT_EQ(checkNow(), 2) << ui.progress.join(u'\n').toStdString();
    EXPECT_EQ(checker->MailList[0]->Message.Subject, QStringLiteral("TBTF ping for 2001-04-20: Reviving"));
    EXPECT_EQ(checker->MailList[0]->State, int(msNormal));
    EXPECT_EQ(checker->MailList[1]->Message.Subject, QStringLiteral("Test spam mail (GTUBE)"));
    EXPECT_EQ(checker->MailList[1]->State, int(msSpam));
    EXPECT_TRUE(checker->MailList[1]->Checked);
}

TEST_F(DovecotCheckerTest, ApopLoginIsUsedWhenTheServerOffersIt)
{
    server->deliver(user, mail("apop"));
    TPOP3AccountSettings a = account();
    a.UseAPOP = true;
    makeRealChecker({a});
    TPop3Thread *worker = checker->EnsureWorker();
    bool fatal = false;
    int code = 0;
    QString error;
    ASSERT_TRUE(worker->Connect(a, fatal, code, error)) << error.toStdString();
    EXPECT_EQ(worker->Client()->authKind(), Pop3Client::AuthKind::Apop) << "no fallback was needed";
    worker->FreeClient();
    EXPECT_EQ(checkNow(), 1);
}

TEST_F(DovecotCheckerTest, WrongPasswordReachesTheProgressLineAndTheUser)
{
    for (const bool apop : {false, true}) {
        SCOPED_TRACE(apop);
        TPOP3AccountSettings a = account();
        a.Password = QStringLiteral("wrong");
        a.UseAPOP = apop;
        makeRealChecker({a});
        ui.progress.clear();
        boxes.shown.clear();
        EXPECT_EQ(checkNow(), 0);
        ASSERT_EQ(ui.progress.size(), 2);
        EXPECT_TRUE(ui.progress.last().startsWith(QStringLiteral("%1@127.0.0.1 2 0 ").arg(user)));
        EXPECT_TRUE(ui.progress.last().contains(QStringLiteral("Authentication failed")))
            << ui.progress.last().toStdString();
        ASSERT_EQ(boxes.shown.size(), 1);
        EXPECT_TRUE(boxes.shown.at(0).text.startsWith(QStringLiteral("Quarvel konnte auf Ihre E-Mail-Server nicht")));
    }
}

// Dovecot offers PIPELINING: through a relay that holds every chunk a little, the header reads go out
// ahead of their replies, and the list is the one a scan of one command at a time gives.
TEST_F(DovecotCheckerTest, PipelinedScanOverASlowLinkListsWhatAScanOneAtATimeLists)
{
    constexpr int kMessages = 250; // more than one window of commands
    for (int i = 1; i <= kMessages; ++i)
        ASSERT_FALSE(server->deliver(user, mail("p" + QByteArray::number(i), {},
                                                QByteArray(i % 7 * 40, 'x') + "\r\n"))
                         .isEmpty());
    testservers::DelayProxy relay(server->port(), 2);
    QString error;
    ASSERT_TRUE(relay.Start(&error)) << error.toStdString();
    TPOP3AccountSettings far = account();
    far.Port = relay.Port();

    QStringList listed[2];
    QStringList trace[2];
    for (const bool pipelining : {false, true}) {
        TPop3Options options;
        options.Pipelining = pipelining;
        qputenv("QUARVEL_POP3_TRACE", "1");
        makeRealChecker({far}, {}, options);
        ::testing::internal::CaptureStderr();
        const int found = checkNow();
        const QString log = QString::fromStdString(::testing::internal::GetCapturedStderr());
        qunsetenv("QUARVEL_POP3_TRACE");
        EXPECT_EQ(found, kMessages) << ui.progress.join(u'\n').toStdString();
        for (const TMailEntry *e : checker->MailList)
            listed[pipelining] << QStringLiteral("%1:%2:%3:%4:%5")
                                      .arg(e->MsgNumber)
                                      .arg(e->Size)
                                      .arg(e->ServerUIDL, e->Message.Subject,
                                           QString::fromLatin1(e->ScanDigest.toHex()));
        for (const QString &line : log.split(u'\n'))
            if (line.startsWith(QLatin1String("POP3 C: TOP")) || line.startsWith(QLatin1String("POP3 S: +OK")))
                trace[pipelining] << line.mid(5, 6);
    }
    EXPECT_EQ(listed[1].size(), kMessages);
    EXPECT_EQ(listed[1], listed[0]);
    // One at a time, every header read waits for its reply; pipelined, a window of them leaves at once.
    const qsizetype firstTop = trace[0].indexOf(QStringLiteral("C: TOP"));
    ASSERT_GE(firstTop, 0);
    EXPECT_EQ(trace[0].mid(firstTop, 4), QStringList({"C: TOP", "S: +OK", "C: TOP", "S: +OK"}));
    EXPECT_EQ(trace[1].mid(trace[1].indexOf(QStringLiteral("C: TOP")), Pop3Client::kPipelineWindow + 1),
              QStringList(Pop3Client::kPipelineWindow, QStringLiteral("C: TOP")) << QStringLiteral("S: +OK"));
}

TEST_F(DovecotCheckerTest, CountModeCountsWithoutFetchingHeaders)
{
    for (int i = 0; i < 3; ++i)
        server->deliver(user, mail("n" + QByteArray::number(i)));
    makeRealChecker({account()});
    bool allFailed = true;
    TPop3Thread *worker = checker->EnsureWorker();
    EXPECT_TRUE(worker->RunCheck(true, true, -1, checker->Accounts, allFailed));
    EXPECT_FALSE(allFailed);
    EXPECT_EQ(worker->TotalCount, 3);
    EXPECT_TRUE(worker->Entries().isEmpty());
}

TEST_F(DovecotCheckerTest, CheckedMessagesAreDeletedInOneRunAndTheNumbersLowered)
{
    QStringList files;
    for (int i = 1; i <= 6; ++i)
        files << server->deliver(user, mail("m" + QByteArray::number(i)));
    makeRealChecker({account()});
    ASSERT_EQ(checkNow(), 6);
    checker->MailList[1]->Checked = true;
    checker->MailList[4]->Checked = true;

    const TDeletionResult result = deleteMarked(rows());
    EXPECT_FALSE(result.Failed) << result.ErrorText.toStdString();
    EXPECT_EQ(result.Deleted, 2);
    EXPECT_EQ(subjects(), QStringList({QStringLiteral("1:m1"), QStringLiteral("2:m3"), QStringLiteral("3:m4"),
                                       QStringLiteral("4:m6")}));
    QStringList kept{files[0], files[2], files[3], files[5]};
    kept.sort();
    QStringList now = server->messageIds(user);
    // Dovecot may add its own parts to a name when it moves a message to cur/.
    for (QString &id : now)
        id = id.section(QLatin1Char(','), 0, 0);
    now.sort();
    EXPECT_EQ(now, kept);

    // The lowered numbers are the server's numbers now.
    const QStringList expected = subjects();
    ASSERT_EQ(checkNow(), 4);
    EXPECT_EQ(subjects(), expected);
}

TEST_F(DovecotCheckerTest, DeletionIsRefusedWhenAnotherClientTookAMessageAfterTheCheck)
{
    const QString first = server->deliver(user, mail("one"));
    server->deliver(user, mail("two"));
    server->deliver(user, mail("three", {}, "Hallo!\r\n")); // another size than "two"
    makeRealChecker({account()});
    ASSERT_EQ(checkNow(), 3);
    ASSERT_TRUE(server->remove(user, first));

    // By its UIDL: message 3 of the list is number 2 on the server now.
    checker->MailList[2]->Checked = true;
    TDeletionResult result = deleteMarked(rows());
    EXPECT_TRUE(result.Failed);
    EXPECT_EQ(result.ErrorText, kMailboxChangedText);
    EXPECT_EQ(server->messageIds(user).size(), 2);

    // Without UIDL, by size and header block: number 2 is "three" now, not "two".
    checker->MailList[2]->Checked = false;
    checker->MailList[1]->Checked = true;
    checker->MailList[1]->ServerUIDL.clear();
    QString error;
    EXPECT_FALSE(deleteEntry(checker->MailList[1], error));
    EXPECT_EQ(error, kMailboxChangedText);
    EXPECT_EQ(server->messageIds(user).size(), 2);
    EXPECT_EQ(checker->MailList.Count(), 3) << "nothing left the list";
}

// --- quarvel-check --------------------------------------------------------------------------------------

class QuarvelCheckTest : public DovecotCheckerTest {
protected:
    // One mailbox of the profile, set up as a user would with the registry tool.
    void addMailbox(int index, const QString &name, const QString &secret, quint16 port = 0)
    {
        AddMailbox(index, server->host(), port ? port : server->port(), name, secret);
    }

    void reg(const QStringList &args) { Reg(args); }

    int check(const QStringList &args, QByteArray *out, QByteArray *err) { return RunQuarvelCheck(args, out, err); }

    // The data folder with a filter file holding these rules.
    void writeFilters(const QList<TSimpleFilter> &rules)
    {
        const QString data = profile.file(QStringLiteral("data"));
        reg({QStringLiteral("add"), QStringLiteral("HKCU\\Software\\Tessmar Software\\Quarvel\\Main"),
             QStringLiteral("/v"), QStringLiteral("DataPath"), QStringLiteral("/d"), data, QStringLiteral("/f")});
        settings.Settings.DataPath = data;
        filters.ReplaceFilters(rules);
        ASSERT_TRUE(filters.SaveFilters());
    }
};

TEST_F(QuarvelCheckTest, ListsTheMessagesMarksSpamAndDeletesIt)
{
    server->deliver(user, mail("Hallo Bob"));
    server->deliver(user, mail("Ihr Gewinnspiel\twartet"));
    server->deliver(user, mail("Rechnung", kEvilReceived));
    addMailbox(0, user, password());
    writeFilters({SubjectRule(QStringLiteral("gewinnspiel")),
                  HeaderRule(QStringLiteral("Received"), QStringLiteral("evil-relay.test"))});

    QByteArray out, err;
    ASSERT_EQ(check({}, &out, &err), 0) << err.toStdString();
    const QString box = user + QStringLiteral("@127.0.0.1");
    const QString sender = QStringLiteral("Anna Absender <anna@example.test>");
    const QStringList lines = QString::fromUtf8(out).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << out.toStdString();
    EXPECT_EQ(lines[0], QStringList({box, "1", QString::number(mail("Hallo Bob").size()), sender, "Hallo Bob", "-"})
                            .join(u'\t'));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("\tIhr Gewinnspiel wartet\tSpam"))) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith(box + QStringLiteral("\t3\t")));
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral("\tRechnung\tSpam")));

    ASSERT_EQ(check({QStringLiteral("--delete-spam")}, &out, &err), 0) << err.toStdString();
    EXPECT_TRUE(out.contains(("Gelöscht\t" + box + "\t2\tIhr Gewinnspiel wartet\n").toUtf8())) << out.toStdString();
    EXPECT_TRUE(out.contains(("Gelöscht\t" + box + "\t3\tRechnung\n").toUtf8())) << out.toStdString();
    EXPECT_EQ(server->messageIds(user).size(), 1);

    ASSERT_EQ(check({}, &out, &err), 0);
    EXPECT_EQ(QString::fromUtf8(out).split(u'\n', Qt::SkipEmptyParts).size(), 1);
}

// The server deletes only on a QUIT it answers: a connection lost there deleted nothing, and nothing may
// be reported as deleted.
TEST_F(QuarvelCheckTest, DeletionWithoutAConfirmedQuitIsAFailure)
{
    server->deliver(user, mail("Hallo Bob"));
    server->deliver(user, mail("Ihr Gewinnspiel wartet"));
    CuttingRelay relay(server->port(), "QUIT");
    QString error;
    ASSERT_TRUE(relay.Start(&error)) << error.toStdString();
    addMailbox(0, user, password(), relay.Port());
    writeFilters({SubjectRule(QStringLiteral("gewinnspiel"))});

    QByteArray out, err;
    EXPECT_EQ(check({QStringLiteral("--delete-spam")}, &out, &err), 1) << out.toStdString() << err.toStdString();
    EXPECT_FALSE(out.contains("Gelöscht")) << out.toStdString();
    EXPECT_TRUE(err.contains(kDeletionNotCommittedText.toUtf8())) << err.toStdString();
    EXPECT_EQ(relay.Cuts(), 2) << "the scan's QUIT and the deletion's";
    EXPECT_EQ(server->messageIds(user).size(), 2);
}

// A subject or sender may carry terminal escape sequences (retitle the terminal, write the clipboard,
// hide lines): nothing quarvel-check prints lets a control character through, nor does its POP3 trace.
TEST_F(QuarvelCheckTest, ControlCharactersOfAMailNeverReachTheTerminal)
{
    const QByteArray osc = "\x1b]0;pwned\x07\x1b]52;c;cm0gLXJmIH4=\x07";
    // Raw in the header, as an encoded word (ESC, BEL, the C1 CSI U+009B, DEL), and in the sender's name.
    server->deliver(user, "From: \"Anna\x1b[2K\" <anna@example.test>\r\nTo: bob@example.test\r\nSubject: Hallo "
                              + osc + "Bob\r\nMessage-ID: <esc1@example.test>\r\n\r\nHallo.\r\n");
    server->deliver(user, "From: anna@example.test\r\nTo: bob@example.test\r\nSubject: =?UTF-8?B?"
                              + QByteArray("Rechnung \x1b[8m\xC2\x9B" "31m\x7F" "da").toBase64()
                              + "?=\r\nMessage-ID: <esc2@example.test>\r\n\r\nHallo.\r\n");
    addMailbox(0, user, password());
    ScopedEnv env;
    env.set("QUARVEL_POP3_TRACE", "1");

    QByteArray out, err;
    ASSERT_EQ(check({}, &out, &err), 0) << err.toStdString();
    const QStringList lines = QString::fromUtf8(out).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << out.toStdString();
    EXPECT_TRUE(lines[0].contains(QStringLiteral("Hallo ?]0;pwned??]52;c;cm0gLXJmIH4=?Bob"))) << out.toStdString();
    EXPECT_TRUE(lines[1].contains(QStringLiteral("\tRechnung ?[8m?31m?da\t"))) << out.toStdString();
    EXPECT_TRUE(err.contains("POP3 S: Subject: Hallo ?]0;pwned?")) << "the trace is on";
    for (const auto &[name, text] : {std::pair{"output", out}, std::pair{"trace", err}}) {
        SCOPED_TRACE(name);
        const QString decoded = QString::fromUtf8(text);
        for (const QChar c : decoded) {
            const char16_t u = c.unicode();
            const bool control = (u < 0x20 && u != u'\n' && u != u'\t') || (u >= 0x7F && u <= 0x9F);
            EXPECT_FALSE(control) << "U+" << std::hex << int(u);
        }
    }
}

TEST_F(QuarvelCheckTest, FailedMailboxAndWrongUsageGiveTheirExitCodes)
{
    server->deliver(user, mail("Hallo"));
    addMailbox(0, user, password());
    addMailbox(1, user, QStringLiteral("wrong"));
    QByteArray out, err;
    EXPECT_EQ(check({}, &out, &err), 1);
    EXPECT_EQ(QString::fromUtf8(out).split(u'\n', Qt::SkipEmptyParts).size(), 1) << "the good mailbox is listed";
    EXPECT_TRUE(err.contains("Authentication failed")) << err.toStdString();
    EXPECT_TRUE(err.contains((user + QStringLiteral("@127.0.0.1")).toUtf8()));

    EXPECT_EQ(check({QStringLiteral("--bogus")}, &out, &err), 2);
    EXPECT_TRUE(err.contains("Aufruf: quarvel-check"));
}

TEST(QuarvelCheck, WithoutMailboxesItSaysSoAndFails)
{
    TestProfile profile;
    QByteArray out, err;
    EXPECT_EQ(runProcess(toolPath(QStringLiteral("quarvel-check")), {}, &out, &err), 1);
    EXPECT_TRUE(out.isEmpty());
    EXPECT_TRUE(err.contains("kein E-Mail-Konto eingerichtet")) << err.toStdString();
}

} // namespace
