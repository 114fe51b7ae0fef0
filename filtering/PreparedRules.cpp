#include "PreparedRules.h"

#include "CaseFold.h"
#include "MailMessage.h"
#include "SpamDetectorUnit.h"

#include <cstring>

namespace {

bool judged(const TSimpleFilter &rule)
{
    return rule.Active && (IsSpamRuleKind(rule.Kind) || IsAllowRuleKind(rule.Kind));
}

// Folded texts compare unit by unit; plain memory comparison is all that takes.
bool startsWith(QStringView text, QStringView prefix)
{
    return text.size() >= prefix.size() &&
           std::memcmp(text.utf16(), prefix.utf16(), size_t(prefix.size()) * sizeof(char16_t)) == 0;
}

bool equal(QStringView a, QStringView b)
{
    return a.size() == b.size() && startsWith(a, b);
}

// Texts still shared with the prepared copy are equal without looking at their characters.
bool sameText(const QString &a, const QString &b)
{
    return a.size() == b.size() && (a.constData() == b.constData() || a == b);
}

// The operation table on folded texts. hit describes the occurrences of the pattern in the value, word
// those of a blank followed by the pattern; both pattern and value are non-empty.
bool matchesFolded(uint8_t operation, QStringView value, QStringView pattern, const TPatternSet::Hit &hit,
                   const TPatternSet::Hit &word)
{
    const qsizetype n = value.size();
    const qsizetype m = pattern.size();
    switch (operation) {
    case foEquals:
        return equal(value, pattern);
    case foContains:
        return hit.First >= 0;
    case foContainsWord:
        // The whole value; the word at the start; between blanks; or the first blank-word pair ending the
        // value. Words are delimited by blanks only.
        if (n <= m)
            return equal(value, pattern);
        if (value.at(m) == u' ' && startsWith(value, pattern))
            return true;
        return word.BeforeBlank || (word.First >= 0 && word.First + m + 1 == n);
    case foBeginsWith:
        return startsWith(value, pattern);
    case foEndsWith:
        // Only the first occurrence counts.
        return hit.First >= 0 && hit.First + m == n;
    default:
        return false;
    }
}

} // namespace

TPreparedRules::TPreparedRules(const TFilterList &rules)
{
    m_source.reserve(size_t(rules.size()));
    for (int i = 0; i < rules.size(); ++i) {
        const TSimpleFilter *r = rules.at(i);
        Snapshot &s = m_source.emplace_back();
        if (!r)
            continue;
        s = {true, r->Active, r->Kind, r->Operation, r->Text, r->HeaderField};
        if (!judged(*r))
            continue;
        Rule rule;
        rule.Index = i;
        rule.Target = targetFor(*r);
        rule.Operation = r->Operation;
        rule.Folded = FoldCase(r->Text);
        TPatternSet &patterns = m_targets[size_t(rule.Target)].Patterns;
        if (!r->Text.isEmpty() && r->Text.front().isLowSurrogate())
            rule.QtSearched = r->Text;
        else if (rule.Operation == foContains || rule.Operation == foEndsWith)
            rule.TextPattern = patterns.Add(rule.Folded);
        else if (rule.Operation == foContainsWord && !rule.Folded.isEmpty())
            rule.WordPattern = patterns.Add(QLatin1Char(' ') + rule.Folded);
        (IsAllowRuleKind(r->Kind) ? m_allow : m_rules).push_back(rule);
    }
    for (Target &t : m_targets)
        t.Patterns.Build();
    m_texts.resize(m_targets.size());
    m_fieldLines.assign(m_targets.size(), -1);
}

int TPreparedRules::targetFor(const TSimpleFilter &rule)
{
    const auto add = [this](Source from, const QString &name) {
        Target &added = m_targets.emplace_back();
        added.From = from;
        added.FoldedName = name;
        return int(m_targets.size() - 1);
    };
    if (RuleTarget(rule.Kind) != fkHeaderField) {
        if (m_subject < 0)
            m_subject = add(Source::Subject, QString());
        return m_subject;
    }
    // Exactly "Received" joins all Received lines; any other spelling is an ordinary field.
    if (rule.HeaderField == kReceivedField) {
        if (m_received < 0)
            m_received = add(Source::Received, QString());
        return m_received;
    }
    const QString name = FoldCase(rule.HeaderField);
    const auto known = m_fields.constFind(name);
    if (known != m_fields.cend())
        return *known;
    const int t = add(Source::Field, name);
    m_fields.insert(name, t);
    // A name holding a colon never names a field: the name of a line ends at its first colon.
    if (!name.contains(QLatin1Char(':')))
        m_fieldTargets.push_back(t);
    return t;
}

