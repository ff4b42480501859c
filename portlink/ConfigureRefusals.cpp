// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/ConfigureRefusals.h"

#include "portlink/SerialConfig.h"

namespace portlink::configure_refusal {

namespace {

QString refused(const SerialConfig &config, const QString &what)
{
    return QStringLiteral(
        "The driver of %1 refused %2 (it kept another value): choose line settings that the "
        "port supports and set the instrument to the same, or connect the instrument through "
        "an adapter that supports them")
        .arg(config.getPortNameString(), what);
}

} // namespace

QString hint(int rc, const SerialConfig &config)
{
    switch (rc) {
    case BitRate: {
        const int code = config.getBitRate();
        const int rate
            = code > 30 || code < 0 || code >= static_cast<int>(SerialConfig::bitRateNumbers.size())
            ? code
            : SerialConfig::bitRateNumbers[static_cast<size_t>(code)];
        return refused(config, QStringLiteral("the bit rate %1").arg(rate));
    }
    case DataBits:
        return refused(config, QStringLiteral("%1 data bits").arg(config.getDataBits() + 5));
    case Parity: {
        const int parity = config.getParity();
        const QString name = parity >= 0 && parity < static_cast<int>(SerialConfig::parityNames.size())
            ? SerialConfig::parityNames[static_cast<size_t>(parity)].toLower()
            : QString::number(parity);
        return refused(config, QStringLiteral("%1 parity").arg(name));
    }
    case StopBits:
        return refused(config,
            config.getStopBits() == SerialConfig::ST_2BITS ? QStringLiteral("2 stop bits")
                                                           : QStringLiteral("1 stop bit"));
    case Handshake:
        return refused(config, QStringLiteral("the handshake (flow control)"));
    default:
        return QString();
    }
}

} // namespace portlink::configure_refusal
