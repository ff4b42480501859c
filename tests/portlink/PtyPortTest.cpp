// SPDX-License-Identifier: GPL-3.0-or-later
// The port object over the real terminal interface, against pseudo-terminals.
#include "PtyPair.h"

#include "portlink/PortlinkErrors.h"
#include "portlink/SerialPortLocal.h"
#include "portlink/linux/LinuxNativeSerial.h"
#include "portlink/testing/ScopedNativeSide.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <QTemporaryFile>

#include <atomic>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>

using namespace portlink;
using portlink::testing::ScopedConsoleCapture;
using portlink::testing::ScopedNativeSide;
using namespace std::chrono_literals;

namespace {

// Reads bytes until `count` arrived or two seconds passed (the pty delivers
// asynchronously).
QByteArray readBytes(SerialPortLocal &port, int count)
{
    QByteArray got;
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        const int b = port.getByte();
        if (b < 0)
            std::this_thread::sleep_for(1ms);
        else
            got.append(static_cast<char>(b));
    }
    return got;
}

bool waitReady(SerialPortLocal &port, int count)
{
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (port.rxReadyCount() >= count)
            return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

SerialConfig lineSettings(const QString &path, int rate, int dataBits, int parity, int stopBits)
{
    SerialConfig config(path);
    config.setBitRate(rate);
    config.setDataBits(dataBits);
    config.setParity(parity);
    config.setStopBits(stopBits);
    return config;
}

class PtyPortTest : public ::testing::Test
{
protected:
    ScopedConsoleCapture console;
    // The program runs with the Windows row of the feature table in force.
    ScopedNativeSide native { compiledNative() };
    PtyPair pty;

    void SetUp() override { ASSERT_TRUE(pty.ok()); }
};

} // namespace

TEST_F(PtyPortTest, configure_appliesRateParityDataAndStopBitsToTheDevice)
{
    struct Case
    {
        int rate;
        int dataBits;
        int parity;
        int stopBits;
        speed_t speed;
        tcflag_t size;
        tcflag_t parityFlags;
        bool twoStopBits;
    };
    const Case cases[] = {
        { 9600, SerialConfig::LN_8BITS, SerialConfig::PY_NONE, SerialConfig::ST_1BITS, B9600, CS8, 0, false },
        { SerialConfig::BR_1200, SerialConfig::LN_7BITS, SerialConfig::PY_EVEN, SerialConfig::ST_1BITS, B1200,
            CS7, PARENB, false },
        { 19200, SerialConfig::LN_7BITS, SerialConfig::PY_ODD, SerialConfig::ST_2BITS, B19200, CS7,
            PARENB | PARODD, true },
        { 115200, SerialConfig::LN_8BITS, SerialConfig::PY_MARK, SerialConfig::ST_1BITS, B115200, CS8,
            PARENB | PARODD | CMSPAR, false },
        { 2400, SerialConfig::LN_5BITS, SerialConfig::PY_SPACE, SerialConfig::ST_2BITS, B2400, CS5,
            PARENB | CMSPAR, true },
        { 921600, SerialConfig::LN_6BITS, SerialConfig::PY_NONE, SerialConfig::ST_1BITS, B921600, CS6, 0,
            false },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rate);
        SerialPortLocal port(lineSettings(pty.slavePath(), c.rate, c.dataBits, c.parity, c.stopBits));
        const termios t = pty.settings();
        EXPECT_EQ(cfgetispeed(&t), c.speed);
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        // A pseudo-terminal forces 8 data bits without parity enable; the
        // odd and mark/space selections stay visible.
        (void)c.size;
        EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), c.parityFlags & (PARODD | CMSPAR));
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStopBits);
        EXPECT_EQ(t.c_lflag & ICANON, 0u) << "bytes must arrive one by one, not in lines";
        EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
        port.close();
    }
}

TEST_F(PtyPortTest, getByte_deliversEveryByteInOrderThenMinusOneWhenIdle)
{
    SerialPortLocal port(SerialConfig(pty.slavePath()));
    EXPECT_EQ(port.getByte(), -1);
    QByteArray sent("ST,+00012.50  g\r\n");
    sent.append('\0');
    sent.append(static_cast<char>(0xFF));
    sent.append(static_cast<char>(0x11)); // XON is data while there is no handshake
    ASSERT_TRUE(pty.send(sent));
    EXPECT_EQ(readBytes(port, static_cast<int>(sent.size())), sent);
    EXPECT_EQ(port.getByte(), -1);
    EXPECT_FALSE(port.isDeviceLost());
}

TEST_F(PtyPortTest, rxFlush_discardsWaitingData)
{
    SerialPortLocal port(SerialConfig(pty.slavePath()));
    ASSERT_TRUE(pty.send("old data"));
    ASSERT_TRUE(waitReady(port, 8));
    port.rxFlush();
    EXPECT_EQ(port.rxReadyCount(), 0);
    EXPECT_EQ(port.getByte(), -1);
    ASSERT_TRUE(pty.send("N"));
    EXPECT_EQ(readBytes(port, 1), QByteArray("N"));
}

