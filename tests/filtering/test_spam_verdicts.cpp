// The prepared rules judge exactly as the straightforward walk did: every rule on its own, each text
// compared with Qt's case-blind search. That walk is kept here as the reference, and both judge the
// sample mails and 10,000 generated messages with generated rules; they must name the same first
// matching rule for every message, and the same verdict once exceptions ("never spam") take part.
#include "MailMessage.h"
#include "PreparedRules.h"
#include "SampleMails.h"
#include "SpamDetectorUnit.h"

#include <gtest/gtest.h>

#include <QFile>

#include <array>
#include <random>

namespace {

// The walk as it was before the rules were prepared.
namespace reference {

const QString kReceived = QStringLiteral("Received");
const QChar kBlank = QLatin1Char(' ');
const QChar kTab = QLatin1Char('\t');

int Pos(const QString &subText, const QString &text)
{
    if (subText.isEmpty() || text.isEmpty())
        return 0;
    return int(text.indexOf(subText, 0, Qt::CaseInsensitive)) + 1;
}

QString Trim(QStringView s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && s.at(b).unicode() <= 0x20)
        ++b;
    while (e > b && s.at(e - 1).unicode() <= 0x20)
        --e;
    return s.mid(b, e - b).toString();
}

bool CompareText(uint8_t operation, const QString &value, const QString &pattern)
{
    const int p = Pos(pattern, value);
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
        if (Pos(pattern + kBlank, value) == 1)
            return true;
        if (Pos(kBlank + pattern + kBlank, value) > 0)
            return true;
        const int q = Pos(kBlank + pattern, value);
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

QString ReceivedText(const QStringList &headerLines)
{
    QString v;
    bool inBlock = false;
    for (const QString &line : headerLines) {
        if (line.startsWith(kReceived)) {
            const qsizetype colon = line.indexOf(QLatin1Char(':'));
            v += kBlank;
            v += QStringView(line).mid(colon + 1);
            inBlock = true;
        } else if (inBlock && line.startsWith(kTab)) {
            v += kBlank;
            v += line;
        } else {
            inBlock = false;
        }
    }
    v.remove(kTab);
    return v;
}

QString FieldValue(const QStringList &headerLines, const QString &fieldName)
{
    for (qsizetype i = 0; i < headerLines.size(); ++i) {
        const QString &line = headerLines.at(i);
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon < 0)
            continue;
        if (QStringView(line).left(colon).compare(fieldName, Qt::CaseInsensitive) != 0)
            continue;
        QString value = Trim(QStringView(line).mid(colon + 1));
        for (qsizetype j = i + 1; j < headerLines.size(); ++j) {
            const QString &cont = headerLines.at(j);
            if (!cont.startsWith(kBlank) && !cont.startsWith(kTab))
                break;
            value += kBlank;
            value += Trim(cont);
        }
        return Trim(value);
    }
    return QString();
}

bool TestHeaderField(const TSimpleFilter &rule, const QStringList &headerLines)
{
    if (rule.HeaderField == kReceived)
        return CompareText(rule.Operation, ReceivedText(headerLines), rule.Text);
    const QString value = FieldValue(headerLines, rule.HeaderField);
    if (value.isEmpty())
        return rule.Text.isEmpty();
    return CompareText(rule.Operation, value, rule.Text);
}

// The first active rule of the two kinds given, in list order, as the straightforward walk judged them.
int FirstOfKinds(const TFilterList &rules, const MailMessage &msg, uint8_t subjectKind, uint8_t fieldKind)
{
    for (int i = 0; i < rules.size(); ++i) {
        const TSimpleFilter *rule = rules.at(i);
        if (!rule || !rule->Active)
            continue;
        if (rule->Kind == subjectKind) {
            if (CompareText(rule->Operation, msg.Subject, rule->Text))
                return i;
        } else if (rule->Kind == fieldKind) {
            if (TestHeaderField(*rule, msg.Headers))
                return i;
        }
    }
    return -1;
}

// A reader that knows only the spam kinds: every other kind, the exceptions included, is skipped.
int FirstMatch(const TFilterList &rules, const MailMessage &msg)
{
    return FirstOfKinds(rules, msg, fkSubject, fkHeaderField);
}

// With exceptions: one that matches makes the message no spam.
int Verdict(const TFilterList &rules, const MailMessage &msg)
{
    if (FirstOfKinds(rules, msg, fkAllowSubject, fkAllowHeaderField) >= 0)
        return -1;
    return FirstMatch(rules, msg);
}

} // namespace reference

