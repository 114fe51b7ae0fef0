#include "AutoStart.h"
#include "CfgDlgUnit.h"
#include "ConnectionMonitorUnit.h"
#include "DesktopEntry.h"
#include "MainUnit.h"
#include "OAuthProviders.h"
#include "POP3Check.h"
#include "Paths.h"
#include "QtPrinters.h"
#include "RadioGroup.h"
#include "RegistrySettingsUnit.h"
#include "SpamFilterClassUnit.h"
#include "TestProfile.h"
#include "UIDStore.h"
#include "ZirpelSendClassUnit.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

TSimpleFilter rule(const char *text)
{
    TSimpleFilter r;
    r.Active = true;
    r.Kind = fkSubject;
    r.Operation = foContains;
    r.Text = QString::fromUtf8(text);
    return r;
}

// A private profile with stored settings, two rules in the data folder, and the objects the dialog
// works on; the connection monitor is active with the LAN type and counts its reports.
struct OptionsTest : ::testing::Test {
    TestProfile profile;
    RecordingMessageBox box;
    std::unique_ptr<TRegistrySettings> settings;
    std::unique_ptr<TSpamFilterClass> filters;
    std::unique_ptr<TConnectionMonitor> monitor;
    int online = 0, offline = 0;

    void SetUp() override
    {
        settings = std::make_unique<TRegistrySettings>();
        settings->Load();
        TProgramSettings &s = settings->Settings;
        s.ConnectionType = ctLAN;
        s.DataPath = profile.file(QStringLiteral("daten/"));
        s.POP3Check.EMailClient = QStringLiteral("/usr/bin/mailer --compose");
        s.SMSGateway.Username = QStringLiteral("anna");
        s.SMSGateway.Password = QStringLiteral("geheim");
        s.SMSGateway.HTTPS = true;
        s.SMSGateway.WithSenderAddress = true;
        s.SMSGateway.EMail2SMSOnlySubject = false;
        settings->Save();
        filters = std::make_unique<TSpamFilterClass>(*settings);
        filters->ReplaceFilters({rule("Gewinn"), rule("Pillen")});
        ASSERT_TRUE(filters->SaveFilters());
        monitor = std::make_unique<TConnectionMonitor>();
        monitor->OnOnline = [this](TConnectionMonitor *) { ++online; };
        monitor->OnOffline = [this](TConnectionMonitor *) { ++offline; };
        monitor->SetConnectionType(ctLAN);
        monitor->SetActive(true);
        online = offline = 0;
    }
    void TearDown() override
    {
        monitor->OnOnline = nullptr;
        monitor->OnOffline = nullptr;
        monitor->SetActive(false);
    }
    std::unique_ptr<TCfgDlg> dialog() { return std::make_unique<TCfgDlg>(*settings, *filters, *monitor); }
    // The settings as the store holds them now.
    TProgramSettings stored()
    {
        TRegistrySettings fresh;
        fresh.Load();
        return fresh.Settings;
    }
    QString oldRules() const { return profile.file(QStringLiteral("daten/Filters.dat")); }
    QString autoStartEntry() const { return profile.file(QStringLiteral("autostart/quarvel.desktop")); }
};

