#include "WMImportUnit.h"

#include "ForeignFile.h"
#include "Paths.h"
#include "RegIni.h"
#include "TextCodec.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>
#include <QXmlStreamReader>

namespace {

// Environment variables in %NAME% form are replaced; an unknown one stays as written. Like the system's
// expansion, a result longer than a Windows path keeps the text unexpanded.
QString expandEnvironment(const QString &text)
{
    QString out;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype open = text.indexOf(QLatin1Char('%'), i);
        const qsizetype close = open < 0 ? -1 : text.indexOf(QLatin1Char('%'), open + 1);
        if (close < 0) {
            out += text.mid(i);
            break;
        }
        out += text.mid(i, open - i);
        const QString name = text.mid(open + 1, close - open - 1);
        if (!name.isEmpty() && qEnvironmentVariableIsSet(name.toLocal8Bit().constData()))
            out += qEnvironmentVariable(name.toLocal8Bit().constData());
        else
            out += text.mid(open, close - open + 1);
        i = close + 1;
    }
    return out.size() > 260 ? text : out;
}

QString decodeAccountFile(const QByteArray &bytes)
{
    if (bytes.startsWith("\xFF\xFE"))
        return QStringDecoder(QStringDecoder::Utf16LE).decode(bytes.mid(2));
    if (bytes.startsWith("\xFE\xFF"))
        return QStringDecoder(QStringDecoder::Utf16BE).decode(bytes.mid(2));
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    return platform::decode8bit(bytes);
}

// The numbers of an account file are hexadecimal ("000003e3" is 995).
bool hexNumber(const QString &text, uint32_t *value)
{
    bool ok = false;
    const uint v = text.toUInt(&ok, 16);
    if (ok)
        *value = v;
    return ok;
}

int32_t hexPort(const QString &text, int32_t def)
{
    uint32_t v = 0;
    return (hexNumber(text, &v) && v >= 1 && v <= 65535) ? int32_t(v) : def;
}

bool hexNonZero(const QString &text)
{
    uint32_t v = 0;
    return hexNumber(text, &v) && v != 0;
}

struct AccountScan {
    TOEMailBox box;
    bool skip = false;

    // Applies one element's text; false ends the scan.
    bool apply(QStringView name, const QString &text)
    {
        if (name == u"Account_Name") {
            box.DisplayName = text;
        } else if (name == u"POP3_Server") {
            box.POP3Server = text;
            box.AccountKind = 0;
        } else if (name == u"POP3_User_Name") {
            box.POP3UserName = text;
        } else if (name == u"POP3_Port") {
            box.POP3Port = hexPort(text, 110);
        } else if (name == u"POP3_Secure_Connection") {
            box.POP3Secure = box.POP3Secure || hexNonZero(text);
        } else if (name == u"POP3_Skip_Account") {
            skip = hexNonZero(text);
        } else if (name == u"IMAP_Server") {
            skip = true;
        } else if (name == u"SMTP_Server") {
            box.SMTPServer = text;
        } else if (name == u"SMTP_Email_Address") {
            box.SMTPEMailAddress = text;
        } else if (name == u"SMTP_Port") {
            box.SMTPPort = hexPort(text, 25);
        } else if (name == u"SMTP_Use_Sicily") {
            uint32_t v = 2;
            hexNumber(text, &v);
            box.SMTPAuth = v > 1;
        } else if (name == u"SMTP_Secure_Connection") {
            box.SMTPSecure = box.SMTPSecure || hexNonZero(text);
        }
        return !skip;
    }
};

} // namespace

bool ReadOEAccountFile(const QByteArray &bytes, TOEMailBox *box)
{
    const QString text = decodeAccountFile(bytes);
    if (text.trimmed().isEmpty())
        return false;
    AccountScan scan;
    // Each element's own text, visited in document order: a run of text is taken when a child element
    // begins or the element ends.
    struct Open {
        QString name;
        QString text;
    };
    QList<Open> open;
    bool go = true;
    const auto flush = [&] {
        Open &top = open.last();
        const QString content = top.text.simplified();
        top.text.clear();
        if (!content.isEmpty())
            go = scan.apply(top.name, content);
    };
    QXmlStreamReader xml(text);
    while (go && !xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            if (!open.isEmpty())
                flush();
            open.append(Open{xml.name().toString(), QString()});
            break;
        case QXmlStreamReader::Characters:
            if (!open.isEmpty())
                open.last().text += xml.text();
            break;
        case QXmlStreamReader::EndElement:
            if (!open.isEmpty()) {
                flush();
                open.removeLast();
            }
            break;
        default:
            break;
        }
    }
    if (scan.skip || xml.hasError() || scan.box.POP3Server.isEmpty())
        return false;
    *box = scan.box;
    return true;
}

TWindowsMail::TWindowsMail()
{
    TTheRegIniFile reg;
    // Looking must not leave an empty key of another program in the store.
    if (!reg.Hive().keyExists(QStringLiteral("Software\\Microsoft\\Windows Mail")))
        return;
    reg.Area = QStringLiteral("Software\\Microsoft");
    reg.Section = QStringLiteral("Windows Mail");
    const QString root = reg.ReadString(QStringLiteral("Store Root"), QString());
    if (!root.isEmpty())
        StoreRoot = platform::withTrailingSlash(QDir::fromNativeSeparators(expandEnvironment(root))
                                                    .replace(QLatin1Char('\\'), QLatin1Char('/')));
}

TWindowsMail::TWindowsMail(const QString &storeRoot)
    : StoreRoot(platform::withTrailingSlash(QDir::fromNativeSeparators(storeRoot)))
{
}

void TWindowsMail::GetAccounts(TOEAccountList &list)
{
    list.clear();
    if (StoreRoot.isEmpty() || !QFileInfo(StoreRoot).isDir())
        return;
    // Breadth first; linked folders are not entered, so a loop of links cannot hold the walk.
    QStringList folders{StoreRoot};
    QSet<QString> seen{QFileInfo(StoreRoot).canonicalFilePath()};
    for (qsizetype i = 0; i < folders.size() && folders.size() < kMaxFolders; ++i) {
        const QFileInfoList subs = QDir(folders.at(i)).entryInfoList(
            QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden, QDir::Name);
        for (const QFileInfo &sub : subs) {
            if (sub.fileName().startsWith(QLatin1Char('.')))
                continue;
            const QString canonical = sub.canonicalFilePath();
            if (canonical.isEmpty() || seen.contains(canonical) || folders.size() >= kMaxFolders)
                continue;
            seen.insert(canonical);
            folders.append(platform::withTrailingSlash(sub.filePath()));
        }
    }
    std::stable_sort(folders.begin(), folders.end(),
                     [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    for (const QString &folder : folders) {
        QDir dir(folder);
        dir.setNameFilters({QStringLiteral("*.oeaccount")});
        const QStringList files = dir.entryList(QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase);
        for (const QString &name : files) {
            QByteArray bytes;
            if (!platform::readForeignFile(folder + name, kMaxAccountFileBytes, &bytes) || bytes.isEmpty())
                continue;
            TOEMailBox box;
            if (!ReadOEAccountFile(bytes, &box) || ContainsAccount(list, box.POP3Server, box.POP3UserName))
                continue;
            list.append(TOEAccountItem{box.DisplayName, box});
        }
    }
}
