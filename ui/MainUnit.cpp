#include "MainUnit.h"

#include "AddToFilterDlgUnit.h"
#include "CfgDlgUnit.h"
#include "AnswerMailDlgUnit.h"
#include "CertificateTrustDialog.h"
#include "CheckBoxGrid.h"
#include "ConnectionMonitorUnit.h"
#include "DeletionLogWindow.h"
#include "FilterRules.h"
#include "QuarvelIcons.h"
#include "DateFormat.h"
#include "KeyringPasswords.h"
#include "MailClientLaunch.h"
#include "MailDeletion.h"
#include "MessageText.h"
#include "MessageListUnit.h"
#include "MsgBox.h"
#include "NewMailSms.h"
#include "POP3CfgUnit.h"
#include "Notices.h"
#include "PasswordPromptDialog.h"
#include "ProviderSignIn.h"
#include "ProgressWindows.h"
#include "POP3Check.h"
#include "Paths.h"
#include "RegistrySettingsUnit.h"
#include "SPAMFilterDlgUnit.h"
#include "SpamDetectorUnit.h"
#include "SpamFilterClassUnit.h"
#include "TrayIcon.h"
#include "ZirpelSendClassUnit.h"
#include "JobThread.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSoundEffect>
#include <QSplitter>
#include <QStatusBar>
#include <QScreen>
#include <QScrollBar>
#include <QSysInfo>
#include <QSystemTrayIcon>
#include <QTextBrowser>
#include <QTime>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

namespace {

const QString kFirstStartInfo = QStringLiteral(
    "Quarvel wurde das erste Mail gestartet. Ihnen werden nach und nach Fragen zur Einrichtung gestellt und Sie "
    "können die entsprechenden Optionen einrichten.\r\rBeim nächsten Programmstart, wird sich Quarvel sofort als "
    "Symbol in der Taskleiste neben der Uhr platzieren und Ihr(e) Postfächer überprüfen.");
const QString kNineBlanks = QStringLiteral("         ");
constexpr int kSplitterMin = 50;
constexpr int kMailIconStepMs = 800;
// How long the end of the program waits for an operation to unwind.
constexpr int kQuitGraceMs = 1000;

QAction *makeAction(QObject *owner, const QString &caption, const QString &hint = QString(),
                    const QKeySequence &keys = QKeySequence())
{
    auto *a = new QAction(caption, owner);
    // Toolbar buttons show the icon text, which Qt would derive by dropping the "..." of the caption.
    QString buttonText = caption;
    a->setIconText(buttonText.remove(QLatin1Char('&')));
    if (!hint.isEmpty()) {
        a->setToolTip(hint);
        a->setStatusTip(hint);
    }
    if (!keys.isEmpty())
        a->setShortcut(keys);
    return a;
}

} // namespace

TMain::TMain(TMainOptions options, QWidget *parent)
    : QMainWindow(parent), m_options(std::move(options)), m_placement(this)
{
    Creating = true;
    // 1. Caption, settings, rules.
    setWindowTitle(kMainCaption);
    QApplication::setApplicationDisplayName(kMainCaption);
    setMinimumSize(320, 400);
    setWindowIcon(::ProgramIcon());
    m_settings = std::make_unique<TRegistrySettings>();
    m_settings->Load();
    m_filters = std::make_unique<TSpamFilterClass>(*m_settings);
    m_filters->LoadFilters();

    createActions();
    createLayout();
    // 2. Tray icons.
    createTrayIcons();
    // 3. Placement. Without a stored one the window comes centred in its first size.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        resize(FirstSize(screen->availableGeometry()));
    m_placement.InifileName = kProgramKey;
    m_placement.SectionName = QStringLiteral("WindowPosition");
    m_placement.AllowMaximized = true;
    m_placement.RestorePlacement();

    // 4. SMS sender, detector, coordinator.
    m_sms = std::make_unique<TZirpelSendClass>();
    m_smsThread = std::make_unique<TJobThread>();
    m_smsThread->SetAbort([sms = m_sms.get()] { sms->Abort(); });
    m_detector = std::make_unique<TSpamDetector>(m_settings->Settings);
    TPop3Options pop3;
    if (m_options.AdjustPop3)
        m_options.AdjustPop3(pop3);
    m_checker = std::make_unique<TPOP3Checker>(*m_settings, *m_detector, *this, pop3);
    wireCoordinator();
    m_checker->UIDFile = m_settings->GetDataFolder() + QStringLiteral("uids.dat");
    m_checker->LoadKnownUIDs();
    // Enciphered passwords move into the keyring in the background; once there, the accounts are read anew.
    m_missingPasswords = std::make_unique<TMissingPasswords>();
    m_signInRenewals = std::make_unique<TSignInRenewals>();
    m_missingPasswords->OnStoreFailed = [this](const QString &text) { m_status[0]->setText(text); };
    m_passwordMigration = new TPasswordMigration(this);
    connect(m_passwordMigration, &TPasswordMigration::Finished, this, [this](const TPasswordMove &moved) {
        if (moved.Moved > 0)
            reloadAccounts();
    });
    m_passwordMigration->Start();

    // 5./6. Start hidden; program icon; commands and widths. Whether there is a tray area to start hidden
    // in is asked now and again later: a panel may start after the program.
    m_trayAvailable = m_options.TrayAvailable ? m_options.TrayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
    m_trayWatch = new QTimer(this);
    m_trayWatch->setInterval(std::max(m_options.TrayWatchMs, 100));
    connect(m_trayWatch, &QTimer::timeout, this, &TMain::CheckTrayArea);
    m_trayWatch->start();
    m_programIcon->SetActive(true);
    RefreshCommands();
    m_list->ApplyColumnWidths(m_settings->Settings.ColWidths);

    // 7. Text pane, bottom panel, timed checking off, tooltip.
    m_textPane->setPlainText(kHeaderHint);
    // The bottom panel's height is set once the window has its real size (showEvent); a resize then
    // goes to the list.
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 0);
    m_checker->SetActive(false);
    m_programIcon->SetTooltip(QStringLiteral("Quarvel aktiv"));

    // 8. Not connected until the monitor says so.
    setOnlineLamp(false);

    // 9. Connection monitor.
    m_monitor = std::make_unique<TConnectionMonitor>(m_options.RasApi ? m_options.RasApi() : nullptr);
    m_monitor->OnOnline = [this](TConnectionMonitor *) { onOnline(); };
    m_monitor->OnOffline = [this](TConnectionMonitor *) { onOffline(); };
    m_monitor->SetConnectionType(m_settings->Settings.ConnectionType);
    m_monitor->SetActive(true);

    // 10.
    RefreshCommands();
    SetMessageCount(-1);
    m_status[0]->setText(kStatusReady);
    Creating = false;
}

QSize TMain::FirstSize(const QRect &available) const
{
    // Every column of the list without a horizontal scroll bar, and every command of the toolbars'
    // row without the overflow button; as high as a list of a few dozen messages wants.
    int toolbars = 0;
    for (QToolBar *bar : findChildren<QToolBar *>(QString(), Qt::FindDirectChildrenOnly))
        if (toolBarArea(bar) == Qt::TopToolBarArea)
            toolbars += bar->sizeHint().width();
    const int list = m_list->FullWidth();
    const QMargins frame = contentsMargins();
    const QSize wanted(std::max(list, toolbars) + frame.left() + frame.right() + 8, 640);
    // The window's frame takes a little of the screen too.
    const QSize room = (available.size() - QSize(16, 48)).expandedTo(minimumSize());
    return wanted.boundedTo(room).expandedTo(minimumSize());
}

