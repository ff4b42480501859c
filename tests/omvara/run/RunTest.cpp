// SPDX-License-Identifier: GPL-3.0-or-later
// A run as the window and the headless runner make it: bytes from the
// simulated serial side go in; what the keyboard typed (recorded key events,
// read back through the key map), what was printed, the view's lines and
// the run's state come out.
#include "BrokerProcesses.h"
#include "QtPrinters.h"
#include "RunRecords.h"

#include "omvara/config/Instrument.h"
#include "omvara/run/RecordFileOutput.h"
#include "omvara/run/Run.h"
#include "omvara/worker/Keybot.h"
#include "omvara/worker/WeightWorker.h"
#include "omvara/worker/WeightWorkerView.h"
#include "omvara/util/Interruption.h"
#include "omvara/util/ProcessProperties.h"
#include "omvara/worker/keys/KeyInjectors.h"
#include "omvara/worker/keys/PermissionWait.h"
#include "portlink/testing/ScopedNativeSide.h"
#include "portlink/testing/SimulatedNative.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using omvara::config::Config;
using omvara::run::RunState;
using omvara::worker::keys::KeyEvent;
using omvara::worker::keys::RecordingKeyInjector;
using Instrument = omvara::config::ConfigHelper::Instrument;
using KeyMap = omvara::config::ConfigHelper::KeyboardType::KeyMap;

namespace {

QCoreApplication &app()
{
    static int argc = 1;
    static char name[] = "omvara_run_tests";
    static char *argv[] = { name, nullptr };
    static QCoreApplication application(argc, argv);
    return application;
}

bool runUntil(const std::function<bool()> &condition, std::chrono::milliseconds timeout = 10s)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeout.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// The text the recorded key events type: each chord (keys pressed until all
// are released again) read back through the key map; the terminator key
// (Enter) ends a value.
QStringList typedTexts(const std::vector<KeyEvent> &events, const KeyMap &keyMap)
{
    QMap<QList<qint32>, char32_t> chords;
    for (auto it = keyMap.cbegin(); it != keyMap.cend(); ++it)
        chords.insert(it.value(), it.key());
    QStringList texts;
    QString current;
    QList<qint32> chord;
    int down = 0;
    for (const KeyEvent &e : events) {
        if (e.kind == KeyEvent::Press) {
            chord.append(e.value);
            ++down;
        } else if (e.kind == KeyEvent::Release && --down == 0) {
            if (chord == QList<qint32> { run_records::Enter }) {
                texts.append(current);
                current.clear();
            } else {
                current += chords.contains(chord) ? QString::fromUcs4(&chords[chord], 1) : QStringLiteral("?");
            }
            chord.clear();
        }
    }
    if (!current.isEmpty())
        texts.append(current + QStringLiteral("<cut>"));
    return texts;
}

// The view of the tests: everything the run reports, kept.
class RecordingRunView : public omvara::run::RunObserver, public omvara::run::RunQuestions
{
public:
    void logEvent(const QString &message) override { add(message, false); }
    void logImportantEvent(const QString &message) override { add(message, true); }
    void lineReceived(const omvara::worker::DataLine &line) override { lines.push_back(line); }
    void lineSettled(const omvara::run::RunLine &line) override { settled.push_back(line); }
    void stateChanged(const RunState &state) override { states.push_back(state); }

    bool goOnWithoutKeyboard(const QString &) override { return true; }
    void capsLockOn() override { }
    void soundFailed(const QString &) override { }
    void deviceWarning(const QString &, const QString &message) override { add(message, true); }
    void cannotStart(omvara::run::StartFailure, const QString &message) override { cannotStartWith = message; }

    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_important.clear();
        m_events.clear();
        lines.clear();
        settled.clear();
        states.clear();
        cannotStartWith.clear();
    }
    QStringList important() const
    {
        std::lock_guard lock(m_mutex);
        return m_important;
    }
    QStringList events() const
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    QStringList shownValues() const
    {
        QStringList values;
        for (const auto &line : lines)
            values.append(line.getProcessedData());
        return values;
    }

    std::vector<omvara::worker::DataLine> lines;
    std::vector<omvara::run::RunLine> settled;
    std::vector<RunState> states;
    QString cannotStartWith;

private:
    void add(const QString &text, bool important)
    {
        std::lock_guard lock(m_mutex);
        m_events.append(text);
        if (important)
            m_important.append(text);
    }
    mutable std::mutex m_mutex;
    QStringList m_important;
    QStringList m_events; // all of them
};

class RunTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        app();
        run_records::setProgramProperties();
        port = &native->addPort(QStringLiteral("COM5"));
        port->setNoModemLines(true);
    }

    // A run on COM5 typing into a recorder; with `keyTime` each key event takes that long.
    std::unique_ptr<omvara::run::Run> startRun(Config config, bool print = false, std::chrono::milliseconds keyTime = 0ms)
    {
        config.setPort(QStringLiteral("COM5"));
        config.setOutputTerminator(omvara::config::ConfigHelper::OutputTerminator::ENTER);
        omvara::run::Run::Options options;
        options.print = print;
        options.printTo = printed;
        options.sound = false;
        options.ownWindowFocused = ownFocus;
        options.makers.keybot = [this, keyTime](omvara::worker::WeightWorkerView *view, const Config &c) {
            auto recording = std::make_unique<RecordingKeyInjector>();
            keys = recording.get();
            if (keyTime > 0ms)
                keys->onEvent([keyTime](const KeyEvent &) { std::this_thread::sleep_for(keyTime); });
            return omvara::worker::Keybot::fromConfig(view, c, std::move(recording));
        };
        auto run = std::make_unique<omvara::run::Run>(std::move(config), std::move(options), view, view);
        EXPECT_TRUE(run->start()) << qPrintable(view.cannotStartWith);
        return run;
    }

    // Read through a descriptor of its own: moving the file position of
    // `printed` while the run prints would make it print over earlier lines.
    QStringList printedLines()
    {
        std::fflush(printed);
        QFile file(QStringLiteral("/proc/self/fd/%1").arg(fileno(printed)));
        if (!file.open(QIODevice::ReadOnly))
            return { QStringLiteral("<cannot read the printed lines>") };
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    std::shared_ptr<portlink::testing::SimulatedNative> native = std::make_shared<portlink::testing::SimulatedNative>();
    portlink::testing::ScopedNativeSide side { native };
    portlink::testing::SimulatedPort *port = nullptr;
    RecordingRunView view;
    RecordingKeyInjector *keys = nullptr;
    std::function<bool()> ownFocus; // the program's own window has the focus
    std::FILE *printed = std::tmpfile();

    void TearDown() override { std::fclose(printed); }
};

} // namespace

