// SPDX-License-Identifier: GPL-3.0-or-later
// The event log of a run without a window under load: several threads log
// ordinary, important and time-stamped entries, some far longer than the
// standard library's buffer, while values are printed to the same file.
#include "LoadSupport.h"

#include "omvara/modes/HeadlessLog.h"
#include "omvara/run/ValueOutputs.h"

#include <QDateTime>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <map>
#include <thread>

using namespace load_test;
using omvara::modes::HeadlessLog;
using omvara::run::PrintOutput;

// Every entry and every printed value lands whole on its own line, exactly
// once, and each thread's entries keep their order.
TEST(LogLoad, severalThreadsLogAndPrintToOneFile_everyEntryWholeOnceAndInEachThreadsOrder)
{
    constexpr int Threads = 4;
    constexpr int PerThread = 400;
    std::FILE *file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    HeadlessLog log(file);
    PrintOutput print(file);
    const QString longTail(9000, u'x'); // longer than a stdio buffer

    const auto writer = [&](int thread) {
        for (int i = 0; i < PerThread; ++i) {
            const QString text = QStringLiteral("T%1 %2").arg(thread).arg(i);
            switch (i % 5) {
            case 0:
                log.logEvent(text);
                break;
            case 1:
                log.logImportantEvent(text);
                break;
            case 2:
                log.logAt(QDateTime::currentDateTime(), text + u' ' + longTail);
                break;
            case 3: {
                omvara::run::RunLine line;
                line.count = i;
                line.value = text;
                line.typed = text; // what goes out: the value, no stamps
                print.put(line);
                print.flush(); // the end of a batch of one
                break;
            }
            default:
                HeadlessLog(file).logEvent(text); // a second log object on the same file
                break;
            }
        }
    };
    std::vector<std::thread> threads;
    for (int t = 1; t < Threads; ++t)
        threads.emplace_back(writer, t);
    writer(0);
    for (std::thread &t : threads)
        t.join();

    const QRegularExpression shape(
        QStringLiteral("^(?:[0-9]{2}:[0-9]{2}:[0-9]{2} (?:! )?)?T([0-9]+) ([0-9]+)( x{9000})?$"));
    std::map<int, int> next;
    const QStringList lines = fileLines(file);
    ASSERT_EQ(lines.size(), Threads * PerThread);
    for (const QString &line : lines) {
        const QRegularExpressionMatch m = shape.match(line);
        ASSERT_TRUE(m.hasMatch()) << line.left(120).toStdString();
        const int thread = m.captured(1).toInt();
        const int index = m.captured(2).toInt();
        ASSERT_EQ(index, next[thread]) << "thread " << thread;
        EXPECT_EQ(m.capturedLength(3) > 0, index % 5 == 2) << line.left(120).toStdString();
        const bool stamped = line.at(2) == u':';
        EXPECT_EQ(stamped, index % 5 != 3) << line.left(120).toStdString();
        ++next[thread];
    }
    for (int t = 0; t < Threads; ++t)
        EXPECT_EQ(next[t], PerThread);
    std::fclose(file);
}
