// SPDX-License-Identifier: GPL-3.0-or-later
// The open ports of a native side that reads and writes a file descriptor (a terminal, a socket): one
// slot per port, its close, its buffered reads, its writes and its wait for input.
#pragma once

#include "portlink/SlotTable.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include <sys/types.h>

namespace portlink {

class StopSignal;
struct DescriptorSlot;

// How one kind of descriptor reads, writes and fails.
struct DescriptorKind
{
    // The error number means the device or the connection has gone away.
    bool (*isLostError)(int error);
    // One non-blocking read or write, as read(2) and write(2) answer.
    ssize_t (*readSome)(int fd, void *buf, size_t count);
    ssize_t (*writeSome)(int fd, const void *buf, size_t count);
    // After a read of 0 bytes: whether that means the device has gone away.
    bool (*endOfFileIsLoss)(int fd);
    // Whether a wait that poll ends with a hang-up answers "lost" (unless
    // bytes wait that arrived before it); otherwise it answers "readable" and
    // the read that follows tells.
    bool hangUpEndsWait;
    // Called with the descriptor just before a close releases it; may be null.
    void (*beforeClose)(int fd);
    // Between two looks of a drain at the output queue; false ends the drain
    // as failed.
    bool (*drainPause)(DescriptorSlot &slot);
};

// One open port. A call holds `mutex` shared while it uses `fd`; the close
// takes it exclusively. A side that keeps more per port derives from it.
struct DescriptorSlot
{
    std::shared_mutex mutex; // shared while a call uses fd; exclusive to close
    int fd = -1; // guarded by mutex
    bool open = false; // guarded by mutex
    std::atomic<bool> closing { false };
    // Readable once a close has begun: ends a wait for input, which holds the
    // slot shared without a time limit, before the close takes it exclusively.
    int closeEvent = -1;
    std::atomic<bool> lost { false };
    std::atomic<int> timeoutRx { 0 };
    std::atomic<int> timeoutTx { 0 };
    // Bytes taken from the descriptor in one read and not yet handed out: a
    // reader asking byte by byte costs one system call per burst, not one per
    // byte. Guarded by rxMutex (taken inside a shared lock of mutex).
    std::mutex rxMutex;
    std::uint8_t rx[4096];
    int rxBegin = 0;
    int rxEnd = 0;
    bool (*isLostError)(int error) = nullptr;

    DescriptorSlot();
    virtual ~DescriptorSlot();
    DescriptorSlot(const DescriptorSlot &) = delete;
    DescriptorSlot &operator=(const DescriptorSlot &) = delete;

    // Marks the slot lost when `error` says the device has gone away.
    void noteErrno(int error);
};

// The slots of one native side, by index (SlotTable), and the calls of the
// native contract that are the same for every kind of descriptor. Every call
// answers -1 for an index without an open slot.
//
// Close protocol: the close takes the slot out of the table (later calls find
// nothing), marks it closing and raises its close event, which ends a wait for
// input at once; it then takes the slot exclusively, that is once every call
// still using the descriptor has let go of it, and releases the descriptor.
// Writes wait in short slices and give up once the port is being closed.
class DescriptorSlots
{
public:
    // How long a blocking step waits before looking again whether its port is
    // being closed.
    static constexpr int kSliceMs = 50;

    explicit DescriptorSlots(const DescriptorKind &kind);
    // Releases the descriptors still open.
    ~DescriptorSlots();
    DescriptorSlots(const DescriptorSlots &) = delete;
    DescriptorSlots &operator=(const DescriptorSlots &) = delete;

    // Makes `slot` the open slot of `fd`; its index.
    int add(std::shared_ptr<DescriptorSlot> slot, int fd);
    int add(int fd) { return add(std::make_shared<DescriptorSlot>(), fd); }
    // 0, or -1 when the index has no slot.
    int close(int index);

    // Runs `f` on the open slot of `index` with the slot held shared; -1
    // without one. `Slot` is the type the side added its slots as.
    template <typename Slot = DescriptorSlot, typename F> int withOpen(int index, F &&f) const
    {
        const std::shared_ptr<DescriptorSlot> slot = m_table.find(index);
        if (!slot)
            return -1;
        std::shared_lock lock(slot->mutex);
        if (!slot->open)
            return -1;
        return f(static_cast<Slot &>(*slot));
    }
    // Whether `test` holds for a slot (added as `Slot`) of the table.
    template <typename Slot, typename Test> bool any(Test &&test) const
    {
        return m_table.any([&](const DescriptorSlot &s) { return test(static_cast<const Slot &>(s)); });
    }

    int getByte(int index);
    int getData(int index, std::uint8_t *buf, int count);
    // Writes within the port's send time-out; the number of bytes sent.
    int writeAll(int index, const std::uint8_t *buf, int count);
    int putByte(int index, std::uint8_t byte);
    int putData(int index, const std::uint8_t *buf, int count);
    // Drops the bytes taken from the descriptor and not yet handed out.
    static void dropBuffered(DescriptorSlot &slot);
    // What the driver holds and what the slot has buffered.
    int rxReadyCount(int index);
    // What the driver still has to send.
    int txBufCount(int index);
    // Waits for the output queue to empty in slices, so that a close is not
    // held up by a device that never takes the data: 0 once empty, -1 once
    // the port is being closed.
    int txDrain(int index);
    int setTimeoutRx(int index, int ms);
    int setTimeoutTx(int index, int ms);
    int timeoutRx(int index) const;
    int timeoutTx(int index) const;
    // 1 when the device has gone away, 0 when not.
    int deviceLost(int index) const;
    // As NativeSerial::SerWaitReadable: 1 once bytes wait, 0 at the time-out
    // or the stop signal, -1 once the device is lost or the port is closing.
    int waitReadable(int index, int ms, StopSignal *stop);
    // The descriptor of an open index, -1 without one.
    int descriptorOf(int index) const;

private:
    int refill(DescriptorSlot &slot);

    const DescriptorKind &m_kind;
    SlotTable<DescriptorSlot> m_table;
};

} // namespace portlink
