// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/reception/PortWriter.h"

#include "portlink/SerialPort.h"

namespace omvara::reception {

bool PortWriter::write(const QByteArray &bytes)
{
    std::shared_ptr<portlink::SerialPort> port;
    {
        std::lock_guard lock(m_mutex);
        port = m_port;
    }
    if (!port || !port->isOpen())
        return false;
    port->putData(bytes);
    return true;
}

void PortWriter::attach(std::shared_ptr<portlink::SerialPort> port)
{
    std::lock_guard lock(m_mutex);
    m_port = std::move(port);
}

void PortWriter::detach()
{
    std::lock_guard lock(m_mutex);
    m_port.reset();
}

} // namespace omvara::reception
