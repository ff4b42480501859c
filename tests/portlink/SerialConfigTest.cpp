// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/SerialConfig.h"
#include "portlink/PortlinkErrors.h"

#include "omvara/util/ProcessProperties.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <functional>

using namespace portlink;
using omvara::util::ProcessProperties;

namespace {

// Pretends to run on another system for the configurations built meanwhile.
class ScopedOsName
{
public:
    explicit ScopedOsName(const QString &name) { ProcessProperties::set(QStringLiteral("os.name"), name); }
    ~ScopedOsName() { ProcessProperties::remove(QStringLiteral("os.name")); }
};

QString refusal(const std::function<void()> &call)
{
    try {
        call();
    } catch (const InvalidArgumentError &e) {
        return e.message();
    }
    return QStringLiteral("accepted");
}

} // namespace

TEST(SerialConfigTest, applicationConstructor_hasTheDefaultLineSettings)
{
    const SerialConfig c(QStringLiteral("COM3"));
    EXPECT_EQ(c.getPortNameString(), QStringLiteral("COM3"));
    EXPECT_EQ(c.getPortName(), QByteArray("COM3"));
    EXPECT_EQ(c.getBitRate(), SerialConfig::BR_9600);
    EXPECT_EQ(c.getDataBits(), SerialConfig::LN_8BITS);
    EXPECT_EQ(c.getStopBits(), SerialConfig::ST_1BITS);
    EXPECT_EQ(c.getParity(), SerialConfig::PY_NONE);
    EXPECT_EQ(c.getHandshake(), SerialConfig::HS_NONE);
    EXPECT_EQ(c.getTxLen(), 4096);
    EXPECT_EQ(c.getRxLen(), 4096);
    EXPECT_EQ(c.getPort(), 0);
    EXPECT_TRUE(c.getHardFlow());
    EXPECT_EQ(c.getBaseName(), QByteArray(1, '\0'));
    EXPECT_EQ(c.getSettingsString(), QStringLiteral("9600 / NONE / 8 / 1 / NONE"));
}

TEST(SerialConfigTest, otherConstructors_setPortNumberAndBaseName)
{
    const SerialConfig plain;
    EXPECT_EQ(plain.getPortNameString(), QStringLiteral("COM1"));
    EXPECT_EQ(plain.getBaseName(), QByteArray("/dev/ttyS"));
    const SerialConfig numbered(4, 100, 200);
    EXPECT_EQ(numbered.getPort(), 4);
    EXPECT_EQ(numbered.getTxLen(), 100);
    EXPECT_EQ(numbered.getRxLen(), 200);
    EXPECT_EQ(numbered.getBaseName(), QByteArray("/dev/ttyS"));
}

TEST(SerialConfigTest, setters_refuseValuesOutsideTheirSetsAndKeepTheOldValue)
{
    struct Case
    {
        const char *what;
        std::function<void(SerialConfig &)> set;
        std::function<int(const SerialConfig &)> get;
        const char *message; // nullptr: accepted
    };
    const auto bitRate = [](int v) { return [v](SerialConfig &c) { c.setBitRate(v); }; };
    const auto dataBits = [](int v) { return [v](SerialConfig &c) { c.setDataBits(v); }; };
    const auto parity = [](int v) { return [v](SerialConfig &c) { c.setParity(v); }; };
    const auto stopBits = [](int v) { return [v](SerialConfig &c) { c.setStopBits(v); }; };
    const auto handshake = [](int v) { return [v](SerialConfig &c) { c.setHandshake(v); }; };
    const auto getBitRate = [](const SerialConfig &c) { return c.getBitRate(); };
    const auto getDataBits = [](const SerialConfig &c) { return c.getDataBits(); };
    const auto getParity = [](const SerialConfig &c) { return c.getParity(); };
    const auto getStopBits = [](const SerialConfig &c) { return c.getStopBits(); };
    const auto getHandshake = [](const SerialConfig &c) { return c.getHandshake(); };
    const Case cases[] = {
        { "rate 921600", bitRate(921600), getBitRate, nullptr },
        { "rate 921601", bitRate(921601), getBitRate, "Invalid Serial Port Bit Rate" },
        { "rate -1", bitRate(-1), getBitRate, "Invalid Serial Port Bit Rate" },
        { "rate 0", bitRate(0), getBitRate, nullptr },
        { "data 3", dataBits(3), getDataBits, nullptr },
        { "data 4", dataBits(4), getDataBits, "Invalid Serial Port Data Bits" },
        { "data -1", dataBits(-1), getDataBits, "Invalid Serial Port Data Bits" },
        { "parity 4", parity(4), getParity, nullptr },
        { "parity 5", parity(5), getParity, "Invalid Serial Port Parity" },
        { "stop 1", stopBits(1), getStopBits, nullptr },
        { "stop 2", stopBits(2), getStopBits, "Invalid Serial Port Stop Bits" },
        { "handshake 2", handshake(2), getHandshake, nullptr },
        { "handshake 4", handshake(4), getHandshake, "Invalid Serial Port Handshake" },
        { "handshake 15", handshake(15), getHandshake, "Invalid Serial Port Handshake" },
        { "handshake 16", handshake(16), getHandshake, nullptr },
        { "handshake 0xF0", handshake(0xF0), getHandshake, nullptr },
        { "handshake 241", handshake(241), getHandshake, "Invalid Serial Port Handshake" },
        { "handshake -1", handshake(-1), getHandshake, "Invalid Serial Port Handshake" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SerialConfig config(QStringLiteral("COM3"));
        const int before = c.get(config);
        const QString result = refusal([&] { c.set(config); });
        if (c.message) {
            EXPECT_EQ(result, QString::fromLatin1(c.message));
            EXPECT_EQ(c.get(config), before);
        } else {
            EXPECT_EQ(result, QStringLiteral("accepted"));
        }
    }
}

TEST(SerialConfigTest, bitRate_keepsARealRateAsGiven)
{
    SerialConfig c(QStringLiteral("COM3"));
    c.setBitRate(9600);
    EXPECT_EQ(c.getBitRate(), 9600);
    EXPECT_EQ(c.getBitRateNumber(9600), 9600);
    EXPECT_FALSE(c.validBitRateIndex());
    c.setBitRate(7);
    EXPECT_EQ(c.getBitRateNumber(7), 9600);
    EXPECT_TRUE(c.validBitRateIndex());
    c.setBitRate(30); // still a code, and not one in the table
    EXPECT_THROW(c.getBitRateNumber(30), std::out_of_range);
    EXPECT_FALSE(c.validBitRateIndex());
    EXPECT_EQ(SerialConfig::getBitRateIndex(9600), 7);
    EXPECT_EQ(SerialConfig::getBitRateIndex(9601), -1);
    EXPECT_EQ(SerialConfig::getBitRateIndex(110), 0);
    EXPECT_EQ(SerialConfig::getBitRateIndex(921600), 14);
}

TEST(SerialConfigTest, dsrDtrHandshake_onlyOnSystemsWhoseDriversOfferIt)
{
    struct Case
    {
        const char *os;
        bool accepted;
    };
    const Case cases[]
        = { { "Windows XP", true }, { "Windows 7", true }, { "OS/2", true }, { "Windows NT (unknown)", true },
              { "Windows 10", false }, { "Windows 8.1", false }, { "Linux", false }, { "Mac OS X", false } };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.os);
        ScopedOsName os(QString::fromLatin1(c.os));
        SerialConfig config(QStringLiteral("COM1"));
        EXPECT_EQ(refusal([&] { config.setHandshake(SerialConfig::HS_DSRDTR); }),
            c.accepted ? QStringLiteral("accepted")
                       : QStringLiteral("DSRDTR handshaking not available on this platform"));
    }
}

