// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace omvara::outputs::keys {

// A virtual keyboard device of the kernel's input layer, as far as the
// uinput backend needs it. The real one (openLibevdevUinputDevice) is a thin
// layer over libevdev; tests put a fake in its place.
class UinputDevice
{
public:
    virtual ~UinputDevice() = default;
    // Writes one input event (type, code, value as in <linux/input.h>).
    // Throws KeyInjectionError with the system's message when the write fails.
    virtual void writeEvent(unsigned type, unsigned code, int value) = 0;
    // The Caps Lock LED as last set on this device by the desktop or the
    // console, or nothing when it has not been set since the device exists.
    virtual std::optional<bool> capsLockLed() = 0;
};

// Creates one virtual keyboard ("Omvara virtual keyboard") that can press
// `keys` (Linux input event codes) and carries a Caps Lock LED. Opens
// `uinputPath` (normally /dev/uinput). Throws KeyboardUnavailableError with
// a message that says how to get access when the node cannot be opened.
std::unique_ptr<UinputDevice> openLibevdevUinputDevice(
    const std::vector<int> &keys, const QString &uinputPath = QStringLiteral("/dev/uinput"));

// The message for a uinput node that cannot be opened (errno value `error`).
QString uinputAccessMessage(const QString &uinputPath, int error);

} // namespace omvara::outputs::keys
