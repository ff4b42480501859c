// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/config/PatternSets.h"

#include <QStringView>

#include <optional>

// Internal to the pattern rewrite (LinePattern): the named classes of value
// patterns (\p{...}) as sets the engine matches.
namespace omvara::config::rewrite {

// A named class of stored patterns, as the engine matches it: a property of
// its own (`property`, with `negated` for \P), or explicit code points.
struct Named
{
    CharSet positive;
    CharSet negative;
    bool caseSensitiveOnly = false; // the engine would not fold it like stored patterns do
};

// The set a \p{...} of a stored pattern names, or nothing when the name is
// the engine's own (kept as written). `written` is the whole construct, for
// messages.
std::optional<Named> namedClass(QStringView name, QStringView written);

} // namespace omvara::config::rewrite