TMain::~TMain()
{
    // A window never shown has no height of its own to keep.
    if (m_splitterApplied)
        m_settings->Settings.SplitterPosition = m_bottomPanel->height();
    m_monitor->OnOnline = nullptr;
    m_monitor->OnOffline = nullptr;
    m_monitor->SetActive(false);
    m_checker->SetActive(false);
    m_settings->SaveSplitterPosition();
    m_mailIcon->SetActive(false);
    m_programIcon->SetActive(false);
    m_placement.SavePlacement();
    m_checker->SaveKnownUIDs();
    // The coordinator ends the worker thread; its handlers may still reach the windows until then.
    // The log window reads the coordinator's log: it goes first.
    delete m_logWindow.data();
    m_checker.reset();
    for (QWidget *w : {static_cast<QWidget *>(m_progress.data()), static_cast<QWidget *>(m_newMailNotice.data()),
                       static_cast<QWidget *>(m_spamNotice.data()), static_cast<QWidget *>(m_waitWindow.data())})
        delete w;
}

TProgressWindow *TMain::ProgressWindow() const
{
    return m_progress.data();
}

TSpamNotice *TMain::SpamNotice() const
{
    return m_spamNotice.data();
}

TNewMailNotice *TMain::NewMailNotice() const
{
    return m_newMailNotice.data();
}

TDeletionLogWindow *TMain::DeletionLogWindow() const
{
    return m_logWindow.data();
}

QLabel &TMain::StatusField(int n)
{
    return *m_status[qBound(1, n, 4) - 1];
}

void TMain::createActions()
{
    actExit = makeAction(this, QStringLiteral("Be&enden"), QStringLiteral("Beendet Quarvel."),
                         QKeySequence(Qt::ALT | Qt::Key_F4));
    actCheck = makeAction(this, QStringLiteral("  Auf neue E-Mails jetzt prüfen  "),
                          QStringLiteral("Überprüfung der POP3-Postfächer auf neue Mail jetzt durchführen."));
    actMailClient = makeAction(this, QStringLiteral("  E-Mail-Programm öffnen  "),
                               QStringLiteral("Öffnet das Standard-E-Mail-Programm."));
    actConfig = makeAction(this, QStringLiteral("Programm&konfiguration..."), QString(), QKeySequence(Qt::CTRL | Qt::Key_O));
    actAccounts = makeAction(this, QStringLiteral("POP&3-Postfächer..."), QString(), QKeySequence(Qt::CTRL | Qt::Key_3));
    actFilters = makeAction(this, QStringLiteral("Spam-&Filter..."), QString(), QKeySequence(Qt::CTRL | Qt::Key_F));
    actHelp = makeAction(this, QStringLiteral("Hilfe"), QStringLiteral("Hilfe öffnen"));
    actInfo = makeAction(this, QStringLiteral("Info..."));
    actShow = makeAction(this, QStringLiteral("Anzeigen"));
    actMinimize = makeAction(this, QStringLiteral("Minimieren"));
    actThanks = makeAction(this, QStringLiteral("Danke, ich habe es bemerkt!"));
    actDeleteChecked = makeAction(this, QStringLiteral(" Markierte E-Mails löschen "),
                                  QStringLiteral("Löscht alle E-Mails die gewählt wurden."));
    actSelectAll = makeAction(this, QStringLiteral(" Alle E-Mails wählen  "), QStringLiteral("Selektiert alle E-Mails."));
    actSelectNone = makeAction(this, QStringLiteral(" Keine E-Mails wählen  "), QStringLiteral("Deselektiert alle E-Mails."));
    actDelete = makeAction(this, QStringLiteral(" E-Mail löschen  "), QStringLiteral("Löscht die gewählte E-Mail."));
    actFetchText = makeAction(this, QStringLiteral(" E-Mail-Text vom Server holen  "),
                              QStringLiteral("Zeigt den E-Mail-Text zur gewählten E-Mail."));
    actToFilter = makeAction(this, QStringLiteral(" In Spam-Filter...   "), QStringLiteral("Nimmt die E-Mail in den Spam-Fiter auf."));
    actReply = makeAction(this, QStringLiteral("Antworten..."));
    actCopy = makeAction(this, QStringLiteral("Kopieren"));
    actSelectText = makeAction(this, QStringLiteral("Alles markieren"));
    actTrayCheck = makeAction(this, QStringLiteral("Prüfe auf neue E-Mail..."));
    actMailTrayShow = makeAction(this, QStringLiteral("Zeige die neue(n) Nachricht(en)..."));
    actMailTrayClient = makeAction(this, QStringLiteral("E-Mail Client öffnen..."));
    actTrayConfig = makeAction(this, QStringLiteral("Konfiguration öffnen..."));
    actTrayAccounts = makeAction(this, QStringLiteral("POP3-Postfächer öffnen..."));
    actTrayFilters = makeAction(this, QStringLiteral("Spam-Filter..."));
    actTrayExit = makeAction(this, QStringLiteral("Quarvel beenden"));
    actListDelete = makeAction(this, QStringLiteral("E-Mail löschen"));
    actListToFilter = makeAction(this, QStringLiteral("In Spam-Filter..."));
    actDeletionLog = makeAction(this, QStringLiteral("&Gelöschte E-Mails..."), QString(), QKeySequence(Qt::CTRL | Qt::Key_L));
    actTrayDeletionLog = makeAction(this, QStringLiteral("Gelöschte E-Mails..."));
    actListNeverSpam = makeAction(this, QStringLiteral("Absender nie als Spam"));

    // The toolbars' pictures: the desktop's theme first, the program's own where it has none.
    const struct {
        QAction *action;
        const char *theme;
        const char *own;
    } pictures[] = {
        {actExit, "application-exit", "exit"},
        {actCheck, "mail-receive", "check"},
        {actMailClient, "internet-mail", "mailclient"},
        {actHelp, "help-contents", "help"},
        {actDeleteChecked, "edit-delete", "delete-checked"},
        {actSelectAll, "edit-select-all", "select-all"},
        {actSelectNone, "edit-select-none", "select-none"},
        {actFetchText, "mail-read", "fetch-text"},
        {actDelete, "edit-delete", "delete"},
        {actToFilter, "mail-mark-junk", "to-filter"},
        {actReply, "mail-reply-sender", "reply"},
    };
    for (const auto &p : pictures)
        p.action->setIcon(ToolIcon(QLatin1String(p.theme), QLatin1String(p.own)));

    for (QAction *a : {actExit, actTrayExit})
        connect(a, &QAction::triggered, this, &TMain::QuitProgram);
    for (QAction *a : {actCheck, actTrayCheck, actMailTrayShow})
        connect(a, &QAction::triggered, this, &TMain::ManualCheck);
    for (QAction *a : {actMailClient, actMailTrayClient})
        connect(a, &QAction::triggered, this, &TMain::LaunchMailClient);
    for (QAction *a : {actConfig, actTrayConfig})
        connect(a, &QAction::triggered, this, &TMain::OpenConfigDialog);
    for (QAction *a : {actAccounts, actTrayAccounts})
        connect(a, &QAction::triggered, this, [this] {
            if (!raiseOpenModal())
                OpenAccountsDialog();
        });
    connect(actHelp, &QAction::triggered, this, &TMain::OpenHelp);
    connect(actInfo, &QAction::triggered, this, &TMain::ShowInfo);
    connect(actShow, &QAction::triggered, this, &TMain::ShowMainWindow);
    connect(actMinimize, &QAction::triggered, this, &TMain::MinimizeToTray);
    connect(actThanks, &QAction::triggered, this, &TMain::MailNoticed);
    for (QAction *a : {actDelete, actListDelete})
        connect(a, &QAction::triggered, this, &TMain::DeleteSelected);
    connect(actDeleteChecked, &QAction::triggered, this, [this] { DeleteChecked(true); });
    connect(actSelectAll, &QAction::triggered, this, [this] { CheckAll(true); });
    connect(actSelectNone, &QAction::triggered, this, [this] { CheckAll(false); });
    connect(actFetchText, &QAction::triggered, this, [this] { ShowMessageText(); });
    for (QAction *a : {actFilters, actTrayFilters})
        connect(a, &QAction::triggered, this, &TMain::OpenFilterDialog);
    for (QAction *a : {actToFilter, actListToFilter})
        connect(a, &QAction::triggered, this, &TMain::MakeFilterFromMessage);
    connect(actReply, &QAction::triggered, this, &TMain::AnswerMail);
    for (QAction *a : {actDeletionLog, actTrayDeletionLog})
        connect(a, &QAction::triggered, this, &TMain::OpenDeletionLog);
    connect(actListNeverSpam, &QAction::triggered, this, &TMain::NeverSpamFromMessage);
    actMinimize->setEnabled(false);
}

