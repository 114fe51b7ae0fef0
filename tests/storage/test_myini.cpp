#include "MyIni.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

TEST(TheIniFile, ReadsOneSectionWithSentinelAndIntegerRules)
{
    TestProfile p;
    QFile f(p.file(QStringLiteral("EProv.ini")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Provider]\r\nName=Web\r\nPort=995\r\nBad=12x\r\nTrap=INIERROR\r\n");
    f.close();

    TTheIniFile ini;
    ini.IniLocation = loDefUser;
    ini.SetDefFilePath(p.path());
    ini.SetIniFileName(QStringLiteral("EProv.ini"));
    ini.Section = QStringLiteral("provider");
    EXPECT_EQ(ini.ReadString(QStringLiteral("Name"), QStringLiteral("d")), QStringLiteral("d")); // not open yet
    EXPECT_EQ(ini.ErrorCode(), -1);
    ini.SetOpen(true);
    ASSERT_TRUE(ini.Open());
    EXPECT_EQ(ini.ErrorCode(), 0);

    struct Case {
        const char *key;
        QString str;
        int strErr;
        int32_t num;
        int numErr;
    } cases[] = {
        {"name", QStringLiteral("Web"), 0, 5, -2},
        {"Port", QStringLiteral("995"), 0, 995, 0},
        {"Bad", QStringLiteral("12x"), 0, 5, -2},
        {"Trap", QStringLiteral("d"), -1, 5, -1},
        {"Missing", QStringLiteral("d"), -1, 5, -1},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ini.ReadString(QString::fromLatin1(c.key), QStringLiteral("d")), c.str) << c.key;
        EXPECT_EQ(ini.ErrorCode(), c.strErr) << c.key;
        EXPECT_EQ(ini.ReadInteger(QString::fromLatin1(c.key), 5), c.num) << c.key;
        EXPECT_EQ(ini.ErrorCode(), c.numErr) << c.key;
    }
    QStringList keys;
    ini.ReadSection(keys);
    EXPECT_EQ(keys.size(), 4);

    ini.SetIniFileName(QStringLiteral("other.ini")); // closes
    EXPECT_FALSE(ini.Open());
}

TEST(TheIniFile, AMissingFileInAWritableFolderOpensEmptyAndLeavesNoFile)
{
    TestProfile p;
    TTheIniFile ini;
    ini.IniLocation = loUser;
    ini.SetIniFileName(p.file(QStringLiteral("none.ini")));
    ini.Section = QStringLiteral("S");
    ini.SetOpen(true);
    EXPECT_TRUE(ini.Open());
    EXPECT_EQ(ini.ErrorCode(), 2);
    EXPECT_FALSE(QFile::exists(p.file(QStringLiteral("none.ini"))));
    EXPECT_EQ(ini.ReadString(QStringLiteral("k"), QStringLiteral("def")), QStringLiteral("def"));

    TTheIniFile nowhere;
    nowhere.IniLocation = loUser;
    nowhere.SetIniFileName(p.file(QStringLiteral("no/such/folder/x.ini")));
    nowhere.SetOpen(true);
    EXPECT_FALSE(nowhere.Open());
    EXPECT_GT(nowhere.ErrorCode(), 2);
}
