// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/outputs/keys/uinput/UinputKeyInjector.h"
#include "omvara/outputs/Keybot.h"
#include "omvara/outputs/keys/KeyCodes.h"
#include "omvara/util/Bundle.h"

#include "QtPrinters.h"
#include "RecordingView.h"

#include <gtest/gtest.h>

#include <linux/input-event-codes.h>

#include <algorithm>
#include <cerrno>
#include <tuple>

using namespace omvara::outputs::keys;

namespace {

using Written = std::tuple<unsigned, unsigned, int>;

class FakeDevice : public UinputDevice
{
public:
    explicit FakeDevice(std::vector<Written> *log)
        : m_log(log)
    {
    }
    void writeEvent(unsigned type, unsigned code, int value) override
    {
        if (failWrites)
            throw KeyInjectionError(QStringLiteral("No such device"));
        m_log->emplace_back(type, code, value);
    }
    std::optional<bool> capsLockLed() override { return led; }

    std::optional<bool> led;
    bool failWrites = false;

private:
    std::vector<Written> *m_log;
};

struct Fixture
{
    std::vector<Written> written;
    FakeDevice *device;
    UinputKeyInjector injector;

    Fixture()
        : device(new FakeDevice(&written))
        , injector(std::unique_ptr<UinputDevice>(device))
    {
    }
};

} // namespace

TEST(UinputKeyInjector, pressAndRelease_writeKeyEventThenSynchronisation)
{
    Fixture f;
    f.injector.keyPress(vk::Shift);
    f.injector.keyPress(vk::LetterA);
    f.injector.keyRelease(vk::LetterA);
    f.injector.keyRelease(vk::Shift);
    const std::vector<Written> expected = {
        { EV_KEY, KEY_LEFTSHIFT, 1 },
        { EV_SYN, SYN_REPORT, 0 },
        { EV_KEY, KEY_A, 1 },
        { EV_SYN, SYN_REPORT, 0 },
        { EV_KEY, KEY_A, 0 },
        { EV_SYN, SYN_REPORT, 0 },
        { EV_KEY, KEY_LEFTSHIFT, 0 },
        { EV_SYN, SYN_REPORT, 0 },
    };
    EXPECT_EQ(f.written, expected);
}

TEST(UinputKeyInjector, frenchLayout_sendsTheFrenchPositions)
{
    Fixture f;
    f.injector.setLayout(KeyLayout::French);
    f.injector.keyPress(vk::Colon);
    f.injector.keyPress(vk::LetterA);
    const std::vector<Written> expected = {
        { EV_KEY, KEY_DOT, 1 },
        { EV_SYN, SYN_REPORT, 0 },
        { EV_KEY, KEY_Q, 1 },
        { EV_SYN, SYN_REPORT, 0 },
    };
    EXPECT_EQ(f.written, expected);
}

// With the key map for every printable character, uinput types what the
// desktop's layout has and names the rest: on a German layout "µ", "°" and
// "€" are there (AltGr+M, Shift+^, AltGr+E), "中" is not.
TEST(UinputKeyInjector, everyCharacter_typesWhatTheLayoutHas_andNamesTheRest)
{
    using omvara::config::ConfigHelper;
    std::vector<Written> written;
    const std::vector<int> deviceKeys = UinputKeyInjector::deviceKeys();
    auto keymap = LayoutKeymap::compile(QStringLiteral("de"), QString(), QStringLiteral("de"),
        [&](int key) { return std::binary_search(deviceKeys.begin(), deviceKeys.end(), key - 8); });
    ASSERT_TRUE(keymap);
    RecordingView view;
    omvara::outputs::Keybot bot(&view, ConfigHelper::KeyboardType::QUERTY,
        ConfigHelper::KeyMapType::ALL_PRINTABLE, 0, 0, 0,
        std::make_unique<UinputKeyInjector>(std::make_unique<FakeDevice>(&written), std::move(keymap)));
    EXPECT_TRUE(bot.typeString(QStringLiteral("\u00b5\u00b0\u20ac\u4e2d")));
    const QString cannotType
        = omvara::util::Bundle::get("omvara.worker.WorkerBundle").getString("cannot_type");
    EXPECT_EQ(view.important(), QStringList { cannotType + "<20013>" });
    std::vector<unsigned> pressed;
    for (const auto &[type, code, value] : written)
        if (type == EV_KEY && value == 1)
            pressed.push_back(code);
    EXPECT_EQ(pressed,
        (std::vector<unsigned> { KEY_RIGHTALT, KEY_M, KEY_LEFTSHIFT, KEY_GRAVE, KEY_RIGHTALT, KEY_E }));
}

TEST(UinputKeyInjector, codeWithoutKey_isRefusedAndNothingIsWritten)
{
    Fixture f;
    try {
        f.injector.keyPress(vk::Colon); // no key of its own on a US keyboard
        FAIL() << "expected KeyInjectionError";
    } catch (const KeyInjectionError &e) {
        EXPECT_EQ(e.text(), "Invalid key code");
    }
    EXPECT_THROW(f.injector.keyRelease(5000), KeyInjectionError);
    EXPECT_TRUE(f.written.empty());
}

TEST(UinputKeyInjector, failedWrite_isReportedWithTheSystemMessage)
{
    Fixture f;
    f.device->failWrites = true;
    try {
        f.injector.keyPress(vk::Enter);
        FAIL() << "expected KeyInjectionError";
    } catch (const KeyInjectionError &e) {
        EXPECT_EQ(e.text(), "No such device");
    }
}

