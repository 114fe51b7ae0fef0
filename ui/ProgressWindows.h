#pragma once
// The windows that follow a long operation on the servers:
// - TProgressWindow: one line per account of a manual check, with a button to give up the account
//   being checked; it stays open in a finished-with-errors form when an account failed;
// - TDeleteProgressWindow: one line per account of a deletion run.
// Neither can be closed by the user while its operation runs. Both delete themselves when closed (the
// owner keeps a QPointer) and remember their position.
#include "ReposApp.h"

#include <QLabel>
#include <QList>
#include <QPixmap>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>

class QPushButton;
class TDeletionLogHint;
class QTreeWidget;
class QTreeWidgetItem;

// Images of the progress lines.
enum TProgressImage { piWorking = 1, piDone = 2, piFailed = 3 };

// An image that runs through its frames at a fixed step while started.
class TAnimationView : public QLabel {
    Q_OBJECT
public:
    TAnimationView(QList<QPixmap> frames, int stepMs, QWidget *parent = nullptr);
    void Start();
    // Stops on the first frame.
    void Stop();
    bool Running() const { return m_timer.isActive(); }
    int Frame() const { return m_frame; }
    int FrameCount() const { return int(m_frames.size()); }
    void Step();

private:
    QList<QPixmap> m_frames;
    QTimer m_timer;
    int m_frame = 0;
};

// A letter dropping into an in-tray (the check), and an hourglass running out (the deletion).
QList<QPixmap> InboxAnimationFrames();
QList<QPixmap> HourglassAnimationFrames();

inline const QString kProgressCaption = QStringLiteral("Überprüfe E-Mail-Server...");
inline const QString kProgressErrorsCaption = QStringLiteral("Überprüfung der E-Mail-Server mit Fehlern beendet.");
inline const QString kCancelAccountText = QStringLiteral("Prüfung des aktuellen Kontos abbrechen");
inline const QString kCloseWindowText = QStringLiteral("Fenster schließen");

class TProgressWindow : public QWidget {
    Q_OBJECT
public:
    // cancelAccount is called by the cancel button (the coordinator's CancelAccount).
    explicit TProgressWindow(std::function<void()> cancelAccount, QWidget *parent = nullptr);
    ~TProgressWindow() override;

    // One account's report. The line "Prüfe Konto <account>." is added when the account has none yet;
    // otherwise it becomes finished (status 1), failed (status 2) with the trimmed error text and the
    // code, or cancelled by the user (status 3, not an error).
    void Progress(const QString &account, int status, int code, const QString &errorText);
    // True when a line shows a failed account.
    bool HasFailedLines() const;

    // The check is over: the animation stops and the window may be closed.
    void SetCheckFinished();
    bool CheckFinished() const { return m_finished; }
    // Switches to the finished-with-errors form: its own caption, the button closes the window, no
    // longer on top. The check counts as finished.
    void ShowFinishedWithErrors();
    bool FinishedWithErrors() const { return m_errorsForm; }
    // Marks the check finished and closes the window (which then deletes itself).
    void CloseWindow();
    void BringToFront();

    int LineCount() const;
    QString LineText(int line) const;
    int LineImage(int line) const;
    QTreeWidget *List() const { return m_list; }
    QPushButton *Button() const { return m_button; }
    TAnimationView *Animation() const { return m_animation; }
    // What the deletion log got since the user last looked there.
    TDeletionLogHint *LogHint() const { return m_logHint; }

    // The button: gives up the current account, or closes the finished-with-errors form.
    void ButtonClick();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FitColumn();
    void SetLine(QTreeWidgetItem *item, int image, const QString &text);

    std::function<void()> m_cancelAccount;
    TAnimationView *m_animation;
    QTreeWidget *m_list;
    QPushButton *m_button;
    TDeletionLogHint *m_logHint;
    TRePosApp m_placement;
    bool m_finished = false;
    bool m_errorsForm = false;
};

inline const QString kDeleteConnectingText = QStringLiteral("Konnektiere Server...");
inline const QString kDeleteSessionEndedText = QStringLiteral("Verbindung zum Server beendet.");

class TDeleteProgressWindow : public QWidget {
    Q_OBJECT
public:
    explicit TDeleteProgressWindow(QWidget *parent = nullptr);
    ~TDeleteProgressWindow() override;

    // Adds the account's line with image 1 and "Konnektiere Server...", scrolls it into view, selects
    // and focuses it; returns its index.
    int AddAccountLine(const QString &account);
    void SetLineImage(int line, int image);
    // The second column ("Lösche E-Mail...").
    void SetLineStatus(int line, const QString &text);

    int LineCount() const;
    QString LineAccount(int line) const;
    QString LineStatus(int line) const;
    int LineImage(int line) const;
    QTreeWidget *List() const { return m_list; }
    TAnimationView *Animation() const { return m_animation; }

    void StopAnimation();
    // The run is over: closes the window (which then deletes itself).
    void CloseWindow();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    TAnimationView *m_animation;
    QTreeWidget *m_list;
    TRePosApp m_placement;
    bool m_closable = false;
};
