// SPDX-License-Identifier: GPL-3.0-or-later
// The decimal mark of the user's session, against the decimal separator setting.
#pragma once

#include "omvara/config/ConfigHelper.h"

#include <QChar>
#include <QProcessEnvironment>
#include <QString>

#include <functional>
#include <optional>

namespace omvara::run {

// Where the language of the user's session can be read. The program's own
// texts stay in English whatever it says: this is about the applications
// the values are typed into.
struct SessionLocaleSources
{
    QProcessEnvironment environment;
    // The folder of the desktop's settings files ($XDG_CONFIG_HOME, else
    // ~/.config); empty: none.
    QString configHome;
    // The GNOME region setting as it stands ("de_DE.UTF-8"); empty when it is
    // not set or cannot be read. Called only when needed.
    std::function<QString()> gnomeRegion;

    // This process's environment and the user's desktop settings (GNOME's
    // region is read with gsettings, waiting at most 2 s, and only in a
    // desktop session: XDG_CURRENT_DESKTOP set).
    static SessionLocaleSources fromSystem();
};

// The decimal mark numbers are written with in the user's session.
struct SessionDecimalMark
{
    QChar mark; // '.' or ','
    QString locale; // as found: "de_DE.UTF-8"
    QString source; // where: "LC_ALL", "the desktop's region setting (GNOME)"

    // From the first source that names a locale: LC_ALL, LC_NUMERIC, LANG
    // (the order in which applications read them; C and POSIX name none),
    // then the desktop's region setting: KDE's formats (plasma-localerc,
    // kdeglobals) and GNOME's region, KDE's first in a KDE session. Nothing
    // when none names a locale, or its mark is neither point nor comma.
    static std::optional<SessionDecimalMark> find(const SessionLocaleSources &sources);
};

// The warning for a decimal separator setting that differs from the
// session's mark, naming the setting to choose; empty when they agree or the
// session's mark is not known.
QString decimalSeparatorWarning(
    const config::ConfigHelper::DecimalSeparator &setting, const std::optional<SessionDecimalMark> &session);

} // namespace omvara::run
