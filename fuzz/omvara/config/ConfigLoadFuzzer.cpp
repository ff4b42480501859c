// SPDX-License-Identifier: GPL-3.0-or-later
// Stored settings through loadConfig, as a damaged or hand-edited settings store or an
// imported file gives them. First byte even: the rest are records (key, value) written into
// the settings node: a key byte picks one of the stored keys (or an unknown one), a length
// byte below 200 is followed by that many bytes of UTF-8 text, a length byte from 200 picks
// one of a few valid texts for the key. First byte odd: the rest is an export document,
// imported into the tree as the import command does.
//
// What must hold: loading never throws on a readable store; every loaded setting is valid;
// the invalid-setting report is given exactly when a stored setting that is checked was
// invalid; a loaded configuration saved and loaded again is the same and valid.
#include "omvara/config/Config.h"
#include "omvara/config/ConfigHelper.h"
#include "omvara/config/ConfigStore.h"
#include "omvara/config/Instrument.h"
#include "omvara/config/SettingsTable.h"
#include "omvara/prefs/Preferences.h"
#include "omvara/prefs/PreferencesErrors.h"
#include "omvara/prefs/PreferencesXml.h"

#include <QMap>
#include <QStringList>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

using omvara::config::Config;
using omvara::config::ConfigHelper;
using omvara::config::ConfigStore;
using omvara::prefs::Preferences;
using omvara::prefs::PreferencesFactory;

