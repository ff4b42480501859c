// SPDX-License-Identifier: GPL-3.0-or-later
// What the system says about one serial port (driver, description).
#pragma once

#include <QString>

namespace portlink {

// What port discovery knows about one port's driver. Immutable.
class PortDriverInfo
{
public:
    PortDriverInfo(QString name, QString manufacture, QString description)
        : m_name(std::move(name))
        , m_manufacture(std::move(manufacture))
        , m_description(std::move(description))
    {
    }

    const QString &getPortName() const { return m_name; }
    const QString &getDriverMfgr() const { return m_manufacture; }
    const QString &getDriverDesc() const { return m_description; }

    bool operator==(const PortDriverInfo &) const = default;

private:
    QString m_name;
    QString m_manufacture;
    QString m_description;
};

} // namespace portlink
