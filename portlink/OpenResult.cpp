// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/OpenResult.h"

#include <algorithm>
#include <array>

namespace portlink {

namespace {

using enum OpenResult;

constexpr std::array kRows {
    OpenResultRow { AlreadyOpen, "Port is already open", OpenFailure::InUse },
    OpenResultRow { InUse, "Port is in use", OpenFailure::InUse },
    OpenResultRow { NotValid, "Port not valid", OpenFailure::Other },
    OpenResultRow { NoSuchFile, "2: No such device", OpenFailure::NoSuchDevice },
    OpenResultRow { PermissionDenied, "Permission denied", OpenFailure::NoPermission },
    OpenResultRow { DeviceBusy, "Device busy", OpenFailure::InUse },
    OpenResultRow { NoSuchDevice, "19: No such device", OpenFailure::NoSuchDevice },
    OpenResultRow { Refused, "Connection refused", OpenFailure::Other },
    OpenResultRow { NoAnswer, "No answer", OpenFailure::Other },
    OpenResultRow { Unreachable, "Network unreachable", OpenFailure::Other },
    OpenResultRow { UnknownHost, "Unknown host", OpenFailure::Other },
    OpenResultRow { Stopped, "Stopped", OpenFailure::Other },
    OpenResultRow { Closed, "Closed by the server", OpenFailure::Other },
    OpenResultRow { PortOutOfRange, "Port number out of range", OpenFailure::Other },
    OpenResultRow { NoComPortOption, "No COM-port option", OpenFailure::Other },
};

constexpr bool oneRowEachInOrder()
{
    for (std::size_t i = 1; i < kRows.size(); ++i) {
        if (openResultCode(kRows[i - 1].result) >= openResultCode(kRows[i].result))
            return false;
    }
    return true;
}
static_assert(oneRowEachInOrder(), "one row per result, in the order of their numbers");

const OpenResultRow *rowOf(int rc)
{
    const auto it
        = std::ranges::find(kRows, rc, [](const OpenResultRow &row) { return openResultCode(row.result); });
    return it == kRows.end() ? nullptr : &*it;
}

} // namespace

std::span<const OpenResultRow> openResults()
{
    return kRows;
}

QString openResultText(int rc)
{
    if (const OpenResultRow *row = rowOf(rc))
        return QString::fromLatin1(row->text);
    return QStringLiteral(": ") + QString::number(rc);
}

OpenFailure openFailureKind(int rc)
{
    if (rc == 0)
        return OpenFailure::None;
    if (const OpenResultRow *row = rowOf(rc))
        return row->kind;
    return OpenFailure::Other;
}

} // namespace portlink
