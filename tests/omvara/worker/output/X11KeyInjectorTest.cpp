// SPDX-License-Identifier: GPL-3.0-or-later
// Runs against a real X server (Xvfb in the test run) and a real xterm.
#include "XtermReceiver.h"

#include "omvara/worker/keys/KeyCodes.h"
#include "omvara/worker/keys/x11/X11KeyInjector.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <QProcess>

using namespace omvara::worker::keys;

namespace {

bool haveDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY");
}

void tap(KeyInjector &keys, std::initializer_list<int> codes)
{
    for (int code : codes)
        keys.keyPress(code);
    for (auto it = std::rbegin(codes); it != std::rend(codes); ++it)
        keys.keyRelease(*it);
}

bool run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

TEST(X11KeyInjector, keysArriveInTheFocusedWindowExactly)
{
    if (!haveDisplay())
        GTEST_SKIP() << "no X display";
    XtermReceiver xterm;
    ASSERT_TRUE(xterm.ready()) << xterm.error().toStdString();
    auto keys = openX11KeyInjector();
    ASSERT_EQ(keys->name(), "x11");

    using namespace vk;
    const int H = LetterA + 'H' - 'A', I = LetterA + 'I' - 'A';
    tap(*keys, {Shift, H});
    tap(*keys, {I});
    tap(*keys, {Comma});
    tap(*keys, {Space});
    tap(*keys, {Minus});
    tap(*keys, {Digit0 + 1});
    tap(*keys, {Period});
    tap(*keys, {Digit0 + 5});
    tap(*keys, {Add});
    tap(*keys, {Multiply});
    tap(*keys, {Divide});
    tap(*keys, {Shift, Semicolon});
    tap(*keys, {Tab});
    tap(*keys, {Right});
    tap(*keys, {Down});
    tap(*keys, {F1});
    tap(*keys, {Delete});
    tap(*keys, {Enter});
    const QByteArray expected = "Hi, -1.5+*/:\t\x1b[C\x1b[B\x1bOP\x1b[3~\r";
    EXPECT_EQ(xterm.received(expected.size()), expected);
}

TEST(X11KeyInjector, capsLock_isReadFromTheIndicator)
{
    if (!haveDisplay())
        GTEST_SKIP() << "no X display";
    auto keys = openX11KeyInjector();
    const bool before = keys->capsLockOn();
    ASSERT_TRUE(run("xdotool", {"key", "Caps_Lock"}));
    EXPECT_EQ(keys->capsLockOn(), !before);
    ASSERT_TRUE(run("xdotool", {"key", "Caps_Lock"}));
    EXPECT_EQ(keys->capsLockOn(), before);
}

TEST(X11KeyInjector, unreachableDisplay_failsWithItsName)
{
    try {
        openX11KeyInjector(QStringLiteral(":4242"));
        FAIL() << "expected KeyboardUnavailableError";
    } catch (const KeyboardUnavailableError &e) {
        EXPECT_EQ(e.text(), "X11: cannot open display \":4242\"");
    }
}
