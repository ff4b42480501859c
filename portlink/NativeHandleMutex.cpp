// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/NativeHandleMutex.h"

namespace portlink {

NativeHandleMutex &NativeHandleMutex::getInstance()
{
    // Function-local static: initialised once, thread-safe.
    static NativeHandleMutex instance;
    return instance;
}

} // namespace portlink
