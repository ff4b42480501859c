// SPDX-License-Identifier: GPL-3.0-or-later
// The keyboard focus moves while values are typed, from outside: a simulated
// balance counting 1, 2, 3, ... on a pseudo-terminal, the whole program
// typing into an xterm on an X server of the test's own, and xdotool moving
// the focus away in the middle of the typing. Afterwards the record file's
// `typed` rows must be exactly what the xterm received, value for value,
// and anything else the xterm received must be the beginning of a value the
// record calls `cut`.
//  - With the window: the focus goes to Omvara's own window again and
//    again; the Resume button is pressed there each time (its mnemonic).
//  - Headless: the focus goes to another xterm; the run ends at the first
//    cut with status 1 and the reason, and nothing more is typed anywhere.
#include "QtPrinters.h"
#include "XServer.h"
#include "XtermReceiver.h"

#include "omvara/config/Config.h"
#include "omvara/config/ConfigStore.h"
#include "omvara/config/Instrument.h"
#include "omvara/prefs/FilePreferencesFactory.h"
#include "omvara/util/ProcessProperties.h"

#include "XWindowClose.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

namespace {

using omvara::config::ConfigHelper;

const QString WindowTitle = QStringLiteral("Brindlecote Omvara");

QString xdotool(const QStringList &args)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), args);
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

bool waitFor(const std::function<bool()> &condition, int milliseconds = 15000)
{
    QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}

class Process
{
public:
    explicit Process(const QProcessEnvironment &env) { m_process.setProcessEnvironment(env); }
    ~Process()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QProcess *operator->() { return &m_process; }
    QString readLine()
    {
        QDeadlineTimer deadline(10000);
        while (!m_process.canReadLine() && !deadline.hasExpired())
            m_process.waitForReadyRead(100);
        return QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }

private:
    QProcess m_process;
};

struct Row
{
    QString value;
    QString status;
};

// The record file's rows (RFC 4180, header row first): value and status,
// found by the header's names.
std::vector<Row> recordRows(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    std::vector<Row> rows;
    QStringList fields;
    QString field;
    bool quoted = false;
    qsizetype valueColumn = -1;
    qsizetype statusColumn = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                field += c;
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            fields.append(field);
            field.clear();
        } else if (c == u'\n') {
            fields.append(field.endsWith(u'\r') ? field.chopped(1) : field);
            field.clear();
            if (valueColumn < 0) {
                valueColumn = fields.indexOf(QLatin1String("value"));
                statusColumn = fields.indexOf(QLatin1String("status"));
            } else if (fields.size() > std::max(valueColumn, statusColumn)) {
                rows.push_back({ fields[valueColumn], fields[statusColumn] });
            }
            fields.clear();
        } else {
            field += c;
        }
    }
    return rows;
}

// True when `text` is the beginnings of `cuts`, one after the other, in
// order (each possibly all of it).
bool cutBeginnings(const QString &text, const QStringList &cuts)
{
    if (cuts.isEmpty())
        return text.isEmpty();
    for (qsizetype n = std::min(text.size(), cuts.first().size()); n >= 0; --n) {
        if (cuts.first().startsWith(text.left(n)) && cutBeginnings(text.mid(n), cuts.mid(1)))
            return true;
    }
    return false;
}

// Checks what the xterms received against the record: each `typed` row is
// the next line (ended by Enter) of one of them, after at most the
// beginnings of the values cut since the row before; nothing else arrived
// but the beginnings of the values cut after the last typed row, in one of them.
struct Verdict
{
    int typed = 0;
    int cut = 0;
    QString problem;
};
Verdict compare(const QList<QByteArray> &received, const std::vector<Row> &rows)
{
    Verdict verdict;
    QStringList streams;
    for (const QByteArray &bytes : received)
        streams.append(QString::fromUtf8(bytes));
    QList<qsizetype> positions(streams.size(), 0);
    QStringList cuts;
    for (const Row &row : rows) {
        if (row.status == QLatin1String("cut")) {
            ++verdict.cut;
            cuts.append(row.value);
            continue;
        }
        if (row.status != QLatin1String("typed"))
            continue;
        ++verdict.typed;
        bool found = false;
        QStringList seen;
        for (qsizetype w = 0; w < streams.size() && !found; ++w) {
            const qsizetype end = streams[w].indexOf(u'\r', positions[w]);
            if (end < 0)
                continue;
            const QString line = streams[w].mid(positions[w], end - positions[w]);
            seen.append(line);
            if (line.endsWith(row.value) && cutBeginnings(line.chopped(row.value.size()), cuts)) {
                positions[w] = end + 1;
                found = true;
            }
        }
        if (!found) {
            verdict.problem = QStringLiteral(
                "typed row %1 is \"%2\", the next lines received are \"%3\" (cut before it: %4)")
                                  .arg(verdict.typed)
                                  .arg(row.value, seen.join(QStringLiteral("\", \"")), cuts.join(u' '));
            return verdict;
        }
        cuts.clear();
    }
    QStringList tails;
    for (qsizetype w = 0; w < streams.size(); ++w) {
        if (positions[w] < streams[w].size())
            tails.append(streams[w].mid(positions[w]));
    }
    if (tails.size() > 1 || !cutBeginnings(tails.value(0), cuts))
        verdict.problem = QStringLiteral("received \"%1\" after the last typed row (cut: %2)")
                              .arg(tails.join(QStringLiteral("\", \"")), cuts.join(u' '));
    return verdict;
}

