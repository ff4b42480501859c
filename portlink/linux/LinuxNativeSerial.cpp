// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/linux/LinuxNativeSerial.h"

#include "portlink/linux/ReadableWait.h"

#include "portlink/ConfigureRefusals.h"
#include "portlink/OpenResult.h"
#include "portlink/SerialConfig.h"
#include "portlink/linux/ThreadStopFd.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace portlink {

namespace {

// Open failure codes of the native contract.
constexpr int kAlreadyOpen = openResultCode(OpenResult::AlreadyOpen);
constexpr int kInUse = openResultCode(OpenResult::InUse);
constexpr int kNotValid = openResultCode(OpenResult::NotValid);
constexpr int kNoSuchFile = openResultCode(OpenResult::NoSuchFile);
constexpr int kPermissionDenied = openResultCode(OpenResult::PermissionDenied);
constexpr int kDeviceBusy = openResultCode(OpenResult::DeviceBusy);
constexpr int kNoSuchDevice = openResultCode(OpenResult::NoSuchDevice);

// How long a blocking step (write, drain, break) waits before looking again
// whether its port is being closed.
constexpr int kSliceMs = 50;

enum Counter { Parity, Frame, Overrun, Break, BufOverrun, CounterCount };

int counterValue(const serial_icounter_struct &c, int which)
{
    switch (which) {
    case Parity:
        return c.parity;
    case Frame:
        return c.frame;
    case Overrun:
        return c.overrun;
    case Break:
        return c.brk;
    default:
        return c.buf_overrun;
    }
}

// The device has gone away (unplugged, hung up, pty master closed).
bool isLostErrno(int e)
{
    return e == EIO || e == ENXIO || e == ENODEV;
}

// The request does not apply to this kind of tty (no modem lines, no counters).
bool isNotApplicable(int e)
{
    return e == ENOTTY || e == EINVAL;
}

speed_t speedForRate(int rate)
{
    switch (rate) {
    case 110:
        return B110;
    case 150:
        return B150;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    default:
        return 0;
    }
}

// A pseudo-terminal carries bytes without a line: it keeps 8 data bits and
// no parity whatever it is told, which changes nothing for what it carries.
bool isPseudoTerminal(int fd)
{
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned deviceMajor = major(st.st_rdev);
    return deviceMajor >= 136 && deviceMajor <= 143; // the Unix 98 pty slaves
}

// The setting of `wanted` that the driver did not take (configure_refusal
// code), 0 when everything asked for is in force.
int refusedSetting(const termios &wanted, const termios &now, bool pseudoTerminal)
{
    if (::cfgetospeed(&now) != ::cfgetospeed(&wanted) || ::cfgetispeed(&now) != ::cfgetispeed(&wanted))
        return configure_refusal::BitRate;
    if (!pseudoTerminal) {
        if ((now.c_cflag & CSIZE) != (wanted.c_cflag & CSIZE))
            return configure_refusal::DataBits;
        const tcflag_t parity = PARENB | PARODD | CMSPAR;
        // Without PARENB the other two bits mean nothing.
        const bool parityWanted = wanted.c_cflag & PARENB;
        if ((now.c_cflag & PARENB) != (wanted.c_cflag & PARENB)
            || (parityWanted && (now.c_cflag & parity) != (wanted.c_cflag & parity)))
            return configure_refusal::Parity;
    }
    if ((now.c_cflag & CSTOPB) != (wanted.c_cflag & CSTOPB))
        return configure_refusal::StopBits;
    if ((now.c_cflag & CRTSCTS) != (wanted.c_cflag & CRTSCTS)
        || (now.c_iflag & (IXON | IXOFF)) != (wanted.c_iflag & (IXON | IXOFF)))
        return configure_refusal::Handshake;
    return 0;
}

} // namespace

struct LinuxNativeSerial::Slot
{
    std::shared_mutex mutex; // shared while a call uses fd; exclusive to close
    int fd = -1; // guarded by mutex
    bool open = false; // guarded by mutex
    QByteArray path; // canonical device path, for "already open"
    std::atomic<bool> closing { false };
    // Readable once a close has begun: ends a wait for input, which holds
    // the slot shared without a time limit, before close takes it exclusively.
    int closeEvent = -1;
    std::atomic<bool> lost { false };
    std::atomic<int> timeoutRx { 0 };
    std::atomic<int> timeoutTx { 0 };
    std::mutex countsMutex;
    int lastCounts[CounterCount] = {};
    // Bytes taken from the driver in one read and not yet handed out: a
    // reader asking byte by byte costs one system call per burst, not one per
    // byte. Guarded by rxMutex (taken inside a shared lock of mutex).
    std::mutex rxMutex;
    std::uint8_t rx[4096];
    int rxBegin = 0;
    int rxEnd = 0;

