// SPDX-License-Identifier: GPL-3.0-or-later
// The reception engine for A&D balances, with their handshake-line check.
#pragma once

#include "omvara/reception/WeightWorker.h"

#include <QString>

#include <chrono>
#include <functional>

namespace omvara::reception {

// The reception engine for A&D balances, which answer on the handshake lines:
// checkSignals() tells the user when the lines do not look like a connected,
// ready balance. The run starts either way.
class WeightWorkerAnd : public WeightWorker
{
public:
    // Shows a warning to the user (the window: a modal dialog titled `title`).
    using WarningPresenter = std::function<void(const QString &title, const QString &message)>;

    using WeightWorker::WeightWorker;

    // Event thread, between construction and execute(): raises DTR, then RTS,
    // 50 ms apart, and reads DSR and CTS back. Without a presenter the warning
    // goes to the view's log as an important event. RTS stays on.
    void checkSignals(const WarningPresenter &presenter = {});

    // The pause after each change of a line (50 ms); tests shorten it.
    void setSettleTime(std::chrono::milliseconds settle) { m_settle = settle; }

private:
    std::chrono::milliseconds m_settle { 50 };
};

} // namespace omvara::reception
