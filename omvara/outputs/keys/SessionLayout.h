// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>
#include <memory>

#include <optional>
#include <vector>

namespace omvara::outputs::keys {

class LayoutKeymap;

// A keyboard layout by its XKB names, and where it was found. The backends
// that send key codes (uinput, KWin's fake input, the portal) cannot ask the
// desktop which layout it applies to their keys, so they look where the
// layout is configured.
struct SessionLayout
{
    QString layout; // "de"
    QString variant; // "nodeadkeys", or empty
    QString source; // where it was found, e.g. "/etc/default/keyboard"

    // "de" or "de(nodeadkeys)".
    QString name() const;
    // Parses LAYOUT or LAYOUT(VARIANT) (letters, digits, "_" and "-");
    // nothing for any other text.
    static std::optional<SessionLayout> parse(const QString &text);
    // The process property (and environment variable) of the user's choice.
    static QString propertyName() { return QStringLiteral("OMVARA_KEYBOARD_LAYOUT"); }
};

// What the places a layout may be configured in say. fromSystem() reads them
// from this process and machine; tests fill them in themselves.
struct SessionLayoutSources
{
    QString chosen; // --keyboard-layout or OMVARA_KEYBOARD_LAYOUT
    QString xkbDefaultLayout, xkbDefaultVariant; // XKB_DEFAULT_LAYOUT, XKB_DEFAULT_VARIANT
    QString desktop; // XDG_CURRENT_DESKTOP
    QString gnomeRecentSources,
        gnomeSources; // gsettings: org.gnome.desktop.input-sources mru-sources, sources
    QString kdeSettings; // the text of ~/.config/kxkbrc
    QString debianKeyboard; // the text of /etc/default/keyboard

    // Reads only as far as needed: the desktop's settings when neither the
    // user's choice nor XKB_DEFAULT_LAYOUT is set. Runs gsettings (at most
    // 2 s) when it is installed.
    static SessionLayoutSources fromSystem();
};

// One layout per place that names one, in the order they count: the user's
// choice, XKB_DEFAULT_LAYOUT/XKB_DEFAULT_VARIANT, the desktop's input sources
// (GNOME's most recently used, or KDE's; the running desktop's first),
// /etc/default/keyboard. Where a place lists several layouts, its first
// counts. The user's choice is taken even when malformed (name() then shows
// it unparsed in `layout`), so that it can be refused rather than skipped.
std::vector<SessionLayout> sessionLayoutCandidates(const SessionLayoutSources &sources);

// The layout keymap for the first of `candidates` the system knows, with
// "NAME from SOURCE" in `name`; null when there is none. A user's choice
// (the first candidate, when the sources had one) that is not known throws
// KeyboardUnavailableError naming `backend`. Only `usable` keys are pressed.
std::unique_ptr<LayoutKeymap> sessionKeymap(const std::vector<SessionLayout> &candidates, bool firstIsChosen,
    const std::function<bool(int)> &usable, QString *name, const QString &backend = QStringLiteral("uinput"));

// sessionKeymap() for the candidates of this process and machine
// (SessionLayoutSources::fromSystem()), every key usable.
std::unique_ptr<LayoutKeymap> desktopKeymap(const QString &backend, QString *name);

} // namespace omvara::outputs::keys
