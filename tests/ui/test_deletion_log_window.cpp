// The window "Gelöschte E-Mails" on the offscreen platform: the records newest first with their texts, the
// search over sender and subject, "Regel bearbeiten…" opening the editor on the rule, "Wiederherstellen…"
// and "Absender nie als Spam"; and the notices' line about what is new in the log.
#include "CheckBoxGrid.h"
#include "DeletionLogWindow.h"
#include "FilterRules.h"
#include "MailDeletion.h"
#include "MainUnit.h"
#include "ModalDriver.h"
#include "Notices.h"
#include "POP3Check.h"
#include "ProgressWindows.h"
#include "QuietMainOptions.h"
#include "RegistrySettingsUnit.h"
#include "RescueCopies.h"
#include "SPAMFilterDlgUnit.h"
#include "SpamFilterClassUnit.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>

#include <memory>

namespace {

const TSimpleFilter kGewinn = NewSubjectFilter(foContains, QStringLiteral("Gewinn"));
const TSimpleFilter kRelay = NewHeaderFieldFilter(QStringLiteral("Received"), foContains, QStringLiteral("evil.test"));

// The record of a message from sender ("Name <address>" or an address) with that subject.
TDeletionRecord record(const QByteArray &sender, const QByteArray &subject, const TSimpleFilter *rule)
{
    TMailEntry e;
    e.Message.FillFromHeader("From: " + sender + "\r\nSubject: " + subject + "\r\n");
    e.UserName = QStringLiteral("anna");
    e.Host = QStringLiteral("pop.example.test");
    e.Size = 2048;
    return DeletionRecordOf(e, rule ? TDeletionHow::Automatic : TDeletionHow::ByHand, rule);
}

// The main window on a profile without mailboxes, its rules, and records in its deletion log: the
// first is completed with a copy, the second failed, the third deleted without a copy.
class DeletionLogWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TRegistrySettings s;
        s.Load();
        s.Settings.FirstStart = false;
        s.Save();
        {
            TSpamFilterClass store(s);
            store.ReplaceFilters({kGewinn, kRelay});
            ASSERT_TRUE(store.SaveFilters());
        }
        main = std::make_unique<TMain>(quietOptions());
        records = {record("Gewinnspiel <win@lotto.example>", "Sie haben gewonnen", &kGewinn),
                   record("relay@evil.test", "Rechnung 4711", &kRelay),
                   record("Anna <anna@example.test>", "Urlaubsfotos", nullptr)};
        TDeletionLog &log = main->Checker().DeletionLog();
        ASSERT_TRUE(log.Begin(records));
        records[0].Outcome = TDeletionOutcome::Deleted;
        records[0].CopyFile = QStringLiteral("copy-1.eml");
        records[1].Outcome = TDeletionOutcome::Failed;
        records[1].Reason = QStringLiteral("-ERR gesperrt");
        records[2].Outcome = TDeletionOutcome::Deleted;
        records[2].CopyNote = QStringLiteral("keine Kopie: größer als 512 KB");
        ASSERT_TRUE(log.Finish(records));
        copy = main->Checker().RescueCopyFolder() + records[0].CopyFile;
        QString error;
        ASSERT_TRUE(WriteRescueCopy(main->Checker().RescueCopyFolder(), records[0].CopyFile,
                                    "Subject: Sie haben gewonnen\r\n\r\nText\r\n", &error));
    }

    TDeletionLogWindow &window()
    {
        main->OpenDeletionLog();
        EXPECT_NE(main->DeletionLogWindow(), nullptr);
        return *main->DeletionLogWindow();
    }

    int rowOf(TDeletionLogWindow &w, const QString &subject)
    {
        for (int row = 0; row < w.RowCount(); ++row)
            if (w.RecordAt(row)->Subject == subject)
                return row;
        return -1;
    }

    TestProfile profile;
    RecordingMessageBox box{IDYES};
    std::unique_ptr<TMain> main;
    QList<TDeletionRecord> records;
    QString copy;
};

