// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/outputs/keys/kwin/KwinKeyInjector.h"

#include "omvara/outputs/keys/LayoutKeyInjector.h"
#include "omvara/outputs/keys/SessionLayout.h"

#include "fake-input-client-protocol.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <wayland-client.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <poll.h>

namespace omvara::outputs::keys {

namespace {

// The first version with keyboard keys.
constexpr std::uint32_t keyboardVersion = 4;

struct Globals
{
    std::uint32_t fakeInputName = 0;
    std::uint32_t fakeInputVersion = 0;
    bool kwin = false; // an interface only KWin offers is there
};

void onGlobal(void *data, wl_registry *, std::uint32_t name, const char *interface, std::uint32_t version)
{
    auto *globals = static_cast<Globals *>(data);
    if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0) {
        globals->fakeInputName = name;
        globals->fakeInputVersion = version;
    } else if (std::strncmp(interface, "org_kde_kwin_", 13) == 0
        || std::strncmp(interface, "org_kde_plasma_", 15) == 0) {
        globals->kwin = true;
    }
}

void onGlobalRemove(void *, wl_registry *, std::uint32_t)
{
}

const wl_registry_listener registryListener = { onGlobal, onGlobalRemove };

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The path KWin compares with the desktop entry's Exec: the running binary.
QString programPath()
{
    const QString path = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return path.isEmpty() ? QCoreApplication::applicationFilePath() : path;
}

class KwinKeyInjector : public LayoutKeyInjector
{
public:
    KwinKeyInjector(wl_display *display, wl_registry *registry, org_kde_kwin_fake_input *fakeInput,
        std::unique_ptr<LayoutKeymap> keymap, QString layoutName)
        : m_display(display)
        , m_registry(registry)
        , m_fakeInput(fakeInput)
        , m_keymap(std::move(keymap))
        , m_layoutName(std::move(layoutName))
    {
    }
    ~KwinKeyInjector() override
    {
        org_kde_kwin_fake_input_destroy(m_fakeInput);
        wl_registry_destroy(m_registry);
        wl_display_flush(m_display);
        wl_display_disconnect(m_display);
    }

    QString name() const override { return QStringLiteral("kwin"); }
    // Fake input reads nothing back from the keyboard.
    bool capsLockOn() override { return false; }

protected:
    const LayoutKeymap *currentKeymap() override { return m_keymap.get(); }
    QString knownLayoutName() const override { return m_keymap ? m_layoutName : QString(); }

    void sendKey(int, int physicalKey, bool down) override
    {
        std::lock_guard lock(m_mutex);
        if (m_lost)
            throw KeyboardLostError(m_lostReason);
        org_kde_kwin_fake_input_keyboard_key(m_fakeInput, std::uint32_t(physicalKey),
            down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
        flush();
    }

private:
    // Sends what is buffered; waits (at most 2 s) while the compositor does
    // not read. Anything else ends the connection for good.
    void flush()
    {
        for (;;) {
            if (wl_display_flush(m_display) >= 0)
                return;
            const int error = errno;
            if (error == EAGAIN) {
                pollfd fd { wl_display_get_fd(m_display), POLLOUT, 0 };
                if (::poll(&fd, 1, 2000) > 0)
                    continue;
                lose(QStringLiteral("kwin: the compositor takes no more key events"));
            }
            const int protocolError = wl_display_get_error(m_display);
            lose(QStringLiteral("kwin: the link to the compositor was lost (%1)")
                     .arg(systemError(protocolError ? protocolError : error)));
        }
    }
    [[noreturn]] void lose(const QString &reason)
    {
        m_lost = true;
        m_lostReason = reason;
        throw KeyboardLostError(reason);
    }

    std::mutex m_mutex;
    wl_display *m_display;
    wl_registry *m_registry;
    org_kde_kwin_fake_input *m_fakeInput;
    std::unique_ptr<LayoutKeymap> m_keymap;
    QString m_layoutName;
    bool m_lost = false;
    QString m_lostReason;
};

} // namespace

std::unique_ptr<KeyInjector> openKwinKeyInjector()
{
    wl_display *display = wl_display_connect(nullptr);
    if (!display)
        throw KeyboardUnavailableError(
            QStringLiteral("kwin: no Wayland display to reach (WAYLAND_DISPLAY \"%1\")")
                .arg(qEnvironmentVariable("WAYLAND_DISPLAY")));
    wl_registry *registry = wl_display_get_registry(display);
    Globals globals;
    wl_registry_add_listener(registry, &registryListener, &globals);
    const auto give = [&](const QString &reason) {
        wl_registry_destroy(registry);
        wl_display_disconnect(display);
        return KeyboardUnavailableError(reason);
    };
    if (wl_display_roundtrip(display) < 0)
        throw give(QStringLiteral("kwin: the Wayland display does not answer"));
    if (!globals.fakeInputName) {
        if (!globals.kwin)
            throw give(
                QStringLiteral("kwin: the compositor is not KWin (it offers no org_kde_kwin_fake_input)"));
        throw give(
            QStringLiteral("kwin: KWin does not let this program use its fake input: it needs a desktop entry"
                           " in an applications folder (such as %1, installed with the program) with Exec=%2"
                           " and X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input")
                .arg(QStringLiteral("/usr/share/applications/") + kwinDesktopEntryName(), programPath()));
    }
    if (globals.fakeInputVersion < keyboardVersion)
        throw give(
            QStringLiteral("kwin: KWin's fake input is version %1, which has no keyboard keys (%2 needed)")
                .arg(globals.fakeInputVersion)
                .arg(keyboardVersion));
    QString layoutName;
    std::unique_ptr<LayoutKeymap> keymap;
    try {
        keymap = desktopKeymap(QStringLiteral("kwin"), &layoutName);
    } catch (const KeyboardUnavailableError &e) {
        throw give(e.text());
    }
    auto *fakeInput = static_cast<org_kde_kwin_fake_input *>(wl_registry_bind(
        registry, globals.fakeInputName, &org_kde_kwin_fake_input_interface, keyboardVersion));
    org_kde_kwin_fake_input_authenticate(fakeInput, "Omvara", "types the readings of a serial instrument");
    if (wl_display_roundtrip(display) < 0) {
        org_kde_kwin_fake_input_destroy(fakeInput);
        throw give(QStringLiteral("kwin: KWin refused the fake input (%1)")
                       .arg(systemError(wl_display_get_error(display))));
    }
    return std::make_unique<KwinKeyInjector>(display, registry, fakeInput, std::move(keymap), layoutName);
}

} // namespace omvara::outputs::keys
