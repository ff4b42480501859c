// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/modes/SettingsOverrides.h"

#include "omvara/config/Config.h"
#include "omvara/config/ConfigStore.h"
#include "omvara/config/Connections.h"
#include "omvara/config/SettingsTable.h"
#include "omvara/prefs/MemoryPreferences.h"
#include "omvara/prefs/Preferences.h"

namespace omvara::modes {

QStringList SettingsOverrides::settingKeys()
{
    QStringList keys;
    for (const config::Setting &s : config::settingsTable())
        if (s.settable)
            keys << s.name();
    return keys;
}

QList<QPair<QString, QString>> SettingsOverrides::replacedKeys() const
{
    QList<QPair<QString, QString>> keys;
    for (const Value &v : m_values)
        keys.append({ v.connection, v.key });
    return keys;
}

bool SettingsOverrides::add(const QString &assignment, QString *problem)
{
    const qsizetype eq = assignment.indexOf(u'=');
    if (eq <= 0) {
        *problem = QStringLiteral("--set needs KEY=VALUE, not \"%1\"").arg(assignment);
        return false;
    }
    QString key = assignment.left(eq);
    const QString value = assignment.mid(eq + 1);
    QString connection;
    if (const qsizetype colon = key.indexOf(u':'); colon >= 0) {
        connection = key.left(colon);
        key = key.mid(colon + 1);
        if (const QString why = config::ConnectionName::problem(connection); !why.isEmpty()) {
            *problem = QStringLiteral("--set \"%1\": %2").arg(assignment, why);
            return false;
        }
    }
    const config::Setting *setting = config::findSetting(key);
    if (!setting || !setting->settable) {
        *problem = QStringLiteral("unknown setting \"%1\"; the settings are: %2")
                       .arg(key, settingKeys().join(u' '));
        return false;
    }
    if (!connection.isEmpty() && setting->scope == config::Setting::Scope::Program) {
        *problem = QStringLiteral("the setting %1 applies to the whole program, not to one connection: "
                                  "give it as --set %1=VALUE")
                       .arg(key);
        return false;
    }
    // What the store cannot hold at all is refused here with the reason
    // (putting it would fail further down).
    if (value.size() > prefs::Preferences::MAX_VALUE_LENGTH) {
        *problem = QStringLiteral("the value for setting %1 is %2 characters long; at most %3 can be stored")
                       .arg(key)
                       .arg(value.size())
                       .arg(prefs::Preferences::MAX_VALUE_LENGTH);
        return false;
    }
    if (value.contains(QChar(0))) {
        *problem
            = QStringLiteral("the value for setting %1 holds the character U+0000, which cannot be stored")
                  .arg(key);
        return false;
    }
    // The loading rule itself, and more: loading reads a text that is not
    // of the setting's form (a switch other than "true" or "false", an
    // integer written "1e3") as absent, its default; on the command line
    // that is a mistake to report.
    config::Setting::Refusal refusal;
    if (setting->check(value, &refusal) != config::Setting::Reading::Taken) {
        *problem = QStringLiteral("invalid value \"%1\" for setting %2").arg(value, key);
        // Why, where the loading rule knows (a pattern names its construct).
        if (!refusal.reason.isEmpty())
            *problem += QStringLiteral(": ") + refusal.reason;
        return false;
    }
    m_values.append({ connection, key, value });
    return true;
}

bool SettingsOverrides::load(config::Config &config, config::ConfigStore *store, const QStringList &portNames,
    QString *replaced, QStringList *notes) const
{
    config::Connections connections;
    QString problem;
    const bool valid = loadConnections(connections, store, portNames, {}, &problem, replaced, notes);
    config = std::move(connections.first());
    return valid;
}

bool SettingsOverrides::loadConnections(config::Connections &connections, config::ConfigStore *store,
    const QStringList &portNames, const QStringList &extra, QString *problem, QString *replaced,
    QStringList *notes) const
{
    prefs::MemoryPreferencesFactory tree;
    prefs::Preferences *snapshot = tree.userRoot()->node(config::ConfigStore::NODE_PATH);
    const auto copyKeys = [](prefs::Preferences &from, prefs::Preferences &to) {
        for (const QString &key : from.keys())
            to.put(key, from.get(key, QString()));
    };
    QStringList stored;
    if (store) {
        prefs::Preferences &node = store->node();
        copyKeys(node, *snapshot);
        for (const QString &child : node.childrenNames()) {
            copyKeys(*node.node(child), *snapshot->node(child));
            stored << child;
        }
    }
    const QString first
        = snapshot->get(QLatin1String(config::ConnectionName::Key), config::ConnectionName::getDefault());
    // A connection not stored yet starts from the first one's stored settings.
    for (const QString &name : extra) {
        if (name == first || stored.contains(name))
            continue;
        prefs::Preferences *node = snapshot->node(name);
        for (const config::Setting &s : config::settingsTable())
            if (config::storedPerConnection(s))
                if (const QString text = snapshot->get(s.name(), QString()); !text.isNull())
                    node->put(s.name(), text);
        stored << name;
    }
    for (const Value &v : m_values) {
        if (v.connection.isEmpty()) {
            snapshot->put(v.key, v.value);
            const config::Setting *s = config::findSetting(v.key);
            if (s->scope == config::Setting::Scope::Connection)
                for (const QString &name : stored)
                    snapshot->node(name)->put(v.key, v.value);
        } else if (v.connection == first) {
            snapshot->put(v.key, v.value);
        } else if (stored.contains(v.connection)) {
            snapshot->node(v.connection)->put(v.key, v.value);
        } else {
            *problem
                = QStringLiteral("--set %1:%2: there is no connection named \"%1\"").arg(v.connection, v.key);
            return false;
        }
    }
    config::ConfigStore memory(tree);
    const bool valid = memory.loadConnections(connections, portNames);
    if (replaced)
        *replaced = config::ConfigStore::describe(memory.replacedSettings());
    if (notes)
        *notes = memory.loadNotes();
    // A value given on purpose is read as given: a port that is not in the
    // list of local ports too.
    for (const Value &v : m_values) {
        config::Setting::Refusal unused;
        for (qsizetype i = 0; i < connections.size(); ++i) {
            config::Config &c = connections.at(i);
            if (v.connection.isEmpty() || v.connection == c.getConnectionName())
                config::findSetting(v.key)->read(c, v.value, config::Setting::Context {}, &unused);
        }
    }
    return valid;
}

} // namespace omvara::modes
