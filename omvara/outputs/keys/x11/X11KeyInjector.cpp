// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/outputs/keys/x11/X11KeyInjector.h"

#include "omvara/outputs/keys/LayoutKeyInjector.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <xkbcommon/xkbcommon-x11.h>

#include <QStringList>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace omvara::outputs::keys {

namespace {

// Linux input event codes become X keycodes by adding 8 (the offset of the
// server's keycode set for evdev keyboards, which every current X server uses).
constexpr int evdevToX11 = 8;

// Xlib's default error handler ends the process. Errors on our own connection
// (for example a key event the server refuses) must only fail that event.
int ignoreXError(Display *, XErrorEvent *)
{
    return 0;
}

// A lost connection (the X server ended, the display was closed) is a
// fatal I/O error for Xlib, whose default handlers print a message and end
// the whole process from whichever thread noticed it. Instead the injector
// that owns the connection is marked lost; Xlib then makes every later call
// on that connection return at once.
int quietIOError(Display *)
{
    return 0;
}

void markLost(Display *, void *lost)
{
    static_cast<std::atomic<bool> *>(lost)->store(true);
}

// After a key bound to a spare key code has been released, its binding is
// kept this long at least: a client looks the key code up when it handles
// the key event, which may be a little after the event was sent.
constexpr auto spareKeyGrace = std::chrono::milliseconds(50);

class X11KeyInjector : public LayoutKeyInjector
{
public:
    explicit X11KeyInjector(Display *display)
        : m_display(display)
    {
        XSetIOErrorExitHandler(m_display, markLost, &m_lost);
        XDisplayKeycodes(m_display, &m_minKeycode, &m_maxKeycode);
        m_capsLockAtom = XInternAtom(m_display, "Caps Lock", False);
        setUpLayout();
        std::lock_guard lock(m_mutex);
        readLayout();
    }
    ~X11KeyInjector() override
    {
        // After a fatal I/O error Xlib keeps the connection's lock taken, so
        // closing it would wait forever: only its socket is given back.
        if (m_lost) {
            ::close(ConnectionNumber(m_display));
        } else {
            restoreSpareKey();
            XCloseDisplay(m_display);
        }
        m_keymap.reset();
        if (m_xkbKeymap)
            xkb_keymap_unref(m_xkbKeymap);
        if (m_context)
            xkb_context_unref(m_context);
    }

    QString name() const override { return QStringLiteral("x11"); }

    bool capsLockOn() override
    {
        std::lock_guard lock(m_mutex);
        if (m_lost)
            return false;
        Bool on = False;
        if (m_capsLockAtom != None
            && XkbGetNamedIndicator(m_display, m_capsLockAtom, nullptr, &on, nullptr, nullptr))
            return on;
        // No indicator of that name: fall back to the locked Lock modifier.
        XkbStateRec state {};
        if (XkbGetState(m_display, XkbUseCoreKbd, &state) == Success)
            return (state.locked_mods & LockMask) != 0;
        return false;
    }

protected:
    const LayoutKeymap *currentKeymap() override
    {
        std::lock_guard lock(m_mutex);
        if (m_lost)
            throw lostError();
        readLayout();
        if (m_lost)
            throw lostError();
        return m_keymap.get();
    }

    bool canBindSpareKeys() const override { return true; }

    int bindSpareKey(std::uint32_t keysym) override
    {
        std::lock_guard lock(m_mutex);
        if (m_lost)
            throw lostError();
        if (m_spareKey && m_spareSymbol == keysym)
            return m_spareKey;
        const int key = m_spareKey ? m_spareKey : (m_keymap ? m_keymap->spareKey() : 0);
        if (!key)
            return 0;
        waitForSpareKeyGrace();
        KeySym symbols[2] = { keysym, keysym };
        XChangeKeyboardMapping(m_display, key, 2, symbols, 1);
        XSync(m_display, False);
        if (m_lost)
            throw lostError();
        m_spareKey = key;
        m_spareSymbol = keysym;
        m_spareReleased = {};
        return key;
    }

    QString knownLayoutName() const override
    {
        std::lock_guard lock(m_nameMutex);
        return m_layoutName;
    }