void TMain::createLayout()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("&Datei"));
    file->addAction(actExit);
    QMenu *view = menuBar()->addMenu(QStringLiteral("&Ansicht"));
    view->addAction(actDeletionLog);
    QMenu *config = menuBar()->addMenu(QStringLiteral("&Konfiguration"));
    config->addAction(actConfig);
    config->addAction(actAccounts);
    config->addAction(actFilters);
    QMenu *help = menuBar()->addMenu(QStringLiteral("&?"));
    help->addAction(actHelp);
    help->addAction(actInfo);

    QToolBar *main = addToolBar(QStringLiteral("Programm"));
    main->setObjectName(QStringLiteral("ProgramToolBar"));
    main->addAction(actExit);
    main->addAction(actCheck);
    main->addAction(actMailClient);
    main->addAction(actHelp);
    QToolBar *listBar = addToolBar(QStringLiteral("E-Mails"));
    listBar->setObjectName(QStringLiteral("ListToolBar"));
    listBar->addAction(actDeleteChecked);
    listBar->addAction(actSelectAll);
    listBar->addAction(actSelectNone);
    // Toolbar buttons show their picture and the command's caption beside it.
    for (QToolBar *bar : {main, listBar}) {
        bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        bar->setIconSize(QSize(16, 16));
        bar->setMovable(false);
    }
    // The menu entry reads "Be&enden"; the toolbar button "  Beenden  ".
    if (auto *w = main->widgetForAction(actExit))
        if (auto *b = qobject_cast<QToolButton *>(w))
            b->setText(QStringLiteral("  Beenden  "));
    if (auto *w = main->widgetForAction(actHelp))
        if (auto *b = qobject_cast<QToolButton *>(w))
            b->setText(QStringLiteral(" Hilfe "));

    m_splitter = new QSplitter(Qt::Vertical, this);
    m_splitter->setHandleWidth(3);
    m_splitter->setChildrenCollapsible(false);
    m_list = new TMessageListView(m_splitter);
    m_splitter->addWidget(m_list->Grid());
    m_bottomPanel = new QWidget(m_splitter);
    m_bottomPanel->setMinimumHeight(kSplitterMin);
    auto *bottom = new QVBoxLayout(m_bottomPanel);
    bottom->setContentsMargins(0, 0, 0, 0);
    auto *textBar = new QToolBar(m_bottomPanel);
    textBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    textBar->setIconSize(QSize(16, 16));
    textBar->addAction(actFetchText);
    textBar->addAction(actDelete);
    textBar->addAction(actToFilter);
    textBar->addAction(actReply);
    bottom->addWidget(textBar);
    m_textPane = new QTextBrowser(m_bottomPanel);
    m_textPane->setReadOnly(true);
    m_textPane->setOpenLinks(false);
    m_textPane->setLineWrapMode(QTextEdit::NoWrap);
    m_textPane->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_textPane, &QTextBrowser::anchorClicked, this, [](const QUrl &url) { OpenWithShell(url.toString()); });
    connect(m_textPane, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        // Only a pane with more than two lines offers the menu.
        if (m_textPane->document()->blockCount() <= 2)
            return;
        actCopy->setEnabled(m_textPane->textCursor().hasSelection());
        QMenu menu(this);
        menu.addAction(actCopy);
        menu.addAction(actSelectText);
        menu.exec(m_textPane->viewport()->mapToGlobal(pos));
    });
    connect(actCopy, &QAction::triggered, m_textPane, &QTextBrowser::copy);
    connect(actSelectText, &QAction::triggered, m_textPane, &QTextBrowser::selectAll);
    bottom->addWidget(m_textPane);
    m_splitter->addWidget(m_bottomPanel);
    m_list->Grid()->setMinimumHeight(kSplitterMin);
    setCentralWidget(m_splitter);

    m_listMenu = new QMenu(this);
    m_listMenu->addAction(actListDelete);
    m_listMenu->addAction(actListToFilter);
    m_listMenu->addAction(actListNeverSpam);

    const int widths[4] = {150, 250, 150, 13};
    for (int i = 0; i < 4; ++i) {
        m_status[i] = new QLabel(this);
        m_status[i]->setMinimumWidth(widths[i]);
        statusBar()->addWidget(m_status[i], i == 3 ? 1 : 0);
    }
    m_lamp = new QLabel(this);
    m_lamp->setFixedSize(13, 13);
    statusBar()->insertWidget(3, m_lamp);

    m_list->OnCurrentRowClicked = [this] { ShowHeader(); };
    m_list->OnCurrentRowChanged = [this] { currentRowChanged(); };
    m_list->OnCheckChanged = [this] {
        actDeleteChecked->setEnabled(serverCommandsFree() && m_list->AnyChecked());
    };
    m_list->OnContextMenu = [this](int row, const QPoint &pos) { showListMenu(row, pos); };
    m_list->OnColumnWidthsChanged = [this](const QList<int32_t> &widths) {
        m_settings->Settings.ColWidths = widths;
        m_settings->SaveColWidths();
    };
}

void TMain::createTrayIcons()
{
    m_programMenu = new QMenu(this);
    m_programMenu->addAction(actShow);
    m_programMenu->addAction(actMinimize);
    m_programMenu->addSeparator();
    m_programMenu->addAction(actTrayConfig);
    m_programMenu->addAction(actTrayAccounts);
    m_programMenu->addAction(actTrayFilters);
    m_programMenu->addAction(actTrayDeletionLog);
    m_programMenu->addSeparator();
    m_programMenu->addAction(actTrayCheck);
    m_programMenu->addSeparator();
    m_programMenu->addAction(actTrayExit);

    m_mailMenu = new QMenu(this);
    m_mailMenu->addAction(actThanks);
    m_mailMenu->addSeparator();
    m_mailMenu->addAction(actMailTrayShow);
    m_mailMenu->addSeparator();
    m_mailMenu->addAction(actMailTrayClient);

    m_programIcon = new TTrayIcon(this);
    m_programIcon->SetNormalImage(::ProgramIcon());
    m_programIcon->SetMenu(m_programMenu);
    m_programIcon->OnClick = [this] { ShowMainWindow(); };

    m_mailIcon = new TTrayIcon(this);
    // Normal "WMAIL1"; animation: blank, "WMAIL2", blank, then the normal image.
    m_mailIcon->SetNormalImage(::MailIcon(QStringLiteral("WMAIL1")));
    m_mailIcon->SetAnimationImage(1, ::MailIcon(QStringLiteral("WMAILBLANK")));
    m_mailIcon->SetAnimationImage(2, ::MailIcon(QStringLiteral("WMAIL2")));
    m_mailIcon->SetAnimationImage(3, ::MailIcon(QStringLiteral("WMAILBLANK")));
    m_mailIcon->SetAnimationStep(kMailIconStepMs);
    m_mailIcon->SetMenu(m_mailMenu);
}

