// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of turning one received line into the typed text. The goal is well under 5 µs per line.
//
//   BM_Format/<case>     NumberFormatter::format alone, per value
//   BM_LineChain/<mode>  extraction, edit, removal, whitespace removal and formatting, per line,
//                        over the sample line of every number instrument of the catalogue
#include "omvara/config/Config.h"
#include "omvara/config/Instrument.h"
#include "omvara/processing/LineProcessor.h"
#include "omvara/processing/NumberFormatter.h"

#include <benchmark/benchmark.h>

#include <QString>

#include <memory>
#include <vector>

using omvara::config::Config;
using omvara::config::ConfigHelper;
using omvara::processing::LineProcessor;
using omvara::processing::NumberFormatter;

namespace {

struct FormatCase
{
    const char *label;
    const char *value;
    const char *places;
    const ConfigHelper::MathOperation *operation;
    const char *operand;
    const ConfigHelper::DecimalSeparator *separator;
};

const FormatCase kFormatCases[] = {
    { "plain", "+0012.30", "", &ConfigHelper::MathOperation::NONE, "", &ConfigHelper::DecimalSeparator::DOT },
    { "round 2 places", "12.345", "2", &ConfigHelper::MathOperation::NONE, "",
        &ConfigHelper::DecimalSeparator::DOT },
    { "comma, multiply", "2,5", "", &ConfigHelper::MathOperation::MULTIPLY, "1.5",
        &ConfigHelper::DecimalSeparator::COMMA },
    { "divide 2 places", "10", "2", &ConfigHelper::MathOperation::DIVIDE, "3",
        &ConfigHelper::DecimalSeparator::DOT },
    { "30 digits, round", "123456789012345678.901234567890", "3", &ConfigHelper::MathOperation::NONE, "",
        &ConfigHelper::DecimalSeparator::DOT },
};

void BM_Format(benchmark::State &state)
{
    const FormatCase &c = kFormatCases[state.range(0)];
    Config config;
    config.setDecimalPlaces(QString::fromLatin1(c.places));
    config.setRoundingMethod(ConfigHelper::RoundingMethod::HALF_UP);
    config.setMathOperation(*c.operation);
    config.setMathOperand(QString::fromLatin1(c.operand));
    config.setDecimalSeparator(*c.separator);
    NumberFormatter formatter(config);
    const QString value = QString::fromLatin1(c.value);
    for (auto _ : state)
        benchmark::DoNotOptimize(formatter.format(value));
    state.SetLabel(c.label);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Format)->DenseRange(0, std::size(kFormatCases) - 1);

struct Line
{
    const ConfigHelper::Instrument *instrument;
    QString text;
};

// The first sample line of every number instrument, as received (terminator included).
std::vector<Line> sampleLines()
{
    std::vector<Line> lines;
    for (const ConfigHelper::Instrument *instrument : ConfigHelper::Instrument::values()) {
        if (&instrument->getInstrumentType() != &ConfigHelper::InstrumentType::NUMBER)
            continue;
        for (const auto &[line, value] : instrument->getTestStrings()) {
            if (!line.isEmpty()) {
                lines.push_back({ instrument, line });
                break;
            }
        }
    }
    return lines;
}

// range(0): 0 = no processing settings, 1 = every step configured (an edit that keeps the last
// 20 characters, removal of "kg", multiplication by 1.000, rounding to 2 places HALF_UP, comma).
void BM_LineChain(benchmark::State &state)
{
    const bool full = state.range(0) == 1;
    std::vector<std::unique_ptr<LineProcessor>> processors;
    const std::vector<Line> lines = sampleLines();
    for (const Line &line : lines) {
        Config config;
        config.setInstrument(*line.instrument);
        if (full) {
            config.setEditOperation(ConfigHelper::EditOperation::KEEP);
            config.setEditPosition(ConfigHelper::EditPosition::LAST);
            config.setEditNumCharacters(QStringLiteral("20"));
            config.setRemoveCharacters(QStringLiteral("kg"));
            config.setMathOperation(ConfigHelper::MathOperation::MULTIPLY);
            config.setMathOperand(QStringLiteral("1.000"));
            config.setDecimalPlaces(QStringLiteral("2"));
            config.setRoundingMethod(ConfigHelper::RoundingMethod::HALF_UP);
            config.setDecimalSeparator(ConfigHelper::DecimalSeparator::COMMA);
        }
        processors.push_back(std::make_unique<LineProcessor>(config, true));
    }
    std::size_t failures = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            try {
                benchmark::DoNotOptimize(processors[i]->process(lines[i].text));
            } catch (const std::exception &) {
                ++failures; // a sample the full settings cannot format; still a measured line
            }
        }
    }
    state.SetLabel(full ? "every step" : "defaults");
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(lines.size()));
    state.counters["lines"] = static_cast<double>(lines.size());
    state.counters["time_per_line"]
        = benchmark::Counter(static_cast<double>(state.iterations() * lines.size()),
            benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["failed"] = static_cast<double>(failures);
}
BENCHMARK(BM_LineChain)->Arg(0)->Arg(1);

} // namespace

BENCHMARK_MAIN();
