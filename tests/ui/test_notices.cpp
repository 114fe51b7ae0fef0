// The tray icon's animation, the progress windows, the notices and the wait window, on the offscreen
// platform. Time is driven by calling the timers' handlers.
#include "ModalDriver.h"
#include "Notices.h"
#include "ProgressWindows.h"
#include "QtMessageBox.h"
#include "RegIni.h"
#include "RegistrySettingsUnit.h"
#include "TestProfile.h"
#include "TrayIcon.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <vector>

namespace {

// Runs the deletions that windows closed with WA_DeleteOnClose have asked for.
void FlushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void PressKey(QWidget *w, Qt::Key key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
}

void PressEscape(QWidget *w)
{
    PressKey(w, Qt::Key_Escape);
}

QIcon ColourIcon(Qt::GlobalColor colour)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

QString StoredValue(const QString &section, const QString &name)
{
    TTheRegIniFile reg;
    reg.RegKey = HKEY::CURRENT_USER;
    reg.Area = kProgramKey;
    reg.Section = section;
    return reg.ReadString(name, QStringLiteral("<none>"));
}

// Every window here remembers its position in the registry: keep that in a private profile.
class NoticeWindows : public ::testing::Test {
protected:
    TestProfile profile;

    void TearDown() override
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->testAttribute(Qt::WA_DeleteOnClose))
                delete w;
        FlushDeletes();
    }
};

// --- tray icon ---

TEST(TrayAnimation, FrameOrder)
{
    const struct Case {
        const char *name;
        std::array<bool, 4> present;
        std::vector<int> frames; // shown after each step, starting from the normal image
    } cases[] = {
        {"all four", {true, true, true, true}, {1, 2, 3, 4, 0, 1}},
        {"the mail icon: image 4 empty", {true, true, true, false}, {1, 2, 3, 0, 1, 2}},
        {"gaps are skipped", {false, true, false, true}, {2, 4, 0, 2}},
        {"only the last", {false, false, false, true}, {4, 0, 4}},
        {"none: the normal image stays", {false, false, false, false}, {0, 0}},
    };
    for (const Case &c : cases) {
        int frame = 0;
        std::vector<int> shown;
        for (size_t i = 0; i < c.frames.size(); ++i) {
            frame = NextAnimationFrame(frame, c.present);
            shown.push_back(frame);
        }
        EXPECT_EQ(shown, c.frames) << c.name;
    }
}

TEST(TrayAnimation, MailIconShowsBlankPulseBlankNormal)
{
    TTrayIcon icon;
    const QIcon normal = ColourIcon(Qt::blue);
    const QIcon blank = ColourIcon(Qt::white);
    const QIcon pulse = ColourIcon(Qt::red);
    icon.SetNormalImage(normal);
    icon.SetAnimationImage(1, blank);
    icon.SetAnimationImage(2, pulse);
    icon.SetAnimationImage(3, blank);
    icon.SetAnimationStep(800);
    icon.SetActive(true);

    icon.StartAnimation();
    EXPECT_TRUE(icon.Animating());
    EXPECT_EQ(icon.CurrentImage().cacheKey(), normal.cacheKey()) << "the first step comes after one interval";
    std::vector<qint64> shown;
    for (int i = 0; i < 5; ++i) {
        icon.AnimationTick();
        shown.push_back(icon.CurrentImage().cacheKey());
    }
    EXPECT_EQ(shown, (std::vector<qint64>{blank.cacheKey(), pulse.cacheKey(), blank.cacheKey(), normal.cacheKey(),
                                          blank.cacheKey()}));

    icon.AnimationTick(); // on the pulse
    icon.StopAnimation();
    EXPECT_FALSE(icon.Animating());
    EXPECT_EQ(icon.CurrentFrame(), 0);
    EXPECT_EQ(icon.CurrentImage().cacheKey(), normal.cacheKey());

    // Deactivating stops a running animation too.
    icon.StartAnimation();
    icon.AnimationTick();
    icon.SetActive(false);
    EXPECT_FALSE(icon.Active());
    EXPECT_FALSE(icon.Animating());
    EXPECT_EQ(icon.CurrentFrame(), 0);
}

