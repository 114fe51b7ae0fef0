#include "RegFileFormat.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>

#include <functional>
#include <memory>

using namespace platform;

namespace {

// The hives of the current profile, opened on first use.
struct Hives {
    std::unique_ptr<RegistryHive> user, machine;
    RegistryHive &operator()(RegRoot r)
    {
        auto &h = r == RegRoot::CurrentUser ? user : machine;
        if (!h)
            h = std::make_unique<RegistryHive>(r);
        return *h;
    }
};

} // namespace

TEST(RegFile, ExportThenImportIntoAFreshProfileGivesTheSameTree)
{
    QByteArray text;
    {
        TestProfile p;
        RegistryHive h(RegRoot::CurrentUser);
        ASSERT_TRUE(h.createKey(QStringLiteral("Software\\T\\Sub")));
        h.setValue(QStringLiteral("Software\\T"), QStringLiteral("Text"), RegSz, regSzBytes(QStringLiteral("C:\\Pfad \"mit\" Müll")));
        h.setValue(QStringLiteral("Software\\T"), QStringLiteral("Num"), RegDword, regDwordBytes(0xA0B1));
        h.setValue(QStringLiteral("Software\\T\\Sub"), QStringLiteral("Bin"), RegBinary, QByteArray("\x00\xFF\x10", 3));
        h.setValue(QStringLiteral("Software\\T\\Sub"), QString(), RegSz, regSzBytes(QStringLiteral("default")));
        ASSERT_TRUE(exportKey(h, RegRoot::CurrentUser, QStringLiteral("Software\\T"), &text));
    }
    EXPECT_TRUE(text.startsWith("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\T]\r\n"));
    EXPECT_TRUE(text.contains("\"Text\"=\"C:\\\\Pfad \\\"mit\\\" M\xC3\xBCll\"\r\n"));
    EXPECT_TRUE(text.contains("\"Num\"=dword:0000a0b1\r\n"));
    EXPECT_TRUE(text.contains("\"Bin\"=hex:00,ff,10\r\n"));
    EXPECT_TRUE(text.contains("@=\"default\"\r\n"));

    TestProfile p2;
    QString why;
    Hives hives;
    ASSERT_TRUE(importRegText(text, std::ref(hives), &why)) << why.toStdString();
    RegistryHive h(RegRoot::CurrentUser);
    QByteArray again;
    ASSERT_TRUE(exportKey(h, RegRoot::CurrentUser, QStringLiteral("Software\\T"), &again));
    EXPECT_EQ(again, text);
}

TEST(RegFile, ImportReadsUtf16ContinuedHexAndDeletions)
{
    TestProfile p;
    const QString src = QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n"
                                       "[HKEY_CURRENT_USER\\Software\\Other\\Accounts\\00000001]\r\n"
                                       "\"Account Name\"=\"Post\"\r\n"
                                       "\"Data\"=hex:01,02,\\\r\n  03,04\r\n"
                                       "\"Gone\"=\"x\"\r\n"
                                       "\"Gone\"=-\r\n"
                                       "[HKLM\\Software\\Quarvel]\r\n"
                                       "\"InstallPath\"=\"/opt/q/\"\r\n");
    QByteArray utf16("\xFF\xFE");
    for (QChar c : src) {
        utf16.append(char(c.unicode() & 0xFF));
        utf16.append(char(c.unicode() >> 8));
    }
    QString why;
    Hives hives;
    ASSERT_TRUE(importRegText(utf16, std::ref(hives), &why)) << why.toStdString();
    RegistryHive u(RegRoot::CurrentUser), m(RegRoot::LocalMachine);
    RegValue v;
    ASSERT_TRUE(u.readValue(QStringLiteral("Software\\Other\\Accounts\\00000001"), QStringLiteral("Data"), &v));
    EXPECT_EQ(v.data, QByteArray("\x01\x02\x03\x04", 4));
    EXPECT_FALSE(u.readValue(QStringLiteral("Software\\Other\\Accounts\\00000001"), QStringLiteral("Gone"), nullptr));
    ASSERT_TRUE(m.readValue(QStringLiteral("Software\\Quarvel"), QStringLiteral("InstallPath"), &v));
    EXPECT_EQ(regSzText(v.data), QStringLiteral("/opt/q/"));
}

