// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/outputs/keys/KeyInjectors.h"

#include "omvara/outputs/keys/LayoutKeymap.h"
#include "omvara/outputs/keys/SessionLayout.h"
#include "omvara/outputs/keys/kwin/KwinKeyInjector.h"
#include "omvara/outputs/keys/portal/PortalKeyInjector.h"
#include "omvara/outputs/keys/uinput/UinputKeyInjector.h"
#include "omvara/outputs/keys/virtualkeyboard/VirtualKeyboardKeyInjector.h"
#include "omvara/outputs/keys/x11/X11KeyInjector.h"
#include "omvara/util/ProcessProperties.h"

#include <functional>
#include <optional>

namespace omvara::outputs::keys {

QStringList KeyInjectors::choices()
{
    return { QStringLiteral("auto"), QStringLiteral("x11"), QStringLiteral("uinput"),
        QStringLiteral("virtual-keyboard"), QStringLiteral("kwin"), QStringLiteral("portal") };
}

bool KeyInjectors::waylandSession()
{
    return qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

QStringList KeyInjectors::backendOrder()
{
    // Keys sent through X11 in a Wayland session reach only the X11
    // programs: X11 is never taken there unless the user names it.
    if (waylandSession())
        return { QStringLiteral("virtual-keyboard"), QStringLiteral("kwin"), QStringLiteral("uinput"),
            QStringLiteral("portal") };
    return { QStringLiteral("x11"), QStringLiteral("uinput") };
}

namespace {

// Takes every `option`=VALUE (or `option` VALUE) out of `arguments`, handing
// each VALUE to `take`, which returns an error text or nothing.
bool takeOption(QStringList &arguments, const QString &option, const QString &missing,
    const std::function<QString(const QString &)> &take, QString *error)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString value;
        if (arguments[i] == option) {
            if (i + 1 >= arguments.size()) {
                *error = missing;
                return false;
            }
            value = arguments[i + 1];
            arguments.remove(i, 2);
        } else if (arguments[i].startsWith(option + QLatin1Char('='))) {
            value = arguments[i].mid(option.size() + 1);
            arguments.remove(i);
        } else {
            continue;
        }
        *error = take(value);
        if (!error->isEmpty())
            return false;
        --i;
    }
    return true;
}

} // namespace

bool KeyInjectors::takeCommandLineOption(QStringList &arguments, QString *error)
{
    const QString choiceList = choices().join(QStringLiteral(", "));
    const bool backend = takeOption(
        arguments, QStringLiteral("--keyboard"),
        QStringLiteral("--keyboard needs one of: %1").arg(choiceList),
        [&](const QString &value) {
            const QString name = value.trimmed().toLower();
            if (!choices().contains(name))
                return QStringLiteral("unknown keyboard output \"%1\"; choose one of: %2")
                    .arg(name, choiceList);
            util::ProcessProperties::set(propertyName(), name);
            return QString();
        },
        error);
    if (!backend)
        return false;
    return takeOption(
        arguments, QStringLiteral("--keyboard-layout"),
        QStringLiteral("--keyboard-layout needs a layout such as de or us(dvorak)"),
        [](const QString &value) {
            const std::optional<SessionLayout> layout = SessionLayout::parse(value);
            if (!layout)
                return QStringLiteral(
                    "the keyboard layout \"%1\" is not of the form LAYOUT or LAYOUT(VARIANT),"
                    " such as de or us(dvorak)")
                    .arg(value);
            if (!LayoutKeymap::compile(layout->layout, layout->variant, layout->name()))
                return QStringLiteral("the keyboard layout \"%1\" is not known to this system").arg(value);
            util::ProcessProperties::set(SessionLayout::propertyName(), layout->name());
            return QString();
        },
        error);
}

QString KeyInjectors::commandLineHelp()
{
    return QStringLiteral(
        "  --keyboard=NAME    how keys are typed: auto (default), virtual-keyboard, kwin,\n"
        "                     uinput, portal or x11;\n"
        "                     the environment variable OMVARA_KEYBOARD does the same\n"
        "  --keyboard-layout=LAYOUT[(VARIANT)]\n"
        "                     the desktop's keyboard layout for uinput, such as de or\n"
        "                     us(dvorak), where it is not found by itself (X11 follows the\n"
        "                     layout in use); OMVARA_KEYBOARD_LAYOUT does the same\n");
}

std::unique_ptr<KeyInjector> KeyInjectors::open(const QString &backend)
{
    if (backend == QLatin1String("x11"))
        return openX11KeyInjector();
    if (backend == QLatin1String("uinput"))
        return openUinputKeyInjector();
    if (backend == QLatin1String("virtual-keyboard"))
        return openVirtualKeyboardKeyInjector();
    if (backend == QLatin1String("kwin"))
        return openKwinKeyInjector();
    if (backend == QLatin1String("portal"))
        return openPortalKeyInjector();
    throw KeyboardUnavailableError(QStringLiteral("Unknown keyboard output \"%1\"; choose one of: %2")
                                       .arg(backend, choices().join(QStringLiteral(", "))));
}

namespace {

QString chosenName(const QString &choice)
{
    return (choice.isEmpty() ? util::ProcessProperties::get(KeyInjectors::propertyName()) : choice)
        .trimmed()
        .toLower();
}

} // namespace

bool KeyInjectors::mayAskPermission(const QString &choice)
{
    const QString name = chosenName(choice);
    if (name.isEmpty() || name == QLatin1String("auto"))
        return backendOrder().contains(QStringLiteral("portal"));
    return name == QLatin1String("portal");
}

std::unique_ptr<KeyInjector> KeyInjectors::create(const QString &choice)
{
    const QString name = chosenName(choice);
    if (!name.isEmpty() && name != QLatin1String("auto")) {
        std::unique_ptr<KeyInjector> named = open(name);
        named->describeChoice(QStringLiteral("%1, as chosen").arg(name),
            name == QLatin1String("x11") && waylandSession() ? QStringLiteral(
                "Keys are typed through X11 in a Wayland session: only X11 programs receive them,"
                " Wayland programs receive nothing.")
                                                             : QString());
        return named;
    }

    QStringList reasons;
    for (const QString &backend : backendOrder()) {
        try {
            std::unique_ptr<KeyInjector> chosen = open(backend);
            chosen->describeChoice(reasons.isEmpty() ? QStringLiteral("%1, the first to try").arg(backend)
                                                     : QStringLiteral("%1; skipped before it: %2")
                                                           .arg(backend, reasons.join(QStringLiteral("; "))));
            return chosen;
        } catch (const KeyboardUnavailableError &e) {
            QString reason = e.text();
            if (reason.endsWith(QLatin1Char('.')))
                reason.chop(1);
            reasons << reason;
        }
    }
    throw KeyboardUnavailableError(
        QStringLiteral("No keyboard output could be used: %1.").arg(reasons.join(QStringLiteral("; "))));
}

} // namespace omvara::outputs::keys
