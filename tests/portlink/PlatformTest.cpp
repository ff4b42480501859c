// SPDX-License-Identifier: GPL-3.0-or-later
// The choice of native library and feature set, and class initialisation.
#include "portlink/PlatformFeatures.h"
#include "portlink/PortRegistry.h"
#include "portlink/PortlinkErrors.h"
#include "portlink/PortlinkRuntime.h"
#include "portlink/SerialPortLocal.h"
#include "portlink/testing/ScopedNativeSide.h"
#include "portlink/testing/SimulatedNative.h"

#include "omvara/util/ProcessProperties.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

using namespace portlink;
using namespace portlink::testing;
using omvara::util::ProcessProperties;

namespace {

PlatformFeatures choose(
    const QString &os, const QString &arch, const QString &runtimeVersion = QStringLiteral("6"))
{
    PlatformFeatures f;
    f.osName = os;
    f.osArch = arch;
    f.runtimeVersion = runtimeVersion;
    f.runtimeName = QStringLiteral("Qt");
    f.featureSetup();
    f.setNativeLibName(std::nullopt, std::nullopt);
    return f;
}

// Sets or removes process properties for one test and restores them after it.
class ScopedProperties
{
public:
    ScopedProperties(std::initializer_list<std::pair<const char *, const char *>> values)
    {
        for (const auto &[name, value] : values) {
            const QString key = QString::fromLatin1(name);
            m_saved.append({ key,
                ProcessProperties::contains(key) ? std::optional<QString>(ProcessProperties::get(key))
                                                 : std::nullopt });
            if (value)
                ProcessProperties::set(key, QString::fromLatin1(value));
            else
                ProcessProperties::remove(key);
        }
        PortRegistry::reset();
        PortlinkRuntime::reset();
    }
    ~ScopedProperties()
    {
        for (const auto &[key, value] : m_saved) {
            if (value)
                ProcessProperties::set(key, *value);
            else
                ProcessProperties::remove(key);
        }
        PortlinkRuntime::setNativeLoader(nullptr);
        PortRegistry::reset();
        PortlinkRuntime::reset();
    }

private:
    QList<std::pair<QString, std::optional<QString>>> m_saved;
};

QString banner()
{
    return QStringLiteral(
        "Portlink serial library v10.2.3 build 9233\r\nPortlink: serial port access for the Omvara program");
}

} // namespace

TEST(PlatformTest, libraryName_followsSystemAndProcessorNames)
{
    struct Case
    {
        const char *os;
        const char *arch;
        const char *lib; // "" = none
    };
    const Case cases[] = {
        { "Windows", "x86", "plkWin" },
        { "Windows 10", "amd64", "plkWin" },
        { "Windows Server 2012 R2", "amd64", "plkWin" },
        { "Windows 2008", "x86", "plkWin" },
        { "Linux", "amd64", "plkLux86_64bit" },
        { "Linux", "i686", "plkLux86" },
        { "Linux", "x86", "plkLux86" },
        { "Linux", "armv5tel", "plkLuxArm" },
        { "Linux", "aarch64", "" },
        { "Linux", "x86_64", "" },
        { "EPOC", "x86", "plkEpocx86" },
        { "EPOC", "arm", "plkEpocArm" },
        { "EPOC", "mips", "" },
        { "Windows CE", "Strong ARM", "plkWceArm" },
        { "WindowsCE", "xscale", "plkWceArm" },
        { "Windows CE", "sh4", "plkWceSh4" },
        { "Windows CE  Qt", "MIPS", "plkWceMips" },
        { "Windows CE", "X86", "plkWceX86" },
        { "OS/2", "x86", "plkos2j" },
        { "Mac OS", "ppc", "plkMac" },
        { "Mac OS X", "x86_64", "plkMacOSX" },
        { "FreeBSD", "i386", "plkBsdx86" },
        { "FreeBSD", "amd64", "" },
        { "SunOS", "sparc", "plkSolSparc" },
        { "Solaris", "x86", "plkSolx86" },
        { "HP-UX", "PA_RISC2.0", "plkHpxPaRisc" },
        { "Irix", "mips", "plkIrxMips" },
        { "AIX", "ppc", "plkAixPpc" },
        { "OpenServer", "IA32", "plkUxWareIA32" },
        { "OSF1", "alpha", "plkTru64Alpha" },
        { "Novell NetWare 6", "x86", "PlkNw" },
        { "Plan 9", "x86", "" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.os) + " / " + c.arch);
        EXPECT_EQ(choose(QString::fromLatin1(c.os), QString::fromLatin1(c.arch)).plkLib,
            QString::fromLatin1(c.lib));
    }
    EXPECT_EQ(choose(QStringLiteral("Windows XP"), QStringLiteral("x86"), QStringLiteral("1.0.2")).plkLib,
        QStringLiteral("plkWinNm"));
    EXPECT_TRUE(choose(QStringLiteral("Windows"), QStringLiteral("x86")).osFamilyWindows);
    EXPECT_FALSE(choose(QStringLiteral("Linux"), QStringLiteral("amd64")).osFamilyWindows);
}

