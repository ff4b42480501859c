// SPDX-License-Identifier: GPL-3.0-or-later
// The keyboard output typing through the X11 backend into a real xterm.
#include "QtPrinters.h"
#include "RecordingView.h"
#include "XServer.h"
#include "XtermReceiver.h"

#include "omvara/outputs/Keybot.h"
#include "omvara/outputs/keys/x11/X11KeyInjector.h"

#include <gtest/gtest.h>

using namespace omvara::outputs;
using KeyboardType = omvara::config::ConfigHelper::KeyboardType;
using KeyMapType = omvara::config::ConfigHelper::KeyMapType;

TEST(KeybotX11, valuesWithStartAndTerminatorKeys_arriveExactlyAndInOrder)
{
    x_server::PrivateServer server;
    if (server.display().isEmpty())
        GTEST_SKIP() << server.error().toStdString();
    x_server::UseDisplay use(server);
    XtermReceiver xterm;
    ASSERT_TRUE(xterm.ready()) << xterm.error().toStdString();

    RecordingView view;
    struct Case
    {
        const KeyMapType *repertoire;
        int start, terminator, delay;
        QStringList values;
        QByteArray expected;
    } cases[] = {
        { &KeyMapType::ALPHANUMERIC_COMPLETE, 9, 10, 0, { "Hello World: 1.5*2/3+4,-7", "xyz" },
            "\tHello World: 1.5*2/3+4,-7\r\txyz\r" },
        { &KeyMapType::NUMERIC, 0, 10, 20, { "-12.5", "12 kg", "0.001" }, "-12.5\r12\r0.001\r" },
        { &KeyMapType::ALPHANUMERIC_BASIC, 0, 9, 1, { "AB12cd" }, "AB12\t" },
    };
    QByteArray expected;
    for (const Case &c : cases) {
        Keybot bot(&view, KeyboardType::QUERTY, *c.repertoire, c.start, c.terminator, c.delay,
            omvara::outputs::keys::openX11KeyInjector());
        EXPECT_FALSE(bot.capsLockOn());
        bot.start();
        for (const QString &value : c.values)
            bot.enqueue(value);
        expected += c.expected;
        EXPECT_EQ(xterm.received(expected.size()), expected);
    }
    EXPECT_EQ(view.important().size(), 5); // blank, k, g, c, d
}
