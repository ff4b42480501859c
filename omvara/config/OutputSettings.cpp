// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/OutputSettings.h"

#include <QUrl>

namespace omvara::config {

namespace {

bool hasControlCharacters(const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    return false;
}

bool isHostNameCharacter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-'
        || c == u'.' || c == u'_';
}

bool isIpv6Character(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F') || c == u':'
        || c == u'.';
}

// "65535" and below, without sign or blanks.
std::optional<int> parsePort(const QString &text)
{
    if (text.isEmpty() || text.size() > 5)
        return std::nullopt;
    int port = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        port = port * 10 + (c.unicode() - u'0');
    }
    if (port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

} // namespace

bool RecordFile::valid(const QString &text)
{
    if (text.isEmpty())
        return true;
    if (text.size() > MaxLength || hasControlCharacters(text) || text.endsWith(u'/'))
        return false;
    QString rest = text;
    rest.remove(QStringLiteral("{date}")).remove(QStringLiteral("{user}"));
    return !rest.contains(u'{') && !rest.contains(u'}');
}

bool MqttCaFile::valid(const QString &text)
{
    return text.isEmpty() || (text.size() <= RecordFile::MaxLength && !hasControlCharacters(text));
}

QString BrokerAddress::display() const
{
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    return (tls ? QStringLiteral("mqtts://") : QStringLiteral("mqtt://")) + shownHost + u':'
        + QString::number(port) + u'/' + topic;
}

std::optional<BrokerAddress> BrokerAddress::parse(const QString &url)
{
    if (url.size() > RecordFile::MaxLength)
        return std::nullopt;
    BrokerAddress address;
    QString rest;
    if (url.startsWith(QLatin1String("mqtt://"), Qt::CaseInsensitive)) {
        rest = url.mid(7);
    } else if (url.startsWith(QLatin1String("mqtts://"), Qt::CaseInsensitive)) {
        address.tls = true;
        rest = url.mid(8);
    } else {
        return std::nullopt;
    }
    address.port = address.tls ? DefaultTlsPort : DefaultPort;

    const qsizetype slash = rest.indexOf(u'/');
    if (slash < 0)
        return std::nullopt;
    QString authority = rest.left(slash);
    address.topic = rest.mid(slash + 1);
    if (address.topic.isEmpty() || address.topic.contains(u'+') || address.topic.contains(u'#')
        || address.topic.startsWith(u'$') || hasControlCharacters(address.topic))
        return std::nullopt;

    const qsizetype at = authority.lastIndexOf(u'@');
    if (at >= 0) {
        const QString user = authority.left(at);
        // "user:password@" would put the password into the stored settings.
        if (user.isEmpty() || user.contains(u':'))
            return std::nullopt;
        address.user = QUrl::fromPercentEncoding(user.toUtf8());
        if (address.user.isEmpty() || hasControlCharacters(address.user))
            return std::nullopt;
        authority = authority.mid(at + 1);
    }

    QString portText;
    if (authority.startsWith(u'[')) {
        const qsizetype close = authority.indexOf(u']');
        if (close < 0)
            return std::nullopt;
        address.host = authority.mid(1, close - 1);
        const QString after = authority.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(u':'))
                return std::nullopt;
            portText = after.mid(1);
            if (portText.isEmpty())
                return std::nullopt;
        }
        if (address.host.isEmpty() || !address.host.contains(u':'))
            return std::nullopt;
        for (const QChar c : address.host)
            if (!isIpv6Character(c))
                return std::nullopt;
    } else {
        const qsizetype colon = authority.indexOf(u':');
        address.host = colon < 0 ? authority : authority.left(colon);
        if (colon >= 0) {
            portText = authority.mid(colon + 1);
            if (portText.isEmpty())
                return std::nullopt;
        }
        if (address.host.isEmpty() || address.host.size() > 253)
            return std::nullopt;
        for (const QChar c : address.host)
            if (!isHostNameCharacter(c))
                return std::nullopt;
    }
    if (!portText.isEmpty()) {
        const std::optional<int> port = parsePort(portText);
        if (!port)
            return std::nullopt;
        address.port = *port;
    }
    return address;
}

} // namespace omvara::config
