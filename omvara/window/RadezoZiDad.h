// SPDX-License-Identifier: GPL-3.0-or-later
// The program with its window.
#pragma once

#include <QStringList>

namespace omvara {

// The program with its window: fixes the process-wide settings (English
// locale, the version and platform properties), then builds the main window
// on the event thread and runs until the window is closed.
class RadezoZiDad
{
public:
    // Runs the program with its window; returns its exit status. `arguments`
    // are the command-line arguments without the program name, after the
    // keyboard output took its options out (argv keeps everything, for Qt).
    // Refuses, with status 2 and one line on the error output before
    // anything opens, an option the window does not know (CommandLine) and
    // a missing or unreachable display.
    static int main(int &argc, char **argv, const QStringList &arguments);
};

} // namespace omvara
