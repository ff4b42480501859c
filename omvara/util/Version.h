// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace omvara::util {

// The program's version as the about line and the update check use it.
QString programVersion();

// What `omvara --version` prints: name and version, copyright, licence and
// warranty lines.
QString versionInformation();

// The end of `omvara --help`: exit statuses, where the manual and the home
// page are.
QString helpEpilogue();

} // namespace omvara::util
