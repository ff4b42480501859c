// SPDX-License-Identifier: GPL-3.0-or-later
// The start-up steps every mode of the program takes before its work begins.
#pragma once

namespace omvara::util {

// Sets every text, number and date to English, whatever the machine's locale,
// and the process properties the program and the serial layer read (VERSION,
// PLK_OSNAME, PLK_OSARCH). The window and the headless runner call it first.
void prepareProcess();

} // namespace omvara::util
