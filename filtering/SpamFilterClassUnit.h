#pragma once
// The spam rules: one rule record, and the store that owns the rule list of the program settings and
// keeps it in "Filters.dat" in the data folder.
#include "TypeDef.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

class QIODevice;
class TRegistrySettings;

// What a rule looks at. Other values read from a file are kept but never evaluated or shown.
// The allow rules ("never spam") look at what the spam rule kind kAllowKindOffset below looks at; an
// active allow rule that matches keeps a message from being spam whatever spam rule matches. Their kinds
// are ones that versions without them skip, so those never take an allow rule for a spam rule.
enum TFilterKind : uint8_t { fkSubject = 0, fkHeaderField = 3, fkAllowSubject = 16, fkAllowHeaderField = 19 };
inline constexpr uint8_t kAllowKindOffset = 16;

inline bool IsSpamRuleKind(uint8_t kind)
{
    return kind == fkSubject || kind == fkHeaderField;
}
inline bool IsAllowRuleKind(uint8_t kind)
{
    return kind == fkAllowSubject || kind == fkAllowHeaderField;
}
// What a rule of this kind looks at: fkSubject or fkHeaderField for the spam and the allow kinds alike,
// any other kind as it is.
inline uint8_t RuleTarget(uint8_t kind)
{
    return IsAllowRuleKind(kind) ? uint8_t(kind - kAllowKindOffset) : kind;
}

// How a rule compares its text; any other value never matches.
enum TFilterOperation : uint8_t {
    foEquals = 0,
    foContains = 1,
    foContainsWord = 2,
    foBeginsWith = 3,
    foEndsWith = 4,
};

// One rule. A new rule is zero-filled; whoever creates one sets Active and the chosen fields.
struct TSimpleFilter {
    bool Active = false;
    uint8_t Kind = fkSubject;
    uint8_t Operation = foEquals;
    QString Text{};
    int32_t Reserved = 0;  // kept as read, never evaluated
    uint8_t Reserved2 = 0; // kept as read, never evaluated
    QString HeaderField{}; // name of the header field of a header-field rule
    bool CaseSensitive = false; // kept as read; matching ignores case whatever its value

    bool operator==(const TSimpleFilter &) const = default;
};

inline const QString kFilterSaveError = QStringLiteral(
    "Kann Filterdatei nicht speichern. Prüfen Sie die Rechte auf den Ordner oder geben Sie einen "
    "Datenordner mit Vollzugriff an.");

// Owns Settings.Filters of the settings store for its whole life.
class TSpamFilterClass {
public:
    explicit TSpamFilterClass(TRegistrySettings &settings);
    ~TSpamFilterClass();
    TSpamFilterClass(const TSpamFilterClass &) = delete;
    TSpamFilterClass &operator=(const TSpamFilterClass &) = delete;

    // Replaces the rules in memory by those of the filter file. A missing, unreadable or damaged file
    // gives the rules that could be read, possibly none; nothing is reported.
    void LoadFilters();
    // Writes all rules to the filter file. The file is replaced as a whole or not at all; where the
    // folder allows no new file but the file itself may be written, it is overwritten in place (its old
    // contents put back if that fails). On failure the user is told and the rules in memory stay as
    // they are. False on failure.
    bool SaveFilters();

    // The path of the filter file in the current data folder (the folder is created when missing).
    QString FilterFileName();

    TFilterList &Filters() { return *m_list; }
    const TFilterList &Filters() const { return *m_list; }
    // Appends a copy of the rule at the end of the list.
    void AddFilter(const TSimpleFilter &rule);
    // Frees the rule at that index and removes it; an index out of range changes nothing.
    void DeleteFilter(int index);
    // Frees all rules and refills the list with copies of the given ones, in their order.
    void ReplaceFilters(const QList<TSimpleFilter> &rules);
    // Frees all rules and empties the list.
    void ClearFilters();

    // The file format on its own (no file, no user): the parser reads records from the device's current
    // position to its end and appends every complete record to the list; the first damaged or
    // incomplete record ends reading.
    static void ReadFilterRecords(QIODevice &in, TFilterList &list);
    // The records of all rules in list order. False (and nothing useful in out) when a text is too long
    // for the format.
    static bool WriteFilterRecords(const TFilterList &list, QByteArray &out);

private:
    TRegistrySettings &m_settings;
    TFilterList *m_list;
};

// Frees the rules of a list that owns them and empties it.
void FreeFilterList(TFilterList &list);
