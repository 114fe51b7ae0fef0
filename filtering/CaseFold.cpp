#include "CaseFold.h"

#include <QChar>

namespace casefold {

char16_t FoldWide(char16_t unit, char16_t previous)
{
    if (QChar::isLowSurrogate(unit) && QChar::isHighSurrogate(previous))
        return QChar::lowSurrogate(QChar::toCaseFolded(QChar::surrogateToUcs4(previous, unit)));
    // A lone surrogate has no case and folds to itself.
    return char16_t(QChar::toCaseFolded(char32_t(unit)));
}

} // namespace casefold

void FoldCase(QStringView text, QString &out)
{
    const qsizetype n = text.size();
    out.resize(n);
    const char16_t *src = text.utf16();
    char16_t *dst = reinterpret_cast<char16_t *>(out.data());
    char16_t previous = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t unit = src[i];
        dst[i] = casefold::FoldUnit(unit, previous);
        previous = unit;
    }
}

QString FoldCase(QStringView text)
{
    QString out;
    FoldCase(text, out);
    return out;
}

bool EqualsFolded(QStringView text, QStringView folded)
{
    if (text.size() != folded.size())
        return false;
    const char16_t *src = text.utf16();
    const char16_t *dst = folded.utf16();
    char16_t previous = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (casefold::FoldUnit(src[i], previous) != dst[i])
            return false;
        previous = src[i];
    }
    return true;
}
