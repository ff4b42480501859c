// SPDX-License-Identifier: GPL-3.0-or-later
// The port object against the simulated native side.
#include "portlink/SerialPortLocal.h"
#include "portlink/ErrorStatusHandler.h"
#include "portlink/FlowControlTask.h"
#include "portlink/NativeHandleMutex.h"
#include "portlink/OpenResult.h"
#include "portlink/PortlinkErrors.h"
#include "portlink/testing/ScopedNativeSide.h"
#include "portlink/testing/SimulatedNative.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <functional>
#include <thread>

using namespace portlink;
using namespace portlink::testing;
using namespace std::chrono_literals;

namespace {

QString ioError(const std::function<void()> &call)
{
    try {
        call();
    } catch (const IoError &e) {
        return e.message();
    }
    return QStringLiteral("no error");
}

class SimPortTest : public ::testing::Test
{
protected:
    explicit SimPortTest(
        const QString &os = QStringLiteral("Windows"), const QString &arch = QStringLiteral("x86"))
        : sim(std::make_shared<SimulatedNative>())
        , com3(
              sim->addPort(QStringLiteral("COM3"), QStringLiteral("USB Serial Port"), QStringLiteral("FTDI")))
        , native(sim, os, arch)
    {
    }

    ScopedConsoleCapture console;
    std::shared_ptr<SimulatedNative> sim;
    SimulatedPort &com3;
    ScopedNativeSide native;
};

class SimPortOnLinux : public SimPortTest
{
protected:
    SimPortOnLinux()
        : SimPortTest(QStringLiteral("Linux"), QStringLiteral("amd64"))
    {
    }
};

struct CountingHandler : ErrorStatusHandler
{
    QList<int> codes;
    void sioErrorEvent(int code) override { codes.append(code); }
};

} // namespace

TEST_F(SimPortTest, connectionSequence_reachesTheNativeSideInOrder)
{
    com3.setLine(SimLine::DSR, SimRule::FollowDTR);
    com3.setLine(SimLine::CTS, SimRule::FollowRTS);
    SerialConfig config(QStringLiteral("COM3"));
    config.setBitRate(9600);
    config.setParity(SerialConfig::PY_EVEN);
    config.setDataBits(SerialConfig::LN_7BITS);

    SerialPortLocal port(config);
    port.rxFlush();
    port.setRTS(false);
    port.setDTR(true);
    EXPECT_TRUE(port.sigDSR());
    EXPECT_FALSE(port.sigCTS());

    EXPECT_EQ(com3.calls(),
        QStringList({ "SerOpenPort", "SerConfigure", "SerSetTimeoutRx(0)", "SerSetTimeoutTx(426300)",
            "SerRxFlush", "SerSetRTS(0)", "SerSetDTR(1)", "SerSigDSR", "SerSigCTS" }));
    EXPECT_EQ(com3.lastConfiguration().getBitRate(), SerialConfig::BR_9600)
        << "a standard rate travels as its code";
    EXPECT_EQ(com3.lastConfiguration().getParity(), SerialConfig::PY_EVEN);
    EXPECT_EQ(port.getPortName(), QStringLiteral("COM3"));
    EXPECT_EQ(port.getPortNum(), 0);
    EXPECT_TRUE(port.isOpen());
    EXPECT_FALSE(port.getConfig().getHardFlow()) << "only Windows 95 emulates hardware flow control";
}

