// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/prefs/MemoryPreferences.h"

#include <memory>

namespace omvara::prefs {

std::optional<QString> MemoryPreferences::getSpi(const QString &key)
{
    const auto it = m_values.constFind(key);
    if (it == m_values.cend())
        return std::nullopt;
    return *it;
}

Preferences *MemoryPreferences::childSpi(const QString &name)
{
    if (Preferences *child = m_children.value(name))
        return child;
    Preferences *child = adopt(std::make_unique<MemoryPreferences>(this, name));
    m_children.insert(name, child);
    return child;
}

} // namespace omvara::prefs
