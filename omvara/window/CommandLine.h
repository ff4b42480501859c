// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QPair>
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
// - "--connection NAME=PORT" (repeated): connection NAME is on PORT for this
//   run, a name not stored yet starting from a copy of the first
//   connection's settings; "--set KEY=VALUE" and "--set NAME:KEY=VALUE"
//   (repeated): a setting of every connection, or of NAME only, for this
//   run. Each also written "--option=VALUE";
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
    // The --connection options (name, port) in their order, and the values of --set.
    static QList<QPair<QString, QString>> connections(const QStringList &arguments);
    static QStringList settings(const QStringList &arguments);

    // True when the window has somewhere to appear: DISPLAY, WAYLAND_DISPLAY
    // or QT_QPA_PLATFORM (offscreen, for example) in `environment`, or
    // -platform or -display on the command line.
    static bool displayGiven(const QStringList &arguments, const QProcessEnvironment &environment);
};

} // namespace omvara