TEST_F(OptionsTest, ShowsTheStoredSettingsWithTheProductNameFilledIn)
{
    auto dlg = dialog();
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Programmkonfiguration"));
    ASSERT_EQ(dlg->Pages->count(), 4);
    EXPECT_EQ(dlg->Pages->tabText(0), QStringLiteral("Allgemein"));
    EXPECT_EQ(dlg->Pages->tabText(1), QStringLiteral("Weitere Einstellungen"));
    EXPECT_EQ(dlg->Pages->tabText(2), QStringLiteral("SMS-Versand"));
    EXPECT_EQ(dlg->Pages->tabText(3), QStringLiteral("Anmeldung"));
    EXPECT_EQ(dlg->Pages->currentIndex(), 0);
    EXPECT_EQ(dlg->AutoStartChkBox->text(), QStringLiteral("Quarvel bei jeder Anmeldung öffnen."));
    EXPECT_FALSE(dlg->AutoStartChkBox->isChecked());
    EXPECT_TRUE(dlg->DataFolderLabel->text().startsWith(QStringLiteral("Quarvel muss einige Datendateien")));
    EXPECT_TRUE(dlg->DataFolderLabel->text().contains(QStringLiteral("in dem Quarvel lesen, schreiben")));
    EXPECT_TRUE(dlg->EMailClientLabel->text().contains(QStringLiteral("damit Quarvel ein anderes öffnet")));
    for (QLabel *l : dlg->findChildren<QLabel *>())
        EXPECT_FALSE(l->text().contains(QLatin1Char('%'))) << l->text().toStdString();
    EXPECT_EQ(dlg->OKBtn->text(), QStringLiteral("OK"));
    EXPECT_EQ(dlg->CancelBtn->text(), QStringLiteral("Abbrechen"));

    EXPECT_TRUE(dlg->RB1->isChecked());
    EXPECT_EQ(dlg->RB3->text(), QStringLiteral(" Verbindungsaufbau über AVM FRITZ!web"));
    // Shown without its trailing '/'.
    EXPECT_EQ(dlg->MailDataPathEdit->text(), profile.file(QStringLiteral("daten")));
    EXPECT_EQ(dlg->EMailClientEdit->text(), QStringLiteral("/usr/bin/mailer --compose"));
    EXPECT_EQ(dlg->UsernameEdit->text(), QStringLiteral("anna"));
    EXPECT_EQ(dlg->PasswordEdit->text(), QStringLiteral("geheim"));
    EXPECT_EQ(dlg->PasswordEdit->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dlg->PasswordEdit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, dlg->PasswordEdit), '*');
    EXPECT_TRUE(dlg->HTTPSChkBox->isChecked());
    EXPECT_EQ(dlg->SMSSendOptionsRG->title(), QStringLiteral(" SMS-Versandart "));
    EXPECT_EQ(dlg->SMSSendOptionsRG->Item(1)->text(), QStringLiteral("mit eigenem Absender"));
    EXPECT_EQ(dlg->SMSSendOptionsRG->ItemIndex(), 1);
    EXPECT_EQ(dlg->EMail2SMSRG->ItemIndex(), 1);
    // No gateway is set up: the links have nowhere to go.
    EXPECT_FALSE(dlg->SignUpLink->isEnabled());

    // Each connection type selects its button; an unknown one selects none.
    const struct {
        quint8 type;
        bool rb1, rb2, rb3;
    } types[] = {{0, true, false, false}, {1, false, true, false}, {2, false, false, true}, {7, false, false, false}};
    for (const auto &t : types) {
        settings->Settings.ConnectionType = t.type;
        auto d = dialog();
        EXPECT_EQ(d->RB1->isChecked(), t.rb1) << int(t.type);
        EXPECT_EQ(d->RB2->isChecked(), t.rb2) << int(t.type);
        EXPECT_EQ(d->RB3->isChecked(), t.rb3) << int(t.type);
    }

    // The other values of the two groups, and the gateway's page behind the links.
    settings->Settings.SMSGateway.WithSenderAddress = false;
    settings->Settings.SMSGateway.EMail2SMSOnlySubject = true;
    TTheRegIniFile reg;
    reg.Area = kZirpelHostArea;
    reg.Section = kZirpelHostSection;
    reg.WriteString(kZirpelHostValue, QStringLiteral("sms.example.org"));
    auto d = dialog();
    EXPECT_EQ(d->SMSSendOptionsRG->ItemIndex(), 0);
    EXPECT_EQ(d->EMail2SMSRG->ItemIndex(), 0);
    EXPECT_TRUE(d->HomePageLink->isEnabled());
    EXPECT_TRUE(d->HomePageLink->text().contains(QStringLiteral("href=\"https://sms.example.org/\"")));
}

