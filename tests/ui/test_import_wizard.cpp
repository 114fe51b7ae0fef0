// The import wizard on the offscreen platform, with the other programs' settings made here: a .reg
// export, a Windows Mail folder, a home folder with Thunderbird, Evolution and KMail. Its pages, their
// checks, the passwords, and through the mailbox list dialog what reaches the list and the store.
#include "AccountDialogsFixture.h"
#include "CheckBoxGrid.h"
#include "OEImportUnit.h"
#include "OEOutlookImportDlgUnit.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <functional>

namespace {

using W = TOEOutlookImportDlg;

const QString kAccountsKey = QStringLiteral("Software\\Microsoft\\Internet Account Manager\\Accounts\\");

// Two identities; the shared list holds a plain and a secured account, the second identity's own list
// one account and one that differs from it only in the case of the login name; Outlook has one.
QByteArray regExport()
{
    QString t = QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n"
                               "[HKEY_CURRENT_USER\\Identities]\r\n\"Default User ID\"=\"{AAAA}\"\r\n\r\n"
                               "[HKEY_CURRENT_USER\\Identities\\{AAAA}]\r\n\"User ID\"=\"{AAAA}\"\r\n\"Username\"=\"Hauptidentität\"\r\n\r\n"
                               "[HKEY_CURRENT_USER\\Identities\\{BBBB}]\r\n\"User ID\"=\"{BBBB}\"\r\n\"Username\"=\"Zweite\"\r\n\r\n");
    const auto key = [&](const QString &path, const QString &values) {
        t += QStringLiteral("[HKEY_CURRENT_USER\\") + path + QStringLiteral("]\r\n") + values + QStringLiteral("\r\n");
    };
    key(kAccountsKey + QStringLiteral("00000001"),
        QStringLiteral("\"Account Name\"=\"Privat\"\r\n\"POP3 Server\"=\"pop.example.de\"\r\n\"POP3 User Name\"=\"anna\"\r\n"
                       "\"SMTP Server\"=\"smtp.example.de\"\r\n\"SMTP Email Address\"=\"anna@example.de\"\r\n"
                       "\"SMTP Use Sicily\"=dword:00000002\r\n"));
    key(kAccountsKey + QStringLiteral("00000002"),
        QStringLiteral("\"Account Name\"=\"Sicher\"\r\n\"POP3 Server\"=\"pop.dword.de\"\r\n\"POP3 User Name\"=\"d\"\r\n"
                       "\"POP3 Secure Connection\"=dword:00000001\r\n\"POP3 Port\"=dword:000003e3\r\n"));
    const QString second = QStringLiteral("Identities\\{BBBB}\\") + kAccountsKey;
    key(second + QStringLiteral("00000001"),
        QStringLiteral("\"Account Name\"=\"Zweites Konto\"\r\n\"POP3 Server\"=\"pop.zwei.de\"\r\n\"POP3 User Name\"=\"z\"\r\n"));
    key(second + QStringLiteral("00000002"),
        QStringLiteral("\"Account Name\"=\"Gross\"\r\n\"POP3 Server\"=\"pop.zwei.de\"\r\n\"POP3 User Name\"=\"Z\"\r\n"));
    key(QStringLiteral("Software\\Microsoft\\Office\\Outlook\\OMI Account Manager\\Accounts\\00000001"),
        QStringLiteral("\"Account Name\"=\"Outlook\"\r\n\"POP3 Server\"=\"pop.omi.de\"\r\n\"POP3 User Name\"=\"o\"\r\n"));
    return utf16WithBom(t);
}

