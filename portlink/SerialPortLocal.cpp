// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/SerialPortLocal.h"

#include "portlink/Console.h"
#include "portlink/DeviceNotificationCallback.h"
#include "portlink/ErrorStatusHandler.h"
#include "portlink/FlowControlTask.h"
#include "portlink/NativeHandleMutex.h"
#include "portlink/NetworkPortName.h"
#include "portlink/PortlinkErrors.h"
#include "portlink/SerialServerTask.h"
#include "portlink/SystemProperties.h"
#include "portlink/net/Rfc2217NativeSerial.h"
#include "portlink/net/TcpNativeSerial.h"

#include "omvara/util/ProcessProperties.h"

#include <QRegularExpression>

#include <algorithm>
#include <chrono>
#include <climits>
#include <mutex>
#include <optional>
#include <thread>

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

// "PLK_OSNAME" when set, else the system's own name.
QString effectiveOsName()
{
    return property("PLK_OSNAME").value_or(SystemProperties::osName());
}

struct ClassState
{
    std::mutex mutex; // guards everything down to the port lists
    bool initialised = false;
    std::shared_ptr<const PlatformFeatures> platform;
    std::shared_ptr<NativeSerial> native; // MissingNative unless loaded
    NativeLibraryState state = NativeLibraryState::LoadFailed;
    NativeLoader loader;
    QString devName;
    DeviceNotificationCallback *callDeviceNotification = nullptr;

    std::mutex portListMutex;
    QStringList portList;
    std::mutex portListInfoMutex;
    QList<PortDriverInfo> portListInfo;
    QStringList portNumList;
    QList<int> comPortNums;
    std::atomic<int> portListMode { 0 };
};

ClassState &state()
{
    static ClassState s;
    return s;
}

std::shared_ptr<NativeSerial> load(const QString &nameOrPath, QString *error)
{
    ClassState &cs = state();
    if (cs.loader)
        return cs.loader(nameOrPath, error);
    return compiledNative();
}

// Class initialisation; called with cs.mutex held.
void initialiseLocked(ClassState &cs)
{
    if (cs.initialised)
        return;
    cs.initialised = true;

    auto platform = std::make_shared<PlatformFeatures>();
    platform->osName = effectiveOsName();
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
    cs.devName = platform->devName;
    cs.platform = platform;

    if (platform->plkLib.isEmpty()) {
        Console::println(
            QStringLiteral("osName=") + platform->osName + QStringLiteral(" osArch=") + platform->osArch);
        Console::println(QStringLiteral("Platform not supported, check VM properties os.name & os.arch"));
        cs.state = NativeLibraryState::PlatformNotSupported;
        cs.native = std::make_shared<MissingNative>(
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
        cs.native = native;
        cs.state = NativeLibraryState::Loaded;
    } else {
        cs.native = std::make_shared<MissingNative>(error);
        cs.state = NativeLibraryState::LoadFailed;
    }
}

ClassState &initialised()
{
    ClassState &cs = state();
    std::lock_guard lock(cs.mutex);
    initialiseLocked(cs);
    return cs;
}

std::shared_ptr<const PlatformFeatures> platformNow()
{
    ClassState &cs = initialised();
    std::lock_guard lock(cs.mutex);
    return cs.platform;
}

std::shared_ptr<NativeSerial> nativeNow()
{
    ClassState &cs = initialised();
    std::lock_guard lock(cs.mutex);
    return cs.native;
}

// Network ports have a native side of their own, chosen by the port name;
// every other name goes to the system's native side.
std::shared_ptr<NativeSerial> nativeFor(const QString &portName)
{
    switch (NetworkPortName::parse(portName).kind) {
    case NetworkPortName::Kind::Tcp: {
        static const std::shared_ptr<NativeSerial> tcp = std::make_shared<TcpNativeSerial>();
        (void)initialised(); // the banner and the platform decisions come first, as for any port
        return tcp;
    }
    case NetworkPortName::Kind::Rfc2217: {
        static const std::shared_ptr<NativeSerial> rfc2217 = std::make_shared<Rfc2217NativeSerial>();
        (void)initialised();
        return rfc2217;
    }
    case NetworkPortName::Kind::None:
        break;
    }
    return nativeNow();
}

// Trims characters up to and including the blank at both ends.
QString trimControlAndBlank(const QString &s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && s.at(begin).unicode() <= u' ')
        ++begin;
    while (end > begin && s.at(end - 1).unicode() <= u' ')
        --end;
    return s.mid(begin, end - begin);
}

