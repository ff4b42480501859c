// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/net/NetworkOpenFailures.h"

#include "portlink/NetworkPortName.h"
#include "portlink/SerialConfig.h"

namespace portlink::network_open {

QString hint(int rc, const SerialConfig &config, int connectTimeoutMs)
{
    const NetworkPortName name = NetworkPortName::parse(config.getPortNameString());
    const QString where = QStringLiteral("%1 port %2").arg(name.host).arg(name.port);
    switch (rc) {
    case Refused:
        return QStringLiteral("Nothing accepts connections at %1: check the address and that the device server "
                              "is running")
            .arg(where);
    case NoAnswer:
        return QStringLiteral("%1 did not answer within %2 s: check the address, the network and the device "
                              "server")
            .arg(where)
            .arg(connectTimeoutMs / 1000);
    case Unreachable:
        return QStringLiteral("There is no network path to %1").arg(where);
    case UnknownHost:
        return name.valid() ? QStringLiteral("The host name \"%1\" is not known").arg(name.host)
                            : QStringLiteral("A network port is written tcp://HOST:PORT or rfc2217://HOST:PORT");
    default:
        return QString();
    }
}

} // namespace portlink::network_open