TEST_F(SimPortTest, openFailureCodes_becomeTheirMessagesAndKindsAndLeaveThePortClosed)
{
    using Kind = IoError::OpenFailure;
    struct Case
    {
        int code;
        const char *text;
        Kind kind;
    };
    const Case cases[] = {
        { 1000, "Port is already open", Kind::InUse },
        { 1002, "Port is in use", Kind::InUse },
        { 1003, "Port not valid", Kind::Other },
        { 1004, "2: No such device", Kind::NoSuchDevice },
        { 1006, "Permission denied", Kind::NoPermission },
        { 1007, "Device busy", Kind::InUse },
        { 1008, "19: No such device", Kind::NoSuchDevice },
        { 1010, "Connection refused", Kind::Other },
        { 1011, "No answer", Kind::Other },
        { 1012, "Network unreachable", Kind::Other },
        { 1013, "Unknown host", Kind::Other },
        { 1014, "Stopped", Kind::Other },
        { 1015, "Closed by the server", Kind::Other },
        { 1016, "Port number out of range", Kind::Other },
        { 1017, "No COM-port option", Kind::Other },
        { 1001, ": 1001", Kind::Other },
        { 1234, ": 1234", Kind::Other },
        { -5, ": -5", Kind::Other },
    };
    for (const OpenResultRow &row : openResults()) {
        EXPECT_TRUE(
            std::ranges::any_of(cases, [&](const Case &c) { return c.code == openResultCode(row.result); }))
            << "open result " << openResultCode(row.result) << " has its text and kind pinned here";
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        com3.failOpen(c.code, 1);
        com3.clearCalls();
        SerialPortLocal port;
        port.setConfig(SerialConfig(QStringLiteral("COM3")));
        try {
            port.open();
            ADD_FAILURE() << "opened";
        } catch (const IoError &e) {
            EXPECT_EQ(
                e.message(), QStringLiteral("COM3: SerOpenPort failed: ") + QString::fromLatin1(c.text));
            EXPECT_EQ(e.code(), c.code);
            EXPECT_EQ(e.openFailure(), c.kind);
        }
        EXPECT_FALSE(port.isOpen());
        EXPECT_EQ(port.getPortNum(), -1);
        EXPECT_NO_THROW(port.close());
        EXPECT_EQ(com3.calls(), QStringList({ "SerOpenPort" }))
            << "close of a port that never opened does nothing";
    }
    EXPECT_EQ(ioError([] { SerialPortLocal port { SerialConfig(QStringLiteral("COM9")) }; }),
        QStringLiteral("COM9: SerOpenPort failed: 2: No such device"));
}

TEST_F(SimPortTest, permissionDenied_keepsTheMessageFirstAndAddsTheNativeAdvice)
{
    com3.failOpen(1006);
    com3.setOpenFailureHint(QStringLiteral("Add your user to the group \"dialout\""));
    EXPECT_EQ(ioError([] { SerialPortLocal port { SerialConfig(QStringLiteral("COM3")) }; }),
        QStringLiteral(
            "COM3: SerOpenPort failed: Permission denied. Add your user to the group \"dialout\""));
}

TEST_F(SimPortTest, closeTwice_closesNativelyOnceAndOnlyClearsFlagsTheSecondTime)
{
    com3.feed("x");
    SerialPortLocal port(SerialConfig(QStringLiteral("COM3")));
    EXPECT_EQ(port.getByte(), 'x');
    EXPECT_TRUE(port.readSinceRxBufCheck());
    port.close();
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.getPortNum(), -1);
    EXPECT_FALSE(com3.isOpen());
    port.getByte();
    EXPECT_TRUE(port.readSinceRxBufCheck());
    port.close();
    EXPECT_FALSE(port.readSinceRxBufCheck());
    EXPECT_EQ(com3.calls().count(QStringLiteral("SerClosePort")), 1);
}

TEST_F(SimPortTest, failedNativeClose_stillLeavesThePortClosed)
{
    com3.forceResult(SimCall::Close, 31);
    SerialPortLocal port(SerialConfig(QStringLiteral("COM3")));
    EXPECT_EQ(ioError([&] { port.close(); }), QStringLiteral("ClosePort failed"));
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.getPortNum(), -1);
}

TEST_F(SimPortTest, destruction_closesAnOpenPort)
{
    {
        SerialPortLocal port(SerialConfig(QStringLiteral("COM3")));
        EXPECT_TRUE(com3.isOpen());
    }
    EXPECT_FALSE(com3.isOpen());
}