void TMain::wireCoordinator()
{
    m_checker->OnRunStart = [this](TPOP3Checker *) {
        m_status[0]->setText(QStringLiteral("Prüfe E-Mail-Server..."));
        // The list must let go of the entries before the worker frees them.
        ClearMessageList();
        RefreshCommands();
        actTrayCheck->setEnabled(false);
    };
    m_checker->OnRunEnd = [this](TPOP3Checker *) {
        m_status[0]->setText(kStatusReady);
        SetMessageCount(-1);
        RefreshCommands();
        m_status[2]->setText(QStringLiteral("Letzte Prüfung: %1").arg(LongTimeText(QTime::currentTime())));
    };
    m_checker->OnOperationChanged = [this](TPOP3Checker *, bool running) {
        updateServerCommands();
        if (!running && m_quitRequested)
            // Out of the handler that ended the operation first.
            QMetaObject::invokeMethod(this, [this] { finishQuit(); }, Qt::QueuedConnection);
    };
    m_checker->OnCheckDone = [this](TPOP3Checker *, bool) { onCheckDone(); };
    connect(m_checker.get(), &TPOP3Checker::DeletionLogged, this, [this] {
        if (m_logWindow)
            m_logWindow->Reload();
    });
    m_checker->OnNewMails = [this](TPOP3Checker *, const QList<TMailEntry *> &entries) { onNewMails(entries); };
}

void TMain::setOnlineLamp(bool online)
{
    const QString text = online ? kOnlineText : kOfflineText;
    m_lamp->setPixmap(OnlineLamp(online, devicePixelRatioF()));
    m_lamp->setToolTip(text);
    m_status[3]->setToolTip(text);
    m_status[3]->setText(kNineBlanks + text);
}

bool TMain::inBackground() const
{
    return !isVisible() || isMinimized();
}

void TMain::updateTimedChecking()
{
    m_checker->SetActive(Online && inBackground());
}

void TMain::CheckTrayArea()
{
    const bool available = m_options.TrayAvailable ? m_options.TrayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
    if (available == m_trayAvailable)
        return;
    m_trayAvailable = available;
    if (available) {
        m_programIcon->Reinstall();
        m_mailIcon->Reinstall();
        return;
    }
    // The tray went away with the program in it: back to the task bar.
    if (!isVisible() && !m_quitRequested && !Creating)
        showMinimized();
}

void TMain::ShowAtStart()
{
    if (m_settings->Settings.FirstStart)
        ShowMainWindow();
    else if (!m_trayAvailable)
        showMinimized();
}

void TMain::onOnline()
{
    Online = true;
    updateTimedChecking();
    setOnlineLamp(true);
}

void TMain::onOffline()
{
    Online = false;
    m_checker->SetActive(false);
    setOnlineLamp(false);
}

void TMain::onCheckDone()
{
    if (m_waitWindow) {
        m_waitWindow->CloseWindow();
        m_waitWindow = nullptr;
        HideTaskbarButtonIfHidden();
        // The user asked for the window while the timed check ran; it comes now that the check is over.
        if (!m_quitRequested)
            QMetaObject::invokeMethod(this, [this] { ShowMainWindow(); }, Qt::QueuedConnection);
    }
    actTrayCheck->setEnabled(serverCommandsFree() && !m_quitRequested);
}

void TMain::onNewMails(const QList<TMailEntry *> &entries)
{
    const auto notices = NewMailSmsNotices(entries, *m_settings, m_settings->Settings.SMSGateway, !inBackground(),
                                           [](const TMailEntry &e) { return ExtractPlainText(e.Message); });
    // The requests go out on a thread of their own; nobody waits for their answers.
    for (const TSmsNotice &n : notices)
        m_smsThread->Post([sms = m_sms.get(), gateway = m_settings->Settings.SMSGateway, n] {
            TProxySettings proxy; // direct connection
            QString reply;
            sms->SendShortMessage(gateway, n.Text, n.CellNumber, proxy, reply);
        });
}

// --- commands ---

void TMain::ShowMainWindow()
{
    if (isVisible() && !isMinimized()) {
        BringToForeground();
        return;
    }
    HideMailIcon();
    RestoreFromTray();
}

void TMain::MinimizeToTray()
{
    if (!m_trayAvailable) {
        // Nowhere to hide: the task bar keeps the program reachable.
        if (!isMinimized())
            showMinimized();
        updateTimedChecking();
        return;
    }
    // Hidden in its normal state, so that its placement can be saved at exit.
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    hide();
    Online ? updateTimedChecking() : m_checker->SetActive(false);
}

void TMain::updateVisibilityCommands()
{
    // The tray menu follows what the window really is, whoever showed or hid it.
    const bool shown = isVisible() && !isMinimized();
    actShow->setEnabled(!shown);
    actMinimize->setEnabled(shown);
}

void TMain::RestoreFromTray()
{
    // A timed check is never cut short for the window: the user waits for it, and the window comes when
    // it is over.
    if (m_checker->TimedCheckRunning()) {
        if (!m_waitWindow) {
            m_waitWindow = new TWaitWindow();
            m_waitWindow->show();
        }
        return;
    }
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    m_checker->SetActive(false);
    RefreshCommands();
    SetMessageCount(-1);
    if (!m_list->IsEmpty())
        ShowHeader();
    CloseSpamNotice();
}

void TMain::ManualCheck()
{
    // Its commands are disabled while another operation runs; a click that slipped through is dropped
    // before it empties the list the operation works on.
    if (m_checker->OperationRunning() || m_quitRequested)
        return;
    if (!isVisible() || isMinimized())
        RestoreFromTray();
    ClearMessageList();
    SetMessageCount(0);
    m_textPane->setPlainText(kHeaderHint);
    const bool started = m_checker->CheckNow(-1, [this](int shown) {
        RefreshCommands();
        SetMessageCount(shown);
        if (!m_list->IsEmpty())
            ShowHeader();
        HideTaskbarButtonIfHidden();
        // Passwords the keyring could not give are asked for once; with one given, or a certificate just
        // trusted, the check runs again.
        const bool trusted = m_checker->TrustedInLastCheck > 0;
        if (!m_quitRequested
            && (m_missingPasswords->AskPending(m_settings->Settings.Accounts, this) > 0 || trusted))
            QMetaObject::invokeMethod(this, &TMain::ManualCheck, Qt::QueuedConnection);
        // A provider that refused the sign-in's renewal: the user may sign in again, then it is checked.
        else if (!m_quitRequested)
            m_signInRenewals->OfferPending(this, *m_settings, [this] {
                reloadAccounts();
                m_passwordMigration->Start();
                ManualCheck();
            });
    });
    if (!started) {
        RefreshCommands();
        HideTaskbarButtonIfHidden();
    }
}

