// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace portlink {

class SerialConfig;

// The results of opening a network port that both network sides give, and
// the plain advice that goes with each.
namespace network_open {

constexpr int NotValid = 1003;
constexpr int Refused = 1010;
constexpr int NoAnswer = 1011;
constexpr int Unreachable = 1012;
constexpr int UnknownHost = 1013;
constexpr int Stopped = 1014;
// The server closed the connection (at once, or while the line settings were
// being agreed).
constexpr int Closed = 1015;
// The port number is not 1 to 65535.
constexpr int PortOutOfRange = 1016;
// Configuring an RFC 2217 port: the server does not take the telnet COM-port
// option (it serves raw TCP, or another protocol).
constexpr int NoComPortOption = 1017;

// Advice for the result `rc` of opening the port of `config` (an attempt
// bounded to `connectTimeoutMs`); empty when there is none.
QString hint(int rc, const SerialConfig &config, int connectTimeoutMs);

// The open result for a name that parse() did not find valid.
int forInvalidName(const QString &portName);

} // namespace network_open

} // namespace portlink