TEST_F(SimPortTest, lineSignals_readNativeFailureAsFalseOrRaiseByKind)
{
    struct Case
    {
        const char *name;
        SimCall call;
        std::function<bool(SerialPortLocal &)> query;
        const char *failed; // nullptr: -1 reads as false
    };
    const Case cases[] = {
        { "sigCTS", SimCall::SigCTS, &SerialPortLocal::sigCTS, "sigCTS failed" },
        { "sigDSR", SimCall::SigDSR, &SerialPortLocal::sigDSR, "sigDSR failed" },
        { "sigCD", SimCall::SigCD, &SerialPortLocal::sigCD, "sigCD failed" },
        { "sigFrameErr", SimCall::SigFrameErr, &SerialPortLocal::sigFrameErr, "sigFrameErr failed" },
        { "sigOverrun", SimCall::SigOverrun, &SerialPortLocal::sigOverrun, "sigOverrun failed" },
        { "sigRing", SimCall::SigRing, &SerialPortLocal::sigRing, nullptr },
        { "sigBreak", SimCall::SigBreak, &SerialPortLocal::sigBreak, nullptr },
        { "sigParityErr", SimCall::SigParityErr, &SerialPortLocal::sigParityErr, nullptr },
    };
    SerialPortLocal port(SerialConfig(QStringLiteral("COM3")));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        com3.forceResult(c.call, 1, 1);
        EXPECT_TRUE(c.query(port));
        com3.forceResult(c.call, -1, 1);
        if (c.failed)
            EXPECT_EQ(ioError([&] { c.query(port); }), QString::fromLatin1(c.failed));
        else
            EXPECT_FALSE(c.query(port));
    }
    port.close();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(
            ioError([&] { c.query(port); }), QString::fromLatin1(c.name) + QStringLiteral(": Port not open"));
    }
    EXPECT_EQ(ioError([&] { port.setDTR(true); }), QStringLiteral("setDTR: Port not open"));
    EXPECT_EQ(ioError([&] { port.setRTS(true); }), QStringLiteral("setRTS: Port not open"));
    EXPECT_EQ(ioError([&] { port.rxOverflow(); }), QStringLiteral("rxOverflow: Port not open"));
    EXPECT_EQ(ioError([&] { port.txBufCount(); }), QStringLiteral("txBufCount: Port not open"));
    EXPECT_EQ(ioError([&] { port.sendBreak(10); }), QStringLiteral("sendBreak: Port not open"));
    EXPECT_EQ(port.getByte(), -1);
}

TEST_F(SimPortTest, settingLines_failuresRaise)
{
    SerialPortLocal port(SerialConfig(QStringLiteral("COM3")));
    com3.forceResult(SimCall::SetDTR, -1, 1);
    com3.forceResult(SimCall::SetRTS, -1, 1);
    EXPECT_EQ(ioError([&] { port.setDTR(true); }), QStringLiteral("setDTR failed"));
    EXPECT_EQ(ioError([&] { port.setRTS(true); }), QStringLiteral("setRTS failed"));
    EXPECT_FALSE(com3.dtr());
    port.setDTR(true);
    EXPECT_TRUE(com3.dtr());
    com3.forceResult(SimCall::RxFlush, -1, 1);
    EXPECT_EQ(ioError([&] { port.rxFlush(); }), QStringLiteral("rxFlush failed"));
}

