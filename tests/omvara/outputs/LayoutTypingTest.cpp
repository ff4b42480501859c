// SPDX-License-Identifier: GPL-3.0-or-later
// Typing on the keyboard layouts users have: each case runs its own X server
// (PrivateXServer) set to one layout, with an xterm that keeps what arrives.
// Values go through the whole program (a test-owned pseudo-terminal ->
// `omvara --headless` -> X11 backend), and the key events the uinput backend
// works out for the same layout are replayed through XTest into the same
// server, which checks that backend's keymap against the X server's.
#include "PrivateXServer.h"
#include "ProgramRun.h"
#include "QtPrinters.h"
#include "RecordingView.h"
#include "XKeyboard.h"
#include "XtermReceiver.h"

#include "omvara/outputs/Keybot.h"
#include "omvara/outputs/keys/KeyCodes.h"
#include "omvara/outputs/keys/uinput/UinputKeyInjector.h"
#include "omvara/sim/PseudoTerminal.h"
#include "omvara/util/Bundle.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <linux/input-event-codes.h>

#include <csignal>

using namespace std::chrono_literals;
using headless_test::Program;
using omvara::outputs::Keybot;
using omvara::sim::PseudoTerminal;
using KeyboardType = omvara::config::ConfigHelper::KeyboardType;
using KeyMapType = omvara::config::ConfigHelper::KeyMapType;
namespace keys = omvara::outputs::keys;

namespace {

// Readings of a numeric instrument (Sartorius format) and what is typed for them.
const QByteArray balanceRecords
    = "-     12.5 g  \r\n+    12.345 g  \r\n-      0.75 g  \r\n-      3.25 g  \r\n"
      "+   1250.0 g  \r\n-   1234.567 kg \r\n";
const QStringList balanceValues { "-12.5", "12.345", "-0.75", "-3.25", "1250.0", "-1234.567" };

// Codes holding every character of the complete alphanumeric key map that
// survives whitespace removal.
const QStringList codes { "XYZ-zyx", "AbCdEfGhIjKlMnOpQrStUvWxYz", "aBcDeFgHiJkLmNoPqRsTuVwXyZ", "0123456789",
    "-.,/*+:", "Lot:A-12/3*4+5,6.7" };

QByteArray typed(const QStringList &values)
{
    return (values.join(u'\r') + u'\r').toUtf8();
}

// What arrived in the xterm (at least `expected`'s length), as text.
QString arrived(XtermReceiver &xterm, const QByteArray &expected)
{
    return QString::fromUtf8(xterm.received(expected.size()));
}

bool haveTools()
{
    for (const char *tool : { "Xvfb", "setxkbmap", "xterm", "xdotool" }) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return false;
    }
    return true;
}

// `omvara --headless` typing what a test-owned pseudo-terminal sends, with
// the X11 backend on `server`.
class TypingRun
{
public:
    TypingRun(const PrivateXServer &server, const QString &keyboardType, const QStringList &settings)
    {
        QProcessEnvironment env = server.environment();
        env.insert("OMVARA_KEYBOARD", "x11");
        env.insert("HOME", m_dir.path());
        QStringList args { "--headless", "--prefs-file", m_dir.filePath("prefs.txt"), "--set",
            "inputTerminator=10", "--set", "outputTerminator=ENTER", "--set", "delay=1", "--set",
            "keyboardType=" + keyboardType };
        for (const QString &setting : settings)
            args << "--set" << setting;
        m_program.emplace(args << m_device.devicePath(), env);
        m_ready = m_program->waitForLog(headless_test::portReady);
    }
    ~TypingRun() { stop(); }

    bool ready() const { return m_ready; }
    void send(const QByteArray &records) { m_device.write(records); }
    // SIGTERM, then the exit status.
    int stop()
    {
        if (!m_stopped) {
            m_stopped = true;
            m_program->signal(SIGTERM);
            m_status = m_program->finish();
        }
        return m_status;
    }
    QString log() const { return m_program->err; }

private:
    QTemporaryDir m_dir;
    PseudoTerminal m_device { false };
    std::optional<Program> m_program;
    bool m_ready = false;
    bool m_stopped = false;
    int m_status = -1;
};

