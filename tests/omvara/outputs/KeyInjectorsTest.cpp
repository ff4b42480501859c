// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/outputs/keys/KeyInjectors.h"
#include "omvara/outputs/keys/KeyCodes.h"
#include "omvara/outputs/keys/SessionLayout.h"
#include "omvara/util/Interruption.h"
#include "omvara/util/ProcessProperties.h"
#include "tests/support/RecordingKeyInjector.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdlib>

using namespace omvara::outputs::keys;
using omvara::util::ProcessProperties;

namespace {

// Sets (or unsets, for nullptr) an environment variable for one test.
class EnvGuard
{
public:
    EnvGuard(const char *name, const char *value)
        : m_name(name)
    {
        if (const char *old = getenv(name))
            m_old = old, m_had = true;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~EnvGuard() { m_had ? setenv(m_name, m_old.c_str(), 1) : unsetenv(m_name); }

private:
    const char *m_name;
    std::string m_old;
    bool m_had = false;
};

QString failureOf(const QString &choice)
{
    try {
        KeyInjectors::create(choice);
    } catch (const KeyboardUnavailableError &e) {
        return e.text();
    }
    return QStringLiteral("<started>");
}

} // namespace

TEST(KeyInjectors, unknownChoice_namesTheValidOnes)
{
    EXPECT_EQ(failureOf("windows"),
        "Unknown keyboard output \"windows\"; choose one of: auto, x11, uinput, virtual-keyboard, kwin, "
        "portal");
}

TEST(KeyInjectors, noDisplayAndNoUinput_failsNamingEveryBackendTried)
{
    EnvGuard display("DISPLAY", nullptr);
    EnvGuard wayland("WAYLAND_DISPLAY", nullptr);
    EnvGuard session("XDG_SESSION_TYPE", nullptr);
    const QString text = failureOf("auto");
    if (text == "<started>")
        GTEST_SKIP() << "this machine has a usable /dev/uinput";
    EXPECT_TRUE(text.startsWith("No keyboard output could be used: X11: no display (DISPLAY is not set); "
                                "uinput: cannot open /dev/uinput"))
        << text.toStdString();
}

// Outside a desktop session (no Wayland display, no session bus: a console,
// an SSH login) the Wayland backends say why they cannot start, and the
// portal does not wait for a dialog nobody sees.
TEST(KeyInjectors, waylandBackendsOutsideADesktopSession_sayWhatIsMissing)
{
    QTemporaryDir runtime;
    EnvGuard folder("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData());
    EnvGuard wayland("WAYLAND_DISPLAY", nullptr);
    EnvGuard bus("DBUS_SESSION_BUS_ADDRESS", nullptr);
    const struct
    {
        const char *backend;
        const char *reason;
    } cases[] = {
        { "kwin", "kwin: no Wayland display to reach" },
        { "portal",
            "portal: no session bus (DBUS_SESSION_BUS_ADDRESS is not set: not started in a desktop "
            "session)" },
    };
    for (const auto &c : cases) {
        EXPECT_TRUE(failureOf(c.backend).startsWith(c.reason))
            << c.backend << ": " << failureOf(c.backend).toStdString();
        EXPECT_EQ(
            KeyInjectors::mayAskPermission(c.backend), QLatin1String(c.backend) == QLatin1String("portal"));
    }
}

TEST(KeyInjectors, userChoice_comesFromThePropertyOrTheEnvironment)
{
    EnvGuard display("DISPLAY", nullptr);
    {
        EnvGuard env("OMVARA_KEYBOARD", "x11");
        EXPECT_EQ(failureOf(QString()), "X11: no display (DISPLAY is not set)");
    }
    ProcessProperties::set(KeyInjectors::propertyName(), QStringLiteral(" X11 "));
    EXPECT_EQ(failureOf(QString()), "X11: no display (DISPLAY is not set)");
    ProcessProperties::reset();
}

TEST(KeyInjectors, commandLineOption_isTakenOutAndStored)
{
    struct Case
    {
        QStringList arguments;
        bool ok;
        QStringList rest;
        QString stored;
        QString error;
    } cases[] = {
        { { "--headless", "--keyboard=x11", "COM3" }, true, { "--headless", "COM3" }, "x11", "" },
        { { "--keyboard", "UINPUT", "--print" }, true, { "--print" }, "uinput", "" },
        { { "--keyboard=virtual-keyboard" }, true, {}, "virtual-keyboard", "" },
        { { "--keyboard", "KWin" }, true, {}, "kwin", "" },
        { { "--keyboard=portal" }, true, {}, "portal", "" },
        { { "--keyboard=auto", "--keyboard=x11" }, true, {}, "x11", "" },
        { { "--headless" }, true, { "--headless" }, "", "" },
        { { "--keyboard=sendinput" }, false, {}, "",
            "unknown keyboard output \"sendinput\"; choose one of: auto, x11, uinput, virtual-keyboard, "
            "kwin, portal" },
        { { "--headless", "--keyboard" }, false, { "--headless", "--keyboard" }, "",
            "--keyboard needs one of: auto, x11, uinput, virtual-keyboard, kwin, portal" },
        { { "--keyboard-layout=us(dvorak)", "--keyboard=uinput", "COM3" }, true, { "COM3" }, "uinput", "" },
        { { "--keyboard-layout", "xx" }, false, {}, "",
            "the keyboard layout \"xx\" is not known to this system" },
        { { "--keyboard-layout=de(nosuchvariant)" }, false, {}, "",
            "the keyboard layout \"de(nosuchvariant)\" is not known to this system" },
        { { "--keyboard-layout=de,us" }, false, {}, "",
            "the keyboard layout \"de,us\" is not of the form LAYOUT or LAYOUT(VARIANT), such as de or "
            "us(dvorak)" },
        { { "--keyboard-layout" }, false, {}, "",
            "--keyboard-layout needs a layout such as de or us(dvorak)" },
    };
    ProcessProperties::reset();
    for (Case &c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        ProcessProperties::remove(KeyInjectors::propertyName());
        QString error;
        EXPECT_EQ(KeyInjectors::takeCommandLineOption(c.arguments, &error), c.ok);
        EXPECT_EQ(error, c.error);
        if (c.ok) {
            EXPECT_EQ(c.arguments, c.rest);
            EXPECT_EQ(ProcessProperties::get(KeyInjectors::propertyName()), c.stored);
        }
    }
    EXPECT_EQ(ProcessProperties::get(SessionLayout::propertyName()), "us(dvorak)");
    ProcessProperties::reset();
}

TEST(KeyInjectors, waylandSession_triesTheWaylandWaysAndNeverX11)
{
    const QStringList waylandOrder { "virtual-keyboard", "kwin", "uinput", "portal" };
    {
        EnvGuard wayland("WAYLAND_DISPLAY", nullptr);
        EnvGuard session("XDG_SESSION_TYPE", "x11");
        EXPECT_EQ(KeyInjectors::backendOrder(), QStringList({ "x11", "uinput" }));
    }
    {
        EnvGuard wayland("WAYLAND_DISPLAY", nullptr);
        EnvGuard session("XDG_SESSION_TYPE", "wayland");
        EXPECT_EQ(KeyInjectors::backendOrder(), waylandOrder);
    }
    // A compositor that is not there, an X display beside it: every Wayland
    // way is named with what it lacked, and X11 is not tried.
    EnvGuard wayland("WAYLAND_DISPLAY", "omvara-test-no-such-compositor");
    EnvGuard runtime("XDG_RUNTIME_DIR", "/tmp");
    EnvGuard display("DISPLAY", ":0");
    EXPECT_EQ(KeyInjectors::backendOrder(), waylandOrder);
    const QString text = failureOf("auto");
    if (text == "<started>")
        GTEST_SKIP() << "this machine has a usable /dev/uinput";
    EXPECT_TRUE(text.startsWith("No keyboard output could be used: virtual-keyboard: cannot reach the Wayland"
                                " display \"omvara-test-no-such-compositor\""))
        << text.toStdString();
    for (const char *part : { "; kwin: ", "; uinput: cannot open /dev/uinput", "; portal: " })
        EXPECT_TRUE(text.contains(part)) << part << " in " << text.toStdString();
    EXPECT_FALSE(text.contains("X11: ")) << text.toStdString();
}

TEST(KeyInjector, pause_returnsAtOnceOnceTheThreadIsInterrupted)
{
    // A real backend's pause (the recording one only records).
    class Sleeper : public KeyInjector
    {
    public:
        QString name() const override { return "sleeper"; }
        bool capsLockOn() override { return false; }

    protected:
        void sendKey(int, int, bool) override { }
    } sleeper;

    bool returned = false;
    omvara::util::InterruptibleThread thread;
    thread.start([&] {
        while (!omvara::util::Interruption::interrupted())
            std::this_thread::yield();
        sleeper.pause(60000);
        returned = true;
    });
    thread.interrupt();
    thread.join();
    EXPECT_TRUE(returned);
}
