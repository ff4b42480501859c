// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

namespace omvara::config {
class Config;
class ConfigStore;
class Connections;
} // namespace omvara::config

namespace omvara::modes {

// The settings of a run without a window: the stored settings with some
// values replaced from the command line ("--set KEY=VALUE", the keys of the
// preferences node, for every connection; "--set NAME:KEY=VALUE" for the
// connection NAME only, which a setting of the whole program cannot take).
// Each replacement must pass the rule that loading applies to a stored
// value; the store itself is never written.
class SettingsOverrides
{
public:
    // The keys a replacement may name.
    static QStringList settingKeys();

    // Adds "KEY=VALUE" or "NAME:KEY=VALUE"; false with `problem` set when the
    // text has no "=", the key is unknown, the name is no connection name or
    // the key applies to the whole program, or the value would be refused
    // by loading.
    bool add(const QString &assignment, QString *problem);
    bool isEmpty() const { return m_values.isEmpty(); }
    // The settings replaced, in the order given: the connection's name
    // (empty: every connection) and the key.
    QList<QPair<QString, QString>> replacedKeys() const;

    // Loads `config` from `store` (nothing: the built-in defaults) with the
    // replacements applied. `portNames` as for loading (the port is read only
    // when it is not empty). Returns false when a stored value was invalid
    // and replaced by its default; `replaced` then names them (one line
    // each). `notes` receives the loading notes (ConfigStore::loadNotes).
    // Throws what reading the store throws.
    bool load(config::Config &config, config::ConfigStore *store, const QStringList &portNames,
        QString *replaced = nullptr, QStringList *notes = nullptr) const;
    // The same for every connection: the stored ones, and `extra` names
    // not stored yet, which start from a copy of the first connection's
    // stored settings. False with `problem` set when a replacement names a
    // connection that is neither.
    bool loadConnections(config::Connections &connections, config::ConfigStore *store,
        const QStringList &portNames, const QStringList &extra, QString *problem, QString *replaced = nullptr,
        QStringList *notes = nullptr) const;

private:
    struct Value
    {
        QString connection; // empty: every connection
        QString key;
        QString value;
    };
    QList<Value> m_values;
};

} // namespace omvara::modes
