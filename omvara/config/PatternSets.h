// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <utility>
#include <vector>

// Internal to the pattern rewrite (LinePattern): sets of characters, as code
// point ranges and as the engine text that matches one of their members.
namespace omvara::config::rewrite {

constexpr char32_t MaxCode = 0x10FFFF;
// Any character at all.
extern const QString AnyCharacter;

// A code point as the engine's "\x{...}".
QString codeEscape(char32_t c);
// A code point as a member of a character class: letters and digits as they
// are, everything else as \x{...}, so that no member is read as syntax.
QString classMember(char32_t c);

// Inclusive ranges of code points.
using Ranges = std::vector<std::pair<char32_t, char32_t>>;

// Every code point outside `r` (the surrogates excepted).
Ranges complement(const Ranges &r);
// The ranges as members of a class.
QString rangesFragment(const Ranges &r);

// A set of characters in the form the engine matches it: the members of a
// class (as written between its brackets, possibly negated), or a group that
// matches exactly one character of the set.
struct CharSet
{
    QString members; // of a class; "" with `negated` false is the empty set
    bool negated = false;
    QString group; // when not empty: the set is this group, `members` unused

    static CharSet of(QString members, bool negated = false) { return { std::move(members), negated, {} }; }
    static CharSet ofGroup(QString group) { return { {}, false, std::move(group) }; }
    static CharSet ofRanges(const Ranges &r) { return of(rangesFragment(r)); }
};

// The text that matches one character of `s`.
QString single(const CharSet &s);
CharSet unite(const std::vector<CharSet> &sets);
// The engine has no class intersection: a character of A && B && C is
// "looking at one of B, looking at one of C, then one of A".
CharSet intersect(const std::vector<CharSet> &sets);
CharSet negate(CharSet s);

} // namespace omvara::config::rewrite
