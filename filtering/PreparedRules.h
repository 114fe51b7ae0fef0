#pragma once
// The spam and allow rules made ready for judging many messages: texts folded once, and the rules grouped
// by what they look at (the decoded subject, all Received lines joined, one named header field), each
// group with one automaton for all its texts, allow rules and spam rules alike. A message is then folded
// and scanned once per group, not once per rule; the verdicts are those of the operation table applied
// rule by rule.
#include "PatternSet.h"
#include "SpamFilterClassUnit.h"

#include <QHash>
#include <QString>

#include <cstdint>
#include <vector>

class MailMessage;

class TPreparedRules {
public:
    // Prepares the active spam and allow rules of the list; other entries take no part.
    explicit TPreparedRules(const TFilterList &rules);

    // Whether the list holds the rules this was prepared from: the same count and, rule by rule, the same
    // values of everything judging reads (Active, Kind, Operation, Text, HeaderField). Cheap: texts still
    // shared with the prepared copy are not compared character by character.
    bool IsPreparedFrom(const TFilterList &rules) const;

    // The index in the list of the first spam rule that matches the message, or -1; allow rules are not
    // asked. Keeps its working buffers between calls: one thread at a time.
    int FirstMatch(const MailMessage &msg) const;
    // The index of the first allow rule that matches, or -1.
    int FirstAllowMatch(const MailMessage &msg) const;
    // What makes the message spam: -1 when an allow rule matches (they are asked first) or no spam rule
    // does, else the index of the first spam rule that matches.
    int Verdict(const MailMessage &msg) const;

private:
    enum class Source : uint8_t { Subject, Received, Field };
    struct Target {
        Source From = Source::Subject;
        QString FoldedName; // of a Field
        TPatternSet Patterns;
    };
    struct Rule {
        int Index = 0;  // in the list
        int Target = 0;
        uint8_t Operation = 0;
        QString Folded; // the rule's text
        int TextPattern = -1; // the text, for foContains and foEndsWith
        int WordPattern = -1; // a blank and the text, for foContainsWord
        QString QtSearched; // the rule's text when Qt's search must judge it (see CaseFold.h)
    };
    // What judging reads of a list entry, kept to notice changes.
    struct Snapshot {
        bool Present = false;
        bool Active = false;
        uint8_t Kind = 0;
        uint8_t Operation = 0;
        QString Text;
        QString HeaderField;
    };
    // One target's text of the message being judged.
    struct Text {
        uint64_t Message = 0; // valid for this message
        QString Raw;
        QString Folded;
        std::vector<TPatternSet::Hit> Hits;
    };

    int targetFor(const TSimpleFilter &rule);
    const Text &textOf(int target, const MailMessage &msg) const;
    qsizetype fieldLine(int target, const MailMessage &msg) const;
    bool matches(const Rule &rule, const MailMessage &msg) const;
    // The index of the first of the rules that matches the message being judged, or -1.
    int firstOf(const std::vector<Rule> &rules, const MailMessage &msg) const;

    std::vector<Snapshot> m_source;
    std::vector<Rule> m_rules; // spam rules
    std::vector<Rule> m_allow; // allow rules
    std::vector<Target> m_targets;
    int m_subject = -1;
    int m_received = -1;
    QHash<QString, int> m_fields;    // targets by folded field name
    std::vector<int> m_fieldTargets; // those whose lines are looked for

    mutable uint64_t m_message = 0;
    mutable std::vector<Text> m_texts;
    mutable uint64_t m_linesLocatedFor = 0;
    mutable std::vector<qsizetype> m_fieldLines; // by target: the first line of that field, or -1
};