const QByteArray kThunderbirdPrefs =
    "user_pref(\"mail.server.server1.hostname\", \"pop.example.de\");\n"
    "user_pref(\"mail.server.server1.name\", \"Privat\");\n"
    "user_pref(\"mail.server.server1.type\", \"pop3\");\n"
    "user_pref(\"mail.server.server1.userName\", \"anna\");\n"
    "user_pref(\"mail.identity.id1.useremail\", \"anna@example.de\");\n"
    "user_pref(\"mail.identity.id1.smtpServer\", \"smtp1\");\n"
    "user_pref(\"mail.smtpserver.smtp1.hostname\", \"smtp.example.de\");\n"
    "user_pref(\"mail.smtpserver.smtp1.port\", 587);\n"
    "user_pref(\"mail.smtpserver.smtp1.try_ssl\", 2);\n"
    "user_pref(\"mail.server.server2.hostname\", \"imap.example.de\");\n"
    "user_pref(\"mail.server.server2.type\", \"imap\");\n"
    "user_pref(\"mail.server.server2.name\", \"Arbeit\");\n"
    "user_pref(\"mail.server.server2.userName\", \"chef\");\n"
    "user_pref(\"mail.server.server3.hostname\", \"pop.tls.de\");\n"
    "user_pref(\"mail.server.server3.name\", \"Sicher\");\n"
    "user_pref(\"mail.server.server3.type\", \"pop3\");\n"
    "user_pref(\"mail.server.server3.userName\", \"bernd\");\n"
    "user_pref(\"mail.server.server3.socketType\", 3);\n";

QStringList lines(const QListWidget *list, bool onlyTicked = false)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        if (!onlyTicked || list->item(i)->checkState() == Qt::Checked)
            out << list->item(i)->text();
    return out;
}

QStringList rows(const QTreeWidget *list, int column)
{
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        out << list->topLevelItem(i)->text(column);
    return out;
}

class ImportWizardTest : public AccountDialogsTest {
protected:
    QString regFile()
    {
        const QString path = files.filePath(QStringLiteral("konten.reg"));
        writeFile(path, regExport());
        return path;
    }
    QString windowsMailFolder()
    {
        const QString root = files.filePath(QStringLiteral("Windows Mail"));
        writeFile(root + QStringLiteral("/Local Folders/account{1}.oeaccount"),
                  "<?xml version=\"1.0\"?><MessageAccount><Account_Name>Vista</Account_Name>"
                  "<POP3_Server>pop.vista.de</POP3_Server><POP3_User_Name>v</POP3_User_Name></MessageAccount>");
        return root;
    }
    void linuxPrograms()
    {
        writeFile(home.filePath(QStringLiteral(".config/evolution/sources/1.source")),
                  "[Data Source]\nDisplayName=Evo\n[Mail Account]\nBackendName=pop\n[Authentication]\nHost=pop.evo.de\nUser=e\n");
        writeFile(home.filePath(QStringLiteral(".config/akonadi_pop3_resource_0rc")), "[General]\nhost=pop.kmail.de\nlogin=k\n");
        writeFile(home.filePath(QStringLiteral(".config/akonadi/agent_config_akonadi_pop3_resource_0")), "[Agent]\nName=KMail-Konto\n");
    }
    std::unique_ptr<W> wizard() { return std::make_unique<W>(home.path()); }
    static void useRegFile(W &w, const QString &path)
    {
        w.RegFileChkBox->setChecked(true);
        w.RegFileEdit->setText(path);
    }

    QTemporaryDir files;
    QTemporaryDir home;
};

