// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/Config.h"
#include "omvara/config/OutputSettings.h"
#include "omvara/config/SettingsTable.h"
#include "omvara/config/Stamp.h"

#include <gtest/gtest.h>

#include <functional>

using omvara::config::Config;
using omvara::config::ConfigHelper;
using omvara::config::PropertyChangeEvent;
using omvara::config::PropertyChangeListener;
using I = ConfigHelper::Instrument;

namespace {

struct Recorder : PropertyChangeListener
{
    QList<PropertyChangeEvent> events;
    std::function<void()> onChange;
    void propertyChange(const PropertyChangeEvent &event) override
    {
        events << event;
        if (onChange)
            onChange();
    }
};

} // namespace

TEST(Config, noArgumentConstructor_givesTheInitialValues)
{
    const Config c;
    EXPECT_EQ(c.getPort(), "");
    EXPECT_FALSE(c.getPort().isNull());
    EXPECT_TRUE(c.getPrevPort().isNull());
    EXPECT_EQ(c.getInstrument(), nullptr);
    EXPECT_EQ(c.getBitRate(), 0);
    EXPECT_EQ(c.getInputTerminator(), 0);
    EXPECT_EQ(c.getDelay(), "20");
    EXPECT_EQ(&c.getConnect(), &ConfigHelper::Connect::MANUAL);
    EXPECT_EQ(&c.getKeyboardType(), &ConfigHelper::KeyboardType::QUERTY);
    EXPECT_EQ(&c.getRoundingMethod(), &ConfigHelper::RoundingMethod::HALF_UP);
    EXPECT_EQ(&c.getEditOperation(), &ConfigHelper::EditOperation::REMOVE);
    EXPECT_TRUE(c.getMinimizeToTray() && c.getNotifyWhenMinimizedToTray() && c.getCheckForUpdates()
        && c.getAbortAutoStartWhenPrevPortNotAvailable());
    EXPECT_FALSE(c.getIgnoreDuplicates());
    EXPECT_EQ(c.getCustomRegEx(), "");
}

TEST(Config, copyConfig_equalsTheOriginalButLeavesPrevPortBehind)
{
    Config c;
    c.setPort("/dev/pts/3");
    c.setPrevPort("/dev/pts/1");
    c.setInstrument(I::SARTORIUS);
    c.setBitRate(4);
    c.setMathOperand("2.5");
    c.setSound(ConfigHelper::Sound::CLAVES);
    c.setIgnoreDuplicates(true);
    const Config copy = c.copyConfig();
    EXPECT_FALSE(c.hasChanged(copy));
    EXPECT_FALSE(copy.hasChanged(c));
    EXPECT_TRUE(copy.getPrevPort().isNull());
    EXPECT_EQ(copy.getInstrument(), &I::SARTORIUS);
    EXPECT_EQ(copy.getMathOperand(), "2.5");
}

