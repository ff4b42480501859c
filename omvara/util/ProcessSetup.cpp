// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/util/ProcessSetup.h"

#include "omvara/util/ProcessProperties.h"
#include "omvara/util/Version.h"

#include <QLocale>

namespace omvara::util {

void prepareProcess()
{
    // Every text, number and date in English, whatever the machine's locale.
    QLocale::setDefault(QLocale(QLocale::English));
    ProcessProperties::set(QStringLiteral("VERSION"), programVersion());
    // The serial layer's tables are used in their first row on every system.
    ProcessProperties::set(QStringLiteral("PLK_OSNAME"), QStringLiteral("Windows"));
    ProcessProperties::set(QStringLiteral("PLK_OSARCH"), QStringLiteral("x86"));
}

} // namespace omvara::util