// Lists handed out of a lock get their own storage, so that the shared list
// is never touched outside its lock, not even through Qt's sharing.
template <typename T> T unshared(const T &value)
{
    T copy = value;
    copy.detach();
    return copy;
}

class ClassListReceiver final : public PortListReceiver
{
public:
    void addPortName(const QString &name) override { SerialPortLocal::addPortName(name); }
    void addPortInfo(const QString &name, const QString &manufacture, const QString &description) override
    {
        SerialPortLocal::addPortInfo(name, manufacture, description);
    }
};

QString shortSend(const char *prefix, int sent, qsizetype asked)
{
    return QString::fromLatin1(prefix) + QString::number(sent) + QStringLiteral(" of ")
        + QString::number(asked) + QStringLiteral(" bytes");
}

QString openFailureText(int rc)
{
    switch (rc) {
    case 1000:
        return QStringLiteral("Port is already open");
    case 1002:
        return QStringLiteral("Port is in use");
    case 1003:
        return QStringLiteral("Port not valid");
    case 1004:
        return QStringLiteral("2: No such device");
    case 1006:
        return QStringLiteral("Permission denied");
    case 1007:
        return QStringLiteral("Device busy");
    case 1008:
        return QStringLiteral("19: No such device");
    case 1010:
        return QStringLiteral("Connection refused");
    case 1011:
        return QStringLiteral("No answer");
    case 1012:
        return QStringLiteral("Network unreachable");
    case 1013:
        return QStringLiteral("Unknown host");
    case 1014:
        return QStringLiteral("Stopped");
    case 1015:
        return QStringLiteral("Connection closed");
    case 1016:
        return QStringLiteral("Port number out of range");
    case 1017:
        return QStringLiteral("No COM-port option");
    default:
        return QStringLiteral(": ") + QString::number(rc);
    }
}

} // namespace

// --- construction and life cycle ---------------------------------------------

SerialPortLocal::SerialPortLocal()
{
    ClassState &cs = initialised();
    {
        std::lock_guard lock(cs.mutex);
        if (cs.state != NativeLibraryState::Loaded) {
            const QString lib = cs.platform->plkLib;
            Console::println(QStringLiteral("SerialPortLocal: Attempt to load: ") + lib);
            if (lib.isEmpty())
                throw NativeLibraryError(
                    QStringLiteral("Platform not supported, check VM properties os.name & os.arch"));
            QString error;
            const QString what = cs.platform->osName == QLatin1String("Windows 7")
                ? SystemProperties::userHome() + QLatin1Char('\\') + lib + QStringLiteral(".dll")
                : lib;
            std::shared_ptr<NativeSerial> native = load(what, &error);
            if (!native)
                throw NativeLibraryError(error);
            cs.native = native;
            cs.state = NativeLibraryState::Loaded;
            Console::println(QStringLiteral("SerialPortLocal: SerialPort class loaded: ") + lib);
        }
        m_platform = cs.platform;
        m_native = cs.native;
        m_config = SerialConfig(cs.devName);
    }
    m_osName = SystemProperties::osName();
}

SerialPortLocal::SerialPortLocal(const SerialConfig &config)
    : m_platform(platformNow())
    , m_native(nativeFor(config.getPortNameString()))
    , m_osName(effectiveOsName())
    , m_config(config)
{
    try {
        open();
    } catch (...) {
        // An open that got as far as the native open leaves the device open;
        // no destructor runs for a failed construction, so release it here.
        try {
            close();
        } catch (...) {
        }
        m_flowControl.reset();
        m_serverTask.reset();
        throw;
    }
}

SerialPortLocal::~SerialPortLocal()
{
    stopFlowControl();
    try {
        close();
    } catch (...) {
        // Destruction cannot report; the native side has released the port either way.
    }
    m_serverTask.reset();
}

void SerialPortLocal::stopFlowControl()
{
    if (m_flowControl) {
        m_flowControl->abort();
        m_flowControl.reset(); // joins the thread
    }
}