TEST_F(PtyPortTest, bytesTakenFromTheDriverAhead_stayVisibleToEveryOtherCall)
{
    // getByte takes what the driver holds in one go; the bytes it has not
    // handed out yet must still count as waiting, be served first by getData,
    // wake waits at once, go with rxFlush, and outlive a hang-up.
    SerialPortLocal port(SerialConfig(pty.slavePath()));
    ASSERT_TRUE(pty.send("ABCDEFGH"));
    ASSERT_TRUE(waitReady(port, 8));
    EXPECT_EQ(readBytes(port, 1), QByteArray("A"));
    EXPECT_EQ(port.rxReadyCount(), 7);
    EXPECT_TRUE(port.waitForInput(0));
    QByteArray two(2, '\0');
    EXPECT_EQ(port.getData(two), 2);
    EXPECT_EQ(two, QByteArray("BC"));
    EXPECT_EQ(readBytes(port, 1), QByteArray("D"));

    port.rxFlush();
    EXPECT_EQ(port.rxReadyCount(), 0);
    EXPECT_FALSE(port.waitForInput(0));
    EXPECT_EQ(port.getByte(), -1);

    ASSERT_TRUE(pty.send("XYZ"));
    ASSERT_TRUE(waitReady(port, 3));
    EXPECT_EQ(readBytes(port, 1), QByteArray("X"));
    pty.closeMaster();
    EXPECT_EQ(readBytes(port, 2), QByteArray("YZ"));
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (!port.isDeviceLost() && std::chrono::steady_clock::now() < deadline) {
        EXPECT_EQ(port.getByte(), -1);
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(port.isDeviceLost());
}

TEST_F(PtyPortTest, portWithoutModemLines_acceptsSettingsAndReadsEverythingOff)
{
    SerialPortLocal port(SerialConfig(pty.slavePath()));
    EXPECT_NO_THROW(port.setRTS(false));
    EXPECT_NO_THROW(port.setDTR(true));
    EXPECT_NO_THROW(port.setRTS(true));
    EXPECT_FALSE(port.sigDSR());
    EXPECT_FALSE(port.sigCTS());
    EXPECT_FALSE(port.sigCD());
    EXPECT_FALSE(port.sigRing());
    EXPECT_FALSE(port.sigParityErr());
    EXPECT_FALSE(port.sigFrameErr());
    EXPECT_FALSE(port.sigOverrun());
    EXPECT_FALSE(port.sigBreak());
    EXPECT_FALSE(port.rxOverflow());
}

TEST_F(PtyPortTest, masterClosed_isReportedAsLostDeviceWhileGetByteKeepsMinusOne)
{
    SerialPortLocal port(SerialConfig(pty.slavePath()));
    ASSERT_TRUE(pty.send("AB"));
    EXPECT_EQ(readBytes(port, 2), QByteArray("AB"));
    EXPECT_FALSE(port.isDeviceLost());

    pty.closeMaster();
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (!port.isDeviceLost() && std::chrono::steady_clock::now() < deadline) {
        EXPECT_EQ(port.getByte(), -1);
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(port.isDeviceLost());
    EXPECT_EQ(port.getByte(), -1);
    EXPECT_THROW(port.sigDSR(), IoError);
    EXPECT_NO_THROW(port.close());
    EXPECT_FALSE(port.isDeviceLost());
}

TEST_F(PtyPortTest, open_failuresNameTheCause)
{
    auto openMessage = [](const QString &path) {
        try {
            SerialPortLocal port { SerialConfig(path) };
        } catch (const IoError &e) {
            return e.message();
        }
        return QStringLiteral("opened");
    };
    EXPECT_EQ(openMessage(QStringLiteral("/dev/does-not-exist-omvara")),
        QStringLiteral("/dev/does-not-exist-omvara: SerOpenPort failed: 2: No such device"));

    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    EXPECT_EQ(openMessage(file.fileName()),
        file.fileName() + QStringLiteral(": SerOpenPort failed: Port not valid"));

    {
        SerialPortLocal first { SerialConfig(pty.slavePath()) };
        EXPECT_EQ(openMessage(pty.slavePath()),
            pty.slavePath() + QStringLiteral(": SerOpenPort failed: Port is already open"));
    }

    // Another program holds the device.
    const int other = ::open(pty.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(openMessage(pty.slavePath()),
        pty.slavePath() + QStringLiteral(": SerOpenPort failed: Port is in use"));
    ::close(other);
    EXPECT_EQ(openMessage(pty.slavePath()), QStringLiteral("opened"));
}

TEST(LinuxNativeSerialTest, permissionHint_namesTheGroupThatOwnsTheDevice)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    LinuxNativeSerial native([] { return std::vector<PortListing>(); });
    const SerialConfig config(pty.slavePath());
    struct stat st
    {
    };
    ASSERT_EQ(::stat(pty.slavePath().toLocal8Bit().constData(), &st), 0);
    const ::group *g = ::getgrgid(st.st_gid);
    ASSERT_NE(g, nullptr);
    const QString group = QString::fromLocal8Bit(g->gr_name);
    const QString hint = native.SerOpenFailureHint(1006, config);
    EXPECT_TRUE(hint.contains(QStringLiteral("group \"%1\"").arg(group))) << hint.toStdString();
    EXPECT_TRUE(hint.contains(QStringLiteral("usermod -a -G %1").arg(group))) << hint.toStdString();
    EXPECT_TRUE(native.SerOpenFailureHint(1002, config).isEmpty());
}

TEST(LinuxNativeSerialTest, closedIndex_neverReachesADescriptorOpenedAfterIt)
{
    PtyPair first;
    PtyPair second;
    ASSERT_TRUE(first.ok() && second.ok());
    LinuxNativeSerial native([] { return std::vector<PortListing>(); });

    SerialConfig a(first.slavePath());
    ASSERT_EQ(native.SerOpenPort(a), 0);
    const int stale = a.getPort() - 1;
    ASSERT_EQ(native.SerConfigure(stale, a), 0);
    ASSERT_EQ(native.SerClosePort(stale), 0);

    // The next open may well get the same descriptor number back.
    SerialConfig b(second.slavePath());
    ASSERT_EQ(native.SerOpenPort(b), 0);
    const int live = b.getPort() - 1;
    EXPECT_NE(live, stale);
    ASSERT_EQ(native.SerConfigure(live, b), 0);
    ASSERT_TRUE(second.send("x"));
    std::this_thread::sleep_for(20ms);

    EXPECT_EQ(native.SerGetByte(stale), -1);
    EXPECT_EQ(native.SerSigDSR(stale), -1);
    EXPECT_EQ(native.SerRxFlush(stale), -1);
    EXPECT_EQ(native.SerDeviceLost(stale), -1);
    EXPECT_EQ(native.SerClosePort(stale), -1);
    EXPECT_EQ(native.SerRxReadyCount(live), 1) << "the stale calls must not have touched the live port";
    EXPECT_EQ(native.SerClosePort(live), 0);
}

TEST(LinuxNativeSerialTest, portList_reportsNameAndDriverDataOfEveryListedDevice)
{
    struct Recorder : PortListReceiver
    {
        QStringList names;
        QStringList infos;
        void addPortName(const QString &name) override { names.append(name); }
        void addPortInfo(const QString &name, const QString &mfgr, const QString &desc) override
        {
            infos.append(name + QLatin1Char('|') + mfgr + QLatin1Char('|') + desc);
        }
    } recorder;
    LinuxNativeSerial native([] {
        return std::vector<PortListing> { { QStringLiteral("/dev/ttyUSB0"), QStringLiteral("FT232R USB UART"),
                                              QStringLiteral("FTDI") },
            { QStringLiteral("/dev/ttyACM0"), QStringLiteral("Scale"), QString() } };
    });
    native.SerGetPortList(recorder);
    EXPECT_EQ(
        recorder.names, QStringList({ QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyACM0") }));
    EXPECT_EQ(recorder.infos,
        QStringList(
            { QStringLiteral("/dev/ttyUSB0|FTDI|FT232R USB UART"), QStringLiteral("/dev/ttyACM0||Scale") }));
}

// close() on the interface thread while the reader polls: run this under the
// thread sanitizer (build folder with -fsanitize=thread).
TEST_F(PtyPortTest, closeFromAnotherThread_whileReaderPolls_endsCleanly)
{
    for (int round = 0; round < 20; ++round) {
        SerialPortLocal port(SerialConfig(pty.slavePath()));
        ASSERT_TRUE(pty.send("0123456789"));
        std::atomic<bool> stop { false };
        std::atomic<long> polls { 0 };
        std::thread reader([&] {
            while (!stop.load()) {
                port.getByte();
                try {
                    port.sigDSR();
                    port.sigParityErr();
                    port.sigFrameErr();
                } catch (const IoError &) {
                    // "sigDSR: Port not open" once the close has happened
                }
                (void)port.isDeviceLost();
                polls.fetch_add(1);
            }
        });
        while (polls.load() < 5 + round)
            std::this_thread::yield();
        port.close();
        const long afterClose = polls.load();
        while (polls.load() < afterClose + 5)
            std::this_thread::yield();
        EXPECT_EQ(port.getByte(), -1);
        stop.store(true);
        reader.join();
        EXPECT_FALSE(port.isOpen());
        EXPECT_EQ(port.getPortNum(), -1);
    }
}
