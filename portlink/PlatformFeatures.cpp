// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/PlatformFeatures.h"

#include <QStringList>

namespace portlink {

namespace {

bool oneOf(const QString &value, std::initializer_list<const char *> names)
{
    for (const char *n : names) {
        if (value == QLatin1String(n))
            return true;
    }
    return false;
}

bool isNetware(const QString &osName)
{
    return osName.toLower().contains(QLatin1String("netware"));
}

} // namespace

void PlatformFeatures::featureSetup()
{
    const QString &os = osName;
    if (oneOf(os,
            { "Windows 95", "Windows NT", "Windows 2000", "Windows 2003", "Windows Vista",
                "Windows Server 2008", "Windows Server 2008 R2", "Windows", "Windows Server 2012",
                "Windows Server 2012 R2", "Windows NT (unknown)", "Windows 10", "Windows 8.1", "Windows 8",
                "Windows 7", "Windows XP", "Windows 98", "Windows Me", "Windows CE", "WindowsCE", "OS/2" })
        || isNetware(os)) {
        supParityMarkSpace = supInstanceLock = supGetPortList = supGetStatusAPM = true;
        supSigBreak = supSigFrameErr = supSigParityErr = supSigOverrun = supRxOverflow = true;
        supRxReadyCount = supTxBufCount = supSetTimeoutTx = supGetTimeoutTx = true;
        supSigRing = supSetRTS = supSetDTR = supSigCD = supSigCTS = supSigDSR = supUnplugPort = true;
        softGetDataTimeout = false;
        supNoIndexBitRate = os == QLatin1String("OS/2");
        devName = QStringLiteral("COM1");
        if (oneOf(os,
                { "Windows", "Windows 10", "Windows 8.1", "Windows 8", "Windows 7", "Windows NT (unknown)",
                    "Windows Server 2008", "Windows Server 2008 R2", "Windows Server 2012", "Windows Vista",
                    "Windows 2003", "Windows 2000", "Windows XP" })) {
            maxBitRate = 921600;
            supDriverInfo = true;
        }
        if (isNetware(os)) {
            supGetPortList = false;
            softGetDataTimeout = true;
        }
    } else if (os == QLatin1String("Mac OS")) {
        supGetPortList = supSigBreak = supSigFrameErr = supSigParityErr = supSigOverrun = supRxOverflow
            = true;
        supRxReadyCount = supTxBufCount = supSetTimeoutTx = supGetTimeoutTx = supSetDTR = supSigCTS = true;
        supNoIndexBitRate = true;
        maxBitRate = 921600;
        softGetDataTimeout = true;
        devName = QStringLiteral("Modem Port");
    } else if (os == QLatin1String("Mac OS X")) {
        supParityMarkSpace = supGetPortList = supGetStatusAPM = supRxReadyCount = supTxBufCount = true;
        supSetRTS = supSetDTR = supSigCD = supSigCTS = supSigDSR = true;
        maxBitRate = 230400;
        softGetDataTimeout = true;
        devName.clear();
    } else if (oneOf(os,
                   { "Linux", "FreeBSD", "Solaris", "SunOS", "HP-UX", "Irix", "AIX", "OSF1", "UnixWare" })) {
        supParityMarkSpace = supRxReadyCount = supTxBufCount = supSigRing = true;
        supSetRTS = supSetDTR = supSigCD = supSigCTS = supSigDSR = true;
        softGetDataTimeout = true;
        devName = QStringLiteral("/dev/tty0");
        if (os == QLatin1String("Linux")) {
            supGetStatusAPM = true;
            devName = QStringLiteral("/dev/ttyS0");
            if (osArch == QLatin1String("armv4l") || osArch == QLatin1String("arm")) {
                supSetPowerMode = true;
                supGetResumeState = true;
            }
        } else if (os == QLatin1String("Solaris") || os == QLatin1String("SunOS")) {
            devName = QStringLiteral("/dev/ttya");
        } else if (os == QLatin1String("OSF1")) {
            devName = QStringLiteral("/dev/tty00");
        } else if (os == QLatin1String("Irix")) {
            supSetRTS = supSetDTR = supSigCTS = false;
        } else if (os == QLatin1String("UnixWare")) {
            supSetRTS = false;
        }
    } else if (os == QLatin1String("EPOC")) {
        supGetPortList = supSigFrameErr = supSigParityErr = supSigOverrun = supRxReadyCount = true;
        supTxBufCount = supSetTimeoutTx = supGetTimeoutTx = supSetRTS = supSetDTR = true;
        supSigCD = supSigCTS = supSigDSR = supNoIndexBitRate = true;
        softGetDataTimeout = false;
        devName = QStringLiteral("COMM::0");
        supSendBreak = false;
    }
}

void PlatformFeatures::setNativeLibName(
    const std::optional<QString> &plkOsName, const std::optional<QString> &plkOsArch)
{
    if (plkOsName && plkOsArch) {
        osName = *plkOsName;
        osArch = *plkOsArch;
    }
    const QString &os = osName;
    const QString &arch = osArch;

    // Later rules replace earlier matches.
    if (oneOf(os,
            { "Windows 95", "Windows 98", "Windows Me", "Windows NT", "Windows XP", "Windows 2000",
                "Windows 2003", "Windows 2008", "Windows Vista", "Windows Server 2008",
                "Windows Server 2008 R2", "Windows Server 2012", "Windows Server 2012 R2", "Windows 7",
                "Windows NT (unknown)", "Windows 8", "Windows 8.1", "Windows 10", "Windows" })) {
        plkLib = (runtimeVersion == QLatin1String("1.0.2") || runtimeVersion == QLatin1String("102"))
            ? QStringLiteral("plkWinNm")
            : QStringLiteral("plkWin");
        osFamilyWindows = true;
    }
    if (os == QLatin1String("EPOC")) {
        if (arch == QLatin1String("x86"))
            plkLib = QStringLiteral("plkEpocx86");
        else if (arch == QLatin1String("arm"))
            plkLib = QStringLiteral("plkEpocArm");
    }
    if (os == QLatin1String("Windows CE") || os == QLatin1String("WindowsCE")
        || os == QLatin1String("Windows CE  ") + runtimeName) {
        const QString a = arch.toLower();
        if (a == QLatin1String("mips"))
            plkLib = QStringLiteral("plkWceMips");
        else if (a == QLatin1String("sh3"))
            plkLib = QStringLiteral("plkWceSh3");
        else if (a == QLatin1String("sh4"))
            plkLib = QStringLiteral("plkWceSh4");
        else if (a == QLatin1String("arm") || a == QLatin1String("strong arm")
            || a == QLatin1String("xscale"))
            plkLib = QStringLiteral("plkWceArm");
        else if (a == QLatin1String("x86"))
            plkLib = QStringLiteral("plkWceX86");
    }
    if (os == QLatin1String("OS/2"))
        plkLib = QStringLiteral("plkos2j");
    if (os == QLatin1String("Mac OS"))
        plkLib = QStringLiteral("plkMac");
    if (os == QLatin1String("Mac OS X"))
        plkLib = QStringLiteral("plkMacOSX");
    if (os == QLatin1String("Linux")) {
        if (oneOf(arch, { "x86", "i386", "i486", "i586", "i686" }))
            plkLib = QStringLiteral("plkLux86");
        else if (oneOf(arch, { "armv4l", "arm", "armv5tel", "armv5l" }))
            plkLib = QStringLiteral("plkLuxArm");
        else if (arch == QLatin1String("amd64"))
            plkLib = QStringLiteral("plkLux86_64bit");
    }
    if (os == QLatin1String("FreeBSD") && oneOf(arch, { "i386", "x86" }))
        plkLib = QStringLiteral("plkBsdx86");
    if (os == QLatin1String("Solaris") || os == QLatin1String("SunOS")) {
        if (arch == QLatin1String("x86"))
            plkLib = QStringLiteral("plkSolx86");
        else if (arch == QLatin1String("sparc"))
            plkLib = QStringLiteral("plkSolSparc");
    }
    if (os == QLatin1String("HP-UX") && oneOf(arch, { "PA-RISC", "PA_RISC", "PA_RISC2.0" }))
        plkLib = QStringLiteral("plkHpxPaRisc");
    if (os == QLatin1String("Irix") && arch == QLatin1String("mips"))
        plkLib = QStringLiteral("plkIrxMips");
    if (os == QLatin1String("AIX") && oneOf(arch, { "POWER_PC", "ppc" }))
        plkLib = QStringLiteral("plkAixPpc");
    if ((os == QLatin1String("UnixWare") || os == QLatin1String("OpenServer"))
        && arch == QLatin1String("IA32"))
        plkLib = QStringLiteral("plkUxWareIA32");
    if (os == QLatin1String("OSF1") && arch == QLatin1String("alpha"))
        plkLib = QStringLiteral("plkTru64Alpha");
    if (isNetware(os))
        plkLib = QStringLiteral("PlkNw");
}

bool PlatformFeatures::isSupported(const QString &feature) const
{
    struct Entry
    {
        const char *name;
        bool PlatformFeatures::*flag;
    };
    static const Entry table[] = {
        { "sigBreak", &PlatformFeatures::supSigBreak },
        { "sendBreak", &PlatformFeatures::supSendBreak },
        { "sigFrameErr", &PlatformFeatures::supSigFrameErr },
        { "sigOverrun", &PlatformFeatures::supSigOverrun },
        { "sigParityErr", &PlatformFeatures::supSigParityErr },
        { "rxOverflow", &PlatformFeatures::supRxOverflow },
        { "sigRing", &PlatformFeatures::supSigRing },
        { "sigCTS", &PlatformFeatures::supSigCTS },
        { "sigDSR", &PlatformFeatures::supSigDSR },
        { "sigCD", &PlatformFeatures::supSigCD },
        { "setRTS", &PlatformFeatures::supSetRTS },
        { "setDTR", &PlatformFeatures::supSetDTR },
        { "rxReadyCount", &PlatformFeatures::supRxReadyCount },
        { "txBufCount", &PlatformFeatures::supTxBufCount },
        { "setTimeoutTx", &PlatformFeatures::supSetTimeoutTx },
        { "noIndexBitRate", &PlatformFeatures::supNoIndexBitRate },
        { "getPortList", &PlatformFeatures::supGetPortList },
        { "setPowerMode", &PlatformFeatures::supSetPowerMode },
        { "getStatusAPM", &PlatformFeatures::supGetStatusAPM },
        { "InstanceLock", &PlatformFeatures::supInstanceLock },
        { "ParityMarkSpace", &PlatformFeatures::supParityMarkSpace },
        { "supDriverInfo", &PlatformFeatures::supDriverInfo },
        { "UnplugPort", &PlatformFeatures::supUnplugPort },
    };
    for (const Entry &e : table) {
        if (feature == QLatin1String(e.name))
            return this->*(e.flag);
    }
    return false;
}

} // namespace portlink
