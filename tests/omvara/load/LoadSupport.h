// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/util/Bundle.h"
#include "omvara/worker/keys/recording/RecordingKeyInjector.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <stdexcept>
#include <vector>

namespace load_test {

constexpr int Enter = 10;

// The values a recording keyboard typed with the numeric key map and Enter as
// terminator key: one entry per released Enter, the digits pressed before it.
// A press that is not a digit, or a value without digits, gives "?" (a value
// typed in pieces or mixed with another would show up so).
inline QStringList typedValues(const std::vector<omvara::worker::keys::KeyEvent> &events)
{
    using omvara::worker::keys::KeyEvent;
    QStringList values;
    QString current;
    bool broken = false;
    for (const KeyEvent &e : events) {
        if (e.kind == KeyEvent::Press && e.value != Enter) {
            if (e.value >= '0' && e.value <= '9')
                current += QChar(char16_t(e.value));
            else
                broken = true;
        } else if (e.kind == KeyEvent::Release && e.value == Enter) {
            values.append(broken || current.isEmpty() ? QStringLiteral("?") : current);
            current.clear();
            broken = false;
        }
    }
    if (!current.isEmpty())
        values.append(QStringLiteral("?")); // digits without their terminator: typed in part
    return values;
}

// How many values the keyboard output reported as dropped in `reports`
// (its "not typed" entries, summed).
inline int droppedValues(const QStringList &reports)
{
    const QString text = omvara::util::Bundle::get(QStringLiteral("omvara.worker.WorkerBundle"))
                             .getString(QStringLiteral("values.not.typed"));
    const QStringList around = text.split(QStringLiteral("%s"));
    if (around.size() != 2)
        throw std::logic_error("the not-typed text has no count");
    const QRegularExpression pattern(
        QLatin1Char('^') + QRegularExpression::escape(around[0]) + QStringLiteral("([0-9]+)")
        + QRegularExpression::escape(around[1]) + QLatin1Char('$'));
    int dropped = 0;
    for (const QString &report : reports) {
        const QRegularExpressionMatch m = pattern.match(report);
        if (m.hasMatch())
            dropped += m.captured(1).toInt();
    }
    return dropped;
}

// Everything written to `file` so far, line by line (the file is left at its end).
inline QStringList fileLines(std::FILE *file)
{
    std::fflush(file);
    std::rewind(file);
    QByteArray bytes;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes.append(buffer, qsizetype(n));
    std::fseek(file, 0, SEEK_END);
    QStringList lines = QString::fromLocal8Bit(bytes).split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace load_test
