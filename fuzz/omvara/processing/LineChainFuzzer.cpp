// SPDX-License-Identifier: GPL-3.0-or-later
// Received bytes through everything a run does with them, for every instrument of the
// catalogue and a few user patterns: the stream is cut into lines at the terminator byte as
// the reception engine cuts it (each byte one character), each completed line goes through
// the line processor (extraction, edit, removal, whitespace, number formatting with
// arithmetic, rounding, places and separator) and then, when switched on, through the
// suppression of repeats. The first eight bytes choose the settings (see LineChainInput.h).
//
// What must hold for every line: the line gives a value, nothing, or one of the per-line
// errors the engine reports (and the catalogue's own patterns never fail a line); the same
// line gives the same outcome again; a number instrument types plain digits with the
// configured mark that read back as a number, never more places than configured, and the
// number the line holds when nothing changes it; a text instrument types a piece of the line;
// the logged form of the line is printable; a suppressed value repeats the previous one within
// the time and difference, and an exact repeat within the time is never typed.
#include "LineChainInput.h"

#include "omvara/processing/DataLine.h"
#include "omvara/processing/Ignorer.h"
#include "omvara/processing/LineProcessor.h"
#include "omvara/processing/ValueExtractor.h"
#include "omvara/reception/WeightWorker.h"
#include "omvara/util/Decimal.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

using omvara::config::Config;
using omvara::config::ConfigHelper;
using omvara::processing::DataLine;
using omvara::processing::ExtractionError;
using omvara::processing::ExtractionTimeError;
using omvara::processing::Ignorer;
using omvara::processing::LineProcessor;
using omvara::processing::ValueExtractor;
using omvara::util::ArithmeticError;
using omvara::util::Decimal;
using omvara::util::NumberFormatError;
namespace lc = omvara::fuzz::linechain;

namespace {

[[noreturn]] void fail(const char *what, const QString &line, const QString &value = {})
{
    std::fprintf(stderr, "check failed: %s (line \"%s\", value \"%s\")\n", what,
        qPrintable(DataLine::transformControlChars(line)),
        qPrintable(DataLine::transformControlChars(value)));
    std::abort();
}

void require(bool condition, const char *what, const QString &line, const QString &value = {})
{
    if (!condition)
        fail(what, line, value);
}

// Digits after the mark of -?digits(mark digits)? without a superfluous leading zero; -1 for
// any other text.
int placesOf(const QString &out, QChar mark)
{
    qsizetype i = out.startsWith(u'-') ? 1 : 0;
    const qsizetype intStart = i;
    while (i < out.size() && out[i] >= u'0' && out[i] <= u'9')
        ++i;
    const qsizetype intDigits = i - intStart;
    if (intDigits == 0 || (intDigits > 1 && out[intStart] == u'0'))
        return -1;
    if (i == out.size())
        return 0;
    if (out[i] != mark)
        return -1;
    const qsizetype fracStart = ++i;
    while (i < out.size() && out[i] >= u'0' && out[i] <= u'9')
        ++i;
    if (i != out.size() || i == fracStart)
        return -1;
    return int(i - fracStart);
}

// The number a value text stands for as the formatter reads it: ASCII blanks dropped,
// a comma read as the mark.
std::optional<Decimal> numberIn(const QString &value)
{
    QString text;
    for (QChar c : value) {
        const char16_t u = c.unicode();
        if (u == u' ' || u == u'\t' || u == u'\n' || u == 0x0B || u == u'\f' || u == u'\r')
            continue;
        text += u == u',' ? QChar(u'.') : c;
    }
    return Decimal::tryParse(text);
}

bool printableAscii(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return false;
    }
    return true;
}