// Per instrument and settings: the values typed, the values printed and the
// lines the view shows are the same, in order; repeats are shown without a
// value and typed or printed once.
TEST_F(RunTest, bytesOfEachInstrument_typedAndPrintedAsProcessed_repeatsOnce)
{
    struct Case
    {
        const char *name;
        const Instrument &instrument;
        std::function<void(Config &)> settings;
        QByteArray sent;
        QStringList values;
    };
    const Case cases[] = {
        { "generic, negative and decimals", Instrument::GENERIC, [](Config &) { },
            "  12.30 g\r-0.5 g\rno value\r", { "12.30", "-0.5" } },
        { "Sartorius, 2 places", Instrument::SARTORIUS,
            [](Config &c) {
                c.setInputTerminator(10);
                c.setDecimalPlaces(QStringLiteral("2"));
            },
            "+    12.345 g  \r\n-      1.230 g  \r\n    High        \r\n", { "12.35", "-1.23" } },
        { "generic, times 1000, comma", Instrument::GENERIC,
            [](Config &c) {
                c.setMathOperation(omvara::config::ConfigHelper::MathOperation::MULTIPLY);
                c.setMathOperand(QStringLiteral("1000"));
                c.setDecimalSeparator(omvara::config::ConfigHelper::DecimalSeparator::COMMA);
            },
            "0.0125 kg\r", { "12,5000" } }, // exact arithmetic keeps the reading's decimal places
        { "barcode reader, letters and digits", Instrument::BARCODE_ALPHA, [](Config &) { }, "LOT42X\rA1 B2\r",
            { "LOT42X", "A1" } },
        { "repeats suppressed", Instrument::GENERIC,
            [](Config &c) {
                c.ignoreDuplicates = true;
                c.setIgnoreTimeLimit(QString());
                c.setIgnoreDifference(QString());
            },
            "12.5 g\r12.5 g\r13 g\r12.5 g\r", { "12.5", "", "13", "12.5" } },
    };
    for (const Case &c : cases) {
        for (const bool print : { false, true }) {
            SCOPED_TRACE(std::string(c.name) + (print ? ", printed" : ", typed"));
            Config config = c.instrument.getDefaultConfig();
            config.setInstrument(&c.instrument);
            c.settings(config);
            view.clear();
            std::fclose(printed);
            printed = std::tmpfile();
            auto run = startRun(config.copyConfig(), print);
            port->feed(c.sent);
            QStringList delivered = c.values;
            delivered.removeAll(QString());
            const auto lines = size_t(c.sent.count(char(config.getInputTerminator())));
            ASSERT_TRUE(runUntil([&] { return view.lines.size() == lines; }));
            ASSERT_TRUE(runUntil([&] {
                if (print)
                    return printedLines().size() >= delivered.size();
                // Whole values only: one still being typed ends in "<cut>".
                const QStringList typed = typedTexts(keys->events(), run->keybot()->keyMap());
                return typed.size() >= delivered.size()
                    && (typed.isEmpty() || !typed.last().endsWith(QStringLiteral("<cut>")));
            }));
            QStringList shown = view.shownValues();
            shown.removeAll(QString()); // lines without a value (a "High" overload, a text that is no code)
            QStringList expectedShown = c.values;
            expectedShown.removeAll(QString());
            EXPECT_EQ(shown, expectedShown);
            if (print)
                EXPECT_EQ(printedLines(), delivered);
            else
                EXPECT_EQ(typedTexts(keys->events(), run->keybot()->keyMap()), delivered);
            run->stop();
            ASSERT_TRUE(runUntil([&] { return run->state().ended(); }));
            EXPECT_EQ(run->state().end, RunState::End::Stopped);
            EXPECT_FALSE(port->isOpen());
        }
    }
}

// Stop while the keyboard is behind: the value being typed is finished, the
// waiting ones are dropped and reported with their number, nothing is typed
// twice; the run's state tells the way from Running to Ended by Stop.
TEST_F(RunTest, stopWithABacklog_finishesTheCurrentValue_dropsAndReportsTheRest)
{
    Config config = Instrument::GENERIC.getDefaultConfig();
    auto run = startRun(std::move(config), false, 1ms);
    port->feed(run_records::records(1, 40));
    ASSERT_TRUE(runUntil([&] { return view.lines.size() == 40; }));
    ASSERT_TRUE(runUntil([&] { return !typedTexts(keys->events(), run->keybot()->keyMap()).isEmpty(); }));
    run->stop();
    ASSERT_TRUE(runUntil([&] { return run->state().ended(); }));
    run->waitForOutputs();

    const QStringList typed = typedTexts(keys->events(), run->keybot()->keyMap());
    ASSERT_LT(typed.size(), 40) << "the keyboard was not behind";
    EXPECT_EQ(typed, run_records::numbers(1, int(typed.size())));
    EXPECT_EQ(run_records::droppedValues(view.important()), 40 - typed.size());
    // Every line is told once, in order: the typed ones, then the dropped ones.
    ASSERT_TRUE(runUntil([&] { return view.settled.size() == 40; }));
    for (qsizetype i = 0; i < 40; ++i) {
        EXPECT_EQ(view.settled[size_t(i)].count, i + 1);
        EXPECT_EQ(view.settled[size_t(i)].status,
            i < typed.size() ? omvara::run::LineStatus::Typed : omvara::run::LineStatus::NotTyped);
    }
    ASSERT_GE(view.states.size(), 2u);
    EXPECT_EQ(view.states.front().phase, RunState::Phase::Running);
    EXPECT_EQ(view.states.back().phase, RunState::Phase::Ended);
    EXPECT_EQ(view.states.back().end, RunState::End::Stopped);
    const RunState::Output *keyboard = run->state().output(QStringLiteral("keyboard"));
    ASSERT_NE(keyboard, nullptr);
    EXPECT_EQ(keyboard->detail, QStringLiteral("recording"));
}

