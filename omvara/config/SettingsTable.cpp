// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/SettingsTable.h"

#include "omvara/config/CodeSettings.h"
#include "omvara/config/Config.h"
#include "omvara/config/ConfigHelper.h"
#include "omvara/config/Connections.h"
#include "omvara/config/Instrument.h"
#include "omvara/config/OutputSettings.h"
#include "omvara/config/RequestSettings.h"
#include "omvara/config/Stamp.h"

namespace omvara::config {

namespace {

using H = ConfigHelper;
using Kind = Setting::Kind;
using Scope = Setting::Scope;
using Reading = Setting::Reading;
using Context = Setting::Context;
using Refusal = Setting::Refusal;

constexpr Scope Program = Scope::Program;
constexpr Scope Connection = Scope::Connection;

// Texts compare by content; an absent text equals only another absent one.
bool sameText(const QString &a, const QString &b)
{
    return a.isNull() == b.isNull() && a == b;
}

QString switchText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// A text setting without a check (the stable port's device name).
struct AnyText
{
    static QString getDefault() { return QString(); }
    static bool valid(const QString &) { return true; }
};

// How texts compare in Config::hasChanged.
enum class Absent {
    DiffersFromEmpty, // an absent text differs from the empty one
    SameAsEmpty, // only the content counts
};

// ---- Comparison and copy through the accessors.

template <auto Get, auto Put> void copyValue(const Config &from, Config &to)
{
    (to.*Put)((from.*Get)());
}
template <auto Get> bool sameValue(const Config &a, const Config &b)
{
    return (a.*Get)() == (b.*Get)();
}
// Constants are unique objects: the same setting is the same address.
template <auto Get> bool sameConstant(const Config &a, const Config &b)
{
    return &(a.*Get)() == &(b.*Get)();
}
template <auto Get> bool sameTextValue(const Config &a, const Config &b)
{
    return sameText((a.*Get)(), (b.*Get)());
}

// ---- One builder per kind of row.

// A switch: "true" or "false" in any case; any other text reads as absent.
template <bool Default, auto Get, auto Put> Setting switchRow(const char *key, Scope scope)
{
    return { key, Kind::Switch, scope, true, true,
        [](const Config &, const Context &) { return switchText(Default); },
        [](Config &c, const QString &text, const Context &, Refusal *) {
            if (text.compare(u"true", Qt::CaseInsensitive) == 0) {
                (c.*Put)(true);
                return Reading::Taken;
            }
            if (text.compare(u"false", Qt::CaseInsensitive) == 0) {
                (c.*Put)(false);
                return Reading::Taken;
            }
            (c.*Put)(Default);
            return Reading::Ignored;
        },
        [](const Config &c) -> std::optional<QString> { return switchText((c.*Get)()); }, sameValue<Get>,
        copyValue<Get, Put>, nullptr };
}

// A line setting stored by ordinal: digits with an optional sign, else read
// as absent; an ordinal outside the set is replaced by the default, named by
// its value text.
template <typename Set, auto Get, auto Put> Setting ordinalRow(const char *key, Scope scope)
{
    return { key, Kind::ValueSet, scope, true, true,
        [](const Config &, const Context &) { return QString::number(Set::getDefaultIndex()); },
        [](Config &c, const QString &text, const Context &, Refusal *refusal) {
            const std::optional<qint32> n = H::parseInteger(text);
            if (n && Set::valid(*n)) {
                (c.*Put)(*n);
                return Reading::Taken;
            }
            (c.*Put)(Set::getDefaultIndex());
            if (!n)
                return Reading::Ignored;
            refusal->replacement = Set::getValue(Set::getDefaultIndex());
            return Reading::Refused;
        },
        [](const Config &c) -> std::optional<QString> { return QString::number((c.*Get)()); }, sameValue<Get>,
        copyValue<Get, Put>, nullptr };
}

// An integer written as digits with an optional sign; a text of another
// form reads as absent.
template <typename Number, auto Get, auto Put> Setting codeRow(const char *key, Scope scope)
{
    return { key, Kind::Integer, scope, true, true,
        [](const Config &, const Context &) { return QString::number(Number::getDefault()); },
        [](Config &c, const QString &text, const Context &, Refusal *refusal) {
            const std::optional<qint32> n = H::parseInteger(text);
            if (n && Number::valid(*n)) {
                (c.*Put)(*n);
                return Reading::Taken;
            }
            (c.*Put)(Number::getDefault());
            if (!n)
                return Reading::Ignored;
            refusal->replacement = QString::number(Number::getDefault());
            return Reading::Refused;
        },
        [](const Config &c) -> std::optional<QString> { return QString::number((c.*Get)()); }, sameValue<Get>,
        copyValue<Get, Put>, nullptr };
}

// An integer within a range, blanks around it allowed; a text that is no
// integer is refused.
template <typename Number, auto Get, auto Put> Setting integerRow(const char *key, Scope scope)
{
    return { key, Kind::Integer, scope, true, true,
        [](const Config &, const Context &) { return QString::number(Number::getDefault()); },
        [](Config &c, const QString &text, const Context &, Refusal *refusal) {
            bool ok = false;
            const qint64 value = text.trimmed().toLongLong(&ok);
            if (ok && Number::valid(value)) {
                (c.*Put)(int(value));
                return Reading::Taken;
            }
            (c.*Put)(Number::getDefault());
            refusal->replacement = QString::number(Number::getDefault());
            return Reading::Refused;
        },
        [](const Config &c) -> std::optional<QString> { return QString::number((c.*Get)()); }, sameValue<Get>,
        copyValue<Get, Put>, nullptr };
}

// One of a set of constants, stored by name.
template <typename Set, auto Get, auto Put> Setting namedRow(const char *key, Scope scope)
{
    return { key, Kind::ValueSet, scope, true, true,
        [](const Config &, const Context &) { return Set::getDefault().name(); },
        [](Config &c, const QString &text, const Context &, Refusal *refusal) {
            if (Set::valid(text)) {
                (c.*Put)(Set::valueOf(text));
                return Reading::Taken;
            }
            (c.*Put)(Set::getDefault());
            refusal->replacement = Set::getDefault().name();
            return Reading::Refused;
        },
        [](const Config &c) -> std::optional<QString> { return (c.*Get)().name(); }, sameConstant<Get>,
        copyValue<Get, Put>, nullptr };
}

// A free text with its check (Text::valid); the empty text is valid.
template <typename Text, auto Get, auto Put, Absent Compare = Absent::DiffersFromEmpty>
Setting textRow(const char *key, Scope scope)
{
    return { key, Kind::Text, scope, true, true,
        [](const Config &, const Context &) { return Text::getDefault(); },
        [](Config &c, const QString &text, const Context &, Refusal *refusal) {
            if (Text::valid(text)) {
                (c.*Put)(text);
                return Reading::Taken;
            }
            (c.*Put)(Text::getDefault());
            refusal->replacement = Text::getDefault();
            return Reading::Refused;
        },
        [](const Config &c) -> std::optional<QString> { return (c.*Get)(); },
        Compare == Absent::DiffersFromEmpty ? &sameTextValue<Get> : &sameValue<Get>, copyValue<Get, Put>,
        nullptr };
}

// ---- Rows of their own.

// The port. Network addresses and stable USB names are never in the list of
// local ports; without a list they are kept all the same (so that the next
// save does not write an empty port), and any other name is not read.
Setting portRow()
{
    return { "port", Kind::Text, Connection, true, true,
        [](const Config &, const Context &context) {
            return context.portNames && !context.portNames->isEmpty() ? context.portNames->first()
                                                                      : QString();
        },
        [](Config &c, const QString &text, const Context &context, Refusal *) {
            if (context.portNames && context.portNames->isEmpty()
                && !text.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive)
                && !text.startsWith(QLatin1String("rfc2217://"), Qt::CaseInsensitive)
                && !text.startsWith(QLatin1String("/dev/serial/by-")))
                return Reading::Ignored;
            c.setPort(text);
            return Reading::Taken;
        },
        [](const Config &c) -> std::optional<QString> {
            if (c.getPort().isNull())
                return std::nullopt;
            return c.getPort();
        },
        sameTextValue<&Config::getPort>, copyValue<&Config::getPort, &Config::setPort>, nullptr };
}

// The port of the run before: saved as the port of this one, and neither
// compared nor copied.
Setting prevPortRow()
{
    return { "prevPort", Kind::Text, Connection, true, false,
        [](const Config &c, const Context &) { return c.getPort(); },
        [](Config &c, const QString &text, const Context &, Refusal *) {
            c.setPrevPort(text);
            return Reading::Taken;
        },
        [](const Config &c) -> std::optional<QString> {
            if (c.getPort().isNull())
                return std::nullopt;
            return c.getPort();
        },
        nullptr, nullptr, nullptr };
}

// The instrument: none until one is set, saved as the default then.
Setting instrumentRow()
{
    return { "instrument", Kind::ValueSet, Connection, true, true,
        [](const Config &, const Context &) { return H::Instrument::getDefault().name(); },
        [](Config &c, const QString &text, const Context &, Refusal *refusal) {
            if (H::Instrument::valid(text)) {
                c.setInstrument(H::Instrument::valueOf(text));
                return Reading::Taken;
            }
            c.setInstrument(H::Instrument::getDefault());
            refusal->replacement = H::Instrument::getDefault().name();
            return Reading::Refused;
        },
        [](const Config &c) -> std::optional<QString> {
            const H::Instrument *instrument = c.getInstrument();
            return (instrument ? *instrument : H::Instrument::getDefault()).name();
        },
        sameValue<&Config::getInstrument>,
        [](const Config &from, Config &to) { to.setInstrument(from.getInstrument()); }, nullptr };
}

// The ports used last: one text, names joined by ';', newest first.
Setting recentPortsRow()
{
    return { "recentPorts", Kind::Text, Connection, true, true,
        [](const Config &, const Context &) { return QString(); },
        [](Config &c, const QString &text, const Context &, Refusal *) {
            c.setRecentPorts({});
            const QStringList recent = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
            for (auto it = recent.crbegin(); it != recent.crend(); ++it)
                c.rememberPort(it->trimmed());
            return Reading::Taken;
        },
        [](const Config &c) -> std::optional<QString> { return c.getRecentPorts().join(QLatin1Char(';')); },
        sameValue<&Config::getRecentPorts>, copyValue<&Config::getRecentPorts, &Config::setRecentPorts>,
        nullptr };
}

// A user's own pattern: a refused one names the construct and the reason; a
// taken one whose meaning may surprise is noted.
Setting customRegExRow()
{
    Setting row = textRow<H::CustomRegEx, &Config::getCustomRegEx, &Config::setCustomRegEx>(
        "customRegEx", Connection);
    row.read = [](Config &c, const QString &text, const Context &, Refusal *refusal) {
        const QString problem = H::CustomRegEx::problem(text);
        if (problem.isEmpty()) {
            c.setCustomRegEx(text);
            return Reading::Taken;
        }
        c.setCustomRegEx(H::CustomRegEx::getDefault());
        refusal->replacement = H::CustomRegEx::getDefault();
        refusal->reason = problem;
        return Reading::Refused;
    };
    row.note = [](const QString &text) { return H::CustomRegEx::note(text); };
    return row;
}

// A stamp beside the value: a refused one names the token at fault.
template <auto Get, auto Put> Setting stampRow(const char *key)
{
    Setting row = textRow<Stamp, Get, Put, Absent::SameAsEmpty>(key, Connection);
    row.read = [](Config &c, const QString &text, const Context &, Refusal *refusal) {
        const QString problem = Stamp::problem(text);
        if (problem.isEmpty()) {
            (c.*Put)(text);
            return Reading::Taken;
        }
        (c.*Put)(Stamp::getDefault());
        refusal->replacement = Stamp::getDefault();
        refusal->reason = problem;
        return Reading::Refused;
    };
    return row;
}

// How received bytes are read: a name of the list that Qt can decode here;
// a refused one says which it was.
Setting inputEncodingRow()
{
    Setting row = namedRow<InputEncoding, &Config::getInputEncoding, &Config::setInputEncoding>(
        "inputEncoding", Connection);
    row.read = [](Config &c, const QString &text, const Context &, Refusal *refusal) {
        const QString problem = InputEncoding::problem(text);
        if (problem.isEmpty()) {
            c.setInputEncoding(InputEncoding::valueOf(text));
            return Reading::Taken;
        }
        c.setInputEncoding(InputEncoding::getDefault());
        refusal->replacement = InputEncoding::getDefault().name();
        refusal->reason = problem;
        return Reading::Refused;
    };
    return row;
}

// The connection's name. The first connection's is stored only when it is
// not "1", so that an installation with one connection stores what it
// always did; further connections are named by their nodes.
Setting connectionNameRow()
{
    Setting row = textRow<ConnectionName, &Config::getConnectionName, &Config::setConnectionName>(
        ConnectionName::Key, Connection);
    row.settable = false;
    row.write = [](const Config &c) -> std::optional<QString> {
        if (c.getConnectionName() == ConnectionName::getDefault())
            return std::nullopt;
        return c.getConnectionName();
    };
    return row;
}

QList<Setting> makeTable()
{
    using C = Config;
    return {
        portRow(),
        prevPortRow(),
        instrumentRow(),
        ordinalRow<H::BitRates, &C::getBitRate, &C::setBitRate>("bitRate", Connection),
        ordinalRow<H::DataBits, &C::getDataBits, &C::setDataBits>("dataBits", Connection),
        ordinalRow<H::StopBits, &C::getStopBits, &C::setStopBits>("stopBits", Connection),
        ordinalRow<H::Parity, &C::getParity, &C::setParity>("parity", Connection),
        codeRow<H::InputTerminator, &C::getInputTerminator, &C::setInputTerminator>(
            "inputTerminator", Connection),
        namedRow<H::DecimalSeparator, &C::getDecimalSeparator, &C::setDecimalSeparator>(
            "decimalSeparator", Connection),
        namedRow<H::StartWith, &C::getStartWith, &C::setStartWith>("startWith", Connection),
        namedRow<H::OutputTerminator, &C::getOutputTerminator, &C::setOutputTerminator>(
            "outputTerminator", Connection),
        namedRow<H::Connect, &C::getConnect, &C::setConnect>("connect", Connection),
        textRow<H::MathOperand, &C::getMathOperand, &C::setMathOperand>("mathOperand", Connection),
        namedRow<H::MathOperation, &C::getMathOperation, &C::setMathOperation>("mathOperation", Connection),
        textRow<H::DecimalPlaces, &C::getDecimalPlaces, &C::setDecimalPlaces>("decimalPlaces", Connection),
        namedRow<H::RoundingMethod, &C::getRoundingMethod, &C::setRoundingMethod>(
            "roundingMethod", Connection),
        namedRow<H::Sound, &C::getSound, &C::setSound>("sound", Program),
        namedRow<H::KeyboardType, &C::getKeyboardType, &C::setKeyboardType>("keyboardType", Program),
        textRow<H::Delay, &C::getDelay, &C::setDelay>("delay", Program),
        switchRow<false, &C::getMinimizeToTray, &C::setMinimizeToTray>("minimizeToTray", Program),
        switchRow<false, &C::getNotifyWhenMinimizedToTray, &C::setNotifyWhenMinimizedToTray>(
            "notifyWhenMinimizedToTray", Program),
        switchRow<true, &C::getCheckForUpdates, &C::setCheckForUpdates>("checkForUpdates", Program),
        switchRow<false, &C::getAbortAutoStartWhenPrevPortNotAvailable,
            &C::setAbortAutoStartWhenPrevPortNotAvailable>(
            "abortAutoStartWhenPrevPortNotAvailable", Connection),
        switchRow<false, &C::getIgnoreDuplicates, &C::setIgnoreDuplicates>("ignoreDuplicates", Connection),
        namedRow<H::EditOperation, &C::getEditOperation, &C::setEditOperation>("editOperation", Connection),
        namedRow<H::EditPosition, &C::getEditPosition, &C::setEditPosition>("editPosition", Connection),
        textRow<H::EditNumCharacters, &C::getEditNumCharacters, &C::setEditNumCharacters>(
            "editNumCharacters", Connection),
        textRow<H::RemoveCharacters, &C::getRemoveCharacters, &C::setRemoveCharacters>(
            "removeCharacters", Connection),
        textRow<H::IgnoreTimeLimit, &C::getIgnoreTimeLimit, &C::setIgnoreTimeLimit>(
            "ignoreTimeLimit", Connection),
        textRow<H::IgnoreDifference, &C::getIgnoreDifference, &C::setIgnoreDifference>(
            "ignoreDifference", Connection),
        customRegExRow(),
        // Ports beyond one cable.
        switchRow<false, &C::getReconnect, &C::setReconnect>("reconnect", Connection),
        recentPortsRow(),
        textRow<AnyText, &C::getPortDevice, &C::setPortDevice, Absent::SameAsEmpty>("portDevice", Connection),
        // Readings on request, and settled readings.
        textRow<RequestCommand, &C::getRequestCommand, &C::setRequestCommand, Absent::SameAsEmpty>(
            "requestCommand", Connection),
        integerRow<RequestInterval, &C::getRequestInterval, &C::setRequestInterval>(
            "requestInterval", Connection),
        textRow<RequestHotkey, &C::getRequestHotkey, &C::setRequestHotkey, Absent::SameAsEmpty>(
            "requestHotkey", Connection),
        integerRow<StableReadings, &C::getStableReadings, &C::setStableReadings>(
            "stableReadings", Connection),
        // Record file and broker (the broker's password is never stored).
        textRow<RecordFile, &C::getRecordFile, &C::setRecordFile>("recordFile", Program),
        textRow<MqttUrl, &C::getMqttUrl, &C::setMqttUrl>("mqttUrl", Program),
        textRow<MqttCaFile, &C::getMqttCaFile, &C::setMqttCaFile>("mqttCaFile", Program),
        // Stamps beside the value.
        stampRow<&C::getStampBefore, &C::setStampBefore>("stampBefore"),
        stampRow<&C::getStampAfter, &C::setStampAfter>("stampAfter"),
        // Codes: every character, encodings, control characters.
        switchRow<false, &C::getTypeEveryCharacter, &C::setTypeEveryCharacter>(
            "typeEveryCharacter", Connection),
        inputEncodingRow(),
        namedRow<ControlCharacters, &C::getControlCharacters, &C::setControlCharacters>(
            "controlCharacters", Connection),
        namedRow<ControlKey, &C::getControlKey, &C::setControlKey>("controlKey", Connection),
        textRow<ControlText, &C::getControlText, &C::setControlText>("controlText", Connection),
        switchRow<false, &C::getRemoveSymbologyId, &C::setRemoveSymbologyId>("removeSymbologyId", Connection),
        connectionNameRow(),
    };
}

} // namespace

Setting::Reading Setting::check(const QString &text, Refusal *refusal) const
{
    Config scratch;
    Refusal unused;
    return read(scratch, text, Context {}, refusal ? refusal : &unused);
}

const QList<Setting> &settingsTable()
{
    static const QList<Setting> table = makeTable();
    return table;
}

const Setting *findSetting(QStringView key)
{
    for (const Setting &s : settingsTable())
        if (QLatin1String(s.key) == key)
            return &s;
    return nullptr;
}

} // namespace omvara::config
