#include "FilterRules.h"

#include "SpamDetectorUnit.h"

#include <QSet>

#include <algorithm>

namespace {

const char *const kOperationNames[kFilterOperationCount] = {"gleich dem", "enthält den", "enthält als Wort im",
                                                            "beginnt mit dem", "endet mit dem"};


bool isLineBreak(QChar c)
{
    return c == QLatin1Char('\r') || c == QLatin1Char('\n');
}

} // namespace

QString FilterOperationName(int operation)
{
    if (operation < 0 || operation >= kFilterOperationCount)
        return QString();
    return QString::fromUtf8(kOperationNames[operation]);
}

QStringList FilterOperationChoices(bool lastWithoutDots)
{
    QStringList out;
    for (int op = 0; op < kFilterOperationCount; ++op) {
        const bool dots = !(lastWithoutDots && op == kFilterOperationCount - 1);
        out << FilterOperationName(op) + (dots ? QStringLiteral("...") : QString());
    }
    return out;
}

QString SubjectOperationText(int operation)
{
    const QString name = FilterOperationName(operation);
    return name.isEmpty() ? name : name + QStringLiteral(" Betreff");
}

QString HeaderOperationText(int operation)
{
    const QString name = FilterOperationName(operation);
    return name.isEmpty() ? name : name + QStringLiteral(" Text");
}

QString FilterRuleText(const TSimpleFilter &rule)
{
    const QString quoted = QLatin1Char('"') + rule.Text + QLatin1Char('"');
    if (RuleTarget(rule.Kind) == fkHeaderField)
        return rule.HeaderField + QLatin1Char(' ') + HeaderOperationText(rule.Operation) + QLatin1Char(' ') + quoted;
    return SubjectOperationText(rule.Operation) + QLatin1Char(' ') + quoted;
}

TSimpleFilter NewSubjectFilter(int operation, const QString &text, bool allow)
{
    TSimpleFilter rule;
    rule.Active = true;
    rule.Kind = allow ? fkAllowSubject : fkSubject;
    rule.Operation = uint8_t(operation);
    rule.Text = text;
    return rule;
}

TSimpleFilter NewHeaderFieldFilter(const QString &field, int operation, const QString &text, bool allow)
{
    TSimpleFilter rule;
    rule.Active = true;
    rule.Kind = allow ? fkAllowHeaderField : fkHeaderField;
    rule.HeaderField = field;
    rule.Operation = uint8_t(operation);
    rule.Text = text;
    return rule;
}

TSimpleFilter NeverSpamSenderFilter(const QString &address)
{
    return NewHeaderFieldFilter(QStringLiteral("From"), foContains, address, true);
}

bool IsSameRule(const TSimpleFilter &a, const TSimpleFilter &b)
{
    return a.Kind == b.Kind && a.Operation == b.Operation && a.Text == b.Text &&
           (RuleTarget(a.Kind) != fkHeaderField || a.HeaderField == b.HeaderField);
}

bool IsDuplicateSubjectFilter(const QList<const TSimpleFilter *> &rules, int operation, const QString &text)
{
    return std::any_of(rules.begin(), rules.end(), [&](const TSimpleFilter *r) {
        return r && r->Operation == operation && r->Text.compare(text, Qt::CaseInsensitive) == 0;
    });
}

bool IsDuplicateHeaderFilter(const QList<const TSimpleFilter *> &rules, const QString &field, int operation,
                             const QString &text)
{
    return std::any_of(rules.begin(), rules.end(), [&](const TSimpleFilter *r) {
        return r && r->Operation == operation && r->Text == text &&
               r->HeaderField.compare(field, Qt::CaseInsensitive) == 0;
    });
}

QString OneLineFilterText(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!isLineBreak(text.at(i))) {
            out += text.at(i);
            continue;
        }
        out += QLatin1Char(' ');
        while (i + 1 < text.size() && isLineBreak(text.at(i + 1)))
            ++i;
    }
    return out;
}

void SortFieldNames(QStringList &names)
{
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
}

QStringList DefaultHeaderFieldNames()
{
    QStringList names = {QStringLiteral("From"),         QStringLiteral("To"),
                         QStringLiteral("Subject"),      QStringLiteral("Return-Path"),
                         QStringLiteral("Received"),     QStringLiteral("X-ClientAddr"),
                         QStringLiteral("Organization"), QStringLiteral("Precedence"),
                         QStringLiteral("Content-Type"), QStringLiteral("Content-Transfer-Encoding")};
    SortFieldNames(names);
    return names;
}

QStringList MessageHeaderFieldNames(const QStringList &headerLines)
{
    QStringList names;
    QSet<QString> seen; // folded names: a long header block must not cost a scan per line
    for (const QString &line : headerLines) {
        const qsizetype pair = line.indexOf(QStringLiteral(": "));
        if (pair <= 0)
            continue;
        const QString name = line.left(pair);
        const QString folded = name.toCaseFolded();
        if (seen.contains(folded))
            continue;
        seen.insert(folded);
        names << name;
    }
    SortFieldNames(names);
    return names;
}

QString ProposedHeaderFieldText(const QStringList &headerLines, const QString &field)
{
    if (field == kReceivedField) {
        const QString joined = TSpamDetector::ReceivedText(headerLines);
        if (!joined.isEmpty())
            return joined;
    }
    return TSpamDetector::FieldValue(headerLines, field);
}
