// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/SerialConfig.h"

#include "portlink/PortlinkErrors.h"
#include "portlink/SystemProperties.h"

#include <QStringList>

#include <stdexcept>

namespace portlink {

const std::array<int, 15> SerialConfig::bitRateNumbers
    = { 110, 150, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600 };

const std::array<QString, 5> SerialConfig::parityNames = { QStringLiteral("NONE"), QStringLiteral("ODD"),
    QStringLiteral("EVEN"), QStringLiteral("MARK"), QStringLiteral("SPACE") };

const std::array<QString, 4> SerialConfig::handshakeNames = { QStringLiteral("NONE"),
    QStringLiteral("XON-XOFF"), QStringLiteral("CTS-RTS"), QStringLiteral("DSR-DTR") };

namespace {

// Systems whose drivers offer DSR/DTR handshaking.
bool dsrDtrAvailable(const QString &osName)
{
    static const QStringList names = { QStringLiteral("Windows 95"), QStringLiteral("Windows NT"),
        QStringLiteral("Windows CE"), QStringLiteral("Windows 98"), QStringLiteral("Windows Me"),
        QStringLiteral("Windows XP"), QStringLiteral("Windows 2000"), QStringLiteral("Windows 2003"),
        QStringLiteral("Windows Server 2008"), QStringLiteral("Windows Server 2008 R2"),
        QStringLiteral("Windows Vista"), QStringLiteral("Windows 7"), QStringLiteral("Windows NT (unknown)"),
        QStringLiteral("OS/2") };
    return names.contains(osName);
}

QByteArray encode(const QString &text)
{
    return text.toLocal8Bit();
}

} // namespace

void SerialConfig::setDefaults()
{
    m_port = 0;
    m_sPortName.clear();
    m_portName = QByteArray(1, '\0');
    m_baseName = QByteArray(1, '\0');
    m_txLen = 4096;
    m_rxLen = 4096;
    m_bitRate = BR_9600;
    m_parity = PY_NONE;
    m_dataBits = LN_8BITS;
    m_stopBits = ST_1BITS;
    m_handshake = HS_NONE;
    m_hardFlow = true;
    m_disableActiveLink = false;
    m_osName = SystemProperties::osName();
}

SerialConfig::SerialConfig()
{
    setDefaults();
    setPortName(QStringLiteral("COM1"));
    setBaseName(QStringLiteral("/dev/ttyS"));
}

SerialConfig::SerialConfig(int port)
{
    setDefaults();
    m_port = port;
    setBaseName(QStringLiteral("/dev/ttyS"));
}

SerialConfig::SerialConfig(int port, int txLen, int rxLen)
{
    setDefaults();
    m_port = port;
    m_txLen = txLen;
    m_rxLen = rxLen;
    setBaseName(QStringLiteral("/dev/ttyS"));
}

SerialConfig::SerialConfig(const QString &portName)
{
    setDefaults();
    setPortName(portName);
}

void SerialConfig::setBitRate(int bitRate)
{
    if (bitRate < 0 || bitRate > 921600)
        throw InvalidArgumentError(QStringLiteral("Invalid Serial Port Bit Rate"));
    m_bitRate = bitRate;
}

void SerialConfig::setDataBits(int dataBits)
{
    if (dataBits < LN_5BITS || dataBits > LN_8BITS)
        throw InvalidArgumentError(QStringLiteral("Invalid Serial Port Data Bits"));
    m_dataBits = dataBits;
}

void SerialConfig::setParity(int parity)
{
    if (parity < PY_NONE || parity > PY_SPACE)
        throw InvalidArgumentError(QStringLiteral("Invalid Serial Port Parity"));
    m_parity = parity;
}

void SerialConfig::setStopBits(int stopBits)
{
    if (stopBits < ST_1BITS || stopBits > ST_2BITS)
        throw InvalidArgumentError(QStringLiteral("Invalid Serial Port Stop Bits"));
    m_stopBits = stopBits;
}

void SerialConfig::setHandshake(int handshake)
{
    if (handshake == HS_DSRDTR) {
        if (!dsrDtrAvailable(m_osName))
            throw InvalidArgumentError(QStringLiteral("DSRDTR handshaking not available on this platform"));
    } else if (!(handshake >= HS_NONE && handshake <= HS_CTSRTS)
        && !(handshake >= HS_HARD_IN && handshake <= HS_SPLIT_MASK)) {
        throw InvalidArgumentError(QStringLiteral("Invalid Serial Port Handshake"));
    }
    m_handshake = handshake;
}

void SerialConfig::setPortNum(int port)
{
    if (port < 0 && m_osName != QLatin1String("EPOC"))
        throw InvalidArgumentError(QStringLiteral("Invalid Port Number: ") + QString::number(port));
    m_port = port;
}

void SerialConfig::setTxLen(int txLen)
{
    if (m_osName == QLatin1String("EPOC") && txLen > 8192)
        throw InvalidArgumentError(QStringLiteral("Limited to 8192 on EPOC"));
    m_txLen = txLen;
}

void SerialConfig::setRxLen(int rxLen)
{
    if (m_osName == QLatin1String("EPOC") && rxLen > 8192)
        throw InvalidArgumentError(QStringLiteral("Limited to 8192 on EPOC"));
    m_rxLen = rxLen;
}

void SerialConfig::setPortName(const QString &portName)
{
    m_sPortName = portName;
    m_portName = encode(portName);
}

void SerialConfig::setBaseName(const QString &baseName)
{
    m_baseName = encode(baseName);
}

int SerialConfig::getBitRateNumber(int code) const
{
    if (m_bitRate > 30)
        return m_bitRate;
    if (code < 0 || code >= static_cast<int>(bitRateNumbers.size()))
        throw std::out_of_range("bit rate code out of range: " + std::to_string(code));
    return bitRateNumbers[static_cast<size_t>(code)];
}

int SerialConfig::getBitRateIndex(int rate)
{
    for (size_t i = 0; i < bitRateNumbers.size(); ++i) {
        if (bitRateNumbers[i] == rate)
            return static_cast<int>(i);
    }
    return -1;
}

QString SerialConfig::getSettingsString() const
{
    const QString sep = QStringLiteral(" / ");
    QString handshake;
    if (m_handshake & HS_SPLIT_MASK) {
        if (m_handshake & HS_HARD_IN)
            handshake += QStringLiteral(" HI");
        if (m_handshake & HS_HARD_OUT)
            handshake += QStringLiteral(" HO");
        if (m_handshake & HS_SOFT_IN)
            handshake += QStringLiteral(" SI");
        if (m_handshake & HS_SOFT_OUT)
            handshake += QStringLiteral(" SO");
    } else if (m_handshake == HS_CTSRTS && m_osName == QLatin1String("Mac OS")) {
        handshake = QStringLiteral("CTS-DTR");
    } else {
        if (m_handshake < 0 || m_handshake >= static_cast<int>(handshakeNames.size()))
            throw std::out_of_range("handshake code out of range: " + std::to_string(m_handshake));
        handshake = handshakeNames[static_cast<size_t>(m_handshake)];
    }
    return QString::number(getBitRateNumber(m_bitRate)) + sep + parityNames.at(static_cast<size_t>(m_parity))
        + sep + QString::number(m_dataBits + 5) + sep + QString::number(m_stopBits + 1) + sep + handshake;
}

} // namespace portlink