TEST(RegFile, ASyntaxErrorWritesNothing)
{
    TestProfile p;
    const char *bad[] = {
        "not a reg file\r\n[HKCU\\A]\r\n",
        "Windows Registry Editor Version 5.00\r\n[HKCU\\A]\r\n\"ok\"=\"1\"\r\n\"b\"=hex:zz\r\n",
        "Windows Registry Editor Version 5.00\r\n\"orphan\"=\"1\"\r\n",
        "Windows Registry Editor Version 5.00\r\n[HKCU\\A]\r\n\"n\"=dword:123456789\r\n",
        "Windows Registry Editor Version 5.00\r\n[HKEY_NOWHERE\\A]\r\n",
        "Windows Registry Editor Version 5.00\r\n[HKCU\\A]\r\n\"open=\"1\"\r\n",
    };
    for (const char *text : bad) {
        QString why;
        Hives hives;
        EXPECT_FALSE(importRegText(QByteArray(text), std::ref(hives), &why)) << text;
        EXPECT_FALSE(why.isEmpty());
        EXPECT_FALSE(RegistryHive(RegRoot::CurrentUser).keyExists(QStringLiteral("A"))) << text;
    }
}

TEST(RegFile, AFilterLeavesOutKeysAndTheirValuesUnread)
{
    TestProfile p;
    const QByteArray text = "Windows Registry Editor Version 5.00\r\n"
                            "[HKEY_CURRENT_USER\\Keep\\Sub]\r\n\"a\"=\"1\"\r\n"
                            "[HKEY_CURRENT_USER\\Drop]\r\n\"b\"=\"2\"\r\n\"c\"=-\r\n"
                            "[-HKEY_CURRENT_USER\\Keep\\Old]\r\n"
                            "[HKEY_LOCAL_MACHINE\\Keep]\r\n\"d\"=dword:00000001\r\n";
    const KeyFilter keep = [](RegRoot root, const QString &path) {
        return root == RegRoot::CurrentUser && path.startsWith(QLatin1String("Keep"));
    };
    QString why;
    Hives hives;
    ASSERT_TRUE(importRegText(text, std::ref(hives), &why, keep)) << why.toStdString();
    RegistryHive u(RegRoot::CurrentUser), m(RegRoot::LocalMachine);
    EXPECT_TRUE(u.readValue(QStringLiteral("Keep\\Sub"), QStringLiteral("a"), nullptr));
    EXPECT_FALSE(u.keyExists(QStringLiteral("Drop")));
    EXPECT_FALSE(m.keyExists(QStringLiteral("Keep")));
    // The values of a key left out are not read: what this reader does not know there refuses nothing.
    // Below a key that is kept, it still refuses the whole file.
    EXPECT_TRUE(importRegText(text + "[HKEY_CURRENT_USER\\Drop]\r\n\"e\"=hex:zz\r\n\"f\"=qword:1\r\n",
                              std::ref(hives), &why, keep))
        << why.toStdString();
    EXPECT_FALSE(importRegText(text + "[HKEY_CURRENT_USER\\Keep]\r\n\"e\"=hex:zz\r\n", std::ref(hives), &why, keep));
    EXPECT_EQ(why, QStringLiteral("Zeile 11: ungültige Hex-Daten"));
}

