#include "ImportTestUtil.h"
#include "RegIni.h"
#include "TestProfile.h"
#include "WMImportUnit.h"

#include <QTemporaryDir>

namespace {

// An account file as Windows Mail writes it; each element carries a type attribute.
QByteArray accountXml(const QString &elements)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<MessageAccount>\r\n%1</MessageAccount>\r\n")
        .arg(elements)
        .toUtf8();
}

QString el(const char *name, const QString &text, const char *type = "SZ")
{
    return QStringLiteral("\t<%1 type=\"%2\">%3</%1>\r\n").arg(QLatin1String(name), QLatin1String(type), text);
}

} // namespace

TEST(WindowsMailFile, ElementsFillTheRecordWithHexadecimalNumbers)
{
    struct Case {
        const char *label;
        QString elements;
        bool accepted;
        QString expected; // describe() with the display name as text
    } cases[] = {
        {"plain", el("Account_Name", QStringLiteral("Privat")) + el("POP3_Server", QStringLiteral("pop.example.de"))
                      + el("POP3_User_Name", QStringLiteral("anna")) + el("SMTP_Server", QStringLiteral("smtp.example.de"))
                      + el("SMTP_Email_Address", QStringLiteral("anna@example.de")) + el("SMTP_Use_Sicily", QStringLiteral("00000002"), "DWORD"),
         true, QStringLiteral("Privat: anna@pop.example.de:110 smtp=smtp.example.de:25 auth from=anna@example.de")},
        {"hex port and secure flags",
         el("Account_Name", QStringLiteral("TLS")) + el("POP3_Server", QStringLiteral("pop.tls.de"))
             + el("POP3_Port", QStringLiteral("000003e3"), "DWORD") + el("POP3_Secure_Connection", QStringLiteral("00000001"), "DWORD")
             + el("SMTP_Port", QStringLiteral("000001d1"), "DWORD") + el("SMTP_Secure_Connection", QStringLiteral("1"), "DWORD"),
         true, QStringLiteral("TLS: @pop.tls.de:995 ssl smtp=:465 ssl from=")},
        // Decimal text is still read as hexadecimal: 110 is 0x110.
        {"decimal text", el("Account_Name", QStringLiteral("Dez")) + el("POP3_Server", QStringLiteral("pop.dez.de"))
                             + el("POP3_Port", QStringLiteral("110")) + el("SMTP_Use_Sicily", QStringLiteral("00000001")),
         true, QStringLiteral("Dez: @pop.dez.de:272 smtp=:25 from=")},
        {"numbers that are none", el("Account_Name", QStringLiteral("Wort")) + el("POP3_Server", QStringLiteral("pop.wort.de"))
                                      + el("POP3_Port", QStringLiteral("zehn")) + el("SMTP_Port", QStringLiteral("fffff"))
                                      + el("SMTP_Use_Sicily", QStringLiteral("ja")),
         true, QStringLiteral("Wort: @pop.wort.de:110 smtp=:25 auth from=")},
        {"white space inside", el("Account_Name", QStringLiteral("  Zwei\r\n\t Worte ")) + el("POP3_Server", QStringLiteral(" pop.ws.de ")),
         true, QStringLiteral("Zwei Worte: @pop.ws.de:110 smtp=:25 from=")},
        {"entity and CDATA", el("Account_Name", QStringLiteral("A &amp; B")) + el("POP3_Server", QStringLiteral("<![CDATA[pop.cd.de]]>")),
         true, QStringLiteral("A & B: @pop.cd.de:110 smtp=:25 from=")},
        {"IMAP with a POP3 server too", el("POP3_Server", QStringLiteral("pop.x.de")) + el("IMAP_Server", QStringLiteral("imap.x.de")), false, {}},
        {"skipped", el("POP3_Server", QStringLiteral("pop.x.de")) + el("POP3_Skip_Account", QStringLiteral("00000001")), false, {}},
        {"skip flag zero", el("Account_Name", QStringLiteral("Null")) + el("POP3_Server", QStringLiteral("pop.null.de"))
                               + el("POP3_Skip_Account", QStringLiteral("00000000")),
         true, QStringLiteral("Null: @pop.null.de:110 smtp=:25 from=")},
        {"no incoming server", el("Account_Name", QStringLiteral("HTTP")) + el("HTTPMail_Server", QStringLiteral("http://x")), false, {}},
    };
    for (const Case &c : cases) {
        TOEMailBox box;
        EXPECT_EQ(ReadOEAccountFile(accountXml(c.elements), &box), c.accepted) << c.label;
        if (c.accepted) {
            EXPECT_EQ(describe(TOEAccountItem{box.DisplayName, box}), c.expected) << c.label;
        }
    }
}

