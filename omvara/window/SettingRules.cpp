// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/SettingRules.h"

#include "omvara/config/ConfigHelper.h"
#include "omvara/config/OutputSettings.h"
#include "omvara/config/Stamp.h"

namespace omvara::SettingRules {

using Helper = config::ConfigHelper;

namespace {
std::optional<QString> acceptIf(bool valid, const QString &text)
{
    if (!valid)
        return std::nullopt;
    return text;
}
} // namespace

std::optional<QString> acceptMathOperand(const QString &typed)
{
    QString text = typed;
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    return acceptIf(Helper::MathOperand::valid(text), text);
}

std::optional<QString> acceptDecimalPlaces(const QString &typed)
{
    return acceptIf(Helper::DecimalPlaces::valid(typed), typed);
}

std::optional<QString> acceptEditNumCharacters(const QString &typed)
{
    return acceptIf(Helper::EditNumCharacters::valid(typed), typed);
}

std::optional<QString> acceptRemoveCharacters(const QString &typed)
{
    return acceptIf(Helper::RemoveCharacters::valid(typed), typed);
}

std::optional<QString> acceptDelay(const QString &typed)
{
    return acceptIf(Helper::Delay::valid(typed), typed);
}

std::optional<int> parseInputTerminator(const QString &typed)
{
    const std::optional<qint32> code = Helper::parseInteger(typed);
    if (!code || !Helper::InputTerminator::valid(*code))
        return std::nullopt;
    return *code;
}

std::optional<std::pair<QString, QString>> acceptIgnoreLimits(
    const QString &timeLimit, const QString &difference)
{
    QString diff = difference;
    diff.replace(QLatin1Char(','), QLatin1Char('.'));
    if (!Helper::IgnoreTimeLimit::valid(timeLimit) || !Helper::IgnoreDifference::valid(diff))
        return std::nullopt;
    return std::make_pair(timeLimit, diff);
}

std::optional<QString> acceptRecordFile(const QString &typed)
{
    const QString text = typed.trimmed();
    return acceptIf(config::RecordFile::valid(text), text);
}

std::optional<QString> acceptMqttUrl(const QString &typed)
{
    const QString text = typed.trimmed();
    return acceptIf(config::MqttUrl::valid(text), text);
}

std::optional<QString> acceptStamp(const QString &typed)
{
    return acceptIf(config::Stamp::valid(typed), typed);
}

QString stampProblem(const QString &typed)
{
    return config::Stamp::problem(typed);
}

std::optional<QString> acceptMqttCaFile(const QString &typed)
{
    const QString text = typed.trimmed();
    return acceptIf(config::MqttCaFile::valid(text), text);
}

} // namespace omvara::SettingRules
