#pragma once
// The two small rule dialogs: a rule on the subject, and a rule on a header field. The filter editor
// opens them to add and change rules; a rule made from a message opens them with the message's values.
#include <QDialog>
#include <QLineEdit>
#include <QString>
#include <QStringList>

class QComboBox;
class QLabel;
class QPushButton;
class MailMessage;

// The text field of a rule: one line, as long as a header value may be; spaces and control characters
// at both ends go when the field loses the focus.
class TFilterTextEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TFilterTextEdit(QWidget *parent = nullptr);
    // What leaving the field does: trims the text.
    void LeaveField();

protected:
    void focusOutEvent(QFocusEvent *event) override;
};

// Shared by both dialogs: Enter in the given controls moves on to the next control instead of closing
// the dialog; OK takes the text field as left.
class TFilterRuleDlgBase : public QDialog {
    Q_OBJECT
public:
    QPushButton *OKButton() const { return m_okBtn; }
    QPushButton *CancelButton() const { return m_cancelBtn; }
    TFilterTextEdit *TextEdit() const { return m_text; }

    // The entered text on one line (line breaks become blanks).
    QString Text() const;
    // The dialog edits an allow rule ("never spam"): its title and first line say so.
    void SetAllowRule();
    QString IntroText() const;

    void accept() override;

protected:
    explicit TFilterRuleDlgBase(QWidget *parent);
    // Enter in w moves the focus on.
    void enterMovesFocus(QWidget *w);
    // Whether the values may be taken; a dialog tells the user why not.
    virtual bool valuesAcceptable() { return true; }
    bool eventFilter(QObject *watched, QEvent *event) override;
    // The OK and Cancel row.
    QLayout *buttonRow();

    TFilterTextEdit *m_text;
    QPushButton *m_okBtn;
    QPushButton *m_cancelBtn;
    // The first line, and what it and the title read for an allow rule.
    QLabel *m_intro = nullptr;
    QString m_allowIntro;
    QString m_allowTitle;
};

// "Filter anhand des Betreffs der E-Mail".
class TSubjectFilterDlg : public TFilterRuleDlgBase {
    Q_OBJECT
public:
    // From the editor every operation name ends in "..."; for a rule from a message the last one does not.
    explicit TSubjectFilterDlg(bool fromEditor, QWidget *parent = nullptr);

    void SetValues(int operation, const QString &text);
    int Operation() const;
    QComboBox *OperationList() const { return m_operation; }

private:
    QComboBox *m_operation;
};

inline const QString kNoHeaderFieldName = QStringLiteral("Bitte geben Sie den Namen eines E-Mail-Headerfeldes an.");

// "Filter anhand von Headerfeldern einer E-Mail".
class THeaderFieldFilterDlg : public TFilterRuleDlgBase {
    Q_OBJECT
public:
    explicit THeaderFieldFilterDlg(QWidget *parent = nullptr);

    // Attaches a message (its header lines are copied): when shown, the field list offers the message's
    // fields, and the text follows the chosen field's value in the message.
    void SetMessage(const MailMessage &message);
    void SetValues(const QString &field, int operation, const QString &text);
    // The field name without blanks or control characters at its ends.
    QString FieldName() const;
    int Operation() const;
    QComboBox *FieldList() const { return m_field; }
    QComboBox *OperationList() const { return m_operation; }

protected:
    void showEvent(QShowEvent *event) override;
    bool valuesAcceptable() override;

private:
    void fillFieldList(const QStringList &names);
    void fillTextFromMessage();

    QComboBox *m_field;
    QComboBox *m_operation;
    bool m_hasMessage = false;
    QStringList m_headerLines;
    bool m_fillingList = false;
};
