// The account editor's login test and the mailbox list dialog against a private Dovecot, through the real
// main window and its coordinator.
#include "AccountDialogsFixture.h"
#include "CheckBoxGrid.h"
#include "DelayProxy.h"
#include "MainDovecotFixture.h"
#include "ModalDriver.h"
#include "POP3AccountsCfgUnit.h"
#include "POP3CfgUnit.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

namespace {

void fillIncoming(TPOP3AccountsCfg &dlg, const QString &host, quint16 port, const QString &user,
                  const QString &password)
{
    dlg.POP3ServerAddressEdit->setText(host);
    dlg.POP3PortEdit->setText(QString::number(port));
    dlg.KontoNameEdit->setText(user);
    dlg.PasswordEdit->setText(password);
}

TEST_F(MainDovecotTest, TheLoginTestReportsWhetherTheSettingsWork)
{
    const QString user = testUser();
    mailbox(user, {"t1"});
    writeProfile({});
    TMain main(options(false));
    const quint16 down = freeLoopbackPort();
    ASSERT_NE(down, 0);
    const struct {
        const char *name;
        quint16 port;
        bool rightPassword;
        bool apop;
        bool passed;
        const char *errorPart; // in the error box
    } cases[] = {
        {"right password", 0, true, false, true, ""},
        {"right password with APOP", 0, true, true, true, ""},
        {"wrong password", 0, false, false, false, "Authentication failed"},
        {"server down", down, true, false, false, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        box.shown.clear();
        TPOP3AccountsCfg dlg(main.Checker());
        dlg.show();
        fillIncoming(dlg, server->host(), c.port ? c.port : server->port(), user,
                     c.rightPassword ? QStringLiteral("pw-") + user : QStringLiteral("falsch"));
        dlg.APOPChkBox->setChecked(c.apop);
        dlg.TestBtn->click();

        ASSERT_EQ(box.shown.size(), 1);
        const auto &shown = box.shown.at(0);
        if (c.passed) {
            EXPECT_EQ(shown.kind, MsgInformation);
            EXPECT_EQ(shown.text, QStringLiteral("Die Angaben zum E-Mail-Konto sind korrekt."));
        } else {
            EXPECT_EQ(shown.kind, MsgError);
            EXPECT_TRUE(shown.text.startsWith(QStringLiteral("Die Angaben zum E-Mail-Konto sind NICHT korrekt. Fehler ")))
                << shown.text.toStdString();
            EXPECT_TRUE(shown.text.contains(QString::fromLatin1(c.errorPart))) << shown.text.toStdString();
            // The server's text and the reply code (POP3 replies carry none: 0).
            EXPECT_TRUE(shown.text.endsWith(QStringLiteral(" Fehlercode 0"))) << shown.text.toStdString();
            EXPECT_FALSE(shown.text.contains(QStringLiteral("Fehler  Fehlercode"))) << "an error text is given";
        }
        // A test changes nothing and closes nothing.
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_FALSE(dlg.Accepted());
        EXPECT_TRUE(dlg.TestBtn->isEnabled());
        EXPECT_TRUE(dlg.OKBtn->isEnabled());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_FALSE(main.Checker().OperationRunning());
    }
    EXPECT_EQ(server->messageIds(user).size(), 1);
}

TEST_F(MainDovecotTest, WhileTheLoginTestWaitsTheEditorRepaintsButTakesNoOtherCommand)
{
    const QString user = testUser();
    mailbox(user, {"w1"});
    writeProfile({user});
    testservers::DelayProxy proxy(server->port(), 150);
    QString error;
    ASSERT_TRUE(proxy.Start(&error)) << error.toStdString();
    TMain main(options(false));
    TPOP3AccountsCfg dlg(main.Checker());
    dlg.show();
    fillIncoming(dlg, server->host(), proxy.Port(), user, QStringLiteral("pw-") + user);

    bool sampled = false, testBtn = true, okBtn = true, checkCmd = true, accountsCmd = true, closed = true, busyCursor = false;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    QTimer::singleShot(300, &dlg, [&] {
        sampled = main.Checker().OperationRunning();
        testBtn = dlg.TestBtn->isEnabled();
        okBtn = dlg.OKBtn->isEnabled();
        checkCmd = main.actCheck->isEnabled();
        accountsCmd = main.actAccounts->isEnabled();
        busyCursor = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        dlg.reject();
        dlg.OKBtnClick();
        closed = !dlg.isVisible();
    });
    dlg.TestBtnClick();

    ASSERT_TRUE(sampled) << "the test was over before the timer";
    EXPECT_GT(ticks, 5) << "the window's events ran meanwhile";
    EXPECT_FALSE(testBtn);
    EXPECT_FALSE(okBtn);
    EXPECT_FALSE(checkCmd);
    EXPECT_FALSE(accountsCmd);
    EXPECT_TRUE(busyCursor);
    EXPECT_FALSE(closed);
    EXPECT_FALSE(dlg.Accepted());
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown.at(0).text, QStringLiteral("Die Angaben zum E-Mail-Konto sind korrekt."));
    EXPECT_TRUE(dlg.TestBtn->isEnabled());
    EXPECT_TRUE(main.actCheck->isEnabled());
}

TEST_F(MainDovecotTest, AMailboxAddedInTheDialogIsCheckedAtTheNextManualCheck)
{
    mailbox(QStringLiteral("alt"), {"alt1", "alt2"});
    mailbox(QStringLiteral("neu"), {"neu1"});
    writeProfile({QStringLiteral("alt")});
    TMain main(options(false));
    main.ManualCheck();
    EXPECT_EQ(listed(main), (QStringList{QStringLiteral("1:alt1"), QStringLiteral("2:alt2")}));

    onNextDialog<TPOP3Cfg>([&](TPOP3Cfg *dlg) {
        declineNextAssistant();
        onNextDialog<TPOP3AccountsCfg>([&](TPOP3AccountsCfg *ed) {
            fillIncoming(*ed, server->host(), server->port(), QStringLiteral("neu"), QStringLiteral("pw-neu"));
            ed->OKBtn->click();
        });
        dlg->AddAccountBtn->click();
        dlg->SaveBtn->click();
    });
    main.actAccounts->trigger();
    ASSERT_EQ(main.Checker().Accounts.size(), 2);
    main.ManualCheck();
    EXPECT_EQ(listed(main), (QStringList{QStringLiteral("1:alt1"), QStringLiteral("2:alt2"), QStringLiteral("1:neu1")}));

    // A mailbox switched off in the list is left out of the next check.
    onNextDialog<TPOP3Cfg>([&](TPOP3Cfg *dlg) {
        dlg->AccountsGrid->SetChecked(0, 1, false);
        dlg->SaveBtn->click();
    });
    main.actAccounts->trigger();
    main.ManualCheck();
    EXPECT_EQ(listed(main), QStringList{QStringLiteral("1:neu1")});
    EXPECT_TRUE(box.shown.isEmpty()) << box.shown.at(0).text.toStdString();
}

TEST_F(MainDovecotTest, AnAccountImportedFromThunderbirdIsCheckedAtTheNextManualCheck)
{
    mailbox(QStringLiteral("tb"), {"tb1", "tb2"});
    writeProfile({});
    QTemporaryDir home;
    writeThunderbird(home.path(), {{QStringLiteral("default"), QStringLiteral("x.default"),
                                    pop3Prefs(1, QStringLiteral("Vom Thunderbird"), server->host(), server->port(),
                                              QStringLiteral("tb"))}});
    TMain main(options(false));
    onNextDialog<TPOP3Cfg>([&](TPOP3Cfg *dlg) {
        dlg->ImportHome = home.path();
        onNextDialog<TOEOutlookImportDlg>([](TOEOutlookImportDlg *w) {
            w->mozRB->setChecked(true);
            w->NextBtn->click(); // the profile page
            w->NextBtn->click(); // its accounts, all ticked: on to the passwords
            typePasswords(*w, {QStringLiteral("pw-tb")});
            w->NextBtn->click();
            w->NextBtn->click(); // "Fertig stellen"
        });
        dlg->OEImportBtn->click();
        dlg->SaveBtn->click();
    });
    main.actAccounts->trigger();
    ASSERT_EQ(main.Checker().Accounts.size(), 1);
    main.ManualCheck();
    EXPECT_EQ(listed(main), (QStringList{QStringLiteral("1:tb1"), QStringLiteral("2:tb2")}));
    EXPECT_TRUE(box.shown.isEmpty()) << box.shown.at(0).text.toStdString();
}

} // namespace
