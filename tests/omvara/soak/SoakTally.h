// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace omvara::soak {

// Accounts for the values of a counting run (records 1, 2, 3, ... each
// printed as its number): which arrived, which twice, which after a later one.
class SequenceTally
{
public:
    // One printed line (without its line end).
    void take(std::string_view line);

    // Lines taken, and lines that were not a positive whole number.
    std::int64_t lines() const { return m_lines; }
    std::int64_t garbled() const { return m_garbled; }
    // Values that had arrived before.
    std::int64_t duplicated() const { return m_duplicated; }
    // First arrivals of a value below the highest one seen before it.
    std::int64_t outOfOrder() const { return m_outOfOrder; }
    // The highest value seen (0 before the first).
    std::int64_t highest() const { return m_highest; }
    // 1..n all arrived: the largest such n.
    std::int64_t complete() const { return m_complete; }
    // Values of 1..upTo that never arrived.
    std::int64_t missing(std::int64_t upTo) const;

private:
    std::vector<bool> m_seen; // index = value
    std::int64_t m_lines = 0;
    std::int64_t m_garbled = 0;
    std::int64_t m_duplicated = 0;
    std::int64_t m_outOfOrder = 0;
    std::int64_t m_highest = 0;
    std::int64_t m_complete = 0;
    std::int64_t m_distinct = 0;
};

} // namespace omvara::soak
