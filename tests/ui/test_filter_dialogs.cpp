// The spam rule editor, the two rule dialogs and the rule made from a message, on the offscreen platform:
// what the dialogs show, what they hand back, and through the main window's commands the rule list, the
// bytes of "Filters.dat" and the marks in the message list.
#include "AddToFilterDlgUnit.h"
#include "FilterTestPrinters.h"
#include "CheckBoxGrid.h"
#include "FilterRuleDlgUnit.h"
#include "MainUnit.h"
#include "MessageListUnit.h"
#include "ModalDriver.h"
#include "POP3Check.h"
#include "QuietMainOptions.h"
#include "QuarvelIcons.h"
#include "RegistrySettingsUnit.h"
#include "SPAMFilterDlgUnit.h"
#include "SpamFilterClassUnit.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFocusEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include <memory>
#include <vector>

namespace {

const TSimpleFilter kViagra{.Active = true, .Kind = fkSubject, .Operation = foContains, .Text = QStringLiteral("Viagra")};
const TSimpleFilter kCasino{.Active = false, .Kind = fkSubject, .Operation = foEquals, .Text = QStringLiteral("Casino")};
const TSimpleFilter kReceived{.Active = true,
                              .Kind = fkHeaderField,
                              .Operation = foContains,
                              .Text = QStringLiteral("evil.example"),
                              .Reserved = 77,
                              .HeaderField = QStringLiteral("Received"),
                              .CaseSensitive = true};
const TSimpleFilter kOtherKind{.Active = true, .Kind = 7, .Operation = foContains, .Text = QStringLiteral("alt")};
// A kind this editor does not show (an allow rule of a later version, say).
const TSimpleFilter kKindOne{.Active = true, .Kind = 1, .Operation = foEquals, .Text = QStringLiteral("chef@firma.de")};

QList<TSimpleFilter> copies(const TFilterList &list)
{
    QList<TSimpleFilter> out;
    for (const TSimpleFilter *r : list)
        out.append(*r);
    return out;
}

// The file as the store writes these rules.
QByteArray recordsOf(const QList<TSimpleFilter> &rules)
{
    TFilterList list;
    for (const TSimpleFilter &r : rules)
        list.append(new TSimpleFilter(r));
    QByteArray bytes;
    EXPECT_TRUE(TSpamFilterClass::WriteFilterRecords(list, bytes));
    FreeFilterList(list);
    return bytes;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// What leaving a text field does.
void leaveField(QWidget *w)
{
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(w, &out);
}

QStringList rowTexts(const TCheckBoxGrid &g, int row)
{
    QStringList out;
    for (int c = 0; c < g.ColCount(); ++c)
        out << g.Cell(c, row);
    return out;
}

// A profile without mailboxes (no server is asked) whose "Filters.dat" holds the given rules, and the main
// window on it, shown.
class FilterMainTest : public ::testing::Test {
protected:
    void start(const QList<TSimpleFilter> &rules)
    {
        TRegistrySettings s;
        s.Load();
        s.Settings.FirstStart = false;
        s.Save();
        {
            TSpamFilterClass store(s);
            store.ReplaceFilters(rules);
            ASSERT_TRUE(store.SaveFilters());
        }
        main.reset();
        main = std::make_unique<TMain>(quietOptions());
        main->ShowMainWindow();
    }

    QString filterFile() { return main->Settings().GetDataFolder() + QStringLiteral("Filters.dat"); }
    QList<TSimpleFilter> rules() { return copies(*main->Settings().Settings.Filters); }

    TestProfile profile;
    RecordingMessageBox box{IDYES};
    std::unique_ptr<TMain> main;
};

// --- the editor on its own ---

TEST(FilterEditor, ShowsTheRulesOfEachKindOnTheirPage)
{
    TFilterList list = {new TSimpleFilter(kViagra), new TSimpleFilter(kReceived), new TSimpleFilter(kOtherKind),
                        new TSimpleFilter(kCasino)};
    TSPAMFilterDlg dlg(list);
    FreeFilterList(list); // the dialog holds copies

    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Konfiguration des Spam-Filters"));
    EXPECT_EQ(dlg.Pages()->currentWidget(), dlg.SubjectPage());
    EXPECT_EQ(dlg.Pages()->tabText(0), QStringLiteral("Anhand des Betreffs einer E-Mail"));
    EXPECT_EQ(dlg.Pages()->tabText(1), QStringLiteral("Anhand von Header-Feldern einer E-Mail"));
    EXPECT_EQ(dlg.OKButton()->text(), QStringLiteral("OK"));
    EXPECT_EQ(dlg.CancelButton()->text(), QStringLiteral("Abbrechen"));

    const TCheckBoxGrid &subjects = *dlg.SubjectPage()->Grid();
    EXPECT_EQ(rowTexts(subjects, 0),
              (QStringList{QStringLiteral("Vergleichsoperation"), QStringLiteral("Betreff der E-Mail/Teil des Betreffs")}));
    EXPECT_EQ(rowTexts(subjects, 1), (QStringList{QStringLiteral("enthält den Betreff"), QStringLiteral("Viagra")}));
    EXPECT_EQ(rowTexts(subjects, 2), (QStringList{QStringLiteral("gleich dem Betreff"), QStringLiteral("Casino")}));
    EXPECT_TRUE(subjects.GetChecked(0, 1));
    EXPECT_FALSE(subjects.GetChecked(0, 2));
    EXPECT_EQ(subjects.GetImageIndex(0, 2), int(liFilter));

    const TCheckBoxGrid &headers = *dlg.HeaderPage()->Grid();
    EXPECT_EQ(rowTexts(headers, 0), (QStringList{QStringLiteral("Mailheader-Feld"), QStringLiteral("Vergleichsoperation"),
                                                 QStringLiteral("Inhalt")}));
    EXPECT_EQ(rowTexts(headers, 1), (QStringList{QStringLiteral("Received"), QStringLiteral("enthält den Text"),
                                                 QStringLiteral("evil.example")}));
    EXPECT_EQ(headers.RowCount(), 2);

    EXPECT_EQ(dlg.SubjectPage()->CountLabel()->text(), QStringLiteral("2 Filter festgelegt."));
    EXPECT_EQ(dlg.HeaderPage()->CountLabel()->text(), QStringLiteral("1 Filter festgelegt."));
    const struct {
        QPushButton *button;
        const char *caption;
        const char *hint;
    } buttons[] = {
        {dlg.SubjectPage()->AddButton(), "Hinzufügen", "Betreff hinzufügen."},
        {dlg.SubjectPage()->ChangeButton(), "Ändern", "Betreff bearbeiten."},
        {dlg.SubjectPage()->DeleteButton(), "Löschen", "Löscht den Betreff."},
        {dlg.HeaderPage()->AddButton(), "Hinzufügen", "Eintrag hinzufügen."},
        {dlg.HeaderPage()->ChangeButton(), "Ändern", "Eintrag bearbeiten."},
        {dlg.HeaderPage()->DeleteButton(), "Löschen", "Löscht den Eintrag."},
    };
    for (const auto &b : buttons) {
        EXPECT_EQ(b.button->text(), QString::fromUtf8(b.caption));
        EXPECT_EQ(b.button->toolTip(), QString::fromUtf8(b.hint));
    }
    // Nothing is chosen yet: only adding is possible.
    EXPECT_TRUE(dlg.SubjectPage()->AddButton()->isEnabled());
    EXPECT_FALSE(dlg.SubjectPage()->ChangeButton()->isEnabled());
    EXPECT_FALSE(dlg.HeaderPage()->DeleteButton()->isEnabled());
    dlg.SubjectPage()->Grid()->SetRow(2);
    EXPECT_TRUE(dlg.SubjectPage()->ChangeButton()->isEnabled());
    EXPECT_TRUE(dlg.SubjectPage()->DeleteButton()->isEnabled());

    // Untouched, the dialog hands back its subject rules, then its header rules, then the other kind.
    EXPECT_EQ(dlg.Rules(), (QList<TSimpleFilter>{kViagra, kCasino, kReceived, kOtherKind}));
}

TEST(FilterEditor, ACopyOfAListedRuleIsRefused)
{
    TestProfile profile;
    RecordingMessageBox box;
    TSPAMFilterDlg dlg(TFilterList{});
    TFilterPage &subjects = *dlg.SubjectPage();
    TFilterPage &headers = *dlg.HeaderPage();
    EXPECT_TRUE(subjects.Grid()->IsEmpty());
    EXPECT_EQ(subjects.CountLabel()->text(), QStringLiteral("0 Filter festgelegt."));

    struct Case {
        const char *name;
        std::function<bool()> add;
        bool added;
    };
    const Case cases[] = {
        {"Casino, contains", [&] { return subjects.AddSubjectRule(foContains, QStringLiteral("Casino")); }, true},
        {"Casino, contains, again", [&] { return subjects.AddSubjectRule(foContains, QStringLiteral("Casino")); }, false},
        {"casino, equals", [&] { return subjects.AddSubjectRule(foEquals, QStringLiteral("casino")); }, true},
        {"CASINO, contains: a copy of the second rule with that text", [&] {
             return subjects.AddSubjectRule(foContains, QStringLiteral("CASINO"));
         }, false},
        {"empty subject text", [&] { return subjects.AddSubjectRule(foEquals, QString()); }, true},
        {"From contains Offer", [&] { return headers.AddHeaderFieldRule(QStringLiteral("From"), foContains, QStringLiteral("Offer")); }, true},
        {"From contains offer: the text keeps its case", [&] {
             return headers.AddHeaderFieldRule(QStringLiteral("From"), foContains, QStringLiteral("offer"));
         }, true},
        {"FROM contains Offer: the field name does not", [&] {
             return headers.AddHeaderFieldRule(QStringLiteral("FROM"), foContains, QStringLiteral("Offer"));
         }, false},
    };
    int refused = 0;
    for (const Case &c : cases) {
        EXPECT_EQ(c.add(), c.added) << c.name;
        refused += c.added ? 0 : 1;
        ASSERT_EQ(box.shown.size(), refused) << c.name;
        if (!c.added) {
            EXPECT_EQ(box.shown.last().text, QStringLiteral("Der Spam-Filter existiert bereits.")) << c.name;
        }
    }
    EXPECT_EQ(subjects.CountLabel()->text(), QStringLiteral("3 Filter festgelegt."));
    EXPECT_EQ(headers.CountLabel()->text(), QStringLiteral("2 Filter festgelegt."));
    EXPECT_TRUE(subjects.Grid()->GetChecked(0, 1)); // new rules are active
    // A new header rule is selected; the subject page leaves the selection alone.
    EXPECT_EQ(headers.Grid()->Row(), 2);
    EXPECT_EQ(dlg.Rules().at(2), (TSimpleFilter{.Active = true, .Kind = fkSubject, .Operation = foEquals}));
}

TEST(FilterEditor, DeletingAsksWithTheRuleNameAndTheLastRowLeavesTheBlankRow)
{
    TestProfile profile;
    RecordingMessageBox box{IDNO};
    TFilterList list = {new TSimpleFilter(kViagra), new TSimpleFilter(kCasino), new TSimpleFilter(kReceived)};
    TSPAMFilterDlg dlg(list);
    FreeFilterList(list);

    TFilterPage &subjects = *dlg.SubjectPage();
    subjects.Grid()->SetRow(2);
    subjects.DeleteBtnClick();
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown.at(0).text, QStringLiteral("Möchten Sie den Filter \"Casino\" wirklich entfernen?"));
    EXPECT_EQ(box.shown.at(0).kind, MsgConfirmation);
    EXPECT_EQ(box.shown.at(0).buttons, int(BtnYesNo));
    EXPECT_EQ(subjects.RuleCount(), 2); // answered No

    box.answer = IDYES;
    subjects.DeleteBtnClick();
    EXPECT_EQ(subjects.Rules(), QList<TSimpleFilter>{kViagra});
    EXPECT_EQ(subjects.CountLabel()->text(), QStringLiteral("1 Filter festgelegt."));

    TFilterPage &headers = *dlg.HeaderPage();
    headers.Grid()->SetRow(1);
    headers.DeleteBtnClick();
    EXPECT_EQ(box.shown.last().text, QStringLiteral("Möchten Sie den Filter \"Received\" wirklich entfernen?"));
    EXPECT_TRUE(headers.Grid()->IsEmpty());
    EXPECT_EQ(headers.Grid()->Cell(0, 0), QStringLiteral("Mailheader-Feld"));
    EXPECT_EQ(headers.CountLabel()->text(), QStringLiteral("0 Filter festgelegt."));
    EXPECT_FALSE(headers.ChangeButton()->isEnabled());
    EXPECT_FALSE(headers.DeleteButton()->isEnabled());
    // The blank row is no rule: nothing to delete, nothing handed back.
    const qsizetype asked = box.shown.size();
    headers.DeleteBtnClick();
    EXPECT_EQ(box.shown.size(), asked);
    EXPECT_EQ(dlg.Rules(), QList<TSimpleFilter>{kViagra});
    // A new rule fills the blank row.
    EXPECT_TRUE(headers.AddHeaderFieldRule(QStringLiteral("To"), foEquals, QString()));
    EXPECT_EQ(headers.Grid()->RowCount(), 2);
}

TEST(FilterEditor, KeysAndTheDoubleClickActOnlyWhileTheirButtonIsEnabled)
{
    TestProfile profile;
    RecordingMessageBox box{IDNO};
    TFilterList list = {new TSimpleFilter(kViagra), new TSimpleFilter(kReceived)};
    TSPAMFilterDlg dlg(list);
    FreeFilterList(list);
    dlg.show();
    TFilterPage &headers = *dlg.HeaderPage();
    dlg.Pages()->setCurrentWidget(&headers);
    TCheckBoxGrid *grid = headers.Grid();

    // Nothing selected: Enter and Delete do nothing; Insert adds.
    QTest::keyClick(grid, Qt::Key_Return);
    QTest::keyClick(grid, Qt::Key_Delete);
    EXPECT_TRUE(box.shown.isEmpty());
    EXPECT_TRUE(dlg.isVisible());
    bool addShown = false;
    onNextDialog<THeaderFieldFilterDlg>([&](THeaderFieldFilterDlg *d) {
        addShown = true;
        EXPECT_EQ(d->FieldName(), QStringLiteral("From"));
        EXPECT_EQ(d->Operation(), int(foEquals));
        EXPECT_EQ(d->Text(), QString());
        d->CancelButton()->click();
    });
    QTest::keyClick(grid, Qt::Key_Insert);
    EXPECT_TRUE(addShown);

    grid->SetRow(1);
    bool changeShown = false;
    onNextDialog<THeaderFieldFilterDlg>([&](THeaderFieldFilterDlg *d) {
        changeShown = true;
        EXPECT_EQ(d->FieldName(), QStringLiteral("Received"));
        EXPECT_EQ(d->Operation(), int(foContains));
        EXPECT_EQ(d->Text(), QStringLiteral("evil.example"));
        d->CancelButton()->click();
    });
    QTest::keyClick(grid, Qt::Key_Return);
    EXPECT_TRUE(changeShown);
    QTest::keyClick(grid, Qt::Key_Delete);
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown.at(0).text, QStringLiteral("Möchten Sie den Filter \"Received\" wirklich entfernen?"));

