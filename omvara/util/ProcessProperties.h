// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace omvara::util {

// The process-wide property map (name -> text) that modules read their
// outside settings from: "VERSION", "PLK_OSNAME", "PLK_OSARCH",
// "SERIAL_PORT_LIST", the preferences backend selection, the update site.
//
// A property that was never set (nor removed) in this process falls back to
// the environment variable of the same name, so a user can set it from
// outside (for example SERIAL_PORT_LIST=/dev/pts/3). Names that cannot be
// environment variables (they contain a ".") are never looked up there.
//
// All functions may be called from any thread.
class ProcessProperties
{
public:
    // The value, or `fallback` when the property is unset.
    static QString get(const QString &name, const QString &fallback = QString());
    static bool contains(const QString &name);
    static void set(const QString &name, const QString &value);
    // Unsets the property; the environment is no longer consulted for it.
    static void remove(const QString &name);
    // Forgets every value set in this process (tests).
    static void reset();
};

} // namespace omvara::util