class FocusMove : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (server.display().isEmpty())
            FAIL() << "no X server: " << server.error().toStdString();
        for (const char *tool : { "xterm", "xdotool" })
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                FAIL() << tool << " is not installed";
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        env.insert("OMVARA_KEYBOARD", "x11");
        env.remove("DBUS_SESSION_BUS_ADDRESS");
    }

    // A balance counting up, every `interval` ms.
    QString startSimulator(Process &simulator, int interval)
    {
        simulator->start(QStringLiteral(OMVARA_PROGRAM),
            { "--simulate", "SARTORIUS", "--interval", QString::number(interval), "--sequence" });
        return simulator.readLine();
    }

    x_server::PrivateServer server;
    x_server::UseDisplay use { server };
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString record = home.filePath("record.csv");
};

} // namespace

// The window: the keyboard is busy all the time (values come faster than
// they are typed with the delay of 20 ms), the focus goes to Omvara's window
// twelve times for a moment, and the Resume button is pressed there.
TEST_F(FocusMove, toOmvarasWindowWhileTyping_recordTypedRowsEqualTheXterm_eachCutResumed)
{
    XtermReceiver xterm;
    ASSERT_TRUE(xterm.ready()) << xterm.error().toStdString();
    Process simulator(env);
    const QString pty = startSimulator(simulator, 50);
    ASSERT_TRUE(pty.startsWith("/dev/pts/")) << pty.toStdString();

    const QString prefsFile = home.filePath("prefs.txt");
    omvara::util::ProcessProperties::set(
        omvara::prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE, prefsFile);
    omvara::prefs::FilePreferencesFactory::forgetPreferencesFile();
    {
        omvara::prefs::FilePreferencesFactory factory;
        omvara::config::ConfigStore store(factory);
        omvara::config::Config settings = ConfigHelper::Instrument::SARTORIUS.getDefaultConfig();
        settings.setInstrument(ConfigHelper::Instrument::SARTORIUS);
        settings.setPort(pty);
        settings.setConnect(ConfigHelper::Connect::AUTO);
        settings.setOutputTerminator(ConfigHelper::OutputTerminator::ENTER);
        settings.setDelay(QStringLiteral("20"));
        settings.setRecordFile(record);
        settings.setMinimizeToTray(false);
        settings.setCheckForUpdates(false);
        store.saveConfig(settings);
    }
    omvara::util::ProcessProperties::remove(omvara::prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE);
    // This user told the question on closing during a run not to ask again,
    // with "Stop and quit": closing below ends the program.
    {
        QDir().mkpath(home.filePath("config/Brindlecote"));
        QFile state(home.filePath("config/Brindlecote/OmvaraWindow.ini"));
        ASSERT_TRUE(state.open(QIODevice::WriteOnly));
        state.write("[close]\nanswer=stopAndQuit\n");
    }

    Process omvara(env);
    omvara->setStandardOutputFile(home.filePath("output.txt"));
    omvara->setProcessChannelMode(QProcess::MergedChannels);
    omvara->start(QStringLiteral(OMVARA_PROGRAM), { "--prefs-file", prefsFile, pty });
    ASSERT_TRUE(omvara->waitForStarted(5000));
    const auto output = [&] {
        QFile file(home.filePath("output.txt"));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    };
    QString window;
    ASSERT_TRUE(waitFor([&] {
        window = xdotool({ "search", "--onlyvisible", "--name", WindowTitle }).section(u'\n', 0, 0);
        return !window.isEmpty();
    })) << output();
    ASSERT_TRUE(xterm.focus()) << xterm.error().toStdString();
    ASSERT_TRUE(waitFor([&] { return xterm.receivedNow().count('\r') >= 3; })) << output();

    std::mt19937 random(7);
    int moves = 0;
    for (; moves < 12; ++moves) {
        QThread::msleep(500 + random() % 500);
        xdotool({ "windowfocus", "--sync", window });
        QThread::msleep(500);
        // Resume, on Omvara's own window (where the user looks at what was cut).
        xdotool({ "key", "--clearmodifiers", "alt+r" });
        QThread::msleep(100);
        ASSERT_TRUE(xterm.focus()) << xterm.error().toStdString();
    }
    QThread::msleep(600);
    ASSERT_TRUE(closeWindow(window.toULong()));
    ASSERT_TRUE(omvara->waitForFinished(15000)) << output();
    EXPECT_EQ(omvara->exitCode(), 0) << output();

    const std::vector<Row> rows = recordRows(record);
    const Verdict verdict = compare({ xterm.receivedNow() }, rows);
    EXPECT_TRUE(verdict.problem.isEmpty()) << verdict.problem.toStdString();
    RecordProperty("rows", int(rows.size()));
    RecordProperty("typed", verdict.typed);
    RecordProperty("cut", verdict.cut);
    EXPECT_GE(int(rows.size()), 50);
    EXPECT_GE(verdict.typed, 50);
    EXPECT_GE(verdict.cut, 8) << "the keyboard is busy at nearly every move";
    EXPECT_GE(moves, 10);
}

