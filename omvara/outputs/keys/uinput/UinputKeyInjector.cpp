// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/outputs/keys/uinput/UinputKeyInjector.h"

#include "omvara/outputs/keys/KeyPositions.h"
#include "omvara/outputs/keys/SessionLayout.h"

#include <linux/input-event-codes.h>

#include <algorithm>

namespace omvara::outputs::keys {

UinputKeyInjector::UinputKeyInjector(
    std::unique_ptr<UinputDevice> device, std::unique_ptr<LayoutKeymap> keymap, QString layoutName)
    : m_device(std::move(device))
    , m_keymap(std::move(keymap))
    , m_layoutName(std::move(layoutName))
{
}

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

std::vector<int> UinputKeyInjector::deviceKeys()
{
    std::vector<int> keys = allPhysicalKeys();
    // Escape to the keypad's ".", the key left of Z on ISO keyboards, F11,
    // F12, the keypad's Enter and "/", right Ctrl and Alt, the cursor block,
    // and the Windows and menu keys.
    for (int key = KEY_ESC; key <= KEY_KPDOT; ++key)
        keys.push_back(key);
    for (const int key : { KEY_102ND, KEY_F11, KEY_F12, KEY_KPENTER, KEY_RIGHTCTRL, KEY_KPSLASH, KEY_RIGHTALT,
             KEY_HOME, KEY_UP, KEY_PAGEUP, KEY_LEFT, KEY_RIGHT, KEY_END, KEY_DOWN, KEY_PAGEDOWN, KEY_INSERT,
             KEY_DELETE, KEY_KPEQUAL, KEY_KPCOMMA, KEY_LEFTMETA, KEY_RIGHTMETA, KEY_COMPOSE })
        keys.push_back(key);
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
}

std::unique_ptr<KeyInjector> openUinputKeyInjector()
{
    const std::vector<int> keys = UinputKeyInjector::deviceKeys();
    auto device = openLibevdevUinputDevice(keys);
    const SessionLayoutSources sources = SessionLayoutSources::fromSystem();
    QString name;
    auto keymap = sessionKeymap(
        sessionLayoutCandidates(sources), !sources.chosen.isEmpty(),
        [keys](int key) { return std::binary_search(keys.begin(), keys.end(), key - 8); }, &name);
    return std::make_unique<UinputKeyInjector>(std::move(device), std::move(keymap), name);
}

} // namespace omvara::outputs::keys
