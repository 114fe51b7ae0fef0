#include "AddToFilterDlgUnit.h"

#include "FilterRuleDlgUnit.h"
#include "FilterRules.h"
#include "SpamFilterClassUnit.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TAddToFilterDlg::TAddToFilterDlg(const MailMessage &message, TSpamFilterClass &filters, QWidget *parent)
    : QDialog(parent), m_message(message), m_filters(filters),
      m_subjectOpt(new QRadioButton(QStringLiteral("Anhand des Betreffs der E-Mail aufnehmen"), this)),
      m_headerOpt(new QRadioButton(QStringLiteral("Anhand von Headerfeldern einer E-Mail aufnehmen"), this)),
      m_okBtn(new QPushButton(QStringLiteral("OK"), this)),
      m_cancelBtn(new QPushButton(QStringLiteral("Abbrechen"), this))
{
    setWindowTitle(QStringLiteral("In Spam-Filter aufnehmen"));
    setModal(true);
    m_subjectOpt->setChecked(true);
    m_okBtn->setDefault(true);
    connect(m_okBtn, &QPushButton::clicked, this, &TAddToFilterDlg::OKBtnClick);
    connect(m_cancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_subjectOpt);
    layout->addWidget(m_headerOpt);
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(m_okBtn);
    row->addWidget(m_cancelBtn);
    layout->addLayout(row);
}

void TAddToFilterDlg::OKBtnClick()
{
    TSimpleFilter rule;
    if (m_subjectOpt->isChecked()) {
        TSubjectFilterDlg dlg(false, this);
        dlg.SetValues(foContains, m_message.Subject);
        if (dlg.exec() != QDialog::Accepted)
            return;
        rule = NewSubjectFilter(dlg.Operation(), dlg.Text());
    } else {
        THeaderFieldFilterDlg dlg(this);
        dlg.SetValues(QStringLiteral("From"), foEquals, QString());
        dlg.SetMessage(m_message);
        if (dlg.exec() != QDialog::Accepted)
            return;
        rule = NewHeaderFieldFilter(dlg.FieldName(), dlg.Operation(), dlg.Text());
    }
    m_filters.AddFilter(rule);
    RuleAdded = true;
    accept();
}
