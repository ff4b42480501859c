// SPDX-License-Identifier: GPL-3.0-or-later
// The class-wide port list, driver data and display names.
#include "portlink/PortRegistry.h"
#include "portlink/PortlinkErrors.h"
#include "portlink/PortlinkRuntime.h"
#include "portlink/testing/ScopedNativeSide.h"
#include "portlink/testing/SimulatedNative.h"

#include "omvara/util/ProcessProperties.h"
#include "portlink/FriendlyPortUtil.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <thread>

using namespace portlink;
using namespace portlink::testing;
using omvara::util::ProcessProperties;
using portlink::FriendlyPortUtil;

namespace {

class PortListTest : public ::testing::Test
{
protected:
    PortListTest() { ProcessProperties::remove(QStringLiteral("SERIAL_PORT_LIST")); }
    ~PortListTest() override
    {
        ProcessProperties::remove(QStringLiteral("SERIAL_PORT_LIST"));
        FriendlyPortUtil::reset();
    }

    void discover(std::initializer_list<const char *> names)
    {
        for (const char *n : names)
            sim->addPort(QString::fromLatin1(n), QStringLiteral("Serial"), QStringLiteral("Maker"));
    }

    ScopedConsoleCapture console;
    std::shared_ptr<SimulatedNative> sim = std::make_shared<SimulatedNative>();
};

} // namespace

TEST_F(PortListTest, propertyList_replacesDiscoveryWhenLongerThanFourCharacters)
{
    ScopedNativeSide windows(sim);
    discover({ "COM7" });
    struct Case
    {
        const char *value;
        QStringList expected;
        int discoveries;
    };
    const Case cases[] = {
        { "COM1", { "COM7" }, 1 },
        { "  COM1\t\n", { "COM7" }, 1 },
        { "", { "COM7" }, 1 },
        { "COM1;COM2", { "COM1", "COM2" }, 0 },
        { "/dev/ttyS0:/dev/ttyS1", { "/dev/ttyS0", "/dev/ttyS1" }, 0 },
        { " ;;COM1;;COM2; ", { "COM1", "COM2" }, 0 },
        { "COM1;COM1:COM2", { "COM1", "COM2" }, 0 },
        { "/dev/pts/4", { "/dev/pts/4" }, 0 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        ScopedNativeSide fresh(sim); // empty lists each time
        const int before = sim->portListCalls();
        ProcessProperties::set(QStringLiteral("SERIAL_PORT_LIST"), QString::fromLatin1(c.value));
        EXPECT_EQ(PortRegistry::getPortList(), c.expected);
        EXPECT_EQ(sim->portListCalls() - before, c.discoveries);
    }
}

TEST_F(PortListTest, windowsDiscovery_putsComPortsFirstInNumericOrder)
{
    struct Case
    {
        std::initializer_list<const char *> found;
        QStringList expected;
    };
    const Case cases[] = {
        { { "COM10", "COM3", "COM1" }, { "COM1", "COM3", "COM10" } },
        { { "COM9", "COM10", "COM2" }, { "COM2", "COM9", "COM10" } },
        { { "/dev/ttyUSB0", "COM3" }, { "COM3", "/dev/ttyUSB0" } },
        { { "com3", "COM03", "COM4" }, { "COM3", "COM4" } },
        { { "COM", "COM1A", "COM2", "LPT1" }, { "COM2", "LPT1" } },
        { { "COM99999999999", "COM5" }, { "COM5" } },
        { {}, {} },
    };
    for (const Case &c : cases) {
        auto fresh = std::make_shared<SimulatedNative>();
        for (const char *n : c.found)
            fresh->addPort(QString::fromLatin1(n));
        ScopedNativeSide windows(fresh);
        EXPECT_EQ(PortRegistry::getPortList(), c.expected);
    }
}

TEST_F(PortListTest, discovery_dropsNamesAddedSinceTheLastOne)
{
    ScopedNativeSide windows(sim);
    discover({ "COM1" });
    PortRegistry::addPortName(QStringLiteral("/dev/pts/3"));
    EXPECT_EQ(PortRegistry::getPortList(), QStringList({ "COM1" }));
}

TEST_F(PortListTest, withoutDiscovery_theListIsWhatAddPortNameBuilt)
{
    ScopedNativeSide onLinux(sim, QStringLiteral("Linux"), QStringLiteral("amd64"));
    discover({ "/dev/ttyUSB7" }); // not asked: Linux has no discovery in the feature table
    (void)PortlinkRuntime::libraryState(); // the banner comes first
    console.clear();
    EXPECT_TRUE(PortRegistry::getPortList().isEmpty());
    const QStringList help = console.lines();
    ASSERT_EQ(help.size(), 5);
    EXPECT_EQ(help.mid(0, 3),
        QStringList({ "getPortList: port discovery not currently supported on this platform.",
            "Options:", "A) addPortName can be used to build a list of device names " }));
    EXPECT_TRUE(help[3].contains(QStringLiteral("SERIAL_PORT_LIST")));
    EXPECT_TRUE(help[4].contains(QStringLiteral("SERIAL_PORT_LIST")));

    PortRegistry::addPortName(QStringLiteral("/dev/ttyUSB0"));
    PortRegistry::addPortName(QStringLiteral("COM3"));
    PortRegistry::addPortName(QStringLiteral("com3"));
    PortRegistry::addPortName(QStringLiteral("/dev/TTYUSB0"));
    console.clear();
    EXPECT_EQ(PortRegistry::getPortList(), QStringList({ "/dev/ttyUSB0", "COM3" }));
    EXPECT_EQ(console.lines(), QStringList({ "getPortList: using list created with addPortName" }));
    EXPECT_EQ(sim->portListCalls(), 0);
}

TEST_F(PortListTest, driverInfo_needsTheFeatureAndAListedPort)
{
    {
        ScopedNativeSide onLinux(sim, QStringLiteral("Linux"), QStringLiteral("amd64"));
        PortRegistry::addPortName(QStringLiteral("/dev/ttyUSB0"));
        EXPECT_THROW(
            {
                try {
                    PortRegistry::getDriverInfoList();
                } catch (const IoError &e) {
                    EXPECT_EQ(e.message(), QStringLiteral("Not supported on this platform"));
                    throw;
                }
            },
            IoError);
    }
    ScopedNativeSide windows(sim);
    sim->addPort(QStringLiteral("COM3"), QStringLiteral("USB Serial Port"), QStringLiteral("FTDI"));
    sim->addPort(QStringLiteral("COM1"), QStringLiteral("Communications Port"),
        QStringLiteral("(Standard port types)"));
    try {
        PortRegistry::getDriverInfoList();
        FAIL();
    } catch (const IoError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Must call SerialPortLocal.getPortList method first"));
    }
    PortRegistry::getPortList();
    PortRegistry::getPortList(); // discovery again: no duplicate driver entries
    PortRegistry::addPortInfo(QStringLiteral("com3"), QStringLiteral("Other"), QStringLiteral("Other"));
    const QList<PortDriverInfo> infos = PortRegistry::getDriverInfoList();
    ASSERT_EQ(infos.size(), 2);
    EXPECT_EQ(infos[0],
        PortDriverInfo(QStringLiteral("COM3"), QStringLiteral("FTDI"), QStringLiteral("USB Serial Port")));
    EXPECT_EQ(infos[1].getPortName(), QStringLiteral("COM1"));
    PortRegistry::clearPortListInfo();
    EXPECT_TRUE(PortRegistry::getDriverInfoList().isEmpty());
}

TEST_F(PortListTest, friendlyNames_mapBothWays)
{
    ScopedNativeSide windows(sim);
    sim->addPort(QStringLiteral("COM3"), QStringLiteral("USB Serial Port"), QStringLiteral("FTDI"));
    sim->addPort(QStringLiteral("COM10"), QStringLiteral("100% Virtual"), QString());
    EXPECT_FALSE(FriendlyPortUtil::portInfoListIsPopulated());
    EXPECT_TRUE(FriendlyPortUtil::getFriendlyPortList().isEmpty());
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName(QStringLiteral("COM3")), QStringLiteral("COM3"));

    EXPECT_EQ(PortRegistry::getPortList(), QStringList({ "COM3", "COM10" }));
    FriendlyPortUtil::update();
    EXPECT_TRUE(FriendlyPortUtil::portInfoListIsPopulated());
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortList(),
        QStringList({ "COM3: USB Serial Port - FTDI", "COM10: 100% Virtual - " }));
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName(QStringLiteral("COM3")),
        QStringLiteral("COM3: USB Serial Port - FTDI"));
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName(QStringLiteral("com3")), QStringLiteral("com3"))
        << "exact match";
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName(QStringLiteral("COM4")), QStringLiteral("COM4"));
    EXPECT_EQ(FriendlyPortUtil::getUnfriendlyPortName(QStringLiteral("COM3: USB Serial Port - FTDI")),
        QStringLiteral("COM3"));
    EXPECT_EQ(FriendlyPortUtil::getUnfriendlyPortName(QStringLiteral("COM10: 100% Virtual - ")),
        QStringLiteral("COM10"));
    EXPECT_EQ(FriendlyPortUtil::getUnfriendlyPortName(QStringLiteral("COM3")), QStringLiteral("COM3"));
    EXPECT_EQ(
        FriendlyPortUtil::getUnfriendlyPortName(QStringLiteral("anything")), QStringLiteral("anything"));
}