TEST_F(ImportWizardTest, TheStartPageOffersTheSourcesAndTheFilesTheyComeFrom)
{
    start();
    auto w = wizard();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Import von E-Mail-Konten"));
    ASSERT_EQ(w->NB->count(), 6);
    EXPECT_EQ(w->CurrentPage(), W::pgStart);
    EXPECT_FALSE(w->PrevBtn->isEnabled());
    EXPECT_EQ(w->NextBtn->text(), QStringLiteral("&Weiter >"));
    const QList<QRadioButton *> sources{w->oeRB, w->oRB, w->wRB, w->mozRB, w->evoRB, w->kmailRB};
    QStringList captions;
    for (const QRadioButton *rb : sources)
        captions << rb->text();
    EXPECT_EQ(captions, (QStringList{QStringLiteral("aus Microsoft Outlook Express"), QStringLiteral("aus Microsoft Outlook"),
                                     QStringLiteral("aus Windows Mail (Windows Vista)"),
                                     QStringLiteral("aus der Mozilla-Suite, Netscape 6/7 oder Mozilla Thunderbird"),
                                     QStringLiteral("aus Evolution"), QStringLiteral("aus KMail")}));
    EXPECT_TRUE(w->oeRB->isChecked());
    bool title = false, line = false;
    for (const QLabel *l : w->findChildren<QLabel *>()) {
        title |= l->text() == QLatin1String("Import aus Microsoft Outlook(Express), Windows Mail und Mozilla-Produkten")
                 && l->font().bold();
        line |= l->text() == QStringLiteral("Dies ermöglicht den Import der E-Mail-Konten aus MS Outlook (Express), Windows "
                                            "Mail oder Mozilla-Produkten in Quarvel.");
    }
    EXPECT_TRUE(title);
    EXPECT_TRUE(line);

    // The .reg file belongs to the two registry sources, the folder to Windows Mail.
    const struct {
        QRadioButton *source;
        bool regTicked, regBox, regPath, folder;
    } cases[] = {
        {w->oeRB, false, true, false, false}, {w->oeRB, true, true, true, false}, {w->oRB, true, true, true, false},
        {w->wRB, true, false, false, true},   {w->mozRB, true, false, false, false}, {w->evoRB, false, false, false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.source->text().toStdString());
        c.source->setChecked(true);
        w->RegFileChkBox->setChecked(c.regTicked);
        EXPECT_EQ(w->RegFileChkBox->isEnabled(), c.regBox);
        EXPECT_EQ(w->RegFileEdit->isEnabled(), c.regPath);
        EXPECT_EQ(w->RegFileBtn->isEnabled(), c.regPath);
        EXPECT_EQ(w->StoreFolderEdit->isEnabled(), c.folder);
        EXPECT_EQ(w->StoreFolderBtn->isEnabled(), c.folder);
    }

    // "Durchsuchen..." asks with the current text; a cancelled choice keeps it.
    QStringList asked;
    QString answer = QStringLiteral("/tmp/export.reg");
    w->ChooseRegFile = [&](const QString &current) {
        asked << current;
        return answer;
    };
    w->oeRB->setChecked(true);
    w->RegFileChkBox->setChecked(true);
    w->RegFileEdit->clear();
    w->RegFileBtn->click();
    answer.clear();
    w->RegFileBtn->click();
    EXPECT_EQ(asked, (QStringList{QString(), QStringLiteral("/tmp/export.reg")}));
    EXPECT_EQ(w->RegFileEdit->text(), QStringLiteral("/tmp/export.reg"));
    w->ChooseStoreFolder = [](const QString &) { return QStringLiteral("/tmp/Windows Mail"); };
    w->wRB->setChecked(true);
    w->StoreFolderBtn->click();
    EXPECT_EQ(w->StoreFolderEdit->text(), QStringLiteral("/tmp/Windows Mail"));
}

TEST_F(ImportWizardTest, OutlookExpressAsksForTheIdentityWhoseAccountsItLists)
{
    start();
    auto w = wizard();
    useRegFile(*w, regFile());
    w->NextBtn->click();
    ASSERT_EQ(w->CurrentPage(), W::pgIdentity);
    EXPECT_TRUE(w->PrevBtn->isEnabled());
    EXPECT_EQ(comboItems(w->IdentitesCB), (QStringList{QStringLiteral("Hauptidentität"), QStringLiteral("Zweite")}));
    EXPECT_EQ(w->IdentitesCB->currentIndex(), 0);

    w->NextBtn->click();
    ASSERT_EQ(w->CurrentPage(), W::pgAccounts);
    EXPECT_EQ(lines(w->AccountSelectLB), (QStringList{QStringLiteral("Privat"), QStringLiteral("Sicher")}));
    EXPECT_EQ(lines(w->AccountSelectLB, true), lines(w->AccountSelectLB)) << "every account starts ticked";

    // Back to the start, past the identity page again, to the other identity: its own list first.
    w->PrevBtn->click();
    EXPECT_EQ(w->CurrentPage(), W::pgStart);
    w->NextBtn->click();
    w->IdentitesCB->setCurrentIndex(1);
    w->NextBtn->click();
    EXPECT_EQ(lines(w->AccountSelectLB), (QStringList{QStringLiteral("Zweites Konto"), QStringLiteral("Gross"),
                                                      QStringLiteral("Privat"), QStringLiteral("Sicher")}));
    EXPECT_TRUE(box.shown.isEmpty()) << texts(box).join(QLatin1Char('|')).toStdString();
}

