// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/util/LocalTime.h"

#include <ctime>

namespace omvara::util {

namespace {

struct Cached
{
    long long second = 0;
    int offset = 0;
    bool known = false;
};

long long secondOf(LocalTime::Instant instant)
{
    return std::chrono::floor<std::chrono::seconds>(instant.time_since_epoch()).count();
}

} // namespace

int LocalTime::offsetFromUtc(Instant instant)
{
    thread_local Cached cached;
    const long long second = secondOf(instant);
    if (!cached.known || cached.second != second) {
        // As the local time of Qt's date and time: the zone as it is now.
        ::tzset();
        const std::time_t t = std::time_t(second);
        std::tm local {};
        cached.offset = ::localtime_r(&t, &local) ? int(local.tm_gmtoff) : 0;
        cached.second = second;
        cached.known = true;
    }
    return cached.offset;
}

QDateTime LocalTime::dateTime(Instant instant)
{
    const auto ms = std::chrono::floor<std::chrono::milliseconds>(instant.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offsetFromUtc(instant));
}

QString LocalTime::clock(Instant instant)
{
    const long long local = secondOf(instant) + offsetFromUtc(instant);
    const long long ofDay = ((local % 86400) + 86400) % 86400;
    const int h = int(ofDay / 3600), m = int(ofDay / 60 % 60), s = int(ofDay % 60);
    const char16_t text[8]
        = { char16_t(u'0' + h / 10), char16_t(u'0' + h % 10), u':', char16_t(u'0' + m / 10),
              char16_t(u'0' + m % 10), u':', char16_t(u'0' + s / 10), char16_t(u'0' + s % 10) };
    return QString(reinterpret_cast<const QChar *>(text), 8);
}

} // namespace omvara::util
