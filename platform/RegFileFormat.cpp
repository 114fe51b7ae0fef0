#include "RegFileFormat.h"
#include "TextCodec.h"

#include <QStringDecoder>

#include <map>

namespace platform {

namespace {

const char *kHeader = "Windows Registry Editor Version 5.00";

QString escape(const QString &s)
{
    QString out = s;
    out.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    out.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return out;
}

QString hexList(const QByteArray &data)
{
    QStringList parts;
    for (char c : data)
        parts.append(QStringLiteral("%1").arg(quint8(c), 2, 16, QLatin1Char('0')));
    return parts.join(QLatin1Char(','));
}

// Reads a quoted string starting at s[i] == '"'; i ends after the closing quote.
bool readQuoted(const QString &s, qsizetype &i, QString *out)
{
    if (i >= s.size() || s.at(i) != QLatin1Char('"'))
        return false;
    ++i;
    out->clear();
    while (i < s.size()) {
        const QChar c = s.at(i++);
        if (c == QLatin1Char('\\') && i < s.size()) {
            out->append(s.at(i++));
            continue;
        }
        if (c == QLatin1Char('"'))
            return true;
        out->append(c);
    }
    return false;
}

// "00,ff, 1a": bytes of one or two hex digits separated by commas, blanks anywhere. Read in one pass, as a
// list can be megabytes long.
bool parseHexBytes(QStringView list, QByteArray *out)
{
    out->clear();
    out->reserve(list.size() / 3 + 1);
    int digits = 0;
    int value = 0;
    bool any = false;
    for (const QChar c : list) {
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t'))
            continue;
        if (c == QLatin1Char(',')) {
            if (digits == 0)
                return false;
            out->append(char(value));
            digits = value = 0;
            continue;
        }
        const int d = hexDigitValue(c.unicode());
        if (d < 0 || ++digits > 2)
            return false;
        value = value * 16 + d;
        any = true;
    }
    if (digits > 0)
        out->append(char(value));
    else if (any)
        return false; // a trailing comma
    return true;
}

// Moves i past the continuation lines of the value that starts at line i.
void skipContinuation(const QStringList &lines, qsizetype &i)
{
    while (QStringView(lines.at(i)).trimmed().endsWith(QLatin1Char('\\')) && i + 1 < lines.size())
        ++i;
}

QString decodeFile(const QByteArray &bytes)
{
    if (bytes.startsWith("\xFF\xFE")) {
        QStringDecoder d(QStringDecoder::Utf16LE);
        return d.decode(bytes.mid(2));
    }
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    return decode8bit(bytes);
}

} // namespace

bool parseRootedKey(const QString &text, RegRoot *root, QString *path)
{
    const qsizetype slash = text.indexOf(QLatin1Char('\\'));
    const QString head = (slash < 0 ? text : text.left(slash)).toUpper();
    const QString rest = slash < 0 ? QString() : text.mid(slash + 1);
    if (head == QLatin1String("HKCU") || head == QLatin1String("HKEY_CURRENT_USER"))
        *root = RegRoot::CurrentUser;
    else if (head == QLatin1String("HKLM") || head == QLatin1String("HKEY_LOCAL_MACHINE"))
        *root = RegRoot::LocalMachine;
    else
        return false;
    *path = RegistryHive::splitPath(rest).join(QLatin1Char('\\'));
    return true;
}

QString rootName(RegRoot root)
{
    return root == RegRoot::CurrentUser ? QStringLiteral("HKEY_CURRENT_USER") : QStringLiteral("HKEY_LOCAL_MACHINE");
}

QString typeName(quint32 type)
{
    switch (type) {
    case RegSz: return QStringLiteral("REG_SZ");
    case RegBinary: return QStringLiteral("REG_BINARY");
    case RegDword: return QStringLiteral("REG_DWORD");
    case 2: return QStringLiteral("REG_EXPAND_SZ");
    case 7: return QStringLiteral("REG_MULTI_SZ");
    case RegNone: return QStringLiteral("REG_NONE");
    }
    return QStringLiteral("REG_0x%1").arg(type, 0, 16);
}

QString displayData(const RegValue &v)
{
    if (v.type == RegSz || v.type == 2)
        return regSzText(v.data);
    if (v.type == RegDword && v.data.size() == 4) {
        quint32 d = 0;
        for (int i = 3; i >= 0; --i)
            d = (d << 8) | quint8(v.data[i]);
        return QStringLiteral("0x%1").arg(d, 0, 16);
    }
    return QString::fromLatin1(v.data.toHex().toUpper());
}

QString formatRegValue(const RegValue &v)
{
    const QString name = v.name.isEmpty() ? QStringLiteral("@") : QLatin1Char('"') + escape(v.name) + QLatin1Char('"');
    QString data;
    if (v.type == RegSz) {
        data = QLatin1Char('"') + escape(regSzText(v.data)) + QLatin1Char('"');
    } else if (v.type == RegDword && v.data.size() == 4) {
        quint32 d = 0;
        for (int i = 3; i >= 0; --i)
            d = (d << 8) | quint8(v.data[i]);
        data = QStringLiteral("dword:%1").arg(d, 8, 16, QLatin1Char('0'));
    } else if (v.type == RegBinary) {
        data = QStringLiteral("hex:") + hexList(v.data);
    } else {
        data = QStringLiteral("hex(%1):").arg(v.type, 0, 16) + hexList(v.data);
    }
    return name + QLatin1Char('=') + data;
}

static bool exportRecursive(RegistryHive &hive, RegRoot root, const QString &path, QString &out,
                            const ExportValueFilter &filter)
{
    out += QLatin1Char('[') + rootName(root) + (path.isEmpty() ? QString() : QLatin1Char('\\') + path)
           + QStringLiteral("]\r\n");
    if (auto vals = hive.values(path))
        for (RegValue &v : *vals) {
            if (filter && !filter(path, v))
                return false;
            out += formatRegValue(v) + QStringLiteral("\r\n");
        }
    out += QStringLiteral("\r\n");
    if (const auto subs = hive.subKeyNames(path))
        for (const QString &s : *subs)
            if (!exportRecursive(hive, root, path.isEmpty() ? s : path + QLatin1Char('\\') + s, out, filter))
                return false;
    return true;
}

bool exportKey(RegistryHive &hive, RegRoot root, const QString &path, QByteArray *out,
               const ExportValueFilter &filter)
{
    if (!hive.keyExists(path))
        return false;
    QString text = QLatin1String(kHeader) + QStringLiteral("\r\n\r\n");
    if (!exportRecursive(hive, root, path, text, filter))
        return false;
    *out = text.toUtf8();
    return true;
}

bool importRegText(const QByteArray &bytes, const HiveForRoot &hives, QString *error, const KeyFilter &keep)
{
    struct Op {
        enum Kind { CreateKey, DeleteKey, SetValue, DeleteValue } kind;
        RegRoot root;
        QString path;
        RegValue value;
    };
    QList<Op> ops;
    const QString text = decodeFile(bytes);
    QStringList lines = text.split(QLatin1Char('\n'));
    auto fail = [&](int line, const QString &why) {
        if (error)
            *error = QStringLiteral("Zeile %1: %2").arg(line).arg(why);
        return false;
    };
    bool seenHeader = false;
    bool haveKey = false;
    bool skipKey = false;
    RegRoot root = RegRoot::CurrentUser;
    QString path;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int lineNo = int(i + 1);
        const QStringView first = QStringView(lines.at(i)).trimmed();
        // The values of a key left out are not read at all, however long (a whole exported hive).
        if (skipKey && !first.startsWith(QLatin1Char('['))) {
            skipContinuation(lines, i);
            continue;
        }
        // Hex lists may continue over several lines ending in a backslash; joined by appending, so that
        // a long list takes time in proportion to its length.
        QString line = first.toString();
        while (line.endsWith(QLatin1Char('\\')) && i + 1 < lines.size()) {
            line.chop(1);
            line += QStringView(lines.at(++i)).trimmed();
        }
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (!seenHeader) {
            if (line != QLatin1String(kHeader) && line != QLatin1String("REGEDIT4"))
                return fail(lineNo, QStringLiteral("keine Registrierungsdatei"));
            seenHeader = true;
            continue;
        }
        if (line.startsWith(QLatin1Char('['))) {
            if (!line.endsWith(QLatin1Char(']')))
                return fail(lineNo, QStringLiteral("Schlüssel ohne ]"));
            QString key = line.mid(1, line.size() - 2);
            const bool del = key.startsWith(QLatin1Char('-'));
            if (del)
                key.remove(0, 1);
            // A whole exported registry also holds roots that are not kept here (HKEY_CLASSES_ROOT,
            // HKEY_USERS, the roots themselves): with a filter they are left out like any other key.
            const bool known = parseRootedKey(key, &root, &path) && !path.isEmpty();
            if (!known && !keep)
                return fail(lineNo, QStringLiteral("unbekannter Schlüssel ") + key);
            skipKey = !known || (keep && !keep(root, path));
            if (!skipKey)
                ops.append(Op{del ? Op::DeleteKey : Op::CreateKey, root, path, {}});
            haveKey = !del;
            skipKey = skipKey && haveKey;
            continue;
        }
        if (!haveKey)
            return fail(lineNo, QStringLiteral("Wert ohne Schlüssel"));
        RegValue v;
        qsizetype pos = 0;
        if (line.startsWith(QLatin1Char('@'))) {
            pos = 1;
        } else if (!readQuoted(line, pos, &v.name)) {
            return fail(lineNo, QStringLiteral("Wertname erwartet"));
        }
        while (pos < line.size() && line.at(pos).isSpace())
            ++pos;
        if (pos >= line.size() || line.at(pos) != QLatin1Char('='))
            return fail(lineNo, QStringLiteral("= erwartet"));
        QString data = line.mid(pos + 1).trimmed();
        if (data == QLatin1String("-")) {
            if (!skipKey)
                ops.append(Op{Op::DeleteValue, root, path, v});
            continue;
        }
        if (data.startsWith(QLatin1Char('"'))) {
            qsizetype p = 0;
            QString s;
            if (!readQuoted(data, p, &s))
                return fail(lineNo, QStringLiteral("Text ohne Ende"));
            v.type = RegSz;
            v.data = regSzBytes(s);
        } else if (data.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
            bool ok = false;
            const QString hex = data.mid(6);
            const uint d = hex.toUInt(&ok, 16);
            if (!ok || hex.size() > 8)
                return fail(lineNo, QStringLiteral("ungültiges dword"));
            v.type = RegDword;
            v.data = regDwordBytes(d);
        } else if (data.startsWith(QLatin1String("hex"), Qt::CaseInsensitive)) {
            const qsizetype colon = data.indexOf(QLatin1Char(':'));
            if (colon < 0)
                return fail(lineNo, QStringLiteral("hex ohne :"));
            const QString kind = data.left(colon);
            v.type = RegBinary;
            if (kind.size() > 3) {
                bool ok = false;
                v.type = kind.mid(4, kind.size() - 5).toUInt(&ok, 16);
                if (!ok || !kind.startsWith(QLatin1String("hex("), Qt::CaseInsensitive) || !kind.endsWith(QLatin1Char(')')))
                    return fail(lineNo, QStringLiteral("ungültiger Typ ") + kind);
            }
            if (!parseHexBytes(data.mid(colon + 1), &v.data))
                return fail(lineNo, QStringLiteral("ungültige Hex-Daten"));
        } else {
            return fail(lineNo, QStringLiteral("unbekannter Datentyp"));
        }
        if (!skipKey)
            ops.append(Op{Op::SetValue, root, path, v});
    }
    if (!seenHeader)
        return fail(1, QStringLiteral("keine Registrierungsdatei"));

    std::map<RegRoot, std::unique_ptr<RegTransaction>> txs;
    for (const Op &op : ops) {
        RegistryHive &h = hives(op.root);
        if (!txs.count(op.root))
            txs[op.root] = std::make_unique<RegTransaction>(h);
        bool ok = true;
        switch (op.kind) {
        case Op::CreateKey: ok = h.createKey(op.path); break;
        case Op::DeleteKey: h.deleteTree(op.path); break;
        case Op::SetValue: ok = h.setValue(op.path, op.value.name, op.value.type, op.value.data); break;
        case Op::DeleteValue: h.deleteValue(op.path, op.value.name); break;
        }
        if (!ok) {
            if (error)
                *error = QStringLiteral("Kann nicht schreiben: ") + h.lastError();
            return false; // the transactions roll back
        }
    }
    for (auto &[r, tx] : txs)
        if (!tx->commit()) {
            if (error)
                *error = QStringLiteral("Kann nicht schreiben: ") + hives(r).lastError();
            return false;
        }
    return true;
}

} // namespace platform
