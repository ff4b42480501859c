// SPDX-License-Identifier: GPL-3.0-or-later
// Runs against a real X server (a private Xvfb per test) and a real xterm.
#include "XServer.h"
#include "XtermReceiver.h"

#include "omvara/outputs/keys/KeyCodes.h"
#include "omvara/outputs/keys/x11/X11KeyInjector.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

using namespace omvara::outputs::keys;

namespace {

void tap(KeyInjector &keys, std::initializer_list<int> codes)
{
    for (int code : codes)
        keys.keyPress(code);
    for (auto it = std::rbegin(codes); it != std::rend(codes); ++it)
        keys.keyRelease(*it);
}

} // namespace

TEST(X11KeyInjector, keysArriveInTheFocusedWindowExactly)
{
    x_server::PrivateServer server;
    if (server.display().isEmpty())
        GTEST_SKIP() << server.error().toStdString();
    x_server::UseDisplay use(server);
    XtermReceiver xterm;
    ASSERT_TRUE(xterm.ready()) << xterm.error().toStdString();
    auto keys = openX11KeyInjector();
    ASSERT_EQ(keys->name(), "x11");

    using namespace vk;
    const int H = LetterA + 'H' - 'A', I = LetterA + 'I' - 'A';
    tap(*keys, { Shift, H });
    tap(*keys, { I });
    tap(*keys, { Comma });
    tap(*keys, { Space });
    tap(*keys, { Minus });
    tap(*keys, { Digit0 + 1 });
    tap(*keys, { Period });
    tap(*keys, { Digit0 + 5 });
    tap(*keys, { Add });
    tap(*keys, { Multiply });
    tap(*keys, { Divide });
    tap(*keys, { Shift, Semicolon });
    tap(*keys, { Tab });
    tap(*keys, { Right });
    tap(*keys, { Down });
    tap(*keys, { F1 });
    tap(*keys, { Delete });
    tap(*keys, { Enter });
    const QByteArray expected = "Hi, -1.5+*/:\t\x1b[C\x1b[B\x1bOP\x1b[3~\r";
    EXPECT_EQ(xterm.received(expected.size()), expected);
}

TEST(X11KeyInjector, capsLock_isReadFromTheIndicator)
{
    x_server::PrivateServer server;
    if (server.display().isEmpty())
        GTEST_SKIP() << server.error().toStdString();
    auto keys = openX11KeyInjector(server.display());
    EXPECT_FALSE(keys->capsLockOn());
    ASSERT_TRUE(server.run("xdotool", { "key", "Caps_Lock" }));
    EXPECT_TRUE(keys->capsLockOn());
    ASSERT_TRUE(server.run("xdotool", { "key", "Caps_Lock" }));
    EXPECT_FALSE(keys->capsLockOn());
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