TEST_F(OptionsTest, OkStoresEachValueAndSwitchesTheMonitor)
{
    auto dlg = dialog();
    dlg->RB2->setChecked(true);
    dlg->EMailClientEdit->setText(QStringLiteral("/opt/post/post"));
    dlg->UsernameEdit->setText(QStringLiteral("bert"));
    dlg->PasswordEdit->setText(QStringLiteral("neu & geheim"));
    dlg->HTTPSChkBox->setChecked(false);
    dlg->SMSSendOptionsRG->SetItemIndex(0);
    dlg->EMail2SMSRG->SetItemIndex(0);
    // The copies of deleted mail: on by default, the limit only while they are.
    EXPECT_EQ(dlg->KeepCopiesChkBox->text(), QStringLiteral("Kopie gelöschter E-Mails 14 Tage aufbewahren"));
    EXPECT_TRUE(dlg->KeepCopiesChkBox->isChecked());
    EXPECT_EQ(dlg->CopyLimitEdit->value(), 512);
    dlg->CopyLimitEdit->setValue(2048);
    dlg->KeepCopiesChkBox->setChecked(false);
    EXPECT_FALSE(dlg->CopyLimitEdit->isEnabledTo(dlg.get()));
    QFile::remove(oldRules()); // an unchanged folder gets no new rule file
    dlg->OKBtn->click();
    EXPECT_EQ(dlg->result(), QDialog::Accepted);

    const TProgramSettings s = stored();
    EXPECT_EQ(s.ConnectionType, ctDialUp);
    EXPECT_EQ(s.DataPath, profile.file(QStringLiteral("daten/")));
    EXPECT_EQ(s.POP3Check.EMailClient, QStringLiteral("/opt/post/post"));
    EXPECT_EQ(s.SMSGateway.Username, QStringLiteral("bert"));
    EXPECT_EQ(s.SMSGateway.Password, QStringLiteral("neu & geheim"));
    EXPECT_FALSE(s.SMSGateway.HTTPS);
    EXPECT_FALSE(s.SMSGateway.WithSenderAddress);
    EXPECT_TRUE(s.SMSGateway.EMail2SMSOnlySubject);
    EXPECT_FALSE(s.KeepDeletedCopies);
    EXPECT_EQ(s.DeletedCopyLimitKB, 2048);
    EXPECT_EQ(settings->Settings.SMSGateway.Username, QStringLiteral("bert"));
    EXPECT_FALSE(QFileInfo::exists(oldRules()));

    // The LAN watcher reported offline as it was switched to dial-up.
    EXPECT_EQ(monitor->ConnectionType(), ctDialUp);
    EXPECT_TRUE(monitor->Active());
    EXPECT_EQ(offline, 1);
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST_F(OptionsTest, ThePageAnmeldungKeepsEachProvidersClientRegistration)
{
    SaveOAuthClient(kGoogleProvider, TOAuthClient{QStringLiteral("alt.apps.googleusercontent.com"), QStringLiteral("alt")});
    auto dlg = dialog();
    ASSERT_EQ(dlg->Pages->tabText(3), QStringLiteral("Anmeldung"));
    ASSERT_EQ(dlg->ClientIdEdits.size(), OAuthProviderNames().size());
    EXPECT_EQ(dlg->ClientIdEdits.at(0)->text(), QStringLiteral("alt.apps.googleusercontent.com"));
    EXPECT_EQ(dlg->ClientSecretEdits.at(0)->text(), QStringLiteral("alt"));
    EXPECT_TRUE(dlg->ClientIdEdits.at(1)->text().isEmpty());

    dlg->ClientIdEdits.at(0)->setText(QStringLiteral(" 123-abc.apps.googleusercontent.com "));
    dlg->ClientSecretEdits.at(0)->setText(QStringLiteral("GOCSPX-geheim"));
    dlg->ClientIdEdits.at(1)->setText(QStringLiteral("0f1e2d3c-aaaa-bbbb-cccc-123456789abc"));
    dlg->OKBtn->click();
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(LoadOAuthClient(kGoogleProvider),
              (TOAuthClient{QStringLiteral("123-abc.apps.googleusercontent.com"), QStringLiteral("GOCSPX-geheim")}));
    EXPECT_EQ(LoadOAuthClient(kMicrosoftProvider),
              (TOAuthClient{QStringLiteral("0f1e2d3c-aaaa-bbbb-cccc-123456789abc"), QString()}));

    // "Abbrechen" keeps what was stored.
    auto again = dialog();
    again->ClientIdEdits.at(0)->clear();
    again->CancelBtn->click();
    EXPECT_EQ(LoadOAuthClient(kGoogleProvider).ClientId, QStringLiteral("123-abc.apps.googleusercontent.com"));
}

TEST_F(OptionsTest, AChangedDataFolderGetsTheRulesAtOnce)
{
    const QByteArray rules = readAll(oldRules());
    const QString workingFolder = QDir::currentPath();
    QDir::setCurrent(profile.path());
    const struct {
        const char *name;
        QString typed;
        QString dataPath; // afterwards; empty: unchanged
    } cases[] = {
        {"a new nested folder", profile.file(QStringLiteral("neu/tief")), profile.file(QStringLiteral("neu/tief/"))},
        {"letter case alone", profile.file(QStringLiteral("Daten")), profile.file(QStringLiteral("Daten/"))},
        {"a relative folder", QStringLiteral("rel/daten"), profile.file(QStringLiteral("rel/daten/"))},
    };
    for (const auto &c : cases) {
        settings->Settings.DataPath = profile.file(QStringLiteral("daten/"));
        auto dlg = dialog();
        dlg->MailDataPathEdit->setText(c.typed);
        dlg->OKBtn->click();
        EXPECT_EQ(stored().DataPath, c.dataPath) << c.name;
        EXPECT_EQ(readAll(c.dataPath + QStringLiteral("Filters.dat")), rules) << c.name;
        EXPECT_EQ(readAll(oldRules()), rules) << c.name << ": the old file stays";
    }
    QDir::setCurrent(workingFolder);
    EXPECT_TRUE(box.shown.isEmpty());

    // The same folder typed with its '/', or an empty field: nothing moves.
    for (const QString &typed : {profile.file(QStringLiteral("daten/")), QString()}) {
        settings->Settings.DataPath = profile.file(QStringLiteral("daten"));
        QFile::remove(oldRules());
        auto dlg = dialog();
        dlg->MailDataPathEdit->setText(typed);
        dlg->OKBtn->click();
        EXPECT_EQ(stored().DataPath, profile.file(QStringLiteral("daten"))) << typed.toStdString();
        EXPECT_FALSE(QFileInfo::exists(oldRules())) << typed.toStdString();
    }
}

TEST_F(OptionsTest, AFolderThatCannotTakeTheRulesKeepsTheOldOne)
{
    writeFile(profile.file(QStringLiteral("blocked")), "a file, not a folder");
    auto dlg = dialog();
    dlg->MailDataPathEdit->setText(profile.file(QStringLiteral("blocked/daten")));
    dlg->UsernameEdit->setText(QStringLiteral("carla"));
    dlg->OKBtn->click();
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown.at(0).text, kFilterSaveError);
    const TProgramSettings s = stored();
    EXPECT_EQ(s.DataPath, profile.file(QStringLiteral("daten/")));
    EXPECT_EQ(s.SMSGateway.Username, QStringLiteral("carla")); // the rest is saved all the same
    EXPECT_EQ(filters->FilterFileName(), oldRules());
}

