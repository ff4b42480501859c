// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>

namespace portlink {

class StopSignal;

// How a wait for a descriptor to become readable ended.
enum class ReadableWait {
    Readable, // the descriptor has something (bytes, or a hang-up or error to read)
    Closing, // the close of its port has begun
    Stopped, // the stop signal was raised
    TimedOut,
    Failed // poll failed; the error number is given back
};

// Makes `closeEvent` readable (no-op for -1): a wait on the port ends at once.
void signalClose(int closeEvent);

// The wait of the descriptor-based native sides: sleeps in poll() on `fd`,
// `closeEvent` (readable once the port's close has begun; `closing` says so
// too) and the stop signal's descriptor, and wakes for nothing else. `ms`
// negative: no time limit. Where the stop signal or the close event has no
// descriptor they are looked at every `sliceMs` instead. `events` gets the
// descriptor's poll events when Readable, `error` the errno when Failed.
ReadableWait waitUntilReadable(int fd, int closeEvent, const std::atomic<bool> &closing, StopSignal *stop,
    int ms, int sliceMs, short *events, int *error);

} // namespace portlink
