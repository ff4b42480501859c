// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/run/ValueOutputs.h"

#include "omvara/outputs/Keybot.h"
#include "omvara/outputs/SoundBot.h"

#include <stdio.h>

namespace omvara::run {

KeyboardOutput::KeyboardOutput(std::unique_ptr<outputs::Keybot> keybot,
    std::function<void(const QString &)> onLost, std::function<void()> onEnd,
    std::function<void(qint64 seq, const outputs::Keybot::Outcome &outcome)> onOutcome)
    : m_keybot(std::move(keybot))
{
    m_keybot->setLostHandler(std::move(onLost));
    m_keybot->setEndHandler(std::move(onEnd));
    m_keybot->setOutcomeHandler(std::move(onOutcome));
}

KeyboardOutput::~KeyboardOutput() = default;

QString KeyboardOutput::detail() const
{
    return m_keybot->backendName();
}

void KeyboardOutput::start()
{
    m_keybot->start();
}

void KeyboardOutput::put(const RunLine &line)
{
    m_keybot->enqueue(line.value, line.seq);
}

void KeyboardOutput::stop()
{
    m_keybot->stop();
}

void KeyboardOutput::finish()
{
    m_keybot->finish();
}

void KeyboardOutput::abort()
{
    m_keybot->abort();
}

void KeyboardOutput::join()
{
    m_keybot->join();
}

void PrintOutput::put(const RunLine &line)
{
    std::lock_guard lock(m_mutex);
    m_gathered += m_prefix;
    m_gathered += line.typed.toUtf8();
    m_gathered += '\n';
}

void PrintOutput::flush()
{
    std::lock_guard lock(m_mutex);
    if (m_gathered.isEmpty())
        return;
    // Held across the write: the values of other runs printing to the same
    // stream go before or after these, never between their lines.
    ::flockfile(m_out);
    std::fwrite(m_gathered.constData(), 1, size_t(m_gathered.size()), m_out);
    std::fflush(m_out);
    ::funlockfile(m_out);
    m_gathered.resize(0); // keeps its room for the next batch
}

SoundOutput::SoundOutput(std::unique_ptr<outputs::SoundBot> soundBot)
    : m_soundBot(std::move(soundBot))
{
}

SoundOutput::~SoundOutput() = default;

void SoundOutput::put(const RunLine &)
{
    m_soundBot->beep();
}

void SoundOutput::stop()
{
    m_soundBot->close();
}

} // namespace omvara::run