    Slot()
        : closeEvent(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
    }
    ~Slot()
    {
        if (closeEvent >= 0)
            ::close(closeEvent);
    }
    Slot(const Slot &) = delete;
    Slot &operator=(const Slot &) = delete;

    void noteErrno(int e)
    {
        if (isLostErrno(e))
            lost.store(true);
    }
};

namespace {

// A read of 0 bytes: the device hung up, unless the driver merely had nothing
// (some answer an idle non-blocking read that way); poll tells them apart.
void noteEndOfFile(LinuxNativeSerial::Slot &slot)
{
    pollfd p { slot.fd, POLLIN, 0 };
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
        slot.lost.store(true);
}

} // namespace

LinuxNativeSerial::LinuxNativeSerial(PortEnumerator enumerator)
    : m_enumerator(std::move(enumerator))
{
}

LinuxNativeSerial::~LinuxNativeSerial()
{
    std::lock_guard lock(m_tableMutex);
    for (auto &entry : m_slots) {
        std::unique_lock slotLock(entry.second->mutex);
        if (entry.second->open)
            ::close(entry.second->fd);
        entry.second->open = false;
    }
}

std::shared_ptr<LinuxNativeSerial::Slot> LinuxNativeSerial::find(int port) const
{
    std::lock_guard lock(m_tableMutex);
    auto it = m_slots.find(port);
    return it == m_slots.end() ? nullptr : it->second;
}

int LinuxNativeSerial::SerOpenPort(SerialConfig &config)
{
    const QByteArray name = config.getPortName();
    const char *path = name.constData(); // the name ends at its first zero byte
    if (*path == '\0')
        return kNotValid;

    QByteArray canonical = name;
    if (char *real = ::realpath(path, nullptr)) {
        canonical = QByteArray(real);
        std::free(real);
    }
    {
        std::lock_guard lock(m_tableMutex);
        for (const auto &entry : m_slots) {
            if (entry.second->path == canonical)
                return kAlreadyOpen;
        }
    }

    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
        case ENOENT:
            return kNoSuchFile;
        case EACCES:
        case EPERM:
            return kPermissionDenied;
        case EBUSY:
            return kDeviceBusy;
        case ENODEV:
        case ENXIO:
            return kNoSuchDevice;
        case EISDIR:
        case ENOTDIR:
            return kNotValid;
        default:
            return errno;
        }
    }
    if (!::isatty(fd)) {
        ::close(fd);
        return kNotValid;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        return kInUse;
    }
    (void)::ioctl(fd, TIOCEXCL);

    auto slot = std::make_shared<Slot>();
    slot->fd = fd;
    slot->open = true;
    slot->path = canonical;
    serial_icounter_struct counts {};
    if (::ioctl(fd, TIOCGICOUNT, &counts) == 0) {
        for (int i = 0; i < CounterCount; ++i)
            slot->lastCounts[i] = counterValue(counts, i);
    }

    std::lock_guard lock(m_tableMutex);
    const int index = m_nextIndex++;
    m_slots.emplace(index, std::move(slot));
    config.setPortNum(index + 1);
    return 0;
}

int LinuxNativeSerial::SerClosePort(int port)
{
    std::shared_ptr<Slot> slot;
    {
        std::lock_guard lock(m_tableMutex);
        auto it = m_slots.find(port);
        if (it == m_slots.end())
            return -1;
        slot = it->second;
        m_slots.erase(it);
    }
    slot->closing.store(true);
    signalClose(slot->closeEvent);
    std::unique_lock lock(slot->mutex);
    if (slot->open) {
        (void)::ioctl(slot->fd, TIOCNXCL);
        // The descriptor is released even when close reports an error
        // (an unplugged device), so there is nothing to retry.
        ::close(slot->fd);
        slot->fd = -1;
        slot->open = false;
    }
    return 0;
}