TEST_F(SimPortTest, unsupportedCheck_comesBeforeTheOpenCheck)
{
    // The port is closed here; the systems lack the features.
    struct Case
    {
        const char *os;
        std::function<void(SerialPortLocal &)> call;
        const char *message;
    };
    const Case cases[] = {
        { "UnixWare", [](SerialPortLocal &p) { p.setRTS(false); }, "setRts not supported on UnixWare" },
        { "Linux", [](SerialPortLocal &p) { p.sigParityErr(); }, "sigParityErr not supported on Linux" },
        { "Linux", [](SerialPortLocal &p) { p.sigFrameErr(); }, "sigFrameErr not supported on Linux" },
        { "Linux", [](SerialPortLocal &p) { p.rxOverflow(); }, "rxOverflow not supported on Linux" },
        { "Irix", [](SerialPortLocal &p) { p.setDTR(true); }, "setDTR not supported on Irix" },
        { "Mac OS", [](SerialPortLocal &p) { p.sigCD(); }, "sigCD not supported on Mac OS" },
        { "Mac OS X", [](SerialPortLocal &p) { p.sigRing(); }, "sigRing not supported on Mac OS X" },
        { "Mac OS X", [](SerialPortLocal &p) { p.sigBreak(); }, "sigBreak not supported on Mac OS X" },
        { "Mac OS X", [](SerialPortLocal &p) { p.sigOverrun(); }, "sigOverrun not supported on Mac OS X" },
        { "EPOC", [](SerialPortLocal &p) { p.sendBreak(1); }, "sendBreak not supported on EPOC" },
        { "Irix", [](SerialPortLocal &p) { p.sigCTS(); },
            "sigCTS: Port not open" }, // sigCTS has no support check
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        const char *arch = QLatin1String(c.os) == QLatin1String("EPOC") ? "arm"
            : QLatin1String(c.os) == QLatin1String("UnixWare")          ? "IA32"
            : QLatin1String(c.os) == QLatin1String("Irix")              ? "mips"
                                                                        : "amd64";
        ScopedNativeSide system(sim, QString::fromLatin1(c.os), QString::fromLatin1(arch));
        SerialPortLocal port(SerialConfig(QStringLiteral("COM3")));
        port.close();
        EXPECT_EQ(ioError([&] { c.call(port); }), QString::fromLatin1(c.message));
    }
}

TEST_F(SimPortTest, configure_turnsRatesIntoCodesAndRefusesWhatTheSystemCannotDo)
{
    SerialConfig nonStandard(QStringLiteral("COM3"));
    nonStandard.setBitRate(14400);
    EXPECT_EQ(ioError([&] { SerialPortLocal port(nonStandard); }),
        QStringLiteral("Unsupported Serial Port Bit Rate"));
    EXPECT_FALSE(com3.isOpen()) << "a port refused while configuring is released again";
    EXPECT_EQ(com3.configureCount(), 0);

    SerialConfig badCode(QStringLiteral("COM3"));
    badCode.setBitRate(20);
    EXPECT_EQ(
        ioError([&] { SerialPortLocal port(badCode); }), QStringLiteral("Unsupported Serial Port Bit Rate"));

    SerialConfig mark(QStringLiteral("COM3"));
    mark.setParity(SerialConfig::PY_MARK);
    EXPECT_NO_THROW(SerialPortLocal { mark }) << "Windows does mark parity";

    com3.failConfigure(87, 1);
    EXPECT_EQ(ioError([] { SerialPortLocal port { SerialConfig(QStringLiteral("COM3")) }; }),
        QStringLiteral("Configure failed: 87"));
    EXPECT_FALSE(com3.isOpen());

    SerialPortLocal port(SerialConfig(QStringLiteral("COM3")));
    SerialConfig other(QStringLiteral("COM3"));
    other.setBitRate(115200);
    port.configure(other);
    EXPECT_EQ(other.getBitRate(), SerialConfig::BR_115200)
        << "the configuration given is changed to the code";
    EXPECT_EQ(port.getBitRate(), SerialConfig::BR_9600) << "and not kept";
    port.close();
    EXPECT_EQ(ioError([&] { port.configure(); }), QStringLiteral("configure: Port is not open"));
}

TEST_F(SimPortTest, configureOnSystemsWithoutCodesOrMarkSpace)
{
    {
        ScopedNativeSide os2(sim, QStringLiteral("OS/2"), QStringLiteral("x86"));
        SerialConfig config(QStringLiteral("COM3"));
        config.setBitRate(14400);
        SerialPortLocal port(config);
        EXPECT_EQ(com3.lastConfiguration().getBitRate(), 14400) << "OS/2 takes rates as they are";
    }
    {
        ScopedNativeSide mac(sim, QStringLiteral("Mac OS"), QStringLiteral("ppc"));
        SerialConfig config(QStringLiteral("COM3"));
        config.setParity(SerialConfig::PY_MARK);
        EXPECT_EQ(
            ioError([&] { SerialPortLocal port(config); }), QStringLiteral("Unsupported Mark/Space parity"));
        config.setParity(SerialConfig::PY_SPACE);
        EXPECT_EQ(
            ioError([&] { SerialPortLocal port(config); }), QStringLiteral("Unsupported Mark/Space parity"));
        config.setParity(SerialConfig::PY_EVEN);
        SerialPortLocal port(config);
        EXPECT_EQ(com3.timeoutRx(), 2000);
        EXPECT_EQ(com3.timeoutTx(), 2000);
    }
    {
        ScopedNativeSide onLinux(sim, QStringLiteral("Linux"), QStringLiteral("amd64"));
        SerialConfig config(QStringLiteral("COM3"));
        config.setParity(SerialConfig::PY_MARK);
        EXPECT_NO_THROW(SerialPortLocal { config });
    }
}