namespace {

[[noreturn]] void fail(const char *what, const QString &detail = {})
{
    std::fprintf(stderr, "check failed: %s %s\n", what, detail.toUtf8().constData());
    std::abort();
}

// A tree kept in memory only.
class MemoryPreferences : public Preferences
{
public:
    MemoryPreferences(MemoryPreferences *parent, const QString &name)
        : Preferences(parent, name)
    {
    }

protected:
    std::optional<QString> getSpi(const QString &key) override
    {
        const auto it = values.constFind(key);
        return it == values.cend() ? std::nullopt : std::optional<QString>(*it);
    }
    void putSpi(const QString &key, const QString &value) override { values.insert(key, value); }
    void removeSpi(const QString &key) override { values.remove(key); }
    void removeNodeSpi() override { values.clear(); }
    QStringList keysSpi() override { return values.keys(); }
    QStringList childrenNamesSpi() override { return children; }
    Preferences *childSpi(const QString &name) override
    {
        children << name;
        return adopt(std::make_unique<MemoryPreferences>(this, name));
    }
    void syncSpi() override { }
    void flushSpi() override { }

private:
    QMap<QString, QString> values;
    QStringList children;
};

class MemoryFactory : public PreferencesFactory
{
public:
    Preferences *userRoot() override { return &user; }
    Preferences *systemRoot() override { return &system; }

private:
    MemoryPreferences user { nullptr, QString() };
    MemoryPreferences system { nullptr, QString() };
};

using omvara::config::Setting;
using omvara::config::settingsTable;

// Texts of many settings' forms; each row's samples are those it takes.
const char *const kSampleTexts[] = { "true", "false", "TRUE", "0", "1", "2", "3", "4", "7", "10", "13", "14",
    "99", "255", "750", "1000", "1500", "3600000", "20", "", "COMMA", "DOT", "AUTO", "MANUAL", "KEEP", "LAST",
    "TAB", "ENTER", "F12", "MULTIPLY", "DIVIDE", "HALF_EVEN", "CEILING", "COWBELL", "AZERTY", "SARTORIUS",
    "BARCODE_ALPHA", "0.5", "1e-3", "kg", " =:#!\\", "\xC2\xB0", "^\\s*N\\s+([0-9.]+)", "(\\d+)", "COM4",
    "/dev/ttyUSB0", "tcp://10.0.0.7:4001", "COM4;COM2", "SI\\r\\n", "\\eP", "F9", "Ctrl+Alt+W", "records.csv",
    "/srv/{user}/{date}.csv", "mqtt://127.0.0.1/lab/s1", "mqtts://u@[::1]:8883/a b", "/etc/ssl/ca.pem" };

// The texts `row` takes, its default first.
const QStringList &samples(const Setting &row)
{
    static QMap<const Setting *, QStringList> cache;
    auto it = cache.find(&row);
    if (it == cache.end()) {
        QStringList taken { row.defaultText(Config(), Setting::Context {}) };
        for (const char *text : kSampleTexts)
            if (row.check(QString::fromUtf8(text), nullptr) == Setting::Reading::Taken)
                taken << QString::fromUtf8(text);
        it = cache.insert(&row, taken);
    }
    return *it;
}

// Whether loading reports `text` stored for `row`.
bool refused(const Setting &row, const QString &text)
{
    Config scratch;
    const QStringList ports = { QStringLiteral("/dev/ttyUSB0") };
    Setting::Refusal refusal;
    return row.read(scratch, text, Setting::Context { &ports }, &refusal) == Setting::Reading::Refused;
}

// Every setting of a Config as text, as the store holds it (the previous port,
// saved as the port, left out).
QMap<QString, QString> fields(const Config &c)
{
    QMap<QString, QString> texts;
    for (const omvara::config::Setting &s : omvara::config::settingsTable())
        if (s.same)
            if (const std::optional<QString> text = s.write(c))
                texts.insert(s.name(), *text);
    return texts;
}

bool load(ConfigStore &store, Config &config, const QStringList &ports)
{
    try {
        return store.loadConfig(config, ports);
    } catch (const std::exception &e) {
        fail("loading a store in memory threw:", QString::fromUtf8(e.what()));
    }
}

void checkLoaded(const Config &config)
{
    for (const Setting &row : settingsTable()) {
        const std::optional<QString> text = row.write(config);
        if (text && refused(row, *text))
            fail("a loaded setting is invalid:", row.name() + QStringLiteral("=") + *text);
    }
}

void writeRecords(Preferences &node, const std::uint8_t *data, std::size_t size)
{
    const qsizetype rows = settingsTable().size();
    std::size_t i = 0;
    while (i + 2 <= size) {
        const bool unknown = data[i] % (rows + 1) == rows;
        const Setting &row = settingsTable()[unknown ? 0 : data[i] % (rows + 1)];
        const std::uint8_t length = data[i + 1];
        i += 2;
        QString value;
        if (length >= 200) {
            const QStringList &taken = samples(row);
            value = taken[(length - 200) % taken.size()];
        } else {
            const std::size_t n = std::min<std::size_t>(length, size - i);
            value = QString::fromUtf8(reinterpret_cast<const char *>(data + i), qsizetype(n));
            i += n;
        }
        try {
            node.put(unknown ? QStringLiteral("unknownKey") : row.name(), value);
        } catch (const omvara::prefs::PreferencesRefusedError &) {
            // Text the store never holds (a NUL character): as if it had not been written.
        }
    }
}

// Whether every setting stored in `node` is one loading takes without a report.
bool storedValid(Preferences &node)
{
    for (const Setting &row : settingsTable()) {
        const QString stored = node.get(row.name(), QString());
        if (!stored.isNull() && refused(row, stored))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    static const QStringList kPorts[] = { {}, { QStringLiteral("/dev/ttyUSB0"), QStringLiteral("COM3") } };
    const QStringList &ports = kPorts[(data[0] / 2) % 2];

    MemoryFactory factory;
    ConfigStore store(factory);
    if (data[0] % 2 == 0) {
        writeRecords(store.node(), data + 1, size - 1);
    } else {
        try {
            const auto document = omvara::prefs::PreferencesXml::parse(
                QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1)));
            omvara::prefs::PreferencesXml::apply(document, *factory.userRoot(), *factory.systemRoot());
        } catch (const omvara::prefs::PreferencesError &) {
            return 0; // refused as a whole, as the import command refuses it
        }
    }

    Config config;
    const bool valid = load(store, config, ports);
    checkLoaded(config);
    if (valid != storedValid(store.node()))
        fail(valid ? "an invalid stored setting was loaded without the report"
                   : "the invalid-setting report without an invalid stored setting");

    MemoryFactory again;
    ConfigStore second(again);
    second.saveConfig(config);
    Config reloaded;
    if (!load(second, reloaded, ports))
        fail("a saved configuration loads with the invalid-setting report");
    QMap<QString, QString> before = fields(config);
    QMap<QString, QString> after = fields(reloaded);
    if (before != after) {
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (after.value(it.key()) != it.value())
                fail("a saved setting loads differently:",
                    it.key() + QStringLiteral(": ") + it.value() + QStringLiteral(" -> ")
                        + after.value(it.key()));
        }
    }
    return 0;
}