    // A double click on a subject row changes it; the subject grid has no keys of its own.
    dlg.Pages()->setCurrentWidget(dlg.SubjectPage());
    TCheckBoxGrid *subjects = dlg.SubjectPage()->Grid();
    subjects->SetRow(1);
    QTest::keyClick(subjects, Qt::Key_Delete);
    EXPECT_EQ(box.shown.size(), 1);
    bool dblShown = false;
    onNextDialog<TSubjectFilterDlg>([&](TSubjectFilterDlg *d) {
        dblShown = true;
        EXPECT_EQ(d->Operation(), int(foContains));
        EXPECT_EQ(d->Text(), QStringLiteral("Viagra"));
        d->SetValues(foBeginsWith, QStringLiteral("Cialis"));
        d->OKButton()->click();
    });
    const QRect cell = subjects->CellRect(1, 1);
    const QPoint pos = subjects->viewport()->mapFrom(subjects, QPoint(cell.right() - 10, cell.center().y()));
    QTest::mousePress(subjects->viewport(), Qt::LeftButton, {}, pos);
    QTest::mouseRelease(subjects->viewport(), Qt::LeftButton, {}, pos);
    QTest::mouseDClick(subjects->viewport(), Qt::LeftButton, {}, pos);
    EXPECT_TRUE(dblShown);
    // Changing keeps Active and sets what the dialog gave.
    EXPECT_EQ(dlg.SubjectPage()->Rules(), (QList<TSimpleFilter>{{.Active = true, .Kind = fkSubject,
                                                                 .Operation = foBeginsWith,
                                                                 .Text = QStringLiteral("Cialis")}}));
    EXPECT_EQ(rowTexts(*subjects, 1), (QStringList{QStringLiteral("beginnt mit dem Betreff"), QStringLiteral("Cialis")}));
}

