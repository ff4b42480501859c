// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/run/OutputReport.h"
#include "omvara/run/ValueSink.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>

namespace omvara::run {

// The record file: one CSV row (RFC 4180, UTF-8) for every line of the run,
// in order, with what became of it. A writer thread appends the rows, one
// write per row without syncing, to the file of each row's own date; the
// file is never truncated and gets its header row only while it is empty.
//
// When a row cannot be written (disk full, folder gone) the output reports
// it once, keeps the rows in its queue and tries again every second; when
// writing works again it says so and the rows follow in order. The queue is
// bounded (Capacity rows): when it is full the oldest row is dropped and
// counted.
//
// Threads: as ValueSink. The writer runs from start() until destruction, so
// rows of lines settled after the run's end are still written.
class RecordFileOutput : public ValueSink
{
public:
    static constexpr std::size_t Capacity = 10000;
    static const QByteArray Header; // "time,port,instrument,raw,value,status\r\n"

    // `pattern` is the setting as stored; `port` and `instrument` fill their
    // columns.
    RecordFileOutput(QString pattern, QString port, QString instrument, OutputReport report);
    // Writes what still waits (when writing works), then ends the writer.
    ~RecordFileOutput() override;

    QString name() const override;
    // Today's file.
    QString detail() const override;
    void start() override;
    void lineSettled(const RunLine &line) override;
    // Waits until the rows given so far are written, or writing fails.
    void join() override;

    // The file of a row made at `time`: "{date}" and "{user}" replaced, a
    // relative path (or "~/...") taken from the home folder.
    static QString pathFor(const QString &pattern, const QDateTime &time);
    // One row of the file, with its line end.
    static QByteArray row(const RunLine &line, const QString &port, const QString &instrument);

private:
    void writeRows();
    // Writer thread: appends `bytes` to the file at `path`; false with
    // `problem` set when that failed (nothing of it is left in the file).
    bool append(const QString &path, const QByteArray &bytes, QString *problem);

    const QString m_pattern; // with "{user}" and the home folder applied
    const QString m_port;
    const QString m_instrument;
    const OutputReport m_report;
    std::thread m_writer;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<RunLine> m_rows;
    bool m_writing = false; // the writer holds a row outside the queue
    bool m_failing = false;
    bool m_ending = false;
    quint64 m_dropped = 0;

    // Writer thread only.
    QFile m_file;
    QString m_openPath;
};

} // namespace omvara::run
