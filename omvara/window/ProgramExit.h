// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

namespace omvara {

// Ends the program with an exit status, at once and without the save that
// closing the main window performs. Tests install a handler that records the
// status instead. Event thread only.
class ProgramExit
{
public:
    using Handler = std::function<void(int status)>;

    static void exitProgram(int status);
    // Returns the previous handler; an empty function restores the real exit.
    static Handler setHandler(Handler handler);
};

} // namespace omvara
