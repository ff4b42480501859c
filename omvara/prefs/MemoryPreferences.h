// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/prefs/Preferences.h"

#include <QMap>

namespace omvara::prefs {

// Preferences kept in memory only, never written anywhere: a snapshot to
// load settings from (the headless runner's settings with their replacements).
class MemoryPreferences : public Preferences
{
public:
    MemoryPreferences(Preferences *parent, const QString &name)
        : Preferences(parent, name)
    {
    }

protected:
    std::optional<QString> getSpi(const QString &key) override;
    void putSpi(const QString &key, const QString &value) override { m_values.insert(key, value); }
    void removeSpi(const QString &key) override { m_values.remove(key); }
    void removeNodeSpi() override { m_values.clear(); }
    QStringList keysSpi() override { return m_values.keys(); }
    QStringList childrenNamesSpi() override { return m_children.keys(); }
    Preferences *childSpi(const QString &name) override;
    void syncSpi() override { }
    void flushSpi() override { }

private:
    QMap<QString, QString> m_values;
    QMap<QString, Preferences *> m_children;
};

// A tree of MemoryPreferences for the user and the system.
class MemoryPreferencesFactory : public PreferencesFactory
{
public:
    Preferences *userRoot() override { return &m_user; }
    Preferences *systemRoot() override { return &m_system; }

private:
    MemoryPreferences m_user { nullptr, QString() };
    MemoryPreferences m_system { nullptr, QString() };
};

} // namespace omvara::prefs
