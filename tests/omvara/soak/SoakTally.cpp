// SPDX-License-Identifier: GPL-3.0-or-later
#include "SoakTally.h"

#include <charconv>

namespace omvara::soak {

namespace {

// Far above any run; a garbled line must not make the tally allocate gigabytes.
constexpr std::int64_t LargestValue = 100'000'000;

} // namespace

void SequenceTally::take(std::string_view line)
{
    ++m_lines;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), value);
    if (error != std::errc() || end != line.data() + line.size() || value < 1 || value > LargestValue) {
        ++m_garbled;
        return;
    }
    if (std::size_t(value) >= m_seen.size())
        m_seen.resize(std::max<std::size_t>(std::size_t(value) + 1, m_seen.size() * 2), false);
    if (m_seen[std::size_t(value)]) {
        ++m_duplicated;
        return;
    }
    m_seen[std::size_t(value)] = true;
    ++m_distinct;
    if (value < m_highest)
        ++m_outOfOrder;
    else
        m_highest = value;
    while (std::size_t(m_complete + 1) < m_seen.size() && m_seen[std::size_t(m_complete + 1)])
        ++m_complete;
}

std::int64_t SequenceTally::missing(std::int64_t upTo) const
{
    std::int64_t arrived = 0;
    for (std::int64_t v = 1; v <= upTo && std::size_t(v) < m_seen.size(); ++v)
        arrived += m_seen[std::size_t(v)] ? 1 : 0;
    return upTo - arrived;
}

} // namespace omvara::soak