TEST(TrayAnimation, TooltipIsCutTo126Characters)
{
    TTrayIcon icon;
    const QString umlauts = QString(200, QChar(0x00FC));
    const struct {
        QString text;
        QString shown;
    } cases[] = {
        {QStringLiteral("Quarvel aktiv"), QStringLiteral("Quarvel aktiv")},
        {QString(126, QLatin1Char('x')), QString(126, QLatin1Char('x'))},
        {QString(127, QLatin1Char('x')), QString(126, QLatin1Char('x'))},
        {umlauts, umlauts.left(126)},
        {QString(), QString()},
    };
    for (const auto &c : cases) {
        icon.SetTooltip(c.text);
        EXPECT_EQ(icon.Tooltip(), c.shown) << c.text.size();
    }
}

TEST(NoticeImages, EveryPictureIsThere)
{
    for (TNoticeImage image : {TNoticeImage::ListWorking, TNoticeImage::ListDone, TNoticeImage::ListFailed,
                               TNoticeImage::NewMail, TNoticeImage::Spam, TNoticeImage::Program})
        EXPECT_FALSE(NoticeImage(image).isNull()) << int(image);
    for (int index : {1, 2, 3})
        EXPECT_FALSE(ListImage(index).isNull()) << index;
    EXPECT_TRUE(ListImage(0).isNull());
}

// --- progress window of a manual check ---

TEST_F(NoticeWindows, ProgressWithOneFailedAccountEndsInTheErrorsForm)
{
    int cancels = 0;
    QPointer<TProgressWindow> w = new TProgressWindow([&] { ++cancels; });
    w->show();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Überprüfe E-Mail-Server..."));
    EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_GE(w->minimumWidth(), 543);
    EXPECT_GE(w->minimumHeight(), 228);
    EXPECT_TRUE(w->Animation()->Running());

    w->Progress(QStringLiteral("anna@pop.example.org"), 0, 0, QString());
    ASSERT_EQ(w->LineCount(), 1);
    EXPECT_EQ(w->LineText(0), QStringLiteral("Prüfe Konto anna@pop.example.org."));
    EXPECT_EQ(w->LineImage(0), 1);
    w->Progress(QStringLiteral("anna@pop.example.org"), 1, 0, QString());
    w->Progress(QStringLiteral("bert@pop.example.net"), 0, 0, QString());
    w->Progress(QStringLiteral("bert@pop.example.net"), 2, 3,
                QStringLiteral("  -ERR [AUTH] Authentication failed.\r\n"));

    ASSERT_EQ(w->LineCount(), 2);
    EXPECT_EQ(w->LineText(0), QStringLiteral("Prüfung Konto anna@pop.example.org abgeschlossen."));
    EXPECT_EQ(w->LineImage(0), 2);
    EXPECT_EQ(w->LineText(1), QStringLiteral("Prüfung Konto bert@pop.example.net fehlerhaft. Fehler -ERR [AUTH] "
                                             "Authentication failed.; Fehlernummer: 3"));
    EXPECT_EQ(w->LineImage(1), 3);
    EXPECT_TRUE(w->HasFailedLines());

    // The check is still running: the window refuses to close.
    EXPECT_FALSE(w->close());
    EXPECT_TRUE(w->isVisible());

    w->ShowFinishedWithErrors();
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Überprüfung der E-Mail-Server mit Fehlern beendet."));
    EXPECT_EQ(w->Button()->text(), QStringLiteral("Fenster schließen"));
    EXPECT_TRUE(w->Button()->isEnabled());
    EXPECT_FALSE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(w->Animation()->Running());
    EXPECT_EQ(w->LineCount(), 2) << "the lines stay for the user to read";

    // Its button now closes the window, which frees itself, without cancelling anything.
    w->Button()->click();
    FlushDeletes();
    EXPECT_TRUE(w.isNull());
    EXPECT_EQ(cancels, 0);
    EXPECT_NE(StoredValue(QStringLiteral("UserPOP3CheckInfoWindowPosition"), QStringLiteral("Width")),
              QStringLiteral("<none>"));
}

TEST_F(NoticeWindows, ProgressLineTextsTakeAccountAndErrorAsTheyStand)
{
    // A "%" in an account or a server's reply must not be read as a place holder.
    auto *w = new TProgressWindow(nullptr);
    w->Progress(QStringLiteral("a%1b@host%2"), 0, 0, QString());
    w->Progress(QStringLiteral("a%1b@host%2"), 2, -1, QStringLiteral("%3 100% kaputt"));
    EXPECT_EQ(w->LineText(0), QStringLiteral("Prüfung Konto a%1b@host%2 fehlerhaft. Fehler %3 100% kaputt; "
                                             "Fehlernummer: -1"));
    // A repeated report of the start of a check leaves the line as it is.
    w->Progress(QStringLiteral("c@host"), 0, 0, QString());
    w->Progress(QStringLiteral("c@host"), 0, 0, QString());
    EXPECT_EQ(w->LineCount(), 2);
    EXPECT_EQ(w->LineImage(1), 1);
    EXPECT_TRUE(w->HasFailedLines());
    w->CloseWindow();
}

