// SPDX-License-Identifier: GPL-3.0-or-later
// Stand-in for builds without the libevdev virtual keyboard.
#include "omvara/outputs/keys/KeyInjector.h"
#include "omvara/outputs/keys/uinput/UinputDevice.h"

#include <cstring>

namespace omvara::outputs::keys {

QString uinputAccessMessage(const QString &uinputPath, int error)
{
    return QStringLiteral("uinput: cannot open %1 (%2)")
        .arg(uinputPath, QString::fromLocal8Bit(strerror(error)));
}

std::unique_ptr<UinputDevice> openLibevdevUinputDevice(const std::vector<int> &, const QString &)
{
    throw KeyboardUnavailableError(
        QStringLiteral("uinput: this build has no uinput keyboard output (libevdev)"));
}

} // namespace omvara::outputs::keys