TEST_F(SimPortTest, transmitTimeout_isTheTimeToSendTheBufferTimesAHundred)
{
    struct Case
    {
        int rate;
        int txLen;
        int expected;
    };
    const Case cases[] = {
        { 9600, 4096, 426300 },
        { SerialConfig::BR_9600, 4096, 426300 },
        { 110, 4096, 37236300 },
        { 115200, 4096, 35200 },
        { 921600, 16, 0 },
        { 110, 1000000, INT_MAX }, // clamped rather than wrapped round
        { 9600, 0, 0 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.expected);
        SerialConfig config(QStringLiteral("COM3"));
        config.setBitRate(c.rate);
        config.setTxLen(c.txLen);
        SerialPortLocal port(config);
        EXPECT_EQ(com3.timeoutTx(), c.expected);
        EXPECT_EQ(com3.timeoutRx(), 0);
        EXPECT_EQ(port.getTimeoutTx(), c.expected);
    }
}

TEST_F(SimPortOnLinux, withoutTransmitTimeoutSupport_onlyTheReceiveTimeoutIsSet)
{
    SerialPortLocal port(SerialConfig(QStringLiteral("COM3")));
    EXPECT_EQ(com3.calls(), QStringList({ "SerOpenPort", "SerConfigure", "SerSetTimeoutRx(0)" }));
}

TEST_F(SimPortTest, receiveEvents_areReportedAfterTheByteThatCarriedThem)
{
    SerialPortLocal port(SerialConfig(QStringLiteral("COM3")));
    com3.feedWithParityError("AB");
    com3.feedWithFramingError("C");
    com3.feed("D");
    EXPECT_EQ(port.getByte(), 'A');
    EXPECT_FALSE(port.sigParityErr());
    EXPECT_EQ(port.getByte(), 'B');
    EXPECT_TRUE(port.sigParityErr());
    EXPECT_FALSE(port.sigParityErr()) << "each event is reported once";
    EXPECT_FALSE(port.sigFrameErr());
    EXPECT_EQ(port.getByte(), 'C');
    EXPECT_TRUE(port.sigFrameErr());
    EXPECT_EQ(port.getByte(), 'D');
    EXPECT_EQ(port.getByte(), -1);
    com3.injectOverrun();
    EXPECT_TRUE(port.sigOverrun());
    com3.injectRxOverflow();
    EXPECT_TRUE(port.rxOverflow());
}

TEST_F(SimPortTest, unpluggedDevice_isReportedWhileGetByteKeepsItsContract)
{
    SerialPortLocal port(SerialConfig(QStringLiteral("COM3")));
    com3.feed("12");
    EXPECT_EQ(port.getByte(), '1');
    EXPECT_FALSE(port.isDeviceLost());
    com3.unplug();
    EXPECT_EQ(port.getByte(), -1);
    EXPECT_TRUE(port.isDeviceLost());
    EXPECT_EQ(ioError([&] { port.sigDSR(); }), QStringLiteral("sigDSR failed"));
    EXPECT_NO_THROW(port.close());
    EXPECT_FALSE(port.isDeviceLost());
    EXPECT_EQ(ioError([] { SerialPortLocal again { SerialConfig(QStringLiteral("COM3")) }; }),
        QStringLiteral("COM3: SerOpenPort failed: 19: No such device"));
    com3.replug();
    EXPECT_NO_THROW(SerialPortLocal { SerialConfig(QStringLiteral("COM3")) });
}

