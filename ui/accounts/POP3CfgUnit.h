#pragma once
// "POP3-Postfächer": the list of watched mailboxes and the options of the timed check. Everything changed
// stays in the dialog until "Speichern", which writes the options and the whole list in one go; whoever
// opened it then lets the check coordinator take them over.
#include "ServerSearch.h"
#include "TypeDef.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTabWidget;
class QToolButton;
class TCheckBoxGrid;
class TPOP3Checker;
class TRegistrySettings;

inline const QString kAccountsDialogCaption = QStringLiteral("POP3-Postfächer");
// %1 the row's text.
inline const QString kDeleteAccountQuestion = QStringLiteral("Möchten Sie das E-Mail-Konto \"%1\" wirklich löschen?");
// %1 the row's text.
inline const QString kAccountExistsText =
    QStringLiteral("Das E-Mail-Konto %1 konnte nicht importiert werden, da es bereits vorhanden ist.");
// %1 the settings file.
inline const QString kAccountsNotSavedText = QStringLiteral(
    "Die POP3-Postfächer konnten nicht gespeichert werden, da die Einstellungsdatei \"%1\" nicht beschrieben "
    "werden kann.\r\n\r\nIhre Änderungen sind noch nicht gespeichert. Prüfen Sie die Schreibrechte der Datei und "
    "versuchen Sie es erneut.");

class TPOP3Cfg : public QDialog {
    Q_OBJECT
public:
    // Reads the check options and the accounts from the store. The coordinator tests logins for the
    // account editor; playSound plays the chosen sound file. All outlive the dialog.
    TPOP3Cfg(TRegistrySettings &settings, TPOP3Checker &checker, std::function<void(const QString &)> playSound,
             QWidget *parent = nullptr);
    ~TPOP3Cfg() override;

    // Both set by a successful "Speichern"; the opener takes the settings over only then.
    bool Saved = false;
    bool ClosedBySave = false;

    // Where the import looks for the mail programs of this system (empty: the user's home folder), and
    // the provider list of the new-account assistant.
    QString ImportHome;
    QString ProviderFile;
    // Where the assistant searches a server's security (tests move it to their servers).
    TServerSearchPlan SearchPlan;

    // The sound file chooser, given the current path; an empty answer means cancelled. It opens Qt's
    // file dialog; tests answer it instead.
    std::function<QString(const QString &current)> ChooseSoundFile;

    // Appends a row for a new account (the blank row of an empty grid first), ticked and active.
    void AppendAccount(const TPOP3AccountSettings &account);
    // The rows' accounts in the grid's row order.
    TPOP3Accounts ListedAccounts() const;
    // The check options as "Speichern" would write them.
    TPOP3Check CheckOptions() const;

    // Handlers, named by their controls.
    void AddAccountBtnClick();
    void OEImportBtnClick();
    void EditAccountBtnClick();
    void RemoveAccountBtnClick();
    void SaveBtnClick();
    void SndBtnClick();
    void HearBtnClick();
    void EmailCheckClick();
    void EmailCheckSliderChange();
    // "Ändern" and "Löschen" follow the selected row.
    void UpdateButtons();

    // Controls, by their names.
    QTabWidget *Pages = nullptr;
    QWidget *AccountsPage = nullptr, *CheckPage = nullptr;
    TCheckBoxGrid *AccountsGrid = nullptr;
    QPushButton *AddAccountBtn = nullptr, *EditAccountBtn = nullptr, *RemoveAccountBtn = nullptr;
    QCheckBox *EmailCheck = nullptr;
    QLabel *EmailCheckTitle = nullptr;
    QSlider *EmailCheckSlider = nullptr;
    QLabel *EmailCheckLabel = nullptr;
    QLabel *EMailSoundLabel = nullptr;
    QLineEdit *EMailSoundEdit = nullptr;
    QToolButton *SndBtn = nullptr, *HearBtn = nullptr;
    QCheckBox *NewMailMsgChkBox = nullptr;
    QCheckBox *AutoKillSpamMails = nullptr;
    QCheckBox *AutoKillSpamMailsConfirmChkBox = nullptr;
    QCheckBox *ShowOnlyNewMsgsChkBox = nullptr;
    QPushButton *OEImportBtn = nullptr, *SaveBtn = nullptr, *CancelBtn = nullptr;

private:
    QWidget *createAccountsPage();
    QWidget *createCheckPage();
    void showCheckOptions();
    // Shows the account in the row: its text, and its check box set to Active.
    void showAccount(int row, const TPOP3AccountSettings &account);
    // A copy of the account in the blank row of an empty grid, or in a new last row.
    void addRow(const TPOP3AccountSettings &account);
    // The account of a data row, or null (the blank row of an empty grid).
    TPOP3AccountSettings *AccountAt(int row) const;
    // The selected row when its text is not empty, else -1.
    int selectedAccountRow() const;

    TRegistrySettings &m_settings;
    TPOP3Checker &m_checker;
    std::function<void(const QString &)> m_playSound;
    TPOP3Check m_check; // the working copy; EMailClient passes through unchanged
    // The rows' records; each row points at one of them.
    std::vector<std::unique_ptr<TPOP3AccountSettings>> m_accounts;
};

// The text of an account's row, and of its type column ("POP3", "IMAP").
QString AccountRowText(const TPOP3AccountSettings &account);
QString AccountTypeText(const TPOP3AccountSettings &account);
