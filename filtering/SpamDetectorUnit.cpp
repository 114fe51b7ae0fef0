#include "SpamDetectorUnit.h"

#include "PreparedRules.h"

namespace {

const QChar kBlank = QLatin1Char(' ');
const QChar kTab = QLatin1Char('\t');

} // namespace

QString TrimControls(QStringView s)
{
    // Unlike QString::trimmed this keeps a no-break space, which is text, not folding.
    qsizetype b = 0, e = s.size();
    while (b < e && s.at(b).unicode() <= 0x20)
        ++b;
    while (e > b && s.at(e - 1).unicode() <= 0x20)
        --e;
    return s.mid(b, e - b).toString();
}

int PosIgnoreCase(const QString &subText, const QString &text)
{
    if (subText.isEmpty() || text.isEmpty())
        return 0;
    return int(text.indexOf(subText, 0, Qt::CaseInsensitive)) + 1;
}

TSpamDetector::TSpamDetector(const TProgramSettings &settings) : m_settings(settings) {}

TSpamDetector::~TSpamDetector() = default;

const TPreparedRules *TSpamDetector::prepared() const
{
    const TFilterList *rules = m_settings.Filters;
    if (!rules)
        return nullptr;
    if (!m_prepared || !m_prepared->IsPreparedFrom(*rules))
        m_prepared = std::make_unique<TPreparedRules>(*rules);
    return m_prepared.get();
}

bool TSpamDetector::IsSpam(const TMailEntry &entry) const
{
    const TPreparedRules *rules = prepared();
    return rules && rules->Verdict(entry.Message) >= 0;
}

const TSimpleFilter *TSpamDetector::SpamRule(const TMailEntry &entry) const
{
    const TPreparedRules *rules = prepared();
    const int index = rules ? rules->Verdict(entry.Message) : -1;
    return index >= 0 ? m_settings.Filters->at(index) : nullptr;
}

const TSimpleFilter *TSpamDetector::AllowRule(const TMailEntry &entry) const
{
    const TPreparedRules *rules = prepared();
    const int index = rules ? rules->FirstAllowMatch(entry.Message) : -1;
    return index >= 0 ? m_settings.Filters->at(index) : nullptr;
}

bool TSpamDetector::CompareText(uint8_t operation, const QString &value, const QString &pattern)
{
    const int p = PosIgnoreCase(pattern, value);
    if (p == 0)
        return false;
    const qsizetype n = value.size();
    const qsizetype m = pattern.size();
    switch (operation) {
    case foEquals:
        return p == 1 && n == m;
    case foContains:
        return true;
    case foContainsWord: {
        // Words are delimited by blanks only: at the start, between blanks, or at the very end (after
        // the first blank-pattern pair). The pattern equal to the whole value counts as well.
        if (PosIgnoreCase(pattern + kBlank, value) == 1)
            return true;
        if (PosIgnoreCase(kBlank + pattern + kBlank, value) > 0)
            return true;
        const int q = PosIgnoreCase(kBlank + pattern, value);
        return n == q + m;
    }
    case foBeginsWith:
        return p == 1;
    case foEndsWith:
        return p + m - 1 == n;
    default:
        return false;
    }
}

QString TSpamDetector::ReceivedText(const QStringList &headerLines)
{
    QString v;
    bool inBlock = false;
    for (const QString &line : headerLines) {
        if (line.startsWith(kReceivedField)) {
            // Everything after the first colon, the blank that usually follows it included.
            const qsizetype colon = line.indexOf(QLatin1Char(':'));
            v += kBlank;
            v += QStringView(line).mid(colon + 1);
            inBlock = true;
        } else if (inBlock && line.startsWith(kTab)) {
            v += kBlank;
            v += line;
        } else {
            // A continuation with a leading blank also ends the block.
            inBlock = false;
        }
    }
    v.remove(kTab);
    return v;
}

QString TSpamDetector::FieldValue(const QStringList &headerLines, const QString &fieldName)
{
    for (qsizetype i = 0; i < headerLines.size(); ++i) {
        const QString &line = headerLines.at(i);
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon >= 0 && QStringView(line).left(colon).compare(fieldName, Qt::CaseInsensitive) == 0)
            return FieldValueAt(headerLines, i);
    }
    return QString();
}

QString TSpamDetector::FieldValueAt(const QStringList &headerLines, qsizetype index)
{
    const QString &line = headerLines.at(index);
    QString value = TrimControls(QStringView(line).mid(line.indexOf(QLatin1Char(':')) + 1));
    for (qsizetype j = index + 1; j < headerLines.size(); ++j) {
        const QString &cont = headerLines.at(j);
        if (!cont.startsWith(kBlank) && !cont.startsWith(kTab))
            break;
        value += kBlank;
        value += TrimControls(cont);
    }
    return TrimControls(value);
}