// A virtual keyboard that keeps the key events written to it.
class RecordingDevice : public keys::UinputDevice
{
public:
    explicit RecordingDevice(std::vector<std::pair<unsigned, int>> *keys)
        : m_keys(keys)
    {
    }
    void writeEvent(unsigned type, unsigned code, int value) override
    {
        if (type == EV_KEY)
            m_keys->emplace_back(code, value);
    }
    std::optional<bool> capsLockLed() override { return false; }

private:
    std::vector<std::pair<unsigned, int>> *m_keys;
};

struct Layout
{
    const char *layout;
    const char *variant;
    const KeyboardType *keyboardType;
    // The uinput backend has no spare key code to bind: characters the layout
    // has no key for are reported instead of typed.
    bool lacksLatinLetters = false;
};

void PrintTo(const Layout &l, std::ostream *os)
{
    *os << l.layout << (*l.variant ? "(" : "") << l.variant << (*l.variant ? ")" : "");
}

class LayoutTyping : public ::testing::TestWithParam<Layout>
{
protected:
    void SetUp() override
    {
        headless_test::app();
        if (!haveTools())
            GTEST_SKIP() << "needs Xvfb, setxkbmap, xterm and xdotool";
    }
};

QString nameOf(const Layout &l)
{
    return *l.variant ? QStringLiteral("%1(%2)").arg(l.layout, l.variant) : QString::fromLatin1(l.layout);
}

} // namespace

TEST_P(LayoutTyping, valuesAndCodes_arriveExactly_throughTheProgram_andThroughTheUinputKeys)
{
    const Layout &l = GetParam();
    PrivateXServer server;
    ASSERT_FALSE(server.display().isEmpty()) << "Xvfb did not start";
    ASSERT_TRUE(server.setLayout(l.layout, l.variant));
    XtermReceiver xterm(server.display());
    ASSERT_TRUE(xterm.ready()) << xterm.error().toStdString();
    QByteArray expected;

    {
        TypingRun run(server, l.keyboardType->name(), { "instrument=SARTORIUS" });
        ASSERT_TRUE(run.ready()) << qPrintable(run.log());
        run.send(balanceRecords);
        expected += typed(balanceValues);
        EXPECT_EQ(arrived(xterm, expected), QString::fromUtf8(expected)) << qPrintable(run.log());
        EXPECT_EQ(run.stop(), 0);
        EXPECT_TRUE(run.log().contains("(x11, desktop layout " + nameOf(l) + ")")) << qPrintable(run.log());
    }
    {
        TypingRun run(
            server, l.keyboardType->name(), { "instrument=BARCODE_ALPHA_COMPLETE", "customRegEx=(\\S+)" });
        ASSERT_TRUE(run.ready()) << qPrintable(run.log());
        run.send(typed(codes).replace('\r', '\n'));
        expected += typed(codes);
        EXPECT_EQ(arrived(xterm, expected), QString::fromUtf8(expected)) << qPrintable(run.log());
        EXPECT_EQ(run.stop(), 0);
        EXPECT_FALSE(run.log().contains("! ")) << qPrintable(run.log());
    }
    {
        // A code as a QR or GS1 reader sends it: UTF-8, a symbology
        // identifier, signs, letters beyond ASCII, a GS between two fields.
        TypingRun run(server, l.keyboardType->name(),
            { "instrument=BARCODE_ALL", "inputEncoding=UTF_8", "controlCharacters=TEXT",
                "removeSymbologyId=true" });
        ASSERT_TRUE(run.ready()) << qPrintable(run.log());
        run.send(QStringLiteral("]d2Lot_7@#%&(x)[y]{z}<=?!>\"';~^|\\`$\u00b5\u00b0\u20ac\u03a9\u4e2d\x1d"
                                "21X\n")
                     .toUtf8());
        expected
            += QStringLiteral("Lot_7@#%&(x)[y]{z}<=?!>\"';~^|\\`$\u00b5\u00b0\u20ac\u03a9\u4e2d<GS>21X\r")
                   .toUtf8();
        EXPECT_EQ(arrived(xterm, expected), QString::fromUtf8(expected)) << qPrintable(run.log());
        EXPECT_EQ(run.stop(), 0);
        EXPECT_FALSE(run.log().contains("! ")) << qPrintable(run.log());
    }
    if (l.lacksLatinLetters) {
        // The spare key codes got their empty mapping back.
        EXPECT_EQ(x_keyboard::keyFor(server.display(), 'x'), 0);
    }

    // The uinput backend's key events for the same values, on a keymap
    // compiled from the layout's names.
    const std::vector<int> deviceKeys = keys::UinputKeyInjector::deviceKeys();
    auto keymap = keys::LayoutKeymap::compile(l.layout, l.variant, nameOf(l),
        [&](int key) { return std::binary_search(deviceKeys.begin(), deviceKeys.end(), key - 8); });
    ASSERT_TRUE(keymap);
    std::vector<std::pair<unsigned, int>> events;
    RecordingView view;
    Keybot bot(&view, *l.keyboardType, KeyMapType::ALPHANUMERIC_COMPLETE, 0, keys::vk::Enter, 0,
        std::make_unique<keys::UinputKeyInjector>(
            std::make_unique<RecordingDevice>(&events), std::move(keymap)));
    QStringList values = balanceValues + codes;
    for (const QString &value : values) {
        bot.typeString(value);
        bot.typeEnd();
    }
    if (l.lacksLatinLetters) {
        qsizetype letters = 0;
        for (QString &value : values) {
            const qsizetype before = value.size();
            value.removeIf([](QChar c) { return c.isLetter(); });
            letters += before - value.size();
        }
        const QString cannotType
            = omvara::util::Bundle::get("omvara.worker.WorkerBundle").getString("cannot_type");
        EXPECT_EQ(view.important().size(), letters) << qPrintable(view.important().join(u'\n'));
        EXPECT_TRUE(view.important().contains(cannotType + "Z")) << qPrintable(view.important().join(u'\n'));
    } else {
        EXPECT_TRUE(view.important().isEmpty()) << qPrintable(view.important().join(u'\n'));
    }
    ASSERT_TRUE(x_keyboard::replay(server.display(), events));
    expected += typed(values);
    EXPECT_EQ(arrived(xterm, expected), QString::fromUtf8(expected));
}

