// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdio>
#include <mutex>

namespace omvara::headless {

// Where the headless runner sends each processed value: typed on the keyboard
// or printed. start() comes before the first value, stop() when the run ends
// (values still queued may then be dropped, as Stop does in the window).
// put() is called on the event thread with non-empty values only.
class ValueOutput
{
public:
    virtual ~ValueOutput() = default;
    virtual void start() { }
    virtual void put(const QString &value) = 0;
    virtual void stop() { }
};

// Prints each value on its own line, flushed at once, exactly as it would
// have been typed (start and terminator keys are not printed).
class PrintOutput : public ValueOutput
{
public:
    explicit PrintOutput(std::FILE *out = stdout) : m_out(out) { }
    void put(const QString &value) override;

private:
    std::FILE *m_out;
};

} // namespace omvara::headless
