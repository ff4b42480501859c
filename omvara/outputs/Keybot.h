// SPDX-License-Identifier: GPL-3.0-or-later
// The keyboard output: types values into the focused application.
#pragma once

#include "omvara/config/CodeSettings.h"
#include "omvara/config/ConfigHelper.h"
#include "omvara/outputs/KeyboardTurns.h"
#include "omvara/outputs/keys/KeyInjector.h"
#include "omvara/util/BlockingQueue.h"
#include "omvara/util/Interruption.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace omvara::config {
class Config;
}
namespace omvara::reception {
class WeightWorkerView;
}

namespace omvara::outputs {

// The keyboard output: types each value into the application that has the
// keyboard focus, as an optional start key, the value's characters through
// the key map of the keyboard type, and an optional terminator key, pausing
// `keyDelay` milliseconds after every key press and every key release. The
// key map decides which characters are typeable and the key events sent;
// a backend that knows the desktop's layout turns them into the character
// itself on that layout, and may find a character has no key there (it is
// then reported as not typeable).
//
// Values wait in this Keybot's own queue, filled by enqueue() (any thread:
// the run hands values on from the thread that reads the port); the keyboard
// thread started by start() is its only consumer and the only thread that
// sends keys, so values are typed whole, one after the other, in arrival
// order. Characters that cannot be typed and keys the platform refuses are
// reported through the view's logImportantEvent from the keyboard thread.
//
// stop() ends a run's typing: the value being typed is finished with its
// pauses (slow applications lose keys typed faster) and the values still
// waiting are dropped and reported, so they cannot reach whatever application
// has the focus at a later run. finish() ends it gently: what waits is typed,
// then the thread ends. abort() ends it at once: the value being typed is
// cut off after its current character, without its terminator key (so no
// half value is entered), and reported.
//
// A stamp may be typed beside each value (setStamper): between the start
// key and the value, and between the value and the terminator key, through
// the key map for stamps (stampKeyMap()), which does not depend on the
// instrument.
//
// A value goes to one window: the one that has the focus at its first key.
// Before every key press the keyboard output checks that the focus is not on
// one of the program's own windows (ownWindowFocused); a backend that sees
// other programs' windows (X11) also refuses a press once the focus has moved
// anywhere else (keys::KeyInjector::beginValue). A value stopped that way
// after some of its keys went out, or cut off by abort(), is cut: it is
// reported with how many of its characters went out and where, and no
// further value is typed until resume() (the next one would run on from the
// cut one in the same field); values taken meanwhile are dropped as not typed.
//
// With the key map for every printable character (KeyMapType::ALL_PRINTABLE)
// a character the map has no keys for is typed as itself (keys::vk::character)
// where the backend can (keys::KeyInjector::canTypeCharacter), and reported
// as not typeable where it cannot. Control characters are never typed as
// such, except GS, RS and EOT as setControlTyping() says: by default they are
// left out, without a report.
//
// When the keystroke backend is lost for good (the X display closed), that is
// reported once; the value being typed is cut off there and every later value
// is dropped and reported as not typed: nothing is sent again or elsewhere.
class Keybot
{
public:
    using KeyboardType = config::ConfigHelper::KeyboardType;
    using KeyMapType = config::ConfigHelper::KeyMapType;

    // What became of one value.
    struct Outcome
    {
        enum class Kind {
            Typed, // every character and the terminator key, into one window
            NotTyped, // nothing of it went out (dropped, or the focus was on the program)
            Cut, // some of its keys went out, not all
            Incomplete, // typed, but a character the key map cannot type was left out
        };
        Kind kind = Kind::NotTyped;
        QString value; // Cut: the whole value
        QString typedPart; // Cut, Incomplete: the characters of the value that went out, in order
        // Typed, Incomplete, Cut: every character that went out, in order,
        // the stamps included.
        QString typed;
        qsizetype length = 0; // Cut: the value's characters
        QString window; // Cut: where they went, in words; empty when not known
        QString reason; // NotTyped, Cut: why, in words ("the keyboard focus moved to ...")
        bool ownWindow = false; // NotTyped, Cut: the program's own window took the focus
        bool holding = false; // NotTyped: dropped because typing holds after a cut
    };

    // `view` may be null (nothing is reported); it must outlive the Keybot.
    // The texts typed beside one value.
    struct Stamps
    {
        QString before; // between the start key and the value
        QString after; // between the value and the terminator key
    };