void SerialPortLocal::open()
{
    if (m_osName != QLatin1String("Windows 95"))
        m_config.setHardFlow(false);
    if (m_osName == QLatin1String("EPOC") && !m_serverTask) {
        m_serverTask = std::make_unique<SerialServerTask>(*this);
        m_serverTask->start();
    }
    applyServerTaskFailure();
    int rc;
    if (m_native->SerOpenIsSlow()) {
        // A connection may take seconds; other ports open meanwhile.
        rc = m_native->SerOpenPort(m_config);
    } else {
        std::lock_guard lock(NativeHandleMutex::getInstance());
        rc = m_native->SerOpenPort(m_config);
    }
    if (rc != 0) {
        QString message
            = m_config.getPortNameString() + QStringLiteral(": SerOpenPort failed: ") + openFailureText(rc);
        const QString hint = m_native->SerOpenFailureHint(rc, m_config);
        if (!hint.isEmpty())
            message += QStringLiteral(". ") + hint;
        throw IoError(message, rc);
    }
    m_isOpen.store(true);
    m_wrSinceTxBufEmpty.store(false);
    m_rdSinceRxBufCheck.store(false);
    m_port.store(m_config.getPort() - 1);

    configure(m_config);

    if (m_osName == QLatin1String("Mac OS")) {
        setTimeoutRx(2000);
        setTimeoutTx(2000);
    } else {
        setTimeoutRx(0);
        if (m_platform->supSetTimeoutTx) {
            // Time to send a full transmit buffer, times 100, in ms; computed
            // wide and clamped instead of wrapping for very large buffers.
            const long long rate = m_config.getBitRateNumber(m_config.getBitRate());
            const long long charsPerSecond = rate / 10;
            const long long microsPerChar = charsPerSecond > 0 ? 1000000 / charsPerSecond : 0;
            const long long t = 100 * (static_cast<long long>(m_config.getTxLen()) * microsPerChar / 1000);
            setTimeoutTx(static_cast<int>(std::clamp<long long>(t, 0, INT_MAX)));
        }
    }
}

void SerialPortLocal::close()
{
    m_wrSinceTxBufEmpty.store(false);
    m_rdSinceRxBufCheck.store(false);
    if (m_flowControl)
        m_flowControl->abort();
    if (!m_isOpen.exchange(false))
        return;
    int rc;
    {
        std::lock_guard lock(NativeHandleMutex::getInstance());
        rc = m_native->SerClosePort(m_port.load());
    }
    m_port.store(-1);
    if (rc != 0)
        throw IoError(QStringLiteral("ClosePort failed"));
}

void SerialPortLocal::configure()
{
    configure(m_config);
}

void SerialPortLocal::configure(SerialConfig &config)
{
    if (m_port.load() < 0 || !m_isOpen.load())
        throw IoError(QStringLiteral("configure: Port is not open"));
    applyServerTaskFailure();
    stopFlowControl();
    if (!m_platform->supNoIndexBitRate) {
        const int index = SerialConfig::getBitRateIndex(config.getBitRate());
        if (index >= 0)
            config.setBitRate(index);
        else if (!config.validBitRateIndex())
            throw IoError(QStringLiteral("Unsupported Serial Port Bit Rate"));
    }
    if (!m_platform->supParityMarkSpace && config.getParity() > SerialConfig::PY_EVEN)
        throw IoError(QStringLiteral("Unsupported Mark/Space parity"));
    int rc;
    {
        std::lock_guard lock(NativeHandleMutex::getInstance());
        rc = m_native->SerConfigure(m_port.load(), config);
    }
    if (rc != 0) {
        QString message = QStringLiteral("Configure failed: ") + QString::number(rc);
        const QString hint = m_native->SerConfigureFailureHint(rc, config);
        if (!hint.isEmpty())
            message += QStringLiteral(". ") + hint;
        throw IoError(message);
    }
    if (config.getHardFlow() && m_osName == QLatin1String("Windows 95")
        && (config.getHandshake() == SerialConfig::HS_CTSRTS
            || config.getHandshake() == SerialConfig::HS_DSRDTR)
        && !m_flowControl) {
        m_flowControl = std::make_unique<FlowControlTask>(*this);
        m_flowControl->start();
    }
}

void SerialPortLocal::setConfig(const SerialConfig &config)
{
    SerialConfig next = config;
    if (!m_isOpen.load())
        next.setPortNum(m_port.load() + 1);
    m_config = next;
    ClassState &cs = initialised();
    std::lock_guard lock(cs.mutex);
    cs.devName = m_config.getPortNameString();
}

bool SerialPortLocal::waitForPortName(const SerialConfig &config, int ms)
{
    return nativeFor(config.getPortNameString())->SerWaitPortName(config, ms) == 1;
}

