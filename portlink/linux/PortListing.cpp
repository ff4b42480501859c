// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/linux/PortListing.h"

#include <libserialport.h>

namespace portlink {

namespace {

QString text(const char *s)
{
    return s ? QString::fromLocal8Bit(s) : QString();
}

} // namespace

std::vector<PortListing> listSystemSerialPorts()
{
    std::vector<PortListing> result;
    struct sp_port **ports = nullptr;
    if (sp_list_ports(&ports) != SP_OK || !ports)
        return result;
    for (int i = 0; ports[i]; ++i) {
        PortListing listing;
        listing.name = text(sp_get_port_name(ports[i]));
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