TEST_F(NoticeWindows, ProgressCancelButtonCallsOnceAndComesBackForTheNextAccount)
{
    int cancels = 0;
    QPointer<TProgressWindow> w = new TProgressWindow([&] { ++cancels; });
    w->show();
    w->Progress(QStringLiteral("anna@pop.example.org"), 0, 0, QString());
    ASSERT_TRUE(w->Button()->isEnabled());
    EXPECT_EQ(w->Button()->text(), QStringLiteral("Prüfung des aktuellen Kontos abbrechen"));

    w->Button()->click();
    EXPECT_EQ(cancels, 1);
    EXPECT_FALSE(w->Button()->isEnabled());
    w->Button()->click(); // disabled: no second cancel
    EXPECT_EQ(cancels, 1);

    w->Progress(QStringLiteral("anna@pop.example.org"), 3, 0, QString());
    EXPECT_FALSE(w->Button()->isEnabled());
    w->Progress(QStringLiteral("bert@pop.example.net"), 0, 0, QString());
    EXPECT_TRUE(w->Button()->isEnabled()) << "each account can be given up";

    // The single column fills the list less a scroll arrow's width and 2 pixels, also after resizing.
    const int arrow = w->List()->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, w->List());
    w->resize(700, 400);
    QApplication::processEvents();
    EXPECT_EQ(w->List()->header()->sectionSize(0), w->List()->viewport()->width() - arrow - 2);

    w->Progress(QStringLiteral("bert@pop.example.net"), 1, 0, QString());
    // The user's own choice, not an error: the window need not stay open for it.
    EXPECT_EQ(w->LineText(0), QStringLiteral("Prüfung Konto anna@pop.example.org abgebrochen."));
    EXPECT_EQ(w->LineImage(0), 2);
    EXPECT_EQ(w->LineImage(1), 2);
    EXPECT_FALSE(w->HasFailedLines());
    w->CloseWindow();
    FlushDeletes();
    EXPECT_TRUE(w.isNull());
}

// --- progress window of a deletion run ---

TEST_F(NoticeWindows, DeleteProgressLinesAndClosing)
{
    QPointer<TDeleteProgressWindow> w = new TDeleteProgressWindow;
    w->show();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Löschen von E-Mails"));
    EXPECT_EQ(w->List()->headerItem()->text(0), QStringLiteral("E-Mail-Konto"));
    EXPECT_EQ(w->List()->headerItem()->text(1), QStringLiteral("Lösche E-Mail..."));
    EXPECT_TRUE(w->Animation()->Running());

    const int first = w->AddAccountLine(QStringLiteral("anna@pop.example.org"));
    EXPECT_EQ(w->LineStatus(first), QStringLiteral("Konnektiere Server..."));
    EXPECT_EQ(w->LineImage(first), 1);
    w->SetLineStatus(first, QStringLiteral("2"));
    w->SetLineStatus(first, QStringLiteral("5"));
    w->SetLineImage(first, 2);
    w->SetLineStatus(first, QStringLiteral("Verbindung zum Server beendet."));
    const int second = w->AddAccountLine(QStringLiteral("bert@pop.example.net"));
    EXPECT_EQ(second, first + 1);
    EXPECT_EQ(w->List()->currentItem(), w->List()->topLevelItem(second)) << "the newest account is selected";

    EXPECT_EQ(w->LineAccount(first), QStringLiteral("anna@pop.example.org"));
    EXPECT_EQ(w->LineStatus(first), QStringLiteral("Verbindung zum Server beendet."));
    EXPECT_EQ(w->LineImage(first), 2);
    EXPECT_EQ(w->LineImage(second), 1);

    // The user cannot close it while the run goes on; the run closes it.
    EXPECT_FALSE(w->close());
    EXPECT_TRUE(w->isVisible());
    w->StopAnimation();
    EXPECT_FALSE(w->Animation()->Running());
    w->CloseWindow();
    FlushDeletes();
    EXPECT_TRUE(w.isNull());
    EXPECT_NE(StoredValue(QStringLiteral("DeleteMailsDlgWindowPosition"), QStringLiteral("Left")),
              QStringLiteral("<none>"));
}