TEST(PlatformTest, overrideNames_replaceBothOnlyWhenBothAreGiven)
{
    PlatformFeatures f;
    f.osName = QStringLiteral("Linux");
    f.osArch = QStringLiteral("aarch64");
    f.setNativeLibName(QStringLiteral("Linux"), QStringLiteral("amd64"));
    EXPECT_EQ(f.plkLib, QStringLiteral("plkLux86_64bit"));
    EXPECT_EQ(f.osArch, QStringLiteral("amd64"));

    PlatformFeatures g;
    g.osName = QStringLiteral("Linux");
    g.osArch = QStringLiteral("aarch64");
    g.setNativeLibName(QStringLiteral("Windows"), std::nullopt);
    EXPECT_EQ(g.plkLib, QString());
}

TEST(PlatformTest, featureTable_perSystemGroup)
{
    struct Case
    {
        const char *os;
        const char *arch;
        int maxBitRate;
        const char *devName;
        bool softTimeout;
        // feature names expected on / off
        std::initializer_list<const char *> on;
        std::initializer_list<const char *> off;
    };
    const Case cases[] = {
        { "Windows", "x86", 921600, "COM1", false,
            { "sigCTS", "sigDSR", "sigParityErr", "sigFrameErr", "setRTS", "setDTR", "getPortList",
                "supDriverInfo", "ParityMarkSpace", "InstanceLock", "UnplugPort", "sendBreak", "setTimeoutTx",
                "rxOverflow" },
            { "noIndexBitRate", "setPowerMode" } },
        { "Windows 10", "amd64", 921600, "COM1", false, { "supDriverInfo" }, {} },
        { "Windows Server 2012 R2", "amd64", 115200, "COM1", false, { "getPortList" }, { "supDriverInfo" } },
        { "OS/2", "x86", 115200, "COM1", false, { "noIndexBitRate" }, { "supDriverInfo" } },
        { "Novell NetWare", "x86", 115200, "COM1", true, { "sigCTS" }, { "getPortList" } },
        { "Mac OS", "ppc", 921600, "Modem Port", true,
            { "setDTR", "sigCTS", "noIndexBitRate", "sigParityErr" },
            { "setRTS", "sigDSR", "ParityMarkSpace" } },
        { "Mac OS X", "ppc", 230400, "", true, { "ParityMarkSpace", "setRTS", "getStatusAPM" },
            { "sigParityErr", "sigRing" } },
        { "Linux", "amd64", 115200, "/dev/ttyS0", true,
            { "ParityMarkSpace", "sigRing", "setRTS", "setDTR", "sigCD", "sigCTS", "sigDSR", "getStatusAPM",
                "sendBreak" },
            { "sigParityErr", "sigFrameErr", "getPortList", "supDriverInfo", "setPowerMode", "sigOverrun" } },
        { "Linux", "arm", 115200, "/dev/ttyS0", true, { "setPowerMode" }, {} },
        { "SunOS", "sparc", 115200, "/dev/ttya", true, { "sigCTS" }, { "getStatusAPM" } },
        { "OSF1", "alpha", 115200, "/dev/tty00", true, {}, {} },
        { "FreeBSD", "i386", 115200, "/dev/tty0", true, { "setRTS" }, {} },
        { "Irix", "mips", 115200, "/dev/tty0", true, { "sigDSR" }, { "setRTS", "setDTR", "sigCTS" } },
        { "UnixWare", "IA32", 115200, "/dev/tty0", true, { "setDTR" }, { "setRTS" } },
        { "EPOC", "arm", 115200, "COMM::0", false, { "sigParityErr", "noIndexBitRate", "getPortList" },
            { "sendBreak", "sigRing" } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.os) + " / " + c.arch);
        const PlatformFeatures f = choose(QString::fromLatin1(c.os), QString::fromLatin1(c.arch));
        EXPECT_EQ(f.maxBitRate, c.maxBitRate);
        EXPECT_EQ(f.devName, QString::fromLatin1(c.devName));
        EXPECT_EQ(f.softGetDataTimeout, c.softTimeout);
        for (const char *name : c.on)
            EXPECT_TRUE(f.isSupported(QString::fromLatin1(name))) << name;
        for (const char *name : c.off)
            EXPECT_FALSE(f.isSupported(QString::fromLatin1(name))) << name;
        EXPECT_FALSE(f.isSupported(QStringLiteral("teleport")));
        EXPECT_FALSE(f.isSupported(QStringLiteral("supSigCTS"))) << "names without the sup prefix only";
    }
}

