// SPDX-License-Identifier: GPL-3.0-or-later
// A native side whose ports are file descriptors: the calls of the native contract that are the same for
// every kind of descriptor, answered by its DescriptorSlots.
#pragma once

#include "portlink/NativeSerial.h"
#include "portlink/linux/DescriptorSlots.h"

#include <algorithm>

namespace portlink {

// A side derived from it opens its descriptor, adds it to m_slots and answers
// the calls that depend on what the descriptor is (line settings, modem lines,
// line events, flushes, breaks).
class DescriptorNativeSerial : public NativeSerial
{
public:
    int SerClosePort(int port) override { return m_slots.close(port); }
    int SerGetByte(int port) override { return m_slots.getByte(port); }
    int SerGetData(int port, std::uint8_t *buf, int count) override
    {
        return m_slots.getData(port, buf, count);
    }
    int SerPutByte(int port, std::uint8_t byte) override { return m_slots.putByte(port, byte); }
    int SerPutData(int port, const std::uint8_t *buf, int count) override
    {
        return m_slots.putData(port, buf, count);
    }
    int SerTxDrain(int port) override { return m_slots.txDrain(port); }
    int SerRxReadyCount(int port) override { return m_slots.rxReadyCount(port); }
    int SerTxBufCount(int port) override { return m_slots.txBufCount(port); }
    int SerSetTimeoutRx(int port, int ms) override { return m_slots.setTimeoutRx(port, ms); }
    int SerSetTimeoutTx(int port, int ms) override { return m_slots.setTimeoutTx(port, ms); }
    int SerGetTimeoutRx(int port) override { return m_slots.timeoutRx(port); }
    int SerGetTimeoutTx(int port) override { return m_slots.timeoutTx(port); }
    int SerDeviceLost(int port) override { return m_slots.deviceLost(port); }
    int SerWaitInput(int port, int ms) override
    {
        return m_slots.waitReadable(port, std::max(ms, 0), nullptr);
    }
    int SerWaitReadable(int port, int ms, StopSignal *stop) override
    {
        return m_slots.waitReadable(port, ms, stop);
    }

protected:
    explicit DescriptorNativeSerial(const DescriptorKind &kind)
        : m_slots(kind)
    {
    }

    DescriptorSlots m_slots;
};

} // namespace portlink