// The device goes away: the run ends by itself with the reason, and the
// values it received are still typed (none dropped); a port that cannot be
// opened ends the start with the reason and no open port.
TEST_F(RunTest, deviceLostAndPortThatCannotOpen_endWithTheirReasons)
{
    Config config = Instrument::GENERIC.getDefaultConfig();
    auto run = startRun(std::move(config), false, 1ms);
    port->feed(run_records::records(1, 20));
    ASSERT_TRUE(runUntil([&] { return view.lines.size() == 20; }));
    port->unplug();
    ASSERT_TRUE(runUntil([&] { return run->state().ended(); }));
    EXPECT_EQ(run->state().end, RunState::End::DeviceLost);
    EXPECT_FALSE(run->state().reason.isEmpty());
    run->waitForOutputs();
    EXPECT_EQ(typedTexts(keys->events(), run->keybot()->keyMap()), run_records::numbers(1, 20));
    EXPECT_EQ(run_records::droppedValues(view.important()), 0);

    port->replug();
    port->failOpen(1002);
    Config again = Instrument::GENERIC.getDefaultConfig();
    again.setPort(QStringLiteral("COM5"));
    omvara::run::Run::Options options;
    options.print = true;
    options.printTo = printed;
    omvara::run::Run failing(std::move(again), options, view, view);
    EXPECT_FALSE(failing.start());
    EXPECT_EQ(failing.state().end, RunState::End::NotStarted);
    EXPECT_FALSE(view.cannotStartWith.isEmpty());
    EXPECT_EQ(failing.state().reason, view.cannotStartWith);
    EXPECT_FALSE(port->isOpen());
}

// Where the desktop asks permission to type (the portal's dialog), the
// keyboard starts on a thread of its own: the state and the log say that the
// run waits, with the runner's limit, while the event thread goes on; the
// answer starts the run; Stop ends the wait without opening the port.
TEST_F(RunTest, permissionToType_waitShownWhileTheEventThreadGoesOn_answerStarts_stopEndsTheWait)
{
    namespace kb = omvara::worker::keys;
    omvara::util::ProcessProperties::set(kb::KeyInjectors::propertyName(), QStringLiteral("portal"));
    for (const bool answered : {true, false}) {
        SCOPED_TRACE(answered ? "answered" : "stopped");
        view.clear();
        std::atomic<bool> answer {false};
        std::chrono::milliseconds limitSeen {0};
        omvara::run::Run::Options options;
        options.sound = false;
        options.permissionWait = 2min;
        options.makers.keybot = [&](omvara::worker::WeightWorkerView *v, const Config &c) {
            limitSeen = kb::PermissionWait::limit();
            kb::PermissionWait::waiting(QStringLiteral("answer the desktop's dialog"));
            while (!answer)
                omvara::util::Interruption::sleep(5ms); // Stop interrupts it
            auto recording = std::make_unique<RecordingKeyInjector>();
            keys = recording.get();
            return omvara::worker::Keybot::fromConfig(v, c, std::move(recording));
        };
        Config config = Instrument::GENERIC.getDefaultConfig();
        config.setPort(QStringLiteral("COM5"));
        config.setOutputTerminator(omvara::config::ConfigHelper::OutputTerminator::ENTER);
        omvara::run::Run run(std::move(config), std::move(options), view, view);
        bool waitShown = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (run.state().phase != RunState::Phase::Starting || !run.state().reason.contains("Waiting for permission"))
                return;
            waitShown = true;
            poll.stop();
            if (answered)
                answer = true;
            else
                run.stop();
        });
        poll.start(10);
        EXPECT_EQ(run.start(), answered);
        EXPECT_TRUE(waitShown);
        EXPECT_EQ(limitSeen, 2min);
        EXPECT_TRUE(view.important().contains(
            QStringLiteral("Waiting for permission to type: answer the desktop's dialog (at most 2 min).")))
            << qPrintable(view.important().join('\n'));
        if (answered) {
            EXPECT_TRUE(run.state().reason.isEmpty()) << qPrintable(run.state().reason);
            EXPECT_TRUE(port->isOpen());
            port->feed(run_records::records(1, 3));
            EXPECT_TRUE(runUntil([&] {
                return typedTexts(keys->events(), run.keybot()->keyMap()) == run_records::numbers(1, 3);
            })) << qPrintable(typedTexts(keys->events(), run.keybot()->keyMap()).join(' '));
            run.stop();
            ASSERT_TRUE(runUntil([&] { return run.state().ended(); }));
        } else {
            EXPECT_EQ(run.state().end, RunState::End::Stopped);
            EXPECT_FALSE(port->isOpen());
            EXPECT_TRUE(view.cannotStartWith.isEmpty());
        }
    }
    omvara::util::ProcessProperties::reset();
}

