#pragma once
// The main window: owns every long-lived object of the program, sits hidden in the tray with its two
// icons, switches timed checking with the window's visibility and the online state, and is the user's
// side of the check coordinator.
#include "CheckerUI.h"
#include "ReposApp.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

class QAction;
class QLabel;
class QMenu;
class QSplitter;
class QTimer;
class QTextBrowser;
class QToolBar;
class QSoundEffect;
class TConnectionMonitor;
class TDeleteProgressWindow;
class TDeletionLogWindow;
class TMissingPasswords;
class TSignInRenewals;
class TPasswordMigration;
class TMessageListView;
class TNewMailNotice;
class TPOP3Checker;
class TProgressWindow;
class TRegistrySettings;
class TSpamDetector;
class TSpamFilterClass;
class TSpamNotice;
class TTrayIcon;
class TWaitWindow;
class TZirpelSendClass;
class TJobThread;
class IRasApi;
struct TSimpleFilter;

inline const QString kMainCaption = QStringLiteral("Quarvel Standard - Freeware");
inline const QString kHeaderHint = QStringLiteral("Klicken Sie auf eine E-Mail, um den E-Mail-Header zu sehen.");
inline const QString kStatusReady = QStringLiteral("Bereit.");
inline const QString kOnlineText = QStringLiteral("Internetverbindung besteht.");
inline const QString kOfflineText = QStringLiteral("Internetverbindung besteht nicht.");

struct TMainOptions {
    // Replaces the dial-up service of the connection monitor (tests play connection states).
    std::function<std::unique_ptr<IRasApi>()> RasApi;
    // Passed on to the coordinator's worker (tests shorten time-outs and wake-ups).
    std::function<void(struct TPop3Options &)> AdjustPop3;
    // Whether the desktop has a tray area now; empty: Qt's answer (QSystemTrayIcon::isSystemTrayAvailable).
    std::function<bool()> TrayAvailable;
    // How often the window asks whether a tray area came or went.
    int TrayWatchMs = 5000;
};

class TMain : public QMainWindow, public ICheckerUI {
    Q_OBJECT
public:
    explicit TMain(TMainOptions options = {}, QWidget *parent = nullptr);
    ~TMain() override;

    bool Creating = true;
    bool Online = false;

    TRegistrySettings &Settings() { return *m_settings; }
    TPOP3Checker &Checker() { return *m_checker; }
    TConnectionMonitor &Monitor() { return *m_monitor; }
    TMessageListView &MessageList() { return *m_list; }
    TTrayIcon &ProgramIcon() { return *m_programIcon; }
    TTrayIcon &MailIcon() { return *m_mailIcon; }
    QTextBrowser &TextPane() { return *m_textPane; }
    QLabel &StatusField(int n); // 1..4

    // The windows of the moment, or null.
    TProgressWindow *ProgressWindow() const;
    TSpamNotice *SpamNotice() const;
    TNewMailNotice *NewMailNotice() const;
    TDeletionLogWindow *DeletionLogWindow() const;

    // The window shown (by the start for a first start, or by the user) at least once.
    bool WasEverShown() const { return m_everShown; }

    // The size the window first comes in, on a screen whose free area is available.
    QSize FirstSize(const QRect &available) const;

    // Whether the program has a tray area to sit in. Without one the window is its face: it is shown at
    // start, and closing or minimizing it leaves it in the task bar instead of hiding it.
    bool TrayAreaAvailable() const { return m_trayAvailable; }
    // Asks again whether there is a tray area (also done by a timer): one that appeared gets the icons
    // and the usual rules from then on; when it went away, a hidden window comes back to the task bar.
    void CheckTrayArea();
    // The start's showing of the window: the first start's questions, or without a tray area the window
    // minimized to the task bar. With a tray area a later start stays hidden.
    void ShowAtStart();

