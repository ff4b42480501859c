// SPDX-License-Identifier: GPL-3.0-or-later
// An open serial port.
#pragma once

#include "portlink/NativeSerial.h"
#include "portlink/PlatformFeatures.h"
#include "portlink/PortDriverInfo.h"
#include "portlink/SerialConfig.h"
#include "portlink/SerialPort.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

namespace portlink {

class DeviceNotificationCallback;
class FlowControlTask;
class SerialServerTask;

// Where the native side of the serial layer stands after class initialisation.
enum class NativeLibraryState {
    // Ready: ports can be opened and listed.
    Loaded,
    // A native library was chosen for this system but could not be loaded.
    // Every native call raises NativeLibraryError (getByte() answers -1).
    // The program reports this as a fatal start-up error (exit status 2).
    LoadFailed,
    // No native library is known for this system and processor names. The
    // program must end with exit status -1 before doing anything else
    // (kExitStatusPlatformNotSupported); the library itself never exits.
    PlatformNotSupported,
};

// The exit status a program uses when libraryState() is PlatformNotSupported.
inline constexpr int kExitStatusPlatformNotSupported = -1;

// The program's only way to a serial port: a thin layer over the native side
// (NativeSerial) that applies the system's feature table, serialises native
// open/close/configure through NativeHandleMutex, and turns native results
// into values, booleans and IoErrors with fixed texts.
//
// Class-wide state (feature table, native side, port lists) is set up on the
// first use in the process: the library banner and the system names are
// written to the Console, the feature table and library name are chosen from
// "PLK_OSNAME"/"os.name" and "PLK_OSARCH"/"os.arch", and the native side is
// loaded. Nothing here ends the process: ask libraryState().
//
// A port object is created open (the constructor with a configuration opens
// it) and is closed by close() or destruction; it is not reopened. See
// SerialPort for the threading contract.
class SerialPortLocal : public SerialPort
{
public:
    // Not opened; loads the native side when it is not loaded yet (throws
    // NativeLibraryError when that fails) and takes the system's default device.
    SerialPortLocal();
    // Opens the port at once; errors of open() (IoError, NativeLibraryError)
    // leave the constructor, and a device that was opened before the error
    // (configure refused) is closed again first.
    explicit SerialPortLocal(const SerialConfig &config);
    // Closes the port when still open; errors of that close are ignored.
    ~SerialPortLocal() override;

    SerialPortLocal(const SerialPortLocal &) = delete;
    SerialPortLocal &operator=(const SerialPortLocal &) = delete;

    void open() override;
    void close() override;
    bool isOpen() const override { return m_isOpen.load(); }
    void configure() override;
    void configure(SerialConfig &config) override;
    void setConfig(const SerialConfig &config) override;
    const SerialConfig &getConfig() const override { return m_config; }

    int getByte() override;
    bool waitForInput(int milliseconds) override;
    bool waitReadable(StopSignal &stop) override;
    bool waitReadable(StopSignal &stop, int milliseconds) override;
    int getData(QByteArray &buf) override;
    int getData(QByteArray &buf, int off, int len) override;
    int rxReadyCount() override;
    void rxFlush() override;
    bool rxOverflow() override;
    bool isDeviceLost() override;

    void putByte(std::uint8_t b) override;
    void putData(const QByteArray &buf) override;
    void putData(const QByteArray &buf, int len) override;
    void putData(const QByteArray &buf, int off, int len) override;
    void putString(const QString &s) override;
    int txBufCount() override;
    void txFlush() override;
    void txDrain() override;
    void sendBreak(int ms) override;

    bool sigCTS() override;
    bool sigDSR() override;
    bool sigCD() override;
    bool sigRing() override;
    bool sigBreak() override;
    bool sigParityErr() override;
    bool sigFrameErr() override;
    bool sigOverrun() override;
    void setDTR(bool on) override;
    void setRTS(bool on) override;

    void setTimeoutRx(int ms) override;
    void setTimeoutTx(int ms) override;
    int getTimeoutRx() override;
    int getTimeoutTx() override;

    int getBitRate() const override { return m_config.getBitRate(); }
    int getDataBits() const override { return m_config.getDataBits(); }
    int getParity() const override { return m_config.getParity(); }
    int getStopBits() const override { return m_config.getStopBits(); }
    int getHandshake() const override { return m_config.getHandshake(); }
    void setBitRate(int bitRate) override { m_config.setBitRate(bitRate); }
    void setDataBits(int dataBits) override { m_config.setDataBits(dataBits); }
    void setParity(int parity) override { m_config.setParity(parity); }
    void setStopBits(int stopBits) override { m_config.setStopBits(stopBits); }
    void setHandshake(int handshake) override { m_config.setHandshake(handshake); }

