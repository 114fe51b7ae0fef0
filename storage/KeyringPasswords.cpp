#include "KeyringPasswords.h"

#include "BlowfishCryptUnit.h"
#include "Paths.h"
#include "RegistrySettingsUnit.h"
#include "SecretStore.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QThread>

#include <memory>

namespace {

QMutex g_sessionMutex;
QHash<QString, QString> g_sessionPasswords;

QString sessionPassword(const QString &key, bool *found)
{
    QMutexLocker lock(&g_sessionMutex);
    const auto it = g_sessionPasswords.constFind(key);
    *found = it != g_sessionPasswords.cend();
    return *found ? *it : QString();
}

// Reads the keyring for a login; error names what the password is for.
bool fromKeyring(const QString &key, const QString &what, QString *password, QString *error)
{
    bool found = false;
    const QString remembered = sessionPassword(key, &found);
    if (found) {
        *password = remembered;
        return true;
    }
    const TSecretResult r = secrets::Read(key);
    if (r.ok()) {
        *password = r.Secret;
        return true;
    }
    password->clear();
    if (error)
        *error = QStringLiteral("Das Kennwort für %1 konnte nicht aus dem Schlüsselbund gelesen werden. %2")
                     .arg(what, r.ErrorText);
    return false;
}

QString identity(const TPOP3AccountSettings &account)
{
    return account.AccountName + QLatin1Char('@') + account.ServerName;
}

// Selects the key below the program key that holds the values of section.
void useSection(TTheRegIniFile &reg, const QString &section)
{
    reg.RegKey = HKEY::CURRENT_USER;
    reg.Area = kProgramKey;
    reg.Section = section;
}

QString fullPath(const QString &section)
{
    return kProgramKey + QLatin1Char('\\') + section;
}

// The value's bytes, when it can be read.
std::optional<QByteArray> storedBytes(TTheRegIniFile &reg, const TPasswordPlace &place)
{
    if (!reg.Hive().keyExists(fullPath(place.Section)))
        return std::nullopt;
    useSection(reg, place.Section);
    TMemoryStream s;
    reg.ReadBinary(place.ValueName, s);
    if (reg.ErrorCode() != 0)
        return std::nullopt;
    return s.Data;
}

// Some value of the profile still holds the password of this key, or will (the marker, or a
// non-empty enciphered password not moved yet).
bool keyInUse(TTheRegIniFile &reg, const QString &key)
{
    for (const TPasswordPlace &place : PasswordPlaces(reg)) {
        if (place.Key != key)
            continue;
        const std::optional<QByteArray> stored = storedBytes(reg, place);
        QString password;
        if (stored && (*stored == kKeyringMarker || (DecryptPassword(*stored, place.PassPhrase, &password)
                                                     && !password.isEmpty())))
            return true;
    }
    return false;
}

// The value holds exactly stored for the same account still: then it becomes the marker.
bool replaceByMarker(TTheRegIniFile &reg, const TPasswordPlace &place, const QByteArray &stored)
{
    reg.RegKey = HKEY::CURRENT_USER;
    platform::RegTransaction tx(reg.Hive());
    const std::optional<TPasswordPlace> now = PasswordPlaceOf(reg, fullPath(place.Section), place.ValueName);
    if (!now || now->Key != place.Key || storedBytes(reg, *now) != stored)
        return false;
    useSection(reg, place.Section);
    reg.ResetWriteFailures();
    reg.WriteBinary(place.ValueName, TMemoryStream{kKeyringMarker, 0});
    return reg.WriteFailures() == 0 && tx.commit();
}

} // namespace

QString ProfileName()
{
    return QDir::cleanPath(QFileInfo(platform::registryFile(platform::RegRoot::CurrentUser)).absoluteFilePath());
}

QString SecretKey(TPasswordKind kind, const QString &serverName, const QString &accountName)
{
    // One arg() call: a "%" in a name is taken as it stands.
    switch (kind) {
    case TPasswordKind::Incoming:
        return QStringLiteral("POP3 %1@%2 (%3)").arg(accountName, serverName, ProfileName());
    case TPasswordKind::Outgoing:
        return QStringLiteral("SMTP %1@%2 (%3)").arg(accountName, serverName, ProfileName());
    case TPasswordKind::SMSGateway:
        break;
    }
    return SMSSecretKey();
}

