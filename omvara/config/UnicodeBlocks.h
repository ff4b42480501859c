// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringView>

namespace omvara::config {

// A named range of code points, as value patterns name them in \p{InBasicLatin}.
struct UnicodeBlock
{
    char32_t first;
    char32_t last;
    const char *name;

    // The block of that name (compared without case, blanks, hyphens and
    // underscores), or nullptr.
    static const UnicodeBlock *find(QStringView name);
};

} // namespace omvara::config