    void sendKey(int, int physicalKey, bool down) override
    {
        const int keycode = physicalKey + evdevToX11;
        std::lock_guard lock(m_mutex);
        if (m_lost)
            throw lostError();
        if (keycode < m_minKeycode || keycode > m_maxKeycode)
            throw KeyInjectionError(QStringLiteral("Invalid key code"));
        if (down && m_spareKey && keycode != m_spareKey)
            restoreSpareKey();
        // The server is held from the focus check to the key event, so no
        // other client's request (a window manager's or a tool's focus
        // change) is carried out in between: the key reaches the checked
        // window. XTest delivers the event while the request is handled.
        const bool checked = down && m_valueOpen;
        if (checked) {
            XGrabServer(m_display);
            checkFocus();
        }
        // The server stamps key events when it handles them, so two sent a
        // millisecond apart may still get one time; its delay (counted from
        // its last event) keeps the distance on the server's clock.
        const bool sent = XTestFakeKeyEvent(m_display, static_cast<unsigned>(keycode), down ? True : False,
            static_cast<unsigned long>(eventGapMs()));
        if (checked)
            XUngrabServer(m_display);
        XFlush(m_display);
        if (!sent)
            throw KeyInjectionError(QStringLiteral("The X server refused the key event"));
        if (m_lost)
            throw lostError();
        if (!down && keycode == m_spareKey)
            m_spareReleased = std::chrono::steady_clock::now();
    }

    bool seesFocus() const override { return true; }

    void beginValue() override
    {
        std::lock_guard lock(m_mutex);
        m_valueOpen = true;
        m_targetSet = false;
        m_targetName.clear();
    }

    void endValue() override
    {
        std::lock_guard lock(m_mutex);
        m_valueOpen = false;
    }

    QString valueWindow() const override
    {
        std::lock_guard lock(m_mutex);
        return m_targetName;
    }

private:
    // The window key events go to now: the focus window, or with the focus
    // following the pointer the top-level window under it. Caller holds m_mutex.
    Window focusedWindow()
    {
        Window focus = None;
        int revert = 0;
        XGetInputFocus(m_display, &focus, &revert);
        if (focus == PointerRoot) {
            Window root = None, child = None;
            int rootX = 0, rootY = 0, x = 0, y = 0;
            unsigned mask = 0;
            XQueryPointer(
                m_display, DefaultRootWindow(m_display), &root, &child, &rootX, &rootY, &x, &y, &mask);
            focus = child != None ? child : DefaultRootWindow(m_display);
        }
        return focus;
    }

    // `window` or one of its ancestors is a window of this process (the
    // toolkit marks its top-level windows with the process id). Caller holds m_mutex.
    bool ownWindow(Window window)
    {
        const Atom pidAtom = XInternAtom(m_display, "_NET_WM_PID", True);
        if (pidAtom == None)
            return false;
        const unsigned long self = static_cast<unsigned long>(::getpid());
        const Window rootWindow = DefaultRootWindow(m_display);
        for (int depth = 0; window != None && window != PointerRoot && window != rootWindow && depth < 32;
             ++depth) {
            Atom type = None;
            int format = 0;
            unsigned long count = 0, after = 0;
            unsigned char *data = nullptr;
            if (XGetWindowProperty(m_display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                    &count, &after, &data)
                    == Success
                && data) {
                const bool ours
                    = format == 32 && count == 1 && *reinterpret_cast<unsigned long *>(data) == self;
                XFree(data);
                if (ours)
                    return true;
            }
            Window root = None, parent = None, *children = nullptr;
            unsigned childCount = 0;
            if (!XQueryTree(m_display, window, &root, &parent, &children, &childCount))
                return false;
            if (children)
                XFree(children);
            window = parent;
        }
        return false;
    }

    // The window's title, or that of the nearest ancestor with one, quoted;
    // else its id. Caller holds m_mutex.
    QString windowName(Window window)
    {
        if (window == None)
            return QStringLiteral("no window");
        const Window first = window;
        const Window rootWindow = DefaultRootWindow(m_display);
        for (int depth = 0; window != None && window != rootWindow && depth < 32; ++depth) {
            char *title = nullptr;
            if (XFetchName(m_display, window, &title) && title) {
                const QString name = QString::fromLocal8Bit(title);
                XFree(title);
                if (!name.isEmpty())
                    return QStringLiteral("\u201c%1\u201d").arg(name);
            }
            Window root = None, parent = None, *children = nullptr;
            unsigned childCount = 0;
            if (!XQueryTree(m_display, window, &root, &parent, &children, &childCount))
                break;
            if (children)
                XFree(children);
            window = parent;
        }
        return QStringLiteral("window 0x%1").arg(qulonglong(first), 0, 16);
    }

