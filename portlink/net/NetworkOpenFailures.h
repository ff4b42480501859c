// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace portlink {

class SerialConfig;

// The results of opening a network port that both network sides give, and
// the plain advice that goes with each.
namespace network_open {

constexpr int NotValid = 1003;
constexpr int Refused = 1010;
constexpr int NoAnswer = 1011;
constexpr int Unreachable = 1012;
constexpr int UnknownHost = 1013;
constexpr int Stopped = 1014;

// Advice for the result `rc` of opening the port of `config` (an attempt
// bounded to `connectTimeoutMs`); empty when there is none.
QString hint(int rc, const SerialConfig &config, int connectTimeoutMs);

} // namespace network_open

} // namespace portlink