// A long hex list continued over many lines is joined in time proportional to its length: 100,000 lines
// (8 MB) took hours when every line copied the whole list joined so far. The tool's wait is the bound.
TEST(RegFile, AValueContinuedOverAHundredThousandLinesImportsWhole)
{
    TestProfile p;
    constexpr int kLines = 100000;
    QByteArray text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Lang]\r\n\"Daten\"=hex:";
    QByteArray expected;
    const char *hex = "0123456789abcdef";
    for (int i = 0; i < kLines; ++i) {
        for (int b = 0; b < 24; ++b) {
            const int byte = (i + b) & 0xFF;
            expected.append(char(byte));
            text.append(hex[byte >> 4]).append(hex[byte & 15]).append(',');
        }
        text.append("\\\r\n  ");
    }
    text += "ff\r\n\"Danach\"=\"da\"\r\n";
    expected.append('\xFF');
    const QString file = p.file(QStringLiteral("lang.reg"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    f.close();

    QByteArray err;
    ASSERT_EQ(runProcess(toolPath(QStringLiteral("quarvel-reg")), {QStringLiteral("import"), file}, nullptr, &err), 0)
        << err.constData();
    RegistryHive h(RegRoot::CurrentUser);
    RegValue v;
    ASSERT_TRUE(h.readValue(QStringLiteral("Lang"), QStringLiteral("Daten"), &v));
    EXPECT_EQ(v.type, quint32(RegBinary));
    EXPECT_EQ(v.data.size(), expected.size());
    EXPECT_TRUE(v.data == expected);
    ASSERT_TRUE(h.readValue(QStringLiteral("Lang"), QStringLiteral("Danach"), &v));
    EXPECT_EQ(regSzText(v.data), QStringLiteral("da"));
}

TEST(RegFile, TheToolRoundTripsAKeyWithAllThreeTypes)
{
    TestProfile a;
    const QString tool = toolPath(QStringLiteral("quarvel-reg"));
    const QString key = QStringLiteral("HKCU\\Software\\Tessmar Software\\Quarvel\\Probe");
    const QList<QStringList> adds = {
        {QStringLiteral("/v"), QStringLiteral("Text"), QStringLiteral("/d"), QStringLiteral("Grüße \"aus\" C:\\Pfad")},
        {QStringLiteral("/v"), QStringLiteral("Zahl"), QStringLiteral("/t"), QStringLiteral("REG_DWORD"), QStringLiteral("/d"), QStringLiteral("4711")},
        {QStringLiteral("/v"), QStringLiteral("Daten"), QStringLiteral("/t"), QStringLiteral("REG_BINARY"), QStringLiteral("/d"), QStringLiteral("00ff10ab")},
    };
    for (const QStringList &add : adds)
        ASSERT_EQ(runProcess(tool, QStringList{QStringLiteral("add"), key} + add + QStringList{QStringLiteral("/f")}), 0);
    const QString file = a.file(QStringLiteral("probe.reg"));
    ASSERT_EQ(runProcess(tool, {QStringLiteral("export"), key, file}), 0);
    QByteArray first;
    ASSERT_EQ(runProcess(tool, {QStringLiteral("query"), key}, &first), 0);

    TestProfile b;
    QByteArray err;
    ASSERT_EQ(runProcess(tool, {QStringLiteral("import"), file}, nullptr, &err), 0) << err.constData();
    QByteArray second;
    ASSERT_EQ(runProcess(tool, {QStringLiteral("query"), key}, &second), 0);
    EXPECT_EQ(second, first);
    EXPECT_TRUE(second.contains("REG_DWORD    0x1267")) << second.constData();
    EXPECT_TRUE(second.contains("REG_BINARY    00FF10AB")) << second.constData();

    // A file with an error names its line and imports nothing.
    QFile bad(a.file(QStringLiteral("bad.reg")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Neu]\r\n\"a\"=\"1\"\r\n\"b\"=dword:xyz\r\n");
    bad.close();
    ASSERT_EQ(runProcess(tool, {QStringLiteral("import"), bad.fileName()}, nullptr, &err), 1);
    EXPECT_TRUE(err.contains("Zeile 5")) << err.constData();
    EXPECT_EQ(runProcess(tool, {QStringLiteral("query"), QStringLiteral("HKCU\\Neu")}), 1);
}

// An export holds whatever the key holds (enciphered passwords too): it is made for its owner alone, is
// never written through a symbolic link, and replaces an existing file only with /y.
TEST(RegFile, TheToolsExportIsPrivateAndFollowsNoLink)
{
    TestProfile p;
    const QString tool = toolPath(QStringLiteral("quarvel-reg"));
    const QString key = QStringLiteral("HKCU\\Software\\Tessmar Software\\Quarvel\\Probe");
    ASSERT_EQ(runProcess(tool, {QStringLiteral("add"), key, QStringLiteral("/v"), QStringLiteral("Text"),
                                QStringLiteral("/d"), QStringLiteral("x"), QStringLiteral("/f")}),
              0);
    const QString victim = p.file(QStringLiteral("victim.txt"));
    const auto writeVictim = [&] {
        QFile f(victim);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("keep me");
        f.close();
        QFile::setPermissions(victim, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    };
    const auto readAll = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    };
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    const struct {
        const char *name;
        const char *existing; // "file", "link" (to victim.txt), "dangling" or nullptr
        bool overwrite;
        int rc;
    } cases[] = {
        {"a new file", nullptr, false, 0},
        {"an existing file without /y", "file", false, 1},
        {"an existing file with /y", "file", true, 0},
        {"a link without /y", "link", false, 1},
        {"a link with /y", "link", true, 1},
        {"a dangling link", "dangling", false, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        writeVictim();
        const QString out = p.file(QStringLiteral("export.reg"));
        QFile::remove(out);
        const QString existing = c.existing ? QString::fromLatin1(c.existing) : QString();
        if (existing == QLatin1String("file")) {
            QFile::copy(victim, out);
            QFile::setPermissions(out, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        } else if (existing == QLatin1String("link")) {
            ASSERT_TRUE(QFile::link(victim, out));
        } else if (existing == QLatin1String("dangling")) {
            ASSERT_TRUE(QFile::link(p.file(QStringLiteral("nowhere.reg")), out));
        }
        QStringList args{QStringLiteral("export"), key, out};
        if (c.overwrite)
            args << QStringLiteral("/y");
        QByteArray err;
        EXPECT_EQ(runProcess(tool, args, nullptr, &err), c.rc) << err.constData();
        EXPECT_EQ(readAll(victim), QByteArray("keep me"));
        EXPECT_FALSE(QFileInfo::exists(p.file(QStringLiteral("nowhere.reg"))));
        if (c.rc == 0) {
            EXPECT_TRUE(readAll(out).startsWith("Windows Registry Editor Version 5.00"));
            EXPECT_EQ(QFileInfo(out).permissions(), ownerOnly);
        }
    }
}
