// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace omvara {

// The command line of the program with its window, as main hands it over:
// the options of the other modules are already taken out (the keyboard
// output's take their own, see outputs::keys::KeyInjectors). What is left:
// - Qt's own options ("-platform NAME", "-display NAME", "-style NAME",
//   "-session ID" from session restore, ...; also written with "--"), which
//   QApplication takes from argv;
// - "--prefs-file PATH" (or "--prefs-file=PATH");
// - an optional serial port name ("COM3", "/dev/ttyUSB0"): the first
//   argument that is not an option or an option's value. Further names are
//   ignored. After "--" the next argument is the port even when it starts
//   with "-".
class CommandLine
{
public:
    // What is wrong with `arguments` for the window, as the program states it
    // (`unknown option "--bogus"`), or an empty text.
    static QString problem(const QStringList &arguments);

    // The port argument, or an empty text.
    static QString portArgument(const QStringList &arguments);

    // True when the window has somewhere to appear: DISPLAY, WAYLAND_DISPLAY
    // or QT_QPA_PLATFORM (offscreen, for example) in `environment`, or
    // -platform or -display on the command line.
    static bool displayGiven(const QStringList &arguments, const QProcessEnvironment &environment);
};

} // namespace omvara
