// SPDX-License-Identifier: GPL-3.0-or-later
// The line settings of a serial port (bit rate, data bits, parity, stop bits).
#pragma once

#include <QByteArray>
#include <QString>

#include <array>

namespace portlink {

// How a serial port is to be opened: device, bit rate, data and stop bits,
// parity, handshake and driver buffer sizes. Every setter validates at once and
// throws InvalidArgumentError with the fixed text, leaving the field unchanged,
// so a configuration that reaches a port holds only values from the sets below.
//
// The bit rate field holds either a code (0 to 30, index into bitRateNumbers)
// or a real rate in bits per second (above 30). A port turns a standard real
// rate back into its code when it applies the configuration.
//
// A plain value type: copy it freely; not synchronised.
class SerialConfig
{
public:
    static constexpr int BR_110 = 0;
    static constexpr int BR_150 = 1;
    static constexpr int BR_300 = 2;
    static constexpr int BR_600 = 3;
    static constexpr int BR_1200 = 4;
    static constexpr int BR_2400 = 5;
    static constexpr int BR_4800 = 6;
    static constexpr int BR_9600 = 7;
    static constexpr int BR_19200 = 8;
    static constexpr int BR_38400 = 9;
    static constexpr int BR_57600 = 10;
    static constexpr int BR_115200 = 11;
    static constexpr int BR_230400 = 12;
    static constexpr int BR_460800 = 13;
    static constexpr int BR_921600 = 14;

    static constexpr int LN_5BITS = 0;
    static constexpr int LN_6BITS = 1;
    static constexpr int LN_7BITS = 2;
    static constexpr int LN_8BITS = 3;

    static constexpr int ST_1BITS = 0;
    static constexpr int ST_2BITS = 1;

    static constexpr int PY_NONE = 0;
    static constexpr int PY_ODD = 1;
    static constexpr int PY_EVEN = 2;
    static constexpr int PY_MARK = 3;
    static constexpr int PY_SPACE = 4;

    static constexpr int HS_NONE = 0;
    static constexpr int HS_XONXOFF = 1;
    static constexpr int HS_CTSRTS = 2;
    static constexpr int HS_CTSDTR = 2; // the name of HS_CTSRTS on "Mac OS"
    static constexpr int HS_DSRDTR = 3;

    static constexpr int HS_HARD_IN = 0x10;
    static constexpr int HS_HARD_OUT = 0x20;
    static constexpr int HS_SOFT_IN = 0x40;
    static constexpr int HS_SOFT_OUT = 0x80;
    static constexpr int HS_SPLIT_MASK = 0xF0;

    // Power modes for the port's power operations (not used by this program).
    static constexpr int PWR_ACTIVE = 0;
    static constexpr int PWR_STANDBY = 1;

    static const std::array<int, 15> bitRateNumbers;
    static const std::array<QString, 5> parityNames;
    static const std::array<QString, 4> handshakeNames;

    // Port name "COM1", base name "/dev/ttyS".
    SerialConfig();
    // Port number given (counted from 1), base name "/dev/ttyS".
    explicit SerialConfig(int port);
    // Port number and buffer sizes given unchecked, base name "/dev/ttyS".
    SerialConfig(int port, int txLen, int rxLen);
    // The device name given (COM3, /dev/ttyUSB0, /dev/pts/4); the usual one.
    explicit SerialConfig(const QString &portName);

    void setBitRate(int bitRate);
    void setDataBits(int dataBits);
    void setParity(int parity);
    void setStopBits(int stopBits);
    void setHandshake(int handshake);
    void setPortNum(int port);
    void setTxLen(int txLen);
    void setRxLen(int rxLen);
    void setPortName(const QString &portName);
    void setBaseName(const QString &baseName);
    void setHardFlow(bool hardFlow) { m_hardFlow = hardFlow; }
    void setDisableActiveLink(bool disable) { m_disableActiveLink = disable; }

    int getPort() const { return m_port; }
    QString getPortNameString() const { return m_sPortName; }
    // The device name in the platform's encoding, as the native side receives it.
    QByteArray getPortName() const { return m_portName; }
    QByteArray getBaseName() const { return m_baseName; }
    int getTxLen() const { return m_txLen; }
    int getRxLen() const { return m_rxLen; }
    int getBitRate() const { return m_bitRate; }
    int getParity() const { return m_parity; }
    int getDataBits() const { return m_dataBits; }
    int getStopBits() const { return m_stopBits; }
    int getHandshake() const { return m_handshake; }
    bool getHardFlow() const { return m_hardFlow; }
    bool getDisableActiveLink() const { return m_disableActiveLink; }
    // The system name read at construction (property "os.name").
    QString getOsName() const { return m_osName; }

    // This configuration's bitRate when it is already a rate (> 30), else
    // bitRateNumbers[code]. Throws std::out_of_range for a code outside 0-14.
    int getBitRateNumber(int code) const;
    // The first code whose rate equals `rate`, or -1.
    static int getBitRateIndex(int rate);
    bool validBitRateIndex() const { return m_bitRate >= 0 && m_bitRate <= 14; }
    SerialConfig copy() const { return *this; }
    // "9600 / NONE / 8 / 1 / NONE". Throws std::out_of_range for a handshake
    // above 3 without split bits or a bit rate code outside the table.
    QString getSettingsString() const;

private:
    void setDefaults();

    int m_port = 0;
    QString m_sPortName;
    QByteArray m_portName;
    QByteArray m_baseName;
    int m_txLen = 4096;
    int m_rxLen = 4096;
    int m_bitRate = BR_9600;
    int m_parity = PY_NONE;
    int m_dataBits = LN_8BITS;
    int m_stopBits = ST_1BITS;
    int m_handshake = HS_NONE;
    bool m_hardFlow = true;
    QString m_osName;
    bool m_disableActiveLink = false;
};

} // namespace portlink
