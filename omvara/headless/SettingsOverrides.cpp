// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/headless/SettingsOverrides.h"

#include "omvara/config/Config.h"
#include "omvara/config/ConfigStore.h"
#include "omvara/prefs/MemoryPreferences.h"
#include "omvara/prefs/Preferences.h"

#include <QMap>

#include <memory>

namespace omvara::headless {

namespace {

const QStringList integerKeys = { "bitRate", "dataBits", "stopBits", "parity", "inputTerminator",
    // Readings on request, and settled readings.
    "requestInterval", "stableReadings" };
const QStringList booleanKeys = { "minimizeToTray", "notifyWhenMinimizedToTray", "checkForUpdates",
    "abortAutoStartWhenPrevPortNotAvailable", "ignoreDuplicates" };

} // namespace

QStringList SettingsOverrides::settingKeys()
{
    QStringList keys = { "port", "instrument", "bitRate", "dataBits", "stopBits", "parity", "inputTerminator",
        "decimalSeparator", "startWith", "outputTerminator", "connect", "mathOperand", "mathOperation",
        "decimalPlaces", "roundingMethod", "sound", "keyboardType", "delay", "minimizeToTray",
        "notifyWhenMinimizedToTray", "checkForUpdates", "abortAutoStartWhenPrevPortNotAvailable",
        "ignoreDuplicates", "editOperation", "editPosition", "editNumCharacters", "removeCharacters",
        "ignoreTimeLimit", "ignoreDifference", "customRegEx", "reconnect", "recentPorts", "portDevice",
        // Readings on request, and settled readings.
        "requestCommand", "requestInterval", "requestHotkey", "stableReadings" };
    // Record file and broker.
    keys << "recordFile"
         << "mqttUrl"
         << "mqttCaFile";
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
    if (!settingKeys().contains(key)) {
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
    const auto refuse = [&] {
        *problem = QStringLiteral("invalid value \"%1\" for setting %2").arg(value, key);
        return false;
    };
    // The loader reads a text it cannot take as a number or switch as absent
    // (its default); on the command line that is a mistake to report.
    if (integerKeys.contains(key)) {
        bool ok = false;
        value.toInt(&ok);
        if (!ok)
            return refuse();
    }
    if (booleanKeys.contains(key) && value.compare(QLatin1String("true"), Qt::CaseInsensitive) != 0
        && value.compare(QLatin1String("false"), Qt::CaseInsensitive) != 0)
        return refuse();
    if (key != QLatin1String("port")) {
        // The loading rule itself: a store holding only this value must load without complaint.
        prefs::MemoryPreferencesFactory tree;
        tree.userRoot()->node(config::ConfigStore::NODE_PATH)->put(key, value);
        config::ConfigStore store(tree);
        config::Config scratch;
        if (!store.loadConfig(scratch, {})) {
            refuse();
            // Why, where the loading rule knows (a pattern names its construct).
            for (const config::ConfigStore::ReplacedSetting &r : store.replacedSettings())
                if (r.key == key && !r.reason.isEmpty())
                    *problem += QStringLiteral(": ") + r.reason;
            return false;
        }
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
    for (const auto &[key, value] : m_values)
        if (key == QLatin1String("port"))
            config.setPort(value);
    return valid;
}

} // namespace omvara::headless