int LinuxNativeSerial::SerConfigure(int port, const SerialConfig &config)
{
    auto slot = find(port);
    if (!slot)
        return EBADF;
    std::shared_lock lock(slot->mutex);
    if (!slot->open)
        return EBADF;

    termios t {};
    if (::tcgetattr(slot->fd, &t) != 0) {
        slot->noteErrno(errno);
        return errno;
    }
    ::cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP | IGNPAR | PARMRK | IGNBRK | BRKINT);
    // With O_NONBLOCK, VMIN 1 makes an idle read fail with EAGAIN, so that a
    // read of 0 bytes means end of file (hang-up) and nothing else.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    static const tcflag_t sizes[] = { CS5, CS6, CS7, CS8 };
    const int dataBits = config.getDataBits();
    if (dataBits < 0 || dataBits > 3)
        return EINVAL;
    t.c_cflag |= sizes[dataBits];

    switch (config.getParity()) {
    case SerialConfig::PY_NONE:
        break;
    case SerialConfig::PY_ODD:
        t.c_cflag |= PARENB | PARODD;
        break;
    case SerialConfig::PY_EVEN:
        t.c_cflag |= PARENB;
        break;
    case SerialConfig::PY_MARK:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case SerialConfig::PY_SPACE:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        return EINVAL;
    }
    if (config.getStopBits() == SerialConfig::ST_2BITS)
        t.c_cflag |= CSTOPB;

    const int hs = config.getHandshake();
    if (hs & SerialConfig::HS_SPLIT_MASK) {
        // The terminal interface has one switch for both hardware directions.
        if (hs & (SerialConfig::HS_HARD_IN | SerialConfig::HS_HARD_OUT))
            t.c_cflag |= CRTSCTS;
        if (hs & SerialConfig::HS_SOFT_IN)
            t.c_iflag |= IXOFF;
        if (hs & SerialConfig::HS_SOFT_OUT)
            t.c_iflag |= IXON;
    } else if (hs == SerialConfig::HS_XONXOFF) {
        t.c_iflag |= IXON | IXOFF;
    } else if (hs == SerialConfig::HS_CTSRTS) {
        t.c_cflag |= CRTSCTS;
    } else if (hs != SerialConfig::HS_NONE) {
        return EINVAL; // no DSR/DTR flow control on this system
    }

    const int bitRate = config.getBitRate();
    int rate = bitRate;
    if (bitRate >= 0 && bitRate <= 30) {
        if (bitRate >= static_cast<int>(SerialConfig::bitRateNumbers.size()))
            return EINVAL;
        rate = SerialConfig::bitRateNumbers[static_cast<size_t>(bitRate)];
    }
    const speed_t speed = speedForRate(rate);
    if (speed == 0)
        return EINVAL;
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    // A driver keeps what it cannot do and takes the rest; the C library
    // then reports success when anything changed and EINVAL when nothing did
    // (so the same refused setting passes unnoticed on the first open and
    // fails with a bare EINVAL on every later one). What is in force tells
    // which setting was refused.
    const int setError = ::tcsetattr(slot->fd, TCSANOW, &t) == 0 ? 0 : errno;
    if (setError != 0 && setError != EINVAL) {
        slot->noteErrno(setError);
        return setError;
    }
    termios now {};
    if (::tcgetattr(slot->fd, &now) != 0) {
        slot->noteErrno(errno);
        return errno;
    }
    return refusedSetting(t, now, isPseudoTerminal(slot->fd));
}

namespace {

// Reads what the driver holds into the slot's buffer (which must be empty).
// Returns the number of bytes now buffered; 0 when none are waiting or the
// read failed (a lost device is noted on the slot).
int refill(LinuxNativeSerial::Slot &slot)
{
    const ssize_t n = ::read(slot.fd, slot.rx, sizeof slot.rx);
    if (n > 0) {
        slot.rxBegin = 0;
        slot.rxEnd = static_cast<int>(n);
        return slot.rxEnd;
    }
    if (n == 0)
        noteEndOfFile(slot);
    else if (errno != EAGAIN && errno != EINTR)
        slot.noteErrno(errno);
    return 0;
}

} // namespace

int LinuxNativeSerial::SerGetByte(int port)
{
    auto slot = find(port);
    if (!slot)
        return -1;
    std::shared_lock lock(slot->mutex);
    if (!slot->open)
        return -1;
    std::lock_guard rxLock(slot->rxMutex);
    if (slot->rxBegin == slot->rxEnd && refill(*slot) == 0)
        return -1;
    return slot->rx[slot->rxBegin++];
}

