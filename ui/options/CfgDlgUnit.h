#pragma once
// The program options "Programmkonfiguration": how the computer reaches the Internet, the data folder,
// the rescue copies of deleted messages, the mail program, the SMS gateway account, the client
// registrations for signing in at mail providers, and the logon autostart entry. Everything but the
// autostart entry takes effect on OK; the autostart entry changes at once when its box is clicked.
#include <QDialog>
#include <QList>

#include <functional>

class QCheckBox;
class QFileInfo;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class TConnectionMonitor;
class TPOP3Checker;
class TRadioGroup;
class TRegistrySettings;
class TSpamFilterClass;

inline const QString kCfgDlgCaption = QStringLiteral("Programmkonfiguration");
// %1 the error code, %2 the autostart folder.
inline const QString kAutoStartWriteError = QStringLiteral(
    "Eintrag konnte nicht in den Autostart eingefügt werden. Fehlercode: %1.\r\n\r\n"
    "Das Ändern des Autostarteintrages ist nur mit Schreibrechten auf den Ordner \"%2\" möglich.");
inline const QString kAutoStartRemoveError = QStringLiteral(
    "Eintrag konnte nicht aus dem Autostart gelöscht werden. Fehlercode: %1\r\n\r\n"
    "Das Ändern des Autostarteintrages ist nur mit Schreibrechten auf den Ordner \"%2\" möglich.");

// %1 the settings file.
inline const QString kSettingsNotSavedText = QStringLiteral(
    "Die Einstellungen konnten nicht gespeichert werden, da die Einstellungsdatei \"%1\" nicht beschrieben "
    "werden kann.\r\n\r\nIhre Änderungen gelten nur bis zum Ende des Programms. Prüfen Sie die Schreibrechte der "
    "Datei und versuchen Sie es erneut.");

// What the mail program chooser offers: folders, executable files and desktop entries.
bool IsProgramChoice(const QFileInfo &file);
// The mail program for a chosen file: a desktop entry gives the command of its Exec line (the file
// itself when it has none), anything else its path.
QString MailProgramFromChoice(const QString &chosenFile);

// After the dialog: the coordinator keeps its known messages ("uids.dat") in the data folder that the
// settings now name, and writes them there at once, so that they move with the rules and the next start
// does not announce every waiting message again. The deletion log and its copies are those of that
// folder from now on.
void FollowDataFolder(TPOP3Checker &checker, TRegistrySettings &settings);

class TCfgDlg : public QDialog {
    Q_OBJECT
public:
    // Works on the given objects, which outlive the dialog: settings and rules are written on OK, the
    // monitor is switched to the chosen connection type.
    TCfgDlg(TRegistrySettings &settings, TSpamFilterClass &filters, TConnectionMonitor &monitor,
            QWidget *parent = nullptr);

    // The two choosers, given the field's text; an empty answer means cancelled. They open Qt's file
    // dialogs; tests answer them instead.
    std::function<QString(const QString &current)> ChooseFolder;
    std::function<QString(const QString &current)> ChooseProgram;

    void OKBtnClick();
    void AutoStartChkBoxClick();
    void MailDataPathBtnClick();
    void EMailClientBtnClick();

    // Controls, by their names.
    QTabWidget *Pages = nullptr;
    QCheckBox *AutoStartChkBox = nullptr;
    QRadioButton *RB1 = nullptr, *RB2 = nullptr, *RB3 = nullptr;
    QLabel *DataFolderLabel = nullptr, *EMailClientLabel = nullptr;
    QLineEdit *MailDataPathEdit = nullptr;
    QPushButton *MailDataPathBtn = nullptr;
    QLineEdit *EMailClientEdit = nullptr;
    QPushButton *EMailClientBtn = nullptr;
    QCheckBox *KeepCopiesChkBox = nullptr;
    QSpinBox *CopyLimitEdit = nullptr;
    QLabel *SignUpLink = nullptr, *HomePageLink = nullptr;
    QLineEdit *UsernameEdit = nullptr;
    QLineEdit *PasswordEdit = nullptr;
    QCheckBox *HTTPSChkBox = nullptr;
    TRadioGroup *SMSSendOptionsRG = nullptr;
    TRadioGroup *EMail2SMSRG = nullptr;
    // Page "Anmeldung": per provider (in the order of OAuthProviderNames()) its client id and secret.
    QList<QLineEdit *> ClientIdEdits, ClientSecretEdits;
    QPushButton *OKBtn = nullptr, *CancelBtn = nullptr;

private:
    QWidget *createGeneralPage();
    QWidget *createMorePage();
    QWidget *createSmsPage();
    QWidget *createSignInPage();
    void showSettings();
    // The data folder the field names, with a trailing '/'; empty for an empty field.
    QString dataFolderFromField() const;

    TRegistrySettings &m_settings;
    TSpamFilterClass &m_filters;
    TConnectionMonitor &m_monitor;
};
