#include "BlowfishCryptUnit.h"
#include "RegIni.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

namespace {

struct RegIniTest : ::testing::Test {
    TestProfile profile;
    RecordingMessageBox box;
    TTheRegIniFile reg;
    void SetUp() override
    {
        reg.Area = QStringLiteral("\\Software\\Test");
        reg.Section = QStringLiteral("Sec");
    }
    void raw(const QString &name, quint32 type, const QByteArray &data)
    {
        platform::RegistryHive h(platform::RegRoot::CurrentUser);
        ASSERT_TRUE(h.createKey(QStringLiteral("Software\\Test\\Sec")));
        ASSERT_TRUE(h.setValue(QStringLiteral("Software\\Test\\Sec"), name, type, data));
    }
};

TEST_F(RegIniTest, KeyPathJoinsAreaAndSection)
{
    EXPECT_EQ(reg.KeyPath(), QStringLiteral("Software\\Test\\Sec"));
    reg.Area = QStringLiteral("Software\\Test\\");
    EXPECT_EQ(reg.KeyPath(), QStringLiteral("Software\\Test\\Sec"));
}

TEST_F(RegIniTest, IntegerAndBooleanReadsFollowTheTextRules)
{
    struct Case {
        const char *stored; // nullptr: value missing
        int32_t integer;
        int intError;
        bool boolean; // default true
    } cases[] = {
        {"42", 42, 0, false},
        {"-7", -7, 0, false},
        {"1", 1, 0, true},
        {"0", 0, 0, false},
        {"7", 7, 0, false},
        {"12abc", 99, 2, true},
        {"Ja", 99, 2, true},
        {"", 99, 0, true},
        {nullptr, 99, 1, true},
    };
    for (const Case &c : cases) {
        platform::RegistryHive h(platform::RegRoot::CurrentUser);
        h.createKey(QStringLiteral("Software\\Test\\Sec"));
        h.deleteValue(QStringLiteral("Software\\Test\\Sec"), QStringLiteral("v"));
        if (c.stored)
            reg.WriteString(QStringLiteral("v"), QString::fromLatin1(c.stored));
        EXPECT_EQ(reg.ReadInteger(QStringLiteral("v"), 99), c.integer) << (c.stored ? c.stored : "(missing)");
        EXPECT_EQ(reg.ErrorCode(), c.intError) << (c.stored ? c.stored : "(missing)");
        EXPECT_EQ(reg.ReadBool(QStringLiteral("v"), true), c.boolean) << (c.stored ? c.stored : "(missing)");
    }
}

TEST_F(RegIniTest, ReadsOfOtherTypesAndMissingValuesGiveDefaults)
{
    raw(QStringLiteral("bin"), platform::RegBinary, QByteArray("\x05\x06", 2));
    raw(QStringLiteral("dw"), platform::RegDword, platform::regDwordBytes(300));
    raw(QStringLiteral("sz"), platform::RegSz, platform::regSzBytes(QStringLiteral("text")));
    raw(QStringLiteral("nul"), platform::RegSz, QByteArray("abc\0def", 7));
    EXPECT_EQ(reg.ReadDWord(QStringLiteral("dw"), 1), 300u);
    EXPECT_EQ(reg.ReadDWord(QStringLiteral("sz"), 1), 1u);
    EXPECT_EQ(reg.ErrorCode(), 1);
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("dw"), 1), 300);
    EXPECT_EQ(reg.ReadString(QStringLiteral("nul"), QString()), QStringLiteral("abc"));
    TMemoryStream s;
    reg.ReadBinary(QStringLiteral("bin"), s);
    EXPECT_EQ(reg.ErrorCode(), 0);
    EXPECT_EQ(s.Data, QByteArray("\x05\x06", 2));
    reg.ReadBinary(QString(), s);
    EXPECT_EQ(reg.ErrorCode(), 1);
    raw(QStringLiteral("empty"), platform::RegBinary, QByteArray());
    reg.ReadBinary(QStringLiteral("empty"), s);
    EXPECT_EQ(reg.ErrorCode(), 0);
    EXPECT_TRUE(s.Data.isEmpty());
}

