#pragma once
// Decides whether a message is spam by trying the user's rules against its header.
#include "SpamFilterClassUnit.h"
#include "TypeDef.h"

#include <QString>
#include <QStringList>

#include <memory>

class TPreparedRules;

// A header-field rule on exactly this name looks at all Received lines joined.
inline const QString kReceivedField = QStringLiteral("Received");

// 1-based position of the first occurrence of subText in text, ignoring case (Unicode), or 0.
// An empty subText never occurs, and nothing occurs in an empty text.
int PosIgnoreCase(const QString &subText, const QString &text);
// Removes spaces and control characters (everything up to the blank) from both ends.
QString TrimControls(QStringView text);

class TSpamDetector {
public:
    // Reads settings.Filters at every call, so the rule store may refill or change the list in between.
    explicit TSpamDetector(const TProgramSettings &settings);
    ~TSpamDetector();
    TSpamDetector(const TSpamDetector &) = delete;
    TSpamDetector &operator=(const TSpamDetector &) = delete;

    // True when an active spam rule (subject or header field) matches the entry's message and no active
    // allow rule does: allow rules are asked first.
    // The rules are prepared for fast matching once and kept while the list holds the same rules: every
    // call first compares the list with what was prepared (count, order, and each rule's Active, Kind,
    // Operation, Text and HeaderField) and prepares it anew when anything differs. A rule added or
    // removed, a list replaced or a rule changed in place therefore counts from the next call on; nobody
    // has to tell the detector. Main thread only (the prepared rules keep working buffers).
    bool IsSpam(const TMailEntry &entry) const;
    bool IsSpam(const TMailEntry *entry) const { return entry && IsSpam(*entry); }
    // The spam rule that makes the entry spam (the first one that matches), or null when it is no spam.
    // Valid until the rule list changes.
    const TSimpleFilter *SpamRule(const TMailEntry &entry) const;
    // The first active allow rule that matches the entry, or null.
    const TSimpleFilter *AllowRule(const TMailEntry &entry) const;

    // The operation table on its own, with PosIgnoreCase: does value match pattern under that operation
    // (case ignored)? The prepared rules give the same answers faster; they use this for a text that
    // begins with a lone low surrogate, where the answer of Qt's search depends on the lengths involved.
    static bool CompareText(uint8_t operation, const QString &value, const QString &pattern);

    // The functions below take header lines "Name: value" in their order, as MailMessage::Headers holds
    // them (unfolded); lines continued with a tab or a blank are understood as well.
    // All "Received" lines joined: each piece after one blank, tab-continued lines included, tabs
    // removed. Empty when the message has no Received line.
    static QString ReceivedText(const QStringList &headerLines);
    // The value of the first field of that name (case ignored), continuation lines unfolded, both ends
    // of each piece and of the whole trimmed. Empty when the field is missing.
    static QString FieldValue(const QStringList &headerLines, const QString &fieldName);
    // The same for the field on the line at that index.
    static QString FieldValueAt(const QStringList &headerLines, qsizetype index);

private:
    // The rules prepared from the list as it is now; null without a list.
    const TPreparedRules *prepared() const;

    const TProgramSettings &m_settings;
    mutable std::unique_ptr<TPreparedRules> m_prepared;
};