bool TPreparedRules::IsPreparedFrom(const TFilterList &rules) const
{
    if (size_t(rules.size()) != m_source.size())
        return false;
    for (size_t i = 0; i < m_source.size(); ++i) {
        const TSimpleFilter *r = rules.at(qsizetype(i));
        const Snapshot &s = m_source[i];
        if (!r || !s.Present) {
            if (bool(r) != s.Present)
                return false;
            continue;
        }
        if (r->Active != s.Active || r->Kind != s.Kind)
            return false;
        if (!judged(*r))
            continue; // the rest of a rule that takes no part does not matter
        if (r->Operation != s.Operation || !sameText(r->Text, s.Text))
            return false;
        if (RuleTarget(r->Kind) == fkHeaderField && !sameText(r->HeaderField, s.HeaderField))
            return false;
    }
    return true;
}

int TPreparedRules::firstOf(const std::vector<Rule> &rules, const MailMessage &msg) const
{
    for (const Rule &rule : rules)
        if (matches(rule, msg))
            return rule.Index;
    return -1;
}

int TPreparedRules::FirstMatch(const MailMessage &msg) const
{
    ++m_message;
    return firstOf(m_rules, msg);
}

int TPreparedRules::FirstAllowMatch(const MailMessage &msg) const
{
    ++m_message;
    return firstOf(m_allow, msg);
}

int TPreparedRules::Verdict(const MailMessage &msg) const
{
    // One message: the texts the allow rules fold and scan serve the spam rules too.
    ++m_message;
    if (firstOf(m_allow, msg) >= 0)
        return -1;
    return firstOf(m_rules, msg);
}

bool TPreparedRules::matches(const Rule &rule, const MailMessage &msg) const
{
    const Text &text = textOf(rule.Target, msg);
    // A missing or empty field matches exactly the rules with an empty text.
    if (m_targets[size_t(rule.Target)].From == Source::Field && text.Folded.isEmpty())
        return rule.Folded.isEmpty();
    if (rule.Folded.isEmpty() || text.Folded.isEmpty())
        return false;
    if (!rule.QtSearched.isEmpty())
        return TSpamDetector::CompareText(rule.Operation, text.Raw, rule.QtSearched);
    static const TPatternSet::Hit none;
    const TPatternSet::Hit &hit = rule.TextPattern >= 0 ? text.Hits[size_t(rule.TextPattern)] : none;
    const TPatternSet::Hit &word = rule.WordPattern >= 0 ? text.Hits[size_t(rule.WordPattern)] : none;
    return matchesFolded(rule.Operation, text.Folded, rule.Folded, hit, word);
}

const TPreparedRules::Text &TPreparedRules::textOf(int target, const MailMessage &msg) const
{
    Text &text = m_texts[size_t(target)];
    if (text.Message == m_message)
        return text;
    const Target &t = m_targets[size_t(target)];
    switch (t.From) {
    case Source::Subject:
        text.Raw = msg.Subject;
        break;
    case Source::Received:
        text.Raw = TSpamDetector::ReceivedText(msg.Headers);
        break;
    case Source::Field: {
        const qsizetype line = fieldLine(target, msg);
        text.Raw = line < 0 ? QString() : TSpamDetector::FieldValueAt(msg.Headers, line);
        break;
    }
    }
    FoldCase(text.Raw, text.Folded);
    t.Patterns.Scan(text.Folded, text.Hits);
    text.Message = m_message;
    return text;
}

qsizetype TPreparedRules::fieldLine(int target, const MailMessage &msg) const
{
    if (m_linesLocatedFor != m_message) {
        // One pass over the lines finds the first line of every field a rule names.
        m_linesLocatedFor = m_message;
        for (const int t : m_fieldTargets)
            m_fieldLines[size_t(t)] = -1;
        size_t missing = m_fieldTargets.size();
        for (qsizetype i = 0; i < msg.Headers.size() && missing > 0; ++i) {
            const QStringView line = msg.Headers.at(i);
            for (const int t : m_fieldTargets) {
                // The name before the line's first colon: a name holding no colon, followed by one.
                const QString &name = m_targets[size_t(t)].FoldedName;
                qsizetype &found = m_fieldLines[size_t(t)];
                if (found < 0 && line.size() > name.size() && line.at(name.size()) == u':' &&
                    EqualsFolded(line.left(name.size()), name)) {
                    found = i;
                    --missing;
                }
            }
        }
    }
    return m_fieldLines[size_t(target)];
}
