// The account editor's login test and the mailbox list dialog against a private Dovecot, through the real
// main window and its coordinator.
#include "AccountDialogsFixture.h"
#include "CheckBoxGrid.h"
#include "DelayProxy.h"
#include "JobWaitDialog.h"
#include "MainDovecotFixture.h"
#include "ModalDriver.h"
#include "POP3AccountsCfgUnit.h"
#include "POP3CfgUnit.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTcpServer>
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
        bool imap;
        bool passed;
        const char *errorPart; // in the error box
    } cases[] = {
        {"right password", 0, true, false, false, true, ""},
        {"right password with APOP", 0, true, true, false, true, ""},
        {"wrong password", 0, false, false, false, false, "Authentication failed"},
        {"server down", down, true, false, false, false, ""},
        {"IMAP", 0, true, false, true, true, ""},
        {"IMAP with a wrong password", 0, false, false, true, false, "Authentication failed"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        box.shown.clear();
        TPOP3AccountsCfg dlg(main.Checker());
        dlg.show();
        dlg.AccountTypeCB->setCurrentIndex(c.imap ? atIMAP : atPOP3);
        const quint16 port = c.imap ? server->imapPort() : server->port();
        fillIncoming(dlg, server->host(), c.port ? c.port : port, user,
                     c.rightPassword ? QStringLiteral("pw-") + user : QStringLiteral("falsch"));
        dlg.APOPChkBox->setChecked(c.apop);
        dlg.TestBtn->click();
        settle(main);

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
            // The server's text and the reply code (POP3 and IMAP replies carry none: 0).
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

// The wait window of the login test over the editor, or null.
TJobWaitDialog *testWaitWindow(const TPOP3AccountsCfg &dlg)
{
    return dlg.findChild<TJobWaitDialog *>();
}

TEST_F(MainDovecotTest, WhileTheLoginTestWaitsTheEditorTakesNoOtherCommand)
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

    dlg.TestBtnClick();
    ASSERT_TRUE(main.Checker().OperationRunning());
    TJobWaitDialog *wait = testWaitWindow(dlg);
    ASSERT_NE(wait, nullptr);
    EXPECT_TRUE(wait->isVisible());
    EXPECT_EQ(wait->Text(), kTestWaitText);
    EXPECT_TRUE(wait->CancelButton()->isEnabled());
    EXPECT_FALSE(dlg.TestBtn->isEnabled());
    EXPECT_FALSE(dlg.OKBtn->isEnabled());
    EXPECT_FALSE(main.actCheck->isEnabled());
    EXPECT_FALSE(main.actAccounts->isEnabled());
    // Neither closing nor OK pull the editor from under its test.
    dlg.reject();
    dlg.OKBtnClick();
    EXPECT_TRUE(dlg.isVisible());
    settle(main);

    EXPECT_FALSE(dlg.Accepted());
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown.at(0).text, QStringLiteral("Die Angaben zum E-Mail-Konto sind korrekt."));
    EXPECT_TRUE(dlg.TestBtn->isEnabled());
    EXPECT_TRUE(main.actCheck->isEnabled());
    EXPECT_TRUE(processEventsUntil([&] { return testWaitWindow(dlg) == nullptr; }));
}

TEST_F(MainDovecotTest, AbbrechenEndsALoginTestAgainstASilentServerAtOnce)
{
    writeProfile({});
    TMain main(options(false)); // a connect or a reply may take 10 s
    // Accepts the connection and never says a word.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    TPOP3AccountsCfg dlg(main.Checker());
    dlg.show();
    fillIncoming(dlg, QStringLiteral("127.0.0.1"), silent.serverPort(), QStringLiteral("niemand"), QStringLiteral("pw"));

    dlg.TestBtnClick();
    TJobWaitDialog *wait = testWaitWindow(dlg);
    ASSERT_NE(wait, nullptr);
    ASSERT_TRUE(processEventsUntil([&] { return silent.hasPendingConnections(); }));
    QElapsedTimer took;
    took.start();
    wait->CancelButton()->click();
    settle(main);

    // Well before the server's time-out: the job gave up when asked.
    EXPECT_LT(took.elapsed(), 5000);
    EXPECT_TRUE(box.shown.isEmpty()) << box.shown.value(0).text.toStdString();
    EXPECT_TRUE(dlg.TestBtn->isEnabled());
    EXPECT_TRUE(dlg.OKBtn->isEnabled());
    EXPECT_TRUE(processEventsUntil([&] { return testWaitWindow(dlg) == nullptr; }));
}

TEST_F(MainDovecotTest, AMailboxAddedInTheDialogIsCheckedAtTheNextManualCheck)
{
    mailbox(QStringLiteral("alt"), {"alt1", "alt2"});
    mailbox(QStringLiteral("neu"), {"neu1"});
    writeProfile({QStringLiteral("alt")});
    TMain main(options(false));
    main.ManualCheck();
    settle(main);
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
    settle(main);
    EXPECT_EQ(listed(main), (QStringList{QStringLiteral("1:alt1"), QStringLiteral("2:alt2"), QStringLiteral("1:neu1")}));

    // A mailbox switched off in the list is left out of the next check.
    onNextDialog<TPOP3Cfg>([&](TPOP3Cfg *dlg) {
        dlg->AccountsGrid->SetChecked(0, 1, false);
        dlg->SaveBtn->click();
    });
    main.actAccounts->trigger();
    main.ManualCheck();
    settle(main);
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
    settle(main);
    EXPECT_EQ(listed(main), (QStringList{QStringLiteral("1:tb1"), QStringLiteral("2:tb2")}));
    EXPECT_TRUE(box.shown.isEmpty()) << box.shown.at(0).text.toStdString();
}

} // namespace
