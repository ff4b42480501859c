// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace omvara::config {

// The grammar of value patterns, read as stored settings and export files
// have always meant them (the java.util.regex dialect): the reader walks a
// pattern token by token as that dialect does, including its quirks (blanks
// and comments under (?x) also inside classes, "[" in a class always opening
// a nested class, "{" outside a count being refused), and finds the first
// construct the dialect refuses. It says nothing about meaning: LinePattern
// rewrites a pattern that passes.
class PatternSyntax
{
public:
    PatternSyntax() = delete;

    struct Problem
    {
        QString construct; // as written in the pattern (a part of it)
        QString reason; // what is wrong, without a final full stop
    };

    // What the rewrite needs to know of an accepted pattern.
    struct Reading
    {
        int groups = 0; // capturing groups
        // Positions of a "{" whose count repeats nothing: after another
        // quantifier ("a{2}{3}", "x*{2}") a count applies to an empty text.
        QList<qsizetype> emptyRepeats;
    };

    // The first construct the dialect refuses, or nothing for a pattern it
    // accepts; `reading` (when given) is filled in for an accepted pattern.
    static std::optional<Problem> check(const QString &pattern, Reading *reading = nullptr);
};

} // namespace omvara::config
