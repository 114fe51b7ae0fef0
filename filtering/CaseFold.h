#pragma once
// Case-blind text folded once, so that plain comparisons of folded texts say what Qt's case-blind
// comparison (Qt::CaseInsensitive) says of the originals.
//
// Qt compares case-blind one UTF-16 unit at a time: every unit folded on its own by the simple case
// folding, a low surrogate together with the high surrogate in front of it. A folded text therefore keeps
// its length ("ß" stays "ß" and never equals "ss"), and positions in it are positions in the original.
// Folding a high surrogate leaves it as it is; a folded pair keeps its high surrogate, so a pair folds to
// a pair.
//
// A plain search in folded text finds what Qt's case-blind search finds, except for a pattern that begins
// with a lone low surrogate: Qt may or may not find that on the low half of a pair, depending on the
// lengths of pattern and text. Leave such patterns to Qt's search.
#include <QString>
#include <QStringView>

namespace casefold {

// The fold of a unit outside ASCII; previous is the unit in front of it in the original text (0 at the
// start).
char16_t FoldWide(char16_t unit, char16_t previous);

inline char16_t FoldUnit(char16_t unit, char16_t previous)
{
    if (unit < 0x80)
        return unit >= u'A' && unit <= u'Z' ? char16_t(unit + 0x20) : unit;
    return FoldWide(unit, previous);
}

} // namespace casefold

// Writes the folded text into out (its storage is reused).
void FoldCase(QStringView text, QString &out);
QString FoldCase(QStringView text);

// Whether text, folded, equals the already folded text: Qt's case-blind equality of text and the
// original of folded.
bool EqualsFolded(QStringView text, QStringView folded);
