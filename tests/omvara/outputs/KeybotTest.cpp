// SPDX-License-Identifier: GPL-3.0-or-later
#include "QtPrinters.h"
#include "RecordingView.h"

#include "omvara/outputs/Keybot.h"
#include "omvara/util/Bundle.h"
#include "tests/support/RecordingKeyInjector.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <map>

using namespace omvara::outputs;
using omvara::outputs::keys::KeyEvent;
using omvara::outputs::keys::RecordingKeyInjector;
using KeyboardType = omvara::config::ConfigHelper::KeyboardType;
using KeyMapType = omvara::config::ConfigHelper::KeyMapType;

namespace {

constexpr int Shift = 16, Enter = 10, Tab = 9, F2 = 113;

KeyEvent P(int code)
{
    return KeyEvent::press(code);
}
KeyEvent R(int code)
{
    return KeyEvent::release(code);
}
KeyEvent D(int ms)
{
    return KeyEvent::pause(ms);
}

std::vector<KeyEvent> operator+(std::vector<KeyEvent> a, const std::vector<KeyEvent> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One key typed as part of a value: press, pause, release, pause.
std::vector<KeyEvent> key(int code, int d)
{
    return { P(code), D(d), R(code), D(d) };
}
// A shifted key: both pressed, then released in reverse order.
std::vector<KeyEvent> shifted(int code, int d)
{
    return { P(Shift), D(d), P(code), D(d), R(code), D(d), R(Shift), D(d) };
}
// A start or terminator key: no pause after the release.
std::vector<KeyEvent> tap(int code, int d)
{
    return { P(code), D(d), R(code) };
}

QString cannotType()
{
    return omvara::util::Bundle::get("omvara.worker.WorkerBundle").getString("cannot_type");
}

struct Typist
{
    RecordingView view;
    RecordingKeyInjector *keys;
    std::unique_ptr<Keybot> bot;

    Typist(const KeyboardType &type, const KeyMapType &repertoire, int start, int terminator, int delay,
        bool withView = true)
    {
        auto injector = std::make_unique<RecordingKeyInjector>();
        keys = injector.get();
        bot = std::make_unique<Keybot>(
            withView ? &view : nullptr, type, repertoire, start, terminator, delay, std::move(injector));
    }

    // Types one value the way the keyboard thread does.
    std::vector<KeyEvent> type(const QString &value)
    {
        keys->clear();
        bot->typeStart();
        bot->typeString(value);
        bot->typeEnd();
        return keys->events();
    }
};

class KeybotTest : public ::testing::Test
{
protected:
};

} // namespace

TEST_F(KeybotTest, negativeDecimal_isTypedKeyForKeyWithPausesAndTheTerminator)
{
    const int d = 7;
    Typist t(KeyboardType::QUERTY, KeyMapType::NUMERIC, 0, Enter, d);
    const auto expected = key(45, d) + key(49, d) + key(50, d) + key(46, d) + key(53, d) + tap(Enter, d);
    EXPECT_EQ(t.type("-12.5"), expected);
    EXPECT_TRUE(t.view.important().isEmpty());
}

TEST_F(KeybotTest, azertyDigitsAndSigns_useShiftReleasedInReverseOrder)
{
    const int d = 3;
    Typist t(KeyboardType::AZERTY, KeyMapType::NUMERIC, 0, 0, d);
    EXPECT_EQ(t.type("7"), shifted(55, d));
    EXPECT_EQ(t.type("-1.5"), key(54, d) + shifted(49, d) + shifted(59, d) + shifted(53, d));
}

TEST_F(KeybotTest, capitalsAndColon_differByLayout)
{
    const int d = 0;
    Typist querty(KeyboardType::QUERTY, KeyMapType::ALPHANUMERIC_COMPLETE, 0, 0, d);
    Typist azerty(KeyboardType::AZERTY, KeyMapType::ALPHANUMERIC_COMPLETE, 0, 0, d);
    EXPECT_EQ(querty.type("Ab:"), shifted(65, d) + key(66, d) + shifted(59, d));
    EXPECT_EQ(azerty.type("Ab:"), shifted(65, d) + key(66, d) + key(513, d));
}

TEST_F(KeybotTest, untypeableCharacters_areSkippedAndReportedTheRestIsTyped)
{
    const QString cannot = cannotType();
    struct Case
    {
        QString value;
        const KeyMapType *repertoire;
        std::vector<KeyEvent> typed;
        QStringList reports;
    } cases[] = {
        { "12 kg", &KeyMapType::NUMERIC, key(49, 1) + key(50, 1) + tap(Enter, 1),
            { cannot + " ", cannot + "k", cannot + "g" } },
        { "1\r2", &KeyMapType::NUMERIC, key(49, 1) + key(50, 1) + tap(Enter, 1), { cannot + "<13>" } },
        { "kg", &KeyMapType::ALPHANUMERIC_BASIC, tap(Enter, 1), { cannot + "k", cannot + "g" } },
        { QString::fromUtf8("\xc3\xa9") + "1", &KeyMapType::ALPHANUMERIC_COMPLETE, key(49, 1) + tap(Enter, 1),
            { cannot + "<233>" } },
        { QString::fromUtf8("\xf0\x9f\x98\x80") + "1", &KeyMapType::ALPHANUMERIC_COMPLETE,
            key(49, 1) + tap(Enter, 1), { cannot + "<128512>" } },
        { "a\x7f", &KeyMapType::ALPHANUMERIC_COMPLETE, key(65, 1) + tap(Enter, 1), { cannot + "<127>" } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value.toStdString());
        Typist t(KeyboardType::QUERTY, *c.repertoire, 0, Enter, 1);
        EXPECT_EQ(t.type(c.value), c.typed);
        EXPECT_EQ(t.view.important(), c.reports);
    }
}

TEST_F(KeybotTest, withoutView_untypeableCharactersAreSkippedSilently)
{
    Typist t(KeyboardType::QUERTY, KeyMapType::NUMERIC, 0, 0, 0, false);
    EXPECT_EQ(t.type("1 kg"), key(49, 0));
}

TEST_F(KeybotTest, startKey_isTypedBeforeTheValueWithoutPauseAfterItsRelease)
{
    const int d = 5;
    Typist t(KeyboardType::QUERTY, KeyMapType::NUMERIC, F2, Tab, d);
    EXPECT_EQ(t.type("3"), tap(F2, d) + key(51, d) + tap(Tab, d));
}

TEST_F(KeybotTest, refusedPress_isReportedAndTypingGoesOnRefusedReleaseIsSilent)
{
    const int d = 2;
    Typist t(KeyboardType::AZERTY, KeyMapType::NUMERIC, 0, Enter, d);
    t.keys->refuse(Shift, "Invalid key code");
    // The shifted digit loses its Shift press (and release) but not its pauses.
    EXPECT_EQ(t.type("1"), (std::vector<KeyEvent> { D(d), P(49), D(d), R(49), D(d), D(d) }) + tap(Enter, d));
    EXPECT_EQ(t.view.important(), QStringList { "Keycode (AZERTY) 16 error: Invalid key code" });
}

TEST_F(KeybotTest, refusedTerminator_isReportedInsteadOfEndingTheKeyboardThread)
{
    Typist t(KeyboardType::QUERTY, KeyMapType::NUMERIC, 0, Enter, 0);
    t.keys->refuse(Enter, "Invalid key code");
    EXPECT_EQ(t.type("1"), key(49, 0) + std::vector<KeyEvent> { D(0) });
    EXPECT_EQ(t.view.important(), QStringList { "Keycode (QUERTY) 10 error: Invalid key code" });
}

TEST_F(KeybotTest, enqueue_dropsEmptyTextsAndKeepsTheOrder)
{
    Typist t(KeyboardType::QUERTY, KeyMapType::NUMERIC, 0, 0, 0);
    t.bot->enqueue("");
    t.bot->enqueue("1");
    t.bot->enqueue("");
    t.bot->enqueue("2");
    EXPECT_EQ(t.bot->waiting(), 2u);
}

TEST_F(KeybotTest, keyboardThread_typesABacklogWholeAndInOrder)
{
    Typist t(KeyboardType::QUERTY, KeyMapType::NUMERIC, 0, Enter, 0);
    std::promise<void> done;
    int enters = 0;
    t.keys->onEvent([&](const KeyEvent &e) {
        if (e == R(Enter) && ++enters == 30)
            done.set_value();
    });
    std::vector<KeyEvent> expected;
    for (int i = 0; i < 30; ++i) {
        const QString value = QString::number(i * 7 - 50);
        t.bot->enqueue(value);
        t.bot->enqueue(""); // no value: no keys at all, not even the terminator
        for (QChar c : value)
            expected = expected + key(c == '-' ? 45 : 48 + c.digitValue(), 0);
        expected = expected + tap(Enter, 0);
    }
    t.bot->start();
    ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
    t.bot->stop();
    EXPECT_EQ(t.keys->events(), expected);
    EXPECT_TRUE(t.view.important().isEmpty());
}

TEST_F(KeybotTest, stopDuringABacklog_finishesTheCurrentValueAndDropsAndReportsTheRest)
{
    Typist t(KeyboardType::QUERTY, KeyMapType::NUMERIC, 0, Enter, 1);
    std::mutex mutex;
    std::condition_variable resume;
    bool stopped = false;
    std::promise<void> typing;
    t.keys->onEvent([&](const KeyEvent &e) {
        if (e == P(49)) { // the first key of the first value: hold the keyboard thread here
            typing.set_value();
            std::unique_lock lock(mutex);
            resume.wait(lock, [&] { return stopped; });
        }
    });
    t.bot->enqueue("12");
    t.bot->enqueue("34");
    t.bot->enqueue("56");
    t.bot->start();
    ASSERT_EQ(typing.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
    t.bot->stop();
    {
        std::lock_guard lock(mutex);
        stopped = true;
    }
    resume.notify_all();
    t.bot->join();

    EXPECT_EQ(t.keys->events(), key(49, 1) + key(50, 1) + tap(Enter, 1));
    const QString report = omvara::util::Bundle::get("omvara.worker.WorkerBundle")
                               .getString("values.not.typed")
                               .replace("%s", "2");
    EXPECT_EQ(t.view.important(), QStringList { report });
    EXPECT_EQ(t.bot->waiting(), 0u);
}

TEST_F(KeybotTest, valueHandedOverAfterStop_isDroppedAndReportedNotTypedAtTheNextRun)
{
    const QString report = omvara::util::Bundle::get("omvara.worker.WorkerBundle")
                               .getString("values.not.typed")
                               .replace("%s", "1");
    {
        Typist first(KeyboardType::QUERTY, KeyMapType::NUMERIC, 0, 0, 0);
        first.bot->start();
        first.bot->stop();
        first.bot->enqueue("8"); // a line handled after Stop but before the run's objects are dropped
        EXPECT_EQ(first.view.important(), QStringList { report });
        EXPECT_EQ(first.bot->waiting(), 0u);
    }
}

TEST_F(KeybotTest, stopWithNothingQueued_reportsNothing)
{
    Typist t(KeyboardType::QUERTY, KeyMapType::NUMERIC, 0, 0, 0);
    t.bot->start();
    t.bot->stop();
    t.bot->stop();
    t.bot->join();
    EXPECT_TRUE(t.view.important().isEmpty());
}

// Whatever the delay, the press of a key just released comes at least
// SameKeyGap after the release (applications that take the two for
// auto-repeat drop the press: "1000" would arrive as "10"). A value without
// doubled keys is typed without a wait.
TEST_F(KeybotTest, doubledKeys_waitTheGapAfterTheirRelease_otherKeysDoNotWait)
{
    using std::chrono::microseconds;
    using std::chrono::milliseconds;
    struct Case
    {
        const KeyboardType &type;
        QString value;
        int delay;
        milliseconds took; // from the first press to the last event
    };
    // At delay 0 "12.5" goes at once; the second "0" of "1000" and the third
    // wait 2 ms after the release of the one before, and so does a "0" that
    // comes back within 2 ms ("0.001"). With AZERTY every digit is Shift and
    // the key: Shift is doubled too. At 1 ms the doubled keys wait 1 ms more
    // than the delay.
    const Case cases[] = {
        { KeyboardType::QUERTY, "12.5", 0, milliseconds(0) },
        { KeyboardType::QUERTY, "1000", 0, milliseconds(2 + 2) },
        { KeyboardType::QUERTY, "0.001", 0, milliseconds(2 + 2) },
        { KeyboardType::AZERTY, "00", 0, milliseconds(2) },
        { KeyboardType::QUERTY, "1000", 1, milliseconds(4 * 2 + 1 + 1 + 1) },
        { KeyboardType::QUERTY, "1000", 20, milliseconds(4 * 40 + 20) },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value.toStdString() + " at " + std::to_string(c.delay) + " ms, "
            + (&c.type == &KeyboardType::AZERTY ? "AZERTY" : "QUERTY"));
        Typist t(c.type, KeyMapType::NUMERIC, 0, Enter, c.delay);
        const std::vector<KeyEvent> events = t.type(c.value);
        const std::vector<microseconds> times = t.keys->times();
        ASSERT_EQ(events.size(), times.size());
        std::map<int, microseconds> released;
        microseconds first(-1), last(0);
        for (std::size_t i = 0; i < events.size(); ++i) {
            if (events[i].kind == KeyEvent::Pause)
                continue;
            if (events[i].kind == KeyEvent::Press) {
                if (first < microseconds(0))
                    first = times[i];
                if (released.contains(events[i].value)) {
                    EXPECT_GE(times[i] - released[events[i].value], microseconds(2000)) << "press " << i;
                }
            } else {
                released[events[i].value] = times[i];
            }
            last = times[i];
        }
        EXPECT_EQ(std::chrono::duration_cast<milliseconds>(last - first), c.took);
    }
}
