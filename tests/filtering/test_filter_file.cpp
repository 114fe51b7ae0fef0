// The rule store and its file "Filters.dat": exact bytes, reading, round trip, damaged files, and a
// save that fails without harming the previous file.
#include "FilterRules.h"
#include "FilterTestPrinters.h"
#include "RegistrySettingsUnit.h"
#include "SpamFilterClassUnit.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text); // blanks between the bytes are skipped
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(data), data.size());
}

QList<TSimpleFilter> copies(const TFilterList &list)
{
    QList<TSimpleFilter> out;
    for (const TSimpleFilter *r : list)
        out.append(*r);
    return out;
}

// The subject rule "Viagra", operation 1, active, not case-sensitive: 23 bytes.
const char *const kViagraRecord = "01 00 01 00  06000000 566961677261  00000000 00  00000000";

const QList<TSimpleFilter> kSampleRules = {
    {.Active = true, .Kind = fkSubject, .Operation = foContains, .Text = QStringLiteral("Viagra")},
    {.Active = true,
     .Kind = fkHeaderField,
     .Operation = foEndsWith,
     .Text = QStringLiteral("Grüße"),
     .Reserved = 0x01020304,
     .Reserved2 = 0xFE,
     .HeaderField = QStringLiteral("X-ClientAddr"),
     .CaseSensitive = true},
    {.Active = false, .Kind = fkSubject, .Operation = foContainsWord},
};

// kSampleRules as the file holds them; texts are written as UTF-8.
const char *const kSampleFile =
    "01 00 01 00  06000000 566961677261  00000000 00  00000000"
    "01 01 04 03  07000000 4772C3BCC39F65  04030201 FE  0C000000 582D436C69656E7441646472"
    "00 00 02 00  00000000  00000000 00  00000000";

class FilterFileTest : public ::testing::Test {
protected:
    FilterFileTest() { settings.Settings.DataPath = profile.file(QStringLiteral("data")); }

    QString filterFile() const { return profile.file(QStringLiteral("data/Filters.dat")); }

    TestProfile profile;
    RecordingMessageBox box;
    TRegistrySettings settings;
    TSpamFilterClass store{settings};
};

TEST_F(FilterFileTest, ConstructionPublishesTheEmptyListAndDestructionWithdrawsIt)
{
    EXPECT_EQ(settings.Settings.Filters, &store.Filters());
    EXPECT_TRUE(store.Filters().isEmpty());
    {
        TRegistrySettings other;
        { TSpamFilterClass temp(other); EXPECT_NE(other.Settings.Filters, nullptr); }
        EXPECT_EQ(other.Settings.Filters, nullptr);
    }
}