// --- reading --------------------------------------------------------------------

bool SerialPortLocal::softReceiveWait(int port, int wanted)
{
    const int t = m_native->SerGetTimeoutRx(port);
    if (t <= 0)
        return true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(t);
    for (;;) {
        if (m_native->SerRxReadyCount(port) >= wanted)
            return true;
        std::this_thread::yield();
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
    }
}

int SerialPortLocal::getByte()
{
    m_rdSinceRxBufCheck.store(true);
    const int port = m_port.load();
    try {
        if (m_platform->softGetDataTimeout && !softReceiveWait(port, 1))
            return -1;
        return m_native->SerGetByte(port);
    } catch (const std::exception &) {
        return -1;
    }
}

bool SerialPortLocal::waitForInput(int milliseconds)
{
    const int port = m_port.load();
    if (port < 0)
        return false;
    try {
        return m_native->SerWaitInput(port, std::max(milliseconds, 0)) == 1;
    } catch (const std::exception &) {
        return false;
    }
}

bool SerialPortLocal::waitReadable(StopSignal &stop)
{
    return waitReadable(stop, -1);
}

bool SerialPortLocal::waitReadable(StopSignal &stop, int milliseconds)
{
    const int port = m_port.load();
    if (port < 0)
        return false;
    try {
        return m_native->SerWaitReadable(port, milliseconds < 0 ? -1 : milliseconds, &stop) == 1;
    } catch (const std::exception &) {
        return false;
    }
}

int SerialPortLocal::getData(QByteArray &buf)
{
    return getData(buf, 0, static_cast<int>(buf.size()));
}

int SerialPortLocal::getData(QByteArray &buf, int off, int len)
{
    m_rdSinceRxBufCheck.store(true);
    // Never past the end of buf, whatever off and len say.
    if (off < 0 || off > buf.size() || len < 0)
        throw IoError(QStringLiteral("getData: count out of bounds"));
    const int n = static_cast<int>(std::min<qsizetype>(len, buf.size() - off));
    const int port = m_port.load();
    if (m_platform->softGetDataTimeout && !softReceiveWait(port, n))
        return 0;
    const int got = m_native->SerGetData(port, reinterpret_cast<std::uint8_t *>(buf.data()) + off, n);
    if (got == -1)
        throw IoError(QStringLiteral("getData: failed"));
    return got;
}

int SerialPortLocal::rxReadyCount()
{
    requireSupported(m_platform->supRxReadyCount, QStringLiteral("rxReadyCount not supported on "));
    const int n = m_native->SerRxReadyCount(m_port.load());
    if (n == -1) {
        if (m_esh) {
            m_esh->sioErrorEvent(10);
            return -1;
        }
        throw IoError(QStringLiteral("rxReadyCount failed"));
    }
    return n;
}

void SerialPortLocal::rxFlush()
{
    if (m_native->SerRxFlush(m_port.load()) == -1)
        throw IoError(QStringLiteral("rxFlush failed"));
}

bool SerialPortLocal::rxOverflow()
{
    requireSupported(m_platform->supRxOverflow, QStringLiteral("rxOverflow not supported on "));
    requireOpen(QStringLiteral("rxOverflow: Port not open"));
    const int rc = m_native->SerRxOverflow(m_port.load());
    if (rc == -1)
        throw IoError(QStringLiteral("rxOverflow failed"));
    return rc == 1;
}

bool SerialPortLocal::isDeviceLost()
{
    const int port = m_port.load();
    if (port < 0)
        return false;
    try {
        return m_native->SerDeviceLost(port) == 1;
    } catch (const std::exception &) {
        return false;
    }
}

// --- writing --------------------------------------------------------------------

void SerialPortLocal::putByte(std::uint8_t b)
{
    const int rc = m_native->SerPutByte(m_port.load(), b);
    m_wrSinceTxBufEmpty.store(true);
    if (rc != 0)
        throw IoError(QStringLiteral("PutByte failed: ") + QString::number(rc));
}

void SerialPortLocal::putData(const QByteArray &buf)
{
    if (buf.isEmpty())
        return;
    const int sent = m_native->SerPutData(
        m_port.load(), reinterpret_cast<const std::uint8_t *>(buf.constData()), static_cast<int>(buf.size()));
    m_wrSinceTxBufEmpty.store(true);
    if (sent != buf.size())
        throw IoError(shortSend("PutData1: Sent only ", sent, buf.size()));
}

