// quarvel-reg: the settings store on the command line, in the manner of reg.exe.
//   quarvel-reg query  KEY [/v NAME | /ve] [/s]
//   quarvel-reg add    KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD|REG_BINARY] [/d DATA] [/f]
//   quarvel-reg add    KEY /v NAME /password [/smsuser USER] [/d CLEARTEXT] [/f]
//     (without /d the password is typed at the terminal, not echoed, or read as one line of standard input,
//     so that it need not stand on the command line where every user of the machine can read it; the trusted certificates "POP3CertSHA256" and "SMTPCertSHA256" must be SHA-256 fingerprints; they
//     are stored as "AB:CD:…")
//   quarvel-reg delete KEY [/v NAME | /ve | /va] [/f]
//   quarvel-reg export KEY FILE [/y]
//     (the file is made for its owner alone (0600) and never through a symbolic link; an existing file is
//     replaced only with /y)
//   quarvel-reg import FILE
// KEY starts with HKCU, HKEY_CURRENT_USER, HKLM or HKEY_LOCAL_MACHINE. QUARVEL_PROFILE selects the profile.
// Where the desktop's keyring answers, "add … /password" and "import" leave the program's passwords
// there (KeyringPasswords.h); "export" writes them enciphered as the settings file would hold them, so a
// .reg file reads anywhere, and says so on standard error.
#include "BlowfishCryptUnit.h"
#include "KeyringPasswords.h"
#include "Paths.h"
#include "RegFileFormat.h"
#include "RegistryHive.h"
#include "RegistrySettingsUnit.h"
#include "ServerCertificate.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace platform;

