// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/outputs/KeyboardTurns.h"

#include "omvara/util/Interruption.h"

namespace omvara::outputs {

quint64 KeyboardTurns::take()
{
    std::lock_guard lock(m_mutex);
    return m_next++;
}

bool KeyboardTurns::waitFor(quint64 ticket, const std::function<bool()> &giveUp)
{
    const std::stop_token token = util::Interruption::current();
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, token, [&] { return m_serving == ticket || giveUp(); });
    return m_serving == ticket && !token.stop_requested() && !giveUp();
}

void KeyboardTurns::done(quint64 ticket)
{
    {
        std::lock_guard lock(m_mutex);
        if (ticket != m_serving) {
            m_doneAhead.insert(ticket);
            return;
        }
        ++m_serving;
        while (!m_doneAhead.empty() && *m_doneAhead.begin() == m_serving) {
            m_doneAhead.erase(m_doneAhead.begin());
            ++m_serving;
        }
    }
    m_changed.notify_all();
}

void KeyboardTurns::wake()
{
    {
        std::lock_guard lock(m_mutex);
    }
    m_changed.notify_all();
}

} // namespace omvara::outputs
