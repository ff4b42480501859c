// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/worker/keys/KeyInjectors.h"

#include "omvara/util/ProcessProperties.h"
#include "omvara/worker/keys/uinput/UinputKeyInjector.h"
#include "omvara/worker/keys/x11/X11KeyInjector.h"

namespace omvara::worker::keys {

QStringList KeyInjectors::choices()
{
    return {QStringLiteral("auto"), QStringLiteral("x11"), QStringLiteral("uinput")};
}

QStringList KeyInjectors::backendOrder()
{
    const bool wayland = qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (wayland)
        return {QStringLiteral("uinput"), QStringLiteral("x11")};
    return {QStringLiteral("x11"), QStringLiteral("uinput")};
}

bool KeyInjectors::takeCommandLineOption(QStringList &arguments, QString *error)
{
    const QString option = QStringLiteral("--keyboard");
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString name;
        if (arguments[i] == option) {
            if (i + 1 >= arguments.size()) {
                *error = QStringLiteral("--keyboard needs one of: %1").arg(choices().join(QStringLiteral(", ")));
                return false;
            }
            name = arguments[i + 1];
            arguments.remove(i, 2);
        } else if (arguments[i].startsWith(option + QLatin1Char('='))) {
            name = arguments[i].mid(option.size() + 1);
            arguments.remove(i);
        } else {
            continue;
        }
        name = name.trimmed().toLower();
        if (!choices().contains(name)) {
            *error = QStringLiteral("unknown keyboard output \"%1\"; choose one of: %2")
                         .arg(name, choices().join(QStringLiteral(", ")));
            return false;
        }
        util::ProcessProperties::set(propertyName(), name);
        --i;
    }
    return true;
}

QString KeyInjectors::commandLineHelp()
{
    return QStringLiteral("  --keyboard=NAME    how keys are typed: auto (default), x11 or uinput;\n"
                          "                     the environment variable OMVARA_KEYBOARD does the same\n");
}

std::unique_ptr<KeyInjector> KeyInjectors::open(const QString &backend)
{
    if (backend == QLatin1String("x11"))
        return openX11KeyInjector();
    if (backend == QLatin1String("uinput"))
        return openUinputKeyInjector();
    throw KeyboardUnavailableError(QStringLiteral("Unknown keyboard output \"%1\"; choose one of: %2")
                                       .arg(backend, choices().join(QStringLiteral(", "))));
}

std::unique_ptr<KeyInjector> KeyInjectors::create(const QString &choice)
{
    QString name = choice.isEmpty() ? util::ProcessProperties::get(propertyName()) : choice;
    name = name.trimmed().toLower();
    if (!name.isEmpty() && name != QLatin1String("auto"))
        return open(name);

    QStringList reasons;
    for (const QString &backend : backendOrder()) {
        try {
            return open(backend);
        } catch (const KeyboardUnavailableError &e) {
            reasons << e.text();
        }
    }
    throw KeyboardUnavailableError(QStringLiteral("No keyboard output could be started. %1")
                                       .arg(reasons.join(QLatin1Char(' '))));
}

} // namespace omvara::worker::keys
