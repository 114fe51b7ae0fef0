#include "FilterRuleDlgUnit.h"

#include "FilterRules.h"
#include "MailMessage.h"
#include "MsgBox.h"
#include "SpamDetectorUnit.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <limits>

TFilterTextEdit::TFilterTextEdit(QWidget *parent) : QLineEdit(parent)
{
    // A whole header value must fit: the default limit would cut a proposed text short unseen.
    setMaxLength(std::numeric_limits<int>::max());
}

void TFilterTextEdit::LeaveField()
{
    const QString trimmed = TrimControls(text());
    if (trimmed != text())
        setText(trimmed);
}

void TFilterTextEdit::focusOutEvent(QFocusEvent *event)
{
    LeaveField();
    QLineEdit::focusOutEvent(event);
}

TFilterRuleDlgBase::TFilterRuleDlgBase(QWidget *parent)
    : QDialog(parent), m_text(new TFilterTextEdit(this)), m_okBtn(new QPushButton(QStringLiteral("OK"), this)),
      m_cancelBtn(new QPushButton(QStringLiteral("Abbrechen"), this))
{
    setModal(true);
    m_okBtn->setDefault(true);
    connect(m_okBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

QString TFilterRuleDlgBase::Text() const
{
    return OneLineFilterText(m_text->text());
}

void TFilterRuleDlgBase::SetAllowRule()
{
    setWindowTitle(m_allowTitle);
    m_intro->setText(m_allowIntro);
}

QString TFilterRuleDlgBase::IntroText() const
{
    return m_intro->text();
}

void TFilterRuleDlgBase::accept()
{
    // Enter in the text field closes the dialog without the field losing the focus first.
    if (m_text->hasFocus())
        m_text->LeaveField();
    if (!valuesAcceptable())
        return;
    QDialog::accept();
}

void TFilterRuleDlgBase::enterMovesFocus(QWidget *w)
{
    w->installEventFilter(this);
}

bool TFilterRuleDlgBase::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            focusNextChild();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

QLayout *TFilterRuleDlgBase::buttonRow()
{
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(m_okBtn);
    row->addWidget(m_cancelBtn);
    return row;
}

// --- subject ---

TSubjectFilterDlg::TSubjectFilterDlg(bool fromEditor, QWidget *parent)
    : TFilterRuleDlgBase(parent), m_operation(new QComboBox(this))
{
    setWindowTitle(QStringLiteral("Filter anhand des Betreffs der E-Mail"));
    m_operation->addItems(FilterOperationChoices(!fromEditor));
    enterMovesFocus(m_operation);

    auto *layout = new QVBoxLayout(this);
    m_intro = new QLabel(QStringLiteral("Eine E-Mail soll zum Löschen gekennzeichnet werden, wenn der Betreff der E-Mail..."), this);
    m_intro->setWordWrap(true);
    m_allowIntro = QStringLiteral("Eine E-Mail soll nie als Spam gelten, wenn der Betreff der E-Mail...");
    m_allowTitle = QStringLiteral("Ausnahme anhand des Betreffs der E-Mail");
    layout->addWidget(m_intro);
    layout->addWidget(m_operation);
    auto *textRow = new QHBoxLayout;
    auto *label = new QLabel(QStringLiteral("Text:"), this);
    label->setBuddy(m_text);
    textRow->addWidget(label);
    textRow->addWidget(m_text, 1);
    layout->addLayout(textRow);
    layout->addLayout(buttonRow());
    setMinimumWidth(420);
}

void TSubjectFilterDlg::SetValues(int operation, const QString &text)
{
    m_operation->setCurrentIndex(qBound(0, operation, kFilterOperationCount - 1));
    m_text->setText(text);
}

int TSubjectFilterDlg::Operation() const
{
    return m_operation->currentIndex();
}

// --- header field ---

THeaderFieldFilterDlg::THeaderFieldFilterDlg(QWidget *parent)
    : TFilterRuleDlgBase(parent), m_field(new QComboBox(this)), m_operation(new QComboBox(this))
{
    setWindowTitle(QStringLiteral("Filter anhand von Headerfeldern einer E-Mail"));
    m_field->setEditable(true);
    m_field->setInsertPolicy(QComboBox::NoInsert);
    fillFieldList(DefaultHeaderFieldNames());
    m_operation->addItems(FilterOperationChoices(true));
    for (QWidget *w : {static_cast<QWidget *>(m_field), static_cast<QWidget *>(m_field->lineEdit()),
                       static_cast<QWidget *>(m_operation), static_cast<QWidget *>(m_text)})
        enterMovesFocus(w);
    connect(m_field, &QComboBox::editTextChanged, this, [this] {
        if (m_hasMessage && !m_fillingList && isVisible())
            fillTextFromMessage();
    });

    auto *layout = new QVBoxLayout(this);
    m_intro = new QLabel(QStringLiteral("Eine E-Mail soll gelöscht werden, wenn das..."), this);
    m_allowIntro = QStringLiteral("Eine E-Mail soll nie als Spam gelten, wenn das...");
    m_allowTitle = QStringLiteral("Ausnahme anhand von Headerfeldern einer E-Mail");
    layout->addWidget(m_intro);
    auto *grid = new QGridLayout;
    const auto addRow = [&](const QString &caption, QWidget *control) {
        const int row = grid->rowCount();
        auto *label = new QLabel(caption, this);
        label->setBuddy(control);
        grid->addWidget(label, row, 0);
        grid->addWidget(control, row, 1);
    };
    addRow(QStringLiteral("E-Mail-Headerfeld:"), m_field);
    addRow(QStringLiteral("der E-Mail..."), m_operation);
    addRow(QStringLiteral("Text"), m_text);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);
    layout->addLayout(buttonRow());
    setMinimumWidth(460);
}

void THeaderFieldFilterDlg::SetMessage(const MailMessage &message)
{
    m_hasMessage = true;
    m_headerLines = message.Headers;
}

void THeaderFieldFilterDlg::SetValues(const QString &field, int operation, const QString &text)
{
    m_field->setEditText(field);
    m_operation->setCurrentIndex(qBound(0, operation, kFilterOperationCount - 1));
    m_text->setText(text);
}

QString THeaderFieldFilterDlg::FieldName() const
{
    return TrimControls(m_field->currentText());
}

int THeaderFieldFilterDlg::Operation() const
{
    return m_operation->currentIndex();
}

void THeaderFieldFilterDlg::fillFieldList(const QStringList &names)
{
    m_fillingList = true;
    const QString keep = m_field->currentText();
    m_field->clear();
    m_field->addItems(names);
    m_field->setEditText(keep);
    m_fillingList = false;
}

void THeaderFieldFilterDlg::fillTextFromMessage()
{
    // Leading blanks of the proposal stay until the user leaves the text field.
    m_text->setText(ProposedHeaderFieldText(m_headerLines, m_field->currentText()));
}

void THeaderFieldFilterDlg::showEvent(QShowEvent *event)
{
    TFilterRuleDlgBase::showEvent(event);
    if (m_hasMessage)
        fillFieldList(MessageHeaderFieldNames(m_headerLines));
    if (m_field->currentText().isEmpty() && m_field->count() > 0)
        m_field->setEditText(m_field->itemText(0));
    if (m_hasMessage)
        fillTextFromMessage();
}

bool THeaderFieldFilterDlg::valuesAcceptable()
{
    // No message has a nameless field: with an empty text such a rule would mark every message as
    // spam, with any other text none.
    if (!FieldName().isEmpty())
        return true;
    ErrorBox(kNoHeaderFieldName);
    return false;
}
