// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/PortlinkErrors.h"

namespace portlink {

IoError::IoError(const QString &message, int code)
    : std::runtime_error(message.toStdString())
    , m_code(code)
{
}

IoError::OpenFailure IoError::openFailure() const
{
    switch (m_code) {
    case 0:
        return OpenFailure::None;
    case 1004: // no such file
    case 1008: // no such device
        return OpenFailure::NoSuchDevice;
    case 1000: // already open
    case 1002: // in use
    case 1007: // busy
        return OpenFailure::InUse;
    case 1006:
        return OpenFailure::NoPermission;
    default:
        return OpenFailure::Other;
    }
}

InvalidArgumentError::InvalidArgumentError(const QString &message)
    : std::invalid_argument(message.toStdString())
{
}

NativeLibraryError::NativeLibraryError(const QString &message)
    : std::runtime_error(message.toStdString())
{
}

} // namespace portlink
