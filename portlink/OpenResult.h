// SPDX-License-Identifier: GPL-3.0-or-later
// The results of opening a port, each with its text and the kind of failure it is.
#pragma once

#include <QString>

#include <span>

namespace portlink {

// What the native side answers when a port does not open
// (NativeSerial::SerOpenPort; success is 0). The numbers reach users in the
// open failure message and IoError::code(), so they stay as they are. A native
// side may answer a number of its own; it reads as OpenFailure::Other.
enum class OpenResult : int {
    // Already open in this process.
    AlreadyOpen = 1000,
    // Held by another program (its exclusive lock).
    InUse = 1002,
    // Not a serial device, or a name that names no port.
    NotValid = 1003,
    // No such file (ENOENT).
    NoSuchFile = 1004,
    PermissionDenied = 1006,
    DeviceBusy = 1007,
    // No such device (ENODEV, ENXIO).
    NoSuchDevice = 1008,

    // Ports reached over the network.
    Refused = 1010,
    // No answer within the bound of the connection attempt.
    NoAnswer = 1011,
    // The network or the host is unreachable.
    Unreachable = 1012,
    // An unknown host, or a bad address.
    UnknownHost = 1013,
    // The opening thread was interrupted.
    Stopped = 1014,
    // The server closed the connection (at once, or while the line settings
    // were being agreed).
    Closed = 1015,
    // The port number is not 1 to 65535.
    PortOutOfRange = 1016,
    // Configuring an RFC 2217 port: the server does not take the telnet
    // COM-port option (it serves raw TCP, or another protocol).
    NoComPortOption = 1017,
};

// The number a native side answers for `result`.
constexpr int openResultCode(OpenResult result)
{
    return static_cast<int>(result);
}

// What an open failure's code says, for a message in plain words.
enum class OpenFailure { None, NoSuchDevice, InUse, NoPermission, Other };

// One open result: its text (after "SerOpenPort failed: " in the message) and
// its kind.
struct OpenResultRow
{
    OpenResult result;
    const char *text;
    OpenFailure kind;
};

// Every open result once, in the order of their numbers.
std::span<const OpenResultRow> openResults();

// The text for the native open result `rc`: its row's, or ": " and the
// number for a number without a row.
QString openResultText(int rc);

// The kind of the native open result `rc`: None for 0, its row's kind, Other
// for a number without a row.
OpenFailure openFailureKind(int rc);

} // namespace portlink
