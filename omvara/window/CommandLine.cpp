// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/CommandLine.h"

#include "omvara/util/Version.h"

#include <algorithm>

namespace omvara {

namespace {

struct QtOption
{
    const char *name;
    bool takesValue;
};

// The options Qt 6 takes from argv (QGuiApplication, QApplication and the
// X11 platform), without their leading dash; each may also be written with
// two dashes.
const QtOption QtOptions[] = {
    { "platform", true },
    { "platformpluginpath", true },
    { "platformtheme", true },
    { "plugin", true },
    { "qwindowgeometry", true },
    { "qwindowtitle", true },
    { "qwindowicon", true },
    { "geometry", true },
    { "title", true },
    { "icon", true },
    { "display", true },
    { "name", true },
    { "visual", true },
    { "session", true },
    { "style", true },
    { "stylesheet", true },
    { "reverse", false },
    { "testability", false },
    { "widgetcount", false },
    { "nograb", false },
    { "dograb", false },
};
// Qt's options written as "-name=value".
const char *const QtOptionsWithEquals[] = { "style", "stylesheet", "qmljsdebugger" };

// The window's own option; its value follows it or comes after "=".
const QLatin1String PrefsFile("--prefs-file");

// The option's name without its one or two leading dashes.
QString bareName(const QString &argument)
{
    return argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
}

// How many arguments the option at `argument` spans (1, or 2 with its
// value), or 0 when the window does not know it.
int knownOption(const QString &argument)
{
    if (argument == PrefsFile)
        return 2;
    if (argument.startsWith(PrefsFile + QLatin1Char('=')))
        return 1;
    const QString name = bareName(argument);
    for (const QtOption &option : QtOptions)
        if (name == QLatin1String(option.name))
            return option.takesValue ? 2 : 1;
    for (const char *option : QtOptionsWithEquals)
        if (name.startsWith(QLatin1String(option) + QLatin1Char('=')))
            return 1;
    return 0;
}

bool isOption(const QString &argument)
{
    return argument.startsWith(QLatin1Char('-')) && argument.size() > 1 && argument != QLatin1String("--");
}

} // namespace

QString CommandLine::problem(const QStringList &arguments)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--"))
            return {};
        if (!isOption(argument))
            continue;
        const int span = knownOption(argument);
        if (span == 0)
            return util::unknownOptionText(argument);
        i += span - 1;
    }
    return {};
}

QString CommandLine::portArgument(const QStringList &arguments)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--"))
            return i + 1 < arguments.size() ? arguments.at(i + 1) : QString();
        if (isOption(argument)) {
            i += std::max(knownOption(argument), 1) - 1; // past its value
            continue;
        }
        // An empty first argument means: no port.
        return argument;
    }
    return {};
}

bool CommandLine::displayGiven(const QStringList &arguments, const QProcessEnvironment &environment)
{
    for (const char *variable : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        if (!environment.value(QLatin1String(variable)).isEmpty())
            return true;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--"))
            break;
        if (!isOption(argument))
            continue;
        const QString name = bareName(argument);
        if ((name == QLatin1String("platform") || name == QLatin1String("display"))
            && i + 1 < arguments.size())
            return true;
        i += std::max(knownOption(argument), 1) - 1; // past its value
    }
    return false;
}

} // namespace omvara
