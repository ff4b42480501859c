// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/processing/DataLine.h"

#include "omvara/processing/CodePoints.h"

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
    for (qsizetype i = 0; i < text.size();) {
        int units = 1;
        const char32_t c = codepoints::at(text, i, &units);
        if (c >= 0x20 && c <= 0x7E) {
            out.append(QChar(static_cast<char16_t>(c)));
        } else {
            out.append(u'<');
            out.append(QString::number(static_cast<quint32>(c)));
            out.append(u'>');
        }
        i += units;
    }
    return out;
}

} // namespace omvara::processing
