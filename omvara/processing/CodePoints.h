// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringView>

namespace omvara::processing::codepoints {

// Walks a UTF-16 text by code points: a surrogate pair is one code point, a lone surrogate
// counts as a code point of its own (its unit value), so no text is ever cut inside a pair.

// The code point that starts at index i (i < text.size()) and the number of units it takes.
inline char32_t at(QStringView text, qsizetype i, int *units)
{
    const char16_t u = text[i].unicode();
    if (QChar::isHighSurrogate(u) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode())) {
        *units = 2;
        return QChar::surrogateToUcs4(u, text[i + 1].unicode());
    }
    *units = 1;
    return u;
}

inline bool hasSurrogates(QStringView text)
{
    for (QChar c : text) {
        if (c.isSurrogate())
            return true;
    }
    return false;
}

inline qsizetype count(QStringView text)
{
    if (!hasSurrogates(text))
        return text.size();
    qsizetype n = 0;
    for (qsizetype i = 0; i < text.size(); ++n) {
        int units = 1;
        at(text, i, &units);
        i += units;
    }
    return n;
}

// Index of the unit where code point number k (from 0) starts; text.size() when k >= count(text).
inline qsizetype offset(QStringView text, qsizetype k)
{
    if (!hasSurrogates(text))
        return k < text.size() ? k : text.size();
    qsizetype i = 0;
    for (qsizetype n = 0; n < k && i < text.size(); ++n) {
        int units = 1;
        at(text, i, &units);
        i += units;
    }
    return i;
}

} // namespace omvara::processing::codepoints
