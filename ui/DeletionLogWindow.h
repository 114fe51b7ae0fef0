#pragma once
// "Gelöschte E-Mails": the deletion log, the newest record first, with a search over sender and subject.
// From a record: "Regel bearbeiten…" opens the filter editor on the rule that caught the message,
// "Wiederherstellen…" hands its rescue copy to the mail program or saves it where the user chooses, and
// "Absender nie als Spam" makes an allow rule of its sender. One window that stays open beside the main
// window; it follows the log as deletion runs add to it.
#include "DeletionLog.h"
#include "ReposApp.h"

#include <QDialog>
#include <QList>
#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class TDeletionLogModel;

inline const QString kDeletionLogCaption = QStringLiteral("Gelöschte E-Mails");

// The choice of "Wiederherstellen…": open the copy with the mail program, or save it.
class TRestoreDlg : public QDialog {
    Q_OBJECT
public:
    enum TChoice { NoChoice, OpenWithMailProgram, SaveAs };
    explicit TRestoreDlg(const QString &subject, QWidget *parent = nullptr);

    TChoice Choice = NoChoice;
    QPushButton *OpenButton() const { return m_open; }
    QPushButton *SaveButton() const { return m_save; }

private:
    QPushButton *m_open;
    QPushButton *m_save;
};

class TDeletionLogWindow : public QWidget {
    Q_OBJECT
public:
    // Columns of the list.
    enum TColumn { colTime, colAccount, colSender, colSubject, colDate, colSize, colHow, colRule, colOutcome,
                   colCopy, kColumns };

    // Shows the records of the log; the copies the records name are in rescueFolder.
    TDeletionLogWindow(TDeletionLog &log, QString rescueFolder, QWidget *parent = nullptr);

    // Reads the records again; the search and, where it is still listed, the selected record stay. While
    // the window is shown the records count as seen.
    void Reload();
    // Another log (after a change of the data folder).
    void SetLog(TDeletionLog &log, const QString &rescueFolder);

    // The rows as shown now (after the search), the first one the newest.
    int RowCount() const;
    const TDeletionRecord *RecordAt(int row) const;
    QString CellText(int row, int column) const;
    const TDeletionRecord *CurrentRecord() const;
    void SetCurrentRow(int row);
    // The file of a record's rescue copy; empty when it has none or it has expired.
    QString CopyPath(const TDeletionRecord &record) const;

    // "Regel bearbeiten…" and "Absender nie als Spam" change the rules: not while a server operation runs.
    void SetRuleCommandsEnabled(bool on);

    QLineEdit *SearchEdit() const { return m_search; }
    QTableView *Table() const { return m_table; }
    QPushButton *EditRuleButton() const { return m_editRule; }
    QPushButton *RestoreButton() const { return m_restore; }
    QPushButton *NeverSpamButton() const { return m_neverSpam; }
    QLabel *CountLabel() const { return m_count; }

    void EditRuleBtnClick();
    void RestoreBtnClick();
    void NeverSpamBtnClick();

    std::function<void(const TDeletionRecord &)> OnEditRule;
    std::function<void(const TDeletionRecord &)> OnNeverSpam;
    // Hands a copy to the mail program; false when it could not be started.
    std::function<bool(const QString &file)> OpenInMailProgram;
    // Asks where to save a copy, proposing a file name; empty: cancelled.
    std::function<QString(const QString &proposed)> ChooseSaveFile;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void updateButtons();
    void updateCount();

    TDeletionLog *m_log;
    QString m_rescueFolder;
    bool m_ruleCommands = true;

    QLineEdit *m_search;
    QTableView *m_table;
    TDeletionLogModel *m_model;
    QSortFilterProxyModel *m_filter;
    QLabel *m_count;
    QPushButton *m_editRule;
    QPushButton *m_restore;
    QPushButton *m_neverSpam;
    QPushButton *m_close;
    TRePosApp m_placement;
};