    // With the server held: the first press of a value takes the focused
    // window as the value's window (never one of ours); a later press finds
    // the focus still there, or the server is let go and FocusMovedError
    // thrown. Caller holds m_mutex.
    void checkFocus()
    {
        const Window focus = focusedWindow();
        if (m_lost) {
            XUngrabServer(m_display);
            throw lostError();
        }
        if (m_targetSet && focus == m_target)
            return;
        const bool ours = ownWindow(focus);
        const QString name = windowName(focus);
        if (!m_targetSet && !ours) {
            m_target = focus;
            m_targetSet = true;
            m_targetName = name;
            return;
        }
        XUngrabServer(m_display);
        XFlush(m_display);
        if (m_lost)
            throw lostError();
        throw FocusMovedError(name, ours);
    }

    KeyboardLostError lostError() const
    {
        return KeyboardLostError(QStringLiteral("the link to the X display \"%1\" was lost")
                                     .arg(QString::fromLocal8Bit(DisplayString(m_display))));
    }

    // Asks for the keyboard's change notices and reads the keymap through
    // libxkbcommon. Without the XKB extension the layout stays unknown and
    // keys go by position.
    void setUpLayout()
    {
        int opcode = 0, errorBase = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
        if (!XkbQueryExtension(m_display, &opcode, &m_xkbEventBase, &errorBase, &major, &minor))
            return;
        const unsigned notices = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
        XkbSelectEvents(m_display, XkbUseCoreKbd, notices, notices);
        xcb_connection_t *connection = XGetXCBConnection(m_display);
        if (!xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION,
                XKB_X11_MIN_MINOR_XKB_VERSION, XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr,
                nullptr, nullptr))
            return;
        m_deviceId = xkb_x11_get_core_keyboard_device_id(connection);
        if (m_deviceId < 0)
            return;
        m_context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
        if (m_context)
            xkb_context_set_log_level(m_context, XKB_LOG_LEVEL_CRITICAL);
    }

    // Brings the keymap up to date with the server: read again after a
    // change notice, and its group switched when the active group changed.
    // The state request is a round trip, so every notice the server sent
    // before it has arrived when it returns. Caller holds m_mutex.
    void readLayout()
    {
        if (!m_context)
            return;
        XkbStateRec state {};
        const bool haveState = XkbGetState(m_display, XkbUseCoreKbd, &state) == Success;
        if (m_lost)
            return;
        bool changed = !m_xkbKeymap;
        while (XPending(m_display) > 0) {
            XEvent event;
            XNextEvent(m_display, &event);
            if (event.type == MappingNotify)
                changed = true;
            if (event.type == m_xkbEventBase) {
                const int kind = reinterpret_cast<const XkbAnyEvent &>(event).xkb_type;
                changed = changed || kind == XkbNewKeyboardNotify || kind == XkbMapNotify;
            }
        }
        if (changed) {
            xkb_keymap *keymap = xkb_x11_keymap_new_from_device(
                m_context, XGetXCBConnection(m_display), m_deviceId, XKB_KEYMAP_COMPILE_NO_FLAGS);
            if (keymap) {
                if (m_xkbKeymap)
                    xkb_keymap_unref(m_xkbKeymap);
                m_xkbKeymap = keymap;
                m_layoutNames = readLayoutNames();
            }
        }
        if (!m_xkbKeymap)
            return;
        const unsigned group = haveState ? unsigned(state.group) : (m_keymap ? m_keymap->group() : 0);
        if (changed || !m_keymap || m_keymap->group() != group) {
            const int minKeycode = m_minKeycode, maxKeycode = m_maxKeycode;
            m_keymap = std::make_unique<LayoutKeymap>(xkb_keymap_ref(m_xkbKeymap), group, layoutNameOf(group),
                [minKeycode, maxKeycode](int key) { return key >= minKeycode && key <= maxKeycode; });
            std::lock_guard nameLock(m_nameMutex);
            m_layoutName = m_keymap->name();
        }
    }