QString SecretKey(const TPOP3AccountSettings &account, TPasswordKind kind)
{
    return SecretKey(kind, account.ServerName, account.AccountName);
}

QString SMSSecretKey()
{
    return QStringLiteral("SMS-Gateway (%1)").arg(ProfileName());
}

bool ResolvePassword(const TPOP3AccountSettings &account, TPasswordKind kind, QString *password, QString *error)
{
    if (kind == TPasswordKind::Outgoing && account.SMTPUsePOP3Data)
        kind = TPasswordKind::Incoming;
    const bool incoming = kind != TPasswordKind::Outgoing;
    if (!(incoming ? account.PasswordInKeyring : account.SMTPPasswordInKeyring)) {
        *password = incoming ? account.Password : account.SMTPPassword;
        return true;
    }
    const QString what = incoming ? identity(account)
                                  : QStringLiteral("den Postausgangsserver von %1").arg(identity(account));
    return fromKeyring(SecretKey(account, kind), what, password, error);
}

bool ResolvePassword(const TZirpelSettings &gateway, QString *password, QString *error)
{
    if (!gateway.PasswordInKeyring) {
        *password = gateway.Password;
        return true;
    }
    return fromKeyring(SMSSecretKey(), QStringLiteral("das SMS-Gateway"), password, error);
}

void RememberSessionPassword(const QString &key, const QString &password)
{
    QMutexLocker lock(&g_sessionMutex);
    g_sessionPasswords.insert(key, password);
}

QStringList UnusedSecretKeys(const TPOP3Accounts &before, const TPOP3Accounts &after)
{
    QSet<QString> needed;
    for (const TPOP3AccountSettings &a : after) {
        if (a.PasswordInKeyring || !a.Password.isEmpty())
            needed.insert(SecretKey(a, TPasswordKind::Incoming));
        if (!a.SMTPUsePOP3Data && (a.SMTPPasswordInKeyring || !a.SMTPPassword.isEmpty()))
            needed.insert(SecretKey(a, TPasswordKind::Outgoing));
    }
    QStringList unused;
    auto consider = [&](const QString &key) {
        if (!needed.contains(key) && !unused.contains(key))
            unused.append(key);
    };
    for (const TPOP3AccountSettings &a : before) {
        if (a.PasswordInKeyring)
            consider(SecretKey(a, TPasswordKind::Incoming));
        if (a.SMTPPasswordInKeyring)
            consider(SecretKey(a, TPasswordKind::Outgoing));
    }
    return unused;
}

void RemoveSecretsLater(const QStringList &keys)
{
    for (const QString &key : keys)
        secrets::RemoveAsync(key, nullptr, {});
}

std::optional<TPasswordPlace> PasswordPlaceOf(TTheRegIniFile &reg, const QString &keyPath, const QString &valueName)
{
    const QString prefix = kProgramKey + QLatin1Char('\\');
    if (!keyPath.startsWith(prefix, Qt::CaseInsensitive))
        return std::nullopt;
    // Only existing keys: reading a missing one would create it, and an empty account with it.
    reg.RegKey = HKEY::CURRENT_USER;
    if (!reg.Hive().keyExists(keyPath))
        return std::nullopt;
    const QString section = keyPath.mid(prefix.size());
    const QStringList parts = section.split(QLatin1Char('\\'));
    auto is = [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) == 0; };
    const QStringList accountsKey = kPOP3SettingsKey.split(QLatin1Char('\\'));

    TPasswordPlace place;
    place.Section = section;
    place.ValueName = valueName;
    if (parts.size() == 3 && is(parts.at(0), accountsKey.at(0)) && is(parts.at(1), accountsKey.at(1))
        && (is(valueName, kPOP3PasswordValue) || is(valueName, kSMTPPasswordValue))) {
        useSection(reg, section);
        place.Kind = is(valueName, kPOP3PasswordValue) ? TPasswordKind::Incoming : TPasswordKind::Outgoing;
        place.Key = SecretKey(place.Kind, reg.ReadString(kServerNameValue, QString()),
                              reg.ReadString(kAccountNameValue, QString()));
        place.PassPhrase = FixedPassPhrase();
        return place;
    }
    if (parts.size() == 1 && is(parts.at(0), kSMSSettingsKey) && is(valueName, kSMSPasswordValue)) {
        useSection(reg, section);
        place.Kind = TPasswordKind::SMSGateway;
        place.Key = SMSSecretKey();
        place.PassPhrase = SMSPassPhrase(reg.ReadString(kSMSUserValue, QString()));
        return place;
    }
    return std::nullopt;
}