class Run
{
public:
    Run(const Config &config, const lc::Settings &settings)
        : m_config(config)
        , m_settings(settings)
        , m_numbers(&settings.instrument->getInstrumentType() == &ConfigHelper::InstrumentType::NUMBER)
        , m_extractor(config)
        , m_ignorer(config)
        , m_places(config.getDecimalPlacesAsInt().value_or(-1))
        , m_rounding(config.roundingEnabled())
        , m_math(config.mathOperationEnabled())
        , m_plain(config.getEditNumCharactersAsInt() == 0 && config.getRemoveCharacters().isEmpty())
        , m_timeLimit(ConfigHelper::parseInteger(config.getIgnoreTimeLimit()).value_or(0))
        , m_difference(
              m_numbers ? Decimal::tryParse(config.getIgnoreDifference()).value_or(Decimal()) : Decimal())
    {
        try {
            m_processor = std::make_unique<LineProcessor>(config, m_numbers);
        } catch (const std::exception &e) {
            std::fprintf(stderr, "check failed: valid settings cannot start a run: %s\n", e.what());
            std::abort();
        }
    }

    void completeLine(const QString &line)
    {
        const std::optional<QString> value = outcome(line);
        if (m_outOfTime)
            return; // the time budget depends on the machine: nothing to compare
        // The engine keeps no state between lines: the same line gives the same outcome.
        const std::optional<QString> again = outcome(line);
        if (m_outOfTime)
            return;
        require(again == value, "the same line gave another outcome", line);
        if (!value)
            return;
        require(!value->isNull(), "a line without value gave a null text", line);
        if (!value->isEmpty())
            checkValue(line, *value);

        DataLine dataLine(line, *value, ++m_count, m_instant, false);
        require(printableAscii(dataLine.getRawData()), "the logged line has unprintable characters", line);
        if (m_config.getIgnoreDuplicates())
            suppress(line, dataLine);
        m_instant += std::chrono::milliseconds(m_settings.gapMs);
    }

private:
    // The value of a line, or nothing for a reported per-line error.
    std::optional<QString> outcome(const QString &line) const
    {
        m_outOfTime = false;
        try {
            return m_processor->process(line).processedData;
        } catch (const ExtractionTimeError &) {
            // Any pattern may run out of processor time when the machine stalls
            // the search (the sanitizers' allocator does at times).
            m_outOfTime = true;
        } catch (const ExtractionError &e) {
            // A catalogue pattern always has its group and never runs out of steps on a line
            // of this length; a user's pattern may do either.
            if (m_settings.pattern < 0)
                fail(e.what(), line);
        } catch (const NumberFormatError &) {
            require(m_numbers, "a text instrument refused a value as a number", line);
        } catch (const ArithmeticError &) {
            require(
                m_numbers && (m_math || m_rounding), "arithmetic error without arithmetic or rounding", line);
        } catch (const std::exception &e) {
            fail(e.what(), line);
        } catch (...) {
            fail("an exception of no known type", line);
        }
        return std::nullopt;
    }

    void checkValue(const QString &line, const QString &value) const
    {
        if (!m_numbers) {
            if (m_plain) {
                require(line.contains(value), "a text value that is not part of the line", line, value);
                try {
                    require(value == m_extractor.extract(line), "a text value other than the extracted one",
                        line, value);
                } catch (const ExtractionTimeError &) {
                }
            }
            return;
        }
        const QChar mark
            = &m_config.getDecimalSeparator() == &ConfigHelper::DecimalSeparator::COMMA ? u',' : u'.';
        const int places = placesOf(value, mark);
        require(places >= 0, "a typed number is not plain digits with the configured mark", line, value);
        QString pointed = value;
        pointed.replace(mark, u'.');
        const std::optional<Decimal> typed = Decimal::tryParse(pointed);
        require(typed.has_value(), "a typed number does not read back", line, value);
        require(!(typed->signum() == 0 && value.startsWith(u'-')), "zero typed with a sign", line, value);
        if (m_rounding)
            require(places <= m_places, "more places typed than configured", line, value);
        if (m_math && &m_config.getMathOperation() == &ConfigHelper::MathOperation::DIVIDE)
            require(places == m_places, "a quotient without exactly the configured places", line, value);
        if (!m_plain)
            return;

        QString extracted;
        try {
            extracted = m_extractor.extract(line);
        } catch (const ExtractionTimeError &) {
            return;
        }
        const std::optional<Decimal> number = numberIn(extracted);
        require(number.has_value(), "a value typed from a line that holds no number", line, value);
        if (!m_math && !m_rounding) {
            require(*typed == *number, "the typed number differs from the line's", line, value);
            require(places == std::max(number->scale(), 0), "the typed number lost or gained places", line,
                value);
        } else if (!m_math) {
            require(typed->subtract(*number).abs() < Decimal(1, m_places), "rounded more than one unit away",
                line, value);
        } else if (!m_rounding) {
            const Decimal product = number->multiply(m_config.getMathOperandAsBigDecimal());
            require(*typed == product, "the typed product is not the exact product", line, value);
        }
    }

