// SPDX-License-Identifier: GPL-3.0-or-later
// User-typed value patterns: the rewrite of "." and "$" must never turn a
// pattern the engine accepts into one it refuses or that has other groups,
// and checking or applying any pattern must not crash.
#include "omvara/config/ConfigHelper.h"
#include "omvara/config/LinePattern.h"

#include <QByteArrayView>
#include <QRegularExpression>
#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 512)
        return 0;
    // Pattern (UTF-8) up to the first NUL byte, then the line (bytes as characters).
    const QByteArrayView input(data, static_cast<qsizetype>(size));
    const qsizetype cut = input.indexOf('\0');
    const QString pattern = QString::fromUtf8(cut < 0 ? input : input.first(cut));
    const QString line = cut < 0 ? QString() : QString::fromLatin1(input.sliced(cut + 1));

    const QRegularExpression raw(pattern);
    const QRegularExpression translated = omvara::config::LinePattern::compile(pattern);
    if (raw.isValid()) {
        // Replicated groups can outgrow the engine's size limit after the
        // rewrite; that is a limit, not a fault of the rewrite.
        if (!translated.isValid() && !translated.errorString().contains(QLatin1String("too large")))
            std::abort();
        if (translated.isValid() && translated.captureCount() != raw.captureCount())
            std::abort();
    }
    (void)omvara::config::ConfigHelper::CustomRegEx::valid(pattern);
    if (translated.isValid()) {
        const QRegularExpressionMatch m = translated.match(line);
        for (int g = 0; g <= translated.captureCount(); ++g)
            (void)m.captured(g);
    }
    return 0;
}
