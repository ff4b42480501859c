// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/SerialServerTask.h"

#include "portlink/SerialPortLocal.h"

#include <algorithm>

namespace portlink {

SerialServerTask::SerialServerTask(SerialPortLocal &sp)
    : m_sp(sp)
    , m_portNum(sp.getPortNum())
{
}

SerialServerTask::~SerialServerTask()
{
    abort();
    if (m_thread.joinable())
        m_thread.join();
}

void SerialServerTask::start()
{
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
}

void SerialServerTask::run()
{
    m_priority.store(std::min(m_priority.load() + 1, 10));
    if (m_sp.nativeServerTask() < 0)
        m_sp.serverTaskFailed();
}

} // namespace portlink