    // The layout and variant names the keymap was made from ("us,de" and
    // ",nodeadkeys"), as setxkbmap and the desktops leave them on the root
    // window.
    std::pair<QStringList, QStringList> readLayoutNames()
    {
        const Atom property = XInternAtom(m_display, "_XKB_RULES_NAMES", True);
        if (property == None)
            return {};
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char *data = nullptr;
        if (XGetWindowProperty(m_display, DefaultRootWindow(m_display), property, 0, 1024, False, XA_STRING,
                &type, &format, &count, &after, &data)
                != Success
            || !data)
            return {};
        // rules, model, layouts, variants, options, each ended by a zero byte
        const QList<QByteArray> fields
            = QByteArray(reinterpret_cast<const char *>(data), qsizetype(count)).split('\0');
        XFree(data);
        if (fields.size() < 4)
            return {};
        return { QString::fromLatin1(fields[2]).split(u','), QString::fromLatin1(fields[3]).split(u',') };
    }

    QString layoutNameOf(unsigned group) const
    {
        const auto &[layouts, variants] = m_layoutNames;
        if (group < unsigned(layouts.size()) && !layouts[group].isEmpty()) {
            const QString variant = group < unsigned(variants.size()) ? variants[group] : QString();
            return variant.isEmpty() ? layouts[group] : QStringLiteral("%1(%2)").arg(layouts[group], variant);
        }
        // Not made from names: the group's own description ("German").
        const char *description = xkb_keymap_layout_get_name(m_xkbKeymap, group);
        return description ? QString::fromUtf8(description) : QStringLiteral("group %1").arg(group + 1);
    }

    void waitForSpareKeyGrace()
    {
        if (m_spareReleased != std::chrono::steady_clock::time_point {})
            std::this_thread::sleep_until(m_spareReleased + spareKeyGrace);
    }

    // Gives the spare key code its empty mapping back. Caller holds m_mutex
    // (or is the destructor).
    void restoreSpareKey()
    {
        if (!m_spareKey)
            return;
        waitForSpareKeyGrace();
        KeySym none[2] = { NoSymbol, NoSymbol };
        XChangeKeyboardMapping(m_display, m_spareKey, 2, none, 1);
        XSync(m_display, False);
        m_spareKey = 0;
        m_spareReleased = {};
    }

    mutable std::mutex m_mutex;
    std::atomic<bool> m_lost { false };
    // The value being typed (guarded by m_mutex): its window, once its first key is pressed.
    bool m_valueOpen = false;
    bool m_targetSet = false;
    Window m_target = None;
    QString m_targetName;
    Display *m_display;
    int m_minKeycode = 8;
    int m_maxKeycode = 255;
    Atom m_capsLockAtom = None;

    // The live layout (guarded by m_mutex).
    int m_xkbEventBase = -1;
    std::int32_t m_deviceId = -1;
    xkb_context *m_context = nullptr;
    xkb_keymap *m_xkbKeymap = nullptr;
    std::pair<QStringList, QStringList> m_layoutNames;
    std::unique_ptr<LayoutKeymap> m_keymap;
    int m_spareKey = 0;
    std::uint32_t m_spareSymbol = 0;
    std::chrono::steady_clock::time_point m_spareReleased;

    mutable std::mutex m_nameMutex;
    QString m_layoutName;
};

} // namespace

std::unique_ptr<KeyInjector> openX11KeyInjector(const QString &displayName)
{
    const QByteArray name = displayName.toLocal8Bit();
    const char *shown = displayName.isEmpty() ? getenv("DISPLAY") : name.constData();
    if (!shown || !*shown)
        throw KeyboardUnavailableError(QStringLiteral("X11: no display (DISPLAY is not set)"));
    XInitThreads();
    Display *display = XOpenDisplay(displayName.isEmpty() ? nullptr : name.constData());
    if (!display)
        throw KeyboardUnavailableError(
            QStringLiteral("X11: cannot open display \"%1\"").arg(QString::fromLocal8Bit(shown)));
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        XCloseDisplay(display);
        throw KeyboardUnavailableError(
            QStringLiteral("X11: display \"%1\" has no XTest extension; keys cannot be sent to it")
                .arg(QString::fromLocal8Bit(shown)));
    }
    XSetErrorHandler(ignoreXError);
    XSetIOErrorHandler(quietIOError);
    return std::make_unique<X11KeyInjector>(display);
}

} // namespace omvara::outputs::keys