void SerialPortLocal::putData(const QByteArray &buf, int len)
{
    if (len > buf.size() || len < 0)
        throw IoError(QStringLiteral("putData: count out of bounds"));
    const int sent
        = m_native->SerPutData(m_port.load(), reinterpret_cast<const std::uint8_t *>(buf.constData()), len);
    m_wrSinceTxBufEmpty.store(true);
    if (sent != len)
        throw IoError(shortSend("PutData2: Sent only ", sent, len));
}

void SerialPortLocal::putData(const QByteArray &buf, int off, int len)
{
    if (off < 0 || len < 0 || static_cast<qsizetype>(off) + len > buf.size())
        throw IoError(QStringLiteral("putData3: count out of bounds"));
    const QByteArray part = buf.mid(off, len);
    const int sent
        = m_native->SerPutData(m_port.load(), reinterpret_cast<const std::uint8_t *>(part.constData()), len);
    m_wrSinceTxBufEmpty.store(true);
    if (sent != len)
        throw IoError(shortSend("putData3: Sent only ", sent, len));
}

void SerialPortLocal::putString(const QString &s)
{
    const QByteArray bytes = s.toLocal8Bit();
    const int sent = m_native->SerPutData(m_port.load(),
        reinterpret_cast<const std::uint8_t *>(bytes.constData()), static_cast<int>(bytes.size()));
    m_wrSinceTxBufEmpty.store(true);
    if (sent != bytes.size())
        throw IoError(shortSend("PutString: sent only ", sent, bytes.size()));
}

int SerialPortLocal::txBufCount()
{
    requireSupported(m_platform->supTxBufCount, QStringLiteral("txBufCount not supported on "));
    requireOpen(QStringLiteral("txBufCount: Port not open"));
    const int n = m_native->SerTxBufCount(m_port.load());
    if (n == -1)
        throw IoError(QStringLiteral("txBufCount failed"));
    return n;
}

void SerialPortLocal::txFlush()
{
    if (m_native->SerTxFlush(m_port.load()) == -1)
        throw IoError(QStringLiteral("txFlush failed"));
}

void SerialPortLocal::txDrain()
{
    if (m_native->SerTxDrain(m_port.load()) == -1)
        throw IoError(QStringLiteral("txDrain failed"));
}

void SerialPortLocal::sendBreak(int ms)
{
    requireSupported(m_platform->supSendBreak, QStringLiteral("sendBreak not supported on "));
    requireOpen(QStringLiteral("sendBreak: Port not open"));
    if (m_native->SerSendBreak(m_port.load(), ms) == -1)
        throw IoError(QStringLiteral("sendBreak failed"));
}

// --- line signals -----------------------------------------------------------------

void SerialPortLocal::requireSupported(bool supported, const QString &prefix) const
{
    if (!supported)
        throw IoError(prefix + m_osName);
}

void SerialPortLocal::requireOpen(const QString &message) const
{
    if (m_port.load() < 0)
        throw IoError(message);
}

bool SerialPortLocal::signal(bool supported, const char *op, NativeSignal call, bool failureRaises,
    const char *notOpenText, const char *failedText)
{
    if (!supported)
        throw IoError(QString::fromLatin1(op) + QStringLiteral(" not supported on ") + m_osName);
    const int port = m_port.load();
    if (port < 0)
        throw IoError(QString::fromLatin1(notOpenText));
    const int rc = (m_native.get()->*call)(port);
    if (rc == -1 && failureRaises)
        throw IoError(QString::fromLatin1(failedText));
    return rc == 1;
}

bool SerialPortLocal::sigCTS()
{
    return signal(true, "sigCTS", &NativeSerial::SerSigCTS, true, "sigCTS: Port not open", "sigCTS failed");
}

bool SerialPortLocal::sigDSR()
{
    return signal(true, "sigDSR", &NativeSerial::SerSigDSR, true, "sigDSR: Port not open", "sigDSR failed");
}

bool SerialPortLocal::sigCD()
{
    return signal(
        m_platform->supSigCD, "sigCD", &NativeSerial::SerSigCD, true, "sigCD: Port not open", "sigCD failed");
}

bool SerialPortLocal::sigRing()
{
    return signal(m_platform->supSigRing, "sigRing", &NativeSerial::SerSigRing, false,
        "sigRing: Port not open", nullptr);
}

