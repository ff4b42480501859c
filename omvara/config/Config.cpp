// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/Config.h"

#include "omvara/config/SettingsTable.h"

namespace omvara::config {

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
    , stampBefore(QStringLiteral(""))
    , stampAfter(QStringLiteral(""))
    , connectionName(QStringLiteral("1"))
{
}

Config Config::copyConfig() const
{
    Config copy;
    for (const Setting &s : settingsTable())
        if (s.copy)
            s.copy(*this, copy);
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

bool Config::hasChanged(const Config &other) const
{
    for (const Setting &s : settingsTable())
        if (s.same && !s.same(*this, other))
            return true;
    return false;
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
