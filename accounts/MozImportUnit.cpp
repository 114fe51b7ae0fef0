#include "MozImportUnit.h"

#include "ForeignFile.h"
#include "ImportFiles.h"
#include "Paths.h"
#include "TextCodec.h"

#include <QByteArrayView>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

// socketType / try_ssl: 1 "STARTTLS if offered", 2 "STARTTLS".
bool isStartTlsSocketType(const QString &value)
{
    return value == QLatin1String("1") || value == QLatin1String("2");
}

void appendUtf8(QByteArray &out, char32_t cp)
{
    out.append(QString::fromUcs4(&cp, 1).toUtf8());
}

// One pass over the file. A statement that does not parse spoils only the rest of its line, so a
// damaged file still gives the preferences around the damage, and every step moves forward.
class PrefsScanner {
public:
    explicit PrefsScanner(const QByteArray &bytes) : m_p(bytes.constData()), m_n(bytes.size()) {}

    template <class F>
    void run(F onPref)
    {
        for (;;) {
            skipSpace();
            if (m_i >= m_n)
                return;
            QByteArray name, value;
            if (statement(&name, &value))
                onPref(name, value);
            else
                skipLine();
        }
    }

private:
    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
    static bool isIdent(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'; }
    bool at(const char *s) const { return QByteArrayView(m_p + m_i, m_n - m_i).startsWith(QByteArrayView(s)); }

    void skipLine()
    {
        while (m_i < m_n && m_p[m_i] != '\n')
            ++m_i;
    }

    void skipSpace()
    {
        for (;;) {
            while (m_i < m_n && isSpace(m_p[m_i]))
                ++m_i;
            if (at("//") || at("#")) {
                skipLine();
            } else if (at("/*")) {
                const qsizetype end = QByteArrayView(m_p, m_n).indexOf(QByteArrayView("*/"), m_i + 2);
                m_i = end < 0 ? m_n : end + 2;
            } else {
                return;
            }
        }
    }

    bool expect(char c)
    {
        skipSpace();
        if (m_i < m_n && m_p[m_i] == c) {
            ++m_i;
            return true;
        }
        return false;
    }

    bool hex(int digits, char32_t *out)
    {
        if (m_n - m_i < digits)
            return false;
        char32_t v = 0;
        for (int k = 0; k < digits; ++k) {
            const int d = platform::hexDigitValue(static_cast<unsigned char>(m_p[m_i + k]));
            if (d < 0)
                return false;
            v = v * 16 + char32_t(d);
        }
        m_i += digits;
        *out = v;
        return true;
    }

    // A quoted string on one line, escapes resolved; its bytes as written, escaped characters as UTF-8.
    bool string(QByteArray *out)
    {
        if (m_i >= m_n || (m_p[m_i] != '"' && m_p[m_i] != '\''))
            return false;
        const char quote = m_p[m_i++];
        out->clear();
        while (m_i < m_n) {
            const char c = m_p[m_i];
            if (c == '\n')
                return false;
            ++m_i;
            if (c == quote)
                return true;
            if (c != '\\') {
                out->append(c);
                continue;
            }
            if (m_i >= m_n)
                return false;
            const char e = m_p[m_i++];
            char32_t cp = 0;
            switch (e) {
            case 'n': out->append('\n'); break;
            case 'r': out->append('\r'); break;
            case 't': out->append('\t'); break;
            case 'x':
                if (!hex(2, &cp))
                    return false;
                appendUtf8(*out, cp);
                break;
            case 'u':
                if (!hex(4, &cp))
                    return false;
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    char32_t low = 0;
                    if (at("\\u") && (m_i += 2, hex(4, &low)) && low >= 0xDC00 && low <= 0xDFFF)
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    else
                        return false;
                } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    return false;
                }
                appendUtf8(*out, cp);
                break;
            default: out->append(e); break; // \" \' \\ and the rest stand for themselves
            }
        }
        return false;
    }

    // pref("name", value) with user_pref, sticky_pref or lockPref; a value is a string or a bare word
    // (a number, true, false); attributes after the value are passed over.
    bool statement(QByteArray *name, QByteArray *value)
    {
        const qsizetype start = m_i;
        while (m_i < m_n && isIdent(m_p[m_i]))
            ++m_i;
        const QByteArrayView word(m_p + start, m_i - start);
        if (word != "user_pref" && word != "pref" && word != "sticky_pref" && word != "lockPref")
            return false;
        if (!expect('('))
            return false;
        skipSpace();
        if (!string(name) || !expect(','))
            return false;
        skipSpace();
        if (m_i < m_n && (m_p[m_i] == '"' || m_p[m_i] == '\'')) {
            if (!string(value))
                return false;
        } else {
            const qsizetype from = m_i;
            while (m_i < m_n && m_p[m_i] != ')' && m_p[m_i] != ',' && m_p[m_i] != '\n')
                ++m_i;
            *value = QByteArray(m_p + from, m_i - from).trimmed();
            if (value->isEmpty())
                return false;
        }
        skipSpace();
        if (m_i < m_n && m_p[m_i] == ',') {
            while (m_i < m_n && m_p[m_i] != ')' && m_p[m_i] != '\n')
                ++m_i;
        }
        if (!expect(')'))
            return false;
        const qsizetype afterCall = m_i;
        if (!expect(';'))
            m_i = afterCall; // a missing ';' is forgiven
        return true;
    }

    const char *m_p;
    qsizetype m_n;
    qsizetype m_i = 0;
};

