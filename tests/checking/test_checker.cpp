// The check coordinator against scripted servers and a recording user interface: manual checks, the list
// with its spam marks, new-mail detection, the announcements after timed checks, deletion runs, the
// known-identifier file and the SMS text.
#include "CheckerTestSupport.h"
#include "MailDeletion.h"
#include "NewMailSms.h"
#include "UIDStore.h"
#include "UidsSaveLists.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <csignal>

namespace {

const QString kAllFailed = QStringLiteral("Quarvel konnte auf Ihre E-Mail-Server nicht zugreifen.\r"
                                          "Sind Sie überhaupt online?\rGreift gerade ein anderes Programm "
                                          "darauf zu?");
const QString kNoMessages = QStringLiteral("Auf Ihren E-Mail-Server(n) befinden sich keine Nachrichten!");

QString tooltip(int n)
{
    return QStringLiteral("Tooltip: %1 Nachricht(en) befinden sich auf Ihren E-Mail-Server(n).").arg(n);
}

class CheckerTest : public CheckerFixture {
protected:
    QStringList shownTexts() const
    {
        QStringList texts;
        for (const auto &b : boxes.shown)
            texts << b.text;
        return texts;
    }

    QStringList ids(const QList<TMailEntry *> &entries) const
    {
        QStringList out;
        for (const TMailEntry *e : entries)
            out << e->Message.MsgId;
        return out;
    }

    QList<int> numbers() const
    {
        QList<int> out;
        for (const TMailEntry *e : checker->MailList)
            out << e->MsgNumber;
        return out;
    }

