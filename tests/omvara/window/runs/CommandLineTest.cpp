// SPDX-License-Identifier: GPL-3.0-or-later
#include "QtPrinters.h"

#include "omvara/window/CommandLine.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct PortCase
{
    const char *name;
    QStringList arguments;
    QString port;
};

void PrintTo(const PortCase &c, std::ostream *os)
{
    *os << c.name;
}

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

INSTANTIATE_TEST_SUITE_P(CommandLines, PortArgument,
    ::testing::Values(PortCase { "nothing", {}, QString() },
        PortCase { "port only", args({ "COM7" }), QStringLiteral("COM7") },
        PortCase {
            "further arguments ignored", args({ "/dev/ttyUSB0", "COM3" }), QStringLiteral("/dev/ttyUSB0") },
        PortCase { "option with separate value", args({ "--prefs-file", "/tmp/p.txt", "COM3" }),
            QStringLiteral("COM3") },
        PortCase {
            "option with = value", args({ "--prefs-file=/tmp/p.txt", "COM3" }), QStringLiteral("COM3") },
        PortCase { "Qt's options and their values are no port",
            args(
                { "-platform", "offscreen", "--session", "1a2b", "-style=Fusion", "-reverse", "/dev/pts/4" }),
            QStringLiteral("/dev/pts/4") },
        PortCase { "session restore without a port", args({ "-session", "1a2b_3c" }), QString() },
        PortCase { "flag options only", args({ "--headless", "--verbose" }), QString() },
        PortCase { "value of the last option is no port", args({ "--prefs-file", "COM3" }), QString() },
        PortCase { "empty first argument is no port", args({ "", "COM3" }), QString() },
        PortCase { "after -- even a dash name", args({ "--", "-odd" }), QStringLiteral("-odd") },
        PortCase { "single dash is a name", args({ "-" }), QStringLiteral("-") },
        PortCase { "values of --connection and --set are no port",
            args({ "--connection", "a=COM3", "--set", "delay=5", "--set=b:delay=6" }), QString() }));

// The program from outside: an option its mode does not know, or no
// display for the window, ends it at once with status 2 and one line that
// says why, before anything opens. Where the window would open, the
// display-less Qt platform stands ready, so a wrongly accepted command line
// shows as a program that keeps running.
TEST(ProgramCommandLine, unknownOptionOrNoDisplay_endsAtOnceWithStatusTwoAndOneLine)
{
    QTemporaryDir home;
    QProcessEnvironment bare = QProcessEnvironment::systemEnvironment();
    for (const char *variable : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        bare.remove(QString::fromLatin1(variable));
    bare.insert("HOME", home.path());
    bare.insert("XDG_CONFIG_HOME", home.filePath("config"));
    QProcessEnvironment offscreen = bare;
    offscreen.insert("QT_QPA_PLATFORM", "offscreen");
    const QString prefs = home.filePath("prefs.txt");
    const QString exported = home.filePath("Omvara.xml");
    const auto unknown = [](const char *option) {
        return QStringLiteral("omvara: unknown option \"%1\"\n").arg(QLatin1String(option));
    };
    const QString noDisplay
        = QStringLiteral("omvara: cannot open the window: no display (neither DISPLAY nor "
                         "WAYLAND_DISPLAY is set); --headless runs without one\n");
    struct Case
    {
        const char *what;
        QStringList arguments;
        QProcessEnvironment env;
        QString err;
    } cases[] = {
        { "window", { "--bogus" }, offscreen, unknown("--bogus") },
        { "a mode misspelt", { "--headles", "COM3" }, offscreen, unknown("--headles") },
        { "one dash", { "--prefs-file", prefs, "-bogus", "COM3" }, offscreen, unknown("-bogus") },
        { "after the port, of another mode", { "COM3", "--print" }, offscreen, unknown("--print") },
        { "the headless runner's own", { "--headless", "--bogus" }, offscreen, unknown("--bogus") },
        { "export", { "--export", exported, "--bogus" }, offscreen, unknown("--bogus") },
        { "demo", { "--demo", "--bogus" }, offscreen, unknown("--bogus") },
        { "window: a connection without its port", { "--connection", "a=" }, offscreen,
            "omvara: --connection needs NAME=PORT, not \"a=\"\n" },
        { "window: a connection and a bare port", { "--connection", "a=COM4", "COM3" }, offscreen,
            "omvara: give the port with --connection NAME=PORT, not as \"COM3\"\n" },
        { "window: a program-wide setting for one connection", { "--set", "a:minimizeToTray=false" },
            offscreen,
            "omvara: the setting minimizeToTray applies to the whole program, not to one connection: give "
            "it as --set minimizeToTray=VALUE\n" },
        { "no display; Qt's, the keyboard's and the store's options accepted",
            { "-style", "Fusion", "-session", "1a2b_3c", "--keyboard=x11", "--keyboard-layout=us",
                "--prefs-file", prefs, "COM3" },
            bare, noDisplay },
        { "a display that is not there", { "-display", ":4242", "COM3" }, bare,
            "omvara: cannot open the window: could not connect to display :4242\n" },
    };
    for (const Case &c : cases) {
        QProcess program;
        program.setProcessEnvironment(c.env);
        program.start(QStringLiteral(OMVARA_EXE), c.arguments);
        const bool ended = program.waitForFinished(10000);
        if (!ended) {
            program.kill();
            program.waitForFinished(5000);
        }
        EXPECT_TRUE(ended) << c.what << ": still running";
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << c.what;
        EXPECT_EQ(program.exitCode(), 2) << c.what;
        EXPECT_EQ(QString::fromLocal8Bit(program.readAllStandardError()), c.err) << c.what;
        EXPECT_TRUE(program.readAllStandardOutput().isEmpty()) << c.what;
    }
    EXPECT_FALSE(QFile::exists(exported));
    EXPECT_FALSE(QFile::exists(prefs));
}

} // namespace
