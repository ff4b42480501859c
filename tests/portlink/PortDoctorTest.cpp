// SPDX-License-Identifier: GPL-3.0-or-later
// The port diagnosis on fixture trees of /sys, /dev, /proc, /run and the
// udev rule folders, one per trouble users meet.
#include "portlink/doctor/PortDoctor.h"

#include "DoctorFixture.h"
#include "QtPrinters.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <map>

using namespace portlink::doctor;
using doctor_test::FixtureSystem;

namespace {

QStringList kinds(const Diagnosis &d)
{
    QStringList k;
    for (const Finding &f : d.findings)
        k.append(severityName(f.severity) + QLatin1Char(' ') + f.kind);
    return k;
}

const QByteArray brlttyRules
    = "# Braille displays on USB\n"
      "ENV{PRODUCT}==\"403/6001/*\", ENV{BRLTTY_BRAILLE_DRIVER}=\"hw\", GOTO=\"brltty_usb_run\"\n"
      "ENV{PRODUCT}==\"1a86/7523/*\", ENV{BRLTTY_BRAILLE_DRIVER}=\"bm\", GOTO=\"brltty_usb_run\"\n"
      "LABEL=\"brltty_usb_run\"\n";

} // namespace

TEST(PortDoctorTest, eachTroubleIsFoundWithItsFix)
{
    struct Case
    {
        const char *name;
        QString port;
        std::function<void(FixtureSystem &)> arrange;
        QStringList expected; // severity and kind of each finding, in order
        QString mark;
        QString inFix; // a line the fix must hold
        QString inText = {}; // words the findings must say
    };
    const Case cases[] = {
        { "CH340 claimed by brltty, vanishing", QStringLiteral("/dev/ttyUSB0"),
            [](FixtureSystem &s) {
                s.adapter(QStringLiteral("ttyUSB0"), QStringLiteral("1a86"), QStringLiteral("7523"),
                    QStringLiteral("ch341-uart"));
                s.file(QStringLiteral("/usr/bin/brltty"));
                s.file(QStringLiteral("/usr/bin/apt-get"));
                s.file(QStringLiteral("/usr/lib/udev/rules.d/85-brltty.rules"), brlttyRules);
                s.process(321, QStringLiteral("brltty"));
                s.onWait = [&s] { s.remove(QStringLiteral("/dev/ttyUSB0")); };
            },
            { "Problem brltty" }, QStringLiteral("taken by brltty"),
            QStringLiteral("sudo sed -i 3d /etc/udev/rules.d/85-brltty.rules"),
            QStringLiteral("/dev/ttyUSB0 disappeared during a wait") },
        { "brltty's rule overridden without the adapter", QStringLiteral("/dev/ttyUSB0"),
            [](FixtureSystem &s) {
                s.adapter(QStringLiteral("ttyUSB0"), QStringLiteral("1a86"), QStringLiteral("7523"),
                    QStringLiteral("ch341-uart"));
                s.file(QStringLiteral("/usr/bin/brltty"));
                s.file(QStringLiteral("/usr/lib/udev/rules.d/85-brltty.rules"), brlttyRules);
                s.file(QStringLiteral("/etc/udev/rules.d/85-brltty.rules"), "LABEL=\"brltty_usb_run\"\n");
            },
            {}, QString(), QString() },
        { "FT232 with ModemManager running", QStringLiteral("ttyUSB0"),
            [](FixtureSystem &s) {
                s.adapter(QStringLiteral("ttyUSB0"), QStringLiteral("0403"), QStringLiteral("6001"),
                    QStringLiteral("ftdi_sio"));
                s.process(400, QStringLiteral("ModemManager"));
                s.file(QStringLiteral("/run/udev/data/c188:0"), "I:123\nE:ID_VENDOR=FTDI\n");
            },
            { "Warning modemmanager" }, QStringLiteral("probed by ModemManager"),
            QStringLiteral("sudo udevadm trigger --subsystem-match=tty") },
        { "FT232 that ModemManager is told to ignore", QStringLiteral("/dev/ttyUSB0"),
            [](FixtureSystem &s) {
                s.adapter(QStringLiteral("ttyUSB0"), QStringLiteral("0403"), QStringLiteral("6001"),
                    QStringLiteral("ftdi_sio"));
                s.process(400, QStringLiteral("ModemManager"));
                s.file(QStringLiteral("/run/udev/data/c188:0"), "I:123\nE:ID_MM_DEVICE_IGNORE=1\n");
            },
            { "Note modemmanager" }, QString(), QString() },
        { "user not in dialout", QStringLiteral("/dev/ttyUSB0"),
            [](FixtureSystem &s) {
                s.adapter(QStringLiteral("ttyUSB0"), QStringLiteral("10c4"), QStringLiteral("ea60"),
                    QStringLiteral("cp210x"));
                s.allowed = false;
                s.me.databaseGroups = { 1000 };
                s.me.sessionGroups = { 1000 };
            },
            { "Problem permission" }, QStringLiteral("no permission"),
            QStringLiteral("sudo usermod -aG dialout alice") },
        { "user added but not logged in again", QStringLiteral("/dev/ttyUSB0"),
            [](FixtureSystem &s) {
                s.adapter(QStringLiteral("ttyUSB0"), QStringLiteral("10c4"), QStringLiteral("ea60"),
                    QStringLiteral("cp210x"));
                s.allowed = false;
                s.me.sessionGroups = { 1000 };
            },
            { "Problem relogin" }, QStringLiteral("log out and in again"),
            QStringLiteral("For one terminal only: newgrp dialout") },
        { "a holder process", QStringLiteral("/dev/serial/by-id/usb-Maker_USB_Serial-if00-port0"),
            [](FixtureSystem &s) {
                s.adapter(QStringLiteral("ttyUSB0"), QStringLiteral("10c4"), QStringLiteral("ea60"),
                    QStringLiteral("cp210x"));
                s.process(4242, QStringLiteral("minicom"));
                s.link(QStringLiteral("/proc/4242/fd/3"), QStringLiteral("/dev/ttyUSB0"));
            },
            { "Problem holder" }, QStringLiteral("held by minicom (pid 4242)"), QStringLiteral("kill 4242") },
        { "a by-id link to nothing", QStringLiteral("/dev/serial/by-id/usb-FTDI_Gone-if00-port0"),
            [](FixtureSystem &s) {
                s.link(QStringLiteral("/dev/serial/by-id/usb-FTDI_Gone-if00-port0"),
                    QStringLiteral("../../ttyUSB1"));
            },
            { "Problem dangling" }, QStringLiteral("not connected"),
            QStringLiteral("ls -l /dev/serial/by-id/") },
        { "a clean adapter", QStringLiteral("/dev/ttyUSB0"),
            [](FixtureSystem &s) {
                s.adapter(QStringLiteral("ttyUSB0"), QStringLiteral("0403"), QStringLiteral("6001"),
                    QStringLiteral("ftdi_sio"));
                s.process(77, QStringLiteral("bash"));
                s.link(QStringLiteral("/proc/77/fd/0"), QStringLiteral("/dev/pts/0"));
            },
            {}, QString(), QString() },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir root;
        FixtureSystem system(root.path());
        c.arrange(system);
        const Diagnosis d = diagnosePort(c.port, system);
        EXPECT_EQ(kinds(d), c.expected) << describe(d).toStdString();
        EXPECT_EQ(d.standsInTheWay(), std::any_of(c.expected.begin(), c.expected.end(), [](const QString &k) {
            return !k.startsWith("Note");
        }));
        EXPECT_EQ(d.mark(), c.mark);
        if (!c.inText.isEmpty()) {
            EXPECT_TRUE(describe(d).contains(c.inText)) << describe(d).toStdString();
        }
        if (!c.inFix.isEmpty()) {
            QStringList fix;
            for (const Finding &f : d.findings)
                fix += f.fix;
            EXPECT_TRUE(fix.contains(c.inFix)) << fix.join('\n').toStdString();
        }
    }
}