namespace {

QTextStream out(stdout);
QTextStream err(stderr);

int usage()
{
    err << "Aufruf:\n"
           "  quarvel-reg query  SCHLÜSSEL [/v NAME | /ve] [/s]\n"
           "  quarvel-reg add    SCHLÜSSEL [/v NAME | /ve] [/t REG_SZ|REG_DWORD|REG_BINARY] [/d DATEN] [/f]\n"
           "  quarvel-reg add    SCHLÜSSEL /v NAME /password [/smsuser BENUTZER] [/d KLARTEXT] [/f]\n"
           "  quarvel-reg delete SCHLÜSSEL [/v NAME | /ve | /va] [/f]\n"
           "  quarvel-reg export SCHLÜSSEL DATEI [/y]\n"
           "  quarvel-reg import DATEI\n"
           "SCHLÜSSEL beginnt mit HKCU oder HKLM. QUARVEL_PROFILE wählt ein anderes Profil.\n"
           "Ohne /d liest /password das Kennwort vom Terminal (ohne Anzeige) oder als eine Zeile der\n"
           "Standardeingabe.\n"
           "Kennwörter des Programms kommen in den Schlüsselbund der Arbeitsumgebung, wenn er erreichbar ist;\n"
           "export schreibt sie verschlüsselt wie die Einstellungsdatei.\n"
           "POP3CertSHA256 und SMTPCertSHA256 nehmen den SHA-256-Fingerabdruck eines Zertifikats\n"
           "(64 Hexadezimalziffern, mit oder ohne \":\").\n";
    err.flush();
    return 2;
}

struct Args {
    QStringList positional;
    std::map<QString, QString> opts; // lower-case switch -> argument (empty for flags)
    bool has(const char *o) const { return opts.count(QString::fromLatin1(o)) > 0; }
    QString get(const char *o) const
    {
        auto it = opts.find(QString::fromLatin1(o));
        return it == opts.end() ? QString() : it->second;
    }
};

bool parseArgs(const QStringList &in, Args *a)
{
    static const QStringList withArg = {QStringLiteral("/v"), QStringLiteral("/t"), QStringLiteral("/d"),
                                        QStringLiteral("/smsuser")};
    static const QStringList flags = {QStringLiteral("/ve"), QStringLiteral("/va"), QStringLiteral("/f"),
                                      QStringLiteral("/s"), QStringLiteral("/y"), QStringLiteral("/password")};
    for (int i = 0; i < in.size(); ++i) {
        const QString s = in.at(i);
        // Only the known switches are switches: a Linux path starts with "/" too.
        QString sw = s.toLower();
        if (sw.startsWith(QLatin1Char('-')))
            sw[0] = QLatin1Char('/');
        if (withArg.contains(sw)) {
            if (i + 1 >= in.size())
                return false;
            a->opts[sw] = in.at(++i);
        } else if (flags.contains(sw)) {
            a->opts[sw] = QString();
        } else {
            a->positional.append(s);
        }
    }
    return true;
}

void printValue(const RegValue &v)
{
    out << "    " << (v.name.isEmpty() ? QStringLiteral("(Standard)") : v.name) << "    " << typeName(v.type) << "    "
        << displayData(v) << "\n";
}

void printKey(RegistryHive &h, RegRoot root, const QString &path, bool recurse)
{
    out << rootName(root) << (path.isEmpty() ? QString() : QLatin1Char('\\') + path) << "\n";
    if (const auto vals = h.values(path))
        for (const RegValue &v : *vals)
            printValue(v);
    out << "\n";
    if (const auto subs = h.subKeyNames(path))
        for (const QString &s : *subs) {
            const QString sub = path.isEmpty() ? s : path + QLatin1Char('\\') + s;
            if (recurse)
                printKey(h, root, sub, true);
            else
                out << rootName(root) << '\\' << sub << "\n";
        }
}

bool parseData(const QString &type, const QString &data, quint32 *t, QByteArray *bytes)
{
    const QString ty = type.isEmpty() ? QStringLiteral("REG_SZ") : type.toUpper();
    if (ty == QLatin1String("REG_SZ")) {
        *t = RegSz;
        *bytes = regSzBytes(data);
        return true;
    }
    if (ty == QLatin1String("REG_DWORD")) {
        bool ok = false;
        const uint v = data.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? data.mid(2).toUInt(&ok, 16)
                                                                                  : data.toUInt(&ok, 10);
        *t = RegDword;
        *bytes = regDwordBytes(v);
        return ok;
    }
    if (ty == QLatin1String("REG_BINARY")) {
        const QByteArray hex = data.toLatin1();
        if (hex.size() % 2 != 0)
            return false;
        for (char c : hex)
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                return false;
        *t = RegBinary;
        *bytes = QByteArray::fromHex(hex);
        return true;
    }
    return false;
}

bool isFingerprintValue(const QString &name)
{
    return name.compare(QLatin1String("POP3CertSHA256"), Qt::CaseInsensitive) == 0
        || name.compare(QLatin1String("SMTPCertSHA256"), Qt::CaseInsensitive) == 0;
}

// One line of standard input, without its line end; false at its end before any character.
bool readLine(QByteArray *line)
{
    line->clear();
    int c = 0;
    bool any = false;
    while ((c = std::fgetc(stdin)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        line->append(char(c));
    }
    if (line->endsWith('\r'))
        line->chop(1);
    return any;
}

// The password of "add /password" without /d: typed at the terminal, which does not show it, or one line
// of standard input (a pipe, a file).
bool readPassword(QString *password)
{
    const bool terminal = ::isatty(STDIN_FILENO);
    termios saved{};
    const bool quiet = terminal && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        err << "Kennwort: ";
        err.flush();
    }
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
    QByteArray line;
    const bool ok = readLine(&line);
    if (quiet) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        err << "\n";
        err.flush();
    }
    *password = QString::fromLocal8Bit(line);
    return ok;
}

// Writes an export for its owner alone: created anew (an existing file only with overwrite), never
// through a symbolic link, which could point at a file of the user's elsewhere.
bool writePrivateFile(const QString &path, const QByteArray &data, bool overwrite, QString *why)
{
    const QByteArray name = QFile::encodeName(path);
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL);
    const int fd = ::open(name.constData(), flags, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        *why = errno == EEXIST ? QStringLiteral("Die Datei existiert bereits (mit /y überschreiben).")
             : errno == ELOOP  ? QStringLiteral("Die Datei ist ein symbolischer Link: %1").arg(path)
                               : QStringLiteral("Datei kann nicht geschrieben werden: %1 (%2)")
                                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // A file that was there keeps no wider access than a new one gets.
    bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    for (qsizetype done = 0; ok && done < data.size();) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += n > 0 ? n : 0;
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok)
        *why = QStringLiteral("Datei kann nicht geschrieben werden: %1").arg(path);
    return ok;
}

