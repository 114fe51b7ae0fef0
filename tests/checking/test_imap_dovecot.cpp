// IMAP mailboxes on a private Dovecot on loopback, through the check coordinator: the scan lists the
// unread messages and leaves them unread, spam goes to the Junk folder (or is deleted, and only it), a
// folder renumbered since the scan refuses every removal, the text is read without a mark.
#include "CheckerTestSupport.h"
#include "DovecotCheckerSupport.h"
#include "DovecotSuite.h"
#include "ImapIdle.h"
#include "ImapSession.h"
#include "ToolSupport.h"

#include <QFile>
#include <QFileInfo>

#include <csignal>

namespace {

QByteArray mail(const QByteArray &subject, const QByteArray &body = "Hallo.\r\n")
{
    return "From: Anna Absender <anna@example.test>\r\nTo: bob@example.test\r\nSubject: " + subject
        + "\r\nMessage-ID: <" + QByteArray::number(qHash(subject)) + "@example.test>\r\n\r\n" + body;
}

// Dovecot flags the folder "Unerwünscht" as the one for spam (\Junk) wherever a user has it; capabilities,
// when given, restrict what its IMAP server announces.
template <typename Base = ::testing::Test>
class WithImapDovecot : public WithDovecot<Base> {
protected:
    using Suite = WithDovecot<Base>;
    static void startServer(const QString &capabilities)
    {
        Suite::server = new DovecotServer;
        Suite::server->setJunkFolder(QStringLiteral("Unerwünscht"));
        Suite::server->setImapCapabilities(capabilities);
        QString error;
        Suite::started = Suite::server->start(&error);
        Suite::startError = error.toStdString();
    }
    static void SetUpTestSuite() { startServer({}); }
};

class ImapDovecotTest : public MailboxOnDovecot<WithImapDovecot<CheckerFixture>> {
protected:
    TPOP3AccountSettings account() const
    {
        TPOP3AccountSettings a = Account(server->host(), user, password());
        a.AccountType = atIMAP;
        a.Port = server->imapPort();
        return a;
    }

    QStringList subjects() const
    {
        QStringList out;
        for (const TMailEntry *e : checker->MailList)
            out << QStringLiteral("%1:%2").arg(e->MsgNumber).arg(e->Message.Subject);
        return out;
    }

    // Checks, marks the messages whose subject begins with "SPAM" and removes them.
    TDeletionResult checkAndRemoveSpam()
    {
        checkNow();
        QList<TMailEntry *> all = rows();
        for (TMailEntry *e : all)
            e->Checked = e->Message.Subject.startsWith(QLatin1String("SPAM"));
        return deleteMarked(all);
    }

    QString progress() const { return ui.progress.join(u'\n'); }

