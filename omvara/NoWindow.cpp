// SPDX-License-Identifier: GPL-3.0-or-later
// Entry of a build without the window (OMVARA_BUILD_GUI=OFF): every mode that
// needs no window works; asking for the window says how to run instead.
#include "omvara/window/RadezoZiDad.h"

#include <QTextStream>

namespace omvara {

int RadezoZiDad::main(int &, char **, const QStringList &)
{
    QTextStream(stderr) << "omvara: this build has no window; run it with --headless "
                           "(see --help)\n";
    return 1;
}

} // namespace omvara
