// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/modes/ExtractionDemo.h"

#include "omvara/config/Instrument.h"
#include "omvara/processing/ValueExtractor.h"

namespace omvara::modes {

namespace {

using config::ConfigHelper;

// Control characters by their usual names, everything else as it is.
QString visible(const QString &text)
{
    static const char *const names[] = { "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS", "TAB",
        "LF", "VT", "FF", "CR", "SO", "SI", "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB", "CAN",
        "EM", "SUB", "ESC", "FS", "GS", "RS", "US" };
    QString out;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 32)
            out += u'<' + QLatin1String(names[u]) + u'>';
        else if (u == 127)
            out += QLatin1String("<DEL>");
        else if (u >= 0x80 && u < 0xA0)
            out += QStringLiteral("<%1>").arg(int(u), 2, 16, QLatin1Char('0')).toUpper();
        else
            out += c;
    }
    return out;
}

} // namespace

int runExtractionDemo(QTextStream &out)
{
    int mismatches = 0;
    int samples = 0;
    for (const ConfigHelper::Instrument *instrument : ConfigHelper::Instrument::values()) {
        const processing::ValueExtractor extractor(*instrument, QString());
        for (const auto &[line, expected] : instrument->getTestStrings()) {
            if (line.isEmpty() && expected.isEmpty())
                continue; // an entry without samples
            ++samples;
            QString value;
            QString note;
            try {
                value = extractor.extract(line);
            } catch (const processing::ExtractionError &e) {
                note = QStringLiteral("  ERROR: ") + QString::fromStdString(e.what());
            }
            if (note.isEmpty() && value != expected)
                note = QStringLiteral("  MISMATCH, expected \"") + visible(expected) + u'"';
            if (!note.isEmpty())
                ++mismatches;
            out << instrument->name() << "  line \"" << visible(line) << "\"  value \"" << visible(value)
                << '"' << note << '\n';
        }
    }
    out << samples << " samples, " << mismatches << " not as expected\n";
    out.flush();
    return mismatches == 0 ? 0 : 1;
}

} // namespace omvara::modes
