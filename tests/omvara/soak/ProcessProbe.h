// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

#include <sys/types.h>

namespace omvara::soak {

// What a running process holds, from /proc.
struct ProcessSample
{
    long rssKiB = 0; // resident memory now (VmRSS)
    long peakKiB = 0; // the most it was resident (VmHWM)
    int threads = 0; // entries of /proc/PID/task
    int fds = 0; // open file descriptors, entries of /proc/PID/fd
};

// Nothing when the process is gone (or cannot be read).
std::optional<ProcessSample> sampleProcess(pid_t pid);

// The one-letter state of /proc/PID/stat ('R', 'S', 'T' for stopped, ...), or 0.
char processState(pid_t pid);

} // namespace omvara::soak