int LinuxNativeSerial::SerGetData(int port, std::uint8_t *buf, int count)
{
    if (count <= 0)
        return 0;
    auto slot = find(port);
    if (!slot)
        return -1;
    std::shared_lock lock(slot->mutex);
    if (!slot->open)
        return -1;
    std::lock_guard rxLock(slot->rxMutex);
    // Bytes already taken from the driver come first.
    int got = std::min(count, slot->rxEnd - slot->rxBegin);
    std::copy_n(slot->rx + slot->rxBegin, got, buf);
    slot->rxBegin += got;
    if (got == count)
        return got;
    const ssize_t n = ::read(slot->fd, buf + got, static_cast<size_t>(count - got));
    if (n > 0)
        return got + static_cast<int>(n);
    if (n == 0) {
        noteEndOfFile(*slot);
        return got > 0 ? got : (slot->lost.load() ? -1 : 0);
    }
    if (got > 0 || errno == EAGAIN || errno == EINTR)
        return got;
    slot->noteErrno(errno);
    return -1;
}

int LinuxNativeSerial::writeAll(int port, const std::uint8_t *buf, int count)
{
    auto slot = find(port);
    if (!slot)
        return -1;
    std::shared_lock lock(slot->mutex);
    if (!slot->open)
        return -1;
    int sent = 0;
    const int timeout = slot->timeoutTx.load();
    const auto deadline
        = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout > 0 ? timeout : 0);
    while (sent < count) {
        const ssize_t n = ::write(slot->fd, buf + sent, static_cast<size_t>(count - sent));
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            slot->noteErrno(errno);
            break;
        }
        if (slot->closing.load() || std::chrono::steady_clock::now() >= deadline)
            break;
        pollfd p { slot->fd, POLLOUT, 0 };
        (void)::poll(&p, 1, kSliceMs);
    }
    return sent;
}

int LinuxNativeSerial::SerPutByte(int port, std::uint8_t byte)
{
    const int sent = writeAll(port, &byte, 1);
    return sent == 1 ? 0 : (sent < 0 ? -1 : EAGAIN);
}

int LinuxNativeSerial::SerPutData(int port, const std::uint8_t *buf, int count)
{
    if (count <= 0)
        return 0;
    return writeAll(port, buf, count);
}

namespace {

template <typename F> int withOpenSlot(const std::shared_ptr<LinuxNativeSerial::Slot> &slot, F &&f)
{
    if (!slot)
        return -1;
    std::shared_lock lock(slot->mutex);
    if (!slot->open)
        return -1;
    return f(*slot);
}

} // namespace

int LinuxNativeSerial::SerRxFlush(int port)
{
    return withOpenSlot(find(port), [](Slot &s) {
        {
            std::lock_guard rxLock(s.rxMutex);
            s.rxBegin = s.rxEnd = 0;
        }
        if (::tcflush(s.fd, TCIFLUSH) == 0)
            return 0;
        s.noteErrno(errno);
        return -1;
    });
}

int LinuxNativeSerial::SerTxFlush(int port)
{
    return withOpenSlot(find(port), [](Slot &s) {
        if (::tcflush(s.fd, TCOFLUSH) == 0)
            return 0;
        s.noteErrno(errno);
        return -1;
    });
}

int LinuxNativeSerial::SerTxDrain(int port)
{
    // Waits for the output queue to empty in slices, so that a close is not
    // held up by a device that never takes the data.
    return withOpenSlot(find(port), [](Slot &s) {
        for (;;) {
            int queued = 0;
            if (::ioctl(s.fd, TIOCOUTQ, &queued) != 0) {
                s.noteErrno(errno);
                return -1;
            }
            if (queued == 0)
                return 0;
            if (s.closing.load())
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs / 5));
        }
    });
}

int LinuxNativeSerial::SerRxReadyCount(int port)
{
    return withOpenSlot(find(port), [](Slot &s) {
        int n = 0;
        if (::ioctl(s.fd, FIONREAD, &n) == 0) {
            std::lock_guard rxLock(s.rxMutex);
            return n + (s.rxEnd - s.rxBegin);
        }
        s.noteErrno(errno);
        return -1;
    });
}

int LinuxNativeSerial::SerTxBufCount(int port)
{
    return withOpenSlot(find(port), [](Slot &s) {
        int n = 0;
        if (::ioctl(s.fd, TIOCOUTQ, &n) == 0)
            return n;
        s.noteErrno(errno);
        return -1;
    });
}

