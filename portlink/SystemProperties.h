// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace portlink {

// The platform descriptions the serial layer decides by. Each one is the
// process property of that name when it is set (tests and the program can
// pretend to be another system), otherwise what the running system reports:
//   "os.name"          the kernel name from uname ("Linux")
//   "os.arch"          the processor name; x86_64 reads "amd64", i386-i686 "x86"
//   "user.home"        $HOME
//   "runtime.version"  the Qt runtime version
//   "runtime.name"     "Qt"
// "PLK_OSNAME" and "PLK_OSARCH" are separate properties with their own rules
// (they are consulted by SerialPortLocal, not here).
class SystemProperties
{
public:
    static QString osName();
    static QString osArch();
    static QString userHome();
    static QString runtimeVersion();
    static QString runtimeName();
};

} // namespace portlink
