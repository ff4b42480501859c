// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/CommandLine.h"

#include "omvara/config/Connections.h"
#include "omvara/modes/SettingsOverrides.h"
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

// The window's own options; each value follows it or comes after "=".
const QLatin1String PrefsFile("--prefs-file");
const QLatin1String Connection("--connection");
const QLatin1String Set("--set");
const QLatin1String OwnOptions[] = { PrefsFile, Connection, Set };

// The option's name without its one or two leading dashes.
QString bareName(const QString &argument)
{
    return argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
}

// How many arguments the option at `argument` spans (1, or 2 with its
// value), or 0 when the window does not know it.
int knownOption(const QString &argument)
{
    for (const QLatin1String &own : OwnOptions) {
        if (argument == own)
            return 2;
        if (argument.startsWith(own + QLatin1Char('=')))
            return 1;
    }
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

// Calls `visit(i, argument)` for each option before "--", stepping past
// the value of an option that takes one; true as soon as `visit` is.
template <typename Visit> bool anyOption(const QStringList &arguments, Visit visit)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--"))
            break;
        if (!isOption(argument))
            continue;
        if (visit(i, argument))
            return true;
        i += std::max(knownOption(argument), 1) - 1; // past its value
    }
    return false;
}

// The values of the window's option `name` in their order; `missing`: one
// is given without its value.
QStringList ownValues(const QStringList &arguments, QLatin1String name, bool *missing = nullptr)
{
    QStringList values;
    anyOption(arguments, [&](qsizetype i, const QString &argument) {
        if (argument == name) {
            if (i + 1 < arguments.size())
                values.append(arguments.at(i + 1));
            else if (missing)
                *missing = true;
        } else if (argument.startsWith(name + QLatin1Char('='))) {
            values.append(argument.mid(name.size() + 1));
        }
        return false;
    });
    return values;
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
    bool missing = false;
    const QStringList named = ownValues(arguments, Connection, &missing);
    if (missing)
        return QStringLiteral("--connection needs NAME=PORT");
    QStringList names;
    for (const QString &assignment : named) {
        const qsizetype eq = assignment.indexOf(u'=');
        if (eq <= 0 || eq + 1 == assignment.size())
            return QStringLiteral("--connection needs NAME=PORT, not \"%1\"").arg(assignment);
        const QString name = assignment.left(eq);
        if (const QString why = config::ConnectionName::problem(name); !why.isEmpty())
            return QStringLiteral("--connection \"%1\": %2").arg(assignment, why);
        if (names.contains(name))
            return QStringLiteral("--connection %1 is given twice").arg(name);
        names << name;
    }
    if (!named.isEmpty() && !portArgument(arguments).isEmpty())
        return QStringLiteral("give the port with --connection NAME=PORT, not as \"%1\"")
            .arg(portArgument(arguments));
    modes::SettingsOverrides overrides;
    for (const QString &assignment : ownValues(arguments, Set, &missing)) {
        QString why;
        if (!overrides.add(assignment, &why))
            return why;
    }
    if (missing)
        return QStringLiteral("--set needs KEY=VALUE");
    return {};
}

QList<QPair<QString, QString>> CommandLine::connections(const QStringList &arguments)
{
    QList<QPair<QString, QString>> named;
    for (const QString &assignment : ownValues(arguments, Connection)) {
        const qsizetype eq = assignment.indexOf(u'=');
        if (eq > 0)
            named.append({ assignment.left(eq), assignment.mid(eq + 1) });
    }
    return named;
}

QStringList CommandLine::settings(const QStringList &arguments)
{
    return ownValues(arguments, Set);
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
    return anyOption(arguments, [&](qsizetype i, const QString &argument) {
        const QString name = bareName(argument);
        return (name == QLatin1String("platform") || name == QLatin1String("display"))
            && i + 1 < arguments.size();
    });
}

} // namespace omvara
