// SPDX-License-Identifier: GPL-3.0-or-later
// The order in which several keyboard outputs type on one keyboard.
#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>

namespace omvara::outputs {

// Turns on one keyboard shared by several keyboard outputs (one per
// connection): each value takes a ticket when it is handed to its output, and
// is typed only when its ticket is served, so values are typed whole, one
// after the other, in the order they were handed on, whichever output took
// them. Every ticket taken must be done() exactly once, typed or not, or the
// later ones wait for ever. Any thread.
class KeyboardTurns
{
public:
    // The next ticket (from 1).
    quint64 take();
    // Waits until `ticket` is served; false when `giveUp` turned true or the
    // calling thread was interrupted first (util::Interruption). `giveUp` is
    // asked again after every done() and wake().
    bool waitFor(quint64 ticket, const std::function<bool()> &giveUp);
    // The value of `ticket` has been typed, or will not be.
    void done(quint64 ticket);
    // Has the waiters ask their `giveUp` again.
    void wake();

private:
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    quint64 m_next = 1;
    quint64 m_serving = 1;
    std::set<quint64> m_doneAhead; // done before their turn came
};

} // namespace omvara::outputs