TEST(PortDoctorTest, adapterDetails_andTheRulesOfferedForConsent)
{
    QTemporaryDir root;
    FixtureSystem system(root.path());
    system.adapter(QStringLiteral("ttyUSB0"), QStringLiteral("1a86"), QStringLiteral("7523"),
        QStringLiteral("ch341-uart"));
    system.file(QStringLiteral("/usr/bin/brltty"));
    system.file(QStringLiteral("/usr/lib/udev/rules.d/85-brltty.rules"), brlttyRules);
    system.process(400, QStringLiteral("ModemManager"));

    const std::vector<Diagnosis> all = diagnoseAdapters(system, { false, 0, true });
    ASSERT_EQ(all.size(), 1u);
    const Diagnosis &d = all.front();
    EXPECT_EQ(d.device, QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(d.driver, QStringLiteral("ch341-uart"));
    EXPECT_EQ(d.links, QStringList { QStringLiteral("/dev/serial/by-id/usb-Maker_USB_Serial-if00-port0") });
    EXPECT_EQ(d.group, QStringLiteral("dialout"));
    ASSERT_EQ(d.findings.size(), 2u) << describe(d).toStdString();
    // brltty's rules in effect without the adapter's line, the others kept.
    ASSERT_TRUE(d.findings[0].rule);
    EXPECT_EQ(d.findings[0].rule->path, QStringLiteral("/etc/udev/rules.d/85-brltty.rules"));
    EXPECT_FALSE(d.findings[0].rule->contents.contains("1a86/7523"));
    EXPECT_TRUE(d.findings[0].rule->contents.contains("403/6001"));
    ASSERT_TRUE(d.findings[1].rule);
    EXPECT_EQ(d.findings[1].rule->contents,
        "ACTION==\"add|change\", SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"1a86\", ATTRS{idProduct}==\"7523\", "
        "ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n");

    QTemporaryDir empty;
    FixtureSystem nothing(empty.path());
    const std::vector<Diagnosis> none = diagnoseAdapters(nothing);
    ASSERT_EQ(none.size(), 1u);
    EXPECT_TRUE(none.front().standsInTheWay());
    EXPECT_TRUE(describe(none.front()).contains(QStringLiteral("No USB serial adapter is connected.")));
}
