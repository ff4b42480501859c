// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTextStream>

namespace omvara::modes {

// Feeds every sample line of the instrument catalogue through value
// extraction with its instrument's pattern and prints instrument, line (with
// control characters shown as <CR>, <LF>, ...) and value, one sample a line.
// Returns 0 when every value is the one the catalogue expects, 1 otherwise.
int runExtractionDemo(QTextStream &out);

} // namespace omvara::modes