bool SerialPortLocal::sigBreak()
{
    return signal(m_platform->supSigBreak, "sigBreak", &NativeSerial::SerSigBreak, false,
        "sigBreak: Port not open", nullptr);
}

bool SerialPortLocal::sigParityErr()
{
    return signal(m_platform->supSigParityErr, "sigParityErr", &NativeSerial::SerSigParityErr, false,
        "sigParityErr: Port not open", nullptr);
}

bool SerialPortLocal::sigFrameErr()
{
    return signal(m_platform->supSigFrameErr, "sigFrameErr", &NativeSerial::SerSigFrameErr, true,
        "sigFrameErr: Port not open", "sigFrameErr failed");
}

bool SerialPortLocal::sigOverrun()
{
    return signal(m_platform->supSigOverrun, "sigOverrun", &NativeSerial::SerSigOverrun, true,
        "sigOverrun: Port not open", "sigOverrun failed");
}

void SerialPortLocal::setDTR(bool on)
{
    requireSupported(m_platform->supSetDTR, QStringLiteral("setDTR not supported on "));
    requireOpen(QStringLiteral("setDTR: Port not open"));
    if (m_native->SerSetDTR(m_port.load(), on) == -1)
        throw IoError(QStringLiteral("setDTR failed"));
}

void SerialPortLocal::setRTS(bool on)
{
    requireSupported(m_platform->supSetRTS, QStringLiteral("setRts not supported on "));
    requireOpen(QStringLiteral("setRTS: Port not open"));
    if (m_native->SerSetRTS(m_port.load(), on) == -1)
        throw IoError(QStringLiteral("setRTS failed"));
}

// --- settings ---------------------------------------------------------------------

void SerialPortLocal::setTimeoutRx(int ms)
{
    if (m_native->SerSetTimeoutRx(m_port.load(), ms) == -1)
        throw IoError(QStringLiteral("setTimeoutRx failed"));
}

void SerialPortLocal::setTimeoutTx(int ms)
{
    if (m_native->SerSetTimeoutTx(m_port.load(), ms) == -1)
        throw IoError(QStringLiteral("setTimeoutTx failed"));
}

int SerialPortLocal::getTimeoutRx()
{
    return m_native->SerGetTimeoutRx(m_port.load());
}

int SerialPortLocal::getTimeoutTx()
{
    return m_native->SerGetTimeoutTx(m_port.load());
}

QString SerialPortLocal::getPortName() const
{
    return QString::fromLocal8Bit(m_config.getPortName());
}

int SerialPortLocal::getBuildNum() const
{
    return kBuildNum;
}

bool SerialPortLocal::isLibraryLoaded() const
{
    return libraryState() == NativeLibraryState::Loaded;
}

// --- operations for other systems ---------------------------------------------------

void SerialPortLocal::resetPortDriver()
{
    if (m_isOpen.load())
        throw IoError(QStringLiteral("resetPortDriver: Port must be closed"));
    requireSupported(m_platform->supUnplugPort, QStringLiteral("resetPortDriver not supported on "));
    const int rc = m_native->SerResetPortDriver(m_config.getPort() - 1);
    if (rc != 0)
        throw IoError(QStringLiteral("Reset port driver failed: ") + QString::number(rc));
}

int SerialPortLocal::getPowerMode()
{
    const int rc = m_native->SerGetPowerMode(m_port.load());
    if (rc < 0)
        throw IoError(QStringLiteral("getPowerMode failed: ") + QString::number(rc));
    return rc;
}

void SerialPortLocal::setPowerMode(int mode)
{
    const int rc = m_native->SerSetPowerMode(m_port.load(), mode);
    if (rc < 0)
        throw IoError(QStringLiteral("setPowerMode failed: ") + QString::number(rc));
}

int SerialPortLocal::getStatusAPM()
{
    return m_native->SerGetStatusAPM();
}

int SerialPortLocal::getResumeState()
{
    return m_native->SerGetResumeState();
}

bool SerialPortLocal::getInstanceLock()
{
    return m_native->SerGetInstanceLock();
}

void SerialPortLocal::setInstanceLock(bool on)
{
    m_native->SerSetInstanceLock(on);
}

QString SerialPortLocal::getLibVer()
{
    return m_native->SerGetLibVer();
}

