// SPDX-License-Identifier: GPL-3.0-or-later
// Importing a large settings document into the shared settings file: the
// whole import (read, check, write into the store, read back) of documents
// with 10 000 and 100 000 entries, into a store that holds the usual settings.
//
// Counters: entries, document_mib, ms (one import), file_mib (the store after it).
#include "BenchApp.h"
#include "omvara/config/ConfigStore.h"
#include "omvara/prefs/FilePreferencesFactory.h"
#include "omvara/util/ProcessProperties.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QByteArray document(int count)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
                     "<!DOCTYPE preferences SYSTEM \"http://java.sun.com/dtd/preferences.dtd\">\n"
                     "<preferences EXTERNAL_XML_VERSION=\"1.0\"><root type=\"user\"><map/>"
                     "<node name=\"com\"><map/><node name=\"brindlecote\"><map/><node name=\"Omvara\"><map>\n"
                     "<entry key=\"instrument\" value=\"KERN_DS\"/>\n";
    for (int i = 0; i < count; ++i)
        xml += "  <entry key=\"setting" + QByteArray::number(i) + "\" value=\"a value of entry "
            + QByteArray::number(i) + "\"/>\n";
    return xml + "</map></node></node></node></root></preferences>\n";
}

void BM_ImportIntoTheSharedFile(benchmark::State &state)
{
    using omvara::prefs::FilePreferencesFactory;
    const int entries = int(state.range(0));
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("large.xml"));
    const QByteArray xml = document(entries);
    {
        QFile f(source);
        if (!f.open(QIODevice::WriteOnly) || f.write(xml) != xml.size()) {
            state.SkipWithError("cannot write the document");
            return;
        }
    }
    const QString store = dir.filePath(QStringLiteral("prefs.txt"));
    qint64 total = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(store);
        omvara::util::ProcessProperties::set(FilePreferencesFactory::SYSTEM_PROPERTY_FILE, store);
        FilePreferencesFactory::forgetPreferencesFile();
        auto factory = std::make_unique<FilePreferencesFactory>();
        omvara::config::ConfigStore configStore(*factory);
        state.ResumeTiming();
        QElapsedTimer timer;
        timer.start();
        configStore.importFrom(source);
        total += timer.elapsed();
    }
    state.counters["entries"] = entries;
    state.counters["document_mib"] = double(xml.size()) / (1024.0 * 1024.0);
    state.counters["ms"] = double(total) / double(state.iterations());
    state.counters["file_mib"] = double(QFile(store).size()) / (1024.0 * 1024.0);
}

} // namespace

BENCHMARK(BM_ImportIntoTheSharedFile)->Arg(10000)->Arg(100000)->Iterations(3)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    bench::app();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
