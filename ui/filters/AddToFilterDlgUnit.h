#pragma once
// "In Spam-Filter aufnehmen": turns a message into a new rule. The user chooses the subject or a header
// field; the matching rule dialog opens with the message's values, and its OK appends the rule to the
// rule list. The dialog closes only when a rule was added (or on "Abbrechen").
#include "MailMessage.h"

#include <QDialog>

class QPushButton;
class QRadioButton;
class TSpamFilterClass;

class TAddToFilterDlg : public QDialog {
    Q_OBJECT
public:
    // The message is copied: the dialog does not depend on the list entry staying alive.
    TAddToFilterDlg(const MailMessage &message, TSpamFilterClass &filters, QWidget *parent = nullptr);

    // A rule was appended to the list.
    bool RuleAdded = false;

    QRadioButton *SubjectOption() const { return m_subjectOpt; }
    QRadioButton *HeaderOption() const { return m_headerOpt; }
    QPushButton *OKButton() const { return m_okBtn; }
    QPushButton *CancelButton() const { return m_cancelBtn; }

    // Runs the chosen path: its rule dialog; on that dialog's OK the rule is appended and this dialog
    // closes, on its "Abbrechen" this dialog stays.
    void OKBtnClick();

private:
    MailMessage m_message;
    TSpamFilterClass &m_filters;
    QRadioButton *m_subjectOpt;
    QRadioButton *m_headerOpt;
    QPushButton *m_okBtn;
    QPushButton *m_cancelBtn;
};
