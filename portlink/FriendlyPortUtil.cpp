// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/FriendlyPortUtil.h"

#include "portlink/PortRegistry.h"

namespace portlink {

const QString FriendlyPortUtil::FORMATSTR = QStringLiteral("%s: %s - %s");
std::optional<QList<portlink::PortDriverInfo>> FriendlyPortUtil::s_portInfoList;

QString FriendlyPortUtil::displayName(const portlink::PortDriverInfo &info)
{
    // FORMATSTR with its three %s filled in order; the parts are inserted
    // verbatim, so a "%" inside a description stays as it is.
    return info.getPortName() + QStringLiteral(": ") + info.getDriverDesc() + QStringLiteral(" - ")
        + info.getDriverMfgr();
}

void FriendlyPortUtil::update()
{
    s_portInfoList = portlink::PortRegistry::getDriverInfoList();
}

bool FriendlyPortUtil::portInfoListIsPopulated()
{
    return s_portInfoList && !s_portInfoList->isEmpty();
}

QStringList FriendlyPortUtil::getFriendlyPortList()
{
    QStringList result;
    if (!s_portInfoList)
        return result;
    for (const portlink::PortDriverInfo &info : *s_portInfoList)
        result.append(displayName(info));
    return result;
}

QString FriendlyPortUtil::getFriendlyPortName(const QString &portName)
{
    if (s_portInfoList) {
        for (const portlink::PortDriverInfo &info : *s_portInfoList) {
            if (info.getPortName() == portName)
                return displayName(info);
        }
    }
    return portName;
}

QString FriendlyPortUtil::getUnfriendlyPortName(const QString &displayName)
{
    if (s_portInfoList) {
        for (const portlink::PortDriverInfo &info : *s_portInfoList) {
            if (FriendlyPortUtil::displayName(info) == displayName)
                return info.getPortName();
        }
    }
    return displayName;
}

void FriendlyPortUtil::reset()
{
    s_portInfoList.reset();
}

} // namespace portlink
