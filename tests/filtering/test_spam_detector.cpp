// The spam detector: the case-blind search, the operation table, the Received assembly and the walk
// over the rules of a real parsed header.
#include "FilterRules.h"
#include "FilterTestPrinters.h"
#include "RegistrySettingsUnit.h"
#include "SpamDetectorUnit.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

TEST(PosIgnoreCase, FindsTheFirstOccurrenceIgnoringCase)
{
    struct Case {
        const char *sub;
        const char *text;
        int pos;
    };
    const Case cases[] = {
        {"ü", "GRÜN", 3},
        {"GRÜN", "im grünen Bereich", 4},
        {"äpfel", "ÄPFEL", 1},
        {"É", "café", 4},
        {"b", "abcb", 2},
        {"ß", "STRASSE", 0}, // one character never matches two
        {"x", "abc", 0},
        {"", "abc", 0},
        {"a", "", 0},
        {"abcd", "abc", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(PosIgnoreCase(QString::fromUtf8(c.sub), QString::fromUtf8(c.text)), c.pos)
            << c.sub << " in " << c.text;
}

TEST(SpamDetectorCompare, OperationTable)
{
    struct Case {
        uint8_t op;
        const char *value;
        const char *pattern;
        bool match;
    };
    const Case cases[] = {
        {foEquals, "Hello", "hELLO", true},
        {foEquals, "Hello!", "Hello", false},
        {foEquals, "Ärger", "äRGER", true},
        {foEquals, "Grüße", "GRÜSSE", false}, // no upper-casing that would turn ß into SS
        {foContains, "Cheap Watches", "watch", true},
        {foContains, "Cheap Watches", "clock", false},
        {foContainsWord, "Buy now", "now", true},   // word at the end
        {foContainsWord, "Buy now", "no", false},
        {foContainsWord, "Nowhere", "now", false},
        {foContainsWord, "now", "NOW", true},       // the whole value
        {foContainsWord, "Now here", "now", true},  // word at the start
        {foContainsWord, "a now b", "now", true},   // word between blanks
        {foContainsWord, "a nowx b now", "now", false}, // only the first blank-word pair is tried at the end
        {foContainsWord, "now, then", "now", false},    // punctuation does not delimit words
        {foContainsWord, "a\tnow", "now", false},       // neither does a tab
        {foBeginsWith, "Hello world", "HELLO", true},
        {foBeginsWith, "Hello world", "world", false},
        {foEndsWith, "xyz abc", "ABC", true},
        {foEndsWith, "abc abc", "abc", false},      // only the first occurrence counts
        {foEndsWith, "Preis: 100 €", "€", true},
        {5, "abc", "abc", false},
        {255, "abc", "abc", false},
        {foContains, "abc", "", false}, // an empty pattern never matches
        {foEquals, "", "", false},
        {foBeginsWith, "  from host", "from", false}, // the assembled Received text starts with blanks
        {foBeginsWith, "  from host", "  from", true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TSpamDetector::CompareText(c.op, QString::fromUtf8(c.value), QString::fromUtf8(c.pattern)), c.match)
            << "op " << int(c.op) << ": \"" << c.pattern << "\" on \"" << c.value << "\"";
}

// A header as TOP delivers it: tab-folded and blank-folded fields, encoded words.
const QByteArray kHeader =
    "Return-Path: <j@example.com>\r\n"
    "Received: from mx.example.org (mx.example.org [192.0.2.1])\r\n"
    "\tby mail.example.net (Postfix) with ESMTP id 1234\r\n"
    "\tfor <user@example.net>; Mon, 1 Jan 2024 10:00:00 +0100\r\n"
    "Received: from relay.example.com\r\n"
    "  by mx.example.org with SMTP\r\n"
    "Received: from [10.0.0.1] by relay.example.com\r\n"
    "From: =?ISO-8859-1?Q?J=FCrgen?= <j@example.com>\r\n"
    "Subject: =?UTF-8?B?Um9sZXg=?= Uhren =?ISO-8859-1?Q?f=FCr?= Sie\r\n"
    "X-Note:   first  \r\n"
    "\t  second part \r\n"
    "X-Empty:\r\n"
    "\r\n";

const QString kFirstReceived = QStringLiteral(
    "from mx.example.org (mx.example.org [192.0.2.1]) by mail.example.net (Postfix) with ESMTP id 1234 "
    "for <user@example.net>; Mon, 1 Jan 2024 10:00:00 +0100");

class SpamDetectorTest : public ::testing::Test {
protected:
    SpamDetectorTest()
    {
        settings.Filters = &rules;
        EXPECT_TRUE(entry.Message.FillFromHeader(kHeader));
    }
    ~SpamDetectorTest() override { FreeFilterList(rules); }

    bool spamWith(const TSimpleFilter &rule)
    {
        FreeFilterList(rules);
        rules.append(new TSimpleFilter(rule));
        return detector.IsSpam(entry);
    }

    TFilterList rules;
    TProgramSettings settings;
    TSpamDetector detector{settings};
    TMailEntry entry;
};

TEST_F(SpamDetectorTest, ReceivedLinesAreJoinedAsTheRulesSeeThem)
{
    const QStringList &lines = entry.Message.Headers;
    // Each Received field after one blank (its own blank after the colon kept), tabs gone.
    EXPECT_EQ(TSpamDetector::ReceivedText(lines),
              QStringLiteral("  ") + kFirstReceived +
                  QStringLiteral("  from relay.example.com by mx.example.org with SMTP"
                                 "  from [10.0.0.1] by relay.example.com"));
    EXPECT_EQ(TSpamDetector::FieldValue(lines, QStringLiteral("received")), kFirstReceived);
    EXPECT_EQ(TSpamDetector::FieldValue(lines, QStringLiteral("x-NOTE")), QStringLiteral("first second part"));
    EXPECT_EQ(TSpamDetector::FieldValue(lines, QStringLiteral("X-Empty")), QString());
    EXPECT_EQ(TSpamDetector::FieldValue(lines, QStringLiteral("X-Missing")), QString());
}

TEST(SpamDetectorLines, FoldedLinesAndOddLines)
{
    // Lines as a raw header holds them: a tab continues a Received block, anything else ends it.
    const QStringList raw = {
        QStringLiteral("Received: from a\t(x)"),
        QStringLiteral("\tby b"),
        QStringLiteral("X-Received: not this"),
        QStringLiteral("\tnor this"),
        QStringLiteral("Received-SPF: pass"),
        QStringLiteral(" blank-continued"),
        QStringLiteral("\tafter the block"),
        QStringLiteral("Subject:  Hello  "),
        QStringLiteral(" \t world\t"),
        QStringLiteral("Subject: second"),
    };
    EXPECT_EQ(TSpamDetector::ReceivedText(raw), QStringLiteral("  from a(x) by b  pass"));
    EXPECT_EQ(TSpamDetector::FieldValue(raw, QStringLiteral("SUBJECT")), QStringLiteral("Hello world"));
    EXPECT_EQ(TSpamDetector::FieldValue(raw, QStringLiteral("Subject ")), QString());
    EXPECT_EQ(TSpamDetector::ReceivedText({QStringLiteral("From: a"), QStringLiteral("\tb")}), QString());
    // A no-break space is text, not folding.
    EXPECT_EQ(TSpamDetector::FieldValue({QStringLiteral("X-A: \u00a0x\u00a0")}, QStringLiteral("x-a")),
              QStringLiteral("\u00a0x\u00a0"));
}

TEST_F(SpamDetectorTest, OneRuleAgainstARealHeader)
{
    struct Case {
        const char *name;
        TSimpleFilter rule;
        bool spam;
    };
    const auto subject = [](uint8_t op, const char *text, bool active = true, bool caseSensitive = false) {
        return TSimpleFilter{.Active = active, .Kind = fkSubject, .Operation = op, .Text = QString::fromUtf8(text),
                             .CaseSensitive = caseSensitive};
    };
    const auto header = [](const char *field, uint8_t op, const char *text) {
        return TSimpleFilter{.Active = true, .Kind = fkHeaderField, .Operation = op, .Text = QString::fromUtf8(text),
                             .HeaderField = QString::fromUtf8(field)};
    };
    const Case cases[] = {
        {"decoded subject", subject(foContains, "rolex"), true},
        {"decoded umlaut, other case", subject(foContainsWord, "FÜR"), true},
        {"whole decoded subject", subject(foEquals, "rolex uhren für sie"), true},
        {"case-sensitive flag still ignores case", subject(foBeginsWith, "ROLEX", true, true), true},
        {"subject not containing", subject(foContains, "casino"), false},
        {"inactive rule", subject(foContains, "rolex", false), false},
        {"other kind skipped", TSimpleFilter{.Active = true, .Kind = 1, .Operation = foContains,
                                             .Text = QStringLiteral("rolex")}, false},
        {"raw Subject field keeps encoded words", header("Subject", foContains, "rolex"), false},
        {"raw Subject field", header("subject", foBeginsWith, "=?UTF-8?B?Um9sZXg=?="), true},
        {"raw From field", header("From", foContains, "=?ISO-8859-1?Q?J=FCrgen?="), true},
        {"all Received lines", header("Received", foContains, "relay.example.com"), true},
        {"Received word at the end", header("Received", foContainsWord, "relay.example.com"), true},
        {"Received ends with", header("Received", foEndsWith, "by relay.example.com"), true},
        {"blank-folded Received field whole", header("Received", foContains, "with SMTP"), true},
        {"lower-case name: first Received only", header("received", foContains, "relay.example.com"), false},
        {"lower-case name: first Received unfolded", header("received", foEquals,
                                                            kFirstReceived.toUtf8().constData()), true},
        {"missing field, empty text", header("X-Mailer", foContains, ""), true},
        {"missing field, some text", header("X-Mailer", foContains, "x"), false},
        {"empty field, empty text", header("X-Empty", foEquals, ""), true},
        {"present field, empty text", header("Return-Path", foContains, ""), false},
        {"folded field", header("X-Note", foEquals, "first second part"), true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(spamWith(c.rule), c.spam) << c.name;
}

TEST_F(SpamDetectorTest, WalksTheRulesUntilOneMatches)
{
    rules.append(new TSimpleFilter{.Active = true, .Kind = fkSubject, .Operation = foContains,
                                   .Text = QStringLiteral("casino")});
    rules.append(new TSimpleFilter{.Active = true, .Kind = fkHeaderField, .Operation = foContains,
                                   .Text = QStringLiteral("nobody"), .HeaderField = QStringLiteral("From")});
    EXPECT_FALSE(detector.IsSpam(entry));
    rules.append(new TSimpleFilter{.Active = true, .Kind = fkHeaderField, .Operation = foContains,
                                   .Text = QStringLiteral("192.0.2.1"), .HeaderField = QStringLiteral("Received")});
    EXPECT_TRUE(detector.IsSpam(entry));
    EXPECT_TRUE(detector.IsSpam(&entry));
    EXPECT_FALSE(detector.IsSpam(nullptr));

    // No rule list at all: nothing is spam.
    settings.Filters = nullptr;
    EXPECT_FALSE(detector.IsSpam(entry));
}

// An exception ("never spam") is asked before any spam rule: one that matches keeps the message from
// being spam whatever spam rule matches; one that is inactive or does not match changes nothing.
TEST_F(SpamDetectorTest, AnAllowRuleThatMatchesBeatsEverySpamRule)
{
    const TSimpleFilter spam{.Active = true, .Kind = fkHeaderField, .Operation = foContains,
                             .Text = QStringLiteral("192.0.2.1"), .HeaderField = QStringLiteral("Received")};
    const QString sender = TSpamDetector::FieldValue(entry.Message.Headers, QStringLiteral("From"));
    ASSERT_FALSE(sender.isEmpty());
    struct Case {
        const char *name;
        TSimpleFilter allow;
        bool spam;
    };
    const Case cases[] = {
        {"sender's address", NeverSpamSenderFilter(sender.section(QLatin1Char('<'), 1).chopped(1)), false},
        {"subject", NewSubjectFilter(foBeginsWith, entry.Message.Subject.left(4), true), false},
        {"inactive", [&] {
             TSimpleFilter r = NeverSpamSenderFilter(sender);
             r.Active = false;
             return r;
         }(),
         true},
        {"another sender", NeverSpamSenderFilter(QStringLiteral("someone@else.example")), true},
        // The same fields as a spam rule would have: only the kind makes it an exception.
        {"spam rule's text as an exception",
         NewHeaderFieldFilter(QStringLiteral("Received"), foContains, QStringLiteral("192.0.2.1"), true), false},
    };
    for (const Case &c : cases) {
        FreeFilterList(rules);
        // The exception after the spam rule in the list: order does not matter, exceptions come first.
        rules.append(new TSimpleFilter(spam));
        rules.append(new TSimpleFilter(c.allow));
        EXPECT_EQ(detector.IsSpam(entry), c.spam) << c.name;
        EXPECT_EQ(detector.SpamRule(entry), c.spam ? rules.first() : nullptr) << c.name;
    }
    // Alone, an exception makes nothing spam.
    FreeFilterList(rules);
    rules.append(new TSimpleFilter(NeverSpamSenderFilter(sender)));
    EXPECT_FALSE(detector.IsSpam(entry));
}

TEST(SpamDetectorRules, EveryChangeOfTheRuleListCountsAtTheNextCall)
{
    // The rule store as the dialogs change it, and changes made to a rule in place.
    TestProfile profile;
    TRegistrySettings settings;
    TSpamDetector detector(settings.Settings);
    TMailEntry entry;
    ASSERT_TRUE(entry.Message.FillFromHeader("Received: from mx.spam.example\r\n"
                                             "From: a@b.example\r\n"
                                             "Subject: Cheap Watches\r\n\r\n"));
    EXPECT_FALSE(detector.IsSpam(entry)); // no rule list yet

    TSpamFilterClass store(settings);
    TFilterList other;
    other.append(
        new TSimpleFilter(NewHeaderFieldFilter(QStringLiteral("FROM"), foEndsWith, QStringLiteral("B.EXAMPLE"))));
    const auto first = [&]() -> TSimpleFilter & { return *store.Filters().first(); };
    struct Step {
        const char *name;
        std::function<void()> change;
        bool spam;
    };
    const Step steps[] = {
        {"empty list", [] {}, false},
        {"rule added", [&] { store.AddFilter(NewSubjectFilter(foContains, QStringLiteral("watch"))); }, true},
        {"made inactive in place", [&] { first().Active = false; }, false},
        {"active again", [&] { first().Active = true; }, true},
        {"text replaced in place", [&] { first().Text = QStringLiteral("clock"); }, false},
        {"text edited in place", [&] { first().Text.replace(QStringLiteral("clock"), QStringLiteral("CHEAP")); }, true},
        {"operation changed", [&] { first().Operation = foEndsWith; }, false},
        {"turned into a header-field rule", [&] {
             first().Kind = fkHeaderField;
             first().HeaderField = QStringLiteral("From");
             first().Text = QStringLiteral("b.example");
         }, true},
        {"field name changed", [&] { first().HeaderField = QStringLiteral("Reply-To"); }, false},
        {"field name now Received", [&] {
             first().HeaderField = QStringLiteral("Received");
             first().Text = QStringLiteral("spam.example");
         }, true},
        {"kind no rule has", [&] { first().Kind = 1; }, false},
        {"rule deleted", [&] { store.DeleteFilter(0); }, false},
        {"list replaced",
         [&] { store.ReplaceFilters({NewSubjectFilter(foEquals, QStringLiteral("cheap watches"))}); }, true},
        {"replaced by a rule of another operation",
         [&] { store.ReplaceFilters({NewSubjectFilter(foBeginsWith, QStringLiteral("watches"))}); }, false},
        {"saved, emptied", [&] {
             store.ReplaceFilters({NewSubjectFilter(foContainsWord, QStringLiteral("CHEAP"))});
             ASSERT_TRUE(store.SaveFilters());
             store.ClearFilters();
         }, false},
        {"loaded from the file", [&] { store.LoadFilters(); }, true},
        {"another list", [&] { settings.Settings.Filters = &other; }, true},
        {"no list", [&] { settings.Settings.Filters = nullptr; }, false},
        {"the store's list again", [&] { settings.Settings.Filters = &store.Filters(); }, true},
    };
    for (const Step &step : steps) {
        step.change();
        EXPECT_EQ(detector.IsSpam(entry), step.spam) << step.name;
        EXPECT_EQ(detector.IsSpam(entry), step.spam) << step.name << ", asked again";
    }
    FreeFilterList(other);
}

TEST(SpamDetectorRules, ATextBeginningWithALoneLowSurrogateIsJudgedByQtsSearch)
{
    // Qt finds such a text on the low half of a pair when it is one unit long, not when it is longer:
    // the detector gives the same answers.
    const QString low(QChar(0xDC00));
    const QString pair = QString(QChar(0xD801)) + low;
    struct Case {
        QString subject;
        QString text;
        bool spam;
    };
    const Case cases[] = {
        {pair, low, true},
        {pair + u'x', low + u'x', false},
        {pair + low + u'X', low + u'x', true},
    };
    TFilterList rules;
    TProgramSettings settings;
    settings.Filters = &rules;
    TSpamDetector detector(settings);
    for (const Case &c : cases) {
        FreeFilterList(rules);
        rules.append(new TSimpleFilter(NewSubjectFilter(foContains, c.text)));
        TMailEntry entry;
        entry.Message.Subject = c.subject;
        EXPECT_EQ(PosIgnoreCase(c.text, c.subject) > 0, c.spam);
        EXPECT_EQ(detector.IsSpam(entry), c.spam) << c.text.size() << " units in " << c.subject.size();
    }
    FreeFilterList(rules);
}

} // namespace