int LinuxNativeSerial::modemLine(int port, int bit)
{
    return withOpenSlot(find(port), [bit](Slot &s) {
        int status = 0;
        if (::ioctl(s.fd, TIOCMGET, &status) == 0)
            return (status & bit) ? 1 : 0;
        if (isNotApplicable(errno))
            return 0; // no modem-control lines: every line reads off
        s.noteErrno(errno);
        return -1;
    });
}

int LinuxNativeSerial::setModemLine(int port, int bit, bool on)
{
    return withOpenSlot(find(port), [bit, on](Slot &s) {
        int bits = bit;
        if (::ioctl(s.fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0)
            return 0;
        if (isNotApplicable(errno))
            return 0; // no modem-control lines: accepted without effect
        s.noteErrno(errno);
        return -1;
    });
}

int LinuxNativeSerial::counterEvent(int port, int which)
{
    return withOpenSlot(find(port), [which](Slot &s) {
        serial_icounter_struct counts {};
        if (::ioctl(s.fd, TIOCGICOUNT, &counts) != 0) {
            if (isNotApplicable(errno))
                return 0; // the driver keeps no error counters
            s.noteErrno(errno);
            return -1;
        }
        std::lock_guard lock(s.countsMutex);
        const int now = counterValue(counts, which);
        const bool changed = now != s.lastCounts[which];
        s.lastCounts[which] = now;
        return changed ? 1 : 0;
    });
}

int LinuxNativeSerial::SerRxOverflow(int port)
{
    return counterEvent(port, BufOverrun);
}
int LinuxNativeSerial::SerSigCTS(int port)
{
    return modemLine(port, TIOCM_CTS);
}
int LinuxNativeSerial::SerSigDSR(int port)
{
    return modemLine(port, TIOCM_DSR);
}
int LinuxNativeSerial::SerSigCD(int port)
{
    return modemLine(port, TIOCM_CAR);
}
int LinuxNativeSerial::SerSigRing(int port)
{
    return modemLine(port, TIOCM_RNG);
}
int LinuxNativeSerial::SerSigBreak(int port)
{
    return counterEvent(port, Break);
}
int LinuxNativeSerial::SerSigParityErr(int port)
{
    return counterEvent(port, Parity);
}
int LinuxNativeSerial::SerSigFrameErr(int port)
{
    return counterEvent(port, Frame);
}
int LinuxNativeSerial::SerSigOverrun(int port)
{
    return counterEvent(port, Overrun);
}
int LinuxNativeSerial::SerSetDTR(int port, bool on)
{
    return setModemLine(port, TIOCM_DTR, on);
}
int LinuxNativeSerial::SerSetRTS(int port, bool on)
{
    return setModemLine(port, TIOCM_RTS, on);
}

int LinuxNativeSerial::SerSetTimeoutRx(int port, int ms)
{
    return withOpenSlot(find(port), [ms](Slot &s) {
        s.timeoutRx.store(ms);
        return 0;
    });
}

int LinuxNativeSerial::SerSetTimeoutTx(int port, int ms)
{
    return withOpenSlot(find(port), [ms](Slot &s) {
        s.timeoutTx.store(ms);
        return 0;
    });
}

int LinuxNativeSerial::SerGetTimeoutRx(int port)
{
    return withOpenSlot(find(port), [](Slot &s) { return s.timeoutRx.load(); });
}

int LinuxNativeSerial::SerGetTimeoutTx(int port)
{
    return withOpenSlot(find(port), [](Slot &s) { return s.timeoutTx.load(); });
}

int LinuxNativeSerial::SerSendBreak(int port, int ms)
{
    return withOpenSlot(find(port), [ms](Slot &s) {
        if (::ioctl(s.fd, TIOCSBRK) != 0) {
            if (isNotApplicable(errno))
                return 0;
            s.noteErrno(errno);
            return -1;
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms > 0 ? ms : 0);
        while (!s.closing.load() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs / 5));
        return ::ioctl(s.fd, TIOCCBRK) == 0 ? 0 : -1;
    });
}

void LinuxNativeSerial::SerGetPortList(PortListReceiver &receiver)
{
    if (!m_enumerator)
        return;
    for (const PortListing &p : m_enumerator()) {
        receiver.addPortName(p.name);
        receiver.addPortInfo(p.name, p.manufacturer, p.description);
    }
}

int LinuxNativeSerial::SerDeviceLost(int port)
{
    auto slot = find(port);
    if (!slot)
        return -1;
    return slot->lost.load() ? 1 : 0;
}