namespace {

// A recording keyboard whose pauses really pass (and end at once when the
// keyboard thread is interrupted), as on a real display.
class PausingKeys : public RecordingKeyInjector
{
public:
    void pause(int milliseconds) override
    {
        RecordingKeyInjector::pause(milliseconds);
        KeyInjector::pause(milliseconds);
    }
};

} // namespace

// Stop while a value is being typed with a key delay: the value is finished
// with its pauses (slow applications lose keys typed faster) and the window
// is told the keyboard is finishing; a second Stop cuts it off at once,
// without its terminator key, and says so.
TEST_F(RunTest, stopWhileTyping_finishesTheValueWithItsPauses_secondStopCutsItOff)
{
    constexpr int Delay = 15;
    for (const bool twice : { false, true }) {
        SCOPED_TRACE(twice ? "stopped twice" : "stopped once");
        view.clear();
        Config config = Instrument::GENERIC.getDefaultConfig();
        config.setDelay(QString::number(Delay));
        config.setPort(QStringLiteral("COM5"));
        config.setOutputTerminator(omvara::config::ConfigHelper::OutputTerminator::ENTER);
        PausingKeys *pausing = nullptr;
        omvara::run::Run::Options options;
        options.sound = false;
        options.makers.keybot = [&pausing](omvara::worker::WeightWorkerView *v, const Config &c) {
            auto injector = std::make_unique<PausingKeys>();
            pausing = injector.get();
            return omvara::worker::Keybot::fromConfig(v, c, std::move(injector));
        };
        omvara::run::Run run(std::move(config), options, view, view);
        ASSERT_TRUE(run.start());
        port->feed("123456789 g\r");
        ASSERT_TRUE(runUntil([&] { return !pausing->events().empty(); }));
        QElapsedTimer timer;
        timer.start();
        run.stop();
        if (twice) {
            ASSERT_TRUE(runUntil([&] { return run.state().ended(); }));
            run.stop();
        }
        run.waitForOutputs();
        const auto elapsed = timer.elapsed();
        const QStringList typed = typedTexts(pausing->events(), run.keybot()->keyMap());
        if (!twice) {
            EXPECT_EQ(typed, QStringList { "123456789" });
            // Nine characters and the terminator, a pause after each press and release.
            EXPECT_GE(elapsed, 19 * Delay - Delay * 2);
            ASSERT_TRUE(runUntil([&] {
                const RunState::Output *keyboard = run.state().output(QStringLiteral("keyboard"));
                return keyboard && keyboard->status == RunState::Output::Status::Ended;
            }));
            bool finishingSeen = false;
            for (const RunState &s : view.states)
                if (const RunState::Output *keyboard = s.output(QStringLiteral("keyboard")))
                    finishingSeen |= keyboard->status == RunState::Output::Status::Finishing;
            EXPECT_TRUE(finishingSeen);
        } else {
            ASSERT_EQ(typed.size(), 1);
            EXPECT_TRUE(typed[0].endsWith(QStringLiteral("<cut>"))) << qPrintable(typed[0]);
            EXPECT_TRUE(QStringLiteral("123456789<cut>").startsWith(typed[0].chopped(5)));
            EXPECT_TRUE(view.important().join(u'\n').contains(QStringLiteral("123456789"))) << "the cut value is reported";
        }
    }
}

// What became of each line, told once per line and in the order received,
// whatever its kind: typed (or printed), repeated, failed, without a value,
// and the half line left at Stop.
TEST_F(RunTest, everyLine_isSettledOnceInOrder_withWhatBecameOfIt)
{
    using omvara::run::LineStatus;
    for (const bool print : { false, true }) {
        SCOPED_TRACE(print ? "printed" : "typed");
        view.clear();
        Config config = Instrument::GENERIC.getDefaultConfig();
        config.setCustomRegEx(QStringLiteral("([a-z0-9.]+)"));
        config.ignoreDuplicates = true;
        config.setIgnoreTimeLimit(QString());
        config.setIgnoreDifference(QString());
        auto run = startRun(std::move(config), print, 1ms);
        port->feed("12.5 g\r12.5 g\rabc\r---\r7 g\rhalf");
        ASSERT_TRUE(runUntil([&] { return view.settled.size() == 5; }));
        // Else a Stop right after the fifth line may end reading before "half" was read.
        ASSERT_TRUE(port->waitUntilDrained(5s));
        run->stop();
        ASSERT_TRUE(runUntil([&] { return view.settled.size() == 6; }));
        const LineStatus delivered = print ? LineStatus::Printed : LineStatus::Typed;
        const std::vector<LineStatus> expected
            = { delivered, LineStatus::Duplicate, LineStatus::Error, LineStatus::NoValue, delivered, LineStatus::Unsent };
        for (size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(view.settled[i].status, expected[i]);
            EXPECT_EQ(view.settled[i].seq, qint64(i + 1));
        }
        EXPECT_EQ(view.settled[1].value, QStringLiteral("12.5")) << "the repeat keeps its value in the record";
        EXPECT_EQ(view.settled[2].raw, QStringLiteral("abc\r"));
        EXPECT_FALSE(view.settled[2].note.isEmpty());
        EXPECT_EQ(view.settled[5].raw, QStringLiteral("half"));
    }
}

