// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/run/TakenDevice.h"

#include "omvara/texts/WorkerTexts.h"

namespace omvara::run {

TakenDevice::TakenDevice(std::shared_ptr<const portlink::doctor::SystemView> system)
    : m_system(system ? std::move(system) : std::make_shared<portlink::doctor::LocalSystemView>())
{
}

void TakenDevice::opened(const QString &port)
{
    m_port = port;
    m_openedAt = std::chrono::steady_clock::now();
    const QString device = port.startsWith(QLatin1Char('/')) ? m_system->canonicalPath(port) : QString();
    m_ids = device.isEmpty() ? std::nullopt : portlink::doctor::usbIdsOf(device, *m_system);
}

std::optional<QString> TakenDevice::wentAway()
{
    const auto after = std::chrono::steady_clock::now() - m_openedAt;
    if (!m_ids || after > soon)
        return std::nullopt;
    const auto claim = portlink::doctor::brlttyClaim(*m_ids, *m_system);
    m_ids.reset(); // told once per opening
    if (!claim)
        return std::nullopt;
    const auto seconds = std::chrono::duration_cast<std::chrono::milliseconds>(after).count() / 1000.0;
    return texts::WorkerTexts::format(texts::WorkerTexts::text("device.taken.by.brltty"),
        { QString::number(seconds, 'f', 1), claim->text, m_port });
}

} // namespace omvara::run
