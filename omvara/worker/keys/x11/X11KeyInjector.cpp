// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/worker/keys/x11/X11KeyInjector.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <atomic>
#include <mutex>
#include <unistd.h>

namespace omvara::worker::keys {

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

class X11KeyInjector : public KeyInjector
{
public:
    explicit X11KeyInjector(Display *display) : m_display(display)
    {
        XSetIOErrorExitHandler(m_display, markLost, &m_lost);
        XDisplayKeycodes(m_display, &m_minKeycode, &m_maxKeycode);
        m_capsLockAtom = XInternAtom(m_display, "Caps Lock", False);
    }
    ~X11KeyInjector() override
    {
        // After a fatal I/O error Xlib keeps the connection's lock taken, so
        // closing it would wait forever: only its socket is given back.
        if (m_lost)
            ::close(ConnectionNumber(m_display));
        else
            XCloseDisplay(m_display);
    }

    QString name() const override { return QStringLiteral("x11"); }

    bool capsLockOn() override
    {
        std::lock_guard lock(m_mutex);
        if (m_lost)
            return false;
        Bool on = False;
        if (m_capsLockAtom != None && XkbGetNamedIndicator(m_display, m_capsLockAtom, nullptr, &on, nullptr, nullptr))
            return on;
        // No indicator of that name: fall back to the locked Lock modifier.
        XkbStateRec state {};
        if (XkbGetState(m_display, XkbUseCoreKbd, &state) == Success)
            return (state.locked_mods & LockMask) != 0;
        return false;
    }

protected:
    void sendKey(int, int physicalKey, bool down) override
    {
        const int keycode = physicalKey + evdevToX11;
        std::lock_guard lock(m_mutex);
        if (m_lost)
            throw lostError();
        if (keycode < m_minKeycode || keycode > m_maxKeycode)
            throw KeyInjectionError(QStringLiteral("Invalid key code"));
        if (!XTestFakeKeyEvent(m_display, static_cast<unsigned>(keycode), down ? True : False, CurrentTime))
            throw KeyInjectionError(QStringLiteral("The X server refused the key event"));
        XFlush(m_display);
        if (m_lost)
            throw lostError();
    }

private:
    KeyboardLostError lostError() const
    {
        return KeyboardLostError(QStringLiteral("the connection to the X display \"%1\" was lost")
                .arg(QString::fromLocal8Bit(DisplayString(m_display))));
    }

    std::mutex m_mutex;
    std::atomic<bool> m_lost { false };
    Display *m_display;
    int m_minKeycode = 8;
    int m_maxKeycode = 255;
    Atom m_capsLockAtom = None;
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
        throw KeyboardUnavailableError(QStringLiteral("X11: cannot open display \"%1\"").arg(QString::fromLocal8Bit(shown)));
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

} // namespace omvara::worker::keys
