#include "ImportFiles.h"

#include "ForeignFile.h"

#include <QDir>

TUserHome TUserHome::Of(const QString &home)
{
    TUserHome h;
    if (!home.isEmpty()) {
        h.Home = QDir::cleanPath(home);
        h.Config = h.Home + QStringLiteral("/.config");
        return h;
    }
    h.Home = QDir::cleanPath(QDir::homePath());
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    h.Config = QDir::isAbsolutePath(xdg) ? QDir::cleanPath(xdg) : h.Home + QStringLiteral("/.config");
    return h;
}

bool LoadKeyFile(const QString &path, platform::IniFile *ini)
{
    QByteArray bytes;
    if (!platform::readForeignFile(path, kMaxSettingsFileBytes, &bytes))
        return false;
    ini->loadFromBytes(bytes);
    return true;
}

QString KeyFileValue(const platform::IniFile &ini, const QString &section, const QString &key)
{
    const QString raw = ini.value(section, key);
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (c != QLatin1Char('\\') || i + 1 == raw.size()) {
            out.append(c);
            continue;
        }
        const QChar e = raw.at(++i);
        switch (e.unicode()) {
        case 's': out.append(QLatin1Char(' ')); break;
        case 'n': out.append(QLatin1Char('\n')); break;
        case 't': out.append(QLatin1Char('\t')); break;
        case 'r': out.append(QLatin1Char('\r')); break;
        default: out.append(e); break; // "\\" and any escape we do not know: the character itself
        }
    }
    return out;
}

int32_t PortOrDefault(const QString &text, int32_t def)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    return (ok && v > 0 && v <= 65535) ? v : def;
}
