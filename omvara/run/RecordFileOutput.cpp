// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/run/RecordFileOutput.h"

#include "omvara/processing/DataLine.h"
#include "omvara/texts/WorkerTexts.h"

#include <QDir>

#include <chrono>
#include <vector>

namespace omvara::run {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto RetryPause = 1s;
constexpr auto DropReportInterval = 10s;

QString text(const char *key, const QStringList &args)
{
    return texts::WorkerTexts::format(texts::WorkerTexts::text(key), args);
}

QString loginName()
{
    for (const char *variable : { "USER", "LOGNAME" }) {
        const QString name = qEnvironmentVariable(variable);
        if (!name.isEmpty())
            return name;
    }
    return QDir::home().dirName();
}

// "{user}" and the home folder applied; "{date}" is left for each row.
QString userPath(const QString &pattern)
{
    QString path = pattern;
    path.replace(QLatin1String("{user}"), loginName());
    if (path == u'~' || path.startsWith(QLatin1String("~/")))
        return QDir::homePath() + path.mid(1);
    if (QDir::isRelativePath(path))
        return QDir::home().filePath(path);
    return path;
}

QString datedPath(const QString &path, const QDateTime &time)
{
    if (!path.contains(QLatin1String("{date}")))
        return path;
    QString dated = path;
    return dated.replace(QLatin1String("{date}"), time.date().toString(Qt::ISODate));
}

// Whether `text` is a plain number: an optional sign, digits, at most one "." or ",".
bool plainNumber(const QString &text)
{
    qsizetype i = 0;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    bool digit = false;
    bool mark = false;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c >= u'0' && c <= u'9')
            digit = true;
        else if ((c == u'.' || c == u',') && !mark)
            mark = true;
        else
            return false;
    }
    return digit;
}

// One field of RFC 4180: quoted when it holds a comma, a quote or a line break.
void appendField(QByteArray &out, const QString &field)
{
    const QByteArray bytes = RecordFileOutput::cell(field).toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\r') && !bytes.contains('\n')) {
        out += bytes;
        return;
    }
    out += '"';
    for (const char c : bytes) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

} // namespace

const QByteArray RecordFileOutput::Header
    = QByteArrayLiteral("time,port,instrument,raw,value,status,typed,connection\r\n");
const QByteArray RecordFileOutput::HeaderWithoutConnection
    = QByteArrayLiteral("time,port,instrument,raw,value,status,typed\r\n");
const QByteArray RecordFileOutput::HeaderWithoutTyped
    = QByteArrayLiteral("time,port,instrument,raw,value,status\r\n");

RecordFileOutput::RecordFileOutput(QString pattern, QString port, QString instrument, OutputReport report)
    : m_pattern(userPath(pattern))
    , m_port(std::move(port))
    , m_instrument(std::move(instrument))
    , m_report(std::move(report))
{
}

RecordFileOutput::~RecordFileOutput()
{
    {
        std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_changed.notify_all();
    if (m_writer.joinable())
        m_writer.join();
}

QString RecordFileOutput::detail() const
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_target.isEmpty())
            return m_target;
    }
    return datedPath(m_pattern, QDateTime::currentDateTime());
}

QString RecordFileOutput::open()
{
    QString problem;
    if (!append(datedPath(m_pattern, QDateTime::currentDateTime()), {}, &problem))
        return problem;
    return {};
}

QString RecordFileOutput::cell(const QString &text)
{
    if (text.isEmpty())
        return text;
    const QChar first = text.front();
    const bool formula = first == u'=' || first == u'+' || first == u'-' || first == u'@' || first == u'\t'
        || first == u'\r';
    return formula && !plainNumber(text) ? u'\'' + text : text;
}

QString RecordFileOutput::pathFor(const QString &pattern, const QDateTime &time)
{
    return datedPath(userPath(pattern), time);
}

