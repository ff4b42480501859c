// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/Config.h"

#include <utility>

namespace omvara::config {

namespace {

// Texts compare by content; an absent text equals only another absent one.
bool sameText(const QString &a, const QString &b)
{
    return a.isNull() == b.isNull() && a == b;
}

} // namespace

Config::Config()
    : port(QStringLiteral(""))
    , connect(&Connect::getDefault())
    , keyboardType(&KeyboardType::getDefault())
    , delay(ConfigHelper::Delay::getDefault())
    , decimalSeparator(&DecimalSeparator::getDefault())
    , startWith(&StartWith::getDefault())
    , outputTerminator(&OutputTerminator::getDefault())
    , mathOperation(&MathOperation::getDefault())
    , mathOperand(QStringLiteral(""))
    , decimalPlaces(QStringLiteral(""))
    , roundingMethod(&RoundingMethod::getDefault())
    , sound(&Sound::getDefault())
    , editOperation(&EditOperation::getDefault())
    , editPosition(&EditPosition::getDefault())
    , editNumCharacters(QStringLiteral(""))
    , removeCharacters(QStringLiteral(""))
    , customRegEx(QStringLiteral(""))
    , ignoreTimeLimit(QStringLiteral(""))
    , ignoreDifference(QStringLiteral(""))
    , recordFile(QStringLiteral(""))
    , mqttUrl(QStringLiteral(""))
    , mqttCaFile(QStringLiteral(""))
{
}

Config::Config(QString port, const Instrument *instrument, int bitRate, int dataBits, int stopBits,
    int parity, int inputTerminator, const Connect &connect, const KeyboardType &keyboardType, QString delay,
    const DecimalSeparator &decimalSeparator, const StartWith &startWith,
    const OutputTerminator &outputTerminator, const MathOperation &mathOperation, QString mathOperand,
    QString decimalPlaces, const RoundingMethod &roundingMethod, const Sound &sound, bool minimizeToTray,
    bool notifyWhenMinimizedToTray, bool checkForUpdates, bool abortAutoStartWhenPrevPortNotAvailable,
    const EditOperation &editOperation, const EditPosition &editPosition, QString editNumCharacters,
    QString removeCharacters, QString customRegEx, bool ignoreDuplicates, QString ignoreTimeLimit,
    QString ignoreDifference)
    : minimizeToTray(minimizeToTray)
    , notifyWhenMinimizedToTray(notifyWhenMinimizedToTray)
    , checkForUpdates(checkForUpdates)
    , abortAutoStartWhenPrevPortNotAvailable(abortAutoStartWhenPrevPortNotAvailable)
    , ignoreDuplicates(ignoreDuplicates)
    , port(std::move(port))
    , instrument(instrument)
    , bitRate(bitRate)
    , dataBits(dataBits)
    , stopBits(stopBits)
    , parity(parity)
    , inputTerminator(inputTerminator)
    , connect(&connect)
    , keyboardType(&keyboardType)
    , delay(std::move(delay))
    , decimalSeparator(&decimalSeparator)
    , startWith(&startWith)
    , outputTerminator(&outputTerminator)
    , mathOperation(&mathOperation)
    , mathOperand(std::move(mathOperand))
    , decimalPlaces(std::move(decimalPlaces))
    , roundingMethod(&roundingMethod)
    , sound(&sound)
    , editOperation(&editOperation)
    , editPosition(&editPosition)
    , editNumCharacters(std::move(editNumCharacters))
    , removeCharacters(std::move(removeCharacters))
    , customRegEx(std::move(customRegEx))
    , ignoreTimeLimit(std::move(ignoreTimeLimit))
    , ignoreDifference(std::move(ignoreDifference))
    , recordFile(QStringLiteral(""))
    , mqttUrl(QStringLiteral(""))
    , mqttCaFile(QStringLiteral(""))
{
}

Config Config::copyConfig() const
{
    Config copy(port, instrument, bitRate, dataBits, stopBits, parity, inputTerminator, *connect,
        *keyboardType, delay, *decimalSeparator, *startWith, *outputTerminator, *mathOperation, mathOperand,
        decimalPlaces, *roundingMethod, *sound, minimizeToTray, notifyWhenMinimizedToTray, checkForUpdates,
        abortAutoStartWhenPrevPortNotAvailable, *editOperation, *editPosition, editNumCharacters,
        removeCharacters, customRegEx, ignoreDuplicates, ignoreTimeLimit, ignoreDifference);
    copy.reconnect = reconnect;
    copy.recentPorts = recentPorts;
    copy.portDevice = portDevice;
    // Record file and broker.
    copy.recordFile = recordFile;
    copy.mqttUrl = mqttUrl;
    copy.mqttCaFile = mqttCaFile;
    // Readings on request, and settled readings.
    copy.requestCommand = requestCommand;
    copy.requestInterval = requestInterval;
    copy.requestHotkey = requestHotkey;
    copy.stableReadings = stableReadings;
    return copy;
}

void Config::rememberPort(const QString &name)
{
    if (name.isEmpty())
        return;
    recentPorts.removeAll(name);
    recentPorts.prepend(name);
    while (recentPorts.size() > kRecentPortsMax)
        recentPorts.removeLast();
}

bool Config::hasChanged(const Config &o) const
{
    return !sameText(port, o.port) || instrument != o.instrument || bitRate != o.bitRate
        || dataBits != o.dataBits || stopBits != o.stopBits || parity != o.parity
        || inputTerminator != o.inputTerminator || connect != o.connect || keyboardType != o.keyboardType
        || !sameText(delay, o.delay) || decimalSeparator != o.decimalSeparator || startWith != o.startWith
        || outputTerminator != o.outputTerminator || mathOperation != o.mathOperation
        || !sameText(mathOperand, o.mathOperand) || !sameText(decimalPlaces, o.decimalPlaces)
        || roundingMethod != o.roundingMethod || sound != o.sound || minimizeToTray != o.minimizeToTray
        || notifyWhenMinimizedToTray != o.notifyWhenMinimizedToTray || checkForUpdates != o.checkForUpdates
        || abortAutoStartWhenPrevPortNotAvailable != o.abortAutoStartWhenPrevPortNotAvailable
        || editOperation != o.editOperation || editPosition != o.editPosition
        || !sameText(editNumCharacters, o.editNumCharacters)
        || !sameText(removeCharacters, o.removeCharacters) || !sameText(customRegEx, o.customRegEx)
        || ignoreDuplicates != o.ignoreDuplicates || !sameText(ignoreTimeLimit, o.ignoreTimeLimit)
        || !sameText(ignoreDifference, o.ignoreDifference) || reconnect != o.reconnect
        || recentPorts != o.recentPorts
        || portDevice != o.portDevice
        // Record file and broker.
        || !sameText(recordFile, o.recordFile) || !sameText(mqttUrl, o.mqttUrl)
        || !sameText(mqttCaFile, o.mqttCaFile) || requestsChanged(o);
}

bool Config::requestsChanged(const Config &o) const
{
    return requestCommand != o.requestCommand || requestInterval != o.requestInterval
        || requestHotkey != o.requestHotkey || stableReadings != o.stableReadings;
}

void Config::setInstrument(const Instrument *value)
{
    instrument = value;
    if (!value)
        return;
    const PropertyChangeEvent event { value->getInstrumentType().name(), nullptr, value };
    // A listener may remove itself while being told.
    const QList<PropertyChangeListener *> current = listeners;
    for (PropertyChangeListener *l : current)
        if (listeners.contains(l))
            l->propertyChange(event);
}

void Config::addPropertyChangeListener(PropertyChangeListener *listener)
{
    if (listener)
        listeners.append(listener);
}

void Config::removePropertyChangeListener(PropertyChangeListener *listener)
{
    listeners.removeOne(listener);
}

std::optional<int> Config::getDecimalPlacesAsInt() const
{
    return ConfigHelper::parseInteger(decimalPlaces);
}

int Config::getDelayAsInt() const
{
    return ConfigHelper::parseInteger(delay).value_or(20);
}

int Config::getEditNumCharactersAsInt() const
{
    return ConfigHelper::parseInteger(editNumCharacters).value_or(0);
}

util::Decimal Config::getMathOperandAsBigDecimal() const
{
    return util::Decimal::parse(mathOperand);
}

bool Config::roundingEnabled() const
{
    const std::optional<int> places = getDecimalPlacesAsInt();
    return places && *places >= 0 && *places <= 7;
}

bool Config::mathOperationEnabled() const
{
    if (!mathOperation || mathOperation == &MathOperation::NONE || mathOperand.isEmpty())
        return false;
    if (mathOperation == &MathOperation::MULTIPLY)
        return true;
    return roundingEnabled();
}

} // namespace omvara::config
