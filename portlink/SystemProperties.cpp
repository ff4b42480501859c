// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/SystemProperties.h"

#include "omvara/util/ProcessProperties.h"

#include <QDir>
#include <QtGlobal>

#include <sys/utsname.h>

namespace portlink {

using omvara::util::ProcessProperties;

namespace {

QString unameField(bool machine)
{
    utsname u {};
    if (uname(&u) != 0)
        return QString();
    return QString::fromLocal8Bit(machine ? u.machine : u.sysname);
}

} // namespace

QString SystemProperties::osName()
{
    if (ProcessProperties::contains(QStringLiteral("os.name")))
        return ProcessProperties::get(QStringLiteral("os.name"));
    return unameField(false);
}

QString SystemProperties::osArch()
{
    if (ProcessProperties::contains(QStringLiteral("os.arch")))
        return ProcessProperties::get(QStringLiteral("os.arch"));
    const QString machine = unameField(true);
    if (machine == QLatin1String("x86_64"))
        return QStringLiteral("amd64");
    if (machine == QLatin1String("i386") || machine == QLatin1String("i486")
        || machine == QLatin1String("i586") || machine == QLatin1String("i686"))
        return QStringLiteral("x86");
    return machine;
}

QString SystemProperties::userHome()
{
    if (ProcessProperties::contains(QStringLiteral("user.home")))
        return ProcessProperties::get(QStringLiteral("user.home"));
    return QDir::homePath();
}

QString SystemProperties::runtimeVersion()
{
    if (ProcessProperties::contains(QStringLiteral("runtime.version")))
        return ProcessProperties::get(QStringLiteral("runtime.version"));
    return QString::fromLatin1(qVersion());
}

QString SystemProperties::runtimeName()
{
    if (ProcessProperties::contains(QStringLiteral("runtime.name")))
        return ProcessProperties::get(QStringLiteral("runtime.name"));
    return QStringLiteral("Qt");
}

} // namespace portlink
