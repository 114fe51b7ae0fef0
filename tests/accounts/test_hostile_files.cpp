// Files from outside that try to break the readers: each gives the accounts read so far, or none,
// without a crash or a hang.
#include "ImportTestUtil.h"
#include "LinuxImportUnit.h"
#include "MozImportUnit.h"
#include "ProviderListUnit.h"
#include "WMImportUnit.h"

#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

QByteArray account(int n, const char *host)
{
    return QStringLiteral("user_pref(\"mail.server.server%1.hostname\", \"%2\");\n"
                          "user_pref(\"mail.server.server%1.type\", \"pop3\");\n")
        .arg(n)
        .arg(QLatin1String(host))
        .toUtf8();
}

} // namespace

TEST(HostileFiles, HugePrefsJsStillGivesItsAccounts)
{
    QTemporaryDir dir;
    // 50 MB of unrelated preferences between two accounts.
    QByteArray prefs = account(1, "pop.vorher.de");
    const QByteArray filler = "user_pref(\"browser.some.pref\", \"" + QByteArray(200, 'x') + "\");\n";
    prefs.reserve(51 * 1024 * 1024);
    while (prefs.size() < 50 * 1024 * 1024)
        prefs += filler;
    prefs += account(2, "pop.nachher.de");
    writeFile(dir.filePath(QStringLiteral("p/prefs.js")), prefs);
    TMozillaImport moz;
    TOEAccountList list;
    moz.GetAccounts(dir.filePath(QStringLiteral("p")), list);
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list.at(1).MailBox.POP3Server, QStringLiteral("pop.nachher.de"));
}

TEST(HostileFiles, EndlessLinesAndEndlessStringsLoseOnlyThemselves)
{
    struct Case {
        const char *label;
        QByteArray tail;
    } cases[] = {
        {"one line of 20 MB", QByteArray(20 * 1024 * 1024, 'a')},
        {"string without end", "user_pref(\"mail.server.server2.hostname\", \"" + QByteArray(8 * 1024 * 1024, 'b')},
        {"comment without end", "/* " + QByteArray(8 * 1024 * 1024, '*')},
        {"backslashes and quotes", QByteArray(4 * 1024 * 1024, '\\') + QByteArray(4 * 1024 * 1024, '"')},
        {"open calls", QByteArray(1024 * 1024, '(') + "user_pref(user_pref(user_pref(\"mail.x\""},
        {"many statements on one line", QByteArray("user_pref(\"mail.y\", 1);").repeated(200000)},
    };
    for (const Case &c : cases) {
        TPrefsJs prefs;
        prefs.Parse(account(1, "pop.eins.de") + c.tail);
        const TOEAccountList list = MozillaAccounts(prefs);
        ASSERT_EQ(list.size(), 1) << c.label;
        EXPECT_EQ(list.first().MailBox.POP3Server, QStringLiteral("pop.eins.de")) << c.label;
    }
}

TEST(HostileFiles, ManyServersAreCutAtTheHighestServerNumber)
{
    QByteArray prefs;
    for (int n = 1; n <= 70000; ++n)
        prefs += account(n, "pop.viele.de");
    TPrefsJs parsed;
    parsed.Parse(prefs);
    const TOEAccountList list = MozillaAccounts(parsed);
    // Server numbers end at 65535.
    EXPECT_EQ(list.size(), 65535);
    EXPECT_EQ(list.last().MailBox.POP3Server, QStringLiteral("pop.viele.de"));
}

TEST(HostileFiles, PreferencesBeyondTheLimitAreDropped)
{
    QByteArray text;
    for (qsizetype n = 0; n < TPrefsJs::kMaxPrefs + 1000; ++n)
        text += "user_pref(\"mail.p" + QByteArray::number(n) + "\", 1);\n";
    TPrefsJs prefs;
    prefs.Parse(text);
    EXPECT_EQ(prefs.Values().size(), TPrefsJs::kMaxPrefs);
    EXPECT_TRUE(prefs.Has(QStringLiteral("mail.p0")));
    EXPECT_FALSE(prefs.Has(QStringLiteral("mail.p") + QString::number(TPrefsJs::kMaxPrefs)));
}

