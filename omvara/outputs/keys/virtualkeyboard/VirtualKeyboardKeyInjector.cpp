// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/outputs/keys/virtualkeyboard/VirtualKeyboardKeyInjector.h"

#include "omvara/outputs/keys/KeyCodes.h"
#include "omvara/outputs/keys/LayoutKeyInjector.h"
#include "omvara/outputs/keys/virtualkeyboard/OwnKeymap.h"

#include "virtual-keyboard-client.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <poll.h>
#include <set>
#include <sys/mman.h>
#include <unistd.h>

namespace omvara::outputs::keys {

namespace {

// XKB key codes are Linux input event codes plus 8.
constexpr int xkbOffset = 8;
// How long a compositor that takes no more key events is waited for before
// the keyboard counts as lost.
constexpr int stalledMilliseconds = 5000;

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

struct Globals
{
    wl_seat *seat = nullptr;
    zwp_virtual_keyboard_manager_v1 *manager = nullptr;
};

void global(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    auto *globals = static_cast<Globals *>(data);
    if (!globals->seat && std::strcmp(interface, wl_seat_interface.name) == 0)
        globals->seat = static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (!globals->manager && std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
        globals->manager = static_cast<zwp_virtual_keyboard_manager_v1 *>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
}

void globalRemove(void *, wl_registry *, uint32_t)
{
}

const wl_registry_listener registryListener { global, globalRemove };

// The keys are typed on the keyboard's own key map (OwnKeymap), so the
// desktop's layout plays no part. Shift, Control and Alt are never sent as
// key events: compositors ignore the modifier keys of a virtual keyboard and
// take its modifiers from the modifiers request alone. Each keyboard has its
// own modifier state on the compositor, so the desktop keyboard's Caps Lock
// does not reach these keys.
//
// Every key event is flushed to the compositor at once, with the time the
// keyboard base gives it (eventTimeMs(): no press shares the time of the
// event before it).
class VirtualKeyboardKeyInjector : public LayoutKeyInjector
{
public:
    VirtualKeyboardKeyInjector(wl_display *display, const Globals &globals, zwp_virtual_keyboard_v1 *keyboard)
        : m_display(display)
        , m_seat(globals.seat)
        , m_manager(globals.manager)
        , m_keyboard(keyboard)
        , m_context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES))
    {
    }

    // Sets the first key map: the keyboard is ready to type at once (a key
    // map must come before the first key). Throws KeyboardUnavailableError.
    void start()
    {
        if (!m_context)
            throw KeyboardUnavailableError(
                QStringLiteral("virtual-keyboard: libxkbcommon cannot be started"));
        xkb_context_set_log_level(m_context, XKB_LOG_LEVEL_CRITICAL);
        try {
            takeKeyMapKeys();
            upload();
        } catch (const KeyInjectionError &e) {
            throw KeyboardUnavailableError(e.text());
        }
    }

    ~VirtualKeyboardKeyInjector() override
    {
        if (!m_lost) {
            for (const int key : m_pressed)
                zwp_virtual_keyboard_v1_key(
                    m_keyboard, eventTimeMs(), uint32_t(key - xkbOffset), WL_KEYBOARD_KEY_STATE_RELEASED);
            if (m_mods)
                zwp_virtual_keyboard_v1_modifiers(m_keyboard, 0, 0, 0, 0);
            zwp_virtual_keyboard_v1_destroy(m_keyboard);
            zwp_virtual_keyboard_manager_v1_destroy(m_manager);
            wl_seat_destroy(m_seat);
            wl_display_flush(m_display);
        }
        wl_display_disconnect(m_display);
        m_keymap.reset();
        if (m_context)
            xkb_context_unref(m_context);
    }

    QString name() const override { return QStringLiteral("virtual-keyboard"); }
    bool capsLockOn() override { return false; }

protected:
    const LayoutKeymap *currentKeymap() override
    {
        if (m_keysFor != layout()) {
            takeKeyMapKeys();
            upload();
        }
        return m_keymap.get();
    }

    int bindSpareKey(std::uint32_t keysym) override
    {
        // Pressed without modifiers by the caller: a key of its own.
        const int key = m_own.add(
            keysym, [this](int code) { return m_pressed.contains(code); }, true);
        if (key)
            upload();
        return key;
    }
    bool canBindSpareKeys() const override { return true; }
    QString knownLayoutName() const override { return QStringLiteral("not used (own key map)"); }

