// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <pty.h>
#include <termios.h>
#include <unistd.h>

// A pseudo-terminal pair standing in for a serial device: the program opens
// slavePath(); the test plays the device on the master side.
class PtyPair
{
public:
    PtyPair()
    {
        char name[128] = {};
        if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) == 0)
            m_path = QString::fromLocal8Bit(name);
    }
    ~PtyPair()
    {
        closeMaster();
        if (m_slave >= 0)
            ::close(m_slave);
    }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool ok() const { return m_master >= 0 && !m_path.isEmpty(); }
    const QString &slavePath() const { return m_path; }
    // The test's own descriptor on the device side, for reading its settings.
    int slaveFd() const { return m_slave; }
    // The device side, for reading what the program sent.
    int masterFd() const { return m_master; }

    // The device sends bytes.
    bool send(const QByteArray &bytes)
    {
        return ::write(m_master, bytes.constData(), static_cast<size_t>(bytes.size())) == bytes.size();
    }
    // The device goes away (like an unplugged adapter).
    void closeMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }
    // The slave side's current settings, as the program configured them.
    termios settings() const
    {
        termios t {};
        ::tcgetattr(m_slave, &t);
        return t;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
};
