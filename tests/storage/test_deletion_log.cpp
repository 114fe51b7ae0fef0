// The deletion log and the rescue copies: records written pending and completed, what is kept, records
// a dead process left behind, what counts as seen, a log that cannot be written; copies with the
// platform's line ends, for the owner alone, and their expiry.
#include "DeletionLog.h"
#include "RescueCopies.h"
#include "SqlStatement.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <sys/wait.h>
#include <unistd.h>

namespace {

TDeletionRecord sampleRecord(const QString &subject)
{
    TDeletionRecord r;
    r.Account = QStringLiteral("anna@pop.example.test");
    r.SenderName = QStringLiteral("Jürgen Müller");
    r.SenderAddress = QStringLiteral("j@example.test");
    r.Subject = subject;
    r.Date = QDateTime(QDate(2024, 1, 2), QTime(10, 11, 12));
    r.Size = 20480;
    r.How = TDeletionHow::Automatic;
    r.RuleKind = 3;
    r.RuleOperation = 1;
    r.RuleField = QStringLiteral("Received");
    r.RuleText = QStringLiteral("evil.test");
    r.RuleShown = QStringLiteral("Received enthält den Text \"evil.test\"");
    r.CopyNote = QStringLiteral("keine Kopie: größer als 512 KB");
    return r;
}

// Sets what only another process could set: the writer of the pending records.
void setWriter(const QString &file, qint64 pid)
{
    sqlite3 *db = nullptr;
    QString error;
    ASSERT_TRUE(platform::openPrivateStore(file, &db, &error)) << error.toStdString();
    {
        platform::SqlStatement update(db, "UPDATE deletions SET writer=? WHERE outcome=0");
        update.bind(1, pid);
        EXPECT_EQ(update.step(), SQLITE_DONE);
    }
    sqlite3_close(db);
}

// A process number that no process has any more: a child that ended and was reaped.
qint64 endedProcess()
{
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    if (child < 0 || waitpid(child, nullptr, 0) != child)
        return 0;
    return qint64(child);
}

class DeletionLogTest : public ::testing::Test {
protected:
    QString logFile() const { return profile.file(QStringLiteral("data/") + kDeletionLogFileName); }