TEST_F(ImportWizardTest, OutlookExpressWithoutIdentitiesSaysSoAndGoesNoFurther)
{
    start();
    auto w = wizard();
    w->NextBtn->click(); // the settings store holds no identities
    EXPECT_EQ(w->CurrentPage(), W::pgIdentity);
    EXPECT_FALSE(w->NextBtn->isEnabled());
    EXPECT_TRUE(w->PrevBtn->isEnabled());
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown.at(0).text,
              QStringLiteral("Es wurden keine Outlook Express Identitäten gefunden. Entweder ist Outlook Express nicht "
                             "installiert oder Quarvel kann die Identitäten nicht auslesen."));
    EXPECT_EQ(box.shown.at(0).kind, MsgError);
}

TEST_F(ImportWizardTest, TheOtherSourcesGoStraightToTheirAccountsAndBackToTheStart)
{
    start();
    linuxPrograms();
    const QString reg = regFile();
    const QString vista = windowsMailFolder();
    const struct {
        const char *name;
        std::function<void(W &)> choose;
        QStringList found;
    } cases[] = {
        {"Outlook from a .reg file",
         [&](W &w) {
             w.oRB->setChecked(true);
             useRegFile(w, reg);
         },
         {QStringLiteral("Outlook")}},
        {"Windows Mail from a folder",
         [&](W &w) {
             w.wRB->setChecked(true);
             w.StoreFolderEdit->setText(vista);
         },
         {QStringLiteral("Vista")}},
        {"Evolution", [](W &w) { w.evoRB->setChecked(true); }, {QStringLiteral("Evo")}},
        {"KMail", [](W &w) { w.kmailRB->setChecked(true); }, {QStringLiteral("KMail-Konto")}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto w = wizard();
        c.choose(*w);
        w->NextBtn->click();
        EXPECT_EQ(w->CurrentPage(), W::pgAccounts);
        EXPECT_EQ(lines(w->AccountSelectLB, true), c.found);
        EXPECT_TRUE(w->NextBtn->isEnabled());
        w->PrevBtn->click();
        EXPECT_EQ(w->CurrentPage(), W::pgStart);
    }
    EXPECT_TRUE(box.shown.isEmpty()) << texts(box).join(QLatin1Char('|')).toStdString();

    // A source without accounts says so on the account page, and "Weiter" is off there.
    auto empty = std::make_unique<W>(files.filePath(QStringLiteral("niemand")));
    empty->evoRB->setChecked(true);
    empty->NextBtn->click();
    EXPECT_EQ(empty->CurrentPage(), W::pgAccounts);
    EXPECT_FALSE(empty->NextBtn->isEnabled());
    EXPECT_EQ(texts(box), QStringList{QStringLiteral("Es wurden keine Internetkonten gefunden.")});
}

TEST_F(ImportWizardTest, AFileOrFolderThatCannotBeReadIsReportedOnTheStartPage)
{
    start();
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("fehlt.reg"));
    const QString text = dir.filePath(QStringLiteral("text.reg"));
    writeFile(text, "Hallo Welt\r\n");
    const QString huge = dir.filePath(QStringLiteral("riesig.reg"));
    {
        // Larger than any export of mail accounts: refused without being read.
        QFile f(huge);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(TOutlookExpress::kMaxRegFileBytes + 10));
    }
    const struct {
        const char *name;
        QRadioButton *W::*source;
        const char *path; // empty: the field stays empty
        QString message;
    } cases[] = {
        {"no .reg file named", &W::oeRB, "", QStringLiteral("Bitte wählen Sie die Registrierungsdatei (*.reg), aus der die "
                                                             "E-Mail-Konten gelesen werden sollen.")},
        {"a missing .reg file", &W::oRB, "fehlt.reg", QStringLiteral("Die Datei %1 kann nicht gelesen werden.").arg(missing)},
        {"a folder as .reg file", &W::oeRB, ".", QStringLiteral("Die Datei %1 kann nicht gelesen werden.").arg(dir.filePath(QStringLiteral(".")))},
        {"no registry export", &W::oeRB, "text.reg", QString()},
        {"too large", &W::oeRB, "riesig.reg",
         QStringLiteral("Die Datei %1 ist größer als 128 MB. Bitte exportieren Sie nur die Schlüssel der E-Mail-Konten.").arg(huge)},
        {"no Windows Mail folder named", &W::wRB, "",
         QStringLiteral("Bitte wählen Sie den Ordner von Windows Mail, aus dem die E-Mail-Konten gelesen werden sollen.")},
        {"a missing folder", &W::wRB, "fehlt", QStringLiteral("Der Ordner %1 kann nicht gelesen werden.").arg(dir.filePath(QStringLiteral("fehlt")))},
        {"a file as folder", &W::wRB, "text.reg", QStringLiteral("Der Ordner %1 kann nicht gelesen werden.").arg(text)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        box.shown.clear();
        auto w = wizard();
        ((*w).*c.source)->setChecked(true);
        const QString path = *c.path ? dir.filePath(QLatin1String(c.path)) : QString();
        if (c.source == &W::wRB)
            w->StoreFolderEdit->setText(path);
        else
            useRegFile(*w, path);
        w->NextBtn->click();
        EXPECT_EQ(w->CurrentPage(), W::pgStart);
        ASSERT_EQ(box.shown.size(), 1);
        EXPECT_EQ(box.shown.at(0).kind, MsgError);
        if (c.message.isEmpty())
            EXPECT_TRUE(box.shown.at(0).text.contains(QStringLiteral("keine lesbare Registrierungsdatei")))
                << box.shown.at(0).text.toStdString();
        else
            EXPECT_EQ(box.shown.at(0).text, c.message);
    }
}