// --- wait window ---

QString CountdownText(int seconds)
{
    return QStringLiteral("Der letzte Löschversuch wurde vom POP3-Server wegen zu zeitnahem Zugriffs abgelehnt. "
                          "Quarvel wird jetzt %1 Sekunden warten und danach einen erneuten Versuch unternehmen."
                          "\n\nBitte haben Sie etwas Geduld...")
        .arg(seconds);
}

TEST_F(NoticeWindows, CountdownStartsOneHigherAndClosesItselfBelowZero)
{
    QPointer<TWaitWindow> w = new TWaitWindow;
    w->StartCountdown(2);
    w->show();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Einen Moment..."));
    EXPECT_EQ(w->Text(), CountdownText(3));

    EXPECT_FALSE(w->close());
    PressEscape(w);
    EXPECT_TRUE(w->isVisible()) << "the user cannot close it";

    for (int expected : {2, 1, 0}) {
        w->CountdownTick();
        ASSERT_FALSE(w.isNull());
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(w->Text(), CountdownText(expected));
    }
    w->CountdownTick();
    FlushDeletes();
    EXPECT_TRUE(w.isNull());
}

TEST_F(NoticeWindows, WaitingForACheckClosesOnlyWhenFinished)
{
    QPointer<TWaitWindow> w = new TWaitWindow;
    w->show();
    EXPECT_EQ(w->Text(),
              QStringLiteral("Quarvel überprüft gerade Ihre externen Postfächer. \nUm die Sperrung des Postfachs "
                             "durch einen Abbruch der Verbindung bei Anzeige des Hauptfensters oder Änderung der "
                             "Konfiguration zu vermeiden wurde die letzte Aktion vorübergehend unterbrochen.\n"
                             "Sobald die Prüfung der externen Postfächer beendet wurde, wird dieses Fenster "
                             "geschlossen und Sie können mit Quarvel weiterarbeiten."));
    EXPECT_FALSE(w->Counting());
    EXPECT_FALSE(w->close());
    w->CountdownTick(); // no count-down: nothing happens
    EXPECT_TRUE(w->isVisible());
    w->CloseWindow();
    FlushDeletes();
    EXPECT_TRUE(w.isNull());
}

// --- spam notice ---

TEST_F(NoticeWindows, SpamNoticeCountsAndButtons)
{
    enum Way { ShowMessages, DeleteSpam, CloseButton, Escape, Enter };
    const struct Case {
        const char *name;
        Way way;
        int shows;
        int deletes;
    } cases[] = {
        {"E-Mails anzeigen", ShowMessages, 1, 0},
        {"Spam-Mails löschen", DeleteSpam, 0, 1},
        {"Schließen", CloseButton, 0, 0},
        {"Escape", Escape, 0, 0},
        // A stray Enter must not delete mail on the server unseen.
        {"Enter", Enter, 1, 0},
    };
    for (const Case &c : cases) {
        QPointer<TSpamNotice> n = new TSpamNotice(10, 3);
        int shows = 0, deletes = 0, closed = 0;
        bool visibleInCallback = false;
        n->OnShowMails = [&] {
            ++shows;
            visibleInCallback = n && n->isVisible();
        };
        n->OnDeleteSpam = [&] {
            ++deletes;
            visibleInCallback = n && n->isVisible();
        };
        n->OnClosed = [&] { ++closed; };
        n->show();
        EXPECT_EQ(n->windowTitle(), QStringLiteral("Automatisches Löschen von Spam-Mails"));
        EXPECT_EQ(n->Heading(), QStringLiteral("Sie haben 10 neue Nachrichten."));
        EXPECT_EQ(n->TotalText(), QStringLiteral("10"));
        EXPECT_EQ(n->SpamText(), QStringLiteral("3"));
        EXPECT_EQ(n->RemainingText(), QStringLiteral("7"));
        EXPECT_EQ(n->ShowMailsButton()->text(), QStringLiteral("E-Mails anzeigen"));
        EXPECT_EQ(n->DeleteSpamButton()->text(), QStringLiteral("Spam-Mails löschen"));
        EXPECT_EQ(n->CloseButton()->text(), QStringLiteral("Schließen"));

        switch (c.way) {
        case ShowMessages:
            n->ShowMailsButton()->click();
            break;
        case DeleteSpam:
            n->DeleteSpamButton()->click();
            break;
        case CloseButton:
            n->CloseButton()->click();
            break;
        case Escape:
            PressEscape(n);
            break;
        case Enter:
            PressKey(n, Qt::Key_Return);
            break;
        }
        EXPECT_EQ(shows, c.shows) << c.name;
        EXPECT_EQ(deletes, c.deletes) << c.name;
        EXPECT_EQ(closed, 1) << c.name;
        EXPECT_FALSE(visibleInCallback) << c.name << ": closed before its action runs";
        FlushDeletes();
        EXPECT_TRUE(n.isNull()) << c.name << ": a closed notice is gone";
    }
}

