// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/util/SignalStop.h"

#include <QMetaObject>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

namespace omvara::util {

namespace {

int pipeFds[2] = { -1, -1 };
struct sigaction previousInt;
struct sigaction previousTerm;
struct sigaction previousUsr1;

extern "C" void onSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] ssize_t n = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

} // namespace

void ignoreBrokenPipe()
{
    struct sigaction action
    {
    };
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGPIPE, &action, nullptr);
}

SignalStop::SignalStop(bool readingRequests, QObject *parent)
    : QObject(parent)
    , m_readingRequests(readingRequests)
{
    if (pipeFds[0] >= 0)
        throw std::logic_error("SignalStop: one instance at a time");
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("SignalStop: pipe failed");
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &previousInt);
    ::sigaction(SIGTERM, &action, &previousTerm);
    if (m_readingRequests)
        ::sigaction(SIGUSR1, &action, &previousUsr1);
    m_notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalStop::readPipe);
}

SignalStop::~SignalStop()
{
    ::sigaction(SIGINT, &previousInt, nullptr);
    ::sigaction(SIGTERM, &previousTerm, nullptr);
    if (m_readingRequests)
        ::sigaction(SIGUSR1, &previousUsr1, nullptr);
    delete m_notifier;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

bool SignalStop::takePending()
{
    unsigned char byte = 0;
    bool taken = false;
    while (::read(pipeFds[0], &byte, 1) == 1) {
        if (byte == SIGUSR1) {
            // Not a stop: it goes out as usual once the event loop runs.
            QMetaObject::invokeMethod(
                this, [this] { deliver(SIGUSR1); }, Qt::QueuedConnection);
            continue;
        }
        m_signal = byte;
        taken = true;
    }
    return taken;
}

void SignalStop::readPipe()
{
    unsigned char byte = 0;
    while (::read(pipeFds[0], &byte, 1) == 1)
        deliver(byte);
}

void SignalStop::deliver(unsigned char signalNumber)
{
    if (signalNumber == SIGUSR1) {
        Q_EMIT readingRequested();
        return;
    }
    m_signal = signalNumber;
    Q_EMIT stopRequested(signalNumber);
}

} // namespace omvara::util