// A store that is no store is named as such, not reported as a missing key.
int damaged(RegistryHive &hive)
{
    err << "FEHLER: Die Einstellungsdatei " << hive.fileName()
        << " ist beschädigt oder keine Einstellungsdatei (" << hive.lastError() << ").\n";
    return 1;
}

// After passwords were written enciphered: moves them into the keyring when there is one, and tells.
void movePasswordsToKeyring()
{
    const TPasswordMove moved = MovePasswordsToKeyring();
    if (moved.Moved > 0)
        err << "Hinweis: " << moved.Moved << (moved.Moved == 1 ? " Kennwort liegt" : " Kennwörter liegen")
            << " jetzt im Schlüsselbund.\n";
    if (!moved.ErrorText.isEmpty())
        err << "Hinweis: Kennwörter bleiben verschlüsselt in der Einstellungsdatei. " << moved.ErrorText << "\n";
}

// An export of the current user's keys: each password that lives in the keyring is written in its
// enciphered form, as the settings file would hold it.
bool exportWithPasswords(RegistryHive &hive, const QString &path, QByteArray *text, QString *why, int *passwords)
{
    TTheRegIniFile reg;
    return exportKey(hive, RegRoot::CurrentUser, path, text, [&](const QString &keyPath, RegValue &v) {
        if (v.type == RegBinary && v.data == kKeyringMarker
            && !EncipheredFromKeyring(reg, keyPath, v.name, &v.data, why))
            return false;
        // Longer than the cipher's check block: a password that is not empty.
        if (v.type == RegBinary && v.data.size() > 32 && PasswordPlaceOf(reg, keyPath, v.name))
            ++*passwords;
        return true;
    });
}