    void suppress(const QString &line, DataLine &dataLine)
    {
        const QString value = dataLine.getProcessedData();
        const std::optional<DataLine> previous = m_ignorer.getLastData();
        m_ignorer.process(dataLine);
        if (value.isEmpty())
            return;
        if (!previous) {
            require(dataLine.hasValue(), "the first value of a run was suppressed", line, value);
            return;
        }
        const auto elapsed
            = std::chrono::floor<std::chrono::milliseconds>(dataLine.getInstant() - previous->getInstant());
        const bool inTime = m_timeLimit == 0 || elapsed.count() <= m_timeLimit;
        const QString before = previous->getProcessedData();
        if (dataLine.hasValue()) {
            require(!(inTime && before == value), "an exact repeat within the time was typed", line, value);
            return;
        }
        require(inTime, "a value suppressed after the time limit", line, value);
        if (m_difference.signum() == 0) {
            require(before == value, "a value other than the previous one suppressed", line, value);
        } else {
            const std::optional<Decimal> a = numberIn(before);
            const std::optional<Decimal> b = numberIn(value);
            require(a && b && a->subtract(*b).abs() <= m_difference,
                "a value beyond the difference suppressed", line, value);
        }
    }

    const Config &m_config;
    const lc::Settings m_settings;
    const bool m_numbers;
    std::unique_ptr<LineProcessor> m_processor;
    ValueExtractor m_extractor;
    Ignorer m_ignorer;
    const int m_places;
    const bool m_rounding;
    const bool m_math;
    const bool m_plain;
    const int m_timeLimit;
    const Decimal m_difference;
    qint32 m_count = 0;
    mutable bool m_outOfTime = false; // the last outcome() ran out of processor time
    DataLine::Instant m_instant { std::chrono::seconds(1'700'000'000) };
};

template <typename Table, typename Valid> void checkTable(const Table &table, Valid valid, const char *what)
{
    for (const auto *text : table) {
        if (!valid(QString::fromLatin1(text))) {
            std::fprintf(stderr, "the fuzzer's %s table holds an invalid setting: \"%s\"\n", what, text);
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    using H = ConfigHelper;
    for (const char *pattern : lc::CustomPatterns) {
        if (!H::CustomRegEx::valid(QString::fromUtf8(pattern))) {
            std::fprintf(stderr, "the fuzzer's pattern table holds an invalid pattern: %s\n", pattern);
            std::abort();
        }
    }
    checkTable(lc::Places, H::DecimalPlaces::valid, "places");
    checkTable(lc::Operands, H::MathOperand::valid, "operand");
    checkTable(lc::EditCounts, H::EditNumCharacters::valid, "edit count");
    checkTable(lc::RemoveSets, H::RemoveCharacters::valid, "removal");
    checkTable(lc::TimeLimits, H::IgnoreTimeLimit::valid, "time limit");
    checkTable(lc::Differences, H::IgnoreDifference::valid, "difference");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < lc::SettingBytes)
        return 0;
    Config config;
    const lc::Settings settings = lc::decode(data, config);
    Run run(config, settings);

    const int terminator = config.getInputTerminator();
    QString buffer;
    for (std::size_t i = lc::SettingBytes; i < size; ++i) {
        buffer.append(QChar(char16_t(data[i])));
        if (data[i] == terminator) {
            run.completeLine(buffer);
            buffer.clear();
        } else if (buffer.size() >= omvara::reception::WeightWorker::MaxLineLength) {
            buffer.clear();
        }
    }
    require(printableAscii(DataLine::transformControlChars(buffer)),
        "the unsent data has unprintable characters", buffer);
    return 0;
}
