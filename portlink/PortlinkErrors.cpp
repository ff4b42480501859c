// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/PortlinkErrors.h"

namespace portlink {

IoError::IoError(const QString &message, int code)
    : std::runtime_error(message.toStdString())
    , m_code(code)
{
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