TEST_F(ImportWizardTest, MozillaProfilesLeadToTheAccountsAndEveryOneNeedsItsPassword)
{
    start();
    writeThunderbird(home.path(), {{QStringLiteral("default-release"), QStringLiteral("abcd.default-release"), kThunderbirdPrefs},
                                   {QStringLiteral("leer"), QStringLiteral("leer.profil"), "user_pref(\"browser.x\", 1);\n"}});
    auto w = wizard();
    w->mozRB->setChecked(true);
    w->NextBtn->click();
    ASSERT_EQ(w->CurrentPage(), W::pgMozProfile);
    EXPECT_EQ(comboItems(w->MozFoldersCB), QStringList{home.filePath(QStringLiteral(".thunderbird"))});
    EXPECT_EQ(comboItems(w->MozProfilesCB), (QStringList{QStringLiteral("default-release"), QStringLiteral("leer")}));
    EXPECT_EQ(w->MozProfilesCB->currentIndex(), 0);
    EXPECT_TRUE(w->NextBtn->isEnabled());
    EXPECT_TRUE(w->PrevBtn->isEnabled());

    // A profile without accounts: both boxes, and the wizard waits on the account page.
    w->MozProfilesCB->setCurrentIndex(1);
    w->NextBtn->click();
    EXPECT_EQ(w->CurrentPage(), W::pgAccounts);
    EXPECT_EQ(texts(box), (QStringList{QStringLiteral("Es wurden keine Internetkonten gefunden."),
                                       QStringLiteral("Sie müssen mindestens ein E-Mail-Konto für den Import wählen.")}));
    EXPECT_FALSE(w->NextBtn->isEnabled());
    box.shown.clear();

    // The other profile: straight on to the passwords, since its accounts start ticked.
    w->PrevBtn->click();
    EXPECT_EQ(w->CurrentPage(), W::pgStart);
    w->NextBtn->click();
    EXPECT_EQ(w->MozProfilesCB->currentIndex(), 0);
    w->NextBtn->click();
    ASSERT_EQ(w->CurrentPage(), W::pgPasswords);
    EXPECT_EQ(rows(w->AccountsLV, 0), (QStringList{QStringLiteral("Privat"), QStringLiteral("Arbeit"), QStringLiteral("Sicher")}));
    EXPECT_EQ(rows(w->AccountsLV, 1), QStringList(3, QString()));
    EXPECT_EQ(w->AccountsLV->headerItem()->text(0), QStringLiteral("E-Mail-Konto"));
    EXPECT_EQ(w->AccountsLV->headerItem()->text(1), QStringLiteral("Kennwort"));

    w->NextBtn->click();
    EXPECT_EQ(texts(box), QStringList{QStringLiteral("Sie müssen für jedes E-Mail-Konto das Passwort eingeben.\r\rKlicken "
                                                     "Sie doppelt auf den E-Mail-Kontonamen, um das Passwort eingeben zu können.")});
    EXPECT_EQ(w->CurrentPage(), W::pgPasswords);

    // The password box: cancelled or left empty it changes nothing.
    w->AccountsLV->setCurrentItem(w->AccountsLV->topLevelItem(0));
    QString caption, prompt;
    bool masked = false;
    int maxLength = 0;
    onNextDialog<TImportPasswordDlg>([&](TImportPasswordDlg *d) {
        caption = d->windowTitle();
        prompt = d->Prompt->text();
        masked = d->PasswordEdit->echoMode() == QLineEdit::Password;
        maxLength = d->PasswordEdit->maxLength();
        d->PasswordEdit->setText(QStringLiteral("egal"));
        d->CancelBtn->click();
    });
    w->AccountsLVDblClick();
    EXPECT_EQ(caption, QStringLiteral("Privat"));
    EXPECT_EQ(prompt, QStringLiteral("Kennwort für das Konto anna:"));
    EXPECT_TRUE(masked);
    EXPECT_EQ(maxLength, 255);
    onNextDialog<TImportPasswordDlg>([](TImportPasswordDlg *d) { d->OKBtn->click(); });
    w->AccountsLVDblClick();
    EXPECT_EQ(rows(w->AccountsLV, 1), QStringList(3, QString()));

    // One star per character, also for one outside the basic plane.
    typePasswords(*w, {QStringLiteral("pw-änna"), QString::fromUcs4(U"\U0001F600"), QStringLiteral("geheim")});
    EXPECT_EQ(rows(w->AccountsLV, 1), (QStringList{QStringLiteral("*******"), QStringLiteral("*"), QStringLiteral("******")}));

    // Back on the account page the list is read anew: every account ticked, every password asked again.
    w->PrevBtn->click();
    EXPECT_EQ(w->CurrentPage(), W::pgAccounts);
    w->DeselectAllBtn->click();
    box.shown.clear();
    w->NextBtn->click();
    EXPECT_EQ(texts(box), QStringList{QStringLiteral("Sie müssen mindestens ein E-Mail-Konto für den Import wählen.")});
    w->SelectAllBtn->click();
    w->AccountSelectLB->item(0)->setCheckState(Qt::Unchecked);
    w->NextBtn->click();
    EXPECT_EQ(rows(w->AccountsLV, 0), (QStringList{QStringLiteral("Arbeit"), QStringLiteral("Sicher")}));
    EXPECT_EQ(rows(w->AccountsLV, 1), QStringList(2, QString()));
    typePasswords(*w, {QStringLiteral("pw-chef"), QStringLiteral("pw-bernd")});

    w->NextBtn->click();
    ASSERT_EQ(w->CurrentPage(), W::pgFinish);
    EXPECT_EQ(w->NextBtn->text(), QStringLiteral("Fertig stellen"));
    EXPECT_FALSE(w->PrevBtn->isEnabled());
    w->NextBtn->click();
    EXPECT_EQ(w->result(), QDialog::Accepted);
    const QList<TOEMailBox> chosen = w->ChosenAccounts();
    ASSERT_EQ(chosen.size(), 2);
    // The IMAP account comes over as one.
    EXPECT_EQ(chosen.at(0).AccountKind, atIMAP);
    EXPECT_EQ(chosen.at(0).POP3Server, QStringLiteral("imap.example.de"));
    EXPECT_EQ(chosen.at(0).POP3Port, 143);
    EXPECT_EQ(chosen.at(0).POP3Password, QStringLiteral("pw-chef"));
    EXPECT_EQ(chosen.at(1).AccountKind, atPOP3);
    EXPECT_EQ(chosen.at(1).POP3Server, QStringLiteral("pop.tls.de"));
    EXPECT_EQ(chosen.at(1).POP3UserName, QStringLiteral("bernd"));
    EXPECT_EQ(chosen.at(1).POP3Password, QStringLiteral("pw-bernd"));
    EXPECT_TRUE(chosen.at(1).POP3Secure);
    EXPECT_EQ(chosen.at(1).POP3Port, 995);
}