QList<TPasswordPlace> PasswordPlaces(TTheRegIniFile &reg)
{
    QList<TPasswordPlace> places;
    reg.RegKey = HKEY::CURRENT_USER;
    const QString accounts = fullPath(kPOP3SettingsKey);
    if (const auto subs = reg.Hive().subKeyNames(accounts))
        for (const QString &sub : *subs)
            for (const QString &value : {kPOP3PasswordValue, kSMTPPasswordValue})
                if (auto place = PasswordPlaceOf(reg, accounts + QLatin1Char('\\') + sub, value))
                    places.append(*place);
    if (auto place = PasswordPlaceOf(reg, fullPath(kSMSSettingsKey), kSMSPasswordValue))
        places.append(*place);
    return places;
}

bool EncipheredFromKeyring(TTheRegIniFile &reg, const QString &keyPath, const QString &valueName,
                           QByteArray *enciphered, QString *error)
{
    const std::optional<TPasswordPlace> place = PasswordPlaceOf(reg, keyPath, valueName);
    if (!place) {
        if (error)
            *error = QStringLiteral("Der Wert %1 unter %2 ist kein Kennwort des Programms.").arg(valueName, keyPath);
        return false;
    }
    const TSecretResult r = secrets::Read(place->Key);
    if (!r.ok()) {
        if (error)
            *error = QStringLiteral("Das Kennwort \"%1\" konnte nicht aus dem Schlüsselbund gelesen werden. %2")
                         .arg(place->Key, r.ErrorText);
        return false;
    }
    *enciphered = EncryptPassword(r.Secret, place->PassPhrase);
    return true;
}

TPasswordMove MovePasswordsToKeyring(const std::atomic<bool> *stop)
{
    struct Waiting {
        TPasswordPlace Place;
        QByteArray Stored;
        QString Password;
    };
    TPasswordMove result;
    TTheRegIniFile reg;
    QList<Waiting> waiting;
    for (const TPasswordPlace &place : PasswordPlaces(reg)) {
        const std::optional<QByteArray> stored = storedBytes(reg, place);
        QString password;
        // An empty password has nothing to keep safe.
        if (stored && *stored != kKeyringMarker && DecryptPassword(*stored, place.PassPhrase, &password)
            && !password.isEmpty())
            waiting.append({place, *stored, password});
    }
    // A profile without such passwords never asks the keyring.
    if (waiting.isEmpty())
        return result;
    const TSecretResult probe = secrets::Probe();
    if (!probe.ok()) {
        result.ErrorText = probe.ErrorText;
        return result;
    }
    result.KeyringAvailable = true;
    for (const Waiting &w : waiting) {
        if (stop && stop->load())
            break;
        const TSecretResult written = secrets::Write(w.Place.Key, w.Password);
        if (!written.ok()) {
            ++result.Failed;
            result.ErrorText = written.ErrorText;
            continue;
        }
        if (replaceByMarker(reg, w.Place, w.Stored)) {
            ++result.Moved;
        } else if (!keyInUse(reg, w.Place.Key)) {
            // The account went away meanwhile: its entry is nobody's.
            secrets::Remove(w.Place.Key);
        }
    }
    return result;
}

TPasswordMigration::TPasswordMigration(QObject *parent) : QObject(parent) {}

TPasswordMigration::~TPasswordMigration()
{
    if (!m_thread)
        return;
    m_stop = true;
    m_thread->wait();
    delete m_thread;
}

void TPasswordMigration::Start()
{
    if (m_thread) {
        m_again = true;
        return;
    }
    m_stop = false;
    auto result = std::make_shared<TPasswordMove>();
    m_thread = QThread::create([this, result] { *result = MovePasswordsToKeyring(&m_stop); });
    connect(m_thread, &QThread::finished, this, [this, result] {
        m_thread->deleteLater();
        m_thread = nullptr;
        Q_EMIT Finished(*result);
        if (m_again) {
            m_again = false;
            Start();
        }
    });
    m_thread->start();
}
