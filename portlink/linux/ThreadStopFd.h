// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/util/Interruption.h"

#include <cstdint>
#include <stop_token>

#include <sys/eventfd.h>
#include <unistd.h>

namespace portlink {

// A descriptor that turns readable once the calling thread is interrupted
// (its stop token, util::Interruption), for waits in poll() that must end at
// once on Stop. Threads that cannot be interrupted (the event thread) get one
// that never turns readable. For the lifetime of one wait, on one thread.
class ThreadStopFd
{
public:
    ThreadStopFd()
        : m_fd { ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) }
        , m_callback(omvara::util::Interruption::current(), Wake { m_fd.fd })
    {
    }
    ThreadStopFd(const ThreadStopFd &) = delete;
    ThreadStopFd &operator=(const ThreadStopFd &) = delete;

    // -1 when no eventfd could be made: the wait then cannot be woken early.
    int fd() const { return m_fd.fd; }

private:
    // Closed after the callback is gone (members end in reverse order).
    struct Owned
    {
        int fd;
        ~Owned()
        {
            if (fd >= 0)
                ::close(fd);
        }
    };
    struct Wake
    {
        int fd;
        void operator()() const
        {
            const std::uint64_t one = 1;
            if (fd >= 0) [[maybe_unused]]
                const ssize_t n = ::write(fd, &one, sizeof one);
        }
    };

    Owned m_fd;
    std::stop_callback<Wake> m_callback;
};

} // namespace portlink
