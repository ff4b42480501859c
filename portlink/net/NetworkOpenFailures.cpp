// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/net/NetworkOpenFailures.h"

#include "portlink/NetworkPortName.h"
#include "portlink/OpenResult.h"
#include "portlink/SerialConfig.h"

namespace portlink::network_open {

QString hint(int rc, const SerialConfig &config, int connectTimeoutMs)
{
    const NetworkPortName name = NetworkPortName::parse(config.getPortNameString());
    const QString where = QStringLiteral("%1 port %2").arg(name.host).arg(name.port);
    switch (static_cast<OpenResult>(rc)) {
    case OpenResult::Refused:
        return QStringLiteral("Nothing listens at %1: check the address and that the device server "
                              "is running")
            .arg(where);
    case OpenResult::NoAnswer:
        return QStringLiteral("%1 did not answer within %2 s: check the address, the network and the device "
                              "server")
            .arg(where)
            .arg(connectTimeoutMs / 1000);
    case OpenResult::Unreachable:
        return QStringLiteral("There is no network path to %1").arg(where);
    case OpenResult::UnknownHost:
        if (name.valid())
            return QStringLiteral("The host name \"%1\" is not known").arg(name.host);
        if (!name.host.isEmpty() && !name.hostValid())
            return QStringLiteral(
                "\"%1\" is not a host name or address: a host is written with letters, digits, "
                "'.', '-' and '_', or as an IPv6 address in brackets")
                .arg(name.host);
        return QStringLiteral("A network port is written tcp://HOST:PORT or rfc2217://HOST:PORT");
    case OpenResult::PortOutOfRange:
        return QStringLiteral("The port number %1 is out of range: network ports are numbered 1 to 65535")
            .arg(name.port);
    case OpenResult::NoComPortOption:
        return QStringLiteral(
            "%1 does not answer the COM-port option (RFC 2217): if it serves the device as a raw "
            "TCP port, use tcp://%2:%3 and set the line settings on the device server")
            .arg(where, name.host.contains(QLatin1Char(':')) ? u'[' + name.host + u']' : name.host)
            .arg(name.port);
    case OpenResult::Closed:
        return QStringLiteral("%1 took the link and closed it at once: check that the device server "
                              "can open its serial device, and that this is the port it serves it on")
            .arg(where);
    default:
        return QString();
    }
}

int forInvalidName(const QString &portName)
{
    const NetworkPortName name = NetworkPortName::parse(portName);
    return openResultCode(
        name.hostValid() && !name.portInRange() ? OpenResult::PortOutOfRange : OpenResult::UnknownHost);
}

} // namespace portlink::network_open