    // Key codes of 0 or less mean no start or terminator key. Without an
    // `injector` the keystroke backend is chosen by keys::KeyInjectors;
    // throws keys::KeyboardUnavailableError when none can start.
    Keybot(reception::WeightWorkerView *view, const KeyboardType &keyboardType, const KeyMapType &keyMapType,
        int startKey, int terminatorKey, int keyDelay, std::shared_ptr<keys::KeyInjector> injector = {});
    // What GS, RS and EOT inside a value become (config::ControlCharacters):
    // left out, `keyCode` typed, `text` typed ("{name}" standing for the
    // character's name; typed with the key map for every printable
    // character), or the character itself where the backend can type it.
    struct ControlTyping
    {
        const config::ControlCharacters *action = &config::ControlCharacters::getDefault();
        int keyCode = 0;
        QString text;
    };

    // From the run's settings: keyboard type, start-with and terminator keys,
    // delay, the key-map type of the configured instrument (every printable
    // character for a text instrument with typeEveryCharacter) and the
    // typing of control characters.
    static std::unique_ptr<Keybot> fromConfig(reception::WeightWorkerView *view, const config::Config &config,
        std::shared_ptr<keys::KeyInjector> injector = {});
    // Stops (see stop()) and waits for the keyboard thread to end.
    virtual ~Keybot();
    Keybot(const Keybot &) = delete;
    Keybot &operator=(const Keybot &) = delete;

    // Appends a non-empty text to the queue; an empty text is dropped. After
    // stop() or finish() a text is dropped and reported as not typed. `id`
    // names the value in the outcome handler's calls. Any thread.
    virtual void enqueue(const QString &text, qint64 id = 0);
    // The typing loop: takes values from the queue and types them until the
    // calling thread is interrupted (omvara::util::Interruption).
    virtual void run();
    // Types the characters of `text` (no start or terminator key). False
    // when abort(), a focus move or the loss of the backend cut it off.
    virtual bool typeString(const QString &text);
    void typeStart();
    void typeEnd();

    // Starts the keyboard thread (once).
    void start();
    // Drops the values still queued and reports how many there were; the
    // value being typed is finished, then the keyboard thread ends. Returns
    // at once. Idempotent.
    void stop();
    // stop(), and the value being typed is cut off after its current
    // character (reported). Returns at once. Idempotent.
    void abort();
    // Types the values still waiting, then ends the keyboard thread; later
    // values are dropped and reported. Returns at once. Nothing after stop().
    void finish();
    // Waits for the keyboard thread to end (after stop() or finish(); at once
    // when it never started).
    void join() { m_thread.join(); }
    // Values waiting to be typed.
    std::size_t waiting() const { return std::size_t(m_waiting.load()); }

    // Set before start().
    void setControlTyping(ControlTyping typing) { m_controls = std::move(typing); }
    // Several keyboard outputs on one backend (one per connection) take
    // turns: a value is typed when its turn comes (KeyboardTurns), and one
    // waiting for it at stop() is dropped. Set before the first enqueue().
    void setTurns(std::shared_ptr<KeyboardTurns> turns) { m_turns = std::move(turns); }

    // Called once, on the keyboard thread, when the keystroke backend is lost
    // for good, with the reason. Set before start().
    void setLostHandler(std::function<void(const QString &reason)> handler) { m_onLost = std::move(handler); }
    // Called on the keyboard thread when it ends. Set before start().
    void setEndHandler(std::function<void()> handler) { m_onEnd = std::move(handler); }
    // Called once for every value enqueue() took: `typed` when it was typed
    // whole, every character of it, with its terminator key; false when it
    // was dropped (Stop, the backend lost), cut off, or a character was left
    // out. On the keyboard thread, or on the thread of the stop() or
    // enqueue() that dropped it. Set before the first enqueue().
    void setOutcomeHandler(std::function<void(qint64 id, const Outcome &outcome)> handler)
    {
        m_onOutcome = std::move(handler);
    }
    // Asked on the keyboard thread right before a value is typed, with the
    // value's id: the stamps beside it. Set before start(); none: no stamps.
    void setStamper(std::function<Stamps(qint64 id)> stamper) { m_stamper = std::move(stamper); }
    // True while one of the program's own windows has the keyboard focus;
    // asked on the keyboard thread before every key press. Set before start().
    void setOwnWindowFocused(std::function<bool()> focused) { m_ownWindowFocused = std::move(focused); }
    // After a cut: typing goes on with the next value taken. Any thread.
    void resume() { m_holding = false; }
    // Typing holds after a cut (until resume()).
    bool holding() const { return m_holding; }

