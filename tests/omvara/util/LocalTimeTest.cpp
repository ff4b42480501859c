// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/util/LocalTime.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

using omvara::util::LocalTime;

namespace {

// The process's time zone for one test; the one before comes back after.
class ZoneScope
{
public:
    explicit ZoneScope(const char *zone)
    {
        if (const char *before = std::getenv("TZ"))
            m_before = before;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneScope()
    {
        if (m_before)
            ::setenv("TZ", m_before->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> m_before;
};

LocalTime::Instant at(long long ms)
{
    return LocalTime::Instant(std::chrono::milliseconds(ms));
}

} // namespace

// Instants in order across daylight saving changes (and a zone a half hour
// off): every one gets the offset, wall-clock time and date that Qt's local
// time gives it, also the first millisecond after a change.
TEST(LocalTime, acrossOffsetChanges_sameOffsetDateAndClockAsTheLocalTime)
{
    struct Case
    {
        const char *zone;
        long long change; // ms since the epoch of an offset change (or any instant)
    };
    const Case cases[] = {
        { "Europe/Berlin", 1'774'746'000'000 }, // 2026-03-29 01:00 UTC, +1 -> +2
        { "Europe/Berlin", 1'792'890'000'000 }, // 2026-10-25 01:00 UTC, +2 -> +1
        { "America/New_York", 1'772'953'200'000 }, // 2026-03-08 07:00 UTC, -5 -> -4
        { "Asia/Kolkata", 1'781'000'000'000 }, // +5:30, none
    };
    for (const Case &c : cases) {
        const ZoneScope zone(c.zone);
        for (long long ms : { c.change - 1'000, c.change - 1, c.change, c.change + 1, c.change + 999,
                 c.change + 1'000, c.change + 86'400'000 }) {
            SCOPED_TRACE(std::string(c.zone) + " " + std::to_string(ms));
            const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime);
            EXPECT_EQ(LocalTime::offsetFromUtc(at(ms)), local.offsetFromUtc());
            const QDateTime made = LocalTime::dateTime(at(ms));
            EXPECT_EQ(made.toMSecsSinceEpoch(), ms);
            EXPECT_EQ(made.date(), local.date());
            EXPECT_EQ(made.time(), local.time());
            EXPECT_EQ(LocalTime::clock(at(ms)), local.toString(QStringLiteral("HH:mm:ss")));
        }
    }
}
