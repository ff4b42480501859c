// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/linux/PortListing.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <libserialport.h>

namespace portlink {

namespace {

QString text(const char *s)
{
    return s ? QString::fromLocal8Bit(s) : QString();
}

// The stable name of each USB serial device: its link in /dev/serial/by-id,
// which names the adapter by maker, model and serial number, by the device it
// points to.
QHash<QString, QString> stableNames()
{
    QHash<QString, QString> names;
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo &link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        const QString target = link.canonicalFilePath();
        if (!target.isEmpty() && !names.contains(target))
            names.insert(target, link.absoluteFilePath());
    }
    return names;
}

} // namespace

std::vector<PortListing> listSystemSerialPorts()
{
    std::vector<PortListing> result;
    struct sp_port **ports = nullptr;
    if (sp_list_ports(&ports) != SP_OK || !ports)
        return result;
    const QHash<QString, QString> stable = stableNames();
    for (int i = 0; ports[i]; ++i) {
        PortListing listing;
        listing.name = text(sp_get_port_name(ports[i]));
        // A USB adapter keeps its by-id name when it comes back as another ttyUSB number.
        listing.name = stable.value(QFileInfo(listing.name).canonicalFilePath(), listing.name);
        listing.description = text(sp_get_port_description(ports[i]));
        if (sp_get_port_transport(ports[i]) == SP_TRANSPORT_USB)
            listing.manufacturer = text(sp_get_port_usb_manufacturer(ports[i]));
        if (!listing.name.isEmpty())
            result.push_back(std::move(listing));
    }
    sp_free_port_list(ports);
    return result;
}

} // namespace portlink