// Pieces of generated text: letters whose folding is special (ß and ẞ, Turkish İ and ı, Kelvin sign,
// final sigma, title-case digraphs, a ligature), combining accents, pairs and lone surrogates, blanks,
// tabs and control characters.
const QStringList kPieces = {
    QStringLiteral("a"),  QStringLiteral("B"),      QStringLiteral("mx"),      QStringLiteral("Spam"),
    QStringLiteral("0"),  QStringLiteral("."),      QStringLiteral("-"),       QStringLiteral(":"),
    QStringLiteral(" "),  QStringLiteral("  "),     QStringLiteral(" "),       QStringLiteral("\t"),
    QStringLiteral("\x01"), QStringLiteral("ß"),    QStringLiteral("ẞ"),       QStringLiteral("SS"),
    QStringLiteral("ss"), QStringLiteral("İ"),      QStringLiteral("ı"),       QStringLiteral("I"),
    QStringLiteral("i"),  QStringLiteral("i\u0307"), QStringLiteral("é"),      QStringLiteral("e\u0301"),
    QStringLiteral("É"),  QStringLiteral("ǅ"),      QStringLiteral("Ǆ"),       QStringLiteral("Σ"),
    QStringLiteral("ς"),  QStringLiteral("ﬁ"),      QStringLiteral("\u212A"),  QStringLiteral("k"),
    QStringLiteral("µ"),  QStringLiteral("Ü"),      QStringLiteral("€"),       QStringLiteral("\u00a0"),
    QStringLiteral("\U00010400"), QStringLiteral("\U00010428"), QString(QChar(0xD801)), QString(QChar(0xDC00)),
    QString(QChar(0xDC28)), QStringLiteral("Received"), QStringLiteral("from"), QStringLiteral("Ärger"),
};

// Field names, spelled as rules and messages spell them: "Received" exactly and in other cases, names
// that begin with it, names with non-ASCII letters, an empty name, a name holding a colon.
const QStringList kNames = {
    QStringLiteral("Received"), QStringLiteral("Received"), QStringLiteral("received"),
    QStringLiteral("Received-SPF"), QStringLiteral("X-Received"), QStringLiteral("From"),
    QStringLiteral("Subject"), QStringLiteral("X-Tag"), QStringLiteral("X-Ünïcode"),
    QStringLiteral("Straße-Id"), QStringLiteral("X-İd"), QStringLiteral("\U00010400-Id"), QString(),
    QStringLiteral("X-Tag: a"),
};

class Generator {
public:
    explicit Generator(uint32_t seed) : m_rng(seed) {}

    int Below(int n) { return int(m_rng() % uint32_t(n)); }
    bool Chance(int percent) { return Below(100) < percent; }

    QString Text(int minPieces, int maxPieces)
    {
        QString s;
        const int n = minPieces + Below(maxPieces - minPieces + 1);
        for (int i = 0; i < n; ++i)
            s += kPieces.at(Below(int(kPieces.size())));
        return s;
    }

    // The text with the case of some characters changed, including changes that alter the length
    // ("ß" upper-cased is "SS").
    QString CaseVariant(const QString &text)
    {
        QString out;
        for (qsizetype i = 0; i < text.size(); ++i) {
            qsizetype len = 1;
            if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
                len = 2;
            const QString c = text.mid(i, len);
            i += len - 1;
            switch (Below(5)) {
            case 0:
                out += c.toUpper();
                break;
            case 1:
                out += c.toLower();
                break;
            case 2:
                out += c.toCaseFolded();
                break;
            default:
                out += c;
            }
        }
        return out;
    }

    QString Name()
    {
        const QString &name = kNames.at(Below(int(kNames.size())));
        return Chance(70) ? name : CaseVariant(name);
    }