// "mail.server.server12.hostname" -> 12; 0 for any other name.
int serverNumber(const QString &name)
{
    static const QLatin1String head("mail.server.server"), tail(".hostname");
    if (!name.startsWith(head) || !name.endsWith(tail))
        return 0;
    const QStringView digits = QStringView(name).mid(head.size(), name.size() - head.size() - tail.size());
    bool ok = false;
    const int n = digits.toInt(&ok);
    // Only the plain decimal form names a server ("server01" is not "server1").
    if (!ok || n < 1 || n > 65535 || QString::number(n) != digits)
        return 0;
    return n;
}

int32_t portPref(const TPrefsJs &prefs, const QString &name, int32_t def)
{
    return PortOrDefault(prefs.Value(name), def);
}

QString firstOfList(const QString &list)
{
    return list.section(QLatin1Char(','), 0, 0).trimmed();
}

} // namespace

void TPrefsJs::Parse(const QByteArray &bytes)
{
    m_values.clear();
    PrefsScanner(bytes).run([this](const QByteArray &name, const QByteArray &value) {
        if (!name.startsWith("mail.") || m_values.size() >= kMaxPrefs)
            return;
        const QString key = platform::decode8bit(name);
        if (!m_values.contains(key))
            m_values.insert(key, platform::decode8bit(value));
    });
}

TOEAccountList MozillaAccounts(const TPrefsJs &prefs)
{
    QList<int> numbers;
    for (auto it = prefs.Values().cbegin(); it != prefs.Values().cend(); ++it)
        if (const int n = serverNumber(it.key()))
            numbers.append(n);
    std::sort(numbers.begin(), numbers.end());

    // The account list ties each server to its identities; the numbers of the two need not match
    // (the local folders take a server number but no identity). Servers it does not name are the
    // left-overs of deleted accounts. Profiles without that list pair equal numbers.
    QHash<QString, QString> identityOf;
    const QStringList accounts =
        prefs.Value(QStringLiteral("mail.accountmanager.accounts")).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &raw : accounts) {
        const QString account = QStringLiteral("mail.account.") + raw.trimmed();
        const QString server = prefs.Value(account + QStringLiteral(".server")).trimmed();
        if (!server.isEmpty() && !identityOf.contains(server))
            identityOf.insert(server, firstOfList(prefs.Value(account + QStringLiteral(".identities"))));
    }
    const bool haveAccountList = !identityOf.isEmpty();

    TOEAccountList list;
    for (const int n : numbers) {
        const QString serverKey = QStringLiteral("server") + QString::number(n);
        if (haveAccountList && !identityOf.contains(serverKey))
            continue;
        const QString prefix = QStringLiteral("mail.server.") + serverKey;
        const QString type = prefs.Value(prefix + QStringLiteral(".type")).trimmed();
        const bool imap = type == QLatin1String("imap");
        if (!imap && !type.contains(QLatin1String("pop3")))
            continue;
        // A host or login changed in the account settings is kept as the "real" one.
        QString host = prefs.Value(prefix + QStringLiteral(".realhostname"));
        if (host.isEmpty())
            host = prefs.Value(prefix + QStringLiteral(".hostname"));
        if (host.isEmpty() || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
            || host.compare(QLatin1String("local folders"), Qt::CaseInsensitive) == 0)
            continue;
        QString user = prefs.Value(prefix + QStringLiteral(".realuserName"));
        if (user.isEmpty())
            user = prefs.Value(prefix + QStringLiteral(".userName"));

        TOEMailBox box;
        box.AccountKind = imap ? atIMAP : atPOP3;
        box.DisplayName = prefs.Value(prefix + QStringLiteral(".name"));
        box.POP3Server = host;
        box.POP3UserName = user;
        // socketType: 1 STLS if offered, 2 always STLS, 3 TLS from the first byte. "If offered" becomes
        // STLS required: a plain session would give the password to whoever strips the offer.
        const QString socketType = prefs.Value(prefix + QStringLiteral(".socketType")).trimmed();
        box.POP3Secure = socketType == QLatin1String("3");
        box.POP3StartTLS = isStartTlsSocketType(socketType);
        box.POP3Port = portPref(prefs, prefix + QStringLiteral(".port"), IncomingDefaultPort(box.AccountKind, box.POP3Secure));

        const QString identity = haveAccountList ? identityOf.value(serverKey) : QStringLiteral("id") + QString::number(n);
        if (!identity.isEmpty()) {
            const QString id = QStringLiteral("mail.identity.") + identity;
            box.SMTPEMailAddress = prefs.Value(id + QStringLiteral(".useremail"));
            QString smtpKey = prefs.Value(id + QStringLiteral(".smtpServer")).trimmed();
            if (smtpKey.isEmpty()) // the identity uses the default outgoing server
                smtpKey = prefs.Value(QStringLiteral("mail.smtp.defaultserver")).trimmed();
            if (!smtpKey.isEmpty()) {
                const QString smtp = QStringLiteral("mail.smtpserver.") + smtpKey;
                box.SMTPServer = prefs.Value(smtp + QStringLiteral(".hostname"));
                const QString trySsl = prefs.Value(smtp + QStringLiteral(".try_ssl")).trimmed();
                box.SMTPSecure = trySsl == QLatin1String("3");
                box.SMTPStartTLS = isStartTlsSocketType(trySsl);
                box.SMTPPort = portPref(prefs, smtp + QStringLiteral(".port"), box.SMTPSecure ? 465 : 25);
                // Current versions keep "authMethod" (1 = none; a missing one means the default, a
                // password); profiles of the old suite only "auth_method" (1 = with a password).
                if (prefs.Has(smtp + QStringLiteral(".authMethod"))) {
                    const QString m = prefs.Value(smtp + QStringLiteral(".authMethod")).trimmed();
                    box.SMTPAuth = m != QLatin1String("1") && m != QLatin1String("0");
                } else if (prefs.Has(smtp + QStringLiteral(".auth_method"))) {
                    box.SMTPAuth = prefs.Value(smtp + QStringLiteral(".auth_method")) == QLatin1String("1");
                } else {
                    box.SMTPAuth = true;
                }
            }
        }
        list.append(TOEAccountItem{box.DisplayName, box});
    }
    return list;
}

