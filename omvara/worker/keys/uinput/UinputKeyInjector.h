// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/worker/keys/KeyInjector.h"
#include "omvara/worker/keys/uinput/UinputDevice.h"

#include <memory>
#include <mutex>

namespace omvara::worker::keys {

// Keystrokes through a virtual keyboard device of the kernel (works under
// Wayland compositors and on consoles; the desktop applies its own keyboard
// layout to the key positions). Each press or release is one key event
// followed by a synchronisation report.
class UinputKeyInjector : public KeyInjector
{
public:
    explicit UinputKeyInjector(std::unique_ptr<UinputDevice> device);
    QString name() const override { return QStringLiteral("uinput"); }
    bool capsLockOn() override;

protected:
    void sendKey(int keyCode, int physicalKey, bool down) override;

private:
    std::mutex m_mutex;
    std::unique_ptr<UinputDevice> m_device;
};

// Opens the uinput backend on /dev/uinput (KeyboardUnavailableError when it cannot).
std::unique_ptr<KeyInjector> openUinputKeyInjector();

} // namespace omvara::worker::keys
