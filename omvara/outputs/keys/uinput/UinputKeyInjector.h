// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/outputs/keys/LayoutKeyInjector.h"
#include "omvara/outputs/keys/SessionLayout.h"
#include "omvara/outputs/keys/uinput/UinputDevice.h"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace omvara::outputs::keys {

// Keystrokes through a virtual keyboard device of the kernel (works under
// Wayland compositors and on consoles). The desktop applies its own keyboard
// layout to the device's keys, so the backend works out the keys from that
// layout as far as it can be found (SessionLayout): `keymap`, compiled from
// the layout's names. Without one, keys go by their position on the keyboard
// type's layout. Each press or release is one key event followed by a
// synchronisation report. The kernel stamps each event as it is written, so
// the waits of deliverKey() give key presses their distinct times.
class UinputKeyInjector : public LayoutKeyInjector
{
public:
    // `keymap` may be null (layout not known). `layoutName` is what
    // layoutName() shows while the keymap is known.
    explicit UinputKeyInjector(std::unique_ptr<UinputDevice> device,
        std::unique_ptr<LayoutKeymap> keymap = {}, QString layoutName = {});
    QString name() const override { return QStringLiteral("uinput"); }
    bool capsLockOn() override;

    // The keys the virtual keyboard has: those of an ordinary PC keyboard
    // (Linux input event codes), without system keys such as Power or SysRq.
    static std::vector<int> deviceKeys();

protected:
    const LayoutKeymap *currentKeymap() override { return m_keymap.get(); }
    QString knownLayoutName() const override { return m_keymap ? m_layoutName : QString(); }
    void sendKey(int keyCode, int physicalKey, bool down) override;

private:
    std::mutex m_mutex;
    std::unique_ptr<UinputDevice> m_device;
    std::unique_ptr<LayoutKeymap> m_keymap;
    QString m_layoutName;
};

// Opens the uinput backend on /dev/uinput for the session's layout. Throws
// KeyboardUnavailableError when the device cannot be created, or when the
// layout the user chose (--keyboard-layout, OMVARA_KEYBOARD_LAYOUT) is not
// known to the system.
std::unique_ptr<KeyInjector> openUinputKeyInjector();

} // namespace omvara::outputs::keys
