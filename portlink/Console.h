// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>

namespace portlink {

// The serial layer's progress lines (library banner, load results, port-list
// hints, task creation). They go to standard output unless a sink is
// installed; tests install one to read the exact lines.
class Console
{
public:
    using Sink = std::function<void(const QString &line)>;

    // Writes one line (the line end is added). Any thread.
    static void println(const QString &line);
    // Replaces the destination; an empty function restores standard output.
    static void setSink(Sink sink);
};

} // namespace portlink
