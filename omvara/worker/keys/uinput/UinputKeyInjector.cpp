// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/worker/keys/uinput/UinputKeyInjector.h"

#include "omvara/worker/keys/KeyPositions.h"

#include <linux/input-event-codes.h>

namespace omvara::worker::keys {

UinputKeyInjector::UinputKeyInjector(std::unique_ptr<UinputDevice> device) : m_device(std::move(device)) { }

bool UinputKeyInjector::capsLockOn()
{
    std::lock_guard lock(m_mutex);
    return m_device->capsLockLed().value_or(false);
}

void UinputKeyInjector::sendKey(int, int physicalKey, bool down)
{
    std::lock_guard lock(m_mutex);
    m_device->writeEvent(EV_KEY, static_cast<unsigned>(physicalKey), down ? 1 : 0);
    m_device->writeEvent(EV_SYN, SYN_REPORT, 0);
}

std::unique_ptr<KeyInjector> openUinputKeyInjector()
{
    return std::make_unique<UinputKeyInjector>(openLibevdevUinputDevice(allPhysicalKeys()));
}

} // namespace omvara::worker::keys
