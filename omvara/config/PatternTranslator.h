// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/config/PatternNamedClasses.h"
#include "omvara/config/PatternSets.h"
#include "omvara/config/PatternSyntax.h"

#include <QChar>
#include <QList>
#include <QString>

#include <optional>

// Internal to LinePattern: the rewrite of an accepted pattern into the
// engine's text. PatternTranslator.cpp holds the walk over the pattern,
// PatternTranslatorClasses.cpp the escapes and classes.
namespace omvara::config::rewrite {

struct Flags
{
    bool dotAll = false;
    bool multiLine = false;
    bool extended = false;
    bool caseless = false;
    bool unicodeCase = false;
    bool unixLines = false;
};

inline bool isAsciiSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\x0b' || c == u'\f' || c == u'\r';
}

// True when a case-insensitive match of `c` differs between folding ASCII
// letters only and folding every letter. Letters beyond ASCII count.
bool foldsBeyondAscii(char32_t c);

// Rewrites one pattern the dialect has accepted (PatternSyntax) so that the
// engine matches it as the dialect does; refuses (RefusedError) what has no
// exact equivalent.
class Translator
{
public:
    // `reading`: the dialect's reading of the whole pattern.
    Translator(const QString &pattern, const PatternSyntax::Reading &reading)
        : p(pattern)
        , n(pattern.size())
        , groups(reading.groups)
        , emptyRepeats(reading.emptyRepeats)
    {
    }

    QString run();

private:
    // One character-class member or escape read at `i`.
    struct Atom
    {
        std::optional<char32_t> code; // a single character
        std::optional<CharSet> set; // a class escape
        qsizetype end = 0;
        bool changed = false; // written differently for the engine
    };

    struct ClassResult
    {
        CharSet set;
        qsizetype end = 0;
        bool changed = false;
    };

    char32_t codeAt(qsizetype i, qsizetype *length) const;
    std::optional<Atom> escape(qsizetype i, bool inClass, const Flags &flags) const;
    static Atom escapedCode(qsizetype end, char32_t code, bool changed);
    Named lookup(qsizetype i, qsizetype *end) const;
    std::optional<ClassResult> parseClass(qsizetype i, const Flags &flags) const;
    qsizetype skipLayout(qsizetype i, const Flags &flags, bool *skipped) const;
    QString literal(char32_t code, const Flags &flags) const;
    bool quantifierAt(qsizetype i, const Flags &flags) const;

    const QString &p;
    const qsizetype n;
    const int groups;
    const QList<qsizetype> emptyRepeats;
    int groupsOpened = 0;
};

} // namespace omvara::config::rewrite
