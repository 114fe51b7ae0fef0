#pragma once
// The wait window of a server job the user started from a dialog (a login test, a server search): a line
// of text and "Abbrechen". It never blocks: the job runs on the worker, and the window closes when the job
// has ended (Finish), also after a cancel, which only asks the job to give up.
#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;

class TJobWaitDialog : public QDialog {
    Q_OBJECT
public:
    // Window-modal over parent, shown at once.
    TJobWaitDialog(const QString &text, QWidget *parent);

    // Called once by "Abbrechen", Escape or the close button.
    std::function<void()> OnCancel;
    // The job has ended: the window closes (and deletes itself).
    void Finish();
    // True once the user asked to cancel.
    bool Cancelled() const { return m_cancelled; }

    QString Text() const;
    QPushButton *CancelButton() const { return m_cancel; }

    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void cancel();

    QLabel *m_text;
    QPushButton *m_cancel;
    bool m_cancelled = false;
    bool m_finished = false;
};
