#pragma once
// The windows that announce mail after a timed check and the wait window:
// - TNewMailNotice: "Sie haben Post!" with the number of messages;
// - TSpamNotice: the counts of a check that found spam, with the choice to delete it;
// - TWaitWindow: "Einen Moment..." while a timed check finishes, or a count-down before a deletion
//   is tried again;
// - TDeletionLogHint: the line in the spam notice and the progress window that tells how many records
//   the deletion log has got since the user last looked, with the button that opens it.
// Each is a top-level window of its own that deletes itself when closed; the owner keeps a QPointer.
// What the buttons do beyond closing is given by the owner as callbacks.
#include <QDialog>
#include <QIcon>
#include <QString>
#include <QTimer>

#include <functional>

class QLabel;
class QPushButton;

// The pictures of these windows and of the progress lists, by role.
enum class TNoticeImage {
    ListWorking, // list image 1
    ListDone,    // list image 2
    ListFailed,  // list image 3
    NewMail,
    Spam,
    Program,
};
QIcon NoticeImage(TNoticeImage which);
// The progress lists' images by their number (1 working, 2 finished, 3 failed); null for others.
QIcon ListImage(int index);

// Our texts carry Windows line ends: CR LF and a lone CR each become one line break.
QString DisplayLineBreaks(const QString &text);

// Hidden while there is nothing new in the log.
class TDeletionLogHint : public QWidget {
    Q_OBJECT
public:
    explicit TDeletionLogHint(QWidget *parent = nullptr);
    void SetCount(int records);
    QString Text() const;
    QPushButton *OpenButton() const { return m_open; }

    std::function<void()> OnOpenLog; // opens the window "Gelöschte E-Mails"

private:
    QLabel *m_text;
    QPushButton *m_open;
};

class TNewMailNotice : public QDialog {
    Q_OBJECT
public:
    explicit TNewMailNotice(int count, bool showStartsCheck = false);

    // Whether "Anzeigen..." also runs a manual check (after a count-only check nothing is listed yet).
    bool ShowStartsCheck;

    std::function<void()> OnShowMainWindow; // as a click on the program icon
    std::function<void()> OnStartCheck;     // the manual check command
    std::function<void()> OnRemoveMailIcon; // stop the mail icon's animation and remove it
    std::function<void()> OnClosed;         // once, however the notice was closed

    QString Text() const;
    QPushButton *ShowButton() const { return m_showBtn; }
    QPushButton *CloseButton() const { return m_closeBtn; }

    void ShowBtnClick();
    void CloseBtnClick();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Closed();

    QLabel *m_text;
    QPushButton *m_showBtn;
    QPushButton *m_closeBtn;
    bool m_closedReported = false;
};

class TSpamNotice : public QDialog {
    Q_OBJECT
public:
    TSpamNotice(int total, int spam);

    std::function<void()> OnShowMails;  // as a click on the program icon
    std::function<void()> OnDeleteSpam; // delete all checked messages in automatic mode
    std::function<void()> OnClosed;     // once, however the notice was closed

    QString Heading() const;
    // The three counts as shown: total, spam, total minus spam.
    QString TotalText() const;
    QString SpamText() const;
    QString RemainingText() const;
    QPushButton *ShowMailsButton() const { return m_showBtn; }
    QPushButton *DeleteSpamButton() const { return m_deleteBtn; }
    QPushButton *CloseButton() const { return m_closeBtn; }
    TDeletionLogHint *LogHint() const { return m_logHint; }

    void ShowMailsBtnClick();
    void DeleteSpamBtnClick();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void Closed();

    QLabel *m_heading;
    QLabel *m_total;
    QLabel *m_spam;
    QLabel *m_remaining;
    QPushButton *m_showBtn;
    QPushButton *m_deleteBtn;
    QPushButton *m_closeBtn;
    TDeletionLogHint *m_logHint;
    bool m_closedReported = false;
};

inline const QString kWaitForCheckText = QStringLiteral(
    "Quarvel überprüft gerade Ihre externen Postfächer. \r\nUm die Sperrung des Postfachs durch einen Abbruch "
    "der Verbindung bei Anzeige des Hauptfensters oder Änderung der Konfiguration zu vermeiden wurde die "
    "letzte Aktion vorübergehend unterbrochen.\r\nSobald die Prüfung der externen Postfächer beendet wurde, "
    "wird dieses Fenster geschlossen und Sie können mit Quarvel weiterarbeiten.");
inline const QString kDeleteCountdownText = QStringLiteral(
    "Der letzte Löschversuch wurde vom POP3-Server wegen zu zeitnahem Zugriffs abgelehnt. Quarvel wird "
    "jetzt %1 Sekunden warten und danach einen erneuten Versuch unternehmen.\r\rBitte haben Sie etwas "
    "Geduld...");

// "Einen Moment...": the user cannot close it; it closes itself at the end of its count-down, or when
// the owner calls CloseWindow. It is application-modal, so the user cannot work in the list meanwhile.
class TWaitWindow : public QWidget {
    Q_OBJECT
public:
    // Without count-down: waits for a timed check, text kWaitForCheckText.
    explicit TWaitWindow(QWidget *parent = nullptr);

    // Counts down from seconds + 1, one per second; closes itself when the count would go below 0.
    void StartCountdown(int seconds);
    // One second of the count-down; the timer's handler.
    void CountdownTick();

    bool Counting() const { return m_timer.isActive(); }
    int Remaining() const { return m_remaining; }
    QString Text() const;

    // Marks the window closable and closes it.
    void CloseWindow();

Q_SIGNALS:
    void WindowClosed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void FitToText();

    QLabel *m_text;
    QTimer m_timer;
    int m_remaining = 0;
    bool m_closable = false;
};
