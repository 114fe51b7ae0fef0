#include "OEImportUnit.h"

#include "BlowfishCryptUnit.h"
#include "ForeignFile.h"
#include "RegFileFormat.h"
#include "RegIni.h"
#include "RegistryHive.h"

#include <QStringDecoder>
#include <QTemporaryDir>

#include <initializer_list>

namespace {

const QString kOEAccounts = QStringLiteral("Software\\Microsoft\\Internet Account Manager\\Accounts");
const QString kOutlookAccounts = QStringLiteral("Software\\Microsoft\\Office\\Outlook\\OMI Account Manager\\Accounts");
const QString kMessagingProfile =
    QStringLiteral("Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles\\Outlook");
// Outlook 2013 and later keep their messaging profiles below their own version key.
const QStringList kOfficeProfileRoots = {QStringLiteral("Software\\Microsoft\\Office\\15.0\\Outlook\\Profiles"),
                                         QStringLiteral("Software\\Microsoft\\Office\\16.0\\Outlook\\Profiles")};

bool startsWithKeys(const QStringList &parts, std::initializer_list<const char *> prefix)
{
    if (parts.size() < qsizetype(prefix.size()))
        return false;
    qsizetype i = 0;
    for (const char *p : prefix) {
        const QLatin1String want(p);
        if (want != QLatin1String("*") && parts.at(i).compare(want, Qt::CaseInsensitive) != 0)
            return false;
        ++i;
    }
    return true;
}

// The keys an import reads; a whole-profile export brings far more, which stays out of the private store.
bool isMailAccountKey(platform::RegRoot root, const QString &path)
{
    if (root != platform::RegRoot::CurrentUser)
        return false;
    const QStringList parts = platform::RegistryHive::splitPath(path);
    return startsWithKeys(parts, {"Identities"})
           || startsWithKeys(parts, {"Software", "Microsoft", "Internet Account Manager"})
           || startsWithKeys(parts, {"Software", "Microsoft", "Office", "Outlook", "OMI Account Manager"})
           || startsWithKeys(parts, {"Software", "Microsoft", "Office", "*", "Outlook", "Profiles"})
           || startsWithKeys(parts, {"Software", "Microsoft", "Windows NT", "CurrentVersion",
                                     "Windows Messaging Subsystem", "Profiles"});
}

// Points the accessor at one key: its parent as the area, its last component as the section.
void selectKey(TTheRegIniFile &reg, const QString &path)
{
    const qsizetype cut = path.lastIndexOf(QLatin1Char('\\'));
    reg.Area = cut < 0 ? QStringLiteral("\\") : path.left(cut);
    reg.Section = cut < 0 ? path : path.mid(cut + 1);
}

QStringList subKeys(TTheRegIniFile &reg, const QString &path)
{
    reg.Area = path;
    reg.Section.clear();
    QStringList names;
    reg.ReadSubKeyNames(names);
    return names;
}

int32_t portOr(uint32_t stored, int32_t def)
{
    return (stored >= 1 && stored <= 65535) ? int32_t(stored) : def;
}

// Outlook's profile values are binary, holding UTF-16 text up to its first zero character.
QString profileText(TTheRegIniFile &reg, const QString &name, bool *exists = nullptr)
{
    TMemoryStream s;
    reg.ReadBinary(name, s);
    if (exists)
        *exists = reg.ErrorCode() == 0;
    QByteArray bytes = s.Data;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        if (bytes.at(i) == 0 && bytes.at(i + 1) == 0) {
            bytes.truncate(i);
            break;
        }
    if (bytes.size() % 2)
        bytes.chop(1);
    QStringDecoder utf16(QStringDecoder::Utf16LE);
    return utf16.decode(bytes);
}

// A local mail proxy (a virus scanner, for instance) takes "name@host" as its login and fetches
// from that host: the account is really one on that host.
void applyLocalProxyCorrection(TOEAccountList &list)
{
    for (TOEAccountItem &item : list) {
        TOEMailBox &b = item.MailBox;
        const qsizetype at = b.POP3UserName.lastIndexOf(QLatin1Char('@'));
        if (b.POP3Server.toLower() == QLatin1String("localhost") && at >= 0) {
            b.POP3Server = b.POP3UserName.mid(at + 1);
            b.POP3UserName = b.POP3UserName.left(at);
        }
    }
}

} // namespace

TOutlookExpress::TOutlookExpress() : m_reg(std::make_unique<TTheRegIniFile>())
{
    ReadIdentities();
}

TOutlookExpress::TOutlookExpress(std::unique_ptr<platform::RegistryHive> hive)
    : m_reg(std::make_unique<TTheRegIniFile>(std::move(hive)))
{
    ReadIdentities();
}

