// SPDX-License-Identifier: GPL-3.0-or-later
// Duplicate suppression: drops repeated readings.
#pragma once

#include "omvara/processing/DataLine.h"
#include "omvara/util/Decimal.h"

#include <optional>

namespace omvara::config {
class Config;
}

namespace omvara::processing {

// Suppresses repeated readings: a line whose value equals the previous value (or lies within
// the configured difference of it) and arrives within the configured time of it loses its
// value. The comparison is always with the immediately preceding line that had a value, so a
// reading that keeps drifting in small steps stays suppressed.
//
// One Ignorer serves one run, on the window's thread; the first value of a run is never
// suppressed.
class Ignorer
{
public:
    // timeLimit: the ignore-time-limit setting in milliseconds, 0 (no limit) when empty or not
    // an integer. difference: 0 for text instruments; otherwise the ignore-difference setting
    // read with a point as the mark, 0 when empty or not a number.
    explicit Ignorer(const config::Config &config);
    // timeLimit in milliseconds, 0 for none; difference 0 for exact text comparison.
    Ignorer(qint32 timeLimit, util::Decimal difference);

    // True when there is no time limit, or when the whole milliseconds from the previous line's
    // instant to this line's instant are at most the limit. Needs a previous line.
    bool inTime(const DataLine &line) const;
    // With difference 0: the two values are the same text, character for character. Otherwise
    // both values, commas read as points, are numbers whose distance is at most the difference;
    // a value that is not a number is never within it (the line is typed).
    // Needs a previous line.
    bool inTolerance(const DataLine &line) const;
    // Clears the line's value when it repeats the previous one; lines without a value are left
    // alone and are not remembered.
    void process(DataLine &line);

    const std::optional<DataLine> &getLastData() const { return m_lastData; }
    qint32 getTimeLimit() const { return m_timeLimit; }
    const util::Decimal &getDifference() const { return m_difference; }

private:
    std::optional<DataLine> m_lastData;
    qint32 m_timeLimit = 0;
    util::Decimal m_difference;
};

} // namespace omvara::processing