    MailMessage Message()
    {
        // Now and then texts longer than 500 characters: Qt searches those another way.
        const int longest = Chance(10) ? 300 : 8;
        MailMessage m;
        m.Subject = Text(0, longest);
        const int lines = Below(12);
        for (int i = 0; i < lines; ++i) {
            if (i > 0 && Chance(15)) { // a continuation line, with a tab or a blank
                m.Headers << (Chance(60) ? QStringLiteral("\t") : QStringLiteral(" ")) + Text(0, 5);
                continue;
            }
            if (Chance(5)) { // a line without a colon
                m.Headers << Text(1, 4).remove(QLatin1Char(':'));
                continue;
            }
            m.Headers << Name() + (Chance(85) ? QStringLiteral(": ") : QStringLiteral(":")) + Text(0, longest);
        }
        return m;
    }

    // A piece of a text that lets a rule of that operation match: the whole, its start, its end, a
    // word, or anything in it. Cut between characters, never inside a pair: a rule's text is a text
    // someone typed or took whole from a message.
    QString PieceFor(uint8_t operation, const QString &text)
    {
        QList<qsizetype> bounds;
        for (qsizetype i = 0; i <= text.size(); ++i)
            if (i == 0 || i == text.size() || !text.at(i).isLowSurrogate() || !text.at(i - 1).isHighSurrogate())
                bounds << i;
        qsizetype a = bounds.at(Below(int(bounds.size())));
        qsizetype b = bounds.at(Below(int(bounds.size())));
        if (a > b)
            std::swap(a, b);
        switch (operation) {
        case foEquals:
            return text;
        case foBeginsWith:
            return text.left(b);
        case foEndsWith:
            return text.mid(a);
        case foContainsWord: {
            const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (!words.isEmpty() && Chance(80))
                return words.at(Below(int(words.size())));
            break;
        }
        default:
            break;
        }
        return text.mid(a, b - a);
    }

    // A rule, often made from one of the messages, so that matches are neither rare nor certain.
    TSimpleFilter Rule(const QList<MailMessage> &messages)
    {
        TSimpleFilter r;
        r.Active = Chance(92);
        const int kind = Below(100);
        r.Kind = kind < 45   ? uint8_t(fkSubject)
                 : kind < 95 ? uint8_t(fkHeaderField)
                             : std::array<uint8_t, 4>{1, 2, 4, 255}[Below(4)];
        // Now and then an exception of the kind.
        if (kind < 95 && Chance(allowPercent))
            r.Kind = uint8_t(r.Kind + kAllowKindOffset);
        r.Operation = Chance(95) ? uint8_t(Below(5)) : std::array<uint8_t, 3>{5, 9, 255}[Below(3)];
        r.CaseSensitive = Chance(10);
        const bool onField = RuleTarget(r.Kind) == fkHeaderField;
        if (onField)
            r.HeaderField = Name();
        if (Chance(2))
            return r; // empty text
        if (messages.isEmpty() || Chance(40)) {
            r.Text = Text(2, 4);
            return r;
        }
        const MailMessage &m = messages.at(Below(int(messages.size())));
        QString source;
        if (!onField)
            source = m.Subject;
        else if (r.HeaderField == reference::kReceived)
            source = reference::ReceivedText(m.Headers);
        else
            source = reference::FieldValue(m.Headers, r.HeaderField);
        r.Text = PieceFor(r.Operation, source);
        if (r.Text.isEmpty()) // the message lacks that field: empty texts stay rare
            r.Text = Text(2, 4);
        if (Chance(60))
            r.Text = CaseVariant(r.Text);
        return r;
    }

    // The share of rules that are exceptions.
    int allowPercent = 0;

private:
    std::mt19937 m_rng;
};

// Counts of what the comparison met, so that it cannot pass by comparing nothing.
struct Tally {
    int judged = 0;
    int spam = 0;
    int excepted = 0; // a spam rule matched, and an exception too
    std::array<int, 5> byOperation{};

    void Add(int first, const TFilterList &rules)
    {
        ++judged;
        if (first < 0)
            return;
        ++spam;
        const uint8_t op = rules.at(first)->Operation;
        if (op < byOperation.size())
            ++byOperation[op];
    }
};

// Readable in a failure message: every unit outside printable ASCII as \\u followed by its code.
std::string escaped(const QString &text)
{
    std::string out;
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7F)
            out += char(c.unicode());
        else
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toStdString();
    }
    return out;
}