// --- the rule dialogs ---

TEST(FilterRuleDialogs, CaptionsAndOperationLists)
{
    TSubjectFilterDlg fromEditor(true);
    EXPECT_EQ(fromEditor.windowTitle(), QStringLiteral("Filter anhand des Betreffs der E-Mail"));
    ASSERT_EQ(fromEditor.OperationList()->count(), 5);
    EXPECT_EQ(fromEditor.OperationList()->itemText(4), QStringLiteral("endet mit dem..."));
    EXPECT_FALSE(fromEditor.OperationList()->isEditable());
    TSubjectFilterDlg fromMessage(false);
    EXPECT_EQ(fromMessage.OperationList()->itemText(3), QStringLiteral("beginnt mit dem..."));
    EXPECT_EQ(fromMessage.OperationList()->itemText(4), QStringLiteral("endet mit dem"));
    QStringList labels;
    for (const QLabel *l : fromEditor.findChildren<QLabel *>())
        labels << l->text();
    EXPECT_TRUE(labels.contains(QStringLiteral("Eine E-Mail soll zum Löschen gekennzeichnet werden, wenn der Betreff der E-Mail...")));
    EXPECT_TRUE(labels.contains(QStringLiteral("Text:")));

    THeaderFieldFilterDlg header;
    EXPECT_EQ(header.windowTitle(), QStringLiteral("Filter anhand von Headerfeldern einer E-Mail"));
    EXPECT_TRUE(header.FieldList()->isEditable());
    EXPECT_EQ(header.FieldList()->itemText(0), QStringLiteral("Content-Transfer-Encoding"));
    EXPECT_EQ(header.FieldList()->count(), 10);
    EXPECT_EQ(header.OperationList()->itemText(0), QStringLiteral("gleich dem..."));
    EXPECT_EQ(header.OperationList()->itemText(4), QStringLiteral("endet mit dem"));
    labels.clear();
    for (const QLabel *l : header.findChildren<QLabel *>())
        labels << l->text();
    for (const char *caption : {"Eine E-Mail soll gelöscht werden, wenn das...", "E-Mail-Headerfeld:", "der E-Mail...", "Text"})
        EXPECT_TRUE(labels.contains(QString::fromUtf8(caption))) << caption;
    // Opened without a field name, the first one offered is taken.
    header.show();
    EXPECT_EQ(header.FieldName(), QStringLiteral("Content-Transfer-Encoding"));
}