// --- new-mail notice ---

TEST_F(NoticeWindows, NewMailNoticeButtons)
{
    const struct Case {
        const char *name;
        bool showStartsCheck;
        bool pressShow;
        QStringList calls;
    } cases[] = {
        {"Anzeigen... after a header check", false, true, {"main", "closed"}},
        {"Anzeigen... after a count-only check", true, true, {"main", "check", "closed"}},
        {"Schließen", false, false, {"icon", "closed"}},
        {"Schließen, check flag set", true, false, {"icon", "closed"}},
    };
    for (const Case &c : cases) {
        QPointer<TNewMailNotice> n = new TNewMailNotice(4, c.showStartsCheck);
        QStringList calls;
        bool hiddenForMain = false;
        n->OnShowMainWindow = [&] {
            calls << QStringLiteral("main");
            hiddenForMain = n && !n->isVisible();
        };
        n->OnStartCheck = [&] { calls << QStringLiteral("check"); };
        n->OnRemoveMailIcon = [&] { calls << QStringLiteral("icon"); };
        n->OnClosed = [&] { calls << QStringLiteral("closed"); };
        n->show();
        EXPECT_EQ(n->windowTitle(), QStringLiteral("Sie haben Post!"));
        EXPECT_EQ(n->Text(), QStringLiteral("Sie haben 4 Nachricht(en) in Ihren Postfäch(ern)."));
        EXPECT_TRUE(n->windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_EQ(n->parentWidget(), nullptr);

        (c.pressShow ? n->ShowButton() : n->CloseButton())->click();
        EXPECT_EQ(calls, c.calls) << c.name;
        if (c.pressShow) {
            EXPECT_TRUE(hiddenForMain) << c.name << ": the notice hides before the main window comes up";
        }
        FlushDeletes();
        EXPECT_TRUE(n.isNull()) << c.name;
    }
}

TEST_F(NoticeWindows, NewMailNoticeClosedByTheCheckItStarted)
{
    // The manual check started by "Anzeigen..." closes an open notice before it may open a new one.
    QPointer<TNewMailNotice> n = new TNewMailNotice(2, true);
    int closed = 0;
    n->OnStartCheck = [&] {
        n->close();
        FlushDeletes();
    };
    n->OnClosed = [&] { ++closed; };
    n->show();
    n->ShowButton()->click();
    FlushDeletes();
    EXPECT_TRUE(n.isNull());
    EXPECT_EQ(closed, 1);
}

// --- the message box ---

// A server's reply (in direct sending, any mail exchanger's) reaches the box as it stands: markup in it
// is shown as written, never rendered as a link.
TEST(MessageBox, ShowsMarkupFromOutsideAsWritten)
{
    const QString reply =
        QStringLiteral("550 <a href=\"http://evil.example/\"><b>Passwort abgelaufen – hier bestätigen</b></a>");
    const struct {
        const char *name;
        QString text;
        QString shown;
    } cases[] = {
        {"a link", reply, reply},
        {"a link after a line break", QStringLiteral("Fehler:\r\n") + reply, QStringLiteral("Fehler:\n") + reply},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QString shownText;
        Qt::TextFormat format = Qt::AutoText;
        onNextDialog<QMessageBox>([&](QMessageBox *box) {
            if (const QLabel *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
                format = label->textFormat();
            shownText = box->text();
            box->button(QMessageBox::Ok)->click();
        });
        TQtMessageBox handler;
        EXPECT_EQ(handler.Show(c.text, QStringLiteral("Fehler"), MsgError, BtnOK), int(IDOK));
        EXPECT_EQ(format, Qt::PlainText);
        EXPECT_EQ(shownText, c.shown);
    }
}

} // namespace
