#include "CertificateTrustDialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLabel *selectableLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    return label;
}

} // namespace

TCertificateTrustDialog::TCertificateTrustDialog(const QString &account, const CertificateProblem &problem,
                                                 QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Zertifikat des Servers"));
    const CertificateDescription d = describeCertificate(problem.Certificate);

    QString reasons = problem.Reasons();
    if (!reasons.isEmpty())
        reasons[0] = reasons.at(0).toUpper();
    m_reasons = selectableLabel(QStringLiteral("Der Server %1 (Port %2) des Kontos %3 hat ein Zertifikat vorgelegt, "
                                               "das nicht überprüft werden konnte:\n%4.")
                                    .arg(problem.Host)
                                    .arg(problem.Port)
                                    .arg(account, reasons),
                                this);

    auto *grid = new QGridLayout;
    const QList<QPair<QString, QString>> rows{
        {QStringLiteral("Ausgestellt für:"), d.Subject},
        {QStringLiteral("Ausgestellt von:"), d.Issuer},
        {QStringLiteral("Gilt für:"), d.Names.join(QStringLiteral(", "))},
        {QStringLiteral("Gültig:"), QStringLiteral("vom %1 bis zum %2").arg(d.ValidFrom, d.ValidUntil)},
        {QStringLiteral("SHA-256-Fingerabdruck:"), d.Fingerprint},
    };
    for (int i = 0; i < rows.size(); ++i) {
        grid->addWidget(new QLabel(rows.at(i).first, this), i, 0, Qt::AlignTop);
        QLabel *value = selectableLabel(rows.at(i).second, this);
        if (i == rows.size() - 1)
            value->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        grid->addWidget(value, i, 1);
    }
    grid->setColumnStretch(1, 1);
    m_text = m_reasons->text() + QLatin1Char('\n') + d.Text();

    auto *advice = selectableLabel(
        QStringLiteral("Vertrauen Sie diesem Zertifikat nur, wenn Sie sicher sind, dass es zu Ihrem Mailserver "
                       "gehört, etwa weil der Fingerabdruck mit dem übereinstimmt, den Ihr Anbieter nennt. "
                       "Quarvel vertraut dann genau diesem Zertifikat für dieses Konto; ein anderes wird wieder "
                       "abgelehnt."),
        this);

    auto *buttons = new QDialogButtonBox(this);
    m_trustBtn = buttons->addButton(QStringLiteral("Diesem Zertifikat vertrauen"), QDialogButtonBox::AcceptRole);
    m_cancelBtn = buttons->addButton(QStringLiteral("Abbrechen"), QDialogButtonBox::RejectRole);
    // Trust takes a deliberate click: Enter cancels.
    m_trustBtn->setAutoDefault(false);
    m_cancelBtn->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_reasons);
    layout->addLayout(grid);
    layout->addWidget(advice);
    layout->addWidget(buttons);
    resize(560, sizeHint().height());
}

QString TCertificateTrustDialog::Text() const
{
    return m_text;
}

bool AskTrustCertificate(QWidget *parent, const QString &account, const CertificateProblem &problem)
{
    TCertificateTrustDialog dialog(account, problem, parent);
    return dialog.exec() == QDialog::Accepted;
}
