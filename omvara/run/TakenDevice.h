// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "portlink/doctor/PortDoctor.h"

#include <QString>

#include <chrono>
#include <memory>
#include <optional>

namespace omvara::run {

// Tells why a device that vanished within seconds of being opened went away,
// where the port diagnosis knows: brltty, which claims many USB serial
// adapters, takes them seconds after they appear. Event thread.
class TakenDevice
{
public:
    // `system` is what the diagnosis reads; null: this computer.
    explicit TakenDevice(std::shared_ptr<const portlink::doctor::SystemView> system = nullptr);

    // The port was opened (or came back): its adapter's ids are read while it is there.
    void opened(const QString &port);
    // The device went away: the sentence for the log when brltty took it
    // soon after it was opened, nothing otherwise.
    std::optional<QString> wentAway();

    // How soon after the open a vanishing device counts as taken.
    static constexpr std::chrono::seconds soon { 15 };

private:
    std::shared_ptr<const portlink::doctor::SystemView> m_system;
    QString m_port;
    std::optional<portlink::doctor::UsbIds> m_ids;
    std::chrono::steady_clock::time_point m_openedAt;
};

} // namespace omvara::run
