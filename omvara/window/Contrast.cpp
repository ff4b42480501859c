// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/Contrast.h"

#include <QPalette>

#include <algorithm>
#include <cmath>

namespace omvara {

namespace {

double channel(double value)
{
    return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double luminance(const QColor &colour)
{
    const QColor rgb = colour.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

QColor mixed(const QColor &from, const QColor &to, double share)
{
    const QColor a = from.toRgb();
    const QColor b = to.toRgb();
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * share),
        float(a.greenF() + (b.greenF() - a.greenF()) * share),
        float(a.blueF() + (b.blueF() - a.blueF()) * share));
}

} // namespace

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableOn(const QColor &colour, const QColor &background, double ratio)
{
    if (contrastRatio(colour, background) >= ratio)
        return colour;
    // Towards the end of the scale that lies farther from the background.
    const QColor target = luminance(background) > 0.18 ? QColor(Qt::black) : QColor(Qt::white);
    double low = 0.0;
    double high = 1.0;
    for (int step = 0; step < 20; ++step) {
        const double middle = (low + high) / 2;
        // A little above the ratio, so that rounding to screen colours keeps it.
        if (contrastRatio(mixed(colour, target, middle), background) >= ratio + 0.02)
            high = middle;
        else
            low = middle;
    }
    return mixed(colour, target, high);
}

bool isDark(const QPalette &palette)
{
    return luminance(palette.color(QPalette::Base)) < 0.18;
}

} // namespace omvara
