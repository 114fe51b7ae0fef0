#pragma once
// Shows a server certificate that a connection refused (why, who it is issued to and by, how long it is
// valid, its fingerprint) and asks whether to trust exactly this certificate for the account from now on.
// Used after a manual check, and by an account test.
#include "ServerCertificate.h"

#include <QDialog>

class QLabel;
class QPushButton;

class TCertificateTrustDialog : public QDialog {
    Q_OBJECT
public:
    // account: "user@host" of the mailbox whose server presented the certificate.
    TCertificateTrustDialog(const QString &account, const CertificateProblem &problem, QWidget *parent = nullptr);

    // The reasons and the certificate's details as shown.
    QString Text() const;
    QPushButton *TrustButton() const { return m_trustBtn; }
    QPushButton *CancelButton() const { return m_cancelBtn; }

private:
    QLabel *m_reasons;
    QString m_text;
    QPushButton *m_trustBtn;
    QPushButton *m_cancelBtn;
};

// Shows the dialog modally; true when the user chose to trust the certificate.
bool AskTrustCertificate(QWidget *parent, const QString &account, const CertificateProblem &problem);
