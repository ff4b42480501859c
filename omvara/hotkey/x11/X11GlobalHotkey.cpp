// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/hotkey/x11/X11GlobalHotkey.h"

#include <QByteArray>
#include <QSocketNotifier>
#include <QTimer>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <atomic>
#include <unistd.h>

namespace omvara::hotkey::x11 {

namespace {

using Chord = config::RequestHotkey::Chord;
using RequestHotkey = config::RequestHotkey;

// How often the modifiers are looked at while the hotkey waits for their release.
constexpr int ReleasePollMs = 15;

KeySym keysymOf(const QString &key)
{
    struct Named
    {
        const char *name;
        KeySym sym;
    };
    static const Named named[] = {
        { "Space", XK_space },
        { "Tab", XK_Tab },
        { "Return", XK_Return },
        { "Enter", XK_KP_Enter },
        { "Backspace", XK_BackSpace },
        { "Esc", XK_Escape },
        { "Ins", XK_Insert },
        { "Del", XK_Delete },
        { "Home", XK_Home },
        { "End", XK_End },
        { "PgUp", XK_Prior },
        { "PgDown", XK_Next },
        { "Left", XK_Left },
        { "Up", XK_Up },
        { "Right", XK_Right },
        { "Down", XK_Down },
        { "Pause", XK_Pause },
        { "Print", XK_Print },
        { "ScrollLock", XK_Scroll_Lock },
        { "Menu", XK_Menu },
    };
    for (const Named &n : named)
        if (key == QLatin1String(n.name))
            return n.sym;
    // Letters (lower case names the key), digits and F1-F35 are keysym names themselves.
    const QByteArray name = (key.size() == 1 ? key.toLower() : key).toLatin1();
    return XStringToKeysym(name.constData());
}

// Errors of the grab requests, told apart from other connections' errors.
std::atomic<Display *> grabbing { nullptr };
std::atomic<bool> grabRefused { false };

int noteGrabError(Display *display, XErrorEvent *event)
{
    if (display == grabbing.load() && event->error_code == BadAccess)
        grabRefused = true;
    return 0;
}

int quietIOError(Display *)
{
    return 0;
}

void markLost(Display *, void *lost)
{
    static_cast<std::atomic<bool> *>(lost)->store(true);
}

class X11GlobalHotkey : public GlobalHotkey
{
public:
    X11GlobalHotkey(Display *display, const Chord &chord)
        : m_display(display)
        , m_chord(chord)
    {
        m_keysym = keysymOf(chord.key);
        XSetIOErrorExitHandler(m_display, markLost, &m_lost);
        Bool supported = False;
        // Holding the key then sends presses without releases in between,
        // so one press of the chord is one request.
        XkbSetDetectableAutoRepeat(m_display, True, &supported);
        const QString problem = grab();
        if (!problem.isEmpty()) {
            closeDisplay();
            throw HotkeyUnavailableError(problem);
        }
        m_notifier = new QSocketNotifier(ConnectionNumber(m_display), QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] { readEvents(); });
        m_releaseTimer.setInterval(ReleasePollMs);
        connect(&m_releaseTimer, &QTimer::timeout, this, [this] { checkRelease(); });
        readEvents();
    }

    ~X11GlobalHotkey() override
    {
        if (!m_lost) {
            ungrab();
            XSync(m_display, False);
        }
        closeDisplay();
    }

    QString backendName() const override { return QStringLiteral("x11"); }

private:
    // The modifier bits of the chord, and of NumLock, from the current modifier mapping.
    void readModifiers()
    {
        m_modifierMask = 0;
        m_numLockMask = 0;
        m_modifierKeycodes.clear();
        unsigned altMask = 0, metaMask = 0;
        XModifierKeymap *map = XGetModifierMapping(m_display);
        if (map) {
            for (int mod = 0; mod < 8; ++mod) {
                for (int k = 0; k < map->max_keypermod; ++k) {
                    const KeyCode code = map->modifiermap[mod * map->max_keypermod + k];
                    if (code == 0)
                        continue;
                    const KeySym sym = XkbKeycodeToKeysym(m_display, code, 0, 0);
                    if (sym == XK_Num_Lock)
                        m_numLockMask |= 1u << mod;
                    else if (sym == XK_Alt_L || sym == XK_Alt_R)
                        altMask |= 1u << mod;
                    else if (sym == XK_Super_L || sym == XK_Super_R || sym == XK_Meta_L || sym == XK_Meta_R)
                        metaMask |= 1u << mod;
                }
            }
        }
        if (!altMask)
            altMask = Mod1Mask;
        if (!metaMask)
            metaMask = Mod4Mask;
        if (m_chord.modifiers & RequestHotkey::Shift)
            m_modifierMask |= ShiftMask;
        if (m_chord.modifiers & RequestHotkey::Ctrl)
            m_modifierMask |= ControlMask;
        if (m_chord.modifiers & RequestHotkey::Alt)
            m_modifierMask |= altMask;
        if (m_chord.modifiers & RequestHotkey::Meta)
            m_modifierMask |= metaMask;
        // The keys whose release the hotkey waits for.
        if (map) {
            for (int mod = 0; mod < 8; ++mod) {
                if (!(m_modifierMask & (1u << mod)))
                    continue;
                for (int k = 0; k < map->max_keypermod; ++k)
                    if (const KeyCode code = map->modifiermap[mod * map->max_keypermod + k])
                        m_modifierKeycodes.append(code);
            }
            XFreeModifiermap(map);
        }
    }

