// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/Version.h"

namespace omvara {

QString programVersion()
{
    return QStringLiteral(OMVARA_VERSION);
}

} // namespace omvara