TOutlookExpress::TOutlookExpress(std::unique_ptr<QTemporaryDir> dir, std::unique_ptr<platform::RegistryHive> hive)
    : m_dir(std::move(dir)), m_reg(std::make_unique<TTheRegIniFile>(std::move(hive)))
{
    ReadIdentities();
}

TOutlookExpress::~TOutlookExpress() = default;

std::unique_ptr<TOutlookExpress> TOutlookExpress::FromRegFile(const QString &path, QString *error)
{
    QByteArray bytes;
    if (!platform::readForeignFile(path, kMaxRegFileBytes + 1, &bytes)) {
        *error = QStringLiteral("Die Datei %1 kann nicht gelesen werden.").arg(path);
        return nullptr;
    }
    if (bytes.size() > kMaxRegFileBytes) {
        *error = QStringLiteral("Die Datei %1 ist größer als 128 MB. Bitte exportieren Sie nur die Schlüssel "
                                "der E-Mail-Konten.")
                     .arg(path);
        return nullptr;
    }
    auto dir = std::make_unique<QTemporaryDir>();
    if (!dir->isValid()) {
        *error = QStringLiteral("Für den Import kann kein temporärer Ordner angelegt werden.");
        return nullptr;
    }
    auto hive = std::make_unique<platform::RegistryHive>(dir->filePath(QStringLiteral("import.db")));
    QString why;
    const bool ok = platform::importRegText(
        bytes, [&](platform::RegRoot) -> platform::RegistryHive & { return *hive; }, &why, isMailAccountKey);
    if (!ok) {
        *error = QStringLiteral("Die Datei %1 ist keine lesbare Registrierungsdatei (%2).").arg(path, why);
        return nullptr;
    }
    return std::unique_ptr<TOutlookExpress>(new TOutlookExpress(std::move(dir), std::move(hive)));
}

void TOutlookExpress::ReadIdentities()
{
    Identities.clear();
    DefaultUserID.clear();
    if (!m_reg->Hive().keyExists(QStringLiteral("Identities")))
        return;
    selectKey(*m_reg, QStringLiteral("Identities"));
    DefaultUserID = m_reg->ReadString(QStringLiteral("Default User ID"), QString());
    for (const QString &key : subKeys(*m_reg, QStringLiteral("Identities"))) {
        selectKey(*m_reg, QStringLiteral("Identities\\") + key);
        TOEIdentityItem item;
        item.KeyName = key;
        item.Identity.UserID = m_reg->ReadString(QStringLiteral("User ID"), QString());
        item.Identity.UserName = m_reg->ReadString(QStringLiteral("Username"), QString());
        Identities.append(item);
    }
}

bool TOutlookExpress::applySecurity(TOEMailBox &box, int32_t secureIncoming, uint32_t secureOutgoing)
{
    if (secureIncoming != 0) {
        // Without TLS such an account would send its password in the clear to a server set up for TLS.
        if (!AcceptSecure)
            return false;
        box.POP3Secure = true;
    }
    // A port the source does not give is the standard one of the connection it asks for.
    if (box.POP3Port == 0)
        box.POP3Port = box.POP3Secure ? 995 : 110;
    // Outlook stores 2 for an upgraded connection; Outlook Express only knows "secured" (1).
    box.SMTPStartTLS = secureOutgoing == 2;
    box.SMTPSecure = secureOutgoing != 0 && secureOutgoing != 2;
    return true;
}

