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

// What every mode of the program says of an option it does not know; the
// program writes it after "omvara: " on the error output and exits with 2.
QString unknownOptionText(const QString &option);

} // namespace omvara::util
