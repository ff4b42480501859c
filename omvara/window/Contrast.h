// SPDX-License-Identifier: GPL-3.0-or-later
// Colours that stay readable on the palette they are shown on.
#pragma once

#include <QColor>

class QPalette;

namespace omvara {

// The contrast ratio of two colours as the accessibility guidelines define
// it: (L1 + 0.05) / (L2 + 0.05) of their relative luminances, 1 to 21.
double contrastRatio(const QColor &a, const QColor &b);

// Text on a palette's base has to reach this ratio.
inline constexpr double ReadableContrast = 4.5;

// `colour` itself when it reaches `ratio` on `background`; otherwise the
// colour moved as little as needed towards black or white (whichever lies
// away from the background) until it does.
QColor readableOn(const QColor &colour, const QColor &background, double ratio = ReadableContrast);

// True when the palette shows dark backgrounds (a dark desktop theme).
bool isDark(const QPalette &palette);

} // namespace omvara
