// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/processing/DataLine.h"

#include <QRegularExpression>
#include <QString>

#include <memory>
#include <optional>

namespace omvara::config {
class Config;
}

namespace omvara::processing {

class Editor;
class NumberFormatter;
class Remover;
class ValueExtractor;

// Turns the contents of a completed line into the value to type, with the
// settings of one run: extraction by the instrument's or the custom pattern,
// removal of a leading symbology identifier (when set), edit, character removal, then (for number
// instruments) whitespace removal and number formatting. Everything is prepared once per run; process() is
// called once per line on the reception thread.
class LineProcessor
{
public:
    struct Result
    {
        QString processedData; // "" when the line has no value
        DataLine::Instant instant; // taken right after extraction
    };

    // `numbers` false: the value after edit and removal is kept as it is (text instruments).
    // Throws when the pattern cannot be used (the run cannot start).
    LineProcessor(const config::Config &config, bool numbers);
    ~LineProcessor();

    // Throws when the line cannot be completed (a missing capture group, a
    // value the formatter cannot read); the caller reports and drops the line.
    Result process(const QString &line) const;

private:
    std::unique_ptr<ValueExtractor> m_extractor;
    std::unique_ptr<Editor> m_editor;
    std::unique_ptr<Remover> m_remover;
    std::unique_ptr<NumberFormatter> m_formatter;
    qint32 m_editCount = 0;
    bool m_numbers = true;
    bool m_removeSymbologyId = false;
};

} // namespace omvara::processing
