// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/StopSignal.h"

#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

namespace portlink {

StopSignal::StopSignal()
    : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

StopSignal::~StopSignal()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void StopSignal::raise()
{
    if (!m_raised.exchange(true) && m_fd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_fd, &one, sizeof one);
    }
    std::lock_guard lock(m_mutex);
    for (const auto &[id, wake] : m_wakes)
        wake();
}

StopSignal::Subscription::Subscription(StopSignal &signal, std::function<void()> wake)
    : m_signal(signal)
{
    std::lock_guard lock(signal.m_mutex);
    m_id = signal.m_nextId++;
    if (signal.raised())
        wake();
    signal.m_wakes.emplace_back(m_id, std::move(wake));
}

StopSignal::Subscription::~Subscription()
{
    std::lock_guard lock(m_signal.m_mutex);
    std::erase_if(m_signal.m_wakes, [this](const auto &entry) { return entry.first == m_id; });
}

} // namespace portlink
