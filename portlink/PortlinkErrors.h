// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "portlink/OpenResult.h"

#include <QString>

#include <stdexcept>

namespace portlink {

// Every error of the serial layer carries one fixed English text that callers
// show or log unchanged; message() gives it back as a QString.

// A port operation failed ("sigCTS: Port not open", "rxFlush failed", ...).
class IoError : public std::runtime_error
{
public:
    // `code`: the native side's result when a port could not be opened
    // (OpenResult), else 0.
    explicit IoError(const QString &message, int code = 0);
    QString message() const { return QString::fromUtf8(what()); }
    int code() const { return m_code; }

    // What an open failure's code says, for a message in plain words.
    using OpenFailure = portlink::OpenFailure;
    OpenFailure openFailure() const { return openFailureKind(m_code); }

private:
    int m_code = 0;
};

// A configuration value was refused ("Invalid Serial Port Bit Rate", ...).
class InvalidArgumentError : public std::invalid_argument
{
public:
    explicit InvalidArgumentError(const QString &message);
    QString message() const { return QString::fromUtf8(what()); }
};

// The native side of the serial layer is not available: no native library is
// known for this system, or loading it failed. Every native call then raises
// this error (except getByte(), which keeps its -1 contract). Programs treat it
// as fatal at start-up; it is deliberately not an IoError.
class NativeLibraryError : public std::runtime_error
{
public:
    explicit NativeLibraryError(const QString &message);
    QString message() const { return QString::fromUtf8(what()); }
};

} // namespace portlink
