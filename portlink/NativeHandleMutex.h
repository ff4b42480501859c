// SPDX-License-Identifier: GPL-3.0-or-later
// The one lock around opening, closing and configuring native ports.
#pragma once

#include <mutex>

namespace portlink {

// The one lock of the process around every native open, close and configure,
// so that no two ports are opened, closed or configured at the same time.
// Usable with std::lock_guard / std::unique_lock.
class NativeHandleMutex
{
public:
    // The single instance, created on first use; safe from any thread.
    static NativeHandleMutex &getInstance();

    void lock() { m_mutex.lock(); }
    void unlock() { m_mutex.unlock(); }
    bool try_lock() { return m_mutex.try_lock(); }

    NativeHandleMutex(const NativeHandleMutex &) = delete;
    NativeHandleMutex &operator=(const NativeHandleMutex &) = delete;

private:
    NativeHandleMutex() = default;
    std::mutex m_mutex;
};

} // namespace portlink