// A failed save is no silent loss: the user is told, and the dialog stays open to try again.
TEST_F(OptionsTest, AStoreThatCannotBeWrittenIsReportedAndTheDialogStaysOpen)
{
    RUN_UNPRIVILEGED_WHEN_ROOT();
    const QString hive = platform::registryFile(platform::RegRoot::CurrentUser);
    // The store objects opened from now on find the file read-only.
    filters.reset();
    settings.reset();
    ASSERT_TRUE(QFile::setPermissions(hive, QFile::ReadOwner));
    settings = std::make_unique<TRegistrySettings>();
    settings->Load();
    filters = std::make_unique<TSpamFilterClass>(*settings);

    auto dlg = dialog();
    dlg->show();
    dlg->UsernameEdit->setText(QStringLiteral("carla"));
    dlg->OKBtn->click();
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown.at(0).text, kSettingsNotSavedText.arg(hive));
    EXPECT_EQ(box.shown.at(0).kind, MsgError);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->UsernameEdit->text(), QStringLiteral("carla"));

    ASSERT_TRUE(QFile::setPermissions(hive, QFile::ReadOwner | QFile::WriteOwner));
    EXPECT_EQ(stored().SMSGateway.Username, QStringLiteral("anna"));
}

TEST_F(OptionsTest, AbbrechenKeepsOnlyTheAutostartChange)
{
    {
        auto dlg = dialog();
        dlg->AutoStartChkBox->click();
        EXPECT_TRUE(QFileInfo::exists(autoStartEntry()));
        EXPECT_EQ(platform::DesktopExecArguments(platform::ReadDesktopExec(autoStartEntry())),
                  QStringList{platform::programFile()});
        dlg->RB3->setChecked(true);
        dlg->MailDataPathEdit->setText(profile.file(QStringLiteral("anderswo")));
        dlg->UsernameEdit->setText(QStringLiteral("dora"));
        dlg->CancelBtn->click();
        EXPECT_EQ(dlg->result(), QDialog::Rejected);
    }
    const TProgramSettings s = stored();
    EXPECT_EQ(s.ConnectionType, ctLAN);
    EXPECT_EQ(s.DataPath, profile.file(QStringLiteral("daten/")));
    EXPECT_EQ(s.SMSGateway.Username, QStringLiteral("anna"));
    EXPECT_EQ(settings->Settings.SMSGateway.Username, QStringLiteral("anna"));
    EXPECT_FALSE(QFileInfo::exists(profile.file(QStringLiteral("anderswo"))));
    EXPECT_EQ(monitor->ConnectionType(), ctLAN);
    EXPECT_EQ(offline, 0);

    // Reopened, the box is ticked; unticking removes the entry at once.
    auto dlg = dialog();
    EXPECT_TRUE(dlg->AutoStartChkBox->isChecked());
    dlg->AutoStartChkBox->click();
    EXPECT_FALSE(QFileInfo::exists(autoStartEntry()));
    EXPECT_FALSE(dialog()->AutoStartChkBox->isChecked());
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST_F(OptionsTest, AnotherCopysEntryShowsUntickedAndIsReplaced)
{
    writeFile(autoStartEntry(), "[Desktop Entry]\nType=Application\nExec=/opt/alt/quarvel\n");
    auto dlg = dialog();
    EXPECT_FALSE(dlg->AutoStartChkBox->isChecked());
    dlg->AutoStartChkBox->click();
    EXPECT_EQ(platform::ReadDesktopExec(autoStartEntry()), platform::programFile());
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST_F(OptionsTest, AutostartErrorsShowTheirBoxAndTheBoxKeepsItsState)
{
    // The autostart folder cannot be made: a file has its name.
    writeFile(profile.file(QStringLiteral("autostart")), "not a folder");
    auto dlg = dialog();
    dlg->AutoStartChkBox->click();
    EXPECT_TRUE(dlg->AutoStartChkBox->isChecked());
    // Unticking finds no entry to remove.
    dlg->AutoStartChkBox->click();
    EXPECT_FALSE(dlg->AutoStartChkBox->isChecked());
    ASSERT_EQ(box.shown.size(), 2);
    const QString folder = platform::UserAutoStartFolder();
    EXPECT_EQ(box.shown.at(0).text, kAutoStartWriteError.arg(5).arg(folder));
    EXPECT_TRUE(box.shown.at(0).text.startsWith(QStringLiteral("Eintrag konnte nicht in den Autostart eingefügt werden. Fehlercode: 5.\r\n\r\n")));
    EXPECT_EQ(box.shown.at(1).text, kAutoStartRemoveError.arg(5).arg(folder));
    for (const auto &shown : box.shown) {
        EXPECT_EQ(shown.caption, QStringLiteral("Quarvel"));
        EXPECT_EQ(shown.kind, MsgError);
        EXPECT_EQ(shown.buttons, BtnOK);
    }

    // Writing the entry itself fails: the system's code is shown.
    QFile::remove(profile.file(QStringLiteral("autostart")));
    QDir().mkpath(autoStartEntry());
    dlg->AutoStartChkBox->click();
    ASSERT_EQ(box.shown.size(), 3);
    EXPECT_EQ(box.shown.at(2).text, kAutoStartWriteError.arg(EISDIR).arg(folder));
}

TEST_F(OptionsTest, ChoosersFillTheirFields)
{
    const QString desktop = profile.file(QStringLiteral("apps/post.desktop"));
    writeFile(desktop, "[Desktop Entry]\nType=Application\nName=Post\nExec=/opt/post/post -compose %u\n");
    const QString noExec = profile.file(QStringLiteral("apps/leer.desktop"));
    writeFile(noExec, "[Desktop Entry]\nType=Application\nName=Leer\n");
    QString answer;
    QStringList asked;
    auto dlg = dialog();
    dlg->ChooseFolder = dlg->ChooseProgram = [&](const QString &current) {
        asked << current;
        return answer;
    };
    const struct {
        const char *name;
        QString answer;
        QString field;
    } programs[] = {
        {"a desktop entry gives its command", desktop, QStringLiteral("/opt/post/post -compose")},
        {"an entry without Exec stays a file", noExec, noExec},
        {"a program gives its path", QStringLiteral("/usr/bin/post"), QStringLiteral("/usr/bin/post")},
        {"cancelled", QString(), QStringLiteral("/usr/bin/post")},
    };
    for (const auto &c : programs) {
        answer = c.answer;
        dlg->EMailClientBtnClick();
        EXPECT_EQ(dlg->EMailClientEdit->text(), c.field) << c.name;
    }
    EXPECT_EQ(asked.first(), QStringLiteral("/usr/bin/mailer --compose"));

    answer = profile.file(QStringLiteral("gewählt"));
    dlg->MailDataPathBtn->click();
    EXPECT_EQ(dlg->MailDataPathEdit->text(), answer);
    EXPECT_EQ(asked.last(), profile.file(QStringLiteral("daten")));
    answer.clear();
    dlg->MailDataPathBtnClick();
    EXPECT_EQ(dlg->MailDataPathEdit->text(), profile.file(QStringLiteral("gewählt")));
}

TEST(ProgramChooser, OffersFoldersProgramsAndDesktopEntries)
{
    TestProfile profile;
    writeFile(profile.file(QStringLiteral("prog")), "#!/bin/sh\n");
    QFile::setPermissions(profile.file(QStringLiteral("prog")), QFile::ReadOwner | QFile::ExeOwner);
    writeFile(profile.file(QStringLiteral("text.txt")), "x");
    writeFile(profile.file(QStringLiteral("mail.exe")), "MZ");
    writeFile(profile.file(QStringLiteral("post.desktop")), "[Desktop Entry]\n");
    const struct {
        const char *name;
        bool offered;
    } files[] = {{"", true}, {"prog", true}, {"post.desktop", true}, {"text.txt", false}, {"mail.exe", false}};
    for (const auto &f : files)
        EXPECT_EQ(IsProgramChoice(QFileInfo(profile.file(QString::fromUtf8(f.name)))), f.offered) << f.name;
}

TEST_F(OptionsTest, EnterInAFieldMovesOnInsteadOfClosing)
{
    auto dlg = dialog();
    dlg->Pages->setCurrentIndex(2);
    dlg->show();
    QApplication::setActiveWindow(dlg.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    dlg->UsernameEdit->setFocus();
    QTest::keyClick(dlg->UsernameEdit, Qt::Key_Return);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), dlg->PasswordEdit);
    EXPECT_EQ(stored().SMSGateway.Username, QStringLiteral("anna"));
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
}

TEST(OptionsFromTheMainWindow, BothCommandsOpenTheDialogAndOkSwitchesTheMonitor)
{
    TestProfile profile;
    RecordingMessageBox box;
    {
        TRegistrySettings s;
        s.Load();
        s.Settings.FirstStart = false;
        s.Save();
    }
    TMainOptions options;
    options.TrayAvailable = [] { return true; };
    options.AdjustPop3 = [](TPop3Options &p) { p.FirstWakeMs = p.WakeMs = 3600 * 1000; };
    TMain main(options);
    EXPECT_EQ(main.actConfig->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    int opened = 0;
    for (QAction *a : {main.actConfig, main.actTrayConfig}) {
        ASSERT_TRUE(a->isEnabled()) << a->text().toStdString();
        QTimer::singleShot(0, [&] {
            auto *dlg = qobject_cast<TCfgDlg *>(QApplication::activeModalWidget());
            ASSERT_NE(dlg, nullptr);
            ++opened;
            main.actTrayConfig->trigger(); // no second dialog on top of the first
            EXPECT_EQ(QApplication::activeModalWidget(), dlg);
            dlg->RB3->setChecked(true);
            dlg->OKBtn->click();
        });
        a->trigger();
        EXPECT_EQ(main.Monitor().ConnectionType(), ctISDN);
        main.Monitor().SetConnectionType(ctLAN);
    }
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(main.Settings().Settings.ConnectionType, ctISDN);
}

// The known messages move with the rules: otherwise the next start, reading the new folder, would announce
// every waiting message again (one SMS each).
TEST(OptionsFromTheMainWindow, TheKnownMessagesMoveWithTheDataFolder)
{
    TestProfile profile;
    RecordingMessageBox box;
    const QString before = profile.file(QStringLiteral("vorher"));
    const QString after = profile.file(QStringLiteral("nachher"));
    {
        TRegistrySettings s;
        s.Load();
        s.Settings.FirstStart = false;
        s.Settings.DataPath = before;
        ASSERT_TRUE(s.Save());
    }
    const QStringList known{QStringLiteral("<a@example.test>"), QStringLiteral("<b@example.test>")};
    ASSERT_TRUE(QDir().mkpath(before));
    ASSERT_TRUE(WriteUIDFile(before + QStringLiteral("/uids.dat"), known));
    TMainOptions options;
    options.AdjustPop3 = [](TPop3Options &p) { p.FirstWakeMs = p.WakeMs = 3600 * 1000; };
    const QString later = QStringLiteral("<c@example.test>");
    {
        TMain main(options);
        ASSERT_EQ(main.Checker().KnownUIDs, known);
        QTimer::singleShot(0, [&] {
            auto *dlg = qobject_cast<TCfgDlg *>(QApplication::activeModalWidget());
            ASSERT_NE(dlg, nullptr);
            dlg->MailDataPathEdit->setText(after);
            dlg->OKBtn->click();
        });
        main.actConfig->trigger();
        // At once beside the rules, so that a crash before the end loses nothing.
        EXPECT_TRUE(QFile::exists(after + QStringLiteral("/Filters.dat")));
        EXPECT_EQ(ReadUIDFile(after + QStringLiteral("/uids.dat")), known);
        main.Checker().KnownUIDs.append(later); // a message seen after the change
    }
    // The end of the run writes to the new folder; the old one keeps its file as it was.
    EXPECT_EQ(ReadUIDFile(after + QStringLiteral("/uids.dat")), known + QStringList{later});
    EXPECT_EQ(ReadUIDFile(before + QStringLiteral("/uids.dat")), known);
    TMain again(options);
    EXPECT_EQ(again.Settings().Settings.DataPath, after + QLatin1Char('/'));
    EXPECT_EQ(again.Checker().KnownUIDs, known + QStringList{later});
    EXPECT_TRUE(box.shown.isEmpty());
}

} // namespace
