// What the rule dialogs rely on without widgets: operation names, new rules, the duplicate tests, and the
// fields and texts a message offers for a rule.
#include "FilterRules.h"
#include "FilterTestPrinters.h"
#include "MailMessage.h"

#include <gtest/gtest.h>

namespace {

TEST(FilterRules, OperationNamesAndPhrases)
{
    EXPECT_EQ(FilterOperationChoices(false),
              (QStringList{QStringLiteral("gleich dem..."), QStringLiteral("enthält den..."),
                           QStringLiteral("enthält als Wort im..."), QStringLiteral("beginnt mit dem..."),
                           QStringLiteral("endet mit dem...")}));
    EXPECT_EQ(FilterOperationChoices(true).last(), QStringLiteral("endet mit dem"));
    EXPECT_EQ(FilterOperationChoices(true).first(), QStringLiteral("gleich dem..."));
    EXPECT_EQ(SubjectOperationText(foEquals), QStringLiteral("gleich dem Betreff"));
    EXPECT_EQ(SubjectOperationText(foContainsWord), QStringLiteral("enthält als Wort im Betreff"));
    EXPECT_EQ(HeaderOperationText(foEndsWith), QStringLiteral("endet mit dem Text"));
    // A value read from a file that no dialog offers shows no phrase at all.
    EXPECT_EQ(SubjectOperationText(5), QString());
    EXPECT_EQ(HeaderOperationText(-1), QString());
}

TEST(FilterRules, NewRulesAreZeroFilledAndActive)
{
    EXPECT_EQ(NewSubjectFilter(foBeginsWith, QStringLiteral("Casino")),
              (TSimpleFilter{.Active = true, .Kind = fkSubject, .Operation = foBeginsWith, .Text = QStringLiteral("Casino")}));
    EXPECT_EQ(NewHeaderFieldFilter(QStringLiteral("X-ClientAddr"), foContains, QStringLiteral("10.")),
              (TSimpleFilter{.Active = true,
                             .Kind = fkHeaderField,
                             .Operation = foContains,
                             .Text = QStringLiteral("10."),
                             .HeaderField = QStringLiteral("X-ClientAddr")}));
}

TEST(FilterRules, DuplicateTests)
{
    const TSimpleFilter casino = NewSubjectFilter(foContains, QStringLiteral("Casino"));
    const TSimpleFilter casinoEquals = NewSubjectFilter(foEquals, QStringLiteral("Casino"));
    const TSimpleFilter offer = NewHeaderFieldFilter(QStringLiteral("From"), foContains, QStringLiteral("Offer"));
    const QList<const TSimpleFilter *> subjects = {&casinoEquals, &casino};
    const QList<const TSimpleFilter *> headers = {&offer};

    struct Case {
        const char *name;
        bool duplicate;
        bool actual;
    };
    const Case cases[] = {
        {"same subject text in other case, same operation", true,
         IsDuplicateSubjectFilter(subjects, foContains, QStringLiteral("CASINO"))},
        {"same subject text, operation nobody has", false,
         IsDuplicateSubjectFilter(subjects, foBeginsWith, QStringLiteral("casino"))},
        {"other subject text", false, IsDuplicateSubjectFilter(subjects, foContains, QStringLiteral("Casinos"))},
        {"the copy is not the first rule with that text", true,
         IsDuplicateSubjectFilter(subjects, foContains, QStringLiteral("casino"))},
        {"empty list", false, IsDuplicateSubjectFilter({}, foEquals, QString())},
        {"header rule, field in other case", true,
         IsDuplicateHeaderFilter(headers, QStringLiteral("FROM"), foContains, QStringLiteral("Offer"))},
        {"header rule, text in other case", false,
         IsDuplicateHeaderFilter(headers, QStringLiteral("From"), foContains, QStringLiteral("offer"))},
        {"header rule, other operation", false,
         IsDuplicateHeaderFilter(headers, QStringLiteral("From"), foEquals, QStringLiteral("Offer"))},
        {"header rule, other field", false,
         IsDuplicateHeaderFilter(headers, QStringLiteral("To"), foContains, QStringLiteral("Offer"))},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.actual, c.duplicate) << c.name;
}

TEST(FilterRules, OneLineText)
{
    const struct {
        const char *in;
        const char *out;
    } cases[] = {
        {"Viagra", "Viagra"},
        {"two\r\nlines", "two lines"},
        {"a\n\n\r\nb\rc", "a b c"},
        {"\nedge\n", " edge "},
        {"  blanks\tand tabs stay ", "  blanks\tand tabs stay "},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(OneLineFilterText(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;
}

TEST(FilterRules, FieldNamesOfANewRuleAndOfAMessage)
{
    EXPECT_EQ(DefaultHeaderFieldNames(),
              (QStringList{QStringLiteral("Content-Transfer-Encoding"), QStringLiteral("Content-Type"),
                           QStringLiteral("From"), QStringLiteral("Organization"), QStringLiteral("Precedence"),
                           QStringLiteral("Received"), QStringLiteral("Return-Path"), QStringLiteral("Subject"),
                           QStringLiteral("To"), QStringLiteral("X-ClientAddr")}));

    const QStringList lines = {
        QStringLiteral("Received: from a (a.example [10.0.0.1])"),
        QStringLiteral("subject: klein"),
        QStringLiteral("Received: from b"),
        QStringLiteral("X-Odd:name: value"),   // the name ends at the first colon followed by a blank
        QStringLiteral("X-Packed:nospace"),    // no colon followed by a blank: no name
        QStringLiteral(": empty name"),
        QStringLiteral("Subject: gross"),      // already there in other case
        QStringLiteral("date: Mon, 1 Jan 2024 10:00:00 +0100"),
    };
    EXPECT_EQ(MessageHeaderFieldNames(lines),
              (QStringList{QStringLiteral("date"), QStringLiteral("Received"), QStringLiteral("subject"),
                           QStringLiteral("X-Odd:name")}));
    EXPECT_TRUE(MessageHeaderFieldNames({}).isEmpty());
}

TEST(FilterRules, ProposedTextsReadTheMessageAsTheDetectorDoes)
{
    MailMessage m;
    ASSERT_TRUE(m.FillFromHeader("Received: from one.example by mx\r\n"
                                 "\tid 1; Mon, 1 Jan 2024 10:00:00 +0100\r\n"
                                 "Received: from two.example\r\n"
                                 "Received: from three.example\r\n"
                                 "From: =?UTF-8?Q?J=C3=B6rg?= <joerg@example.org>\r\n"
                                 "X-Spam:   padded value   \r\n"
                                 "Subject: Hallo\r\n"));
    struct Case {
        const char *field;
        const char *text;
    };
    const Case cases[] = {
        {"Received", "  from one.example by mx id 1; Mon, 1 Jan 2024 10:00:00 +0100  from two.example  from three.example"},
        {"received", "from one.example by mx id 1; Mon, 1 Jan 2024 10:00:00 +0100"}, // not the exact name: first only
        {"From", "=?UTF-8?Q?J=C3=B6rg?= <joerg@example.org>"},                       // raw, not decoded
        {"x-spam", "padded value"},
        {"Organization", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ProposedHeaderFieldText(m.Headers, QString::fromLatin1(c.field)), QString::fromUtf8(c.text)) << c.field;
}

} // namespace