TEST(FilterRuleDialogs, TextsAreTrimmedOnLeavingAndKeptOnOneLine)
{
    struct Case {
        const char *name;
        QString typed;
        QString taken;
    };
    const QString tenThousand(10000, QLatin1Char('w'));
    const Case cases[] = {
        {"blanks and tabs at the ends", QStringLiteral(" \t Casino \t"), QStringLiteral("Casino")},
        {"only blanks", QStringLiteral("    "), QString()},
        {"line breaks inside", QStringLiteral("Gratis\r\nGewinn\njetzt"), QStringLiteral("Gratis Gewinn jetzt")},
        {"line breaks at the ends", QStringLiteral("\r\nGewinn\r\n"), QStringLiteral("Gewinn")},
        {"10,000 characters", tenThousand, tenThousand},
    };
    for (const Case &c : cases) {
        TSubjectFilterDlg dlg(true);
        dlg.TextEdit()->setText(c.typed);
        leaveField(dlg.TextEdit());
        EXPECT_EQ(dlg.Text(), c.taken) << c.name;
    }
    // Longer than a line edit takes by default: a whole header value is kept.
    TSubjectFilterDlg dlg(true);
    const QString huge(40000, QLatin1Char('h'));
    dlg.TextEdit()->setText(huge);
    EXPECT_EQ(dlg.Text(), huge);
}

TEST(FilterRuleDialogs, EnterMovesOnInTheListsAndAHeaderRuleNeedsAFieldName)
{
    TestProfile profile;
    RecordingMessageBox box;
    THeaderFieldFilterDlg dlg;
    dlg.SetValues(QStringLiteral("  X-Mailer "), foContains, QStringLiteral("Bulk"));
    dlg.show();
    QApplication::setActiveWindow(&dlg);
    dlg.FieldList()->setFocus();
    QTest::keyClick(dlg.FieldList(), Qt::Key_Return);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_FALSE(dlg.FieldList()->hasFocus());
    QTest::keyClick(dlg.TextEdit(), Qt::Key_Return);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.FieldName(), QStringLiteral("X-Mailer"));

    dlg.FieldList()->setEditText(QStringLiteral(" "));
    dlg.OKButton()->click();
    EXPECT_TRUE(dlg.isVisible());
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown.at(0).text, QStringLiteral("Bitte geben Sie den Namen eines E-Mail-Headerfeldes an."));
    dlg.FieldList()->setEditText(QStringLiteral("Precedence"));
    dlg.OKButton()->click();
    EXPECT_EQ(dlg.result(), int(QDialog::Accepted));
}