TEST(HostileFiles, XmlWithEntitiesAndDeepNesting)
{
    // An entity that doubles ten times over: the reader refuses to expand it that far.
    QByteArray laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE a [\n<!ENTITY l0 \"lol\">\n";
    for (int i = 1; i <= 30; ++i)
        laughs += QStringLiteral("<!ENTITY l%1 \"&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;\">\n").arg(i).arg(i - 1).toUtf8();
    laughs += "]>\n<a><POP3_Server>&l30;</POP3_Server></a>";
    TOEMailBox box;
    EXPECT_FALSE(ReadOEAccountFile(laughs, &box));
    // An external entity is not fetched.
    EXPECT_FALSE(ReadOEAccountFile("<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
                                   "<a><POP3_Server>&x;</POP3_Server></a>",
                                   &box));
    // A small internal entity is ordinary text.
    ASSERT_TRUE(ReadOEAccountFile("<!DOCTYPE a [<!ENTITY h \"pop.e.de\">]><a><POP3_Server>&h;</POP3_Server></a>", &box));
    EXPECT_EQ(box.POP3Server, QStringLiteral("pop.e.de"));

    const int depth = 200000;
    const QByteArray deep = QByteArray("<a>").repeated(depth) + "<POP3_Server>pop.tief.de</POP3_Server>" + QByteArray("</a>").repeated(depth);
    ASSERT_TRUE(ReadOEAccountFile(deep, &box));
    EXPECT_EQ(box.POP3Server, QStringLiteral("pop.tief.de"));
    EXPECT_FALSE(ReadOEAccountFile(QByteArray("<a>").repeated(depth), &box)); // never closed
}

TEST(HostileFiles, PipesAndDevicesAreNoSettingsFiles)
{
    QTemporaryDir dir;
    // A reader that opened a named pipe would wait for a writer for ever.
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("prefs.js"))).constData(), 0600), 0);
    TMozillaImport moz;
    TOEAccountList list;
    moz.GetAccounts(dir.path(), list);
    EXPECT_TRUE(list.isEmpty());

    const QString app = dir.filePath(QStringLiteral("app"));
    QDir().mkpath(app);
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), app + QStringLiteral("/profiles.ini")));
    moz.ReadProfiles(app);
    EXPECT_TRUE(moz.Profiles.isEmpty());

    QDir().mkpath(dir.filePath(QStringLiteral("wm")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("wm/a.oeaccount"))).constData(), 0600), 0);
    TWindowsMail wm(dir.filePath(QStringLiteral("wm")));
    wm.GetAccounts(list);
    EXPECT_TRUE(list.isEmpty());

    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("EProv.ini"))).constData(), 0600), 0);
    EXPECT_TRUE(ReadProviderFile(dir.filePath(QStringLiteral("EProv.ini"))).isEmpty());

    QDir().mkpath(dir.filePath(QStringLiteral("home/.config/evolution/sources")));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), dir.filePath(QStringLiteral("home/.config/evolution/sources/x.source"))));
    TEvolutionImport evo(dir.filePath(QStringLiteral("home")));
    evo.GetAccounts(list);
    EXPECT_TRUE(list.isEmpty());
}

TEST(HostileFiles, ProviderFileWithThousandsOfSections)
{
    QTemporaryDir dir;
    QByteArray ini = "[ProviderIndex]\n";
    const int count = 20000;
    for (int i = 0; i < count; ++i)
        ini += QStringLiteral("%1=Anbieter %1\n").arg(i).toUtf8();
    for (int i = count - 1; i >= 0; --i)
        ini += QStringLiteral("[Anbieter %1]\nPOP3Server=pop%1.de\nSMTPServer=smtp%1.de\nAccountType=0\n").arg(i).toUtf8();
    const QString file = dir.filePath(QStringLiteral("EProv.ini"));
    writeFile(file, ini);
    const QList<TProvider> all = ReadProviderFile(file);
    ASSERT_EQ(all.size(), count);
    EXPECT_EQ(all.at(1234).Entry.POP3Server, QStringLiteral("pop1234.de"));
    const QList<TProvider> offered = OfferedProviders(all);
    ASSERT_EQ(offered.size(), count);
    EXPECT_EQ(offered.first().Name, QStringLiteral("Anbieter 0"));
}
