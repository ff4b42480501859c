// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the seed inputs of line_chain_fuzzer into the folder given as the only argument:
// every sample line of the catalogue, followed by its instrument's terminator, once with
// the plain settings and, for the first sample of each instrument, once with rounding,
// arithmetic and suppression of repeats. Instruments without samples get one typical line.
//
//   line_chain_seeds fuzz/corpus/line_chain_fuzzer
#include "LineChainInput.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cstdio>

namespace lc = omvara::fuzz::linechain;
using omvara::config::ConfigHelper;

namespace {

bool writeSeed(const QDir &dir, const QString &name,
    const std::array<std::uint8_t, lc::SettingBytes> &settings, const QString &line, int terminator)
{
    QByteArray bytes(reinterpret_cast<const char *>(settings.data()), qsizetype(settings.size()));
    bytes += line.toLatin1();
    bytes += char(terminator);
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "line_chain_seeds: cannot write %s\n", qPrintable(file.fileName()));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: line_chain_seeds FOLDER\n");
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "line_chain_seeds: cannot make %s\n", argv[1]);
        return 1;
    }
    const auto instruments = ConfigHelper::Instrument::values();
    for (int i = 0; i < instruments.size(); ++i) {
        const ConfigHelper::Instrument &instrument = *instruments[i];
        const int terminator = instrument.getDefaultConfig().getInputTerminator();
        const bool text = &instrument.getInstrumentType() == &ConfigHelper::InstrumentType::TEXT;
        int n = 0;
        for (const auto &[line, value] : instrument.getTestStrings()) {
            const QString sample = !line.isEmpty() ? line
                : text                             ? QStringLiteral("4006381333931AB-x")
                                                   : QStringLiteral("ST,+0012.345 kg");
            const QString name = instrument.name().toLower() + u'-' + QString::number(++n);
            if (!writeSeed(dir, name, lc::plainSettings(i), sample, terminator))
                return 1;
            if (n == 1
                && !writeSeed(dir, name + QStringLiteral("-busy"), lc::busySettings(i), sample, terminator))
                return 1;
        }
    }
    return 0;
}
