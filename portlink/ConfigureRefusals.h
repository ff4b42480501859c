// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace portlink {

class SerialConfig;

// The results of configuring a port that say which line setting its driver
// refused (it kept another value), and the plain advice that goes with each.
// Every native side may answer them; SerialPortLocal appends the advice to
// "Configure failed: " and the code.
namespace configure_refusal {

constexpr int BitRate = 1020;
constexpr int DataBits = 1021;
constexpr int Parity = 1022;
constexpr int StopBits = 1023;
constexpr int Handshake = 1024;

// Advice for the result `rc` of configuring the port of `config`; empty for
// a result that is not a refusal.
QString hint(int rc, const SerialConfig &config);

} // namespace configure_refusal

} // namespace portlink
