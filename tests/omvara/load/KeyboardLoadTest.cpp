// SPDX-License-Identifier: GPL-3.0-or-later
// The keyboard path under load: the event thread enqueues values as fast as it
// can while the keyboard thread takes and types them, and Stop comes at a
// drawn moment, while values wait, while one is being typed or while the
// keyboard thread waits in a pause or for the next value.
#include "LoadSupport.h"

#include "omvara/outputs/Keybot.h"
#include "omvara/reception/WeightWorkerView.h"

#include <gtest/gtest.h>

#include <mutex>
#include <random>
#include <thread>

using namespace load_test;
using omvara::outputs::Keybot;
using omvara::outputs::keys::KeyInjector;
using omvara::outputs::keys::RecordingKeyInjector;
using KeyboardType = omvara::config::ConfigHelper::KeyboardType;
using KeyMapType = omvara::config::ConfigHelper::KeyMapType;

namespace {

// Records like the recording keyboard and really waits its pauses, as the
// platform backends do (interruptibly).
class PausingKeyInjector : public RecordingKeyInjector
{
public:
    void pause(int milliseconds) override
    {
        RecordingKeyInjector::pause(milliseconds);
        KeyInjector::pause(milliseconds);
    }
};

class ReportsView : public omvara::reception::WeightWorkerView
{
public:
    void logEvent(const QString &) override { }
    void logImportantEvent(const QString &message) override
    {
        std::lock_guard lock(m_mutex);
        m_important.append(message);
    }
    void setConnectedInGUI(bool) override { }
    void showDataLine(omvara::processing::DataLine &) override { }
    QStringList important() const
    {
        std::lock_guard lock(m_mutex);
        return m_important;
    }

private:
    mutable std::mutex m_mutex;
    QStringList m_important;
};

struct Case
{
    const char *name;
    int keyDelay; // milliseconds after each key press and release
    bool pausing; // pauses are waited (else only recorded)
    int rounds;
    int maxValues;
};

class KeyboardLoad : public ::testing::TestWithParam<Case>
{
protected:
};

} // namespace

// Per run: the values typed are the first ones enqueued, in order, each whole
// (start to terminator key); every value enqueued is either typed or counted in
// the "not typed" report (those waiting at Stop and those handed over after
// it); the shared queue is empty afterwards.
TEST_P(KeyboardLoad, enqueueWhileTypingThenStop_typesAPrefixWholeAndReportsTheRest)
{
    const Case &c = GetParam();
    const unsigned seed = std::random_device {}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    long next = 1;
    for (int round = 0; round < c.rounds; ++round) {
        SCOPED_TRACE("run " + std::to_string(round + 1));
        ReportsView view;
        std::unique_ptr<RecordingKeyInjector> injector
            = c.pausing ? std::make_unique<PausingKeyInjector>() : std::make_unique<RecordingKeyInjector>();
        RecordingKeyInjector *keys = injector.get();
        Keybot bot(
            &view, KeyboardType::QUERTY, KeyMapType::NUMERIC, 0, Enter, c.keyDelay, std::move(injector));
        bot.start();

        const int total = std::uniform_int_distribution<int>(0, c.maxValues)(random);
        const int beforeStop = std::uniform_int_distribution<int>(0, total)(random);
        QStringList enqueued;
        for (int i = 0; i < total; ++i) {
            if (i == beforeStop)
                bot.stop();
            enqueued.append(QString::number(next++));
            bot.enqueue(enqueued.last());
            if (random() % 16 == 0)
                std::this_thread::yield(); // let the keyboard thread catch up now and then
        }
        bot.stop();
        bot.join();

        const QStringList typed = typedValues(keys->events());
        ASSERT_LE(typed.size(), beforeStop);
        EXPECT_EQ(typed, enqueued.mid(0, typed.size()));
        EXPECT_EQ(droppedValues(view.important()), total - typed.size());
        EXPECT_EQ(bot.waiting(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, KeyboardLoad,
    ::testing::Values(Case { "recordedPauses", 0, false, 60, 400 }, Case { "waitedPauses", 1, true, 12, 12 }),
    [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });
