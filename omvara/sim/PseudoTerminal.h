// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <stdexcept>

namespace omvara::sim {

// Failure to create or use a pseudo-terminal; the message names the system call and its error.
class PseudoTerminalError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A pseudo-terminal pair standing in for a serial device: whatever is written
// to this (the device's) side arrives on the port whose path is devicePath(),
// exactly as written (the port side is put into raw mode at creation, so no
// byte is translated or swallowed before the program under test opens it).
//
// With `holdPortSide` the object keeps a descriptor of the port side open
// itself, so bytes written before the program opens the port wait for it.
// Without, the device side can tell whether a program has the port open
// (isPortOpen), as a real device would see DTR. Either way the pair survives
// the program opening and closing the port any number of times.
//
// Bytes still waiting on the port side when the object is destroyed are lost:
// wait for pendingBytes() to reach 0 first. Not thread-safe; one writer.
class PseudoTerminal
{
public:
    explicit PseudoTerminal(bool holdPortSide = true);
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    // The path of the port side, for example "/dev/pts/5".
    const QString &devicePath() const { return m_path; }

    // Writes all of `bytes`, waiting while the port side's input buffer is full
    // (that is, until the reader has caught up). Throws PseudoTerminalError.
    void write(const QByteArray &bytes);
    // As write(), but gives up when `stop` returns true; it is asked at least
    // every 100 ms while the buffer is full, so a reader that stopped reading
    // cannot hold the writer for ever. Returns false when it gave up (part of
    // `bytes` may have been written).
    bool write(const QByteArray &bytes, const std::function<bool()> &stop);
    // Writes the bytes one at a time with `gap` between them.
    void writeSlowly(const QByteArray &bytes, std::chrono::microseconds gap);

    // What the program wrote to the port (a request, for a device that sends
    // on request): the bytes waiting, after waiting at most `timeout` for the
    // first. Empty when nothing came or nobody has the port open.
    QByteArray readSent(std::chrono::milliseconds timeout);

    // Bytes written to the device side that the port side has not read yet (-1 when unknown).
    int pendingBytes() const;
    // True while some program (other than this object) has the port side open.
    // Always true when the object holds the port side itself.
    bool isPortOpen() const;
    // Waits until isPortOpen() or the time-out; returns isPortOpen().
    bool waitForPortOpen(std::chrono::milliseconds timeout) const;
    // Waits until the port side has read everything or the time-out; returns pendingBytes() == 0.
    bool waitUntilRead(std::chrono::milliseconds timeout) const;

    int deviceFd() const { return m_master; }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
};

} // namespace omvara::sim
