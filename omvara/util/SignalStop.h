// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QSocketNotifier;

namespace omvara::util {

// Makes a write to a connection that the other end has closed fail with
// EPIPE, which the serial layer reads as a lost connection, instead of ending
// the process with SIGPIPE (some libraries the network ports use write to
// their sockets without MSG_NOSIGNAL). Called once at process start, before
// any thread is made; it applies to the whole process.
void ignoreBrokenPipe();

// Turns SIGINT and SIGTERM into a Qt signal on the event thread (through a
// self-pipe, so the handler itself only writes one byte), and SIGUSR1 into
// a request for a reading. One instance at a time; the previous handlers are
// restored on destruction.
class SignalStop : public QObject
{
    Q_OBJECT

public:
    // `readingRequests`: false leaves SIGUSR1 as it is (it then never emits
    // readingRequested).
    explicit SignalStop(QObject *parent = nullptr)
        : SignalStop(true, parent)
    {
    }
    explicit SignalStop(bool readingRequests, QObject *parent = nullptr);
    ~SignalStop() override;

    // The number of the last signal received, 0 when none.
    int lastSignal() const { return m_signal; }
    // True when a stop signal arrived that the event loop has not delivered
    // yet; it is taken (stopRequested is not emitted for it). For a caller
    // that must know before it returns to the event loop.
    bool takePending();

Q_SIGNALS:
    void stopRequested(int signalNumber);
    // SIGUSR1: a foot switch or a script asks the instrument for a reading.
    void readingRequested();

private:
    void readPipe();
    void deliver(unsigned char signalNumber);

    QSocketNotifier *m_notifier = nullptr;
    bool m_readingRequests = true;
    int m_signal = 0;
};

} // namespace omvara::util
