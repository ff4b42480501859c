// SPDX-License-Identifier: GPL-3.0-or-later
// The ports the process knows of: their names, their driver data, and word of devices that come and go.
#pragma once

#include "portlink/PortDriverInfo.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace portlink {

class DeviceNotificationCallback;
class SerialConfig;

// Process-wide, over the runtime's native side (PortlinkRuntime). Any thread.
class PortRegistry
{
public:
    PortRegistry() = delete;

    // The port names known to the process; see the .cpp for the three sources
    // (property "SERIAL_PORT_LIST", native discovery, addPortName). Native
    // discovery errors (NativeLibraryError) pass to the caller.
    static QStringList getPortList();
    // Adds a name unless one equal to it ignoring case is listed.
    static void addPortName(const QString &name);
    // Adds driver data unless the name (ignoring case) already has some.
    static void addPortInfo(const QString &name, const QString &manufacture, const QString &description);
    // A copy of the driver data; IoError "Not supported on this platform"
    // without supDriverInfo, "Must call SerialPortLocal.getPortList method
    // first" while the port list is empty.
    static QList<PortDriverInfo> getDriverInfoList();
    static void clearPortListInfo();
    static int getPortListMode();
    static void setPortListMode(int mode);

    // After the device of `config` went away (or would not open): waits until
    // it may be back, at most `ms` milliseconds, ending early when the calling
    // thread is interrupted. True when opening it again is worth a try before
    // the time is up (see NativeSerial::SerWaitPortName).
    static bool waitForPortName(const SerialConfig &config, int ms);

    // Not owned; nullptr unregisters.
    static void registerDeviceNotification(DeviceNotificationCallback *callback);
    static void unregisterDeviceNotification();
    // A device came or went: writes "Portlink.deviceNotification" and
    // forwards to the registered callback.
    static void deviceNotification();

    // Forgets the port lists, the driver data, the list mode and the
    // callback. For tests and tools that switch systems, with
    // PortlinkRuntime::reset.
    static void reset();
};

} // namespace portlink
