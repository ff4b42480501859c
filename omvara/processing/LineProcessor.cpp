// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/processing/LineProcessor.h"

#include "omvara/config/CodeSettings.h"
#include "omvara/config/Config.h"
#include "omvara/processing/Editor.h"
#include "omvara/processing/NumberFormatter.h"
#include "omvara/processing/Remover.h"
#include "omvara/processing/ValueExtractor.h"

#include <QRegularExpression>

#include <chrono>

namespace omvara::processing {

namespace {

// Removes every run of whitespace (the "\s" of the line patterns: ASCII blanks and controls).
QString removeWhitespace(const QString &value)
{
    QString result;
    result.reserve(value.size());
    for (const QChar c : value) {
        const char16_t u = c.unicode();
        if (u == u' ' || u == u'\t' || u == u'\n' || u == 0x0B || u == u'\f' || u == u'\r')
            continue;
        result += c;
    }
    return result;
}

} // namespace

LineProcessor::LineProcessor(const config::Config &config, bool numbers)
    : m_extractor(std::make_unique<ValueExtractor>(config))
    , m_editor(std::make_unique<Editor>(config))
    , m_remover(std::make_unique<Remover>(config.getRemoveCharacters()))
    , m_editCount(config.getEditNumCharactersAsInt())
    , m_numbers(numbers)
    , m_removeSymbologyId(config.getRemoveSymbologyId())
{
    if (numbers)
        m_formatter = std::make_unique<NumberFormatter>(config);
}

LineProcessor::~LineProcessor() = default;

LineProcessor::Result LineProcessor::process(const QString &line) const
{
    QString value = m_extractor->extract(line);
    Result result;
    result.instant = std::chrono::system_clock::now();
    if (m_removeSymbologyId)
        value.remove(0, config::symbologyIdLength(value));
    if (m_editCount > 0)
        value = m_editor->edit(value);
    if (!m_remover->getRemoveCharacters().isEmpty() && !value.isEmpty())
        value = m_remover->remove(value);
    if (m_numbers) {
        value = removeWhitespace(value);
        result.processedData = value.isEmpty() ? QString() : m_formatter->format(value);
    } else {
        result.processedData = value;
    }
    if (result.processedData.isNull())
        result.processedData = QStringLiteral("");
    return result;
}

} // namespace omvara::processing