TEST(PlatformTest, initialisation_writesBannerSystemAndLoadedLibrary)
{
    ScopedProperties props({ { "os.arch", "x86" } });
    ScopedConsoleCapture console;
    auto sim = std::make_shared<SimulatedNative>();
    ScopedNativeSide native(sim, QStringLiteral("Linux"), QStringLiteral("amd64"));
    EXPECT_EQ(PortlinkRuntime::libraryState(), NativeLibraryState::Loaded);
    EXPECT_EQ(PortlinkRuntime::getLibraryName(), QStringLiteral("plkLux86_64bit"));
    // The feature table is taken on the override system name and the real processor name.
    EXPECT_EQ(console.lines(),
        QStringList({ banner(), QStringLiteral("os.name=\"Linux\"  os.arch=\"x86\""),
            QStringLiteral("SerialPort class loaded: plkLux86_64bit") }));
    EXPECT_TRUE(PortlinkRuntime::isSupported(QStringLiteral("sigCTS")));
}

TEST(PlatformTest, onlySystemOverride_keepsTheRealProcessorName)
{
    ScopedProperties props({ { "PLK_OSNAME", "Linux" }, { "PLK_OSARCH", nullptr }, { "os.arch", "i686" } });
    ScopedConsoleCapture console;
    auto sim = std::make_shared<SimulatedNative>();
    PortlinkRuntime::setNativeLoader([sim](const QString &, QString *) { return sim; });
    EXPECT_EQ(PortlinkRuntime::getLibraryName(), QStringLiteral("plkLux86"));
    EXPECT_EQ(PortlinkRuntime::getPlatformOsName(), QStringLiteral("Linux"));
}

TEST(PlatformTest, unknownSystem_isReportedWithoutEndingTheProcess)
{
    ScopedProperties props({ { "os.arch", "aarch64" } });
    ScopedConsoleCapture console;
    auto sim = std::make_shared<SimulatedNative>();
    ScopedNativeSide native(sim, QStringLiteral("Linux"), QStringLiteral("aarch64"));
    EXPECT_EQ(PortlinkRuntime::libraryState(), NativeLibraryState::PlatformNotSupported);
    EXPECT_EQ(kExitStatusPlatformNotSupported, -1);
    EXPECT_EQ(console.lines().mid(2),
        QStringList({ QStringLiteral("osName=Linux osArch=aarch64"),
            QStringLiteral("Platform not supported, check VM properties os.name & os.arch") }));
    EXPECT_TRUE(PortRegistry::getPortList().isEmpty()) << "no discovery on an unknown system";
    EXPECT_THROW(SerialPortLocal { SerialConfig(QStringLiteral("/dev/ttyUSB0")) }, NativeLibraryError);
}

TEST(PlatformTest, failedLoad_leavesTheClassUsableAndEveryNativeCallFails)
{
    ScopedConsoleCapture console;
    auto scope = ScopedNativeSide::failingLoad(QStringLiteral("no plkWin in library path"));
    EXPECT_EQ(PortlinkRuntime::libraryState(), NativeLibraryState::LoadFailed);
    EXPECT_EQ(console.lines().last(),
        QStringLiteral("no plkWin in library path: Check that native library plkWin is in proper directory"));
    try {
        PortRegistry::getPortList();
        FAIL() << "listing needs the native side";
    } catch (const NativeLibraryError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("no plkWin in library path"));
    }
    EXPECT_THROW(SerialPortLocal { SerialConfig(QStringLiteral("COM1")) }, NativeLibraryError);

    // The no-argument constructor tries again, with its own messages.
    auto sim = std::make_shared<SimulatedNative>();
    PortlinkRuntime::setNativeLoader([sim](const QString &, QString *) { return sim; });
    console.clear();
    SerialPortLocal port;
    EXPECT_EQ(console.lines(),
        QStringList({ QStringLiteral("SerialPortLocal: Attempt to load: plkWin"),
            QStringLiteral("SerialPortLocal: SerialPort class loaded: plkWin") }));
    EXPECT_TRUE(port.isLibraryLoaded());
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.getConfig().getPortNameString(), QStringLiteral("COM1"));
}

TEST(PlatformTest, windows7_triesTheUserFolderAfterAFailedLoad)
{
    ScopedProperties props({ { "user.home", "C:\\Users\\lab" } });
    ScopedConsoleCapture console;
    auto sim = std::make_shared<SimulatedNative>();
    QStringList asked;
    auto scope = ScopedNativeSide::failingLoad(QStringLiteral("unused"), QStringLiteral("Windows 7"));
    PortlinkRuntime::setNativeLoader(
        [&](const QString &name, QString *error) -> std::shared_ptr<NativeSerial> {
            asked.append(name);
            if (name.endsWith(QLatin1String(".dll")))
                return sim;
            *error = QStringLiteral("no plkWin in library path");
            return nullptr;
        });
    PortRegistry::reset();
    PortlinkRuntime::reset();
    EXPECT_EQ(PortlinkRuntime::libraryState(), NativeLibraryState::Loaded);
    EXPECT_EQ(asked, QStringList({ QStringLiteral("plkWin"), QStringLiteral("C:\\Users\\lab\\plkWin.dll") }));
    EXPECT_EQ(console.lines().mid(2),
        QStringList(
            { QStringLiteral(
                  "no plkWin in library path: Native library load failed plkWin trying user's folder"),
                QStringLiteral("SerialPort class loaded users: plkWin") }));
}
