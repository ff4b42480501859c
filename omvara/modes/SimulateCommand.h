// SPDX-License-Identifier: GPL-3.0-or-later
// The simulate mode: one simulated instrument on a new pseudo-terminal.
#pragma once

#include <QStringList>

#include <cstdio>

namespace omvara::modes {

// `omvara --simulate INSTRUMENT [--interval MS] [--count N] [--sequence]
// [--on-request [--request-command TEXT]]`: creates a pseudo-terminal, prints
// its path as the first line of `out`, waits until a program opens it and
// sends the instrument's records every MS milliseconds (default 1000; 0: as
// fast as the program reads), N of them (default: until interrupted); with
// --sequence the records count 1, 2, 3, ... With --on-request a record goes
// out only in answer to the instrument's request command (or TEXT, with the
// escapes of the requestCommand setting), one per request.
// Messages go to `err`. Returns the process exit status (2 for a bad command line).
int runSimulator(const QStringList &args, std::FILE *out = stdout, std::FILE *err = stderr);

} // namespace omvara::modes
