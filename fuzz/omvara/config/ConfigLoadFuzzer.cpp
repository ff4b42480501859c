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
#include "omvara/config/OutputSettings.h"
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
using omvara::config::MqttCaFile;
using omvara::config::MqttUrl;
using omvara::config::RecordFile;
using omvara::prefs::Preferences;
using omvara::prefs::PreferencesFactory;
using H = ConfigHelper;

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

// Stored keys, what each accepts, and a few valid texts for it.
struct Key
{
    const char *name;
    std::function<bool(const QString &)> valid; // null: any text (not checked by loading)
    std::array<const char *, 4> samples;
};

bool ordinalIn(const QString &text, const std::function<bool(int)> &valid)
{
    // Texts that are no integer read as absent: the default, without a report.
    if (text.isEmpty())
        return true;
    qsizetype i = (text[0] == u'-' || text[0] == u'+') ? 1 : 0;
    if (i == text.size())
        return true;
    for (; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9')
            return true;
    }
    bool ok = false;
    const int value = text.toInt(&ok);
    return !ok || valid(value);
}

template <typename Set> std::function<bool(const QString &)> byName()
{
    return [](const QString &text) { return Set::valid(text); };
}
template <typename Set> std::function<bool(const QString &)> byOrdinal()
{
    return [](const QString &text) { return ordinalIn(text, [](int v) { return Set::valid(v); }); };
}
template <typename Text> std::function<bool(const QString &)> byText()
{
    return [](const QString &text) { return Text::valid(text); };
}

const std::array<Key, 34> &keys()
{
    static const std::array<Key, 34> table = { {
        { "port", nullptr, { "COM4", "/dev/ttyUSB0", "", "x" } },
        { "prevPort", nullptr, { "COM4", "", "/dev/ttyACM0", "y" } },
        { "instrument", byName<H::Instrument>(), { "SARTORIUS", "BARCODE_ALPHA", "WEDDERBURN", "GENERIC" } },
        { "bitRate", byOrdinal<H::BitRates>(), { "0", "7", "14", "11" } },
        { "dataBits", byOrdinal<H::DataBits>(), { "0", "3", "2", "1" } },
        { "stopBits", byOrdinal<H::StopBits>(), { "0", "1", "0", "1" } },
        { "parity", byOrdinal<H::Parity>(), { "0", "4", "2", "1" } },
        { "inputTerminator",
            [](const QString &t) { return ordinalIn(t, [](int v) { return H::InputTerminator::valid(v); }); },
            { "13", "10", "0", "255" } },
        { "decimalSeparator", byName<H::DecimalSeparator>(), { "DOT", "COMMA", "DOT", "COMMA" } },
        { "startWith", byName<H::StartWith>(), { "NONE", "TAB", "F12", "DELETE" } },
        { "outputTerminator", byName<H::OutputTerminator>(), { "NONE", "ENTER", "TAB", "DOWN" } },
        { "connect", byName<H::Connect>(), { "MANUAL", "AUTO", "MANUAL", "AUTO" } },
        { "mathOperand", byText<H::MathOperand>(), { "", "1000", "0.5", "-2.5e3" } },
        { "mathOperation", byName<H::MathOperation>(), { "NONE", "MULTIPLY", "DIVIDE", "NONE" } },
        { "decimalPlaces", byText<H::DecimalPlaces>(), { "", "0", "2", "7" } },
        { "roundingMethod", byName<H::RoundingMethod>(), { "HALF_UP", "CEILING", "HALF_EVEN", "DOWN" } },
        { "sound", byName<H::Sound>(), { "NONE", "COWBELL", "CLAVES", "OPEN_TRIANGLE" } },
        { "keyboardType", byName<H::KeyboardType>(), { "QUERTY", "AZERTY", "QUERTY", "AZERTY" } },
        { "delay", byText<H::Delay>(), { "20", "0", "1000", "35" } },
        { "minimizeToTray", nullptr, { "true", "false", "TRUE", "yes" } },
        { "notifyWhenMinimizedToTray", nullptr, { "true", "false", "False", "1" } },
        { "checkForUpdates", nullptr, { "true", "false", "", "tRuE" } },
        { "abortAutoStartWhenPrevPortNotAvailable", nullptr, { "true", "false", "no", "true" } },
        { "ignoreDuplicates", nullptr, { "true", "false", "true", "off" } },
        { "editOperation", byName<H::EditOperation>(), { "REMOVE", "KEEP", "REMOVE", "KEEP" } },
        { "editPosition", byName<H::EditPosition>(), { "FIRST", "LAST", "FIRST", "LAST" } },
        { "editNumCharacters", byText<H::EditNumCharacters>(), { "", "1", "99", "7" } },
        { "removeCharacters", byText<H::RemoveCharacters>(), { "", "kg", " =:#!\\", "\xC2\xB0" } },
        { "ignoreTimeLimit", byText<H::IgnoreTimeLimit>(), { "", "1", "1500", "2147483647" } },
        { "ignoreDifference", byText<H::IgnoreDifference>(), { "", "0.5", "1e-3", "100" } },
        { "customRegEx", byText<H::CustomRegEx>(), { "", "^\\s*N\\s+([0-9.]+)", "(\\d+)", "W:(.*)$" } },
        // Record file and broker.
        { "recordFile", byText<RecordFile>(), { "", "records.csv", "/srv/{user}/{date}.csv", "~/r.csv" } },
        { "mqttUrl", byText<MqttUrl>(),
            { "", "mqtt://127.0.0.1/lab/s1", "mqtts://u@[::1]:8883/a b", "mqtt://h:1/t" } },
        { "mqttCaFile", byText<MqttCaFile>(), { "", "/etc/ssl/ca.pem", "ca.pem", "x" } },
    } };
    return table;
}