// Headless: the run ends at the first cut, with status 1 and the reason;
// nothing more is typed anywhere.
TEST_F(FocusMove, toAnotherWindowHeadless_runEndsAtTheCutWithStatus1_nothingRunsOnElsewhere)
{
    XtermReceiver other(QString(), QStringLiteral("-other"));
    ASSERT_TRUE(other.ready()) << other.error().toStdString();
    XtermReceiver xterm;
    ASSERT_TRUE(xterm.ready()) << xterm.error().toStdString();
    Process simulator(env);
    const QString pty = startSimulator(simulator, 40);
    ASSERT_TRUE(pty.startsWith("/dev/pts/")) << pty.toStdString();

    Process omvara(env);
    omvara->setStandardErrorFile(home.filePath("log.txt"));
    omvara->start(QStringLiteral(OMVARA_PROGRAM),
        { "--headless", "--set", "instrument=SARTORIUS", "--set", "outputTerminator=ENTER", "--set",
            "delay=20", "--set", "recordFile=" + record, pty });
    ASSERT_TRUE(omvara->waitForStarted(5000));
    const auto log = [&] {
        QFile file(home.filePath("log.txt"));
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    };
    ASSERT_TRUE(waitFor([&] { return xterm.receivedNow().count('\r') >= 12; })) << log().toStdString();
    // A move that falls between a value's last key press (Enter) and the
    // next value's first one cuts nothing: that value goes whole to the new
    // window, as when the user switches between values. Then the focus goes
    // back and forth again, until a move falls inside a value.
    int moves = 0;
    for (; moves < 8 && omvara->state() != QProcess::NotRunning; ++moves) {
        XtermReceiver &to = moves % 2 == 0 ? other : xterm;
        ASSERT_TRUE(to.focus()) << to.error().toStdString();
        omvara->waitForFinished(1000);
    }
    ASSERT_TRUE(omvara->state() == QProcess::NotRunning || omvara->waitForFinished(5000))
        << "the run goes on after " << moves << " moves\n"
        << log().toStdString();
    const QString errors = log();
    EXPECT_EQ(omvara->exitCode(), 1) << errors.toStdString();
    EXPECT_TRUE(errors.contains(QStringLiteral("omvara: A value was cut"))) << errors.toStdString();

    // Nothing after the cut, in either window.
    const std::vector<Row> rows = recordRows(record);
    const Verdict verdict = compare({ xterm.receivedNow(), other.receivedNow() }, rows);
    EXPECT_TRUE(verdict.problem.isEmpty()) << verdict.problem.toStdString();
    EXPECT_EQ(verdict.cut, 1);
    EXPECT_GE(verdict.typed, 4);
}