TEST_F(DeletionLogWindowTest, ShowsTheRecordsNewestFirstAndSearchesSenderAndSubject)
{
    TDeletionLogWindow &w = window();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Gelöschte E-Mails"));
    EXPECT_TRUE(w.isVisible());
    ASSERT_EQ(w.RowCount(), 3);
    EXPECT_EQ(w.RecordAt(0)->Subject, QStringLiteral("Urlaubsfotos"));
    EXPECT_EQ(w.RecordAt(2)->Subject, QStringLiteral("Sie haben gewonnen"));
    const struct {
        int row;
        int column;
        const char *text;
    } cells[] = {
        {0, TDeletionLogWindow::colSender, "Anna <anna@example.test>"},
        {0, TDeletionLogWindow::colHow, "von Hand"},
        {0, TDeletionLogWindow::colRule, "von Hand"},
        {0, TDeletionLogWindow::colOutcome, "gelöscht"},
        {0, TDeletionLogWindow::colCopy, "keine Kopie: größer als 512 KB"},
        {0, TDeletionLogWindow::colSize, "2 KB"},
        {1, TDeletionLogWindow::colSender, "relay@evil.test"},
        {1, TDeletionLogWindow::colRule, "Received enthält den Text \"evil.test\""},
        {1, TDeletionLogWindow::colOutcome, "fehlgeschlagen: -ERR gesperrt"},
        {2, TDeletionLogWindow::colHow, "automatisch"},
        {2, TDeletionLogWindow::colRule, "enthält den Betreff \"Gewinn\""},
        {2, TDeletionLogWindow::colCopy, "vorhanden"},
        {2, TDeletionLogWindow::colAccount, "anna@pop.example.test"},
    };
    for (const auto &c : cells)
        EXPECT_EQ(w.CellText(c.row, c.column), QString::fromUtf8(c.text)) << c.row << "/" << c.column;
    EXPECT_EQ(w.CountLabel()->text(), QStringLiteral("3 von 3 Einträgen"));

    // The search looks at sender and subject, whatever the case, and at nothing else.
    const struct {
        const char *text;
        QStringList subjects;
    } searches[] = {
        {"LOTTO", {QStringLiteral("Sie haben gewonnen")}},
        {"rechnung", {QStringLiteral("Rechnung 4711")}},
        {"anna", {QStringLiteral("Urlaubsfotos")}}, // the sender's name; the mailbox's "anna@" does not count
        {"evil.test", {QStringLiteral("Rechnung 4711")}},
        {"automatisch", {}},
        {"", {QStringLiteral("Urlaubsfotos"), QStringLiteral("Rechnung 4711"), QStringLiteral("Sie haben gewonnen")}},
    };
    for (const auto &s : searches) {
        w.SearchEdit()->setText(QString::fromUtf8(s.text));
        QStringList shown;
        for (int row = 0; row < w.RowCount(); ++row)
            shown << w.RecordAt(row)->Subject;
        EXPECT_EQ(shown, s.subjects) << s.text;
    }

    // Each command where its record allows it.
    w.SetCurrentRow(rowOf(w, QStringLiteral("Urlaubsfotos")));
    EXPECT_FALSE(w.EditRuleButton()->isEnabled()); // deleted by hand: no rule
    EXPECT_FALSE(w.RestoreButton()->isEnabled());  // no copy
    EXPECT_TRUE(w.NeverSpamButton()->isEnabled());
    w.SetCurrentRow(rowOf(w, QStringLiteral("Sie haben gewonnen")));
    EXPECT_TRUE(w.EditRuleButton()->isEnabled());
    EXPECT_TRUE(w.RestoreButton()->isEnabled());
    // A copy that expired meanwhile: the row says so, and there is nothing to restore.
    ASSERT_TRUE(QFile::remove(copy));
    w.Reload();
    const int row = rowOf(w, QStringLiteral("Sie haben gewonnen"));
    EXPECT_EQ(w.CellText(row, TDeletionLogWindow::colCopy), QStringLiteral("nicht mehr vorhanden"));
    EXPECT_FALSE(w.RestoreButton()->isEnabled());
}

