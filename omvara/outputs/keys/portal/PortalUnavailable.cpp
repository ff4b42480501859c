// SPDX-License-Identifier: GPL-3.0-or-later
// Stand-in for builds without Qt D-Bus.
#include "omvara/outputs/keys/portal/PortalKeyInjector.h"

#include <QDir>

namespace omvara::outputs::keys {

QString portalRestoreTokenPath()
{
    return QDir::homePath() + QStringLiteral("/.local/state/omvara/portal-restore-token");
}

std::unique_ptr<KeyInjector> openPortalKeyInjector()
{
    throw KeyboardUnavailableError(
        QStringLiteral("portal: this build has no output through the desktop's portal (Qt D-Bus)"));
}

} // namespace omvara::outputs::keys
