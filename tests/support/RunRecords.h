// SPDX-License-Identifier: GPL-3.0-or-later
// Records that count (1 g, 2 g, ...) and what became of them: the helpers the
// run, reception, fault and load tests share.
#pragma once

#include "omvara/util/Bundle.h"
#include "omvara/util/ProcessProperties.h"
#include "tests/support/RecordingKeyInjector.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <stdexcept>
#include <vector>

namespace run_records {

constexpr int Enter = 10;
constexpr int Tab = 9;

// "first g\r" ... "last g\r": records of the generic instrument.
inline QByteArray records(int first, int last)
{
    QByteArray out;
    for (int i = first; i <= last; ++i)
        out += QByteArray::number(i) + " g\r";
    return out;
}

// "first" ... "last": their values.
inline QStringList numbers(int first, int last)
{
    QStringList out;
    for (int i = first; i <= last; ++i)
        out.append(QString::number(i));
    return out;
}

// The platform properties the program sets before any port is opened (the
// window and the headless runner set them).
inline void setProgramProperties()
{
    omvara::util::ProcessProperties::set(QStringLiteral("PLK_OSNAME"), QStringLiteral("Windows"));
    omvara::util::ProcessProperties::set(QStringLiteral("PLK_OSARCH"), QStringLiteral("x86"));
}

// The values a recording keyboard typed with the numeric key map and Enter as
// terminator key: one entry per released Enter, the digits (and minus signs)
// pressed before it. Any other press, or a value without digits, gives "?"
// (a value typed in pieces or mixed with another would show up so), as do
// digits without their terminator (a value typed in part).
inline QStringList typedValues(const std::vector<omvara::outputs::keys::KeyEvent> &events)
{
    using omvara::outputs::keys::KeyEvent;
    QStringList values;
    QString current;
    bool broken = false;
    for (const KeyEvent &e : events) {
        if (e.kind == KeyEvent::Press && e.value != Enter) {
            if ((e.value >= '0' && e.value <= '9') || e.value == '-')
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
        values.append(QStringLiteral("?"));
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
    const QRegularExpression pattern(QLatin1Char('^') + QRegularExpression::escape(around[0])
        + QStringLiteral("([0-9]+)") + QRegularExpression::escape(around[1]) + QLatin1Char('$'));
    int dropped = 0;
    for (const QString &report : reports) {
        const QRegularExpressionMatch m = pattern.match(report);
        if (m.hasMatch())
            dropped += m.captured(1).toInt();
    }
    return dropped;
}

} // namespace run_records