// With "reconnect" on, the device going away does not end the run: the half
// line it was sending is reported as unsent and never typed, the run waits
// (WaitingForDevice, with the reason), and once the device is back it reads
// on with the line count carried on, every later value typed once. Stop
// while it waits ends the run at once.
TEST_F(RunTest, reconnect_deviceGoneAndBack_readsOnWithoutLossOrRepeat_stopWhileWaitingEndsAtOnce)
{
    for (const bool stopWhileWaiting : { false, true }) {
        SCOPED_TRACE(stopWhileWaiting ? "stopped while waiting" : "device back");
        view.clear();
        Config config = Instrument::GENERIC.getDefaultConfig();
        config.reconnect = true;
        auto run = startRun(std::move(config));
        port->feed(run_records::records(1, 3) + "4.5");
        ASSERT_TRUE(runUntil([&] { return view.lines.size() == 3 && port->pendingBytes() == 0; }));
        port->unplug();
        // The phase turns as the engine begins to wait; the report and the close follow on its thread.
        ASSERT_TRUE(runUntil([&] {
            return run->state().phase == RunState::Phase::WaitingForDevice && !port->isOpen()
                && view.important().join(u'\n').contains(QStringLiteral("not sent: 4.5"));
        })) << qPrintable(view.important().join(u'\n'));
        EXPECT_FALSE(run->state().reason.isEmpty());

        if (stopWhileWaiting) {
            QElapsedTimer timer;
            timer.start();
            run->stop();
            ASSERT_TRUE(runUntil([&] { return run->state().ended(); }));
            EXPECT_LT(timer.elapsed(), 500);
            EXPECT_EQ(run->state().end, RunState::End::Stopped);
            port->replug();
            continue;
        }
        port->replug();
        ASSERT_TRUE(runUntil([&] { return run->state().phase == RunState::Phase::Running && port->isOpen(); }));
        port->feed(run_records::records(5, 7));
        ASSERT_TRUE(runUntil([&] { return view.lines.size() == 6; }));
        EXPECT_EQ(view.lines.back().getCount(), 6);
        ASSERT_TRUE(runUntil([&] { return typedTexts(keys->events(), run->keybot()->keyMap()).size() >= 6; }));
        run->stop();
        ASSERT_TRUE(runUntil([&] { return run->state().ended(); }));
        run->waitForOutputs();
        EXPECT_EQ(typedTexts(keys->events(), run->keybot()->keyMap()),
            (QStringList { "1", "2", "3", "5", "6", "7" }));
        EXPECT_EQ(run->state().end, RunState::End::Stopped);
    }
}

namespace {

// The rows of an RFC 4180 text: fields separated by commas, rows by CRLF,
// quoted fields with doubled quotes and line breaks inside.
QList<QStringList> parseCsv(const QByteArray &bytes)
{
    const QString text = QString::fromUtf8(bytes);
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    bool wasQuoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                field += u'"';
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == u'"' && field.isEmpty() && !wasQuoted) {
            quoted = wasQuoted = true;
        } else if (c == u',') {
            row.append(field);
            field.clear();
            wasQuoted = false;
        } else if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            row.append(field);
            rows.append(row);
            row.clear();
            field.clear();
            wasQuoted = false;
            ++i;
        } else {
            field += c;
        }
    }
    if (!field.isEmpty() || !row.isEmpty())
        rows.append(row << field + QStringLiteral("<no line end>"));
    return rows;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QStringList CsvHeader = { "time", "port", "instrument", "raw", "value", "status" };

} // namespace