TEST(Config, hasChanged_seesEverySettingButNotPrevPort)
{
    const Config base;
    // One change per row; each must be noticed.
    const std::vector<std::pair<const char *, std::function<void(Config &)>>> changes = {
        { "port", [](Config &c) { c.setPort("COM3"); } },
        { "instrument", [](Config &c) { c.setInstrument(I::GENERIC); } },
        { "bitRate", [](Config &c) { c.setBitRate(7); } },
        { "dataBits", [](Config &c) { c.setDataBits(3); } },
        { "stopBits", [](Config &c) { c.setStopBits(1); } },
        { "parity", [](Config &c) { c.setParity(2); } },
        { "inputTerminator", [](Config &c) { c.setInputTerminator(13); } },
        { "connect", [](Config &c) { c.setConnect(ConfigHelper::Connect::AUTO); } },
        { "keyboardType", [](Config &c) { c.setKeyboardType(ConfigHelper::KeyboardType::AZERTY); } },
        { "delay", [](Config &c) { c.setDelay("21"); } },
        { "decimalSeparator",
            [](Config &c) { c.setDecimalSeparator(ConfigHelper::DecimalSeparator::COMMA); } },
        { "startWith", [](Config &c) { c.setStartWith(ConfigHelper::StartWith::F1); } },
        { "outputTerminator", [](Config &c) { c.setOutputTerminator(ConfigHelper::OutputTerminator::TAB); } },
        { "mathOperation", [](Config &c) { c.setMathOperation(ConfigHelper::MathOperation::DIVIDE); } },
        { "mathOperand", [](Config &c) { c.setMathOperand("2"); } },
        { "decimalPlaces", [](Config &c) { c.setDecimalPlaces("2"); } },
        { "roundingMethod", [](Config &c) { c.setRoundingMethod(ConfigHelper::RoundingMethod::UP); } },
        { "sound", [](Config &c) { c.setSound(ConfigHelper::Sound::COWBELL); } },
        { "minimizeToTray", [](Config &c) { c.setMinimizeToTray(false); } },
        { "notifyWhenMinimizedToTray", [](Config &c) { c.setNotifyWhenMinimizedToTray(false); } },
        { "checkForUpdates", [](Config &c) { c.setCheckForUpdates(false); } },
        { "abortAutoStart", [](Config &c) { c.setAbortAutoStartWhenPrevPortNotAvailable(false); } },
        { "editOperation", [](Config &c) { c.setEditOperation(ConfigHelper::EditOperation::KEEP); } },
        { "editPosition", [](Config &c) { c.setEditPosition(ConfigHelper::EditPosition::LAST); } },
        { "editNumCharacters", [](Config &c) { c.setEditNumCharacters("3"); } },
        { "removeCharacters", [](Config &c) { c.setRemoveCharacters("g"); } },
        { "customRegEx", [](Config &c) { c.setCustomRegEx("(\\d+)"); } },
        { "ignoreDuplicates", [](Config &c) { c.setIgnoreDuplicates(true); } },
        { "ignoreTimeLimit", [](Config &c) { c.setIgnoreTimeLimit("500"); } },
        { "ignoreDifference", [](Config &c) { c.setIgnoreDifference("0.1"); } },
        { "recordFile", [](Config &c) { c.setRecordFile("r.csv"); } },
        { "mqttUrl", [](Config &c) { c.setMqttUrl("mqtt://b/t"); } },
        { "mqttCaFile", [](Config &c) { c.setMqttCaFile("ca.pem"); } },
        { "absent text", [](Config &c) { c.setMathOperand(QString()); } },
    };
    for (const auto &[what, change] : changes) {
        Config other = base.copyConfig();
        change(other);
        EXPECT_TRUE(base.hasChanged(other)) << what;
        EXPECT_TRUE(other.hasChanged(base)) << what;
    }
    Config other = base.copyConfig();
    other.setPrevPort("COM9");
    EXPECT_FALSE(base.hasChanged(other));
    Config absent1 = base.copyConfig(), absent2 = base.copyConfig();
    absent1.setDelay(QString());
    absent2.setDelay(QString());
    EXPECT_FALSE(absent1.hasChanged(absent2));
}

TEST(Config, setInstrument_tellsListenersTheTypeName)
{
    Config c;
    Recorder r;
    c.addPropertyChangeListener(&r);
    c.setInstrument(I::BARCODE_ALPHA);
    c.setInstrument(I::KERN_MPS);
    ASSERT_EQ(r.events.size(), 2);
    EXPECT_EQ(r.events[0].propertyName, "TEXT");
    EXPECT_EQ(r.events[0].oldValue, nullptr);
    EXPECT_EQ(r.events[0].newValue, &I::BARCODE_ALPHA);
    EXPECT_EQ(r.events[1].propertyName, "NUMBER");
    EXPECT_EQ(c.getInstrument(), &I::KERN_MPS);
    c.removePropertyChangeListener(&r);
    c.setInstrument(I::GENERIC);
    EXPECT_EQ(r.events.size(), 2);
}

TEST(Config, listenerRemovingAnotherWhileBeingTold_isSafe)
{
    Config c;
    Recorder first, second;
    first.onChange = [&] { c.removePropertyChangeListener(&second); };
    c.addPropertyChangeListener(&first);
    c.addPropertyChangeListener(&second);
    c.setInstrument(I::GENERIC);
    EXPECT_EQ(first.events.size(), 1);
    EXPECT_EQ(second.events.size(), 0);
}

TEST(Config, copyConfig_doesNotCarryListeners)
{
    Config c;
    Recorder r;
    c.addPropertyChangeListener(&r);
    Config copy = c.copyConfig();
    copy.setInstrument(I::GENERIC);
    EXPECT_TRUE(r.events.isEmpty());
}

TEST(Config, typedViews)
{
    struct Row
    {
        const char *text;
        std::optional<int> places;
        bool rounding;
        int delay;
        int editChars;
    };
    const Row rows[] = {
        { "", std::nullopt, false, 20, 0 },
        { "0", 0, true, 0, 0 },
        { "7", 7, true, 7, 7 },
        { "8", 8, false, 8, 8 },
        { "-1", -1, false, -1, -1 },
        { "abc", std::nullopt, false, 20, 0 },
        { " 3", std::nullopt, false, 20, 0 },
    };
    for (const Row &r : rows) {
        Config c;
        c.setDecimalPlaces(r.text);
        c.setDelay(r.text);
        c.setEditNumCharacters(r.text);
        EXPECT_EQ(c.getDecimalPlacesAsInt(), r.places) << r.text;
        EXPECT_EQ(c.roundingEnabled(), r.rounding) << r.text;
        EXPECT_EQ(c.getDelayAsInt(), r.delay) << r.text;
        EXPECT_EQ(c.getEditNumCharactersAsInt(), r.editChars) << r.text;
    }
    Config c;
    c.setDecimalPlaces(QString());
    EXPECT_FALSE(c.roundingEnabled());
    c.setMathOperand("1e3");
    EXPECT_EQ(c.getMathOperandAsBigDecimal().toPlainText(), "1000");
    c.setMathOperand("2,5");
    EXPECT_THROW(c.getMathOperandAsBigDecimal(), omvara::util::NumberFormatError);
}