void SerialPortLocal::deviceNotification()
{
    Console::println(QStringLiteral("Portlink.deviceNotification"));
    DeviceNotificationCallback *callback;
    {
        ClassState &cs = initialised();
        std::lock_guard lock(cs.mutex);
        callback = cs.callDeviceNotification;
    }
    if (callback)
        callback->deviceNotification();
}

int SerialPortLocal::nativeFlowTask(int portNum)
{
    return m_native->SerFlowTask(portNum);
}

int SerialPortLocal::nativeServerTask()
{
    try {
        return m_native->SerServerTask();
    } catch (const std::exception &) {
        return -1;
    }
}

void SerialPortLocal::serverTaskFailed()
{
    // Runs on the service thread: only flag it here; the port's own thread
    // marks its configuration (applyServerTaskFailure) so that the
    // configuration is never written from two threads.
    m_serverTaskFailed.store(true);
}

void SerialPortLocal::applyServerTaskFailure()
{
    if (!m_serverTaskFailed.exchange(false))
        return;
    try {
        m_config.setPortNum(-1);
    } catch (const InvalidArgumentError &) {
        // Only systems that allow negative port numbers take the mark.
    }
}

// --- class-wide -------------------------------------------------------------------

bool SerialPortLocal::isSupported(const QString &feature)
{
    return platformNow()->isSupported(feature);
}

NativeLibraryState SerialPortLocal::libraryState()
{
    ClassState &cs = initialised();
    std::lock_guard lock(cs.mutex);
    return cs.state;
}

QString SerialPortLocal::getLibraryName()
{
    return platformNow()->plkLib;
}

QString SerialPortLocal::getPlatformOsName()
{
    return platformNow()->osName;
}

QString SerialPortLocal::getPlatformOsArch()
{
    return platformNow()->osArch;
}

QString SerialPortLocal::getDevName()
{
    ClassState &cs = initialised();
    std::lock_guard lock(cs.mutex);
    return cs.devName;
}

// The port list has three sources:
//  1. the process property "SERIAL_PORT_LIST" (names separated by ";" or
//     ":"), used alone when it holds more than 4 characters after trimming;
//  2. native discovery where the system offers it, which replaces the list
//     (names added with addPortName since then drop out); on Windows-family
//     systems the COM names then come first in numeric order (com3 and COM03
//     both read COM3, COM10 after COM9), other names after them;
//  3. names added with addPortName (the only source without discovery).
QStringList SerialPortLocal::getPortList()
{
    ClassState &cs = initialised();
    std::shared_ptr<const PlatformFeatures> platform;
    std::shared_ptr<NativeSerial> native;
    {
        std::lock_guard lock(cs.mutex);
        platform = cs.platform;
        native = cs.native;
    }

    const std::optional<QString> listProperty = property("SERIAL_PORT_LIST");
    const QString trimmed = listProperty ? trimControlAndBlank(*listProperty) : QString();
    if (trimmed.size() > 4) {
        static const QRegularExpression separators(QStringLiteral("[;:]"));
        const QStringList names = trimmed.split(separators, Qt::SkipEmptyParts);
        std::lock_guard lock(cs.portListMutex);
        for (const QString &name : names) {
            if (!cs.portList.contains(name))
                cs.portList.append(name);
        }
        return unshared(cs.portList);
    }

    if (platform->supGetPortList) {
        {
            std::lock_guard lock(cs.portListMutex);
            cs.portList = QStringList();
            cs.portList.reserve(10);
        }
        ClassListReceiver receiver;
        native->SerGetPortList(receiver);
        if (platform->osFamilyWindows) {
            static const QRegularExpression comName(QStringLiteral("\\ACOM[0-9]+\\z"));
            QStringList snapshot;
            {
                std::lock_guard lock(cs.portListMutex);
                snapshot = unshared(cs.portList);
            }
            QList<int> numbers;
            QStringList others;
            for (const QString &name : snapshot) {
                const QString upper = name.toUpper();
                if (comName.match(upper).hasMatch()) {
                    bool ok = false;
                    const int number = upper.mid(3).toInt(&ok, 10);
                    // A number too large for the list is as unusable as "COM1A".
                    if (ok && !numbers.contains(number))
                        numbers.append(number);
                } else if (!upper.startsWith(QLatin1String("COM"))) {
                    others.append(name);
                }
            }
            std::sort(numbers.begin(), numbers.end());
            {
                std::lock_guard lock(cs.portListMutex);
                cs.portNumList = snapshot;
                cs.comPortNums = numbers;
            }
            QStringList result;
            result.reserve(numbers.size() + others.size());
            for (int n : numbers)
                result.append(QStringLiteral("COM") + QString::number(n));
            result.append(others);
            return result;
        }
    } else {
        bool haveNames;
        {
            std::lock_guard lock(cs.portListMutex);
            haveNames = !cs.portList.isEmpty();
        }
        if (haveNames) {
            Console::println(QStringLiteral("getPortList: using list created with addPortName"));
        } else {
            Console::println(
                QStringLiteral("getPortList: port discovery not currently supported on this platform."));
            Console::println(QStringLiteral("Options:"));
            Console::println(QStringLiteral("A) addPortName can be used to build a list of device names "));
            Console::println(QStringLiteral(
                "B) or set the property SERIAL_PORT_LIST to the names, separated by \";\" for COM ports: "
                "SERIAL_PORT_LIST=COM1;COM2"));
            Console::println(QStringLiteral(
                "   or by \":\" for device paths: SERIAL_PORT_LIST=/dev/ttyUSB0:/dev/ttyACM0"));
        }
    }
    std::lock_guard lock(cs.portListMutex);
    return unshared(cs.portList);
}

