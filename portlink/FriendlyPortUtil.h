// SPDX-License-Identifier: GPL-3.0-or-later
// The display names of serial ports ("COM3: USB Serial Port - FTDI").
#pragma once

#include "portlink/PortDriverInfo.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace portlink {

// Display names for serial ports, "port: driver description - manufacturer"
// (COM3: USB Serial Port - FTDI), made from the driver data that port
// discovery delivers, and the way back from a display name to the port name.
//
// Class-wide and unsynchronised: call from the user-interface thread only.
class FriendlyPortUtil
{
public:
    // Filled with port name, driver description and manufacturer.
    static const QString FORMATSTR;

    // Takes a copy of PortRegistry::getDriverInfoList(). Its IoErrors pass
    // to the caller and the previous copy stays in force.
    static void update();
    static bool portInfoListIsPopulated();
    // One display name per driver entry, in list order; empty before update().
    static QStringList getFriendlyPortList();
    // The display name of the first entry for exactly this port name, else the name itself.
    static QString getFriendlyPortName(const QString &portName);
    // The port name behind exactly this display name, else the text itself.
    static QString getUnfriendlyPortName(const QString &displayName);

    // Forgets the copy taken by update() (tests).
    static void reset();

private:
    static QString displayName(const portlink::PortDriverInfo &info);
    static std::optional<QList<portlink::PortDriverInfo>> s_portInfoList;
};

} // namespace portlink
