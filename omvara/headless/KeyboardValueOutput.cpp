// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/headless/KeyboardValueOutput.h"

#include "omvara/config/Config.h"
#include "omvara/headless/HeadlessRunner.h"
#include "omvara/util/Bundle.h"
#include "omvara/worker/Keybot.h"
#include "omvara/worker/WeightWorkerView.h"

namespace omvara::headless {

namespace {

QString windowText(const char *key)
{
    return util::Bundle::get(QStringLiteral("omvara.Omvara")).getString(QString::fromLatin1(key));
}

} // namespace

KeyboardValueOutput::KeyboardValueOutput(const config::Config &config, worker::WeightWorkerView &view)
    : m_view(view)
    , m_keyboardTypeLabel(config.getKeyboardType().toString())
    , m_keybot(worker::Keybot::fromConfig(&view, config))
{
}

KeyboardValueOutput::~KeyboardValueOutput() = default;

void KeyboardValueOutput::start()
{
    if (m_keybot->capsLockOn())
        m_view.logImportantEvent(windowText("please.turn.off.caps.lock"));
    m_keybot->start();
    m_view.logEvent(windowText("keyboard.output.started.type") + QLatin1Char(' ') + m_keyboardTypeLabel + QStringLiteral(" (")
        + m_keybot->backendName() + QLatin1Char(')'));
}

void KeyboardValueOutput::put(const QString &value)
{
    m_keybot->enqueue(value);
}

void KeyboardValueOutput::stop()
{
    m_keybot->stop();
    m_keybot->join();
}

void KeyboardValueOutput::install()
{
    HeadlessRunner::setKeyboardOutputFactory([](const config::Config &config, worker::WeightWorkerView &view) {
        return std::make_unique<KeyboardValueOutput>(config, view);
    });
}

} // namespace omvara::headless