INSTANTIATE_TEST_SUITE_P(Layouts, LayoutTyping,
    ::testing::Values(Layout { "de", "", &KeyboardType::QUERTY }, Layout { "ch", "", &KeyboardType::QUERTY },
        Layout { "fr", "", &KeyboardType::AZERTY }, Layout { "be", "", &KeyboardType::AZERTY },
        Layout { "us", "dvorak", &KeyboardType::QUERTY }, Layout { "us", "", &KeyboardType::QUERTY },
        // No Latin letters: the X11 backend binds them to spare key codes.
        Layout { "ru", "", &KeyboardType::QUERTY, true }),
    [](const ::testing::TestParamInfo<Layout> &info) {
        return std::string(info.param.layout) + (*info.param.variant ? "_" : "") + info.param.variant;
    });

// The user switches the layout while values arrive: each value is typed for
// the layout in use when it is typed, including the active group of a
// keymap with several layouts.
TEST(LayoutSwitch, layoutChangedDuringARun_laterValuesStillArriveExactly)
{
    headless_test::app();
    if (!haveTools())
        GTEST_SKIP() << "needs Xvfb, setxkbmap, xterm and xdotool";
    PrivateXServer server;
    ASSERT_FALSE(server.display().isEmpty()) << "Xvfb did not start";
    ASSERT_TRUE(server.setLayout("us"));
    XtermReceiver xterm(server.display());
    ASSERT_TRUE(xterm.ready()) << xterm.error().toStdString();
    TypingRun run(server, "QUERTY", { "instrument=BARCODE_ALPHA_COMPLETE", "customRegEx=(\\S+)" });
    ASSERT_TRUE(run.ready()) << qPrintable(run.log());

    const QStringList values { "XYZ-zyx", "Lot:A-12/3*4+5,6.7" };
    QByteArray expected;
    const auto sendAndCheck = [&](const char *step) {
        run.send(typed(values).replace('\r', '\n'));
        expected += typed(values);
        EXPECT_EQ(arrived(xterm, expected), QString::fromUtf8(expected)) << step << "\n"
                                                                         << qPrintable(run.log());
    };
    sendAndCheck("us");
    ASSERT_TRUE(server.setLayout("de"));
    sendAndCheck("after setxkbmap de");
    ASSERT_TRUE(server.setLayout("fr,de"));
    sendAndCheck("fr,de, first group");
    ASSERT_TRUE(x_keyboard::lockGroup(server.display(), 1));
    sendAndCheck("fr,de, second group locked");
    ASSERT_TRUE(x_keyboard::lockGroup(server.display(), 0));
    sendAndCheck("fr,de, back to the first group");
    EXPECT_EQ(run.stop(), 0);
}
