#include "IniFile.h"
#include "TextCodec.h"

#include <QFile>

namespace platform {

namespace {

QString fold(const QString &name)
{
    return name.toCaseFolded();
}

} // namespace

bool IniFile::load(const QString &path)
{
    m_sections.clear();
    m_index.clear();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    loadFromBytes(f.readAll());
    return true;
}

void IniFile::loadFromBytes(const QByteArray &bytes)
{
    m_sections.clear();
    m_index.clear();
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
            const auto known = m_index.constFind(fold(name));
            if (known != m_index.constEnd()) {
                current = &m_sections[*known];
            } else {
                m_index.insert(fold(name), m_sections.size());
                m_sections.append(Section{name, {}, {}});
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
        const QString folded = fold(key);
        if (!current->firstEntry.contains(folded)) // the first occurrence of a key wins
            current->firstEntry.insert(folded, current->entries.size());
        current->entries.append({key, value});
    }
}

const IniFile::Section *IniFile::find(const QString &section) const
{
    const auto it = m_index.constFind(fold(section));
    return it == m_index.constEnd() ? nullptr : &m_sections.at(*it);
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
    const auto it = s->firstEntry.constFind(fold(key));
    if (it == s->firstEntry.constEnd())
        return QString();
    if (found)
        *found = true;
    return s->entries.at(*it).second;
}

QStringList IniFile::keys(const QString &section) const
{
    QStringList out;
    if (const Section *s = find(section))
        for (qsizetype i = 0; i < s->entries.size(); ++i)
            if (s->firstEntry.value(fold(s->entries.at(i).first)) == i)
                out.append(s->entries.at(i).first);
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