std::string describe(const TSimpleFilter &r)
{
    return "kind " + std::to_string(r.Kind) + ", operation " + std::to_string(r.Operation) + ", field \"" +
           escaped(r.HeaderField) + "\", text \"" + escaped(r.Text) + '"';
}

// Judges the messages with the rules both ways; the detector's verdict must agree as well.
void compare(const QList<MailMessage> &messages, const TFilterList &rules, Tally &tally, const char *what)
{
    const TPreparedRules prepared(rules);
    TProgramSettings settings;
    settings.Filters = const_cast<TFilterList *>(&rules);
    const TSpamDetector detector(settings);
    for (qsizetype i = 0; i < messages.size(); ++i) {
        const MailMessage &m = messages.at(i);
        const int want = reference::FirstMatch(rules, m);
        const int got = prepared.FirstMatch(m);
        const int wantVerdict = reference::Verdict(rules, m);
        const int gotVerdict = prepared.Verdict(m);
        TMailEntry entry;
        entry.Message = m;
        const bool spam = detector.IsSpam(entry);
        const TSimpleFilter *rule = detector.SpamRule(entry);
        if (got != want || gotVerdict != wantVerdict || spam != (wantVerdict >= 0) ||
            rule != (wantVerdict >= 0 ? rules.at(wantVerdict) : nullptr)) {
            ADD_FAILURE() << what << " message " << i << ": first match " << got << ", expected " << want
                          << ", verdict " << gotVerdict << ", expected " << wantVerdict << ", detector " << spam
                          << "\nsubject: " << escaped(m.Subject) << "\nheader:\n"
                          << escaped(m.Headers.join(QLatin1Char('\n'))) << "\nrule found: "
                          << (got >= 0 ? describe(*rules.at(got)) : std::string("none"))
                          << "\nrule expected: " << (want >= 0 ? describe(*rules.at(want)) : std::string("none"));
            return;
        }
        tally.Add(wantVerdict, rules);
        if (want >= 0 && wantVerdict < 0)
            ++tally.excepted;
    }
}

void expectBothOutcomes(const Tally &t)
{
    EXPECT_GT(t.spam, t.judged / 20) << "too few matches to compare";
    EXPECT_LT(t.spam, t.judged - t.judged / 20) << "too few messages without a match";
    for (size_t op = 0; op < t.byOperation.size(); ++op)
        EXPECT_GT(t.byOperation[op], 10) << "few matches by operation " << op;
}

TEST(SpamVerdicts, GeneratedMessagesAndRulesAgreeWithTheReference)
{
    Generator gen(20240611);
    gen.allowPercent = 10;
    Tally tally;
    // 200 lists of 40 rules, each made from and judging 50 messages.
    for (int batch = 0; batch < 200; ++batch) {
        QList<MailMessage> messages;
        for (int i = 0; i < 50; ++i)
            messages << gen.Message();
        TFilterList rules;
        for (int i = 0; i < 40; ++i)
            rules << (gen.Chance(2) ? nullptr : new TSimpleFilter(gen.Rule(messages)));
        compare(messages, rules, tally, "generated");
        qDeleteAll(rules);
    }
    EXPECT_EQ(tally.judged, 10000);
    expectBothOutcomes(tally);
    EXPECT_GT(tally.excepted, 100) << "too few exceptions that mattered";
}

TEST(SpamVerdicts, SampleMailsAgreeWithTheReference)
{
    QList<MailMessage> samples;
    for (const QString &path : SampleMailFiles()) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString() << " (scripts/install-deps.sh)";
        MailMessage m;
        if (m.FillFromRaw(f.readAll()))
            samples << m;
    }
    ASSERT_GE(samples.size(), 40);
    Generator gen(4711);
    Tally tally;
    // Rules made from the samples themselves, and a few hundred more from generated text.
    for (int round = 0; round < 60; ++round) {
        TFilterList rules;
        for (int i = 0; i < 30; ++i)
            rules << new TSimpleFilter(gen.Rule(gen.Chance(85) ? samples : QList<MailMessage>()));
        compare(samples, rules, tally, "sample");
        qDeleteAll(rules);
    }
    expectBothOutcomes(tally);
}

} // namespace