    // Commands.
    void ShowMainWindow();        // program icon click, "Anzeigen"
    void MinimizeToTray();        // "Minimieren", the close button, minimizing
    void RestoreFromTray();       // restore or maximize request
    void ManualCheck();           // "  Auf neue E-Mails jetzt prüfen  "
    void LaunchMailClient();      // "  E-Mail-Programm öffnen  "
    void OpenConfigDialog();      // "Programm&konfiguration...", "Konfiguration öffnen..."
    // "POP&3-Postfächer...", "POP3-Postfächer öffnen..."; also for other dialogs that send the user
    // there. After "Speichern" the coordinator takes the accounts over.
    void OpenAccountsDialog();
    void OpenHelp();              // "Hilfe"
    void ShowInfo();              // "Info..."
    void QuitProgram();           // "Beenden", "Quarvel beenden"
    void MailNoticed();           // "Danke, ich habe es bemerkt!"
    void DeleteSelected();        // " E-Mail löschen  "
    // " Markierte E-Mails löschen " (interactive: question, progress window, boxes); the spam notice's
    // "Spam-Mails löschen" runs it without any of them.
    void DeleteChecked(bool interactive);
    void CheckAll(bool on);       // " Alle E-Mails wählen  " / " Keine E-Mails wählen  "
    void ShowMessageText();       // " E-Mail-Text vom Server holen  "
    // The same, then then(entry) once the text is shown (not called when the fetch cannot start).
    void ShowMessageText(std::function<void(TMailEntry *)> then);
    void OpenFilterDialog();      // "Spam-&Filter...", "Spam-Filter..."
    // The filter editor on the page and row of that rule; the user is told when the list no longer has it.
    void OpenFilterDialogOn(const TSimpleFilter &rule);
    void MakeFilterFromMessage(); // " In Spam-Filter...   ", "In Spam-Filter..."
    // "Absender nie als Spam" of the list's menu: an allow rule for the current message's sender.
    void NeverSpamFromMessage();
    // An allow rule (From contains the address) added and saved, and the spam marks of the messages an
    // exception now saves taken off the list.
    void NeverSpamSender(const QString &address);
    // "Gelöschte E-Mails..." (menu "Ansicht", tray menu, the notices): the deletion log's window.
    void OpenDeletionLog();
    void AnswerMail();            // "Antworten..."

    // The enabled state of the commands that depend on the list, and the header hint.
    void RefreshCommands();
    // The current row's header block in the text pane (and the focus to the list when asked).
    void ShowHeader(bool focusList = true);

    // ICheckerUI
    bool MainWindowVisible() override;
    void BringToForeground() override;
    void HideTaskbarButtonIfHidden() override;
    void SetBusyCursor(bool busy) override;
    void SetCheckCommandsEnabled(bool enabled) override;
    void SetMessageCount(int count) override;
    void RefillMessageList(const TMailList &list) override;
    void ClearMessageList() override;
    bool MailIconShown() override;
    void ShowMailIcon(bool animate) override;
    void HideMailIcon() override;
    void SetMailIconTooltip(const QString &text) override;
    void PlaySound(const QString &file) override;
    bool SpamNoticeOpen() override;
    void CloseSpamNotice() override;
    void OpenSpamNotice(int total, int spam) override;
    void CloseNewMailNotice() override;
    void OpenNewMailNotice(int count, bool showStartsCheck) override;
    void OpenProgressWindow(std::function<void()> cancel) override;
    bool ProgressWindowOpen() override;
    void ProgressLine(const QString &account, int status, int code, const QString &errorText) override;
    bool ProgressHasFailures() override;
    void ProgressFinishedWithErrors() override;
    void CloseProgressWindow() override;
    void BringProgressToFront() override;
    void ShowDeleteCountdown(int seconds) override;
    bool TrustCertificate(const QString &account, const CertificateProblem &problem) override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void createActions();
    void createLayout();
    void createTrayIcons();
    void wireCoordinator();
    void setOnlineLamp(bool online);
    void onOnline();
    void onOffline();
    void onNewMails(const QList<TMailEntry *> &entries);
    void onCheckDone();
    void updateTimedChecking();
    // Hidden in the tray, or minimized to the task bar: where timed checks run and notices appear.
    bool inBackground() const;
    // Raises the modal window that is open, if any (true then).
    bool raiseOpenModal();
    void firstStartQuestions();
    void showListMenu(int row, const QPoint &pos);
    void setPanelBusy(bool busy);
    // The filter editor; with focus, on that rule (none: the user is told, and nothing opens).
    void openFilterEditor(const TSimpleFilter *focus);
    void afterListChange();
    // True unless a server operation or a timed check runs: then every command that talks to a server
    // is disabled, wherever it appears.
    bool serverCommandsFree() const;
    void updateServerCommands();
    // The user's quit, once no operation is under way any more.
    void finishQuit();
    // Rejects every open dialog, however many are stacked.
    void closeAllDialogs();
    void updateVisibilityCommands();
    // The mailboxes read again from the store by the window and the coordinator.
    void reloadAccounts();
    void currentRowChanged();