int LinuxNativeSerial::SerWaitInput(int port, int ms)
{
    return SerWaitReadable(port, std::max(ms, 0), nullptr);
}

int LinuxNativeSerial::SerWaitReadable(int port, int ms, StopSignal *stop)
{
    auto slot = find(port);
    if (!slot)
        return -1;
    std::shared_lock lock(slot->mutex);
    if (!slot->open)
        return -1;
    {
        std::lock_guard rxLock(slot->rxMutex);
        if (slot->rxBegin != slot->rxEnd)
            return 1;
    }
    if (slot->lost.load())
        return -1;
    short events = 0;
    int error = 0;
    switch (
        waitUntilReadable(slot->fd, slot->closeEvent, slot->closing, stop, ms, kSliceMs, &events, &error)) {
    case ReadableWait::Readable:
        // A hang-up also reads as "readable"; bytes that arrived before it
        // are still delivered (a read that then fails marks the slot lost).
        if (events & (POLLHUP | POLLERR | POLLNVAL)) {
            int queued = 0;
            if ((events & POLLIN) && ::ioctl(slot->fd, FIONREAD, &queued) == 0 && queued > 0)
                return 1;
            slot->lost.store(true);
            return -1;
        }
        return (events & POLLIN) ? 1 : 0;
    case ReadableWait::Closing:
        return -1;
    case ReadableWait::Failed:
        slot->noteErrno(error);
        return slot->lost.load() ? -1 : 0;
    default:
        return 0;
    }
}

namespace {

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash <= 0)
        return QByteArrayLiteral("/");
    return path.left(slash);
}

} // namespace

int LinuxNativeSerial::SerWaitPortName(const SerialConfig &config, int ms)
{
    const int in = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (in < 0)
        return NativeSerial::SerWaitPortName(config, ms);
    constexpr std::uint32_t mask
        = IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
    QByteArray path(config.getPortName().constData()); // the name ends at its first zero byte
    if (!path.startsWith('/')) {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd))
            path = QByteArray(cwd) + '/' + path;
    }
    // A few links deep is plenty (by-id -> ../../ttyUSB0); a loop ends there.
    for (int hop = 0; hop < 8 && !path.isEmpty(); ++hop) {
        QByteArray folder = folderOf(path);
        while (::inotify_add_watch(in, folder.constData(), mask) < 0 && folder != "/")
            folder = folderOf(folder);
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.constData(), target, sizeof target - 1);
        if (n <= 0)
            break;
        const QByteArray link(target, static_cast<qsizetype>(n));
        path = link.startsWith('/') ? link : folderOf(path) + '/' + link;
    }

    ThreadStopFd stop;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms > 0 ? ms : 0);
    int result = 0;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p[2] = { { in, POLLIN, 0 }, { stop.fd(), POLLIN, 0 } };
        const int n = ::poll(p, stop.fd() >= 0 ? 2 : 1, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n > 0 && (p[0].revents & POLLIN))
            result = 1;
        break;
    }
    ::close(in);
    return result;
}

QString LinuxNativeSerial::SerOpenFailureHint(int rc, const SerialConfig &config)
{
    if (rc != kPermissionDenied)
        return QString();
    const QByteArray name = config.getPortName();
    QString group = QStringLiteral("dialout");
    struct stat st
    {
    };
    if (::stat(name.constData(), &st) == 0) {
        ::group entry {};
        ::group *found = nullptr;
        char buffer[4096];
        if (::getgrgid_r(st.st_gid, &entry, buffer, sizeof buffer, &found) == 0 && found)
            group = QString::fromLocal8Bit(found->gr_name);
    }
    return QStringLiteral("Your user account may not use %1: add it to the group \"%2\" that owns the device "
                          "(for example: sudo usermod -a -G %2 $USER), then log out and in again")
        .arg(QString::fromLocal8Bit(name.constData()), group);
}

int LinuxNativeSerial::SerFlowTask(int port)
{
    // The terminal driver does hardware flow control itself; nothing to emulate.
    std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
    return 0;
}

QString LinuxNativeSerial::SerGetLibVer()
{
    return QStringLiteral("10.2.3");
}

std::shared_ptr<NativeSerial> compiledNative()
{
    static const std::shared_ptr<NativeSerial> native = std::make_shared<LinuxNativeSerial>();
    return native;
}

} // namespace portlink
