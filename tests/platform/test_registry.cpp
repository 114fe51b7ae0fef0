#include "RegistryHive.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

using namespace platform;

namespace {

struct HiveTest : ::testing::Test {
    TestProfile profile;
    RegistryHive hive{RegRoot::CurrentUser};

    QStringList valueNames(const QString &path)
    {
        QStringList n;
        for (const RegValue &v : hive.values(path).value_or(QList<RegValue>{}))
            n << v.name;
        return n;
    }
};

TEST_F(HiveTest, ValuesEnumerateInCreationOrderAndKeepTheirPlaceWhenOverwritten)
{
    ASSERT_TRUE(hive.createKey(QStringLiteral("Software\\A")));
    for (const char *n : {"zeta", "10", "alpha", "2"})
        ASSERT_TRUE(hive.setValue(QStringLiteral("Software\\A"), QString::fromLatin1(n), RegSz, regSzBytes(QStringLiteral("x"))));
    ASSERT_TRUE(hive.setValue(QStringLiteral("Software\\A"), QStringLiteral("ALPHA"), RegBinary, QByteArray("\x01\x02", 2)));
    EXPECT_EQ(valueNames(QStringLiteral("software\\a")),
              (QStringList{QStringLiteral("zeta"), QStringLiteral("10"), QStringLiteral("alpha"), QStringLiteral("2")}));
    RegValue v;
    ASSERT_TRUE(hive.readValue(QStringLiteral("SOFTWARE\\a"), QStringLiteral("Alpha"), &v));
    EXPECT_EQ(v.type, quint32(RegBinary));
    EXPECT_EQ(v.data, QByteArray("\x01\x02", 2));
}

TEST_F(HiveTest, SubkeysSortWithoutRegardToCaseAndKeepTheirSpelling)
{
    for (const char *k : {"b", "C", "a", "B2", "10", "9"})
        ASSERT_TRUE(hive.createKey(QStringLiteral("Root\\") + QString::fromLatin1(k)));
    EXPECT_EQ(hive.subKeyNames(QStringLiteral("Root")).value(),
              (QStringList{QStringLiteral("10"), QStringLiteral("9"), QStringLiteral("a"), QStringLiteral("b"),
                           QStringLiteral("B2"), QStringLiteral("C")}));
    ASSERT_TRUE(hive.createKey(QStringLiteral("ROOT\\A"))); // exists already, spelled otherwise
    EXPECT_EQ(hive.subKeyNames(QStringLiteral("Root"))->size(), 6);
}

TEST_F(HiveTest, DeleteKeyRefusesAKeyWithSubkeysDeleteTreeRemovesAll)
{
    ASSERT_TRUE(hive.createKey(QStringLiteral("R\\K\\S1\\Deep")));
    ASSERT_TRUE(hive.setValue(QStringLiteral("R\\K\\S1\\Deep"), QStringLiteral("v"), RegSz, regSzBytes(QStringLiteral("1"))));
    EXPECT_FALSE(hive.deleteKey(QStringLiteral("R\\K")));
    EXPECT_TRUE(hive.keyExists(QStringLiteral("R\\K\\S1\\Deep")));
    EXPECT_TRUE(hive.deleteTree(QStringLiteral("R\\K")));
    EXPECT_FALSE(hive.keyExists(QStringLiteral("R\\K")));
    EXPECT_FALSE(hive.keyExists(QStringLiteral("R\\K\\S1\\Deep")));
    EXPECT_TRUE(hive.keyExists(QStringLiteral("R")));
    // A new key of the same name starts empty: no orphaned values came back.
    ASSERT_TRUE(hive.createKey(QStringLiteral("R\\K\\S1\\Deep")));
    EXPECT_TRUE(hive.values(QStringLiteral("R\\K\\S1\\Deep"))->isEmpty());
}

TEST_F(HiveTest, SetValueNeedsAnExistingKey)
{
    EXPECT_FALSE(hive.setValue(QStringLiteral("Missing"), QStringLiteral("v"), RegSz, regSzBytes(QStringLiteral("1"))));
}

TEST_F(HiveTest, RolledBackTransactionLeavesNothing)
{
    ASSERT_TRUE(hive.createKey(QStringLiteral("T")));
    ASSERT_TRUE(hive.setValue(QStringLiteral("T"), QStringLiteral("keep"), RegSz, regSzBytes(QStringLiteral("old"))));
    {
        RegTransaction tx(hive);
        ASSERT_TRUE(hive.deleteTree(QStringLiteral("T")));
        ASSERT_TRUE(hive.createKey(QStringLiteral("T\\New")));
        // no commit
    }
    RegValue v;
    ASSERT_TRUE(hive.readValue(QStringLiteral("T"), QStringLiteral("keep"), &v));
    EXPECT_EQ(regSzText(v.data), QStringLiteral("old"));
    EXPECT_FALSE(hive.keyExists(QStringLiteral("T\\New")));
}

TEST_F(HiveTest, FileIsPrivateToTheUser)
{
    ASSERT_TRUE(hive.createKey(QStringLiteral("X")));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(hive.fileName()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(HiveTest, ASecondProcessWritesWhileThisOneHoldsTheStoreOpen)
{
    ASSERT_TRUE(hive.createKey(QStringLiteral("Shared")));
    ASSERT_TRUE(hive.setValue(QStringLiteral("Shared"), QStringLiteral("mine"), RegSz, regSzBytes(QStringLiteral("1"))));
    QByteArray out, err;
    ASSERT_EQ(runProcess(toolPath(QStringLiteral("quarvel-reg")),
                         {QStringLiteral("add"), QStringLiteral("HKCU\\Shared"), QStringLiteral("/v"), QStringLiteral("theirs"),
                          QStringLiteral("/t"), QStringLiteral("REG_DWORD"), QStringLiteral("/d"), QStringLiteral("42"), QStringLiteral("/f")},
                         &out, &err),
              0)
        << err.constData();
    RegValue v;
    ASSERT_TRUE(hive.readValue(QStringLiteral("Shared"), QStringLiteral("theirs"), &v));
    EXPECT_EQ(v.type, quint32(RegDword));
    EXPECT_EQ(v.data, regDwordBytes(42));
    ASSERT_EQ(runProcess(toolPath(QStringLiteral("quarvel-reg")),
                         {QStringLiteral("query"), QStringLiteral("HKCU\\Shared"), QStringLiteral("/v"), QStringLiteral("mine")}, &out),
              0);
    EXPECT_TRUE(out.contains("REG_SZ")) << out.constData();
}

TEST_F(HiveTest, MissingOrForeignFileReadsAsEmpty)
{
    RegistryHive machine(RegRoot::LocalMachine); // never written in this profile
    EXPECT_FALSE(machine.keyExists(QStringLiteral("Software")));
    EXPECT_FALSE(machine.readValue(QStringLiteral("Software"), QStringLiteral("x"), nullptr));

    QFile junk(profile.file(QStringLiteral("junk.db")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'z'));
    junk.close();
    RegistryHive bad(junk.fileName());
    EXPECT_FALSE(bad.keyExists(QStringLiteral("A")));
    EXPECT_TRUE(bad.isDamaged());
    EXPECT_FALSE(bad.createKey(QStringLiteral("A")));
    EXPECT_EQ(QFileInfo(junk.fileName()).size(), 4096); // never overwritten
}

TEST_F(HiveTest, ADamagedStoreIsSetAsideWhenAskedAndAFreshOneBegins)
{
    const QString file = hive.fileName();
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile junk(file);
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("SQLite format 3\0 but then nothing that makes sense " + QByteArray(2000, '\x7f'));
    junk.close();
    const QByteArray before = [&] {
        QFile f(file);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();

    QByteArray out, err;
    EXPECT_EQ(runProcess(toolPath(QStringLiteral("quarvel-reg")), {QStringLiteral("query"), QStringLiteral("HKCU\\Software")}, &out, &err), 1);
    EXPECT_TRUE(QString::fromUtf8(err).contains(QStringLiteral("beschädigt"))) << err.constData();

    RegistryHive recovering(file);
    recovering.setRecoverDamaged(true);
    ASSERT_TRUE(recovering.createKey(QStringLiteral("Fresh")));
    ASSERT_FALSE(recovering.setAsideTo().isEmpty());
    QFile kept(recovering.setAsideTo());
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), before);
    EXPECT_TRUE(RegistryHive(file).keyExists(QStringLiteral("Fresh")));
}

} // namespace