TEST_F(PortListTest, failedUpdate_keepsThePreviousDisplayNames)
{
    {
        ScopedNativeSide windows(sim);
        sim->addPort(QStringLiteral("COM3"), QStringLiteral("USB Serial Port"), QStringLiteral("FTDI"));
        PortRegistry::getPortList();
        FriendlyPortUtil::update();
    }
    ScopedNativeSide onLinux(sim, QStringLiteral("Linux"), QStringLiteral("amd64"));
    EXPECT_THROW(FriendlyPortUtil::update(), IoError);
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortList(), QStringList({ "COM3: USB Serial Port - FTDI" }));

    FriendlyPortUtil::reset();
    EXPECT_THROW(FriendlyPortUtil::update(), IoError);
    EXPECT_FALSE(FriendlyPortUtil::portInfoListIsPopulated()) << "the window then shows bare names";
}

// The window lists ports while workers add theirs (thread sanitizer).
TEST_F(PortListTest, listAndAddFromSeveralThreads)
{
    ScopedNativeSide windows(sim);
    discover({ "COM1", "COM2" });
    std::thread adders[3];
    for (int t = 0; t < 3; ++t) {
        adders[t] = std::thread([t] {
            for (int i = 0; i < 50; ++i)
                PortRegistry::addPortName(QStringLiteral("/dev/pts/%1").arg(t * 100 + i));
        });
    }
    for (int i = 0; i < 20; ++i) {
        const QStringList list = PortRegistry::getPortList();
        EXPECT_GE(list.size(), 2);
        EXPECT_EQ(list.mid(0, 2), QStringList({ "COM1", "COM2" }));
    }
    for (auto &t : adders)
        t.join();
}