void TMain::LaunchMailClient()
{
    TMyTools tools;
    LaunchEMailClient(tools, m_settings->Settings.POP3Check.EMailClient);
}

bool TMain::raiseOpenModal()
{
    // The tray menu stays usable while a modal window is open: never stack a second one on it.
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal)
        return false;
    modal->raise();
    modal->activateWindow();
    return true;
}

void TMain::OpenConfigDialog()
{
    // What the options change, an operation may be using: not while one runs.
    if (raiseOpenModal() || !serverCommandsFree() || m_quitRequested)
        return;
    TCfgDlg dialog(*m_settings, *m_filters, *m_monitor, this);
    dialog.exec();
    FollowDataFolder(*m_checker, *m_settings);
    if (m_logWindow)
        m_logWindow->SetLog(m_checker->DeletionLog(), m_checker->RescueCopyFolder());
    m_passwordMigration->Start();
}

void TMain::OpenAccountsDialog()
{
    if (!serverCommandsFree() || m_quitRequested)
        return;
    TPOP3Cfg dialog(*m_settings, *m_checker, [this](const QString &file) { PlaySound(file); }, this);
    dialog.exec();
    if (!dialog.Saved || !dialog.ClosedBySave || m_quitRequested)
        return;
    reloadAccounts();
    m_passwordMigration->Start();
}

void TMain::reloadAccounts()
{
    // The store and the coordinator hold the same list again, so an account's index means the same in both.
    m_settings->LoadPOP3Settings(m_settings->Settings.POP3Check, m_settings->Settings.Accounts);
    m_checker->ReloadConfig();
    updateTimedChecking();
}

void TMain::OpenHelp()
{
    const QString manual = platform::findDataFile(QStringLiteral("manual.htm"));
    if (manual.isEmpty() || !QDesktopServices::openUrl(QUrl::fromLocalFile(manual)))
        ErrorBox(QStringLiteral("Die Hilfedatei \"manual.htm\" konnte nicht geöffnet werden."));
}

void TMain::ShowInfo()
{
    const QString text = QStringLiteral("Quarvel %1\n\nPrüft Ihre POP3-Postfächer und entfernt Spam auf dem Server.\n\n"
                                        "System: %2\nQt: %3\nEinstellungen: %4\nDaten: %5")
                             .arg(kProgramVersion, QSysInfo::prettyProductName(), QString::fromLatin1(qVersion()),
                                  platform::registryFile(platform::RegRoot::CurrentUser), m_settings->GetDataFolder());
    ShowMsgBox(text, QStringLiteral("Info"), MsgInformation, BtnOK);
}

void TMain::QuitProgram()
{
    if (m_quitting)
        return;
    m_quitRequested = true;
    // Boxes an operation would still show are answered as if closed.
    SetMessageBoxesSuppressed(true);
    updateServerCommands();
    if (m_countdown)
        m_countdown->CloseWindow();
    // Every dialog, however many are stacked, gives up: none of them may hold the program open.
    closeAllDialogs();
    if (!m_checker->OperationRunning()) {
        finishQuit();
        return;
    }
    // The operation gives up at once (its job's connection is aborted, its waits end) and unwinds; the
    // program ends when it has, and at the latest after a second.
    m_checker->AbortForQuit();
    QTimer::singleShot(kQuitGraceMs, this, [this] { finishQuit(); });
}

void TMain::closeAllDialogs()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<QDialog *>(w); dialog && dialog->isVisible())
            dialog->reject();
    }
}

void TMain::finishQuit()
{
    if (m_quitting)
        return;
    m_quitting = true;
    m_quitRequested = true;
    SetMessageBoxesSuppressed(true);
    closeAllDialogs();
    // exit(), not quit(): quit() asks every window, and a progress window left open would cancel it. exit()
    // also ends every dialog's own loop. The settings and "uids.dat" are saved when the window is destroyed
    // after the event loop; the worker's job, if any is left, is aborted and waited for then.
    hide();
    QCoreApplication::exit(0);
}

void TMain::MailNoticed()
{
    HideMailIcon();
}

bool TMain::serverCommandsFree() const
{
    return !m_checker || !m_checker->OperationRunning();
}

void TMain::updateServerCommands()
{
    const bool free = serverCommandsFree() && !m_quitRequested;
    // Server commands, and the dialogs that change what an operation uses.
    for (QAction *a : {actCheck, actTrayCheck, actMailTrayShow, actAccounts, actTrayAccounts, actConfig,
                       actTrayConfig, actFilters, actTrayFilters})
        a->setEnabled(free);
    if (m_spamNotice)
        m_spamNotice->DeleteSpamButton()->setEnabled(free);
    if (m_logWindow)
        m_logWindow->SetRuleCommandsEnabled(free);
    if (m_newMailNotice && m_newMailNotice->ShowStartsCheck)
        m_newMailNotice->ShowButton()->setEnabled(free);
    // The list is the job's while one works on its messages: no sorting, refill or removal meanwhile.
    m_list->SetReadOnly(!free && !m_checker->TimedCheckRunning());
    RefreshCommands();
}

void TMain::RefreshCommands()
{
    const bool free = serverCommandsFree() && !m_quitRequested;
    const bool nonEmpty = !m_list->IsEmpty();
    const TMailEntry *current = nonEmpty ? m_list->CurrentEntry() : nullptr;
    actDeleteChecked->setEnabled(free && nonEmpty && m_list->AnyChecked());
    actSelectAll->setEnabled(nonEmpty);
    actSelectNone->setEnabled(nonEmpty);
    for (QAction *a : {actFetchText, actDelete, actListDelete, actReply})
        a->setEnabled(free && current);
    // A rule is made from a message that is not spam already.
    for (QAction *a : {actToFilter, actListToFilter})
        a->setEnabled(free && current && current->State == msNormal);
    actListNeverSpam->setEnabled(free && current && !current->Message.From.Address.isEmpty());
    if (!current) {
        m_textPane->setPlainText(kHeaderHint);
        m_shownEntry = nullptr;
    }
}

void TMain::ShowHeader(bool focusList)
{
    TMailEntry *e = m_list->CurrentEntry();
    if (!e)
        return;
    m_shownEntry = e;
    m_textPane->clear();
    m_textPane->setPlainText(e->Message.HeaderText());
    m_textPane->moveCursor(QTextCursor::Start);
    RefreshCommands();
    if (focusList && isVisible() && m_list->Grid()->isEnabled())
        m_list->Grid()->setFocus();
}

void TMain::currentRowChanged()
{
    // The pane follows the row the single-message commands act on; a fetched text stays while its
    // row stays current.
    if (m_list->CurrentEntry() == m_shownEntry)
        return RefreshCommands();
    if (m_list->CurrentEntry())
        ShowHeader(false);
    else
        RefreshCommands();
}

void TMain::showListMenu(int row, const QPoint &pos)
{
    if (m_list->IsEmpty())
        return;
    m_list->Grid()->SetRow(row);
    // The menu acts on this row: the pane shows it before the menu opens.
    if (m_list->CurrentEntry() != m_shownEntry)
        ShowHeader(false);
    RefreshCommands();
    m_listMenu->popup(pos);
}

// --- deletion ---