// Every line of a run gets its row in the record file, in order, with what
// became of it: read back with a CSV parser, commas, quotes and control
// characters of a line come back whole. A second run adds its rows to the
// same file, without a second header.
TEST_F(RunTest, everyLine_getsARowInTheRecordFile_readBackWithACsvParser)
{
    QTemporaryDir dir;
    const QString pattern = dir.filePath(QStringLiteral("scale-{date}.csv"));
    Config config = Instrument::GENERIC.getDefaultConfig();
    config.setCustomRegEx(QStringLiteral("([a-z0-9.]+)"));
    config.ignoreDuplicates = true;
    config.setIgnoreTimeLimit(QString());
    config.setIgnoreDifference(QString());
    config.setRecordFile(pattern);
    auto run = startRun(config.copyConfig(), false, 1ms);
    port->feed("12.5 g\r12.5 g\rabc\r---\r7, \"x\"\t g\r"
        + QByteArray(omvara::worker::WeightWorker::MaxLineLength, 'x') + "\rhalf");
    ASSERT_TRUE(runUntil([&] { return view.settled.size() == 6; }));
    ASSERT_TRUE(port->waitUntilDrained(5s));
    run->stop();
    ASSERT_TRUE(runUntil([&] { return run->state().ended() && view.settled.size() == 7; }));
    run->waitForOutputs();
    run.reset();

    auto second = startRun(config.copyConfig(), true);
    port->feed("3 g\r");
    ASSERT_TRUE(runUntil([&] { return printedLines().size() == 1; }));
    second->stop();
    ASSERT_TRUE(runUntil([&] { return second->state().ended(); }));
    second->waitForOutputs();
    EXPECT_EQ(second->state().output(QStringLiteral("record"))->status, RunState::Output::Status::Working);
    second.reset();

    const QString file = omvara::run::RecordFileOutput::pathFor(pattern, QDateTime::currentDateTime());
    const QList<QStringList> rows = parseCsv(fileBytes(file));
    struct Row
    {
        QString raw;
        QString value;
        QString status;
    };
    const Row expected[] = {
        { "12.5 g<13>", "12.5", "typed" },
        { "12.5 g<13>", "12.5", "duplicate" },
        { "abc<13>", "", "error" },
        { "---<13>", "", "no value" },
        { "7, \"x\"<9> g<13>", "7", "typed" },
        { QString(omvara::worker::WeightWorker::MaxLineLength, u'x'), "", "overflow" },
        { "half", "", "unsent" },
        { "3 g<13>", "3", "printed" },
    };
    ASSERT_EQ(rows.size(), qsizetype(std::size(expected)) + 1)
        << qPrintable(QString::fromUtf8(fileBytes(file).left(2000)));
    EXPECT_EQ(rows[0], CsvHeader);
    const QRegularExpression iso(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"));
    for (qsizetype i = 0; i < qsizetype(std::size(expected)); ++i) {
        SCOPED_TRACE(i);
        const QStringList &row = rows[i + 1];
        ASSERT_EQ(row.size(), 6) << qPrintable(row.join(u'|').left(200));
        EXPECT_TRUE(iso.match(row[0]).hasMatch()) << qPrintable(row[0]);
        EXPECT_EQ(row[1], QStringLiteral("COM5"));
        EXPECT_EQ(row[2], QStringLiteral("GENERIC"));
        EXPECT_EQ(row[3], expected[i].raw);
        EXPECT_EQ(row[4], expected[i].value);
        EXPECT_EQ(row[5], expected[i].status);
    }
}

// The file a row goes to: "{date}" is the date of the row's own time (a row
// after midnight goes to the next day's file), "{user}" the login name, and
// a relative path is taken from the home folder.
TEST(RecordFile, pathOfARow_dateOfItsOwnTime_userAndHome)
{
    const QByteArray user = qgetenv("USER");
    qputenv("USER", "lab7");
    const QDateTime beforeMidnight(QDate(2026, 12, 31), QTime(23, 59, 59, 999));
    const QDateTime afterMidnight = beforeMidnight.addMSecs(1);
    const QString home = QDir::homePath();
    struct Case
    {
        const char *pattern;
        QDateTime time;
        QString path;
    };
    const Case cases[] = {
        { "/data/{user}/scale-{date}.csv", beforeMidnight, "/data/lab7/scale-2026-12-31.csv" },
        { "/data/{user}/scale-{date}.csv", afterMidnight, "/data/lab7/scale-2027-01-01.csv" },
        { "records.csv", afterMidnight, home + "/records.csv" },
        { "lab/{date}/{user}.csv", beforeMidnight, home + "/lab/2026-12-31/lab7.csv" },
        { "~/records/{date}.csv", afterMidnight, home + "/records/2027-01-01.csv" },
    };
    for (const Case &c : cases)
        EXPECT_EQ(omvara::run::RecordFileOutput::pathFor(QString::fromUtf8(c.pattern), c.time), c.path)
            << c.pattern;
    qputenv("USER", user);
}

namespace {

bool haveBrokerPrograms()
{
    return !QStandardPaths::findExecutable(QStringLiteral("mosquitto")).isEmpty()
        && !QStandardPaths::findExecutable(QStringLiteral("mosquitto_sub")).isEmpty();
}

int count(const QStringList &entries, const QString &part)
{
    int n = 0;
    for (const QString &e : entries)
        n += e.contains(part) ? 1 : 0;
    return n;
}

bool outputWas(const std::vector<RunState> &states, const QString &name, RunState::Output::Status status)
{
    for (const RunState &s : states)
        if (const RunState::Output *o = s.output(name); o && o->status == status)
            return true;
    return false;
}

const QString cannotReach = QStringLiteral("cannot be reached");
const QString connectedAgain = QStringLiteral("again; the waiting values follow");

} // namespace

// The network path to the broker is cut during a run (a relay drops every
// connection and refuses new ones for a while) and mended: every value still
// reaches the subscriber, once after repeats are dropped and in order of seq.
// The loss and the return are each told once, and the output's state shows them.
TEST_F(RunTest, brokerPathCutAndMended_everyValueArrivesInOrder_lossToldOnce)
{
    ASSERT_TRUE(haveBrokerPrograms()) << "mosquitto and mosquitto-clients are needed (scripts/lib/deps.sh)";
    QTemporaryDir dir;
    const int brokerPort = broker_test::freePort();
    broker_test::MosquittoBroker broker(dir.path(), QStringLiteral("listener %1 127.0.0.1").arg(brokerPort));
    ASSERT_TRUE(broker.start(brokerPort)) << qPrintable(broker.log());
    broker_test::Subscriber subscriber(brokerPort, QStringLiteral("lab/scale1"));
    ASSERT_TRUE(subscriber.waitUntilSubscribed());
    broker_test::TcpRelay relay(brokerPort);

    Config config = Instrument::GENERIC.getDefaultConfig();
    config.setMqttUrl(QStringLiteral("mqtt://127.0.0.1:%1/lab/scale1").arg(relay.port()));
    auto run = startRun(std::move(config), true);
    port->feed(run_records::records(1, 100));
    ASSERT_TRUE(runUntil([&] { return subscriber.seqsOnce().size() >= 20; }));
    relay.cut(); // values may be on their way right now
    port->feed(run_records::records(101, 200));
    ASSERT_TRUE(runUntil([&] { return count(view.important(), cannotReach) > 0; }));
    QElapsedTimer cut;
    cut.start();
    ASSERT_TRUE(runUntil([&] {
        subscriber.collect();
        return cut.elapsed() > 2000;
    }));
    relay.mend();
    port->feed(run_records::records(201, 300));
    ASSERT_TRUE(runUntil([&] { return subscriber.seqsOnce().size() >= 300; }, 30s))
        << subscriber.seqsOnce().size() << " of 300";

    EXPECT_EQ(subscriber.seqsOnce(), broker_test::oneTo(300));
    EXPECT_EQ(
        broker_test::checkMessages(subscriber.messages(), run_records::numbers(1, 300), QStringLiteral("COM5")),
        QString());
    EXPECT_EQ(count(view.important(), cannotReach), 1) << qPrintable(view.important().join(u'\n'));
    EXPECT_EQ(count(view.important(), connectedAgain), 1) << qPrintable(view.important().join(u'\n'));
    EXPECT_TRUE(outputWas(view.states, QStringLiteral("broker"), RunState::Output::Status::Failed));
    EXPECT_EQ(run->state().output(QStringLiteral("broker"))->status, RunState::Output::Status::Working);
    run->stop();
    ASSERT_TRUE(runUntil([&] { return run->state().ended(); }));
    run->waitForOutputs();
}

// The broker is not running when the run starts and comes up later: the
// values received meanwhile wait and arrive, in order. (The subscriber's
// session outlives the broker's restart, so nothing published at once after
// the broker is back can pass it by.)
TEST_F(RunTest, brokerDownAtStart_valuesWaitAndArriveWhenItComesUp)
{
    ASSERT_TRUE(haveBrokerPrograms()) << "mosquitto and mosquitto-clients are needed (scripts/lib/deps.sh)";
    QTemporaryDir dir;
    const int brokerPort = broker_test::freePort();
    broker_test::MosquittoBroker broker(dir.path(),
        QStringLiteral("listener %1 127.0.0.1\npersistence true\npersistence_location %2/\n")
            .arg(brokerPort)
            .arg(dir.path()));
    ASSERT_TRUE(broker.start(brokerPort)) << qPrintable(broker.log());
    broker_test::Subscriber subscriber(
        brokerPort, QStringLiteral("lab/scale2"), QStringLiteral("omvara-test-subscriber"));
    ASSERT_TRUE(subscriber.waitUntilSubscribed());
    broker.stop();

    Config config = Instrument::GENERIC.getDefaultConfig();
    config.setMqttUrl(QStringLiteral("mqtt://127.0.0.1:%1/lab/scale2").arg(brokerPort));
    auto run = startRun(std::move(config), true);
    port->feed(run_records::records(1, 50));
    ASSERT_TRUE(runUntil([&] { return printedLines().size() == 50; }));
    ASSERT_TRUE(runUntil([&] {
        const RunState::Output *broker = run->state().output(QStringLiteral("broker"));
        return broker && broker->status == RunState::Output::Status::Failed;
    }));
    EXPECT_EQ(count(view.important(), cannotReach), 1) << qPrintable(view.important().join(u'\n'));

    ASSERT_TRUE(broker.start(brokerPort)) << qPrintable(broker.log());
    port->feed(run_records::records(51, 60));
    ASSERT_TRUE(runUntil([&] { return subscriber.seqsOnce().size() >= 60; }, 30s))
        << subscriber.seqsOnce().size();
    EXPECT_EQ(subscriber.seqsOnce(), broker_test::oneTo(60));
    EXPECT_EQ(
        broker_test::checkMessages(subscriber.messages(), run_records::numbers(1, 60), QStringLiteral("COM5")),
        QString());
    EXPECT_EQ(count(view.important(), cannotReach), 1) << qPrintable(view.important().join(u'\n'));
    run->stop();
    ASSERT_TRUE(runUntil([&] { return run->state().ended(); }));
    run->waitForOutputs();
}

// The settled-readings filter: a value is handed on once the same value
// arrived N times in a row, once per run of equal values; it comes before
// duplicate suppression; lines without a value and failed lines neither
// count nor break a run; held readings are settled as held, with their value.
TEST_F(RunTest, settledReadings_handOnOncePerRunOfEqualValues_beforeDuplicateSuppression)
{
    using omvara::run::LineStatus;
    struct Case
    {
        const char *name;
        int stable;
        bool ignoreDuplicates;
        QByteArray sent;
        QStringList printed;
        int held;
    };
    const Case cases[] = {
        { "every value with 1", 1, false, "7\r7\r8\r", { "7", "7", "8" }, 0 },
        { "drifting readings never settle", 3, false, "12.1\r12.2\r12.3\r12.4\r12.5\r", {}, 5 },
        { "a reading that settles, once", 3, false, "12.1\r12.5\r12.5\r12.5\r12.5\r12.5\r", { "12.5" }, 5 },
        { "back to the value after another one", 2, false, "5\r5\r6\r5\r5\r", { "5", "5" }, 3 },
        { "then duplicate suppression takes the repeat", 2, true, "5\r5\r6\r5\r5\r", { "5" }, 3 },
        { "a settled change is no duplicate", 2, true, "5\r5\r6\r6\r5\r5\r", { "5", "6", "5" }, 3 },
        { "no value and failed lines neither count nor break", 3, false, "5\r---\r5\rabc\r5\r5\r", { "5" }, 3 },
        { "equal as texts only", 2, false, "12.30\r12.3\r12.30\r", {}, 3 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        view.clear();
        std::fclose(printed);
        printed = std::tmpfile();
        Config config = Instrument::GENERIC.getDefaultConfig();
        config.setCustomRegEx(QStringLiteral("([a-z0-9.]+)")); // "abc" fails in number formatting
        config.stableReadings = c.stable;
        config.ignoreDuplicates = c.ignoreDuplicates;
        config.setIgnoreTimeLimit(QString());
        config.setIgnoreDifference(QString());
        auto run = startRun(std::move(config), true);
        port->feed(c.sent);
        const auto lines = size_t(c.sent.count('\r'));
        ASSERT_TRUE(runUntil([&] { return view.settled.size() == lines; }));
        EXPECT_EQ(printedLines(), c.printed);
        int held = 0;
        for (const auto &line : view.settled) {
            if (line.status == LineStatus::Held) {
                ++held;
                EXPECT_FALSE(line.value.isEmpty());
            }
        }
        EXPECT_EQ(held, c.held);
        run->stop();
        ASSERT_TRUE(runUntil([&] { return run->state().ended(); }));
    }
}

// Requests: each one writes the command once, also while earlier ones have
// no answer; the instrument's silence is reported once per silent stretch;
// a write the port refuses is reported and the run goes on; while the run
// waits for a lost device requests are held back, not reported as failed;
// without any command a request writes nothing and says so once.
TEST_F(RunTest, requests_eachWritesTheCommand_silenceToldOncePerStretch_failedWriteGoesOn)
{
    using omvara::run::RequestOrigin;
    const auto silences = [&] {
        return view.important().filter(QStringLiteral("did not answer")).size();
    };
    Config config = Instrument::GENERIC.getDefaultConfig();
    config.requestCommand = QStringLiteral("SI\\r\\n");
    auto run = startRun(std::move(config), true);
    EXPECT_EQ(run->requestCommand(), QByteArray("SI\r\n"));
    port->answerRequests("SI\r\n", "  1.5 g\r");
    run->request(RequestOrigin::Window);
    run->request(RequestOrigin::Signal);
    ASSERT_TRUE(runUntil([&] { return view.lines.size() == 2; }));
    EXPECT_EQ(port->written(), QByteArray("SI\r\nSI\r\n"));

    // The instrument falls silent: one report for all unanswered requests.
    port->answerRequests({}, {});
    run->request(RequestOrigin::Hotkey);
    ASSERT_TRUE(runUntil([&] { return silences() == 1; }, 5s));
    run->request(RequestOrigin::Interval);
    runUntil([] { return false; }, 2500ms);
    EXPECT_EQ(silences(), 1);
    // It answers again; the next silence is a new stretch.
    port->feed("  2.5 g\r");
    ASSERT_TRUE(runUntil([&] { return view.lines.size() == 3; }));
    runUntil([] { return false; }, 300ms);
    run->request(RequestOrigin::Window);
    ASSERT_TRUE(runUntil([&] { return silences() == 2; }, 5s));

    // A refused write.
    port->forceResult(portlink::testing::SimCall::PutData, -1, 1);
    run->request(RequestOrigin::Window);
    ASSERT_TRUE(runUntil([&] { return !view.important().filter(QStringLiteral("could not be sent")).isEmpty(); }));
    EXPECT_EQ(run->state().phase, RunState::Phase::Running);
    run->stop();
    ASSERT_TRUE(runUntil([&] { return run->state().ended(); }));
    EXPECT_EQ(printedLines(), (QStringList { "1.5", "1.5", "2.5" }));

    // Held back, not failed, while the run waits for a lost device.
    view.clear();
    Config waiting = Instrument::GENERIC.getDefaultConfig();
    waiting.requestCommand = QStringLiteral("P\\r");
    waiting.reconnect = true;
    auto reconnecting = startRun(std::move(waiting), true);
    port->unplug();
    ASSERT_TRUE(runUntil([&] { return reconnecting->state().phase == RunState::Phase::WaitingForDevice; }));
    const QByteArray sentBefore = port->written();
    reconnecting->request(RequestOrigin::Window);
    runUntil([] { return false; }, 2500ms);
    EXPECT_EQ(port->written(), sentBefore);
    EXPECT_TRUE(view.important().filter(QStringLiteral("could not be sent")).isEmpty());
    EXPECT_TRUE(view.important().filter(QStringLiteral("did not answer")).isEmpty());
    port->replug();
    ASSERT_TRUE(runUntil([&] { return reconnecting->state().phase == RunState::Phase::Running; }));
    reconnecting->request(RequestOrigin::Window);
    ASSERT_TRUE(runUntil([&] { return port->written() == sentBefore + "P\r"; }));
    reconnecting->stop();
    ASSERT_TRUE(runUntil([&] { return reconnecting->state().ended(); }));

    // No command at all (a generic instrument, no setting).
    view.clear();
    auto plain = startRun(Instrument::GENERIC.getDefaultConfig(), true);
    const QByteArray before = port->written();
    plain->request(RequestOrigin::Window);
    plain->request(RequestOrigin::Window);
    runUntil([] { return false; }, 200ms);
    EXPECT_EQ(port->written(), before);
    EXPECT_EQ(view.important().filter(QStringLiteral("no request command")).size(), 1) << qPrintable(view.important().join(u'\n'));
    plain->stop();
    ASSERT_TRUE(runUntil([&] { return plain->state().ended(); }));
}

// While the program's own window has the focus a value is not typed, except
// the answer to a request from the window's Request control: it waits for
// the focus to leave (at most WindowRequestFocusWait) and is then typed.
TEST_F(RunTest, ownFocus_valueNotTyped_butTheAnswerToTheWindowsRequestWaitsForTheFocusToLeave)
{
    using omvara::run::LineStatus;
    using omvara::run::RequestOrigin;
    std::atomic<bool> focused = true;
    ownFocus = [&] { return focused.load(); };
    Config config = Instrument::GENERIC.getDefaultConfig();
    config.requestCommand = QStringLiteral("P\\r");
    auto run = startRun(std::move(config));
    port->feed("  1.5 g\r");
    ASSERT_TRUE(runUntil([&] { return view.settled.size() == 1; }));
    EXPECT_EQ(view.settled[0].status, LineStatus::NotTyped);

    port->answerRequests("P\r", "  2.5 g\r");
    run->request(RequestOrigin::Window);
    ASSERT_TRUE(runUntil([&] { return !view.events().filter(QStringLiteral("waits up to 10 s")).isEmpty(); }))
        << qPrintable(view.events().join(u'\n'));
    runUntil([] { return false; }, 300ms);
    EXPECT_EQ(view.settled.size(), 1u) << "the answer waits";
    focused = false; // the user switches to the application
    ASSERT_TRUE(runUntil([&] { return view.settled.size() == 2; }));
    EXPECT_EQ(view.settled[1].status, LineStatus::Typed);
    EXPECT_EQ(view.settled[1].value, QStringLiteral("2.5"));

    // Requests from elsewhere (here the hotkey's) do not wait.
    focused = true;
    run->request(RequestOrigin::Hotkey);
    ASSERT_TRUE(runUntil([&] { return view.settled.size() == 3; }));
    EXPECT_EQ(view.settled[2].status, LineStatus::NotTyped);
    run->stop();
    ASSERT_TRUE(runUntil([&] { return run->state().ended(); }));
}
