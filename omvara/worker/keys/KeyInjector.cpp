// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/worker/keys/KeyInjector.h"

#include "omvara/util/Interruption.h"

#include <chrono>

namespace omvara::worker::keys {

void KeyInjector::keyPress(int keyCode)
{
    send(keyCode, true);
}

void KeyInjector::keyRelease(int keyCode)
{
    send(keyCode, false);
}

void KeyInjector::send(int keyCode, bool down)
{
    const int physical = physicalKey(keyCode, m_layout);
    if (physical <= 0)
        throw KeyInjectionError(QStringLiteral("Invalid key code"));
    sendKey(keyCode, physical, down);
}

void KeyInjector::pause(int milliseconds)
{
    if (milliseconds <= 0)
        return;
    try {
        util::Interruption::sleep(std::chrono::milliseconds(milliseconds));
    } catch (const util::InterruptedError &) {
        // The thread stays interrupted; the caller's loop ends at its next check.
    }
}

} // namespace omvara::worker::keys