    TestProfile profile;
    TDeletionLog log{logFile()};
};

TEST_F(DeletionLogTest, RecordsAreWrittenPendingAndCompletedWithEveryField)
{
    QList<TDeletionRecord> records{sampleRecord(QStringLiteral("Gewinn")), sampleRecord(QStringLiteral("Preis"))};
    records[1].Date = QDateTime(); // a message without a date
    records[1].How = TDeletionHow::ByHand;
    records[1].RuleKind = -1;
    records[1].RuleShown.clear();
    ASSERT_TRUE(log.Begin(records)) << log.LastError().toStdString();
    EXPECT_GT(records[0].Id, 0);
    EXPECT_GT(records[1].Id, records[0].Id);
    EXPECT_TRUE(records[0].Time.isValid());
    EXPECT_EQ(QFileInfo(logFile()).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);

    // Newest first, pending until completed.
    QList<TDeletionRecord> read = log.Records();
    ASSERT_EQ(read.size(), 2);
    EXPECT_EQ(read[0], records[1]);
    EXPECT_EQ(read[1], records[0]);
    EXPECT_EQ(read[0].Outcome, TDeletionOutcome::Pending);

    records[0].Outcome = TDeletionOutcome::Deleted;
    records[0].CopyFile = QStringLiteral("x.eml");
    records[0].CopyNote.clear();
    records[1].Outcome = TDeletionOutcome::Failed;
    records[1].Reason = QStringLiteral("-ERR kaputt");
    ASSERT_TRUE(log.Finish(records));
    read = log.Records();
    EXPECT_EQ(read, (QList<TDeletionRecord>{records[1], records[0]}));

    // Another object on the same file (another process) reads the same.
    TDeletionLog other(logFile());
    EXPECT_EQ(other.Records(), read);
}

TEST_F(DeletionLogTest, KeepsNinetyDaysAndTheNewestTwentyThousandRecords)
{
    const QDateTime now = QDateTime::currentDateTime();
    QList<TDeletionRecord> old{sampleRecord(QStringLiteral("91 Tage")), sampleRecord(QStringLiteral("89 Tage"))};
    old[0].Time = now.addDays(-91);
    old[1].Time = now.addDays(-89);
    ASSERT_TRUE(log.Begin(old));
    EXPECT_EQ(log.Prune(now), 1);
    ASSERT_EQ(log.Records().size(), 1);
    EXPECT_EQ(log.Records().first().Subject, QStringLiteral("89 Tage"));

    QList<TDeletionRecord> many(kDeletionLogMaxRecords + 2, sampleRecord(QStringLiteral("neu")));
    ASSERT_TRUE(log.Begin(many));
    EXPECT_EQ(log.Prune(now), 3);
    const QList<TDeletionRecord> kept = log.Records();
    ASSERT_EQ(kept.size(), kDeletionLogMaxRecords);
    EXPECT_EQ(kept.first().Id, many.last().Id);
    EXPECT_EQ(kept.last().Id, many.at(2).Id);
}

// A program that died between its records and the server's answer left them pending: the next one to
// open the log says so, and leaves alone what a running process still completes.
TEST_F(DeletionLogTest, PendingRecordsOfAnEndedProcessBecomeHonestFailures)
{
    QList<TDeletionRecord> dead{sampleRecord(QStringLiteral("a")), sampleRecord(QStringLiteral("b"))};
    ASSERT_TRUE(log.Begin(dead));
    const qint64 ended = endedProcess();
    ASSERT_GT(ended, 0);
    setWriter(logFile(), ended);
    QList<TDeletionRecord> running{sampleRecord(QStringLiteral("c"))};
    ASSERT_TRUE(log.Begin(running)); // this process

    EXPECT_EQ(log.ResolveAbandoned(), 2);
    const QList<TDeletionRecord> read = log.Records();
    ASSERT_EQ(read.size(), 3);
    EXPECT_EQ(read[0].Outcome, TDeletionOutcome::Pending);
    for (const TDeletionRecord &r : {read[1], read[2]}) {
        EXPECT_EQ(r.Outcome, TDeletionOutcome::Failed);
        EXPECT_EQ(r.Reason, kDeletionAbandonedText);
    }
    // Another running process's records stay pending too.
    setWriter(logFile(), qint64(getppid()));
    EXPECT_EQ(log.ResolveAbandoned(), 0);
}

TEST_F(DeletionLogTest, UnseenCountsTheRecordsSinceTheLastLook)
{
    EXPECT_EQ(log.UnseenCount(), 0);
    QList<TDeletionRecord> first(3, sampleRecord(QStringLiteral("x")));
    ASSERT_TRUE(log.Begin(first));
    EXPECT_EQ(log.UnseenCount(), 3);
    log.MarkSeen();
    EXPECT_EQ(log.UnseenCount(), 0);
    QList<TDeletionRecord> second(2, sampleRecord(QStringLiteral("y")));
    ASSERT_TRUE(log.Begin(second));
    EXPECT_EQ(TDeletionLog(logFile()).UnseenCount(), 2);
}

TEST_F(DeletionLogTest, ALogThatCannotBeWrittenRefusesAndReadingCreatesNothing)
{
    // Reading a log never written makes no file.
    EXPECT_TRUE(log.Records().isEmpty());
    EXPECT_EQ(log.ResolveAbandoned(), 0);
    EXPECT_EQ(log.Prune(), 0);
    EXPECT_FALSE(QFileInfo::exists(logFile()));

    // A folder that cannot be made: a file stands where it would be.
    QFile blocker(profile.file(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    TDeletionLog unwritable(profile.file(QStringLiteral("blocker/sub/") + kDeletionLogFileName));
    QList<TDeletionRecord> records{sampleRecord(QStringLiteral("x"))};
    EXPECT_FALSE(unwritable.Begin(records));
    EXPECT_FALSE(unwritable.LastError().isEmpty());
    EXPECT_EQ(records[0].Id, 0);
}

// The deletion job writes on the worker's thread while the window reads.
TEST_F(DeletionLogTest, AWriterThreadAndAReaderShareTheLog)
{
    constexpr int kRuns = 40;
    QThread *writer = QThread::create([this] {
        for (int i = 0; i < kRuns; ++i) {
            QList<TDeletionRecord> records(2, sampleRecord(QStringLiteral("run %1").arg(i)));
            ASSERT_TRUE(log.Begin(records));
            for (TDeletionRecord &r : records)
                r.Outcome = TDeletionOutcome::Deleted;
            ASSERT_TRUE(log.Finish(records));
        }
    });
    writer->start();
    while (!writer->isFinished())
        log.Records();
    writer->wait();
    delete writer;
    const QList<TDeletionRecord> read = log.Records();
    ASSERT_EQ(read.size(), 2 * kRuns);
    for (const TDeletionRecord &r : read)
        EXPECT_EQ(r.Outcome, TDeletionOutcome::Deleted);
}

TEST(RescueCopies, ACopyHasThePlatformsLineEndsAndIsForItsOwnerAlone)
{
    TestProfile profile;
    const QString folder = RescueFolder(profile.file(QStringLiteral("data")));
    EXPECT_TRUE(folder.endsWith(QStringLiteral("/data/Geloescht/")));
    QString error;
    ASSERT_TRUE(WriteRescueCopy(folder, QStringLiteral("1.eml"), "Subject: x\r\n\r\nText\r\n\r\nEnde\r\n", &error))
        << error.toStdString();
    QFile copy(folder + QStringLiteral("1.eml"));
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), QByteArray("Subject: x\n\nText\n\nEnde\n"));
    EXPECT_EQ(copy.permissions() & ~(QFile::ReadUser | QFile::WriteUser | QFile::ReadOwner | QFile::WriteOwner),
              QFile::Permissions());

    // A folder that cannot be made is a failure that says so.
    EXPECT_FALSE(WriteRescueCopy(folder + QStringLiteral("1.eml/"), QStringLiteral("2.eml"), "x", &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("Die Sicherungskopie der E-Mail konnte nicht gespeichert werden")));
}

TEST(RescueCopies, ExpiryRemovesOldCopiesAndNothingElse)
{
    TestProfile profile;
    const QString folder = RescueFolder(profile.file(QStringLiteral("data")));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QDateTime now = QDateTime::currentDateTime();
    const struct {
        const char *name;
        int ageDays;
        bool stays;
    } files[] = {
        {"alt.eml", 15, false},
        {"frisch.eml", 13, true},
        {"alt.txt", 30, true}, // not a copy
        {"heute.eml", 0, true},
    };
    for (const auto &f : files) {
        QFile file(folder + QLatin1String(f.name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
        ASSERT_TRUE(file.flush()); // a later flush would set the time anew
        ASSERT_TRUE(file.setFileTime(now.addDays(-f.ageDays), QFileDevice::FileModificationTime));
    }
    EXPECT_EQ(ExpireRescueCopies(folder, now), 1);
    for (const auto &f : files)
        EXPECT_EQ(QFileInfo::exists(folder + QLatin1String(f.name)), f.stays) << f.name;
    // A rescue folder that does not exist is no error.
    EXPECT_EQ(ExpireRescueCopies(profile.file(QStringLiteral("nowhere/")), now), 0);
}

} // namespace