TEST(WindowsMailFile, EncodingsAndBrokenFiles)
{
    const QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?><MessageAccount>"
                                       "<Account_Name>Büro</Account_Name><POP3_Server>pop.b.de</POP3_Server></MessageAccount>");
    TOEMailBox box;
    ASSERT_TRUE(ReadOEAccountFile(utf16WithBom(xml), &box));
    EXPECT_EQ(box.DisplayName, QStringLiteral("Büro"));
    // Windows-1252 text without a declared encoding.
    ASSERT_TRUE(ReadOEAccountFile("<a><Account_Name>M\xFCller</Account_Name><POP3_Server>p</POP3_Server></a>", &box));
    EXPECT_EQ(box.DisplayName, QStringLiteral("Müller"));
    for (const QByteArray &bad : {QByteArray(), QByteArray("   "), QByteArray("kein XML"),
                                  QByteArray("<a><POP3_Server>pop.x.de</POP3_Server>"), // cut short
                                  QByteArray("<a><POP3_Server>pop.x.de</b></a>")})
        EXPECT_FALSE(ReadOEAccountFile(bad, &box)) << bad.toStdString();
}

TEST(WindowsMailStore, WalksTheFolderTreeSortedAndPassesOverBadFiles)
{
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("Windows Mail"));
    const auto account = [](const char *name, const char *server, const char *user) {
        return accountXml(el("Account_Name", QLatin1String(name)) + el("POP3_Server", QLatin1String(server))
                          + el("POP3_User_Name", QLatin1String(user)));
    };
    writeFile(root + QStringLiteral("/Local Folders/x.txt"), "nichts");
    writeFile(root + QStringLiteral("/b/account{2}.oeaccount"), account("B", "pop.b.de", "b"));
    writeFile(root + QStringLiteral("/A/account{1}.OEACCOUNT"), account("A", "pop.a.de", "a"));
    writeFile(root + QStringLiteral("/A/deep/er/account{3}.oeaccount"), account("Tief", "pop.t.de", "t"));
    writeFile(root + QStringLiteral("/A/copy.oeaccount"), account("Kopie", "pop.a.de", "a")); // same server and login
    writeFile(root + QStringLiteral("/A/upper.oeaccount"), account("Gross", "pop.a.de", "A")); // login differs in case
    writeFile(root + QStringLiteral("/.hidden/account{9}.oeaccount"), account("Versteckt", "pop.h.de", "h"));
    writeFile(root + QStringLiteral("/b/empty.oeaccount"), QByteArray());
    writeFile(root + QStringLiteral("/b/broken.oeaccount"), "<MessageAccount><POP3_Server>");
    ASSERT_TRUE(QDir(root).mkpath(QStringLiteral("A/folder.oeaccount"))); // a folder of that name is no file
    ASSERT_TRUE(QFile::link(root, root + QStringLiteral("/b/loop"))); // a linked folder is not entered

    TWindowsMail wm(root);
    EXPECT_EQ(wm.StoreRoot, root + QLatin1Char('/'));
    TOEAccountList list;
    wm.GetAccounts(list);
    QStringList texts;
    for (const auto &item : list)
        texts.append(item.Text + QLatin1Char('=') + item.MailBox.POP3UserName);
    // Folders sorted without regard to case ("A" < "A/deep/er" < "b"), files by name within each.
    EXPECT_EQ(texts, (QStringList{QStringLiteral("A=a"), QStringLiteral("Gross=A"), QStringLiteral("Tief=t"), QStringLiteral("B=b")}));

    TWindowsMail none{QString()};
    none.GetAccounts(list);
    EXPECT_TRUE(list.isEmpty());
    TWindowsMail missing(dir.filePath(QStringLiteral("gibt es nicht")));
    missing.GetAccounts(list);
    EXPECT_TRUE(list.isEmpty());
}

TEST(WindowsMailStore, StoreRootComesFromTheSettingsStoreWithVariablesExpanded)
{
    TestProfile profile;
    RecordingMessageBox box;
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("Mail/x/a.oeaccount")),
              accountXml(el("Account_Name", QStringLiteral("Aus dem Speicher")) + el("POP3_Server", QStringLiteral("pop.s.de"))));
    qputenv("QUARVEL_WM_TEST", dir.path().toLocal8Bit());
    {
        TTheRegIniFile reg;
        reg.Area = QStringLiteral("Software\\Microsoft");
        reg.Section = QStringLiteral("Windows Mail");
        reg.WriteString(QStringLiteral("Store Root"), QStringLiteral("%QUARVEL_WM_TEST%\\Mail"));
    }
    TWindowsMail wm;
    qunsetenv("QUARVEL_WM_TEST");
    EXPECT_EQ(wm.StoreRoot, dir.path() + QStringLiteral("/Mail/"));
    TOEAccountList list;
    wm.GetAccounts(list);
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list.first().Text, QStringLiteral("Aus dem Speicher"));

    TestProfile empty;
    EXPECT_TRUE(TWindowsMail().StoreRoot.isEmpty());
    EXPECT_FALSE(platform::RegistryHive(platform::RegRoot::CurrentUser).keyExists(QStringLiteral("Software\\Microsoft")));
    EXPECT_TRUE(box.shown.isEmpty());
}
