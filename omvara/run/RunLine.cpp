// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/run/RunLine.h"

namespace omvara::run {

QString statusText(LineStatus status)
{
    switch (status) {
    case LineStatus::Pending:
        return QStringLiteral("pending");
    case LineStatus::Typed:
        return QStringLiteral("typed");
    case LineStatus::Printed:
        return QStringLiteral("printed");
    case LineStatus::NoValue:
        return QStringLiteral("no value");
    case LineStatus::Duplicate:
        return QStringLiteral("duplicate");
    case LineStatus::Held:
        return QStringLiteral("held");
    case LineStatus::NotTyped:
        return QStringLiteral("not typed");
    case LineStatus::Error:
        return QStringLiteral("error");
    case LineStatus::Overflow:
        return QStringLiteral("overflow");
    case LineStatus::Unsent:
        return QStringLiteral("unsent");
    }
    return {};
}

} // namespace omvara::run
