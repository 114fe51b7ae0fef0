#pragma once
// The question for a mailbox password that the keyring could not give a check (a missing entry, a
// locked keyring the user did not unlock, no keyring at all): "Kennwort für … eingeben", with the choice
// "Im Schlüsselbund speichern". The answer counts for the rest of the run; stored, it counts from then on.
// Each mailbox is asked for once per run.
#include "TypeDef.h"

#include <QDialog>
#include <QHash>
#include <QSet>
#include <QStringList>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

inline const QString kPasswordPromptCaption = QStringLiteral("Kennwort für %1 eingeben"); // %1 "user@host"
inline const QString kStoreInKeyringText = QStringLiteral("Im Schlüsselbund speichern");

class TPasswordPromptDlg : public QDialog {
    Q_OBJECT
public:
    // account: "user@host"; reason: why the check could not log in.
    TPasswordPromptDlg(const QString &account, const QString &reason, QWidget *parent = nullptr);

    QString Password() const;
    bool StoreInKeyring() const;

    QLabel *ReasonLabel = nullptr;
    QLineEdit *PasswordEdit = nullptr;
    QCheckBox *StoreChkBox = nullptr;
    QPushButton *OKBtn = nullptr, *CancelBtn = nullptr;
};

class TMissingPasswords {
public:
    // A check's progress line: remembers the mailbox when its login failed for want of its password.
    void Note(const QString &account, int status, int code, const QString &errorText);
    // Asks for the password of each remembered mailbox not asked for before in this run (the mailbox
    // found in accounts by "user@host"). A password given counts for this run at once; with "Im
    // Schlüsselbund speichern" it goes to the keyring too, in the background (OnStoreFailed tells
    // when the keyring refuses it). Returns how many passwords the user gave.
    int AskPending(const TPOP3Accounts &accounts, QWidget *parent);

    // Runs the dialog; true for OK. Default: exec(). Tests answer the dialog here.
    std::function<bool(TPasswordPromptDlg &)> RunDialog;
    std::function<void(const QString &errorText)> OnStoreFailed;

private:
    QStringList m_pending;
    QHash<QString, QString> m_reasons;
    QSet<QString> m_asked;
};
