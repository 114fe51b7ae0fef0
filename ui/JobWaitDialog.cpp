#include "JobWaitDialog.h"

#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TJobWaitDialog::TJobWaitDialog(const QString &text, QWidget *parent) : QDialog(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    setWindowTitle(QStringLiteral("Einen Moment..."));
    m_text = new QLabel(text, this);
    m_text->setWordWrap(true);
    m_cancel = new QPushButton(QStringLiteral("Abbrechen"), this);
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(m_cancel, QDialogButtonBox::RejectRole);
    connect(m_cancel, &QPushButton::clicked, this, &TJobWaitDialog::cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(buttons);
    setMinimumWidth(360);
    show();
}

QString TJobWaitDialog::Text() const
{
    return m_text->text();
}

void TJobWaitDialog::cancel()
{
    if (m_cancelled || m_finished)
        return;
    m_cancelled = true;
    m_cancel->setEnabled(false);
    if (OnCancel)
        OnCancel();
}

void TJobWaitDialog::Finish()
{
    m_finished = true;
    close();
}

void TJobWaitDialog::reject()
{
    // Escape cancels the job; the window stays until the job has unwound.
    if (m_finished)
        QDialog::reject();
    else
        cancel();
}

void TJobWaitDialog::closeEvent(QCloseEvent *event)
{
    if (m_finished) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    cancel();
}