namespace {

// The cells of a row up to its status.
QByteArray cellsUpToStatus(const RunLine &line, const QString &port, const QString &instrument)
{
    QByteArray out;
    out.reserve(64 + line.raw.size() * 2);
    out += isoTime(line.time).toLatin1();
    out += ',';
    appendField(out, port);
    out += ',';
    appendField(out, instrument);
    out += ',';
    appendField(out, processing::DataLine::transformControlChars(line.raw));
    out += ',';
    appendField(out, line.value);
    out += ',';
    out += statusText(line.status).toLatin1();
    return out;
}

QByteArray fieldCell(const QString &text)
{
    QByteArray out;
    appendField(out, text);
    return out;
}

// One row of a file with the columns `columns`.
void appendRow(QByteArray &out, const QByteArray &cells, const QByteArray &typed,
    const QByteArray &connection, RecordFileOutput::Columns columns)
{
    using Columns = RecordFileOutput::Columns;
    out += cells;
    if (columns != Columns::UpToStatus) {
        out += ',';
        out += typed;
    }
    if (columns == Columns::All) {
        out += ',';
        out += connection;
    }
    out += "\r\n";
}

// The columns of a file whose first line is `header`.
RecordFileOutput::Columns columnsOf(const QByteArray &header)
{
    using Columns = RecordFileOutput::Columns;
    const QByteArray last = header.split(',').last();
    return last == "connection" ? Columns::All : last == "typed" ? Columns::UpToTyped : Columns::UpToStatus;
}

} // namespace

QByteArray RecordFileOutput::row(
    const RunLine &line, const QString &port, const QString &instrument, Columns columns)
{
    const LineOrigin *o = line.origin;
    QByteArray out;
    appendRow(out, cellsUpToStatus(line, o ? o->port : port, o ? o->instrument : instrument),
        fieldCell(line.typed), fieldCell(o ? o->connection : QString()), columns);
    return out;
}

void RecordFileOutput::start()
{
    if (m_writer.joinable())
        return;
    m_report.event(text("record.started", { detail() }));
    m_writer = std::thread([this] { writeRows(); });
}

void RecordFileOutput::lineSettled(const RunLine &line)
{
    const LineOrigin *o = line.origin;
    Row made { line.time, cellsUpToStatus(line, o ? o->port : m_port, o ? o->instrument : m_instrument),
        fieldCell(line.typed), fieldCell(o ? o->connection : QString()) };
    {
        std::lock_guard lock(m_mutex);
        m_rows.push_back(std::move(made));
        if (m_rows.size() > Capacity) {
            m_rows.pop_front();
            ++m_dropped;
        }
    }
    m_changed.notify_all();
}

void RecordFileOutput::join()
{
    std::unique_lock lock(m_mutex);
    if (!m_writer.joinable())
        return;
    m_changed.wait(lock, [this] { return (m_rows.empty() && !m_writing) || m_failing; });
}

bool RecordFileOutput::append(const QString &path, const std::vector<Row> &rows, QString *problem, bool *gone)
{
    if (m_file.isOpen() && m_file.path() == path && !m_file.stillAtPath()) {
        // Rows written on would go into a file no one finds any more.
        m_file.close();
        if (gone)
            *gone = true;
    }
    bool header = false;
    bool lineEnd = false;
    if (!m_file.isOpen() || m_file.path() != path) {
        if (!m_file.open(path, problem))
            return false;
        {
            std::lock_guard lock(m_mutex);
            m_target = m_file.target();
        }
        header = m_file.size() == 0;
        // A row cut short (by a crash) is not continued by the next one.
        lineEnd = !header && !m_file.endsWithLineEnd();
        // The file's own header says whether it has the "typed" column.
        m_columns = header ? Columns::All : columnsOf(m_file.firstLine());
    }
    m_bytes.clear();
    if (header)
        m_bytes += Header;
    else if (lineEnd)
        m_bytes += "\r\n";
    for (const Row &row : rows)
        appendRow(m_bytes, row.cells, row.typed, row.connection, m_columns);
    if (m_bytes.isEmpty())
        return true;
    if (m_file.append(m_bytes, problem))
        return true;
    m_file.close();
    return false;
}

