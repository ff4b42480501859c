// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/run/OutputKind.h"
#include "omvara/run/RunLine.h"

#include <QString>

namespace omvara::run {

// One output of a run's values: the keyboard, the standard output, the
// confirmation sound. The run hands each value to every output in turn, and
// tells every output each line's final status, in the order of the lines.
//
// Threads: start(), stop(), finish(), abort() and join() on the event thread;
// put() on the thread that hands values on (the reading thread), after
// start() and possibly still after stop(), so stop() must leave put() safe to
// call. flush() on the thread that calls put(). lineSettled() on any thread,
// one call at a time. put(), flush() and lineSettled() must not wait for
// long: the next line waits behind them.
class ValueSink
{
public:
    virtual ~ValueSink() = default;

    // Which output this is (its name in the run's state: outputName()).
    virtual OutputKind kind() const = 0;
    // What stands behind it, for the state and the log ("x11"); may be empty.
    virtual QString detail() const { return {}; }
    // Before the first value.
    virtual void start() { }
    // One value to deliver: `line.value` is not empty; its status is pending.
    virtual void put(const RunLine &line) { }
    // The end of a batch of put() values (a burst of bytes from the port):
    // an output that gathers values delivers all it holds before it returns,
    // so that no value waits for the next one.
    virtual void flush() { }
    // What became of a line (every line of the run, whole or not, with or
    // without a value), once that is known.
    virtual void lineSettled(const RunLine &line) { }
    // Stop: what is being delivered is finished, what waits is dropped (and
    // reported). Returns at once.
    virtual void stop() { }
    // The run ended by itself: what waits is still delivered. Returns at once.
    virtual void finish() { stop(); }
    // Stop at once: also what is being delivered is cut off (a second Stop,
    // the end of the program). Returns at once.
    virtual void abort() { stop(); }
    // Waits until the output has ended (after stop() or finish()).
    virtual void join() { }
};

} // namespace omvara::run
