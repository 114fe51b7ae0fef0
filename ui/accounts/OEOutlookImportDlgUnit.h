#pragma once
// "Import von E-Mail-Konten": a wizard that finds the POP3 accounts other mail programs keep, lets the
// user choose among them and type their passwords, and hands the chosen ones back. It stores nothing;
// the mailbox list dialog takes ChosenAccounts() after a run that ended with OK.
#include "ImportRecords.h"

#include <QDialog>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTreeWidget;
class TEvolutionImport;
class TKMailImport;
class TMozillaImport;
class TOutlookExpress;

inline const QString kImportCaption = QStringLiteral("Import von E-Mail-Konten");
inline const QString kNoIdentitiesText = QStringLiteral(
    "Es wurden keine Outlook Express Identitäten gefunden. Entweder ist Outlook Express nicht installiert oder "
    "Quarvel kann die Identitäten nicht auslesen.");
inline const QString kNoAccountsFoundText = QStringLiteral("Es wurden keine Internetkonten gefunden.");
inline const QString kChooseAccountText =
    QStringLiteral("Sie müssen mindestens ein E-Mail-Konto für den Import wählen.");
inline const QString kMissingPasswordText = QStringLiteral(
    "Sie müssen für jedes E-Mail-Konto das Passwort eingeben.\r\rKlicken Sie doppelt auf den E-Mail-Kontonamen, "
    "um das Passwort eingeben zu können.");
inline const QString kChooseProfileText = QStringLiteral("Sie müssen einen Ordner und ein Profil wählen.");
inline const QString kNoRegFileText = QStringLiteral(
    "Bitte wählen Sie die Registrierungsdatei (*.reg), aus der die E-Mail-Konten gelesen werden sollen.");
inline const QString kNoStoreFolderText = QStringLiteral(
    "Bitte wählen Sie den Ordner von Windows Mail, aus dem die E-Mail-Konten gelesen werden sollen.");
// %1 the folder.
inline const QString kUnreadableFolderText = QStringLiteral("Der Ordner %1 kann nicht gelesen werden.");

// The small box that asks for one account's password.
class TImportPasswordDlg : public QDialog {
    Q_OBJECT
public:
    // The caption is the account's name in the other program; the prompt names its login.
    TImportPasswordDlg(const QString &caption, const QString &userName, QWidget *parent = nullptr);
    QString Password() const;

    QLabel *Prompt = nullptr;
    QLineEdit *PasswordEdit = nullptr;
    QPushButton *OKBtn = nullptr, *CancelBtn = nullptr;
};

class TOEOutlookImportDlg : public QDialog {
    Q_OBJECT
public:
    enum TPage { pgStart = 0, pgIdentity = 1, pgAccounts = 2, pgPasswords = 3, pgFinish = 4, pgMozProfile = 5 };
    enum TSource { srcOutlookExpress, srcOutlook, srcWindowsMail, srcMozilla, srcEvolution, srcKMail };

    // The programs of this system are looked for below this home folder (empty: the user's own).
    explicit TOEOutlookImportDlg(const QString &home = QString(), QWidget *parent = nullptr);
    ~TOEOutlookImportDlg() override;

    // After a run that ended with OK: the accounts of the password list, in its order, each with the
    // password typed for it.
    QList<TOEMailBox> ChosenAccounts() const;

    int CurrentPage() const;
    TSource Source() const;

    // The choosers behind "Durchsuchen...", given the current text; an empty answer means cancelled.
    // They open Qt's file dialogs; tests answer them instead.
    std::function<QString(const QString &current)> ChooseRegFile;
    std::function<QString(const QString &current)> ChooseStoreFolder;

    // Handlers, named by their controls.
    void NextBtnClick();
    void PrevBtnClick();
    // What entering the current page does (page 1 first passes sources other than Outlook Express on).
    void NBPageChanged();
    void SourceChange();
    void MozFoldersCBChange();
    void MozProfilesCBChange();
    void SelectAllBtnClick();
    void DeselectAllBtnClick();
    void AccountsLVDblClick();
    void RegFileBtnClick();
    void StoreFolderBtnClick();

    // Controls, by their names.
    QStackedWidget *NB = nullptr;
    QRadioButton *oeRB = nullptr, *oRB = nullptr, *wRB = nullptr, *mozRB = nullptr, *evoRB = nullptr,
                 *kmailRB = nullptr;
    QCheckBox *RegFileChkBox = nullptr;
    QLineEdit *RegFileEdit = nullptr;
    QPushButton *RegFileBtn = nullptr;
    QLabel *StoreFolderLabel = nullptr;
    QLineEdit *StoreFolderEdit = nullptr;
    QPushButton *StoreFolderBtn = nullptr;
    QComboBox *IdentitesCB = nullptr;
    QListWidget *AccountSelectLB = nullptr;
    QPushButton *SelectAllBtn = nullptr, *DeselectAllBtn = nullptr;
    QTreeWidget *AccountsLV = nullptr;
    QComboBox *MozFoldersCB = nullptr, *MozProfilesCB = nullptr;
    QPushButton *PrevBtn = nullptr, *NextBtn = nullptr, *CancelBtn = nullptr;

private:
    QWidget *createStartPage();
    QWidget *createIdentityPage();
    QWidget *createAccountsPage();
    QWidget *createPasswordsPage();
    QWidget *createFinishPage();
    QWidget *createMozProfilePage();
    void showPage(int page);
    // The page's check before "Weiter" leaves it; on a fault its box.
    bool checkPage(int page);
    bool checkSourceFiles();
    // The registry reader of the chosen source: the .reg file's, or the settings store's.
    TOutlookExpress &registryReader();
    void readAccounts();
    void fillPasswordList();

    std::unique_ptr<TOutlookExpress> m_storeReader;
    std::unique_ptr<TOutlookExpress> m_fileReader;
    std::unique_ptr<TMozillaImport> m_moz;
    std::unique_ptr<TEvolutionImport> m_evolution;
    std::unique_ptr<TKMailImport> m_kmail;
    // The accounts of the check list, line by line; the password list's rows refer to them by index.
    TOEAccountList m_found;
};