TEST_F(SimPortTest, rxReadyCount_reportsFailureToTheHandlerInsteadOfRaising)
{
    SerialPortLocal port(SerialConfig(QStringLiteral("COM3")));
    com3.feed("abc");
    EXPECT_EQ(port.rxReadyCount(), 3);
    com3.forceResult(SimCall::RxReadyCount, -1);
    EXPECT_EQ(ioError([&] { port.rxReadyCount(); }), QStringLiteral("rxReadyCount failed"));
    CountingHandler handler;
    port.setErrorStatusHandler(&handler);
    EXPECT_EQ(port.rxReadyCount(), -1);
    EXPECT_EQ(handler.codes, QList<int>({ 10 }));
}

TEST_F(SimPortTest, getData_readsIntoTheBufferAtTheOffsetWithinItsBounds)
{
    SerialPortLocal port(SerialConfig(QStringLiteral("COM3")));
    com3.feed("abcdef");
    QByteArray buf(4, '.');
    EXPECT_EQ(port.getData(buf), 4);
    EXPECT_EQ(buf, QByteArray("abcd"));
    QByteArray offset(5, '.');
    EXPECT_EQ(port.getData(offset, 2, 10), 2) << "never past the end of the buffer";
    EXPECT_EQ(offset, QByteArray("..ef."));
    EXPECT_EQ(port.getData(offset, 0, 5), 0);
    com3.forceResult(SimCall::GetData, -1, 1);
    EXPECT_EQ(ioError([&] { port.getData(buf); }), QStringLiteral("getData: failed"));
}

TEST_F(SimPortTest, writes_reportShortSendsWithTheirCounts)
{
    SerialPortLocal port(SerialConfig(QStringLiteral("COM3")));
    port.putData(QByteArray("hello"));
    port.putData(QByteArray("world"), 3);
    port.putData(QByteArray("abcdef"), 2, 3);
    port.putString(QStringLiteral("!"));
    port.putByte('\n');
    EXPECT_EQ(com3.written(),
        QByteArray("hellowor"
                   "cde"
                   "!\n"));
    EXPECT_TRUE(port.sendSinceTxBufEmpty());

    com3.forceResult(SimCall::PutData, 3);
    EXPECT_EQ(ioError([&] { port.putData(QByteArray("12345")); }),
        QStringLiteral("PutData1: Sent only 3 of 5 bytes"));
    EXPECT_EQ(ioError([&] { port.putData(QByteArray("12345"), 4); }),
        QStringLiteral("PutData2: Sent only 3 of 4 bytes"));
    EXPECT_EQ(ioError([&] { port.putData(QByteArray("12345"), 0, 5); }),
        QStringLiteral("putData3: Sent only 3 of 5 bytes"));
    EXPECT_EQ(ioError([&] { port.putString(QStringLiteral("abcd")); }),
        QStringLiteral("PutString: sent only 3 of 4 bytes"));
    EXPECT_EQ(ioError([&] { port.putData(QByteArray("12345"), 6); }),
        QStringLiteral("putData: count out of bounds"));
    EXPECT_EQ(ioError([&] { port.putData(QByteArray("12345"), 2, 4); }),
        QStringLiteral("putData3: count out of bounds"));
    com3.forceResult(SimCall::PutByte, 7, 1);
    EXPECT_EQ(ioError([&] { port.putByte('x'); }), QStringLiteral("PutByte failed: 7"));
    com3.forceResult(SimCall::TxBufCount, -1, 1);
    EXPECT_EQ(ioError([&] { port.txBufCount(); }), QStringLiteral("txBufCount failed"));
    com3.forceResult(SimCall::TxFlush, -1, 1);
    EXPECT_EQ(ioError([&] { port.txFlush(); }), QStringLiteral("txFlush failed"));
    com3.forceResult(SimCall::TxDrain, -1, 1);
    EXPECT_EQ(ioError([&] { port.txDrain(); }), QStringLiteral("txDrain failed"));
    com3.forceResult(SimCall::SendBreak, -1, 1);
    EXPECT_EQ(ioError([&] { port.sendBreak(5); }), QStringLiteral("sendBreak failed"));
    com3.forceResult(SimCall::SetTimeoutRx, -1, 1);
    EXPECT_EQ(ioError([&] { port.setTimeoutRx(5); }), QStringLiteral("setTimeoutRx failed"));
    com3.forceResult(SimCall::SetTimeoutTx, -1, 1);
    EXPECT_EQ(ioError([&] { port.setTimeoutTx(5); }), QStringLiteral("setTimeoutTx failed"));
}

