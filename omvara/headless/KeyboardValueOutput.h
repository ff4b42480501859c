// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/headless/ValueOutput.h"

#include <memory>

namespace omvara::config {
class Config;
}
namespace omvara::worker {
class Keybot;
class WeightWorkerView;
}

namespace omvara::headless {

// A headless run's values typed on the keyboard: a Keybot built from the
// run's settings with its own keyboard thread. The view gets the same
// messages the window shows at Start (Caps Lock warning, keyboard type) as
// log entries, and the Keybot's reports.
class KeyboardValueOutput : public ValueOutput
{
public:
    // Throws keys::KeyboardUnavailableError when no keystroke backend starts.
    KeyboardValueOutput(const config::Config &config, worker::WeightWorkerView &view);
    ~KeyboardValueOutput() override;

    void start() override;
    void put(const QString &value) override;
    // Finishes the value being typed, drops (and reports) the ones still waiting.
    void stop() override;

    // Makes the headless runner type with this output.
    static void install();

private:
    worker::WeightWorkerView &m_view;
    QString m_keyboardTypeLabel;
    std::unique_ptr<worker::Keybot> m_keybot;
};

} // namespace omvara::headless