void SerialPortLocal::addPortName(const QString &name)
{
    ClassState &cs = state();
    std::lock_guard lock(cs.portListMutex);
    if (!cs.portList.contains(name, Qt::CaseInsensitive))
        cs.portList.append(name);
}

void SerialPortLocal::addPortInfo(const QString &name, const QString &manufacture, const QString &description)
{
    ClassState &cs = state();
    std::lock_guard lock(cs.portListInfoMutex);
    for (const PortDriverInfo &info : cs.portListInfo) {
        if (info.getPortName().compare(name, Qt::CaseInsensitive) == 0)
            return;
    }
    cs.portListInfo.append(PortDriverInfo(name, manufacture, description));
}

QList<PortDriverInfo> SerialPortLocal::getDriverInfoList()
{
    ClassState &cs = initialised();
    bool supported;
    {
        std::lock_guard lock(cs.mutex);
        supported = cs.platform->supDriverInfo;
    }
    if (!supported)
        throw IoError(QStringLiteral("Not supported on this platform"));
    {
        std::lock_guard lock(cs.portListMutex);
        if (cs.portList.isEmpty())
            throw IoError(QStringLiteral("Must call SerialPortLocal.getPortList method first"));
    }
    std::lock_guard lock(cs.portListInfoMutex);
    return unshared(cs.portListInfo);
}

void SerialPortLocal::clearPortListInfo()
{
    ClassState &cs = state();
    std::lock_guard lock(cs.portListInfoMutex);
    cs.portListInfo.clear();
}

int SerialPortLocal::getPortListMode()
{
    return state().portListMode.load();
}

void SerialPortLocal::setPortListMode(int mode)
{
    state().portListMode.store(mode);
}

void SerialPortLocal::registerDeviceNotification(DeviceNotificationCallback *callback)
{
    std::shared_ptr<NativeSerial> native = nativeNow();
    {
        ClassState &cs = state();
        std::lock_guard lock(cs.mutex);
        cs.callDeviceNotification = callback;
    }
    if (callback)
        native->SerRegisterDeviceNotification();
    else
        native->SerUnregisterDeviceNotification();
}

void SerialPortLocal::unregisterDeviceNotification()
{
    registerDeviceNotification(nullptr);
}

NativeLoader SerialPortLocal::setNativeLoader(NativeLoader loader)
{
    ClassState &cs = state();
    std::lock_guard lock(cs.mutex);
    std::swap(cs.loader, loader);
    return loader;
}

void SerialPortLocal::resetClassState()
{
    ClassState &cs = state();
    {
        std::lock_guard lock(cs.mutex);
        cs.initialised = false;
        cs.platform.reset();
        cs.native.reset();
        cs.state = NativeLibraryState::LoadFailed;
        cs.devName.clear();
        cs.callDeviceNotification = nullptr;
    }
    {
        std::lock_guard lock(cs.portListMutex);
        cs.portList.clear();
        cs.portNumList.clear();
        cs.comPortNums.clear();
    }
    {
        std::lock_guard lock(cs.portListInfoMutex);
        cs.portListInfo.clear();
    }
    cs.portListMode.store(0);
}

} // namespace portlink