TEST_F(RegIniTest, WritingCreatesTheKeyAndReadingAMissingKeyCreatesItEmpty)
{
    reg.Area = QStringLiteral("Software\\A\\B\\C");
    reg.WriteString(QStringLiteral("x"), QStringLiteral("y"));
    EXPECT_EQ(reg.ErrorCode(), 0);
    EXPECT_EQ(reg.ReadString(QStringLiteral("x"), QString()), QStringLiteral("y"));

    reg.Area = QStringLiteral("Software\\New");
    EXPECT_EQ(reg.ReadString(QStringLiteral("x"), QStringLiteral("def")), QStringLiteral("def"));
    EXPECT_EQ(reg.ErrorCode(), 1);
    EXPECT_TRUE(platform::RegistryHive(platform::RegRoot::CurrentUser).keyExists(QStringLiteral("Software\\New\\Sec")));
}

TEST_F(RegIniTest, EraseSectionWithAndWithoutTheKeyItself)
{
    reg.WriteString(QStringLiteral("kept"), QStringLiteral("1"));
    const QString area = reg.Area;
    reg.Area = area + QStringLiteral("\\Sec");
    reg.Section = QStringLiteral("Sub1");
    reg.WriteString(QStringLiteral("a"), QStringLiteral("1"));
    reg.Section = QStringLiteral("Sub2\\Deep");
    reg.WriteString(QStringLiteral("a"), QStringLiteral("1"));
    reg.Area = area;
    reg.Section = QStringLiteral("Sec");

    reg.EraseSection(false);
    EXPECT_EQ(reg.ErrorCode(), 0);
    QStringList subs;
    reg.ReadSubKeyNames(subs);
    EXPECT_TRUE(subs.isEmpty());
    EXPECT_EQ(reg.ErrorCode(), 1); // an empty listing
    EXPECT_EQ(reg.ReadString(QStringLiteral("kept"), QString()), QStringLiteral("1"));

    reg.EraseSection(true);
    EXPECT_EQ(reg.ErrorCode(), 0);
    EXPECT_EQ(reg.ReadString(QStringLiteral("kept"), QStringLiteral("gone")), QStringLiteral("gone"));
    EXPECT_EQ(reg.ErrorCode(), 1);

    reg.Section = QStringLiteral("NeverThere");
    reg.EraseSection(true);
    EXPECT_EQ(reg.ErrorCode(), 4);
}

TEST_F(RegIniTest, MissingAreaOrSectionShowsTheMessageAndReturnsTheDefault)
{
    reg.Section.clear();
    EXPECT_EQ(reg.ReadString(QStringLiteral("x"), QStringLiteral("d")), QStringLiteral("d"));
    EXPECT_EQ(reg.ErrorCode(), 0);
    reg.Area.clear();
    QStringList l{QStringLiteral("stale")};
    reg.ReadValueNames(l);
    EXPECT_TRUE(l.isEmpty());
    ASSERT_EQ(box.shown.size(), 2);
    EXPECT_EQ(box.shown.at(0).text, QStringLiteral("Bitte Area und Section angeben."));
    EXPECT_EQ(box.shown.at(0).caption, QStringLiteral("Quarvel"));
}

TEST_F(RegIniTest, MachineHiveIsSeparateFromTheUserHive)
{
    reg.RegKey = HKEY::LOCAL_MACHINE;
    reg.WriteString(QStringLiteral("m"), QStringLiteral("machine"));
    reg.RegKey = HKEY::CURRENT_USER;
    EXPECT_EQ(reg.ReadString(QStringLiteral("m"), QStringLiteral("none")), QStringLiteral("none"));
    reg.RegKey = HKEY::LOCAL_MACHINE;
    EXPECT_EQ(reg.ReadString(QStringLiteral("m"), QStringLiteral("none")), QStringLiteral("machine"));
    EXPECT_EQ(BoolToYesNo(true), QStringLiteral("YES"));
    EXPECT_EQ(BoolToYesNo(false), QStringLiteral("NO"));
}

} // namespace
