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
