// SPDX-License-Identifier: GPL-3.0-or-later
// Where a port sends its error codes instead of raising errors.
#pragma once

namespace portlink {

// Receives error codes from a port instead of errors being raised. The only
// code a port sends is 10: the count of waiting received bytes could not be
// read (SerialPortLocal::rxReadyCount). Called on the thread that asked.
class ErrorStatusHandler
{
public:
    virtual ~ErrorStatusHandler() = default;
    virtual void sioErrorEvent(int code) = 0;
};

} // namespace portlink
