// Case folding done once and the many-pattern search: together they must find what Qt's case-blind
// search finds, at the same positions.
#include "CaseFold.h"
#include "PatternSet.h"
#include "QtPrinters.h"
#include "SpamDetectorUnit.h"

#include <gtest/gtest.h>

#include <QChar>

#include <random>

namespace {

QString unit(char32_t c)
{
    if (c < 0x10000)
        return QString(QChar(char16_t(c)));
    const QChar pair[2] = {QChar(QChar::highSurrogate(c)), QChar(QChar::lowSurrogate(c))};
    return QString(pair, 2);
}

TEST(FoldCase, IsQtsCaseFoldingUnitByUnit)
{
    for (char32_t c = 0; c <= 0xFFFF; ++c) {
        if (QChar::isSurrogate(c))
            continue;
        const QString folded = FoldCase(unit(c));
        ASSERT_EQ(folded.size(), 1) << std::hex << uint32_t(c);
        ASSERT_EQ(char32_t(folded.at(0).unicode()), QChar::toCaseFolded(c)) << std::hex << uint32_t(c);
        ASSERT_EQ(unit(c).compare(folded, Qt::CaseInsensitive), 0) << std::hex << uint32_t(c);
    }
}

TEST(FoldCase, APairFoldsToAPairWithTheSameHighSurrogate)
{
    // The folded text keeps 16-bit units; that is only exact while folding never moves a character
    // outside its block of 1024, which holds for all of Unicode as Qt knows it.
    for (char32_t c = 0x10000; c <= 0x10FFFF; ++c) {
        const char32_t folded = QChar::toCaseFolded(c);
        ASSERT_EQ(QChar::highSurrogate(folded), QChar::highSurrogate(c)) << std::hex << uint32_t(c);
        ASSERT_EQ(FoldCase(unit(c)), unit(folded)) << std::hex << uint32_t(c);
    }
}

TEST(FoldCase, NamedCases)
{
    struct Case {
        const char *name;
        QString text;
        QString folded;
    };
    const Case cases[] = {
        {"ASCII", QStringLiteral("Hello WORLD 1-2"), QStringLiteral("hello world 1-2")},
        {"sharp s stays one character", QStringLiteral("Straße"), QStringLiteral("straße")},
        {"capital sharp s", QStringLiteral("STRAẞE"), QStringLiteral("straße")},
        {"dotted capital I keeps its dot", QStringLiteral("İstanbul"), QStringLiteral("İstanbul")},
        {"dotless i stays", QStringLiteral("ı"), QStringLiteral("ı")},
        {"Kelvin sign", QStringLiteral("\u212A"), QStringLiteral("k")},
        {"final sigma", QStringLiteral("ΣΟΦΟΣ ς"), QStringLiteral("σοφοσ σ")},
        {"title-case digraph", QStringLiteral("ǅ"), QStringLiteral("ǆ")},
        {"micro sign", QStringLiteral("µ"), QStringLiteral("μ")},
        {"ligature stays", QStringLiteral("ﬁ"), QStringLiteral("ﬁ")},
        {"combining accent", QStringLiteral("E\u0301"), QStringLiteral("e\u0301")},
        {"Deseret pair", QStringLiteral("\U00010400"), QStringLiteral("\U00010428")},
        {"lone surrogates stay", QString(QChar(0xDC00)) + QChar(0xD801), QString(QChar(0xDC00)) + QChar(0xD801)},
        {"a tab splits a pair", QString(QChar(0xD801)) + u'\t' + QChar(0xDC00),
         QString(QChar(0xD801)) + u'\t' + QChar(0xDC00)},
        {"empty", QString(), QString()},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(FoldCase(c.text), c.folded) << c.name;
        EXPECT_TRUE(EqualsFolded(c.text, c.folded)) << c.name;
    }
    EXPECT_FALSE(EqualsFolded(QStringLiteral("From"), QStringLiteral("fro")));
    EXPECT_FALSE(EqualsFolded(QStringLiteral("ss"), QStringLiteral("ß")));
}

// The first occurrence of every pattern with a plain search, as TPatternSet must report it.
std::vector<TPatternSet::Hit> plainHits(const QStringList &patterns, const QString &text)
{
    std::vector<TPatternSet::Hit> hits;
    for (const QString &p : patterns) {
        TPatternSet::Hit h;
        for (qsizetype i = 0; i + p.size() <= text.size(); ++i) {
            if (QStringView(text).mid(i, p.size()) != p)
                continue;
            if (h.First < 0)
                h.First = i;
            if (i + p.size() < text.size() && text.at(i + p.size()) == u' ')
                h.BeforeBlank = true;
        }
        hits.push_back(h);
    }
    return hits;
}

void expectHits(const std::vector<TPatternSet::Hit> &got, const std::vector<TPatternSet::Hit> &want,
                const QString &context)
{
    ASSERT_EQ(got.size(), want.size()) << context.toStdString();
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].First, want[i].First) << "pattern " << i << ": " << context.toStdString();
        EXPECT_EQ(got[i].BeforeBlank, want[i].BeforeBlank) << "pattern " << i << ": " << context.toStdString();
    }
}