TEST(FilterRuleDialogs, AHeaderRuleFromAMessageOffersItsFieldsAndValues)
{
    MailMessage m;
    ASSERT_TRUE(m.FillFromHeader("Received: from a.example by mx\r\n"
                                 "Received: from b.example\r\n"
                                 "Received: from c.example\r\n"
                                 "From: =?UTF-8?Q?J=C3=B6rg?= <joerg@example.org>\r\n"
                                 "X-Mailer:   BulkMail 3  \r\n"
                                 "Subject: Angebot\r\n"));
    THeaderFieldFilterDlg dlg;
    dlg.SetValues(QStringLiteral("From"), foEquals, QString());
    dlg.SetMessage(m);
    dlg.show();
    QStringList offered;
    for (int i = 0; i < dlg.FieldList()->count(); ++i)
        offered << dlg.FieldList()->itemText(i);
    EXPECT_EQ(offered, (QStringList{QStringLiteral("From"), QStringLiteral("Received"), QStringLiteral("Subject"),
                                    QStringLiteral("X-Mailer")}));
    // The field stays "From"; its raw value is proposed, encoded words and all.
    EXPECT_EQ(dlg.FieldName(), QStringLiteral("From"));
    EXPECT_EQ(dlg.Text(), QStringLiteral("=?UTF-8?Q?J=C3=B6rg?= <joerg@example.org>"));

    struct Case {
        const char *field;
        const char *proposed;
    };
    const Case cases[] = {
        {"Received", "  from a.example by mx  from b.example  from c.example"}, // all three, leading blanks kept
        {"x-mailer", "BulkMail 3"},
        {"Organization", ""}, // typed, and not in the message
    };
    for (const Case &c : cases) {
        dlg.FieldList()->setEditText(QString::fromLatin1(c.field));
        EXPECT_EQ(dlg.TextEdit()->text(), QString::fromUtf8(c.proposed)) << c.field;
    }
    dlg.FieldList()->setCurrentIndex(1); // chosen from the list
    EXPECT_EQ(dlg.TextEdit()->text(), QStringLiteral("  from a.example by mx  from b.example  from c.example"));
    leaveField(dlg.TextEdit());
    EXPECT_EQ(dlg.Text(), QStringLiteral("from a.example by mx  from b.example  from c.example"));
}

// --- through the main window ---

