// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "portlink/NativeSerial.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>
#include <optional>

namespace portlink::testing {

// For the lifetime of the object, SerialPortLocal uses the given native side
// and sees the given system: the process properties "PLK_OSNAME" and
// "PLK_OSARCH" are set (by default to "Windows"/"x86", as the program sets
// them) and the class-wide state is initialised afresh. The destructor
// restores the properties and the native side in force before and forgets the
// class-wide state again (port lists included). Scopes nest.
//
// Port objects must not outlive the scope that opened them.
class ScopedNativeSide
{
public:
    explicit ScopedNativeSide(std::shared_ptr<NativeSerial> native,
        const QString &osName = QStringLiteral("Windows"), const QString &osArch = QStringLiteral("x86"));
    // Loading the native side fails with `loadError` for every name.
    static std::unique_ptr<ScopedNativeSide> failingLoad(const QString &loadError,
        const QString &osName = QStringLiteral("Windows"), const QString &osArch = QStringLiteral("x86"));
    ~ScopedNativeSide();

    ScopedNativeSide(const ScopedNativeSide &) = delete;
    ScopedNativeSide &operator=(const ScopedNativeSide &) = delete;

private:
    ScopedNativeSide(NativeLoader loader, const QString &osName, const QString &osArch);

    std::optional<QString> m_oldOsName;
    std::optional<QString> m_oldOsArch;
    NativeLoader m_oldLoader;
};

// Collects the serial layer's console lines for the lifetime of the object
// (they are not printed meanwhile).
class ScopedConsoleCapture
{
public:
    ScopedConsoleCapture();
    ~ScopedConsoleCapture();
    QStringList lines() const;
    void clear();

private:
    struct Shared
    {
        std::mutex mutex;
        QStringList lines;
    };
    std::shared_ptr<Shared> m_shared;
};

} // namespace portlink::testing
