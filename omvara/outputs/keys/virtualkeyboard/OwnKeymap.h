// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <map>

namespace omvara::outputs::keys {

// The key map a virtual keyboard brings along: only the keys it is asked
// for, each symbol on a key of its own, so that what arrives never depends
// on the desktop's layout. A letter carries both cases, the capital with
// Shift, as on a real keyboard; every other symbol sits alone on its key.
// Shift, Control and Alt have keys of their own, at the places a PC keyboard
// has them, and so do the keys named by what they do (Enter, Tab, the cursor
// keys, ...). Key codes are XKB key codes (a Linux input event code + 8), all
// below 256 so that X11 programs on the desktop can use them too.
class OwnKeymap
{
public:
    static constexpr int shiftKey = 50;
    static constexpr int controlKey = 37;
    static constexpr int altKey = 64;

    OwnKeymap();

    // The key that carries `keysym`, a key being added for it when there is
    // none: a letter with its other case (the capital with Shift), or with
    // `alone` on a key of its own that types it without any modifier. When
    // every key code is taken, the key used longest ago that `inUse` does not
    // claim is given to `keysym`. Returns 0 when no key could be freed, or for
    // a modifier symbol (those keys are fixed).
    int add(std::uint32_t keysym, const std::function<bool(int)> &inUse = {}, bool alone = false);
    bool contains(std::uint32_t keysym) const;
    // Marks `key` as just used (for choosing the key to give away).
    void used(int key);

    // The key map in the XKB text format.
    QByteArray text() const;

private:
    struct Key
    {
        std::uint32_t base = 0;
        std::uint32_t shifted = 0; // 0: one level
        std::uint64_t lastUse = 0;
    };
    int freeKey(std::uint32_t keysym, const std::function<bool(int)> &inUse);

    std::map<int, Key> m_keys;
    std::uint64_t m_clock = 0;
};

} // namespace omvara::outputs::keys
