// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/run/OutputReport.h"
#include "omvara/run/RecordFile.h"
#include "omvara/run/ValueSink.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace omvara::run {

// The record file: one CSV row (RFC 4180, UTF-8) for every line of the run,
// in order, with what became of it. Each row is made as its line settles; a
// writer thread appends the rows to the file of each row's own date without
// syncing: each time it wakes it takes every row waiting (up to MaxBatch)
// and writes them in one write, so the queue stays short even in a flood
// (what a crash can lose). The file is never truncated and gets
// its header row only while it is empty.
//
// A file's first line decides its columns: a new file gets every column
// (Header, "connection" last); rows appended to a file whose header ends
// before "typed" or "connection" (written before that column was there) keep
// that file's columns.
// Readers are to go by the header. A text cell that a spreadsheet
// would take for a formula is written with a leading "'" (cell()).
//
// Before each write the writer checks that the open file is still the file
// at its path: when it was removed, moved or replaced (its folder too) that
// is reported once and the rows go to the path again.
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
    static constexpr std::size_t MaxBatch = 1000;
    static const QByteArray Header; // "time,port,instrument,raw,value,status,typed,connection\r\n"
    // The headers of files written before the "typed" and the "connection" column.
    static const QByteArray HeaderWithoutTyped; // "time,port,instrument,raw,value,status\r\n"
    static const QByteArray HeaderWithoutConnection; // "...,status,typed\r\n"
    // The columns of a file, by its header.
    enum class Columns { UpToStatus, UpToTyped, All };

    // `pattern` is the setting as stored; `port` and `instrument` fill their
    // columns for lines without an origin (RunLine::origin), which names them
    // and the connection.
    RecordFileOutput(QString pattern, QString port, QString instrument, OutputReport report);
    // Writes what still waits (when writing works), then ends the writer.
    ~RecordFileOutput() override;

    // Opens today's file (writing its header when it is new) before the
    // output starts: empty when it works, else why not (the folder does not
    // exist, a link that is not followed, ...). Event thread, before start().
    QString open();

    OutputKind kind() const override { return OutputKind::Record; }
    // The file written (today's, a link resolved).
    QString detail() const override;
    void start() override;
    void lineSettled(const RunLine &line) override;
    // Waits until the rows given so far are written, or writing fails.
    void join() override;

    // The file of a row made at `time`: "{date}" and "{user}" replaced, a
    // relative path (or "~/...") taken from the home folder.
    static QString pathFor(const QString &pattern, const QDateTime &time);
    // One row of the file, with its line end, in `columns`; the port, the
    // instrument and the connection are the line's origin's when it has one.
    static QByteArray row(
        const RunLine &line, const QString &port, const QString &instrument, Columns columns = Columns::All);
    // A text cell as written: with a leading "'" when it begins with "=",
    // "+", "-", "@", a tab or a carriage return, unless the whole cell is a
    // plain number (an optional sign, digits, at most one "." or ","), so
    // that a spreadsheet shows it as text instead of running it. Every text
    // cell of a row goes through here.
    static QString cell(const QString &text);

private:
    void writeRows();
    // A row made when its line settled (so that the writer only joins cells).
    struct Row
    {
        QDateTime time;
        QByteArray cells; // up to the status, without its line end
        QByteArray typed; // the "typed" cell
        QByteArray connection; // the "connection" cell
    };
    // Writer thread (or the event thread before it starts): appends `rows`
    // to the file at `path`, in the columns of that file; false with
    // `problem` set when that failed (nothing of it is left in the file).
    // `gone` is set when the open file was no longer the one at the path.
    bool append(const QString &path, const std::vector<Row> &rows, QString *problem, bool *gone = nullptr);

    const QString m_pattern; // with "{user}" and the home folder applied
    const QString m_port;
    const QString m_instrument;
    const OutputReport m_report;
    std::thread m_writer;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Row> m_rows;
    bool m_writing = false; // the writer holds a row outside the queue
    bool m_failing = false;
    bool m_ending = false;
    quint64 m_dropped = 0;
    QString m_target; // the file written, for detail()

    // Writer thread only (and open() before it starts).
    RecordFile m_file;
    Columns m_columns = Columns::All; // the open file's
    QByteArray m_bytes; // what append() writes
};

} // namespace omvara::run
