// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/modes/SettingsOverrides.h"

#include "omvara/config/Config.h"
#include "omvara/config/ConfigStore.h"
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

bool SettingsOverrides::add(const QString &assignment, QString *problem)
{
    const qsizetype eq = assignment.indexOf(u'=');
    if (eq <= 0) {
        *problem = QStringLiteral("--set needs KEY=VALUE, not \"%1\"").arg(assignment);
        return false;
    }
    const QString key = assignment.left(eq);
    const QString value = assignment.mid(eq + 1);
    const config::Setting *setting = config::findSetting(key);
    if (!setting || !setting->settable) {
        *problem = QStringLiteral("unknown setting \"%1\"; the settings are: %2")
                       .arg(key, settingKeys().join(u' '));
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
    m_values.append({ key, value });
    return true;
}

bool SettingsOverrides::load(config::Config &config, config::ConfigStore *store, const QStringList &portNames,
    QString *replaced, QStringList *notes) const
{
    prefs::MemoryPreferencesFactory tree;
    prefs::Preferences *snapshot = tree.userRoot()->node(config::ConfigStore::NODE_PATH);
    if (store) {
        prefs::Preferences &stored = store->node();
        for (const QString &key : stored.keys())
            snapshot->put(key, stored.get(key, QString()));
    }
    for (const auto &[key, value] : m_values)
        snapshot->put(key, value);
    config::ConfigStore memory(tree);
    const bool valid = memory.loadConfig(config, portNames);
    if (replaced)
        *replaced = config::ConfigStore::describe(memory.replacedSettings());
    if (notes)
        *notes = memory.loadNotes();
    // A value given on purpose is read as given: a port that is not in the
    // list of local ports too.
    for (const auto &[key, value] : m_values) {
        config::Setting::Refusal unused;
        config::findSetting(key)->read(config, value, config::Setting::Context {}, &unused);
    }
    return valid;
}

} // namespace omvara::modes
