// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/sim/PseudoTerminal.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace omvara::sim {

namespace {

[[noreturn]] void fail(const char *call)
{
    throw PseudoTerminalError(std::string(call) + ": " + std::strerror(errno));
}

} // namespace

PseudoTerminal::PseudoTerminal(bool holdPortSide)
{
    char name[256] = {};
    termios raw {};
    cfmakeraw(&raw);
    if (::openpty(&m_master, &m_slave, name, &raw, nullptr) != 0)
        fail("openpty");
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    // Writes wait in poll(), where they can be given up (see write()).
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_path = QString::fromLocal8Bit(name);
    if (!holdPortSide) {
        ::close(m_slave);
        m_slave = -1;
    }
}

PseudoTerminal::~PseudoTerminal()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

void PseudoTerminal::write(const QByteArray &bytes)
{
    write(bytes, [] { return false; });
}

bool PseudoTerminal::write(const QByteArray &bytes, const std::function<bool()> &stop)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_master, data, size_t(left));
        if (n < 0) {
            if (errno != EINTR && errno != EAGAIN)
                fail("write");
            if (stop())
                return false;
            if (errno == EAGAIN) {
                pollfd p { m_master, POLLOUT, 0 };
                // Without a reader the device side reads as hung up and poll()
                // returns at once: wait a little instead of spinning.
                if (::poll(&p, 1, 100) > 0 && (p.revents & POLLOUT) == 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            continue;
        }
        data += n;
        left -= n;
    }
    return true;
}

void PseudoTerminal::writeSlowly(const QByteArray &bytes, std::chrono::microseconds gap)
{
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        write(bytes.mid(i, 1));
        if (gap.count() > 0 && i + 1 < bytes.size())
            std::this_thread::sleep_for(gap);
    }
}

int PseudoTerminal::pendingBytes() const
{
    int fd = m_slave;
    if (fd < 0) {
        // A second descriptor of the port side does not disturb the program
        // that has it open; without one, nothing can be counted.
        if (!isPortOpen())
            return -1;
        fd = ::open(m_path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return -1;
    }
    int n = 0;
    const int rc = ::ioctl(fd, FIONREAD, &n);
    if (fd != m_slave)
        ::close(fd);
    return rc == 0 ? n : -1;
}

QByteArray PseudoTerminal::readSent(std::chrono::milliseconds timeout)
{
    pollfd p { m_master, POLLIN, 0 };
    if (::poll(&p, 1, int(timeout.count())) <= 0 || !(p.revents & POLLIN))
        return {};
    QByteArray bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            break; // nothing more (EAGAIN), or the port side is closed (EIO)
        bytes.append(buffer, qsizetype(n));
    }
    return bytes;
}

bool PseudoTerminal::isPortOpen() const
{
    if (m_slave >= 0)
        return true;
    // The device side reads as hung up while nobody has the port side open.
    pollfd p { m_master, POLLOUT, 0 };
    if (::poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & POLLHUP) == 0;
}

bool PseudoTerminal::waitForPortOpen(std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!isPortOpen()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool PseudoTerminal::waitUntilRead(std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (pendingBytes() != 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace omvara::sim
