// The question whether to trust a refused server certificate: what it shows, and that only a deliberate
// click on the trust button trusts.
#include "CertificateTrustDialog.h"
#include "TestCertificates.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace {

class CertificateDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(certificates.selfSigned(QStringLiteral("pop.example.test"), {QStringLiteral("DNS:pop.example.test")},
                                            &cert, &error))
            << error.toStdString();
        problem.Host = QStringLiteral("pop.example.test");
        problem.Port = 995;
        problem.Certificate = cert.Certificate;
        problem.Errors = {QSslError(QSslError::SelfSignedCertificate, cert.Certificate),
                          QSslError(QSslError::CertificateExpired, cert.Certificate)};
    }

    QStringList labelTexts(const QWidget &w) const
    {
        QStringList out;
        for (const QLabel *l : w.findChildren<QLabel *>())
            out << l->text();
        return out;
    }

    TestCertificates certificates;
    TestCertificate cert;
    CertificateProblem problem;
};

TEST_F(CertificateDialogTest, ShowsReasonsSubjectIssuerValidityAndFingerprint)
{
    TCertificateTrustDialog dialog(QStringLiteral("anna@pop.example.test"), problem);
    const CertificateDescription d = describeCertificate(cert.Certificate);
    const QStringList labels = labelTexts(dialog);
    const QString reasons = labels.first();
    EXPECT_TRUE(reasons.startsWith(QStringLiteral("Der Server pop.example.test (Port 995) des Kontos "
                                                  "anna@pop.example.test hat ein Zertifikat vorgelegt")))
        << reasons.toStdString();
    EXPECT_TRUE(reasons.endsWith(QStringLiteral("\nEs ist selbst signiert; es ist am %1 abgelaufen.").arg(d.ValidUntil)))
        << reasons.toStdString();
    for (const QString &shown :
         {QStringLiteral("pop.example.test, Quarvel Test"), QStringLiteral("vom %1 bis zum %2").arg(d.ValidFrom, d.ValidUntil),
          cert.Fingerprint})
        EXPECT_TRUE(labels.contains(shown)) << shown.toStdString() << "\n" << labels.join(u'\n').toStdString();
    EXPECT_EQ(dialog.Text(), reasons + QLatin1Char('\n') + d.Text());
}

TEST_F(CertificateDialogTest, OnlyTheTrustButtonTrusts)
{
    const struct {
        const char *name;
        bool trust; // else the cancel button, or Enter
        bool enter;
    } cases[] = {{"trust", true, false}, {"cancel", false, false}, {"enter", false, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTimer::singleShot(0, [&c] {
            auto *dialog = qobject_cast<TCertificateTrustDialog *>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            if (c.enter) {
                QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
                QApplication::sendEvent(dialog, &enter);
            } else {
                (c.trust ? dialog->TrustButton() : dialog->CancelButton())->click();
            }
        });
        EXPECT_EQ(AskTrustCertificate(nullptr, QStringLiteral("anna@pop.example.test"), problem), c.trust);
    }
}

} // namespace
