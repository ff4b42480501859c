// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/PortlinkRuntime.h"

#include "portlink/Console.h"
#include "portlink/NativeHandleMutex.h"
#include "portlink/NetworkPortName.h"
#include "portlink/PortlinkErrors.h"
#include "portlink/SystemProperties.h"
#include "portlink/net/Rfc2217NativeSerial.h"
#include "portlink/net/TcpNativeSerial.h"

#include "omvara/util/ProcessProperties.h"

#include <mutex>
#include <optional>

namespace portlink {

using omvara::util::ProcessProperties;

namespace {

constexpr int kBuildNum = 9233;
const char *const kLibraryVersion = "10.2.3";

// Stands in for the native side when there is none: every entry raises the
// loader's error, except SerGetByte, whose callers rely on -1.
class MissingNative final : public NativeSerial
{
public:
    explicit MissingNative(QString error)
        : m_error(std::move(error))
    {
    }

    int SerOpenPort(SerialConfig &) override { fail(); }
    int SerClosePort(int) override { fail(); }
    int SerConfigure(int, const SerialConfig &) override { fail(); }
    int SerGetByte(int) override { return -1; }
    int SerGetData(int, std::uint8_t *, int) override { fail(); }
    int SerPutByte(int, std::uint8_t) override { fail(); }
    int SerPutData(int, const std::uint8_t *, int) override { fail(); }
    int SerRxFlush(int) override { fail(); }
    int SerTxFlush(int) override { fail(); }
    int SerTxDrain(int) override { fail(); }
    int SerRxReadyCount(int) override { fail(); }
    int SerTxBufCount(int) override { fail(); }
    int SerRxOverflow(int) override { fail(); }
    int SerSigCTS(int) override { fail(); }
    int SerSigDSR(int) override { fail(); }
    int SerSigCD(int) override { fail(); }
    int SerSigRing(int) override { fail(); }
    int SerSigBreak(int) override { fail(); }
    int SerSigParityErr(int) override { fail(); }
    int SerSigFrameErr(int) override { fail(); }
    int SerSigOverrun(int) override { fail(); }
    int SerSetDTR(int, bool) override { fail(); }
    int SerSetRTS(int, bool) override { fail(); }
    int SerSetTimeoutRx(int, int) override { fail(); }
    int SerSetTimeoutTx(int, int) override { fail(); }
    int SerGetTimeoutRx(int) override { fail(); }
    int SerGetTimeoutTx(int) override { fail(); }
    int SerSendBreak(int, int) override { fail(); }
    void SerGetPortList(PortListReceiver &) override { fail(); }
    int SerDeviceLost(int) override { return -1; }
    int SerFlowTask(int) override { fail(); }
    int SerServerTask() override { fail(); }
    QString SerGetLibVer() override { fail(); }
    int SerResetPortDriver(int) override { fail(); }
    int SerGetPowerMode(int) override { fail(); }
    int SerSetPowerMode(int, int) override { fail(); }
    int SerGetResumeState() override { fail(); }
    int SerGetStatusAPM() override { fail(); }
    bool SerGetInstanceLock() override { fail(); }
    int SerSetInstanceLock(bool) override { fail(); }
    int SerRegisterDeviceNotification() override { fail(); }
    int SerUnregisterDeviceNotification() override { fail(); }

private:
    [[noreturn]] void fail() const { throw NativeLibraryError(m_error); }
    QString m_error;
};

std::optional<QString> property(const char *name)
{
    const QString key = QString::fromLatin1(name);
    if (!ProcessProperties::contains(key))
        return std::nullopt;
    return ProcessProperties::get(key);
}

struct RuntimeState
{
    std::mutex mutex; // guards everything here
    bool initialised = false;
    std::shared_ptr<const PlatformFeatures> platform;
    std::shared_ptr<NativeSerial> native; // MissingNative unless loaded
    NativeLibraryState state = NativeLibraryState::LoadFailed;
    NativeLoader loader;
    QString devName;
};

RuntimeState &state()
{
    static RuntimeState s;
    return s;
}

std::shared_ptr<NativeSerial> load(const QString &nameOrPath, QString *error)
{
    RuntimeState &rs = state();
    if (rs.loader)
        return rs.loader(nameOrPath, error);
    return compiledNative();
}

// Class initialisation; called with rs.mutex held.
void initialiseLocked(RuntimeState &rs)
{
    if (rs.initialised)
        return;
    rs.initialised = true;

    auto platform = std::make_shared<PlatformFeatures>();
    platform->osName = PortlinkRuntime::effectiveOsName();
    platform->osArch = SystemProperties::osArch();
    platform->runtimeVersion = SystemProperties::runtimeVersion();
    platform->runtimeName = SystemProperties::runtimeName();

    const QString banner1 = QStringLiteral("Portlink serial library v%1 build %2")
                                .arg(QLatin1String(kLibraryVersion))
                                .arg(kBuildNum);
    const QString banner2 = QStringLiteral("Portlink: serial port access for the Omvara program");
    Console::println(banner1 + QStringLiteral("\r\n") + banner2);
    Console::println(
        QStringLiteral("os.name=\"%1\"  os.arch=\"%2\"").arg(platform->osName, platform->osArch));

    platform->featureSetup();
    (void)NativeHandleMutex::getInstance();
    platform->setNativeLibName(property("PLK_OSNAME"), property("PLK_OSARCH"));
    rs.devName = platform->devName;
    rs.platform = platform;

    if (platform->plkLib.isEmpty()) {
        Console::println(
            QStringLiteral("osName=") + platform->osName + QStringLiteral(" osArch=") + platform->osArch);
        Console::println(QStringLiteral("Platform not supported, check VM properties os.name & os.arch"));
        rs.state = NativeLibraryState::PlatformNotSupported;
        rs.native = std::make_shared<MissingNative>(
            QStringLiteral("Platform not supported, check VM properties os.name & os.arch"));
        return;
    }

    QString error;
    std::shared_ptr<NativeSerial> native = load(platform->plkLib, &error);
    if (native) {
        Console::println(QStringLiteral("SerialPort class loaded: ") + platform->plkLib);
    } else if (platform->osName == QLatin1String("Windows 7")) {
        Console::println(error + QStringLiteral(": Native library load failed ") + platform->plkLib
            + QStringLiteral(" trying user's folder"));
        QString error2;
        const QString path
            = SystemProperties::userHome() + QLatin1Char('\\') + platform->plkLib + QStringLiteral(".dll");
        native = load(path, &error2);
        if (native) {
            Console::println(QStringLiteral("SerialPort class loaded users: ") + platform->plkLib);
        } else {
            error = error2;
            Console::println(error + QStringLiteral(": Check that native library ") + platform->plkLib
                + QStringLiteral(" is in proper directory"));
        }
    } else {
        Console::println(error + QStringLiteral(": Check that native library ") + platform->plkLib
            + QStringLiteral(" is in proper directory"));
    }
    if (native) {
        rs.native = native;
        rs.state = NativeLibraryState::Loaded;
    } else {
        rs.native = std::make_shared<MissingNative>(error);
        rs.state = NativeLibraryState::LoadFailed;
    }
}

RuntimeState &initialised()
{
    RuntimeState &rs = state();
    std::lock_guard lock(rs.mutex);
    initialiseLocked(rs);
    return rs;
}

} // namespace

void PortlinkRuntime::initialise()
{
    (void)initialised();
}

NativeLibraryState PortlinkRuntime::libraryState()
{
    RuntimeState &rs = initialised();
    std::lock_guard lock(rs.mutex);
    return rs.state;
}

std::shared_ptr<const PlatformFeatures> PortlinkRuntime::platform()
{
    RuntimeState &rs = initialised();
    std::lock_guard lock(rs.mutex);
    return rs.platform;
}

std::shared_ptr<NativeSerial> PortlinkRuntime::native()
{
    RuntimeState &rs = initialised();
    std::lock_guard lock(rs.mutex);
    return rs.native;
}

std::shared_ptr<NativeSerial> PortlinkRuntime::nativeFor(const QString &portName)
{
    switch (NetworkPortName::parse(portName).kind) {
    case NetworkPortName::Kind::Tcp: {
        static const std::shared_ptr<NativeSerial> tcp = std::make_shared<TcpNativeSerial>();
        initialise(); // the banner and the platform decisions come first, as for any port
        return tcp;
    }
    case NetworkPortName::Kind::Rfc2217: {
        static const std::shared_ptr<NativeSerial> rfc2217 = std::make_shared<Rfc2217NativeSerial>();
        initialise();
        return rfc2217;
    }
    case NetworkPortName::Kind::None:
        break;
    }
    return native();
}

PortlinkRuntime::Shared PortlinkRuntime::shared()
{
    RuntimeState &rs = initialised();
    std::lock_guard lock(rs.mutex);
    return Shared { rs.platform, rs.native, rs.devName };
}

PortlinkRuntime::Shared PortlinkRuntime::loadedForNewPort()
{
    RuntimeState &rs = initialised();
    std::lock_guard lock(rs.mutex);
    if (rs.state != NativeLibraryState::Loaded) {
        const QString lib = rs.platform->plkLib;
        Console::println(QStringLiteral("SerialPortLocal: Attempt to load: ") + lib);
        if (lib.isEmpty())
            throw NativeLibraryError(
                QStringLiteral("Platform not supported, check VM properties os.name & os.arch"));
        QString error;
        const QString what = rs.platform->osName == QLatin1String("Windows 7")
            ? SystemProperties::userHome() + QLatin1Char('\\') + lib + QStringLiteral(".dll")
            : lib;
        std::shared_ptr<NativeSerial> native = load(what, &error);
        if (!native)
            throw NativeLibraryError(error);
        rs.native = native;
        rs.state = NativeLibraryState::Loaded;
        Console::println(QStringLiteral("SerialPortLocal: SerialPort class loaded: ") + lib);
    }
    return Shared { rs.platform, rs.native, rs.devName };
}

bool PortlinkRuntime::isSupported(const QString &feature)
{
    return platform()->isSupported(feature);
}

QString PortlinkRuntime::getLibraryName()
{
    return platform()->plkLib;
}

QString PortlinkRuntime::getPlatformOsName()
{
    return platform()->osName;
}

QString PortlinkRuntime::getPlatformOsArch()
{
    return platform()->osArch;
}

QString PortlinkRuntime::effectiveOsName()
{
    return property("PLK_OSNAME").value_or(SystemProperties::osName());
}

QString PortlinkRuntime::getDevName()
{
    RuntimeState &rs = initialised();
    std::lock_guard lock(rs.mutex);
    return rs.devName;
}

void PortlinkRuntime::setDevName(const QString &name)
{
    RuntimeState &rs = initialised();
    std::lock_guard lock(rs.mutex);
    rs.devName = name;
}

int PortlinkRuntime::buildNumber()
{
    return kBuildNum;
}

NativeLoader PortlinkRuntime::setNativeLoader(NativeLoader loader)
{
    RuntimeState &rs = state();
    std::lock_guard lock(rs.mutex);
    std::swap(rs.loader, loader);
    return loader;
}

void PortlinkRuntime::reset()
{
    RuntimeState &rs = state();
    std::lock_guard lock(rs.mutex);
    rs.initialised = false;
    rs.platform.reset();
    rs.native.reset();
    rs.state = NativeLibraryState::LoadFailed;
    rs.devName.clear();
}

} // namespace portlink