void TOutlookExpress::readAccountKeys(const QString &path, KeyList kind, bool dupTest, TOEAccountList &list)
{
    const QStringList keys = subKeys(*m_reg, path);
    for (qsizetype i = 0; i < keys.size(); ++i) {
        selectKey(*m_reg, path + QLatin1Char('\\') + keys.at(i));
        TTheRegIniFile &r = *m_reg;
        const QString pop3 = r.ReadString(QStringLiteral("POP3 Server"), QString());
        const QString smtp = r.ReadString(QStringLiteral("SMTP Server"), QString());
        const QString imap = r.ReadString(QStringLiteral("IMAP Server"), QString());
        const QString http = r.ReadString(QStringLiteral("HTTPMail Server"), QString());
        const QString httpUser = r.ReadString(QStringLiteral("HTTPMail User Name"), QString());
        if (pop3.isEmpty() && smtp.isEmpty() && imap.isEmpty() && http.isEmpty() && httpUser.isEmpty())
            continue; // a news or directory account
        if (kind == KeyList::OutlookExpress
            && (r.ReadDWord(QStringLiteral("POP3 Skip Account"), 0) == 1
                || r.ReadDWord(QStringLiteral("IMAP Skip Account"), 0) == 1
                || r.ReadDWord(QStringLiteral("HTTPMail Skip Account"), 0) == 1))
            continue;
        if (pop3.isEmpty())
            continue;
        TOEMailBox box;
        box.AccountKind = 0;
        box.DisplayName = r.ReadString(QStringLiteral("Account Name"), QString());
        const bool hasName = r.ErrorCode() == 0;
        box.POP3Server = pop3;
        box.POP3UserName = r.ReadString(QStringLiteral("POP3 User Name"), QString());
        box.POP3Port = portOr(r.ReadDWord(QStringLiteral("POP3 Port"), 0), 0);
        box.SMTPEMailAddress = r.ReadString(QStringLiteral("SMTP Email Address"), QString());
        box.SMTPServer = smtp;
        box.SMTPAuth = r.ReadDWord(QStringLiteral("SMTP Use Sicily"), 0) >= 2;
        box.SMTPPort = portOr(r.ReadDWord(QStringLiteral("SMTP Port"), 25), 25);
        // Read as a number whether it was stored as text or as a 32-bit value.
        const int32_t secureIn = r.ReadInteger(QStringLiteral("POP3 Secure Connection"), 0);
        const int32_t secureOut = r.ReadInteger(QStringLiteral("SMTP Secure Connection"), 0);
        if (!applySecurity(box, secureIn, uint32_t(secureOut)))
            continue;
        if (!http.isEmpty() && !httpUser.isEmpty())
            continue;
        if (dupTest && ContainsAccount(list, box.POP3Server, box.POP3UserName))
            continue;
        list.append(TOEAccountItem{hasName ? box.DisplayName : QString::number(i), box});
    }
}

void TOutlookExpress::GetOEAccounts(const QString &userID, TOEAccountList &list)
{
    list.clear();
    const QString identity = QStringLiteral("Identities\\") + userID + QLatin1Char('\\') + kOEAccounts;
    // The default identity's accounts are also kept in the shared list; those come first for it.
    const QStringList paths = userID == DefaultUserID ? QStringList{kOEAccounts, identity}
                                                      : QStringList{identity, kOEAccounts};
    for (qsizetype i = 0; i < paths.size(); ++i)
        if (m_reg->Hive().keyExists(paths.at(i)))
            readAccountKeys(paths.at(i), KeyList::OutlookExpress, i == 1, list);
    applyLocalProxyCorrection(list);
}

void TOutlookExpress::readProfileAccounts(const QString &profileKey, TOEAccountList &list)
{
    for (const QString &sub : subKeys(*m_reg, profileKey)) {
        const QString subPath = profileKey + QLatin1Char('\\') + sub;
        for (const QString &leaf : subKeys(*m_reg, subPath)) {
            selectKey(*m_reg, subPath + QLatin1Char('\\') + leaf);
            TTheRegIniFile &r = *m_reg;
            bool isPop3 = false;
            const QString user = profileText(r, QStringLiteral("POP3 User"), &isPop3);
            if (!isPop3)
                continue; // IMAP accounts have "IMAP User" instead
            TOEMailBox box;
            box.AccountKind = 0;
            box.DisplayName = profileText(r, QStringLiteral("Account Name"));
            box.POP3Server = profileText(r, QStringLiteral("POP3 Server"));
            box.POP3UserName = user;
            box.POP3Port = portOr(r.ReadDWord(QStringLiteral("POP3 Port"), 0), 0);
            box.SMTPEMailAddress = profileText(r, QStringLiteral("Email"));
            box.SMTPServer = profileText(r, QStringLiteral("SMTP Server"));
            box.SMTPAuth = r.ReadDWord(QStringLiteral("SMTP Use Auth"), 0) == 1;
            box.SMTPPort = portOr(r.ReadDWord(QStringLiteral("SMTP Port"), 25), 25);
            const int32_t secureIn = r.ReadInteger(QStringLiteral("POP3 Secure Connection"), 0);
            const int32_t secureOut = r.ReadInteger(QStringLiteral("SMTP Secure Connection"), 0);
            if (!applySecurity(box, secureIn, uint32_t(secureOut)))
                continue;
            list.append(TOEAccountItem{box.DisplayName, box});
        }
    }
}

void TOutlookExpress::GetOutlookAccounts(TOEAccountList &list)
{
    list.clear();
    platform::RegistryHive &hive = m_reg->Hive();
    if (hive.keyExists(kOutlookAccounts))
        readAccountKeys(kOutlookAccounts, KeyList::Outlook, false, list);
    if (hive.keyExists(kMessagingProfile))
        readProfileAccounts(kMessagingProfile, list);
    for (const QString &root : kOfficeProfileRoots)
        if (hive.keyExists(root))
            for (const QString &profile : subKeys(*m_reg, root))
                readProfileAccounts(root + QLatin1Char('\\') + profile, list);
    applyLocalProxyCorrection(list);
}