    QList<unsigned> lockVariants() const
    {
        QList<unsigned> variants { 0, LockMask };
        if (m_numLockMask)
            variants << m_numLockMask << (m_numLockMask | LockMask);
        return variants;
    }

    // Grabs the chord on the current mapping; the reason when it cannot.
    QString grab()
    {
        readModifiers();
        if (m_keysym == NoSymbol)
            return QStringLiteral("the key %1 is unknown to X11").arg(m_chord.key);
        m_keycode = XKeysymToKeycode(m_display, m_keysym);
        if (m_keycode == 0)
            return QStringLiteral("the key %1 is not on the current keyboard layout").arg(m_chord.key);
        const Window root = DefaultRootWindow(m_display);
        XSync(m_display, False);
        grabRefused = false;
        grabbing = m_display;
        // Left installed: like the keyboard output's handler it ignores every
        // other error (Xlib's default handler ends the process).
        XSetErrorHandler(noteGrabError);
        for (const unsigned locks : lockVariants())
            XGrabKey(m_display, m_keycode, m_modifierMask | locks, root, False, GrabModeAsync, GrabModeAsync);
        XSync(m_display, False);
        grabbing = nullptr;
        if (grabRefused) {
            ungrab();
            m_keycode = 0;
            return QStringLiteral("another program already uses this key combination");
        }
        return {};
    }

    void ungrab()
    {
        if (m_keycode == 0)
            return;
        const Window root = DefaultRootWindow(m_display);
        for (const unsigned locks : lockVariants())
            XUngrabKey(m_display, m_keycode, m_modifierMask | locks, root);
        m_keycode = 0;
    }

    void readEvents()
    {
        if (m_lost) {
            m_notifier->setEnabled(false);
            return;
        }
        while (!m_lost && XPending(m_display) > 0) {
            XEvent event;
            XNextEvent(m_display, &event);
            switch (event.type) {
            case KeyPress:
                if (event.xkey.keycode == m_keycode && !m_keyDown) {
                    m_keyDown = true;
                    if (!m_releaseTimer.isActive())
                        m_releaseTimer.start();
                }
                break;
            case KeyRelease:
                if (event.xkey.keycode == m_keycode)
                    m_keyDown = false;
                break;
            case MappingNotify:
                // Another layout: the key may sit on another code now.
                XRefreshKeyboardMapping(&event.xmapping);
                if (event.xmapping.request == MappingKeyboard || event.xmapping.request == MappingModifier) {
                    ungrab();
                    (void)grab(); // a layout without the key leaves the hotkey idle until the next change
                }
                break;
            default:
                break;
            }
        }
        if (m_lost)
            m_notifier->setEnabled(false);
    }

    void checkRelease()
    {
        if (m_lost) {
            m_releaseTimer.stop();
            return;
        }
        char keys[32];
        XQueryKeymap(m_display, keys);
        for (const unsigned code : std::as_const(m_modifierKeycodes))
            if (keys[code / 8] & (1 << (code % 8)))
                return;
        m_releaseTimer.stop();
        Q_EMIT activated();
    }

    void closeDisplay()
    {
        if (!m_display)
            return;
        // After a fatal I/O error Xlib keeps the connection's lock taken, so
        // closing it would wait forever: only its socket is given back.
        if (m_lost)
            ::close(ConnectionNumber(m_display));
        else
            XCloseDisplay(m_display);
        m_display = nullptr;
    }

    Display *m_display;
    Chord m_chord;
    KeySym m_keysym = NoSymbol;
    KeyCode m_keycode = 0;
    unsigned m_modifierMask = 0;
    unsigned m_numLockMask = 0;
    QList<unsigned> m_modifierKeycodes;
    bool m_keyDown = false;
    std::atomic<bool> m_lost { false };
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_releaseTimer;
};

} // namespace

QString unavailableReason()
{
    return {};
}

std::unique_ptr<GlobalHotkey> createX11GlobalHotkey(const Chord &chord)
{
    XInitThreads();
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        throw HotkeyUnavailableError(
            QStringLiteral("the X display \"%1\" cannot be opened").arg(qEnvironmentVariable("DISPLAY")));
    // The default handler of a lost connection ends the whole process.
    XSetIOErrorHandler(quietIOError);
    return std::make_unique<X11GlobalHotkey>(display, chord);
}

} // namespace omvara::hotkey::x11