    TMainOptions m_options;
    std::unique_ptr<TRegistrySettings> m_settings;
    std::unique_ptr<TSpamFilterClass> m_filters;
    std::unique_ptr<TZirpelSendClass> m_sms;
    std::unique_ptr<TJobThread> m_smsThread; // the SMS requests wait there, never in the window
    std::unique_ptr<TSpamDetector> m_detector;
    std::unique_ptr<TPOP3Checker> m_checker;
    std::unique_ptr<TConnectionMonitor> m_monitor;
    std::unique_ptr<TMissingPasswords> m_missingPasswords;
    std::unique_ptr<TSignInRenewals> m_signInRenewals;
    TPasswordMigration *m_passwordMigration = nullptr; // passwords into the keyring, in the background
    TRePosApp m_placement;

    TMessageListView *m_list = nullptr;
    QTextBrowser *m_textPane = nullptr;
    QWidget *m_bottomPanel = nullptr;
    QSplitter *m_splitter = nullptr;
    QLabel *m_status[4] = {};
    QLabel *m_lamp = nullptr;
    TTrayIcon *m_programIcon = nullptr;
    TTrayIcon *m_mailIcon = nullptr;
    QMenu *m_programMenu = nullptr;
    QMenu *m_mailMenu = nullptr;
    QMenu *m_listMenu = nullptr;
    QSoundEffect *m_sound = nullptr;

    QPointer<TProgressWindow> m_progress;
    QPointer<TNewMailNotice> m_newMailNotice;
    QPointer<TSpamNotice> m_spamNotice;
    QPointer<TWaitWindow> m_waitWindow;
    QPointer<TDeleteProgressWindow> m_deleteProgress;
    QPointer<TDeletionLogWindow> m_logWindow;
    QPointer<TWaitWindow> m_countdown;
    const TMailEntry *m_shownEntry = nullptr; // whose header or text the pane shows

    bool m_everShown = false;
    bool m_trayAvailable = true;
    QTimer *m_trayWatch = nullptr;
    bool m_quitting = false;
    bool m_quitRequested = false; // "Quarvel beenden": quit once the operation under way has unwound
    bool m_splitterApplied = false;

public:
    // Commands, by their captions in the command table.
    QAction *actExit = nullptr, *actCheck = nullptr, *actMailClient = nullptr, *actConfig = nullptr,
            *actAccounts = nullptr, *actFilters = nullptr, *actHelp = nullptr, *actInfo = nullptr,
            *actShow = nullptr, *actMinimize = nullptr, *actThanks = nullptr, *actDeleteChecked = nullptr,
            *actSelectAll = nullptr, *actSelectNone = nullptr, *actDelete = nullptr, *actFetchText = nullptr,
            *actToFilter = nullptr, *actReply = nullptr, *actCopy = nullptr, *actSelectText = nullptr,
            *actTrayCheck = nullptr, *actMailTrayShow = nullptr, *actMailTrayClient = nullptr,
            *actTrayConfig = nullptr, *actTrayAccounts = nullptr, *actTrayFilters = nullptr,
            *actTrayExit = nullptr, *actListDelete = nullptr, *actListToFilter = nullptr,
            *actDeletionLog = nullptr, *actTrayDeletionLog = nullptr, *actListNeverSpam = nullptr;
};
