// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

namespace omvara::modes {

// The program's main job without a window, a view of a run on the error
// output and the exit status:
//
//   omvara --headless [--print] [--set [NAME:]KEY=VALUE]... [--prefs-file PATH]
//          [PORT | --connection NAME=PORT...]
//   omvara --list-ports
//   omvara --detect
//   omvara --doctor [PORT]
//
// A headless run loads the stored settings, applies the replacements, opens
// the port and runs until SIGINT or SIGTERM (Stop), or until the device goes
// away. The event log goes to the error output with time stamps; each value
// goes to the keyboard output, or with --print to the standard output, one
// per line. Exit status: 0 after a stop, 1 when the port cannot be opened or
// the run ends by itself (device lost, failure), 2 for a bad command line or
// setting (before any port is opened) or a missing serial library.
// SIGUSR1 asks the instrument for a reading (the request command setting).
//
// With --connection, the named connections run at once, each on its port with
// its own settings; they share the keyboard (values typed whole, in the order
// they arrived), the record file and the broker. Each one ends alone (the
// others go on); the exit status is that of the last to end. SIGUSR1 asks
// every connection with a request command.
//
// Needs a QCoreApplication; runs its event loop.
class HeadlessRunner
{
public:
    // True when `arguments` (without the program name) ask for one of the commands above.
    static bool wants(const QStringList &arguments);
    // Runs the command; returns the exit status.
    static int run(const QStringList &arguments);

    static QString help();
};

} // namespace omvara::modes