TEST(PatternSet, OverlappingPatternsFirstOccurrencesAndBlanks)
{
    TPatternSet set;
    const QStringList patterns = {"he", "she", "his", "hers", "s", "ers x"};
    for (const QString &p : patterns)
        set.Add(p);
    EXPECT_EQ(set.Add(QStringLiteral("she")), 1); // the same pattern keeps its number
    EXPECT_EQ(set.Add(QString()), -1);
    set.Build();
    EXPECT_EQ(set.Count(), 6);
    for (const QString &text : {QStringLiteral("ushers x his"), QStringLiteral("he she "), QStringLiteral("h"),
                                QString(), QStringLiteral("hishershe s")}) {
        std::vector<TPatternSet::Hit> hits;
        set.Scan(text, hits);
        expectHits(hits, plainHits(patterns, text), text);
    }
    std::vector<TPatternSet::Hit> hits;
    set.Scan(QStringLiteral("ushers x his"), hits);
    EXPECT_EQ(hits[2].First, 9); // his
    EXPECT_EQ(hits[3].First, 2); // hers, inside "ushers"
    EXPECT_TRUE(hits[3].BeforeBlank);
    EXPECT_FALSE(hits[2].BeforeBlank); // at the very end
}

TEST(PatternSet, TableAndSparseFormAgreeWithAPlainSearch)
{
    // Few distinct characters make many overlaps and long fail chains; non-ASCII and surrogates go
    // through the symbol search.
    const QString alphabet = QStringLiteral("ab ä") + QChar(0xD801) + QChar(0xDC00) + QChar(0xDC28);
    std::mt19937 rng(7);
    const auto randomText = [&](int maxLength) {
        QString s;
        const int n = int(rng() % uint32_t(maxLength + 1));
        for (int i = 0; i < n; ++i)
            s += alphabet.at(qsizetype(rng() % uint32_t(alphabet.size())));
        return s;
    };
    for (int round = 0; round < 400; ++round) {
        QStringList patterns;
        const int count = 1 + int(rng() % 12);
        while (patterns.size() < count) {
            const QString p = randomText(6);
            if (!p.isEmpty() && !patterns.contains(p))
                patterns.append(p);
        }
        TPatternSet dense, sparse;
        for (const QString &p : patterns) {
            dense.Add(p);
            sparse.Add(p);
        }
        dense.Build();
        sparse.Build(0);
        ASSERT_TRUE(dense.IsDense());
        ASSERT_FALSE(sparse.IsDense());
        for (int t = 0; t < 10; ++t) {
            const QString text = randomText(60);
            const std::vector<TPatternSet::Hit> want = plainHits(patterns, text);
            std::vector<TPatternSet::Hit> hits;
            dense.Scan(text, hits);
            expectHits(hits, want, text);
            sparse.Scan(text, hits);
            expectHits(hits, want, text);
        }
    }
}

TEST(PatternSet, FoldedSearchFindsWhatPosIgnoreCaseFinds)
{
    // Short texts and long ones (Qt searches those above 500 characters another way).
    const QString filler = QString(600, QLatin1Char('x'));
    struct Case {
        QString sub;
        QString text;
    };
    const Case cases[] = {
        {QStringLiteral("WATCH"), QStringLiteral("Cheap Watches")},
        {QStringLiteral("straße"), QStringLiteral("STRAẞE")},
        {QStringLiteral("ss"), QStringLiteral("Straße")},
        {QStringLiteral("İ"), QStringLiteral("i̇stanbul İ")},
        {QStringLiteral("k"), QStringLiteral("\u212A")},
        {QStringLiteral("\U00010428x"), QStringLiteral("a\U00010400X")},
        {QStringLiteral("mx.example"), filler + QStringLiteral("MX.Example")},
        {QStringLiteral("ǆ-x"), filler + QStringLiteral("ǅ-X")},
        {QStringLiteral("\U00010428abcdef"), filler + QStringLiteral("\U00010400ABCDEF")},
    };
    for (const Case &c : cases) {
        TPatternSet set;
        set.Add(FoldCase(c.sub));
        set.Build();
        std::vector<TPatternSet::Hit> hits;
        set.Scan(FoldCase(c.text), hits);
        EXPECT_EQ(hits[0].First + 1, PosIgnoreCase(c.sub, c.text)) << c.sub.toStdString();
    }
}

} // namespace
