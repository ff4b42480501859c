// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>
#include <vector>

namespace portlink {

// One serial device found on the system.
struct PortListing
{
    QString name; // device path, e.g. /dev/ttyUSB0
    QString description; // driver or product description; may be empty
    QString manufacturer; // USB manufacturer; empty when unknown
};

// Lists the serial devices of the system.
using PortEnumerator = std::function<std::vector<PortListing>()>;

// The system's serial devices as libserialport's port listing reports them
// (real devices such as /dev/ttyUSB0, /dev/ttyACM0 and UARTs that exist).
// Pseudo-terminals are not listed. Listing may briefly open UART devices to
// check that they exist, so tests must not call it.
std::vector<PortListing> listSystemSerialPorts();

} // namespace portlink