TEST_F(FilterFileTest, SaveWritesTheRecordsByteForByte)
{
    store.AddFilter(kSampleRules.at(0));
    ASSERT_TRUE(store.SaveFilters());
    EXPECT_EQ(readAll(filterFile()), hex(kViagraRecord));
    EXPECT_EQ(readAll(filterFile()).size(), 23);

    store.ReplaceFilters(kSampleRules);
    ASSERT_TRUE(store.SaveFilters());
    EXPECT_EQ(readAll(filterFile()), hex(kSampleFile));
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST_F(FilterFileTest, LoadReadsAHandBuiltFile)
{
    // Windows-1252 text (as older installations wrote it), a kind this program does not know, and
    // reserved values that are kept as they are.
    writeAll(filterFile(), hex("01 01 03 07  05000000 4772FCDF65  FFFFFFFF 80  04000000 46726F6D"
                               "00 00 04 03  04000000 C3A4C3B6  00000000 00  08000000 5265636569766564"));
    store.LoadFilters();
    ASSERT_EQ(store.Filters().size(), 2);
    const TSimpleFilter first = *store.Filters().at(0);
    EXPECT_EQ(first, (TSimpleFilter{.Active = true,
                                    .Kind = 7,
                                    .Operation = foBeginsWith,
                                    .Text = QStringLiteral("Grüße"),
                                    .Reserved = -1,
                                    .Reserved2 = 0x80,
                                    .HeaderField = QStringLiteral("From"),
                                    .CaseSensitive = true}));
    const TSimpleFilter second = *store.Filters().at(1);
    EXPECT_EQ(second, (TSimpleFilter{.Active = false,
                                     .Kind = fkHeaderField,
                                     .Operation = foEndsWith,
                                     .Text = QStringLiteral("äö"),
                                     .HeaderField = QStringLiteral("Received")}));
}

TEST_F(FilterFileTest, RoundTripKeepsOrderAndEveryField)
{
    QList<TSimpleFilter> rules = kSampleRules;
    rules.append({.Active = true, .Kind = 9, .Operation = 200, .Text = QStringLiteral("x"), .Reserved = -7});
    rules.append({.Active = true,
                  .Kind = fkHeaderField,
                  .Operation = foEquals,
                  .Text = QStringLiteral("€ 100 – 𝄞"),
                  .HeaderField = QStringLiteral("Subject")});
    store.ReplaceFilters(rules);
    ASSERT_TRUE(store.SaveFilters());

    TRegistrySettings again;
    again.Settings.DataPath = settings.Settings.DataPath;
    TSpamFilterClass reloaded(again);
    reloaded.LoadFilters();
    EXPECT_EQ(copies(reloaded.Filters()), rules);
}

// Exceptions are records like every rule, of kinds that versions without them skip: the file keeps both
// kinds in their order, and its kind byte is neither of the two kinds an older reader judges.
TEST_F(FilterFileTest, ExceptionsAndSpamRulesKeepTheirKindsAndTheirOrder)
{
    const QList<TSimpleFilter> rules = {
        NewSubjectFilter(foContains, QStringLiteral("Casino")),
        NeverSpamSenderFilter(QStringLiteral("chef@example.test")),
        NewHeaderFieldFilter(QStringLiteral("Received"), foContains, QStringLiteral("evil.test")),
        NewSubjectFilter(foEquals, QStringLiteral("Rechnung"), true),
    };
    store.ReplaceFilters(rules);
    ASSERT_TRUE(store.SaveFilters());
    // The second record follows the 23 bytes of "Casino": active, not case-sensitive, foContains, kind 19.
    const QByteArray file = readAll(filterFile());
    EXPECT_EQ(file.mid(23, 4), hex("01 00 01 13"));

    TRegistrySettings again;
    again.Settings.DataPath = settings.Settings.DataPath;
    TSpamFilterClass reloaded(again);
    reloaded.LoadFilters();
    EXPECT_EQ(copies(reloaded.Filters()), rules);
    const bool exception[] = {false, true, false, true};
    for (int i = 0; i < rules.size(); ++i) {
        const uint8_t kind = reloaded.Filters().at(i)->Kind;
        EXPECT_EQ(IsAllowRuleKind(kind), exception[i]) << i;
        EXPECT_EQ(kind == fkSubject || kind == fkHeaderField, !exception[i]) << i;
    }
}

TEST_F(FilterFileTest, MissingAndEmptyFilesGiveAnEmptyListAndLoadDropsTheOldRules)
{
    store.ReplaceFilters(kSampleRules);
    store.LoadFilters(); // no file yet
    EXPECT_TRUE(store.Filters().isEmpty());

    store.ReplaceFilters(kSampleRules);
    writeAll(filterFile(), QByteArray());
    store.LoadFilters();
    EXPECT_TRUE(store.Filters().isEmpty());
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST_F(FilterFileTest, EveryTruncationKeepsExactlyTheCompleteRecords)
{
    const QByteArray whole = hex(kSampleFile);
    const QList<qsizetype> recordEnds = {23, 23 + 36, 23 + 36 + 17};
    ASSERT_EQ(whole.size(), recordEnds.last());
    for (qsizetype cut = 0; cut <= whole.size(); ++cut) {
        writeAll(filterFile(), whole.left(cut));
        store.LoadFilters();
        const qsizetype complete = std::count_if(recordEnds.begin(), recordEnds.end(),
                                                 [cut](qsizetype end) { return end <= cut; });
        ASSERT_EQ(store.Filters().size(), complete) << "file cut at " << cut;
        EXPECT_EQ(copies(store.Filters()), kSampleRules.mid(0, complete)) << "file cut at " << cut;
    }
}

TEST_F(FilterFileTest, DamagedLengthsEndLoadingWithoutHarm)
{
    struct Case {
        const char *name;
        QByteArray tail; // follows one good record
    };
    const QByteArray good = hex(kViagraRecord);
    const Case cases[] = {
        {"negative text length", hex("01 00 01 00  FFFFFFFF 41  00000000 00  00000000")},
        {"huge text length", hex("01 00 01 00  FFFFFF7F 41  00000000 00  00000000")},
        {"text length one past the end", hex("01 00 01 00  0B000000 41  00000000 00  00000000")},
        {"negative field length", hex("01 00 01 00  00000000  00000000 00  00000080 41")},
        {"huge field length", hex("01 00 01 00  00000000  00000000 00  FFFFFF7F 41")},
        {"field length one past the end", hex("01 00 01 00  00000000  00000000 00  02000000 41")},
        {"a single stray byte", hex("01")},
    };
    for (const Case &c : cases) {
        writeAll(filterFile(), good + c.tail);
        store.LoadFilters();
        ASSERT_EQ(store.Filters().size(), 1) << c.name;
        EXPECT_EQ(*store.Filters().at(0), kSampleRules.at(0)) << c.name;

        // The reader on its own behaves the same at any offset of a device.
        QByteArray data = c.tail;
        QBuffer buf(&data);
        ASSERT_TRUE(buf.open(QIODevice::ReadOnly));
        TFilterList list;
        TSpamFilterClass::ReadFilterRecords(buf, list);
        EXPECT_TRUE(list.isEmpty()) << c.name;
        FreeFilterList(list);
    }
}

TEST_F(FilterFileTest, SaveFollowsTheDataFolder)
{
    store.ReplaceFilters(kSampleRules);
    settings.Settings.DataPath = profile.file(QStringLiteral("moved/deeper"));
    ASSERT_TRUE(store.SaveFilters());
    EXPECT_EQ(readAll(profile.file(QStringLiteral("moved/deeper/Filters.dat"))), hex(kSampleFile));
}

// The save that failed: one error box with the program's text, the rules stay in memory, and the
// previous file is left whole with no stray temporary file beside it.
void expectFailedSave(const RecordingMessageBox &box, const TSpamFilterClass &store,
                      const QList<TSimpleFilter> &rules)
{
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown.at(0).text, QStringLiteral("Kann Filterdatei nicht speichern. Prüfen Sie die Rechte auf den "
                                                   "Ordner oder geben Sie einen Datenordner mit Vollzugriff an."));
    EXPECT_EQ(box.shown.at(0).kind, MsgError);
    EXPECT_EQ(box.shown.at(0).buttons, int(BtnOK));
    EXPECT_EQ(copies(store.Filters()), rules);
}

// Runs f with writes limited to limit bytes per file (0: no limit); a write past it fails as on a full disk.
template <typename F>
auto withFileSizeLimit(rlim_t limit, F &&f)
{
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    if (limit > 0)
        small.rlim_cur = limit;
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const auto result = f();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);
    return result;
}