TEST(SerialConfigTest, portNumberAndBufferLimits_dependOnTheSystem)
{
    {
        SerialConfig c(QStringLiteral("COM1"));
        EXPECT_EQ(refusal([&] { c.setPortNum(-1); }), QStringLiteral("Invalid Port Number: -1"));
        EXPECT_EQ(c.getPort(), 0);
        c.setTxLen(100000);
        EXPECT_EQ(c.getTxLen(), 100000);
    }
    ScopedOsName os(QStringLiteral("EPOC"));
    SerialConfig c(QStringLiteral("COMM::0"));
    EXPECT_EQ(refusal([&] { c.setPortNum(-1); }), QStringLiteral("accepted"));
    EXPECT_EQ(refusal([&] { c.setTxLen(8193); }), QStringLiteral("Limited to 8192 on EPOC"));
    EXPECT_EQ(refusal([&] { c.setRxLen(8193); }), QStringLiteral("Limited to 8192 on EPOC"));
    EXPECT_EQ(refusal([&] { c.setRxLen(8192); }), QStringLiteral("accepted"));
}

TEST(SerialConfigTest, settingsString_showsEveryPartInItsForm)
{
    struct Case
    {
        int rate, parity, dataBits, stopBits, handshake;
        const char *os;
        const char *text;
    };
    const Case cases[] = {
        { SerialConfig::BR_1200, 2, 2, 0, 0, "Linux", "1200 / EVEN / 7 / 1 / NONE" },
        { 19200, 1, 3, 1, 1, "Linux", "19200 / ODD / 8 / 2 / XON-XOFF" },
        { SerialConfig::BR_9600, 3, 0, 0, 2, "Linux", "9600 / MARK / 5 / 1 / CTS-RTS" },
        { SerialConfig::BR_9600, 4, 1, 0, 2, "Mac OS", "9600 / SPACE / 6 / 1 / CTS-DTR" },
        { SerialConfig::BR_9600, 0, 3, 0, 3, "Windows XP", "9600 / NONE / 8 / 1 / DSR-DTR" },
        { SerialConfig::BR_9600, 0, 3, 0, 0x90, "Linux", "9600 / NONE / 8 / 1 /  HI SO" },
        { SerialConfig::BR_9600, 0, 3, 0, 0xF0, "Linux", "9600 / NONE / 8 / 1 /  HI HO SI SO" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        ScopedOsName os(QString::fromLatin1(c.os));
        SerialConfig config(QStringLiteral("COM1"));
        config.setBitRate(c.rate);
        config.setParity(c.parity);
        config.setDataBits(c.dataBits);
        config.setStopBits(c.stopBits);
        config.setHandshake(c.handshake);
        EXPECT_EQ(config.getSettingsString(), QString::fromLatin1(c.text));
    }
}

TEST(SerialConfigTest, copy_isIndependentOfTheOriginal)
{
    SerialConfig a(QStringLiteral("COM2"));
    a.setParity(SerialConfig::PY_EVEN);
    SerialConfig b = a.copy();
    b.setPortName(QStringLiteral("COM5"));
    b.setParity(SerialConfig::PY_ODD);
    EXPECT_EQ(a.getPortNameString(), QStringLiteral("COM2"));
    EXPECT_EQ(a.getParity(), SerialConfig::PY_EVEN);
    EXPECT_EQ(b.getPortName(), QByteArray("COM5"));
}