TEST(Config, mathOperationEnabled_dividesOnlyWithRounding)
{
    using MO = ConfigHelper::MathOperation;
    struct Row
    {
        const MO *op;
        const char *operand;
        const char *places;
        bool enabled;
    };
    const Row rows[] = {
        { &MO::NONE, "2", "2", false },
        { &MO::MULTIPLY, "", "2", false },
        { &MO::MULTIPLY, "2", "", true },
        { &MO::DIVIDE, "2", "", false },
        { &MO::DIVIDE, "2", "0", true },
        { &MO::DIVIDE, "2", "8", false },
        { &MO::DIVIDE, "", "2", false },
    };
    for (const Row &r : rows) {
        Config c;
        c.setMathOperation(*r.op);
        c.setMathOperand(r.operand);
        c.setDecimalPlaces(r.places);
        EXPECT_EQ(c.mathOperationEnabled(), r.enabled)
            << r.op->name().toStdString() << " '" << r.operand << "' '" << r.places << "'";
    }
}

// The parts of a broker address, which decide where every value goes; and
// the addresses that are none (a password in it would be stored).
TEST(BrokerAddress, parse_givesThePartsOrRefuses)
{
    using omvara::config::BrokerAddress;
    struct Case
    {
        const char *url;
        bool valid;
        bool tls = false;
        const char *user = "";
        const char *host = "";
        int port = 0;
        const char *topic = "";
    };
    const Case cases[] = {
        { "mqtt://broker.lab/site/scale1", true, false, "", "broker.lab", 1883, "site/scale1" },
        { "MQTTS://broker.lab/s", true, true, "", "broker.lab", 8883, "s" },
        { "mqtts://lab%40site@10.0.0.7:9883/a/b/", true, true, "lab@site", "10.0.0.7", 9883, "a/b/" },
        { "mqtt://[fe80::1]:1884/hall 2/scale", true, false, "", "fe80::1", 1884, "hall 2/scale" },
        { "mqtt://broker", false },
        { "mqtt://broker/", false },
        { "mqtt:///topic", false },
        { "mqtt://broker:0/t", false },
        { "mqtt://broker:65536/t", false },
        { "mqtt://broker:/t", false },
        { "mqtt://user:pw@broker/t", false },
        { "mqtt://broker/a/+/b", false },
        { "mqtt://broker/$SYS/x", false },
        { "mqtt://bro ker/t", false },
        { "tcp://broker/t", false },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url);
        const std::optional<BrokerAddress> a = BrokerAddress::parse(QString::fromUtf8(c.url));
        ASSERT_EQ(a.has_value(), c.valid);
        if (!a)
            continue;
        EXPECT_EQ(a->tls, c.tls);
        EXPECT_EQ(a->user, QString::fromUtf8(c.user));
        EXPECT_EQ(a->host, QString::fromUtf8(c.host));
        EXPECT_EQ(a->port, c.port);
        EXPECT_EQ(a->topic, QString::fromUtf8(c.topic));
    }
}

// A stamp that is refused says which token or character is at fault, as
// the settings table reports it (when typed, with --set, and at load).
TEST(Stamp, refusedText_namesWhatIsAtFault)
{
    const struct
    {
        const char *text;
        const char *problem; // empty: valid
    } cases[] = {
        { "", "" },
        { "{date} {time} {date:dd.MM.yy} {time:HH:mm} {seq} {port} {{ }", "" },
        { "#{user}", "unknown token {user}" },
        { "{connection} ", "" },
        { "{connections}", "unknown token {connections}" },
        { "{seq:000}", "unknown token {seq:000}" },
        { "{date:}", "token {date:} without a pattern" },
        { "{date", "\"{\" without \"}\" (write \"{{\" for a \"{\")" },
        { "a\tb", "control character <9>" },
    };
    const omvara::config::Setting *row = omvara::config::findSetting(u"stampAfter");
    ASSERT_NE(row, nullptr);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        const QString text = QString::fromUtf8(c.text);
        EXPECT_EQ(omvara::config::Stamp::problem(text), QString::fromUtf8(c.problem));
        omvara::config::Setting::Refusal refusal;
        EXPECT_EQ(row->check(text, &refusal) == omvara::config::Setting::Reading::Taken, *c.problem == 0);
        EXPECT_EQ(refusal.reason, QString::fromUtf8(c.problem));
    }
}
