// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <chrono>
#include <functional>

namespace omvara::outputs::keys {

// A keystroke backend that must ask the desktop's permission (the portal's
// dialog) waits for the user's answer as long as the user takes, or as long
// as the caller allows; the caller hears that it waits, and ends the wait by
// interrupting the thread (omvara::util::Interruption). The caller installs
// its handling for the thread that opens the backend; without one a backend
// waits without telling anyone, as long as it takes.
class PermissionWait
{
public:
    struct Handling
    {
        // Called on the opening thread when the wait for the answer begins,
        // with what the desktop asks.
        std::function<void(const QString &question)> waiting;
        // The longest wait; zero or less: as long as the user takes.
        std::chrono::milliseconds limit { 0 };
    };

    // Installs `handling` for the calling thread for the lifetime of the scope.
    class Scope
    {
    public:
        explicit Scope(Handling handling);
        ~Scope();
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        Handling m_handling;
        const Handling *m_previous;
    };

    // For the backend: tells the caller that the wait begins.
    static void waiting(const QString &question);
    static std::chrono::milliseconds limit();
};

} // namespace omvara::outputs::keys
