// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/run/SettledReadings.h"

#include <limits>

namespace omvara::run {

SettledReadings::Verdict SettledReadings::take(const QString &value)
{
    if (m_seen > 0 && value == m_last) {
        if (m_seen < std::numeric_limits<int>::max())
            ++m_seen;
    } else {
        m_last = value;
        m_seen = 1;
        m_handedOn = false;
    }
    Verdict verdict;
    verdict.seen = m_seen;
    verdict.handedOnBefore = m_handedOn;
    if (!m_handedOn && m_seen >= m_needed) {
        m_handedOn = true;
        verdict.handOn = true;
    }
    return verdict;
}

} // namespace omvara::run
