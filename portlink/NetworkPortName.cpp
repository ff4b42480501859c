// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/NetworkPortName.h"

namespace portlink {

namespace {

const QLatin1String kTcp("tcp://");
const QLatin1String kRfc2217("rfc2217://");

} // namespace

bool NetworkPortName::isNetworkName(const QString &name)
{
    return name.startsWith(kTcp, Qt::CaseInsensitive) || name.startsWith(kRfc2217, Qt::CaseInsensitive);
}

bool NetworkPortName::hostValid() const
{
    if (host.isEmpty())
        return false;
    const bool ipv6 = host.contains(QLatin1Char(':'));
    bool zone = false;
    for (const QChar c : host) {
        const bool ascii = c.unicode() < 128;
        if (ascii && (c.isLetterOrNumber() || c == u'.'))
            continue;
        if (!ipv6 && ascii && (c == u'-' || c == u'_'))
            continue;
        if (ipv6 && c == u':' && !zone)
            continue;
        if (ipv6 && c == u'%' && !zone) {
            zone = true; // an interface name follows: letters, digits, '.', and what names may hold
            continue;
        }
        if (zone && ascii && (c == u'-' || c == u'_'))
            continue;
        return false;
    }
    return true;
}

NetworkPortName NetworkPortName::parse(const QString &name)
{
    NetworkPortName result;
    QString rest;
    if (name.startsWith(kTcp, Qt::CaseInsensitive)) {
        result.kind = Kind::Tcp;
        rest = name.mid(kTcp.size());
    } else if (name.startsWith(kRfc2217, Qt::CaseInsensitive)) {
        result.kind = Kind::Rfc2217;
        rest = name.mid(kRfc2217.size());
    } else {
        return result;
    }
    if (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);
    const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return result;
    QString host = rest.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        return result; // an IPv6 address needs its brackets
    bool ok = false;
    const int port = rest.mid(colon + 1).toInt(&ok);
    if (!ok || host.isEmpty() || host.contains(QLatin1Char('/')))
        return result;
    result.host = host;
    result.port = port;
    return result;
}

} // namespace portlink
