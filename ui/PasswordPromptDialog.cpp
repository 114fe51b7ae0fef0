#include "PasswordPromptDialog.h"

#include "DialogWidgets.h"
#include "KeyringPasswords.h"
#include "POP3Check.h"
#include "SecretStore.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

TPasswordPromptDlg::TPasswordPromptDlg(const QString &account, const QString &reason, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(kPasswordPromptCaption.arg(account));
    setModal(true);
    ReasonLabel = WrappedLabel(reason, this);
    ReasonLabel->setTextFormat(Qt::PlainText);
    PasswordEdit = new QLineEdit(this);
    MaskWithStars(PasswordEdit);
    StoreChkBox = new QCheckBox(kStoreInKeyringText, this);
    StoreChkBox->setChecked(true);

    auto *buttons = new QDialogButtonBox(this);
    OKBtn = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    CancelBtn = buttons->addButton(QStringLiteral("Abbrechen"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // An empty password is no answer.
    OKBtn->setEnabled(false);
    connect(PasswordEdit, &QLineEdit::textChanged, this, [this](const QString &text) { OKBtn->setEnabled(!text.isEmpty()); });

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(ReasonLabel);
    layout->addWidget(new QLabel(kPasswordPromptCaption.arg(account) + QLatin1Char(':'), this));
    layout->addWidget(PasswordEdit);
    layout->addWidget(StoreChkBox);
    layout->addWidget(buttons);
    PasswordEdit->setFocus();
    resize(420, sizeHint().height());
}

QString TPasswordPromptDlg::Password() const
{
    return PasswordEdit->text();
}

bool TPasswordPromptDlg::StoreInKeyring() const
{
    return StoreChkBox->isChecked();
}

void TMissingPasswords::Note(const QString &account, int status, int code, const QString &errorText)
{
    if (status != asFailed || code != kPasswordUnavailableCode || m_asked.contains(account)
        || m_pending.contains(account))
        return;
    m_pending.append(account);
    m_reasons.insert(account, errorText.trimmed());
}

int TMissingPasswords::AskPending(const TPOP3Accounts &accounts, QWidget *parent)
{
    int given = 0;
    const QStringList pending = std::exchange(m_pending, {});
    for (const QString &name : pending) {
        m_asked.insert(name);
        const auto account = std::find_if(accounts.cbegin(), accounts.cend(), [&name](const TPOP3AccountSettings &a) {
            return a.AccountName + QLatin1Char('@') + a.ServerName == name;
        });
        if (account == accounts.cend())
            continue;
        TPasswordPromptDlg dialog(name, m_reasons.take(name), parent);
        const bool ok = RunDialog ? RunDialog(dialog) : dialog.exec() == QDialog::Accepted;
        if (!ok || dialog.Password().isEmpty())
            continue;
        const QString key = SecretKey(*account, TPasswordKind::Incoming);
        RememberSessionPassword(key, dialog.Password());
        ++given;
        if (!dialog.StoreInKeyring())
            continue;
        auto failed = OnStoreFailed;
        secrets::WriteAsync(key, dialog.Password(), parent, [failed, name](const TSecretResult &r) {
            if (!r.ok() && failed)
                failed(QStringLiteral("Das Kennwort für %1 wurde nicht im Schlüsselbund gespeichert. %2")
                           .arg(name, r.ErrorText));
        });
    }
    return given;
}
