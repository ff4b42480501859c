// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace portlink {

class SerialConfig;

// The advice that goes with the results of opening a network port that
// both network sides give (OpenResult 1003 and 1010-1017).
namespace network_open {

// Advice for the result `rc` of opening the port of `config` (an attempt
// bounded to `connectTimeoutMs`); empty when there is none.
QString hint(int rc, const SerialConfig &config, int connectTimeoutMs);

// The open result for a name that parse() did not find valid.
int forInvalidName(const QString &portName);

} // namespace network_open

} // namespace portlink
