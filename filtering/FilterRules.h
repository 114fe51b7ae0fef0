#pragma once
// What the rule dialogs need of the rules without any widget: the operation names as the dialogs show
// them, new rules, the duplicate tests of the editor, and the header fields and texts a message offers
// when a rule is made from it.
#include "SpamFilterClassUnit.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

// "gleich dem", "enthält den", "enthält als Wort im", "beginnt mit dem", "endet mit dem"; empty for an
// operation the dialogs do not know.
QString FilterOperationName(int operation);
inline constexpr int kFilterOperationCount = 5;

// The entries of an operation list: every name followed by "...", except the last one when
// lastWithoutDots is set.
QStringList FilterOperationChoices(bool lastWithoutDots);

// The operation phrase of a rule's row: the name, a blank and "Betreff" (subject rules) or "Text"
// (header-field rules). Empty for an unknown operation.
QString SubjectOperationText(int operation);
QString HeaderOperationText(int operation);

// A rule as the filter editor shows it in its row: the operation phrase and the text in quotes, after
// the field name for a header-field rule. For spam and allow rules alike.
QString FilterRuleText(const TSimpleFilter &rule);

// Zero-filled rules with Active set, as the dialogs create them; with allow, the allow rule of the kind.
TSimpleFilter NewSubjectFilter(int operation, const QString &text, bool allow = false);
TSimpleFilter NewHeaderFieldFilter(const QString &field, int operation, const QString &text, bool allow = false);
// "Absender nie als Spam": the allow rule on the field From that contains the address.
TSimpleFilter NeverSpamSenderFilter(const QString &address);
// The same rule as far as judging goes: kind, operation, text and (for header-field kinds) field name.
bool IsSameRule(const TSimpleFilter &a, const TSimpleFilter &b);

// Whether the editor refuses a new rule as a copy of one it lists: a subject rule with the same text
// (case ignored) and operation; a header-field rule with the same field name (case ignored), operation
// and text (case kept). Every listed rule counts, not only the first one with that text or name.
bool IsDuplicateSubjectFilter(const QList<const TSimpleFilter *> &rules, int operation, const QString &text);
bool IsDuplicateHeaderFilter(const QList<const TSimpleFilter *> &rules, const QString &field, int operation,
                             const QString &text);

// A text as a one-line field holds it: every run of line breaks turned into one blank, as a header
// value is unfolded; nothing else changes.
QString OneLineFilterText(QStringView text);

// The field names the header-field dialog offers for a new rule, sorted.
QStringList DefaultHeaderFieldNames();
// The field names of a message's header lines: for every line holding a colon followed by a blank, the
// text before that pair; empty names skipped; each name once (case ignored, first spelling kept); sorted.
QStringList MessageHeaderFieldNames(const QStringList &headerLines);
// The text proposed for a field of a message, as the detector reads it: all Received lines joined for
// "Received" (exactly that spelling), otherwise the first field of that name unfolded and trimmed.
// Empty when the message lacks the field.
QString ProposedHeaderFieldText(const QStringList &headerLines, const QString &field);
// Alphabetical, case ignored (ties by code, so the order is the same everywhere).
void SortFieldNames(QStringList &names);
