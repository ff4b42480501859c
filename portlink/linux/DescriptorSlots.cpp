// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/linux/DescriptorSlots.h"

#include "portlink/linux/ReadableWait.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace portlink {

namespace {

// Nothing to read or write just now (or a signal came in between).
bool isRetry(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

} // namespace

DescriptorSlot::DescriptorSlot()
    : closeEvent(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

DescriptorSlot::~DescriptorSlot()
{
    if (closeEvent >= 0)
        ::close(closeEvent);
}

void DescriptorSlot::noteErrno(int error)
{
    if (isLostError && isLostError(error))
        lost.store(true);
}

DescriptorSlots::DescriptorSlots(const DescriptorKind &kind)
    : m_kind(kind)
{
}

DescriptorSlots::~DescriptorSlots()
{
    m_table.clear([](DescriptorSlot &slot) {
        std::unique_lock slotLock(slot.mutex);
        if (slot.open)
            ::close(slot.fd);
        slot.open = false;
    });
}

int DescriptorSlots::add(std::shared_ptr<DescriptorSlot> slot, int fd)
{
    slot->fd = fd;
    slot->open = true;
    slot->isLostError = m_kind.isLostError;
    return m_table.add(std::move(slot));
}

int DescriptorSlots::close(int index)
{
    const std::shared_ptr<DescriptorSlot> slot = m_table.take(index);
    if (!slot)
        return -1;
    slot->closing.store(true);
    signalClose(slot->closeEvent);
    std::unique_lock lock(slot->mutex);
    if (slot->open) {
        if (m_kind.beforeClose)
            m_kind.beforeClose(slot->fd);
        // The descriptor is released even when close reports an error
        // (an unplugged device), so there is nothing to retry.
        ::close(slot->fd);
        slot->fd = -1;
        slot->open = false;
    }
    return 0;
}

// Reads what the descriptor holds into the slot's buffer (which must be
// empty). Returns the number of bytes now buffered; 0 when none are waiting or
// the read failed (a lost device is noted on the slot).
int DescriptorSlots::refill(DescriptorSlot &slot)
{
    const ssize_t n = m_kind.readSome(slot.fd, slot.rx, sizeof slot.rx);
    if (n > 0) {
        slot.rxBegin = 0;
        slot.rxEnd = static_cast<int>(n);
        return slot.rxEnd;
    }
    if (n == 0) {
        if (m_kind.endOfFileIsLoss(slot.fd))
            slot.lost.store(true);
    } else if (!isRetry(errno)) {
        slot.noteErrno(errno);
    }
    return 0;
}

int DescriptorSlots::getByte(int index)
{
    return withOpen(index, [this](DescriptorSlot &s) {
        std::lock_guard rxLock(s.rxMutex);
        if (s.rxBegin == s.rxEnd && refill(s) == 0)
            return -1;
        return static_cast<int>(s.rx[s.rxBegin++]);
    });
}

int DescriptorSlots::getData(int index, std::uint8_t *buf, int count)
{
    if (count <= 0)
        return 0;
    return withOpen(index, [&](DescriptorSlot &s) {
        std::lock_guard rxLock(s.rxMutex);
        // Bytes already taken from the descriptor come first.
        const int got = std::min(count, s.rxEnd - s.rxBegin);
        std::copy_n(s.rx + s.rxBegin, got, buf);
        s.rxBegin += got;
        if (got == count)
            return got;
        const ssize_t n = m_kind.readSome(s.fd, buf + got, static_cast<size_t>(count - got));
        if (n > 0)
            return got + static_cast<int>(n);
        if (n == 0) {
            if (m_kind.endOfFileIsLoss(s.fd))
                s.lost.store(true);
            return got > 0 ? got : (s.lost.load() ? -1 : 0);
        }
        if (got > 0 || isRetry(errno))
            return got;
        s.noteErrno(errno);
        return -1;
    });
}

int DescriptorSlots::writeAll(int index, const std::uint8_t *buf, int count)
{
    return withOpen(index, [&](DescriptorSlot &s) {
        int sent = 0;
        const int timeout = s.timeoutTx.load();
        const auto deadline
            = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout > 0 ? timeout : 0);
        while (sent < count) {
            const ssize_t n = m_kind.writeSome(s.fd, buf + sent, static_cast<size_t>(count - sent));
            if (n > 0) {
                sent += static_cast<int>(n);
                continue;
            }
            if (n < 0 && !isRetry(errno)) {
                s.noteErrno(errno);
                break;
            }
            if (s.closing.load() || std::chrono::steady_clock::now() >= deadline)
                break;
            pollfd p { s.fd, POLLOUT, 0 };
            (void)::poll(&p, 1, kSliceMs);
        }
        return sent;
    });
}

int DescriptorSlots::putByte(int index, std::uint8_t byte)
{
    const int sent = writeAll(index, &byte, 1);
    return sent == 1 ? 0 : (sent < 0 ? -1 : EAGAIN);
}

int DescriptorSlots::putData(int index, const std::uint8_t *buf, int count)
{
    if (count <= 0)
        return 0;
    return writeAll(index, buf, count);
}

void DescriptorSlots::dropBuffered(DescriptorSlot &slot)
{
    std::lock_guard rxLock(slot.rxMutex);
    slot.rxBegin = slot.rxEnd = 0;
}

int DescriptorSlots::rxReadyCount(int index)
{
    return withOpen(index, [](DescriptorSlot &s) {
        int n = 0;
        if (::ioctl(s.fd, FIONREAD, &n) != 0) {
            s.noteErrno(errno);
            return -1;
        }
        std::lock_guard rxLock(s.rxMutex);
        return n + (s.rxEnd - s.rxBegin);
    });
}

int DescriptorSlots::txBufCount(int index)
{
    return withOpen(index, [](DescriptorSlot &s) {
        int n = 0;
        if (::ioctl(s.fd, TIOCOUTQ, &n) == 0)
            return n;
        s.noteErrno(errno);
        return -1;
    });
}

int DescriptorSlots::txDrain(int index)
{
    return withOpen(index, [this](DescriptorSlot &s) {
        for (;;) {
            int queued = 0;
            if (::ioctl(s.fd, TIOCOUTQ, &queued) != 0) {
                s.noteErrno(errno);
                return -1;
            }
            if (queued == 0)
                return 0;
            if (s.closing.load() || !m_kind.drainPause(s))
                return -1;
        }
    });
}

int DescriptorSlots::setTimeoutRx(int index, int ms)
{
    return withOpen(index, [ms](DescriptorSlot &s) {
        s.timeoutRx.store(ms);
        return 0;
    });
}

int DescriptorSlots::setTimeoutTx(int index, int ms)
{
    return withOpen(index, [ms](DescriptorSlot &s) {
        s.timeoutTx.store(ms);
        return 0;
    });
}

int DescriptorSlots::timeoutRx(int index) const
{
    return withOpen(index, [](DescriptorSlot &s) { return s.timeoutRx.load(); });
}

int DescriptorSlots::timeoutTx(int index) const
{
    return withOpen(index, [](DescriptorSlot &s) { return s.timeoutTx.load(); });
}

int DescriptorSlots::deviceLost(int index) const
{
    const std::shared_ptr<DescriptorSlot> slot = m_table.find(index);
    if (!slot)
        return -1;
    return slot->lost.load() ? 1 : 0;
}

int DescriptorSlots::waitReadable(int index, int ms, StopSignal *stop)
{
    return withOpen(index, [&](DescriptorSlot &s) {
        {
            std::lock_guard rxLock(s.rxMutex);
            if (s.rxBegin != s.rxEnd)
                return 1;
        }
        if (s.lost.load())
            return -1;
        short events = 0;
        int error = 0;
        switch (waitUntilReadable(s.fd, s.closeEvent, s.closing, stop, ms, kSliceMs, &events, &error)) {
        case ReadableWait::Readable:
            if (!m_kind.hangUpEndsWait)
                return 1;
            // A hang-up also reads as "readable"; bytes that arrived before it
            // are still delivered (a read that then fails marks the slot lost).
            if (events & (POLLHUP | POLLERR | POLLNVAL)) {
                int queued = 0;
                if ((events & POLLIN) && ::ioctl(s.fd, FIONREAD, &queued) == 0 && queued > 0)
                    return 1;
                s.lost.store(true);
                return -1;
            }
            return (events & POLLIN) ? 1 : 0;
        case ReadableWait::Closing:
            return -1;
        case ReadableWait::Failed:
            s.noteErrno(error);
            return s.lost.load() ? -1 : 0;
        default:
            return 0;
        }
    });
}

int DescriptorSlots::descriptorOf(int index) const
{
    return withOpen(index, [](DescriptorSlot &s) { return s.fd; });
}

} // namespace portlink
