// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/run/ValueOutputs.h"

#include "omvara/outputs/Keybot.h"
#include "omvara/outputs/SoundBot.h"

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
    // One write per value: a reader of the output never sees half a line.
    const QByteArray text = m_prefix + (line.typed + u'\n').toUtf8();
    std::fwrite(text.constData(), 1, size_t(text.size()), m_out);
    std::fflush(m_out);
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
