// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/SerialPortLocal.h"

#include "portlink/ErrorStatusHandler.h"
#include "portlink/FlowControlTask.h"
#include "portlink/NativeHandleMutex.h"
#include "portlink/OpenResult.h"
#include "portlink/PortRegistry.h"
#include "portlink/PortlinkErrors.h"
#include "portlink/PortlinkRuntime.h"
#include "portlink/SerialServerTask.h"
#include "portlink/SystemProperties.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <mutex>
#include <thread>

namespace portlink {

namespace {

QString shortSend(const char *prefix, int sent, qsizetype asked)
{
    return QString::fromLatin1(prefix) + QString::number(sent) + QStringLiteral(" of ")
        + QString::number(asked) + QStringLiteral(" bytes");
}

} // namespace

// --- construction and life cycle ---------------------------------------------

SerialPortLocal::SerialPortLocal()
{
    PortlinkRuntime::Shared runtime = PortlinkRuntime::loadedForNewPort();
    m_platform = std::move(runtime.platform);
    m_native = std::move(runtime.native);
    m_config = SerialConfig(runtime.devName);
    m_osName = SystemProperties::osName();
}

SerialPortLocal::SerialPortLocal(const SerialConfig &config)
    : m_platform(PortlinkRuntime::platform())
    , m_native(PortlinkRuntime::nativeFor(config.getPortNameString()))
    , m_osName(PortlinkRuntime::effectiveOsName())
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
            = m_config.getPortNameString() + QStringLiteral(": SerOpenPort failed: ") + openResultText(rc);
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
    PortlinkRuntime::setDevName(m_config.getPortNameString());
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
    return PortlinkRuntime::buildNumber();
}

bool SerialPortLocal::isLibraryLoaded() const
{
    return PortlinkRuntime::libraryState() == NativeLibraryState::Loaded;
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
    PortRegistry::deviceNotification();
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

} // namespace portlink
