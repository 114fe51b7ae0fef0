#pragma once
// The one object that knows where every setting lives: it moves TProgramSettings between memory and
// the registry store, finds the data folder and seeds it with the installed filter file.
#include "RegIni.h"
#include "TypeDef.h"

#include <QString>

inline const QString kMakerKey = QStringLiteral("Software\\Tessmar Software");
inline const QString kProgramKey = QStringLiteral("Software\\Tessmar Software\\Quarvel");
inline const QString kMachineKey = QStringLiteral("Software\\Quarvel");
inline const QString kProgramVersion = QStringLiteral("2.20");
inline const QString kFilterFileName = QStringLiteral("Filters.dat");

// Keys below the program key, and the values that hold passwords and name their accounts.
inline const QString kPOP3SettingsKey = QStringLiteral("POP3\\Settings");
inline const QString kSMSSettingsKey = QStringLiteral("ZirpelSettings");
inline const QString kServerNameValue = QStringLiteral("POP3SERVERNAME");
inline const QString kAccountNameValue = QStringLiteral("POP3KONTONAME");
inline const QString kPOP3PasswordValue = QStringLiteral("POP3PASSWORD");
inline const QString kSMTPPasswordValue = QStringLiteral("SMTPPassword");
inline const QString kSMSUserValue = QStringLiteral("Username");
inline const QString kSMSPasswordValue = QStringLiteral("Password");

// The fixed pass phrase of the mailbox passwords (128 characters).
QByteArray FixedPassPhrase();
// The SMS password's pass phrase: the fixed one, the SMS user name and the product name.
QByteArray SMSPassPhrase(const QString &smsUserName);

class TRegistrySettings {
public:
    explicit TRegistrySettings(QString programFolder = QString());

    TTheRegIniFile RegFile;
    TProgramSettings Settings;
    // Folder of the running program with a trailing '/' (given, or the running executable's).
    QString ProgramFolder;

    void Load();
    // False when a value could not be written (a store that is read-only, damaged or locked).
    bool Save();
    void SaveSplitterPosition();
    void SaveColWidths();
    void LoadPOP3Settings(TPOP3Check &check, TPOP3Accounts &accounts);
    // Replaces the stored mailboxes as a whole: the old list stays if the save cannot complete.
    // False when the store could not be written. With unusedSecretKeys, the keyring keys that the
    // replaced list used and the new one no longer needs (UnusedSecretKeys) are added there.
    bool SavePOP3Settings(const TPOP3Check &check, const TPOP3Accounts &accounts,
                          QStringList *unusedSecretKeys = nullptr);
    int FindAccount(const QString &serverName, const QString &accountName) const;
    TPOP3AccountSettings GetAccount(const QString &serverName, const QString &accountName) const;
    // Stores fingerprint as the certificate the user trusts for the incoming (or, with outgoing, the
    // outgoing) server of the first stored account named (serverName, accountName), then reloads the
    // mailboxes of Settings. False when there is no such account or the store cannot be written.
    bool StoreTrustedCertificate(const QString &serverName, const QString &accountName, bool outgoing,
                                 const QString &fingerprint);
    QString GetDataFolder();
    // The default of "DataPath": the application-data folder with the product name appended.
    QString DefaultDataPath() const;

private:
    void use(HKEY root, const QString &section);
    void writePOP3Values(const TPOP3Check &check, const TPOP3Accounts &accounts);
    // The account subkeys of POP3\Settings in the order the accounts are loaded.
    QStringList accountKeys();
};
