// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/outputs/Keybot.h"
#include "omvara/run/ValueSink.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>

namespace omvara::outputs {
class SoundBot;
} // namespace omvara::outputs

namespace omvara::run {

// Values typed on the keyboard by a Keybot with its own keyboard thread.
class KeyboardOutput : public ValueSink
{
public:
    // `onLost` is called once, on the keyboard thread, when the keystroke
    // backend goes away for good; `onEnd` when the keyboard thread ends;
    // `onOutcome` for every value put(), with its seq (Keybot::setOutcomeHandler).
    KeyboardOutput(std::unique_ptr<outputs::Keybot> keybot, std::function<void(const QString &)> onLost,
        std::function<void()> onEnd,
        std::function<void(qint64 seq, const outputs::Keybot::Outcome &outcome)> onOutcome);
    ~KeyboardOutput() override;

    OutputKind kind() const override { return OutputKind::Keyboard; }
    QString detail() const override;
    void start() override;
    void put(const RunLine &line) override;
    void stop() override;
    void finish() override;
    void abort() override;
    void join() override;

    outputs::Keybot &keybot() { return *m_keybot; }

private:
    std::unique_ptr<outputs::Keybot> m_keybot;
};

// Values printed one per line, exactly as they would have been typed (start
// and terminator keys are not printed): `line.typed`, the stamps included.
// The values of a batch are gathered and written together at its end
// (flush()), whole lines only; a run's values never wait for a later one.
class PrintOutput : public ValueSink
{
public:
    // `prefix` begins every line (the connection's name and a tab, when
    // several connections print).
    explicit PrintOutput(std::FILE *out = stdout, QString prefix = {})
        : m_out(out)
        , m_prefix(prefix.toUtf8())
    {
    }
    ~PrintOutput() override { flush(); }
    OutputKind kind() const override { return OutputKind::Print; }
    void put(const RunLine &line) override;
    void flush() override;

private:
    std::FILE *m_out;
    QByteArray m_prefix;
    std::mutex m_mutex;
    QByteArray m_gathered; // put() since the last flush()
};

// The confirmation stroke of each value.
class SoundOutput : public ValueSink
{
public:
    explicit SoundOutput(std::unique_ptr<outputs::SoundBot> soundBot);
    ~SoundOutput() override;

    OutputKind kind() const override { return OutputKind::Sound; }
    void put(const RunLine &line) override;
    void stop() override;

private:
    std::unique_ptr<outputs::SoundBot> m_soundBot;
};

} // namespace omvara::run