namespace {

const QString kDeleteOneQuestion = QStringLiteral("Möchten Sie diese E-Mail wirklich löschen?");
const QString kDeleteOneFailed = QStringLiteral(
    "Die E-Mail konnte nicht gelöscht werden, entweder ist die E-Mail bereits gelöscht, abgeholt oder ein anderes "
    "E-Mail-Programm greift gerade zu. Fehler: %1");
const QString kDeleteManyQuestion =
    QStringLiteral("Sind Sie sicher, dass Sie %1 Nachrichten von Ihren E-Mail-Server(n) löschen möchten?");
const QString kDeleteManyFailed = QStringLiteral(
    "Fehler beim Löschen der E-Mail %1. Der weitere Löschvorgang wird aus Sicherheitsgründen abgebrochen.\r\n"
    "Holen Sie die E-Mails erneut vom Server ab!");

// Follows a deletion run in the progress window. The calls come while the run goes on, on this thread.
class TDeletionView : public IDeletionObserver {
public:
    explicit TDeletionView(TDeleteProgressWindow *window) : m_window(window) {}
    void AccountStarted(const QString &account) override
    {
        if (m_window)
            m_line = m_window->AddAccountLine(account);
    }
    void AccountFinished(const QString &) override
    {
        if (m_window && m_line >= 0) {
            m_window->SetLineImage(m_line, liFinished);
            m_window->SetLineStatus(m_line, kDeleteSessionEndedText);
        }
    }
    void EntrySent(const TMailEntry &entry) override
    {
        if (m_window && m_line >= 0)
            m_window->SetLineStatus(m_line, QString::number(entry.MsgNumber));
    }
    void EntryFailed(const TMailEntry &, const QString &) override
    {
        // The error box follows when the run is over.
        if (m_window && m_line >= 0)
            m_window->SetLineImage(m_line, liFinished);
    }

private:
    QPointer<TDeleteProgressWindow> m_window;
    int m_line = -1;
};

} // namespace

void TMain::setPanelBusy(bool busy)
{
    centralWidget()->setEnabled(!busy);
    SetBusyCursor(busy);
}

void TMain::afterListChange()
{
    m_shownEntry = nullptr;
    if (m_list->IsEmpty())
        m_textPane->setPlainText(kHeaderHint);
    SetMessageCount(-1);
    RefreshCommands();
    ShowHeader();
}

void TMain::DeleteSelected()
{
    if (!m_checker->BeginOperation(TServerOperationKind::SingleDeletion))
        return;
    setPanelBusy(true);
    // The operation ends, and the panel comes back, only after the job and the boxes.
    const auto finish = [this] {
        afterListChange();
        m_status[0]->setText(kStatusReady);
        setPanelBusy(false);
        m_checker->EndOperation();
    };
    TMailEntry *entry = m_list->CurrentEntry();
    if (!entry || !YesNoQuestion(kDeleteOneQuestion) || m_quitRequested)
        return finish();
    m_status[0]->setText(QStringLiteral("Lösche E-Mail %1...").arg(entry->MsgNumber));
    // Later messages of the same mailbox move up one number, as the server numbers them now.
    m_checker->DeleteEntries(m_list->RowEntries(), {entry}, TDeletionHow::ByHand, nullptr,
                             [this, finish](const TDeletionResult &result) {
        if (result.Deleted > 0) {
            m_list->DeleteEntryRows(result.DeletedEntries);
            m_shownEntry = nullptr;
            InfoBox(QStringLiteral("Die E-Mail wurde gelöscht!"));
        } else {
            ErrorBox(kDeleteOneFailed.arg(result.ErrorText));
        }
        finish();
    });
}

void TMain::DeleteChecked(bool interactive)
{
    if (m_deleteProgress) {
        ErrorBox(QStringLiteral("Schließen Sie zuerst das Fenster zum Löschen von E-Mails"));
        return;
    }
    if (!m_checker->BeginOperation(TServerOperationKind::DeletionRun))
        return;
    HideMailIcon();
    if (m_list->IsEmpty() || (interactive && !YesNoQuestion(kDeleteManyQuestion.arg(m_list->CheckedCount())))
        || m_quitRequested) {
        m_checker->EndOperation();
        return;
    }
    if (interactive) {
        m_deleteProgress = new TDeleteProgressWindow(this);
        m_deleteProgress->show();
    }
    // The list is the run's until it is over, also when the run came from the spam notice.
    setPanelBusy(true);
    const QList<TMailEntry *> rows = m_list->RowEntries();
    QList<TMailEntry *> marked;
    for (TMailEntry *e : rows)
        if (e && e->Checked)
            marked.append(e);
    auto view = std::make_shared<TDeletionView>(interactive ? m_deleteProgress.data() : nullptr);
    const TDeletionHow how = interactive ? TDeletionHow::ByHand : TDeletionHow::AfterNotice;
    m_checker->DeleteEntries(rows, marked, how, view, [this, interactive](const TDeletionResult &result) {
        // The deleted entries go right after this: their rows first, wherever a sort put them.
        m_list->DeleteEntryRows(result.DeletedEntries);
        m_shownEntry = nullptr;
        RefreshCommands();
        SetMessageCount(-1);
        if (interactive && m_deleteProgress) {
            m_deleteProgress->StopAnimation();
            if (result.Failed)
                ErrorBox(kDeleteManyFailed.arg(result.FailedMsgNumber) + QStringLiteral("\r\nAusnahmefehler: ")
                         + result.ErrorText);
            else
                InfoBox(QStringLiteral("Es wurden alle gewählten E-Mails gelöscht!"));
        }
        if (m_deleteProgress)
            m_deleteProgress->CloseWindow();
        setPanelBusy(false);
        // Out of the coordinator's handler: it frees the deleted entries next.
        QMetaObject::invokeMethod(this, [this] {
            afterListChange();
            m_checker->EndOperation();
        }, Qt::QueuedConnection);
    });
}

void TMain::CheckAll(bool on)
{
    m_list->SetAllChecked(on);
    RefreshCommands();
}

void TMain::ShowMessageText()
{
    ShowMessageText(nullptr);
}

void TMain::ShowMessageText(std::function<void(TMailEntry *)> then)
{
    if (m_list->IsEmpty() || !m_checker->BeginOperation(TServerOperationKind::TextFetch))
        return;
    setPanelBusy(true);
    TMailEntry *entry = m_list->CurrentEntry();
    const auto shown = [this, entry, then](bool ok) {
        if (!ok)
            ErrorBox(QStringLiteral("Der E-Mail-Text konnte nicht vom Server abgerufen werden, entweder ist die E-Mail "
                                    "bereits gelöscht, abgeholt oder ein anderes E-Mail-Programm greift gerade zu."));
        // Nothing frees an entry while the operation runs.
        if (entry) {
            // Plain text whose links can be clicked.
            m_textPane->setHtml(LinkedHtml(MessagePaneText(entry->Message)));
            m_textPane->moveCursor(QTextCursor::Start);
            m_shownEntry = entry;
        }
        setPanelBusy(false);
        if (isVisible())
            m_textPane->setFocus();
        m_checker->EndOperation();
        if (then)
            then(entry);
    };
    if (!entry)
        return shown(true);
    m_checker->FetchEntryText(entry, [shown](bool ok, const QString &) { shown(ok); });
}

// --- spam rules ---

namespace {

// The rule editor or the rule-from-a-message dialog while one is open. One at a time: the editor commits
// its copy of the whole list, which would drop a rule the other dialog added meanwhile.
QDialog *openRuleDialog(const QObject *owner)
{
    if (auto *editor = owner->findChild<TSPAMFilterDlg *>(QString(), Qt::FindDirectChildrenOnly))
        return editor;
    return owner->findChild<TAddToFilterDlg *>(QString(), Qt::FindDirectChildrenOnly);
}

} // namespace

void TMain::OpenFilterDialog()
{
    openFilterEditor(nullptr);
}

