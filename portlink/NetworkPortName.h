// SPDX-License-Identifier: GPL-3.0-or-later
// Port names that address a serial device over the network.
#pragma once

#include <QString>

namespace portlink {

// "tcp://HOST:PORT" (a raw byte stream) and "rfc2217://HOST:PORT" (a serial
// port with its line settings and signals, over the telnet COM-port option).
// HOST is a name, an IPv4 address or an IPv6 address in brackets.
struct NetworkPortName
{
    enum class Kind { None, Tcp, Rfc2217 };

    Kind kind = Kind::None;
    QString host; // without brackets
    int port = 0;

    bool valid() const { return kind != Kind::None && hostValid() && portInRange(); }
    // A host of letters, digits, '.', '-' and '_' (a name or an IPv4
    // address), or an IPv6 address (hexadecimal digits, ':', '.', a zone
    // after '%'). Nothing else: a comma or a blank would change what the
    // connection description of the RFC 2217 side says.
    bool hostValid() const;
    // 1 to 65535.
    bool portInRange() const { return port > 0 && port < 65536; }

    // The parts of `name`; kind None for a name that does not begin with a
    // network scheme. A network name with a bad host or port is parsed with
    // its kind and is not valid().
    static NetworkPortName parse(const QString &name);
    // True when `name` begins with one of the network schemes (valid or not).
    static bool isNetworkName(const QString &name);
};

} // namespace portlink