    void send(int keyCode, bool down) override
    {
        // A key that is neither a character nor a function has no place on
        // the own key map: pressed by its position, it would type whatever
        // symbol that key code carries there.
        if (down && keyCode != vk::Shift && keysymsFor(keyCode, false, layout()).empty()
            && keysymsFor(keyCode, true, layout()).empty())
            throw KeyInjectionError(QStringLiteral("Invalid key code"));
        LayoutKeyInjector::send(keyCode, down);
    }

    void sendKey(int, int physicalKey, bool down) override
    {
        checkConnection();
        const int key = physicalKey + xkbOffset;
        for (std::size_t i = 0; i < m_modifierKeys.size(); ++i) {
            if (m_modifierKeys[i] != key)
                continue;
            int &held = m_modifierHeld[i];
            held = down ? held + 1 : std::max(0, held - 1);
            updateModifiers();
            return;
        }
        if (!down && !m_pressed.contains(key))
            return; // never pressed here (a key sent by its position)
        zwp_virtual_keyboard_v1_key(m_keyboard, eventTimeMs(), uint32_t(physicalKey),
            down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
        if (down)
            m_pressed.insert(key);
        else
            m_pressed.erase(key);
        m_own.used(key);
        flush();
    }

private:
    // The characters the key maps of the keyboard type give, and the usual
    // terminators, so that typing needs no new key map in the middle.
    void takeKeyMapKeys()
    {
        m_keysFor = layout();
        for (int code = 0; code <= vk::Colon; ++code) {
            for (const bool shifted : { false, true }) {
                if (const char32_t character = printedCharacter(code, shifted, m_keysFor))
                    m_own.add(xkb_utf32_to_keysym(character));
            }
        }
        m_own.add(XKB_KEY_Return);
        m_own.add(XKB_KEY_Tab);
    }

    void upload()
    {
        checkConnection();
        const QByteArray text = m_own.text();
        xkb_keymap *keymap = xkb_keymap_new_from_string(
            m_context, text.constData(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (!keymap)
            throw KeyInjectionError(
                QStringLiteral("virtual-keyboard: the keyboard's own key map does not compile"));
        auto made = std::make_unique<LayoutKeymap>(keymap, 0, knownLayoutName());
        char *shown = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
        if (!shown)
            throw KeyInjectionError(QStringLiteral("virtual-keyboard: the key map cannot be written out"));
        const std::size_t size = std::strlen(shown) + 1;
        const int fd = memfd_create("omvara-keymap", MFD_CLOEXEC);
        bool written = fd >= 0;
        for (std::size_t done = 0; written && done < size;) {
            const ssize_t n = ::write(fd, shown + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            written = n > 0;
            done += written ? std::size_t(n) : 0;
        }
        const int error = errno;
        std::free(shown);
        if (!written) {
            if (fd >= 0)
                ::close(fd);
            throw KeyInjectionError(
                QStringLiteral("virtual-keyboard: cannot hand over the key map (%1)").arg(errorText(error)));
        }
        // The request carries a copy of the descriptor.
        zwp_virtual_keyboard_v1_keymap(m_keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, uint32_t(size));
        ::close(fd);
        m_keymap = std::move(made);
        for (std::size_t i = 0; i < m_modifierKeys.size(); ++i) {
            static constexpr std::array<const char *, 3> names { XKB_MOD_NAME_SHIFT, XKB_MOD_NAME_CTRL,
                XKB_MOD_NAME_ALT };
            const xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap, names[i]);
            m_modifierMasks[i] = index == XKB_MOD_INVALID ? 0 : 1u << index;
        }
        // A new key map starts without modifiers on the compositor.
        m_sentMods.reset();
        updateModifiers();
        flush();
    }

    void updateModifiers()
    {
        std::uint32_t mods = 0;
        for (std::size_t i = 0; i < m_modifierKeys.size(); ++i) {
            if (m_modifierHeld[i] > 0)
                mods |= m_modifierMasks[i];
        }
        m_mods = mods;
        if (m_sentMods && *m_sentMods == mods)
            return;
        zwp_virtual_keyboard_v1_modifiers(m_keyboard, mods, 0, 0, 0);
        m_sentMods = mods;
        flush();
    }

    [[noreturn]] void lose(const QString &why)
    {
        m_lost = true;
        m_lostText
            = QStringLiteral("virtual-keyboard: the link to the Wayland compositor was lost (%1)").arg(why);
        throw KeyboardLostError(m_lostText);
    }

    void checkConnection()
    {
        if (m_lost)
            throw KeyboardLostError(m_lostText);
        if (const int error = wl_display_get_error(m_display))
            lose(QStringLiteral("protocol error: %1").arg(errorText(error)));
    }

    void flush()
    {
        const int fd = wl_display_get_fd(m_display);
        while (wl_display_flush(m_display) < 0) {
            if (errno != EAGAIN)
                lose(errorText(errno));
            pollfd writable { fd, POLLOUT, 0 };
            const int ready = ::poll(&writable, 1, stalledMilliseconds);
            if (ready == 0)
                lose(QStringLiteral("the compositor took no key events for %1 s")
                         .arg(stalledMilliseconds / 1000));
            if (ready < 0 && errno != EINTR)
                lose(errorText(errno));
        }
        // What the compositor sends (an error, new globals) is read as it
        // comes, so that its side never fills up.
        while (wl_display_prepare_read(m_display) != 0) {
            if (wl_display_dispatch_pending(m_display) < 0)
                lose(errorText(errno));
        }
        pollfd readable { fd, POLLIN, 0 };
        if (::poll(&readable, 1, 0) > 0) {
            if (wl_display_read_events(m_display) < 0)
                lose(errorText(errno));
        } else {
            wl_display_cancel_read(m_display);
        }
        if (wl_display_dispatch_pending(m_display) < 0)
            lose(errorText(errno));
        checkConnection();
    }

    wl_display *m_display;
    wl_seat *m_seat;
    zwp_virtual_keyboard_manager_v1 *m_manager;
    zwp_virtual_keyboard_v1 *m_keyboard;
    xkb_context *m_context;
    OwnKeymap m_own;
    KeyLayout m_keysFor = KeyLayout::Us;
    std::unique_ptr<LayoutKeymap> m_keymap;
    static constexpr std::array<int, 3> m_modifierKeys { OwnKeymap::shiftKey, OwnKeymap::controlKey,
        OwnKeymap::altKey };
    std::array<std::uint32_t, 3> m_modifierMasks {};
    std::array<int, 3> m_modifierHeld {};
    std::uint32_t m_mods = 0;
    std::optional<std::uint32_t> m_sentMods;
    std::set<int> m_pressed;
    bool m_lost = false;
    QString m_lostText;
};

} // namespace

std::unique_ptr<KeyInjector> openVirtualKeyboardKeyInjector()
{
    const QString socket = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (socket.isEmpty())
        throw KeyboardUnavailableError(
            QStringLiteral("virtual-keyboard: no Wayland display (WAYLAND_DISPLAY is not set)"));
    wl_display *display = wl_display_connect(nullptr);
    if (!display)
        throw KeyboardUnavailableError(
            QStringLiteral("virtual-keyboard: cannot reach the Wayland display \"%1\" (%2)")
                .arg(socket, errorText(errno)));
    Globals globals;
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &globals);
    const int listed = wl_display_roundtrip(display);
    // Later globals are of no interest; the registry's events stop here.
    wl_registry_destroy(registry);
    const auto refuse = [&](const QString &why) {
        wl_display_disconnect(display);
        return KeyboardUnavailableError(QStringLiteral("virtual-keyboard: ") + why);
    };
    if (listed < 0)
        throw refuse(QStringLiteral("the Wayland display \"%1\" closed the link").arg(socket));
    if (!globals.manager)
        throw refuse(
            QStringLiteral("the compositor offers no virtual keyboard (zwp_virtual_keyboard_manager_v1)"));
    if (!globals.seat)
        throw refuse(QStringLiteral("the compositor has no seat"));
    zwp_virtual_keyboard_v1 *keyboard
        = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(globals.manager, globals.seat);
    if (wl_display_roundtrip(display) < 0)
        throw refuse(QStringLiteral("the compositor refused a virtual keyboard (%1)")
                         .arg(errorText(wl_display_get_error(display))));
    auto injector = std::make_unique<VirtualKeyboardKeyInjector>(display, globals, keyboard);
    injector->start();
    return injector;
}

} // namespace omvara::outputs::keys
