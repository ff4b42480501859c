// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/CommandLine.h"

#include <gtest/gtest.h>

namespace {

struct PortCase
{
    const char *name;
    QStringList arguments;
    QString port;
};

void PrintTo(const PortCase &c, std::ostream *os) { *os << c.name; }

class PortArgument : public ::testing::TestWithParam<PortCase>
{
};

TEST_P(PortArgument, IsTheFirstArgumentThatIsNoOption)
{
    const PortCase &c = GetParam();
    EXPECT_EQ(omvara::CommandLine::portArgument(c.arguments), c.port) << c.name;
}

QStringList args(std::initializer_list<const char *> list)
{
    QStringList result;
    for (const char *a : list)
        result.append(QString::fromUtf8(a));
    return result;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, PortArgument,
    ::testing::Values(PortCase{"nothing", {}, QString()},
                      PortCase{"port only", args({"COM7"}), QStringLiteral("COM7")},
                      PortCase{"further arguments ignored", args({"/dev/ttyUSB0", "COM3"}),
                               QStringLiteral("/dev/ttyUSB0")},
                      PortCase{"option with separate value", args({"--prefs-file", "/tmp/p.txt", "COM3"}),
                               QStringLiteral("COM3")},
                      PortCase{"option with = value", args({"--prefs-file=/tmp/p.txt", "COM3"}),
                               QStringLiteral("COM3")},
                      PortCase{"keyboard option then port", args({"--keyboard", "x11", "/dev/pts/4"}),
                               QStringLiteral("/dev/pts/4")},
                      PortCase{"flag options only", args({"--headless", "--verbose"}), QString()},
                      PortCase{"value of the last option is no port", args({"--prefs-file", "COM3"}), QString()},
                      PortCase{"empty first argument is no port", args({"", "COM3"}), QString()},
                      PortCase{"after -- even a dash name", args({"--", "-odd"}), QStringLiteral("-odd")},
                      PortCase{"single dash is a name", args({"-"}), QStringLiteral("-")}));

} // namespace
