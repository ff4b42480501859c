// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/worker/ValueExtractor.h"

#include "omvara/config/Config.h"
#include "omvara/config/LinePattern.h"

namespace omvara::worker {

using config::ConfigHelper;

namespace {

const ConfigHelper::Instrument &instrumentOf(const config::Config &config)
{
    const ConfigHelper::Instrument *instrument = config.getInstrument();
    return instrument ? *instrument : ConfigHelper::Instrument::getDefault();
}

} // namespace

ValueExtractor::ValueExtractor(const ConfigHelper::Instrument &instrument, const QString &customRegEx)
    : m_patternText(customRegEx.isEmpty() ? instrument.getRegEx() : customRegEx)
    , m_regex(config::LinePattern::compile(m_patternText))
    , m_group(instrument.getCaptureGroup())
{
    if (!m_regex.isValid())
        throw ExtractionError(QStringLiteral("The value pattern %1 does not compile: %2")
                                  .arg(m_patternText, m_regex.errorString())
                                  .toStdString());
}

ValueExtractor::ValueExtractor(const config::Config &config)
    : ValueExtractor(instrumentOf(config), config.getCustomRegEx())
{
}

QString ValueExtractor::extract(const QString &line) const
{
    // A missing group fails every line, matching or not, so that a wrong
    // pattern shows at once instead of only when a value arrives.
    if (m_group < 0 || m_group > m_regex.captureCount())
        throw ExtractionError(QStringLiteral("No group %1 in the value pattern %2")
                                  .arg(m_group)
                                  .arg(m_patternText)
                                  .toStdString());
    const QRegularExpressionMatch match = m_regex.match(line);
    if (!match.isValid())
        throw ExtractionError(
            QStringLiteral("The value pattern %1 needs too many steps for this line").arg(m_patternText).toStdString());
    if (!match.hasMatch())
        return QStringLiteral("");
    if (match.capturedStart(m_group) < 0)
        throw ExtractionError(QStringLiteral("Group %1 of the value pattern %2 did not take part in the match")
                                  .arg(m_group)
                                  .arg(m_patternText)
                                  .toStdString());
    return match.captured(m_group);
}

} // namespace omvara::worker
