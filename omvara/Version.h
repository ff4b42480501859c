// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace omvara {

// The program's version as the about line and the update check use it.
QString programVersion();

} // namespace omvara