TEST_F(ImportWizardTest, WithoutAMozillaFolderTheProfilePageAsksForOne)
{
    start();
    auto w = wizard(); // an empty home folder
    w->mozRB->setChecked(true);
    w->NextBtn->click();
    ASSERT_EQ(w->CurrentPage(), W::pgMozProfile);
    EXPECT_EQ(w->MozFoldersCB->count(), 0);
    EXPECT_EQ(w->MozProfilesCB->count(), 0);
    w->NextBtn->click();
    EXPECT_EQ(w->CurrentPage(), W::pgMozProfile);
    EXPECT_EQ(texts(box), QStringList{QStringLiteral("Sie müssen einen Ordner und ein Profil wählen.")});
    w->PrevBtn->click();
    EXPECT_EQ(w->CurrentPage(), W::pgStart);
}

TEST_F(ImportWizardTest, ImportedAccountsJoinTheListUnlessTheyAreThereAlready)
{
    TPOP3AccountSettings existing = account(QStringLiteral("ANNA"), QStringLiteral("pop.example.de"));
    start({existing});
    auto dlg = listDialog();
    dlg->ImportHome = home.path();
    const QString reg = regFile();
    EXPECT_TRUE(dlg->OEImportBtn->isEnabled());

    // Cancelled: nothing.
    onNextDialog<W>([](W *w) { w->CancelBtn->click(); });
    dlg->OEImportBtn->click();
    EXPECT_EQ(dlg->ListedAccounts(), TPOP3Accounts{existing});

    onNextDialog<W>([&](W *w) {
        useRegFile(*w, reg);
        w->NextBtn->click();
        w->IdentitesCB->setCurrentIndex(1);
        w->NextBtn->click();
        w->NextBtn->click();
        typePasswords(*w, {QStringLiteral("pw-z"), QStringLiteral("pw-Z"), QStringLiteral("pw-anna"), QStringLiteral("pw-d")});
        w->NextBtn->click();
        w->NextBtn->click();
    });
    dlg->OEImportBtn->click();
    // The second of two logins that differ in case only, and the one the list holds already, are refused.
    EXPECT_EQ(texts(box),
              (QStringList{QStringLiteral("Das E-Mail-Konto Z@pop.zwei.de konnte nicht importiert werden, da es bereits vorhanden ist."),
                           QStringLiteral("Das E-Mail-Konto anna@pop.example.de konnte nicht importiert werden, da es bereits "
                                          "vorhanden ist.")}));
    EXPECT_EQ(box.shown.at(0).kind, MsgError);
    TCheckBoxGrid *grid = dlg->AccountsGrid;
    ASSERT_EQ(grid->RowCount(), 4);
    EXPECT_EQ(grid->Cell(0, 2), QStringLiteral("z@pop.zwei.de"));
    EXPECT_EQ(grid->Cell(0, 3), QStringLiteral("d@pop.dword.de"));
    EXPECT_TRUE(grid->GetChecked(0, 2));
    EXPECT_TRUE(grid->GetChecked(0, 3));
    EXPECT_TRUE(storedAccounts() == TPOP3Accounts{existing}) << "nothing is stored before \"Speichern\"";

    dlg->SaveBtn->click();
    TPOP3AccountSettings zwei;
    zwei.ServerName = QStringLiteral("pop.zwei.de");
    zwei.AccountName = QStringLiteral("z");
    zwei.Password = QStringLiteral("pw-z");
    // The secured account comes in as a TLS account on its own port.
    TPOP3AccountSettings secured;
    secured.ServerName = QStringLiteral("pop.dword.de");
    secured.Port = 995;
    secured.POP3Security = csSSLTLS;
    secured.AccountName = QStringLiteral("d");
    secured.Password = QStringLiteral("pw-d");
    const TPOP3Accounts expected{existing, zwei, secured};
    expectStored(expected);
}

TEST_F(ImportWizardTest, TheFirstStartReachesTheImportThroughTheMailboxQuestion)
{
    TRegistrySettings s;
    s.Load();
    s.Settings.FirstStart = true;
    s.Save();
    box.answerer = [](const RecordingMessageBox::Shown &shown) {
        return shown.text.startsWith(QStringLiteral("Möchten Sie jetzt ein POP3-Konto")) ? IDYES : IDNO;
    };
    TMain main(quietOptions());
    bool importEnabled = false, wizardShown = false;
    onNextDialog<TPOP3Cfg>([&](TPOP3Cfg *dlg) {
        importEnabled = dlg->OEImportBtn->isEnabled();
        onNextDialog<W>([&](W *w) {
            wizardShown = true;
            w->reject();
        });
        dlg->OEImportBtn->click();
        dlg->reject();
    });
    main.ShowMainWindow();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(importEnabled);
    EXPECT_TRUE(wizardShown);
    EXPECT_EQ(box.shown.size(), 4) << texts(box).join(QLatin1Char('|')).toStdString();
}

} // namespace