void TMain::OpenFilterDialogOn(const TSimpleFilter &rule)
{
    openFilterEditor(&rule);
}

void TMain::openFilterEditor(const TSimpleFilter *focus)
{
    if (QDialog *open = openRuleDialog(this)) {
        open->raise();
        open->activateWindow();
        return;
    }
    // The rules are what a check judges by: not while an operation runs.
    if (!serverCommandsFree() || m_quitRequested)
        return;
    TSPAMFilterDlg dlg(m_filters->Filters(), this);
    if (focus && !dlg.SelectRule(*focus)) {
        InfoBox(QStringLiteral("Die Regel %1 gibt es im Spam-Filter nicht mehr.").arg(FilterRuleText(*focus)));
        return;
    }
    if (dlg.exec() != QDialog::Accepted || m_quitRequested)
        return;
    SetBusyCursor(true);
    m_filters->ReplaceFilters(dlg.Rules());
    m_filters->SaveFilters();
    SetBusyCursor(false);
}

void TMain::MakeFilterFromMessage()
{
    // The list may not change under the marking while an operation works on it.
    if (!serverCommandsFree() || !centralWidget()->isEnabled() || openRuleDialog(this))
        return;
    TMailEntry *entry = m_list->CurrentEntry();
    if (!entry || entry->State != msNormal)
        return;
    const quint64 generation = m_list->Generation();
    TAddToFilterDlg dlg(entry->Message, *m_filters, this);
    dlg.exec();
    if (!dlg.RuleAdded)
        return;

    setPanelBusy(true);
    // A check run from the tray while the dialog was open has refilled the list and freed the entry:
    // there is no row of that message left to mark.
    if (m_list->Generation() == generation)
        m_list->MarkAsSpam(m_list->RowOf(entry));
    m_filters->SaveFilters();
    m_list->MarkSpamRows([this](const TMailEntry &e) { return m_detector->IsSpam(e); });
    setPanelBusy(false);
    RefreshCommands();
}

void TMain::NeverSpamFromMessage()
{
    const TMailEntry *entry = m_list->IsEmpty() ? nullptr : m_list->CurrentEntry();
    if (entry)
        NeverSpamSender(entry->Message.From.Address);
}

void TMain::NeverSpamSender(const QString &address)
{
    // The rules change under the list's marks: not while an operation works on them.
    if (address.isEmpty() || !serverCommandsFree() || m_quitRequested || !centralWidget()->isEnabled() ||
        openRuleDialog(this))
        return;
    const TSimpleFilter allow = NeverSpamSenderFilter(address);
    TSimpleFilter *known = nullptr;
    for (TSimpleFilter *r : m_filters->Filters())
        if (r && IsSameRule(*r, allow))
            known = r;
    if (known) {
        known->Active = true;
    } else {
        m_filters->AddFilter(allow);
    }
    // A failed save has told the user; the rule holds until the program ends, as one made from a message.
    m_filters->SaveFilters();
    // Only what an exception saves loses its mark; a row the user marked by hand keeps it.
    m_list->UnmarkSpamRows([this](const TMailEntry &e) { return m_detector->AllowRule(e) != nullptr; });
    RefreshCommands();
    InfoBox(QStringLiteral("E-Mails von %1 gelten von jetzt an nie als Spam. Sie finden diese Ausnahme im "
                           "Spam-Filter unter \"Ausnahmen\".")
                .arg(address));
}

void TMain::OpenDeletionLog()
{
    if (!m_logWindow) {
        m_logWindow = new TDeletionLogWindow(m_checker->DeletionLog(), m_checker->RescueCopyFolder());
        m_logWindow->setAttribute(Qt::WA_DeleteOnClose);
        m_logWindow->setWindowIcon(windowIcon());
        m_logWindow->OpenInMailProgram = [this](const QString &file) {
            TMyTools tools;
            return OpenMessageFile(tools, m_settings->Settings.POP3Check.EMailClient, file);
        };
        m_logWindow->OnEditRule = [this](const TDeletionRecord &r) {
            TSimpleFilter rule;
            rule.Kind = uint8_t(r.RuleKind);
            rule.Operation = uint8_t(r.RuleOperation);
            rule.HeaderField = r.RuleField;
            rule.Text = r.RuleText;
            OpenFilterDialogOn(rule);
        };
        m_logWindow->OnNeverSpam = [this](const TDeletionRecord &r) { NeverSpamSender(r.SenderAddress); };
        m_logWindow->SetRuleCommandsEnabled(serverCommandsFree() && !m_quitRequested);
    } else {
        m_logWindow->Reload();
    }
    m_logWindow->show();
    m_logWindow->raise();
    m_logWindow->activateWindow();
}

void TMain::AnswerMail()
{
    TMailEntry *entry = m_list->IsEmpty() ? nullptr : m_list->CurrentEntry();
    if (!entry || !serverCommandsFree())
        return;
    const int account = m_settings->FindAccount(entry->Host, entry->UserName);
    if (account < 0 || m_settings->Settings.Accounts.at(account).SMTPEMailAddress.isEmpty()) {
        const int answer = ShowMsgBox(
            QStringLiteral("Sie haben keine Absender-E-Mail-Adresse und SMTP-Server für das Konto \"%1\" eingegeben. "
                           "Möchten Sie jetzt die Angaben vervollständigen?")
                .arg(entry->UserName + QLatin1Char('@') + entry->Host),
            QString(), MsgConfirmation, BtnYesNo);
        if (answer != IDNO)
            OpenAccountsDialog();
        return;
    }
    // The text comes exactly as the text command fetches it; a failed fetch still leaves the header.
    ShowMessageText([this](TMailEntry *) {
        TMailEntry *current = m_list->IsEmpty() ? nullptr : m_list->CurrentEntry();
        if (!current || m_textPane->toPlainText().isEmpty() || m_quitRequested)
            return;
        // Out of the text fetch's handler, which ends with the operation.
        QMetaObject::invokeMethod(this, [this, current] {
            if (m_list->CurrentEntry() != current || !serverCommandsFree())
                return;
            TAnswerMailDlg dialog(*m_settings, *m_checker, this);
            dialog.Prepare(current->Message, m_settings->FindAccount(current->Host, current->UserName));
            dialog.exec();
        }, Qt::QueuedConnection);
    });
}

// --- window events ---

void TMain::closeEvent(QCloseEvent *event)
{
    if (m_quitting) {
        event->accept();
        return;
    }
    if (!centralWidget()->isEnabled()) {
        event->ignore();
        return;
    }
    // The close button sends the window to the tray.
    event->ignore();
    MinimizeToTray();
}

void TMain::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    updateVisibilityCommands();
    if (isMinimized() && !Creating)
        QMetaObject::invokeMethod(this, [this] { MinimizeToTray(); }, Qt::QueuedConnection);
    else if (!Creating)
        updateTimedChecking();
}

void TMain::hideEvent(QHideEvent *event)
{
    QMainWindow::hideEvent(event);
    updateVisibilityCommands();
}

void TMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    m_everShown = true;
    updateVisibilityCommands();
    if (!m_splitterApplied) {
        // Now the splitter has its real height: the bottom panel gets the stored one, the list the rest.
        m_splitterApplied = true;
        const int total = m_splitter->height() - m_splitter->handleWidth();
        const int bottom = qBound(kSplitterMin, m_settings->Settings.SplitterPosition, qMax(kSplitterMin, total - kSplitterMin));
        m_splitter->setSizes({qMax(kSplitterMin, total - bottom), bottom});
    }
    RefreshCommands();
    if (m_settings->Settings.FirstStart)
        QMetaObject::invokeMethod(this, [this] { firstStartQuestions(); }, Qt::QueuedConnection);
}

