#include "IniFile.h"
#include "TextCodec.h"

#include <QFile>

namespace platform {

bool IniFile::load(const QString &path)
{
    m_sections.clear();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    loadFromBytes(f.readAll());
    return true;
}

void IniFile::loadFromBytes(const QByteArray &bytes)
{
    m_sections.clear();
    QString text = decode8bit(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    Section *current = nullptr;
    const auto lines = QStringView(text).split(QLatin1Char('\n'));
    for (QStringView raw : lines) {
        const QStringView line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            const qsizetype close = line.indexOf(QLatin1Char(']'));
            const QString name = line.mid(1, close < 0 ? -1 : close - 1).trimmed().toString();
            current = nullptr;
            for (Section &s : m_sections)
                if (s.name.compare(name, Qt::CaseInsensitive) == 0)
                    current = &s;
            if (!current) {
                m_sections.append(Section{name, {}});
                current = &m_sections.last();
            }
            continue;
        }
        if (!current)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        const QString key = (eq < 0 ? line : line.left(eq)).trimmed().toString();
        QString value = eq < 0 ? QString() : line.mid(eq + 1).trimmed().toString();
        // Windows strips one pair of surrounding quotes.
        if (value.size() >= 2 && ((value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
                                  || (value.startsWith(QLatin1Char('\'')) && value.endsWith(QLatin1Char('\'')))))
            value = value.mid(1, value.size() - 2);
        current->entries.append({key, value});
    }
}

const IniFile::Section *IniFile::find(const QString &section) const
{
    for (const Section &s : m_sections)
        if (s.name.compare(section, Qt::CaseInsensitive) == 0)
            return &s;
    return nullptr;
}

bool IniFile::hasSection(const QString &section) const
{
    return find(section) != nullptr;
}

QString IniFile::value(const QString &section, const QString &key, bool *found) const
{
    if (found)
        *found = false;
    const Section *s = find(section);
    if (!s)
        return QString();
    for (const auto &e : s->entries)
        if (e.first.compare(key, Qt::CaseInsensitive) == 0) {
            if (found)
                *found = true;
            return e.second;
        }
    return QString();
}

QStringList IniFile::keys(const QString &section) const
{
    QStringList out;
    if (const Section *s = find(section))
        for (const auto &e : s->entries) {
            bool dup = false;
            for (const QString &k : out)
                dup = dup || k.compare(e.first, Qt::CaseInsensitive) == 0;
            if (!dup)
                out.append(e.first);
        }
    return out;
}

QStringList IniFile::sections() const
{
    QStringList out;
    for (const Section &s : m_sections)
        out.append(s.name);
    return out;
}

} // namespace platform
