// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/config/Instrument.h"

#include <QByteArrayView>
#include <QRegularExpression>
#include <QString>

#include <stdexcept>

namespace omvara::config {
class Config;
}

namespace omvara::processing {

// Why a value could not be taken from a line, or why a pattern cannot be used
// at all. what() is the text shown after "Error [WW]: ".
class ExtractionError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The search of one line used up its processor-time budget. Unlike the other
// failures this one depends on the machine (a busy allocator, page faults),
// so the same line may pass another time.
class ExtractionTimeError : public ExtractionError
{
public:
    using ExtractionError::ExtractionError;
};

// Finds the value in a received line: the first match of the pattern,
// searching from the start of the line, and in it the instrument's capture
// group. The pattern is the custom one when that is not empty, else the
// instrument's; the group number always comes from the instrument. Matching
// follows config::LinePattern (case-sensitive, "^" only at the line start,
// "." never crosses a line terminator, ASCII "\s" and "\d").
//
// Compiled once per run; extract() keeps no state between lines. Use one
// extractor from one thread at a time (the reception thread of the run).
//
// A user's pattern can backtrack exponentially ("(a+)+b"), and even an
// ordinary one costs time quadratic in the line length when most positions
// of a long line almost match ("\s*[0-9]+" on a line of blanks). The work
// per line is bounded, so that reception never stalls on one line, while
// ordinary patterns that simply need many steps (skipping fields with
// "^(?:.*,){15}" on a long record) still find their value:
// - a line of at most ShortLine characters is first searched in one call,
//   every start position bounded by QuickStepLimit backtracking steps; a line
//   on which that gives up is searched again as a long line;
// - a long line is searched one start position at a time, each bounded by
//   MatchStepLimit steps (the order of the engine's own default), and the
//   search gives up once it has used MatchTimeBudgetMs of the thread's
//   processor time. The clock is read after every start position that took a
//   noticeable time, so the budget is overrun by at most one position's work.
// A pattern whose meaning depends on where the search started (\G,
// backtracking verbs) is always searched in one call with QuickStepLimit.
// A line whose search gives up fails with an error naming the pattern rather
// than yielding an empty value.
class ValueExtractor
{
public:
    static constexpr int MatchStepLimit = 10000000;
    static constexpr int QuickStepLimit = 100000;
    static constexpr int ShortLine = 128;
    static constexpr int MatchTimeBudgetMs = 250;

    // Throws ExtractionError when the pattern does not compile.
    ValueExtractor(const config::ConfigHelper::Instrument &instrument, const QString &customRegEx);
    // The instrument and custom pattern of `config`; GENERIC when no instrument is set.
    explicit ValueExtractor(const config::Config &config);

    // The value text of one line (terminator included, each character one
    // byte); "" when the pattern does not match. Throws ExtractionError when
    // the capture group does not exist in the pattern or did not take part
    // in the match, or when the engine gave up on the line.
    QString extract(const QString &line) const;
    // The same for raw bytes (each byte becomes the character of that code).
    QString extract(QByteArrayView bytes) const { return extract(QString::fromLatin1(bytes)); }

    const QString &patternText() const { return m_patternText; }
    int captureGroup() const { return m_group; }

    // The pattern text handed to the compiler: `pattern` with the step limit
    // after its own start-of-pattern settings (a lower limit of its own is kept).
    static QString withStepLimit(const QString &pattern, qint64 limit = MatchStepLimit);

private:
    QRegularExpressionMatch search(const QString &line) const;

    QRegularExpressionMatch stepwiseSearch(const QString &line) const;

    QString m_patternText;
    QRegularExpression m_regex; // MatchStepLimit
    QRegularExpression m_quick; // QuickStepLimit
    QRegularExpression m_anchored; // MatchStepLimit, matching only where the search starts
    int m_group;
    // False when the pattern's meaning depends on where the search started
    // (\G, backtracking verbs): such a pattern is always searched in one call.
    bool m_stepwise;
};

} // namespace omvara::processing
