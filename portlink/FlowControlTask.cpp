// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/FlowControlTask.h"

#include "portlink/Console.h"
#include "portlink/PortlinkErrors.h"
#include "portlink/SerialPortLocal.h"

#include <algorithm>

namespace portlink {

FlowControlTask::FlowControlTask(SerialPortLocal &sp)
    : m_sp(sp)
    , m_portNum(sp.getPortNum())
{
    Console::println(QStringLiteral("FlowControlTask created"));
}

FlowControlTask::~FlowControlTask()
{
    abort();
    if (m_thread.joinable())
        m_thread.join();
}

void FlowControlTask::start()
{
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
}

void FlowControlTask::setFlowPriority(int p)
{
    if (p < MIN_PRIORITY || p > MAX_PRIORITY)
        throw InvalidArgumentError(QStringLiteral("Invalid priority: ") + QString::number(p));
    m_priority.store(std::min(p, MAX_PRIORITY));
}

void FlowControlTask::run()
{
    m_priority.store(std::min(m_priority.load() + 1, MAX_PRIORITY));
    while (!m_abortRequest.load())
        m_sp.nativeFlowTask(m_portNum);
}

} // namespace portlink