TEST_F(DeletionLogWindowTest, EditRuleOpensTheEditorOnThatRule)
{
    TDeletionLogWindow &w = window();
    w.SetCurrentRow(rowOf(w, QStringLiteral("Rechnung 4711")));
    bool shown = false;
    onNextDialog<TSPAMFilterDlg>([&](TSPAMFilterDlg *dlg) {
        shown = true;
        EXPECT_EQ(dlg->Pages()->currentWidget(), dlg->HeaderPage());
        EXPECT_EQ(dlg->HeaderPage()->Grid()->Row(), 1);
        EXPECT_TRUE(dlg->HeaderPage()->ChangeButton()->isEnabled());
        dlg->reject();
    });
    w.EditRuleButton()->click();
    EXPECT_TRUE(shown);
    EXPECT_TRUE(box.shown.isEmpty());

    // A rule the list no longer holds: the user is told, and no editor opens.
    delete main->Settings().Settings.Filters->takeAt(0);
    w.SetCurrentRow(rowOf(w, QStringLiteral("Sie haben gewonnen")));
    w.EditRuleButton()->click();
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown.at(0).text,
              QStringLiteral("Die Regel enthält den Betreff \"Gewinn\" gibt es im Spam-Filter nicht mehr."));
}

TEST_F(DeletionLogWindowTest, RestoreHandsTheCopyOnOrSavesItAndNeverSpamMakesAnException)
{
    TDeletionLogWindow &w = window();
    QString opened;
    w.OpenInMailProgram = [&opened](const QString &file) {
        opened = file;
        return true;
    };
    const QString target = profile.file(QStringLiteral("gerettet.eml"));
    QString proposed;
    w.ChooseSaveFile = [&](const QString &name) {
        proposed = name;
        return target;
    };
    w.SetCurrentRow(rowOf(w, QStringLiteral("Sie haben gewonnen")));
    onNextDialog<TRestoreDlg>([](TRestoreDlg *d) { d->OpenButton()->click(); });
    w.RestoreButton()->click();
    EXPECT_EQ(opened, copy);
    onNextDialog<TRestoreDlg>([](TRestoreDlg *d) { d->SaveButton()->click(); });
    w.RestoreButton()->click();
    EXPECT_EQ(proposed, QStringLiteral("Sie haben gewonnen.eml"));
    QFile saved(target);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), QByteArray("Subject: Sie haben gewonnen\n\nText\n"));
    EXPECT_TRUE(box.shown.isEmpty());

    w.SetCurrentRow(rowOf(w, QStringLiteral("Rechnung 4711")));
    w.NeverSpamButton()->click();
    const TFilterList &rules = *main->Settings().Settings.Filters;
    ASSERT_EQ(rules.size(), 3);
    EXPECT_EQ(*rules.last(), NeverSpamSenderFilter(QStringLiteral("relay@evil.test")));
}

// The spam notice and the progress window tell what the log got since the user last looked; the log's
// window is one click away, and looking there counts.
TEST_F(DeletionLogWindowTest, TheNoticesTellWhatIsNewInTheLog)
{
    main->OpenSpamNotice(5, 2);
    TSpamNotice *notice = main->SpamNotice();
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->LogHint()->isVisibleTo(notice));
    EXPECT_EQ(notice->LogHint()->Text(), QStringLiteral("Neu im Protokoll der gelöschten E-Mails: 3"));
    notice->LogHint()->OpenButton()->click();
    ASSERT_NE(main->DeletionLogWindow(), nullptr);
    EXPECT_TRUE(main->DeletionLogWindow()->isVisible());
    main->CloseSpamNotice();

    main->OpenProgressWindow([] {});
    ASSERT_NE(main->ProgressWindow(), nullptr);
    EXPECT_FALSE(main->ProgressWindow()->LogHint()->isVisibleTo(main->ProgressWindow()));
    main->CloseProgressWindow();

    // The commands that open the window.
    EXPECT_EQ(main->actDeletionLog->text(), QStringLiteral("&Gelöschte E-Mails..."));
    QStringList menus;
    for (QAction *a : main->menuBar()->actions())
        if (a->menu() && a->menu()->actions().contains(main->actDeletionLog))
            menus << a->text();
    EXPECT_EQ(menus, QStringList{QStringLiteral("&Ansicht")});
    EXPECT_EQ(main->actTrayDeletionLog->text(), QStringLiteral("Gelöschte E-Mails..."));
}

} // namespace
