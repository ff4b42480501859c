// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/ProgramExit.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace omvara {

namespace {
ProgramExit::Handler &handler()
{
    static ProgramExit::Handler h;
    return h;
}
} // namespace

void ProgramExit::exitProgram(int status)
{
    if (handler()) {
        handler()(status);
        return;
    }
    // Leaving through the event loop would run the window's close handling
    // (which saves); end here instead. Preferences are written when they are
    // saved, so nothing is pending.
    std::fflush(nullptr);
    std::_Exit(status);
}

ProgramExit::Handler ProgramExit::setHandler(Handler h)
{
    return std::exchange(handler(), std::move(h));
}

} // namespace omvara
