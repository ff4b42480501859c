// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace omvara::run {

// The settled-readings filter: a value is handed on only once the same value
// has arrived `needed` times in a row, and only once for that run of equal
// values (another value must come between two hand-overs). Values are
// compared as texts ("12.30" and "12.3" differ). Only values count: lines
// without one never reach the filter, so they neither count nor break a run.
//
// One thread (the reading thread); lives for one run.
class SettledReadings
{
public:
    explicit SettledReadings(int needed)
        : m_needed(needed)
    {
    }

    struct Verdict
    {
        bool handOn = false;
        int seen = 0; // equal values in a row, this one included
        bool handedOnBefore = false; // held because this run of values was handed on already
    };
    // `value`: a processed value, not empty.
    Verdict take(const QString &value);

    int needed() const { return m_needed; }

private:
    int m_needed;
    QString m_last;
    int m_seen = 0;
    bool m_handedOn = false;
};

} // namespace omvara::run
