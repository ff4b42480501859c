// SPDX-License-Identifier: GPL-3.0-or-later
// An open serial port.
#pragma once

#include "portlink/NativeSerial.h"
#include "portlink/PlatformFeatures.h"
#include "portlink/SerialConfig.h"
#include "portlink/SerialPort.h"

#include <QString>

#include <atomic>
#include <memory>

namespace portlink {

class FlowControlTask;
class SerialServerTask;

// The program's only way to a serial port: a thin layer over the native side
// (NativeSerial) that applies the system's feature table, serialises native
// open/close/configure through NativeHandleMutex, and turns native results
// into values, booleans and IoErrors with fixed texts.
//
// The feature table and the native side come from the process-wide runtime
// (PortlinkRuntime), which the first port sets up; the ports the process
// knows of are in PortRegistry.
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
    // The port object's own device-change entry: PortRegistry::deviceNotification.
    void deviceNotification();

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
