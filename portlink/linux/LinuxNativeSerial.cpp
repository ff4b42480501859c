// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/linux/LinuxNativeSerial.h"

#include "portlink/ConfigureRefusals.h"
#include "portlink/OpenResult.h"
#include "portlink/SerialConfig.h"
#include "portlink/linux/ThreadStopFd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
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

// A port's terminal state beyond its descriptor.
struct LinuxNativeSerial::Slot : DescriptorSlot
{
    QByteArray path; // canonical device path, for "already open"
    std::mutex countsMutex;
    int lastCounts[CounterCount] = {};
};

namespace {

ssize_t readTerminal(int fd, void *buf, size_t count)
{
    return ::read(fd, buf, count);
}

ssize_t writeTerminal(int fd, const void *buf, size_t count)
{
    return ::write(fd, buf, count);
}

// A read of 0 bytes: the device hung up, unless the driver merely had nothing
// (some answer an idle non-blocking read that way); poll tells them apart.
bool hungUp(int fd)
{
    pollfd p { fd, POLLIN, 0 };
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

void releaseExclusive(int fd)
{
    (void)::ioctl(fd, TIOCNXCL);
}

bool pauseDrain(DescriptorSlot &)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs / 5));
    return true;
}

constexpr DescriptorKind kTerminal { isLostErrno, readTerminal, writeTerminal, hungUp, true, releaseExclusive,
    pauseDrain };

} // namespace

LinuxNativeSerial::LinuxNativeSerial(PortEnumerator enumerator)
    : DescriptorNativeSerial(kTerminal)
    , m_enumerator(std::move(enumerator))
{
}

LinuxNativeSerial::~LinuxNativeSerial() = default;

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
    if (m_slots.any<Slot>([&](const Slot &s) { return s.path == canonical; }))
        return kAlreadyOpen;

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
    slot->path = canonical;
    serial_icounter_struct counts {};
    if (::ioctl(fd, TIOCGICOUNT, &counts) == 0) {
        for (int i = 0; i < CounterCount; ++i)
            slot->lastCounts[i] = counterValue(counts, i);
    }

    config.setPortNum(m_slots.add(std::move(slot), fd) + 1);
    return 0;
}

namespace {

// Sets the line of an open slot: 0, an error number or a refusal code.
int configure(DescriptorSlot &slot, const SerialConfig &config)
{
    termios t {};
    if (::tcgetattr(slot.fd, &t) != 0) {
        slot.noteErrno(errno);
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
    const int setError = ::tcsetattr(slot.fd, TCSANOW, &t) == 0 ? 0 : errno;
    if (setError != 0 && setError != EINVAL) {
        slot.noteErrno(setError);
        return setError;
    }
    termios now {};
    if (::tcgetattr(slot.fd, &now) != 0) {
        slot.noteErrno(errno);
        return errno;
    }
    return refusedSetting(t, now, isPseudoTerminal(slot.fd));
}

} // namespace

int LinuxNativeSerial::SerConfigure(int port, const SerialConfig &config)
{
    // None of configure's answers is -1, the answer for a port not open.
    const int rc = m_slots.withOpen(port, [&](DescriptorSlot &slot) { return configure(slot, config); });
    return rc == -1 ? EBADF : rc;
}

int LinuxNativeSerial::SerRxFlush(int port)
{
    return m_slots.withOpen(port, [](DescriptorSlot &s) {
        DescriptorSlots::dropBuffered(s);
        if (::tcflush(s.fd, TCIFLUSH) == 0)
            return 0;
        s.noteErrno(errno);
        return -1;
    });
}

int LinuxNativeSerial::SerTxFlush(int port)
{
    return m_slots.withOpen(port, [](DescriptorSlot &s) {
        if (::tcflush(s.fd, TCOFLUSH) == 0)
            return 0;
        s.noteErrno(errno);
        return -1;
    });
}

int LinuxNativeSerial::modemLine(int port, int bit)
{
    return m_slots.withOpen(port, [bit](DescriptorSlot &s) {
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
    return m_slots.withOpen(port, [bit, on](DescriptorSlot &s) {
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
    return m_slots.withOpen<Slot>(port, [which](Slot &s) {
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

int LinuxNativeSerial::SerSendBreak(int port, int ms)
{
    return m_slots.withOpen(port, [ms](DescriptorSlot &s) {
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
