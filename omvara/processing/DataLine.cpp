// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/processing/DataLine.h"

#include "omvara/processing/CodePoints.h"

#include <algorithm>
#include <utility>

namespace omvara::processing {

DataLine::DataLine(QString rawData, QString processedData, qint32 count, Instant instant, bool error)
    : m_rawData(std::move(rawData))
    , m_processedData(std::move(processedData))
    , m_count(count)
    , m_instant(instant)
    , m_error(error)
{
}

QDateTime DataLine::getDateTime() const
{
    const auto ms = std::chrono::floor<std::chrono::milliseconds>(m_instant.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime);
}

QString DataLine::transformControlChars(QStringView text)
{
    QString out;
    out.reserve(text.size() + 8);
    // Printable characters are copied in runs (a line is mostly one run).
    qsizetype run = 0;
    for (qsizetype i = 0; i < text.size();) {
        const char16_t unit = text[i].unicode();
        if (unit >= 0x20 && unit <= 0x7E) {
            ++i;
            continue;
        }
        out.append(text.mid(run, i - run));
        int units = 1;
        char32_t c = codepoints::at(text, i, &units);
        char16_t code[12];
        int length = 0;
        code[length++] = u'>';
        do {
            code[length++] = char16_t(u'0' + c % 10);
            c /= 10;
        } while (c != 0);
        code[length++] = u'<';
        std::reverse(code, code + length);
        out.append(QStringView(code, length));
        i += units;
        run = i;
    }
    out.append(text.mid(run));
    return out;
}

} // namespace omvara::processing