void TMain::firstStartQuestions()
{
    if (!m_settings->Settings.FirstStart)
        return;
    m_checker->SetActive(false);
    m_settings->Settings.FirstStart = false;
    m_settings->Save();
    InfoBox(kFirstStartInfo);
    const struct {
        const char *question;
        QAction *command;
    } steps[] = {
        {"Möchten Sie jetzt die Einstellungen für Ihre Internetverbindung einrichten?", actConfig},
        {"Möchten Sie jetzt ein POP3-Konto und den Überprüfungsinterval für das POP3 Konto einrichten?", actAccounts},
        {"Möchten Sie jetzt die eingerichteten Spam-Filter anschauen?", actFilters},
    };
    const bool hadMailboxes = !m_settings->Settings.Accounts.isEmpty();
    for (const auto &step : steps) {
        if (YesNoQuestion(QString::fromUtf8(step.question)))
            step.command->trigger();
    }
    // The first mailbox was just set up: its mail is shown at once rather than after a click on "Überprüfen".
    if (!hadMailboxes && !m_settings->Settings.Accounts.isEmpty() && !m_quitRequested)
        QMetaObject::invokeMethod(this, [this] { ManualCheck(); }, Qt::QueuedConnection);
}

// --- ICheckerUI ---

bool TMain::MainWindowVisible()
{
    // Minimized to the task bar counts as away: the notices are how the user hears of new mail then.
    return !inBackground();
}

void TMain::BringToForeground()
{
    if (isVisible()) {
        raise();
        activateWindow();
    }
}

void TMain::HideTaskbarButtonIfHidden()
{
    // A hidden or minimized window has no taskbar entry here: the tray is the program's only face. Without
    // a tray area the task bar is its face, and the window stays there.
    if (isMinimized() && m_trayAvailable)
        hide();
}

void TMain::SetBusyCursor(bool busy)
{
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
}

void TMain::SetCheckCommandsEnabled(bool enabled)
{
    // The end of a check's own steps does not free the commands while the operation still runs.
    const bool on = enabled && serverCommandsFree() && !m_quitRequested;
    actTrayCheck->setEnabled(on);
    actCheck->setEnabled(on);
}

void TMain::SetMessageCount(int count)
{
    const int n = count >= 0 ? count : m_list->MessageRows();
    m_status[1]->setText(QStringLiteral("%1 Nachricht(en) auf den E-Mail-Server(n)").arg(n));
}

void TMain::RefillMessageList(const TMailList &list)
{
    m_shownEntry = nullptr;
    m_list->FillList(list);
    RefreshCommands();
}

void TMain::ClearMessageList()
{
    m_shownEntry = nullptr;
    m_list->ClearList();
}

bool TMain::MailIconShown()
{
    return m_mailIcon->Active();
}

void TMain::ShowMailIcon(bool animate)
{
    m_mailIcon->SetActive(true);
    if (animate)
        m_mailIcon->StartAnimation();
    else
        m_mailIcon->StopAnimation();
}

void TMain::HideMailIcon()
{
    m_mailIcon->StopAnimation();
    m_mailIcon->SetActive(false);
}

void TMain::SetMailIconTooltip(const QString &text)
{
    m_mailIcon->SetTooltip(text);
}

void TMain::PlaySound(const QString &file)
{
    if (file.isEmpty() || !QFileInfo::exists(file))
        return;
    if (!m_sound)
        m_sound = new QSoundEffect(this);
    m_sound->setSource(QUrl::fromLocalFile(file));
    m_sound->play();
}

bool TMain::SpamNoticeOpen()
{
    return !m_spamNotice.isNull();
}

void TMain::CloseSpamNotice()
{
    if (m_spamNotice)
        m_spamNotice->close();
}

void TMain::OpenSpamNotice(int total, int spam)
{
    CloseSpamNotice();
    m_spamNotice = new TSpamNotice(total, spam);
    m_spamNotice->OnShowMails = [this] { ShowMainWindow(); };
    m_spamNotice->OnDeleteSpam = [this] { DeleteChecked(false); };
    m_spamNotice->OnClosed = [this] { HideTaskbarButtonIfHidden(); };
    m_spamNotice->LogHint()->SetCount(m_checker->DeletionLog().UnseenCount());
    m_spamNotice->LogHint()->OnOpenLog = [this] { OpenDeletionLog(); };
    // It opens while its timed check still ends: deleting waits for that.
    m_spamNotice->DeleteSpamButton()->setEnabled(serverCommandsFree() && !m_quitRequested);
    m_spamNotice->show();
}

void TMain::CloseNewMailNotice()
{
    if (m_newMailNotice)
        m_newMailNotice->close();
}

void TMain::OpenNewMailNotice(int count, bool showStartsCheck)
{
    CloseNewMailNotice();
    m_newMailNotice = new TNewMailNotice(count, showStartsCheck);
    m_newMailNotice->OnShowMainWindow = [this] { ShowMainWindow(); };
    m_newMailNotice->OnStartCheck = [this] { ManualCheck(); };
    m_newMailNotice->OnRemoveMailIcon = [this] { HideMailIcon(); };
    m_newMailNotice->OnClosed = [this] { HideTaskbarButtonIfHidden(); };
    if (showStartsCheck)
        m_newMailNotice->ShowButton()->setEnabled(serverCommandsFree() && !m_quitRequested);
    m_newMailNotice->show();
}

void TMain::OpenProgressWindow(std::function<void()> cancel)
{
    CloseProgressWindow();
    m_progress = new TProgressWindow(std::move(cancel));
    m_progress->LogHint()->SetCount(m_checker->DeletionLog().UnseenCount());
    m_progress->LogHint()->OnOpenLog = [this] { OpenDeletionLog(); };
    // Over a modal dialog (a check from the tray menu while one is open) only a modal window takes
    // clicks: the cancel button must.
    if (QApplication::activeModalWidget())
        m_progress->setWindowModality(Qt::ApplicationModal);
    m_progress->show();
}

bool TMain::ProgressWindowOpen()
{
    return !m_progress.isNull();
}

void TMain::ProgressLine(const QString &account, int status, int code, const QString &errorText)
{
    m_missingPasswords->Note(account, status, code, errorText);
    m_signInRenewals->Note(account, status, code, errorText);
    if (m_progress)
        m_progress->Progress(account, status, code, errorText);
}

bool TMain::ProgressHasFailures()
{
    return m_progress && m_progress->HasFailedLines();
}

void TMain::ProgressFinishedWithErrors()
{
    if (m_progress)
        m_progress->ShowFinishedWithErrors();
}

void TMain::CloseProgressWindow()
{
    if (m_progress)
        m_progress->CloseWindow();
}

void TMain::BringProgressToFront()
{
    if (m_progress)
        m_progress->BringToFront();
}

void TMain::ShowDeleteCountdown(int seconds)
{
    if (m_quitRequested)
        return;
    if (m_countdown)
        m_countdown->CloseWindow();
    // It counts down and closes itself; the worker waits on its own thread meanwhile.
    m_countdown = new TWaitWindow();
    m_countdown->StartCountdown(seconds);
    m_countdown->show();
}

bool TMain::TrustCertificate(const QString &account, const CertificateProblem &problem)
{
    BringToForeground();
    return AskTrustCertificate(this, account, problem);
}