TEST(UinputKeyInjector, capsLock_followsTheLedAndIsOffWhileUnknown)
{
    Fixture f;
    EXPECT_FALSE(f.injector.capsLockOn());
    f.device->led = true;
    EXPECT_TRUE(f.injector.capsLockOn());
    f.device->led = false;
    EXPECT_FALSE(f.injector.capsLockOn());
}

TEST(UinputKeyInjector, missingDeviceNode_failsWithWhatToDo)
{
    try {
        openLibevdevUinputDevice(allPhysicalKeys(), QStringLiteral("/nonexistent/uinput"));
        FAIL() << "expected KeyboardUnavailableError";
    } catch (const KeyboardUnavailableError &e) {
        const QString text = e.text();
        EXPECT_TRUE(text.startsWith("uinput: cannot open /nonexistent/uinput (No such file or directory)."))
            << text.toStdString();
        EXPECT_TRUE(text.contains("module is not loaded")) << text.toStdString();
        EXPECT_TRUE(text.contains("Typing on Wayland")) << text.toStdString();
        EXPECT_FALSE(text.contains("KERNEL==")) << "no udev syntax in a dialog";
    }
}

TEST(UinputKeyInjector, deniedAccess_saysThePermissionIsMissingNotTheModule)
{
    const QString text = uinputAccessMessage(QStringLiteral("/dev/uinput"), EACCES);
    EXPECT_TRUE(text.startsWith("uinput: cannot open /dev/uinput (Permission denied)."))
        << text.toStdString();
    EXPECT_FALSE(text.contains("module"));
    EXPECT_TRUE(text.contains("no permission")) << text.toStdString();
}

// Where the uinput backend finds the session's layout, in the order that counts.
TEST(SessionLayout, sources_giveTheirFirstLayoutInOrderOfPrecedence)
{
    const QString kde = "[Layout]\nDisplayNames=,\nLayoutList=de,us\nUse=true\nVariantList=nodeadkeys,\n";
    const QString debian = "XKBMODEL=\"pc105\"\nXKBLAYOUT=\"fr,us\"\nXKBVARIANT=\"bepo,\"\nXKBOPTIONS=\"\"\n";
    struct Case
    {
        const char *what;
        SessionLayoutSources sources;
        QStringList found; // "NAME from SOURCE"
    } cases[] = {
        { "all of them", { "us(dvorak)", "ch", "", "GNOME", "[('xkb', 'be')]", "", kde, debian },
            { "us(dvorak) from --keyboard-layout or OMVARA_KEYBOARD_LAYOUT", "ch from XKB_DEFAULT_LAYOUT",
                "be from the GNOME input sources", "de(nodeadkeys) from the KDE keyboard settings",
                "fr(bepo) from /etc/default/keyboard" } },
        { "lists: the first layout with its variant", { "", "de,us", "nodeadkeys,", "", "", "", "", "" },
            { "de(nodeadkeys) from XKB_DEFAULT_LAYOUT" } },
        { "GNOME: the most recently used source, not an input method",
            { "", "", "", "ubuntu:GNOME", "[('ibus', 'mozc-jp'), ('xkb', 'ch+fr'), ('xkb', 'us')]",
                "[('xkb', 'us'), ('xkb', 'ch+fr')]", "", "" },
            { "ch(fr) from the GNOME input sources" } },
        { "GNOME: no recent sources yet", { "", "", "", "", "@a(ss) []", "[('xkb', 'us+dvorak')]", "", "" },
            { "us(dvorak) from the GNOME input sources" } },
        { "a KDE session asks KDE first", { "", "", "", "KDE", "[('xkb', 'be')]", "", kde, "" },
            { "de(nodeadkeys) from the KDE keyboard settings", "be from the GNOME input sources" } },
        { "KDE without its own layouts",
            { "", "", "", "KDE", "", "", "[Layout]\nLayoutList=de\nUse=false\n", debian },
            { "fr(bepo) from /etc/default/keyboard" } },
        { "nothing configured", { "", "", "", "", "", "", "", "XKBLAYOUT=\"\"\n" }, {} },
    };
    for (const Case &c : cases) {
        QStringList found;
        for (const SessionLayout &layout : sessionLayoutCandidates(c.sources))
            found << layout.name() + " from " + layout.source;
        EXPECT_EQ(found, c.found) << c.what;
    }
}

// A layout the system does not know: the user's own choice is refused (a
// typing error must not pass unnoticed), one found elsewhere is passed over.
TEST(SessionLayout, unknownLayout_refusedWhenChosen_passedOverWhenFound)
{
    const std::vector<SessionLayout> candidates { { "xx", "", "somewhere" },
        { "de", "", "/etc/default/keyboard" } };
    QString name;
    EXPECT_TRUE(sessionKeymap(candidates, false, {}, &name));
    EXPECT_EQ(name, "de from /etc/default/keyboard");
    try {
        sessionKeymap(candidates, true, {}, &name);
        FAIL() << "expected KeyboardUnavailableError";
    } catch (const KeyboardUnavailableError &e) {
        EXPECT_EQ(e.text(),
            "uinput: the keyboard layout \"xx\" (somewhere) is not known to this system; give one"
            " such as de or us(dvorak)");
    }
    EXPECT_FALSE(sessionKeymap({}, false, {}, &name));
}
