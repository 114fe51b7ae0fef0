#pragma once
// Decides whether a message is spam by trying the user's rules against its header.
#include "SpamFilterClassUnit.h"
#include "TypeDef.h"

#include <QString>
#include <QStringList>

// 1-based position of the first occurrence of subText in text, ignoring case (Unicode), or 0.
// An empty subText never occurs, and nothing occurs in an empty text.
int PosIgnoreCase(const QString &subText, const QString &text);
// Removes spaces and control characters (everything up to the blank) from both ends.
QString TrimControls(QStringView text);

class TSpamDetector {
public:
    // Reads settings.Filters at every call, so the rule store may refill the list in between.
    explicit TSpamDetector(const TProgramSettings &settings);

    // True when an active subject or header-field rule matches the entry's message.
    bool IsSpam(const TMailEntry &entry) const;
    bool IsSpam(const TMailEntry *entry) const { return entry && IsSpam(*entry); }

    // The rule tests on their own.
    static bool TestSubject(const TSimpleFilter &rule, const MailMessage &msg);
    static bool TestHeaderField(const TSimpleFilter &rule, const MailMessage &msg);
    static bool TestHeaderField(const TSimpleFilter &rule, const QStringList &headerLines);
    // The operation table: does value match pattern under that operation (case ignored)?
    static bool CompareText(uint8_t operation, const QString &value, const QString &pattern);

    // The functions below take header lines "Name: value" in their order, as MailMessage::Headers holds
    // them (unfolded); lines continued with a tab or a blank are understood as well.
    // All "Received" lines joined: each piece after one blank, tab-continued lines included, tabs
    // removed. Empty when the message has no Received line.
    static QString ReceivedText(const QStringList &headerLines);
    // The value of the first field of that name (case ignored), continuation lines unfolded, both ends
    // of each piece and of the whole trimmed. Empty when the field is missing.
    static QString FieldValue(const QStringList &headerLines, const QString &fieldName);

private:
    const TProgramSettings &m_settings;
};