    QString getPortName() const override;
    int getPortNum() const override { return m_port.load(); }
    QString getName() const override { return m_name; }
    void setName(const QString &name) override { m_name = name; }
    int getMaxBitRate() const override { return m_platform->maxBitRate; }
    int getBuildNum() const override;
    bool isLibraryLoaded() const override;

    bool readSinceRxBufCheck() const override { return m_rdSinceRxBufCheck.load(); }
    bool sendSinceTxBufEmpty() const override { return m_wrSinceTxBufEmpty.load(); }
    void clearReadSinceRxBufCheck() override { m_rdSinceRxBufCheck.store(false); }
    void clearSendSinceTxBufEmpty() override { m_wrSinceTxBufEmpty.store(false); }
    void setErrorStatusHandler(ErrorStatusHandler *esh) override { m_esh = esh; }

    // Operations other systems offer; this program does not use them.
    void resetPortDriver();
    int getPowerMode();
    void setPowerMode(int mode);
    int getStatusAPM();
    int getResumeState();
    bool getInstanceLock();
    void setInstanceLock(bool on);
    QString getLibVer();
    // The object's view of the system name ("not supported on ..." texts).
    QString getOsName() const { return m_osName; }
    // The port object's own device-change entry: writes
    // "Portlink.deviceNotification" and forwards to the registered callback.
    void deviceNotification();

    // --- class-wide ------------------------------------------------------

    // Feature lookup by name ("sigCTS", "ParityMarkSpace", ...).
    static bool isSupported(const QString &feature);
    static NativeLibraryState libraryState();
    // The chosen native library's base name (empty when none is known).
    static QString getLibraryName();
    // The system and processor names the decisions were taken on.
    static QString getPlatformOsName();
    static QString getPlatformOsArch();
    static QString getDevName();

    // The port names known to the process; see the .cpp for the three sources
    // (property "SERIAL_PORT_LIST", native discovery, addPortName). Native
    // discovery errors (NativeLibraryError) pass to the caller. Any thread.
    static QStringList getPortList();
    // Adds a name unless one equal to it ignoring case is listed. Any thread.
    static void addPortName(const QString &name);
    // After the device of `config` went away (or would not open): waits until
    // it may be back, at most `ms` milliseconds, ending early when the calling
    // thread is interrupted. True when opening it again is worth a try before
    // the time is up (see NativeSerial::SerWaitPortName). Any thread.
    static bool waitForPortName(const SerialConfig &config, int ms);
    // Adds driver data unless the name (ignoring case) already has some.
    static void addPortInfo(const QString &name, const QString &manufacture, const QString &description);
    // A copy of the driver data; IoError "Not supported on this platform"
    // without supDriverInfo, "Must call SerialPortLocal.getPortList method
    // first" while the port list is empty.
    static QList<PortDriverInfo> getDriverInfoList();
    static void clearPortListInfo();
    static int getPortListMode();
    static void setPortListMode(int mode);

    // Not owned; nullptr unregisters.
    static void registerDeviceNotification(DeviceNotificationCallback *callback);
    static void unregisterDeviceNotification();

    // --- seams ---------------------------------------------------------------

    // Replaces how the native side is found (empty function: the compiled-in
    // one) and returns the loader in force before. Takes effect at the next
    // class initialisation.
    static NativeLoader setNativeLoader(NativeLoader loader);
    // Forgets the class-wide state (feature table, native side, port lists,
    // property-independent settings); the next use initialises again with the
    // current properties and loader. Open ports keep the native side they were
    // opened with. For tests and tools that switch systems.
    static void resetClassState();

private:
    friend class FlowControlTask;
    friend class SerialServerTask;

    int nativeFlowTask(int portNum);
    int nativeServerTask();
    void serverTaskFailed();
    void applyServerTaskFailure();
    void stopFlowControl();

    using NativeSignal = int (NativeSerial::*)(int);
    bool signal(bool supported, const char *op, NativeSignal call, bool failureRaises,
        const char *notOpenText, const char *failedText);
    void requireSupported(bool supported, const QString &prefix) const;
    void requireOpen(const QString &message) const;
    bool softReceiveWait(int port, int wanted);

    std::shared_ptr<const PlatformFeatures> m_platform;
    std::shared_ptr<NativeSerial> m_native;
    QString m_osName;

    std::atomic<int> m_port { -1 };
    QString m_name = QStringLiteral("Serial Port");
    SerialConfig m_config;
    std::unique_ptr<FlowControlTask> m_flowControl;
    std::unique_ptr<SerialServerTask> m_serverTask;
    std::atomic<bool> m_isOpen { false };
    std::atomic<bool> m_wrSinceTxBufEmpty { false };
    std::atomic<bool> m_rdSinceRxBufCheck { false };
    std::atomic<bool> m_serverTaskFailed { false };
    ErrorStatusHandler *m_esh = nullptr;
};

} // namespace portlink