TEST_F(SimPortOnLinux, softReceiveWait_givesUpAtTheReceiveTimeout)
{
    SerialPortLocal port(SerialConfig(QStringLiteral("COM3")));
    port.setTimeoutRx(30);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.getByte(), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
    com3.feed("z");
    EXPECT_EQ(port.getByte(), 'z');
    QByteArray buf(2, '.');
    EXPECT_EQ(port.getData(buf), 0) << "fewer bytes than asked for within the time-out";
}

TEST_F(SimPortTest, flowControlTask_runsOnlyForEmulatedHardwareFlowOnWindows95)
{
    ScopedNativeSide win95(sim, QStringLiteral("Windows 95"), QStringLiteral("x86"));
    SerialConfig config(QStringLiteral("COM3"));
    config.setHandshake(SerialConfig::HS_CTSRTS);
    {
        SerialPortLocal port(config);
        EXPECT_TRUE(console.lines().contains(QStringLiteral("FlowControlTask created")));
        const auto deadline = std::chrono::steady_clock::now() + 2s;
        while (!com3.calls().contains(QStringLiteral("SerFlowTask"))
            && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        EXPECT_TRUE(com3.calls().contains(QStringLiteral("SerFlowTask")));
        port.close();
    }
    console.clear();
    config.setHandshake(SerialConfig::HS_XONXOFF);
    SerialPortLocal port(config);
    EXPECT_FALSE(console.lines().contains(QStringLiteral("FlowControlTask created")));
}

TEST(SupportTasksTest, nativeHandleMutex_isOneObjectForEveryThread)
{
    NativeHandleMutex *seen[4] = {};
    std::thread threads[4];
    for (int i = 0; i < 4; ++i)
        threads[i] = std::thread([&seen, i] { seen[i] = &NativeHandleMutex::getInstance(); });
    for (auto &t : threads)
        t.join();
    for (auto *m : seen)
        EXPECT_EQ(m, &NativeHandleMutex::getInstance());
}

TEST_F(SimPortTest, flowPriority_staysWithinOneToTen)
{
    SerialPortLocal port(SerialConfig(QStringLiteral("COM3")));
    FlowControlTask task(port);
    EXPECT_EQ(task.portNum(), 0);
    EXPECT_THROW(task.setFlowPriority(0), InvalidArgumentError);
    EXPECT_THROW(task.setFlowPriority(11), InvalidArgumentError);
    task.setFlowPriority(10);
    EXPECT_EQ(task.getFlowPriority(), 10);
    task.abort();
    task.run(); // raises its priority within the cap and ends at once when aborted
    EXPECT_EQ(task.getFlowPriority(), 10);
}

// close() from the interface thread while the worker polls (thread sanitizer).
TEST_F(SimPortTest, closeFromAnotherThread_whileReaderPolls)
{
    SerialPortLocal port(SerialConfig(QStringLiteral("COM3")));
    com3.feed("0123456789");
    std::atomic<bool> stop { false };
    std::atomic<int> polls { 0 };
    std::thread reader([&] {
        while (!stop.load()) {
            port.getByte();
            try {
                port.sigParityErr();
                port.sigFrameErr();
            } catch (const IoError &) {
            }
            (void)port.isDeviceLost();
            polls.fetch_add(1);
        }
    });
    while (polls.load() < 20)
        std::this_thread::yield();
    port.close();
    const int after = polls.load();
    while (polls.load() < after + 20)
        std::this_thread::yield();
    stop.store(true);
    reader.join();
    EXPECT_FALSE(com3.isOpen());
    EXPECT_EQ(port.getByte(), -1);
}