    // What the deletion log says of the message with that subject.
    TDeletionRecord logged(const QString &subject) const
    {
        for (const TDeletionRecord &r : checker->DeletionLog().Records())
            if (r.Subject == subject)
                return r;
        ADD_FAILURE() << "not in the log: " << subject.toStdString();
        return {};
    }
};

TEST_F(ImapDovecotTest, ScanListsTheUnreadMessagesWithSizesAndHeadersAndLeavesThemUnread)
{
    const QByteArray hello = mail("Hallo Bob"), greeting = mail("=?UTF-8?B?R3LDvMOfZSBhdXMgS8O2bG4=?=");
    const QString first = server->deliver(user, hello);
    server->deliver(user, mail("Schon gelesen"), {}, QStringLiteral("S"));
    const QString second = server->deliver(user, greeting);
    server->deliver(user, mail("Zum Löschen markiert"), {}, QStringLiteral("T"));
    makeRealChecker({account()});

    ASSERT_EQ(checkNow(), 2) << progress().toStdString() << server->log().toStdString();
    EXPECT_EQ(subjects(), QStringList({QStringLiteral("1:Hallo Bob"), QStringLiteral("3:Grüße aus Köln")}));
    EXPECT_EQ(checker->MailList[0]->Size, int(hello.size()));
    EXPECT_EQ(checker->MailList[1]->Size, int(greeting.size()));
    EXPECT_EQ(checker->MailList[0]->Message.From.Address, QStringLiteral("anna@example.test"));
    EXPECT_NE(checker->MailList[0]->Uid, checker->MailList[1]->Uid);
    EXPECT_NE(checker->MailList[0]->UidValidity, 0u);
    EXPECT_TRUE(checker->MailList[0]->Message.UID.startsWith(QStringLiteral("imap://")));
    EXPECT_EQ(ui.progress.last(), QStringLiteral("%1@127.0.0.1 1 0").arg(user));
    // Looking marks nothing as read, neither the scan nor the text.
    ASSERT_TRUE(fetchText(checker->MailList[0]));
    EXPECT_TRUE(checker->MailList[0]->Message.Body.join(u'\n').contains(QStringLiteral("Hallo.")));
    EXPECT_EQ(server->messageFlags(user, first), QString());
    EXPECT_EQ(server->messageFlags(user, second), QString());
    // Known now: the next check announces nothing new.
    EXPECT_EQ(checkNow(), 2);
}

struct JunkCase {
    const char *name;
    QStringList folders; // of the user's mailbox before the check
    QString expected;    // where the spam goes
};

void PrintTo(const JunkCase &c, std::ostream *os)
{
    *os << c.name;
}

class ImapJunkTest : public ImapDovecotTest, public ::testing::WithParamInterface<JunkCase> {};

TEST_P(ImapJunkTest, SpamMovesToTheFolderForSpamAndTheRestStaysUnread)
{
    const JunkCase &c = GetParam();
    for (const QString &folder : c.folders)
        ASSERT_TRUE(server->makeFolder(user, folder));
    const QString ham = server->deliver(user, mail("Rechnung"));
    server->deliver(user, mail("SPAM eins"));
    server->deliver(user, mail("SPAM zwei"));
    makeRealChecker({account()});

    const TDeletionResult result = checkAndRemoveSpam();
    EXPECT_FALSE(result.Failed) << result.ErrorText.toStdString();
    EXPECT_EQ(deletedRows, QList<int>({2, 3}));
    EXPECT_EQ(server->messageIds(user), QStringList{ham});
    EXPECT_EQ(server->messageIds(user, c.expected).size(), 2) << server->log().toStdString();
    EXPECT_EQ(server->messageFlags(user, ham), QString());
    EXPECT_EQ(subjects(), QStringList{QStringLiteral("1:Rechnung")});
    // The log says where they went; the server's folder is their copy.
    for (const QString &subject : {QStringLiteral("SPAM eins"), QStringLiteral("SPAM zwei")}) {
        const TDeletionRecord r = logged(subject);
        EXPECT_EQ(r.Outcome, TDeletionOutcome::Moved) << subject.toStdString();
        EXPECT_EQ(r.CopyNote, kMovedNeedsNoCopyText);
        EXPECT_TRUE(r.CopyFile.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Imap, ImapJunkTest,
    ::testing::Values(
        JunkCase{"SpecialUseFlagWinsOverTheName", {QStringLiteral("Junk"), QStringLiteral("Unerwünscht")},
                 QStringLiteral("Unerwünscht")},
        JunkCase{"FolderNamedSpamWithoutTheFlag", {QStringLiteral("Archiv"), QStringLiteral("SPAM")},
                 QStringLiteral("SPAM")},
        JunkCase{"FolderNamedSpamMails", {QStringLiteral("Spam-Mails")}, QStringLiteral("Spam-Mails")},
        JunkCase{"NoneThenJunkIsMade", {QStringLiteral("Archiv")}, QStringLiteral("Junk")}),
    [](const ::testing::TestParamInfo<JunkCase> &info) { return std::string(info.param.name); });

TEST_F(ImapDovecotTest, DeleteActionExpungesOnlyTheSpamNotWhatTheUserMarkedDeleted)
{
    const QString ham = server->deliver(user, mail("Rechnung"));
    const QString spam = server->deliver(user, mail("SPAM eins"));
    const QString marked = server->deliver(user, mail("Vom Benutzer markiert"), {}, QStringLiteral("ST"));
    const QByteArray kept = server->messageFile(user, spam);
    TPOP3AccountSettings a = account();
    a.IMAPSpamAction = isaDelete;
    settings.Settings.KeepDeletedCopies = true;
    makeRealChecker({a});

    const TDeletionResult result = checkAndRemoveSpam();
    EXPECT_FALSE(result.Failed) << result.ErrorText.toStdString();
    EXPECT_EQ(result.Deleted, 1);
    EXPECT_EQ(server->messageIds(user), (QStringList{ham, marked}));
    EXPECT_EQ(server->messageFlags(user, marked), QStringLiteral("ST"));
    EXPECT_EQ(server->messageIds(user, QStringLiteral("Junk")), QStringList());
    // Removed for good, so a copy was kept first: the message as the server sends it (CRLF line ends).
    const TDeletionRecord r = logged(QStringLiteral("SPAM eins"));
    EXPECT_EQ(r.Outcome, TDeletionOutcome::Deleted);
    EXPECT_EQ(checker->DeletionLog().Records().size(), 1);
    QFile copy(checker->RescueCopyFolder() + r.CopyFile);
    ASSERT_TRUE(!r.CopyFile.isEmpty() && copy.open(QIODevice::ReadOnly)) << r.CopyNote.toStdString();
    EXPECT_EQ(copy.readAll().replace("\r\n", "\n"), kept);
}

TEST_F(ImapDovecotTest, FolderRenumberedSinceTheScanRefusesEveryRemoval)
{
    server->deliver(user, mail("Rechnung"));
    server->deliver(user, mail("SPAM eins"));
    makeRealChecker({account()});
    ASSERT_EQ(checkNow(), 2) << progress().toStdString();
    ASSERT_TRUE(server->renumberInbox(user));

    QList<TMailEntry *> all = rows();
    all[1]->Checked = true;
    const TDeletionResult result = deleteMarked(all);
    EXPECT_TRUE(result.Failed);
    EXPECT_EQ(result.ErrorText, kMailboxChangedText);
    EXPECT_EQ(result.Deleted, 0);
    EXPECT_EQ(server->messageIds(user).size(), 2);
    EXPECT_FALSE(QFileInfo::exists(server->folder() + QStringLiteral("/mail/") + user + QStringLiteral("/.Junk")));
    const TDeletionRecord refused = logged(QStringLiteral("SPAM eins"));
    EXPECT_EQ(refused.Outcome, TDeletionOutcome::Failed);
    EXPECT_EQ(refused.Reason, kMailboxChangedText);
    // The text of a renumbered message is refused as well.
    QString error;
    EXPECT_FALSE(fetchText(all[0], &error));
    EXPECT_EQ(error, kMailboxChangedText);
}

TEST_F(ImapDovecotTest, LoginTestOpensTheFolderAndNamesOneThatIsMissing)
{
    makeRealChecker({account()});
    QString error;
    int code = -1;
    EXPECT_TRUE(testAccount(account(), error, code)) << error.toStdString();
    TPOP3AccountSettings missing = account();
    missing.IMAPFolder = QStringLiteral("Gibt es nicht");
    EXPECT_FALSE(testAccount(missing, error, code));
    EXPECT_TRUE(error.startsWith(QStringLiteral("Der Ordner \"Gibt es nicht\" kann nicht geöffnet werden: ")))
        << error.toStdString();
    TPOP3AccountSettings wrong = account();
    wrong.Password = QStringLiteral("falsch");
    EXPECT_FALSE(testAccount(wrong, error, code));
    EXPECT_TRUE(error.contains(QStringLiteral("Authentication failed"))) << error.toStdString();
}

// A server without MOVE (and one without UIDPLUS as well) in front of the same kind of mailbox.
class ImapWithoutMoveTest : public MailboxOnDovecot<WithImapDovecot<CheckerFixture>> {
protected:
    static void SetUpTestSuite() { startServer(QStringLiteral("IMAP4rev1 SASL-IR LITERAL+ IDLE UIDPLUS SPECIAL-USE")); }
};

TEST_F(ImapWithoutMoveTest, SpamIsCopiedThenOnlyItIsExpunged)
{
    const QString ham = server->deliver(user, mail("Rechnung"));
    server->deliver(user, mail("SPAM eins"));
    const QString marked = server->deliver(user, mail("Vom Benutzer markiert"), {}, QStringLiteral("T"));
    TPOP3AccountSettings a = Account(server->host(), user, password());
    a.AccountType = atIMAP;
    a.Port = server->imapPort();
    makeRealChecker({a});
    checkNow();
    QList<TMailEntry *> all = rows();
    ASSERT_EQ(all.size(), 2);
    all[1]->Checked = true;
    const TDeletionResult result = deleteMarked(all);
    EXPECT_FALSE(result.Failed) << result.ErrorText.toStdString();
    EXPECT_EQ(server->messageIds(user), (QStringList{ham, marked}));
    EXPECT_EQ(server->messageIds(user, QStringLiteral("Junk")).size(), 1);
}

class ImapWithoutUidplusTest : public MailboxOnDovecot<WithImapDovecot<CheckerFixture>> {
protected:
    static void SetUpTestSuite() { startServer(QStringLiteral("IMAP4rev1 SASL-IR LITERAL+ IDLE SPECIAL-USE")); }
};

TEST_F(ImapWithoutUidplusTest, SpamStaysMarkedAndTheUserIsToldWhy)
{
    for (const int action : {isaMoveToJunk, isaDelete}) {
        SCOPED_TRACE(action);
        const QString spam = server->deliver(user, mail("SPAM " + QByteArray::number(action)));
        TPOP3AccountSettings a = Account(server->host(), user, password());
        a.AccountType = atIMAP;
        a.Port = server->imapPort();
        a.IMAPSpamAction = action;
        makeRealChecker({a});
        ASSERT_EQ(checkNow(), 1);
        QList<TMailEntry *> all = rows();
        all[0]->Checked = true;
        const TDeletionResult result = deleteMarked(all);
        EXPECT_TRUE(result.Failed);
        EXPECT_TRUE(result.ErrorText.contains(QStringLiteral("UIDPLUS"))) << result.ErrorText.toStdString();
        // Still there, marked for deletion: the mail program removes it when it cleans up the folder.
        EXPECT_TRUE(server->messageIds(user).contains(spam));
        EXPECT_TRUE(server->messageFlags(user, spam).contains(QLatin1Char('T')));
        // The copy of the first round stays the only one.
        EXPECT_EQ(server->messageIds(user, QStringLiteral("Junk")).size(), 1);
        // Marked as deleted, it is no longer listed.
        EXPECT_EQ(checkNow(), 0);
    }
}

// --- IDLE -----------------------------------------------------------------------------------------------

class ImapIdleTest : public ImapDovecotTest {
protected:
    // Timed checking on, but a timed wake-up only after an hour: only the idle connection can announce.
    void startWatching()
    {
        TPOP3Check check;
        check.EMailCheck = true;
        check.AutoKillSpam = true;
        TPop3Options options;
        options.FirstWakeMs = options.WakeMs = 3600 * 1000;
        makeRealChecker({account()}, check, options);
        checker->OnNewMails = [this](TPOP3Checker *, const QList<TMailEntry *> &fresh) {
            for (const TMailEntry *e : fresh)
                announced << e->Message.Subject;
        };
        checker->SetActive(true);
        ASSERT_TRUE(checker->Enabled);
        ASSERT_TRUE(idling()) << server->log().toStdString();
    }

    bool idling()
    {
        return processEventsUntil([this] {
            const QList<const TImapIdleWatch *> watches = checker->IdleWatches();
            return watches.size() == 1 && watches.first()->Idling();
        }, kGuardMs);
    }

    // The process of Dovecot's that serves the user's last login.
    qint64 lastSessionProcess() const
    {
        const QStringList logins = server->log().split(u'\n').filter(QStringLiteral("Login: user=<%1>").arg(user));
        const QString last = logins.isEmpty() ? QString() : logins.last();
        const qsizetype at = last.indexOf(QStringLiteral("mpid="));
        return at < 0 ? -1 : last.mid(at + 5).section(QLatin1Char(','), 0, 0).toLongLong();
    }

    QStringList announced;
};

TEST_F(ImapIdleTest, MailDeliveredWhileIdlingIsAnnouncedAtOnce)
{
    server->deliver(user, mail("Schon da"));
    startWatching();
    server->deliver(user, mail("Neu angekommen"));
    ASSERT_TRUE(processEventsUntil([this] { return announced.contains(QStringLiteral("Neu angekommen")); }, kGuardMs))
        << announced.join(u',').toStdString() << server->log().toStdString();
    EXPECT_TRUE(boxes.shown.isEmpty());
    // The check left both unread, and the watch idles again.
    EXPECT_EQ(server->messageIds(user).size(), 2);
    for (const QString &id : server->messageIds(user))
        EXPECT_EQ(server->messageFlags(user, id), QString());
    EXPECT_TRUE(idling());
}

TEST_F(ImapIdleTest, AKilledIdleConnectionFallsBackToTheTimedCheckWithoutAWord)
{
    startWatching();
    const qint64 pid = lastSessionProcess();
    ASSERT_GT(pid, 0) << server->log().toStdString();
    ASSERT_EQ(::kill(pid_t(pid), SIGKILL), 0);
    ASSERT_TRUE(processEventsUntil([this] {
        const QList<const TImapIdleWatch *> watches = checker->IdleWatches();
        return watches.size() == 1 && watches.first()->Ended() == TImapIdleWatch::End::Lost;
    }, kGuardMs));
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_TRUE(ui.progress.isEmpty());

    // The timed check still finds the mail, and after it the account is watched again.
    server->deliver(user, mail("Beim Zeitabruf"));
    checker->EnsureWorker()->LastCheckTime = 0;
    checker->TimedCheckDue();
    ASSERT_TRUE(processEventsUntil([this] { return announced.contains(QStringLiteral("Beim Zeitabruf")); }, kGuardMs));
    ASSERT_TRUE(idling());
    server->deliver(user, mail("Wieder beobachtet"));
    EXPECT_TRUE(processEventsUntil([this] { return announced.contains(QStringLiteral("Wieder beobachtet")); }, kGuardMs));
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(ImapIdleTest, QuittingEndsTheIdleConnectionAtOnce)
{
    startWatching();
    const TImapIdleWatch *watch = checker->IdleWatches().first();
    checker->AbortForQuit();
    EXPECT_TRUE(processEventsUntil([watch] { return watch->Ended() == TImapIdleWatch::End::Stopped; }, kGuardMs));
    // Delivered after the end: no check starts any more.
    server->deliver(user, mail("Zu spät"));
    EXPECT_FALSE(checker->OperationRunning());
    EXPECT_TRUE(announced.isEmpty());
}

TEST_F(ImapIdleTest, SwitchingTimedCheckingOffEndsTheWatch)
{
    startWatching();
    checker->SetActive(false);
    // Gone, their threads ended.
    EXPECT_TRUE(checker->IdleWatches().isEmpty());
    checker->SetActive(true);
    EXPECT_TRUE(idling());
}

// --- TLS ------------------------------------------------------------------------------------------------

class ImapTlsTest : public MailboxOnDovecot<WithTlsDovecot<CheckerFixture>> {
protected:
    TPOP3AccountSettings account(int32_t security, const QString &name) const
    {
        TPOP3AccountSettings a = Account(server->host(), name, QStringLiteral("pass-") + name);
        a.AccountType = atIMAP;
        a.POP3Security = security;
        a.Port = security == csSSLTLS ? server->imapsPort() : server->imapPort();
        a.POP3CertSHA256 = certificate.Fingerprint;
        return a;
    }
};

TEST_F(ImapTlsTest, ScanTextAndMoveOverStartTlsAndImplicitTls)
{
    for (const int32_t security : {csStartTLS, csSSLTLS}) {
        SCOPED_TRACE(security);
        const QString name = user + QLatin1Char('-') + QString::number(security);
        ASSERT_TRUE(server->addUser(name, QStringLiteral("pass-") + name));
        server->deliver(name, mail("Hallo"));
        server->deliver(name, mail("SPAM"));
        makeRealChecker({account(security, name)});
        ASSERT_EQ(checkNow(), 2) << ui.progress.join(u'\n').toStdString();
        ASSERT_TRUE(fetchText(checker->MailList[0]));
        QList<TMailEntry *> all = rows();
        all[1]->Checked = true;
        const TDeletionResult result = deleteMarked(all);
        EXPECT_FALSE(result.Failed) << result.ErrorText.toStdString();
        EXPECT_EQ(server->messageIds(name, QStringLiteral("Junk")).size(), 1);
        const QStringList logins = server->log().split(u'\n').filter(QStringLiteral("Login: user=<%1>").arg(name));
        EXPECT_GE(logins.size(), 3) << server->log().toStdString();
        for (const QString &line : logins)
            EXPECT_TRUE(line.contains(QStringLiteral(", TLS"))) << line.toStdString();
    }
}

// The certificate is not trusted: refused, offered after the manual check, and once trusted it works.
TEST_F(ImapTlsTest, UntrustedCertificateIsOfferedAndWorksOnceTrusted)
{
    server->deliver(user, mail("Hallo"));
    TPOP3AccountSettings a = account(csSSLTLS, user);
    a.POP3CertSHA256.clear();
    makeRealChecker({a});
    ui.trustAnswer = true;
    EXPECT_EQ(checkNow(), 0);
    ASSERT_EQ(ui.trustAsked.size(), 1) << ui.progress.join(u'\n').toStdString();
    EXPECT_TRUE(ui.trustAsked.first().contains(certificate.Fingerprint));
    ASSERT_EQ(checker->Accounts.size(), 1);
    EXPECT_EQ(checker->Accounts[0].POP3CertSHA256, certificate.Fingerprint);
    EXPECT_EQ(checker->Accounts[0].AccountType, atIMAP);
    EXPECT_EQ(checkNow(), 1) << ui.progress.join(u'\n').toStdString();
}

// A server that does not offer STARTTLS (this suite's plain port before TLS is configured is not one, so
// a scripted server stands in): no login in the clear.
TEST_F(ImapTlsTest, LoginTestOverStartTlsRefusesAServerWithoutIt)
{
    TPOP3AccountSettings a = account(csStartTLS, user);
    a.Port = server->imapsPort(); // speaks TLS from the first byte: its greeting never comes in the clear
    makeRealChecker({a});
    QString error;
    int code = 0;
    EXPECT_FALSE(testAccount(a, error, code));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(server->log().split(u'\n').filter(QStringLiteral("Login: user=<%1>").arg(user)).isEmpty());
}

// --- quarvel-check ------------------------------------------------------------------------------------

TEST_F(ImapDovecotTest, QuarvelCheckListsAndMovesSpamOfAnImapMailbox)
{
    server->deliver(user, mail("Hallo"));
    server->deliver(user, mail("GEWINN sofort"));
    AddMailbox(0, server->host(), server->imapPort(), user, password());
    SetMailboxValue(0, QStringLiteral("AccountType"), QStringLiteral("1"));
    const QString data = profile.file(QStringLiteral("data"));
    Reg({QStringLiteral("add"), QStringLiteral("HKCU\\Software\\Tessmar Software\\Quarvel\\Main"),
         QStringLiteral("/v"), QStringLiteral("DataPath"), QStringLiteral("/d"), data, QStringLiteral("/f")});
    settings.Settings.DataPath = data;
    filters.ReplaceFilters({SubjectRule(QStringLiteral("gewinn"))});
    ASSERT_TRUE(filters.SaveFilters());

    QByteArray out, err;
    ASSERT_EQ(RunQuarvelCheck({QStringLiteral("--delete-spam")}, &out, &err), 0) << err.toStdString();
    const QStringList lines = QString::fromUtf8(out).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << out.toStdString();
    const QString box = user + QStringLiteral("@127.0.0.1");
    EXPECT_TRUE(lines[0].startsWith(box + QStringLiteral("\t1\t"))) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("\tHallo\t-"))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("\tGEWINN sofort\tSpam"))) << lines[1].toStdString();
    EXPECT_EQ(lines[2], QStringLiteral("Gelöscht\t%1\t2\tGEWINN sofort").arg(box));
    EXPECT_EQ(server->messageIds(user).size(), 1);
    EXPECT_EQ(server->messageIds(user, QStringLiteral("Junk")).size(), 1);
    EXPECT_EQ(server->messageFlags(user, server->messageIds(user).first()), QString());
}

} // namespace
