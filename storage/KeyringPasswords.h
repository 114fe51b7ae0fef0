#pragma once
// The mail and SMS passwords in the desktop's keyring (SecretStore.h), with the enciphered registry value
// as the fallback and as the form of .reg exports.
//
// Keys. Every entry lies under the service "Quarvel" with a key that names the kind, the account and the
// profile:
//     "POP3 anna@pop.example.de (/home/anna/.config/Quarvel/user.db)"
//     "SMTP anna@pop.example.de (…)"      the mailbox's own SMTP login, named by the mailbox
//     "SMS-Gateway (…)"                   the one SMS gateway account of the profile
// The profile is the file of the user's settings store, so two profiles never share an entry. The
// account is the mailbox's identity (login name, "@", server), the pair that names an account everywhere;
// accounts of one profile with the same identity are one account and share the entry.
//
// The registry. While a password lives in the keyring its registry value (the same REG_BINARY value that
// otherwise holds the enciphered password) holds kKeyringMarker and nothing else. The marker is shorter
// than the cipher's 32-byte check block, so a program that does not know it reads an empty password, as
// for any value it cannot decipher. Loading the settings never asks the keyring: a record whose value
// holds the marker gets an empty password and its PasswordInKeyring flag, and ResolvePassword fetches
// the password right before a login.
//
// Without a Secret Service nothing changes: the passwords stay enciphered in the settings. When one is
// there, MovePasswordsToKeyring moves them; the editors save a new password enciphered and the next move
// takes it over.
#include "RegIni.h"
#include "TypeDef.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>

class QThread;

enum class TPasswordKind { Incoming, Outgoing, SMSGateway };

inline const QByteArray kKeyringMarker = QByteArrayLiteral("Quarvel:keyring");

// The error code of a login that did not take place because the keyring did not give its password (the
// check's progress line shows it as the "Fehlernummer"). The window then asks the user for it once.
inline constexpr int kPasswordUnavailableCode = 990;

// The profile part of every key: the file of the user's settings store.
QString ProfileName();
QString SecretKey(TPasswordKind kind, const QString &serverName, const QString &accountName);
// The key of the account's password of that kind (Incoming or Outgoing).
QString SecretKey(const TPOP3AccountSettings &account, TPasswordKind kind);
QString SMSSecretKey();

// The password a login of this kind uses (the SMTP login with "Gleiche Daten" uses the mailbox's own):
// the record's own when it is not in the keyring; otherwise the one the user gave for this run
// (RememberSessionPassword), else the keyring's. False, with a German text naming the account in *error,
// when the keyring cannot give it.
// Blocking, up to the keyring's time-out: for the threads that log in (the check worker, the senders)
// and command-line tools, not for the window's thread.
bool ResolvePassword(const TPOP3AccountSettings &account, TPasswordKind kind, QString *password, QString *error);
bool ResolvePassword(const TZirpelSettings &gateway, QString *password, QString *error);

// A password the user typed for this run only (or until the keyring has it): ResolvePassword takes it
// in place of the keyring's. Thread-safe.
void RememberSessionPassword(const QString &key, const QString &password);

// Keys whose entries before's accounts used and after's no longer need: an account deleted or renamed,
// or its own SMTP login given up. A password that after's records hold in clear text still needs its key:
// the next move puts it there.
QStringList UnusedSecretKeys(const TPOP3Accounts &before, const TPOP3Accounts &after);
// Removes those entries in the background (nobody waits for the answer).
void RemoveSecretsLater(const QStringList &keys);

// Where one password of the profile's settings lies: the registry value, and what its keyring entry is.
struct TPasswordPlace {
    QString Section;   // below the program key, e.g. "POP3\Settings\0"
    QString ValueName; // e.g. "POP3PASSWORD"
    TPasswordKind Kind = TPasswordKind::Incoming;
    QString Key;          // its keyring key
    QByteArray PassPhrase; // the cipher's pass phrase of the enciphered form
};
// The place of a value given by its key path below HKEY_CURRENT_USER and its name; none for a value that
// holds no password of the program.
std::optional<TPasswordPlace> PasswordPlaceOf(TTheRegIniFile &reg, const QString &keyPath, const QString &valueName);
// Every password value of the profile: each account's two, then the SMS gateway's.
QList<TPasswordPlace> PasswordPlaces(TTheRegIniFile &reg);

// The enciphered form, read from the keyring (blocking), of a value that holds the marker: what an export
// writes in its place. False with a German text in *error when the keyring cannot give it.
bool EncipheredFromKeyring(TTheRegIniFile &reg, const QString &keyPath, const QString &valueName,
                           QByteArray *enciphered, QString *error);

struct TPasswordMove {
    bool KeyringAvailable = false; // the Secret Service answered; nothing was tried otherwise
    int Moved = 0;                 // passwords now in the keyring, their values the marker
    int Failed = 0;                // writes the keyring refused; those stay enciphered
    QString ErrorText;             // the keyring's words on the last failure
};

// Moves every non-empty password the profile's settings hold enciphered into the keyring. A value becomes
// the marker only after the keyring confirmed the write, and only when it still holds the same bytes for
// the same account by then (the settings may have been saved meanwhile). stop, when set, ends the move
// before the next password. Blocking: not for the window's thread.
TPasswordMove MovePasswordsToKeyring(const std::atomic<bool> *stop = nullptr);

// The move of the window: MovePasswordsToKeyring on a thread of its own, Finished on the owner's thread.
class TPasswordMigration : public QObject {
    Q_OBJECT
public:
    explicit TPasswordMigration(QObject *parent = nullptr);
    // Stops the move under way after its current password and waits for that.
    ~TPasswordMigration() override;
    // Starts a move; while one runs, one more runs after it (the settings may have changed meanwhile).
    void Start();
    bool Running() const { return m_thread != nullptr; }

Q_SIGNALS:
    void Finished(const TPasswordMove &result);

private:
    QThread *m_thread = nullptr;
    bool m_again = false;
    std::atomic<bool> m_stop{false};
};