int run(const QStringList &argv)
{
    if (argv.isEmpty())
        return usage();
    const QString cmd = argv.first().toLower();
    Args a;
    if (!parseArgs(argv.mid(1), &a))
        return usage();

    if (cmd == QLatin1String("import")) {
        if (a.positional.size() != 1)
            return usage();
        QFile f(a.positional.first());
        if (!f.open(QIODevice::ReadOnly)) {
            err << "FEHLER: Datei kann nicht gelesen werden: " << f.fileName() << "\n";
            return 1;
        }
        std::map<RegRoot, std::unique_ptr<RegistryHive>> hives;
        QString why;
        const bool ok = importRegText(f.readAll(), [&](RegRoot r) -> RegistryHive & {
            auto &h = hives[r];
            if (!h)
                h = std::make_unique<RegistryHive>(r);
            return *h;
        }, &why);
        if (!ok) {
            err << "FEHLER: " << why << "\n";
            return 1;
        }
        out << "Der Vorgang wurde erfolgreich beendet.\n";
        out.flush();
        movePasswordsToKeyring();
        return 0;
    }

    if (a.positional.isEmpty())
        return usage();
    RegRoot root;
    QString path;
    if (!parseRootedKey(a.positional.first(), &root, &path)) {
        err << "FEHLER: Ungültiger Schlüsselname.\n";
        return 2;
    }
    RegistryHive hive(root);
    const bool valueGiven = a.has("/v") || a.has("/ve");
    const QString valueName = a.has("/ve") ? QString() : a.get("/v");

    if (cmd == QLatin1String("query")) {
        if (!hive.keyExists(path)) {
            if (hive.isDamaged())
                return damaged(hive);
            err << "FEHLER: Der angegebene Registrierungsschlüssel bzw. Wert wurde nicht gefunden.\n";
            return 1;
        }
        if (valueGiven) {
            RegValue v;
            if (!hive.readValue(path, valueName, &v)) {
                err << "FEHLER: Der angegebene Registrierungsschlüssel bzw. Wert wurde nicht gefunden.\n";
                return 1;
            }
            out << rootName(root) << '\\' << path << "\n";
            printValue(v);
            return 0;
        }
        printKey(hive, root, path, a.has("/s"));
        return 0;
    }

    if (cmd == QLatin1String("add")) {
        if (path.isEmpty())
            return usage();
        if (!hive.createKey(path)) {
            if (hive.isDamaged())
                return damaged(hive);
            err << "FEHLER: Schlüssel kann nicht angelegt werden: " << hive.lastError() << "\n";
            return 1;
        }
        if (!valueGiven)
            return 0;
        quint32 type = RegSz;
        QByteArray bytes;
        if (a.has("/password")) {
            QString password = a.get("/d");
            if (!a.has("/d") && !readPassword(&password)) {
                err << "FEHLER: Kein Kennwort eingegeben.\n";
                return 1;
            }
            // Enciphered exactly as the settings store keeps passwords.
            const QByteArray phrase = a.has("/smsuser") ? SMSPassPhrase(a.get("/smsuser")) : FixedPassPhrase();
            type = RegBinary;
            bytes = EncryptPassword(password, phrase);
        } else if (!parseData(a.get("/t"), a.get("/d"), &type, &bytes)) {
            err << "FEHLER: Ungültiger Typ oder ungültige Daten.\n";
            return 2;
        } else if (isFingerprintValue(valueName) && !a.get("/d").isEmpty()) {
            // A mistyped fingerprint would only show up as a refused certificate later.
            const QString fingerprint = normalizedFingerprint(a.get("/d"));
            if (type != RegSz || fingerprint.isEmpty()) {
                err << "FEHLER: " << valueName << " braucht einen SHA-256-Fingerabdruck (64 Hexadezimalziffern, "
                                                  "mit oder ohne \":\").\n";
                return 2;
            }
            bytes = regSzBytes(fingerprint);
        }
        RegValue old;
        if (!a.has("/f") && hive.readValue(path, valueName, &old)) {
            err << "FEHLER: Der Wert existiert bereits (mit /f überschreiben).\n";
            return 1;
        }
        if (!hive.setValue(path, valueName, type, bytes)) {
            err << "FEHLER: Wert kann nicht geschrieben werden: " << hive.lastError() << "\n";
            return 1;
        }
        if (a.has("/password") && root == RegRoot::CurrentUser)
            movePasswordsToKeyring();
        return 0;
    }

    if (cmd == QLatin1String("delete")) {
        if (!hive.keyExists(path)) {
            if (hive.isDamaged())
                return damaged(hive);
            err << "FEHLER: Der angegebene Registrierungsschlüssel bzw. Wert wurde nicht gefunden.\n";
            return 1;
        }
        bool ok = true;
        if (a.has("/va")) {
            if (const auto vals = hive.values(path))
                for (const RegValue &v : *vals)
                    ok = hive.deleteValue(path, v.name) && ok;
        } else if (valueGiven) {
            ok = hive.deleteValue(path, valueName);
        } else {
            ok = !path.isEmpty() && hive.deleteTree(path);
        }
        if (!ok) {
            err << "FEHLER: Löschen nicht möglich.\n";
            return 1;
        }
        return 0;
    }

    if (cmd == QLatin1String("export")) {
        if (a.positional.size() != 2)
            return usage();
        const QString file = a.positional.at(1);
        if (QFileInfo::exists(file) && !a.has("/y")) {
            err << "FEHLER: Die Datei existiert bereits (mit /y überschreiben).\n";
            return 1;
        }
        QByteArray text;
        QString why;
        int passwords = 0;
        const bool exported = root == RegRoot::CurrentUser ? exportWithPasswords(hive, path, &text, &why, &passwords)
                                                           : exportKey(hive, root, path, &text);
        if (!exported) {
            if (hive.isDamaged())
                return damaged(hive);
            if (!why.isEmpty())
                err << "FEHLER: " << why << " Es wurde nichts exportiert.\n";
            else
                err << "FEHLER: Der angegebene Registrierungsschlüssel bzw. Wert wurde nicht gefunden.\n";
            return 1;
        }
        if (!writePrivateFile(file, text, a.has("/y"), &why)) {
            err << "FEHLER: " << why << "\n";
            return 1;
        }
        if (passwords > 0)
            err << "Hinweis: Die Datei " << file << " enthält " << passwords
                << (passwords == 1 ? " Kennwort" : " Kennwörter")
                << ", verschlüsselt wie in der Einstellungsdatei. Jeder mit dem Programm kann sie lesen: Geben "
                   "Sie die Datei nicht weiter.\n";
        return 0;
    }
    return usage();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rc = run(app.arguments().mid(1));
    out.flush();
    err.flush();
    return rc;
}
