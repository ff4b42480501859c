// SPDX-License-Identifier: GPL-3.0-or-later
// What the serial layer calls when a device comes or goes.
#pragma once

namespace portlink {

// Told when the native side reports that serial devices came or went.
// Registered with PortRegistry::registerDeviceNotification.
class DeviceNotificationCallback
{
public:
    virtual ~DeviceNotificationCallback() = default;
    virtual void deviceNotification() = 0;
};

} // namespace portlink
