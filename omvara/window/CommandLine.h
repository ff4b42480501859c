// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace omvara {

// The program's command line: options first ("--name", "--name=value", or
// "--name value" for the options that take a value), then an optional serial
// port name ("COM3", "/dev/ttyUSB0"), which is the first argument that is
// not an option. Anything after the port is ignored, as is "--" itself
// (after "--" the next argument is the port even when it starts with "-").
class CommandLine
{
public:
    // Options that take the following argument as their value when written
    // without "=".
    static QStringList optionsWithValue();

    // The port argument, or an empty text.
    static QString portArgument(const QStringList &arguments);
};

} // namespace omvara