    // A manual check of one account with these messages; the calls it made are forgotten.
    void checkMessages(const QList<ScriptMessage> &messages, TPOP3Check check = {})
    {
        makeChecker({Account()}, check);
        play(Scan(messages));
        checkNow();
        ui.calls.clear();
    }
};

// --- Manual check ---------------------------------------------------------------------------------------

TEST_F(CheckerTest, ManualCheckWithoutAccountsTellsTheUser)
{
    makeChecker({});
    EXPECT_EQ(checkNow(), 0);
    EXPECT_EQ(shownTexts(),
              QStringList(QStringLiteral(
                  "Quarvel kann die Posteingangsüberprüfung nicht starten, da kein E-Mail-Konto eingerichtet "
                  "wurde!\r\rÖffnen Sie den Dialog \"POP3-Postfächer\" und erstellen Sie mindestens ein "
                  "E-Mail-Konto.")));
    EXPECT_EQ(boxes.shown.at(0).kind, MsgError);
    EXPECT_FALSE(ui.calls.contains(QStringLiteral("OpenProgressWindow")));
}

TEST_F(CheckerTest, ManualCheckListsAllAccountsWithSpamMarked)
{
    filters.AddFilter(SubjectRule(QStringLiteral("viagra")));
    filters.AddFilter(HeaderRule(QStringLiteral("From"), QStringLiteral("spammer.test")));
    makeChecker({Account(), Account(QStringLiteral("pop.other.test"), QStringLiteral("eve"))});
    play(Scan({{"Hello", "a1", 100, "u1"}, {"Cheap VIAGRA now", "a2", 200, "u2"}}));
    play(Login("eve") << C("STAT") << S("+OK 1 300") << Sizes({300}) << Uidl({"e1"}) << C("TOP 1 0") << S("+OK")
                      << S("From: Bad <x@spammer.test>") << S("Subject: hi") << S("") << S(".") << Quit());

    EXPECT_EQ(checkNow(), 3);
    ASSERT_EQ(checker->MailList.Count(), 3);
    QList<int> states;
    for (const TMailEntry *e : checker->MailList)
        states << e->State;
    EXPECT_EQ(states, QList<int>({msNormal, msSpam, msSpam}));
    EXPECT_FALSE(checker->MailList[0]->Checked);
    EXPECT_TRUE(checker->MailList[1]->Checked);
    EXPECT_EQ(checker->MailList[2]->Host, QStringLiteral("pop.other.test"));
    EXPECT_EQ(checker->MailList[2]->Size, 300);
    EXPECT_EQ(ui.rows.size(), 3);
    EXPECT_TRUE(ui.calls.contains(QStringLiteral("SetMessageCount(3)")));
    EXPECT_EQ(ui.calls.count(QStringLiteral("RefillMessageList(3)")), 1) << "CheckEnd does not rebuild it";
    EXPECT_EQ(ui.progress, QStringList({QStringLiteral("bob@pop.example.test 0 0"),
                                        QStringLiteral("bob@pop.example.test 1 0"),
                                        QStringLiteral("eve@pop.other.test 0 0"),
                                        QStringLiteral("eve@pop.other.test 1 0")}));
    EXPECT_TRUE(ui.calls.contains(QStringLiteral("CloseProgressWindow")));
    EXPECT_TRUE(boxes.shown.isEmpty());
    expectScriptDone();
}

TEST_F(CheckerTest, RuleMatchesTheTextAfterAnEncodedNul)
{
    filters.AddFilter(SubjectRule(QStringLiteral("XYZ")));
    makeChecker({Account()});
    play(Scan({{"Cheap =?utf-16be?B?AAA=?= XYZ", "a1", 100, "u1"}}));
    EXPECT_EQ(checkNow(), 1);
    EXPECT_EQ(checker->MailList[0]->State, int(msSpam)) << checker->MailList[0]->Message.Subject.toStdString();
    expectScriptDone();
}

TEST_F(CheckerTest, ManualCheckOfOneAccountByIndex)
{
    makeChecker({Account(), Account(QStringLiteral("pop.other.test"), QStringLiteral("eve"))});
    play(Scan({{"eve's", "e1", 10, "e-1"}}, "eve"));
    EXPECT_EQ(checkNow(1), 1);
    EXPECT_EQ(checker->MailList[0]->UserName, QStringLiteral("eve"));
    expectScriptDone();
}

TEST_F(CheckerTest, ManualCheckWhereEveryAccountFails)
{
    makeChecker({Account()});
    play({Refuse("Connection refused")});
    EXPECT_EQ(checkNow(), 0);
    EXPECT_EQ(shownTexts(), QStringList(kAllFailed));
    EXPECT_TRUE(ui.calls.contains(QStringLiteral("ProgressFinishedWithErrors")));
    EXPECT_TRUE(ui.calls.contains(QStringLiteral("BringProgressToFront")));
    expectScriptDone();
}

TEST_F(CheckerTest, ManualCheckOfEmptyMailboxes)
{
    makeChecker({Account()});
    play(Scan({}));
    EXPECT_EQ(checkNow(), 0);
    EXPECT_EQ(shownTexts(), QStringList(kNoMessages));
    EXPECT_EQ(boxes.shown.at(0).kind, MsgInformation);
    expectScriptDone();
}

// --- New-mail detection ---------------------------------------------------------------------------------

TEST_F(CheckerTest, NewMailDetectFindsEachMessageOnceIgnoringCaseAndForgetsWhatIsGone)
{
    checkMessages({{"one", "a1", 100, "u1"}, {"two", "A2", 200, "u2"}, {"three", "", 300, "u3"}});
    QList<TMailEntry *> announced;
    checker->OnNewMails = [&](TPOP3Checker *, const QList<TMailEntry *> &fresh) { announced = fresh; };
    // Known before: the second message in another letter case, and one the server no longer holds.
    checker->KnownUIDs = {QStringLiteral("<a2@EXAMPLE.TEST>"), QStringLiteral("<gone@example.test>")};

    EXPECT_EQ(checker->NewMailDetect(), 2);
    ASSERT_EQ(announced.size(), 2);
    EXPECT_EQ(announced[0]->Message.MsgId, QStringLiteral("<a1@example.test>"));
    // Without a Message-ID the identifier is the size followed by the header block.
    const QString third = QStringLiteral("300") + announced[1]->Message.HeaderText();
    EXPECT_EQ(announced[1]->Message.UID, third);
    EXPECT_TRUE(third.contains(QStringLiteral("\r\nSubject: three\r\n")));
    EXPECT_EQ(checker->KnownUIDs,
              QStringList({QStringLiteral("<a2@EXAMPLE.TEST>"), QStringLiteral("<a1@example.test>"), third}));

    announced.clear();
    EXPECT_EQ(checker->NewMailDetect(), 0);
    EXPECT_TRUE(announced.isEmpty());
    EXPECT_EQ(checker->KnownUIDs.size(), 3);
}

TEST_F(CheckerTest, ARunThatMissedAMailboxForgetsNoKnownMessage)
{
    // The second mailbox fails this time: its message is still on its server, not gone.
    makeChecker({Account(), Account(QStringLiteral("pop.other.test"), QStringLiteral("eve"))});
    play(Scan({{"one", "a1", 100, "u1"}}));
    play({Refuse("Connection refused")});
    checker->KnownUIDs = {QStringLiteral("<e1@example.test>")};
    EXPECT_EQ(checkNow(), 1);
    EXPECT_EQ(checker->KnownUIDs, QStringList({QStringLiteral("<e1@example.test>"), QStringLiteral("<a1@example.test>")}));
    expectScriptDone();

    // A check of one mailbox by its index says nothing about the others either.
    play(Scan({{"one", "a1", 100, "u1"}}));
    EXPECT_EQ(checkNow(0), 1);
    EXPECT_EQ(checker->KnownUIDs.size(), 2);
    expectScriptDone();
}

struct CountCase {
    const char *name;
    bool autoKill;
    bool onlyNew;
    int expected;
};

void PrintTo(const CountCase &c, std::ostream *os)
{
    *os << c.name;
}

class NewMailCountTest : public CheckerTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(NewMailCountTest, CountsWhatTheOptionsSay)
{
    TPOP3Check check;
    check.AutoKillSpam = GetParam().autoKill;
    check.ShowOnlyNewMsgs = GetParam().onlyNew;
    checkMessages({{"one", "a1", 100, "u1"}, {"two", "a2", 200, "u2"}, {"three", "a3", 300, "u3"}}, check);
    checker->KnownUIDs = {QStringLiteral("<a1@example.test>")};
    EXPECT_EQ(checker->NewMailDetect(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Checker, NewMailCountTest,
                         ::testing::Values(CountCase{"TotalWithoutAutoKill", false, true, 3},
                                           CountCase{"AllEntriesWhenNotOnlyNew", true, false, 3},
                                           CountCase{"OnlyTheNewOnes", true, true, 2}),
                         [](const ::testing::TestParamInfo<CountCase> &info) { return std::string(info.param.name); });

TEST_F(CheckerTest, CountOnlyCheckAnnouncesTheTotalAndKeepsTheKnownList)
{
    TPOP3Check check;
    check.AutoKillSpam = false;
    check.NewMailMsg = true;
    check.EMailSoundFile = QStringLiteral("ding.wav");
    makeChecker({Account()}, check);
    checker->KnownUIDs = {QStringLiteral("<a1@example.test>")};
    play(Login() << C("STAT") << S("+OK 3 3000") << Quit());
    bool allFailed = false;
    ASSERT_TRUE(checker->EnsureWorker()->RunCheck(false, true, -1, checker->Accounts, allFailed));

    checker->TimedNotify();
    // A count sees no message's identity: it cannot tell which known messages are gone.
    EXPECT_EQ(checker->KnownUIDs, QStringList({QStringLiteral("<a1@example.test>")}));
    EXPECT_EQ(ui.calls, QStringList({QStringLiteral("ShowMailIcon(animated)"), tooltip(3),
                                     QStringLiteral("CloseNewMailNotice"),
                                     QStringLiteral("OpenNewMailNotice(3, check)"),
                                     QStringLiteral("PlaySound(ding.wav)")}));
    expectScriptDone();
}

TEST_F(CheckerTest, CountOnlyCheckOfEmptyMailboxesClearsTheList)
{
    TPOP3Check check;
    check.AutoKillSpam = false;
    makeChecker({Account()}, check);
    play(Login() << C("STAT") << S("+OK 0 0") << Quit());
    bool allFailed = false;
    ASSERT_TRUE(checker->EnsureWorker()->RunCheck(false, true, -1, checker->Accounts, allFailed));
    checker->TimedNotify();
    EXPECT_EQ(ui.calls, QStringList({QStringLiteral("ClearMessageList"), QStringLiteral("HideMailIcon")}));
    expectScriptDone();
}

// --- Automatic spam removal -----------------------------------------------------------------------------

TEST_F(CheckerTest, AutoKillShowsTheSpamNoticeWhenAskedTo)
{
    filters.AddFilter(SubjectRule(QStringLiteral("viagra")));
    TPOP3Check check;
    check.ShowUserInfoBeforeKillSpam = true;
    check.EMailSoundFile = QStringLiteral("ding.wav");
    checkMessages({{"Hello", "a1", 100, "u1"}, {"viagra", "a2", 200, "u2"}}, check);

    autoKill();
    EXPECT_EQ(ui.calls, QStringList({QStringLiteral("SetMessageCount(2)"), QStringLiteral("RefillMessageList(2)"),
                                     QStringLiteral("CloseNewMailNotice"), QStringLiteral("HideMailIcon"),
                                     QStringLiteral("CloseSpamNotice"), QStringLiteral("OpenSpamNotice(2, 1)"),
                                     QStringLiteral("PlaySound(ding.wav)")}));
    EXPECT_TRUE(written("DELE").isEmpty());
    expectScriptDone();
}

TEST_F(CheckerTest, AutoKillDeletesSpamWithoutAskingInOneSession)
{
    filters.AddFilter(SubjectRule(QStringLiteral("viagra")));
    TPOP3Check check;
    check.ShowUserInfoBeforeKillSpam = false;
    checkMessages({{"viagra 1", "a1", 100, "u1"}, {"Hello", "a2", 200, "u2"}, {"viagra 3", "a3", 300, "u3"}},
                  check);
    checker->KnownUIDs.clear();
    ui.mailIcon = true; // mail was announced before this check
    play(Login() << Listing({"u1", "u2", "u3"}) << C("DELE 1") << S("+OK") << C("DELE 3") << S("+OK") << Quit());

    autoKill();
    ASSERT_EQ(checker->MailList.Count(), 1);
    EXPECT_EQ(checker->MailList[0]->Message.Subject, QStringLiteral("Hello"));
    EXPECT_EQ(checker->MailList[0]->MsgNumber, 1) << "lowered by the deletion of message 1";
    EXPECT_EQ(checker->Entries().size(), 1);
    EXPECT_TRUE(ui.calls.contains(QStringLiteral("RefillMessageList(1)")));
    EXPECT_EQ(ui.calls.mid(ui.calls.size() - 2), QStringList({tooltip(1), QStringLiteral("ShowMailIcon(still)")}));
    EXPECT_TRUE(boxes.shown.isEmpty());
    expectScriptDone();
}

TEST_F(CheckerTest, AutoKillWithoutSpamAnnouncesTheNewMail)
{
    TPOP3Check check;
    check.NewMailMsg = true;
    checkMessages({{"one", "a1", 100, "u1"}, {"two", "a2", 200, "u2"}}, check);
    checker->KnownUIDs = {QStringLiteral("<a1@example.test>")};

    autoKill();
    EXPECT_EQ(ui.calls, QStringList({QStringLiteral("SetMessageCount(2)"), QStringLiteral("RefillMessageList(2)"),
                                     QStringLiteral("ShowMailIcon(animated)"), tooltip(1),
                                     QStringLiteral("CloseNewMailNotice"),
                                     QStringLiteral("OpenNewMailNotice(1, show)")}));

    // With the main window open there is no notice, and nothing new means no icon.
    ui.calls.clear();
    ui.mainVisible = true;
    autoKill();
    EXPECT_EQ(ui.calls.mid(2), QStringList({QStringLiteral("HideMailIcon"), QStringLiteral("CloseNewMailNotice")}));
}

// --- Deletion -------------------------------------------------------------------------------------------

TEST(DeletionOrder, KeyPadsTheNumberAndIgnoresAsciiCase)
{
    TMailEntry e;
    e.UserName = QStringLiteral("Bob");
    e.Host = QStringLiteral("pop.example.test");
    e.MsgNumber = 42;
    EXPECT_EQ(DeletionOrderKey(e), QStringLiteral("Bob@pop.example.test\t000042"));
    e.MsgNumber = 1234567;
    EXPECT_EQ(DeletionOrderKey(e), QStringLiteral("Bob@pop.example.test\t1234567"));

    EXPECT_EQ(CompareDeletionKeys(QStringLiteral("bob@a\t000001"), QStringLiteral("BOB@A\t000001")), 0);
    EXPECT_LT(CompareDeletionKeys(QStringLiteral("bob@a\t000002"), QStringLiteral("BOB@A\t000010")), 0);
    // "_" lies between the capitals and the small letters: small letters count as capitals.
    EXPECT_LT(CompareDeletionKeys(QStringLiteral("a@x"), QStringLiteral("_@x")), 0);
    EXPECT_LT(CompareDeletionKeys(QStringLiteral("ab"), QStringLiteral("abc")), 0);
}

TEST(DeletionOrder, SortGroupsByAccountAndRenumberingLowersLaterOnesOfTheSameAccount)
{
    auto make = [](const char *user, int n) {
        auto *e = new TMailEntry;
        e->UserName = QString::fromLatin1(user);
        e->Host = QStringLiteral("h");
        e->MsgNumber = n;
        return e;
    };
    QList<TMailEntry *> list{make("b", 5), make("a", 10), make("b", 2), make("a", 9)};
    const QList<TMailEntry *> owned = list;
    SortByDeletionOrder(list);
    QStringList order;
    for (const TMailEntry *e : list)
        order << DeletionOrderKey(*e);
    EXPECT_EQ(order, QStringList({QStringLiteral("a@h\t000009"), QStringLiteral("a@h\t000010"),
                                  QStringLiteral("b@h\t000002"), QStringLiteral("b@h\t000005")}));
    RenumberAfterDeletion(list, 0);
    EXPECT_EQ(list[1]->MsgNumber, 9);
    EXPECT_EQ(list[3]->MsgNumber, 5) << "another account keeps its numbers";
    qDeleteAll(owned);
}

TEST_F(CheckerTest, CheckedMessagesOfAnAccountGoInOneSessionAndTheRestIsRenumbered)
{
    QList<ScriptMessage> six;
    for (int i = 1; i <= 6; ++i)
        six << ScriptMessage{"m" + QByteArray::number(i), "a" + QByteArray::number(i), 100 * i,
                             "u" + QByteArray::number(i)};
    checkMessages(six);
    checker->MailList[4]->Checked = true;
    checker->MailList[1]->Checked = true;
    play(Login() << Listing({"u1", "u2", "u3", "u4", "u5", "u6"}) << C("DELE 2") << S("+OK") << C("DELE 5")
                 << S("+OK") << Quit());

    QList<TMailEntry *> rows;
    for (TMailEntry *e : checker->MailList)
        rows << e;
    const TDeletionResult result = deleteMarked(rows);
    EXPECT_FALSE(result.Failed);
    EXPECT_EQ(deletedRows, QList<int>({2, 5}));
    EXPECT_EQ(numbers(), QList<int>({1, 2, 3, 4}));
    QStringList subjects;
    for (const TMailEntry *e : checker->MailList)
        subjects << e->Message.Subject;
    EXPECT_EQ(subjects, QStringList({"m1", "m3", "m4", "m6"}));
    EXPECT_EQ(fake->connectCount(), 2) << "the scan and one deletion session";
    expectScriptDone();
}

TEST_F(CheckerTest, AFailedDeletionStopsTheRunAndKeepsTheRest)
{
    makeChecker({Account(), Account(QStringLiteral("pop.other.test"), QStringLiteral("eve"))});
    play(Scan({{"b1", "b1", 100, "ub1"}, {"b2", "b2", 100, "ub2"}}));
    play(Scan({{"e1", "e1", 100, "ue1"}}, "eve"));
    checkNow();
    for (TMailEntry *e : checker->MailList)
        e->Checked = true;
    // Another program took bob's first message since the check: it is gone, and the second one now has
    // number 1, so number 2 must not be deleted.
    play(Login() << Listing({"ub2"}) << Quit());

    QList<TMailEntry *> rows;
    for (TMailEntry *e : checker->MailList)
        rows << e;
    const TDeletionResult result = deleteMarked(rows);
    EXPECT_TRUE(result.Failed);
    EXPECT_EQ(result.FailedMsgNumber, 2);
    EXPECT_EQ(result.ErrorText, kMailboxChangedText);
    ASSERT_EQ(checker->MailList.Count(), 2);
    EXPECT_EQ(checker->MailList[0]->Message.Subject, QStringLiteral("b2"));
    EXPECT_EQ(checker->MailList[0]->MsgNumber, 1);
    EXPECT_TRUE(checker->MailList[0]->Checked);
    EXPECT_EQ(checker->MailList[1]->UserName, QStringLiteral("eve")) << "eve's mailbox was not touched";
    EXPECT_EQ(fake->connectCount(), 3);
    EXPECT_TRUE(written("DELE").isEmpty());
    expectScriptDone();
}

TEST_F(CheckerTest, MessagesThatShareAnIdAndSwapPlacesAreNotDeleted)
{
    filters.AddFilter(SubjectRule(QStringLiteral("viagra")));
    checkMessages({{"viagra", "a1", 100, "dup"}, {"Hello", "a2", 100, "dup"}});
    ASSERT_EQ(checker->MailList[0]->State, int(msSpam));
    // The server now lists the good message first, under the same id and with the same size.
    play(Login() << C("STAT") << S("+OK 2 200") << C("LIST 1") << S("+OK 1 100") << C("TOP 1 0") << S("+OK")
                 << S("Subject: Hello") << S("Message-ID: <a2@example.test>") << S("") << S(".") << Quit());

    const TDeletionResult result = deleteMarked(QList<TMailEntry *>(ui.rows));
    EXPECT_TRUE(result.Failed);
    EXPECT_EQ(result.ErrorText, kMailboxChangedText);
    EXPECT_TRUE(written("DELE").isEmpty());
    EXPECT_EQ(checker->MailList.Count(), 2);
    expectScriptDone();
}

// Records what a deletion run reports, in order.
class RecordingDeletionObserver : public IDeletionObserver {
public:
    void AccountStarted(const QString &account) override { log << QStringLiteral("start ") + account; }
    void AccountFinished(const QString &account) override { log << QStringLiteral("end ") + account; }
    void EntrySent(const TMailEntry &e) override { log << QStringLiteral("sent %1").arg(e.MsgNumber); }
    void EntryDeleted(const TMailEntry &e) override { log << QStringLiteral("deleted %1").arg(e.MsgNumber); }
    void EntryFailed(const TMailEntry &e, const QString &errorText) override
    {
        log << QStringLiteral("failed %1: %2").arg(e.MsgNumber).arg(errorText);
    }
    QStringList log;
};

// A DELE is only a request: the server carries it out when the session ends with a QUIT it confirms.
struct CommitCase {
    const char *name;
    Script session;     // the deletion session of messages 1 and 3 after its login
    bool failed;
    QList<int> numbersLeft;
    QStringList log;
};

void PrintTo(const CommitCase &c, std::ostream *os)
{
    *os << c.name;
}

class CommitTest : public CheckerTest, public ::testing::WithParamInterface<CommitCase> {};

TEST_P(CommitTest, DeletionsCountOnlyOnceTheServerConfirmedTheEnd)
{
    const CommitCase &c = GetParam();
    checkMessages({{"m1", "a1", 100, "u1"}, {"m2", "a2", 200, "u2"}, {"m3", "a3", 300, "u3"}});
    checker->MailList[0]->Checked = true;
    checker->MailList[1]->Checked = false;
    checker->MailList[2]->Checked = true;
    play(Login() << c.session);

    auto observer = std::make_shared<RecordingDeletionObserver>();
    const TDeletionResult result = deleteMarked(QList<TMailEntry *>(ui.rows), observer);
    EXPECT_EQ(result.Failed, c.failed);
    EXPECT_EQ(numbers(), c.numbersLeft);
    EXPECT_EQ(observer->log, c.log);
    expectScriptDone();
}

const QString kBob = QStringLiteral("bob@pop.example.test");

Script deleteOneAndThree()
{
    return Listing({"u1", "u2", "u3"}) << C("DELE 1") << S("+OK") << C("DELE 3") << S("+OK");
}

INSTANTIATE_TEST_SUITE_P(
    Checker, CommitTest,
    ::testing::Values(
        CommitCase{"QuitConfirmed", deleteOneAndThree() << Quit(), false, {1},
                   {"start " + kBob, "sent 1", "sent 3", "deleted 1", "deleted 3", "end " + kBob}},
        CommitCase{"ConnectionDroppedAtQuit", deleteOneAndThree() << C("QUIT") << Drop(), true, {1, 2, 3},
                   {"start " + kBob, "sent 1", "sent 3", "failed 1: " + kDeletionNotCommittedText, "end " + kBob}},
        CommitCase{"QuitRefused", deleteOneAndThree() << C("QUIT") << S("-ERR some messages not removed"), true,
                   {1, 2, 3},
                   {"start " + kBob, "sent 1", "sent 3", "failed 1: " + kDeletionNotCommittedText, "end " + kBob}},
        // The first DELE went with its session, which ended before the second got its answer.
        CommitCase{"ConnectionLostBetweenTheDeletions",
                   Listing({"u1", "u2", "u3"}) << C("DELE 1") << S("+OK") << C("DELE 3") << Drop(),
                   true, {1, 2, 3},
                   {"start " + kBob, "sent 1", "failed 3: " + kDeletionNotCommittedText, "end " + kBob}}),
    [](const ::testing::TestParamInfo<CommitCase> &info) { return std::string(info.param.name); });

// Deletions of one account sent together to a server that offers PIPELINING: the session's UIDL listing
// proves each message, and the run still stops at the first refusal, with nothing after it deleted.
struct PipelinedDeletionCase {
    const char *name;
    Script session;      // after the login and the listing; messages 2, 4 and 5 are checked
    bool failed;
    QStringList left;    // "subject:number" of the entries left, an asterisk for a check mark
    QStringList log;
    QList<int> waits = {}; // the waits after "too frequently" refusals
};

void PrintTo(const PipelinedDeletionCase &c, std::ostream *os)
{
    *os << c.name;
}

class PipelinedDeletionTest : public CheckerTest, public ::testing::WithParamInterface<PipelinedDeletionCase> {
protected:
    void checkFive()
    {
        QList<ScriptMessage> five;
        for (int i = 1; i <= 5; ++i)
            five << ScriptMessage{"m" + QByteArray::number(i), "a" + QByteArray::number(i), 100 * i,
                                  "u" + QByteArray::number(i)};
        checkMessages(five);
        for (const int i : {1, 3, 4})
            checker->MailList[i]->Checked = true;
        fake->readsAhead = true;
    }

    QStringList left() const
    {
        QStringList out;
        for (const TMailEntry *e : checker->MailList)
            out << QStringLiteral("%1:%2%3").arg(e->Message.Subject).arg(e->MsgNumber).arg(e->Checked ? "*" : "");
        return out;
    }

    static Script session() { return Login("bob", "pw", true, true) << Listing({"u1", "u2", "u3", "u4", "u5"}); }
};

TEST_P(PipelinedDeletionTest, StopsAtTheFirstRefusal)
{
    const PipelinedDeletionCase &c = GetParam();
    checkFive();
    play(session() << c.session);
    auto observer = std::make_shared<RecordingDeletionObserver>();
    const TDeletionResult result = deleteMarked(QList<TMailEntry *>(ui.rows), observer);
    EXPECT_EQ(result.Failed, c.failed);
    EXPECT_EQ(left(), c.left);
    EXPECT_EQ(observer->log, c.log);
    EXPECT_EQ(waits, c.waits);
    expectScriptDone();
}

Script dele(int n, const QByteArray &reply)
{
    return {C("DELE " + QByteArray::number(n)), S(reply)};
}

const QByteArray kLocked = "-ERR message locked";
const QByteArray kTooFrequent = "-ERR [IN-USE] logged in too frequently, try again in 30s";

INSTANTIATE_TEST_SUITE_P(
    Checker, PipelinedDeletionTest,
    ::testing::Values(
        PipelinedDeletionCase{"AllAccepted", dele(2, "+OK") << dele(4, "+OK") << dele(5, "+OK") << Quit(), false,
                              {"m1:1", "m3:2"},
                              {"start " + kBob, "sent 2", "sent 4", "sent 5", "deleted 2", "deleted 4", "deleted 5",
                               "end " + kBob}},
        PipelinedDeletionCase{"GoneAlreadyCounts",
                              dele(2, "+OK") << dele(4, "-ERR no such message") << dele(5, "+OK") << Quit(), false,
                              {"m1:1", "m3:2"},
                              {"start " + kBob, "sent 2", "sent 4", "sent 5", "deleted 2", "deleted 4", "deleted 5",
                               "end " + kBob}},
        // The server accepted DELE 5 after refusing DELE 4: RSET takes it back, and DELE 2 goes again.
        PipelinedDeletionCase{"RefusedInTheMiddleAndALaterOneTakenBack",
                              dele(2, "+OK") << dele(4, kLocked) << dele(5, "+OK") << C("RSET") << S("+OK")
                                             << dele(2, "+OK") << Quit(),
                              true, {"m1:1", "m3:2", "m4:3*", "m5:4*"},
                              {"start " + kBob, "sent 2", "failed 4: message locked", "deleted 2", "end " + kBob}},
        PipelinedDeletionCase{"RefusedInTheMiddleAndTheRestToo",
                              dele(2, "+OK") << dele(4, kLocked) << dele(5, kLocked) << Quit(), true,
                              {"m1:1", "m3:2", "m4:3*", "m5:4*"},
                              {"start " + kBob, "sent 2", "failed 4: message locked", "deleted 2", "end " + kBob}},
        // What cannot be taken back goes with the session: nothing of it is deleted.
        PipelinedDeletionCase{"TakingBackRefused",
                              dele(2, "+OK") << dele(4, kLocked) << dele(5, "+OK") << C("RSET") << S("-ERR no"), true,
                              {"m1:1", "m2:2*", "m3:3", "m4:4*", "m5:5*"},
                              {"start " + kBob, "sent 2", "failed 4: " + kDeletionNotCommittedText, "end " + kBob}},
        PipelinedDeletionCase{"DroppedWithRepliesOutstanding",
                              dele(2, "+OK") << C("DELE 4") << C("DELE 5") << Drop(), true,
                              {"m1:1", "m2:2*", "m3:3", "m4:4*", "m5:5*"},
                              {"start " + kBob, "sent 2", "failed 4: " + kDeletionNotCommittedText, "end " + kBob}},
        // A refusal for being too frequent is waited out once, as for a deletion sent alone.
        PipelinedDeletionCase{"TooFrequentIsWaitedOut",
                              dele(2, kTooFrequent) << dele(4, kTooFrequent) << dele(5, kTooFrequent) << dele(2, "+OK")
                                                  << dele(4, "+OK") << dele(5, "+OK") << Quit(),
                              false, {"m1:1", "m3:2"},
                              {"start " + kBob, "sent 2", "sent 4", "sent 5", "deleted 2", "deleted 4", "deleted 5",
                               "end " + kBob},
                              {31000}}),
    [](const ::testing::TestParamInfo<PipelinedDeletionCase> &info) { return std::string(info.param.name); });

TEST_F(PipelinedDeletionTest, DeletionsLeaveTogetherWithoutARoundTripEach)
{
    checkFive();
    play(session() << dele(2, "+OK") << dele(4, "+OK") << dele(5, "+OK") << Quit());
    const qsizetype before = fake->transcript().size();
    EXPECT_FALSE(deleteMarked(QList<TMailEntry *>(ui.rows)).Failed);
    const QStringList t = fake->transcript().mid(before);
    const qsizetype first = t.indexOf(QStringLiteral("C: DELE 2"));
    ASSERT_GE(first, 0);
    EXPECT_EQ(t.mid(first, 4), QStringList({QStringLiteral("C: DELE 2"), QStringLiteral("C: DELE 4"),
                                             QStringLiteral("C: DELE 5"), QStringLiteral("S: +OK")}));
    QStringList commands;
    for (const QString &line : t)
        if (line.startsWith(QLatin1String("C: ")))
            commands << line.mid(3);
    EXPECT_EQ(commands, QStringList({"CAPA", "USER bob", "PASS pw", "STAT", "UIDL", "DELE 2", "DELE 4", "DELE 5",
                                     "QUIT"}));
    expectScriptDone();
}

// One message deleted from the list (session not kept): it leaves the list only when it is gone for sure.
struct SingleCase {
    const char *name;
    bool serverHasUidl;
    Script session; // after the login
    bool deleted;
    QString error;
};

void PrintTo(const SingleCase &c, std::ostream *os)
{
    *os << c.name;
}

class SingleDeletionTest : public CheckerTest, public ::testing::WithParamInterface<SingleCase> {};

TEST_P(SingleDeletionTest, ReportsWhatTheServerReallyDid)
{
    const SingleCase &c = GetParam();
    makeChecker({Account()});
    play(Scan({{"one", "a1", 100, "u1"}, {"two", "a2", 200, "u2"}}, "bob", "pw", c.serverHasUidl));
    checkNow();
    play(Login("bob", "pw", c.serverHasUidl) << c.session);
    QString error;
    EXPECT_EQ(deleteEntry(checker->MailList[1], error), c.deleted);
    EXPECT_EQ(error, c.error);
    expectScriptDone();
}

INSTANTIATE_TEST_SUITE_P(
    Checker, SingleDeletionTest,
    ::testing::Values(
        SingleCase{"DeletedAndConfirmed", true, Listing({"u1", "u2"}) << C("DELE 2") << S("+OK") << Quit(), true, ""},
        SingleCase{"ConnectionDroppedAtQuit", true, Listing({"u1", "u2"}) << C("DELE 2") << S("+OK") << C("QUIT") << Drop(),
                   false, kDeletionNotCommittedText},
        SingleCase{"GoneByItsUniqueId", true, Listing({"u1"}) << Quit(), true, ""},
        // Without an id, fewer messages than the number do not show that this one went.
        SingleCase{"FewerMessagesWithoutUidl", false, Script{C("STAT"), S("+OK 1 100")} << Quit(), false,
                   kMailboxChangedText}),
    [](const ::testing::TestParamInfo<SingleCase> &info) { return std::string(info.param.name); });

TEST_F(CheckerTest, DeleteEntryCountsAMessageThatIsGoneAsDeleted)
{
    checkMessages({{"one", "a1", 100, "u1"}});
    TMailEntry *entry = checker->MailList[0];
    play(Login() << Listing({}) << Quit());
    QString error = QStringLiteral("x");
    EXPECT_TRUE(deleteEntry(entry, error));
    EXPECT_TRUE(error.isEmpty());
    expectScriptDone();

    // An entry whose account is no longer set up is not sent anywhere.
    TMailEntry stranger;
    stranger.Host = QStringLiteral("elsewhere.test");
    stranger.UserName = QStringLiteral("x");
    stranger.MsgNumber = 1;
    EXPECT_FALSE(deleteEntry(&stranger, error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(CheckerTest, RemoveEntryFreesOnlyWhatTheWorkerOwns)
{
    checkMessages({{"one", "a1", 100, "u1"}});
    TMailEntry outsider;
    TMailEntry *p = &outsider;
    checker->RemoveEntry(p); // must not free a stack object
    EXPECT_EQ(p, nullptr);
    TMailEntry *own = checker->MailList[0];
    checker->RemoveEntry(own);
    EXPECT_EQ(own, nullptr);
    EXPECT_EQ(checker->MailList.Count(), 0);
    EXPECT_TRUE(checker->Entries().isEmpty());
}

// --- Text fetch and account test ------------------------------------------------------------------------

TEST_F(CheckerTest, FetchingTheSameTextTwiceAsksTheServerOnce)
{
    checkMessages({{"one", "a1", 100, "u1"}});
    TMailEntry *entry = checker->MailList[0];
    play(Login() << Listing({"u1"}) << C("RETR 1") << S("+OK") << S("Subject: one") << S("Message-ID: <a1@example.test>") << S("")
                 << S("Hello there") << S("..dot") << S(".") << Quit());
    EXPECT_TRUE(fetchText(entry));
    EXPECT_TRUE(fetchText(entry));
    EXPECT_TRUE(entry->Message.Body.join(u'\n').startsWith(QStringLiteral("Hello there\n.dot")))
        << entry->Message.Body.join(u'|').toStdString();
    EXPECT_EQ(written("RETR").size(), 1);
    expectScriptDone();
}

TEST_F(CheckerTest, TextOfAMessageWhoseNumberNowNamesAnotherIsNotFetched)
{
    checkMessages({{"one", "a1", 100, "u1"}, {"two", "a2", 100, "u2"}});
    TMailEntry *entry = checker->MailList[1];
    play(Login() << Listing({"u2"}) << Quit());
    QString error;
    EXPECT_FALSE(fetchText(entry, &error));
    EXPECT_EQ(error, kMailboxChangedText);
    EXPECT_FALSE(entry->Message.HasText());
    EXPECT_TRUE(written("RETR").isEmpty());
    expectScriptDone();
}

// What a deletion compares with is what the check read, whatever a text fetch did to the message since.
struct FetchThenDeleteCase {
    const char *name;
    Script retr;     // the answer to "RETR 1" and the end of the session
    bool fetched;
};

void PrintTo(const FetchThenDeleteCase &c, std::ostream *os)
{
    *os << c.name;
}

class FetchThenDeleteTest : public CheckerTest, public ::testing::WithParamInterface<FetchThenDeleteCase> {};

TEST_P(FetchThenDeleteTest, TheHeaderBlockOfTheCheckStillIdentifiesTheMessage)
{
    const FetchThenDeleteCase &c = GetParam();
    makeChecker({Account()});
    play(Scan({{"one", "a1", 100, ""}}, "bob", "pw", false));
    checkNow();
    TMailEntry *entry = checker->MailList[0];
    const Script sameMessage = Script{C("STAT"), S("+OK 1 100"), C("LIST 1"), S("+OK 1 100")} << Top(1, "one", "a1");
    play(Login("bob", "pw", false) << sameMessage << C("RETR 1") << c.retr);
    QString error;
    EXPECT_EQ(fetchText(entry, &error), c.fetched) << error.toStdString();
    EXPECT_EQ(entry->Message.Subject, QStringLiteral("one")) << "the header block is never lost";
    EXPECT_EQ(entry->Message.HasText(), c.fetched);

    play(Login("bob", "pw", false) << sameMessage << C("DELE 1") << S("+OK") << Quit());
    EXPECT_TRUE(deleteEntry(entry, error)) << error.toStdString();
    expectScriptDone();
}

INSTANTIATE_TEST_SUITE_P(
    Checker, FetchThenDeleteTest,
    ::testing::Values(FetchThenDeleteCase{"FetchRefused", Script{S("-ERR message locked")} << Quit(), false},
                      FetchThenDeleteCase{"FetchCutShort", {S("+OK"), S("Subject: one"), Drop()}, false},
                      FetchThenDeleteCase{"Fetched",
                                          Script{S("+OK"), S("Subject: one"), S("Message-ID: <a1@example.test>"),
                                                 S(""), S("Body text"), S(".")}
                                              << Quit(),
                                          true}),
    [](const ::testing::TestParamInfo<FetchThenDeleteCase> &info) { return std::string(info.param.name); });

TEST_F(CheckerTest, TestAccountReportsTheServersRefusal)
{
    makeChecker({Account()});
    play(Login() << C("STAT") << S("+OK 1 10") << Quit());
    play({Accept(), S("+OK ready"), C("CAPA"), S("-ERR"), C("USER bob"), S("+OK"), C("PASS wrong"),
          S("-ERR [AUTH] Authentication failed.")});
    QString error;
    int code = -1;
    EXPECT_TRUE(testAccount(Account(), error, code));
    EXPECT_FALSE(testAccount(Account(QStringLiteral("pop.example.test"), QStringLiteral("bob"),
                                              QStringLiteral("wrong")),
                                      error, code));
    EXPECT_EQ(error, QStringLiteral("Kontoname oder Kennwort falsch. Meldung: [AUTH] Authentication failed."));
    expectScriptDone();
}

// --- Known identifiers ----------------------------------------------------------------------------------

TEST(UIDFile, OrdinaryLinesStayAsTheyWereAndBreaksAreEscaped)
{
    struct Case {
        QString id;
        QByteArray line;
    };
    const QList<Case> cases{
        {QStringLiteral("<abc@example.test>"), "<abc@example.test>"},
        {QStringLiteral("1234Subject: x\r\nFrom: y\r\n"), "1234Subject: x\\r\\nFrom: y\\r\\n"},
        {QStringLiteral("a\\rb"), "a\\\\rb"},
        {QStringLiteral("Grüße"), "Gr\xc3\xbc\xc3\x9f" "e"},
        {QStringLiteral("ends with \\"), "ends with \\\\"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(EscapeUIDLine(c.id), c.line);
        EXPECT_EQ(UnescapeUIDLine(c.line), c.id);
    }
    // Lines of an older file: Windows code page, a backslash that escapes nothing, a bare LF.
    EXPECT_EQ(ParseUIDFile("Gr\xfc\xdf" "e\r\nC:\\temp\\x\n\r\nlast"),
              QStringList({QStringLiteral("Grüße"), QStringLiteral("C:\\temp\\x"), QStringLiteral("last")}));
}

TEST_F(CheckerTest, KnownIdentifiersSurviveARestartIncludingMultiLineOnes)
{
    makeChecker({Account()});
    const QString multi = QStringLiteral("512From: a@b\r\nSubject: no id\r\n");
    checker->KnownUIDs = {QStringLiteral("<one@x>"), multi, QStringLiteral("<two@x>")};
    checker->SaveKnownUIDs();
    QFile file(checker->UIDFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("<one@x>\r\n512From: a@b\\r\\nSubject: no id\\r\\n\r\n<two@x>\r\n"));

    makeChecker({Account()});
    EXPECT_TRUE(checker->KnownUIDs.isEmpty());
    checker->LoadKnownUIDs();
    EXPECT_EQ(checker->KnownUIDs, QStringList({QStringLiteral("<one@x>"), multi, QStringLiteral("<two@x>")}));
}

// Identifiers can be whole header blocks (messages without a Message-ID): the file is its owner's alone,
// also one an older version left readable to others.
TEST(UIDFile, IsWrittenForItsOwnerAlone)
{
    TestProfile profile;
    const QString path = profile.file(QStringLiteral("uids.dat"));
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    for (const bool existing : {false, true}) {
        SCOPED_TRACE(existing);
        if (existing) {
            ASSERT_TRUE(QFile::setPermissions(path, ownerOnly | QFile::ReadGroup | QFile::ReadOther));
        }
        ASSERT_TRUE(WriteUIDFile(path, {QStringLiteral("Size: 120\r\nSubject: privat")}));
        EXPECT_EQ(QFileInfo(path).permissions(), ownerOnly);
    }
}

TEST(UIDFile, AnInterruptedSaveLeavesAWholeFile)
{
    TestProfile profile;
    const QString path = profile.file(QStringLiteral("uids.dat"));
    ASSERT_TRUE(WriteUIDFile(path, {QStringLiteral("<start@x>")}));
    const QStringList a = UidsSaveListA(), b = UidsSaveListB();
    for (int round = 0; round < 5; ++round) {
        QProcess child;
        child.start(QStringLiteral(UIDS_SAVE_CHILD), {path});
        ASSERT_TRUE(child.waitForStarted(10000));
        ASSERT_TRUE(child.waitForReadyRead(30000));
        ::kill(pid_t(child.processId()), SIGKILL);
        child.waitForFinished(10000);
        const QStringList now = ReadUIDFile(path);
        EXPECT_TRUE(now == a || now == b) << "round " << round << ": " << now.size() << " identifiers";
    }
}

// --- SMS text -------------------------------------------------------------------------------------------

TEST(NewMailSms, TextTakesSenderSubjectAndTextAndCutsAt160)
{
    MailMessage m;
    m.From = {QStringLiteral("Anna"), QStringLiteral("anna@example.test")};
    m.Subject = QStringLiteral("Treffen");
    EXPECT_EQ(NewMailSmsText(m, true, QStringLiteral("ignored")), QStringLiteral("Anna Treffen "));
    EXPECT_EQ(NewMailSmsText(m, false, QStringLiteral("um 10")), QStringLiteral("Anna Treffen um 10"));
    m.From.Name.clear();
    m.Subject.clear();
    EXPECT_EQ(NewMailSmsText(m, true, QString()), QStringLiteral("anna@example.test "));

    const QString long200 = QString(200, QLatin1Char('x'));
    EXPECT_EQ(NewMailSmsText(m, false, long200), (QStringLiteral("anna@example.test ") + long200).left(160));
    // Exactly 160 once trimmed: left as it is, blanks included.
    m.From = {};
    EXPECT_EQ(NewMailSmsText(m, false, QStringLiteral("  ") + QString(160, QLatin1Char('y')) + QStringLiteral("  ")),
              QStringLiteral("  ") + QString(160, QLatin1Char('y')) + QStringLiteral("  "));
    EXPECT_EQ(NewMailSmsText(m, false, QStringLiteral("  ") + QString(161, QLatin1Char('y'))),
              QString(160, QLatin1Char('y')));
}

TEST_F(CheckerTest, SmsGoesOnlyForNewNonSpamMailOfAccountsThatWantIt)
{
    TPOP3AccountSettings sms = Account();
    sms.SendSMS = true;
    sms.SMSCellNum = QStringLiteral("00491711234567");
    TPOP3AccountSettings quiet = Account(QStringLiteral("pop.other.test"), QStringLiteral("eve"));
    settings.Settings.Accounts = {sms, quiet};

    auto entry = [](const QString &host, const QString &user, const QString &subject, int state) {
        TMailEntry e;
        e.Host = host;
        e.UserName = user;
        e.Message.Subject = subject;
        e.Message.From.Address = QStringLiteral("a@b");
        e.State = state;
        return e;
    };
    TMailEntry mine = entry(sms.ServerName, sms.AccountName, QStringLiteral("hi"), msNormal);
    TMailEntry spam = entry(sms.ServerName, sms.AccountName, QStringLiteral("buy"), msSpam);
    TMailEntry other = entry(quiet.ServerName, quiet.AccountName, QStringLiteral("x"), msNormal);
    TMailEntry unknown = entry(QStringLiteral("gone.test"), QStringLiteral("x"), QStringLiteral("x"), msNormal);
    const QList<TMailEntry *> fresh{&mine, &spam, &other, &unknown};

    TZirpelSettings gateway;
    gateway.Username = QStringLiteral("user");
    gateway.Password = QStringLiteral("secret");
    gateway.EMail2SMSOnlySubject = false;
    const auto body = [](const TMailEntry &) { return QStringLiteral("text"); };

    const QList<TSmsNotice> notices = NewMailSmsNotices(fresh, settings, gateway, false, body);
    ASSERT_EQ(notices.size(), 1);
    EXPECT_EQ(notices[0].CellNumber, QStringLiteral("00491711234567"));
    EXPECT_EQ(notices[0].Text, QStringLiteral("a@b hi text"));
    EXPECT_TRUE(NewMailSmsNotices(fresh, settings, gateway, true, body).isEmpty()) << "main window visible";
    gateway.Password.clear();
    EXPECT_TRUE(NewMailSmsNotices(fresh, settings, gateway, false, body).isEmpty()) << "no gateway login";
}

} // namespace