void RecordFileOutput::writeRows()
{
    Clock::time_point retryAt;
    Clock::time_point lastDropReport;
    quint64 reportedDrops = 0;
    QString shownPath = datedPath(m_pattern, QDateTime::currentDateTime());
    bool failing = false;

    const auto reportDrops = [&](bool atEnd) {
        quint64 dropped = 0;
        {
            std::lock_guard lock(m_mutex);
            dropped = m_dropped;
        }
        if (dropped == reportedDrops
            || (!atEnd && reportedDrops != 0 && Clock::now() - lastDropReport < DropReportInterval))
            return;
        reportedDrops = dropped;
        lastDropReport = Clock::now();
        m_report.importantEvent(text("record.rows.dropped", { QString::number(dropped) }));
    };
    // Writer thread: the outcome of one write.
    const auto outcome = [&](bool ok, const QString &path, const QString &why, std::size_t left, bool gone) {
        if (gone)
            m_report.importantEvent(text("record.file.gone", { path }));
        const QString written = ok ? m_file.target() : path;
        if (ok && failing) {
            m_report.importantEvent(text("record.works.again", { written, QString::number(left) }));
            m_report.state(RunState::Output::Status::Working, written);
        } else if (ok && (written != shownPath || gone)) {
            m_report.state(RunState::Output::Status::Working, written); // a new day's file
        } else if (!ok && !failing) {
            m_report.importantEvent(text("record.failed", { path, why }));
            m_report.state(RunState::Output::Status::Failed, path + QStringLiteral(": ") + why);
        }
        if (ok)
            shownPath = written;
        failing = !ok;
    };

    // The file of today at once (with its header when new), so that a file
    // that cannot be written is reported before the first line arrives;
    // open() has done this already when the run asked first.
    if (!m_file.isOpen()) {
        QString problem;
        const bool ok = append(shownPath, {}, &problem);
        {
            std::lock_guard lock(m_mutex);
            m_failing = !ok;
        }
        outcome(ok, shownPath, problem, 0, false);
        retryAt = Clock::now() + RetryPause;
        m_changed.notify_all();
    } else {
        shownPath = m_file.target();
    }

    std::vector<Row> batch;
    batch.reserve(MaxBatch);
    for (;;) {
        bool ending = false;
        batch.clear();
        {
            std::unique_lock lock(m_mutex);
            for (;;) {
                if (m_rows.empty()) {
                    if (m_ending)
                        break;
                    m_changed.wait(lock);
                } else if (m_failing && !m_ending && Clock::now() < retryAt) {
                    m_changed.wait_until(lock, retryAt);
                } else {
                    break;
                }
            }
            if (m_rows.empty())
                break; // ending, everything written
            // Every row waiting that goes to the same file as the first.
            const QDate date = m_rows.front().time.date();
            while (!m_rows.empty() && batch.size() < MaxBatch && m_rows.front().time.date() == date) {
                batch.push_back(std::move(m_rows.front()));
                m_rows.pop_front();
            }
            m_writing = true;
            ending = m_ending;
        }
        reportDrops(false);

        const QString path = datedPath(m_pattern, batch.front().time);
        QString problem;
        bool gone = false;
        const bool ok = append(path, batch, &problem, &gone);
        std::size_t waiting = 0;
        std::size_t lost = 0;
        {
            std::lock_guard lock(m_mutex);
            m_writing = false;
            if (ok) {
                m_failing = false;
            } else if (ending) {
                // The end of the run: no time is left to wait for the disk.
                lost = m_rows.size() + batch.size();
                m_rows.clear();
            } else {
                for (auto line = batch.rbegin(); line != batch.rend(); ++line)
                    m_rows.push_front(std::move(*line));
                while (m_rows.size() > Capacity) {
                    m_rows.pop_front();
                    ++m_dropped;
                }
                m_failing = true;
                retryAt = Clock::now() + RetryPause;
            }
            waiting = m_rows.size();
        }
        m_changed.notify_all();
        outcome(ok, path, problem, waiting, gone);
        if (lost > 0) {
            m_report.importantEvent(text("record.rows.not.written", { QString::number(lost) }));
            break;
        }
    }
    reportDrops(true);
    m_file.close();
}

} // namespace omvara::run