    // The Caps Lock state as the keystroke backend sees it.
    bool capsLockOn() const { return m_injector->capsLockOn(); }
    QString backendName() const { return m_injector->name(); }
    // How the backend was chosen, and what the user must know about it
    // (keys::KeyInjector::choice, warning).
    QString backendChoice() const { return m_injector->choice(); }
    QString backendWarning() const { return m_injector->warning(); }
    // The desktop layout the backend types for (keys::KeyInjector::layoutName).
    QString layoutName() const { return m_injector->layoutName(); }
    const KeyboardType::KeyMap &keyMap() const { return m_keyMap; }
    // The key map stamps are typed with.
    const KeyboardType::KeyMap &stampKeyMap() const { return m_stampKeyMap; }

    // The keys of "omvara.worker.WorkerBundle" keyboard output reads.
    static QStringList textKeys();

private:
    void tapKey(int keyCode);
    // Sends the press of `keyCode`; false when the backend is lost or the
    // focus moved (m_focusMoved).
    bool press(int keyCode);
    void release(int keyCode);
    bool canType(char32_t character);
    bool canTypeCharacter(char32_t character);
    // The keys that type `character` through `keyMap`; false when it cannot
    // be typed (`everyCharacter`: one the map lacks is typed as itself, as
    // with the key map for every printable character).
    bool keysFor(
        char32_t character, const KeyboardType::KeyMap &keyMap, bool everyCharacter, QList<qint32> *codes);
    // Presses `codes` in order and releases them in reverse, with the
    // pauses. False when a press was refused or stopped short.
    bool typeKeys(const QList<qint32> &codes);
    // GS, RS or EOT as m_controls says; false when typing stopped short.
    bool typeControl(char32_t character);
    // Reports a character that is left out as not typeable.
    void notTypeable(char32_t character);
    void report(const QString &message);
    // Reports values that are not typed, and tells the outcome handler.
    void dropped(const QList<qint64> &ids, bool holding = false);
    // Types one value with its stamps and tells what became of it.
    Outcome typeValue(const QString &text, qint64 id);
    // Types `text` through `keyMap` (`everyCharacter` as keysFor()); `value`:
    // the characters belong to the value (typedPart). False as typeString().
    bool typeText(const QString &text, const KeyboardType::KeyMap &keyMap, bool everyCharacter, bool value);
    // Takes every waiting value out of the queue (m_closing held, or the
    // keyboard thread); their turns are done.
    QList<qint64> takeWaiting(bool *endMark);
    void backendLost(const keys::KeyboardLostError &error);

    reception::WeightWorkerView *m_view;
    KeyboardType::KeyMap m_keyMap;
    KeyboardType::KeyMap m_stampKeyMap;
    bool m_everyCharacter = false; // characters beyond m_keyMap are typed as themselves
    ControlTyping m_controls;
    int m_keyDelay;
    int m_terminatorKey;
    int m_startKey;
    QString m_keyboardTypeName;
    std::shared_ptr<keys::KeyInjector> m_injector;
    std::shared_ptr<KeyboardTurns> m_turns;
    std::function<void(const QString &)> m_onLost;
    std::function<void()> m_onEnd;
    std::function<void(qint64, const Outcome &)> m_onOutcome;
    std::function<bool()> m_ownWindowFocused;
    std::function<Stamps(qint64)> m_stamper;
    struct Waiting
    {
        QString text; // empty: the end mark of stop() or finish(), never a value
        qint64 id = 0;
        quint64 ticket = 0; // its turn (m_turns); 0: none
    };
    util::BlockingQueue<Waiting> m_queue;
    util::InterruptibleThread m_thread;
    // stop() or finish(): no value is taken in any more. Closing and taking a
    // value in exclude each other, so no value slips in behind the end mark.
    std::mutex m_closing;
    bool m_closed = false;
    std::atomic<int> m_waiting = 0; // values in m_queue
    int m_skipped = 0; // characters of the current value the key map cannot type (keyboard thread)
    // The current value (keyboard thread): keys that went out, its characters
    // that went out, and why typing it stopped short, if it did.
    int m_keysOut = 0;
    QString m_typedPart;
    QString m_typed; // stamps included
    std::optional<keys::FocusMovedError> m_focusMoved;
    bool m_interrupted = false;
    std::atomic<bool> m_holding = false; // a value was cut; nothing is typed until resume()
    std::atomic<bool> m_stopped = false;
    std::atomic<bool> m_lost = false; // the backend is gone (keyboard thread only writes it)
};

} // namespace omvara::outputs
