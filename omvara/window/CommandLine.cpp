// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/CommandLine.h"

namespace omvara {

QStringList CommandLine::optionsWithValue()
{
    return {QStringLiteral("--prefs-file"), QStringLiteral("--export"), QStringLiteral("--import"),
            QStringLiteral("--keyboard")};
}

QString CommandLine::portArgument(const QStringList &arguments)
{
    const QStringList withValue = optionsWithValue();
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--"))
            return i + 1 < arguments.size() ? arguments.at(i + 1) : QString();
        if (argument.startsWith(QLatin1Char('-')) && argument.size() > 1) {
            if (withValue.contains(argument))
                ++i; // its value
            continue;
        }
        // An empty first argument means: no port.
        return argument;
    }
    return {};
}

} // namespace omvara