// Every setting of a Config as text, keyed like the store ("prevPort" is saved as the port).
QMap<QString, QString> fields(const Config &c)
{
    auto b = [](bool v) { return v ? QStringLiteral("true") : QStringLiteral("false"); };
    return {
        { "port", c.getPort() },
        { "instrument", c.getInstrument() ? c.getInstrument()->name() : QStringLiteral("<none>") },
        { "bitRate", QString::number(c.getBitRate()) },
        { "dataBits", QString::number(c.getDataBits()) },
        { "stopBits", QString::number(c.getStopBits()) },
        { "parity", QString::number(c.getParity()) },
        { "inputTerminator", QString::number(c.getInputTerminator()) },
        { "connect", c.getConnect().name() },
        { "keyboardType", c.getKeyboardType().name() },
        { "delay", c.getDelay() },
        { "decimalSeparator", c.getDecimalSeparator().name() },
        { "startWith", c.getStartWith().name() },
        { "outputTerminator", c.getOutputTerminator().name() },
        { "mathOperation", c.getMathOperation().name() },
        { "mathOperand", c.getMathOperand() },
        { "decimalPlaces", c.getDecimalPlaces() },
        { "roundingMethod", c.getRoundingMethod().name() },
        { "sound", c.getSound().name() },
        { "minimizeToTray", b(c.minimizeToTray) },
        { "notifyWhenMinimizedToTray", b(c.notifyWhenMinimizedToTray) },
        { "checkForUpdates", b(c.checkForUpdates) },
        { "abortAutoStartWhenPrevPortNotAvailable", b(c.abortAutoStartWhenPrevPortNotAvailable) },
        { "editOperation", c.getEditOperation().name() },
        { "editPosition", c.getEditPosition().name() },
        { "editNumCharacters", c.getEditNumCharacters() },
        { "removeCharacters", c.getRemoveCharacters() },
        { "customRegEx", c.getCustomRegEx() },
        { "ignoreDuplicates", b(c.ignoreDuplicates) },
        { "ignoreTimeLimit", c.getIgnoreTimeLimit() },
        { "ignoreDifference", c.getIgnoreDifference() },
        { "recordFile", c.getRecordFile() },
        { "mqttUrl", c.getMqttUrl() },
        { "mqttCaFile", c.getMqttCaFile() },
    };
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
    const QMap<QString, QString> loaded = fields(config);
    for (const Key &key : keys()) {
        const QString name = QString::fromLatin1(key.name);
        if (key.valid && !key.valid(loaded.value(name)))
            fail("a loaded setting is invalid:", name + QStringLiteral("=") + loaded.value(name));
    }
}

void writeRecords(Preferences &node, const std::uint8_t *data, std::size_t size)
{
    std::size_t i = 0;
    while (i + 2 <= size) {
        const Key &key = keys()[data[i] % (keys().size() + 1) == keys().size() ? 0 : data[i] % keys().size()];
        const bool unknown = data[i] % (keys().size() + 1) == keys().size();
        const std::uint8_t length = data[i + 1];
        i += 2;
        QString value;
        if (length >= 200) {
            value = QString::fromUtf8(key.samples[(length - 200) % key.samples.size()]);
        } else {
            const std::size_t n = std::min<std::size_t>(length, size - i);
            value = QString::fromUtf8(reinterpret_cast<const char *>(data + i), qsizetype(n));
            i += n;
        }
        try {
            node.put(unknown ? QStringLiteral("unknownKey") : QString::fromLatin1(key.name), value);
        } catch (const omvara::prefs::PreferencesRefusedError &) {
            // Text the store never holds (a NUL character): as if it had not been written.
        }
    }
}

// Whether every checked setting stored in `node` is valid.
bool storedValid(Preferences &node)
{
    for (const Key &key : keys()) {
        const QString name = QString::fromLatin1(key.name);
        const QString stored = node.get(name, QString());
        if (key.valid && !stored.isNull() && !key.valid(stored))
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
