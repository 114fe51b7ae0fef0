#include "IniFile.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(IniFile, WindowsRules)
{
    IniFile ini;
    ini.loadFromBytes("; comment\r\n"
                      "[Provider]\r\n"
                      "  Name = Web Mail  \r\n"
                      "NAME=second wins not\r\n"
                      "Port=110\r\n"
                      "Quoted=\"  spaced  \"\r\n"
                      "NoValue\r\n"
                      "[other]\n"
                      "x=1\n"
                      "[PROVIDER]\n"
                      "Late=ja\n"
                      "Umlaut=Gr\xFC\xDF" "e\n");
    struct Case {
        const char *section, *key, *value;
        bool found;
    } cases[] = {
        {"provider", "name", "Web Mail", true},
        {"Provider", "Port", "110", true},
        {"Provider", "Quoted", "  spaced  ", true},
        {"Provider", "NoValue", "", true},
        {"provider", "late", "ja", true},  // a repeated section adds to the first
        {"Provider", "Missing", "", false},
        {"Nowhere", "x", "", false},
        {"OTHER", "X", "1", true},
    };
    for (const Case &c : cases) {
        bool found = !c.found;
        EXPECT_EQ(ini.value(QString::fromLatin1(c.section), QString::fromLatin1(c.key), &found), QString::fromUtf8(c.value))
            << c.section << "/" << c.key;
        EXPECT_EQ(found, c.found) << c.section << "/" << c.key;
    }
    EXPECT_EQ(ini.value(QStringLiteral("provider"), QStringLiteral("umlaut")), QStringLiteral("Grüße"));
    EXPECT_EQ(ini.keys(QStringLiteral("PROVIDER")),
              (QStringList{QStringLiteral("Name"), QStringLiteral("Port"), QStringLiteral("Quoted"), QStringLiteral("NoValue"),
                           QStringLiteral("Late"), QStringLiteral("Umlaut")}));
}

TEST(IniFile, GarbageDoesNotCrash)
{
    IniFile ini;
    QByteArray junk;
    for (int i = 0; i < 5000; ++i)
        junk.append(char(i * 37 % 256));
    ini.loadFromBytes(junk + "\n[unclosed\nk=v\n[" + QByteArray(100000, 'x'));
    EXPECT_EQ(ini.value(QStringLiteral("unclosed"), QStringLiteral("k")), QStringLiteral("v"));
}