TMozillaImport::TMozillaImport(const QString &home) : m_home(home) {}

void TMozillaImport::FindProfileFolders()
{
    ProfileFolders.clear();
    const TUserHome h = TUserHome::Of(m_home);
    const QStringList candidates = {
        h.Home + QStringLiteral("/.thunderbird"),
        h.Config + QStringLiteral("/thunderbird"),
        h.Home + QStringLiteral("/.var/app/org.mozilla.Thunderbird/.thunderbird"),
        h.Home + QStringLiteral("/.var/app/org.mozilla.thunderbird/.thunderbird"),
        h.Home + QStringLiteral("/snap/thunderbird/common/.thunderbird"),
        h.Home + QStringLiteral("/.icedove"),
        h.Home + QStringLiteral("/.mozilla/seamonkey"),
    };
    for (const QString &c : candidates)
        if (QFileInfo(c + QStringLiteral("/profiles.ini")).isFile())
            ProfileFolders.append(c);
}

void TMozillaImport::ReadProfiles(const QString &folder)
{
    const QString base = platform::withTrailingSlash(folder);
    if (base == m_loaded)
        return;
    Profiles.clear();
    m_loaded = base;
    platform::IniFile ini;
    if (!LoadKeyFile(base + QStringLiteral("profiles.ini"), &ini))
        return;
    for (int n = 0;; ++n) {
        const QString section = QStringLiteral("Profile") + QString::number(n);
        const QString name = ini.value(section, QStringLiteral("Name"));
        QString path = ini.value(section, QStringLiteral("Path"));
        if (name.isEmpty() || path.isEmpty())
            break;
        path.replace(QLatin1Char('\\'), QLatin1Char('/'));
        // An absolute path is taken as written, whatever "IsRelative" says (profiles may live on
        // another disk); a relative one must stay inside the application folder. A loop of links is
        // no folder.
        const bool absolute = QDir::isAbsolutePath(path);
        const QString clean = QDir::cleanPath(path);
        const bool staysInside = !absolute && clean != QLatin1String("..") && !clean.startsWith(QLatin1String("../"));
        if ((absolute && QFileInfo(path).isDir()) || (staysInside && QFileInfo(base + path).isDir()))
            Profiles.append(TMozProfile{name, path});
    }
}

QString TMozillaImport::ProfileFolder(const QString &folder, const TMozProfile &profile) const
{
    if (QDir::isAbsolutePath(profile.Path))
        return profile.Path;
    const QString joined = platform::withTrailingSlash(folder) + profile.Path;
    return QFileInfo(joined).isDir() ? joined : profile.Path;
}

void TMozillaImport::GetAccounts(const QString &profileFolder, TOEAccountList &list)
{
    list.clear();
    QByteArray bytes;
    if (!platform::readForeignFile(platform::withTrailingSlash(profileFolder) + QStringLiteral("prefs.js"),
                                   kMaxPrefsBytes, &bytes))
        return;
    TPrefsJs prefs;
    prefs.Parse(bytes);
    list = MozillaAccounts(prefs);
}