TEST_F(FilterFileTest, FailedWriteLeavesThePreviousFileWhole)
{
    store.ReplaceFilters(kSampleRules);
    ASSERT_TRUE(store.SaveFilters());

    // A long text that cannot be written under a small file-size limit.
    QList<TSimpleFilter> bigger = kSampleRules;
    bigger.append({.Active = true, .Kind = fkSubject, .Operation = foContains, .Text = QString(20000, QLatin1Char('x'))});
    store.ReplaceFilters(bigger);

    const bool saved = withFileSizeLimit(4096, [&] { return store.SaveFilters(); });

    EXPECT_FALSE(saved);
    expectFailedSave(box, store, bigger);
    EXPECT_EQ(readAll(filterFile()), hex(kSampleFile));
    EXPECT_EQ(QDir(profile.file(QStringLiteral("data"))).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("Filters.dat")});

    // The next save that can write succeeds with the rules kept in memory.
    box.shown.clear();
    ASSERT_TRUE(store.SaveFilters());
    TFilterList list;
    QFile f(filterFile());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    TSpamFilterClass::ReadFilterRecords(f, list);
    EXPECT_EQ(copies(list), bigger);
    FreeFilterList(list);
}

TEST_F(FilterFileTest, ReadOnlyFolderWritesTheFileInPlaceWhereTheFileAllowsIt)
{
    RUN_UNPRIVILEGED_WHEN_ROOT();
    struct Case {
        const char *name;
        bool fileWritable;
        rlim_t sizeLimit; // 0: none
        bool saved;
    };
    const Case cases[] = {
        {"writable file", true, 0, true},
        {"read-only file", false, 0, false},
        {"writable file, disk full while writing", true, 4096, false},
    };
    const QString folder = profile.file(QStringLiteral("data"));
    const auto rw = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        box.shown.clear();
        QFile::setPermissions(folder, rw | QFileDevice::ExeOwner);
        QFile::setPermissions(filterFile(), rw);
        store.ReplaceFilters(kSampleRules);
        ASSERT_TRUE(store.SaveFilters());

        QList<TSimpleFilter> changed = kSampleRules.mid(1);
        if (c.sizeLimit > 0)
            changed.append({.Active = true, .Kind = fkSubject, .Operation = foContains, .Text = QString(20000, QLatin1Char('x'))});
        store.ReplaceFilters(changed);
        ASSERT_TRUE(QFile::setPermissions(filterFile(), c.fileWritable ? rw : QFileDevice::ReadOwner));
        ASSERT_TRUE(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        const bool saved = withFileSizeLimit(c.sizeLimit, [&] { return store.SaveFilters(); });
        QFile::setPermissions(folder, rw | QFileDevice::ExeOwner);

        EXPECT_EQ(saved, c.saved);
        QByteArray expected;
        TFilterList list;
        for (const TSimpleFilter &r : changed)
            list.append(new TSimpleFilter(r));
        ASSERT_TRUE(TSpamFilterClass::WriteFilterRecords(list, expected));
        FreeFilterList(list);
        if (c.saved) {
            EXPECT_TRUE(box.shown.isEmpty());
            EXPECT_EQ(readAll(filterFile()), expected);
        } else {
            expectFailedSave(box, store, changed);
            EXPECT_EQ(readAll(filterFile()), hex(kSampleFile));
        }
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Filters.dat")});
    }
}

TEST_F(FilterFileTest, DataFolderThatCannotBeCreatedIsReported)
{
    writeAll(profile.file(QStringLiteral("plainfile")), "x");
    settings.Settings.DataPath = profile.file(QStringLiteral("plainfile/data"));
    store.ReplaceFilters(kSampleRules);
    EXPECT_FALSE(store.SaveFilters());
    expectFailedSave(box, store, kSampleRules);
}

TEST_F(FilterFileTest, ListOperations)
{
    store.ReplaceFilters(kSampleRules);
    store.DeleteFilter(1);
    store.DeleteFilter(7);  // out of range: nothing
    store.DeleteFilter(-1); // out of range: nothing
    store.AddFilter(kSampleRules.at(1));
    EXPECT_EQ(copies(store.Filters()), (QList<TSimpleFilter>{kSampleRules.at(0), kSampleRules.at(2), kSampleRules.at(1)}));
    store.ClearFilters();
    EXPECT_TRUE(store.Filters().isEmpty());
}

} // namespace