TEST_F(FilterMainTest, TheCommandsAreOfferedWhereTheyMayRun)
{
    start({});
    for (QAction *a : {main->actFilters, main->actTrayFilters})
        EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
    EXPECT_EQ(main->actFilters->text(), QStringLiteral("Spam-&Filter..."));
    EXPECT_EQ(main->actFilters->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
    EXPECT_EQ(main->actTrayFilters->text(), QStringLiteral("Spam-Filter..."));
    EXPECT_EQ(main->actToFilter->text(), QStringLiteral(" In Spam-Filter...   "));
    EXPECT_EQ(main->actToFilter->toolTip(), QStringLiteral("Nimmt die E-Mail in den Spam-Fiter auf."));
    EXPECT_EQ(main->actListToFilter->text(), QStringLiteral("In Spam-Filter..."));
    EXPECT_FALSE(main->actToFilter->isEnabled()); // empty list

    std::vector<std::unique_ptr<TMailEntry>> entries;
    TMailList list;
    for (const auto &[subject, state] : {std::pair{"Hallo", msNormal}, std::pair{"Gewinn", msSpam}}) {
        auto e = std::make_unique<TMailEntry>();
        e->Message.FillFromHeader(QByteArray("From: a@example.org\r\nSubject: ") + subject + "\r\n");
        e->State = state;
        list.Add(e.get());
        entries.push_back(std::move(e));
    }
    main->RefillMessageList(list);
    TMessageListView &view = main->MessageList();
    const struct {
        int row;
        bool enabled;
    } rows[] = {{1, true}, {2, false}, {1, true}};
    for (const auto &r : rows) {
        view.Grid()->SetRow(r.row);
        main->ShowHeader(); // what a click does
        EXPECT_EQ(main->actToFilter->isEnabled(), r.enabled) << r.row;
        ASSERT_TRUE(view.OnContextMenu);
        view.OnContextMenu(r.row, QPoint(10, 10)); // a right click
        EXPECT_EQ(main->actListToFilter->isEnabled(), r.enabled) << r.row;
        EXPECT_EQ(main->actToFilter->isEnabled(), r.enabled) << r.row;
        for (QMenu *menu : main->findChildren<QMenu *>())
            menu->hide();
    }
    // On a spam row the command does nothing even when called.
    view.Grid()->SetRow(2);
    main->MakeFilterFromMessage();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    main->ClearMessageList();
}

TEST_F(FilterMainTest, OKCommitsSubjectRulesThenHeaderRulesThenTheOtherKindsAndWritesTheFile)
{
    start({kReceived, kKindOne, kViagra, kOtherKind, kCasino});
    onNextDialog<TSPAMFilterDlg>([&](TSPAMFilterDlg *dlg) {
        TFilterPage &subjects = *dlg->SubjectPage();
        // Add through the button and the rule dialog.
        onNextDialog<TSubjectFilterDlg>([](TSubjectFilterDlg *d) {
            EXPECT_EQ(d->Operation(), int(foEquals));
            EXPECT_EQ(d->Text(), QString());
            d->OperationList()->setCurrentIndex(foContainsWord);
            d->TextEdit()->setText(QStringLiteral("Lotto"));
            d->OKButton()->click();
        });
        subjects.AddButton()->click();
        // Switch Viagra off by its check box, change Casino.
        subjects.Grid()->SetChecked(0, 1, false);
        subjects.Grid()->SetRow(2);
        onNextDialog<TSubjectFilterDlg>([](TSubjectFilterDlg *d) {
            d->OperationList()->setCurrentIndex(foBeginsWith);
            d->OKButton()->click();
        });
        subjects.ChangeButton()->click();
        // Replace the header rule by another.
        TFilterPage &headers = *dlg->HeaderPage();
        headers.Grid()->SetRow(1);
        headers.DeleteButton()->click();
        onNextDialog<THeaderFieldFilterDlg>([](THeaderFieldFilterDlg *d) {
            d->FieldList()->setEditText(QStringLiteral("X-Mailer"));
            d->OperationList()->setCurrentIndex(foContains);
            d->TextEdit()->setText(QStringLiteral("Bulk"));
            d->OKButton()->click();
        });
        headers.AddButton()->click();
        dlg->OKButton()->click();
    });
    main->OpenFilterDialog();

    TSimpleFilter viagraOff = kViagra;
    viagraOff.Active = false;
    TSimpleFilter casinoBegins = kCasino;
    casinoBegins.Operation = foBeginsWith;
    const QList<TSimpleFilter> expected = {
        viagraOff, casinoBegins,
        {.Active = true, .Kind = fkSubject, .Operation = foContainsWord, .Text = QStringLiteral("Lotto")},
        {.Active = true, .Kind = fkHeaderField, .Operation = foContains, .Text = QStringLiteral("Bulk"),
         .HeaderField = QStringLiteral("X-Mailer")},
        // The kinds the editor does not show stay in the file.
        kKindOne, kOtherKind};
    EXPECT_EQ(rules(), expected);
    EXPECT_EQ(readFile(filterFile()), recordsOf(expected));
    ASSERT_EQ(box.shown.size(), 1); // the delete question
    EXPECT_EQ(box.shown.at(0).text, QStringLiteral("Möchten Sie den Filter \"Received\" wirklich entfernen?"));
}

TEST_F(FilterMainTest, LongAndMultiLineTextsAreSavedWholeOnOneLine)
{
    start({});
    const QString longText(10000, QChar(0x00FC)); // "ü": two bytes each in the file
    onNextDialog<TSPAMFilterDlg>([&](TSPAMFilterDlg *dlg) {
        onNextDialog<TSubjectFilterDlg>([&](TSubjectFilterDlg *d) {
            d->OperationList()->setCurrentIndex(foContains);
            d->TextEdit()->setText(longText);
            d->OKButton()->click();
        });
        dlg->SubjectPage()->AddButton()->click();
        onNextDialog<THeaderFieldFilterDlg>([](THeaderFieldFilterDlg *d) {
            d->FieldList()->setEditText(QStringLiteral("Subject"));
            d->TextEdit()->setText(QStringLiteral("=?UTF-8?B?\r\n\tR2V3aW5u?="));
            d->OKButton()->click();
        });
        dlg->HeaderPage()->AddButton()->click();
        dlg->OKButton()->click();
    });
    main->OpenFilterDialog();
    const QByteArray bytes = readFile(filterFile());
    EXPECT_EQ(bytes.left(8), QByteArray::fromHex("01000100 204E0000")); // 20000 bytes of text follow
    ASSERT_EQ(rules().size(), 2);
    EXPECT_EQ(rules().at(0).Text, longText);
    EXPECT_EQ(rules().at(1).Text, QStringLiteral("=?UTF-8?B? \tR2V3aW5u?="));
    EXPECT_EQ(bytes, recordsOf(rules()));
}

TEST_F(FilterMainTest, CancelLeavesTheRulesAndTheFileAsTheyWere)
{
    const QList<TSimpleFilter> before = {kViagra, kReceived, kCasino};
    start(before);
    const QByteArray bytes = readFile(filterFile());
    const std::function<void(TSPAMFilterDlg *)> leave[] = {
        [](TSPAMFilterDlg *dlg) { dlg->CancelButton()->click(); },
        [](TSPAMFilterDlg *dlg) { dlg->close(); },
        [](TSPAMFilterDlg *dlg) { QTest::keyClick(dlg, Qt::Key_Escape); },
    };
    for (const auto &how : leave) {
        onNextDialog<TSPAMFilterDlg>([&](TSPAMFilterDlg *dlg) {
            dlg->SubjectPage()->Grid()->SetRow(1);
            dlg->SubjectPage()->DeleteBtnClick();
            dlg->SubjectPage()->Grid()->SetChecked(0, 1, true);
            dlg->HeaderPage()->ChangeRule(1, QStringLiteral("To"), foEquals, QStringLiteral("x"));
            dlg->HeaderPage()->AddHeaderFieldRule(QStringLiteral("From"), foContains, QStringLiteral("y"));
            how(dlg);
        });
        main->OpenFilterDialog();
        EXPECT_EQ(rules(), before);
        EXPECT_EQ(readFile(filterFile()), bytes);
    }
}

TEST_F(FilterMainTest, AFilterFileThatCannotBeWrittenIsReportedAndTheRulesStay)
{
    start({kViagra});
    // The data folder lies inside a plain file: nothing can be created there.
    QFile blocker(profile.file(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    main->Settings().Settings.DataPath = profile.file(QStringLiteral("blocker/data"));
    onNextDialog<TSPAMFilterDlg>([&](TSPAMFilterDlg *dlg) {
        dlg->SubjectPage()->AddSubjectRule(foContains, QStringLiteral("Lotto"));
        dlg->OKButton()->click();
    });
    main->OpenFilterDialog();
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown.at(0).text, kFilterSaveError);
    EXPECT_EQ(box.shown.at(0).kind, MsgError);
    EXPECT_EQ(rules(), (QList<TSimpleFilter>{kViagra, {.Active = true, .Kind = fkSubject, .Operation = foContains,
                                                        .Text = QStringLiteral("Lotto")}}));
}

// --- a rule made from a message ---

// Messages of the list, by their header blocks.
class RuleFromMessageTest : public FilterMainTest {
protected:
    void fill(const QList<QByteArray> &headers)
    {
        main->ClearMessageList();
        list.Clear();
        entries.clear();
        for (const QByteArray &h : headers) {
            auto e = std::make_unique<TMailEntry>();
            EXPECT_TRUE(e->Message.FillFromHeader(h));
            e->Host = QStringLiteral("pop.example");
            e->UserName = QStringLiteral("anna");
            list.Add(e.get());
            entries.push_back(std::move(e));
        }
        main->RefillMessageList(list);
    }

    // Runs the command on a row: chooses the subject or the header path, and acts in its rule dialog.
    void makeRule(int row, bool header, std::function<void(TFilterRuleDlgBase *)> inRuleDialog)
    {
        main->MessageList().Grid()->SetRow(row);
        main->ShowHeader();
        ASSERT_TRUE(main->actToFilter->isEnabled());
        onNextDialog<TAddToFilterDlg>([header, inRuleDialog](TAddToFilterDlg *choice) {
            EXPECT_EQ(choice->windowTitle(), QStringLiteral("In Spam-Filter aufnehmen"));
            EXPECT_TRUE(choice->SubjectOption()->isChecked()); // the subject is the first choice
            (header ? choice->HeaderOption() : choice->SubjectOption())->setChecked(true);
            if (header)
                onNextDialog<THeaderFieldFilterDlg>([inRuleDialog](THeaderFieldFilterDlg *d) { inRuleDialog(d); });
            else
                onNextDialog<TSubjectFilterDlg>([inRuleDialog](TSubjectFilterDlg *d) { inRuleDialog(d); });
            choice->OKButton()->click();
        });
        main->MakeFilterFromMessage();
    }

    // Rows shown as spam: the spam image and the check mark, and the entry saying so too.
    QList<int> spamRows()
    {
        QList<int> out;
        const TCheckBoxGrid &g = *main->MessageList().Grid();
        for (int r = 1; r < g.RowCount(); ++r) {
            const TMailEntry *e = main->MessageList().EntryAt(r);
            const bool image = g.GetImageIndex(0, r) == msSpam;
            EXPECT_EQ(image, g.GetChecked(0, r)) << r;
            EXPECT_EQ(image, e && e->State == msSpam && e->Checked) << r;
            if (image)
                out << r;
        }
        return out;
    }

    std::vector<std::unique_ptr<TMailEntry>> entries;
    TMailList list;
};

const QList<QByteArray> kMessages = {
    "From: bob@example.org\r\nSubject: Treffen am Montag\r\n",
    "From: =?UTF-8?Q?J=C3=B6rg?= <shop@example.com>\r\nSubject: =?UTF-8?Q?G=C3=BCnstige?= Uhren kaufen\r\n"
    "X-Mailer: BulkMail 3\r\n",
    "From: shop@example.com\r\nSubject: Re: Günstige Uhren kaufen\r\n",
    "From: carla@example.net\r\nSubject: Uhrzeit\r\nX-Mailer: bulkmail 3\r\n",
};

TEST_F(RuleFromMessageTest, TheNewRuleIsAppendedSavedAndTheListMarkedAgain)
{
    struct Case {
        const char *name;
        bool header;
        const char *field;   // header path: the field to choose
        const char *proposed;
        const char *text;    // nullptr: the proposal as it stands
        int operation;       // -1: as preselected
        TSimpleFilter rule;
        QList<int> spam;
    };
    const Case cases[] = {
        {"the whole subject", false, nullptr, "Günstige Uhren kaufen", nullptr, -1,
         {.Active = true, .Kind = fkSubject, .Operation = foContains, .Text = QStringLiteral("Günstige Uhren kaufen")},
         {2, 3}},
        {"a text the message itself does not match", false, nullptr, "Günstige Uhren kaufen", "Montag", foEndsWith,
         {.Active = true, .Kind = fkSubject, .Operation = foEndsWith, .Text = QStringLiteral("Montag")},
         {1, 2}},
        {"the header field X-Mailer", true, "X-Mailer", "BulkMail 3", nullptr, foEquals,
         {.Active = true, .Kind = fkHeaderField, .Operation = foEquals, .Text = QStringLiteral("BulkMail 3"),
          .HeaderField = QStringLiteral("X-Mailer")},
         {2, 4}},
        {"the raw From value", true, "From", "=?UTF-8?Q?J=C3=B6rg?= <shop@example.com>", "J=C3=B6rg", foContains,
         {.Active = true, .Kind = fkHeaderField, .Operation = foContains, .Text = QStringLiteral("J=C3=B6rg"),
          .HeaderField = QStringLiteral("From")},
         {2}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        start({kCasino});
        fill(kMessages);
        main->MessageList().Grid()->SetChecked(0, 1, false);
        makeRule(2, c.header, [&c](TFilterRuleDlgBase *d) {
            if (auto *h = qobject_cast<THeaderFieldFilterDlg *>(d)) {
                EXPECT_EQ(h->FieldName(), QStringLiteral("From"));
                EXPECT_EQ(h->Operation(), int(foEquals));
                h->FieldList()->setEditText(QString::fromLatin1(c.field));
                if (c.operation >= 0)
                    h->OperationList()->setCurrentIndex(c.operation);
            } else if (auto *s = qobject_cast<TSubjectFilterDlg *>(d)) {
                EXPECT_EQ(s->Operation(), int(foContains));
                EXPECT_EQ(s->OperationList()->itemText(4), QStringLiteral("endet mit dem"));
                if (c.operation >= 0)
                    s->OperationList()->setCurrentIndex(c.operation);
            }
            EXPECT_EQ(d->Text(), QString::fromUtf8(c.proposed));
            if (c.text)
                d->TextEdit()->setText(QString::fromUtf8(c.text));
            d->OKButton()->click();
        });
        EXPECT_EQ(rules(), (QList<TSimpleFilter>{kCasino, c.rule}));
        EXPECT_EQ(readFile(filterFile()), recordsOf({kCasino, c.rule}));
        EXPECT_EQ(spamRows(), c.spam);
        // The current row is spam now: no rule from it again; the marks can be deleted.
        EXPECT_FALSE(main->actToFilter->isEnabled());
        EXPECT_FALSE(main->actListToFilter->isEnabled());
        EXPECT_TRUE(main->actDeleteChecked->isEnabled());
        EXPECT_TRUE(main->centralWidget()->isEnabled());
        EXPECT_TRUE(box.shown.isEmpty());
    }
}

TEST_F(RuleFromMessageTest, CancellingReturnsToTheChoiceAndInTheEndChangesNothing)
{
    start({kViagra});
    const QByteArray bytes = readFile(filterFile());
    fill(kMessages);
    int ruleDialogs = 0;
    onNextDialog<TAddToFilterDlg>([&](TAddToFilterDlg *choice) {
        onNextDialog<TSubjectFilterDlg>([&](TSubjectFilterDlg *d) {
            ++ruleDialogs;
            d->CancelButton()->click();
        });
        choice->OKButton()->click();
        EXPECT_TRUE(choice->isVisible());
        EXPECT_FALSE(choice->RuleAdded);
        choice->HeaderOption()->setChecked(true);
        onNextDialog<THeaderFieldFilterDlg>([&](THeaderFieldFilterDlg *d) {
            ++ruleDialogs;
            d->CancelButton()->click();
        });
        choice->OKButton()->click();
        EXPECT_TRUE(choice->isVisible());
        choice->CancelButton()->click();
    });
    main->MessageList().Grid()->SetRow(1);
    main->MakeFilterFromMessage();
    EXPECT_EQ(ruleDialogs, 2);
    EXPECT_EQ(rules(), QList<TSimpleFilter>{kViagra});
    EXPECT_EQ(readFile(filterFile()), bytes);
    EXPECT_TRUE(spamRows().isEmpty());
    EXPECT_TRUE(main->actToFilter->isEnabled());
}

TEST_F(RuleFromMessageTest, TheSameRuleFromTwoMessagesIsAppendedTwice)
{
    start({});
    fill(kMessages);
    const auto uhren = [](TFilterRuleDlgBase *d) {
        d->TextEdit()->setText(QStringLiteral("Uhren"));
        d->OKButton()->click();
    };
    makeRule(3, false, uhren);
    EXPECT_EQ(spamRows(), (QList<int>{2, 3}));
    makeRule(1, false, uhren);
    const TSimpleFilter rule{.Active = true, .Kind = fkSubject, .Operation = foContains, .Text = QStringLiteral("Uhren")};
    EXPECT_EQ(rules(), (QList<TSimpleFilter>{rule, rule}));
    EXPECT_EQ(spamRows(), (QList<int>{1, 2, 3}));
}

TEST_F(RuleFromMessageTest, AFailedSaveIsReportedAndTheListIsStillMarked)
{
    start({});
    fill(kMessages);
    QFile blocker(profile.file(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    main->Settings().Settings.DataPath = profile.file(QStringLiteral("blocker/data"));
    makeRule(1, false, [](TFilterRuleDlgBase *d) {
        d->TextEdit()->setText(QStringLiteral("Uhr"));
        d->OKButton()->click();
    });
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown.at(0).text, kFilterSaveError);
    EXPECT_EQ(rules().size(), 1);
    EXPECT_EQ(spamRows(), (QList<int>{1, 2, 3, 4}));
    EXPECT_TRUE(main->centralWidget()->isEnabled());
}

TEST_F(RuleFromMessageTest, AListRefilledWhileTheDialogIsOpenIsMarkedByTheRulesOnly)
{
    start({});
    fill(kMessages);
    makeRule(1, false, [this](TFilterRuleDlgBase *d) {
        // A check run meanwhile (from the tray) refills the list and frees the entries it held.
        fill({"From: x@example.org\r\nSubject: Neu\r\n", "From: y@example.org\r\nSubject: Treffen verschoben\r\n"});
        main->MessageList().Grid()->SetRow(1);
        d->TextEdit()->setText(QStringLiteral("Treffen"));
        d->OKButton()->click();
    });
    EXPECT_EQ(rules().size(), 1);
    EXPECT_EQ(spamRows(), QList<int>{2}); // not row 1: that is another message now
}

} // namespace
